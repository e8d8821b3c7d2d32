// Canvas text: arbitrary bytes as UTF-8, measured and drawn into a small
// guarded surface with a clip, an offset, a size and a style taken from the
// input. Nothing outside the surface is written; the measured extent never
// shrinks when the text is drawn again (the glyph cache serves the same).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformCanvas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 12) return 0;
  int8_t p[12];
  memcpy(p, Data, sizeof(p));
  const std::string text(reinterpret_cast<const char*>(Data + 12), Size - 12);

  constexpr int W = 48, H = 24, Border = 2, Stride = W + 2 * Border;
  constexpr uint32_t Guard = 0xA5A5A5A5u;
  std::vector<uint32_t> buffer(static_cast<size_t>(Stride) * (H + 2 * Border), Guard);
  const kz::TKzPixelSurface surface{buffer.data() + Border * Stride + Border, W, H, Stride};
  for (int y = 0; y < H; ++y) std::fill_n(surface.Row(y), W, 0xFF000000u);

  kz::TKzFont font;
  font.Size = static_cast<float>(static_cast<uint8_t>(p[0]) % 64) + 0.5f * (p[1] & 1);
  font.Style = static_cast<uint8_t>(p[2]) & 15;
  font.Color = 0x01000000u * static_cast<uint8_t>(p[3]) | 0x00FFFFFFu;
  static const char* const families[] = {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono", "unknown"};
  font.Family = families[static_cast<uint8_t>(p[4]) % 4];

  const kz::TKzTextExtent e1 = kz::TCanvas::MeasureText(text, font);
  kz::TCanvas canvas(surface);
  canvas.Translate(p[5], p[6]);
  canvas.IntersectClip(kz::TRect(p[7], p[8], p[7] + (p[9] & 63), p[8] + (p[10] & 63)));
  canvas.TextOut(p[5] / 2, p[6] / 2, text, font);
  canvas.DrawText(kz::TRect(-p[7], -p[8], p[9], p[10]), text, font, static_cast<kz::TKzTextAlign>((p[11] & 3) % 3),
                  static_cast<kz::TKzTextAlign>(((p[11] >> 2) & 3) % 3));
  const kz::TKzTextExtent e2 = kz::TCanvas::MeasureText(text, font);
  if (e1.Width != e2.Width || e1.Height != e2.Height || e1.Width < 0) __builtin_trap();

  for (int y = 0; y < H + 2 * Border; ++y)
    for (int x = 0; x < Stride; ++x) {
      const bool inside = y >= Border && y < H + Border && x >= Border && x < W + Border;
      if (!inside && buffer[static_cast<size_t>(y) * Stride + x] != Guard) __builtin_trap();
    }
  return 0;
}
