// Motion-JPEG frame search: every span found lies inside the data and is
// framed by a start and an end marker; the file-order walk always advances.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "video/fmxMKzJpegFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const int64_t n = static_cast<int64_t>(Size);
  auto check = [&](const kz::TKzJpegSpan& s) {
    if (s.Begin < 0 || s.End > n || s.Begin + 4 > s.End) abort();
    if (Data[s.Begin] != 0xFF || Data[s.Begin + 1] != 0xD8 || Data[s.End - 2] != 0xFF || Data[s.End - 1] != 0xD9)
      abort();
  };
  // The marker searches agree with a plain byte-by-byte walk.
  for (uint8_t mark : {uint8_t(0xD8), uint8_t(0xD9)}) {
    int64_t last = -1, first = -1;
    for (int64_t i = 0; i + 1 < n; ++i)
      if (Data[i] == 0xFF && Data[i + 1] == mark) {
        if (first < 0) first = i;
        last = i;
      }
    if (n >= 2 && kz::KzFindMarkerBackward(Data, 0, n - 2, mark) != last) abort();
    if (kz::KzFindMarkerForward(Data, 0, n, mark) != first) abort();
  }
  kz::TKzJpegSpan span;
  const int64_t searched = Size > 0 ? Data[0] % (n + 1) : 0;
  if (kz::KzFindNewestJpegFrame(Data, n, 0, span)) check(span);
  if (kz::KzFindNewestJpegFrame(Data, n, searched, span)) check(span);
  int64_t pos = 0;
  while (kz::KzFindNextJpegFrame(Data, n, pos, span)) {
    if (span.End <= pos || span.End > n) abort();
    if (span.Begin >= 0) check(span);
    pos = span.End;
  }
  return 0;
}
