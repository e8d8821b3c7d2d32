#include "ffmpeg/fmxMKzFFmpegLists.h"

#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace kz {

namespace {

const AVCodecID KzVideoCodecIDs[] = {
    AV_CODEC_ID_NONE, AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG4, AV_CODEC_ID_H263P,
    AV_CODEC_ID_H264, AV_CODEC_ID_MJPEG,      AV_CODEC_ID_WMV1,       AV_CODEC_ID_WMV2,  AV_CODEC_ID_FLV1,
    AV_CODEC_ID_RV10, AV_CODEC_ID_RV20,       AV_CODEC_ID_HEVC,
};
const AVCodecID KzAudioCodecIDs[] = {
    AV_CODEC_ID_NONE,  AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_MP2,    AV_CODEC_ID_MP3,   AV_CODEC_ID_AC3,
    AV_CODEC_ID_VORBIS, AV_CODEC_ID_FLAC,     AV_CODEC_ID_OPUS,   AV_CODEC_ID_WMAV1, AV_CODEC_ID_WMAV2,
    AV_CODEC_ID_AAC,   AV_CODEC_ID_RA_144,    AV_CODEC_ID_G723_1, AV_CODEC_ID_SPEEX, AV_CODEC_ID_WAVPACK,
    AV_CODEC_ID_ALAC,  AV_CODEC_ID_AMR_NB,
};
// The packed and planar FFmpeg forms of each sample format.
const AVSampleFormat KzSampleFormats[][2] = {
    {AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8P},   {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P},
    {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P}, {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP},
    {AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP},
};
const char* const KzSampleFormatNames[] = {"8 bit", "16 bit", "32 bit", "Float", "Double"};

const AVCodec* Encoder(int ID) { return ID == AV_CODEC_ID_NONE ? nullptr : kzFF.avcodec_find_encoder(AVCodecID(ID)); }

bool WalkCodecs(AVMediaType Type, bool Encoders, std::vector<std::string>& Names, std::vector<std::string>* LongNames) {
  Names.clear();
  if (LongNames) LongNames->clear();
  if (!IsSupportedFFmpeg()) return false;
  void* it = nullptr;
  while (const AVCodec* c = kzFF.av_codec_iterate(&it)) {
    if (kzFF.avcodec_get_type(c->id) != Type) continue;
    if (Encoders ? !kzFF.av_codec_is_encoder(c) : !kzFF.av_codec_is_decoder(c)) continue;
    Names.emplace_back(kzFF.avcodec_get_name(c->id));
    if (LongNames) {
      const AVCodecDescriptor* d = kzFF.avcodec_descriptor_get(c->id);
      LongNames->emplace_back(d && d->long_name ? d->long_name : "");
    }
  }
  return true;
}

bool WalkDevices(const AVInputFormat* (*Next)(const AVInputFormat*), std::vector<std::string>* Names,
                 std::vector<std::string>* LongNames) {
  if (Names) Names->clear();
  if (LongNames) LongNames->clear();
  if (!IsSupportedFFmpeg() || !Next) return false;
  for (const AVInputFormat* f = Next(nullptr); f; f = Next(f)) {
    if (Names) Names->emplace_back(f->name ? f->name : "");
    if (LongNames) LongNames->emplace_back(f->long_name ? f->long_name : "");
  }
  return true;
}

}  // namespace

int KzFFmpegSampleFormat(TKzSampleFormat Format, bool Planar) { return KzSampleFormats[size_t(Format)][Planar]; }

int KzFFmpegVideoCodecID(TKzVideoCodec Codec) { return KzVideoCodecIDs[size_t(Codec)]; }

int KzFFmpegAudioCodecID(TKzAudioCodec Codec, TKzSampleFormat Format) {
  if (Codec != TKzAudioCodec::kzacWAV) return KzAudioCodecIDs[size_t(Codec)];
  return Format == TKzSampleFormat::kzsf8    ? AV_CODEC_ID_PCM_U8
         : Format == TKzSampleFormat::kzsf16 ? AV_CODEC_ID_PCM_S16LE
                                             : AV_CODEC_ID_PCM_S32LE;
}

void GetListOfAvailableFFmpegVideoCodecs(TKzFFmpegList& List, const std::string& FirstItem, bool WithExtensions) {
  List.clear();
  if (!IsSupportedFFmpeg()) return;
  if (!FirstItem.empty()) List.emplace_back(FirstItem, 0);
  for (size_t i = 0; i < std::size(KzVideoCodecIDs); ++i) {
    const AVCodec* c = Encoder(KzVideoCodecIDs[i]);
    if (!c) continue;
    std::string name = c->long_name ? c->long_name : c->name;
    if (WithExtensions) {
      // The extensions of the muxers whose default video codec this is.
      std::string ext;
      void* it = nullptr;
      while (const AVOutputFormat* f = kzFF.av_muxer_iterate(&it))
        if (f->video_codec == c->id && f->extensions) ext += (ext.empty() ? "" : ",") + std::string(f->extensions);
      if (!ext.empty()) name += " [" + ext + "]";
    }
    List.emplace_back(name, int64_t(i));
  }
}

void GetListOfAvailableFFmpegAudioCodecs(TKzFFmpegList& List, const std::string& FirstItem) {
  List.clear();
  if (!IsSupportedFFmpeg()) return;
  if (!FirstItem.empty()) List.emplace_back(FirstItem, 0);
  for (size_t i = 0; i < std::size(KzAudioCodecIDs); ++i)
    if (const AVCodec* c = Encoder(KzAudioCodecIDs[i])) List.emplace_back(c->long_name ? c->long_name : c->name, int64_t(i));
}

void GetListOfAvailableFFmpegFileFormats(TKzFFmpegList& List) {
  List.clear();
  if (!IsSupportedFFmpeg()) return;
  // Shown name, FFmpeg's muxer name.
  const std::pair<const char*, const char*> formats[] = {{"MP4", "mp4"}, {"AVI", "avi"},     {"MPEG", "mpeg"},
                                                         {"3GP", "3gp"}, {"FLV", "flv"},     {"MKV", "matroska"},
                                                         {"MOV", "mov"}, {"RM", "rm"},       {"MJPEG", "mjpeg"}};
  for (size_t i = 0; i < std::size(formats); ++i)
    if (kzFF.av_guess_format(formats[i].second, nullptr, nullptr)) List.emplace_back(formats[i].first, int64_t(i));
}

void GetListOfAvailableSampleFormats(TKzAudioCodec Codec, TKzFFmpegList& List) {
  List.clear();
  if (!IsSupportedFFmpeg()) return;
  for (size_t f = 0; f < std::size(KzSampleFormats); ++f) {
    if (Codec == TKzAudioCodec::kzacWAV) {
      if (f <= size_t(TKzSampleFormat::kzsf32) && Encoder(KzFFmpegAudioCodecID(Codec, TKzSampleFormat(f))))
        List.emplace_back(KzSampleFormatNames[f], int64_t(f));
      continue;
    }
    const AVCodec* c = Encoder(KzFFmpegAudioCodecID(Codec));
    if (!c || !c->sample_fmts) continue;
    for (const AVSampleFormat* s = c->sample_fmts; *s != AV_SAMPLE_FMT_NONE; ++s) {
      if (*s == KzSampleFormats[f][0] || *s == KzSampleFormats[f][1]) {
        List.emplace_back(KzSampleFormatNames[f], int64_t(f));
        break;
      }
    }
  }
}

void GetListOfAvailableSampleRates(TKzAudioCodec Codec, TKzSampleFormat Format, TKzFFmpegList& List) {
  List.clear();
  if (!IsSupportedFFmpeg()) return;
  if (Codec == TKzAudioCodec::kzacAMR) {
    List.emplace_back("8000", 8000);
    return;
  }
  const AVCodec* c = Encoder(KzFFmpegAudioCodecID(Codec, Format));
  if (!c || !c->supported_samplerates) return;
  for (const int* r = c->supported_samplerates; *r != 0; ++r) List.emplace_back(std::to_string(*r), *r);
}

bool GetListOfVideoDecoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames) {
  return WalkCodecs(AVMEDIA_TYPE_VIDEO, false, Names, LongNames);
}
bool GetListOfAudioDecoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames) {
  return WalkCodecs(AVMEDIA_TYPE_AUDIO, false, Names, LongNames);
}
bool GetListOfVideoEncoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames) {
  return WalkCodecs(AVMEDIA_TYPE_VIDEO, true, Names, LongNames);
}
bool GetListOfAudioEncoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames) {
  return WalkCodecs(AVMEDIA_TYPE_AUDIO, true, Names, LongNames);
}
bool GetListOfVideoInputFormats(std::vector<std::string>* Names, std::vector<std::string>* LongNames) {
  return WalkDevices(kzFF.av_input_video_device_next, Names, LongNames);
}
bool GetListOfAudioInputFormats(std::vector<std::string>* Names, std::vector<std::string>* LongNames) {
  return WalkDevices(kzFF.av_input_audio_device_next, Names, LongNames);
}

}  // namespace kz
