// Frame queues and the source timing registry, on the virtual clock.
#include <gtest/gtest.h>

#include <thread>

#include "tests/foundation/kzlisttest.h"
#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzImageList.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;
using kztest::Header;

namespace {
constexpr int64_t T0 = 1000000;  // virtual clock at the start of every test

TKzMBitmap Frame(uint32_t Value) {
  TKzMBitmap b(4, 2);
  for (int i = 0; i < 8; ++i) b.Data()[i] = Value;
  return b;
}

// A registry whose timer runs by this test's virtual clock.
class Timing : public ::testing::Test {
protected:
  void SetUp() override { KzGUIDInfoShutdown(); }
  void TearDown() override { KzGUIDInfoShutdown(); }
  TKzVirtualClockScope Clock{T0};
};
}  // namespace

TEST_F(Timing, MappingKeepsTheSmallestDelayAndReanchorsOnJumpsBackOfMoreThan100Ms) {
  const TGUID g = KzCreateGUID();
  TKzGUIDInfoRef rec = GetGUIDInfoWithCreate(g, true, 5000);
  EXPECT_EQ(rec->Times().ReceiveTime, T0);
  EXPECT_EQ(rec->PlaybackEndTime, 5000);
  struct Row {
    int64_t Advance, T, Start, Receive;
  };
  const Row rows[] = {
      {40, 5040, 5000, T0},            // same delay
      {100, 5100, 5000, T0},           // arrives later than the best seen: mapping stays
      {10, 5200, 5000, T0 - 50},       // arrives 50 ms earlier than ever: mapping moves
      {0, 5150, 5000, T0 - 50},        // 50 ms back: the same stream
      {0, 5000, 5000, T0 + 150},       // 150 ms back: a restarted stream, anchored now
      {0, 4899, 5000, T0 + 150},       // update off (below): nothing moves
  };
  int64_t now = T0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.T);
    Clock.Clock.Advance(r.Advance);
    now += r.Advance;
    GetGUIDInfoWithCreate(g, r.T != 4899, r.T);
    const TKzGUIDTimes t = rec->Times();
    EXPECT_EQ(t.StartTime, r.Start);
    EXPECT_EQ(t.ReceiveTime, r.Receive);
    EXPECT_EQ(t.LastUpdate, now);
  }
  EXPECT_EQ(rec->LastReceivedTime, 5000);
  ClearGuidInfo(g);
  EXPECT_EQ(rec->Times().ReceiveTime, 0);
  EXPECT_EQ(GetGUIDInfoCount(), 1u);
}

TEST_F(Timing, RecordsExpireAnHourAfterTheirLastLookup) {
  const TGUID idle = KzCreateGUID(), busy = KzCreateGUID();
  // First use on a worker: the expiry timer is started on the main thread.
  TKzGUIDInfoRef held;
  std::thread([&] {
    held = GetGUIDInfoWithCreate(idle, true, 1);
    GetGUIDInfoWithCreate(busy, true, 1);
  }).join();
  Application().ProcessMessages();
  Clock.Clock.Advance(1800000);
  GetGUIDInfo(busy);
  Clock.Clock.Advance(1799000);
  Application().ProcessMessages();
  EXPECT_EQ(GetGUIDInfoCount(), 2u);  // idle for 59:59
  Clock.Clock.Advance(61000);
  Application().ProcessMessages();
  EXPECT_EQ(GetGUIDInfoCount(), 1u);
  EXPECT_EQ(GetGUIDInfo(idle), nullptr);
  EXPECT_NE(GetGUIDInfo(busy), nullptr);
  EXPECT_EQ(held->StartTime, 1);  // a held record outlives its expiry
}

TEST_F(Timing, QueueModesBoundFramesPerSourceAndVideoIndex) {
  struct Row {
    int32_t Mode, Queued, Remaining;
    int64_t OldestLeft;
  };
  const Row rows[] = {{2, 3, 3, 1}, {2, 2, 3, 0}, {50, 51, 51, 1}, {50, 10, 11, 0}, {1, 1, 1, 100}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Mode * 100 + r.Queued);
    TKzImageList list;
    const TGUID g = KzCreateGUID(), other = KzCreateGUID();
    list.AddGUID(Header(other), 0, Frame(7), 0, 0, 0, false, 0);
    for (int i = 0; i < r.Queued; ++i) {
      list.AddGUID(Header(g), 0, Frame(i), 0, i, 0, false, 0);
      list.AddGUID(Header(g), 1, Frame(i), 0, i, 0, false, 0);
    }
    TKzImageItem* added = list.AddImageGUID(Header(g), 0, Frame(100), 9, 100, 5, r.Mode, false, 1.5);
    EXPECT_EQ(added->Image.Data()[7], 100u);
    int count = 0;
    for (auto& item : list.List) count += item->HeaderPack.GUIDFrom == g && item->VideoIndex == 0;
    EXPECT_EQ(count, r.Remaining);
    EXPECT_EQ(list.GetGUID(Header(g), 0)->StartTime, r.OldestLeft);
    EXPECT_EQ(list.GetItemCount(), 1 + r.Queued + r.Remaining);  // other queues untouched
  }
}

TEST_F(Timing, SingleSlotOverwriteLeavesTheRegistryAlone) {
  TKzImageList list;
  const TGUID g = KzCreateGUID();
  list.AddImageGUID(Header(g), 0, Frame(1), 0, 5000, 0, 1, true, 0);
  list.AddImageGUID(Header(g), 0, Frame(2), 0, 3000, 0, 1, true, 0);  // 2 s back: would re-anchor
  EXPECT_EQ(list.GetItemCount(), 1);
  EXPECT_EQ(list.List[0]->Image.Data()[0], 2u);
  EXPECT_EQ(GetGUIDInfo(g)->LastReceivedTime, 5000);
  list.Clear();
  EXPECT_EQ(GetGUIDInfoCount(), 0u);
}

TEST_F(Timing, SwappedFramesHandBackAnEarlierFramesPixels) {
  TKzImageList list;
  const TGUID g = KzCreateGUID();
  TKzMBitmap b = Frame(1);
  TKzImageItem* first = list.SwapImageGUID(Header(g), 0, b, 3, 10, 0, 1, false, 0.5);
  EXPECT_EQ(first->Image.Data()[7], 1u);
  EXPECT_TRUE(b.IsEmpty()) << "nothing to hand back yet";
  b = Frame(2);
  TKzImageItem* second = list.SwapImageGUID(Header(g), 0, b, 4, 20, 0, 1, false, 0.75);
  ASSERT_EQ(list.GetItemCount(), 1);
  EXPECT_EQ(second->Image.Data()[0], 2u);
  EXPECT_EQ(second->StartTime, 20);
  ASSERT_EQ(b.Width(), 4);
  EXPECT_EQ(b.Data()[0], 1u) << "the replaced frame's pixels come back";
  // A queued frame handed back to the list lends its pixels to the next one.
  std::unique_ptr<TKzImageItem> taken = std::move(list.List[0]);
  list.List.clear();
  list.Release(std::move(taken));
  b = Frame(3);
  list.SwapImageGUID(Header(g), 0, b, 0, 30, 0, 50, false, 0);
  EXPECT_EQ(list.List.back()->Image.Data()[0], 3u);
  ASSERT_FALSE(b.IsEmpty());
  EXPECT_EQ(b.Data()[0], 2u);
}

TEST_F(Timing, OverdueFramesAreDroppedBackToTheFirstUnknownSource) {
  TKzImageList list;
  const TGUID a = KzCreateGUID(), unknown = KzCreateGUID();
  list.AddGUID(Header(a), 0, Frame(0), 0, 0, 0, true, 0);  // anchors a: sender 0 = local T0
  list.Lock();
  list.List.push_back(std::make_unique<TKzImageItem>());
  list.List.back()->HeaderPack = Header(unknown);
  list.Unlock();
  list.AddGUID(Header(a), 0, Frame(0), 0, 500, 0, false, 0);
  list.AddGUID(Header(a), 0, Frame(0), 0, 1000, 0, false, 0);
  Clock.Clock.Advance(1200);
  list.ClearAllData(100, 0);  // due before T0 + 1200 - 100 - 100 goes
  ASSERT_EQ(list.GetItemCount(), 3);
  EXPECT_EQ(list.List[0]->StartTime, 0);  // behind the unknown source: kept
  EXPECT_EQ(list.List[2]->StartTime, 1000);
  list.ClearData(Header(a));
  EXPECT_EQ(list.List[0]->Image.Data()[0], 0xFFFFFFFFu);
  EXPECT_EQ(list.List[0]->StartTime, T0 + 1200);
  list.ClearAllData(0, 0);
  EXPECT_EQ(list.GetItemCount(), 0);
}
