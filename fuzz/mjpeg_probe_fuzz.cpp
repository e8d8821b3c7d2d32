// What the camera reads from untrusted sources without a decoder: the first
// frame of a Motion-JPEG file, and whether a reply looks like Motion-JPEG.
// A frame found lies inside the data between a start and an end marker, and
// the stream is left at its start (or where it was when none is found).
#include <cstdint>
#include <cstdlib>

#include "camera/fmxMKzCamThreads.h"
#include "camera/fmxMKzCamera.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kz::TMemoryStream stream;
  stream.Write(Data, static_cast<int64_t>(Size));
  const int64_t start = Size > 0 ? Data[0] % static_cast<int64_t>(Size + 1) : 0;
  stream.SetPosition(start);
  int64_t frame = 0;
  // A small scan limit reaches the block-boundary and limit paths with small inputs.
  const int64_t limit = Size > 1 ? 1 + Data[1] % 4096 : 64;
  if (kz::KzMJPEGFirstFrameSize(stream, frame, limit)) {
    const int64_t begin = stream.Position();
    if (begin < start || frame < 4 || begin + frame > static_cast<int64_t>(Size)) abort();
    if (Data[begin] != 0xFF || Data[begin + 1] != 0xD8 || Data[begin + frame - 2] != 0xFF ||
        Data[begin + frame - 1] != 0xD9)
      abort();
  } else if (stream.Position() != start) {
    abort();
  }
  kz::KzIsMJPEGReply(Data, Size);
  return 0;
}
