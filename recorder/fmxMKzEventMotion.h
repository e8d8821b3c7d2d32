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

// Motion in the JPEG frames of a stream, each frame timed by itself. While
// the stream is still, a frame is decoded only every StillCheckMs; when one
// shows motion, the frames skipped since the last still one are decoded and
// checked in turn, so that the motion still starts at its first moving
// frame; then every frame is checked until one is still again. Frames leave
// in order with their verdict, at most StillCheckMs after they came in.
class TKzJpegMotionWatcher {
public:
  static constexpr int64_t StillCheckMs = 500;
  // The size motion is watched at (the JPEG scale that covers it).
  static constexpr int32_t WatchWidth = 160, WatchHeight = 120;
  using TVerdict = std::function<void(const TKzEventPacket& Frame, bool Moved, const TKzEventRect& Bounds)>;

  TKzJpegMotionWatcher();
  ~TKzJpegMotionWatcher();

  // The next frame of the stream; Verdict for each frame now known.
  void Add(const TKzEventPacket& Frame, int64_t MinRegionArea, const TVerdict& Verdict);
  // The frames still waiting, as still (the stream ends or changes kind).
  void Flush(const TVerdict& Verdict);
  // Pictures decoded so far.
  int64_t Decoded() const { return FDecoded; }

private:
  bool Decode(const TKzEventPacket& Frame);
  void CheckSkipped(int64_t MinRegionArea, const TVerdict& Verdict);

  std::unique_ptr<TKzImageWrapper> FDecoder;
  TKzEventMotionWatcher FWatcher;
  std::deque<TKzEventPacket> FSkipped;  // since the last checked frame
  TKzEventPacket FLastChecked;
  bool FMoving = false;
  int64_t FDecoded = 0;
};

}  // namespace kz
