// Packing payloads into packets and reading them back, raw and compressed,
// for four payloads a sender carries: a 640x480 JPEG frame, a 1080p frame
// (32-bit pixels), a 20 ms audio block (48 kHz, 16-bit stereo) and a 1 MB
// file part. Anchors, timed in the same iterations on the same bytes:
// memcpy for raw packing and reading, zlib's compress2 / uncompress at the
// same level (9) for compressed packing and reading. "ratio" is our rate
// over the anchor's.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "bench/kzbench.h"
#include "streaming/fmxMKzPacketReader.h"
#include "streaming/fmxMKzPacketWriter.h"

using namespace kz;

namespace {

using Clock = std::chrono::steady_clock;
using TBytes = std::vector<uint8_t>;

// The four payloads, by benchmark argument.
struct TPayload {
  const char* Name;
  uint16_t DataType;
  TBytes Bytes;
};

TBytes Noise(size_t N, uint32_t X) {
  TBytes b(N);
  for (uint8_t& v : b) v = static_cast<uint8_t>((X = X * 1103515245 + 12345) >> 16);
  return b;
}

const TPayload& Payload(int64_t Which) {
  static const std::vector<TPayload> payloads = [] {
    std::vector<TPayload> p;
    p.push_back({"jpeg640x480", DATA_TYPE_VIDEO, Noise(48000, 1)});  // entropy-coded: does not shrink
    TBytes frame(1920 * 1080 * 4);
    const TBytes grain = Noise(frame.size() / 16, 2);
    for (size_t i = 0; i < frame.size(); ++i)
      frame[i] = static_cast<uint8_t>((i % 7680) / 30 + (i / 7680) / 8 + (grain[i / 16] & 3));
    p.push_back({"frame1080p", DATA_TYPE_VIDEO, std::move(frame)});
    TBytes audio(3840);
    for (size_t i = 0; i < audio.size() / 2; ++i) {
      const int16_t s = static_cast<int16_t>(8000 * std::sin(static_cast<double>(i / 2) * 0.0628));
      audio[2 * i] = static_cast<uint8_t>(s);
      audio[2 * i + 1] = static_cast<uint8_t>(s >> 8);
    }
    p.push_back({"audio20ms", DATA_TYPE_AUDIO, std::move(audio)});
    TBytes file;
    const char* words[] = {"packet ", "header ", "stream ", "camera ", "frame\n", "block ", "marker "};
    for (uint32_t x = 3; file.size() < (1 << 20);) {
      const char* w = words[((x = x * 1103515245 + 12345) >> 16) % 7];
      file.insert(file.end(), w, w + std::strlen(w));
    }
    file.resize(1 << 20);
    p.push_back({"file1MB", DATA_TYPE_FILE, std::move(file)});
    return p;
  }();
  return payloads[static_cast<size_t>(Which)];
}

TKzPacketSpec Spec(const TPayload& P, TKzCompressionType Compression) {
  TKzPacketSpec s;
  s.DataType = P.DataType;
  s.Compression = Compression;
  s.BufferSize = 65536;
  s.GUIDFrom = KzCreateGUID();
  s.Info.FileInfo.FileName = "part.bin";
  return s;
}

// Alternates Ours and Anchor each iteration and records both rates in MB/s
// of payload.
template <class F, class G>
void Compare(benchmark::State& State, const std::string& Name, double Bytes, F&& Ours, G&& Anchor) {
  double ours = 0, anchor = 0;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    Ours();
    const auto t1 = Clock::now();
    Anchor();
    const auto t2 = Clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    anchor += std::chrono::duration<double>(t2 - t1).count();
  }
  const double mb = Bytes / 1e6 * static_cast<double>(State.iterations());
  State.counters["ours_MB/s"] = mb / ours;
  State.counters["anchor_MB/s"] = mb / anchor;
  State.counters["ratio"] = anchor / ours;
  kzbench::Rate(Name, mb / ours, mb / anchor, "MB/s");
}

// The wire bytes of a payload packed with Compression.
TBytes Wire(const TPayload& P, TKzCompressionType Compression, TKzPacketWriter& Writer) {
  TBytes wire;
  uint16_t part = 0;
  Writer.Write(Spec(P, Compression), P.Bytes.data(), P.Bytes.size(), part, [&](const uint8_t* D, size_t N) {
    wire.insert(wire.end(), D, D + N);
    return true;
  });
  return wire;
}

const char* kModes[] = {"raw", "whole", "blocks"};
constexpr TKzCompressionType kCompressions[] = {TKzCompressionType::kztcNone, TKzCompressionType::kztcFully,
                                                TKzCompressionType::kztcParts};

// Packing: ours builds every packet of the payload; the anchor copies the
// payload (raw) or compresses it in one call (compressed).
void BM_Pack(benchmark::State& State) {
  const TPayload& p = Payload(State.range(0));
  const int mode = static_cast<int>(State.range(1));
  const TKzPacketSpec spec = Spec(p, kCompressions[mode]);
  TKzPacketWriter writer;
  TBytes out(compressBound(static_cast<uLong>(p.Bytes.size())) + 1024);
  size_t wire = 0;
  Compare(
      State, std::string("pack_") + kModes[mode] + "/" + p.Name, static_cast<double>(p.Bytes.size()),
      [&] {
        uint16_t part = 0;
        wire = 0;
        writer.Write(spec, p.Bytes.data(), p.Bytes.size(), part, [&](const uint8_t*, size_t N) {
          wire += N;
          return true;
        });
        benchmark::DoNotOptimize(wire);
      },
      [&] {
        if (mode == 0) {
          std::memcpy(out.data(), p.Bytes.data(), p.Bytes.size());
        } else {
          uLongf n = static_cast<uLongf>(out.size());
          compress2(out.data(), &n, p.Bytes.data(), static_cast<uLong>(p.Bytes.size()), 9);
        }
        benchmark::ClobberMemory();
      });
  State.counters["wire_bytes"] = static_cast<double>(wire);
}

// Reading: ours feeds the wire bytes in 64 KiB reads to the packet reader;
// the anchor copies them (raw) or inflates zlib's own compression of the
// payload in one call (compressed).
void BM_Unpack(benchmark::State& State) {
  const TPayload& p = Payload(State.range(0));
  const int mode = static_cast<int>(State.range(1));
  TKzPacketWriter writer;
  const TBytes wire = Wire(p, kCompressions[mode], writer);
  TBytes packed(compressBound(static_cast<uLong>(p.Bytes.size())));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  compress2(packed.data(), &packedSize, p.Bytes.data(), static_cast<uLong>(p.Bytes.size()), 9);
  TBytes out(p.Bytes.size() + wire.size());
  TKzPacketReader reader;
  Compare(
      State, std::string("unpack_") + kModes[mode] + "/" + p.Name, static_cast<double>(p.Bytes.size()),
      [&] {
        for (size_t at = 0; at < wire.size(); at += 65536)
          reader.Feed(wire.data() + at, std::min<size_t>(65536, wire.size() - at));
        TKzPacket packet;
        if (!reader.Next(packet) || packet.Payload.size() != p.Bytes.size()) State.SkipWithError("payload not read back");
        benchmark::DoNotOptimize(packet.Payload.data());
      },
      [&] {
        if (mode == 0) {
          std::memcpy(out.data(), wire.data(), wire.size());
        } else {
          uLongf n = static_cast<uLongf>(out.size());
          uncompress(out.data(), &n, packed.data(), packedSize);
        }
        benchmark::ClobberMemory();
      });
}

void Args(benchmark::internal::Benchmark* B) {
  B->ArgNames({"payload", "mode"})->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Pack)->Apply(Args);
BENCHMARK(BM_Unpack)->Apply(Args);

}  // namespace
