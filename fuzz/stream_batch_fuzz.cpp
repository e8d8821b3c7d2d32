// Pulled answers: the batch reader yields the same batches whether fed the
// input whole or cut in two; a batch's chunks lie inside the bytes between
// its packs; it holds no more than the input.
#include <cstdint>
#include <vector>

#include "streaming/fmxMKzChannelSession.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

namespace {
std::vector<TKzBatch> Read(const uint8_t* Data, size_t Size, size_t Cut) {
  TKzBatchReader reader;
  reader.Feed(Data, Cut);
  reader.Feed(Data + Cut, Size - Cut);
  Check(reader.Buffered() <= Size);
  std::vector<TKzBatch> out;
  for (TKzBatch b; reader.Next(b);) out.push_back(std::move(b));
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const size_t cut = Size ? Data[Size - 1] * Size / 256 : 0;
  const std::vector<TKzBatch> whole = Read(Data, Size, Size), split = Read(Data, Size, cut);
  Check(whole.size() == split.size());
  for (size_t i = 0; i < whole.size(); ++i) {
    Check(whole[i].Begin == split[i].Begin && whole[i].Valid == split[i].Valid &&
          whole[i].Chunks.size() == split[i].Chunks.size());
    size_t bytes = 0;
    for (size_t k = 0; k < whole[i].Chunks.size(); ++k) {
      Check(whole[i].Chunks[k].Packet == split[i].Chunks[k].Packet);
      bytes += whole[i].Chunks[k].Packet.size() + TKzHeaderPack::WireSize;
    }
    Check(bytes <= Size);
  }
  return 0;
}
