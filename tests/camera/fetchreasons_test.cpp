// kz-test-labels: peer
// kztool fetch says why a source failed, a different reason for each cause.
#include <gtest/gtest.h>

#include <set>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
std::string StreamArgs(uint16_t Port) {
  return "http://127.0.0.1:" + std::to_string(Port) + "/video.mjpg --seconds 2";
}

// The line kztool ends a failed fetch with.
std::string Reason(const std::string& Err) {
  const std::string mark = "kztool fetch: ";
  const size_t at = Err.rfind(mark);
  return at == std::string::npos ? std::string() : Err.substr(at + mark.size(), Err.find('\n', at) - at - mark.size());
}
}  // namespace

TEST(FetchReasons, EachCauseHasItsOwnReasonAndExitOne) {
  ASSERT_EQ(access(AppPath("kztool").c_str(), X_OK), 0);
  TTempDir dir;
  TKzCamSim sim({.Width = 160, .Height = 120, .Auth = TKzSimAuth::kzsaBasic, .Faults = {}});
  ASSERT_TRUE(sim.Start());
  std::filesystem::create_directories(dir / "www");
  WriteFile(dir / "www/index.html", "<html><body>a camera's start page</body></html>\n");
  WriteFile(dir / "empty.mjpg", "");
  TApacheServer apache(dir, dir / "www", {"mime", "authz_core"}, "TypesConfig /etc/mime.types\n");
  KZ_NEED(apache.Why().empty(), apache.Why());
  const std::string simHost = "127.0.0.1:" + std::to_string(sim.Port());
  const uint16_t free = FreePort();
  struct {
    std::string Args, Reason;
  } cases[] = {
      {StreamArgs(free), "cannot reach 127.0.0.1:" + std::to_string(free) + ": connection refused"},
      {"http://camera.invalid/video.mjpg --seconds 2", "cannot resolve camera.invalid: name not found"},
      {"http://" + simHost + "/wrongpath.cgi --user admin --password admin", "HTTP 404 Not Found from /wrongpath.cgi"},
      {apache.Url("/index.html"), "not a video stream: /index.html is text/html"},
      {dir / "empty.mjpg", (dir / "empty.mjpg") + " is empty"},
      {sim.StreamURL() + " --user admin --password 'p@ss:w/rd%'", "login refused by " + simHost + " (HTTP 401 Unauthorized)"},
  };
  std::set<std::string> seen;
  for (const auto& c : cases) {
    const TToolRun r = RunTool(dir, AppPath("kztool") + " fetch " + c.Args);
    EXPECT_EQ(r.Exit, 1) << c.Args << "\n" << r.Err;
    EXPECT_EQ(Reason(r.Err), c.Reason) << c.Args << "\n" << r.Err;
    EXPECT_EQ(r.Err.find("p@ss"), std::string::npos) << r.Err;
    seen.insert(Reason(r.Err));
  }
  EXPECT_EQ(seen.size(), std::size(cases));
}
