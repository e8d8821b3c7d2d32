#include "foundation/fmxMKzHandle.h"

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

TKzHandle::TKzHandle(TKzMessageHandler WndProc) : FWndProc(std::move(WndProc)) {}

TKzHandle::~TKzHandle() { DestroyHandle(); }

void TKzHandle::RegMsg(uint32_t Msg, TKzMessageHandler Handler) {
  if (!Handler) Handler = [this](TMessage& m) {
      if (FWndProc) FWndProc(m);
    };
  KzMessages().RegisterMessageHandler(Identity(), Msg, std::move(Handler));
  FRegistered = true;
}

TKzTarget TKzHandle::GetHandle() {
  if (Application().Terminated()) return 0;
  if (!FTimer) {
    FTimer = std::make_unique<TTimer>();
    FTimer->SetInterval(FInterval);
    FTimer->OnTimer = [this](TTimer*) {
      TMessage m{WM_TIMER, FTimerId, 0, 0};
      if (FWndProc) FWndProc(m);
    };
  }
  return Identity();
}

void TKzHandle::SetTimerInterval(uint32_t Ms) {
  FInterval = Ms;
  if (FTimer) FTimer->SetInterval(Ms);
}

void TKzHandle::SetTimerEnabled(bool Value) {
  if (Value && !GetHandle()) return;
  if (FTimer) FTimer->SetEnabled(Value);
}

void TKzHandle::DestroyHandle() {
  if (FRegistered) {
    KzMessages().UnRegister(Identity());
    FRegistered = false;
  }
  FTimer.reset();
}

}  // namespace kz
