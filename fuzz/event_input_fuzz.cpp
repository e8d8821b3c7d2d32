// The Motion-JPEG splitter and the event recorder's parsers: a byte stream
// cut into frames in pieces of any size gives the same frames as in one
// piece, each framed
// by its markers; a JPEG's frame size is read without reading past the data;
// an events side file reads back without failing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recorder/fmxMKzEventFiles.h"
#include "recorder/fmxMKzEventInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::vector<kz::TKzSharedBytes> whole, pieces;
  kz::TKzMjpegSplitter a, b;
  a.Add(Data, Size, whole);
  const size_t step = Size > 0 ? 1 + Data[0] % 7 : 1;
  for (size_t at = 0; at < Size; at += step) b.Add(Data + at, std::min(step, Size - at), pieces);
  if (whole.size() != pieces.size()) abort();
  for (size_t i = 0; i < whole.size(); ++i)
    if (*whole[i] != *pieces[i]) abort();
  for (const auto& shared : whole) {
    const std::vector<uint8_t>& f = *shared;
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8 || f[f.size() - 2] != 0xFF || f[f.size() - 1] != 0xD9) abort();
    int32_t w = 0, h = 0;
    if (kz::KzJpegFrameSize(f.data(), f.size(), w, h) && (w <= 0 || h <= 0)) abort();
  }
  int32_t w = 0, h = 0;
  kz::KzJpegFrameSize(Data, Size, w, h);
  char path[] = "/tmp/kzfuzz-events.XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  FILE* f = fdopen(fd, "wb");
  fwrite(Data, 1, Size, f);
  fclose(f);
  std::vector<kz::TKzMotionEvent> events;
  if (!kz::KzReadEventsSideFile(path, events)) abort();
  remove(path);
  return 0;
}
