// What a view asks of the camera it shows: the device kind and address for
// its caption, the playing and searching state, and pan/tilt movement. The
// camera implements this interface; a view finds it on its video source and
// otherwise treats the source as a plain video source.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/fmxMKzSmallSet.h"

namespace kz {

// Kinds of device a camera takes its video from. Ordinals are stored with
// forms: keep the order.
enum class TKzDeviceType : uint8_t {
  kzdtIPCamera = 0,
  kzdtWebCamera = 1,
  kzdtDesktop = 2,
  kzdtFile = 3,
  kzdtRTSP = 4,
  kzdtHTTP = 5,
  kzdtUserData = 6,
};

// Operations a camera may offer; the accessible ones depend on the user's
// access level. A set of them is a 16-bit mask.
enum class TKzCamMethod : uint8_t {
  kzul_dtpGetTimeZoneStr = 0,
  kzcm_wlScan = 1,
  kzcm_wlScanResults = 2,
  kzcm_dmUpgradeDeviceFirmware = 3,
  kzcm_dmBackup = 4,
  kzcm_dmRestore = 5,
  kzcm_dmRestoreFactorySettings = 6,
  kzcm_dmRebootDevice = 7,
  kzcm_dmLog = 8,
  kzcm_VideoStream = 9,
  kzcm_SnapShot = 10,
  kzcm_Move = 11,
  kzcm_LedOn = 12,
  kzcm_LedOff = 13,
  kzcm_Flip = 14,
  kzcm_ResetImageSettings = 15,
};
using TKzCamMethods = TKzSmallSet<TKzCamMethod>;

// Main thread for all operations; none blocks for long (movement commands
// are handed to the camera's command thread).
class IKzCamViewSource {
public:
  virtual ~IKzCamViewSource() = default;

  // ---- For the caption and the search panel
  virtual TKzDeviceType DeviceType() const = 0;
  virtual const std::string& URL() const = 0;
  virtual const std::string& CameraHost() const = 0;
  virtual uint16_t CameraPort() const = 0;
  // The video file of device kzdtFile.
  virtual const std::string& SourceFileName() const = 0;
  // The Motion-JPEG file being played (empty when none plays).
  virtual const std::string& PlayingFileName() const = 0;
  // The name the camera calls itself (empty when unknown).
  virtual const std::string& Alias() const = 0;

  // ---- State
  virtual bool IsVideoPlaying() const = 0;
  virtual bool IsFilePlaying() const = 0;
  // The camera is being contacted (a search runs).
  virtual bool Searching() const = 0;
  virtual TKzCamMethods GetAccessibleCamMethods() const = 0;

  // ---- Pan/tilt. Each returns whether a command was sent.
  virtual bool MoveLeft() = 0;
  virtual bool MoveRight() = 0;
  virtual bool MoveUp() = 0;
  virtual bool MoveDown() = 0;
  virtual bool MoveLeftUp() = 0;
  virtual bool MoveLeftDown() = 0;
  virtual bool MoveRightUp() = 0;
  virtual bool MoveRightDown() = 0;
  virtual bool MoveCenter() = 0;
  virtual bool MoveLeftStop() = 0;
  virtual bool MoveRightStop() = 0;
  virtual bool MoveUpStop() = 0;
  virtual bool MoveDownStop() = 0;
};

}  // namespace kz
