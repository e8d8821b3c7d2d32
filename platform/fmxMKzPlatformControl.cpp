#include "platform/fmxMKzPlatformControl.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "platform/fmxMKzPlatformWindowHost.h"

namespace kz {

namespace {

TRect UnionRect(const TRect& A, const TRect& B) {
  if (A.IsEmpty()) return B;
  if (B.IsEmpty()) return A;
  return TRect(std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
               std::max(A.Bottom, B.Bottom));
}

TRect OffsetRect(const TRect& R, TPoint By) {
  return TRect(R.Left + By.X, R.Top + By.Y, R.Right + By.X, R.Bottom + By.Y);
}

bool PtInRect(const TRect& R, TPoint P) { return P.X >= R.Left && P.X < R.Right && P.Y >= R.Top && P.Y < R.Bottom; }

TPoint ToPoint(float X, float Y) {
  return TPoint{static_cast<int32_t>(std::floor(X)), static_cast<int32_t>(std::floor(Y))};
}

}  // namespace

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  Destroying();
  // Children are owned by their owners, not by their parent: they only lose
  // their place in the tree.
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
  SetParent(nullptr);
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->FParent) c = c->FParent;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

bool TControl::Contains(const TControl* Control) const {
  for (const TControl* c = Control; c; c = c->FParent)
    if (c == this) return true;
  return false;
}

bool TControl::IsVisibleInTree() const {
  for (const TControl* c = this; c; c = c->FParent)
    if (!c->FVisible) return false;
  return true;
}

void TControl::SetParent(TControl* Value) {
  if (Value == FParent) return;
  if (Value && Contains(Value)) throw std::invalid_argument("A control cannot be placed inside itself");
  if (dynamic_cast<TForm*>(this) && Value) throw std::invalid_argument("A form cannot have a parent");
  TForm* oldForm = ParentForm();
  if (FParent) {
    if (FVisible) FParent->InvalidateRect(FBounds);
    auto& list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    FParent = nullptr;
  }
  if (oldForm && oldForm != this) oldForm->ForgetControls(this);
  if (!Value) return;
  FParent = Value;
  Value->FControls.push_back(this);
  if (FAlign == TAlignLayout::Client)
    SetBoundsRect(Value->LocalRect());
  else
    Repaint();
}

void TControl::SetBounds(int32_t X, int32_t Y, int32_t Width, int32_t Height) {
  Width = std::max(Width, 0);
  Height = std::max(Height, 0);
  const TRect next(X, Y, X + Width, Y + Height);
  if (next == FBounds) return;
  const bool resized = next.Width() != FBounds.Width() || next.Height() != FBounds.Height();
  if (FParent && FVisible) FParent->InvalidateRect(FBounds);
  FBounds = next;
  if (auto* form = dynamic_cast<TForm*>(this); form && !FParent && form->FWindow && !form->FInHostResize)
    form->FWindow->SetBounds(FBounds);
  if (resized) {
    RealignChildren();
    Resize();
  }
  Repaint();
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

void TControl::RealignChildren() {
  const TRect local = LocalRect();
  // A handler run by a child's resize may change the list: walk a copy.
  const std::vector<TControl*> children = FControls;
  for (TControl* c : children)
    if (c->FAlign == TAlignLayout::Client && c->FParent == this) c->SetBoundsRect(local);
}

void TControl::SetAlign(TAlignLayout Value) {
  if (FAlign == Value) return;
  FAlign = Value;
  if (FAlign == TAlignLayout::Client && FParent) SetBoundsRect(FParent->LocalRect());
}

void TControl::SetVisible(bool Value) {
  if (FVisible == Value) return;
  if (auto* form = dynamic_cast<TForm*>(this); form && !FParent) {
    FVisible = Value;
    if (Value)
      form->Show();
    else
      form->Close();
    return;
  }
  if (FParent && FVisible) FParent->InvalidateRect(FBounds);
  FVisible = Value;
  if (!Value) {
    if (TForm* form = ParentForm()) form->ForgetControls(this);
  } else {
    Repaint();
  }
}

TRect TControl::AbsoluteRect() const {
  const TPoint p = LocalToAbsolute(TPoint{0, 0});
  return TRect(p.X, p.Y, p.X + Width(), p.Y + Height());
}

TPoint TControl::LocalToAbsolute(TPoint P) const {
  // The root's own position is its place on the screen, not in the form.
  for (const TControl* c = this; c->FParent; c = c->FParent) {
    P.X += c->FBounds.Left;
    P.Y += c->FBounds.Top;
  }
  return P;
}

TPoint TControl::AbsoluteToLocal(TPoint P) const {
  const TPoint o = LocalToAbsolute(TPoint{0, 0});
  return TPoint{P.X - o.X, P.Y - o.Y};
}

void TControl::Repaint() { InvalidateRect(LocalRect()); }

void TControl::InvalidateRect(const TRect& Rect) {
  TForm* form = ParentForm();
  if (!form || !IsVisibleInTree()) return;
  const TRect local = IntersectRect(Rect, LocalRect());
  if (local.IsEmpty()) return;
  form->MarkDirty(OffsetRect(local, LocalToAbsolute(TPoint{0, 0})));
}

bool TControl::IsHandleAllocated() const {
  const TForm* form = ParentForm();
  return form && form->Showing() && !IsDestroying();
}

bool TControl::IsFocused() const {
  const TForm* form = ParentForm();
  return form && form->FFocused == this;
}

void TControl::SetFocus() {
  TForm* form = ParentForm();
  if (form && (FCanFocus || form == this) && IsVisibleInTree()) form->SetFocused(this == form ? nullptr : this);
}

void TControl::SetCursor(TCursor Value) {
  if (FCursor == Value) return;
  FCursor = Value;
  if (TForm* form = ParentForm()) form->ApplyCursor();
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}
void TControl::MouseMove(TShiftState Shift, float X, float Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}
void TControl::MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}
void TControl::DoMouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TControl::DoMouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}
void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}
void TControl::MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) {
  if (OnMouseWheel) OnMouseWheel(this, Shift, WheelDelta, Handled);
}
void TControl::KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, KeyChar, Shift);
}
void TControl::KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, KeyChar, Shift);
}

void TControl::Paint(TCanvas&) {}

void TControl::PaintTree(TCanvas& Canvas) {
  if (!FVisible) return;
  Canvas.SaveState();
  Canvas.IntersectClip(LocalRect());
  if (!Canvas.ClipRect().IsEmpty()) {
    Paint(Canvas);
    // Painting must not change the tree, but a copy keeps a careless
    // handler from invalidating the walk.
    const std::vector<TControl*> children = FControls;
    for (TControl* c : children) {
      if (!c->FVisible || IntersectRect(Canvas.ClipRect(), c->FBounds).IsEmpty()) continue;
      Canvas.SaveState();
      Canvas.Translate(c->FBounds.Left, c->FBounds.Top);
      c->PaintTree(Canvas);
      Canvas.RestoreState();
    }
  }
  Canvas.RestoreState();
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
}

TControl* TControl::FindControlAt(TPoint Local) {
  if (!FVisible || !PtInRect(LocalRect(), Local)) return nullptr;
  // The last child paints last, so it is the topmost.
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl* c = *it;
    if (TControl* hit = c->FindControlAt(TPoint{Local.X - c->FBounds.Left, Local.Y - c->FBounds.Top})) return hit;
  }
  return this;
}

// ------------------------------------------------------------ TTextControl

TTextControl::TTextControl(TComponent* AOwner) : TControl(AOwner) {}

void TTextControl::SetTextSettings(const TTextSettings& Value) {
  if (FTextSettings == Value) return;
  FTextSettings = Value;
  Repaint();
}

void TTextControl::SetText(const std::string& Value) {
  if (FText == Value) return;
  FText = Value;
  Repaint();
}

// ------------------------------------------------------------------- TForm

TForm::TForm(TComponent* AOwner) : TControl(AOwner), FAlive(std::make_shared<TForm*>(this)) {
  SetBounds(0, 0, 640, 480);
}

TForm::~TForm() {
  Destroying();
  FAlive.reset();
  FWindow.reset();
  if (FDisplayOf) RemoveFreeNotification(FDisplayOf);
  FDisplayOf = nullptr;
  FFocused = FCaptured = FHovered = nullptr;
}

void TForm::Notification(TComponent* AComponent, TOperation Operation) {
  TControl::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FDisplayOf) FDisplayOf = nullptr;
}

void TForm::SetDisplayOf(TControl* Control) {
  if (FDisplayOf == Control) return;
  if (FDisplayOf) RemoveFreeNotification(FDisplayOf);
  FDisplayOf = Control;
  if (FDisplayOf) FreeNotification(FDisplayOf);
}

void TForm::SetCaption(const std::string& Value) {
  FCaption = Value;
  if (FWindow) FWindow->SetCaption(Value);
}

void TForm::SetFill(TAlphaColor Value) {
  if (FFill == Value) return;
  FFill = Value;
  Repaint();
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
  FBorderStyle = Value;
  if (FWindow) FWindow->SetBorderless(Value == TFormBorderStyle::bsNone);
}

void TForm::SetStayOnTop(bool Value) {
  FStayOnTop = Value;
  if (FWindow) FWindow->SetStayOnTop(Value);
}

void TForm::SetWindowState(TWindowState Value) {
  FWindowState = Value;
  ApplyWindowState();
}

TPoint TForm::DisplayPoint() const {
  if (FDisplayOf) {
    const TForm* other = FDisplayOf->ParentForm();
    if (other && other->FWindow) {
      const TRect r = FDisplayOf->AbsoluteRect();
      const TPoint o = other->FWindow->ScreenOrigin();
      return TPoint{o.X + (r.Left + r.Right) / 2, o.Y + (r.Top + r.Bottom) / 2};
    }
  }
  if (FWindow) {
    const TPoint o = FWindow->ScreenOrigin();
    return TPoint{o.X + Width() / 2, o.Y + Height() / 2};
  }
  return TPoint{BoundsRect().Left + Width() / 2, BoundsRect().Top + Height() / 2};
}

void TForm::ApplyWindowState() {
  if (FWindow) FWindow->SetState(static_cast<uint8_t>(FWindowState), DisplayPoint());
}

void TForm::Show() {
  FVisible = true;
  if (FWindow) return;
  FWindow = KzWindowHost().CreateWindow(*this);
  FWindow->SetCaption(FCaption);
  FWindow->SetBorderless(FBorderStyle == TFormBorderStyle::bsNone);
  FWindow->SetStayOnTop(FStayOnTop);
  FWindow->SetBounds(BoundsRect());
  if (FWindowState != TWindowState::wsNormal) ApplyWindowState();
  ApplyCursor();
  MarkDirty(LocalRect());
  if (OnShow) OnShow(this);
}

void TForm::Close() {
  if (!FWindow) return;
  UpdateHover(nullptr);
  FCaptured = nullptr;
  FWindow.reset();
  FVisible = false;
  if (FInModal && FModalResult == TModalResult::mrNone) FModalResult = TModalResult::mrCancel;
  if (OnClose) OnClose(this);
}

void TForm::SetModalResult(TModalResult Value) {
  FModalResult = Value;
  WakeMainThread();
}

TModalResult TForm::ShowModal() {
  std::weak_ptr<TForm*> alive = FAlive;
  FModalResult = TModalResult::mrNone;
  FInModal = true;
  Show();
  while (!alive.expired() && FModalResult == TModalResult::mrNone && FWindow && !Application().Terminated()) {
    Application().ProcessMessages();
    if (alive.expired() || FModalResult != TModalResult::mrNone || !FWindow) break;
    int wait = MsUntilNextTimer();
    if (wait < 0 || wait > 100 || KzVirtualClockActive()) wait = 100;
    WaitForMainThreadWork(wait);
  }
  if (alive.expired()) return TModalResult::mrCancel;
  FInModal = false;
  if (FModalResult == TModalResult::mrNone) FModalResult = TModalResult::mrCancel;
  const TModalResult result = FModalResult;
  Close();
  return result;
}

void TForm::SetFocused(TControl* Control) {
  if (Control == this) Control = nullptr;
  if (Control && (Control->ParentForm() != this || !Control->IsVisibleInTree())) return;
  if (FFocused == Control) return;
  TControl* old = FFocused;
  FFocused = Control;
  // The focus may move again inside these handlers; only the latest wins.
  if (old) old->DoExit();
  if (Control && FFocused == Control) Control->DoEnter();
}

void TForm::ForgetControls(TControl* Control) {
  if (!Control) return;
  if (FFocused && Control->Contains(FFocused)) {
    TControl* old = FFocused;
    FFocused = nullptr;
    if (!old->IsDestroying()) old->DoExit();
  }
  if (FCaptured && Control->Contains(FCaptured)) FCaptured = nullptr;
  if (FHovered && Control->Contains(FHovered)) {
    TControl* old = FHovered;
    FHovered = nullptr;
    old->FMouseOver = false;
    if (!old->IsDestroying()) old->DoMouseLeave();
    ApplyCursor();
  }
  if (FDisplayOf && Control->Contains(FDisplayOf) && Control->IsDestroying()) SetDisplayOf(nullptr);
}

void TForm::MarkDirty(const TRect& FormRect) {
  const TRect r = IntersectRect(FormRect, LocalRect());
  if (r.IsEmpty()) return;
  FDirty = UnionRect(FDirty, r);
  if (FPaintQueued || !FWindow) return;
  FPaintQueued = true;
  std::weak_ptr<TForm*> alive = FAlive;
  QueueOnMainThread([alive] {
    if (auto self = alive.lock()) {
      if ((*self)->FPaintQueued) (*self)->PaintPending();
    }
  });
}

void TForm::PaintPending() {
  FPaintQueued = false;
  if (FDirty.IsEmpty() || FSurface.IsEmpty()) return;
  // Requests made while painting queue the next paint.
  const TRect dirty = FDirty;
  FDirty = TRect();
  {
    TCanvas canvas(FSurface);
    canvas.IntersectClip(dirty);
    PaintTree(canvas);
  }
  if (FWindow) FWindow->Present(FSurface, dirty);
}

void TForm::Paint(TCanvas& Canvas) { Canvas.FillRect(LocalRect(), FFill); }

void TForm::Resize() {
  const int32_t w = Width(), h = Height();
  if (w != FSurface.Width || h != FSurface.Height) {
    FPixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), FFill);
    FSurface = TKzPixelSurface{FPixels.empty() ? nullptr : FPixels.data(), w, h, w};
    FDirty = TRect();
    MarkDirty(LocalRect());
  }
  TControl::Resize();
}

void TForm::ApplyCursor() {
  if (!FWindow) return;
  TCursor cursor = TCursor::crDefault;
  for (TControl* c = FCaptured ? FCaptured : FHovered; c; c = c->FParent) {
    if (c->FCursor != TCursor::crDefault) {
      cursor = c->FCursor;
      break;
    }
  }
  FWindow->SetCursor(cursor);
}

void TForm::UpdateHover(TControl* Target) {
  if (Target == FHovered) return;
  TControl* old = FHovered;
  FHovered = Target;
  if (old) {
    old->FMouseOver = false;
    old->DoMouseLeave();
  }
  // A leave handler may have freed the new target or moved the hover.
  if (Target && FHovered == Target) {
    Target->FMouseOver = true;
    Target->DoMouseEnter();
  }
  ApplyCursor();
}

TControl* TForm::MouseTarget(float X, float Y) {
  if (FCaptured) return FCaptured;
  TControl* hit = FindControlAt(ToPoint(X, Y));
  return hit ? hit : this;
}

void TForm::HostMouseMove(TShiftState Shift, float X, float Y) {
  std::weak_ptr<TForm*> alive = FAlive;
  if (!FCaptured) UpdateHover(MouseTarget(X, Y));
  if (alive.expired()) return;
  if (TControl* target = FCaptured ? FCaptured : FHovered) {
    const TPoint o = target->LocalToAbsolute(TPoint{0, 0});
    target->MouseMove(Shift, X - o.X, Y - o.Y);
  }
}

void TForm::HostMouseDown(TMouseButton Button, TShiftState Shift, float X, float Y, bool DoubleClick) {
  std::weak_ptr<TForm*> alive = FAlive;
  if (!FCaptured) {
    UpdateHover(MouseTarget(X, Y));
    if (alive.expired()) return;
  }
  TControl* target = FCaptured ? FCaptured : (FHovered ? FHovered : this);
  FCaptured = target;
  if (target != this && target->CanFocus()) {
    SetFocused(target);
    if (alive.expired() || FCaptured != target) return;
  }
  if (DoubleClick) Shift |= ssDouble;
  const TPoint o = target->LocalToAbsolute(TPoint{0, 0});
  target->MouseDown(Button, Shift, X - o.X, Y - o.Y);
  // The handler may have freed the target (the form forgets it then).
  if (DoubleClick && !alive.expired() && FCaptured == target) target->DblClick();
}

void TForm::HostMouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  std::weak_ptr<TForm*> alive = FAlive;
  TControl* target = MouseTarget(X, Y);
  const TPoint o = target->LocalToAbsolute(TPoint{0, 0});
  target->MouseUp(Button, Shift, X - o.X, Y - o.Y);
  if (alive.expired()) return;
  FCaptured = nullptr;
  // With the capture gone the mouse may be over another control now.
  if (FWindow && PtInRect(LocalRect(), ToPoint(X, Y)))
    UpdateHover(MouseTarget(X, Y));
  else
    UpdateHover(nullptr);
}

void TForm::HostMouseLeave() {
  if (!FCaptured) UpdateHover(nullptr);
}

void TForm::HostMouseWheel(TShiftState Shift, int32_t WheelDelta, float X, float Y) {
  std::weak_ptr<TForm*> alive = FAlive;
  bool handled = false;
  for (TControl* c = MouseTarget(X, Y); c && !handled; c = c->FParent) {
    c->MouseWheel(Shift, WheelDelta, handled);
    if (alive.expired()) return;
  }
}

void TForm::RouteKey(TKeyHandler Handler, uint16_t Key, char32_t KeyChar, TShiftState Shift) {
  std::weak_ptr<TForm*> alive = FAlive;
  if (FFocused) {
    (FFocused->*Handler)(Key, KeyChar, Shift);
    // Consumed, or the handler freed the form.
    if (alive.expired() || (Key == 0 && KeyChar == 0)) return;
  }
  (this->*Handler)(Key, KeyChar, Shift);
}

void TForm::HostKeyDown(uint16_t Key, char32_t KeyChar, TShiftState Shift) {
  RouteKey(&TControl::KeyDown, Key, KeyChar, Shift);
}

void TForm::HostKeyUp(uint16_t Key, char32_t KeyChar, TShiftState Shift) {
  RouteKey(&TControl::KeyUp, Key, KeyChar, Shift);
}

void TForm::HostResize(int32_t Width, int32_t Height) {
  FInHostResize = true;
  SetBounds(BoundsRect().Left, BoundsRect().Top, Width, Height);
  FInHostResize = false;
}

void TForm::HostClose() { Close(); }

}  // namespace kz
