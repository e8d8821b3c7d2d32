// Session packs and header packs: any 16 or 60 bytes read and written back
// give the same bytes, so no field is lost or misplaced.
#include <cstdint>
#include <cstring>

#include "streaming/fmxMKzStreamTypes.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size >= TKzSessionPack::WireSize) {
    uint8_t back[TKzSessionPack::WireSize];
    KzSessionPackToBytes(KzSessionPackFromBytes(Data), back);
    Check(std::memcmp(back, Data, sizeof back) == 0);
  }
  if (Size >= TKzHeaderPack::WireSize) {
    uint8_t back[TKzHeaderPack::WireSize];
    KzHeaderPackToBytes(KzHeaderPackFromBytes(Data), back);
    Check(std::memcmp(back, Data, sizeof back) == 0);
  }
  return 0;
}
