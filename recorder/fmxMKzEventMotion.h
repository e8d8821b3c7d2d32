// Motion as the event recorder sees it: the library's motion detector run
// on the pictures a source hands over, and only regions of at least a
// given area counted; and on a Motion-JPEG stream's own frames, decoded
// small and, while nothing moves, only twice a second. Each is owned
// by one thread.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>

#include "foundation/fmxMKzBitmap.h"
#include "recorder/fmxMKzEventTypes.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TKzEventMotionWatcher {
public:
  // Compares Frame with the previous ones; true when a region of at least
  // MinRegionArea pixels (full-frame) moved, with their union in Bounds.
  bool Check(const TKzMCustomBitmap& Frame, int64_t MinRegionArea, TKzEventRect& Bounds);
  // The same for Frame against Reference alone (a detector of its own,
  // nothing remembered): true when they differ by such a region.
  static bool Between(const TKzMCustomBitmap& Frame, const TKzMCustomBitmap& Reference, int64_t MinRegionArea,
                      TKzEventRect& Bounds);
  TKzMotionDetector& Detector() { return FDetector; }

private:
  TKzMotionDetector FDetector;
  TKzMBitmap FReference;
};

// Motion in the JPEG frames of a stream, each frame timed by itself. A
// frame is decoded (its luminance, small) and checked only every
// CheckEveryMs. When a check shows motion after a still one, the frames
// between the two are searched by bisection for the first one that differs
// from the still check: the motion starts there. When a check is still
// after moving ones, the frames since the third check back (the detector
// keeps a region for one check after it stopped, and the stop may lie
// anywhere after the check before that) are searched likewise for the
// first one that looks like the still check: the motion ends on the frame
// after it, as a detector watching every frame would report it. The
// searches take a few decodes where checking every frame took dozens; they
// assume the picture does not return to the still one while it moves (a
// change undone within a check interval may be missed, as between checks).
// Frames in between take the verdict of the checks and searches around
// them. Frames leave in order with their verdict, at most three check
// intervals after they came in.
class TKzJpegMotionWatcher {
public:
  static constexpr int64_t CheckEveryMs = 500;
  // The size motion is watched at (the JPEG scale that covers it).
  static constexpr int32_t WatchWidth = 160, WatchHeight = 120;
  using TVerdict = std::function<void(const TKzEventPacket& Frame, bool Moved, const TKzEventRect& Bounds)>;

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
    TKzEventRect Bounds;  // of a check or search that showed motion
  };
  bool Decode(const TKzEventPacket& Frame, TKzMBitmap& Picture);
  // The pending frame differs from Reference; its region is kept with it.
  // A frame that cannot be decoded counts as differing: a clip had rather
  // be a frame too long than too short.
  bool Differs(TPending& Frame, const TKzMCustomBitmap& Reference, int64_t MinRegionArea);
  // The pending frames up to the moving check that ends them, the first
  // moving one found by bisection against the still check before them.
  void FindStart(int64_t MinRegionArea, const TVerdict& Verdict);
  // The pending frames up to the still check that ends them, the last
  // moving one found by bisection against that check.
  void FindStop(int64_t MinRegionArea, const TVerdict& Verdict);
  // The first Count pending frames leave with the verdict Moved; a moving
  // frame takes the region of the first check or search at or after it.
  void Release(size_t Count, bool Moved, const TVerdict& Verdict);

  TKzEventMotionWatcher FWatcher;
  std::deque<TPending> FPending;  // frames after the last check released, without a verdict yet
  TKzMBitmap FPicture;            // the frame being checked
  TKzMBitmap FChecked;            // the last check's frame
  TKzMBitmap FProbe;              // a frame the searches look at
  bool FEverChecked = false, FMoving = false;
  int64_t FLastCheckMs = 0;
  int64_t FDecoded = 0;
};

}  // namespace kz
