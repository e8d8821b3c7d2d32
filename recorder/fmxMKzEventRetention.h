// Retention of recordings: the oldest go first when the folder holds more
// than a size or files older than an age. Only regular files directly in
// the folder whose names end in a recording extension (.mkv, .avi, .mp4,
// .mov) or ".events" count; nothing is followed out of the folder (no
// symbolic links, no sub-folders) and busy files are never touched.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kz {

struct TKzRetentionLimits {
  int64_t MaxBytes = 0;   // 0: no size limit
  int64_t MaxAgeSec = 0;  // 0: no age limit
};

struct TKzRetentionFile {
  std::string Path;
  int64_t Bytes = 0;
  int64_t MTimeSec = 0;
};

// The recordings in Folder, oldest first (by modification time, then name).
std::vector<TKzRetentionFile> KzRetentionList(const std::string& Folder);
// Deletes the oldest recordings (each with its side file) until the folder
// is within Limits at NowSec (seconds since the epoch); Busy holds paths
// that are being written. OnDeleted is told each file removed. Returns the
// bytes the folder's recordings hold afterwards.
int64_t KzRetentionSweep(const std::string& Folder, const TKzRetentionLimits& Limits,
                         const std::set<std::string>& Busy, int64_t NowSec,
                         const std::function<void(const std::string& Path)>& OnDeleted);

}  // namespace kz
