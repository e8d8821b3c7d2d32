// libjpeg through its 6.2 programming interface, bound at run time: the
// library is looked up once, on first use, and released when the process
// ends; its availability never changes in between. Decoding and encoding go
// through this unit's own source, destination and error managers with
// 4096-byte buffers; library errors end the call with failure (never an
// exception), their text kept as the last JPEG error. A memory stream is
// decoded where its bytes lie, without copying.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/fmxMKzDecodeSize.h"

namespace kz {

// Largest picture any decoder of the library accepts, in pixels.
constexpr int64_t KzMaxImagePixels = int64_t(1) << 26;

// True when a libjpeg with the 6.2 interface was loaded. Any thread; the
// first call may block on the loader.
bool KzLibJpegAvailable();
// The file name the library was loaded from ("" when none).
std::string KzLibJpegLoadedName();
// Whether the loaded library decodes and encodes BGRA directly (libjpeg-turbo's
// extended colour spaces); otherwise RGB rows are converted here.
bool KzLibJpegHasExtendedColours();
// Names tried, in order, when binding. Only effective before the first use
// (tests call it to make the library look missing). Any thread.
void KzLibJpegSetLibraryNames(const std::vector<std::string>& Names);

// The last error ("ERROR [code] message") or warning ("OUTPUT [code] message")
// of any libjpeg call in the process. Diagnostic only; any thread.
std::string KzLibJpegLastError();
void KzLibJpegSetLastError(const std::string& Text);

// Decodes one JPEG image from the stream's position at scale 1/1 into
// Bitmap (alpha 255). At most Count bytes are read (Count <= 0: up to the
// end); when they end early an end-of-image marker is supplied so that a
// truncated picture still completes. The stream is left after the bytes
// the decoder consumed. Flag is reserved and must be false. False (bitmap
// undefined) on failure. Caller's thread; never blocks beyond the stream.
bool ReadJpegStream(TStream& Stream, TKzMCustomBitmap& Bitmap, bool Flag = false, int64_t Count = 0);
// The same at the smallest scale (1/1, 1/2, 1/4, 1/8) whose output still
// covers Want in both directions (a full-size Want, or a progressive
// picture, decodes at 1/1). A scaled Bitmap records its source's size
// (SetSourceSize). Denom, when given, receives the scale used. The caller
// falls back to a full decode when this fails at a smaller scale.
bool ReadJpegStreamScaled(TStream& Stream, TKzMCustomBitmap& Bitmap, int64_t Count, TKzDecodeSize Want,
                          int32_t* Denom = nullptr);
// The luminance of the JPEG picture in Size bytes at Data, where they lie,
// at the scale ReadJpegStreamScaled would take: grey pixels (B = G = R,
// alpha 255) for comparing pictures, made at a fraction of a colour
// decode's cost (the colour components are parsed but not decoded further;
// the fast, less exact inverse DCT). Pictures in CMYK or RGB come in colour.
// False (bitmap undefined) on failure. Caller's thread; never blocks.
bool ReadJpegLuma(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, TKzDecodeSize Want,
                  int32_t* Denom = nullptr);
// Encodes Bitmap with default parameters at Quality (1..100), adding Comment
// as a comment marker when it is not empty. Caller's thread.
bool WriteJpegStream(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality,
                     const std::string& Comment = std::string());
// The same without a comment, with Huffman tables made for this picture and
// no JFIF marker: the same pixels in the fewest bytes a baseline file takes
// (small pictures gain most: standard tables alone are over 400 bytes).
bool WriteCompactJpegStream(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality);
// The same into a new file; refused when libjpeg is not available.
bool WriteJpeg(const TKzMCustomBitmap& Bitmap, const std::string& FileName, int32_t Quality,
               const std::string& Comment = std::string());

}  // namespace kz
