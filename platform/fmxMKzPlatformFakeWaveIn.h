// A wave-in backend without a sound card: its devices produce PCM on the
// platform clock (the virtual clock in tests), one buffer once the buffer's
// length of time has passed, with the faults a real device shows.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>

#include "platform/fmxMKzPlatformWaveIn.h"

namespace kz {

class TKzFakeWaveInBackend : public IKzWaveInBackend {
public:
  // Fills Count bytes at Data; Offset is the byte position since Open.
  using TGenerator = std::function<void(uint8_t* Data, size_t Count, uint64_t Offset)>;

  struct TDevice {
    std::string Name;
    uint16_t Volume = 0;
  };

  // Set these before opening a device; they are read by Open (main thread).
  std::vector<TDevice> Devices{{"fake-mic", 32768}};
  bool FailOpen = false;
  // The device goes away after that many buffers (-1: never).
  int64_t VanishAfterBuffers = -1;
  // Every that many buffers an overrun loses one buffer of sound (0: never).
  uint32_t OverrunEvery = 0;
  // Silence when empty.
  TGenerator Generator;

  // Devices opened so far, with their indexes (-1: default). Any thread.
  int32_t OpenCount() const { return FOpenCount.load(); }
  int32_t LastOpenedIndex() const { return FLastIndex.load(); }
  // Times a running device found its next buffer not yet due: a test that
  // sees it grow knows the device has caught up with the clock. Any thread.
  uint64_t ClockWaits() const { return FClockWaits.load(); }

  std::unique_ptr<IKzWaveIn> CreateWaveIn() override;
  std::vector<std::string> DeviceNames() override;
  uint16_t GetVolume(int32_t DeviceIndex) override;
  bool SetVolume(int32_t DeviceIndex, uint16_t Volume) override;

private:
  friend class TKzFakeWaveIn;
  std::mutex FLock;  // guards Devices' volumes against the callers of Get/SetVolume
  std::atomic<int32_t> FOpenCount{0};
  std::atomic<int32_t> FLastIndex{-2};
  std::atomic<uint64_t> FClockWaits{0};
};

}  // namespace kz
