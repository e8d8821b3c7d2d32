// Replay driver for the fuzz targets when they are built without libFuzzer:
// runs the target once on a few built-in inputs, then once on each file
// named on the command line or found in a directory named there. A target
// that traps or aborts fails the run, so every corpus is a regression test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* Argc, char*** Argv);

namespace {

void Run(const std::string& Input) {
  // A copy of exactly Size bytes, so reads past the end show under ASan;
  // never a null pointer, not even for no bytes (as libFuzzer passes them).
  const std::unique_ptr<uint8_t[]> bytes(new uint8_t[Input.size()]);
  std::copy(Input.begin(), Input.end(), bytes.get());
  LLVMFuzzerTestOneInput(bytes.get(), Input.size());
}

std::string ReadAll(const std::filesystem::path& Path) {
  std::ifstream f(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  const std::string builtIn[] = {
      std::string(),
      std::string(1, '\0'),
      std::string(64, '\xFF'),
      std::string("\xFF\xD8\xFF\xD9", 4),
      "GET / HTTP/1.1\r\nHost: a.invalid\r\n\r\n",
      std::string(4096, 'A'),
  };
  for (const std::string& input : builtIn) Run(input);
  size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> paths;
    std::error_code ec;
    if (std::filesystem::is_directory(argv[i], ec)) {
      for (const auto& e : std::filesystem::directory_iterator(argv[i]))
        if (e.is_regular_file()) paths.push_back(e.path());
      std::sort(paths.begin(), paths.end());
    } else if (std::filesystem::is_regular_file(argv[i], ec)) {
      paths.emplace_back(argv[i]);
    } else {
      std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
      return 2;
    }
    for (const auto& p : paths) {
      Run(ReadAll(p));
      ++files;
    }
  }
  std::printf("replayed %zu built-in inputs and %zu files\n", std::size(builtIn), files);
  return 0;
}
