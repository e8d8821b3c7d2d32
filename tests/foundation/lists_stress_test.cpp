// Many writers and readers on one data list and one image list: every byte
// and frame written is read exactly once and in order, or (for bounded
// queues) dropped only as the queue mode allows. Then the lock order of the
// image list and the timing registry under every path that takes both.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/foundation/kzlisttest.h"
#include "foundation/fmxMKzDataList.h"
#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzImageList.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;
using kztest::Header;

namespace {
constexpr int kWriters = 8, kReaders = 4;
using Clock = std::chrono::steady_clock;

uint8_t PayloadByte(uint32_t Writer, uint32_t Seq, uint32_t i) {
  return static_cast<uint8_t>((Writer * 131 + Seq * 31 + i) * 2654435761u >> 24);
}

// Runs Body on Count threads (and MainWork on this, the main thread) until
// they all return. A watchdog ends the process when they are not done within
// Limit: that is what a deadlock looks like, also one that takes in the main thread.
void RunThreads(int Count, const std::function<void(int)>& Body, std::chrono::seconds Limit,
                const std::function<void()>& MainWork) {
  std::atomic<int> done{0};
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> g(m);
    if (!cv.wait_for(g, Limit, [&] { return finished; })) {
      fprintf(stderr, "threads still running after %lld s: deadlock\n", static_cast<long long>(Limit.count()));
      std::abort();
    }
  });
  std::vector<std::thread> threads;
  for (int i = 0; i < Count; ++i)
    threads.emplace_back([&, i] {
      Body(i);
      ++done;
    });
  while (done.load() < Count) MainWork();
  for (auto& t : threads) t.join();
  {
    std::lock_guard<std::mutex> g(m);
    finished = true;
  }
  cv.notify_all();
  watchdog.join();
}

// What the readers have seen; guarded by the lock of the list it describes.
struct TSeen {
  std::array<uint32_t, kWriters> NextChunk{};  // data list: next chunk expected per writer
  std::array<int64_t, kWriters> LastFrame{};   // image list: newest frame taken per writer
  std::array<int64_t, kWriters> FrameBytes{};
  int64_t DataBytes = 0;
  int Errors = 0;
};

// Parses Data as whole chunks: 'K', writer, seq (4), length (4), payload.
void TakeChunks(const TKzBaseDataItem& Item, TSeen& Seen) {
  const uint8_t* p = Item.Data.Memory();
  int64_t left = Item.Data.Size();
  Seen.DataBytes += left;
  while (left > 0) {
    uint32_t seq, len;
    if (left < 10 || p[0] != 'K' || p[1] >= kWriters) return void(++Seen.Errors);
    memcpy(&seq, p + 2, 4);
    memcpy(&len, p + 6, 4);
    if (left < 10 + static_cast<int64_t>(len) || seq != Seen.NextChunk[p[1]]++) return void(++Seen.Errors);
    for (uint32_t i = 0; i < len; ++i)
      if (p[10 + i] != PayloadByte(p[1], seq, i)) return void(++Seen.Errors);
    p += 10 + len;
    left -= 10 + len;
  }
}

// Takes the frames in List[0]; checks that image and fields belong together
// and that a source's frames come in order.
void TakeFrame(TKzImageList& List, TSeen& Seen) {
  TKzImageItem& f = *List.List[0];
  const uint32_t w = static_cast<uint32_t>(f.hClient);
  const uint32_t tag = w << 24 | static_cast<uint32_t>(f.StartTime);
  for (int i = 0; i < f.Image.Width() * f.Image.Height(); ++i)
    if (f.Image.Data()[i] != tag) ++Seen.Errors;
  if (f.StartTime <= Seen.LastFrame[w]) ++Seen.Errors;
  Seen.LastFrame[w] = f.StartTime;
  Seen.FrameBytes[w] += f.Image.GetSize();
  List.DeleteIndex(0);
}
}  // namespace

TEST(ListsStress, EightWritersFourReadersLoseAndDuplicateNothing) {
  TKzDataList data;
  TKzImageList images;
  TSeen seen;
  seen.LastFrame.fill(-1);
  std::array<TGUID, kWriters> source;
  for (auto& g : source) g = KzCreateGUID();
  // Writers 0-3 queue without limit, 4-5 keep a single slot, 6-7 keep 3 (+1 being added).
  const std::array<int32_t, kWriters> mode{1 << 30, 1 << 30, 1 << 30, 1 << 30, 1, 1, 3, 3};
  std::array<std::atomic<uint32_t>, kWriters> chunks{}, frames{};
  std::atomic<int64_t> dataWritten{0}, pending{0};
  std::atomic<bool> stop{false};
  const auto end = Clock::now() + std::chrono::seconds(2);

  auto writer = [&](int w) {
    std::vector<uint8_t> chunk;
    TMemoryStream stream;
    TKzMBitmap frame(16, 8);
    // Two writers share each data-list entry, so their chunks interleave.
    const TKzHeaderPack dataHeader = Header(source[w / 2]);
    const int32_t key = 0x100 * (w / 2 + 1) + (w % 4 < 2 ? DATA_TYPE_USERDATA : DATA_TYPE_CMD);
    // Two seconds, and at least a few chunks however slow the build (sanitizers) or the machine.
    for (uint32_t seq = 0; Clock::now() < end || seq < 16; ++seq) {
      while (pending.load() > (8 << 20) && Clock::now() < end) std::this_thread::yield();
      const uint32_t len = (seq * 7919 + w * 104729) % 4000;
      chunk.assign(10 + len, 0);
      chunk[0] = 'K';
      chunk[1] = static_cast<uint8_t>(w);
      memcpy(&chunk[2], &seq, 4);
      memcpy(&chunk[6], &len, 4);
      for (uint32_t i = 0; i < len; ++i) chunk[10 + i] = PayloadByte(w, seq, i);
      pending += chunk.size();
      dataWritten += chunk.size();
      if (seq % 2) {
        data.AddBufGUID(dataHeader, chunk.data(), key, static_cast<int64_t>(chunk.size()), TKzInfo{});
      } else {
        stream.SetSize(0);
        stream.Write(chunk.data(), static_cast<int64_t>(chunk.size()));
        data.AddDataGUID(dataHeader, stream, key, 0, TKzInfo{});
      }
      chunks[w] = seq + 1;

      const uint32_t tag = static_cast<uint32_t>(w) << 24 | seq;
      for (int i = 0; i < 16 * 8; ++i) frame.Data()[i] = tag;
      images.AddImageGUID(Header(source[w]), 0, frame, w, seq, 0, mode[w], true, 0);
      frames[w] = seq + 1;
    }
  };

  auto reader = [&](int r) {
    for (uint32_t round = 0; !stop.load(); ++round) {
      data.LockList();
      for (int32_t i = data.Count() - 1; i >= 0; --i) {
        TKzDataItem& entry = *data.List[i];
        int64_t bytes = 0;
        for (auto& item : entry.List) {
          TakeChunks(*item, seen);
          bytes += item->Data.Size();
        }
        switch ((round + r + i) % 4) {  // every way of emptying an entry
          case 0: for (auto& item : entry.List) item->Clear(); break;
          case 1: entry.Clear(); break;
          case 2: data.DeleteIndex(i); break;
          default: data.ClearData(entry.HeaderPack, entry.Key); break;
        }
        pending -= bytes;
      }
      data.UnlockList();

      images.Lock();
      std::array<int, kWriters> queued{};
      for (auto& f : images.List) ++queued[f->hClient];
      for (int w = 0; w < kWriters; ++w)
        if (mode[w] <= 3 && queued[w] > mode[w] + 1) ++seen.Errors;
      for (int n = 0; n < 64 && images.GetItemCount() > 0; ++n) TakeFrame(images, seen);
      images.Unlock();
      std::this_thread::yield();
    }
  };

  RunThreads(
      kWriters + kReaders, [&](int i) { i < kWriters ? writer(i) : reader(i - kWriters); },
      std::chrono::seconds(120), [&] {
        if (Clock::now() > end + std::chrono::milliseconds(200)) stop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      });

  // Whatever is left, read on this thread.
  data.LockList();
  for (auto& entry : data.List)
    for (auto& item : entry->List) TakeChunks(*item, seen);
  data.Clear();
  data.UnlockList();
  images.Lock();
  while (images.GetItemCount() > 0) TakeFrame(images, seen);
  images.Unlock();

  EXPECT_EQ(seen.Errors, 0);
  EXPECT_EQ(seen.DataBytes, dataWritten.load());
  for (int w = 0; w < kWriters; ++w) {
    SCOPED_TRACE(w);
    EXPECT_EQ(seen.NextChunk[w], chunks[w].load());
    // The newest frame always arrives; unbounded queues deliver every byte.
    EXPECT_EQ(seen.LastFrame[w], static_cast<int64_t>(frames[w].load()) - 1);
    const int64_t written = static_cast<int64_t>(frames[w].load()) * 16 * 8 * 4;
    if (mode[w] > 3)
      EXPECT_EQ(seen.FrameBytes[w], written);
    else
      EXPECT_LE(seen.FrameBytes[w], written);
  }
  ClearAllGUID();
}

// Every path that takes the image list lock and the registry lock takes them
// in that order; the registry's expiry timer runs on the main thread, which
// also enters the image list. Reversing the order anywhere deadlocks this
// test (and TSan reports the inversion even when the timing spares it).
TEST(ListsStress, ImageListBeforeRegistryLockOrderHolds) {
  KzGUIDInfoShutdown();
  TKzVirtualClockScope clock;
  TKzImageList images;
  std::array<TGUID, 16> source;
  for (auto& g : source) g = KzCreateGUID();
  TKzMBitmap frame(8, 8);
  const auto end = Clock::now() + std::chrono::seconds(1);
  auto body = [&](int t) {
    for (uint32_t n = 0; Clock::now() < end; ++n) {
      const TGUID& g = source[(n + t) % source.size()];
      switch (t) {
        case 0:  // list, then registry after leaving the list
          images.AddImageGUID(Header(g), 0, frame, 0, n, 0, n % 2 ? 1 : 4, true, 0);
          break;
        case 1:  // registry inside the list lock
          images.Lock();
          images.ClearAllData(1 + n % 50, 0);
          images.Unlock();
          break;
        case 2:  // list, then the whole registry
          if (n % 64 == 0) images.Clear();
          images.AddGUID(Header(g), 1, frame, 0, n, 0, false, 0);
          break;
        default:  // registry alone
          if (TKzGUIDInfoRef r = GetGUIDInfoWithCreate(g, true, n)) r->Times();
          ClearGuidInfo(source[n % source.size()]);
          if (n % 256 == 0) ClearAllGUID();
          break;
      }
    }
  };
  RunThreads(4, body, std::chrono::seconds(30), [&] {
    clock.Clock.Advance(KZ_GUIDINFO_EXPIRY / 4);  // the expiry timer fires on every pass
    Application().ProcessMessages();
    images.Lock();
    images.GetItemCount();
    images.Unlock();
  });
  images.Clear();
  KzGUIDInfoShutdown();
}
