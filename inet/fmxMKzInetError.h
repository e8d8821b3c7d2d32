// Why an exchange of the HTTP/RTSP client failed, in words a user can act
// on. The client fills the reason in at the point of failure (name lookup,
// connect, send, reply); callers read it after an operation returned false
// or null. Texts name host, port and path only, never credentials or the
// query of a URL.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/fmxMKzSourceError.h"

namespace kz {

struct TInet;

// The reason of Handle's last failure (kind kzseNone when none was noted).
// Owning thread of the record, never blocks.
const TKzSourceError& KzInetLastError(const TInet* Handle);
// Notes a failure of Handle. Owning thread of the record.
void KzInetSetError(TInet* Handle, TKzSourceErrorKind Kind, const std::string& Text);
void KzInetClearError(TInet* Handle);

// "host:port" of the peer Handle talks to (its proxy when it has one).
std::string KzInetPeerText(const TInet* Handle);
// The reason phrase of an HTTP or RTSP status ("Not Found" for 404), or ""
// for a number this client does not know. Any thread.
std::string KzHTTPReasonPhrase(uint32_t Status);
// Path without its query and fragment, which may carry credentials.
std::string KzPathForText(const std::string& Path);
// "HTTP 404 Not Found from /wrongpath.cgi". Any thread.
TKzSourceError KzHTTPStatusError(uint32_t Status, const std::string& Path);
// The text of an operating-system error number for a failed connect:
// "connection refused", "no route to host", ... Any thread.
std::string KzConnectErrorText(int ErrorCode);

}  // namespace kz
