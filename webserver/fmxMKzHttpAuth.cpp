#include "webserver/fmxMKzHttpAuth.h"

#include <cstdio>
#include <random>

#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzDigestAuth.h"
#include "inet/fmxMKzMD5.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
std::string RandomHex(size_t Bytes) {
  std::random_device rd;
  std::string s;
  char b[3];
  for (size_t i = 0; i < Bytes; ++i) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned>(rd() & 0xFF));
    s += b;
  }
  return s;
}

// Compares without stopping at the first difference, so that the time taken
// tells nothing about how much of a guess was right.
bool SameText(const std::string& A, const std::string& B) {
  unsigned diff = A.size() != B.size();
  for (size_t i = 0; i < A.size() && i < B.size(); ++i) diff |= static_cast<unsigned char>(A[i] ^ B[i]);
  return diff == 0;
}

// The scheme word of an Authorization value and the rest after it.
bool SplitScheme(const std::string& Value, const char* Scheme, std::string& Rest) {
  const size_t n = std::char_traits<char>::length(Scheme);
  if (Value.size() <= n || KzLowerCase(Value.substr(0, n)) != KzLowerCase(Scheme) || Value[n] != ' ') return false;
  Rest = KzTrim(Value.substr(n + 1));
  return true;
}
}  // namespace

TKzHttpAuthenticator::TKzHttpAuthenticator() : FKey(RandomHex(16)), FOpaque(RandomHex(8)) {}

void TKzHttpAuthenticator::Setup(TKzHttpAuthentication Mode, std::vector<TKzHttpUser> Users, std::string Realm) {
  FMode = Mode;
  FUsers = std::move(Users);
  FRealm = std::move(Realm);
}

std::string TKzHttpAuthenticator::NewNonce() const {
  char t[24];
  std::snprintf(t, sizeof t, "%016llx", static_cast<unsigned long long>(KzMGetTickCount()));
  return std::string(t) + MD5Print(MD5String(std::string(t) + ":" + FKey));
}

bool TKzHttpAuthenticator::NonceValid(const std::string& Nonce, bool& Fresh) const {
  Fresh = false;
  if (Nonce.size() != 48) return false;
  const std::string t = Nonce.substr(0, 16);
  if (!SameText(Nonce.substr(16), MD5Print(MD5String(t + ":" + FKey)))) return false;
  const uint64_t issued = std::strtoull(t.c_str(), nullptr, 16), now = KzMGetTickCount();
  Fresh = issued <= now && now - issued < NonceLifetimeMs;
  return true;
}

std::string TKzHttpAuthenticator::Challenge(bool Stale) const {
  if (FMode == TKzHttpAuthentication::kzhaBasic) return "WWW-Authenticate: Basic realm=\"" + FRealm + "\"\r\n";
  return "WWW-Authenticate: Digest realm=\"" + FRealm + "\", qop=\"auth\", algorithm=MD5, nonce=\"" + NewNonce() +
         "\", opaque=\"" + FOpaque + "\"" + (Stale ? ", stale=true" : "") + "\r\n";
}

bool TKzHttpAuthenticator::Check(const TKzHttpRequest& Request, bool& Stale) const {
  Stale = false;
  std::string rest;
  switch (FMode) {
    case TKzHttpAuthentication::kzhaNone: return true;
    case TKzHttpAuthentication::kzhaBasic:
      return SplitScheme(Request.Authorization, "Basic", rest) && CheckBasic(rest);
    case TKzHttpAuthentication::kzhaDigest:
      return SplitScheme(Request.Authorization, "Digest", rest) && CheckDigest(rest, Request, Stale);
  }
  return false;
}

bool TKzHttpAuthenticator::CheckBasic(const std::string& Credentials) const {
  const std::string pair = DecodeBase64(Credentials);
  bool ok = false;
  for (const TKzHttpUser& u : FUsers) ok |= SameText(pair, u.UserName + ":" + u.Password);
  return ok;
}

bool TKzHttpAuthenticator::CheckDigest(const std::string& Params, const TKzHttpRequest& Request, bool& Stale) const {
  const std::vector<TKzAuthParam> p = KzAuthParamList(Params);
  auto get = [&p](const char* Name) { return KzAuthParamValue(p, Name); };
  const std::string user = get("username"), nonce = get("nonce"), qop = get("qop"), algorithm = get("algorithm");
  // The answer must be for this very request: its realm and its target.
  if (get("realm") != FRealm || get("uri") != Request.Uri) return false;
  if (!qop.empty() && qop != "auth") return false;
  if (!algorithm.empty() && KzLowerCase(algorithm) != "md5" && KzLowerCase(algorithm) != "md5-sess") return false;
  bool fresh = false;
  if (!NonceValid(nonce, fresh)) return false;
  for (const TKzHttpUser& u : FUsers) {
    if (u.UserName != user) continue;
    const std::string ha1 = KzDigestHA1(u.UserName, FRealm, u.Password, algorithm, nonce, get("cnonce"));
    const std::string want = KzDigestResponse(ha1, nonce, get("nc"), get("cnonce"), qop, Request.Method, Request.Uri);
    if (!SameText(KzLowerCase(get("response")), want)) return false;
    Stale = !fresh;
    return fresh;
  }
  return false;
}

}  // namespace kz
