// BMP files: the reader accepts or refuses without crashing, never reads
// past the data, and what it accepts writes back and reads again unchanged
// (24-bit pictures are opaque, so compare colours).
#include <cstdint>

#include "foundation/fmxMKzBitmap.h"
#include "kzfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kz::TMemoryStream s;
  kzfuzz::Load(s, Data, Size);
  kz::TKzMBitmap b;
  if (!b.LoadFromStream(s)) return 0;
  if (b.IsEmpty() || s.Position() > static_cast<int64_t>(Size)) __builtin_trap();
  kz::TMemoryStream out;
  b.SaveToStream32bit(out);
  out.SetPosition(0);
  kz::TKzMBitmap again;
  if (!again.LoadFromStream(out) || again.Width() != b.Width() || again.Height() != b.Height()) __builtin_trap();
  for (int64_t i = 0; i < b.GetLength(); ++i)
    if ((again.Data()[i] & 0xFFFFFF) != (b.Data()[i] & 0xFFFFFF)) __builtin_trap();
  return 0;
}
