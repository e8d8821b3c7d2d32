#include "camera/fmxMKzCamFields.h"

#include <array>
#include <ctime>

#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
using G = TKzCamPropertyGroup;
using F = TKzCamField;

std::string Text(const std::string& V) { return V; }
std::string Text(bool V) { return V ? "1" : "0"; }
template <typename T>
std::string Text(T V) {
  return std::to_string(static_cast<int64_t>(V));
}

template <typename T>
T From(const std::string& V) {
  if constexpr (std::is_same_v<T, std::string>) {
    return V;
  } else if constexpr (std::is_same_v<T, bool>) {
    const std::string l = KzLowerCase(KzTrim(V));
    return l == "yes" || l == "true" || KzStrToIntDef(l, 0) != 0;
  } else {
    return static_cast<T>(KzStrToIntDef(V, 0));
  }
}

struct TFieldRow {
  F Id;
  const char* Name;
  G Group;
  bool Secret;
  std::string (*Get)(TKzCamera&);
  void (*Init)(TKzCamera&, const std::string&);
};

// A field of a settings group reached as Camera.Parameters().Path Name().
#define KZ_FIELD(Id, Text_, Grp, Path, Name, Secret)                                                   \
  TFieldRow {                                                                                          \
    F::Id, Text_, G::Grp, Secret, [](TKzCamera& c) { return Text(c.Parameters().Path Name()); },      \
        [](TKzCamera& c, const std::string& v) {                                                      \
          using T = std::decay_t<decltype(c.Parameters().Path Name())>;                                \
          c.Parameters().Path Init##Name(From<T>(v));                                                  \
        }                                                                                              \
  }
// An image setting of the camera itself.
#define KZ_IMAGE(Id, Text_, Name)                                                                      \
  TFieldRow {                                                                                          \
    F::Id, Text_, G::kzcpImageSettings, false, [](TKzCamera& c) { return Text(c.Name()); },           \
        [](TKzCamera& c, const std::string& v) { c.Init##Name(From<std::decay_t<decltype(c.Name())>>(v)); } \
  }

// The first configured wireless network, made when there is none.
TKzWirelessNetworkItem& Wifi(TKzCamera& c) {
  auto& nets = c.Parameters().WirelessLan().Networks();
  if (nets.empty()) c.Parameters().WirelessLan().AddNetwork();
  return nets.front();
}
TKzWEPKey& WepKey(TKzCamera& c, size_t I) {
  auto& keys = Wifi(c).WEP.Keys;
  if (keys.size() <= I) keys.resize(I + 1);
  return keys[I];
}
#define KZ_WIFI(Id, Text_, Secret, Expr)                                                                  \
  TFieldRow {                                                                                             \
    F::Id, Text_, G::kzcpWirelessLan, Secret, [](TKzCamera& c) { return Text(Wifi(c).Expr); },           \
        [](TKzCamera& c, const std::string& v) { Wifi(c).Expr = From<std::decay_t<decltype(Wifi(c).Expr)>>(v); } \
  }
#define KZ_WEPKEY(Id, Text_, I)                                                                          \
  TFieldRow{F::Id, Text_, G::kzcpWirelessLan, true, [](TKzCamera& c) { return WepKey(c, I).Key; },        \
            [](TKzCamera& c, const std::string& v) { WepKey(c, I).Key = v; }}
#define KZ_WEPBITS(Id, Text_, I)                                                                         \
  TFieldRow{F::Id, Text_, G::kzcpWirelessLan, false,                                                     \
            [](TKzCamera& c) { return Text(WepKey(c, I).KeyBits); },                                     \
            [](TKzCamera& c, const std::string& v) { WepKey(c, I).KeyBits = From<TKzWEPKeyBits>(v); }}

std::string& Receiver(TKzCamera& c, size_t I) {
  auto& r = c.Parameters().MailService().Receivers();
  if (r.size() <= I) r.resize(I + 1);
  return r[I];
}
#define KZ_RECEIVER(Id, Text_, I)                                                                        \
  TFieldRow{F::Id, Text_, G::kzcpMailService, false, [](TKzCamera& c) { return Receiver(c, I); },         \
            [](TKzCamera& c, const std::string& v) { Receiver(c, I) = v; }}

// Camera time as broken-down UTC.
std::tm TimeOf(TKzCamera& c) {
  const std::time_t t = static_cast<std::time_t>(c.Parameters().DateTimeParameter().Sec1970());
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}
void SetTime(TKzCamera& c, std::tm tm) {
  c.Parameters().DateTimeParameter().InitSec1970(static_cast<uint32_t>(timegm(&tm)));
}
#define KZ_TIMEPART(Id, Text_, Member, Offset)                                                            \
  TFieldRow{F::Id, Text_, G::kzcpDateTimeParameter, false,                                                \
            [](TKzCamera& c) { return std::to_string(TimeOf(c).Member + (Offset)); },                    \
            [](TKzCamera& c, const std::string& v) {                                                     \
              std::tm tm = TimeOf(c);                                                                    \
              tm.Member = static_cast<int>(KzStrToIntDef(v, 0)) - (Offset);                              \
              SetTime(c, tm);                                                                            \
            }}

std::string Two(int V) { return (V < 10 ? "0" : "") + std::to_string(V); }

const std::vector<TFieldRow>& Rows() {
  static const std::vector<TFieldRow> rows = {
      TFieldRow{F::kzfNone, "", G::kzcpNone, false, [](TKzCamera&) { return std::string(); },
                [](TKzCamera&, const std::string&) {}},
      KZ_FIELD(kzfID, "device.id", kzcpParameters, , ID, false),
      KZ_FIELD(kzfVersion, "device.version", kzcpParameters, , Version, false),
      KZ_FIELD(kzfAlias, "device.alias", kzcpParameters, , Alias, false),
      KZ_FIELD(kzfUPnP, "device.upnp", kzcpParameters, , UPnPtoMapPort, false),
      KZ_FIELD(kzfDynamicIP, "network.dhcp", kzcpNetwork, Network()., DynamicIP, false),
      KZ_FIELD(kzfIPAddr, "network.ip", kzcpNetwork, Network()., IPAddr, false),
      KZ_FIELD(kzfSubnetMask, "network.mask", kzcpNetwork, Network()., SubnetMask, false),
      KZ_FIELD(kzfGateway, "network.gateway", kzcpNetwork, Network()., Gateway, false),
      KZ_FIELD(kzfDNSServer, "network.dns", kzcpNetwork, Network()., DNSServer, false),
      KZ_FIELD(kzfHttpPort, "network.port", kzcpNetwork, Network()., HttpPort, false),
      KZ_FIELD(kzfSec1970, "datetime.now", kzcpDateTimeParameter, DateTimeParameter()., Sec1970, false),
      KZ_FIELD(kzfTimeZone, "datetime.tz", kzcpDateTimeParameter, DateTimeParameter()., TimeZone, false),
      KZ_FIELD(kzfNTPEnabled, "datetime.ntp", kzcpDateTimeParameter, DateTimeParameter()., NTPEnabled, false),
      KZ_FIELD(kzfNTPServer, "datetime.ntpserver", kzcpDateTimeParameter, DateTimeParameter()., NTPServer, false),
      KZ_TIMEPART(kzfYear, "datetime.year", tm_year, 1900),
      KZ_TIMEPART(kzfMonth, "datetime.month", tm_mon, 1),
      KZ_TIMEPART(kzfDay, "datetime.day", tm_mday, 0),
      KZ_TIMEPART(kzfHour, "datetime.hour", tm_hour, 0),
      KZ_TIMEPART(kzfMinute, "datetime.minute", tm_min, 0),
      KZ_TIMEPART(kzfSecond, "datetime.second", tm_sec, 0),
      TFieldRow{F::kzfDate, "datetime.date", G::kzcpDateTimeParameter, false,
                [](TKzCamera& c) {
                  const std::tm t = TimeOf(c);
                  return std::to_string(t.tm_year + 1900) + "/" + Two(t.tm_mon + 1) + "/" + Two(t.tm_mday);
                },
                [](TKzCamera& c, const std::string& v) {
                  std::tm t = TimeOf(c);
                  if (std::sscanf(v.c_str(), "%d/%d/%d", &t.tm_year, &t.tm_mon, &t.tm_mday) != 3) return;
                  t.tm_year -= 1900;
                  t.tm_mon -= 1;
                  SetTime(c, t);
                }},
      TFieldRow{F::kzfTime, "datetime.time", G::kzcpDateTimeParameter, false,
                [](TKzCamera& c) {
                  const std::tm t = TimeOf(c);
                  return Two(t.tm_hour) + ":" + Two(t.tm_min) + ":" + Two(t.tm_sec);
                },
                [](TKzCamera& c, const std::string& v) {
                  std::tm t = TimeOf(c);
                  if (std::sscanf(v.c_str(), "%d:%d:%d", &t.tm_hour, &t.tm_min, &t.tm_sec) != 3) return;
                  SetTime(c, t);
                }},
      KZ_FIELD(kzfWifiUsed, "wifi.enable", kzcpWirelessLan, WirelessLan()., IsUsed, false),
      KZ_WIFI(kzfWifiSSID, "wifi.ssid", false, SSID),
      KZ_WIFI(kzfWifiNetType, "wifi.mode", false, NetworkType),
      KZ_WIFI(kzfWifiEncryption, "wifi.encrypt", false, Encryption),
      KZ_WIFI(kzfWifiAuth, "wifi.authtype", false, WEP.Authentication),
      KZ_WIFI(kzfWifiKeyFormat, "wifi.keyformat", false, WEP.KeyFormat),
      KZ_WIFI(kzfWifiDefKey, "wifi.defkey", false, WEP.DefaultTXKey),
      KZ_WEPKEY(kzfWifiKey1, "wifi.key1", 0),
      KZ_WEPKEY(kzfWifiKey2, "wifi.key2", 1),
      KZ_WEPKEY(kzfWifiKey3, "wifi.key3", 2),
      KZ_WEPKEY(kzfWifiKey4, "wifi.key4", 3),
      KZ_WEPBITS(kzfWifiKey1Bits, "wifi.key1bits", 0),
      KZ_WEPBITS(kzfWifiKey2Bits, "wifi.key2bits", 1),
      KZ_WEPBITS(kzfWifiKey3Bits, "wifi.key3bits", 2),
      KZ_WEPBITS(kzfWifiKey4Bits, "wifi.key4bits", 3),
      KZ_WIFI(kzfWifiPSK, "wifi.psk", true, WPA.ShareKey),
      KZ_FIELD(kzfADSLUsed, "adsl.enable", kzcpADSL, ADSL()., IsUsed, false),
      KZ_FIELD(kzfADSLUser, "adsl.user", kzcpADSL, ADSL()., User, false),
      KZ_FIELD(kzfADSLPassword, "adsl.password", kzcpADSL, ADSL()., Password, true),
      TFieldRow{F::kzfMailEnabled, "mail.enable", G::kzcpMailService, false,
                [](TKzCamera& c) { return Text(!c.Parameters().MailService().SMTPServer().empty()); },
                [](TKzCamera&, const std::string&) {}},
      KZ_FIELD(kzfMailServer, "mail.server", kzcpMailService, MailService()., SMTPServer, false),
      KZ_FIELD(kzfMailPort, "mail.port", kzcpMailService, MailService()., SMTPPort, false),
      KZ_FIELD(kzfMailNeedAuth, "mail.login", kzcpMailService, MailService().Authentication()., NeedAuthentication,
               false),
      KZ_FIELD(kzfMailUser, "mail.user", kzcpMailService, MailService().Authentication()., SMTPUser, false),
      KZ_FIELD(kzfMailPassword, "mail.password", kzcpMailService, MailService().Authentication()., SMTPPassword,
               true),
      KZ_FIELD(kzfMailTLS, "mail.tls", kzcpMailService, MailService().Authentication()., SMTPTLS, false),
      KZ_FIELD(kzfMailSender, "mail.sender", kzcpMailService, MailService()., Sender, false),
      KZ_RECEIVER(kzfMailReceiver1, "mail.receiver1", 0),
      KZ_RECEIVER(kzfMailReceiver2, "mail.receiver2", 1),
      KZ_RECEIVER(kzfMailReceiver3, "mail.receiver3", 2),
      KZ_RECEIVER(kzfMailReceiver4, "mail.receiver4", 3),
      TFieldRow{F::kzfMailReceivers, "mail.receivers", G::kzcpMailService, false,
                [](TKzCamera& c) {
                  std::string all;
                  for (const std::string& r : c.Parameters().MailService().Receivers())
                    if (!r.empty()) all += (all.empty() ? "" : ",") + r;
                  return all;
                },
                [](TKzCamera& c, const std::string& v) {
                  auto& r = c.Parameters().MailService().Receivers();
                  r.clear();
                  for (size_t b = 0; b <= v.size();) {
                    size_t e = v.find(',', b);
                    if (e == std::string::npos) e = v.size();
                    if (e > b) r.push_back(v.substr(b, e - b));
                    b = e + 1;
                  }
                }},
      KZ_FIELD(kzfMailReportIP, "mail.reportip", kzcpMailService, MailService()., ReportInternetIPbyMail, false),
      KZ_FIELD(kzfFtpServer, "ftp.server", kzcpFtpService, FtpService()., Server, false),
      KZ_FIELD(kzfFtpPort, "ftp.port", kzcpFtpService, FtpService()., Port, false),
      KZ_FIELD(kzfFtpUser, "ftp.user", kzcpFtpService, FtpService()., User, false),
      KZ_FIELD(kzfFtpPassword, "ftp.password", kzcpFtpService, FtpService()., Password, true),
      KZ_FIELD(kzfFtpFolder, "ftp.folder", kzcpFtpService, FtpService()., UploadFolder, false),
      KZ_FIELD(kzfFtpMode, "ftp.mode", kzcpFtpService, FtpService()., Mode, false),
      KZ_FIELD(kzfFtpUploadEnabled, "ftp.upload", kzcpFtpService, FtpService()., UploadImageEnabled, false),
      KZ_FIELD(kzfFtpUploadInterval, "ftp.interval", kzcpFtpService, FtpService()., UploadInterval, false),
      TFieldRow{F::kzfFtpAddr, "ftp.address", G::kzcpFtpService, false,
                [](TKzCamera& c) {
                  auto& f = c.Parameters().FtpService();
                  return "ftp://" + f.Server() + "/" + f.UploadFolder();
                },
                [](TKzCamera& c, const std::string& v) {
                  std::string rest = v.rfind("ftp://", 0) == 0 ? v.substr(6) : v;
                  const size_t slash = rest.find('/');
                  auto& f = c.Parameters().FtpService();
                  f.InitServer(rest.substr(0, slash));
                  f.InitUploadFolder(slash == std::string::npos ? "" : rest.substr(slash + 1));
                }},
      KZ_FIELD(kzfMotionEnabled, "alarm.motion", kzcpAlarmService, AlarmService()., MotionDetectEnabled, false),
      KZ_FIELD(kzfMotionSensitivity, "alarm.sensitivity", kzcpAlarmService, AlarmService()., MotionDetectSensitivity,
               false),
      KZ_FIELD(kzfAlarmInputEnabled, "alarm.input", kzcpAlarmService, AlarmService()., AlarmInputEnabled, false),
      KZ_FIELD(kzfAlarmTriggerLevel, "alarm.inlevel", kzcpAlarmService, AlarmService()., AlarmTriggerLevel, false),
      KZ_FIELD(kzfIOLinkage, "alarm.iolinkage", kzcpAlarmService, AlarmService()., IOLinkage, false),
      KZ_FIELD(kzfOutputLevel, "alarm.outlevel", kzcpAlarmService, AlarmService()., OutputLevel, false),
      KZ_FIELD(kzfAlarmMail, "alarm.mail", kzcpAlarmService, AlarmService()., SendMail, false),
      KZ_FIELD(kzfAlarmUploadEnabled, "alarm.upload", kzcpAlarmService, AlarmService()., UploadImageEnabled, false),
      KZ_FIELD(kzfAlarmUploadInterval, "alarm.interval", kzcpAlarmService, AlarmService()., UploadImageInterval,
               false),
      KZ_FIELD(kzfAlarmRecord, "alarm.record", kzcpAlarmService, AlarmService()., AlarmRecord, false),
      KZ_FIELD(kzfRecordSecs, "alarm.recordsecs", kzcpAlarmService, AlarmService()., RecordSecs, false),
      KZ_FIELD(kzfSchedulerEnabled, "alarm.schedule", kzcpAlarmService, AlarmService()., SchedulerEnabled, false),
      KZ_FIELD(kzfSnapQuality, "alarm.snapquality", kzcpAlarmService, AlarmService()., SchedulerSnapPicQuality,
               false),
      KZ_FIELD(kzfSaveLocation, "alarm.savelocation", kzcpAlarmService, AlarmService()., SchedulerSaveLocation,
               false),
      KZ_FIELD(kzfTriggerInterval, "alarm.triggerinterval", kzcpAlarmService, AlarmService()., AlarmTriggerInterval,
               false),
      TFieldRow{F::kzfAlarmArmed, "alarm.armed", G::kzcpAlarmService, false,
                [](TKzCamera& c) {
                  auto& a = c.Parameters().AlarmService();
                  return Text(a.MotionDetectEnabled() || a.AlarmInputEnabled());
                },
                [](TKzCamera&, const std::string&) {}},
      KZ_FIELD(kzfBaudrate, "decoder.baud", kzcpDecoder, Decoder()., Bitrate, false),
      KZ_FIELD(kzfLedMode, "ptz.led", kzcpPTZSettingsLed, PTZSettings()., LedMode, false),
      KZ_FIELD(kzfAutoLed, "ptz.autoled", kzcpPTZSettingsLed, PTZSettings()., AutoLed, false),
      KZ_FIELD(kzfCenterOnStart, "ptz.center", kzcpPTZSettings, PTZSettings()., CenterOnStart, false),
      KZ_FIELD(kzfPatrolInterval, "ptz.patrolinterval", kzcpPTZSettings, PTZSettings()., AutoPatrolInterval, false),
      KZ_FIELD(kzfPatrolType, "ptz.patroltype", kzcpPTZSettings, PTZSettings()., AutoPatrolType, false),
      KZ_FIELD(kzfPatrolHoriz, "ptz.hrounds", kzcpPTZSettings, PTZSettings()., PatrolHoriz, false),
      KZ_FIELD(kzfPatrolVert, "ptz.vrounds", kzcpPTZSettings, PTZSettings()., PatrolVert, false),
      KZ_FIELD(kzfPatrolRate, "ptz.rate", kzcpPTZSettings, PTZSettings()., PatrolRate, false),
      KZ_FIELD(kzfPatrolUpRate, "ptz.uprate", kzcpPTZSettings, PTZSettings()., PatrolUpRate, false),
      KZ_FIELD(kzfPatrolDownRate, "ptz.downrate", kzcpPTZSettings, PTZSettings()., PatrolDownRate, false),
      KZ_FIELD(kzfPatrolLeftRate, "ptz.leftrate", kzcpPTZSettings, PTZSettings()., PatrolLeftRate, false),
      KZ_FIELD(kzfPatrolRightRate, "ptz.rightrate", kzcpPTZSettings, PTZSettings()., PatrolRightRate, false),
      KZ_IMAGE(kzfBrightness, "image.brightness", Brightness),
      KZ_IMAGE(kzfContrast, "image.contrast", Contrast),
      KZ_IMAGE(kzfHue, "image.hue", Hue),
      KZ_IMAGE(kzfSaturation, "image.saturation", Saturation),
      KZ_IMAGE(kzfSharpness, "image.sharpness", Sharpness),
      KZ_IMAGE(kzfVideoMode, "image.mode", VideoMode),
      KZ_IMAGE(kzfResolution, "image.resolution", VideoResolution),
      KZ_IMAGE(kzfFlip, "image.flip", Flip),
      TFieldRow{F::kzfFlipVertical, "image.flipvertical", G::kzcpImageSettings, false,
                [](TKzCamera& c) { return Text((c.Flip() & 1) != 0); },
                [](TKzCamera& c, const std::string& v) { c.InitFlip((c.Flip() & ~1) | (From<bool>(v) ? 1 : 0)); }},
      TFieldRow{F::kzfMirror, "image.mirror", G::kzcpImageSettings, false,
                [](TKzCamera& c) { return Text((c.Flip() & 2) != 0); },
                [](TKzCamera& c, const std::string& v) { c.InitFlip((c.Flip() & ~2) | (From<bool>(v) ? 2 : 0)); }},
      TFieldRow{F::kzfBitrate, "image.bitrate", G::kzcpImageSettings, false,
                [](TKzCamera& c) { return Text(c.Parameters().Bitrate()); },
                [](TKzCamera& c, const std::string& v) { c.Parameters().InitBitrate(From<int32_t>(v)); }},
      TFieldRow{F::kzfFrameRate, "image.fps", G::kzcpImageSettings, false,
                [](TKzCamera& c) { return Text(c.GetFramePerSecInt()); },
                [](TKzCamera& c, const std::string& v) {
                  if (const int64_t f = KzStrToIntDef(v, 0); f > 0) c.SetFramePerSec(static_cast<double>(f));
                }},
      KZ_IMAGE(kzfQuality, "image.quality", Quality),
      KZ_IMAGE(kzfFocusType, "image.focus", FocusType),
      KZ_IMAGE(kzfFocusDistance, "image.focusdistance", FocusDistance),
  };
  return rows;
}

const TFieldRow& Row(TKzCamField Field) {
  static const auto index = [] {
    std::array<const TFieldRow*, static_cast<size_t>(F::kzfCount)> a{};
    for (const TFieldRow& r : Rows()) a[static_cast<size_t>(r.Id)] = &r;
    for (const TFieldRow*& r : a)
      if (!r) r = &Rows().front();
    return a;
  }();
  const size_t i = static_cast<size_t>(Field);
  return i < index.size() ? *index[i] : Rows().front();
}
}  // namespace

const char* KzCamFieldName(TKzCamField Field) { return Row(Field).Name; }

TKzCamField KzCamFieldByName(const std::string& Name) {
  for (const TFieldRow& r : Rows())
    if (r.Id != F::kzfNone && Name == r.Name) return r.Id;
  return F::kzfNone;
}

bool KzCamFieldSecret(TKzCamField Field) { return Row(Field).Secret; }
uint8_t KzCamFieldGroup(TKzCamField Field) { return static_cast<uint8_t>(Row(Field).Group); }
std::string KzCamFieldGet(TKzCamera& Camera, TKzCamField Field) { return Row(Field).Get(Camera); }
void KzCamFieldInit(TKzCamera& Camera, TKzCamField Field, const std::string& Value) {
  Row(Field).Init(Camera, Value);
}

std::string KzCamScheduleGet(TKzCamera& Camera, int Row, int Day) {
  return std::to_string(Camera.Parameters().AlarmService().GetScheduler(Row, Day));
}
void KzCamScheduleInit(TKzCamera& Camera, int Row, int Day, const std::string& Value) {
  Camera.Parameters().AlarmService().InitScheduler(Row, Day, static_cast<int32_t>(KzStrToIntDef(Value, 0)));
}

}  // namespace kz
