#include "inet/fmxMKzInetError.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "inet/fmxMKzInet.h"

namespace kz {

namespace {
const TKzSourceError kNoError{};

struct TPhrase {
  uint32_t Status;
  const char* Text;
};
constexpr TPhrase kPhrases[] = {
    {200, "OK"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {410, "Gone"},
    {411, "Length Required"},
    {414, "URI Too Long"},
    {429, "Too Many Requests"},
    {454, "Session Not Found"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
};
}  // namespace

const TKzSourceError& KzInetLastError(const TInet* I) { return I ? I->FError : kNoError; }

void KzInetSetError(TInet* I, TKzSourceErrorKind Kind, const std::string& Text) {
  if (!I) return;
  I->FError.Kind = Kind;
  I->FError.StatusCode = 0;
  I->FError.Text = Text;
}

void KzInetClearError(TInet* I) {
  if (I) I->FError = TKzSourceError{};
}

std::string KzInetPeerText(const TInet* I) {
  if (!I) return {};
  if (!I->ProxyHost.empty()) return I->ProxyHost + ":" + std::to_string(I->ProxyPort ? I->ProxyPort : 80);
  const uint16_t port = I->ReceiverPort ? I->ReceiverPort : I->DefaultPort;
  return I->ReceiverHost + ":" + std::to_string(port);
}

std::string KzHTTPReasonPhrase(uint32_t Status) {
  for (const TPhrase& p : kPhrases)
    if (p.Status == Status) return p.Text;
  return {};
}

std::string KzPathForText(const std::string& Path) {
  const size_t end = Path.find_first_of("?#");
  std::string p = end == std::string::npos ? Path : Path.substr(0, end);
  return p.empty() ? "/" : p;
}

TKzSourceError KzHTTPStatusError(uint32_t Status, const std::string& Path) {
  TKzSourceError e;
  e.Kind = TKzSourceErrorKind::kzseHTTPStatus;
  e.StatusCode = Status;
  const std::string phrase = KzHTTPReasonPhrase(Status);
  e.Text = "HTTP " + std::to_string(Status) + (phrase.empty() ? "" : " " + phrase) + " from " + KzPathForText(Path);
  return e;
}

std::string KzConnectErrorText(int ErrorCode) {
  switch (ErrorCode) {
    case ECONNREFUSED:
      return "connection refused";
    case ETIMEDOUT:
      return "timed out";
    case EHOSTUNREACH:
      return "no route to host";
    case ENETUNREACH:
      return "network unreachable";
    default:
      break;
  }
  std::string text = std::strerror(ErrorCode);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace kz
