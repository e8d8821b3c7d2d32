#include "foundation/fmxMKzTrack.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {
// Copies Count bytes to Dest: the first Available from Source, zeros after.
void CopyPadded(uint8_t* Dest, const uint8_t* Source, int64_t Available, int64_t Count) {
  const int64_t n = std::clamp<int64_t>(Available, 0, Count);
  if (n > 0) memcpy(Dest, Source, static_cast<size_t>(n));
  if (Count > n) memset(Dest + n, 0, static_cast<size_t>(Count - n));
}

// Grows S to Size bytes (zero-filled) or cuts it; false when out of memory.
bool ResizeZeroed(TMemoryStream& S, int64_t Size) {
  const int64_t old = S.Size();
  if (!S.SetSize(Size)) return false;
  if (Size > old) memset(S.Memory() + old, 0, static_cast<size_t>(Size - old));
  return true;
}
}  // namespace

TKzMTrack::TKzMTrack(int32_t ChannelCount) {
  if (ChannelCount < 1 || ChannelCount > KZ_MAX_AUDIO_CHANNELS)
    throw EKzMediaError("Invalid channel count " + std::to_string(ChannelCount));
  for (int32_t i = 0; i < ChannelCount; ++i) Data[i] = std::make_unique<TMemoryStream>();
}

TMemoryStream& TKzMTrack::Channel(int32_t Index) {
  KzAssert(Index >= 0 && Index < KZ_MAX_AUDIO_CHANNELS && Data[Index]);
  return *Data[Index];
}

void TKzMTrack::Clear() { DataSize = 0; }

void TKzMTrack::WriteAt(TMemoryStream& S, const uint8_t* Bytes, int64_t Available, int64_t Count) {
  if (!ResizeZeroed(S, DataSize)) throw EKzMediaError("Out of memory");
  if (!S.SetSize(static_cast<int64_t>(DataSize) + Count)) throw EKzMediaError("Out of memory");
  CopyPadded(S.Memory() + DataSize, Bytes, Available, Count);
}

void TKzMTrack::AddData(const TMemoryStream& Stream, int32_t Channel_) {
  TMemoryStream& ch = Channel(Channel_);
  const int64_t n = Stream.Size();
  KzAssert(n <= INT32_MAX - DataSize);
  WriteAt(ch, Stream.Memory(), n, n);
  DataSize += static_cast<int32_t>(n);
}

void TKzMTrack::AddAllData(const TKzAudioStreamArray& Streams, int32_t Count) {
  KzAssert(Count >= 0 && Count <= INT32_MAX - DataSize);
  for (int32_t i = 0; i < KZ_MAX_AUDIO_CHANNELS; ++i) {
    if (!Streams[i]) continue;
    if (!Data[i]) Data[i] = std::make_unique<TMemoryStream>();
    Streams[i]->SetPosition(0);
    WriteAt(*Data[i], Streams[i]->Memory(), Streams[i]->Size(), Count);
  }
  DataSize += Count;
}

void TKzMTrack::AddAllDataFromBuffers(const TKzAudioConstBufferArray& Buffers, int32_t Count) {
  KzAssert(Count >= 0 && Count <= INT32_MAX - DataSize);
  for (int32_t i = 0; i < KZ_MAX_AUDIO_CHANNELS; ++i) {
    if (!Buffers[i]) continue;
    if (!Data[i]) Data[i] = std::make_unique<TMemoryStream>();
    WriteAt(*Data[i], Buffers[i], Count, Count);
  }
  DataSize += Count;
}

void TKzMTrack::Add(const TKzMTrack& Other) { AddAllData(Other.Data, Other.DataSize); }

void TKzMTrack::Assign(const TKzMTrack& Other) {
  if (&Other == this) return;
  DataSize = Other.DataSize;
  for (int32_t i = 0; i < KZ_MAX_AUDIO_CHANNELS; ++i) {
    if (!Other.Data[i]) {
      Data[i].reset();
      continue;
    }
    if (!Data[i]) Data[i] = std::make_unique<TMemoryStream>();
    if (!Data[i]->SetSize(DataSize)) throw EKzMediaError("Out of memory");
    CopyPadded(Data[i]->Memory(), Other.Data[i]->Memory(), Other.Data[i]->Size(), DataSize);
  }
}

void TKzMTrack::TakeFront(TMemoryStream& S, uint8_t* Out, int64_t Count) {
  if (S.Size() < DataSize) ResizeZeroed(S, DataSize);
  if (Out) memcpy(Out, S.Memory(), static_cast<size_t>(Count));
  S.DeleteFront(Count);
}

void TKzMTrack::ExtractData(void* Buffer, int32_t Count, int32_t Channel_) {
  KzAssert(Count >= 0 && Count <= DataSize);
  TakeFront(Channel(Channel_), static_cast<uint8_t*>(Buffer), Count);
  DataSize -= Count;
}

bool TKzMTrack::ExtractDataToBuffers(const TKzAudioBufferArray& Buffers, int32_t Count) {
  if (Count < 0 || Count > DataSize) return false;
  for (int32_t i = 0; i < KZ_MAX_AUDIO_CHANNELS; ++i)
    if (Data[i]) TakeFront(*Data[i], Buffers[i], Count);
  DataSize -= Count;
  return true;
}

// ---- TKzTrackData

void TKzTrackData::Assign(const TKzTrackData& Other) {
  if (&Other == this) return;
  UserGUID = Other.UserGUID;
  AudioInfo = Other.AudioInfo;
  StartTime = Other.StartTime;
  MSecTime = Other.MSecTime;
  AudioDeviceId = Other.AudioDeviceId;
  SizeData = Other.SizeData;
  const int64_t size = std::max<int32_t>(SizeData, 0);
  if (!Data.SetSize(size)) throw EKzMediaError("Out of memory");
  const int64_t from = std::clamp<int64_t>(Other.Data.Position(), 0, Other.Data.Size());
  CopyPadded(Data.Memory(), Other.Data.Memory() + from, Other.Data.Size() - from, size);
  Data.SetPosition(0);
}

}  // namespace kz
