// What an audio source tells the controls that show its level (meters, the
// wall of views): 128 is silence, 128 + peak (0..128) for a block of sound.
#pragma once
#include <cstdint>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

class TComponent;

class IKzAudioViewer {
public:
  virtual ~IKzAudioViewer() = default;
  // The thread that captured or decoded the block; must return quickly.
  virtual void ViewerSetAudioLevel(TComponent* Sender, uint16_t Level) = 0;
  // The level of a block that came from the sender From (a source that
  // carries several senders' audio). Same thread rules.
  virtual void ViewerSetAudioLevelFrom(TComponent* Sender, const TGUID& From, uint16_t Level) {
    (void)From;
    ViewerSetAudioLevel(Sender, Level);
  }
  // A viewer being destroyed is left out. Any thread.
  virtual bool ViewerDestroying() const { return false; }
};

// What audio viewers register with: the audio sources.
class IKzAudioLevelSource {
public:
  virtual ~IKzAudioLevelSource() = default;
  // Main thread, never block (beyond a level being handed out).
  // Unregistering what is not registered raises EKzAssertionFailed.
  virtual void RegisterAudioViewer(IKzAudioViewer* Viewer) = 0;
  virtual void UnRegisterAudioViewer(IKzAudioViewer* Viewer) = 0;
};

}  // namespace kz
