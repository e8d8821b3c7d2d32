// The with-sound half of playing: audio decoded to 8/16-bit PCM, the audio
// clock, and pictures handed to the presentation queue.
#include <algorithm>
#include <cmath>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "ffmpeg/fmxMKzFFmpegQueue.h"

namespace kz {

bool TKzMFFMPEG::PrepareAudioConversion() {
  if (!kzFF.swr_alloc_set_opts2) return false;  // no resampler library: video only
  const AVCodecContext* a = FAudioCodec;
  InAudioSampleFormat = a->sample_fmt;
  InAudioSampleRate = a->sample_rate;
  InAudioChannels = a->ch_layout.nb_channels;
  if (InAudioSampleRate <= 0 || InAudioChannels <= 0) return false;
  const AVSampleFormat packed = AVSampleFormat(InAudioSampleFormat);
  const bool eightBit = packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_U8P;
  FInAudioSampleFormatConverted = eightBit ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  InAudioBitsPerSample = eightBit ? TKzBitsPerSample::kzbps8 : TKzBitsPerSample::kzbps16;
  InAudioChannelsConverted = std::min(InAudioChannels, 2);
  // Only packed 8/16-bit mono or stereo passes unchanged; planar data and
  // more channels go through the resampler too.
  FDecConvertAudio = !(packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16) || InAudioChannels > 2;
  if (!FDecConvertAudio) return true;
  AVChannelLayout in{}, out{};
  if (a->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    kzFF.av_channel_layout_default(&in, InAudioChannels);  // the resampler refuses unspecified layouts
  else
    kzFF.av_channel_layout_copy(&in, &a->ch_layout);
  kzFF.av_channel_layout_default(&out, InAudioChannelsConverted);
  const int r = kzFF.swr_alloc_set_opts2(&FAudioConvert, &out, AVSampleFormat(FInAudioSampleFormatConverted),
                                         InAudioSampleRate, &in, packed, InAudioSampleRate, 0, nullptr);
  kzFF.av_channel_layout_uninit(&in);
  kzFF.av_channel_layout_uninit(&out);
  return r >= 0 && kzFF.swr_init(FAudioConvert) >= 0;
}

bool TKzMFFMPEG::ReadAndProcessVideoFrame_WithSound() {
  if (FFrameQueue->IsFull()) {
    SleepUnlessAborted(10);
    return true;
  }
  if (!ReadPacket()) return false;
  bool goOn = true;
  if (FPacket->stream_index == FVideoStreamIndex) {
    goOn = DecodeVideoPacket(&TKzMFFMPEG::QueueVideoFrame);
  } else if (FPacket->stream_index == FAudioStreamIndex && OnGetAudio) {
    // Reported, but the pictures go on.
    if (SendPacket(FAudioCodec) < 0 && OnError) OnError(FOwner, 32, KzFFmpegErrorText(32));
    while (kzFF.avcodec_receive_frame(FAudioCodec, FFrame) == 0) {
      DeliverAudioFrame();
      UpdateAudioClock();
      kzFF.av_frame_unref(FFrame);
    }
  }
  return FinishPacket(goOn);
}

bool TKzMFFMPEG::QueueVideoFrame() {
  const int64_t ts = FFrame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : FFrame->best_effort_timestamp;
  FVideoTimerInfo.Pts = double(ts) * kz::av_q2d(FVideoStream->time_base);
  UpdateVideoClock();
  if (!FrameToPicture()) return false;
  FFrameQueue->AddBitmap(img, FVideoTimerInfo.Pts);
  return true;
}

void TKzMFFMPEG::DeliverAudioFrame() {
  const uint8_t* data = nullptr;
  int bytes = 0;
  if (FDecConvertAudio) {
    const int room = kzFF.swr_get_out_samples(FAudioConvert, FFrame->nb_samples);
    if (room <= 0) return;
    const int frameBytes = InAudioChannelsConverted * kzFF.av_get_bytes_per_sample(AVSampleFormat(FInAudioSampleFormatConverted));
    FAudioBuffer.resize(size_t(room) * size_t(frameBytes));
    uint8_t* out = FAudioBuffer.data();
    const int got = kzFF.swr_convert(FAudioConvert, &out, room, const_cast<const uint8_t**>(FFrame->extended_data),
                                     FFrame->nb_samples);
    if (got <= 0) return;
    data = out;
    bytes = got * frameBytes;
  } else {
    data = FFrame->data[0];
    bytes = kzFF.av_samples_get_buffer_size(nullptr, InAudioChannels, FFrame->nb_samples,
                                            AVSampleFormat(InAudioSampleFormat), 1);
  }
  if (!data || bytes <= 0) return;
  TMemoryStream stream;
  stream.Write(data, bytes);
  stream.SetPosition(0);
  int32_t size = bytes;
  int64_t start = 0;
  uint32_t duration = 0;
  int32_t rate = InAudioSampleRate;
  TKzBitsPerSample bits = InAudioBitsPerSample;
  int32_t channels = FDecConvertAudio ? InAudioChannelsConverted : InAudioChannels;
  OnGetAudio(this, stream, size, 0, start, duration, rate, bits, channels);
}

void TKzMFFMPEG::UpdateAudioClock() {
  TKzMAudioTimerInfo& a = FAudioTimerInfo;
  const double now = double(kzFF.av_gettime()) / 1000000.0;
  const bool noTime = FFrame->pts == AV_NOPTS_VALUE;
  double t = (noTime ? 0 : double(FFrame->pts)) * kz::av_q2d(FAudioStream->time_base);
  if (!a.Started) {
    a.Started = true;
    a.PtsStart = t;
    a.TimerStart = now;
    a.PtsNext = t;
  } else if (noTime || t < a.PtsNext) {
    t = a.PtsNext;
  }
  a.Pts = t;
  int64_t position = -1;
  if (OnGetAudioPlayPositon) OnGetAudioPlayPositon(FOwner, position);
  if (position >= 0 && InAudioSampleRate > 0) {
    a.PlaybackTimer = double(position) / InAudioSampleRate;
    if (!a.PlaybackStarted) {
      // Both clocks start here: what the output had played, and now.
      a.PlaybackStarted = true;
      a.PlaybackTimerStart = a.PlaybackTimer;
      a.TimerStart = now;
      std::lock_guard<std::mutex> g(FAudioClockLock);
      FAudioClockOrigin = {a.PtsStart, position, InAudioSampleRate, position};
    } else {
      FAudioTimerCorrection.store(
          int32_t(std::lround(1000 * ((now - a.TimerStart) - (a.PlaybackTimer - a.PlaybackTimerStart)))));
    }
  }
  a.Timer = now;
  a.PtsNext = a.Pts + double(FFrame->nb_samples) / InAudioSampleRate;
}

bool TKzMFFMPEG::AudioPlayedClock(double& Seconds) {
  if (!OnGetAudioPlayPositon) return false;
  int64_t position = -1;
  OnGetAudioPlayPositon(FOwner, position);
  std::lock_guard<std::mutex> g(FAudioClockLock);
  TKzAudioClockOrigin& o = FAudioClockOrigin;
  // Not started, started over, or standing still: the sound is no clock now.
  const bool moving = o.Position >= 0 && o.SampleRate > 0 && position > o.LastSeen && position > o.Position;
  if (o.Position >= 0) o.LastSeen = position;
  if (!moving) return false;
  Seconds = o.Pts + double(position - o.Position) / o.SampleRate;
  return true;
}

}  // namespace kz
