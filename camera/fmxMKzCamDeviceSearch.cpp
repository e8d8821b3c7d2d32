// The model-table search: a bounded pool of URL checks over the candidates.
#include <algorithm>

#include "camera/fmxMKzCamSearch.h"
#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzInet.h"

namespace kz {

namespace {
constexpr uint32_t kAbortCheckMs = 1000;

bool Has(const std::string& Text, const char* What) {
  std::string lower(Text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find(What) != std::string::npos;
}
}  // namespace

// ---- TIsCamDeviceThread

TIsCamDeviceThread::TIsCamDeviceThread(TKzCamera* Owner, TKzSearchContextPtr Context, size_t ACandidate, TEvent* Done)
    : TKzBaseCamThread(Owner, "TIsCamDevice"), FContext(std::move(Context)), FCandidate(ACandidate), FDone(Done) {}

void TIsCamDeviceThread::DoExecute() {
  const TKzSearchContext& c = *FContext;
  const std::string& url = c.Candidates[FCandidate].URL;
  bool ok = false;
  if (Has(url, "http://")) {
    TKzCamRequestSettings s = c.Request;
    s.Deadline = KzMGetTickCount() + c.SearchTimeOut;
    ok = KzCamCheckMJPEG(url, s, FTAbort, c.SearchTimeOut);
  } else if (Has(url, "rtsp://")) {
    ok = CheckRTSP_URL(c.Request.Agent, url, c.Request.UserName, c.Request.Password, c.RTSPTimeOut, c.RTSPPort,
                       &FTAbort);
  }
  FTResult.store(ok && !Aborted(), std::memory_order_release);
  FChecked.store(true, std::memory_order_release);
  FDone->SetEvent();
}

// ---- TIsCamDevicesThread

TIsCamDevicesThread::TIsCamDevicesThread(TKzCamera* Owner, TKzSearchContextPtr Context, TKzCameraTypes ACameraTypes)
    : TKzBaseCamThread(Owner, "TIsCamDevices"),
      FContext(std::move(Context)),
      CameraTypes(ACameraTypes),
      IsCamDeviceThread(FContext->PoolSize, nullptr) {}

TIsCamDevicesThread::~TIsCamDevicesThread() {
  for (size_t i = 0; i < IsCamDeviceThread.size(); ++i) Reap(i);
}

void TIsCamDevicesThread::Abort() {
  TKzBaseCamThread::Abort();
  std::lock_guard<std::mutex> g(FPoolLock);
  for (TIsCamDeviceThread* t : IsCamDeviceThread)
    if (t) t->Abort();
}

// Frees the thread of Slot (waiting for its end); a success it had is kept
// when it comes from an earlier row than the one kept so far.
void TIsCamDevicesThread::Reap(size_t Slot) {
  TIsCamDeviceThread* t = nullptr;
  {
    std::lock_guard<std::mutex> g(FPoolLock);
    t = IsCamDeviceThread[Slot];
  }
  if (!t) return;
  while (!t->WaitForEnd(kAbortCheckMs)) {
  }
  if (t->Result() && t->Candidate() < FWinner) FWinner = t->Candidate();
  std::lock_guard<std::mutex> g(FPoolLock);
  IsCamDeviceThread[Slot] = nullptr;
  delete t;
}

void TIsCamDevicesThread::DoExecute() {
  const TKzSearchContext& c = *FContext;
  size_t inFlight = 0;
  // Frees every check that has its verdict; of those found at one look the
  // earliest row wins (Reap keeps the minimum).
  auto reapChecked = [&] {
    for (size_t i = 0; i < IsCamDeviceThread.size(); ++i)
      if (IsCamDeviceThread[i] && IsCamDeviceThread[i]->Checked()) {
        Reap(i);
        --inFlight;
      }
  };
  // The context holds only candidates of the requested families, in table order.
  for (size_t next = 0; next < c.Candidates.size(); ++next) {
    size_t slot = SIZE_MAX;
    for (;;) {
      reapChecked();
      if (FWinner != SIZE_MAX || Aborted()) break;
      const auto free = std::find(IsCamDeviceThread.begin(), IsCamDeviceThread.end(), nullptr);
      if (free != IsCamDeviceThread.end()) {
        slot = static_cast<size_t>(free - IsCamDeviceThread.begin());
        break;
      }
      FDone.WaitFor(kAbortCheckMs);
    }
    if (slot == SIZE_MAX) break;
    auto* t = new TIsCamDeviceThread(FOwner, FContext, next, &FDone);
    {
      std::lock_guard<std::mutex> g(FPoolLock);
      IsCamDeviceThread[slot] = t;
      if (Aborted()) t->Abort();
    }
    StartThread(t);
    FPeak = std::max(FPeak, ++inFlight);
  }
  // The rest: aborted once a result exists, else waited for.
  if (FWinner != SIZE_MAX) {
    std::lock_guard<std::mutex> g(FPoolLock);
    for (TIsCamDeviceThread* t : IsCamDeviceThread)
      if (t) t->Abort();
  }
  for (size_t i = 0; i < IsCamDeviceThread.size(); ++i) Reap(i);
  if (FWinner != SIZE_MAX && !Aborted()) {
    const TKzSearchCandidate& w = c.Candidates[FWinner];
    URL = w.URL;
    Models = w.Models;
    Devices = w.Devices;
  }
  FTResult.store(FWinner != SIZE_MAX && !Aborted(), std::memory_order_release);
}

}  // namespace kz
