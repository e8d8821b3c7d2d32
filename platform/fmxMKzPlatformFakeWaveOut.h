// A wave-out backend without a sound card: its devices play at the format's
// rate on the platform clock (the virtual clock in tests) and record which
// bytes started playing when, counting the gaps as underruns.
#pragma once
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformWaveOut.h"

namespace kz {

class TKzFakeWaveOut;

class TKzFakeWaveOutBackend : public IKzWaveOutBackend {
public:
  struct TDevice {
    std::string Name;
    uint16_t Volume = 0;
  };
  // One write as the device played it: from StartMs (platform clock) on.
  struct TPlayed {
    int32_t Serial = 0;  // which opened device (1 = the first)
    double StartMs = 0;
    std::string Bytes;
    TKzWaveOutFormat Format;
  };

  // Set these before opening a device; they are read by Open.
  std::vector<TDevice> Devices{{"fake-speaker", 32768}};
  bool FailOpen = false;
  bool RecordPlayed = true;

  // What has played or is queued to play, in order of writing; a reset
  // cuts what had not played. Any thread.
  std::vector<TPlayed> Played() const;
  int32_t OpenCount() const { return FOpenCount.load(); }
  int32_t OpenDevices() const;
  // Whether every open device has handled everything up to Tick. Any thread.
  bool SettledAt(uint64_t Tick) const;

  std::unique_ptr<IKzWaveOut> CreateWaveOut() override;
  std::vector<std::string> DeviceNames() override;
  uint16_t GetVolume(int32_t DeviceIndex) override;
  bool SetVolume(int32_t DeviceIndex, uint16_t Volume) override;

private:
  friend class TKzFakeWaveOut;
  mutable std::mutex FLock;  // guards the volumes, FPlayed and FOpen
  std::vector<TPlayed> FPlayed;
  std::set<TKzFakeWaveOut*> FOpen;
  std::atomic<int32_t> FOpenCount{0};
};

}  // namespace kz
