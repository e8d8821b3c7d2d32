// The event recorder on real streams: the synthetic camera's disc moving 3 s
// twice, 4 s apart, gives one clip from 5 s before the first moving frame
// to 10 s after the last, holding the camera's JPEG bytes; H.264 from an
// RTSP server goes into clips and segments unchanged, each starting on a
// key frame; a full disk (a small tmpfs) stops with one error and a file
// that plays.
#include <filesystem>
#include <mutex>

#include "recorder/fmxMKzEventRecorder.h"
#include "tests/camera/camera_rig.h"
#include "tests/recorder/kzrecordertest.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {
namespace {

// Keeps every byte of the compressed stream a camera hands its packet consumers.
struct TRawStream : IKzCamPacketConsumer {
  void PacketStreamBytes(TComponent*, const uint8_t* Data, size_t Size) override {
    std::lock_guard<std::mutex> g(Lock);
    Bytes.append(reinterpret_cast<const char*>(Data), Size);
  }
  void PacketVideo(TComponent*, const TKzCompressedVideoPacket& P) override {
    std::lock_guard<std::mutex> g(Lock);
    Bytes.append(reinterpret_cast<const char*>(P.Data), P.Size);
  }
  std::mutex Lock;
  std::string Bytes;
};

struct TClipLog {
  std::mutex Lock;
  std::vector<std::string> Clips, Errors;
  std::vector<TKzEventFileInfo> Segments;
  void Attach(TKzEventRecorder& R) {
    R.OnClipFinished = [this](TKzEventRecorder*, const std::string& F, int64_t, int64_t,
                              const std::vector<TKzMotionEvent>&) { Add(Clips, F); };
    R.OnSegmentFinished = [this](TKzEventRecorder*, const TKzEventFileInfo& I) { Add(Segments, I); };
    R.OnError = [this](TKzEventRecorder*, const std::string& T) { Add(Errors, T); };
  }
  template <typename T>
  void Add(std::vector<T>& L, const T& V) {
    std::lock_guard<std::mutex> g(Lock);
    L.push_back(V);
  }
  template <typename T>
  size_t Count(const std::vector<T>& L) {
    std::lock_guard<std::mutex> g(Lock);
    return L.size();
  }
};

int64_t StampOf(const std::string& JpegFile) {
  TKzImageWrapper w;
  TKzMBitmap b;
  return w.LoadFromFile(JpegFile, &b) ? kzcamsim::KzSimReadStamp(b) : -1;
}

TEST(EventRecorder, MotionClipFromTheSyntheticCamera) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kzcamsim::TKzSimOptions so;
  so.MotionFrames = {{150, 225}, {325, 400}};  // 3 s at 6 s, again 4 s after its end
  so.DiscRadius = 150;
  kzcamsim::TKzCamSim sim(so);
  ASSERT_TRUE(sim.Start());
  kztest::TTempDir dir;
  kztest::TStreamRig rig(&sim);
  TRawStream raw;
  rig.Cam.RegisterCamPacketConsumer(&raw);
  TKzEventRecorder rec(nullptr);
  rec.OutputFolder = dir.Path();
  rec.MinRegionArea = 60000;  // the disc; the counter, clock and stamp change less
  TClipLog log;
  log.Attach(rec);
  rec.SetSource(&rig.Cam);
  rec.SetActive(true);
  ASSERT_TRUE(rec.Active());
  rig.Play(sim.StreamURL());
  // The clip ends 10 s after frame 399 (16 s into the stream); a second clip would need more motion.
  ASSERT_TRUE(PumpUntil([&] { return log.Count(log.Clips) > 0; }, 60000));
  ASSERT_TRUE(rig.WaitFrames(rig.Probe.Frames() + 25));
  rig.Stop();
  // Still stretches are watched a few times a second only, and the camera
  // need not decode for the recorder at all.
  const TKzEventRecorderStats stats = rec.Stats();
  EXPECT_LT(stats.MotionDecodes, stats.Packets * 2 / 3);
  EXPECT_TRUE(rec.DecodeSizeRequest().IsNone());
  rec.SetActive(false);
  rec.SetSource(nullptr);
  rig.Cam.UnRegisterCamPacketConsumer(&raw);
  ASSERT_EQ(log.Clips.size(), 1u);
  EXPECT_TRUE(log.Errors.empty());

  const std::string clip = log.Clips[0];
  EXPECT_EQ(kztest::CodecOf(clip, "v:0"), "mjpeg");
  EXPECT_EQ(kztest::DecodeErrors(clip), "");
  const std::string frames = dir / "frames";
  std::filesystem::create_directory(frames);
  ASSERT_EQ(std::system(("ffmpeg -v error -i '" + clip + "' -c copy -f image2 '" + frames + "/%05d.jpg'").c_str()), 0);
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(frames)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 100u);
  // Every frame is one the camera received, byte for byte, in order, and
  // none it received between the first and the last is missing.
  size_t at = 0, firstAt = 0;
  for (const std::string& f : files) {
    const std::string jpeg = kztest::ReadFile(f);
    at = raw.Bytes.find(jpeg, at);
    ASSERT_NE(at, std::string::npos) << f;
    if (f == files.front()) firstAt = at;
    ++at;
  }
  size_t received = 0;
  for (size_t p = firstAt; (p = raw.Bytes.find("\xFF\xD8\xFF", p)) != std::string::npos && p < at; ++p) ++received;
  EXPECT_EQ(received, files.size());
  // By ffprobe's times and the frame numbers drawn in the pictures: the
  // clip starts 5 s before the first moving frame (150) and ends 10 s after
  // the last frame reported moving (the detector reports a region one frame
  // after it stopped: frame 400), one frame (40 ms) either way.
  const auto times = kztest::Probe(clip, "v:0", "packet=pts_time");
  ASSERT_EQ(times.size(), files.size());
  auto timeOf = [&](int64_t Stamp) {
    for (size_t i = 0; i < files.size(); ++i)
      if (StampOf(files[i]) >= Stamp) return std::atof(times[i].c_str());
    return -1.0;
  };
  EXPECT_LT(StampOf(files.front()), 150);
  EXPECT_GE(timeOf(150), 5.0);
  EXPECT_LT(timeOf(150) - std::atof(times[1].c_str()), 5.0);
  // Seconds as ffprobe prints them: 16.6 - 6.6 is 10.000000000000002 in doubles.
  const double tail = std::atof(times.back().c_str()) - timeOf(400);
  EXPECT_LE(tail, 10.0 + 1e-6);
  EXPECT_GT(tail, 10.0 - 0.1);
}

TEST(EventRecorder, H264PacketsStoredUnchanged) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TRtspServer server(false, "/cam", {kztest::TRtspMedia::H264, false, true, 320, 240});
  KZ_NEED(server.Why().empty(), server.Why());
  kztest::TTempDir dir;
  kztest::TStreamRig rig;
  TKzEventRecorder rec(nullptr);
  rec.OutputFolder = dir.Path();
  rec.Mode = TKzEventRecordMode::kzermBoth;
  rec.PreRollSec = 1.5;
  rec.PostRollSec = 2;  // the ball always moves: one clip until the stop
  rec.SegmentSec = 2;
  TClipLog log;
  log.Attach(rec);
  rec.SetSource(&rig.Cam);
  rec.SetActive(true);
  rig.Play(server.Url());
  ASSERT_TRUE(PumpUntil([&] { return log.Count(log.Segments) >= 3; }, 60000));
  rig.Stop();
  rec.SetActive(false);
  rec.SetSource(nullptr);
  EXPECT_TRUE(log.Errors.empty());
  const std::vector<TKzEventFileInfo>& segments = log.Segments;
  ASSERT_GE(segments.size(), 3u);
  std::vector<std::string> files;
  for (const TKzEventFileInfo& s : segments) files.push_back(s.FileName);
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    if (e.path().string().find("_clip_") != std::string::npos) files.push_back(e.path());
  ASSERT_GT(files.size(), segments.size());
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    EXPECT_EQ(kztest::Probe(f, "v:0", "stream=codec_name,width,height"), std::vector<std::string>{"h264,320,240"});
    const auto packets = kztest::Probe(f, "v:0", "packet=flags");
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front()[0], 'K');
    EXPECT_EQ(kztest::DecodeErrors(f), "");
  }
  // Segments: the stream's bytes (start codes aside) and frames, no more, no less.
  for (const TKzEventFileInfo& s : segments) {
    int64_t bytes = 0;
    const auto packets = kztest::Probe(s.FileName, "v:0", "packet=size");
    for (const std::string& p : packets) bytes += std::atoll(p.c_str());
    EXPECT_EQ(int64_t(packets.size()), s.Frames);
    EXPECT_NEAR(double(bytes), double(s.Bytes), s.Bytes * 0.02 + 64);
    if (&s != &segments.back()) {
      EXPECT_NEAR(s.DurationMs, 2000, 1100);  // the last one ends at the stop
    }
  }
}

TEST(EventRecorder, FullDiskStopsWithOneErrorAndAPlayableFile) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(std::system("unshare -rm true 2>/dev/null") == 0, "a user and mount namespace for a small tmpfs");
  kztest::TTempDir dir;
  // About 1 MB/s of Motion-JPEG into 2 MB: full after two seconds or so.
  const std::string out = kztest::KztoolOnSmallDisk(
      dir, "2m", "record-events --camsim --out \"$MNT\" --mode continuous --seconds 5");
  EXPECT_EQ(kztest::Occurrences(out, "kztool record-events: "), 1u) << out;
  EXPECT_NE(out.find("No space left"), std::string::npos) << out;
  EXPECT_NE(out.find("rc=1"), std::string::npos) << out;
  kztest::ExpectOnePlayableFile(out, 25);
}

}  // namespace
}  // namespace kz
