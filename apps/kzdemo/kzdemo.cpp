// kzdemo: the main job of KzMedia in one command. It starts the synthetic
// camera (kzcamsim) on a free loopback port behind Digest authentication,
// plays it through a TKzCamera into the frame pipeline and a camera view on
// a headless form, prints live progress and a summary, and writes snapshots
// of the frames and of the view (caption included) as PNG files, and records
// what it shows into demo.mkv when FFmpeg is there. The frames also travel
// through a TKzCamSender over loopback TCP to a TKzCamReceiver and a second
// view (frames sent and received, latency from the camera's frame to that
// view, its snapshot received.png). With --url it does the same with a real
// camera.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/common/kzappoptions.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzdemo/kzdemo_relay.h"
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzIPCameraAPI.h"
#include "foundation/fmxMKzRedact.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzMessages.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "recorder/fmxMKzCamRecorder.h"
#include "recorder/fmxMKzEventRecorder.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "video/fmxMKzCamView.h"
#include "video/fmxMKzImageFiles.h"
#include "webserver/fmxMKzHttpVideoServer.h"

using namespace kz;
using namespace kzapp;

namespace {
const TKzOption kOptions[] = {
    {"--seconds", "S", "how long to play (default 5)"},
    {"--fps", "F", "the frame rate asked of the camera (default 25); the video may come slower"},
    {"--out", "DIR", "where the snapshots go (default build/demo-out next to the program; created)"},
    {"--url", "URL", "play this camera (http://, rtsp:// or a video file) instead of the synthetic one"},
    {"--host", "HOST[:PORT]", "identify the camera at this address and play the stream its vendor gives"},
    {"--user", "U", "user name for --url or --host"},
    {"--password", "P", "password for --url or --host"},
    {"--web-port", "P", "serve the camera to browsers on this loopback port (default: any free one)"},
    {"--relay", nullptr, "send the camera through kzrelay to two receivers in different groups instead"},
};

// build/demo-out when the program lives in build/apps.
std::string DefaultOutDir() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "demo-out";
  return (self.parent_path().parent_path() / "demo-out").string();
}

// Why the demo did not get its frames, for its last line.
std::string FailureReason(const kzapp::TKzFetchResult& R) {
  if (R.LoginFailed) return "the camera refused the credentials";
  if (R.Frames == 0) return R.Ended ? "the camera could not be reached or sent no video" : "no frame arrived";
  if (R.Pictures == 0) return "no snapshot could be written";
  return "too few frames arrived";
}

// A camera view on a headless form: what a window would show, caption
// included. Once a second its pixels go to view-NNN.png.
class TDemoViewer {
public:
  explicit TDemoViewer(std::string OutDir) : FOutDir(std::move(OutDir)) {
    FForm.SetSize(640, 500);
    FView = new TKzCamView(&FForm);
    FView->SetParent(&FForm);
    FView->SetAlign(TAlignLayout::Client);
    FView->SetTitle("kzdemo");
    FView->SetCaptionParts({TKzCameraCaptionPart::kzccpAddress, TKzCameraCaptionPart::kzccpDate,
                            TKzCameraCaptionPart::kzccpTime});
    FView->CaptionTextSettings().Font.Color = 0xFFFFFFFFu;
    FForm.Show();
  }
  void Attach(TKzCamera& Camera) {
    FView->SetVideoSource(&Camera);
    FNext = KzMGetTickCount() + 500;
  }
  void Detach() { FView->SetVideoSource(nullptr); }
  // Main loop pass: a snapshot when one is due and the view shows video.
  void Idle() {
    if (FOutDir.empty() || KzMGetTickCount() < FNext || !FView->HasImage()) return;
    FNext += 1000;
    FForm.PaintPending();
    const TKzPixelSurface& s = FForm.Surface();
    TKzMBitmap shot(s.Width, s.Height);
    for (int32_t y = 0; y < s.Height; ++y) std::copy(s.Row(y), s.Row(y) + s.Width, shot.ScanLine(y));
    char name[32];
    std::snprintf(name, sizeof name, "/view-%03d.png", ++FShots);
    std::string error;
    if (!KzWriteImageFile(shot, FOutDir + name, error)) {
      KzErr("kzdemo: %s\n", error.c_str());
      --FShots;
    }
  }
  int Shots() const { return FShots; }

private:
  std::string FOutDir;
  TForm FForm{nullptr};
  TKzCamView* FView;  // owned by the form
  uint64_t FNext = 0;
  int FShots = 0;
};
// Identifies the camera at HostPort and gives the stream URL its vendor (or
// the model table) names; "" (said why) when there is none.
std::string IdentifyHost(const std::string& HostPort, const std::string& User, const std::string& Password) {
  TKzCamera cam(nullptr);
  const size_t colon = HostPort.rfind(':');
  cam.SetCameraHost(HostPort.substr(0, colon));
  cam.SetCameraPort(colon == std::string::npos ? 80 : static_cast<uint16_t>(std::atoi(HostPort.c_str() + colon + 1)));
  cam.SetUserName(User);
  cam.SetUserPassword(Password);
  int32_t status = -1;
  cam.OnSearchComplete = [&](TComponent*, int32_t Status) { status = Status; };
  KzOut("identifying %s ...\n", HostPort.c_str());
  if (!cam.SearchCamera({})) return "";
  while (!PumpUntil([&] { return status >= 0; }, 1000))
    if (KzStopSignal() != 0) cam.Abort();
  static const char* const kAccess[] = {"none", "present", "visitor", "operator", "admin"};
  KzOut("  vendor families   0x%04x\n  access            %s\n  alias             %s\n", cam.IPCameraTypes().Bits(),
        kAccess[static_cast<int>(cam.UserAccess())], KzCamFieldGet(cam, TKzCamField::kzfAlias).c_str());
  const std::string url = !cam.URL().empty() ? cam.URL() : TKzIPCameraAPI::GetMJpegURL(cam);
  if (status != 0 || url.empty()) {
    KzErr("kzdemo: no camera stream found at %s\n", HostPort.c_str());
    return "";
  }
  KzOut("  stream            %s\n", KzRedactCredentials(url).c_str());
  return url;
}
}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
  kzapp::TKzFetchOptions o;
  o.Seconds = 5;
  o.SnapshotMs = 1000;
  o.ProgressMs = 500;
  o.MarkMotion = true;
  o.OutDir = DefaultOutDir();
  const std::string usage =
      KzUsageText("kzdemo", "[OPTIONS]", kOptions, "Without --url a synthetic camera is started on loopback and played.\n");
  TKzArgs args = KzParseArgs(std::vector<std::string>(argv + 1, argv + argc), kOptions);
  if (const int rc = KzArgsOutcome(args, "kzdemo", usage); rc >= 0) return rc;
  if (!args.Positional.empty()) args.Error = "unexpected argument " + args.Positional[0];
  args.Number("--seconds", o.Seconds, 0.001, 1e9);
  args.Number("--fps", o.FramePerSec, 0.01, 1000);
  if (const int rc = KzArgsOutcome(args, "kzdemo", usage); rc >= 0) return rc;
  if (args.Has("--relay")) {
    KzCatchStopSignals();
    const int relayRc = KzDemoRelay(o.Seconds);
    KzInetShutdown();
    KzMessagesShutdown();
    return relayRc;
  }
  o.OutDir = args.Get("--out", o.OutDir);
  o.URL = args.Get("--url");
  o.UserName = args.Get("--user");
  o.Password = args.Get("--password");
  double webPort = 0;
  args.Number("--web-port", webPort, 0, 65535);
  if (const int rc = KzArgsOutcome(args, "kzdemo", usage); rc >= 0) return rc;
  KzCatchStopSignals();
  // Leftover snapshots of an earlier run would mix with this one's.
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(o.OutDir, ec))
    if (e.path().extension() == ".png") std::filesystem::remove(e.path(), ec);

  KzOut("KzMedia demo\n");
  if (args.Has("--host")) {
    o.URL = IdentifyHost(args.Get("--host"), o.UserName, o.Password);
    if (o.URL.empty()) return kzExitFailed;
  }
  std::unique_ptr<kzcamsim::TKzCamSim> sim;
  if (o.URL.empty()) {
    kzcamsim::TKzSimOptions so;
    so.Width = 640;
    so.Height = 480;
    so.FramePerSec = 25;
    so.Auth = kzcamsim::TKzSimAuth::kzsaDigest;
    so.UserName = "demo";
    so.Password = "kz-demo";
    sim = std::make_unique<kzcamsim::TKzCamSim>(so);
    std::string error;
    if (!sim->Start(&error)) {
      KzErr("kzdemo: the synthetic camera did not start: %s\n", error.c_str());
      return kzExitFailed;
    }
    o.URL = sim->StreamURL();
    o.UserName = so.UserName;
    o.Password = so.Password;
    o.Sim = sim.get();
    KzOut("synthetic camera: %s (%dx%d, %.0f fps, Digest authentication)\n", o.URL.c_str(), so.Width, so.Height,
          so.FramePerSec);
  } else {
    KzOut("camera: %s\n", o.URL.c_str());
    o.PromptOnTerminal = isatty(STDIN_FILENO);
  }
  KzOut("playing for %.1f s through TKzCamera -> frame pipeline -> view\n", o.Seconds);
  o.OnProgress = [&](const kzapp::TKzFetchProgress& p) {
    std::string line = KzFormat("  %5.1f s  frames %5lld  %5.1f fps  %7.2f MB", p.Seconds,
                                static_cast<long long>(p.Frames), p.FrameRate, p.Bytes / 1e6);
    if (p.LatencyMs >= 0) line += KzFormat("  latency %3lld ms", static_cast<long long>(p.LatencyMs));
    KzOut("%s\n", line.c_str());
  };
  auto viewer = std::make_unique<TDemoViewer>(o.OutDir);
  // What the view shows also goes into a file, when FFmpeg is there.
  TKzCamRecorder recorder(nullptr);
  const std::string recording = (std::filesystem::path(o.OutDir) / "demo.mkv").string();
  TKzRecordStats recorded;
  bool recordedOk = false;
  // Motion clips (1 s before the motion, 1 s after) go into clips/.
  TKzEventRecorder clips(nullptr);
  clips.OutputFolder = (std::filesystem::path(o.OutDir) / "clips").string();
  clips.PreRollSec = 1;
  clips.PostRollSec = 1;
  std::atomic<int> clipCount{0};
  clips.OnClipFinished = [&](TKzEventRecorder*, const std::string&, int64_t, int64_t,
                             const std::vector<TKzMotionEvent>&) { ++clipCount; };
  // The camera in a browser too: the wall page, its stream and snapshots.
  TKzHttpVideoServer web(nullptr);
  web.SetPort(static_cast<uint16_t>(webPort));
  // The second leg: camera -> sender -> loopback TCP -> receiver -> a second view.
  TKzCamReceiver receiver(nullptr);
  receiver.SetProtocol(TKzProtocol::kzpTCP);
  receiver.SetPort(0);
  receiver.SetVideoLatency(0);
  kzcamsim::TKzSimFrameProbe received(sim.get());
  receiver.RegisterCamView(&received);
  receiver.SetActive(true);
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpTCP);
  sender.SetReceiverHost("127.0.0.1");
  const std::string receivedShot = (std::filesystem::path(o.OutDir) / "received.png").string();
  bool receivedShotOk = false;
  o.OnStart = [&](TKzCamera& Camera) {
    viewer->Attach(Camera);
    web.Publish("demo", &Camera);
    web.SetActive(true);
    if (web.Active())
      KzOut("in a browser: %s (stream %svideo/demo.mjpg, snapshot %ssnapshot/demo.jpg)\n", web.PageURL().c_str(),
            web.PageURL().c_str(), web.PageURL().c_str());
    else
      KzErr("kzdemo: no browser page: %s\n", web.LastError().c_str());
    for (int i = 0; i < 200 && receiver.ListeningPort() == 0; ++i) KzMWait(10);
    sender.SetReceiverPort(receiver.ListeningPort());
    sender.SetActive(receiver.ListeningPort() != 0);
    sender.SetVideoSource(&Camera);
    received.KeepNext();
    if (!IsSupportedFFmpeg()) return;
    std::filesystem::create_directories(o.OutDir);
    recorder.SetOutputFileName(recording);
    recorder.SetVideoSource(&Camera);
    recorder.SetActive(true);
    clips.SetSource(&Camera);
    clips.SetActive(true);
  };
  o.OnStop = [&](TKzCamera&) {
    clips.SetActive(false);
    clips.SetSource(nullptr);
    viewer->Detach();
    web.SetActive(false);
    web.Unpublish("demo");
    sender.SetVideoSource(nullptr);
    sender.SetActive(false);
    recordedOk = recorder.Active();
    if (recordedOk) recorded = recorder.Stats();
    recorder.SetActive(false);
    recorder.SetVideoSource(nullptr);
  };
  o.OnIdle = [&] {
    viewer->Idle();
    TKzMBitmap shot;
    int64_t number = 0;
    if (!receivedShotOk && received.TakeFrame(shot, number)) {
      std::string error;
      std::filesystem::create_directories(o.OutDir);
      receivedShotOk = KzWriteImageFile(shot, receivedShot, error);
      if (!receivedShotOk) KzErr("kzdemo: %s\n", error.c_str());
    }
  };
  const kzapp::TKzFetchResult r = kzapp::KzRunFetch(o);

  int rc = kzExitDone;
  if (!r.Error.empty()) KzErr("kzdemo: %s\n", r.Error.c_str());
  if (!r.Error.empty() && !r.Interrupted) {
    rc = kzExitFailed;
  } else {
    KzOut("summary:\n");
    KzOut("  frames received   %lld in %.1f s (%.1f fps)\n", static_cast<long long>(r.Frames), r.Seconds, r.FrameRate);
    KzOut("  bytes read        %.2f MB\n", r.Bytes / 1e6);
    KzOut("  decoded at scale  %s (frames per JPEG scale)\n", r.DecodeScales.c_str());
    if (r.MeanLatencyMs >= 0)
      KzOut("  latency           %.0f ms mean, %lld ms max (drawn by the camera -> received by the view)\n",
            r.MeanLatencyMs, static_cast<long long>(r.MaxLatencyMs));
    if (sim) {
      const kzcamsim::TKzSimStats s = sim->Stats();
      KzOut("  camera side       %llu frames sent, %llu connection(s), %llu refused without credentials\n",
            static_cast<unsigned long long>(s.FramesSent), static_cast<unsigned long long>(s.Connections),
            static_cast<unsigned long long>(s.AuthRefused));
      KzOut("  frames skipped    %lld\n", static_cast<long long>(r.Skipped));
    }
    KzOut("  sent -> received  %llu frame(s) sent, %lld shown by the receiver's view (TCP push on loopback)\n",
          static_cast<unsigned long long>(sender.FramesSent()), static_cast<long long>(received.Frames()));
    if (sim && received.Frames() > 0)
      KzOut("  end to end        %.0f ms mean, %lld ms max (camera frame -> receiver's view)\n", received.MeanLatency(),
            static_cast<long long>(received.MaxLatency()));
    KzOut("  received snapshot %s\n", receivedShotOk ? receivedShot.c_str() : "none");
    KzOut("  motion            %lld frame(s) with moving regions (outlined in red)\n",
          static_cast<long long>(r.MotionFrames));
    KzOut("  snapshots         %d PNG file(s) of frames, %d of the view, in %s\n", r.Pictures, viewer->Shots(),
          o.OutDir.c_str());
    if (recordedOk)
      KzOut("  recording         %s: %lld frames, %.1f s at %d fps\n", recording.c_str(),
            static_cast<long long>(recorded.FramesEncoded), double(recorded.FramesEncoded) / recorder.VideoFramePerSec(),
            recorder.VideoFramePerSec());
    else
      KzOut("  recording         none (FFmpeg: %s)\n", IsSupportedFFmpeg() ? "the file could not be written"
                                                                         : LastFFmpegBindError().c_str());
    KzOut("  motion clips      %d in %s\n", clipCount.load(), clips.OutputFolder.c_str());
    // Success: most of the expected frames arrived (a real camera: any).
    const double expected = (o.FramePerSec > 0 ? o.FramePerSec : 25.0) * o.Seconds;
    const bool enough = sim ? r.Frames >= 0.6 * expected : r.Frames > 0;
    if (r.Interrupted) {
      KzOut("demo: interrupted\n");
      rc = kzExitInterrupted;
    } else if (enough && r.Pictures > 0 && viewer->Shots() > 0 && !r.LoginFailed && (!sim || received.Frames() > 0)) {
      KzOut("demo: OK\n");
    } else {
      KzOut("demo: FAILED: %s\n", FailureReason(r).c_str());
      rc = kzExitFailed;
    }
  }
  viewer.reset();
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&received);
  if (sim) sim->Stop();
  KzInetShutdown();
  KzMessagesShutdown();
  return rc;
}
