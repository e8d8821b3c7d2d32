// kz-test-labels: peer
// ONVIF with real peers: a camera's search finds the fake as an ONVIF
// device and plays its H.264 profile from the GStreamer RTSP server; in a network namespace of its
// own, multicast discovery finds the fake, and Debian's onvif-util finds
// it too and, logged in, reads its profiles and RTSP URI.
#include <gtest/gtest.h>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kzcamsim;
using namespace kztest;

TEST(OnvifPeers, SearchedCameraPlaysItsH264Profile) {
  TRtspServer server(false, "/onvif", TRtspServerSetup{TRtspMedia::H264});
  KZ_NEED(server.Why().empty(), server.Why());
  TKzSimOptions o;
  o.Onvif = true;
  o.DiscoveryPort = 0;
  o.RtspURL = server.Url();
  TKzCamSim sim(o);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  TKzCamera cam(nullptr);
  cam.SetCameraHost("127.0.0.1");
  cam.SetCameraPort(sim.Port());
  cam.SetUserName("admin");
  cam.SetUserPassword("admin");
  cam.SetVideoFormat(TKzVideoFormat::kzvfH264);
  int32_t status = -1;
  cam.OnSearchComplete = [&](TComponent*, int32_t Status) { status = Status; };
  // Found by the search: no vendor answers, ONVIF does.
  ASSERT_TRUE(cam.SearchCamera({}));
  ASSERT_TRUE(PumpUntil([&] { return status >= 0; }, 30000));
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(cam.IPCameraTypes().Empty());
  TKzSimFrameProbe probe;
  cam.RegisterCamView(&probe);
  cam.PlayVideoStream();
  EXPECT_TRUE(PumpUntil([&] { return probe.Frames() >= 3; }, 20000));
  cam.Abort();
  cam.WaitForVideoStream();
  cam.UnRegisterCamView(&probe);
  const std::vector<std::string> seen = server.Requests();
  EXPECT_NE(std::find(seen.begin(), seen.end(), "PLAY"), seen.end());
}

TEST(OnvifPeers, MulticastDiscoveryAndOnvifUtilInANamespace) {
  KZ_NEED(std::system("unshare -rn true >/dev/null 2>&1") == 0, "no user and network namespaces here");
  KZ_NEED(access("/usr/bin/onvif-util", X_OK) == 0, "onvif-util (onvif-tools) is missing");
  TTempDir dir;
  // Loopback up with multicast and a route for 239.0.0.0/8: the fake's
  // responder joins the group there, as on a real interface.
  const std::string script =
      "set -e\nip link set lo up\nip link set lo multicast on\nip route add 239.0.0.0/8 dev lo\n" +
      AppPath("kzcamsim") + " --onvif --port 0 --quiet --seconds 30 --size 160x120 --fps 5" +
      " --rtsp-url rtsp://127.0.0.1:8554/onvif-test --onvif-user viewer:v1ew:user >" + (dir / "sim.out") + " 2>&1 &\nsim=$!\nset +e\n" +
      "for i in $(seq 50); do grep -q 'WS-Discovery' " + (dir / "sim.out") + " && break; sleep 0.1; done\n" +
      AppPath("kztool") + " onvif discover --timeout 1500 >" + (dir / "discover.out") + " 2>&1\n" +
      "timeout 20 onvif-util -a >" + (dir / "all.out") + " 2>&1\n" +
      "printf 'get rtsp\\nget profiles\\nquit\\n' | timeout 20 onvif-util -u viewer -p v1ew 127.0.0.1 >" +
      (dir / "login.out") + " 2>&1\n" + "kill $sim\nwait $sim\nexit 0\n";
  WriteFile(dir / "run.sh", script);
  ASSERT_EQ(std::system(("timeout 90 unshare -rn sh " + (dir / "run.sh")).c_str()), 0) << ReadFile(dir / "sim.out");
  const std::string discover = ReadFile(dir / "discover.out"), all = ReadFile(dir / "all.out"),
                    login = ReadFile(dir / "login.out");
  EXPECT_NE(discover.find("1 device(s)"), std::string::npos) << discover;
  EXPECT_NE(discover.find("/onvif/device_service name=kzcamsim"), std::string::npos) << discover;
  EXPECT_NE(all.find("127.0.0.1 (kzcamsim)"), std::string::npos) << all;
  EXPECT_NE(login.find("rtsp://127.0.0.1:8554/onvif-test"), std::string::npos) << login;
  EXPECT_NE(login.find("profile_jpeg"), std::string::npos) << login;
}
