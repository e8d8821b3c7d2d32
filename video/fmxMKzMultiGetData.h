// The fetch thread of a multi-source pipeline, fed by the receiver's network
// threads with framed chunks of many senders: plays audio blocks out at once,
// passes video, user data and file chunks to its decode thread, and posts
// command chunks straight to the owner. Owning it owns the whole chain:
// fetch -> decode -> draw.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "foundation/fmxMKzDataList.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "video/fmxMKzMultiDecode.h"
#include "video/fmxMKzMultiStage.h"

namespace kz {

class TKzMultiGetData : public TKzMultiStage {
public:
  // Producers hold file transfer back above this many waiting bytes per source.
  static constexpr int64_t MaxFileBufferBytes = 33554432;

  // Created suspended with its decode and draw threads. Owner's thread.
  TKzMultiGetData(IKzMultiSourceOwner& Owner, TKzConsumerLists& Consumers);
  ~TKzMultiGetData() override;

  // One chunk of a sender. Key = connection handle x 256 + data type code.
  // Count bytes from the stream's position (0: the whole stream). Command
  // chunks (code 8) go to the owner at once (message 1031); video, audio,
  // user data and files wait for the thread; other codes are ignored, as is
  // everything after termination. Network threads, never block
  // for long.
  void CopyFrom(int32_t Key, const TKzHeaderPack& Header, const TMemoryStream& Stream, int64_t Count,
                const TKzInfo& Info);
  // The same for bytes in memory, copied once; Record, when not empty, goes
  // in front of Data in the same hand-over (a file part's chunk record).
  void CopyFromBuffer(int32_t Key, const TKzHeaderPack& Header, std::span<const uint8_t> Record,
                      std::span<const uint8_t> Data, const TKzInfo& Info);
  // Whether the chain holds more than MaxFileBufferBytes for the item the
  // chunk described by Info would go to (this thread first, then the
  // decoder), and whether it holds nothing for it. Both create the entry
  // when missing and wake the thread. Network threads, never block for long.
  bool IsFileBufferTooLarge(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info);
  bool IsEmpty(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info);
  // Whether the chain has nothing of that key left to pass on: this thread
  // holds no bytes of it, the decoder at most the start of a frame whose
  // end never came. Any thread.
  bool KeyDrained(int32_t Key) { return !HoldsKey(Key) && FDecode->KeyDrained(Key); }
  // The decoder's frame rate (FPS >= 1). Any thread.
  void SetFramePerSec(int32_t FPS) { FDecode->SetFramePerSec(FPS); }
  // Bytes waiting for the thread, in all. Any thread.
  using TKzMultiStage::PendingBytes;
  int64_t PendingBytes();

  // Starts the whole chain. Owner's thread. (Clear empties every buffer of
  // the chain.)
  void Run();

  TKzMultiDecode& Decode() { return *FDecode; }
  TKzMultiDrawImage& Paint() { return FDecode->Paint(); }

protected:
  uint32_t Pass() override;
  void ClearNext() override;
  void DeleteKeyNext(int32_t Key) override;
  // The audio playback forgets every source whose audio came through here.
  void PassesEnded() override;

private:
  struct TAudioWork;
  void PlayAudio(const TAudioWork& Work);
  int64_t HeldBytes(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info);

  IKzMultiSourceOwner& FOwner;
  TKzMultiDecode* FDecode;  // owned; freed through KzMFreeThread

  std::vector<std::pair<TGUID, uint16_t>> FAudioSources;  // fetch thread only: audio played so far
};

}  // namespace kz
