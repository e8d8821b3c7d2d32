// The receiver as a recording source: pictures a sender sends over loopback
// are recorded at the recorder's own constant rate.
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "tests/recorder/kzrecordertest.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {
namespace {

TEST(RecorderReceiver, RecordsWhatASenderSends) {
  KZ_NEED(kztest::HaveProgram("ffprobe"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string out = dir / "received.mkv";
  TKzCamReceiver receiver(nullptr);
  receiver.SetPort(0);
  receiver.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return receiver.ListeningPort() != 0; }, 10000));
  TKzCamRecorder rec(nullptr);
  rec.SetVideoSource(&receiver);
  rec.SetOutputFileName(out);
  rec.SetActive(true);
  ASSERT_TRUE(rec.Active());
  kztest::TPictureSource feed;
  TKzCamSender sender(nullptr);
  sender.SetVideoSource(&feed);
  sender.SetReceiverHost("127.0.0.1");
  sender.SetReceiverPort(receiver.ListeningPort());
  sender.SetActive(true);
  const TKzMBitmap pics[2] = {kztest::Picture(320, 240, 0x2040C0), kztest::Picture(320, 240, 0xC04020)};
  for (int i = 0; i < 50; ++i) {
    TKzImageWrapper w;
    w.GetBitmap().Assign(pics[i / 5 % 2]);
    sender.SenderGetImage(&feed, w, 0, TGUID{});
    PumpUntil([] { return false; }, 40);
  }
  EXPECT_TRUE(PumpUntil([&] { return rec.Stats().FramesEncoded - rec.Stats().FramesRepeated >= 10; }, 10000))
      << rec.Stats().FramesEncoded << " frames, " << rec.Stats().FramesRepeated << " repeated";
  rec.SetActive(false);
  sender.SetActive(false);
  receiver.SetActive(false);
  rec.SetVideoSource(nullptr);
  EXPECT_EQ(kztest::DecodeErrors(out), "");
  EXPECT_EQ(kztest::Probe(out, "v:0", "stream=width,height"), std::vector<std::string>{"320,240"});
  // The file holds the frames the recorder encoded (its rate depends on the machine).
  EXPECT_GE(kztest::ProbeFrameCount(out), 10);
}

}  // namespace
}  // namespace kz
