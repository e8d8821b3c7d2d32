// Control vocabulary that cameras of every kind share with the views: the
// movements of a pan/tilt head and the colour controls of an image.
// Ordinals are stored with forms and sent to devices: keep the order.
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

}  // namespace kz
