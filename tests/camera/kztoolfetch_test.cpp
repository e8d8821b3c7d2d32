// kztool fetch: frames counted, the result line, PNG pictures, refused
// credentials without a terminal, and what it cannot play.
#include <gtest/gtest.h>

#include <regex>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "inet/fmxMKzInet.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestpeers.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

TEST(KztoolFetch, CountsFramesWritesPicturesAndReportsFailures) {
  const std::string tool = AppPath("kztool");
  ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool;
  // The password is not the user name: a printed password must show.
  TKzCamSim sim(
      {.Width = 320, .Height = 240, .Auth = TKzSimAuth::kzsaDigest, .Password = "pw-Q7x", .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TTempDir dir;
  TKzMBitmap picture;
  KzSimDrawFrame(picture, 160, 120, 3, 0);
  TKzImageWrapper encoder;
  TMemoryStream jpeg;
  encoder.SaveToStream(jpeg, &picture, 80);
  std::string clip;
  for (int i = 0; i < 10; ++i) clip.append(reinterpret_cast<const char*>(jpeg.Memory()), static_cast<size_t>(jpeg.Size()));
  WriteFile(dir / "clip.mjpg", clip);

  struct {
    std::string Args;
    int Exit;
    const char* Frames;  // the result line's count, or nullptr when there is no line
    const char* Err;     // text on stderr
    int Pictures;
  } cases[] = {
      {sim.StreamURL() + " --user admin --password pw-Q7x --frames 20 --out " + (dir / "png"), 0, "20", "20 pictures", 20},
      {dir / "clip.mjpg", 0, "10", "", 0},
      // Played through FFmpeg: its reason reaches the camera, which tries again.
      {"rtsp://127.0.0.1:1/x --seconds 2", 1, nullptr, "127.0.0.1:1: connection refused; trying again (attempt 1)", 0},
  };
  for (const auto& c : cases) {
    const TToolRun r = RunTool(dir, tool + " fetch " + c.Args);
    EXPECT_EQ(r.Exit, c.Exit) << c.Args << "\n" << r.Err;
    const std::string& result = r.Out;
    if (c.Frames) {
      std::smatch m;
      ASSERT_TRUE(std::regex_search(result, m, std::regex("^frames: (\\d+) fps: (\\d+\\.\\d)\\n$"))) << result;
      // The draw thread keeps only the newest frame: on a loaded machine one
      // of a file's frames may be replaced by the next before it is drawn,
      // slowed down by a sanitizer a few.
      const int want = std::stoi(c.Frames), got = std::stoi(m[1].str());
      EXPECT_LE(got, want) << c.Args;
      EXPECT_GE(got, want - (kSanitized ? 3 : 1)) << c.Args;
    } else {
      EXPECT_EQ(result, "") << c.Args;
    }
    EXPECT_NE(r.Err.find(c.Err), std::string::npos) << c.Args << "\n" << r.Err;
    EXPECT_EQ((result + r.Err).find("pw-Q7x"), std::string::npos) << c.Args;  // never printed
    if (c.Pictures > 0) {
      int pngs = 0;
      for (const auto& e : std::filesystem::directory_iterator(dir / "png")) pngs += e.path().extension() == ".png";
      EXPECT_EQ(pngs, c.Pictures);
      KzSimDrawFrame(picture, 1, 1, 0, 0);
      ASSERT_TRUE(encoder.LoadFromFile(dir / "png/frame-000001.png"));
      EXPECT_EQ(encoder.GetBitmap().Width(), 320);
      EXPECT_GE(KzSimReadStamp(encoder.GetBitmap()), 0);  // the simulator's picture, read back from the PNG
    }
  }
}
