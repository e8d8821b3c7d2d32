// The encoding half of the FFmpeg engine, opening and finishing: an output
// file with a video and an audio stream, their encoders, the scaler that
// turns BGRA pictures into the encoder's YUV and the resampler that turns
// the incoming PCM into the encoder's sample format.
#include <algorithm>
#include <cstdlib>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegEncodeInternal.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace kz {

namespace {

template <typename T, typename Pred>
bool AnyOf(const T* List, T End, Pred&& P) {
  for (; List && *List != End; ++List)
    if (P(*List)) return true;
  return false;
}

// The wanted pixel format, or the one the encoder takes instead.
AVPixelFormat PickPixelFormat(const AVCodec* Codec, bool FullRange) {
  const AVPixelFormat wanted = FullRange ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  const AVPixelFormat other = FullRange ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUVJ420P;
  if (!Codec->pix_fmts) return wanted;
  for (AVPixelFormat f : {wanted, other})
    if (AnyOf(Codec->pix_fmts, AV_PIX_FMT_NONE, [f](AVPixelFormat x) { return x == f; })) return f;
  return Codec->pix_fmts[0];
}

// The wanted sample format packed or planar, or the accepted one nearest in size.
AVSampleFormat PickSampleFormat(const AVCodec* Codec, TKzSampleFormat Wanted) {
  const AVSampleFormat packed = AVSampleFormat(KzFFmpegSampleFormat(Wanted, false));
  const AVSampleFormat planar = AVSampleFormat(KzFFmpegSampleFormat(Wanted, true));
  if (!Codec->sample_fmts) return packed;
  for (AVSampleFormat f : {packed, planar})
    if (AnyOf(Codec->sample_fmts, AV_SAMPLE_FMT_NONE, [f](AVSampleFormat x) { return x == f; })) return f;
  const int size = kzFF.av_get_bytes_per_sample(packed);
  AVSampleFormat best = Codec->sample_fmts[0];
  for (const AVSampleFormat* f = Codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
    if (std::abs(kzFF.av_get_bytes_per_sample(*f) - size) < std::abs(kzFF.av_get_bytes_per_sample(best) - size))
      best = *f;
  return best;
}

// The wanted rate, or the accepted one nearest to it.
int PickSampleRate(const AVCodec* Codec, int Wanted) {
  if (!Codec->supported_samplerates || !Codec->supported_samplerates[0]) return Wanted;
  int best = Codec->supported_samplerates[0];
  for (const int* r = Codec->supported_samplerates; *r; ++r) {
    if (*r == Wanted) return Wanted;
    if (std::abs(*r - Wanted) < std::abs(best - Wanted)) best = *r;
  }
  return best;
}

const AVCodec* FindEncoder(const std::string& Name, AVCodecID ID) {
  if (!Name.empty()) return kzFF.avcodec_find_encoder_by_name(Name.c_str());
  return ID == AV_CODEC_ID_NONE ? nullptr : kzFF.avcodec_find_encoder(ID);
}

// The name a codec choice is known by, for error texts.
std::string CodecLabel(const std::string& Name, AVCodecID ID) {
  return Name.empty() ? std::string(kzFF.avcodec_get_name(ID)) : Name;
}

}  // namespace

void TKzMFFMPEG::ReportEncodeError(int32_t Code, const std::vector<std::string>& Args, const std::string& Detail) {
  SetErr(Code);
  std::string text = KzFFmpegErrorText(Code, Args);
  if (!Detail.empty()) text += " (" + Detail + ")";
  if (OnError) OnError(FOwner, Code, text);
}

bool TKzMFFMPEG::OpenVideoEncoder(AVFormatContext* Out) {
  const TKzFFmpegEncodeSettings& s = EncodeSettings;
  AVCodecID id = s.VideoCodecID ? AVCodecID(s.VideoCodecID) : Out->oformat->video_codec;
  if (!s.UseVideo || (id == AV_CODEC_ID_NONE && s.VideoCodecName.empty())) return true;
  const AVCodec* codec = FindEncoder(s.VideoCodecName, id);
  if (!codec) {
    ReportEncodeError(7, {}, CodecLabel(s.VideoCodecName, id));
    return false;
  }
  TKzFFmpegEncodeState& e = *FEnc;
  e.Video = kzFF.avcodec_alloc_context3(codec);
  if (!e.Video) {
    ReportEncodeError(8);
    return false;
  }
  AVCodecContext* c = e.Video;
  c->width = std::max(2, s.VideoWidth & ~1);
  c->height = std::max(2, s.VideoHeight & ~1);
  c->time_base = AVRational{1, s.FramePerSec};
  c->framerate = AVRational{s.FramePerSec, 1};
  c->pix_fmt = PickPixelFormat(codec, s.FullRange);
  c->bit_rate = s.VideoBitrate;
  if (s.GroupOfPicturesSize > 0) c->gop_size = s.GroupOfPicturesSize;
  if (s.MaxBFrameCount >= 0) c->max_b_frames = s.MaxBFrameCount;
  if (s.ReferenceFrameCount >= 0) c->refs = s.ReferenceFrameCount;
  c->thread_count = s.Threads;
  if (c->pix_fmt == AV_PIX_FMT_YUVJ420P) c->color_range = AVCOL_RANGE_JPEG;
  if (Out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // libx265 talks on the terminal unless told otherwise.
  if (std::string(codec->name) == "libx265") kzFF.av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
  int r = kzFF.avcodec_open2(c, codec, nullptr);
  if (r < 0) {
    ReportEncodeError(4, {}, codec->name + std::string(": ") + av_err2str(r));
    return false;
  }
  e.VideoStream = kzFF.avformat_new_stream(Out, nullptr);
  if (!e.VideoStream || kzFF.avcodec_parameters_from_context(e.VideoStream->codecpar, c) < 0) {
    ReportEncodeError(28);
    return false;
  }
  e.VideoStream->time_base = c->time_base;
  e.VideoStream->avg_frame_rate = c->framerate;
  e.VideoFrame = kzFF.av_frame_alloc();
  if (!e.VideoFrame) {
    ReportEncodeError(6);
    return false;
  }
  e.VideoFrame->format = c->pix_fmt;
  e.VideoFrame->width = c->width;
  e.VideoFrame->height = c->height;
  if (kzFF.av_frame_get_buffer(e.VideoFrame, 0) < 0) {
    ReportEncodeError(9);
    return false;
  }
  e.Black.SetSize(c->width, c->height);
  std::fill_n(e.Black.Data(), e.Black.GetLength(), 0xFF000000u);
  return true;
}

bool TKzMFFMPEG::OpenAudioEncoder(AVFormatContext* Out) {
  const TKzFFmpegEncodeSettings& s = EncodeSettings;
  AVCodecID id = s.AudioCodecID ? AVCodecID(s.AudioCodecID) : Out->oformat->audio_codec;
  if (!s.UseAudio || (id == AV_CODEC_ID_NONE && s.AudioCodecName.empty())) return true;
  const AVCodec* codec = FindEncoder(s.AudioCodecName, id);
  if (!codec) {
    ReportEncodeError(7, {}, CodecLabel(s.AudioCodecName, id));
    return false;
  }
  if (!kzFF.swr_alloc_set_opts2 || s.InAudio.SamplesPerSec <= 0 || s.InAudio.Channels <= 0) {
    ReportEncodeError(12, {}, "no resampler for the incoming audio");
    return false;
  }
  TKzFFmpegEncodeState& e = *FEnc;
  // A bit rate the encoder refuses for this rate (libvorbis at 8 kHz and
  // 64 kbit/s) is left to the encoder on a second attempt.
  int r = 0;
  for (const int64_t bitrate : {s.AudioBitrate, int64_t(0)}) {
    kzFF.avcodec_free_context(&e.Audio);
    e.Audio = kzFF.avcodec_alloc_context3(codec);
    if (!e.Audio) {
      ReportEncodeError(8);
      return false;
    }
    AVCodecContext* c = e.Audio;
    c->sample_fmt = PickSampleFormat(codec, s.AudioSampleFormat);
    c->sample_rate = PickSampleRate(codec, std::max(1, s.AudioSampleRate));
    kzFF.av_channel_layout_default(&c->ch_layout, std::clamp(s.AudioChannels, 1, 8));
    c->bit_rate = bitrate;
    c->time_base = AVRational{1, c->sample_rate};
    if (Out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    r = kzFF.avcodec_open2(c, codec, nullptr);
    if (r >= 0 || bitrate == 0) break;
  }
  AVCodecContext* c = e.Audio;
  if (r < 0) {
    ReportEncodeError(4, {}, codec->name + std::string(": ") + av_err2str(r));
    return false;
  }
  const int wantedFormat = KzFFmpegSampleFormat(s.AudioSampleFormat, false);
  if (OnEncodeNotice &&
      (kzFF.av_get_bytes_per_sample(c->sample_fmt) != kzFF.av_get_bytes_per_sample(AVSampleFormat(wantedFormat)) ||
       c->sample_rate != s.AudioSampleRate || c->bit_rate != s.AudioBitrate))
    OnEncodeNotice(FOwner, std::string("audio encoder ") + codec->name + " takes " +
                               kzFF.av_get_sample_fmt_name(c->sample_fmt) + " at " + std::to_string(c->sample_rate) +
                               " Hz" + (c->bit_rate == s.AudioBitrate ? "" : ", its own bit rate"));
  e.AudioStream = kzFF.avformat_new_stream(Out, nullptr);
  if (!e.AudioStream || kzFF.avcodec_parameters_from_context(e.AudioStream->codecpar, c) < 0) {
    ReportEncodeError(28);
    return false;
  }
  e.AudioStream->time_base = c->time_base;
  // PCM and the like take frames of any length: a fiftieth of a second each.
  e.WholeFrames = !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && c->frame_size > 0;
  e.AudioFrameSize = c->frame_size > 0 ? c->frame_size : std::max(1, c->sample_rate / 50);
  if (!OpenResampler()) return false;
  e.Fifo = kzFF.av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, 4 * e.AudioFrameSize);
  e.AudioFrame = kzFF.av_frame_alloc();
  if (!e.Fifo || !e.AudioFrame) {
    ReportEncodeError(14);
    return false;
  }
  e.AudioFrame->format = c->sample_fmt;
  e.AudioFrame->sample_rate = c->sample_rate;
  e.AudioFrame->nb_samples = e.AudioFrameSize;
  kzFF.av_channel_layout_copy(&e.AudioFrame->ch_layout, &c->ch_layout);
  if (kzFF.av_frame_get_buffer(e.AudioFrame, 0) < 0) {
    ReportEncodeError(14);
    return false;
  }
  return true;
}

bool TKzMFFMPEG::OpenResampler() {
  TKzFFmpegEncodeState& e = *FEnc;
  const TKzAudioInfo& in = EncodeSettings.InAudio;
  if (e.Resampler) kzFF.swr_free(&e.Resampler);
  AVChannelLayout layout{};
  kzFF.av_channel_layout_default(&layout, std::max(1, in.Channels));
  const AVSampleFormat format = in.BitsPerSample == TKzBitsPerSample::kzbps8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  const int r = kzFF.swr_alloc_set_opts2(&e.Resampler, &e.Audio->ch_layout, e.Audio->sample_fmt,
                                         e.Audio->sample_rate, &layout, format, std::max(1, in.SamplesPerSec), 0,
                                         nullptr);
  kzFF.av_channel_layout_uninit(&layout);
  if (r < 0 || kzFF.swr_init(e.Resampler) < 0) {
    ReportEncodeError(12, {}, "resampler");
    return false;
  }
  e.InFrameBytes = kzFF.av_get_bytes_per_sample(format) * std::max(1, in.Channels);
  // One second of incoming audio at a time at most.
  e.InBuffer.assign(size_t(std::max(in.SamplesPerSec, 4 * e.AudioFrameSize)) * size_t(e.InFrameBytes), 0);
  return true;
}

bool TKzMFFMPEG::ChangeIncomingAudio(const TKzAudioInfo& Info) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  EncodeSettings.InAudio = Info;
  if (!FEnc || !FEnc->Audio) return true;
  return OpenResampler();
}

bool TKzMFFMPEG::OpenEncodedFile(const std::string& FileName) {
  TKzFFmpegEncodeState& e = *FEnc;
  AVFormatContext* out = e.Out;
  if (!(out->oformat->flags & AVFMT_NOFILE)) {
    const int r = kzFF.avio_open2(&out->pb, FileName.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (r < 0) {
      ReportEncodeError(16, {FileName, av_err2str(r)});
      return false;
    }
    e.FileOpen = true;
  }
  const int r = kzFF.avformat_write_header(out, nullptr);
  if (r < 0) {
    ReportEncodeError(17, {av_err2str(r)});
    return false;
  }
  e.HeaderWritten = true;
  return true;
}

bool TKzMFFMPEG::VideoEncodeFile(const std::string& FileName) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FreeEncoder();
  if (!IsSupportedFFmpeg()) return false;
  FEnc = std::make_unique<TKzFFmpegEncodeState>();
  TKzFFmpegEncodeSettings& s = EncodeSettings;
  s.FramePerSec = std::max(1, s.FramePerSec);
  AVFormatContext* out = nullptr;
  if (kzFF.avformat_alloc_output_context2(&out, nullptr, nullptr, FileName.c_str()) < 0 || !out)
    kzFF.avformat_alloc_output_context2(&out, nullptr, "mpeg", FileName.c_str());
  if (!out) {
    ReportEncodeError(28);
    FreeEncoder();
    return false;
  }
  FEnc->Out = out;
  bool ok = OpenVideoEncoder(out) && OpenAudioEncoder(out);
  if (ok && !FEnc->Video && !FEnc->Audio) {
    ReportEncodeError(28, {}, "no stream to write");
    ok = false;
  }
  FEnc->Packet = ok ? kzFF.av_packet_alloc() : nullptr;
  if (ok && !FEnc->Packet) ReportEncodeError(9);
  ok = ok && FEnc->Packet && OpenEncodedFile(FileName);
  if (!ok) FreeEncoder();
  return ok;
}

void TKzMFFMPEG::FreeEncoder() {
  if (!FEnc) return;
  TKzFFmpegEncodeState& e = *FEnc;
  if (kzFF.avcodec_free_context) {
    kzFF.avcodec_free_context(&e.Video);
    kzFF.avcodec_free_context(&e.Audio);
    kzFF.av_frame_free(&e.VideoFrame);
    kzFF.av_frame_free(&e.AudioFrame);
    kzFF.av_packet_free(&e.Packet);
    if (e.Scaler) kzFF.sws_freeContext(e.Scaler);
    if (e.Resampler) kzFF.swr_free(&e.Resampler);
    if (e.Fifo) kzFF.av_audio_fifo_free(e.Fifo);
    if (e.Out) {
      if (e.FileOpen) kzFF.avio_closep(&e.Out->pb);
      kzFF.avformat_free_context(e.Out);
    }
  }
  FEnc.reset();
}

void TKzMFFMPEG::VideoEncodeDeinit() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (!FEnc || !FEnc->Out) {
    FreeEncoder();
    return;
  }
  TKzFFmpegEncodeState& e = *FEnc;
  if (e.HeaderWritten && !e.WriteFailed) {
    if (e.Audio) {
      PullAudio(0, true);
      while (EncodeAudioFrame(true)) {
      }
    }
    // Delayed frames (B-frames, look-ahead) come out of a flushed encoder.
    if (e.Video) SendAndWrite(e.Video, e.VideoStream, nullptr);
    if (e.Audio && !e.WriteFailed) SendAndWrite(e.Audio, e.AudioStream, nullptr);
    kzFF.av_write_trailer(e.Out);
  }
  FreeEncoder();
}

bool TKzMFFMPEG::IsEncoding() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc && FEnc->HeaderWritten;
}
bool TKzMFFMPEG::HasVideoStream() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc && FEnc->Video;
}
bool TKzMFFMPEG::HasAudioStream() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc && FEnc->Audio;
}
int32_t TKzMFFMPEG::GetOutputVideoWidth() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc && FEnc->Video ? FEnc->Video->width : 0;
}
int32_t TKzMFFMPEG::GetOutputVideoHeight() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc && FEnc->Video ? FEnc->Video->height : 0;
}
int32_t TKzMFFMPEG::GetOutputAudioSampleRate() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc && FEnc->Audio ? FEnc->Audio->sample_rate : 0;
}
TKzFFmpegEncodeStats TKzMFFMPEG::EncodeStats() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc ? FEnc->Stats : TKzFFmpegEncodeStats{};
}
int32_t TKzMFFMPEG::AudioFragmentCapacity() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FEnc ? int32_t(FEnc->InBuffer.size()) : 0;
}

}  // namespace kz
