// The event recorder's logic on synthetic packet times: clips around motion
// (pre-roll, post-roll, merging), continuous segments over ten minutes of
// stream cut at key frames with every frame in exactly one file, the
// events side files, new files when the picture size changes, and
// retention under a size limit.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <map>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "recorder/fmxMKzEventFiles.h"
#include "recorder/fmxMKzEventInput.h"
#include "recorder/fmxMKzEventMotion.h"
#include "recorder/fmxMKzEventSession.h"
#include "tests/camera/camera_rig.h"
#include "tests/recorder/kzrecordertest.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {
namespace {

// A small real JPEG of W x H, padded with a comment so it is Bytes long at least.
std::vector<uint8_t> Jpeg(int W, int H, size_t Bytes = 0) {
  TKzImageWrapper enc;
  TMemoryStream s;
  const TKzMBitmap pic = kztest::Picture(W, H, 0x306090);
  enc.SaveToStream(s, &pic, 80);
  std::vector<uint8_t> j(s.Memory(), s.Memory() + s.Size());
  if (j.size() < Bytes) {
    // A COM segment right after SOI (at most 65533 bytes each).
    std::vector<uint8_t> com;
    for (size_t left = Bytes - j.size(); left > 0;) {
      const size_t n = std::min<size_t>(left, 65533);
      com.insert(com.end(), {0xFF, 0xFE, uint8_t((n + 2) >> 8), uint8_t((n + 2) & 0xFF)});
      com.insert(com.end(), n, 'x');
      left -= std::min(left, n + 4);
    }
    j.insert(j.begin() + 2, com.begin(), com.end());
  }
  return j;
}

// Feeds Seconds of a 25 fps stream (key frame every KeyEvery) starting at
// ms 0, with motion in the frames Moving says.
template <typename M>
void Feed(TKzEventSession& S, double Seconds, int KeyEvery, const std::vector<uint8_t>& Bytes, M&& Moving) {
  TKzEventPacketMaker maker;
  const auto data = std::make_shared<const std::vector<uint8_t>>(Bytes);
  for (int64_t n = 0; n < int64_t(Seconds * 25); ++n) {
    TKzEventPacket p = maker.FromJpeg(Bytes, n * 40);
    p.Data = data;
    p.Key = n % KeyEvery == 0;
    S.AddPacket(p);
    if (Moving(n)) S.AddMotion(n * 40, TKzEventRect{10, 10, 50, 50});
  }
  S.Finish();
}

TEST(EventSession, ClipsStartAtPreRollAndMergeWithinPostRoll) {
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  struct TCase {
    const char* Name;
    std::vector<std::pair<int, int>> Motion;         // frames [first, last)
    std::vector<std::pair<int64_t, int64_t>> Clips;  // first and last frame time (ms) of each clip
    int KeyEvery;
  };
  const TCase cases[] = {
      // 3 s of motion at 20 s: from 5 s before the first moving frame to 10 s after the last.
      {"one event", {{500, 575}}, {{15000, 32960}}, 1},
      // Two events 4 s apart make one clip.
      {"merged", {{500, 575}, {675, 750}}, {{15000, 39960}}, 1},
      // 15 s apart: two clips.
      {"separate", {{500, 575}, {950, 1025}}, {{15000, 32960}, {33000, 50960}}, 1},
      // Key frames every second: the clip starts at the last key frame at least 5 s back.
      {"key frames", {{510, 585}}, {{15000, 33360}}, 25},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    kztest::TTempDir dir;
    TKzEventSettings s;
    s.OutputFolder = dir.Path();
    TKzEventSession session(s);
    std::vector<TKzEventFileInfo> clips;
    session.OnClipFinished = [&](const TKzEventFileInfo& I) { clips.push_back(I); };
    Feed(session, 70, c.KeyEvery, Jpeg(32, 24), [&](int64_t n) {
      for (auto [a, b] : c.Motion)
        if (n >= a && n < b) return true;
      return false;
    });
    ASSERT_EQ(clips.size(), c.Clips.size());
    for (size_t i = 0; i < clips.size(); ++i) {
      EXPECT_EQ(clips[i].StartMs, c.Clips[i].first);
      EXPECT_EQ(clips[i].StartMs + clips[i].DurationMs, c.Clips[i].second);
      EXPECT_EQ(clips[i].Frames, (c.Clips[i].second - c.Clips[i].first) / 40 + 1);
      EXPECT_EQ(kztest::ProbeFrameCount(clips[i].FileName), clips[i].Frames);
    }
    EXPECT_EQ(clips.front().Events.size(), c.Name == std::string("merged") ? 2u : 1u);
  }
}

TEST(EventSession, SegmentsOfTenMinutesHoldEveryFrameOnce) {
  KZ_NEED(kztest::HaveProgram("ffprobe"), "ffprobe");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  TKzEventSettings s;
  s.Mode = TKzEventRecordMode::kzermContinuous;
  s.SegmentMs = 120000;
  s.OutputFolder = dir.Path();
  TKzEventSession session(s);
  std::vector<TKzEventFileInfo> segments;
  session.OnSegmentFinished = [&](const TKzEventFileInfo& I) { segments.push_back(I); };
  // 10.5 minutes, key frames every 13 frames (0.52 s): cuts cannot land on 2 minutes exactly.
  // Motion from 239 s to 242 s crosses the second cut.
  Feed(session, 630, 13, Jpeg(32, 24), [](int64_t n) { return n >= 239 * 25 && n < 242 * 25; });
  ASSERT_EQ(segments.size(), 6u);
  int64_t frames = 0;
  for (const TKzEventFileInfo& seg : segments) {
    const auto flags = kztest::Probe(seg.FileName, "v:0", "packet=flags");
    ASSERT_FALSE(flags.empty());
    EXPECT_EQ(flags.front()[0], 'K') << seg.FileName;
    EXPECT_EQ(int64_t(flags.size()), seg.Frames);
    EXPECT_EQ(seg.StartMs % (13 * 40), 0);
    frames += int64_t(flags.size());
  }
  EXPECT_EQ(frames, int64_t(630 * 25));
  // The motion is listed in both segments it touches, cut at the boundary.
  std::vector<TKzMotionEvent> a, b;
  ASSERT_TRUE(KzReadEventsSideFile(KzEventsSideFileName(segments[1].FileName), a));
  ASSERT_TRUE(KzReadEventsSideFile(KzEventsSideFileName(segments[2].FileName), b));
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(segments[1].StartMs + a[0].StartMs, 239000);
  EXPECT_EQ(b[0].StartMs, 0);
  EXPECT_EQ(segments[2].StartMs + b[0].EndMs, 241960);
  EXPECT_FALSE(std::filesystem::exists(KzEventsSideFileName(segments[0].FileName)));
}

TEST(EventSession, NewPictureSizeStartsNewFilesThatPlay) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  TKzEventSettings s;
  s.Mode = TKzEventRecordMode::kzermBoth;
  s.OutputFolder = dir.Path();
  TKzEventSession session(s);
  std::vector<TKzEventFileInfo> clips, segments;
  session.OnClipFinished = [&](const TKzEventFileInfo& I) { clips.push_back(I); };
  session.OnSegmentFinished = [&](const TKzEventFileInfo& I) { segments.push_back(I); };
  // 6 s at 32x24, then 6 s at 48x32; motion across the change.
  TKzEventPacketMaker maker;
  for (int64_t n = 0; n < 300; ++n) {
    session.AddPacket(maker.FromJpeg(n < 150 ? Jpeg(32, 24) : Jpeg(48, 32), n * 40));
    if (n >= 140 && n < 160) session.AddMotion(n * 40, TKzEventRect{1, 1, 9, 9});
  }
  session.Finish();
  // Each size in files of its own: a segment and a piece of the clip each.
  ASSERT_EQ(segments.size(), 2u);
  ASSERT_EQ(clips.size(), 2u);
  for (const auto* files : {&segments, &clips})
    for (size_t i = 0; i < 2; ++i) {
      const std::string& f = (*files)[i].FileName;
      EXPECT_EQ(kztest::Probe(f, "v:0", "stream=width,height"), std::vector<std::string>{i ? "48,32" : "32,24"});
      EXPECT_EQ(kztest::DecodeErrors(f), "") << f;
    }
  EXPECT_EQ(segments[0].Frames + segments[1].Frames, 300);
  EXPECT_EQ(clips[1].StartMs, 150 * 40);
}

TEST(EventSession, RetentionDeletesOldestFirstWithinTheFolderOnly) {
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir, outside;
  const std::string folder = dir / "rec";
  std::filesystem::create_directory(folder);
  // Things retention must leave alone: a file of another kind, a link to a
  // file outside, a sub-folder's recording; and one it must take by age.
  kztest::WriteFile(folder + "/notes.txt", std::string(1 << 20, 'n'));
  kztest::WriteFile(outside / "keep.mkv", std::string(1 << 20, 'k'));
  ASSERT_EQ(symlink((outside / "keep.mkv").c_str(), (folder + "/link.mkv").c_str()), 0);
  std::filesystem::create_directory(folder + "/sub");
  kztest::WriteFile(folder + "/sub/old.mkv", "x");
  kztest::WriteFile(folder + "/old.mkv", "x");
  const utimbuf past{time(nullptr) - 3 * 3600, time(nullptr) - 3 * 3600};
  ASSERT_EQ(utime((folder + "/old.mkv").c_str(), &past), 0);
  ASSERT_EQ(utime((folder + "/sub/old.mkv").c_str(), &past), 0);

  TKzEventSettings s;
  s.Mode = TKzEventRecordMode::kzermContinuous;
  s.SegmentMs = 10000;
  s.OutputFolder = folder;
  s.MaxDiskMB = 50;
  s.MaxAgeHours = 1;
  TKzEventSession session(s);
  std::vector<std::string> written, deleted;
  session.OnSegmentFinished = [&](const TKzEventFileInfo& I) {
    written.push_back(I.FileName);
    int64_t total = 0;
    for (const TKzRetentionFile& f : KzRetentionList(folder)) total += f.Bytes;
    EXPECT_LE(total, (50 << 20) + (6 << 20)) << "after " << I.FileName;  // the limit, and the next segment begun
  };
  session.OnRetentionDeleted = [&](const std::string& F) {
    EXPECT_EQ(session.BusyFiles().count(F), 0u) << F;
    deleted.push_back(F);
  };
  // 20 kB frames at 25 fps: 5 MB a segment, 150 MB in all.
  Feed(session, 300, 1, Jpeg(32, 24, 20000), [](int64_t) { return false; });
  ASSERT_EQ(written.size(), 30u);
  ASSERT_GE(deleted.size(), 20u);
  EXPECT_EQ(deleted.front(), folder + "/old.mkv");
  // The oldest segments went first, in order.
  for (size_t i = 1; i < deleted.size(); ++i) EXPECT_EQ(deleted[i], written[i - 1]);
  EXPECT_TRUE(std::filesystem::exists(folder + "/notes.txt"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/sub/old.mkv"));
  EXPECT_TRUE(std::filesystem::exists(outside / "keep.mkv"));
  EXPECT_TRUE(std::filesystem::exists(written.back()));
}

TEST(EventSession, PreRollOfSixteenCamerasStaysWithinItsBound) {
  // A second of 640x480 frames as the synthetic camera draws and codes them.
  TKzImageWrapper enc;
  TKzMBitmap pic;
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t n = 0; n < 25; ++n) {
    kzcamsim::KzSimDrawFrame(pic, 640, 480, n, 0);
    TMemoryStream s;
    ASSERT_TRUE(enc.SaveToStream(s, &pic, 80));
    frames.emplace_back(s.Memory(), s.Memory() + s.Size());
  }
  std::vector<TKzPreRollRing> rings(16);
  TKzEventPacketMaker maker;
  const int64_t before = kztest::ResidentBytes();
  // Ten seconds of every camera, each frame its own copy.
  for (int64_t n = 0; n < 250; ++n)
    for (TKzPreRollRing& r : rings) r.Add(maker.FromJpeg(frames[size_t(n % 25)], n * 40));
  const int64_t grown = kztest::ResidentBytes() - before;
  size_t bound = 0;
  for (const TKzPreRollRing& r : rings) {
    bound += r.PeakMemoryBytes();
    EXPECT_EQ(r.Packets().size(), 126u);  // 5 s and the frame that starts them
  }
  // Sanitizers keep freed memory and shadow of their own: there the leak
  // checker answers for memory instead.
  if (!kztest::kSanitized) EXPECT_LE(grown, int64_t(bound + bound / 16 + (4 << 20))) << "bound " << bound;
}

// The motion watch on the synthetic camera's JPEGs, checked twice a
// second: the motion runs from its first moving frame to the frame after its
// last (as a detector looking at every frame reports it), wherever it starts
// and stops between two checks, for a few decodes per start and stop.
TEST(EventSession, JpegMotionWatchFindsExactBoundariesBetweenChecks) {
  TKzImageWrapper enc;
  TKzMBitmap pic;
  for (const auto& [first, last] : {std::pair<uint32_t, uint32_t>{40, 90}, {44, 101}, {50, 63}}) {
    SCOPED_TRACE(std::to_string(first) + "-" + std::to_string(last));
    kzcamsim::TKzSimOptions o;
    o.MotionFrames = {{first, last}};
    TKzJpegMotionWatcher watch;
    TKzEventPacketMaker maker;
    std::vector<int64_t> moved;
    int64_t next = 0;
    const auto verdict = [&](const TKzEventPacket& F, bool Moved, const TKzEventRect& Bounds) {
      EXPECT_EQ(F.Dts, 40 * next++);
      if (!Moved) return;
      moved.push_back(F.Dts / 40);
      EXPECT_GT(Bounds.Area(), 60000);
    };
    const uint32_t frames = last + 40;
    for (uint32_t n = 0; n < frames; ++n) {
      kzcamsim::KzSimDrawFrame(pic, 640, 480, n, 1000 + 40 * n, kzcamsim::KzSimDiscNumber(o, n), 150);
      TMemoryStream s;
      ASSERT_TRUE(enc.SaveToStream(s, &pic, 80));
      watch.Add(maker.FromJpeg(std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()), 40 * n), 60000, verdict);
    }
    watch.Flush(verdict);
    EXPECT_EQ(next, frames);
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(moved.front(), first);
    EXPECT_EQ(moved.back(), last);
    EXPECT_EQ(moved.size(), last - first + 1);
    // A check every 13th frame, at most six decodes for a start and six for a stop.
    EXPECT_LE(watch.Decoded(), frames / 13 + 1 + 12);
  }
}

}  // namespace
}  // namespace kz
