// The receiver as a recording source: pictures a sender sends over loopback
// are recorded at the recorder's own constant rate, and into motion clips
// and segments by the event recorder.
#include <filesystem>

#include "platform/fmxMKzPlatformMainThread.h"
#include "recorder/fmxMKzEventRecorder.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "tests/recorder/kzrecordertest.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {
namespace {

// A receiver on loopback and a sender pushing to it: Send hands over two
// colours in turn, five pictures each, at about 25 a second.
struct TSendToReceiver {
  TKzCamReceiver Receiver{nullptr};
  kztest::TPictureSource Feed;
  TKzCamSender Sender{nullptr};
  bool Start() {
    Receiver.SetPort(0);
    Receiver.SetActive(true);
    if (!PumpUntil([&] { return Receiver.ListeningPort() != 0; }, 10000)) return false;
    Sender.SetVideoSource(&Feed);
    Sender.SetReceiverHost("127.0.0.1");
    Sender.SetReceiverPort(Receiver.ListeningPort());
    Sender.SetActive(true);
    return true;
  }
  void Send(int Count) {
    const TKzMBitmap pics[2] = {kztest::Picture(320, 240, 0x2040C0), kztest::Picture(320, 240, 0xC04020)};
    for (int i = 0; i < Count; ++i) {
      TKzImageWrapper w;
      w.GetBitmap().Assign(pics[i / 5 % 2]);
      Sender.SenderGetImage(&Feed, w, 0, TGUID{});
      PumpUntil([] { return false; }, 40);
    }
  }
  void Stop() {
    Sender.SetActive(false);
    Receiver.SetActive(false);
  }
};

TEST(RecorderReceiver, RecordsWhatASenderSends) {
  KZ_NEED(kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string out = dir / "received.mkv";
  TSendToReceiver link;
  TKzCamRecorder rec(nullptr);
  rec.SetVideoSource(&link.Receiver);
  rec.SetOutputFileName(out);
  // The link first: the file takes its size from the first picture only
  // within two seconds of activation (a slow start would open it at 720×576).
  ASSERT_TRUE(link.Start());
  rec.SetActive(true);
  ASSERT_TRUE(rec.Active());
  link.Send(50);
  EXPECT_TRUE(PumpUntil([&] { return rec.Stats().FramesEncoded - rec.Stats().FramesRepeated >= 10; }, 10000))
      << rec.Stats().FramesEncoded << " frames, " << rec.Stats().FramesRepeated << " repeated";
  rec.SetActive(false);
  link.Stop();
  rec.SetVideoSource(nullptr);
  EXPECT_EQ(kztest::DecodeErrors(out), "");
  EXPECT_EQ(kztest::Probe(out, "v:0", "stream=width,height"), std::vector<std::string>{"320,240"});
  // The file holds the frames the recorder encoded (its rate depends on the machine).
  EXPECT_GE(kztest::ProbeFrameCount(out), 10);
}

TEST(RecorderReceiver, EventRecorderMakesClipsAndSegmentsOfIt) {
  KZ_NEED(kztest::HaveProgram("ffmpeg") && kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  TSendToReceiver link;
  TKzEventRecorder rec(nullptr);
  rec.Mode = TKzEventRecordMode::kzermBoth;
  rec.PreRollSec = 1;
  rec.PostRollSec = 30;  // one clip, however unevenly a slow (sanitizer) build delivers the frames
  rec.OutputFolder = dir.Path();
  rec.SetSource(&link.Receiver);
  rec.SetActive(true);
  ASSERT_TRUE(rec.Active());
  ASSERT_TRUE(link.Start());
  link.Send(50);
  EXPECT_TRUE(PumpUntil([&] { return rec.Stats().Packets >= 10 && rec.Stats().MotionFrames > 0; }, 10000));
  link.Stop();
  rec.SetActive(false);
  rec.SetSource(nullptr);
  // The pictures (JPEG-encoded here, nothing compressed comes from a receiver) in a clip and a segment.
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    if (e.path().extension() == ".mkv") files.push_back(e.path());
  ASSERT_EQ(files.size(), 2u);
  for (const std::string& f : files) {
    EXPECT_EQ(kztest::CodecOf(f, "v:0"), "mjpeg") << f;
    EXPECT_EQ(kztest::Probe(f, "v:0", "stream=width,height"), std::vector<std::string>{"320,240"}) << f;
    EXPECT_EQ(kztest::DecodeErrors(f), "") << f;
  }
}

}  // namespace
}  // namespace kz
