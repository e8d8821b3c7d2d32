// Audio sources: the senders and audio viewers registered with a source (the
// recorders are the media source's), the level pushed to the viewers, and
// OutputSound, which hands one block to OnGetAudio, the senders and the
// recorders. TKzAudioSourceWithOutput also plays it on a monitoring output.
#pragma once
#include <atomic>
#include <mutex>
#include <vector>

#include "audio/fmxMKzAudioOutput.h"
#include "foundation/fmxMKzTrack.h"
#include "video/fmxMKzAudioViewer.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

class TKzAudioSource : public TKzMediaSource, public IKzAudioLevelSource {
public:
  // Main thread, never blocks.
  explicit TKzAudioSource(TComponent* AOwner);
  ~TKzAudioSource() override;

  bool Active() const { return FActive.load(std::memory_order_acquire); }

  // Main thread; block (running main-thread work) while a block is being
  // delivered. Unregistering what is not registered raises EKzAssertionFailed.
  void RegisterCamSender(IKzCamSenderConsumer* Sender);
  void UnRegisterCamSender(IKzCamSenderConsumer* Sender);
  // Main thread, never block.
  void RegisterAudioViewer(IKzAudioViewer* Viewer) override;
  void UnRegisterAudioViewer(IKzAudioViewer* Viewer) override;

  // Level (128 = silence) to every viewer not being destroyed. Any thread.
  void SetLevel(uint16_t Level);
  void SetLevelNoSound();

  // Hands a block to OnGetAudio, then every sender (stamped with its own
  // time since start) and every recorder (stamped with the library's).
  // The delivering thread.
  virtual void OutputSound(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, int32_t Channels,
                           TKzBitsPerSample Bits, int32_t SamplesPerSec);
  // Whether an output may drop this source's late blocks. Any thread.
  virtual bool AllowDropTracks() const { return true; }
  // The output this source plays on was destroyed. Main thread.
  virtual void AudioOutputGone(TCustomKzAudioOutput* Output) { (void)Output; }

  // On the delivering thread, before the consumers.
  TKzAudioEvent OnGetAudio;

protected:
  std::atomic<bool> FActive{false};

private:
  mutable std::mutex FViewerLock;  // guards FViewers
  std::vector<IKzAudioViewer*> FViewers;
};

// Stamps a source's consecutive blocks by their samples from the first
// block's arrival, so that they join on the output without gaps. It starts
// again on request, on a new format, or when the blocks arrive more than
// 200 ms behind their stamps (a stalled source). The delivering thread;
// Restart from any thread.
class TKzSampleClock {
public:
  void Restart() { FRestart = true; }
  void Stamp(int64_t Now, int64_t Frames, const TKzAudioInfo& Format, int64_t& Start, uint32_t& Duration);

private:
  std::atomic<bool> FRestart{true};
  int64_t FStart = 0;
  int64_t FFrames = 0;
  TKzAudioInfo FFormat;
};

class TKzAudioSourceWithOutput : public TKzAudioSource {
public:
  // Main thread, never blocks.
  explicit TKzAudioSourceWithOutput(TComponent* AOwner);
  ~TKzAudioSourceWithOutput() override;

  TCustomKzAudioOutput* AudioOutput() const;
  // Leaves the old output, joins the new one (nullptr: none). Main thread;
  // waits for a block being played on the old one.
  void SetAudioOutput(TCustomKzAudioOutput* Value);
  // The identity this source plays under on its output. Any thread.
  const TGUID& MonitorGUID() const { return FMonitorGUID; }

  void OutputSound(TMemoryStream& Stream, int32_t Size, const TGUID& GUID, int32_t Channels, TKzBitsPerSample Bits,
                   int32_t SamplesPerSec) override;
  void AudioOutputGone(TCustomKzAudioOutput* Output) override;
  // Frames the output has played of this source, -1 without one. Any thread.
  int64_t OutputPosition() const;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Plays a block on the output, if there is one, under MonitorGUID,
  // stamped by the sample clock. The delivering thread; waits for nothing
  // but the output.
  void PlayOnOutput(TMemoryStream& Stream, int32_t Size, int32_t Channels, TKzBitsPerSample Bits,
                    int32_t SamplesPerSec);
  TKzSampleClock FSampleClock;

private:
  mutable std::mutex FOutputLock;  // guards FAudioOutput and a block being played on it
  TCustomKzAudioOutput* FAudioOutput = nullptr;
  // One per component: the zero GUID would make two microphones one play item.
  const TGUID FMonitorGUID;
};

}  // namespace kz
