// The base of every audio output (the player, monitoring): the audio
// viewers, video sources and audio sources registered with it, the Active
// flag, OnGetAudio, and the block entry PlayAudio that outputs override.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzTrack.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "video/fmxMKzAudioSink.h"
#include "video/fmxMKzAudioViewer.h"

namespace kz {

class TKzAudioSource;
class TKzVideoSource;

class TCustomKzAudioOutput : public TComponent, public IKzAudioSink {
public:
  // Main thread, never blocks.
  explicit TCustomKzAudioOutput(TComponent* AOwner);
  // Tells every registered audio source that the output is gone (waits for
  // a block being played on it). Derived outputs call DetachAudioSources first.
  ~TCustomKzAudioOutput() override;

  bool Active() const { return FActive.load(std::memory_order_acquire); }
  // Main thread.
  virtual void SetActive(bool Value) { FActive.store(Value, std::memory_order_release); }

  // Main thread, never block. Unregistering what is not registered raises
  // EKzAssertionFailed ("Assertion failure").
  void RegisterAudioViewer(IKzAudioViewer* Viewer);
  void UnRegisterAudioViewer(IKzAudioViewer* Viewer);
  void RegisterVideoSource(TKzVideoSource* Source);
  void UnRegisterVideoSource(TKzVideoSource* Source);
  void RegisterAudioSource(TKzAudioSource* Source);
  void UnRegisterAudioSource(TKzAudioSource* Source);
  // Copies of the lists. Any thread.
  std::vector<IKzAudioViewer*> AudioViewers() const;
  std::vector<TKzVideoSource*> VideoSources() const;
  std::vector<TKzAudioSource*> AudioSources() const;

  // One block of a source (GUID, AudioIndex) stamped StartTime (ms) lasting
  // Duration ms; the base fires OnGetAudio. The caller's thread (a delivery
  // or receiving thread); must not block for long.
  virtual void PlayAudio(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, uint16_t AudioIndex, bool AllowDrop,
                         int32_t Channels, TKzBitsPerSample Bits, int32_t SamplesPerSec, int64_t StartTime,
                         uint32_t Duration);
  // Forget the queued sound of a source. Any thread; the base has none.
  virtual void ClearBuffer(const TGUID& GUID) { (void)GUID; }
  // Frames played for a source; -1 where the output does not know. Any thread.
  virtual int64_t GetPosition(const TGUID& GUID, uint16_t AudioIndex) const {
    (void)GUID;
    (void)AudioIndex;
    return -1;
  }
  virtual void DeleteGUID(const TGUID& GUID, uint16_t AudioIndex) {
    (void)GUID;
    (void)AudioIndex;
  }

  // A receiver's pipeline hands its blocks here: PlayAudio with dropping
  // allowed; the end of a source's stream deletes its playback.
  void AudioBlock(const TGUID& Source, uint16_t MediaIndex, const TKzAudioInfo& Info, int64_t StartTime,
                  uint32_t Duration, const uint8_t* Data, size_t Size) override;
  void RemoveAudioSource(const TGUID& Source, uint16_t MediaIndex) override { DeleteGUID(Source, MediaIndex); }

  // Called on the thread that plays the block.
  TKzAudioEvent OnGetAudio;

protected:
  // Every audio source forgets this output. Main thread.
  void DetachAudioSources();

private:
  template <typename T>
  static void Remove(std::vector<T*>& List, T* Item);
  mutable std::mutex FListLock;  // guards the three lists
  std::vector<IKzAudioViewer*> FAudioViewers;
  std::vector<TKzVideoSource*> FVideoSources;
  std::vector<TKzAudioSource*> FAudioSources;
  std::atomic<bool> FActive{false};
};

}  // namespace kz
