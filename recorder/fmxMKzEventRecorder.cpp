#include "recorder/fmxMKzEventRecorder.h"

#include <chrono>
#include <cmath>
#include <filesystem>

#include "video/fmxMKzImageWrapper.h"

namespace kz {

namespace {
int64_t NowMs() { return static_cast<int64_t>(KzMGetTickCount()); }

int64_t WallOffsetMs() {
  const int64_t wall =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return wall - NowMs();
}

int64_t Ms(double Sec) { return Sec <= 0 ? 0 : std::llround(Sec * 1000.0); }
}  // namespace

TKzEventRecorder::TKzEventRecorder(TComponent* AOwner)
    : TComponent(AOwner), FEncoder(std::make_unique<TKzImageWrapper>()) {}

TKzEventRecorder::~TKzEventRecorder() {
  SetActive(false);
  SetSource(nullptr);
}

void TKzEventRecorder::SetSource(TKzVideoSource* Value) {
  if (FSource == Value) return;
  if (FSource) {
    FSource->UnRegisterCamPacketConsumer(this);
    FSource->UnRegisterCamRecorder(this);
    RemoveFreeNotification(FSource);
  }
  FSource = Value;
  if (FSource) {
    FSource->RegisterCamRecorder(this);
    FSource->RegisterCamPacketConsumer(this);
    FreeNotification(FSource);
  }
}

void TKzEventRecorder::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FSource) FSource = nullptr;
}

TKzEventSettings TKzEventRecorder::SettingsNow() const {
  TKzEventSettings s;
  s.Mode = Mode;
  s.PreRollMs = Ms(PreRollSec);
  s.PostRollMs = Ms(PostRollSec);
  s.SegmentMs = std::max<int64_t>(Ms(SegmentSec), 1);
  s.OutputFolder = OutputFolder.empty() ? "." : OutputFolder;
  s.FileNamePattern = FileNamePattern;
  s.SourceName = SourceName;
  s.MaxDiskMB = MaxDiskMB;
  s.MaxAgeHours = MaxAgeHours;
  s.PreRollMaxBytes = PreRollMaxBytes;
  return s;
}

void TKzEventRecorder::Error(const std::string& Text) {
  if (OnError) OnError(this, Text);
}

void TKzEventRecorder::SetActive(bool Value) {
  if (Value == FActive) return;
  if (Value)
    Start();
  else
    Stop();
}

void TKzEventRecorder::Start() {
  const TKzEventSettings s = SettingsNow();
  std::error_code ec;
  std::filesystem::create_directories(s.OutputFolder, ec);
  if (!std::filesystem::is_directory(s.OutputFolder, ec)) {
    Error("cannot make the folder " + s.OutputFolder);
    return;
  }
  FSession = std::make_unique<TKzEventSession>(s);
  FSession->SetWallOffsetMs(WallOffsetMs());
  FSession->OnClipStarted = [this](const TKzEventFileInfo& I) {
    if (OnClipStarted) OnClipStarted(this, I);
  };
  FSession->OnClipFinished = [this](const TKzEventFileInfo& I) {
    if (!OnClipFinished) return;
    OnClipFinished(this, I.FileName, I.StartMs, I.DurationMs, I.Events);
  };
  FSession->OnSegmentFinished = [this](const TKzEventFileInfo& I) {
    if (OnSegmentFinished) OnSegmentFinished(this, I);
  };
  FSession->OnRetentionDeleted = [this](const std::string& F) {
    if (OnRetentionDeleted) OnRetentionDeleted(this, F);
  };
  FSession->OnError = [this](const std::string& T) { Error(T); };
  FMinRegionArea.store(MinRegionArea);
  {
    std::lock_guard<std::mutex> g(FQueueLock);
    FQueue.clear();
    FQueuedBytes = 0;
    FStopping = false;
    FStats = {};
  }
  FJpegMotion = std::make_unique<TKzJpegMotionWatcher>();
  FThread = std::thread([this] { Run(); });
  FActive = true;
  FRunning.store(true);
}

void TKzEventRecorder::Stop() {
  FRunning.store(false);
  {
    std::lock_guard<std::mutex> g(FQueueLock);
    FStopping = true;
  }
  FQueueChanged.notify_all();
  if (FThread.joinable()) FThread.join();
  FSession.reset();
  FActive = false;
}

void TKzEventRecorder::Push(TItem Item) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> g(FQueueLock);
    if (FStopping) return;
    const size_t bytes = Item.Packet.MemoryBytes();
    if (Item.Packet.Data) {
      ++FStats.Packets;
      if (FQueuedBytes + bytes > MaxQueuedBytes) {
        ++FStats.Dropped;
        return;
      }
      FQueuedBytes += bytes;
    } else {
      ++FStats.MotionFrames;
    }
    FQueue.push_back(std::move(Item));
    wake = FQueuedBytes >= WriteBatchBytes;
  }
  if (wake) FQueueChanged.notify_one();
}

void TKzEventRecorder::Write(TItem& Item, int64_t& Moving) {
  // A frame's motion follows the frame itself: the pre-roll then reaches
  // back from that frame.
  const auto verdict = [&](const TKzEventPacket& Frame, bool Moved, const TKzEventRect& Bounds) {
    FSession->AddPacket(Frame);
    if (!Moved) return;
    ++Moving;
    FSession->AddMotion(Frame.Dts, Bounds);
  };
  if (Item.WatchMotion) {
    FJpegMotion->Add(Item.Packet, FMinRegionArea.load(), verdict);
    return;
  }
  FJpegMotion->Flush(verdict);
  if (Item.Packet.Data)
    FSession->AddPacket(Item.Packet);
  else
    FSession->AddMotion(Item.MotionMs, Item.Bounds);
}

void TKzEventRecorder::Run() {
  std::deque<TItem> batch;
  std::unique_lock<std::mutex> l(FQueueLock);
  for (;;) {
    FQueueChanged.wait_for(l, std::chrono::milliseconds(WriteBatchMs),
                           [this] { return FStopping || FQueuedBytes >= WriteBatchBytes; });
    // Whatever arrived before the stop is still written.
    const bool last = FStopping;
    batch.swap(FQueue);
    FQueuedBytes = 0;
    l.unlock();
    int64_t moving = 0;
    for (TItem& item : batch) Write(item, moving);
    batch.clear();
    const size_t ring = FSession->Ring().MemoryBytes(), peak = FSession->Ring().PeakMemoryBytes();
    l.lock();
    FStats.MotionFrames += moving;
    FStats.MotionDecodes = FJpegMotion->Decoded();
    FStats.PreRollBytes = ring;
    FStats.PreRollPeakBytes = peak;
    if (last) break;
  }
  l.unlock();
  FJpegMotion->Flush([this](const TKzEventPacket& Frame, bool, const TKzEventRect&) { FSession->AddPacket(Frame); });
  FSession->Finish();
}

TKzEventRecorderStats TKzEventRecorder::Stats() const {
  std::lock_guard<std::mutex> g(FQueueLock);
  TKzEventRecorderStats s = FStats;
  s.QueuedBytes = FQueuedBytes;
  return s;
}

void TKzEventRecorder::PacketJpegFrame(TComponent* Sender, const TKzSharedBytes& Frame) {
  (void)Sender;
  if (!FRunning.load() || !Frame || Frame->empty()) return;
  FPacketsSeen.store(true);
  FJpegStream.store(true);
  std::lock_guard<std::mutex> g(FInputLock);
  TItem item;
  item.WatchMotion = true;
  item.Packet = FMaker.FromJpeg(Frame, NowMs());
  FLastPacketMs.store(item.Packet.Dts);
  Push(std::move(item));
}

void TKzEventRecorder::PacketVideo(TComponent* Sender, const TKzCompressedVideoPacket& Packet) {
  (void)Sender;
  if (!FRunning.load() || !Packet.Data || Packet.Size == 0) return;
  FPacketsSeen.store(true);
  std::lock_guard<std::mutex> g(FInputLock);
  TItem item;
  item.Packet = FMaker.FromDemuxed(Packet, NowMs());
  FLastPacketMs.store(item.Packet.Dts);
  Push(std::move(item));
}

TKzDecodeSize TKzEventRecorder::DecodeSizeRequest() const {
  // Pictures that are themselves recorded need all of it; motion no more
  // than the detector's working size; and none when the stream's own JPEGs
  // serve motion.
  if (FJpegStream.load()) return TKzDecodeSize::None();
  return FPacketsSeen.load() ? TKzDecodeSize{320, 240} : TKzDecodeSize::Full();
}

void TKzEventRecorder::RecorderGetImage(TComponent* Sender, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                                        const TGUID& GUIDFrom) {
  (void)Sender, (void)VideoIndex, (void)GUIDFrom;
  if (!FRunning.load() || Bitmap.IsEmpty()) return;
  int64_t t = NowMs();
  if (!FPacketsSeen.load()) {
    // Nothing compressed comes from this source: record its pictures as JPEG.
    std::lock_guard<std::mutex> g(FInputLock);
    TItem item;
    item.Packet = KzEventPacketFromBitmap(*FEncoder, FMaker, Bitmap, t);
    if (item.Packet.Data) Push(std::move(item));
  } else if (FJpegStream.load()) {
    return;  // motion is watched on the stream's JPEGs
  } else {
    // The picture is the newest packet's.
    t = FLastPacketMs.load();
  }
  TItem motion;
  if (FWatcher.Check(Bitmap, FMinRegionArea.load(), motion.Bounds)) {
    motion.MotionMs = t;
    Push(std::move(motion));
  }
}

}  // namespace kz
