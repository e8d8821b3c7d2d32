// Pictures in step with the sound played: a file with a white flash and a
// 1 kHz beep at the start of every second plays through a camera, its
// TKzCamSound and the player (the fake wave-out on the real clock). Measured:
// how far each flash reaching a view lies from its beep leaving the device
// (mean and largest, ms). The anchor is the engine alone in the same run: the
// same file, player and audio clock, the flash taken where the engine hands
// the picture over, before the camera's frame pipeline.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "audio/fmxMKzAudioPlayer.h"
#include "bench/kzbench.h"
#include "camera/fmxMKzCamSound.h"
#include "camera/fmxMKzCamera.h"
#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "platform/fmxMKzPlatformFakeWaveOut.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;

namespace {

bool Bright(const TKzMBitmap& B) { return B.Width() > 0 && (B.Pixel(B.Width() / 2, B.Height() / 2) & 0xFF) > 128; }

// Rising edges of brightness, in ms of the tick clock.
struct TFlashes {
  void Take(const TKzMBitmap& B) {
    const bool bright = Bright(B);
    std::lock_guard<std::mutex> g(Lock);
    if (bright && !WasBright) Times.push_back(double(KzMGetTickCount()));
    WasBright = bright;
  }
  std::mutex Lock;
  bool WasBright = false;
  std::vector<double> Times;
};

struct TFlashView : IKzCamViewConsumer, TFlashes {
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& B, bool, uint16_t, const TGUID&) override { Take(B); }
};

// When beeps start in what the device played (16-bit mono), ms.
std::vector<double> BeepStarts(const std::vector<TKzFakeWaveOutBackend::TPlayed>& Played) {
  std::vector<double> starts;
  double lastLoud = -1e9;
  for (const auto& p : Played)
    for (size_t i = 0; i + 1 < p.Bytes.size(); i += 2) {
      const int16_t v = int16_t(uint8_t(p.Bytes[i]) | (uint8_t(p.Bytes[i + 1]) << 8));
      const double at = p.StartMs + double(i / 2) * 1000.0 / p.Format.SamplesPerSec;
      if (std::abs(v) > 2000) {
        if (at - lastLoud > 500) starts.push_back(at);
        lastLoud = at;
      }
    }
  return starts;
}

// |flash - nearest beep| from the second flash on (the first shows before
// any sound has played): mean and largest.
std::pair<double, double> Offsets(const std::vector<double>& Flashes, const std::vector<double>& Beeps) {
  double sum = 0, worst = 0;
  int n = 0;
  for (size_t i = 1; i < Flashes.size() && !Beeps.empty(); ++i) {
    double best = 1e9;
    for (double b : Beeps) best = std::min(best, std::abs(Flashes[i] - b));
    sum += best;
    worst = std::max(worst, best);
    ++n;
  }
  return {n ? sum / n : -1, n ? worst : -1};
}

std::pair<double, double> ThroughCamera(const std::string& Path) {
  TKzFakeWaveOutBackend fake;
  IKzWaveOutBackend* previous = KzSetWaveOutBackend(&fake);
  TFlashView view;
  {
    TKzCamera cam(nullptr);
    bool ended = false;
    cam.OnEndVideoFile = [&](TComponent*, int32_t) { ended = true; };
    cam.RegisterCamView(&view);
    TKzAudioPlayer player(nullptr);
    player.SetActive(true);
    TKzCamSound sound(nullptr);
    sound.SetAudioOutput(&player);
    sound.SetCamera(&cam);
    cam.PlayVideoFile(Path);
    PumpUntil([&] { return ended; }, 60000);
    PumpUntil([] { return false; }, 300);
    sound.SetCamera(nullptr);
    cam.UnRegisterCamView(&view);
  }
  KzSetWaveOutBackend(previous);
  std::lock_guard<std::mutex> g(view.Lock);
  return Offsets(view.Times, BeepStarts(fake.Played()));
}

// The engine alone: its audio stamped by a running sample clock as the cam
// sound does, its position asked of the same player.
std::pair<double, double> ThroughEngine(const std::string& Path) {
  TKzFakeWaveOutBackend fake;
  IKzWaveOutBackend* previous = KzSetWaveOutBackend(&fake);
  TFlashes flashes;
  {
    TKzAudioPlayer player(nullptr);
    player.SetActive(true);
    const TGUID guid = KzCreateGUID();
    int64_t samples = 0;
    TKzMFFMPEG engine;
    engine.OnGetAudio = [&](void*, TMemoryStream& S, int32_t& Size, uint16_t, int64_t&, uint32_t&, int32_t& Rate,
                            TKzBitsPerSample& Bits, int32_t& Channels) {
      const int32_t frame = Channels * (Bits == TKzBitsPerSample::kzbps8 ? 1 : 2);
      const int64_t n = Size / std::max(1, frame);
      player.PlayAudio(S, Size, guid, 0, false, Channels, Bits, Rate, samples * 1000 / Rate,
                       uint32_t(n * 1000 / Rate));
      samples += n;
    };
    engine.OnGetAudioPlayPositon = [&](void*, int64_t& Position) { Position = player.GetPosition(guid, 0); };
    engine.OnNewImage = [&](void*, TKzMBitmap& Img, double) {
      flashes.Take(Img);
      return true;
    };
    engine.PlayVideo(Path);
    PumpUntil([] { return false; }, 300);
  }
  KzSetWaveOutBackend(previous);
  return Offsets(flashes.Times, BeepStarts(fake.Played()));
}

void BM_FlashToBeep(benchmark::State& State) {
  if (!LoadFFMpegLibraries("")) {
    kzbench::MissingAnchor("camsound_flash_to_beep_mean", "FFmpeg: " + LastFFmpegBindError());
    State.SkipWithError("no FFmpeg");
    return;
  }
  const std::string dir = "/tmp/kzbench-camsound-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/flash.mp4";
  const std::string make =
      "ffmpeg -v error -y -f lavfi -i color=c=black:s=64x48:r=25:d=12 -f lavfi -i \"aevalsrc=if(lt(mod(t\\,1)\\,0.2)\\,0.5*sin(2*PI*1000*t)\\,0):s=16000:d=12\" "
      "-vf \"drawbox=t=fill:c=white:enable='lt(mod(t,1),0.2)'\" "
      "-c:v libx264 -g 5 -c:a aac -ac 1 '" + path + "' </dev/null";
  if (std::system(make.c_str()) != 0) {
    kzbench::MissingAnchor("camsound_flash_to_beep_mean", "the ffmpeg program did not make the file");
    State.SkipWithError("no file");
    return;
  }
  for (auto _ : State) {
    const auto ours = ThroughCamera(path);
    const auto anchor = ThroughEngine(path);
    kzbench::Cost("camsound_flash_to_beep_mean", ours.first, anchor.first, "ms");
    kzbench::Cost("camsound_flash_to_beep_max", ours.second, anchor.second, "ms");
    State.counters["mean_ms"] = ours.first;
    State.counters["max_ms"] = ours.second;
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FlashToBeep)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
