#include "platform/fmxMKzPlatformAlsaDevices.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace kz {

namespace {

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// The control device of a PCM name: its card when it names one.
std::string MixerName(TKzAlsaDirection Direction, int32_t Index) {
  std::string pcm;
  if (!KzAlsaDeviceName(Direction, Index, pcm)) return "";
  const size_t card = pcm.find("CARD=");
  if (card == std::string::npos) return "default";
  const size_t end = pcm.find_first_of(",", card);
  return "hw:" + pcm.substr(card + 5, end == std::string::npos ? std::string::npos : end - card - 5);
}

// The mixer of a device with its first volume element of one direction.
class TAlsaMixer {
public:
  TAlsaMixer(TKzAlsaDirection Direction, int32_t DeviceIndex) : FPlayback(Direction == TKzAlsaDirection::kzadPlayback) {
    KzAlsaQuietErrors();
    const std::string name = MixerName(Direction, DeviceIndex);
    if (name.empty() || snd_mixer_open(&FMixer, 0) < 0) return;
    if (snd_mixer_attach(FMixer, name.c_str()) < 0 || snd_mixer_selem_register(FMixer, nullptr, nullptr) < 0 ||
        snd_mixer_load(FMixer) < 0)
      return;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(FMixer); e; e = snd_mixer_elem_next(e)) {
      if (!snd_mixer_selem_is_active(e)) continue;
      if (FPlayback ? snd_mixer_selem_has_playback_volume(e) : snd_mixer_selem_has_capture_volume(e)) {
        FElem = e;
        if (FPlayback)
          snd_mixer_selem_get_playback_volume_range(e, &FMin, &FMax);
        else
          snd_mixer_selem_get_capture_volume_range(e, &FMin, &FMax);
        break;
      }
    }
  }
  ~TAlsaMixer() {
    if (FMixer) snd_mixer_close(FMixer);
  }
  TAlsaMixer(const TAlsaMixer&) = delete;
  TAlsaMixer& operator=(const TAlsaMixer&) = delete;

  uint16_t Get() const {
    long v = 0;
    if (!FElem || FMax <= FMin) return 0;
    const int rc = FPlayback ? snd_mixer_selem_get_playback_volume(FElem, SND_MIXER_SCHN_FRONT_LEFT, &v)
                             : snd_mixer_selem_get_capture_volume(FElem, SND_MIXER_SCHN_FRONT_LEFT, &v);
    return rc < 0 ? 0 : static_cast<uint16_t>((v - FMin) * 65535 / (FMax - FMin));
  }
  bool Set(uint16_t Volume) const {
    if (!FElem || FMax <= FMin) return false;
    const long v = FMin + (FMax - FMin) * Volume / 65535;
    return (FPlayback ? snd_mixer_selem_set_playback_volume_all(FElem, v)
                      : snd_mixer_selem_set_capture_volume_all(FElem, v)) >= 0;
  }

private:
  const bool FPlayback;
  snd_mixer_t* FMixer = nullptr;
  snd_mixer_elem_t* FElem = nullptr;
  long FMin = 0;
  long FMax = 0;
};

}  // namespace

void KzAlsaQuietErrors() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaErrors); });
}

std::vector<std::string> KzAlsaDeviceNames(TKzAlsaDirection Direction) {
  KzAlsaQuietErrors();
  const std::string wanted = Direction == TKzAlsaDirection::kzadCapture ? "Input" : "Output";
  std::vector<std::string> names;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return names;
  for (void** h = hints; *h; ++h) {
    char* name = snd_device_name_get_hint(*h, "NAME");
    char* io = snd_device_name_get_hint(*h, "IOID");
    if (name && (!io || wanted == io)) names.emplace_back(name);
    free(name);
    free(io);
  }
  snd_device_name_free_hint(hints);
  return names;
}

bool KzAlsaDeviceName(TKzAlsaDirection Direction, int32_t Index, std::string& Name) {
  if (Index < 0) {
    Name = "default";
    return true;
  }
  const std::vector<std::string> names = KzAlsaDeviceNames(Direction);
  if (static_cast<size_t>(Index) >= names.size()) return false;
  Name = names[Index];
  return true;
}

uint16_t KzAlsaGetVolume(TKzAlsaDirection Direction, int32_t Index) { return TAlsaMixer(Direction, Index).Get(); }

bool KzAlsaSetVolume(TKzAlsaDirection Direction, int32_t Index, uint16_t Volume) {
  return TAlsaMixer(Direction, Index).Set(Volume);
}

}  // namespace kz
