#include "platform/fmxMKzPlatformLibrary.h"

#include <dlfcn.h>

namespace kz {

namespace {
thread_local std::string tLastError;
void TakeError() {
  const char* e = dlerror();
  tLastError = e ? e : "";
}
}  // namespace

TModuleHandle PlatformLoadLibrary(const std::string& FileName) {
  if (FileName.empty()) return nullptr;
  void* h = dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) TakeError();
  return h;
}

void* PlatformGetProcAddress(TModuleHandle Module, const std::string& Name) {
  if (!Module || Name.empty()) return nullptr;
  dlerror();
  void* p = dlsym(Module, Name.c_str());
  if (!p) TakeError();
  return p;
}

void PlatformFreeLibrary(TModuleHandle Module) {
  if (Module) dlclose(Module);
}

std::string PlatformLastLibraryError() { return tLastError; }

}  // namespace kz
