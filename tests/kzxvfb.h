// A virtual X display for the tests of desktop windows: Xvfb on a free
// display number, and screenshots of its root window as RGB bytes.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/kztestpeers.h"

namespace kztest {

class TXvfb {
public:
  // Starts a W x H display and points DISPLAY at it; Why() says what failed.
  TXvfb(int W = 800, int H = 600) : Width(W), Height(H) {
    if (!HaveProgram("Xvfb")) {
      FWhy = "Xvfb is not installed";
      return;
    }
    for (int n = 90 + getpid() % 50, tries = 0; tries < 20; ++n, ++tries) {
      const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      struct stat st;
      if (stat(sock.c_str(), &st) == 0 || stat(lock.c_str(), &st) == 0) continue;
      const std::string display = ":" + std::to_string(n);
      const std::string screen = std::to_string(W) + "x" + std::to_string(H) + "x24";
      if (!FPeer.Start({"Xvfb", display, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, FDir / "xvfb.log"))
        continue;
      for (int i = 0; i < 200 && FPeer.Alive(); ++i) {  // up to 10 s
        if (stat(sock.c_str(), &st) == 0) {
          Display = display;
          setenv("DISPLAY", display.c_str(), 1);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      FPeer.Kill();
    }
    FWhy = "Xvfb did not start: " + ReadFile(FDir / "xvfb.log");
  }
  const std::string& Why() const { return FWhy; }

  // The whole screen, 3 bytes per pixel, rows top-down; empty on failure.
  std::vector<uint8_t> Screenshot() const {
    const std::string file = FDir / "shot.rgb";
    const std::string cmd = "timeout 20 import -display " + Display + " -window root -depth 8 rgb:" + file +
                            " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    const std::string bytes = ReadFile(file);
    if (bytes.size() != size_t(Width) * Height * 3) return {};
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  // 0xRRGGBB of one pixel of a screenshot.
  uint32_t Pixel(const std::vector<uint8_t>& Shot, int X, int Y) const {
    const size_t i = (size_t(Y) * Width + X) * 3;
    return (uint32_t(Shot[i]) << 16) | (uint32_t(Shot[i + 1]) << 8) | Shot[i + 2];
  }

  int Width, Height;
  std::string Display;

private:
  TTempDir FDir;
  TPeer FPeer;
  std::string FWhy;
};

// Pixels of the rectangle L, T, R, Bottom that differ between two screenshots.
inline int ChangedPixels(const TXvfb& X, const std::vector<uint8_t>& A, const std::vector<uint8_t>& B, int L, int T,
                         int R, int Bottom) {
  int n = 0;
  for (int y = T; y < Bottom; ++y)
    for (int x = L; x < R; ++x) n += X.Pixel(A, x, y) != X.Pixel(B, x, y);
  return n;
}

}  // namespace kztest
