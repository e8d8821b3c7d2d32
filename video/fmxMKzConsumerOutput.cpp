#include "video/fmxMKzConsumerOutput.h"

#include "video/fmxMKzImageWrapper.h"

namespace kz {

TKzMBitmap& KzPrepareOutputFrame(TKzMBitmap& Frame, bool Smooth, std::unique_ptr<TKzImageWrapper>& SmoothImg,
                                 TKzRotation Rotation) {
  TKzMBitmap* frame = &Frame;
  if (Smooth) {
    if (!SmoothImg) {
      SmoothImg = std::make_unique<TKzImageWrapper>();
      SmoothImg->GetBitmap().SetSmoothImage(true);
    }
    SmoothImg->GetBitmap().AssignKzMBitmap(Frame);
    frame = &SmoothImg->GetBitmap();
  }
  RotateImg(*frame, Rotation);
  return *frame;
}

void KzHandToConsumers(TComponent* Owner, const TKzConsumerLists& Lists, TKzMBitmap& Frame, bool Own,
                       uint16_t VideoIndex, const TGUID& GUIDFrom, TKzImageWrapper* SmoothImg,
                       TKzImageWrapper& SenderImg) {
  for (IKzCamViewConsumer* view : Lists.CamViews)
    if (!view->IsFullScreenMode()) view->ViewerGetImageBMP(Owner, Frame, Own, VideoIndex, GUIDFrom);
  if (!Lists.CamSenders.empty()) {
    TKzImageWrapper* wrapper = SmoothImg && &SmoothImg->GetBitmap() == &Frame ? SmoothImg : nullptr;
    if (!wrapper) {
      SenderImg.GetBitmap().AssignKzMBitmap(Frame);
      wrapper = &SenderImg;
    }
    for (IKzCamSenderConsumer* sender : Lists.CamSenders) sender->SenderGetImage(Owner, *wrapper, VideoIndex, GUIDFrom);
  }
  for (IKzCamRecorderConsumer* recorder : Lists.CamRecorders)
    recorder->RecorderGetImage(Owner, Frame, VideoIndex, GUIDFrom);
}

bool KzHasListedConsumers(TKzCriticalSection& DisplaySection, const TKzConsumerLists& Lists) {
  if (!DisplaySection.TryEnter_()) return true;
  const bool any = !Lists.Empty();
  DisplaySection.Leave();
  return any;
}

bool TKzConsumerLists::HasPacketConsumers() const {
  std::lock_guard<std::mutex> g(ShapeLock);
  return !CamPackets.empty();
}

void TKzConsumerLists::DeliverJpegFrame(TComponent* Sender, const TKzSharedBytes& Frame) const {
  std::lock_guard<std::mutex> g(ShapeLock);
  for (IKzCamPacketConsumer* c : CamPackets) c->PacketJpegFrame(Sender, Frame);
}

TKzDecodeSize TKzConsumerLists::WantedDecodeSize() const {
  if (!DecodeToViewSize.load(std::memory_order_acquire)) return TKzDecodeSize::Full();
  TKzDecodeSize want;
  bool any = false;
  const auto take = [&](TKzDecodeSize Request) {
    want = any ? KzMaxDecodeSize(want, Request) : Request;  // a full request stays full
    any = true;
  };
  std::lock_guard<std::mutex> g(ShapeLock);
  for (const IKzCamViewConsumer* v : CamViews)
    if (!v->IsFullScreenMode()) take(v->DecodeSizeRequest());
  for (const IKzCamSenderConsumer* s : CamSenders) take(s->DecodeSizeRequest());
  for (const IKzCamRecorderConsumer* r : CamRecorders) take(r->DecodeSizeRequest());
  return any ? want : TKzDecodeSize::Full();
}

}  // namespace kz
