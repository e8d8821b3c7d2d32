// kztool record-events (URL | --camsim) --out DIR: motion clips with
// pre-roll and post-roll, and/or continuous segments, with retention; a
// line per clip, segment and deleted file.
#include <memory>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kztool/kztool.h"
#include "camera/fmxMKzCamera.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "recorder/fmxMKzEventRecorder.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--camsim", nullptr, "record a synthetic camera started on loopback (its disc moves 3 s of every 20)"},
    {"--out", "DIR", "the folder the recordings go to (made when missing)"},
    {"--mode", "MODE", "clips, continuous or both (default: clips; both with --segment)"},
    {"--pre", "S", "seconds before the motion a clip starts (default 5)"},
    {"--post", "S", "seconds after the motion a clip ends (default 10)"},
    {"--segment", "S", "length of continuous segments in seconds (default 600)"},
    {"--min-area", "N", "regions smaller than N pixels are not motion (default 0)"},
    {"--max-mb", "N", "delete the oldest recordings above N MB in the folder"},
    {"--max-hours", "H", "delete recordings older than H hours"},
    {"--name", "NAME", "the source's name in file names (default camera)"},
    {"--seconds", "S", "stop after S seconds (default: until interrupted)"},
};

bool Configure(TKzArgs& Args, kz::TKzEventRecorder& Rec, double& Seconds) {
  double pre = 5, post = 10, segment = 600, area = 0, mb = 0, hours = 0;
  if (!Args.Number("--pre", pre, 0, 3600) || !Args.Number("--post", post, 0, 3600) ||
      !Args.Number("--segment", segment, 0.1, 86400) || !Args.Number("--min-area", area, 0, 1e9) ||
      !Args.Number("--max-mb", mb, 0, 1e9) || !Args.Number("--max-hours", hours, 0, 1e6) ||
      !Args.Number("--seconds", Seconds, 0, 1e9))
    return false;
  const std::string mode = Args.Get("--mode", Args.Has("--segment") ? "both" : "clips");
  if (mode == "clips") Rec.Mode = kz::TKzEventRecordMode::kzermMotionClips;
  else if (mode == "continuous") Rec.Mode = kz::TKzEventRecordMode::kzermContinuous;
  else if (mode == "both") Rec.Mode = kz::TKzEventRecordMode::kzermBoth;
  else {
    Args.Error = "--mode takes clips, continuous or both";
    return false;
  }
  Rec.PreRollSec = pre;
  Rec.PostRollSec = post;
  Rec.SegmentSec = segment;
  Rec.MinRegionArea = int64_t(area);
  Rec.MaxDiskMB = int64_t(mb);
  Rec.MaxAgeHours = int64_t(hours);
  Rec.OutputFolder = Args.Get("--out");
  Rec.SourceName = Args.Get("--name", "camera");
  return true;
}

void Report(kz::TKzEventRecorder& Rec, int& Errors) {
  Rec.OnClipStarted = [](kz::TKzEventRecorder*, const kz::TKzEventFileInfo& I) {
    KzOut("clip started %s\n", I.FileName.c_str());
  };
  Rec.OnClipFinished = [](kz::TKzEventRecorder*, const std::string& File, int64_t, int64_t Duration,
                          const std::vector<kz::TKzMotionEvent>& Regions) {
    KzOut("clip %s  %.2f s  %zu motion event(s)\n", File.c_str(), Duration / 1000.0, Regions.size());
  };
  Rec.OnSegmentFinished = [](kz::TKzEventRecorder*, const kz::TKzEventFileInfo& I) {
    KzOut("segment %s  %.2f s  %lld frames  %.2f MB  %zu motion event(s)\n", I.FileName.c_str(), I.DurationMs / 1000.0,
          static_cast<long long>(I.Frames), I.Bytes / 1e6, I.Events.size());
  };
  Rec.OnRetentionDeleted = [](kz::TKzEventRecorder*, const std::string& File) { KzOut("deleted %s\n", File.c_str()); };
  Rec.OnError = [&Errors](kz::TKzEventRecorder*, const std::string& Text) {
    ++Errors;
    KzErr("kztool record-events: %s\n", Text.c_str());
  };
}

int RecordEvents(TKzArgs& Args) {
  const std::string url = Args.Positional.empty() ? "" : Args.Positional[0];
  const bool camsim = Args.Has("--camsim");
  if (Args.Get("--out").empty()) Args.Error = "record-events needs --out DIR";
  else if (url.empty() == !camsim) Args.Error = "give either URL or --camsim";
  if (!Args.Error.empty()) return kzExitUsage;
  if (!kz::IsSupportedFFmpeg()) {
    KzErr("kztool record-events: FFmpeg is not available: %s\n", kz::LastFFmpegBindError().c_str());
    return kzExitFailed;
  }
  kz::TKzEventRecorder rec(nullptr);
  double seconds = 0;
  if (!Configure(Args, rec, seconds)) return kzExitUsage;
  int errors = 0;
  Report(rec, errors);
  KzCatchStopSignals();

  TKzFetchOptions o;
  o.URL = url;
  o.Seconds = seconds;
  o.ViewWidth = 320;  // the counting view; motion needs no more
  o.ViewHeight = 240;
  std::unique_ptr<kzcamsim::TKzCamSim> sim;
  if (camsim) {
    kzcamsim::TKzSimOptions so;
    for (uint32_t f = 100; f < 25 * 3600; f += 500) so.MotionFrames.emplace_back(f, f + 75);
    so.DiscRadius = 150;
    sim = std::make_unique<kzcamsim::TKzCamSim>(so);
    std::string error;
    if (!sim->Start(&error)) {
      KzErr("kztool record-events: the synthetic camera did not start: %s\n", error.c_str());
      return kzExitFailed;
    }
    o.URL = sim->StreamURL();
    if (!Args.Has("--min-area")) rec.MinRegionArea = 60000;  // the moving disc, not the counter and clock
  }
  bool started = true;
  o.OnStart = [&](kz::TKzCamera& Camera) {
    rec.SetSource(&Camera);
    rec.SetActive(true);
    started = rec.Active();
    if (started) KzOut("recording into %s\n", rec.OutputFolder.c_str());
  };
  o.OnStop = [&](kz::TKzCamera&) {
    rec.SetActive(false);
    rec.SetSource(nullptr);
  };
  const TKzFetchResult r = KzRunFetch(o);
  if (!r.Error.empty()) KzErr("kztool record-events: %s\n", r.Error.c_str());
  rec.SetActive(false);
  const kz::TKzEventRecorderStats s = rec.Stats();
  if (sim) sim->Stop();
  KzOut("recorded %lld packets (%lld dropped), %lld moving frames, pre-roll peak %.2f MB\n",
        static_cast<long long>(s.Packets), static_cast<long long>(s.Dropped), static_cast<long long>(s.MotionFrames),
        s.PreRollPeakBytes / 1e6);
  if (!started || errors) return kzExitFailed;
  return KzStopSignal() ? kzExitInterrupted : kzExitDone;
}
}  // namespace

const TSubcommand kRecordEventsCommand = {"record-events", "URL",
                                          "records motion clips and continuous segments of a camera into a folder",
                                          kOptions, RecordEvents};

}  // namespace kztool
