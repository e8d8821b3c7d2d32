// Motion detector: working sizes, what counts as a region, merging,
// persistence, size changes, test pictures and the reference update (the
// colour thresholds: motion_opencv_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/video/motion_frames.h"
#include "video/fmxMKzMotionDetector.h"
#include "video/fmxMKzMotionImage.h"

using namespace kz;
using namespace kztest;

namespace {

const uint32_t kGrey = Bgra(100, 100, 100);
const uint32_t kWhite = Bgra(255, 255, 255);

// Runs one reference/new pair through a fresh detector.
std::vector<TKzRectF> Regions(TKzMotionDetector& D, const TKzMBitmap& Old, const TKzMBitmap& New) {
  D.DetectChanges(New, Old);
  return D.ValidRects();
}

bool Contains(const TKzRectF& R, int X, int Y, int W, int H) {
  return R.Left <= X && R.Top <= Y && R.Right >= X + W && R.Bottom >= Y + H;
}

}  // namespace

TEST(MotionDetector, WorkingSizeAndScaleBack) {
  struct Case {
    int w, h, ws, hs;
  } cases[] = {
      {1280, 720, 320, 180}, {300, 200, 300, 200}, {2000, 1000, 250, 125}, {1920, 1080, 240, 135},
      {3840, 2160, 240, 135}, {720, 1280, 180, 320}, {320, 320, 320, 320},  {321, 10, 160, 4},
      {100000, 2, 195, 1},   {1, 1, 1, 1},
  };
  for (const Case& c : cases) {
    int ws = 0, hs = 0;
    KzMMotionWorkingSize(c.w, c.h, ws, hs);
    EXPECT_EQ(ws, c.ws) << c.w << "x" << c.h;
    EXPECT_EQ(hs, c.hs) << c.w << "x" << c.h;
  }
  // Through the detector: a 1280x720 frame is worked at 320x180 and the
  // region comes back in frame pixels, at multiples of the factor 4.
  TKzMotionDetector d;
  TKzMBitmap still = SolidFrame(1280, 720, kGrey), moved = still;
  FillBlock(moved, 400, 200, 40, 40, kWhite);
  const auto r = Regions(d, still, moved);
  EXPECT_EQ(d.WorkWidth(), 320);
  EXPECT_EQ(d.WorkHeight(), 180);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(Contains(r[0], 400, 200, 40, 40));
  for (float v : {r[0].Left, r[0].Top, r[0].Right, r[0].Bottom}) EXPECT_EQ(static_cast<int>(v) % 4, 0) << v;
  // Full-size mode works on the frame itself.
  TKzMotionDetector full;
  full.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmOriginalSize);
  Regions(full, still, moved);
  EXPECT_EQ(full.WorkWidth(), 1280);
  EXPECT_EQ(full.ReducedNew(), nullptr);
}

TEST(MotionDetector, WhatBecomesARegion) {
  const TKzMBitmap still = SolidFrame(300, 200, kGrey);
  {
    TKzMotionDetector d;
    EXPECT_TRUE(Regions(d, still, still).empty()) << "still scene";
  }
  {
    TKzMBitmap f = still;
    FillBlock(f, 150, 100, 1, 1, kWhite);
    TKzMotionDetector d;
    EXPECT_TRUE(Regions(d, still, f).empty()) << "one pixel: box area 1 <= 10";
  }
  {
    TKzMBitmap f = still;
    FillBlock(f, 150, 100, 4, 4, kWhite);
    TKzMotionDetector d;
    const auto r = Regions(d, still, f);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_GE(r[0].Width(), 25);
    EXPECT_GE(r[0].Height(), 25);
    EXPECT_TRUE(Contains(r[0], 150, 100, 4, 4));
  }
  {
    TKzMBitmap f = still;
    FillBlock(f, 0, 196, 4, 4, kWhite);  // in the corner: growth is clipped
    TKzMotionDetector d;
    const auto r = Regions(d, still, f);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], (TKzRectF{0, 185, 15, 200}));
  }
  {
    // A larger minimum area also grows regions more (G = max(15, MinArea div 2 * 5)).
    TKzMBitmap f = still;
    FillBlock(f, 100, 100, 5, 5, kWhite);
    TKzMotionDetector d;
    d.SetMinChangeAreaSize(24);
    const auto r = Regions(d, still, f);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Width(), 60);
    TKzMotionDetector e;
    e.SetMinChangeAreaSize(25);
    EXPECT_TRUE(Regions(e, still, f).empty()) << "area 25 <= 25 is dropped";
  }
}

TEST(MotionDetector, TooManyObjectsCollapseIntoTheWholeFrame) {
  const TKzMBitmap still = SolidFrame(300, 200, kGrey);
  for (int objects : {30, 31}) {
    TKzMBitmap f = still;
    for (int i = 0; i < objects; ++i) FillBlock(f, 5 + (i % 8) * 36, 5 + (i / 8) * 45, 4, 4, kWhite);
    TKzMotionDetector d;
    const auto r = Regions(d, still, f);
    if (objects == 31) {
      ASSERT_EQ(r.size(), 1u);
      EXPECT_EQ(r[0], (TKzRectF{0, 0, 300, 200}));
    } else {
      EXPECT_GT(r.size(), 1u);
    }
  }
}

TEST(MotionDetector, StoppedObjectIsReportedForOneMoreFrame) {
  const TKzMBitmap still = SolidFrame(300, 200, kGrey);
  TKzMBitmap object = still;
  FillBlock(object, 100, 50, 30, 30, kWhite);
  TKzMotionDetector d;
  const TKzMBitmap* frames[] = {&still, &still, &object, &object, &object};
  const size_t expected[] = {0, 0, 1, 1, 0};
  for (size_t i = 0; i < 5; ++i) {
    d.DetectChanges(*frames[i], still);
    EXPECT_EQ(d.ValidRects().size(), expected[i]) << "frame " << i;
  }
  // Changing the test mode forgets the previous frame's regions.
  TKzMotionDetector e;
  e.DetectChanges(still, still);
  e.DetectChanges(object, still);
  e.SetTestMode(TKzBoundsTestMode::kzstmNone);
  e.DetectChanges(object, still);
  EXPECT_TRUE(e.ValidRects().empty());
}

TEST(MotionDetector, RegionsOneGapApartMergeTwoApartDoNot) {
  // 40x40 blocks are large enough not to be grown.
  struct Case {
    bool vertical;
    int gap;
    size_t regions;
  } cases[] = {{false, 0, 1}, {false, 1, 1}, {false, 2, 2}, {true, 1, 1}, {true, 2, 2}};
  for (const Case& c : cases) {
    TKzMBitmap old = SolidFrame(300, 200, kGrey), f = old;
    FillBlock(f, 10, 10, 40, 40, kWhite);
    if (c.vertical)
      FillBlock(f, 10, 50 + c.gap, 40, 40, kWhite);
    else
      FillBlock(f, 50 + c.gap, 10, 40, 40, kWhite);
    TKzMotionDetector d;
    d.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmOriginalSize);
    EXPECT_EQ(Regions(d, old, f).size(), c.regions) << (c.vertical ? "vertical" : "horizontal") << " gap " << c.gap;
  }
}

TEST(MotionDetector, LabelBoxesOfJoinedShapes) {
  // A U opens upwards: its prongs get labels of their own, the bar joins them.
  TKzMBitmap old = SolidFrame(100, 100, kGrey), f = old;
  FillBlock(f, 10, 10, 5, 30, kWhite);
  FillBlock(f, 40, 10, 5, 30, kWhite);
  FillBlock(f, 10, 40, 35, 5, kWhite);
  // Two pixels that touch only at a corner are separate objects.
  FillBlock(f, 70, 70, 1, 1, kWhite);
  FillBlock(f, 71, 71, 1, 1, kWhite);
  TKzMotionDetector d;
  d.DetectChanges(f, old);
  const std::vector<TKzRectF> want = {{10, 10, 45, 45}, {70, 70, 71, 71}, {71, 71, 72, 72}};
  EXPECT_EQ(d.LabelBoxes(), want);

  // Joining looks ahead only half a working row of labels: an object inside
  // an L's box joins it, unless more than 20 labels (width 40) were made in between.
  for (bool filler : {false, true}) {
    TKzMBitmap o = SolidFrame(40, 40, kGrey), g = o;
    FillBlock(g, 0, 0, 1, 11, kWhite);
    FillBlock(g, 0, 10, 6, 1, kWhite);
    FillBlock(g, 3, 3, 2, 2, kWhite);
    if (filler)
      for (int x = 10; x < 40; x += 2) {
        FillBlock(g, x, 0, 1, 1, kWhite);
        FillBlock(g, x, 2, 1, 1, kWhite);
      }
    TKzMotionDetector e;
    e.DetectChanges(g, o);
    const auto boxes = e.LabelBoxes();
    EXPECT_EQ(boxes[0], (TKzRectF{0, 0, 6, 11}));
    EXPECT_EQ(boxes.size(), filler ? 32u : 1u);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), TKzRectF{3, 3, 5, 5}), filler ? 1 : 0);
  }
}

TEST(MotionDetector, FrameSizeChangeReportsNothingThenResumes) {
  TKzMotionDetector d;
  const TKzMBitmap big = SolidFrame(1280, 720, kGrey);
  TKzMBitmap bigMoved = big;
  FillBlock(bigMoved, 600, 300, 40, 40, kWhite);
  d.DetectChanges(big, big);
  d.DetectChanges(bigMoved, big);
  EXPECT_EQ(d.ValidRects().size(), 1u);
  // A new size (one reduced side unchanged: 320x180 -> 320x240) with a wholly
  // different picture: nothing is reported, not even the old region.
  const TKzMBitmap small = SolidFrame(640, 480, Bgra(10, 200, 30));
  d.DetectChanges(small, big);
  EXPECT_TRUE(d.ValidRects().empty());
  TKzMBitmap smallMoved = small;
  FillBlock(smallMoved, 100, 100, 40, 40, kWhite);
  d.DetectChanges(smallMoved, big);
  ASSERT_EQ(d.ValidRects().size(), 1u);
  EXPECT_TRUE(Contains(d.ValidRects()[0], 100, 100, 40, 40));
  // Both reduced sides change: the reference frame is used only when it has
  // the new frame's size.
  const TKzMBitmap other = SolidFrame(300, 100, kGrey);
  TKzMBitmap otherMoved = other;
  FillBlock(otherMoved, 10, 10, 40, 40, kWhite);
  d.DetectChanges(otherMoved, big);
  EXPECT_TRUE(d.ValidRects().empty());
  TKzMotionDetector e;
  e.DetectChanges(big, big);
  e.DetectChanges(otherMoved, other);
  EXPECT_EQ(e.ValidRects().size(), 1u);
  // An empty frame gives no slots at all.
  EXPECT_EQ(e.DetectChanges(TKzMBitmap(), other), 0);
}

TEST(MotionDetector, TestPictures) {
  const TKzMBitmap old = SolidFrame(640, 360, kGrey);
  TKzMBitmap f = old;
  FillBlock(f, 200, 100, 40, 40, Bgra(0, 200, 0));
  for (auto mode : {TKzBoundsTestMode::kzstmChangedFragments, TKzBoundsTestMode::kzstmRectangles}) {
    TKzMotionDetector d;
    d.SetTestMode(mode);
    std::unique_ptr<TKzMBitmap> test;
    ASSERT_EQ(d.DetectChanges(f, old, &test), 1);
    ASSERT_TRUE(test);
    EXPECT_EQ(test->Width(), 640);
    EXPECT_EQ(test->Height(), 360);
    EXPECT_TRUE(d.IsRectValid(0));
    EXPECT_EQ(d.GetRect(0), (TKzRectF{0, 0, 640, 360}));
    int red = 0;
    for (int64_t i = 0; i < test->GetLength(); ++i) red += test->Data()[i] == KzMotionTestRectangleColor;
    EXPECT_GT(red, 4 * 40) << "the region's outline";
    EXPECT_EQ(test->ScanLine(120)[220], Bgra(0, 200, 0)) << "a changed pixel as it is";
    const uint32_t unchanged = test->ScanLine(300)[600];
    EXPECT_EQ(unchanged, mode == TKzBoundsTestMode::kzstmChangedFragments ? 0xFF000000u : Bgra(50, 50, 50));
    // Without a place for it, the picture stays with the detector.
    d.DetectChanges(f, old);
    ASSERT_NE(d.LastTestImage(), nullptr);
    EXPECT_EQ(d.LastTestImage()->Width(), 640);
  }
}

TEST(MotionDetector, ReferenceUpdate) {
  const TKzMBitmap old = SolidFrame(300, 200, kGrey);
  TKzMBitmap f = old;
  FillBlock(f, 100, 100, 30, 30, kWhite);
  FillBlock(f, 5, 5, 1, 1, kWhite);  // too small to be a region
  {
    TKzMotionDetector d;
    TKzMBitmap ref = old;
    d.DetectChanges(f, ref);
    d.UpdateReferenceImage(f, ref);
    EXPECT_EQ(ref.ScanLine(110)[110], kWhite) << "inside a region the reference follows the frame";
    EXPECT_EQ(ref.ScanLine(5)[5], kGrey) << "outside it keeps its pixels";
  }
  {
    // Full-size mode: an empty reference is seeded with the whole frame, and
    // so is a reference of another size.
    TKzMotionDetector d;
    d.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmOriginalSize);
    TKzMBitmap ref;
    d.DetectChanges(f, ref);
    EXPECT_TRUE(d.ValidRects().empty());
    d.UpdateReferenceImage(f, ref);
    EXPECT_EQ(ref.Width(), 300);
    EXPECT_EQ(ref.ScanLine(5)[5], kWhite);
    const TKzMBitmap other = SolidFrame(100, 80, kGrey);
    d.DetectChanges(other, ref);
    d.UpdateReferenceImage(other, ref);
    EXPECT_EQ(ref.Width(), 100);
  }
  {
    // Test mode: the whole frame becomes the reference.
    TKzMotionDetector d;
    d.SetTestMode(TKzBoundsTestMode::kzstmRectangles);
    TKzMBitmap ref = old;
    d.DetectChanges(f, ref);
    d.UpdateReferenceImage(f, ref);
    EXPECT_EQ(ref.ScanLine(5)[5], kWhite);
  }
}

TEST(MotionImage, ReductionAveragesBlocks) {
  // 4x2 -> 2x1: each output pixel is the rounded mean of a 2x2 block.
  TKzMBitmap src(4, 2);
  const uint32_t px[8] = {Bgra(0, 0, 0), Bgra(10, 1, 255), Bgra(7, 7, 7), Bgra(7, 7, 7),
                          Bgra(1, 0, 0), Bgra(10, 2, 255), Bgra(7, 7, 7), Bgra(8, 8, 8)};
  std::copy(px, px + 8, src.Data());
  TKzMBitmap out;
  KzMReduceBitmap(src, out, 2, 1);
  ASSERT_EQ(out.Width(), 2);
  EXPECT_EQ(out.Data()[0], Bgra(5, 1, 128));
  EXPECT_EQ(out.Data()[1], Bgra(7, 7, 7));
  // Tall blocks (more rows than the 16-bit column sums hold at once) stay exact.
  TKzMBitmap tall = SolidFrame(3, 1000, Bgra(255, 255, 255));
  KzMReduceBitmap(tall, out, 1, 1);
  EXPECT_EQ(out.Data()[0], Bgra(255, 255, 255));
}

TEST(MotionImage, AreaReductionAndHalvingMatchTheRoundedBlockMean) {
  struct {
    int32_t sw, sh, w, h;
    TRect changed;
  } const rows[] = {{64, 48, 32, 24, TRect(9, 7, 30, 20)},     // halving, odd edges
                    {50, 37, 20, 15, TRect(0, 30, 50, 37)},    // uneven blocks, bottom edge
                    {641, 480, 320, 240, TRect(3, 3, 5, 5)}};  // almost halving
  uint32_t seed = 1;
  const auto noise = [&] { return seed = seed * 1103515245u + 12345u, 0xFF000000u | (seed >> 8); };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.sw);
    TKzMBitmap src(r.sw, r.sh), reduced, whole;
    std::generate(src.Data(), src.Data() + src.GetLength(), noise);
    KzMReduceBitmap(src, reduced, r.w, r.h);
    for (int32_t y = 0; y < r.h; ++y)  // the rounded mean of each block
      for (int32_t x = 0; x < r.w; ++x) {
        const int32_t x0 = x * r.sw / r.w, x1 = std::max(x0 + 1, (x + 1) * r.sw / r.w);
        const int32_t y0 = y * r.sh / r.h, y1 = std::max(y0 + 1, (y + 1) * r.sh / r.h);
        for (int c = 0; c < 4; ++c) {
          double sum = 0;
          for (int32_t v = y0; v < y1; ++v)
            for (int32_t u = x0; u < x1; ++u) sum += (src.ScanLine(v)[u] >> (8 * c)) & 0xFF;
          const double mean = sum / ((x1 - x0) * (y1 - y0));
          ASSERT_NEAR((reduced.ScanLine(y)[x] >> (8 * c)) & 0xFF, mean, 0.5 + 1e-3) << x << "," << y;
        }
      }
    for (int32_t y = r.changed.Top; y < r.changed.Bottom; ++y)
      for (int32_t x = r.changed.Left; x < r.changed.Right; ++x) src.ScanLine(y)[x] = noise();
    KzMReduceBitmapArea(src, reduced, r.changed);
    KzMReduceBitmap(src, whole, r.w, r.h);
    EXPECT_TRUE(std::equal(whole.Data(), whole.Data() + whole.GetLength(), reduced.Data()));
  }
}
