// kz-test-labels: peer slow
// kzviewer on a virtual X display with two synthetic cameras, one starting
// late and one taken away for ten seconds: both views show live video again.
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/kzxvfb.h"

using namespace kztest;

namespace {
// Pixels of Rect that differ between two screenshots.
int ChangedPixels(const TXvfb& X, const std::vector<uint8_t>& A, const std::vector<uint8_t>& B, int L, int T, int R,
                  int Bottom) {
  int n = 0;
  for (int y = T; y < Bottom; ++y)
    for (int x = L; x < R; ++x) n += X.Pixel(A, x, y) != X.Pixel(B, x, y);
  return n;
}
}  // namespace

TEST(ViewerReconnect, LateAndInterruptedCamerasAreLiveAgain) {
  const std::string viewer = AppPath("kzviewer"), sim = AppPath("kzcamsim");
  if (access(viewer.c_str(), X_OK) != 0) {
    if (std::getenv("CI")) FAIL() << "kzviewer is not built";
    GTEST_SKIP() << "kzviewer is not built (no SDL2)";
  }
  TXvfb x(800, 600);
  if (!x.Why().empty()) {
    if (std::getenv("CI")) FAIL() << x.Why();
    GTEST_SKIP() << x.Why();
  }
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
