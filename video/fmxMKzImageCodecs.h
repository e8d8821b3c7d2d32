// The platform's own image codecs, the ones the framework bitmap would use:
// JPEG through TurboJPEG (linked at build time, so it works when libjpeg
// cannot be loaded at run time), PNG through libpng, and BMP through the
// library bitmap's reader and writer. Formats are recognised by content.
// Every function runs on the caller's thread, never blocks and never throws;
// failures return false with a one-line reason in *Error when it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

enum class TKzImageFormat : uint8_t { kzifUnknown = 0, kzifJPEG = 1, kzifPNG = 2, kzifBMP = 3 };

// The format the first bytes announce.
TKzImageFormat KzDetectImageFormat(const uint8_t* Data, size_t Size);
// "JPEG", "PNG", "BMP" or "unknown".
const char* KzImageFormatName(TKzImageFormat Format);

// Decodes a JPEG, PNG or BMP picture into Bitmap (JPEG and PNG pictures of
// more than KzMaxImagePixels pixels are refused).
bool KzCodecDecode(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, std::string* Error = nullptr);
bool KzCodecDecodeJPEG(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, std::string* Error = nullptr);
bool KzCodecDecodePNG(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, std::string* Error = nullptr);

// Encoders. JPEG: 4:2:0 at Quality (1..100). PNG: RGB, or RGBA when any
// pixel is not opaque. BMP: 24-bit.
bool KzCodecEncodeJPEG(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality,
                       std::string* Error = nullptr);
bool KzCodecEncodePNG(const TKzMCustomBitmap& Bitmap, TStream& Stream, std::string* Error = nullptr);
bool KzCodecEncodeBMP(const TKzMCustomBitmap& Bitmap, TStream& Stream, std::string* Error = nullptr);

}  // namespace kz
