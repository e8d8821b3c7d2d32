#include "camera/fmxMKzUserVideoPlayer.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

// ---- TKzUserVideoPlayer

TKzUserVideoPlayer::TKzUserVideoPlayer(TKzCamera& Camera)
    : TKzCamDevice(Camera, TKzCamDeviceKind::kzcdkUserData), FFramePerSec(Camera.FramePerSec()) {}

TKzUserVideoPlayer::~TKzUserVideoPlayer() {
  FClosing = true;  // the end notification, if still due, only tidies up
  KzMFreeThread(FThread);
}

void TKzUserVideoPlayer::Run() {
  if (FRunning && !FStopping) return;
  while (FRunning) WaitStopped(50);
  KzMFreeThread(FThread);
  if (!FCamera.OnNeedData) {
    FCamera.DeviceFailed(*this, "User data: OnNeedData is not assigned");
    return;
  }
  FFramePerSec.store(FCamera.FramePerSec(), std::memory_order_release);
  FThread = new TKzUserVideoThread(*this);
  FThread->OnTerminate = [this](TThread* t) { ThreadDone(static_cast<TKzUserVideoThread*>(t)); };
  FRunning = true;
  FStopping = false;
  FFirstFrame = false;
  NotifyVideoStart();
  StartThread(FThread);
}

void TKzUserVideoPlayer::Stop() {
  if (!FRunning || FStopping) return;
  FStopping = true;
  FThread->Abort();
}

bool TKzUserVideoPlayer::WaitStopped(uint32_t Interval) {
  if (FRunning) KzMWait(Interval);
  return !FRunning;
}

uint32_t TKzUserVideoPlayer::AskFrame(TKzMBitmap& Frame) {
  if (FClosing || FStopping || !FCamera.OnNeedData) return 0;
  const uint32_t got = FCamera.OnNeedData(&FCamera, &Frame);
  if (got != 0 && got != KzUserDataEnd && !FFirstFrame) {
    FFirstFrame = true;
    NotifyStartVideoStream();
  }
  return got;
}

void TKzUserVideoPlayer::DrawFrame(TKzMBitmap& Frame, double Time) { FCamera.CamDrawImage(Frame, Time); }

void TKzUserVideoPlayer::ThreadDone(TKzUserVideoThread* Thread) {
  if (Thread != FThread || !FRunning) return;
  FRunning = false;
  FStopping = false;
  if (FClosing) return;
  if (!Thread->Error().empty()) KzPostMessageDebug(&FCamera, 0, "User data: " + Thread->Error());
  NotifyEndVideoStream(Thread->Result() ? 0 : 1);
}

// ---- TKzUserVideoThread

TKzUserVideoThread::TKzUserVideoThread(TKzUserVideoPlayer& Player)
    : TKzBaseThread(true, "TKzUserVideoThread"), FPlayer(Player) {
  CreateEvent(false, false);
}

void TKzUserVideoThread::Abort() {
  TKzBaseThread::Abort();
  Event()->SetEvent();
}

bool TKzUserVideoThread::SleepUntil(uint64_t Due) {
  for (;;) {
    if (Terminated()) return false;
    const uint64_t now = KzMGetTickCount();
    if (now >= Due) return true;
    // A virtual clock moves without waking us: look again every few ms.
    uint64_t wait = Due - now;
    if (KzVirtualClockActive()) wait = std::min<uint64_t>(wait, 2);
    Event()->WaitFor(static_cast<uint32_t>(std::min<uint64_t>(wait, 1000)));
  }
}

void TKzUserVideoThread::DoExecute() {
  try {
    const uint64_t start = KzMGetTickCount();
    uint64_t due = start;
    while (SleepUntil(due)) {
      uint32_t got = 0;
      Synchronize([&] { got = FPlayer.AskFrame(FFrame); });
      if (Terminated() || got == KzUserDataEnd) break;
      if (got > 0 && !FFrame.IsEmpty())
        FPlayer.DrawFrame(FFrame, static_cast<double>(KzMGetTickCount() - start) / 1000.0);
      // Deadlines advance by whole intervals, so the rate holds on average;
      // after a stall of more than one frame the schedule restarts from now
      // instead of catching up in a burst.
      const uint64_t interval =
          std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(1000.0 / FPlayer.FramePerSec())));
      due += interval;
      const uint64_t now = KzMGetTickCount();
      if (due + interval < now) due = now;
    }
    FResult = true;  // ended by the application or by an abort
  } catch (const std::exception& e) {
    FError = e.what();
  } catch (...) {
    FError = "unknown error";
  }
}

}  // namespace kz
