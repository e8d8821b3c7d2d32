// The recorder on the virtual clock: one picture per frame period whatever
// the source delivers, audio in step, the containers and codecs ffprobe
// names, continuation files, pausing and the failures that leave it inactive.
#include "tests/recorder/kzrecordertest.h"

namespace kz {
namespace {

using kztest::Picture;

class Recorder : public ::testing::Test {
protected:
  void SetUp() override {
    KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
    KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
    Rec.OnError = [this](TKzCamRecorder*, int32_t Code, const std::string& Text) {
      std::lock_guard<std::mutex> g(ErrorLock);
      Errors.emplace_back(Code, Text);
    };
  }
  std::vector<std::pair<int32_t, std::string>> TakeErrors() {
    std::lock_guard<std::mutex> g(ErrorLock);
    return std::exchange(Errors, {});
  }
  // One frame period of 40 ms: the picture (if any) and the period's sound
  // go in, the clock moves to the step's time and the encoder writes it.
  void Step(const TKzMBitmap* Pic, bool WithSound = true) {
    if (Pic) Video.Deliver(*Pic);
    if (WithSound) Sound.Deliver(40);
    if (Steps++ > 0) Clock.Clock.Advance(40);
    ASSERT_TRUE(PumpUntil([&] { return Rec.Stats().Steps >= Steps; }, 20000)) << "step " << Steps;
  }
  TKzVirtualClockScope Clock;
  kztest::TTempDir Dir;
  kztest::TPictureSource Video;
  kztest::TSoundSource Sound;
  TKzCamRecorder Rec{nullptr};
  int64_t Steps = 0;
  std::mutex ErrorLock;
  std::vector<std::pair<int32_t, std::string>> Errors;
};

// 5 pictures a second into 25 frames a second for 20 s: 500 frames 1/25 s
// apart, the odd size made even, 20 s of sound beside them.
TEST_F(Recorder, ConstantRateFromASlowerSource) {
  const std::string out = Dir / "slow.mp4";
  Rec.SetVideoSource(&Video);
  Rec.SetAudioSource(&Sound);
  Rec.SetOutputFileName(out);
  Rec.SetActive(true);
  ASSERT_TRUE(Rec.Active());
  const TKzMBitmap pics[2] = {Picture(641, 481, 0x2040C0), Picture(641, 481, 0xC04020)};
  for (int i = 0; i < 500; ++i) Step(i % 5 == 0 ? &pics[(i / 5) % 2] : nullptr);
  const TKzRecordStats stats = Rec.Stats();
  Rec.SetActive(false);
  EXPECT_EQ(stats.FramesRepeated, 400);
  EXPECT_EQ(stats.FramesSkipped, 0);
  EXPECT_TRUE(TakeErrors().empty());

  EXPECT_EQ(kztest::DecodeErrors(out), "");
  EXPECT_EQ(kztest::Probe(out, "v:0", "stream=width,height"), std::vector<std::string>{"640,480"});
  std::vector<double> pts;
  for (const std::string& l : kztest::Probe(out, "v:0", "packet=pts_time")) pts.push_back(std::atof(l.c_str()));
  std::sort(pts.begin(), pts.end());
  ASSERT_NEAR(double(pts.size()), 500, 10);
  for (size_t i = 1; i < pts.size(); ++i) ASSERT_NEAR(pts[i] - pts[i - 1], 0.04, 0.0005) << "at " << pts[i];
  EXPECT_NEAR(kztest::StreamSpan(out, "a:0"), 20.0, 0.1);
}

// Every container with its codecs, decoded clean and named by ffprobe.
TEST_F(Recorder, ContainersAndCodecs) {
  struct TRow {
    const char* Ext;
    TKzVideoCodec Vc;
    TKzAudioCodec Ac;
    const char* Video;  // "" for an audio-only file
    const char* Audio;
    int32_t BFrames;
  };
  const TRow rows[] = {
      {"mkv", TKzVideoCodec::kzvcHEVC, TKzAudioCodec::kzacOpus, "hevc", "opus", -1},
      {"avi", TKzVideoCodec::kzvcMJPEG, TKzAudioCodec::kzacWAV, "mjpeg", "pcm_s16le", -1},
      {"mpg", TKzVideoCodec::kzvcMPEG2, TKzAudioCodec::kzacMP2, "mpeg2video", "mp2", -1},
      {"flv", TKzVideoCodec::kzvcFLV1, TKzAudioCodec::kzacMP3, "flv1", "mp3", -1},
      {"mp4", TKzVideoCodec::kzvcH264, TKzAudioCodec::kzacAAC, "h264", "aac", 3},
      {"ogg", TKzVideoCodec::kzvcDefault, TKzAudioCodec::kzacVorbis, "", "vorbis", -1},
      {"wav", TKzVideoCodec::kzvcDefault, TKzAudioCodec::kzacWAV, "", "pcm_s16le", -1},
  };
  const TKzMBitmap pic = Picture(160, 120, 0x808080);
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Ext);
    const std::string out = Dir / (std::string("codecs.") + r.Ext);
    const bool video = *r.Video != 0;
    Rec.SetVideoSource(video ? &Video : nullptr);
    Rec.SetAudioSource(&Sound);
    Rec.SetVideoCodec(r.Vc);
    Rec.SetAudioCodec(r.Ac);
    Rec.SetAudioSampleFormat(r.Ac == TKzAudioCodec::kzacWAV ? TKzSampleFormat::kzsf16 : TKzSampleFormat::kzsfFloat);
    Rec.VideoEncodingParameters.MaxBFrameCount = r.BFrames;
    Rec.SetOutputFileName(out);
    Steps = 0;
    Rec.SetActive(true);
    ASSERT_TRUE(Rec.Active());
    for (int i = 0; i < 50; ++i) Step(video && i % 5 == 0 ? &pic : nullptr);
    Rec.SetActive(false);
    for (const auto& [code, text] : TakeErrors()) ADD_FAILURE() << code << " " << text;
    EXPECT_EQ(kztest::DecodeErrors(out), "");
    EXPECT_EQ(kztest::CodecOf(out, "a:0"), r.Audio);
    if (video) {
      EXPECT_EQ(kztest::CodecOf(out, "v:0"), r.Video);
      EXPECT_EQ(kztest::ProbeFrameCount(out), 50);  // B-frames included: as many frames as steps
    }
    EXPECT_NEAR(kztest::StreamSpan(out, "a:0"), 2.0, 0.08);
  }
  // No encoder for it here: the error names the codec and nothing records.
  Rec.SetVideoSource(nullptr);
  Rec.SetAudioCodec(TKzAudioCodec::kzacAMR);
  Rec.SetOutputFileName(Dir / "amr.3gp");
  Rec.SetActive(true);
  EXPECT_FALSE(Rec.Active());
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].second, "ffmpeg: Codec not found (amr_nb)");
}

// A new picture size continues in the "-1" file, the first one stays
// readable; paused time is cut out of the file.
TEST_F(Recorder, SizeChangeContinuesInNextFileAndPauseCutsTime) {
  const std::string out = Dir / "cam.mkv";
  Rec.SetVideoSource(&Video);
  Rec.SetOutputFileName(out);
  Rec.SetActive(true);
  const TKzMBitmap big = Picture(320, 240, 0x0000FF), small = Picture(160, 120, 0x00FF00);
  for (int i = 0; i < 25; ++i) Step(&big, false);
  Rec.SetPaused(true);
  for (int i = 0; i < 25; ++i) Step(&big, false);
  EXPECT_EQ(Rec.Stats().FramesEncoded, 25);
  Rec.SetPaused(false);
  for (int i = 0; i < 25; ++i) Step(&big, false);
  Video.Deliver(small);  // restarts; this picture itself is not recorded
  EXPECT_EQ(Rec.RecordingFileName(), Dir / "cam-1.mkv");
  Steps = 0;
  for (int i = 0; i < 10; ++i) Step(&small, false);
  Rec.SetActive(false);
  EXPECT_TRUE(TakeErrors().empty());
  EXPECT_EQ(kztest::DecodeErrors(out), "");
  EXPECT_EQ(kztest::ProbeFrameCount(out), 50);
  EXPECT_NEAR(kztest::ProbeDuration(out), 2.0, 0.05);
  EXPECT_EQ(kztest::Probe(out, "v:0", "stream=width,height"), std::vector<std::string>{"320,240"});
  EXPECT_EQ(kztest::ProbeFrameCount(Dir / "cam-1.mkv"), 10);
  EXPECT_EQ(kztest::Probe(Dir / "cam-1.mkv", "v:0", "stream=width,height"), std::vector<std::string>{"160,120"});
  // A fresh activation starts at OutputFileName again.
  Rec.SetActive(true);
  EXPECT_EQ(Rec.RecordingFileName(), out);
  Rec.SetActive(false);
}

// Failures leave the recorder inactive with a clear error.
TEST_F(Recorder, FailuresLeaveItInactive) {
  Rec.SetVideoSource(&Video);
  EXPECT_THROW(Rec.SetVideoFramePerSec(0), EKzMediaError);
  try {
    Rec.SetPaused(true);
    ADD_FAILURE() << "no error";
  } catch (const EKzMediaError& e) {
    EXPECT_STREQ(e.what(), "Cannot pause: recording is not started");
  }
  for (bool autoSize : {true, false}) {
    Rec.SetVideoAutoSize(autoSize);
    Rec.SetOutputFileName("/nonexistent-dir/out.mkv");
    Rec.SetActive(true);
    EXPECT_FALSE(Rec.Active());
    const auto errors = TakeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, 16);
    EXPECT_NE(errors[0].second.find("ffmpeg: Could not open \"/nonexistent-dir/out.mkv\""), std::string::npos);
  }
  // Without FFmpeg nothing starts and nothing crashes.
  ASSERT_FALSE(LoadFFMpegLibraries("/nonexistent"));
  Rec.SetOutputFileName(Dir / "none.mkv");
  Rec.SetActive(true);
  EXPECT_FALSE(Rec.Active());
  EXPECT_FALSE(Rec.IsRecording());
  ASSERT_TRUE(LoadFFMpegLibraries(""));
}

// Sources delivering from their own threads while recording starts and stops
// a hundred times; a freed source clears the recorder's reference.
TEST(RecorderCycles, StartStopWhileSourcesDeliver) {
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  auto video = std::make_unique<kztest::TPictureSource>();
  kztest::TSoundSource sound;
  TKzCamRecorder rec(nullptr);
  rec.SetVideoSource(video.get());
  rec.SetAudioSource(&sound);
  rec.SetVideoCodec(TKzVideoCodec::kzvcMJPEG);
  rec.SetAudioCodec(TKzAudioCodec::kzacWAV);
  rec.SetAudioSampleFormat(TKzSampleFormat::kzsf16);
  rec.SetOutputFileName(dir / "cycles.avi");
  std::atomic<bool> stop{false};
  const TKzMBitmap pic = Picture(96, 64, 0x336699);
  std::thread pictures([&] {
    while (!stop) {
      video->Deliver(pic);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::thread audio([&] {
    while (!stop) {
      sound.Deliver(10);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  for (int i = 0; i < 100; ++i) {
    rec.SetActive(true);
    EXPECT_TRUE(rec.Active());
    if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rec.SetActive(false);
  }
  stop = true;
  pictures.join();
  audio.join();
  EXPECT_EQ(kztest::DecodeErrors(dir / "cycles.avi"), "");
  video.reset();
  EXPECT_EQ(rec.VideoSource(), nullptr);
}

}  // namespace
}  // namespace kz
