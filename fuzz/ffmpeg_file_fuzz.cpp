// Arbitrary bytes as a media file through the FFmpeg engine: it must end
// with an error or the end of the file, never crash or run away; each input
// is played for at most a second (then aborted, which must also end it).
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <string>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace {

std::string TempFile() {
  char path[] = "/tmp/kzffmpegfuzz.XXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const bool loaded = kz::LoadFFMpegLibraries("");
  static const std::string path = TempFile();
  if (!loaded || Size > (1 << 20)) return 0;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(Data, 1, Size, f);
  std::fclose(f);

  kz::TKzMFFMPEG player;
  player.Options.ProbeSize = 1 << 16;
  player.Options.CountThreads = 1;
  int64_t pixels = 0;
  player.OnNewImage = [&](void*, kz::TKzMBitmap& Img, double) {
    pixels += Img.GetLength();
    return true;
  };
  player.OnGetAudio = [](void*, kz::TMemoryStream& S, int32_t& Bytes, uint16_t, int64_t&, uint32_t&, int32_t&,
                         kz::TKzBitsPerSample&, int32_t&) {
    if (Bytes < 0 || Bytes > S.Size()) __builtin_trap();
  };
  auto done = std::async(std::launch::async, [&] { player.PlayVideo(path); });
  if (done.wait_for(std::chrono::seconds(1)) != std::future_status::ready) player.Abort();
  if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) __builtin_trap();  // abort must end it
  if (player.State() != kz::TKzFFMState::kzffmsInit) __builtin_trap();
  return 0;
}
