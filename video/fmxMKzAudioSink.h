// Where a multi-source pipeline hands the audio blocks it extracts: the
// receiver's audio playback. The player itself lives elsewhere and
// implements this interface.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzType.h"

namespace kz {

class IKzAudioSink {
public:
  virtual ~IKzAudioSink() = default;
  // One audio block of a source: StartTime in the sender's milliseconds,
  // Duration in ms, Size bytes at Data in the format Info describes. Copies
  // what it keeps. The pipeline's fetch thread; must not block for long.
  virtual void AudioBlock(const TGUID& Source, uint16_t MediaIndex, const TKzAudioInfo& Info, int64_t StartTime,
                          uint32_t Duration, const uint8_t* Data, size_t Size) = 0;
  // The source's stream of that index has ended (the pipeline is stopping).
  // The pipeline's fetch thread.
  virtual void RemoveAudioSource(const TGUID& Source, uint16_t MediaIndex) = 0;
};

}  // namespace kz
