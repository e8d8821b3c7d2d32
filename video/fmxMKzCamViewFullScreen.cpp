// TKzCamView: the full-screen button and the full-screen window.
#include "video/fmxMKzCamView.h"

#include "video/fmxMKzCamViewInternal.h"
#include "video/fmxMKzFullScreenForm.h"

namespace kz {

using namespace camview_detail;

void TKzCamView::OnTimerFullScreenIcon() {
  if (KzMGetTickCount() - FSLastTime < kFullScreenIconHideMs) return;
  FTimerFullScreenIcon.SetEnabled(false);
  if (!FFullScreenButtonVisible) return;
  FFullScreenButtonVisible = false;
  FFSBtnHot = false;
  RepaintClientArea();
}

void TKzCamView::SetAllowFullScreen(bool Value) {
  FAllowFullScreen = Value;
  if (!Value && FFullScreenButtonVisible) {
    FFullScreenButtonVisible = false;
    FTimerFullScreenIcon.SetEnabled(false);
    RepaintControl();
  }
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

// ---- Full screen (main thread)

void TKzCamView::SetFullScreen(bool Show) {
  if (!Show) {
    if (FormSingleView || FullScreen()) CloseFullScreenWindow();
    return;
  }
  if (FormSingleView || FFullScreenOwner) return;
  TForm* form = KzNewFullScreenForm(this, FColor);
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
