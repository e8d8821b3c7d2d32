#include "capture/fmxMKzDesktop.h"

#include <algorithm>
#include <cmath>

#include "capture/fmxMKzCaptureFrame.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformWindowHost.h"

namespace kz {

TKzDesktop::TKzDesktop(IKzCaptureOwner* Owner) : TKzCustomBase(Owner, "TKzDesktop") { Launch(); }

TKzDesktop::~TKzDesktop() { Shutdown(); }

void TKzDesktop::SetDesktopMode(TKzDesktopMode Mode) {
  std::lock_guard<std::mutex> l(FSettingsLock);
  FMode = Mode;
}

void TKzDesktop::SetDesktopRect(const TKzScreenRect& Rect) {
  std::lock_guard<std::mutex> l(FSettingsLock);
  FRect = Rect;
}

void TKzDesktop::SetDesktopWindow(uint64_t Window) {
  std::lock_guard<std::mutex> l(FSettingsLock);
  FWindow = Window;
}

void TKzDesktop::SetDesktopForm(TForm* Form) {
  FForm = Form;
  FHasForm = Form != nullptr;
  std::lock_guard<std::mutex> l(FSettingsLock);
  FFormShown = false;
}

void TKzDesktop::SetDisplayName(const std::string& Name) {
  std::lock_guard<std::mutex> l(FSettingsLock);
  FDisplayName = Name;
}

bool TKzDesktop::SourceRect(TKzScreenRect& Rect, std::string& Error) {
  TKzDesktopMode mode;
  TKzScreenRect want;
  uint64_t window;
  bool formShown;
  {
    std::lock_guard<std::mutex> l(FSettingsLock);
    mode = FMode, want = FRect, window = FWindow, formShown = FFormShown;
    if (mode == TKzDesktopMode::kzdmWindow && window == 0) want = FFormRect;
  }
  const TKzScreenRect screen{0, 0, FScreen->Width(), FScreen->Height()};
  switch (mode) {
    case TKzDesktopMode::kzdmFull: Rect = screen; return true;
    case TKzDesktopMode::kzdmRect: break;
    case TKzDesktopMode::kzdmWindow:
      if (window != 0) {
        if (!FScreen->WindowRect(window, want)) {
          Error = "Desktop: " + FScreen->Error();
          return false;
        }
      } else if (!formShown) {
        Error = "Desktop: the form to capture is not shown";
        return false;
      }
      break;
  }
  // Clipped to the screen.
  const int32_t l = std::max(want.X, 0), t = std::max(want.Y, 0);
  const int32_t r = std::min<int64_t>(int64_t(want.X) + want.Width, screen.Width);
  const int32_t b = std::min<int64_t>(int64_t(want.Y) + want.Height, screen.Height);
  if (r <= l || b <= t) {
    Error = "Desktop: the rectangle " + std::to_string(want.X) + "," + std::to_string(want.Y) + "," +
            std::to_string(want.Width) + "," + std::to_string(want.Height) + " lies outside the screen";
    return false;
  }
  Rect = {l, t, r - l, b - t};
  return true;
}

bool TKzDesktop::NextFrame(std::string& Error) {
  if (FHasForm && !FFormLookupPending.exchange(true)) {
    // The form lives on the main thread: its place is looked up there (one
    // look-up at a time), and the frame uses the last place seen.
    PostToMain([this] {
      FFormLookupPending = false;
      IKzWindow* w = FForm ? FForm->Window() : nullptr;
      std::lock_guard<std::mutex> l(FSettingsLock);
      FFormShown = w != nullptr && FForm->Visible();
      if (FFormShown) {
        const TPoint o = w->ScreenOrigin();
        FFormRect = {o.X, o.Y, static_cast<int32_t>(FForm->Width()), static_cast<int32_t>(FForm->Height())};
      }
    });
  }
  if (!FScreen) {
    std::string name;
    {
      std::lock_guard<std::mutex> l(FSettingsLock);
      name = FDisplayName;
    }
    FScreen = std::make_unique<TKzX11Screen>(name);
  }
  if (!FScreen->Connected()) {
    Error = "Desktop: " + FScreen->Error();
    return false;
  }
  TKzScreenRect rect;
  if (!SourceRect(rect, Error)) return false;
  FGrab.SetSize(rect.Width, rect.Height);
  if (!FScreen->Grab(rect, FGrab.Data())) {
    Error = "Desktop: " + FScreen->Error();
    return false;
  }
  Zoom(ZoomPercent());
  KzFlipBitmap(FBitmap, GetFlipHorizontally(), GetFlipVertically());
  FVideoWidth = FBitmap.Width();
  FVideoHeight = FBitmap.Height();
  FBitmap.UpdateData();
  DeliverFrame(FBitmap);
  return true;
}

void TKzDesktop::StreamClosed() { FScreen.reset(); }

void TKzDesktop::Zoom(int32_t Percent) {
  if (Percent == 100) {
    FBitmap.SwapPixels(FGrab);
    return;
  }
  double w = std::max(1.0, std::round(FGrab.Width() * Percent / 100.0));
  double h = std::max(1.0, std::round(FGrab.Height() * Percent / 100.0));
  if (const double longest = std::max(w, h); longest > KzDesktopMaxSide) {
    w = std::max(1.0, std::round(w * KzDesktopMaxSide / longest));
    h = std::max(1.0, std::round(h * KzDesktopMaxSide / longest));
  }
  FBitmap.SetSize(static_cast<int32_t>(w), static_cast<int32_t>(h));
  KzScaleBitmap(FGrab, FBitmap);
}

namespace {
// Shrinking: every destination pixel is the mean of the source pixels whose
// centres fall in its footprint.
void AreaAverage(const TKzMCustomBitmap& S, TKzMCustomBitmap& D) {
  const int32_t sw = S.Width(), sh = S.Height(), dw = D.Width(), dh = D.Height();
  std::vector<int32_t> x0(dw + 1);
  for (int32_t x = 0; x <= dw; ++x) x0[x] = static_cast<int32_t>(int64_t(x) * sw / dw);
  std::vector<uint32_t> sums(size_t(dw) * 4);
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t ya = static_cast<int32_t>(int64_t(y) * sh / dh);
    const int32_t yb = std::max(ya + 1, static_cast<int32_t>(int64_t(y + 1) * sh / dh));
    std::fill(sums.begin(), sums.end(), 0);
    for (int32_t sy = ya; sy < yb; ++sy) {
      const uint8_t* row = reinterpret_cast<const uint8_t*>(S.ScanLine(sy));
      for (int32_t x = 0; x < dw; ++x) {
        const int32_t xb = std::max(x0[x] + 1, x0[x + 1]);
        uint32_t* s = &sums[size_t(x) * 4];
        for (int32_t sx = x0[x]; sx < xb; ++sx)
          for (int c = 0; c < 4; ++c) s[c] += row[size_t(sx) * 4 + c];
      }
    }
    uint8_t* out = reinterpret_cast<uint8_t*>(D.ScanLine(y));
    for (int32_t x = 0; x < dw; ++x) {
      const uint32_t n = uint32_t(std::max(x0[x] + 1, x0[x + 1]) - x0[x]) * uint32_t(yb - ya);
      for (int c = 0; c < 4; ++c) out[size_t(x) * 4 + c] = static_cast<uint8_t>((sums[size_t(x) * 4 + c] + n / 2) / n);
    }
  }
}

// Growing: bilinear between the four nearest source pixels (centres aligned).
void Bilinear(const TKzMCustomBitmap& S, TKzMCustomBitmap& D) {
  const int32_t sw = S.Width(), sh = S.Height(), dw = D.Width(), dh = D.Height();
  for (int32_t y = 0; y < dh; ++y) {
    const double fy = std::clamp((y + 0.5) * sh / dh - 0.5, 0.0, double(sh - 1));
    const int32_t y0 = static_cast<int32_t>(fy), y1 = std::min(y0 + 1, sh - 1);
    const double wy = fy - y0;
    const uint8_t* r0 = reinterpret_cast<const uint8_t*>(S.ScanLine(y0));
    const uint8_t* r1 = reinterpret_cast<const uint8_t*>(S.ScanLine(y1));
    uint8_t* out = reinterpret_cast<uint8_t*>(D.ScanLine(y));
    for (int32_t x = 0; x < dw; ++x) {
      const double fx = std::clamp((x + 0.5) * sw / dw - 0.5, 0.0, double(sw - 1));
      const int32_t xa = static_cast<int32_t>(fx), xb = std::min(xa + 1, sw - 1);
      const double wx = fx - xa;
      for (int c = 0; c < 4; ++c) {
        const double top = r0[xa * 4 + c] * (1 - wx) + r0[xb * 4 + c] * wx;
        const double bottom = r1[xa * 4 + c] * (1 - wx) + r1[xb * 4 + c] * wx;
        out[size_t(x) * 4 + c] = static_cast<uint8_t>(std::lround(top * (1 - wy) + bottom * wy));
      }
    }
  }
}
}  // namespace

void KzScaleBitmap(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest) {
  if (Source.IsEmpty() || Dest.IsEmpty()) return;
  if (Dest.Width() <= Source.Width() && Dest.Height() <= Source.Height())
    AreaAverage(Source, Dest);
  else
    Bilinear(Source, Dest);
}

}  // namespace kz
