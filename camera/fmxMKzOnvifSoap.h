// ONVIF requests: SOAP 1.2 envelopes for the device, media and PTZ
// operations the library uses (a table of operations), the WS-Security
// UsernameToken with PasswordDigest, and the POST that carries them over
// the library's HTTP client. The password is never sent in clear text: the
// token carries Base64(SHA-1(nonce + created + password)), with Created on
// the device's clock (our clock plus the offset the device reported).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamCommands.h"
#include "camera/fmxMKzOnvifReplies.h"

namespace kz {

enum class TKzOnvifOp : uint8_t {
  GetSystemDateAndTime = 0,
  GetDeviceInformation,
  GetCapabilities,
  GetUsers,
  GetProfiles,
  GetStreamUri,
  GetSnapshotUri,
  ContinuousMove,
  Stop,
  GotoHomePosition,
  GetStatus,
};

// Credentials and the device's clock.
struct TKzOnvifAuth {
  std::string UserName, Password;
  int64_t ClockOffset = 0;  // device clock minus ours, seconds
};

// What an operation is asked about.
struct TKzOnvifArgs {
  std::string ProfileToken;
  double PanSpeed = 0, TiltSpeed = 0;  // ContinuousMove, -1..1
  std::string Protocol = "RTSP";       // GetStreamUri: RTSP or HTTP
};

constexpr const char* KzOnvifContentType = "application/soap+xml; charset=utf-8";

// Base64(SHA-1(Nonce + Created + Password)); Nonce as raw bytes. Any thread.
std::string KzOnvifPasswordDigest(const std::string& Nonce, const std::string& Created, const std::string& Password);
// "YYYY-MM-DDThh:mm:ssZ" of UTCSeconds. Any thread.
std::string KzOnvifDateTime(int64_t UTCSeconds);
// The operation's name ("GetProfiles"). Any thread.
const char* KzOnvifOpName(TKzOnvifOp Op);
// The whole envelope; with a user name a UsernameToken header (fresh
// nonce, Created = now on the device's clock). Any thread, never blocks.
std::string KzOnvifEnvelope(TKzOnvifOp Op, const TKzOnvifArgs& Args, const TKzOnvifAuth& Auth);
// The POST of the envelope to ServiceURL. Any thread, never blocks.
TKzCamRequest KzOnvifRequest(const std::string& ServiceURL, TKzOnvifOp Op, const TKzOnvifArgs& Args,
                             const TKzOnvifAuth& Auth);
// Performs Request; Body is the reply of a 2xx answer. A refusal with a
// SOAP Fault gives Error.Fault; no reply or another status a text. Blocks
// on the network (not the main thread); ends soon after Abort is set.
bool KzOnvifCall(const TKzCamRequest& Request, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                 std::string& Body, TKzOnvifError& Error);

}  // namespace kz
