// Foscam, the older CGI command set.
#include "camera/fmxMKzFoscamAPI.h"

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
using F = TKzCamField;
using G = TKzCamPropertyGroup;
using P = TKzCamProperty;
using M = TKzCamMethod;
using D = TKzCamMovementEx;
using V = TKzVendorValue;

// The commands whose own parameters are called user and pwd: the camera's
// credentials go as cam_user and cam_pwd.
bool OwnUserParams(const std::string& Command) {
  return Command == "set_pppoe" || Command == "set_mail" || Command == "set_ftp";
}

std::string CommandURL(TKzCamera& Camera, const std::string& Command, const std::string& Query) {
  const std::string prefix = OwnUserParams(Command) ? "cam_" : "";
  const std::string credentials = KzVendorQueryCredentials(Camera, prefix + "user", prefix + "pwd");
  return "http://" + KzVendorHost(Camera) + "/" + Command + ".cgi?" + KzJoinQuery(Query, credentials);
}

bool Accepted(const std::string& Reply) {
  return KzLowerCase(KzTrim(Reply.substr(0, 64))).rfind("<html", 0) != 0;
}

// A value written only when When is (or is not) "1".
V If(const char* Key, F Field, F When, bool Set = true) { return V{Key, Field, nullptr, nullptr, nullptr, When, Set}; }
V Fixed(const char* Key, const char* Text, F When = F::kzfNone, bool Set = true) {
  return V{Key, F::kzfNone, nullptr, nullptr, Text, When, Set};
}

// Resolution codes of the image settings and streams; mode codes are ordinals.
const TKzCodes kResolution = {{"2", "1"}, {"8", "2"}, {"32", "3"}, {"32", "4"}, {"32", "5"}, {"32", "6"}, {"", "0"}};

const char* const kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// "alarm_schedule_<day>_<n>" (read) or "schedule_<day>_<n>" (write): row n of day 1..7.
std::vector<V> Schedule(const std::string& Prefix) {
  std::vector<V> v;
  for (int d = 0; d < 7; ++d)
    for (int n = 0; n < 3; ++n) {
      V s{Prefix + kDays[d] + "_" + std::to_string(n)};
      s.ScheduleRow = n;
      s.ScheduleDay = d + 1;
      v.push_back(s);
    }
  return v;
}

std::vector<V> Join(std::vector<V> A, const std::vector<V>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

TKzVendorTables MakeTables() {
  TKzVendorTables t;
  t.Dialect = {TKzReplyForm::kzrfVars, &CommandURL, &KzFoscamReplyValid, &Accepted};
  const std::vector<V> ptz = {
      {"led_mode", F::kzfLedMode},          {"ptz_center_onstart", F::kzfCenterOnStart},
      {"ptz_auto_patrol_interval", F::kzfPatrolInterval}, {"ptz_auto_patrol_type", F::kzfPatrolType},
      {"ptz_patrol_h_rounds", F::kzfPatrolHoriz}, {"ptz_patrol_v_rounds", F::kzfPatrolVert},
      {"ptz_patrol_rate", F::kzfPatrolRate}, {"ptz_patrol_up_rate", F::kzfPatrolUpRate},
      {"ptz_patrol_down_rate", F::kzfPatrolDownRate}, {"ptz_patrol_left_rate", F::kzfPatrolLeftRate},
      {"ptz_patrol_right_rate", F::kzfPatrolRightRate}};
  const TKzVendorRequest misc{"get_misc", "", ptz};
  const TKzVendorRequest setMisc{"set_misc", "", ptz};
  t.Groups = {
      {G::kzcpDateTimeParameter,
       {{"get_params", "", {{"now", F::kzfSec1970}, {"tz", F::kzfTimeZone}, {"ntp_enable", F::kzfNTPEnabled},
                           {"ntp_svr", F::kzfNTPServer}}}},
       {{"set_datetime", "", {{"tz", F::kzfTimeZone}, {"ntp_enable", F::kzfNTPEnabled},
                             {"ntp_server", F::kzfNTPServer}, {"now", F::kzfSec1970}}}}},
      {G::kzcpNetwork,
       {{"get_params", "", {{"ip", F::kzfIPAddr}, {"mask", F::kzfSubnetMask, "255.255.255.0"},
                           {"gateway", F::kzfGateway, "192.168.1.0"}, {"dns", F::kzfDNSServer},
                           {"port", F::kzfHttpPort, "80"}}}},
       {{"set_network", "", {{"ip", F::kzfIPAddr}, {"mask", F::kzfSubnetMask}, {"gateway", F::kzfGateway},
                            {"dns", F::kzfDNSServer}, {"port", F::kzfHttpPort}}}}},
      {G::kzcpWirelessLan,
       {{"get_params", "", {{"wifi_enable", F::kzfWifiUsed}, {"wifi_ssid", F::kzfWifiSSID},
                           {"wifi_mode", F::kzfWifiNetType}, {"wifi_encrypt", F::kzfWifiEncryption},
                           {"wifi_authtype", F::kzfWifiAuth}, {"wifi_keyformat", F::kzfWifiKeyFormat},
                           {"wifi_defkey", F::kzfWifiDefKey}, {"wifi_key1", F::kzfWifiKey1},
                           {"wifi_key2", F::kzfWifiKey2}, {"wifi_key3", F::kzfWifiKey3},
                           {"wifi_key4", F::kzfWifiKey4}, {"wifi_key1_bits", F::kzfWifiKey1Bits},
                           {"wifi_key2_bits", F::kzfWifiKey2Bits}, {"wifi_key3_bits", F::kzfWifiKey3Bits},
                           {"wifi_key4_bits", F::kzfWifiKey4Bits}, {"wifi_wpa_psk", F::kzfWifiPSK}}}},
       {{"set_wifi", "",
         {Fixed("enable", "1", F::kzfWifiUsed), If("ssid", F::kzfWifiSSID, F::kzfWifiUsed),
          If("mode", F::kzfWifiNetType, F::kzfWifiUsed), If("encrypt", F::kzfWifiEncryption, F::kzfWifiUsed),
          If("authtype", F::kzfWifiAuth, F::kzfWifiUsed), If("keyformat", F::kzfWifiKeyFormat, F::kzfWifiUsed),
          If("defkey", F::kzfWifiDefKey, F::kzfWifiUsed), If("key1", F::kzfWifiKey1, F::kzfWifiUsed),
          If("key2", F::kzfWifiKey2, F::kzfWifiUsed), If("key3", F::kzfWifiKey3, F::kzfWifiUsed),
          If("key4", F::kzfWifiKey4, F::kzfWifiUsed), If("key1_bits", F::kzfWifiKey1Bits, F::kzfWifiUsed),
          If("key2_bits", F::kzfWifiKey2Bits, F::kzfWifiUsed), If("key3_bits", F::kzfWifiKey3Bits, F::kzfWifiUsed),
          If("key4_bits", F::kzfWifiKey4Bits, F::kzfWifiUsed), If("wpa_psk", F::kzfWifiPSK, F::kzfWifiUsed),
          Fixed("enable", "0", F::kzfWifiUsed, false), Fixed("key1", "", F::kzfWifiUsed, false),
          Fixed("key2", "", F::kzfWifiUsed, false), Fixed("key3", "", F::kzfWifiUsed, false),
          Fixed("key4", "", F::kzfWifiUsed, false), Fixed("key1_bits", "0", F::kzfWifiUsed, false),
          Fixed("key2_bits", "0", F::kzfWifiUsed, false), Fixed("key3_bits", "0", F::kzfWifiUsed, false),
          Fixed("key4_bits", "0", F::kzfWifiUsed, false)}}}},
      {G::kzcpADSL,
       {{"get_params", "", {{"pppoe_enable", F::kzfADSLUsed}, {"pppoe_user", F::kzfADSLUser},
                           {"pppoe_pwd", F::kzfADSLPassword}}}},
       {{"set_pppoe", "", {{"enable", F::kzfADSLUsed}, {"user", F::kzfADSLUser}, {"pwd", F::kzfADSLPassword}}}}},
      {G::kzcpMailService,
       {{"get_params", "", {{"mail_svr", F::kzfMailServer}, {"mail_port", F::kzfMailPort},
                           {"mail_user", F::kzfMailUser}, {"mail_pwd", F::kzfMailPassword},
                           {"mail_sender", F::kzfMailSender}, {"mail_receiver1", F::kzfMailReceiver1},
                           {"mail_receiver2", F::kzfMailReceiver2}, {"mail_receiver3", F::kzfMailReceiver3},
                           {"mail_receiver4", F::kzfMailReceiver4}, {"mail_inet_ip", F::kzfMailReportIP}}}},
       {{"set_mail", "",
         {{"svr", F::kzfMailServer}, {"port", F::kzfMailPort}, If("user", F::kzfMailUser, F::kzfMailNeedAuth),
          If("pwd", F::kzfMailPassword, F::kzfMailNeedAuth), Fixed("user", "", F::kzfMailNeedAuth, false),
          Fixed("pwd", "", F::kzfMailNeedAuth, false), {"sender", F::kzfMailSender},
          {"receiver1", F::kzfMailReceiver1}, {"receiver2", F::kzfMailReceiver2},
          {"receiver3", F::kzfMailReceiver3}, {"receiver4", F::kzfMailReceiver4},
          {"mail_inet_ip", F::kzfMailReportIP}}}}},
      {G::kzcpFtpService,
       {{"get_params", "", {{"ftp_svr", F::kzfFtpServer}, {"ftp_port", F::kzfFtpPort}, {"ftp_user", F::kzfFtpUser},
                           {"ftp_pwd", F::kzfFtpPassword}, {"ftp_dir", F::kzfFtpFolder},
                           {"ftp_mode", F::kzfFtpMode}, {"ftp_upload_interval", F::kzfFtpUploadInterval}}}},
       {{"set_ftp", "", {{"svr", F::kzfFtpServer}, {"port", F::kzfFtpPort}, {"user", F::kzfFtpUser},
                        {"pwd", F::kzfFtpPassword}, {"dir", F::kzfFtpFolder}, {"mode", F::kzfFtpMode},
                        {"upload_interval", F::kzfFtpUploadInterval}}}}},
      {G::kzcpAlarmService,
       {{"get_params", "",
         Join({{"alarm_motion_armed", F::kzfMotionEnabled}, {"alarm_motion_sensitivity", F::kzfMotionSensitivity},
               {"alarm_input_armed", F::kzfAlarmInputEnabled}, {"alarm_ioin_level", F::kzfAlarmTriggerLevel},
               {"alarm_ioout_level", F::kzfOutputLevel}, {"alarm_iolinkage", F::kzfIOLinkage},
               {"alarm_mail", F::kzfAlarmMail}, {"alarm_upload_interval", F::kzfAlarmUploadInterval},
               {"alarm_schedule_enable", F::kzfSchedulerEnabled}},
              Schedule("alarm_schedule_"))}},
       {{"set_alarm", "",
         Join({{"motion_armed", F::kzfMotionEnabled}, {"motion_sensitivity", F::kzfMotionSensitivity},
               {"input_armed", F::kzfAlarmInputEnabled}, {"ioin_level", F::kzfAlarmTriggerLevel},
               {"ioout_level", F::kzfOutputLevel}, If("iolinkage", F::kzfIOLinkage, F::kzfAlarmArmed),
               If("mail", F::kzfAlarmMail, F::kzfAlarmArmed),
               If("upload_interval", F::kzfAlarmUploadInterval, F::kzfAlarmArmed),
               Fixed("iolinkage", "0", F::kzfAlarmArmed, false), Fixed("mail", "0", F::kzfAlarmArmed, false),
               Fixed("upload_interval", "0", F::kzfAlarmArmed, false), {"schedule_enable", F::kzfSchedulerEnabled}},
              Schedule("schedule_"))}}},
      {G::kzcpDecoder, {{"get_params", "", {{"decoder_baud", F::kzfBaudrate}}}},
       {{"set_decoder", "", {{"baud", F::kzfBaudrate}}}}},
      {G::kzcpPTZSettings, {misc}, {setMisc}},
      {G::kzcpPTZSettingsLed, {misc}, {setMisc}},
      {G::kzcpParameters,
       {{"get_params", "", {{"id", F::kzfID}, {"sys_ver", F::kzfVersion}, {"alias", F::kzfAlias},
                           {"upnp_enable", F::kzfUPnP}}}},
       {}},
      {G::kzcpImageSettings,
       {{"get_camera_params", "", {{"resolution", F::kzfResolution, nullptr, &kResolution},
                                  {"brightness", F::kzfBrightness, "128"}, {"contrast", F::kzfContrast, "4"},
                                  {"mode", F::kzfVideoMode}, {"flip", F::kzfFlip}}}},
       {},
       true},
  };
  using R = TKzCamProperties;
  const R ptzProps = R{P::kzcp_PTZSettings, P::kzcp_ptzsLedMode} +
                     R::Range(P::kzcp_ptzsCenterOnStart, P::kzcp_ptzsPatrolRightRate);
  t.Properties = {
      {G::kzcpNone, R{P::kzcp_Switch, P::kzcp_Parameters}},
      {G::kzcpDateTimeParameter, R::Range(P::kzcp_DateTimeParameter, P::kzcp_dtpNTPServer)},
      {G::kzcpNetwork, R::Range(P::kzcp_Network, P::kzcp_netHttpPort)},
      {G::kzcpWirelessLan, R::Range(P::kzcp_WirelessLan, P::kzcp_wlKeyBits)},
      {G::kzcpADSL, R::Range(P::kzcp_ADSL, P::kzcp_adslPassword)},
      {G::kzcpMailService, R::Range(P::kzcp_MailService, P::kzcp_msReportInternetIPbyMail) - R{P::kzcp_TLS}},
      {G::kzcpFtpService, R::Range(P::kzcp_FtpService, P::kzcp_fsUploadInterval)},
      {G::kzcpAlarmService,
       R{P::kzcp_AlarmService, P::kzcp_asMotionDetectEnabled, P::kzcp_asMotionDetectSensitivity,
         P::kzcp_asAlarmInputEnabled, P::kzcp_asAlarmTriggerLevel, P::kzcp_asIOLinkage, P::kzcp_asOutputLevel,
         P::kzcp_asSendMail, P::kzcp_asUploadImageEnabled, P::kzcp_asUploadImageInterval,
         P::kzcp_asSchedulerEnabled}},
      {G::kzcpDecoder, R{P::kzcp_Decoder, P::kzcp_dBaudrate}},
      {G::kzcpPTZSettings, ptzProps},
      {G::kzcpPTZSettingsLed, ptzProps},
      {G::kzcpParameters, R{P::kzcp_dmID, P::kzcp_dmVersion, P::kzcp_dmAlias, P::kzcp_dmUPnPtoMapPort}},
      {G::kzcpImageSettings, R{P::kzcp_FlipHorizontally, P::kzcp_FlipVertically, P::kzcp_VideoResolution,
                               P::kzcp_VideoMode, P::kzcp_Brightness, P::kzcp_Contrast}},
      {G::kzcpUsers, R{P::kzcp_Users}},
  };
  t.Methods = {
      {G::kzcpNone, TKzCamMethods{M::kzcm_Move, M::kzcm_LedOn, M::kzcm_LedOff, M::kzcm_VideoStream,
                                  M::kzcm_SnapShot}},
      {G::kzcpDateTimeParameter, TKzCamMethods{M::kzul_dtpGetTimeZoneStr}},
      {G::kzcpWirelessLan, TKzCamMethods{M::kzcm_wlScan, M::kzcm_wlScanResults}},
      {G::kzcpParameters, TKzCamMethods{M::kzcm_dmUpgradeDeviceFirmware, M::kzcm_dmBackup,
                                        M::kzcm_dmRestoreFactorySettings, M::kzcm_dmRebootDevice, M::kzcm_dmLog}},
      {G::kzcpImageSettings, TKzCamMethods{M::kzcm_Flip}},
  };
  t.SingleProperties = {
      {P::kzcp_dmAlias, "set_alias", "alias="},
      {P::kzcp_dmUPnPtoMapPort, "set_upnp", "enable="},
      {P::kzcp_VideoResolution, "camera_control", "param=0&value=", &kResolution},
      {P::kzcp_VideoMode, "camera_control", "param=3&value="},
      {P::kzcp_Brightness, "camera_control", "param=1&value="},
      {P::kzcp_Contrast, "camera_control", "param=2&value="},
  };
  t.Operations = {
      {M::kzcm_wlScan, "wifi_scan", ""},
      {M::kzcm_wlScanResults, "get_wifi_scan_result", "", false, true},
      {M::kzcm_dmBackup, "backup_params", "", false, true},
      {M::kzcm_dmRestoreFactorySettings, "restore_factory", ""},
      {M::kzcm_dmRebootDevice, "reboot", ""},
      {M::kzcm_dmLog, "get_log", "", false, true},
      {M::kzcm_LedOn, "decoder_control", "command=94"},
      {M::kzcm_LedOff, "decoder_control", "command=95"},
      {M::kzcm_Flip, "camera_control", "param=5&value=", true},
  };
  auto move = [](D Dir, int Start, int Stop) {
    return TKzVendorMove{Dir, "decoder_control", "command=" + std::to_string(Start), "", "",
                         Stop < 0 ? "" : "decoder_control", Stop < 0 ? "" : "command=" + std::to_string(Stop)};
  };
  t.Moves = {move(D::kzdHome, 25, -1),    move(D::kzdHPatrol, 28, 29), move(D::kzdVPatrol, 26, 27),
             move(D::kzdLeft, 4, 5),      move(D::kzdUp, 0, 1),        move(D::kzdRight, 6, 7),
             move(D::kzdDown, 2, 3),      move(D::kzdUpLeft, 90, -1),  move(D::kzdUpRight, 91, -1),
             move(D::kzdDownLeft, 92, -1), move(D::kzdDownRight, 93, -1)};
  t.Ranges = {{TKzColorControlProperty::kzccpBrightness, 0, 255, 128},
              {TKzColorControlProperty::kzccpContrast, 0, 6, 4}};
  t.Secrets = {"cam_pwd", "pppoe_pwd", "mail_pwd", "ftp_pwd", "wpa_psk", "wifi_wpa_psk", "key1", "key2", "key3",
               "key4"};
  return t;
}

const char* Privilege(TKzUserAccess A) {
  return A == TKzUserAccess::uaAdmin ? "2" : A == TKzUserAccess::uaOperator ? "1" : "0";
}
}  // namespace

TKzFoscamAPI_Ver1::TKzFoscamAPI_Ver1() : TKzTableVendor(MakeTables()) {}

TKzCamGetFunc TKzFoscamAPI_Ver1::GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const {
  if (Group != G::kzcpUsers) return TKzTableVendor::GetGetFunc(Camera, Group);
  return [this](TKzCamera& Cam, bool& Aborted) {
    Aborted = false;
    std::string reply;
    if (!Fetch(Cam, CommandURL(Cam, "get_params", ""), reply) || !KzFoscamReplyValid(reply)) return false;
    std::vector<TKzCamUser> users;
    for (const TKzVendorUser& u : KzFoscamUsers(reply)) {
      if (u.Name.empty()) continue;
      TKzCamUser& c = users.emplace_back();
      c.UserName = c.OldUserName = u.Name;
      c.Password = c.OldPassword = u.Password;
      c.Access = c.OldAccess = u.Access;
    }
    Cam.LockCommands();
    Cam.Users().InitUsers(std::move(users));
    Cam.UnlockCommands();
    return true;
  };
}

TKzCamSetURLFunc TKzFoscamAPI_Ver1::GetSetURLFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const {
  if (Group != G::kzcpUsers) return TKzTableVendor::GetSetURLFunc(Camera, Group);
  return [this](TKzCamera& Cam, int32_t Index, std::string& URL) { URL = Index == 0 ? UsersURL(Cam, -1) : ""; };
}

std::string TKzFoscamAPI_Ver1::UsersURL(TKzCamera& Camera, int32_t Skip) const {
  const TKzCamUserCollection& users = Camera.Users();
  std::vector<const TKzCamUser*> list;
  for (int32_t i = 0; i < users.Count(); ++i)
    if (i != Skip) list.push_back(&users[i]);
  const size_t slots = std::max<size_t>(static_cast<size_t>(users.Count()), static_cast<size_t>(std::max(0, Camera.MaxUsers())));
  std::string q;
  for (size_t n = 0; n < slots; ++n) {
    const std::string s = std::to_string(n + 1);
    const TKzCamUser* u = n < list.size() ? list[n] : nullptr;
    q = KzJoinQuery(q, KzQueryParam("user" + s, u ? u->UserName : "") + "&" +
                           KzQueryParam("pwd" + s, u ? u->Password : "") + "&pri" + s + "=" +
                           (u ? Privilege(u->Access) : "0"));
  }
  return CommandURL(Camera, "set_users", q);
}

bool TKzFoscamAPI_Ver1::ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) const {
  const int32_t skip = Operation == TKzCollectionItemOperation::kzcioDelete ? Index : -1;
  std::string reply;
  return Fetch(Camera, UsersURL(Camera, skip), reply) && Accepted(reply);
}

bool TKzFoscamAPI_Ver1::CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                                   std::string& Result) const {
  if (Method == M::kzcm_dmUpgradeDeviceFirmware) {
    KzPostMessageDebug(&Camera, 0, KzFirmwareUpgradeUnsupported);
    return false;
  }
  if (!TKzTableVendor::CallMethod(Camera, Method, Param, Result)) return false;
  if (Method == M::kzcm_wlScanResults) {
    // The networks found go into the wireless group after the configured one.
    TKzWirelessLan& wl = Camera.Parameters().WirelessLan();
    if (wl.Networks().empty()) wl.AddNetwork();
    wl.Networks().resize(1, TKzWirelessNetworkItem(&wl));
    const int64_t count = std::clamp<int64_t>(URL_GetValueInt(Result, "ap_number", 0), 0, 64);
    for (int64_t i = 0; i < count; ++i) {
      const std::string n = "[" + std::to_string(i) + "]";
      TKzWirelessNetworkItem& net = wl.AddNetwork();
      net.SSID = URL_GetValue(Result, "ap_ssid" + n);
      net.NetworkType = static_cast<TKzNetworkType>(URL_GetValueInt(Result, "ap_mode" + n, 0) == 1);
      net.Encryption = static_cast<TKzEncryption>(std::clamp<int64_t>(URL_GetValueInt(Result, "ap_security" + n, 0), 0, 5));
    }
  }
  return true;
}

std::string TKzFoscamAPI_Ver1::GetMJpegURL(TKzCamera& Camera) const {
  const std::string code = KzCodeToVendor(&kResolution, std::to_string(static_cast<int>(Camera.VideoResolution())));
  return CommandURL(Camera, "videostream", code.empty() ? "" : "resolution=" + code);
}

std::string TKzFoscamAPI_Ver1::GetH264URL(TKzCamera& Camera) const { return KzVendorRTSPURL(Camera, "/videoMain"); }

}  // namespace kz
