// kztool decode FILE... [--out DIR]: decodes JPEG, PNG, BMP and HWL files through
// the library and reports their size; with --out, writes each as PNG there.
// A picture whose file is cut off fails unless --allow-partial is given.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "foundation/fmxMKzBitmap.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/Fmxmkzwavefuncs.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzImageFiles.h"

using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--out", "DIR", "write each picture as DIR/NAME.png (DIR is created)"},
    {"--allow-partial", nullptr, "accept a picture whose file is cut off (what is missing is filled in)"},
};

std::string BaseName(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Whether a file of a picture format ends where its own structure says.
bool JpegComplete(const std::string& Bytes) {
  size_t length = 0;
  return kz::KzCheckJpegIntegrity(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), length,
                                  kz::TKzJpegIntegrity::kzjiFast);
}
bool PngComplete(const std::string& Bytes) {
  return Bytes.size() >= 20 && Bytes.find("IEND", Bytes.size() - 12) != std::string::npos;
}
bool BmpComplete(const std::string& Bytes) {
  if (Bytes.size() < 6) return false;
  const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(Bytes[i])); };
  return Bytes.size() >= (b(2) | b(3) << 8 | b(4) << 16 | b(5) << 24);
}

bool HwlComplete(const std::string& Bytes) {
  if (Bytes.size() < kz::HWL_HeaderSize) return false;
  kz::HWL_Header h;
  kz::KzGetHWLHeader(reinterpret_cast<const uint8_t*>(Bytes.data()), h);
  return kz::KzHWLHeaderValid(h) &&
         static_cast<int64_t>(Bytes.size()) >= static_cast<int64_t>(kz::HWL_HeaderSize) + kz::KzHWLBodySize(h);
}

struct TKzPictureFormat {
  std::string_view Magic;
  bool (*Complete)(const std::string& Bytes);
};
constexpr std::string_view kHwlMagic{"H\0W\0L\0", 6};
const TKzPictureFormat kFormats[] = {
    {"\xFF\xD8", JpegComplete}, {"\x89PNG", PngComplete}, {"BM", BmpComplete}, {kHwlMagic, HwlComplete}};

bool IsHwlFile(const std::string& File) {
  std::ifstream in(File, std::ios::binary);
  char head[6] = {};
  in.read(head, sizeof head);
  return std::string_view(head, static_cast<size_t>(in.gcount())) == kHwlMagic;
}

// JPEG, PNG and BMP through the library's image decoder, HWL through TWavelet.
bool DecodeFile(const std::string& File, kz::TKzMBitmap& Bitmap, std::string& Error) {
  if (!IsHwlFile(File)) return kz::KzDecodeImageFile(File, Bitmap, Error);
  kz::TWavelet wavelet;
  if (!wavelet.OpenHWL(File)) {
    Error = wavelet.LastError();
    return false;
  }
  Bitmap.AssignKzMBitmap(wavelet.BitmapHWL());
  return true;
}

// False when File is a picture of a known format whose file is cut off.
bool FileComplete(const std::string& File) {
  std::ifstream in(File, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const TKzPictureFormat& f : kFormats)
    if (bytes.compare(0, f.Magic.size(), f.Magic) == 0) return f.Complete(bytes);
  return true;  // unknown: the decoder says what it is
}

int Run(TKzArgs& Args) {
  if (Args.Positional.empty()) {
    Args.Error = "no file given";
    return kzExitUsage;
  }
  const std::string outDir = Args.Get("--out");
  const bool allowPartial = Args.Has("--allow-partial");
  if (!outDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
      KzErr("kztool decode: cannot create %s: %s\n", outDir.c_str(), ec.message().c_str());
      return kzExitFailed;
    }
  }
  int failed = 0;
  for (const std::string& file : Args.Positional) {
    if (KzStopSignal() != 0) return kzExitInterrupted;
    kz::TKzMBitmap bitmap;
    std::string error;
    if (!DecodeFile(file, bitmap, error)) {
      KzErr("%s\n", error.c_str());
      ++failed;
      continue;
    }
    if (!FileComplete(file)) {
      KzErr("%s: the picture is cut off (the file ends before the picture does)%s\n", file.c_str(),
            allowPartial ? "; decoded what there is" : "");
      if (!allowPartial) {
        ++failed;
        continue;
      }
    }
    KzOut("%s: %dx%d\n", file.c_str(), bitmap.Width(), bitmap.Height());
    if (!outDir.empty() && !kz::KzWriteImageFile(bitmap, outDir + "/" + BaseName(file) + ".png", error)) {
      KzErr("%s\n", error.c_str());
      ++failed;
    }
  }
  return failed == 0 ? kzExitDone : kzExitFailed;
}
}  // namespace

const TSubcommand kDecodeCommand = {
    "decode", "FILE...", "decodes JPEG, PNG, BMP and HWL files and prints their sizes; --out writes them as PNG",
    kOptions, Run};

}  // namespace kztool
