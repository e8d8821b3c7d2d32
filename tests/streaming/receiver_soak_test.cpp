// kz-test-labels: slow
// Four senders (TKzCamSender) of 640x480 at 25 fps pushing into one
// receiver for three minutes (KZ_RECEIVER_SOAK_SECONDS sets another
// length), the chaos proxy cutting one of them mid-frame every 30 s: every
// sender's video comes back after each break, no frame is shown twice or
// later than VideoLatency + 100 ms after it was sent, resident memory grows
// less than 2 MiB after the first minute (queues drained, heap trimmed).
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <array>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "sender/fmxMKzCamSender.h"
#include "tests/camera/camera_rig.h"
#include "tests/streaming/kzchaosproxy.h"
#include "tests/streaming/kzreceivertestutil.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kSenders = 4, kCycle = 50;  // a stamp comes back every 2 s

int64_t NowUs() { return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count(); }

struct TSoak : IKzCamViewConsumer {
  std::array<TGUID, kSenders> GUIDs{KzCreateGUID(), KzCreateGUID(), KzCreateGUID(), KzCreateGUID()};
  std::array<std::array<std::atomic<int64_t>, kCycle>, kSenders> SentUs{};
  std::array<std::atomic<uint64_t>, kSenders> Shown{};
  std::array<int64_t, kSenders> LastStamp{-1, -1, -1, -1};  // draw thread only
  std::atomic<int64_t> WorstAgeUs{0};
  std::atomic<uint64_t> Repeats{0};

  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& Frame, bool, uint16_t, const TGUID& From) override {
    const int64_t now = NowUs(), stamp = kzcamsim::KzSimReadStamp(Frame);
    const size_t s = static_cast<size_t>(std::find(GUIDs.begin(), GUIDs.end(), From) - GUIDs.begin());
    if (s == kSenders || stamp < 0 || stamp >= static_cast<int64_t>(kCycle)) return;
    ++Shown[s];
    Repeats += LastStamp[s] == stamp;
    LastStamp[s] = stamp;
    const int64_t age = now - SentUs[s][static_cast<size_t>(stamp)].load();
    for (int64_t w = WorstAgeUs.load(); age > w && !WorstAgeUs.compare_exchange_weak(w, age);) {
    }
  }
};

}  // namespace

TEST(ReceiverSoak, FourSendersWithBrokenConnectionsKeepVideoFreshAndMemoryFlat) {
  const char* length = std::getenv("KZ_RECEIVER_SOAK_SECONDS");
  const int seconds = std::max(90, length ? std::atoi(length) : 180);
  std::vector<TBytes> jpegs;
  for (size_t i = 0; i < kCycle; ++i) {
    TKzMBitmap b;
    kzcamsim::KzSimDrawFrame(b, 640, 480, static_cast<uint32_t>(i), 0);
    jpegs.push_back(EncodePicture(b, TKzEncodingType::kzetJPEG));
  }
  TSoak soak;
  TKzCamReceiver receiver(nullptr);
  receiver.SetProtocol(TKzProtocol::kzpTCP);
  receiver.SetPort(0);
  receiver.RegisterCamView(&soak);
  receiver.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return receiver.ListeningPort() != 0; }));
  std::vector<std::unique_ptr<TChaosProxy>> proxies;
  std::vector<std::unique_ptr<TKzCamSender>> senders;
  for (size_t s = 0; s < kSenders; ++s) {
    proxies.push_back(std::make_unique<TChaosProxy>(receiver.ListeningPort(), TChaosFault::CutMidPacket, SIZE_MAX,
                                                    DATA_TYPE_VIDEO));
    senders.push_back(std::make_unique<TKzCamSender>(nullptr));
    TKzCamSender& x = *senders.back();
    x.SetProtocol(TKzProtocol::kzpTCP);
    x.SetBufferSize(65536);
    x.SetGUIDFrom(GUIDToStringA(soak.GUIDs[s]));
    x.SetReceiverHost("127.0.0.1");
    x.SetReceiverPort(proxies.back()->Port);
    x.SetActive(true);
  }
  std::atomic<bool> stop{false}, paused{false};
  std::thread feeder([&] {  // every sender's next frame every 40 ms
    auto due = Clock::now();
    for (uint64_t n = 0; !stop; ++n) {
      std::this_thread::sleep_until(due += std::chrono::milliseconds(40));
      if (paused) continue;
      const TBytes f = FramedPicture(jpegs[n % kCycle], TKzEncodingType::kzetJPEG, static_cast<int64_t>(n) * 40);
      for (size_t s = 0; s < kSenders; ++s) {
        TMemoryStream payload;
        payload.Write(f.data(), static_cast<int64_t>(f.size()));
        soak.SentUs[s][n % kCycle] = NowUs();
        senders[s]->SendVideoStream(0, TKzVideoInfo{}, payload, 0);
      }
    }
  });
  // Resident memory with the video paused until every queue has drained
  // (the frames waiting out VideoLatency, a second of four senders, are tens
  // of megabytes, as many as the machine's load makes them) and the heap
  // given back: what stays is the receiver's state.
  const auto settled = [&] {
    paused = true;
    PumpFor(static_cast<int>(receiver.VideoLatency()) + 1500);
    malloc_trim(0);
    const int64_t rss = ResidentBytes();
    paused = false;
    return rss;
  };
  int64_t base = 0, peak = 0;
  std::array<uint64_t, kSenders> before{};
  for (int t = 1; t <= seconds; ++t) {
    PumpFor(1000);
    peak = std::max(peak, ResidentBytes());
    if (t == 10) soak.WorstAgeUs = 0;  // warmed up
    if (t == 60) base = settled();
    if (t % 30 == 0) {
      for (size_t i = 0; i < kSenders; ++i) before[i] = soak.Shown[i];
      proxies[static_cast<size_t>(t / 30) % kSenders]->CutNow();
    }
    for (size_t i = 0; i < kSenders && t % 30 == 10; ++i)  // ten seconds after a break all have new frames
      EXPECT_GT(soak.Shown[i], before[i] + (kSanitized ? 0 : 50)) << "sender " << i << " at " << t << " s";
  }
  const int64_t grown = settled() - base;
  stop = true;
  feeder.join();
  for (auto& x : senders) x->SetActive(false);
  proxies.clear();
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&soak);
  std::printf("receiver soak: %d s, frames %llu %llu %llu %llu, worst age %.1f ms, resident %+lld KiB, "
              "peak while running %lld MiB\n",
              seconds, (unsigned long long)soak.Shown[0], (unsigned long long)soak.Shown[1],
              (unsigned long long)soak.Shown[2], (unsigned long long)soak.Shown[3],
              static_cast<double>(soak.WorstAgeUs) / 1000, (long long)grown / 1024, (long long)peak >> 20);
  EXPECT_EQ(soak.Repeats.load(), 0u) << "a frame shown twice";
  if (!kSanitized) {
    EXPECT_LE(soak.WorstAgeUs.load(), (receiver.VideoLatency() + 100) * 1000);
    EXPECT_LT(grown, 2 << 20) << "resident memory grew by " << grown << " bytes after the first minute";
  }
}
