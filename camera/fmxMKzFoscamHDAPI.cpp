// Foscam, the command set behind "cgi-bin/CGIProxy.fcgi".
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

std::string CommandURL(TKzCamera& Camera, const std::string& Command, const std::string& Query) {
  return "http://" + KzVendorHost(Camera) + "/cgi-bin/CGIProxy.fcgi?" +
         KzJoinQuery(KzJoinQuery("cmd=" + Command, Query), KzVendorQueryCredentials(Camera, "usr", "pwd"));
}

V If(const char* Key, F Field, F When, bool Set = true) { return V{Key, Field, nullptr, nullptr, nullptr, When, Set}; }
V Fixed(const char* Key, const char* Text, F When = F::kzfNone, bool Set = true) {
  return V{Key, F::kzfNone, nullptr, nullptr, Text, When, Set};
}
V Coded(const char* Key, F Field, const TKzCodes* Codes, const char* Default = nullptr) {
  return V{Key, Field, Default, Codes};
}

const TKzCodes kResolution = {{"2", "1"}, {"8", "2"}, {"32", "3"}, {"64", "4"}, {"128", "5"}, {"256", "6"}, {"", "0"}};
// timeSource 0 is the NTP server; the LED mode 0 is automatic.
const TKzCodes kInverted = {{"0", "1"}, {"1", "0"}};
const TKzCodes kKeyLength = {{"64", "0"}, {"128", "1"}};

std::vector<V> MotionSchedule() {
  std::vector<V> v;
  for (int d = 0; d < 7; ++d) {
    V s{"schedule" + std::to_string(d)};
    s.ScheduleRow = 0;
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
  t.Dialect = {TKzReplyForm::kzrfXML, &CommandURL, &KzFoscamHDReplyValid, &KzFoscamHDReplyValid};
  const std::vector<V> time = {{"year", F::kzfYear}, {"mon", F::kzfMonth}, {"day", F::kzfDay},
                               {"hour", F::kzfHour}, {"minute", F::kzfMinute}, {"sec", F::kzfSecond}};
  t.Groups = {
      {G::kzcpDateTimeParameter,
       {{"getSystemTime", "", Join(time, {{"timeZone", F::kzfTimeZone}, Coded("timeSource", F::kzfNTPEnabled, &kInverted),
                                          {"ntpServer", F::kzfNTPServer}})}},
       {{"setSystemTime", "",
         Join({Coded("timeSource", F::kzfNTPEnabled, &kInverted), {"ntpServer", F::kzfNTPServer},
               Fixed("dateFormat", "0"), Fixed("timeFormat", "1"), {"timeZone", F::kzfTimeZone}, Fixed("isDst", "0"),
               Fixed("dst", "0")},
              time)}}},
      {G::kzcpNetwork,
       {{"getIPInfo", "", {{"isDHCP", F::kzfDynamicIP}, {"ip", F::kzfIPAddr}, {"gate", F::kzfGateway, "192.168.1.0"},
                          {"mask", F::kzfSubnetMask, "255.255.255.0"}, {"dns1", F::kzfDNSServer},
                          {"port", F::kzfHttpPort, "80"}}}},
       {{"setIpInfo", "",
         {Fixed("isDHCP", "1", F::kzfDynamicIP), Fixed("isDHCP", "0", F::kzfDynamicIP, false),
          If("ip", F::kzfIPAddr, F::kzfDynamicIP, false), If("gate", F::kzfGateway, F::kzfDynamicIP, false),
          If("mask", F::kzfSubnetMask, F::kzfDynamicIP, false), If("dns1", F::kzfDNSServer, F::kzfDynamicIP, false)}}}},
      {G::kzcpWirelessLan,
       {{"getWifiConfig", "",
         {{"isUseWifi", F::kzfWifiUsed}, {"ssid", F::kzfWifiSSID}, {"encryptType", F::kzfWifiEncryption},
          {"psk", F::kzfWifiPSK}, {"defaultKey", F::kzfWifiDefKey}, {"keyFormat", F::kzfWifiKeyFormat},
          {"authMode", F::kzfWifiAuth}, {"key1", F::kzfWifiKey1}, {"key2", F::kzfWifiKey2}, {"key3", F::kzfWifiKey3},
          {"key4", F::kzfWifiKey4}, Coded("key1Len", F::kzfWifiKey1Bits, &kKeyLength),
          Coded("key2Len", F::kzfWifiKey2Bits, &kKeyLength), Coded("key3Len", F::kzfWifiKey3Bits, &kKeyLength),
          Coded("key4Len", F::kzfWifiKey4Bits, &kKeyLength)}}},
       {{"setWifiSetting", "",
         {Fixed("isEnable", "1", F::kzfWifiUsed), Fixed("isUseWifi", "1", F::kzfWifiUsed),
          Fixed("isEnable", "0", F::kzfWifiUsed, false), Fixed("isUseWifi", "0", F::kzfWifiUsed, false),
          {"ssid", F::kzfWifiSSID}, {"netType", F::kzfWifiNetType}, {"encryptType", F::kzfWifiEncryption},
          {"authMode", F::kzfWifiAuth}, {"keyFormat", F::kzfWifiKeyFormat}, {"defaultKey", F::kzfWifiDefKey},
          {"key1", F::kzfWifiKey1}, {"key2", F::kzfWifiKey2}, {"key3", F::kzfWifiKey3}, {"key4", F::kzfWifiKey4},
          Coded("key1Len", F::kzfWifiKey1Bits, &kKeyLength), Coded("key2Len", F::kzfWifiKey2Bits, &kKeyLength),
          Coded("key3Len", F::kzfWifiKey3Bits, &kKeyLength), Coded("key4Len", F::kzfWifiKey4Bits, &kKeyLength),
          {"psk", F::kzfWifiPSK}}}}},
      {G::kzcpMailService,
       {{"getSMTPConfig", "",
         {{"server", F::kzfMailServer}, {"port", F::kzfMailPort}, {"isNeedAuth", F::kzfMailNeedAuth},
          {"tls", F::kzfMailTLS}, {"user", F::kzfMailUser}, {"password", F::kzfMailPassword},
          {"sender", F::kzfMailSender}, {"reciever", F::kzfMailReceivers}}}},
       {{"setSMTPConfig", "",
         {{"isEnable", F::kzfMailEnabled}, {"server", F::kzfMailServer}, {"port", F::kzfMailPort},
          Fixed("isNeedAuth", "1", F::kzfMailNeedAuth), If("tls", F::kzfMailTLS, F::kzfMailNeedAuth),
          If("user", F::kzfMailUser, F::kzfMailNeedAuth), If("password", F::kzfMailPassword, F::kzfMailNeedAuth),
          Fixed("isNeedAuth", "0", F::kzfMailNeedAuth, false), Fixed("tls", "0", F::kzfMailNeedAuth, false),
          Fixed("user", "", F::kzfMailNeedAuth, false), Fixed("password", "", F::kzfMailNeedAuth, false),
          {"sender", F::kzfMailSender}, {"receiver", F::kzfMailReceivers}}}}},
      {G::kzcpFtpService,
       {{"getFtpConfig", "", {{"ftpAddr", F::kzfFtpAddr}, {"ftpPort", F::kzfFtpPort}, {"mode", F::kzfFtpMode},
                             {"userName", F::kzfFtpUser}, {"password", F::kzfFtpPassword}}}},
       {{"setFtpConfig", "", {{"ftpAddr", F::kzfFtpAddr}, {"ftpPort", F::kzfFtpPort}, {"mode", F::kzfFtpMode},
                             {"userName", F::kzfFtpUser}, {"password", F::kzfFtpPassword}}}}},
      {G::kzcpAlarmService,
       {{"getLocalAlarmRecordConfig", "", {{"isEnableLocalAlarmRecord", F::kzfAlarmRecord},
                                          {"localAlarmRecordSecs", F::kzfRecordSecs}}},
        {"getSnapConfig", "", {{"snapPicQuality", F::kzfSnapQuality}, {"saveLocation", F::kzfSaveLocation}}},
        {"getIOAlarmConfig", "", {{"alarmLevel", F::kzfAlarmTriggerLevel}}},
        {"getMotionDetectConfig", "",
         Join({{"isEnable", F::kzfMotionEnabled}, {"sensitivity", F::kzfMotionSensitivity},
               {"linkage", F::kzfIOLinkage}, {"snapInterval", F::kzfAlarmUploadInterval},
               {"triggerInterval", F::kzfTriggerInterval}},
              MotionSchedule())}},
       {{"setMotionDetectConfig", "",
         Join({{"isEnable", F::kzfMotionEnabled}, If("linkage", F::kzfIOLinkage, F::kzfMotionEnabled),
               If("snapInterval", F::kzfAlarmUploadInterval, F::kzfMotionEnabled),
               If("sensitivity", F::kzfMotionSensitivity, F::kzfMotionEnabled),
               If("triggerInterval", F::kzfTriggerInterval, F::kzfMotionEnabled),
               Fixed("linkage", "0", F::kzfMotionEnabled, false), Fixed("snapInterval", "0", F::kzfMotionEnabled, false),
               Fixed("sensitivity", "Low", F::kzfMotionEnabled, false),
               Fixed("triggerInterval", "0", F::kzfMotionEnabled, false)},
              MotionSchedule())},
        {"setLocalAlarmRecordConfig", "", {{"isEnableLocalAlarmRecord", F::kzfAlarmRecord},
                                          {"localAlarmRecordSecs", F::kzfRecordSecs}}},
        {"setSnapConfig", "", {{"snapPicQuality", F::kzfSnapQuality}, {"saveLocation", F::kzfSaveLocation}}}}},
      {G::kzcpDecoder, {{"getVideoStreamParam", "", {{"bitRate", F::kzfBaudrate}}}},
       {{"setVideoStreamParam", "streamType=0", {{"bitRate", F::kzfBaudrate}}}}},
      {G::kzcpPTZSettings, {{"getPTZSpeed", "", {{"speed", F::kzfPatrolRate}}}},
       {{"setPTZSpeed", "", {{"speed", F::kzfPatrolRate}}}}},
      {G::kzcpPTZSettingsLed, {{"getInfraLedConfig", "", {Coded("mode", F::kzfAutoLed, &kInverted)}}},
       {{"setInfraLedConfig", "", {Coded("mode", F::kzfAutoLed, &kInverted)}}}},
      {G::kzcpParameters,
       {{"getDevInfo", "", {{"productName", F::kzfID}, {"firmwareVer", F::kzfVersion}, {"devName", F::kzfAlias}}},
        {"getUPnPConfig", "", {{"isEnable", F::kzfUPnP}}}},
       {}},
      {G::kzcpImageSettings,
       {{"getVideoStreamParam", "", {Coded("resolution", F::kzfResolution, &kResolution)}},
        {"getImageSetting", "", {{"brightness", F::kzfBrightness}, {"contrast", F::kzfContrast}, {"hue", F::kzfHue},
                                {"saturation", F::kzfSaturation}, {"sharpness", F::kzfSharpness}}},
        {"getMirrorAndFlipSetting", "", {{"isFlip", F::kzfFlipVertical}, {"isMirror", F::kzfMirror}}}},
       {}},
  };
  using R = TKzCamProperties;
  const R ptzProps = R{P::kzcp_PTZSettings, P::kzcp_ptzsAutoLed} +
                     R::Range(P::kzcp_ptzsPatrolRate, P::kzcp_ptzsPatrolRightRate);
  t.Properties = {
      {G::kzcpNone, R{P::kzcp_Switch, P::kzcp_Bitrate, P::kzcp_FrameRate, P::kzcp_SubVideoFormat, P::kzcp_Parameters}},
      {G::kzcpDateTimeParameter, R::Range(P::kzcp_DateTimeParameter, P::kzcp_dtpNTPServer)},
      {G::kzcpNetwork, R::Range(P::kzcp_Network, P::kzcp_netHttpPort)},
      {G::kzcpWirelessLan, R::Range(P::kzcp_WirelessLan, P::kzcp_wlKeyBits) - R{P::kzcp_wlNetworkType}},
      {G::kzcpMailService, R::Range(P::kzcp_MailService, P::kzcp_msReportInternetIPbyMail)},
      {G::kzcpFtpService, R::Range(P::kzcp_FtpService, P::kzcp_fsMode)},
      {G::kzcpAlarmService, R::Range(P::kzcp_AlarmService, P::kzcp_asAlarmTriggerLevel) +
                                R{P::kzcp_asUploadImageEnabled, P::kzcp_asUploadImageInterval,
                                  P::kzcp_asSchedulerEnabled}},
      {G::kzcpDecoder, R{P::kzcp_Decoder, P::kzcp_dBaudrate}},
      {G::kzcpPTZSettings, ptzProps},
      {G::kzcpPTZSettingsLed, ptzProps},
      {G::kzcpParameters, R{P::kzcp_dmID, P::kzcp_dmVersion, P::kzcp_dmAlias, P::kzcp_dmUPnPtoMapPort}},
      {G::kzcpImageSettings, R{P::kzcp_FlipHorizontally, P::kzcp_FlipVertically, P::kzcp_VideoResolution,
                               P::kzcp_Brightness, P::kzcp_Contrast, P::kzcp_Saturation, P::kzcp_Sharpness}},
      {G::kzcpUsers, R{P::kzcp_Users}},
  };
  t.Methods = {
      {G::kzcpNone, TKzCamMethods{M::kzcm_Move, M::kzcm_LedOn, M::kzcm_LedOff, M::kzcm_VideoStream,
                                  M::kzcm_SnapShot}},
      {G::kzcpDateTimeParameter, TKzCamMethods{M::kzul_dtpGetTimeZoneStr}},
      {G::kzcpWirelessLan, TKzCamMethods{M::kzcm_wlScan, M::kzcm_wlScanResults}},
      {G::kzcpParameters, TKzCamMethods{M::kzcm_dmUpgradeDeviceFirmware, M::kzcm_dmBackup,
                                        M::kzcm_dmRestoreFactorySettings, M::kzcm_dmRebootDevice, M::kzcm_dmLog}},
      {G::kzcpImageSettings, TKzCamMethods{M::kzcm_Flip, M::kzcm_ResetImageSettings}},
  };
  t.SingleProperties = {
      {P::kzcp_dmAlias, "setDevName", "devName="},
      {P::kzcp_dmUPnPtoMapPort, "setUPnPConfig", "isEnable="},
      {P::kzcp_VideoMode, "setPwrFreq", "freq="},
      {P::kzcp_Brightness, "setBrightness", "brightness="},
      {P::kzcp_Contrast, "setContrast", "constrast="},
      {P::kzcp_Hue, "setHue", "hue="},
      {P::kzcp_Saturation, "setSaturation", "saturation="},
      {P::kzcp_Sharpness, "setSharpness", "sharpness="},
  };
  t.Operations = {
      {M::kzcm_wlScan, "refreshWifiList", ""},
      {M::kzcm_wlScanResults, "getWifiList", "startNo=0", false, true},
      {M::kzcm_dmBackup, "exportConfig", "", false, true},
      {M::kzcm_dmRestoreFactorySettings, "restoreToFactorySetting", ""},
      {M::kzcm_dmRebootDevice, "rebootSystem", ""},
      {M::kzcm_dmLog, "getLog", "offset=0&count=20", false, true},
      {M::kzcm_LedOn, "openInfraLed", ""},
      {M::kzcm_LedOff, "closeInfraLed", ""},
      {M::kzcm_ResetImageSettings, "resetImageSetting", ""},
  };
  auto move = [](D Dir, const char* Command, bool Stop) {
    return TKzVendorMove{Dir, Command, "", "", "", Stop ? "ptzStopRun" : "", ""};
  };
  t.Moves = {move(D::kzdHome, "ptzReset", true),          move(D::kzdLeft, "ptzMoveLeft", true),
             move(D::kzdUp, "ptzMoveUp", true),             move(D::kzdRight, "ptzMoveRight", true),
             move(D::kzdDown, "ptzMoveDown", true),         move(D::kzdUpLeft, "ptzMoveUpLeft", true),
             move(D::kzdUpRight, "ptzMoveUpRight", true),   move(D::kzdDownLeft, "ptzMoveDownLeft", true),
             move(D::kzdDownRight, "ptzMoveDownRight", true)};
  for (auto c : {TKzColorControlProperty::kzccpBrightness, TKzColorControlProperty::kzccpContrast,
                 TKzColorControlProperty::kzccpSaturation, TKzColorControlProperty::kzccpHue,
                 TKzColorControlProperty::kzccpSharpness})
    t.Ranges.push_back({c, 0, 100, 50});
  t.Secrets = {"usrPwd", "oldPwd", "newPwd", "psk"};
  return t;
}

const char* Privilege(TKzUserAccess A) {
  return A == TKzUserAccess::uaAdmin ? "2" : A == TKzUserAccess::uaOperator ? "1" : "0";
}
}  // namespace

TKzFoscamAPI_Ver1_2::TKzFoscamAPI_Ver1_2() : TKzTableVendor(MakeTables()) {}

bool TKzFoscamAPI_Ver1_2::Run(TKzCamera& Camera, const std::string& Command, const std::string& Query,
                              std::string* Reply) const {
  std::string reply;
  const bool ok = Fetch(Camera, CommandURL(Camera, Command, Query), reply) && KzFoscamHDReplyValid(reply);
  if (Reply) *Reply = std::move(reply);
  return ok;
}

TKzCamGetFunc TKzFoscamAPI_Ver1_2::GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const {
  if (Group != G::kzcpUsers) return TKzTableVendor::GetGetFunc(Camera, Group);
  return [this](TKzCamera& Cam, bool& Aborted) {
    Aborted = false;
    std::string reply;
    if (!Run(Cam, "getUserList", "", &reply)) return false;
    std::vector<TKzCamUser> users;
    for (const auto& [name, access] : KzFoscamHDUsers(reply)) {
      std::string pwd;
      if (Run(Cam, "getPassword", KzQueryParam("usrName", name), &pwd)) pwd = XML_GetValue(pwd, "password");
      else pwd.clear();
      TKzCamUser& u = users.emplace_back();
      u.UserName = u.OldUserName = name;
      u.Password = u.OldPassword = pwd;
      u.Access = u.OldAccess = access;
    }
    Cam.LockCommands();
    Cam.Users().InitUsers(std::move(users));
    Cam.UnlockCommands();
    return true;
  };
}

bool TKzFoscamAPI_Ver1_2::CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                                     std::string& Result) const {
  if (Method == M::kzcm_dmUpgradeDeviceFirmware) {
    KzPostMessageDebug(&Camera, 0, KzFirmwareUpgradeUnsupported);
    return false;
  }
  if (Method == M::kzcm_Flip) {
    const int64_t flip = KzStrToIntDef(Param, 0);
    return Run(Camera, "flipVideo", std::string("isFlip=") + ((flip & 1) ? "1" : "0")) &&
           Run(Camera, "mirrorVideo", std::string("isMirror=") + ((flip & 2) ? "1" : "0"));
  }
  return TKzTableVendor::CallMethod(Camera, Method, Param, Result);
}

std::string TKzFoscamAPI_Ver1_2::SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) const {
  if (Prop != P::kzcp_VideoResolution && Prop != P::kzcp_Bitrate && Prop != P::kzcp_FrameRate)
    return TKzTableVendor::SetPropURL(Camera, Prop, Value);
  std::string res = KzCodeToVendor(&kResolution, std::to_string(static_cast<int>(Camera.VideoResolution())));
  std::string bitrate = std::to_string(Camera.Parameters().Bitrate());
  std::string fps = std::to_string(Camera.GetFramePerSecInt());
  (Prop == P::kzcp_VideoResolution ? res : Prop == P::kzcp_Bitrate ? bitrate : fps) =
      Prop == P::kzcp_VideoResolution ? KzCodeToVendor(&kResolution, Value) : Value;
  return CommandURL(Camera, "setVideoStreamParam",
                    "streamType=0&" + KzQueryParam("resolution", res) + "&" + KzQueryParam("bitRate", bitrate) + "&" +
                        KzQueryParam("frameRate", fps) + "&GOP=30&isVBR=0");
}

bool TKzFoscamAPI_Ver1_2::WriteStreamParams(TKzCamera& Camera, bool Main) const {
  std::string reply;
  Run(Camera, Main ? "getMainVideoStreamType" : "getSubVideoStreamType", "", &reply);
  const std::string type = XML_GetValueDef(reply, "streamType", "0");
  const std::string res = KzCodeToVendor(&kResolution, std::to_string(static_cast<int>(Camera.VideoResolution())));
  return Run(Camera, "setVideoStreamParam",
             KzQueryParam("streamType", type) + "&" + KzQueryParam("resolution", res) + "&" +
                 KzQueryParam("bitRate", std::to_string(Camera.Parameters().Bitrate())) + "&" +
                 KzQueryParam("frameRate", std::to_string(Camera.GetFramePerSecInt())) + "&GOP=30&isVBR=0");
}

std::string TKzFoscamAPI_Ver1_2::GetMJpegURL(TKzCamera& Camera) const {
  WriteStreamParams(Camera, false);
  Run(Camera, "setSubStreamFormat", "format=1");
  const std::string stream =
      "http://" + KzVendorHost(Camera) + "/cgi-bin/CGIStream.cgi?cmd=GetMJStream&" + KzVendorQueryCredentials(Camera, "usr", "pwd");
  if (Camera.CheckConnectMJPEG(stream, 1000, true)) return stream;
  return CommandURL(Camera, "snapPicture2", "");
}

std::string TKzFoscamAPI_Ver1_2::GetH264URL(TKzCamera& Camera) const {
  const bool main = Camera.CameraChannel() == 1;
  WriteStreamParams(Camera, main);
  if (!main) Run(Camera, "setSubStreamFormat", "format=0");
  return KzVendorRTSPURL(Camera, main ? "/videoMain" : "/videoSub");
}

bool TKzFoscamAPI_Ver1_2::ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) const {
  if (Index < 0 || Index >= Camera.Users().Count()) return false;
  const TKzCamUser& u = Camera.Users()[Index];
  auto add = [&] {
    return Run(Camera, "addAccount",
               KzQueryParam("usrName", u.UserName) + "&" + KzQueryParam("usrPwd", u.Password) + "&privilege=" +
                   Privilege(u.Access));
  };
  auto del = [&](const std::string& Name) { return Run(Camera, "delAccount", KzQueryParam("usrName", Name)); };
  switch (Operation) {
    case TKzCollectionItemOperation::kzcioAdd: return add();
    case TKzCollectionItemOperation::kzcioDelete: return del(u.UserName);
    case TKzCollectionItemOperation::kzcioModify:
      if (u.Access != u.OldAccess && !u.Password.empty()) return del(u.OldUserName) && add();
      if (u.UserName != u.OldUserName || u.Password != u.OldPassword)
        return Run(Camera, "changeUserNameAndPwdTogether",
                   KzQueryParam("usrName", u.OldUserName) + "&" + KzQueryParam("newUsrName", u.UserName) + "&" +
                       KzQueryParam("oldPwd", u.OldPassword) + "&" + KzQueryParam("newPwd", u.Password));
      return true;
  }
  return false;
}

}  // namespace kz
