// kz-test-labels: slow
// Four senders of 640x480 at 25 fps pushing into one receiver for three
// minutes (KZ_RECEIVER_SOAK_SECONDS sets another length), one of them
// breaking its connection mid-frame every 30 s: every sender's video comes
// back after each break, no frame is shown twice or later than VideoLatency
// + 100 ms after it was sent, resident memory stays flat after a minute.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "tests/camera/camera_rig.h"
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
  std::atomic<bool> stop{false};
  std::array<std::atomic<bool>, kSenders> breakNow{};
  std::vector<std::thread> senders;
  for (size_t s = 0; s < kSenders; ++s)
    senders.emplace_back([&, s] {
      TKzSendStreamArgs a;
      a.Spec.DataType = DATA_TYPE_VIDEO;
      a.Spec.BufferSize = a.SendParam.BufferSize = 65536;
      a.Spec.GUIDFrom = soak.GUIDs[s];
      uint16_t index = 0;
      auto due = Clock::now();
      for (uint64_t n = 0; !stop; ++n) {
        std::string error;
        if (a.Socket == KZ_INVALID_SOCKET)
          a.Socket = KzMConnectStream({"127.0.0.1", receiver.ListeningPort(), TKzProtocol::kzpTCP, nullptr, 3000},
                                      nullptr, error);
        std::this_thread::sleep_until(due += std::chrono::milliseconds(40));
        const TBytes f = FramedPicture(jpegs[n % kCycle], TKzEncodingType::kzetJPEG, static_cast<int64_t>(n) * 40);
        soak.SentUs[s][n % kCycle] = NowUs();
        if (breakNow[s].exchange(false)) {  // a packet cut in the middle, and the connection breaks
          TBytes cut(256);
          cut.resize(static_cast<size_t>(FillHeader(cut.data(), 256, DATA_TYPE_VIDEO, TKzCompressionType::kztcNone, 0,
                                                    static_cast<int64_t>(f.size()), a.Spec.GUIDFrom, {}, {}, {}, 0,
                                                    true, TKzProtocol::kzpTCP)));
          cut.insert(cut.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(f.size() / 2));
          KzSendAll(a.Socket, cut.data(), cut.size());
        } else {
          TMemoryStream payload;
          payload.Write(f.data(), static_cast<int64_t>(f.size()));
          payload.SetPosition(0);
          if (KzSendStream(a, payload, index) >= 0) continue;
        }
        PlatformCloseSocket(a.Socket);
        a.Socket = KZ_INVALID_SOCKET;
      }
      PlatformCloseSocket(a.Socket);
    });
  int64_t rss = 0;
  std::array<uint64_t, kSenders> before{};
  for (int t = 1; t <= seconds; ++t) {
    PumpFor(1000);
    if (t == 10) soak.WorstAgeUs = 0;  // warmed up
    if (t == 60) rss = ResidentBytes();
    if (t % 30 == 0) {
      for (size_t i = 0; i < kSenders; ++i) before[i] = soak.Shown[i];
      breakNow[static_cast<size_t>(t / 30) % kSenders] = true;
    }
    for (size_t i = 0; i < kSenders && t % 30 == 10; ++i)  // ten seconds after a break all have new frames
      EXPECT_GT(soak.Shown[i], before[i] + (kSanitized ? 0 : 50)) << "sender " << i << " at " << t << " s";
  }
  const int64_t grown = ResidentBytes() - rss;
  stop = true;
  for (auto& t : senders) t.join();
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&soak);
  std::printf("receiver soak: %d s, frames %llu %llu %llu %llu, worst age %.1f ms, resident %+lld KiB\n", seconds,
              (unsigned long long)soak.Shown[0], (unsigned long long)soak.Shown[1], (unsigned long long)soak.Shown[2],
              (unsigned long long)soak.Shown[3], static_cast<double>(soak.WorstAgeUs) / 1000, (long long)grown / 1024);
  EXPECT_EQ(soak.Repeats.load(), 0u) << "a frame shown twice";
  if (!kSanitized) {
    EXPECT_LE(soak.WorstAgeUs.load(), (receiver.VideoLatency() + 100) * 1000);
    // A connection broken mid-packet leaves its unfinished frame in the
    // receiving chain (kept so the frames before the break are not lost):
    // up to 1 MiB per break is allowed on top of the 2 MiB bound until
    // those are freed. Anything growing per frame still far exceeds this.
    const int64_t breaksAfterFirstMinute = std::max(0, seconds / 30 - 1);
    EXPECT_LT(grown, (2 << 20) + breaksAfterFirstMinute * (1 << 20))
        << "resident memory grew by " << grown << " bytes after the first minute";
  }
}
