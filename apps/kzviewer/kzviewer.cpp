// kzviewer: a window with the wall of views: one cell per URL, each
// playing its URL through a TKzCamera. The wall is a near-square grid that
// scales with the window, C x R cells, or one large main viewer with N
// selectable cells beside it. Home, End and the arrows select a cell (the
// main viewer follows), F11 or the wall's button shows the wall full
// screen, a double click shows one camera alone full screen; refused
// credentials bring up the log-on form. Escape or closing the window quits.
// With --headless it runs without a display and writes pictures of the
// wall.
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
#include "platform/fmxMKzPlatformStream.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/fmxMKzCamMultiView.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;
using namespace kzapp;

namespace {

const TKzOption kOptions[] = {
    {"--user", "U", "user name for the cameras"},
    {"--password", "P", "password for the cameras"},
    {"--size", "WxH", "window size (default 960x600)"},
    {"--seconds", "S", "quit after S seconds (default: when the window closes)"},
    {"--wall", "LAYOUT", "grid (default), CxR, or 1+N (a main viewer and N cells)"},
    {"--refresh", "N", "repaint the wall N times a second (default 0: at every frame)"},
    {"--headless", nullptr, "no window: run without a display (with --snapshot)"},
    {"--snapshot", "DIR", "write pictures of the wall to DIR/wall-NNN.png"},
    {"--every", "MS", "milliseconds between pictures (default 1000)"},
};
const char* const kFooter =
    "  URL                    http:// or rtsp:// camera stream, a video file, a capture device\n"
    "                         v4l2:DEVICE (number, /dev node or identifier), or the screen desktop:\n"
    "                         (desktop:X,Y,W,H for a rectangle of it)\n"
    "Home/End/arrows select a cell, F11 shows the wall full screen, a double click one camera;\n"
    "Escape or Ctrl-C quits. Without --headless it needs a desktop display (DISPLAY or\n"
    "WAYLAND_DISPLAY); without one it says so and exits 1.\n";

enum class TWallLayout { Grid, ColumnsRows, MainAndCells };

struct TViewerOptions {
  std::vector<std::string> URLs;
  std::string User, Password;
  int32_t Width = 960, Height = 600;
  double Seconds = 0;
  TWallLayout Layout = TWallLayout::Grid;
  int32_t Columns = 0, Rows = 0, Cells = 0;
  double Refresh = 0;
  bool Headless = false;
  std::string SnapshotDir;
  double EveryMs = 1000;
};

// "grid", "CxR" or "1+N" into O; false with Args.Error set when it is none.
bool ReadLayout(TKzArgs& Args, TViewerOptions& O) {
  const std::string v = Args.Get("--wall", "grid");
  int a = 0, b = 0;
  char tail = 0;
  if (v == "grid") {
    O.Layout = TWallLayout::Grid;
  } else if (std::sscanf(v.c_str(), "%dx%d%c", &a, &b, &tail) == 2 && a >= 1 && b >= 1 && a * b <= 256) {
    O.Layout = TWallLayout::ColumnsRows;
    O.Columns = a;
    O.Rows = b;
  } else if (std::sscanf(v.c_str(), "1+%d%c", &a, &tail) == 1 && a >= 1 && a <= 64) {
    O.Layout = TWallLayout::MainAndCells;
    O.Cells = a;
  } else {
    Args.Error = "--wall takes grid, CxR (at most 256 cells) or 1+N (N from 1 to 64)";
    return false;
  }
  const size_t room = O.Layout == TWallLayout::ColumnsRows ? size_t(a * b)
                      : O.Layout == TWallLayout::MainAndCells ? size_t(a)
                                                              : O.URLs.size();
  if (O.URLs.size() > room) Args.Error = "--wall " + v + " has room for " + std::to_string(room) + " URLs";
  return Args.Error.empty();
}

// Reads the command line into O; false with Args.Error set when it is wrong.
bool ReadOptions(TKzArgs& Args, TViewerOptions& O) {
  O.URLs = Args.Positional;
  O.User = Args.Get("--user");
  O.Password = Args.Get("--password");
  if (!Args.Number("--seconds", O.Seconds, 0.001, 1e9)) return false;
  if (!Args.Number("--refresh", O.Refresh, 0, 100)) return false;
  if (!Args.Number("--every", O.EveryMs, 10, 3.6e6)) return false;
  O.Headless = Args.Has("--headless");
  O.SnapshotDir = Args.Get("--snapshot");
  if (O.Headless && O.SnapshotDir.empty()) {
    Args.Error = "--headless needs --snapshot DIR";
    return false;
  }
  if (Args.Has("--size")) {
    const std::string v = Args.Get("--size");
    if (std::sscanf(v.c_str(), "%dx%d", &O.Width, &O.Height) != 2 || O.Width < 64 || O.Height < 64 ||
        O.Width > 16384 || O.Height > 16384) {
      Args.Error = "--size takes WxH, each from 64 to 16384";
      return false;
    }
  }
  if (O.URLs.empty()) Args.Error = "no URL given";
  if (Args.Error.empty() && !ReadLayout(Args, O)) return false;
  for (const std::string& url : O.URLs)
    if (std::string why = KzSourceError(url); !why.empty() && Args.Error.empty()) Args.Error = why;
  return Args.Error.empty();
}

// The main window: the wall, its cells and their cameras.
class TViewerWindow {
public:
  explicit TViewerWindow(const TViewerOptions& O) : FOptions(O) {
    FForm.SetCaption("kzviewer");
    FForm.SetFill(0xFF202020u);
    FForm.SetBounds(0, 0, O.Width, O.Height);
    FForm.OnClose = [](TComponent*) { Application().Terminate(); };
    FForm.OnKeyDown = [this](TComponent*, uint16_t& Key, char32_t&, TShiftState Shift) {
      if (Key == vk::Escape && Shift == 0) FForm.Close();
    };
    FWall = new TKzCamMultiView(&FForm);
    FWall->SetParent(&FForm);
    FWall->SetBounds(0, 0, O.Width, O.Height);
    FWall->SetColor(0xFF202020u);
    FWall->SetAllowFullScreen(true);
    FWall->SetRefreshRate(static_cast<int32_t>(O.Refresh));
    TTextSettings caption = FWall->CaptionTextSettings();
    caption.Font.Color = 0xFFFFFFFFu;
    FWall->SetCaptionTextSettings(caption);
    FWall->OnDblClick = [this](TComponent*) { ShowCameraAlone(); };
    AddCells();
    FWall->SetScaleViewers(true);
    FWall->SetAlign(TAlignLayout::Client);
    FWall->SetViewerIndex(FWall->GetFirstViewer());
    FForm.Show();
    FWall->SetFocus();
    for (size_t i = 0; i < FCameras.size(); ++i) KzPlaySource(*FCameras[i], O.URLs[i]);
  }

  ~TViewerWindow() {
    // Cells let go of their sources before the cameras stop; the form frees both.
    FWall->SetFullScreen(false);
    FWall->ClearVideoSource();
    for (TKzCamera* c : FCameras) c->Abort();
    PumpUntil(
        [&] {
          for (TKzCamera* c : FCameras)
            if (c->IsVideoPlaying()) return false;
          return true;
        },
        5000);
  }

  TForm& Form() { return FForm; }

private:
  TKzCamera* NewCamera(const std::string& URL) {
    auto* cam = new TKzCamera(&FForm);
    cam->SetUserName(FOptions.User);
    cam->SetUserPassword(FOptions.Password);
    cam->SetLoginPrompt(!FOptions.Headless);  // refused credentials: ask through the log-on form
    // A stream that ends on its own says why on stderr; the cell stays.
    cam->OnEndVideoStream = [cam, URL](TComponent*, int32_t Status) {
      if (Status == 0 && !cam->LastError().Failed()) return;
      const std::string why = cam->LastError().Text.empty() ? "the stream ended" : cam->LastError().Text;
      KzErr("kzviewer: %s: %s\n", URL.c_str(), why.c_str());
    };
    FCameras.push_back(cam);
    return cam;
  }

  TKzCamViewItem& AddCell(const TRect& R, size_t UrlIndex) {
    TKzCamViewItem& cell = FWall->Viewers().Add();
    constexpr int32_t gap = 2;
    cell.SetBounds(R.Left + gap / 2, R.Top + gap / 2, R.Width() - gap, R.Height() - gap);
    cell.SetCaptionParts({TKzCameraCaptionPart::kzccpAddress, TKzCameraCaptionPart::kzccpDate,
                          TKzCameraCaptionPart::kzccpTime});
    if (UrlIndex < FOptions.URLs.size()) cell.SetVideoSource(NewCamera(FOptions.URLs[UrlIndex]));
    return cell;
  }

  // Cells in the wall's first size; the wall scales them with the window.
  void AddCells() {
    const TViewerOptions& o = FOptions;
    const int32_t w = o.Width, h = o.Height;
    if (o.Layout == TWallLayout::MainAndCells) {
      // The main viewer takes three quarters of the width; the cells stack
      // beside it.
      const int32_t split = w * 3 / 4;
      AddCell(TRect(0, 0, split, h), o.URLs.size()).SetMainViewer(true);
      for (int32_t i = 0; i < o.Cells; ++i)
        AddCell(TRect(split, h * i / o.Cells, w, h * (i + 1) / o.Cells), static_cast<size_t>(i));
      return;
    }
    int32_t cols = o.Columns, rows = o.Rows;
    if (o.Layout == TWallLayout::Grid) {
      const int32_t n = static_cast<int32_t>(o.URLs.size());
      cols = static_cast<int32_t>(std::ceil(std::sqrt(static_cast<double>(n))));
      rows = (n + cols - 1) / cols;
    }
    for (int32_t i = 0; i < cols * rows; ++i) {
      const int32_t c = i % cols, r = i / cols;
      AddCell(TRect(w * c / cols, h * r / rows, w * (c + 1) / cols, h * (r + 1) / rows), static_cast<size_t>(i));
    }
  }

  // The camera of the double-clicked cell (a main viewer shows the selected
  // one) alone in a full-screen window.
  void ShowCameraAlone() {
    const int32_t active = FWall->GetActiveViewer();
    if (active < 0) return;
    TKzCamView* view = FWall->Viewers()[active].Viewer();
    if (view->VideoSource()) view->SetFullScreen(true);
  }

  const TViewerOptions& FOptions;
  TForm FForm{nullptr};
  TKzCamMultiView* FWall;            // owned by the form
  std::vector<TKzCamera*> FCameras;  // owned by the form
};

// Writes the form's pixels to Dir/wall-NNN.png; false when it cannot.
bool WriteSnapshot(const TForm& Form, const std::string& Dir, int Number) {
  const TKzPixelSurface& s = Form.Surface();
  TKzMBitmap b(s.Width, s.Height);
  for (int32_t y = 0; y < s.Height; ++y)
    std::copy(s.Row(y), s.Row(y) + s.Width, b.Data() + static_cast<size_t>(y) * static_cast<size_t>(s.Width));
  char name[32];
  std::snprintf(name, sizeof name, "/wall-%03d.png", Number);
  TFileStream file(Dir + name, TFileMode::fmCreate);
  return file.Valid() && KzCodecEncodePNG(b, file);
}

}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
  const std::string usage = KzUsageText("kzviewer", "[OPTIONS] URL...", kOptions, kFooter);
  TKzArgs args = KzParseArgs(std::vector<std::string>(argv + 1, argv + argc), kOptions);
  if (const int rc = KzArgsOutcome(args, "kzviewer", usage); rc >= 0) return rc;
  TViewerOptions o;
  if (!ReadOptions(args, o)) return KzArgsOutcome(args, "kzviewer", usage);
  std::unique_ptr<IKzWindowHost> host;
  if (!o.Headless) {
    host = KzCreateSdlWindowHost();
    if (!host) {
      KzErr("kzviewer: no desktop display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set or cannot "
            "be opened)\n");
      return kzExitFailed;
    }
    KzSetWindowHost(host.get());
  }
  TKzLoginDialogProvider login;
  if (!o.Headless) KzSetLoginFormProvider(&login);
  KzCatchStopSignals();

  int rc = kzExitDone;
  {
    TViewerWindow window(o);
    TTimer quit, signalled, snapshot;
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
    int shots = 0;
    if (!o.SnapshotDir.empty()) {
      snapshot.SetInterval(static_cast<uint32_t>(o.EveryMs));
      snapshot.OnTimer = [&](TTimer*) {
        window.Form().PaintPending();
        if (WriteSnapshot(window.Form(), o.SnapshotDir, ++shots)) return;
        KzErr("kzviewer: cannot write %s/wall-%03d.png\n", o.SnapshotDir.c_str(), shots);
        rc = kzExitFailed;
        Application().Terminate();
      };
      snapshot.SetEnabled(true);
    }
    Application().Run();
  }
  KzSetLoginFormProvider(nullptr);
  KzSetWindowHost(nullptr);
  return rc;
}
