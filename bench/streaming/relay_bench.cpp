// One 640x480 25 fps JPEG stream fanned out to 1, 10, 50 and 100 receivers
// on loopback: our sender pushes to kzrelay, whose receivers pull what
// their group gets, against GStreamer's tcpserversink (gst-launch-1.0
// filesrc ! avidemux ! tcpserversink sync=true, on an MJPEG AVI of the same
// frames) serving the same number of plain TCP clients, in the same run.
// The receivers run in a second process (this program with --readers).
//
// Reported per N: the relay's CPU against tcpserversink's (ms of CPU per
// second), the slowest receiver's frames per second, and the relay's
// resident memory per receiver.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzPacketWriter.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindowS = 4;
constexpr int kFps = 25;
constexpr int kDistinct = 25;
const int kReceivers[] = {1, 10, 50, 100};
const char* kGroup = "{6B000000-0000-4000-8000-000000000001}";

TGUID ReaderGUID(int I) { return StringToGUIDA("{7C" + std::to_string(100000 + I) + "-0000-4000-8000-000000000001}"); }

TKzSocket ConnectRetry(uint16_t Port) {
  for (int i = 0; i < 200; ++i) {
    TKzSocket s = KzMConnectTimed(PlatformLookupIPv4("127.0.0.1"), Port, 1000);
    if (s != KZ_INVALID_SOCKET) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return KZ_INVALID_SOCKET;
}

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

// Pulls video from the relay as reader I, counting the packets of every batch.
void RelayReader(TKzSocket S, int I, const std::atomic<bool>& Stop, std::atomic<int64_t>& Frames) {
  TKzBatchReader batches;
  std::vector<uint8_t> buf(1 << 18);
  while (!Stop) {
    uint8_t r[TKzChannelRequest::WireSize];
    KzChannelRequestToBytes({"VDGET", ReaderGUID(I), 0}, r);
    if (KzSendAll(S, r, sizeof r) < 0) return;
    TKzBatch batch;
    while (!batches.Next(batch)) {
      const int64_t n = KzMRecvNonBlock(S, buf.data(), static_cast<int64_t>(buf.size()), false, 2000);
      if (n <= 0 || Stop) return;
      batches.Feed(buf.data(), static_cast<size_t>(n));
    }
    Frames += static_cast<int64_t>(batch.Chunks.size());
    if (batch.Chunks.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Reads a plain JPEG stream, counting start-of-image markers.
void RawReader(TKzSocket S, int, const std::atomic<bool>& Stop, std::atomic<int64_t>& Frames) {
  std::vector<uint8_t> buf(1 << 18);
  uint8_t last = 0;
  while (!Stop) {
    const int64_t n = KzMRecvNonBlock(S, buf.data(), static_cast<int64_t>(buf.size()), false, 2000);
    if (n <= 0) return;
    int64_t k = last == 0xFF && buf[0] == 0xD8;
    for (int64_t i = 0; i + 1 < n; ++i) k += buf[i] == 0xFF && buf[i + 1] == 0xD8;
    last = buf[n - 1];
    Frames += k;
  }
}

// --readers relay|raw PORT N: N readers (relay ones join the group and ask
// once first), "ready", the window, then each one's frame count.
int Readers(const std::string& Kind, uint16_t Port, int N) {
  const bool relay = Kind == "relay";
  std::vector<TKzSocket> socks;
  for (int i = 0; i < N; ++i) {
    socks.push_back(ConnectRetry(Port));
    if (relay) {
      const auto join = JoinPacket(i);
      KzSendAll(socks.back(), join.data(), join.size());
    }
  }
  std::atomic<bool> stop{false};
  std::vector<std::atomic<int64_t>> frames(N);
  std::vector<std::thread> threads;
  for (int i = 0; i < N; ++i)
    threads.emplace_back([&, i] { (relay ? RelayReader : RawReader)(socks[i], i, stop, frames[i]); });
  std::this_thread::sleep_for(std::chrono::milliseconds(relay ? 300 : 0));  // channels open
  std::printf("ready\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS));
  stop = true;
  for (TKzSocket& s : socks) PlatformShutdown(s);
  for (std::thread& t : threads) t.join();
  for (TKzSocket& s : socks) PlatformCloseSocket(s);
  for (auto& f : frames) std::printf("%lld\n", static_cast<long long>(f.load()));
  return 0;
}

struct TReaders {
  pid_t Pid = -1;
  FILE* Out = nullptr;
  bool Start(const std::string& Kind, uint16_t Port, int N) {
    int fd[2];
    if (pipe(fd) != 0) return false;
    Pid = fork();
    if (Pid == 0) {
      dup2(fd[1], 1);
      close(fd[0]);
      const std::string port = std::to_string(Port), n = std::to_string(N);
      execl("/proc/self/exe", "relay_bench", "--readers", Kind.c_str(), port.c_str(), n.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fd[1]);
    Out = fdopen(fd[0], "r");
    char line[64] = {};
    return Pid > 0 && std::fgets(line, sizeof line, Out) && std::strncmp(line, "ready", 5) == 0;
  }
  double Finish(int N) {
    std::vector<long long> counts;
    long long v = 0;
    while (static_cast<int>(counts.size()) < N && std::fscanf(Out, "%lld", &v) == 1) counts.push_back(v);
    std::fclose(Out);
    waitpid(Pid, nullptr, 0);
    if (static_cast<int>(counts.size()) < N) return -1;
    return std::min(double(*std::min_element(counts.begin(), counts.end())) / kWindowS, double(kFps));
  }
};

std::vector<std::vector<uint8_t>> MakeJpegs() {
  std::vector<std::vector<uint8_t>> out;
  for (int f = 0; f < kDistinct; ++f) {
    TKzMBitmap b(640, 480);
    for (int32_t r = 0; r < 480; ++r)
      for (int32_t c = 0; c < 640; ++c)
        b.ScanLine(r)[c] = 0xFF000000u | ((c + f * 8) & 255) << 16 | ((r * 255 / 480) & 255) << 8 |
                           (((c / 32 + r / 32 + f) % 2) ? 190 : 50);
    TMemoryStream s;
    KzCodecEncodeJPEG(b, s, 80);
    out.emplace_back(s.Memory(), s.Memory() + s.Size());
  }
  return out;
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

uint16_t FreePort() {
  TKzSocket s = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t p = PlatformSocketLocalPort(s);
  PlatformCloseSocket(s);
  return p;
}

TResult RunOurs(const std::vector<std::vector<uint8_t>>& Jpegs, int N) {
  const uint16_t port = FreePort();
  kzbench::TChild relay;
  if (!relay.Start({kzbench::AppPath("kzrelay"), "--http-port", std::to_string(port)}, false)) return {};
  TKzSocket probe = ConnectRetry(port);
  PlatformCloseSocket(probe);
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpHTTP);
  sender.SetReceiverHost("127.0.0.1");
  sender.SetReceiverPort(port);
  sender.SetBufferSize(65536);
  sender.SetGUIDFrom("{5F000000-0000-4000-8000-000000000001}");
  sender.SetGUIDGroup(kGroup);
  sender.SetActive(true);
  TReaders readers;
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
  r.MinFps = readers.Finish(N);
  sender.SetActive(false);
  return r;
}

TResult RunGst(const std::string& Avi, int N) {
  const uint16_t port = FreePort();
  const pid_t gst = fork();
  if (gst == 0) {
    const std::string loc = "location=" + Avi, p = "port=" + std::to_string(port);
    execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "filesrc", loc.c_str(), "!", "avidemux", "!", "tcpserversink",
           "sync=true", "host=127.0.0.1", p.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  TReaders readers;
  TResult r;
  if (gst > 0 && readers.Start("raw", port, N)) {
    const double cpu0 = kzbench::KzProcessCpuSeconds(gst);
    std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS - 0.1));
    r.Cpu = kzbench::KzProcessCpuSeconds(gst) - cpu0;
    r.RssKiB = RssKiB(gst);
    r.MinFps = readers.Finish(N);
  }
  if (gst > 0) {
    kill(gst, SIGINT);
    waitpid(gst, nullptr, 0);
  }
  return r;
}

bool MakeAvi(const std::vector<std::vector<uint8_t>>& Jpegs, const std::string& Dir, std::string& Avi) {
  std::filesystem::create_directories(Dir);
  for (size_t i = 0; i < Jpegs.size(); ++i) {
    std::ofstream f(Dir + "/f" + std::to_string(100 + i) + ".jpg", std::ios::binary);
    f.write(reinterpret_cast<const char*>(Jpegs[i].data()), static_cast<std::streamsize>(Jpegs[i].size()));
  }
  Avi = Dir + "/clip.avi";
  const std::string cmd = "ffmpeg -v error -y -stream_loop 29 -framerate 25 -start_number 100 -i " + Dir +
                          "/f%03d.jpg -c:v copy -f avi " + Avi;
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--readers") return Readers(argv[2], uint16_t(std::atoi(argv[3])), std::atoi(argv[4]));
  SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  const std::string dir = "/tmp/kz-relay-bench-" + std::to_string(getpid());
  const auto jpegs = MakeJpegs();
  std::string avi;
  const bool anchor = std::system("gst-launch-1.0 --version >/dev/null 2>&1") == 0 && MakeAvi(jpegs, dir, avi);
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
