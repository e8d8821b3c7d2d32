// The engine's pure parts: the options FFmpeg is given, URLs with inserted
// credentials, the drop rule; the capability lists of the
// FFmpeg installed here and of none.
#include <gtest/gtest.h>

#include <algorithm>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "ffmpeg/fmxMKzFFmpegLists.h"
#include "tests/kztestpeers.h"

namespace kz {
namespace {

std::string Joined(const TKzFFmpegOptionList& L) {
  std::string out;
  for (const auto& [n, v] : L) out += n + "=" + v + ";";
  return out;
}

TEST(FFmpegEngine, OptionsUnderFFmpegsNames) {
  const std::string whitelistNet = "protocol_whitelist=rtsp,rtp,udp,tcp,http,https,tls,httpproxy;";
  TKzFFmpegOptions o;
  o.ProxyManual = true;
  o.ProxyHost = "proxy";
  o.ProxyPort = 3128;
  o.RTSPTransport = 0;
  o.RTSPFlags = kzRtspListen | kzRtspFilterSrc;
  o.IsVideo = false;
  o.STimeout = 5000000;
  o.TimeOut = 7;
  o.ProbeSize = 10;
  o.CustomProperties = {"user_agent=kz test", "broken line", "=x"};
  EXPECT_EQ(Joined(KzFFmpegInputOptions(o, false)),
            "http_proxy=http://proxy:3128;rtsp_transport=none;rtsp_flags=listen+filter_src;allowed_media_types=audio;"
            "max_delay=0;timeout=5000000;buffer_size=1000000;timeout=7;recv_buffer_size=65535;tcp_nodelay=0;"
            "bitrate=0;burst_bits=0;overrun_nonfatal=1;probesize=32;user_agent=kz test;protocol_whitelist=file;");
  o.UseFFMpegProperty = false;
  EXPECT_EQ(Joined(KzFFmpegInputOptions(o, true)), whitelistNet);
  EXPECT_EQ(Joined(KzFFmpegDecoderOptions(TKzFFmpegOptions{})), "threads=0;");
}

TEST(FFmpegEngine, URLsGetCredentialsAndPorts) {
  TKzFFmpegOptions o;
  o.UserName = "admin";
  o.UserPassword = "pw";
  o.RTSPPort = 8554;
  o.HTTPPort = 8080;
  const struct {
    const char *In, *Out;
  } cases[] = {
      {"rtsp://cam/live", "rtsp://admin:pw@cam:8554/live"},
      {"rtsp://cam:554/live", "rtsp://admin:pw@cam:554/live"},
      {"rtsp://me:x@cam/live", "rtsp://me:x@cam:8554/live"},
      {"http://cam?x=1", "http://admin:pw@cam:8080?x=1"},
      {"/tmp/file.mp4", "/tmp/file.mp4"},
  };
  for (const auto& c : cases) EXPECT_EQ(KzFFmpegMakeURL(c.In, o), c.Out) << c.In;
}

TEST(FFmpegEngine, DropRuleShowsEverySixthLateFrame) {
  TKzMFFMPEG player;
  std::string shown;
  for (const bool drop : {true, false}) {
    player.Options.FrameDrop = drop;
    for (int i = 0; i < 8; ++i) {
      double wait = -0.05;  // late
      shown += player.ShouldDropFrame(wait, false) ? "d" : "s";
      if (!drop) {
        EXPECT_DOUBLE_EQ(wait, 0.01);
      }
    }
    double wait = -0.05;
    shown += player.ShouldDropFrame(wait, true) ? "d" : "S";  // the first picture is never dropped
    EXPECT_DOUBLE_EQ(wait, -0.05);
    wait = 0.02;
    shown += player.ShouldDropFrame(wait, false) ? "d" : "s";
    shown += "|";
  }
  EXPECT_EQ(shown, "dddddsddSs|ssssssssSs|");
}

TEST(FFmpegEngine, CapabilityListsFollowTheLoadedFFmpeg) {
  ASSERT_TRUE(LoadFFMpegLibraries("")) << LastFFmpegBindError();
  TKzFFmpegList formats, rates, video;
  GetListOfAvailableFFmpegFileFormats(formats);
  EXPECT_NE(std::find(formats.begin(), formats.end(), std::make_pair(std::string("MKV"), int64_t(5))), formats.end());
  GetListOfAvailableSampleRates(TKzAudioCodec::kzacAMR, TKzSampleFormat::kzsf16, rates);
  EXPECT_EQ(rates, (TKzFFmpegList{{"8000", 8000}}));
  GetListOfAvailableFFmpegVideoCodecs(video, "Default", true);
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(video[0], std::make_pair(std::string("Default"), int64_t(0)));
  std::vector<std::string> decoders, longNames;
  ASSERT_TRUE(GetListOfVideoDecoders(decoders, &longNames));
  EXPECT_EQ(decoders.size(), longNames.size());
  EXPECT_NE(std::find(decoders.begin(), decoders.end(), "h264"), decoders.end());

  kztest::TTempDir empty;
  EXPECT_FALSE(LoadFFMpegLibraries(empty.Path()));
  GetListOfAvailableFFmpegFileFormats(formats);
  EXPECT_TRUE(formats.empty());
  EXPECT_FALSE(GetListOfAudioEncoders(decoders));
  EXPECT_TRUE(decoders.empty());
  // Without FFmpeg playing returns at once and reports nothing.
  TKzMFFMPEG player;
  bool called = false;
  player.OnChangeState = [&](void*, TKzFFMState) { called = true; };
  player.PlayVideo("/nonexistent.mp4");
  EXPECT_FALSE(called);
  EXPECT_EQ(player.State(), TKzFFMState::kzffmsInit);
}

}  // namespace
}  // namespace kz
