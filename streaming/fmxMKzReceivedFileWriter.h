// Writes the files a receiver hands its application into one folder: each
// file grows in a partial file of its own (made with mkstemp, mode 0600) and
// takes its name, cleaned of anything that could lead out of the folder,
// when its last byte has arrived. A file larger than the byte cap, or whose
// chunks do not follow on, is dropped with its partial file.
//
// One writer belongs to one thread at a time (the receiver's file handler
// runs on its decode thread); nothing blocks but the file system.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

// The last part of a received file name with no "/", "\", "..", NUL or
// other control characters left; "file" when nothing is left.
std::string KzSanitizeFileName(const std::string& Name);

class TKzReceivedFileWriter {
public:
  static constexpr int64_t DefaultMaxFileBytes = int64_t{1} << 30;

  TKzReceivedFileWriter(std::string Folder, int64_t MaxFileBytes = DefaultMaxFileBytes);
  // Removes the partial files left.
  ~TKzReceivedFileWriter();
  TKzReceivedFileWriter(const TKzReceivedFileWriter&) = delete;
  TKzReceivedFileWriter& operator=(const TKzReceivedFileWriter&) = delete;

  // One chunk of file Name of Source at Offset, the file being Total bytes.
  // False, with Error() saying why, when the chunk or its file is refused.
  bool Write(const TGUID& Source, const std::string& Name, int64_t Offset, int64_t Total, const uint8_t* Data,
             size_t Size);
  // The paths of the files completed so far, in order.
  const std::vector<std::string>& Completed() const { return FCompleted; }
  const std::string& Error() const { return FError; }

private:
  struct TPartial {
    int Fd = -1;
    std::string TempName, Name;
    int64_t Written = 0, Total = 0;
  };
  using TKey = std::pair<std::string, std::string>;  // source GUID text, cleaned name
  void Drop(const TKey& Key, const std::string& Why);
  bool Finish(TPartial& P);

  std::string FFolder;
  int64_t FMaxFileBytes;
  std::map<TKey, TPartial> FPartial;
  std::vector<std::string> FCompleted;
  std::string FError;
};

}  // namespace kz
