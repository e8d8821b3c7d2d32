// kz-test-labels: peer
// Cameras on real servers: ffmpeg pushing chunked Motion-JPEG, a
// GStreamer RTSP server that reports the session steps it sees, a proxy and
// kztool's credential prompt.
#include <gtest/gtest.h>

#include "tests/kztestneed.h"
#include "camera/fmxMKzCamThreads.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
std::vector<std::string> Tail(const std::vector<std::string>& All, size_t From) {
  return std::vector<std::string>(All.begin() + static_cast<long>(std::min(From, All.size())), All.end());
}
}  // namespace

TEST(CameraPeers, FfmpegPushingChunkedMotionJpeg) {
  KZ_NEED(HaveProgram("ffmpeg"), "ffmpeg is not installed");
  TTempDir dir;
  const uint16_t port = FreePort();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/stream.mjpg";
  TPeer ffmpeg;
  ASSERT_TRUE(ffmpeg.Start({"ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                            "testsrc=size=320x240:rate=25", "-q:v", "5", "-f", "mpjpeg", "-listen", "1", url},
                           dir / "ffmpeg.log"));
  ASSERT_TRUE(ffmpeg.WaitListening(port, 15000)) << ReadFile(dir / "ffmpeg.log");
  TStreamRig rig;
  rig.Play(url);
  EXPECT_TRUE(rig.WaitFrames(50, 30000)) << rig.Probe.Frames();  // a live stream keeps coming
  EXPECT_LT(rig.Stop(), kStopBoundMs);
  KzInetShutdown();
}

TEST(CameraPeers, RtspSessionStepsAsTheServerSeesThem) {
  TRtspServer server(false);
  KZ_NEED(server.Why().empty(), server.Why());
  // Through the camera's own session (not the FFmpeg engine), without client
  // ports: the description only, kept until the abort.
  {
    TStreamRig rig;
    rig.Cam.FFMpegProperty().SetUseFFMpeg(false);
    rig.Cam.SetSearchRTSPTimeOut(TKzTimeOut::kztHuge);  // the first DESCRIBE builds the media
    rig.Play(server.Url());
    ASSERT_TRUE(rig.Cam.ThreadRTSP() != nullptr);
    ASSERT_TRUE(PumpUntil([&] { return server.Requests().size() >= 2; }, 15000));
    EXPECT_LT(rig.Stop(), kStopBoundMs);
    EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"OPTIONS", "DESCRIBE"}));
  }
  // With a client port for the video: SETUP and PLAY, then TEARDOWN on abort.
  const size_t seen = server.Requests().size();
  TKzCamera cam(nullptr);
  cam.SetSearchRTSPTimeOut(TKzTimeOut::kztHuge);
  TKzCamStreamParams p;
  p.Camera = &cam;
  p.URL = server.Url();
  auto* thread = new TKzCamRTSPGetThread(p);
  thread->VideoClientPort = FreePort() & 0xFFFE;
  bool ended = false;
  thread->OnTerminate = [&](TThread*) { ended = true; };
  StartThread(thread);
  ASSERT_TRUE(PumpUntil([&] { return server.Requests().size() >= seen + 4; }, 15000));
  const uint64_t t0 = KzMGetTickCount();
  thread->Abort();
  ASSERT_TRUE(PumpUntil([&] { return ended; }, 5000));
  EXPECT_LT(int64_t(KzMGetTickCount() - t0), kStopBoundMs);
  PumpUntil([&] { return server.Requests().size() >= seen + 5; }, 10000);  // the server may log it late
  EXPECT_EQ(Tail(server.Requests(), seen), (std::vector<std::string>{"OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
  KzInetShutdown();
}

// No server answers PLAY late on demand: a scripted one never answers it.
// The session it set up is torn down all the same when the thread is aborted.
TEST(CameraPeers, AbortWhilePlayIsUnansweredStillTearsTheSessionDown) {
  const std::string sdp = "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\n"
                          "a=rtpmap:96 H264/90000\r\na=control:track1\r\n";
  TScriptedServer server([&](const std::string& Request, TKzSocket S, int) {
    const std::string method = Request.substr(0, Request.find(' '));
    if (method == "PLAY") return;
    const size_t at = Request.find("CSeq: ");
    std::string reply = "RTSP/1.0 200 OK\r\nCSeq: " + Request.substr(at + 6, Request.find("\r\n", at) - at - 6) + "\r\n";
    if (method == "SETUP") reply += "Session: 4711;timeout=60\r\nTransport: RTP/AVP;unicast;client_port=5000-5001\r\n";
    const std::string body = method == "DESCRIBE" ? sdp : "";
    if (!body.empty()) reply += "Content-Type: application/sdp\r\n";
    SendAll(S, reply + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  const auto methods = [&] {
    std::vector<std::string> m;
    for (const std::string& r : server.Requests()) m.push_back(r.substr(0, r.find(' ')));
    return m;
  };
  TKzCamera cam(nullptr);
  TKzCamStreamParams p;
  p.Camera = &cam;
  p.URL = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/cam";
  auto* thread = new TKzCamRTSPGetThread(p);
  thread->VideoClientPort = 5000;
  bool ended = false;
  thread->OnTerminate = [&](TThread*) { ended = true; };
  StartThread(thread);
  ASSERT_TRUE(PumpUntil([&] { return methods().size() >= 4; }, 15000));
  thread->Abort();
  ASSERT_TRUE(PumpUntil([&] { return ended; }, 5000));
  ASSERT_TRUE(PumpUntil([&] { return methods().size() >= 5; }, 5000));
  EXPECT_EQ(methods(), (std::vector<std::string>{"OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
  EXPECT_NE(server.Requests().back().find("Session: 4711\r\n"), std::string::npos) << server.Requests().back();
  KzInetShutdown();
}

TEST(CameraPeers, StreamThroughAManuallySetProxy) {
  KZ_NEED(HaveProgram("tinyproxy"), "tinyproxy is not installed");
  TTempDir dir;
  const uint16_t port = FreePort();
  WriteFile(dir / "tinyproxy.conf", "Port " + std::to_string(port) +
                                        "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 50\n"
                                        "User nobody\nGroup nogroup\nLogLevel Critical\n");
  TPeer proxy;
  ASSERT_TRUE(proxy.Start({"tinyproxy", "-d", "-c", dir / "tinyproxy.conf"}, dir / "tinyproxy.out"));
  ASSERT_TRUE(proxy.WaitListening(port, 10000)) << ReadFile(dir / "tinyproxy.out");
  // Digest: the challenge is answered again through a new tunnel.
  TKzCamSim sim({.Width = 320, .Height = 240, .Auth = TKzSimAuth::kzsaDigest, .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  rig.Cam.ProxyProperty().SetProxyMode(TKzMFProxyMode::kzmManualSettings);
  rig.Cam.ProxyProperty().SetHost("127.0.0.1");
  rig.Cam.ProxyProperty().SetPort(port);
  rig.Play(sim.StreamURL(), "admin", "admin");
  EXPECT_TRUE(rig.WaitFrames(25));
  EXPECT_LT(rig.Stop(), kStopBoundMs);
  KzInetShutdown();
}

TEST(CameraPeers, KztoolFetchAsksForCredentialsOnATerminal) {
  KZ_NEED(HaveProgram("script"), "script (util-linux) is not installed");
  TKzCamSim sim(
      {.Width = 160, .Height = 120, .Auth = TKzSimAuth::kzsaDigest, .Password = "pw-Q7x", .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TTempDir dir;
  // script gives kztool a terminal; the answers wait in it until they are asked for.
  const std::string command = "(printf 'admin\\npw-Q7x\\n'; sleep 4) | script -qec \"" + AppPath("kztool") +
                              " fetch " + sim.StreamURL() + " --user admin --password bad --frames 10\" /dev/null > " +
                              (dir / "out") + " 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 0) << ReadFile(dir / "out");
  const std::string out = ReadFile(dir / "out");
  EXPECT_NE(out.find("refused the credentials for \"kzcamsim\""), std::string::npos) << out;
  EXPECT_NE(out.find("user name:"), std::string::npos) << out;
  EXPECT_NE(out.find("frames: 10 fps:"), std::string::npos) << out;
  EXPECT_EQ(out.find("password: pw-Q7x"), std::string::npos) << out;  // not echoed after the prompt
}
