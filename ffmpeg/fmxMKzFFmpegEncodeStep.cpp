// The encoding half of the FFmpeg engine, step by step: one picture at its
// frame number, then the audio that keeps pace with it.
#include <algorithm>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegEncodeInternal.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace kz {

bool TKzMFFMPEG::SendAndWrite(AVCodecContext* Ctx, AVStream* Stream, AVFrame* Frame) {
  TKzFFmpegEncodeState& e = *FEnc;
  int r = kzFF.avcodec_send_frame(Ctx, Frame);
  if (r < 0 && r != AVERROR_EOF) {
    ReportEncodeError(31, {}, av_err2str(r));
    return true;  // this frame is lost, the file goes on
  }
  for (;;) {
    r = kzFF.avcodec_receive_packet(Ctx, e.Packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) {
      ReportEncodeError(10, {av_err2str(r)});
      return true;
    }
    kzFF.av_packet_rescale_ts(e.Packet, Ctx->time_base, Stream->time_base);
    e.Packet->stream_index = Stream->index;
    e.Stats.BytesWritten += e.Packet->size;
    r = kzFF.av_interleaved_write_frame(e.Out, e.Packet);  // takes the packet's data over
    if (r >= 0 && !KzNoteWrittenWhole(e)) r = e.Out->pb->error;
    if (r < 0) {
      e.WriteFailed = true;
      ReportEncodeError(15, {av_err2str(r)});
      return false;
    }
  }
}

bool TKzMFFMPEG::PictureToEncoderFrame(const TKzMBitmap& Picture, AVFrame* Frame) {
  if (!FEnc || !Frame || Picture.IsEmpty()) return false;
  TKzFFmpegEncodeState& e = *FEnc;
  e.Scaler = kzFF.sws_getCachedContext(e.Scaler, Picture.Width(), Picture.Height(), AV_PIX_FMT_BGRA, Frame->width,
                                       Frame->height, AVPixelFormat(Frame->format), SWS_BILINEAR, nullptr, nullptr,
                                       nullptr);
  if (!e.Scaler) {
    ReportEncodeError(5);
    return false;
  }
  const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(Picture.Data())};
  const int stride[1] = {Picture.Width() * 4};
  kzFF.sws_scale(e.Scaler, src, stride, 0, Picture.Height(), Frame->data, Frame->linesize);
  return true;
}

bool TKzMFFMPEG::EncodeVideoStep(int64_t VideoPts) {
  TKzFFmpegEncodeState& e = *FEnc;
  if (kzFF.av_frame_make_writable(e.VideoFrame) < 0) {
    ReportEncodeError(29);
    return true;
  }
  if (!OnNextVideoFrame || !OnNextVideoFrame(e.VideoFrame)) PictureToEncoderFrame(e.Black, e.VideoFrame);
  // Stamps never go back, whatever the caller counts.
  e.LastVideoPts = std::max(VideoPts, e.LastVideoPts + 1);
  e.VideoFrame->pts = e.LastVideoPts;
  ++e.Stats.VideoFrames;
  return SendAndWrite(e.Video, e.VideoStream, e.VideoFrame);
}

bool TKzMFFMPEG::PullAudio(int32_t Wanted, bool Flush) {
  TKzFFmpegEncodeState& e = *FEnc;
  const int inRate = EncodeSettings.InAudio.SamplesPerSec, outRate = e.Audio->sample_rate;
  const int32_t capacity = int32_t(e.InBuffer.size()) / e.InFrameBytes;
  int32_t samples = Flush ? capacity
                          : int32_t(std::min<int64_t>(capacity, kzFF.av_rescale_rnd(Wanted, inRate, outRate,
                                                                                    AV_ROUND_UP)));
  if (samples <= 0 || !OnNextAudioFragment) return false;
  OnNextAudioFragment(e.InBuffer.data(), samples, Flush);
  samples = std::clamp(samples, 0, capacity);
  if (samples == 0 && !Flush) return false;
  const int outMax = int(kzFF.av_rescale_rnd(samples, outRate, inRate, AV_ROUND_UP)) + 256;
  uint8_t** out = nullptr;
  int lineSize = 0;
  if (kzFF.av_samples_alloc_array_and_samples(&out, &lineSize, e.Audio->ch_layout.nb_channels, outMax,
                                              e.Audio->sample_fmt, 0) < 0) {
    ReportEncodeError(13);
    return false;
  }
  const uint8_t* in[1] = {e.InBuffer.data()};
  // With Flush and nothing left the resampler gives up what it holds.
  const int got = kzFF.swr_convert(e.Resampler, out, outMax, samples ? in : nullptr, samples);
  if (got > 0) kzFF.av_audio_fifo_write(e.Fifo, reinterpret_cast<void**>(out), got);
  kzFF.av_freep(&out[0]);
  kzFF.av_freep(&out);
  return got > 0;
}

bool TKzMFFMPEG::EncodeAudioFrame(bool Flush) {
  TKzFFmpegEncodeState& e = *FEnc;
  // A few pulls: the resampler keeps a little back each time.
  for (int i = 0; i < 3 && kzFF.av_audio_fifo_size(e.Fifo) < e.AudioFrameSize; ++i)
    if (!PullAudio(e.AudioFrameSize - kzFF.av_audio_fifo_size(e.Fifo), Flush)) break;
  const int have = kzFF.av_audio_fifo_size(e.Fifo);
  if (have <= 0 || (have < e.AudioFrameSize && !Flush)) return false;
  if (kzFF.av_frame_make_writable(e.AudioFrame) < 0) {
    ReportEncodeError(29);
    return false;
  }
  const int n = std::min(have, e.AudioFrameSize);
  e.AudioFrame->nb_samples = n;
  kzFF.av_audio_fifo_read(e.Fifo, reinterpret_cast<void**>(e.AudioFrame->data), n);
  if (n < e.AudioFrameSize && e.WholeFrames) {
    // The last frame of a codec that takes whole frames only: padded with silence.
    kzFF.av_samples_set_silence(e.AudioFrame->data, n, e.AudioFrameSize - n, e.Audio->ch_layout.nb_channels,
                                e.Audio->sample_fmt);
    e.AudioFrame->nb_samples = e.AudioFrameSize;
  }
  e.AudioFrame->pts = e.AudioPts;
  e.AudioPts += e.AudioFrame->nb_samples;
  e.Stats.AudioSamples += n;
  return SendAndWrite(e.Audio, e.AudioStream, e.AudioFrame) && n == e.AudioFrameSize;
}

bool TKzMFFMPEG::EncodeVideoFrameAndAudio(int64_t VideoPts) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (!FEnc || !FEnc->HeaderWritten || FEnc->WriteFailed) return false;
  TKzFFmpegEncodeState& e = *FEnc;
  if (e.Video && !EncodeVideoStep(VideoPts)) return false;
  if (e.Audio) {
    // Audio up to the time of the next picture.
    const AVRational frame{1, EncodeSettings.FramePerSec}, sample{1, e.Audio->sample_rate};
    while (kzFF.av_compare_ts(e.AudioPts, sample, VideoPts + 1, frame) < 0)
      if (!EncodeAudioFrame(false)) break;
  }
  return !e.WriteFailed;
}

bool TKzMFFMPEG::EncodeAvailableAudio() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (!FEnc || !FEnc->HeaderWritten || FEnc->WriteFailed || !FEnc->Audio) return false;
  while (EncodeAudioFrame(false)) {
  }
  return !FEnc->WriteFailed;
}

}  // namespace kz
