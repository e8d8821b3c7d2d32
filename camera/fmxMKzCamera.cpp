#include "camera/fmxMKzCamera.h"

#include <algorithm>
#include <cctype>

#include "camera/fmxMKzCamControl.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformLoginForm.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
std::string LowerCase(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return S;
}

bool IsRTSPURL(const std::string& URL) { return LowerCase(URL.substr(0, 7)) == "rtsp://"; }

// Waits, running main-thread work, until a self-freeing thread's end
// notification has cleared Ref.
template <typename T>
void WaitRefCleared(T*& Ref) {
  while (KzLoadThreadRef(Ref)) KzMWait(500);
}

constexpr TGUID kNullGUID{};
constexpr int64_t kInitialInputSize = 8912;
}  // namespace

// ---- Construction and destruction

TKzCamera::TKzCamera(TComponent* AOwner) : TKzVideoSource(AOwner), FProxyProperty(this) {
  KzInitFPS(_FPS);
  FFFMpegProperty.OnChanged = [this] { RestartForSettings(); };
  if (!IsDesigning()) {
    KzMessages().RegisterMessageHandler2(this, MsgDebugText, [this](TMessage& m) { HandleDebugText(m); });
    KzMessages().RegisterMessageHandler2(this, MsgDeviceEnded, [this](TMessage& m) { HandleDeviceEnded(m); });
    FRegistered = true;
    FTimerMove = std::make_unique<TTimer>();
    FTimerMove->SetInterval(100);
    FTimerMove->OnTimer = [this](TTimer*) { DoTimerMove(); };
    FTimerSearchAnimation = std::make_unique<TTimer>();
    FTimerSearchAnimation->SetInterval(250);
  }
  FAgent = "IP Camera";
  FGetDataThread = new TKzGetData(this, FConsumers, kNullGUID, kInitialInputSize);
  // Set once, while the pipeline is idle; both read the camera's handlers
  // when they fire, so later assignments need no hand-over.
  TKzDecodeImage& decode = FGetDataThread->Decode();
  decode.OnStartVideo = [this](TComponent*) {
    if (OnStartVideoStream && !IsDestroying()) OnStartVideoStream(this);
  };
  decode.OnFPS = [this](TComponent*) { HookGetFPS(this); };
}

TKzCamera::~TKzCamera() {
  Destroying();
  FTimerMove.reset();
  FTimerSearchAnimation.reset();
  DestroyDevices();
  for (TKzBaseThread** aux : {&FThreadExecute, &IsFoscamThread, &IsPanasonicThread, &IsDLinkThread, &IsAxisThread,
                              &IsCamDevicesThread, &SearchCameraThread, &PrepareThread, &SetPropertyThread})
    KzMTerminateThreadAndWaitForFreeing(*aux, 500);
  KzMTerminateThreadAndWaitForFreeing(MJPEG, 500);
  KzMTerminateThreadAndWaitForFreeing(FThreadHTTP, 500);
  KzMTerminateThreadAndWaitForFreeing(FThreadRTSP, 500);
  KzMFreeThread(FGetDataThread);
  SetCameraControl(nullptr);
  if (FRegistered) KzMessages().UnRegister2(this);
}

void TKzCamera::DestroyDevices() {
  FGST.reset();
  FPlayer.reset();
  FWebCam.reset();
  FUserThread.reset();
  FDesktop.reset();
}

void TKzCamera::Loaded() {
  TKzVideoSource::Loaded();
  if (!IsDesigning()) InitDevice(FDeviceType, FVideoFormat);
}

void TKzCamera::Notification(TComponent* AComponent, TOperation Operation) {
  TKzVideoSource::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent && AComponent == FCameraControl) FCameraControl = nullptr;
}

// ---- Start of video

bool TKzCamera::IsDeviceAlone(const TKzCamDevice* Device) const {
  for (const TKzCamDevice* d : {FUserThread.get(), FWebCam.get(), FDesktop.get(), FPlayer.get(), FGST.get()})
    if (d && d != Device) return false;
  return !FThreadHTTP && !FThreadRTSP && !MJPEG && !IsAborting();
}

void TKzCamera::RunDevice(TKzCamDevice* Device) {
  if (Device && IsDeviceAlone(Device))
    Device->Run();
  else
    CallClearLastFrame();
}

void TKzCamera::PlayVideoStream() {
  if (IsDesigning()) return;
  if (!FURL.empty() && FCameraHost.empty()) {
    FIsControllableCamera = false;
    FUserAccess = TKzUserAccess::uaNone;
  }
  // A stream that was aborted and is still ending is waited for, so that
  // Abort followed by PlayVideoStream restarts.
  for (TKzCamStreamThread** ref : {&FThreadHTTP, &FThreadRTSP, &MJPEG})
    if (*ref && (*ref)->AbortRequested()) WaitRefCleared(*ref);
  StartGetDataThread();
  ResetAbort();
  if (FDeviceType == TKzDeviceType::kzdtHTTP && LowerCase(FURL).find("rtsp://") != std::string::npos)
    FDeviceType = TKzDeviceType::kzdtRTSP;

  IKzCamStreamFactory& engines = KzCamStreamFactory();
  const bool useFFmpeg = FFFMpegProperty.UseFFMpeg() && engines.IsSupportedFFMPEG();
  const bool useGStreamer = FGStreamerProperty.UseGStreamer() && FGST && engines.IsSupportedGStreamer();
  switch (FDeviceType) {
    case TKzDeviceType::kzdtIPCamera:
      StartStreamThread();
      break;
    case TKzDeviceType::kzdtWebCamera:
      RunDevice(FWebCam.get());
      break;
    case TKzDeviceType::kzdtDesktop:
      RunDevice(FDesktop.get());
      break;
    case TKzDeviceType::kzdtFile:
      InitDevice(TKzDeviceType::kzdtFile, FVideoFormat);
      FPlayer = KzCreateCamDevice(TKzCamDeviceKind::kzcdkFilePlayer, *this);
      RunDevice(FPlayer.get());
      break;
    case TKzDeviceType::kzdtRTSP:
      if (IsAborting())
        CallClearLastFrame();
      else if (useFFmpeg)
        StartStreamThread();
      else if (useGStreamer)
        FGST->Run();
      else
        CallClearLastFrame();
      break;
    case TKzDeviceType::kzdtHTTP:
      if (IsAborting())
        CallClearLastFrame();
      else if (FCycleVideoImages || useFFmpeg || !useGStreamer)
        StartStreamThread();  // the built-in Motion-JPEG reader when no engine is used
      else
        FGST->Run();
      break;
    case TKzDeviceType::kzdtUserData:
      RunDevice(FUserThread.get());
      break;
  }
}

void TKzCamera::StartStreamThread() {
  if (IsAborting() || FThreadHTTP || FThreadRTSP || MJPEG) return;
  std::string url = FURL;
  if (url.empty()) url = GetVendorStreamURL(FVideoFormat != TKzVideoFormat::kzvfMJPEG);
  if (url.empty()) return;

  TKzCamStreamParams p;
  // Credentials written in the URL win over UserName/UserPassword and do
  // not travel in the URL itself.
  const std::string bare = DeleteUserFromURL(url);
  if (bare != url) {
    ExtractUserFromURL(url, p.UserName, p.Password);
    url = bare;
  } else {
    p.UserName = FUserName;
    p.Password = FUserPassword;
  }
  const bool rtsp = IsRTSPURL(url);
  p.Camera = this;
  p.Agent = FAgent;
  p.URL = url;
  p.Port = FCameraPort;
  p.RTSPPort = FRTSPPort;
  p.OnProgress = OnProgress;
  p.FramePerSec = FramePerSec();
  p.DebugDataRead = static_cast<bool>(OnDebugDataRead);
  if (!rtsp) {
    p.CycleVideoImages = FCycleVideoImages;
    p.VideoImageIndex = FVideoImageIndex;
    p.VideoImagesURLs = FVideoImagesURLs;
  }
  TKzCamStreamThread* thread =
      KzCamStreamFactory().CreateStreamThread(rtsp ? TKzCamStreamKind::kzcskRTSP : TKzCamStreamKind::kzcskHTTP, p);
  if (!thread) return;  // this build cannot fetch it: ignored like a missing URL

  if (OnVideoStart) OnVideoStart(this);
  thread->OnTerminate = [this](TThread* t) { ThreadDoneVideo(t); };
  if (!rtsp) thread->OnChangeURLIndex = [this](TKzCamStreamThread* t) { ChangeIndexURL(t); };
  TKzCamStreamThread*& ref = rtsp ? FThreadRTSP : FThreadHTTP;
  ref = thread;
  CallBeginVideoStream();
  StartThread(thread);
  if (FWaitThread) WaitRefCleared(ref);
}

void TKzCamera::PlayVideoFile(const std::string& FileName) {
  if (IsDesigning() || IsAborting() || FThreadHTTP || FThreadRTSP || MJPEG) return;
  TKzCamStreamParams p;
  p.Camera = this;
  p.FileName = FileName;
  p.FramePerSec = FramePerSec();
  p.DebugDataRead = static_cast<bool>(OnDebugDataRead);
  TKzCamStreamThread* thread = KzCamStreamFactory().CreateStreamThread(TKzCamStreamKind::kzcskMJPEGFile, p);
  if (!thread) return;
  if (OnVideoStart) OnVideoStart(this);
  ResetAbort();
  thread->OnTerminate = [this](TThread* t) { ThreadDoneVideo(t); };
  MJPEG = thread;
  FPlayingFileName = FileName;
  CallBeginVideoStream();
  StartThread(thread);
}

// ---- End of a fetch thread

void TKzCamera::ThreadDoneVideo(TThread* Sender) {
  TKzCamStreamThread** found = nullptr;
  for (TKzCamStreamThread** ref : {&FThreadHTTP, &FThreadRTSP, &MJPEG}) {
    if (*ref && static_cast<TThread*>(*ref) == Sender) {
      found = ref;
      break;
    }
  }
  if (!found) return;
  if (IsDestroying()) {
    KzClearThreadRef(*found);
    return;
  }
  ResetAbort();
  FResult = (*found)->Result();
  KzClearThreadRef(*found);
  const int32_t status = FResult ? 0 : 1;
  if (found == &MJPEG) {
    if (OnEndVideoFile) OnEndVideoFile(this, status);
  } else if (OnEndVideoStream) {
    OnEndVideoStream(this, status);
  }
  CallDoneVideoStream(status);
}

void TKzCamera::ChangeIndexURL(TKzCamStreamThread* Sender) {
  if (Sender) FVideoImageIndex = Sender->VideoImageIndex();
}

// ---- Device objects

void TKzCamera::DeviceVideoStart(TKzCamDevice&) {
  if (OnVideoStart) OnVideoStart(this);
  CallBeginVideoStream();
}

void TKzCamera::DeviceStartVideoStream(TKzCamDevice&) {
  if (OnStartVideoStream) OnStartVideoStream(this);
}

void TKzCamera::DeviceEndVideoStream(TKzCamDevice&, int32_t Status) {
  ResetAbort();
  if (OnEndVideoStream) OnEndVideoStream(this, Status);
  CallDoneVideoStream(Status);
}

void TKzCamera::DeviceFailed(TKzCamDevice& Device, const std::string& Text) {
  KzPostMessageDebug(this, 0, Text);
  DoPostMessage(MsgDeviceEnded, 1, static_cast<LPARAM>(Device.Kind()));
}

void TKzCamera::HandleDeviceEnded(TMessage& Message) {
  ResetAbort();
  const auto status = static_cast<int32_t>(Message.WParam);
  if (OnEndVideoStream) OnEndVideoStream(this, status);
  CallDoneVideoStream(status);
}

// ---- Abort

void TKzCamera::AbortAuxThreads() {
  for (TKzBaseThread* t : {FThreadExecute, IsFoscamThread, IsPanasonicThread, PrepareThread, SearchCameraThread,
                           SetPropertyThread})
    if (t) t->Abort();
}

void TKzCamera::Abort() {
  if (IsAborting() || IsAborted()) return;
  FAborting.store(true, std::memory_order_release);
  bool stopped = false;
  auto abortStream = [&stopped](TKzCamStreamThread* t) {
    if (!t) return false;
    t->Abort();
    t->SetResult(true);  // an aborted stream ends with Status 0
    stopped = true;
    return true;
  };
  auto stopDevice = [&stopped](TKzCamDevice* d) {
    if (d && d->IsRunning()) {
      d->Stop();
      stopped = true;
    }
  };
  switch (FDeviceType) {
    case TKzDeviceType::kzdtIPCamera:
      abortStream(FThreadHTTP);
      abortStream(FThreadRTSP);
      AbortAuxThreads();
      break;
    case TKzDeviceType::kzdtWebCamera:
      stopDevice(FWebCam.get());
      break;
    case TKzDeviceType::kzdtDesktop:
      stopDevice(FDesktop.get());
      break;
    case TKzDeviceType::kzdtFile:
      stopDevice(FPlayer.get());
      break;
    case TKzDeviceType::kzdtUserData:
      stopDevice(FUserThread.get());
      break;
    case TKzDeviceType::kzdtRTSP:
    case TKzDeviceType::kzdtHTTP:
      if (!abortStream(FThreadHTTP) && !abortStream(FThreadRTSP) && FGST && FGST->IsRunning()) {
        FGST->Stop();
        stopped = true;
        while (!FGST->WaitStopped(500)) {
        }
      }
      break;
  }
  // A Motion-JPEG file plays beside any device kind; an abort ends it too.
  if (MJPEG) {
    MJPEG->Abort();
    MJPEG->SetResult(true);
    stopped = true;
  }
  ClearVideo();
  FAbort.store(stopped, std::memory_order_release);
  FAborting.store(false, std::memory_order_release);
}

void TKzCamera::ClearVideo() {
  if (FGetDataThread) FGetDataThread->Clear();
  CallClearLastFrame();
}

// ---- Running state and waiting

bool TKzCamera::IsStreamPlaying() const { return FThreadHTTP || FThreadRTSP; }

bool TKzCamera::IsFilePlaying() const { return MJPEG != nullptr; }

bool TKzCamera::IsVideoPlaying() const {
  if (MJPEG) return true;
  auto running = [](const std::unique_ptr<TKzCamDevice>& d) { return d && d->IsRunning(); };
  switch (FDeviceType) {
    case TKzDeviceType::kzdtWebCamera:
      return running(FWebCam) || (FWebCam && FWebCam->IsStopping());
    case TKzDeviceType::kzdtDesktop:
      return running(FDesktop);
    case TKzDeviceType::kzdtFile:
      return running(FPlayer);
    case TKzDeviceType::kzdtRTSP:
    case TKzDeviceType::kzdtHTTP:
      return running(FGST) || IsStreamPlaying();
    case TKzDeviceType::kzdtUserData:
      return running(FUserThread);
    case TKzDeviceType::kzdtIPCamera:
      return IsStreamPlaying();
  }
  return false;
}

void TKzCamera::WaitForVideoStream() {
  while (FWebCam && FWebCam->IsStopping()) KzMWait(500);
  WaitRefCleared(FThreadHTTP);
  WaitRefCleared(FThreadRTSP);
  FPlayer.reset();
  if (FDeviceType == TKzDeviceType::kzdtWebCamera && FWebCam)
    while (FWebCam->IsRunning() || FWebCam->IsStopping()) FWebCam->WaitStopped(500);
}

void TKzCamera::WaitForVideoFile() { WaitRefCleared(MJPEG); }

void TKzCamera::WaitForVideo() {
  auto busy = [this] {
    return FThreadHTTP || FThreadRTSP || MJPEG || (FUserThread && FUserThread->IsRunning()) ||
           (FWebCam && FWebCam->IsStopping());
  };
  while (busy()) KzMWait(500);
  if (FDeviceType == TKzDeviceType::kzdtWebCamera && FWebCam)
    while (FWebCam->IsRunning() || FWebCam->IsStopping()) FWebCam->WaitStopped(500);
}

void TKzCamera::WaitForExecuteCmd() { WaitRefCleared(FThreadExecute); }

void TKzCamera::WaitForSearch() { WaitRefCleared(SearchCameraThread); }

// ---- Device switch

void TKzCamera::InitDevice(TKzDeviceType ADeviceType, TKzVideoFormat AVideoFormat) {
  if (IsVideoPlaying()) {
    Abort();
    WaitForVideoStream();
    WaitForVideoFile();
    // Device objects end on their own schedule; let them report before
    // they are replaced.
    WaitForVideo();
  }
  FDeviceType = ADeviceType;
  FVideoFormat = AVideoFormat;
  if (IsDesigning()) return;
  DestroyDevices();
  ResetAbort();
  switch (ADeviceType) {
    case TKzDeviceType::kzdtWebCamera:
      FWebCam = KzCreateCamDevice(TKzCamDeviceKind::kzcdkWebCamera, *this);
      break;
    case TKzDeviceType::kzdtDesktop:
      FDesktop = KzCreateCamDevice(TKzCamDeviceKind::kzcdkDesktop, *this);
      break;
    case TKzDeviceType::kzdtRTSP:
    case TKzDeviceType::kzdtHTTP:
      if (FGStreamerProperty.UseGStreamer() && KzCamStreamFactory().IsSupportedGStreamer()) {
        FGST = KzCreateCamDevice(TKzCamDeviceKind::kzcdkGStreamer, *this);
        FGST->Run();
      }
      break;
    case TKzDeviceType::kzdtUserData:
      FUserThread = KzCreateCamDevice(TKzCamDeviceKind::kzcdkUserData, *this);
      break;
    case TKzDeviceType::kzdtIPCamera:
    case TKzDeviceType::kzdtFile:
      break;
  }
}

void TKzCamera::SetDeviceType(TKzDeviceType Value) {
  if (Value == FDeviceType) return;
  if (IsDesigning() || IsLoading()) {
    FDeviceType = Value;
    return;
  }
  InitDevice(Value, FVideoFormat);
}

void TKzCamera::SetSourceFileName(const std::string& Value) {
  FSourceFileName = Value;
  if (FDeviceType == TKzDeviceType::kzdtFile && !IsDesigning() && !IsLoading()) {
    SetDeviceType(TKzDeviceType::kzdtIPCamera);
    SetDeviceType(TKzDeviceType::kzdtFile);
  }
}

void TKzCamera::UpdateProxy() {
  // Fetch threads read the proxy settings when they start; re-applying the
  // device kind is all that is needed here.
  SetDeviceType(FDeviceType);
}

void TKzCamera::RestartForSettings() {
  if (IsDesigning() || !IsVideoPlaying() || !KzCamStreamFactory().IsSupportedFFMPEG()) return;
  Abort();
  WaitForVideoStream();
  PlayVideoStream();
}

// ---- Frames

void TKzCamera::CamDrawImage(TKzMBitmap& Bitmap, double Time) {
  if (TKzDrawImage* paint = Paint()) {
    if (FLatency.load(std::memory_order_acquire) > 0)
      paint->AddToBuffer(Bitmap, Time);
    else
      paint->OutputImageProtected(Bitmap, Time);
  }
  {
    std::lock_guard<TCriticalSection> g(FFPSSection);
    KzRecalcFPS(1, _FPS);
  }
}

double TKzCamera::GetFPS() {
  std::lock_guard<TCriticalSection> g(FFPSSection);
  return KzRecalcFPS(0, _FPS);
}

void TKzCamera::HookGetFPS(TComponent*) {
  std::lock_guard<TCriticalSection> g(FFPSSection);
  KzRecalcFPS(1, _FPS);
}

// ---- The frame pipeline

TKzDrawImage* TKzCamera::Paint() const { return FGetDataThread ? &FGetDataThread->Paint() : nullptr; }

void TKzCamera::InitGetDataThread() {
  if (!FGetDataThread) return;
  TKzDecodeImage& decode = FGetDataThread->Decode();
  decode.isStartVideo = false;
  decode.SetJpegIntegrity(FJpegIntegrity);
  TKzDrawImage& paint = FGetDataThread->Paint();
  paint.SetOnGetImage(OnGetImage);
  paint.SetOnGetImageEx(OnGetImageEx);
  paint.SetOnGetRegions(OnGetRegions);
  paint.SetMotionStep([this](TKzMBitmap& Frame) { return &FMotionDetectorProperties.DetectMotion(Frame); });
  paint.SetSmoothImage(FSmoothImage);
  paint.SetRotation(FRotation);
  paint.SetLatency(FLatency.load(std::memory_order_acquire));
}

void TKzCamera::StartGetDataThread() {
  if (!FGetDataThread) return;
  InitGetDataThread();
  if (FGetDataThread->Suspended()) FGetDataThread->Run();
}

void TKzCamera::LockConsumers() {
  if (TKzDrawImage* paint = Paint())
    paint->LockDisplay();
  else
    TKzVideoSource::LockConsumers();
}

void TKzCamera::UnlockConsumers() {
  if (TKzDrawImage* paint = Paint())
    paint->UnlockDisplay();
  else
    TKzVideoSource::UnlockConsumers();
}

bool TKzCamera::CanOutputFrames() {
  TKzDrawImage* paint = Paint();
  return paint ? paint->HasConsumers() : HasConsumers();
}

TKzMBitmap TKzCamera::GetCurrentImageEx(double& Time) {
  TKzMBitmap image;
  Time = 0;
  if (!IsDesigning() && Paint()) Paint()->GetCurrentImage(image, Time);
  return image;
}

TKzMBitmap TKzCamera::GetCurrentImage() {
  double time = 0;
  return GetCurrentImageEx(time);
}

std::unique_ptr<TKzImageWrapper> TKzCamera::GetSnapShotEx(double& Time) {
  Time = 0;
  if (IsDesigning() || !Paint()) return nullptr;
  return Paint()->GetSnapShot(Time);
}

std::unique_ptr<TKzImageWrapper> TKzCamera::GetSnapShot() {
  double time = 0;
  return GetSnapShotEx(time);
}

uint32_t TKzCamera::GetFrameIndex() {
  TKzDrawImage* paint = Paint();
  return paint ? static_cast<uint32_t>(paint->LastFrameIndex()) : TKzVideoSource::GetFrameIndex();
}

int64_t TKzCamera::GetLastFrameTickCount() {
  TKzDrawImage* paint = Paint();
  return paint ? paint->LastFrameTickCount() : TKzVideoSource::GetLastFrameTickCount();
}

void TKzCamera::SetLatency(uint16_t Value) {
  FLatency.store(Value, std::memory_order_release);
  if (TKzDrawImage* paint = Paint()) paint->SetLatency(Value);
}

void TKzCamera::SetSmoothImage(bool Value) {
  FSmoothImage = Value;
  if (TKzDrawImage* paint = Paint()) paint->SetSmoothImage(Value);
}

void TKzCamera::SetRotation(TKzRotation Value) {
  FRotation = Value;
  if (TKzDrawImage* paint = Paint()) paint->SetRotation(Value);
}

void TKzCamera::SetJpegIntegrity(TKzJpegIntegrity Value) {
  FJpegIntegrity = Value;
  if (FGetDataThread) FGetDataThread->Decode().SetJpegIntegrity(Value);
}

void TKzCamera::SetFilename(const std::string& Value) { FFileName = Value; }

void TKzCamera::SetToFile(bool Value) {
  FToFile = Value;
  if (TKzDrawImage* paint = Paint()) paint->SetFileInfo(FFileName, Value);
}

// ---- Properties

void TKzCamera::SetFramePerSec(double Value) {
  TKzVideoSource::SetFramePerSec(Value);
  SetVideoResolution(FVideoResolution);  // the camera may need the new rate
  const double fps = FramePerSec();
  if (FGetDataThread) FGetDataThread->Decode().SetFramePerSec(fps);
  for (TKzCamDevice* d : {FDesktop.get(), FPlayer.get(), FWebCam.get(), FUserThread.get(), FGST.get()})
    if (d) d->SetFramePerSec(fps);
  for (TKzCamStreamThread* t : {MJPEG, FThreadHTTP, FThreadRTSP})
    if (t) t->SetFramePerSec(fps);
}

void TKzCamera::SetVideoImageIndex(int32_t Value) {
  const int32_t last = std::max<int32_t>(0, static_cast<int32_t>(FVideoImagesURLs.size()) - 1);
  FVideoImageIndex = std::clamp(Value, 0, last);
  if (FThreadHTTP) FThreadHTTP->SetVideoImageIndex(FVideoImageIndex);
}

void TKzCamera::SetCameraControl(TKzCamControl* Value) {
  if (Value == FCameraControl) return;
  if (FCameraControl) {
    RemoveFreeNotification(FCameraControl);
    FCameraControl->UnRegisterCamera(this);
  }
  FCameraControl = Value;
  if (FCameraControl) {
    FreeNotification(FCameraControl);
    FCameraControl->RegisterCamera(this);
  }
}

// ---- Login

void TKzCamera::DoGetLogin(TComponent*, const std::string& Realm, std::string& AUserName, std::string& APassword,
                           bool& Proceed) {
  if (OnLogin)
    OnLogin(this, Realm, AUserName, APassword, Proceed);
  else
    Proceed = ShowLoginDialog(Realm, AUserName, APassword);
}

bool TKzCamera::ShowLoginDialog(const std::string& Realm, std::string& AUserName, std::string& APassword) {
  TKzLoginFormData data;
  data.Caption = Realm;
  data.Language = static_cast<uint8_t>(FLanguage);
  data.UserName = AUserName;
  data.Password = APassword;
  if (!KzLoginFormProvider().ShowLoginForm(data)) return false;
  AUserName = data.UserName;
  APassword = data.Password;
  return true;
}

// ---- Messages

void TKzCamera::DoPostMessage(uint32_t Msg, WPARAM Param1, LPARAM Param2) {
  KzMessages().PostMessage2(this, Msg, Param1, Param2);
}

void TKzCamera::HandleDebugText(TMessage& Message) {
  // The text itself belongs to the message and is freed with it.
  if (OnDebugDataRead) OnDebugDataRead(this, static_cast<uint32_t>(Message.WParam), KzMessageText(Message));
}

// ---- Host and port

std::string TKzCamera::GetExtractCameraHost() const {
  if (!FCameraHost.empty() || FURL.empty()) return FCameraHost;
  std::string host, path;
  int port = 0;
  ParseURL2(FURL, 0, host, path, port);
  return host;
}

uint16_t TKzCamera::GetExtractCameraPort() const {
  if (FCameraPort != 0 || FURL.empty()) return FCameraPort;
  std::string host, path;
  int port = 0;
  ParseURL2(FURL, IsRTSPURL(FURL) ? 554 : 80, host, path, port);
  return static_cast<uint16_t>(port);
}

std::string TKzCamera::GetVendorStreamURL(bool) { return ""; }

}  // namespace kz
