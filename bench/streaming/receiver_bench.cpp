// TKzCamSender to TKzCamReceiver on loopback, TCP push, 25 fps of JPEG frames at
// 640x480 and 1920x1080: the delay from a frame's send to its display by
// the receiver (frame number read back from the pixels, VideoLatency 0),
// p50 and p99, against one frame interval; and the CPU of both ends
// together (getrusage) against Debian's ffmpeg sending the same JPEG frames
// (-re, 25 fps) as mpjpeg over TCP to a second ffmpeg that decodes them.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFps = 25;
constexpr int kFrames = 100;  // four seconds
constexpr double kIntervalMs = 1000.0 / kFps;

// Frame number -> when it was sent; the delays of the frames shown.
class TDelays : public IKzCamViewConsumer {
public:
  explicit TDelays(std::vector<Clock::time_point>& Sent) : FSent(Sent) {}
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& Frame, bool, uint16_t, const TGUID&) override {
    const auto now = Clock::now();
    const int64_t n = kzcamsim::KzSimReadStamp(Frame);
    std::lock_guard<std::mutex> g(Lock);
    ++Shown;
    if (n < 0 || n >= static_cast<int64_t>(FSent.size())) return;
    Ms.push_back(std::chrono::duration<double, std::milli>(now - FSent[static_cast<size_t>(n)]).count());
  }
  std::mutex Lock;
  std::vector<double> Ms;
  size_t Shown = 0;  // stamp read or not

private:
  std::vector<Clock::time_point>& FSent;
};

long MinorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

double Percentile(std::vector<double> V, double P) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  return V[std::min(V.size() - 1, static_cast<size_t>(P * static_cast<double>(V.size())))];
}

std::vector<std::vector<uint8_t>> MakeFrames(int W, int H) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < kFrames; ++i) {
    TKzMBitmap b;
    kzcamsim::KzSimDrawFrame(b, W, H, static_cast<uint32_t>(i), 0);
    TMemoryStream s;
    KzCodecEncodeJPEG(b, s, 80);
    frames.emplace_back(s.Memory(), s.Memory() + s.Size());
  }
  return frames;
}

// Ours: a TKzCamSender given the frames at 25 fps, pushing to a receiver.
void RunOurs(const std::string& Name, const std::vector<std::vector<uint8_t>>& Frames) {
  std::vector<Clock::time_point> sent(Frames.size());
  TDelays delays(sent);
  TKzCamReceiver receiver(nullptr);
  receiver.SetProtocol(TKzProtocol::kzpTCP);
  receiver.SetPort(0);
  receiver.SetVideoLatency(0);
  receiver.RegisterCamView(&delays);
  receiver.SetActive(true);
  PumpUntil([&] { return receiver.ListeningPort() != 0; }, 5000);
  const double cpu0 = kzbench::CpuSeconds();
  const long faults0 = MinorFaults();
  std::atomic<bool> done{false};
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpTCP);
  sender.SetBufferSize(65536);
  sender.SetReceiverHost("127.0.0.1");
  sender.SetReceiverPort(receiver.ListeningPort());
  sender.SetGUIDFrom(GUIDToStringA(KzCreateGUID()));
  sender.SetActive(true);
  std::thread feeder([&] {
    const auto start = Clock::now();
    for (size_t i = 0; i < Frames.size(); ++i) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<int64_t>(i * kIntervalMs * 1000)));
      std::vector<uint8_t> framed;
      KzAppendFramedImage(framed, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), Frames[i].data(),
                          static_cast<uint32_t>(Frames[i].size()), static_cast<int64_t>(i * kIntervalMs), 40);
      TMemoryStream payload;
      payload.Write(framed.data(), static_cast<int64_t>(framed.size()));
      sent[i] = Clock::now();
      sender.SendVideoStream(0, TKzVideoInfo{}, payload, 0);
    }
    done = true;
  });
  PumpUntil([&] { return done.load(); }, 60000);
  feeder.join();
  PumpUntil([&] {
    std::lock_guard<std::mutex> g(delays.Lock);
    return delays.Ms.size() >= Frames.size();
  }, 2000);
  const double cpu = kzbench::CpuSeconds() - cpu0;
  const long faults = MinorFaults() - faults0;
  sender.SetActive(false);
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&delays);
  std::lock_guard<std::mutex> g(delays.Lock);
  const double p50 = Percentile(delays.Ms, 0.5), p99 = Percentile(delays.Ms, 0.99);
  std::printf("%-10s ours: %zu shown, %zu/%zu frames read back, delay p50 %.1f ms p99 %.1f ms, CPU %.3f s, %ld page faults\n",
              Name.c_str(), delays.Shown, delays.Ms.size(), Frames.size(), p50, p99, cpu, faults);
  kzbench::Cost(Name + "/delay p50 vs frame interval", p50, kIntervalMs, "ms");
  kzbench::Cost(Name + "/delay p99 vs frame interval", p99, kIntervalMs, "ms");
  kzbench::Ours(Name + "/cpu both ends", cpu, "s");
}

// The anchor: ffmpeg -re sends the same frames as mpjpeg to a decoding ffmpeg.
void RunAnchor(const std::string& Name, const std::vector<std::vector<uint8_t>>& Frames) {
  const std::string file = "/tmp/kzrecv-bench-" + std::to_string(getpid()) + ".mjpeg";
  {
    std::ofstream f(file, std::ios::binary);
    for (const auto& j : Frames) f.write(reinterpret_cast<const char*>(j.data()), static_cast<std::streamsize>(j.size()));
  }
  TKzSocket probe = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const std::string port = std::to_string(PlatformSocketLocalPort(probe));
  PlatformCloseSocket(probe);
  const std::string cmd =
      "ffmpeg -nostdin -v fatal -f mpjpeg -i 'tcp://127.0.0.1:" + port + "?listen=1' -f null - & sleep 0.5; " +
      "ffmpeg -nostdin -v error -re -f mjpeg -framerate 25 -i " + file + " -c copy -f mpjpeg tcp://127.0.0.1:" + port +
      "; wait";
  const double cpu = kzbench::CommandCpuSeconds(cmd);
  std::remove(file.c_str());
  if (cpu < 0) {
    kzbench::MissingAnchor(Name + "/cpu both ends", "ffmpeg could not send or receive mpjpeg");
    return;
  }
  std::printf("%-10s ffmpeg pair: CPU %.3f s\n", Name.c_str(), cpu);
  kzbench::Anchor(Name + "/cpu both ends", cpu);
}

}  // namespace

int main() {
  SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  for (auto [w, h, name] : {std::tuple{640, 480, "640x480"}, std::tuple{1920, 1080, "1920x1080"}}) {
    const auto frames = MakeFrames(w, h);
    RunOurs(name, frames);
    RunAnchor(name, frames);
  }
  KzMessagesShutdown();
  return kzbench::Finish();
}
