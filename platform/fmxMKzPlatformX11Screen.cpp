#include "platform/fmxMKzPlatformX11Screen.h"

#include <cstdlib>
#include <cstring>

#ifdef KZ_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <mutex>
#endif

namespace kz {

#ifdef KZ_HAVE_X11

namespace {
// Xlib reports protocol errors through one process-wide handler; each thread
// sees the errors of its own connection.
thread_local int tLastXError = 0;
int RecordXError(Display*, XErrorEvent* Event) {
  tLastXError = Event->error_code ? Event->error_code : 1;
  return 0;
}
void InstallErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] { XSetErrorHandler(RecordXError); });
}
}  // namespace

struct TKzScreenShm {
  XImage* Image = nullptr;
  XShmSegmentInfo Info{};
};

struct TKzX11Screen::TImpl {
  Display* Dpy = nullptr;
  Window Root = 0;
  int Screen = 0;
  bool Shm = false;
  TKzScreenShm Segment;

  void FreeShm() {
    if (!Segment.Image) return;
    XShmDetach(Dpy, &Segment.Info);
    XSync(Dpy, False);
    XDestroyImage(Segment.Image);
    shmdt(Segment.Info.shmaddr);
    Segment = TKzScreenShm{};
  }
  // A shared image of W x H, made anew when the size changes.
  XImage* ShmImage(int W, int H) {
    if (Segment.Image && Segment.Image->width == W && Segment.Image->height == H) return Segment.Image;
    FreeShm();
    Visual* visual = DefaultVisual(Dpy, Screen);
    XImage* img = XShmCreateImage(Dpy, visual, DefaultDepth(Dpy, Screen), ZPixmap, nullptr, &Segment.Info, W, H);
    if (!img) return nullptr;
    Segment.Info.shmid = shmget(IPC_PRIVATE, size_t(img->bytes_per_line) * img->height, IPC_CREAT | 0600);
    if (Segment.Info.shmid < 0) {
      XDestroyImage(img);
      return nullptr;
    }
    Segment.Info.shmaddr = img->data = static_cast<char*>(shmat(Segment.Info.shmid, nullptr, 0));
    shmctl(Segment.Info.shmid, IPC_RMID, nullptr);  // gone once both sides detach
    Segment.Info.readOnly = False;
    tLastXError = 0;
    if (img->data == reinterpret_cast<char*>(-1) || !XShmAttach(Dpy, &Segment.Info)) {
      if (img->data != reinterpret_cast<char*>(-1)) shmdt(img->data);
      img->data = nullptr;
      XDestroyImage(img);
      Segment = TKzScreenShm{};
      return nullptr;
    }
    XSync(Dpy, False);
    Segment.Image = img;
    if (tLastXError) {  // a remote server cannot share memory with us
      FreeShm();
      return nullptr;
    }
    return img;
  }
};

namespace {
void CopyImage(const XImage* Img, int W, int H, uint32_t* Dest) {
  const bool plain = Img->bits_per_pixel == 32 && Img->red_mask == 0xFF0000 && Img->green_mask == 0xFF00 &&
                     Img->blue_mask == 0xFF && Img->byte_order == LSBFirst;
  for (int y = 0; y < H; ++y) {
    uint32_t* out = Dest + size_t(y) * W;
    if (plain) {
      const auto* in = reinterpret_cast<const uint32_t*>(Img->data + size_t(y) * Img->bytes_per_line);
      for (int x = 0; x < W; ++x) out[x] = in[x] | 0xFF000000u;
      continue;
    }
    for (int x = 0; x < W; ++x) {
      const unsigned long p = XGetPixel(const_cast<XImage*>(Img), x, y);
      auto channel = [p](unsigned long Mask) -> uint32_t {
        if (!Mask) return 0;
        int shift = 0;
        while (!((Mask >> shift) & 1)) ++shift;
        const unsigned long max = Mask >> shift;
        return static_cast<uint32_t>(((p & Mask) >> shift) * 255 / max);
      };
      out[x] = 0xFF000000u | channel(Img->red_mask) << 16 | channel(Img->green_mask) << 8 | channel(Img->blue_mask);
    }
  }
}
}  // namespace

TKzX11Screen::TKzX11Screen(const std::string& DisplayName) : FImpl(std::make_unique<TImpl>()) {
  InstallErrorHandler();
  FImpl->Dpy = XOpenDisplay(DisplayName.empty() ? nullptr : DisplayName.c_str());
  if (!FImpl->Dpy) {
    const char* env = std::getenv("DISPLAY");
    const std::string name = !DisplayName.empty() ? DisplayName : env && *env ? env : "";
    FError = name.empty() ? "no X display: DISPLAY is not set" : "cannot open the X display " + name;
    return;
  }
  FImpl->Screen = DefaultScreen(FImpl->Dpy);
  FImpl->Root = RootWindow(FImpl->Dpy, FImpl->Screen);
  FImpl->Shm = XShmQueryExtension(FImpl->Dpy);
}

TKzX11Screen::~TKzX11Screen() {
  if (!FImpl->Dpy) return;
  FImpl->FreeShm();
  XCloseDisplay(FImpl->Dpy);
}

bool TKzX11Screen::Connected() const { return FImpl->Dpy != nullptr; }
int32_t TKzX11Screen::Width() const { return FImpl->Dpy ? DisplayWidth(FImpl->Dpy, FImpl->Screen) : 0; }
int32_t TKzX11Screen::Height() const { return FImpl->Dpy ? DisplayHeight(FImpl->Dpy, FImpl->Screen) : 0; }
bool TKzX11Screen::UsesShm() const { return FImpl->Shm; }

bool TKzX11Screen::WindowRect(uint64_t WindowId, TKzScreenRect& Rect) {
  if (!FImpl->Dpy) return false;
  tLastXError = 0;
  XWindowAttributes a{};
  const Status ok = XGetWindowAttributes(FImpl->Dpy, static_cast<Window>(WindowId), &a);
  XSync(FImpl->Dpy, False);
  if (!ok || tLastXError) {
    FError = "the window " + std::to_string(WindowId) + " does not exist";
    return false;
  }
  if (a.map_state != IsViewable) {
    FError = "the window " + std::to_string(WindowId) + " is not shown";
    return false;
  }
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(FImpl->Dpy, static_cast<Window>(WindowId), FImpl->Root, 0, 0, &x, &y, &child);
  XSync(FImpl->Dpy, False);
  if (tLastXError) {
    FError = "the window " + std::to_string(WindowId) + " does not exist";
    return false;
  }
  Rect = {x, y, a.width, a.height};
  return true;
}

bool TKzX11Screen::Grab(const TKzScreenRect& Rect, uint32_t* Dest) {
  if (!FImpl->Dpy || Rect.Width <= 0 || Rect.Height <= 0) return false;
  tLastXError = 0;
  if (FImpl->Shm) {
    if (XImage* img = FImpl->ShmImage(Rect.Width, Rect.Height)) {
      if (XShmGetImage(FImpl->Dpy, FImpl->Root, img, Rect.X, Rect.Y, AllPlanes) && !tLastXError) {
        CopyImage(img, Rect.Width, Rect.Height, Dest);
        return true;
      }
    }
    FImpl->Shm = false;  // fall back for good
    FImpl->FreeShm();
  }
  XImage* img = XGetImage(FImpl->Dpy, FImpl->Root, Rect.X, Rect.Y, Rect.Width, Rect.Height, AllPlanes, ZPixmap);
  XSync(FImpl->Dpy, False);
  if (!img || tLastXError) {
    if (img) XDestroyImage(img);
    FError = "the screen could not be read";
    return false;
  }
  CopyImage(img, Rect.Width, Rect.Height, Dest);
  XDestroyImage(img);
  return true;
}

#else  // no X11 headers

struct TKzX11Screen::TImpl {};

TKzX11Screen::TKzX11Screen(const std::string&) : FImpl(std::make_unique<TImpl>()) {
  FError = "this build has no X11 support";
}
TKzX11Screen::~TKzX11Screen() = default;
bool TKzX11Screen::Connected() const { return false; }
int32_t TKzX11Screen::Width() const { return 0; }
int32_t TKzX11Screen::Height() const { return 0; }
bool TKzX11Screen::UsesShm() const { return false; }
bool TKzX11Screen::WindowRect(uint64_t, TKzScreenRect&) { return false; }
bool TKzX11Screen::Grab(const TKzScreenRect&, uint32_t*) { return false; }

#endif

}  // namespace kz
