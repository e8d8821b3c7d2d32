// TKzCamView: life cycle, the attached source, frames from the draw thread,
// the application's operations and the published properties.
#include "video/fmxMKzCamView.h"

#include <algorithm>
#include <cmath>

#include "foundation/Fmxmkzguidfuncs.h"

#include "video/fmxMKzCamViewInternal.h"

namespace kz {

using namespace camview_detail;

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
    // The view works in the source's picture; a frame decoded smaller is
    // only stretched further when painted.
    const int32_t w = Bitmap.SourceWidth();
    const int32_t h = Bitmap.SourceHeight();
    FHasImage = true;
    if (w != OldImageWidth || h != OldImageHeight) {
      OldImageWidth = w;
      OldImageHeight = h;
      UpdateDecodeSizeRequest();
    }
    const TRect vr = FIsLastImage ? KzGetVideoRect(FFrameViewMode, FFrameClientArea, w, h) : TRect();
    if (FIsLastImage && !vr.IsEmpty() && (vr.Width() != Bitmap.Width() || vr.Height() != Bitmap.Height()) &&
        !Bitmap.IsEmpty()) {
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
  UpdateDecodeSizeRequest();
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
  UpdateDecodeSizeRequest();
}

// ---- Decoding at the shown size

void TKzCamView::UpdateDecodeSizeRequest() {
  uint64_t packed = 0;  // full size
  if (!FAutoSize && FFrameViewMode != TKzCamViewMode::vvmNormal && FFrameViewMode != TKzCamViewMode::vvmCenter) {
    // Before the first frame the rectangle is the client area, which covers
    // any fitted picture; an empty area asks for the smallest decode.
    const TRect vr = KzGetVideoRect(FFrameViewMode, FFrameClientArea, OldImageWidth, OldImageHeight);
    const uint64_t w = static_cast<uint64_t>(std::max(vr.Width(), 1));
    const uint64_t h = static_cast<uint64_t>(std::max(vr.Height(), 1));
    packed = w << 32 | h;
  }
  FDecodeRequest.store(packed, std::memory_order_release);
}

TKzDecodeSize TKzCamView::DecodeSizeRequest() const {
  const uint64_t packed = FDecodeRequest.load(std::memory_order_acquire);
  return {static_cast<int32_t>(packed >> 32), static_cast<int32_t>(packed & 0xFFFFFFFFu)};
}

void TKzCamView::SetAutoSize(bool Value) {
  WriteLocked(FAutoSize, Value);
  UpdateFrameClientArea();
}

TPoint TKzCamView::SourceImageSize() const {
  TKzSafeLock lock(FLastFrameSection);
  return TPoint{OldImageWidth, OldImageHeight};
}

TRect TKzCamView::SourceToControlRect(const TRect& SourceRect) const {
  const TPoint source = SourceImageSize();
  const TRect vr = GetVideoRect();
  if (source.X <= 0 || source.Y <= 0) return SourceRect;
  const auto mapX = [&](int32_t X) {
    return vr.Left + static_cast<int32_t>(std::lround(static_cast<double>(X) * vr.Width() / source.X));
  };
  const auto mapY = [&](int32_t Y) {
    return vr.Top + static_cast<int32_t>(std::lround(static_cast<double>(Y) * vr.Height() / source.Y));
  };
  return TRect(mapX(SourceRect.Left), mapY(SourceRect.Top), mapX(SourceRect.Right), mapY(SourceRect.Bottom));
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

void TKzCamView::SetIsInFocus(bool Value) {
  if (Value == FIsInFocus) return;
  FIsInFocus = Value;
  if (OnChangeFocus) OnChangeFocus(this);
  RepaintControl();
}

}  // namespace kz
