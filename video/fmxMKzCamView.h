// TKzCamView: the control that shows the video of one source. It keeps the
// last frame it was given, paints it scaled by one of five view modes, and
// draws a caption (title, address, alias, date and time), a frame line for
// focus and hover, a camera search panel with an abort button, a wait
// animation while a running stream stalls, and a full-screen button. With a
// movable camera it turns presses, drags and the arrow keys into pan/tilt
// commands.
//
// Frames arrive on the source's draw thread (ViewerGetImageBMP); everything
// else, painting included, runs on the main thread. The draw thread never
// overwrites a frame that has not been painted yet: frames arriving
// meanwhile are dropped, so a slow main thread sees the newest frames, not
// a backlog.
#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "foundation/fmxMKzMessages.h"
#include "foundation/fmxMKzSmallSet.h"
#include "foundation/fmxMKzType.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/fmxMKzAnimation.h"
#include "video/fmxMKzCamViewSource.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzMessageTexts.h"
#include "video/fmxMKzVideoEvents.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

enum class TKzCamViewMode : uint8_t { vvmNormal = 0, vvmCenter = 1, vvmCut = 2, vvmAspect = 3, vvmStretch = 4 };
enum class TKzCamMoveMode : uint8_t { vcmmNone = 0, vcmmToCursor = 1, vcmmDrag = 2 };
enum class TKzMFrameScaleQuality : uint8_t { kzmfscLow = 0, kzmfscNormal = 1 };
enum class TKzCameraCaptionPart : uint8_t { kzccpAddress = 0, kzccpAlias = 1, kzccpDate = 2, kzccpTime = 3 };
using TKzCameraCaptionParts = TKzSmallSet<TKzCameraCaptionPart>;
enum class TKzMIconStyle : uint8_t { kzisClassic = 0, kzisModern = 1 };

class TKzCamView;

// Before the frame is painted; clearing CanDrawFrame suppresses it.
using TKzCamPaintEvent =
    std::function<void(TComponent* Sender, TKzMBitmap& VideoFrame, bool& CanDrawFrame, TCanvas& Canvas)>;
// The same for a cell of a multi-view, with the cell's offset.
using TKzMultiCamPaintEvent = std::function<void(TComponent* Sender, TKzMBitmap& VideoFrame, bool& CanDrawFrame,
                                                 float X, float Y, TCanvas& Canvas)>;
// Replaces painting; returns whether it drew.
using TKzViewerOwnerDrawEvent = std::function<bool(TComponent* Sender, bool FullRedraw)>;
using TKzFullScreenEvent = std::function<void(TComponent* Sender, bool AShow)>;

// The video rectangle of a W x H frame in ClientArea for Mode (the client
// area itself when W or H is 0 or the area is empty). Any thread.
TRect KzGetVideoRect(TKzCamViewMode Mode, const TRect& ClientArea, int32_t W, int32_t H);

// Directions a point commands relative to a reference point: each direction
// covers 60 degrees on either side of its axis, so a diagonal point gives
// two neighbouring directions and the reference point itself none.
struct TKzMoveDirections {
  bool Left = false;
  bool Right = false;
  bool Up = false;
  bool Down = false;
  bool Center = false;
  bool Any() const { return Left || Right || Up || Down || Center; }
  bool operator==(const TKzMoveDirections&) const = default;
};
// CenterRadius > 0 adds the centre zone: a point within that distance of
// the reference gives Center and no direction. Any thread.
TKzMoveDirections KzGetMoveDirections(float X, float Y, float RefX, float RefY, float CenterRadius);

class TKzCamView : public TTextControl, public IKzCamViewConsumer {
public:
  // Message numbers of the view (target: the view).
  static constexpr uint32_t MsgRepaintFrame = 1025;  // WParam 1: restart frame timers; LParam 1: full repaint
  static constexpr uint32_t MsgUpdateTimers = 1026;  // WParam 0: frame timers; 1: close the full-screen window

  // Main thread, never blocks. Registers the view's messages unless designing.
  explicit TKzCamView(TComponent* AOwner);
  // Detaches from the source (waiting, while running main-thread work, for a
  // frame being delivered to this view) and closes the full-screen window.
  // Main thread.
  ~TKzCamView() override;

  // Copies the published properties of another view (not the source, the
  // events, AutoSize or the focus flag). Main thread.
  void Assign(const TPersistent& Source) override;

  // ---- Viewer operations (IKzCamViewConsumer)
  // Draw thread; never blocks for long (holds the frame lock for one copy).
  void ViewerGetImageBMP(TComponent* Sender, const TKzMBitmap& Bitmap, bool Own, uint16_t VideoIndex,
                         const TGUID& GUIDFrom) override;
  // Any thread, never blocks.
  bool IsFullScreenMode() const override { return FFullScreen.load(std::memory_order_acquire); }
  // The video rectangle's size, so that the source decodes no larger than
  // shown; full size in the natural-size modes and with AutoSize. Frames
  // may then arrive smaller than their source: the view keeps working in
  // the source's coordinates. Any thread, never blocks.
  TKzDecodeSize DecodeSizeRequest() const override;
  // Main thread, never block.
  void ViewerBeginVideoStream(TComponent* Sender) override;
  void ViewerDoneVideoStream(TComponent* Sender, int32_t Status) override;
  void ClearLastFrame(bool Notify) override;
  void ViewerSearchCamera(TComponent* Sender) override;
  // Shows the wait animation at once; the next frame stops it.
  void ViewerReconnecting(TComponent* Sender, uint32_t Attempt) override;
  void ViewerDoneSearchCamera(TComponent* Sender, int32_t Status) override;
  void HookBeginControl(TComponent* Sender) override;
  void ViewerDoneControl(TComponent* Sender, int32_t Status) override;
  void ViewerSearchAnimationTimer() override;
  void ViewerWaitAnimationTimer(TComponent* Sender) override;
  bool ViewerHandleAllocated() override;

  // ---- Application operations (main thread, never block unless said)
  // The last frame. Main thread; the draw thread may replace it while the
  // view has no unpainted frame, so read it inside OnPaint or while no
  // source delivers (AssignLastFrame copies it safely).
  TKzMBitmap& GetLastFrame() { return FLastFrame; }
  // Copies another view's last frame, frame counters and search text.
  // Blocks (running main-thread work) while either view's frame is stored.
  void AssignLastFrame(TKzCamView& Source);
  void GetLastImageInfo(bool& AHasImage, int32_t& AImgCount, int32_t& AOldImageHeight, int32_t& AOldImageWidth,
                        int32_t& AIsViewerImage);
  // Painted frames per second.
  double GetFPS();
  void LockUpdates();
  // The last unlock with Repaint forces a full repaint.
  void UnlockUpdates(bool Repaint);
  bool IsUpdateLocked() const { return FLockCounter.load(std::memory_order_acquire) > 0; }
  // Opens or closes the full-screen window.
  void SetFullScreen(bool Show);
  // Sets the full-screen flag without opening a window.
  void ModifyFullScreen(bool Value) { FFullScreen.store(Value, std::memory_order_release); }
  bool FullScreen() const { return IsFullScreenMode(); }
  // While locked the focus and hover line colours are not used.
  void LockFocus();
  void UnlockFocus();
  // The source's camera interface when the source is a camera, else nullptr.
  IKzCamViewSource* GetCamera() const { return FCamera; }
  void RepaintControl();
  void RepaintClientArea();
  // The view showing this view's source in the full-screen window (nullptr when
  // none).
  TKzCamView* FullScreenView() const { return FFullScreenView; }
  TForm* FullScreenForm() const { return FormSingleView; }

  // ---- Geometry (main thread)
  TRect GetCaptionRect() const;
  TRect GetClientArea() const;
  // The video rectangle of the last frame in the client area.
  TRect GetVideoRect() const;
  // Maps a rectangle in the source's picture (what the camera sends, and
  // what motion regions refer to) to control coordinates inside the video
  // rectangle, whatever size the frames were decoded at.
  TRect SourceToControlRect(const TRect& SourceRect) const;
  // The size of the source's picture last shown (0 x 0 before a frame).
  TPoint SourceImageSize() const;
  TRect GetFullScreenButtonRect() const;
  TRect GetRectCameraSearch() const;
  TRect GetAbortButtonRect() const { return FAbortButtonRect; }
  TRect GetWaitAnimationRect() const;
  // The caption's text at Now (local time; date "yyyy-mm-dd", time "hh:nn:ss"),
  // without the credentials of a URL (KzRedactCredentials).
  std::string GetCaptionText(std::time_t Now) const;
  // The frame-line colour in effect (0: none).
  TAlphaColor GetFrameLineColor() const;

  // ---- State for owners and tests (main thread)
  bool HasImage() const { return ReadLocked(FHasImage); }
  bool CameraSearchPanelVisible() const { return FCameraSearchPanelVisible.load(std::memory_order_acquire); }
  const std::string& CameraSearchText() const { return txtCameraSearch; }
  bool IsWaitAnimationPlaying() const { return FIsWaitAnimationPlaying; }
  bool IsVideoStreamPlaying() const { return FIsVideoStreamPlaying; }
  // The frame time-out check runs.
  bool IsWaitingForVideoFrame() const { return isWaitVideoFrame; }
  bool FullScreenButtonVisible() const { return FFullScreenButtonVisible; }
  const TKzMoveDirections& CommandedDirections() const { return FDown; }
  const TKzMoveDirections& HoverDirections() const { return FHover; }
  TPointF MouseDownPos() const { return FMouseDownPos; }
  const TKzCustomCameraAnimationCounter* WaitAnimationCounter() const { return FAniWaitCounter.get(); }

  // Set by the owner of a multi-view cell.
  bool IsLastImage() const { return ReadLocked(FIsLastImage); }
  void SetIsLastImage(bool Value);
  bool IsMultiView = false;

  // ---- Published properties
  TKzVideoSource* VideoSource() const { return FVideoSource.load(std::memory_order_acquire); }
  void SetVideoSource(TKzVideoSource* Value);
  TKzCamViewMode ViewMode() const { return FViewMode; }
  void SetViewMode(TKzCamViewMode Value);
  TKzCamMoveMode CamMoveMode() const { return FCamMoveMode; }
  void SetCamMoveMode(TKzCamMoveMode Value) { FCamMoveMode = Value; }
  TAlphaColor Color() const { return FColor; }
  void SetColor(TAlphaColor Value) { SetAndRepaint(FColor, Value); }
  TAlphaColor CaptionColor() const { return FCaptionColor; }
  void SetCaptionColor(TAlphaColor Value) { SetAndRepaint(FCaptionColor, Value); }
  TAlphaColor FocusLineColor() const { return FFocusLineColor; }
  void SetFocusLineColor(TAlphaColor Value) { SetAndRepaint(FFocusLineColor, Value); }
  TAlphaColor HoverLineColor() const { return FHoverLineColor; }
  void SetHoverLineColor(TAlphaColor Value) { SetAndRepaint(FHoverLineColor, Value); }
  // 0: derived from the caption colour / white.
  TAlphaColor SearchPanelColor() const { return FSearchPanelColor; }
  void SetSearchPanelColor(TAlphaColor Value) { SetAndRepaint(FSearchPanelColor, Value); }
  TAlphaColor SearchPanelTextColor() const { return FSearchPanelTextColor; }
  void SetSearchPanelTextColor(TAlphaColor Value) { SetAndRepaint(FSearchPanelTextColor, Value); }
  bool AllowEmptyGUID() const { return ReadLocked(FAllowEmptyGUID); }
  void SetAllowEmptyGUID(bool Value) { WriteLocked(FAllowEmptyGUID, Value); }
  std::string GUIDFrom() const { return ReadLocked(FGUIDFrom); }
  void SetGUIDFrom(const std::string& Value) { WriteLocked(FGUIDFrom, Value); }
  uint16_t IndexFrom() const { return ReadLocked(FIndexFrom); }
  void SetIndexFrom(uint16_t Value) { WriteLocked(FIndexFrom, Value); }
  bool RememberLastFrame() const { return FRememberLastFrame; }
  void SetRememberLastFrame(bool Value) { FRememberLastFrame = Value; }
  bool UseOptimalVideoResolution() const { return FUseOptimalVideoResolution; }
  void SetUseOptimalVideoResolution(bool Value);
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { SetAndRepaint(FTitle, Value); }
  TKzCameraCaptionParts CaptionParts() const { return FCaptionParts; }
  void SetCaptionParts(TKzCameraCaptionParts Value) { SetAndRepaint(FCaptionParts, Value); }
  bool ShowCaption() const { return FShowCaption; }
  void SetShowCaption(bool Value) { SetAndRepaint(FShowCaption, Value); }
  int32_t CaptionHeight() const { return FCaptionHeight; }
  void SetCaptionHeight(int32_t Value) { SetAndRepaint(FCaptionHeight, Value); }
  TTextSettings& CaptionTextSettings() { return FCaptionTextSettings; }
  void SetCaptionTextSettings(const TTextSettings& Value) { SetAndRepaint(FCaptionTextSettings, Value); }
  bool ShowFrameRect() const { return FShowFrameRect; }
  void SetShowFrameRect(bool Value) { SetAndRepaint(FShowFrameRect, Value); }
  bool ShowCameraSearch() const { return FShowCameraSearch; }
  void SetShowCameraSearch(bool Value) { FShowCameraSearch = Value; }
  TKzMLanguage Language() const { return FLanguage; }
  void SetLanguage(TKzMLanguage Value) { SetAndRepaint(FLanguage, Value); }
  TKzMIconStyle IconStyle() const { return FIconStyle; }
  void SetIconStyle(TKzMIconStyle Value) { SetAndRepaint(FIconStyle, Value); }
  int32_t WaitAnimationDelay() const { return FWaitAnimationDelay; }
  void SetWaitAnimationDelay(int32_t Value) { FWaitAnimationDelay = Value; }
  bool AllowFullScreen() const { return FAllowFullScreen; }
  void SetAllowFullScreen(bool Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  bool IsInFocus() const { return FIsInFocus; }
  void SetIsInFocus(bool Value);
  TKzMFrameScaleQuality FrameScaleQuality() const { return FFrameScaleQuality; }
  void SetFrameScaleQuality(TKzMFrameScaleQuality Value);

  // ---- Events (main thread unless said otherwise)
  TKzCamPaintEvent OnPaint;
  TKzMultiCamPaintEvent OnMultiPaint;
  TKzViewerOwnerDrawEvent OnOwnerDraw;
  // Draw thread. When assigned, the view does not post its own repaint.
  TNotifyEvent OnNewVideoFrame;
  TNotifyEvent OnClearLastFrame;
  // Sender: the camera.
  TNotifyEvent OnBeginMove;
  TKzCamDoneEvent OnEndMove;
  TNotifyEvent OnChangeFocus;
  TNotifyEvent OnOwnerCameraSearch;
  TNotifyEvent OnButtonAbortClick;
  TKzFullScreenEvent OnFullScreen;
  TNotifyEvent OnMultiBeginVideoStream;
  // OnMouseEnter and OnMouseLeave are the control's own.

  // ---- Control overrides (main thread)
  void Paint(TCanvas& Canvas) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseMove(TShiftState Shift, float X, float Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void DoMouseEnter() override;
  void DoMouseLeave() override;
  void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override;
  void KeyUp(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override;

protected:
  void Resize() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Painting steps (main thread, under the frame lock).
  void DrawInit(TCanvas& Canvas, bool& CanDrawFrame);
  void DrawSoftwareClientArea(TCanvas& Canvas, const TRect& ClientArea, bool CanDrawFrame);
  void DrawBGToSoftware(TCanvas& Canvas, const TRect& ClientArea);
  void DrawSoftwareOtherParts(TCanvas& Canvas, const TRect& ClientArea);
  void DrawCameraSearch(TCanvas& Canvas);
  void DrawWaitAnimation(TCanvas& Canvas);
  void DrawFrameLine(TCanvas& Canvas, const TRect& ClientArea);
  void DrawCaption(TCanvas& Canvas);
  void DrawButtons(TCanvas& Canvas);

private:
  // True when nothing is to be repainted now (updates locked, view going)
  // or a wall cell's owner was asked to paint instead.
  bool RepaintHandledElsewhere(bool FullRedraw);
  template <typename T>
  void SetAndRepaint(T& Field, const T& Value) {
    if (Field == Value) return;
    Field = Value;
    RepaintControl();
  }
  // A value shared with the draw thread, read or written under the frame lock.
  template <typename T>
  T ReadLocked(const T& Field) const {
    TKzSafeLock lock(FLastFrameSection);
    return Field;
  }
  template <typename T>
  void WriteLocked(T& Field, const T& Value) {
    TKzSafeLock lock(FLastFrameSection);
    Field = Value;
  }
  void KzRepaintFrame(TMessage& Message);
  void KzUpdateTimers(TMessage& Message);
  bool PostViewMessage(uint32_t Msg, WPARAM WParam, LPARAM LParam);
  void UpdateTimersOnGetImage();
  void StartStallDetector();
  void StopWaitAnimation();
  void StartWaitAnimation();
  void OnTimerWaitForVideoFrame();
  void OnTimerWaitForVideoFrameForAnimation();
  void OnTimerFullScreenIcon();
  void ApplyOptimalVideoResolution();
  void UpdateFrameClientArea();
  // Recomputes DecodeSizeRequest from the frame-lock state. Caller holds the frame lock.
  void UpdateDecodeSizeRequest();
  bool CanVideoCoverCaption() const;
  bool CanMoveCamera() const;
  TPointF MoveReference() const;
  TKzMoveDirections DirectionsAt(float X, float Y) const;
  void MoveStateDownButton();
  bool StopCommanded();
  void ResetStateDownButton();
  void UpdateFullScreenButton(float X, float Y);
  void CloseFullScreenWindow();
  void DetachSource();
  TRect CalcAbortButtonRect() const;
  std::string HostAndPort() const;

  // ---- Frame state (FLastFrameSection)
  mutable TKzCriticalSection FLastFrameSection;  // guards FLastFrame, the counters and
                                         // the filter settings
  std::atomic<TKzVideoSource*> FVideoSource{nullptr};
  IKzCamViewSource* FCamera = nullptr;
  TKzMBitmap FLastFrame;
  bool FHasImage = false;
  std::atomic<int32_t> isViewerImage{0};
  int32_t imgCount = 0;
  int32_t OldImageWidth = 0;  // of the source's picture, whatever size it was decoded at
  int32_t OldImageHeight = 0;
  std::atomic<uint64_t> FDecodeRequest{0};  // width << 32 | height; 0: full size
  bool FIsLastImage = false;
  bool NewFrame = false;
  bool RepaintBG = false;
  TRect FFrameClientArea;  // the client area as the draw thread sees it
  TKzCamViewMode FFrameViewMode = TKzCamViewMode::vvmAspect;
  TKzMFrameScaleQuality FFrameQuality = TKzMFrameScaleQuality::kzmfscNormal;
  bool FAllowEmptyGUID = true;
  std::string FGUIDFrom;
  uint16_t FIndexFrom = 0;
  bool FAutoSize = false;  // main thread: the resize follows the repaint message
  std::atomic<bool> FCanPaint{false};
  std::atomic<bool> FDestroyingView{false};
  bool FDesigning = false;
  bool FRegistered = false;

  std::atomic<int32_t> FLockCounter{0};
  TKzMFrameScaleQuality FFrameScaleQuality = TKzMFrameScaleQuality::kzmfscNormal;
  bool isCanFocus = true;
  bool FIsInFocus = false;
  bool isInMove = false;
  TKzMoveDirections FDown;   // commanded (isD...)
  TKzMoveDirections FHover;  // under the mouse (isM...)
  TPointF FMouseDownPos{-1, -1};

  std::atomic<bool> FCameraSearchPanelVisible{false};
  std::string txtCameraSearch;
  TRect FAbortButtonRect;
  bool FbtnAbortHot = false;
  bool FbtnAbortClick = false;
  int32_t FSearchStep = 0;

  TTimer FTimerWaitForVideoFrame;  // frame time-out, 5000 ms
  TTimer FTimerWaitForVideoFrameForAnimation;
  TTimer FTimerWaitAnimation;
  TTimer FTimerFullScreenIcon;
  bool isWaitVideoFrame = false;
  bool FIsVideoStreamPlaying = false;
  bool FIsWaitAnimationPlaying = false;
  std::unique_ptr<TKzCustomCameraAnimationCounter> FAniWaitCounter;

  bool FFullScreenButtonVisible = false;
  bool FFSBtnHot = false;
  uint64_t FSLastTime = 0;
  TForm* FormSingleView = nullptr;         // owned; the full-screen window
  TKzCamView* FFullScreenView = nullptr;   // owned by FormSingleView
  TKzCamView* FFullScreenOwner = nullptr;  // for the view inside that window: the view it stands in for
  std::atomic<bool> FFullScreen{false};
  TKzFPS _FPS;

  // Published values
  TKzCamViewMode FViewMode = TKzCamViewMode::vvmAspect;
  TKzCamMoveMode FCamMoveMode = TKzCamMoveMode::vcmmDrag;
  TAlphaColor FColor = 0xFF9FBEE7u;
  TAlphaColor FCaptionColor = 0xFF4F7EA7u;
  TAlphaColor FFocusLineColor = 0xFFFF0000u;
  TAlphaColor FHoverLineColor = 0xFF5F8EB7u;
  TAlphaColor FSearchPanelColor = 0;
  TAlphaColor FSearchPanelTextColor = 0;
  bool FRememberLastFrame = true;
  bool FUseOptimalVideoResolution = false;
  std::string FTitle;
  TKzCameraCaptionParts FCaptionParts{TKzCameraCaptionPart::kzccpAddress, TKzCameraCaptionPart::kzccpAlias};
  bool FShowCaption = true;
  int32_t FCaptionHeight = 20;
  TTextSettings FCaptionTextSettings;
  bool FShowFrameRect = true;
  bool FShowCameraSearch = true;
  TKzMLanguage FLanguage = TKzMLanguage::kzmlEnglish;
  TKzMIconStyle FIconStyle = TKzMIconStyle::kzisClassic;
  int32_t FWaitAnimationDelay = 3000;
  bool FAllowFullScreen = false;
};

}  // namespace kz
