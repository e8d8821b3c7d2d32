#include "recorder/fmxMKzEventMotion.h"

#include <cmath>

#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzLibJpeg.h"

namespace kz {

namespace {

// The union, in source pixels, of the regions of at least MinRegionArea
// the detector found in Frame (Count slots); true when there is one.
bool RegionsOf(const TKzMotionDetector& Detector, int32_t Count, const TKzMCustomBitmap& Frame,
               int64_t MinRegionArea, TKzEventRect& Bounds) {
  // Pictures decoded smaller than the source: boxes in source pixels.
  const double sx = double(Frame.SourceWidth()) / Frame.Width(), sy = double(Frame.SourceHeight()) / Frame.Height();
  bool moved = false;
  for (int32_t i = 0; i < Count; ++i) {
    if (!Detector.IsRectValid(i)) continue;
    const TKzRectF r = Detector.GetRect(i);
    const TKzEventRect box{int32_t(std::lround(r.Left * sx)), int32_t(std::lround(r.Top * sy)),
                           int32_t(std::lround(r.Right * sx)), int32_t(std::lround(r.Bottom * sy))};
    if (box.Area() < MinRegionArea) continue;
    Bounds.Unite(box);
    moved = true;
  }
  return moved;
}

}  // namespace

bool TKzEventMotionWatcher::Check(const TKzMCustomBitmap& Frame, int64_t MinRegionArea, TKzEventRect& Bounds) {
  Bounds = {};
  if (Frame.Width() <= 0 || Frame.Height() <= 0) return false;
  if (FReference.Width() != Frame.Width() || FReference.Height() != Frame.Height()) {
    // The first picture (or a new size) is only the reference.
    FReference.AssignKzMBitmap(Frame);
    FDetector.DetectChanges(Frame, FReference);
    return false;
  }
  const bool moved = RegionsOf(FDetector, FDetector.DetectChanges(Frame, FReference), Frame, MinRegionArea, Bounds);
  FDetector.UpdateReferenceImage(Frame, FReference);
  return moved;
}

bool TKzEventMotionWatcher::Between(const TKzMCustomBitmap& Frame, const TKzMCustomBitmap& Reference,
                                    int64_t MinRegionArea, TKzEventRect& Bounds) {
  Bounds = {};
  if (Frame.IsEmpty() || Frame.Width() != Reference.Width() || Frame.Height() != Reference.Height()) return false;
  TKzMotionDetector detector;
  return RegionsOf(detector, detector.DetectChanges(Frame, Reference), Frame, MinRegionArea, Bounds);
}

bool TKzJpegMotionWatcher::Decode(const TKzEventPacket& Frame, TKzMBitmap& Picture) {
  if (!Frame.Data || Frame.Data->empty()) return false;
  ++FDecoded;
  if (KzLibJpegAvailable())
    return ReadJpegLuma(Frame.Data->data(), Frame.Data->size(), Picture, TKzDecodeSize{WatchWidth, WatchHeight});
  // Without libjpeg: the platform's decoder, at full size and in colour.
  return KzCodecDecode(Frame.Data->data(), Frame.Data->size(), Picture) && !Picture.IsEmpty();
}

bool TKzJpegMotionWatcher::Differs(TPending& Frame, const TKzMCustomBitmap& Reference, int64_t MinRegionArea) {
  if (!Decode(Frame.Frame, FProbe)) return true;
  return TKzEventMotionWatcher::Between(FProbe, Reference, MinRegionArea, Frame.Bounds);
}

void TKzJpegMotionWatcher::Add(const TKzEventPacket& Frame, int64_t MinRegionArea, const TVerdict& Verdict) {
  const bool due = !FEverChecked || Frame.Dts - FLastCheckMs >= CheckEveryMs || Frame.Dts < FLastCheckMs;
  if (!due) {
    FPending.push_back({Frame, false, {}});
    return;
  }
  TKzEventRect bounds;
  if (!Decode(Frame, FPicture)) {
    Flush(Verdict);
    Verdict(Frame, false, bounds);
    return;
  }
  const bool moved = FWatcher.Check(FPicture, MinRegionArea, bounds);
  FEverChecked = true;
  FLastCheckMs = Frame.Dts;
  FPending.push_back({Frame, true, bounds});
  if (moved && !FMoving) {
    FindStart(MinRegionArea, Verdict);
  } else if (!moved && FMoving) {
    FindStop(MinRegionArea, Verdict);
  } else if (!moved) {
    Release(FPending.size(), false, Verdict);
  } else {
    // Still moving: what lies up to the second check back moved.
    for (;;) {
      size_t checks = 0, first = 0;
      for (size_t i = 0; i < FPending.size(); ++i)
        if (FPending[i].Checked && checks++ == 0) first = i;
      if (checks <= 2) break;
      Release(first + 1, true, Verdict);
    }
  }
  FMoving = moved;
  FChecked.SwapPixels(FPicture);
}

void TKzJpegMotionWatcher::FindStart(int64_t MinRegionArea, const TVerdict& Verdict) {
  size_t lo = 0, hi = FPending.size() - 1;  // the last, the check, moved
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (Differs(FPending[mid], FChecked, MinRegionArea))
      hi = mid;
    else
      lo = mid + 1;
  }
  Release(lo, false, Verdict);
  Release(FPending.size(), true, Verdict);
}

void TKzJpegMotionWatcher::FindStop(int64_t MinRegionArea, const TVerdict& Verdict) {
  size_t lo = 0, hi = FPending.size() - 1;  // the last, the check, looks like itself
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (Differs(FPending[mid], FPicture, MinRegionArea))
      lo = mid + 1;
    else
      hi = mid;
  }
  // Frame lo is the first of the still picture: the last one that changed.
  // The detector reports its region once more, on the frame after it.
  Release(lo + 2, true, Verdict);
  Release(FPending.size(), false, Verdict);
}

void TKzJpegMotionWatcher::Release(size_t Count, bool Moved, const TVerdict& Verdict) {
  TKzEventRect bounds;
  for (size_t i = 0; i < Count && !FPending.empty(); ++i) {
    if (Moved)
      for (const TPending& p : FPending)
        if (!p.Bounds.Empty()) {
          bounds = p.Bounds;
          break;
        }
    Verdict(FPending.front().Frame, Moved, Moved ? bounds : TKzEventRect{});
    FPending.pop_front();
  }
}

void TKzJpegMotionWatcher::Flush(const TVerdict& Verdict) { Release(FPending.size(), FMoving, Verdict); }

}  // namespace kz
