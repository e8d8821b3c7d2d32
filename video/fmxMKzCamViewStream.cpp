// TKzCamView: the repaint and timer messages, the frame time-out, the stall
// detector and wait animation, and the source's stream and camera-search
// notifications.
#include "video/fmxMKzCamView.h"

#include "video/fmxMKzCamViewInternal.h"

namespace kz {

using namespace camview_detail;

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
  if (FIsVideoStreamPlaying) StartWaitAnimation();
}

// The animation steps every 100 ms and repaints the client area, which
// keeps a clock in the caption running while no frame comes.
void TKzCamView::StartWaitAnimation() {
  if (FIsWaitAnimationPlaying) return;
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

void TKzCamView::ViewerReconnecting(TComponent* Sender, uint32_t Attempt) {
  (void)Sender;
  (void)Attempt;
  FTimerWaitForVideoFrameForAnimation.SetEnabled(false);
  if (FIsVideoStreamPlaying) StartWaitAnimation();
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

void TKzCamView::ViewerSearchAnimationTimer() {
  ++FSearchStep;
  if (OnOwnerCameraSearch) {
    OnOwnerCameraSearch(this);
    return;
  }
  if (CameraSearchPanelVisible()) InvalidateRect(GetRectCameraSearch());
}

}  // namespace kz
