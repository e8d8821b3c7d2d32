// Framed-picture and audio-block scans: never read outside the buffer;
// every frame reported is valid and frames do not overlap; scanning in two
// steps (resuming where a scan found nothing) finds what one scan finds.
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/fmxMKzByteOrder.h"
#include "video/fmxMKzFrameContainer.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

namespace {

bool Same(const TKzFrameScan& A, const TKzFrameScan& B) {
  if (A.Frames.size() != B.Frames.size() || A.Consumed != B.Consumed) return false;
  for (size_t i = 0; i < A.Frames.size(); ++i)
    if (A.Frames[i].Offset != B.Frames[i].Offset || A.Frames[i].Size != B.Frames[i].Size) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const TKzFrameFormat& format = *KzFindFrameFormat(static_cast<TKzImageType>(1 + Data[0] % 4));
  const size_t limit = 1 + Data[1] % 8;
  const uint8_t* d = Data + 2;
  const int64_t n = static_cast<int64_t>(Size - 2);

  TKzFrameScan full;
  KzScanFramedImages(d, n, format, 0, limit, full);
  Check(full.Frames.size() <= limit);
  Check(full.Frames.empty() == (full.Consumed == 0));
  int64_t below = n;
  for (const TKzFramedImage& f : full.Frames) {
    Check(f.Offset >= 0 && f.Size > 0 && f.End() <= below);
    Check(memcmp(d + f.Offset, format.Begin.data(), 3) == 0 && memcmp(d + f.End() - 3, format.End.data(), 3) == 0);
    Check(KzGetLE<uint32_t>(d + f.Offset + 3) == f.Size && KzGetLE<uint32_t>(d + f.End() - 7) == f.Size);
    below = f.Offset;
  }
  if (!full.Frames.empty()) Check(full.Consumed == full.Frames[0].End());

  const int64_t cut = n > 0 ? static_cast<int64_t>(Data[1]) * 37 % (n + 1) : 0;
  TKzFrameScan prefix, resumed;
  KzScanFramedImages(d, cut, format, 0, limit, prefix);
  if (prefix.Frames.empty()) {
    KzScanFramedImages(d, n, format, cut, limit, resumed);
    Check(Same(full, resumed));
  }

  std::vector<TKzAudioFrame> audio;
  KzScanAudioFrames(d, n, audio);
  int64_t after = 0;
  for (const TKzAudioFrame& a : audio) {
    const int64_t end = a.DataOffset() + a.Size + 7;
    Check(a.Offset >= after && end <= n);
    Check(KzGetLE<uint32_t>(d + a.Offset + 3) == a.Size && KzGetLE<uint32_t>(d + end - 7) == a.Size);
    after = end;
  }
  return 0;
}
