#include "audio/fmxMKzCustomMic.h"

#include <algorithm>
#include <cmath>

#include "audio/fmxMKzAudioFuncs.h"
#include "audio/fmxMKzMicWavSource.h"
#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {
constexpr TKzSamplesPerSec kRates[] = {kzsps8000,  kzsps11025, kzsps22050, kzsps44100,
                                       kzsps48000, kzsps96000, kzsps192000};
constexpr int32_t kSuppressorRate = 48000;
// The third silent block in a row and those after it are held back.
constexpr int32_t kSilentBlocksPassed = 2;
}  // namespace

bool KzIsSupportedSampleRate(int32_t Rate) { return std::find(std::begin(kRates), std::end(kRates), Rate) != std::end(kRates); }

TCustomKzMicrophone::TCustomKzMicrophone(TComponent* AOwner) : TKzAudioSourceWithOutput(AOwner) {
  FDataThread = new TKzDataThread(true, "TKzMicDataThread");
  FDataThread->OnGetData = [this](TKzDataThread*, TMemoryStream& Stream, int64_t Size) { Deliver(Stream, Size); };
}

TCustomKzMicrophone::~TCustomKzMicrophone() { ShutDown(); }

void TCustomKzMicrophone::ShutDown() {
  Destroying();
  if (FActive || FWav) {
    FActive = false;
    if (FWav)
      CloseWavFile();
    else
      DeinitMicrophone();
  }
  KzMFreeThread(FDataThread);
}

// ---- Properties

void TCustomKzMicrophone::SetActive(bool Value) {
  FSilenceCount = 0;
  if (IsLoading() || IsDestroying()) {
    FActiveStored = Value;
    return;
  }
  if (Value == Active()) return;
  DoSetActive(Value);
}

void TCustomKzMicrophone::Loaded() {
  TKzAudioSourceWithOutput::Loaded();
  if (FActiveStored) SetActive(true);
}

void TCustomKzMicrophone::DoSetActive(bool Value) {
  if (Value) {
    FBlocksDelivered = 0;
    FBlocksSilent = 0;
    const bool opened = FSourceType == TKzSoundSourceType::kzsstWav ? OpenWavFile() : InitMicrophone();
    if (!opened) return;
    FActive = true;
    if (!FDataThreadStarted) {
      FDataThreadStarted = true;
      FDataThread->Run();
    }
    return;
  }
  FActive = false;
  if (FWav)
    CloseWavFile();
  else
    DeinitMicrophone();
}

void TCustomKzMicrophone::Reset() {
  if (!Active()) return;
  SetActive(false);
  SetActive(true);
}

void TCustomKzMicrophone::SetSourceType(TKzSoundSourceType Value) {
  if (Value == FSourceType) return;
  FSourceType = Value;
  Reset();
}

void TCustomKzMicrophone::SetSamplesPerSec(TKzSamplesPerSec Value) {
  if (!KzIsSupportedSampleRate(Value)) throw EKzMediaError("invalid sample rate " + std::to_string(Value));
  if (Value == FSamplesPerSec) return;
  FSamplesPerSec = Value;
  Reset();
}

void TCustomKzMicrophone::SetBitsPerSample(TKzBitsPerSample Value) {
  if (Value == FBitsPerSample) return;
  FBitsPerSample = Value;
  Reset();
}

void TCustomKzMicrophone::SetChannels(int32_t Value) {
  Value = std::clamp(Value, 1, KZ_MAX_AUDIO_CHANNELS);
  if (Value == FChannels) return;
  FChannels = Value;
  Reset();
}

void TCustomKzMicrophone::SetBufferDuration(uint16_t Value) {
  Value = std::max<uint16_t>(Value, 1);
  if (Value == FBufferDuration) return;
  FBufferDuration = Value;
  Reset();
}

void TCustomKzMicrophone::SetAudioBufferSize(uint32_t Value) {
  if (Value == FAudioBufferSize) return;
  FAudioBufferSize = Value;
  if (Active() && FSourceType == TKzSoundSourceType::kzsstWav) Reset();
}

void TCustomKzMicrophone::SetVolumeMultiplier(double Value) { FVolumeMultiplier = KzClampVolumeMultiplier(Value); }

void TCustomKzMicrophone::SetAudioInputDeviceIndex(int32_t Value) {
  Value = KzClampDeviceIndex(Value, [this] { return GetAudioInputDeviceCount(); });
  if (Value == FAudioInputDeviceIndex) return;
  FAudioInputDeviceIndex = Value;
  Reset();
}

// ---- The neural suppressor

void TCustomKzMicrophone::InitRNNoise(bool Load, int32_t Channels) {
  if (FRNNoiseRefCount == 0) {
    if (!NoiseReduction() || !RNNoiseAllowed()) return;
    if (Load ? !KzLoadRNNoise() : !KzRNNoiseLoaded()) return;
    const TKzRNNoiseApi& api = KzRNNoise();
    const size_t frame = static_cast<size_t>(api.rnnoise_get_frame_size());
    for (int32_t c = 0; c < Channels; ++c) {
      FRNNoiseStates.push_back(api.rnnoise_create(nullptr));
      FRNNoiseIn.emplace_back(frame);
      FRNNoiseOut.emplace_back(frame);
    }
  }
  ++FRNNoiseRefCount;
}

void TCustomKzMicrophone::DoneRNNoise() {
  if (FRNNoiseRefCount == 0 || --FRNNoiseRefCount > 0) return;
  for (DenoiseState* s : FRNNoiseStates)
    if (s && KzRNNoiseLoaded()) KzRNNoise().rnnoise_destroy(s);
  FRNNoiseStates.clear();
  FRNNoiseIn.clear();
  FRNNoiseOut.clear();
}

bool TCustomKzMicrophone::SuppressorActive() const {
  return FRNNoiseRefCount > 0 && !FRNNoiseStates.empty() && NoiseReduction() && RNNoiseAllowed();
}

int32_t TCustomKzMicrophone::PrepareCaptureRate() {
  InitRNNoise(true, FChannels);
  if (SuppressorActive()) FSamplesPerSec = kSuppressorRate;
  return FSamplesPerSec;
}

int32_t TCustomKzMicrophone::GetSampleRateForNoiseReduction() const {
  return SuppressorActive() ? kSuppressorRate : 0;
}

int64_t TCustomKzMicrophone::GetSampleCountForNoiseReduction(int64_t Count, bool RoundDown) const {
  if (!SuppressorActive()) return GetMaxPower2(Count, RoundDown);
  const int64_t f = KzRNNoiseFrameSize();
  if (f <= 0) return GetMaxPower2(Count, RoundDown);
  const int64_t chunks = RoundDown ? Count / f : (Count + f - 1) / f;
  return std::max<int64_t>(chunks, 1) * f;
}

int64_t TCustomKzMicrophone::CalculateBufSize(int32_t SamplesPerSec, int32_t FrameBytes) const {
  const int64_t frames = KzRound(static_cast<double>(SamplesPerSec) * FBufferDuration / 1000.0);
  return GetSampleCountForNoiseReduction(frames, false) * FrameBytes;
}

int64_t TCustomKzMicrophone::DoNoiseReduction(TMemoryStream& Stream, TKzBitsPerSample Bits, int64_t Size,
                                              int32_t SamplesPerSec, int32_t Channels) {
  if (!NoiseReduction()) return Size;
  if (!SuppressorActive()) {
    kz::NoiseReduction(Stream, Bits, Channels, Size, NoiseReductionLevel(), SamplesPerSec);
    return Size;
  }
  if (SamplesPerSec != kSuppressorRate || Channels < 1) return Size;
  const int32_t f = KzRNNoiseFrameSize();
  const int32_t frameBytes = KzBitsToInt(Bits) / 8 * Channels;
  const int64_t chunks = std::min(Size, Stream.Size()) / frameBytes / f;
  const int32_t channels = std::min<int32_t>(static_cast<int32_t>(FRNNoiseStates.size()), Channels);
  const TKzRNNoiseApi& api = KzRNNoise();
  uint8_t* data = Stream.Memory();
  const bool wide = Bits == TKzBitsPerSample::kzbps16;
  for (int32_t c = 0; c < channels; ++c) {
    float* in = FRNNoiseIn[c].data();
    float* out = FRNNoiseOut[c].data();
    for (int64_t k = 0; k < chunks; ++k) {
      const int32_t offset = static_cast<int32_t>(k * f * Channels + c);
      if (wide)
        ConvertS16ToFloat_S16Range(data, in, offset, f, Channels);
      else
        ConvertU8ToFloat_S16Range(data, in, offset, f, Channels);
      api.rnnoise_process_frame(FRNNoiseStates[c], out, in);
      if (wide)
        ConvertFloatToS16_S16Range(data, out, offset, f, Channels);
      else
        ConvertFloatToU8_S16Range(data, out, offset, f, Channels);
    }
  }
  return int64_t{f} * frameBytes * chunks;
}

// ---- The chain and the hand-off

void TCustomKzMicrophone::ProcessBlock(TMemoryStream& Stream, int32_t Size, int32_t Channels, TKzBitsPerSample Bits,
                                       int32_t SamplesPerSec, bool ReportLevel) {
  if (Mute()) return;
  if (NoiseReduction()) DoNoiseReduction(Stream, Bits, Size, SamplesPerSec, Channels);
  const uint8_t minLevel = SoundMinLevel(), spread = SoundIgnoreInterval();
  const bool silent =
      (minLevel != 0 || spread > 0) && Silence(Stream.Memory(), minLevel, spread, Size, Channels, Bits);
  const int32_t run = silent ? FSilenceCount.fetch_add(1) + 1 : (FSilenceCount = 0);
  if (ReportLevel) SetLevel(static_cast<uint16_t>(GetSoundLevel(Stream.Memory(), Size, Bits) + 128));
  if (run > kSilentBlocksPassed) {
    ++FBlocksSilent;
    return;
  }
  if (const int8_t pitch = Pitch(); pitch != 0) VoiceChange(Stream, pitch, Bits, Size, Channels);
  if (const double volume = VolumeMultiplier(); volume > 1.0) MulAmplitude(Stream, Bits, Size, volume);
  GetAudio(Stream, EmptyGUID(), Size, Channels, Bits, SamplesPerSec);
}

void TCustomKzMicrophone::GetAudio(TMemoryStream& Stream, const TGUID& GUID, int32_t Size, int32_t Channels,
                                   TKzBitsPerSample Bits, int32_t SamplesPerSec) {
  if (Size <= 0) return;
  ++FBlocksDelivered;
  std::lock_guard<std::mutex> g(FSegmentLock);
  FSegments.push_back({TKzAudioInfo{SamplesPerSec, Bits, Channels}, GUID, Size});
  FBytesQueued += static_cast<uint64_t>(Size);
  Stream.SetPosition(0);
  FDataThread->CopyFrom(Stream, Size);
}

// The data thread hands over everything queued since its last wake-up; the
// segments say which formats it is made of, and runs of one format go out
// as one block.
void TCustomKzMicrophone::Deliver(TMemoryStream& Stream, int64_t Size) {
  std::vector<TSegment> runs;
  {
    std::lock_guard<std::mutex> g(FSegmentLock);
    for (int64_t taken = 0; taken < Size && !FSegments.empty();) {
      TSegment s = FSegments.front();
      FSegments.pop_front();
      taken += s.Size;
      if (!runs.empty() && runs.back().Info == s.Info && CompareGUID(runs.back().GUID, s.GUID))
        runs.back().Size += s.Size;
      else
        runs.push_back(s);
    }
  }
  if (runs.size() == 1 && runs[0].Size == Size) {
    OutputSound(Stream, static_cast<int32_t>(Size), runs[0].GUID, runs[0].Info.Channels, runs[0].Info.BitsPerSample,
                runs[0].Info.SamplesPerSec);
    FBytesOut += static_cast<uint64_t>(Size);
    return;
  }
  int64_t offset = 0;
  TMemoryStream part;
  for (const TSegment& r : runs) {
    const int64_t n = std::min(r.Size, Size - offset);
    if (n <= 0) break;
    part.SetSize(0);
    part.Write(Stream.Memory() + offset, n);
    offset += n;
    OutputSound(part, static_cast<int32_t>(n), r.GUID, r.Info.Channels, r.Info.BitsPerSample, r.Info.SamplesPerSec);
  }
  FBytesOut += static_cast<uint64_t>(Size);
}

}  // namespace kz
