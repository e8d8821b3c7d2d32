// The Intel JPEG Library back end. That library is a closed vendor library
// that does not exist for this platform, so the back end is always reported
// unavailable and its operations fail without touching their arguments'
// pixels. Any thread, never blocks.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"
#include "platform/fmxMKzPlatformTypes.h"

namespace kz {

enum class TIJLScale : uint8_t { ijlFullSize = 0, ijlHalf = 1, ijlQuarter = 2, ijlEighth = 3 };

// True when the Intel JPEG Library was loaded (never on this platform).
bool IsIJL();

bool LoadBmpFromJpegInMemory(TKzMCustomBitmap& Bitmap, const uint8_t* Buffer, int64_t Size,
                             TIJLScale Scale = TIJLScale::ijlFullSize);
bool LoadBmpFromJpegFile(TKzMCustomBitmap& Bitmap, const std::string& FileName,
                         TIJLScale Scale = TIJLScale::ijlFullSize, const TRect* Rect = nullptr);
bool SaveBmpToJpegStream(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality);
bool SaveBmpToJpegFile(const TKzMCustomBitmap& Bitmap, const std::string& FileName, int32_t Quality);

}  // namespace kz
