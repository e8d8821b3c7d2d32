#include "audio/fmxMKzAudioSource.h"

#include <algorithm>

#include "audio/fmxMKzAudioFuncs.h"
#include "foundation/fmxMKzErrors.h"
#include "foundation/fmxMKzType.h"

namespace kz {

TKzAudioSource::TKzAudioSource(TComponent* AOwner) : TKzMediaSource(AOwner) {}

TKzAudioSource::~TKzAudioSource() = default;

void TKzAudioSource::RegisterCamSender(IKzCamSenderConsumer* Sender) { AddConsumer(FConsumers.CamSenders, Sender); }

void TKzAudioSource::UnRegisterCamSender(IKzCamSenderConsumer* Sender) {
  RemoveConsumer(FConsumers.CamSenders, Sender);
}

void TKzAudioSource::RegisterAudioViewer(IKzAudioViewer* Viewer) {
  std::lock_guard<std::mutex> g(FViewerLock);
  FViewers.push_back(Viewer);
}

void TKzAudioSource::UnRegisterAudioViewer(IKzAudioViewer* Viewer) {
  std::lock_guard<std::mutex> g(FViewerLock);
  auto it = std::find(FViewers.begin(), FViewers.end(), Viewer);
  KzAssert(it != FViewers.end());
  FViewers.erase(it);
}

void TKzAudioSource::SetLevel(uint16_t Level) {
  std::lock_guard<std::mutex> g(FViewerLock);
  for (IKzAudioViewer* v : FViewers)
    if (!v->ViewerDestroying()) v->ViewerSetAudioLevel(this, Level);
}

void TKzAudioSource::SetLevelNoSound() {
  if (!IsDestroying()) SetLevel(128);
}

void TKzAudioSource::OutputSound(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, int32_t Channels,
                                 TKzBitsPerSample Bits, int32_t SamplesPerSec) {
  const int64_t now = static_cast<int64_t>(KzMGetTickCountSinceStart());
  LockConsumers();
  std::vector<int64_t> senderTimes;
  for (IKzCamSenderConsumer* s : FConsumers.CamSenders) senderTimes.push_back(s->SenderTimeSinceStart());
  UnlockConsumers();
  uint32_t duration = GetTrackMSec(Size, Channels, Bits, SamplesPerSec);
  const TKzAudioInfo info{SamplesPerSec, Bits, Channels};
  if (OnGetAudio) {
    Stream.SetPosition(0);
    int32_t size = Size, rate = SamplesPerSec, channels = Channels;
    int64_t start = now;
    TKzBitsPerSample bits = Bits;
    OnGetAudio(this, Stream, size, 0, start, duration, rate, bits, channels);
  }
  LockConsumers();
  const auto& senders = FConsumers.CamSenders;
  for (size_t i = 0; i < senders.size(); ++i) {
    Stream.SetPosition(0);
    // A sender registered since the times were read gets its time now.
    const int64_t t = i < senderTimes.size() ? senderTimes[i] : senders[i]->SenderTimeSinceStart();
    senders[i]->SenderGetAudio(this, Stream, Size, info, duration, t, GUID);
  }
  for (IKzCamRecorderConsumer* r : FConsumers.CamRecorders) {
    Stream.SetPosition(0);
    r->RecorderGetAudio(this, Stream, Size, info, duration, now);
  }
  UnlockConsumers();
}

TKzAudioSourceWithOutput::TKzAudioSourceWithOutput(TComponent* AOwner)
    : TKzAudioSource(AOwner), FMonitorGUID(KzCreateGUID()) {}

TKzAudioSourceWithOutput::~TKzAudioSourceWithOutput() { SetAudioOutput(nullptr); }

TCustomKzAudioOutput* TKzAudioSourceWithOutput::AudioOutput() const {
  std::lock_guard<std::mutex> g(FOutputLock);
  return FAudioOutput;
}

void TKzAudioSourceWithOutput::SetAudioOutput(TCustomKzAudioOutput* Value) {
  TCustomKzAudioOutput* old;
  {
    std::lock_guard<std::mutex> g(FOutputLock);
    old = FAudioOutput;
    if (old == Value) return;
    FAudioOutput = Value;
  }
  if (old) {
    old->UnRegisterAudioSource(this);
    RemoveFreeNotification(old);
  }
  if (Value) {
    Value->RegisterAudioSource(this);
    FreeNotification(Value);
  }
}

void TKzAudioSourceWithOutput::AudioOutputGone(TCustomKzAudioOutput* Output) {
  std::lock_guard<std::mutex> g(FOutputLock);
  if (FAudioOutput == Output) FAudioOutput = nullptr;
}

void TKzAudioSourceWithOutput::Notification(TComponent* AComponent, TOperation Operation) {
  TKzAudioSource::Notification(AComponent, Operation);
  // The output is being destroyed: compare addresses only.
  if (Operation != TOperation::opRemove) return;
  std::lock_guard<std::mutex> g(FOutputLock);
  if (FAudioOutput && static_cast<TComponent*>(FAudioOutput) == AComponent) FAudioOutput = nullptr;
}

void TKzAudioSourceWithOutput::OutputSound(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, int32_t Channels,
                                           TKzBitsPerSample Bits, int32_t SamplesPerSec) {
  TKzAudioSource::OutputSound(Stream, Size, GUID, Channels, Bits, SamplesPerSec);
  PlayOnOutput(Stream, Size, Channels, Bits, SamplesPerSec);
}

void TKzSampleClock::Stamp(int64_t Now, int64_t Frames, const TKzAudioInfo& Format, int64_t& Start,
                           uint32_t& Duration) {
  const int32_t rate = std::max(1, Format.SamplesPerSec);
  if (FRestart.exchange(false) || !(Format == FFormat) || Now - (FStart + FFrames * 1000 / rate) > 200) {
    FStart = Now;
    FFrames = 0;
    FFormat = Format;
  }
  Start = FStart + FFrames * 1000 / rate;
  FFrames += Frames;
  // Whole milliseconds that add up: the next block starts where this one ends.
  Duration = static_cast<uint32_t>(FStart + FFrames * 1000 / rate - Start);
}

void TKzAudioSourceWithOutput::PlayOnOutput(TMemoryStream& Stream, int32_t Size, int32_t Channels,
                                            TKzBitsPerSample Bits, int32_t SamplesPerSec) {
  std::lock_guard<std::mutex> g(FOutputLock);
  if (!FAudioOutput) return;
  const int32_t frameBytes = KzBitsToInt(Bits) / 8 * std::max(1, Channels);
  int64_t start = 0;
  uint32_t duration = 0;
  FSampleClock.Stamp(static_cast<int64_t>(KzMGetTickCountSinceStart()), Size / frameBytes,
                     TKzAudioInfo{SamplesPerSec, Bits, Channels}, start, duration);
  Stream.SetPosition(0);
  FAudioOutput->PlayAudio(Stream, Size, FMonitorGUID, 0, AllowDropTracks(), Channels, Bits, SamplesPerSec, start,
                          duration);
}

int64_t TKzAudioSourceWithOutput::OutputPosition() const {
  std::lock_guard<std::mutex> g(FOutputLock);
  return FAudioOutput ? FAudioOutput->GetPosition(FMonitorGUID, 0) : -1;
}

}  // namespace kz

