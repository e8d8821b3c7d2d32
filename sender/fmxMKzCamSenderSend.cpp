// The sender's payloads: frames from video sources (scaled, encoded and
// framed), audio blocks, user data and files, handed to a push channel or
// to the pull listener.
#include <algorithm>

#include "audio/fmxMKzAudioFuncs.h"
#include "sender/fmxMKzCamSender.h"
#include "video/fmxMKzAreaCodec.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {

bool TKzCamSender::Allowed(uint16_t DataType) const {
  return Active() && SendMediaTypes().Contains(KzMediaTypeOfCode(DataType));
}

bool TKzCamSender::HandOver(uint16_t DataType, const TKzInfo& Info, const uint8_t* Data, size_t Size,
                            const std::string& To, const std::string& Group) {
  if (!Allowed(DataType)) return false;
  if (FTCPConnectionType.load() == TKzTCPConnectionType::kztcpReceiverToSender) {
    std::lock_guard<TCriticalSection> g(FChannelLock);
    if (!SenderListen) return false;
    TMemoryStream s;
    s.Write(Data, static_cast<int64_t>(Size));
    return SenderListen->SendStream(s, DataType, Info) >= 0;
  }
  TGUID from, to, group;
  GetGuids(To, Group, from, to, group);
  TChannelPtr c = GetSendStreamThreadByIndex(DataType, Info.MediaIndex, true);
  if (!c) return false;
  bool cleared = false;
  const TKzQueueAdd r = c->CopyStream(Info, Data, Size, from, to, group, cleared);
  if (cleared) KzPostConnectionEvent(this, KZ_MSG_CLEAR_BUFFER, DataType, Info.MediaIndex);
  if (r == TKzQueueAdd::kzqaDroppedOld) KzPostMessageDebug(this, DataType, "send queue full: oldest audio dropped");
  if (r == TKzQueueAdd::kzqaRefused) KzPostMessageDebug(this, DataType, "send queue full: payload refused");
  return r != TKzQueueAdd::kzqaRefused;
}

bool TKzCamSender::SendVideoStream(uint16_t MediaIndex, const TKzVideoInfo& VideoInfo, TMemoryStream& Stream,
                                   int64_t Time) {
  (void)Time;  // the frame carries its own time
  if (FSendOptions.Video == TKzMSendType::kzmvstOnlyCurrentData) {
    // While the previous frame of this index is still on its way, this one is skipped.
    TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_VIDEO, MediaIndex, false);
    if (c && !c->Finished()) return false;
  }
  TKzInfo info;
  info.MediaIndex = MediaIndex;
  info.VideoInfo = VideoInfo;
  return HandOver(DATA_TYPE_VIDEO, info, Stream.Memory(), static_cast<size_t>(Stream.Size()), "", "");
}

bool TKzCamSender::SendAudioStream(uint16_t MediaIndex, const TKzAudioInfo& AudioInfo, int64_t Time,
                                   TMemoryStream& Stream) {
  (void)Time;
  TKzInfo info;
  info.MediaIndex = MediaIndex;
  info.AudioInfo = AudioInfo;
  return HandOver(DATA_TYPE_AUDIO, info, Stream.Memory(), static_cast<size_t>(Stream.Size()), "", "");
}

bool TKzCamSender::SendAudioTrack(uint16_t MediaIndex, int64_t Time, const TKzAudioInfo& AudioInfo,
                                  TMemoryStream& Stream) {
  if (!Allowed(DATA_TYPE_AUDIO)) return false;
  int64_t start = UseUserStartTime ? Time : GetTickCountSinceStart();
  int32_t size = static_cast<int32_t>(Stream.Size());
  TKzAudioInfo info = AudioInfo;
  uint32_t duration = GetTrackMSec(size, info.Channels, info.BitsPerSample, info.SamplesPerSec);
  TMemoryStream* block = &Stream;
  TMemoryStream replaced;
  if (OnEncodeAudio) {
    replaced.Write(Stream.Memory(), Stream.Size());
    replaced.SetPosition(0);
    OnEncodeAudio(this, replaced, size, MediaIndex, start, duration, info.SamplesPerSec, info.BitsPerSample,
                  info.Channels);
    block = &replaced;
    size = static_cast<int32_t>(std::clamp<int64_t>(size, 0, replaced.Size()));
  }
  if (size <= 0) return false;
  std::vector<uint8_t> frame;
  KzAppendAudioFrame(frame, block->Memory(), static_cast<uint32_t>(size), start, duration);
  TMemoryStream wrapped;
  wrapped.Write(frame.data(), static_cast<int64_t>(frame.size()));
  return SendAudioStream(MediaIndex, info, start, wrapped);
}

bool TKzCamSender::SendUserData(TMemoryStream& Stream, const std::string& GUIDTo, const std::string& GUIDGroup,
                                uint16_t MediaIndex) {
  TKzInfo info;
  info.MediaIndex = MediaIndex;
  return HandOver(DATA_TYPE_USERDATA, info, Stream.Memory(), static_cast<size_t>(Stream.Size()), GUIDTo,
                  GUIDGroup);
}

bool TKzCamSender::SendFile(const std::string& FileName, int64_t Offset, const std::string& GUIDTo,
                            const std::string& GUIDGroup, uint16_t MediaIndex) {
  if (!Allowed(DATA_TYPE_FILE)) return false;
  const int64_t size = GetFileSize(FileName);
  if (size < 0 || Offset < 0 || Offset > size) return false;
  TKzInfo info;
  info.MediaIndex = MediaIndex;
  info.FileInfo.FileName = FileName;
  info.FileInfo.FileGUID = KzCreateGUID();
  info.FileInfo.FileOffs = Offset;
  info.FileInfo.TotalFileSize = size;
  bool ok = false;
  if (FTCPConnectionType.load() == TKzTCPConnectionType::kztcpReceiverToSender) {
    ok = HandOver(DATA_TYPE_FILE, info, nullptr, 0, GUIDTo, GUIDGroup);
  } else {
    TKzFileJob job;
    job.Info = info.FileInfo;
    GetGuids(GUIDTo, GUIDGroup, job.GUIDFrom, job.GUIDTo, job.GUIDGroup);
    TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_FILE, MediaIndex, true);
    ok = c && c->AddFile(job);
  }
  if (ok && OnSendingFile) OnSendingFile(this, FileName, ConvertGUID(GUIDTo.empty() ? this->GUIDTo() : GUIDTo));
  return ok;
}

bool TKzCamSender::IsSendingFile(uint16_t MediaIndex) {
  TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_FILE, MediaIndex, false);
  return c && c->IsSendingFile();
}

bool TKzCamSender::WaitSendFileData(uint16_t MediaIndex, uint32_t Ms) {
  const uint64_t end = KzMGetTickCount() + Ms;
  for (;;) {
    TChannelPtr c = GetSendStreamThreadByIndex(DATA_TYPE_FILE, MediaIndex, false);
    if (!c || c->IsIdle()) return true;
    if (c->Finished() || KzMGetTickCount() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ---- Frames

bool TKzCamSender::EncodeFrame(const TKzMCustomBitmap& Bitmap, TMemoryStream& Out) {
  const TKzEncodingType encoding = Encoding();
  const TKzFrameFormat* format = KzFindFrameFormat(encoding);
  if (!format || Bitmap.Width() <= 0 || Bitmap.Height() <= 0) return false;
  TMemoryStream picture;
  std::string error;
  bool ok = false;
  switch (encoding) {
    case TKzEncodingType::kzetJPEG: ok = KzCodecEncodeJPEG(Bitmap, picture, CompressionQuality(), &error); break;
    case TKzEncodingType::kzetPNG: ok = KzCodecEncodePNG(Bitmap, picture, &error); break;
    case TKzEncodingType::kzetBMP: ok = KzCodecEncodeBMP(Bitmap, picture, &error); break;
    case TKzEncodingType::kzetHWL:
      if (!FWavelet) FWavelet = std::make_unique<TWavelet>();
      FWavelet->SetSourceImage(Bitmap);
      FWavelet->SetCompressionQuality(CompressionQuality());
      ok = FWavelet->WriteHWLToStream(picture);
      if (!ok) error = "picture size not codable as HWL";
      break;
    default: break;
  }
  if (!ok || picture.Size() <= 0 || picture.Size() > UINT32_MAX) {
    KzPostMessageDebug(this, 0, "frame not encoded: " + error);
    return false;
  }
  std::vector<uint8_t> frame;
  KzAppendFramedImage(frame, *format, picture.Memory(), static_cast<uint32_t>(picture.Size()),
                      GetTickCountSinceStart(), GetDiffTickCountVideo());
  Out.Clear();
  Out.Write(frame.data(), static_cast<int64_t>(frame.size()));
  return true;
}

bool TKzCamSender::SendImageEx(const TKzMCustomBitmap& Bitmap, uint16_t MediaIndex) {
  if (!Allowed(DATA_TYPE_VIDEO)) return false;
  TMemoryStream payload;
  {
    std::lock_guard<std::mutex> g(FCSSendImage);
    const TKzMCustomBitmap* frame = &Bitmap;
    int32_t w = 0, h = 0;
    bool haveSource = false;
    {
      std::lock_guard<std::mutex> s(FSourceLock);
      haveSource = FVideoSource || !FExtraMediaSources.empty();
    }
    KzSenderFrameSize(Bitmap.Width(), Bitmap.Height(), haveSource ? VideoResolution() : TKzVideoResolution::kzDefault,
                      w, h);
    if (w != Bitmap.Width() || h != Bitmap.Height()) {
      FScaled.SetSize(w, h);
      FScaled.StretchDraw(TRect(0, 0, w, h), Bitmap);
      frame = &FScaled;
    }
    if (KzIsChangeEncoding(Encoding())) return SendChangeFrame(*frame, MediaIndex);
    if (!EncodeFrame(*frame, payload)) return false;
  }
  if (OnEncodeVideo) OnEncodeVideo(this, payload, MediaIndex, Encoding());
  return SendVideoStream(MediaIndex, TKzVideoInfo{Encoding()}, payload, 0);
}

void TKzCamSender::SenderGetImage(TComponent* Sender, TKzImageWrapper& Wrapper, uint16_t VideoIndex,
                                  const TGUID& GUIDFrom) {
  (void)GUIDFrom;
  if (!Allowed(DATA_TYPE_VIDEO)) return;
  // The source's draw thread only copies the frame; the encoding thread does the rest.
  std::lock_guard<std::mutex> g(FEncodeThreadLock);
  if (!FEncodeThread) {
    FEncodeThread = std::make_unique<TKzSenderEncodeThread>(
        [this](const TKzMCustomBitmap& Frame, uint16_t Index) { SendImageEx(Frame, Index); });
    FEncodeThread->Start();
  }
  FEncodeThread->Post(Wrapper.GetBitmap(), FindVideoIndex(Sender, VideoIndex));
}

void TKzCamSender::SenderGetAudio(TComponent* Sender, TMemoryStream& Stream, int32_t Size, const TKzAudioInfo& Info,
                                  uint32_t Duration, int64_t StartTime, const TGUID& GUIDFrom) {
  (void)Duration, (void)GUIDFrom;
  if (!Allowed(DATA_TYPE_AUDIO) || Size <= 0) return;
  TMemoryStream block;
  block.Write(Stream.Memory(), std::min<int64_t>(Size, Stream.Size()));
  SendAudioTrack(FindAudioIndex(Sender), StartTime, Info, block);
}

}  // namespace kz
