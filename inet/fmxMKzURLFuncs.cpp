#include "inet/fmxMKzURLFuncs.h"

#include <cstdint>

namespace kz {

namespace {
// Where the authority ("user:password@host:port") of URL begins and ends.
// Without "://" the URL has no authority we can trust.
bool FindAuthority(const std::string& URL, size_t& Begin, size_t& End) {
  const size_t scheme = URL.find("://");
  if (scheme == std::string::npos) return false;
  Begin = scheme + 3;
  End = URL.find_first_of("/\\?#", Begin);
  if (End == std::string::npos) End = URL.size();
  return true;
}

// Position of the "@" that ends the credentials inside the authority, or npos.
size_t FindUserEnd(const std::string& URL, size_t Begin, size_t End) {
  const size_t at = URL.rfind('@', End == 0 ? 0 : End - 1);
  return (at != std::string::npos && at >= Begin && at < End) ? at : std::string::npos;
}
}  // namespace

void ParseURL2(const std::string& URL, int DefaultPort, std::string& Host, std::string& Path, int& Port) {
  Host.clear();
  Path.clear();
  Port = DefaultPort;
  size_t begin = 0, end = 0;
  if (!FindAuthority(URL, begin, end)) {
    // No scheme: the text up to the first "/" is the host.
    begin = 0;
    end = URL.find_first_of("/\\");
    if (end == std::string::npos) end = URL.size();
  }
  const size_t at = FindUserEnd(URL, begin, end);
  if (at != std::string::npos) begin = at + 1;
  std::string hostPort = URL.substr(begin, end - begin);
  if (end < URL.size()) Path = URL.substr(end);

  std::string portText;
  if (!hostPort.empty() && hostPort.front() == '[') {  // IPv6 literal
    const size_t close = hostPort.find(']');
    if (close != std::string::npos) {
      Host = hostPort.substr(0, close + 1);
      if (close + 1 < hostPort.size() && hostPort[close + 1] == ':') portText = hostPort.substr(close + 2);
    } else {
      Host = hostPort;
    }
  } else {
    const size_t colon = hostPort.find(':');
    Host = hostPort.substr(0, colon);
    if (colon != std::string::npos) portText = hostPort.substr(colon + 1);
  }
  if (portText.empty() || portText.size() > 9) return;
  int64_t value = 0;
  for (char c : portText) {
    if (c < '0' || c > '9') return;
    value = value * 10 + (c - '0');
  }
  Port = static_cast<int>(value);
}

void ExtractUserFromURL(const std::string& URL, std::string& UserName, std::string& Password) {
  UserName.clear();
  Password.clear();
  size_t begin = 0, end = 0;
  if (!FindAuthority(URL, begin, end)) return;
  const size_t at = FindUserEnd(URL, begin, end);
  if (at == std::string::npos) return;
  const std::string user = URL.substr(begin, at - begin);
  const size_t colon = user.find(':');
  UserName = user.substr(0, colon);
  if (colon != std::string::npos) Password = user.substr(colon + 1, 999);
}

std::string DeleteUserFromURL(const std::string& URL) {
  size_t begin = 0, end = 0;
  if (!FindAuthority(URL, begin, end)) return URL;
  const size_t at = FindUserEnd(URL, begin, end);
  if (at == std::string::npos) return URL;
  return URL.substr(0, begin) + URL.substr(at + 1);
}

}  // namespace kz
