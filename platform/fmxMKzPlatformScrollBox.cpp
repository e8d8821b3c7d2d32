#include "platform/fmxMKzPlatformScrollBox.h"

#include <algorithm>

namespace kz {

namespace {
bool In(const TRect& R, float X, float Y) { return X >= R.Left && X < R.Right && Y >= R.Top && Y < R.Bottom; }

// Thumb along a track of Length pixels showing View of Content from Pos.
void ThumbSpan(int32_t Length, int32_t View, int32_t Content, int32_t Pos, int32_t& Start, int32_t& Size) {
  Size = std::max(16, static_cast<int32_t>(static_cast<int64_t>(Length) * View / std::max(Content, 1)));
  Size = std::min(Size, Length);
  const int32_t range = std::max(Content - View, 1);
  Start = static_cast<int32_t>(static_cast<int64_t>(Length - Size) * Pos / range);
}
}  // namespace

TScrollBox::TScrollBox(TComponent* AOwner) : TControl(AOwner) { SetCanFocus(true); }

TPoint TScrollBox::MaxScroll() const {
  return TPoint{std::max(0, FContentWidth - Width()), std::max(0, FContentHeight - Height())};
}

void TScrollBox::ClampScroll() {
  const TPoint m = MaxScroll();
  FScroll.X = std::clamp(FScroll.X, 0, m.X);
  FScroll.Y = std::clamp(FScroll.Y, 0, m.Y);
}

void TScrollBox::SetContentSize(int32_t Width, int32_t Height) {
  Width = std::max(Width, 0);
  Height = std::max(Height, 0);
  if (Width == FContentWidth && Height == FContentHeight) return;
  const TPoint before = FScroll;
  FContentWidth = Width;
  FContentHeight = Height;
  ClampScroll();
  if (!(before == FScroll)) ScrollChanged();
  Repaint();
}

void TScrollBox::SetScrollPos(int32_t X, int32_t Y) {
  const TPoint before = FScroll;
  FScroll = TPoint{X, Y};
  ClampScroll();
  if (before == FScroll) return;
  ScrollChanged();
  Repaint();
}

void TScrollBox::SetShowScrollBars(bool Value) {
  if (FShowScrollBars == Value) return;
  FShowScrollBars = Value;
  Repaint();
}

void TScrollBox::SetScrollBarColor(TAlphaColor Value) {
  if (FBarColor == Value) return;
  FBarColor = Value;
  Repaint();
}

void TScrollBox::Resize() {
  const TPoint before = FScroll;
  ClampScroll();
  if (!(before == FScroll)) ScrollChanged();
  TControl::Resize();
}

TRect TScrollBox::VertScrollBarRect() const {
  if (!FShowScrollBars || MaxScroll().Y == 0) return TRect();
  const int32_t bottom = MaxScroll().X > 0 ? Height() - ScrollBarSize : Height();
  return TRect(Width() - ScrollBarSize, 0, Width(), bottom);
}

TRect TScrollBox::HorzScrollBarRect() const {
  if (!FShowScrollBars || MaxScroll().X == 0) return TRect();
  const int32_t right = MaxScroll().Y > 0 ? Width() - ScrollBarSize : Width();
  return TRect(0, Height() - ScrollBarSize, right, Height());
}

TRect TScrollBox::VertThumbRect() const {
  const TRect t = VertScrollBarRect();
  if (t.IsEmpty()) return t;
  int32_t start, size;
  ThumbSpan(t.Height(), Height(), FContentHeight, FScroll.Y, start, size);
  return TRect(t.Left + 2, t.Top + start, t.Right - 2, t.Top + start + size);
}

TRect TScrollBox::HorzThumbRect() const {
  const TRect t = HorzScrollBarRect();
  if (t.IsEmpty()) return t;
  int32_t start, size;
  ThumbSpan(t.Width(), Width(), FContentWidth, FScroll.X, start, size);
  return TRect(t.Left + start, t.Top + 2, t.Left + start + size, t.Bottom - 2);
}

void TScrollBox::Paint(TCanvas& Canvas) {
  PaintContent(Canvas);
  DrawScrollBars(Canvas);
}

void TScrollBox::DrawScrollBars(TCanvas& Canvas) {
  const TAlphaColor track = (FBarColor & 0x00FFFFFFu) | ((FBarColor >> 26) << 24);  // a quarter of the alpha
  for (const TRect& bar : {VertScrollBarRect(), HorzScrollBarRect()})
    if (!bar.IsEmpty()) Canvas.FillRect(bar, track);
  for (const TRect& thumb : {VertThumbRect(), HorzThumbRect()})
    if (!thumb.IsEmpty()) Canvas.FillRect(thumb, FBarColor);
}

void TScrollBox::MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) {
  TControl::MouseWheel(Shift, WheelDelta, Handled);
  if (Handled) return;
  const int32_t by = -WheelDelta * WheelStep / 120;
  const TPoint before = FScroll;
  if ((Shift & ssShift) || MaxScroll().Y == 0)
    SetScrollPos(FScroll.X + by, FScroll.Y);
  else
    SetScrollPos(FScroll.X, FScroll.Y + by);
  Handled = !(before == FScroll);
}

bool TScrollBox::ScrollBarMouseDown(float X, float Y) {
  const TRect v = VertScrollBarRect(), h = HorzScrollBarRect();
  if (In(v, X, Y)) {
    const TRect thumb = VertThumbRect();
    if (In(thumb, X, Y)) {
      FDragBar = 1;
      FDragFrom = Y;
      FDragScroll = FScroll.Y;
    } else {  // a page towards the press
      SetScrollPos(FScroll.X, FScroll.Y + (Y < thumb.Top ? -Height() : Height()));
    }
    return true;
  }
  if (In(h, X, Y)) {
    const TRect thumb = HorzThumbRect();
    if (In(thumb, X, Y)) {
      FDragBar = 2;
      FDragFrom = X;
      FDragScroll = FScroll.X;
    } else {
      SetScrollPos(FScroll.X + (X < thumb.Left ? -Width() : Width()), FScroll.Y);
    }
    return true;
  }
  return false;
}

bool TScrollBox::ScrollBarMouseMove(float X, float Y) {
  if (FDragBar == 0) return false;
  // Thumb pixels to content pixels: the free track maps onto the scroll range.
  if (FDragBar == 1) {
    const TRect t = VertScrollBarRect(), th = VertThumbRect();
    const int32_t free = std::max(t.Height() - th.Height(), 1);
    SetScrollPos(FScroll.X, FDragScroll + static_cast<int32_t>((Y - FDragFrom) * MaxScroll().Y / free));
  } else {
    const TRect t = HorzScrollBarRect(), th = HorzThumbRect();
    const int32_t free = std::max(t.Width() - th.Width(), 1);
    SetScrollPos(FDragScroll + static_cast<int32_t>((X - FDragFrom) * MaxScroll().X / free), FScroll.Y);
  }
  return true;
}

bool TScrollBox::ScrollBarMouseUp() {
  const bool was = FDragBar != 0;
  FDragBar = 0;
  return was;
}

}  // namespace kz
