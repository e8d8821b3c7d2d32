// The JPEG structure check and the frame counter over arbitrary bytes: a
// valid answer always ends on an end-of-image marker inside the data, and
// the counter's result does not depend on how the bytes are split.
#include <cstdint>

#include "video/Fmxmkzgraphicfuncs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (kz::TKzJpegIntegrity mode : {kz::TKzJpegIntegrity::kzjiFast, kz::TKzJpegIntegrity::kzjiFull}) {
    size_t len = 0;
    if (kz::KzCheckJpegIntegrity(Data, Size, len, mode)) {
      if (len < 2 || len > Size || Data[len - 2] != 0xFF || Data[len - 1] != 0xD9) __builtin_trap();
    }
  }
  kz::TKzJpegScanState whole, split;
  const int32_t n = kz::CheckJPEG(Data, Size, whole);
  const size_t half = Size / 2;
  const int32_t m = kz::CheckJPEG(Data, half, split) + kz::CheckJPEG(Data + half, Size - half, split);
  if (n != m || whole.InImage != split.InImage) __builtin_trap();
  return 0;
}
