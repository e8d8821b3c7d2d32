// What the ALSA wave-in and wave-out backends share: the PCM names of one
// direction from the system's hints, the name of an index (-1: the default),
// the card mixer's volume of one direction, and alsa-lib kept quiet.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

enum class TKzAlsaDirection : uint8_t { kzadCapture, kzadPlayback };

// alsa-lib prints its own failures to stderr; the library reports them its
// own way. Any thread, never blocks.
void KzAlsaQuietErrors();
// PCM names of one direction in hint order (hints without a direction serve
// both). Any thread; asks the system.
std::vector<std::string> KzAlsaDeviceNames(TKzAlsaDirection Direction);
// The PCM name of Index (-1: "default"); false when out of range.
bool KzAlsaDeviceName(TKzAlsaDirection Direction, int32_t Index, std::string& Name);
// The first volume element of Direction on the device's card, 0..65535; 0
// (or false) without one. Any thread; asks the system.
uint16_t KzAlsaGetVolume(TKzAlsaDirection Direction, int32_t Index);
bool KzAlsaSetVolume(TKzAlsaDirection Direction, int32_t Index, uint16_t Volume);

}  // namespace kz
