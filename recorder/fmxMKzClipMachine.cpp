#include "recorder/fmxMKzClipMachine.h"

#include <algorithm>

namespace kz {

void KzNoteMotionEvent(std::vector<TKzMotionEvent>& Events, int64_t TimeMs, const TKzEventRect& Bounds) {
  if (Events.empty() || TimeMs - Events.back().EndMs > TKzClipMachine::MotionGapMs) {
    Events.push_back({TimeMs, TimeMs, Bounds});
    return;
  }
  TKzMotionEvent& e = Events.back();
  e.EndMs = std::max(e.EndMs, TimeMs);
  e.Bounds.Unite(Bounds);
}

void TKzClipMachine::Motion(int64_t TimeMs, const TKzEventRect& Bounds) {
  if (FClearEvents) {
    FEvents.clear();
    FClearEvents = false;
  }
  KzNoteMotionEvent(FEvents, TimeMs, Bounds);
  FLastMotionMs = std::max(FLastMotionMs, TimeMs);
  if (!FRecording) {
    FPendingStart = true;
    FLastMotionMs = TimeMs;
  }
}

TKzClipStep TKzClipMachine::Step(int64_t TimeMs) {
  if (FRecording) {
    if (TimeMs <= FLastMotionMs + FPostRollMs) return TKzClipStep::kzcsContinue;
    FRecording = false;
    FClearEvents = true;
    return TKzClipStep::kzcsFinish;
  }
  if (!FPendingStart) return TKzClipStep::kzcsIdle;
  FPendingStart = false;
  FRecording = true;
  return TKzClipStep::kzcsStart;
}

bool TKzClipMachine::Stop() {
  FPendingStart = false;
  if (!FRecording) return false;
  FRecording = false;
  FClearEvents = true;
  return true;
}

std::vector<TKzMotionEvent> KzMotionEventsWithin(const std::vector<TKzMotionEvent>& Events, int64_t FromMs,
                                                 int64_t ToMs) {
  std::vector<TKzMotionEvent> out;
  for (const TKzMotionEvent& e : Events) {
    if (e.EndMs < FromMs || e.StartMs > ToMs) continue;
    out.push_back({std::max(e.StartMs, FromMs), std::min(e.EndMs, ToMs), e.Bounds});
  }
  return out;
}

}  // namespace kz
