#include "inet/fmxMKzURLFuncs.h"

#include <cctype>
#include <cstring>

#include "foundation/fmxMKzErrors.h"

namespace kz {

// ---- Small text helpers

std::string KzLowerCase(const std::string& S) {
  std::string r = S;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string KzUpperCase(const std::string& S) {
  std::string r = S;
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string KzTrim(const std::string& S) {
  const char* blanks = " \t\r\n";
  const size_t b = S.find_first_not_of(blanks);
  if (b == std::string::npos) return {};
  return S.substr(b, S.find_last_not_of(blanks) - b + 1);
}

size_t KzPosI(const std::string& S, const std::string& What, size_t From) {
  if (What.empty()) return From <= S.size() ? From : std::string::npos;
  if (S.size() < What.size()) return std::string::npos;
  for (size_t i = From; i + What.size() <= S.size(); ++i) {
    size_t k = 0;
    while (k < What.size() && std::tolower(static_cast<unsigned char>(S[i + k])) ==
                                  std::tolower(static_cast<unsigned char>(What[k])))
      ++k;
    if (k == What.size()) return i;
  }
  return std::string::npos;
}

int64_t KzStrToIntDef(const std::string& S, int64_t Default) {
  const std::string t = KzTrim(S);
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) neg = t[i++] == '-';
  if (i >= t.size() || t.size() - i > 18) return Default;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return Default;
    v = v * 10 + (t[i] - '0');
  }
  return neg ? -v : v;
}

std::string KzUnquote(const std::string& S) {
  if (S.size() >= 2 && (S.front() == '"' || S.front() == '\'') && S.back() == S.front())
    return S.substr(1, S.size() - 2);
  return S;
}

// ---- URLs

namespace {
// Where the credentials and host of URL start (after "://"), and where they
// end (the first "/", "?" or "#" after that).
struct TKzAuthority {
  bool HasScheme = false;
  size_t Begin = 0;
  size_t End = 0;
  size_t At = std::string::npos;  // the last "@" inside, if any
};

TKzAuthority FindAuthority(const std::string& URL) {
  TKzAuthority a;
  const size_t p = URL.find("://");
  a.HasScheme = p != std::string::npos;
  a.Begin = a.HasScheme ? p + 3 : 0;
  a.End = URL.find_first_of("/?#", a.Begin);
  if (a.End == std::string::npos) a.End = URL.size();
  const size_t at = URL.rfind('@', a.End == 0 ? 0 : a.End - 1);
  if (at != std::string::npos && at >= a.Begin && at < a.End) a.At = at;
  return a;
}
}  // namespace

void ParseURL(const std::string& URL, std::string& Protocol, std::string& Host, std::string& Port,
              std::string& UserName, std::string& Password, std::string& Path) {
  Protocol.clear();
  Host.clear();
  Port.clear();
  UserName.clear();
  Password.clear();
  Path.clear();
  const TKzAuthority a = FindAuthority(URL);
  if (a.HasScheme) Protocol = URL.substr(0, a.Begin - 3);
  size_t hostBegin = a.Begin;
  if (a.At != std::string::npos) {
    const std::string user = URL.substr(a.Begin, a.At - a.Begin);
    const size_t colon = user.find(':');
    UserName = URLDecode(user.substr(0, colon));
    if (colon != std::string::npos) Password = URLDecode(user.substr(colon + 1));
    hostBegin = a.At + 1;
  }
  std::string hostPort = URL.substr(hostBegin, a.End - hostBegin);
  while (!hostPort.empty() && (hostPort.back() == '\\' || hostPort.back() == '/')) hostPort.pop_back();
  if (!hostPort.empty() && hostPort.front() == '[') {  // IPv6 literal
    const size_t close = hostPort.find(']');
    Host = hostPort.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < hostPort.size() && hostPort[close + 1] == ':')
      Port = hostPort.substr(close + 2);
  } else {
    const size_t colon = hostPort.find(':');
    Host = hostPort.substr(0, colon);
    if (colon != std::string::npos) Port = hostPort.substr(colon + 1);
  }
  if (a.End < URL.size()) {
    Path = URL.substr(a.End);
    if (Path[0] != '/') Path = "/" + Path;
  }
}

void ParseURL2(const std::string& URL, int DefaultPort, std::string& Host, std::string& Path, int& Port) {
  std::string proto, port, user, password;
  ParseURL(URL, proto, Host, port, user, password, Path);
  const int64_t p = KzStrToIntDef(port, -1);
  Port = (p < 0 || p > 65535) ? DefaultPort : static_cast<int>(p);
}

void ExtractUserFromURL(const std::string& URL, std::string& UserName, std::string& Password) {
  UserName.clear();
  Password.clear();
  const TKzAuthority a = FindAuthority(URL);
  if (!a.HasScheme || a.At == std::string::npos) return;
  const std::string user = URL.substr(a.Begin, a.At - a.Begin);
  const size_t colon = user.find(':');
  UserName = URLDecode(user.substr(0, colon));
  if (colon != std::string::npos) Password = URLDecode(user.substr(colon + 1)).substr(0, 999);
}

std::string DeleteUserFromURL(const std::string& URL) {
  const TKzAuthority a = FindAuthority(URL);
  if (a.At == std::string::npos) return URL;
  return URL.substr(0, a.Begin) + URL.substr(a.At + 1);
}

std::string AddUserToURL(const std::string& URL, const std::string& UserPart) {
  const size_t p = URL.find("://");
  if (p == std::string::npos) return URL;
  return URL.substr(0, p + 3) + UserPart + URL.substr(p + 3);
}

std::string KzMakeUserPart(const std::string& UserName, const std::string& Password) {
  if (UserName.empty()) return {};
  std::string part = KzEncodeURLComponent(UserName);
  if (!Password.empty()) part.append(":").append(KzEncodeURLComponent(Password));
  return part + "@";
}

std::string KzEncodeURLComponent(const std::string& Text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(Text.size());
  for (unsigned char b : Text) {
    const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
    if (plain || b == '-' || b == '.' || b == '_' || b == '~') {
      out += static_cast<char>(b);
    } else {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

static std::string HostWithPort(const std::string& Host, int Port, int DefaultPort) {
  if (Port == 0 || Port == DefaultPort) return Host;
  return Host + ":" + std::to_string(Port);
}

std::string GetHTTPHost(const std::string& Host, int Port) { return HostWithPort(Host, Port, 80); }
std::string GetRTSPHost(const std::string& Host, int Port) { return HostWithPort(Host, Port, 554); }

std::string URLEncode(const std::string& Text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(Text.size() * 3);
  for (unsigned char b : Text) {
    const bool escape = b < 38 ? (b == '%' || b <= 13 || b == ' ' || b == '"')
                               : (b == '\'' || b == '+' || b >= 128);
    if (escape) {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string URLDecode(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '%' && i + 2 < Text.size() && HexDigit(Text[i + 1]) >= 0 && HexDigit(Text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(Text[i + 1]) * 16 + HexDigit(Text[i + 2]));
      i += 2;
    } else {
      out += Text[i];
    }
  }
  return out;
}

// ---- Reply values

namespace {
enum class TKzReplyStyle { URL, XML, URLC, LINE, PAIR };

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Finds the value of Name in one of the three reply styles.
bool FindReplyValue(const std::string& Text, const std::string& Name, TKzReplyStyle Style, std::string& Value) {
  Value.clear();
  if (Name.empty()) return false;
  const std::string open = Style == TKzReplyStyle::XML    ? "<" + Name + ">"
                           : Style == TKzReplyStyle::URLC ? Name + ":"
                                                          : Name + "=";
  size_t p = 0;
  for (;; ++p) {
    p = KzPosI(Text, open, p);
    if (p == std::string::npos) return false;
    if (Style == TKzReplyStyle::XML || p == 0 || !IsWordChar(Text[p - 1])) break;
  }
  const size_t b = p + open.size();
  size_t e;
  switch (Style) {
    case TKzReplyStyle::XML:
      e = KzPosI(Text, "</" + Name + ">", b);
      if (e == std::string::npos) return false;
      break;
    case TKzReplyStyle::URL:
      e = Text.find(';', b);
      if (e == std::string::npos) e = Text.find('\n', b);
      break;
    case TKzReplyStyle::LINE:
      e = Text.find_first_of("\r\n", b);
      break;
    case TKzReplyStyle::PAIR:
      e = Text.find_first_of("&,\r\n", b);
      break;
    default:
      e = Text.find('\n', b);
      if (e == std::string::npos) e = Text.size();
      e = std::min(e, Text.find('\r', b));
      break;
  }
  if (e == std::string::npos) e = Text.size();
  Value = KzUnquote(KzTrim(Text.substr(b, e - b)));
  return true;
}

std::string GetValue(const std::string& Text, const std::string& Name, TKzReplyStyle Style,
                     const std::string& Default = {}) {
  std::string v;
  return FindReplyValue(Text, Name, Style, v) ? v : Default;
}

int64_t GetValueInt(const std::string& Text, const std::string& Name, TKzReplyStyle Style, int64_t Default) {
  std::string v;
  return FindReplyValue(Text, Name, Style, v) ? KzStrToIntDef(v, Default) : Default;
}

bool GetValueBool(const std::string& Text, const std::string& Name, TKzReplyStyle Style) {
  std::string v;
  if (!FindReplyValue(Text, Name, Style, v)) return false;
  const std::string l = KzLowerCase(v);
  if (l == "no") return false;
  if (l == "yes") return true;
  const int64_t bad = INT64_MIN;
  const int64_t n = KzStrToIntDef(v, bad);
  if (n == bad) throw EKzConvertError("'" + v + "' is not a valid integer value");
  return (n & 0xFF) != 0;
}
}  // namespace

bool URL_HasValue(const std::string& Text, const std::string& Name) {
  std::string v;
  return FindReplyValue(Text, Name, TKzReplyStyle::URL, v);
}
std::string URL_GetValue(const std::string& Text, const std::string& Name) {
  return GetValue(Text, Name, TKzReplyStyle::URL);
}
std::string URL_GetValueDef(const std::string& Text, const std::string& Name, const std::string& Default) {
  return GetValue(Text, Name, TKzReplyStyle::URL, Default);
}
int64_t URL_GetValueInt(const std::string& Text, const std::string& Name, int64_t Default) {
  return GetValueInt(Text, Name, TKzReplyStyle::URL, Default);
}
bool URL_GetValueBool(const std::string& Text, const std::string& Name) {
  return GetValueBool(Text, Name, TKzReplyStyle::URL);
}

bool XML_HasValue(const std::string& Text, const std::string& Name) {
  std::string v;
  return FindReplyValue(Text, Name, TKzReplyStyle::XML, v);
}
std::string XML_GetValue(const std::string& Text, const std::string& Name) {
  return GetValue(Text, Name, TKzReplyStyle::XML);
}
std::string XML_GetValueDef(const std::string& Text, const std::string& Name, const std::string& Default) {
  return GetValue(Text, Name, TKzReplyStyle::XML, Default);
}
int64_t XML_GetValueInt(const std::string& Text, const std::string& Name, int64_t Default) {
  return GetValueInt(Text, Name, TKzReplyStyle::XML, Default);
}
bool XML_GetValueBool(const std::string& Text, const std::string& Name) {
  return GetValueBool(Text, Name, TKzReplyStyle::XML);
}

bool LINE_HasValue(const std::string& Text, const std::string& Name) {
  std::string v;
  return FindReplyValue(Text, Name, TKzReplyStyle::LINE, v);
}
std::string LINE_GetValue(const std::string& Text, const std::string& Name) {
  return GetValue(Text, Name, TKzReplyStyle::LINE);
}
std::string LINE_GetValueDef(const std::string& Text, const std::string& Name, const std::string& Default) {
  return GetValue(Text, Name, TKzReplyStyle::LINE, Default);
}
int64_t LINE_GetValueInt(const std::string& Text, const std::string& Name, int64_t Default) {
  return GetValueInt(Text, Name, TKzReplyStyle::LINE, Default);
}

bool PAIR_HasValue(const std::string& Text, const std::string& Name) {
  std::string v;
  return FindReplyValue(Text, Name, TKzReplyStyle::PAIR, v);
}
std::string PAIR_GetValue(const std::string& Text, const std::string& Name) {
  return GetValue(Text, Name, TKzReplyStyle::PAIR);
}
int64_t PAIR_GetValueInt(const std::string& Text, const std::string& Name, int64_t Default) {
  return GetValueInt(Text, Name, TKzReplyStyle::PAIR, Default);
}

bool URLC_HasValue(const std::string& Text, const std::string& Name) {
  std::string v;
  return FindReplyValue(Text, Name, TKzReplyStyle::URLC, v);
}
std::string URLC_GetValue(const std::string& Text, const std::string& Name) {
  return GetValue(Text, Name, TKzReplyStyle::URLC);
}
int64_t URLC_GetValueInt(const std::string& Text, const std::string& Name, int64_t Default) {
  return GetValueInt(Text, Name, TKzReplyStyle::URLC, Default);
}

// ---- Base64

namespace {
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Index(char c) {
  const char* p = c ? std::strchr(kBase64, c) : nullptr;
  return p ? static_cast<int>(p - kBase64) : -1;
}
}  // namespace

std::string EncodeBase64(const std::string& Text) {
  std::string out;
  out.reserve((Text.size() + 2) / 3 * 4);
  for (size_t i = 0; i < Text.size(); i += 3) {
    const size_t n = std::min<size_t>(3, Text.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<uint8_t>(Text[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kBase64[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::string DecodeBase64(const std::string& Text) {
  if (Text.size() % 4 != 0) return {};
  std::string out;
  out.reserve(Text.size() / 4 * 3);
  for (size_t i = 0; i < Text.size(); i += 4) {
    size_t pad = 0;
    if (i + 4 == Text.size() && Text[i + 3] == '=') pad = Text[i + 2] == '=' ? 2 : 1;
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int d = k >= 4 - pad ? 0 : Base64Index(Text[i + k]);
      if (d < 0) return {};
      v = v << 6 | static_cast<uint32_t>(d);
    }
    for (size_t k = 0; k < 3 - pad; ++k) out += static_cast<char>((v >> (16 - 8 * k)) & 0xFF);
  }
  return out;
}

}  // namespace kz
