#include "audio/Fmxmkzwavefuncs.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"
#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {

constexpr uint16_t kFormatPCM = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The sub-format GUID of an extensible header after its first two bytes
// (which hold the plain format code).
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ReadAt(TStream& S, int64_t Pos, void* Out, int64_t Count) {
  return S.Seek(Pos, TSeekOrigin::soBeginning) == Pos && S.Read(Out, Count) == Count;
}

struct TFmtChunk {
  uint16_t Tag = 0;
  uint16_t Channels = 0;
  uint32_t Rate = 0;
  uint16_t BlockAlign = 0;
  uint16_t Bits = 0;
};

bool ParseFmt(const uint8_t* P, uint32_t Size, TFmtChunk& F, std::string& Error) {
  if (Size < 16) {
    Error = "format chunk too short";
    return false;
  }
  F.Tag = KzGetLE<uint16_t>(P);
  F.Channels = KzGetLE<uint16_t>(P + 2);
  F.Rate = KzGetLE<uint32_t>(P + 4);
  F.BlockAlign = KzGetLE<uint16_t>(P + 12);
  F.Bits = KzGetLE<uint16_t>(P + 14);
  if (F.Tag == kFormatExtensible) {
    if (Size < 40 || std::memcmp(P + 26, kSubFormatTail, sizeof(kSubFormatTail)) != 0) {
      Error = "extensible format without a PCM or float sub-format";
      return false;
    }
    F.Tag = KzGetLE<uint16_t>(P + 24);
  }
  return true;
}

bool CheckFormat(const TFmtChunk& F, TKzWaveHeader& H, std::string& Error) {
  const bool pcm = F.Tag == kFormatPCM && (F.Bits == 8 || F.Bits == 16 || F.Bits == 24 || F.Bits == 32);
  const bool flt = F.Tag == kFormatFloat && (F.Bits == 32 || F.Bits == 64);
  if (!pcm && !flt) {
    Error = "unsupported sample format " + std::to_string(F.Tag) + " with " + std::to_string(F.Bits) + " bits";
    return false;
  }
  if (F.Channels < 1 || F.Channels > KZ_WAVE_MAX_CHANNELS) {
    Error = "unsupported channel count " + std::to_string(F.Channels);
    return false;
  }
  if (F.Rate < 1 || F.Rate > 1000000) {
    Error = "unsupported sample rate " + std::to_string(F.Rate);
    return false;
  }
  if (F.BlockAlign != F.Channels * F.Bits / 8) {
    Error = "block align " + std::to_string(F.BlockAlign) + " does not match the format";
    return false;
  }
  H.Channels = F.Channels;
  H.SamplesPerSec = static_cast<int32_t>(F.Rate);
  H.FileBits = F.Bits;
  H.Float = flt;
  H.FileBlockAlign = F.BlockAlign;
  H.Bits = (F.Bits == 8 && !flt) ? TKzBitsPerSample::kzbps8 : TKzBitsPerSample::kzbps16;
  return true;
}

}  // namespace

bool ReadWaveHeader(TStream& Stream, TKzWaveHeader& Header, std::string& Error) {
  Header = TKzWaveHeader();
  const int64_t fileSize = Stream.Size();
  uint8_t riff[12];
  // The RIFF size is not trusted: writers leave it 0, too large or off by a few.
  if (!ReadAt(Stream, 0, riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    Error = "not a RIFF/WAVE file";
    return false;
  }
  bool haveFmt = false, haveData = false;
  TFmtChunk fmt;
  for (int64_t pos = 12; pos + 8 <= fileSize && !(haveFmt && haveData);) {
    uint8_t chunk[8];
    if (!ReadAt(Stream, pos, chunk, 8)) break;
    const uint32_t size = KzGetLE<uint32_t>(chunk + 4);
    const int64_t body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFmt) {
      uint8_t p[40] = {};
      const uint32_t take = std::min<uint32_t>(size, 40);
      if (body + take > fileSize || !ReadAt(Stream, body, p, take)) {
        Error = "format chunk cut short";
        return false;
      }
      if (!ParseFmt(p, size, fmt, Error)) return false;
      haveFmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
      Header.DataOffset = body;
      // A size beyond the file (or a streaming writer's placeholder) plays what is there.
      Header.DataSize = std::min<int64_t>(size, fileSize - body);
      haveData = true;
    }
    pos = body + size + (size & 1);  // chunks are padded to even sizes
  }
  if (!haveFmt) {
    Error = "no format chunk";
    return false;
  }
  if (!haveData) {
    Error = "no data chunk";
    return false;
  }
  if (!CheckFormat(fmt, Header, Error)) return false;
  Header.Frames = Header.DataSize / Header.FileBlockAlign;
  Header.DataSize = Header.Frames * Header.FileBlockAlign;
  return true;
}

namespace {
int16_t ToS16(double V) { return static_cast<int16_t>(std::clamp<int64_t>(KzRound(V), -32768, 32767)); }

int16_t ConvertSample(const uint8_t* P, const TKzWaveHeader& H) {
  if (H.Float)
    return H.FileBits == 32 ? ToS16(static_cast<double>(std::bit_cast<float>(KzGetLE<uint32_t>(P))) * 32768.0)
                            : ToS16(std::bit_cast<double>(KzGetLE<uint64_t>(P)) * 32768.0);
  if (H.FileBits == 24) {
    const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(P[0] | (P[1] << 8) | (P[2] << 16)) << 8) >> 8;
    return ToS16(v / 256.0);
  }
  return ToS16(static_cast<double>(KzGetLE<int32_t>(P)) / 65536.0);
}
}  // namespace

void ConvertWaveFrames(const uint8_t* In, int64_t Frames, const TKzWaveHeader& Header, uint8_t* Out) {
  if (!Header.Converted()) {
    std::memcpy(Out, In, static_cast<size_t>(Frames * Header.FileBlockAlign));
    return;
  }
  const int32_t bytes = Header.FileBits / 8;
  const int64_t samples = Frames * Header.Channels;
  for (int64_t i = 0; i < samples; ++i) KzPutLE<int16_t>(Out + 2 * i, ConvertSample(In + i * bytes, Header));
}

void KzWriteWaveHeader(uint8_t* Out44, int32_t Channels, int32_t SamplesPerSec, int32_t Bits, int64_t DataSize) {
  if (SamplesPerSec < 1 || DataSize < 0 || Channels < 1 || Channels > 2 || (Bits != 8 && Bits != 16))
    throw EKzMediaError("invalid WAV format");
  const uint32_t data = static_cast<uint32_t>(std::min<int64_t>(DataSize, 0xFFFFFFFFll - 36));
  const uint16_t align = static_cast<uint16_t>(Bits / 8 * Channels);
  std::memcpy(Out44, "RIFF", 4);
  KzPutLE<uint32_t>(Out44 + 4, data + 36);
  std::memcpy(Out44 + 8, "WAVEfmt ", 8);
  KzPutLE<uint32_t>(Out44 + 16, 16);
  KzPutLE<uint16_t>(Out44 + 20, kFormatPCM);
  KzPutLE<uint16_t>(Out44 + 22, static_cast<uint16_t>(Channels));
  KzPutLE<uint32_t>(Out44 + 24, static_cast<uint32_t>(SamplesPerSec));
  KzPutLE<uint32_t>(Out44 + 28, static_cast<uint32_t>(SamplesPerSec) * align);
  KzPutLE<uint16_t>(Out44 + 32, align);
  KzPutLE<uint16_t>(Out44 + 34, static_cast<uint16_t>(Bits));
  std::memcpy(Out44 + 36, "data", 4);
  KzPutLE<uint32_t>(Out44 + 40, data);
}

TKzWaveWriter::TKzWaveWriter(const std::string& FileName, int32_t Channels, int32_t SamplesPerSec, int32_t Bits)
    : FChannels(Channels), FSamplesPerSec(SamplesPerSec), FBits(Bits) {
  uint8_t header[KZ_WAVE_HEADER_SIZE];
  KzWriteWaveHeader(header, Channels, SamplesPerSec, Bits, 0);
  FFile = std::make_unique<TFileStream>(FileName, TFileMode::fmCreate);
  if (!FFile->Valid() || FFile->Write(header, sizeof(header)) != sizeof(header))
    throw EKzMediaError("cannot create " + FileName);
  FLastUpdate = KzMGetTickCount();
}

TKzWaveWriter::~TKzWaveWriter() { Close(); }

bool TKzWaveWriter::Write(const void* Data, int64_t Size) {
  if (!FFile || Size < 0) return false;
  if (Size > 0 && FFile->Write(Data, Size) != Size) return false;
  FDataSize += Size;
  // Readers of a file still being written see what it holds so far.
  if (KzMGetTickCount() - FLastUpdate >= 1000) UpdateSizes();
  return true;
}

void TKzWaveWriter::UpdateSizes() {
  uint8_t header[KZ_WAVE_HEADER_SIZE];
  KzWriteWaveHeader(header, FChannels, FSamplesPerSec, FBits, FDataSize);
  FFile->Seek(4, TSeekOrigin::soBeginning);
  FFile->Write(header + 4, 4);
  FFile->Seek(40, TSeekOrigin::soBeginning);
  FFile->Write(header + 40, 4);
  FFile->Seek(0, TSeekOrigin::soEnd);
  FLastUpdate = KzMGetTickCount();
}

void TKzWaveWriter::Close() {
  if (!FFile) return;
  UpdateSizes();
  FFile.reset();
}

}  // namespace kz
