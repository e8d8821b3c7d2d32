#include "platform/fmxMKzPlatformFakeWaveIn.h"

#include <cstring>
#include <thread>

#include "platform/fmxMKzPlatformClock.h"

namespace kz {

class TKzFakeWaveIn : public TKzWaveInDevice {
public:
  explicit TKzFakeWaveIn(TKzFakeWaveInBackend& Backend) : FBackend(Backend) {}
  ~TKzFakeWaveIn() override { Close(); }

protected:
  bool DeviceOpen(int32_t DeviceIndex, const TKzWaveInFormat& Format) override {
    if (FBackend.FailOpen || DeviceIndex >= static_cast<int32_t>(FBackend.Devices.size())) return false;
    if (DeviceIndex < 0 && FBackend.Devices.empty()) return false;
    if (Format.BitsPerSample != 8 && Format.BitsPerSample != 16) return false;
    FVanishAfter = FBackend.VanishAfterBuffers;
    FOverrunEvery = FBackend.OverrunEvery;
    FGenerator = FBackend.Generator;
    FBackend.FLastIndex = DeviceIndex;
    ++FBackend.FOpenCount;
    return true;
  }
  void DeviceClose() override {}
  bool DeviceStart() override {
    FStartTick = PlatformTickCount();
    FBytesSinceStart = 0;
    return true;
  }
  void DeviceStop() override {}
  TFill DeviceFill(TKzWaveInBuffer& Buffer) override {
    if (FVanishAfter >= 0 && FBuffersDone >= static_cast<uint64_t>(FVanishAfter)) return TFill::kzfLost;
    const uint64_t bytesPerSec = static_cast<uint64_t>(Format().BlockAlign()) * Format().SamplesPerSec;
    const uint64_t wanted = FBytesSinceStart + Buffer.BufferLength - Buffer.BytesRecorded;
    // The buffer is full once its time has passed since the start.
    if (PlatformTickCount() - FStartTick < wanted * 1000 / bytesPerSec) {
      ++FBackend.FClockWaits;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return TFill::kzfIdle;
    }
    if (FOverrunEvery && (FBuffersDone + 1) % FOverrunEvery == 0 && !FOverrunNow) {
      // One buffer's worth of sound is lost before this one is filled.
      FOverrunNow = true;
      CountOverrun();
      FOffset += Buffer.BufferLength;
      FBytesSinceStart += Buffer.BufferLength;
      return TFill::kzfProgress;
    }
    FOverrunNow = false;
    uint8_t* at = Buffer.Data + Buffer.BytesRecorded;
    const size_t count = Buffer.BufferLength - Buffer.BytesRecorded;
    if (FGenerator)
      FGenerator(at, count, FOffset);
    else
      std::memset(at, Format().BitsPerSample == 8 ? 128 : 0, count);
    FOffset += count;
    FBytesSinceStart += count;
    Buffer.BytesRecorded = Buffer.BufferLength;
    ++FBuffersDone;
    return TFill::kzfProgress;
  }

private:
  TKzFakeWaveInBackend& FBackend;
  TKzFakeWaveInBackend::TGenerator FGenerator;
  int64_t FVanishAfter = -1;
  uint32_t FOverrunEvery = 0;
  bool FOverrunNow = false;
  uint64_t FStartTick = 0;
  uint64_t FBytesSinceStart = 0;
  uint64_t FOffset = 0;
  uint64_t FBuffersDone = 0;
};

std::unique_ptr<IKzWaveIn> TKzFakeWaveInBackend::CreateWaveIn() { return std::make_unique<TKzFakeWaveIn>(*this); }

std::vector<std::string> TKzFakeWaveInBackend::DeviceNames() {
  std::vector<std::string> names;
  for (const TDevice& d : Devices) names.push_back(d.Name);
  return names;
}

uint16_t TKzFakeWaveInBackend::GetVolume(int32_t DeviceIndex) {
  std::lock_guard<std::mutex> g(FLock);
  if (Devices.empty()) return 0;
  const size_t i = DeviceIndex < 0 ? 0 : static_cast<size_t>(DeviceIndex);
  return i < Devices.size() ? Devices[i].Volume : 0;
}

bool TKzFakeWaveInBackend::SetVolume(int32_t DeviceIndex, uint16_t Volume) {
  std::lock_guard<std::mutex> g(FLock);
  const size_t i = DeviceIndex < 0 ? 0 : static_cast<size_t>(DeviceIndex);
  if (i >= Devices.size()) return false;
  Devices[i].Volume = Volume;
  return true;
}

}  // namespace kz
