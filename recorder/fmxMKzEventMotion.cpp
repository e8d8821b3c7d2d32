#include "recorder/fmxMKzEventMotion.h"

#include <cmath>

#include "video/fmxMKzImageWrapper.h"

namespace kz {

bool TKzEventMotionWatcher::Check(const TKzMCustomBitmap& Frame, int64_t MinRegionArea, TKzEventRect& Bounds) {
  Bounds = {};
  if (Frame.Width() <= 0 || Frame.Height() <= 0) return false;
  if (FReference.Width() != Frame.Width() || FReference.Height() != Frame.Height()) {
    // The first picture (or a new size) is only the reference.
    FReference.AssignKzMBitmap(Frame);
    FDetector.DetectChanges(Frame, FReference);
    return false;
  }
  const int32_t count = FDetector.DetectChanges(Frame, FReference);
  // Pictures decoded smaller than the source: boxes in source pixels.
  const double sx = double(Frame.SourceWidth()) / Frame.Width(), sy = double(Frame.SourceHeight()) / Frame.Height();
  bool moved = false;
  for (int32_t i = 0; i < count; ++i) {
    if (!FDetector.IsRectValid(i)) continue;
    const TKzRectF r = FDetector.GetRect(i);
    const TKzEventRect box{int32_t(std::lround(r.Left * sx)), int32_t(std::lround(r.Top * sy)),
                           int32_t(std::lround(r.Right * sx)), int32_t(std::lround(r.Bottom * sy))};
    if (box.Area() < MinRegionArea) continue;
    Bounds.Unite(box);
    moved = true;
  }
  FDetector.UpdateReferenceImage(Frame, FReference);
  return moved;
}

TKzJpegMotionWatcher::TKzJpegMotionWatcher() : FDecoder(std::make_unique<TKzImageWrapper>()) {
  FDecoder->SetDecodeSize(TKzDecodeSize{WatchWidth, WatchHeight});
}

TKzJpegMotionWatcher::~TKzJpegMotionWatcher() = default;

bool TKzJpegMotionWatcher::Decode(const TKzEventPacket& Frame) {
  if (!Frame.Data || Frame.Data->empty()) return false;
  TMemoryStream s;
  s.Write(Frame.Data->data(), static_cast<int64_t>(Frame.Data->size()));
  s.Seek(0, TSeekOrigin::soBeginning);
  ++FDecoded;
  return FDecoder->LoadFromStream(s, 0, &FDecoder->GetBitmap());
}

void TKzJpegMotionWatcher::Add(const TKzEventPacket& Frame, int64_t MinRegionArea, const TVerdict& Verdict) {
  const bool due = FMoving || !FLastChecked.Data || Frame.Dts - FLastChecked.Dts >= StillCheckMs ||
                   Frame.Dts < FLastChecked.Dts;
  if (!due) {
    FSkipped.push_back(Frame);
    return;
  }
  TKzEventRect bounds;
  if (!Decode(Frame)) {
    Flush(Verdict);
    Verdict(Frame, false, bounds);
    return;
  }
  const bool moved = FWatcher.Check(FDecoder->GetBitmap(), MinRegionArea, bounds);
  if (moved && !FMoving)
    CheckSkipped(MinRegionArea, Verdict);
  else
    Flush(Verdict);
  Verdict(Frame, moved, bounds);
  FMoving = moved;
  FLastChecked = Frame;
}

void TKzJpegMotionWatcher::CheckSkipped(int64_t MinRegionArea, const TVerdict& Verdict) {
  if (FSkipped.empty()) return;
  // The skipped frames against the last still one, in order, on a detector
  // of their own (the stream's detector has moved on to the newest frame).
  TKzEventMotionWatcher back;
  TKzEventRect bounds;
  if (Decode(FLastChecked)) back.Check(FDecoder->GetBitmap(), MinRegionArea, bounds);
  for (const TKzEventPacket& f : FSkipped) {
    const bool moved = Decode(f) && back.Check(FDecoder->GetBitmap(), MinRegionArea, bounds);
    Verdict(f, moved, moved ? bounds : TKzEventRect{});
  }
  FSkipped.clear();
}

void TKzJpegMotionWatcher::Flush(const TVerdict& Verdict) {
  for (const TKzEventPacket& f : FSkipped) Verdict(f, false, TKzEventRect{});
  FSkipped.clear();
}

}  // namespace kz
