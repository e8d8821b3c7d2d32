// What the fan-out benchmarks (sender_bench, relay_bench) share: JPEG
// frames and the MJPEG AVI the GStreamer anchor plays, and the readers,
// which run in a second process (the benchmark again, with --readers) and
// count the frames each one got.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzRecvConnect.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "video/fmxMKzImageCodecs.h"

namespace kzfanout {

inline kz::TKzSocket ConnectRetry(uint16_t Port) {
  for (int i = 0; i < 200; ++i) {
    kz::TKzSocket s = kz::KzMConnectTimed(kz::PlatformLookupIPv4("127.0.0.1"), Port, 1000);
    if (s != kz::KZ_INVALID_SOCKET) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return kz::KZ_INVALID_SOCKET;
}

inline uint16_t FreePort() {
  kz::TKzSocket s = kz::PlatformListenTCP(kz::PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t p = kz::PlatformSocketLocalPort(s);
  kz::PlatformCloseSocket(s);
  return p;
}

// Reads the answer to one request, counting its payloads by their header
// packs and skipping their bytes (a reader as lean as the anchor's, which
// only looks for image starts: both share the machine with the server they
// measure). The frames, or -1 when the connection failed or sent something else.
inline int64_t ReadAnswer(kz::TKzSocket S, std::vector<uint8_t>& Buf) {
  const auto exactly = [&](uint8_t* To, size_t N) {
    return kz::KzMRecvNonBlock(S, To, static_cast<int64_t>(N), true, 2000) == static_cast<int64_t>(N);
  };
  uint8_t pack[kz::TKzSessionPack::WireSize], head[kz::TKzHeaderPack::WireSize];
  if (!exactly(pack, sizeof pack)) return -1;
  const kz::TKzSessionPack begin = kz::KzSessionPackFromBytes(pack);
  if (begin.MARKER == kz::MARKER_SESSION_NODATA) return 0;
  if (begin.MARKER != kz::MARKER_SESSION_BEGIN) return -1;
  int64_t frames = 0;
  for (int64_t left = begin.DataLen; left > 0; ++frames) {
    if (!exactly(head, sizeof head)) return -1;
    int64_t len = kz::KzHeaderPackFromBytes(head).LenPack;
    left -= static_cast<int64_t>(sizeof head) + len;
    while (len > 0) {
      const int64_t n =
          kz::KzMRecvNonBlock(S, Buf.data(), std::min<int64_t>(len, static_cast<int64_t>(Buf.size())), false, 2000);
      if (n <= 0) return -1;
      len -= n;
    }
  }
  return exactly(pack, sizeof pack) ? frames : -1;  // the end pack
}

// One reader's frames in the window. The first delivery in it is not
// counted, the frames of the later ones are, over the time from the first
// to the last: a pulled receiver gets its frames in batches, a pushed one
// frame by frame, and both are measured from delivery to delivery (a count
// over the window alone would cut a batch at either end). One reader
// thread adds; read once the readers have ended.
struct TFrameCount {
  const std::atomic<int>* Phase = nullptr;  // 0 settling, 1 the window, 2 after it
  int64_t Frames = 0;
  std::chrono::steady_clock::time_point First, Last;
  bool Started = false;
  void Add(int64_t N) {
    if (N <= 0 || *Phase != 1) return;
    const auto now = std::chrono::steady_clock::now();
    if (!Started) {
      Started = true, First = Last = now;
      return;
    }
    Frames += N, Last = now;
  }
  double Seconds() const { return std::chrono::duration<double>(Last - First).count(); }
};

// The receiver's pause after an empty video answer.
inline uint32_t ReceiverPollMs() { return kz::KzPollInterval(kz::DATA_TYPE_VIDEO, 1); }

// Pulls video as Me, the first request First (then "VDGET"), counting the
// frames of every answer: after an answer with frames it asks again at
// once, after an empty one when IntervalMs have passed since that request
// (as the receiver does with ReceiverPollMs()).
inline void PullReader(kz::TKzSocket S, const kz::TGUID& Me, const char* First, const std::atomic<bool>& Stop,
                       TFrameCount& Frames, uint32_t IntervalMs) {
  std::vector<uint8_t> buf(1 << 18);
  const auto interval = std::chrono::milliseconds(IntervalMs);
  for (bool first = true; !Stop; first = false) {
    uint8_t r[kz::TKzChannelRequest::WireSize];
    kz::KzChannelRequestToBytes({first ? First : "VDGET", Me, 0}, r);
    const auto asked = std::chrono::steady_clock::now();
    if (kz::KzSendAll(S, r, sizeof r) < 0) return;
    const int64_t n = ReadAnswer(S, buf);
    if (n < 0 || Stop) return;
    Frames.Add(n);
    if (n == 0) std::this_thread::sleep_until(asked + interval);
  }
}

// Reads a plain JPEG stream, counting start-of-image markers (FF D8 never
// occurs inside the entropy-coded data). It jumps from one FF to the next
// (memchr), which costs about what skipping the payloads costs the pull
// reader: a byte-by-byte scan took the anchor's readers far more CPU than ours.
inline void RawReader(kz::TKzSocket S, const std::atomic<bool>& Stop, TFrameCount& Frames) {
  std::vector<uint8_t> buf(1 << 18);
  bool lastFF = false;
  while (!Stop) {
    const int64_t n = kz::KzMRecvNonBlock(S, buf.data(), static_cast<int64_t>(buf.size()), false, 2000);
    if (n <= 0) return;
    const uint8_t* const end = buf.data() + n;
    int64_t k = lastFF && buf[0] == 0xD8;
    for (const uint8_t* p = buf.data(); (p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, size_t(end - p))));) {
      if (++p == end) break;
      k += *p == 0xD8;
    }
    lastFF = end[-1] == 0xFF;
    Frames.Add(k);
  }
}

// The readers' process: Read(I, socket) on every socket in a thread of its
// own, "ready" after SettleMs, the window, then each one's frames in the
// window and the seconds they came in (TFrameCount).
inline int RunReaders(std::vector<kz::TKzSocket> Socks, double WindowS, int SettleMs,
                      const std::function<void(size_t, kz::TKzSocket, const std::atomic<bool>&, TFrameCount&)>& Read) {
  std::atomic<bool> stop{false};
  std::atomic<int> phase{0};
  std::vector<TFrameCount> frames(Socks.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < Socks.size(); ++i) {
    frames[i].Phase = &phase;
    threads.emplace_back([&, i] { Read(i, Socks[i], stop, frames[i]); });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(SettleMs));
  phase = 1;
  std::printf("ready\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::duration<double>(WindowS));
  phase = 2;
  stop = true;
  for (kz::TKzSocket& s : Socks) kz::PlatformShutdown(s);
  for (std::thread& t : threads) t.join();
  for (kz::TKzSocket& s : Socks) kz::PlatformCloseSocket(s);
  for (const TFrameCount& f : frames) std::printf("%lld %.6f\n", static_cast<long long>(f.Frames), f.Seconds());
  return 0;
}

// Starts this program with --readers KIND PORT N; its stdout comes back through a pipe.
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
      execl("/proc/self/exe", "bench", "--readers", Kind.c_str(), port.c_str(), n.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fd[1]);
    Out = fdopen(fd[0], "r");
    char line[64] = {};
    return Pid > 0 && std::fgets(line, sizeof line, Out) && std::strncmp(line, "ready", 5) == 0;
  }
  std::vector<long long> Counts;  // each reader's frames in the window, after Finish
  // The slowest reader's frames per second, at most Fps (one frame more may
  // fall in its span); -1 when they did not report.
  double Finish(int N, double /*WindowS*/, int Fps) {
    Counts.clear();
    double slowest = Fps;
    long long frames = 0;
    double seconds = 0;
    while (static_cast<int>(Counts.size()) < N && std::fscanf(Out, "%lld %lf", &frames, &seconds) == 2) {
      Counts.push_back(frames);
      slowest = std::min(slowest, seconds > 0 ? double(frames) / seconds : 0.0);
    }
    std::fclose(Out);
    waitpid(Pid, nullptr, 0);
    return static_cast<int>(Counts.size()) < N ? -1 : slowest;
  }
};

// "min/median/max" of Values.
template <typename T>
std::string Spread(std::vector<T> Values) {
  if (Values.empty()) return "-";
  std::sort(Values.begin(), Values.end());
  return std::to_string(Values.front()) + "/" + std::to_string(Values[Values.size() / 2]) + "/" +
         std::to_string(Values.back());
}

// Count distinct W x H JPEG frames, sent round and round.
inline std::vector<std::vector<uint8_t>> MakeJpegs(int32_t W, int32_t H, int Count) {
  std::vector<std::vector<uint8_t>> out;
  for (int f = 0; f < Count; ++f) {
    kz::TKzMBitmap b(W, H);
    for (int32_t r = 0; r < H; ++r)
      for (int32_t c = 0; c < W; ++c)
        b.ScanLine(r)[c] = 0xFF000000u | ((c + f * 8) & 255) << 16 | ((r * 255 / H) & 255) << 8 |
                           (((c / 32 + r / 32 + f) % 2) ? 190 : 50);
    kz::TMemoryStream s;
    kz::KzCodecEncodeJPEG(b, s, 80);
    out.emplace_back(s.Memory(), s.Memory() + s.Size());
  }
  return out;
}

// The MJPEG AVI the anchor plays: the frames over and over for 30 s at 25 fps.
inline bool MakeAvi(const std::vector<std::vector<uint8_t>>& Jpegs, const std::string& Dir, std::string& Avi) {
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

}  // namespace kzfanout
