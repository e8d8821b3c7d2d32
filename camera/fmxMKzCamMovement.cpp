// Pan/tilt movement of the camera: the movement flags, the move and stop
// commands of IP cameras (with the stop deferred while the move command
// runs), capture devices' own movement, and the 100 ms timer that resends a
// held movement to cameras whose moves do not last by themselves.
#include "camera/fmxMKzCamera.h"

#include "camera/fmxMKzIPCameraAPI.h"

namespace kz {

namespace {
using M = TKzCamMovementEx;

// The single movements a movement consists of (flag indexes 1..6); none
// for the home position.
struct TKzMoveParts {
  M Movement;
  int8_t A, B;  // 0: none
  TKzCamCommand Command;
  M Flipped;  // the same movement with up and down exchanged
};
constexpr TKzMoveParts kMoves[] = {
    {M::kzdHome, 0, 0, TKzCamCommand::kzcmdNone, M::kzdHome},
    {M::kzdHPatrol, 1, 0, TKzCamCommand::kzcmdMoveHPatrol, M::kzdHPatrol},
    {M::kzdVPatrol, 2, 0, TKzCamCommand::kzcmdMoveVPatrol, M::kzdVPatrol},
    {M::kzdLeft, 3, 0, TKzCamCommand::kzcmdMoveLeft, M::kzdLeft},
    {M::kzdUp, 4, 0, TKzCamCommand::kzcmdMoveUp, M::kzdDown},
    {M::kzdRight, 5, 0, TKzCamCommand::kzcmdMoveRight, M::kzdRight},
    {M::kzdDown, 6, 0, TKzCamCommand::kzcmdMoveDown, M::kzdUp},
    {M::kzdUpLeft, 4, 3, TKzCamCommand::kzcmdMoveLeftUp, M::kzdDownLeft},
    {M::kzdUpRight, 4, 5, TKzCamCommand::kzcmdMoveRightUp, M::kzdDownRight},
    {M::kzdDownLeft, 6, 3, TKzCamCommand::kzcmdMoveLeftDown, M::kzdUpLeft},
    {M::kzdDownRight, 6, 5, TKzCamCommand::kzcmdMoveRightDown, M::kzdUpRight},
};

const TKzMoveParts& PartsOf(M Movement) { return kMoves[static_cast<size_t>(Movement)]; }

// The movement whose command is Command (home for other commands).
const TKzMoveParts& PartsOfCommand(TKzCamCommand Command) {
  for (const TKzMoveParts& p : kMoves)
    if (p.Command == Command) return p;
  return kMoves[0];
}

template <typename F>
void ForParts(const TKzMoveParts& P, F&& Fn) {
  if (P.A) Fn(static_cast<size_t>(P.A));
  if (P.B) Fn(static_cast<size_t>(P.B));
}

// What the timer resends, from the moving flags: diagonals first, then up,
// down, left, right.
struct TKzHeldMovement {
  int8_t A, B;
  M Movement;
};
constexpr TKzHeldMovement kHeld[] = {
    {4, 3, M::kzdUpLeft}, {4, 5, M::kzdUpRight}, {6, 3, M::kzdDownLeft}, {6, 5, M::kzdDownRight},
    {4, 4, M::kzdUp},     {6, 6, M::kzdDown},    {3, 3, M::kzdLeft},     {5, 5, M::kzdRight},
};

constexpr int32_t kFlipVertical = 1;
}  // namespace

TKzCamMethods TKzCamera::GetAccessibleCamMethods() const {
  auto& self = const_cast<TKzCamera&>(*this);
  if (FDeviceType == TKzDeviceType::kzdtWebCamera) {
    TKzCamDevice* device = self.ActiveDevice();
    return device && device->CanMove(M::kzdHome) ? TKzCamMethods{TKzCamMethod::kzcm_Move} : TKzCamMethods{};
  }
  return TKzIPCameraAPI::GetAccessibleMethods(self, TKzCamPropertyGroup::kzcpNone);
}

bool TKzCamera::IsControllableCamera() const {
  return GetAccessibleCamMethods().Contains(TKzCamMethod::kzcm_Move);
}

bool TKzCamera::CanMove(TKzCamMovementEx Movement) {
  if (!IsVideoPlaying() || !GetAccessibleCamMethods().Contains(TKzCamMethod::kzcm_Move)) return false;
  if (FDeviceType == TKzDeviceType::kzdtWebCamera) {
    TKzCamDevice* device = ActiveDevice();
    return device && device->CanMove(Movement);
  }
  return true;
}

bool TKzCamera::InitMovement(TKzCamMovementEx Movement, bool Command) {
  const TKzMoveParts& parts = PartsOf(Movement);
  bool refused = false;
  ForParts(parts, [&](size_t i) {
    refused = refused || (Command && FMove.FIsCamMoveCmdExecuting[i]) || FMove.FIsNeedCameraStop[i];
  });
  if (refused) return false;
  ForParts(parts, [&](size_t i) {
    FMove.FIsCamMoveCmdExecuting[i] = Command;
    FMove.FIsNeedCameraStop[i] = false;
    FMove.FIsCamMoving[i] = true;
  });
  return true;
}

bool TKzCamera::Move(TKzCamMovementEx Movement) {
  if (FDeviceType == TKzDeviceType::kzdtIPCamera) return MoveIPCamera(Movement);
  TKzCamDevice* device = FDeviceType == TKzDeviceType::kzdtWebCamera ? ActiveDevice() : nullptr;
  if (!device || !InitMovement(Movement, false)) return false;
  const bool ok = device->Move(Movement);
  if (ok && Movement >= M::kzdLeft) EnableTimerMove();
  return ok;
}

bool TKzCamera::MoveIPCamera(TKzCamMovementEx Movement) {
  if (AreCommandsLocked() || FDeviceType != TKzDeviceType::kzdtIPCamera || !InitMovement(Movement, true))
    return false;
  const TKzMoveParts& parts = PartsOf(Movement);
  const M real = (FFlip & kFlipVertical) ? parts.Flipped : Movement;
  TKzCamRequest request1, request2;
  TKzIPCameraAPI::GetMoveRequests(*this, real, request1, request2);
  const bool needsTimer = TKzIPCameraAPI::NeedsMoveTimer(*this, real);
  const bool ok = MultiExecuteRequests(request1, request2, parts.Command, &TKzCamera::ThreadCallMoveDone);
  if (ok) FLastMoveTick = KzMGetTickCount();
  if (!ok) {
    // A command that was not sent leaves its flags set: the movement never began.
    ForParts(parts, [&](size_t i) {
      if (FMove.FIsCamMoveCmdExecuting[i]) FMove.FIsCamMoveCmdExecuting[i] = FMove.FIsCamMoving[i] = false;
    });
    return false;
  }
  if (ok && needsTimer) EnableTimerMove();
  return ok;
}

bool TKzCamera::MoveStop(TKzCamMovementEx Movement) {
  if (FDeviceType == TKzDeviceType::kzdtIPCamera) return StopIPCamera(Movement);
  if (FDeviceType != TKzDeviceType::kzdtWebCamera || Movement == M::kzdHome) return false;
  TKzCamDevice* device = ActiveDevice();
  const bool ok = device && device->MoveStop(Movement);
  DisableTimerMove();
  return ok;
}

bool TKzCamera::StopIPCamera(TKzCamMovementEx Movement) {
  if (FDeviceType != TKzDeviceType::kzdtIPCamera || Movement == M::kzdHome) return false;
  const TKzMoveParts& parts = PartsOf(Movement);
  bool executing = false;
  ForParts(parts, [&](size_t i) { executing = executing || FMove.FIsCamMoveCmdExecuting[i]; });
  if (executing) {
    // The stop follows the move command when that succeeds.
    ForParts(parts, [&](size_t i) { FMove.FIsNeedCameraStop[i] = true; });
    if (FCommandMode != TKzSendMode::kzsmWait) return true;
    WaitForExecuteCmd();
    return FResult;
  }
  if (AreCommandsLocked()) return false;
  const M real = (FFlip & kFlipVertical) ? parts.Flipped : Movement;
  const TKzCamRequest stop = TKzIPCameraAPI::GetStopRequest(*this, real);
  const bool needsTimer = TKzIPCameraAPI::NeedsMoveTimer(*this, real);
  ForParts(parts, [&](size_t i) { FMove.FIsCamMoving[i] = false; });
  bool ok = !stop.Empty() &&
            MultiExecuteRequests(stop, TKzCamRequest(), TKzCamCommand::kzcmdNone, &TKzCamera::ThreadCallMoveDone);
  if (needsTimer) {
    DisableTimerMove();
    ok = true;
  }
  return ok;
}

void TKzCamera::ThreadCallMoveDone(TThread* Sender) {
  if (IsDestroying()) {
    if (KzLoadThreadRef(FThreadExecute) == Sender) KzClearThreadRef(FThreadExecute);
    return;
  }
  auto* thread = static_cast<TKzCamCommandThread*>(Sender);
  FResult = thread->Result();
  if (KzLoadThreadRef(FThreadExecute) == Sender) KzClearThreadRef(FThreadExecute);
  UnlockCommands();
  const bool ok = FResult;
  // The flags go first, so that a view still holding a key may resend the move.
  const TKzMoveParts& parts = PartsOfCommand(thread->Command());
  bool stop = false;
  ForParts(parts, [&](size_t i) {
    FMove.FIsCamMoveCmdExecuting[i] = false;
    stop = stop || FMove.FIsNeedCameraStop[i];
    FMove.FIsNeedCameraStop[i] = false;
    FMove.FIsCameraStop[i] = false;
    if (!ok) FMove.FIsCamMoving[i] = false;
  });
  NotifyCommandDone(ok ? 0 : 1);
  if (ok && stop) MoveStop(parts.Movement);
}

// ---- The repeat timer

void TKzCamera::DoTimerMove() {
  if (AreCommandsLocked() ||
      (FDeviceType != TKzDeviceType::kzdtIPCamera && FDeviceType != TKzDeviceType::kzdtWebCamera))
    return;
  // Moves that last a while by themselves are renewed less often than the timer ticks.
  if (FDeviceType == TKzDeviceType::kzdtIPCamera &&
      KzMGetTickCount() - FLastMoveTick < TKzIPCameraAPI::MoveRepeatMs(*this))
    return;
  const auto& moving = FMove.FIsCamMoving;
  for (const TKzHeldMovement& h : kHeld) {
    if (moving[static_cast<size_t>(h.A)] && moving[static_cast<size_t>(h.B)]) {
      Move(h.Movement);
      return;
    }
  }
}

void TKzCamera::EnableTimerMove() {
  if (FTimerMove && !FTimerMove->Enabled() &&
      (FDeviceType == TKzDeviceType::kzdtIPCamera || FDeviceType == TKzDeviceType::kzdtWebCamera))
    FTimerMove->SetEnabled(true);
}

void TKzCamera::DisableTimerMove() {
  if (FTimerMove) FTimerMove->SetEnabled(false);
  FMove.FIsCamMoveCmdExecuting.fill(false);
  FMove.FIsNeedCameraStop.fill(false);
  FMove.FIsCamMoving.fill(false);
  FMove.FIsCameraStop.fill(true);
}

}  // namespace kz
