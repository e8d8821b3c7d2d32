// TKzCamView: mouse and keys, and the pan/tilt commands they give a movable
// camera.
#include "video/fmxMKzCamView.h"

#include <cmath>
#include <numbers>

#include "video/fmxMKzCamViewInternal.h"

namespace kz {

using namespace camview_detail;

namespace {
// The movement command for a set of commanded directions, first match wins.
struct TKzMoveCommand {
  bool Center, Left, Right, Up, Down;
  bool (IKzCamViewSource::*Move)();
};
constexpr TKzMoveCommand kMoveCommands[] = {
    {true, false, false, false, false, &IKzCamViewSource::MoveCenter},
    {false, true, false, true, false, &IKzCamViewSource::MoveLeftUp},
    {false, true, false, false, true, &IKzCamViewSource::MoveLeftDown},
    {false, false, true, true, false, &IKzCamViewSource::MoveRightUp},
    {false, false, true, false, true, &IKzCamViewSource::MoveRightDown},
    {false, true, false, false, false, &IKzCamViewSource::MoveLeft},
    {false, false, true, false, false, &IKzCamViewSource::MoveRight},
    {false, false, false, true, false, &IKzCamViewSource::MoveUp},
    {false, false, false, false, true, &IKzCamViewSource::MoveDown},
};

// Keys that command a direction (Space: the home position).
struct TKzMoveKey {
  uint16_t Key;
  bool TKzMoveDirections::*Flag;
};
constexpr TKzMoveKey kMoveKeys[] = {
    {vk::Left, &TKzMoveDirections::Left}, {vk::Right, &TKzMoveDirections::Right},
    {vk::Up, &TKzMoveDirections::Up},     {vk::Down, &TKzMoveDirections::Down},
    {vk::Space, &TKzMoveDirections::Center},
};

const TKzMoveKey* FindMoveKey(uint16_t Key) {
  for (const TKzMoveKey& k : kMoveKeys)
    if (k.Key == Key) return &k;
  return nullptr;
}

bool Matches(const TKzMoveCommand& C, const TKzMoveDirections& D) {
  return (!C.Center || D.Center) && (!C.Left || D.Left) && (!C.Right || D.Right) && (!C.Up || D.Up) &&
         (!C.Down || D.Down);
}
}  // namespace

TKzMoveDirections KzGetMoveDirections(float X, float Y, float RefX, float RefY, float CenterRadius) {
  TKzMoveDirections d;
  if (CenterRadius > 0 && std::hypot(X - RefX, Y - RefY) <= CenterRadius) {
    d.Center = true;
    return d;
  }
  // tan 60 degrees: each direction covers 60 degrees on either side of its
  // axis.
  constexpr double kTan60 = std::numbers::sqrt3;
  const double dx = std::round(kTan60 * std::fabs(X - RefX));
  const double dy = std::round(kTan60 * std::fabs(Y - RefY));
  const bool inHorizontal = RefY - dx <= Y && Y <= RefY + dx;
  const bool inVertical = RefX - dy <= X && X <= RefX + dy;
  d.Left = X < RefX && inHorizontal;
  d.Right = X > RefX && inHorizontal;
  d.Up = Y < RefY && inVertical;
  d.Down = Y > RefY && inVertical;
  return d;
}

void TKzCamView::HookBeginControl(TComponent* Sender) {
  if (OnBeginMove) OnBeginMove(Sender);
}

void TKzCamView::ViewerDoneControl(TComponent* Sender, int32_t Status) {
  if (OnEndMove) OnEndMove(Sender, Status);
  // Devices whose commands end by themselves keep moving while the press lasts.
  if (FDown.Any()) MoveStateDownButton();
}

// ---- Mouse and keys (main thread)

bool TKzCamView::CanMoveCamera() const {
  return FCamera && FCamMoveMode != TKzCamMoveMode::vcmmNone && FCamera->IsVideoPlaying() &&
         FCamera->GetAccessibleCamMethods().Contains(TKzCamMethod::kzcm_Move);
}

TPointF TKzCamView::MoveReference() const {
  if (FCamMoveMode == TKzCamMoveMode::vcmmToCursor) {
    const TRect c = GetClientArea();
    return TPointF{static_cast<float>(c.Left + c.Width() / 2), static_cast<float>(c.Top + c.Height() / 2)};
  }
  return FMouseDownPos;
}

TKzMoveDirections TKzCamView::DirectionsAt(float X, float Y) const {
  if (FCamMoveMode == TKzCamMoveMode::vcmmDrag && FMouseDownPos.X < 0) return {};
  const TPointF ref = MoveReference();
  const float radius =
      FCamMoveMode == TKzCamMoveMode::vcmmToCursor ? static_cast<float>((GetClientArea().Width() * 45 / 100) / 2.0) : 0;
  return KzGetMoveDirections(X, Y, ref.X, ref.Y, radius);
}

void TKzCamView::MoveStateDownButton() {
  if (!FCamera) return;
  for (const TKzMoveCommand& c : kMoveCommands) {
    if (Matches(c, FDown)) {
      (FCamera->*c.Move)();
      return;
    }
  }
}

bool TKzCamView::StopCommanded() {
  if (!FCamera) return false;
  bool sent = false;
  if (FDown.Left) sent = FCamera->MoveLeftStop() || sent;
  if (FDown.Right) sent = FCamera->MoveRightStop() || sent;
  if (FDown.Up) sent = FCamera->MoveUpStop() || sent;
  if (FDown.Down) sent = FCamera->MoveDownStop() || sent;
  return sent;
}

void TKzCamView::ResetStateDownButton() {
  if (StopCommanded() && OnBeginMove) OnBeginMove(VideoSource());
  FDown = {};
}

void TKzCamView::MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TTextControl::MouseDown(Button, Shift, X, Y);
  if (CanFocus() && !IsFocused()) SetFocus();
  if (Button != TMouseButton::mbLeft) return;
  if (FAllowFullScreen && FFullScreenButtonVisible && PtIn(GetFullScreenButtonRect(), X, Y)) {
    if (FFullScreenOwner) {
      if (TForm* form = ParentForm()) form->Close();
    } else {
      SetFullScreen(!FullScreen());
    }
    return;
  }
  if (CameraSearchPanelVisible() && PtIn(CalcAbortButtonRect(), X, Y)) {
    FbtnAbortClick = true;
    RepaintControl();
    return;
  }
  if (!CanMoveCamera()) return;
  if (FCamMoveMode == TKzCamMoveMode::vcmmToCursor) {
    FDown = DirectionsAt(X, Y);
    MoveStateDownButton();
  } else {
    FMouseDownPos = TPointF{X, Y};
    SetCursor(TCursor::crSizeAll);
  }
}

void TKzCamView::MouseMove(TShiftState Shift, float X, float Y) {
  TTextControl::MouseMove(Shift, X, Y);
  isInMove = true;
  UpdateFullScreenButton(X, Y);
  const bool abortHot = CameraSearchPanelVisible() && PtIn(CalcAbortButtonRect(), X, Y);
  if (abortHot != FbtnAbortHot) {
    FbtnAbortHot = abortHot;
    RepaintControl();
  }
  if (!CanMoveCamera()) return;
  FHover = DirectionsAt(X, Y);
  if (FCamMoveMode == TKzCamMoveMode::vcmmDrag && FMouseDownPos.X >= 0 && FHover != FDown) {
    ResetStateDownButton();
    FDown = FHover;
    MoveStateDownButton();
  }
}

void TKzCamView::MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TTextControl::MouseUp(Button, Shift, X, Y);
  if (FbtnAbortClick) {
    FbtnAbortClick = false;
    if (CameraSearchPanelVisible() && PtIn(CalcAbortButtonRect(), X, Y)) {
      if (TKzVideoSource* src = VideoSource()) src->Abort();
      if (OnButtonAbortClick) OnButtonAbortClick(this);
    }
    RepaintControl();
  }
  ResetStateDownButton();
  FMouseDownPos = TPointF{-1, -1};
  SetCursor(TCursor::crDefault);
}

void TKzCamView::DoMouseEnter() {
  TTextControl::DoMouseEnter();
  isInMove = true;
  RepaintControl();
}

void TKzCamView::DoMouseLeave() {
  TTextControl::DoMouseLeave();
  isInMove = false;
  FHover = {};
  FbtnAbortHot = false;
  ResetStateDownButton();
  RepaintControl();
}

void TKzCamView::KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TTextControl::KeyDown(Key, KeyChar, Shift);
  if (Key == vk::Escape && (Shift & (ssShift | ssAlt | ssCtrl)) == 0) {
    if (FFullScreenOwner) {
      if (TForm* form = ParentForm()) form->Close();
    } else if (FullScreen()) {
      SetFullScreen(false);
    }
    return;
  }
  const TKzMoveKey* k = FindMoveKey(Key);
  if (!k || !CanMoveCamera()) return;
  FDown.*(k->Flag) = true;
  MoveStateDownButton();
}

void TKzCamView::KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TTextControl::KeyUp(Key, KeyChar, Shift);
  if (FindMoveKey(Key)) ResetStateDownButton();
}

}  // namespace kz
