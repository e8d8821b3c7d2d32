// The header, the stream and file routines of HWL pictures.
#include "video/Fmxmkzwavefuncs.h"

#include <cmath>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"
#include "video/Fmxmkzwavecodes.h"

namespace kz {

namespace {

bool Finite(double V) { return std::isfinite(V); }

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

// ---- Stream

namespace {

// What a writer takes: a size of 2..HWL_MaxCoded, Bpp 8 or 24, a depth of
// 0..HWL_MaxDepth, 1..8 bits for each plane written.
bool WritableHWL(int32_t Width, int32_t Height, int32_t Bpp, int32_t Depth, const int32_t* Bits) {
  if (Width < 2 || Height < 2 || Width > HWL_MaxCoded || Height > HWL_MaxCoded) return false;
  if ((Bpp != 8 && Bpp != 24) || Depth < 0 || Depth > HWL_MaxDepth) return false;
  for (int32_t p = 0; p < (Bpp == 8 ? 1 : 3); ++p)
    if (Bits[p] < 1 || Bits[p] > 8) return false;
  return true;
}

}  // namespace

bool KzHWLWriteCoded(TStream& Stream, int32_t Width, int32_t Height, int32_t Bpp, int32_t Depth,
                     const double* const* Factors, const int32_t* Bits, const THWLCodedPlane* Coded) {
  if (!WritableHWL(Width, Height, Bpp, Depth, Bits)) return false;
  const int32_t planes = Bpp == 8 ? 1 : 3;
  HWL_Header h;
  h.width = static_cast<uint16_t>(Width);
  h.height = static_cast<uint16_t>(Height);
  h.bpp = static_cast<uint8_t>(Bpp);
  h.depth = static_cast<uint8_t>(Depth);
  h.quantbitsy = static_cast<uint8_t>(Bits[0]);
  h.quantbitsu = static_cast<uint8_t>(Bits[1]);
  h.quantbitsv = static_cast<uint8_t>(Bits[2]);
  uint32_t* codeCounts[3] = {&h.bitsr, &h.bitsg, &h.bitsb};
  uint32_t* valueCounts[3] = {&h.datar, &h.datag, &h.datab};
  for (int32_t p = 0; p < planes; ++p) {
    *codeCounts[p] = Coded[p].CodeCount;
    *valueCounts[p] = Coded[p].ValueCount;
  }
  std::vector<uint8_t> out(HWL_HeaderSize + static_cast<size_t>(planes) * (Depth + 2) * 8);
  KzPutHWLHeader(h, out.data());
  size_t at = HWL_HeaderSize;
  for (int32_t p = 0; p < planes; ++p)
    for (int32_t l = 0; l < Depth + 2; ++l, at += 8) PutDouble(out.data() + at, Factors[p][l]);
  if (Stream.Write(out.data(), static_cast<int64_t>(out.size())) != static_cast<int64_t>(out.size())) return false;
  for (int32_t p = 0; p < planes; ++p)
    for (const auto& [block, size] :
         {std::pair{&Coded[p].Codes, Coded[p].CodeBytes}, {&Coded[p].Values, Coded[p].ValueBytes}})
      if (size > 0 && Stream.Write(block->data(), static_cast<int64_t>(size)) != static_cast<int64_t>(size))
        return false;
  return true;
}

bool WriteHWLToStream(TStream& Stream, const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, int32_t Width,
                      int32_t Height, int32_t Bpp, int32_t Depth, const double* F1, const double* F2, const double* F3,
                      int32_t BitsY, int32_t BitsU, int32_t BitsV) {
  const int32_t bits[3] = {BitsY, BitsU, BitsV};
  if (!WritableHWL(Width, Height, Bpp, Depth, bits)) return false;
  const int32_t* q[3] = {Q1, Q2, Q3};
  const double* f[3] = {F1, F2, F3};
  thread_local THWLCodedPlane coded[3];
  for (int32_t p = 0; p < (Bpp == 8 ? 1 : 3); ++p)
    KzHWLCodePlane(q[p], static_cast<int64_t>(Width) * Height, bits[p], coded[p]);
  return KzHWLWriteCoded(Stream, Width, Height, Bpp, Depth, f, bits, coded);
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
    KzHWLDecodePlane(codes, h.Codes(p), at, static_cast<size_t>(valueBytes), h.Values(p), h.Bits(p), Out.Q[p].data(),
                     n);
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
    for (size_t i = 0; i < n; ++i) Buffer[i] = static_cast<uint8_t>(KzHWLClampByte(px[0][i]));
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    Buffer[4 * i] = static_cast<uint8_t>(KzHWLClampByte(px[2][i]));
    Buffer[4 * i + 1] = static_cast<uint8_t>(KzHWLClampByte(px[1][i]));
    Buffer[4 * i + 2] = static_cast<uint8_t>(KzHWLClampByte(px[0][i]));
    Buffer[4 * i + 3] = 0;
  }
  return true;
}


}  // namespace kz
