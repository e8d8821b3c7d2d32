// One frame of a capture device turned into a library bitmap: raw YUV
// layouts through the YUV converters, packed RGB by copying (rows
// top-down, as V4L2 delivers them), Motion-JPEG by decoding (frames without
// Huffman tables decode with the standard ones). The frame's bytes are
// checked against its size and row length first: a short frame is refused,
// never read past.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/Fmxmkzyuvtorgb.h"

namespace kz {

enum class TKzCaptureFrameKind : uint8_t { kzcfkYuv = 0, kzcfkRgb = 1, kzcfkJpeg = 2 };

// One pixel format the capture code understands.
struct TKzCaptureFormat {
  uint32_t PixelFormat;  // V4L2 four-character code
  const char* Name;      // as the programs print it
  TKzCaptureFrameKind Kind;
  TKzYuvFormat Yuv;      // kzcfkYuv
  uint8_t BytesPerPixel; // kzcfkRgb: 3 or 4
  uint8_t R, G, B;       // kzcfkRgb: byte offsets of the channels in a pixel
};

// The row of PixelFormat, nullptr when it is not supported. Any thread.
const TKzCaptureFormat* KzCaptureFormat(uint32_t PixelFormat);
// The row named Name (case-insensitive, "YUYV", "MJPG", "RGB3" …). Any thread.
const TKzCaptureFormat* KzCaptureFormatByName(const std::string& Name);

struct TKzCaptureFrame {
  uint32_t PixelFormat = 0;
  int32_t Width = 0, Height = 0;
  uint32_t BytesPerLine = 0;  // of the first plane; 0: rows without padding
  const uint8_t* Data = nullptr;
  size_t BytesUsed = 0;
};

// Reusable buffers of one converting thread.
struct TKzCaptureScratch {
  std::vector<uint8_t> Packed;  // rows without padding, when the device pads them
  TMemoryStream Jpeg;
};

// Converts Frame into Bitmap (resized as needed), mirrored as asked. False,
// with the reason in Error, for an unknown format, a bad size, too few bytes
// or a JPEG that does not decode; Bitmap is then undefined. Any thread.
bool KzConvertCaptureFrame(const TKzCaptureFrame& Frame, bool FlipHorizontally, bool FlipVertically,
                           TKzMBitmap& Bitmap, TKzCaptureScratch& Scratch, std::string& Error);

// Mirrors a bitmap in place. Any thread.
void KzFlipBitmap(TKzMCustomBitmap& Bitmap, bool Horizontally, bool Vertically);

}  // namespace kz
