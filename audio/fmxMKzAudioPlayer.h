// The audio player: plays every source's blocks on its own play item, after
// the optional noise gate, pitch change and amplification, and can record
// what it plays.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

#include "audio/fmxMKzAudioOutput.h"
#include "audio/fmxMKzPlayRecording.h"
#include "audio/fmxMKzSound.h"

namespace kz {

using TKzStopRecordingEvent = std::function<void(TComponent* Sender)>;

class TCustomKzAudioPlayer : public TCustomKzAudioOutput {
public:
  // Main thread, never blocks.
  explicit TCustomKzAudioPlayer(TComponent* AOwner);
  // Ends recording, closes every device. Main thread; blocks while they close.
  ~TCustomKzAudioPlayer() override;

  // ---- Properties. Setters: main thread; those that reopen the devices
  // block while they close. Getters: any thread.
  void SetActive(bool Value) override;
  bool Mute() const { return FMute.load(); }
  void SetMute(bool Value) { FMute = Value; }
  double VolumeMultiplier() const { return FVolumeMultiplier.load(); }
  // Clamped to [0.001, 9999].
  void SetVolumeMultiplier(double Value);
  bool NoiseReduction() const { return FNoiseReduction.load(); }
  void SetNoiseReduction(bool Value) { FNoiseReduction = Value; }
  int32_t NoiseReductionLevel() const { return FNoiseReductionLevel.load(); }
  void SetNoiseReductionLevel(int32_t Value) { FNoiseReductionLevel = Value; }
  int8_t Pitch() const { return FPitch.load(); }
  void SetPitch(int8_t Value) { FPitch = Value; }
  uint16_t BufferDuration() const { return FBufferDuration.load(); }
  // 0 is stored as 1; reopens the devices.
  void SetBufferDuration(uint16_t Value);
  // How long (ms) a block waits behind its time stamp before it plays.
  uint16_t Latency() const { return FLatency.load(); }
  void SetLatency(uint16_t Value);
  const std::string& OutputFileName() const { return FOutputFileName; }
  void SetOutputFileName(const std::string& Value) { FOutputFileName = Value; }
  bool UseFFMpeg() const { return FUseFFMpeg; }
  void SetUseFFMpeg(bool Value) { FUseFFMpeg = Value; }
  int32_t EncodeBitrate() const { return FEncodeBitrate; }
  void SetEncodeBitrate(int32_t Value) { FEncodeBitrate = Value; }
  int32_t EncodeSampleRate() const { return FEncodeSampleRate; }
  void SetEncodeSampleRate(int32_t Value) { FEncodeSampleRate = Value; }
  int32_t EncodeChannels() const { return FEncodeChannels; }
  // Clamped to [1, 8].
  void SetEncodeChannels(int32_t Value);
  TKzAudioCodec EncodeAudioCodec() const { return FEncodeAudioCodec; }
  void SetEncodeAudioCodec(TKzAudioCodec Value) { FEncodeAudioCodec = Value; }
  const std::string& EncodeAudioCodecName() const { return FEncodeAudioCodecName; }
  void SetEncodeAudioCodecName(const std::string& Value) { FEncodeAudioCodecName = Value; }
  TKzSampleFormat EncodeSampleFormat() const { return FEncodeSampleFormat; }
  void SetEncodeSampleFormat(TKzSampleFormat Value) { FEncodeSampleFormat = Value; }

  // -1: the default device; others clamped to the devices there are.
  int32_t AudioOutputDeviceIndex() const { return FAudioOutputDeviceIndex.load(); }
  void SetAudioOutputDeviceIndex(int32_t Value);
  bool Recording() const { return FRecording.load(); }
  // Starting raises EKzMediaError for a WAV format it cannot write; a
  // recording that cannot start otherwise leaves Recording off (debug message).
  void SetRecording(bool Value);

  // The playback devices. Main thread; ask the system.
  int32_t GetAudioOutputDeviceCount() const;
  std::string GetAudioOutputDeviceList(int32_t Index) const;
  void SetOutputVolume(uint16_t Value);
  uint16_t GetOutputVolume() const;
  // Frames played for (GUID, index), -1 when it has no item. Any thread.
  int64_t GetPosition(const TGUID& GUID, uint16_t AudioIndex) const override;

  // ---- Operations
  void PlayAudio(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, uint16_t AudioIndex, bool AllowDrop,
                 int32_t Channels, TKzBitsPerSample Bits, int32_t SamplesPerSec, int64_t StartTime,
                 uint32_t Duration) override;
  // Any thread; blocks while a device closes.
  void ClearBuffer(const TGUID& GUID) override;
  void DeleteGUID(const TGUID& GUID, uint16_t AudioIndex) override;
  // Completes the recording's file. Any thread.
  void FlushSound();
  // Stops every source (their queues are lost; the next block starts anew).
  // Any thread; blocks while devices close.
  void Stop();
  // Closes and reopens the devices when active. Main thread.
  void Reset();
  // The play items (tools, tests). Any thread.
  std::vector<TKzPlayItemRef> PlayItems() const;

  // When recording ends (turned off or on an error). The thread that ends it.
  TKzStopRecordingEvent OnStopRecording;

private:
  void InitDevice();
  void DeinitDevice();
  void InitAudioEncoding();
  void EndRecording(const std::string& Why);
  void Process(TMemoryStream& Stream, int32_t Size, int32_t Channels, TKzBitsPerSample Bits, int32_t Rate);

  std::atomic<bool> FMute{false};
  std::atomic<double> FVolumeMultiplier{1.0};
  std::atomic<bool> FNoiseReduction{false};
  std::atomic<int32_t> FNoiseReductionLevel{20};
  std::atomic<int8_t> FPitch{0};
  std::atomic<uint16_t> FBufferDuration{1000};
  std::atomic<uint16_t> FLatency{100};
  std::string FOutputFileName;
  bool FUseFFMpeg = true;
  int32_t FEncodeBitrate = 64000;
  int32_t FEncodeSampleRate = 8000;
  int32_t FEncodeChannels = 1;
  TKzAudioCodec FEncodeAudioCodec = TKzAudioCodec::kzacWAV;
  std::string FEncodeAudioCodecName;
  TKzSampleFormat FEncodeSampleFormat = TKzSampleFormat::kzsf8;
  std::atomic<int32_t> FAudioOutputDeviceIndex{-1};
  std::atomic<bool> FRecording{false};

  mutable std::shared_mutex FSoundLock;  // guards FPlaySound being made and freed
  std::unique_ptr<TKzPlaySound> FPlaySound;
  mutable std::mutex FRecordLock;  // guards FRecorder
  std::shared_ptr<TKzPlayRecording> FRecorder;
};

class TKzAudioPlayer : public TCustomKzAudioPlayer {
public:
  using TCustomKzAudioPlayer::TCustomKzAudioPlayer;
};

}  // namespace kz
