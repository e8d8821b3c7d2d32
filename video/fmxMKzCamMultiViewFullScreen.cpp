// TKzCamMultiView: the full-screen window with its copy of the wall (same
// cells and sources, last frames copied). While it is open this wall's
// cells take no frames; closing it copies the last frames back.
#include "video/fmxMKzCamMultiView.h"
#include "video/fmxMKzFullScreenForm.h"

namespace kz {

void TKzCamMultiView::SetViewsFullScreen(bool Value) {
  FIgnoreFrames.store(Value, std::memory_order_release);
  // The sources' draw threads skip a view in full-screen mode.
  ForEachView([Value](TKzCamView& v) { v.ModifyFullScreen(Value); });
}

void TKzCamMultiView::SetFullScreen(bool Show) {
  if (!Show) {
    if (FormMultiView) CloseFullScreenWindow();
    return;
  }
  if (FormMultiView || FFullScreenOwner) return;
  TForm* form = KzNewFullScreenForm(this, FColor);
  auto* copy = new TKzCamMultiView(form);
  copy->FFullScreenOwner = this;
  copy->SetParent(form);
  copy->AssignSettings(*this);
  copy->SetCanResize(FCanResize);
  // Cells keep their places relative to the wall: the copy lays them out
  // from the same reference geometry at its own size.
  copy->LockUpdates();
  for (int32_t i = 0; i < FViewers.Count(); ++i) {
    const TKzCamViewItem& mine = FViewers[i];
    TKzCamViewItem& item = copy->FViewers.Add();
    item.Assign(mine);
    item.FOriginalBounds = mine.FOriginalBounds;
    item.FOriginalParentWidth = mine.FOriginalParentWidth;
    item.FOriginalParentHeight = mine.FOriginalParentHeight;
  }
  copy->UnlockUpdates(false);
  copy->SetAlign(TAlignLayout::Client);
  form->OnClose = [this](TComponent*) {
    // Torn down later, outside the form's own handler.
    if (FRegistered) KzMessages().PostMessage2(this, MsgCloseFullScreen, 0, 0);
  };
  FormMultiView = form;
  FFullScreenMultiView = copy;
  form->Show();
  // Sources once the window shows, so the copy's views can take frames.
  for (int32_t i = 0; i < FViewers.Count(); ++i) {
    TKzCamView& v = *copy->FViewers[i].FViewer;
    v.SetVideoSource(FViewers[i].VideoSource());
    v.AssignLastFrame(*FViewers[i].FViewer);
  }
  copy->SetViewerIndex(FViewerIndex);
  copy->SetFocus();
  FFullScreen = true;
  SetViewsFullScreen(true);
  if (OnFullScreen) OnFullScreen(this, true);
}

void TKzCamMultiView::CloseFullScreenWindow() {
  TForm* form = FormMultiView;
  TKzCamMultiView* copy = FFullScreenMultiView;
  FormMultiView = nullptr;
  FFullScreenMultiView = nullptr;
  if (!form) return;
  form->OnClose = nullptr;
  SetViewsFullScreen(false);
  if (copy) {
    AssignLastFrame(*copy);
    copy->ClearVideoSource();
  }
  delete form;
  FFullScreen = false;
  if (IsDestroying()) return;
  if (OnFullScreen) OnFullScreen(this, false);
  Repaint();
}

}  // namespace kz
