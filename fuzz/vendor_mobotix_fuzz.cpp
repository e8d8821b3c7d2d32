// Mobotix "brightness=" replies on any text.
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  int32_t v = 1;
  if (!kz::KzMobotixBrightness(text, v) && v != 0) __builtin_trap();
  return 0;
}
