// Frame hand-off through the camera: CamDrawImage (latency 0) with one view
// and one sender registered, against the anchor of handing the same frames
// straight to a bare draw thread with the same consumers. The ratio is the
// camera's own cost per frame (frame counting, dispatch by latency).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

#include "bench/kzbench.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFrames = 1000;

struct TCountingView : IKzCamViewConsumer {
  std::atomic<int> Frames{0};
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override { ++Frames; }
};
struct TCountingSender : IKzCamSenderConsumer {
  std::atomic<int> Frames{0};
  void SenderGetImage(TComponent*, TKzImageWrapper&, uint16_t, const TGUID&) override { ++Frames; }
};

template <typename Deliver>
double FramesPerSecond(Deliver&& Hand) {
  TKzMBitmap frame(640, 480);
  frame.FillData(0x5A);
  const auto start = Clock::now();
  for (int i = 0; i < kFrames; ++i) Hand(frame, i * 0.04);
  return kFrames / std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_CameraFrameHandOff(benchmark::State& State) {
  double ours = 0, anchor = 0;
  for (auto _ : State) {
    {
      TKzCamera cam(nullptr);
      TCountingView view;
      TCountingSender sender;
      cam.RegisterCamView(&view);
      cam.RegisterCamSender(&sender);
      ours = FramesPerSecond([&](TKzMBitmap& f, double t) { cam.CamDrawImage(f, t); });
      cam.UnRegisterCamView(&view);
      cam.UnRegisterCamSender(&sender);
    }
    {
      TComponent owner(nullptr);
      TKzConsumerLists lists;
      TCountingView view;
      TCountingSender sender;
      lists.CamViews.push_back(&view);
      lists.CamSenders.push_back(&sender);
      TKzDrawImage* paint = new TKzDrawImage(&owner, TGUID{}, lists);
      anchor = FramesPerSecond([&](TKzMBitmap& f, double t) { paint->OutputImageProtected(f, t); });
      KzMFreeThread(paint);
    }
  }
  State.counters["camera_fps"] = ours;
  State.counters["draw_thread_fps"] = anchor;
  State.counters["ratio"] = ours / anchor;
  kzbench::Rate("camera_frame_hand_off", ours, anchor, "frames/s");
}

BENCHMARK(BM_CameraFrameHandOff)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
