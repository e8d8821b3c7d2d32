// kzviewer: a desktop window with one camera view per URL, in a grid. Each
// view plays its URL through a TKzCamera; double click or the view's button
// shows it full screen; refused credentials bring up the log-on form.
// Escape or closing the window quits.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/common/kzappoptions.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformLoginDialog.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformSdlWindowHost.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/fmxMKzCamView.h"

using namespace kz;
using namespace kzapp;

namespace {

const TKzOption kOptions[] = {
    {"--user", "U", "user name for the cameras"},
    {"--password", "P", "password for the cameras"},
    {"--size", "WxH", "window size (default 960x600)"},
    {"--seconds", "S", "quit after S seconds (default: when the window closes)"},
};
const char* const kFooter =
    "  URL                    http:// or rtsp:// camera stream, a video file, a capture device\n"
    "                         v4l2:DEVICE (number, /dev node or identifier), or the screen desktop:\n"
    "                         (desktop:X,Y,W,H for a rectangle of it)\n"
    "Double click a view (or its button) for full screen; Escape or Ctrl-C quits. Needs a desktop\n"
    "display (DISPLAY or WAYLAND_DISPLAY); without one it says so and exits 1.\n";

struct TViewerOptions {
  std::vector<std::string> URLs;
  std::string User, Password;
  int32_t Width = 960, Height = 600;
  double Seconds = 0;
};

// Reads the command line into O; false with Args.Error set when it is wrong.
bool ReadOptions(TKzArgs& Args, TViewerOptions& O) {
  O.URLs = Args.Positional;
  O.User = Args.Get("--user");
  O.Password = Args.Get("--password");
  if (!Args.Number("--seconds", O.Seconds, 0.001, 1e9)) return false;
  if (Args.Has("--size")) {
    const std::string v = Args.Get("--size");
    if (std::sscanf(v.c_str(), "%dx%d", &O.Width, &O.Height) != 2 || O.Width < 64 || O.Height < 64 ||
        O.Width > 16384 || O.Height > 16384) {
      Args.Error = "--size takes WxH, each from 64 to 16384";
      return false;
    }
  }
  if (O.URLs.empty()) Args.Error = "no URL given";
  for (const std::string& url : O.URLs)
    if (std::string why = KzSourceError(url); !why.empty() && Args.Error.empty()) Args.Error = why;
  return Args.Error.empty();
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
      // A stream that ends on its own says why on stderr; the view stays.
      cam->OnEndVideoStream = [cam, url = O.URLs[i]](TComponent*, int32_t Status) {
        if (Status == 0 && !cam->LastError().Failed()) return;
        const std::string why = cam->LastError().Text.empty() ? "the stream ended" : cam->LastError().Text;
        KzErr("kzviewer: %s: %s\n", url.c_str(), why.c_str());
      };
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
    for (size_t i = 0; i < O.URLs.size(); ++i) KzPlaySource(*FCameras[i], O.URLs[i]);
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
  const std::string usage = KzUsageText("kzviewer", "[OPTIONS] URL...", kOptions, kFooter);
  TKzArgs args = KzParseArgs(std::vector<std::string>(argv + 1, argv + argc), kOptions);
  if (const int rc = KzArgsOutcome(args, "kzviewer", usage); rc >= 0) return rc;
  TViewerOptions o;
  if (!ReadOptions(args, o)) return KzArgsOutcome(args, "kzviewer", usage);
  std::unique_ptr<IKzWindowHost> host = KzCreateSdlWindowHost();
  if (!host) {
    KzErr("kzviewer: no desktop display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set or cannot "
          "be opened)\n");
    return kzExitFailed;
  }
  KzSetWindowHost(host.get());
  TKzLoginDialogProvider login;
  KzSetLoginFormProvider(&login);
  KzCatchStopSignals();

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
      if (KzStopSignal() != 0) Application().Terminate();
    };
    signalled.SetEnabled(true);
    Application().Run();
  }
  KzSetLoginFormProvider(nullptr);
  KzSetWindowHost(nullptr);
  return kzExitDone;
}
