// The ALSA wave-in backend: a capture PCM read in non-blocking mode by the
// device's capture thread, names from the PCM hints, the capture volume from
// the card's mixer.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>

#include "platform/fmxMKzPlatformAlsaDevices.h"
#include "platform/fmxMKzPlatformWaveIn.h"

namespace kz {

namespace {

class TKzAlsaWaveIn : public TKzWaveInDevice {
public:
  ~TKzAlsaWaveIn() override { Close(); }

protected:
  bool DeviceOpen(int32_t DeviceIndex, const TKzWaveInFormat& Format) override {
    KzAlsaQuietErrors();
    std::string name;
    if (!KzAlsaDeviceName(TKzAlsaDirection::kzadCapture, DeviceIndex, name)) return false;
    if (snd_pcm_open(&FPcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
      FPcm = nullptr;
      return false;
    }
    const snd_pcm_format_t fmt = Format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if ((Format.BitsPerSample != 8 && Format.BitsPerSample != 16) ||
        snd_pcm_set_params(FPcm, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, Format.Channels, Format.SamplesPerSec, 1,
                           500000) < 0) {
      DeviceClose();
      return false;
    }
    // Some plugins (the file plugin's input) refuse reads longer than their buffer.
    snd_pcm_uframes_t buffer = 0, period = 0;
    if (snd_pcm_get_params(FPcm, &buffer, &period) < 0 || period == 0) period = 1024;
    FReadFrames = period;
    return true;
  }
  void DeviceClose() override {
    if (FPcm) snd_pcm_close(FPcm);
    FPcm = nullptr;
  }
  bool DeviceStart() override {
    if (snd_pcm_prepare(FPcm) < 0) return false;
    const int rc = snd_pcm_start(FPcm);
    return rc >= 0 || rc == -EBADFD;  // some plugins start on the first read
  }
  void DeviceStop() override { snd_pcm_drop(FPcm); }
  TFill DeviceFill(TKzWaveInBuffer& Buffer) override {
    const int32_t align = Format().BlockAlign();
    const snd_pcm_uframes_t left = std::min<snd_pcm_uframes_t>((Buffer.BufferLength - Buffer.BytesRecorded) / align,
                                                               FReadFrames);
    if (left == 0) {
      Buffer.BytesRecorded = Buffer.BufferLength;
      return TFill::kzfProgress;
    }
    const snd_pcm_sframes_t n = snd_pcm_readi(FPcm, Buffer.Data + Buffer.BytesRecorded, left);
    if (n > 0) {
      Buffer.BytesRecorded += static_cast<uint32_t>(n) * align;
      return TFill::kzfProgress;
    }
    if (n == -EAGAIN || n == 0) {
      snd_pcm_wait(FPcm, 50);
      return TFill::kzfIdle;
    }
    if (n == -ENODEV || n == -EBADFD || n == -EIO) return TFill::kzfLost;
    // An overrun (or a suspend) loses what the device held; capture goes on.
    if (n == -EPIPE || n == -ESTRPIPE) CountOverrun();
    if (snd_pcm_recover(FPcm, static_cast<int>(n), 1) < 0) return TFill::kzfLost;
    snd_pcm_start(FPcm);
    return TFill::kzfProgress;
  }

private:
  snd_pcm_t* FPcm = nullptr;
  snd_pcm_uframes_t FReadFrames = 1024;
};

class TKzAlsaWaveInBackend : public IKzWaveInBackend {
public:
  std::unique_ptr<IKzWaveIn> CreateWaveIn() override { return std::make_unique<TKzAlsaWaveIn>(); }
  std::vector<std::string> DeviceNames() override { return KzAlsaDeviceNames(TKzAlsaDirection::kzadCapture); }
  uint16_t GetVolume(int32_t DeviceIndex) override { return KzAlsaGetVolume(TKzAlsaDirection::kzadCapture, DeviceIndex); }
  bool SetVolume(int32_t DeviceIndex, uint16_t Volume) override {
    return KzAlsaSetVolume(TKzAlsaDirection::kzadCapture, DeviceIndex, Volume);
  }
};

}  // namespace

IKzWaveInBackend& KzAlsaWaveInBackend() {
  static TKzAlsaWaveInBackend backend;
  return backend;
}

}  // namespace kz
