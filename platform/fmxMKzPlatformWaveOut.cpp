#include "platform/fmxMKzPlatformWaveOut.h"

#include <algorithm>
#include <atomic>
#include <deque>

#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformDeviceThread.h"

namespace kz {

namespace {
std::atomic<IKzWaveOutBackend*> gBackend{nullptr};
}

IKzWaveOutBackend& KzWaveOutBackend() {
  IKzWaveOutBackend* b = gBackend.load(std::memory_order_acquire);
  return b ? *b : KzAlsaWaveOutBackend();
}

IKzWaveOutBackend* KzSetWaveOutBackend(IKzWaveOutBackend* Backend) {
  return gBackend.exchange(Backend, std::memory_order_acq_rel);
}

// The device thread's requests besides the shared ones (pause), its queue
// and what it has played.
struct TKzWaveOutDevice::TState : TKzDeviceThreadState {
  struct TEntry {
    TKzWaveOutBuffer* Buffer;
    uint32_t Written = 0;   // bytes given to the device
    int64_t EndFrame = -1;  // frame count after its last frame, once all written
  };
  std::deque<TEntry> Queue;
  size_t Unwritten = 0;
  bool WantPause = false;
  bool Paused = false;
  bool Lost = false;
  int64_t FramesWritten = 0;  // since the last reset
  // Position: what had played at PlayedAt (platform ms), moving on at the
  // format's rate while playing, up to what was written.
  std::atomic<int64_t> PlayedBase{0};
  std::atomic<int64_t> Played{0};
  std::atomic<uint64_t> PlayedAt{0};
  std::atomic<int64_t> Written{0};
  std::atomic<bool> Moving{false};
  std::atomic<uint32_t> Underruns{0};
};

TKzWaveOutDevice::TKzWaveOutDevice() = default;

TKzWaveOutDevice::~TKzWaveOutDevice() {
  // A derived device closes itself; this only guards against a forgotten Close.
  if (FState) FState->Finish();
}

bool TKzWaveOutDevice::Open(int32_t DeviceIndex, const TKzWaveOutFormat& Format, TKzWaveOutCallback Callback) {
  if (FState || !Format.Valid() || !DeviceOpen(DeviceIndex, Format)) return false;
  FFormat = Format;
  FCallback = std::move(Callback);
  FState = std::make_unique<TState>();
  FState->Launch([this] { Loop(); });
  return true;
}

bool TKzWaveOutDevice::Write(TKzWaveOutBuffer* Buffer) {
  const uint32_t align = static_cast<uint32_t>(FFormat.BlockAlign());
  if (!FState || !Buffer || !Buffer->Data || Buffer->BufferLength < align || Buffer->BufferLength % align) return false;
  bool wake;
  {
    std::lock_guard<std::mutex> g(FState->Lock);
    if (FState->Lost || FState->Quit) return false;
    // With buffers queued the thread wakes by itself before the device has
    // played them all (at the first one's end, or soon while it is full).
    wake = FState->Queue.empty();
    FState->Queue.push_back({Buffer});
    ++FState->Unwritten;
  }
  if (wake) FState->Wake.notify_all();
  return true;
}

void TKzWaveOutDevice::Pause() {
  if (FState) FState->Post([this] { FState->WantPause = true; });
}

void TKzWaveOutDevice::Restart() {
  if (FState) FState->Post([this] { FState->WantPause = false; });
}

void TKzWaveOutDevice::Reset() {
  if (FState) FState->AskReset();
}

void TKzWaveOutDevice::Close() {
  if (!FState) return;
  Reset();
  FState->Finish();
  DeviceClose();
  FState.reset();
}

int64_t TKzWaveOutDevice::Position() const {
  if (!FState) return 0;
  const TState& s = *FState;
  int64_t played = s.Played.load();
  if (s.Moving.load())
    played = std::min(s.Written.load(),
                      played + int64_t(PlatformTickCount() - s.PlayedAt.load()) * FFormat.SamplesPerSec / 1000);
  return s.PlayedBase.load() + played;
}

uint32_t TKzWaveOutDevice::Underruns() const { return FState ? FState->Underruns.load() : 0; }

void TKzWaveOutDevice::CountUnderrun() {
  if (FState) FState->Underruns.fetch_add(1, std::memory_order_relaxed);
}

bool TKzWaveOutDevice::HasUnwritten() const {
  if (!FState) return false;
  std::lock_guard<std::mutex> g(FState->Lock);
  return FState->Unwritten > 0;
}

void TKzWaveOutDevice::Loop() {
  TState& s = *FState;
  const int64_t align = FFormat.BlockAlign();
  std::unique_lock<std::mutex> lk(s.Lock);
  std::vector<TKzWaveOutBuffer*> done;
  for (;;) {
    if (s.ResetPending()) {
      const uint64_t asked = s.ResetsAsked;
      for (const TState::TEntry& e : s.Queue) done.push_back(e.Buffer);
      s.Queue.clear();
      s.Unwritten = 0;
      lk.unlock();
      const int64_t played = s.FramesWritten - DeviceDelay();
      DeviceDrop();
      for (TKzWaveOutBuffer* b : done) FCallback(b);
      done.clear();
      lk.lock();
      // Frames dropped unplayed never count as played.
      s.PlayedBase += played > 0 ? played : 0;
      s.Played = 0;
      s.Written = 0;
      s.Moving = false;
      s.FramesWritten = 0;
      s.ResetServed(asked);
      continue;
    }
    if (s.Quit) break;
    if (s.WantPause != s.Paused) {
      s.Paused = s.WantPause;
      const bool pause = s.Paused;
      lk.unlock();
      DevicePause(pause);
      lk.lock();
      continue;
    }
    if (s.Paused || s.Lost || s.Queue.empty()) {
      s.Moving = false;
      lk.unlock();
      DeviceDelay();
      DevicePassDone(true);
      lk.lock();
      s.Wake.wait_for(lk, DeviceWaitTime(true), [&] {
        return s.Quit || s.ResetPending() || s.WantPause != s.Paused || s.Unwritten > 0;
      });
      continue;
    }
    // Feed the first buffer not yet wholly written.
    bool progress = false;
    for (TState::TEntry& e : s.Queue) {
      if (e.EndFrame >= 0) continue;
      const uint8_t* at = e.Buffer->Data + e.Written;
      const int64_t frames = (e.Buffer->BufferLength - e.Written) / align;
      lk.unlock();
      const int64_t took = DeviceWrite(at, frames);
      lk.lock();
      if (took < 0) {
        s.Lost = true;
      } else if (took > 0) {
        progress = true;
        e.Written += static_cast<uint32_t>(took * align);
        s.FramesWritten += took;
        if (e.Written >= e.Buffer->BufferLength) {
          e.EndFrame = s.FramesWritten;
          --s.Unwritten;
        }
      }
      break;
    }
    // A buffer is done when its last frame has played.
    lk.unlock();
    const int64_t delay = DeviceDelay();
    lk.lock();
    const int64_t played = std::max<int64_t>(0, s.FramesWritten - std::max<int64_t>(0, delay));
    s.Played = played;
    s.PlayedAt = PlatformTickCount();
    s.Written = s.FramesWritten;
    s.Moving = !s.Paused && played < s.FramesWritten;
    // Nothing to feed: sleep until the first buffer should have played.
    std::chrono::microseconds untilDone = DeviceWaitTime(true);
    if (!s.Queue.empty() && s.Queue.front().EndFrame > played)
      untilDone = std::min(untilDone, std::chrono::microseconds((s.Queue.front().EndFrame - played) * 1000000 /
                                                                    FFormat.SamplesPerSec + 500));
    while (!s.Queue.empty() && s.Queue.front().EndFrame >= 0 && s.Queue.front().EndFrame <= played) {
      done.push_back(s.Queue.front().Buffer);
      s.Queue.pop_front();
    }
    const bool idle = s.Unwritten == 0;
    lk.unlock();
    for (TKzWaveOutBuffer* b : done) FCallback(b);
    const bool finished = !done.empty();
    done.clear();
    DevicePassDone(idle);
    lk.lock();
    if (!progress && !finished)
      s.Wake.wait_for(lk, idle ? untilDone : DeviceWaitTime(false), [&] {
        return s.Quit || s.ResetPending() || s.WantPause != s.Paused || (idle && s.Unwritten > 0);
      });
  }
}

}  // namespace kz
