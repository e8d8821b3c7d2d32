// SDL2 windows for forms. Each window shows its form's surface through a
// streaming texture that is updated for the painted rectangle only; SDL
// events are translated into the form's Host* input calls on the main thread.
#include "platform/fmxMKzPlatformSdlWindowHost.h"

#ifdef KZ_HAVE_SDL2

#define SDL_MAIN_HANDLED
#include <SDL2/SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformUTF8.h"

namespace kz {

namespace {

struct TKzKeyMapEntry {
  SDL_Keycode Sdl;
  uint16_t Vk;
};

// Keys with a code of their own; letters, digits and function keys are
// mapped by range in SdlKeyToVk.
constexpr TKzKeyMapEntry kKeyMap[] = {
    {SDLK_BACKSPACE, vk::Back}, {SDLK_TAB, vk::Tab},     {SDLK_RETURN, vk::Return}, {SDLK_KP_ENTER, vk::Return},
    {SDLK_ESCAPE, vk::Escape},  {SDLK_SPACE, vk::Space}, {SDLK_END, vk::End},       {SDLK_HOME, vk::Home},
    {SDLK_LEFT, vk::Left},      {SDLK_UP, vk::Up},       {SDLK_RIGHT, vk::Right},   {SDLK_DOWN, vk::Down},
    {SDLK_DELETE, vk::Delete},  {SDLK_PAGEUP, 33},       {SDLK_PAGEDOWN, 34},       {SDLK_INSERT, 45},
};

uint16_t SdlKeyToVk(SDL_Keycode Key) {
  for (const TKzKeyMapEntry& e : kKeyMap)
    if (e.Sdl == Key) return e.Vk;
  if (Key >= SDLK_a && Key <= SDLK_z) return static_cast<uint16_t>('A' + (Key - SDLK_a));
  if (Key >= SDLK_0 && Key <= SDLK_9) return static_cast<uint16_t>('0' + (Key - SDLK_0));
  if (Key >= SDLK_F1 && Key <= SDLK_F12) return static_cast<uint16_t>(112 + (Key - SDLK_F1));
  return 0;
}

TShiftState ShiftOf(uint16_t Mod, uint32_t Buttons) {
  TShiftState s = 0;
  if (Mod & KMOD_SHIFT) s |= ssShift;
  if (Mod & KMOD_ALT) s |= ssAlt;
  if (Mod & KMOD_CTRL) s |= ssCtrl;
  if (Buttons & SDL_BUTTON_LMASK) s |= ssLeft;
  if (Buttons & SDL_BUTTON_RMASK) s |= ssRight;
  if (Buttons & SDL_BUTTON_MMASK) s |= ssMiddle;
  return s;
}

TShiftState CurrentShift() { return ShiftOf(static_cast<uint16_t>(SDL_GetModState()), SDL_GetMouseState(nullptr, nullptr)); }

bool ButtonOf(uint8_t Sdl, TMouseButton& Button) {
  switch (Sdl) {
    case SDL_BUTTON_LEFT: Button = TMouseButton::mbLeft; return true;
    case SDL_BUTTON_RIGHT: Button = TMouseButton::mbRight; return true;
    case SDL_BUTTON_MIDDLE: Button = TMouseButton::mbMiddle; return true;
    default: return false;
  }
}

class TSdlWindowHost;

class TSdlWindow : public IKzWindow {
public:
  TSdlWindow(TSdlWindowHost& Host, TForm& Form);
  ~TSdlWindow() override;

  void SetCaption(const std::string& Caption) override { SDL_SetWindowTitle(FWindow, Caption.c_str()); }
  void SetBounds(const TRect& Rect) override;
  void SetState(uint8_t WindowState, TPoint ScreenPoint) override;
  void SetBorderless(bool Value) override { SDL_SetWindowBordered(FWindow, Value ? SDL_FALSE : SDL_TRUE); }
  void SetStayOnTop(bool Value) override { SDL_SetWindowAlwaysOnTop(FWindow, Value ? SDL_TRUE : SDL_FALSE); }
  void SetCursor(TCursor Cursor) override;
  void Present(const TKzPixelSurface& Pixels, const TRect& Dirty) override;
  TPoint ScreenOrigin() const override {
    TPoint p;
    SDL_GetWindowPosition(FWindow, &p.X, &p.Y);
    return p;
  }

  void HandleEvent(const SDL_Event& E);
  // The form follows the window's real size (after a state change or a
  // resize by the user or the window manager).
  void SyncSize();

private:
  TSdlWindowHost& FHost;
  TForm& FForm;
  SDL_Window* FWindow = nullptr;
  SDL_Renderer* FRenderer = nullptr;
  SDL_Texture* FTexture = nullptr;
  int FTextureW = 0, FTextureH = 0;
  uint32_t FId = 0;
};

class TSdlWindowHost : public IKzWindowHost, public IKzMainLoopEventSource {
public:
  TSdlWindowHost() {
    FWakeEvent = SDL_RegisterEvents(1);
    FPrevSource = KzSetMainLoopEventSource(this);
  }
  ~TSdlWindowHost() override {
    KzSetMainLoopEventSource(FPrevSource);
    for (SDL_Cursor* c : FCursors)
      if (c) SDL_FreeCursor(c);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  std::unique_ptr<IKzWindow> CreateWindow(TForm& Form) override { return std::make_unique<TSdlWindow>(*this, Form); }
  bool IsInteractive() const override { return true; }

  void PumpEvents() override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) Dispatch(e);
  }
  void WaitEvents(int Ms) override {
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, Ms)) {
      Dispatch(e);
      PumpEvents();
    }
  }
  void Wake() override {
    // One wake event in the queue at a time is enough.
    if (FWakePending.exchange(true)) return;
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = FWakeEvent;
    if (SDL_PushEvent(&e) != 1) FWakePending.store(false);
  }

  void Register(uint32_t Id, TSdlWindow* Window) { FWindows[Id] = Window; }
  void Unregister(uint32_t Id) { FWindows.erase(Id); }
  TSdlWindow* Find(uint32_t Id) const {
    auto it = FWindows.find(Id);
    return it == FWindows.end() ? nullptr : it->second;
  }

  SDL_Cursor* Cursor(TCursor Kind) {
    static constexpr SDL_SystemCursor kSystem[] = {SDL_SYSTEM_CURSOR_ARROW, SDL_SYSTEM_CURSOR_ARROW,
                                                   SDL_SYSTEM_CURSOR_HAND,  SDL_SYSTEM_CURSOR_SIZEALL,
                                                   SDL_SYSTEM_CURSOR_CROSSHAIR, SDL_SYSTEM_CURSOR_IBEAM};
    const size_t i = static_cast<size_t>(Kind);
    if (i >= FCursors.size()) return nullptr;
    if (!FCursors[i]) FCursors[i] = SDL_CreateSystemCursor(kSystem[i]);
    return FCursors[i];
  }

private:
  static uint32_t WindowIdOf(const SDL_Event& E) {
    switch (E.type) {
      case SDL_WINDOWEVENT: return E.window.windowID;
      case SDL_MOUSEMOTION: return E.motion.windowID;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: return E.button.windowID;
      case SDL_MOUSEWHEEL: return E.wheel.windowID;
      case SDL_KEYDOWN:
      case SDL_KEYUP: return E.key.windowID;
      case SDL_TEXTINPUT: return E.text.windowID;
      default: return 0;
    }
  }

  void Dispatch(const SDL_Event& E) {
    if (E.type == FWakeEvent) {
      FWakePending.store(false);
      return;
    }
    // Windows may go away inside a handler: look each one up afresh.
    if (TSdlWindow* w = Find(WindowIdOf(E))) w->HandleEvent(E);
  }

  uint32_t FWakeEvent = 0;
  std::atomic<bool> FWakePending{false};
  IKzMainLoopEventSource* FPrevSource = nullptr;
  std::unordered_map<uint32_t, TSdlWindow*> FWindows;
  std::array<SDL_Cursor*, 6> FCursors{};
};

TSdlWindow::TSdlWindow(TSdlWindowHost& Host, TForm& Form) : FHost(Host), FForm(Form) {
  const TRect b = Form.BoundsRect();
  FWindow = SDL_CreateWindow(Form.Caption().c_str(), b.Left, b.Top, std::max(b.Width(), 1), std::max(b.Height(), 1),
                             SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!FWindow) throw std::runtime_error(std::string("Cannot open a window: ") + SDL_GetError());
  FRenderer = SDL_CreateRenderer(FWindow, -1, 0);
  if (!FRenderer) FRenderer = SDL_CreateRenderer(FWindow, -1, SDL_RENDERER_SOFTWARE);
  FId = SDL_GetWindowID(FWindow);
  FHost.Register(FId, this);
}

TSdlWindow::~TSdlWindow() {
  FHost.Unregister(FId);
  if (FTexture) SDL_DestroyTexture(FTexture);
  if (FRenderer) SDL_DestroyRenderer(FRenderer);
  SDL_DestroyWindow(FWindow);
}

void TSdlWindow::SetBounds(const TRect& Rect) {
  SDL_SetWindowPosition(FWindow, Rect.Left, Rect.Top);
  SDL_SetWindowSize(FWindow, std::max(Rect.Width(), 1), std::max(Rect.Height(), 1));
}

void TSdlWindow::SetState(uint8_t WindowState, TPoint ScreenPoint) {
  const SDL_Point p{ScreenPoint.X, ScreenPoint.Y};
  int display = SDL_GetPointDisplayIndex(&p);
  if (display < 0) display = SDL_GetWindowDisplayIndex(FWindow);
  if (display < 0) display = 0;
  SDL_Rect usable{}, whole{};
  SDL_GetDisplayUsableBounds(display, &usable);
  SDL_GetDisplayBounds(display, &whole);
  switch (static_cast<TWindowState>(WindowState)) {
    case TWindowState::wsNormal:
      SDL_SetWindowFullscreen(FWindow, 0);
      SDL_RestoreWindow(FWindow);
      break;
    case TWindowState::wsMaximized:
      SDL_SetWindowFullscreen(FWindow, 0);
      // Placed on the display first; the explicit size also serves window
      // managers that ignore maximising (and displays without one).
      SDL_SetWindowPosition(FWindow, usable.x, usable.y);
      SDL_SetWindowSize(FWindow, usable.w, usable.h);
      SDL_MaximizeWindow(FWindow);
      break;
    case TWindowState::wsFullScreen:
      SDL_SetWindowPosition(FWindow, whole.x, whole.y);
      SDL_SetWindowSize(FWindow, whole.w, whole.h);
      SDL_SetWindowFullscreen(FWindow, SDL_WINDOW_FULLSCREEN_DESKTOP);
      break;
  }
  SyncSize();
}

void TSdlWindow::SyncSize() {
  int w = 0, h = 0;
  SDL_GetWindowSize(FWindow, &w, &h);
  if (w > 0 && h > 0 && (w != FForm.Width() || h != FForm.Height())) FForm.HostResize(w, h);
}

void TSdlWindow::SetCursor(TCursor Cursor) {
  if (SDL_Cursor* c = FHost.Cursor(Cursor)) SDL_SetCursor(c);
}

void TSdlWindow::Present(const TKzPixelSurface& Pixels, const TRect& Dirty) {
  if (!FRenderer || Pixels.IsEmpty()) return;
  if (!FTexture || FTextureW != Pixels.Width || FTextureH != Pixels.Height) {
    if (FTexture) SDL_DestroyTexture(FTexture);
    // Bytes B, G, R, A in memory are one little-endian ARGB word.
    FTexture = SDL_CreateTexture(FRenderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, Pixels.Width,
                                 Pixels.Height);
    if (!FTexture) return;
    FTextureW = Pixels.Width;
    FTextureH = Pixels.Height;
    // A new texture starts undefined: fill all of it.
    FForm.Repaint();
    if (!(Dirty == TRect(0, 0, Pixels.Width, Pixels.Height))) return;
  }
  const TRect r = IntersectRect(Dirty, TRect(0, 0, Pixels.Width, Pixels.Height));
  if (!r.IsEmpty()) {
    const SDL_Rect area{r.Left, r.Top, r.Width(), r.Height()};
    void* dst = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(FTexture, &area, &dst, &pitch) == 0) {
      for (int32_t y = 0; y < r.Height(); ++y)
        std::memcpy(static_cast<uint8_t*>(dst) + static_cast<size_t>(y) * pitch, Pixels.Row(r.Top + y) + r.Left,
                    static_cast<size_t>(r.Width()) * 4);
      SDL_UnlockTexture(FTexture);
    }
  }
  SDL_RenderCopy(FRenderer, FTexture, nullptr, nullptr);
  SDL_RenderPresent(FRenderer);
}

void TSdlWindow::HandleEvent(const SDL_Event& E) {
  TMouseButton button;
  switch (E.type) {
    case SDL_WINDOWEVENT:
          switch (E.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED: SyncSize(); break;
        case SDL_WINDOWEVENT_EXPOSED: FForm.Repaint(); break;
        case SDL_WINDOWEVENT_LEAVE: FForm.HostMouseLeave(); break;
        case SDL_WINDOWEVENT_CLOSE: FForm.HostClose(); break;
        default: break;
      }
      break;
    case SDL_MOUSEMOTION:
      FForm.HostMouseMove(ShiftOf(static_cast<uint16_t>(SDL_GetModState()), E.motion.state), float(E.motion.x),
                          float(E.motion.y));
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (ButtonOf(E.button.button, button))
        FForm.HostMouseDown(button, CurrentShift(), float(E.button.x), float(E.button.y), E.button.clicks == 2);
      break;
    case SDL_MOUSEBUTTONUP:
      if (ButtonOf(E.button.button, button))
        FForm.HostMouseUp(button, CurrentShift(), float(E.button.x), float(E.button.y));
      break;
    case SDL_MOUSEWHEEL: {
      int x = 0, y = 0;
      SDL_GetMouseState(&x, &y);
      const int32_t notches = E.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -E.wheel.y : E.wheel.y;
      if (notches != 0) FForm.HostMouseWheel(CurrentShift(), notches * 120, float(x), float(y));
      break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const uint16_t key = SdlKeyToVk(E.key.keysym.sym);
      if (!key) break;
      const TShiftState shift = ShiftOf(E.key.keysym.mod, 0);
      if (E.type == SDL_KEYDOWN)
        FForm.HostKeyDown(key, 0, shift);
      else
        FForm.HostKeyUp(key, 0, shift);
      break;
    }
    case SDL_TEXTINPUT: {
      // Characters arrive apart from their keys; the form may go away
      // while one is handled.
      TSdlWindowHost& host = FHost;
      const uint32_t id = FId;
      const TShiftState shift = ShiftOf(static_cast<uint16_t>(SDL_GetModState()), 0);
      std::vector<char32_t> chars;
      const std::string_view text(E.text.text);
      for (size_t i = 0; i < text.size();) chars.push_back(KzNextCodePoint(text, i));
      for (char32_t c : chars) {
        TSdlWindow* window = host.Find(id);
        if (!window) break;
        window->FForm.HostKeyDown(0, c, shift);
      }
      break;
    }
    default: break;
  }
}

}  // namespace

namespace {
bool EnvSet(const char* Name) {
  const char* v = std::getenv(Name);
  return v && *v;
}

// Without a display SDL falls back to drivers that draw nowhere; those count
// only when asked for by name (SDL_VIDEODRIVER).
bool DisplayPossible() { return EnvSet("SDL_VIDEODRIVER") || EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY"); }

bool InitVideo() {
  if (!DisplayPossible() || SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  const bool invisible = driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
  if (invisible && !EnvSet("SDL_VIDEODRIVER")) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  return true;
}
}  // namespace

bool KzSdlWindowHostAvailable() {
  SDL_SetMainReady();
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  if (!InitVideo()) return false;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return true;
}

std::unique_ptr<IKzWindowHost> KzCreateSdlWindowHost() {
  SDL_SetMainReady();
  // The program keeps its own signal handling; a click that activates a
  // window also reaches the form.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  if (!InitVideo()) return nullptr;
  return std::make_unique<TSdlWindowHost>();
}

}  // namespace kz

#else  // built without SDL2

namespace kz {
bool KzSdlWindowHostAvailable() { return false; }
std::unique_ptr<IKzWindowHost> KzCreateSdlWindowHost() { return nullptr; }
}  // namespace kz

#endif
