#include "ffmpeg/fmxMKzFFmpegLib.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "foundation/fmxMKzRedact.h"
#include "platform/fmxMKzPlatformLibrary.h"

namespace kz {

TKzFFmpegApi kzFF;
std::atomic<int> kzFFMPEG{-1};

namespace {

enum TKzFFLib { avutil, avcodec, avformat, swscale, swresample, avdevice, kzffLibCount };

struct TKzFFLibInfo {
  const char* Stem;  // file name before the major version
  int HeaderMajor;   // the major version of the headers built with
  int Highest;       // the highest major version looked for
  bool Required;
};
// Looked for in this order: each one's dependencies come first.
constexpr TKzFFLibInfo KzFFLibs[kzffLibCount] = {
    {"libavutil.so.", LIBAVUTIL_VERSION_MAJOR, 59, true},
    {"libavcodec.so.", LIBAVCODEC_VERSION_MAJOR, 61, true},
    {"libavformat.so.", LIBAVFORMAT_VERSION_MAJOR, 61, true},
    {"libswscale.so.", LIBSWSCALE_VERSION_MAJOR, 8, true},
    {"libswresample.so.", LIBSWRESAMPLE_VERSION_MAJOR, 5, false},
    {"libavdevice.so.", LIBAVDEVICE_VERSION_MAJOR, 61, false},
};

struct TKzFFEntry {
  TKzFFLib Lib;
  const char* Name;
  void** Slot;
  bool Required;
};
const TKzFFEntry KzFFEntries[] = {
#define KZ_FFMPEG_ENTRY(Lib, Name, Required) {Lib, #Name, reinterpret_cast<void**>(&kzFF.Name), Required},
    KZ_FFMPEG_ENTRIES(KZ_FFMPEG_ENTRY)
#undef KZ_FFMPEG_ENTRY
};

std::mutex glBindLock;  // guards everything below and the load/unload of kzFF
TModuleHandle glModules[kzffLibCount] = {};
std::string glFolder, glBindError;
bool glTried = false, glRegistered = false;
int glFormatMajor = 0;
std::atomic<void (*)(int, const std::string&)> glLogSink{nullptr};

std::string LibraryPath(const std::string& Folder, const TKzFFLibInfo& Info, int Major) {
  std::string path = Folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + Info.Stem + std::to_string(Major);
}

// Loads the library of the headers' major version; when that is missing,
// finds which other version is there so the refusal can name it.
bool LoadOne(const std::string& Folder, TKzFFLib Lib) {
  const TKzFFLibInfo& info = KzFFLibs[Lib];
  glModules[Lib] = PlatformLoadLibrary(LibraryPath(Folder, info, info.HeaderMajor));
  if (glModules[Lib]) return true;
  if (!info.Required) return true;
  for (int n = info.Highest; n >= 0; --n) {
    if (n == info.HeaderMajor) continue;
    if (PlatformLoadLibrary(LibraryPath(Folder, info, n))) {
      glBindError = std::string("FFmpeg ") + info.Stem + std::to_string(n) + " found, but this build needs " +
                    info.Stem + std::to_string(info.HeaderMajor);
      return false;
    }
  }
  glBindError = std::string("Library not found ") + info.Stem;
  return false;
}

// The run-time major versions must be the headers' (a library found under a
// matching file name may still report another version).
bool CheckVersions() {
  const struct {
    TKzFFLib Lib;
    unsigned (*Version)();
  } checks[] = {{avutil, kzFF.avutil_version},       {avcodec, kzFF.avcodec_version},
                {avformat, kzFF.avformat_version},   {swscale, kzFF.swscale_version},
                {swresample, kzFF.swresample_version}, {avdevice, kzFF.avdevice_version}};
  for (const auto& c : checks) {
    if (!c.Version) continue;
    const int major = int(c.Version() >> 16);
    if (major != KzFFLibs[c.Lib].HeaderMajor) {
      glBindError = std::string("FFmpeg ") + KzFFLibs[c.Lib].Stem + " reports version " + std::to_string(major) +
                    ", this build needs " + std::to_string(KzFFLibs[c.Lib].HeaderMajor);
      return false;
    }
  }
  glFormatMajor = int(kzFF.avformat_version() >> 16);
  return true;
}

bool BindEntries() {
  for (const TKzFFEntry& e : KzFFEntries) {
    *e.Slot = PlatformGetProcAddress(glModules[e.Lib], e.Name);
    // Entry points that moved between avcodec and avutil are found in the other.
    if (!*e.Slot && (e.Lib == avcodec || e.Lib == avutil))
      *e.Slot = PlatformGetProcAddress(glModules[e.Lib == avcodec ? avutil : avcodec], e.Name);
    if (!*e.Slot && e.Required) {
      glBindError = std::string("Procedure \"") + e.Name + "\" not found!";
      return false;
    }
  }
  return true;
}

void UnloadLocked() {
  kzFFMPEG.store(-1);
  kzFF = TKzFFmpegApi{};
  // The handles are dropped but the libraries stay mapped: FFmpeg's own
  // dependencies (ICU, OpenMP, the audio and graphics libraries) keep
  // process-wide state that cannot be torn down and would be lost if unmapped.
  for (TModuleHandle& m : glModules) m = nullptr;
  glFormatMajor = 0;
  glRegistered = false;
}

bool InitLocked(const std::string& Folder) {
  if (kzFFMPEG.load() >= 0) return true;
  glTried = true;
  glBindError.clear();
  for (int lib = 0; lib < kzffLibCount; ++lib) {
    if (!LoadOne(Folder, TKzFFLib(lib))) {
      UnloadLocked();
      return false;
    }
  }
  if (!BindEntries() || !CheckVersions()) {
    UnloadLocked();
    return false;
  }
  kzFFMPEG.store(FFmpegGenerationOf(glFormatMajor));
  return true;
}

void LogCallback(void* Avcl, int Level, const char* Fmt, va_list Args) {
  auto sink = glLogSink.load();
  if (!sink || Level > AV_LOG_WARNING || !kzFF.av_log_format_line2) return;
  char line[1024];
  int prefix = 1;
  va_list copy;
  va_copy(copy, Args);
  kzFF.av_log_format_line2(Avcl, Level, Fmt, copy, line, sizeof line, &prefix);
  va_end(copy);
  sink(Level, KzRedactCredentials(line));
}

}  // namespace

int FFmpegGenerationOf(int FormatMajor) {
  if (FormatMajor <= 57) return 2;
  if (FormatMajor >= 61) return 6;
  return FormatMajor - 55;
}

bool libFFMPEG_dynamic_dll_init(const std::string& Folder) {
  std::lock_guard<std::mutex> g(glBindLock);
  return InitLocked(Folder);
}

void libFFMPEG_dynamic_dll_done() {
  std::lock_guard<std::mutex> g(glBindLock);
  UnloadLocked();
}

bool LoadFFMpegLibraries(const std::string& Folder) {
  UnregisterFFMPEG();
  std::lock_guard<std::mutex> g(glBindLock);
  UnloadLocked();
  glFolder = Folder;
  return InitLocked(Folder);
}

bool IsSupportedFFmpeg() {
  {
    std::lock_guard<std::mutex> g(glBindLock);
    if (kzFFMPEG.load() < 0 && (glTried || !InitLocked(glFolder))) return false;
  }
  RegisterFFMPEG();
  return true;
}

void RegisterFFMPEG() {
  std::lock_guard<std::mutex> g(glBindLock);
  if (glRegistered || kzFFMPEG.load() < 0) return;
  glRegistered = true;
  if (kzFF.avdevice_register_all) kzFF.avdevice_register_all();
  kzFF.av_log_set_callback(LogCallback);
  kzFF.avformat_network_init();
}

void UnregisterFFMPEG() {
  std::lock_guard<std::mutex> g(glBindLock);
  if (!glRegistered) return;
  glRegistered = false;
  kzFF.av_log_set_callback(nullptr);
  kzFF.avformat_network_deinit();
}

std::string LastFFmpegBindError() {
  std::lock_guard<std::mutex> g(glBindLock);
  return glBindError;
}

int FFmpegFormatMajor() {
  std::lock_guard<std::mutex> g(glBindLock);
  return glFormatMajor;
}

void SetFFmpegLogSink(void (*Sink)(int Level, const std::string& Line)) { glLogSink.store(Sink); }

std::string av_ts2str(int64_t ts) {
  if (ts == AV_NOPTS_VALUE) return "NOPTS";
  return std::to_string(ts);
}

std::string av_ts2timestr(int64_t ts, const AVRational* tb) {
  if (ts == AV_NOPTS_VALUE) return "NOPTS";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", kz::av_q2d(*tb) * double(ts));
  return buf;
}

std::string av_err2str(int errnum) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
  if (!kzFF.av_strerror || kzFF.av_strerror(errnum, buf, sizeof buf) < 0)
    std::snprintf(buf, sizeof buf, "Error number %d occurred", errnum);
  return buf;
}

}  // namespace kz
