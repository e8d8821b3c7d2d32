// WAV files: the RIFF/WAVE header reader (PCM, IEEE float and their
// extensible forms, chunks walked within the file), the conversion of file
// samples to the 8/16-bit blocks the library works with, and a writer of
// plain PCM files whose sizes are kept current while it writes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "audio/fmxMKzAudioFuncs.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

struct TKzWaveHeader {
  int32_t Channels = 0;
  int32_t SamplesPerSec = 0;
  int32_t FileBits = 0;  // bits of one sample in the file (its container)
  bool Float = false;
  int32_t FileBlockAlign = 0;
  int64_t DataOffset = 0;
  int64_t DataSize = 0;  // bytes present in the file, whole frames
  int64_t Frames = 0;
  // What blocks carry: 8 and 16-bit integer samples as they are, the rest as 16-bit.
  TKzBitsPerSample Bits = TKzBitsPerSample::kzbps8;
  int32_t FrameBytes() const { return KzBitsToInt(Bits) / 8 * Channels; }
  bool Converted() const { return Float || (FileBits != 8 && FileBits != 16); }
};

constexpr int32_t KZ_WAVE_MAX_CHANNELS = 8;

// Reads the header of the WAV file in Stream (whose Size is the file's).
// False with Error naming the problem for anything it cannot play. Any
// thread; reads the stream.
bool ReadWaveHeader(TStream& Stream, TKzWaveHeader& Header, std::string& Error);

// Frames frames of file samples at In to the block layout at Out
// (Frames * Header.FrameBytes() bytes). Pure.
void ConvertWaveFrames(const uint8_t* In, int64_t Frames, const TKzWaveHeader& Header, uint8_t* Out);

// The 44-byte header of a PCM file: RIFF size = DataSize + 36. A rate below
// 1, a negative size, channels outside 1..2 or bits other than 8 and 16
// raise EKzMediaError. Pure.
constexpr int32_t KZ_WAVE_HEADER_SIZE = 44;
void KzWriteWaveHeader(uint8_t* Out44, int32_t Channels, int32_t SamplesPerSec, int32_t Bits, int64_t DataSize);

// A PCM file being written: the header first, the sizes refreshed once a
// second and at Close. The owning thread.
class TKzWaveWriter {
public:
  // Raises EKzMediaError for an invalid format or a file it cannot create.
  TKzWaveWriter(const std::string& FileName, int32_t Channels, int32_t SamplesPerSec, int32_t Bits);
  ~TKzWaveWriter();
  TKzWaveWriter(const TKzWaveWriter&) = delete;
  TKzWaveWriter& operator=(const TKzWaveWriter&) = delete;

  // Appends Size bytes of samples; false when the file cannot take them.
  bool Write(const void* Data, int64_t Size);
  // Writes the final sizes and closes the file. Idempotent.
  void Close();
  int64_t DataSize() const { return FDataSize; }

private:
  void UpdateSizes();
  std::unique_ptr<TFileStream> FFile;
  int32_t FChannels, FSamplesPerSec, FBits;
  int64_t FDataSize = 0;
  uint64_t FLastUpdate = 0;
};

}  // namespace kz
