// One camera's JPEG frames (640x480 and 1920x1080 at 25 fps) served to 1,
// 10 and 50 receivers on loopback over TCP: our sender in the pull topology
// against GStreamer's tcpserversink (gst-launch-1.0 filesrc ! avidemux !
// tcpserversink sync=true, on an MJPEG AVI that ffmpeg made from the same
// JPEG frames), in the same run. The receivers run in a second process (this
// program again, with --readers) and count the frames each one got; ours
// ask as often as the receiver asks. Both servers are measured running: the
// camera starts before the readers come, the readers settle a second, and
// frames and CPU are counted in the window after that, each reader's rate
// from its first to its last delivery in it (from a cold start our readers
// lost the frames still on their way at the window's end, which the
// anchor's had made up for at its start).
//
// Reported: the sending side's CPU per added receiver (between 1 and 50
// receivers, ms of CPU per second) and the frames per second the slowest of
// 50 receivers got; for 10 and 50 receivers also what each pulled
// connection went through (frames offered, sent, dropped by its queue,
// answers, short writes) and the frames each reader got, as min/median/max.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "bench/streaming/kzfanoutbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "video/fmxMKzFrameContainer.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindowS = 8;  // long: a pulled receiver gets its frames in batches
constexpr double kCpuS = kWindowS - 0.1;  // CPU is measured within the window
constexpr int kSettleMs = 1000;
constexpr int kFps = 25;
constexpr int kDistinct = 25;  // frames made, sent round and round
const int kReceivers[] = {1, 10, 50};

// --readers pull|raw PORT N: N readers, then each one's frame count. Both
// kinds settle first, so that both servers are measured running; pulled
// readers ask as often as the receiver asks.
int Readers(const std::string& Kind, uint16_t Port, int N) {
  std::vector<TKzSocket> socks;
  for (int i = 0; i < N; ++i) socks.push_back(kzfanout::ConnectRetry(Port));
  return kzfanout::RunReaders(socks, kWindowS, kSettleMs, [&Kind](size_t, TKzSocket S, auto& Stop, auto& Frames) {
    if (Kind == "pull") {
      kzfanout::PullReader(S, TGUID{}, "CLRVD", Stop, Frames, kzfanout::ReceiverPollMs());
    } else {
      kzfanout::RawReader(S, Stop, Frames);
    }
  });
}

struct TResult {
  double Cpu = -1;  // sending side, CPU seconds over the window
  double MinFps = -1;
  std::string Detail;  // what each receiver went through (10 and 50 receivers)
};

// Each pulled connection's counts at the window's end, as min/median/max.
std::string PullStatsText(const std::vector<TKzPullStats>& Stats, int Made, const std::vector<long long>& Got) {
  std::vector<uint64_t> offered, sent, dropped, answers, empty, shortWrites;
  for (const TKzPullStats& p : Stats) {
    offered.push_back(p.Offered), sent.push_back(p.Sent), dropped.push_back(p.Dropped);
    answers.push_back(p.Answers), empty.push_back(p.EmptyAnswers), shortWrites.push_back(p.ShortWrites);
  }
  char text[512];
  std::snprintf(text, sizeof text,
              "  ours: %d frames made; per receiver (min/median/max): got in window %s, offered %s, sent %s, "
              "dropped %s, answers %s (empty %s), short writes %s\n",
              Made, kzfanout::Spread(Got).c_str(), kzfanout::Spread(offered).c_str(), kzfanout::Spread(sent).c_str(),
              kzfanout::Spread(dropped).c_str(), kzfanout::Spread(answers).c_str(), kzfanout::Spread(empty).c_str(),
              kzfanout::Spread(shortWrites).c_str());
  return text;
}

TResult RunOurs(const std::vector<std::vector<uint8_t>>& Jpegs, int N) {
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpTCP);
  sender.SetBufferSize(65536);
  sender.SetTCPConnectionType(TKzTCPConnectionType::kztcpReceiverToSender);
  sender.SetActive(true);
  // The camera runs from before the readers come until they are gone.
  std::atomic<bool> stop{false};
  std::atomic<int> made{0};
  std::thread camera([&] {
    for (auto next = Clock::now(); !stop; ++made) {
      std::vector<uint8_t> frame;
      const std::vector<uint8_t>& j = Jpegs[static_cast<size_t>(made) % Jpegs.size()];
      KzAppendFramedImage(frame, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), j.data(),
                          static_cast<uint32_t>(j.size()), sender.GetTickCountSinceStart(), 1000 / kFps);
      TMemoryStream s;
      s.Write(frame.data(), static_cast<int64_t>(frame.size()));
      sender.SendVideoStream(0, TKzVideoInfo{}, s, 0);
      next += std::chrono::milliseconds(1000 / kFps);
      std::this_thread::sleep_until(next);
    }
  });
  TResult r;
  kzfanout::TReaders readers;
  if (readers.Start("pull", sender.ListeningPort(), N)) {
    const double cpu0 = kzbench::CpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS - 0.1));
    r.Cpu = kzbench::CpuSeconds() - cpu0;
    const std::vector<TKzPullStats> stats = sender.PullStats();  // before the readers go
    r.MinFps = readers.Finish(N, kWindowS, kFps);
    if (N > 1) r.Detail = PullStatsText(stats, made, readers.Counts);
  }
  stop = true;
  camera.join();
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
  kzfanout::TReaders readers;
  TResult r;
  if (gst > 0 && readers.Start("raw", Port, N)) {
    const double cpu0 = kzbench::KzProcessCpuSeconds(gst);
    std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS - 0.1));
    r.Cpu = kzbench::KzProcessCpuSeconds(gst) - cpu0;
    r.MinFps = readers.Finish(N, kWindowS, kFps);
    if (N > 1) r.Detail = "  tcpserversink: per receiver got in window " + kzfanout::Spread(readers.Counts) + "\n";
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
  const std::string dir = "/tmp/kz-sender-bench-" + std::to_string(getpid());
  const bool haveGst = std::system("gst-launch-1.0 --version >/dev/null 2>&1") == 0;
  for (auto [w, h, tag] : {std::tuple{640, 480, "640x480"}, std::tuple{1920, 1080, "1080p"}}) {
    const auto jpegs = kzfanout::MakeJpegs(w, h, kDistinct);
    std::printf("%-8s frames of about %zu KB\n", tag, jpegs[0].size() >> 10);
    std::string avi;
    const bool anchor = haveGst && kzfanout::MakeAvi(jpegs, dir + "/" + tag, avi);
    TResult ours[3], gst[3];
    for (int k = 0; k < 3; ++k) {
      ours[k] = RunOurs(jpegs, kReceivers[k]);
      if (anchor) gst[k] = RunGst(avi, kReceivers[k], kzfanout::FreePort());
      std::printf("%-8s %2d receivers: ours %6.1f CPU ms/s, slowest %5.1f fps | tcpserversink %6.1f CPU ms/s, "
                  "slowest %5.1f fps\n",
                  tag, kReceivers[k], ours[k].Cpu * 1000 / kCpuS, ours[k].MinFps, gst[k].Cpu * 1000 / kCpuS,
                  gst[k].MinFps);
      std::printf("%s%s", ours[k].Detail.c_str(), gst[k].Detail.c_str());
    }
    const std::string name = std::string("sender_pull_") + tag;
    const double oursAdded = (ours[2].Cpu - ours[0].Cpu) * 1000 / kCpuS / 49;
    kzbench::Ours(name + "/cpu_per_added_receiver", oursAdded, "CPU ms/s");
    kzbench::Ours(name + "/slowest_of_50", ours[2].MinFps, "fps", true);
    if (!anchor || gst[0].Cpu < 0 || gst[2].Cpu < 0 || gst[2].MinFps < 0) {
      kzbench::MissingAnchor(name, "gst-launch-1.0 (gstreamer1.0-tools) or ffmpeg did not run");
      continue;
    }
    kzbench::Anchor(name + "/cpu_per_added_receiver", (gst[2].Cpu - gst[0].Cpu) * 1000 / kCpuS / 49);
    kzbench::Anchor(name + "/slowest_of_50", gst[2].MinFps);
  }
  std::filesystem::remove_all(dir);
  KzMessagesShutdown();
  return kzbench::Finish();
}
