// BMP files of the library bitmap: 24- and 32-bit writing, and reading of
// the uncompressed forms other programs write (1, 4 and 8 bits with a
// palette, 16 and 32 bits with or without bit-field masks, 24 bits).
#include "foundation/fmxMKzBitmapBMP.h"

#include <cstring>
#include <vector>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

namespace {

void Put16(uint8_t*& p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p += 2;
}
void Put32(uint8_t*& p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  p += 4;
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel of a bit-field pixel: where it sits and how wide it is.
struct TChannelMask {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;
  explicit TChannelMask(uint32_t M = 0) : Mask(M) {
    if (M == 0) return;
    while (((M >> Shift) & 1) == 0) ++Shift;
    while (Bits + Shift < 32 && ((M >> (Shift + Bits)) & 1) != 0) ++Bits;
  }
  // The channel scaled to 8 bits (top bits repeated for narrow fields).
  uint8_t Extract(uint32_t Pixel) const {
    if (Bits == 0) return 0;
    uint32_t v = (Pixel & Mask) >> Shift;
    if (Bits >= 8) return static_cast<uint8_t>(v >> (Bits - 8));
    uint32_t out = 0;
    for (int filled = 0; filled < 8; filled += Bits) out = (out << Bits) | v;
    const int total = ((8 + Bits - 1) / Bits) * Bits;
    return static_cast<uint8_t>(out >> (total - 8));
  }
};

constexpr int64_t MaxPixels = int64_t(1) << 28;

}  // namespace

TBMPHeader KzMakeBMPHeader(int32_t Width, int32_t Height, uint16_t BitCount) {
  TBMPHeader h;
  const uint32_t image = static_cast<uint32_t>(TKzMCustomBitmap::DIBRowBytes(BitCount, Width) * Height);
  h.FileHeader.bfOffBits = KzBMPFileHeaderSize + KzBMPInfoHeaderSize;
  h.FileHeader.bfSize = h.FileHeader.bfOffBits + image;
  h.InfoHeader.biWidth = Width;
  h.InfoHeader.biHeight = Height;
  h.InfoHeader.biBitCount = BitCount;
  h.InfoHeader.biSizeImage = image;
  h.InfoHeader.biXPelsPerMeter = KzBMPPixelsPerMetre;
  h.InfoHeader.biYPelsPerMeter = KzBMPPixelsPerMetre;
  return h;
}

void KzWriteBMPHeader(TStream& Stream, const TBMPHeader& Header) {
  uint8_t buf[KzBMPFileHeaderSize + KzBMPInfoHeaderSize];
  uint8_t* p = buf;
  const TBitmapFileHeader& f = Header.FileHeader;
  const TBitmapInfoHeader& i = Header.InfoHeader;
  Put16(p, f.bfType);
  Put32(p, f.bfSize);
  Put16(p, f.bfReserved1);
  Put16(p, f.bfReserved2);
  Put32(p, f.bfOffBits);
  Put32(p, i.biSize);
  Put32(p, static_cast<uint32_t>(i.biWidth));
  Put32(p, static_cast<uint32_t>(i.biHeight));
  Put16(p, i.biPlanes);
  Put16(p, i.biBitCount);
  Put32(p, i.biCompression);
  Put32(p, i.biSizeImage);
  Put32(p, static_cast<uint32_t>(i.biXPelsPerMeter));
  Put32(p, static_cast<uint32_t>(i.biYPelsPerMeter));
  Put32(p, i.biClrUsed);
  Put32(p, i.biClrImportant);
  Stream.Write(buf, sizeof(buf));
}

bool KzReadBMPFileHeader(TStream& Stream, TBitmapFileHeader& Header) {
  uint8_t b[KzBMPFileHeaderSize];
  if (Stream.Read(b, sizeof(b)) != sizeof(b)) return false;
  Header.bfType = Get16(b);
  Header.bfSize = Get32(b + 2);
  Header.bfReserved1 = Get16(b + 6);
  Header.bfReserved2 = Get16(b + 8);
  Header.bfOffBits = Get32(b + 10);
  return Header.bfType == 0x4D42;
}

bool KzReadBMPInfoHeader(TStream& Stream, TBitmapInfoHeader& Header) {
  uint8_t b[KzBMPInfoHeaderSize];
  if (Stream.Read(b, sizeof(b)) != sizeof(b)) return false;
  Header.biSize = Get32(b);
  Header.biWidth = static_cast<int32_t>(Get32(b + 4));
  Header.biHeight = static_cast<int32_t>(Get32(b + 8));
  Header.biPlanes = Get16(b + 12);
  Header.biBitCount = Get16(b + 14);
  Header.biCompression = Get32(b + 16);
  Header.biSizeImage = Get32(b + 20);
  Header.biXPelsPerMeter = static_cast<int32_t>(Get32(b + 24));
  Header.biYPelsPerMeter = static_cast<int32_t>(Get32(b + 28));
  Header.biClrUsed = Get32(b + 32);
  Header.biClrImportant = Get32(b + 36);
  return true;
}

namespace {

void SaveBMP(const TKzMCustomBitmap& Bitmap, TStream& Stream, uint16_t BitCount) {
  const int32_t w = Bitmap.Width(), h = Bitmap.Height();
  KzWriteBMPHeader(Stream, KzMakeBMPHeader(w, h, BitCount));
  std::vector<uint8_t> row(static_cast<size_t>(TKzMCustomBitmap::DIBRowBytes(BitCount, w)), 0);
  for (int32_t y = h - 1; y >= 0; --y) {
    const uint32_t* s = Bitmap.ScanLine(y);
    if (BitCount == 32) {
      memcpy(row.data(), s, static_cast<size_t>(w) * 4);
    } else {
      uint8_t* d = row.data();
      for (int32_t x = 0; x < w; ++x, d += 3) {
        d[0] = static_cast<uint8_t>(s[x]);
        d[1] = static_cast<uint8_t>(s[x] >> 8);
        d[2] = static_cast<uint8_t>(s[x] >> 16);
      }
    }
    Stream.Write(row.data(), static_cast<int64_t>(row.size()));
  }
}

}  // namespace

void TKzMCustomBitmap::SaveToStream(TStream& Stream) const { SaveBMP(*this, Stream, 24); }
void TKzMCustomBitmap::SaveToStream32bit(TStream& Stream) const { SaveBMP(*this, Stream, 32); }

bool TKzMCustomBitmap::LoadFromStream(TStream& Stream) {
  const int64_t start = Stream.Position();
  const int64_t available = Stream.Size() - start;
  TBitmapFileHeader fh;
  TBitmapInfoHeader ih;
  if (!KzReadBMPFileHeader(Stream, fh) || !KzReadBMPInfoHeader(Stream, ih)) return false;
  if (ih.biSize < KzBMPInfoHeaderSize || ih.biSize > 1024 || ih.biPlanes != 1) return false;
  const int32_t bpp = ih.biBitCount;
  const bool masked = ih.biCompression == KzBI_BITFIELDS || ih.biCompression == KzBI_ALPHABITFIELDS;
  if (ih.biCompression != KzBI_RGB && !(masked && (bpp == 16 || bpp == 32))) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  if (ih.biWidth <= 0 || ih.biHeight == 0 || ih.biHeight == INT32_MIN) return false;
  const int32_t w = ih.biWidth;
  const int32_t h = ih.biHeight < 0 ? -ih.biHeight : ih.biHeight;
  if (static_cast<int64_t>(w) * h > MaxPixels) return false;

  // Masks: inside a larger info header, or just after the 40-byte one.
  TChannelMask red, green, blue, alpha;
  uint32_t extraAfterHeader = 0;
  if (masked) {
    uint8_t m[16] = {};
    const int64_t want = ih.biSize >= 56 || ih.biCompression == KzBI_ALPHABITFIELDS ? 16 : 12;
    if (Stream.Read(m, want) != want) return false;
    red = TChannelMask(Get32(m));
    green = TChannelMask(Get32(m + 4));
    blue = TChannelMask(Get32(m + 8));
    if (want == 16) alpha = TChannelMask(Get32(m + 12));
    if (ih.biSize == KzBMPInfoHeaderSize) extraAfterHeader = static_cast<uint32_t>(want);
  } else if (bpp == 16) {
    red = TChannelMask(0x7C00);
    green = TChannelMask(0x03E0);
    blue = TChannelMask(0x001F);
  } else if (bpp == 32) {
    red = TChannelMask(0x00FF0000);
    green = TChannelMask(0x0000FF00);
    blue = TChannelMask(0x000000FF);
    alpha = TChannelMask(0xFF000000);
  }

  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const uint32_t entries = ih.biClrUsed == 0 ? (1u << bpp) : ih.biClrUsed;
    if (entries > 256) return false;
    const int64_t at = start + KzBMPFileHeaderSize + ih.biSize + extraAfterHeader;
    std::vector<uint8_t> raw(entries * 4);
    if (Stream.Seek(at, TSeekOrigin::soBeginning) != at ||
        Stream.Read(raw.data(), static_cast<int64_t>(raw.size())) != static_cast<int64_t>(raw.size()))
      return false;
    palette.resize(256, KzOpaqueBlack);
    for (uint32_t i = 0; i < entries; ++i) palette[i] = Get32(&raw[i * 4]) | 0xFF000000u;
  }

  const int64_t rowBytes = DIBRowBytes(bpp, w);
  const int64_t pixelBytes = rowBytes * h;
  if (fh.bfOffBits > available || pixelBytes > available - fh.bfOffBits) return false;
  std::vector<uint8_t> pixels(static_cast<size_t>(pixelBytes));
  if (Stream.Seek(start + fh.bfOffBits, TSeekOrigin::soBeginning) != start + fh.bfOffBits ||
      Stream.Read(pixels.data(), pixelBytes) != pixelBytes)
    return false;

  SetSize(w, h);
  bool anyAlpha = false;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = pixels.data() + rowBytes * y;
    uint32_t* d = ScanLine(ih.biHeight > 0 ? h - 1 - y : y);
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p;
      switch (bpp) {
        case 1: p = palette[(s[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: p = palette[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]; break;
        case 8: p = palette[s[x]]; break;
        case 24: p = 0xFF000000u | s[x * 3] | (s[x * 3 + 1] << 8) | (s[x * 3 + 2] << 16); break;
        default: {
          const uint32_t v = bpp == 16 ? Get16(s + x * 2) : Get32(s + x * 4);
          const uint8_t a = alpha.Bits ? alpha.Extract(v) : 255;
          anyAlpha |= a != 0;
          p = blue.Extract(v) | (green.Extract(v) << 8) | (red.Extract(v) << 16) |
              (static_cast<uint32_t>(a) << 24);
        }
      }
      d[x] = p;
    }
  }
  // Many writers leave the fourth byte of 32-bit pixels at zero: such a
  // picture is opaque, not invisible.
  if (bpp >= 16 && !anyAlpha)
    for (uint32_t& p : FData) p |= 0xFF000000u;
  Stream.Seek(start + fh.bfOffBits + pixelBytes, TSeekOrigin::soBeginning);
  Changed();
  return true;
}

bool TKzMCustomBitmap::SaveToFile(const std::string& FileName, TKzMTypeBitmap Type) const {
  TFileStream f(FileName, TFileMode::fmCreate);
  if (!f.Valid()) return false;
  if (Type == TKzMTypeBitmap::kzmtb32) {
    SaveToStream32bit(f);
  } else {
    SaveToStream(f);
  }
  return true;
}

bool TKzMCustomBitmap::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, TFileMode::fmOpenRead);
  return f.Valid() && LoadFromStream(f);
}

}  // namespace kz
