#include "audio/fmxMKzAudioPlayer.h"

#include <algorithm>
#include <cmath>

#include "audio/fmxMKzAudioFuncs.h"
#include "foundation/fmxMKzType.h"

namespace kz {

TCustomKzAudioPlayer::TCustomKzAudioPlayer(TComponent* AOwner) : TCustomKzAudioOutput(AOwner) {}

TCustomKzAudioPlayer::~TCustomKzAudioPlayer() {
  Destroying();
  DetachAudioSources();
  SetRecording(false);
  DeinitDevice();
}

void TCustomKzAudioPlayer::SetActive(bool Value) {
  if (Value == Active()) return;
  if (Value) {
    InitDevice();
    TCustomKzAudioOutput::SetActive(true);
  } else {
    TCustomKzAudioOutput::SetActive(false);
    DeinitDevice();
  }
}

void TCustomKzAudioPlayer::InitDevice() {
  auto sound = std::make_unique<TKzPlaySound>(FBufferDuration.load(), FAudioOutputDeviceIndex.load());
  sound->SetAudioLatency(FLatency.load());
  std::unique_lock<std::shared_mutex> g(FSoundLock);
  FPlaySound = std::move(sound);
}

void TCustomKzAudioPlayer::DeinitDevice() {
  std::unique_ptr<TKzPlaySound> sound;
  {
    std::unique_lock<std::shared_mutex> g(FSoundLock);
    sound.swap(FPlaySound);
  }
  // Every item closes its device here.
  sound.reset();
}

void TCustomKzAudioPlayer::Reset() {
  if (!Active()) return;
  SetActive(false);
  SetActive(true);
}

void TCustomKzAudioPlayer::SetVolumeMultiplier(double Value) { FVolumeMultiplier = KzClampVolumeMultiplier(Value); }

void TCustomKzAudioPlayer::SetBufferDuration(uint16_t Value) {
  Value = std::max<uint16_t>(Value, 1);
  if (Value == FBufferDuration.load()) return;
  FBufferDuration = Value;
  Reset();
}

void TCustomKzAudioPlayer::SetLatency(uint16_t Value) {
  FLatency = Value;
  std::shared_lock<std::shared_mutex> g(FSoundLock);
  if (FPlaySound) FPlaySound->SetAudioLatency(Value);
}

void TCustomKzAudioPlayer::SetEncodeChannels(int32_t Value) { FEncodeChannels = std::clamp(Value, 1, 8); }

void TCustomKzAudioPlayer::SetAudioOutputDeviceIndex(int32_t Value) {
  Value = KzClampDeviceIndex(Value, [this] { return GetAudioOutputDeviceCount(); });
  if (Value == FAudioOutputDeviceIndex.load()) return;
  FAudioOutputDeviceIndex = Value;
  Reset();
}

int32_t TCustomKzAudioPlayer::GetAudioOutputDeviceCount() const {
  return static_cast<int32_t>(KzWaveOutBackend().DeviceNames().size());
}

std::string TCustomKzAudioPlayer::GetAudioOutputDeviceList(int32_t Index) const {
  const std::vector<std::string> names = KzWaveOutBackend().DeviceNames();
  return Index >= 0 && static_cast<size_t>(Index) < names.size() ? names[Index] : "";
}

void TCustomKzAudioPlayer::SetOutputVolume(uint16_t Value) {
  KzWaveOutBackend().SetVolume(FAudioOutputDeviceIndex.load(), Value);
}

uint16_t TCustomKzAudioPlayer::GetOutputVolume() const {
  return KzWaveOutBackend().GetVolume(FAudioOutputDeviceIndex.load());
}

int64_t TCustomKzAudioPlayer::GetPosition(const TGUID& GUID, uint16_t AudioIndex) const {
  std::shared_lock<std::shared_mutex> g(FSoundLock);
  return FPlaySound ? FPlaySound->GetPosition(GUID, AudioIndex) : -1;
}

std::vector<TKzPlayItemRef> TCustomKzAudioPlayer::PlayItems() const {
  std::shared_lock<std::shared_mutex> g(FSoundLock);
  return FPlaySound ? FPlaySound->List().Items() : std::vector<TKzPlayItemRef>{};
}

// ---- Recording

void TCustomKzAudioPlayer::SetRecording(bool Value) {
  if (Value == FRecording.load()) return;
  if (Value) {
    InitAudioEncoding();
  } else {
    EndRecording("");
  }
}

void TCustomKzAudioPlayer::InitAudioEncoding() {
  const TKzPlayRecordSettings settings{.FileName = FOutputFileName,
                                       .UseFFMpeg = FUseFFMpeg,
                                       .Codec = FEncodeAudioCodec,
                                       .SampleFormat = FEncodeSampleFormat,
                                       .CodecName = FEncodeAudioCodecName,
                                       .Bitrate = FEncodeBitrate,
                                       .SampleRate = FEncodeSampleRate,
                                       .Channels = FEncodeChannels};
  std::string why;
  if (!TKzPlayRecording::Check(settings, why)) {  // raises for an invalid WAV format
    KzPostMessageDebug(this, 0, why);
    return;
  }
  auto recorder = std::make_shared<TKzPlayRecording>(settings, [this](const std::string& Text, bool Ended) {
    if (Ended)
      EndRecording(Text);
    else
      KzPostMessageDebug(this, 0, Text);
  });
  std::lock_guard<std::mutex> g(FRecordLock);
  FRecorder = std::move(recorder);
  FRecording = true;
}

void TCustomKzAudioPlayer::EndRecording(const std::string& Why) {
  std::shared_ptr<TKzPlayRecording> recorder;
  {
    std::lock_guard<std::mutex> g(FRecordLock);
    if (!FRecording.exchange(false)) return;
    recorder.swap(FRecorder);
  }
  if (!Why.empty()) KzPostMessageDebug(this, 0, Why);
  // A block being recorded on another thread holds its own reference.
  if (recorder) recorder->Close();
  if (OnStopRecording) OnStopRecording(this);
}

void TCustomKzAudioPlayer::FlushSound() {
  std::lock_guard<std::mutex> g(FRecordLock);
  if (FRecorder) FRecorder->Close();
}

// ---- Playing

void TCustomKzAudioPlayer::Process(TMemoryStream& Stream, int32_t Size, int32_t Channels, TKzBitsPerSample Bits,
                                   int32_t Rate) {
  if (FNoiseReduction.load()) kz::NoiseReduction(Stream, Bits, Channels, Size, FNoiseReductionLevel.load(), Rate);
  if (const int8_t pitch = FPitch.load()) VoiceChange(Stream, pitch, Bits, Size, Channels);
  if (const double volume = FVolumeMultiplier.load(); volume > 1.0) MulAmplitude(Stream, Bits, Size, volume);
}

void TCustomKzAudioPlayer::PlayAudio(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, uint16_t AudioIndex,
                                     bool AllowDrop, int32_t Channels, TKzBitsPerSample Bits, int32_t SamplesPerSec,
                                     int64_t StartTime, uint32_t Duration) {
  TCustomKzAudioOutput::PlayAudio(Stream, Size, GUID, AudioIndex, AllowDrop, Channels, Bits, SamplesPerSec,
                                  StartTime, Duration);
  if (FMute.load() || !Active()) return;
  Size = static_cast<int32_t>(std::min<int64_t>(Size, Stream.Size()));
  if (Size <= 0 || Channels < 1 || SamplesPerSec < 1) return;
  Process(Stream, Size, Channels, Bits, SamplesPerSec);
  const TKzAudioInfo format{SamplesPerSec, Bits, Channels};
  if (FRecording.load()) {
    std::shared_ptr<TKzPlayRecording> recorder;
    {
      std::lock_guard<std::mutex> g(FRecordLock);
      recorder = FRecorder;
    }
    if (recorder) recorder->Add(GUID, AudioIndex, Stream.Memory(), Size, format);
  }
  std::shared_lock<std::shared_mutex> g(FSoundLock);
  if (FPlaySound) FPlaySound->PlayAudio(GUID, AudioIndex, Stream, Size, AllowDrop, format, StartTime, Duration);
}

void TCustomKzAudioPlayer::ClearBuffer(const TGUID& GUID) {
  std::shared_lock<std::shared_mutex> g(FSoundLock);
  if (FPlaySound) FPlaySound->ClearBuffer(GUID);
}

void TCustomKzAudioPlayer::DeleteGUID(const TGUID& GUID, uint16_t AudioIndex) {
  {
    std::shared_lock<std::shared_mutex> g(FSoundLock);
    if (FPlaySound) FPlaySound->List().DeleteGUID(GUID, AudioIndex);
  }
  // Only the audio's end: the clock's anchor also paces the source's video.
  if (TKzGUIDInfoRef clock = GetGUIDInfo(GUID)) clock->PlaybackEndTime = 0;
}

void TCustomKzAudioPlayer::Stop() {
  std::shared_lock<std::shared_mutex> g(FSoundLock);
  if (!FPlaySound) return;
  for (const TKzPlayItemRef& i : FPlaySound->List().Items()) {
    if (TKzGUIDInfoRef clock = GetGUIDInfo(i->GUID())) clock->PlaybackEndTime = 0;
    FPlaySound->List().DeleteGUID(i->GUID(), i->AudioIndex());
  }
}

}  // namespace kz
