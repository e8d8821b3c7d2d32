// Synthetic frames for the motion detector tests and benchmark.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/fmxMKzBitmap.h"

namespace kztest {

inline uint32_t Bgra(int B, int G, int R) {
  return 0xFF000000u | (static_cast<uint32_t>(R) << 16) | (static_cast<uint32_t>(G) << 8) | static_cast<uint32_t>(B);
}

inline kz::TKzMBitmap SolidFrame(int W, int H, uint32_t Color) {
  kz::TKzMBitmap b(W, H);
  std::fill(b.Data(), b.Data() + b.GetLength(), Color);
  return b;
}

inline void FillBlock(kz::TKzMBitmap& B, int X, int Y, int W, int H, uint32_t Color) {
  for (int y = std::max(Y, 0); y < std::min(Y + H, B.Height()); ++y)
    for (int x = std::max(X, 0); x < std::min(X + W, B.Width()); ++x) B.ScanLine(y)[x] = Color;
}

// A still scene with detail at every scale: gradients, stripes and a fixed
// per-pixel texture, so that anything that moves over it changes pixels.
inline kz::TKzMBitmap DetailedBackground(int W, int H, uint32_t Seed = 1) {
  kz::TKzMBitmap b(W, H);
  uint32_t state = Seed * 2654435761u + 1;
  const auto texture = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 24) % 41);
  };
  for (int y = 0; y < H; ++y) {
    uint32_t* row = b.ScanLine(y);
    for (int x = 0; x < W; ++x) {
      const int stripes = ((x / 16 + y / 24) & 1) ? 60 : 0;
      const int blue = std::min(255, x * 200 / std::max(W, 1) + texture());
      const int green = std::min(255, y * 200 / std::max(H, 1) + stripes / 2 + texture());
      const int red = std::min(255, 40 + stripes + texture() * 2);
      row[x] = Bgra(blue, green, red);
    }
  }
  return b;
}

// Adds noise to every colour byte: values drawn from Table (filled once from
// Dist) by a cheap generator seeded from Rng, so that frames of a million
// pixels are quick to make.
template <class Dist>
void AddNoise(kz::TKzMBitmap& B, Dist D, std::mt19937& Rng) {
  std::vector<int> table(4096);
  for (int& v : table) v = static_cast<int>(std::lround(D(Rng)));
  uint64_t state = (static_cast<uint64_t>(Rng()) << 32) | Rng() | 1;
  uint8_t* p = reinterpret_cast<uint8_t*>(B.Data());
  for (int64_t i = 0; i < B.GetSize(); ++i) {
    if ((i & 3) == 3) continue;
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    p[i] = static_cast<uint8_t>(std::clamp(p[i] + table[state & 4095], 0, 255));
  }
}

// Adds to every colour byte a value in [-Amplitude, Amplitude].
inline void AddUniformNoise(kz::TKzMBitmap& B, int Amplitude, std::mt19937& Rng) {
  AddNoise(B, std::uniform_int_distribution<int>(-Amplitude, Amplitude), Rng);
}

// Adds normally distributed noise of the given deviation to every colour byte.
inline void AddGaussianNoise(kz::TKzMBitmap& B, double Sigma, std::mt19937& Rng) {
  AddNoise(B, std::normal_distribution<double>(0.0, Sigma), Rng);
}

// A textured object that stands out against DetailedBackground.
inline void DrawObject(kz::TKzMBitmap& B, int X, int Y, int W, int H) {
  for (int y = std::max(Y, 0); y < std::min(Y + H, B.Height()); ++y)
    for (int x = std::max(X, 0); x < std::min(X + W, B.Width()); ++x)
      B.ScanLine(y)[x] = ((x - X) / 4 + (y - Y) / 4) & 1 ? Bgra(250, 250, 250) : Bgra(230, 20, 240);
}

}  // namespace kztest
