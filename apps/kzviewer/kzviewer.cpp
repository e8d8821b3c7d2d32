// kzviewer: a desktop window with one camera view per URL, in a grid. Each
// view plays its URL through a TKzCamera; double click or the view's button
// shows it full screen; refused credentials bring up the log-on form.
// Escape or closing the window quits.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/kzappfetch.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformLoginDialog.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformSdlWindowHost.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/fmxMKzCamView.h"

using namespace kz;

namespace {

const char* const kUsage =
    "usage: kzviewer [OPTIONS] URL...\n"
    "  URL                 http:// or rtsp:// camera stream, or a Motion-JPEG file\n"
    "  --user U            user name for the cameras\n"
    "  --password P        password for the cameras\n"
    "  --size WxH          window size (default 960x600)\n"
    "  --seconds S         quit after S seconds (default: when the window closes)\n"
    "Double click a view (or its button) for full screen; Escape quits.\n";

int Usage(const std::string& Why) {
  std::fprintf(stderr, "kzviewer: %s\n%s", Why.c_str(), kUsage);
  return 2;
}

// The handler only sets a flag; a timer on the main thread acts on it.
volatile std::sig_atomic_t gSignalled = 0;
void OnSignal(int) { gSignalled = 1; }

struct TViewerOptions {
  std::vector<std::string> URLs;
  std::string User, Password;
  int32_t Width = 960, Height = 600;
  double Seconds = 0;
};

// Reads the command line; returns the reason on failure.
std::string ParseArgs(int argc, char** argv, TViewerOptions& O) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& Out) {
      if (i + 1 >= argc) return false;
      Out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--user") {
      if (!value(O.User)) return "--user needs a value";
    } else if (a == "--password") {
      if (!value(O.Password)) return "--password needs a value";
    } else if (a == "--size") {
      if (!value(v) || std::sscanf(v.c_str(), "%dx%d", &O.Width, &O.Height) != 2 || O.Width < 64 || O.Height < 64 ||
          O.Width > 16384 || O.Height > 16384)
        return "--size needs WxH (64..16384)";
    } else if (a == "--seconds") {
      char* end = nullptr;
      if (!value(v) || (O.Seconds = std::strtod(v.c_str(), &end)) <= 0 || *end) return "--seconds needs a number > 0";
    } else if (a == "-h" || a == "--help") {
      return "help";
    } else if (a.rfind("--", 0) == 0) {
      return "unknown option " + a;
    } else {
      O.URLs.push_back(a);
    }
  }
  if (O.URLs.empty()) return "no URL given";
  for (const std::string& url : O.URLs)
    if (std::string why = kzapp::KzSourceError(url); !why.empty()) return why;
  return {};
}

// The main window: a grid of views, each with its camera.
class TViewerWindow {
public:
  explicit TViewerWindow(const TViewerOptions& O) {
    FForm.SetCaption("kzviewer");
    FForm.SetFill(0xFF202020u);
    FForm.SetBounds(0, 0, O.Width, O.Height);
    FForm.OnResize = [this](TComponent*) { Layout(); };
    FForm.OnClose = [](TComponent*) { Application().Terminate(); };
    FForm.OnKeyDown = [this](TComponent*, uint16_t& Key, char32_t&, TShiftState Shift) {
      if (Key == vk::Escape && Shift == 0) FForm.Close();
    };
    for (size_t i = 0; i < O.URLs.size(); ++i) {
      auto* cam = new TKzCamera(&FForm);
      cam->SetUserName(O.User);
      cam->SetUserPassword(O.Password);
      cam->SetLoginPrompt(true);  // refused credentials: ask through the log-on form
      auto* view = new TKzCamView(&FForm);
      view->SetParent(&FForm);
      view->SetCaptionParts({TKzCameraCaptionPart::kzccpAddress, TKzCameraCaptionPart::kzccpDate,
                             TKzCameraCaptionPart::kzccpTime});
      view->CaptionTextSettings().Font.Color = 0xFFFFFFFFu;
      view->SetAllowFullScreen(true);
      view->OnDblClick = [view](TComponent*) { view->SetFullScreen(!view->FullScreen()); };
      view->SetVideoSource(cam);
      FCameras.push_back(cam);
      FViews.push_back(view);
    }
    Layout();
    FForm.Show();
    for (size_t i = 0; i < O.URLs.size(); ++i) kzapp::KzPlaySource(*FCameras[i], O.URLs[i]);
  }

  ~TViewerWindow() {
    // Views let go of their sources before the cameras stop; the form frees both.
    for (TKzCamView* v : FViews) v->SetVideoSource(nullptr);
    for (TKzCamera* c : FCameras) c->Abort();
    PumpUntil(
        [&] {
          for (TKzCamera* c : FCameras)
            if (c->IsVideoPlaying()) return false;
          return true;
        },
        5000);
  }

private:
  // cols = ceil(sqrt(n)) columns, as many rows as needed, cells split evenly.
  void Layout() {
    const int32_t n = static_cast<int32_t>(FViews.size());
    if (n == 0) return;
    const int32_t cols = static_cast<int32_t>(std::ceil(std::sqrt(static_cast<double>(n))));
    const int32_t rows = (n + cols - 1) / cols;
    const int32_t w = FForm.Width(), h = FForm.Height();
    constexpr int32_t gap = 2;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t c = i % cols, r = i / cols;
      const int32_t x0 = w * c / cols, x1 = w * (c + 1) / cols;
      const int32_t y0 = h * r / rows, y1 = h * (r + 1) / rows;
      FViews[i]->SetBounds(x0 + gap / 2, y0 + gap / 2, x1 - x0 - gap, y1 - y0 - gap);
    }
  }

  TForm FForm{nullptr};
  std::vector<TKzCamera*> FCameras;  // owned by the form
  std::vector<TKzCamView*> FViews;   // owned by the form
};

}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
  TViewerOptions o;
  if (std::string why = ParseArgs(argc, argv, o); !why.empty()) {
    if (why == "help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    return Usage(why);
  }
  std::unique_ptr<IKzWindowHost> host = KzCreateSdlWindowHost();
  if (!host) {
    std::fprintf(stderr, "kzviewer: no desktop display could be opened (is DISPLAY set?)\n");
    return 1;
  }
  KzSetWindowHost(host.get());
  TKzLoginDialogProvider login;
  KzSetLoginFormProvider(&login);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  {
    TViewerWindow window(o);
    TTimer quit, signalled;
    if (o.Seconds > 0) {
      quit.SetInterval(static_cast<uint32_t>(o.Seconds * 1000));
      quit.OnTimer = [](TTimer*) { Application().Terminate(); };
      quit.SetEnabled(true);
    }
    signalled.SetInterval(100);
    signalled.OnTimer = [](TTimer*) {
      if (gSignalled) Application().Terminate();
    };
    signalled.SetEnabled(true);
    Application().Run();
  }
  KzSetLoginFormProvider(nullptr);
  KzSetWindowHost(nullptr);
  return 0;
}
