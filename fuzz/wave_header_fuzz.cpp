// WAV headers: the reader accepts or refuses without crashing; what it
// accepts lies within the file, and its samples convert without reading
// past the data.
#include <cstdint>
#include <vector>

#include "audio/Fmxmkzwavefuncs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kz::TMemoryStream s;
  s.Write(Data, static_cast<int64_t>(Size));
  kz::TKzWaveHeader h;
  std::string error;
  if (!kz::ReadWaveHeader(s, h, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (h.DataOffset < 0 || h.DataOffset + h.DataSize > static_cast<int64_t>(Size) || h.Channels < 1 ||
      h.Channels > kz::KZ_WAVE_MAX_CHANNELS || h.Frames * h.FileBlockAlign != h.DataSize)
    __builtin_trap();
  std::vector<uint8_t> out(static_cast<size_t>(h.Frames * h.FrameBytes()) + 1);
  kz::ConvertWaveFrames(Data + h.DataOffset, h.Frames, h, out.data());
  return 0;
}
