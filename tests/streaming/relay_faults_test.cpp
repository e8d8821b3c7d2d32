// The relay under faults: restarted in place or killed and started again
// mid-stream, and a receiver that stops reading; and the daemon's browser
// output (--web).
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzchaosproxy.h"
#include "tests/streaming/kzrelaytestutil.h"

using namespace kz;
using namespace kztest;

TEST(RelayFaults, VideoResumesAfterARestartInPlaceAndAfterTheDaemonIsKilled) {
  {
    TRelay relay;
    auto rx = RelayReceiver(relay.Port(), 2, {TKzMediaType::kzmtVideo});
    auto tx = RelaySender(relay.Port(), 1, 2, 0);
    ASSERT_GE(FramesResume(*tx, *rx, 3, 20000), 0);
    relay.Server.Restart();
    const int64_t ms = FramesResume(*tx, *rx, 3, 20000);
    EXPECT_GE(ms, 0) << "no video after Restart";
    std::printf("video resumed %lld ms after Restart\n", static_cast<long long>(ms));
  }
  const uint16_t port = FreePort();
  auto relay = std::make_unique<TRelayProcess>(port);
  auto rx = RelayReceiver(port, 2, {TKzMediaType::kzmtVideo});
  rx->Receiver.SetRetryCount(1000);
  auto tx = RelaySender(port, 1, 2, 0);
  ASSERT_GE(FramesResume(*tx, *rx, 3, 20000), 0);
  relay->Kill();
  relay = std::make_unique<TRelayProcess>(port);
  const int64_t ms = FramesResume(*tx, *rx, 3, 20000);
  EXPECT_GE(ms, 0) << "no video after the relay came back";
  std::printf("video resumed %lld ms after kzrelay was killed and started again\n", static_cast<long long>(ms));
}

// The chaos proxy between the relay and one end: a sender's video
// connection spoiled on its way in, or a receiver's requests on their way
// in. After each fault video comes back to the receiver.
TEST(RelayFaults, VideoResumesAfterEveryFaultOfTheChaosProxyOnEitherSide) {
  struct TRow {
    bool SenderSide;
    TChaosFault Fault;
  };
  std::vector<TRow> rows;
  for (bool senderSide : {true, false})
    for (TChaosFault f : {TChaosFault::OneByteWrites, TChaosFault::CutMidPacket, TChaosFault::Garbage,
                          TChaosFault::Stall, TChaosFault::Reset})
      rows.push_back({senderSide, f});
  for (const TRow& row : rows) {
    SCOPED_TRACE(std::string(row.SenderSide ? "sender side, fault " : "receiver side, fault ") +
                 std::to_string(static_cast<int>(row.Fault)));
    TRelay relay;
    // A receiver's requests carry no packet header: its connection is the proxy's first one.
    TChaosProxy proxy(relay.Port(), row.Fault, row.SenderSide ? 30000 : 6000,
                      row.SenderSide ? DATA_TYPE_VIDEO : 0);
    auto rx = RelayReceiver(row.SenderSide ? relay.Port() : proxy.Port, 2, {TKzMediaType::kzmtVideo});
    rx->Receiver.SetRetryCount(1000);
    auto tx = RelaySender(row.SenderSide ? proxy.Port : relay.Port(), 1, 2, 0);
    const TKzMBitmap frame = PatternBitmap(2);
    ASSERT_TRUE(PumpUntil([&] {
      tx->SendImageEx(frame, 0);
      KzMWait(40);
      return proxy.Struck();
    }, 30000)) << "the fault never struck";
    EXPECT_GE(FramesResume(*tx, *rx, 3, 20000), 0) << "no video after the fault";
  }
}

TEST(RelayFaults, AReceiverThatStopsReadingDoesNotHoldUpTheOthers) {
  TRelay relay;
  std::atomic<int> clears{0};
  relay.Server.OnLimitBuffer = [&](TKzMediaServer*, const TGUID& To, uint16_t, int32_t, int32_t, TKzKindLimit K) {
    if (To == Guid(3) && K == TKzKindLimit::kzmklClearBuffer) ++clears;
  };
  auto rx = RelayReceiver(relay.Port(), 2, {TKzMediaType::kzmtVideo});
  TRawPeer stuck(relay.Port());  // asks and asks, never reads
  ASSERT_TRUE(stuck.Request("VDGET", 3));
  ASSERT_TRUE(PumpUntil([&] { return relay.Server.ChannelStats().size() == 2; }));
  auto tx = RelaySender(relay.Port(), 1, 0, 300);
  TRawPeer ctl(relay.Port());
  for (int u : {1, 2, 3}) ASSERT_TRUE(ctl.Send(CmdPacket(JoinCmd(300), u)));
  // Big frames, so that the stuck connection's socket buffers fill soon.
  const TKzMBitmap big = PatternBitmap(4, 640, 480);
  tx->SetEncoding(TKzEncodingType::kzetBMP);
  const size_t target = 60;
  ASSERT_TRUE(PumpUntil([&] {
    tx->SendImageEx(big, 0);
    stuck.Request("VDGET", 3);
    KzMWait(20);
    return rx->Count(rx->Shown) >= target && clears.load() > 0;
  }, 120000)) << rx->Count(rx->Shown) << " frames shown, " << clears.load() << " clears of the stuck buffer";
}

TEST(RelayFaults, WebServesEachSendersVideoByItsGUID) {
  KZ_NEED(HaveProgram("curl") && HaveProgram("djpeg") && HaveProgram("ffmpeg"), "curl, djpeg (libjpeg-turbo-progs), ffmpeg");
  const uint16_t port = FreePort(), web = FreePort();
  TRelayProcess relay(port, {"--web", std::to_string(web)});
  auto tx = RelaySender(port, 1, 2, 0);  // to a user who is not there: only the watcher sees it
  const std::string url = "http://127.0.0.1:" + std::to_string(web) + "/", name = GuidText(1).substr(1, 36);
  const std::string snap = testing::TempDir() + "relay-web-snap.jpg";
  const TKzMBitmap frame = PatternBitmap(2);
  auto send = [&] {
    tx->SendImageEx(frame, 0);
    KzMWait(40);
  };
  const std::string curl = "curl -sf -m 2 -o " + snap + " " + url + "snapshot/" + name + ".jpg && djpeg " + snap + " >/dev/null";
  ASSERT_TRUE(PumpUntil([&] { return send(), std::system(curl.c_str()) == 0; }, 30000)) << "no snapshot decoded";
  std::atomic<int> ffmpeg{-1};
  std::thread reader([&] {
    ffmpeg = std::system(("ffmpeg -v error -i " + url + "video/" + name + ".mjpg -frames:v 10 -f null - </dev/null").c_str());
  });
  PumpUntil([&] { return send(), ffmpeg.load() >= 0; }, 60000);
  reader.join();
  EXPECT_EQ(ffmpeg.load(), 0) << "ffmpeg did not read 10 frames of the relayed stream";
}
