// kz-test-labels: peer slow
// RTSP requests against a GStreamer RTSP server: OPTIONS, DESCRIBE with its
// SDP channels, SETUP, PLAY, TEARDOWN, and the RTSP probe.
#include <gtest/gtest.h>

#include "tests/kztestneed.h"
#include "inet/fmxMKzInet.h"
#include "tests/inet/kzinettest.h"

using namespace kz;
using namespace kztest;

TEST(RtspGStreamer, SessionFromOptionsToTeardown) {
  TRtspServer server(false);
  KZ_NEED(server.Why().empty(), server.Why());
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
  ASSERT_GE(h->ChannelRTSP.size(), 2u);
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
  EXPECT_NE(h->req.find("CSeq: 5\r\n"), std::string::npos);
  CloseAll(h);
  EXPECT_EQ(h, nullptr);
}

TEST(RtspGStreamer, ProbeAcceptsOkAndUnauthorized) {
  TRtspServer open(false), locked(true);
  KZ_NEED(open.Why().empty(), open.Why());
  KZ_NEED(locked.Why().empty(), locked.Why());
  EXPECT_TRUE(CheckRTSP_URL("", open.Url(), "", "", TKzTimeOut::kztHuge, 0));
  EXPECT_TRUE(CheckRTSP_URL("", locked.Url(), "", "", TKzTimeOut::kztHuge, 0));  // 401
  EXPECT_TRUE(CheckRTSP_URL("", "rtsp://127.0.0.1/test", "", "", TKzTimeOut::kztHuge, open.Port));
  EXPECT_FALSE(CheckRTSP_URL("", "rtsp://127.0.0.1:" + std::to_string(FreePort()) + "/test", "", "",
                             TKzTimeOut::kztShort, 0));
  EXPECT_FALSE(CheckRTSP_URL("", "rtsp://127.0.0.1:" + std::to_string(open.Port) + "/nothing", "", "",
                             TKzTimeOut::kztHuge, 0));  // 404 for a path without media
  KzInetShutdown();
}
