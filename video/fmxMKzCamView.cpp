#include "video/fmxMKzCamView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

namespace {
constexpr uint32_t kFrameTimeOutMs = 5000;
constexpr uint32_t kWaitAnimationStepMs = 100;
constexpr uint32_t kFullScreenIconCheckMs = 1000;
constexpr uint64_t kFullScreenIconHideMs = 3000;
constexpr int32_t kMinCaptionHeight = 10;

bool PtIn(const TRect& R, float X, float Y) { return X >= R.Left && X < R.Right && Y >= R.Top && Y < R.Bottom; }

int32_t RoundPx(double V) { return static_cast<int32_t>(std::lround(V)); }

std::string Trim(const std::string& S) {
  const size_t first = S.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = S.find_last_not_of(" \t");
  return S.substr(first, last - first + 1);
}

std::string BaseName(const std::string& Path) {
  const size_t slash = Path.find_last_of("/\\");
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// Colour channels times Ratio (clamped), alpha kept.
TAlphaColor ScaleColor(TAlphaColor C, double Ratio) {
  TAlphaColor out = C & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const double v = std::min(255.0, ((C >> shift) & 0xFFu) * Ratio);
    out |= static_cast<TAlphaColor>(v) << shift;
  }
  return out;
}

TKzPixelSurface SurfaceOf(TKzMBitmap& B) { return TKzPixelSurface{B.Data(), B.Width(), B.Height(), B.Width()}; }

TKzStretchQuality StretchQualityOf(TKzMFrameScaleQuality Q) {
  return Q == TKzMFrameScaleQuality::kzmfscLow ? TKzStretchQuality::kzsqLow : TKzStretchQuality::kzsqNormal;
}

// The movement command for a set of commanded directions, first match wins.
struct TKzMoveCommand {
  bool Center, Left, Right, Up, Down;
  bool (IKzCamViewSource::*Move)();
};
constexpr TKzMoveCommand kMoveCommands[] = {
    {true, false, false, false, false, &IKzCamViewSource::MoveCenter},
    {false, true, false, true, false, &IKzCamViewSource::MoveLeftUp},
    {false, true, false, false, true, &IKzCamViewSource::MoveLeftDown},
    {false, false, true, true, false, &IKzCamViewSource::MoveRightUp},
    {false, false, true, false, true, &IKzCamViewSource::MoveRightDown},
    {false, true, false, false, false, &IKzCamViewSource::MoveLeft},
    {false, false, true, false, false, &IKzCamViewSource::MoveRight},
    {false, false, false, true, false, &IKzCamViewSource::MoveUp},
    {false, false, false, false, true, &IKzCamViewSource::MoveDown},
};

// Keys that command a direction (Space: the home position).
struct TKzMoveKey {
  uint16_t Key;
  bool TKzMoveDirections::*Flag;
};
constexpr TKzMoveKey kMoveKeys[] = {
    {vk::Left, &TKzMoveDirections::Left}, {vk::Right, &TKzMoveDirections::Right},
    {vk::Up, &TKzMoveDirections::Up},     {vk::Down, &TKzMoveDirections::Down},
    {vk::Space, &TKzMoveDirections::Center},
};

const TKzMoveKey* FindMoveKey(uint16_t Key) {
  for (const TKzMoveKey& k : kMoveKeys)
    if (k.Key == Key) return &k;
  return nullptr;
}

bool Matches(const TKzMoveCommand& C, const TKzMoveDirections& D) {
  return (!C.Center || D.Center) && (!C.Left || D.Left) && (!C.Right || D.Right) && (!C.Up || D.Up) &&
         (!C.Down || D.Down);
}
}  // namespace

// ---- Geometry

TRect KzGetVideoRect(TKzCamViewMode Mode, const TRect& ClientArea, int32_t W, int32_t H) {
  const int32_t cw = ClientArea.Width();
  const int32_t ch = ClientArea.Height();
  const int32_t l = ClientArea.Left;
  const int32_t t = ClientArea.Top;
  if (W <= 0 || H <= 0 || ClientArea.IsEmpty()) return ClientArea;
  switch (Mode) {
    case TKzCamViewMode::vvmNormal:
      return TRect(l, t, l + W, t + H);
    case TKzCamViewMode::vvmCenter: {
      const int32_t left = RoundPx(l + (cw - W) / 2.0);
      const int32_t top = RoundPx(t + (ch - H) / 2.0);
      return TRect(left, top, left + W, top + H);
    }
    case TKzCamViewMode::vvmCut:
    case TKzCamViewMode::vvmAspect: {
      // Cut covers the area (one side fits, the other overflows); Aspect
      // fits inside it (one side fits, the other falls short).
      const bool widthFits = Mode == TKzCamViewMode::vvmCut ? static_cast<double>(W) / cw <= static_cast<double>(H) / ch
                                                            : static_cast<double>(W) / H > static_cast<double>(cw) / ch;
      if (widthFits) {
        const int32_t h = RoundPx(static_cast<double>(H) * cw / W);
        const int32_t top = RoundPx(t + (ch - h) / 2.0);
        return TRect(l, top, l + cw, top + h);
      }
      const int32_t w = RoundPx(static_cast<double>(W) * ch / H);
      const int32_t left = RoundPx(l + (cw - w) / 2.0);
      return TRect(left, t, left + w, t + ch);
    }
    case TKzCamViewMode::vvmStretch:
      break;
  }
  return ClientArea;
}

TKzMoveDirections KzGetMoveDirections(float X, float Y, float RefX, float RefY, float CenterRadius) {
  TKzMoveDirections d;
  if (CenterRadius > 0 && std::hypot(X - RefX, Y - RefY) <= CenterRadius) {
    d.Center = true;
    return d;
  }
  // tan 60 degrees: each direction covers 60 degrees on either side of its
  // axis.
  constexpr double kTan60 = std::numbers::sqrt3;
  const double dx = std::round(kTan60 * std::fabs(X - RefX));
  const double dy = std::round(kTan60 * std::fabs(Y - RefY));
  const bool inHorizontal = RefY - dx <= Y && Y <= RefY + dx;
  const bool inVertical = RefX - dy <= X && X <= RefX + dy;
  d.Left = X < RefX && inHorizontal;
  d.Right = X > RefX && inHorizontal;
  d.Up = Y < RefY && inVertical;
  d.Down = Y > RefY && inVertical;
  return d;
}

// ---- Life cycle

TKzCamView::TKzCamView(TComponent* AOwner) : TTextControl(AOwner) {
  FDesigning = IsDesigning();
  SetCanFocus(true);
  KzInitFPS(_FPS);
  FTimerWaitForVideoFrame.SetInterval(kFrameTimeOutMs);
  FTimerWaitForVideoFrame.OnTimer = [this](TTimer*) { OnTimerWaitForVideoFrame(); };
  FTimerWaitForVideoFrameForAnimation.SetInterval(static_cast<uint32_t>(std::max(FWaitAnimationDelay, 1)));
  FTimerWaitForVideoFrameForAnimation.OnTimer = [this](TTimer*) { OnTimerWaitForVideoFrameForAnimation(); };
  FTimerWaitAnimation.SetInterval(kWaitAnimationStepMs);
  FTimerWaitAnimation.OnTimer = [this](TTimer*) { ViewerWaitAnimationTimer(this); };
  FTimerFullScreenIcon.SetInterval(kFullScreenIconCheckMs);
  FTimerFullScreenIcon.OnTimer = [this](TTimer*) { OnTimerFullScreenIcon(); };
  if (!FDesigning) {
    KzMessages().RegisterMessageHandler2(this, MsgRepaintFrame, [this](TMessage& m) { KzRepaintFrame(m); });
    KzMessages().RegisterMessageHandler2(this, MsgUpdateTimers, [this](TMessage& m) { KzUpdateTimers(m); });
    FRegistered = true;
  }
}

TKzCamView::~TKzCamView() {
  FDestroyingView.store(true, std::memory_order_release);
  Destroying();
  CloseFullScreenWindow();
  DetachSource();
  FTimerWaitForVideoFrame.SetEnabled(false);
  FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
  FTimerWaitAnimation.SetEnabled(false);
  FTimerFullScreenIcon.SetEnabled(false);
  if (FRegistered) KzMessages().UnRegister2(this);
}

void TKzCamView::Assign(const TPersistent& Source) {
  const auto* v = dynamic_cast<const TKzCamView*>(&Source);
  if (!v) {
    TTextControl::Assign(Source);
    return;
  }
  SetTextSettings(v->TextSettings());
  SetViewMode(v->FViewMode);
  FCamMoveMode = v->FCamMoveMode;
  FColor = v->FColor;
  FCaptionColor = v->FCaptionColor;
  FFocusLineColor = v->FFocusLineColor;
  FHoverLineColor = v->FHoverLineColor;
  FSearchPanelColor = v->FSearchPanelColor;
  FSearchPanelTextColor = v->FSearchPanelTextColor;
  SetAllowEmptyGUID(v->AllowEmptyGUID());
  SetGUIDFrom(v->GUIDFrom());
  SetIndexFrom(v->IndexFrom());
  FRememberLastFrame = v->FRememberLastFrame;
  FUseOptimalVideoResolution = v->FUseOptimalVideoResolution;
  FTitle = v->FTitle;
  FCaptionParts = v->FCaptionParts;
  FShowCaption = v->FShowCaption;
  FCaptionHeight = v->FCaptionHeight;
  FCaptionTextSettings = v->FCaptionTextSettings;
  FShowFrameRect = v->FShowFrameRect;
  FShowCameraSearch = v->FShowCameraSearch;
  FLanguage = v->FLanguage;
  FIconStyle = v->FIconStyle;
  FWaitAnimationDelay = v->FWaitAnimationDelay;
  FAllowFullScreen = v->FAllowFullScreen;
  SetFrameScaleQuality(v->FFrameScaleQuality);
  RepaintControl();
}

// ---- Attaching a source

void TKzCamView::DetachSource() {
  TKzVideoSource* old = VideoSource();
  if (!old) return;
  old->UnRegisterCamView(this);
  RemoveFreeNotification(old);
  {
    TKzSafeLock lock(FLastFrameSection);
    FVideoSource.store(nullptr, std::memory_order_release);
    FCamera = nullptr;
  }
  FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
  StopWaitAnimation();
  FIsVideoStreamPlaying = false;
}

void TKzCamView::SetVideoSource(TKzVideoSource* Value) {
  if (Value == VideoSource()) return;
  DetachSource();
  if (Value) {
    {
      TKzSafeLock lock(FLastFrameSection);
      FCamera = dynamic_cast<IKzCamViewSource*>(Value);
      FVideoSource.store(Value, std::memory_order_release);
    }
    FCanPaint.store(ViewerHandleAllocated(), std::memory_order_release);
    Value->RegisterCamView(this);
    FreeNotification(Value);
  }
  const bool searching = FCamera && FCamera->Searching() && FShowCameraSearch;
  if (searching) txtCameraSearch = KzMFormatMessageText(TKzMMessageId::kzmmAccessingCamera, FLanguage, HostAndPort());
  FCameraSearchPanelVisible.store(searching, std::memory_order_release);
  FIsVideoStreamPlaying = FCamera && FCamera->IsVideoPlaying();
  ClearLastFrame(true);
  if (FIsVideoStreamPlaying) StartStallDetector();
  RepaintControl();
}

void TKzCamView::Notification(TComponent* AComponent, TOperation Operation) {
  TTextControl::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove || AComponent == nullptr) return;
  if (AComponent == static_cast<TComponent*>(VideoSource())) {
    // The source is going away and has already dropped its viewers.
    {
      TKzSafeLock lock(FLastFrameSection);
      FVideoSource.store(nullptr, std::memory_order_release);
      FCamera = nullptr;
    }
    FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
    StopWaitAnimation();
    FIsVideoStreamPlaying = false;
    FCameraSearchPanelVisible.store(false, std::memory_order_release);
    if (!FDestroyingView.load(std::memory_order_acquire)) RepaintControl();
  }
}

// ---- Frames (draw thread)

void TKzCamView::ViewerGetImageBMP(TComponent* Sender, const TKzMBitmap& Bitmap, bool Own, uint16_t VideoIndex,
                                   const TGUID& GUIDFrom) {
  (void)Sender;
  if (FDesigning || FDestroyingView.load(std::memory_order_acquire)) return;
  // One-frame back-pressure: the previous frame has not been painted yet.
  if (isViewerImage.load(std::memory_order_acquire) >= 1) return;
  {
    TKzSafeLock lock(FLastFrameSection);
    TKzVideoSource* src = VideoSource();
    if (!FCanPaint.load(std::memory_order_acquire) || !src || FCameraSearchPanelVisible.load() || src->IsAborting() ||
        src->IsAborted())
      return;
    if (!FAllowEmptyGUID && !Own && (GUIDToStringA(GUIDFrom) != FGUIDFrom || VideoIndex != FIndexFrom)) return;
    const int32_t w = Bitmap.Width();
    const int32_t h = Bitmap.Height();
    FHasImage = true;
    OldImageWidth = w;
    OldImageHeight = h;
    const TRect vr = FIsLastImage ? KzGetVideoRect(FFrameViewMode, FFrameClientArea, w, h) : TRect();
    if (FIsLastImage && !vr.IsEmpty() && (vr.Width() != w || vr.Height() != h) && !Bitmap.IsEmpty()) {
      // Stored already scaled, so painting is a plain copy.
      FLastFrame.SetSize(vr.Width(), vr.Height());
      TCanvas canvas(SurfaceOf(FLastFrame));
      TKzMBitmap& src = const_cast<TKzMBitmap&>(Bitmap);  // read only: the surface type has no const form
      canvas.StretchBitmap(SurfaceOf(src), Bitmap.ClientRect(), FLastFrame.ClientRect(),
                           StretchQualityOf(FFrameQuality));
    } else {
      FLastFrame.AssignKzMBitmap(Bitmap);
    }
    FCameraSearchPanelVisible.store(false, std::memory_order_release);
    isViewerImage.store(1, std::memory_order_release);
    ++imgCount;
    NewFrame = true;
  }
  if (OnNewVideoFrame) {
    OnNewVideoFrame(this);
    PostViewMessage(MsgUpdateTimers, 0, 0);
  } else {
    PostViewMessage(MsgRepaintFrame, 1, 0);
  }
}

bool TKzCamView::PostViewMessage(uint32_t Msg, WPARAM WParam, LPARAM LParam) {
  if (!FRegistered || IsUpdateLocked() || FDestroyingView.load(std::memory_order_acquire) ||
      !FCanPaint.load(std::memory_order_acquire))
    return false;
  return KzMessages().PostMessage2(this, Msg, WParam, LParam);
}

// ---- Messages (main thread)

void TKzCamView::KzRepaintFrame(TMessage& Message) {
  if (FDestroyingView.load(std::memory_order_acquire)) return;
  const bool canPaint = ViewerHandleAllocated();
  FCanPaint.store(canPaint, std::memory_order_release);
  if (!canPaint) {
    // Nobody will paint the stored frame: let the next one in.
    isViewerImage.store(0, std::memory_order_release);
    return;
  }
  if (FAutoSize && Align() != TAlignLayout::Client) {
    int32_t w, h;
    {
      TKzSafeLock lock(FLastFrameSection);
      w = OldImageWidth;
      h = OldImageHeight;
    }
    if (w > 0 && h > 0 && (w != Width() || h != Height())) SetSize(w, h);
  }
  if (Message.WParam == 1) UpdateTimersOnGetImage();
  if (Message.LParam == 1)
    RepaintControl();
  else
    RepaintClientArea();
}

void TKzCamView::KzUpdateTimers(TMessage& Message) {
  if (FDestroyingView.load(std::memory_order_acquire)) return;
  if (Message.WParam == 1) {
    SetFullScreen(false);
    return;
  }
  UpdateTimersOnGetImage();
  isViewerImage.store(0, std::memory_order_release);  // the owner of OnNewVideoFrame shows the
                                                      // frame
}

// ---- Timers (main thread)

void TKzCamView::UpdateTimersOnGetImage() {
  if (!FTimerWaitForVideoFrame.Enabled()) {
    FTimerWaitForVideoFrame.SetEnabled(true);
    isWaitVideoFrame = true;
  }
  StartStallDetector();
  StopWaitAnimation();
}

void TKzCamView::StartStallDetector() {
  FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
  if (FWaitAnimationDelay <= 0) return;
  FTimerWaitForVideoFrameForAnimation.SetInterval(static_cast<uint32_t>(FWaitAnimationDelay));
  FTimerWaitForVideoFrameForAnimation.SetEnabled(true);
}

void TKzCamView::StopWaitAnimation() {
  FTimerWaitAnimation.SetEnabled(false);
  if (!FIsWaitAnimationPlaying) return;
  FIsWaitAnimationPlaying = false;
  RepaintClientArea();
}

// Frame time-out, started by the first frame: a quiet interval stops it. A
// stalled stream keeps showing its last frame while RememberLastFrame is on
// (the wait animation tells the user); with it off the view falls back to
// its background after one quiet interval.
void TKzCamView::OnTimerWaitForVideoFrame() {
  int32_t count;
  {
    TKzSafeLock lock(FLastFrameSection);
    count = imgCount;
    imgCount = 0;
    if (!FRememberLastFrame) FHasImage = count > 0;
  }
  if (count == 0) {
    FTimerWaitForVideoFrame.SetEnabled(false);
    isWaitVideoFrame = false;
    if (!FRememberLastFrame) {
      ClearLastFrame(true);
      RepaintControl();
    }
  }
}

void TKzCamView::OnTimerWaitForVideoFrameForAnimation() {
  FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
  if (!FIsVideoStreamPlaying) return;
  if (!FAniWaitCounter)
    FAniWaitCounter = std::make_unique<TKzCustomCameraAnimationCounter>();
  else
    FAniWaitCounter->Reset();
  FTimerWaitAnimation.SetEnabled(true);
  FIsWaitAnimationPlaying = true;
  RepaintClientArea();
}

void TKzCamView::ViewerWaitAnimationTimer(TComponent* Sender) {
  (void)Sender;
  if (!FIsWaitAnimationPlaying || !FAniWaitCounter) return;
  FAniWaitCounter->Step();
  RepaintClientArea();
}

void TKzCamView::OnTimerFullScreenIcon() {
  if (KzMGetTickCount() - FSLastTime < kFullScreenIconHideMs) return;
  FTimerFullScreenIcon.SetEnabled(false);
  if (!FFullScreenButtonVisible) return;
  FFullScreenButtonVisible = false;
  FFSBtnHot = false;
  RepaintClientArea();
}

// ---- Stream and search notifications (main thread)

void TKzCamView::ViewerBeginVideoStream(TComponent* Sender) {
  FCanPaint.store(ViewerHandleAllocated(), std::memory_order_release);
  if (IsMultiView) {
    if (OnMultiBeginVideoStream) OnMultiBeginVideoStream(Sender);
  } else {
    ClearLastFrame(true);
    RepaintControl();
  }
  ApplyOptimalVideoResolution();
  FIsVideoStreamPlaying = true;
  StartStallDetector();
}

void TKzCamView::ViewerDoneVideoStream(TComponent* Sender, int32_t Status) {
  (void)Sender;
  (void)Status;
  FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
  StopWaitAnimation();
  FIsVideoStreamPlaying = false;
  {
    TKzSafeLock lock(FLastFrameSection);
    FHasImage = false;
  }
  RepaintControl();
}

void TKzCamView::ClearLastFrame(bool Notify) {
  bool had;
  {
    TKzSafeLock lock(FLastFrameSection);
    had = FHasImage;
    FHasImage = false;
    isViewerImage.store(0, std::memory_order_release);
    FLastFrame.SetSize(0, 0);
  }
  if (had) RepaintControl();
  if (Notify && OnClearLastFrame) OnClearLastFrame(this);
}

std::string TKzCamView::HostAndPort() const {
  if (!FCamera) return "";
  std::string s = FCamera->CameraHost();
  if (FCamera->CameraPort() != 0) {
    s += ':';
    s += std::to_string(FCamera->CameraPort());
  }
  return s;
}

void TKzCamView::ViewerSearchCamera(TComponent* Sender) {
  (void)Sender;
  if (!FCamera || FCamera->CameraHost().empty()) return;
  ClearLastFrame(true);
  txtCameraSearch = KzMFormatMessageText(TKzMMessageId::kzmmAccessingCamera, FLanguage, HostAndPort());
  FCameraSearchPanelVisible.store(FShowCameraSearch, std::memory_order_release);
  RepaintControl();
}

void TKzCamView::ViewerDoneSearchCamera(TComponent* Sender, int32_t Status) {
  (void)Sender;
  (void)Status;
  FCameraSearchPanelVisible.store(false, std::memory_order_release);
  FbtnAbortHot = FbtnAbortClick = false;
  ClearLastFrame(true);
  RepaintControl();
}

void TKzCamView::HookBeginControl(TComponent* Sender) {
  if (OnBeginMove) OnBeginMove(Sender);
}

void TKzCamView::ViewerDoneControl(TComponent* Sender, int32_t Status) {
  if (OnEndMove) OnEndMove(Sender, Status);
  // Devices whose commands end by themselves keep moving while the press lasts.
  if (FDown.Any()) MoveStateDownButton();
}

void TKzCamView::ViewerSearchAnimationTimer() {
  ++FSearchStep;
  if (OnOwnerCameraSearch) {
    OnOwnerCameraSearch(this);
    return;
  }
  if (CameraSearchPanelVisible()) InvalidateRect(GetRectCameraSearch());
}

bool TKzCamView::ViewerHandleAllocated() { return IsHandleAllocated(); }

// ---- Application operations

void TKzCamView::AssignLastFrame(TKzCamView& Source) {
  if (&Source == this) return;
  TKzSafeLock theirs(Source.FLastFrameSection);
  TKzSafeLock mine(FLastFrameSection);
  FLastFrame.AssignKzMBitmap(Source.FLastFrame);
  FHasImage = Source.FHasImage;
  imgCount = Source.imgCount;
  OldImageWidth = Source.OldImageWidth;
  OldImageHeight = Source.OldImageHeight;
  NewFrame = Source.NewFrame;
  isViewerImage.store(Source.isViewerImage.load());
  txtCameraSearch = Source.txtCameraSearch;
}

void TKzCamView::GetLastImageInfo(bool& AHasImage, int32_t& AImgCount, int32_t& AOldImageHeight,
                                  int32_t& AOldImageWidth, int32_t& AIsViewerImage) {
  TKzSafeLock lock(FLastFrameSection);
  AHasImage = FHasImage;
  AImgCount = imgCount;
  AOldImageHeight = OldImageHeight;
  AOldImageWidth = OldImageWidth;
  AIsViewerImage = isViewerImage.load();
}

double TKzCamView::GetFPS() { return KzRecalcFPS(0, _FPS); }

void TKzCamView::LockUpdates() { FLockCounter.fetch_add(1, std::memory_order_acq_rel); }

void TKzCamView::UnlockUpdates(bool Repaint) {
  int32_t n = FLockCounter.load(std::memory_order_acquire);
  if (n <= 0) return;
  FLockCounter.store(--n, std::memory_order_release);
  if (n > 0) return;
  if (Repaint)
    RepaintControl();
  else if (isViewerImage.load() > 0)
    RepaintClientArea();  // a frame stored while locked still waits for its
                          // paint
}

void TKzCamView::LockFocus() {
  isCanFocus = false;
  RepaintControl();
}

void TKzCamView::UnlockFocus() {
  isCanFocus = true;
  RepaintControl();
}

bool TKzCamView::RepaintHandledElsewhere(bool FullRedraw) {
  if (IsUpdateLocked() || FDestroyingView.load(std::memory_order_acquire)) return true;
  if (IsMultiView && OnOwnerDraw) {  // a wall cell paints through its owner
    OnOwnerDraw(this, FullRedraw);
    return true;
  }
  return false;
}

void TKzCamView::RepaintControl() {
  if (!RepaintHandledElsewhere(true)) Repaint();
}

void TKzCamView::RepaintClientArea() {
  if (RepaintHandledElsewhere(false)) return;
  // The clock in the caption advances with each frame.
  if (FShowCaption && FCaptionParts.Contains(TKzCameraCaptionPart::kzccpTime)) {
    Repaint();
    return;
  }
  InvalidateRect(GetClientArea());
}

void TKzCamView::ApplyOptimalVideoResolution() {
  if (!FUseOptimalVideoResolution || !FCamera || FCamera->IsFilePlaying()) return;
  TKzVideoSource* src = VideoSource();
  const TRect vr = GetVideoRect();
  const TKzVideoResolution r =
      src->GetOptimalVideoResolution(static_cast<float>(vr.Width()), static_cast<float>(vr.Height()));
  if (r != src->VideoResolution()) src->SetVideoResolution(r);
}

void TKzCamView::Resize() {
  TTextControl::Resize();
  UpdateFrameClientArea();
  ApplyOptimalVideoResolution();
  RepaintControl();
}

void TKzCamView::UpdateFrameClientArea() {
  TKzSafeLock lock(FLastFrameSection);
  FFrameClientArea = GetClientArea();
  FFrameViewMode = FViewMode;
}

// ---- Properties

void TKzCamView::SetViewMode(TKzCamViewMode Value) {
  if (Value == FViewMode) return;
  FViewMode = Value;
  UpdateFrameClientArea();
  ApplyOptimalVideoResolution();
  RepaintControl();
}

void TKzCamView::SetFrameScaleQuality(TKzMFrameScaleQuality Value) {
  WriteLocked(FFrameQuality, Value);
  SetAndRepaint(FFrameScaleQuality, Value);
}

void TKzCamView::SetIsLastImage(bool Value) {
  WriteLocked(FIsLastImage, Value);
  UpdateFrameClientArea();
}

void TKzCamView::SetUseOptimalVideoResolution(bool Value) {
  FUseOptimalVideoResolution = Value;
  ApplyOptimalVideoResolution();
}

void TKzCamView::SetAllowFullScreen(bool Value) {
  FAllowFullScreen = Value;
  if (!Value && FFullScreenButtonVisible) {
    FFullScreenButtonVisible = false;
    FTimerFullScreenIcon.SetEnabled(false);
    RepaintControl();
  }
}

void TKzCamView::SetIsInFocus(bool Value) {
  if (Value == FIsInFocus) return;
  FIsInFocus = Value;
  if (OnChangeFocus) OnChangeFocus(this);
  RepaintControl();
}

// ---- Geometry

TRect TKzCamView::GetCaptionRect() const { return TRect(0, 0, Width(), std::max(FCaptionHeight, kMinCaptionHeight)); }

TRect TKzCamView::GetClientArea() const {
  TRect r = LocalRect();
  if (FShowCaption && (FCaptionColor >> 24) == 0xFF) r.Top = std::min(r.Bottom, GetCaptionRect().Bottom);
  return r;
}

TRect TKzCamView::GetVideoRect() const {
  TKzSafeLock lock(FLastFrameSection);
  return KzGetVideoRect(FViewMode, GetClientArea(), OldImageWidth, OldImageHeight);
}

bool TKzCamView::CanVideoCoverCaption() const {
  return FShowCaption && (FViewMode == TKzCamViewMode::vvmCenter || (FCaptionColor >> 24) != 0xFF);
}

TRect TKzCamView::GetFullScreenButtonRect() const {
  const TRect c = GetClientArea();
  return TRect(c.Right - 40, c.Top + 10, c.Right - 10, c.Top + 40);
}

TRect TKzCamView::GetRectCameraSearch() const {
  const TRect c = GetClientArea();
  const int32_t w = std::clamp(c.Width() - 20, 0, 360);
  const int32_t h = std::clamp(c.Height() - 20, 0, 72);
  const int32_t left = c.Left + (c.Width() - w) / 2;
  const int32_t top = c.Top + (c.Height() - h) / 2;
  return TRect(left, top, left + w, top + h);
}

TRect TKzCamView::CalcAbortButtonRect() const {
  const TRect p = GetRectCameraSearch();
  const int32_t side = std::min(24, std::max(0, p.Height() - 8));
  const int32_t top = p.Top + (p.Height() - side) / 2;
  return TRect(p.Right - 8 - side, top, p.Right - 8, top + side);
}

TRect TKzCamView::GetWaitAnimationRect() const {
  const TRect c = GetClientArea();
  const int32_t side = std::min({48, c.Width() / 3, c.Height() / 3});
  const int32_t left = c.Left + (c.Width() - side) / 2;
  const int32_t top = c.Top + (c.Height() - side) / 2;
  return TRect(left, top, left + side, top + side);
}

TAlphaColor TKzCamView::GetFrameLineColor() const {
  if (FIsInFocus && isCanFocus && FFocusLineColor != 0) return FFocusLineColor;
  if (isInMove && isCanFocus && FHoverLineColor != 0) return FHoverLineColor;
  return FCaptionColor;
}

std::string TKzCamView::GetCaptionText(std::time_t Now) const {
  std::string s = FTitle;
  if (const IKzCamViewSource* cam = FCamera) {
    if (FCaptionParts.Contains(TKzCameraCaptionPart::kzccpAddress)) {
      auto bracket = [&s](const std::string& Text) { s += " [" + Text + "]"; };
      switch (cam->DeviceType()) {
        case TKzDeviceType::kzdtIPCamera:
          if (cam->IsFilePlaying())
            bracket(cam->PlayingFileName());
          else if (!cam->URL().empty())
            bracket(cam->URL());
          else if (!cam->CameraHost().empty())
            bracket(HostAndPort());
          break;
        case TKzDeviceType::kzdtWebCamera:
          bracket(KzMGetMessageText(TKzMMessageId::kzmmWebCamera, FLanguage));
          break;
        case TKzDeviceType::kzdtDesktop:
          bracket(KzMGetMessageText(TKzMMessageId::kzmmDesktop, FLanguage));
          break;
        case TKzDeviceType::kzdtFile:
          bracket(BaseName(cam->SourceFileName()));
          break;
        case TKzDeviceType::kzdtRTSP:
        case TKzDeviceType::kzdtHTTP:
          bracket(cam->URL());
          break;
        case TKzDeviceType::kzdtUserData:
          break;
      }
      s = Trim(s);
    }
    if (FCaptionParts.Contains(TKzCameraCaptionPart::kzccpAlias) && !cam->IsFilePlaying() && !cam->Alias().empty())
      s = Trim(s + " <" + cam->Alias() + ">");
  }
  const bool date = FCaptionParts.Contains(TKzCameraCaptionPart::kzccpDate);
  const bool time = FCaptionParts.Contains(TKzCameraCaptionPart::kzccpTime);
  if (!date && !time) return s;
  std::tm local{};
  localtime_r(&Now, &local);
  char buf[32];
  // Date and time are separated from what precedes them only when something
  // does.
  if (date) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    s += (s.empty() ? "" : " - ") + std::string(buf);
  }
  if (time) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    s += (date ? " " : (s.empty() ? "" : " - ")) + std::string(buf);
  }
  return s;
}

// ---- Painting (main thread)

void TKzCamView::Paint(TCanvas& Canvas) {
  if (IsUpdateLocked() || FDestroyingView.load(std::memory_order_acquire)) return;
  FCanPaint.store(true, std::memory_order_release);
  TKzSafeLock lock(FLastFrameSection);
  RepaintBG = true;
  const TRect client = GetClientArea();
  FFrameClientArea = client;
  FFrameViewMode = FViewMode;
  if (!(OnOwnerDraw && OnOwnerDraw(this, true))) {
    if (FHasImage) {
      bool canDrawFrame = true;
      DrawInit(Canvas, canDrawFrame);
      if (isViewerImage.load() > 0) KzRecalcFPS(1, _FPS);
      DrawSoftwareClientArea(Canvas, client, canDrawFrame);
    } else {
      DrawBGToSoftware(Canvas, client);
    }
    DrawSoftwareOtherParts(Canvas, client);
  }
  RepaintBG = false;
  isViewerImage.store(0, std::memory_order_release);
}

void TKzCamView::DrawInit(TCanvas& Canvas, bool& CanDrawFrame) {
  CanDrawFrame = true;
  if (OnPaint) OnPaint(this, FLastFrame, CanDrawFrame, Canvas);
  if (OnMultiPaint) {
    const TRect r = AbsoluteRect();
    OnMultiPaint(this, FLastFrame, CanDrawFrame, static_cast<float>(r.Left), static_cast<float>(r.Top), Canvas);
  }
}

void TKzCamView::DrawSoftwareClientArea(TCanvas& Canvas, const TRect& ClientArea, bool CanDrawFrame) {
  if (!CanDrawFrame || !(NewFrame || FRememberLastFrame) || FLastFrame.IsEmpty()) {
    Canvas.FillRect(ClientArea, FColor);
    return;
  }
  const TRect vr = KzGetVideoRect(FViewMode, ClientArea, OldImageWidth, OldImageHeight);
  Canvas.SaveState();
  Canvas.IntersectClip(CanVideoCoverCaption() ? LocalRect() : ClientArea);
  const TKzPixelSurface frame = SurfaceOf(FLastFrame);
  if (vr.Width() == FLastFrame.Width() && vr.Height() == FLastFrame.Height())
    Canvas.DrawBitmap(frame, FLastFrame.ClientRect(), TPoint{vr.Left, vr.Top});
  else
    Canvas.StretchBitmap(frame, FLastFrame.ClientRect(), vr, StretchQualityOf(FFrameScaleQuality));
  Canvas.RestoreState();
  // The bands of the client area around the video rectangle.
  const TRect& c = ClientArea;
  const TRect v = IntersectRect(vr, c);
  if (v.IsEmpty()) {
    Canvas.FillRect(c, FColor);
    return;
  }
  Canvas.FillRect(TRect(c.Left, c.Top, c.Right, v.Top), FColor);
  Canvas.FillRect(TRect(c.Left, v.Bottom, c.Right, c.Bottom), FColor);
  Canvas.FillRect(TRect(c.Left, v.Top, v.Left, v.Bottom), FColor);
  Canvas.FillRect(TRect(v.Right, v.Top, c.Right, v.Bottom), FColor);
}

void TKzCamView::DrawBGToSoftware(TCanvas& Canvas, const TRect& ClientArea) {
  Canvas.FillRect(ClientArea, FColor);
  if (FIsWaitAnimationPlaying || CameraSearchPanelVisible()) return;
  Canvas.DrawText(ClientArea, KzMGetMessageText(TKzMMessageId::kzmmNoVideo, FLanguage), TextSettings().Font,
                  TKzTextAlign::kztaCenter, TKzTextAlign::kztaCenter);
}

void TKzCamView::DrawSoftwareOtherParts(TCanvas& Canvas, const TRect& ClientArea) {
  if (CameraSearchPanelVisible()) DrawCameraSearch(Canvas);
  if (FIsWaitAnimationPlaying) DrawWaitAnimation(Canvas);
  if (FShowFrameRect) DrawFrameLine(Canvas, ClientArea);
  if (FShowCaption) DrawCaption(Canvas);
  DrawButtons(Canvas);
}

void TKzCamView::DrawCameraSearch(TCanvas& Canvas) {
  const TRect panel = GetRectCameraSearch();
  if (panel.IsEmpty()) return;
  const TAlphaColor back = FSearchPanelColor != 0 ? FSearchPanelColor : (FCaptionColor | 0xFF000000u);
  const TAlphaColor text = FSearchPanelTextColor != 0 ? FSearchPanelTextColor : KzOpaqueWhite;
  const bool modern = FIconStyle == TKzMIconStyle::kzisModern;
  Canvas.FillRect(panel, back);
  Canvas.DrawRect(panel, modern ? ScaleColor(back, 1.3) : text, 1);
  FAbortButtonRect = CalcAbortButtonRect();
  // Text in the upper part, a row of progress dots below it.
  TKzFont font = TextSettings().Font;
  font.Color = text;
  const TRect textArea(panel.Left + 8, panel.Top + 4, FAbortButtonRect.Left - 4, panel.Top + panel.Height() * 2 / 3);
  Canvas.DrawText(textArea, txtCameraSearch, font, TKzTextAlign::kztaCenter, TKzTextAlign::kztaCenter);
  const int32_t dotsY = textArea.Bottom;
  const int32_t cx = (textArea.Left + textArea.Right) / 2;
  for (int32_t i = 0; i < 5; ++i) {
    const TAlphaColor c = i == FSearchStep % 5 ? text : ((text & 0x00FFFFFFu) | 0x60000000u);
    const int32_t x = cx + (i - 2) * 10;
    Canvas.FillEllipse(TRect(x - 3, dotsY, x + 3, dotsY + 6), c);
  }
  // The abort button: a cross in a square.
  const TRect& b = FAbortButtonRect;
  if (b.IsEmpty()) return;
  if (FbtnAbortHot || FbtnAbortClick) Canvas.FillRect(b, ScaleColor(back, FbtnAbortClick ? 0.8 : 1.3));
  Canvas.DrawRect(b, text, 1);
  const float t = FbtnAbortClick ? 3.0f : 2.0f;
  const int32_t in = std::max(4, b.Width() / 4);
  Canvas.DrawLine(TPoint{b.Left + in, b.Top + in}, TPoint{b.Right - 1 - in, b.Bottom - 1 - in}, text, t);
  Canvas.DrawLine(TPoint{b.Right - 1 - in, b.Top + in}, TPoint{b.Left + in, b.Bottom - 1 - in}, text, t);
}

void TKzCamView::DrawWaitAnimation(TCanvas& Canvas) {
  if (!FAniWaitCounter) return;
  const TAlphaColor c =
      FSearchPanelTextColor != 0 ? FSearchPanelTextColor : ScaleColor(FCaptionColor | 0xFF000000u, 0.8);
  FAniWaitCounter->Draw(Canvas, GetWaitAnimationRect(), c);
}

void TKzCamView::DrawFrameLine(TCanvas& Canvas, const TRect& ClientArea) {
  const TAlphaColor c = GetFrameLineColor();
  if (c != 0) Canvas.DrawRect(ClientArea, c, 1);
}

void TKzCamView::DrawCaption(TCanvas& Canvas) {
  const TRect r = GetCaptionRect();
  Canvas.FillRect(r, FCaptionColor);
  const TAlphaColor line = GetFrameLineColor();
  if (line != 0) Canvas.DrawRect(r, line, 1);
  Canvas.SaveState();
  Canvas.IntersectClip(r);
  Canvas.TextOut(r.Left + 10, r.Top + 4, GetCaptionText(std::time(nullptr)), FCaptionTextSettings.Font);
  Canvas.RestoreState();
}

// The full-screen icon: four corner brackets, thicker and brighter while
// hovered.
void TKzCamView::DrawButtons(TCanvas& Canvas) {
  if (!FAllowFullScreen || !FFullScreenButtonVisible) return;
  const TRect r = GetFullScreenButtonRect();
  const int32_t thick = FFSBtnHot ? 5 : 4;
  constexpr int32_t kSpacing = 5;
  TAlphaColor color = ScaleColor(FCaptionColor | 0xFF000000u, FFSBtnHot ? 1.3 : 1.2);
  if (FIconStyle == TKzMIconStyle::kzisModern) {
    Canvas.FillRect(r, 0x80000000u);
    color = KzOpaqueWhite;
  }
  const int32_t arm = (r.Width() - kSpacing) / 2;
  const TRect corners[4][2] = {
      {{r.Left, r.Top, r.Left + arm, r.Top + thick}, {r.Left, r.Top, r.Left + thick, r.Top + arm}},
      {{r.Right - arm, r.Top, r.Right, r.Top + thick}, {r.Right - thick, r.Top, r.Right, r.Top + arm}},
      {{r.Left, r.Bottom - thick, r.Left + arm, r.Bottom}, {r.Left, r.Bottom - arm, r.Left + thick, r.Bottom}},
      {{r.Right - arm, r.Bottom - thick, r.Right, r.Bottom}, {r.Right - thick, r.Bottom - arm, r.Right, r.Bottom}},
  };
  for (const auto& corner : corners)
    for (const TRect& bar : corner) Canvas.FillRect(bar, color);
}

// ---- Mouse and keys (main thread)

bool TKzCamView::CanMoveCamera() const {
  return FCamera && FCamMoveMode != TKzCamMoveMode::vcmmNone && FCamera->IsVideoPlaying() &&
         FCamera->GetAccessibleCamMethods().Contains(TKzCamMethod::kzcm_Move);
}

TPointF TKzCamView::MoveReference() const {
  if (FCamMoveMode == TKzCamMoveMode::vcmmToCursor) {
    const TRect c = GetClientArea();
    return TPointF{static_cast<float>(c.Left + c.Width() / 2), static_cast<float>(c.Top + c.Height() / 2)};
  }
  return FMouseDownPos;
}

TKzMoveDirections TKzCamView::DirectionsAt(float X, float Y) const {
  if (FCamMoveMode == TKzCamMoveMode::vcmmDrag && FMouseDownPos.X < 0) return {};
  const TPointF ref = MoveReference();
  const float radius =
      FCamMoveMode == TKzCamMoveMode::vcmmToCursor ? static_cast<float>((GetClientArea().Width() * 45 / 100) / 2.0) : 0;
  return KzGetMoveDirections(X, Y, ref.X, ref.Y, radius);
}

void TKzCamView::MoveStateDownButton() {
  if (!FCamera) return;
  for (const TKzMoveCommand& c : kMoveCommands) {
    if (Matches(c, FDown)) {
      (FCamera->*c.Move)();
      return;
    }
  }
}

bool TKzCamView::StopCommanded() {
  if (!FCamera) return false;
  bool sent = false;
  if (FDown.Left) sent = FCamera->MoveLeftStop() || sent;
  if (FDown.Right) sent = FCamera->MoveRightStop() || sent;
  if (FDown.Up) sent = FCamera->MoveUpStop() || sent;
  if (FDown.Down) sent = FCamera->MoveDownStop() || sent;
  return sent;
}

void TKzCamView::ResetStateDownButton() {
  if (StopCommanded() && OnBeginMove) OnBeginMove(VideoSource());
  FDown = {};
}

void TKzCamView::UpdateFullScreenButton(float X, float Y) {
  if (!FAllowFullScreen) return;
  FSLastTime = KzMGetTickCount();
  const bool hot = PtIn(GetFullScreenButtonRect(), X, Y);
  if (!FFullScreenButtonVisible || hot != FFSBtnHot) {
    FFullScreenButtonVisible = true;
    FFSBtnHot = hot;
    RepaintClientArea();
  }
  if (!FTimerFullScreenIcon.Enabled()) FTimerFullScreenIcon.SetEnabled(true);
}

void TKzCamView::MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TTextControl::MouseDown(Button, Shift, X, Y);
  if (CanFocus() && !IsFocused()) SetFocus();
  if (Button != TMouseButton::mbLeft) return;
  if (FAllowFullScreen && FFullScreenButtonVisible && PtIn(GetFullScreenButtonRect(), X, Y)) {
    if (FFullScreenOwner) {
      if (TForm* form = ParentForm()) form->Close();
    } else {
      SetFullScreen(!FullScreen());
    }
    return;
  }
  if (CameraSearchPanelVisible() && PtIn(CalcAbortButtonRect(), X, Y)) {
    FbtnAbortClick = true;
    RepaintControl();
    return;
  }
  if (!CanMoveCamera()) return;
  if (FCamMoveMode == TKzCamMoveMode::vcmmToCursor) {
    FDown = DirectionsAt(X, Y);
    MoveStateDownButton();
  } else {
    FMouseDownPos = TPointF{X, Y};
    SetCursor(TCursor::crSizeAll);
  }
}

void TKzCamView::MouseMove(TShiftState Shift, float X, float Y) {
  TTextControl::MouseMove(Shift, X, Y);
  isInMove = true;
  UpdateFullScreenButton(X, Y);
  const bool abortHot = CameraSearchPanelVisible() && PtIn(CalcAbortButtonRect(), X, Y);
  if (abortHot != FbtnAbortHot) {
    FbtnAbortHot = abortHot;
    RepaintControl();
  }
  if (!CanMoveCamera()) return;
  FHover = DirectionsAt(X, Y);
  if (FCamMoveMode == TKzCamMoveMode::vcmmDrag && FMouseDownPos.X >= 0 && FHover != FDown) {
    ResetStateDownButton();
    FDown = FHover;
    MoveStateDownButton();
  }
}

void TKzCamView::MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TTextControl::MouseUp(Button, Shift, X, Y);
  if (FbtnAbortClick) {
    FbtnAbortClick = false;
    if (CameraSearchPanelVisible() && PtIn(CalcAbortButtonRect(), X, Y)) {
      if (TKzVideoSource* src = VideoSource()) src->Abort();
      if (OnButtonAbortClick) OnButtonAbortClick(this);
    }
    RepaintControl();
  }
  ResetStateDownButton();
  FMouseDownPos = TPointF{-1, -1};
  SetCursor(TCursor::crDefault);
}

void TKzCamView::DoMouseEnter() {
  TTextControl::DoMouseEnter();
  isInMove = true;
  RepaintControl();
}

void TKzCamView::DoMouseLeave() {
  TTextControl::DoMouseLeave();
  isInMove = false;
  FHover = {};
  FbtnAbortHot = false;
  ResetStateDownButton();
  RepaintControl();
}

void TKzCamView::KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TTextControl::KeyDown(Key, KeyChar, Shift);
  if (Key == vk::Escape && (Shift & (ssShift | ssAlt | ssCtrl)) == 0) {
    if (FFullScreenOwner) {
      if (TForm* form = ParentForm()) form->Close();
    } else if (FullScreen()) {
      SetFullScreen(false);
    }
    return;
  }
  const TKzMoveKey* k = FindMoveKey(Key);
  if (!k || !CanMoveCamera()) return;
  FDown.*(k->Flag) = true;
  MoveStateDownButton();
}

void TKzCamView::KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TTextControl::KeyUp(Key, KeyChar, Shift);
  if (FindMoveKey(Key)) ResetStateDownButton();
}

// ---- Full screen (main thread)

void TKzCamView::SetFullScreen(bool Show) {
  if (!Show) {
    if (FormSingleView || FullScreen()) CloseFullScreenWindow();
    return;
  }
  if (FormSingleView || FFullScreenOwner) return;
  auto* form = new TForm(nullptr);
  form->SetBorderStyle(TFormBorderStyle::bsNone);
  form->SetStayOnTop(true);
  form->SetWindowState(TWindowState::wsMaximized);
  form->SetDisplayOf(this);
  form->SetFill(FColor);
  if (const TForm* mine = ParentForm()) form->SetSize(mine->Width(), mine->Height());
  auto* view = new TKzCamView(form);
  view->FFullScreenOwner = this;
  view->SetParent(form);
  view->SetAlign(TAlignLayout::Client);
  view->Assign(*this);
  // The window may be closed by the user or the host: the view tears it
  // down later, outside the form's own handler.
  form->OnClose = [this](TComponent*) {
    if (FRegistered) KzMessages().PostMessage2(this, MsgUpdateTimers, 1, 0);
  };
  FormSingleView = form;
  FFullScreenView = view;
  form->Show();
  view->SetVideoSource(VideoSource());
  view->AssignLastFrame(*this);
  view->FIsVideoStreamPlaying = FIsVideoStreamPlaying;
  FFullScreen.store(true, std::memory_order_release);
  if (OnFullScreen) OnFullScreen(this, true);
}

void TKzCamView::CloseFullScreenWindow() {
  TForm* form = FormSingleView;
  TKzCamView* view = FFullScreenView;
  FormSingleView = nullptr;
  FFullScreenView = nullptr;
  if (form) {
    form->OnClose = nullptr;
    if (view) {
      AssignLastFrame(*view);
      view->SetVideoSource(nullptr);
    }
    delete form;
  }
  const bool was = FFullScreen.exchange(false);
  if (!was || FDestroyingView.load(std::memory_order_acquire)) return;
  if (OnFullScreen) OnFullScreen(this, false);
  RepaintControl();
}

}  // namespace kz
