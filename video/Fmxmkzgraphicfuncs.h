// Graphic functions of the video pipeline: rotation and brightness/contrast
// (from the bitmap filters), the JPEG structure check run before decoding,
// the frame counter for JPEG byte streams, the Motion-JPEG file writer and
// the geometric transforms used by the view.
//
// All run on the caller's thread on data the caller owns; none blocks except
// on the stream it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzBitmapFilters.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

enum class TKzJpegIntegrity : uint8_t { kzjiNone = 0, kzjiFast = 1, kzjiFull = 2 };

// Walks the JPEG marker segments from the stream's position. Valid when the
// walk reaches an end-of-image marker; invalid when a segment would reach
// past the end of the data, when a frame header follows a scan, or (Full)
// when a marker turns up inside a table or frame segment. Position returns
// where the walk began, Length the bytes walked (through the end marker).
// The stream is left where it was. kzjiNone always answers false.
bool CheckJpegIntegrity(TStream& Stream, int64_t& Position, int64_t& Length, TKzJpegIntegrity Mode);
// The same walk over a buffer.
bool KzCheckJpegIntegrity(const uint8_t* Data, size_t Size, size_t& Length, TKzJpegIntegrity Mode);

// State of CheckJPEG between calls.
struct TKzJpegScanState {
  bool InImage = false;  // an FF D8 was seen and its FF D9 not yet
  bool LastFF = false;   // the previous buffer ended with FF
};
// Counts the complete FF D8 ... FF D9 pictures in Buffer, carrying State
// across calls so that markers split between buffers are found.
int32_t CheckJPEG(const uint8_t* Buffer, size_t Size, TKzJpegScanState& State);

// Motion-JPEG files: each part is "--myboundary\r\nContent-length: N\r\n"
// "Content-type: image/jpeg\r\n\r\n" and the N bytes of a JPEG picture.
// SaveToStreamMJPEG encodes Bitmap at quality 95 and appends one part.
bool SaveToStreamMJPEG(TStream& FileStream, const TKzMCustomBitmap& Bitmap);
// Appends one part holding already encoded JPEG bytes.
bool KzWriteMJPEGPart(TStream& FileStream, const uint8_t* Jpeg, size_t Size);

// ---- Geometric transforms and format changes used by the view.
// A 2 x 3 affine map from destination to source coordinates (pixel centres):
// sx = A x + B y + C, sy = D x + E y + F.
struct TKzAffine {
  double A = 1, B = 0, C = 0, D = 0, E = 1, F = 0;
};
// Dest keeps its size; each of its pixels samples Source bilinearly at the
// mapped point, or is Background outside Source.
void TransformBitmap(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, const TKzAffine& Map,
                     uint32_t Background = KzOpaqueBlack);
// Turns the picture clockwise by Degrees about its centre, keeping its size.
void RotateBitmap(TKzMCustomBitmap& Bitmap, double Degrees, uint32_t Background = KzOpaqueBlack);
// Radial lens correction about the centre: a destination point at normalised
// radius r samples the source at r (1 + Strength r^2). Negative Strength
// removes barrel distortion, positive pincushion.
void CorrectDistortion(TKzMCustomBitmap& Bitmap, double Strength, uint32_t Background = KzOpaqueBlack);
// Dest takes Source stretched to Dest's size, or a copy when Dest is empty.
void AssignImageToImage(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest);
// The picture as a 24-bit device-independent bitmap: rows top-down, B G R,
// padded to 4 bytes.
std::vector<uint8_t> ConvertBitmapTo24Bit(const TKzMCustomBitmap& Bitmap);
// Back from such rows into 32-bit pixels (alpha 255).
void ConvertBitmapTo32Bit(const std::vector<uint8_t>& Bits24, int32_t Width, int32_t Height, TKzMCustomBitmap& Bitmap);

}  // namespace kz
