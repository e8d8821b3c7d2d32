#include "sender/fmxMKzSenderEncodeThread.h"

namespace kz {

TKzSenderEncodeThread::TKzSenderEncodeThread(TEncodeFrame Encode)
    : TKzBaseThread(true, "TKzSenderEncode"), FEncode(std::move(Encode)) {}

TKzSenderEncodeThread::~TKzSenderEncodeThread() {
  Terminate();
  WaitForEnd(INFINITE);
}

void TKzSenderEncodeThread::TerminatedSet() {
  TKzBaseThread::TerminatedSet();
  FWake.SetEvent();
}

void TKzSenderEncodeThread::Post(const TKzMCustomBitmap& Frame, uint16_t MediaIndex) {
  {
    std::lock_guard<std::mutex> g(FLock);
    if (FSlots.size() <= MediaIndex) FSlots.resize(MediaIndex + 1u);
    TSlot& s = FSlots[MediaIndex];
    if (s.Waiting) FSkipped.fetch_add(1);
    s.Frame.AssignKzMBitmap(Frame);
    s.Waiting = true;
  }
  FWake.SetEvent();
}

bool TKzSenderEncodeThread::Busy() {
  std::lock_guard<std::mutex> g(FLock);
  if (FBusy) return true;
  for (const TSlot& s : FSlots)
    if (s.Waiting) return true;
  return false;
}

void TKzSenderEncodeThread::DoExecute() {
  TKzMBitmap frame;
  while (!Terminated()) {
    FWake.WaitFor(1000);
    for (;;) {
      uint16_t index = 0;
      {
        std::lock_guard<std::mutex> g(FLock);
        FBusy = false;
        size_t i = 0;
        while (i < FSlots.size() && !FSlots[i].Waiting) ++i;
        if (i == FSlots.size() || Terminated()) break;
        frame.SwapPixels(FSlots[i].Frame);  // the slot keeps a buffer for the next copy
        FSlots[i].Waiting = false;
        index = static_cast<uint16_t>(i);
        FBusy = true;
      }
      FEncode(frame, index);
    }
  }
  std::lock_guard<std::mutex> g(FLock);
  FBusy = false;
}

}  // namespace kz
