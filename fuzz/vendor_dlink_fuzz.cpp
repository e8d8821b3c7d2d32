// D-Link device descriptions and name=value lines: the model, its list and
// key lookups on any text.
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"
#include "camera/fmxMKzCamVendors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const int32_t index = kz::KzDLinkModelIndex(kz::KzDLinkProduct(text));
  if (index < 0 || index > 6 || kz::TKzDLinkAPI::StreamPath(index).empty() != (index == 0)) __builtin_trap();
  const std::string v = kz::KzReplyGet(kz::TKzReplyForm::kzrfLines, text, "CameraName");
  if (v.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  return 0;
}
