#include "capture/fmxMKzCaptureFrame.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/fmxMKzPlatformV4L2.h"
#include "video/fmxMKzLibJpeg.h"

namespace kz {

namespace {

using K = TKzCaptureFrameKind;
using Y = TKzYuvFormat;

const TKzCaptureFormat kFormats[] = {
    {V4L2_PIX_FMT_YUYV, "YUYV", K::kzcfkYuv, Y::kzyYUY2, 0, 0, 0, 0},
    {V4L2_PIX_FMT_UYVY, "UYVY", K::kzcfkYuv, Y::kzyUYVY, 0, 0, 0, 0},
    {V4L2_PIX_FMT_YVYU, "YVYU", K::kzcfkYuv, Y::kzyYVYU, 0, 0, 0, 0},
    {V4L2_PIX_FMT_VYUY, "VYUY", K::kzcfkYuv, Y::kzyVYUY, 0, 0, 0, 0},
    {V4L2_PIX_FMT_NV12, "NV12", K::kzcfkYuv, Y::kzyNV12, 0, 0, 0, 0},
    {V4L2_PIX_FMT_NV21, "NV21", K::kzcfkYuv, Y::kzyNV21, 0, 0, 0, 0},
    {V4L2_PIX_FMT_NV16, "NV16", K::kzcfkYuv, Y::kzyNV16, 0, 0, 0, 0},
    {V4L2_PIX_FMT_NV61, "NV61", K::kzcfkYuv, Y::kzyNV61, 0, 0, 0, 0},
    {V4L2_PIX_FMT_YUV420, "YU12", K::kzcfkYuv, Y::kzyI420, 0, 0, 0, 0},
    {V4L2_PIX_FMT_YVU420, "YV12", K::kzcfkYuv, Y::kzyYV12, 0, 0, 0, 0},
    {V4L2_PIX_FMT_RGB24, "RGB3", K::kzcfkRgb, Y::kzyI420, 3, 0, 1, 2},
    {V4L2_PIX_FMT_BGR24, "BGR3", K::kzcfkRgb, Y::kzyI420, 3, 2, 1, 0},
    {V4L2_PIX_FMT_XRGB32, "BX24", K::kzcfkRgb, Y::kzyI420, 4, 1, 2, 3},
    {V4L2_PIX_FMT_ARGB32, "BA24", K::kzcfkRgb, Y::kzyI420, 4, 1, 2, 3},
    {V4L2_PIX_FMT_XBGR32, "XR24", K::kzcfkRgb, Y::kzyI420, 4, 2, 1, 0},
    {V4L2_PIX_FMT_ABGR32, "AR24", K::kzcfkRgb, Y::kzyI420, 4, 2, 1, 0},
    {V4L2_PIX_FMT_BGR32, "BGR4", K::kzcfkRgb, Y::kzyI420, 4, 2, 1, 0},
    {V4L2_PIX_FMT_MJPEG, "MJPG", K::kzcfkJpeg, Y::kzyI420, 0, 0, 0, 0},
    {V4L2_PIX_FMT_JPEG, "JPEG", K::kzcfkJpeg, Y::kzyI420, 0, 0, 0, 0},
};

constexpr int32_t kMaxSide = 16384;

// One plane of a raw layout: Rows rows of Tight bytes, Stride apart.
struct TPlane {
  size_t Rows, Tight, Stride;
};

// The planes of a YUV frame; the first plane's stride is BytesPerLine, the
// chroma planes of the planar 4:2:0 layouts half of it.
int YuvPlanes(TKzYuvFormat F, int32_t W, int32_t H, size_t Bpl, TPlane* P) {
  const size_t w = size_t(W), h = size_t(H), cw = (w + 1) / 2, ch = (h + 1) / 2;
  switch (F) {
    case Y::kzyYUY2:
    case Y::kzyUYVY:
    case Y::kzyYVYU:
    case Y::kzyVYUY:
      P[0] = {h, cw * 4, Bpl ? Bpl : cw * 4};
      return 1;
    case Y::kzyNV12:
    case Y::kzyNV21:
      P[0] = {h, w, Bpl ? Bpl : w};
      P[1] = {ch, cw * 2, Bpl ? Bpl : cw * 2};
      return 2;
    case Y::kzyNV16:
    case Y::kzyNV61:
      P[0] = {h, w, Bpl ? Bpl : w};
      P[1] = {h, cw * 2, Bpl ? Bpl : cw * 2};
      return 2;
    default:  // I420, YV12 (and YV16, which no device row uses)
      P[0] = {h, w, Bpl ? Bpl : w};
      P[1] = P[2] = {ch, cw, Bpl ? Bpl / 2 : cw};
      return 3;
  }
}

// The frame's YUV bytes without row padding: the frame itself when it has
// none, else a copy in Scratch. nullptr when the bytes do not cover it.
const uint8_t* TightYuv(const TKzCaptureFrame& F, TKzYuvFormat Yuv, TKzCaptureScratch& S, std::string& Error) {
  TPlane planes[3];
  const int n = YuvPlanes(Yuv, F.Width, F.Height, F.BytesPerLine, planes);
  size_t need = 0, tight = 0;
  bool padded = false;
  for (int i = 0; i < n; ++i) {
    if (planes[i].Stride < planes[i].Tight) {
      Error = "rows of " + std::to_string(planes[i].Stride) + " bytes are too short for the width";
      return nullptr;
    }
    padded |= planes[i].Stride != planes[i].Tight;
    // The last row of the last plane may end without its padding.
    need += i + 1 < n ? planes[i].Stride * planes[i].Rows : planes[i].Stride * (planes[i].Rows - 1) + planes[i].Tight;
    tight += planes[i].Tight * planes[i].Rows;
  }
  if (F.BytesUsed < need) {
    Error = "short frame: " + std::to_string(F.BytesUsed) + " of " + std::to_string(need) + " bytes";
    return nullptr;
  }
  if (!padded) return F.Data;
  S.Packed.resize(tight);
  const uint8_t* in = F.Data;
  uint8_t* out = S.Packed.data();
  for (int i = 0; i < n; ++i)
    for (size_t r = 0; r < planes[i].Rows; ++r) {
      std::memcpy(out, in + r * planes[i].Stride, planes[i].Tight);
      out += planes[i].Tight;
      if (r + 1 == planes[i].Rows) in += planes[i].Stride * planes[i].Rows;
    }
  return S.Packed.data();
}

bool ConvertRgb(const TKzCaptureFrame& F, const TKzCaptureFormat& Fmt, TKzMBitmap& B, std::string& Error) {
  const size_t bpp = Fmt.BytesPerPixel, tight = size_t(F.Width) * bpp;
  const size_t stride = F.BytesPerLine ? F.BytesPerLine : tight;
  if (stride < tight) {
    Error = "rows of " + std::to_string(stride) + " bytes are too short for the width";
    return false;
  }
  const size_t need = stride * (size_t(F.Height) - 1) + tight;
  if (F.BytesUsed < need) {
    Error = "short frame: " + std::to_string(F.BytesUsed) + " of " + std::to_string(need) + " bytes";
    return false;
  }
  B.SetSize(F.Width, F.Height);
  const bool bgrx = bpp == 4 && Fmt.B == 0 && Fmt.G == 1 && Fmt.R == 2;
  for (int32_t y = 0; y < F.Height; ++y) {
    const uint8_t* in = F.Data + size_t(y) * stride;
    uint32_t* out = B.ScanLine(y);
    if (bgrx) {
      std::memcpy(out, in, tight);
      for (int32_t x = 0; x < F.Width; ++x) out[x] |= 0xFF000000u;
      continue;
    }
    for (int32_t x = 0; x < F.Width; ++x, in += bpp)
      out[x] = 0xFF000000u | uint32_t(in[Fmt.R]) << 16 | uint32_t(in[Fmt.G]) << 8 | in[Fmt.B];
  }
  return true;
}

bool ConvertJpeg(const TKzCaptureFrame& F, TKzMBitmap& B, TKzCaptureScratch& S, std::string& Error) {
  if (F.BytesUsed < 4 || F.Data[0] != 0xFF || F.Data[1] != 0xD8) {
    Error = "the frame is not a JPEG picture";
    return false;
  }
  // Devices pad their buffers after the picture; the decoder stops at its end.
  S.Jpeg.SetSize(static_cast<int64_t>(F.BytesUsed));
  std::memcpy(S.Jpeg.Memory(), F.Data, F.BytesUsed);
  S.Jpeg.Seek(0, TSeekOrigin::soBeginning);
  if (!ReadJpegStream(S.Jpeg, B)) {
    Error = "the JPEG picture does not decode: " + KzLibJpegLastError();
    return false;
  }
  return true;
}

}  // namespace

const TKzCaptureFormat* KzCaptureFormat(uint32_t PixelFormat) {
  for (const TKzCaptureFormat& f : kFormats)
    if (f.PixelFormat == PixelFormat) return &f;
  return nullptr;
}

const TKzCaptureFormat* KzCaptureFormatByName(const std::string& Name) {
  std::string up = Name;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const TKzCaptureFormat& f : kFormats)
    if (up == f.Name) return &f;
  return nullptr;
}

void KzFlipBitmap(TKzMCustomBitmap& Bitmap, bool Horizontally, bool Vertically) {
  const int32_t w = Bitmap.Width(), h = Bitmap.Height();
  if (Horizontally)
    for (int32_t y = 0; y < h; ++y) std::reverse(Bitmap.ScanLine(y), Bitmap.ScanLine(y) + w);
  if (Vertically)
    for (int32_t y = 0; y < h / 2; ++y) std::swap_ranges(Bitmap.ScanLine(y), Bitmap.ScanLine(y) + w, Bitmap.ScanLine(h - 1 - y));
}

bool KzConvertCaptureFrame(const TKzCaptureFrame& F, bool FlipH, bool FlipV, TKzMBitmap& B, TKzCaptureScratch& S,
                           std::string& Error) {
  const TKzCaptureFormat* fmt = KzCaptureFormat(F.PixelFormat);
  if (!fmt) {
    Error = "the pixel format " + KzFourCCText(F.PixelFormat) + " is not supported";
    return false;
  }
  if (!F.Data) {
    Error = "the frame has no bytes";
    return false;
  }
  if (fmt->Kind != K::kzcfkJpeg &&
      (F.Width <= 0 || F.Height <= 0 || F.Width > kMaxSide || F.Height > kMaxSide ||
       int64_t(F.Width) * F.Height > KzMaxImagePixels)) {
    Error = "the frame size " + std::to_string(F.Width) + "x" + std::to_string(F.Height) + " is not usable";
    return false;
  }
  bool ok = false;
  switch (fmt->Kind) {
    case K::kzcfkYuv:
      if (const uint8_t* src = TightYuv(F, fmt->Yuv, S, Error)) {
        B.SetSize(F.Width, F.Height);
        KzYuvToRGB(fmt->Yuv, src, B.Data(), F.Width, F.Height);
        ok = true;
      }
      break;
    case K::kzcfkRgb: ok = ConvertRgb(F, *fmt, B, Error); break;
    case K::kzcfkJpeg: ok = ConvertJpeg(F, B, S, Error); break;
  }
  if (!ok) return false;
  KzFlipBitmap(B, FlipH, FlipV);
  B.UpdateData();
  return true;
}

}  // namespace kz
