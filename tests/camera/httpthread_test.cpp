// The HTTP fetch thread against the synthetic camera and scripted servers:
// live frames in order, pacing, a reconnect after bad frames, faults that cost only their frames,
// login prompts, still-image polling, fatal replies and abort.
#include <gtest/gtest.h>

#include "tests/camera/camera_rig.h"
#include "tests/inet/kzinettest.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
TKzSimOptions Small(double Fps = 25) {
  return {.Width = 320, .Height = 240, .FramePerSec = Fps, .Faults = {}};
}

// The share of the source's frames that arrived: at most Want, and at least
// a generous part of it (a loaded machine may drop frames of a live stream).
void ExpectShare(const std::vector<int64_t>& Stamps, double Want, const std::string& What) {
  const double share = ArrivedShare(Stamps);
  EXPECT_LE(share, Want + 0.05) << What;
  EXPECT_GE(share, Want * (kSanitized ? 0.25 : 0.8)) << What;  // sanitizers on a loaded machine: far slower
}

std::string JpegBytes() {
  TKzMBitmap picture;
  KzSimDrawFrame(picture, 64, 48, 7, 0);
  TKzImageWrapper encoder;
  TMemoryStream s;
  encoder.SaveToStream(s, &picture, 80);
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}
}  // namespace

TEST(HttpThread, LiveStreamArrivesInOrderAndFaultsCostOnlyTheirOwnFrames) {
  using A = TKzSimAuth;
  struct {
    const char* Name;
    TKzSimAuth Auth;
    bool Chunked;
    TKzSimFaults Faults;
    double Share;  // of the frames sent
  } cases[] = {{"plain", A::kzsaNone, false, {}, 1.0},
               {"chunked", A::kzsaNone, true, {}, 1.0},
               {"basic", A::kzsaBasic, false, {}, 1.0},
               {"garbage before every 3rd frame", A::kzsaNone, false, {.GarbageEvery = 3}, 1.0},
               {"every 4th frame truncated", A::kzsaNone, false, {.TruncateEvery = 4}, 0.75}};
  for (const auto& c : cases) {
    TKzSimOptions o = Small();
    o.Auth = c.Auth;
    o.Chunked = c.Chunked;
    o.Faults = c.Faults;
    TKzCamSim sim(o);
    ASSERT_TRUE(sim.Start());
    TStreamRig rig(&sim);
    rig.Play(sim.StreamURL(), "admin", "admin");
    ASSERT_TRUE(rig.WaitFrames(60, 30000)) << c.Name;
    // In order, and (most of) every frame the camera sent arrived, on one connection.
    const std::vector<int64_t> stamps = rig.Probe.Stamps();
    for (size_t i = 1; i < stamps.size(); ++i) ASSERT_GT(stamps[i], stamps[i - 1]) << c.Name << " at " << i;
    ExpectShare(stamps, c.Share, c.Name);
    if (c.Auth == A::kzsaNone) {
      EXPECT_EQ(CountRequests(sim, "/video.mjpg"), 1) << c.Name;
    }
    EXPECT_LT(rig.Stop(), kStopBoundMs) << c.Name;
    EXPECT_EQ(rig.Ends, std::vector<int32_t>{0}) << c.Name;
    KzInetShutdown();
  }
}

TEST(HttpThread, ReadsArePacedToTheCamerasFrameRate) {
  const double source = 50, camera = 10;  // far apart: a frame may take two or three reads
  TKzCamSim sim(Small(source));
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  int reads = 0;
  rig.Cam.OnDebugDataRead = [&](TComponent*, int64_t, const std::string&) { ++reads; };  // one per read
  rig.Cam.SetFramePerSec(camera);
  rig.Play(sim.StreamURL());
  ASSERT_TRUE(rig.WaitFrames(5, 30000));
  const int before = reads;
  const int64_t firstStamp = rig.Probe.Stamps().back();
  ASSERT_TRUE(rig.WaitFrames(35, 30000));
  const int64_t sent = rig.Probe.Stamps().back() - firstStamp;
  // The reader itself holds back: reads follow the camera's interval, not
  // the source's, counted against the frames the source sent meanwhile. A
  // frame may take more than one read when the kernel splits it, so the
  // bound sits halfway between the two rates.
  EXPECT_LE(reads - before, sent * (camera + source) / 2 / source);
  ExpectShare(rig.Probe.Stamps(), camera / source, "10 of 50");
  KzInetShutdown();
}

TEST(HttpThread, MoreThanFiveBadFramesInARowReconnect) {
  TKzSimOptions o = Small();
  o.Faults.CorruptEvery = 2;  // frames 2, 4, ... of a connection are undecodable
  TKzCamSim sim(o);
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  rig.Play(sim.StreamURL());
  ASSERT_TRUE(PumpUntil([&] { return CountRequests(sim, "/video.mjpg") >= 2; }, 8000));
  // Six bad frames came with at least five good ones before the reconnect.
  EXPECT_GE(rig.Probe.Frames(), 5);
  sim.SetFaults({});
  const int64_t before = rig.Probe.Frames();
  ASSERT_TRUE(rig.WaitFrames(before + 40));
  EXPECT_TRUE(rig.Ends.empty());
  KzInetShutdown();
}

TEST(HttpThread, StalledServerCostsTheStallAndVideoResumes) {
  TKzSimOptions o = Small();
  o.Faults.StallAfterFrames = 10;
  o.Faults.StallMs = 7000;  // longer than the frame time-out (5 s for a fast stream)
  TKzCamSim sim(o);
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  rig.Play(sim.StreamURL());
  ASSERT_TRUE(rig.WaitFrames(10));
  ASSERT_TRUE(PumpUntil([&] { return CountRequests(sim, "/video.mjpg") >= 2; }, 10000));
  const int64_t before = rig.Probe.Frames();
  EXPECT_LT(before, 14);  // nothing arrived during the stall
  sim.SetFaults({});
  EXPECT_TRUE(rig.WaitFrames(before + 30, 5000));
  EXPECT_TRUE(rig.Ends.empty());
  KzInetShutdown();
}

TEST(HttpThread, LoginPromptsAreBoundedAndRightCredentialsStartTheVideo) {
  struct {
    const char* Name;
    bool Prompt;
    int RightAtPrompt;  // 0: never
    int Prompts;
    int Failed;
    bool Video;
  } cases[] = {
      {"no prompt", false, 0, 0, 1, false},
      {"wrong every time", true, 0, 5, 1, false},
      {"right at the second prompt", true, 2, 2, 0, true},
  };
  for (const auto& c : cases) {
    TKzSimOptions o = Small();
    o.Auth = TKzSimAuth::kzsaDigest;
    TKzCamSim sim(o);
    ASSERT_TRUE(sim.Start());
    TStreamRig rig(&sim);
    int prompts = 0;
    rig.Cam.SetLoginPrompt(c.Prompt);
    rig.Cam.OnLogin = [&](TComponent* Sender, const std::string& Realm, std::string& User, std::string& Password,
                          bool& Proceed) {
      EXPECT_TRUE(IsMainThread());
      EXPECT_EQ(Sender, &rig.Cam);
      EXPECT_EQ(Realm, "kzcamsim");
      ++prompts;
      User = "admin";
      Password = prompts == c.RightAtPrompt ? "admin" : "wrong" + std::to_string(prompts);
      Proceed = true;
    };
    rig.Play(sim.StreamURL(), "admin", "bad");
    if (c.Video) {
      EXPECT_TRUE(rig.WaitFrames(10)) << c.Name;
    } else {
      EXPECT_TRUE(rig.WaitEnd()) << c.Name;
      EXPECT_EQ(rig.Ends, std::vector<int32_t>{1}) << c.Name;
    }
    EXPECT_EQ(prompts, c.Prompts) << c.Name;
    EXPECT_EQ(rig.LoginFailed.load(), c.Failed) << c.Name;
    KzInetShutdown();
  }
}

TEST(HttpThread, StillImagesArePolledInTurnAndTheIndexFollows) {
  TKzCamSim sim(Small());
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  rig.Cam.SetFramePerSec(5);  // one picture per 200 ms
  rig.Cam.SetCycleVideoImages(true);
  rig.Cam.SetVideoImagesURLs({"a.jpg", "b.jpg", "c.jpg"});
  rig.Cam.SetVideoImageIndex(1);
  rig.Play(sim.URL("/still/"));
  ASSERT_TRUE(PumpUntil([&] { return sim.Requests().size() >= 7; }, 10000));
  // The seventh request is out, and its index change was reported before it.
  EXPECT_EQ(rig.Cam.VideoImageIndex(), (1 + 7) % 3);
  const std::vector<std::string> asked = sim.Requests();
  const char* order[] = {"b", "c", "a", "b", "c", "a", "b"};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(asked[i], std::string("GET /still/") + order[i] + ".jpg") << i;
  EXPECT_GE(rig.Probe.Frames(), 5);
  rig.Stop();
  KzInetShutdown();

  // Without a list the URL's own picture is polled.
  TStreamRig plain(&sim);
  plain.Cam.SetCycleVideoImages(true);
  plain.Play(sim.StillURL());
  ASSERT_TRUE(plain.WaitFrames(5));
  EXPECT_GE(CountRequests(sim, "/image.jpg"), 5);
  KzInetShutdown();
}

TEST(HttpThread, RepliesByStatus) {
  const std::string jpeg = JpegBytes();
  struct {
    const char* Status;
    bool Frames;
  } cases[] = {{"302 Found", true}, {"204 No Content", true}, {"400 Bad Request", false}, {"500 Server Error", false}};
  for (const auto& c : cases) {
    TScriptedServer server([&](const std::string&, TKzSocket S, int) {
      SendAll(S, std::string("HTTP/1.1 ") + c.Status + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                     std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg);
    });
    TStreamRig rig;
    rig.Play("http://127.0.0.1:" + std::to_string(server.Port()) + "/snap.jpg");
    if (c.Frames) {
      // Read like a 200: the picture is polled again and again.
      EXPECT_TRUE(rig.WaitFrames(3)) << c.Status;
      EXPECT_GE(server.Requests().size(), 3u) << c.Status;
      EXPECT_TRUE(rig.Ends.empty());
    } else {
      // Fatal: the stream ends at once, after one request.
      ASSERT_TRUE(rig.WaitEnd(3000)) << c.Status;
      EXPECT_EQ(rig.Ends, std::vector<int32_t>{1}) << c.Status;
      EXPECT_EQ(server.Requests().size(), 1u) << c.Status;
      EXPECT_EQ(rig.Probe.Frames(), 0) << c.Status;
    }
    rig.Stop();
    KzInetShutdown();
  }
}

TEST(HttpThread, AbortEndsWhateverTheThreadWaitsFor) {
  // A server that accepts and never answers: the thread waits for a reply.
  TScriptedServer silent([](const std::string&, TKzSocket, int) {});
  TStreamRig rig;
  rig.Play("http://127.0.0.1:" + std::to_string(silent.Port()) + "/video.mjpg");
  ASSERT_TRUE(PumpUntil([&] { return !silent.Requests().empty(); }, 5000));
  EXPECT_LT(rig.Stop(), kStopBoundMs);
  EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
  KzInetShutdown();
}
