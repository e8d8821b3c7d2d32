#include "video/Fmxmkzgraphicfuncs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "video/fmxMKzImageWrapper.h"

namespace kz {

// ---- JPEG structure check

namespace {

constexpr uint8_t M_SOF0 = 0xC0, M_SOF1 = 0xC1, M_SOF2 = 0xC2, M_RST0 = 0xD0, M_RST7 = 0xD7, M_SOI = 0xD8,
                  M_EOI = 0xD9, M_SOS = 0xDA, M_DRI = 0xDD, M_APP0 = 0xE0, M_APP15 = 0xEF, M_COM = 0xFE,
                  M_TEM = 0x01;

inline bool IsRestart(uint8_t m) { return m >= M_RST0 && m <= M_RST7; }

// Walks from Data[0]; true and the walked length on reaching EOI.
bool WalkJpeg(const uint8_t* Data, size_t Size, size_t& Length, bool Full) {
  size_t i = 0;
  bool scanBegun = false;
  while (i < Size) {
    if (Data[i] != 0xFF) return false;
    while (i < Size && Data[i] == 0xFF) ++i;  // fill bytes
    if (i >= Size) return false;
    const uint8_t m = Data[i++];
    if (m == M_EOI) {
      Length = i;
      return true;
    }
    if (IsRestart(m) || m == M_SOI || m == M_TEM) continue;
    if (m == 0x00) return false;
    if (m == M_DRI) {
      if (Size - i < 4) return false;
      i += 4;
      continue;
    }
    if ((m == M_SOF0 || m == M_SOF1 || m == M_SOF2) && scanBegun) return false;
    if (Size - i < 2) return false;
    const size_t len = (static_cast<size_t>(Data[i]) << 8) | Data[i + 1];
    if (len < 2 || len > Size - i) return false;
    // Application and comment segments carry opaque data (an EXIF thumbnail
    // is a whole JPEG picture); only the codec's own segments are read through.
    if (Full && !(m >= M_APP0 && m <= M_APP15) && m != M_COM) {
      for (size_t k = i + 2; k + 1 < i + len; ++k)
        if (Data[k] == 0xFF && Data[k + 1] >= M_SOF0 && Data[k + 1] != 0xFF) return false;
    }
    i += len;
    if (m != M_SOS) continue;
    // Entropy-coded data runs up to the next marker other than a stuffed
    // zero or a restart marker.
    scanBegun = true;
    for (;;) {
      const void* ff = memchr(Data + i, 0xFF, Size - i);
      if (ff == nullptr) return false;
      i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - Data);
      if (i + 1 >= Size) return false;
      const uint8_t next = Data[i + 1];
      if (next == 0x00 || IsRestart(next)) {
        i += 2;
      } else if (next == 0xFF) {
        ++i;
      } else {
        break;
      }
    }
  }
  return false;
}

}  // namespace

bool KzCheckJpegIntegrity(const uint8_t* Data, size_t Size, size_t& Length, TKzJpegIntegrity Mode) {
  Length = 0;
  if (Mode == TKzJpegIntegrity::kzjiNone || Data == nullptr) return false;
  size_t walked = 0;
  const bool ok = WalkJpeg(Data, Size, walked, Mode == TKzJpegIntegrity::kzjiFull);
  Length = ok ? walked : 0;
  return ok;
}

bool CheckJpegIntegrity(TStream& Stream, int64_t& Position, int64_t& Length, TKzJpegIntegrity Mode) {
  Position = Stream.Position();
  Length = 0;
  if (Mode == TKzJpegIntegrity::kzjiNone) return false;
  const int64_t size = Stream.Size() - Position;
  if (size <= 0) return false;
  size_t walked = 0;
  bool ok;
  if (auto* m = dynamic_cast<TMemoryStream*>(&Stream)) {
    ok = KzCheckJpegIntegrity(m->Memory() + Position, static_cast<size_t>(size), walked, Mode);
  } else {
    std::vector<uint8_t> buf(static_cast<size_t>(size));
    const int64_t got = Stream.Read(buf.data(), size);
    Stream.SetPosition(Position);
    ok = KzCheckJpegIntegrity(buf.data(), static_cast<size_t>(std::max<int64_t>(got, 0)), walked, Mode);
  }
  Length = static_cast<int64_t>(walked);
  return ok;
}

int32_t CheckJPEG(const uint8_t* Buffer, size_t Size, TKzJpegScanState& State) {
  int32_t count = 0;
  for (size_t i = 0; i < Size; ++i) {
    const uint8_t b = Buffer[i];
    if (State.LastFF) {
      if (b == M_SOI) {
        State.InImage = true;
      } else if (b == M_EOI && State.InImage) {
        State.InImage = false;
        ++count;
      }
    }
    State.LastFF = b == 0xFF;
  }
  return count;
}

// ---- Motion-JPEG files

bool KzWriteMJPEGPart(TStream& FileStream, const uint8_t* Jpeg, size_t Size) {
  const std::string head = "--myboundary\r\nContent-length: " + std::to_string(Size) +
                           "\r\nContent-type: image/jpeg\r\n\r\n";
  const auto n = static_cast<int64_t>(Size);
  return FileStream.Write(head.data(), static_cast<int64_t>(head.size())) == static_cast<int64_t>(head.size()) &&
         (n == 0 || FileStream.Write(Jpeg, n) == n);
}

bool SaveToStreamMJPEG(TStream& FileStream, const TKzMCustomBitmap& Bitmap) {
  TKzImageWrapper coder;
  TMemoryStream jpeg;
  if (!coder.SaveToStream(jpeg, &Bitmap, 95)) return false;
  return KzWriteMJPEGPart(FileStream, jpeg.Memory(), static_cast<size_t>(jpeg.Size()));
}

// ---- Geometric transforms

namespace {

// Bilinear sample at (X, Y) in pixel-centre coordinates; Background outside.
uint32_t Sample(const TKzMCustomBitmap& S, double X, double Y, uint32_t Background) {
  if (X < -0.5 || Y < -0.5 || X > S.Width() - 0.5 || Y > S.Height() - 0.5) return Background;
  X = std::clamp(X, 0.0, static_cast<double>(S.Width() - 1));
  Y = std::clamp(Y, 0.0, static_cast<double>(S.Height() - 1));
  const int32_t x0 = static_cast<int32_t>(X), y0 = static_cast<int32_t>(Y);
  const int32_t x1 = std::min(x0 + 1, S.Width() - 1), y1 = std::min(y0 + 1, S.Height() - 1);
  const double fx = X - x0, fy = Y - y0;
  const uint32_t p[4] = {S.Pixel(x0, y0), S.Pixel(x1, y0), S.Pixel(x0, y1), S.Pixel(x1, y1)};
  const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    double v = 0;
    for (int k = 0; k < 4; ++k) v += w[k] * ((p[k] >> shift) & 0xFF);
    out |= static_cast<uint32_t>(std::lround(v)) << shift;
  }
  return out;
}

template <typename TMapPoint>
void Resample(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, uint32_t Background, TMapPoint MapPoint) {
  for (int32_t y = 0; y < Dest.Height(); ++y) {
    uint32_t* d = Dest.ScanLine(y);
    for (int32_t x = 0; x < Dest.Width(); ++x) {
      double sx, sy;
      MapPoint(x, y, sx, sy);
      d[x] = Sample(Source, sx, sy, Background);
    }
  }
  Dest.Modified = Dest.ModifiedData = true;
}

}  // namespace

void TransformBitmap(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, const TKzAffine& Map,
                     uint32_t Background) {
  const TKzMCustomBitmap src(Source);  // Dest may be Source
  Resample(src, Dest, Background, [&](int32_t x, int32_t y, double& sx, double& sy) {
    sx = Map.A * x + Map.B * y + Map.C;
    sy = Map.D * x + Map.E * y + Map.F;
  });
}

void RotateBitmap(TKzMCustomBitmap& Bitmap, double Degrees, uint32_t Background) {
  const double a = Degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
  const double cx = (Bitmap.Width() - 1) / 2.0, cy = (Bitmap.Height() - 1) / 2.0;
  // Destination -> source is the turn the other way.
  TKzAffine m;
  m.A = c, m.B = s, m.C = cx - c * cx - s * cy;
  m.D = -s, m.E = c, m.F = cy + s * cx - c * cy;
  TransformBitmap(Bitmap, Bitmap, m, Background);
}

void CorrectDistortion(TKzMCustomBitmap& Bitmap, double Strength, uint32_t Background) {
  const TKzMCustomBitmap src(Bitmap);
  const double cx = (Bitmap.Width() - 1) / 2.0, cy = (Bitmap.Height() - 1) / 2.0;
  const double norm = std::max(1.0, std::hypot(cx, cy));
  Resample(src, Bitmap, Background, [&](int32_t x, int32_t y, double& sx, double& sy) {
    const double dx = (x - cx) / norm, dy = (y - cy) / norm;
    const double k = 1 + Strength * (dx * dx + dy * dy);
    sx = cx + dx * k * norm;
    sy = cy + dy * k * norm;
  });
}

void AssignImageToImage(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest) {
  if (Dest.IsEmpty()) {
    Dest.AssignKzMBitmap(Source);
  } else {
    Dest.StretchDraw(Dest.ClientRect(), Source);
  }
}

std::vector<uint8_t> ConvertBitmapTo24Bit(const TKzMCustomBitmap& Bitmap) {
  const int64_t rowBytes = TKzMCustomBitmap::DIBRowBytes(24, Bitmap.Width());
  std::vector<uint8_t> out(static_cast<size_t>(rowBytes * Bitmap.Height()), 0);
  for (int32_t y = 0; y < Bitmap.Height(); ++y) {
    uint8_t* d = out.data() + rowBytes * y;
    const uint32_t* s = Bitmap.ScanLine(y);
    for (int32_t x = 0; x < Bitmap.Width(); ++x, d += 3) {
      d[0] = static_cast<uint8_t>(s[x]);
      d[1] = static_cast<uint8_t>(s[x] >> 8);
      d[2] = static_cast<uint8_t>(s[x] >> 16);
    }
  }
  return out;
}

void ConvertBitmapTo32Bit(const std::vector<uint8_t>& Bits24, int32_t Width, int32_t Height,
                          TKzMCustomBitmap& Bitmap) {
  if (Width <= 0 || Height <= 0 ||
      static_cast<int64_t>(Bits24.size()) < TKzMCustomBitmap::DIBRowBytes(24, Width) * Height)
    return;
  Bitmap.AssignFromDIB(24, Width, Height, Bits24.data(), false, false);
}

}  // namespace kz
