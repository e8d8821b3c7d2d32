// The published microphone component: every property of TCustomKzMicrophone
// with its initial value, on the system's capture devices.
#pragma once
#include "audio/fmxMKzMicrophonePlatform.h"

namespace kz {

class TKzMicrophone : public TCustomKzMicrophonePlatform {
public:
  // Main thread, never blocks.
  explicit TKzMicrophone(TComponent* AOwner) : TCustomKzMicrophonePlatform(AOwner) {}
  // Main thread; blocks until capture and delivery have stopped.
  ~TKzMicrophone() override { ShutDown(); }
};

}  // namespace kz
