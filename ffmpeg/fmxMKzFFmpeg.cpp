#include "ffmpeg/fmxMKzFFmpeg.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "ffmpeg/fmxMKzFFmpegEncodeInternal.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzRedact.h"
#include "ffmpeg/fmxMKzFFmpegQueue.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
// A single read that blocks this long while playing ends playback: the
// source has stalled and the owner decides on reconnecting.
constexpr int64_t KzStallLimitUs = 10'000'000;

double Now() { return double(kzFF.av_gettime()) / 1000000.0; }

// An FFmpeg dictionary built from an option list, freed with the object.
struct TKzDict {
  AVDictionary* D = nullptr;
  explicit TKzDict(const TKzFFmpegOptionList& List) {
    for (const auto& [name, value] : List) kzFF.av_dict_set(&D, name.c_str(), value.c_str(), 0);
  }
  ~TKzDict() { kzFF.av_dict_free(&D); }
};
}  // namespace

int32_t KzFFmpegEndOfFile() { return AVERROR_EOF; }
int32_t KzFFmpegUnauthorized() { return AVERROR_HTTP_UNAUTHORIZED; }

TKzMFFMPEG::TKzMFFMPEG(void* Owner) : FOwner(Owner) {}

TKzMFFMPEG::~TKzMFFMPEG() {
  VideoEncodeDeinit();
  DoneRemuxing();
  DoneDecode();
}

void TKzMFFMPEG::Abort() {
  FTerminated.store(true, std::memory_order_release);
  std::lock_guard<std::mutex> g(FSleepLock);
  FSleepWake.notify_all();
}

bool TKzMFFMPEG::SleepUnlessAborted(int Ms) {
  std::unique_lock<std::mutex> g(FSleepLock);
  return !FSleepWake.wait_for(g, std::chrono::milliseconds(Ms), [this] { return Terminated(); });
}

int TKzMFFMPEG::InterruptCallback(void* Self) {
  auto* self = static_cast<TKzMFFMPEG*>(Self);
  if (self->Terminated()) return 1;
  const int64_t since = self->FLastActivity.load(std::memory_order_relaxed);
  if (since <= 0 || kzFF.av_gettime() - since <= KzStallLimitUs) return 0;
  self->FStalled = true;
  return 1;
}

void TKzMFFMPEG::SetState(TKzFFMState Value) {
  FState.store(Value, std::memory_order_release);
  if (OnChangeState) OnChangeState(FOwner, Value);
  if ((Value == TKzFFMState::kzffmsStopping || Value == TKzFFMState::kzffmsError) && OnStopped) OnStopped(FOwner);
}

void TKzMFFMPEG::ShowError(int32_t Code, const std::vector<std::string>& Args) {
  SetErr(Code);
  FErrorText = KzRedactCredentials(KzFFmpegErrorText(Code, Args));
  SetState(TKzFFMState::kzffmsError);
  if (OnError) OnError(FOwner, Code, FErrorText);
}

void TKzMFFMPEG::PlayVideo(const std::string& URL) {
  if (!IsSupportedFFmpeg() || State() != TKzFFMState::kzffmsInit) return;
  SetErr(0);
  FFFmpegResult.store(0);
  FStalled = false;
  FErrorText.clear();
  FNetwork = URL.find("://") != std::string::npos && URL.rfind("file:", 0) != 0;
  FActiveNoDelay = Options.NoDelay && FNetwork;
  SetState(TKzFFMState::kzffmsStarting);
  if (InitDecode(KzFFmpegMakeURL(URL, Options))) {
    BeginRemuxing();
    while (State() == TKzFFMState::kzffmsPlaying && !Terminated()) {
      const bool goOn = FDecVideoWithAudio ? ReadAndProcessVideoFrame_WithSound() : ReadAndProcessVideoFrame();
      if (!goOn) break;
    }
    if (Err() == AVERROR_EOF && State() == TKzFFMState::kzffmsPlaying) DrainDecoders();
  }
  DoneRemuxing();
  if (State() == TKzFFMState::kzffmsPlaying) SetState(TKzFFMState::kzffmsStopping);
  DoneDecode();
  FEndedByAbort = Terminated() && !FStalled;
  if (Terminated() && OnAborted) OnAborted(FOwner);
  SetState(TKzFFMState::kzffmsInit);
}

bool TKzMFFMPEG::PerformOpenFile(const std::string& URL) {
  const int attempts = std::max(1, int(glLoginAttemptCount.load()));
  std::string url = URL;
  int r = 0;
  for (int attempt = 1; attempt <= attempts && !Terminated(); ++attempt) {
    AVFormatContext* ctx = kzFF.avformat_alloc_context();
    if (!ctx) break;
    ctx->interrupt_callback.callback = &TKzMFFMPEG::InterruptCallback;
    ctx->interrupt_callback.opaque = this;
    const AVInputFormat* forced = nullptr;
    if (!Options.VideoInputFormatName.empty()) forced = kzFF.av_find_input_format(Options.VideoInputFormatName.c_str());
    TKzDict options(KzFFmpegInputOptions(Options, FNetwork));
    r = kzFF.avformat_open_input(&ctx, url.c_str(), forced, &options.D);  // frees ctx on failure
    if (r >= 0) {
      FFormatContext = ctx;
      return true;
    }
    NoteResult(r);
    if (r != AVERROR_HTTP_UNAUTHORIZED || attempt == attempts || !OnLogin) break;
    std::string user = Options.UserName, pass = Options.UserPassword;
    bool proceed = false;
    OnLogin(FOwner, "", user, pass, proceed);
    if (!proceed) break;
    Options.UserName = user;
    Options.UserPassword = pass;
    url = KzFFmpegMakeURL(DeleteUserFromURL(URL), Options);
  }
  ShowError(1);
  if (r == AVERROR_HTTP_UNAUTHORIZED && OnLoginFailed) OnLoginFailed(FOwner, DeleteUserFromURL(url));
  return false;
}

AVCodecContext* TKzMFFMPEG::OpenDecoder(int Index, const std::string& Name, int MediaType) {
  const AVStream* stream = FFormatContext->streams[Index];
  const AVCodec* codec = Name.empty() ? kzFF.avcodec_find_decoder(stream->codecpar->codec_id)
                                      : kzFF.avcodec_find_decoder_by_name(Name.c_str());
  if (!codec) {
    ShowError(7);
    return nullptr;
  }
  if (codec->type != MediaType) {
    ShowError(30);
    return nullptr;
  }
  AVCodecContext* ctx = kzFF.avcodec_alloc_context3(codec);
  if (!ctx) {
    ShowError(8);
    return nullptr;
  }
  ctx->pkt_timebase = stream->time_base;
  TKzDict options(KzFFmpegDecoderOptions(Options));
  if (kzFF.avcodec_parameters_to_context(ctx, stream->codecpar) < 0 ||
      kzFF.avcodec_open2(ctx, codec, &options.D) < 0) {
    kzFF.avcodec_free_context(&ctx);
    ShowError(4);
    return nullptr;
  }
  return ctx;
}

bool TKzMFFMPEG::InitDecode(const std::string& URL) {
  FVideoStreamIndex = FAudioStreamIndex = -1;
  FVideoTimerInfo = {};
  FAudioTimerInfo = {};
  FAudioTimerCorrection.store(0);
  {
    std::lock_guard<std::mutex> g(FAudioClockLock);
    FAudioClockOrigin = {};
  }
  FFrameDropCount = 0;
  FLastActivity.store(0);
  FDecVideoWithAudio = FDecConvertAudio = false;
  FInFormat = -1;
  {
    std::lock_guard<std::recursive_mutex> g(FLock);
    ClearRemuxData();
    FFrameDelays.clear();
    FFrameDelays.reserve(size_t(std::max(0, Options.MaxCountFrame)));
    CountFrame = 0;
  }
  FPacket = kzFF.av_packet_alloc();
  if (!FPacket) {
    ShowError(6);
    return false;
  }
  if (!PerformOpenFile(URL)) return false;
  if (kzFF.avformat_find_stream_info(FFormatContext, nullptr) < 0) {
    ShowError(2);
    return false;
  }
  const int count = int(FFormatContext->nb_streams);
  if (Options.IsVideo) {
    FVideoStreamIndex = kzFF.av_find_best_stream(FFormatContext, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (OnGetVideoStreamIndex) OnGetVideoStreamIndex(FOwner, count, FVideoStreamIndex);
  }
  if (FVideoStreamIndex < 0 || FVideoStreamIndex >= count) {
    FVideoStreamIndex = -1;
    ShowError(3);
    return false;
  }
  FVideoStream = FFormatContext->streams[FVideoStreamIndex];
  if (Options.IsAudio && OnGetAudio) {
    FAudioStreamIndex = kzFF.av_find_best_stream(FFormatContext, AVMEDIA_TYPE_AUDIO, -1, FVideoStreamIndex, nullptr, 0);
    if (OnGetAudioStreamIndex) OnGetAudioStreamIndex(FOwner, count, FAudioStreamIndex);
    if (FAudioStreamIndex >= count) FAudioStreamIndex = -1;
  }
  FVideoCodec = OpenDecoder(FVideoStreamIndex, Options.VideoCodecName, AVMEDIA_TYPE_VIDEO);
  if (!FVideoCodec) return false;
  if (FAudioStreamIndex >= 0) {
    FAudioStream = FFormatContext->streams[FAudioStreamIndex];
    FAudioCodec = OpenDecoder(FAudioStreamIndex, Options.AudioCodecName, AVMEDIA_TYPE_AUDIO);
    if (!FAudioCodec) return false;
    FDecVideoWithAudio = PrepareAudioConversion();
    if (FDecVideoWithAudio) {
      FFrameQueue = std::make_unique<TKzFFmpegBitmapQueueThread>(*this);
      FFrameQueue->Start();
    }
  }
  FFrame = kzFF.av_frame_alloc();
  if (!FFrame) {
    ShowError(6);
    return false;
  }
  SetState(TKzFFMState::kzffmsPlaying);
  if (OnStartPlay) OnStartPlay(FOwner);
  IsDecodeStart = true;
  return true;
}

void TKzMFFMPEG::DoneDecode() {
  if (FFrameQueue) {
    FFrameQueue->Terminate();
    FFrameQueue->WaitForEnd(INFINITE);
    FFrameQueue.reset();
  }
  if (IsDecodeStart && Err() == AVERROR_EOF) SetErr(KzFFmpegNoPacket);
  IsDecodeStart = false;
  // Nothing left to free: the binding is not read, so an engine freed after
  // playing (a fetch thread ending) never races with FFmpeg being bound again.
  const bool held = FAudioConvert || FVideoCodec || FAudioCodec || FFormatContext || FFrame || FScaler || FPacket;
  if (held && kzFF.av_frame_free) {
    if (FAudioConvert) kzFF.swr_free(&FAudioConvert);
    if (FVideoCodec) kzFF.avcodec_free_context(&FVideoCodec);
    if (FAudioCodec) kzFF.avcodec_free_context(&FAudioCodec);
    if (FFormatContext) kzFF.avformat_close_input(&FFormatContext);
    if (FFrame) kzFF.av_frame_free(&FFrame);
    if (FScaler) kzFF.sws_freeContext(FScaler);
    FScaler = nullptr;
    if (FPacket) kzFF.av_packet_free(&FPacket);
  }
  FVideoStream = FAudioStream = nullptr;
  FAudioBuffer.clear();
  FAudioBuffer.shrink_to_fit();
  img.SetSize(0, 0);
}

int TKzMFFMPEG::SendPacket(AVCodecContext* Ctx) {
  const int r = kzFF.avcodec_send_packet(Ctx, FPacket);
  // A damaged packet costs only its own frames.
  if (r == AVERROR_INVALIDDATA || r == AVERROR(EAGAIN)) return 0;
  return r;
}

bool TKzMFFMPEG::ReadPacket() {
  FLastActivity.store(kzFF.av_gettime(), std::memory_order_relaxed);
  const int r = kzFF.av_read_frame(FFormatContext, FPacket);
  NoteResult(r);
  if (r < 0) return false;
  IsDecodeStart = false;
  return true;
}

bool TKzMFFMPEG::DecodeVideoPacket(bool (TKzMFFMPEG::*Present)()) {
  if (SendPacket(FVideoCodec) < 0) {
    ShowError(32);
    return false;
  }
  bool goOn = true;
  while (goOn && kzFF.avcodec_receive_frame(FVideoCodec, FFrame) == 0) {
    goOn = (this->*Present)();
    kzFF.av_frame_unref(FFrame);
  }
  return goOn;
}

bool TKzMFFMPEG::FinishPacket(bool GoOn) {
  if (OnVideoPacket && FPacket->stream_index == FVideoStreamIndex && FVideoStreamIndex >= 0) {
    const AVStream* st = FFormatContext->streams[FVideoStreamIndex];
    OnVideoPacket(*FPacket, *st->codecpar, st->time_base);
  }
  if (!RemuxPacket()) GoOn = false;
  kzFF.av_packet_unref(FPacket);
  return GoOn;
}

bool TKzMFFMPEG::ReadAndProcessVideoFrame() {
  if (!ReadPacket()) return false;
  const bool goOn = FPacket->stream_index != FVideoStreamIndex || DecodeVideoPacket(&TKzMFFMPEG::ShowVideoFrame);
  return FinishPacket(goOn);
}

// At the end of the input the decoders still hold their last frames.
void TKzMFFMPEG::DrainDecoders() {
  kzFF.avcodec_send_packet(FVideoCodec, nullptr);
  bool goOn = true;
  while (goOn && !Terminated() && kzFF.avcodec_receive_frame(FVideoCodec, FFrame) == 0) {
    goOn = FDecVideoWithAudio ? QueueVideoFrame() : ShowVideoFrame();
    kzFF.av_frame_unref(FFrame);
  }
  if (!FDecVideoWithAudio) return;
  kzFF.avcodec_send_packet(FAudioCodec, nullptr);
  while (!Terminated() && kzFF.avcodec_receive_frame(FAudioCodec, FFrame) == 0) {
    DeliverAudioFrame();
    UpdateAudioClock();
    kzFF.av_frame_unref(FFrame);
  }
  // The pictures still queued are shown before the end.
  while (!Terminated() && !FFrameQueue->IsEmpty() && !FFrameQueue->Finished()) SleepUnlessAborted(10);
}

bool TKzMFFMPEG::ShowVideoFrame() {
  const int64_t ts = FFrame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : FFrame->best_effort_timestamp;
  FVideoTimerInfo.Pts = double(ts) * kz::av_q2d(FVideoStream->time_base);
  UpdateVideoClock();
  const bool first = FVideoTimerInfo.Timer == 0;
  double wait = ComputeVideoFrameDelay(FVideoTimerInfo.Pts);
  if (ShouldDropFrame(wait, first)) return true;
  const int waitMs = int(std::lround(wait * 1000 + 0.5));
  if (!FrameToPicture()) return false;
  if (!FActiveNoDelay && waitMs > 1 && !SleepUnlessAborted(waitMs)) return false;
  FDecCurTime.store(int64_t(FVideoTimerInfo.Pts * 1000));
  return !OnNewImage || OnNewImage(FOwner, img, FVideoTimerInfo.Pts);
}

void TKzMFFMPEG::UpdateVideoClock() {
  TKzMVideoTimerInfo& v = FVideoTimerInfo;
  if (v.Pts == 0)
    v.Pts = v.VideoClock;
  else
    v.VideoClock = v.Pts;
  // The frame's duration: the stream's frame rate where known, else the codec's time base.
  AVRational step = FVideoStream->avg_frame_rate.num > 0 ? AVRational{FVideoStream->avg_frame_rate.den,
                                                                       FVideoStream->avg_frame_rate.num}
                                                          : FVideoCodec->time_base;
  v.VideoClock += kz::av_q2d(step) * (1 + 0.5 * FFrame->repeat_pict);
}

// The output size for the current frame: the fixed size of UseVideoScale,
// else the smallest size with the stream's aspect that covers the wanted
// one (never larger than the stream).
void TKzMFFMPEG::OutputSizeFor(int& Width, int& Height) {
  if (Options.UseVideoScale && Options.VideoWidth > 0 && Options.VideoHeight > 0) {
    Width = Options.VideoWidth;
    Height = Options.VideoHeight;
    return;
  }
  Width = FFrame->width;
  Height = FFrame->height;
  const TKzDecodeSize want = OnGetPictureSize ? OnGetPictureSize() : TKzDecodeSize::Full();
  if (want.IsFull()) return;
  const double s = std::min(1.0, std::max(double(want.Width) / Width, double(want.Height) / Height));
  Width = std::clamp(int(std::ceil(Width * s)), 1, Width);
  Height = std::clamp(int(std::ceil(Height * s)), 1, Height);
}

bool TKzMFFMPEG::InitOutputPictureForDecode() {
  int outWidth = 0, outHeight = 0;
  OutputSizeFor(outWidth, outHeight);
  if (FFrame->width == FInWidth && FFrame->height == FInHeight && FFrame->format == FInFormat && FScaler &&
      outWidth == FOutWidth && outHeight == FOutHeight)
    return true;
  FInWidth = FFrame->width;
  FInHeight = FFrame->height;
  FInFormat = FFrame->format;
  FOutWidth = outWidth;
  FOutHeight = outHeight;
  // "None" still needs one algorithm: the nearest pixel, which filters nothing.
  int flags = int(Options.VideoFilter);
  if (flags == 0) flags = SWS_POINT;
  FScaler = kzFF.sws_getCachedContext(FScaler, FInWidth, FInHeight, AVPixelFormat(FInFormat), FOutWidth, FOutHeight,
                                      AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
  if (!FScaler) {
    ShowError(5);
    return false;
  }
  img.SetSize(FOutWidth, FOutHeight);
  if (img.Width() != FOutWidth || img.Height() != FOutHeight) {
    ShowError(6);
    return false;
  }
  return true;
}

bool TKzMFFMPEG::FrameToPicture() {
  if (FFrame->width <= 0 || FFrame->height <= 0 || !InitOutputPictureForDecode()) return false;
  // The owner may have swapped the picture's pixels for other ones.
  if (img.Width() != FOutWidth || img.Height() != FOutHeight) img.SetSize(FOutWidth, FOutHeight);
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(img.Data()), nullptr, nullptr, nullptr};
  const int dstStride[4] = {img.Width() * 4, 0, 0, 0};
  kzFF.sws_scale(FScaler, FFrame->data, FFrame->linesize, 0, FInHeight, dst, dstStride);
  if (!Options.UseVideoScale) img.SetSourceSize(FInWidth, FInHeight);  // a fixed size is the user's picture
  img.UpdateData();
  return true;
}

double TKzMFFMPEG::ComputeVideoFrameDelay(double Pts) {
  TKzMVideoTimerInfo& v = FVideoTimerInfo;
  double delay = Pts - v.LastPts;
  if (!(delay > 0 && delay < 1)) delay = v.LastDelay;
  v.LastPts = Pts;
  v.LastDelay = delay;
  double now = kzFF.av_gettime ? Now() : 0;
  if (FDecVideoWithAudio) now -= FAudioTimerCorrection.load() / 1000.0;
  if (v.Timer == 0)
    v.Timer = now;
  else
    v.Timer += delay;
  double wait = v.Timer - now;
  // With sound playing, a picture is due when the sound of its time leaves
  // the output: the wall clock only bridges the time before that.
  double played = 0;
  if (FDecVideoWithAudio && AudioPlayedClock(played)) {
    wait = Pts - played;
    v.Timer = now + wait;
  }
  NoteFrameDelay(wait);
  return wait;
}

void TKzMFFMPEG::NoteFrameDelay(double Wait) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (Options.MaxCountFrame <= 0) return;
  if (int32_t(FFrameDelays.size()) >= Options.MaxCountFrame) FFrameDelays.erase(FFrameDelays.begin());
  FFrameDelays.push_back(int32_t(std::lround(Wait * 1000)));
  ++CountFrame;
}

std::vector<int32_t> TKzMFFMPEG::FrameDelays() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FFrameDelays;
}

bool TKzMFFMPEG::ShouldDropFrame(double& Wait, bool First) {
  constexpr double due = 0.01;
  if (Wait >= due || First) {
    FFrameDropCount = 0;
    return false;
  }
  if (!Options.FrameDrop) {
    Wait = due;
    FFrameDropCount = 0;
    return false;
  }
  if (++FFrameDropCount < 6) return true;
  FFrameDropCount = 0;
  return false;
}

}  // namespace kz
