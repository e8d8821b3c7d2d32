#include "video/fmxMKzVideoSource.h"

#include <algorithm>
#include <cmath>

#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {
struct TResolutionSize {
  TKzVideoResolution Resolution;
  int32_t Width;
  int32_t Height;
};
// Largest first: a frame belongs to the first class whose next-smaller size
// it exceeds in both directions.
constexpr TResolutionSize kResolutionSizes[] = {
    {TKzVideoResolution::kz1900_1280, 1900, 1280}, {TKzVideoResolution::kz1280_720, 1280, 720},
    {TKzVideoResolution::kz1024_768, 1024, 768},   {TKzVideoResolution::kz640_480, 640, 480},
    {TKzVideoResolution::kz320_240, 320, 240},     {TKzVideoResolution::kz160_120, 160, 120},
};
}  // namespace

TKzVideoResolution GetOptimalVideoResolution(float Width, float Height) {
  // Exceeding a class's size in both directions moves a frame one class up.
  for (size_t i = 1; i < std::size(kResolutionSizes); ++i) {
    const TResolutionSize& below = kResolutionSizes[i];
    if (Width > below.Width && Height > below.Height) return kResolutionSizes[i - 1].Resolution;
  }
  return TKzVideoResolution::kz160_120;
}

void GetSizeFromResolution(TKzVideoResolution Resolution, int32_t& Width, int32_t& Height) {
  Width = 0;
  Height = 0;
  for (const TResolutionSize& r : kResolutionSizes) {
    if (r.Resolution == Resolution) {
      Width = r.Width;
      Height = r.Height;
    }
  }
}

// ---- TKzMediaSource

TKzMediaSource::TKzMediaSource(TComponent* AOwner) : TComponent(AOwner) {}

TKzMediaSource::~TKzMediaSource() = default;

void TKzMediaSource::RegisterCamRecorder(IKzCamRecorderConsumer* Recorder) {
  AddConsumer(FConsumers.CamRecorders, Recorder);
}

void TKzMediaSource::UnRegisterCamRecorder(IKzCamRecorderConsumer* Recorder) {
  RemoveConsumer(FConsumers.CamRecorders, Recorder);
}

// ---- TKzVideoSource

TKzVideoSource::TKzVideoSource(TComponent* AOwner) : TKzMediaSource(AOwner) {}

TKzVideoSource::~TKzVideoSource() = default;

void TKzVideoSource::RegisterCamView(IKzCamViewConsumer* View) { AddConsumer(FConsumers.CamViews, View); }

void TKzVideoSource::UnRegisterCamView(IKzCamViewConsumer* View) { RemoveConsumer(FConsumers.CamViews, View); }

void TKzVideoSource::RegisterCamPacketConsumer(IKzCamPacketConsumer* Consumer) {
  AddConsumer(FConsumers.CamPackets, Consumer);
  FPacketConsumerCount.fetch_add(1, std::memory_order_acq_rel);
}

void TKzVideoSource::UnRegisterCamPacketConsumer(IKzCamPacketConsumer* Consumer) {
  RemoveConsumer(FConsumers.CamPackets, Consumer);
  FPacketConsumerCount.fetch_sub(1, std::memory_order_acq_rel);
}

void TKzVideoSource::DeliverPacketBytes(const uint8_t* Data, size_t Size) {
  if (FPacketConsumerCount.load(std::memory_order_acquire) <= 0 || Size == 0) return;
  std::lock_guard<std::mutex> g(FConsumers.ShapeLock);
  for (IKzCamPacketConsumer* c : FConsumers.CamPackets) c->PacketStreamBytes(this, Data, Size);
}

void TKzVideoSource::DeliverPacketVideo(const TKzCompressedVideoPacket& Packet) {
  if (FPacketConsumerCount.load(std::memory_order_acquire) <= 0) return;
  std::lock_guard<std::mutex> g(FConsumers.ShapeLock);
  for (IKzCamPacketConsumer* c : FConsumers.CamPackets) c->PacketVideo(this, Packet);
}

void TKzVideoSource::RegisterCamSender(IKzCamSenderConsumer* Sender) {
  AddConsumer(FConsumers.CamSenders, Sender);
}

void TKzVideoSource::UnRegisterCamSender(IKzCamSenderConsumer* Sender) {
  RemoveConsumer(FConsumers.CamSenders, Sender);
}

// The lists change only on the main thread, where these run; a consumer may
// unregister itself from its notification, so each walk uses a copy.
void TKzVideoSource::CallBeginVideoStream() {
  const auto views = FConsumers.CamViews;
  for (IKzCamViewConsumer* v : views) v->ViewerBeginVideoStream(this);
  const auto senders = FConsumers.CamSenders;
  for (IKzCamSenderConsumer* s : senders) s->SenderBeginVideoStream(this);
}

void TKzVideoSource::CallDoneVideoStream(int32_t Status) {
  const auto views = FConsumers.CamViews;
  for (IKzCamViewConsumer* v : views) v->ViewerDoneVideoStream(this, Status);
  const auto senders = FConsumers.CamSenders;
  for (IKzCamSenderConsumer* s : senders) s->SenderDoneVideoStream(this, Status);
}

void TKzVideoSource::CallClearLastFrame() {
  const auto views = FConsumers.CamViews;
  for (IKzCamViewConsumer* v : views) v->ClearLastFrame(true);
}

void TKzVideoSource::SetFramePerSec(double Value) {
  FFramePerSec.store(std::max(Value, 0.0001), std::memory_order_release);
}

int32_t TKzVideoSource::GetFramePerSecInt() const {
  return std::max<int32_t>(1, static_cast<int32_t>(std::lround(FramePerSec())));
}

bool TKzVideoSource::IsFramePerSecStored() const { return std::fabs(FramePerSec() - DefaultFramePerSec) > 0.00001; }

}  // namespace kz
