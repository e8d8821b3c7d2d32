// kz-test-labels: slow
// Many short outages leave memory and descriptors flat.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "reconnect_rig.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;


TEST(ReconnectSoak, FiftyOutagesKeepMemoryAndDescriptorsFlat) {
  const uint16_t port = FreePort();
  std::unique_ptr<TKzCamSim> sim = StartSim(port);
  ASSERT_TRUE(sim);
  TReconnectRig rig;
  rig.Play(StreamURL(port));
  ASSERT_TRUE(rig.WaitFrames(5));
  size_t fds = 0;
  int64_t resident = 0;
  for (int i = 0; i < 50; ++i) {
    if (i == 5) {  // after the warm-up
      fds = OpenFds();
      resident = ResidentBytes();
    }
    const size_t events = rig.Events.size();
    sim.reset();
    ASSERT_TRUE(rig.WaitEvents(events + 1)) << i;
    sim = StartSim(port);
    ASSERT_TRUE(sim) << i;
    ASSERT_TRUE(rig.WaitFrames(rig.Probe.Frames() + 3, 20000)) << i;
  }
  EXPECT_LE(OpenFds(), fds + 2);
  // Sanitizers keep freed memory of their own; there the leak checker
  // answers for memory instead.
  if (!kSanitized) {
    EXPECT_LT(ResidentBytes() - resident, 16 << 20);
  }
  EXPECT_LE(KzInetPoolCount(), 1u);
  EXPECT_TRUE(rig.Ends.empty());
  EXPECT_LT(rig.Stop(), 1000);
  KzInetShutdown();
}
