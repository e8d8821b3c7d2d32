// What the player tests share: the fake wave-out on the virtual clock,
// stepped one millisecond at a time until every timer and device has done
// what was due, and blocks whose samples say which block they are.
#pragma once
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "audio/fmxMKzAudioPlayer.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformFakeWaveOut.h"
#include "platform/fmxMKzPlatformTimerQueue.h"

namespace kztest {

// Every sample of block Id holds Id (8-bit: its low byte).
inline std::string TaggedBlock(int Id, const kz::TKzAudioInfo& Format, uint32_t Ms) {
  const size_t frames = size_t(Format.SamplesPerSec) * Ms / 1000;
  std::string s;
  for (size_t i = 0; i < frames * size_t(Format.Channels); ++i) {
    if (Format.BitsPerSample == kz::TKzBitsPerSample::kzbps8) {
      s += char(Id & 0xFF);
    } else {
      s += char(Id & 0xFF);
      s += char((Id >> 8) & 0xFF);
    }
  }
  return s;
}

// The ids of the blocks in a 16-bit stream, one per run of equal samples.
inline std::vector<int> TaggedRuns16(const std::string& Bytes) {
  std::vector<int> ids;
  for (size_t i = 0; i + 1 < Bytes.size(); i += 2) {
    const int v = uint8_t(Bytes[i]) | (uint8_t(Bytes[i + 1]) << 8);
    if (ids.empty() || ids.back() != v) ids.push_back(v);
  }
  return ids;
}

// The fake wave-out in place of the device while it lives.
struct TFakeWaveOut : kz::TKzFakeWaveOutBackend {
  TFakeWaveOut() : Previous(kz::KzSetWaveOutBackend(this)) {}
  ~TFakeWaveOut() { kz::KzSetWaveOutBackend(Previous); }
  kz::IKzWaveOutBackend* Previous;
};

class TPlayRig {
public:
  TPlayRig() { Player.SetActive(true); }
  ~TPlayRig() { Player.SetActive(false); }
  uint64_t Now() const { return Clock.Clock.Now(); }
  // Waits (bounded) until the timers and devices have handled the present tick.
  bool Settle() {
    const uint64_t now = Now();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < limit) {
      if (kz::TKzTimerQueue::AllSettledAt(now) && Fake.SettledAt(now) && kz::TKzTimerQueue::AllSettledAt(now))
        return true;
      std::this_thread::yield();
    }
    return false;
  }
  // Moves the clock Ms milliseconds, one at a time.
  bool Run(uint64_t Ms) {
    for (uint64_t i = 0; i < Ms; ++i) {
      Clock.Clock.Advance(1);
      if (!Settle()) return false;
    }
    return true;
  }
  void Play(const kz::TGUID& GUID, uint16_t Index, int Id, int64_t StartTime, const kz::TKzAudioInfo& Format,
            uint32_t Ms, bool AllowDrop = true) {
    const std::string bytes = TaggedBlock(Id, Format, Ms);
    kz::TMemoryStream s;
    s.Write(bytes.data(), int64_t(bytes.size()));
    Player.PlayAudio(s, int32_t(bytes.size()), GUID, Index, AllowDrop, Format.Channels, Format.BitsPerSample,
                     Format.SamplesPerSec, StartTime, Ms);
  }
  // What device Serial has played, in order.
  std::string PlayedBytes(int32_t Serial) const {
    std::string all;
    for (const auto& p : Fake.Played())
      if (p.Serial == Serial) all += p.Bytes;
    return all;
  }

  kz::TKzVirtualClockScope Clock;
  TFakeWaveOut Fake;
  kz::TKzAudioPlayer Player{nullptr};
};

}  // namespace kztest
