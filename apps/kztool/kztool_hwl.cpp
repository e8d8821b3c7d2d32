// kztool hwl encode|decode|info: HWL picture files.
//   encode IN OUT.hwl  codes a JPEG, PNG or BMP picture; prints the size,
//                      bytes, bits per pixel and PSNR against the input
//   decode IN.hwl OUT  writes the picture (format from OUT's extension)
//   info FILE          the header, the factor tables and the counts
#include <cmath>
#include <cstdio>
#include <sstream>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "video/Fmxmkzwavefuncs.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzImageFiles.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--quality", "Q", "encode: quality 0..100 (default 90): threshold, depth and bits from the quality table"},
    {"--depth", "D", "encode: subdivision depth (lowered to what the size allows)"},
    {"--eps", "E", "encode: threshold under which detail is cleared"},
    {"--bits", "Y,U,V", "encode: bits per value of the Y (or grey), U and V planes, 1..8 each"},
    {"--grey", nullptr, "encode: code the picture as grey"},
};

// PSNR of Decoded against Source over the source's size, on the colour
// bytes (or one of them for grey).
double Psnr(const kz::TKzMCustomBitmap& Source, const kz::TKzMCustomBitmap& Decoded, bool Grey) {
  double sum = 0;
  int64_t count = 0;
  for (int32_t y = 0; y < Source.Height(); ++y)
    for (int32_t x = 0; x < Source.Width(); ++x)
      for (int shift = 0; shift < (Grey ? 8 : 24); shift += 8) {
        const double d = static_cast<double>((Source.Pixel(x, y) >> shift) & 255) -
                         static_cast<double>((Decoded.Pixel(x, y) >> shift) & 255);
        sum += d * d;
        ++count;
      }
  return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * static_cast<double>(count) / sum);
}

bool ReadBits(const std::string& Text, int32_t Bits[3]) {
  char tail = 0;
  if (std::sscanf(Text.c_str(), "%d,%d,%d%c", &Bits[0], &Bits[1], &Bits[2], &tail) != 3) return false;
  for (int i = 0; i < 3; ++i)
    if (Bits[i] < 1 || Bits[i] > 8) return false;
  return true;
}

int Encode(TKzArgs& Args) {
  double quality = 90, depth = -1, eps = -1;
  int32_t bits[3] = {0, 0, 0};
  if (!Args.Number("--quality", quality, 0, 100) || !Args.Number("--depth", depth, 0, 16) ||
      !Args.Number("--eps", eps, 0, 1e9))
    return kzExitUsage;
  if (Args.Has("--bits") && !ReadBits(Args.Get("--bits"), bits)) {
    Args.Error = "--bits wants three numbers 1..8: Y,U,V";
    return kzExitUsage;
  }
  const std::string& in = Args.Positional[1];
  const std::string& out = Args.Positional[2];
  kz::TKzMBitmap source;
  std::string error;
  if (!kz::KzDecodeImageFile(in, source, error)) {
    KzErr("%s\n", error.c_str());
    return kzExitFailed;
  }
  kz::TWavelet wavelet;
  if (!wavelet.LoadFileBMP(in)) {
    KzErr("%s\n", wavelet.LastError().c_str());
    return kzExitFailed;
  }
  const bool grey = Args.Has("--grey") || wavelet.pic_bpp == 8;
  if (grey && wavelet.pic_bpp != 8) {
    wavelet.pic_bitmap.Grayscale();
    source.Grayscale();
    wavelet.pic_bpp = 8;
  }
  wavelet.SetCompressionQuality(static_cast<int32_t>(quality));
  if (depth >= 0) wavelet.pic_subdivisiondepth = static_cast<int32_t>(depth);
  if (eps >= 0) wavelet.pic_eps = eps;
  if (bits[0] != 0) {
    wavelet.pic_quantbitsy = bits[0];
    wavelet.pic_quantbitsu = bits[1];
    wavelet.pic_quantbitsv = bits[2];
  }
  kz::TFileStream file(out, kz::TFileMode::fmCreate);
  if (!file.Valid() || !wavelet.WriteHWLToStream(file)) {
    KzErr("%s: cannot be written\n", out.c_str());
    return kzExitFailed;
  }
  const int64_t bytes = file.Size();
  const std::string padded = wavelet.pic_width != source.Width() || wavelet.pic_height != source.Height()
                                 ? KzFormat(" (padded from %dx%d)", source.Width(), source.Height())
                                 : std::string();
  KzOut("%s: %dx%d%s %s depth %d eps %g bits %d,%d,%d: %lld bytes, %.3f bits per pixel, PSNR %.2f dB\n", out.c_str(),
        wavelet.pic_width, wavelet.pic_height, padded.c_str(), grey ? "grey" : "colour", wavelet.pic_subdivisiondepth,
        wavelet.pic_eps, wavelet.pic_quantbitsy, wavelet.pic_quantbitsu, wavelet.pic_quantbitsv,
        static_cast<long long>(bytes), 8.0 * static_cast<double>(bytes) / static_cast<double>(source.GetLength()),
        Psnr(source, wavelet.BitmapHWL(), grey));
  return kzExitDone;
}

int Decode(TKzArgs& Args) {
  const std::string& in = Args.Positional[1];
  const std::string& out = Args.Positional[2];
  kz::TWavelet wavelet;
  std::string error;
  if (!wavelet.OpenHWL(in)) {
    KzErr("%s\n", wavelet.LastError().c_str());
    return kzExitFailed;
  }
  if (!kz::KzWriteImageFile(wavelet.BitmapHWL(), out, error)) {
    KzErr("%s\n", error.c_str());
    return kzExitFailed;
  }
  KzOut("%s: %dx%d %s\n", in.c_str(), wavelet.pic_width, wavelet.pic_height, wavelet.pic_bpp == 8 ? "grey" : "colour");
  return kzExitDone;
}

int Info(TKzArgs& Args) {
  const std::string& in = Args.Positional[1];
  kz::HWL_Header h;
  if (!kz::ReadHeaderHWL(in, h)) {
    KzErr("%s: shorter than an HWL header\n", in.c_str());
    return kzExitFailed;
  }
  KzOut("%s: %ux%u bpp %u depth %u bits %u,%u,%u\n", in.c_str(), h.width, h.height, h.bpp, h.depth, h.quantbitsy,
        h.quantbitsu, h.quantbitsv);
  KzOut("codes %u,%u,%u values %u,%u,%u\n", h.bitsr, h.bitsg, h.bitsb, h.datar, h.datag, h.datab);
  kz::THWLPlanes planes;
  if (!kz::ReadHWL(in, planes)) {
    KzErr("%s: the header or the blocks after it are not a valid HWL picture\n", in.c_str());
    return kzExitFailed;
  }
  for (int32_t p = 0; p < h.Planes(); ++p) {
    std::ostringstream factors;
    for (double f : planes.F[p]) factors << ' ' << f;
    KzOut("plane %d: zeros %d of %lld, factors%s\n", p + 1,
          kz::WaveletCountZerosGS(planes.Q[p].data(), h.width, h.height, h.depth),
          static_cast<long long>(planes.Q[p].size()), factors.str().c_str());
  }
  return kzExitDone;
}

struct TAction {
  const char* Name;
  size_t Files;
  int (*Run)(TKzArgs& Args);
};
const TAction kActions[] = {{"encode", 2, Encode}, {"decode", 2, Decode}, {"info", 1, Info}};

int Run(TKzArgs& Args) {
  if (Args.Positional.empty()) {
    Args.Error = "no action given (encode, decode or info)";
    return kzExitUsage;
  }
  for (const TAction& a : kActions) {
    if (Args.Positional[0] != a.Name) continue;
    if (Args.Positional.size() != a.Files + 1) {
      Args.Error = std::string(a.Name) + " takes " + (a.Files == 1 ? "one file" : "two files");
      return kzExitUsage;
    }
    return a.Run(Args);
  }
  Args.Error = "unknown action \"" + Args.Positional[0] + "\"";
  return kzExitUsage;
}
}  // namespace

const TSubcommand kHwlCommand = {"hwl", "encode IN OUT.hwl | decode IN.hwl OUT | info FILE",
                                 "HWL wavelet pictures: code, decode, describe", kOptions, Run};

}  // namespace kztool
