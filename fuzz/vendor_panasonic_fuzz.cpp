// Panasonic name=value pair replies (split at "&", ",", CR and LF).
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  kz::KzPanasonicData(text, 0);
  const std::string v = kz::KzReplyGet(kz::TKzReplyForm::kzrfPairs, text, "Data");
  if (v.find_first_of("&,\r\n") != std::string::npos) __builtin_trap();
  return 0;
}
