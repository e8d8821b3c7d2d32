// HWL files: the header reader, TWavelet.OpenHWL and HWL2Mem agree on what
// a file holds, never crash, and give the same pixels.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "video/Fmxmkzwavefuncs.h"
#include "video/Fmxmkzwavelet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::string file = "/tmp/hwl_file_fuzz." + std::to_string(getpid());
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(Data, 1, Size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  kz::HWL_Header header, memHeader;
  if (kz::ReadHeaderHWL(file, header) != (Size >= kz::HWL_HeaderSize)) __builtin_trap();
  kz::TWavelet w;
  std::vector<uint8_t> buffer;
  const bool opened = w.OpenHWL(file);
  if (kz::HWL2Mem(buffer, memHeader, file, true) != opened) __builtin_trap();
  if (!opened) return 0;
  const kz::TKzMBitmap& b = w.BitmapHWL();
  const bool grey = header.bpp == 8;
  if (b.Width() != header.width || b.Height() != header.height ||
      buffer.size() != static_cast<size_t>(b.GetLength()) * (grey ? 1 : 4))
    __builtin_trap();
  for (int64_t i = 0; i < b.GetLength(); ++i) {
    const uint32_t p = b.Data()[i];
    const uint32_t m = grey ? buffer[i] * 0x010101u
                            : buffer[4 * i] | buffer[4 * i + 1] << 8 | static_cast<uint32_t>(buffer[4 * i + 2]) << 16;
    if ((p & 0xFFFFFF) != m || (!grey && buffer[4 * i + 3] != 0)) __builtin_trap();
  }
  return 0;
}
