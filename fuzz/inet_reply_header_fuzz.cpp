// Reply headers: finding the end, the status, values, challenges and the
// whole parse of a reply into a handle record never crash and stay bounded.
#include <cstdint>
#include <string>

#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzInetReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const size_t end = kz::KzFindHeaderEnd(text);
  if (end != std::string::npos && end > text.size()) __builtin_trap();
  kz::KzReplyStatus(text, "HTTP/1.1");
  kz::KzHeaderValue(text, "Content-Length");
  const kz::TKzChallenge c = kz::KzParseChallenge(text);
  if (c.realm.size() > text.size() || c.nonce.size() > text.size()) __builtin_trap();

  kz::PInet h = kz::InternetOpen(nullptr, 0, nullptr, nullptr, 0);
  h->OriginHost = h->ReceiverHost = "fuzz.invalid";
  h->OriginPort = h->ReceiverPort = 80;
  h->FileName = h->OriginFileName = "/";
  h->VersionProtocol = "HTTP/1.1";
  h->Query = "GET";
  h->Header = end == std::string::npos ? text : text.substr(0, end);
  uint32_t status = 0;
  kz::KzInetParseReply(h, status);
  if (h->IsRedirect && !h->IsLocation) __builtin_trap();
  kz::CreateHeaderHTTP(h);  // a request built from what the reply taught
  kz::InternetCloseHandle(h);
  return 0;
}
