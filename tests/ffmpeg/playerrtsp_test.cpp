// kz-test-labels: peer
// RTSP through the engine: H.264 and H.265 from the GStreamer RTSP server
// over TCP and UDP, H.264 pushed by ffmpeg into listen mode, Digest logins,
// and a server that stalls or dies.
#include <future>

#include "tests/camera/camera_rig.h"
#include "tests/ffmpeg/kzffmpegtest.h"

namespace kz {
namespace {

using kztest::TPlayLog;
using kztest::TRtspMedia;
using kztest::TRtspServer;

class FFmpegRtsp : public ::testing::Test {
protected:
  void SetUp() override { KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError()); }

  // Plays Url on a thread of its own; the future ends with PlayVideo.
  std::future<void> Play(TKzMFFMPEG& Player, const std::string& Url) {
    return std::async(std::launch::async, [&Player, Url] { Player.PlayVideo(Url); });
  }
  // Aborts and expects PlayVideo to end well within the bound.
  static void AbortAndWait(TKzMFFMPEG& Player, std::future<void>& Done) {
    Player.Abort();
    ASSERT_EQ(Done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  }
  // The pictures' mean spacing in stream time (the source's rate, not the wall clock's).
  static double MeanSpacing(TPlayLog& Log) {
    std::lock_guard<std::mutex> g(Log.Lock);
    return (Log.Times.back() - Log.Times.front()) / double(Log.Times.size() - 1);
  }
};

TEST_F(FFmpegRtsp, PlaysH264AndH265AtTheSourceRateInTheirColours) {
  const struct {
    TRtspMedia Media;
    uint16_t Transport;
  } cases[] = {{TRtspMedia::H264, kzRtspTCP}, {TRtspMedia::H264, kzRtspUDP}, {TRtspMedia::H265, kzRtspTCP}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.Media) * 10 + c.Transport);
    TRtspServer server(false, "/cam", {c.Media});
    KZ_NEED(server.Why().empty(), server.Why());
    TKzMFFMPEG player;
    TPlayLog log;
    log.Attach(player);
    player.Options.RTSPTransport = c.Transport;
    auto done = Play(player, server.Url());
    EXPECT_TRUE(log.WaitFor(20000, [&] { return log.Times.size() >= 50 || !log.Errors.empty(); }));
    AbortAndWait(player, done);
    ASSERT_GE(log.Times.size(), 50u) << (log.Errors.empty() ? "" : log.Errors[0].second);
    EXPECT_NEAR(MeanSpacing(log), 0.04, 0.04 / 25);  // 25 ± 1 fps
    EXPECT_EQ(log.Width, 640);
    const std::array<int, 3> want{0xC0, 0x80, 0x30};
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(log.Centre[size_t(ch)], want[size_t(ch)], 3) << "channel " << ch;
    const std::vector<TKzFFMState> states{TKzFFMState::kzffmsStarting, TKzFFMState::kzffmsPlaying,
                                          TKzFFMState::kzffmsStopping, TKzFFMState::kzffmsInit};
    EXPECT_EQ(log.States, states);
    EXPECT_TRUE(log.Errors.empty());
  }
}

// FFmpeg serves no RTSP to play from, but pushes into our listening player.
TEST_F(FFmpegRtsp, ListenModeTakesAStreamPushedByFFmpeg) {
  KZ_NEED(kztest::HaveProgram("ffmpeg"), "ffmpeg");
  kztest::TTempDir dir;
  const std::string file = dir / "push.mp4";
  ASSERT_TRUE(kztest::MakeMedia("-f lavfi -i color=c=0x3080C0:s=320x240:r=25:d=4 -c:v libx264 -g 25", file));
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(kztest::FreePort()) + "/x";
  TKzMFFMPEG player;
  TPlayLog log;
  log.Attach(player);
  player.Options.RTSPFlags = kzRtspListen;
  player.Options.RTSPTransport = kzRtspTCP;
  auto done = Play(player, url);
  kztest::TPeer pusher;
  ASSERT_TRUE(log.WaitFor(10000, [&] { return !log.States.empty(); }));
  for (int i = 0; i < 100 && !pusher.Alive(); ++i) {  // the player listens once it is starting
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pusher.Start({"ffmpeg", "-v", "error", "-re", "-i", file, "-c", "copy", "-rtsp_transport", "tcp", "-f", "rtsp", url},
                 dir / "push.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_TRUE(log.WaitFor(20000, [&] { return log.Times.size() >= 50; })) << kztest::ReadFile(dir / "push.log");
  AbortAndWait(player, done);
  EXPECT_NEAR(MeanSpacing(log), 0.04, 0.04 / 25);
  EXPECT_NEAR(log.Centre[0], 0xC0, 3);
}

TEST_F(FFmpegRtsp, DigestLoginPromptsAndGivesUp) {
  kztest::TRtspServerSetup digest;
  digest.Media = TRtspMedia::H264;
  digest.Digest = true;
  TRtspServer server(true, "/cam", digest);
  KZ_NEED(server.Why().empty(), server.Why());
  const struct {
    const char* Name;
    std::string User;       // set on the player before playing
    int PromptsAnswered;    // prompts answered with user/pass (then wrong ones); −1: no prompt handler
    int Prompts;            // expected prompts
    bool Plays;
  } cases[] = {
      {"credentials given", "user", 0, 0, true},
      {"no prompt", "", -1, 0, false},
      {"right at the first prompt", "", 1, 1, true},
      {"wrong every time", "", 0, 4, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TKzMFFMPEG player;
    TPlayLog log;
    log.Attach(player);
    player.Options.UserName = c.User;
    player.Options.UserPassword = c.User.empty() ? "" : "pass";
    int prompts = 0;
    std::string failedUrl;
    if (c.PromptsAnswered >= 0)
      player.OnLogin = [&](void*, const std::string&, std::string& U, std::string& P, bool& Proceed) {
        ++prompts;
        U = "user";
        P = prompts <= c.PromptsAnswered ? "pass" : "wrong";
        Proceed = true;
      };
    player.OnLoginFailed = [&](void*, const std::string& U) { failedUrl = U; };
    auto done = Play(player, server.Url());
    if (c.Plays) {
      EXPECT_TRUE(log.WaitFor(20000, [&] { return !log.Times.empty(); }));
      AbortAndWait(player, done);
    } else {
      ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);  // gives up by itself
    }
    EXPECT_EQ(prompts, c.Prompts);
    if (!c.Plays) {
      EXPECT_EQ(player.Err(), 1);
      EXPECT_EQ(failedUrl, server.Url());  // without the user part
      EXPECT_EQ(player.SourceError().Kind, TKzSourceErrorKind::kzseLoginRefused);
      EXPECT_EQ(player.SourceError().StatusCode, 401u);
    }
  }
}

// A server that freezes or dies: playback ends by abort or by itself, and
// the player can play again afterwards.
TEST_F(FFmpegRtsp, StalledOrKilledServerEndsPlayback) {
  TRtspServer server(false, "/cam", {TRtspMedia::H264});
  KZ_NEED(server.Why().empty(), server.Why());
  for (const bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "killed" : "stalled");
    TKzMFFMPEG player;
    TPlayLog log;
    log.Attach(player);
    player.Options.RTSPTransport = kzRtspTCP;
    auto done = Play(player, server.Url());
    ASSERT_TRUE(log.WaitFor(20000, [&] { return log.Times.size() >= 5; }));
    if (kill) {
      server.Kill();
      EXPECT_EQ(done.wait_for(std::chrono::seconds(15)), std::future_status::ready);
      AbortAndWait(player, done);
      EXPECT_NE(player.Err(), 0);
      EXPECT_TRUE(player.SourceError().Failed());
    } else {
      server.Pause(true);
      const size_t frames = log.FrameCount();
      log.WaitFor(500, [&] { return false; });
      // At most what was in flight: a player slowed down by a sanitizer lags further behind.
      EXPECT_LE(log.FrameCount(), frames + (kztest::kSanitized ? 60 : 15));
      AbortAndWait(player, done);
      EXPECT_FALSE(player.SourceError().Failed());  // an abort asked for
      server.Pause(false);
    }
  }
  ASSERT_TRUE(server.Restart());
  TKzMFFMPEG again;
  TPlayLog log;
  log.Attach(again);
  auto done = Play(again, server.Url());
  EXPECT_TRUE(log.WaitFor(20000, [&] { return log.Times.size() >= 5; }));
  AbortAndWait(again, done);
}

}  // namespace
}  // namespace kz
