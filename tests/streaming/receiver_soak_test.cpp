// kz-test-labels: slow
// Four senders of 640x480 at 25 fps pushing into one receiver for three
// minutes (KZ_RECEIVER_SOAK_SECONDS sets another length), one of them
// breaking its connection mid-frame every 30 s: every sender's video comes
// back after each break, no frame is shown twice or later than VideoLatency
// + 100 ms after it was sent, and resident memory stays flat after the
// first minute.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "tests/camera/camera_rig.h"
#include "tests/streaming/kzreceivertestutil.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSenders = 4;
constexpr int kCycle = 50;  // distinct stamped frames; a stamp comes back every 2 s
constexpr int kFaultEveryS = 30;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

struct TSoak : IKzCamViewConsumer {
  std::array<TGUID, kSenders> GUIDs;
  std::array<std::array<std::atomic<int64_t>, kCycle>, kSenders> SentUs{};
  std::array<std::atomic<uint64_t>, kSenders> Shown{};
  std::array<int64_t, kSenders> LastStamp{};
  std::atomic<int64_t> WorstAgeUs{0};
  std::atomic<uint64_t> Repeats{0};
  bool Measure = false;  // set once warmed up (main thread, before frames count)

  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& Frame, bool, uint16_t, const TGUID& From) override {
    const int64_t now = NowUs();
    int s = 0;
    while (s < kSenders && GUIDs[static_cast<size_t>(s)] != From) ++s;
    const int64_t stamp = kzcamsim::KzSimReadStamp(Frame);
    if (s == kSenders || stamp < 0 || stamp >= kCycle) return;
    ++Shown[static_cast<size_t>(s)];
    // Draw thread only: the last stamp of each sender.
    if (LastStamp[static_cast<size_t>(s)] == stamp) ++Repeats;
    LastStamp[static_cast<size_t>(s)] = stamp;
    const int64_t age = now - SentUs[static_cast<size_t>(s)][static_cast<size_t>(stamp)].load();
    for (int64_t w = WorstAgeUs.load(); age > w && !WorstAgeUs.compare_exchange_weak(w, age);) {
    }
  }
};

}  // namespace

TEST(ReceiverSoak, FourSendersWithBrokenConnectionsKeepVideoFreshAndMemoryFlat) {
  const char* length = std::getenv("KZ_RECEIVER_SOAK_SECONDS");
  const int seconds = std::max(90, length ? std::atoi(length) : 180);
  std::vector<TBytes> frames;
  for (int i = 0; i < kCycle; ++i) {
    TKzMBitmap b;
    kzcamsim::KzSimDrawFrame(b, 640, 480, static_cast<uint32_t>(i), 0);
    frames.push_back(EncodePicture(b, TKzEncodingType::kzetJPEG));
  }
  TSoak soak;
  for (auto& l : soak.LastStamp) l = -1;
  TKzCamReceiver receiver(nullptr);
  receiver.SetProtocol(TKzProtocol::kzpTCP);
  receiver.SetPort(0);
  receiver.RegisterCamView(&soak);
  receiver.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return receiver.ListeningPort() != 0; }));
  const uint16_t port = receiver.ListeningPort();
  std::atomic<bool> stop{false};
  std::array<std::atomic<int>, kSenders> breakNow{};
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    soak.GUIDs[static_cast<size_t>(s)] = KzCreateGUID();
    senders.emplace_back([&, s] {
      TKzSendStreamArgs a;
      a.Spec.DataType = DATA_TYPE_VIDEO;
      a.Spec.Protocol = TKzProtocol::kzpTCP;
      a.Spec.BufferSize = 65536;
      a.Spec.GUIDFrom = soak.GUIDs[static_cast<size_t>(s)];
      a.SendParam.BufferSize = a.Spec.BufferSize;
      uint16_t index = 0;
      auto due = Clock::now();
      for (uint64_t n = 0; !stop; ++n) {
        if (a.Socket == KZ_INVALID_SOCKET) {
          std::string error;
          a.Socket = KzMConnectStream({"127.0.0.1", port, TKzProtocol::kzpTCP, nullptr, 3000}, nullptr, error);
        }
        due += std::chrono::milliseconds(40);
        std::this_thread::sleep_until(due);
        const TBytes f = FramedPicture(frames[n % kCycle], TKzEncodingType::kzetJPEG, static_cast<int64_t>(n) * 40);
        if (breakNow[static_cast<size_t>(s)].exchange(0)) {  // half a frame, then the connection breaks
          KzSendAll(a.Socket, f.data(), f.size() / 2);
          PlatformCloseSocket(a.Socket);
          a.Socket = KZ_INVALID_SOCKET;
          continue;
        }
        TMemoryStream payload;
        payload.Write(f.data(), static_cast<int64_t>(f.size()));
        payload.SetPosition(0);
        soak.SentUs[static_cast<size_t>(s)][n % kCycle] = NowUs();
        if (KzSendStream(a, payload, index) < 0) {
          PlatformCloseSocket(a.Socket);
          a.Socket = KZ_INVALID_SOCKET;
        }
      }
      PlatformCloseSocket(a.Socket);
    });
  }
  int64_t rss = 0;
  std::array<uint64_t, kSenders> before{};
  for (int t = 1; t <= seconds; ++t) {
    PumpFor(1000);
    if (t == 10) soak.WorstAgeUs = 0;  // warmed up
    if (t == 60) rss = ResidentBytes();
    if (t % kFaultEveryS == 0) {
      const int s = (t / kFaultEveryS) % kSenders;
      for (int i = 0; i < kSenders; ++i) before[static_cast<size_t>(i)] = soak.Shown[static_cast<size_t>(i)];
      breakNow[static_cast<size_t>(s)] = 1;
    }
    if (t % kFaultEveryS == 10) {  // ten seconds after a break every sender has shown new frames
      for (int i = 0; i < kSenders; ++i) {
        EXPECT_GT(soak.Shown[static_cast<size_t>(i)], before[static_cast<size_t>(i)] + (kSanitized ? 0 : 50))
            << "sender " << i << " at " << t << " s";
      }
    }
  }
  const int64_t grown = ResidentBytes() - rss;
  stop = true;
  for (auto& t : senders) t.join();
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&soak);
  std::printf("receiver soak: %d s, frames shown %llu %llu %llu %llu, worst age %.1f ms, resident %+lld KiB\n",
              seconds, static_cast<unsigned long long>(soak.Shown[0].load()),
              static_cast<unsigned long long>(soak.Shown[1].load()), static_cast<unsigned long long>(soak.Shown[2].load()),
              static_cast<unsigned long long>(soak.Shown[3].load()), static_cast<double>(soak.WorstAgeUs) / 1000,
              static_cast<long long>(grown / 1024));
  EXPECT_EQ(soak.Repeats.load(), 0u) << "a frame shown twice";
  if (!kSanitized) {
    EXPECT_LE(soak.WorstAgeUs.load(), (receiver.VideoLatency() + 100) * 1000);
    EXPECT_LT(grown, 2 << 20) << "resident memory grew by " << grown << " bytes after the first minute";
  }
}
