// Helpers of the internet tests: the shared peers and scripted server, and
// one GET through the handle interface.
#pragma once
#include "inet/fmxMKzInet.h"
#include "tests/kztestpeers.h"

namespace kztest {

// Closes a handle and every level above it (request, connection, session).
inline void CloseAll(kz::PInet& H) {
  for (int k = 0; H && k < 4; ++k) kz::InternetCloseHandle(H);
}

// One GET through the handle interface: status and body; false on failure.
struct TFetch {
  bool Ok = false;
  uint32_t Status = 0;
  std::string Body;
};
inline TFetch Fetch(kz::PInet H, const std::string& Path, uint32_t ReadSize = 65536, const char* Verb = "GET") {
  TFetch f;
  uint32_t index = 0;
  if (!kz::HttpOpenRequest(H, Verb, Path.c_str(), nullptr, nullptr, nullptr, 0, 0) ||
      !kz::HttpSendRequest(H, nullptr, 0, nullptr, 0) ||
      !kz::HttpQueryInfo(H, kz::HTTP_QUERY_STATUS_CODE | kz::HTTP_QUERY_FLAG_NUMBER, f.Status, index))
    return f;
  std::vector<char> buf(ReadSize);
  uint32_t n = 0;
  bool ok;
  while ((ok = kz::InternetReadFile(H, buf.data(), ReadSize, n)) && n > 0) f.Body.append(buf.data(), n);
  f.Ok = ok;
  kz::InternetCloseHandle(H);  // the request level
  return f;
}

}  // namespace kztest
