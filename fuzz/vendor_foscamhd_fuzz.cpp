// Foscam "<CGI_Result>" documents: the result code, the user list and key
// lookups on any text.
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  if (kz::KzFoscamHDReplyValid(text) != (kz::KzFoscamHDResult(text) == 0)) __builtin_trap();
  if (kz::KzFoscamHDUsers(text).size() > 64) __builtin_trap();
  for (const char* key : {"ip", "reciever", "usr1", "streamType"}) kz::KzReplyGet(kz::TKzReplyForm::kzrfXML, text, key);
  return 0;
}
