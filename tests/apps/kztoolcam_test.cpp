// kztool cam and ptz against kzcamsim in each vendor mode: outputs, exit
// codes, what reaches the camera, and no secret in anything printed.
#include <gtest/gtest.h>

#include "apps/kzcamsim/kzcamsim_vendor.h"
#include "inet/fmxMKzURLFuncs.h"
#include "tests/apps/kztool_rig.h"
#include "tests/camera/vendor_rig.h"

using namespace kztest;

TEST(KztoolCam, EveryVendorMode) {
  const std::string secret = "p@ss:w/rd%9x";
  struct TVendor {
    const char* Name;
    const char* Admin;  // level words of the vendor
    const char* Operator;
    const char* Visitor;
    const char* Get;      // group read, and a line it prints
    const char* Line;
    const char* Set;      // group, field=value, and where the fake keeps it
    const char* FakeKey;
    const char* FakeValue;
  };
  const TVendor vendors[] = {
      {"foscam", "2", "1", "0", "all", "device.version=11.37.2.49", "ftp ftp.password=s3t", "get_params.ftp_pwd",
       "s3t"},
      {"foscam-hd", "2", "1", "0", "network", "network.mask=255.255.255.0", "network network.ip=10.0.0.9",
       "getIPInfo.ip", "10.0.0.9"},
      {"panasonic", "1", "2", "3", "image", "image.brightness=0", "image image.brightness=2", "bright.Data", "1"},
      {"dlink", "admin", "admin", "user", "device", "device.id=DCS-930", "device device.alias=hall",
       "isystem.CameraName", "hall"},
      {"axis", "admin", "operator", "viewer", "all", "ftp.mode=1", "image image.brightness=77", "ptz.brightness",
       "77"},
      {"mobotix", "admin", "user", "guest", "image", "image.brightness=0", "image image.brightness=-3",
       "imagecontrol.brightness", "-3"},
  };
  TTempDir dir;
  for (const TVendor& v : vendors) {
    SCOPED_TRACE(v.Name);
    TVendorRig rig(v.Name, {std::string("root:") + secret + ":" + v.Admin, std::string("op:op:") + v.Operator,
                            std::string("vis:vis:") + v.Visitor});
    ASSERT_TRUE(rig.Started) << rig.Error;
    const std::string at = AddressOf(rig.Sim) + " --vendor " + v.Name;
    const std::string root = at + " --user root --password '" + secret + "'";
    struct TCase {
      std::string Args;
      int Exit;
      std::string Text;
    };
    const TCase cases[] = {
        {"cam " + root + " get " + v.Get, 0, v.Line},
        {"cam " + root + " set " + v.Set, 0, "set " + std::string(v.Set).substr(0, std::string(v.Set).find(' ')) + ": ok"},
        {"cam " + root + " streams", 0, "mjpeg=http://"},
        {"cam " + at + " --user root --password wrong get " + v.Get, 1, "refused or failed"},
        {"cam " + root + " get nothing", 2, "unknown group"},
        {"ptz " + at + " --user op --password op left --for 50", std::string(v.Name) == "dlink" ? 1 : 0, ""},
        {"cam " + root + " --show-secrets get " + v.Get, 0, std::string(v.Line).substr(0, std::string(v.Line).find('.'))},
    };
    for (const TCase& c : cases) {
      const TToolRun r = RunKztool(dir, c.Args);
      EXPECT_EQ(r.Exit, c.Exit) << c.Args << "\n" << r.Out;
      EXPECT_NE(r.Out.find(c.Text), std::string::npos) << c.Args << "\n" << r.Out;
      EXPECT_EQ(r.Out.find(secret), std::string::npos) << c.Args << "\n" << r.Out;
      EXPECT_EQ(r.Out.find(kz::KzEncodeURLComponent(secret)), std::string::npos) << c.Args << "\n" << r.Out;
    }
    EXPECT_EQ(rig.Fake().Value(v.FakeKey), v.FakeValue);
  }
  // A visitor may not move a Foscam camera; the outcome of each request is printed.
  TVendorRig rig("foscam", {"vis:vis:0"});
  ASSERT_TRUE(rig.Started);
  const TToolRun r = RunKztool(dir, "ptz " + AddressOf(rig.Sim) + " --vendor foscam --user vis --password vis up");
  EXPECT_EQ(r.Exit, 1) << r.Out;
  EXPECT_NE(r.Out.find("decoder_control.cgi?command=0&user=***&pwd=*** failed"), std::string::npos) << r.Out;
}
