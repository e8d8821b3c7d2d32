// JPEG frames as a camera might send them: both decoders (libjpeg bound at
// run time, full size, scaled for a small view and its luminance alone for
// motion watching, and TurboJPEG) must fail
// cleanly or produce a picture of the size the header announced, never
// crash, hang or run away with memory.
#include <cstdint>

#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzLibJpeg.h"
#include "kzfuzz.h"

namespace {

// Keeps each run fast: pictures above this many pixels are skipped (their
// refusal above the library's own limit is checked separately).
constexpr int64_t MaxFuzzPixels = 1 << 21;

int64_t AnnouncedPixels(const uint8_t* d, size_t n) {
  for (size_t i = 0; i + 8 < n; ++i)
    if (d[i] == 0xFF && d[i + 1] >= 0xC0 && d[i + 1] <= 0xCF && d[i + 1] != 0xC4 && d[i + 1] != 0xC8 &&
        d[i + 1] != 0xCC)
      return int64_t((d[i + 5] << 8) | d[i + 6]) * ((d[i + 7] << 8) | d[i + 8]);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (AnnouncedPixels(Data, Size) > MaxFuzzPixels) return 0;
  kz::TMemoryStream s;
  kzfuzz::Load(s, Data, Size);
  kz::TKzMBitmap a, b;
  const bool okA = kz::ReadJpegStream(s, a);
  if (okA && (a.IsEmpty() || s.Position() > static_cast<int64_t>(Size))) __builtin_trap();
  const bool okB = kz::KzCodecDecodeJPEG(Data, Size, b);
  if (okB && b.IsEmpty()) __builtin_trap();
  // Scaled for a small view: an eighth of the announced size, rounded up.
  s.SetPosition(0);
  kz::TKzMBitmap c;
  int32_t denom = 0;
  if (kz::ReadJpegStreamScaled(s, c, 0, {1, 1}, &denom) &&
      (c.IsEmpty() || c.Width() != kz::KzScaledExtent(c.SourceWidth(), denom)))
    __builtin_trap();
  kz::TKzMBitmap l;
  if (kz::ReadJpegLuma(Data, Size, l, {160, 120}, &denom) &&
      (l.IsEmpty() || l.Width() != kz::KzScaledExtent(l.SourceWidth(), denom)))
    __builtin_trap();
  return 0;
}
