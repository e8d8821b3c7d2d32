// One 640x480 25 fps JPEG stream fanned out to 1, 10, 50 and 100 receivers
// on loopback: our sender pushes to kzrelay, whose receivers pull what
// their group gets, against GStreamer's tcpserversink (gst-launch-1.0
// filesrc ! avidemux ! tcpserversink sync=true, on an MJPEG AVI of the same
// frames) serving the same number of plain TCP clients, in the same run.
// The receivers run in a second process (this program with --readers);
// the relay's ones ask as the real receiver does: again at once after an
// answer with frames, after an empty one when its video poll interval
// (ReceiverPollMs) has passed.
//
// Reported per N: the relay's CPU against tcpserversink's (ms of CPU per
// second), the slowest receiver's frames per second, and the relay's
// resident memory per receiver.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/kzbench.h"
#include "bench/streaming/kzfanoutbench.h"
#include "bench/kzstreamfleet.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzPacketWriter.h"
#include "video/fmxMKzFrameContainer.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindowS = 4;
constexpr int kFps = 25;
constexpr int kDistinct = 25;
const int kReceivers[] = {1, 10, 50, 100};
const char* kGroup = "{6B000000-0000-4000-8000-000000000001}";

TGUID ReaderGUID(int I) { return StringToGUIDA("{7C" + std::to_string(100000 + I) + "-0000-4000-8000-000000000001}"); }

// The join of reader I, as a command packet.
std::vector<uint8_t> JoinPacket(int I) {
  TKzCmd c;
  c.Name = "KzS_GROUP_JOIN";
  c.AddParam("GUIDGroup").SetString(kGroup);
  TMemoryStream payload;
  KzSaveCmdPayload({c}, payload);
  TKzPacketSpec spec;
  spec.DataType = DATA_TYPE_CMD;
  spec.BufferSize = 4096;
  spec.GUIDFrom = ReaderGUID(I);
  std::vector<uint8_t> out;
  uint16_t index = 0;
  TKzPacketWriter w;
  w.Write(spec, payload.Memory(), static_cast<size_t>(payload.Size()), index, [&out](const uint8_t* D, size_t N) {
    out.insert(out.end(), D, D + N);
    return true;
  });
  return out;
}

// --readers relay|raw PORT N: N readers (relay ones join the group and ask
// once first), "ready", the window, then each one's frame count.
int Readers(const std::string& Kind, uint16_t Port, int N) {
  const bool relay = Kind == "relay";
  std::vector<TKzSocket> socks;
  for (int i = 0; i < N; ++i) {
    socks.push_back(kzfanout::ConnectRetry(Port));
    if (relay) {
      const auto join = JoinPacket(i);
      KzSendAll(socks.back(), join.data(), join.size());
    }
  }
  // Relay readers settle 300 ms: their channels open first.
  const int settleMs = relay ? 300 : 0;
  return kzfanout::RunReaders(socks, kWindowS, settleMs, [relay](size_t I, TKzSocket S, auto& Stop, auto& Frames) {
    if (relay) {
      kzfanout::PullReader(S, ReaderGUID(static_cast<int>(I)), "VDGET", Stop, Frames, kzfanout::ReceiverPollMs());
    } else {
      kzfanout::RawReader(S, Stop, Frames);
    }
  });
}

// Resident memory of a process in KiB.
double RssKiB(pid_t Pid) {
  std::ifstream f("/proc/" + std::to_string(Pid) + "/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
  return 0;
}

struct TResult {
  double Cpu = -1;  // the fanning side, CPU seconds over the window
  double MinFps = -1;
  double RssKiB = 0;  // its resident memory at the window's end
};

TResult RunOurs(const std::vector<std::vector<uint8_t>>& Jpegs, int N) {
  const uint16_t port = kzfanout::FreePort();
  kzbench::TChild relay;
  if (!relay.Start({kzbench::AppPath("kzrelay"), "--http-port", std::to_string(port)}, false)) return {};
  TKzSocket probe = kzfanout::ConnectRetry(port);
  PlatformCloseSocket(probe);
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpHTTP);
  sender.SetReceiverHost("127.0.0.1");
  sender.SetReceiverPort(port);
  sender.SetBufferSize(65536);
  sender.SetGUIDFrom("{5F000000-0000-4000-8000-000000000001}");
  sender.SetGUIDGroup(kGroup);
  sender.SetActive(true);
  kzfanout::TReaders readers;
  if (!readers.Start("relay", port, N)) return {};
  TResult r;
  const double cpu0 = relay.Cpu();
  const auto start = Clock::now();
  int i = 0;
  for (auto next = start; next < start + std::chrono::duration<double>(kWindowS); ++i) {
    std::vector<uint8_t> frame;
    const std::vector<uint8_t>& j = Jpegs[static_cast<size_t>(i) % Jpegs.size()];
    KzAppendFramedImage(frame, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), j.data(), static_cast<uint32_t>(j.size()),
                        sender.GetTickCountSinceStart(), 1000 / kFps);
    TMemoryStream s;
    s.Write(frame.data(), static_cast<int64_t>(frame.size()));
    sender.SendVideoStream(0, TKzVideoInfo{}, s, 0);
    next += std::chrono::milliseconds(1000 / kFps);
    std::this_thread::sleep_until(next);
  }
  r.Cpu = relay.Cpu() - cpu0;
  r.RssKiB = RssKiB(relay.Pid);
  r.MinFps = readers.Finish(N, kWindowS, kFps);
  sender.SetActive(false);
  return r;
}

TResult RunGst(const std::string& Avi, int N) {
  const uint16_t port = kzfanout::FreePort();
  const pid_t gst = fork();
  if (gst == 0) {
    const std::string loc = "location=" + Avi, p = "port=" + std::to_string(port);
    execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "filesrc", loc.c_str(), "!", "avidemux", "!", "tcpserversink",
           "sync=true", "host=127.0.0.1", p.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  kzfanout::TReaders readers;
  TResult r;
  if (gst > 0 && readers.Start("raw", port, N)) {
    const double cpu0 = kzbench::KzProcessCpuSeconds(gst);
    std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS - 0.1));
    r.Cpu = kzbench::KzProcessCpuSeconds(gst) - cpu0;
    r.RssKiB = RssKiB(gst);
    r.MinFps = readers.Finish(N, kWindowS, kFps);
  }
  if (gst > 0) {
    kill(gst, SIGINT);
    waitpid(gst, nullptr, 0);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--readers") return Readers(argv[2], uint16_t(std::atoi(argv[3])), std::atoi(argv[4]));
  SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  const std::string dir = "/tmp/kz-relay-bench-" + std::to_string(getpid());
  const auto jpegs = kzfanout::MakeJpegs(640, 480, kDistinct);
  std::string avi;
  const bool anchor = std::system("gst-launch-1.0 --version >/dev/null 2>&1") == 0 && kzfanout::MakeAvi(jpegs, dir, avi);
  TResult base, gstBase;
  for (int n : kReceivers) {
    const TResult ours = RunOurs(jpegs, n);
    const TResult gst = anchor ? RunGst(avi, n) : TResult{};
    if (n == 1) {
      base = ours;
      gstBase = gst;
    }
    std::printf("%3d receivers: relay %6.1f CPU ms/s, slowest %5.1f fps, %7.0f KiB | tcpserversink %6.1f CPU ms/s, "
                "slowest %5.1f fps, %7.0f KiB\n",
                n, ours.Cpu * 1000 / kWindowS, ours.MinFps, ours.RssKiB, gst.Cpu * 1000 / kWindowS, gst.MinFps,
                gst.RssKiB);
    const std::string name = "relay_fanout_" + std::to_string(n);
    kzbench::Ours(name + "/cpu", ours.Cpu * 1000 / kWindowS, "CPU ms/s");
    kzbench::Ours(name + "/slowest", ours.MinFps, "fps", true);
    if (n > 1) kzbench::Ours(name + "/rss_per_receiver", (ours.RssKiB - base.RssKiB) / (n - 1), "KiB");
    if (!anchor || gst.Cpu < 0 || gst.MinFps < 0) {
      kzbench::MissingAnchor(name, "gst-launch-1.0 (gstreamer1.0-tools) or ffmpeg did not run");
      continue;
    }
    kzbench::Anchor(name + "/cpu", gst.Cpu * 1000 / kWindowS);
    kzbench::Anchor(name + "/slowest", gst.MinFps);
    if (n > 1) kzbench::Anchor(name + "/rss_per_receiver", std::max((gst.RssKiB - gstBase.RssKiB) / (n - 1), 1.0));
  }
  std::filesystem::remove_all(dir);
  KzMessagesShutdown();
  return kzbench::Finish();
}
