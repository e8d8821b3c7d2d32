// Decoding at the shown size: libjpeg's scaled decode at the scale chosen
// for a request, against djpeg (and the full-size fallback for progressive
// pictures), a full-size consumer beside a view in a running pipeline, and
// the picture quality of a scaled decode against a full decode shrunk the
// way the view shrinks it.
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
  std::string Source = ScratchDir() + "/card.ppm", Baseline = ScratchDir() + "/card.jpg",
              Progressive = ScratchDir() + "/card_prog.jpg";
  bool Made = Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080 -frames:v 1 " + Source) == 0 &&
              Run("cjpeg -quality 90 " + Source + " > " + Baseline) == 0 &&
              Run("jpegtran -progressive " + Baseline + " > " + Progressive) == 0;
};
const TCard& Card() {
  static const TCard card;
  return card;
}
#define NEED_CARD() KZ_NEED(Card().Made, "ffmpeg, cjpeg and jpegtran make the test card")

// Our decoding of File for Want, and djpeg's at 1/Denom.
bool Decode(const std::string& File, TKzDecodeSize Want, TKzMBitmap& B, int32_t* Denom = nullptr) {
  TFileStream f(File, TFileMode::fmOpenRead);
  TMemoryStream m;
  m.CopyFrom(f, 0);
  m.SetPosition(0);
  return ReadJpegStreamScaled(m, B, 0, Want, Denom);
}
TKzMBitmap Djpeg(const std::string& File, int Denom) {
  const std::string out = ScratchDir() + "/djpeg.ppm";
  TKzMBitmap b;
  EXPECT_EQ(Run("djpeg -scale 1/" + std::to_string(Denom) + " -ppm " + File + " > " + out), 0);
  EXPECT_TRUE(ReadPNM(out, b));
  return b;
}

// ffmpeg's psnr filter: the average PSNR of B against the picture in Reference.
double Psnr(const TKzMCustomBitmap& B, const std::string& Reference) {
  const std::string ppm = ScratchDir() + "/psnr.ppm", log = ScratchDir() + "/psnr.txt";
  std::string d = "P6\n" + std::to_string(B.Width()) + " " + std::to_string(B.Height()) + "\n255\n";
  for (int64_t p = 0; p < B.GetLength(); ++p)
    for (int shift : {16, 8, 0}) d += static_cast<char>(B.Data()[p] >> shift);
  WriteFile(ppm, d);
  if (Run("ffmpeg -v info -i " + ppm + " -i " + Reference + " -lavfi psnr -f null - 2> " + log) != 0) return -1;
  const std::string s = ReadFile(log);
  const size_t at = s.rfind("average:");
  return at == std::string::npos ? -1 : std::atof(s.c_str() + at + 8);
}

// Keeps the last frame and asks for Request (width << 32 | height; 0 is full
// size, what a consumer that says nothing gets).
struct TKeeper : IKzCamViewConsumer, IKzCamRecorderConsumer {
  std::atomic<uint64_t> Request{0};
  std::mutex Lock;
  TKzMBitmap Last;
  int Frames = 0;
  TKzDecodeSize DecodeSizeRequest() const override {
    return {int32_t(Request.load() >> 32), int32_t(Request.load() & 0xFFFFFFFF)};
  }
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& B, bool, uint16_t, const TGUID&) override { Keep(B); }
  void RecorderGetImage(TComponent*, const TKzMBitmap& B, uint16_t, const TGUID&) override { Keep(B); }
  void Keep(const TKzMBitmap& B) {
    std::lock_guard<std::mutex> g(Lock);
    Last.AssignKzMBitmap(B);
    ++Frames;
  }
  // Waits for frame N and returns a copy of it.
  TKzMBitmap WaitFrame(int N) {
    EXPECT_TRUE(PumpUntil([&] { std::lock_guard<std::mutex> g(Lock); return Frames >= N; }, 10000));
    std::lock_guard<std::mutex> g(Lock);
    return Last;
  }
};

}  // namespace

TEST(DecodeSize, ScaledDecodeEqualsDjpegAndProgressiveFallsBackToFullSize) {
  NEED_CARD();
  const struct {
    std::string File;
    TKzDecodeSize Want;
    int32_t Denom;
  } rows[] = {
      {Card().Baseline, {480, 270}, 4}, {Card().Baseline, {481, 270}, 2},    {Card().Baseline, {480, 271}, 2},
      {Card().Baseline, {200, 100}, 8}, {Card().Baseline, {}, 1},            {Card().Progressive, {480, 270}, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.File + " " + std::to_string(r.Want.Width) + "x" + std::to_string(r.Want.Height));
    TKzMBitmap b;
    int32_t denom = 0;
    ASSERT_TRUE(Decode(r.File, r.Want, b, &denom));
    EXPECT_EQ(denom, r.Denom);
    EXPECT_EQ(b.SourceWidth() * 10000 + b.SourceHeight(), 1920 * 10000 + 1080);
    EXPECT_EQ(FirstDifference(b, Djpeg(r.File, r.Denom)), "");
  }
}

TEST(DecodeSize, AFullSizeConsumerBesideAViewGetsFullFramesAndAChangeShowsAtTheNextFrame) {
  NEED_CARD();
  const std::vector<uint8_t> jpeg = ReadFile<std::vector<uint8_t>>(Card().Baseline);
  TComponent owner(nullptr);
  TKzConsumerLists lists;
  TKeeper view, recorder;
  view.Request = uint64_t(480) << 32 | 270;
  lists.CamViews = {&view};
  lists.CamRecorders = {&recorder};
  auto* fetch = new TKzGetData(&owner, lists, TGUID{}, 8192);
  fetch->Run();
  int sent = 0;
  const auto frame = [&] {
    fetch->CopyFromBuffer(jpeg.data(), static_cast<int64_t>(jpeg.size()));
    return view.WaitFrame(++sent);
  };
  // The recorder wants full size: so does everybody.
  EXPECT_EQ(frame().Width(), 1920);
  EXPECT_EQ(FirstDifference(recorder.WaitFrame(1), Djpeg(Card().Baseline, 1)), "");
  // Views only: a quarter, still knowing its source.
  fetch->Decode().Paint().LockDisplay();
  {
    std::lock_guard<std::mutex> g(lists.ShapeLock);
    lists.CamRecorders.clear();
  }
  fetch->Decode().Paint().UnlockDisplay();
  const TKzMBitmap quarter = frame();
  EXPECT_EQ(FirstDifference(quarter, Djpeg(Card().Baseline, 4)), "");
  EXPECT_EQ(quarter.SourceWidth(), 1920);
  TKzMBitmap snapshot;  // snapshots are of the source's picture
  ASSERT_TRUE(fetch->Decode().NewestFrameFullSize(snapshot));
  EXPECT_EQ(FirstDifference(snapshot, Djpeg(Card().Baseline, 1)), "");
  // The view asks for full size (full screen): the very next frame is; so
  // is every frame with DecodeToViewSize off.
  view.Request = 0;
  EXPECT_EQ(frame().Width(), 1920);
  view.Request = uint64_t(480) << 32 | 270;
  lists.DecodeToViewSize = false;
  EXPECT_EQ(frame().Width(), 1920);
  EXPECT_EQ(lists.ScaleCounts.Summary(), "1/1: 3, 1/4: 1");
  KzMFreeThread(fetch);
}

TEST(DecodeSize, QuarterDecodeLooksAsGoodAsAFullDecodeShrunkByTheView) {
  NEED_CARD();
  const std::string reference = ScratchDir() + "/ref.ppm";
  ASSERT_EQ(kztest::Run("ffmpeg -v error -y -i " + Card().Source + " -vf scale=480:270:flags=area " + reference), 0);
  TKzMBitmap quarter, full, shrunk(480, 270);
  ASSERT_TRUE(Decode(Card().Baseline, {480, 270}, quarter));
  ASSERT_TRUE(Decode(Card().Baseline, TKzDecodeSize::Full(), full));
  TCanvas canvas(camview_detail::SurfaceOf(shrunk));
  canvas.StretchBitmap(camview_detail::SurfaceOf(full), full.ClientRect(), shrunk.ClientRect(),
                       camview_detail::StretchQualityOf(TKzMFrameScaleQuality::kzmfscNormal));
  const double psnrQuarter = Psnr(quarter, reference), psnrShrunk = Psnr(shrunk, reference);
  ASSERT_GT(psnrQuarter, 0);
  ASSERT_GT(psnrShrunk, 0);
  std::printf("PSNR against an area-averaged 480x270: quarter decode %.2f dB, full decode shrunk %.2f dB\n",
              psnrQuarter, psnrShrunk);
  EXPECT_GE(psnrQuarter, psnrShrunk - 2.0);
}
