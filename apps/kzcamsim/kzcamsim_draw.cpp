// The simulator's pictures: a fixed background, a moving disc, the frame
// counter and the clock in a built-in 5x7 font, and the number stamp.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "apps/kzcamsim/kzcamsim_lib.h"

using namespace kz;

namespace kzcamsim {

namespace {
// 5x7 glyphs, one row per byte, the high bit of five on the left.
struct TGlyph {
  char Ch;
  uint8_t Rows[7];
};
const TGlyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1E, 0x01, 0x01, 0x0E, 0x01, 0x01, 0x1E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const TGlyph* Glyph(char Ch) {
  for (const TGlyph& g : kFont)
    if (g.Ch == Ch) return &g;
  return nullptr;
}

// The stamp: three rows of 16 cells at the bottom, 48 bits in all: a sync
// byte, the number (24 bits), a check byte and the inverted sync byte.
constexpr int kStampCols = 16;
constexpr int kStampRows = 3;
constexpr uint8_t kSync = 0xA5;

uint8_t CheckByte(uint32_t N) { return static_cast<uint8_t>((N ^ (N >> 8) ^ (N >> 16) ^ 0x5A) & 0xFF); }

uint64_t StampBits(uint32_t N) {
  N &= 0xFFFFFF;
  return (uint64_t(kSync) << 40) | (uint64_t(N) << 16) | (uint64_t(CheckByte(N)) << 8) | uint64_t(uint8_t(~kSync));
}

void StampGeometry(int32_t W, int32_t H, int32_t& CellW, int32_t& CellH, int32_t& Top) {
  CellW = W / kStampCols;
  CellH = std::max(8, H / 24);
  Top = H - kStampRows * CellH;
}

uint32_t Gray(uint8_t V) { return 0xFF000000u | (uint32_t(V) << 16) | (uint32_t(V) << 8) | V; }
}  // namespace

void KzSimDrawText(TKzMCustomBitmap& Bitmap, int32_t X, int32_t Y, int32_t Scale, const std::string& Text) {
  const int32_t s = std::max(1, Scale);
  const int32_t advance = 6 * s;
  Bitmap.FillRect(TRect(X - s, Y - s, X + advance * static_cast<int32_t>(Text.size()) + s, Y + 8 * s), KzOpaqueBlack);
  for (size_t i = 0; i < Text.size(); ++i) {
    const TGlyph* g = Glyph(Text[i]);
    if (!g) continue;
    const int32_t left = X + advance * static_cast<int32_t>(i);
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 5; ++c)
        if (g->Rows[r] & (0x10 >> c))
          Bitmap.FillRect(TRect(left + c * s, Y + r * s, left + (c + 1) * s, Y + (r + 1) * s), KzOpaqueWhite);
  }
}

uint32_t KzSimDiscNumber(const TKzSimOptions& Options, uint32_t Number) {
  if (Options.MotionFrames.empty()) return Number;
  uint32_t still = 0;  // the last moving frame before Number
  for (const auto& [first, last] : Options.MotionFrames) {
    if (Number >= first && Number < last) return Number;
    if (last > first && last <= Number) still = std::max(still, last - 1);
  }
  return still;
}

void KzSimDrawFrame(TKzMCustomBitmap& Bitmap, int32_t Width, int32_t Height, uint32_t Number, int64_t WallMs,
                    int64_t DiscNumber, int32_t DiscRadius) {
  // Background: a colour ramp with a grid, the same in every frame (made
  // once per size and thread).
  thread_local TKzMBitmap background;
  if (background.Width() != Width || background.Height() != Height) {
    background.SetSize(Width, Height);
    for (int32_t y = 0; y < Height; ++y) {
      uint32_t* row = background.ScanLine(y);
      const uint32_t g = uint32_t(40 + 120 * y / std::max(1, Height));
      for (int32_t x = 0; x < Width; ++x) {
        const uint32_t r = uint32_t(30 + 150 * x / std::max(1, Width));
        const bool grid = (x % 40 == 0) || (y % 40 == 0);
        row[x] = grid ? Gray(90) : (0xFF000000u | (r << 16) | (g << 8) | 0x60);
      }
    }
  }
  Bitmap.SetSize(Width, Height);
  if (Bitmap.IsEmpty()) return;
  std::memcpy(Bitmap.Data(), background.Data(), static_cast<size_t>(background.GetSize()));
  // A disc on a Lissajous path: a new place in every frame.
  const double t = double(DiscNumber < 0 ? Number : DiscNumber) / 25.0;
  const int32_t radius = DiscRadius > 0 ? DiscRadius : std::max(4, std::min(Width, Height) / 10);
  const double cx = Width / 2.0 + (Width / 2.0 - radius - 2) * std::sin(t * 1.3);
  const double cy = Height / 2.0 + (Height / 2.0 - radius - 2) * std::sin(t * 0.7 + 1.0) * 0.6;
  for (int32_t y = std::max(0, int32_t(cy) - radius); y <= std::min(Height - 1, int32_t(cy) + radius); ++y) {
    uint32_t* row = Bitmap.ScanLine(y);
    for (int32_t x = std::max(0, int32_t(cx) - radius); x <= std::min(Width - 1, int32_t(cx) + radius); ++x) {
      const double dx = x - cx, dy = y - cy;
      if (dx * dx + dy * dy <= double(radius) * radius) row[x] = 0xFFF0C020u;
    }
  }
  // Counter and clock.
  const int32_t scale = std::max(1, Height / 120);
  char counter[32];
  std::snprintf(counter, sizeof counter, "#%07u", Number);
  const std::time_t secs = static_cast<std::time_t>(WallMs / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, int(WallMs % 1000));
  KzSimDrawText(Bitmap, 2 * scale, 2 * scale, scale, counter);
  KzSimDrawText(Bitmap, 2 * scale, 12 * scale, scale, clock);
  // Stamp.
  int32_t cellW, cellH, top;
  StampGeometry(Width, Height, cellW, cellH, top);
  if (cellW < 2 || top < 0) return;
  const uint64_t bits = StampBits(Number);
  for (int k = 0; k < kStampCols * kStampRows; ++k) {
    const bool one = (bits >> (47 - k)) & 1;
    const int32_t x = (k % kStampCols) * cellW, y = top + (k / kStampCols) * cellH;
    Bitmap.FillRect(TRect(x, y, x + cellW, y + cellH), one ? KzOpaqueWhite : KzOpaqueBlack);
  }
}

int64_t KzSimReadStamp(const TKzMCustomBitmap& Bitmap) {
  const int32_t w = Bitmap.Width(), h = Bitmap.Height();
  int32_t cellW, cellH, top;
  StampGeometry(w, h, cellW, cellH, top);
  if (cellW < 2 || top < 0) return -1;
  uint64_t bits = 0;
  for (int k = 0; k < kStampCols * kStampRows; ++k) {
    const int32_t cx = (k % kStampCols) * cellW + cellW / 2, cy = top + (k / kStampCols) * cellH + cellH / 2;
    // The brightness around the cell's centre, away from its blurred edges.
    uint32_t sum = 0, n = 0;
    for (int32_t y = cy - 1; y <= cy + 1; ++y)
      for (int32_t x = cx - 1; x <= cx + 1; ++x) {
        const uint32_t p = Bitmap.Pixel(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
        sum += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
        n += 3;
      }
    bits = (bits << 1) | (sum / n >= 128 ? 1u : 0u);
  }
  const uint32_t number = uint32_t(bits >> 16) & 0xFFFFFF;
  if (bits != StampBits(number)) return -1;
  return number;
}

}  // namespace kzcamsim
