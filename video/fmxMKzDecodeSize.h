// Decoding at the size a picture is shown: each consumer of a source's
// frames may say the largest size it will use; the pipeline decodes at the
// smallest JPEG scale (1/1, 1/2, 1/4, 1/8) whose output still covers the
// largest size asked for in both directions. A consumer that says nothing
// gets full-size frames; one that needs no pictures at all (it takes the
// compressed stream instead) says None, and a source whose consumers all
// say None decodes nothing.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace kz {

// A wanted frame size in pixels; 0 x 0 (the default) is the source's full size.
struct TKzDecodeSize {
  int32_t Width = 0;
  int32_t Height = 0;
  bool NoPicture = false;  // None: taken as the smallest size where a picture is made anyway

  static constexpr TKzDecodeSize Full() { return {}; }
  static constexpr TKzDecodeSize None() { return {1, 1, true}; }
  bool IsFull() const { return Width <= 0 || Height <= 0; }
  bool IsNone() const { return NoPicture; }
  bool operator==(const TKzDecodeSize&) const = default;
};

// The size that satisfies both: the other when one is None, full when
// either is full, else the larger extent in each direction. Any thread.
TKzDecodeSize KzMaxDecodeSize(TKzDecodeSize A, TKzDecodeSize B);

// The JPEG scales libjpeg-turbo decodes at, as denominators.
constexpr std::array<int32_t, 4> KzJpegScaleDenoms{1, 2, 4, 8};

// The output extent of a scaled decode (libjpeg rounds up).
inline int32_t KzScaledExtent(int32_t Source, int32_t Denom) { return (Source + Denom - 1) / Denom; }

// The largest denominator whose output of a SourceWidth x SourceHeight picture
// still covers Want in both directions; 1 for a full-size request. Any thread.
int32_t KzJpegScaleFor(int32_t SourceWidth, int32_t SourceHeight, TKzDecodeSize Want);

// How many frames a pipeline decoded at each scale (index as in
// KzJpegScaleDenoms). Any thread.
class TKzDecodeScaleCounts {
public:
  void Count(int32_t Denom);
  uint64_t At(int32_t Denom) const;
  // "1/1: 10, 1/4: 230" listing the scales that were used; "none" before a
  // frame was decoded.
  std::string Summary() const;

private:
  std::array<std::atomic<uint64_t>, KzJpegScaleDenoms.size()> FCounts{};
};

}  // namespace kz
