// The event recorder against ffmpeg's segment muxer, side by side in the
// same run: 16 synthetic cameras for each side (one kzcamsim process per
// side, 640x480 Motion-JPEG at 25 fps, the disc moving 3 s of every 20)
// recorded continuously in 10 s segments with motion clips on, in this
// process (TKzCamera + TKzEventRecorder each), against 16
// "ffmpeg -i URL -c copy -f segment -segment_time 10" processes.
//
// Both sides run at the same time, so the load of the machine is the same
// for both. CPU is taken over a window after the start, with the frames
// each side took in that window (ours: the recorders' packet count;
// ffmpeg: its -progress frame count), and given per camera-hour of 90,000
// frames (25 fps), so a side that the loaded machine lets take fewer
// frames is not counted cheaper for it. Frames and bytes are taken over
// the whole run, from the finished files (ffprobe counts the frames; a
// muxer holding clusters back cannot skew them) and from the frames each
// side's simulator sent. Segments are compared with segments; our motion
// clips are extra bytes by design and are printed on their own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"
#include "camera/fmxMKzCamera.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "recorder/fmxMKzEventRecorder.h"

using namespace kz;

namespace {

constexpr int kCameras = 16;
constexpr int kWarmUpMs = 6000, kWindowMs = 20000, kTailMs = 4000;
constexpr double kFramesPerCamHour = 25 * 3600;

struct TStored {
  int64_t Files = 0, Frames = 0, Bytes = 0;
};

struct TSide {
  double Cpu = 0;          // CPU seconds over the window
  int64_t Taken = 0;       // frames taken over the window
  int64_t Served = 0;      // frames its simulator sent, over all its cameras
  TStored Segments, Clips;
};

// Frames (ffprobe) and bytes of the finished files under Dir whose names
// contain Kind; other names count when Kind is empty. Side files are left out.
TStored StoredFiles(const std::string& Dir, const std::string& Kind) {
  TStored s;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Dir, ec)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.find(".events") != std::string::npos) continue;
    if (Kind.empty() ? name.find("_clip_") != std::string::npos : name.find(Kind) == std::string::npos) continue;
    FILE* p = popen(("ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets "
                     "-of csv=p=0 '" + e.path().string() + "'").c_str(), "r");
    long n = 0;
    if (p && fscanf(p, "%ld", &n) == 1 && n > 0) s.Frames += n;
    if (p) pclose(p);
    s.Files++;
    s.Bytes += int64_t(e.file_size());
  }
  return s;
}

// Threads of a process now (its /proc status), 0 when it is gone.
int ThreadsOf(pid_t Pid) {
  FILE* f = std::fopen(("/proc/" + std::to_string(Pid) + "/status").c_str(), "r");
  int n = 0;
  char line[256];
  while (f && std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "Threads: %d", &n) == 1) break;
  if (f) std::fclose(f);
  return n;
}

// The one-minute load average: the machine is shared, so each run says how busy it was.
double LoadAverage() {
  double l = 0;
  return getloadavg(&l, 1) == 1 ? l : -1;
}

// Base of Count consecutive loopback ports free right now; 0 when none.
int FreePorts(int Count) {
  for (int base = 20000 + getpid() % 20000; base + Count < 65536; base += 97) {
    int free = 0;
    for (; free < Count; ++free) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(uint16_t(base + free));
      const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(fd);
      if (!ok) break;
    }
    if (free == Count) return base;
  }
  return 0;
}

// A simulator of kCameras cameras from Port on; its URLs.
std::vector<std::string> StartSimulator(kzbench::TChild& Sim, int Port) {
  std::string motion;
  for (int f = 100; f < 25 * 600; f += 500) motion += (motion.empty() ? "" : ",") + std::to_string(f) + "-" + std::to_string(f + 75);
  Sim.Start({kzbench::AppPath("kzcamsim"), "--port", std::to_string(Port), "--ports", std::to_string(kCameras),
             "--motion", motion, "--disc-radius", "150"},
            true);
  std::vector<std::string> urls;
  for (int i = 0; i < kCameras; ++i) urls.push_back("http://127.0.0.1:" + std::to_string(Port + i) + "/video.mjpg");
  return urls;
}

// Stops the simulator; the frames it sent over all its streams (its last
// statistics line).
int64_t StopSimulator(kzbench::TChild& Sim) {
  if (Sim.Pid > 0) kill(Sim.Pid, SIGTERM);  // never kill(-1): a simulator that failed to start has none
  long long rendered = 0, sent = 0;
  char line[512];
  while (Sim.Out && fgets(line, sizeof line, Sim.Out)) {
    if (const char* at = strstr(line, " frames rendered, ")) {
      const char* from = at;
      while (from > line && from[-1] != ' ') --from;
      std::sscanf(from, "%lld frames rendered, %lld sent", &rendered, &sent);
    }
  }
  Sim.Stop();
  return sent;
}

}  // namespace

int main() {
  SetMainThread();
  const std::string name = "event_16cams_cpu_per_cam_hour";
  if (!LoadFFMpegLibraries("")) {
    kzbench::MissingAnchor(name, "FFmpeg libraries: " + LastFFmpegBindError());
    return kzbench::Finish();
  }
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
    kzbench::MissingAnchor(name, "the ffmpeg program is missing");
    return kzbench::Finish();
  }
  const std::string dir = std::filesystem::temp_directory_path() / ("kzevent_bench." + std::to_string(getpid()));
  const int port = FreePorts(2 * kCameras);
  kzbench::TChild simOurs, simTheirs;
  const std::vector<std::string> ourURLs = StartSimulator(simOurs, port);
  const std::vector<std::string> theirURLs = StartSimulator(simTheirs, port + kCameras);
  PumpUntil([] { return false; }, 1000);

  // Both sides start together.
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<TKzCamera>> cams;
  std::vector<std::unique_ptr<TKzEventRecorder>> recs;
  std::vector<std::unique_ptr<kzbench::TChild>> kids;
  std::vector<std::string> progress;
  for (int i = 0; i < kCameras; ++i) {
    cams.push_back(std::make_unique<TKzCamera>(nullptr));
    recs.push_back(std::make_unique<TKzEventRecorder>(nullptr));
    TKzEventRecorder& r = *recs.back();
    r.Mode = TKzEventRecordMode::kzermBoth;
    r.SegmentSec = 10;
    r.MinRegionArea = 60000;
    r.OutputFolder = dir + "/ours/cam" + std::to_string(i);
    r.SetSource(cams.back().get());
    r.SetActive(true);
    cams.back()->SetURL(ourURLs[i]);
    cams.back()->PlayVideoStream();

    const std::string out = dir + "/ffmpeg/ff" + std::to_string(i);
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(dir + "/progress");
    progress.push_back(dir + "/progress/ff" + std::to_string(i));
    kids.push_back(std::make_unique<kzbench::TChild>());
    kids.back()->Start({"ffmpeg", "-v", "error", "-nostdin", "-progress", progress.back(), "-f", "mpjpeg", "-i",
                        theirURLs[i], "-c", "copy", "-f", "segment", "-segment_time", "10", "-reset_timestamps", "1",
                        out + "/seg%04d.mkv"},
                       false);
  }
  auto theirCpu = [&] {
    double s = 0;
    for (auto& k : kids) s += k->Cpu();
    return s;
  };
  auto ourFrames = [&] {
    int64_t n = 0;
    for (auto& r : recs) n += r->Stats().Packets;
    return n;
  };
  auto theirFrames = [&] {
    int64_t n = 0;
    for (const std::string& p : progress) n += kzbench::KzProgressFrames(p);
    return n;
  };
  PumpUntil([] { return false; }, kWarmUpMs);
  TSide ours, theirs;
  int ourThreads = ThreadsOf(getpid()), theirThreads = 0;
  for (auto& k : kids) theirThreads += ThreadsOf(k->Pid);
  const double load0 = LoadAverage();
  const double ours0 = kzbench::CpuSeconds(), theirs0 = theirCpu();
  const int64_t ourFrames0 = ourFrames(), theirFrames0 = theirFrames();
  PumpUntil([] { return false; }, kWindowMs);
  const double load1 = LoadAverage();
  ours.Cpu = kzbench::CpuSeconds() - ours0;
  theirs.Cpu = theirCpu() - theirs0;
  ours.Taken = ourFrames() - ourFrames0;
  theirs.Taken = theirFrames() - theirFrames0;
  PumpUntil([] { return false; }, kTailMs);

  // Both stop together; ffmpeg finishes its files on SIGTERM.
  for (auto& c : cams) c->Abort();
  for (auto& k : kids) k->Stop();
  const double hours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / 3600 * kCameras;
  PumpUntil([&] {
    for (auto& c : cams)
      if (c->IsVideoPlaying()) return false;
    return true;
  }, 10000);
  TKzEventRecorderStats watched;
  for (auto& r : recs) {
    r->SetActive(false);
    watched.MotionFrames += r->Stats().MotionFrames;
    watched.MotionDecodes += r->Stats().MotionDecodes;
  }
  ours.Served = StopSimulator(simOurs);
  theirs.Served = StopSimulator(simTheirs);
  ours.Segments = StoredFiles(dir + "/ours", "_segment_");
  ours.Clips = StoredFiles(dir + "/ours", "_clip_");
  theirs.Segments = StoredFiles(dir + "/ffmpeg", "");
  const bool measured = ours.Taken > 0 && theirs.Taken > 0 && ours.Segments.Frames > 0 && theirs.Segments.Frames > 0;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);

  for (const auto& [side, s] : {std::pair{"ours", ours}, {"ffmpeg", theirs}})
    std::printf("%-6s served %lld frames, segments %lld files %lld frames %.1f MB, clips %lld files %lld frames %.1f MB; "
                "window %.2f cpu_s for %lld frames\n",
                side, (long long)s.Served, (long long)s.Segments.Files, (long long)s.Segments.Frames,
                s.Segments.Bytes / 1e6, (long long)s.Clips.Files, (long long)s.Clips.Frames, s.Clips.Bytes / 1e6, s.Cpu,
                (long long)s.Taken);
  std::printf("ours   counts this whole process: 1 process, %d threads (%d cameras: fetch, pipeline and writing "
              "threads; the main thread)\n"
              "ffmpeg counts its %d processes, %d threads in all; neither side counts the simulators\n"
              "window %d s after %d s of warm-up, CPU user+system; load average %.1f at its start, %.1f at its end\n",
              ourThreads, kCameras, kCameras, theirThreads, kWindowMs / 1000, kWarmUpMs / 1000, load0, load1);
  std::printf("ours   motion: %lld frames moving, %lld decodes to watch it (%.0f per camera-hour)\n",
              (long long)watched.MotionFrames, (long long)watched.MotionDecodes, watched.MotionDecodes / hours);
  if (!measured) {
    kzbench::MissingAnchor(name, "a side took or stored no frames");
    return kzbench::Finish();
  }
  kzbench::Cost(name, ours.Cpu / double(ours.Taken) * kFramesPerCamHour,
                theirs.Cpu / double(theirs.Taken) * kFramesPerCamHour, "cpu_s");
  // Segments against segments: frames and bytes per camera-hour, and per frame.
  kzbench::Rate("event_16cams_segment_frames_per_cam_hour", ours.Segments.Frames / hours,
                theirs.Segments.Frames / hours, "frames");
  kzbench::Cost("event_16cams_segment_bytes_per_cam_hour", ours.Segments.Bytes / hours / 1e6,
                theirs.Segments.Bytes / hours / 1e6, "MB");
  auto perFrame = [](const TStored& S) { return S.Frames > 0 ? double(S.Bytes) / double(S.Frames) : 0; };
  kzbench::Cost("event_16cams_segment_bytes_per_frame", perFrame(ours.Segments), perFrame(theirs.Segments), "B");
  // Of the frames each side was sent, the share its segments hold.
  kzbench::Rate("event_16cams_segment_frames_of_served", double(ours.Segments.Frames) / double(std::max<int64_t>(ours.Served, 1)),
                double(theirs.Segments.Frames) / double(std::max<int64_t>(theirs.Served, 1)), "share");
  return kzbench::Finish();
}
