// The wall of views, headless: a form of the headless host holds the wall
// and its pixels are read back after painting. Selection and main viewers,
// geometry on resize (anchors, scaling, docking), audio strips, input
// routed to the cell, frame rates on selection, repaint batching by the
// virtual clock, the full-screen copy, and cells that keep taking frames
// from draw threads while the wall changes.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "camera/fmxMKzCamControl.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/video/kzcamviewdoubles.h"
#include "video/fmxMKzCamMultiView.h"

using namespace kz;
using kztest::Solid;
using kztest::TFakeCamera;

namespace {

constexpr TAlphaColor kBack = 0xFF101010u;
constexpr TAlphaColor kCell = 0xFF303030u;

// Counts its paints and when they happened.
class TCountingWall : public TKzCamMultiView {
public:
  using TKzCamMultiView::TKzCamMultiView;
  std::vector<uint64_t> PaintTimes;

protected:
  void PaintContent(TCanvas& Canvas) override {
    PaintTimes.push_back(KzMGetTickCount());
    TKzCamMultiView::PaintContent(Canvas);
  }
};

// A shown headless form with a wall of N cells in a row (each 100 x 80,
// no captions), each with its own camera.
struct TWallRig {
  explicit TWallRig(int N, int W = 800, int H = 400) {
    Form.SetSize(W, H);
    Wall = new TCountingWall(&Form);
    Wall->SetParent(&Form);
    Wall->SetBounds(0, 0, W, H);
    Wall->SetColor(kBack);
    Wall->SetViewerColor(kCell);
    for (int i = 0; i < N; ++i) {
      Cams.push_back(std::make_unique<TFakeCamera>());
      TKzCamViewItem& c = Wall->Viewers().Add();
      c.SetBounds(i * 100, 0, 100, 80);
      c.SetShowCaption(false);
      c.Viewer()->SetShowFrameRect(false);
      c.SetVideoSource(Cams.back().get());
    }
    Form.Show();
    Pump();
  }
  ~TWallRig() {
    delete Wall;
    Application().ProcessMessages();
  }
  void Pump() {
    Application().ProcessMessages();
    Form.PaintPending();
  }
  // Until the posted messages and queued work have all been handled.
  void Settle() {
    PumpUntil([] { return PendingMainThreadWork() == 0 && KzMessages().QueuedCount() == 0; }, 5000);
    Form.PaintPending();
  }
  uint32_t Px(int X, int Y) const { return Form.Surface().Row(Y)[X]; }
  TKzCamView& View(int I) { return *Wall->Viewers()[I].Viewer(); }

  std::vector<std::unique_ptr<TFakeCamera>> Cams;  // outlive the form's views
  TForm Form{nullptr};
  TCountingWall* Wall;
};

}  // namespace

// ---- Selection

TEST(MultiViewSelect, IndexIsClampedAndMainViewersAreNeverSelected) {
  TWallRig rig(4);
  auto& w = *rig.Wall;
  w.SetViewerIndex(10);
  EXPECT_EQ(w.ViewerIndex(), 3);
  EXPECT_TRUE(rig.View(3).IsInFocus());
  w.SetViewerIndex(-1);
  EXPECT_EQ(w.ViewerIndex(), 0);
  EXPECT_FALSE(rig.View(3).IsInFocus());
  w.Viewers()[3].SetMainViewer(true);
  w.SetViewerIndex(10);
  EXPECT_EQ(w.ViewerIndex(), 0) << "the last cell is a main viewer: nothing changes";

  // Keys select among the selectable cells, wrapping; the focus follows.
  struct {
    uint16_t Key;
    TShiftState Shift;
    int Expected;
  } keys[] = {{vk::End, 0, 2}, {vk::Right, 0, 0}, {vk::Left, 0, 2}, {vk::Up, 0, 1}, {vk::Home, 0, 0},
              {vk::Down, 0, 1}, {vk::Right, ssCtrl, 1}};  // Ctrl+arrow goes to the camera, not the selection
  for (const auto& k : keys) {
    uint16_t key = k.Key;
    char32_t ch = 0;
    w.KeyDown(key, ch, k.Shift);
    EXPECT_EQ(w.ViewerIndex(), k.Expected) << k.Key;
    EXPECT_EQ(w.GetActiveViewer(), k.Expected);
  }

  for (int i = 0; i < 4; ++i) w.Viewers()[i].SetMainViewer(true);
  EXPECT_EQ(w.GetFirstViewer(), -1);
  EXPECT_EQ(w.GetNextViewer(0), -1);
  const int before = w.ViewerIndex();
  for (uint16_t key : {vk::Left, vk::Right, vk::Home, vk::End}) {
    char32_t ch = 0;
    w.KeyDown(key, ch, 0);
  }
  EXPECT_EQ(w.ViewerIndex(), before);
}

TEST(MultiViewSelect, MainViewerShowsTheSelectedSourceAndRefusesFocusAndTheSelectedCellGetsItsRate) {
  TWallRig rig(3);
  auto& w = *rig.Wall;
  w.Viewers()[0].SetMainViewer(true);
  w.Viewers()[0].SetFramePerSec(25);
  for (int i : {1, 2}) {
    w.Viewers()[i].SetUseFramePerSec(true);
    w.Viewers()[i].SetFramePerSec(2);
    rig.Cams[i]->SetFramePerSec(2);
  }
  int selected = -1;
  w.OnSelectViewer = [&](TComponent*, TKzCamView*, int32_t Index) { selected = Index; };
  rig.Cams[2]->Deliver(Solid(100, 80, 0xFFFF0000u));
  rig.Pump();
  w.SetViewerIndex(2);
  rig.Pump();
  EXPECT_EQ(selected, 2);
  EXPECT_EQ(rig.View(0).VideoSource(), rig.Cams[2].get());
  EXPECT_EQ(rig.Cams[2]->FramePerSec(), 25) << "the main viewer's rate while selected";
  EXPECT_EQ(rig.Px(50, 40), 0xFFFF0000u) << "the main viewer copies the selected cell's last frame";
  // A click on the main viewer leaves the selection where it was.
  rig.Form.HostMouseDown(TMouseButton::mbLeft, 0, 50, 40, false);
  rig.Form.HostMouseUp(TMouseButton::mbLeft, 0, 50, 40);
  EXPECT_EQ(w.ViewerIndex(), 2);
  EXPECT_FALSE(rig.View(0).IsInFocus());
  EXPECT_TRUE(rig.View(2).IsInFocus());
  // The main viewer gets the selected source's next frames by itself.
  rig.Cams[2]->Deliver(Solid(100, 80, 0xFF00FF00u));
  rig.Pump();
  EXPECT_EQ(rig.Px(50, 40), 0xFF00FF00u);
  // A click on another cell selects it, and the main viewer follows.
  rig.Form.HostMouseDown(TMouseButton::mbLeft, 0, 150, 40, false);
  rig.Form.HostMouseUp(TMouseButton::mbLeft, 0, 150, 40);
  EXPECT_EQ(w.ViewerIndex(), 1);
  EXPECT_EQ(rig.View(0).VideoSource(), rig.Cams[1].get());
  EXPECT_EQ(rig.Cams[1]->FramePerSec(), 25);
  EXPECT_EQ(rig.Cams[2]->FramePerSec(), 2) << "its own rate again";
}

TEST(MultiViewSelect, CameraControlFollowsTheSelectedCamera) {
  TWallRig rig(0);
  TKzCamera a(nullptr), b(nullptr);
  TKzCamControl panel(nullptr);
  auto& w = *rig.Wall;
  w.Viewers().Add().SetVideoSource(&a);
  w.Viewers().Add().SetVideoSource(&b);
  w.SetCameraControl(&panel);
  w.SetViewerIndex(0);
  EXPECT_EQ(panel.Cameras(), std::vector<TKzCamera*>{&a});
  w.SetViewerIndex(1);
  EXPECT_EQ(panel.Cameras(), std::vector<TKzCamera*>{&b});
  w.Viewers().Clear();
}

// ---- Geometry

TEST(MultiViewLayout, AnchorsScalingAndDockingOnResize) {
  using A = TKzMAnchor;
  struct {
    TKzMAnchors Anchors;
    bool Scale;
    TRect At300;  // 10..150 x 10..50 in a 200 x 100 wall that grows to 300 x 150
  } cases[] = {
      {{A::kzmaLeft, A::kzmaTop, A::kzmaRight}, false, {10, 10, 250, 50}},
      {{A::kzmaRight, A::kzmaTop}, false, {110, 10, 250, 50}},
      {{A::kzmaTop}, false, {50, 10, 190, 50}},  // centre kept: (10 + 150) * 300 / 400 = 120
      {{A::kzmaLeft, A::kzmaTop}, false, {10, 10, 150, 50}},
      {{A::kzmaLeft, A::kzmaBottom}, false, {10, 60, 150, 100}},
      {{A::kzmaLeft, A::kzmaTop}, true, {15, 15, 225, 75}},
  };
  for (const auto& c : cases) {
    TWallRig rig(0, 200, 100);
    auto& w = *rig.Wall;
    w.SetScaleViewers(c.Scale);
    TKzCamViewItem& item = w.Viewers().Add();
    item.SetAnchors(c.Anchors);
    item.SetBounds(10, 10, 140, 40);
    w.SetSize(300, 150);
    EXPECT_EQ(item.BoundsRect(), c.At300) << c.Anchors.Bits() << " scale " << c.Scale;
    // Many odd sizes and back: the reference bounds keep it from creeping.
    for (int k = 0; k < 50; ++k) w.SetSize(201 + k * 7, 101 + k * 3);
    w.SetSize(300, 150);
    EXPECT_EQ(item.BoundsRect(), c.At300);
    w.SetSize(200, 100);
    EXPECT_EQ(item.BoundsRect(), TRect(10, 10, 150, 50));
    EXPECT_DOUBLE_EQ(item.PrRight(), 0.75);
  }

  // Docking in collection order inside what is left.
  TWallRig rig(0, 300, 200);
  auto& w = *rig.Wall;
  const TKzAlignVideoViewer order[] = {TKzAlignVideoViewer::kzavvTop, TKzAlignVideoViewer::kzavvLeft,
                                       TKzAlignVideoViewer::kzavvBottom, TKzAlignVideoViewer::kzavvClient};
  for (auto a : order) {
    TKzCamViewItem& item = w.Viewers().Add();
    item.SetBounds(0, 0, 50, 30);
    item.SetAlignVideoViewer(a);
  }
  w.SetSize(400, 300);
  const TRect expected[] = {{0, 0, 400, 30}, {0, 30, 50, 300}, {50, 270, 400, 300}, {50, 30, 400, 270}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(w.Viewers()[i].BoundsRect(), expected[i]) << i;
}

TEST(MultiViewLayout, TopmostCellUnderThePointAndAudioStripsTenPixelsThick) {
  TWallRig rig(2);
  auto& w = *rig.Wall;
  w.Viewers()[1].SetBounds(50, 20, 100, 80);  // over half of cell 0
  EXPECT_EQ(w.GetViewerAt(60, 30), 1);
  EXPECT_EQ(w.GetViewerAt(20, 30), 0);
  EXPECT_EQ(w.GetViewerAt(20, 90), -1);

  // Each strip side: a point inside the strip and one just past it.
  constexpr TAlphaColor kStrip = 0xFF00FFFFu;
  struct {
    TKzAlignAudioViewer Align;
    int InX, InY, OutX, OutY;
  } sides[] = {{TKzAlignAudioViewer::kzaavTop, 50, 309, 50, 310},
               {TKzAlignAudioViewer::kzaavBottom, 50, 370, 50, 369},
               {TKzAlignAudioViewer::kzaavLeft, 9, 340, 10, 340},
               {TKzAlignAudioViewer::kzaavRight, 90, 340, 89, 340}};
  TKzCamViewItem& cell = w.Viewers()[0];
  cell.SetBounds(0, 300, 100, 80);
  cell.SetAudioViewerColor(kStrip);
  cell.SetAudioViewer(true);
  for (const auto& s : sides) {
    cell.SetAlignAudioViewer(s.Align);
    rig.Pump();
    EXPECT_EQ(rig.Px(s.InX, s.InY), kStrip) << int(s.Align);
    EXPECT_EQ(rig.Px(s.OutX, s.OutY), kCell) << int(s.Align);
  }
  cell.SetAlignAudioViewer(TKzAlignAudioViewer::kzaavClient);
  rig.Pump();
  EXPECT_EQ(rig.Px(50, 340), kStrip) << "an audio-only cell";
}

TEST(MultiViewLayout, AudioStripShowsTheLevelsOfItsSender) {
  TWallRig rig(1);
  auto& w = *rig.Wall;
  struct TLevels : TComponent, IKzAudioLevelSource {
    TLevels() : TComponent(nullptr) {}
    void RegisterAudioViewer(IKzAudioViewer* V) override { Viewers.push_back(V); }
    void UnRegisterAudioViewer(IKzAudioViewer* V) override { std::erase(Viewers, V); }
    std::vector<IKzAudioViewer*> Viewers;
  } levels;
  w.SetAudioSource(&levels);
  w.SetAudioViewerStyle(TKzMicrophoneStyle::kzmpsSimple);
  TKzCamViewItem& cell = w.Viewers()[0];
  cell.SetAudioViewerColor(0xFFFFFFFFu);
  cell.SetAlignAudioViewer(TKzAlignAudioViewer::kzaavBottom);
  cell.SetAudioViewer(true);
  ASSERT_EQ(levels.Viewers.size(), 1u);
  cell.SetGUIDFrom(GUIDToStringA(TGUID{1}));
  levels.Viewers[0]->ViewerSetAudioLevelFrom(&levels, TGUID{2}, 256);  // another sender: ignored
  rig.Settle();
  EXPECT_EQ(rig.Px(10, 75), 0xFFFFFFFFu);
  levels.Viewers[0]->ViewerSetAudioLevelFrom(&levels, TGUID{1}, 192);  // half scale
  rig.Settle();
  EXPECT_NE(rig.Px(10, 75), 0xFFFFFFFFu);
  EXPECT_NE(rig.Px(45, 75), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Px(55, 75), 0xFFFFFFFFu);
  w.SetAudioSource(nullptr);
  EXPECT_TRUE(levels.Viewers.empty());
}

TEST(MultiViewLayout, ContentBeyondTheWallScrollsWithTheWheelAndHasABar) {
  TWallRig rig(1, 200, 100);
  auto& w = *rig.Wall;
  w.Viewers()[0].SetBounds(0, 150, 100, 80);  // below the wall's bottom
  EXPECT_EQ(w.MaxScroll().Y, 130);
  EXPECT_FALSE(w.VertScrollBarRect().IsEmpty());
  rig.Form.HostMouseWheel(0, -240, 50, 50);  // two notches towards the user
  rig.Pump();
  EXPECT_EQ(w.ScrollPos().Y, 2 * TScrollBox::WheelStep);
  EXPECT_EQ(rig.Px(50, 150 - 96 + 10), kCell) << "the cell moved up with the content";
  EXPECT_EQ(rig.Px(50, 150 - 96 - 2), kBack);
  EXPECT_EQ(w.GetViewerAt(50, 160), 0) << "cells are found in content coordinates";
}

// ---- Input

TEST(MultiViewInput, PressInACellCommandsItsCameraInTheCellsCoordinates) {
  TWallRig rig(2);
  rig.Wall->Viewers()[1].SetBounds(300, 100, 200, 150);
  rig.Pump();
  // 10 pixels in from the cell's left edge, at its middle height: left of
  // the cell's centre, though right of the wall's.
  rig.Form.HostMouseDown(TMouseButton::mbLeft, 0, 310, 175, false);
  rig.Form.HostMouseUp(TMouseButton::mbLeft, 0, 310, 175);
  EXPECT_EQ(rig.Cams[1]->Commands, (std::vector<std::string>{"Left", "LeftStop"}));
  EXPECT_TRUE(rig.Cams[0]->Commands.empty());
  EXPECT_EQ(rig.Wall->ViewerIndex(), 1);
  // Moving a cell by its caption with the default drag mode.
  auto& cell = rig.Wall->Viewers()[1];
  cell.SetShowCaption(true);
  rig.Form.HostMouseDown(TMouseButton::mbLeft, 0, 320, 105, false);
  rig.Form.HostMouseMove(ssLeft, 340, 125);
  rig.Form.HostMouseUp(TMouseButton::mbLeft, 0, 340, 125);
  EXPECT_EQ(cell.BoundsRect(), TRect(320, 120, 520, 270));
  EXPECT_EQ(cell.OriginalBounds(), TRect(320, 120, 520, 270));
}

// ---- Repaints

TEST(MultiViewRefresh, RefreshRateBatchesRepaintsAndNoCellFreezes) {
  for (int rate : {4, 0, 10}) {
    TKzVirtualClockScope clock;
    TWallRig rig(16, 1600, 400);
    for (int i = 0; i < 16; ++i) rig.Wall->Viewers()[i].SetBounds((i % 8) * 100, (i / 8) * 100, 100, 80);
    rig.Wall->SetRefreshRate(rate);
    rig.Pump();
    rig.Wall->PaintTimes.clear();
    const int frames = rate == 4 ? 100 : 1000;
    for (int f = 0; f < frames; ++f) {
      const TKzMBitmap frame = Solid(100, 80, 0xFF000000u | static_cast<uint32_t>(f + 1));
      for (auto& cam : rig.Cams) cam->Deliver(frame);
      clock.Clock.Advance(40);  // 25 frames a second
      rig.Settle();
    }
    // Whatever is still on its way arrives; then one more frame must reach
    // every cell.
    PumpUntil([&] { return PendingMainThreadWork() == 0 && KzMessages().QueuedCount() == 0; }, 5000);
    const auto& t = rig.Wall->PaintTimes;
    ASSERT_FALSE(t.empty());
    if (rate > 0) {
      for (size_t k = 1; k < t.size(); ++k) EXPECT_GE(t[k] - t[k - 1], 1000u / rate) << "rate " << rate;
    }
    constexpr TAlphaColor kLast = 0xFFABCDEFu;
    const TKzMBitmap last = Solid(100, 80, kLast);
    for (auto& cam : rig.Cams) cam->Deliver(last);
    auto allShowLast = [&] {
      clock.Clock.Advance(10);
      rig.Form.PaintPending();
      for (int i = 0; i < 16; ++i)
        if (rig.Px(rig.Wall->Viewers()[i].Left() + 50, rig.Wall->Viewers()[i].Top() + 40) != kLast) return false;
      return true;
    };
    EXPECT_TRUE(PumpUntil(allShowLast, 5000)) << "rate " << rate;
    // With RefreshRate 0 (nearly) every frame is painted (a release still
    // on its way drops one now and then); batched, every tick paints the
    // cell's newest frame.
    for (int i = 0; i < 16; ++i)
      EXPECT_GE(rig.Wall->Viewers()[i].FramesPainted(), (rate == 0 ? uint64_t(frames) : t.size()) * 9 / 10)
          << "cell " << i;
  }
}

// ---- Full screen

TEST(MultiViewFullScreen, CopyShowsTheCellsAndClosingCopiesTheLastFramesBack) {
  TWallRig rig(3);
  auto& w = *rig.Wall;
  std::vector<bool> events;
  w.OnFullScreen = [&](TComponent*, bool Show) { events.push_back(Show); };
  rig.Cams[1]->Deliver(Solid(100, 80, 0xFFFF0000u));
  rig.Settle();
  const TKzDecodeSize inWall = rig.Cams[1]->Consumers().WantedDecodeSize();
  EXPECT_EQ(inWall, w.Viewers()[1].Viewer()->DecodeSizeRequest());
  w.SetFullScreen(true);
  rig.Settle();
  TKzCamMultiView* copy = w.FullScreenMultiView();
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Viewers().Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(copy->Viewers()[i].VideoSource(), rig.Cams[i].get());
  // Decoding follows the copy's cells while the window is open.
  EXPECT_EQ(rig.Cams[1]->Consumers().WantedDecodeSize(), copy->Viewers()[1].Viewer()->DecodeSizeRequest());
  EXPECT_TRUE(copy->Viewers()[1].Viewer()->HasImage());
  // Frames go to the copy only.
  rig.Cams[1]->Deliver(Solid(100, 80, 0xFF0000FFu));
  rig.Settle();
  EXPECT_EQ(w.Viewers()[1].FramesArrived(), 1u);
  EXPECT_EQ(copy->Viewers()[1].FramesArrived(), 1u);
  // Escape in the copy closes the window.
  uint16_t key = vk::Escape;
  char32_t ch = 0;
  copy->KeyDown(key, ch, 0);
  rig.Settle();
  EXPECT_EQ(w.FullScreenMultiView(), nullptr);
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
  EXPECT_EQ(rig.Px(150, 40), 0xFF0000FFu) << "the copy's last frame came back";
  EXPECT_EQ(rig.Cams[1]->Consumers().CamViews.size(), 1u);
  EXPECT_EQ(rig.Cams[1]->Consumers().WantedDecodeSize(), inWall);
}

// ---- Threads

TEST(MultiViewThreads, CellsKeepTakingFramesWhileTheWallChanges) {
  constexpr int kCells = 36;
  TWallRig rig(0, 1200, 600);
  auto& w = *rig.Wall;
  std::vector<std::unique_ptr<TFakeCamera>> cams;
  for (int i = 0; i < kCells; ++i) {
    cams.push_back(std::make_unique<TFakeCamera>());
    TKzCamViewItem& c = w.Viewers().Add();
    c.SetBounds((i % 6) * 200, (i / 6) * 100, 200, 100);
    c.SetVideoSource(cams.back().get());
  }
  w.SetScaleViewers(true);
  w.Viewers()[0].SetMainViewer(true);
  w.SetViewerIndex(1);
  std::atomic<bool> stop{false};
  std::vector<std::thread> drawThreads;
  for (int t = 0; t < 4; ++t) {
    drawThreads.emplace_back([&, t] {
      const TKzMBitmap frame = Solid(160, 120, 0xFF000000u | static_cast<uint32_t>(t * 40));
      while (!stop.load()) {  // about 25 frames a second per camera
        for (int i = t; i < kCells; i += 4) cams[static_cast<size_t>(i)]->Deliver(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
      }
    });
  }
  for (int round = 0; round < 30; ++round) {
    w.SetSize(1200 - (round % 7) * 40, 600 - (round % 5) * 30);
    if (round % 3 == 0) {  // a cell goes, another comes
      w.Viewers().Delete(5 + round % 20);
      w.Viewers().Add().SetVideoSource(cams[static_cast<size_t>(round % kCells)].get());
    }
    // Two cells swap sources.
    TKzCamViewItem& a = w.Viewers()[2 + round % 10];
    TKzCamViewItem& b = w.Viewers()[20 + round % 10];
    TKzVideoSource* s = a.VideoSource();
    a.SetVideoSource(b.VideoSource());
    b.SetVideoSource(s);
    if (round % 10 == 4) w.SetFullScreen(true);
    if (round % 10 == 7) w.SetFullScreen(false);
    w.SetViewerIndex(1 + round % 30);
    w.SetRefreshRate(round % 2 ? 10 : 0);
    rig.Pump();
  }
  // Every cell still takes frames.
  std::vector<uint64_t> before;
  for (int i = 0; i < w.Viewers().Count(); ++i) before.push_back(w.Viewers()[i].FramesArrived());
  const bool allMoving = PumpUntil(
      [&] {
        for (int i = 0; i < w.Viewers().Count(); ++i)
          if (w.Viewers()[i].VideoSource() && w.Viewers()[i].FramesArrived() <= before[static_cast<size_t>(i)] + 2)
            return false;
        return true;
      },
      10000);
  stop = true;
  for (auto& t : drawThreads) t.join();
  EXPECT_TRUE(allMoving);
  w.Viewers().Clear();
}
