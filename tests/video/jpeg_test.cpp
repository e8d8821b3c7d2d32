// JPEG decoding and encoding against the real libjpeg-turbo tools, the JPEG
// structure check, PNG and BMP interchange with ImageMagick, and Motion-JPEG
// files read back by ffmpeg.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include "tests/video/kzimagetestutil.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzImageFiles.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzLibJpeg.h"

using namespace kz;
using kztest::CorpusPath;
using kztest::FirstDifference;

namespace {

TKzMBitmap Reference(const std::string& Name) {
  TKzMBitmap ref;
  EXPECT_TRUE(kztest::ReadPNM(CorpusPath(Name + ".pnm"), ref)) << Name;
  return ref;
}

void Fill(TMemoryStream& s, const std::vector<uint8_t>& Bytes) {
  s.Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  s.SetPosition(0);
}

}  // namespace

TEST(JpegDecode, BitExactWithDjpegOverTheCorpusOnEveryBackEnd) {
  const auto& corpus = kztest::JpegCorpus();
  ASSERT_FALSE(corpus.empty());
  ASSERT_TRUE(KzLibJpegAvailable()) << "libjpeg.so.62 should load here";
  EXPECT_TRUE(KzLibJpegHasExtendedColours());
  for (const auto& f : corpus) {
    const TKzMBitmap ref = Reference(f.Name);
    const std::vector<uint8_t> bytes = kztest::ReadFile<std::vector<uint8_t>>(CorpusPath(f.Name));

    TKzImageWrapper lib;
    EXPECT_EQ(lib.CurCoderTypeL, TKzCoderType::kzctLibJpeg);
    TMemoryStream s;
    Fill(s, bytes);
    ASSERT_TRUE(lib.LoadFromStream(s)) << f.Kind << ": " << lib.ErrorText();
    EXPECT_EQ(FirstDifference(lib.GetBitmap(), ref), "") << f.Kind << " through libjpeg";

    TKzImageWrapper standard;
    standard.SetCoderType(TKzCoderType::kzctStandart);
    ASSERT_TRUE(standard.LoadFromFile(CorpusPath(f.Name))) << f.Kind << ": " << standard.ErrorText();
    EXPECT_EQ(FirstDifference(standard.GetBitmap(), ref), "") << f.Kind << " through TurboJPEG";
  }
}

TEST(JpegDecode, StreamPositionCountAndFailures) {
  ASSERT_FALSE(kztest::JpegCorpus().empty());
  const std::vector<uint8_t> a = kztest::ReadFile<std::vector<uint8_t>>(CorpusPath("b420.jpg"));
  const std::vector<uint8_t> b = kztest::ReadFile<std::vector<uint8_t>>(CorpusPath("odd.jpg"));
  std::vector<uint8_t> both(a);
  both.insert(both.end(), b.begin(), b.end());
  TMemoryStream s;
  Fill(s, both);
  TKzImageWrapper w;
  ASSERT_TRUE(w.LoadFromStream(s));
  EXPECT_EQ(w.GetBitmap().Width(), 640);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(a.size())) << "left right after the first picture";
  TKzMBitmap second;
  ASSERT_TRUE(w.LoadFromStream(s, static_cast<int64_t>(b.size()), &second));
  EXPECT_EQ(FirstDifference(second, Reference("odd.jpg")), "");

  // Count cuts the picture short: it still completes, like djpeg's.
  s.SetPosition(0);
  ASSERT_TRUE(w.LoadFromStream(s, static_cast<int64_t>(a.size() * 6 / 10)));
  EXPECT_EQ(FirstDifference(w.GetBitmap(), Reference("trunc.jpg")), "");

  // Broken data fails on both back ends with a reason, never throws.
  std::vector<uint8_t> badSof(a);
  for (size_t i = 0; i + 8 < badSof.size(); ++i)
    if (badSof[i] == 0xFF && badSof[i + 1] == 0xC0) {
      badSof[i + 5] = badSof[i + 6] = 0;  // height 0
      break;
    }
  const std::vector<std::vector<uint8_t>> bad = {
      {}, {0xFF, 0xD8}, {0xFF, 0xD8, 0xFF, 0xD9}, {'h', 'e', 'l', 'l', 'o'}, badSof,
      std::vector<uint8_t>(a.begin(), a.begin() + 300)};  // ends inside the tables
  for (TKzCoderType type : {TKzCoderType::kzctAuto, TKzCoderType::kzctStandart}) {
    for (size_t i = 0; i < bad.size(); ++i) {
      TKzImageWrapper e;
      e.SetCoderType(type);
      TMemoryStream bs;
      Fill(bs, bad[i]);
      EXPECT_FALSE(e.LoadFromStream(bs)) << "case " << i;
      EXPECT_TRUE(e.IsImgError);
      EXPECT_FALSE(e.ErrorText().empty()) << "case " << i;
    }
  }
  TKzMBitmap luma;
  for (size_t i = 0; i < bad.size(); ++i)
    EXPECT_FALSE(ReadJpegLuma(bad[i].data(), bad[i].size(), luma, {160, 120})) << "case " << i;
}

// The luminance decode for motion watching: djpeg's greyscale output at the
// scale taken (the fast inverse DCT), pixel for pixel, over every kind of
// file in the corpus, the source's size recorded.
TEST(JpegDecode, LumaMatchesDjpegGreyscale) {
  for (const auto& f : kztest::JpegCorpus()) {
    const std::vector<uint8_t> bytes = kztest::ReadFile<std::vector<uint8_t>>(CorpusPath(f.Name));
    TKzMBitmap luma;
    int32_t denom = 0;
    ASSERT_TRUE(ReadJpegLuma(bytes.data(), bytes.size(), luma, {160, 120}, &denom)) << f.Kind;
    const std::string grey = CorpusPath(f.Name) + ".grey.pnm";
    ASSERT_LE(kztest::Run("djpeg -grayscale -dct fast -scale 1/" + std::to_string(denom) + " " + CorpusPath(f.Name) +
                          " > " + grey + " 2>/dev/null"),
              2);
    TKzMBitmap expected;
    ASSERT_TRUE(kztest::ReadPNM(grey, expected)) << f.Kind;
    EXPECT_EQ(FirstDifference(luma, expected), "") << f.Kind << " at 1/" << denom;
    const TKzMBitmap full = Reference(f.Name);
    EXPECT_EQ(luma.SourceWidth(), full.Width()) << f.Kind;
    EXPECT_EQ(luma.SourceHeight(), full.Height()) << f.Kind;
  }
}

TEST(JpegEncode, MatchesCjpegAtTheSameSettings) {
  ASSERT_FALSE(kztest::JpegCorpus().empty());
  TKzMBitmap src;
  ASSERT_TRUE(kztest::ReadPNM(CorpusPath("src.ppm"), src));
  for (int q : {KzDefaultJpegQuality, 90, 75, 30}) {
    const std::string ours = CorpusPath("ours" + std::to_string(q) + ".jpg");
    const std::string theirs = CorpusPath("cjpeg" + std::to_string(q) + ".jpg");
    ASSERT_EQ(kztest::Run("cjpeg -quality " + std::to_string(q) + " " + CorpusPath("src.ppm") + " > " + theirs), 0);
    TKzImageWrapper w;
    ASSERT_TRUE(w.SaveToFile(ours, &src, q));
    EXPECT_TRUE(kztest::ReadFile(ours) == kztest::ReadFile(theirs)) << "libjpeg at quality " << q;

    // TurboJPEG makes the same choices (4:2:0, accurate DCT, standard tables).
    TMemoryStream tj;
    ASSERT_TRUE(KzCodecEncodeJPEG(src, tj, q));
    EXPECT_TRUE(std::vector<uint8_t>(tj.Memory(), tj.Memory() + tj.Size()) == kztest::ReadFile<std::vector<uint8_t>>(theirs))
        << "TurboJPEG at quality " << q;
  }
  // A comment lands in a COM marker that djpeg's tools see.
  TMemoryStream c;
  ASSERT_TRUE(WriteJpegStream(src, c, 80, "kz camera 7"));
  const std::string withComment = CorpusPath("comment.jpg");
  kztest::WriteFile<std::vector<uint8_t>>(withComment, std::vector<uint8_t>(c.Memory(), c.Memory() + c.Size()));
  EXPECT_EQ(kztest::Run("rdjpgcom " + withComment + " | grep -q 'kz camera 7'"), 0);
}

TEST(JpegIntegrity, WalksMarkerSegments) {
  const auto& corpus = kztest::JpegCorpus();
  ASSERT_FALSE(corpus.empty());
  for (const auto& f : corpus) {
    const std::vector<uint8_t> d = kztest::ReadFile<std::vector<uint8_t>>(CorpusPath(f.Name));
    const bool truncated = f.Name == "trunc.jpg";
    const size_t end = f.Name == "garbage.jpg" ? d.size() - 3000 : d.size();
    for (TKzJpegIntegrity mode : {TKzJpegIntegrity::kzjiFast, TKzJpegIntegrity::kzjiFull}) {
      size_t len = 0;
      EXPECT_EQ(KzCheckJpegIntegrity(d.data(), d.size(), len, mode), !truncated) << f.Kind;
      if (!truncated) {
        EXPECT_EQ(len, end) << f.Kind;
      }
    }
    size_t len = 0;
    EXPECT_FALSE(KzCheckJpegIntegrity(d.data(), d.size(), len, TKzJpegIntegrity::kzjiNone));
  }

  const std::vector<uint8_t> base = kztest::ReadFile<std::vector<uint8_t>>(CorpusPath("b420.jpg"));
  auto withBeforeEOI = [&](const std::vector<uint8_t>& Insert) {
    std::vector<uint8_t> v(base.begin(), base.end() - 2);
    v.insert(v.end(), Insert.begin(), Insert.end());
    v.push_back(0xFF);
    v.push_back(0xD9);
    return v;
  };
  struct Case {
    const char* Name;
    std::vector<uint8_t> Data;
    bool Fast, Full;
  } cases[] = {
      {"frame header after a scan", withBeforeEOI({0xFF, 0xC0, 0, 11, 8, 0, 1, 0, 1, 1, 1, 0x11, 0}), false, false},
      {"marker inside a table segment", withBeforeEOI({0xFF, 0xF7, 0, 6, 1, 0xFF, 0xD8, 2}), true, false},
      {"marker inside a comment", withBeforeEOI({0xFF, 0xFE, 0, 6, 1, 0xFF, 0xD8, 2}), true, true},
      {"segment past the end", {0xFF, 0xD8, 0xFF, 0xE0, 0x10, 0x00, 1, 2, 3}, false, false},
      {"no end marker", {0xFF, 0xD8, 0xFF, 0xDD, 0, 4, 0, 1}, false, false},
      {"restart interval then end", {0xFF, 0xD8, 0xFF, 0xDD, 0, 4, 0, 1, 0xFF, 0xD9}, true, true},
      {"not a marker", {0x00, 0xD8, 0xFF, 0xD9}, false, false},
  };
  for (const Case& c : cases) {
    size_t len = 0;
    EXPECT_EQ(KzCheckJpegIntegrity(c.Data.data(), c.Data.size(), len, TKzJpegIntegrity::kzjiFast), c.Fast) << c.Name;
    EXPECT_EQ(KzCheckJpegIntegrity(c.Data.data(), c.Data.size(), len, TKzJpegIntegrity::kzjiFull), c.Full) << c.Name;
  }

  // Through a stream that starts with other bytes: Position is where the walk began.
  std::vector<uint8_t> prefixed = {1, 2, 3};
  prefixed.insert(prefixed.end(), base.begin(), base.end());
  TMemoryStream s;
  Fill(s, prefixed);
  s.SetPosition(3);
  int64_t pos = -1, length = -1;
  EXPECT_TRUE(CheckJpegIntegrity(s, pos, length, TKzJpegIntegrity::kzjiFast));
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(length, static_cast<int64_t>(base.size()));
  EXPECT_EQ(s.Position(), 3);

  // CheckJPEG counts whole pictures across arbitrary buffer splits.
  std::vector<uint8_t> three;
  for (int i = 0; i < 3; ++i) three.insert(three.end(), base.begin(), base.end());
  three.push_back(0xFF);  // a fourth that never ends
  three.push_back(0xD8);
  for (size_t chunk : {size_t(1), size_t(2), size_t(4095), three.size()}) {
    TKzJpegScanState st;
    int32_t total = 0;
    for (size_t i = 0; i < three.size(); i += chunk)
      total += CheckJPEG(three.data() + i, std::min(chunk, three.size() - i), st);
    EXPECT_EQ(total, 3) << chunk;
    EXPECT_TRUE(st.InImage);
  }
}

// Without alpha, and for BMP, the interchange with ImageMagick below pins the
// pixels both ways; a picture with alpha comes back exactly from PNG.
TEST(PngBmp, AlphaRoundTripsExactlyThroughPng) {
  TKzMBitmap b(33, 17);
  kztest::FillNoise(b, 9, true);
  TMemoryStream png;
  ASSERT_TRUE(KzCodecEncodePNG(b, png));
  TKzMBitmap back;
  std::string error;
  ASSERT_TRUE(KzCodecDecode(png.Memory(), static_cast<size_t>(png.Size()), back, &error)) << error;
  EXPECT_EQ(FirstDifference(back, b), "");
}

TEST(PngBmp, InterchangeWithImageMagick) {
  ASSERT_FALSE(kztest::JpegCorpus().empty());
  const std::string im = kztest::ConvertTool();
  TKzMBitmap odd;  // 321 wide: 24-bit BMP rows carry 1 fill byte
  ASSERT_TRUE(kztest::ReadPNM(CorpusPath("odd.ppm"), odd));
  struct Case {
    const char* Out;
    const char* Options;
    const char* Format;  // before the output's name
  } made[] = {
      {"im24.bmp", "-type truecolor", "bmp3:"}, {"im32.bmp", "-type truecoloralpha", "bmp3:"}, {"im.png", "", ""},
      {"im16.png", "-depth 16", ""},            {"imgrey.png", "-colorspace gray -type grayscale", ""},
  };
  for (const Case& c : made) {
    const std::string path = CorpusPath(c.Out);
    ASSERT_EQ(kztest::Run(im + " " + CorpusPath("odd.ppm") + " " + c.Options + " " + c.Format + path), 0) << c.Out;
    TKzImageWrapper w;
    ASSERT_TRUE(w.LoadFromFile(path)) << c.Out << ": " << w.ErrorText();
    if (std::string(c.Out) == "imgrey.png") {
      TKzMBitmap grey;
      ASSERT_EQ(kztest::Run(im + " " + path + " " + CorpusPath("imgrey.ppm")), 0);
      ASSERT_TRUE(kztest::ReadPNM(CorpusPath("imgrey.ppm"), grey));
      EXPECT_EQ(FirstDifference(w.GetBitmap(), grey), "") << c.Out;
    } else {
      EXPECT_EQ(FirstDifference(w.GetBitmap(), odd), "") << c.Out;
    }
  }
  // And ImageMagick reads ours.
  for (const char* name : {"ours.png", "ours.bmp"}) {
    std::string error;
    ASSERT_TRUE(KzWriteImageFile(odd, CorpusPath(name), error)) << error;
    const std::string ppm = CorpusPath(std::string(name) + ".ppm");
    ASSERT_EQ(kztest::Run(im + " " + CorpusPath(name) + " " + ppm), 0);
    TKzMBitmap back;
    ASSERT_TRUE(kztest::ReadPNM(ppm, back));
    EXPECT_EQ(FirstDifference(back, odd), "") << name;
  }
}

TEST(MotionJpeg, FfmpegReadsEveryFrameBack) {
  ASSERT_FALSE(kztest::JpegCorpus().empty());
  TKzMBitmap frame;
  ASSERT_TRUE(kztest::ReadPNM(CorpusPath("odd.ppm"), frame));
  const std::string path = CorpusPath("out.mjpeg");
  constexpr int Frames = 7;
  {
    TFileStream f(path, TFileMode::fmCreate);
    ASSERT_TRUE(f.Valid());
    for (int i = 0; i < Frames; ++i) {
      frame.FillRect(TRect(i * 10, 0, i * 10 + 10, 10), 0xFFFF0000);
      ASSERT_TRUE(SaveToStreamMJPEG(f, frame));
    }
  }
  const std::string md5 = CorpusPath("out.framemd5");
  ASSERT_EQ(kztest::Run("ffmpeg -v error -y -f mpjpeg -i " + path + " -f framemd5 " + md5), 0);
  const std::string text = kztest::ReadFile(md5);
  int frames = 0;
  bool lineStart = true;
  for (char ch : text) {
    if (lineStart && ch != '#') ++frames;
    lineStart = ch == '\n';
  }
  EXPECT_EQ(frames, Frames);

  // The part header for a picture of 1234 bytes.
  std::vector<uint8_t> jpeg(1234, 0x5A);
  TMemoryStream s;
  ASSERT_TRUE(KzWriteMJPEGPart(s, jpeg.data(), jpeg.size()));
  const std::string head = "--myboundary\r\nContent-length: 1234\r\nContent-type: image/jpeg\r\n\r\n";
  ASSERT_EQ(s.Size(), static_cast<int64_t>(head.size() + 1234));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), head.size()), head);
}

TEST(ImageFiles, ConvertByExtensionWithOneLineErrors) {
  ASSERT_FALSE(kztest::JpegCorpus().empty());
  std::string error;
  for (const char* out : {"conv.ppm", "conv.png", "conv.bmp"}) {
    ASSERT_TRUE(KzConvertImageFile(CorpusPath("b444.jpg"), CorpusPath(out), error)) << error;
    TKzMBitmap back;
    ASSERT_TRUE(KzDecodeImageFile(CorpusPath(out), back, error) ||
                kztest::ReadPNM(CorpusPath(out), back)) << out;
    EXPECT_EQ(FirstDifference(back, Reference("b444.jpg")), "") << out;
  }
  kztest::WriteFile(CorpusPath("junk.jpg"), {'n', 'o', 'p', 'e'});
  EXPECT_FALSE(KzConvertImageFile(CorpusPath("junk.jpg"), CorpusPath("x.png"), error));
  EXPECT_NE(error.find("junk.jpg: "), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_FALSE(KzConvertImageFile(CorpusPath("b420.jpg"), CorpusPath("x.gif"), error));
  EXPECT_NE(error.find("unknown output format"), std::string::npos) << error;
  EXPECT_FALSE(KzConvertImageFile(CorpusPath("missing.jpg"), CorpusPath("x.png"), error));
}
