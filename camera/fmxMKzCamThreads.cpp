// The common base of the network fetch threads (the engine hand-over, the
// synchronised calls) and the Motion-JPEG reader over HTTP.
#include "camera/fmxMKzCamThreads.h"

#include <algorithm>
#include <cmath>

#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzInetReply.h"
#include "inet/fmxMKzURLFuncs.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
constexpr uint32_t kReadBufferSize = 1048576;  // one body read
constexpr uint64_t kBurstWaitMs = 250;          // longest wait for a burst outside the read
constexpr int32_t kMaxFailures = 5;             // consecutive request failures that end the stream
constexpr uint32_t kRetryPauseMs = 500;         // between failed requests or connects
constexpr uint64_t kErrorWindowMs = 60000;      // bad frames closer than this count together
constexpr int32_t kMaxBadFrames = 5;            // more than this many in a row: reconnect
constexpr uint32_t kStatusLevel = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
constexpr uint32_t kRequestFlags = 0x4400000;   // no cache write, keep the connection
constexpr uint64_t kFrameTimeOutMs = 5000;      // no bytes this long (or 3 frame intervals): the stream is dead
constexpr uint64_t kBurstGapMs = 20;            // bytes closer than this belong to one burst

// Whether Data (following a byte Last) holds the JPEG start marker FF D8;
// Last becomes Data's last byte.
bool HasJpegStart(const uint8_t* Data, uint32_t Count, uint8_t& Last) {
  if (Count == 0) return false;
  bool found = Last == 0xFF && Data[0] == 0xD8;
  for (uint32_t i = 0; !found && i + 1 < Count; ++i) found = Data[i] == 0xFF && Data[i + 1] == 0xD8;
  Last = Data[Count - 1];
  return found;
}

// Runs Proc on the main thread; what it throws stays there.
void SynchronizeQuietly(const TThreadProcedure& Proc) {
  try {
    Synchronize(Proc);
  } catch (...) {
  }
}
}  // namespace

// ---- TKzCamThreadWithFFMPEG

TKzCamThreadWithFFMPEG::TKzCamThreadWithFFMPEG(TKzCamStreamKind Kind, std::string ThreadName,
                                               const TKzCamStreamParams& Params, bool MayUseEngine)
    : TKzCamStreamThread(Kind, std::move(ThreadName)),
      FTAgent(Params.Agent),
      FTURL(Params.URL),
      FTProgress(Params.OnProgress),
      FHTTPPort(Params.Port),
      FRTSPPort(Params.RTSPPort),
      KzCamera(Params.Camera),
      UserName(Params.UserName),
      Password(Params.Password),
      OnDebugDataRead(Params.DebugDataRead) {
  SetFramePerSec(Params.FramePerSec);
  if (!KzCamera) return;
  TKzCamera& cam = *KzCamera;
  FMJPEGTimeOut = cam.MJPEGTimeOut();
  FSearchRTSPTimeOut = cam.SearchRTSPTimeOut();
  const TKzProxyProperty& proxy = cam.ProxyProperty();
  FProxyMode = proxy.ProxyMode();
  FProxyHost = proxy.Host();
  FProxyPort = proxy.Port();
  ProxyUserName = proxy.Username();
  ProxyPassword = proxy.Password();
  FLoginPrompt = cam.LoginPrompt();
  FVideoFormatMJPEG = cam.VideoFormat() == TKzVideoFormat::kzvfMJPEG;
  FOnLoginFailed = cam.OnLoginFailed;
  FOnGetVideoStreamIndex = cam.OnGetVideoStreamIndex;
  IKzCamStreamFactory& factory = KzCamStreamFactory();
  if (MayUseEngine && cam.FFMpegProperty().UseFFMpeg() && factory.IsSupportedFFMPEG())
    ffMPEG.reset(factory.CreateFFmpegEngineFor(cam, Kind));
  if (ffMPEG) {
    TKzCamEngineSettings& s = FEngineSettings;
    s.FFMpeg.Assign(cam.FFMpegProperty());
    s.UserName = UserName;
    s.Password = Password;
    s.HTTPPort = FHTTPPort;
    s.RTSPPort = FRTSPPort;
    s.ProxyMode = FProxyMode;
    s.ProxyHost = FProxyHost;
    s.ProxyPort = FProxyPort;
    s.ProxyUserName = ProxyUserName;
    s.ProxyPassword = ProxyPassword;
    s.FramePerSec = cam.GetFramePerSecInt();
  }
}

TKzCamThreadWithFFMPEG::~TKzCamThreadWithFFMPEG() {
  while (FIsFFmpegRunning.load(std::memory_order_acquire)) KzMWait(500);
  CloseHandles();
}

void TKzCamThreadWithFFMPEG::Abort() {
  FAbortedByOwner.store(true, std::memory_order_release);
  TKzCamStreamThread::Abort();
  if (ffMPEG) ffMPEG->Abort();
}

void TKzCamThreadWithFFMPEG::SetFramePerSec(double Value) {
  const double fps = Value > 0.0001 ? Value : 0.0001;
  FSleepMSec.store(static_cast<int32_t>(std::min(std::lround(1000.0 / fps), 1000000L)), std::memory_order_release);
}

void TKzCamThreadWithFFMPEG::SetOwnResult(bool Value) {
  SetResult(Value);
  // The owner's abort gives success; it may land between the two stores.
  if (FAbortedByOwner.load(std::memory_order_acquire)) SetResult(true);
}

bool TKzCamThreadWithFFMPEG::Pause(uint32_t Ms) { return SleepUnlessTerminated(Ms) && !AbortRequested(); }

std::string TKzCamThreadWithFFMPEG::ProxyText() const {
  if (FProxyMode != TKzMFProxyMode::kzmManualSettings || FProxyHost.empty()) return {};
  return FProxyPort == 0 ? FProxyHost : FProxyHost + ":" + std::to_string(FProxyPort);
}

void TKzCamThreadWithFFMPEG::CloseHandles() {
  PInet h = hSession ? hSession : hConnect;
  for (int k = 0; h && k < 4; ++k) InternetCloseHandle(h);
  hSession = hConnect = hRequest = nullptr;
}

void TKzCamThreadWithFFMPEG::CopyToPipeline(const void* Buffer, int64_t Count) {
  TKzGetData* pipeline = KzCamera ? KzCamera->GetDataThread() : nullptr;
  if (!pipeline || Count <= 0) return;
  KzCamera->DeliverPacketBytes(static_cast<const uint8_t*>(Buffer), static_cast<size_t>(Count));
  pipeline->CopyFromBuffer(Buffer, Count);
  // A decoder that falls behind holds the reader back (the socket then holds
  // the server back) instead of letting the backlog grow.
  while (!Aborted() && (pipeline->PendingBytes() > TKzGetData::MaxPendingBytes ||
                        pipeline->Decode().PendingBytes() > TKzDecodeImage::MaxPendingBytes))
    SleepUnlessTerminated(2);
}

void TKzCamThreadWithFFMPEG::Progress() {
  if (!FTProgress) return;
  const uint32_t bytes = BytesRead;
  SynchronizeQuietly([this, bytes] {
    if (FTProgress && !KzCamera->IsDestroying()) FTProgress(KzCamera, bytes);
  });
}

bool TKzCamThreadWithFFMPEG::GetLogin(const std::string& Realm) {
  std::string user = UserName, password = Password;
  bool proceed = false;
  SynchronizeQuietly([&] {
    if (!KzCamera->IsDestroying()) KzCamera->DoGetLogin(KzCamera, Realm, user, password, proceed);
  });
  FLoginResult = proceed;
  if (proceed) {
    UserName = user;
    Password = password;
  }
  return proceed;
}

bool TKzCamThreadWithFFMPEG::GetProxyLogin(const std::string& Realm) {
  std::string user = ProxyUserName, password = ProxyPassword;
  bool proceed = false;
  SynchronizeQuietly([&] {
    if (!KzCamera->IsDestroying()) KzCamera->DoGetLogin(KzCamera, Realm, user, password, proceed);
  });
  FLoginResult = proceed;
  if (proceed) {
    ProxyUserName = user;
    ProxyPassword = password;
  }
  return proceed;
}

void TKzCamThreadWithFFMPEG::StopVideo() { FEngineFrames.store(false, std::memory_order_release); }

void TKzCamThreadWithFFMPEG::Debug() {
  if (OnDebugDataRead && KzCamera)
    KzPostMessageDebug(KzCamera, static_cast<int64_t>(BytesRead) + BytesToRead, HostName);
}

void TKzCamThreadWithFFMPEG::DoExecute() {
  try {
    if (KzCamera) {
      SynchronizeQuietly([this] {
        if (KzCamera->IsDestroying()) return;
        KzCamera->InitGetDataThread();
        KzCamera->ResetAbort();
      });
    }
    SetOwnResult(false);
    if (!KzCamera || Aborted()) return;
    if (ffMPEG) {
      RunWithFFmpeg();
      // Motion-JPEG the engine could not play is read by the thread itself.
      if (Kind() != TKzCamStreamKind::kzcskMediaFile && ffMPEG->ResultCode() != 0 && FVideoFormatMJPEG && !Aborted())
        Run();
    } else {
      Run();
    }
  } catch (...) {
    SetOwnResult(false);
  }
  CloseHandles();
}

void TKzCamThreadWithFFMPEG::RunWithFFmpeg() {
  if (FTURL.empty()) return;
  FIsFFmpegRunning.store(true, std::memory_order_release);
  IKzCamFFmpegEngine& engine = *ffMPEG;
  engine.AssignSettings(FEngineSettings);
  engine.OnGetPictureSize = [this] { return KzCamera->WantedDecodeSize(); };
  engine.OnNewImage = [this](TKzMBitmap& Bitmap, double Time) {
    if (Aborted()) return false;
    try {
      if (!FEngineFrames.load(std::memory_order_acquire) || !KzCamera->CanOutputFrames()) return true;
      KzCamera->CamDrawImageSwap(Bitmap, Time);  // the engine refills whatever bitmap it gets back
      if (FTProgress) Progress();
    } catch (...) {
    }
    return true;
  };
  const bool file = Kind() == TKzCamStreamKind::kzcskMediaFile;
  engine.OnStateChange = [this, file](TKzFFMState State) {
    if (State == TKzFFMState::kzffmsPlaying) {
      SynchronizeQuietly([this, file] {
        if (KzCamera->IsDestroying()) return;
        const TNotifyEvent& started = file ? KzCamera->OnStartVideoFile : KzCamera->OnStartVideoStream;
        if (started) started(KzCamera);
      });
    } else if (State == TKzFFMState::kzffmsStopping || State == TKzFFMState::kzffmsError) {
      StopVideo();
    }
  };
  engine.OnError = nullptr;
  engine.OnLogin = nullptr;
  if (FLoginPrompt) {
    engine.OnLogin = [this](const std::string& Realm, std::string& User, std::string& Pass, bool& Proceed) {
      Proceed = false;
      SynchronizeQuietly([&] {
        if (!KzCamera->IsDestroying()) KzCamera->DoGetLogin(KzCamera, Realm, User, Pass, Proceed);
      });
    };
  }
  engine.OnLoginFailed = [this](const std::string& URL) {
    if (FOnLoginFailed) FOnLoginFailed(KzCamera, URL);
  };
  engine.OnVideoPacket = [this](const TKzCompressedVideoPacket& Packet) {
    if (!Aborted()) KzCamera->DeliverPacketVideo(Packet);
  };
  engine.OnGetVideoStreamIndex = [this](int32_t Count, int32_t& Index) {
    if (FOnGetVideoStreamIndex) FOnGetVideoStreamIndex(KzCamera, Count, Index);
  };
  // Sound is decoded for each opening that finds an audio consumer registered.
  const bool sound = FEngineSettings.FFMpeg.Audio();
  auto play = [this, &engine, sound](const std::string& URL) {
    engine.OnGetAudio = nullptr;
    if (sound && KzCamera->HasAudioConsumers())
      engine.OnGetAudio = [this](const TKzAudioInfo& Info, const uint8_t* Data, size_t Size) {
        if (!Aborted()) KzCamera->CamAudioBlock(Info, Data, Size);
      };
    engine.OnGetAudioPlayPositon = [this](int64_t& Position) { Position = KzCamera->CamSoundPosition(); };
    KzCamera->CamAudioStreamStart();
    engine.PlayVideo(URL);
  };
  if (file) {
    // A file plays once; reading it to its end is the success.
    if (!Aborted()) play(FTURL);
    if (!Aborted()) {
      const bool ended = engine.ResultCode() == KzFFmpegEOF;
      if (!ended) {
        const TKzSourceError why = engine.SourceError();
        SetError(why.Failed() ? why : TKzSourceError{TKzSourceErrorKind::kzseNotVideo, 0, "no picture in " + FTURL});
      }
      SetOwnResult(ended);
    }
  } else if (!Aborted()) {
    // A stream that ends normally is opened again at once; anything else ends the loop.
    engine.SetResultCode(KzFFmpegEOF);
    while (!Aborted() && engine.ResultCode() == KzFFmpegEOF) {
      play(PrepareURL(*KzCamera, FTURL));
      if (engine.ResultCode() == KzFFmpegEOF) FEngineFrames.store(true, std::memory_order_release);
    }
    // Why playing ended reaches the camera like the built-in readers' reasons,
    // so its reconnect rules serve RTSP through the engine too.
    if (!Aborted() && engine.SourceError().Failed()) SetError(engine.SourceError());
  }
  FIsFFmpegRunning.store(false, std::memory_order_release);
}

// ---- TKzCamHTTPGetThread

TKzCamHTTPGetThread::TKzCamHTTPGetThread(const TKzCamStreamParams& Params)
    : TKzCamThreadWithFFMPEG(TKzCamStreamKind::kzcskHTTP, "TKzCamHTTPGet", Params, !Params.CycleVideoImages),
      FCycleVideoImages(Params.CycleVideoImages),
      FVideoImageIndex(Params.VideoImageIndex),
      VideoImagesURLs(Params.VideoImagesURLs) {}

void TKzCamHTTPGetThread::Abort() {
  if (IsMainThread()) OnChangeURLIndex = nullptr;
  TKzCamThreadWithFFMPEG::Abort();
}

void TKzCamHTTPGetThread::SetVideoImageIndex(int32_t Value) {
  FVideoImageIndex.store(Value, std::memory_order_release);
}

void TKzCamHTTPGetThread::ChangeURLIndex() {
  SynchronizeQuietly([this] {
    if (!AbortRequested() && OnChangeURLIndex) OnChangeURLIndex(this);
  });
}

std::string TKzCamHTTPGetThread::NextPath(const std::string& Path) {
  if (!FCycleVideoImages || VideoImagesURLs.empty()) return Path;
  const int32_t count = static_cast<int32_t>(VideoImagesURLs.size());
  int32_t index = FVideoImageIndex.load(std::memory_order_acquire);
  if (index < 0 || index >= count) index = 0;
  const std::string path = Path + VideoImagesURLs[static_cast<size_t>(index)];
  FVideoImageIndex.store((index + 1) % count, std::memory_order_release);
  ChangeURLIndex();
  return path;
}

bool TKzCamHTTPGetThread::AnswerLogin(bool Proxy, int32_t& AttemptsLeft) {
  FLoginResult = false;
  // No prompt once the attempts are used up: at most glLoginAttemptCount prompts.
  if (AttemptsLeft > 0 && FLoginPrompt) {
    if (Proxy)
      GetProxyLogin(hConnect->ProxyInfo.realm);
    else
      GetLogin(hConnect->AuthInfo.realm);
  }
  if (AttemptsLeft <= 0 || !FLoginResult) {
    if (FOnLoginFailed) {
      try {
        FOnLoginFailed(KzCamera, FTURL);
      } catch (...) {
      }
    }
    return false;
  }
  --AttemptsLeft;
  const std::string& user = Proxy ? ProxyUserName : UserName;
  const std::string& password = Proxy ? ProxyPassword : Password;
  InternetSetOption(hConnect, Proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME, user.c_str(),
                    static_cast<uint32_t>(user.size()));
  InternetSetOption(hConnect, Proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD, password.c_str(),
                    static_cast<uint32_t>(password.size()));
  (Proxy ? hConnect->ProxyInfo : hConnect->AuthInfo).TryCount = 0;
  return true;
}

void TKzCamHTTPGetThread::Fail(const TKzSourceError& Error) {
  if (!Aborted()) SetError(Error);
}

std::string TKzCamHTTPGetThread::PeerText() const {
  return HostName + ":" + std::to_string(FHTTPPort ? FHTTPPort : 80);
}

TKzSourceError TKzCamHTTPGetThread::LoginError(uint32_t Status) const {
  TKzSourceError e;
  e.Kind = TKzSourceErrorKind::kzseLoginRefused;
  e.StatusCode = Status;
  const bool proxy = Status == 407;
  const bool none = proxy ? ProxyUserName.empty() : UserName.empty();
  const std::string who = proxy ? "the proxy" : PeerText();
  e.Text = (none ? "login required by " + who + " and no user name given"
                 : "login refused by " + who) + " (HTTP " + std::to_string(Status) + " " + KzHTTPReasonPhrase(Status) + ")";
  return e;
}

std::string TKzCamHTTPGetThread::NotVideoReason(const std::string& Path) const {
  std::string type = KzLowerCase(KzHeaderValue(hRequest->Header, "Content-Type"));
  type = type.substr(0, type.find(';'));
  while (!type.empty() && type.back() == ' ') type.pop_back();
  if (type.empty() || type.rfind("multipart/", 0) == 0 || type.rfind("image/", 0) == 0 ||
      type.rfind("video/", 0) == 0 || type == "application/octet-stream")
    return {};
  return "not a video stream: " + KzPathForText(Path) + " is " + type;
}

void TKzCamHTTPGetThread::Run() {
  std::string path;
  int port = 0;
  ParseURL2(FTURL, FHTTPPort, HostName, path, port);
  FHTTPPort = static_cast<uint16_t>(port);
  if (path.empty()) path.push_back('/');
  CurFileName = path;
  if (FTURL.empty() || HostName.empty()) {
    Fail({TKzSourceErrorKind::kzseOther, 0, "no camera host in the URL"});
    SetOwnResult(false);
    return;
  }

  int32_t attempts = std::max(1, glLoginAttemptCount.load());
  const std::string proxy = ProxyText();
  bool reconnect = true;
  while (reconnect && !Aborted()) {
    reconnect = false;
    FErrorCount = 0;
    FLastErrorTick = 0;
    CloseHandles();  // the old connection goes before the new one opens
    hSession = InternetOpen(FTAgent.empty() ? nullptr : FTAgent.c_str(), 0, proxy.empty() ? nullptr : proxy.c_str(),
                            nullptr, 0);
    hSession->Abort = &FTAbort;  // every network wait ends at its next check after an abort
    if (!ProxyUserName.empty()) {
      InternetSetOption(hSession, INTERNET_OPTION_PROXY_USERNAME, ProxyUserName.c_str(),
                        static_cast<uint32_t>(ProxyUserName.size()));
      InternetSetOption(hSession, INTERNET_OPTION_PROXY_PASSWORD, ProxyPassword.c_str(),
                        static_cast<uint32_t>(ProxyPassword.size()));
    }
    if (Aborted()) break;
    SetInetTimeOut(hSession, FMJPEGTimeOut);
    hConnect = InternetConnect(hSession, HostName.c_str(), FHTTPPort, UserName.empty() ? nullptr : UserName.c_str(),
                               UserName.empty() ? nullptr : Password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    if (!hConnect) {
      // The owner tries again later (or reports the end): the reason goes with the thread's end.
      Fail(KzInetLastError(hSession));
      break;
    }

    int32_t failures = 0;
    while (hConnect && !Aborted()) {
      const std::string requestPath = NextPath(path);
      hRequest = HttpOpenRequest(hConnect, "GET", requestPath.c_str(), nullptr, nullptr, nullptr, kRequestFlags, 0);
      if (!hRequest) break;
      uint32_t status = 0, index = 0;
      if (Aborted() || !HttpSendRequest(hRequest, nullptr, 0, nullptr, 0) ||
          !HttpQueryInfo(hRequest, kStatusLevel, status, index)) {
        TKzSourceError why = KzInetLastError(hRequest);
        if (status >= 400) why = KzHTTPStatusError(status, requestPath);  // a 503 is answered by closing
        if (!why.Failed()) why = {TKzSourceErrorKind::kzseTimedOut, 0, "no reply from " + PeerText()};
        InternetCloseHandle(hRequest);
        // A reply that will not come in time may come on the next try; a peer
        // that refuses or hangs up is left to the owner's back-off.
        if (status >= 400 || why.Kind != TKzSourceErrorKind::kzseTimedOut || ++failures >= kMaxFailures) {
          Fail(why);
          break;
        }
        if (!Pause(kRetryPauseMs)) break;
        continue;
      }
      failures = 0;
      if (status == 401 || status == 407) {
        const bool again = AnswerLogin(status == 407, attempts);
        InternetCloseHandle(hRequest);
        if (!again) {
          Fail(LoginError(status));
          break;
        }
        continue;
      }
      std::string notVideo;
      if (status >= 400) {
        Fail(KzHTTPStatusError(status, requestPath));
      } else if (notVideo = NotVideoReason(requestPath); !notVideo.empty()) {
        Fail({TKzSourceErrorKind::kzseNotVideo, 0, notVideo});
      } else {
        attempts = std::max(1, glLoginAttemptCount.load());
        SetError(TKzSourceError{});  // playing again
        const TBodyEnd end = ReadBody(requestPath);
        InternetCloseHandle(hRequest);
        if (end == TBodyEnd::kzbeNext) continue;
        reconnect = end == TBodyEnd::kzbeReconnect;
        break;
      }
      InternetCloseHandle(hRequest);
      break;
    }
  }
  CloseHandles();
  if (Error().Failed()) SetOwnResult(false);
  if (TKzGetData* pipeline = KzCamera->GetDataThread(); pipeline && !pipeline->Decode().isStartVideo.load())
    StopVideo();
}

void TKzCamHTTPGetThread::PaceRead(uint64_t Early) {
  if (Terminated()) return;
  const uint64_t interval = static_cast<uint64_t>(std::max(SleepMSec(), 0));
  const uint64_t now = KzMGetTickCount();
  if (FLastReadTick != 0 && now + Early < FLastReadTick + interval)
    SleepUnlessTerminated(static_cast<uint32_t>(std::max<uint64_t>(FLastReadTick + interval - now, 1)));
  // The mark advances by the interval, so the time a read takes does not
  // slow a source that sends at the wanted rate; after a long wait the
  // schedule starts again.
  const uint64_t after = KzMGetTickCount();
  FLastReadTick = FLastReadTick != 0 && after < FLastReadTick + 2 * interval ? FLastReadTick + interval : after;
}

uint64_t TKzCamHTTPGetThread::FrameTimeOutMs() const {
  const uint64_t measured = static_cast<uint64_t>(3.0 * FFrameIntervalMs);
  return std::max<uint64_t>({kFrameTimeOutMs, measured, 3 * static_cast<uint64_t>(std::max(SleepMSec(), 0))});
}

void TKzCamHTTPGetThread::NoteData(uint64_t Now) {
  // Gaps between bursts of bytes measure the stream's frame interval; the
  // pieces of one frame follow each other within a few milliseconds.
  if (FLastDataTick != 0 && Now - FLastDataTick >= kBurstGapMs) {
    const double gap = static_cast<double>(Now - FLastDataTick);
    FFrameIntervalMs = FFrameIntervalMs == 0 ? gap : 0.75 * FFrameIntervalMs + 0.25 * gap;
  }
  FLastDataTick = Now;
}

TKzCamHTTPGetThread::TBodyEnd TKzCamHTTPGetThread::ReadBody(const std::string& Path) {
  BytesRead = 0;
  TBodyEnd end = TBodyEnd::kzbeNext;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadBufferSize]);
  TKzGetData* pipeline = KzCamera->GetDataThread();
  FLastDataTick = KzMGetTickCount();
  bool sawPicture = false;  // a JPEG start marker came in this body
  uint8_t lastByte = 0;
  // Pacing holds back a server that sends faster than wanted: a read that
  // starts a new burst of bytes before the previous burst was due waits
  // until SleepMSec after that. Reads inside a burst (bytes waiting now or within a few
  // milliseconds, like the rest of a frame) follow at once, so that pacing
  // never splits a frame across two intervals, and a source that sends at
  // the wanted rate is never slowed down; a burst that goes on for longer
  // than SleepMSec is paced too. Bytes that came with the reply header start
  // no burst of their own.
  const uint64_t interval = static_cast<uint64_t>(std::max(SleepMSec(), 0));
  const uint32_t settle = static_cast<uint32_t>(std::clamp(SleepMSec() / 8, 1, 5));
  while (!Aborted()) {
    // The next bytes are waited for here rather than inside the read, so
    // that bytes that come on time are read on the wake-up they cause,
    // without a pacing sleep before it; those that come within the settle
    // time belong to the burst being read. One wait serves both, so the end
    // of a frame costs no wake-up of its own. A stream that stays quiet
    // longer than an interval after the next read is due (at most
    // kBurstWaitMs) is left to the read's own time-out.
    bool burst = KzInetBodyComplete(hRequest);
    if (!burst) {
      const uint64_t now = KzMGetTickCount();
      const uint64_t due = FLastReadTick + interval;
      const uint64_t wait = settle + std::min<uint64_t>((due > now ? due - now : 0) + interval, kBurstWaitMs);
      burst = KzInetDataWaiting(hRequest, static_cast<uint32_t>(wait)) && KzMGetTickCount() - now <= settle;
    }
    // A source at the wanted rate is read as its frames come, whatever
    // their phase against the reader's schedule.
    if (!burst || KzMGetTickCount() >= FLastReadTick + interval) PaceRead(burst ? 0 : interval);
    if (!KzInetReadBody(hRequest, buffer.get(), kReadBufferSize, BytesToRead)) {
      SetError(TKzSourceErrorKind::kzseStreamClosed, "the connection to " + PeerText() + " broke");
      end = BytesRead > 0 ? TBodyEnd::kzbeReconnect : TBodyEnd::kzbeStop;
      break;
    }
    if (BytesToRead == 0) {
      const uint64_t now = KzMGetTickCount();
      if (!KzInetBodyEnded(hRequest)) {
        // Nothing within the receive time-out: a slow camera, or a dead connection.
        if (now - FLastDataTick < FrameTimeOutMs()) continue;
        SetError(TKzSourceErrorKind::kzseTimedOut,
                 "no picture from " + PeerText() + " for " + std::to_string((now - FLastDataTick) / 1000) + " s");
        end = TBodyEnd::kzbeReconnect;
        break;
      }
      // A reply that ended by its own framing (a still image) is followed by
      // the next request, one per SleepMSec; a stream that stopped is opened
      // again at once when it had delivered something.
      const bool complete = KzInetBodyComplete(hRequest);
      if (BytesRead == 0 && !FCycleVideoImages) {
        SetError(TKzSourceErrorKind::kzseNotVideo, "not a video stream: empty reply from " + KzPathForText(Path));
        end = TBodyEnd::kzbeStop;
      } else if (!sawPicture && !FCycleVideoImages) {
        SetError(TKzSourceErrorKind::kzseNotVideo, "not a video stream: no picture in the reply from " + KzPathForText(Path));
        end = TBodyEnd::kzbeStop;
      } else if (!FCycleVideoImages && !complete) {
        SetError(TKzSourceErrorKind::kzseStreamClosed, PeerText() + " closed the stream");
        end = TBodyEnd::kzbeReconnect;
      }
      if (complete) PaceRead(0);
      break;
    }
    NoteData(KzMGetTickCount());
    sawPicture = sawPicture || HasJpegStart(buffer.get(), BytesToRead, lastByte);
    Debug();
    if (pipeline) {
      CopyToPipeline(buffer.get(), BytesToRead);
      if (pipeline->Decode().IsImgError.exchange(false)) {
        const uint64_t now = KzMGetTickCount();
        if (FLastErrorTick != 0 && now - FLastErrorTick <= kErrorWindowMs)
          ++FErrorCount;
        else
          FErrorCount = 1;
        FLastErrorTick = now;
        if (FErrorCount > kMaxBadFrames) {
          SetError(TKzSourceErrorKind::kzseNotVideo, "too many broken pictures from " + PeerText());
          end = TBodyEnd::kzbeReconnect;
        }
      }
    }
    BytesRead += BytesToRead;
    if (FTProgress) Progress();
    if (end == TBodyEnd::kzbeReconnect) break;
  }
  SetOwnResult(BytesRead > 0 || Result());
  return end;
}

}  // namespace kz
