// kztool send: plays a camera (a URL, or the built-in synthetic camera with
// --camsim) and sends its video, and a test tone with --tone, through a
// TKzCamSender: pushed to HOST:PORT, or pulled from --pull PORT. Progress
// (frames, bytes, MB/s, queue) on stderr, "frames: N bytes: B" on stdout.
#include <cmath>
#include <memory>
#include <string>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kztool/kztool.h"
#include "audio/fmxMKzAudioSource.h"
#include "camera/fmxMKzCamera.h"
#include "sender/fmxMKzCamSender.h"

using namespace kzapp;

namespace kztool {

namespace {

const TKzOption kOptions[] = {
    {"--camsim", nullptr, "send the built-in synthetic camera (640x480, 25 fps) instead of a URL"},
    {"--to", "HOST:PORT", "push to a receiver listening there"},
    {"--protocol", "P", "tcp, udp (default) or http"},
    {"--pull", "PORT", "listen on PORT (0: any) for receivers that pull, instead of pushing"},
    {"--encoding", "E", "jpeg (default), png, bmp or hwl; changed areas only: jpeg-change, png-change, bmp-change, "
                        "mix-change or hwl-change"},
    {"--tone", nullptr, "send a 440 Hz test tone as audio too"},
    {"--seconds", "S", "stop after S seconds (default 10)"},
};

struct TNamed {
  const char* Name;
  int Value;
};
const TNamed kProtocols[] = {{"tcp", int(kz::TKzProtocol::kzpTCP)}, {"udp", int(kz::TKzProtocol::kzpUDP)},
                             {"http", int(kz::TKzProtocol::kzpHTTP)}};
const TNamed kEncodings[] = {{"jpeg", int(kz::TKzEncodingType::kzetJPEG)}, {"png", int(kz::TKzEncodingType::kzetPNG)},
                             {"bmp", int(kz::TKzEncodingType::kzetBMP)}, {"hwl", int(kz::TKzEncodingType::kzetHWL)},
                             {"jpeg-change", int(kz::TKzEncodingType::kzetJPEGChange)},
                             {"png-change", int(kz::TKzEncodingType::kzetPNGChange)},
                             {"bmp-change", int(kz::TKzEncodingType::kzetBMPChange)},
                             {"mix-change", int(kz::TKzEncodingType::kzetMixFormatChange)},
                             {"hwl-change", int(kz::TKzEncodingType::kzetHWLChange)}};

template <size_t N>
bool Lookup(const TNamed (&Table)[N], const std::string& Name, int& Value) {
  for (const TNamed& t : Table)
    if (Name == t.Name) return Value = t.Value, true;
  return false;
}

// 50 ms of a 440 Hz tone, 16-bit mono at 8 kHz, continuing the phase of the last block.
void ToneBlock(kz::TKzAudioSource& Source, int64_t& Sample) {
  kz::TMemoryStream s;
  for (int i = 0; i < 400; ++i, ++Sample) {
    const int16_t v = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440 * double(Sample) / 8000));
    s.Write(&v, 2);
  }
  Source.OutputSound(s, 800, kz::TGUID{}, 1, kz::TKzBitsPerSample::kzbps16, 8000);
}

int Run(TKzArgs& Args) {
  const bool camsim = Args.Has("--camsim");
  if (camsim == (Args.Positional.size() == 1) || Args.Positional.size() > 1) {
    Args.Error = "give one URL or --camsim";
    return kzExitUsage;
  }
  const bool pull = Args.Has("--pull");
  if (pull == Args.Has("--to")) {
    Args.Error = "give --to HOST:PORT or --pull PORT";
    return kzExitUsage;
  }
  int protocol = int(kz::TKzProtocol::kzpUDP), encoding = int(kz::TKzEncodingType::kzetJPEG);
  if (Args.Has("--protocol") && !Lookup(kProtocols, Args.Get("--protocol"), protocol)) {
    Args.Error = "unknown protocol \"" + Args.Get("--protocol") + "\"";
    return kzExitUsage;
  }
  if (Args.Has("--encoding") && !Lookup(kEncodings, Args.Get("--encoding"), encoding)) {
    Args.Error = "unknown encoding \"" + Args.Get("--encoding") + "\"";
    return kzExitUsage;
  }
  double seconds = 10, pullPort = 0, port = 0;
  std::string host;
  if (!pull) {
    const std::string to = Args.Get("--to");
    const size_t colon = to.rfind(':');
    host = to.substr(0, colon);
    port = colon == std::string::npos ? 0 : std::atof(to.c_str() + colon + 1);
    if (host.empty() || port < 1 || port > 65535) {
      Args.Error = "--to takes HOST:PORT";
      return kzExitUsage;
    }
  }
  if (!Args.Number("--seconds", seconds, 0.001, 1e9) || !Args.Number("--pull", pullPort, 0, 65535)) return kzExitUsage;

  std::unique_ptr<kzcamsim::TKzCamSim> sim;
  TKzFetchOptions o;
  if (camsim) {
    sim = std::make_unique<kzcamsim::TKzCamSim>(kzcamsim::TKzSimOptions{});
    std::string error;
    if (!sim->Start(&error)) return KzErr("kztool send: %s\n", error.c_str()), kzExitFailed;
    o.URL = sim->StreamURL();
    o.Sim = sim.get();
  } else {
    o.URL = Args.Positional[0];
  }
  o.Seconds = seconds;

  kz::TKzCamSender sender(nullptr);
  kz::TKzAudioSource tone(nullptr);
  sender.SetProtocol(pull ? kz::TKzProtocol::kzpTCP : kz::TKzProtocol(protocol));
  sender.SetEncoding(kz::TKzEncodingType(encoding));
  sender.SetReceiverHost(host);
  sender.SetReceiverPort(static_cast<uint16_t>(port));
  if (pull) {
    sender.SetTCPConnectionType(kz::TKzTCPConnectionType::kztcpReceiverToSender);
    sender.SetSenderPort(static_cast<uint16_t>(pullPort));
  }
  if (Args.Has("--tone")) sender.SetAudioSource(&tone);
  sender.SetActive(true);
  if (pull && sender.ListeningPort() == 0) return KzErr("kztool send: cannot listen on port %g\n", pullPort), kzExitFailed;
  if (pull) KzErr("send: receivers pull from port %u\n", unsigned(sender.ListeningPort()));

  int64_t sample = 0;
  uint64_t toneAt = 0;
  o.OnStart = [&](kz::TKzCamera& Camera) { sender.SetVideoSource(&Camera); };
  o.OnStop = [&](kz::TKzCamera&) { sender.SetVideoSource(nullptr); };
  o.OnIdle = [&] {
    // Tone blocks keep up with the clock, 50 ms each.
    if (!Args.Has("--tone")) return;
    const uint64_t now = kz::KzMGetTickCount();
    if (toneAt == 0) toneAt = now;
    for (; toneAt <= now; toneAt += 50) ToneBlock(tone, sample);
  };
  uint64_t lastBytes = 0;
  o.OnProgress = [&](const TKzFetchProgress& p) {
    const uint64_t bytes = sender.BytesSent();
    KzErr("send: %5.1f s  frames %6llu  %9.2f MB  %6.2f MB/s  queued %zu B  receivers %d\n", p.Seconds,
          static_cast<unsigned long long>(sender.FramesSent()), bytes / 1e6, (bytes - lastBytes) / 1e6,
          sender.QueuedBytes(kz::DATA_TYPE_VIDEO), pull ? sender.PullConnections() : int(sender.ChannelCount()));
    lastBytes = bytes;
  };
  const TKzFetchResult r = KzRunFetch(o);
  sender.SetActive(false);
  sender.SetAudioSource(nullptr);
  if (!r.Error.empty()) KzErr("kztool send: %s\n", r.Error.c_str());
  KzOut("frames: %llu bytes: %llu\n", static_cast<unsigned long long>(sender.FramesSent()),
        static_cast<unsigned long long>(sender.BytesSent()));
  if (r.Interrupted) return kzExitInterrupted;
  return r.Frames > 0 ? kzExitDone : kzExitFailed;
}

}  // namespace

const TSubcommand kSendCommand = {
    "send", "URL | --camsim",
    "sends a camera's video (and a test tone with --tone) through a sender for S seconds: pushed to --to "
    "HOST:PORT over tcp, udp or http, or pulled from --pull PORT; progress to stderr, \"frames: N bytes: B\" to "
    "stdout",
    kOptions, Run};

}  // namespace kztool
