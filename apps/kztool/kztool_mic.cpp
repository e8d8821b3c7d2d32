// kztool mic list: the capture devices, one name a line.
// kztool mic record OUT.wav [...]: records a capture device (or a WAV file
// played through the microphone's chain) into a WAV file, with a level bar
// and a summary of the blocks delivered and held back as silence.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "audio/Fmxmkzwavefuncs.h"
#include "audio/fmxMKzAudioPlayer.h"
#include "audio/fmxMKzMicrophone.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--device", "N|NAME", "capture device by index or name (default: the system default)"},
    {"--wav", "IN.wav", "play IN.wav through the microphone instead of capturing"},
    {"--seconds", "S", "stop after S seconds of sound (capture: 5; a file: its length)"},
    {"--rate", "R", "capture rate in Hz (8000 11025 22050 44100 48000 96000 192000; default 8000)"},
    {"--bits", "8|16", "capture sample width (default 8)"},
    {"--channels", "C", "capture channels (default 1)"},
    {"--block", "MS", "block length in ms (default 1000)"},
    {"--noise", "on|off", "noise suppression (default on)"},
    {"--rnnoise", nullptr, "use the neural suppressor (librnnoise, or the PATH given after OUT.wav)"},
    {"--pitch", "P", "pitch shift in percent, -100..100 (default 0)"},
    {"--volume", "V", "volume multiplier (default 1)"},
    {"--silence", "MIN,SPREAD", "silence detector limits (default 10,5; 0,0 turns it off)"},
    {"--fast", nullptr, "play the file as fast as blocks can be made, not in real time"},
    {"--monitor", nullptr, "play what is recorded"},
    {"--monitor-device", "N|NAME", "playback device for --monitor (default: the system default)"},
};

// Level meter and writer of what the microphone delivers.
class TRecordSink : public kz::IKzAudioViewer {
public:
  explicit TRecordSink(std::string FileName) : FFileName(std::move(FileName)) {}
  void ViewerSetAudioLevel(kz::TComponent*, uint16_t Level) override {
    for (int seen = FLevel.load(); Level > seen && !FLevel.compare_exchange_weak(seen, Level);) {
    }
  }
  // The highest level since the last call. Any thread.
  int TakeLevel() { return FLevel.exchange(128); }

  // The microphone's data thread.
  void Block(kz::TMemoryStream& Stream, int32_t Size, int32_t Rate, kz::TKzBitsPerSample Bits, int32_t Channels) {
    std::lock_guard<std::mutex> g(FLock);
    if (!FError.empty()) return;
    try {
      if (!FWriter) FWriter = std::make_unique<kz::TKzWaveWriter>(FFileName, Channels, Rate, kz::KzBitsToInt(Bits));
      if (!FWriter->Write(Stream.Memory(), Size)) FError = "cannot write " + FFileName;
      FBytesPerSec = static_cast<double>(Rate) * Channels * kz::KzBitsToInt(Bits) / 8;
    } catch (const kz::EKzMediaError& e) {
      FError = e.what();
    }
  }
  // Main thread, once the microphone has stopped.
  std::string Finish(double& Seconds, int64_t& Bytes) {
    std::lock_guard<std::mutex> g(FLock);
    Bytes = FWriter ? FWriter->DataSize() : 0;
    Seconds = FBytesPerSec > 0 ? static_cast<double>(Bytes) / FBytesPerSec : 0;
    if (FWriter) FWriter->Close();
    return FError;
  }

private:
  std::string FFileName;
  std::atomic<int> FLevel{128};
  std::mutex FLock;  // guards the writer and the error
  std::unique_ptr<kz::TKzWaveWriter> FWriter;
  std::string FError;
  double FBytesPerSec = 0;
};

int ListDevices() {
  kz::TKzAudioDeviceCollection devices;
  for (const std::string& name : devices.Names()) KzOut("%s\n", name.c_str());
  return kzExitDone;
}

// The device option: an index, or a name from the list.
bool PickDevice(const std::string& Value, int32_t& Index) {
  const std::vector<std::string> names = kz::TKzAudioDeviceCollection().Names();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == Value) {
      Index = static_cast<int32_t>(i);
      return true;
    }
  char* end = nullptr;
  const long n = std::strtol(Value.c_str(), &end, 10);
  if (Value.empty() || *end || n < -1 || n >= static_cast<long>(names.size())) return false;
  Index = static_cast<int32_t>(n);
  return true;
}

// Reads the options into the microphone; false with Args.Error set.
bool Configure(TKzArgs& Args, kz::TKzMicrophone& Mic, double& Seconds) {
  double rate = 8000, bits = 8, channels = 1, block = 1000, pitch = 0, volume = 1;
  if (!Args.Number("--rate", rate, 1, 192000) || !Args.Number("--bits", bits, 8, 16) ||
      !Args.Number("--channels", channels, 1, 8) || !Args.Number("--block", block, 1, 65535) ||
      !Args.Number("--pitch", pitch, -100, 100) || !Args.Number("--volume", volume, 0, 9999) ||
      !Args.Number("--seconds", Seconds, 0.001, 86400))
    return false;
  if (!kz::KzIsSupportedSampleRate(static_cast<int32_t>(rate)) || (bits != 8 && bits != 16)) {
    Args.Error = "unsupported --rate or --bits";
    return false;
  }
  Mic.SetSamplesPerSec(static_cast<int32_t>(rate));
  Mic.SetBitsPerSample(bits == 8 ? kz::TKzBitsPerSample::kzbps8 : kz::TKzBitsPerSample::kzbps16);
  Mic.SetChannels(static_cast<int32_t>(channels));
  Mic.SetBufferDuration(static_cast<uint16_t>(block));
  Mic.SetPitch(static_cast<int8_t>(pitch));
  Mic.SetVolumeMultiplier(volume);
  const std::string noise = Args.Get("--noise", "on");
  if (noise != "on" && noise != "off") {
    Args.Error = "--noise takes on or off";
    return false;
  }
  Mic.SetNoiseReduction(noise == "on");
  if (Args.Has("--silence")) {
    int minLevel = -1, spread = -1;
    char tail = 0;
    if (std::sscanf(Args.Get("--silence").c_str(), "%d,%d%c", &minLevel, &spread, &tail) != 2 || minLevel < 0 ||
        minLevel > 255 || spread < 0 || spread > 255) {
      Args.Error = "--silence takes MIN,SPREAD (0..255 each)";
      return false;
    }
    Mic.SetSoundMinLevel(static_cast<uint8_t>(minLevel));
    Mic.SetSoundIgnoreInterval(static_cast<uint8_t>(spread));
  }
  Mic.SetRNNoiseAllowed(Args.Has("--rnnoise"));
  if (Args.Has("--device")) {
    int32_t index = -1;
    if (!PickDevice(Args.Get("--device"), index)) {
      Args.Error = "no capture device " + Args.Get("--device");
      return false;
    }
    Mic.SetAudioInputDeviceIndex(index);
  }
  if (Args.Has("--wav")) {
    Mic.SetSourceType(kz::TKzSoundSourceType::kzsstWav);
    Mic.SetWavFileName(Args.Get("--wav"));
    Mic.SetWavUseOptions(true);
    Mic.SetWavRealTime(!Args.Has("--fast"));
  }
  return true;
}

void PrintLevel(TRecordSink& Sink, const kz::TKzMicrophone& Mic) {
  const int peak = std::clamp(Sink.TakeLevel() - 128, 0, 128);
  const int width = peak * 32 / 128;
  KzOut("[%s%s] %3d  delivered %llu  silent %llu\n", std::string(width, '#').c_str(),
        std::string(32 - width, '.').c_str(), peak, static_cast<unsigned long long>(Mic.BlocksDelivered()),
        static_cast<unsigned long long>(Mic.BlocksSilent()));
}

int Record(TKzArgs& Args) {
  if (Args.Positional.size() < 2) {
    Args.Error = "record needs OUT.wav";
    return kzExitUsage;
  }
  const std::string out = Args.Positional[1];
  if (Args.Has("--rnnoise")) {
    // The word after OUT.wav, when there is one, is the suppressor library.
    const std::string path = Args.Positional.size() > 2 ? Args.Positional[2] : "";
    if (!kz::KzLoadRNNoise("", path)) KzErr("kztool mic: no neural suppressor%s%s, using the spectral gate\n",
                                            path.empty() ? "" : " at ", path.c_str());
  }
  kz::TKzMicrophone mic(nullptr);
  const bool fromFile = Args.Has("--wav");
  double seconds = fromFile ? 0 : 5;
  if (!Configure(Args, mic, seconds)) return kzExitUsage;
  kz::TKzAudioPlayer monitor(nullptr);
  if (Args.Has("--monitor")) {
    if (Args.Has("--monitor-device") && !PickPlaybackDevice(monitor, Args.Get("--monitor-device"))) {
      Args.Error = "no playback device " + Args.Get("--monitor-device");
      return kzExitUsage;
    }
    monitor.SetActive(true);
    mic.SetAudioOutput(&monitor);
  }
  TRecordSink sink(out);
  mic.RegisterAudioViewer(&sink);
  mic.OnGetAudio = [&sink](void*, kz::TMemoryStream& Stream, int32_t& Size, uint16_t, int64_t&, uint32_t&,
                           int32_t& Rate, kz::TKzBitsPerSample& Bits, int32_t& Channels) {
    sink.Block(Stream, Size, Rate, Bits, Channels);
  };
  mic.SetActive(true);
  if (!mic.Active()) {
    mic.UnRegisterAudioViewer(&sink);
    KzErr("kztool mic: cannot open %s\n", fromFile ? Args.Get("--wav").c_str() : "the capture device");
    return kzExitFailed;
  }
  uint64_t lastPrint = kz::PlatformTickCount();
  uint64_t lastBlocks = 0;
  // Seconds of sound taken from the source (a device may run ahead of the clock).
  const int32_t frameBytes = kz::KzBitsToInt(mic.BitsPerSample()) / 8 * mic.Channels();
  const double blockSeconds =
      static_cast<double>(mic.CalculateBufSize(mic.SamplesPerSec(), frameBytes) / frameBytes) / mic.SamplesPerSec();
  auto played = [&] {
    if (!fromFile) return static_cast<double>(mic.BlocksDelivered() + mic.BlocksSilent()) * blockSeconds;
    return static_cast<double>(mic.WavPosition()) / std::max(1, mic.SamplesPerSec());
  };
  while (mic.Active() && !KzStopSignal() && (seconds <= 0 || played() < seconds)) {
    kz::PumpUntil([&] { return !mic.Active() || KzStopSignal() != 0; }, 50);
    const uint64_t blocks = mic.BlocksDelivered() + mic.BlocksSilent();
    if (blocks != lastBlocks && kz::PlatformTickCount() - lastPrint >= 1000) {
      PrintLevel(sink, mic);
      lastPrint = kz::PlatformTickCount();
      lastBlocks = blocks;
    }
  }
  mic.SetActive(false);
  kz::PumpUntil([&] { return mic.DeliveryIdle(); }, 5000);
  // What is being monitored plays out.
  kz::PumpUntil(
      [&] {
        for (const kz::TKzPlayItemRef& i : monitor.PlayItems())
          if (i->Active() && (i->Stats().QueuedBytes > 0 || i->FreeBuffers() < kz::KZ_PLAY_BUFFERS)) return false;
        return true;
      },
      5000);
  PrintLevel(sink, mic);
  mic.UnRegisterAudioViewer(&sink);
  double recorded = 0;
  int64_t bytes = 0;
  const std::string error = sink.Finish(recorded, bytes);
  KzOut("recorded %.3f s (%lld bytes) to %s; blocks delivered %llu, dropped as silent %llu, overruns %u\n", recorded,
        static_cast<long long>(bytes), out.c_str(), static_cast<unsigned long long>(mic.BlocksDelivered()),
        static_cast<unsigned long long>(mic.BlocksSilent()), mic.DeviceOverruns());
  if (!error.empty()) {
    KzErr("kztool mic: %s\n", error.c_str());
    return kzExitFailed;
  }
  return KzStopSignal() ? kzExitInterrupted : kzExitDone;
}

int RunMic(TKzArgs& Args) {
  const std::string what = Args.Positional.empty() ? "" : Args.Positional[0];
  if (what == "list") return ListDevices();
  if (what == "record") return Record(Args);
  Args.Error = what.empty() ? "list or record?" : "unknown mic command \"" + what + "\"";
  return kzExitUsage;
}
}  // namespace

const TSubcommand kMicCommand = {"mic", "list | record OUT.wav [PATH]",
                                 "lists capture devices, or records one (or a WAV file through the chain)", kOptions,
                                 RunMic};

}  // namespace kztool
