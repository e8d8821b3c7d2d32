// Compression blocks and the one-shot inflaters: every block read stays
// inside the input and inflates within its bound; the stream inflaters
// keep the bytes around the region they inflate.
#include <cstdint>
#include <vector>

#include "streaming/fmxMKzStreamZip.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TKzInflater inflater;
  std::vector<uint8_t> out;
  KzReadAllBlocks(Data, Size, out, inflater);
  Check(out.size() <= (Size / KZ_BLOCK_OVERHEAD + 1) * KzInflateBound(KZ_MAX_BLOCK_DATA));

  int16_t n = 0;
  size_t used = 0;
  if (KzParseBlock(Data, Size, n, used) == TKzBlockResult::kzbrOk) Check(used <= Size && used == static_cast<size_t>(10 + (n < 0 ? -n : n)));

  const size_t head = Size ? Data[0] % (Size + 1) : 0;
  TMemoryStream s;
  kzfuzz::Load(s, Data, Size);
  int64_t newSize = 0;
  if (UnPackStream(s, static_cast<int64_t>(head), static_cast<int64_t>(Size - head), newSize)) {
    Check(newSize <= static_cast<int64_t>(KzInflateBound(Size - head)));
    Check(s.Size() == static_cast<int64_t>(head) + newSize && s.Position() == s.Size());
    Check(std::vector<uint8_t>(s.Memory(), s.Memory() + head) == std::vector<uint8_t>(Data, Data + head));
  }
  TMemoryStream src, dest;
  src.Write(Data, static_cast<int64_t>(Size));
  src.SetPosition(0);
  UnPackStreamEx(src, dest, static_cast<int64_t>(Size));
  Check(src.Position() == 0 && dest.Size() <= static_cast<int64_t>(KzInflateBound(Size)));
  return 0;
}
