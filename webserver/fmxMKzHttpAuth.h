// The server side of HTTP authentication for the library's video server:
// Basic, or Digest (RFC 2617, qop "auth", MD5 and MD5-sess) computed with
// the same routines the client uses to answer cameras. Nonces carry their
// own issue time and a keyed check, so the server keeps no table of them
// and a forged or outdated nonce is refused; an outdated one that was
// otherwise right is answered with stale=true, which browsers retry on
// their own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "webserver/fmxMKzHttpRequest.h"

namespace kz {

// Ordinals are stored with forms.
enum class TKzHttpAuthentication : uint8_t { kzhaNone = 0, kzhaBasic = 1, kzhaDigest = 2 };

struct TKzHttpUser {
  std::string UserName;
  std::string Password;
};

class TKzHttpAuthenticator {
public:
  // Nonces live this long before they are answered as stale.
  static constexpr uint64_t NonceLifetimeMs = 10 * 60 * 1000;

  // A fresh random key for the nonces. Any thread, never blocks.
  TKzHttpAuthenticator();
  // Owner's thread, before serving starts.
  void Setup(TKzHttpAuthentication Mode, std::vector<TKzHttpUser> Users, std::string Realm);
  TKzHttpAuthentication Mode() const { return FMode; }

  // Whether Request may be served: always with kzhaNone, else when its
  // Authorization answers for one of the users. Stale tells that a Digest
  // answer was right but its nonce has expired. Any thread, never blocks.
  bool Check(const TKzHttpRequest& Request, bool& Stale) const;
  // The "WWW-Authenticate: ..." header line (with its CR LF) for a 401.
  // Any thread, never blocks.
  std::string Challenge(bool Stale) const;

private:
  std::string NewNonce() const;
  // Whether Nonce was made here; Fresh tells whether it is still young.
  bool NonceValid(const std::string& Nonce, bool& Fresh) const;
  bool CheckBasic(const std::string& Credentials) const;
  bool CheckDigest(const std::string& Params, const TKzHttpRequest& Request, bool& Stale) const;

  TKzHttpAuthentication FMode = TKzHttpAuthentication::kzhaNone;
  std::vector<TKzHttpUser> FUsers;
  std::string FRealm;
  std::string FKey;     // keys the nonces' checks
  std::string FOpaque;  // one per server run
};

}  // namespace kz
