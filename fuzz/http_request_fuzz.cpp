// The HTTP video server's request reading and routing, and the server side
// of authentication: any bytes parse or are refused without crashing, and
// what parses is consistent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "webserver/fmxMKzHttpAuth.h"
#include "webserver/fmxMKzHttpRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const char* text = reinterpret_cast<const char*>(Data);
  kz::TKzHttpRequest request;
  size_t head = 0;
  const kz::TKzHttpParse r = kz::KzParseHttpRequest(text, Size, request, head);
  if (r == kz::TKzHttpParse::kzhpDone) {
    if (head == 0 || head > Size || head > kz::KzHttpMaxRequestHead) abort();
    if (request.Path.empty() || request.Path[0] != '/' || request.Uri.rfind(request.Path, 0) != 0) abort();
  } else if (head != 0) {
    abort();
  }
  std::string name;
  const kz::TKzHttpRoute route = kz::KzHttpRoute(request.Path.empty() ? std::string(text, Size) : request.Path, name);
  const bool named = route == kz::TKzHttpRoute::kzhrVideo || route == kz::TKzHttpRoute::kzhrSnapshot;
  if (named != !name.empty() || (named && !kz::KzHttpValidSourceName(name))) abort();
  static kz::TKzHttpAuthenticator* digest = [] {
    auto* a = new kz::TKzHttpAuthenticator;
    a->Setup(kz::TKzHttpAuthentication::kzhaDigest, {{"admin", "admin"}}, "KzMedia");
    return a;
  }();
  request.Authorization = std::string(text, Size);
  bool stale = false;
  if (digest->Check(request, stale)) abort();  // no nonce of this run can be guessed
  return 0;
}
