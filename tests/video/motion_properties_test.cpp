// Motion detector properties: pushing settings into detectors,
// per-source settings of a receiver, the draw-thread step, and settings
// changed on the main thread while a draw thread detects.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/fmxMKzErrors.h"
#include "tests/video/motion_frames.h"
#include "video/fmxMKzMotionDetectorProperties.h"

using namespace kz;
using namespace kztest;

namespace {

const TGUID kSourceA = StringToGUIDA("{11111111-2222-3333-4444-555555555555}");
const TGUID kSourceB = StringToGUIDA("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}");

TKzMotionDetectorValues DetectorValues(const TKzMotionDetector& D) {
  TKzMotionDetectorValues v;
  v.MinChangeAreaSize = D.MinChangeAreaSize();
  v.MaxChangeAreaCount = D.MaxChangeAreaCount();
  v.ChangedAreaProcessingMode = D.ChangedAreaProcessingMode();
  v.PixelColorThreshold = D.PixelColorThreshold();
  v.PixelColorThresholdR = D.PixelColorThresholdR();
  v.PixelColorThresholdG = D.PixelColorThresholdG();
  v.PixelColorThresholdB = D.PixelColorThresholdB();
  v.TestMode = D.TestMode();
  return v;
}

TKzMotionDetectorValues Custom() {
  TKzMotionDetectorValues v;
  v.SearchRegion = true;
  v.MinChangeAreaSize = 3;
  v.MaxChangeAreaCount = 5;
  v.ChangedAreaProcessingMode = TKzChangedAreaProcessingMode::kzcapmOriginalSize;
  v.PixelColorThreshold = -1;
  v.PixelColorThresholdR = 1;
  v.PixelColorThresholdG = 2;
  v.PixelColorThresholdB = 3;
  v.TestMode = TKzBoundsTestMode::kzstmRectangles;
  return v;
}

// The detector settings of V (SearchRegion is not one of them).
TKzMotionDetectorValues WithoutSearch(TKzMotionDetectorValues V) {
  V.SearchRegion = false;
  return V;
}

}  // namespace

TEST(MotionProperties, SettingsArePushedIntoTheDetector) {
  TKzGlobalMotionDetectorProperties p;
  const TKzMotionDetectorValues c = Custom();
  p.SetSearchRegion(c.SearchRegion);
  p.SetMinChangeAreaSize(c.MinChangeAreaSize);
  p.SetMaxChangeAreaCount(c.MaxChangeAreaCount);
  p.SetChangedAreaProcessingMode(c.ChangedAreaProcessingMode);
  p.SetPixelColorThreshold(c.PixelColorThreshold);
  p.SetPixelColorThresholdR(c.PixelColorThresholdR);
  p.SetPixelColorThresholdG(c.PixelColorThresholdG);
  p.SetPixelColorThresholdB(c.PixelColorThresholdB);
  p.SetTestMode(c.TestMode);
  EXPECT_TRUE(p.NeedResizeArea()) << "a change of the processing mode";
  EXPECT_EQ(DetectorValues(p.GetMotionDetector()), WithoutSearch(c));

  TKzGlobalMotionDetectorProperties q;
  q.Assign(p);
  EXPECT_EQ(DetectorValues(q.GetMotionDetector()), WithoutSearch(c));
}

TEST(MotionProperties, DrawThreadStepSeedsDetectsAndHandsOverTheResetFlag) {
  TKzGlobalMotionDetectorProperties p;
  p.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmOriginalSize);
  const TKzMBitmap still = DetailedBackground(400, 300);
  TKzMBitmap moved = still;
  DrawObject(moved, 100, 100, 30, 30);
  TKzMotionDetector& d = p.DetectMotion(still);
  EXPECT_FALSE(p.NeedResizeArea()) << "handed to the detector";
  EXPECT_EQ(d.oImg.Width(), 400) << "full-size mode seeds the reference";
  EXPECT_TRUE(d.ValidRects().empty());
  EXPECT_EQ(&p.DetectMotion(moved), &d);
  ASSERT_EQ(d.ValidRects().size(), 1u);
  EXPECT_EQ(d.oImg.ScanLine(110)[110], moved.ScanLine(110)[110]);
  p.DetectMotion(moved);
  p.DetectMotion(moved);
  // Switching to the reduced mode keeps detecting, against the full-size reference.
  p.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmAuto);
  p.DetectMotion(still);
  EXPECT_EQ(d.ValidRects().size(), 1u);
  EXPECT_NE(d.ReducedNew(), nullptr);
}

TEST(MotionProperties, PerSourceDetectors) {
  TKzMultiMotionDetectorProperties p;
  p.SetMinChangeAreaSize(20);
  TKzMotionDetector& a = p.GetMotionDetector(kSourceA);
  TKzMotionDetector& b = p.GetMotionDetector(kSourceB);
  EXPECT_NE(&a, &b);
  EXPECT_EQ(&p.GetMotionDetector(kSourceA), &a);
  EXPECT_EQ(a.MinChangeAreaSize(), 20);

  TKzDetectionRegionItem& item = p.Items().Add();
  item.SetGUIDFrom("{11111111-2222-3333-4444-555555555555}");
  item.SetValues(Custom());
  EXPECT_EQ(p.GetProperty(kSourceA), &item);
  EXPECT_EQ(p.GetProperty(kSourceB), nullptr);
  EXPECT_EQ(a.MinChangeAreaSize(), 20) << "the item counts only with UseGlobalParams off";
  p.SetUseGlobalParams(false);
  EXPECT_EQ(DetectorValues(a), WithoutSearch(Custom()));
  EXPECT_EQ(b.MinChangeAreaSize(), 20);
  item.SetMinChangeAreaSize(7);
  EXPECT_EQ(a.MinChangeAreaSize(), 7);
  // Lower-case text names the same source; a detector created now gets the item too.
  item.SetGUIDFrom("{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}");
  EXPECT_EQ(b.MinChangeAreaSize(), 7);
  EXPECT_EQ(a.MinChangeAreaSize(), 20);
  p.Items().Delete(0);
  EXPECT_EQ(b.MinChangeAreaSize(), 20) << "removal reverts to the global settings";

  TKzMultiMotionDetectorProperties q;
  q.Items().Add().SetGUIDFrom("x");
  q.Assign(p);
  EXPECT_FALSE(q.UseGlobalParams());
  EXPECT_EQ(q.Items().Count(), 0);
  EXPECT_THROW(q.Items().Delete(0), EKzMediaError);
}

TEST(MotionProperties, WhichSourcesAreSearched) {
  struct Case {
    bool useGlobal, globalSearch, hasItem, itemSearch, searched;
  } cases[] = {
      {true, false, false, false, false}, {true, true, false, false, true},  {true, true, true, false, true},
      {true, false, true, true, false},   {false, true, false, false, true}, {false, true, true, false, false},
      {false, false, true, true, true},   {false, false, false, true, false},
  };
  const TKzMBitmap frame = SolidFrame(64, 48, Bgra(1, 2, 3));
  for (const Case& c : cases) {
    TKzMultiMotionDetectorProperties p;
    p.SetUseGlobalParams(c.useGlobal);
    p.SetSearchRegion(c.globalSearch);
    if (c.hasItem) {
      TKzDetectionRegionItem& item = p.Items().Add();
      item.SetGUIDFrom(GUIDToStringA(kSourceA));
      item.SetSearchRegion(c.itemSearch);
    }
    EXPECT_EQ(p.IsSearchEnabled(kSourceA), c.searched)
        << c.useGlobal << c.globalSearch << c.hasItem << c.itemSearch;
    EXPECT_EQ(p.DetectMotion(kSourceA, frame) != nullptr, c.searched);
  }
}

TEST(MotionProperties, SettingsChangeWhileADrawThreadDetects) {
  TKzMultiMotionDetectorProperties multi;
  multi.SetSearchRegion(true);
  TKzGlobalMotionDetectorProperties global;
  const TKzMBitmap still = DetailedBackground(160, 120);
  TKzMBitmap moved = still;
  DrawObject(moved, 40, 40, 20, 20);
  std::atomic<bool> done{false};
  std::atomic<int> found{0};
  std::thread draw([&] {
    for (int i = 0; i < 300; ++i) {
      const TKzMBitmap& f = (i & 1) ? moved : still;
      found += static_cast<int>(global.DetectMotion(f).ValidRects().size());
      if (TKzMotionDetector* d = multi.DetectMotion((i & 2) ? kSourceA : kSourceB, f))
        found += static_cast<int>(d->ValidRects().size());
    }
    done = true;
  });
  for (int i = 0; !done && i < 100000; ++i) {
    global.SetChangedAreaProcessingMode(i & 1 ? TKzChangedAreaProcessingMode::kzcapmAuto
                                              : TKzChangedAreaProcessingMode::kzcapmOriginalSize);
    global.SetPixelColorThreshold(8 + (i & 3));
    multi.SetUseGlobalParams(i & 1);
    TKzDetectionRegionItem& item = multi.Items().Add();
    item.SetGUIDFrom(GUIDToStringA(i & 2 ? kSourceA : kSourceB));
    item.SetSearchRegion(true);
    item.SetTestMode(i % 5 == 0 ? TKzBoundsTestMode::kzstmRectangles : TKzBoundsTestMode::kzstmNone);
    if (multi.Items().Count() > 3) multi.Items().Delete(0);
  }
  draw.join();
  EXPECT_GT(found.load(), 0);
}
