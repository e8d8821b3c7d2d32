// The RTSP session thread and the thread of one playing channel.
#include <algorithm>

#include "camera/fmxMKzCamThreads.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
constexpr int32_t kMaxFailures = 5;
constexpr uint32_t kRetryPauseMs = 500;
constexpr uint32_t kKeepAliveMs = 30000;    // a playing session is refreshed this often
constexpr int64_t kTeardownWaitMs = 500;    // the reply to a TEARDOWN after an abort
}  // namespace

TKzCamRTSPGetThread::TKzCamRTSPGetThread(const TKzCamStreamParams& Params)
    : TKzCamThreadWithFFMPEG(TKzCamStreamKind::kzcskRTSP, "TKzCamRTSPGet", Params, true) {
  CreateEvent(false, false);
}

TKzCamRTSPGetThread::~TKzCamRTSPGetThread() { KzMFreeThread(VideoThread); }

void TKzCamRTSPGetThread::Abort() {
  TKzCamThreadWithFFMPEG::Abort();
  Event()->SetEvent();
}

bool TKzCamRTSPGetThread::StartChannel(int32_t Channel, TKzRTSPTypeMedia Media) {
  hConnect->CurChannel = Channel;
  bool started = false;
  const bool played = SendRTSPCmd(hConnect, "PLAY");
  if (played && Media == TKzRTSPTypeMedia::kzrtspVideo && !VideoThread) {
    VideoThread = new TKzCamRTSPChannelThread(KzCamera, hConnect->ChannelRTSP[static_cast<size_t>(Channel)]);
    StartThread(VideoThread);
    started = true;
  }
  // An abort that cut PLAY's answer short may leave the server playing: the
  // channel is torn down with the others on the way out, when a request can
  // go out again.
  const bool maybePlaying = !played && Aborted();
  hConnect->ChannelRTSP[static_cast<size_t>(Channel)].IsPlay = started || maybePlaying;
  if (!started && !maybePlaying) SendRTSPCmd(hConnect, "TEARDOWN");
  return started;
}

void TKzCamRTSPGetThread::StopChannel(int32_t Channel) {
  hConnect->CurChannel = Channel;
  SendRTSPCmd(hConnect, "TEARDOWN");
  hConnect->ChannelRTSP[static_cast<size_t>(Channel)].IsPlay = false;
  KzMFreeThread(VideoThread);
}

void TKzCamRTSPGetThread::Run() {
  if (FRTSPPort == 0) FRTSPPort = 554;
  std::string path;
  int port = 0;
  ParseURL2(FTURL, FRTSPPort, HostName, path, port);
  FRTSPPort = static_cast<uint16_t>(port);
  CurFileName = path;
  if (FTURL.empty() || HostName.empty()) return;

  const std::string proxy = ProxyText();
  hSession = InternetOpen(FTAgent.empty() ? nullptr : FTAgent.c_str(), 0, proxy.empty() ? nullptr : proxy.c_str(),
                          nullptr, 0);
  hSession->Abort = &FTAbort;
  SetInetTimeOut(hSession, FSearchRTSPTimeOut);
  hConnect = RtspInternetConnect(hSession, HostName, FRTSPPort, path, UserName, Password);
  if (!hConnect && !Aborted()) SetError(KzInetLastError(hSession));

  int32_t failures = 0;
  while (hConnect && !Aborted()) {
    hRequest = nullptr;
    const bool options = SendRTSPCmd(hConnect, "OPTIONS");
    const bool describe = options && SendRTSPCmd(hConnect, "DESCRIBE");
    if (!describe) {
      if (++failures >= kMaxFailures && !Aborted()) {
        TKzSourceError why = KzInetLastError(hConnect);
        if (!why.Failed()) why = {TKzSourceErrorKind::kzseTimedOut, 0, "no RTSP session from " + HostName + ":" + std::to_string(FRTSPPort)};
        SetError(why);
      }
      if (failures >= kMaxFailures || !Pause(kRetryPauseMs)) break;
      continue;
    }
    failures = 0;
    hRequest = hConnect;
    // Client ports and indices per media kind, in the order of the description.
    int32_t videoIndex = 0, audioIndex = 0;
    const int32_t count = std::min<int32_t>(hConnect->ChannelCount, static_cast<int32_t>(hConnect->ChannelRTSP.size()));
    for (int32_t i = 0; i < count && !Aborted(); ++i) {
      hConnect->CurChannel = i;
      TKzMChannelRTSP& c = hConnect->ChannelRTSP[static_cast<size_t>(i)];
      if (c.TypeMedia == "video") {
        c.ClientPort = VideoClientPort;
        c.Index = videoIndex++;
      } else if (c.TypeMedia == "audio") {
        c.ClientPort = AudioClientPort;
        c.Index = audioIndex++;
      } else {
        c.ClientPort = 0;
        c.Index = -1;
      }
      if (c.ClientPort != 0) SendRTSPCmd(hConnect, "SETUP");
    }
    bool playing = false;
    for (int32_t i = 0; i < count && !Aborted(); ++i) {
      const TKzMChannelRTSP& c = hConnect->ChannelRTSP[static_cast<size_t>(i)];
      if (c.ClientPort == 0) continue;
      if (c.TypeMedia == "video" && c.Index == VideoChannel)
        playing = StartChannel(i, TKzRTSPTypeMedia::kzrtspVideo) || playing;
      else if (c.TypeMedia == "audio" && c.Index == AudioChannel)
        playing = StartChannel(i, TKzRTSPTypeMedia::kzrtspAudio) || playing;
    }
    // The session is kept until the thread is aborted (a playing one is
    // refreshed now and then so that the server does not drop it).
    while (!Aborted()) {
      if (Event()->WaitFor(kKeepAliveMs) == TWaitResult::wrTimeout && playing && !Aborted())
        SendRTSPCmd(hConnect, "OPTIONS");
    }
    const auto& channels = hConnect->ChannelRTSP;
    if (std::any_of(channels.begin(), channels.begin() + count, [](const TKzMChannelRTSP& C) { return C.IsPlay; })) {
      // The abort flag stops every request; the TEARDOWN still goes out,
      // waiting only briefly for its answer.
      hConnect->Abort = &hConnect->FAbortFlag;
      hConnect->WaitRecv = std::min<int64_t>(hConnect->WaitRecv, kTeardownWaitMs);
      for (int32_t i = 0; i < count; ++i)
        if (hConnect->ChannelRTSP[static_cast<size_t>(i)].IsPlay) StopChannel(i);
    }
    break;
  }
  CloseHandles();
  if (TKzGetData* pipeline = KzCamera->GetDataThread(); pipeline && !pipeline->Decode().isStartVideo.load())
    StopVideo();
}

// ---- TKzCamRTSPChannelThread

TKzCamRTSPChannelThread::TKzCamRTSPChannelThread(TKzCamera* Camera, const TKzMChannelRTSP& AChannel)
    : TKzBaseThread(true, "TKzCamRTSPChan"), KzCamera(Camera), Channel(AChannel) {
  CreateEvent(true, false);
}

void TKzCamRTSPChannelThread::Abort() {
  TKzBaseThread::Abort();
  Event()->SetEvent();
}

void TKzCamRTSPChannelThread::DoExecute() {
  while (!Terminated()) Event()->WaitFor(INFINITE);
}

}  // namespace kz
