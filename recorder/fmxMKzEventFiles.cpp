#include "recorder/fmxMKzEventFiles.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace kz {

namespace {
void Replace(std::string& S, const std::string& Token, const std::string& Value) {
  for (size_t at = S.find(Token); at != std::string::npos; at = S.find(Token, at + Value.size()))
    S.replace(at, Token.size(), Value);
}

bool Exists(const std::string& Path) {
  struct stat st;
  return ::lstat(Path.c_str(), &st) == 0;
}
}  // namespace

std::string KzEventFileName(const std::string& Pattern, const std::string& Source, const std::string& Kind,
                            int64_t WallMs) {
  const std::time_t secs = static_cast<std::time_t>(WallMs / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  char date[48], time[48];
  std::snprintf(date, sizeof date, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  std::snprintf(time, sizeof time, "%02d%02d%02d-%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, int(WallMs % 1000));
  std::string name = Pattern.empty() ? KzDefaultEventFileNamePattern : Pattern;
  Replace(name, "{source}", Source.empty() ? "camera" : Source);
  Replace(name, "{kind}", Kind);
  Replace(name, "{date}", date);
  Replace(name, "{time}", time);
  for (char& c : name)
    if (c == '/' || static_cast<unsigned char>(c) < 32) c = '_';
  if (name.empty() || name == "." || name == "..") name = "recording";
  if (name.find('.') == std::string::npos || name.rfind('.') == 0) name += ".mkv";
  return name;
}

std::string KzUniqueFilePath(const std::string& Folder, const std::string& Name) {
  const std::string base = Folder.empty() ? Name : Folder + "/" + Name;
  if (!Exists(base) && !Exists(KzEventsSideFileName(base))) return base;
  const size_t dot = Name.rfind('.');
  const std::string stem = dot == std::string::npos ? Name : Name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : Name.substr(dot);
  for (int n = 1;; ++n) {
    const std::string p = (Folder.empty() ? "" : Folder + "/") + stem + "-" + std::to_string(n) + ext;
    if (!Exists(p)) return p;
  }
}

std::string KzEventsSideFileName(const std::string& FileName) { return FileName + ".events"; }

bool KzWriteEventsSideFile(const std::string& FileName, int64_t FileStartMs, const std::vector<TKzMotionEvent>& Events) {
  std::FILE* f = std::fopen(KzEventsSideFileName(FileName).c_str(), "w");
  if (!f) return false;
  bool ok = true;
  for (const TKzMotionEvent& e : Events)
    ok = std::fprintf(f, "%.3f %.3f %d %d %d %d\n", (e.StartMs - FileStartMs) / 1000.0, (e.EndMs - FileStartMs) / 1000.0,
                      e.Bounds.Left, e.Bounds.Top, e.Bounds.Right, e.Bounds.Bottom) > 0 &&
         ok;
  return std::fclose(f) == 0 && ok;
}

bool KzReadEventsSideFile(const std::string& FileName, std::vector<TKzMotionEvent>& Events) {
  std::ifstream in(FileName);
  if (!in) return false;
  Events.clear();
  for (std::string line; std::getline(in, line);) {
    std::istringstream l(line);
    double start, end;
    TKzMotionEvent e;
    if (!(l >> start >> end >> e.Bounds.Left >> e.Bounds.Top >> e.Bounds.Right >> e.Bounds.Bottom)) continue;
    e.StartMs = std::llround(start * 1000);
    e.EndMs = std::llround(end * 1000);
    Events.push_back(e);
  }
  return true;
}

}  // namespace kz
