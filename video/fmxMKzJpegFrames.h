// Finding JPEG frames in a Motion-JPEG byte stream by their start (FF D8)
// and end (FF D9) markers. Pure functions: any thread, never block.
#pragma once
#include <cstdint>

namespace kz {

// One frame: bytes [Begin, End), from FF D8 through FF D9.
struct TKzJpegSpan {
  int64_t Begin = -1;
  int64_t End = -1;
};

// The last "FF Mark" pair starting in [From, Last]; -1 when none.
int64_t KzFindMarkerBackward(const uint8_t* D, int64_t From, int64_t Last, uint8_t Mark);
// The first "FF Mark" pair starting at From or later in D[0, Size); -1 when none.
int64_t KzFindMarkerForward(const uint8_t* D, int64_t From, int64_t Size, uint8_t Mark);

// The first end marker FF D9 starting at From or later in D[0, Size); -1
// when none. Start becomes the last start marker FF D8 met on the way, so
// that the frame's start costs no second search; it keeps its value when
// none is met.
int64_t KzFindJpegEnd(const uint8_t* D, int64_t From, int64_t Size, int64_t& Start);

// The newest complete frame of D[0, Size): the last end marker, searched only
// from Searched - 1 on (bytes before were searched already), and the nearest
// start before it. False when either is missing.
bool KzFindNewestJpegFrame(const uint8_t* D, int64_t Size, int64_t Searched, TKzJpegSpan& Span);

// The next end marker at Pos or later and the nearest start between Pos and
// it. False when no end marker follows Pos; Span.Begin is -1 when that end
// has no start (garbage), and Span.End is always set after a true result.
bool KzFindNextJpegFrame(const uint8_t* D, int64_t Size, int64_t Pos, TKzJpegSpan& Span);

}  // namespace kz
