#include "webserver/fmxMKzHttpRequest.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c);
}

// One header line "Name: value" (no line end); false when it is not one.
bool ReadHeaderLine(std::string_view Line, std::string& Name, std::string& Value) {
  const size_t colon = Line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (size_t i = 0; i < colon; ++i)
    if (!IsTokenChar(Line[i])) return false;
  for (char c : Line)
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return false;
  Name = KzLowerCase(std::string(Line.substr(0, colon)));
  Value = KzTrim(std::string(Line.substr(colon + 1)));
  return true;
}

bool ReadRequestLine(std::string_view Line, TKzHttpRequest& R) {
  const size_t a = Line.find(' ');
  if (a == std::string_view::npos || a == 0) return false;
  const size_t b = Line.find(' ', a + 1);
  if (b == std::string_view::npos || b == a + 1 || Line.find(' ', b + 1) != std::string_view::npos) return false;
  R.Method = std::string(Line.substr(0, a));
  for (char c : R.Method)
    if (!IsTokenChar(c)) return false;
  R.Uri = std::string(Line.substr(a + 1, b - a - 1));
  R.Version = std::string(Line.substr(b + 1));
  if (R.Version != "HTTP/1.0" && R.Version != "HTTP/1.1") return false;
  if (R.Uri[0] != '/') return false;  // origin form only: no proxy requests, no "*"
  for (char c : R.Uri)
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  R.Path = R.Uri.substr(0, R.Uri.find('?'));
  return true;
}
}  // namespace

TKzHttpParse KzParseHttpRequest(const char* Data, size_t Size, TKzHttpRequest& Request, size_t& HeadSize) {
  Request = TKzHttpRequest{};
  HeadSize = 0;
  const std::string_view data(Data, std::min(Size, KzHttpMaxRequestHead));
  // Clients may send empty lines before a request (RFC 9112, 2.2).
  size_t start = 0;
  while (start + 1 < data.size() && data[start] == '\r' && data[start + 1] == '\n') start += 2;
  // Lines end with CR LF; a bare LF is refused rather than waited on.
  for (size_t p = data.find('\n', start); p != std::string_view::npos; p = data.find('\n', p + 1))
    if (p == 0 || data[p - 1] != '\r') return TKzHttpParse::kzhpBad;
  const size_t end = data.find("\r\n\r\n", start);
  if (end == std::string_view::npos) {
    if (Size >= KzHttpMaxRequestHead) return TKzHttpParse::kzhpTooLarge;
    // A request line that cannot become one is refused before its head ends.
    const size_t eol = data.find("\r\n", start);
    if (eol != std::string_view::npos && !ReadRequestLine(data.substr(start, eol - start), Request))
      return TKzHttpParse::kzhpBad;
    return TKzHttpParse::kzhpIncomplete;
  }
  const std::string_view head = data.substr(start, end - start);
  size_t eol = head.find("\r\n");
  if (!ReadRequestLine(head.substr(0, eol), Request)) return TKzHttpParse::kzhpBad;
  Request.KeepAlive = Request.Version == "HTTP/1.1";
  bool sawAuthorization = false, sawHost = false;
  while (eol != std::string_view::npos) {
    const size_t from = eol + 2;
    eol = head.find("\r\n", from);
    const std::string_view line = head.substr(from, eol == std::string_view::npos ? head.npos : eol - from);
    if (line.empty() || line[0] == ' ' || line[0] == '\t') return TKzHttpParse::kzhpBad;  // no folded lines
    std::string name, value;
    if (!ReadHeaderLine(line, name, value)) return TKzHttpParse::kzhpBad;
    if (name == "authorization") {
      if (sawAuthorization) return TKzHttpParse::kzhpBad;
      sawAuthorization = true;
      Request.Authorization = value;
    } else if (name == "host") {
      if (sawHost) return TKzHttpParse::kzhpBad;
      sawHost = true;
    } else if (name == "connection") {
      const std::string v = KzLowerCase(value);
      if (v.find("close") != std::string::npos) Request.KeepAlive = false;
      if (v.find("keep-alive") != std::string::npos) Request.KeepAlive = true;
    } else if (name == "content-length" || name == "transfer-encoding") {
      // The server takes no request bodies.
      if (name == "transfer-encoding" || value != "0") return TKzHttpParse::kzhpBad;
    }
  }
  if (Request.Version == "HTTP/1.1" && !sawHost) return TKzHttpParse::kzhpBad;
  HeadSize = end + 4;
  return TKzHttpParse::kzhpDone;
}

bool KzHttpValidSourceName(const std::string& Name) {
  if (Name.empty() || Name.size() > KzHttpMaxSourceName) return false;
  for (char c : Name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return false;
  return true;
}

TKzHttpRoute KzHttpRoute(const std::string& Path, std::string& Name) {
  Name.clear();
  if (Path.empty() || Path[0] != '/') return TKzHttpRoute::kzhrBadPath;
  // Escapes and dot or empty segments are refused outright rather than
  // decoded: no published name needs them, and refusing them leaves no
  // second spelling of any path.
  if (Path.find_first_of("%\\") != std::string::npos || Path.find("//") != std::string::npos)
    return TKzHttpRoute::kzhrBadPath;
  for (size_t p = 0; p != std::string::npos; p = Path.find('/', p + 1)) {
    const std::string_view seg = std::string_view(Path).substr(p + 1, Path.find('/', p + 1) - p - 1);
    if (seg == "." || seg == "..") return TKzHttpRoute::kzhrBadPath;
  }
  if (Path == "/" || Path == "/index.html") return TKzHttpRoute::kzhrPage;
  if (Path == "/status.json") return TKzHttpRoute::kzhrStatus;
  struct TPrefix {
    const char* Head;
    const char* Tail;
    TKzHttpRoute Route;
  };
  static const TPrefix kNamed[] = {{"/video/", ".mjpg", TKzHttpRoute::kzhrVideo},
                                   {"/snapshot/", ".jpg", TKzHttpRoute::kzhrSnapshot}};
  for (const TPrefix& t : kNamed) {
    const size_t h = std::strlen(t.Head), s = std::strlen(t.Tail);
    if (Path.size() <= h + s || Path.compare(0, h, t.Head) != 0 || Path.compare(Path.size() - s, s, t.Tail) != 0)
      continue;
    const std::string name = Path.substr(h, Path.size() - h - s);
    if (!KzHttpValidSourceName(name)) return TKzHttpRoute::kzhrNotFound;
    Name = name;
    return t.Route;
  }
  return TKzHttpRoute::kzhrNotFound;
}

}  // namespace kz
