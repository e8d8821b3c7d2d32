// kz-test-labels: slow
// A minute of streaming with every fault mode on: video keeps coming, and
// memory and descriptors stay flat.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/camera/camera_rig.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

TEST(CameraSoak, AMinuteOfFaultsKeepsVideoAndMemoryFlat) {
  TKzSimOptions o;
  o.Width = 640;
  o.Height = 480;
  o.Chunked = true;
  o.Auth = TKzSimAuth::kzsaDigest;
  o.Faults.GarbageEvery = 7;
  o.Faults.TruncateEvery = 11;
  o.Faults.CorruptEvery = 13;
  o.Faults.CloseAfterFrames = 300;
  o.Faults.StallAfterFrames = 150;
  o.Faults.StallMs = 2000;
  TKzCamSim sim(o);
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  rig.Play(sim.StreamURL(), "admin", "admin");
  ASSERT_TRUE(rig.WaitFrames(1, 10000));

  PumpFor(15000);  // warmed up: buffers and pools at their working size
  const int64_t rss = ResidentBytes();
  const int fds = static_cast<int>(OpenFds());
  int64_t lastFrames = rig.Probe.Frames();
  // A sanitized build decodes 640x480 many times slower (a few frames a
  // second, fewer on a loaded machine): there the 45 s only have to bring video.
  const int64_t warmFrames = lastFrames;
  for (int i = 0; i < 9; ++i) {  // 45 s more, in pieces that each must bring video
    PumpFor(5000);
    const int64_t frames = rig.Probe.Frames();
    if (!kSanitized) {
      EXPECT_GT(frames - lastFrames, 25) << "between " << 15 + 5 * i << " s and " << 20 + 5 * i << " s";
    }
    lastFrames = frames;
  }
  EXPECT_GT(lastFrames, warmFrames);
  const int64_t grown = ResidentBytes() - rss;
  std::printf("soak: %lld frames, %d stream requests, resident memory %+lld KiB, descriptors %d -> %d\n",
              static_cast<long long>(rig.Probe.Frames()), CountRequests(sim, "/video.mjpg"),
              static_cast<long long>(grown / 1024), fds, static_cast<int>(OpenFds()));
  // Sanitizers keep freed memory and access histories of their own; there
  // the leak checker answers for memory instead.
  if (!kSanitized) {
    EXPECT_LT(grown, 8 << 20) << "resident memory grew by " << grown << " bytes";
  }
  EXPECT_LE(static_cast<int>(OpenFds()), fds + 8);
  EXPECT_TRUE(rig.Ends.empty());
  // The faults made it reconnect (they come every so many frames: fewer in a slow sanitizer build).
  EXPECT_GE(CountRequests(sim, "/video.mjpg"), kSanitized ? 2 : 5);
  EXPECT_LT(rig.Stop(), kStopBoundMs);
  KzInetShutdown();
}
