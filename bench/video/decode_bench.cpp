// Decoding camera-like JPEG frames through the image wrapper against tjbench
// on the same files in the same run, and the per-frame cost at 1080p of the
// pixel operations of the draw stage next to a plain memcpy of the frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzBitmapFilters.h"
#include "platform/fmxMKzPlatformClock.h"
#include "video/Fmxmkzyuvtorgb.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;

namespace {

struct TSize {
  int W, H;
};
const TSize Sizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};

std::string Dir() {
  static const std::string d = [] {
    std::string t = (std::filesystem::temp_directory_path() / "kzbenchXXXXXX").string();
    return mkdtemp(t.data()) ? t : std::string("/tmp");
  }();
  return d;
}

std::string JpegPath(const TSize& s) { return Dir() + "/f" + std::to_string(s.W) + "x" + std::to_string(s.H) + ".jpg"; }

// testsrc2 with noise, like a camera's frame, encoded by cjpeg at quality 85, 4:2:0.
bool MakeFrames() {
  for (const TSize& s : Sizes) {
    const std::string ppm = Dir() + "/src.ppm";
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i \"testsrc2=size=" + std::to_string(s.W) + "x" +
                            std::to_string(s.H) + ",noise=alls=24:allf=t\" -frames:v 1 " + ppm +
                            " && cjpeg -quality 85 " + ppm + " > " + JpegPath(s);
    if (std::system(cmd.c_str()) != 0) return false;
  }
  return true;
}

std::vector<uint8_t> ReadAll(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// tjbench's decompression frame rate for the file (BGRX output, as ours).
double TjbenchFps(const std::string& Path) {
  const std::string cmd = "tjbench " + Path + " -benchtime 3 -warmup 1 -bgrx -nowrite 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return 0;
  char line[512];
  double fps = 0;
  while (fgets(line, sizeof(line), p) != nullptr) {
    const char* at = strstr(line, "Frame rate:");
    if (at != nullptr && strstr(line, "Decompress") != nullptr) fps = std::atof(at + strlen("Frame rate:"));
  }
  pclose(p);
  return fps;
}

void BM_DecodeWrapper(benchmark::State& state, TKzCoderType Coder) {
  const TSize& s = Sizes[state.range(0)];
  const std::vector<uint8_t> jpeg = ReadAll(JpegPath(s));
  TMemoryStream m;
  m.Write(jpeg.data(), static_cast<int64_t>(jpeg.size()));
  TKzImageWrapper w;
  w.SetCoderType(Coder);
  for (auto _ : state) {
    m.SetPosition(0);
    if (!w.LoadFromStream(m)) state.SkipWithError(w.ErrorText().c_str());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(s.W) + "x" + std::to_string(s.H));
}

TKzMBitmap Frame1080(uint32_t Seed) {
  TKzMBitmap b(1920, 1080);
  uint32_t x = Seed;
  for (int64_t i = 0; i < b.GetLength(); ++i) {
    x = x * 1664525u + 1013904223u;
    b.Data()[i] = 0xFF000000u | (0x404040u + ((x >> 8) & 0x070707u));
  }
  return b;
}

void BM_Memcpy1080(benchmark::State& state) {
  const TKzMBitmap a = Frame1080(1);
  TKzMBitmap b(1920, 1080);
  for (auto _ : state) {
    memcpy(b.Data(), a.Data(), static_cast<size_t>(a.GetSize()));
    benchmark::ClobberMemory();
  }
}

void BM_Smoothing1080(benchmark::State& state) {
  TKzVirtualClockScope clock;  // frames inside the 100 ms window: the running-average path
  const TKzMBitmap frames[2] = {Frame1080(1), Frame1080(2)};
  TKzMBitmap out;
  out.SetSmoothImage(true);
  int i = 0;
  for (; i < 3; ++i) out.AssignKzMBitmap(frames[i & 1]);  // a full history first
  for (auto _ : state) out.AssignKzMBitmap(frames[i++ & 1]);
  if (out.SmoothCount() != 3) state.SkipWithError("smoothing restarted");
}

void BM_Rotate1080(benchmark::State& state, TKzRotation Rotation) {
  TKzMBitmap b = Frame1080(3);
  for (auto _ : state) RotateImg(b, Rotation);
}

void BM_Yuv1080(benchmark::State& state, TKzYuvFormat format) {
  std::vector<uint8_t> src(KzYuvFrameSize(format, 1920, 1080));
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  TKzMBitmap b(1920, 1080);
  for (auto _ : state) KzYuvToRGB(format, src.data(), b.Data(), 1920, 1080);
}

void BM_BrightnessContrast1080(benchmark::State& state) {
  TKzMBitmap b = Frame1080(4);
  for (auto _ : state) BrightnessContrast(b, 140, 150);
}

// Keeps every run's time per iteration for the summary.
class TCollectingReporter : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> SecondsPerIteration;
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& r : Runs)
      if (!r.error_occurred && r.iterations > 0)
        SecondsPerIteration[r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args)] =
            r.real_accumulated_time / static_cast<double>(r.iterations);
    ConsoleReporter::ReportRuns(Runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!MakeFrames()) {
    fprintf(stderr, "decode_bench: ffmpeg or cjpeg failed\n");
    return 1;
  }
  benchmark::RegisterBenchmark("decode/libjpeg", BM_DecodeWrapper, TKzCoderType::kzctAuto)->DenseRange(0, 2)->MinTime(2);
  benchmark::RegisterBenchmark("decode/turbojpeg", BM_DecodeWrapper, TKzCoderType::kzctStandart)->DenseRange(0, 2)->MinTime(2);
  benchmark::RegisterBenchmark("1080p/memcpy", BM_Memcpy1080);
  benchmark::RegisterBenchmark("1080p/smoothing", BM_Smoothing1080);
  benchmark::RegisterBenchmark("1080p/rotate90", BM_Rotate1080, TKzRotation::kzr90);
  benchmark::RegisterBenchmark("1080p/rotate180", BM_Rotate1080, TKzRotation::kzr180);
  const std::pair<const char*, TKzYuvFormat> yuv[] = {
      {"I420", TKzYuvFormat::kzyI420}, {"YV12", TKzYuvFormat::kzyYV12}, {"YV16", TKzYuvFormat::kzyYV16},
      {"NV12", TKzYuvFormat::kzyNV12}, {"NV21", TKzYuvFormat::kzyNV21}, {"NV16", TKzYuvFormat::kzyNV16},
      {"NV61", TKzYuvFormat::kzyNV61}, {"YUY2", TKzYuvFormat::kzyYUY2}, {"UYVY", TKzYuvFormat::kzyUYVY},
      {"YVYU", TKzYuvFormat::kzyYVYU}, {"VYUY", TKzYuvFormat::kzyVYUY}};
  for (const auto& [name, format] : yuv)
    benchmark::RegisterBenchmark((std::string("1080p/yuv_") + name).c_str(), BM_Yuv1080, format);
  benchmark::RegisterBenchmark("1080p/brightness_contrast", BM_BrightnessContrast1080);
  benchmark::Initialize(&argc, argv);
  TCollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  printf("\nDecode through TKzImageWrapper vs tjbench (same files, this run)\n");
  printf("%-10s %12s %12s %12s %8s\n", "size", "ours fps", "turbo fps", "tjbench fps", "ratio");
  for (int i = 0; i < 3; ++i) {
    const TSize& s = Sizes[i];
    const auto& r = reporter.SecondsPerIteration;
    const auto ours = r.find("decode/libjpeg/" + std::to_string(i));
    const auto turbo = r.find("decode/turbojpeg/" + std::to_string(i));
    const double tj = TjbenchFps(JpegPath(s));
    const double oursFps = ours != r.end() ? 1.0 / ours->second : 0;
    const double turboFps = turbo != r.end() ? 1.0 / turbo->second : 0;
    printf("%4dx%-5d %12.1f %12.1f %12.1f %7.2fx\n", s.W, s.H, oursFps, turboFps, tj, tj > 0 ? oursFps / tj : 0);
    const std::string name = "decode_" + std::to_string(s.W) + "x" + std::to_string(s.H);
    if (tj > 0)
      kzbench::Rate(name, oursFps, tj, "frames/s");
    else
      kzbench::MissingAnchor(name, "tjbench (libjpeg-turbo-progs) did not run");
  }
  printf("\n1080p operations, ms per frame\n");
  for (const auto& [name, secs] : reporter.SecondsPerIteration)
    if (name.rfind("1080p/", 0) == 0) printf("  %-32s %8.3f\n", name.c_str(), secs * 1000);
  std::filesystem::remove_all(Dir());
  return kzbench::Finish();
}
