// The capture frame converter over arbitrary frames: the first 8 bytes pick
// the pixel format, width, height, row length and mirroring; the rest is
// the frame, held in a buffer of exactly its size so that any read past
// bytesused is caught. A frame that converts has the size it claimed
// (Motion-JPEG: the picture's own size, never empty).
#include <cstdint>
#include <vector>

#include "capture/fmxMKzCaptureFrame.h"

namespace {
const uint32_t kFourccs[] = {
    0x56595559 /* YUYV */, 0x59565955 /* UYVY */, 0x55595659 /* YVYU */, 0x59555956 /* VYUY */,
    0x3231564E /* NV12 */, 0x3132564E /* NV21 */, 0x3631564E /* NV16 */, 0x3136564E /* NV61 */,
    0x32315559 /* YU12 */, 0x32315659 /* YV12 */, 0x33424752 /* RGB3 */, 0x33524742 /* BGR3 */,
    0x34325842 /* BX24 */, 0x34325258 /* XR24 */, 0x47504A4D /* MJPG */, 0x34363248 /* H264 */,
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 8) return 0;
  kz::TKzCaptureFrame f;
  f.PixelFormat = kFourccs[Data[0] % (sizeof kFourccs / sizeof kFourccs[0])];
  f.Width = (Data[1] | (Data[2] & 0x03) << 8);  // 0..1023
  f.Height = (Data[3] | (Data[4] & 0x03) << 8);
  f.BytesPerLine = Data[5] | (Data[6] & 0x0F) << 8;
  const std::vector<uint8_t> frame(Data + 8, Data + Size);
  f.Data = frame.empty() ? nullptr : frame.data();
  f.BytesUsed = frame.size();
  kz::TKzMBitmap b;
  kz::TKzCaptureScratch scratch;
  std::string error;
  if (kz::KzConvertCaptureFrame(f, Data[7] & 1, Data[7] & 2, b, scratch, error)) {
    if (b.IsEmpty()) __builtin_trap();
    if (f.PixelFormat != 0x47504A4D && (b.Width() != f.Width || b.Height() != f.Height)) __builtin_trap();
  } else if (error.empty()) {
    __builtin_trap();
  }
  return 0;
}
