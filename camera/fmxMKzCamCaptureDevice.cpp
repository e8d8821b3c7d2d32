#include "camera/fmxMKzCamCaptureDevice.h"

#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformControl.h"

namespace kz {

// ---- The camera's side

bool TKzCamera::BeforeCamDrawImageFromWebCam() { return !IsAborting(); }

void TKzCamera::AfterCamDrawImageFromWebCam() {}

void TKzCamera::SetDesktopForm(TForm* Value) {
  if (Value == FDesktopForm) return;
  if (FDesktopForm) FDesktopForm->RemoveFreeNotification(this);
  FDesktopForm = Value;
  if (FDesktopForm) FDesktopForm->FreeNotification(this);
  if (auto* d = dynamic_cast<TKzCamDesktopDevice*>(FDesktop.get())) d->Desktop().SetDesktopForm(Value);
}

// ---- Reports

bool TKzCamCaptureOwner::BeforeCamDrawImageFromWebCam() { return FCamera.BeforeCamDrawImageFromWebCam(); }

void TKzCamCaptureOwner::CamDrawImage(TKzMBitmap& Bitmap, double Time) { FCamera.CamDrawImage(Bitmap, Time); }

void TKzCamCaptureOwner::AfterCamDrawImageFromWebCam() { FCamera.AfterCamDrawImageFromWebCam(); }

void TKzCamCaptureOwner::ClearLastFrame() { FCamera.CallClearLastFrame(); }

void TKzCamCaptureOwner::DeviceOperation(TKzDeviceOperation Operation, bool Done) {
  if (FCamera.OnDeviceOperation) FCamera.OnDeviceOperation(&FCamera, Operation, Done);
}

void TKzCamCaptureOwner::CaptureDebug(const std::string& Text) { KzPostMessageDebug(&FCamera, 0, Text); }

void TKzCamCaptureOwner::CaptureFailed(const std::string& Reason) {
  CaptureDebug(Reason);
  std::lock_guard<std::mutex> g(FFailureLock);
  FFailure = Reason;
}

void TKzCamCaptureOwner::DoneVideoStream(int32_t Status) {
  std::string reason;
  {
    std::lock_guard<std::mutex> g(FFailureLock);
    reason.swap(FFailure);
  }
  FCamera.DeviceEndVideoStream(*this, Status, Status != 0 ? reason : std::string());
}

bool TKzCamCaptureOwner::WaitStopped(uint32_t Interval) {
  if (IsRunning()) KzMWait(Interval);
  return !IsRunning();
}

// ---- kzdtWebCamera

TKzCamWebCamDevice::TKzCamWebCamDevice(TKzCamera& Camera)
    : TKzCamCaptureOwner(Camera, TKzCamDeviceKind::kzcdkWebCamera), FWebCam(std::make_unique<TKzWebCam>(this)) {
  FWebCam->CreateVideoDeviceList();
}

TKzCamWebCamDevice::~TKzCamWebCamDevice() { FWebCam.reset(); }

void TKzCamWebCamDevice::Run() {
  if (FWebCam->IsVideoPlaying() && !FWebCam->IsStopping()) return;
  while (FWebCam->IsStopping()) KzMWait(20);
  const int32_t index = FCamera.VideoDeviceIndex();
  if (index != FWebCam->VideoDeviceIndex() || (index >= 0 && FWebCam->GetCamVideoModeCount() == 0)) {
    FWebCam->FillVideoDeviceList();
    FWebCam->SetVideoDeviceIndex(index);
    FWebCam->SetVideoDevice();
  }
  FWebCam->SetFramePerSec(FCamera.FramePerSec());
  FWebCam->SetVideoResolutionOnStart(FCamera.VideoResolution());
  FWebCam->RunVideo();
}

// ---- kzdtDesktop

TKzCamDesktopDevice::TKzCamDesktopDevice(TKzCamera& Camera)
    : TKzCamCaptureOwner(Camera, TKzCamDeviceKind::kzcdkDesktop), FDesktop(std::make_unique<TKzDesktop>(this)) {}

TKzCamDesktopDevice::~TKzCamDesktopDevice() { FDesktop.reset(); }

void TKzCamDesktopDevice::Run() {
  const TRect& r = FCamera.DesktopRect();
  FDesktop->SetDesktopMode(FCamera.DesktopMode());
  FDesktop->SetDesktopRect({r.Left, r.Top, r.Width(), r.Height()});
  FDesktop->SetDesktopWindow(FCamera.DesktopWindow());
  FDesktop->SetDesktopForm(FCamera.DesktopForm());
  FDesktop->SetZoomPercent(FCamera.DesktopZoomPercent());
  FDesktop->SetFramePerSec(FCamera.FramePerSec());
  FDesktop->PlayVideoStream();
}

std::unique_ptr<TKzCamDevice> KzCreateWebCamDevice(TKzCamera& Camera) {
  return std::make_unique<TKzCamWebCamDevice>(Camera);
}

std::unique_ptr<TKzCamDevice> KzCreateDesktopDevice(TKzCamera& Camera) {
  return std::make_unique<TKzCamDesktopDevice>(Camera);
}

}  // namespace kz
