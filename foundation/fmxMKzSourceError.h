// Why a video source failed: one value that a fetch thread fills in at the
// point of failure and that travels with the done event to the camera, the
// view and the programs. Every source kind (HTTP, RTSP, files, receivers,
// capture devices) reports through it.
#pragma once
#include <cstdint>
#include <string>

namespace kz {

enum class TKzSourceErrorKind : uint8_t {
  kzseNone = 0,          // no failure (success, or an abort asked for)
  kzseRefused,           // the peer refused the connection
  kzseTimedOut,          // connect, reply or frame did not come in time
  kzseNameNotFound,      // the host name could not be resolved
  kzseHTTPStatus,        // an HTTP/RTSP reply with an error status
  kzseNotVideo,          // the reply or file holds no video this source reads
  kzseLoginRefused,      // credentials missing or refused (401/407 after trying)
  kzseEmptyFile,         // a file with nothing in it, or one that cannot be read
  kzseStreamClosed,      // the peer closed the stream after it had started
  kzseOther,             // anything else; Text says what
};

struct TKzSourceError {
  TKzSourceErrorKind Kind = TKzSourceErrorKind::kzseNone;
  // The reply's status for kzseHTTPStatus (and kzseLoginRefused), else 0.
  uint32_t StatusCode = 0;
  // A human text, already free of credentials, for example
  // "cannot reach 127.0.0.1:1: connection refused" or
  // "HTTP 404 Not Found from /wrongpath.cgi".
  std::string Text;

  bool Failed() const { return Kind != TKzSourceErrorKind::kzseNone; }
};

}  // namespace kz
