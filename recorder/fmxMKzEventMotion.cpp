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
  const bool due = !FChecked || Frame.Dts - FLastCheckMs >= CheckEveryMs || Frame.Dts < FLastCheckMs;
  if (!due) {
    FPending.push_back({Frame, false, {}});
    return;
  }
  TKzEventRect bounds;
  if (!Decode(Frame)) {
    Flush(Verdict);
    Verdict(Frame, false, bounds);
    return;
  }
  const bool moved = FWatcher.Check(FDecoder->GetBitmap(), MinRegionArea, bounds);
  FChecked = true;
  FLastCheckMs = Frame.Dts;
  if (!FMoving) {
    if (moved) CheckEach(MinRegionArea, Verdict);
    Release(FPending.size(), false, Verdict);
    Verdict(Frame, moved, bounds);
    FAnchor = Frame;
    FMoving = moved;
    return;
  }
  FPending.push_back({Frame, true, bounds});
  if (!moved) {
    CheckEach(MinRegionArea, Verdict);
    FAnchor = Frame;
    FMoving = false;
    return;
  }
  // Still moving: what lies up to the second check back moved.
  for (;;) {
    size_t checks = 0, first = 0;
    for (size_t i = 0; i < FPending.size(); ++i)
      if (FPending[i].Checked && checks++ == 0) first = i;
    if (checks <= 2) break;
    FAnchor = FPending[first].Frame;
    Release(first + 1, true, Verdict);
  }
}

void TKzJpegMotionWatcher::CheckEach(int64_t MinRegionArea, const TVerdict& Verdict) {
  if (FPending.empty()) return;
  TKzEventMotionWatcher back;
  TKzEventRect bounds;
  if (Decode(FAnchor)) back.Check(FDecoder->GetBitmap(), MinRegionArea, bounds);
  for (const TPending& p : FPending) {
    const bool moved = Decode(p.Frame) && back.Check(FDecoder->GetBitmap(), MinRegionArea, bounds);
    Verdict(p.Frame, moved, moved ? bounds : TKzEventRect{});
  }
  FPending.clear();
}

void TKzJpegMotionWatcher::Release(size_t Count, bool Moved, const TVerdict& Verdict) {
  TKzEventRect bounds;
  bool next = true;  // the region of the next check is wanted
  for (size_t i = 0; i < Count && !FPending.empty(); ++i) {
    if (Moved && next)
      for (const TPending& p : FPending)
        if (p.Checked) {
          bounds = p.Bounds;
          break;
        }
    next = FPending.front().Checked;
    Verdict(FPending.front().Frame, Moved, Moved ? bounds : TKzEventRect{});
    FPending.pop_front();
  }
}

void TKzJpegMotionWatcher::Flush(const TVerdict& Verdict) { Release(FPending.size(), FMoving, Verdict); }

}  // namespace kz
