// The capture-device camera independent of the operating system: the
// device list, the choice of a video mode, the device's image and
// camera-control properties, and pan/tilt movement. A platform class
// supplies the device access (fmxMKzV4L2WebCamera on Linux).
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/fmxMKzCustomBase.h"
#include "foundation/fmxMKzVideoDevices.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

// Ordinal = bit number in the availability mask.
enum class TKzWebCamProperty : uint8_t {
  kzwcpPan = 0,
  kzwcpTilt = 1,
  kzwcpRoll = 2,
  kzwcpZoom = 3,
  kzwcpExposure = 4,
  kzwcpIris = 5,
  kzwcpFocus = 6,
  kzwcpBrightness = 7,
  kzwcpContrast = 8,
  kzwcpHue = 9,
  kzwcpSaturation = 10,
  kzwcpSharpness = 11,
  kzwcpGamma = 12,
  kzwcpColorEnable = 13,
  kzwcpWhiteBalance = 14,
  kzwcpBacklightCompensation = 15,
  kzwcpGain = 16,
};
constexpr int KzWebCamPropertyCount = 17;

enum class TKzWebCamPropertyGroup : uint8_t { kzwcpgUnknown = 0, kzwcpgCameraControl = 1, kzwcpgVideoProcAmp = 2 };
// Properties 0..6 are camera controls, 7..16 video processing.
TKzWebCamPropertyGroup KzWebCamPropertyGroup(TKzWebCamProperty P);
// The property's name as the programs print it ("Pan", "WhiteBalance", …).
const char* KzWebCamPropertyName(TKzWebCamProperty P);
// The colour control's property.
TKzWebCamProperty KzColorControlToWebCamProperty(TKzColorControlProperty C);

enum class TKzWebCamInternalCommand : uint8_t { kzwcicNone = 0, kzwcicStart = 1, kzwcicStop = 2 };

struct TKzWebCamPropertyRange {
  int32_t Min = 0, Max = 0, Step = 1, Default = 0;
  bool HasAuto = false;
};

class TKzCustomWebCam : public TKzCustomBase {
public:
  TKzCustomWebCam(IKzCaptureOwner* Owner, std::string ThreadName);

  // ---- Devices (main thread; the list is the process-wide VideoDevices()).
  virtual void CreateVideoDeviceList() { FillVideoDeviceList(); }
  // Lists the devices and their modes anew. Main thread; blocks briefly.
  virtual void FillVideoDeviceList() = 0;
  int32_t GetVideoDeviceCount() const;
  std::string GetVideoDeviceList(int32_t Index) const;    // display name
  std::string GetVideoDeviceIdList(int32_t Index) const;  // stable identifier
  int32_t VideoDeviceIndex() const { return FDeviceIndex; }
  // Selects device Index (-1: none), taking a copy of its modes. Main thread.
  virtual bool SetVideoDeviceIndex(int32_t Index);
  // Opens the selected device for its properties. Main thread.
  virtual bool SetVideoDevice() = 0;
  virtual void DestroyVideoDevice() = 0;

  // ---- Modes (main thread unless said).
  int32_t GetCamVideoModeCount() const;
  TKzCamVideoMode GetCamVideoMode(int32_t Index) const;
  int32_t GetCamVideoModeIndex() const;
  TKzCamVideoMode GetCamCurrentVideoMode() const;
  virtual bool SetCamVideoMode(int32_t Index);
  void SetVideoResolution(TKzVideoResolution Resolution) { SetVideoResolutionOnStart(Resolution); }
  // Takes the largest mode inside Resolution's size (both sides strictly
  // larger than the best so far), then of that size the format whose rate
  // reaches FramePerSec (uncompressed first at equal rate).
  void SetVideoResolutionOnStart(TKzVideoResolution Resolution);
  // The device list's best mode for Resolution's size; -1 without device or size.
  int32_t GetIndexByVideoResolutionOnStart(TKzVideoResolution Resolution) const;
  // The class of mode Index's exact size, kzDefault for any other size.
  TKzVideoResolution GetVideoResolutionByIndex(int32_t Index) const;
  void SetFramePerSec(double Fps) override;
  double FramePerSec() const { return FFramePerSec.load(std::memory_order_acquire); }
  // Not adjustable on capture devices; kept for the camera's setters.
  void SetVideoMode(int32_t) {}
  void SetQuality(int32_t) {}
  void SetFocusType(int32_t) {}

  // ---- Streaming (main thread, never block): the platform class queues the
  // device work on its own thread.
  virtual void RunVideo() = 0;
  virtual void StopVideo() = 0;
  // Any thread.
  virtual std::string GetVideoProperty() const;

  // ---- Properties (main thread; the device must be selected).
  uint32_t GetAvailableProperties();
  bool GetPropertyValue(TKzWebCamProperty P, int32_t& Value);
  bool SetPropertyValue(TKzWebCamProperty P, int32_t Value);
  bool GetPropertyAutoMode(TKzWebCamProperty P, bool& Auto);
  bool SetPropertyAutoMode(TKzWebCamProperty P, bool Auto);
  bool GetPropertyRange(TKzWebCamProperty P, int32_t& Min, int32_t& Max, int32_t& Step, int32_t& Default);
  int32_t GetPropertyDefaultValue(TKzWebCamProperty P);
  // Through the colour mapping; a property that is not available is not set and reads as 0.
  bool SetColorControlProperty(TKzColorControlProperty C, int32_t Value);
  int32_t GetColorControlProperty(TKzColorControlProperty C);
  void ResetColorControlProperties();
  bool SetFocusDistance(int32_t Distance);
  int32_t GetFocusDistance();

  // ---- Movement (main thread).
  bool CanMove(TKzCamMovementEx Direction);
  bool Move(TKzCamMovementEx Direction);

protected:
  // The platform's property access. Main thread.
  virtual bool PropertyRange(TKzWebCamProperty P, TKzWebCamPropertyRange& Range) = 0;
  virtual bool ReadProperty(TKzWebCamProperty P, int32_t& Value) = 0;
  virtual bool WriteProperty(TKzWebCamProperty P, int32_t Value) = 0;
  virtual bool ReadAuto(TKzWebCamProperty P, bool& Auto) = 0;
  virtual bool WriteAuto(TKzWebCamProperty P, bool Auto) = 0;
  // Axes that only move by steps (no position to read): one step by Sign.
  virtual bool CanStepAxis(TKzWebCamProperty P) {
    (void)P;
    return false;
  }
  virtual bool StepAxis(TKzWebCamProperty P, int Sign) {
    (void)P, (void)Sign;
    return false;
  }
  // Back to the home position without a position to write.
  virtual bool ResetAxis(TKzWebCamProperty P) {
    (void)P;
    return false;
  }

  // The selected device's modes and the chosen one, read by the device
  // thread under FModeLock.
  mutable std::mutex FModeLock;
  std::vector<TKzCamVideoMode> FModes;
  int32_t FModeIndex = -1;
  std::string FDeviceId;
  int32_t FDeviceIndex = -1;
  std::atomic<double> FFramePerSec{25.0};
  bool FChoosingMode = false;  // re-entry guard of the mode choice (main thread)

private:
  bool Available(TKzWebCamProperty P);
  // The steps of one direction on each axis; false for patrols.
  bool MoveSteps(TKzCamMovementEx Direction, int& Pan, int& Tilt) const;
  bool AxisCanMove(TKzWebCamProperty P, int Sign);
  bool MoveAxis(TKzWebCamProperty P, int Sign);
};

}  // namespace kz
