// TKzCamMultiView: life cycle, the cells and their views, and the wall-wide
// published properties passed on to every cell's view.
#include "video/fmxMKzCamMultiView.h"

#include <algorithm>

namespace kz {

// ---- Cells

TKzCamViewItem::TKzCamViewItem(TKzCamMultiView& Owner) : FOwner(Owner), FViewer(new TKzCamView(&Owner)) {}

TKzCamViewItem::~TKzCamViewItem() { delete FViewer; }

int32_t TKzCamViewItem::Index() const { return FOwner.FViewers.IndexOf(this); }

void TKzCamViewItem::Assign(const TKzCamViewItem& Source) {
  FViewer->Assign(*Source.FViewer);
  FOwner.ApplySettings(*FViewer);
  FMainViewer = Source.FMainViewer;
  FUseFramePerSec = Source.FUseFramePerSec;
  FFramePerSec = Source.FFramePerSec;
  FAnchors = Source.FAnchors;
  FAlignVideoViewer = Source.FAlignVideoViewer;
  FAlignAudioViewer = Source.FAlignAudioViewer;
  FAudioViewerColor = Source.FAudioViewerColor;
  FCaptionColor = Source.FCaptionColor;
  SetAudioViewer(Source.FAudioViewer);
  ApplyCaptionColor();
  SetBounds(Source.Left(), Source.Top(), Source.Width(), Source.Height());
}

void TKzCamViewItem::SetVideoSource(TKzVideoSource* Value) {
  if (Value == VideoSource()) return;
  FViewer->SetVideoSource(Value);
  FOwner.UpdateRefreshTimer();
  if (Index() == FOwner.FViewerIndex) {
    FOwner.UpdateMainViewer();
    FOwner.AttachCameraControl();
  }
}

void TKzCamViewItem::SetMainViewer(bool Value) {
  if (Value == FMainViewer) return;
  FMainViewer = Value;
  if (Value && FViewer->IsInFocus()) FViewer->SetIsInFocus(false);
  FOwner.UpdateMainViewer();
}

void TKzCamViewItem::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  MoveTo(TRect(ALeft, ATop, ALeft + std::max(AWidth, 0), ATop + std::max(AHeight, 0)));
  if (!FAnchorMove) TakeReference();
}

void TKzCamViewItem::MoveTo(const TRect& Bounds) {
  if (Bounds == FBounds) return;
  FOwner.InvalidateCell(*this);
  FBounds = Bounds;
  PlaceViewer();
  FOwner.InvalidateCell(*this);
  if (!FAnchorMove) FOwner.UpdateContentSize();
}

void TKzCamViewItem::TakeReference() {
  FOriginalBounds = FBounds;
  FOriginalParentWidth = FOwner.Width();
  FOriginalParentHeight = FOwner.Height();
  const double w = std::max(FOriginalParentWidth, 1), h = std::max(FOriginalParentHeight, 1);
  FPrLeft = FBounds.Left / w;
  FPrRight = FBounds.Right / w;
  FPrTop = FBounds.Top / h;
  FPrBottom = FBounds.Bottom / h;
}

void TKzCamViewItem::PlaceViewer() {
  TRect video, audio;
  FOwner.GetViewerRects(Index(), video, audio);
  FViewer->SetBoundsRect(FOwner.ClientOf(video));
}

void TKzCamViewItem::SetAlignVideoViewer(TKzAlignVideoViewer Value) {
  if (Value == FAlignVideoViewer) return;
  FAlignVideoViewer = Value;
  FOwner.ResizeViewers(-1);
}

void TKzCamViewItem::SetAudioViewer(bool Value) {
  if (Value == FAudioViewer) return;
  FAudioViewer = Value;
  if (Value)
    FOwner.AttachAudioViewer(*this);
  else
    FOwner.DetachAudioViewer(*this);
  PlaceViewer();
  FOwner.InvalidateCell(*this);
}

void TKzCamViewItem::SetAlignAudioViewer(TKzAlignAudioViewer Value) {
  if (Value == FAlignAudioViewer) return;
  FAlignAudioViewer = Value;
  PlaceViewer();
  FOwner.InvalidateCell(*this);
}

void TKzCamViewItem::SetAudioViewerColor(TAlphaColor Value) {
  FAudioViewerColor = Value;
  FOwner.InvalidateCell(*this);
}

void TKzCamViewItem::SetCaptionColor(TAlphaColor Value) {
  FCaptionColor = Value;
  ApplyCaptionColor();
}

void TKzCamViewItem::ApplyCaptionColor() {
  FViewer->SetCaptionColor(FCaptionColor != 0 ? FCaptionColor : FOwner.FCaptionColor);
}

// ---- The collection

TKzCamViewItem& TKzCamViewCollection::Add() {
  FItems.push_back(std::make_unique<TKzCamViewItem>(FOwner));
  TKzCamViewItem& item = *FItems.back();
  FOwner.SetUpViewer(item);
  return item;
}

void TKzCamViewCollection::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  TKzCamViewItem& item = *FItems[static_cast<size_t>(Index)];
  FOwner.RemovingItem(item);
  FItems.erase(FItems.begin() + Index);
  FOwner.ItemRemoved(Index);
}

void TKzCamViewCollection::Clear() {
  FOwner.LockUpdates();
  while (Count() > 0) Delete(Count() - 1);
  FOwner.UnlockUpdates(true);
}

int32_t TKzCamViewCollection::IndexOf(const TKzCamViewItem* Item) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Item) return static_cast<int32_t>(i);
  return -1;
}

// ---- Life cycle

TKzCamMultiView::TKzCamMultiView(TComponent* AOwner) : TScrollBox(AOwner) {
  FRedrawingTimer.OnTimer = [this](TTimer*) { RedrawQueuedViewers(); };
  FSTimer.SetInterval(1000);
  FSTimer.OnTimer = [this](TTimer*) { OnFullScreenButtonTimer(); };
  if (!IsDesigning()) {
    KzMessages().RegisterMessageHandler2(this, MsgRedrawViewers, [this](TMessage&) {
      FRedrawPosted.store(false, std::memory_order_release);
      RedrawQueuedViewers();
    });
    KzMessages().RegisterMessageHandler2(this, MsgCloseFullScreen, [this](TMessage&) { SetFullScreen(false); });
    FRegistered = true;
  }
}

TKzCamMultiView::~TKzCamMultiView() {
  Destroying();
  CloseFullScreenWindow();
  if (FCameraControl) FCameraControl->DetachVideoSource();
  FRedrawingTimer.SetEnabled(false);
  FSTimer.SetEnabled(false);
  FLockCounter = 1;  // no layout or repaint while the cells go
  while (FViewers.Count() > 0) FViewers.Delete(FViewers.Count() - 1);
  if (FRegistered) KzMessages().UnRegister2(this);
}

void TKzCamMultiView::SetUpViewer(TKzCamViewItem& Item) {
  TKzCamView& v = *Item.FViewer;
  v.IsMultiView = true;
  v.SetIsLastImage(true);
  v.SetVisible(false);  // the wall paints it and routes its input
  v.SetParent(this);
  ApplySettings(v);
  v.SetColor(FViewerColor);
  Item.ApplyCaptionColor();
  TKzCamViewItem* item = &Item;
  v.OnOwnerDraw = [this, item](TComponent*, bool Full) { return HookDrawVideoViewer(*item, Full); };
  v.OnChangeFocus = [this, item](TComponent*) { HookChangeFocus(*item); };
  v.OnNewVideoFrame = [this, item](TComponent*) { HookNewVideoFrame(*item); };
  v.OnClearLastFrame = [this, item](TComponent*) { HookClearLastFrame(*item); };
  v.OnButtonAbortClick = [this, item](TComponent*) { HookButtonAbortClick(*item); };
  v.OnMultiPaint = [this, item](TComponent*, TKzMBitmap& Frame, bool& CanDraw, float, float, TCanvas& Canvas) {
    HookPaint(*item, Frame, CanDraw, Canvas);
  };
  v.OnMultiBeginVideoStream = [this, item](TComponent*) { HookBeginVideoStream(*item); };
  v.OnOwnerCameraSearch = [this, item](TComponent*) { HookDrawCameraSearch(*item); };
  Item.TakeReference();
  Item.PlaceViewer();
  if (FAudioSource && Item.FAudioViewer) AttachAudioViewer(Item);
  UpdateContentSize();
  InvalidateCell(Item);
}

void TKzCamMultiView::RemovingItem(TKzCamViewItem& Item) {
  const int32_t index = Item.Index();
  DetachAudioViewer(Item);
  InvalidateCell(Item);
  if (FFullScreenMultiView && index < FFullScreenMultiView->FViewers.Count())
    FFullScreenMultiView->FViewers.Delete(index);
  // The view goes first: it waits for a frame being delivered to it, after
  // which nothing can put the cell on the redraw list again.
  Item.FViewer->SetVideoSource(nullptr);
  ForgetRedraw(Item);
}

void TKzCamMultiView::ItemRemoved(int32_t Index) {
  auto shift = [Index](int32_t& I) {
    if (I == Index) I = -1;
    else if (I > Index) --I;
  };
  shift(MouseMoveVI);
  shift(FMouseDownVI);
  shift(FDragVI);
  if (FViewerIndex >= Index) {
    // The selection stays on the same cell, or moves to a neighbour when the
    // selected one went.
    const bool selectedGone = FViewerIndex == Index;
    if (!selectedGone) --FViewerIndex;
    if (selectedGone) {
      FViewerIndex = -1;
      if (!IsDestroying() && FViewers.Count() > 0) SetViewerIndex(std::min(Index, FViewers.Count() - 1));
    }
  }
  if (IsDestroying()) return;
  UpdateRefreshTimer();
  ResizeViewers(-1);
}

void TKzCamMultiView::ApplySettings(TKzCamView& View) const {
  View.SetCamMoveMode(FCamMoveMode);
  View.SetRememberLastFrame(FRememberLastFrame);
  View.SetAllowEmptyGUID(FAllowEmptyGUID);
  View.SetCaptionHeight(FCaptionHeight);
  View.SetFocusLineColor(FFocusLineColor);
  View.SetHoverLineColor(FHoverLineColor);
  View.SetSearchPanelColor(FSearchPanelColor);
  View.SetSearchPanelTextColor(FSearchPanelTextColor);
  View.SetLanguage(FLanguage);
  View.SetIconStyle(FIconStyle);
  View.SetWaitAnimationDelay(FWaitAnimationDelay);
  View.SetTextSettings(FTextSettings);
  View.SetCaptionTextSettings(FCaptionTextSettings);
  View.SetAllowFullScreen(false);  // the wall has its own button
}

void TKzCamMultiView::ForEachView(const std::function<void(TKzCamView&)>& Apply) {
  for (int32_t i = 0; i < FViewers.Count(); ++i) Apply(*FViewers[i].FViewer);
}

TKzCamViewItem* TKzCamMultiView::ItemAt(int32_t Index) const {
  return Index >= 0 && Index < FViewers.Count() ? &FViewers[Index] : nullptr;
}

int32_t TKzCamMultiView::FindViewer(const TKzCamView* View) const {
  for (int32_t i = 0; i < FViewers.Count(); ++i)
    if (FViewers[i].FViewer == View) return i;
  return -1;
}

void TKzCamMultiView::Notification(TComponent* AComponent, TOperation Operation) {
  TScrollBox::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove || !AComponent) return;
  if (AComponent == FAudioSourceComponent) {
    // The source is going away: its viewer list goes with it.
    FAudioSourceComponent = nullptr;
    FAudioSource = nullptr;
  }
  if (AComponent == FCameraControlComponent) {
    FCameraControlComponent = nullptr;
    FCameraControl = nullptr;
  }
}

void TKzCamMultiView::AssignSettings(const TKzCamMultiView& S) {
  LockUpdates();
  FCamMoveMode = S.FCamMoveMode;
  FRememberLastFrame = S.FRememberLastFrame;
  FAllowEmptyGUID = S.FAllowEmptyGUID;
  FViewerColor = S.FViewerColor;
  FColor = S.FColor;
  FCaptionColor = S.FCaptionColor;
  FCaptionHeight = S.FCaptionHeight;
  FFocusLineColor = S.FFocusLineColor;
  FHoverLineColor = S.FHoverLineColor;
  FSearchPanelColor = S.FSearchPanelColor;
  FSearchPanelTextColor = S.FSearchPanelTextColor;
  FLanguage = S.FLanguage;
  FIconStyle = S.FIconStyle;
  FWaitAnimationDelay = S.FWaitAnimationDelay;
  FRefreshRate.store(S.RefreshRate(), std::memory_order_release);
  FWindowDragMode = S.FWindowDragMode;
  FAllowFullScreen = S.FAllowFullScreen;
  FAudioViewerStyle = S.FAudioViewerStyle;
  FTextSettings = S.FTextSettings;
  FCaptionTextSettings = S.FCaptionTextSettings;
  FScaleViewers = S.FScaleViewers;
  SetAudioSource(S.FAudioSourceComponent);
  ForEachView([this](TKzCamView& v) { ApplySettings(v); });
  UpdateRefreshTimer();
  UnlockUpdates(true);
}

// ---- Wall-wide properties passed to the cells

void TKzCamMultiView::SetCamMoveMode(TKzCamMoveMode Value) {
  FCamMoveMode = Value;
  ForEachView([Value](TKzCamView& v) { v.SetCamMoveMode(Value); });
}

void TKzCamMultiView::SetRememberLastFrame(bool Value) {
  FRememberLastFrame = Value;
  ForEachView([Value](TKzCamView& v) { v.SetRememberLastFrame(Value); });
}

void TKzCamMultiView::SetAllowEmptyGUID(bool Value) {
  FAllowEmptyGUID = Value;
  ForEachView([Value](TKzCamView& v) { v.SetAllowEmptyGUID(Value); });
}

void TKzCamMultiView::SetViewerColor(TAlphaColor Value) {
  FViewerColor = Value;
  ForEachView([Value](TKzCamView& v) { v.SetColor(Value); });
}

void TKzCamMultiView::SetColor(TAlphaColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Repaint();
}

void TKzCamMultiView::SetCaptionColor(TAlphaColor Value) {
  FCaptionColor = Value;
  for (int32_t i = 0; i < FViewers.Count(); ++i) FViewers[i].ApplyCaptionColor();
}

void TKzCamMultiView::SetCaptionHeight(int32_t Value) {
  FCaptionHeight = Value;
  ForEachView([Value](TKzCamView& v) { v.SetCaptionHeight(Value); });
}

void TKzCamMultiView::SetFocusLineColor(TAlphaColor Value) {
  FFocusLineColor = Value;
  ForEachView([Value](TKzCamView& v) { v.SetFocusLineColor(Value); });
}

void TKzCamMultiView::SetHoverLineColor(TAlphaColor Value) {
  FHoverLineColor = Value;
  ForEachView([Value](TKzCamView& v) { v.SetHoverLineColor(Value); });
}

void TKzCamMultiView::SetSearchPanelColor(TAlphaColor Value) {
  FSearchPanelColor = Value;
  ForEachView([Value](TKzCamView& v) { v.SetSearchPanelColor(Value); });
}

void TKzCamMultiView::SetSearchPanelTextColor(TAlphaColor Value) {
  FSearchPanelTextColor = Value;
  ForEachView([Value](TKzCamView& v) { v.SetSearchPanelTextColor(Value); });
}

void TKzCamMultiView::SetLanguage(TKzMLanguage Value) {
  FLanguage = Value;
  ForEachView([Value](TKzCamView& v) { v.SetLanguage(Value); });
}

void TKzCamMultiView::SetIconStyle(TKzMIconStyle Value) {
  FIconStyle = Value;
  ForEachView([Value](TKzCamView& v) { v.SetIconStyle(Value); });
  Repaint();
}

void TKzCamMultiView::SetWaitAnimationDelay(int32_t Value) {
  FWaitAnimationDelay = Value;
  ForEachView([Value](TKzCamView& v) { v.SetWaitAnimationDelay(Value); });
}

void TKzCamMultiView::SetTextSettings(const TTextSettings& Value) {
  FTextSettings = Value;
  ForEachView([&Value](TKzCamView& v) { v.SetTextSettings(Value); });
}

void TKzCamMultiView::SetCaptionTextSettings(const TTextSettings& Value) {
  FCaptionTextSettings = Value;
  ForEachView([&Value](TKzCamView& v) { v.SetCaptionTextSettings(Value); });
}

void TKzCamMultiView::SetScaleViewers(bool Value) {
  if (FScaleViewers == Value) return;
  FScaleViewers = Value;
  ResizeViewers(-1);
}

void TKzCamMultiView::SetCameraControl(TComponent* Value) {
  if (Value == FCameraControlComponent) return;
  if (FCameraControl) FCameraControl->DetachVideoSource();
  if (FCameraControlComponent) RemoveFreeNotification(FCameraControlComponent);
  FCameraControlComponent = Value;
  FCameraControl = dynamic_cast<IKzCamControlPanel*>(Value);
  if (Value) FreeNotification(Value);
  AttachCameraControl();
}

void TKzCamMultiView::LockUpdates() { ++FLockCounter; }

void TKzCamMultiView::UnlockUpdates(bool Repaint_) {
  if (FLockCounter <= 0) return;
  if (--FLockCounter > 0) return;
  ResizeViewers(-1);
  if (Repaint_) Repaint();
}

void TKzCamMultiView::AssignLastFrame(const TKzCamMultiView& Other) {
  const int32_t n = std::min(FViewers.Count(), Other.FViewers.Count());
  for (int32_t i = 0; i < n; ++i) FViewers[i].FViewer->AssignLastFrame(*Other.FViewers[i].FViewer);
  Repaint();
}

void TKzCamMultiView::ClearVideoSource() {
  for (int32_t i = 0; i < FViewers.Count(); ++i) FViewers[i].FViewer->SetVideoSource(nullptr);
  if (FCameraControl) FCameraControl->DetachVideoSource();
  UpdateRefreshTimer();
}

}  // namespace kz
