// What the audio tests share: doubles of the consumers that take blocks from
// an audio source (a recorder, a sender, a level meter, a monitoring
// output).
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "audio/fmxMKzAudioOutput.h"
#include "audio/fmxMKzAudioSource.h"
#include "tests/kztestpeers.h"

namespace kztest {

struct TAudioBlock {
  std::string Bytes;
  kz::TKzAudioInfo Info;
  uint32_t Duration = 0;
  int64_t StartTime = 0;
  kz::TGUID GUID;
};

// Records every block it is given, as a recorder and as a sender.
class TBlockRecorder : public kz::IKzCamRecorderConsumer, public kz::IKzCamSenderConsumer {
public:
  void RecorderGetImage(kz::TComponent*, const kz::TKzMBitmap&, uint16_t, const kz::TGUID&) override {}
  void SenderGetImage(kz::TComponent*, kz::TKzImageWrapper&, uint16_t, const kz::TGUID&) override {}
  void RecorderGetAudio(kz::TComponent*, kz::TMemoryStream& Stream, int32_t Size, const kz::TKzAudioInfo& Info,
                        uint32_t Duration, int64_t StartTime) override {
    Add(Stream, Size, Info, Duration, StartTime, kz::TGUID());
  }
  void SenderGetAudio(kz::TComponent*, kz::TMemoryStream& Stream, int32_t Size, const kz::TKzAudioInfo& Info,
                      uint32_t Duration, int64_t StartTime, const kz::TGUID& GUID) override {
    Add(Stream, Size, Info, Duration, StartTime, GUID);
  }
  int64_t SenderTimeSinceStart() override { return SenderClock; }

  std::vector<TAudioBlock> Blocks() const {
    std::lock_guard<std::mutex> g(FLock);
    return FBlocks;
  }
  size_t Count() const { return Blocks().size(); }
  size_t Bytes() const {
    size_t n = 0;
    for (const TAudioBlock& b : Blocks()) n += b.Bytes.size();
    return n;
  }
  std::string All() const {
    std::string s;
    for (const TAudioBlock& b : Blocks()) s += b.Bytes;
    return s;
  }
  int64_t SenderClock = 777;

private:
  void Add(kz::TMemoryStream& Stream, int32_t Size, const kz::TKzAudioInfo& Info, uint32_t Duration,
           int64_t StartTime, const kz::TGUID& GUID) {
    // The block is the stream's bytes from position 0.
    std::string bytes(static_cast<size_t>(Size), '\0');
    Stream.Read(bytes.data(), Size);
    std::lock_guard<std::mutex> g(FLock);
    FBlocks.push_back({bytes, Info, Duration, StartTime, GUID});
  }
  mutable std::mutex FLock;
  std::vector<TAudioBlock> FBlocks;
};

class TLevelMeter : public kz::IKzAudioViewer {
public:
  void ViewerSetAudioLevel(kz::TComponent*, uint16_t Level) override {
    std::lock_guard<std::mutex> g(FLock);
    FLevels.push_back(Level);
  }
  std::vector<uint16_t> Levels() const {
    std::lock_guard<std::mutex> g(FLock);
    return FLevels;
  }

private:
  mutable std::mutex FLock;
  std::vector<uint16_t> FLevels;
};

class TOutputDouble : public kz::TCustomKzAudioOutput {
public:
  TOutputDouble() : kz::TCustomKzAudioOutput(nullptr) {}
  ~TOutputDouble() override { DetachAudioSources(); }
  void PlayAudio(kz::TMemoryStream& Stream, int32_t Size, const kz::TGUID& GUID, uint16_t, bool, int32_t,
                 kz::TKzBitsPerSample, int32_t, int64_t, uint32_t Duration) override {
    Played.Add(Stream, Size, GUID, Duration);
  }
  struct {
    void Add(kz::TMemoryStream&, int32_t Size, const kz::TGUID& GUID, uint32_t Duration) {
      std::lock_guard<std::mutex> g(Lock);
      GUIDs.push_back(GUID);
      Bytes += Size;
      Durations += Duration;
    }
    std::mutex Lock;
    std::vector<kz::TGUID> GUIDs;
    int64_t Bytes = 0;
    int64_t Durations = 0;
  } Played;
};

}  // namespace kztest
