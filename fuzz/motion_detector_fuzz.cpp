// Motion detector on arbitrary frame sizes, settings and pixels: never
// crashes, and every valid region lies inside its frame.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzMotionDetector.h"
#include "kzfuzz.h"

namespace {

using kzfuzz::TReader;

void FillFrame(kz::TKzMBitmap& B, TReader& R) {
  // Pixel bytes from the input, repeated; a solid colour when it runs out.
  const uint8_t seed = R.Byte();
  uint8_t* p = reinterpret_cast<uint8_t*>(B.Data());
  const size_t take = std::min<size_t>(R.Left, static_cast<size_t>(B.GetSize()));
  for (int64_t i = 0; i < B.GetSize(); ++i) p[i] = take ? R.P[i % take] : seed;
  R.P += take / 2;
  R.Left -= take / 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TReader r{Data, Size};
  kz::TKzMotionDetector d;
  kz::TKzMBitmap reference;
  const int frames = 1 + r.Byte() % 4;
  for (int f = 0; f < frames; ++f) {
    d.SetPixelColorThreshold(r.Int(-3, 300));
    d.SetPixelColorThresholdR(r.Int(-3, 300));
    d.SetPixelColorThresholdG(r.Int(-3, 300));
    d.SetPixelColorThresholdB(r.Int(-3, 300));
    d.SetMinChangeAreaSize(r.Int(-5, 2000));
    d.SetMaxChangeAreaCount(r.Int(-1, 200));
    const uint8_t modes = r.Byte();
    d.SetChangedAreaProcessingMode(static_cast<kz::TKzChangedAreaProcessingMode>(modes & 1));
    if (modes & 2) d.SetTestMode(static_cast<kz::TKzBoundsTestMode>((modes >> 2) % 3));
    kz::TKzMBitmap frame(r.Int(0, 700), r.Int(0, 500));
    FillFrame(frame, r);
    std::unique_ptr<kz::TKzMBitmap> test;
    const int32_t count = d.DetectChanges(frame, (modes & 32) ? frame : reference, &test);
    if (count < 0 || count != d.RectCount()) __builtin_trap();
    for (int32_t i = 0; i < count; ++i) {
      if (!d.IsRectValid(i)) continue;
      const kz::TKzRectF q = d.GetRect(i);
      if (q.Left < 0 || q.Top < 0 || q.Right > frame.Width() || q.Bottom > frame.Height()) __builtin_trap();
    }
    if (test && (test->Width() != frame.Width() || test->Height() != frame.Height())) __builtin_trap();
    d.UpdateReferenceImage(frame, reference);
  }
  return 0;
}
