// The single-source frame pipeline: fetch -> decode -> draw -> consumers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzGetData.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzMotionDetectorProperties.h"
#include "tests/video/kzframetestutil.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {

// One chain with a registered view, stopped and freed at the end.
struct TChain {
  TComponent Owner{nullptr};
  TKzConsumerLists Lists;
  TRecordingView View;
  TKzGetData* Fetch;
  std::atomic<int> Decoded{0};
  std::atomic<int> Started{0};
  explicit TChain(bool WithView = true) {
    if (WithView) Lists.CamViews.push_back(&View);
    Fetch = new TKzGetData(&Owner, Lists, TGUID{}, 8912);
    Fetch->Decode().OnFPS = [this](TComponent*) { ++Decoded; };
    Fetch->Decode().OnStartVideo = [this](TComponent*) {
      EXPECT_TRUE(IsMainThread());
      ++Started;
    };
    Fetch->Run();
  }
  ~TChain() { KzMFreeThread(Fetch); }
  void Feed(const std::vector<uint8_t>& Bytes) { Fetch->CopyFromBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size())); }
  bool WaitFrames(size_t N) { return PumpUntil([&] { return View.Count() >= N; }, 10000); }
};

}  // namespace

TEST(SingleSource, LiveModeDecodesOnlyTheNewestFrameAndKeepsTheHalfOne) {
  TChain chain;
  const auto fourth = JpegFrame(kColours[3]);
  const std::vector<uint8_t> firstHalf(fourth.begin(), fourth.begin() + fourth.size() / 2);
  const std::vector<uint8_t> secondHalf(fourth.begin() + fourth.size() / 2, fourth.end());
  chain.Feed(Concat({JpegFrame(kColours[0]), JpegFrame(kColours[1]), JpegFrame(kColours[2]), firstHalf}));
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames(), std::vector<int>{2});
  EXPECT_EQ(chain.Fetch->Decode().BufferedBytes(), static_cast<int64_t>(firstHalf.size()));
  chain.Feed(secondHalf);
  ASSERT_TRUE(chain.WaitFrames(2));
  EXPECT_EQ(chain.View.Frames(), (std::vector<int>{2, 3}));
  EXPECT_EQ(chain.Started.load(), 1);
  EXPECT_EQ(chain.Decoded.load(), 2);
}

TEST(SingleSource, FileModeDecodesEveryFramePacedAndSurvivesDamage) {
  TChain chain;
  chain.Fetch->Decode().SetFramePerSec(25);
  std::atomic<int> ended{0};
  chain.Fetch->Decode().OnEndFileDecode = [&](TComponent*) { ++ended; };
  chain.Fetch->SetFileMode(true);
  const auto truncated = JpegFrame(kColours[4]);
  const std::vector<uint8_t> cut(truncated.begin(), truncated.begin() + truncated.size() / 3);
  const std::vector<uint8_t> garbage = {0x00, 0xFF, 0x12, 0xFF, 0xD9, 0x77};  // a stray end marker too
  chain.Feed(Concat({JpegFrame(kColours[0]), garbage, JpegFrame(kColours[1]), cut, JpegFrame(kColours[2])}));
  chain.Fetch->SetFileMode(false);  // all data handed in: finish, then report the end
  ASSERT_TRUE(PumpUntil([&] { return ended.load() == 1; }, 10000));
  ASSERT_TRUE(chain.WaitFrames(3));
  EXPECT_EQ(chain.View.Frames(), (std::vector<int>{0, 1, 2}));
  // Paced at 25 fps: three frames span two 40 ms steps (unpaced they come
  // within a millisecond). The pacer keeps the file's clock, so a first frame
  // that reached the view late (a busy main thread) shortens the span: at
  // least one step of it is left.
  std::lock_guard<std::mutex> g(chain.View.Lock);
  ASSERT_EQ(chain.View.When.size(), 3u);
  EXPECT_GE(chain.View.When.back() - chain.View.When.front(), std::chrono::milliseconds(40));
}

TEST(SingleSource, DoubleEndMarkersAreConsumedAcrossPasses) {
  TChain chain;
  chain.Feed(Concat({JpegFrame(kColours[0]), {0xFF}}));
  ASSERT_TRUE(chain.WaitFrames(1));
  chain.Feed({0xD9, 0xFF, 0xD9});
  chain.Feed(JpegFrame(kColours[1]));
  ASSERT_TRUE(chain.WaitFrames(2));
  EXPECT_EQ(chain.View.Frames(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(PumpUntil([&] { return chain.Fetch->Decode().BufferedBytes() == 0; }, 5000));
}

TEST(SingleSource, NothingIsDecodedWithoutAConsumer) {
  TChain chain(false);
  chain.Feed(JpegFrame(kColours[0]));
  // The first frame is still announced (the stream has started) ...
  ASSERT_TRUE(PumpUntil([&] { return chain.Started.load() == 1; }, 5000));
  EXPECT_EQ(chain.Fetch->Decode().BufferedBytes(), 0);  // waits for the pass to end
  EXPECT_EQ(chain.Decoded.load(), 0);
  // ... and decoding begins as soon as somebody wants frames.
  chain.Fetch->Paint().LockDisplay();
  chain.Lists.CamViews.push_back(&chain.View);
  chain.Fetch->Paint().UnlockDisplay();
  chain.Feed(JpegFrame(kColours[1]));
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames(), std::vector<int>{1});
}

// A source whose consumers all take the compressed stream (an event
// recorder): its frames are cut once, on the feeding thread, handed whole to
// the packet consumers and counted, and never wake the decode thread; a view
// registered later gets pictures from the frame already begun.
TEST(SingleSource, FramesNobodyWantsAsPicturesAreCutWhereTheyArriveAndCounted) {
  struct TFrameTaker : IKzCamPacketConsumer, IKzCamRecorderConsumer {
    std::vector<std::vector<uint8_t>> Frames;  // fed from the test's thread
    void PacketJpegFrame(TComponent*, const TKzSharedBytes& F) override { Frames.push_back(*F); }
    void PacketVideo(TComponent*, const TKzCompressedVideoPacket&) override {}
    void RecorderGetImage(TComponent*, const TKzMBitmap&, uint16_t, const TGUID&) override {}
    TKzDecodeSize DecodeSizeRequest() const override { return TKzDecodeSize::None(); }
  };
  TFrameTaker taker;  // outlives the chain
  TChain chain(false);
  TKzDrawImage& paint = chain.Fetch->Paint();
  paint.LockDisplay();
  {
    std::lock_guard<std::mutex> g(chain.Lists.ShapeLock);
    chain.Lists.CamRecorders.push_back(&taker);
    chain.Lists.CamPackets.push_back(&taker);
  }
  paint.UnlockDisplay();
  const std::string header = "--b\r\nContent-Type: image/jpeg\r\n\r\n";
  const std::vector<uint8_t> part(header.begin(), header.end());
  std::vector<std::vector<uint8_t>> f;
  for (int i = 0; i < 4; ++i) f.push_back(JpegFrame(kColours[i]));
  const auto half = [](const std::vector<uint8_t>& F, bool First) {
    const auto mid = F.begin() + static_cast<std::ptrdiff_t>(F.size() / 2);
    return First ? std::vector<uint8_t>(F.begin(), mid) : std::vector<uint8_t>(mid, F.end());
  };
  chain.Feed(Concat({part, f[0], part, half(f[1], true)}));
  chain.Feed(Concat({half(f[1], false), part, f[2], part, half(f[3], true)}));
  EXPECT_EQ(taker.Frames, (std::vector<std::vector<uint8_t>>{f[0], f[1], f[2]}));
  EXPECT_EQ(chain.Started.load(), 1);
  EXPECT_EQ(chain.Decoded.load(), 3);
  EXPECT_EQ(paint.LastFrameIndex(), 3);
  EXPECT_EQ(chain.Fetch->PendingBytes() + chain.Fetch->Decode().PendingBytes() + chain.Fetch->Decode().BufferedBytes(), 0);
  paint.LockDisplay();
  chain.Lists.CamViews.push_back(&chain.View);
  paint.UnlockDisplay();
  chain.Feed(Concat({half(f[3], false), part}));
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames(), std::vector<int>{3});
  EXPECT_EQ(taker.Frames.size(), 4u);
  EXPECT_TRUE(PumpUntil([&] { return chain.Decoded.load() == 4 && paint.LastFrameIndex() == 4; }, 5000));
}

TEST(SingleSource, WithoutLatencyANewFrameReplacesTheWaitingOne) {
  TChain chain;
  TKzDrawImage& paint = chain.Fetch->Paint();
  TKzMBitmap frames[3];
  for (int i = 0; i < 3; ++i) {
    frames[i].SetSize(8, 8);
    std::fill(frames[i].Data(), frames[i].Data() + 64, kColours[i]);
  }
  chain.View.Gate = true;  // the first frame's output stays in the view
  paint.AddToBuffer(frames[0], 0);
  ASSERT_TRUE(PumpUntil([&] { return chain.View.Inside.load(); }, 10000));
  paint.AddToBuffer(frames[1], 0);
  paint.AddToBuffer(frames[2], 0);
  chain.View.Gate = false;
  ASSERT_TRUE(chain.WaitFrames(2));  // a wrongly kept frame 1 would come second
  const auto seen = chain.View.Frames();
  EXPECT_EQ(seen.back(), 2);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 0) << "the frame that waited was replaced";
}

// Frames handed over by swapping their pixels reach the consumers and the
// snapshots whole and in order while another thread keeps taking snapshots.
TEST(SingleSource, SwappedFramesStayWholeUnderConcurrentSnapshots) {
  struct TCheckingView : IKzCamViewConsumer {
    std::atomic<uint32_t> Last{0};
    std::atomic<int> Torn{0}, Backwards{0};
    void ViewerGetImageBMP(TComponent*, const TKzMBitmap& B, bool, uint16_t, const TGUID&) override {
      const uint32_t v = B.Data()[0];
      if (std::any_of(B.Data(), B.Data() + B.GetLength(), [v](uint32_t p) { return p != v; })) ++Torn;
      if (v < Last.load()) ++Backwards;
      Last = v;
    }
  };
  TCheckingView view;  // outlives the chain
  TChain chain(false);
  TKzDrawImage& paint = chain.Fetch->Paint();
  paint.LockDisplay();
  chain.Lists.CamViews.push_back(&view);
  paint.UnlockDisplay();
  constexpr uint32_t kFrames = 400;
  std::atomic<bool> done{false};
  std::atomic<int> tornSnapshots{0}, snapshots{0};
  std::thread reader([&] {
    TKzMBitmap snap;
    double pts = 0;
    while (!done.load()) {
      if (!paint.GetCurrentImage(snap, pts)) continue;
      const uint32_t v = snap.Data()[0];
      if (std::any_of(snap.Data(), snap.Data() + snap.GetLength(), [v](uint32_t p) { return p != v; })) ++tornSnapshots;
      ++snapshots;
      std::this_thread::yield();
    }
  });
  std::thread producer([&] {
    TKzMBitmap frame;
    for (uint32_t k = 1; k <= kFrames; ++k) {
      frame.SetSize(64, 32);
      std::fill(frame.Data(), frame.Data() + frame.GetLength(), 0xFF000000u | k);
      paint.AddToBufferSwap(frame, k);
      if (k % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  producer.join();
  EXPECT_TRUE(PumpUntil([&] { return view.Last.load() == (0xFF000000u | kFrames); }, 10000))
      << "the last frame is shown";
  done = true;
  reader.join();
  EXPECT_EQ(view.Torn.load(), 0);
  EXPECT_EQ(view.Backwards.load(), 0);
  EXPECT_EQ(tornSnapshots.load(), 0);
  EXPECT_GT(snapshots.load(), 0);
}

TEST(SingleSource, SnapshotIsTheNewestFrameHandedInWhereverItWaits) {
  TChain chain;
  TKzDrawImage& paint = chain.Fetch->Paint();
  const auto snapshot = [&] {
    TKzMBitmap b;
    double pts = -1;
    EXPECT_TRUE(paint.GetCurrentImage(b, pts));
    return std::make_pair(ColourIndex(b), pts);
  };
  TKzMBitmap frame;
  paint.LockDisplay();  // holds output back
  FillColour(frame, kColours[0], 8, 8);
  paint.AddToBufferSwap(frame, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the draw thread may take it meanwhile
  EXPECT_EQ(snapshot(), std::make_pair(0, 1.0));
  FillColour(frame, kColours[1], 8, 8);
  paint.AddToBufferSwap(frame, 2);
  EXPECT_EQ(snapshot(), std::make_pair(1, 2.0));
  paint.Clear();  // the queue goes, the snapshot stays
  EXPECT_EQ(snapshot(), std::make_pair(1, 2.0));
  paint.UnlockDisplay();
  FillColour(frame, kColours[2], 8, 8);
  paint.AddToBufferSwap(frame, 3);
  ASSERT_TRUE(PumpUntil([&] { return !chain.View.Frames().empty() && chain.View.Frames().back() == 2; }, 5000));
  EXPECT_EQ(snapshot(), std::make_pair(2, 3.0)) << "after output";
  paint.SetRotation(TKzRotation::kzr180);  // output changes frames in place: snapshots keep their own copy
  FillColour(frame, kColours[3], 8, 8);
  paint.AddToBufferSwap(frame, 4);
  ASSERT_TRUE(PumpUntil([&] { return chain.View.Frames().back() == 3; }, 5000));
  EXPECT_EQ(snapshot(), std::make_pair(3, 4.0));
}

TEST(SingleSource, AStreamWithoutEndMarkersStaysBounded) {
  TChain chain;
  std::vector<uint8_t> noise(1 << 20);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 131) & 0x7F);  // never FF
  noise[0] = 0xFF;
  noise[1] = 0xD8;
  for (int i = 0; i < 20; ++i) {
    chain.Fetch->IsCheckData();
    chain.Feed(noise);
  }
  ASSERT_TRUE(PumpUntil([&] { return chain.Fetch->PendingBytes() == 0 && chain.Fetch->Decode().PendingBytes() == 0; },
                        10000));
  EXPECT_LE(chain.Fetch->Decode().BufferedBytes(), TKzDecodeImage::MaxDataBytes);
  chain.Feed(JpegFrame(kColours[5]));  // a good frame still comes through
  ASSERT_TRUE(chain.WaitFrames(1));
  EXPECT_EQ(chain.View.Frames().back(), 5);
}

TEST(SingleSource, StoppingDuringTheStartOfVideoHandOverDoesNotDeadlock) {
  TChain chain;
  chain.Feed(JpegFrame(kColours[0]));
  // Wait, without pumping, until the decoder sits in its synchronous hand-over.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (PendingMainThreadWork() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(PendingMainThreadWork(), 0u);
  const auto start = Clock::now();
  KzMFreeThread(chain.Fetch);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));  // a deadlock would wait for ever
  EXPECT_EQ(chain.Started.load(), 1);
}

TEST(SingleSource, ImageEventsArriveOnTheMainThreadAndSnapshotsAreStable) {
  TChain chain;
  std::atomic<int> events{0};
  chain.Fetch->Paint().SetRotation(TKzRotation::kzr90);
  chain.Fetch->Paint().SetOnGetImageEx([&](TComponent* Sender, TKzMBitmap& Img, double) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(Sender, &chain.Owner);
    EXPECT_EQ(Img.Width(), 48);  // rotated
    ++events;
  });
  chain.Feed(JpegFrame(kColours[1], 64, 48));
  ASSERT_TRUE(PumpUntil([&] { return events.load() == 1; }, 5000));
  TKzMBitmap a, b;
  double pa = -1, pb = -1;
  ASSERT_TRUE(chain.Fetch->Paint().GetCurrentImage(a, pa));
  ASSERT_TRUE(chain.Fetch->Paint().GetCurrentImage(b, pb));
  EXPECT_EQ(a.Width(), 48);
  EXPECT_EQ(b.Width(), 48) << "a second snapshot is not rotated twice";
  EXPECT_EQ(chain.Fetch->Paint().LastFrameIndex(), 1);
}

TEST(SingleSource, MotionRegionsReachTheMainThreadWithTheirFrame) {
  TChain chain;
  TKzGlobalMotionDetectorProperties motion;
  std::vector<std::vector<TKzRectF>> seen;
  TKzDrawImage& paint = chain.Fetch->Paint();
  paint.SetMotionStep([&](TKzMBitmap& Frame) { return &motion.DetectMotion(Frame); });
  paint.SetOnGetRegions([&](TComponent* Sender, TKzMBitmap& Img, TKzMotionDetector& Detector) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(Sender, &chain.Owner);
    EXPECT_EQ(Img.Width(), 320);
    seen.push_back(Detector.ValidRects());
  });
  TKzMBitmap still, moved;
  still.SetSize(320, 240);
  std::fill(still.Data(), still.Data() + still.GetLength(), 0xFF404040u);
  moved.AssignKzMBitmap(still);
  for (int y = 100; y < 140; ++y)
    for (int x = 200; x < 240; ++x) moved.ScanLine(y)[x] = 0xFFFFFFFFu;
  paint.AddToBuffer(still, 0);
  ASSERT_TRUE(PumpUntil([&] { return seen.size() == 1; }, 5000));
  paint.AddToBuffer(moved, 0);
  ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }, 5000));
  EXPECT_TRUE(seen[0].empty());
  ASSERT_EQ(seen[1].size(), 1u);
  EXPECT_LE(seen[1][0].Left, 200);
  EXPECT_GE(seen[1][0].Right, 240);
  EXPECT_LE(seen[1][0].Top, 100);
  EXPECT_GE(seen[1][0].Bottom, 140);
}
