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
  const uint32_t count = static_cast<uint32_t>(FSmoothCount);
  const int64_t limit = std::llround(static_cast<double>(n) * 0.1);
  int64_t changed = 0;
  bool sceneChange = false;
  for (size_t p = 0; p < n && !sceneChange; ++p) {
    const size_t o = p * 4;
    uint8_t avg[4];
    bool differs = false;
    for (int c = 0; c < 4; ++c) {
      if (oldest != nullptr) {
        sum[o + c] = static_cast<uint16_t>(sum[o + c] + in[o + c] - oldest[o + c]);
        oldest[o + c] = in[o + c];
      } else {
        sum[o + c] = static_cast<uint16_t>(sum[o + c] + in[o + c]);
      }
      avg[c] = static_cast<uint8_t>(sum[o + c] / count);
      if (std::abs(static_cast<int>(avg[c]) - static_cast<int>(out[o + c])) >= ChangeThreshold) differs = true;
    }
    if (differs && ++changed > limit) {
      sceneChange = true;
      break;
    }
    memcpy(out + o, avg, 4);
  }
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
