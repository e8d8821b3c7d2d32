// When a motion clip starts and ends: motion seen while idle starts a clip
// at the next packet; each moving frame extends it; the first packet more
// than the post-roll after the last moving frame ends it, so that motion
// within the post-roll of earlier motion continues the same clip. Works on
// the packets' own times only (no clock). Not locked.
#pragma once
#include <cstdint>
#include <vector>

#include "recorder/fmxMKzEventTypes.h"

namespace kz {

enum class TKzClipStep : uint8_t {
  kzcsIdle = 0,      // no clip: the packet only goes to the pre-roll
  kzcsStart = 1,     // a clip begins: the pre-roll, then this packet
  kzcsContinue = 2,  // the packet belongs to the open clip
  kzcsFinish = 3,    // the open clip ended before this packet
};

class TKzClipMachine {
public:
  // Moving frames closer than this belong to one motion event.
  static constexpr int64_t MotionGapMs = 1000;

  void SetPostRollMs(int64_t Value) { FPostRollMs = Value < 0 ? 0 : Value; }
  int64_t PostRollMs() const { return FPostRollMs; }

  // A frame at TimeMs showed motion inside Bounds.
  void Motion(int64_t TimeMs, const TKzEventRect& Bounds);
  // What happens with a packet at TimeMs (called once per packet, in order).
  TKzClipStep Step(int64_t TimeMs);
  // Ends an open clip now (the stream stops); true when one was open.
  bool Stop();

  bool Recording() const { return FRecording; }
  int64_t LastMotionMs() const { return FLastMotionMs; }
  // The motion events of the open clip, or of the clip that just finished.
  const std::vector<TKzMotionEvent>& Events() const { return FEvents; }

private:
  int64_t FPostRollMs = 10000;
  bool FRecording = false, FPendingStart = false, FClearEvents = false;
  int64_t FLastMotionMs = 0;
  std::vector<TKzMotionEvent> FEvents;
};

// Adds a moving frame to Events: it extends the last event when it comes
// within MotionGapMs of its end, else it begins a new one.
void KzNoteMotionEvent(std::vector<TKzMotionEvent>& Events, int64_t TimeMs, const TKzEventRect& Bounds);
// The motion events of a list that overlap [FromMs, ToMs], cut to it.
std::vector<TKzMotionEvent> KzMotionEventsWithin(const std::vector<TKzMotionEvent>& Events, int64_t FromMs,
                                                 int64_t ToMs);

}  // namespace kz
