// kztool identify against kzcamsim: one address in several vendor modes and
// as an ONVIF device, a scan of fifty fakes each on its own loopback
// address, refused ranges.
#include <gtest/gtest.h>

#include "apps/kzcamsim/kzcamsim_vendor.h"
#include "tests/apps/kztool_rig.h"
#include "tests/camera/vendor_rig.h"

using namespace kztest;

namespace {
TToolRun Identify(const TTempDir& Dir, const std::string& Args) { return RunKztool(Dir, "identify " + Args); }
}  // namespace

TEST(KztoolIdentify, OneAddress) {
  const std::string secret = "s3cr:et@x";
  struct TRow {
    const char* Vendor;  // "onvif": an ONVIF device of no vendor family
    const char* User;
    int Exit;
    std::vector<std::string> Lines;  // "STREAM" stands for the fake's own stream URL
  };
  const std::vector<TRow> rows = {
      {"foscam-hd", "2", 0, {"types: foscam", "protocol: ver1.2", "access: admin", "model: FI9821W"}},
      {"dlink", "user", 0, {"types: dlink", "access: visitor", "alias: kzcamsim"}},
      {"mobotix", "guest", 1, {"types: -", "access: present"}},
      {"onvif", "operator", 0, {"types: onvif", "access: operator", "model: kzcamsim", "stream: STREAM"}},
  };
  TTempDir dir;
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Vendor);
    const std::string user = "u:" + secret + ":" + r.User;
    kzcamsim::TKzCamSim fake(std::string(r.Vendor) == "onvif" ? OnvifFakeOptions("", {user}) : VendorOptions(r.Vendor, {user}));
    std::string error;
    ASSERT_TRUE(fake.Start(&error)) << error;
    const TToolRun run = Identify(dir, AddressOf(fake) + " --user u --password '" + secret + "'");
    EXPECT_EQ(run.Exit, r.Exit) << run.Out;
    for (std::string l : r.Lines) {
      if (const size_t at = l.find("STREAM"); at != std::string::npos) l.replace(at, 6, fake.StreamURL());
      EXPECT_NE(run.Out.find(l + "\n"), std::string::npos) << l << "\n" << run.Out;
    }
    EXPECT_EQ(run.Out.find(secret), std::string::npos) << run.Out;
  }
  // A model-table URL is printed without the credentials it carries. Several
  // rows name this path, with their own parameters or none; whichever
  // answers first is printed.
  kzcamsim::TKzCamSim sim(StreamPathOptions("/videostream.cgi"));
  ASSERT_TRUE(sim.Start());
  const TToolRun run = Identify(dir, AddressOf(sim) + " --types unknown --user u --password '" + secret + "'");
  EXPECT_EQ(run.Exit, 0) << run.Out;
  EXPECT_NE(run.Out.find("url: http://127.0.0.1:" + std::to_string(sim.Port()) + "/videostream.cgi"), std::string::npos)
      << run.Out;
  EXPECT_EQ(run.Out.find(secret), std::string::npos) << run.Out;
}

// Fifty fakes in mixed modes, each on its own address of 127.0.0.0/26: the
// scan reports exactly those addresses with their vendors.
TEST(KztoolIdentify, ScanOfARange) {
  struct TMode {
    const char* Vendor;  // "": ONVIF only
    const char* Admin;
    const char* Types;
  };
  const TMode modes[] = {{"foscam", "2", "foscam"},  {"foscam-hd", "2", "foscam"}, {"panasonic", "1", "panasonic"},
                         {"dlink", "admin", "dlink"}, {"axis", "admin", "axis"},    {"mobotix", "admin", "mobotix"},
                         {"", "admin", "onvif"}};
  const uint16_t port = FreePort();
  std::vector<std::unique_ptr<kzcamsim::TKzCamSim>> fakes;
  std::map<std::string, std::string> expected;
  for (int i = 0; i < 50; ++i) {
    const TMode& m = modes[i % std::size(modes)];
    const std::string admin = std::string("admin:admin:") + m.Admin;
    kzcamsim::TKzSimOptions o = *m.Vendor ? VendorOptions(m.Vendor, {admin}) : OnvifFakeOptions("", {admin});
    o.BindAddress = "127.0.0." + std::to_string(i + 2);
    o.Port = port;
    fakes.push_back(std::make_unique<kzcamsim::TKzCamSim>(o));
    std::string error;
    ASSERT_TRUE(fakes.back()->Start(&error)) << error;
    expected[o.BindAddress + ":" + std::to_string(port)] = m.Types;
  }
  TTempDir dir;
  const TToolRun run = Identify(dir, "--scan 127.0.0.0/26 --ports " + std::to_string(port) +
                                 " --send-credentials --user admin --password admin");
  ASSERT_EQ(run.Exit, 0) << run.Out;
  std::map<std::string, std::string> found;
  std::istringstream in(run.Out.substr(run.Out.find("ADDRESS")));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.rfind("scan: ", 0) == 0) continue;  // progress, once a second on a slow machine
    std::istringstream words(line);
    std::string address, types;
    if (words >> address >> types) found[address] = types;
  }
  EXPECT_EQ(found, expected) << run.Out;
}

TEST(KztoolIdentify, RefusedCommandLines) {
  TTempDir dir;
  for (const char* args : {"--scan 10.0.0.0/16", "--scan 224.0.0.0/28", "--scan 255.255.255.255/32",
                           "--scan 127.0.0.0/30 127.0.0.1", "127.0.0.1:0", "127.0.0.1 --types sony",
                           "127.0.0.1 --format avi"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Identify(dir, args).Exit, 2);
  }
}
