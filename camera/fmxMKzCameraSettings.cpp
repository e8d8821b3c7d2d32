// The camera: properties whose setters do more than store the value.
#include "camera/fmxMKzCamera.h"

#include "camera/fmxMKzCamControl.h"

namespace kz {

void TKzCamera::SetLatency(uint16_t Value) {
  FLatency.store(Value, std::memory_order_release);
  if (TKzDrawImage* paint = Paint()) paint->SetLatency(Value);
}

void TKzCamera::SetSmoothImage(bool Value) {
  FSmoothImage = Value;
  if (TKzDrawImage* paint = Paint()) paint->SetSmoothImage(Value);
}

void TKzCamera::SetRotation(TKzRotation Value) {
  FRotation = Value;
  if (TKzDrawImage* paint = Paint()) paint->SetRotation(Value);
}

void TKzCamera::SetJpegIntegrity(TKzJpegIntegrity Value) {
  FJpegIntegrity = Value;
  if (FGetDataThread) FGetDataThread->Decode().SetJpegIntegrity(Value);
}

void TKzCamera::SetFilename(const std::string& Value) { FFileName = Value; }

void TKzCamera::SetToFile(bool Value) {
  FToFile = Value;
  if (TKzDrawImage* paint = Paint()) paint->SetFileInfo(FFileName, Value);
}

// ---- Properties

void TKzCamera::SetFramePerSec(double Value) {
  TKzVideoSource::SetFramePerSec(Value);
  SetVideoResolution(FVideoResolution);  // the camera may need the new rate
  const double fps = FramePerSec();
  if (FGetDataThread) FGetDataThread->Decode().SetFramePerSec(fps);
  for (TKzCamDevice* d : {FDesktop.get(), FPlayer.get(), FWebCam.get(), FUserThread.get(), FGST.get()})
    if (d) d->SetFramePerSec(fps);
  for (TKzCamStreamThread* t : {MJPEG, FThreadHTTP, FThreadRTSP})
    if (t) t->SetFramePerSec(fps);
}

void TKzCamera::SetVideoImageIndex(int32_t Value) {
  const int32_t last = std::max<int32_t>(0, static_cast<int32_t>(FVideoImagesURLs.size()) - 1);
  FVideoImageIndex = std::clamp(Value, 0, last);
  if (FThreadHTTP) FThreadHTTP->SetVideoImageIndex(FVideoImageIndex);
}

void TKzCamera::SetCameraControl(TKzCamControl* Value) {
  if (Value == FCameraControl) return;
  if (FCameraControl) {
    RemoveFreeNotification(FCameraControl);
    FCameraControl->UnRegisterCamera(this);
  }
  FCameraControl = Value;
  if (FCameraControl) {
    FreeNotification(FCameraControl);
    FCameraControl->RegisterCamera(this);
  }
}

}  // namespace kz
