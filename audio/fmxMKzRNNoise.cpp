#include "audio/fmxMKzRNNoise.h"

#include <atomic>
#include <filesystem>

#include "foundation/fmxMKzType.h"

namespace kz {

namespace {

const char* const kDefaultNames[] = {"librnnoise.so.0", "librnnoise.so"};

struct TEntry {
  const char* Name;
  void** Slot;
  bool Required;
};

class TRNNoiseLibrary {
public:
  ~TRNNoiseLibrary() { Unload(); }

  bool Load(const std::string& Directory, const std::string& Name) {
    std::lock_guard<std::mutex> g(FLock);
    const bool named = !Directory.empty() || !Name.empty();
    if (FModule && !named) return true;
    UnloadLocked();
    if (!named) {
      for (const char* n : kDefaultNames)
        if (TryLoad(n)) return true;
      return false;
    }
    std::string path = Name.empty() ? kDefaultNames[0] : Name;
    if (!Directory.empty()) {
      std::string dir = std::filesystem::absolute(Directory).string();
      if (dir.back() != '/') dir += '/';
      path = dir + path;
    } else if (path.find('/') != std::string::npos) {
      path = std::filesystem::absolute(path).string();
    }
    return TryLoad(path);
  }

  void Unload() {
    std::lock_guard<std::mutex> g(FLock);
    UnloadLocked();
  }

  bool Loaded() const { return FLoaded.load(std::memory_order_acquire); }
  const TKzRNNoiseApi& Api() const { return FApi; }

private:
  bool TryLoad(const std::string& Path) {
    FModule = KzMLoadLibrary(Path);
    if (!FModule) return false;
    TKzRNNoiseApi api;
    const TEntry entries[] = {
        {"rnnoise_get_frame_size", reinterpret_cast<void**>(&api.rnnoise_get_frame_size), true},
        {"rnnoise_create", reinterpret_cast<void**>(&api.rnnoise_create), true},
        {"rnnoise_destroy", reinterpret_cast<void**>(&api.rnnoise_destroy), true},
        {"rnnoise_process_frame", reinterpret_cast<void**>(&api.rnnoise_process_frame), true},
        {"rnnoise_model_from_file", reinterpret_cast<void**>(&api.rnnoise_model_from_file), true},
        {"rnnoise_model_from_filename", reinterpret_cast<void**>(&api.rnnoise_model_from_filename), false},
        {"rnnoise_model_free", reinterpret_cast<void**>(&api.rnnoise_model_free), true},
    };
    for (const TEntry& e : entries) {
      *e.Slot = KzMGetProcAddress(FModule, e.Name);
      if (!*e.Slot && e.Required) {
        UnloadLocked();
        return false;
      }
    }
    FApi = api;
    FLoaded.store(true, std::memory_order_release);
    return true;
  }

  void UnloadLocked() {
    FLoaded.store(false, std::memory_order_release);
    FApi = TKzRNNoiseApi();
    if (FModule) KzMFreeLibrary(FModule);
    FModule = nullptr;
  }

  std::mutex FLock;  // guards loading and unloading
  TModuleHandle FModule = nullptr;
  TKzRNNoiseApi FApi;
  std::atomic<bool> FLoaded{false};
};

TRNNoiseLibrary& Library() {
  static TRNNoiseLibrary library;
  return library;
}

}  // namespace

bool KzLoadRNNoise(const std::string& Directory, const std::string& Name) { return Library().Load(Directory, Name); }
void KzUnloadRNNoise() { Library().Unload(); }
bool KzRNNoiseLoaded() { return Library().Loaded(); }
const TKzRNNoiseApi& KzRNNoise() { return Library().Api(); }
int KzRNNoiseFrameSize() { return KzRNNoiseLoaded() ? KzRNNoise().rnnoise_get_frame_size() : 0; }

}  // namespace kz
