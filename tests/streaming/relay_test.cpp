// The relay between our sender and receiver, and the relay's own rules
// spoken on the wire.
#include "tests/streaming/kzrelaytestutil.h"

using namespace kz;
using namespace kztest;

TEST(Relay, VideoFromSenderReachesReceiverByGUID) {
  TRelay relay;
  auto rx = RelayReceiver(relay.Port(), 2, {TKzMediaType::kzmtVideo});
  ASSERT_TRUE(PumpUntil([&] { return relay.Server.ChannelStats().size() == 1; }));
  auto tx = RelaySender(relay.Port(), 1, 2, 0);
  const TKzMBitmap frame = PatternBitmap(3);
  ASSERT_TRUE(PumpUntil([&] {
    tx->SendImageEx(frame, 0);
    return rx->Count(rx->Shown) >= 3;
  }, 20000));
  std::lock_guard<std::mutex> g(rx->Lock);
  EXPECT_EQ(rx->Shown.back().first, Guid(1));
}
