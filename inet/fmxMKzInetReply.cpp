#include "inet/fmxMKzInetReply.h"

#include <cstring>

#include "inet/fmxMKzDigestAuth.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

size_t KzFindHeaderEnd(const std::string& Data) {
  const size_t crlf = Data.find("\r\n\r\n");
  if (crlf != std::string::npos) return crlf + 4;
  const size_t lf = Data.find("\n\n");
  if (lf != std::string::npos) return lf + 2;
  return std::string::npos;
}

uint32_t KzReplyStatus(const std::string& Header, const std::string& Version) {
  static const uint32_t kCodes[] = {100, 301, 200, 302, 303, 304, 305, 307, 400, 401,
                                    404, 403, 405, 407, 408, 411, 500, 501, 505, 503};
  for (uint32_t code : kCodes)
    if (Header.find(Version + " " + std::to_string(code)) != std::string::npos) return code;
  return 0;
}

std::string KzHeaderValue(const std::string& Header, const std::string& Name, bool* Found) {
  if (Found) *Found = false;
  const std::string key = Name + ":";
  for (size_t p = 0; p < Header.size();) {
    size_t e = Header.find('\n', p);
    if (e == std::string::npos) e = Header.size();
    if (e - p >= key.size() && KzPosI(Header.substr(p, key.size()), key) == 0) {
      if (Found) *Found = true;
      return KzTrim(Header.substr(p + key.size(), e - p - key.size()));
    }
    p = e + 1;
  }
  return {};
}

namespace {
// Reads "name=value" pairs of a challenge line; Raw keeps the quotes.
void ReadChallengeParams(const std::string& Line, TKzChallenge& C) {
  for (const TKzAuthParam& p : KzAuthParamList(Line)) {
    if (p.Name == "realm") {
      C.realm = p.Value;
      C.realmRaw = p.Raw;
    } else if (p.Name == "nonce") {
      C.nonce = p.Value;
      C.nonceRaw = p.Raw;
    } else if (p.Name == "qop") {
      C.qop = p.Value;
      C.qopRaw = p.Raw;
    } else if (p.Name == "algorithm") {
      C.algorithm = p.Value;
    } else if (p.Name == "opaque") {
      C.opaque = p.Value;
    }
  }
  // A list of protections: this client speaks "auth".
  if (C.qop.find(',') != std::string::npos) {
    std::string pick;
    size_t p = 0;
    while (p <= C.qop.size()) {
      size_t e = C.qop.find(',', p);
      if (e == std::string::npos) e = C.qop.size();
      const std::string item = KzTrim(C.qop.substr(p, e - p));
      if (pick.empty() || item == "auth") pick = item;
      p = e + 1;
    }
    C.qop = pick;
    C.qopRaw = pick;
  }
}
}  // namespace

TKzChallenge KzParseChallenge(const std::string& Header) {
  struct TKind {
    const char* Text;
    const char* Scheme;
    bool Proxy;
  };
  static const TKind kKinds[] = {{"WWW-Authenticate: Digest", "Digest", false},
                                 {"WWW-Authenticate: Basic", "Basic", false},
                                 {"Proxy-Authenticate: Digest", "Digest", true},
                                 {"Proxy-Authenticate: Basic", "Basic", true}};
  TKzChallenge c;
  for (const TKind& k : kKinds) {
    const size_t p = KzPosI(Header, k.Text);
    if (p == std::string::npos) continue;
    c.Scheme = k.Scheme;
    c.Proxy = k.Proxy;
    const size_t b = p + std::strlen(k.Text);
    size_t e = Header.find('\n', b);
    if (e == std::string::npos) e = Header.size();
    ReadChallengeParams(KzTrim(Header.substr(b, e - b)), c);
    break;
  }
  return c;
}

namespace {
enum : uint8_t { kPhaseBoundary = 0, kPhaseBoundaryCR = 1, kPhaseSize = 2, kPhaseSizeCR = 3 };

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

size_t KzDeChunk(TKzChunkState& S, uint8_t* Data, size_t Count) {
  if (S.ChunkEnded) return 0;
  if (!S.Chunked) return Count;
  size_t r = 0, w = 0;
  auto stop = [&]() {
    S.Chunked = false;
    S.IncompleteChunkSize.clear();
    std::memmove(Data + w, Data + r, Count - r);
    return w + (Count - r);
  };
  while (r < Count) {
    if (S.RemainingChunkSize > 0) {
      const size_t take = std::min<size_t>(S.RemainingChunkSize, Count - r);
      if (w != r) std::memmove(Data + w, Data + r, take);
      w += take;
      r += take;
      S.RemainingChunkSize -= static_cast<uint32_t>(take);
      continue;
    }
    const uint8_t c = Data[r];
    const int hex = HexValue(c);
    switch (S.ChunkPhase) {
      case kPhaseBoundary:
      case kPhaseBoundaryCR:
        if (c == '\r' && S.ChunkPhase == kPhaseBoundary) {
          S.ChunkPhase = kPhaseBoundaryCR;
        } else if (c == '\n') {
          S.ChunkPhase = kPhaseSize;
        } else if (hex >= 0) {
          S.ChunkPhase = kPhaseSize;
          continue;  // the digit is read as part of the size line
        } else {
          return stop();
        }
        break;
      case kPhaseSize:
        if (hex >= 0) {
          if (S.IncompleteChunkSize.size() >= 8) return stop();  // more than 32 bits
          S.IncompleteChunkSize += static_cast<char>(c);
          break;
        }
        if (c == '\r') {
          S.ChunkPhase = kPhaseSizeCR;
          break;
        }
        [[fallthrough]];
      case kPhaseSizeCR:
        if (c == '\r') break;
        if (c != '\n' || S.IncompleteChunkSize.empty()) return stop();
        {
          const uint32_t size = static_cast<uint32_t>(std::stoul(S.IncompleteChunkSize, nullptr, 16));
          S.IncompleteChunkSize.clear();
          S.ChunkPhase = kPhaseBoundary;
          if (size == 0) {
            S.ChunkEnded = true;
            return w;
          }
          S.RemainingChunkSize = size;
        }
        break;
    }
    ++r;
  }
  return w;
}

std::vector<TKzSdpMedia> KzScanSdp(const std::string& Sdp, size_t MaxMedia) {
  std::vector<TKzSdpMedia> out;
  bool haveControl = false;
  for (size_t p = 0; p < Sdp.size();) {
    size_t e = Sdp.find('\n', p);
    if (e == std::string::npos) e = Sdp.size();
    std::string line = Sdp.substr(p, e - p);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    p = e + 1;
    if (line.compare(0, 2, "m=") == 0) {
      if (out.size() >= MaxMedia) break;
      out.push_back({line.substr(2, line.find(' ') == std::string::npos ? std::string::npos : line.find(' ') - 2), {}});
      haveControl = false;
    } else if (!out.empty() && !haveControl && line.compare(0, 10, "a=control:") == 0) {
      out.back().Control = KzTrim(line.substr(10));
      haveControl = true;
    }
  }
  return out;
}

}  // namespace kz
