#include "foundation/fmxMKzBitmap.h"

#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzType.h"

namespace kz {

TKzMCustomBitmap::~TKzMCustomBitmap() = default;

void TKzMCustomBitmap::Assign(const TPersistent& Source) {
  if (const auto* b = dynamic_cast<const TKzMCustomBitmap*>(&Source)) return AssignKzMBitmap(*b);
  TPersistent::Assign(Source);
}

void TKzMCustomBitmap::CopyPixels(const TKzMCustomBitmap& Source) {
  SetSize(Source.FWidth, Source.FHeight);
  if (!FData.empty()) memcpy(FData.data(), Source.FData.data(), FData.size() * 4);
  SetSourceSize(Source.FSourceWidth, Source.FSourceHeight);
  Changed();
}

void TKzMCustomBitmap::AssignKzMBitmap(const TKzMCustomBitmap& Source) {
  if (&Source == this) return;
  if (FSmoothImage) {
    SetSize(Source.FWidth, Source.FHeight);
    SmoothUpdate(Source);
    SetSourceSize(Source.FSourceWidth, Source.FSourceHeight);
    Changed();
    return;
  }
  CopyPixels(Source);
}

void TKzMCustomBitmap::SwapPixels(TKzMCustomBitmap& Other) {
  if (&Other == this) return;
  const int64_t length = GetLength(), otherLength = Other.GetLength();
  std::swap(FWidth, Other.FWidth);
  std::swap(FHeight, Other.FHeight);
  std::swap(FBytesPerLine, Other.FBytesPerLine);
  std::swap(FSourceWidth, Other.FSourceWidth);
  std::swap(FSourceHeight, Other.FSourceHeight);
  FData.swap(Other.FData);
  std::swap(UpdateTime, Other.UpdateTime);
  if (length != otherLength) {
    RestartSmoothing();
    Other.RestartSmoothing();
  }
  Changed();
  Other.Changed();
}

void TKzMCustomBitmap::SetSize(int32_t Width, int32_t Height) {
  if (Width < 0) Width = 0;
  if (Height < 0) Height = 0;
  SetSourceSize(0, 0);
  if (Width == FWidth && Height == FHeight) return;
  const int64_t oldLength = GetLength();
  FWidth = Width;
  FHeight = Height;
  FBytesPerLine = Width * 4;
  FData.resize(static_cast<size_t>(Width) * static_cast<size_t>(Height));
  if (GetLength() != oldLength) RestartSmoothing();
  Changed();
}

// ---- Raw frame import

namespace {

// 5- and 6-bit fields widened to 8 bits by repeating their top bits, so that
// full scale maps to 255.
inline uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
inline uint8_t Widen6(uint32_t v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

inline uint32_t MakePixel(uint8_t B, uint8_t G, uint8_t R, uint8_t A) {
  return static_cast<uint32_t>(B) | (static_cast<uint32_t>(G) << 8) | (static_cast<uint32_t>(R) << 16) |
         (static_cast<uint32_t>(A) << 24);
}

void ImportRow(int32_t BitsPerPixel, const uint8_t* s, uint32_t* d, int32_t Width, bool SwapRB) {
  switch (BitsPerPixel) {
    case 32:
      if (!SwapRB) {
        memcpy(d, s, static_cast<size_t>(Width) * 4);
      } else {
        for (int32_t x = 0; x < Width; ++x, s += 4) d[x] = MakePixel(s[2], s[1], s[0], s[3]);
      }
      break;
    case 24:
      for (int32_t x = 0; x < Width; ++x, s += 3)
        d[x] = SwapRB ? MakePixel(s[2], s[1], s[0], 255) : MakePixel(s[0], s[1], s[2], 255);
      break;
    case 16:
    case 15:
      for (int32_t x = 0; x < Width; ++x, s += 2) {
        const uint32_t v = s[0] | (s[1] << 8);
        uint8_t r, g, b;
        if (BitsPerPixel == 16) {
          r = Widen5(v >> 11);
          g = Widen6((v >> 5) & 63);
        } else {
          r = Widen5((v >> 10) & 31);
          g = Widen5((v >> 5) & 31);
        }
        b = Widen5(v & 31);
        d[x] = SwapRB ? MakePixel(r, g, b, 255) : MakePixel(b, g, r, 255);
      }
      break;
    default:
      break;
  }
}

}  // namespace

void TKzMCustomBitmap::AssignFromDIB(int32_t BitsPerPixel, int32_t Width, int32_t Height, const void* Bits,
                                     bool BottomUp, bool SwapRB) {
  SetSize(Width, Height);
  Changed();
  if (Bits == nullptr || IsEmpty()) return;
  if (BitsPerPixel != 32 && BitsPerPixel != 24 && BitsPerPixel != 16 && BitsPerPixel != 15) return;
  const int64_t rowBytes = DIBRowBytes(BitsPerPixel == 15 ? 16 : BitsPerPixel, FWidth);
  const auto* src = static_cast<const uint8_t*>(Bits);
  for (int32_t y = 0; y < FHeight; ++y) {
    const int32_t row = BottomUp ? FHeight - 1 - y : y;
    ImportRow(BitsPerPixel, src + rowBytes * y, ScanLine(row), FWidth, SwapRB);
  }
}

// ---- Fills

void TKzMCustomBitmap::FillData(uint8_t Value) {
  if (!FData.empty()) memset(FData.data(), Value, FData.size() * 4);
  RestartSmoothing();
  Changed();
}

void TKzMCustomBitmap::FillCharEx(int64_t First, int64_t Count, uint8_t Value) {
  const int64_t total = GetSize();
  const int64_t start = std::clamp<int64_t>(First * 4, 0, total);
  const int64_t n = std::clamp<int64_t>(Count, 0, total - start);
  if (n > 0) memset(reinterpret_cast<uint8_t*>(FData.data()) + start, Value, static_cast<size_t>(n));
  RestartSmoothing();
  Changed();
}

// ---- Packed 24-bit pixels

std::vector<uint8_t> TKzMCustomBitmap::GetDIB24() const {
  std::vector<uint8_t> out(static_cast<size_t>(GetLength()) * 3);
  uint8_t* d = out.data();
  for (const uint32_t p : FData) {
    *d++ = static_cast<uint8_t>(p);
    *d++ = static_cast<uint8_t>(p >> 8);
    *d++ = static_cast<uint8_t>(p >> 16);
  }
  return out;
}

void TKzMCustomBitmap::SetDIB24(const uint8_t* Buffer) {
  if (Buffer == nullptr) return;
  for (uint32_t& p : FData) {
    p = MakePixel(Buffer[0], Buffer[1], Buffer[2], 255);
    Buffer += 3;
  }
  Changed();
}

void TKzMCustomBitmap::Grayscale() {
  for (uint32_t& p : FData) {
    const uint32_t avg = ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) / 3;
    p = (p & 0xFF000000u) | avg | (avg << 8) | (avg << 16);
  }
  Changed();
}

// ---- Bookkeeping

void TKzMCustomBitmap::UpdateInfo() {
  LastUpdateTickCount = static_cast<int64_t>(KzMGetTickCount());
  UpdateIndex = UpdateIndex >= 0x7FFFFFFE ? 0 : UpdateIndex + 1;
}

void TKzMBitmap::AssignTo(TPersistent& Dest) const {
  if (auto* b = dynamic_cast<TKzMCustomBitmap*>(&Dest)) {
    b->AssignKzMBitmap(*this);
    return;
  }
  Dest.Assign(*this);
}

}  // namespace kz
