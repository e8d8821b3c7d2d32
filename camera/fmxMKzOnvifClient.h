// An ONVIF device seen from the library: the operations on its device,
// media and PTZ services, and the identification that finds out what the
// configured user may do there (access levels after ONVIF's access
// classes: device information → present, profiles → visitor, a PTZ Stop →
// operator, the user list → administrator) and which stream URIs it has.
//
// Everything blocks on the network: a worker thread's business, never the
// main thread's. Every operation ends soon after the abort flag is set.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "camera/fmxMKzCamParamTypes.h"
#include "camera/fmxMKzCameraTypes.h"
#include "camera/fmxMKzOnvifSoap.h"

namespace kz {

// What a camera keeps of its ONVIF device.
struct TKzCamOnvif {
  std::string DeviceURL;  // device service ("http://host:port/onvif/device_service")
  std::string MediaURL, PTZURL;
  std::string ProfileToken;     // the profile PTZ commands name
  std::string H264StreamURI;    // of the first H.264 profile
  std::string MJPEGStreamURI;   // of the first JPEG profile
  std::string SnapshotURI;
  int64_t ClockOffset = 0;  // device clock minus ours, seconds
};

// The device service address of host[:port] (port 80 by default).
std::string KzOnvifDeviceURL(const std::string& Host, uint16_t Port);
// URL with its scheme and authority replaced by Base's (its path kept):
// addresses a device reports are used only on the host the user named.
std::string KzOnvifOnHostOf(const std::string& URL, const std::string& Base);

class TKzOnvifClient {
public:
  TKzOnvifClient(std::string DeviceURL, TKzCamRequestSettings Settings, std::atomic<bool>& Abort);

  // GetSystemDateAndTime without credentials; sets the clock offset.
  bool SyncClock(TKzOnvifError& Error);
  bool GetDeviceInformation(TKzOnvifDeviceInfo& Info, TKzOnvifError& Error);
  // Also takes the media and PTZ addresses (on the device's host).
  bool GetCapabilities(TKzOnvifServices& Services, TKzOnvifError& Error);
  bool GetUsers(std::vector<TKzOnvifUser>& Users, TKzOnvifError& Error);
  bool GetProfiles(std::vector<TKzOnvifProfile>& Profiles, TKzOnvifError& Error);
  bool GetStreamUri(const std::string& Token, std::string& Uri, TKzOnvifError& Error);
  bool GetSnapshotUri(const std::string& Token, std::string& Uri, TKzOnvifError& Error);
  bool ContinuousMove(const std::string& Token, double Pan, double Tilt, TKzOnvifError& Error);
  bool Stop(const std::string& Token, TKzOnvifError& Error);
  bool GotoHomePosition(const std::string& Token, TKzOnvifError& Error);
  bool GetStatus(const std::string& Token, TKzOnvifPTZStatus& Status, TKzOnvifError& Error);

  TKzOnvifAuth Auth;
  std::string DeviceURL, MediaURL, PTZURL;

private:
  // The reply of Op at URL; false with Error.
  bool Call(const std::string& URL, TKzOnvifOp Op, const TKzOnvifArgs& Args, std::string& Body, TKzOnvifError& Error);
  TKzCamRequestSettings FSettings;
  std::atomic<bool>& FAbort;
};

// What an identification found.
struct TKzOnvifIdentity {
  bool IsOnvif = false;       // the device answered as an ONVIF device
  bool LoginFailed = false;   // it refused the credentials
  TKzUserAccess Access = TKzUserAccess::uaNone;
  TKzCamOnvif Onvif;
  TKzOnvifDeviceInfo Info;
  std::vector<TKzOnvifProfile> Profiles;
  std::vector<std::string> StreamURIs;  // per profile ("" when refused)
  std::string Error;  // why it stopped early
};

// Identifies the ONVIF device at DeviceURL with Settings' credentials.
// True when it speaks ONVIF and took the credentials.
bool KzOnvifIdentify(const std::string& DeviceURL, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                     TKzOnvifIdentity& Identity);

}  // namespace kz
