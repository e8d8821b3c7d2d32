// kzviewer on a virtual X display, watching the synthetic camera: the window
// shows moving video in the view's place, with the view's caption and
// background colours where the view puts them; the wall with a main viewer
// follows keys sent to the window.
// kz-test-labels: peer slow
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <sstream>

#include "tests/camera/camera_rig.h"
#include "tests/kztestneed.h"
#include "tests/kzxvfb.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kztest;
using kz::TRect;

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

// The wall "1+5" on five streams of one synthetic camera, in a 640 x 480
// window: the main viewer on the left three quarters, five cells of 96
// rows each beside it. The selected cell has the red focus line; keys sent
// to the window move it, and the main viewer follows (its caption names the
// selected stream). The headless run writes the same wall.
TEST(Viewer, WallOfFiveCellsAndAMainViewerFollowsTheKeys) {
  const std::string viewer = AppPath("kzviewer"), sim = AppPath("kzcamsim");
  KZ_NEED(access(viewer.c_str(), X_OK) == 0, "kzviewer is not built (no SDL2)");
  KZ_NEED(HaveProgram("xdotool"), "xdotool is not installed");
  TXvfb x(800, 600);
  KZ_NEED(x.Why().empty(), x.Why());
  TTempDir dir;
  // The simulator picks five free ports itself and names each stream.
  TPeer camera;
  ASSERT_TRUE(camera.Start({sim, "--port", "0", "--ports", "5", "--size", "320x240", "--fps", "10", "--quiet"},
                           dir / "sim.log"));
  std::vector<std::string> urls;
  ASSERT_TRUE(kz::PumpUntil(
      [&] {
        urls.clear();
        std::istringstream log(ReadFile(dir / "sim.log"));
        for (std::string line; std::getline(log, line);)
          if (const size_t at = line.find("streaming on http://"); at != std::string::npos) urls.push_back(line.substr(at + 13));
        return urls.size() == 5;
      },
      10000))
      << ReadFile(dir / "sim.log");
  std::vector<std::string> args = {viewer, "--size", "640x480", "--seconds", "30", "--wall", "1+5"};
  args.insert(args.end(), urls.begin(), urls.end());
  TPeer window;
  ASSERT_TRUE(window.Start(args, dir / "viewer.log"));

  // Cell i of the column spans rows 96 i + 1 .. 96 i + 95 from x 481; its
  // frame line runs down x 481 below its 20-pixel caption.
  auto lineOf = [&](const std::vector<uint8_t>& Shot, int Cell) { return x.Pixel(Shot, 481, 96 * Cell + 60); };
  auto selected = [&](const std::vector<uint8_t>& Shot) {
    for (int c = 0; c < 5; ++c)
      if (lineOf(Shot, c) == 0xFF0000u) return c;
    return -1;
  };
  auto shotWhere = [&](const std::function<bool(const std::vector<uint8_t>&)>& Good) {
    std::vector<uint8_t> s;
    for (int i = 0; i < 80 && window.Alive(); ++i) {  // up to ~20 s of screenshots
      s = x.Screenshot();
      if (!s.empty() && Good(s)) return s;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return std::vector<uint8_t>{};
  };
  const auto first = shotWhere([&](const auto& S) { return selected(S) == 0 && x.Pixel(S, 240, 240) != 0x9FBEE7u; });
  ASSERT_FALSE(first.empty()) << ReadFile(dir / "viewer.log");
  // Six cells whose pictures move.
  const TRect cells[] = {{0, 21, 480, 480},   {481, 21, 640, 96},   {481, 117, 640, 192},
                         {481, 213, 640, 288}, {481, 309, 640, 384}, {481, 405, 640, 480}};
  const auto moved = shotWhere([&](const auto& S) {
    for (const TRect& r : cells)
      if (ChangedPixels(x, first, S, r.Left, r.Top, r.Right, r.Bottom) < 20) return false;
    return true;
  });
  EXPECT_FALSE(moved.empty()) << "every cell shows moving video";

  // Down twice, then End: the selection moves and the main viewer's caption
  // (the selected stream's address) changes with it. The strip compared
  // holds the whole address: the ports may differ in any of their digits.
  std::vector<uint8_t> before = first;
  for (auto [key, cell] : {std::pair{"Down", 1}, {"Down", 2}, {"End", 4}}) {
    const std::string cmd = "DISPLAY=" + x.Display + " xdotool mousemove 300 300 key " + key + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto after = shotWhere([&](const auto& S) { return selected(S) == cell; });
    ASSERT_FALSE(after.empty()) << key;
    EXPECT_GT(ChangedPixels(x, before, after, 2, 1, 300, 20), 0) << "main viewer caption after " << key;
    before = after;
  }
  window.Kill();

  // Headless, the same wall into PNG files.
  const std::string snaps = dir / "snaps";
  ASSERT_EQ(std::system(("mkdir -p " + snaps).c_str()), 0);
  std::vector<std::string> headless = {viewer, "--headless", "--snapshot", snaps, "--every", "500",
                                       "--seconds", "3", "--size", "640x480", "--wall", "1+5"};
  headless.insert(headless.end(), urls.begin(), urls.end());
  std::string cmd;
  for (const std::string& a : headless) cmd += a + " ";
  ASSERT_EQ(std::system((cmd + ">" + (dir / "headless.log") + " 2>&1").c_str()), 0) << ReadFile(dir / "headless.log");
  const std::string png = ReadFile(snaps + "/wall-005.png");
  kz::TKzMBitmap wall;
  ASSERT_TRUE(kz::KzCodecDecodePNG(reinterpret_cast<const uint8_t*>(png.data()), png.size(), wall));
  ASSERT_EQ(wall.Width(), 640);
  auto px = [&](int X, int Y) { return wall.Data()[size_t(Y) * 640 + X] & 0xFFFFFFu; };
  EXPECT_EQ(px(481, 60), 0xFF0000u) << "the first cell selected";
  EXPECT_EQ(px(481, 96 + 60), 0x4F7EA7u);
  EXPECT_NE(px(240, 240), 0x9FBEE7u) << "video in the main viewer";
}
