// Reply values, URL splitting, percent-encoding and Base64 on any text:
// no crash, and the encodings round-trip.
#include <cstdint>
#include <string>

#include "foundation/fmxMKzErrors.h"
#include "inet/fmxMKzURLFuncs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const size_t nameLen = std::min<size_t>(Data[0] % 8, Size - 1);
  const std::string name(reinterpret_cast<const char*>(Data + 1), nameLen);
  const std::string text(reinterpret_cast<const char*>(Data + 1 + nameLen), Size - 1 - nameLen);
  kz::URL_GetValueDef(text, name, "d");
  kz::XML_GetValueInt(text, name, 0);
  kz::URLC_GetValueInt(text, name, 0);
  try {
    kz::URL_GetValueBool(text, name);
    kz::XML_GetValueBool(text, name);
  } catch (const kz::EKzConvertError&) {
  }
  std::string p, h, port, u, pw, path;
  kz::ParseURL(text, p, h, port, u, pw, path);
  kz::ExtractUserFromURL(text, u, pw);
  kz::DeleteUserFromURL(text);
  if (kz::URLDecode(kz::URLEncode(text)) != text) __builtin_trap();
  if (kz::DecodeBase64(kz::EncodeBase64(text)) != text) __builtin_trap();
  kz::DecodeBase64(text);
  return 0;
}
