// kz-test-labels: peer
// Frames of every capture format against ffmpeg's BGRA of the same frame,
// Motion-JPEG with and without Huffman tables, padded rows, short frames.
#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>

#include "capture/fmxMKzCaptureFrame.h"
#include "tests/capture/kzcapturetest.h"
#include "tests/kztestneed.h"

using namespace kz;
using namespace kztest;

namespace {

constexpr int W = 320, H = 240;

int MaxDifference(const TKzMBitmap& B, const std::vector<uint8_t>& Bgra) {
  if (B.Width() != W || B.Height() != H || Bgra.size() != size_t(W) * H * 4) return 999;
  const auto* ours = reinterpret_cast<const uint8_t*>(B.Data());
  int worst = 0;
  for (size_t i = 0; i < Bgra.size(); ++i)
    if (i % 4 != 3) worst = std::max(worst, std::abs(int(ours[i]) - int(Bgra[i])));
  return worst;
}

// The Motion-JPEG frame with every DHT segment taken out, as many cameras send it.
std::vector<uint8_t> WithoutHuffmanTables(const std::vector<uint8_t>& J) {
  std::vector<uint8_t> out(J.begin(), J.begin() + 2);
  for (size_t i = 2; i + 4 <= J.size();) {
    if (J[i + 1] == 0xDA) {
      out.insert(out.end(), J.begin() + i, J.end());
      break;
    }
    const size_t len = 2 + (size_t(J[i + 2]) << 8 | J[i + 3]);
    if (J[i + 1] != 0xC4) out.insert(out.end(), J.begin() + i, J.begin() + i + len);
    i += len;
  }
  return out;
}

bool Convert(uint32_t Fourcc, const std::vector<uint8_t>& Bytes, TKzMBitmap& B, std::string& Error,
             uint32_t BytesPerLine = 0, size_t Used = SIZE_MAX) {
  TKzCaptureFrame f;
  f.PixelFormat = Fourcc;
  f.Width = W;
  f.Height = H;
  f.BytesPerLine = BytesPerLine;
  f.Data = Bytes.data();
  f.BytesUsed = std::min(Used, Bytes.size());
  TKzCaptureScratch scratch;
  return KzConvertCaptureFrame(f, false, false, B, scratch, Error);
}

}  // namespace

TEST(CaptureFrames, EveryFormatMatchesFfmpeg) {
  KZ_NEED(HaveProgram("ffmpeg") && HaveProgram("cjpeg"), "ffmpeg and cjpeg are needed");
  TTempDir dir;
  struct TRow {
    uint32_t Fourcc;
    const char* PixFmt;  // ffmpeg's name of the same layout
  };
  const TRow rows[] = {
      {V4L2_PIX_FMT_YUYV, "yuyv422"}, {V4L2_PIX_FMT_UYVY, "uyvy422"}, {V4L2_PIX_FMT_NV12, "nv12"},
      {V4L2_PIX_FMT_YUV420, "yuv420p"}, {V4L2_PIX_FMT_YVU420, "yuv420p"}, {V4L2_PIX_FMT_RGB24, "rgb24"},
      {V4L2_PIX_FMT_BGR24, "bgr24"},  {V4L2_PIX_FMT_XRGB32, "0rgb"},    {V4L2_PIX_FMT_XBGR32, "bgr0"},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(KzFourCCText(r.Fourcc));
    std::vector<uint8_t> raw = TestFrame(dir, r.PixFmt, W, H);
    ASSERT_FALSE(raw.empty());
    // ffmpeg reads the frame as full-range BT.601, the range cameras send.
    const std::string in = dir / "in.raw";
    WriteFile(in, std::string(raw.begin(), raw.end()));
    const std::vector<uint8_t> ref =
        Ffmpeg("-f rawvideo -pix_fmt " + std::string(r.PixFmt) + " -s 320x240 -i " + in +
                   " -vf scale=in_range=full:in_color_matrix=bt601:flags=neighbor+accurate_rnd,format=bgra "
                   "-f rawvideo",
               dir / "ref.bgra");
    if (r.Fourcc == V4L2_PIX_FMT_YVU420)  // the same picture with V before U
      std::swap_ranges(raw.begin() + W * H, raw.begin() + W * H * 5 / 4, raw.begin() + W * H * 5 / 4);
    TKzMBitmap b;
    std::string error;
    ASSERT_TRUE(Convert(r.Fourcc, raw, b, error)) << error;
    EXPECT_LE(MaxDifference(b, ref), 2);
  }

  // Motion-JPEG from cjpeg (4:4:4, so that no chroma is spread out); the frame
  // without its Huffman tables decodes the same.
  Ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=1 -frames:v 1 -vf scale=320:240:flags=neighbor", dir / "pic.ppm");
  ASSERT_EQ(std::system(("cjpeg -quality 100 -sample 1x1 " + std::string(dir / "pic.ppm") + " > " + std::string(dir / "pic.jpg")).c_str()), 0);
  const std::string jpg = ReadFile(dir / "pic.jpg");
  const std::vector<uint8_t> full(jpg.begin(), jpg.end()), bare = WithoutHuffmanTables(full);
  ASSERT_LT(bare.size(), full.size());
  const std::vector<uint8_t> ref =
      Ffmpeg("-i " + std::string(dir / "pic.jpg") + " -vf scale=flags=neighbor+accurate_rnd,format=bgra -f rawvideo",
             dir / "jpg.bgra");
  TKzMBitmap a, b;
  std::string error;
  ASSERT_TRUE(Convert(V4L2_PIX_FMT_MJPEG, full, a, error)) << error;
  ASSERT_TRUE(Convert(V4L2_PIX_FMT_MJPEG, bare, b, error)) << error;
  // Two decoders, each with its own inverse DCT and colour rounding: one more step.
  EXPECT_LE(MaxDifference(a, ref), 3);
  EXPECT_TRUE(std::equal(a.Data(), a.Data() + a.GetLength(), b.Data()));
}

TEST(CaptureFrames, PaddedRowsAndShortFrames) {
  // A YUYV picture of distinct bytes, and the same with 64 bytes of padding per row.
  std::vector<uint8_t> tight(size_t(W) * 2 * H), padded;
  for (size_t i = 0; i < tight.size(); ++i) tight[i] = static_cast<uint8_t>(i * 7 + i / 640);
  for (int y = 0; y < H; ++y) {
    padded.insert(padded.end(), tight.begin() + y * W * 2, tight.begin() + (y + 1) * W * 2);
    padded.insert(padded.end(), 64, 0xEE);
  }
  TKzMBitmap a, b;
  std::string error;
  ASSERT_TRUE(Convert(V4L2_PIX_FMT_YUYV, tight, a, error));
  ASSERT_TRUE(Convert(V4L2_PIX_FMT_YUYV, padded, b, error, W * 2 + 64));
  EXPECT_TRUE(std::equal(a.Data(), a.Data() + a.GetLength(), b.Data()));

  // One byte short of each layout is refused (an over-read would show under ASan).
  const struct {
    uint32_t Fourcc;
    size_t Bytes;
  } formats[] = {{V4L2_PIX_FMT_YUYV, size_t(W) * H * 2}, {V4L2_PIX_FMT_NV12, size_t(W) * H * 3 / 2},
                 {V4L2_PIX_FMT_YUV420, size_t(W) * H * 3 / 2}, {V4L2_PIX_FMT_RGB24, size_t(W) * H * 3},
                 {V4L2_PIX_FMT_XBGR32, size_t(W) * H * 4}};
  for (const auto& f : formats) {
    SCOPED_TRACE(KzFourCCText(f.Fourcc));
    std::vector<uint8_t> exact(f.Bytes - 1, 0x80);
    EXPECT_FALSE(Convert(f.Fourcc, exact, b, error));
    EXPECT_NE(error.find("short frame"), std::string::npos) << error;
  }
  EXPECT_FALSE(Convert(V4L2_PIX_FMT_MJPEG, tight, b, error));
  EXPECT_FALSE(Convert(v4l2_fourcc('H', '2', '6', '4'), tight, b, error));
}
