#include "camera/fmxMKzCamDevice.h"

#include "camera/fmxMKzCamCaptureDevice.h"
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzUserVideoPlayer.h"

namespace kz {

TKzCamDevice::TKzCamDevice(TKzCamera& Camera, TKzCamDeviceKind Kind) : FCamera(Camera), FKind(Kind) {}

TKzCamDevice::~TKzCamDevice() = default;

void TKzCamDevice::NotifyVideoStart() { FCamera.DeviceVideoStart(*this); }

void TKzCamDevice::NotifyStartVideoStream() { FCamera.DeviceStartVideoStream(*this); }

void TKzCamDevice::NotifyEndVideoStream(int32_t Status) { FCamera.DeviceEndVideoStream(*this, Status); }

TKzCamDeviceNotAvailable::TKzCamDeviceNotAvailable(TKzCamera& Camera, TKzCamDeviceKind Kind, std::string Text)
    : TKzCamDevice(Camera, Kind), FText(std::move(Text)) {}

void TKzCamDeviceNotAvailable::Run() {
  // The end is reported the way a real device reports it: later, on the
  // main thread, after the start request has returned.
  FCamera.DeviceFailed(*this, FText);
}

namespace {
struct TKzCamDeviceEntry {
  TKzCamDeviceKind Kind;
  std::unique_ptr<TKzCamDevice> (*Create)(TKzCamera& Camera);  // null: not available in this build
  const char* NotAvailableText;
};

const TKzCamDeviceEntry kDevices[] = {
    {TKzCamDeviceKind::kzcdkWebCamera, KzCreateWebCamDevice, ""},
    {TKzCamDeviceKind::kzcdkDesktop, KzCreateDesktopDevice, ""},
    {TKzCamDeviceKind::kzcdkFilePlayer, nullptr, "The video file player is not available"},
    {TKzCamDeviceKind::kzcdkUserData, [](TKzCamera& c) -> std::unique_ptr<TKzCamDevice> { return std::make_unique<TKzUserVideoPlayer>(c); },
     ""},
    {TKzCamDeviceKind::kzcdkGStreamer, nullptr, "GStreamer playback is not available"},
};
}  // namespace

std::unique_ptr<TKzCamDevice> KzCreateCamDevice(TKzCamDeviceKind Kind, TKzCamera& Camera) {
  for (const TKzCamDeviceEntry& e : kDevices) {
    if (e.Kind != Kind) continue;
    if (e.Create) return e.Create(Camera);
    return std::make_unique<TKzCamDeviceNotAvailable>(Camera, Kind, e.NotAvailableText);
  }
  return std::make_unique<TKzCamDeviceNotAvailable>(Camera, Kind, "Unknown device kind");
}

}  // namespace kz
