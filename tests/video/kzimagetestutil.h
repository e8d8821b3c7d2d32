// Helpers shared by the image tests: a scratch directory, running the real
// command-line tools (cjpeg, djpeg, ffmpeg, ImageMagick), and PNM files.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "tests/kztestpeers.h"

namespace kztest {

inline std::string ScratchDir() {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kzimgXXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return std::string("/tmp");
    return tmpl;
  }();
  return dir;
}

// Runs a shell command line; its exit status (-1 when it could not run).
inline int Run(const std::string& Command) {
  const int rc = std::system(Command.c_str());
  return rc == -1 ? -1 : WEXITSTATUS(rc);
}

// ImageMagick's own convert (PATH may hold a wrapper that changes pictures).
inline std::string ConvertTool() {
  for (const char* p : {"/usr/bin/convert-im6.q16", "/usr/bin/convert"})
    if (access(p, X_OK) == 0) return p;
  return "convert";
}

// Binary PPM (P6) or PGM (P5) with maxval 255 into a bitmap (grey spread to
// R = G = B). False for anything else.
inline bool ReadPNM(const std::string& Path, kz::TKzMCustomBitmap& Bitmap) {
  const std::vector<uint8_t> d = ReadFile<std::vector<uint8_t>>(Path);
  size_t i = 0;
  auto token = [&]() {
    std::string t;
    while (i < d.size()) {
      if (d[i] == '#') {
        while (i < d.size() && d[i] != '\n') ++i;
      } else if (isspace(d[i])) {
        if (!t.empty()) break;
        ++i;
      } else {
        t += static_cast<char>(d[i++]);
      }
    }
    return t;
  };
  const std::string magic = token();
  if (magic != "P6" && magic != "P5") return false;
  const int w = std::atoi(token().c_str()), h = std::atoi(token().c_str()), maxval = std::atoi(token().c_str());
  ++i;  // the single whitespace after maxval
  const int comps = magic == "P6" ? 3 : 1;
  if (maxval != 255 || w <= 0 || h <= 0 || d.size() < i + static_cast<size_t>(w) * h * comps) return false;
  Bitmap.SetSize(w, h);
  for (int p = 0; p < w * h; ++p) {
    const uint8_t* s = &d[i + static_cast<size_t>(p) * comps];
    const uint32_t r = s[0], g = comps == 3 ? s[1] : s[0], b = comps == 3 ? s[2] : s[0];
    Bitmap.Data()[p] = 0xFF000000u | (r << 16) | (g << 8) | b;
  }
  return true;
}

// Index and values of the first differing pixel, for readable failures.
inline std::string FirstDifference(const kz::TKzMCustomBitmap& A, const kz::TKzMCustomBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height())
    return "size " + std::to_string(A.Width()) + "x" + std::to_string(A.Height()) + " vs " +
           std::to_string(B.Width()) + "x" + std::to_string(B.Height());
  for (int64_t p = 0; p < A.GetLength(); ++p)
    if (A.Data()[p] != B.Data()[p]) {
      std::ostringstream o;
      o << "pixel " << p % A.Width() << "," << p / A.Width() << ": " << std::hex << A.Data()[p] << " vs "
        << B.Data()[p];
      return o.str();
    }
  return "";
}

// A reproducible noisy picture.
inline void FillNoise(kz::TKzMCustomBitmap& Bitmap, uint32_t Seed, bool RandomAlpha = false) {
  uint32_t s = Seed * 2654435761u + 1;
  for (int64_t p = 0; p < Bitmap.GetLength(); ++p) {
    s = s * 1664525u + 1013904223u;
    Bitmap.Data()[p] = RandomAlpha ? s : (s | 0xFF000000u);
  }
}

// ---- A corpus of real JPEG files, made once per test program by the real
// encoders, each with djpeg's decoding as the reference.

struct TCorpusFile {
  std::string Name;  // file name inside ScratchDir()
  std::string Kind;  // what it exercises
};

inline std::string CorpusPath(const std::string& Name) { return ScratchDir() + "/" + Name; }

// An APP1 EXIF segment carrying Thumbnail as IFD1's JPEG thumbnail.
inline std::vector<uint8_t> ExifSegment(const std::vector<uint8_t>& Thumbnail) {
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header, IFD0 at 8
                               0, 0, 14, 0, 0, 0,            // IFD0: no entries, next IFD at 14
                               2, 0,                         // IFD1: two entries
                               0x01, 0x02, 4, 0, 1, 0, 0, 0, 44, 0, 0, 0,  // JPEGInterchangeFormat = 44
                               0x02, 0x02, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0,   // JPEGInterchangeFormatLength
                               0, 0, 0, 0};                                // no further IFD
  const uint32_t n = static_cast<uint32_t>(Thumbnail.size());
  for (int i = 0; i < 4; ++i) tiff[36 + i] = static_cast<uint8_t>(n >> (8 * i));
  tiff.insert(tiff.end(), Thumbnail.begin(), Thumbnail.end());
  const uint8_t head[10] = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> seg(sizeof(head) + tiff.size());
  std::copy(head, head + sizeof(head), seg.begin());
  std::copy(tiff.begin(), tiff.end(), seg.begin() + sizeof(head));
  const size_t len = seg.size() - 2;
  seg[2] = static_cast<uint8_t>(len >> 8);
  seg[3] = static_cast<uint8_t>(len);
  return seg;
}

// Builds the corpus (once) and returns its files; an empty list when a tool
// failed (the failure is reported to the calling test).
inline const std::vector<TCorpusFile>& JpegCorpus() {
  static const std::vector<TCorpusFile> files = [] {
    const std::string d = ScratchDir() + "/";
    const std::string ff = "ffmpeg -v error -y -f lavfi -i ";
    const std::string noise = ",noise=alls=24:allf=t\" -frames:v 1 ";
    const std::vector<std::string> make = {
        ff + "\"testsrc2=size=640x480" + noise + d + "src.ppm",
        ff + "\"testsrc2=size=321x241" + noise + d + "odd.ppm",
        ff + "\"testsrc2=size=160x120" + noise + d + "thumb.ppm",
        "cjpeg -quality 85 -sample 2x2 " + d + "src.ppm > " + d + "b420.jpg",
        "cjpeg -quality 85 -sample 2x1 " + d + "src.ppm > " + d + "b422.jpg",
        "cjpeg -quality 85 -sample 1x1 " + d + "src.ppm > " + d + "b444.jpg",
        "cjpeg -quality 85 -grayscale " + d + "src.ppm > " + d + "grey.jpg",
        "cjpeg -quality 85 -progressive " + d + "src.ppm > " + d + "prog.jpg",
        "cjpeg -quality 85 -restart 1 " + d + "src.ppm > " + d + "rst1.jpg",
        "cjpeg -quality 85 -restart 7B " + d + "src.ppm > " + d + "rst7b.jpg",
        "cjpeg -quality 85 -optimize " + d + "src.ppm > " + d + "opt.jpg",
        "cjpeg -quality 85 -arithmetic " + d + "src.ppm > " + d + "arith.jpg",
        "cjpeg -quality 85 -sample 2x2 " + d + "odd.ppm > " + d + "odd.jpg",
        "cjpeg -quality 70 " + d + "thumb.ppm > " + d + "thumb.jpg",
        "ffmpeg -v error -y -i " + d + "src.ppm -pix_fmt yuvj422p -q:v 4 " + d + "ff422.jpg",
        "ffmpeg -v error -y -i " + d + "odd.ppm -pix_fmt yuvj420p -q:v 3 " + d + "ff420odd.jpg",
        ConvertTool() + " " + d + "src.ppm -quality 80 -sampling-factor 2x2 " + d + "im.jpg",
    };
    for (const std::string& cmd : make)
      if (Run(cmd) != 0) {
        ADD_FAILURE() << "corpus command failed: " << cmd;
        return std::vector<TCorpusFile>();
      }
    // Camera quirks made from the baseline file: an EXIF thumbnail, a frame
    // cut short, garbage after the end marker.
    const std::vector<uint8_t> base = ReadFile<std::vector<uint8_t>>(d + "b420.jpg");
    std::vector<uint8_t> exif(base.begin(), base.begin() + 2);
    const std::vector<uint8_t> seg = ExifSegment(ReadFile<std::vector<uint8_t>>(d + "thumb.jpg"));
    exif.insert(exif.end(), seg.begin(), seg.end());
    exif.insert(exif.end(), base.begin() + 2, base.end());
    WriteFile<std::vector<uint8_t>>(d + "exif.jpg", exif);
    WriteFile<std::vector<uint8_t>>(d + "trunc.jpg", std::vector<uint8_t>(base.begin(), base.begin() + base.size() * 6 / 10));
    std::vector<uint8_t> garbage(base);
    for (int i = 0; i < 3000; ++i) garbage.push_back(static_cast<uint8_t>(i * 131 + 7));
    WriteFile<std::vector<uint8_t>>(d + "garbage.jpg", garbage);

    std::vector<TCorpusFile> list = {
        {"b420.jpg", "baseline 4:2:0"},      {"b422.jpg", "baseline 4:2:2"},
        {"b444.jpg", "baseline 4:4:4"},      {"grey.jpg", "greyscale"},
        {"prog.jpg", "progressive"},         {"rst1.jpg", "restart every MCU row"},
        {"rst7b.jpg", "restart every 7 MCUs"}, {"opt.jpg", "optimised Huffman tables"},
        {"arith.jpg", "arithmetic coding"},  {"odd.jpg", "321x241"},
        {"ff422.jpg", "ffmpeg 4:2:2"},       {"ff420odd.jpg", "ffmpeg 4:2:0 321x241"},
        {"im.jpg", "ImageMagick"},           {"exif.jpg", "EXIF thumbnail"},
        {"trunc.jpg", "truncated frame"},    {"garbage.jpg", "garbage after the end marker"},
    };
    for (const TCorpusFile& f : list)
      if (Run("djpeg -pnm " + d + f.Name + " > " + d + f.Name + ".pnm 2>/dev/null") > 2) {  // 2: warnings
        ADD_FAILURE() << "djpeg failed on " << f.Name;
        return std::vector<TCorpusFile>();
      }
    return list;
  }();
  return files;
}

}  // namespace kztest
