// Axis cameras.
#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendors.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
using F = TKzCamField;
using G = TKzCamPropertyGroup;
using P = TKzCamProperty;
using M = TKzCamMethod;
using D = TKzCamMovementEx;
using V = TKzVendorValue;

// The parameter script is the camera's AxisParamScriptName ("param" unless
// the search found another); tables name it "$param".
constexpr const char* kParamScript = "$param";

std::string CommandURL(TKzCamera& Camera, const std::string& Command, const std::string& Query) {
  std::string script = Command;
  if (script == kParamScript) script = Camera.AxisParamScriptName().empty() ? "param" : Camera.AxisParamScriptName();
  return "http://" + KzVendorUserPart(Camera) + KzVendorHost(Camera) + "/axis-cgi/" + script + ".cgi" +
         (Query.empty() ? "" : "?" + Query);
}
// A parameter list, or the PTZ information naming the brightness.
bool Valid(const std::string& Reply) { return KzAxisParamsValid(Reply) || LINE_HasValue(Reply, "brightness"); }

const TKzCodes kDhcp = {{"dhcp", "1"}, {"none", "0"}};
const TKzCodes kPassive = {{"no", "0"}, {"yes", "1"}};
const TKzCodes kNoServer = {{"0.0.0.0", ""}};

TKzVendorRequest ParamList(std::vector<V> Values) { return {kParamScript, "action=list", std::move(Values)}; }

TKzVendorTables MakeTables() {
  TKzVendorTables t;
  t.Dialect = {TKzReplyForm::kzrfLines, &CommandURL, &Valid, &KzVendorAnyReply};
  t.Groups = {
      {G::kzcpParameters,
       {ParamList({{"Brand.ProdFullName", F::kzfAlias}, {"Firmware.Version", F::kzfVersion},
                   {"System.SerialNumber", F::kzfID}})},
       {}},
      {G::kzcpNetwork,
       {ParamList({{"Network.IPAddress", F::kzfIPAddr}, {"Network.SubnetMask", F::kzfSubnetMask, "255.255.255.0"},
                   {"Network.DefaultRouter", F::kzfGateway, "192.168.1.0"}, {"Network.DNSServer1", F::kzfDNSServer},
                   {"Network.BootProto", F::kzfDynamicIP, nullptr, &kDhcp}, {"HTTP.Port", F::kzfHttpPort, "80"}})},
       {}},
      {G::kzcpMailService,
       {ParamList({{"SMTP.MailServer1", F::kzfMailServer}, {"SMTP.MailServer1Port", F::kzfMailPort},
                   {"SMTP.MailServerPort1", F::kzfMailPort}, {"SMTP.FromEmail", F::kzfMailSender},
                   {"SMTP.ToEmail", F::kzfMailReceivers}, {"SMTP.Authentication.A1.Enabled", F::kzfMailNeedAuth},
                   {"SMTP.Authentication.A1.UserName", F::kzfMailUser},
                   {"SMTP.Authentication.A1.Password", F::kzfMailPassword}})},
       {}},
      {G::kzcpFtpService,
       {ParamList({{"EventServers.FTP.F0.Address", F::kzfFtpServer}, {"EventServers.FTP.F0.Port", F::kzfFtpPort},
                   {"EventServers.FTP.F0.Login", F::kzfFtpUser}, {"EventServers.FTP.F0.Password", F::kzfFtpPassword},
                   {"EventServers.FTP.F0.UploadPath", F::kzfFtpFolder},
                   {"EventServers.FTP.F0.Passive", F::kzfFtpMode, nullptr, &kPassive}})},
       {}},
      {G::kzcpDateTimeParameter,
       {ParamList({{"Time.ServerDate", F::kzfDate}, {"Time.ServerTime", F::kzfTime},
                   {"Time.NTP.Server", F::kzfNTPServer, nullptr, &kNoServer}})},
       {}},
      {G::kzcpPTZSettingsLed, {ParamList({{"StatusLED.Usage", F::kzfLedMode}})}, {}},
      {G::kzcpImageSettings, {{"com/ptz", "info=1", {{"brightness", F::kzfBrightness}}}}, {}},
  };
  using R = TKzCamProperties;
  t.Properties = {
      {G::kzcpDateTimeParameter, R::Range(P::kzcp_DateTimeParameter, P::kzcp_dtpNTPServer)},
      {G::kzcpNetwork, R::Range(P::kzcp_Network, P::kzcp_netDNSServer)},
      {G::kzcpMailService, R::Range(P::kzcp_MailService, P::kzcp_msReportInternetIPbyMail) - R{P::kzcp_TLS}},
      {G::kzcpFtpService, R::Range(P::kzcp_FtpService, P::kzcp_fsUploadInterval)},
      {G::kzcpPTZSettings, R{P::kzcp_ptzsLedMode, P::kzcp_ptzsAutoLed}},
      {G::kzcpPTZSettingsLed, R{P::kzcp_ptzsLedMode, P::kzcp_ptzsAutoLed}},
      {G::kzcpParameters, R{P::kzcp_dmID, P::kzcp_dmVersion, P::kzcp_dmAlias}},
      {G::kzcpImageSettings, R{P::kzcp_Brightness}},
      {G::kzcpUsers, R{P::kzcp_Users}},
  };
  t.Methods = {{G::kzcpNone, TKzCamMethods{M::kzcm_Move, M::kzcm_VideoStream, M::kzcm_SnapShot}}};
  t.SingleProperties = {{P::kzcp_dmAlias, kParamScript, "action=update&Brand.ProdFullName="},
                        {P::kzcp_Brightness, "com/ptz", "brightness="}};
  const std::string ptz = "com/ptz";
  auto move = [&](D Dir, const char* Name) {
    return TKzVendorMove{Dir, ptz, std::string("move=") + Name, "", "", ptz, "move=stop"};
  };
  t.Moves = {{D::kzdHPatrol, ptz, "rpan=360", "", "", ptz, "rpan=0"},
             {D::kzdVPatrol, ptz, "rtilt=360", "", "", ptz, "rtilt=0"},
             move(D::kzdHome, "home"),        move(D::kzdLeft, "left"),         move(D::kzdUp, "up"),
             move(D::kzdRight, "right"),      move(D::kzdDown, "down"),         move(D::kzdUpLeft, "upleft"),
             move(D::kzdUpRight, "upright"),  move(D::kzdDownLeft, "downleft"), move(D::kzdDownRight, "downright")};
  t.Ranges = {{TKzColorControlProperty::kzccpBrightness, 1, 9999, 5000}};
  t.MoveTimer = true;
  t.Secrets = {"SMTP.Authentication.A1.Password", "EventServers.FTP.F0.Password"};
  return t;
}

const char* Groups(TKzUserAccess A) {
  switch (A) {
    case TKzUserAccess::uaVisitor: return "viewer";
    case TKzUserAccess::uaOperator: return "viewer:operator:ptz";
    case TKzUserAccess::uaAdmin: return "viewer:operator:ptz:admin";
    default: return "anonymous";
  }
}
}  // namespace

TKzAxisAPI::TKzAxisAPI() : TKzTableVendor(MakeTables()) {}

TKzCamGetFunc TKzAxisAPI::GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const {
  if (Group != G::kzcpUsers) return TKzTableVendor::GetGetFunc(Camera, Group);
  return [this](TKzCamera& Cam, bool& Aborted) {
    Aborted = false;
    std::string reply;
    if (!Fetch(Cam, CommandURL(Cam, "pwdgrp", "action=get"), reply)) return false;
    std::vector<TKzCamUser> users;
    for (const auto& [name, access] : KzAxisUsers(reply)) {
      TKzCamUser& u = users.emplace_back();
      u.UserName = u.OldUserName = name;
      u.Access = u.OldAccess = access;
    }
    Cam.LockCommands();
    Cam.Users().InitUsers(std::move(users));
    Cam.UnlockCommands();
    return true;
  };
}

std::string TKzAxisAPI::GetMJpegURL(TKzCamera& Camera) const {
  static const char* const sizes[] = {"", "160x120", "320x240", "640x480", "1024x768", "1280x720", "1900x1280"};
  const std::string size = sizes[static_cast<size_t>(Camera.VideoResolution())];
  const std::string compression = Camera.Quality() == TKzQualityType::qtFavorMotion    ? "100"
                                  : Camera.Quality() == TKzQualityType::qtFavorClarity ? "30"
                                                                                      : "50";
  return CommandURL(Camera, "mjpg/video",
                    KzJoinQuery(size.empty() ? "" : "resolution=" + size, "compression=" + compression) + "&fps=" +
                        std::to_string(Camera.GetFramePerSecInt()));
}

std::string TKzAxisAPI::GetH264URL(TKzCamera& Camera) const {
  return KzVendorRTSPURL(Camera, "/onvif-media/media.amp");
}

bool TKzAxisAPI::ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) const {
  if (Index < 0 || Index >= Camera.Users().Count()) return false;
  const TKzCamUser& u = Camera.Users()[Index];
  std::string q;
  switch (Operation) {
    case TKzCollectionItemOperation::kzcioAdd:
      q = "action=add&" + KzQueryParam("user", u.UserName) + "&" + KzQueryParam("pwd", u.Password) +
          "&grp=users&sgrp=" + Groups(u.Access);
      break;
    case TKzCollectionItemOperation::kzcioDelete: q = "action=remove&" + KzQueryParam("user", u.UserName); break;
    case TKzCollectionItemOperation::kzcioModify:
      q = "action=update&" + KzQueryParam("user", u.UserName) + "&" + KzQueryParam("pwd", u.Password) +
          "&sgrp=" + Groups(u.Access);
      break;
  }
  std::string reply;
  return Fetch(Camera, CommandURL(Camera, "pwdgrp", q), reply);
}

}  // namespace kz
