// WS-Discovery ProbeMatches on any datagram.
#include <cstdint>
#include <string>
#include <vector>

#include "camera/fmxMKzOnvifReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  std::vector<kz::TKzOnvifProbeMatch> matches;
  std::string relates;
  kz::TKzOnvifError error;
  const bool ok = kz::KzOnvifParseProbeMatches(text, matches, relates, error);
  if (!ok && error.Text.empty()) __builtin_trap();  // every refusal says why
  if (matches.size() > 64) __builtin_trap();
  for (const auto& m : matches)
    if (m.Endpoint.empty() || m.XAddrs.size() > 64 || m.Scopes.size() > 64) __builtin_trap();
  return 0;
}
