// File-system services: the temporary directory, existence and size queries.
#pragma once
#include <cstdint>
#include <string>

namespace kz {

constexpr char PathDelim = '/';
constexpr char PathSep = ':';  // separator of PATH-like variables

// $TMPDIR when set and a directory, else /tmp; without a trailing delimiter.
// Any thread, never blocks.
std::string PlatformTempDir();
bool PlatformFileExists(const std::string& FileName);
// Size of the first file matching Name (shell wildcards allowed), -1 when none.
int64_t PlatformFirstMatchSize(const std::string& Name);
// Process environment. Any thread.
std::string PlatformGetEnv(const std::string& Name);
void PlatformSetEnv(const std::string& Name, const std::string& Value);

}  // namespace kz
