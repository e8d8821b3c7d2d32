// Motion detector on camera-like scenes: an object moving over a detailed
// still background is found in every frame after the first, and a still
// scene with sensor noise gives nothing.
#include <gtest/gtest.h>

#include <random>

#include "tests/video/motion_frames.h"
#include "video/fmxMKzMotionDetectorProperties.h"

using namespace kz;
using namespace kztest;

namespace {

bool Intersects(const TKzRectF& R, int X, int Y, int W, int H) {
  return R.Left < X + W && X < R.Right && R.Top < Y + H && Y < R.Bottom;
}

}  // namespace

TEST(MotionScenes, MovingObjectOverDetailedBackground) {
  struct Case {
    int w, h;
    TKzChangedAreaProcessingMode mode;
    int size, step;  // object side and movement per frame, frame pixels
  } cases[] = {
      {1280, 720, TKzChangedAreaProcessingMode::kzcapmAuto, 48, 12},
      {1920, 1080, TKzChangedAreaProcessingMode::kzcapmAuto, 64, 20},
      {640, 360, TKzChangedAreaProcessingMode::kzcapmOriginalSize, 24, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " mode " << static_cast<int>(c.mode));
    const TKzMBitmap background = DetailedBackground(c.w, c.h, 7);
    std::mt19937 rng(11);
    TKzGlobalMotionDetectorProperties p;
    p.SetChangedAreaProcessingMode(c.mode);
    for (int i = 0; i < 24; ++i) {
      const int x = 40 + i * c.step, y = c.h / 3 + i * c.step / 3;
      TKzMBitmap f = background;
      DrawObject(f, x, y, c.size, c.size);
      AddUniformNoise(f, 2, rng);
      const std::vector<TKzRectF> regions = p.DetectMotion(f).ValidRects();
      if (i == 0) continue;  // nothing to compare with yet
      ASSERT_FALSE(regions.empty()) << "frame " << i;
      bool covered = false;
      for (const TKzRectF& r : regions) {
        covered |= r.Left <= x && r.Top <= y && r.Right >= x + c.size && r.Bottom >= y + c.size;
        // Every region is about the object, where it is or was.
        EXPECT_TRUE(Intersects(r, x - 2 * c.step, y - c.step, c.size + 2 * c.step, c.size + c.step))
            << "frame " << i << " stray region " << r.Left << "," << r.Top << "-" << r.Right << "," << r.Bottom;
      }
      EXPECT_TRUE(covered) << "frame " << i << ": the object's position is inside a region";
    }
  }
}

TEST(MotionScenes, StillSceneWithSensorNoiseGivesNothing) {
  struct Case {
    int w, h;
    TKzChangedAreaProcessingMode mode;
    bool gaussian;
    double amount;  // uniform: largest deviation; gaussian: sigma
  } cases[] = {
      // Noise of at most 4 per byte: two frames differ by at most 8, never above the threshold.
      {640, 360, TKzChangedAreaProcessingMode::kzcapmOriginalSize, false, 4},
      {1280, 720, TKzChangedAreaProcessingMode::kzcapmAuto, false, 4},
      // Stronger noise that exceeds the threshold pixel by pixel averages out in the reduced copy.
      {1280, 720, TKzChangedAreaProcessingMode::kzcapmAuto, true, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " noise " << c.amount);
    const TKzMBitmap background = DetailedBackground(c.w, c.h, 3);
    std::mt19937 rng(5);
    TKzGlobalMotionDetectorProperties p;
    p.SetChangedAreaProcessingMode(c.mode);
    int regions = 0;
    for (int i = 0; i < 20; ++i) {
      TKzMBitmap f = background;
      if (c.gaussian)
        AddGaussianNoise(f, c.amount, rng);
      else
        AddUniformNoise(f, static_cast<int>(c.amount), rng);
      regions += static_cast<int>(p.DetectMotion(f).ValidRects().size());
    }
    EXPECT_EQ(regions, 0);
  }
}
