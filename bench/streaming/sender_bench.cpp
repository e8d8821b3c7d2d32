// One camera's JPEG frames (640x480 and 1920x1080 at 25 fps) served to 1,
// 10 and 50 receivers on loopback over TCP: our sender in the pull topology
// against GStreamer's tcpserversink (gst-launch-1.0 filesrc ! avidemux !
// tcpserversink sync=true, on an MJPEG AVI that ffmpeg made from the same
// JPEG frames), in the same run. The receivers run in a second process (this
// program again, with --readers) and count the frames each one got.
//
// Reported: the sending side's CPU per added receiver (between 1 and 50
// receivers, ms of CPU per second) and the frames per second the slowest of
// 50 receivers got.
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
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindowS = 4;
constexpr int kFps = 25;
constexpr int kDistinct = 25;  // frames made, sent round and round
const int kReceivers[] = {1, 10, 50};

// ---- The receivers (second process)

TKzSocket ConnectRetry(uint16_t Port) {
  for (int i = 0; i < 200; ++i) {
    TKzSocket s = KzMConnectTimed(PlatformLookupIPv4("127.0.0.1"), Port, 1000);
    if (s != KZ_INVALID_SOCKET) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return KZ_INVALID_SOCKET;
}

// Reads the answer to one request, counting its payloads by their header
// packs and skipping their bytes (a reader as lean as the anchor's, which
// only looks for image starts: both share the machine with the server they
// measure). The frames, or -1 when the connection failed or sent something else.
int64_t ReadAnswer(TKzSocket S, std::vector<uint8_t>& Buf) {
  const auto exactly = [&](uint8_t* To, size_t N) {
    return KzMRecvNonBlock(S, To, static_cast<int64_t>(N), true, 2000) == static_cast<int64_t>(N);
  };
  uint8_t pack[TKzSessionPack::WireSize], head[TKzHeaderPack::WireSize];
  if (!exactly(pack, sizeof pack)) return -1;
  const TKzSessionPack begin = KzSessionPackFromBytes(pack);
  if (begin.MARKER == MARKER_SESSION_NODATA) return 0;
  if (begin.MARKER != MARKER_SESSION_BEGIN) return -1;
  int64_t frames = 0;
  for (int64_t left = begin.DataLen; left > 0; ++frames) {
    if (!exactly(head, sizeof head)) return -1;
    int64_t len = KzHeaderPackFromBytes(head).LenPack;
    left -= static_cast<int64_t>(sizeof head) + len;
    while (len > 0) {
      const int64_t n = KzMRecvNonBlock(S, Buf.data(), std::min<int64_t>(len, static_cast<int64_t>(Buf.size())), false, 2000);
      if (n <= 0) return -1;
      len -= n;
    }
  }
  return exactly(pack, sizeof pack) ? frames : -1;  // the end pack
}

// Pulls video, counting the frames of every answer.
void PullReader(TKzSocket S, const std::atomic<bool>& Stop, std::atomic<int64_t>& Frames) {
  std::vector<uint8_t> buf(1 << 18);
  for (bool first = true; !Stop; first = false) {
    uint8_t r[TKzChannelRequest::WireSize];
    KzChannelRequestToBytes({first ? "CLRVD" : "VDGET", {}, 0}, r);
    if (KzSendAll(S, r, sizeof r) < 0) return;
    const int64_t n = ReadAnswer(S, buf);
    if (n < 0 || Stop) return;
    Frames += n;
    // Nothing new: ask again in 20 ms (as the socket tests' pulling receiver does).
    if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Reads a plain JPEG stream, counting start-of-image markers (FF D8 never
// occurs inside the entropy-coded data).
void RawReader(TKzSocket S, const std::atomic<bool>& Stop, std::atomic<int64_t>& Frames) {
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

// --readers pull|raw PORT N: connects N readers, lets them read for the
// window and prints each one's frame count.
int Readers(const std::string& Kind, uint16_t Port, int N) {
  std::vector<TKzSocket> socks;
  for (int i = 0; i < N; ++i) socks.push_back(ConnectRetry(Port));
  std::atomic<bool> stop{false};
  std::vector<std::atomic<int64_t>> frames(N);
  std::vector<std::thread> threads;
  std::printf("ready\n");
  std::fflush(stdout);
  for (int i = 0; i < N; ++i)
    threads.emplace_back([&, i] { (Kind == "pull" ? PullReader : RawReader)(socks[i], stop, frames[i]); });
  std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS));
  stop = true;
  for (TKzSocket& s : socks) PlatformShutdown(s);
  for (std::thread& t : threads) t.join();
  for (TKzSocket& s : socks) PlatformCloseSocket(s);
  for (auto& f : frames) std::printf("%lld\n", static_cast<long long>(f.load()));
  return 0;
}

// Starts this program with --readers; its stdout comes back through a pipe.
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
      execl("/proc/self/exe", "sender_bench", "--readers", Kind.c_str(), port.c_str(), n.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fd[1]);
    Out = fdopen(fd[0], "r");
    char line[64] = {};
    return Pid > 0 && std::fgets(line, sizeof line, Out) && std::strncmp(line, "ready", 5) == 0;
  }
  // The slowest reader's frames per second, at most the source's rate (a
  // reader may get frames queued before the window in it); -1 when they did not report.
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

// ---- The frames

std::vector<std::vector<uint8_t>> MakeJpegs(int32_t W, int32_t H) {
  std::vector<std::vector<uint8_t>> out;
  for (int f = 0; f < kDistinct; ++f) {
    TKzMBitmap b(W, H);
    for (int32_t r = 0; r < H; ++r)
      for (int32_t c = 0; c < W; ++c)
        b.ScanLine(r)[c] = 0xFF000000u | ((c + f * 8) & 255) << 16 | ((r * 255 / H) & 255) << 8 |
                           (((c / 32 + r / 32 + f) % 2) ? 190 : 50);
    TMemoryStream s;
    KzCodecEncodeJPEG(b, s, 80);
    out.emplace_back(s.Memory(), s.Memory() + s.Size());
  }
  return out;
}

struct TResult {
  double Cpu = -1;  // sending side, CPU seconds over the window
  double MinFps = -1;
};

TResult RunOurs(const std::vector<std::vector<uint8_t>>& Jpegs, int N) {
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpTCP);
  sender.SetBufferSize(65536);
  sender.SetTCPConnectionType(TKzTCPConnectionType::kztcpReceiverToSender);
  sender.SetActive(true);
  TReaders readers;
  if (!readers.Start("pull", sender.ListeningPort(), N)) return {};
  const double cpu0 = kzbench::CpuSeconds();
  const auto start = Clock::now();
  int i = 0;
  for (auto next = start; next < start + std::chrono::duration<double>(kWindowS + 0.2); ++i) {
    std::vector<uint8_t> frame;
    const std::vector<uint8_t>& j = Jpegs[static_cast<size_t>(i) % Jpegs.size()];
    KzAppendFramedImage(frame, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), j.data(),
                        static_cast<uint32_t>(j.size()), sender.GetTickCountSinceStart(), 1000 / kFps);
    TMemoryStream s;
    s.Write(frame.data(), static_cast<int64_t>(frame.size()));
    sender.SendVideoStream(0, TKzVideoInfo{}, s, 0);
    next += std::chrono::milliseconds(1000 / kFps);
    std::this_thread::sleep_until(next);
  }
  TResult r;
  r.Cpu = (kzbench::CpuSeconds() - cpu0) * kWindowS / (kWindowS + 0.2);
  r.MinFps = readers.Finish(N);
  sender.SetActive(false);
  return r;
}

TResult RunGst(const std::string& Avi, int N, uint16_t Port) {
  const pid_t gst = fork();
  if (gst == 0) {
    const std::string loc = "location=" + Avi, port = "port=" + std::to_string(Port);
    execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "filesrc", loc.c_str(), "!", "avidemux", "!", "tcpserversink",
           "sync=true", "host=127.0.0.1", port.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  TReaders readers;
  TResult r;
  if (gst > 0 && readers.Start("raw", Port, N)) r.MinFps = readers.Finish(N);
  rusage u{};
  // The CPU of the whole run; its start-up cancels out in the per-receiver difference.
  kill(gst, SIGINT);
  int status = 0;
  if (gst > 0 && wait4(gst, &status, 0, &u) == gst) r.Cpu = kzbench::CpuSecondsOf(u);
  return r;
}

uint16_t FreePort() {
  TKzSocket s = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t p = PlatformSocketLocalPort(s);
  PlatformCloseSocket(s);
  return p;
}

// The MJPEG AVI the anchor plays: the frames over and over for 30 s.
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
  const std::string dir = "/tmp/kz-sender-bench-" + std::to_string(getpid());
  const bool haveGst = std::system("gst-launch-1.0 --version >/dev/null 2>&1") == 0;
  for (auto [w, h, tag] : {std::tuple{640, 480, "640x480"}, std::tuple{1920, 1080, "1080p"}}) {
    const auto jpegs = MakeJpegs(w, h);
    std::string avi;
    const bool anchor = haveGst && MakeAvi(jpegs, dir + "/" + tag, avi);
    TResult ours[3], gst[3];
    for (int k = 0; k < 3; ++k) {
      ours[k] = RunOurs(jpegs, kReceivers[k]);
      if (anchor) gst[k] = RunGst(avi, kReceivers[k], FreePort());
      std::printf("%-8s %2d receivers: ours %6.1f CPU ms/s, slowest %5.1f fps | tcpserversink %6.1f CPU ms/s, "
                  "slowest %5.1f fps\n",
                  tag, kReceivers[k], ours[k].Cpu * 1000 / kWindowS, ours[k].MinFps,
                  gst[k].Cpu * 1000 / kWindowS, gst[k].MinFps);
    }
    const std::string name = std::string("sender_pull_") + tag;
    const double oursAdded = (ours[2].Cpu - ours[0].Cpu) * 1000 / kWindowS / 49;
    kzbench::Ours(name + "/cpu_per_added_receiver", oursAdded, "CPU ms/s");
    kzbench::Ours(name + "/slowest_of_50", ours[2].MinFps, "fps", true);
    if (!anchor || gst[0].Cpu < 0 || gst[2].Cpu < 0 || gst[2].MinFps < 0) {
      kzbench::MissingAnchor(name, "gst-launch-1.0 (gstreamer1.0-tools) or ffmpeg did not run");
      continue;
    }
    kzbench::Anchor(name + "/cpu_per_added_receiver", (gst[2].Cpu - gst[0].Cpu) * 1000 / kWindowS / 49);
    kzbench::Anchor(name + "/slowest_of_50", gst[2].MinFps);
  }
  std::filesystem::remove_all(dir);
  KzMessagesShutdown();
  return kzbench::Finish();
}
