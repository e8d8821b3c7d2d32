// Desktop capture: the X11 screen, a rectangle of it, or one window as it is
// shown (followed when it moves), made into frames on the frame loop of
// TKzCustomBase and scaled by DesktopZoomPercent. Without a display the
// stream ends at once with Status 1 and a debug text; so does a window that
// closes.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "capture/fmxMKzCustomBase.h"
#include "platform/fmxMKzPlatformX11Screen.h"

namespace kz {

class TForm;

// Largest side of a desktop frame, after zooming.
constexpr int32_t KzDesktopMaxSide = 8192;

class TKzDesktop : public TKzCustomBase {
public:
  // Starts the frame thread (idle until PlayVideoStream). Main thread, never blocks.
  explicit TKzDesktop(IKzCaptureOwner* Owner);
  // Main thread; blocks about a second at most.
  ~TKzDesktop() override;

  // Settings; main thread, never block; the next frame uses them.
  void SetDesktopMode(TKzDesktopMode Mode);
  void SetDesktopRect(const TKzScreenRect& Rect);
  void SetDesktopWindow(uint64_t Window);
  // A form of the application; its place is looked up on the main thread
  // before every frame. nullptr: none.
  void SetDesktopForm(TForm* Form);
  TForm* DesktopForm() const { return FForm; }
  // The X display to read (empty: $DISPLAY).
  void SetDisplayName(const std::string& Name);

protected:
  bool NextFrame(std::string& Error) override;
  void StreamClosed() override;

private:
  // The part of the screen to copy now; false with Error.
  bool SourceRect(TKzScreenRect& Rect, std::string& Error);
  // Scales FGrab into FBitmap by the zoom percentage.
  void Zoom(int32_t Percent);

  std::mutex FSettingsLock;  // guards the settings below
  TKzDesktopMode FMode = TKzDesktopMode::kzdmFull;
  TKzScreenRect FRect;
  uint64_t FWindow = 0;
  bool FFormShown = false;
  TKzScreenRect FFormRect;  // where FForm was last seen
  std::string FDisplayName;
  TForm* FForm = nullptr;  // main thread only
  std::atomic<bool> FHasForm{false};  // the frame thread's view of FForm
  std::atomic<bool> FFormLookupPending{false};

  std::unique_ptr<TKzX11Screen> FScreen;  // frame thread
  TKzMBitmap FGrab;                       // frame thread
};

// Scales Source onto Dest's size: an area average when it shrinks, bilinear
// when it grows. Any thread.
void KzScaleBitmap(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest);

}  // namespace kz
