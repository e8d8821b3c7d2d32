// Axis parameter lists and "pwdgrp" user groups on any text.
#include <cstdint>
#include <set>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  kz::KzAxisParamsValid(text);
  std::set<std::string> names;
  for (const auto& [name, access] : kz::KzAxisUsers(text))
    if (name.empty() || !names.insert(name).second) __builtin_trap();  // each user once
  for (const char* key : {"Brand.ProdFullName", "Network.IPAddress", "brightness"})
    kz::KzReplyGet(kz::TKzReplyForm::kzrfLines, text, key);
  return 0;
}
