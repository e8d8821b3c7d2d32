// The camera view, headless: a form of the headless host holds the view and
// its pixels are read back after painting. Geometry of the five view modes,
// what lies outside the video, caption and frame lines, the full-screen
// button, frame acceptance and back-pressure, the sender filter, caption
// texts, pan/tilt commands from mouse and keys, the wait animation and the
// search panel by the virtual clock, the full-screen window, and a view
// destroyed while a real pipeline delivers frames.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "camera/fmxMKzCamera.h"
#include "foundation/Fmxmkzguidfuncs.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzCamView.h"
#include "video/fmxMKzMessageTexts.h"
#include "tests/video/kzcamviewdoubles.h"

using namespace kz;
using kztest::Solid;
using kztest::TFakeCamera;
using kztest::TPlainSource;

namespace {

constexpr TAlphaColor kRed = 0xFFFF0000u;
constexpr TAlphaColor kGreen = 0xFF00FF00u;
constexpr TAlphaColor kBlue = 0xFF0000FFu;
constexpr TAlphaColor kBack = 0xFF101010u;

// A headless form with one view at (0, 0), shown and painted once.
struct TRig {
  explicit TRig(int W = 400, int H = 400, bool Caption = false) {
    Form.SetSize(W, H);
    View = new TKzCamView(&Form);
    View->SetParent(&Form);
    View->SetBounds(0, 0, W, H);
    View->SetShowCaption(Caption);
    View->SetShowFrameRect(false);
    View->SetColor(kBack);
    Form.Show();
    Form.PaintPending();
    View->SetVideoSource(&Cam);
  }
  ~TRig() {
    delete View;  // before the camera: the view unregisters itself
    Application().ProcessMessages();
  }
  void Deliver(const TKzMBitmap& B, bool Own = true, uint16_t Index = 0, const TGUID& From = TGUID{}) {
    View->ViewerGetImageBMP(&Cam, B, Own, Index, From);
  }
  void Paint() {
    View->RepaintControl();
    Form.PaintPending();
  }
  uint32_t Px(int X, int Y) const { return Form.Surface().Row(Y)[X]; }
  int ImgCount() {
    bool has;
    int32_t count, h, w, pending;
    View->GetLastImageInfo(has, count, h, w, pending);
    return count;
  }

  TFakeCamera Cam;
  TForm Form{nullptr};
  TKzCamView* View;
};

// Channel-wise distance of two colours.
int Dist(uint32_t A, uint32_t B) {
  int d = 0;
  for (int s = 0; s < 32; s += 8) d = std::max(d, std::abs(int((A >> s) & 255) - int((B >> s) & 255)));
  return d;
}

std::string Str(const TRect& R) {
  return "(" + std::to_string(R.Left) + "," + std::to_string(R.Top) + ")-(" + std::to_string(R.Right) + "," +
         std::to_string(R.Bottom) + ")";
}

}  // namespace

// ---- Geometry

TEST(CamViewGeometry, VideoRectangleOfEveryModeAndSize) {
  using M = TKzCamViewMode;
  struct {
    M Mode;
    TRect Client;
    int W, H;
    TRect Expected;
  } cases[] = {
      // An 800 x 400 frame in a 400 x 400 area.
      {M::vvmAspect, {0, 0, 400, 400}, 800, 400, {0, 100, 400, 300}},
      {M::vvmCut, {0, 0, 400, 400}, 800, 400, {-200, 0, 600, 400}},
      {M::vvmCenter, {0, 0, 400, 400}, 800, 400, {-200, 0, 600, 400}},
      {M::vvmNormal, {0, 0, 400, 400}, 800, 400, {0, 0, 800, 400}},
      {M::vvmStretch, {0, 0, 400, 400}, 800, 400, {0, 0, 400, 400}},
      // Tall frames, offset areas (below a caption), small frames.
      {M::vvmAspect, {0, 20, 400, 420}, 200, 400, {100, 20, 300, 420}},
      {M::vvmCut, {0, 20, 400, 420}, 200, 400, {0, -180, 400, 620}},
      {M::vvmCenter, {10, 20, 110, 120}, 50, 30, {35, 55, 85, 85}},
      {M::vvmNormal, {10, 20, 110, 120}, 50, 30, {10, 20, 60, 50}},
      {M::vvmCut, {0, 0, 640, 480}, 1920, 1080, {-107, 0, 746, 480}},  // width 853, left -106.5
      {M::vvmAspect, {0, 0, 100, 100}, 30, 30, {0, 0, 100, 100}},
      // No frame size or no area: the area itself.
      {M::vvmNormal, {0, 20, 400, 420}, 0, 400, {0, 20, 400, 420}},
      {M::vvmAspect, {5, 5, 5, 100}, 800, 400, {5, 5, 5, 100}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Str(KzGetVideoRect(c.Mode, c.Client, c.W, c.H)), Str(c.Expected))
        << int(c.Mode) << " " << c.W << "x" << c.H << " in " << Str(c.Client);
}

TEST(CamViewGeometry, DirectionSectorsAndCentreZone) {
  struct {
    float X, Y, Radius;
    TKzMoveDirections Expected;
  } cases[] = {
      {100, 100, 0, {}},             // exactly at the reference: nothing
      {50, 100, 0, {.Left = true}},  // on the axes
      {150, 100, 0, {.Right = true}},
      {100, 40, 0, {.Up = true}},
      {100, 170, 0, {.Down = true}},
      {50, 50, 0, {.Left = true, .Up = true}},  // 45 degrees: both neighbours
      {90, 73, 0, {.Up = true}},         // 70 degrees from the horizontal: up only
      {50, 82, 0, {.Left = true}},       // 20 degrees: left only
      {120, 110, 45, {.Center = true}},  // inside the centre zone
      {160, 100, 45, {.Right = true}},   // outside it
  };
  for (const auto& c : cases)
    EXPECT_EQ(KzGetMoveDirections(c.X, c.Y, 100, 100, c.Radius), c.Expected) << c.X << "," << c.Y;
}

// ---- Painting

TEST(CamViewPaint, EveryModePaintsTheFrameInItsRectangleAndColorOutside) {
  TRig rig;
  for (const TKzMBitmap& frame : {Solid(800, 400, kRed), Solid(100, 60, kRed)}) {
    for (auto mode : {TKzCamViewMode::vvmAspect, TKzCamViewMode::vvmCut, TKzCamViewMode::vvmCenter,
                      TKzCamViewMode::vvmNormal, TKzCamViewMode::vvmStretch}) {
      for (auto quality : {TKzMFrameScaleQuality::kzmfscLow, TKzMFrameScaleQuality::kzmfscNormal}) {
        rig.View->SetViewMode(mode);
        rig.View->SetFrameScaleQuality(quality);
        rig.Deliver(frame);
        rig.Paint();
        const TRect vr = IntersectRect(rig.View->GetVideoRect(), TRect(0, 0, 400, 400));
        ASSERT_FALSE(vr.IsEmpty());
        SCOPED_TRACE(std::to_string(int(mode)) + " " + Str(vr));
        for (int y = 0; y < 400; y += 7)
          for (int x = 0; x < 400; x += 7) {
            const bool inside = x >= vr.Left && x < vr.Right && y >= vr.Top && y < vr.Bottom;
            ASSERT_EQ(rig.Px(x, y), inside ? kRed : kBack) << x << "," << y;
          }
        // The edges, pixel-exact: the first and last row and column of the
        // video are red, their neighbours outside (when on the view) are not.
        const int cx = (vr.Left + vr.Right) / 2, cy = (vr.Top + vr.Bottom) / 2;
        const struct { int X, Y; bool Inside; } edges[] = {
            {cx, vr.Top - 1, false}, {cx, vr.Top, true},       {cx, vr.Bottom - 1, true}, {cx, vr.Bottom, false},
            {vr.Left - 1, cy, false}, {vr.Left, cy, true},     {vr.Right - 1, cy, true},  {vr.Right, cy, false}};
        for (const auto& e : edges)
          if (e.X >= 0 && e.X < 400 && e.Y >= 0 && e.Y < 400) {
            EXPECT_EQ(rig.Px(e.X, e.Y), e.Inside ? kRed : kBack) << e.X << "," << e.Y;
          }
      }
    }
  }
}

TEST(CamViewPaint, WithoutAFrameTheBackgroundAndNoVideoText) {
  TRig rig;
  rig.Paint();
  int text = 0;
  for (int y = 150; y < 250; ++y)
    for (int x = 100; x < 300; ++x) text += rig.Px(x, y) != kBack;
  EXPECT_GT(text, 20);  // "No Video", centred
  EXPECT_EQ(rig.Px(5, 5), kBack);
  EXPECT_EQ(rig.Px(395, 395), kBack);
}

TEST(CamViewPaint, CaptionRowsAndTheClientAreaBelowAnOpaqueCaptionOrUnderATranslucentOne) {
  TRig rig(400, 420, true);
  rig.View->SetCaptionHeight(20);
  rig.Deliver(Solid(400, 400, kRed));
  rig.Paint();
  EXPECT_EQ(rig.View->GetClientArea(), TRect(0, 20, 400, 420));
  const TAlphaColor caption = rig.View->CaptionColor();
  for (int y = 1; y < 19; ++y) EXPECT_EQ(rig.Px(390, y), caption) << y;  // right of any text
  EXPECT_EQ(rig.Px(200, 21), kRed);
  EXPECT_EQ(rig.Px(200, 418), kRed);
  // A translucent caption is blended over the video, which fills the whole control.
  rig.View->SetCaptionColor(0x80000000u);  // half-transparent black
  rig.Paint();
  EXPECT_EQ(rig.View->GetClientArea(), TRect(0, 0, 400, 420));
  EXPECT_LE(Dist(rig.Px(390, 12), 0xFF7F0000u), 2) << std::hex << rig.Px(390, 12);
  EXPECT_EQ(rig.Px(200, 30), kRed);
  // The minimum caption height is 10.
  rig.View->SetCaptionHeight(4);
  EXPECT_EQ(rig.View->GetCaptionRect(), TRect(0, 0, 400, 10));
}

TEST(CamViewPaint, FrameLineColourByFocusAndHoverAndZeroDrawsNothing) {
  struct {
    const char* Name;
    bool Focus, Hover, LockFocus;
    TAlphaColor FocusColour, HoverColour, CaptionColour, Expected;
  } cases[] = {
      {"idle", false, false, false, kRed, kGreen, kBlue, kBlue},
      {"focus", true, false, false, kRed, kGreen, kBlue, kRed},
      {"hover", false, true, false, kRed, kGreen, kBlue, kGreen},
      {"focus wins over hover", true, true, false, kRed, kGreen, kBlue, kRed},
      {"focus colour 0 falls back", true, false, false, 0, kGreen, kBlue, kBlue},
      {"hover colour 0 falls back", false, true, false, kRed, 0, kBlue, kBlue},
      {"focus locked", true, true, true, kRed, kGreen, kBlue, kBlue},
      {"caption colour 0: no line", false, false, false, kRed, kGreen, 0, kBack},
  };
  for (const auto& c : cases) {
    TRig rig(200, 200, true);
    rig.View->SetShowFrameRect(true);
    rig.View->SetFocusLineColor(c.FocusColour);
    rig.View->SetHoverLineColor(c.HoverColour);
    rig.View->SetCaptionColor(c.CaptionColour);
    rig.View->SetIsInFocus(c.Focus);
    if (c.Hover) rig.View->DoMouseEnter();
    if (c.LockFocus) rig.View->LockFocus();
    rig.Paint();
    EXPECT_EQ(rig.View->GetFrameLineColor(), c.Expected == kBack ? 0u : c.Expected) << c.Name;
    EXPECT_EQ(rig.Px(0, 199), c.Expected) << c.Name;    // bottom-left corner of the client area
    EXPECT_EQ(rig.Px(199, 100), c.Expected) << c.Name;  // right edge
    EXPECT_EQ(rig.Px(20, 150), kBack) << c.Name;
  }
}

TEST(CamViewPaint, FullScreenButtonAppearsOnMouseMoveAndHidesAfterThreeQuietSeconds) {
  TKzVirtualClockScope clock;
  TRig rig(400, 420, true);
  rig.View->SetAllowFullScreen(true);
  rig.Paint();
  const TRect b = rig.View->GetFullScreenButtonRect();
  EXPECT_EQ(b, TRect(360, 30, 390, 60));
  EXPECT_EQ(rig.Px(b.Left, b.Top), kBack);
  rig.View->MouseMove(0, 100, 100);
  rig.Form.PaintPending();
  ASSERT_TRUE(rig.View->FullScreenButtonVisible());
  const TAlphaColor icon = rig.Px(b.Left, b.Top);
  EXPECT_NE(icon, kBack);
  EXPECT_EQ(rig.Px(b.Right - 1, b.Bottom - 1), icon);
  EXPECT_EQ(rig.Px(b.Left - 1, b.Top), kBack);
  EXPECT_EQ(rig.Px(b.Right, b.Bottom), kBack);
  EXPECT_EQ(rig.Px((b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2),
            kBack);  // the icon is open in the middle
  for (int s = 1; s <= 2; ++s) {
    clock.Clock.Advance(1000);
    Application().ProcessMessages();
    EXPECT_TRUE(rig.View->FullScreenButtonVisible()) << s;
  }
  clock.Clock.Advance(1000);
  Application().ProcessMessages();
  EXPECT_FALSE(rig.View->FullScreenButtonVisible());
  rig.Form.PaintPending();
  EXPECT_EQ(rig.Px(b.Left, b.Top), kBack);
}

// ---- Accepting frames

TEST(CamViewFrames, TwoFramesBeforeOnePaintKeepOnlyTheFirst) {
  TRig rig;
  rig.View->SetViewMode(TKzCamViewMode::vvmStretch);
  rig.Deliver(Solid(40, 40, kRed));
  rig.Deliver(Solid(40, 40, kGreen));  // dropped: the red one was not painted yet
  EXPECT_EQ(rig.ImgCount(), 1);
  rig.Paint();
  EXPECT_EQ(rig.Px(200, 200), kRed);
  rig.Deliver(Solid(40, 40, kGreen));  // painted since: taken
  rig.Paint();
  EXPECT_EQ(rig.Px(200, 200), kGreen);
  EXPECT_EQ(rig.ImgCount(), 2);
}

TEST(CamViewFrames, SenderFilterAndTheStatesThatRejectFrames) {
  const TGUID g = StringToGUIDA("{6B29FC40-CA47-1067-B31D-00DD010662DA}");
  const std::string gText = GUIDToStringA(g);
  struct {
    const char* Name;
    bool AllowEmpty;
    std::string From;
    uint16_t Index;
    bool Own;
    uint16_t FrameIndex;
    bool Accepted;
  } cases[] = {
      {"any sender", true, "", 0, false, 3, true},
      {"empty GUIDFrom, own frame", false, "", 0, true, 0, true},
      {"empty GUIDFrom, chained frame", false, "", 0, false, 0, false},
      {"matching sender and index", false, gText, 2, false, 2, true},
      {"matching sender, other index", false, gText, 2, false, 1, false},
      {"other sender", false, "{00000000-0000-0000-0000-000000000001}", 0, false, 0, false},
  };
  for (const auto& c : cases) {
    TRig rig;
    rig.View->SetAllowEmptyGUID(c.AllowEmpty);
    rig.View->SetGUIDFrom(c.From);
    rig.View->SetIndexFrom(c.Index);
    rig.Deliver(Solid(8, 8, kRed), c.Own, c.FrameIndex, g);
    EXPECT_EQ(rig.View->HasImage(), c.Accepted) << c.Name;
  }
  // No source, an aborted source, the search panel: dropped.
  {
    TRig rig;
    rig.Cam.Host = "10.1.2.3";
    rig.View->ViewerSearchCamera(&rig.Cam);
    rig.Deliver(Solid(8, 8, kRed));
    EXPECT_FALSE(rig.View->HasImage()) << "search panel";
    rig.View->SetVideoSource(nullptr);
    rig.Deliver(Solid(8, 8, kRed));
    EXPECT_FALSE(rig.View->HasImage()) << "no source";
  }
}

TEST(CamViewFrames, LockedUpdatesPostNothingAndTheLastUnlockRepaints) {
  TRig rig;
  rig.View->LockUpdates();
  rig.View->LockUpdates();
  EXPECT_TRUE(rig.View->IsUpdateLocked());
  rig.Deliver(Solid(8, 8, kRed));
  rig.Paint();  // the view skips painting while locked
  EXPECT_NE(rig.Px(200, 200), kRed);
  rig.View->UnlockUpdates(true);
  rig.Form.PaintPending();
  EXPECT_NE(rig.Px(200, 200), kRed);
  rig.View->UnlockUpdates(true);
  rig.Form.PaintPending();
  EXPECT_EQ(rig.Px(200, 200), kRed);
}

TEST(CamViewFrames, OwnerOfACellGetsFramesPrescaledToTheVideoRectangle) {
  TRig rig(200, 100);
  rig.View->SetIsLastImage(true);
  rig.Deliver(Solid(800, 400, kRed));
  EXPECT_EQ(rig.View->GetLastFrame().Width(), 200);
  EXPECT_EQ(rig.View->GetLastFrame().Height(), 100);
  rig.Paint();
  EXPECT_EQ(rig.Px(100, 50), kRed);
}

// ---- Caption text

TEST(CamViewCaption, TextByDeviceKindAndParts) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::time_t now = 1796492900;  // 2026-12-05 17:48:20 UTC
  using P = TKzCameraCaptionPart;
  using D = TKzDeviceType;
  struct {
    const char* Name;
    std::string Title;
    TKzCameraCaptionParts Parts;
    D Kind;
    std::string Url, Host;
    uint16_t Port;
    std::string Alias;
    bool FilePlaying;
    TKzMLanguage Language;
    std::string Expected;
  } cases[] = {
      // clang-format off
      {"date and time alone", "", {P::kzccpDate, P::kzccpTime}, D::kzdtIPCamera, "http://c/v", "", 0, "", false, TKzMLanguage::kzmlEnglish, "2026-12-05 17:48:20"},
      {"host and port", "", {P::kzccpAddress}, D::kzdtIPCamera, "", "cam.local", 8080, "", false, TKzMLanguage::kzmlEnglish, "[cam.local:8080]"},
      {"host, port 0", "Gate", {P::kzccpAddress}, D::kzdtIPCamera, "", "cam.local", 0, "", false, TKzMLanguage::kzmlEnglish, "Gate [cam.local]"},
      {"URL before host", "", {P::kzccpAddress}, D::kzdtIPCamera, "http://c/v", "cam.local", 81, "", false, TKzMLanguage::kzmlEnglish, "[http://c/v]"},
      {"file playing", "", {P::kzccpAddress, P::kzccpAlias}, D::kzdtIPCamera, "http://c/v", "", 0, "Front", true, TKzMLanguage::kzmlEnglish, "[/rec/a.mjpg]"},
      {"web camera", "", {P::kzccpAddress}, D::kzdtWebCamera, "", "", 0, "", false, TKzMLanguage::kzmlGerman, "[Webcam]"},
      {"desktop", "", {P::kzccpAddress}, D::kzdtDesktop, "", "", 0, "", false, TKzMLanguage::kzmlRussian, "[Экран]"},
      {"file without path", "", {P::kzccpAddress}, D::kzdtFile, "", "", 0, "", false, TKzMLanguage::kzmlEnglish, "[clip.mp4]"},
      {"rtsp", "", {P::kzccpAddress}, D::kzdtRTSP, "rtsp://h/s", "", 0, "", false, TKzMLanguage::kzmlEnglish, "[rtsp://h/s]"},
      {"user data has no address", "", {P::kzccpAddress}, D::kzdtUserData, "", "", 0, "", false, TKzMLanguage::kzmlEnglish, ""},
      {"title, address, alias", "Gate", {P::kzccpAddress, P::kzccpAlias}, D::kzdtHTTP, "http://c/v", "", 0, "Front", false, TKzMLanguage::kzmlEnglish, "Gate [http://c/v] <Front>"},
      {"address then time", "", {P::kzccpAddress, P::kzccpTime}, D::kzdtHTTP, "http://c/v", "", 0, "", false, TKzMLanguage::kzmlEnglish, "[http://c/v] - 17:48:20"},
      {"alias then date", "", {P::kzccpAlias, P::kzccpDate}, D::kzdtIPCamera, "", "", 0, "Front", false, TKzMLanguage::kzmlEnglish, "<Front> - 2026-12-05"},
      // clang-format on
  };
  for (const auto& c : cases) {
    TRig rig;
    rig.Cam.Kind = c.Kind;
    rig.Cam.Url = c.Url;
    rig.Cam.Host = c.Host;
    rig.Cam.Port = c.Port;
    rig.Cam.AliasName = c.Alias;
    rig.Cam.FilePlaying = c.FilePlaying;
    rig.Cam.PlayingFile = "/rec/a.mjpg";
    rig.Cam.SourceFile = "/videos/clip.mp4";
    rig.View->SetTitle(c.Title);
    rig.View->SetCaptionParts(c.Parts);
    rig.View->SetLanguage(c.Language);
    EXPECT_EQ(rig.View->GetCaptionText(now), c.Expected) << c.Name;
  }
  // A source that is not a camera: only date and time, after a non-empty title.
  TPlainSource plain;
  TRig rig;
  rig.View->SetVideoSource(&plain);
  rig.View->SetCaptionParts({P::kzccpAddress, P::kzccpAlias, P::kzccpDate});
  rig.View->SetTitle("Lobby");
  EXPECT_EQ(rig.View->GetCaptionText(now), "Lobby - 2026-12-05");
  rig.View->SetTitle("");
  EXPECT_EQ(rig.View->GetCaptionText(now), "2026-12-05");
  rig.View->SetVideoSource(nullptr);
}

// ---- Pan/tilt

TEST(CamViewMove, PressesDragsAndKeysCommandAndStop) {
  enum TAct { Down, Move, Up, Leave, KeyDn, KeyUp };
  struct TStep {
    TAct Act;
    float X = 0, Y = 0;
    uint16_t Key = 0;
  };
  using M = TKzCamMoveMode;
  struct {
    const char* Name;
    M Mode;
    bool Playing, MoveAccess;
    std::vector<TStep> Steps;
    std::vector<std::string> Expected;
    int BeginMoves;
  } cases[] = {
      // View 400 x 400, no caption: the centre is (200, 200), the centre zone
      // 90 px across.
      // clang-format off
      {"to cursor: left, released", M::vcmmToCursor, true, true, {{Down, 20, 200}, {Up, 20, 200}}, {"Left", "LeftStop"}, 1},
      {"to cursor: diagonal", M::vcmmToCursor, true, true, {{Down, 50, 50}, {Up, 50, 50}}, {"LeftUp", "LeftStop", "UpStop"}, 1},
      {"to cursor: centre zone", M::vcmmToCursor, true, true, {{Down, 230, 200}, {Up, 230, 200}}, {"Center"}, 0},
      {"drag: press at the anchor", M::vcmmDrag, true, true, {{Down, 200, 200}, {Move, 200, 200}, {Up, 200, 200}}, {}, 0},
      {"drag: right, then right-up", M::vcmmDrag, true, true, {{Down, 200, 200}, {Move, 260, 200}, {Move, 262, 201}, {Move, 260, 140}, {Up, 260, 140}}, {"Right", "RightStop", "RightUp", "RightStop", "UpStop"}, 2},
      {"drag: stopped on leave", M::vcmmDrag, true, true, {{Down, 200, 200}, {Move, 200, 300}, {Leave}}, {"Down", "DownStop"}, 1},
      {"hover without a press commands nothing", M::vcmmDrag, true, true, {{Move, 10, 10}}, {}, 0},
      {"keys", M::vcmmDrag, true, true, {{KeyDn, 0, 0, vk::Left}, {KeyUp, 0, 0, vk::Left}, {KeyDn, 0, 0, vk::Space}, {KeyUp, 0, 0, vk::Space}}, {"Left", "LeftStop", "Center"}, 1},
      {"no move access", M::vcmmToCursor, true, false, {{Down, 20, 200}, {Up, 20, 200}}, {}, 0},
      {"not playing", M::vcmmToCursor, false, true, {{Down, 20, 200}, {KeyDn, 0, 0, vk::Up}}, {}, 0},
      {"mode none", M::vcmmNone, true, true, {{Down, 20, 200}, {KeyDn, 0, 0, vk::Up}}, {}, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    TRig rig;
    rig.Cam.Playing = c.Playing;
    if (!c.MoveAccess) rig.Cam.Methods = {TKzCamMethod::kzcm_VideoStream};
    rig.View->SetCamMoveMode(c.Mode);
    int begins = 0;
    rig.View->OnBeginMove = [&](TComponent* s) {
      EXPECT_EQ(s, &rig.Cam);
      ++begins;
    };
    for (const TStep& s : c.Steps) {
      uint16_t key = s.Key;
      char32_t ch = 0;
      switch (s.Act) {
        case Down:
          rig.View->MouseDown(TMouseButton::mbLeft, ssLeft, s.X, s.Y);
          break;
        case Move:
          rig.View->MouseMove(ssLeft, s.X, s.Y);
          break;
        case Up:
          rig.View->MouseUp(TMouseButton::mbLeft, 0, s.X, s.Y);
          break;
        case Leave:
          rig.View->DoMouseLeave();
          break;
        case KeyDn:
          rig.View->KeyDown(key, ch, 0);
          break;
        case KeyUp:
          rig.View->KeyUp(key, ch, 0);
          break;
      }
    }
    EXPECT_EQ(rig.Cam.Commands, c.Expected) << c.Name;
    EXPECT_EQ(begins, c.BeginMoves) << c.Name;
    EXPECT_FALSE(rig.View->CommandedDirections().Any()) << c.Name;
  }
}

TEST(CamViewMove, DoneControlReportsAndRepeatsAHeldPress) {
  TRig rig;
  rig.View->SetCamMoveMode(TKzCamMoveMode::vcmmToCursor);
  std::vector<int32_t> ends;
  rig.View->OnEndMove = [&](TComponent*, int32_t s) { ends.push_back(s); };
  rig.View->MouseDown(TMouseButton::mbLeft, ssLeft, 380, 200);
  rig.View->ViewerDoneControl(&rig.Cam, 0);
  rig.View->MouseUp(TMouseButton::mbLeft, 0, 380, 200);
  rig.View->ViewerDoneControl(&rig.Cam, 1);
  EXPECT_EQ(rig.Cam.Commands, (std::vector<std::string>{"Right", "Right", "RightStop"}));
  EXPECT_EQ(ends, (std::vector<int32_t>{0, 1}));
}

// ---- Timers and panels (virtual clock)

TEST(CamViewTimers, WaitAnimationAfterItsDelayOrAtOnceOnAnOutageStopsOnTheNextFrame) {
  TKzVirtualClockScope clock;
  TRig rig;
  rig.View->SetWaitAnimationDelay(3000);
  rig.View->ViewerBeginVideoStream(&rig.Cam);
  auto settle = [] {
    for (int i = 0; i < 3; ++i) Application().ProcessMessages();
  };
  clock.Clock.Advance(2999);
  settle();
  EXPECT_FALSE(rig.View->IsWaitAnimationPlaying());
  clock.Clock.Advance(1);
  settle();
  ASSERT_TRUE(rig.View->IsWaitAnimationPlaying());
  ASSERT_NE(rig.View->WaitAnimationCounter(), nullptr);
  EXPECT_EQ(rig.View->WaitAnimationCounter()->CurrentStep(), 0);
  for (int i = 1; i <= 3; ++i) {
    clock.Clock.Advance(100);
    settle();
  }
  EXPECT_EQ(rig.View->WaitAnimationCounter()->CurrentStep(), 3);
  // The animation is drawn where the "No Video" text would be.
  rig.Form.PaintPending();
  const TRect a = rig.View->GetWaitAnimationRect();
  int dots = 0;
  for (int y = a.Top; y < a.Bottom; ++y)
    for (int x = a.Left; x < a.Right; ++x) dots += rig.Px(x, y) != kBack;
  EXPECT_GT(dots, 20);
  // A frame arrives: its repaint message stops the animation.
  rig.Deliver(Solid(8, 8, kRed));
  ASSERT_TRUE(PumpUntil([&] { return !rig.View->IsWaitAnimationPlaying(); }, 5000));
  // An outage shows it at once, until the next frame ...
  rig.Paint();  // the first frame is taken; the next one is not dropped
  rig.View->ViewerReconnecting(&rig.Cam, 1);
  EXPECT_TRUE(rig.View->IsWaitAnimationPlaying());
  rig.Deliver(Solid(8, 8, kGreen));
  ASSERT_TRUE(PumpUntil([&] { return !rig.View->IsWaitAnimationPlaying(); }, 5000));
  // ... which restarts the stall detector.
  clock.Clock.Advance(3000);
  settle();
  EXPECT_TRUE(rig.View->IsWaitAnimationPlaying());
  rig.View->ViewerDoneVideoStream(&rig.Cam, 0);
  EXPECT_FALSE(rig.View->IsWaitAnimationPlaying());
  EXPECT_FALSE(rig.View->HasImage());
  rig.View->ViewerReconnecting(&rig.Cam, 1);  // a stream that ended has no outage
  EXPECT_FALSE(rig.View->IsWaitAnimationPlaying());
}

TEST(CamViewTimers, FrameTimeOutFallsBackToTheBackgroundOnlyWithoutRememberLastFrame) {
  for (bool remember : {true, false}) {
    TKzVirtualClockScope clock;
    TRig rig;
    rig.View->SetRememberLastFrame(remember);
    rig.View->SetViewMode(TKzCamViewMode::vvmStretch);
    rig.Deliver(Solid(8, 8, kRed));
    // The repaint message starts the frame timer.
    ASSERT_TRUE(PumpUntil([&] { return rig.View->IsWaitingForVideoFrame(); }, 5000));
    rig.Paint();
    for (int i = 0; i < 3; ++i) {
      clock.Clock.Advance(5000);
      Application().ProcessMessages();
    }
    rig.Form.PaintPending();
    EXPECT_EQ(rig.View->HasImage(), remember) << remember;
    EXPECT_EQ(rig.Px(200, 200), remember ? kRed : kBack) << remember;
  }
}

TEST(CamViewPanel, SearchPanelShowsTheAddressAndItsAbortButtonAbortsTheSource) {
  TRig rig;
  rig.Cam.Host = "10.0.0.5";
  rig.Cam.Port = 8080;
  int clicks = 0;
  rig.View->OnButtonAbortClick = [&](TComponent*) { ++clicks; };
  rig.View->ViewerSearchCamera(&rig.Cam);
  ASSERT_TRUE(rig.View->CameraSearchPanelVisible());
  EXPECT_EQ(rig.View->CameraSearchText(), "Accessing camera at 10.0.0.5:8080...");
  rig.Form.PaintPending();
  const TRect panel = rig.View->GetRectCameraSearch();
  EXPECT_EQ(rig.Px(panel.Left + 2, panel.Top + 2), rig.View->CaptionColor());
  const TRect b = rig.View->GetAbortButtonRect();
  ASSERT_FALSE(b.IsEmpty());
  ASSERT_TRUE(b.Left >= panel.Left && b.Right <= panel.Right && b.Top >= panel.Top && b.Bottom <= panel.Bottom);
  const float bx = (b.Left + b.Right) / 2.0f, by = (b.Top + b.Bottom) / 2.0f;
  // Pressed on the button, released elsewhere: nothing.
  rig.View->MouseDown(TMouseButton::mbLeft, ssLeft, bx, by);
  rig.View->MouseUp(TMouseButton::mbLeft, 0, 5, 5);
  EXPECT_EQ(rig.Cam.Aborts, 0);
  rig.View->MouseDown(TMouseButton::mbLeft, ssLeft, bx, by);
  rig.View->MouseUp(TMouseButton::mbLeft, 0, bx, by);
  EXPECT_EQ(rig.Cam.Aborts, 1);
  EXPECT_EQ(clicks, 1);
  rig.View->ViewerDoneSearchCamera(&rig.Cam, 0);
  EXPECT_FALSE(rig.View->CameraSearchPanelVisible());
  // Attaching to a camera that is searching shows the panel at once.
  TFakeCamera searching;
  searching.Host = "cam";
  searching.IsSearching = true;
  rig.View->SetLanguage(TKzMLanguage::kzmlSpanish);
  rig.View->SetVideoSource(&searching);
  EXPECT_TRUE(rig.View->CameraSearchPanelVisible());
  EXPECT_EQ(rig.View->CameraSearchText(), "Conectando a cam...");
  rig.View->SetVideoSource(nullptr);
}

TEST(CamViewPanel, OptimalResolutionFollowsTheVideoRectangleExceptForFiles) {
  TRig rig;
  rig.View->SetUseOptimalVideoResolution(true);
  EXPECT_EQ(rig.Cam.VideoResolution(), TKzVideoResolution::kz640_480);  // 400 x 400
  rig.View->SetSize(200, 150);
  EXPECT_EQ(rig.Cam.VideoResolution(), TKzVideoResolution::kz320_240);
  rig.Cam.FilePlaying = true;
  rig.View->SetSize(400, 400);
  EXPECT_EQ(rig.Cam.VideoResolution(), TKzVideoResolution::kz320_240);
}

// ---- Full screen and copies

TEST(CamViewFullScreen, WindowCopiesTheViewAndClosingCopiesTheFrameBack) {
  TRig rig;
  rig.View->SetTitle("Gate");
  rig.View->SetViewMode(TKzCamViewMode::vvmCut);
  std::vector<bool> events;
  rig.View->OnFullScreen = [&](TComponent*, bool show) { events.push_back(show); };
  rig.Deliver(Solid(16, 16, kRed));
  rig.Paint();
  rig.View->SetFullScreen(true);
  TKzCamView* fs = rig.View->FullScreenView();
  ASSERT_NE(fs, nullptr);
  ASSERT_NE(rig.View->FullScreenForm(), nullptr);
  EXPECT_TRUE(rig.View->FullScreenForm()->Showing());
  EXPECT_TRUE(rig.View->IsFullScreenMode());
  EXPECT_EQ(fs->Title(), "Gate");
  EXPECT_EQ(fs->ViewMode(), TKzCamViewMode::vvmCut);
  EXPECT_EQ(fs->VideoSource(), &rig.Cam);
  EXPECT_TRUE(fs->HasImage());
  EXPECT_EQ(rig.Cam.Consumers().CamViews.size(), 2u);
  // The window takes a new frame; Escape closes it; the frame comes back.
  rig.View->FullScreenForm()->PaintPending();
  fs->ViewerGetImageBMP(&rig.Cam, Solid(16, 16, kGreen), true, 0, TGUID{});
  EXPECT_EQ(fs->GetLastFrame().Pixel(0, 0), kGreen);
  uint16_t key = vk::Escape;
  char32_t ch = 0;
  fs->KeyDown(key, ch, 0);
  ASSERT_TRUE(PumpUntil([&] { return rig.View->FullScreenForm() == nullptr; }, 5000));
  EXPECT_FALSE(rig.View->IsFullScreenMode());
  EXPECT_EQ(rig.Cam.Consumers().CamViews.size(), 1u);
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
  rig.View->SetViewMode(TKzCamViewMode::vvmStretch);
  rig.Form.PaintPending();
  EXPECT_EQ(rig.Px(200, 200), kGreen);
}

TEST(CamViewLifecycle, SourceFreedFirstDetachesTheView) {
  TRig rig;
  {
    TFakeCamera cam;
    rig.View->SetVideoSource(&cam);
    EXPECT_EQ(rig.View->GetCamera(), static_cast<IKzCamViewSource*>(&cam));
  }
  EXPECT_EQ(rig.View->VideoSource(), nullptr);
  EXPECT_EQ(rig.View->GetCamera(), nullptr);
  rig.Paint();
}

// A real pipeline: application frames at a high rate reach a view that is
// painted by the main loop; the view is destroyed while frames still come.
TEST(CamViewLifecycle, ViewDestroyedWhileTheDrawThreadDeliversEndsCleanly) {
  TKzCamera cam(nullptr);
  cam.SetDeviceType(TKzDeviceType::kzdtUserData);
  cam.SetFramePerSec(200);
  int n = 0;
  cam.OnNeedData = [&](TComponent*, TKzMBitmap* b) -> uint32_t {
    b->SetSize(64, 48);
    std::fill(b->Data(), b->Data() + b->GetLength(), (++n & 1) ? kRed : kBlue);
    return 1;
  };
  TForm form(nullptr);
  form.SetSize(320, 240);
  for (int round = 0; round < 3; ++round) {
    auto* view = new TKzCamView(&form);
    view->SetParent(&form);
    view->SetAlign(TAlignLayout::Client);
    view->SetCaptionParts({TKzCameraCaptionPart::kzccpTime});
    form.Show();
    form.PaintPending();
    view->SetVideoSource(&cam);
    if (round == 0) cam.PlayVideoStream();
    ASSERT_TRUE(PumpUntil(
        [&] {
          form.PaintPending();
          bool has;
          int32_t count, h, w, pending;
          view->GetLastImageInfo(has, count, h, w, pending);
          return count >= 5;
        },
        10000))
        << round;
    EXPECT_EQ(view->GetCamera(), static_cast<IKzCamViewSource*>(&cam));
    delete view;
    PumpUntil([] { return false; },
              30);  // messages posted to the freed view are dropped
  }
  cam.Abort();
  cam.WaitForVideo();
}

// ---- Decoding at the shown size

TEST(CamViewDecodeSize, AsksForItsVideoRectangleAndMapsASmallerDecodeToTheSource) {
  TRig rig(480, 270);
  const struct {
    TKzCamViewMode Mode;
    bool AutoSize;
    TKzDecodeSize Want;
  } rows[] = {{TKzCamViewMode::vvmAspect, false, {480, 270}}, {TKzCamViewMode::vvmCut, false, {480, 270}},
              {TKzCamViewMode::vvmNormal, false, {}},         {TKzCamViewMode::vvmAspect, true, {}}};
  for (const auto& r : rows) {
    rig.View->SetViewMode(r.Mode);
    rig.View->SetAutoSize(r.AutoSize);
    EXPECT_EQ(rig.View->DecodeSizeRequest(), r.Want) << int(r.Mode) << " " << r.AutoSize;
  }
  // A 4:3 source fitted into the 16:9 view asks for the fitted rectangle.
  rig.View->SetAutoSize(false);
  rig.Deliver(Solid(640, 480, kRed));
  EXPECT_EQ(rig.View->DecodeSizeRequest(), (TKzDecodeSize{360, 270}));
  // A quarter-size decode of a 1920 x 1080 source: geometry stays the source's.
  TKzMBitmap quarter = Solid(480, 270, kGreen);
  quarter.SetSourceSize(1920, 1080);
  rig.Paint();
  rig.Deliver(quarter);
  EXPECT_EQ(Str(rig.View->SourceToControlRect(TRect(960, 540, 1920, 1080))), Str(TRect(240, 135, 480, 270)));
  rig.View->SetViewMode(TKzCamViewMode::vvmNormal);
  EXPECT_EQ(Str(rig.View->GetVideoRect()), Str(TRect(0, 0, 1920, 1080)));
  rig.View->SetViewMode(TKzCamViewMode::vvmAspect);
  rig.Paint();
  EXPECT_EQ(rig.Px(470, 260), kGreen);
  // Full screen: the window's view asks, the view it stands in for does not.
  rig.View->SetFullScreen(true);
  ASSERT_NE(rig.View->FullScreenView(), nullptr);
  EXPECT_EQ(rig.Cam.Consumers().WantedDecodeSize(), rig.View->FullScreenView()->DecodeSizeRequest());
  rig.View->SetFullScreen(false);
  EXPECT_EQ(rig.Cam.Consumers().WantedDecodeSize(), (TKzDecodeSize{480, 270}));
}
