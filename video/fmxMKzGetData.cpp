#include "video/fmxMKzGetData.h"

#include <chrono>
#include <thread>

namespace kz {

TKzGetData::TKzGetData(TComponent* Owner, TKzConsumerLists& Consumers, const TGUID& GUID, int64_t InitialSize)
    : TKzPipelineThread("TKzGetData"),
      FOwner(Owner),
      FConsumers(Consumers),
      FDecode(new TKzDecodeImage(Owner, Consumers, GUID)) {
  if (InitialSize > 0) {
    FData.SetSize(InitialSize);
    FData.SetSize(0);
  }
}

TKzGetData::~TKzGetData() { KzMFreeThread(FDecode); }

void TKzGetData::Run() {
  FDecode->Run();
  StartThread(this);
}

void TKzGetData::CopyFrom(TStream& Stream, int64_t Count) {
  {
    std::lock_guard<TCriticalSection> g(FTmpSection);
    if (Terminated()) return;
    if (FBitmapMode) {
      FTmp.SetSize(0);
      FBitmapMode = false;
    }
    FTmp.Seek(0, TSeekOrigin::soEnd);
    FTmp.CopyAvailableFrom(Stream, Count);
  }
  Event()->SetEvent();
}

void TKzGetData::Append(const void* Buffer, int64_t Count) {
  {
    std::lock_guard<TCriticalSection> g(FTmpSection);
    if (Terminated()) return;
    if (FBitmapMode) {
      FTmp.SetSize(0);
      FBitmapMode = false;
    }
    if (Buffer && Count > 0) {
      FTmp.Seek(0, TSeekOrigin::soEnd);
      FTmp.Write(Buffer, Count);
    }
  }
  Event()->SetEvent();
}

bool TKzGetData::WantsPictures() {
  TKzDrawImage& paint = FDecode->Paint();
  return paint.HasConsumers() && !paint.WantedDecodeSize().IsNone();
}

void TKzGetData::CopyFromBuffer(const void* Buffer, int64_t Count) {
  const auto* bytes = static_cast<const uint8_t*>(Buffer);
  if (!bytes || Count <= 0 || FFileMode.load()) {
    Append(Buffer, Count);
    return;
  }
  if (Terminated()) return;
  const bool pictures = WantsPictures();
  const bool packets = FConsumers.HasPacketConsumers();
  std::vector<TKzSharedBytes>& frames = FCutFrames;
  {
    std::lock_guard<std::mutex> g(FCutLock);
    if (pictures && !FDecoderFed) {
      // Somebody wants pictures again: the decoder gets the frame begun too.
      const std::vector<uint8_t>& begun = FSplitter.Pending();
      Append(begun.data(), static_cast<int64_t>(begun.size()));
    }
    FDecoderFed = pictures;
    if (packets || !pictures)
      FSplitter.Add(bytes, static_cast<size_t>(Count), frames);
    else
      FSplitter.Clear();  // a cut resumed later must not join old bytes to new
  }
  if (pictures) Append(bytes, Count);
  // Outside the lock: the first frame waits for the main thread, which may be clearing.
  for (const TKzSharedBytes& frame : frames) {
    if (packets) FConsumers.DeliverJpegFrame(FOwner, frame);
    if (!pictures) FDecode->CountFrame(frame->data(), frame->size());
  }
  frames.clear();
}

void TKzGetData::CopyFromBitmap(const void* Buffer, int64_t Size, int32_t BPP, int32_t Width, int32_t Height) {
  {
    std::lock_guard<TCriticalSection> g(FTmpSection);
    if (Terminated() || !Buffer || Size <= 0) return;
    FTmp.SetSize(0);
    FTmp.Write(Buffer, Size);
    FBitmapMode = true;
    FBitmapBPP = BPP;
    FBitmapWidth = Width;
    FBitmapHeight = Height;
  }
  Event()->SetEvent();
}

int64_t TKzGetData::PendingBytes() {
  std::lock_guard<TCriticalSection> g(FTmpSection);
  return FTmp.Size();
}

bool TKzGetData::IsCheckData() {
  while (!Terminated() && (PendingBytes() > MaxPendingBytes || FDecode->PendingBytes() > MaxPendingBytes))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return false;
}

int64_t TKzGetData::GetDataSize() {
  TKzSafeLock g(FDataSection);
  return FData.Position();
}

void TKzGetData::SetFileMode(bool Value) {
  FFileMode.store(Value);
  TKzSafeLock g(FDataSection);
  HandOver();  // bytes handed in before the switch belong to the mode they came in
  FDecode->SetFileMode(Value);
}

void TKzGetData::HandOver() {
  bool bitmapMode;
  int32_t bpp, width, height;
  {
    std::lock_guard<TCriticalSection> t(FTmpSection);
    FData.SetSize(0);
    FData.Swap(FTmp);
    bitmapMode = FBitmapMode;
    bpp = FBitmapBPP;
    width = FBitmapWidth;
    height = FBitmapHeight;
    Event()->ResetEvent();
  }
  if (FData.Size() > 0) FDecode->CopyFrom(FData, FData.Size(), bitmapMode, bpp, width, height);
  FData.SetSize(0);
}

void TKzGetData::DoClear() {
  {
    std::lock_guard<std::mutex> g(FCutLock);
    FSplitter.Clear();
    FDecoderFed = true;
  }
  {
    std::lock_guard<TCriticalSection> g(FTmpSection);
    FTmp.SetSize(0);
  }
  TKzSafeLock g(FDataSection);
  FData.SetSize(0);
  FDecode->Clear();
}

uint32_t TKzGetData::Pass() {
  TKzSafeLock g(FDataSection);
  HandOver();
  return KzWaitForever;
}

}  // namespace kz
