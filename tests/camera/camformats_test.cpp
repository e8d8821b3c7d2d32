// The URL template tables, preparing a template for a camera, the candidate
// lists, and probing candidates for Motion-JPEG.
#include <gtest/gtest.h>

#include <algorithm>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/inet/kzinettest.h"

using namespace kz;
using namespace kztest;

namespace {
using C = TKzCameraType;
}  // namespace

TEST(CamFormats, PrepareURLFillsHostPortsSizeChannelAndCredentials) {
  TKzCamera cam(nullptr);
  cam.SetCameraHost("cam.local");
  cam.SetCameraChannel(3);
  cam.SetUserName("admin");
  cam.SetUserPassword("p[WIDTH]w");  // replaced text is not searched again
  cam.SetFramePerSec(12.6);
  struct {
    uint16_t Port, RTSPPort;
    TKzVideoResolution Resolution;
    const char* Template;
    const char* Want;
  } cases[] = {
      {0, 0, TKzVideoResolution::kzDefault, "http://IPADDRESS/video.cgi", "http://cam.local/video.cgi"},
      {8080, 0, TKzVideoResolution::kzDefault, "http://IPADDRESS/video.cgi", "http://cam.local:8080/video.cgi"},
      // An RTSP template takes the RTSP port, never the HTTP one.
      {8080, 0, TKzVideoResolution::kzDefault, "rtsp://IPADDRESS/h264", "rtsp://cam.local/h264"},
      {8080, 8554, TKzVideoResolution::kzDefault, "RTSP://IPADDRESS/h264", "RTSP://cam.local:8554/h264"},
      // No chosen size: the size clauses go, other size placeholders stay.
      {0, 0, TKzVideoResolution::kzDefault, "http://IPADDRESS/nphMotionJpeg?[WIDTH]x[HEIGHT]",
       "http://cam.local/nphMotionJpeg"},
      {0, 0, TKzVideoResolution::kzDefault, "http://IPADDRESS/GetData.cgi?CH=[CHANNEL]&Codec=jpeg&Size=[WIDTH]x[HEIGHT]",
       "http://cam.local/GetData.cgi?CH=3&Codec=jpeg"},
      {0, 554, TKzVideoResolution::kzDefault,
       "rtsp://IPADDRESS/axis-media/media.amp?videocodec=h264&resolution=[WIDTH]%C3%97[HEIGHT]&tcp",
       "rtsp://cam.local:554/axis-media/media.amp?videocodec=h264&tcp"},
      {0, 0, TKzVideoResolution::kzDefault, "http://IPADDRESS/v?resolution=[WIDTH]x[HEIGHT]",
       "http://cam.local/v?resolution=[WIDTH]x[HEIGHT]"},
      {0, 0, TKzVideoResolution::kz640_480, "http://IPADDRESS/nphMotionJpeg?[WIDTH]x[HEIGHT]",
       "http://cam.local/nphMotionJpeg?640x480"},
      {0, 0, TKzVideoResolution::kz1900_1280, "http://IPADDRESS/a?w=[width]&h=[Height]", "http://cam.local/a?w=1900&h=1280"},
      {0, 0, TKzVideoResolution::kz160_120, "http://ipaddress/x?[CHANNEL]/[CHANNEL]&fps=[FPS]",
       "http://cam.local/x?3/3&fps=13"},
      {0, 0, TKzVideoResolution::kzDefault, "http://IPADDRESS/v?u=[USERNAME]&p=[PASSWORD]&a=[AUTH]",
       "http://cam.local/v?u=admin&p=p%5BWIDTH%5Dw&a=[AUTH]"},
  };
  for (const auto& c : cases) {
    cam.SetCameraPort(c.Port);
    cam.SetRTSPPort(c.RTSPPort);
    cam.SetVideoResolution(c.Resolution);
    EXPECT_EQ(PrepareURL(cam, c.Template), c.Want) << c.Template;
  }
}

TEST(CamFormats, CandidatesFollowTheFamiliesInTableOrder) {
  TKzCamera cam(nullptr);
  cam.SetCameraHost("10.0.0.9");
  std::vector<std::string> list;
  cam.FillCamURLs(list, CamAnyMJPEG, 67, {C::kzctAxis});
  std::vector<std::string> want;
  for (int i : {12, 13, 14, 15, 16, 17, 47}) want.push_back(PrepareURL(cam, CamAnyMJPEG[i].URL));
  EXPECT_EQ(list, want);
  EXPECT_EQ(list.front(), "http://10.0.0.9/nphMotionJpeg");

  struct {
    std::span<const TKzCamFormat> Table;
    int32_t High;
    TKzCameraTypes Types;
    size_t Count;
  } cases[] = {
      {CamAnyH264, 74, {}, 75},                                     // every row, null rows would crash
      {CamAnyMJPEG, 10, {}, 11},
      {CamAnyMJPEG, 500, {}, 68},                                   // a high index past the end stops at the end
      {CamAnyMJPEG, 67, {C::kzctMobotix}, 0},                       // a family without rows
      {CamAnyH264, 74, {C::kzctACTi}, 4},                           // 22, 23, 24, 57
      {CamAnyMJPEG, 67, {C::kzctFoscam, C::kzctVivotek}, 20},       // 30..39, 45..53, 55: rows of both count once
  };
  for (const auto& c : cases) {
    list.assign({"kept"});
    cam.FillCamURLs(list, c.Table, c.High, c.Types);
    EXPECT_EQ(list.size(), c.Count + 1) << c.High << " " << c.Types.Bits();
  }
  // Equal URLs of different rows both appear (rows 39 and 45).
  list.clear();
  cam.FillCamURLs(list, CamAnyMJPEG, 67, {C::kzctFoscam});
  EXPECT_EQ(std::count(list.begin(), list.end(), "http://10.0.0.9/videostream.cgi"), 2);
}

TEST(CamFormats, ReplyBodiesThatLookLikeMotionJpeg) {
  struct {
    std::string Body;
    bool Want;
  } cases[] = {
      {"--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 5\r\n\r\n", true},
      {"--b\r\ncontent-type: IMAGE/JPEG\r\n\r\n", true},
      {std::string("\xFF\xD8\xFF\xE0", 4), true},
      {std::string("junk\xFF\xD9", 6), true},
      {"<html>404 Not Found</html>" + std::string("\xFF\xD8", 2), false},
      {"<h1>404 FILE NOT FOUND</h1>image/jpeg", false},
      {std::string("text\0image/jpeg", 15), false},  // the text ends at the first zero byte...
      {std::string("text\0\xFF\xD8", 7), true},      // ...the marker search does not
      {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(KzIsMJPEGReply(reinterpret_cast<const uint8_t*>(c.Body.data()), c.Body.size()), c.Want) << c.Body;
}

TEST(CamFormats, ProbeAsksOnceMoreWithCredentialsAndReadsOnce) {
  // A server that refuses the first request and answers the second from its script.
  struct {
    std::string First;   // "" when the first reply is already the answer
    std::string Answer;
    bool Want;
  } cases[] = {
      {"", "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=b\r\n\r\n--b\r\nContent-Type: image/jpeg\r\n\r\n", true},
      {"", "HTTP/1.1 200 OK\r\nContent-Length: 26\r\n\r\n<html>404 Not Found</html>", false},
      {"", "HTTP/1.1 500 Error\r\nContent-Length: 4\r\n\r\n" + std::string("\xFF\xD8\x01\x02", 4), true},
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n" + std::string("\xFF\xD8", 2), true},
  };
  for (const auto& c : cases) {
    TScriptedServer server([&](const std::string& Request, TKzSocket S, int) {
      const bool authorised = Request.find("Authorization: Basic") != std::string::npos;
      SendAll(S, !c.First.empty() && !authorised ? c.First : c.Answer);
    });
    TKzCamera cam(nullptr);
    cam.SetUserName("u");
    cam.SetUserPassword("p");
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/video.cgi";
    std::atomic<bool> result{false}, done{false};
    std::thread probe([&] {  // probes block: not on the main thread
      result = cam.CheckConnectMJPEG(url, 8000);
      done = true;
    });
    PumpUntil([&] { return done.load(); }, 20000);
    probe.join();
    EXPECT_EQ(result.load(), c.Want) << c.Answer.substr(0, 40);
    KzInetShutdown();
  }
}

TEST(CamFormats, CheckURLsReturnsTheFirstCandidateThatAnswers) {
  // Foscam rows 33, 35, 36, 38, 39 and 45 lead to this stream path.
  kzcamsim::TKzCamSim sim({.Width = 160, .Height = 120, .StreamPath = "/videostream.cgi", .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TKzCamera cam(nullptr);
  cam.SetCameraHost("127.0.0.1");
  cam.SetCameraPort(sim.Port());
  cam.SetUserName("me");
  std::vector<std::string> list;
  std::string found;
  std::atomic<bool> done{false};
  std::thread probe([&] {
    found = cam.CheckURLs(list, {C::kzctFoscam}, TKzVideoFormat::kzvfMJPEG);
    done = true;
  });
  PumpUntil([&] { return done.load(); }, 60000);
  probe.join();
  const std::string host = "http://127.0.0.1:" + std::to_string(sim.Port());
  EXPECT_EQ(found, host + "/videostream.cgi?usr=me&pwd=");
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), host + "/user/videostream.cgi");
  // Probing stopped at the first answer: rows 30, 31, 32 were refused, 33 answered.
  const std::vector<std::string> asked = sim.Requests();
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked.back(), "GET /videostream.cgi?usr=me&pwd=");
  KzInetShutdown();
}
