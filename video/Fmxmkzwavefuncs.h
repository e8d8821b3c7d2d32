// HWL pictures: a multi-level orthonormal Haar decomposition of a grey plane
// or of Y, U and V planes, small detail cleared below a threshold, one
// uniform quantiser per level and plane, and a compact layout of 2-bit codes
// and bit-packed values with zero runs.
//
// Planes are row-major arrays whose rows are the full picture width long.
// After a transform of d+1 levels on a W x H plane, detail level L (0 the
// finest) covers rows 0..(H>>L)-1 and columns 0..(W>>L)-1 minus the
// top-left (W>>(L+1)) x (H>>(L+1)) quarter; the final low-pass band is the
// top-left (W>>(d+1)) x (H>>(d+1)).
//
// Stream: a 39-byte header (below), the factor tables (d+2 doubles per
// plane: levels 0..d, then the low-pass band), then per plane its code block
// (four 2-bit codes a byte, the first in the low bits) and its value block
// (b bits a value, least significant bit first). Little-endian throughout.
//
// Every routine runs on the caller's thread on data the caller owns and
// never blocks except on the stream or file it is given. The unit is built
// without floating-point contraction so that the bytes it writes do not
// depend on the compiler or the build type.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformStream.h"

namespace kz {

struct THWLCodedPlane;

constexpr size_t HWL_HeaderSize = 39;
// Largest depth a stream may announce, and the room of a factor table.
constexpr int32_t HWL_MaxDepth = 16;
constexpr int32_t HWL_FactorRoom = 18;
// Largest picture coded (either direction), and the largest coded size: a
// sender's frame travels one column and one row larger.
constexpr int32_t HWL_MaxPicture = 3000;
constexpr int32_t HWL_MaxCoded = HWL_MaxPicture + 1;

struct HWL_Header {
  uint16_t ID[3] = {'H', 'W', 'L'};
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t bpp = 0;                           // 8 grey, 24 colour
  uint8_t depth = 0;                         // d: d+1 levels
  uint32_t bitsr = 0, bitsg = 0, bitsb = 0;  // codes per plane
  uint32_t datar = 0, datag = 0, datab = 0;  // values per plane
  uint8_t quantbitsy = 0, quantbitsu = 0, quantbitsv = 0;

  int32_t Planes() const { return bpp == 8 ? 1 : 3; }
  uint32_t Codes(int32_t Plane) const { return Plane == 0 ? bitsr : Plane == 1 ? bitsg : bitsb; }
  uint32_t Values(int32_t Plane) const { return Plane == 0 ? datar : Plane == 1 ? datag : datab; }
  uint8_t Bits(int32_t Plane) const { return Plane == 0 ? quantbitsy : Plane == 1 ? quantbitsu : quantbitsv; }
};

void KzPutHWLHeader(const HWL_Header& Header, uint8_t Out[HWL_HeaderSize]);
void KzGetHWLHeader(const uint8_t In[HWL_HeaderSize], HWL_Header& Header);
// Whether a header read from outside describes a stream this unit decodes:
// bpp 8 or 24, size 2..HWL_MaxCoded, depth within HWL_MaxDepth and the size,
// 1..16 bits and at most width x height codes and values per used plane,
// no counts for the unused planes of grey.
bool KzHWLHeaderValid(const HWL_Header& Header);
// Bytes of the blocks after the header that Header announces.
int64_t KzHWLBodySize(const HWL_Header& Header);

// ---- Transform. Src and Dst may be the same plane.
void WaveletGS(const double* Src, double* Dst, int32_t Width, int32_t Height, int32_t Stride, int32_t FullHeight,
               int32_t Depth);
void DeWaveletGS(const double* Src, double* Dst, int32_t Width, int32_t Height, int32_t Stride, int32_t FullHeight,
                 int32_t Depth);
// Y = 0.3 R + 0.59 G + 0.11 B, U = (B - Y) 0.493, V = (R - Y) 0.877, then
// the transform of each.
void WaveletRGB(const double* R, const double* G, const double* B, double* Y, double* U, double* V, int32_t Width,
                int32_t Height, int32_t Stride, int32_t FullHeight, int32_t Depth);
// The inverse transforms of Y, U, V, then R, G, B (R, G, B may be Y, U, V).
void DeWaveletRGB(double* R, double* G, double* B, double* Y, double* U, double* V, int32_t Width, int32_t Height,
                  int32_t Stride, int32_t FullHeight, int32_t Depth);

// Decodes quantised planes into opaque 32-bit pixels (Width x Height): a
// grey plane (Count 1) or Y, U, V (Count 3) with their factor tables. The
// coarser bands are dequantised into Planes and transformed back there; the
// finest level's detail is dequantised as it is used and goes straight into
// the pixels. The numbers DeWaveletQuantGS then DeWaveletGS or DeWaveletRGB
// give, clamped and rounded as KzHWLClampByte does. Wide picks the AVX2
// build where the processor has it; both give the same pixels.
void KzHWLDecodeToPixels(const int32_t* const* Quant, const double* const* Factors, double* const* Planes,
                         int32_t Count, int32_t Width, int32_t Height, int32_t Depth, uint32_t* Pixels,
                         bool Wide = true);
// Whether this processor runs the AVX2 builds.
bool KzHWLWideVectors();

// ---- Threshold and quantiser.
// Clears the detail coefficients with |c| <= Eps (and NaN or infinite ones);
// returns how many nonzero ones it cleared. Bits is not used.
int32_t WaveletZeroOutGS(double* Plane, double Eps, int32_t Bits, int32_t Width, int32_t Height, int32_t Depth);
// Per band: factor = (2^Bits - 1) / the largest magnitude (0 for an all-zero
// band), q = round(c factor), halves to even. Nothing for a size of 0 or
// above HWL_MaxCoded.
void WaveletQuantGS(double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, int32_t Bits,
                    double* Factors);
void WaveletQuantRGB(double* P1, double* P2, double* P3, int32_t* Q1, int32_t* Q2, int32_t* Q3, int32_t Width,
                     int32_t Height, int32_t Depth, int32_t BitsY, int32_t BitsU, int32_t BitsV, double* F1, double* F2,
                     double* F3);
// The quantised plane and factors WaveletZeroOutGS then WaveletQuantGS
// give, without changing Plane: two reads of each band.
void KzHWLThresholdQuant(const double* Plane, int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth, double Eps,
                         int32_t Bits, double* Factors);
// The forward transform, threshold and quantiser of a picture of 32-bit
// pixels (rows Width long) in one go: grey takes the blue byte into plane 0;
// colour takes R, G, B as Y, U, V into planes 0, 1, 2. Planes are working
// planes of Width x Height doubles; Quant and Factors receive what
// WaveletGS or WaveletRGB, then KzHWLThresholdQuant with Bits[p] give. Nothing
// for a size outside 2..HWL_MaxCoded or a depth outside 0..HWL_MaxDepth.
// With Coded, each plane's rows are also coded into Coded[p] as they are
// quantised (Bits[p] 1..8). Wide picks the AVX2 build where the processor
// has it; both give the same numbers.
void KzHWLEncodePixels(const uint32_t* Pixels, int32_t Width, int32_t Height, bool Grey, int32_t Depth, double Eps,
                       const int32_t* Bits, double* const* Planes, int32_t* const* Quant, double* const* Factors,
                       THWLCodedPlane* Coded = nullptr, bool Wide = true);
// The largest |c| of P[0..N) that the threshold keeps (finite and above
// Limit; -infinity keeps every finite one), no less than Start. Vector 0 is
// the scalar routine, 1 the SSE2 one and 2 the AVX2 one, where the processor
// has them (else the next narrower); all give the same number.
double KzHWLKeptMax(const double* P, int64_t N, double Limit, double Start, int32_t Vector);
// c = q / factor per band (0 where the factor is 0 or not finite).
void DeWaveletQuantGS(const int32_t* Quant, double* Plane, int32_t Width, int32_t Height, int32_t Depth,
                      const double* Factors);
void DeWaveletQuantRGB(const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, double* P1, double* P2, double* P3,
                       int32_t Width, int32_t Height, int32_t Depth, const double* F1, const double* F2,
                       const double* F3);
// Zero entries of a quantised plane. Depth is not used.
int32_t WaveletCountZerosGS(const int32_t* Quant, int32_t Width, int32_t Height, int32_t Depth);

// ---- Stream and files.
// Writes one picture at the stream's position (the file variant creates the
// file). Q2, Q3, F2, F3 are not read for grey (Bpp 8). False when the size
// is outside 2..HWL_MaxCoded, Bpp is neither 8 nor 24, the bit count of a
// plane written is not 1..8 (those of grey's unused planes go into the
// header as they are), or the stream or file refuses the bytes.
bool WriteHWLToStream(TStream& Stream, const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, int32_t Width,
                      int32_t Height, int32_t Bpp, int32_t Depth, const double* F1, const double* F2, const double* F3,
                      int32_t BitsY, int32_t BitsU, int32_t BitsV);
// The same with the planes coded already (Coded[0], or Coded[0..2] for
// colour), as KzHWLCodePlane or KzHWLEncodePixels leave them.
bool KzHWLWriteCoded(TStream& Stream, int32_t Width, int32_t Height, int32_t Bpp, int32_t Depth,
                     const double* const* Factors, const int32_t* Bits, const THWLCodedPlane* Coded);
bool WriteHWL(const std::string& FileName, const int32_t* Q1, const int32_t* Q2, const int32_t* Q3, int32_t Width,
              int32_t Height, int32_t Bpp, int32_t Depth, const double* F1, const double* F2, const double* F3,
              int32_t BitsY, int32_t BitsU, int32_t BitsV);

// One decoded stream: the header, and per plane the quantised coefficients
// (width x height) and the factor table (depth + 2, non-finite ones 0).
struct THWLPlanes {
  HWL_Header Header;
  std::vector<int32_t> Q[3];
  std::vector<double> F[3];
};
// Reads one picture from the stream's position. False, with the stream
// wherever reading stopped, when fewer than 39 bytes remain, the header is
// not valid, or the stream ends before a block the header announces. A
// complete stream whose codes run out of values decodes what it has.
bool ReadHWLFromStream(TStream& Stream, THWLPlanes& Out);
bool ReadHWL(const std::string& FileName, THWLPlanes& Out);
// The first 39 bytes of a file; false when it has fewer.
bool ReadHeaderHWL(const std::string& FileName, HWL_Header& Header);
// Decodes a file into Buffer: a byte per pixel for grey, for colour a
// 32-bit pixel (blue in bits 0-7, green 8-15, red 16-23, the fourth byte 0).
// With Realloc the buffer takes the size needed; without, a buffer too small
// is refused.
bool HWL2Mem(std::vector<uint8_t>& Buffer, HWL_Header& Header, const std::string& FileName, bool Realloc);

// ---- Helpers shared with the picture class.
// The nearest integer, halves to even, for |Value| < 2^51 in the default
// rounding mode: adding and taking away 1.5 * 2^52 leaves no fraction (and
// without fast-math the compiler may not fold the two away). A library call
// for nearbyint costs more than the rest of the quantiser.
inline double KzHWLRoundEven(double Value) {
  constexpr double bias = 6755399441055744.0;
  return (Value + bias) - bias;
}
// Plane value to a byte: <= 0 (or NaN) gives 0, >= 255 gives 255, else the
// nearest integer (halves to even). Two selects and no branch, so that the
// loops over it vectorise; the integer is read from the low bits of v + 1.5 *
// 2^52 (what KzHWLRoundEven would convert), which saves a conversion.
inline uint32_t KzHWLClampByte(double Value) {
  double v = Value > 0 ? Value : 0.0;
  v = v < 255 ? v : 255.0;
  return static_cast<uint32_t>(std::bit_cast<uint64_t>(v + 6755399441055744.0));
}
// The planes of a decoded stream dequantised and transformed back: the grey
// plane into P1, or R, G, B into P1, P2, P3 (width x height each).
void KzHWLReconstruct(const THWLPlanes& In, std::vector<double>& P1, std::vector<double>& P2, std::vector<double>& P3);

}  // namespace kz
