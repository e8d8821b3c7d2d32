// A message target for objects that are not components: an owner-supplied
// message procedure registered with the pump, plus an optional framework
// timer that delivers message 275 (timer) to the same procedure.
#pragma once
#include <memory>

#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformTimer.h"

namespace kz {

class TKzHandle {
public:
  // Main thread, never blocks.
  explicit TKzHandle(TKzMessageHandler WndProc);
  ~TKzHandle();
  TKzHandle(const TKzHandle&) = delete;
  TKzHandle& operator=(const TKzHandle&) = delete;

  TKzTarget Identity() const { return KzTargetOf(this); }
  // Registers Msg for this handle; the message goes to Handler, or to the
  // message procedure when Handler is empty. Any thread.
  void RegMsg(uint32_t Msg, TKzMessageHandler Handler = nullptr);
  // Posts to this handle through the pump. Any thread, never blocks.
  void Post(uint32_t Msg, WPARAM WParam, LPARAM LParam) { KzMessages().PostMessage(Identity(), Msg, WParam, LParam); }
  // The handle's identity; creates the timer on demand. 0 while the
  // application terminates. Main thread.
  TKzTarget GetHandle();
  void SetMsgTimer(WPARAM Id) { FTimerId = Id; }
  // Main thread, never block.
  void SetTimerInterval(uint32_t Ms);
  void SetTimerEnabled(bool Value);
  bool TimerEnabled() const { return FTimer && FTimer->Enabled(); }
  // Unregisters and frees the timer. Main thread.
  void DestroyHandle();

private:
  TKzMessageHandler FWndProc;
  std::unique_ptr<TTimer> FTimer;
  WPARAM FTimerId = 0;
  uint32_t FInterval = 1000;
  bool FRegistered = false;
};

}  // namespace kz
