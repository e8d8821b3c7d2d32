// Readers of ONVIF replies: SOAP Faults, the device service's clock,
// information, capabilities and users, the media service's profiles and
// URIs, the PTZ status, and WS-Discovery ProbeMatches.
//
// Every reader takes a whole SOAP envelope as received (untrusted), finds
// elements by local name and answers false with a readable error for XML
// that is bad or too large (fmxMKzOnvifXML), for a Fault (then Fault holds
// it) and for a reply that lacks what was asked for. Any thread, never block.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

struct TKzOnvifFault {
  std::string Code;     // "Sender", "Receiver" (prefix removed)
  std::string Subcode;  // the innermost subcode, prefix removed: "NotAuthorized", "InvalidArgVal"
  std::string Reason;
};

// Why a reader failed.
struct TKzOnvifError {
  std::string Text;
  bool IsFault = false;
  TKzOnvifFault Fault;
  // The device refused the credentials (ter:NotAuthorized, or a
  // WS-Security failure).
  bool NotAuthorized() const;
};

struct TKzOnvifDeviceInfo {
  std::string Manufacturer, Model, FirmwareVersion, SerialNumber, HardwareId;
};

// Service addresses from GetCapabilities ("" for a service not offered).
struct TKzOnvifServices {
  std::string Device, Media, PTZ;
};

struct TKzOnvifUser {
  std::string UserName, Level;  // Administrator, Operator, User, Anonymous, Extended
};

struct TKzOnvifProfile {
  std::string Token, Name;
  std::string Encoding;  // of its video encoder: "JPEG", "H264", "MPEG4", "H265", "" without one
  int32_t Width = 0, Height = 0;
  bool HasPTZ = false;  // the profile carries a PTZ configuration
};

struct TKzOnvifPTZStatus {
  double Pan = 0, Tilt = 0, Zoom = 0;
  std::string PanTiltMove;  // "IDLE", "MOVING", "UNKNOWN" or ""
};

struct TKzOnvifProbeMatch {
  std::string Endpoint;              // EndpointReference address (urn:uuid:...)
  std::vector<std::string> XAddrs;   // service addresses
  std::vector<std::string> Types;    // e.g. "dn:NetworkVideoTransmitter"
  std::vector<std::string> Scopes;
  std::string Name, Hardware, Location;  // from the onvif:// scopes, percent-decoded
};

// The Fault of Text, when it is one. False for anything else.
bool KzOnvifParseFault(const std::string& Text, TKzOnvifFault& Fault);
// UTC of the device's clock as seconds since 1970.
bool KzOnvifParseSystemDateAndTime(const std::string& Text, int64_t& UTCSeconds, TKzOnvifError& Error);
bool KzOnvifParseDeviceInformation(const std::string& Text, TKzOnvifDeviceInfo& Info, TKzOnvifError& Error);
bool KzOnvifParseCapabilities(const std::string& Text, TKzOnvifServices& Services, TKzOnvifError& Error);
bool KzOnvifParseUsers(const std::string& Text, std::vector<TKzOnvifUser>& Users, TKzOnvifError& Error);
// At most 64 profiles are kept.
bool KzOnvifParseProfiles(const std::string& Text, std::vector<TKzOnvifProfile>& Profiles, TKzOnvifError& Error);
// The Uri of a GetStreamUri or GetSnapshotUri reply.
bool KzOnvifParseMediaUri(const std::string& Text, std::string& Uri, TKzOnvifError& Error);
bool KzOnvifParsePTZStatus(const std::string& Text, TKzOnvifPTZStatus& Status, TKzOnvifError& Error);
// A reply whose body is empty or any element but a Fault (Stop, moves).
bool KzOnvifParseEmpty(const std::string& Text, TKzOnvifError& Error);
// Every ProbeMatch of one datagram (at most 64 are kept); RelatesTo is the
// message identifier the answer relates to ("" without one).
bool KzOnvifParseProbeMatches(const std::string& Text, std::vector<TKzOnvifProbeMatch>& Matches,
                              std::string& RelatesTo, TKzOnvifError& Error);

}  // namespace kz
