#include "platform/fmxMKzPlatformFakeWaveOut.h"

#include <algorithm>
#include <cmath>

#include "platform/fmxMKzPlatformClock.h"

namespace kz {

class TKzFakeWaveOut : public TKzWaveOutDevice {
public:
  explicit TKzFakeWaveOut(TKzFakeWaveOutBackend& Backend) : FBackend(Backend) {}
  ~TKzFakeWaveOut() override { Close(); }

  bool SettledAt(uint64_t Tick) const { return FSettledTick.load() >= Tick && !HasUnwritten(); }

protected:
  bool DeviceOpen(int32_t DeviceIndex, const TKzWaveOutFormat& Format) override {
    std::lock_guard<std::mutex> g(FBackend.FLock);
    if (FBackend.FailOpen || DeviceIndex >= static_cast<int32_t>(FBackend.Devices.size())) return false;
    if ((DeviceIndex < 0 && FBackend.Devices.empty()) || (Format.BitsPerSample != 8 && Format.BitsPerSample != 16))
      return false;
    FFormat = Format;
    FRecord = FBackend.RecordPlayed;
    FSerial = ++FBackend.FOpenCount;
    FEndMs = double(PlatformTickCount());
    FBackend.FOpen.insert(this);
    return true;
  }
  void DeviceClose() override {
    std::lock_guard<std::mutex> g(FBackend.FLock);
    FBackend.FOpen.erase(this);
  }
  int64_t DeviceWrite(const uint8_t* Data, int64_t Frames) override {
    const double now = double(PlatformTickCount());
    // Starting after the end of what was queued leaves a gap: an underrun.
    if (FWroteAny && now > FEndMs + 0.5) CountUnderrun();
    const double start = std::max(now, FEndMs);
    FEndMs = start + double(Frames) * 1000.0 / FFormat.SamplesPerSec;
    FWroteAny = true;
    if (FRecord) {
      std::lock_guard<std::mutex> g(FBackend.FLock);
      FBackend.FPlayed.push_back({FSerial, start,
                                  std::string(reinterpret_cast<const char*>(Data), size_t(Frames) * FFormat.BlockAlign()),
                                  FFormat});
    }
    return Frames;
  }
  int64_t DeviceDelay() override {
    const uint64_t tick = PlatformTickCount();
    FDelayTick = tick;
    const double left = FPaused ? FPausedLeftMs : FEndMs - double(tick);
    return left <= 0 ? 0 : int64_t(std::ceil(left * FFormat.SamplesPerSec / 1000.0 - 1e-6));
  }
  void DevicePause(bool Pause) override {
    const double now = double(PlatformTickCount());
    if (Pause) FPausedLeftMs = std::max(0.0, FEndMs - now);
    else FEndMs = now + FPausedLeftMs;
    FPaused = Pause;
  }
  void DeviceDrop() override {
    const double now = double(PlatformTickCount());
    if (FRecord) {
      // What had not started playing never played.
      std::lock_guard<std::mutex> g(FBackend.FLock);
      auto& played = FBackend.FPlayed;
      for (auto it = played.begin(); it != played.end();) {
        if (it->Serial != FSerial || it->StartMs + Length(*it) <= now) {
          ++it;
        } else if (it->StartMs >= now) {
          it = played.erase(it);
        } else {
          const size_t frames = size_t((now - it->StartMs) * FFormat.SamplesPerSec / 1000.0);
          it->Bytes.resize(frames * FFormat.BlockAlign());
          ++it;
        }
      }
    }
    FEndMs = now;
    FPausedLeftMs = 0;
  }
  std::chrono::microseconds DeviceWaitTime(bool) override {
    // The virtual clock moves without telling anyone: look again soon.
    return KzVirtualClockActive() ? std::chrono::microseconds(200) : std::chrono::microseconds(100000);
  }
  void DevicePassDone(bool Idle) override {
    if (Idle) FSettledTick.store(FDelayTick);
  }

private:
  double Length(const TKzFakeWaveOutBackend::TPlayed& P) const {
    return double(P.Bytes.size() / FFormat.BlockAlign()) * 1000.0 / FFormat.SamplesPerSec;
  }
  TKzFakeWaveOutBackend& FBackend;
  TKzWaveOutFormat FFormat;
  bool FRecord = true;
  int32_t FSerial = 0;
  bool FWroteAny = false;
  bool FPaused = false;
  double FEndMs = 0;
  double FPausedLeftMs = 0;
  uint64_t FDelayTick = 0;
  std::atomic<uint64_t> FSettledTick{0};
};

std::vector<TKzFakeWaveOutBackend::TPlayed> TKzFakeWaveOutBackend::Played() const {
  std::lock_guard<std::mutex> g(FLock);
  return FPlayed;
}

int32_t TKzFakeWaveOutBackend::OpenDevices() const {
  std::lock_guard<std::mutex> g(FLock);
  return static_cast<int32_t>(FOpen.size());
}

bool TKzFakeWaveOutBackend::SettledAt(uint64_t Tick) const {
  std::lock_guard<std::mutex> g(FLock);
  for (const TKzFakeWaveOut* d : FOpen)
    if (!d->SettledAt(Tick)) return false;
  return true;
}

std::unique_ptr<IKzWaveOut> TKzFakeWaveOutBackend::CreateWaveOut() { return std::make_unique<TKzFakeWaveOut>(*this); }

std::vector<std::string> TKzFakeWaveOutBackend::DeviceNames() {
  std::lock_guard<std::mutex> g(FLock);
  std::vector<std::string> names;
  for (const TDevice& d : Devices) names.push_back(d.Name);
  return names;
}

uint16_t TKzFakeWaveOutBackend::GetVolume(int32_t DeviceIndex) {
  std::lock_guard<std::mutex> g(FLock);
  const size_t i = DeviceIndex < 0 ? 0 : static_cast<size_t>(DeviceIndex);
  return i < Devices.size() ? Devices[i].Volume : 0;
}

bool TKzFakeWaveOutBackend::SetVolume(int32_t DeviceIndex, uint16_t Volume) {
  std::lock_guard<std::mutex> g(FLock);
  const size_t i = DeviceIndex < 0 ? 0 : static_cast<size_t>(DeviceIndex);
  if (i >= Devices.size()) return false;
  Devices[i].Volume = Volume;
  return true;
}

}  // namespace kz
