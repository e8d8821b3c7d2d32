// Registry-form GUID text: parse never crashes; a parsed value prints back
// to text that parses to the same value.
#include <cstdint>
#include <string>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  try {
    const kz::TGUID g = kz::StringToGUIDA(text);
    if (kz::StringToGUIDA(kz::GUIDToStringA(g)) != g) __builtin_trap();
  } catch (const kz::EKzConvertError&) {
  }
  return 0;
}
