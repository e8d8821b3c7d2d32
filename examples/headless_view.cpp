// Plays a camera into a view on a form that has no window, pumping the main
// loop itself, and writes what the view shows (caption included) to a PNG.
//   headless_view [URL [SECONDS [OUT.png]]]
#include <cstdio>
#include <cstdlib>

#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzCamView.h"
#include "video/fmxMKzImageFiles.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();  // this thread runs events, timers and painting
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  if (source.URL().empty()) return 1;
  const int ms = argc > 2 ? static_cast<int>(std::atof(argv[2]) * 1000) : 3000;
  const std::string out = argc > 3 ? argv[3] : "view.png";

  TForm form(nullptr);  // without a window host forms live in memory
  form.SetSize(640, 480);
  auto* camera = new TKzCamera(&form);
  auto* view = new TKzCamView(&form);
  view->SetParent(&form);
  view->SetAlign(TAlignLayout::Client);
  view->SetCaptionParts({TKzCameraCaptionPart::kzccpAddress, TKzCameraCaptionPart::kzccpTime});
  view->SetVideoSource(camera);
  form.Show();
  source.Play(*camera);

  PumpFor(ms);  // play for a while
  const bool shown = view->HasImage();
  form.PaintPending();
  const TKzPixelSurface& s = form.Surface();
  TKzMBitmap shot(s.Width, s.Height);
  for (int32_t y = 0; y < s.Height; ++y) std::copy(s.Row(y), s.Row(y) + s.Width, shot.ScanLine(y));
  std::string error;
  const bool written = KzWriteImageFile(shot, out, error);
  view->SetVideoSource(nullptr);
  camera->Abort();
  std::printf("%s\n", !shown ? "no picture arrived" : written ? out.c_str() : error.c_str());
  return shown && written ? 0 : 1;
}
