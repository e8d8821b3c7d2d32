// The camera: trying a failed source again, for every kind of fetch thread.
#include "camera/fmxMKzCamera.h"

#include <algorithm>

#include "platform/fmxMKzPlatformSockets.h"

namespace kz {

namespace {
constexpr uint32_t kTickMs = 250;        // the outage timer
constexpr uint64_t kProbeEveryMs = 500;   // connect probes while the cause is a refusal
constexpr uint32_t kFirstDelayMs = 1000;

// The wait before attempt Attempt (from 1): 1 s, doubling, at most Max.
uint64_t ReconnectDelay(uint32_t Attempt, uint32_t Max) {
  const uint32_t shift = std::min<uint32_t>(Attempt > 0 ? Attempt - 1 : 0, 20);
  return std::min<uint64_t>(static_cast<uint64_t>(kFirstDelayMs) << shift, Max);
}
}  // namespace

bool TKzCamera::IsPassingFailure(const TKzSourceError& Error) {
  switch (Error.Kind) {
    case TKzSourceErrorKind::kzseNone:  // an end without a failure
      return false;
    case TKzSourceErrorKind::kzseRefused:
    case TKzSourceErrorKind::kzseTimedOut:
    case TKzSourceErrorKind::kzseNameNotFound:
    case TKzSourceErrorKind::kzseStreamClosed:
    case TKzSourceErrorKind::kzseOther:
      return true;
    case TKzSourceErrorKind::kzseHTTPStatus:
      // A busy or restarting server; a wrong path or a refused request stays wrong.
      return Error.StatusCode == 408 || Error.StatusCode == 429 || Error.StatusCode == 502 ||
             Error.StatusCode == 503 || Error.StatusCode == 504;
    case TKzSourceErrorKind::kzseNotVideo:
    case TKzSourceErrorKind::kzseLoginRefused:
    case TKzSourceErrorKind::kzseEmptyFile:
      return false;
  }
  return false;
}

bool TKzCamera::BeginOutage(TKzCamStreamThread& Thread, TKzSourceError Error) {
  if (!FAutoReconnect || FStopRequested || IsDestroying() || KzIsFileStreamKind(Thread.Kind()) ||
      !IsPassingFailure(Error))
    return false;
  // Frames since the thread started: this is a new outage.
  if (GetFrameIndex() != FFrameIndexAtStart) FReconnectAttempt = 0;
  ++FReconnectAttempt;
  FLastError = Error;
  const uint64_t now = KzMGetTickCount();
  FReconnectWaiting = true;
  FReconnectDue = now + ReconnectDelay(FReconnectAttempt, FReconnectDelayMax);
  // The host answered (refused, or hung up): its camera service is away
  // and may return any moment. Time-outs and unknown names keep the back-off.
  FProbing = (Error.Kind == TKzSourceErrorKind::kzseRefused || Error.Kind == TKzSourceErrorKind::kzseStreamClosed) &&
             !FSourceHost.empty() &&
             FProxyProperty.ProxyMode() != TKzMFProxyMode::kzmManualSettings;
  FNextProbe = now;  // the first probe at the next tick
  if (!FTimerReconnect) {
    FTimerReconnect = std::make_unique<TTimer>();
    FTimerReconnect->SetInterval(kTickMs);
    FTimerReconnect->OnTimer = [this](TTimer*) { ReconnectTick(); };
  }
  FTimerReconnect->SetEnabled(true);
  KzPostMessageDebug(this, 0, "reconnecting (attempt " + std::to_string(FReconnectAttempt) + "): " + Error.Text);
  const auto views = FConsumers.CamViews;
  for (IKzCamViewConsumer* v : views) v->ViewerReconnecting(this, FReconnectAttempt);
  if (OnReconnecting) OnReconnecting(this, FReconnectAttempt, FLastError);
  return true;
}

void TKzCamera::ReconnectTick() {
  if (!FReconnectWaiting) {
    // An attempt is under way: its first frame ends the outage.
    if (FReconnectAttempt > 0 && GetFrameIndex() != FFrameIndexAtStart) {
      FReconnectAttempt = 0;
      FLastError = TKzSourceError{};
    }
    if (FReconnectAttempt == 0 || !IsStreamPlaying()) FTimerReconnect->SetEnabled(false);
    return;
  }
  const uint64_t now = KzMGetTickCount();
  bool due = now >= FReconnectDue;
  if (!due && FProbing) {
    const bool start = now >= FNextProbe;
    if (start) FNextProbe = now + kProbeEveryMs;
    due = ProbeSource(start);
  }
  if (!due) return;
  CloseProbe();
  FReconnectWaiting = false;
  StartStreamThread(true);
  if (!FThreadHTTP && !FThreadRTSP) {
    // Nothing could be started (no URL any more): the stream ends here.
    FReconnectAttempt = 0;
    if (OnEndVideoStream) OnEndVideoStream(this, 1);
    CallDoneVideoStream(1);
  }
}

// One step of the connect probe: true when the probe under way connected;
// with Start a new probe begins when none is under way. Non-blocking
// connects only, so the main thread never waits on them.
bool TKzCamera::ProbeSource(bool Start) {
  if (FProbeSocket != KZ_INVALID_SOCKET) {
    bool done = false, failed = false;
    PlatformPollConnect(&FProbeSocket, &done, &failed, 1, 0);
    if (!done && !failed && !Start) return false;  // still under way
    CloseProbe();
    if (done) return true;
  }
  if (!Start) return false;
  // The name was resolved for the attempt that was refused, so this is an
  // answer from the name cache.
  const uint32_t addr = KzLookupName(FSourceHost);
  if (addr == 0) return false;
  FProbeSocket = PlatformSocketTCP();
  if (FProbeSocket == KZ_INVALID_SOCKET) return false;
  PlatformSetNonBlocking(FProbeSocket, true);
  if (PlatformConnect(FProbeSocket, addr, FSourcePort) == 0) {
    CloseProbe();
    return true;
  }
  if (PlatformSocketError() != TKzSocketError::kzseWouldBlock) CloseProbe();
  return false;
}

void TKzCamera::CloseProbe() { PlatformCloseSocket(FProbeSocket); }

bool TKzCamera::CancelReconnect() {
  const bool waiting = FReconnectWaiting;
  FReconnectWaiting = false;
  FReconnectAttempt = 0;
  if (FTimerReconnect) FTimerReconnect->SetEnabled(false);
  CloseProbe();
  return waiting;
}

}  // namespace kz
