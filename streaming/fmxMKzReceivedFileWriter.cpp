#include "streaming/fmxMKzReceivedFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kz {

std::string KzSanitizeFileName(const std::string& Name) {
  std::string base = Name;
  const size_t slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base = base.substr(slash + 1);
  std::string out;
  for (char c : base)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  if (out.empty() || out == "." || out == "..") return "file";
  for (size_t at; (at = out.find("..")) != std::string::npos;) out.replace(at, 2, "_");
  return out;
}

TKzReceivedFileWriter::TKzReceivedFileWriter(std::string Folder, int64_t MaxFileBytes)
    : FFolder(std::move(Folder)), FMaxFileBytes(MaxFileBytes) {
  if (FFolder.empty()) FFolder = ".";
}

TKzReceivedFileWriter::~TKzReceivedFileWriter() {
  for (auto& [key, p] : FPartial) {
    close(p.Fd);
    unlink(p.TempName.c_str());
  }
}

void TKzReceivedFileWriter::Drop(const TKey& Key, const std::string& Why) {
  auto it = FPartial.find(Key);
  if (it != FPartial.end()) {
    close(it->second.Fd);
    unlink(it->second.TempName.c_str());
    FPartial.erase(it);
  }
  FError = Why;
}

bool TKzReceivedFileWriter::Finish(TPartial& P) {
  const bool synced = fsync(P.Fd) == 0;
  close(P.Fd);
  P.Fd = -1;
  // The first name not taken: "name", "name.1", "name.2" ...
  std::string target = FFolder + "/" + P.Name;
  for (int n = 1; access(target.c_str(), F_OK) == 0 && n < 10000; ++n)
    target = FFolder + "/" + P.Name + "." + std::to_string(n);
  if (!synced || rename(P.TempName.c_str(), target.c_str()) != 0) {
    unlink(P.TempName.c_str());
    FError = "cannot complete " + target;
    return false;
  }
  FCompleted.push_back(target);
  return true;
}

bool TKzReceivedFileWriter::Write(const TGUID& Source, const std::string& Name, int64_t Offset, int64_t Total,
                                  const uint8_t* Data, size_t Size) {
  const TKey key{GUIDToStringA(Source), KzSanitizeFileName(Name)};
  if (Total < 0 || Total > FMaxFileBytes || Offset < 0 || Offset + static_cast<int64_t>(Size) > Total) {
    Drop(key, key.second + ": larger than " + std::to_string(FMaxFileBytes) + " bytes or beyond its size");
    return false;
  }
  auto it = FPartial.find(key);
  if (it != FPartial.end() && Offset == 0 && it->second.Written > 0) {
    Drop(key, key.second + ": sent again from its start");  // the new copy replaces the old one
    it = FPartial.end();
  }
  if (it == FPartial.end()) {
    if (Offset != 0) {
      FError = key.second + ": a chunk without the file's start";
      return false;
    }
    TPartial p;
    p.TempName = FFolder + "/.kzpart-XXXXXX";
    p.Fd = mkstemp(p.TempName.data());  // mode 0600
    if (p.Fd < 0) {
      FError = "cannot create a partial file in " + FFolder;
      return false;
    }
    p.Name = key.second;
    p.Total = Total;
    it = FPartial.emplace(key, std::move(p)).first;
  }
  TPartial& p = it->second;
  if (Offset != p.Written || Total != p.Total) {
    Drop(key, key.second + ": chunks do not follow on");
    return false;
  }
  for (size_t done = 0; done < Size;) {
    const ssize_t n = pwrite(p.Fd, Data + done, Size - done, Offset + static_cast<int64_t>(done));
    if (n <= 0) {
      Drop(key, key.second + ": cannot write");
      return false;
    }
    done += static_cast<size_t>(n);
  }
  p.Written += static_cast<int64_t>(Size);
  if (p.Written < p.Total) return true;
  TPartial done = std::move(p);
  FPartial.erase(it);
  return Finish(done);
}

}  // namespace kz
