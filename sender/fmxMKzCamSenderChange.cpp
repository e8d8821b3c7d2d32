// The sender's Change encodings: the detector settings it publishes, and the
// link between its frames, its destinations' changed-area state and its
// channels.
#include "sender/fmxMKzCamSender.h"

namespace kz {

template <class T>
void TKzCamSender::SetDetectorValue(T TKzMotionDetectorValues::*Field, T Value, void (TKzImageInfoList::*Apply)(T)) {
  {
    std::lock_guard<std::mutex> g(FDetectorLock);
    FDetector.*Field = Value;
  }
  (ImageInfoList.*Apply)(Value);
}

void TKzCamSender::SetMinChangeAreaSize(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::MinChangeAreaSize, Value, &TKzImageInfoList::SetMinChangeAreaSize);
}
void TKzCamSender::SetMaxChangeAreaCount(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::MaxChangeAreaCount, Value, &TKzImageInfoList::SetMaxChangeAreaCount);
}
void TKzCamSender::SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Value) {
  SetDetectorValue(&TKzMotionDetectorValues::ChangedAreaProcessingMode, Value,
                   &TKzImageInfoList::SetChangedAreaProcessingMode);
}
void TKzCamSender::SetPixelColorThreshold(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThreshold, Value, &TKzImageInfoList::SetPixelColorThreshold);
}
void TKzCamSender::SetPixelColorThresholdR(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThresholdR, Value,
                   &TKzImageInfoList::SetPixelColorThresholdR);
}
void TKzCamSender::SetPixelColorThresholdG(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThresholdG, Value,
                   &TKzImageInfoList::SetPixelColorThresholdG);
}
void TKzCamSender::SetPixelColorThresholdB(int32_t Value) {
  SetDetectorValue(&TKzMotionDetectorValues::PixelColorThresholdB, Value,
                   &TKzImageInfoList::SetPixelColorThresholdB);
}
void TKzCamSender::SetTestMode(TKzBoundsTestMode Value) {
  SetDetectorValue(&TKzMotionDetectorValues::TestMode, Value, &TKzImageInfoList::SetTestMode);
}

uint64_t TKzCamSender::FramesSkipped() {
  std::lock_guard<std::mutex> g(FEncodeThreadLock);
  return FEncodeThread ? FEncodeThread->Skipped() : 0;
}

TKzChangeSettings TKzCamSender::ChangeSettings() {
  TKzChangeSettings s;
  s.Encoding = Encoding();
  s.Quality = CompressionQuality();
  s.FullFrameInterval = FullFrameInterval();
  s.FrameDifferenceInterval = FrameDifferenceInterval();
  s.FilterBlur = FilterBlur();
  s.TestMode = TestMode();
  return s;
}

// Under FCSSendImage (SendImageEx).
bool TKzCamSender::SendChangeFrame(const TKzMCustomBitmap& Frame, uint16_t MediaIndex) {
  const TKzImageInfoPtr item = ImageInfoList.GetImageInfo(ConvertGUID(GUIDTo()), MediaIndex);
  // What waits unsent in the queue would be replaced by this frame, and a
  // new connection may have lost what the old one was given: either way the
  // receiver cannot be trusted to hold the references, so this frame goes whole.
  uint64_t link = 0;
  bool waiting = false;
  if (FTCPConnectionType.load() == TKzTCPConnectionType::kztcpReceiverToSender) {
    link = (uint64_t{1} << 63) | static_cast<uint32_t>(PullConnections());
  } else if (TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_VIDEO, MediaIndex, true)) {
    waiting = c->QueuedBytes() > 0;
    link = FChannelsMade.load();
  }
  item->Lock();
  if (waiting || link != item->LinkState) item->IsNeedSendFullFrame = true;
  item->LinkState = link;
  const bool ok = FChangeEncoder.SendImageEx(Frame, *item, ChangeSettings());
  item->Unlock();
  return ok && FChangeEncoder.LastSent() != TKzChangeSent::kzcsNotTaken;
}

void TKzCamSender::ChangeEncoded(std::vector<uint8_t>& Picture, uint16_t VideoIndex) {
  if (!OnEncodeVideo) return;
  TMemoryStream s;
  s.Write(Picture.data(), static_cast<int64_t>(Picture.size()));
  s.SetPosition(0);
  OnEncodeVideo(this, s, VideoIndex, Encoding());
  Picture.assign(s.Memory(), s.Memory() + s.Size());
}

bool TKzCamSender::ChangeSend(TKzImageInfo& Item, const std::vector<uint8_t>& Container, int64_t StartTime) {
  TMemoryStream s;
  s.Write(Container.data(), static_cast<int64_t>(Container.size()));
  return SendVideoStream(Item.VideoIndex, TKzVideoInfo{Encoding()}, s, StartTime);
}

}  // namespace kz
