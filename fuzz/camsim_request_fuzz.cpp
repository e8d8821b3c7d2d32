// The synthetic camera's request parsing (request line, headers and the
// parameters of an Authorization value): any bytes parse or are refused
// without crashing, and what parses is consistent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "apps/kzcamsim/kzcamsim_lib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  kzcamsim::TKzSimRequest request;
  if (kzcamsim::KzSimParseRequest(text, request)) {
    if (request.Method.empty() || request.Path.empty() || request.Path[0] != '/') abort();
    if (request.Version.rfind("HTTP/", 0) != 0) abort();
    if (request.Path.find('?') != std::string::npos) abort();
  }
  for (const std::string& value : {request.Authorization, text}) {
    const auto params = kzcamsim::KzSimAuthParams(value);
    if (params.size() > 65) abort();  // the scheme and at most 64 parameters
    kzcamsim::KzSimCheckDigest(params, "GET", "admin", "admin", "kzcamsim");
  }
  return 0;
}
