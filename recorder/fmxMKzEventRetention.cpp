#include "recorder/fmxMKzEventRetention.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "recorder/fmxMKzEventFiles.h"

namespace kz {

namespace {
bool EndsWith(const std::string& S, const std::string& End) {
  return S.size() > End.size() && S.compare(S.size() - End.size(), End.size(), End) == 0;
}

bool IsRecordingName(const std::string& Name) {
  for (const char* ext : {".mkv", ".avi", ".mp4", ".mov", ".events"})
    if (EndsWith(Name, ext)) return true;
  return false;
}
}  // namespace

std::vector<TKzRetentionFile> KzRetentionList(const std::string& Folder) {
  std::vector<TKzRetentionFile> out;
  DIR* d = ::opendir(Folder.c_str());
  if (!d) return out;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name.find('/') != std::string::npos || !IsRecordingName(name)) continue;
    const std::string path = Folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    out.push_back({path, static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtime)});
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const TKzRetentionFile& A, const TKzRetentionFile& B) {
    return A.MTimeSec != B.MTimeSec ? A.MTimeSec < B.MTimeSec : A.Path < B.Path;
  });
  return out;
}

int64_t KzRetentionSweep(const std::string& Folder, const TKzRetentionLimits& Limits,
                         const std::set<std::string>& Busy, int64_t NowSec,
                         const std::function<void(const std::string& Path)>& OnDeleted) {
  std::vector<TKzRetentionFile> files = KzRetentionList(Folder);
  // A recording and its side file go together, aged by the recording.
  std::map<std::string, const TKzRetentionFile*> byPath;
  int64_t total = 0;
  for (const TKzRetentionFile& f : files) {
    byPath[f.Path] = &f;
    total += f.Bytes;
  }
  auto busy = [&](const std::string& P) {
    return Busy.count(P) || (EndsWith(P, ".events") && Busy.count(P.substr(0, P.size() - 7)));
  };
  for (const TKzRetentionFile& f : files) {
    const bool tooBig = Limits.MaxBytes > 0 && total > Limits.MaxBytes;
    const bool tooOld = Limits.MaxAgeSec > 0 && NowSec - f.MTimeSec > Limits.MaxAgeSec;
    if (!tooBig && !tooOld) continue;
    if (EndsWith(f.Path, ".events") && byPath.count(f.Path.substr(0, f.Path.size() - 7))) continue;
    if (busy(f.Path)) continue;
    for (const std::string& p : {f.Path, KzEventsSideFileName(f.Path)}) {
      auto it = byPath.find(p);
      if (it == byPath.end() || !it->second) continue;
      if (::unlink(p.c_str()) != 0) continue;
      total -= it->second->Bytes;
      it->second = nullptr;
      if (OnDeleted) OnDeleted(p);
    }
  }
  return total;
}

}  // namespace kz
