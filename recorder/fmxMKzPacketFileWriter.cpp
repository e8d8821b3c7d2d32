#include "recorder/fmxMKzPacketFileWriter.h"

#include <unistd.h>

#include <cstring>

#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace kz {

TKzPacketFileWriter::~TKzPacketFileWriter() { Close(); }

bool TKzPacketFileWriter::Fail(const std::string& What, int Code) {
  FError = What + (Code < 0 ? ": " + av_err2str(Code) : std::string());
  Close();
  return false;
}

bool TKzPacketFileWriter::Open(const std::string& FileName, const TKzEventStreamInfo& Info, int64_t StartMs) {
  Close();
  FFileName = FileName;
  FError.clear();
  FStartMs = FLastMs = StartMs;
  FLastDts = INT64_MIN;
  FPackets = FBytes = 0;
  FHeaderWritten = FWriteFailed = false;
  FGoodBytes = 0;
  if (!IsSupportedFFmpeg()) return Fail("FFmpeg is not available", 0);
  const char* file = FileName.c_str();
  int r = kzFF.avformat_alloc_output_context2(&FContext, nullptr, nullptr, file);
  if (r < 0 || !FContext) r = kzFF.avformat_alloc_output_context2(&FContext, nullptr, "matroska", file);
  if (r < 0 || !FContext) return Fail("cannot make a container for " + FileName, r);
  AVStream* st = kzFF.avformat_new_stream(FContext, nullptr);
  if (!st) return Fail("cannot add a stream to " + FileName, 0);
  st->time_base = AVRational{1, 1000};
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = static_cast<AVCodecID>(Info.CodecId);
  par->width = Info.Width;
  par->height = Info.Height;
  if (!Info.Extra.empty()) {
    par->extradata = static_cast<uint8_t*>(kzFF.av_malloc(Info.Extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return Fail("out of memory", 0);
    std::memcpy(par->extradata, Info.Extra.data(), Info.Extra.size());
    std::memset(par->extradata + Info.Extra.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    par->extradata_size = static_cast<int>(Info.Extra.size());
  }
  if (!(FContext->oformat->flags & AVFMT_NOFILE)) {
    r = kzFF.avio_open2(&FContext->pb, file, AVIO_FLAG_WRITE, nullptr, nullptr);
    if (r < 0) return Fail("cannot create " + FileName, r);
  }
  // Matroska's element checksums cost a pass over every byte written and
  // nothing a player needs; the file is cut back to whole packets instead.
  AVDictionary* options = nullptr;
  kzFF.av_dict_set(&options, "write_crc32", "0", 0);
  r = kzFF.avformat_write_header(FContext, &options);
  kzFF.av_dict_free(&options);
  if (r < 0) return Fail("cannot write the header of " + FileName, r);
  FHeaderWritten = true;
  FPacket = kzFF.av_packet_alloc();
  if (!FPacket) return Fail("out of memory", 0);
  return true;
}

bool TKzPacketFileWriter::Write(const TKzEventPacket& Packet) {
  if (!FContext || !Packet.Data) return false;
  AVStream* st = FContext->streams[0];
  int64_t dts = Packet.Dts - FStartMs, pts = Packet.Pts - FStartMs;
  // Millisecond times of a fast stream can collide; the muxer wants them rising.
  if (FLastDts != INT64_MIN && dts <= FLastDts) dts = FLastDts + 1;
  if (pts < dts) pts = dts;
  FLastDts = dts;
  FPacket->data = const_cast<uint8_t*>(Packet.Data->data());
  FPacket->size = static_cast<int>(Packet.Data->size());
  FPacket->buf = nullptr;
  FPacket->stream_index = 0;
  FPacket->flags = Packet.Key ? AV_PKT_FLAG_KEY : 0;
  FPacket->pos = -1;
  FPacket->duration = 0;
  FPacket->pts = kzFF.av_rescale_q(pts, AVRational{1, 1000}, st->time_base);
  FPacket->dts = kzFF.av_rescale_q(dts, AVRational{1, 1000}, st->time_base);
  const int r = kzFF.av_write_frame(FContext, FPacket);
  FPacket->data = nullptr;
  FPacket->size = 0;
  if (FContext->pb && r >= 0) kzFF.avio_flush(FContext->pb);
  const int err = r < 0 ? r : FContext->pb ? FContext->pb->error : 0;
  if (err < 0) {
    FWriteFailed = true;
    return Fail("cannot write " + FFileName, err);
  }
  if (FContext->pb) FGoodBytes = FContext->pb->pos;
  ++FPackets;
  FBytes += static_cast<int64_t>(Packet.Size());
  FLastMs = Packet.Dts;
  return true;
}

void TKzPacketFileWriter::Close() {
  if (FContext) {
    if (FHeaderWritten && !FWriteFailed) kzFF.av_write_trailer(FContext);
    if (FContext->pb && !(FContext->oformat->flags & AVFMT_NOFILE)) kzFF.avio_closep(&FContext->pb);
    kzFF.avformat_free_context(FContext);
    FContext = nullptr;
    // A write that failed half-way leaves a torn packet at the end.
    if (FWriteFailed && FGoodBytes > 0 && ::truncate(FFileName.c_str(), FGoodBytes) != 0) FGoodBytes = 0;
  }
  if (FPacket) kzFF.av_packet_free(&FPacket);
  FHeaderWritten = false;
  FWriteFailed = false;
}

}  // namespace kz
