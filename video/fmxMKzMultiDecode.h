// The decode thread of a multi-source pipeline: finds the framed pictures in
// each sender's video bytes, decodes them (JPEG, HWL, BMP, PNG; the receiver may
// rewrite each picture first), and queues those within VideoLatency of the
// newest on its draw thread; hands user data and file chunks to the owner.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzDataList.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzChangeDecode.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzMultiDrawImage.h"
#include "video/fmxMKzMultiStage.h"

namespace kz {

class TKzImageWrapper;
class TWavelet;

class TKzMultiDecode : public TKzMultiStage {
public:
  // Frames of one source decoded per pass; older ones in the same pass are
  // dropped undecoded.
  static constexpr int32_t MaxDecodeData = 100;

  // Created suspended, with its draw thread (MaxImageCount 1). Owner's thread.
  TKzMultiDecode(IKzMultiSourceOwner& Owner, TKzConsumerLists& Consumers);
  ~TKzMultiDecode() override;

  // Copies the bytes of a media item, with its description, into the input
  // for that source and key; wakes the thread. The fetch thread.
  void Decode(int32_t Key, const TKzHeaderPack& Header, const TKzBaseDataItem& Item);
  // Bytes kept between passes for that source (an incomplete frame). Any
  // thread; waits for a running pass.
  int64_t BufferedBytes(int32_t Key, const TKzHeaderPack& Header, int32_t MediaIndex);

  // Settings; any thread. FPS >= 1: SleepMSec := 1000 div FPS. The
  // background colour and IgnoreCorruptedFrames are kept for changed-area
  // streams.
  void SetFramePerSec(int32_t FPS);
  int32_t FramePerSec() const { return FFramePerSec.load(); }
  int32_t SleepMSec() const { return FSleepMSec.load(); }
  void SetJpegIntegrity(TKzJpegIntegrity Value) { FJpegIntegrity.store(Value); }
  TKzJpegIntegrity JpegIntegrity() const { return FJpegIntegrity.load(); }
  void SetIgnoreCorruptedFrames(bool Value) { FIgnoreCorruptedFrames.store(Value); }
  bool IgnoreCorruptedFrames() const { return FIgnoreCorruptedFrames.load(); }
  void SetColor(uint32_t Value) { FColor.store(Value); }
  uint32_t Color() const { return FColor.load(); }
  // Frames decoded in the last pass of a source, and in all. Any thread.
  int32_t DataCount() const { return FDataCount.load(); }
  uint64_t DecodedFrames() const { return FDecoded.load(); }
  // What each sender's changed-area stream brought, by sender GUID text. Any thread.
  std::map<std::string, TKzChangeStats> ChangeStats();

  // Starts this thread and its draw thread. Owner's thread.
  void Run();

  TKzMultiDrawImage& Paint() { return *FPaint; }
  // The first frame has been announced.
  std::atomic<bool> isStartVideo{false};
  // Main thread (synchronously, the decoder waits): the first decoded frame.
  // Set while the thread is idle.
  TNotifyEvent OnStartVideo;
  // Decode thread: each decoded frame.
  TNotifyEvent OnFPS;

protected:
  uint32_t Pass() override;
  // The draw queue goes with the input and the kept bytes.
  void ClearNext() override;
  void DeleteKeyNext(int32_t) override {}

private:
  void TakeInput();
  void DecodeVideo(const TKzDataItem& Entry, TKzVideoDataItem& Item, bool Wanted);
  // Changed-area streams: rebuilds the frames of the containers at the
  // front of the item's bytes and queues those to show.
  void DecodeIMG_CNG(const TKzDataItem& Entry, TKzVideoDataItem& Item, bool Wanted);
  // Decodes one picture into Target; false (nothing shown) when it does not decode.
  bool DecodeFrame(const uint8_t* Image, uint32_t Size, TKzImageType Type, TKzMBitmap& Target);
  // An HWL frame travels one column and one row larger than the camera's
  // picture; Target gets the picture without them.
  bool DecodeHWL(TKzMBitmap& Target);
  // Reports a kind of data the pipeline cannot decode, once per kind.
  void ReportUnsupported(uint32_t Kind, const std::string& What);
  TKzDecodeData& Slot(int32_t Index);

  IKzMultiSourceOwner& FOwner;
  TKzMultiDrawImage* FPaint;  // owned; freed through KzMFreeThread

  // Used in passes only (under FAccessSection).
  std::vector<TKzDecodeData> FDecodeData;  // slot 0 the newest frame of the pass
  TKzFrameScan FScan;
  std::unique_ptr<TKzImageWrapper> FImg;
  std::unique_ptr<TWavelet> FWavelet;
  TMemoryStream FImgStream;
  TKzDecodeVideoEvent FDecodeVideo;  // the owner's handler, taken per pass
  TKzChangeDecoder FChange;
  std::mutex FChangeStatsLock;  // guards FChangeStats
  std::map<std::string, TKzChangeStats> FChangeStats;

  std::atomic<int32_t> FFramePerSec{25};
  std::atomic<int32_t> FSleepMSec{40};
  std::atomic<TKzJpegIntegrity> FJpegIntegrity{TKzJpegIntegrity::kzjiNone};
  std::atomic<bool> FIgnoreCorruptedFrames{false};
  std::atomic<uint32_t> FColor{0};
  std::atomic<int32_t> FDataCount{0};
  std::atomic<uint64_t> FDecoded{0};
  std::atomic<uint64_t> FReported{0};  // bit per kind already reported
};

}  // namespace kz
