// Blending of one 32-bit pixel (0xAARRGGBB) over another with an 8-bit
// alpha, exact in integers: every channel becomes
//   (src * a + dst * (255 - a) + 127) / 255,
// where the source's alpha channel counts as 255. The destination's alpha
// thus moves towards opaque by a: over an opaque surface it stays 255, over
// a transparent one it becomes a. Pure functions, any thread.
#pragma once
#include <cstdint>

namespace kz {

constexpr uint32_t KzChannelPairs = 0x00FF00FFu;

// Two 16-bit lanes, each (v + 127) / 255 for v <= 255 * 255, exactly:
// ((v + 128) * 257) >> 16 per lane.
constexpr uint32_t KzDiv255Lanes(uint32_t V) {
  V += 0x00800080u;
  return ((V + ((V >> 8) & KzChannelPairs)) >> 8) & KzChannelPairs;
}

// The source colour with its own alpha ignored, prepared for KzBlendPrepared:
// the channel pairs B, R and G, A(=255) times A.
struct TKzBlendSource {
  uint32_t RB;
  uint32_t GA;
  uint32_t InvA;
};

constexpr TKzBlendSource KzBlendSource(uint32_t Color, uint32_t A) {
  return {(Color & KzChannelPairs) * A, (((Color >> 8) & 0xFFu) | 0x00FF0000u) * A, 255 - A};
}

constexpr uint32_t KzBlendPrepared(const TKzBlendSource& S, uint32_t Dst) {
  const uint32_t rb = KzDiv255Lanes(S.RB + (Dst & KzChannelPairs) * S.InvA);
  const uint32_t ga = KzDiv255Lanes(S.GA + ((Dst >> 8) & KzChannelPairs) * S.InvA);
  return rb | (ga << 8);
}

// Color over Dst with alpha A (0..255); A = 255 gives Color with alpha 255.
constexpr uint32_t KzBlendPixel(uint32_t Dst, uint32_t Color, uint32_t A) {
  return KzBlendPrepared(KzBlendSource(Color, A), Dst);
}

// (A * B + 127) / 255 for two 8-bit values.
constexpr uint32_t KzMulAlpha(uint32_t A, uint32_t B) { return ((A * B + 128) * 257) >> 16; }

}  // namespace kz
