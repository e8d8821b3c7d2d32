// kzviewer on a virtual X display, watching the synthetic camera: the window
// shows moving video in the view's place, with the view's caption and
// background colours where the view puts them.
// kz-test-labels: peer slow
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/camera/camera_rig.h"
#include "tests/kztestneed.h"
#include "tests/kzxvfb.h"

using namespace kztest;

TEST(Viewer, ShowsMovingVideoWithTheViewsColours) {
  const std::string viewer = AppPath("kzviewer"), sim = AppPath("kzcamsim");
  KZ_NEED(access(viewer.c_str(), X_OK) == 0, "kzviewer is not built (no SDL2)");
  TXvfb x(800, 600);
  KZ_NEED(x.Why().empty(), x.Why());
  TTempDir dir;
  const uint16_t port = FreePort();
  TPeer camera;
  ASSERT_TRUE(camera.Start({sim, "--port", std::to_string(port), "--size", "320x240", "--fps", "10", "--auth",
                            "digest", "--user", "admin", "--password", "secret", "--quiet"},
                           dir / "sim.log"));
  ASSERT_TRUE(camera.WaitListening(port, 10000)) << ReadFile(dir / "sim.log");
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/video.mjpg";
  TPeer window;
  // A sanitizer build starts and draws far slower: it gets longer to show both screenshots.
  const int seconds = kSanitized ? 45 : 12;
  ASSERT_TRUE(window.Start({viewer, "--size", "640x480", "--seconds", std::to_string(seconds), "--user", "admin", "--password", "secret",
                            url},
                           dir / "viewer.log"));

  // One view fills the 640 x 480 window at (0, 0): a 20-pixel caption in
  // 0x4F7EA7, below it a 640 x 460 client area where the 4:3 frame is
  // fitted to 613 x 460, centred, leaving bands of the view's colour 0x9FBEE7.
  std::vector<uint8_t> first;
  const bool shown = [&] {
    for (int i = 0; i < 40 && window.Alive(); ++i) {  // up to ~20 s of screenshots
      first = x.Screenshot();
      if (!first.empty() && x.Pixel(first, 630, 10) == 0x4F7EA7u && x.Pixel(first, 5, 240) == 0x9FBEE7u &&
          x.Pixel(first, 320, 240) != 0x9FBEE7u)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
  }();
  ASSERT_TRUE(shown) << (first.empty() ? std::string("no screenshot") : std::to_string(x.Pixel(first, 630, 10)) + " " +
                                                                            std::to_string(x.Pixel(first, 5, 240)))
                     << ReadFile(dir / "viewer.log");
  EXPECT_EQ(x.Pixel(first, 634, 240), 0x9FBEE7u);  // right band
  EXPECT_NE(x.Pixel(first, 700, 240), 0x9FBEE7u);  // outside the window

  // The frame counter (top-left of the picture) advances.
  std::vector<uint8_t> second;
  for (int i = 0; i < 80 && window.Alive(); ++i) {  // up to ~20 s of screenshots
    second = x.Screenshot();
    // The caption too: a window that went away changes those pixels as well.
    if (!second.empty() && x.Pixel(second, 630, 10) == 0x4F7EA7u && ChangedPixels(x, first, second, 13, 20, 250, 60) > 20)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  ASSERT_FALSE(second.empty());
  EXPECT_GT(ChangedPixels(x, first, second, 13, 20, 250, 60), 20);
  EXPECT_EQ(x.Pixel(second, 630, 10), 0x4F7EA7u);

  // It quits by itself when its time is up.
  for (int i = 0; i < 20 * (seconds + 3) && window.Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(window.Alive()) << ReadFile(dir / "viewer.log");
}
