// kztool record (URL | --camsim | --mic DEVICE | --wav FILE)... --out FILE:
// records a video source and an audio source into a file through FFmpeg at
// a constant frame rate, with progress lines and a summary.
// kztool record --codecs: what the loaded FFmpeg can write.
#include <unistd.h>

#include <memory>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kztool/kztool.h"
#include "audio/fmxMKzMicrophone.h"
#include "camera/fmxMKzCamera.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "recorder/fmxMKzCamRecorder.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--camsim", nullptr, "record a synthetic camera started on loopback"},
    {"--mic", "DEVICE", "record sound from capture device DEVICE (an index; -1: the default)"},
    {"--wav", "FILE", "record sound from a WAV file played in real time"},
    {"--out", "FILE", "the file to write; its extension chooses the container"},
    {"--seconds", "S", "stop after S seconds (default 10)"},
    {"--fps", "F", "frame rate of the file (default 25)"},
    {"--size", "WxH|auto", "picture size (default auto: the source's)"},
    {"--vcodec", "NAME", "video codec: h264 hevc mpeg4 mpeg2 mpeg1 mjpeg flv1 h263p wmv1 wmv2 or an encoder name"},
    {"--vbitrate", "B", "video bit rate in bit/s (default 800000)"},
    {"--gop", "N", "group of pictures size (default 12)"},
    {"--bframes", "N", "B-frames at most (default: the encoder's)"},
    {"--acodec", "NAME", "audio codec: aac mp3 mp2 opus vorbis flac ac3 wav alac or an encoder name"},
    {"--arate", "R", "audio sample rate in Hz (default 44100)"},
    {"--achannels", "C", "audio channels (default 1)"},
    {"--abitrate", "B", "audio bit rate in bit/s (default 64000)"},
    {"--codecs", nullptr, "list the encoders, file formats, sample formats and rates and exit"},
};

struct TCodecName {
  const char* Name;
  int Value;
};
const TCodecName kVideoCodecs[] = {
    {"mpeg1", int(kz::TKzVideoCodec::kzvcMPEG1)}, {"mpeg2", int(kz::TKzVideoCodec::kzvcMPEG2)},
    {"mpeg4", int(kz::TKzVideoCodec::kzvcMPEG4)}, {"h263p", int(kz::TKzVideoCodec::kzvcH263P)},
    {"h264", int(kz::TKzVideoCodec::kzvcH264)},   {"mjpeg", int(kz::TKzVideoCodec::kzvcMJPEG)},
    {"wmv1", int(kz::TKzVideoCodec::kzvcWMV1)},   {"wmv2", int(kz::TKzVideoCodec::kzvcWMV2)},
    {"flv1", int(kz::TKzVideoCodec::kzvcFLV1)},   {"hevc", int(kz::TKzVideoCodec::kzvcHEVC)},
};
const TCodecName kAudioCodecs[] = {
    {"wav", int(kz::TKzAudioCodec::kzacWAV)},       {"mp2", int(kz::TKzAudioCodec::kzacMP2)},
    {"mp3", int(kz::TKzAudioCodec::kzacMP3)},       {"ac3", int(kz::TKzAudioCodec::kzacAC3)},
    {"vorbis", int(kz::TKzAudioCodec::kzacVorbis)}, {"flac", int(kz::TKzAudioCodec::kzacFLAC)},
    {"opus", int(kz::TKzAudioCodec::kzacOpus)},     {"aac", int(kz::TKzAudioCodec::kzacAAC)},
    {"alac", int(kz::TKzAudioCodec::kzacALAC)},     {"amr", int(kz::TKzAudioCodec::kzacAMR)},
};

// The codec of a name from Table, or -1 (an encoder name then).
template <size_t N>
int CodecOf(const TCodecName (&Table)[N], const std::string& Name) {
  for (const TCodecName& c : Table)
    if (Name == c.Name) return c.Value;
  return -1;
}

int ListCodecs() {
  if (!kz::IsSupportedFFmpeg()) {
    KzErr("kztool record: FFmpeg is not available: %s\n", kz::LastFFmpegBindError().c_str());
    return kzExitFailed;
  }
  kz::TKzFFmpegList list;
  kz::GetListOfAvailableFFmpegVideoCodecs(list, "", true);
  KzOut("video encoders:\n");
  for (const auto& [name, n] : list) KzOut("  %s\n", name.c_str());
  kz::GetListOfAvailableFFmpegAudioCodecs(list, "");
  KzOut("audio encoders:\n");
  for (const auto& [name, n] : list) {
    kz::TKzFFmpegList formats, rates;
    const auto codec = kz::TKzAudioCodec(n);
    kz::GetListOfAvailableSampleFormats(codec, formats);
    std::string f, r;
    for (const auto& x : formats) f += (f.empty() ? "" : " ") + x.first;
    if (!formats.empty()) kz::GetListOfAvailableSampleRates(codec, kz::TKzSampleFormat(formats[0].second), rates);
    for (const auto& x : rates) r += (r.empty() ? "" : " ") + x.first;
    KzOut("  %s  [%s]%s%s\n", name.c_str(), f.c_str(), r.empty() ? "" : "  rates ", r.c_str());
  }
  kz::GetListOfAvailableFFmpegFileFormats(list);
  std::string formats;
  for (const auto& x : list) formats += (formats.empty() ? "" : " ") + x.first;
  KzOut("file formats: %s\n", formats.c_str());
  return kzExitDone;
}

// Reads the options into the recorder; false with Args.Error set.
bool Configure(TKzArgs& Args, kz::TKzCamRecorder& Rec, double& Seconds) {
  double fps = 25, vbitrate = 800000, gop = 12, bframes = -1, arate = 44100, achannels = 1, abitrate = 64000;
  if (!Args.Number("--seconds", Seconds, 0.001, 1e7) || !Args.Number("--fps", fps, 1, 1000) ||
      !Args.Number("--vbitrate", vbitrate, 1000, 1e9) || !Args.Number("--gop", gop, 0, 10000) ||
      !Args.Number("--bframes", bframes, 0, 16) || !Args.Number("--arate", arate, 1000, 384000) ||
      !Args.Number("--achannels", achannels, 1, 8) || !Args.Number("--abitrate", abitrate, 1000, 1e7))
    return false;
  Rec.SetVideoFramePerSec(int32_t(fps));
  Rec.SetVideoBitrate(int32_t(vbitrate));
  Rec.VideoEncodingParameters.GroupOfPicturesSize = int32_t(gop);
  Rec.VideoEncodingParameters.MaxBFrameCount = int32_t(bframes);
  Rec.SetAudioSampleRate(int32_t(arate));
  Rec.SetAudioChannels(int32_t(achannels));
  Rec.SetAudioBitrate(int32_t(abitrate));
  const std::string size = Args.Get("--size", "auto");
  if (size != "auto") {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(size.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 2 || h < 2) {
      Args.Error = "--size takes WxH or auto";
      return false;
    }
    Rec.SetVideoAutoSize(false);
    Rec.SetVideoWidth(w);
    Rec.SetVideoHeight(h);
  }
  if (Args.Has("--vcodec")) {
    const int c = CodecOf(kVideoCodecs, Args.Get("--vcodec"));
    if (c >= 0) Rec.SetVideoCodec(kz::TKzVideoCodec(c));
    else Rec.SetVideoCodecName(Args.Get("--vcodec"));
  }
  if (Args.Has("--acodec")) {
    const int c = CodecOf(kAudioCodecs, Args.Get("--acodec"));
    if (c >= 0) Rec.SetAudioCodec(kz::TKzAudioCodec(c));
    else Rec.SetAudioCodecName(Args.Get("--acodec"));
    if (c == int(kz::TKzAudioCodec::kzacWAV)) Rec.SetAudioSampleFormat(kz::TKzSampleFormat::kzsf16);
  }
  Rec.SetOutputFileName(Args.Get("--out"));
  return true;
}

void PrintProgress(kz::TKzCamRecorder& Rec, double Seconds) {
  const kz::TKzRecordStats s = Rec.Stats();
  KzOut("  %5.1f s  frames %6lld  repeated %6lld  skipped %4lld  audio %6.1f s  %8.2f MB\n", Seconds,
        static_cast<long long>(s.FramesEncoded), static_cast<long long>(s.FramesRepeated),
        static_cast<long long>(s.FramesSkipped), s.AudioSeconds, s.BytesWritten / 1e6);
}

int Record(TKzArgs& Args) {
  if (Args.Has("--codecs")) return ListCodecs();
  const std::string url = Args.Positional.empty() ? "" : Args.Positional[0];
  const bool camsim = Args.Has("--camsim"), mic = Args.Has("--mic"), wav = Args.Has("--wav");
  if (Args.Get("--out").empty()) Args.Error = "record needs --out FILE";
  else if (int(!url.empty()) + int(camsim) > 1 || int(mic) + int(wav) > 1) Args.Error = "one video and one audio source at most";
  else if (url.empty() && !camsim && !mic && !wav) Args.Error = "nothing to record: give URL, --camsim, --mic or --wav";
  if (!Args.Error.empty()) return kzExitUsage;
  if (!kz::IsSupportedFFmpeg()) {
    KzErr("kztool record: FFmpeg is not available: %s\n", kz::LastFFmpegBindError().c_str());
    return kzExitFailed;
  }
  kz::TKzCamRecorder rec(nullptr);
  double seconds = 10;
  if (!Configure(Args, rec, seconds)) return kzExitUsage;
  int errors = 0;
  rec.OnError = [&errors](kz::TKzCamRecorder*, int32_t, const std::string& Text) {
    ++errors;
    KzErr("kztool record: %s\n", Text.c_str());
  };
  rec.OnNotice = [](kz::TKzCamRecorder*, const std::string& Text) { KzErr("kztool record: %s\n", Text.c_str()); };

  std::unique_ptr<kz::TKzMicrophone> sound;
  if (mic || wav) {
    sound = std::make_unique<kz::TKzMicrophone>(nullptr);
    sound->SetNoiseReduction(false);
    sound->SetSamplesPerSec(44100);
    sound->SetBitsPerSample(kz::TKzBitsPerSample::kzbps16);
    sound->SetBufferDuration(100);
    if (wav) {
      sound->SetSourceType(kz::TKzSoundSourceType::kzsstWav);
      sound->SetWavFileName(Args.Get("--wav"));
      sound->SetWavRealTime(true);
    } else {
      sound->SetAudioInputDeviceIndex(std::atoi(Args.Get("--mic").c_str()));
    }
    rec.SetAudioSource(sound.get());
  }
  KzCatchStopSignals();
  auto start = [&]() -> bool {
    if (sound) {
      sound->SetActive(true);
      if (!sound->Active()) {
        KzErr("kztool record: cannot open %s\n", wav ? Args.Get("--wav").c_str() : "the capture device");
        return false;
      }
    }
    rec.SetActive(true);
    if (!rec.Active()) return false;
    KzOut("recording %s\n", rec.OutputFileName().c_str());
    return true;
  };
  const uint64_t t0 = kz::PlatformTickCount();
  uint64_t lastPrint = t0;
  auto progress = [&] {
    const uint64_t now = kz::PlatformTickCount();
    if (now - lastPrint < 1000) return;
    lastPrint = now;
    PrintProgress(rec, double(now - t0) / 1000);
  };
  bool started = true;
  kz::TKzRecordStats stats;
  std::string file;
  bool gaveUp = false;  // still active but no longer recording: a write failed
  auto finish = [&] {
    if (rec.Active()) {
      gaveUp = !rec.IsRecording();
      stats = rec.Stats();
      file = rec.RecordingFileName();
    }
    rec.SetActive(false);
  };
  std::unique_ptr<kzcamsim::TKzCamSim> sim;
  if (!url.empty() || camsim) {
    TKzFetchOptions o;
    o.URL = url;
    o.Seconds = seconds;
    if (camsim) {
      sim = std::make_unique<kzcamsim::TKzCamSim>(kzcamsim::TKzSimOptions{});
      std::string error;
      if (!sim->Start(&error)) {
        KzErr("kztool record: the synthetic camera did not start: %s\n", error.c_str());
        return kzExitFailed;
      }
      o.URL = sim->StreamURL();
      o.UserName = "admin";
      o.Password = "admin";
    }
    o.OnStart = [&](kz::TKzCamera& Camera) {
      rec.SetVideoSource(&Camera);
      started = start();
    };
    o.OnIdle = progress;
    // A recording that gave up (the file could not be written) ends the run.
    o.StopWhen = [&] { return started && rec.Active() && !rec.IsRecording(); };
    o.OnStop = [&](kz::TKzCamera&) {
      finish();
      rec.SetVideoSource(nullptr);
    };
    const TKzFetchResult r = KzRunFetch(o);
    if (!r.Error.empty()) KzErr("kztool record: %s\n", r.Error.c_str());
  } else {
    started = start();
    while (started && rec.IsRecording() && !KzStopSignal() && kz::PlatformTickCount() - t0 < uint64_t(seconds * 1000)) {
      kz::PumpUntil([] { return KzStopSignal() != 0; }, 50);
      progress();
    }
  }
  finish();
  const kz::TKzRecordStats& s = stats;
  if (sound) sound->SetActive(false);
  rec.SetAudioSource(nullptr);
  if (sim) sim->Stop();
  if (!started) return kzExitFailed;
  KzOut("recorded %s: %lld frames (%lld repeated, %lld skipped), %.1f s of audio, %.2f MB\n", file.c_str(),
        static_cast<long long>(s.FramesEncoded), static_cast<long long>(s.FramesRepeated),
        static_cast<long long>(s.FramesSkipped), s.AudioSeconds, s.BytesWritten / 1e6);
  if (gaveUp)
    KzErr("kztool record: recording stopped: the file could not be written further; it keeps what was written\n");
  if (errors) return kzExitFailed;
  return KzStopSignal() ? kzExitInterrupted : kzExitDone;
}
}  // namespace

const TSubcommand kRecordCommand = {"record", "[URL]",
                                    "records a camera, a URL, a microphone or a WAV file into a file through FFmpeg",
                                    kOptions, Record};

}  // namespace kztool
