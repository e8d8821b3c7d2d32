// Frames supplied by the application: pacing at the frame rate, delivery to
// consumers and OnGetImage, the end of a run, and a camera started,
// aborted, restarted and destroyed while consumers come and go.
#include <gtest/gtest.h>

#include "camera_doubles.h"
#include "platform/fmxMKzPlatformClock.h"

using namespace kz;
using namespace kztest;

namespace {
uint32_t FillFrame(TKzMBitmap* B, int32_t Width) {
  B->SetSize(Width, 4);
  B->FillData(0x80);
  return 1;
}
}  // namespace

TEST(UserData, TwentyFiveFramesPerSecondReachConsumersAndOnGetImage) {
  TKzVirtualClockScope clock;
  TKzCamera cam(nullptr);
  cam.SetDeviceType(TKzDeviceType::kzdtUserData);
  TFakeView view;
  cam.RegisterCamView(&view);
  std::atomic<int> images{0};
  int asked = 0, started = 0;
  cam.OnGetImage = [&](TComponent*, TKzMBitmap&) { ++images; };
  cam.OnStartVideoStream = [&](TComponent*) { ++started; };
  cam.OnNeedData = [&](TComponent* s, TKzMBitmap* b) {
    EXPECT_EQ(s, &cam);
    EXPECT_TRUE(IsMainThread());
    ++asked;
    return FillFrame(b, 32);
  };
  cam.PlayVideoStream();
  ASSERT_TRUE(Pump([&] { return images.load() == 1; }));
  // Two seconds of virtual time in frame-sized steps; every step brings
  // exactly one frame, none early and none late.
  for (int step = 1; step <= 50; ++step) {
    clock.Clock.Advance(40);
    ASSERT_TRUE(Pump([&] { return images.load() == step + 1; })) << step;
  }
  clock.Clock.Advance(39);  // not yet due
  Pump([] { return false; }, 50);
  EXPECT_EQ(images.load(), 51);
  EXPECT_EQ(view.Frames.load(), 51);
  EXPECT_EQ(view.LastWidth.load(), 32);
  EXPECT_EQ(asked, 51);
  EXPECT_EQ(started, 1);
  const double fps = cam.GetFPS();
  EXPECT_GE(fps, 24.0);
  EXPECT_LE(fps, 26.0);
  cam.Abort();
  cam.WaitForVideo();
  cam.UnRegisterCamView(&view);
}

TEST(UserData, RunEndsWithStatusByHowItEnded) {
  struct {
    const char* Name;
    int Mode;  // 0: application ends it, 1: handler throws, 2: no handler, 3: aborted
    int32_t Status;
  } cases[] = {{"end marker", 0, 0}, {"handler throws", 1, 1}, {"no handler", 2, 1}, {"aborted", 3, 0}};
  for (const auto& c : cases) {
    TKzCamera cam(nullptr);
    cam.SetDeviceType(TKzDeviceType::kzdtUserData);
    cam.SetFramePerSec(200);
    std::vector<int32_t> ends;
    std::string debug;
    int frames = 0;
    cam.OnEndVideoStream = [&](TComponent*, int32_t s) { ends.push_back(s); };
    cam.OnDebugDataRead = [&](TComponent*, int64_t, const std::string& t) { debug = t; };
    if (c.Mode != 2) {
      cam.OnNeedData = [&, mode = c.Mode](TComponent*, TKzMBitmap* b) -> uint32_t {
        if (++frames < 3 || mode == 3) return FillFrame(b, 8);
        if (mode == 1) throw EKzMediaError("no more pictures");
        return KzUserDataEnd;
      };
    }
    cam.PlayVideoStream();
    if (c.Mode == 3) {
      ASSERT_TRUE(Pump([&] { return frames > 3; })) << c.Name;
      cam.Abort();
    }
    ASSERT_TRUE(Pump([&] { return !ends.empty(); })) << c.Name;
    EXPECT_EQ(ends, std::vector<int32_t>{c.Status}) << c.Name;
    if (c.Status != 0) {
      EXPECT_TRUE(Pump([&] { return !debug.empty(); })) << c.Name;
    }
    EXPECT_FALSE(cam.IsVideoPlaying());
  }
}

TEST(UserData, SwitchingTheDeviceEndsTheRunningStreamFirst) {
  TKzCamera cam(nullptr);
  cam.SetDeviceType(TKzDeviceType::kzdtUserData);
  std::vector<int32_t> ends;
  std::atomic<int> frames{0};
  cam.OnEndVideoStream = [&](TComponent*, int32_t s) { ends.push_back(s); };
  cam.OnNeedData = [&](TComponent*, TKzMBitmap* b) {
    ++frames;
    return FillFrame(b, 8);
  };
  cam.PlayVideoStream();
  ASSERT_TRUE(Pump([&] { return frames.load() > 2; }));
  EXPECT_TRUE(cam.IsVideoPlaying());
  cam.SetDeviceType(TKzDeviceType::kzdtIPCamera);
  EXPECT_EQ(ends, std::vector<int32_t>{0});
  EXPECT_FALSE(cam.IsVideoPlaying());
  EXPECT_EQ(cam.UserThread(), nullptr);
}

// Run under ThreadSanitizer and AddressSanitizer: frames are drawn on the
// player's worker while the main thread registers and unregisters
// consumers, aborts, restarts and finally destroys the camera mid-stream.
TEST(UserData, StartAbortRestartDestroyWhileConsumersComeAndGo) {
  TFakeStreamFactory factory;
  factory.Control.PushFrames = true;
  for (int round = 0; round < 12; ++round) {
    auto cam = std::make_unique<TKzCamera>(nullptr);
    const bool userData = round % 2 == 0;
    std::vector<std::unique_ptr<TFakeView>> views;
    std::vector<std::unique_ptr<TFakeSender>> senders;
    for (int i = 0; i < 3; ++i) {
      views.push_back(std::make_unique<TFakeView>());
      senders.push_back(std::make_unique<TFakeSender>());
    }
    std::atomic<int> images{0};
    int ends = 0;
    cam->OnGetImage = [&](TComponent*, TKzMBitmap&) { ++images; };
    cam->OnEndVideoStream = [&](TComponent*, int32_t) { ++ends; };
    cam->OnNeedData = [](TComponent*, TKzMBitmap* b) { return FillFrame(b, 16); };
    cam->SetFramePerSec(500);
    if (userData)
      cam->SetDeviceType(TKzDeviceType::kzdtUserData);
    else
      cam->SetURL("http://127.0.0.1/video.mjpg");
    cam->RegisterCamView(views[0].get());
    for (int restart = 0; restart < 3; ++restart) {
      cam->PlayVideoStream();
      const int before = images.load();
      for (int i = 0; i < 3; ++i) {
        cam->RegisterCamView(views[1].get());
        cam->RegisterCamSender(senders[i].get());
        Pump([&] { return images.load() > before + 2 * i; }, 2000);
        cam->UnRegisterCamView(views[1].get());
      }
      EXPECT_TRUE(Pump([&] { return images.load() > before; }, 5000)) << round << "/" << restart;
      cam->Abort();
      for (int i = 0; i < 3; ++i) cam->UnRegisterCamSender(senders[i].get());
    }
    cam->PlayVideoStream();
    cam->RegisterCamView(views[2].get());
    Pump([&] { return views[2]->Frames.load() > 0; }, 2000);
    const int endsBefore = ends;
    cam.reset();  // destroyed while streaming, with views still registered
    EXPECT_EQ(factory.Control.Running.load(), 0);
    EXPECT_EQ(ends, endsBefore) << "no events from a camera that is going away";
  }
}
