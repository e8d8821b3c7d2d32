// Parsing of HTTP and RTSP replies, independent of sockets: the end of a
// reply header, its status and values, authentication challenges, chunked
// bodies and SDP descriptions. All functions: any thread, never block; every
// input is untrusted and only bounded work is done on it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

// Offset just past the empty line that ends a reply header (the first
// CR LF CR LF, else the first LF LF), or npos when the header is incomplete.
size_t KzFindHeaderEnd(const std::string& Data);

// The status of a reply header: the first code of the library's list for
// which Version, a space and the code occur in it; 0 when none does.
uint32_t KzReplyStatus(const std::string& Header, const std::string& Version);

// Value of the header line "Name: value" (name ignoring letter case, at the
// start of a line), trimmed; Found tells whether the line exists.
std::string KzHeaderValue(const std::string& Header, const std::string& Name, bool* Found = nullptr);

// The parameters of one authentication challenge ("Digest realm=..., ...").
struct TKzChallenge {
  std::string Scheme;  // "Digest" or "Basic"; empty when none
  bool Proxy = false;  // from Proxy-Authenticate
  std::string realm, nonce, qop, algorithm, opaque;
  // The values exactly as received (quotes kept), for the proxy line.
  std::string realmRaw, nonceRaw, qopRaw;
};

// The first of "WWW-Authenticate: Digest", "WWW-Authenticate: Basic",
// "Proxy-Authenticate: Digest", "Proxy-Authenticate: Basic" in Header, with
// its parameters. A qop list offering "auth" gives "auth".
TKzChallenge KzParseChallenge(const std::string& Header);

// De-chunking state of one reply body.
struct TKzChunkState {
  bool Chunked = false;             // the body still uses chunked coding
  uint32_t RemainingChunkSize = 0;  // data bytes left in the current chunk
  std::string IncompleteChunkSize;  // digits of a size line split across reads
  uint8_t ChunkPhase = 0;           // where a split size line stopped
  bool ChunkEnded = false;          // the last (zero) chunk has been seen

  void ResetChunks(bool IsChunked) {
    Chunked = IsChunked;
    RemainingChunkSize = 0;
    IncompleteChunkSize.clear();
    ChunkPhase = 0;
    ChunkEnded = false;
  }
};

// Removes the chunk framing from the Count bytes at Data in place and
// returns how many data bytes remain there. A character that cannot belong
// to a size line ends de-chunking (Chunked := false) and leaves the rest of
// the bytes as they are; bytes after the last chunk are dropped.
size_t KzDeChunk(TKzChunkState& State, uint8_t* Data, size_t Count);

// One media section of an SDP description.
struct TKzSdpMedia {
  std::string TypeMedia;  // "video", "audio", ...
  std::string Control;    // its a=control value
};
// The "m=" sections of Sdp, at most MaxMedia of them.
std::vector<TKzSdpMedia> KzScanSdp(const std::string& Sdp, size_t MaxMedia = 64);

}  // namespace kz
