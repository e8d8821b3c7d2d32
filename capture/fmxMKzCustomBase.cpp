#include "capture/fmxMKzCustomBase.h"

#include <algorithm>
#include <cmath>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

TKzCustomBase::TKzCustomBase(IKzCaptureOwner* Owner, std::string ThreadName)
    : TKzBaseThread(true, std::move(ThreadName)), FOwner(Owner), FAlive(std::make_shared<std::atomic<bool>>(true)) {
  CreateEvent(false, false);
}

TKzCustomBase::~TKzCustomBase() { Shutdown(); }

void TKzCustomBase::Launch() { StartThread(this); }

void TKzCustomBase::Shutdown() {
  if (FShutdown) return;
  FShutdown = true;
  FAlive->store(false, std::memory_order_release);
  Abort();
  Wake();
  WaitFor();
}

void TKzCustomBase::Wake() {
  if (Event()) Event()->SetEvent();
}

void TKzCustomBase::PostToMain(std::function<void()> Proc) {
  std::shared_ptr<std::atomic<bool>> alive = FAlive;
  QueueOnMainThread([alive, Proc = std::move(Proc)] {
    if (alive->load(std::memory_order_acquire)) Proc();
  });
}

void TKzCustomBase::SetZoomPercent(int32_t Value) {
  if (Value >= 1 && Value <= 10000) FZoomPercent.store(Value, std::memory_order_release);
}

void TKzCustomBase::SetFlipHorizontally(bool Value) { SetFlipHorizontallyFlipVertically(Value, GetFlipVertically()); }
void TKzCustomBase::SetFlipVertically(bool Value) { SetFlipHorizontallyFlipVertically(GetFlipHorizontally(), Value); }
void TKzCustomBase::SetFlipHorizontallyFlipVertically(bool H, bool V) {
  FFlip.store(static_cast<uint8_t>((H ? 1 : 0) | (V ? 2 : 0)), std::memory_order_release);
}

void TKzCustomBase::SetFramePerSec(double Fps) {
  const double ms = Fps > 0 ? std::round(1000.0 / Fps) : 1000.0;
  FFrameInterval.store(static_cast<uint32_t>(std::clamp(ms, 1.0, 3600000.0)), std::memory_order_release);
  Wake();  // the next wait uses the new interval
}

void TKzCustomBase::PlayVideoStream() {
  if (FRunning || FStopping) return;
  FOwner->StartVideoStream();
  FStart = KzMGetTickCount();
  FPlaying = false;
  FRunning = true;
  Wake();
}

void TKzCustomBase::Stop() {
  if (!FRunning || FStopping) return;
  FStopping = true;
  FRunning = false;
  Wake();  // the frame thread closes what it opened, then reports the end
}

void TKzCustomBase::EndStream(int32_t Status) {
  FRunning = false;
  StreamClosed();
  FPlaying = false;
  PostToMain([this, Status] {
    FStopping = false;
    FOwner->DoneVideoStream(Status);
  });
}

void TKzCustomBase::DeliverFrame(TKzMBitmap& Bitmap) {
  if (!FOwner->BeforeCamDrawImageFromWebCam()) return;
  FOwner->CamDrawImage(Bitmap, static_cast<double>(KzMGetTickCount() - FStart) / 1000.0);
  FOwner->AfterCamDrawImageFromWebCam();
  if (!FPlaying.exchange(true)) PostToMain([this] { FOwner->StartedVideoStream(); });
}

void TKzCustomBase::DoExecute() {
  uint32_t timeout = FrameInterval();
  bool endPosted = false;  // the end of the current stop is reported already
  uint64_t due = 0;        // when the next frame is due (0: at once)
  while (!Terminated()) {
    Event()->WaitFor(timeout);
    if (Terminated()) break;
    timeout = 1000;
    if (FStopping) {
      if (!endPosted) EndStream(0);
      endPosted = true;
      due = 0;
      continue;
    }
    endPosted = false;
    if (!FRunning) continue;
    uint64_t now = KzMGetTickCount();
    if (due > now) {  // woken early (a new rate, a start): wait out the rest
      timeout = static_cast<uint32_t>(std::min<uint64_t>(due - now, 1000));
      continue;
    }
    std::string error;
    if (!NextFrame(error)) {
      if (!error.empty()) FOwner->CaptureFailed(error);
      FStopping = true;
      endPosted = true;
      EndStream(1);
      due = 0;
      continue;
    }
    // Deadlines advance by whole intervals, so the rate holds on average;
    // after a stall of more than one frame the schedule restarts from now.
    const uint32_t interval = FrameInterval();
    now = KzMGetTickCount();
    due = (due == 0 || due + interval < now) ? now + interval : due + interval;
    timeout = due > now ? static_cast<uint32_t>(due - now) : 1;
  }
  StreamClosed();
}

}  // namespace kz
