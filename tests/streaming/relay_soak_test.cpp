// kz-test-labels: slow
// Twenty participants joining a group and leaving again, one every quarter
// second, while a sender pushes to the group, for three minutes
// (KZ_RELAY_SOAK_SECONDS sets another length): the relay keeps delivering,
// its users and channels do not pile up, and this process's memory and
// descriptors stay flat after the first minute.
#include <array>
#include <cstdio>

#include "tests/camera/camera_rig.h"
#include "tests/streaming/kzrelaytestutil.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

TEST(RelaySoak, ParticipantsComeAndGoWithoutLeaks) {
  const char* length = std::getenv("KZ_RELAY_SOAK_SECONDS");
  const int seconds = std::max(70, length ? std::atoi(length) : 180);
  constexpr size_t kParticipants = 20;
  TRelay relay;
  TRawPeer sender(relay.Port());
  std::array<std::unique_ptr<TPuller>, kParticipants> slots;
  const auto start = Clock::now();
  int64_t rss0 = 0;
  size_t fds0 = 0, delivered = 0;
  int joins = 0;
  std::vector<Clock::time_point> joined;
  for (int tick = 0; Clock::now() - start < std::chrono::seconds(seconds); ++tick) {
    const size_t k = static_cast<size_t>(tick) % kParticipants;
    slots[k].reset();  // leaves: its connections close, its channels end when idle
    const int me = 1000 + joins++;
    joined.push_back(Clock::now());
    slots[k] = std::make_unique<TPuller>(relay.Port(), me, "UDGET");
    TRawPeer ctl(relay.Port());
    ASSERT_TRUE(ctl.Send(CmdPacket(JoinCmd(500), me)));
    ASSERT_TRUE(sender.Send(UserPacket("tick " + std::to_string(tick), 1, 0, 500)));
    for (auto& p : slots)
      if (p) delivered += Texts(p->Poll()).size();
    KzMWait(200);
    if (rss0 == 0 && Clock::now() - start > std::chrono::seconds(60)) {
      rss0 = ResidentBytes();
      fds0 = OpenFds();
    }
  }
  EXPECT_GT(delivered, static_cast<size_t>(joins)) << "the group's data reached its members";
  // Users whose channels went idle (15 s) are gone; only the recent ones remain.
  const auto recent = static_cast<size_t>(std::count_if(joined.begin(), joined.end(), [](const Clock::time_point& T) {
    return Clock::now() - T < std::chrono::seconds(18);
  }));
  EXPECT_LE(relay.Server.UserCount(), recent + kParticipants) << joins << " joins in all";
  std::printf("resident growth after the first minute: %.1f MiB\n", double(ResidentBytes() - rss0) / (1 << 20));
  // AddressSanitizer's quarantine keeps freed blocks resident (up to 256 MiB).
  if (!kSanitized) EXPECT_LT(ResidentBytes() - rss0, int64_t{6} << 20);
  EXPECT_LE(OpenFds(), fds0 + 4);
}
