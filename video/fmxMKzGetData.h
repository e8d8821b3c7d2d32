// The fetch thread of a single source: collects the bytes (or raw frames) a
// source hands in and passes them in batches to its decode thread. Owning
// it owns the whole chain: fetch -> decode -> draw.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "foundation/fmxMKzTypesThreads.h"
#include "video/fmxMKzDecodeImage.h"
#include "video/fmxMKzMjpegSplitter.h"
#include "video/fmxMKzPipelineThread.h"

namespace kz {

class TKzGetData : public TKzPipelineThread {
public:
  static constexpr int64_t MaxPendingBytes = 524288;

  // Created suspended with its decode and draw threads. InitialSize
  // pre-sizes the hand-over buffer. Owner's thread.
  TKzGetData(TComponent* Owner, TKzConsumerLists& Consumers, const TGUID& GUID, int64_t InitialSize);
  ~TKzGetData() override;

  // Appends Count bytes of Stream from its position (0: all of it from the
  // start); ends a raw-frame hand-over first. Ignored after termination.
  // The source's thread, never blocks for long.
  void CopyFrom(TStream& Stream, int64_t Count);
  // The same for the bytes of a live Motion-JPEG stream, with one
  // difference: while no consumer wants pictures they are cut into frames
  // here and only counted (CountFrame of the decoder), so the decode and
  // draw threads stay asleep; while packet consumers are registered, every
  // frame cut goes to them (PacketJpegFrame). The source's thread; waits
  // for the main thread at the first frame counted here.
  void CopyFromBuffer(const void* Buffer, int64_t Count);
  // Replaces what waits with one raw frame (bottom-up rows of BPP bits).
  void CopyFromBitmap(const void* Buffer, int64_t Size, int32_t BPP, int32_t Width, int32_t Height);
  // Blocks the producer while this thread or its decoder holds more than
  // MaxPendingBytes (until termination); returns false. The source's thread.
  bool IsCheckData();
  int64_t GetDataSize();
  void SetFileMode(bool Value);

  // Starts the whole chain. Owner's thread. (Clear empties every buffer of
  // the chain.)
  void Run();

  TKzDecodeImage& Decode() { return *FDecode; }
  TKzDrawImage& Paint() { return FDecode->Paint(); }
  int64_t PendingBytes();

protected:
  uint32_t Pass() override;
  void DoClear() override;

private:
  // Moves what waits to the decoder. Caller holds FDataSection.
  void HandOver();
  // Appends bytes for the decoder and wakes this thread.
  void Append(const void* Buffer, int64_t Count);
  // Whether a frame handed to the decoder now would be decoded for somebody.
  bool WantsPictures();
  TComponent* FOwner;
  TKzConsumerLists& FConsumers;
  TKzDecodeImage* FDecode;  // owned; freed through KzMFreeThread
  std::atomic<bool> FFileMode{false};

  std::mutex FCutLock;  // guards FSplitter and FDecoderFed
  TKzMjpegSplitter FSplitter;
  bool FDecoderFed = true;  // the decoder got the stream's last bytes
  std::vector<TKzSharedBytes> FCutFrames;  // the source's thread only: the frames of one piece

  TCriticalSection FTmpSection;  // guards FTmp and the bitmap fields
  TMemoryStream FTmp;
  bool FBitmapMode = false;
  int32_t FBitmapBPP = 0, FBitmapWidth = 0, FBitmapHeight = 0;

  TKzCriticalSection FDataSection;  // held for one whole hand-over
  TMemoryStream FData;
};

}  // namespace kz
