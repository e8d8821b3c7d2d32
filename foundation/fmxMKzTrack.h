// Audio blocks: the multi-channel accumulator TKzMTrack (one growable stream
// per channel, all holding DataSize valid bytes) and the audio block record
// TKzTrackData. Neither locks: each belongs to one thread at a time.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

constexpr int32_t KZ_MAX_AUDIO_CHANNELS = 8;
using TKzAudioStreamArray = std::array<std::unique_ptr<TMemoryStream>, KZ_MAX_AUDIO_CHANNELS>;
using TKzAudioBufferArray = std::array<uint8_t*, KZ_MAX_AUDIO_CHANNELS>;
using TKzAudioConstBufferArray = std::array<const uint8_t*, KZ_MAX_AUDIO_CHANNELS>;

// All operations: the owning thread, never block. Channel indexes outside the
// created channels and negative counts are assertion failures.
class TKzMTrack {
public:
  // Creates the first ChannelCount channels (1 to 8, else EKzMediaError).
  explicit TKzMTrack(int32_t ChannelCount);
  TKzMTrack(const TKzMTrack&) = delete;
  TKzMTrack& operator=(const TKzMTrack&) = delete;

  // DataSize := 0; the channels keep their memory.
  void Clear();
  // Writes all of Stream into channel Channel at offset DataSize, then adds
  // the stream's size to DataSize (single-channel use).
  void AddData(const TMemoryStream& Stream, int32_t Channel);
  // For every non-null stream: its first Count bytes into the same channel
  // at offset DataSize (zeros where the stream is shorter); then DataSize += Count.
  // A channel missing here is created.
  void AddAllData(const TKzAudioStreamArray& Streams, int32_t Count);
  void AddAllDataFromBuffers(const TKzAudioConstBufferArray& Buffers, int32_t Count);
  // AddAllData(Other.Data, Other.DataSize).
  void Add(const TKzMTrack& Other);
  // Copies DataSize and the first DataSize bytes of each channel; a channel
  // that Other lacks is freed here too.
  void Assign(const TKzMTrack& Other);
  // Count <= DataSize (assertion): copies the first Count bytes of the channel
  // to Buffer, moves the rest to the front, DataSize -= Count (single-channel use).
  void ExtractData(void* Buffer, int32_t Count, int32_t Channel);
  // False and nothing changed when Count > DataSize; otherwise the same for
  // every channel (into Buffers[i] where not null).
  bool ExtractDataToBuffers(const TKzAudioBufferArray& Buffers, int32_t Count);

  int32_t DataSize = 0;
  TKzAudioStreamArray Data;

private:
  TMemoryStream& Channel(int32_t Index);
  // Writes Count bytes (zeros where Bytes runs out after Available) at DataSize.
  void WriteAt(TMemoryStream& S, const uint8_t* Bytes, int64_t Available, int64_t Count);
  void TakeFront(TMemoryStream& S, uint8_t* Out, int64_t Count);
};

// One block of audio from a source.
class TKzTrackData {
public:
  TKzTrackData() = default;
  TKzTrackData(const TKzTrackData&) = delete;
  TKzTrackData& operator=(const TKzTrackData&) = delete;

  // Copies the fields and SizeData bytes of Other's stream from its current
  // position (zeros where it holds fewer); the copy is positioned at 0. Owning thread.
  void Assign(const TKzTrackData& Other);

  TGUID UserGUID;
  int32_t SizeData = 0;
  TMemoryStream Data;
  int64_t StartTime = 0;
  uint32_t MSecTime = 0;  // duration in milliseconds
  int32_t AudioDeviceId = 0;
  TKzAudioInfo AudioInfo;
};

// A block of audio handed to the application: the stream's bytes from
// position 0, ADataSize long. Sender is the object that produced it.
using TKzAudioEvent =
    std::function<void(void* Sender, TMemoryStream& AStream, int32_t& ADataSize, uint16_t AAudioIndex,
                       int64_t& AStartTime, uint32_t& ADuration, int32_t& ASamplesPerSec,
                       TKzBitsPerSample& ABitsPerSample, int32_t& AChannels)>;

}  // namespace kz
