// Motion-JPEG files played through the camera: every frame at file pacing,
// the pieces the file is fed in, the end report, and bad files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "camera/fmxMKzCamThreads.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestpeers.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
// A Motion-JPEG file of Count stamped frames, as multipart parts.
std::string MakeFile(int Count, int Width = 320, int Height = 240) {
  TKzImageWrapper encoder;
  TKzMBitmap picture;
  std::string file;
  for (int i = 0; i < Count; ++i) {
    KzSimDrawFrame(picture, Width, Height, static_cast<uint32_t>(i), 0);
    TMemoryStream s;
    encoder.SaveToStream(s, &picture, 80);
    file += "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(s.Size()) + "\r\n\r\n";
    file.append(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
    file += "\r\n";
  }
  return file;
}

int64_t FirstFrameSize(const std::string& Data, int64_t& Position) {
  TMemoryStream s;
  s.Write(Data.data(), static_cast<int64_t>(Data.size()));
  s.SetPosition(0);
  int64_t size = -1;
  if (!KzMJPEGFirstFrameSize(s, size)) size = -1;
  Position = s.Position();
  return size;
}
}  // namespace

TEST(MJPEGFile, FirstFrameSizeFromTheFirstEndMarker) {
  const std::string frame = "\xFF\xD8" + std::string(29996, 'j') + "\xFF\xD9";
  const std::string bigPrefix(65535, 'p');  // puts an end marker across the first read block
  struct {
    std::string Data;
    int64_t Size;
    int64_t Position;
  } cases[] = {
      {frame + frame, 30000, 0},
      {"--myboundary\r\n\r\n" + frame, 30000, 16},
      {bigPrefix + "\xFF\xD8zz\xFF\xD9", 6, 65535},
      {"\xFF\xD8" + bigPrefix + "\xFF\xD9", 65539, 0},
      {"\xFF\xD8\xFF\xD8x\xFF\xD9", 7, 0},   // the first start marker before the end
      {"abc\xFF\xD9\xFF\xD8x\xFF\xD9", -1, 0},  // an end without a start before it
      {"\xFF\xD8 no end", -1, 0},
      {"\xFF", -1, 0},
      {"", -1, 0},
  };
  for (const auto& c : cases) {
    int64_t position = -1;
    EXPECT_EQ(FirstFrameSize(c.Data, position), c.Size) << c.Data.substr(0, 20);
    EXPECT_EQ(position, c.Position) << c.Data.substr(0, 20);
  }
}

TEST(MJPEGFile, PlaysEveryFrameAtFilePacingInPiecesOfTheFirstFrame) {
  TTempDir dir;
  const std::string data = MakeFile(25);
  WriteFile(dir / "clip.mjpg", data);
  int64_t first = 0, position = 0;
  ASSERT_GT(first = FirstFrameSize(data, position), 0);

  TStreamRig rig;
  std::vector<int64_t> totals;
  rig.Cam.OnDebugDataRead = [&](TComponent*, int64_t Total, const std::string& Text) {
    totals.push_back(Total);
    EXPECT_EQ(Text, dir / "clip.mjpg");
  };
  int started = 0;
  rig.Cam.OnStartVideoFile = [&](TComponent*) { ++started; };
  const uint64_t t0 = KzMGetTickCount();
  rig.Cam.PlayVideoFile(dir / "clip.mjpg");
  ASSERT_TRUE(rig.Cam.IsFilePlaying());
  ASSERT_TRUE(rig.WaitEnd(30000));
  const uint64_t took = KzMGetTickCount() - t0;
  EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
  EXPECT_EQ(started, 1);
  // Every frame, in order (file mode decodes all of them)... The draw
  // thread keeps only the newest frame: slowed down by a sanitizer it may
  // lose a few to the next one.
  const std::vector<int64_t> stamps = rig.Probe.Stamps();
  EXPECT_GE(stamps.size(), kSanitized ? 20u : 25u);
  EXPECT_TRUE(!stamps.empty() && stamps.front() >= 0 && stamps.back() <= 24 &&
              std::adjacent_find(stamps.begin(), stamps.end(), std::greater_equal<int64_t>()) == stamps.end())
      << ::testing::PrintToString(stamps);
  // ...paced: the reader hands a piece about every 32 ms, so a second of
  // video never plays in less than half a second (unpaced it takes a few ms).
  EXPECT_GE(took, 500u);
  // The file went in pieces of the first frame's size (the last one shorter).
  PumpUntil([&] { return !totals.empty() && totals.back() == static_cast<int64_t>(data.size()); }, 2000);
  ASSERT_FALSE(totals.empty());
  EXPECT_EQ(totals.back(), static_cast<int64_t>(data.size()));
  for (size_t i = 0; i + 1 < totals.size(); ++i) EXPECT_EQ(totals[i], first * static_cast<int64_t>(i + 1));
}

TEST(MJPEGFile, FilesWithoutAFrameEndAtOnceWithFailure) {
  TTempDir dir;
  const std::string whole = MakeFile(1);
  struct {
    const char* Name;
    std::string Data;
  } cases[] = {
      {"text.mjpg", "no pictures in here\r\n"},
      {"cut.mjpg", whole.substr(0, whole.size() / 2)},
      {"empty.mjpg", ""},
  };
  for (const auto& c : cases) WriteFile(dir / c.Name, c.Data);
  for (const char* name : {"text.mjpg", "cut.mjpg", "empty.mjpg", "missing.mjpg"}) {
    TStreamRig rig;
    rig.Cam.PlayVideoFile(dir / name);
    ASSERT_TRUE(rig.WaitEnd(3000)) << name;
    EXPECT_EQ(rig.Ends, std::vector<int32_t>{1}) << name;
    EXPECT_EQ(rig.Probe.Frames(), 0) << name;
  }
}

TEST(MJPEGFile, AbortEndsPlayback) {
  TTempDir dir;
  WriteFile(dir / "long.mjpg", MakeFile(150, 160, 120));  // six seconds
  TStreamRig rig;
  rig.Cam.PlayVideoFile(dir / "long.mjpg");
  ASSERT_TRUE(rig.WaitFrames(5));
  EXPECT_LT(rig.Stop(), kStopBoundMs);
  EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
  EXPECT_LT(rig.Probe.Frames(), 150);  // not played to the end
}
