// Movement directions, colour controls and desktop modes shared by the
// camera and the local capture devices.
#pragma once
#include <cstdint>

namespace kz {

enum class TKzCamMovementEx : uint8_t {
  kzdHome = 0,
  kzdHPatrol = 1,
  kzdVPatrol = 2,
  kzdLeft = 3,
  kzdUp = 4,
  kzdRight = 5,
  kzdDown = 6,
  kzdUpLeft = 7,
  kzdUpRight = 8,
  kzdDownLeft = 9,
  kzdDownRight = 10,
};

enum class TKzColorControlProperty : uint8_t {
  kzccpBrightness = 0,
  kzccpContrast = 1,
  kzccpSaturation = 2,
  kzccpHue = 3,
  kzccpSharpness = 4,
};

// What desktop capture shows: the screen, a rectangle of it, or a window.
enum class TKzDesktopMode : uint8_t { kzdmFull = 0, kzdmRect = 1, kzdmWindow = 2 };

// What a local capture device reports doing (OnDeviceOperation).
enum class TKzDeviceOperation : uint8_t { kzdoInit = 0, kzdoOpen = 1, kzdoClose = 2 };

}  // namespace kz
