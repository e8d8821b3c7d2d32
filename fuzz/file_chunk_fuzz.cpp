// File chunk records: the reader never reads outside the buffer; a record it
// accepts is written back by WriteFileHeader to a record that reads the
// same; the stream reader of the description agrees with the buffer reader
// and leaves the position alone when it refuses.
#include <cstdint>
#include <vector>

#include "foundation/Fmxmkzstreamfuncs.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TKzFileChunk chunk;
  size_t used = 0;
  if (KzReadFileChunk(Data, Size, chunk, used) == TKzFileChunkResult::kzfcOk) {
    Check(used <= Size && chunk.DataOffset + static_cast<size_t>(chunk.DataLength) == used);
    TMemoryStream s;
    s.Write(Data + chunk.DataOffset, chunk.DataLength);
    WriteFileHeader(s, chunk.FileInfo);
    TKzFileChunk again;
    size_t usedAgain = 0;
    Check(KzReadFileChunk(s.Memory(), static_cast<size_t>(s.Size()), again, usedAgain) == TKzFileChunkResult::kzfcOk);
    Check(again.FileInfo.FileGUID == chunk.FileInfo.FileGUID && again.FileInfo.FileOffs == chunk.FileInfo.FileOffs &&
          again.FileInfo.TotalFileSize == chunk.FileInfo.TotalFileSize && again.DataLength == chunk.DataLength);
    Check(std::vector<uint8_t>(s.Memory() + again.DataOffset, s.Memory() + usedAgain) ==
          std::vector<uint8_t>(Data + chunk.DataOffset, Data + used));
  }

  TMemoryStream s;
  kzfuzz::Load(s, Data, Size);
  TKzFileInfo fromStream, fromBuffer;
  int64_t count = 0;
  size_t infoUsed = 0;
  const bool streamOk = LoadFileInfo(fromStream, s, count);
  Check(streamOk == KzParseFileInfo(Data, Size, fromBuffer, infoUsed));
  if (streamOk) {
    Check(count == static_cast<int64_t>(infoUsed) && s.Position() == count);
    Check(fromStream.FileName == fromBuffer.FileName && fromStream.FileGUID == fromBuffer.FileGUID);
  } else {
    Check(s.Position() == 0 && count == 0);
  }
  return 0;
}
