// A connection's reassembly state fed any bytes in two reads: the blocks
// it inflates stay within their bounds, what it produced is what it
// counted, and it never holds more than it was given.
#include <cstdint>
#include <cstring>
#include <utility>

#include "streaming/fmxMKzSocketList.h"

using namespace kz;

namespace {
void Check(bool Ok) {
  if (!Ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  TKzSocketItem item(1, KZ_INVALID_SOCKET);
  item.DataLen = (Data[0] | Data[1] << 8) * 64;
  const size_t half = 2 + (Size - 2) / 2;
  for (const auto& [from, to] : {std::pair<size_t, size_t>{2, half}, {half, Size}}) {
    item.RecvStream.Seek(0, TSeekOrigin::soEnd);
    item.RecvStream.Write(Data + from, static_cast<int64_t>(to - from));
    item.UnPackPackage(item.RecvStream.Size());
    Check(item.LoadData == item.tmp.Size());
    Check(item.RecvStream.Size() <= static_cast<int64_t>(Size));
  }
  Check(item.tmp.Size() <= static_cast<int64_t>((Size / KZ_BLOCK_OVERHEAD + 1) * KzInflateBound(KZ_MAX_BLOCK_DATA)));
  item.Clear(false);
  Check(item.RecvStream.Size() < 8 || std::memcmp(item.RecvStream.Memory(), "CON_NULL", 8) != 0);
  return 0;
}
