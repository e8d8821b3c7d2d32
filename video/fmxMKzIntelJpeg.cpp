#include "video/fmxMKzIntelJpeg.h"

namespace kz {

bool IsIJL() { return false; }

bool LoadBmpFromJpegInMemory(TKzMCustomBitmap&, const uint8_t*, int64_t, TIJLScale) { return false; }
bool LoadBmpFromJpegFile(TKzMCustomBitmap&, const std::string&, TIJLScale, const TRect*) { return false; }
bool SaveBmpToJpegStream(const TKzMCustomBitmap&, TStream&, int32_t) { return false; }
bool SaveBmpToJpegFile(const TKzMCustomBitmap&, const std::string&, int32_t) { return false; }

}  // namespace kz
