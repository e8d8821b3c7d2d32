// The camera's ONVIF identification: a worker asks the device at the
// camera's host what it is and what the user may do; the end notification
// (main thread) stores the findings in the camera.
#include "camera/fmxMKzCamera.h"

namespace kz {

namespace {
class TKzOnvifIdentifyThread : public TKzBaseThread {
public:
  TKzOnvifIdentifyThread(std::string DeviceURL, TKzCamRequestSettings Settings)
      : TKzBaseThread(true, "TKzOnvifIdentify"), FDeviceURL(std::move(DeviceURL)), FSettings(std::move(Settings)) {
    SetFreeOnTerminate(true);
  }
  void Abort() override {
    FAbort.store(true, std::memory_order_release);
    TKzBaseThread::Abort();
  }
  // Valid once the thread has ended.
  bool Result = false;
  TKzOnvifIdentity Identity;
  const std::string& DeviceURL() const { return FDeviceURL; }

protected:
  void DoExecute() override { Result = KzOnvifIdentify(FDeviceURL, FSettings, FAbort, Identity); }
  void TerminatedSet() override {
    FAbort.store(true, std::memory_order_release);
    TKzBaseThread::TerminatedSet();
  }

private:
  std::string FDeviceURL;
  TKzCamRequestSettings FSettings;
  std::atomic<bool> FAbort{false};
};
}  // namespace

bool TKzCamera::IdentifyOnvif() {
  if (!FUseONVIF || FCameraHost.empty() || KzLoadThreadRef(FOnvifThread) || IsDestroying()) return false;
  auto* thread = new TKzOnvifIdentifyThread(KzOnvifDeviceURL(FCameraHost, FCameraPort), KzCamRequestSettings(*this));
  thread->OnTerminate = [this](TThread* Sender) {
    auto* t = static_cast<TKzOnvifIdentifyThread*>(Sender);
    if (KzLoadThreadRef(FOnvifThread) == Sender) KzClearThreadRef(FOnvifThread);
    if (IsDestroying()) return;
    const bool ok = t->Result && t->Identity.Access != TKzUserAccess::uaNone;
    if (ok) {
      FOnvif = t->Identity.Onvif;
      FUserAccess = t->Identity.Access;
    }
    if (t->Identity.LoginFailed && OnLoginFailed) OnLoginFailed(this, t->DeviceURL());
    if (OnSearchComplete) OnSearchComplete(this, ok ? 0 : 1);
  };
  FOnvifThread = thread;
  StartThread(thread);
  return true;
}

}  // namespace kz
