#include "video/fmxMKzDecodeSize.h"

#include <algorithm>

namespace kz {

TKzDecodeSize KzMaxDecodeSize(TKzDecodeSize A, TKzDecodeSize B) {
  if (A.IsNone()) return B;
  if (B.IsNone()) return A;
  if (A.IsFull() || B.IsFull()) return TKzDecodeSize::Full();
  return {std::max(A.Width, B.Width), std::max(A.Height, B.Height)};
}

int32_t KzJpegScaleFor(int32_t SourceWidth, int32_t SourceHeight, TKzDecodeSize Want) {
  if (Want.IsFull()) return 1;
  int32_t best = 1;
  for (int32_t denom : KzJpegScaleDenoms)
    if (KzScaledExtent(SourceWidth, denom) >= Want.Width && KzScaledExtent(SourceHeight, denom) >= Want.Height)
      best = denom;
  return best;
}

namespace {
size_t IndexOf(int32_t Denom) {
  const auto* it = std::find(KzJpegScaleDenoms.begin(), KzJpegScaleDenoms.end(), Denom);
  return it == KzJpegScaleDenoms.end() ? 0 : static_cast<size_t>(it - KzJpegScaleDenoms.begin());
}
}  // namespace

void TKzDecodeScaleCounts::Count(int32_t Denom) { FCounts[IndexOf(Denom)].fetch_add(1, std::memory_order_relaxed); }

uint64_t TKzDecodeScaleCounts::At(int32_t Denom) const {
  return FCounts[IndexOf(Denom)].load(std::memory_order_relaxed);
}

std::string TKzDecodeScaleCounts::Summary() const {
  std::string text;
  for (size_t i = 0; i < KzJpegScaleDenoms.size(); ++i) {
    const uint64_t n = FCounts[i].load(std::memory_order_relaxed);
    if (n == 0) continue;
    if (!text.empty()) text += ", ";
    text += "1/" + std::to_string(KzJpegScaleDenoms[i]) + ": " + std::to_string(n);
  }
  return text.empty() ? "none" : text;
}

}  // namespace kz
