// Credential redaction: no text makes it crash; what it returns has no
// "@" left in any URL's host part and does not change when redacted again;
// a password written (percent-encoded) into a URL inside the text, as its
// user information or as a camera command's parameter, is gone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/fmxMKzRedact.h"
#include "inet/fmxMKzURLFuncs.h"

namespace {
bool EndsAuthority(char c) {
  return c == '/' || c == '?' || c == '#' || c == '\\' || c == '"' || c == '\'' || c == '<' || c == '>' || c == ' ' ||
         (c >= '\t' && c <= '\r');
}

// Some URL's host part still holds an "@".
bool HasUserInfo(const std::string& Text) {
  for (size_t p = Text.find("://"); p != std::string::npos; p = Text.find("://", p + 1))
    for (size_t k = p + 3; k < Text.size() && !EndsAuthority(Text[k]); ++k)
      if (Text[k] == '@') return true;
  return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const std::string once = kz::KzRedactCredentials(text);
  if (HasUserInfo(once)) abort();
  if (kz::KzRedactCredentials(once) != once) abort();

  // The input split in three: text before, a password, text after; the
  // password goes into a URL between them the way the library writes it.
  const size_t a = Size / 3, b = 2 * Size / 3;
  const std::string before = text.substr(0, a), password = text.substr(a, b - a), after = text.substr(b);
  const std::string encoded = kz::KzEncodeURLComponent(password);
  if (encoded.size() < 6) return 0;  // a short one may occur in the text around it by chance
  const std::string rest = "cam.invalid:8080/video.mjpg ";
  const std::string out = kz::KzRedactCredentials(before + " http://admin:" + encoded + "@" + rest + after);
  // It may only be found where the text around it holds it anyway.
  if (out.find(encoded) != std::string::npos && (before + "\n" + rest + "\n" + after).find(encoded) == std::string::npos)
    abort();
  const std::string command = "command http://cam.invalid/set_ftp.cgi?svr=x&cam_pwd=";
  const std::string out2 = kz::KzRedactCredentials(before + " " + command + encoded + "&cam_user=u: 500 " + after);
  if (out2.find(encoded) != std::string::npos &&
      (before + "\n" + command + "\n" + after).find(encoded) == std::string::npos)
    abort();
  return 0;
}
