// The hand-over of a stream to the FFmpeg engine: a stream that ends
// normally is opened again, frames go to the consumers, and Motion-JPEG the
// engine cannot play falls back to the thread's own reader. The engine here
// is a stand-in that follows the engine's contract.
#include <gtest/gtest.h>

#include <mutex>

#include "camera/fmxMKzCamThreads.h"
#include "tests/camera/camera_rig.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
// Plays each URL by handing a few frames over, then ends with the next code of its script.
class TScriptedEngine : public IKzCamFFmpegEngine {
public:
  explicit TScriptedEngine(std::vector<int32_t> Codes, std::vector<std::string>& Played, std::mutex& Lock)
      : FCodes(std::move(Codes)), FPlayed(Played), FLock(Lock) {}
  void AssignSettings(const TKzCamEngineSettings& Settings) override { FSettings.UserName = Settings.UserName; }
  void PlayVideo(const std::string& URL) override {
    {
      std::lock_guard<std::mutex> g(FLock);
      FPlayed.push_back(URL);
    }
    if (OnStateChange) OnStateChange(TKzFFMState::kzffmsPlaying);
    TKzMBitmap frame(32, 24);
    for (int i = 0; i < 3 && !FAbort; ++i) {
      if (OnNewImage && !OnNewImage(frame, i * 0.04)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FResult = FAbort ? 0 : (FCodes.empty() ? 0 : FCodes.front());
    if (!FCodes.empty()) FCodes.erase(FCodes.begin());
  }
  int32_t ResultCode() const override { return FResult; }
  void SetResultCode(int32_t Code) override { FResult = Code; }
  void Abort() override { FAbort = true; }
  void ChangeRemuxing(bool, const std::string&) override {}
  TKzCamEngineSettings FSettings;

private:
  std::vector<int32_t> FCodes;
  std::vector<std::string>& FPlayed;
  std::mutex& FLock;
  std::atomic<int32_t> FResult{0};
  std::atomic<bool> FAbort{false};
};

// The library's own fetch threads, with the scripted engine as "FFmpeg".
class TEngineFactory : public IKzCamStreamFactory {
public:
  explicit TEngineFactory(std::vector<int32_t> Codes) : FCodes(std::move(Codes)) { FPrevious = KzSetCamStreamFactory(this); }
  ~TEngineFactory() override { KzSetCamStreamFactory(FPrevious); }
  TKzCamStreamThread* CreateStreamThread(TKzCamStreamKind Kind, const TKzCamStreamParams& Params) override {
    if (Kind == TKzCamStreamKind::kzcskRTSP) return new TKzCamRTSPGetThread(Params);
    return new TKzCamHTTPGetThread(Params);
  }
  bool IsSupportedFFMPEG() override { return true; }
  bool IsSupportedGStreamer() override { return false; }
  IKzCamFFmpegEngine* CreateFFmpegEngine(TKzCamera&) override {
    ++Engines;
    return new TScriptedEngine(FCodes, Played, Lock);
  }
  std::vector<std::string> PlayedURLs() {
    std::lock_guard<std::mutex> g(Lock);
    return Played;
  }
  int Engines = 0;

private:
  std::vector<int32_t> FCodes;
  std::mutex Lock;
  std::vector<std::string> Played;
  IKzCamStreamFactory* FPrevious;
};
}  // namespace

TEST(FFmpegEngine, NormalEndsReopenAndOtherEndsFallBackForMotionJpeg) {
  TKzCamSim sim({.Width = 160, .Height = 120, .Faults = {}});
  ASSERT_TRUE(sim.Start());
  struct {
    const char* Name;
    std::vector<int32_t> Codes;
    TKzVideoFormat Format;
    size_t Plays;
    bool OwnReader;  // the built-in reader took over
    int32_t Status;  // when the stream ends by itself; -1: it does not
  } cases[] = {
      {"end, end, error: Motion-JPEG falls back", {KzFFmpegEOF, KzFFmpegEOF, -5}, TKzVideoFormat::kzvfMJPEG, 3, true, -1},
      {"error at once: H.264 ends", {-5}, TKzVideoFormat::kzvfH264, 1, false, 1},
      {"engine finished: no fallback", {KzFFmpegEOF, 0}, TKzVideoFormat::kzvfMJPEG, 2, false, 1},
  };
  for (const auto& c : cases) {
    TEngineFactory factory(c.Codes);
    TStreamRig rig(&sim);
    int starts = 0;
    rig.Cam.OnStartVideoStream = [&](TComponent*) { ++starts; };
    rig.Cam.SetVideoFormat(c.Format);
    rig.Cam.SetCameraHost("127.0.0.1");
    rig.Play(sim.StreamURL(), "user", "secret");
    if (c.Status >= 0) {
      ASSERT_TRUE(rig.WaitEnd()) << c.Name;
      EXPECT_EQ(rig.Ends, std::vector<int32_t>{c.Status}) << c.Name;
    } else {
      ASSERT_TRUE(PumpUntil([&] { return CountRequests(sim, "/video.mjpg") >= 1 && rig.Probe.Frames() >= 3 * 3 + 5; },
                            10000))
          << c.Name;
    }
    EXPECT_EQ(factory.Engines, 1) << c.Name;
    EXPECT_EQ(factory.PlayedURLs(), std::vector<std::string>(c.Plays, sim.StreamURL())) << c.Name;
    // The engine's frames reached the view; those of the own reader carry stamps.
    const std::vector<int64_t> stamps = rig.Probe.Stamps();
    ASSERT_GE(stamps.size(), 3 * c.Plays) << c.Name;
    EXPECT_EQ(std::count(stamps.begin(), stamps.begin() + 3 * static_cast<long>(c.Plays), -1), 3 * static_cast<long>(c.Plays))
        << c.Name;
    EXPECT_EQ(stamps.size() > 3 * c.Plays, c.OwnReader) << c.Name;
    EXPECT_GE(starts, 1) << c.Name;
    rig.Stop();
    KzInetShutdown();
  }
}

TEST(FFmpegEngine, StillImageCyclingNeverUsesTheEngine) {
  TEngineFactory factory({KzFFmpegEOF});
  TKzCamSim sim({.Width = 160, .Height = 120, .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TStreamRig rig(&sim);
  rig.Cam.SetCycleVideoImages(true);
  rig.Play(sim.StillURL());
  ASSERT_TRUE(rig.WaitFrames(3));
  EXPECT_EQ(factory.Engines, 0);
  EXPECT_TRUE(factory.PlayedURLs().empty());
  rig.Stop();
  KzInetShutdown();
}
