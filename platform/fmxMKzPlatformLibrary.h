// Run-time loading of shared libraries. Never throws.
#pragma once
#include <string>

namespace kz {

using TModuleHandle = void*;

// Any thread, may block on the loader. nullptr when the library cannot be loaded.
TModuleHandle PlatformLoadLibrary(const std::string& FileName);
// nullptr when the module or the entry is missing.
void* PlatformGetProcAddress(TModuleHandle Module, const std::string& Name);
void PlatformFreeLibrary(TModuleHandle Module);
// The loader's text for the last failure on this thread ("" when none).
std::string PlatformLastLibraryError();

}  // namespace kz
