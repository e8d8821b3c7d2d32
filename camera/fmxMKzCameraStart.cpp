// The camera: starting video for each device kind, aborting, waiting, and
// switching the device kind.
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzCameraInternal.h"

#include "inet/fmxMKzURLFuncs.h"

namespace kz {

using namespace camera_detail;

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
    FUserAccess = TKzUserAccess::uaNone;
  }
  // A stream that was aborted and is still ending is waited for, so that
  // Abort followed by PlayVideoStream restarts.
  for (TKzCamStreamThread** ref : {&FThreadHTTP, &FThreadRTSP, &MJPEG})
    if (*ref && (*ref)->AbortRequested()) WaitRefCleared(*ref);
  if (FReconnectWaiting) return;  // still playing: the next attempt is scheduled
  FStopRequested = false;
  if (!FThreadHTTP && !FThreadRTSP) {
    CancelReconnect();
    FLastError = TKzSourceError{};
  }
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

void TKzCamera::StartStreamThread(bool Again) {
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

  {
    std::string path;
    int port = 0;
    ParseURL2(url, rtsp ? (FRTSPPort ? FRTSPPort : 554) : (FCameraPort ? FCameraPort : 80), FSourceHost, path, port);
    FSourcePort = static_cast<uint16_t>(port);
  }
  FFrameIndexAtStart = GetFrameIndex();
  if (OnVideoStart && !Again) OnVideoStart(this);
  thread->OnTerminate = [this](TThread* t) { ThreadDoneVideo(t); };
  if (!rtsp) thread->OnChangeURLIndex = [this](TKzCamStreamThread* t) { ChangeIndexURL(t); };
  TKzCamStreamThread*& ref = rtsp ? FThreadRTSP : FThreadHTTP;
  ref = thread;
  if (!Again) CallBeginVideoStream();
  StartThread(thread);
  if (FWaitThread && !Again) WaitRefCleared(ref);
}

void TKzCamera::PlayVideoFile(const std::string& FileName) {
  if (IsDesigning() || IsAborting() || FThreadHTTP || FThreadRTSP || MJPEG) return;
  TKzCamStreamParams p;
  p.Camera = this;
  p.FileName = FileName;
  p.URL = FileName;
  p.FramePerSec = FramePerSec();
  p.DebugDataRead = static_cast<bool>(OnDebugDataRead);
  // Motion-JPEG stays with the built-in reader; other content goes to FFmpeg when it is there.
  IKzCamStreamFactory& factory = KzCamStreamFactory();
  const bool engine = FFFMpegProperty.UseFFMpeg() && factory.IsSupportedFFMPEG() && KzFileNeedsEngine(FileName);
  TKzCamStreamThread* thread =
      factory.CreateStreamThread(engine ? TKzCamStreamKind::kzcskMediaFile : TKzCamStreamKind::kzcskMJPEGFile, p);
  if (!thread) return;
  if (engine) StartGetDataThread();
  if (OnVideoStart) OnVideoStart(this);
  ResetAbort();
  thread->OnTerminate = [this](TThread* t) { ThreadDoneVideo(t); };
  MJPEG = thread;
  FPlayingFileName = FileName;
  CallBeginVideoStream();
  StartThread(thread);
}


// ---- Abort

void TKzCamera::AbortAuxThreads() {
  for (TKzBaseThread* t : {FThreadExecute, IsFoscamThread, IsPanasonicThread, IsDLinkThread, IsAxisThread,
                           IsMobotixThread, IsCamDevicesThread, PrepareThread, SearchCameraThread, SetPropertyThread,
                           FOnvifThread})
    if (t) t->Abort();
  if (SearchCameraThread || PrepareThread) FSearchAborted = true;
}

void TKzCamera::Abort() {
  if (IsAborting() || IsAborted()) return;
  FAborting.store(true, std::memory_order_release);
  FStopRequested = true;
  bool stopped = false;
  if (CancelReconnect()) {
    // Between two attempts nothing runs: the end is reported at once (posted).
    stopped = true;
    FLastError = TKzSourceError{};
    FReconnectEnding = true;
    DoPostMessage(MsgDeviceEnded, 0, 0);
  }
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

bool TKzCamera::IsStreamPlaying() const {
  return FThreadHTTP || FThreadRTSP || FReconnectWaiting || FReconnectEnding;
}

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
  // An outage ended by an abort reports its end through the message pump.
  for (int i = 0; i < 40 && FReconnectEnding; ++i) KzMWait(50);
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

}  // namespace kz
