// URL splitting and credentials: any text must split without crashing, and
// a URL stripped of its credentials must carry none any more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "inet/fmxMKzURLFuncs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string url(reinterpret_cast<const char*>(Data), Size);
  std::string host, path, user, password;
  int port = 0;
  kz::ParseURL2(url, 80, host, path, port);
  if (port < 0) abort();
  kz::ExtractUserFromURL(url, user, password);
  const std::string bare = kz::DeleteUserFromURL(url);
  if (bare.size() > url.size()) abort();
  if (bare == url && !user.empty()) abort();  // credentials found but not removed
  std::string user2, password2;
  kz::ExtractUserFromURL(bare, user2, password2);
  if (!user2.empty() || !password2.empty()) {
    // Only a second "@"-carrying authority may remain; stripping again must end it.
    if (kz::DeleteUserFromURL(bare).size() >= bare.size()) abort();
  }
  return 0;
}
