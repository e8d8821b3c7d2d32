// The X11 screen as a source of pictures: its size, where a window is shown,
// and copies of any rectangle of the root window (through MIT-SHM when the
// server offers it, else XGetImage). Built when the X11 headers are present;
// without them every screen reports that X11 is missing.
//
// One object is one connection: it is created, used and destroyed on one
// thread (Xlib is not asked to be thread-safe).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace kz {

struct TKzScreenRect {
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
};

class TKzX11Screen {
public:
  // Connects to DisplayName (empty: $DISPLAY). Any thread; may block while
  // the server answers.
  explicit TKzX11Screen(const std::string& DisplayName = std::string());
  ~TKzX11Screen();
  TKzX11Screen(const TKzX11Screen&) = delete;
  TKzX11Screen& operator=(const TKzX11Screen&) = delete;

  bool Connected() const;
  // Why the connection or the last call failed.
  const std::string& Error() const { return FError; }
  int32_t Width() const;
  int32_t Height() const;
  bool UsesShm() const;

  // Where Window is shown on the screen (its inside, in root coordinates);
  // false when it no longer exists or is not mapped.
  bool WindowRect(uint64_t Window, TKzScreenRect& Rect);
  // Copies Rect (inside the screen) into Dest, Rect.Width x Rect.Height
  // pixels B, G, R, A (alpha 255), rows top-down. False on failure.
  bool Grab(const TKzScreenRect& Rect, uint32_t* Dest);

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::string FError;
};

}  // namespace kz
