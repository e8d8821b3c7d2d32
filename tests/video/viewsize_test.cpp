// Decoding at the shown size: the scale chosen for a request, what the
// consumer lists ask for, libjpeg's scaled decode against djpeg (and the
// full-size fallback for progressive pictures), a full-size consumer beside
// a view in a running pipeline, and the picture quality of a scaled decode
// against a full decode shrunk the way the view shrinks it.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/kztestneed.h"
#include "tests/video/kzimagetestutil.h"
#include "video/fmxMKzCamViewInternal.h"
#include "video/fmxMKzGetData.h"
#include "video/fmxMKzLibJpeg.h"

using namespace kz;
using namespace kztest;

namespace {

// A 1920 x 1080 test card made by ffmpeg, as a baseline and a progressive JPEG.
struct TCard {
  std::string Source = ScratchDir() + "/card.ppm";
  std::string Baseline = ScratchDir() + "/card.jpg";
  std::string Progressive = ScratchDir() + "/card_prog.jpg";
  bool Made = false;
  TCard() {
    Made = Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080 -frames:v 1 " + Source) == 0 &&
           Run("cjpeg -quality 90 " + Source + " > " + Baseline) == 0 &&
           Run("jpegtran -progressive " + Baseline + " > " + Progressive) == 0;
  }
};
const TCard& Card() {
  static const TCard card;
  return card;
}
#define NEED_CARD() KZ_NEED(Card().Made, "ffmpeg, cjpeg and jpegtran make the test card")

uint64_t PixelHash(const TKzMCustomBitmap& B) {
  uint64_t h = 1469598103934665603ull;
  for (int64_t p = 0; p < B.GetLength(); ++p) h = (h ^ (B.Data()[p] & 0xFFFFFFu)) * 1099511628211ull;
  return h;
}

// djpeg's decoding of File at 1/Denom.
TKzMBitmap Djpeg(const std::string& File, int Denom) {
  const std::string out = ScratchDir() + "/djpeg_" + std::to_string(Denom) + ".ppm";
  TKzMBitmap b;
  EXPECT_EQ(Run("djpeg -scale 1/" + std::to_string(Denom) + " -ppm " + File + " > " + out), 0);
  EXPECT_TRUE(ReadPNM(out, b));
  return b;
}

void WritePPM(const TKzMCustomBitmap& B, const std::string& Path) {
  std::string d = "P6\n" + std::to_string(B.Width()) + " " + std::to_string(B.Height()) + "\n255\n";
  for (int64_t p = 0; p < B.GetLength(); ++p) {
    const uint32_t v = B.Data()[p];
    d += static_cast<char>(v >> 16), d += static_cast<char>(v >> 8), d += static_cast<char>(v);
  }
  WriteFile(Path, std::vector<uint8_t>(d.begin(), d.end()));
}

// ffmpeg's psnr filter: the average PSNR of A against Reference (-1 when it did not run).
double Psnr(const std::string& A, const std::string& Reference) {
  const std::string log = ScratchDir() + "/psnr.txt";
  if (Run("ffmpeg -v info -i " + A + " -i " + Reference + " -lavfi psnr -f null - 2> " + log) != 0) return -1;
  const std::vector<uint8_t> text = ReadFile(log);
  const std::string s(text.begin(), text.end());
  const size_t at = s.rfind("average:");
  return at == std::string::npos ? -1 : std::atof(s.c_str() + at + 8);
}

struct TSizedView : IKzCamViewConsumer {
  std::atomic<uint64_t> Request{0};  // width << 32 | height
  bool FullScreen = false;
  std::mutex Lock;
  TKzMBitmap Last;
  int Frames = 0;
  void Ask(int32_t W, int32_t H) { Request = uint64_t(uint32_t(W)) << 32 | uint32_t(H); }
  TKzDecodeSize DecodeSizeRequest() const override {
    const uint64_t r = Request.load();
    return {int32_t(r >> 32), int32_t(r & 0xFFFFFFFF)};
  }
  bool IsFullScreenMode() const override { return FullScreen; }
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& B, bool, uint16_t, const TGUID&) override {
    std::lock_guard<std::mutex> g(Lock);
    Last.AssignKzMBitmap(B);
    ++Frames;
  }
};

// A recorder as the pipeline sees it: says nothing about sizes.
struct TPlainRecorder : IKzCamRecorderConsumer {
  std::mutex Lock;
  TKzMBitmap Last;
  int Frames = 0;
  void RecorderGetImage(TComponent*, const TKzMBitmap& B, uint16_t, const TGUID&) override {
    std::lock_guard<std::mutex> g(Lock);
    Last.AssignKzMBitmap(B);
    ++Frames;
  }
};

}  // namespace

TEST(DecodeSize, ScaleIsTheSmallestThatCoversTheRequestInBothDirections) {
  const struct {
    int32_t SrcW, SrcH;
    TKzDecodeSize Want;
    int32_t Denom;
  } rows[] = {
      {1920, 1080, {480, 270}, 4}, {1920, 1080, {481, 270}, 2}, {1920, 1080, {480, 271}, 2},
      {1920, 1080, {240, 135}, 8}, {1920, 1080, {1, 1}, 8},     {1920, 1080, {1920, 1080}, 1},
      {1920, 1080, {4000, 100}, 1}, {1920, 1080, {}, 1},        {1921, 1081, {241, 136}, 8},  // libjpeg rounds up
  };
  for (const auto& r : rows)
    EXPECT_EQ(KzJpegScaleFor(r.SrcW, r.SrcH, r.Want), r.Denom) << r.Want.Width << "x" << r.Want.Height;
}

TEST(DecodeSize, ListsAskForTheLargestAndAnyFullSizeConsumerWins) {
  TSizedView small, large, fullScreen;
  small.Ask(480, 270);
  large.Ask(960, 200);
  fullScreen.FullScreen = true;  // says full size, but gets no frames
  TPlainRecorder recorder;
  TKzConsumerLists lists;
  EXPECT_TRUE(lists.WantedDecodeSize().IsFull()) << "nobody asked";
  lists.CamViews = {&small, &large, &fullScreen};
  EXPECT_EQ(lists.WantedDecodeSize(), (TKzDecodeSize{960, 270}));
  lists.DecodeToViewSize = false;
  EXPECT_TRUE(lists.WantedDecodeSize().IsFull());
  lists.DecodeToViewSize = true;
  lists.CamRecorders = {&recorder};
  EXPECT_TRUE(lists.WantedDecodeSize().IsFull());
}

TEST(DecodeSize, ScaledDecodeEqualsDjpegAndProgressiveFallsBackToFullSize) {
  NEED_CARD();
  const struct {
    std::string File;
    TKzDecodeSize Want;
    int32_t Denom;
  } rows[] = {
      {Card().Baseline, {480, 270}, 4},
      {Card().Baseline, {481, 270}, 2},
      {Card().Baseline, {200, 100}, 8},
      {Card().Baseline, {}, 1},
      {Card().Progressive, {480, 270}, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.File + " " + std::to_string(r.Want.Width));
    TFileStream f(r.File, TFileMode::fmOpenRead);
    TMemoryStream m;
    m.CopyFrom(f, 0);
    m.SetPosition(0);
    TKzMBitmap b;
    int32_t denom = 0;
    ASSERT_TRUE(ReadJpegStreamScaled(m, b, 0, r.Want, &denom));
    EXPECT_EQ(denom, r.Denom);
    EXPECT_EQ(b.SourceWidth(), 1920);
    EXPECT_EQ(b.SourceHeight(), 1080);
    const TKzMBitmap reference = Djpeg(r.File, r.Denom);
    EXPECT_EQ(PixelHash(b), PixelHash(reference)) << FirstDifference(b, reference);
  }
}

TEST(DecodeSize, AFullSizeConsumerBesideAViewGetsFullFramesAndAChangeShowsAtTheNextFrame) {
  NEED_CARD();
  const std::vector<uint8_t> jpeg = ReadFile(Card().Baseline);
  const TKzMBitmap full = Djpeg(Card().Baseline, 1), quarter = Djpeg(Card().Baseline, 4);
  TComponent owner(nullptr);
  TKzConsumerLists lists;
  TSizedView view;
  view.Ask(480, 270);
  TPlainRecorder recorder;
  lists.CamViews = {&view};
  lists.CamRecorders = {&recorder};
  auto* fetch = new TKzGetData(&owner, lists, TGUID{}, 8192);
  fetch->Run();
  int sent = 0;
  // Feeds one frame and waits until the view has it; returns its copy.
  const auto frame = [&]() {
    fetch->CopyFromBuffer(jpeg.data(), static_cast<int64_t>(jpeg.size()));
    ++sent;
    EXPECT_TRUE(PumpUntil([&] { std::lock_guard<std::mutex> g(view.Lock); return view.Frames >= sent; }, 10000));
    std::lock_guard<std::mutex> g(view.Lock);
    return TKzMBitmap(view.Last);
  };
  // The recorder wants full size: so does everybody.
  TKzMBitmap got = frame();
  ASSERT_TRUE(PumpUntil([&] { std::lock_guard<std::mutex> g(recorder.Lock); return recorder.Frames == 1; }, 10000));
  {
    std::lock_guard<std::mutex> g(recorder.Lock);
    EXPECT_EQ(PixelHash(recorder.Last), PixelHash(full)) << FirstDifference(recorder.Last, full);
  }
  EXPECT_EQ(got.Width(), 1920);
  // Views only: a quarter, still knowing its source.
  fetch->Decode().Paint().LockDisplay();
  {
    std::lock_guard<std::mutex> g(lists.ShapeLock);
    lists.CamRecorders.clear();
  }
  fetch->Decode().Paint().UnlockDisplay();
  got = frame();
  EXPECT_EQ(PixelHash(got), PixelHash(quarter)) << FirstDifference(got, quarter);
  EXPECT_EQ(got.SourceWidth(), 1920);
  EXPECT_EQ(got.SourceHeight(), 1080);
  // The view asks for full size (full screen): the very next frame is.
  view.Ask(0, 0);
  EXPECT_EQ(frame().Width(), 1920);
  view.Ask(480, 270);
  lists.DecodeToViewSize = false;
  EXPECT_EQ(frame().Width(), 1920);
  EXPECT_EQ(lists.ScaleCounts.Summary(), "1/1: 3, 1/4: 1");
  KzMFreeThread(fetch);
}

TEST(DecodeSize, QuarterDecodeLooksAsGoodAsAFullDecodeShrunkByTheView) {
  NEED_CARD();
  const std::string reference = ScratchDir() + "/ref.ppm", scaled = ScratchDir() + "/scaled.ppm",
                    shrunk = ScratchDir() + "/shrunk.ppm";
  ASSERT_EQ(kztest::Run("ffmpeg -v error -y -i " + Card().Source + " -vf scale=480:270:flags=area " + reference), 0);
  TFileStream f(Card().Baseline, TFileMode::fmOpenRead);
  TMemoryStream m;
  m.CopyFrom(f, 0);
  TKzMBitmap quarter, full, fullShrunk(480, 270);
  m.SetPosition(0);
  ASSERT_TRUE(ReadJpegStreamScaled(m, quarter, 0, {480, 270}));
  m.SetPosition(0);
  ASSERT_TRUE(ReadJpegStreamScaled(m, full, 0, TKzDecodeSize::Full()));
  TCanvas canvas(camview_detail::SurfaceOf(fullShrunk));
  canvas.StretchBitmap(camview_detail::SurfaceOf(full), full.ClientRect(), fullShrunk.ClientRect(),
                       camview_detail::StretchQualityOf(TKzMFrameScaleQuality::kzmfscNormal));
  WritePPM(quarter, scaled);
  WritePPM(fullShrunk, shrunk);
  const double psnrScaled = Psnr(scaled, reference), psnrShrunk = Psnr(shrunk, reference);
  ASSERT_GT(psnrScaled, 0);
  ASSERT_GT(psnrShrunk, 0);
  std::printf("PSNR against an area-averaged 480x270: quarter decode %.2f dB, full decode shrunk %.2f dB\n",
              psnrScaled, psnrShrunk);
  EXPECT_GE(psnrScaled, psnrShrunk - 2.0);
}
