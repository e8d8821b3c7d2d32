// The camera: identification of what answers at its address, preparation,
// the search animation and the search's notifications.
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzCameraInternal.h"

#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzCamSearch.h"

namespace kz {

using namespace camera_detail;

namespace {
// Stores what the search's ONVIF probe found in Camera (the device, its
// access level and information), or forgets an earlier ONVIF device.
void TakeOnvifFindings(TKzCamera& Camera, const TKzSearchOutcome& Outcome) {
  const TKzOnvifIdentity& id = Outcome.Onvif;
  if (id.LoginFailed && Camera.OnLoginFailed)
    Camera.OnLoginFailed(&Camera, KzOnvifDeviceURL(Camera.CameraHost(), Camera.CameraPort()));
  Camera.DoSetOnvif(Outcome.FromOnvif ? id.Onvif : TKzCamOnvif{});
  if (!Outcome.FromOnvif) return;
  // What the device told stands for what preparation reads from a vendor's camera.
  Camera.DoRaiseUserAccess(id.Access);
  KzCamFieldInit(Camera, TKzCamField::kzfID, id.Info.Model);
  KzCamFieldInit(Camera, TKzCamField::kzfVersion, id.Info.FirmwareVersion);
  const std::string alias = id.Info.Manufacturer + (id.Info.Manufacturer.empty() ? "" : " ") + id.Info.Model;
  if (!alias.empty()) KzCamFieldInit(Camera, TKzCamField::kzfAlias, alias);
}
}  // namespace

void TKzCamera::DoRaiseUserAccess(TKzUserAccess Value) {
  TKzUserAccess now = FUserAccess.load(std::memory_order_acquire);
  while (now < Value && !FUserAccess.compare_exchange_weak(now, Value, std::memory_order_acq_rel)) {
  }
}

bool TKzCamera::SearchCamera(TKzCameraTypes Types) {
  if (IsDesigning() || IsDestroying() || FDeviceType != TKzDeviceType::kzdtIPCamera || SearchCameraThread ||
      PrepareThread)
    return false;
  if (FCameraHost.empty()) {
    // Nothing to probe: a URL alone, or nothing at all.
    if (OnSearchComplete) OnSearchComplete(this, 1);
    return false;
  }
  if (!IsVideoPlaying()) ResetAbort();  // an earlier stop must not swallow this search's Abort
  FSearching = true;
  FSearchAborted = false;
  auto* thread = new TSearchCameraThread(this, true, Types, ProtocolVersion(), FVideoFormat,
                                         KzMakeSearchContext(*this, "", 0, Types, FVideoFormat));
  thread->SetFreeOnTerminate(true);
  thread->OnTerminate = [this](TThread* t) { ThreadDoneSearch(t); };
  SearchCameraThread = thread;
  if (FTimerSearchAnimation) {
    FTimerSearchAnimation->OnTimer = [this](TTimer*) { SearchAnimationTick(); };
    FTimerSearchAnimation->SetEnabled(true);
  }
  for (IKzCamViewConsumer* v : std::vector<IKzCamViewConsumer*>(FConsumers.CamViews)) v->ViewerSearchCamera(this);
  for (IKzCamSenderConsumer* s : std::vector<IKzCamSenderConsumer*>(FConsumers.CamSenders))
    s->SenderSearchCamera(this);
  StartThread(thread);
  return true;
}

void TKzCamera::SearchAnimationTick() {
  for (IKzCamViewConsumer* v : std::vector<IKzCamViewConsumer*>(FConsumers.CamViews)) v->ViewerSearchAnimationTimer();
}

void TKzCamera::ThreadDoneSearch(TThread* Sender) {
  auto* t = static_cast<TSearchCameraThread*>(Sender);
  if (KzLoadThreadRef(SearchCameraThread) == Sender) KzClearThreadRef(SearchCameraThread);
  if (IsDestroying()) return;
  const TKzSearchOutcome& r = t->Outcome();
  const bool aborted = t->Aborted() || FSearchAborted;
  FIPCameraTypes = r.Types;
  if (!aborted) TakeOnvifFindings(*this, r);
  if (r.FromTable) {
    FURL = r.URL;
    FAlias = r.Models;
    FCameraHost.clear();
    FCameraPort = 0;
  }
  if (!r.Types.Empty() && !aborted) {
    if (r.HasVersion) DoSetProtocolVersion(r.ProtocolVersion);
    if (Prepare()) return;  // the search ends with the preparation
  }
  EndSearch(t->Result() && !aborted ? 0 : 1);
}

bool TKzCamera::Prepare() {
  if (IsDestroying() || FCameraHost.empty() || PrepareThread || UserAccess() == TKzUserAccess::uaNone) return false;
  auto* thread = new TPrepareThread(this, true, FIPCameraTypes, ProtocolVersion());
  thread->SetFreeOnTerminate(true);
  thread->OnTerminate = [this](TThread* t) { ThreadDonePrepare(t); };
  PrepareThread = thread;
  StartThread(thread);
  return true;
}

void TKzCamera::ThreadDonePrepare(TThread* Sender) {
  auto* t = static_cast<TPrepareThread*>(Sender);
  if (KzLoadThreadRef(PrepareThread) == Sender) KzClearThreadRef(PrepareThread);
  if (IsDestroying()) return;
  const bool aborted = t->Aborted() || FSearchAborted;
  if (OnPrepared) OnPrepared(this, t->Result() && !aborted ? 0 : 1);
  if (FSearching) EndSearch(aborted ? 1 : 0);
}

void TKzCamera::EndSearch(int32_t Status) {
  FSearching = false;
  if (FTimerSearchAnimation) FTimerSearchAnimation->SetEnabled(false);
  for (IKzCamViewConsumer* v : std::vector<IKzCamViewConsumer*>(FConsumers.CamViews))
    v->ViewerDoneSearchCamera(this, Status);
  for (IKzCamSenderConsumer* s : std::vector<IKzCamSenderConsumer*>(FConsumers.CamSenders))
    s->SenderDoneSearchCamera(this, Status);
  if (OnSearchComplete) OnSearchComplete(this, Status);
}

TKzCameraTypes TKzCamera::SearchCameraToIP(TKzCameraTypes Types, const std::string& Host, TKzProtocolVersion& Version,
                                           uint16_t Port) {
  TSearchCameraThread thread(this, true, Types, Version, FVideoFormat,
                             KzMakeSearchContext(*this, Host, Port, Types, FVideoFormat));
  StartThread(&thread);
  thread.WaitFor();
  if (thread.Outcome().HasVersion) Version = thread.Outcome().ProtocolVersion;
  return thread.Outcome().Types;
}

bool TKzCamera::RunProbe(TKzBaseThread*& Ref, TKzCameraType Type, const std::string& Host, uint16_t Port, bool Wait,
                         TKzProtocolVersion& Version) {
  if (Ref || IsDestroying()) return false;
  TCamThread* t = KzMakeProbe(Type, this, KzMakeSearchContext(*this, Host, Port, {}, FVideoFormat));
  if (!t) return false;
  if (!Wait) {
    t->SetFreeOnTerminate(true);
    t->OnTerminate = [&Ref](TThread* Sender) {
      if (KzLoadThreadRef(Ref) == Sender) KzClearThreadRef(Ref);
    };
    Ref = t;
    StartThread(t);
    return true;
  }
  Ref = t;
  StartThread(t);
  t->WaitFor();
  const bool found = t->Result();
  if (found && t->CarriesProtocolVersion()) Version = t->GetProtocolVersion();
  KzClearThreadRef(Ref);
  delete t;
  return found;
}

bool TKzCamera::IsFoscam(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version) {
  return RunProbe(IsFoscamThread, TKzCameraType::kzctFoscam, Host, Port, Wait, Version);
}
bool TKzCamera::IsPanasonic(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version) {
  return RunProbe(IsPanasonicThread, TKzCameraType::kzctPanasonic, Host, Port, Wait, Version);
}
bool TKzCamera::IsDLink(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version) {
  return RunProbe(IsDLinkThread, TKzCameraType::kzctDLink, Host, Port, Wait, Version);
}
bool TKzCamera::IsAxis(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version) {
  return RunProbe(IsAxisThread, TKzCameraType::kzctAxis, Host, Port, Wait, Version);
}
bool TKzCamera::IsMobotix(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version) {
  return RunProbe(IsMobotixThread, TKzCameraType::kzctMobotix, Host, Port, Wait, Version);
}

bool TKzCamera::IsCamDevices(TKzCameraTypes Types, TKzCameraTypes& Devices, std::string& URL, std::string& Models) {
  if (IsCamDevicesThread || IsDestroying()) return false;
  auto* t = new TIsCamDevicesThread(this, KzMakeSearchContext(*this, "", 0, Types, FVideoFormat), Types);
  IsCamDevicesThread = t;
  StartThread(t);
  t->WaitFor();
  const bool found = t->Result();
  if (found) {
    Devices = t->Devices;
    URL = t->URL;
    Models = t->Models;
  }
  KzClearThreadRef(IsCamDevicesThread);
  delete t;
  return found;
}

void TKzCamera::WaitStopCamera() {
  for (TKzBaseThread** ref : {&SearchCameraThread, &PrepareThread, &IsFoscamThread, &IsPanasonicThread,
                              &IsDLinkThread, &IsAxisThread, &IsMobotixThread, &IsCamDevicesThread})
    WaitRefCleared(*ref);
}

}  // namespace kz
