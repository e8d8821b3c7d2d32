#include "camera/fmxMKzCamFFmpegEngine.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace kz {

TKzCamFFmpegEngine::TKzCamFFmpegEngine(void* Owner) : FEngine(Owner) {
  // The interface's handlers are read when they fire, so the fetch thread
  // may set them any time before playing.
  FEngine.OnNewImage = [this](void*, TKzMBitmap& Img, double Time) { return !OnNewImage || OnNewImage(Img, Time); };
  FEngine.OnGetPictureSize = [this] { return OnGetPictureSize ? OnGetPictureSize() : TKzDecodeSize::Full(); };
  FEngine.OnChangeState = [this](void*, TKzFFMState State) {
    if (OnStateChange) OnStateChange(State);
  };
  FEngine.OnError = [this](void*, int32_t Code, const std::string& Text) {
    if (OnError) OnError(Code, Text);
  };
  FEngine.OnLoginFailed = [this](void*, const std::string& URL) {
    if (OnLoginFailed) OnLoginFailed(URL);
  };
  FEngine.OnGetVideoStreamIndex = [this](void*, int32_t Count, int32_t& Index) {
    if (OnGetVideoStreamIndex) OnGetVideoStreamIndex(Count, Index);
  };
  FEngine.OnVideoPacket = [this](const AVPacket& P, const AVCodecParameters& C, const AVRational& Tb) {
    if (!OnVideoPacket) return;
    TKzCompressedVideoPacket p;
    p.CodecId = static_cast<int32_t>(C.codec_id);
    p.Data = P.data;
    p.Size = P.size > 0 ? static_cast<size_t>(P.size) : 0;
    p.Key = (P.flags & AV_PKT_FLAG_KEY) != 0;
    p.Pts = P.pts == AV_NOPTS_VALUE ? TKzCompressedVideoPacket::NoTime : P.pts;
    p.Dts = P.dts == AV_NOPTS_VALUE ? TKzCompressedVideoPacket::NoTime : P.dts;
    p.TimeBaseNum = Tb.num;
    p.TimeBaseDen = Tb.den;
    p.Width = C.width;
    p.Height = C.height;
    p.Extra = C.extradata;
    p.ExtraSize = C.extradata_size > 0 ? static_cast<size_t>(C.extradata_size) : 0;
    OnVideoPacket(p);
  };
  // Without a login handler nobody supplies credentials: the same as refusing.
  FEngine.OnLogin = [this](void*, const std::string& Realm, std::string& User, std::string& Pass, bool& Proceed) {
    Proceed = false;
    if (OnLogin) OnLogin(Realm, User, Pass, Proceed);
  };
}

TKzFFmpegOptions TKzCamFFmpegEngine::OptionsOf(const TKzCamEngineSettings& Settings) {
  const TKzFFMpegProperty& p = Settings.FFMpeg;
  TKzFFmpegOptions o;
  o.ProxyManual = Settings.ProxyMode == TKzMFProxyMode::kzmManualSettings;
  o.ProxyHost = Settings.ProxyHost;
  o.ProxyPort = Settings.ProxyPort;
  o.RTSPTransport = p.RTSPTransport().Bits();  // same bit layout
  o.RTSPFlags = p.RTSPFlags().Bits();
  o.IsVideo = p.Video();
  o.IsAudio = p.Audio();
  o.MaxDelay = p.MaxDelay();
  o.STimeout = p.STimeout();
  o.UdpFifoBufferSize = p.UdpFifoBufferSize();
  o.TimeOut = p.TimeOut();
  o.CountThreads = p.Threads();
  o.RecvBufferSize = p.RecvBufferSize();
  o.IsTcpNodelay = p.TcpNodelay();
  o.IsOverrunNonfatal = p.OverrunNonfatal();
  o.ProbeSize = p.ProbeSize();
  o.CustomProperties = p.CustomProperties();
  o.UseFFMpegProperty = p.UseFFMpegProperty();
  o.UseVideoScale = p.UseVideoScale();
  o.VideoWidth = p.VideoWidth();
  o.VideoHeight = p.VideoHeight();
  // The settings list the filters in the order of the scaler's flag bits.
  const auto filter = unsigned(p.VideoFilter());
  o.VideoFilter = TKzFFMpegFilter(filter == 0 ? 0u : 1u << (filter - 1));
  o.VideoInputFormatName = p.VideoInputFormat();
  o.AudioCodecName = p.DecodeAudioCodecName();
  o.VideoCodecName = p.DecodeVideoCodecName();
  o.FrameDrop = p.FrameDrop();
  o.NoDelay = p.NoDelay();
  o.UserName = Settings.UserName;
  o.UserPassword = Settings.Password;
  o.HTTPPort = Settings.HTTPPort;
  o.RTSPPort = Settings.RTSPPort;
  return o;
}

void TKzCamFFmpegEngine::AssignSettings(const TKzCamEngineSettings& Settings) {
  FEngine.Options = OptionsOf(Settings);
  FEngine.ChangeRemuxing(Settings.FFMpeg.Remuxing().Active, Settings.FFMpeg.Remuxing().FileName);
}

void TKzCamFFmpegEngine::PlayVideo(const std::string& URL) {
  // The engine decodes sound only for a handler that is there as it opens.
  FEngine.OnGetAudio = nullptr;
  if (OnGetAudio) {
    FEngine.OnGetAudio = [this](void*, TMemoryStream& Stream, int32_t& Size, uint16_t, int64_t&, uint32_t&,
                                int32_t& Rate, TKzBitsPerSample& Bits, int32_t& Channels) {
      if (Size <= 0 || Size > Stream.Size()) return;
      const TKzAudioInfo info{Rate, Bits, Channels};
      OnGetAudio(info, Stream.Memory(), size_t(Size));
    };
  }
  FEngine.OnGetAudioPlayPositon = nullptr;
  if (OnGetAudioPlayPositon)
    FEngine.OnGetAudioPlayPositon = [this](void*, int64_t& Position) { OnGetAudioPlayPositon(Position); };
  FEngine.PlayVideo(URL);
}

int32_t TKzCamFFmpegEngine::ResultCode() const {
  // An abort is no failure; everything else keeps FFmpeg's or the engine's code.
  return FEngine.Terminated() ? 0 : FEngine.Err();
}

}  // namespace kz
