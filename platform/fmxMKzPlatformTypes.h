// Small geometry types of the framework: integer points and rectangles.
// A rectangle holds its left/top edge and excludes its right/bottom edge.
#pragma once
#include <algorithm>
#include <cstdint>

namespace kz {

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  constexpr TRect() = default;
  constexpr TRect(int32_t ALeft, int32_t ATop, int32_t ARight, int32_t ABottom)
      : Left(ALeft), Top(ATop), Right(ARight), Bottom(ABottom) {}
  constexpr int32_t Width() const { return Right - Left; }
  constexpr int32_t Height() const { return Bottom - Top; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};

// The common part of A and B (empty, all zero, when they do not overlap).
inline TRect IntersectRect(const TRect& A, const TRect& B) {
  const TRect r(std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
                std::min(A.Bottom, B.Bottom));
  return r.IsEmpty() ? TRect() : r;
}

}  // namespace kz
