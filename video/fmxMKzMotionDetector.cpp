#include "video/fmxMKzMotionDetector.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "video/fmxMKzMotionImage.h"

namespace kz {

namespace {

// ---- Box geometry shared by the working boxes and the frame rectangles.

template <class R>
bool IsLive(const R& A) {
  if constexpr (std::is_same_v<R, TKzRectF>)
    return !A.IsEmpty();
  else
    return A.Live();
}

template <class R>
void Unite(R& A, const R& B) {
  A.Left = std::min(A.Left, B.Left);
  A.Top = std::min(A.Top, B.Top);
  A.Right = std::max(A.Right, B.Right);
  A.Bottom = std::max(A.Bottom, B.Bottom);
}

// The boxes, each inflated by 1 on every side, overlap (share some area):
// a gap of one pixel joins two regions, a gap of two does not.
template <class R>
bool OverlapInflated(const R& A, const R& B) {
  return A.Left - 1 < B.Right + 1 && B.Left - 1 < A.Right + 1 && A.Top - 1 < B.Bottom + 1 &&
         B.Top - 1 < A.Bottom + 1;
}

bool Overlap(const TKzRectF& A, const TKzRectF& B) {
  return A.Left < B.Right && B.Left < A.Right && A.Top < B.Bottom && B.Top < A.Bottom;
}

const TKzRectF kEmptySlot{0, 0, -1, -1};

int32_t RoundEdge(float V) { return static_cast<int32_t>(std::lround(V)); }

// Repeatedly unites the later box of the first overlapping pair (in slot
// order) into the earlier one until no pair overlaps. Only pairs involving
// a box that just grew can start to overlap, so instead of rescanning from
// the start after every union this keeps the invariant "no pair (a, b) with
// a < i overlaps" and moves i back when the grown box reaches an earlier one.
template <class R>
void MergeBoxes(std::vector<R>& Boxes, const R& Dead) {
  const size_t n = Boxes.size();
  size_t i = 0;
  while (i < n) {
    if (!IsLive(Boxes[i])) {
      ++i;
      continue;
    }
    bool grew = false;
    for (size_t j = i + 1; j < n; ++j) {
      if (IsLive(Boxes[j]) && OverlapInflated(Boxes[i], Boxes[j])) {
        Unite(Boxes[i], Boxes[j]);
        Boxes[j] = Dead;
        grew = true;
        break;
      }
    }
    if (!grew) {
      ++i;
      continue;
    }
    // Box i grew: a pair (a, i) with a < i now comes first.
    for (bool moved = true; moved;) {
      moved = false;
      for (size_t a = 0; a < i; ++a) {
        if (IsLive(Boxes[a]) && OverlapInflated(Boxes[a], Boxes[i])) {
          Unite(Boxes[a], Boxes[i]);
          Boxes[i] = Dead;
          i = a;
          moved = true;
          break;
        }
      }
    }
  }
}

}  // namespace

TKzMotionDetector::TKzMotionDetector() = default;

// ---- Settings

#define KZ_MOTION_SETTING(Type, Name, Field)                   \
  Type TKzMotionDetector::Name() const {                       \
    std::lock_guard<std::mutex> g(FSettingsLock);              \
    return Field;                                              \
  }                                                            \
  void TKzMotionDetector::Set##Name(Type Value) {              \
    std::lock_guard<std::mutex> g(FSettingsLock);              \
    Field = Value;                                             \
  }
KZ_MOTION_SETTING(int32_t, PixelColorThreshold, FPixelColorThreshold)
KZ_MOTION_SETTING(int32_t, PixelColorThresholdR, FPixelColorThresholdR)
KZ_MOTION_SETTING(int32_t, PixelColorThresholdG, FPixelColorThresholdG)
KZ_MOTION_SETTING(int32_t, PixelColorThresholdB, FPixelColorThresholdB)
KZ_MOTION_SETTING(int32_t, MinChangeAreaSize, FMinChangeAreaSize)
KZ_MOTION_SETTING(int32_t, MaxChangeAreaCount, FMaxChangeAreaCount)
KZ_MOTION_SETTING(uint32_t, TestModeRectangleColor, FTestMode_RectangleColor)
KZ_MOTION_SETTING(bool, NeedResizeArea, FNeedResizeArea)
#undef KZ_MOTION_SETTING

TKzChangedAreaProcessingMode TKzMotionDetector::ChangedAreaProcessingMode() const {
  std::lock_guard<std::mutex> g(FSettingsLock);
  return FChangedAreaProcessingMode;
}

void TKzMotionDetector::SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Mode) {
  std::lock_guard<std::mutex> g(FSettingsLock);
  FChangedAreaProcessingMode = Mode;
  FNeedResizeArea = true;
}

TKzBoundsTestMode TKzMotionDetector::TestMode() const {
  std::lock_guard<std::mutex> g(FSettingsLock);
  return FTestMode;
}

void TKzMotionDetector::SetTestMode(TKzBoundsTestMode Mode) {
  std::lock_guard<std::mutex> g(FSettingsLock);
  FTestMode = Mode;
  FForgetOldRects = true;
}

void TKzMotionDetector::ApplyValues(const TKzMotionDetectorValues& V) {
  std::lock_guard<std::mutex> g(FSettingsLock);
  FPixelColorThreshold = V.PixelColorThreshold;
  FPixelColorThresholdR = V.PixelColorThresholdR;
  FPixelColorThresholdG = V.PixelColorThresholdG;
  FPixelColorThresholdB = V.PixelColorThresholdB;
  FMinChangeAreaSize = V.MinChangeAreaSize;
  FMaxChangeAreaCount = V.MaxChangeAreaCount;
  FChangedAreaProcessingMode = V.ChangedAreaProcessingMode;
  FNeedResizeArea = true;
  if (FTestMode != V.TestMode) {
    FTestMode = V.TestMode;
    FForgetOldRects = true;
  }
}

TKzMotionDetector::TSettings TKzMotionDetector::TakeSettings(bool& Resize, bool& ForgetOldRects) {
  std::lock_guard<std::mutex> g(FSettingsLock);
  Resize = FNeedResizeArea;
  ForgetOldRects = FForgetOldRects;
  FNeedResizeArea = FForgetOldRects = false;
  return TSettings{FPixelColorThreshold, FPixelColorThresholdR, FPixelColorThresholdG, FPixelColorThresholdB,
                   FMinChangeAreaSize,   FMaxChangeAreaCount,   FChangedAreaProcessingMode, FTestMode,
                   FTestMode_RectangleColor};
}

// ---- Working memory

void TKzMotionDetector::ResizeWorkingCopies(TKzChangedAreaProcessingMode Mode) {
  if (Mode == TKzChangedAreaProcessingMode::kzcapmAuto) {
    if (!nImgS) nImgS = std::make_unique<TKzMBitmap>();
    if (!oImgS) oImgS = std::make_unique<TKzMBitmap>();
  } else {
    nImgS.reset();
    oImgS.reset();
    OldW_s = OldH_s = -1;
  }
}

void TKzMotionDetector::ResizeArea(int32_t /*Width*/, int32_t /*Height*/) {
  ResizeWorkingCopies(ChangedAreaProcessingMode());
}

void TKzMotionDetector::FinalizeRegion() {
  nImgS.reset();
  oImgS.reset();
  std::vector<int32_t>().swap(Labels);
  std::vector<TBox>().swap(bd);
  std::vector<TBox>().swap(tmpRect);
  std::vector<TKzRectF>().swap(bd_ext);
  std::vector<TKzRectF>().swap(OldRect);
  FLastTestImage.reset();
  OldCountRect = countObj = 0;
  OldW = OldH = OldW_s = OldH_s = FFrameW = FFrameH = -1;
  FWorkW = FWorkH = 0;
  FDetected = false;
  FReferenceValid = false;
  SetNeedResizeArea(true);
}

// ---- One frame

int32_t TKzMotionDetector::DetectChanges(const TKzMCustomBitmap& NewImg, const TKzMCustomBitmap& OldImg,
                                         std::unique_ptr<TKzMBitmap>* TestImg) {
  bool resize = false, forget = false;
  const TSettings s = TakeSettings(resize, forget);
  if (forget) {
    OldRect.clear();
    OldCountRect = 0;
  }
  if (TestImg) TestImg->reset();
  FLastTestImage.reset();
  bd_ext.clear();
  tmpRect.clear();
  countObj = 0;
  FDetected = true;
  FLastMode = s.Mode;
  FLastTestMode = s.TestMode;
  if (resize) ResizeWorkingCopies(s.Mode);

  const int32_t fw = NewImg.Width(), fh = NewImg.Height();
  if (NewImg.IsEmpty()) {
    FWorkW = FWorkH = 0;
    return 0;
  }
  // Regions of a frame of another size say nothing about this one.
  if (fw != FFrameW || fh != FFrameH) {
    OldRect.clear();
    OldCountRect = 0;
    FFrameW = fw;
    FFrameH = fh;
  }
  const int32_t grow = std::max(15, (s.MinChangeAreaSize / 2) * 5);

  const TKzMCustomBitmap* workNew = nullptr;
  const TKzMCustomBitmap* workOld = nullptr;
  const bool comparable = PrepareWorkingImages(s, NewImg, OldImg, workNew, workOld);
  const size_t pixels = static_cast<size_t>(FWorkW) * FWorkH;
  if (Labels.size() < pixels) Labels.resize(pixels);
  OldW = FWorkW;
  OldH = FWorkH;
  // Images of different sizes cannot be compared: nothing changed (the
  // labels of an earlier frame must not be taken for this one).
  if (comparable)
    Classify(s, *workNew, *workOld);
  else
    std::fill_n(Labels.begin(), pixels, -1);

  if (s.TestMode != TKzBoundsTestMode::kzstmNone) {
    auto test = std::make_unique<TKzMBitmap>();
    PaintTestImage(s.TestMode, *workNew, *test);
    LabelChangedPixels();
    SelectRegions(s, grow);
    MergeBoxes(tmpRect, TBox{0, 0, -1, -1});
    if (FWorkW != fw || FWorkH != fh) {
      auto full = std::make_unique<TKzMBitmap>(fw, fh);
      full->StretchDraw(TRect(0, 0, fw, fh), *test);
      test = std::move(full);
    }
    // The outlines go on after stretching so that they stay one pixel wide and red.
    ScaleRegions(fw, fh);
    for (const TKzRectF& r : bd_ext)
      if (!r.IsEmpty())
        test->Rectangle(RoundEdge(r.Left), RoundEdge(r.Top), RoundEdge(r.Right), RoundEdge(r.Bottom), s.RectangleColor);
    bd_ext.assign(1, TKzRectF{0, 0, static_cast<float>(fw), static_cast<float>(fh)});
    if (TestImg)
      *TestImg = std::move(test);
    else
      FLastTestImage = std::move(test);
    return 1;
  }

  LabelChangedPixels();
  SelectRegions(s, grow);
  MergeBoxes(tmpRect, TBox{0, 0, -1, -1});
  ScaleRegions(fw, fh);
  RememberOldRects();
  return static_cast<int32_t>(bd_ext.size());
}

bool TKzMotionDetector::PrepareWorkingImages(const TSettings& S, const TKzMCustomBitmap& NewImg,
                                             const TKzMCustomBitmap& OldImg, const TKzMCustomBitmap*& WorkNew,
                                             const TKzMCustomBitmap*& WorkOld) {
  const int32_t fw = NewImg.Width(), fh = NewImg.Height();
  if (S.Mode == TKzChangedAreaProcessingMode::kzcapmOriginalSize) {
    OldW_s = OldH_s = -1;
    FWorkW = fw;
    FWorkH = fh;
    WorkNew = &NewImg;
    WorkOld = &OldImg;
    return OldImg.Width() == fw && OldImg.Height() == fh;
  }
  ResizeWorkingCopies(S.Mode);
  int32_t ws = 0, hs = 0;
  KzMMotionWorkingSize(fw, fh, ws, hs);
  if (!FReduceReferenceEachFrame && OldW_s >= 0 && (ws == OldW_s || hs == OldH_s)) {
    // The previous frame's reduced copy is the reference; its buffer takes the new one.
    std::swap(nImgS, oImgS);
  } else if (OldImg.Width() == fw && OldImg.Height() == fh) {
    if (!FReferenceInStep || !FReferenceValid || oImgS->Width() != ws || oImgS->Height() != hs)
      KzMReduceBitmap(OldImg, *oImgS, ws, hs);
    FReferenceValid = FReferenceInStep;
  } else {
    oImgS->SetSize(0, 0);  // no reference of this geometry yet
  }
  KzMReduceBitmap(NewImg, *nImgS, ws, hs);
  OldW_s = FWorkW = ws;
  OldH_s = FWorkH = hs;
  WorkNew = nImgS.get();
  WorkOld = oImgS.get();
  return oImgS->Width() == ws && oImgS->Height() == hs;
}

void TKzMotionDetector::Classify(const TSettings& S, const TKzMCustomBitmap& WorkNew,
                                 const TKzMCustomBitmap& WorkOld) {
  const int32_t w = FWorkW;
  for (int32_t y = 0; y < FWorkH; ++y) {
    const uint8_t* a = reinterpret_cast<const uint8_t*>(WorkNew.ScanLine(y));
    const uint8_t* b = reinterpret_cast<const uint8_t*>(WorkOld.ScanLine(y));
    int32_t* out = Labels.data() + static_cast<size_t>(y) * w;
    if (S.PixelColorThreshold >= 0) {
      // (d0 + d1 + d2) div 3 > T  <=>  d0 + d1 + d2 > 3T + 2
      const int64_t limit = 3 * static_cast<int64_t>(S.PixelColorThreshold) + 2;
      for (int32_t x = 0; x < w; ++x, a += 4, b += 4) {
        const int32_t sum = std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
        out[x] = static_cast<int32_t>(sum > limit) - 1;
      }
    } else {
      const int32_t t0 = S.PixelColorThresholdR, t1 = S.PixelColorThresholdG, t2 = S.PixelColorThresholdB;
      for (int32_t x = 0; x < w; ++x, a += 4, b += 4) {
        const bool changed = std::abs(a[0] - b[0]) > t0 || std::abs(a[1] - b[1]) > t1 || std::abs(a[2] - b[2]) > t2;
        out[x] = static_cast<int32_t>(changed) - 1;
      }
    }
  }
}

void TKzMotionDetector::PaintTestImage(TKzBoundsTestMode Mode, const TKzMCustomBitmap& WorkNew,
                                       TKzMBitmap& Test) const {
  Test.SetSize(FWorkW, FWorkH);
  const size_t pixels = static_cast<size_t>(FWorkW) * FWorkH;
  const uint32_t* in = WorkNew.Data();
  uint32_t* out = Test.Data();
  for (size_t i = 0; i < pixels; ++i) {
    const bool changed = Labels[i] >= 0;
    if (Mode == TKzBoundsTestMode::kzstmChangedFragments)
      out[i] = changed ? (in[i] | 0xFF000000u) : 0xFF000000u;
    else
      out[i] = changed ? (in[i] | 0xFF000000u) : (((in[i] >> 1) & 0x7F7F7F7Fu) | 0xFF000000u);
  }
}

void TKzMotionDetector::LabelChangedPixels() {
  const int32_t w = FWorkW, h = FWorkH;
  bd.clear();
  // One raster pass. A run of changed pixels takes the label of the pixel
  // above its first pixel when that has one (the left neighbour of the first
  // pixel is unchanged by definition), else a new label; the rest of the run
  // follows its left neighbour.
  for (int32_t y = 0; y < h; ++y) {
    int32_t* row = Labels.data() + static_cast<size_t>(y) * w;
    const int32_t* up = y > 0 ? row - w : nullptr;
    for (int32_t x = 0; x < w;) {
      if (row[x] != 0) {
        ++x;
        continue;
      }
      const int32_t x0 = x;
      while (x < w && row[x] == 0) ++x;
      int32_t label = up ? up[x0] : -1;
      if (label >= 1) {
        TBox& b = bd[label - 1];
        b.Left = std::min(b.Left, x0);
        b.Right = std::max(b.Right, x);
        b.Bottom = y + 1;  // labels only ever grow downwards
      } else {
        bd.push_back(TBox{x0, y, x, y + 1});
        label = static_cast<int32_t>(bd.size());
      }
      std::fill(row + x0, row + x, label);
    }
  }
  // Join the boxes that overlap or share an edge, looking ahead only half a
  // working row of labels: the labels of one object lie close together.
  const auto touches = [](const TBox& A, const TBox& B) -> bool {
    // Most candidates lie beside the box: reject those first, cheaply.
    if (B.Left > A.Right || A.Left > B.Right || !B.Live()) return false;
    const bool xOverlap = (A.Left < B.Right) & (B.Left < A.Right);
    const bool yOverlap = (A.Top < B.Bottom) & (B.Top < A.Bottom);
    const bool yTouch = (A.Top <= B.Bottom) & (B.Top <= A.Bottom);
    return (xOverlap & yTouch) | yOverlap;
  };
  // Labels are made in raster order, so the later boxes start on the same
  // row or lower (emptied ones keep their top): once one starts below L's
  // box, no later one can reach it, since L only grows by absorbing those.
  const size_t n = bd.size();
  const size_t window = static_cast<size_t>(w / 2);
  for (size_t i = 0; i < n; ++i) {
    TBox& l = bd[i];
    if (!l.Live()) continue;
    const size_t last = std::min(i + 1 + window, n - 1);
    for (size_t j = i + 1; j <= last; ++j) {
      TBox& m = bd[j];
      if (m.Top > l.Bottom) break;
      if (touches(l, m)) {
        Unite(l, m);
        m.Right = m.Left - 1;
      }
    }
  }
  const auto end = std::remove_if(bd.begin(), bd.end(), [](const TBox& b) { return !b.Live(); });
  bd.erase(end, bd.end());
  countObj = static_cast<int32_t>(bd.size());
}

void TKzMotionDetector::SelectRegions(const TSettings& S, int32_t Grow) {
  const int32_t w = FWorkW, h = FWorkH;
  const int64_t growArea = static_cast<int64_t>(Grow) * Grow;
  tmpRect.clear();
  for (int32_t i = 0; i < countObj; ++i) {
    TBox b = bd[i];
    const int32_t bw = b.Right - b.Left, bh = b.Bottom - b.Top;
    if (bw > 0 && bh > 0 && b.Area() <= S.MinChangeAreaSize) continue;
    if (static_cast<int64_t>(tmpRect.size()) + 1 > S.MaxChangeAreaCount) {
      tmpRect.assign(1, TBox{0, 0, w, h});
      return;
    }
    if (b.Area() <= growArea || bw <= Grow || bh <= Grow) {
      const int32_t nw = std::max(Grow, bw), nh = std::max(Grow, bh);
      const int32_t left = (b.Right + b.Left - nw) / 2, top = (b.Bottom + b.Top - nh) / 2;
      const TBox grown{std::max(left, 0), std::max(top, 0), std::min(left + nw, w), std::min(top + nh, h)};
      Unite(b, grown);
    }
    tmpRect.push_back(b);
  }
}

void TKzMotionDetector::ScaleRegions(int32_t FrameW, int32_t FrameH) {
  const double kx = static_cast<double>(FrameW) / FWorkW, ky = static_cast<double>(FrameH) / FWorkH;
  const auto scale = [](int32_t V, double K, int32_t Limit) {
    return static_cast<float>(std::clamp<double>(std::round(V * K), 0, Limit));
  };
  bd_ext.clear();
  for (const TBox& b : tmpRect) {
    if (!b.Live()) {
      bd_ext.push_back(kEmptySlot);
      continue;
    }
    bd_ext.push_back(TKzRectF{scale(b.Left, kx, FrameW), scale(b.Top, ky, FrameH), scale(b.Right, kx, FrameW),
                              scale(b.Bottom, ky, FrameH)});
  }
}

void TKzMotionDetector::RememberOldRects() {
  std::vector<TKzRectF> noted;
  for (const TKzRectF& r : bd_ext)
    if (!r.IsEmpty()) noted.push_back(r);
  for (const TKzRectF& old : OldRect) {
    if (old.IsEmpty()) continue;
    const auto hit = std::find_if(bd_ext.begin(), bd_ext.end(),
                                  [&](const TKzRectF& r) { return !r.IsEmpty() && Overlap(r, old); });
    if (hit != bd_ext.end())
      Unite(*hit, old);
    else
      bd_ext.push_back(old);
  }
  if (!OldRect.empty()) MergeBoxes(bd_ext, kEmptySlot);
  OldRect = std::move(noted);
  OldCountRect = static_cast<int32_t>(OldRect.size());
}

void TKzMotionDetector::ReferenceChanged(const TKzMCustomBitmap& OldImg, const TRect& Area) {
  if (!FReferenceValid || !oImgS || oImgS->IsEmpty()) return;
  if (OldImg.Width() != FFrameW || OldImg.Height() != FFrameH) {
    FReferenceValid = false;
    return;
  }
  KzMReduceBitmapArea(OldImg, *oImgS, Area);
}

// ---- Results

TKzRectF TKzMotionDetector::GetRect(int32_t Index) const {
  if (Index < 0 || Index >= RectCount()) return kEmptySlot;
  return bd_ext[Index];
}

bool TKzMotionDetector::IsRectValid(int32_t Index) const { return !GetRect(Index).IsEmpty(); }

std::vector<TKzRectF> TKzMotionDetector::ValidRects() const {
  std::vector<TKzRectF> out;
  for (const TKzRectF& r : bd_ext)
    if (!r.IsEmpty()) out.push_back(r);
  return out;
}

std::vector<TKzRectF> TKzMotionDetector::LabelBoxes() const {
  std::vector<TKzRectF> out;
  out.reserve(countObj);
  for (int32_t i = 0; i < countObj; ++i)
    out.push_back(TKzRectF{static_cast<float>(bd[i].Left), static_cast<float>(bd[i].Top),
                           static_cast<float>(bd[i].Right), static_cast<float>(bd[i].Bottom)});
  return out;
}

void TKzMotionDetector::UpdateReferenceImage(const TKzMCustomBitmap& Frame, TKzMCustomBitmap& Reference) const {
  if (!FDetected) return;
  const bool seed = FLastMode == TKzChangedAreaProcessingMode::kzcapmOriginalSize &&
                    (Reference.Width() != Frame.Width() || Reference.Height() != Frame.Height());
  if (FLastTestMode != TKzBoundsTestMode::kzstmNone || seed) {
    Reference.AssignKzMBitmap(Frame);
    return;
  }
  for (const TKzRectF& r : bd_ext) {
    if (r.IsEmpty()) continue;
    const TRect area(RoundEdge(r.Left), RoundEdge(r.Top), RoundEdge(r.Right), RoundEdge(r.Bottom));
    Reference.CopyRect(area, Frame, area);
  }
}

}  // namespace kz
