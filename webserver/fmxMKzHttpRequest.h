// Requests to the library's HTTP video server: the request head read from
// untrusted bytes (bounded), and the fixed set of paths it answers. Nothing
// here touches the file system: a path either names one of the server's
// own resources or it is refused.
// All functions: any thread, never block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kz {

// A request line and its headers together may not be longer than this.
constexpr size_t KzHttpMaxRequestHead = 8192;
// Longest name of a published source.
constexpr size_t KzHttpMaxSourceName = 64;

enum class TKzHttpParse : uint8_t {
  kzhpIncomplete = 0,  // the head has not ended yet; read more
  kzhpDone = 1,        // a whole head, HeadSize bytes long
  kzhpBad = 2,         // malformed: answer 400 and close
  kzhpTooLarge = 3,    // longer than KzHttpMaxRequestHead: answer 431 and close
};

struct TKzHttpRequest {
  std::string Method;         // "GET", "HEAD", ...
  std::string Path;           // the target without its query
  std::string Version;        // "HTTP/1.0" or "HTTP/1.1"
  std::string Authorization;  // the header's value, empty when none
  std::string Uri;            // the target exactly as sent (Digest checks it)
  bool KeepAlive = false;     // the connection may carry another request
};

// Reads the request head at the start of Data (Size bytes).
TKzHttpParse KzParseHttpRequest(const char* Data, size_t Size, TKzHttpRequest& Request, size_t& HeadSize);

// What a path asks for.
enum class TKzHttpRoute : uint8_t {
  kzhrNotFound = 0,  // 404
  kzhrBadPath = 1,   // 400: escapes, dot segments, empty segments, odd bytes
  kzhrPage = 2,      // "/" (also "/index.html")
  kzhrStatus = 3,    // "/status.json"
  kzhrVideo = 4,     // "/video/NAME.mjpg"
  kzhrSnapshot = 5,  // "/snapshot/NAME.jpg"
};

// The route of Path; Name gets the source's name for the video and snapshot routes.
TKzHttpRoute KzHttpRoute(const std::string& Path, std::string& Name);
// Whether Name can be published: 1..KzHttpMaxSourceName letters, digits,
// "-" and "_", so that it stands in a path and in the page without escaping.
bool KzHttpValidSourceName(const std::string& Name);

}  // namespace kz
