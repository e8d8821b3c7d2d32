// What an audio source tells the controls that show its level (meters, the
// wall of views): 128 is silence, 128 + peak (0..128) for a block of sound.
#pragma once
#include <cstdint>

namespace kz {

class TComponent;

class IKzAudioViewer {
public:
  virtual ~IKzAudioViewer() = default;
  // The thread that captured or decoded the block; must return quickly.
  virtual void ViewerSetAudioLevel(TComponent* Sender, uint16_t Level) = 0;
  // A viewer being destroyed is left out. Any thread.
  virtual bool ViewerDestroying() const { return false; }
};

}  // namespace kz
