// With libjpeg impossible to load at run time, the image wrapper falls back
// to the platform codecs, which still decode and encode JPEG.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include "tests/video/kzimagetestutil.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzLibJpeg.h"

using namespace kz;

namespace {
// Before anything binds libjpeg: only a name that cannot exist.
const bool LibJpegHidden = (KzLibJpegSetLibraryNames({"libkz-missing-jpeg.so.62"}), true);
}  // namespace

TEST(JpegFallback, PlatformCodecsTakeOverWhenLibjpegCannotLoad) {
  ASSERT_TRUE(LibJpegHidden);
  EXPECT_FALSE(KzLibJpegAvailable());
  for (TKzCoderType asked : {TKzCoderType::kzctAuto, TKzCoderType::kzctLibJpeg, TKzCoderType::kzctIntelJpeg,
                             TKzCoderType::kzctImgDecmp, TKzCoderType::kzctStandart}) {
    TKzImageWrapper w;
    w.SetCoderType(asked);
    EXPECT_EQ(w.CoderType(), asked);
    EXPECT_EQ(w.CurCoderTypeL, TKzCoderType::kzctStandart);
    EXPECT_EQ(w.CurCoderTypeS, TKzCoderType::kzctStandart);
  }

  // The platform decoder's pictures against djpeg's: jpeg_test, every corpus file.
  ASSERT_FALSE(kztest::JpegCorpus().empty());
  TKzImageWrapper w;
  TKzMBitmap ref;
  ASSERT_TRUE(kztest::ReadPNM(kztest::CorpusPath("b420.jpg.pnm"), ref));
  ASSERT_TRUE(w.LoadFromFile(kztest::CorpusPath("b420.jpg"))) << w.ErrorText();
  EXPECT_EQ(kztest::FirstDifference(w.GetBitmap(), ref), "");

  // Encoding (and so Motion-JPEG files) works too; the direct libjpeg calls refuse.
  TMemoryStream jpeg;
  ASSERT_TRUE(w.SaveToStream(jpeg));
  jpeg.SetPosition(0);
  TKzMBitmap back;
  ASSERT_TRUE(w.LoadFromStream(jpeg, 0, &back));
  EXPECT_EQ(back.Width(), w.GetBitmap().Width());
  TMemoryStream mjpeg;
  EXPECT_TRUE(SaveToStreamMJPEG(mjpeg, back));
  TMemoryStream direct;
  EXPECT_FALSE(WriteJpegStream(back, direct, 90));
  EXPECT_EQ(KzLibJpegLastError(), "libjpeg is not available");
}
