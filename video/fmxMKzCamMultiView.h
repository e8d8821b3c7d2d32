// TKzCamMultiView: a wall of views in one scrollable control. Each cell
// (TKzCamViewItem) holds its own camera view and, optionally, an audio level
// strip. Cells are placed by position and size, docked to an edge, or kept
// in place by anchors when the wall resizes; they may also scale with it.
// One cell is the selected one; main-viewer cells always show the selected
// cell's source, so a wall of small pictures can have one large picture.
// The wall paints every cell itself (the cells' views never paint on their
// own), batches repaints with RefreshRate, routes mouse and keys to the cell
// under the pointer or the active cell, and can show itself full screen.
//
// Everything runs on the main thread except frame delivery into the cells'
// views (the sources' draw threads) and audio levels (the audio source's
// thread); both only add the cell to the redraw list, under its own lock.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzSmallSet.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformScrollBox.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/fmxMKzAudioViewer.h"
#include "video/fmxMKzCamControlPanel.h"
#include "video/fmxMKzCamView.h"

namespace kz {

enum class TKzMAnchor : uint8_t { kzmaLeft = 0, kzmaTop = 1, kzmaRight = 2, kzmaBottom = 3 };
using TKzMAnchors = TKzSmallSet<TKzMAnchor>;
enum class TKzAlignVideoViewer : uint8_t { kzavvTop = 0, kzavvBottom, kzavvLeft, kzavvRight, kzavvClient, kzavvNone };
enum class TKzAlignAudioViewer : uint8_t { kzaavTop = 0, kzaavBottom, kzaavLeft, kzaavRight, kzaavClient };
enum class TKzMicrophoneStyle : uint8_t { kzmpsSimple = 0, kzmpsHistogram, kzmpsGradient, kzmpsOwnerDraw };
// Moving cells with the mouse: never, by a press anywhere in the cell, or
// by its caption.
enum class TWindowDragMode : uint8_t { mwmNone = 0, mwmAny, mwmCaption };

class TKzCamMultiView;
class TKzCamViewItem;

using TKzSelectCamViewEvent = std::function<void(TComponent* Sender, TKzCamView* Viewer, int32_t Index)>;
// Before a cell's video or audio strip is painted. VideoFrame is the cell's
// last frame, nullptr for the audio strip (owner-drawn strips paint here);
// Rect is what is painted, in the canvas's current coordinates. Clearing
// CanDraw suppresses the wall's own drawing of it.
using TKzCamViewerPaintEvent = std::function<void(TComponent* Sender, TKzCamViewItem& Item, TKzMBitmap* VideoFrame,
                                                  bool& CanDraw, const TRect& Rect, TCanvas& Canvas)>;

// The audio strip of a cell: keeps the recent levels the wall's audio
// source reports for the cell's sender. Levels arrive on the source's thread.
class TKzCamAudioViewer : public IKzAudioViewer {
public:
  static constexpr size_t HistoryLength = 256;
  explicit TKzCamAudioViewer(TKzCamViewItem& Item) : FItem(Item) {}
  void ViewerSetAudioLevel(TComponent* Sender, uint16_t Level) override;
  void ViewerSetAudioLevelFrom(TComponent* Sender, const TGUID& From, uint16_t Level) override;
  bool ViewerDestroying() const override { return FDestroying.load(std::memory_order_acquire); }
  void SetDestroying() { FDestroying.store(true, std::memory_order_release); }
  // The newest level (128 silence .. 256) and the recent ones, oldest first.
  uint16_t Level() const;
  std::vector<uint16_t> History() const;

private:
  TKzCamViewItem& FItem;
  std::atomic<bool> FDestroying{false};
  mutable std::mutex FLock;  // guards FHistory and FNext
  std::vector<uint16_t> FHistory = std::vector<uint16_t>(HistoryLength, 128);
  size_t FNext = 0;
};

// One cell of the wall.
class TKzCamViewItem {
public:
  // Created by the collection only. Main thread.
  TKzCamViewItem(TKzCamMultiView& Owner);
  ~TKzCamViewItem();
  TKzCamViewItem(const TKzCamViewItem&) = delete;
  TKzCamViewItem& operator=(const TKzCamViewItem&) = delete;

  TKzCamView* Viewer() const { return FViewer; }
  TKzCamAudioViewer* AViewer() const { return FAViewer.get(); }
  int32_t Index() const;
  // Copies the published properties of another cell (not the source).
  void Assign(const TKzCamViewItem& Source);

  // ---- Published properties (main thread)
  TKzVideoSource* VideoSource() const { return FViewer->VideoSource(); }
  void SetVideoSource(TKzVideoSource* Value);
  bool MainViewer() const { return FMainViewer; }
  void SetMainViewer(bool Value);
  bool UseFramePerSec() const { return FUseFramePerSec; }
  void SetUseFramePerSec(bool Value) { FUseFramePerSec = Value; }
  double FramePerSec() const { return FFramePerSec; }
  void SetFramePerSec(double Value) { FFramePerSec = Value; }
  int32_t Left() const { return FBounds.Left; }
  int32_t Top() const { return FBounds.Top; }
  int32_t Width() const { return FBounds.Width(); }
  int32_t Height() const { return FBounds.Height(); }
  // The cell's place in the wall's content. Setting it (as the application)
  // takes it as the new reference bounds.
  TRect BoundsRect() const { return FBounds; }
  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  void SetBoundsRect(const TRect& R) { SetBounds(R.Left, R.Top, R.Width(), R.Height()); }
  void SetLeft(int32_t Value) { SetBounds(Value, Top(), Width(), Height()); }
  void SetTop(int32_t Value) { SetBounds(Left(), Value, Width(), Height()); }
  void SetWidth(int32_t Value) { SetBounds(Left(), Top(), Value, Height()); }
  void SetHeight(int32_t Value) { SetBounds(Left(), Top(), Width(), Value); }
  TKzMAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TKzMAnchors Value) { FAnchors = Value; }
  TKzAlignVideoViewer AlignVideoViewer() const { return FAlignVideoViewer; }
  void SetAlignVideoViewer(TKzAlignVideoViewer Value);
  bool AudioViewer() const { return FAudioViewer; }
  void SetAudioViewer(bool Value);
  TKzAlignAudioViewer AlignAudioViewer() const { return FAlignAudioViewer; }
  void SetAlignAudioViewer(TKzAlignAudioViewer Value);
  TAlphaColor AudioViewerColor() const { return FAudioViewerColor; }
  void SetAudioViewerColor(TAlphaColor Value);
  // Passed to the cell's view.
  const std::string& Title() const { return FViewer->Title(); }
  void SetTitle(const std::string& Value) { FViewer->SetTitle(Value); }
  TKzCameraCaptionParts CaptionParts() const { return FViewer->CaptionParts(); }
  void SetCaptionParts(TKzCameraCaptionParts Value) { FViewer->SetCaptionParts(Value); }
  bool ShowCaption() const { return FViewer->ShowCaption(); }
  void SetShowCaption(bool Value) { FViewer->SetShowCaption(Value); }
  bool ShowCameraSearch() const { return FViewer->ShowCameraSearch(); }
  void SetShowCameraSearch(bool Value) { FViewer->SetShowCameraSearch(Value); }
  TKzCamViewMode ViewMode() const { return FViewer->ViewMode(); }
  void SetViewMode(TKzCamViewMode Value) { FViewer->SetViewMode(Value); }
  std::string GUIDFrom() const { return FViewer->GUIDFrom(); }
  void SetGUIDFrom(const std::string& Value) { FViewer->SetGUIDFrom(Value); }
  uint16_t IndexFrom() const { return FViewer->IndexFrom(); }
  void SetIndexFrom(uint16_t Value) { FViewer->SetIndexFrom(Value); }
  TAlphaColor Color() const { return FViewer->Color(); }
  void SetColor(TAlphaColor Value) { FViewer->SetColor(Value); }
  // 0: the wall's CaptionColor.
  TAlphaColor CaptionColor() const { return FCaptionColor; }
  void SetCaptionColor(TAlphaColor Value);
  bool UseOptimalVideoResolution() const { return FViewer->UseOptimalVideoResolution(); }
  void SetUseOptimalVideoResolution(bool Value) { FViewer->SetUseOptimalVideoResolution(Value); }

  // ---- Reference geometry, read only for the application
  TRect OriginalBounds() const { return FOriginalBounds; }
  int32_t OriginalParentWidth() const { return FOriginalParentWidth; }
  int32_t OriginalParentHeight() const { return FOriginalParentHeight; }
  // Each edge divided by the wall's width or height when the reference was
  // taken (a divisor below 1 counts as 1).
  double PrLeft() const { return FPrLeft; }
  double PrTop() const { return FPrTop; }
  double PrRight() const { return FPrRight; }
  double PrBottom() const { return FPrBottom; }

  // ---- Counters for owners, tests and benchmarks (any thread)
  // Frames the cell's view accepted / the wall painted (one per new frame).
  uint64_t FramesArrived() const { return FFramesArrived.load(std::memory_order_acquire); }
  uint64_t FramesPainted() const { return FFramesPainted.load(std::memory_order_acquire); }

private:
  friend class TKzCamMultiView;
  friend class TKzCamAudioViewer;
  // Moves the cell without touching its reference bounds (the wall's layout).
  void MoveTo(const TRect& Bounds);
  void TakeReference();
  // Places the view on the video part of the cell.
  void PlaceViewer();
  void ApplyCaptionColor();

  TKzCamMultiView& FOwner;
  TKzCamView* FViewer;  // owned by the wall (component owner)
  std::unique_ptr<TKzCamAudioViewer> FAViewer;
  bool FAViewerRegistered = false;
  bool FMainViewer = false;
  bool FUseFramePerSec = false;
  double FFramePerSec = 0;
  TRect FBounds{0, 0, 160, 120};
  TKzMAnchors FAnchors{TKzMAnchor::kzmaLeft, TKzMAnchor::kzmaTop};
  TKzAlignVideoViewer FAlignVideoViewer = TKzAlignVideoViewer::kzavvNone;
  bool FAudioViewer = false;
  TKzAlignAudioViewer FAlignAudioViewer = TKzAlignAudioViewer::kzaavRight;
  TAlphaColor FAudioViewerColor = 0xFFFFFFFFu;
  TAlphaColor FCaptionColor = 0;
  TRect FOriginalBounds{0, 0, 160, 120};
  int32_t FOriginalParentWidth = 0;
  int32_t FOriginalParentHeight = 0;
  double FPrLeft = 0, FPrTop = 0, FPrRight = 0, FPrBottom = 0;
  bool FAnchorMove = false;
  std::atomic<uint64_t> FFramesArrived{0};
  std::atomic<uint64_t> FFramesPainted{0};
  uint64_t FArrivedAtPaint = 0;
};

// The cells, in paint order (a later cell lies over an earlier one).
class TKzCamViewCollection {
public:
  explicit TKzCamViewCollection(TKzCamMultiView& Owner) : FOwner(Owner) {}
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TKzCamViewItem& operator[](int32_t Index) const { return *FItems.at(static_cast<size_t>(Index)); }
  TKzCamViewItem& Items(int32_t Index) const { return (*this)[Index]; }
  // A new cell at the end, its view set up with the wall's settings.
  TKzCamViewItem& Add();
  // Frees the cell and its view. Main thread.
  void Delete(int32_t Index);
  void Clear();
  int32_t IndexOf(const TKzCamViewItem* Item) const;

private:
  TKzCamMultiView& FOwner;
  std::vector<std::unique_ptr<TKzCamViewItem>> FItems;
};

class TKzCamMultiView : public TScrollBox {
public:
  static constexpr uint32_t MsgRedrawViewers = 1025;  // the redraw list has cells (RefreshRate 0)
  static constexpr uint32_t MsgCloseFullScreen = 1026;
  static constexpr int32_t AudioStripSize = 10;
  // The bottom-right square of a cell that resizes it with a drag mode.
  static constexpr int32_t ResizeGrip = 8;

  // Main thread, never blocks.
  explicit TKzCamMultiView(TComponent* AOwner);
  // Closes the full-screen window and frees the cells. Main thread.
  ~TKzCamMultiView() override;

  // Copies the wall-wide published properties (not the cells, sources or events).
  void AssignSettings(const TKzCamMultiView& Source);

  TKzCamViewCollection& Viewers() { return FViewers; }
  const TKzCamViewCollection& Viewers() const { return FViewers; }

  // ---- Finding cells (main thread)
  // The index of the cell holding View, or -1.
  int32_t FindViewer(const TKzCamView* View) const;
  // The topmost cell containing the content point (X, Y), or -1.
  int32_t GetViewerAt(int32_t X, int32_t Y) const;
  // Selectable (non-main) cells; next and previous wrap; -1 when none.
  int32_t GetFirstViewer() const;
  int32_t GetLastViewer() const;
  int32_t GetNextViewer(int32_t Index) const;
  int32_t GetPrevViewer(int32_t Index) const;
  // The first cell whose view IsInFocus, or -1.
  int32_t GetActiveViewer() const;
  void SetActiveViewer(int32_t Index);
  // The video and audio rectangles of a cell in content coordinates.
  void GetViewerRects(int32_t Index, TRect& VideoRect, TRect& AudioRect) const;

  // ---- Selection and layout (main thread)
  int32_t ViewerIndex() const { return FViewerIndex; }
  void SetViewerIndex(int32_t Index);
  void UpdateMainViewer();
  // Lays every cell out for the current size except the cell Except (-1: none).
  void ResizeViewers(int32_t Except = -1);
  void AlignViewers() { ResizeViewers(-1); }
  void LockUpdates();
  void UnlockUpdates(bool Repaint);
  bool IsUpdateLocked() const { return FLockCounter > 0; }
  // Last frames of another wall's cells, cell by cell.
  void AssignLastFrame(const TKzCamMultiView& Other);
  // Every cell lets go of its source.
  void ClearVideoSource();

  // ---- Full screen (main thread)
  void SetFullScreen(bool Show);
  bool FullScreen() const { return FFullScreen; }
  TKzCamMultiView* FullScreenMultiView() const { return FFullScreenMultiView; }
  TForm* FullScreenForm() const { return FormMultiView; }
  TRect GetFullScreenButtonRect() const;
  bool FullScreenButtonVisible() const { return FFullScreenButtonVisible; }

  // ---- Published properties (main thread)
  TKzCamMoveMode CamMoveMode() const { return FCamMoveMode; }
  void SetCamMoveMode(TKzCamMoveMode Value);
  bool RememberLastFrame() const { return FRememberLastFrame; }
  void SetRememberLastFrame(bool Value);
  bool AllowEmptyGUID() const { return FAllowEmptyGUID; }
  void SetAllowEmptyGUID(bool Value);
  TAlphaColor ViewerColor() const { return FViewerColor; }
  void SetViewerColor(TAlphaColor Value);
  TAlphaColor Color() const { return FColor; }
  void SetColor(TAlphaColor Value);
  TAlphaColor CaptionColor() const { return FCaptionColor; }
  void SetCaptionColor(TAlphaColor Value);
  int32_t CaptionHeight() const { return FCaptionHeight; }
  void SetCaptionHeight(int32_t Value);
  TAlphaColor FocusLineColor() const { return FFocusLineColor; }
  void SetFocusLineColor(TAlphaColor Value);
  TAlphaColor HoverLineColor() const { return FHoverLineColor; }
  void SetHoverLineColor(TAlphaColor Value);
  TAlphaColor SearchPanelColor() const { return FSearchPanelColor; }
  void SetSearchPanelColor(TAlphaColor Value);
  TAlphaColor SearchPanelTextColor() const { return FSearchPanelTextColor; }
  void SetSearchPanelTextColor(TAlphaColor Value);
  TKzMLanguage Language() const { return FLanguage; }
  void SetLanguage(TKzMLanguage Value);
  TKzMIconStyle IconStyle() const { return FIconStyle; }
  void SetIconStyle(TKzMIconStyle Value);
  int32_t WaitAnimationDelay() const { return FWaitAnimationDelay; }
  void SetWaitAnimationDelay(int32_t Value);
  // Repaints per second; 0: a new frame repaints its cell at once.
  int32_t RefreshRate() const { return FRefreshRate.load(std::memory_order_acquire); }
  void SetRefreshRate(int32_t Value);
  TWindowDragMode WindowDragMode() const { return FWindowDragMode; }
  void SetWindowDragMode(TWindowDragMode Value) { FWindowDragMode = Value; }
  bool AllowFullScreen() const { return FAllowFullScreen; }
  void SetAllowFullScreen(bool Value);
  // A TKzAudioSource (any component implementing IKzAudioLevelSource).
  TComponent* AudioSource() const { return FAudioSourceComponent; }
  void SetAudioSource(TComponent* Value);
  TKzMicrophoneStyle AudioViewerStyle() const { return FAudioViewerStyle; }
  void SetAudioViewerStyle(TKzMicrophoneStyle Value);
  // A TKzCamControl (any component implementing IKzCamControlPanel).
  TComponent* CameraControl() const { return FCameraControlComponent; }
  void SetCameraControl(TComponent* Value);
  const TTextSettings& TextSettings() const { return FTextSettings; }
  void SetTextSettings(const TTextSettings& Value);
  const TTextSettings& CaptionTextSettings() const { return FCaptionTextSettings; }
  void SetCaptionTextSettings(const TTextSettings& Value);
  // Cells may be moved and resized with the mouse (with a drag mode).
  bool CanResize() const { return FCanResize; }
  void SetCanResize(bool Value) { FCanResize = Value; }
  // Cells scale with the wall instead of following their anchors.
  bool ScaleViewers() const { return FScaleViewers; }
  void SetScaleViewers(bool Value);

  // ---- Events (main thread)
  TKzSelectCamViewEvent OnSelectViewer;
  TKzCamViewerPaintEvent OnViewerPaint;
  TKzFullScreenEvent OnFullScreen;

  // ---- Control overrides (main thread)
  void MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseMove(TShiftState Shift, float X, float Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void DoMouseLeave() override;
  void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override;
  void KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override;

protected:
  void PaintContent(TCanvas& Canvas) override;
  void ScrollChanged() override;
  void Resize() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // ---- Hooks on every cell's view
  bool HookDrawVideoViewer(TKzCamViewItem& Item, bool FullRedraw);
  void HookChangeFocus(TKzCamViewItem& Item);
  void HookNewVideoFrame(TKzCamViewItem& Item);  // draw thread
  void HookClearLastFrame(TKzCamViewItem& Item);
  void HookButtonAbortClick(TKzCamViewItem& Item);
  void HookPaint(TKzCamViewItem& Item, TKzMBitmap& Frame, bool& CanDrawFrame, TCanvas& Canvas);
  void HookBeginVideoStream(TKzCamViewItem& Item);
  void HookDrawCameraSearch(TKzCamViewItem& Item);

private:
  friend class TKzCamViewItem;
  friend class TKzCamViewCollection;
  friend class TKzCamAudioViewer;

  // Cells
  void SetUpViewer(TKzCamViewItem& Item);
  void RemovingItem(TKzCamViewItem& Item);
  void ItemRemoved(int32_t Index);
  void ApplySettings(TKzCamView& View) const;
  void ForEachView(const std::function<void(TKzCamView&)>& Apply);
  void AttachAudioViewer(TKzCamViewItem& Item);
  void DetachAudioViewer(TKzCamViewItem& Item);
  TKzCamViewItem* ItemAt(int32_t Index) const;
  // Geometry
  TRect ClientOf(const TRect& Content) const;
  TRect CellClientRect(const TKzCamViewItem& Item) const;
  void InvalidateCell(const TKzCamViewItem& Item);
  void UpdateContentSize();
  // Painting and the redraw list
  void PaintCell(TCanvas& Canvas, TKzCamViewItem& Item);
  void PaintAudioStrip(TCanvas& Canvas, TKzCamViewItem& Item, const TRect& Rect);
  void DrawFullScreenButton(TCanvas& Canvas);
  void QueueRedraw(TKzCamViewItem& Item);  // any thread
  void RedrawQueuedViewers();
  void UpdateRefreshTimer();
  void ForgetRedraw(TKzCamViewItem& Item);
  // Selection
  void SetFrameRateOnSelect(TKzCamViewItem* Old, TKzCamViewItem* New);
  void AttachCameraControl();
  // Input
  void UpdateHover(int32_t Index);
  bool StartCellDrag(int32_t Index, float X, float Y);
  void UpdateFullScreenButton(float X, float Y);
  void OnFullScreenButtonTimer();
  // Full screen
  void CloseFullScreenWindow();
  void SetViewsFullScreen(bool Value);

  TKzCamViewCollection FViewers{*this};
  int32_t FViewerIndex = -1;
  TKzCamMoveMode FCamMoveMode = TKzCamMoveMode::vcmmToCursor;
  bool FRememberLastFrame = true;
  bool FAllowEmptyGUID = true;
  TAlphaColor FViewerColor = 0xFF9FBEE7u;
  TAlphaColor FColor = 0xFFFFFFFFu;
  TAlphaColor FCaptionColor = 0xFF4F7EA7u;
  int32_t FCaptionHeight = 20;
  TAlphaColor FFocusLineColor = 0xFFFF0000u;
  TAlphaColor FHoverLineColor = 0xFF5F8EB7u;
  TAlphaColor FSearchPanelColor = 0;
  TAlphaColor FSearchPanelTextColor = 0;
  TKzMLanguage FLanguage = TKzMLanguage::kzmlEnglish;
  TKzMIconStyle FIconStyle = TKzMIconStyle::kzisClassic;
  int32_t FWaitAnimationDelay = 3000;
  std::atomic<int32_t> FRefreshRate{0};
  TWindowDragMode FWindowDragMode = TWindowDragMode::mwmCaption;
  bool FAllowFullScreen = false;
  TComponent* FAudioSourceComponent = nullptr;
  IKzAudioLevelSource* FAudioSource = nullptr;
  TKzMicrophoneStyle FAudioViewerStyle = TKzMicrophoneStyle::kzmpsHistogram;
  TComponent* FCameraControlComponent = nullptr;
  IKzCamControlPanel* FCameraControl = nullptr;
  TTextSettings FTextSettings;
  TTextSettings FCaptionTextSettings;
  bool FScaleViewers = false;

  bool FCanResize = true;
  int32_t FLockCounter = 0;
  bool FRegistered = false;
  TKzCamView* FPaintingView = nullptr;  // the cell view the wall is painting
  bool FSelecting = false;      // SetViewerIndex runs
  bool FRefusingFocus = false;  // a main viewer hands the focus back
  // Full-screen button and window
  bool FFullScreenButtonVisible = false;
  bool FFSBtnHot = false;
  uint64_t FSLastTime = 0;
  TTimer FSTimer;
  TForm* FormMultiView = nullptr;                 // owned; the full-screen window
  TKzCamMultiView* FFullScreenMultiView = nullptr;  // owned by FormMultiView
  TKzCamMultiView* FFullScreenOwner = nullptr;      // in that window: the wall it copies
  bool FFullScreen = false;
  std::atomic<bool> FIgnoreFrames{false};
  // Input
  int32_t MouseMoveVI = -1;      // cell under the pointer
  int32_t FMouseDownVI = -1;     // cell that took the press (its view gets the moves)
  int32_t FDragVI = -1;          // cell being moved or resized
  bool FDragResize = false;
  TPointF FDragFrom;
  TRect FDragBounds;
  // Repaint batching
  TTimer FRedrawingTimer;
  TKzCriticalSection FRedrawViewersListCriticalSection;  // guards FRedrawViewersList
  std::vector<TKzCamViewItem*> FRedrawViewersList;
  std::atomic<bool> FRedrawPosted{false};
};

}  // namespace kz
