// The camera: construction and destruction, the frame pipeline and frames,
// the host and port it reads from.
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzCameraInternal.h"

#include "camera/fmxMKzCamControl.h"
#include "platform/fmxMKzPlatformControl.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

using namespace camera_detail;

// ---- Construction and destruction

namespace {
constexpr TGUID kNullGUID{};
constexpr int64_t kInitialInputSize = 8912;
}  // namespace

TKzCamera::TKzCamera(TComponent* AOwner)
    : TKzVideoSource(AOwner),
      FParameters(std::make_unique<TKzCameraParameters>(this)),
      FUsers(std::make_unique<TKzCamUserCollection>()),
      FProxyProperty(this) {
  KzInitFPS(_FPS);
  AttachUserHooks();
  FFFMpegProperty.OnChanged = [this] { RestartForSettings(); };
  if (!IsDesigning()) {
    KzMessages().RegisterMessageHandler2(this, MsgDebugText, [this](TMessage& m) { HandleDebugText(m); });
    KzMessages().RegisterMessageHandler2(this, MsgDeviceEnded, [this](TMessage& m) { HandleDeviceEnded(m); });
    FRegistered = true;
    FTimerMove = std::make_unique<TTimer>();
    FTimerMove->SetInterval(100);
    FTimerMove->OnTimer = [this](TTimer*) { DoTimerMove(); };
    FTimerSearchAnimation = std::make_unique<TTimer>();
    FTimerSearchAnimation->SetInterval(250);
  }
  FAgent = "IP Camera";
  FGetDataThread = new TKzGetData(this, FConsumers, kNullGUID, kInitialInputSize);
  // Set once, while the pipeline is idle; both read the camera's handlers
  // when they fire, so later assignments need no hand-over.
  TKzDecodeImage& decode = FGetDataThread->Decode();
  decode.OnStartVideo = [this](TComponent*) {
    if (OnStartVideoStream && !IsDestroying()) OnStartVideoStream(this);
  };
  decode.OnFPS = [this](TComponent*) { HookGetFPS(this); };
}

TKzCamera::~TKzCamera() {
  Destroying();
  FCommandLockCount += 1 << 20;  // nothing is sent while the camera is torn down
  FTimerMove.reset();
  FTimerSearchAnimation.reset();
  CancelReconnect();
  FTimerReconnect.reset();
  DestroyDevices();
  for (TKzBaseThread** aux : {&FThreadExecute, &IsFoscamThread, &IsPanasonicThread, &IsDLinkThread, &IsAxisThread,
                              &IsMobotixThread, &IsCamDevicesThread, &SearchCameraThread, &PrepareThread, &SetPropertyThread,
                              &FOnvifThread})
    KzMTerminateThreadAndWaitForFreeing(*aux, 500);
  KzMTerminateThreadAndWaitForFreeing(MJPEG, 500);
  KzMTerminateThreadAndWaitForFreeing(FThreadHTTP, 500);
  KzMTerminateThreadAndWaitForFreeing(FThreadRTSP, 500);
  KzMFreeThread(FGetDataThread);
  SetCameraControl(nullptr);
  if (FRegistered) KzMessages().UnRegister2(this);
}

void TKzCamera::DestroyDevices() {
  FGST.reset();
  FPlayer.reset();
  FWebCam.reset();
  FUserThread.reset();
  FDesktop.reset();
}

void TKzCamera::Loaded() {
  TKzVideoSource::Loaded();
  if (!IsDesigning()) InitDevice(FDeviceType, FVideoFormat);
}

void TKzCamera::Notification(TComponent* AComponent, TOperation Operation) {
  TKzVideoSource::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent && AComponent == FCameraControl) FCameraControl = nullptr;
  if (Operation == TOperation::opRemove && AComponent && AComponent == static_cast<TComponent*>(FDesktopForm)) SetDesktopForm(nullptr);
}


// ---- Frames

void TKzCamera::CamDrawImage(TKzMBitmap& Bitmap, double Time) { DrawImage(Bitmap, Time, false); }

void TKzCamera::CamDrawImageSwap(TKzMBitmap& Bitmap, double Time) { DrawImage(Bitmap, Time, true); }

void TKzCamera::DrawImage(TKzMBitmap& Bitmap, double Time, bool Swap) {
  if (TKzDrawImage* paint = Paint()) {
    const bool buffered = FLatency.load(std::memory_order_acquire) > 0;
    if (buffered && Swap)
      paint->AddToBufferSwap(Bitmap, Time);
    else if (buffered)
      paint->AddToBuffer(Bitmap, Time);
    else if (Swap)
      paint->OutputImageSwap(Bitmap, Time);
    else
      paint->OutputImageProtected(Bitmap, Time);
  }
  {
    std::lock_guard<TCriticalSection> g(FFPSSection);
    KzRecalcFPS(1, _FPS);
  }
}

double TKzCamera::GetFPS() {
  std::lock_guard<TCriticalSection> g(FFPSSection);
  return KzRecalcFPS(0, _FPS);
}

void TKzCamera::HookGetFPS(TComponent*) {
  std::lock_guard<TCriticalSection> g(FFPSSection);
  KzRecalcFPS(1, _FPS);
}

// ---- The frame pipeline

TKzDrawImage* TKzCamera::Paint() const { return FGetDataThread ? &FGetDataThread->Paint() : nullptr; }

void TKzCamera::InitGetDataThread() {
  if (!FGetDataThread) return;
  TKzDecodeImage& decode = FGetDataThread->Decode();
  decode.isStartVideo = false;
  decode.SetJpegIntegrity(FJpegIntegrity);
  TKzDrawImage& paint = FGetDataThread->Paint();
  paint.SetOnGetImage(OnGetImage);
  paint.SetOnGetImageEx(OnGetImageEx);
  paint.SetOnGetRegions(OnGetRegions);
  paint.SetMotionStep([this](TKzMBitmap& Frame) { return &FMotionDetectorProperties.DetectMotion(Frame); });
  paint.SetSmoothImage(FSmoothImage);
  paint.SetRotation(FRotation);
  paint.SetLatency(FLatency.load(std::memory_order_acquire));
}

void TKzCamera::StartGetDataThread() {
  if (!FGetDataThread) return;
  InitGetDataThread();
  if (FGetDataThread->Suspended()) FGetDataThread->Run();
}

void TKzCamera::LockConsumers() {
  if (TKzDrawImage* paint = Paint())
    paint->LockDisplay();
  else
    TKzVideoSource::LockConsumers();
}

void TKzCamera::UnlockConsumers() {
  if (TKzDrawImage* paint = Paint())
    paint->UnlockDisplay();
  else
    TKzVideoSource::UnlockConsumers();
}

bool TKzCamera::CanOutputFrames() {
  TKzDrawImage* paint = Paint();
  return paint ? paint->HasConsumers() : HasConsumers();
}

TKzDecodeSize TKzCamera::WantedDecodeSize() {
  TKzDrawImage* paint = Paint();
  return paint ? paint->WantedDecodeSize() : TKzDecodeSize::Full();
}

// A frame the decoder made smaller for the views is decoded again at the
// source's size: snapshots are of the camera's picture.
void TKzCamera::SnapshotAtSourceSize(TKzMBitmap& Image) {
  TKzMBitmap full;
  if (!Image.IsScaledFromSource() || !FGetDataThread || !FGetDataThread->Decode().NewestFrameFullSize(full)) return;
  RotateImg(full, Paint()->Rotation());
  Image.SwapPixels(full);
}

TKzMBitmap TKzCamera::GetCurrentImageEx(double& Time) {
  TKzMBitmap image;
  Time = 0;
  if (!IsDesigning() && Paint() && Paint()->GetCurrentImage(image, Time)) SnapshotAtSourceSize(image);
  return image;
}

TKzMBitmap TKzCamera::GetCurrentImage() {
  double time = 0;
  return GetCurrentImageEx(time);
}

std::unique_ptr<TKzImageWrapper> TKzCamera::GetSnapShotEx(double& Time) {
  Time = 0;
  if (IsDesigning() || !Paint()) return nullptr;
  std::unique_ptr<TKzImageWrapper> shot = Paint()->GetSnapShot(Time);
  if (shot) SnapshotAtSourceSize(shot->GetBitmap());
  return shot;
}

std::unique_ptr<TKzImageWrapper> TKzCamera::GetSnapShot() {
  double time = 0;
  return GetSnapShotEx(time);
}

uint32_t TKzCamera::GetFrameIndex() {
  TKzDrawImage* paint = Paint();
  return paint ? static_cast<uint32_t>(paint->LastFrameIndex()) : TKzVideoSource::GetFrameIndex();
}

int64_t TKzCamera::GetLastFrameTickCount() {
  TKzDrawImage* paint = Paint();
  return paint ? paint->LastFrameTickCount() : TKzVideoSource::GetLastFrameTickCount();
}

// ---- Host and port

std::string TKzCamera::GetExtractCameraHost() const {
  if (!FCameraHost.empty() || FURL.empty()) return FCameraHost;
  std::string host, path;
  int port = 0;
  ParseURL2(FURL, 0, host, path, port);
  return host;
}

uint16_t TKzCamera::GetExtractCameraPort() const {
  if (FCameraPort != 0 || FURL.empty()) return FCameraPort;
  std::string host, path;
  int port = 0;
  ParseURL2(FURL, IsRTSPURL(FURL) ? 554 : 80, host, path, port);
  return static_cast<uint16_t>(port);
}

}  // namespace kz
