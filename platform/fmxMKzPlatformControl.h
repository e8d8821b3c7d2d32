// Controls and forms: rectangles on a window that paint with a canvas and
// take the mouse and the keyboard. A form is a top-level control shown by a
// window host (a desktop window, or a headless surface for tests and
// snapshots; see fmxMKzPlatformWindowHost.h).
//
// Everything here runs on the main thread. Repaint and InvalidateRect only
// mark areas; the form paints them once, later, on the main thread, however
// many requests came in between (they coalesce).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformTypes.h"

namespace kz {

class TForm;
class IKzWindow;

enum class TAlignLayout : uint8_t { None = 0, Client = 1 };
enum class TMouseButton : uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// Modifier keys and held buttons, combined as flags.
enum TShiftStateFlag : uint16_t {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64,
};
using TShiftState = uint16_t;

// Virtual key codes (the values of the original platform's key codes).
namespace vk {
constexpr uint16_t Back = 8, Tab = 9, Return = 13, Escape = 27, Space = 32, End = 35, Home = 36, Left = 37,
                   Up = 38, Right = 39, Down = 40, Delete = 46;
constexpr uint16_t F11 = 122;
}  // namespace vk

enum class TCursor : uint8_t { crDefault = 0, crArrow, crHandPoint, crSizeAll, crCross, crIBeam };

struct TPointF {
  float X = 0;
  float Y = 0;
  bool operator==(const TPointF&) const = default;
};

// Font and placement of a control's text.
struct TTextSettings {
  TKzFont Font;
  TKzTextAlign HorzAlign = TKzTextAlign::kztaLeading;
  TKzTextAlign VertAlign = TKzTextAlign::kztaCenter;
  bool operator==(const TTextSettings&) const = default;
};

class TControl : public TComponent {
public:
  // Main thread, never blocks.
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  // ---- Tree. A control paints inside its parent; the root is a form.
  TControl* Parent() const { return FParent; }
  void SetParent(TControl* Value);
  const std::vector<TControl*>& Controls() const { return FControls; }
  // The form this control is on, nullptr when none.
  TForm* ParentForm() const;

  // ---- Geometry, in the parent's coordinates (whole pixels).
  TRect BoundsRect() const { return FBounds; }
  void SetBounds(int32_t X, int32_t Y, int32_t Width, int32_t Height);
  void SetBoundsRect(const TRect& Rect) { SetBounds(Rect.Left, Rect.Top, Rect.Width(), Rect.Height()); }
  int32_t Width() const { return FBounds.Width(); }
  int32_t Height() const { return FBounds.Height(); }
  void SetSize(int32_t Width, int32_t Height) { SetBounds(FBounds.Left, FBounds.Top, Width, Height); }
  // (0, 0, Width, Height).
  TRect LocalRect() const { return TRect(0, 0, Width(), Height()); }
  // The control's rectangle in its form's coordinates.
  TRect AbsoluteRect() const;
  TPoint LocalToAbsolute(TPoint P) const;
  TPoint AbsoluteToLocal(TPoint P) const;

  // Client alignment fills the parent and follows its size.
  TAlignLayout Align() const { return FAlign; }
  void SetAlign(TAlignLayout Value);

  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);

  // ---- Painting
  // Marks the whole control / part of it (local coordinates) for painting.
  void Repaint();
  void InvalidateRect(const TRect& Rect);
  // True when the control is on a form that a window host shows (it can
  // paint and receive input).
  bool IsHandleAllocated() const;

  // ---- Focus and cursor
  bool CanFocus() const { return FCanFocus; }
  void SetCanFocus(bool Value) { FCanFocus = Value; }
  bool IsFocused() const;
  void SetFocus();
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);
  // True while the mouse is over this control (or it holds the capture).
  bool IsMouseOver() const { return FMouseOver; }

  // ---- Events (main thread), fired after the virtual handlers' defaults.
  std::function<void(TComponent*)> OnResize;
  std::function<void(TComponent*, TMouseButton, TShiftState, float, float)> OnMouseDown;
  std::function<void(TComponent*, TShiftState, float, float)> OnMouseMove;
  std::function<void(TComponent*, TMouseButton, TShiftState, float, float)> OnMouseUp;
  std::function<void(TComponent*)> OnMouseEnter;
  std::function<void(TComponent*)> OnMouseLeave;
  std::function<void(TComponent*)> OnDblClick;
  std::function<void(TComponent*, TShiftState, int32_t, bool&)> OnMouseWheel;
  std::function<void(TComponent*, uint16_t&, char32_t&, TShiftState)> OnKeyDown;
  std::function<void(TComponent*, uint16_t&, char32_t&, TShiftState)> OnKeyUp;

  // ---- Input entry points: a form routes events here (local coordinates).
  // A press captures the mouse until the release. Overrides call the
  // inherited handler to keep the events firing.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y);
  virtual void MouseMove(TShiftState Shift, float X, float Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y);
  virtual void DoMouseEnter();
  virtual void DoMouseLeave();
  virtual void DblClick();
  // WheelDelta: 120 per notch, positive away from the user. A control that
  // uses the turn sets Handled; otherwise its parent gets it.
  virtual void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled);
  // Key is a vk:: code (0 for a pure character); KeyChar the typed character
  // (0 for none). A handler may zero either to consume it.
  virtual void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift);
  virtual void KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift);
  virtual void DoEnter() {}  // focus arrived
  virtual void DoExit() {}   // focus left

  // Paints the control into Canvas, whose origin is the control's top-left
  // corner and whose clip is the control's visible part. Children paint after
  // their parent. Called by the form on the main thread.
  virtual void Paint(TCanvas& Canvas);
  void PaintTree(TCanvas& Canvas);

protected:
  // The size changed (also after client alignment).
  virtual void Resize();
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  friend class TForm;
  void RealignChildren();
  TControl* FindControlAt(TPoint Local);
  // Visible together with every parent.
  bool IsVisibleInTree() const;
  bool Contains(const TControl* Control) const;

  TControl* FParent = nullptr;
  std::vector<TControl*> FControls;
  TRect FBounds;
  TAlignLayout FAlign = TAlignLayout::None;
  bool FVisible = true;
  bool FCanFocus = false;
  bool FMouseOver = false;
  TCursor FCursor = TCursor::crDefault;
};

// A control with a font and placement for its text.
class TTextControl : public TControl {
public:
  explicit TTextControl(TComponent* AOwner);
  TTextSettings& TextSettings() { return FTextSettings; }
  const TTextSettings& TextSettings() const { return FTextSettings; }
  void SetTextSettings(const TTextSettings& Value);
  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);

private:
  TTextSettings FTextSettings;
  std::string FText;
};

enum class TFormBorderStyle : uint8_t { bsSizeable = 0, bsNone = 1, bsDialog = 2 };
enum class TWindowState : uint8_t { wsNormal = 0, wsMaximized = 1, wsFullScreen = 2 };
enum class TModalResult : uint8_t { mrNone = 0, mrOk = 1, mrCancel = 2 };

// A top-level window. Its pixels live in a surface of its size; the window
// host shows them. Closing hides the form (OnClose may free it later, never
// inside its own handler: use QueueOnMainThread).
class TForm : public TControl {
public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value);
  TAlphaColor Fill() const { return FFill; }
  void SetFill(TAlphaColor Value);
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value);
  bool StayOnTop() const { return FStayOnTop; }
  void SetStayOnTop(bool Value);
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState Value);
  // Full screen / maximised on the display that shows Control (nullptr:
  // the primary display). Takes effect with the next Show or state change.
  void SetDisplayOf(TControl* Control);
  TControl* DisplayOf() const { return FDisplayOf; }
  // The window showing the form (nullptr while hidden). Main thread.
  IKzWindow* Window() const { return FWindow.get(); }

  // Shows the form through the current window host. Main thread, never blocks.
  void Show();
  // Hides the form and fires OnClose. Main thread, never blocks.
  void Close();
  bool Showing() const { return FWindow != nullptr; }
  // Shows the form and runs the main loop until ModalResult is set or the
  // form is closed (mrCancel). Main thread; blocks while shown.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value);

  TControl* Focused() const { return FFocused; }
  void SetFocused(TControl* Control);

  // Paints the marked areas now (normally the form does it by itself on the
  // main thread). Main thread.
  void PaintPending();
  // The form's pixels as last painted. Main thread.
  const TKzPixelSurface& Surface() const { return FSurface; }

  // ---- Input from the window host (form coordinates). Main thread.
  void HostMouseDown(TMouseButton Button, TShiftState Shift, float X, float Y, bool DoubleClick);
  void HostMouseMove(TShiftState Shift, float X, float Y);
  void HostMouseUp(TMouseButton Button, TShiftState Shift, float X, float Y);
  void HostMouseLeave();
  // A wheel turn over (X, Y): the control there, then its parents.
  void HostMouseWheel(TShiftState Shift, int32_t WheelDelta, float X, float Y);
  void HostKeyDown(uint16_t Key, char32_t KeyChar, TShiftState Shift);
  void HostKeyUp(uint16_t Key, char32_t KeyChar, TShiftState Shift);
  // The window's size changed (the host resized it).
  void HostResize(int32_t Width, int32_t Height);
  // The window was closed by the user.
  void HostClose();

  std::function<void(TComponent*)> OnClose;
  std::function<void(TComponent*)> OnShow;

  // Paints the form's background (Fill).
  void Paint(TCanvas& Canvas) override;

protected:
  void Resize() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  friend class TControl;
  void MarkDirty(const TRect& FormRect);
  void ApplyCursor();
  // Drops every reference to Control and the controls inside it (it is
  // being freed, hidden or moved to another form).
  void ForgetControls(TControl* Control);
  void UpdateHover(TControl* Target);
  // Keys go to the focused control, then (unless consumed) to the form.
  using TKeyHandler = void (TControl::*)(uint16_t&, char32_t&, TShiftState);
  void RouteKey(TKeyHandler Handler, uint16_t Key, char32_t KeyChar, TShiftState Shift);
  TControl* MouseTarget(float X, float Y);
  TPoint DisplayPoint() const;
  void ApplyWindowState();

  std::string FCaption;
  TAlphaColor FFill = 0xFFF0F0F0u;
  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  bool FStayOnTop = false;
  TWindowState FWindowState = TWindowState::wsNormal;
  TControl* FDisplayOf = nullptr;
  TModalResult FModalResult = TModalResult::mrNone;
  TControl* FFocused = nullptr;
  TControl* FCaptured = nullptr;
  TControl* FHovered = nullptr;
  std::unique_ptr<IKzWindow> FWindow;
  std::vector<uint32_t> FPixels;
  TKzPixelSurface FSurface;
  TRect FDirty;
  bool FPaintQueued = false;
  bool FInHostResize = false;
  bool FInModal = false;
  // Expires with the form: queued paints and input routing check it, since
  // a handler may free the form.
  std::shared_ptr<TForm*> FAlive;
};

}  // namespace kz
