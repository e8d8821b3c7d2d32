// kztool receive --listen PORT | --from HOST:PORT [...]: receives what
// senders send (pushed to PORT, or pulled from HOST:PORT) for a while and
// prints per sender the frames, frame rate, audio blocks, commands, files
// and the delay from a frame's arrival to its display (for changed-area
// streams also whole and area containers, areas and bytes per frame); with
// --out it writes each sender's last frame as a PNG snapshot and the
// received files there; with --play it plays their sound.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "audio/fmxMKzAudioPlayer.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "streaming/fmxMKzReceivedFileWriter.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--listen", "PORT", "receive what senders push to PORT"},
    {"--from", "HOST:PORT", "pull from the sender listening at HOST:PORT"},
    {"--protocol", "tcp|udp|http", "transport (default tcp; pulling: tcp or http)"},
    {"--out", "DIR", "write each sender's last frame (PNG) and the received files into DIR"},
    {"--seconds", "S", "stop after S seconds (default 10)"},
    {"--max-file", "BYTES", "largest file written (default 1 GiB)"},
    {"--play", nullptr, "play the senders' sound"},
    {"--play-device", "N|NAME", "playback device for --play (default: the system default)"},
};

struct TSenderStats {
  uint64_t Frames = 0, AudioBlocks = 0, Commands = 0, Files = 0;
  uint64_t LastArrival = 0;  // tick of the newest video packet
  double DelaySum = 0;
  uint64_t DelayCount = 0;
  kz::TKzMBitmap Last;
};

// Everything the receiver delivers, per sender. Any thread.
class TTally : public kz::IKzCamViewConsumer {
public:
  void ViewerGetImageBMP(kz::TComponent*, const kz::TKzMBitmap& B, bool, uint16_t, const kz::TGUID& From) override {
    std::lock_guard<std::mutex> g(Lock);
    TSenderStats& s = Senders[From];
    ++s.Frames;
    s.Last = B;
    if (s.LastArrival) {
      s.DelaySum += static_cast<double>(kz::PlatformTickCount() - s.LastArrival);
      ++s.DelayCount;
    }
  }
  std::mutex Lock;  // guards Senders and Files
  std::map<kz::TGUID, TSenderStats, bool (*)(const kz::TGUID&, const kz::TGUID&)> Senders{
      [](const kz::TGUID& A, const kz::TGUID& B) { return std::memcmp(&A, &B, sizeof A) < 0; }};
  std::unique_ptr<kz::TKzReceivedFileWriter> Files;
};

bool Configure(TKzArgs& Args, kz::TKzCamReceiver& R, double& Seconds, double& MaxFile) {
  if (Args.Has("--listen") == Args.Has("--from")) {
    Args.Error = "give --listen PORT or --from HOST:PORT";
    return false;
  }
  const std::string proto = Args.Get("--protocol", "tcp");
  if (proto != "tcp" && proto != "udp" && proto != "http") {
    Args.Error = "--protocol takes tcp, udp or http";
    return false;
  }
  double port = 0;
  if (!Args.Number("--seconds", Seconds, 0.1, 86400) || !Args.Number("--max-file", MaxFile, 0, 1e15) ||
      !Args.Number("--listen", port, 0, 65535))
    return false;
  R.SetProtocol(proto == "udp" ? kz::TKzProtocol::kzpUDP : proto == "http" ? kz::TKzProtocol::kzpHTTP
                                                                         : kz::TKzProtocol::kzpTCP);
  if (Args.Has("--listen")) {
    R.SetPort(static_cast<uint16_t>(port));
    return true;
  }
  const std::string from = Args.Get("--from");
  const size_t colon = from.rfind(':');
  const long p = colon == std::string::npos ? 0 : std::strtol(from.c_str() + colon + 1, nullptr, 10);
  if (colon == std::string::npos || colon == 0 || p <= 0 || p > 65535 || proto == "udp") {
    Args.Error = "--from takes HOST:PORT over tcp or http";
    return false;
  }
  R.SetTCPConnectionType(kz::TKzTCPConnectionType::kztcpReceiverToSender);
  auto& item = R.Senders().Add();
  item.SetSenderHost(from.substr(0, colon));
  item.SetSenderPort(static_cast<uint16_t>(p));
  return true;
}

std::string Label(const kz::TGUID& G) { return kz::IsNull(G) ? std::string("(no GUID)") : kz::GUIDToStringA(G); }

int Receive(TKzArgs& Args) {
  kz::TKzCamReceiver receiver(nullptr);
  double seconds = 10, maxFile = static_cast<double>(kz::TKzReceivedFileWriter::DefaultMaxFileBytes);
  if (!Configure(Args, receiver, seconds, maxFile)) return kzExitUsage;
  const std::string out = Args.Get("--out");
  TTally tally;
  if (!out.empty()) {
    mkdir(out.c_str(), 0700);
    tally.Files = std::make_unique<kz::TKzReceivedFileWriter>(out, static_cast<int64_t>(maxFile));
  }
  receiver.SetVideoLatency(0);
  receiver.RegisterCamView(&tally);
  receiver.OnDataRead = [&](kz::TComponent*, kz::TKzSessionKey, kz::TMemoryStream&, int32_t, const kz::TGUID& From,
                            const kz::TGUID&, const kz::TGUID&, uint16_t) {
    std::lock_guard<std::mutex> g(tally.Lock);
    tally.Senders[From].LastArrival = kz::PlatformTickCount();
  };
  receiver.OnReceiveCmdData = [&](kz::TComponent*, kz::TKzSessionKey, uint16_t, const kz::TGUID& From,
                                  const kz::TGUID&, const kz::TGUID&, uint16_t, const kz::TKzCmd&) {
    std::lock_guard<std::mutex> g(tally.Lock);
    ++tally.Senders[From].Commands;
  };
  receiver.OnReceiveFileData = [&](kz::TComponent*, kz::TKzSessionKey, const std::string& Name, int64_t Offs,
                                   int64_t Total, kz::TMemoryStream& Data, int32_t, const kz::TGUID& From,
                                   const kz::TGUID&, const kz::TGUID&, uint16_t) {
    std::lock_guard<std::mutex> g(tally.Lock);
    const int64_t size = Data.Size() - Data.Position();
    if (Offs + size >= Total) ++tally.Senders[From].Files;
    if (tally.Files && !tally.Files->Write(From, Name, Offs, Total, Data.Memory() + Data.Position(),
                                           static_cast<size_t>(size)))
      KzErr("kztool receive: %s\n", tally.Files->Error().c_str());
  };
  // Counts every sender's blocks; plays them too once active (--play).
  struct TCounting : kz::TKzAudioPlayer {
    TTally& T;
    explicit TCounting(TTally& Tally) : kz::TKzAudioPlayer(nullptr), T(Tally) {}
    void PlayAudio(kz::TMemoryStream& Stream, int32_t Size, const kz::TGUID& GUID, uint16_t Index, bool AllowDrop,
                   int32_t Channels, kz::TKzBitsPerSample Bits, int32_t Rate, int64_t Start,
                   uint32_t Duration) override {
      {
        std::lock_guard<std::mutex> g(T.Lock);
        ++T.Senders[GUID].AudioBlocks;
      }
      kz::TKzAudioPlayer::PlayAudio(Stream, Size, GUID, Index, AllowDrop, Channels, Bits, Rate, Start, Duration);
    }
  } audio(tally);
  if (Args.Has("--play-device") && !PickPlaybackDevice(audio, Args.Get("--play-device"))) {
    Args.Error = "no playback device " + Args.Get("--play-device");
    receiver.UnRegisterCamView(&tally);
    return kzExitUsage;
  }
  if (Args.Has("--play")) audio.SetActive(true);
  receiver.SetAudioOutput(&audio);
  receiver.SetActive(true);
  if (Args.Has("--listen")) {
    if (!kz::PumpUntil([&] { return receiver.ListeningPort() != 0; }, 3000)) {
      KzErr("kztool receive: cannot listen on port %s\n", Args.Get("--listen").c_str());
      receiver.UnRegisterCamView(&tally);
      return kzExitFailed;
    }
    KzOut("listening on port %u\n", receiver.ListeningPort());
  }
  const uint64_t end = kz::PlatformTickCount() + static_cast<uint64_t>(seconds * 1000);
  kz::PumpUntil([&] { return KzStopSignal() != 0 || kz::PlatformTickCount() >= end; },
                static_cast<int>(seconds * 1000) + 1000);
  const std::map<std::string, kz::TKzChangeStats> changes = receiver.ChangeStats();
  // Before the receiver stops: its end deletes the senders' playback.
  uint32_t underruns = 0;
  for (const kz::TKzPlayItemRef& item : audio.PlayItems()) underruns += item->Stats().Underruns;
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&tally);
  receiver.SetAudioOutput(nullptr);
  audio.SetActive(false);
  if (Args.Has("--play")) KzOut("played: %u underruns\n", underruns);
  std::lock_guard<std::mutex> g(tally.Lock);
  int index = 0;
  for (auto& [from, s] : tally.Senders) {
    if (!s.Frames && !s.AudioBlocks && !s.Commands && !s.Files) continue;
    KzOut("sender %s: frames %llu (%.1f fps), audio blocks %llu, commands %llu, files %llu, latency %.1f ms\n",
          Label(from).c_str(), static_cast<unsigned long long>(s.Frames), static_cast<double>(s.Frames) / seconds,
          static_cast<unsigned long long>(s.AudioBlocks), static_cast<unsigned long long>(s.Commands),
          static_cast<unsigned long long>(s.Files), s.DelayCount ? s.DelaySum / static_cast<double>(s.DelayCount) : 0.0);
    if (!out.empty() && !s.Last.IsEmpty()) {
      kz::TMemoryStream png;
      const std::string name = out + "/sender" + std::to_string(++index) + ".png";
      kz::TFileStream f(name, kz::TFileMode::fmCreate);
      if (kz::KzCodecEncodePNG(s.Last, png) && f.Valid()) f.Write(png.Memory(), png.Size());
    }
  }
  for (const auto& [from, c] : changes) {
    const uint64_t frames = c.WholeFrames + c.AreaContainers;
    if (!frames) continue;
    KzOut("sender %s: whole containers %llu, area containers %llu, %.1f areas per area container, %.0f bytes per "
          "frame, %llu not shown\n",
          from == kz::GUIDToStringA(kz::TGUID{}) ? "(no GUID)" : from.c_str(), static_cast<unsigned long long>(c.WholeFrames),
          static_cast<unsigned long long>(c.AreaContainers),
          c.AreaContainers ? static_cast<double>(c.Areas) / static_cast<double>(c.AreaContainers) : 0.0,
          static_cast<double>(c.Bytes) / static_cast<double>(frames), static_cast<unsigned long long>(c.Corrupted));
  }
  if (tally.Files)
    for (const std::string& f : tally.Files->Completed()) KzOut("file %s\n", f.c_str());
  return KzStopSignal() ? kzExitInterrupted : kzExitDone;
}
}  // namespace

const TSubcommand kReceiveCommand = {"receive", "--listen PORT | --from HOST:PORT",
                                     "receives from senders and prints what came per sender", kOptions, Receive};

}  // namespace kztool
