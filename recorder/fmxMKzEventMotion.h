// Motion as the event recorder sees it: the library's motion detector run
// on the pictures a source hands over, and only regions of at least a
// given area counted; and on a Motion-JPEG stream's own frames, decoded
// small and, while nothing moves, only twice a second. Each is owned
// by one thread.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "foundation/fmxMKzBitmap.h"
#include "recorder/fmxMKzEventTypes.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TKzEventMotionWatcher {
public:
  // Compares Frame with the previous ones; true when a region of at least
  // MinRegionArea pixels (full-frame) moved, with their union in Bounds.
  bool Check(const TKzMCustomBitmap& Frame, int64_t MinRegionArea, TKzEventRect& Bounds);
  TKzMotionDetector& Detector() { return FDetector; }

private:
  TKzMotionDetector FDetector;
  TKzMBitmap FReference;
};

class TKzImageWrapper;

// Motion in the JPEG frames of a stream, each frame timed by itself. A
// frame is decoded and checked only every CheckEveryMs. When a check shows
// motion after a still one, the frames between the two are checked one by
// one, so that the motion starts at its first moving frame; when a check is
// still after moving ones, the frames since the third check back are (the
// detector keeps a region for one check after it stopped, and the stop may
// lie anywhere after the check before that), so that it ends at its last
// moving frame. Frames in between take the verdict of the checks around
// them. Frames leave in order with their verdict, at most three check
// intervals after they came in.
class TKzJpegMotionWatcher {
public:
  static constexpr int64_t CheckEveryMs = 500;
  // The size motion is watched at (the JPEG scale that covers it).
  static constexpr int32_t WatchWidth = 160, WatchHeight = 120;
  using TVerdict = std::function<void(const TKzEventPacket& Frame, bool Moved, const TKzEventRect& Bounds)>;

  TKzJpegMotionWatcher();
  ~TKzJpegMotionWatcher();

  // The next frame of the stream; Verdict for each frame now known.
  void Add(const TKzEventPacket& Frame, int64_t MinRegionArea, const TVerdict& Verdict);
  // The frames still waiting, with the verdict of the checks so far (the
  // stream ends or changes kind).
  void Flush(const TVerdict& Verdict);
  // Pictures decoded so far.
  int64_t Decoded() const { return FDecoded; }

private:
  struct TPending {
    TKzEventPacket Frame;
    bool Checked = false;
    TKzEventRect Bounds;  // of a check that showed motion
  };
  bool Decode(const TKzEventPacket& Frame);
  // Every pending frame checked one by one from the anchor on, on a
  // detector of their own (the stream's has moved on to the newest frame).
  void CheckEach(int64_t MinRegionArea, const TVerdict& Verdict);
  // The first Count pending frames leave with the verdict Moved; frames in
  // between checks take the region of the check after them.
  void Release(size_t Count, bool Moved, const TVerdict& Verdict);

  std::unique_ptr<TKzImageWrapper> FDecoder;
  TKzEventMotionWatcher FWatcher;
  std::deque<TPending> FPending;  // frames after the anchor still without a verdict
  TKzEventPacket FAnchor;         // a checked frame the pending ones follow
  bool FChecked = false, FMoving = false;
  int64_t FLastCheckMs = 0;
  int64_t FDecoded = 0;
};

}  // namespace kz
