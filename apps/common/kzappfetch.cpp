#include "apps/common/kzappfetch.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "apps/common/kzappconsole.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "capture/fmxMKzV4L2Devices.h"
#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;

namespace kzapp {

namespace {
// Reads one line from stdin; without echo when Secret (a terminal only).
bool ReadLine(std::string& Line, bool Secret) {
  termios old{};
  const bool tty = Secret && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &old) == 0;
  if (tty) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  const bool ok = static_cast<bool>(std::getline(std::cin, Line));
  if (tty) {
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputc('\n', stderr);
  }
  return ok;
}

// The camera's login hook on a terminal: asks for a user name and a password.
void TerminalLogin(TComponent*, const std::string& Realm, std::string& UserName, std::string& Password, bool& Proceed) {
  KzErr("The camera refused the credentials%s%s%s.\nuser name: ", Realm.empty() ? "" : " for \"", Realm.c_str(),
        Realm.empty() ? "" : "\"");
  std::string user, password;
  Proceed = false;
  if (!ReadLine(user, false)) return;
  KzErr("password: ");
  if (!ReadLine(password, true)) return;
  UserName = user;
  Password = password;
  Proceed = true;
}

bool WritePNG(const std::string& Dir, int64_t Number, const TKzMBitmap& Frame) {
  char name[64];
  std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(Number));
  TFileStream file(Dir + name, TFileMode::fmCreate);
  return file.Valid() && KzCodecEncodePNG(Frame, file);
}
}  // namespace

namespace {
enum class TKzSourceKind { kzskNone, kzskHTTP, kzskRTSP, kzskFile, kzskV4L2, kzskDesktop };

TKzSourceKind SourceKind(const std::string& URL) {
  const std::string lower = KzLowerCase(URL);
  if (lower.rfind("rtsp://", 0) == 0) return TKzSourceKind::kzskRTSP;
  if (lower.rfind("http://", 0) == 0) return TKzSourceKind::kzskHTTP;
  if (lower.rfind("v4l2:", 0) == 0) return TKzSourceKind::kzskV4L2;
  if (lower.rfind("desktop:", 0) == 0) return TKzSourceKind::kzskDesktop;
  std::error_code ec;
  return std::filesystem::is_regular_file(URL, ec) ? TKzSourceKind::kzskFile : TKzSourceKind::kzskNone;
}
}  // namespace

std::string KzSourceError(const std::string& URL) {
  if (KzLowerCase(URL).rfind("https://", 0) == 0) return "https is not supported; cameras are read over http:// or rtsp://";
  switch (SourceKind(URL)) {
    case TKzSourceKind::kzskNone:
      return "\"" + URL + "\" is neither an http:// or rtsp:// URL nor a video file";
    case TKzSourceKind::kzskV4L2: {
      KzV4L2FillDeviceList(VideoDevices());
      if (KzV4L2FindDeviceIndex(VideoDevices(), URL.substr(5)) < 0)
        return "no capture device \"" + URL.substr(5) + "\" (kztool devices lists them)";
      return {};
    }
    case TKzSourceKind::kzskDesktop: {
      TRect r;
      if (URL.size() > 8 && !KzParseDesktopRect(URL.substr(8), r)) return "desktop: takes nothing or X,Y,W,H";
      return {};
    }
    case TKzSourceKind::kzskRTSP:
      if (!KzCamStreamFactory().IsSupportedFFMPEG())
        return "RTSP video is decoded by the FFmpeg engine, which this build does not have yet";
      return {};
    default: return {};
  }
}

bool KzParseDesktopRect(const std::string& Text, TRect& Rect) {
  int x = 0, y = 0, w = 0, h = 0;
  char end = 0;
  if (std::sscanf(Text.c_str(), "%d,%d,%d,%d%c", &x, &y, &w, &h, &end) != 4 || w <= 0 || h <= 0) return false;
  Rect = TRect(x, y, x + w, y + h);
  return true;
}

void KzPlaySource(TKzCamera& Camera, const std::string& URL) {
  const TKzSourceKind kind = SourceKind(URL);
  if (kind == TKzSourceKind::kzskV4L2) {
    Camera.SetDeviceType(TKzDeviceType::kzdtWebCamera);
    Camera.SetVideoDeviceIndex(KzV4L2FindDeviceIndex(VideoDevices(), URL.substr(5)));
    Camera.PlayVideoStream();
    return;
  }
  if (kind == TKzSourceKind::kzskDesktop) {
    TRect r;
    if (URL.size() > 8 && KzParseDesktopRect(URL.substr(8), r)) {
      Camera.SetDesktopMode(TKzDesktopMode::kzdmRect);
      Camera.SetDesktopRect(r);
    }
    Camera.SetDeviceType(TKzDeviceType::kzdtDesktop);
    Camera.PlayVideoStream();
    return;
  }
  if (kind == TKzSourceKind::kzskFile) {
    Camera.PlayVideoFile(URL);
    return;
  }
  Camera.SetURL(URL);
  Camera.SetDeviceType(kind == TKzSourceKind::kzskRTSP ? TKzDeviceType::kzdtRTSP : TKzDeviceType::kzdtHTTP);
  Camera.PlayVideoStream();
}

TKzFetchResult KzRunFetch(const TKzFetchOptions& O) {
  TKzFetchResult r;
  r.Error = KzSourceError(O.URL);
  if (!r.Error.empty()) return r;
  std::error_code ec;
  if (!O.OutDir.empty()) {
    std::filesystem::create_directories(O.OutDir, ec);
    if (ec) {
      r.Error = "cannot create " + O.OutDir + ": " + ec.message();
      return r;
    }
  }

  TKzCamera cam(nullptr);
  kzcamsim::TKzSimFrameProbe probe(O.Sim, !O.OutDir.empty() && O.SnapshotMs == 0 ? 64 : 0);
  std::atomic<bool> loginFailed{false};
  bool ended = false;
  uint64_t bytes = 0;
  uint32_t lastCount = 0;
  cam.OnLoginFailed = [&](TComponent*, const std::string&) { loginFailed = true; };  // the fetch thread
  std::string reason;  // why the source failed last
  auto onEnd = [&](TComponent*, int32_t Status) {
    ended = true;
    r.EndStatus = Status;
    if (cam.LastError().Failed()) reason = cam.LastError().Text;
  };
  cam.OnReconnecting = [&](TComponent*, uint32_t Attempt, const TKzSourceError& Reason) {
    ++r.Reconnects;
    reason = Reason.Text;
    std::fprintf(stderr, "fetch: %s; trying again (attempt %u)\n", Reason.Text.c_str(), Attempt);
  };
  cam.OnEndVideoStream = onEnd;
  cam.OnEndVideoFile = onEnd;
  // Bytes of the current connection so far; a smaller count is a new connection.
  cam.OnProgress = [&](TComponent*, uint32_t Count) {
    bytes += Count >= lastCount ? Count - lastCount : Count;
    lastCount = Count;
  };
  if (O.PromptOnTerminal) {
    cam.SetLoginPrompt(true);
    cam.OnLogin = TerminalLogin;
  }
  if (O.MarkMotion) {
    // Runs on the main thread before the frame reaches the views, so the
    // outlines show in every picture taken of it.
    cam.OnGetRegions = [&r](TComponent*, TKzMBitmap& Img, TKzMotionDetector& Detector) {
      const std::vector<TKzRectF> regions = Detector.ValidRects();
      if (!regions.empty()) ++r.MotionFrames;
      for (const TKzRectF& g : regions)
        for (int edge = 0; edge < 2; ++edge)
          Img.Rectangle(static_cast<int32_t>(g.Left) + edge, static_cast<int32_t>(g.Top) + edge,
                        static_cast<int32_t>(g.Right) - edge, static_cast<int32_t>(g.Bottom) - edge, 0xFFFF2020u);
    };
  }
  cam.SetUserName(O.UserName);
  cam.SetUserPassword(O.Password);
  if (O.FramePerSec > 0) cam.SetFramePerSec(O.FramePerSec);
  probe.SetDecodeSizeRequest({O.ViewWidth, O.ViewHeight});
  cam.RegisterCamView(&probe);
  if (O.OnStart) O.OnStart(cam);
  KzPlaySource(cam, O.URL);
  if (!cam.IsVideoPlaying()) {
    if (O.OnStop) O.OnStop(cam);
    cam.UnRegisterCamView(&probe);
    r.Error = cam.LastError().Text.empty() ? "the camera did not start" : cam.LastError().Text;
    return r;
  }

  const int64_t start = static_cast<int64_t>(KzMGetTickCount());
  int64_t nextProgress = start + O.ProgressMs, nextSnapshot = start;
  auto elapsedMs = [&] { return static_cast<int64_t>(KzMGetTickCount()) - start; };
  auto done = [&] {
    return ended || loginFailed.load() || KzStopSignal() != 0 || (O.MaxFrames > 0 && probe.Frames() >= O.MaxFrames) ||
           (O.Seconds > 0 && elapsedMs() >= static_cast<int64_t>(O.Seconds * 1000)) ||
           (O.StopWhen && O.StopWhen());
  };
  // Pictures are written on a thread of their own: the main thread must stay
  // free for the camera's synchronised calls.
  std::atomic<bool> writing{!O.OutDir.empty()};
  std::atomic<int32_t> pictures{0};
  std::thread writer([&] {
    TKzMBitmap frame;
    int64_t number = 0;
    for (;;) {
      const bool last = !writing.load();
      while (probe.TakeFrame(frame, number))
        if ((O.MaxFrames == 0 || number <= O.MaxFrames) && WritePNG(O.OutDir, number, frame)) ++pictures;
      if (last) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  while (!done()) {
    PumpUntil(done, 50);
    if (O.OnIdle) O.OnIdle();
    if (!O.OutDir.empty() && O.SnapshotMs > 0 && static_cast<int64_t>(KzMGetTickCount()) >= nextSnapshot) {
      probe.KeepNext();
      nextSnapshot += O.SnapshotMs;
    }
    const int64_t now = static_cast<int64_t>(KzMGetTickCount());
    if (O.OnProgress && now >= nextProgress) {
      nextProgress += O.ProgressMs;
      const std::vector<int64_t> ticks = probe.Ticks();
      TKzFetchProgress p;
      p.Seconds = (now - start) / 1000.0;
      p.Frames = static_cast<int64_t>(ticks.size());
      p.FrameRate = static_cast<double>(std::count_if(ticks.begin(), ticks.end(), [&](int64_t t) { return t > now - 1000; }));
      p.Bytes = bytes;
      p.LatencyMs = O.Sim ? probe.LastLatency() : -1;
      O.OnProgress(p);
    }
  }
  r.LoginFailed = loginFailed.load();
  // A refused login is told on the fetch thread; the reason comes with its end.
  if (r.LoginFailed) PumpUntil([&] { return ended; }, 2000);
  r.Ended = ended;
  // Still without a picture, or ended by a failure: the reason is the result.
  if (!reason.empty() && ((ended && r.EndStatus != 0) || probe.Frames() == 0 || cam.IsReconnecting()))
    r.Error = reason;
  r.Seconds = elapsedMs() / 1000.0;
  cam.Abort();
  PumpUntil([&] { return !cam.IsVideoPlaying(); }, 5000);
  if (O.OnStop) O.OnStop(cam);
  cam.UnRegisterCamView(&probe);
  writing = false;
  writer.join();
  r.Pictures = pictures.load();
  r.DecodeScales = cam.DecodeScaleSummary();
  r.Interrupted = KzStopSignal() != 0;

  // Counts and rates over the frames that count (the first MaxFrames).
  std::vector<int64_t> ticks = probe.Ticks(), stamps = probe.Stamps();
  if (O.MaxFrames > 0 && static_cast<int64_t>(ticks.size()) > O.MaxFrames) {
    ticks.resize(static_cast<size_t>(O.MaxFrames));
    stamps.resize(static_cast<size_t>(O.MaxFrames));
  }
  r.Frames = static_cast<int64_t>(ticks.size());
  if (ticks.size() >= 2 && ticks.back() > ticks.front())
    r.FrameRate = static_cast<double>(ticks.size() - 1) * 1000.0 / static_cast<double>(ticks.back() - ticks.front());
  r.Bytes = bytes;
  if (O.Sim && r.Frames > 0) {
    r.MeanLatencyMs = probe.MeanLatency();
    r.MaxLatencyMs = probe.MaxLatency();
  }
  int64_t previous = -1;
  for (int64_t s : stamps) {
    if (s < 0) continue;
    if (previous >= 0 && s > previous) r.Skipped += s - previous - 1;
    previous = s;
  }
  return r;
}

}  // namespace kzapp
