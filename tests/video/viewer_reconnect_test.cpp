// kz-test-labels: peer slow
// kzviewer on a virtual X display with two synthetic cameras, one starting
// late and one taken away for ten seconds: both views show live video again.
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/kztestneed.h"
#include "tests/kzxvfb.h"

using namespace kztest;

TEST(ViewerReconnect, LateAndInterruptedCamerasAreLiveAgain) {
  const std::string viewer = AppPath("kzviewer"), sim = AppPath("kzcamsim");
  KZ_NEED(access(viewer.c_str(), X_OK) == 0, "kzviewer is not built (no SDL2)");
  TXvfb x(800, 600);
  KZ_NEED(x.Why().empty(), x.Why());
  TTempDir dir;
  const uint16_t late = FreePort(), cut = FreePort();
  auto argv = [&](uint16_t Port) {
    return std::vector<std::string>{sim, "--port", std::to_string(Port), "--size", "320x240", "--fps", "10", "--quiet"};
  };
  TPeer lateCamera, cutCamera;
  ASSERT_TRUE(cutCamera.Start(argv(cut), dir / "cut.log"));
  ASSERT_TRUE(cutCamera.WaitListening(cut, 10000));
  TPeer window;
  ASSERT_TRUE(window.Start({viewer, "--size", "640x480", "--seconds", "40", "http://127.0.0.1:" + std::to_string(late) +
                            "/video.mjpg", "http://127.0.0.1:" + std::to_string(cut) + "/video.mjpg"},
                           dir / "viewer.log"));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  cutCamera.Kill();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_TRUE(lateCamera.Start(argv(late), dir / "late.log"));  // 5 s after the viewer
  std::this_thread::sleep_for(std::chrono::seconds(8));
  ASSERT_TRUE(cutCamera.Start(argv(cut), dir / "cut.log"));  // 10 s after it went
  std::this_thread::sleep_for(std::chrono::seconds(3));

  // Two cells of 320 x 480; each view's 4:3 picture sits in the middle of
  // its client area, the frame counter at the picture's top-left. The
  // counters advance in both.
  const std::vector<uint8_t> first = x.Screenshot();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const std::vector<uint8_t> second = x.Screenshot();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  for (const int cell : {0, 320}) {
    EXPECT_GT(ChangedPixels(x, first, second, cell + 2, 128, cell + 160, 170), 20)
        << "cell at " << cell << "\n" << ReadFile(dir / "viewer.log");
  }
  EXPECT_TRUE(window.Alive());
}
