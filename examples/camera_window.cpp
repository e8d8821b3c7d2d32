// Shows a camera in a window until the window is closed.
//   camera_window [URL [SECONDS]]
#include <cstdio>
#include <cstdlib>

#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformSdlWindowHost.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/fmxMKzCamView.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  std::unique_ptr<IKzWindowHost> host = KzCreateSdlWindowHost();
  if (source.URL().empty() || !host) return std::fprintf(stderr, "no camera or no display\n"), 1;
  KzSetWindowHost(host.get());
  {
    TForm form(nullptr);  // owns the camera and the view
    form.SetCaption("KzMedia: " + source.URL());
    form.SetBounds(0, 0, 640, 480);
    form.OnClose = [](TComponent*) { Application().Terminate(); };
    auto* camera = new TKzCamera(&form);
    auto* view = new TKzCamView(&form);
    view->SetParent(&form);
    view->SetAlign(TAlignLayout::Client);
    view->SetVideoSource(camera);
    form.Show();
    source.Play(*camera);

    TTimer quit;  // optional time limit
    quit.SetInterval(argc > 2 ? static_cast<uint32_t>(std::atof(argv[2]) * 1000) : 0);
    quit.OnTimer = [](TTimer*) { Application().Terminate(); };
    quit.SetEnabled(argc > 2);
    Application().Run();
    view->SetVideoSource(nullptr);
    camera->Abort();
  }
  KzSetWindowHost(nullptr);
  return 0;
}
