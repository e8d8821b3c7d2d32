// ONVIF SOAP replies on any text: every reader of the device, media and
// PTZ services, and Fault decoding.
#include <cstdint>
#include <string>
#include <vector>

#include "camera/fmxMKzOnvifReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  kz::TKzOnvifError e;
  auto check = [&](bool Ok) {
    if (!Ok && e.Text.empty()) __builtin_trap();  // every refusal says why
  };
  int64_t utc = 0;
  check(kz::KzOnvifParseSystemDateAndTime(text, utc, e));
  kz::TKzOnvifDeviceInfo info;
  check(kz::KzOnvifParseDeviceInformation(text, info, e));
  kz::TKzOnvifServices services;
  check(kz::KzOnvifParseCapabilities(text, services, e));
  std::vector<kz::TKzOnvifUser> users;
  check(kz::KzOnvifParseUsers(text, users, e));
  std::vector<kz::TKzOnvifProfile> profiles;
  check(kz::KzOnvifParseProfiles(text, profiles, e));
  if (profiles.size() > 64) __builtin_trap();
  for (const auto& p : profiles)
    if (p.Token.empty() || p.Width < 0 || p.Height < 0) __builtin_trap();
  std::string uri;
  check(kz::KzOnvifParseMediaUri(text, uri, e));
  kz::TKzOnvifPTZStatus status;
  check(kz::KzOnvifParsePTZStatus(text, status, e));
  kz::TKzOnvifFault fault;
  kz::KzOnvifParseFault(text, fault);
  return 0;
}
