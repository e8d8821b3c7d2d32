// The event recorder against ffmpeg's segment muxer, in the same run: 16
// synthetic cameras (one kzcamsim process, 640x480 Motion-JPEG at 25 fps,
// the disc moving 3 s of every 20) recorded continuously in 10 s segments
// with motion clips on, in this process (TKzCamera + TKzEventRecorder each),
// against 16 "ffmpeg -i URL -c copy -f segment -segment_time 10" processes.
// Reported per camera-hour: CPU seconds of each side over the same window,
// and the bytes of its segment files; and the bytes per frame stored.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
constexpr int kWarmUpMs = 4000, kWindowMs = 20000;

int64_t SegmentBytes(const std::string& Dir) {
  int64_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Dir, ec)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.find("clip") == std::string::npos && name.find(".events") == std::string::npos)
      n += int64_t(e.file_size());
  }
  return n;
}

struct TSide {
  double Cpu = 0;
  int64_t Bytes = 0;
  double BytesPerFrame = 0;  // over every finished segment file
};

// Bytes per frame over the segment files of Dir (frames counted by ffprobe).
double BytesPerFrame(const std::string& Dir) {
  int64_t bytes = 0, frames = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Dir, ec)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.find("clip") != std::string::npos || name.find(".events") != std::string::npos)
      continue;
    FILE* p = popen(("ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets "
                     "-of csv=p=0 '" + e.path().string() + "'").c_str(), "r");
    long n = 0;
    if (p && fscanf(p, "%ld", &n) == 1 && n > 0) {
      frames += n;
      bytes += int64_t(e.file_size());
    }
    if (p) pclose(p);
  }
  return frames > 0 ? double(bytes) / double(frames) : 0;
}

TSide RunOurs(const std::vector<std::string>& URLs, const std::string& Dir) {
  std::vector<std::unique_ptr<TKzCamera>> cams;
  std::vector<std::unique_ptr<TKzEventRecorder>> recs;
  for (size_t i = 0; i < URLs.size(); ++i) {
    cams.push_back(std::make_unique<TKzCamera>(nullptr));
    recs.push_back(std::make_unique<TKzEventRecorder>(nullptr));
    TKzEventRecorder& r = *recs.back();
    r.Mode = TKzEventRecordMode::kzermBoth;
    r.SegmentSec = 10;
    r.MinRegionArea = 60000;
    r.OutputFolder = Dir + "/cam" + std::to_string(i);
    r.SetSource(cams.back().get());
    r.SetActive(true);
    cams.back()->SetURL(URLs[i]);
    cams.back()->PlayVideoStream();
  }
  PumpUntil([] { return false; }, kWarmUpMs);
  const int64_t bytes0 = SegmentBytes(Dir);
  const double cpu0 = kzbench::CpuSeconds();
  PumpUntil([] { return false; }, kWindowMs);
  TSide side{kzbench::CpuSeconds() - cpu0, SegmentBytes(Dir) - bytes0};
  for (auto& c : cams) c->Abort();
  PumpUntil([&] {
    for (auto& c : cams)
      if (c->IsVideoPlaying()) return false;
    return true;
  }, 10000);
  for (auto& r : recs) r->SetActive(false);
  side.BytesPerFrame = BytesPerFrame(Dir);
  return side;
}

TSide RunFfmpeg(const std::vector<std::string>& URLs, const std::string& Dir) {
  std::vector<std::unique_ptr<kzbench::TChild>> kids;
  for (size_t i = 0; i < URLs.size(); ++i) {
    const std::string out = Dir + "/ff" + std::to_string(i);
    std::filesystem::create_directories(out);
    kids.push_back(std::make_unique<kzbench::TChild>());
    kids.back()->Start({"ffmpeg", "-v", "error", "-nostdin", "-f", "mpjpeg", "-i", URLs[i], "-c", "copy", "-f",
                        "segment", "-segment_time", "10", "-reset_timestamps", "1", out + "/seg%04d.mkv"},
                       false);
  }
  PumpUntil([] { return false; }, kWarmUpMs);
  auto cpu = [&] {
    double s = 0;
    for (auto& k : kids) s += k->Cpu();
    return s;
  };
  const int64_t bytes0 = SegmentBytes(Dir);
  const double cpu0 = cpu();
  PumpUntil([] { return false; }, kWindowMs);
  TSide side{cpu() - cpu0, SegmentBytes(Dir) - bytes0};
  for (auto& k : kids) k->Stop();
  side.BytesPerFrame = BytesPerFrame(Dir);
  return side;
}

}  // namespace

int main() {
  SetMainThread();
  if (!LoadFFMpegLibraries("")) {
    kzbench::MissingAnchor("event_16cams_cpu_per_hour", "FFmpeg libraries: " + LastFFmpegBindError());
    return kzbench::Finish();
  }
  const std::string dir = std::filesystem::temp_directory_path() / ("kzevent_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // Sixteen consecutive free ports for the simulator.
  int port = 0;
  for (int base = 20000 + getpid() % 20000; port == 0 && base < 60000; base += 97) {
    int free = 0;
    for (; free < kCameras; ++free) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(uint16_t(base + free));
      const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(fd);
      if (!ok) break;
    }
    if (free == kCameras) port = base;
  }
  kzbench::TChild sim;
  std::string motion;
  for (int f = 100; f < 25 * 600; f += 500) motion += (motion.empty() ? "" : ",") + std::to_string(f) + "-" + std::to_string(f + 75);
  sim.Start({kzbench::AppPath("kzcamsim"), "--port", std::to_string(port), "--ports", std::to_string(kCameras),
             "--motion", motion, "--disc-radius", "150", "--quiet"},
            false);
  std::vector<std::string> urls;
  for (int i = 0; i < kCameras; ++i) urls.push_back("http://127.0.0.1:" + std::to_string(port + i) + "/video.mjpg");
  PumpUntil([] { return false; }, 1000);
  const TSide ours = RunOurs(urls, dir + "/ours");
  const bool haveFfmpeg = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  const TSide anchor = haveFfmpeg ? RunFfmpeg(urls, dir + "/ffmpeg") : TSide{};
  sim.Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  const double hours = double(kWindowMs) / 3.6e6 * kCameras;
  if (!haveFfmpeg) {
    kzbench::MissingAnchor("event_16cams_cpu_per_hour", "the ffmpeg program is missing");
    return kzbench::Finish();
  }
  kzbench::Cost("event_16cams_cpu_per_cam_hour", ours.Cpu / hours, anchor.Cpu / hours, "cpu_s");
  kzbench::Cost("event_16cams_bytes_per_cam_hour", ours.Bytes / hours / 1e6, anchor.Bytes / hours / 1e6, "MB");
  // The same per frame stored (a side that receives fewer frames writes fewer bytes).
  kzbench::Cost("event_16cams_bytes_per_frame", ours.BytesPerFrame, anchor.BytesPerFrame, "B");
  return kzbench::Finish();
}
