#include "platform/fmxMKzPlatformWaveIn.h"

#include <atomic>
#include <deque>

#include "platform/fmxMKzPlatformDeviceThread.h"

namespace kz {

namespace {
std::atomic<IKzWaveInBackend*> gBackend{nullptr};
}

IKzWaveInBackend& KzWaveInBackend() {
  IKzWaveInBackend* b = gBackend.load(std::memory_order_acquire);
  return b ? *b : KzAlsaWaveInBackend();
}

IKzWaveInBackend* KzSetWaveInBackend(IKzWaveInBackend* Backend) {
  return gBackend.exchange(Backend, std::memory_order_acq_rel);
}

// The capture thread's requests besides the shared ones (run or not).
struct TKzWaveInDevice::TState : TKzDeviceThreadState {
  std::deque<TKzWaveInBuffer*> Queue;
  bool WantRun = false;
  bool Running = false;
  bool Lost = false;
  std::atomic<uint32_t> Overruns{0};
};

TKzWaveInDevice::TKzWaveInDevice() = default;

TKzWaveInDevice::~TKzWaveInDevice() {
  // A derived device closes itself; this only guards against a forgotten Close.
  if (FState) FState->Finish();
}

bool TKzWaveInDevice::Open(int32_t DeviceIndex, const TKzWaveInFormat& Format, TKzWaveInCallback Callback) {
  if (FState || !Format.Valid() || !DeviceOpen(DeviceIndex, Format)) return false;
  FFormat = Format;
  FCallback = std::move(Callback);
  FState = std::make_unique<TState>();
  FState->Launch([this] { Loop(); });
  return true;
}

bool TKzWaveInDevice::Queue(TKzWaveInBuffer* Buffer) {
  if (!FState || !Buffer || !Buffer->Data || Buffer->BufferLength < static_cast<uint32_t>(FFormat.BlockAlign()))
    return false;
  {
    std::lock_guard<std::mutex> g(FState->Lock);
    if (FState->Lost || FState->Quit) return false;
    Buffer->BytesRecorded = 0;
    FState->Queue.push_back(Buffer);
  }
  FState->Wake.notify_all();
  return true;
}

bool TKzWaveInDevice::Start() {
  if (!FState) return false;
  bool lost = false;
  FState->Post([&] {
    lost = FState->Lost;
    if (!lost) FState->WantRun = true;
  });
  return !lost;
}

void TKzWaveInDevice::Stop() {
  if (FState) FState->Post([this] { FState->WantRun = false; });
}

void TKzWaveInDevice::Reset() {
  if (FState) FState->AskReset([this] { FState->WantRun = false; });
}

void TKzWaveInDevice::Close() {
  if (!FState) return;
  Reset();
  FState->Finish();
  DeviceClose();
  FState.reset();
}

uint32_t TKzWaveInDevice::Overruns() const { return FState ? FState->Overruns.load() : 0; }

void TKzWaveInDevice::CountOverrun() {
  if (FState) FState->Overruns.fetch_add(1, std::memory_order_relaxed);
}

void TKzWaveInDevice::ReturnBuffers(std::vector<TKzWaveInBuffer*> Buffers) {
  for (TKzWaveInBuffer* b : Buffers) FCallback(TKzWaveInMessage::kzwimData, b);
}

void TKzWaveInDevice::Loop() {
  TState& s = *FState;
  std::unique_lock<std::mutex> lk(s.Lock);
  for (;;) {
    if (s.ResetPending()) {
      const uint64_t asked = s.ResetsAsked;
      std::vector<TKzWaveInBuffer*> pending(s.Queue.begin(), s.Queue.end());
      s.Queue.clear();
      const bool wasRunning = s.Running;
      s.Running = false;
      lk.unlock();
      if (wasRunning) DeviceStop();
      ReturnBuffers(std::move(pending));
      lk.lock();
      s.ResetServed(asked);
      continue;
    }
    if (s.Quit) break;
    if (s.WantRun != s.Running && !s.Lost) {
      const bool want = s.WantRun;
      lk.unlock();
      const bool ok = want ? DeviceStart() : (DeviceStop(), true);
      lk.lock();
      s.Running = want && ok;
      if (want && !ok) s.WantRun = false;
      continue;
    }
    if (!s.Running || s.Queue.empty()) {
      s.Wake.wait_for(lk, std::chrono::milliseconds(100));
      continue;
    }
    TKzWaveInBuffer* b = s.Queue.front();
    lk.unlock();
    const TFill fill = DeviceFill(*b);
    if (fill == TFill::kzfLost) {
      DeviceStop();
      lk.lock();
      s.Lost = true;
      s.Running = false;
      s.WantRun = false;
      lk.unlock();
      FCallback(TKzWaveInMessage::kzwimDeviceLost, nullptr);
      lk.lock();
      continue;
    }
    lk.lock();
    // A reset asked meanwhile takes the buffer back itself.
    if (b->BytesRecorded >= b->BufferLength && !s.ResetPending() && !s.Queue.empty() &&
        s.Queue.front() == b) {
      s.Queue.pop_front();
      lk.unlock();
      FCallback(TKzWaveInMessage::kzwimData, b);
      lk.lock();
    }
  }
}

}  // namespace kz
