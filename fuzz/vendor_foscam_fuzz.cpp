// Foscam replies of the older CGI set ("var name=value;" lines): the
// verdict, the user slots and key lookups on any text.
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  kz::KzFoscamReplyValid(text);
  if (kz::KzFoscamUsers(text).size() > 64) __builtin_trap();
  for (const char* key : {"id", "alias", "resolution", "user1_name", "ap_ssid[0]"})
    kz::KzReplyGet(kz::TKzReplyForm::kzrfVars, text, key);
  return 0;
}
