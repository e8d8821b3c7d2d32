// The objects behind the camera's local device kinds: the capture device,
// desktop capture, the file player, application-supplied frames and
// GStreamer playback. The camera drives each through this one interface;
// each hands its frames to the camera (CamDrawImage) and reports its start
// and end through the camera, on the main thread.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "video/fmxMKzCamControlTypes.h"

namespace kz {

class TKzCamera;

enum class TKzCamDeviceKind : uint8_t {
  kzcdkWebCamera = 0,  // local capture device
  kzcdkDesktop = 1,    // screen, rectangle or window
  kzcdkFilePlayer = 2, // video file through the system's media framework
  kzcdkUserData = 3,   // frames from the camera's OnNeedData
  kzcdkGStreamer = 4,  // RTSP and HTTP through GStreamer
};

class TKzCamDevice {
public:
  // Main thread, never blocks.
  TKzCamDevice(TKzCamera& Camera, TKzCamDeviceKind Kind);
  // Stops the device and waits for it. Main thread; blocks about a second at most.
  virtual ~TKzCamDevice();
  TKzCamDevice(const TKzCamDevice&) = delete;
  TKzCamDevice& operator=(const TKzCamDevice&) = delete;

  TKzCamDeviceKind Kind() const { return FKind; }

  // Starts delivering frames; the end is reported once, later, through the
  // camera. Main thread; never blocks for long.
  virtual void Run() = 0;
  // Asks the device to stop; its end report follows. Main thread, never blocks.
  virtual void Stop() = 0;
  // Main thread, never block.
  virtual bool IsRunning() const = 0;
  virtual bool IsStopping() const { return false; }
  // Waits up to about Interval ms for a stopping device to end; returns
  // whether it is no longer running. Main thread; blocks (running main-thread work).
  virtual bool WaitStopped(uint32_t Interval) {
    (void)Interval;
    return !IsRunning();
  }
  // A new frame rate. Main thread, never blocks.
  virtual void SetFramePerSec(double Value) = 0;
  // Pan/tilt and colour controls of devices that have them; the base has
  // none and answers false. Main thread, never block.
  virtual bool Move(TKzCamMovementEx Movement) { return (void)Movement, false; }
  virtual bool MoveStop(TKzCamMovementEx Movement) { return (void)Movement, false; }
  virtual bool CanMove(TKzCamMovementEx Movement) const { return (void)Movement, false; }
  virtual bool SetColorControl(TKzColorControlProperty Property, int32_t Value) {
    return (void)Property, (void)Value, false;
  }

protected:
  // The three notifications, fired through the camera's events and
  // consumers. Main thread.
  void NotifyVideoStart();
  void NotifyStartVideoStream();
  void NotifyEndVideoStream(int32_t Status);

  TKzCamera& FCamera;

private:
  TKzCamDeviceKind FKind;
};

// A device kind that this build cannot provide: Run ends at once with Status 1
// and a debug text naming what is missing. Never pretends to succeed.
class TKzCamDeviceNotAvailable : public TKzCamDevice {
public:
  TKzCamDeviceNotAvailable(TKzCamera& Camera, TKzCamDeviceKind Kind, std::string Text);
  void Run() override;
  void Stop() override {}
  bool IsRunning() const override { return false; }
  void SetFramePerSec(double) override {}
  const std::string& Text() const { return FText; }

private:
  std::string FText;
};

// The device object for a kind. Main thread, never blocks.
std::unique_ptr<TKzCamDevice> KzCreateCamDevice(TKzCamDeviceKind Kind, TKzCamera& Camera);

}  // namespace kz
