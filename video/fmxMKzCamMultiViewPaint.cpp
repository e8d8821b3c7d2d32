// TKzCamMultiView: painting the cells, the redraw list with its refresh
// timer, and the hooks through which the cells' views ask for repaints.
//
// A new frame (draw thread) or audio level puts its cell on the redraw
// list. With RefreshRate 0 one posted message per batch invalidates the
// listed cells' rectangles at once; with RefreshRate > 0 the refresh timer
// does it once per tick. The platform coalesces the invalidated rectangles
// into one paint, and a paint touches only the cells inside them.
#include <algorithm>

#include "video/fmxMKzCamMultiView.h"

namespace kz {

namespace {
bool Overlaps(const TRect& A, const TRect& B) { return !IntersectRect(A, B).IsEmpty(); }
}  // namespace

// ---- Painting (main thread)

void TKzCamMultiView::PaintContent(TCanvas& Canvas) {
  if (IsDestroying()) return;
  const TRect clip = Canvas.ClipRect();
  Canvas.FillRect(clip, FColor);
  for (int32_t i = 0; i < FViewers.Count(); ++i) {
    TKzCamViewItem& item = FViewers[i];
    if (Overlaps(CellClientRect(item), clip)) PaintCell(Canvas, item);
  }
  DrawFullScreenButton(Canvas);
}

void TKzCamMultiView::PaintCell(TCanvas& Canvas, TKzCamViewItem& Item) {
  TKzCamView& v = *Item.FViewer;
  const TRect vb = v.BoundsRect();
  if (!vb.IsEmpty() && Overlaps(vb, Canvas.ClipRect())) {
    // A frame that arrived since the cell was painted last counts once.
    const uint64_t arrived = Item.FFramesArrived.load(std::memory_order_acquire);
    if (arrived != Item.FArrivedAtPaint) {
      Item.FArrivedAtPaint = arrived;
      Item.FFramesPainted.fetch_add(1, std::memory_order_acq_rel);
    }
    Canvas.SaveState();
    Canvas.Translate(vb.Left, vb.Top);
    Canvas.IntersectClip(v.LocalRect());
    FPaintingView = &v;
    v.Paint(Canvas);
    FPaintingView = nullptr;
    Canvas.RestoreState();
  }
  TRect video, audio;
  GetViewerRects(Item.Index(), video, audio);
  if (!audio.IsEmpty()) PaintAudioStrip(Canvas, Item, ClientOf(audio));
}

TRect TKzCamMultiView::GetFullScreenButtonRect() const { return TRect(Width() - 40, 10, Width() - 10, 40); }

void TKzCamMultiView::DrawFullScreenButton(TCanvas& Canvas) {
  if (FAllowFullScreen && FFullScreenButtonVisible)
    KzDrawFullScreenButton(Canvas, GetFullScreenButtonRect(), FCaptionColor, FFSBtnHot, FIconStyle);
}

void TKzCamMultiView::UpdateFullScreenButton(float X, float Y) {
  if (!FAllowFullScreen) return;
  FSLastTime = KzMGetTickCount();
  const TRect b = GetFullScreenButtonRect();
  const bool hot = X >= b.Left && X < b.Right && Y >= b.Top && Y < b.Bottom;
  if (!FFullScreenButtonVisible || hot != FFSBtnHot) {
    FFullScreenButtonVisible = true;
    FFSBtnHot = hot;
    InvalidateRect(b);
  }
  if (!FSTimer.Enabled()) FSTimer.SetEnabled(true);
}

void TKzCamMultiView::OnFullScreenButtonTimer() {
  if (KzMGetTickCount() - FSLastTime < 3000) return;
  FSTimer.SetEnabled(false);
  if (!FFullScreenButtonVisible) return;
  FFullScreenButtonVisible = false;
  FFSBtnHot = false;
  InvalidateRect(GetFullScreenButtonRect());
}

void TKzCamMultiView::SetAllowFullScreen(bool Value) {
  FAllowFullScreen = Value;
  if (!Value && FFullScreenButtonVisible) {
    FFullScreenButtonVisible = false;
    FSTimer.SetEnabled(false);
    InvalidateRect(GetFullScreenButtonRect());
  }
}

// ---- The redraw list

void TKzCamMultiView::QueueRedraw(TKzCamViewItem& Item) {
  {
    TKzSafeLock lock(FRedrawViewersListCriticalSection);
    if (std::find(FRedrawViewersList.begin(), FRedrawViewersList.end(), &Item) == FRedrawViewersList.end())
      FRedrawViewersList.push_back(&Item);
  }
  if (RefreshRate() == 0 && FRegistered && !FRedrawPosted.exchange(true, std::memory_order_acq_rel)) {
    if (!KzMessages().PostMessage2(this, MsgRedrawViewers, 0, 0)) FRedrawPosted.store(false);
  }
}

void TKzCamMultiView::RedrawQueuedViewers() {
  std::vector<TKzCamViewItem*> list;
  {
    TKzSafeLock lock(FRedrawViewersListCriticalSection);
    list.swap(FRedrawViewersList);
  }
  for (TKzCamViewItem* item : list) InvalidateCell(*item);
}

void TKzCamMultiView::ForgetRedraw(TKzCamViewItem& Item) {
  TKzSafeLock lock(FRedrawViewersListCriticalSection);
  auto& l = FRedrawViewersList;
  l.erase(std::remove(l.begin(), l.end(), &Item), l.end());
}

void TKzCamMultiView::SetRefreshRate(int32_t Value) {
  Value = std::max(Value, 0);
  FRefreshRate.store(Value, std::memory_order_release);
  UpdateRefreshTimer();
  RedrawQueuedViewers();  // nothing waits for a message that will not come
}

void TKzCamMultiView::UpdateRefreshTimer() {
  const int32_t rate = RefreshRate();
  bool anySource = false;
  for (int32_t i = 0; i < FViewers.Count() && !anySource; ++i) anySource = FViewers[i].VideoSource() != nullptr;
  const bool on = rate > 0 && anySource && !IsDestroying();
  if (on) {
    const uint32_t interval = static_cast<uint32_t>(std::max(1000 / rate, 1));
    if (FRedrawingTimer.Interval() != interval || !FRedrawingTimer.Enabled()) {
      FRedrawingTimer.SetInterval(interval);
      FRedrawingTimer.SetEnabled(true);
    }
  } else if (FRedrawingTimer.Enabled()) {
    FRedrawingTimer.SetEnabled(false);
  }
}

// ---- Hooks of the cells' views

bool TKzCamMultiView::HookDrawVideoViewer(TKzCamViewItem& Item, bool FullRedraw) {
  (void)FullRedraw;
  if (FPaintingView == Item.FViewer) return false;  // the wall is painting it: let it draw
  InvalidateCell(Item);
  return true;
}

void TKzCamMultiView::HookNewVideoFrame(TKzCamViewItem& Item) {
  if (FIgnoreFrames.load(std::memory_order_acquire)) return;
  Item.FFramesArrived.fetch_add(1, std::memory_order_acq_rel);
  QueueRedraw(Item);
}

void TKzCamMultiView::HookClearLastFrame(TKzCamViewItem& Item) { InvalidateCell(Item); }

void TKzCamMultiView::HookButtonAbortClick(TKzCamViewItem& Item) { InvalidateCell(Item); }

void TKzCamMultiView::HookPaint(TKzCamViewItem& Item, TKzMBitmap& Frame, bool& CanDrawFrame, TCanvas& Canvas) {
  if (OnViewerPaint) OnViewerPaint(this, Item, &Frame, CanDrawFrame, Item.FViewer->LocalRect(), Canvas);
}

void TKzCamMultiView::HookBeginVideoStream(TKzCamViewItem& Item) {
  UpdateRefreshTimer();
  InvalidateCell(Item);
}

void TKzCamMultiView::HookDrawCameraSearch(TKzCamViewItem& Item) {
  const TRect vb = Item.FViewer->BoundsRect();
  const TRect panel = Item.FViewer->GetRectCameraSearch();
  InvalidateRect(TRect(vb.Left + panel.Left, vb.Top + panel.Top, vb.Left + panel.Right, vb.Top + panel.Bottom));
}

}  // namespace kz
