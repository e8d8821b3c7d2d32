#include "platform/fmxMKzPlatformFiles.h"

#include <glob.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

namespace kz {

namespace {
// setenv/getenv are not thread-safe against each other.
std::mutex& EnvLock() {
  static std::mutex m;
  return m;
}
}  // namespace

std::string PlatformTempDir() {
  std::string dir = PlatformGetEnv("TMPDIR");
  struct stat st {};
  if (dir.empty() || stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) dir = "/tmp";
  while (dir.size() > 1 && dir.back() == PathDelim) dir.pop_back();
  return dir;
}

bool PlatformFileExists(const std::string& FileName) {
  struct stat st {};
  return !FileName.empty() && stat(FileName.c_str(), &st) == 0;
}

int64_t PlatformFirstMatchSize(const std::string& Name) {
  if (Name.empty()) return -1;
  glob_t g{};
  int64_t size = -1;
  if (glob(Name.c_str(), GLOB_NOSORT, nullptr, &g) == 0 && g.gl_pathc > 0) {
    struct stat st {};
    if (stat(g.gl_pathv[0], &st) == 0) size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  }
  globfree(&g);
  return size;
}

std::string PlatformGetEnv(const std::string& Name) {
  std::lock_guard<std::mutex> g(EnvLock());
  const char* v = std::getenv(Name.c_str());
  return v ? v : "";
}

void PlatformSetEnv(const std::string& Name, const std::string& Value) {
  std::lock_guard<std::mutex> g(EnvLock());
  setenv(Name.c_str(), Value.c_str(), 1);
}

}  // namespace kz
