// SDP scan: bounded number of channels, every channel named from its line.
#include <cstdint>
#include <string>

#include "inet/fmxMKzInetReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string sdp(reinterpret_cast<const char*>(Data), Size);
  const auto media = kz::KzScanSdp(sdp, 16);
  if (media.size() > 16) __builtin_trap();
  for (const auto& m : media)
    if (m.TypeMedia.find('\n') != std::string::npos || m.Control.find('\n') != std::string::npos) __builtin_trap();
  return 0;
}
