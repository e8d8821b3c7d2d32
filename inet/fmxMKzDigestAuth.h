// HTTP Digest authentication (RFC 2617, MD5 and MD5-sess) shared by both
// sides: the client answering a camera's challenge and the library's own
// HTTP server checking a browser's answer compute the same values here, and
// both read "name=value" parameter lists with the same reader.
// All functions: any thread, never block; every input is untrusted and only
// bounded work is done on it.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace kz {

// One parameter of an authentication header value.
struct TKzAuthParam {
  std::string Name;   // lower case
  std::string Value;  // unquoted, backslash escapes removed
  std::string Raw;    // as received (quotes kept)
};

// The "name=value" pairs of Line (the text after the scheme word), at most
// MaxParams of them; words without "=" are skipped.
std::vector<TKzAuthParam> KzAuthParamList(const std::string& Line, size_t MaxParams = 64);
// The value of Name in Params, empty when it is not there.
std::string KzAuthParamValue(const std::vector<TKzAuthParam>& Params, const std::string& Name);

// H(user:realm:password), or for "MD5-sess" H(that:nonce:cnonce); lower-case hex.
std::string KzDigestHA1(const std::string& UserName, const std::string& Realm, const std::string& Password,
                        const std::string& Algorithm, const std::string& Nonce, const std::string& CNonce);
// The request digest for Method and Uri: with Qop empty the RFC 2069 form
// H(HA1:nonce:H(method:uri)), else H(HA1:nonce:nc:cnonce:qop:H(method:uri)).
std::string KzDigestResponse(const std::string& HA1, const std::string& Nonce, const std::string& NC,
                             const std::string& CNonce, const std::string& Qop, const std::string& Method,
                             const std::string& Uri);

}  // namespace kz
