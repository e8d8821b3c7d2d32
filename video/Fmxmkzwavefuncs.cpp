#include "video/Fmxmkzwavefuncs.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

const double kS = 1.0 / std::sqrt(2.0);

// Scratch rows of one transform level; each thread keeps its own.
std::vector<double>& Scratch(size_t Size) {
  thread_local std::vector<double> t;
  if (t.size() < Size) t.resize(Size);
  return t;
}

// One level on the Wc x Hc region of a plane with Stride-long rows: rows
// into the scratch (low halves left, high right), then columns into Dst. An
// odd last column or row becomes 0. Src may be Dst.
void ForwardLevel(const double* Src, double* Dst, int32_t Wc, int32_t Hc, int32_t Stride) {
  const int32_t hw = Wc / 2, hh = Hc / 2;
  double* t = Scratch(static_cast<size_t>(Wc) * Hc).data();
  for (int32_t r = 0; r < Hc; ++r) {
    const double* x = Src + static_cast<int64_t>(r) * Stride;
    double* lo = t + static_cast<int64_t>(r) * Wc;
    double* hi = lo + hw;
    for (int32_t j = 0; j < hw; ++j) {
      const double a = x[2 * j], b = x[2 * j + 1];
      lo[j] = (a + b) * kS;
      hi[j] = (a - b) * kS;
    }
    if (Wc & 1) lo[Wc - 1] = 0;
  }
  for (int32_t i = 0; i < hh; ++i) {
    const double* t0 = t + static_cast<int64_t>(2 * i) * Wc;
    const double* t1 = t0 + Wc;
    double* lo = Dst + static_cast<int64_t>(i) * Stride;
    double* hi = Dst + static_cast<int64_t>(hh + i) * Stride;
    for (int32_t c = 0; c < Wc; ++c) {
      const double a = t0[c], b = t1[c];
      lo[c] = (a + b) * kS;
      hi[c] = (a - b) * kS;
    }
  }
  if (Hc & 1) std::fill_n(Dst + static_cast<int64_t>(Hc - 1) * Stride, Wc, 0.0);
}

// The inverse of one level, in place: columns first, then rows.
void InverseLevel(double* P, int32_t Wc, int32_t Hc, int32_t Stride) {
  const int32_t hw = Wc / 2, hh = Hc / 2;
  double* t = Scratch(static_cast<size_t>(Wc) * Hc).data();
  for (int32_t i = 0; i < hh; ++i) {
    const double* lo = P + static_cast<int64_t>(i) * Stride;
    const double* hi = P + static_cast<int64_t>(hh + i) * Stride;
    double* t0 = t + static_cast<int64_t>(2 * i) * Wc;
    double* t1 = t0 + Wc;
    for (int32_t c = 0; c < Wc; ++c) {
      const double l = lo[c], h = hi[c];
      t0[c] = (l + h) * kS;
      t1[c] = (l - h) * kS;
    }
  }
  if (Hc & 1) std::fill_n(t + static_cast<int64_t>(Hc - 1) * Wc, Wc, 0.0);
  for (int32_t r = 0; r < Hc; ++r) {
    const double* lo = t + static_cast<int64_t>(r) * Wc;
    const double* hi = lo + hw;
    double* x = P + static_cast<int64_t>(r) * Stride;
    for (int32_t j = 0; j < hw; ++j) {
      const double l = lo[j], h = hi[j];
      x[2 * j] = (l + h) * kS;
      x[2 * j + 1] = (l - h) * kS;
    }
    if (Wc & 1) x[Wc - 1] = 0;
  }
}

// The first level straight from a row source into Planes destination planes
// (never the source): rows are made, transformed and combined two at a
// time, so the source is read once and no scratch plane is needed. The same
// arithmetic as ForwardLevel, element for element. Rows(r, Out) writes row r
// of every plane into Out[p] (Wc values each).
template <typename RowSource>
void FirstLevel(RowSource Rows, double* const* Dst, int32_t Planes, int32_t Wc, int32_t Hc, int32_t Stride) {
  const int32_t hw = Wc / 2, hh = Hc / 2;
  double* buf = Scratch(static_cast<size_t>(Planes) * 4 * Wc).data();
  for (int32_t i = 0; i < hh; ++i) {
    double* a[3];  // a source may point these at its own rows instead
    double* b[3];
    for (int32_t p = 0; p < Planes; ++p) {
      a[p] = buf + static_cast<int64_t>(p) * 4 * Wc;
      b[p] = a[p] + Wc;
    }
    Rows(2 * i, a);
    Rows(2 * i + 1, b);
    for (int32_t p = 0; p < Planes; ++p) {
      double* ta = buf + static_cast<int64_t>(p) * 4 * Wc + 2 * Wc;  // the row-transformed pair
      double* tb = ta + Wc;
      for (int32_t j = 0; j < hw; ++j) {
        const double a0 = a[p][2 * j], a1 = a[p][2 * j + 1], b0 = b[p][2 * j], b1 = b[p][2 * j + 1];
        ta[j] = (a0 + a1) * kS;
        ta[hw + j] = (a0 - a1) * kS;
        tb[j] = (b0 + b1) * kS;
        tb[hw + j] = (b0 - b1) * kS;
      }
      if (Wc & 1) ta[Wc - 1] = tb[Wc - 1] = 0;
      double* lo = Dst[p] + static_cast<int64_t>(i) * Stride;
      double* hi = Dst[p] + static_cast<int64_t>(hh + i) * Stride;
      for (int32_t c = 0; c < Wc; ++c) {
        const double x = ta[c], y = tb[c];
        lo[c] = (x + y) * kS;
        hi[c] = (x - y) * kS;
      }
    }
  }
  if (Hc & 1)
    for (int32_t p = 0; p < Planes; ++p) std::fill_n(Dst[p] + static_cast<int64_t>(Hc - 1) * Stride, Wc, 0.0);
}

void ToYUV(const double* R, const double* G, const double* B, double* Y, double* U, double* V, int32_t N) {
  for (int32_t i = 0; i < N; ++i) {
    const double y = 0.3 * R[i] + 0.59 * G[i] + 0.11 * B[i];
    Y[i] = y;
    U[i] = (B[i] - y) * 0.493;
    V[i] = (R[i] - y) * 0.877;
  }
}

void LaterLevels(double* const* Planes, int32_t Count, int32_t Width, int32_t Height, int32_t Stride, int32_t Depth) {
  for (int32_t p = 0; p < Count; ++p)
    for (int32_t l = 1; l <= Depth; ++l) ForwardLevel(Planes[p], Planes[p], Width >> l, Height >> l, Stride);
}

// The rectangles of a band: detail level L (two rectangles), or the final
// low-pass band (Band = Depth + 1, one).
struct TRect2 {
  int32_t Row0, Row1, Col0, Col1;
};
int32_t BandRects(int32_t W, int32_t H, int32_t Depth, int32_t Band, TRect2 Out[2]) {
  if (Band > Depth) {
    Out[0] = {0, H >> (Depth + 1), 0, W >> (Depth + 1)};
    return 1;
  }
  Out[0] = {0, H >> (Band + 1), W >> (Band + 1), W >> Band};
  Out[1] = {H >> (Band + 1), H >> Band, 0, W >> Band};
  return 2;
}

// Fn(Begin, End) for each row span of a band (flat indices, End excluded).
template <typename F>
void ForEachSpan(int32_t W, int32_t H, int32_t Depth, int32_t Band, F Fn) {
  TRect2 rects[2];
  const int32_t n = BandRects(W, H, Depth, Band, rects);
  for (int32_t k = 0; k < n; ++k)
    for (int32_t r = rects[k].Row0; r < rects[k].Row1; ++r) {
      const int64_t row = static_cast<int64_t>(r) * W;
      Fn(row + rects[k].Col0, row + rects[k].Col1);
    }
}

bool Finite(double V) { return std::isfinite(V); }

// ---- Bit packing.
class TBitWriter {
 public:
  explicit TBitWriter(std::vector<uint8_t>& Out) : FOut(Out) {}
  void Put(uint32_t Value, int32_t Bits) {
    FAcc |= static_cast<uint64_t>(Value & ((1u << Bits) - 1)) << FCount;
    FCount += Bits;
    while (FCount >= 8) {
      FOut.push_back(static_cast<uint8_t>(FAcc));
      FAcc >>= 8;
      FCount -= 8;
    }
  }
  void Flush() {
    if (FCount > 0) FOut.push_back(static_cast<uint8_t>(FAcc));
    FAcc = 0;
    FCount = 0;
  }

 private:
  std::vector<uint8_t>& FOut;
  uint64_t FAcc = 0;
  int32_t FCount = 0;
};

class TBitReader {
 public:
  TBitReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  uint32_t Get(int32_t Bits) {
    while (FCount < Bits) {
      const uint64_t byte = FPos < FSize ? FData[FPos] : 0;
      ++FPos;
      FAcc |= byte << FCount;
      FCount += 8;
    }
    const uint32_t v = static_cast<uint32_t>(FAcc & ((uint64_t{1} << Bits) - 1));
    FAcc >>= Bits;
    FCount -= Bits;
    return v;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  uint64_t FAcc = 0;
  int32_t FCount = 0;
};

struct TCodedPlane {
  std::vector<uint8_t> Codes;   // packed
  std::vector<uint8_t> Values;  // packed
  uint32_t CodeCount = 0;
  uint32_t ValueCount = 0;
};

void PutCode(TCodedPlane& P, uint32_t Code) {
  const uint32_t j = P.CodeCount++;
  if ((j & 3) == 0) P.Codes.push_back(0);
  P.Codes.back() |= static_cast<uint8_t>(Code << (2 * (j & 3)));
}

// Codes: 0 one zero; 1 a run (the next slot holds the run's high part, the
// value its low part; r + 1 zeros); 2 +v; 3 -v.
void CodePlane(const int32_t* Q, int64_t N, int32_t Bits, TCodedPlane& Out) {
  Out.Codes.clear();
  Out.Values.clear();
  Out.CodeCount = Out.ValueCount = 0;
  Out.Codes.reserve(static_cast<size_t>(N / 4 + 1));
  TBitWriter values(Out.Values);
  const int64_t maxRun = int64_t{1} << (Bits + 2);
  const int64_t minRun = (Bits + 4) / 2;
  for (int64_t i = 0; i < N; ++i) {
    const int32_t q = Q[i];
    if (q != 0) {
      PutCode(Out, q > 0 ? 2 : 3);
      values.Put(static_cast<uint32_t>(q > 0 ? q : -static_cast<int64_t>(q)) & 0xFF, Bits);
      ++Out.ValueCount;
      continue;
    }
    int64_t k = 1;
    while (i + k < N - 1 && Q[i + k] == 0 && k < maxRun) ++k;
    const int64_t r = k - 1;
    if (r > minRun) {
      PutCode(Out, 1);
      values.Put(static_cast<uint32_t>(r & ((int64_t{1} << Bits) - 1)), Bits);
      ++Out.ValueCount;
      PutCode(Out, static_cast<uint32_t>(r >> Bits));
      i += r;
    } else {
      PutCode(Out, 0);
    }
  }
  values.Flush();
}

// Walks codes and values into the plane; stops where the codes, the values
// or the plane end, or a run would reach the plane's end; what the walk does
// not reach is 0.
void DecodePlane(const uint8_t* Codes, uint32_t CodeCount, const uint8_t* Values, size_t ValueBytes,
                 uint32_t ValueCount, int32_t Bits, int32_t* Q, int64_t N) {
  TBitReader values(Values, ValueBytes);
  auto code = [&](uint32_t j) { return (Codes[j >> 2] >> (2 * (j & 3))) & 3; };
  uint32_t ci = 0, vi = 0;
  int64_t oi = 0;
  const auto finish = [&] { std::fill(Q + oi, Q + N, 0); };
  while (ci < CodeCount && vi < ValueCount && oi < N) {
    switch (code(ci)) {
      case 0:
        Q[oi] = 0;
        break;
      case 2:
        Q[oi] = static_cast<int32_t>(values.Get(Bits));
        ++vi;
        break;
      case 3:
        Q[oi] = -static_cast<int32_t>(values.Get(Bits));
        ++vi;
        break;
      default: {
        if (++ci >= CodeCount) return finish();
        const int64_t r = (static_cast<int64_t>(code(ci)) << Bits) + values.Get(Bits);
        ++vi;
        if (oi + r + 1 >= N) return finish();
        std::fill_n(Q + oi, r + 1, 0);
        oi += r;
      }
    }
    ++ci;
    ++oi;
  }
  finish();
}

void PutDouble(uint8_t* P, double V) {
  uint64_t u;
  std::memcpy(&u, &V, 8);
  KzPutLE<uint64_t>(P, u);
}
double GetDouble(const uint8_t* P) {
  const uint64_t u = KzGetLE<uint64_t>(P);
  double v;
  std::memcpy(&v, &u, 8);
  return v;
}

int64_t CodeBytes(uint32_t Codes) { return (static_cast<int64_t>(Codes) + 3) / 4; }
int64_t ValueBytes(uint32_t Values, int32_t Bits) { return (static_cast<int64_t>(Values) * Bits + 7) / 8; }

}  // namespace

// ---- Header

void KzPutHWLHeader(const HWL_Header& H, uint8_t Out[HWL_HeaderSize]) {
  for (int i = 0; i < 3; ++i) KzPutLE<uint16_t>(Out + 2 * i, H.ID[i]);
  KzPutLE<uint16_t>(Out + 6, H.width);
  KzPutLE<uint16_t>(Out + 8, H.height);
  Out[10] = H.bpp;
  Out[11] = H.depth;
  const uint32_t counts[6] = {H.bitsr, H.bitsg, H.bitsb, H.datar, H.datag, H.datab};
  for (int i = 0; i < 6; ++i) KzPutLE<uint32_t>(Out + 12 + 4 * i, counts[i]);
  Out[36] = H.quantbitsy;
  Out[37] = H.quantbitsu;
  Out[38] = H.quantbitsv;
}

void KzGetHWLHeader(const uint8_t In[HWL_HeaderSize], HWL_Header& H) {
  for (int i = 0; i < 3; ++i) H.ID[i] = KzGetLE<uint16_t>(In + 2 * i);
  H.width = KzGetLE<uint16_t>(In + 6);
  H.height = KzGetLE<uint16_t>(In + 8);
  H.bpp = In[10];
  H.depth = In[11];
  uint32_t* counts[6] = {&H.bitsr, &H.bitsg, &H.bitsb, &H.datar, &H.datag, &H.datab};
  for (int i = 0; i < 6; ++i) *counts[i] = KzGetLE<uint32_t>(In + 12 + 4 * i);
  H.quantbitsy = In[36];
  H.quantbitsu = In[37];
  H.quantbitsv = In[38];
}

bool KzHWLHeaderValid(const HWL_Header& H) {
  if (H.bpp != 8 && H.bpp != 24) return false;
  if (H.width < 2 || H.height < 2 || H.width > HWL_MaxCoded || H.height > HWL_MaxCoded) return false;
  if (H.depth > HWL_MaxDepth || (H.width >> (H.depth + 1)) < 1 || (H.height >> (H.depth + 1)) < 1) return false;
  const uint64_t n = static_cast<uint64_t>(H.width) * H.height;
  for (int32_t p = 0; p < 3; ++p) {
    if (p >= H.Planes()) {
      if (H.Codes(p) != 0 || H.Values(p) != 0) return false;
      continue;
    }
    if (H.Bits(p) < 1 || H.Bits(p) > 16 || H.Codes(p) > n || H.Values(p) > n) return false;
  }
  return true;
}

int64_t KzHWLBodySize(const HWL_Header& H) {
  int64_t size = static_cast<int64_t>(H.Planes()) * (H.depth + 2) * 8;
  for (int32_t p = 0; p < H.Planes(); ++p) size += CodeBytes(H.Codes(p)) + ValueBytes(H.Values(p), H.Bits(p));
  return size;
}

// ---- Transform

void WaveletGS(const double* Src, double* Dst, int32_t Width, int32_t Height, int32_t Stride, int32_t FullHeight,
               int32_t Depth) {
  (void)FullHeight;  // the scratch is sized per level
  if (Width <= 0 || Height <= 0) return;
  if (Src == Dst) {
    ForwardLevel(Src, Dst, Width, Height, Stride);
  } else {
    FirstLevel([&](int32_t r, double** Out) { Out[0] = const_cast<double*>(Src) + static_cast<int64_t>(r) * Stride; },
               &Dst, 1, Width, Height, Stride);
  }
  LaterLevels(&Dst, 1, Width, Height, Stride, Depth);
}

void DeWaveletGS(const double* Src, double* Dst, int32_t Width, int32_t Height, int32_t Stride, int32_t FullHeight,
                 int32_t Depth) {
  (void)FullHeight;
  if (Width <= 0 || Height <= 0) return;
  if (Src != Dst)
    for (int32_t r = 0; r < Height; ++r)
      std::copy_n(Src + static_cast<int64_t>(r) * Stride, Width, Dst + static_cast<int64_t>(r) * Stride);
  for (int32_t l = Depth; l >= 0; --l) InverseLevel(Dst, Width >> l, Height >> l, Stride);
}

void WaveletRGB(const double* R, const double* G, const double* B, double* Y, double* U, double* V, int32_t Width,
                int32_t Height, int32_t Stride, int32_t FullHeight, int32_t Depth) {
  (void)FullHeight;
  if (Width <= 0 || Height <= 0) return;
  double* yuv[3] = {Y, U, V};
  FirstLevel(
      [&](int32_t r, double** Out) {
        const int64_t at = static_cast<int64_t>(r) * Stride;
        ToYUV(R + at, G + at, B + at, Out[0], Out[1], Out[2], Width);
      },
      yuv, 3, Width, Height, Stride);
  LaterLevels(yuv, 3, Width, Height, Stride, Depth);
}

void KzHWLForwardPixels(const uint32_t* Pixels, int32_t Width, int32_t Height, bool Grey, double* P1, double* P2,
                        double* P3, int32_t Depth) {
  if (Width <= 0 || Height <= 0) return;
  double* planes[3] = {P1, P2, P3};
  if (Grey) {
    FirstLevel(
        [&](int32_t r, double** Out) {
          const uint32_t* p = Pixels + static_cast<int64_t>(r) * Width;
          for (int32_t i = 0; i < Width; ++i) Out[0][i] = static_cast<double>(p[i] & 255);
        },
        planes, 1, Width, Height, Width);
    LaterLevels(planes, 1, Width, Height, Width, Depth);
    return;
  }
  thread_local std::vector<double> rgb;
  if (rgb.size() < 3 * static_cast<size_t>(Width)) rgb.resize(3 * static_cast<size_t>(Width));
  double *red = rgb.data(), *green = red + Width, *blue = green + Width;
  FirstLevel(
      [&](int32_t r, double** Out) {
        const uint32_t* p = Pixels + static_cast<int64_t>(r) * Width;
        for (int32_t i = 0; i < Width; ++i) {
          red[i] = static_cast<double>((p[i] >> 16) & 255);
          green[i] = static_cast<double>((p[i] >> 8) & 255);
          blue[i] = static_cast<double>(p[i] & 255);
        }
        ToYUV(red, green, blue, Out[0], Out[1], Out[2], Width);
      },
      planes, 3, Width, Height, Width);
  LaterLevels(planes, 3, Width, Height, Width, Depth);
}

void KzHWLInverseToPixels(double* const* Planes, int32_t Count, int32_t Width, int32_t Height, int32_t Depth,
                          uint32_t* Pixels) {
  if (Width <= 0 || Height <= 0) return;
  for (int32_t p = 0; p < Count; ++p)
    for (int32_t l = Depth; l >= 1; --l) InverseLevel(Planes[p], Width >> l, Height >> l, Width);
  // The finest level two rows at a time: columns of each plane into two
  // scratch rows, rows into two picture rows, then the pixels.
  const int32_t hw = Width / 2, hh = Height / 2;
  double* buf = Scratch(static_cast<size_t>(Count) * 4 * Width).data();
  const auto rowsBack = [&](const double* T, double* X) {
    for (int32_t j = 0; j < hw; ++j) {
      const double l = T[j], h = T[hw + j];
      X[2 * j] = (l + h) * kS;
      X[2 * j + 1] = (l - h) * kS;
    }
    if (Width & 1) X[Width - 1] = 0;
  };
  const auto pack = [&](int32_t Row, int32_t Which) {
    uint32_t* out = Pixels + static_cast<int64_t>(Row) * Width;
    const double* y = buf + 2 * Width + static_cast<int64_t>(Which) * Width;
    if (Count == 1) {
      for (int32_t i = 0; i < Width; ++i) {
        const uint32_t v = KzHWLClampByte(y[i]);
        out[i] = 0xFF000000u | v << 16 | v << 8 | v;
      }
      return;
    }
    const double* u = y + 4 * Width;
    const double* v = u + 4 * Width;
    for (int32_t i = 0; i < Width; ++i) {
      const double red = y[i] + 1.140251 * v[i];
      const double blue = y[i] + 2.028398 * u[i];
      const double green = (y[i] - 0.3 * red - 0.11 * blue) * 1.694915;
      out[i] = 0xFF000000u | static_cast<uint32_t>(KzHWLClampByte(red)) << 16 |
               static_cast<uint32_t>(KzHWLClampByte(green)) << 8 | KzHWLClampByte(blue);
    }
  };
  for (int32_t i = 0; i < hh; ++i) {
    for (int32_t p = 0; p < Count; ++p) {
      const double* lo = Planes[p] + static_cast<int64_t>(i) * Width;
      const double* hi = Planes[p] + static_cast<int64_t>(hh + i) * Width;
      double* t0 = buf + static_cast<int64_t>(p) * 4 * Width;
      double* t1 = t0 + Width;
      for (int32_t c = 0; c < Width; ++c) {
        const double l = lo[c], h = hi[c];
        t0[c] = (l + h) * kS;
        t1[c] = (l - h) * kS;
      }
      rowsBack(t0, t1 + Width);
      rowsBack(t1, t1 + 2 * Width);
    }
    pack(2 * i, 0);
    pack(2 * i + 1, 1);
  }
  if (Height & 1) {
    for (int32_t p = 0; p < Count; ++p) {
      double* t0 = buf + static_cast<int64_t>(p) * 4 * Width;
      std::fill_n(t0, Width, 0.0);
      rowsBack(t0, t0 + 2 * Width);
    }
    pack(Height - 1, 0);
  }
}

void DeWaveletRGB(double* R, double* G, double* B, double* Y, double* U, double* V, int32_t Width, int32_t Height,
                  int32_t Stride, int32_t FullHeight, int32_t Depth) {
  DeWaveletGS(Y, Y, Width, Height, Stride, FullHeight, Depth);
  DeWaveletGS(U, U, Width, Height, Stride, FullHeight, Depth);
  DeWaveletGS(V, V, Width, Height, Stride, FullHeight, Depth);
  for (int32_t r = 0; r < Height; ++r)
    for (int64_t i = static_cast<int64_t>(r) * Stride, e = i + Width; i < e; ++i) {
      const double red = Y[i] + 1.140251 * V[i];
      const double blue = Y[i] + 2.028398 * U[i];
      G[i] = (Y[i] - 0.3 * red - 0.11 * blue) * 1.694915;
      R[i] = red;
      B[i] = blue;
    }
}

// ---- Threshold and quantiser

int32_t WaveletZeroOutGS(double* Plane, double Eps, int32_t Bits, int32_t Width, int32_t Height, int32_t Depth) {
  (void)Bits;
  int32_t cleared = 0;
  for (int32_t band = 0; band <= Depth; ++band)
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) {
        double& c = Plane[i];
        if (!Finite(c)) {
          c = 0;
        } else if (c != 0 && std::fabs(c) <= Eps) {
          c = 0;
          ++cleared;
        }
      }
    });
  return cleared;
}

void WaveletQuantGS(double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, int32_t Bits,
                    double* Factors) {
  if (Width <= 0 || Height <= 0 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return;
  const double top = static_cast<double>((1u << Bits) - 1);
  // The bands cover the plane, so clearing what is not finite band by band
  // clears the whole plane before any factor is taken.
  for (int32_t band = 0; band <= Depth + 1; ++band) {
    double mn = 1e8, mx = -1e8;
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) {
        if (!Finite(Plane[i])) Plane[i] = 0;
        mn = Plane[i] < mn ? Plane[i] : mn;
        mx = Plane[i] > mx ? Plane[i] : mx;
      }
    });
    double factor = 0;
    if (mn != 0 || mx != 0) factor = top / (std::fabs(mx) >= std::fabs(mn) ? std::fabs(mx) : std::fabs(mn));
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) Quant[i] = static_cast<int32_t>(KzHWLRoundEven(Plane[i] * factor));
    });
    Factors[band] = factor;
  }
}

void KzHWLThresholdQuant(double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, double Eps,
                         int32_t Bits, double* Factors) {
  if (Width <= 0 || Height <= 0 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return;
  const double top = static_cast<double>((1u << Bits) - 1);
  for (int32_t band = 0; band <= Depth + 1; ++band) {
    const bool detail = band <= Depth;
    double mn = 1e8, mx = -1e8;
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) {
        double c = Plane[i];
        if (!Finite(c) || (detail && std::fabs(c) <= Eps)) c = 0;
        Plane[i] = c;
        mn = c < mn ? c : mn;
        mx = c > mx ? c : mx;
      }
    });
    double factor = 0;
    if (mn != 0 || mx != 0) factor = top / (std::fabs(mx) >= std::fabs(mn) ? std::fabs(mx) : std::fabs(mn));
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) Quant[i] = static_cast<int32_t>(KzHWLRoundEven(Plane[i] * factor));
    });
    Factors[band] = factor;
  }
}

void WaveletQuantRGB(double* P1, double* P2, double* P3, int32_t* Q1, int32_t* Q2, int32_t* Q3, int32_t Width,
                     int32_t Height, int32_t Depth, int32_t BitsY, int32_t BitsU, int32_t BitsV, double* F1, double* F2,
                     double* F3) {
  WaveletQuantGS(P1, Q1, Width, Height, Depth, BitsY, F1);
  WaveletQuantGS(P2, Q2, Width, Height, Depth, BitsU, F2);
  WaveletQuantGS(P3, Q3, Width, Height, Depth, BitsV, F3);
}

void DeWaveletQuantGS(const int32_t* Quant, double* Plane, int32_t Width, int32_t Height, int32_t Depth,
                      const double* Factors) {
  for (int32_t band = 0; band <= Depth + 1; ++band) {
    const double f = Factors[band];
    const double m = (f == 0 || !Finite(f)) ? 0.0 : 1.0 / f;
    ForEachSpan(Width, Height, Depth, band, [&](int64_t Begin, int64_t End) {
      for (int64_t i = Begin; i < End; ++i) Plane[i] = Quant[i] * m;
    });
  }
}

void DeWaveletQuantRGB(const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, double* P1, double* P2, double* P3,
                       int32_t Width, int32_t Height, int32_t Depth, const double* F1, const double* F2,
                       const double* F3) {
  DeWaveletQuantGS(Q1, P1, Width, Height, Depth, F1);
  DeWaveletQuantGS(Q2, P2, Width, Height, Depth, F2);
  DeWaveletQuantGS(Q3, P3, Width, Height, Depth, F3);
}

int32_t WaveletCountZerosGS(const int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth) {
  (void)Depth;
  return static_cast<int32_t>(std::count(Quant, Quant + static_cast<int64_t>(Width) * Height, 0));
}

// ---- Stream

bool WriteHWLToStream(TStream& Stream, const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, int32_t Width,
                      int32_t Height, int32_t Bpp, int32_t Depth, const double* F1, const double* F2, const double* F3,
                      int32_t BitsY, int32_t BitsU, int32_t BitsV) {
  if (Width < 2 || Height < 2 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return false;
  if ((Bpp != 8 && Bpp != 24) || Depth < 0 || Depth > HWL_MaxDepth) return false;
  const int32_t planes = Bpp == 8 ? 1 : 3;
  for (int32_t b : {BitsY, BitsU, BitsV})
    if ((b < 1 || b > 8) && (planes == 3 || b == BitsY)) return false;
  const int32_t* q[3] = {Q1, Q2, Q3};
  const double* f[3] = {F1, F2, F3};
  const int32_t bits[3] = {BitsY, BitsU, BitsV};
  const int64_t n = static_cast<int64_t>(Width) * Height;
  thread_local TCodedPlane coded[3];
  HWL_Header h;
  h.width = static_cast<uint16_t>(Width);
  h.height = static_cast<uint16_t>(Height);
  h.bpp = static_cast<uint8_t>(Bpp);
  h.depth = static_cast<uint8_t>(Depth);
  h.quantbitsy = static_cast<uint8_t>(BitsY);
  h.quantbitsu = static_cast<uint8_t>(BitsU);
  h.quantbitsv = static_cast<uint8_t>(BitsV);
  uint32_t* codeCounts[3] = {&h.bitsr, &h.bitsg, &h.bitsb};
  uint32_t* valueCounts[3] = {&h.datar, &h.datag, &h.datab};
  for (int32_t p = 0; p < planes; ++p) {
    CodePlane(q[p], n, bits[p], coded[p]);
    *codeCounts[p] = coded[p].CodeCount;
    *valueCounts[p] = coded[p].ValueCount;
  }
  std::vector<uint8_t> out(HWL_HeaderSize + static_cast<size_t>(planes) * (Depth + 2) * 8);
  KzPutHWLHeader(h, out.data());
  size_t at = HWL_HeaderSize;
  for (int32_t p = 0; p < planes; ++p)
    for (int32_t l = 0; l < Depth + 2; ++l, at += 8) PutDouble(out.data() + at, f[p][l]);
  if (Stream.Write(out.data(), static_cast<int64_t>(out.size())) != static_cast<int64_t>(out.size())) return false;
  for (int32_t p = 0; p < planes; ++p)
    for (const std::vector<uint8_t>* block : {&coded[p].Codes, &coded[p].Values})
      if (!block->empty() &&
          Stream.Write(block->data(), static_cast<int64_t>(block->size())) != static_cast<int64_t>(block->size()))
        return false;
  return true;
}

bool WriteHWL(const std::string& FileName, const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, int32_t Width,
              int32_t Height, int32_t Bpp, int32_t Depth, const double* F1, const double* F2, const double* F3,
              int32_t BitsY, int32_t BitsU, int32_t BitsV) {
  TFileStream file(FileName, TFileMode::fmCreate);
  return file.Valid() && WriteHWLToStream(file, Q1, Q2, Q3, Width, Height, Bpp, Depth, F1, F2, F3, BitsY, BitsU, BitsV);
}

bool ReadHWLFromStream(TStream& Stream, THWLPlanes& Out) {
  uint8_t head[HWL_HeaderSize];
  if (Stream.Size() - Stream.Position() < static_cast<int64_t>(HWL_HeaderSize)) return false;
  if (Stream.Read(head, HWL_HeaderSize) != static_cast<int64_t>(HWL_HeaderSize)) return false;
  HWL_Header& h = Out.Header;
  KzGetHWLHeader(head, h);
  if (!KzHWLHeaderValid(h)) return false;
  const int64_t body = KzHWLBodySize(h);
  if (Stream.Size() - Stream.Position() < body) return false;
  thread_local std::vector<uint8_t> bytes;
  if (bytes.size() < static_cast<size_t>(body)) bytes.resize(static_cast<size_t>(body));
  if (Stream.Read(bytes.data(), body) != body) return false;
  const int64_t n = static_cast<int64_t>(h.width) * h.height;
  const uint8_t* at = bytes.data();
  for (int32_t p = 0; p < 3; ++p) {
    Out.F[p].assign(p < h.Planes() ? h.depth + 2 : 0, 0.0);
    for (double& f : Out.F[p]) {
      const double v = GetDouble(at);
      f = Finite(v) ? v : 0.0;
      at += 8;
    }
  }
  for (int32_t p = 0; p < 3; ++p) {
    Out.Q[p].resize(p < h.Planes() ? static_cast<size_t>(n) : 0);  // every entry is written
    if (p >= h.Planes()) continue;
    const uint8_t* codes = at;
    at += CodeBytes(h.Codes(p));
    const int64_t valueBytes = ValueBytes(h.Values(p), h.Bits(p));
    DecodePlane(codes, h.Codes(p), at, static_cast<size_t>(valueBytes), h.Values(p), h.Bits(p), Out.Q[p].data(), n);
    at += valueBytes;
  }
  return true;
}

bool ReadHWL(const std::string& FileName, THWLPlanes& Out) {
  TFileStream file(FileName, TFileMode::fmOpenRead);
  return file.Valid() && ReadHWLFromStream(file, Out);
}

bool ReadHeaderHWL(const std::string& FileName, HWL_Header& Header) {
  TFileStream file(FileName, TFileMode::fmOpenRead);
  uint8_t head[HWL_HeaderSize];
  if (!file.Valid() || file.Read(head, HWL_HeaderSize) != static_cast<int64_t>(HWL_HeaderSize)) return false;
  KzGetHWLHeader(head, Header);
  return true;
}

void KzHWLReconstruct(const THWLPlanes& In, std::vector<double>& P1, std::vector<double>& P2, std::vector<double>& P3) {
  std::vector<double>* Out[3] = {&P1, &P2, &P3};
  const HWL_Header& h = In.Header;
  const int32_t w = h.width, ht = h.height, d = h.depth;
  const size_t n = static_cast<size_t>(w) * ht;
  if (h.bpp == 8) {
    P1.resize(n);
    DeWaveletQuantGS(In.Q[0].data(), P1.data(), w, ht, d, In.F[0].data());
    DeWaveletGS(P1.data(), P1.data(), w, ht, w, ht, d);
    return;
  }
  // Y, U, V are dequantised into the R, G, B planes and turned into R, G, B
  // in place (each pixel is read before it is written).
  for (int32_t p = 0; p < 3; ++p) {
    Out[p]->resize(n);
    DeWaveletQuantGS(In.Q[p].data(), Out[p]->data(), w, ht, d, In.F[p].data());
  }
  DeWaveletRGB(P1.data(), P2.data(), P3.data(), P1.data(), P2.data(), P3.data(), w, ht, w, ht, d);
}

bool HWL2Mem(std::vector<uint8_t>& Buffer, HWL_Header& Header, const std::string& FileName, bool Realloc) {
  THWLPlanes planes;
  if (!ReadHWL(FileName, planes)) return false;
  Header = planes.Header;
  const size_t n = static_cast<size_t>(Header.width) * Header.height;
  const size_t need = Header.bpp == 8 ? n : n * 4;
  if (Realloc) Buffer.resize(need);
  if (Buffer.size() < need) return false;
  std::vector<double> px[3];
  KzHWLReconstruct(planes, px[0], px[1], px[2]);
  if (Header.bpp == 8) {
    for (size_t i = 0; i < n; ++i) Buffer[i] = KzHWLClampByte(px[0][i]);
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    Buffer[4 * i] = KzHWLClampByte(px[2][i]);
    Buffer[4 * i + 1] = KzHWLClampByte(px[1][i]);
    Buffer[4 * i + 2] = KzHWLClampByte(px[0][i]);
    Buffer[4 * i + 3] = 0;
  }
  return true;
}

}  // namespace kz
