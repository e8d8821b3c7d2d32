// Changed-area containers from untrusted bytes: the rebuild never reads
// outside the buffer or draws outside the picture, consumes only whole
// containers or skipped bytes, and a stream fed in pieces gives the same
// frames and the same picture as the stream fed at once.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "kzfuzz.h"
#include "video/fmxMKzChangeDecode.h"

using namespace kz;
using kzfuzz::Check;

namespace {

struct TRun {
  TKzVideoDataItem Item{nullptr, 0};
  TKzChangeDecoder Decoder;
  std::vector<uint64_t> Frames;  // a digest of each frame shown
  void Feed(const uint8_t* Data, size_t Size) {
    Item.Data.Seek(0, TSeekOrigin::soEnd);
    Item.Data.Write(Data, static_cast<int64_t>(Size));
    const int64_t before = Item.Data.Size();
    Decoder.Decode(Item, [&](TKzVideoDataItem& I, const TKzChangeHeader& H) {
      Check(I.LastImg && I.LastImg->Width() == H.Width && I.LastImg->Height() == H.Height);
      uint64_t d = 1469598103934665603ull;
      for (int64_t i = 0; i < I.LastImg->GetLength(); ++i) d = (d ^ I.LastImg->Data()[i]) * 1099511628211ull;
      Frames.push_back(d);
    });
    Check(Item.Data.Size() <= before);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const size_t step = 1 + Data[0] % 64;
  const uint8_t* d = Data + 1;
  const size_t n = Size - 1;
  TRun whole, split;
  whole.Feed(d, n);
  for (size_t at = 0; at < n; at += step) split.Feed(d + at, std::min(step, n - at));
  Check(whole.Frames == split.Frames);
  Check(whole.Item.Data.Size() == split.Item.Data.Size());
  Check(whole.Item.NumFrame == split.Item.NumFrame && whole.Item.ChangedImg == split.Item.ChangedImg);
  return 0;
}
