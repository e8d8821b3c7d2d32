// The ALSA wave-in backend: a capture PCM read in non-blocking mode by the
// device's capture thread, names from the PCM hints, the capture volume from
// the card's mixer.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <mutex>

#include "platform/fmxMKzPlatformWaveIn.h"

namespace kz {

namespace {

// alsa-lib prints its own failures to stderr; the library reports them its
// own way instead.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void InstallQuietErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaErrors); });
}

std::vector<std::string> CaptureDeviceNames() {
  InstallQuietErrorHandler();
  std::vector<std::string> names;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return names;
  for (void** h = hints; *h; ++h) {
    char* name = snd_device_name_get_hint(*h, "NAME");
    char* io = snd_device_name_get_hint(*h, "IOID");
    // Hints without a direction serve both.
    if (name && (!io || std::string(io) == "Input")) names.emplace_back(name);
    free(name);
    free(io);
  }
  snd_device_name_free_hint(hints);
  return names;
}

// The PCM name of an index: -1 is the system default.
bool DeviceName(int32_t Index, std::string& Name) {
  if (Index < 0) {
    Name = "default";
    return true;
  }
  const std::vector<std::string> names = CaptureDeviceNames();
  if (static_cast<size_t>(Index) >= names.size()) return false;
  Name = names[Index];
  return true;
}

// The control device of a PCM name: its card when it names one.
std::string MixerName(int32_t Index) {
  std::string pcm;
  if (!DeviceName(Index, pcm)) return "";
  const size_t card = pcm.find("CARD=");
  if (card == std::string::npos) return "default";
  const size_t end = pcm.find_first_of(",", card);
  return "hw:" + pcm.substr(card + 5, end == std::string::npos ? std::string::npos : end - card - 5);
}

// The mixer of a device with its first capture volume element.
class TAlsaCaptureMixer {
public:
  explicit TAlsaCaptureMixer(int32_t DeviceIndex) {
    InstallQuietErrorHandler();
    const std::string name = MixerName(DeviceIndex);
    if (name.empty() || snd_mixer_open(&FMixer, 0) < 0) return;
    if (snd_mixer_attach(FMixer, name.c_str()) < 0 || snd_mixer_selem_register(FMixer, nullptr, nullptr) < 0 ||
        snd_mixer_load(FMixer) < 0)
      return;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(FMixer); e; e = snd_mixer_elem_next(e)) {
      if (snd_mixer_selem_is_active(e) && snd_mixer_selem_has_capture_volume(e)) {
        FElem = e;
        snd_mixer_selem_get_capture_volume_range(e, &FMin, &FMax);
        break;
      }
    }
  }
  ~TAlsaCaptureMixer() {
    if (FMixer) snd_mixer_close(FMixer);
  }
  TAlsaCaptureMixer(const TAlsaCaptureMixer&) = delete;
  TAlsaCaptureMixer& operator=(const TAlsaCaptureMixer&) = delete;

  uint16_t Get() const {
    long v = 0;
    if (!FElem || FMax <= FMin || snd_mixer_selem_get_capture_volume(FElem, SND_MIXER_SCHN_FRONT_LEFT, &v) < 0)
      return 0;
    return static_cast<uint16_t>((v - FMin) * 65535 / (FMax - FMin));
  }
  bool Set(uint16_t Volume) const {
    if (!FElem || FMax <= FMin) return false;
    return snd_mixer_selem_set_capture_volume_all(FElem, FMin + (FMax - FMin) * Volume / 65535) >= 0;
  }

private:
  snd_mixer_t* FMixer = nullptr;
  snd_mixer_elem_t* FElem = nullptr;
  long FMin = 0;
  long FMax = 0;
};

class TKzAlsaWaveIn : public TKzWaveInDevice {
public:
  ~TKzAlsaWaveIn() override { Close(); }

protected:
  bool DeviceOpen(int32_t DeviceIndex, const TKzWaveInFormat& Format) override {
    InstallQuietErrorHandler();
    std::string name;
    if (!DeviceName(DeviceIndex, name)) return false;
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
  std::vector<std::string> DeviceNames() override { return CaptureDeviceNames(); }
  uint16_t GetVolume(int32_t DeviceIndex) override { return TAlsaCaptureMixer(DeviceIndex).Get(); }
  bool SetVolume(int32_t DeviceIndex, uint16_t Volume) override { return TAlsaCaptureMixer(DeviceIndex).Set(Volume); }
};

}  // namespace

IKzWaveInBackend& KzAlsaWaveInBackend() {
  static TKzAlsaWaveInBackend backend;
  return backend;
}

}  // namespace kz
