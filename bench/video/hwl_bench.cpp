// HWL against libjpeg-turbo and OpenJPEG on the same pictures in one run:
// bytes, bits per pixel, PSNR and SSIM (ffmpeg's psnr and ssim filters),
// encode and decode CPU milliseconds; HWL/JPEG bytes at equal PSNR.
//
// Pictures: the sample photos of Debian's python3-skimage (astronaut, coffee,
// chelsea at an odd 451 x 300, camera in grey; the package is downloaded and
// unpacked into the build directory, not installed), a synthetic-camera
// frame, and ffmpeg's testsrc2 at 640 x 480 and 1920 x 1080.
//
// Times: ours and TurboJPEG in this process, CPU time of this thread per
// picture; OpenJPEG through opj_compress/opj_decompress, CPU time of the
// child process (start-up and file I/O included, so it flatters us);
// tjbench's own compress/decompress rates are printed beside for reference.
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "bench/kzbench.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzImageFiles.h"

using namespace kz;

namespace {

const std::string& Dir() {
  static const std::string d = [] {
    const std::string dir = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "hwl_bench_data";
    std::filesystem::create_directories(dir);
    return dir;
  }();
  return d;
}

int Sh(const std::string& Command) {
  const int rc = std::system(Command.c_str());
  return rc == -1 ? -1 : WEXITSTATUS(rc);
}

// The skimage sample photos, fetched once into the build directory.
bool FetchSamples() {
  const std::string d = Dir();
  if (std::filesystem::exists(d + "/camera.png")) return true;
  return Sh("cd " + d +
            " && apt-get download python3-skimage >/dev/null 2>&1 && dpkg-deb -x python3-skimage_*.deb pkg &&"
            " for f in astronaut coffee chelsea camera; do cp pkg/usr/lib/python3/dist-packages/skimage/data/$f.png .; "
            "done &&"
            " rm -rf pkg python3-skimage_*.deb") == 0;
}

double CpuMs(int Who) { return 1e3 * kzbench::CpuSeconds(Who); }

// CPU milliseconds of one call of Fn, over repetitions worth at least 300 ms.
template <typename F>
double TimeMs(F Fn) {
  Fn();
  int n = 0;
  const double start = CpuMs(RUSAGE_THREAD);
  double spent = 0;
  do {
    Fn();
    ++n;
    spent = CpuMs(RUSAGE_THREAD) - start;
  } while (spent < 300 && n < 200);
  return spent / n;
}

// Binary PNM: P5 for grey (the blue byte), P6 for colour.
void WritePnm(const TKzMCustomBitmap& B, int32_t W, int32_t H, bool Grey, const std::string& Path) {
  std::ofstream f(Path, std::ios::binary);
  f << (Grey ? "P5\n" : "P6\n") << W << " " << H << "\n255\n";
  std::vector<char> row;
  for (int32_t y = 0; y < H; ++y) {
    row.clear();
    for (int32_t x = 0; x < W; ++x) {
      const uint32_t p = B.Pixel(x, y);
      if (Grey) {
        row.push_back(static_cast<char>(p & 255));
      } else {
        row.insert(row.end(), {static_cast<char>(p >> 16), static_cast<char>(p >> 8), static_cast<char>(p)});
      }
    }
    f.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

struct TQuality {
  double Psnr = -1, Ssim = -1;
};
TQuality Measure(const std::string& Ref, const std::string& Test) {
  const std::string log = Dir() + "/measure.log";
  if (Sh("ffmpeg -nostdin -i " + Ref + " -i " + Test + " -lavfi '[0:v][1:v]psnr;[0:v][1:v]ssim' -f null - 2>" + log) !=
      0)
    return {};
  std::ifstream f(log);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const auto after = [&](const char* Key) {
    const size_t at = text.rfind(Key);
    return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + std::strlen(Key));
  };
  return {text.find("average:inf") != std::string::npos ? 99.0 : after("average:"), after("All:")};
}

struct THwlPoint {
  int Quality;
  double Bytes, Psnr, Ssim, EncodeMs, DecodeMs;
};

struct TPicture {
  std::string Name, Source;
  bool Grey;
  TKzMBitmap Bitmap;
  std::string Ref;  // PNM of the picture
  std::vector<THwlPoint> Jpeg, Hwl, Openjpeg;
};

void Print(const TPicture& P, const char* Codec, const THwlPoint& T) {
  const double bpp = 8 * T.Bytes / static_cast<double>(P.Bitmap.GetLength());
  std::printf("%-16s %-9s %4d %9.0f %6.3f %7.2f %7.4f %8.2f %8.2f\n", P.Name.c_str(), Codec, T.Quality, T.Bytes, bpp,
              T.Psnr, T.Ssim, T.EncodeMs, T.DecodeMs);
}

void RunJpeg(TPicture& P) {
  tjhandle c = tjInitCompress(), d = tjInitDecompress();
  const int w = P.Bitmap.Width(), h = P.Bitmap.Height();
  const uint8_t* px = reinterpret_cast<const uint8_t*>(P.Bitmap.Data());
  TKzMBitmap out(w, h);
  for (int q : {10, 20, 30, 40, 50, 60, 70, 75, 80, 90, 95, 100}) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const auto encode = [&] {
      tjCompress2(c, px, w, 0, h, TJPF_BGRX, &jpeg, &size, P.Grey ? TJSAMP_GRAY : TJSAMP_420, q, 0);
    };
    const double enc = TimeMs(encode);
    const auto decode = [&] {
      tjDecompress2(d, jpeg, size, reinterpret_cast<uint8_t*>(out.Data()), w, 0, h, TJPF_BGRX, 0);
    };
    const double dec = TimeMs(decode);
    const std::string file = Dir() + "/jpeg" + (P.Grey ? ".pgm" : ".ppm");
    WritePnm(out, w, h, P.Grey, file);
    const TQuality m = Measure(P.Ref, file);
    P.Jpeg.push_back({q, static_cast<double>(size), m.Psnr, m.Ssim, enc, dec});
    tjFree(jpeg);
  }
  tjDestroy(c);
  tjDestroy(d);
}

void RunHwl(TPicture& P) {
  for (int q : {25, 50, 75, 90, 100}) {
    TWavelet coder, decoder;
    if (!coder.LoadFileBMP(P.Source)) return;
    coder.SetCompressionQuality(q);
    TMemoryStream s;
    const double enc = TimeMs([&] {
      s.SetSize(0);
      s.SetPosition(0);
      coder.WriteHWLToStream(s);
    });
    const double dec = TimeMs([&] {
      s.SetPosition(0);
      decoder.ReadHWLFromStream(s);
      decoder.BitmapHWL();
    });
    const std::string file = Dir() + "/hwl" + (P.Grey ? ".pgm" : ".ppm");
    WritePnm(decoder.BitmapHWL(), P.Bitmap.Width(), P.Bitmap.Height(), P.Grey, file);
    const TQuality m = Measure(P.Ref, file);
    P.Hwl.push_back({q, static_cast<double>(s.Size()), m.Psnr, m.Ssim, enc, dec});
  }
}

// OpenJPEG at the compression ratio of each HWL point.
void RunOpenjpeg(TPicture& P) {
  const double raw = static_cast<double>(P.Bitmap.GetLength()) * (P.Grey ? 1 : 3);
  const std::string j2k = Dir() + "/o.j2k", out = Dir() + "/opj" + (P.Grey ? ".pgm" : ".ppm");
  for (const THwlPoint& h : P.Hwl) {
    const auto child = [](const std::string& Cmd) {
      double best = 1e9;
      for (int i = 0; i < 3; ++i) {
        const double t = CpuMs(RUSAGE_CHILDREN);
        if (Sh(Cmd + " >/dev/null 2>&1") != 0) return -1.0;
        best = std::min(best, CpuMs(RUSAGE_CHILDREN) - t);
      }
      return best;
    };
    const double enc = child("opj_compress -i " + P.Ref + " -o " + j2k + " -r " + std::to_string(raw / h.Bytes));
    const double dec = child("opj_decompress -i " + j2k + " -o " + out);
    if (enc < 0 || dec < 0) return;
    const TQuality m = Measure(P.Ref, out);
    P.Openjpeg.push_back({h.Quality, static_cast<double>(std::filesystem::file_size(j2k)), m.Psnr, m.Ssim, enc, dec});
  }
}

// JPEG bytes at a PSNR, interpolated on JPEG's curve; -1 outside it.
double JpegBytesAt(const std::vector<THwlPoint>& Jpeg, double Psnr) {
  for (size_t i = 1; i < Jpeg.size(); ++i) {
    const THwlPoint &a = Jpeg[i - 1], &b = Jpeg[i];
    if ((Psnr - a.Psnr) * (Psnr - b.Psnr) <= 0 && a.Psnr != b.Psnr)
      return a.Bytes + (b.Bytes - a.Bytes) * (Psnr - a.Psnr) / (b.Psnr - a.Psnr);
  }
  return -1;
}

}  // namespace

int main() {
  std::vector<TPicture> pictures;
  const bool samples = FetchSamples();
  if (!samples) kzbench::MissingAnchor("hwl_samples", "apt-get download python3-skimage failed");
  for (const auto& [name, grey] :
       {std::pair{"astronaut", false}, {"coffee", false}, {"chelsea", false}, {"camera", true}})
    if (samples) pictures.push_back({name, Dir() + "/" + name + ".png", grey, {}, {}, {}, {}, {}});
  {
    TKzMBitmap frame;
    kzcamsim::KzSimDrawFrame(frame, 640, 480, 1, 0);
    std::string error;
    KzWriteImageFile(frame, Dir() + "/camsim.png", error);
    pictures.push_back({"camsim_640x480", Dir() + "/camsim.png", false, {}, {}, {}, {}, {}});
  }
  for (const char* size : {"640x480", "1920x1080"}) {
    const std::string file = Dir() + "/testsrc2_" + size + ".png";
    Sh(std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=") + size + " -frames:v 1 " + file);
    pictures.push_back({std::string("testsrc2_") + size, file, false, {}, {}, {}, {}, {}});
  }
  std::printf("%-16s %-9s %4s %9s %6s %7s %7s %8s %8s\n", "picture", "codec", "q", "bytes", "bpp", "PSNR", "SSIM",
              "enc ms", "dec ms");
  for (TPicture& p : pictures) {
    std::string error;
    if (!KzDecodeImageFile(p.Source, p.Bitmap, error)) {
      kzbench::MissingAnchor("hwl_" + p.Name, error);
      continue;
    }
    p.Ref = Dir() + "/" + p.Name + (p.Grey ? ".pgm" : ".ppm");
    WritePnm(p.Bitmap, p.Bitmap.Width(), p.Bitmap.Height(), p.Grey, p.Ref);
    RunJpeg(p);
    RunHwl(p);
    RunOpenjpeg(p);
    for (const THwlPoint& t : p.Jpeg) Print(p, "jpeg", t);
    for (const THwlPoint& t : p.Openjpeg) Print(p, "openjpeg", t);
    for (const THwlPoint& t : p.Hwl) {
      Print(p, "hwl", t);
      const double jpegBytes = JpegBytesAt(p.Jpeg, t.Psnr);
      if (jpegBytes > 0)
        std::printf("%-16s hwl/jpeg bytes at %.2f dB: %.2f\n", p.Name.c_str(), t.Psnr, t.Bytes / jpegBytes);
      if (t.Quality != 75) continue;
      const std::string name = "hwl_" + p.Name + "_q75";
      if (jpegBytes > 0) kzbench::Cost(name + "_bytes_at_equal_psnr_vs_jpeg", t.Bytes, jpegBytes, "bytes");
      const auto jpeg75 =
          std::find_if(p.Jpeg.begin(), p.Jpeg.end(), [](const THwlPoint& j) { return j.Quality == 75; });
      kzbench::Cost(name + "_encode_vs_turbojpeg", t.EncodeMs, jpeg75->EncodeMs, "ms CPU");
      kzbench::Cost(name + "_decode_vs_turbojpeg", t.DecodeMs, jpeg75->DecodeMs, "ms CPU");
      const auto opj =
          std::find_if(p.Openjpeg.begin(), p.Openjpeg.end(), [](const THwlPoint& o) { return o.Quality == 75; });
      if (opj == p.Openjpeg.end()) {
        kzbench::MissingAnchor(name + "_openjpeg", "opj_compress/opj_decompress (libopenjp2-tools) did not run");
        continue;
      }
      kzbench::Cost(name + "_encode_vs_openjpeg", t.EncodeMs, opj->EncodeMs, "ms CPU");
      kzbench::Cost(name + "_decode_vs_openjpeg", t.DecodeMs, opj->DecodeMs, "ms CPU");
    }
    std::fflush(stdout);
  }
  // tjbench's own rates on the 640 x 480 picture, for reference.
  Sh("tjbench " + Dir() +
     "/testsrc2_640x480.ppm 75 -subsamp 420 -benchtime 1 -warmup 0 -nowrite 2>&1 | grep 'Frame rate'");
  return kzbench::Finish();
}
