// kz-test-labels: slow
// Long outages with the default settings: video comes back within two
// seconds of the camera's return also after the back-off has grown long,
// and the refused attempts leave no descriptor behind; a slow camera is not
// taken for a dead one.
#include <gtest/gtest.h>

#include "reconnect_rig.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

TEST(ReconnectOutage, VideoResumesAfterTwentyAndSixtySeconds) {
  const uint16_t port = FreePort();
  std::unique_ptr<TKzCamSim> sim = StartSim(port);
  ASSERT_TRUE(sim);
  TReconnectRig rig;
  rig.Play(StreamURL(port));
  ASSERT_TRUE(rig.WaitFrames(5));
  const size_t fds = OpenFds();
  for (const int outageMs : {20000, 60000}) {
    const size_t before = rig.Events.size();
    const int64_t resume = Outage(rig, sim, outageMs);
    EXPECT_GE(resume, 0) << outageMs;
    EXPECT_LE(resume, kResumeMs) << outageMs;
    // The attempts of this outage count from 1 and back off: far fewer than
    // one a second.
    ASSERT_GT(rig.Events.size(), before) << outageMs;
    EXPECT_EQ(rig.Events[before].first, 1u) << outageMs;
    EXPECT_LT(rig.Events.size() - before, static_cast<size_t>(outageMs / 2000)) << outageMs;
    EXPECT_TRUE(PumpUntil([&] { return !rig.Cam.IsReconnecting(); }, 2000)) << outageMs;
  }
  EXPECT_LE(OpenFds(), fds + 2);
  EXPECT_TRUE(rig.Ends.empty());
  EXPECT_LT(rig.Stop(), 1000);
  KzInetShutdown();
}

TEST(ReconnectOutage, HalfAFramePerSecondPlaysAMinuteOnOneConnection) {
  const uint16_t port = FreePort();
  std::unique_ptr<TKzCamSim> sim = StartSim(port, 0.5);
  ASSERT_TRUE(sim);
  TReconnectRig rig;
  rig.Play(StreamURL(port));
  ASSERT_TRUE(rig.WaitFrames(1, 10000));
  PumpFor(60000);
  EXPECT_TRUE(rig.Events.empty()) << rig.Events.front().second.Text;
  EXPECT_GE(rig.Probe.Frames(), 25);
  EXPECT_EQ(sim->Stats().Connections, 1u);
  EXPECT_LT(rig.Stop(), 1000);
  KzInetShutdown();
}
