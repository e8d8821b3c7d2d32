// TKzCamMultiView: the selected cell, main viewers and the camera control
// panel; mouse and keys (selection keys, input routed to the cell under
// the pointer or the active cell, moving and resizing cells).
#include <algorithm>

#include "video/fmxMKzCamMultiView.h"

namespace kz {

namespace {
bool IsSelectionKey(uint16_t Key) {
  return Key == vk::Home || Key == vk::End || Key == vk::Left || Key == vk::Right || Key == vk::Up ||
         Key == vk::Down;
}
bool IsArrow(uint16_t Key) { return Key == vk::Left || Key == vk::Right || Key == vk::Up || Key == vk::Down; }
constexpr TShiftState kModifiers = ssShift | ssAlt | ssCtrl;
}  // namespace

// ---- Selectable cells

int32_t TKzCamMultiView::GetFirstViewer() const {
  for (int32_t i = 0; i < FViewers.Count(); ++i)
    if (!FViewers[i].FMainViewer) return i;
  return -1;
}

int32_t TKzCamMultiView::GetLastViewer() const {
  for (int32_t i = FViewers.Count() - 1; i >= 0; --i)
    if (!FViewers[i].FMainViewer) return i;
  return -1;
}

int32_t TKzCamMultiView::GetNextViewer(int32_t Index) const {
  const int32_t n = FViewers.Count();
  if (n == 0) return -1;
  for (int32_t step = 1; step <= n; ++step) {
    const int32_t i = ((Index + step) % n + n) % n;
    if (!FViewers[i].FMainViewer) return i;
  }
  return -1;
}

int32_t TKzCamMultiView::GetPrevViewer(int32_t Index) const {
  const int32_t n = FViewers.Count();
  if (n == 0) return -1;
  for (int32_t step = 1; step <= n; ++step) {
    const int32_t i = ((Index - step) % n + n) % n;
    if (!FViewers[i].FMainViewer) return i;
  }
  return -1;
}

int32_t TKzCamMultiView::GetActiveViewer() const {
  for (int32_t i = 0; i < FViewers.Count(); ++i)
    if (FViewers[i].FViewer->IsInFocus()) return i;
  return -1;
}

void TKzCamMultiView::SetActiveViewer(int32_t Index) {
  // Clear the others first, so the focus hook sees one active cell.
  for (int32_t i = 0; i < FViewers.Count(); ++i)
    if (i != Index) FViewers[i].FViewer->SetIsInFocus(false);
  if (TKzCamViewItem* item = ItemAt(Index)) item->FViewer->SetIsInFocus(true);
}

// ---- Selection

void TKzCamMultiView::SetViewerIndex(int32_t Index) {
  Index = std::min(std::max(Index, 0), FViewers.Count() - 1);
  TKzCamViewItem* next = ItemAt(Index);
  if (next && next->FMainViewer) return;
  if (FCameraControl) FCameraControl->DetachVideoSource();
  if (Index != FViewerIndex) {
    TKzCamViewItem* old = ItemAt(FViewerIndex);
    SetFrameRateOnSelect(old, next);
    FSelecting = true;
    if (old) old->FViewer->SetIsInFocus(false);
    FViewerIndex = Index;
    // The focus hook tells the application (OnSelectViewer).
    if (next) next->FViewer->SetIsInFocus(true);
    FSelecting = false;
  }
  UpdateMainViewer();
  AttachCameraControl();
}

void TKzCamMultiView::SetFrameRateOnSelect(TKzCamViewItem* Old, TKzCamViewItem* New) {
  if (Old && Old->FUseFramePerSec) {
    if (TKzVideoSource* src = Old->VideoSource(); src && src->FramePerSec() != Old->FFramePerSec)
      src->SetFramePerSec(Old->FFramePerSec);
  }
  if (New && New->FUseFramePerSec) {
    if (TKzVideoSource* src = New->VideoSource()) {
      double rate = src->FramePerSec();
      for (int32_t i = 0; i < FViewers.Count(); ++i)
        if (FViewers[i].FMainViewer) rate = std::max(rate, FViewers[i].FFramePerSec);
      if (rate != src->FramePerSec()) src->SetFramePerSec(rate);
    }
  }
}

void TKzCamMultiView::UpdateMainViewer() {
  TKzCamViewItem* selected = ItemAt(FViewerIndex);
  for (int32_t i = 0; i < FViewers.Count(); ++i) {
    TKzCamViewItem& item = FViewers[i];
    if (!item.FMainViewer) continue;
    TKzCamView& v = *item.FViewer;
    if (!selected || selected->FMainViewer) {
      v.SetVideoSource(nullptr);
      v.ClearLastFrame(true);
      continue;
    }
    TKzCamView& from = *selected->FViewer;
    v.SetGUIDFrom(from.GUIDFrom());
    v.SetIndexFrom(from.IndexFrom());
    v.SetVideoSource(from.VideoSource());
    if (from.HasImage())
      v.AssignLastFrame(from);
    else
      v.ClearLastFrame(true);
    InvalidateCell(item);
  }
  UpdateRefreshTimer();
}

void TKzCamMultiView::AttachCameraControl() {
  if (!FCameraControl) return;
  const TKzCamViewItem* selected = ItemAt(FViewerIndex);
  if (selected && selected->VideoSource()) FCameraControl->AttachVideoSource(selected->VideoSource());
}

void TKzCamMultiView::HookChangeFocus(TKzCamViewItem& Item) {
  if (FRefusingFocus || !Item.FViewer->IsInFocus()) return;
  const int32_t index = Item.Index();
  if (Item.FMainViewer) {
    // A main viewer is never the selection: the selected cell keeps focus.
    FRefusingFocus = true;
    Item.FViewer->SetIsInFocus(false);
    if (TKzCamViewItem* selected = ItemAt(FViewerIndex)) selected->FViewer->SetIsInFocus(true);
    FRefusingFocus = false;
    return;
  }
  if (index != FViewerIndex) {
    SetViewerIndex(index);  // comes back here with the index stored
    return;
  }
  if (!FSelecting) UpdateMainViewer();  // SetViewerIndex does it itself
  if (OnSelectViewer) OnSelectViewer(this, Item.FViewer, index);
}

// ---- Keys

void TKzCamMultiView::KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TScrollBox::KeyDown(Key, KeyChar, Shift);
  if (Key == 0) return;
  const TShiftState mods = Shift & kModifiers;
  if (mods == 0 && (Key == vk::Escape || Key == vk::F11) && (FFullScreenOwner || FFullScreen)) {
    // Escape (or F11 again) leaves full screen; otherwise it is the form's.
    if (FFullScreenOwner) {
      if (TForm* form = ParentForm()) form->Close();
    } else {
      SetFullScreen(false);
    }
    Key = 0;
    return;
  }
  if (mods == 0 && Key == vk::F11 && FAllowFullScreen) {
    SetFullScreen(true);
    Key = 0;
    return;
  }
  if (mods == 0 && IsSelectionKey(Key)) {
    int32_t next = -1;
    if (Key == vk::Home) next = GetFirstViewer();
    else if (Key == vk::End) next = GetLastViewer();
    else if (Key == vk::Left || Key == vk::Up) next = FViewerIndex < 0 ? GetLastViewer() : GetPrevViewer(FViewerIndex);
    else next = FViewerIndex < 0 ? GetFirstViewer() : GetNextViewer(FViewerIndex);
    if (next >= 0) SetViewerIndex(next);
    Key = 0;
    return;
  }
  TKzCamViewItem* active = ItemAt(GetActiveViewer());
  if (!active) return;
  // Ctrl+arrow reaches the camera's pan/tilt as the plain arrow.
  const TShiftState passed = (mods == ssCtrl && IsArrow(Key)) ? (Shift & ~ssCtrl) : Shift;
  active->FViewer->KeyDown(Key, KeyChar, passed);
}

void TKzCamMultiView::KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TScrollBox::KeyUp(Key, KeyChar, Shift);
  if (TKzCamViewItem* active = ItemAt(GetActiveViewer())) active->FViewer->KeyUp(Key, KeyChar, Shift & ~ssCtrl);
}

// ---- Mouse

void TKzCamMultiView::UpdateHover(int32_t Index) {
  if (Index == MouseMoveVI) return;
  TKzCamViewItem* old = ItemAt(MouseMoveVI);
  MouseMoveVI = Index;
  if (old) old->FViewer->DoMouseLeave();
  if (TKzCamViewItem* item = ItemAt(Index)) item->FViewer->DoMouseEnter();
}

// A press that moves or resizes the cell, by the drag mode.
bool TKzCamMultiView::StartCellDrag(int32_t Index, float X, float Y) {
  TKzCamViewItem* item = ItemAt(Index);
  if (!item || FWindowDragMode == TWindowDragMode::mwmNone || !FCanResize ||
      item->FAlignVideoViewer != TKzAlignVideoViewer::kzavvNone)
    return false;
  const TRect cell = CellClientRect(*item);
  const bool grip = X >= cell.Right - ResizeGrip && Y >= cell.Bottom - ResizeGrip;
  bool move = FWindowDragMode == TWindowDragMode::mwmAny;
  if (FWindowDragMode == TWindowDragMode::mwmCaption && item->FViewer->ShowCaption()) {
    const TRect vb = item->FViewer->BoundsRect();
    const TRect caption = item->FViewer->GetCaptionRect();
    move = X >= vb.Left && X < vb.Right && Y >= vb.Top + caption.Top && Y < vb.Top + caption.Bottom;
  }
  if (!grip && !move) return false;
  FDragVI = Index;
  FDragResize = grip;
  FDragFrom = TPointF{X, Y};
  FDragBounds = item->FBounds;
  SetCursor(TCursor::crSizeAll);
  return true;
}

void TKzCamMultiView::MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TScrollBox::MouseDown(Button, Shift, X, Y);
  if (Button == TMouseButton::mbLeft && FAllowFullScreen && FFullScreenButtonVisible) {
    const TRect b = GetFullScreenButtonRect();
    if (X >= b.Left && X < b.Right && Y >= b.Top && Y < b.Bottom) {
      if (FFullScreenOwner) {
        if (TForm* form = ParentForm()) form->Close();
      } else {
        SetFullScreen(!FFullScreen);
      }
      return;
    }
  }
  if (Button == TMouseButton::mbLeft && ScrollBarMouseDown(X, Y)) return;
  if (CanFocus() && !IsFocused()) SetFocus();
  const TPoint s = ScrollPos();
  const int32_t index = GetViewerAt(static_cast<int32_t>(X) + s.X, static_cast<int32_t>(Y) + s.Y);
  if (index < 0) return;
  SetActiveViewer(index);
  if (Button == TMouseButton::mbLeft && StartCellDrag(index, X, Y)) return;
  FMouseDownVI = index;
  TKzCamView& v = *FViewers[index].FViewer;
  const TRect vb = v.BoundsRect();
  v.MouseDown(Button, Shift, X - vb.Left, Y - vb.Top);
}

void TKzCamMultiView::MouseMove(TShiftState Shift, float X, float Y) {
  TScrollBox::MouseMove(Shift, X, Y);
  UpdateFullScreenButton(X, Y);
  if (ScrollBarMouseMove(X, Y)) return;
  if (TKzCamViewItem* item = ItemAt(FDragVI)) {
    const int32_t dx = static_cast<int32_t>(X - FDragFrom.X), dy = static_cast<int32_t>(Y - FDragFrom.Y);
    const TRect& b = FDragBounds;
    if (FDragResize)
      item->SetBounds(b.Left, b.Top, std::max(b.Width() + dx, 2 * ResizeGrip), std::max(b.Height() + dy, 2 * ResizeGrip));
    else
      item->SetBounds(b.Left + dx, b.Top + dy, b.Width(), b.Height());
    return;
  }
  const TPoint s = ScrollPos();
  const int32_t under = GetViewerAt(static_cast<int32_t>(X) + s.X, static_cast<int32_t>(Y) + s.Y);
  if (FMouseDownVI < 0) UpdateHover(under);
  // The cell that took the press gets the moves until the release.
  if (TKzCamViewItem* item = ItemAt(FMouseDownVI >= 0 ? FMouseDownVI : under)) {
    const TRect vb = item->FViewer->BoundsRect();
    item->FViewer->MouseMove(Shift, X - vb.Left, Y - vb.Top);
  }
}

void TKzCamMultiView::MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TScrollBox::MouseUp(Button, Shift, X, Y);
  ScrollBarMouseUp();
  if (FDragVI >= 0) {
    FDragVI = -1;
    SetCursor(TCursor::crDefault);
    return;
  }
  TKzCamViewItem* item = ItemAt(FMouseDownVI);
  FMouseDownVI = -1;
  if (item) {
    const TRect vb = item->FViewer->BoundsRect();
    item->FViewer->MouseUp(Button, Shift, X - vb.Left, Y - vb.Top);
  }
}

void TKzCamMultiView::DoMouseLeave() {
  TScrollBox::DoMouseLeave();
  UpdateHover(-1);
}

}  // namespace kz
