// Window hosts: what shows a form's pixels and feeds it mouse and keys.
// The headless host keeps every form in memory (tests, snapshots, programs
// without a display); the desktop host opens real windows (SDL2, when the
// library was built with it). One host is current for the process; forms
// shown while it is current use it. Main thread only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformTypes.h"

namespace kz {

class TForm;
enum class TCursor : uint8_t;

// One window of a host, bound to one form.
class IKzWindow {
public:
  virtual ~IKzWindow() = default;
  virtual void SetCaption(const std::string& Caption) = 0;
  // Position and size in screen pixels (the size is the form's).
  virtual void SetBounds(const TRect& Rect) = 0;
  // Normal, maximised or full screen on the display holding ScreenPoint.
  virtual void SetState(uint8_t WindowState, TPoint ScreenPoint) = 0;
  virtual void SetBorderless(bool Value) = 0;
  virtual void SetStayOnTop(bool Value) = 0;
  virtual void SetCursor(TCursor Cursor) = 0;
  // The form painted Dirty (form coordinates) of Pixels; show it.
  virtual void Present(const TKzPixelSurface& Pixels, const TRect& Dirty) = 0;
  // The window's top-left corner on the screen.
  virtual TPoint ScreenOrigin() const = 0;
};

class IKzWindowHost {
public:
  virtual ~IKzWindowHost() = default;
  // A window for Form, not yet painted. Never null.
  virtual std::unique_ptr<IKzWindow> CreateWindow(TForm& Form) = 0;
  // Whether windows of this host are seen by a user (false for headless).
  virtual bool IsInteractive() const = 0;
};

// The host in use: the installed one, else the headless host.
IKzWindowHost& KzWindowHost();
// Installs a host (nullptr: back to headless); returns the previous one
// (nullptr when it was headless). The caller keeps ownership and must not
// free a host while forms it created are shown.
IKzWindowHost* KzSetWindowHost(IKzWindowHost* Host);

}  // namespace kz
