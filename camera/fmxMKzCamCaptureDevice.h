// The camera's local capture kinds: kzdtWebCamera (a V4L2 capture device)
// and kzdtDesktop (the X11 screen). Each device object owns its capture
// object and is the owner it reports to, turning its reports into the
// camera's events and consumer notifications.
#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "camera/fmxMKzCamDevice.h"
#include "capture/fmxMKzDesktop.h"
#include "capture/fmxMKzV4L2WebCamera.h"

namespace kz {

// Reports of a capture object, passed on to the camera.
class TKzCamCaptureOwner : public TKzCamDevice, public IKzCaptureOwner {
public:
  TKzCamCaptureOwner(TKzCamera& Camera, TKzCamDeviceKind Kind) : TKzCamDevice(Camera, Kind) {}
  bool BeforeCamDrawImageFromWebCam() override;
  void CamDrawImage(TKzMBitmap& Bitmap, double Time) override;
  void AfterCamDrawImageFromWebCam() override;
  void StartVideoStream() override { NotifyVideoStart(); }
  void StartedVideoStream() override { NotifyStartVideoStream(); }
  void DoneVideoStream(int32_t Status) override;
  void ClearLastFrame() override;
  void DeviceOperation(TKzDeviceOperation Operation, bool Done) override;
  void CaptureDebug(const std::string& Text) override;
  void CaptureFailed(const std::string& Reason) override;
  // Waits for a stopping capture object. Main thread; runs main-thread work.
  bool WaitStopped(uint32_t Interval) override;

private:
  std::mutex FFailureLock;
  std::string FFailure;  // the reason of the failure being reported
};

class TKzCamWebCamDevice : public TKzCamCaptureOwner {
public:
  // Lists the devices. Main thread; blocks briefly.
  explicit TKzCamWebCamDevice(TKzCamera& Camera);
  ~TKzCamWebCamDevice() override;
  // Selects the camera's VideoDeviceIndex, the mode for its VideoResolution
  // and FramePerSec, and queues the start. Main thread; waits only for a
  // stop still under way.
  void Run() override;
  void Stop() override { FWebCam->StopVideo(); }
  bool IsRunning() const override { return FWebCam->IsVideoPlaying(); }
  bool IsStopping() const override { return FWebCam->IsStopping(); }
  void SetFramePerSec(double Value) override { FWebCam->SetFramePerSec(Value); }
  TKzWebCam& WebCam() { return *FWebCam; }

private:
  std::unique_ptr<TKzWebCam> FWebCam;
};

class TKzCamDesktopDevice : public TKzCamCaptureOwner {
public:
  explicit TKzCamDesktopDevice(TKzCamera& Camera);
  ~TKzCamDesktopDevice() override;
  // Takes the camera's desktop settings and starts. Main thread, never blocks.
  void Run() override;
  void Stop() override { FDesktop->Stop(); }
  bool IsRunning() const override { return FDesktop->IsVideoPlaying() || FDesktop->IsStopping(); }
  bool IsStopping() const override { return FDesktop->IsStopping(); }
  void SetFramePerSec(double Value) override { FDesktop->SetFramePerSec(Value); }
  TKzDesktop& Desktop() { return *FDesktop; }

private:
  std::unique_ptr<TKzDesktop> FDesktop;
};

std::unique_ptr<TKzCamDevice> KzCreateWebCamDevice(TKzCamera& Camera);
std::unique_ptr<TKzCamDevice> KzCreateDesktopDevice(TKzCamera& Camera);

}  // namespace kz
