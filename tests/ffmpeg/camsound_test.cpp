// kz-test-labels: peer slow
// A camera's sound through TKzCamSound onto the player (the fake wave-out on
// the real clock): a file with a flash and a beep at each second; the
// flashes follow the moments the beeps leave the device, because the decoder
// follows the sound actually played.
#include <mutex>

#include "audio/fmxMKzAudioPlayer.h"
#include "camera/fmxMKzCamSound.h"
#include "platform/fmxMKzPlatformFakeWaveOut.h"
#include "tests/camera/camera_rig.h"
#include "tests/ffmpeg/kzffmpegtest.h"

namespace kz {
namespace {

// When bright pictures arrive (draw thread).
struct TFlashView : IKzCamViewConsumer {
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& B, bool, uint16_t, const TGUID&) override {
    const bool bright = B.Width() > 0 && (B.Pixel(B.Width() / 2, B.Height() / 2) & 0xFF) > 128;
    std::lock_guard<std::mutex> g(Lock);
    if (bright && !WasBright) Flashes.push_back(double(KzMGetTickCount()));
    WasBright = bright;
  }
  std::mutex Lock;
  bool WasBright = false;
  std::vector<double> Flashes;
};

// The moments (ms) beeps start in what the device played: 16-bit mono.
std::vector<double> BeepStarts(const std::vector<TKzFakeWaveOutBackend::TPlayed>& Played) {
  std::vector<double> starts;
  double lastLoud = -1e9;
  for (const auto& p : Played) {
    const double rate = p.Format.SamplesPerSec;
    for (size_t i = 0; i + 1 < p.Bytes.size(); i += 2) {
      const int16_t v = int16_t(uint8_t(p.Bytes[i]) | (uint8_t(p.Bytes[i + 1]) << 8));
      const double at = p.StartMs + double(i / 2) * 1000.0 / rate;
      if (std::abs(v) > 2000) {
        if (at - lastLoud > 500) starts.push_back(at);
        lastLoud = at;
      }
    }
  }
  return starts;
}

TEST(CamSound, FlashesFollowTheBeepsThePlayerPlays) {
  KZ_NEED(kztest::HaveProgram("ffmpeg"), "the ffmpeg tools");
  KZ_NEED(LoadFFMpegLibraries(""), LastFFmpegBindError());
  kztest::TTempDir dir;
  const std::string path = dir / "flash.mp4";
  ASSERT_TRUE(kztest::MakeMedia(
      "-f lavfi -i color=c=black:s=64x48:r=25:d=5 -f lavfi -i \"aevalsrc=if(lt(mod(t\\,1)\\,0.2)\\,0.5*sin(2*PI*1000*t)\\,0):s=16000:d=5\" "
      "-vf \"drawbox=t=fill:c=white:enable='lt(mod(t,1),0.2)'\" "
      "-c:v libx264 -g 5 -c:a aac -ac 1",
      path));
  TKzFakeWaveOutBackend fake;
  IKzWaveOutBackend* previous = KzSetWaveOutBackend(&fake);
  {
    kztest::TStreamRig rig;
    TFlashView view;
    rig.Cam.RegisterCamView(&view);
    TKzAudioPlayer player(nullptr);
    player.SetActive(true);
    TKzCamSound sound(nullptr);
    sound.SetAudioOutput(&player);
    sound.SetCamera(&rig.Cam);
    rig.Cam.PlayVideoFile(path);
    ASSERT_TRUE(rig.WaitEnd(kztest::kSanitized ? 120000 : 30000));
    kztest::PumpFor(500);
    sound.SetCamera(nullptr);
    rig.Cam.UnRegisterCamView(&view);
    const std::vector<double> beeps = BeepStarts(fake.Played());
    std::lock_guard<std::mutex> g(view.Lock);
    ASSERT_GE(beeps.size(), 4u);
    ASSERT_GE(view.Flashes.size(), 4u);
    // From the second flash on (the first shows before any sound has
    // played), each flash reaches the view within 40 ms of its beep leaving
    // the device (sanitized builds run too slowly to hold that).
    const double bound = kztest::kSanitized ? 150.0 : 40.0;
    for (size_t i = 1; i < view.Flashes.size(); ++i) {
      double nearest = beeps.front();
      for (double b : beeps)
        if (std::abs(view.Flashes[i] - b) < std::abs(view.Flashes[i] - nearest)) nearest = b;
      EXPECT_LE(std::abs(view.Flashes[i] - nearest), bound) << "flash " << i << " at " << view.Flashes[i] - nearest << " ms";
    }
  }
  KzSetWaveOutBackend(previous);
}

}  // namespace
}  // namespace kz
