#include "video/fmxMKzMultiDecode.h"

#include <algorithm>
#include <exception>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzReceivedData.h"

namespace kz {

namespace {

// Slots kept allocated between passes; a pass with more frames grows the
// slots for its own length only.
constexpr size_t kKeptSlots = 4;

constexpr const char* kEncodingNames[] = {"JPEG", "JPEGChange", "HWL", "HWLChange", "BMP",
                                          "BMPChange", "PNG", "PNGChange", "MixFormat", "MixFormatChange"};

std::string EncodingName(TKzEncodingType Encoding) {
  const size_t e = static_cast<size_t>(Encoding);
  return e < std::size(kEncodingNames) ? kEncodingNames[e] : "encoding " + std::to_string(e);
}

// Report kinds: encodings from bit 0, picture kinds from bit 16.
uint32_t EncodingKind(TKzEncodingType Encoding) { return std::min<uint32_t>(static_cast<uint32_t>(Encoding), 15); }
uint32_t ImageTypeKind(TKzImageType Type) { return 16 + std::min<uint32_t>(static_cast<uint32_t>(Type), 47); }

}  // namespace

TKzMultiDecode::TKzMultiDecode(IKzMultiSourceOwner& Owner, TKzConsumerLists& Consumers)
    : TKzMultiStage("TKzMultiDecode"),
      FOwner(Owner),
      FPaint(new TKzMultiDrawImage(Owner, 1, Consumers)),
      FImg(std::make_unique<TKzImageWrapper>()),
      FWavelet(std::make_unique<TWavelet>()) {
  FDecodeData.reserve(MaxDecodeData);
}

TKzMultiDecode::~TKzMultiDecode() { KzMFreeThread(FPaint); }

void TKzMultiDecode::Run() {
  FPaint->Run();
  StartThread(this);
}

void TKzMultiDecode::Decode(int32_t Key, const TKzHeaderPack& Header, const TKzBaseDataItem& Item) {
  {
    std::lock_guard<TCriticalSection> g(FTmpDataSection);
    if (Terminated()) return;
    FTmpData.AddDataGUIDByItem(Header, Key, Item);
  }
  Event()->SetEvent();
}

int64_t TKzMultiDecode::BufferedBytes(int32_t Key, const TKzHeaderPack& Header, int32_t MediaIndex) {
  TKzSafeLock g(FAccessSection);
  return KzHeldBytes(FData, Header, Key, MediaIndex);
}

void TKzMultiDecode::SetFramePerSec(int32_t FPS) {
  if (FPS < 1) return;
  FFramePerSec.store(FPS);
  FSleepMSec.store(1000 / FPS);
}

void TKzMultiDecode::ClearNext() { FPaint->Clear(); }

// Moves every waiting item into the working list.
void TKzMultiDecode::TakeInput() {
  std::lock_guard<TCriticalSection> g(FTmpDataSection);
  FTmpData.LockList();
  for (const auto& entry : FTmpData.List)
    for (const auto& item : entry->List)
      if (item->Data.Size() > 0) {
        FData.AddDataGUIDByItem(entry->HeaderPack, entry->Key, *item);
        item->EmptyData();
      }
  FTmpData.UnlockList();
  Event()->ResetEvent();
}

uint32_t TKzMultiDecode::Pass() {
  TKzSafeLock access(FAccessSection);
  TakeInput();
  const bool wanted = FPaint->HasConsumers();
  FDecodeVideo = FOwner.DecodeVideoHandler();
  FData.LockList();
  for (const auto& entry : FData.List) {
    for (const auto& item : entry->List) {
      if (Terminated() || Stopping()) break;
      if (item->Data.Size() == 0) continue;
      try {
        switch (entry->TypeData) {
          case DATA_TYPE_VIDEO: DecodeVideo(*entry, static_cast<TKzVideoDataItem&>(*item), wanted); continue;
          case DATA_TYPE_USERDATA: KzDeliverUserData(FOwner, *entry, *item); break;
          case DATA_TYPE_FILE: KzDeliverFileData(FOwner, *entry, static_cast<TKzFileDataItem&>(*item)); break;
          default: break;
        }
      } catch (const std::exception& e) {
        KzPostMessageDebug(FOwner.OwnerComponent(), entry->TypeData, std::string("data handler failed: ") + e.what());
      }
      item->EmptyData();
    }
  }
  FData.UnlockList();
  FDecodeVideo = nullptr;
  if (FDecodeData.size() > kKeptSlots) FDecodeData.resize(kKeptSlots);
  return KzWaitForever;
}

TKzDecodeData& TKzMultiDecode::Slot(int32_t Index) {
  if (FDecodeData.size() <= static_cast<size_t>(Index)) FDecodeData.resize(static_cast<size_t>(Index) + 1);
  return FDecodeData[static_cast<size_t>(Index)];
}

void TKzMultiDecode::DecodeVideo(const TKzDataItem& Entry, TKzVideoDataItem& Item, bool Wanted) {
  if (KzIsChangeEncoding(Item.VideoInfo.Encoding)) {
    DecodeIMG_CNG(Entry, Item, Wanted);
    return;
  }
  const TKzFrameFormat* format = KzFindFrameFormat(Item.VideoInfo.Encoding);
  if (!format) {  // whole frames of the mixed format
    ReportUnsupported(EncodingKind(Item.VideoInfo.Encoding), EncodingName(Item.VideoInfo.Encoding) + " video");
    Item.EmptyData();
    Item.Searched = 0;
    return;
  }
  const uint8_t* data = Item.Data.Memory();
  KzScanFramedImages(data, Item.Data.Size(), *format, Item.Searched, MaxDecodeData, FScan);
  int32_t count = 0;
  if (Wanted) {
    for (const TKzFramedImage& f : FScan.Frames) {
      if (Terminated() || Stopping()) return;  // the bytes stay as they are
      TKzDecodeData& slot = Slot(count);
      if (!DecodeFrame(data + f.ImageOffset(), f.Size, format->ImageType, slot.Image)) continue;
      if (!isStartVideo.exchange(true) && OnStartVideo) Synchronize([this] { OnStartVideo(FOwner.OwnerComponent()); });
      if (OnFPS) OnFPS(FOwner.OwnerComponent());
      slot.HeaderPack = Entry.HeaderPack;
      slot.hClient = KzClientHandle(Entry.Key);
      slot.StartTime = f.StartTime;
      slot.DiffTime = f.DiffTime;
      slot.VideoIndex = static_cast<uint16_t>(Item.MediaIndex);
      ++count;
      ++FDecoded;
    }
  }
  FDataCount = count;
  const size_t draw = KzFramesWithinLatency(static_cast<size_t>(count), FPaint->VideoLatency(),
                                            [this](size_t i) { return FDecodeData[i].DiffTime; });
  FPaint->DrawImages(static_cast<int32_t>(draw), FDecodeData.data());
  Item.Data.DeleteFront(FScan.Consumed);
  Item.Searched = Item.Data.Size();
}

void TKzMultiDecode::DecodeIMG_CNG(const TKzDataItem& Entry, TKzVideoDataItem& Item, bool Wanted) {
  FChange.Color = FColor.load();
  FChange.IgnoreCorruptedFrames = FIgnoreCorruptedFrames.load();
  if (FDecodeVideo)
    FChange.OnOffer = [this](TMemoryStream& Picture, TKzImageType& Kind) {
      FDecodeVideo(FOwner.OwnerComponent(), Picture, Kind);
      Picture.SetPosition(0);
    };
  else
    FChange.OnOffer = nullptr;
  int32_t count = 0;
  TKzChangeStats stats;
  FChange.Decode(
      Item,
      [&](TKzVideoDataItem& I, const TKzChangeHeader& H) {
        if (!Wanted || Terminated() || Stopping()) return;
        if (!isStartVideo.exchange(true) && OnStartVideo) Synchronize([this] { OnStartVideo(FOwner.OwnerComponent()); });
        if (OnFPS) OnFPS(FOwner.OwnerComponent());
        // Oldest first here; past the slot count the newest overwrites the last.
        TKzDecodeData& slot = Slot(std::min(count, MaxDecodeData - 1));
        slot.Image.AssignKzMBitmap(*I.LastImg);
        slot.HeaderPack = Entry.HeaderPack;
        slot.hClient = KzClientHandle(Entry.Key);
        slot.StartTime = H.StartTime;
        slot.DiffTime = H.DiffTime;
        slot.VideoIndex = static_cast<uint16_t>(I.MediaIndex);
        count = std::min(count + 1, MaxDecodeData);
        ++FDecoded;
      },
      &stats);
  {
    std::lock_guard<std::mutex> g(FChangeStatsLock);
    TKzChangeStats& s = FChangeStats[GUIDToStringA(Entry.HeaderPack.GUIDFrom)];
    s.WholeFrames += stats.WholeFrames, s.AreaContainers += stats.AreaContainers, s.Areas += stats.Areas;
    s.Bytes += stats.Bytes, s.Corrupted += stats.Corrupted;
  }
  std::reverse(FDecodeData.begin(), FDecodeData.begin() + count);  // slot 0 the newest
  FDataCount = count;
  const size_t draw = KzFramesWithinLatency(static_cast<size_t>(count), FPaint->VideoLatency(),
                                            [this](size_t i) { return FDecodeData[i].DiffTime; });
  FPaint->DrawImages(static_cast<int32_t>(draw), FDecodeData.data());
}

std::map<std::string, TKzChangeStats> TKzMultiDecode::ChangeStats() {
  std::lock_guard<std::mutex> g(FChangeStatsLock);
  return FChangeStats;
}

bool TKzMultiDecode::DecodeFrame(const uint8_t* Image, uint32_t Size, TKzImageType Type, TKzMBitmap& Target) {
  try {
    FImgStream.SetSize(0);
    FImgStream.Write(Image, Size);
    FImgStream.SetPosition(0);
    if (FDecodeVideo) {
      FDecodeVideo(FOwner.OwnerComponent(), FImgStream, Type);
      FImgStream.SetPosition(0);
    }
    const uint8_t* d = FImgStream.Memory();
    const size_t n = static_cast<size_t>(FImgStream.Size());
    if (n == 0) return false;
    switch (Type) {
      case TKzImageType::kzitJPEG: {
        const TKzJpegIntegrity integrity = FJpegIntegrity.load();
        size_t walked = 0;
        if (integrity != TKzJpegIntegrity::kzjiNone && !KzCheckJpegIntegrity(d, n, walked, integrity)) return false;
        FImg->SetDecodeSize(FPaint->WantedDecodeSize());  // read once per frame
        const bool ok = FImg->LoadFromStream(FImgStream, static_cast<int64_t>(n), &Target);
        if (ok) FPaint->Consumers().ScaleCounts.Count(FImg->LastScaleDenom());
        FImg->IsImgError = false;
        return ok;
      }
      case TKzImageType::kzitHWL: return DecodeHWL(Target);
      case TKzImageType::kzitBMP: return KzDetectImageFormat(d, n) == TKzImageFormat::kzifBMP && KzCodecDecode(d, n, Target);
      case TKzImageType::kzitPNG: return KzCodecDecodePNG(d, n, Target);
      default: {
        const TKzFrameFormat* format = KzFindFrameFormat(Type);
        ReportUnsupported(ImageTypeKind(Type), format ? std::string(format->Name) + " pictures"
                                                      : "picture kind " + std::to_string(static_cast<int>(Type)));
        return false;
      }
    }
  } catch (const std::exception& e) {
    KzPostMessageDebug(FOwner.OwnerComponent(), DATA_TYPE_VIDEO, std::string("frame dropped: ") + e.what());
    return false;
  }
}

bool TKzMultiDecode::DecodeHWL(TKzMBitmap& Target) {
  if (!FWavelet->ReadHWLFromStream(FImgStream)) return false;
  const TKzMBitmap& picture = FWavelet->BitmapHWL();
  const int32_t w = picture.Width() - 1, h = picture.Height() - 1;
  Target.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y) std::copy_n(picture.ScanLine(y), w, Target.ScanLine(y));
  return true;
}

void TKzMultiDecode::ReportUnsupported(uint32_t Kind, const std::string& What) {
  const uint64_t bit = uint64_t{1} << Kind;
  if (FReported.fetch_or(bit) & bit) return;
  KzPostMessageDebug(FOwner.OwnerComponent(), DATA_TYPE_VIDEO, What + " is not supported: skipped");
}

}  // namespace kz
