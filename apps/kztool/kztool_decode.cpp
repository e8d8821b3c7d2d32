// kztool decode FILE... [--out DIR]: decodes JPEG, PNG and BMP files through
// the library and reports their size; with --out, writes each as PNG there.
#include <cstdio>

#include "apps/kztool/kztool.h"
#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzImageFiles.h"

namespace kztool {

namespace {
std::string BaseName(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}
}  // namespace

int RunDecode(const std::vector<std::string>& Args) {
  std::vector<std::string> files;
  std::string outDir;
  for (size_t i = 0; i < Args.size(); ++i) {
    if (Args[i] == "--out" && i + 1 < Args.size())
      outDir = Args[++i];
    else
      files.push_back(Args[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "kztool decode: no file given\n");
    return 2;
  }
  int failed = 0;
  for (const std::string& file : files) {
    kz::TKzMBitmap bitmap;
    std::string error;
    if (!kz::KzDecodeImageFile(file, bitmap, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      ++failed;
      continue;
    }
    std::printf("%s: %dx%d\n", file.c_str(), bitmap.Width(), bitmap.Height());
    if (!outDir.empty() && !kz::KzWriteImageFile(bitmap, outDir + "/" + BaseName(file) + ".png", error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace kztool
