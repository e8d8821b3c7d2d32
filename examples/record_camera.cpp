// Records a camera into a file through FFmpeg at 25 frames a second.
//   record_camera [URL [SECONDS [OUT]]]   (OUT: camera.mp4)
#include <cstdio>
#include <cstdlib>

#include "kzexample.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "recorder/fmxMKzCamRecorder.h"

using namespace kz;

int main(int argc, char** argv) {
  SetMainThread();
  TKzExampleSource source(argc > 1 ? argv[1] : nullptr);
  if (source.URL().empty()) return 1;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 5;
  TKzCamera camera(nullptr);
  TKzCamRecorder recorder(nullptr);
  recorder.SetOutputFileName(argc > 3 ? argv[3] : "camera.mp4");
  recorder.SetVideoSource(&camera);  // the size follows the camera's pictures
  recorder.OnError = [](TKzCamRecorder*, int32_t, const std::string& Text) { std::fprintf(stderr, "%s\n", Text.c_str()); };
  source.Play(camera);
  recorder.SetActive(true);
  if (!recorder.Active()) {
    std::fprintf(stderr, "cannot record (no FFmpeg, or the file cannot be written)\n");
    return 1;
  }
  const uint64_t end = PlatformTickCount() + uint64_t(seconds * 1000);
  PumpUntil([&] { return PlatformTickCount() >= end || !recorder.IsRecording(); }, int(seconds * 1000) + 1000);
  const TKzRecordStats stats = recorder.Stats();
  recorder.SetActive(false);
  recorder.SetVideoSource(nullptr);
  camera.Abort();
  std::printf("%s: %lld frames\n", recorder.OutputFileName().c_str(), static_cast<long long>(stats.FramesEncoded));
  return stats.FramesEncoded > 0 ? 0 : 1;
}
