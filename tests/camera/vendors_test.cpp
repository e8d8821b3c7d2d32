// The vendor interfaces against kzcamsim in each vendor mode: groups written
// and read back, single properties, moves, users, privileges, values that
// try to add parameters, and replies that are not what they should be.
#include <gtest/gtest.h>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"
#include "inet/fmxMKzURLFuncs.h"
#include "tests/camera/camera_rig.h"
#include "tests/camera/vendor_rig.h"

using namespace kz;
using namespace kztest;
using F = TKzCamField;
using G = TKzCamPropertyGroup;

namespace {
// Writes Group through the camera's property thread (which reads it back).
bool Apply(TKzCamera& Cam, G Group) {
  bool sent = false;
  for (int32_t n = 0;; ++n) {
    const std::string url = TKzIPCameraAPI::SetToCameraURL(Cam, Group, n);
    if (url.empty()) return sent;
    if (!Cam.Parameters().Update(url, Group)) return false;
    sent = true;
  }
}

struct TRoundTrip {
  const char* Vendor;
  G Group;
  std::vector<std::pair<F, std::string>> Set;  // fields written (the last is checked on the camera's side)
  const char* FakeKey;                          // where the fake keeps the last field
  const char* FakeValue;                        // what it holds then (nullptr: the value itself)
};
}  // namespace

// Every settings group: the write changes the fake, a later read brings it
// back into a camera whose field was changed meanwhile.
TEST(Vendors, GroupsWrittenAndReadBack) {
  const std::string nasty = "a&pwd=x#%\r\n\xC3\xBC=?";
  const std::vector<TRoundTrip> rows = {
      {"foscam", G::kzcpNetwork, {{F::kzfIPAddr, "10.1.2.3"}}, "get_params.ip", nullptr},
      {"foscam", G::kzcpDateTimeParameter, {{F::kzfNTPServer, "ntp.example.invalid"}}, "get_params.ntp_svr", nullptr},
      {"foscam", G::kzcpWirelessLan, {{F::kzfWifiUsed, "1"}, {F::kzfWifiSSID, "kz lab"}}, "get_params.wifi_ssid",
       nullptr},
      {"foscam", G::kzcpADSL, {{F::kzfADSLUser, "dsl"}, {F::kzfADSLPassword, "a@b:c/d%"}}, "get_params.pppoe_pwd",
       nullptr},
      {"foscam", G::kzcpMailService, {{F::kzfMailNeedAuth, "1"}, {F::kzfMailUser, nasty}}, "get_params.mail_user",
       nullptr},
      {"foscam", G::kzcpFtpService, {{F::kzfFtpUser, "ftpuser"}, {F::kzfFtpPassword, "pw"}}, "get_params.ftp_pwd",
       nullptr},
      {"foscam", G::kzcpAlarmService, {{F::kzfMotionEnabled, "1"}, {F::kzfMotionSensitivity, "7"}},
       "get_params.alarm_motion_sensitivity", nullptr},
      {"foscam", G::kzcpDecoder, {{F::kzfBaudrate, "12"}}, "get_params.decoder_baud", nullptr},
      {"foscam", G::kzcpPTZSettings, {{F::kzfPatrolRate, "3"}}, "get_misc.ptz_patrol_rate", nullptr},
      {"foscam", G::kzcpPTZSettingsLed, {{F::kzfLedMode, "2"}}, "get_misc.led_mode", nullptr},
      {"foscam-hd", G::kzcpNetwork, {{F::kzfDynamicIP, "0"}, {F::kzfIPAddr, "10.4.5.6"}}, "getIPInfo.ip", nullptr},
      {"foscam-hd", G::kzcpDateTimeParameter, {{F::kzfNTPServer, "pool.example.invalid"}},
       "getSystemTime.ntpServer", nullptr},
      {"foscam-hd", G::kzcpWirelessLan, {{F::kzfWifiUsed, "1"}, {F::kzfWifiPSK, nasty}}, "getWifiConfig.psk",
       nullptr},
      {"foscam-hd", G::kzcpMailService, {{F::kzfMailServer, "smtp.example.invalid"}, {F::kzfMailReceivers, "a@x,b@y"}},
       "getSMTPConfig.reciever", nullptr},
      {"foscam-hd", G::kzcpFtpService, {{F::kzfFtpServer, "ftp.invalid"}, {F::kzfFtpFolder, "up"}},
       "getFtpConfig.ftpAddr", "ftp://ftp.invalid/up"},
      {"foscam-hd", G::kzcpAlarmService, {{F::kzfMotionEnabled, "1"}, {F::kzfMotionSensitivity, "3"}},
       "getMotionDetectConfig.sensitivity", nullptr},
      {"foscam-hd", G::kzcpDecoder, {{F::kzfBaudrate, "1048576"}}, "getVideoStreamParam.bitRate", nullptr},
      {"foscam-hd", G::kzcpPTZSettings, {{F::kzfPatrolRate, "4"}}, "getPTZSpeed.speed", nullptr},
      {"foscam-hd", G::kzcpPTZSettingsLed, {{F::kzfAutoLed, "0"}}, "getInfraLedConfig.mode", "1"},
  };
  for (const TRoundTrip& r : rows) {
    SCOPED_TRACE(std::string(r.Vendor) + " " + KzCamFieldName(r.Set.back().first));
    TVendorRig rig(r.Vendor, {"root:a@b:c/d%:2"});
    ASSERT_TRUE(rig.Started) << rig.Error;
    rig.As("root", "a@b:c/d%", TKzUserAccess::uaAdmin);
    for (const auto& [field, value] : r.Set) KzCamFieldInit(rig.Cam, field, value);
    ASSERT_TRUE(Apply(rig.Cam, r.Group));
    const std::string want = r.Set.back().second;
    EXPECT_EQ(rig.Fake().Value(r.FakeKey), r.FakeValue ? r.FakeValue : want);
    KzCamFieldInit(rig.Cam, r.Set.back().first, "changed");
    ASSERT_TRUE(TKzIPCameraAPI::GetFromCamera(rig.Cam, r.Group));
    if (want.find('\n') == std::string::npos && want.find('&') == std::string::npos) {  // replies end values there
      EXPECT_EQ(KzCamFieldGet(rig.Cam, r.Set.back().first), want);
    }
    for (const std::string& t : rig.Targets(false)) EXPECT_EQ(t.find(' '), std::string::npos) << t;
  }
}

// Reads of the groups the fake starts with, for the vendors that only read.
TEST(Vendors, ReadOnlyGroups) {
  struct TRow {
    const char* Vendor;
    G Group;
    F Field;
    const char* Want;
  };
  const TRow rows[] = {
      {"foscam", G::kzcpParameters, F::kzfVersion, "11.37.2.49"},
      {"foscam", G::kzcpImageSettings, F::kzfResolution, "3"},
      {"foscam-hd", G::kzcpParameters, F::kzfID, "FI9821W"},
      {"foscam-hd", G::kzcpImageSettings, F::kzfResolution, "3"},
      {"panasonic", G::kzcpImageSettings, F::kzfBrightness, "0"},
      {"dlink", G::kzcpParameters, F::kzfID, "DCS-930"},
      {"axis", G::kzcpParameters, F::kzfVersion, "4.49"},
      {"axis", G::kzcpNetwork, F::kzfSubnetMask, "255.255.255.0"},
      {"axis", G::kzcpMailService, F::kzfMailReceivers, "ops@example.invalid"},
      {"axis", G::kzcpFtpService, F::kzfFtpMode, "1"},
      {"axis", G::kzcpDateTimeParameter, F::kzfDate, "2024/05/17"},
      {"axis", G::kzcpImageSettings, F::kzfBrightness, "5000"},
      {"mobotix", G::kzcpImageSettings, F::kzfBrightness, "0"},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(std::string(r.Vendor) + " " + KzCamFieldName(r.Field));
    TVendorRig rig(r.Vendor, {});
    ASSERT_TRUE(rig.Started) << rig.Error;
    rig.As("admin", "admin", TKzUserAccess::uaAdmin);
    KzCamFieldInit(rig.Cam, r.Field, "9");
    ASSERT_TRUE(TKzIPCameraAPI::GetFromCamera(rig.Cam, r.Group));
    EXPECT_EQ(KzCamFieldGet(rig.Cam, r.Field), r.Want);
  }
}
