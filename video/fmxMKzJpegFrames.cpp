#include "video/fmxMKzJpegFrames.h"

#include <algorithm>
#include <cstring>

namespace kz {

int64_t KzFindMarkerBackward(const uint8_t* D, int64_t From, int64_t Last, uint8_t Mark) {
  From = std::max<int64_t>(From, 0);
  for (int64_t i = Last; i >= From; --i) {
    const void* hit = memrchr(D + From, 0xFF, static_cast<size_t>(i - From + 1));
    if (!hit) return -1;
    i = static_cast<const uint8_t*>(hit) - D;
    if (D[i + 1] == Mark) return i;
  }
  return -1;
}

int64_t KzFindMarkerForward(const uint8_t* D, int64_t From, int64_t Size, uint8_t Mark) {
  for (int64_t i = std::max<int64_t>(From, 0); i + 1 < Size; ++i) {
    const void* hit = memchr(D + i, 0xFF, static_cast<size_t>(Size - 1 - i));
    if (!hit) return -1;
    i = static_cast<const uint8_t*>(hit) - D;
    if (D[i + 1] == Mark) return i;
  }
  return -1;
}

int64_t KzFindJpegEnd(const uint8_t* D, int64_t From, int64_t Size, int64_t& Start) {
  for (int64_t i = std::max<int64_t>(From, 0); i + 1 < Size; ++i) {
    const void* hit = memchr(D + i, 0xFF, static_cast<size_t>(Size - 1 - i));
    if (!hit) return -1;
    i = static_cast<const uint8_t*>(hit) - D;
    if (D[i + 1] == 0xD9) return i;
    if (D[i + 1] == 0xD8) Start = i;
  }
  return -1;
}

bool KzFindNewestJpegFrame(const uint8_t* D, int64_t Size, int64_t Searched, TKzJpegSpan& Span) {
  if (Size < 2) return false;
  const int64_t eoi = KzFindMarkerBackward(D, std::max<int64_t>(Searched - 1, 0), Size - 2, 0xD9);
  if (eoi < 0) return false;
  const int64_t soi = KzFindMarkerBackward(D, 0, eoi - 2, 0xD8);
  if (soi < 0) return false;
  Span.Begin = soi;
  Span.End = eoi + 2;
  return true;
}

bool KzFindNextJpegFrame(const uint8_t* D, int64_t Size, int64_t Pos, TKzJpegSpan& Span) {
  const int64_t eoi = KzFindMarkerForward(D, Pos, Size, 0xD9);
  if (eoi < 0) return false;
  Span.Begin = KzFindMarkerBackward(D, std::max<int64_t>(Pos, 0), eoi - 2, 0xD8);
  Span.End = eoi + 2;
  return true;
}

}  // namespace kz
