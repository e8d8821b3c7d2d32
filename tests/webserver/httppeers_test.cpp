// kztool serve with real clients: headless Chromium shows the wall page with
// two moving cameras (and only with the Digest credentials), ffmpeg reads
// the stream, curl fetches a snapshot that djpeg decodes, and kztool fetch
// plays the stream through a KzMedia camera.
// kz-test-labels: peer slow
#include <gtest/gtest.h>

#include <regex>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;
using namespace kztest;

namespace {

struct TServeRig {
  TServeRig(const std::vector<std::string>& Extra) : Sim({.PortCount = 2, .Faults = {}}) {
    EXPECT_TRUE(Sim.Start());
    Port = FreePort();
    std::vector<std::string> argv = {AppPath("kztool"), "serve", "--port", std::to_string(Port)};
    argv.insert(argv.end(), Extra.begin(), Extra.end());
    argv.push_back("cam1=" + Sim.StreamURL(0));
    argv.push_back("cam2=" + Sim.StreamURL(1));
    EXPECT_TRUE(Serve.Start(argv, Dir / "serve.log"));
    EXPECT_TRUE(Serve.WaitListening(Port, 20000)) << ReadFile(Dir / "serve.log");
  }
  std::string URL(const std::string& Path, const std::string& Credentials = {}) const {
    return "http://" + Credentials + "127.0.0.1:" + std::to_string(Port) + Path;
  }
  // Runs Command; its stdout.
  std::string Run(const std::string& Command) {
    const std::string out = Dir / "out";
    const int rc = std::system((Command + " >" + out + " 2>" + (Dir / "err") + " </dev/null").c_str());
    Status = WEXITSTATUS(rc);
    return ReadFile(out);
  }
  kzcamsim::TKzCamSim Sim;
  TTempDir Dir;
  TPeer Serve;
  uint16_t Port = 0;
  int Status = 0;
};

std::string Chromium(TServeRig& Rig, const std::string& What, const std::string& URL) {
  return Rig.Run("timeout 90 chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage "
                 "--user-data-dir=" + (Rig.Dir / "profile") + " --window-size=1280,720 --virtual-time-budget=4000 " +
                 What + " '" + URL + "'");
}

// Pixels of the frame-counter band of each of the two cells of a 1280x720
// shot (two columns; the pictures are 4:3, centred in their cells).
std::vector<uint32_t> CounterBand(const TKzMBitmap& Shot, int Cell) {
  std::vector<uint32_t> band;
  const int left = Cell == 0 ? 8 : 646;
  for (int y = 125; y < 200; ++y)
    for (int x = left; x < left + 300; ++x) band.push_back(Shot.Pixel(x, y) & 0xFFFFFFu);
  return band;
}

}  // namespace

TEST(HttpVideoPeers, ChromiumShowsBothCamerasMovingOnlyWithCredentials) {
  KZ_NEED(HaveProgram("chromium"), "chromium (headless browser)");
  KZ_NEED(HaveProgram("curl"), "curl");
  TServeRig rig({"--auth", "digest", "--user", "viewer", "--password", "pw-W4l"});
  // Every path asks for the credentials, a wrong one too.
  for (const char* path : {"/", "/status.json", "/snapshot/cam1.jpg", "/video/nosuch.mjpg"})
    EXPECT_EQ(rig.Run("curl -s -o /dev/null -w '%{http_code}' " + rig.URL(path)), "401") << path;
  EXPECT_EQ(rig.Run("curl -s -o /dev/null -w '%{http_code}' --digest -u viewer:wrong " + rig.URL("/")), "401");
  EXPECT_EQ(rig.Run("curl -s -o /dev/null -w '%{http_code}' --digest -u viewer:pw-W4l " + rig.URL("/status.json")), "200");
  // Without credentials the browser gets no page.
  EXPECT_EQ(Chromium(rig, "--dump-dom", rig.URL("/")).find("id=\"wall\""), std::string::npos);
  TKzMBitmap shots[2];
  for (int i = 0; i < 2; ++i) {
    const std::string png = rig.Dir / ("shot" + std::to_string(i) + ".png");
    Chromium(rig, "--screenshot=" + png, rig.URL("/", "viewer:pw-W4l@"));
    const std::string bytes = ReadFile(png);
    ASSERT_TRUE(KzCodecDecode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), shots[i])) << png;
    ASSERT_EQ(shots[i].Width(), 1280);
    if (i == 0) PumpFor(1000);
  }
  for (int cell = 0; cell < 2; ++cell) {
    const std::vector<uint32_t> a = CounterBand(shots[0], cell), b = CounterBand(shots[1], cell);
    // A picture (not the page's background alone), and one that moved on.
    EXPECT_GT(std::count_if(a.begin(), a.end(), [](uint32_t p) { return p == 0xFFFFFFu || p > 0xE0E0E0u; }), 100)
        << "cell " << cell << ": no counter digits";
    EXPECT_NE(a, b) << "cell " << cell << " did not change";
  }
}

TEST(HttpVideoPeers, FFmpegCurlAndKztoolFetchPlayTheStream) {
  KZ_NEED(HaveProgram("ffmpeg"), "ffmpeg");
  KZ_NEED(HaveProgram("curl") && HaveProgram("djpeg"), "curl and djpeg");
  TServeRig rig({});
  // 100 frames through FFmpeg's own HTTP client and Motion-JPEG demuxer.
  rig.Run("ffmpeg -hide_banner -nostdin -i " + rig.URL("/video/cam1.mjpg") + " -frames:v 100 -f null -");
  EXPECT_EQ(rig.Status, 0);
  const std::string ffmpeg = ReadFile(rig.Dir / "err");
  EXPECT_TRUE(std::regex_search(ffmpeg, std::regex("frame= *100 "))) << ffmpeg;
  // A snapshot with curl; djpeg decodes it to a 640x480 picture.
  const std::string header = rig.Run("curl -s -D - -o " + (rig.Dir / "s.jpg") + " " + rig.URL("/snapshot/cam2.jpg"));
  EXPECT_NE(header.find("Content-Type: image/jpeg"), std::string::npos) << header;
  EXPECT_EQ(rig.Run("djpeg -pnm " + (rig.Dir / "s.jpg")).substr(0, 15), "P6\n640 480\n255\n") << ReadFile(rig.Dir / "err");
  // A KzMedia camera plays the stream.
  const std::string fetched = rig.Run(AppPath("kztool") + " fetch " + rig.URL("/video/cam2.mjpg") + " --frames 20");
  EXPECT_EQ(rig.Status, 0);
  EXPECT_TRUE(std::regex_search(fetched, std::regex("^frames: 20 "))) << fetched << ReadFile(rig.Dir / "err");
}
