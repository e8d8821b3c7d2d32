// Data list appends, frame queuing and timing registry lookups, each timed
// against an anchor in the same run (memcpy of the same bytes; a bare hash
// map lookup) in alternating batches. "ratio" is our rate over the anchor's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzDataList.h"
#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzImageList.h"

using namespace kz;

namespace {
using Clock = std::chrono::steady_clock;

// Alternates Batch calls of Ours and Batch calls of Anchor per iteration and
// reports both rates (Unit per second, Scale units per call) and their ratio.
template <class F, class G>
void Compare(benchmark::State& State, const std::string& Name, const char* Unit, double Scale, int Batch, F&& Ours, G&& Anchor) {
  double ours = 0, anchor = 0;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    for (int i = 0; i < Batch; ++i) Ours();
    const auto t1 = Clock::now();
    for (int i = 0; i < Batch; ++i) Anchor();
    const auto t2 = Clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    anchor += std::chrono::duration<double>(t2 - t1).count();
  }
  const double units = Scale * Batch * static_cast<double>(State.iterations());
  State.counters[std::string("ours_") + Unit] = units / ours;
  State.counters[std::string("anchor_") + Unit] = units / anchor;
  State.counters["ratio"] = anchor / ours;
  kzbench::Rate(Name, units / ours, units / anchor, Unit);
}

TKzHeaderPack Header(const TGUID& From) {
  TKzHeaderPack h;
  h.GUIDFrom = From;
  return h;
}

// AddDataGUID of one video chunk. Arg 1 = 0: a consumer empties the item
// every 4 MiB; 1: the item is kept full, so every append trims it to 8 MiB.
void BM_AddDataStream(benchmark::State& State) {
  const int64_t chunk = State.range(0);
  const bool trimming = State.range(1) != 0;
  TKzDataList list;
  const TKzHeaderPack header = Header(KzCreateGUID());
  const int32_t key = 0x100 + DATA_TYPE_VIDEO;
  TMemoryStream stream;
  std::vector<uint8_t> bytes(static_cast<size_t>(chunk), 0x5A);
  stream.Write(bytes.data(), chunk);
  const TKzInfo info;
  std::vector<uint8_t> sink(static_cast<size_t>(KZ_MAX_VIDEO_DATA + chunk));
  int64_t sinkPos = 0;
  const int64_t limit = trimming ? KZ_MAX_VIDEO_DATA : 4 << 20;
  if (trimming)
    while (list.GetItemByGUID(header, key, 0) == nullptr || list.GetItemByGUID(header, key, 0)->Data.Size() < limit)
      list.AddDataGUID(header, stream, key, 0, info);
  const int batch = static_cast<int>(std::max<int64_t>(1, (1 << 20) / chunk));
  Compare(
      State, "AddDataStream/" + std::to_string(chunk) + (trimming ? "/trimming" : ""), "MB/s", static_cast<double>(chunk) / 1e6, batch,
      [&] {
        TKzBaseDataItem* item = list.AddDataGUID(header, stream, key, 0, info);
        if (!trimming && item->Data.Size() >= limit) item->Data.SetSize(0);
      },
      [&] {
        if (sinkPos + chunk > limit) sinkPos = 0;
        memcpy(sink.data() + sinkPos, stream.Memory(), static_cast<size_t>(chunk));
        sinkPos += chunk;
        benchmark::ClobberMemory();
      });
}
BENCHMARK(BM_AddDataStream)
    ->ArgNames({"chunk", "trim"})
    ->ArgsProduct({{4 << 10, 64 << 10, 1 << 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// AddImageGUID of 1080p frames round-robin over N sources, a consumer taking
// the oldest frame whenever more than one per source waits; against memcpy
// of the same frame into one of N buffers.
void BM_AddImageGUID(benchmark::State& State) {
  const int32_t mode = static_cast<int32_t>(State.range(0));
  const int sources = static_cast<int>(State.range(1));
  TKzImageList list;
  std::vector<TKzHeaderPack> headers;
  for (int i = 0; i < sources; ++i) headers.push_back(Header(KzCreateGUID()));
  TKzMBitmap frame(1920, 1080);
  frame.FillData(0x80);
  std::vector<std::vector<uint32_t>> sinks(static_cast<size_t>(sources), std::vector<uint32_t>(1920 * 1080, 1));
  int next = 0, nextSink = 0;
  int64_t start = 0;
  const auto addAndConsume = [&] {
    list.AddImageGUID(headers[next], 0, frame, 0, ++start, 0, mode, true, 0);
    next = (next + 1) % sources;
    list.Lock();
    if (list.GetItemCount() > sources) list.DeleteIndex(0);
    list.Unlock();
  };
  for (int i = 0; i < 2 * sources; ++i) addAndConsume();  // the steady state: every queue in use
  Compare(
      State, "AddImageGUID/mode" + std::to_string(mode) + "/" + std::to_string(sources), "fps", 1, 4, addAndConsume,
      [&] {
        memcpy(sinks[nextSink].data(), frame.Data(), static_cast<size_t>(frame.GetSize()));
        nextSink = (nextSink + 1) % sources;
        benchmark::ClobberMemory();
      });
  ClearAllGUID();
}
BENCHMARK(BM_AddImageGUID)->ArgNames({"mode", "sources"})->ArgsProduct({{1, 50}, {1, 16}})->Unit(benchmark::kMillisecond);

// GetGUIDInfo over N known sources; against a bare unordered_map lookup.
void BM_GUIDInfoLookup(benchmark::State& State) {
  const int sources = static_cast<int>(State.range(0));
  ClearAllGUID();
  std::vector<TGUID> ids;
  std::unordered_map<TGUID, int64_t, TGUIDHash> bare;
  for (int i = 0; i < sources; ++i) {
    ids.push_back(KzCreateGUID());
    GetGUIDInfoWithCreate(ids.back(), true, i);
    bare[ids.back()] = i;
  }
  size_t a = 0, b = 0;
  Compare(
      State, "GUIDInfoLookup/" + std::to_string(sources), "Mlookups/s", 1e-6, 1000,
      [&] {
        benchmark::DoNotOptimize(GetGUIDInfo(ids[a]));
        a = a + 1 == ids.size() ? 0 : a + 1;
      },
      [&] {
        benchmark::DoNotOptimize(bare.find(ids[b])->second);
        b = b + 1 == ids.size() ? 0 : b + 1;
      });
  ClearAllGUID();
}
BENCHMARK(BM_GUIDInfoLookup)->ArgName("sources")->Arg(1)->Arg(64)->Arg(1024);
}  // namespace

