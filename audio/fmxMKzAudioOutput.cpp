#include "audio/fmxMKzAudioOutput.h"

#include <algorithm>

#include "audio/fmxMKzAudioSource.h"
#include "foundation/fmxMKzErrors.h"

namespace kz {

TCustomKzAudioOutput::TCustomKzAudioOutput(TComponent* AOwner) : TComponent(AOwner) {}

TCustomKzAudioOutput::~TCustomKzAudioOutput() {
  Destroying();
  DetachAudioSources();
}

void TCustomKzAudioOutput::DetachAudioSources() {
  for (TKzAudioSource* s : AudioSources()) s->AudioOutputGone(this);
  std::lock_guard<std::mutex> g(FListLock);
  FAudioSources.clear();
}

template <typename T>
void TCustomKzAudioOutput::Remove(std::vector<T*>& List, T* Item) {
  auto it = std::find(List.begin(), List.end(), Item);
  KzAssert(it != List.end());
  List.erase(it);
}

void TCustomKzAudioOutput::RegisterAudioViewer(IKzAudioViewer* Viewer) {
  std::lock_guard<std::mutex> g(FListLock);
  FAudioViewers.push_back(Viewer);
}

void TCustomKzAudioOutput::UnRegisterAudioViewer(IKzAudioViewer* Viewer) {
  std::lock_guard<std::mutex> g(FListLock);
  Remove(FAudioViewers, Viewer);
}

void TCustomKzAudioOutput::RegisterVideoSource(TKzVideoSource* Source) {
  std::lock_guard<std::mutex> g(FListLock);
  FVideoSources.push_back(Source);
}

void TCustomKzAudioOutput::UnRegisterVideoSource(TKzVideoSource* Source) {
  std::lock_guard<std::mutex> g(FListLock);
  Remove(FVideoSources, Source);
}

void TCustomKzAudioOutput::RegisterAudioSource(TKzAudioSource* Source) {
  std::lock_guard<std::mutex> g(FListLock);
  FAudioSources.push_back(Source);
}

void TCustomKzAudioOutput::UnRegisterAudioSource(TKzAudioSource* Source) {
  std::lock_guard<std::mutex> g(FListLock);
  Remove(FAudioSources, Source);
}

std::vector<IKzAudioViewer*> TCustomKzAudioOutput::AudioViewers() const {
  std::lock_guard<std::mutex> g(FListLock);
  return FAudioViewers;
}

std::vector<TKzVideoSource*> TCustomKzAudioOutput::VideoSources() const {
  std::lock_guard<std::mutex> g(FListLock);
  return FVideoSources;
}

std::vector<TKzAudioSource*> TCustomKzAudioOutput::AudioSources() const {
  std::lock_guard<std::mutex> g(FListLock);
  return FAudioSources;
}

void TCustomKzAudioOutput::PlayAudio(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, uint16_t AudioIndex,
                                     bool AllowDrop, int32_t Channels, TKzBitsPerSample Bits, int32_t SamplesPerSec,
                                     int64_t StartTime, uint32_t Duration) {
  (void)GUID;
  (void)AllowDrop;
  if (!OnGetAudio) return;
  Stream.SetPosition(0);
  int32_t size = Size, rate = SamplesPerSec, channels = Channels;
  int64_t start = StartTime;
  uint32_t duration = Duration;
  TKzBitsPerSample bits = Bits;
  OnGetAudio(this, Stream, size, AudioIndex, start, duration, rate, bits, channels);
}

void TCustomKzAudioOutput::AudioBlock(const TGUID& Source, uint16_t MediaIndex, const TKzAudioInfo& Info,
                                      int64_t StartTime, uint32_t Duration, const uint8_t* Data, size_t Size) {
  if (!Data || Size == 0 || Size > size_t(INT32_MAX)) return;
  TMemoryStream stream;
  stream.Write(Data, int64_t(Size));
  stream.SetPosition(0);
  PlayAudio(stream, int32_t(Size), Source, MediaIndex, true, Info.Channels, Info.BitsPerSample, Info.SamplesPerSec,
            StartTime, Duration);
}

}  // namespace kz
