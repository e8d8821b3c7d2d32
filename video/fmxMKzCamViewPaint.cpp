// TKzCamView: geometry (client area, video rectangle, panels, buttons), the
// caption text and painting.
#include "video/fmxMKzCamView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "foundation/fmxMKzRedact.h"
#include "video/fmxMKzCamViewInternal.h"

namespace kz {

using namespace camview_detail;

namespace {
int32_t RoundPx(double V) { return static_cast<int32_t>(std::lround(V)); }

std::string Trim(const std::string& S) {
  const size_t first = S.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = S.find_last_not_of(" \t");
  return S.substr(first, last - first + 1);
}

std::string BaseName(const std::string& Path) {
  const size_t slash = Path.find_last_of("/\\");
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// Colour channels times Ratio (clamped), alpha kept.
TAlphaColor ScaleColor(TAlphaColor C, double Ratio) {
  TAlphaColor out = C & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const double v = std::min(255.0, ((C >> shift) & 0xFFu) * Ratio);
    out |= static_cast<TAlphaColor>(v) << shift;
  }
  return out;
}
}  // namespace

// ---- Geometry

TRect KzGetVideoRect(TKzCamViewMode Mode, const TRect& ClientArea, int32_t W, int32_t H) {
  const int32_t cw = ClientArea.Width();
  const int32_t ch = ClientArea.Height();
  const int32_t l = ClientArea.Left;
  const int32_t t = ClientArea.Top;
  if (W <= 0 || H <= 0 || ClientArea.IsEmpty()) return ClientArea;
  switch (Mode) {
    case TKzCamViewMode::vvmNormal:
      return TRect(l, t, l + W, t + H);
    case TKzCamViewMode::vvmCenter: {
      const int32_t left = RoundPx(l + (cw - W) / 2.0);
      const int32_t top = RoundPx(t + (ch - H) / 2.0);
      return TRect(left, top, left + W, top + H);
    }
    case TKzCamViewMode::vvmCut:
    case TKzCamViewMode::vvmAspect: {
      // Cut covers the area (one side fits, the other overflows); Aspect
      // fits inside it (one side fits, the other falls short).
      const bool widthFits = Mode == TKzCamViewMode::vvmCut ? static_cast<double>(W) / cw <= static_cast<double>(H) / ch
                                                            : static_cast<double>(W) / H > static_cast<double>(cw) / ch;
      if (widthFits) {
        const int32_t h = RoundPx(static_cast<double>(H) * cw / W);
        const int32_t top = RoundPx(t + (ch - h) / 2.0);
        return TRect(l, top, l + cw, top + h);
      }
      const int32_t w = RoundPx(static_cast<double>(W) * ch / H);
      const int32_t left = RoundPx(l + (cw - w) / 2.0);
      return TRect(left, t, left + w, t + ch);
    }
    case TKzCamViewMode::vvmStretch:
      break;
  }
  return ClientArea;
}

std::string TKzCamView::HostAndPort() const {
  if (!FCamera) return "";
  std::string s = FCamera->CameraHost();
  if (FCamera->CameraPort() != 0) {
    s += ':';
    s += std::to_string(FCamera->CameraPort());
  }
  return s;
}

// ---- Geometry

TRect TKzCamView::GetCaptionRect() const { return TRect(0, 0, Width(), std::max(FCaptionHeight, kMinCaptionHeight)); }

TRect TKzCamView::GetClientArea() const {
  TRect r = LocalRect();
  if (FShowCaption && (FCaptionColor >> 24) == 0xFF) r.Top = std::min(r.Bottom, GetCaptionRect().Bottom);
  return r;
}

TRect TKzCamView::GetVideoRect() const {
  TKzSafeLock lock(FLastFrameSection);
  return KzGetVideoRect(FViewMode, GetClientArea(), OldImageWidth, OldImageHeight);
}

bool TKzCamView::CanVideoCoverCaption() const {
  return FShowCaption && (FViewMode == TKzCamViewMode::vvmCenter || (FCaptionColor >> 24) != 0xFF);
}

TRect TKzCamView::GetFullScreenButtonRect() const {
  const TRect c = GetClientArea();
  return TRect(c.Right - 40, c.Top + 10, c.Right - 10, c.Top + 40);
}

TRect TKzCamView::GetRectCameraSearch() const {
  const TRect c = GetClientArea();
  const int32_t w = std::clamp(c.Width() - 20, 0, 360);
  const int32_t h = std::clamp(c.Height() - 20, 0, 72);
  const int32_t left = c.Left + (c.Width() - w) / 2;
  const int32_t top = c.Top + (c.Height() - h) / 2;
  return TRect(left, top, left + w, top + h);
}

TRect TKzCamView::CalcAbortButtonRect() const {
  const TRect p = GetRectCameraSearch();
  const int32_t side = std::min(24, std::max(0, p.Height() - 8));
  const int32_t top = p.Top + (p.Height() - side) / 2;
  return TRect(p.Right - 8 - side, top, p.Right - 8, top + side);
}

TRect TKzCamView::GetWaitAnimationRect() const {
  const TRect c = GetClientArea();
  const int32_t side = std::min({48, c.Width() / 3, c.Height() / 3});
  const int32_t left = c.Left + (c.Width() - side) / 2;
  const int32_t top = c.Top + (c.Height() - side) / 2;
  return TRect(left, top, left + side, top + side);
}

TAlphaColor TKzCamView::GetFrameLineColor() const {
  if (FIsInFocus && isCanFocus && FFocusLineColor != 0) return FFocusLineColor;
  if (isInMove && isCanFocus && FHoverLineColor != 0) return FHoverLineColor;
  return FCaptionColor;
}

std::string TKzCamView::GetCaptionText(std::time_t Now) const {
  std::string s = FTitle;
  if (const IKzCamViewSource* cam = FCamera) {
    if (FCaptionParts.Contains(TKzCameraCaptionPart::kzccpAddress)) {
      auto bracket = [&s](const std::string& Text) { s += " [" + Text + "]"; };
      switch (cam->DeviceType()) {
        case TKzDeviceType::kzdtIPCamera:
          if (cam->IsFilePlaying())
            bracket(cam->PlayingFileName());
          else if (!cam->URL().empty())
            bracket(cam->URL());
          else if (!cam->CameraHost().empty())
            bracket(HostAndPort());
          break;
        case TKzDeviceType::kzdtWebCamera:
          bracket(KzMGetMessageText(TKzMMessageId::kzmmWebCamera, FLanguage));
          break;
        case TKzDeviceType::kzdtDesktop:
          bracket(KzMGetMessageText(TKzMMessageId::kzmmDesktop, FLanguage));
          break;
        case TKzDeviceType::kzdtFile:
          bracket(BaseName(cam->SourceFileName()));
          break;
        case TKzDeviceType::kzdtRTSP:
        case TKzDeviceType::kzdtHTTP:
          bracket(cam->URL());
          break;
        case TKzDeviceType::kzdtUserData:
          break;
      }
      s = Trim(s);
    }
    if (FCaptionParts.Contains(TKzCameraCaptionPart::kzccpAlias) && !cam->IsFilePlaying() && !cam->Alias().empty())
      s = Trim(s + " <" + cam->Alias() + ">");
  }
  s = KzRedactCredentials(s);  // a URL's user name and password are never shown
  const bool date = FCaptionParts.Contains(TKzCameraCaptionPart::kzccpDate);
  const bool time = FCaptionParts.Contains(TKzCameraCaptionPart::kzccpTime);
  if (!date && !time) return s;
  std::tm local{};
  localtime_r(&Now, &local);
  char buf[32];
  // Date and time are separated from what precedes them only when something
  // does.
  if (date) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    s += (s.empty() ? "" : " - ") + std::string(buf);
  }
  if (time) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    s += (date ? " " : (s.empty() ? "" : " - ")) + std::string(buf);
  }
  return s;
}

// ---- Painting (main thread)

void TKzCamView::Paint(TCanvas& Canvas) {
  if (IsUpdateLocked() || FDestroyingView.load(std::memory_order_acquire)) return;
  FCanPaint.store(true, std::memory_order_release);
  TKzSafeLock lock(FLastFrameSection);
  RepaintBG = true;
  const TRect client = GetClientArea();
  FFrameClientArea = client;
  FFrameViewMode = FViewMode;
  if (!(OnOwnerDraw && OnOwnerDraw(this, true))) {
    if (FHasImage) {
      bool canDrawFrame = true;
      DrawInit(Canvas, canDrawFrame);
      if (isViewerImage.load() > 0) KzRecalcFPS(1, _FPS);
      DrawSoftwareClientArea(Canvas, client, canDrawFrame);
    } else {
      DrawBGToSoftware(Canvas, client);
    }
    DrawSoftwareOtherParts(Canvas, client);
  }
  RepaintBG = false;
  isViewerImage.store(0, std::memory_order_release);
}

void TKzCamView::DrawInit(TCanvas& Canvas, bool& CanDrawFrame) {
  CanDrawFrame = true;
  if (OnPaint) OnPaint(this, FLastFrame, CanDrawFrame, Canvas);
  if (OnMultiPaint) {
    const TRect r = AbsoluteRect();
    OnMultiPaint(this, FLastFrame, CanDrawFrame, static_cast<float>(r.Left), static_cast<float>(r.Top), Canvas);
  }
}

void TKzCamView::DrawSoftwareClientArea(TCanvas& Canvas, const TRect& ClientArea, bool CanDrawFrame) {
  if (!CanDrawFrame || !(NewFrame || FRememberLastFrame) || FLastFrame.IsEmpty()) {
    Canvas.FillRect(ClientArea, FColor);
    return;
  }
  const TRect vr = KzGetVideoRect(FViewMode, ClientArea, OldImageWidth, OldImageHeight);
  Canvas.SaveState();
  Canvas.IntersectClip(CanVideoCoverCaption() ? LocalRect() : ClientArea);
  const TKzPixelSurface frame = SurfaceOf(FLastFrame);
  if (vr.Width() == FLastFrame.Width() && vr.Height() == FLastFrame.Height())
    Canvas.DrawBitmap(frame, FLastFrame.ClientRect(), TPoint{vr.Left, vr.Top});
  else
    Canvas.StretchBitmap(frame, FLastFrame.ClientRect(), vr, StretchQualityOf(FFrameScaleQuality));
  Canvas.RestoreState();
  // The bands of the client area around the video rectangle.
  const TRect& c = ClientArea;
  const TRect v = IntersectRect(vr, c);
  if (v.IsEmpty()) {
    Canvas.FillRect(c, FColor);
    return;
  }
  Canvas.FillRect(TRect(c.Left, c.Top, c.Right, v.Top), FColor);
  Canvas.FillRect(TRect(c.Left, v.Bottom, c.Right, c.Bottom), FColor);
  Canvas.FillRect(TRect(c.Left, v.Top, v.Left, v.Bottom), FColor);
  Canvas.FillRect(TRect(v.Right, v.Top, c.Right, v.Bottom), FColor);
}

void TKzCamView::DrawBGToSoftware(TCanvas& Canvas, const TRect& ClientArea) {
  Canvas.FillRect(ClientArea, FColor);
  if (FIsWaitAnimationPlaying || CameraSearchPanelVisible()) return;
  Canvas.DrawText(ClientArea, KzMGetMessageText(TKzMMessageId::kzmmNoVideo, FLanguage), TextSettings().Font,
                  TKzTextAlign::kztaCenter, TKzTextAlign::kztaCenter);
}

void TKzCamView::DrawSoftwareOtherParts(TCanvas& Canvas, const TRect& ClientArea) {
  if (CameraSearchPanelVisible()) DrawCameraSearch(Canvas);
  if (FIsWaitAnimationPlaying) DrawWaitAnimation(Canvas);
  if (FShowFrameRect) DrawFrameLine(Canvas, ClientArea);
  if (FShowCaption) DrawCaption(Canvas);
  DrawButtons(Canvas);
}

void TKzCamView::DrawCameraSearch(TCanvas& Canvas) {
  const TRect panel = GetRectCameraSearch();
  if (panel.IsEmpty()) return;
  const TAlphaColor back = FSearchPanelColor != 0 ? FSearchPanelColor : (FCaptionColor | 0xFF000000u);
  const TAlphaColor text = FSearchPanelTextColor != 0 ? FSearchPanelTextColor : KzOpaqueWhite;
  const bool modern = FIconStyle == TKzMIconStyle::kzisModern;
  Canvas.FillRect(panel, back);
  Canvas.DrawRect(panel, modern ? ScaleColor(back, 1.3) : text, 1);
  FAbortButtonRect = CalcAbortButtonRect();
  // Text in the upper part, a row of progress dots below it.
  TKzFont font = TextSettings().Font;
  font.Color = text;
  const TRect textArea(panel.Left + 8, panel.Top + 4, FAbortButtonRect.Left - 4, panel.Top + panel.Height() * 2 / 3);
  Canvas.DrawText(textArea, txtCameraSearch, font, TKzTextAlign::kztaCenter, TKzTextAlign::kztaCenter);
  const int32_t dotsY = textArea.Bottom;
  const int32_t cx = (textArea.Left + textArea.Right) / 2;
  for (int32_t i = 0; i < 5; ++i) {
    const TAlphaColor c = i == FSearchStep % 5 ? text : ((text & 0x00FFFFFFu) | 0x60000000u);
    const int32_t x = cx + (i - 2) * 10;
    Canvas.FillEllipse(TRect(x - 3, dotsY, x + 3, dotsY + 6), c);
  }
  // The abort button: a cross in a square.
  const TRect& b = FAbortButtonRect;
  if (b.IsEmpty()) return;
  if (FbtnAbortHot || FbtnAbortClick) Canvas.FillRect(b, ScaleColor(back, FbtnAbortClick ? 0.8 : 1.3));
  Canvas.DrawRect(b, text, 1);
  const float t = FbtnAbortClick ? 3.0f : 2.0f;
  const int32_t in = std::max(4, b.Width() / 4);
  Canvas.DrawLine(TPoint{b.Left + in, b.Top + in}, TPoint{b.Right - 1 - in, b.Bottom - 1 - in}, text, t);
  Canvas.DrawLine(TPoint{b.Right - 1 - in, b.Top + in}, TPoint{b.Left + in, b.Bottom - 1 - in}, text, t);
}

void TKzCamView::DrawWaitAnimation(TCanvas& Canvas) {
  if (!FAniWaitCounter) return;
  const TAlphaColor c =
      FSearchPanelTextColor != 0 ? FSearchPanelTextColor : ScaleColor(FCaptionColor | 0xFF000000u, 0.8);
  FAniWaitCounter->Draw(Canvas, GetWaitAnimationRect(), c);
}

void TKzCamView::DrawFrameLine(TCanvas& Canvas, const TRect& ClientArea) {
  const TAlphaColor c = GetFrameLineColor();
  if (c != 0) Canvas.DrawRect(ClientArea, c, 1);
}

void TKzCamView::DrawCaption(TCanvas& Canvas) {
  const TRect r = GetCaptionRect();
  Canvas.FillRect(r, FCaptionColor);
  const TAlphaColor line = GetFrameLineColor();
  if (line != 0) Canvas.DrawRect(r, line, 1);
  Canvas.SaveState();
  Canvas.IntersectClip(r);
  Canvas.TextOut(r.Left + 10, r.Top + 4, GetCaptionText(std::time(nullptr)), FCaptionTextSettings.Font);
  Canvas.RestoreState();
}

// The full-screen icon: four corner brackets, thicker and brighter while
// hovered.
void KzDrawFullScreenButton(TCanvas& Canvas, const TRect& R, TAlphaColor CaptionColor, bool Hot,
                            TKzMIconStyle Style) {
  const TRect& r = R;
  const int32_t thick = Hot ? 5 : 4;
  constexpr int32_t kSpacing = 5;
  TAlphaColor color = ScaleColor(CaptionColor | 0xFF000000u, Hot ? 1.3 : 1.2);
  if (Style == TKzMIconStyle::kzisModern) {
    Canvas.FillRect(r, 0x80000000u);
    color = KzOpaqueWhite;
  }
  const int32_t arm = (r.Width() - kSpacing) / 2;
  const TRect corners[4][2] = {
      {{r.Left, r.Top, r.Left + arm, r.Top + thick}, {r.Left, r.Top, r.Left + thick, r.Top + arm}},
      {{r.Right - arm, r.Top, r.Right, r.Top + thick}, {r.Right - thick, r.Top, r.Right, r.Top + arm}},
      {{r.Left, r.Bottom - thick, r.Left + arm, r.Bottom}, {r.Left, r.Bottom - arm, r.Left + thick, r.Bottom}},
      {{r.Right - arm, r.Bottom - thick, r.Right, r.Bottom}, {r.Right - thick, r.Bottom - arm, r.Right, r.Bottom}},
  };
  for (const auto& corner : corners)
    for (const TRect& bar : corner) Canvas.FillRect(bar, color);
}

void TKzCamView::DrawButtons(TCanvas& Canvas) {
  if (!FAllowFullScreen || !FFullScreenButtonVisible) return;
  KzDrawFullScreenButton(Canvas, GetFullScreenButtonRect(), FCaptionColor, FFSBtnHot, FIconStyle);
}

}  // namespace kz
