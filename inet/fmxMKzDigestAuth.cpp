#include "inet/fmxMKzDigestAuth.h"

#include "inet/fmxMKzMD5.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
std::string Hash(const std::string& S) { return MD5Print(MD5String(S)); }
}  // namespace

std::vector<TKzAuthParam> KzAuthParamList(const std::string& Line, size_t MaxParams) {
  std::vector<TKzAuthParam> params;
  size_t i = 0;
  const size_t n = Line.size();
  while (i < n && params.size() < MaxParams) {
    while (i < n && (Line[i] == ' ' || Line[i] == ',' || Line[i] == '\t')) ++i;
    const size_t nb = i;
    while (i < n && Line[i] != '=' && Line[i] != ',' && Line[i] != ' ') ++i;
    TKzAuthParam p;
    p.Name = KzLowerCase(Line.substr(nb, i - nb));
    while (i < n && Line[i] == ' ') ++i;
    if (i >= n || Line[i] != '=') {
      while (i < n && Line[i] != ',') ++i;
      continue;
    }
    ++i;
    while (i < n && Line[i] == ' ') ++i;
    const size_t rb = i;
    if (i < n && Line[i] == '"') {
      for (++i; i < n && Line[i] != '"'; ++i) {
        if (Line[i] == '\\' && i + 1 < n) ++i;
        p.Value += Line[i];
      }
      if (i < n) ++i;
      p.Raw = Line.substr(rb, i - rb);
    } else {
      while (i < n && Line[i] != ',') ++i;
      p.Value = KzTrim(Line.substr(rb, i - rb));
      p.Raw = p.Value;
    }
    params.push_back(std::move(p));
  }
  return params;
}

std::string KzAuthParamValue(const std::vector<TKzAuthParam>& Params, const std::string& Name) {
  for (const TKzAuthParam& p : Params)
    if (p.Name == Name) return p.Value;
  return {};
}

std::string KzDigestHA1(const std::string& UserName, const std::string& Realm, const std::string& Password,
                        const std::string& Algorithm, const std::string& Nonce, const std::string& CNonce) {
  const std::string ha1 = Hash(UserName + ":" + Realm + ":" + Password);
  return KzLowerCase(Algorithm) == "md5-sess" ? Hash(ha1 + ":" + Nonce + ":" + CNonce) : ha1;
}

std::string KzDigestResponse(const std::string& HA1, const std::string& Nonce, const std::string& NC,
                             const std::string& CNonce, const std::string& Qop, const std::string& Method,
                             const std::string& Uri) {
  const std::string ha2 = Hash(Method + ":" + Uri + (Qop == "auth-int" ? ":" : ""));
  if (Qop.empty()) return Hash(HA1 + ":" + Nonce + ":" + ha2);
  return Hash(HA1 + ":" + Nonce + ":" + NC + ":" + CNonce + ":" + Qop + ":" + ha2);
}

}  // namespace kz
