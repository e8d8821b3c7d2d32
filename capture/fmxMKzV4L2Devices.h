// V4L2 capture devices as the library lists them: video-capture nodes only,
// each with a stable identifier (its by-id link name, else bus and card) and
// one mode per format and size with the rates it offers; and the device
// controls behind each TKzWebCamProperty.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "capture/fmxMKzCustomWebCam.h"
#include "foundation/fmxMKzVideoDevices.h"

namespace kz {

// Fills List with the capture devices of the current V4L2 backend. Any
// thread (the list itself is not thread-safe); blocks briefly.
void KzV4L2FillDeviceList(TKzMVideoDeviceList& List);
// The index in List of Device: its number, its node (/dev/videoN) or its
// identifier; -1 when none matches. Any thread; blocks briefly.
int32_t KzV4L2FindDeviceIndex(const TKzMVideoDeviceList& List, const std::string& Device);
// The node of the device with identifier Id, empty when it is not there.
std::string KzV4L2FindNode(const std::string& Id);

// The controls of one property: the value, the automatic switch (0: none)
// with its on and off values, and for pan and tilt the relative and reset
// controls.
struct TKzV4L2PropertyControls {
  TKzWebCamProperty Property;
  uint32_t Value;
  uint32_t Auto;
  int32_t AutoOn, AutoOff;
  uint32_t Relative;
  uint32_t Reset;
};
// The row of P; its Value is 0 when V4L2 has no such control.
const TKzV4L2PropertyControls& KzV4L2Controls(TKzWebCamProperty P);

}  // namespace kz
