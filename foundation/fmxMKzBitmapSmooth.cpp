// Temporal smoothing of the library bitmap: a running average of the last
// three frames of a static scene that snaps to the live picture as soon as
// more than a tenth of it moves. Per-channel running sums (16 bits each)
// make every frame cost one pass over the pixels.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"

namespace kz {

namespace {
constexpr int32_t MaxHistory = 3;
constexpr int64_t RestartAfterMs = 100;
constexpr int ChangeThreshold = 11;  // a channel this far from the last output marks a changed pixel
// sum div Count without a division (exact for every sum of three bytes).
template <int Count>
inline uint32_t Average(uint32_t Sum) {
  if constexpr (Count == 3) return (Sum * 43691u) >> 17;
  return Sum >> 1;
}

// One pass of the running average over n pixels with Count frames summed.
// Oldest, when given, is the frame leaving the sum; it is overwritten with
// the new one. True as soon as more than Limit pixels changed (a scene
// change). The pixels go in blocks so that the per-byte work vectorises; a
// block that crosses the limit is abandoned whole, which changes nothing
// visible because a scene change replaces sums, output and history.
template <int Count>
bool SmoothPass(const uint8_t* In, uint8_t* Oldest, uint16_t* Sum, uint8_t* Out, size_t n, int64_t Limit) {
  constexpr size_t Block = 1024;  // pixels
  uint8_t avg[Block * 4];
  uint8_t far[Block * 4];
  int64_t changed = 0;
  for (size_t first = 0; first < n; first += Block) {
    const size_t bytes = std::min(Block, n - first) * 4;
    const uint8_t* in = In + first * 4;
    uint16_t* sum = Sum + first * 4;
    uint8_t* out = Out + first * 4;
    if (Oldest != nullptr) {
      uint8_t* old = Oldest + first * 4;
      for (size_t i = 0; i < bytes; ++i) {
        sum[i] = static_cast<uint16_t>(sum[i] + in[i] - old[i]);
        old[i] = in[i];
      }
    } else {
      for (size_t i = 0; i < bytes; ++i) sum[i] = static_cast<uint16_t>(sum[i] + in[i]);
    }
    for (size_t i = 0; i < bytes; ++i) {
      avg[i] = static_cast<uint8_t>(Average<Count>(sum[i]));
      const int d = static_cast<int>(avg[i]) - static_cast<int>(out[i]);
      far[i] = static_cast<uint8_t>(d >= ChangeThreshold || d <= -ChangeThreshold);
    }
    for (size_t p = 0; p < bytes; p += 4) changed += (far[p] | far[p + 1] | far[p + 2] | far[p + 3]);
    if (changed > Limit) return true;
    memcpy(out, avg, bytes);
  }
  return false;
}

}  // namespace

void TKzMCustomBitmap::SetSmoothImage(bool On) {
  if (On == FSmoothImage) return;
  FSmoothImage = On;
  ListImg.clear();
  ListImg.shrink_to_fit();
  SumData.clear();
  SumData.shrink_to_fit();
  FSmoothCount = 0;
  if (On) RestartSmoothing();
}

void TKzMCustomBitmap::RestartSmoothing() {
  FSmoothCount = 0;
  if (!FSmoothImage) return;
  SumData.assign(static_cast<size_t>(GetLength()) * 4, 0);
}

void TKzMCustomBitmap::SmoothUpdate(const TKzMCustomBitmap& Frame) {
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  if (now - UpdateTime > RestartAfterMs) RestartSmoothing();
  UpdateTime = now;

  const size_t n = static_cast<size_t>(GetLength());
  if (SumData.size() != n * 4) SumData.assign(n * 4, 0);
  if (n == 0) return;

  // History: oldest first. With three frames summed the oldest slot moves to
  // the end and is overwritten pixel by pixel with the new frame below.
  const bool full = FSmoothCount >= MaxHistory;
  if (!full) {
    if (static_cast<int32_t>(ListImg.size()) <= FSmoothCount) ListImg.push_back(std::make_unique<TKzMCustomBitmap>());
    ListImg[FSmoothCount]->CopyPixels(Frame);
    ++FSmoothCount;
  } else {
    std::rotate(ListImg.begin(), ListImg.begin() + 1, ListImg.begin() + MaxHistory);
  }

  const uint8_t* in = reinterpret_cast<const uint8_t*>(Frame.Data());
  uint8_t* out = reinterpret_cast<uint8_t*>(FData.data());
  uint16_t* sum = SumData.data();

  if (FSmoothCount == 1) {
    for (size_t i = 0; i < n * 4; ++i) sum[i] = in[i];
    memcpy(out, in, n * 4);
    return;
  }

  uint8_t* oldest = full ? reinterpret_cast<uint8_t*>(ListImg[MaxHistory - 1]->Data()) : nullptr;
  const int64_t limit = std::llround(static_cast<double>(n) * 0.1);
  const bool sceneChange = FSmoothCount == 3 ? SmoothPass<3>(in, oldest, sum, out, n, limit)
                                             : SmoothPass<2>(in, nullptr, sum, out, n, limit);
  if (!sceneChange) return;

  // Scene change: start again from the new frame alone.
  for (size_t i = 0; i < n * 4; ++i) sum[i] = in[i];
  memcpy(out, in, n * 4);
  if (full) {
    ListImg[0]->CopyPixels(Frame);
  } else {
    std::rotate(ListImg.begin(), ListImg.begin() + FSmoothCount - 1, ListImg.begin() + FSmoothCount);
  }
  FSmoothCount = 1;
}

}  // namespace kz
