// HWL pictures: the layout's rules, untrusted streams, an independent Python
// codec in both directions, golden streams and the quality ffmpeg measures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <type_traits>

#include "tests/kztestneed.h"
#include "tests/video/kzimagetestutil.h"
#include "video/Fmxmkzwavecodes.h"
#include "video/Fmxmkzwavefuncs.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzImageFiles.h"

using namespace kz;
using namespace kztest;

namespace {

using TBytes = std::vector<uint8_t>;

// A picture from integers only, the same on every compiler.
void Pattern(TKzMCustomBitmap& B, int32_t W, int32_t H, bool Grey) {
  B.SetSize(W, H);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const uint32_t r = (x * 3 + y * 5 + ((x * y) >> 4)) & 255, g = (128 + ((x - W / 2) * (y - H / 2) >> 3)) & 255,
                     b = (x / 8 + y / 8) % 2 ? 200u : 30u;
      B.ScanLine(y)[x] = 0xFF000000u | (Grey ? r << 16 | r << 8 | r : r << 16 | g << 8 | b);
    }
}

// Codes Picture in the sender's calling order (Depth, Bits: -1 keeps what
// the quality gives).
TBytes Code(TWavelet& W, const TKzMCustomBitmap& Picture, int32_t Quality, bool Grey = false, int32_t Depth = -1,
            int32_t Bits = -1) {
  W.SetSourceImage(Picture);
  W.SetDefault();
  W.SetCompressionQuality(Quality);
  W.pic_bpp = Grey ? 8 : 24;
  if (Depth >= 0) W.pic_subdivisiondepth = Depth;
  if (Bits > 0) W.pic_quantbitsy = W.pic_quantbitsu = W.pic_quantbitsv = Bits;
  TMemoryStream s;
  EXPECT_TRUE(W.WriteHWLToStream(s));
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

// Reads Stream into planes, or into a decoder's picture.
template <class TInto>
bool Read(const TBytes& Stream, TInto& Out) {
  TMemoryStream s;
  s.Write(Stream.data(), static_cast<int64_t>(Stream.size()));
  s.SetPosition(0);
  if constexpr (std::is_same_v<TInto, TWavelet>)
    return Out.ReadHWLFromStream(s);
  else
    return ReadHWLFromStream(s, Out);
}

HWL_Header HeaderOf(const TBytes& Stream) {
  HWL_Header h;
  KzGetHWLHeader(Stream.data(), h);
  return h;
}

}  // namespace

// The quality table's settings are pinned by the golden streams below.
TEST(HWL, DepthLimitOfACameraFrame) {
  TWavelet w;
  // A 640 x 480 camera frame travels as 641 x 481 with five levels, the
  // final band 20 x 15; the receiver's size is the camera's.
  TKzMBitmap frame;
  Pattern(frame, 640, 480, false);
  const HWL_Header h = HeaderOf(Code(w, frame, 0));
  EXPECT_EQ(std::make_tuple(h.width, h.height, h.depth), std::make_tuple(641, 481, 4));
  EXPECT_EQ(w.MaxSubdivisionSpin, 4);
  EXPECT_EQ(w.BitmapHWL().Width(), 641);
}

TEST(HWL, GreyPicturesAndZeroRuns) {
  // An equal-RGB file is coded as grey: one factor table, one plane.
  const std::string file = ScratchDir() + "/grey.png";
  TKzMBitmap grey;
  Pattern(grey, 63, 40, true);
  std::string error;
  ASSERT_TRUE(KzWriteImageFile(grey, file, error)) << error;
  TWavelet w;
  ASSERT_TRUE(w.LoadFileBMP(file)) << w.LastError();
  TMemoryStream s;
  ASSERT_TRUE(w.WriteHWLToStream(s));
  const TBytes g(s.Memory(), s.Memory() + s.Size());
  HWL_Header h = HeaderOf(g);
  EXPECT_EQ(std::make_tuple(h.bpp, h.width, h.bitsg, h.bitsb, h.datag, h.datab), std::make_tuple(8, 64, 0, 0, 0, 0));
  EXPECT_EQ(g.size(), HWL_HeaderSize + 8u * (h.depth + 2) + (h.bitsr + 3) / 4 + (h.datar * h.quantbitsy + 7) / 8);

  // Zero runs: (b+4) div 2 further zeros stay single codes 0, one more makes
  // a run pair; an all-zero plane is runs of at most 2^(b+2) and a last code 0.
  for (int32_t bits : {1, 4, 8}) {
    SCOPED_TRACE(bits);
    const int32_t n = 2 * 2 * 4096, limit = (bits + 4) / 2;
    std::vector<int32_t> q(n, 0);
    std::vector<double> f(2, 0.0);
    for (int32_t extra : {limit, limit + 1}) {
      std::fill(q.begin(), q.end(), 0);
      q[0] = q[extra + 2] = 1;
      for (int32_t i = extra + 3; i < n; ++i) q[i] = 1;
      TMemoryStream z;
      ASSERT_TRUE(
          WriteHWLToStream(z, q.data(), nullptr, nullptr, 128, n / 128, 8, 0, f.data(), nullptr, nullptr, bits, 8, 8));
      THWLPlanes back;
      ASSERT_TRUE(Read(TBytes(z.Memory(), z.Memory() + z.Size()), back));
      EXPECT_EQ(back.Q[0], q);
      const uint8_t firstCodes = z.Memory()[HWL_HeaderSize + 16];
      EXPECT_EQ((firstCodes >> 2) & 3, extra > limit ? 1 : 0) << extra;
    }
    std::fill(q.begin(), q.end(), 0);
    TMemoryStream z;
    ASSERT_TRUE(
        WriteHWLToStream(z, q.data(), nullptr, nullptr, 128, n / 128, 8, 0, f.data(), nullptr, nullptr, bits, 8, 8));
    h = HeaderOf(TBytes(z.Memory(), z.Memory() + HWL_HeaderSize));
    const int64_t run = int64_t{1} << (bits + 2), full = (n - 1) / run, rest = (n - 1) % run;
    EXPECT_EQ(h.bitsr, 2 * full + (rest - 1 > limit ? 2 : rest) + 1);
    const uint8_t last = z.Memory()[HWL_HeaderSize + 16 + (h.bitsr - 1) / 4];
    EXPECT_EQ((last >> (2 * ((h.bitsr - 1) % 4))) & 3, 0);
  }
  // A black picture: both extremes of every band 0, so every factor 0.
  TKzMBitmap black(32, 32);
  black.FillData(0);
  THWLPlanes planes;
  TWavelet coder;
  ASSERT_TRUE(Read(Code(coder, black, 100, true, 3), planes));
  EXPECT_EQ(planes.F[0], std::vector<double>(5, 0.0));
}

TEST(HWL, UntrustedStreamsAreRefusedOrDecodeWhatTheyHold) {
  TWavelet coder;
  TKzMBitmap pic;
  Pattern(pic, 64, 48, false);
  const TBytes good = Code(coder, pic, 75);
  THWLPlanes planes, ref;
  ASSERT_TRUE(Read(good, ref));
  struct TCase {
    const char* Name;
    size_t Offset;  // byte changed, or the length kept when Cut
    uint8_t Value;
    bool Cut, Accepted;
  } cases[] = {
      {"38 bytes", 38, 0, true, false},        {"block missing a byte", good.size() - 1, 0, true, false},
      {"bpp 16", 10, 16, false, false},        {"depth 16 on 65 x 49", 11, 16, false, false},
      {"no bits", 36, 0, false, false},        {"17 bits", 37, 17, false, false},
      {"width 1", 6, 1, false, false},         {"codes above width x height", 15, 1, false, false},
      {"ID not checked", 0, 'X', false, true}, {"no bits for U", 37, 0, false, false},
  };
  for (const TCase& c : cases) {
    TBytes b = good;
    if (c.Cut)
      b.resize(c.Offset);
    else
      b[c.Offset] = c.Value;
    TWavelet decoder;
    EXPECT_EQ(Read(b, planes), c.Accepted) << c.Name;
    EXPECT_EQ(Read(b, decoder), c.Accepted) << c.Name;
  }
  // Fewer values than the codes need: what the values reach decodes, the
  // rest of the plane is 0. A NaN factor counts as 0.
  TBytes fewer = good;
  fewer[24] = 10, fewer[25] = fewer[26] = fewer[27] = 0;  // datar = 10
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(&fewer[HWL_HeaderSize], &nan, 8);
  ASSERT_TRUE(Read(fewer, planes));
  EXPECT_EQ(planes.F[0][0], 0.0);
  const auto nonzero = [](const std::vector<int32_t>& q) { return q.size() - std::count(q.begin(), q.end(), 0); };
  EXPECT_LE(nonzero(planes.Q[0]), 10u);
  EXPECT_GT(nonzero(ref.Q[0]), 10u);
}

TEST(HWL, IndependentCodecAgreesBothWays) {
  KZ_NEED(kztest::Run("python3 -c 'import struct' >/dev/null 2>&1") == 0, "python3");
  const struct {
    int32_t W, H;
    bool Grey;
    int32_t Depth, Bits;
  } rows[] = {{256, 256, false, 7, 8}, {256, 256, true, 6, 1}, {64, 48, false, 3, 2}, {64, 48, true, 2, 3},
              {33, 20, false, 0, 5},   {96, 64, true, 4, 6},   {48, 32, false, 1, 7}, {64, 64, true, 5, 4}};
  const std::string dir = ScratchDir();
  std::ofstream jobs(dir + "/jobs");
  std::vector<TBytes> ours;
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& r = rows[i];
    TWavelet w;
    TKzMBitmap pic;
    Pattern(pic, r.W - 1, r.H - 1, r.Grey);
    ours.push_back(Code(w, pic, 50, r.Grey, r.Depth, r.Bits));
    ASSERT_EQ(HeaderOf(ours.back()).depth, r.Depth) << i;
    WriteFile<TBytes>(dir + "/ours" + std::to_string(i), ours.back());
    jobs << "decode " << dir << "/ours" << i << " " << dir << "/ours" << i << ".dump\n";
    jobs << "make " << r.W << " " << r.H << " " << (r.Grey ? 8 : 24) << " " << r.Depth << " " << r.Bits << " "
         << (r.Bits % 8) + 1 << " " << 9 - r.Bits << " " << i << " " << dir << "/py" << i << " " << dir << "/py" << i
         << ".dump\n";
  }
  jobs.close();
  ASSERT_EQ(kztest::Run("python3 " KZ_HWLCODEC " " + dir + "/jobs"), 0);
  for (size_t i = 0; i < std::size(rows); ++i) {
    for (const std::string kind : {"ours", "py"}) {
      SCOPED_TRACE(kind + std::to_string(i));
      const TBytes stream = kind == "ours" ? ours[i] : ReadFile<TBytes>(dir + "/py" + std::to_string(i));
      const TBytes dump = ReadFile<TBytes>(dir + "/" + kind + std::to_string(i) + ".dump");
      THWLPlanes planes;
      ASSERT_TRUE(Read(stream, planes));
      const size_t n = size_t(rows[i].W) * rows[i].H, np = rows[i].Grey ? 1 : 3;
      ASSERT_EQ(dump.size(), n * np * 4 + n * np);
      for (size_t p = 0; p < np; ++p)
        ASSERT_EQ(std::memcmp(dump.data() + p * n * 4, planes.Q[p].data(), n * 4), 0) << "plane " << p;
      TWavelet decoder;
      ASSERT_TRUE(Read(stream, decoder));
      const uint8_t* px = dump.data() + n * np * 4;
      int worst = 0;
      for (size_t k = 0; k < n; ++k)
        for (size_t c = 0; c < np; ++c) {
          const int shift = np == 1 ? 0 : 16 - 8 * static_cast<int>(c);  // R, G, B
          worst = std::max(worst, std::abs(int((decoder.BitmapHWL().Data()[k] >> shift) & 255) - px[k * np + c]));
        }
      EXPECT_LE(worst, 1);
    }
  }
}

// The decoder turns the finest level straight into pixels; the coder's
// preview goes through whole planes. Both must show the same picture.
TEST(HWL, DecoderMatchesCodersPreview) {
  struct {
    int32_t W, H, Quality;
    bool Grey;
  } const cases[] = {{2, 2, 100, false}, {3, 5, 90, true}, {17, 9, 50, false}, {64, 48, 25, false},
                     {63, 47, 75, true}, {101, 38, 10, false}};
  for (const auto& c : cases) {
    TKzMBitmap picture;
    Pattern(picture, c.W, c.H, c.Grey);
    TWavelet coder, decoder;
    const TBytes stream = Code(coder, picture, c.Quality, c.Grey);
    ASSERT_TRUE(Read(stream, decoder));
    const TKzMBitmap& a = coder.BitmapHWL();
    const TKzMBitmap& b = decoder.BitmapHWL();
    ASSERT_EQ(a.GetLength(), b.GetLength()) << c.W << "x" << c.H;
    EXPECT_EQ(0, std::memcmp(a.Data(), b.Data(), static_cast<size_t>(a.GetLength()) * 4)) << c.W << "x" << c.H;
    // The plain build of the decoder gives the pixels the wide one gave.
    THWLPlanes in;
    ASSERT_TRUE(Read(stream, in));
    const int32_t n = in.Header.Planes();
    std::vector<double> work[3];
    double* planes[3] = {};
    const int32_t* quant[3] = {};
    const double* factors[3] = {};
    for (int32_t p = 0; p < n; ++p) {
      work[p].resize(static_cast<size_t>(c.W + 1) * (c.H + 1));
      planes[p] = work[p].data();
      quant[p] = in.Q[p].data();
      factors[p] = in.F[p].data();
    }
    std::vector<uint32_t> plain(work[0].size());
    KzHWLDecodeToPixels(quant, factors, planes, n, c.W + 1, c.H + 1, in.Header.depth, plain.data(), false);
    EXPECT_EQ(0, std::memcmp(plain.data(), b.Data(), plain.size() * 4)) << c.W << "x" << c.H;
    // The plain build of the coder writes the wide one's bytes.
    const int32_t bits[3] = {coder.pic_quantbitsy, coder.pic_quantbitsu, coder.pic_quantbitsv};
    std::vector<int32_t> q[3];
    std::vector<double> f[3];
    int32_t* qs[3];
    double* fs[3];
    for (int32_t p = 0; p < 3; ++p) {
      work[p].resize(plain.size());
      q[p].resize(plain.size());
      f[p].resize(HWL_FactorRoom);
      planes[p] = work[p].data();
      qs[p] = q[p].data();
      fs[p] = f[p].data();
    }
    THWLCodedPlane coded[3];
    KzHWLEncodePixels(coder.pic_bitmap.Data(), c.W + 1, c.H + 1, c.Grey, coder.pic_subdivisiondepth, coder.pic_eps,
                      bits, planes, qs, fs, coded, false);
    TMemoryStream again;
    ASSERT_TRUE(KzHWLWriteCoded(again, c.W + 1, c.H + 1, c.Grey ? 8 : 24, coder.pic_subdivisiondepth, fs, bits, coded));
    EXPECT_EQ(TBytes(again.Memory(), again.Memory() + again.Size()), stream) << c.W << "x" << c.H;
  }
}

TEST(HWL, VectorRoutinesGiveTheScalarNumbers) {
  // Odd lengths and starts leave tails and unaligned loads; NaN, infinities,
  // signed zeros and values at the threshold are in every span.
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> plane;
  uint32_t seed = 7;
  for (int32_t i = 0; i < 203; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double specials[] = {std::nan(""), inf, -inf, -0.0, 0.0, 3.0, -3.0};
    plane.push_back(i % 9 == 0 ? specials[(seed >> 8) % 7] : (static_cast<double>(seed >> 8) / (1 << 20) - 8) * 3);
  }
  for (int64_t start : {0, 1, 3})
    for (int64_t n : {0, 1, 3, 4, 5, 7, 8, 9, 199})
      for (double limit : {-inf, 0.0, 3.0, 12.5})
        for (double from : {0.0, 1e8}) {
          const double* p = plane.data() + start;
          for (int32_t vector : {1, 2})
            EXPECT_EQ(KzHWLKeptMax(p, n, limit, from, vector), KzHWLKeptMax(p, n, limit, from, 0))
                << vector << ": " << start << " " << n << " " << limit;
        }
}

TEST(HWL, GoldenStreams) {
  // SHA-256 of the streams of two fixed pictures, the same under every
  // compiler and build type.
  const char* golden[] = {
      "fab90fa11ebd3c649fc841caccd7d74243ffe0246792de27dc0c66393b8c4a07",
      "0ad1f8537ea7c1582b2d6ebf709118055a4d7f97d9829e4d2991a429ccc9669c",
      "a13dea64dc2f0b4169ea105f9e7fd5dec2d44e9d4644f11d9cc9fc3e04bd182c",
      "ca88cf46a14458945082a602eff679b7ddb9cd9990a7f304a58e031fb49d1e57",
      "a18712c6190ba3828cab6acccbb35021ba8ca2728ec0d15c0a65372cbf696c0d",
      "a18e5b486d8192a795084a863deae333bd976daff4e0b7872f8521071c7e4f9f",
      "27b06658e3ceb195016c28c0aaf8dff6a47ce05bd7952212a9b7d760d3c2c3e2",
      "0db3cad56436acd5fc3f0047356f73831c022a478af7f73f3c89802a005ed3fd",
      "44c25372a8d6fd103f33dacd4a5b08fae77cfb6c78ae577a63c3a969dba465c8",
      "57aff554149cee478206064092a0b2c98f8e0d1ac0ef0a4be28932846f711a00",
      "94a4245e092f32db3fc4d618248d30ebf09e1bb40d6f2262ce1d4274fa8d6ec4",
      "d15c42bc21f24bce08825e61ce3c260300995073900c80af5190bb1c311c0970",
  };
  const int32_t qualities[] = {0, 25, 50, 75, 90, 100};
  const std::string file = ScratchDir() + "/golden.hwl";
  size_t k = 0;
  for (bool grey : {false, true})
    for (int32_t q : qualities) {
      TWavelet w;
      TKzMBitmap pic;
      Pattern(pic, grey ? 80 : 96, grey ? 60 : 64, grey);
      WriteFile<TBytes>(file, Code(w, pic, q, grey));
      ASSERT_EQ(kztest::Run("sha256sum " + file + " | cut -c1-64 > " + file + ".sum"), 0);
      const TBytes sum = ReadFile<TBytes>(file + ".sum");
      EXPECT_EQ(std::string(sum.begin(), sum.begin() + 64), golden[k++]) << (grey ? "grey " : "colour ") << q;
    }
}

// PSNR and SSIM as ffmpeg measures them, over a picture's own size.
std::pair<double, double> Measure(const std::string& A, const std::string& B) {
  const std::string log = A + ".log";
  if (kztest::Run("ffmpeg -nostdin -loglevel info -i " + A + " -i " + B +
                  " -lavfi '[0:v][1:v]psnr;[0:v][1:v]ssim' -f null - 2>" + log) != 0)
    return {-1, -1};
  const std::string text = ReadFile(log);
  const auto after = [&](const char* Key) {
    const size_t at = text.find(Key);
    return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + std::strlen(Key));
  };
  return {text.find("average:inf") != std::string::npos ? 99.0 : after("average:"), after("All:")};
}

TEST(HWL, QualityFallsWithQuality) {
  KZ_NEED(kztest::Run("ffmpeg -version >/dev/null 2>&1") == 0, "ffmpeg");
  const std::string dir = ScratchDir();
  for (const char* format : {"rgb24", "gray"}) {
    SCOPED_TRACE(format);
    const std::string src = dir + "/src_" + format + ".png";
    ASSERT_EQ(
        kztest::Run(std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240 -frames:v 1 ") +
                    "-pix_fmt " + format + " " + src),
        0);
    TKzMBitmap picture;
    std::string error;
    ASSERT_TRUE(KzDecodeImageFile(src, picture, error)) << error;
    double lastPsnr = 1e9, lastBytes = 1e12;
    for (int32_t q : {100, 90, 75, 50, 25}) {
      TWavelet w;
      ASSERT_TRUE(w.LoadFileBMP(src));
      EXPECT_EQ(w.pic_bpp, std::string(format) == "gray" ? 8 : 24);
      w.SetCompressionQuality(q);
      TMemoryStream s;
      ASSERT_TRUE(w.WriteHWLToStream(s));
      const std::string out = dir + "/q" + std::to_string(q) + ".png";
      ASSERT_TRUE(KzWriteImageFile(w.BitmapHWL(), out, error)) << error;
      const auto [psnr, ssim] = Measure(src, out);
      EXPECT_GT(ssim, 0) << q;
      if (q == 100) {
        EXPECT_GE(psnr, 40);
      }
      EXPECT_LT(psnr, lastPsnr) << q;
      // Below 50 the few bits per value cap the zero runs, so bytes rise again.
      if (q >= 50) {
        EXPECT_LT(s.Size(), lastBytes) << q;
      }
      lastPsnr = psnr;
      lastBytes = static_cast<double>(s.Size());
    }
  }
}
