// Motion detector against OpenCV on the same reduced frames: the changed-
// pixel mask equals absdiff plus threshold, and for separate solid blobs the
// label boxes equal the boxes of connectedComponentsWithStats (before the
// detector grows and merges them). OpenCV is linked into this test only.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "tests/kztestneed.h"
#include "tests/video/motion_frames.h"
#include "video/fmxMKzMotionDetector.h"

#if KZ_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace kz;
using namespace kztest;

#if KZ_HAVE_OPENCV

namespace {

cv::Mat View(const TKzMBitmap& B) {
  return cv::Mat(B.Height(), B.Width(), CV_8UC4, const_cast<uint32_t*>(B.Data()));
}

// The changed-pixel mask the OpenCV way: absdiff, then the average of the
// three colour bytes (as a sum against 3T + 2, which is "sum div 3 > T"), or
// each byte against its own threshold.
cv::Mat OpenCvMask(const cv::Mat& New, const cv::Mat& Old, int T, int T0, int T1, int T2) {
  cv::Mat diff;
  cv::absdiff(New, Old, diff);
  cv::Mat mask;
  if (T >= 0) {
    cv::Mat sum;
    cv::transform(diff, sum, cv::Matx<float, 1, 4>(1, 1, 1, 0));
    cv::threshold(sum, mask, 3.0 * T + 2, 255, cv::THRESH_BINARY);
    mask.convertTo(mask, CV_8U);
  } else {
    std::vector<cv::Mat> ch;
    cv::split(diff, ch);
    const int t[3] = {T0, T1, T2};
    mask = cv::Mat::zeros(New.size(), CV_8U);
    for (int c = 0; c < 3; ++c) {
      cv::Mat m;
      cv::threshold(ch[c], m, t[c], 255, cv::THRESH_BINARY);
      cv::bitwise_or(mask, m, mask);
    }
  }
  return mask;
}

using TBox = std::tuple<int, int, int, int>;  // left, top, right, bottom

// OpenCV runs on the test's thread: its worker pool is not built for the
// thread sanitizer, and the comparison needs no speed.
class MotionOpenCv : public testing::Test {
protected:
  void SetUp() override { cv::setNumThreads(0); }
};

std::vector<TBox> Sorted(std::vector<TBox> V) {
  std::sort(V.begin(), V.end());
  return V;
}

}  // namespace

TEST_F(MotionOpenCv, ChangedPixelMaskEqualsAbsdiffAndThreshold) {
  struct Case {
    int t, t0, t1, t2;
  } cases[] = {{8, 8, 8, 8}, {0, 0, 0, 0}, {20, 0, 0, 0}, {-1, 255, 5, 20}, {-1, -1, 300, 300}, {-1, 8, 8, 8}};
  // Scene changes of every strength, near the thresholds too, on a detailed
  // picture; the detector makes the reduced copies, both sides use them.
  const TKzMBitmap background = DetailedBackground(1280, 720, 9);
  std::mt19937 rng(3);
  TKzMBitmap next = background;
  for (int i = 0; i < 40; ++i) {
    std::uniform_int_distribution<int> pos(0, 1200), size(1, 80), delta(0, 100), byte(0, 2);
    const int x = pos(rng), y = pos(rng) % 700, w = size(rng), h = size(rng), d = delta(rng), b = byte(rng);
    for (int yy = y; yy < std::min(y + h, 720); ++yy)
      for (int xx = x; xx < std::min(x + w, 1280); ++xx) {
        uint8_t& v = reinterpret_cast<uint8_t*>(&next.ScanLine(yy)[xx])[b];
        v = static_cast<uint8_t>(std::min(255, v + d));
      }
  }
  AddUniformNoise(next, 3, rng);
  for (const Case& c : cases) {
    TKzMotionDetector d;
    d.SetPixelColorThreshold(c.t);
    d.SetPixelColorThresholdR(c.t0);
    d.SetPixelColorThresholdG(c.t1);
    d.SetPixelColorThresholdB(c.t2);
    d.DetectChanges(background, background);
    d.DetectChanges(next, background);
    ASSERT_NE(d.ReducedOld(), nullptr);
    ASSERT_EQ(d.WorkWidth(), 320);
    const cv::Mat mask = OpenCvMask(View(*d.ReducedNew()), View(*d.ReducedOld()), c.t, c.t0, c.t1, c.t2);
    int differences = 0, changed = 0;
    for (int y = 0; y < d.WorkHeight(); ++y)
      for (int x = 0; x < d.WorkWidth(); ++x) {
        changed += d.IsPixelChanged(x, y);
        differences += d.IsPixelChanged(x, y) != (mask.at<uint8_t>(y, x) != 0);
      }
    EXPECT_EQ(differences, 0) << "thresholds " << c.t << " " << c.t0 << " " << c.t1 << " " << c.t2;
    EXPECT_GT(changed, 0);
  }
}

TEST_F(MotionOpenCv, BlobBoxesEqualConnectedComponents) {
  std::mt19937 rng(17);
  for (int round = 0; round < 20; ++round) {
    const TKzMBitmap old = SolidFrame(320, 240, Bgra(40, 40, 40));
    TKzMBitmap f = old;
    cv::Mat canvas = View(f);
    // Rectangles, discs and ellipses whose boxes stay at least two pixels apart.
    std::vector<cv::Rect> placed;
    std::uniform_int_distribution<int> px(0, 319), py(0, 239), radius(1, 18), kind(0, 2);
    for (int tries = 0; tries < 200 && placed.size() < 25; ++tries) {
      const int cx = px(rng), cy = py(rng), rx = radius(rng), ry = radius(rng), shape = kind(rng);
      const double angle = shape == 2 ? 30.0 * round : 0.0;
      std::vector<cv::Point> outline;
      cv::ellipse2Poly(cv::Point(cx, cy), cv::Size(rx, ry), static_cast<int>(angle), 0, 360, 1, outline);
      const cv::Rect box = shape == 2 ? cv::boundingRect(outline) : cv::Rect(cx - rx, cy - ry, 2 * rx + 1, 2 * ry + 1);
      if (box.x < 0 || box.y < 0 || box.br().x > 320 || box.br().y > 240) continue;
      const cv::Rect margin(box.x - 2, box.y - 2, box.width + 4, box.height + 4);
      if (std::any_of(placed.begin(), placed.end(), [&](const cv::Rect& o) { return (o & margin).area() > 0; }))
        continue;
      placed.push_back(box);
      const cv::Scalar white(255, 255, 255, 255);
      switch (shape) {
        case 0: cv::rectangle(canvas, box, white, cv::FILLED); break;
        case 1: cv::circle(canvas, {cx, cy}, std::min(rx, ry), white, cv::FILLED, cv::LINE_8); break;
        default: cv::fillConvexPoly(canvas, outline, white, cv::LINE_8);
      }
    }
    TKzMotionDetector d;
    d.SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode::kzcapmOriginalSize);
    d.DetectChanges(f, old);
    std::vector<TBox> ours;
    for (const TKzRectF& r : d.LabelBoxes())
      ours.emplace_back(static_cast<int>(r.Left), static_cast<int>(r.Top), static_cast<int>(r.Right),
                        static_cast<int>(r.Bottom));

    cv::Mat mask = OpenCvMask(View(f), View(old), 8, 8, 8, 8), labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 4, CV_32S);
    std::vector<TBox> theirs;
    for (int i = 1; i < n; ++i) {
      const int x = stats.at<int>(i, cv::CC_STAT_LEFT), y = stats.at<int>(i, cv::CC_STAT_TOP);
      theirs.emplace_back(x, y, x + stats.at<int>(i, cv::CC_STAT_WIDTH), y + stats.at<int>(i, cv::CC_STAT_HEIGHT));
    }
    ASSERT_GT(theirs.size(), 5u);
    EXPECT_EQ(Sorted(ours), Sorted(theirs)) << "round " << round;
  }
}

#else

TEST(MotionOpenCv, NeedsOpenCv) { KZ_NEED(false, "OpenCV development files not found at configure time"); }

#endif
