// kz-test-labels: peer slow
// RTSP requests against a GStreamer RTSP server: OPTIONS, DESCRIBE with its
// SDP channels, SETUP, PLAY, TEARDOWN, and the RTSP probe.
#include <gtest/gtest.h>

#include "inet/fmxMKzInet.h"
#include "tests/inet/kzinettest.h"

using namespace kz;
using namespace kztest;

namespace {
// A media factory with a Motion-JPEG video and a PCMU audio stream at /test;
// with a second argument every request needs Basic credentials.
const char* kServer = R"PY(import sys, gi
gi.require_version('Gst', '1.0')
gi.require_version('GstRtspServer', '1.0')
from gi.repository import Gst, GstRtspServer, GLib
Gst.init(None)
port, auth = sys.argv[1], len(sys.argv) > 2
server = GstRtspServer.RTSPServer()
server.set_address('127.0.0.1')
server.set_service(port)
f = GstRtspServer.RTSPMediaFactory()
f.set_launch('( videotestsrc is-live=1 ! video/x-raw,format=I420,width=160,height=120,framerate=10/1 ! jpegenc ! rtpjpegpay name=pay0 pt=26 '
             'audiotestsrc is-live=1 ! audioconvert ! audioresample ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! rtppcmupay name=pay1 )')
f.set_shared(True)
if auth:
    a = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string('media.factory.role', 'user')
    a.add_basic(GstRtspServer.RTSPAuth.make_basic('user', 'pass'), token)
    server.set_auth(a)
    perms = GstRtspServer.RTSPPermissions()
    perms.add_role_from_structure(Gst.Structure.new_from_string('user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true'))
    f.set_permissions(perms)
server.get_mount_points().add_factory('/test', f)
server.attach(None)
print('ready', flush=True)
GLib.MainLoop().run()
)PY";

class TRtspServer {
public:
  explicit TRtspServer(bool Auth) {
    if (access("/usr/bin/python3", X_OK) != 0) {
      FWhy = "/usr/bin/python3 is missing";
      return;
    }
    if (std::system("/usr/bin/python3 -c \"import gi; gi.require_version('GstRtspServer', '1.0'); "
                    "from gi.repository import GstRtspServer\" >/dev/null 2>&1") != 0) {
      FWhy = "the GStreamer RTSP server bindings are missing";
      return;
    }
    WriteFile(FDir / "server.py", kServer);
    Port = FreePort();
    std::vector<std::string> argv = {"/usr/bin/python3", FDir / "server.py", std::to_string(Port)};
    if (Auth) argv.push_back("auth");
    if (!FPeer.Start(argv, FDir / "server.log") || !FPeer.WaitListening(Port, 15000))
      FWhy = "the RTSP server did not start: " + ReadFile(FDir / "server.log");
  }
  const std::string& Why() const { return FWhy; }
  std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(Port) + "/test"; }
  uint16_t Port = 0;

private:
  TTempDir FDir;
  TPeer FPeer;
  std::string FWhy;
};

void CloseAll(PInet& H) {
  for (int k = 0; H && k < 4; ++k) InternetCloseHandle(H);
}
}  // namespace

TEST(RtspGStreamer, SessionFromOptionsToTeardown) {
  TRtspServer server(false);
  if (!server.Why().empty()) GTEST_SKIP() << server.Why();
  PInet h = InternetOpen("kz-tests", 0, nullptr, nullptr, 0);
  SetInetTimeOut(h, TKzTimeOut::kztHuge);  // the first DESCRIBE builds the media
  ASSERT_TRUE(RtspInternetConnect(h, "127.0.0.1", server.Port, "/test", "", ""));
  EXPECT_EQ(h->URL, server.Url());
  EXPECT_EQ(h->VersionProtocol, "RTSP/1.0");
  ASSERT_TRUE(SendRTSPCmd(h, "OPTIONS"));
  EXPECT_NE(h->Header.find("DESCRIBE"), std::string::npos);

  ASSERT_TRUE(SendRTSPCmd(h, "DESCRIBE"));
  EXPECT_EQ(h->ContentBase, server.Url() + "/");
  ASSERT_EQ(h->ChannelCount, 2);
  EXPECT_GE(h->ChannelRTSP.size(), 2u);
  EXPECT_EQ(h->ChannelRTSP[0].TypeMedia, "video");
  EXPECT_EQ(h->ChannelRTSP[0].Control, "stream=0");
  EXPECT_EQ(h->ChannelRTSP[1].TypeMedia, "audio");
  EXPECT_EQ(h->ChannelRTSP[1].Control, "stream=1");
  EXPECT_NE(h->Header.find("m=video"), std::string::npos);  // the description follows the header

  const uint16_t rtp = FreePort() & 0xFFFE;
  h->CurChannel = 0;
  h->ChannelRTSP[0].ClientPort = rtp;
  ASSERT_TRUE(SendRTSPCmd(h, "SETUP"));
  EXPECT_NE(h->req.find("SETUP " + server.Url() + "/stream=0 RTSP/1.0\r\n"), std::string::npos) << h->req;
  EXPECT_FALSE(h->SessionNum.empty());
  EXPECT_EQ(h->SessionNum.find(';'), std::string::npos);
  EXPECT_NE(h->ChannelRTSP[0].Transport.find("client_port=" + std::to_string(rtp) + "-" + std::to_string(rtp + 1)),
            std::string::npos)
      << h->ChannelRTSP[0].Transport;
  EXPECT_GT(h->ChannelRTSP[0].ServerPort, 0);

  ASSERT_TRUE(SendRTSPCmd(h, "PLAY"));
  EXPECT_NE(h->req.find("Session: " + h->SessionNum + "\r\n"), std::string::npos);
  EXPECT_NE(h->Header.find("RTP-Info"), std::string::npos) << h->Header;
  ASSERT_TRUE(SendRTSPCmd(h, "TEARDOWN"));
  EXPECT_EQ(h->CSeq, 5);
  EXPECT_NE(h->req.find("CSeq: 5\r\n"), std::string::npos);
  CloseAll(h);
  EXPECT_EQ(h, nullptr);
}

TEST(RtspGStreamer, ProbeAcceptsOkAndUnauthorized) {
  TRtspServer open(false), locked(true);
  if (!open.Why().empty()) GTEST_SKIP() << open.Why();
  if (!locked.Why().empty()) GTEST_SKIP() << locked.Why();
  EXPECT_TRUE(CheckRTSP_URL("", open.Url(), "", "", TKzTimeOut::kztHuge, 0));
  EXPECT_TRUE(CheckRTSP_URL("", locked.Url(), "", "", TKzTimeOut::kztHuge, 0));  // 401
  EXPECT_TRUE(CheckRTSP_URL("", "rtsp://127.0.0.1/test", "", "", TKzTimeOut::kztHuge, open.Port));
  EXPECT_FALSE(CheckRTSP_URL("", "rtsp://127.0.0.1:" + std::to_string(FreePort()) + "/test", "", "",
                             TKzTimeOut::kztShort, 0));
  EXPECT_FALSE(CheckRTSP_URL("", open.Url(), "", "", TKzTimeOut::kztShort, 0) &&
               CheckRTSP_URL("", "rtsp://127.0.0.1:" + std::to_string(open.Port) + "/nothing", "", "",
                             TKzTimeOut::kztShort, 0));  // 404 for a path without media
  KzInetShutdown();
}
