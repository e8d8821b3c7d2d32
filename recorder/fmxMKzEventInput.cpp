#include "recorder/fmxMKzEventInput.h"

#include <algorithm>
#include <cmath>

#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {

bool KzJpegFrameSize(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height) {
  size_t i = 2;
  while (i + 9 < Size) {
    if (Data[i] != 0xFF) return false;
    const uint8_t m = Data[i + 1];
    if (m == 0xFF) {
      ++i;
      continue;
    }
    const size_t len = (size_t(Data[i + 2]) << 8) | Data[i + 3];
    // Start-of-frame markers: C0..CF except C4 (tables), C8 (reserved), CC (arithmetic tables).
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      Height = (int32_t(Data[i + 5]) << 8) | Data[i + 6];
      Width = (int32_t(Data[i + 7]) << 8) | Data[i + 8];
      return Width > 0 && Height > 0;
    }
    if (m == 0xDA || len < 2) return false;  // scan data before any frame header
    i += 2 + len;
  }
  return false;
}

std::shared_ptr<const TKzEventStreamInfo> TKzEventPacketMaker::StreamOf(const TKzEventStreamInfo& Info) {
  if (!FStream || !FStream->SameAs(Info)) FStream = std::make_shared<const TKzEventStreamInfo>(Info);
  return FStream;
}

TKzEventPacket TKzEventPacketMaker::FromJpeg(std::shared_ptr<const std::vector<uint8_t>> Jpeg, int64_t NowMs) {
  TKzEventStreamInfo info;
  info.CodecId = AV_CODEC_ID_MJPEG;
  if (FStream && FStream->CodecId == info.CodecId) {
    info.Width = FStream->Width;
    info.Height = FStream->Height;
  }
  if (Jpeg) KzJpegFrameSize(Jpeg->data(), Jpeg->size(), info.Width, info.Height);
  TKzEventPacket p;
  p.Stream = StreamOf(info);
  p.Data = std::move(Jpeg);
  int64_t t = NowMs;
  if (FGridStarted) {
    const double gap = double(std::max<int64_t>(NowMs - FLastArrival, 0));
    FPeriodMs = FPeriodMs <= 0 ? gap : FPeriodMs + (gap - FPeriodMs) / 16;
    const int64_t period = std::clamp<int64_t>(std::llround(FPeriodMs), 1, 2000);
    const int64_t next = FGridMs + period;
    t = NowMs - next > period / 2 ? NowMs : next;
  }
  FGridStarted = true;
  FLastArrival = NowMs;
  FGridMs = t;
  p.Dts = p.Pts = t;
  p.Key = true;
  return p;
}

TKzEventPacket TKzEventPacketMaker::FromDemuxed(const TKzCompressedVideoPacket& Packet, int64_t NowMs) {
  TKzEventStreamInfo info;
  info.CodecId = Packet.CodecId;
  info.Width = Packet.Width;
  info.Height = Packet.Height;
  if (Packet.Extra && Packet.ExtraSize) info.Extra.assign(Packet.Extra, Packet.Extra + Packet.ExtraSize);
  const AVRational tb{Packet.TimeBaseNum > 0 ? Packet.TimeBaseNum : 1, Packet.TimeBaseDen > 0 ? Packet.TimeBaseDen : 1000};
  auto ms = [&](int64_t T) { return kzFF.av_rescale_q(T, tb, AVRational{1, 1000}); };
  const int64_t none = TKzCompressedVideoPacket::NoTime;
  const bool timed = Packet.Dts != none || Packet.Pts != none;
  int64_t dts = Packet.Dts != none ? ms(Packet.Dts) : Packet.Pts != none ? ms(Packet.Pts) : 0;
  int64_t pts = Packet.Pts != none ? ms(Packet.Pts) : dts;
  if (!timed) {
    dts = pts = NowMs;
  } else {
    const int64_t onClock = dts + FOffsetMs;
    if (!FAnchored || onClock < FLastDts || onClock - FLastDts > JumpMs + (NowMs - FLastNow)) {
      FOffsetMs = NowMs - dts;
      FAnchored = true;
    }
    dts += FOffsetMs;
    pts += FOffsetMs;
  }
  FLastDts = dts;
  FLastNow = NowMs;
  TKzEventPacket p;
  p.Stream = StreamOf(info);
  p.Data = std::make_shared<const std::vector<uint8_t>>(Packet.Data, Packet.Data + Packet.Size);
  p.Dts = dts;
  p.Pts = pts;
  p.Key = Packet.Key;
  return p;
}

TKzEventPacket KzEventPacketFromBitmap(TKzImageWrapper& Encoder, TKzEventPacketMaker& Maker,
                                       const TKzMCustomBitmap& Bitmap, int64_t NowMs, int32_t Quality) {
  TMemoryStream s;
  if (!Encoder.SaveToStream(s, &Bitmap, Quality) || s.Size() <= 0) return {};
  const uint8_t* d = static_cast<const uint8_t*>(s.Memory());
  return Maker.FromJpeg(std::vector<uint8_t>(d, d + s.Size()), NowMs);
}

}  // namespace kz
