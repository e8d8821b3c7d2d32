// A camera's sound as an audio source: the blocks its FFmpeg decoder hands
// over, with their level, for the source's consumers and its output. The
// decoder's blocks carry no time stamp: they are stamped by a running sample
// clock from the first block of each stream. Camera sound is never dropped
// as late, and its position on the output lets the camera's pictures follow
// the sound actually played.
#pragma once
#include <atomic>
#include <mutex>

#include "audio/fmxMKzAudioSource.h"
#include "video/fmxMKzConsumers.h"

namespace kz {

class TKzCamera;

class TKzCamSound : public TKzAudioSourceWithOutput, public IKzCamAudioConsumer {
public:
  // Main thread, never blocks.
  explicit TKzCamSound(TComponent* AOwner);
  // Leaves the camera. Main thread; waits for a block being delivered.
  ~TKzCamSound() override;

  TKzCamera* Camera() const;
  // Leaves the old camera (reporting no sound) and becomes the new one's
  // sound. Main thread; waits for a block being delivered.
  void SetCamera(TKzCamera* Value);
  bool AllowDropTracks() const override { return false; }
  // The decoder's block. The camera's decoding thread.
  void CamAudioBlock(TComponent* Sender, const TKzAudioInfo& Info, const uint8_t* Data, size_t Size) override;
  // The next block starts a new stream's clock. Any thread.
  void RestartClock() { FSampleClock.Restart(); }
  // Frames its output has played, -1 when it is not on a player. Any thread.
  int64_t Position() const { return OutputPosition(); }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  mutable std::mutex FCameraLock;  // guards FCamera against the camera's free notification
  TKzCamera* FCamera = nullptr;
};

}  // namespace kz
