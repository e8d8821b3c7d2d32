// The camera: commands to the device (the command lock, the command and
// property threads and their end notifications), synchronous requests,
// image settings, device operations and users.
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzCameraInternal.h"

#include <fstream>

#include "camera/fmxMKzCamControl.h"
#include "camera/fmxMKzIPCameraAPI.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

using namespace camera_detail;

namespace {
constexpr size_t kMaxTextReply = 1048576;
constexpr size_t kMaxDownload = 64u * 1048576u;
}  // namespace

// ---- Commands

bool TKzCamera::MultiExecute(const std::string& URL, TKzCamCommand CMD, TKzCamThreadDone Done) {
  return MultiExecute2(URL, "", CMD, Done);
}

bool TKzCamera::MultiExecuteVideoProperty(const std::string& URL, TKzCamCommand CMD) {
  return MultiExecute(URL, CMD, &TKzCamera::ThreadDoneVideoProperty);
}

bool TKzCamera::MultiExecute2(const std::string& URL1, const std::string& URL2, TKzCamCommand CMD,
                              TKzCamThreadDone Done) {
  return MultiExecuteRequests(TKzCamRequest(URL1), TKzCamRequest(URL2), CMD, Done);
}

bool TKzCamera::MultiExecuteRequests(const TKzCamRequest& Request1, const TKzCamRequest& Request2, TKzCamCommand CMD,
                                     TKzCamThreadDone Done) {
  if (AreCommandsLocked() || FDeviceType != TKzDeviceType::kzdtIPCamera || IsDestroying()) return false;
  if (!KzIsSendableURL(Request1.URL) || (!Request2.Empty() && !KzIsSendableURL(Request2.URL))) return false;
  const TKzCamRequestSettings settings = KzCamRequestSettings(*this);  // the vendor is not found while locked
  LockCommands();
  auto* thread = new TKzCamCommandThread(this, settings, Request1, Request2, CMD);
  const TKzCamThreadDone done = Done ? Done : &TKzCamera::ThreadExecuteDone;
  const bool wait = FCommandMode == TKzSendMode::kzsmWait;
  auto outcome = wait ? std::make_shared<TKzCommandOutcome>() : nullptr;
  thread->OnTerminate = [this, done, outcome](TThread* Sender) {
    (this->*done)(Sender);
    if (outcome) *outcome = {true, static_cast<TKzCamCommandThread*>(Sender)->Result()};
  };
  FThreadExecute = thread;
  if (OnCommandStart) OnCommandStart(this, static_cast<int32_t>(CMD));
  for (IKzCamViewConsumer* v : std::vector<IKzCamViewConsumer*>(FConsumers.CamViews)) v->HookBeginControl(this);
  StartThread(thread);
  return wait ? WaitCommand(*outcome) : true;
}

// Wait mode: runs main-thread work (views paint, a second command is
// refused by the lock) until the thread's end notification has run. The
// thread frees itself either way, so the wait costs no join.
bool TKzCamera::WaitCommand(const TKzCommandOutcome& Outcome) {
  while (!Outcome.Ended) KzMWait(500);
  return Outcome.Result;
}

void TKzCamera::NotifyCommandDone(int32_t Status) {
  if (OnMoved) OnMoved(this, Status);
  if (CtrlDoneControlEvent) CtrlDoneControlEvent(this, Status);
  for (IKzCamViewConsumer* v : std::vector<IKzCamViewConsumer*>(FConsumers.CamViews))
    v->ViewerDoneControl(this, Status);
  for (IKzCamSenderConsumer* s : std::vector<IKzCamSenderConsumer*>(FConsumers.CamSenders))
    s->SenderDoneControl(this, Status);
}

void TKzCamera::ThreadExecuteDone(TThread* Sender) {
  if (IsDestroying()) {
    if (KzLoadThreadRef(FThreadExecute) == Sender) KzClearThreadRef(FThreadExecute);
    return;
  }
  FResult = static_cast<TKzCamCommandThread*>(Sender)->Result();
  if (KzLoadThreadRef(FThreadExecute) == Sender) KzClearThreadRef(FThreadExecute);
  UnlockCommands();
}

void TKzCamera::ThreadDoneVideoProperty(TThread* Sender) {
  ThreadExecuteDone(Sender);
  if (!IsDestroying()) NotifyCommandDone(FResult ? 0 : 1);
}

// ---- Settings groups

bool TKzCamera::SetProperty(TKzCamPropertyGroup Group, const std::string& URL) {
  if (AreCommandsLocked() || FDeviceType != TKzDeviceType::kzdtIPCamera || FIPCameraTypes.Empty() ||
      !KzIsSendableURL(URL) || KzLoadThreadRef(SetPropertyThread) || IsDestroying())
    return false;
  auto* thread = new TSetPropertyThread(this, KzCamRequestSettings(*this), URL, Group);
  const bool wait = FCommandMode == TKzSendMode::kzsmWait;
  auto outcome = wait ? std::make_shared<TKzCommandOutcome>() : nullptr;
  thread->OnTerminate = [this, outcome](TThread* Sender) {
    ThreadDoneSetProperty(Sender);
    if (outcome) *outcome = {true, static_cast<TKzCamCommandThread*>(Sender)->Result()};
  };
  SetPropertyThread = thread;
  StartThread(thread);
  return wait ? WaitCommand(*outcome) : true;
}

void TKzCamera::ThreadDoneSetProperty(TThread* Sender) {
  if (IsDestroying()) {
    if (KzLoadThreadRef(SetPropertyThread) == Sender) KzClearThreadRef(SetPropertyThread);
    return;
  }
  auto* thread = static_cast<TSetPropertyThread*>(Sender);
  FResult = thread->Result();
  if (KzLoadThreadRef(SetPropertyThread) == Sender) KzClearThreadRef(SetPropertyThread);
  if (FResult) {
    // Read back what the camera now holds: every group after kzcpAll.
    using G = TKzCamPropertyGroup;
    const G group = thread->CameraProperty;
    if (group == G::kzcpAll) {
      for (uint8_t g = static_cast<uint8_t>(G::kzcpDateTimeParameter); g <= static_cast<uint8_t>(G::kzcpUsers); ++g)
        TKzIPCameraAPI::GetFromCamera(*this, static_cast<G>(g));
    } else if (group >= G::kzcpDateTimeParameter && group <= G::kzcpParameters) {
      TKzIPCameraAPI::GetFromCamera(*this, group);
    }
  }
  EndApplyProperties(FResult);
}

void TKzCamera::EndApplyProperties(bool Ok) {
  if (OnSetProperty && !IsDestroying()) OnSetProperty(this, Ok ? 0 : 1);
}

// ---- Synchronous requests

bool TKzCamera::ExecuteURL(const std::string& URL) {
  std::atomic<bool> abort{false};
  TKzCamReply reply;
  return KzCamPerformGet(URL, KzCamRequestSettings(*this), abort, TKzCamCommandThread::MaxReplyBody, reply);
}

bool TKzCamera::ExecuteStr(const std::string& URL, std::string& Text) { return ExecuteStr(TKzCamRequest(URL), Text); }

bool TKzCamera::ExecuteStr(const TKzCamRequest& Request, std::string& Text) {
  // Inside a request scope (preparation) a GET answered once is answered
  // from the scope again.
  TKzCamRequestScope* scope = Request.Body.empty() ? TKzCamRequestScope::Current() : nullptr;
  if (scope) {
    if (auto it = scope->Replies.find(Request.URL); it != scope->Replies.end()) {
      Text = it->second;
      return true;
    }
  }
  std::atomic<bool> abort{false};
  TKzCamRequestSettings settings = KzCamRequestSettings(*this);
  settings.Vendor = nullptr;  // the caller reads the reply
  TKzCamReply reply;
  const bool ok = KzCamPerform(Request, settings, scope ? scope->Abort : abort, kMaxTextReply, reply);
  Text = ok ? std::move(reply.Body) : std::string();
  if (ok && scope) scope->Replies[Request.URL] = Text;
  return ok;
}

bool TKzCamera::EncodeAndExecuteStr(const std::string& URL, std::string& Text) {
  return ExecuteStr(URLEncode(URL), Text);
}

bool TKzCamera::GetFileHTTP(const std::string& URL, std::string& Data) { return ExecuteStr(URL, Data); }

bool TKzCamera::DownloadFile(const std::string& URL, const std::string& FileName) {
  std::atomic<bool> abort{false};
  TKzCamRequestSettings settings = KzCamRequestSettings(*this);
  settings.Vendor = nullptr;
  TKzCamReply reply;
  bool ok = KzCamPerformGet(URL, settings, abort, kMaxDownload, reply);
  if (ok) {
    std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
    out.write(reply.Body.data(), static_cast<std::streamsize>(reply.Body.size()));
    ok = static_cast<bool>(out);
  }
  const auto size = static_cast<uint32_t>(reply.Body.size());
  if (ok && OnDownload) OnDownload(this, size, size);
  if (OnDownloaded) OnDownloaded(this, ok ? 0 : 1);
  return ok;
}

bool TKzCamera::CallIPCameraMethod(TKzCamMethod Method, const std::string& Param) {
  if (FDeviceType != TKzDeviceType::kzdtIPCamera) return false;
  std::string result;
  return TKzIPCameraAPI::CallMethod(*this, Method, Param, result);
}

std::string TKzCamera::GetVendorStreamURL(bool H264) {
  return H264 ? TKzIPCameraAPI::GetH264URL(*this) : TKzIPCameraAPI::GetMJpegURL(*this);
}

// ---- Image settings

TKzCamDevice* TKzCamera::ActiveDevice() const {
  switch (FDeviceType) {
    case TKzDeviceType::kzdtWebCamera: return FWebCam.get();
    case TKzDeviceType::kzdtDesktop: return FDesktop.get();
    case TKzDeviceType::kzdtFile: return FPlayer.get();
    case TKzDeviceType::kzdtUserData: return FUserThread.get();
    case TKzDeviceType::kzdtRTSP:
    case TKzDeviceType::kzdtHTTP: return FGST.get();
    case TKzDeviceType::kzdtIPCamera: break;
  }
  return nullptr;
}

// IP cameras: the vendor's URL for the property, sent as an image command;
// other kinds: the device's colour control, when the setting is one.
bool TKzCamera::ChangeImageSetting(TKzCamProperty Property, TKzCamCommand CMD, int32_t Value,
                                   const TKzColorControlProperty* Color) {
  if (FDeviceType != TKzDeviceType::kzdtIPCamera) {
    TKzCamDevice* device = ActiveDevice();
    return Color && device && device->SetColorControl(*Color, Value);
  }
  if (FCameraHost.empty()) return false;
  const std::string url = TKzIPCameraAPI::SetPropURL(*this, Property, std::to_string(Value));
  if (!url.empty() && MultiExecuteVideoProperty(url, CMD)) return true;
  EndApplyProperties(false);
  return false;
}

namespace {
constexpr TKzColorControlProperty kBrightness = TKzColorControlProperty::kzccpBrightness;
constexpr TKzColorControlProperty kContrast = TKzColorControlProperty::kzccpContrast;
constexpr TKzColorControlProperty kHue = TKzColorControlProperty::kzccpHue;
constexpr TKzColorControlProperty kSaturation = TKzColorControlProperty::kzccpSaturation;
constexpr TKzColorControlProperty kSharpness = TKzColorControlProperty::kzccpSharpness;
constexpr int32_t kFlipVertical = 1, kFlipMirror = 2;
}  // namespace

using P = TKzCamProperty;
using C = TKzCamCommand;

void TKzCamera::SetBrightness(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_Brightness, C::kzcmdBrightness, Value, &kBrightness)) FBrightness = Value;
}
void TKzCamera::SetContrast(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_Contrast, C::kzcmdContrast, Value, &kContrast)) FContrast = Value;
}
void TKzCamera::SetHue(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_Hue, C::kzcmdHue, Value, &kHue)) FHue = Value;
}
void TKzCamera::SetSaturation(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_Saturation, C::kzcmdSaturation, Value, &kSaturation)) FSaturation = Value;
}
void TKzCamera::SetSharpness(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_Sharpness, C::kzcmdSharpness, Value, &kSharpness)) FSharpness = Value;
}
void TKzCamera::SetVideoResolution(TKzVideoResolution Value) {
  TKzVideoSource::SetVideoResolution(Value);
  if (FDeviceType == TKzDeviceType::kzdtIPCamera && !FCameraHost.empty() && TKzIPCameraAPI::GetVendor(this))
    ChangeImageSetting(P::kzcp_VideoResolution, C::kzcmdVideoResolution, static_cast<int32_t>(Value), nullptr);
}
void TKzCamera::SetVideoMode(TKzVideoMode Value) {
  if (ChangeImageSetting(P::kzcp_VideoMode, C::kzcmdVideoMode, static_cast<int32_t>(Value), nullptr))
    FVideoMode = Value;
}
// No vendor sets the quality on its own: it goes with the stream URLs.
void TKzCamera::SetQuality(TKzQualityType Value) { FQuality = Value; }
void TKzCamera::SetFocusType(TKzCamFocus Value) {
  if (ChangeImageSetting(P::kzcp_FocusType, C::kzcmdFocusType, static_cast<int32_t>(Value), nullptr))
    FFocusType = Value;
}
void TKzCamera::SetFocusDistance(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_FocusDist, C::kzcmdFocusDist, Value, nullptr)) FFocusDistance = Value;
}
void TKzCamera::SetBitrate(int32_t Value) {
  if (ChangeImageSetting(P::kzcp_Bitrate, C::kzcmdBitrate, Value, nullptr)) FParameters->InitBitrate(Value);
}
void TKzCamera::SetFlipHorizontally(bool Value) {
  const int32_t flip = Value ? (FFlip | kFlipMirror) : (FFlip & ~kFlipMirror);
  if (ChangeImageSetting(P::kzcp_FlipHorizontally, C::kzcmdFlipHorizontallyFlipVertically, flip, nullptr))
    FFlip = flip;
}
void TKzCamera::SetFlipVertically(bool Value) {
  const int32_t flip = Value ? (FFlip | kFlipVertical) : (FFlip & ~kFlipVertical);
  if (ChangeImageSetting(P::kzcp_FlipVertically, C::kzcmdFlipHorizontallyFlipVertically, flip, nullptr))
    FFlip = flip;
}

// ---- Users

void TKzCamera::AttachUserHooks() {
  FUsers->OnAppend = [this](int32_t i) { HookUser(TKzCollectionItemOperation::kzcioAdd, i); };
  FUsers->OnModify = [this](int32_t i) { HookUser(TKzCollectionItemOperation::kzcioModify, i); };
  FUsers->OnRemove = [this](int32_t i) { HookUser(TKzCollectionItemOperation::kzcioDelete, i); };
}

void TKzCamera::HookUser(TKzCollectionItemOperation Operation, int32_t Index) {
  if (FDeviceType == TKzDeviceType::kzdtIPCamera) TKzIPCameraAPI::ChangeUsers(*this, Operation, Index);
}

void TKzCamera::SetUsers(const TKzCamUserCollection& Value) {
  FUsers->Assign(Value);
  AttachUserHooks();
}

void TKzCamera::AddUser(const std::string& Name, const std::string& Password, TKzUserAccess Access) {
  FUsers->AddUser(Name, Password, Access);
}

void TKzCamera::ModifyUser(int32_t Index, const std::string& Name, TKzUserAccess Access,
                           const std::string& Password) {
  FUsers->ModifyUser(Index, Name, Access, Password);
}

bool TKzCamera::RefreshUsers() { return TKzIPCameraAPI::GetFromCamera(*this, TKzCamPropertyGroup::kzcpUsers); }

}  // namespace kz
