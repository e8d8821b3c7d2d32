// Control vocabulary that cameras of every kind share with the views and
// the local capture devices: the movements of a pan/tilt head, the colour
// controls of an image, desktop modes and device operations. Ordinals are
// stored with forms and sent to devices: keep the order.
#pragma once
#include <cstdint>

namespace kz {

// A pan/tilt movement. 1..6 are the single movements a camera keeps flags
// for; 7..10 are diagonals made of two of them.
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

// A colour control of the image.
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
