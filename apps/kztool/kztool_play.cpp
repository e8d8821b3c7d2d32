// kztool play FILE.wav... [...]: plays WAV files through the audio player,
// each file a source of time-stamped blocks that arrive with simulated
// jitter, reordering and loss, as from a network; prints per source what
// the player queued, played and dropped and the device's underruns.
// kztool play --list: the playback devices, one name a line.
#include <algorithm>
#include <random>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "audio/Fmxmkzwavefuncs.h"
#include "audio/fmxMKzAudioPlayer.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--list", nullptr, "list the playback devices"},
    {"--device", "N|NAME", "playback device by index or name (default: the system default)"},
    {"--block", "MS", "block length in ms (default 20)"},
    {"--jitter", "MS", "arrival jitter, +-MS (default 0)"},
    {"--reorder", "PCT", "share of blocks arriving after their successor (default 0)"},
    {"--loss", "PCT", "share of blocks lost (default 0)"},
    {"--latency", "MS", "player latency (default 100)"},
    {"--pitch", "P", "pitch shift in percent, -100..100 (default 0)"},
    {"--volume", "V", "volume multiplier (default 1)"},
    {"--record", "OUT", "record what the first source plays (.wav; other extensions through FFmpeg)"},
};

struct TSource {
  kz::TGUID GUID = kz::KzCreateGUID();
  std::string Name;
  kz::TKzAudioInfo Format;
  std::vector<uint8_t> Samples;  // the whole file as blocks carry it
  uint64_t Sent = 0, Lost = 0;
};

struct TArrival {
  int64_t At;  // ms after the start
  size_t Source;
  int64_t Block;
};

bool LoadSource(const std::string& Path, TSource& S, std::string& Error) {
  kz::TFileStream file(Path, kz::TFileMode::fmOpenRead);
  kz::TKzWaveHeader h;
  if (!file.Valid()) {
    Error = "cannot open " + Path;
    return false;
  }
  if (!kz::ReadWaveHeader(file, h, Error)) {
    Error = Path + ": " + Error;
    return false;
  }
  std::vector<uint8_t> raw(size_t(h.DataSize));
  file.SetPosition(h.DataOffset);
  if (file.Read(raw.data(), int64_t(raw.size())) != int64_t(raw.size())) {
    Error = Path + ": short file";
    return false;
  }
  S.Name = Path;
  S.Format = {h.SamplesPerSec, h.Bits, h.Channels};
  S.Samples.resize(size_t(h.Frames) * h.FrameBytes());
  kz::ConvertWaveFrames(raw.data(), h.Frames, h, S.Samples.data());
  return true;
}

// When each block arrives: in order, shifted by jitter, some after their
// successor, some never.
std::vector<TArrival> Schedule(std::vector<TSource>& Sources, double BlockMs, double Jitter, double Reorder,
                               double Loss) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<TArrival> all;
  for (size_t s = 0; s < Sources.size(); ++s) {
    TSource& src = Sources[s];
    const int64_t frameBytes = kz::KzBitsToInt(src.Format.BitsPerSample) / 8 * src.Format.Channels;
    const int64_t blockBytes = std::max<int64_t>(1, int64_t(src.Format.SamplesPerSec * BlockMs / 1000)) * frameBytes;
    const int64_t blocks = (int64_t(src.Samples.size()) + blockBytes - 1) / blockBytes;
    std::vector<TArrival> mine;
    for (int64_t k = 0; k < blocks; ++k) {
      if (unit(rng) * 100 < Loss) {
        ++src.Lost;
        continue;
      }
      const double at = BlockMs * double(k) + Jitter * (2 * unit(rng) - 1);
      mine.push_back({int64_t(std::max(0.0, at)), s, k});
    }
    for (size_t i = 0; i + 1 < mine.size(); ++i)
      if (unit(rng) * 100 < Reorder) mine[i].At = std::max(mine[i].At, mine[i + 1].At + 1);
    src.Sent = mine.size();
    all.insert(all.end(), mine.begin(), mine.end());
  }
  std::stable_sort(all.begin(), all.end(), [](const TArrival& A, const TArrival& B) { return A.At < B.At; });
  return all;
}

void Feed(kz::TKzAudioPlayer& Player, TSource& S, int64_t Block, double BlockMs) {
  const int64_t frameBytes = kz::KzBitsToInt(S.Format.BitsPerSample) / 8 * S.Format.Channels;
  const int64_t blockBytes = std::max<int64_t>(1, int64_t(S.Format.SamplesPerSec * BlockMs / 1000)) * frameBytes;
  const int64_t from = Block * blockBytes;
  const int64_t size = std::min<int64_t>(blockBytes, int64_t(S.Samples.size()) - from);
  kz::TMemoryStream stream;
  stream.Write(S.Samples.data() + from, size);
  const int64_t frames = from / frameBytes;
  Player.PlayAudio(stream, int32_t(size), S.GUID, 0, true, S.Format.Channels, S.Format.BitsPerSample,
                   S.Format.SamplesPerSec, 1000 + frames * 1000 / S.Format.SamplesPerSec,
                   kz::GetTrackMSec(size, S.Format.Channels, S.Format.BitsPerSample, S.Format.SamplesPerSec));
}

void PrintSummary(const kz::TKzAudioPlayer& Player, const std::vector<TSource>& Sources) {
  for (const TSource& s : Sources) {
    kz::TKzPlayItemStats st;
    for (const kz::TKzPlayItemRef& i : Player.PlayItems())
      if (i->GUID() == s.GUID) st = i->Stats();
    KzOut("%s: sent %llu lost %llu, queued %u ms, played %llu, dropped %llu, underruns %u\n", s.Name.c_str(),
          static_cast<unsigned long long>(s.Sent), static_cast<unsigned long long>(s.Lost), st.QueuedMs,
          static_cast<unsigned long long>(st.BlocksPlayed), static_cast<unsigned long long>(st.BlocksDropped),
          st.Underruns);
  }
}

bool Idle(const kz::TKzAudioPlayer& Player) {
  for (const kz::TKzPlayItemRef& i : Player.PlayItems())
    if (i->Active() && (i->Stats().QueuedBytes > 0 || i->FreeBuffers() < kz::KZ_PLAY_BUFFERS)) return false;
  return true;
}

int RunPlay(TKzArgs& Args) {
  kz::TKzAudioPlayer player(nullptr);
  if (Args.Has("--list")) {
    for (int32_t i = 0; i < player.GetAudioOutputDeviceCount(); ++i)
      KzOut("%s\n", player.GetAudioOutputDeviceList(i).c_str());
    return kzExitDone;
  }
  double block = 20, jitter = 0, reorder = 0, loss = 0, latency = 100, pitch = 0, volume = 1;
  if (!Args.Number("--block", block, 1, 10000) || !Args.Number("--jitter", jitter, 0, 10000) ||
      !Args.Number("--reorder", reorder, 0, 100) || !Args.Number("--loss", loss, 0, 100) ||
      !Args.Number("--latency", latency, 0, 65535) || !Args.Number("--pitch", pitch, -100, 100) ||
      !Args.Number("--volume", volume, 0, 9999))
    return kzExitUsage;
  if (Args.Positional.empty()) {
    Args.Error = "no FILE.wav given";
    return kzExitUsage;
  }
  std::vector<TSource> sources(Args.Positional.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    std::string error;
    if (!LoadSource(Args.Positional[i], sources[i], error)) {
      KzErr("kztool play: %s\n", error.c_str());
      return kzExitFailed;
    }
  }
  if (Args.Has("--device") && !PickPlaybackDevice(player, Args.Get("--device"))) {
    Args.Error = "no playback device " + Args.Get("--device");
    return kzExitUsage;
  }
  player.SetLatency(uint16_t(latency));
  player.SetPitch(int8_t(pitch));
  player.SetVolumeMultiplier(volume);
  player.SetActive(true);
  if (Args.Has("--record")) {
    const std::string out = Args.Get("--record");
    player.SetOutputFileName(out);
    // Not WAV: the container's own codec at the source's rate and channels.
    if (out.size() < 4 || out.compare(out.size() - 4, 4, ".wav") != 0) {
      player.SetEncodeAudioCodec(kz::TKzAudioCodec::kzacDefault);
      player.SetEncodeSampleRate(sources[0].Format.SamplesPerSec);
      player.SetEncodeChannels(sources[0].Format.Channels);
    }
    player.SetEncodeSampleFormat(sources[0].Format.BitsPerSample == kz::TKzBitsPerSample::kzbps8
                                     ? kz::TKzSampleFormat::kzsf8
                                     : kz::TKzSampleFormat::kzsf16);
    player.SetRecording(true);
    if (!player.Recording()) KzErr("kztool play: cannot record to %s\n", out.c_str());
  }
  const std::vector<TArrival> arrivals = Schedule(sources, block, jitter, reorder, loss);
  const uint64_t start = kz::PlatformTickCount();
  for (const TArrival& a : arrivals) {
    kz::PumpUntil([&] { return KzStopSignal() != 0; }, int(std::max<int64_t>(0, start + a.At - kz::PlatformTickCount())));
    if (KzStopSignal()) break;
    Feed(player, sources[a.Source], a.Block, block);
  }
  // Until every source has played out (bounded by the latency and the queues).
  kz::PumpUntil([&] { return KzStopSignal() != 0 || Idle(player); }, int(latency) + 10000);
  PrintSummary(player, sources);
  player.SetRecording(false);
  player.SetActive(false);
  return KzStopSignal() ? kzExitInterrupted : kzExitDone;
}
}  // namespace

bool PickPlaybackDevice(kz::TCustomKzAudioPlayer& Player, const std::string& Value) {
  int32_t index = -2;
  for (int32_t i = 0; i < Player.GetAudioOutputDeviceCount(); ++i)
    if (Player.GetAudioOutputDeviceList(i) == Value) index = i;
  if (index == -2) {
    char* end = nullptr;
    const long n = std::strtol(Value.c_str(), &end, 10);
    if (Value.empty() || *end || n < -1 || n >= Player.GetAudioOutputDeviceCount()) return false;
    index = static_cast<int32_t>(n);
  }
  Player.SetAudioOutputDeviceIndex(index);
  return true;
}

const TSubcommand kPlayCommand = {"play", "FILE.wav...",
                                  "plays WAV files as jittered sources of blocks through the audio player", kOptions,
                                  RunPlay};

}  // namespace kztool
