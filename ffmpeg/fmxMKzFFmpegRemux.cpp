// Copying the compressed packets of the playing input unchanged into a file.
// A switch (start, stop or a new file) takes effect at the next video key
// frame, and each stream of a new file starts at time stamp 0.
#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzRedact.h"

namespace kz {

void TKzMFFMPEG::ChangeRemuxing(bool Active, const std::string& FileName) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  const bool pending = FRemuxState != TKzRemuxState::kzrsIdle;
  if (IsPlaying() && (FileName != RemuxFileName || Active != pending))
    FRemuxState = TKzRemuxState::kzrsWaitingForKeyFrame;
  Remuxing = Active;
  RemuxFileName = FileName;
}

TKzRemuxState TKzMFFMPEG::RemuxState() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FRemuxState;
}

void TKzMFFMPEG::ClearRemuxData() {
  RemuxStreams.clear();
  RemuxStartPts.clear();
  RemuxStartDts.clear();
  FRemuxState = TKzRemuxState::kzrsIdle;
}

void TKzMFFMPEG::DoneRemuxing() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (!RemuxFormatContext) return;
  if (!FRemuxWriteError) kzFF.av_write_trailer(RemuxFormatContext);
  if (!(RemuxFormatContext->oformat->flags & AVFMT_NOFILE)) kzFF.avio_closep(&RemuxFormatContext->pb);
  kzFF.avformat_free_context(RemuxFormatContext);
  RemuxFormatContext = nullptr;
  ClearRemuxData();
}

void TKzMFFMPEG::BeginRemuxing() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  ClearRemuxData();
  // Like any later switch, the file starts at a key frame.
  if (Remuxing && !RemuxFileName.empty()) FRemuxState = TKzRemuxState::kzrsWaitingForKeyFrame;
}

bool TKzMFFMPEG::InitRemuxing() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  DoneRemuxing();
  if (!Remuxing || RemuxFileName.empty() || FVideoStreamIndex < 0) return true;
  AVFormatContext* out = nullptr;
  const char* file = RemuxFileName.c_str();
  if (kzFF.avformat_alloc_output_context2(&out, nullptr, nullptr, file) < 0 || !out)
    kzFF.avformat_alloc_output_context2(&out, nullptr, "mpeg", file);
  if (!out) {
    ShowError(33);
    return false;
  }
  RemuxFormatContext = out;
  FRemuxWriteError = true;  // until the header is written: nothing to finish
  RemuxStreams.assign(FFormatContext->nb_streams, -1);
  for (int in : {FVideoStreamIndex, FAudioStreamIndex}) {
    if (in < 0) continue;
    AVStream* stream = kzFF.avformat_new_stream(out, nullptr);
    if (!stream) {
      ShowError(34);
      return false;
    }
    if (kzFF.avcodec_parameters_copy(stream->codecpar, FFormatContext->streams[in]->codecpar) < 0) {
      ShowError(35);
      return false;
    }
    stream->codecpar->codec_tag = 0;
    RemuxStreams[size_t(in)] = stream->index;
  }
  if (!(out->oformat->flags & AVFMT_NOFILE)) {
    const int r = kzFF.avio_open2(&out->pb, file, AVIO_FLAG_WRITE, nullptr, nullptr);
    if (r < 0) {
      ShowError(16, {KzRedactCredentials(RemuxFileName), av_err2str(r)});
      return false;
    }
  }
  const int r = kzFF.avformat_write_header(out, nullptr);
  if (r < 0) {
    ShowError(17, {av_err2str(r)});
    return false;
  }
  RemuxStartPts.assign(FFormatContext->nb_streams, AV_NOPTS_VALUE);
  RemuxStartDts.assign(FFormatContext->nb_streams, AV_NOPTS_VALUE);
  FRemuxState = TKzRemuxState::kzrsActive;
  FRemuxWriteError = false;
  return true;
}

bool TKzMFFMPEG::RemuxPacket() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  const int in = FPacket->stream_index;
  if (FRemuxState == TKzRemuxState::kzrsWaitingForKeyFrame && in == FVideoStreamIndex &&
      (FPacket->flags & AV_PKT_FLAG_KEY)) {
    if (!InitRemuxing()) return false;
  }
  if (FRemuxState != TKzRemuxState::kzrsActive || FRemuxWriteError || !RemuxFormatContext) return true;
  if (in < 0 || size_t(in) >= RemuxStreams.size() || RemuxStreams[size_t(in)] < 0) return true;
  AVPacket* pkt = kzFF.av_packet_clone(FPacket);
  if (!pkt) return true;
  AVStream* outStream = RemuxFormatContext->streams[RemuxStreams[size_t(in)]];
  kzFF.av_packet_rescale_ts(pkt, FFormatContext->streams[in]->time_base, outStream->time_base);
  int64_t& startPts = RemuxStartPts[size_t(in)];
  int64_t& startDts = RemuxStartDts[size_t(in)];
  if (startPts == AV_NOPTS_VALUE) startPts = startDts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
  if (pkt->pts != AV_NOPTS_VALUE && startPts != AV_NOPTS_VALUE) pkt->pts -= startPts;
  if (pkt->dts != AV_NOPTS_VALUE && startDts != AV_NOPTS_VALUE) pkt->dts -= startDts;
  pkt->stream_index = outStream->index;
  pkt->pos = -1;
  const int r = kzFF.av_interleaved_write_frame(RemuxFormatContext, pkt);  // takes the packet's data over
  kzFF.av_packet_free(&pkt);
  if (r < 0) {
    FRemuxWriteError = true;
    ShowError(36);
    return false;
  }
  return true;
}

}  // namespace kz
