// Block sequences into the player's sound front on the fake wave-out and the
// virtual clock: arbitrary time stamps, sizes, formats, clock jumps, clears
// and deletes. Nothing crashes, the queue never passes its cap and the free
// buffer count stays within 0..8.
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/fmxMKzSound.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformFakeWaveOut.h"

namespace {
const kz::TKzAudioInfo kFormats[] = {
    {8000, kz::TKzBitsPerSample::kzbps8, 1},   {48000, kz::TKzBitsPerSample::kzbps16, 2},
    {22050, kz::TKzBitsPerSample::kzbps16, 1}, {11025, kz::TKzBitsPerSample::kzbps8, 2},
    {0, kz::TKzBitsPerSample::kzbps16, 1},     {44100, kz::TKzBitsPerSample::kzbps16, 0},
};

void CheckInvariants(const kz::TKzPlaySound& Sound) {
  for (const kz::TKzPlayItemRef& i : Sound.List().Items()) {
    const int32_t free = i->FreeBuffers();
    const int64_t queued = i->Stats().QueuedBytes;
    if (free < 0 || free > kz::KZ_PLAY_BUFFERS || queued < 0 || queued > kz::KZ_PLAY_MAX_QUEUED) __builtin_trap();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static kz::TKzFakeWaveOutBackend fake;
  static bool installed = [] {
    fake.RecordPlayed = false;
    kz::KzSetWaveOutBackend(&fake);
    return true;
  }();
  (void)installed;
  kz::TKzVirtualClockScope clock;
  const kz::TGUID guids[2] = {kz::KzCreateGUID(), kz::KzCreateGUID()};
  std::vector<uint8_t> block(65536);
  {
    kz::TKzPlaySound sound(200, -1);
    sound.SetAudioLatency(150);
    int64_t stamp = 100000;
    for (size_t at = 0; at + 6 <= Size && at < 6 * 200; at += 6) {
      const uint8_t* r = Data + at;
      const kz::TGUID& guid = guids[(r[0] >> 4) & 1];
      const uint16_t index = (r[0] >> 2) & 1;
      switch (r[0] & 3) {
        case 0: {
          const kz::TKzAudioInfo& f = kFormats[r[1] % (sizeof kFormats / sizeof kFormats[0])];
          stamp += int16_t(r[2] | (r[3] << 8));
          const int32_t bytes = r[5] * 256 + (r[1] >> 4);
          std::memset(block.data(), r[4], size_t(bytes));
          kz::TMemoryStream s;
          s.Write(block.data(), bytes);
          sound.PlayAudio(guid, index, s, bytes, (r[0] >> 3) & 1, f, stamp, r[4]);
          break;
        }
        case 1:
          clock.Clock.Advance(uint64_t(r[1]) * 40 + r[4]);
          break;
        case 2:
          sound.ClearBuffer(guid);
          break;
        default:
          sound.List().DeleteGUID(guid, index);
          break;
      }
      CheckInvariants(sound);
    }
  }
  kz::ClearGuidInfo(guids[0]);
  kz::ClearGuidInfo(guids[1]);
  return 0;
}
