// The microphone's logic, independent of the capture device: properties,
// the processing chain of a captured block (suppression, silence, level,
// pitch, volume), the neural suppressor's bookkeeping, the hand-off to the
// data thread that delivers blocks, and the WAV-file source played on a
// main-thread timer.
#pragma once
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/Fmxmkzwavefuncs.h"
#include "audio/fmxMKzAudioSource.h"
#include "audio/fmxMKzRNNoise.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformTimer.h"

namespace kz {

enum class TKzSoundSourceType : uint8_t { kzsstMicrophone = 0, kzsstWav = 1 };

constexpr TKzSamplesPerSec kzsps8000 = 8000, kzsps11025 = 11025, kzsps22050 = 22050, kzsps44100 = 44100,
                           kzsps48000 = 48000, kzsps96000 = 96000, kzsps192000 = 192000;
// Whether Rate is one of the rates above.
bool KzIsSupportedSampleRate(int32_t Rate);

using TKzOpenWavFileEvent =
    std::function<void(TComponent* Sender, int64_t Frames, int32_t Channels, TKzBitsPerSample Bits, int32_t Rate)>;
using TKzWavFilePositionEvent = std::function<void(TComponent* Sender, int64_t Position, int64_t Frames)>;

class TCustomKzMicrophone : public TKzAudioSourceWithOutput {
public:
  // Main thread, never blocks.
  explicit TCustomKzMicrophone(TComponent* AOwner);
  // Closes the source and stops the data thread. Main thread; blocks that long.
  ~TCustomKzMicrophone() override;

  // ---- Properties. Setters: main thread; those that restart a running
  // source block while it stops. Getters: any thread.
  void SetActive(bool Value);
  TKzSoundSourceType SourceType() const { return FSourceType; }
  void SetSourceType(TKzSoundSourceType Value);
  TKzSamplesPerSec SamplesPerSec() const { return FSamplesPerSec.load(); }
  // Raises EKzMediaError for a rate that is not one of the kzsps values.
  void SetSamplesPerSec(TKzSamplesPerSec Value);
  TKzBitsPerSample BitsPerSample() const { return FBitsPerSample; }
  void SetBitsPerSample(TKzBitsPerSample Value);
  int32_t Channels() const { return FChannels; }
  // Clamped to [1, 8].
  void SetChannels(int32_t Value);
  uint16_t BufferDuration() const { return FBufferDuration; }
  // 0 is stored as 1.
  void SetBufferDuration(uint16_t Value);
  uint32_t AudioBufferSize() const { return FAudioBufferSize; }
  void SetAudioBufferSize(uint32_t Value);
  double VolumeMultiplier() const { return FVolumeMultiplier.load(); }
  // Clamped to [0.001, 9999].
  void SetVolumeMultiplier(double Value);
  uint8_t SoundMinLevel() const { return FSoundMinLevel.load(); }
  void SetSoundMinLevel(uint8_t Value) { FSoundMinLevel = Value; }
  uint8_t SoundIgnoreInterval() const { return FSoundIgnoreInterval.load(); }
  void SetSoundIgnoreInterval(uint8_t Value) { FSoundIgnoreInterval = Value; }
  bool NoiseReduction() const { return FNoiseReduction.load(); }
  void SetNoiseReduction(bool Value) { FNoiseReduction = Value; }
  int32_t NoiseReductionLevel() const { return FNoiseReductionLevel.load(); }
  void SetNoiseReductionLevel(int32_t Value) { FNoiseReductionLevel = Value; }
  int8_t Pitch() const { return FPitch.load(); }
  void SetPitch(int8_t Value) { FPitch = Value; }
  const std::string& WavFileName() const { return FWavFileName; }
  void SetWavFileName(const std::string& Value) { FWavFileName = Value; }
  bool WavUseOptions() const { return FWavUseOptions; }
  void SetWavUseOptions(bool Value) { FWavUseOptions = Value; }
  bool Mute() const { return FMute.load(); }
  void SetMute(bool Value) { FMute = Value; }
  int32_t AudioInputDeviceIndex() const { return FAudioInputDeviceIndex; }
  // -1 is the system default; others are clamped to [0, count - 1].
  void SetAudioInputDeviceIndex(int32_t Value);
  // The WAV source starts again at its end.
  bool WavLoop() const { return FWavLoop; }
  void SetWavLoop(bool Value) { FWavLoop = Value; }
  // The WAV source keeps to real time (block k at start + k block lengths);
  // off, it produces one block per tick.
  bool WavRealTime() const { return FWavRealTime; }
  void SetWavRealTime(bool Value) { FWavRealTime = Value; }
  // Whether the neural suppressor may be used (true after construction).
  bool RNNoiseAllowed() const { return FRNNoiseAllowed.load(); }
  void SetRNNoiseAllowed(bool Value) { FRNNoiseAllowed = Value; }

  // Capture devices of the system (the platform class knows them). Main thread.
  virtual int32_t GetAudioInputDeviceCount() { return 0; }

  // If active: off, then on again. Main thread.
  void Reset();

  // Queues a processed block for delivery under its format. Any thread.
  void GetAudio(TMemoryStream& Stream, const TGUID& GUID, int32_t Size, int32_t Channels, TKzBitsPerSample Bits,
                int32_t SamplesPerSec);

  // ---- The neural suppressor. Main thread, except DoNoiseReduction (the
  // capture thread) and the queries (any thread).
  void InitRNNoise(bool Load, int32_t Channels);
  void DoneRNNoise();
  int32_t RNNoiseRefCount() const { return FRNNoiseRefCount.load(); }
  // Bytes processed (the whole block unless the suppressor ran on it).
  int64_t DoNoiseReduction(TMemoryStream& Stream, TKzBitsPerSample Bits, int64_t Size, int32_t SamplesPerSec,
                           int32_t Channels);
  int64_t GetSampleCountForNoiseReduction(int64_t Count, bool RoundDown) const;
  int32_t GetSampleRateForNoiseReduction() const;
  int64_t CalculateBufSize(int32_t SamplesPerSec, int32_t FrameBytes) const;

  // Blocks handed on and blocks held back as silence since activation. Any thread.
  uint64_t BlocksDelivered() const { return FBlocksDelivered.load(); }
  uint64_t BlocksSilent() const { return FBlocksSilent.load(); }
  // Whether every block handed to GetAudio has been delivered. Any thread.
  bool DeliveryIdle() const { return FBytesQueued.load() == FBytesOut.load(); }
  // Frames of the WAV file produced so far. Main thread.
  int64_t WavPosition() const;

  TKzOpenWavFileEvent OnOpenWavFile;
  TKzWavFilePositionEvent OnReadWavFile;
  TKzWavFilePositionEvent OnCloseWavFile;

protected:
  // The capture device (the platform class). Main thread.
  virtual bool InitMicrophone() { return false; }
  virtual void DeinitMicrophone() {}
  void DoSetActive(bool Value);
  void Loaded() override;
  // Closes the source and stops the data thread, so that no delivery runs
  // while the object is being taken apart. Every destructor of the chain
  // calls it first (the most derived one does the work). Main thread; blocks.
  void ShutDown();

  // Steps 2-6 of a captured block (mute, suppression, silence, level, pitch,
  // volume, hand-off). The capture thread, or the main thread for the WAV source.
  void ProcessBlock(TMemoryStream& Stream, int32_t Size, int32_t Channels, TKzBitsPerSample Bits,
                    int32_t SamplesPerSec, bool ReportLevel);
  bool SuppressorActive() const;
  // Capture start, steps 1-2: the suppressor joins, and while it runs the
  // rate becomes 48000 Hz (SamplesPerSec too). Returns the rate. Main thread.
  int32_t PrepareCaptureRate();

  std::atomic<int32_t> FSilenceCount{0};

private:
  struct TSegment {
    TKzAudioInfo Info;
    TGUID GUID;
    int64_t Size;
  };
  struct TWavSource;
  void Deliver(TMemoryStream& Stream, int64_t Size);
  bool OpenWavFile();
  void CloseWavFile();
  void WavTick();
  bool ProduceWavBlock();
  bool FillReadAhead(int64_t FramesNeeded);

  TKzSoundSourceType FSourceType = TKzSoundSourceType::kzsstMicrophone;
  std::atomic<TKzSamplesPerSec> FSamplesPerSec{kzsps8000};
  TKzBitsPerSample FBitsPerSample = TKzBitsPerSample::kzbps8;
  int32_t FChannels = 1;
  uint16_t FBufferDuration = 1000;
  uint32_t FAudioBufferSize = 81920;
  std::atomic<double> FVolumeMultiplier{1.0};
  std::atomic<uint8_t> FSoundMinLevel{10};
  std::atomic<uint8_t> FSoundIgnoreInterval{5};
  std::atomic<bool> FNoiseReduction{true};
  std::atomic<int32_t> FNoiseReductionLevel{20};
  std::atomic<int8_t> FPitch{0};
  std::string FWavFileName;
  bool FWavUseOptions = false;
  std::atomic<bool> FMute{false};
  int32_t FAudioInputDeviceIndex = -1;
  bool FWavLoop = false;
  bool FWavRealTime = true;
  bool FActiveStored = false;  // Active as set while loading
  std::atomic<bool> FRNNoiseAllowed{true};

  // The suppressor: count, one state and two frames of floats per channel.
  std::atomic<int32_t> FRNNoiseRefCount{0};
  std::vector<DenoiseState*> FRNNoiseStates;
  std::vector<std::vector<float>> FRNNoiseIn, FRNNoiseOut;

  std::mutex FSegmentLock;  // guards FSegments and keeps them in step with the data thread's input
  std::deque<TSegment> FSegments;
  TKzDataThread* FDataThread = nullptr;
  bool FDataThreadStarted = false;
  std::atomic<uint64_t> FBlocksDelivered{0};
  std::atomic<uint64_t> FBlocksSilent{0};
  std::atomic<uint64_t> FBytesQueued{0};
  std::atomic<uint64_t> FBytesOut{0};

  std::unique_ptr<TWavSource> FWav;
  TTimer FWavTimer;  // outlives the file: the source closes from its tick
};

}  // namespace kz
