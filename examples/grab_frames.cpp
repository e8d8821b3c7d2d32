// Saves the next N frames of a camera as PNG files, with the regions where
// the motion detector saw movement outlined in red.
//   grab_frames [URL [N [DIR]]]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kzexample.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzImageFiles.h"

using namespace kz;

// Receives every frame the camera shows (on the camera's draw thread).
class TFrameSaver : public IKzCamViewConsumer {
public:
  TFrameSaver(int Count, std::string Dir) : FCount(Count), FDir(std::move(Dir)) {}
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& Frame, bool, uint16_t, const TGUID&) override {
    if (Done()) return;
    const std::string name = FDir + "/frame-" + std::to_string(FSaved + 1) + ".png";
    std::string error;
    if (!KzWriteImageFile(Frame, name, error)) std::fprintf(stderr, "%s\n", error.c_str());
    ++FSaved;
  }
  bool Done() const { return FSaved >= FCount; }

private:
  const int FCount;
  std::atomic<int> FSaved{0};
  std::string FDir;
};

int main(int argc, char** argv) {
  SetMainThread();
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  if (source.URL().empty()) return 1;
  TFrameSaver saver(argc > 2 ? std::atoi(argv[2]) : 10, argc > 3 ? argv[3] : ".");
  TKzCamera camera(nullptr);
  camera.OnGetRegions = [](TComponent*, TKzMBitmap& Frame, TKzMotionDetector& Detector) {
    for (const TKzRectF& r : Detector.ValidRects())
      Frame.Rectangle(int32_t(r.Left), int32_t(r.Top), int32_t(r.Right), int32_t(r.Bottom), 0xFFFF0000u);
  };
  camera.RegisterCamView(&saver);
  source.Play(camera);
  // Events of the camera arrive on this thread while it pumps the main loop.
  PumpUntil([&] { return saver.Done() || !camera.IsVideoPlaying(); }, 30000);
  camera.Abort();
  camera.UnRegisterCamView(&saver);
  std::printf("%s\n", saver.Done() ? "saved" : "the camera stopped early");
  return saver.Done() ? 0 : 1;
}
