#include "camera/fmxMKzOnvifClient.h"

#include <chrono>

#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
int64_t NowUTC() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// "scheme://authority" of URL and the rest.
void SplitAuthority(const std::string& URL, std::string& Head, std::string& Path) {
  const size_t scheme = URL.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t slash = URL.find('/', start);
  Head = slash == std::string::npos ? URL : URL.substr(0, slash);
  Path = slash == std::string::npos ? "/" : URL.substr(slash);
}

bool IsEncoding(const TKzOnvifProfile& P, const char* Encoding) { return KzLowerCase(P.Encoding) == Encoding; }
}  // namespace

std::string KzOnvifDeviceURL(const std::string& Host, uint16_t Port) {
  return "http://" + Host + (Port && Port != 80 ? ":" + std::to_string(Port) : "") + "/onvif/device_service";
}

std::string KzOnvifOnHostOf(const std::string& URL, const std::string& Base) {
  if (URL.empty()) return URL;
  std::string head, path, baseHead, basePath;
  SplitAuthority(URL, head, path);
  SplitAuthority(Base, baseHead, basePath);
  return baseHead + path;
}

TKzOnvifClient::TKzOnvifClient(std::string ADeviceURL, TKzCamRequestSettings Settings, std::atomic<bool>& Abort)
    : DeviceURL(std::move(ADeviceURL)), MediaURL(DeviceURL), PTZURL(DeviceURL), FSettings(std::move(Settings)),
      FAbort(Abort) {
  Auth.UserName = FSettings.UserName;
  Auth.Password = FSettings.Password;
}

bool TKzOnvifClient::Call(const std::string& URL, TKzOnvifOp Op, const TKzOnvifArgs& Args, std::string& Body,
                          TKzOnvifError& Error) {
  return KzOnvifCall(KzOnvifRequest(URL, Op, Args, Auth), FSettings, FAbort, Body, Error);
}

bool TKzOnvifClient::SyncClock(TKzOnvifError& Error) {
  std::string body;
  int64_t device = 0;
  // Asked without credentials: the clock is what the digest needs first.
  if (!KzOnvifCall(KzOnvifRequest(DeviceURL, TKzOnvifOp::GetSystemDateAndTime, {}, {}), FSettings, FAbort, body,
                   Error) ||
      !KzOnvifParseSystemDateAndTime(body, device, Error))
    return false;
  Auth.ClockOffset = device - NowUTC();
  return true;
}

bool TKzOnvifClient::GetDeviceInformation(TKzOnvifDeviceInfo& Info, TKzOnvifError& Error) {
  std::string body;
  return Call(DeviceURL, TKzOnvifOp::GetDeviceInformation, {}, body, Error) &&
         KzOnvifParseDeviceInformation(body, Info, Error);
}

bool TKzOnvifClient::GetCapabilities(TKzOnvifServices& Services, TKzOnvifError& Error) {
  std::string body;
  if (!Call(DeviceURL, TKzOnvifOp::GetCapabilities, {}, body, Error) ||
      !KzOnvifParseCapabilities(body, Services, Error))
    return false;
  Services.Media = KzOnvifOnHostOf(Services.Media, DeviceURL);
  Services.PTZ = KzOnvifOnHostOf(Services.PTZ, DeviceURL);
  if (!Services.Media.empty()) MediaURL = Services.Media;
  PTZURL = Services.PTZ;
  return true;
}

bool TKzOnvifClient::GetUsers(std::vector<TKzOnvifUser>& Users, TKzOnvifError& Error) {
  std::string body;
  return Call(DeviceURL, TKzOnvifOp::GetUsers, {}, body, Error) && KzOnvifParseUsers(body, Users, Error);
}

bool TKzOnvifClient::GetProfiles(std::vector<TKzOnvifProfile>& Profiles, TKzOnvifError& Error) {
  std::string body;
  return Call(MediaURL, TKzOnvifOp::GetProfiles, {}, body, Error) && KzOnvifParseProfiles(body, Profiles, Error);
}

bool TKzOnvifClient::GetStreamUri(const std::string& Token, std::string& Uri, TKzOnvifError& Error) {
  std::string body;
  TKzOnvifArgs a;
  a.ProfileToken = Token;
  return Call(MediaURL, TKzOnvifOp::GetStreamUri, a, body, Error) && KzOnvifParseMediaUri(body, Uri, Error);
}

bool TKzOnvifClient::GetSnapshotUri(const std::string& Token, std::string& Uri, TKzOnvifError& Error) {
  std::string body;
  TKzOnvifArgs a;
  a.ProfileToken = Token;
  return Call(MediaURL, TKzOnvifOp::GetSnapshotUri, a, body, Error) && KzOnvifParseMediaUri(body, Uri, Error);
}

bool TKzOnvifClient::ContinuousMove(const std::string& Token, double Pan, double Tilt, TKzOnvifError& Error) {
  std::string body;
  TKzOnvifArgs a;
  a.ProfileToken = Token;
  a.PanSpeed = Pan;
  a.TiltSpeed = Tilt;
  return Call(PTZURL, TKzOnvifOp::ContinuousMove, a, body, Error) && KzOnvifParseEmpty(body, Error);
}

bool TKzOnvifClient::Stop(const std::string& Token, TKzOnvifError& Error) {
  std::string body;
  TKzOnvifArgs a;
  a.ProfileToken = Token;
  return Call(PTZURL, TKzOnvifOp::Stop, a, body, Error) && KzOnvifParseEmpty(body, Error);
}

bool TKzOnvifClient::GotoHomePosition(const std::string& Token, TKzOnvifError& Error) {
  std::string body;
  TKzOnvifArgs a;
  a.ProfileToken = Token;
  return Call(PTZURL, TKzOnvifOp::GotoHomePosition, a, body, Error) && KzOnvifParseEmpty(body, Error);
}

bool TKzOnvifClient::GetStatus(const std::string& Token, TKzOnvifPTZStatus& Status, TKzOnvifError& Error) {
  std::string body;
  TKzOnvifArgs a;
  a.ProfileToken = Token;
  return Call(PTZURL, TKzOnvifOp::GetStatus, a, body, Error) && KzOnvifParsePTZStatus(body, Status, Error);
}

bool KzOnvifIdentify(const std::string& DeviceURL, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                     TKzOnvifIdentity& Id) {
  Id = {};
  TKzOnvifClient c(DeviceURL, Settings, Abort);
  TKzOnvifError e;
  if (!c.SyncClock(e)) {
    Id.Error = e.Text;
    return false;
  }
  Id.IsOnvif = true;
  if (!c.GetDeviceInformation(Id.Info, e)) {
    Id.LoginFailed = e.NotAuthorized();
    Id.Error = e.Text;
    return false;
  }
  Id.Access = TKzUserAccess::uaPresent;
  Id.Onvif.DeviceURL = DeviceURL;
  Id.Onvif.ClockOffset = c.Auth.ClockOffset;
  TKzOnvifServices services;
  c.GetCapabilities(services, e);  // without it every service is asked at the device address
  Id.Onvif.MediaURL = c.MediaURL;
  Id.Onvif.PTZURL = c.PTZURL;
  if (Abort.load() || !c.GetProfiles(Id.Profiles, e)) {
    Id.Error = e.Text;
    return true;
  }
  Id.Access = TKzUserAccess::uaVisitor;
  for (const TKzOnvifProfile& p : Id.Profiles) {
    std::string uri;
    if (!Abort.load() && (IsEncoding(p, "h264") || IsEncoding(p, "jpeg")) && c.GetStreamUri(p.Token, uri, e)) {
      std::string& slot = IsEncoding(p, "h264") ? Id.Onvif.H264StreamURI : Id.Onvif.MJPEGStreamURI;
      if (slot.empty()) slot = uri;
    }
    Id.StreamURIs.push_back(uri);
    if (Id.Onvif.ProfileToken.empty() && p.HasPTZ) Id.Onvif.ProfileToken = p.Token;
  }
  if (!Id.Profiles.empty() && !Abort.load()) {
    std::string snap;
    if (c.GetSnapshotUri(Id.Profiles.front().Token, snap, e)) Id.Onvif.SnapshotURI = snap;
  }
  if (Id.Onvif.ProfileToken.empty() && !Id.Profiles.empty()) Id.Onvif.ProfileToken = Id.Profiles.front().Token;
  // A Stop is harmless and needs the actuate class.
  if (!Id.Onvif.PTZURL.empty() && !Abort.load() && c.Stop(Id.Onvif.ProfileToken, e))
    Id.Access = TKzUserAccess::uaOperator;
  std::vector<TKzOnvifUser> users;
  if (!Abort.load() && c.GetUsers(users, e))
    Id.Access = TKzUserAccess::uaAdmin;
  return !Abort.load();
}

}  // namespace kz
