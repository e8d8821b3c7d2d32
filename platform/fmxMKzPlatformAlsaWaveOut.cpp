// The ALSA wave-out backend: a playback PCM written in non-blocking mode by
// the device's thread, started by its first frame; names and volume from the
// same hints and mixer as capture.
#include <alsa/asoundlib.h>

#include <cerrno>

#include "platform/fmxMKzPlatformAlsaDevices.h"
#include "platform/fmxMKzPlatformWaveOut.h"

namespace kz {

namespace {

class TKzAlsaWaveOut : public TKzWaveOutDevice {
public:
  ~TKzAlsaWaveOut() override { Close(); }

protected:
  bool DeviceOpen(int32_t DeviceIndex, const TKzWaveOutFormat& Format) override {
    KzAlsaQuietErrors();
    std::string name;
    if ((Format.BitsPerSample != 8 && Format.BitsPerSample != 16) ||
        !KzAlsaDeviceName(TKzAlsaDirection::kzadPlayback, DeviceIndex, name))
      return false;
    if (snd_pcm_open(&FPcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
      FPcm = nullptr;
      return false;
    }
    const snd_pcm_format_t fmt = Format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (snd_pcm_set_params(FPcm, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, Format.Channels, Format.SamplesPerSec, 1,
                           250000) < 0 ||
        !StartOnFirstFrame()) {
      DeviceClose();
      return false;
    }
    return true;
  }
  void DeviceClose() override {
    if (FPcm) snd_pcm_close(FPcm);
    FPcm = nullptr;
  }
  int64_t DeviceWrite(const uint8_t* Data, int64_t Frames) override {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const snd_pcm_sframes_t n = snd_pcm_writei(FPcm, Data, static_cast<snd_pcm_uframes_t>(Frames));
      if (n >= 0) return n;
      if (n == -EAGAIN) return 0;
      if (n == -ENODEV || n == -EBADFD || n == -EIO) return -1;
      // The device ran dry (or was suspended): count it and go on.
      if (n == -EPIPE) CountUnderrun();
      if (snd_pcm_recover(FPcm, static_cast<int>(n), 1) < 0) return -1;
    }
    return 0;
  }
  int64_t DeviceDelay() override {
    snd_pcm_sframes_t delay = 0;
    // After an underrun everything written has played.
    if (snd_pcm_delay(FPcm, &delay) < 0 || delay < 0) return 0;
    return delay;
  }
  void DevicePause(bool Pause) override { snd_pcm_pause(FPcm, Pause ? 1 : 0); }
  void DeviceDrop() override {
    snd_pcm_drop(FPcm);
    snd_pcm_prepare(FPcm);
  }
  // Idle: nothing to feed (the thread wakes for a write or the next buffer's end).
  std::chrono::microseconds DeviceWaitTime(bool Idle) override {
    return Idle ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5);
  }

private:
  // The default start threshold is a full ring: a short stream would never start.
  bool StartOnFirstFrame() {
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    return snd_pcm_sw_params_current(FPcm, sw) >= 0 && snd_pcm_sw_params_set_start_threshold(FPcm, sw, 1) >= 0 &&
           snd_pcm_sw_params(FPcm, sw) >= 0;
  }
  snd_pcm_t* FPcm = nullptr;
};

class TKzAlsaWaveOutBackend : public IKzWaveOutBackend {
public:
  std::unique_ptr<IKzWaveOut> CreateWaveOut() override { return std::make_unique<TKzAlsaWaveOut>(); }
  std::vector<std::string> DeviceNames() override { return KzAlsaDeviceNames(TKzAlsaDirection::kzadPlayback); }
  uint16_t GetVolume(int32_t DeviceIndex) override {
    return KzAlsaGetVolume(TKzAlsaDirection::kzadPlayback, DeviceIndex);
  }
  bool SetVolume(int32_t DeviceIndex, uint16_t Volume) override {
    return KzAlsaSetVolume(TKzAlsaDirection::kzadPlayback, DeviceIndex, Volume);
  }
};

}  // namespace

IKzWaveOutBackend& KzAlsaWaveOutBackend() {
  static TKzAlsaWaveOutBackend backend;
  return backend;
}

}  // namespace kz
