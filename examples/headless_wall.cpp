// One camera shown four times in a wall of views on a form without a
// window: a large main viewer and three cells beside it, the second cell
// selected (the main viewer shows the selected cell's source). Writes what
// the wall shows to a PNG.
//   headless_wall [URL [SECONDS [OUT.png]]]
#include <cstdio>
#include <cstdlib>

#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzCamMultiView.h"
#include "video/fmxMKzImageFiles.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  if (source.URL().empty()) return 1;
  const int ms = argc > 2 ? static_cast<int>(std::atof(argv[2]) * 1000) : 3000;
  const std::string out = argc > 3 ? argv[3] : "wall.png";

  TForm form(nullptr);
  form.SetSize(800, 450);
  auto* camera = new TKzCamera(&form);
  auto* wall = new TKzCamMultiView(&form);
  wall->SetParent(&form);
  wall->SetBounds(0, 0, 800, 450);
  wall->SetScaleViewers(true);  // cells keep their proportions when the wall resizes
  TKzCamViewItem& main = wall->Viewers().Add();
  main.SetBounds(0, 0, 600, 450);
  main.SetMainViewer(true);
  for (int i = 0; i < 3; ++i) {
    TKzCamViewItem& cell = wall->Viewers().Add();
    cell.SetBounds(600, i * 150, 200, 150);
    cell.SetTitle("cell " + std::to_string(i + 1));
    cell.SetVideoSource(camera);
  }
  wall->SetViewerIndex(2);
  form.Show();
  source.Play(*camera);

  PumpFor(ms);
  const bool shown = wall->Viewers()[0].Viewer()->HasImage();
  form.PaintPending();
  const TKzPixelSurface& s = form.Surface();
  TKzMBitmap shot(s.Width, s.Height);
  for (int32_t y = 0; y < s.Height; ++y) std::copy(s.Row(y), s.Row(y) + s.Width, shot.ScanLine(y));
  std::string error;
  const bool written = KzWriteImageFile(shot, out, error);
  wall->ClearVideoSource();
  camera->Abort();
  std::printf("%s\n", !shown ? "no picture arrived" : written ? out.c_str() : error.c_str());
  return shown && written ? 0 : 1;
}
