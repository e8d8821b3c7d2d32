// A control whose content may be larger than itself: it keeps the content's
// extent and the scroll position, draws scroll bars with the canvas over
// the content's edges when the content does not fit, and scrolls with the
// mouse wheel (Shift: sideways) and by dragging a bar's thumb or pressing
// beside it. Subclasses paint the content (PaintContent) in the control's
// own coordinates, shifted by the scroll position themselves, and hear of
// every scroll (ScrollChanged). Main thread only.
#pragma once
#include <cstdint>

#include "platform/fmxMKzPlatformControl.h"

namespace kz {

class TScrollBox : public TControl {
public:
  static constexpr int32_t ScrollBarSize = 12;
  // Pixels one wheel notch (120) scrolls.
  static constexpr int32_t WheelStep = 48;

  explicit TScrollBox(TComponent* AOwner);

  // The content's size; the scroll position is kept inside it.
  int32_t ContentWidth() const { return FContentWidth; }
  int32_t ContentHeight() const { return FContentHeight; }
  void SetContentSize(int32_t Width, int32_t Height);
  // The content point shown at the control's top-left corner.
  TPoint ScrollPos() const { return FScroll; }
  void SetScrollPos(int32_t X, int32_t Y);
  // The largest scroll position in each direction (0: no bar).
  TPoint MaxScroll() const;
  bool ShowScrollBars() const { return FShowScrollBars; }
  void SetShowScrollBars(bool Value);
  TAlphaColor ScrollBarColor() const { return FBarColor; }
  void SetScrollBarColor(TAlphaColor Value);

  // The bars' tracks and thumbs in the control's coordinates (empty without
  // that bar).
  TRect VertScrollBarRect() const;
  TRect HorzScrollBarRect() const;
  TRect VertThumbRect() const;
  TRect HorzThumbRect() const;

  // Content painted first, bars over it.
  void Paint(TCanvas& Canvas) override;
  void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) override;

protected:
  virtual void PaintContent(TCanvas& Canvas) { (void)Canvas; }
  // The scroll position changed (content moved on the screen).
  virtual void ScrollChanged() {}
  void Resize() override;
  // For subclasses' mouse handlers: true when the bars took the event.
  bool ScrollBarMouseDown(float X, float Y);
  bool ScrollBarMouseMove(float X, float Y);
  bool ScrollBarMouseUp();
  void DrawScrollBars(TCanvas& Canvas);

private:
  void ClampScroll();
  TPoint FScroll;
  int32_t FContentWidth = 0;
  int32_t FContentHeight = 0;
  bool FShowScrollBars = true;
  TAlphaColor FBarColor = 0xA0606060u;
  // Thumb being dragged: 1 vertical, 2 horizontal; the press point and the
  // scroll position then.
  int FDragBar = 0;
  float FDragFrom = 0;
  int32_t FDragScroll = 0;
};

}  // namespace kz
