#include "camera/fmxMKzCamSound.h"

#include "audio/fmxMKzAudioFuncs.h"
#include "camera/fmxMKzCamera.h"

namespace kz {

TKzCamSound::TKzCamSound(TComponent* AOwner) : TKzAudioSourceWithOutput(AOwner) { FActive = true; }

TKzCamSound::~TKzCamSound() {
  Destroying();
  SetCamera(nullptr);
}

TKzCamera* TKzCamSound::Camera() const {
  std::lock_guard<std::mutex> g(FCameraLock);
  return FCamera;
}

void TKzCamSound::SetCamera(TKzCamera* Value) {
  TKzCamera* old;
  {
    std::lock_guard<std::mutex> g(FCameraLock);
    old = FCamera;
    if (old == Value) return;
    FCamera = Value;
  }
  if (old) {
    // Waits for a block being delivered from the old camera.
    old->SetCamSound(nullptr);
    RemoveFreeNotification(old);
    SetLevelNoSound();
  }
  if (Value) {
    RestartClock();
    Value->SetCamSound(this);
    FreeNotification(Value);
  }
}

void TKzCamSound::Notification(TComponent* AComponent, TOperation Operation) {
  TKzAudioSourceWithOutput::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  std::lock_guard<std::mutex> g(FCameraLock);
  if (FCamera && static_cast<TComponent*>(FCamera) == AComponent) FCamera = nullptr;
}

void TKzCamSound::CamAudioBlock(TComponent*, const TKzAudioInfo& Info, const uint8_t* Data, size_t Size) {
  const int32_t align = KzBitsToInt(Info.BitsPerSample) / 8 * Info.Channels;
  if (!Data || Size == 0 || align <= 0 || Info.SamplesPerSec <= 0 || Size > size_t(INT32_MAX)) return;
  const int32_t level = Info.BitsPerSample == TKzBitsPerSample::kzbps8 ? GetSoundLevel_U8(Data, int64_t(Size))
                                                                       : GetSoundLevel_S16(Data, int64_t(Size) / 2);
  SetLevel(uint16_t(level + 128));
  TMemoryStream stream;
  stream.Write(Data, int64_t(Size));
  stream.SetPosition(0);
  TKzAudioSource::OutputSound(stream, int32_t(Size), MonitorGUID(), Info.Channels, Info.BitsPerSample,
                              Info.SamplesPerSec);
  PlayOnOutput(stream, int32_t(Size), Info.Channels, Info.BitsPerSample, Info.SamplesPerSec);
}

}  // namespace kz
