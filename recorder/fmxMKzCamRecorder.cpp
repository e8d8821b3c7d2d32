#include "recorder/fmxMKzCamRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzErrors.h"

namespace kz {

TKzCamRecorder::TKzCamRecorder(TComponent* AOwner) : TComponent(AOwner) {}

TKzCamRecorder::~TKzCamRecorder() {
  Destroying();
  SetVideoSource(nullptr);
  SetAudioSource(nullptr);
  TKzSafeLock g(FLock);
  DeinitMedia();
  FActive = false;
}

bool TKzCamRecorder::Active() {
  TKzSafeLock g(FLock);
  return FActive;
}

bool TKzCamRecorder::IsRecording() {
  TKzSafeLock g(FLock);
  return Encode && Encode->IsRunning();
}

void TKzCamRecorder::Reset() {
  TKzSafeLock g(FLock);
  if (Encode) Encode->Clear();
}

std::string TKzCamRecorder::RecordingFileName() {
  TKzSafeLock g(FLock);
  return FRecordingFileName;
}

TKzRecordStats TKzCamRecorder::Stats() {
  TKzSafeLock g(FLock);
  return Encode ? Encode->Stats() : TKzRecordStats{};
}

bool TKzCamRecorder::Paused() {
  TKzSafeLock g(FLock);
  return Encode && Encode->Paused.load();
}

void TKzCamRecorder::SetPaused(bool Value) {
  TKzSafeLock g(FLock);
  if (!Encode || !Encode->IsRunning()) throw EKzMediaError("Cannot pause: recording is not started");
  Encode->Paused.store(Value);
}

void TKzCamRecorder::SetVideoFramePerSec(int32_t Value) {
  if (Value <= 0) throw EKzMediaError("The frame rate must be positive");
  TKzSafeLock g(FLock);
  Change(FVideoFramePerSec, Value);
}

void TKzCamRecorder::SetActive(bool Value) {
  if (IsDesigning() || IsLoading()) {
    FActive = Value;
    return;
  }
  TKzSafeLock g(FLock);
  if (Value == FActive) return;
  if (!Value) {
    DeinitMedia();
    FActive = false;
    return;
  }
  FRestarts = 0;
  FInAudioKnown = false;
  FActive = StartLocked(FOutputFileName);
}

void TKzCamRecorder::Loaded() {
  TComponent::Loaded();
  if (!FActive) return;
  FActive = false;
  SetActive(true);
}

void TKzCamRecorder::InitMedia(const std::string& FileName) {
  if (!IsSupportedFFmpeg()) return;
  Encode = std::make_unique<TKzFFMpegEncode>(this, FileName, FVideoFramePerSec);
  TKzMFFMPEG* ff = Encode->FFMpeg();
  if (!ff) return;
  TKzFFmpegEncodeSettings& s = ff->EncodeSettings;
  s.UseVideo = FUseVideo && FVideoSource;
  s.UseAudio = FUseAudio && FAudioSource;
  s.VideoCodecID = KzFFmpegVideoCodecID(FVideoCodec);
  s.VideoCodecName = FVideoCodecName;
  s.VideoBitrate = FVideoBitrate;
  s.VideoWidth = FVideoWidth;
  s.VideoHeight = FVideoHeight;
  s.FramePerSec = FVideoFramePerSec;
  s.GroupOfPicturesSize = VideoEncodingParameters.GroupOfPicturesSize;
  s.MaxBFrameCount = VideoEncodingParameters.MaxBFrameCount;
  s.ReferenceFrameCount = VideoEncodingParameters.ReferenceFrameCount;
  s.FullRange = FVideoCodec == TKzVideoCodec::kzvcMJPEG;
  s.AudioCodecID = KzFFmpegAudioCodecID(FAudioCodec, FAudioSampleFormat);
  s.AudioCodecName = FAudioCodecName;
  s.AudioSampleFormat = FAudioSampleFormat;
  s.AudioBitrate = FAudioBitrate;
  s.AudioSampleRate = FAudioSampleRate;
  s.AudioChannels = FAudioChannels;
  s.InAudio = FInAudio;
  ff->OnError = [this](void*, int32_t Code, const std::string& Text) {
    if (OnError) OnError(this, Code, Text);
  };
  ff->OnEncodeNotice = [this](void*, const std::string& Text) {
    if (OnNotice) OnNotice(this, Text);
  };
}

bool TKzCamRecorder::RunMedia() {
  if (!Encode || !Encode->FFMpeg()) return false;
  const bool deferred = FVideoAutoSize && Encode->FFMpeg()->EncodeSettings.UseVideo;
  if (deferred) {
    // The file opens with the first picture; a path that cannot be written
    // is refused now, not then.
    const int fd = ::open(Encode->OutputFileName().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      const std::string why = std::strerror(errno);
      if (OnError) OnError(this, 16, KzFFmpegErrorText(16, {Encode->OutputFileName(), why}));
      return false;
    }
    ::close(fd);
  }
  return Encode->Run(deferred);
}

void TKzCamRecorder::DeinitMedia() {
  if (Encode) Encode->StopMedia();
  Encode.reset();
  ResizeImg.SetSize(0, 0);
}

bool TKzCamRecorder::StartLocked(const std::string& FileName) {
  FRecordingFileName = FileName;
  InitMedia(FileName);
  if (RunMedia()) return true;
  DeinitMedia();
  return false;
}

std::string TKzCamRecorder::NextFileName() {
  const std::string& base = FOutputFileName;
  const size_t slash = base.find_last_of('/');
  const size_t dot = base.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExt ? base.substr(0, dot) : base, ext = hasExt ? base.substr(dot) : "";
  return stem + "-" + std::to_string(++FRestarts) + ext;
}

void TKzCamRecorder::UpdateEncode() {
  TKzSafeLock g(FLock);
  if (!FActive) return;
  DeinitMedia();
  FActive = StartLocked(NextFileName());
}

void TKzCamRecorder::DoFirstFrame() {
  if (FIsFirstFrameReceived.exchange(true)) return;
  if (OnFirstFrame) OnFirstFrame(this);
}

void TKzCamRecorder::SetSource(TKzMediaSource*& Field, TKzMediaSource* Value, TKzMediaSource* Other) {
  if (Field == Value) return;
  TKzMediaSource* old = Field;
  // Registration waits for a delivery in progress: never under FLock.
  if (old && old != Other) {
    old->UnRegisterCamRecorder(this);
    RemoveFreeNotification(old);
  }
  if (Value && Value != Other) {
    Value->RegisterCamRecorder(this);
    FreeNotification(Value);
  }
  {
    TKzSafeLock g(FLock);
    Field = Value;
  }
  if (!IsDestroying()) UpdateEncode();
}

void TKzCamRecorder::SetVideoSource(TKzMediaSource* Value) { SetSource(FVideoSource, Value, FAudioSource); }
void TKzCamRecorder::SetAudioSource(TKzMediaSource* Value) { SetSource(FAudioSource, Value, FVideoSource); }

void TKzCamRecorder::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  TKzSafeLock g(FLock);
  if (AComponent == FVideoSource) FVideoSource = nullptr;
  if (AComponent == FAudioSource) FAudioSource = nullptr;
}

void TKzCamRecorder::RecorderGetImage(TComponent* Sender, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                                      const TGUID& GUIDFrom) {
  (void)Sender;
  if (IsDesigning() || Bitmap.IsEmpty()) return;
  TKzSafeLock g(FLock);
  if (!Encode || !Encode->IsRunning()) return;
  if (!SourceVideoGUID.empty() && SourceVideoGUID != GUIDToStringA(GUIDFrom)) return;
  if (VideoIndex != SourceVideoIndex) return;
  const int32_t w = Even(Bitmap.Width()), h = Even(Bitmap.Height());
  if (w != FVideoWidth || h != FVideoHeight) {
    if (FVideoAutoSize) {
      FVideoWidth = w;
      FVideoHeight = h;
      // Before the file opens the picture sets its size; afterwards the
      // recording goes on in a new file at the new size.
      if (Encode->IsOpened()) {
        UpdateEncode();
        return;
      }
    }
  }
  if (OnGetImage) {
    ResizeImg.SetSize(FVideoWidth, FVideoHeight);
    if (Bitmap.Width() == FVideoWidth && Bitmap.Height() == FVideoHeight)
      ResizeImg.AssignKzMBitmap(Bitmap);
    else
      ResizeImg.StretchDraw(ResizeImg.ClientRect(), Bitmap);
    OnGetImage(this, ResizeImg);
    Encode->AddFrame(ResizeImg);
  } else {
    // The encoder scales to the recording's size itself.
    Encode->AddFrame(Bitmap);
  }
  DoFirstFrame();
}

void TKzCamRecorder::RecorderGetAudio(TComponent* Sender, TMemoryStream& Stream, int32_t Size,
                                      const TKzAudioInfo& Info, uint32_t Duration, int64_t StartTime) {
  (void)Sender, (void)Duration, (void)StartTime;
  if (IsDesigning() || Size <= 0 || Info.Channels <= 0 || Info.SamplesPerSec <= 0) return;
  TKzSafeLock g(FLock);
  if (Info != FInAudio || !FInAudioKnown) {
    const bool first = !FInAudioKnown;
    FInAudio = Info;
    FInAudioKnown = true;
    if (Encode && Encode->IsRunning() && Encode->FFMpeg()->EncodeSettings.UseAudio) {
      if (first)
        Encode->FFMpeg()->ChangeIncomingAudio(Info);  // nothing of the old format is queued yet
      else
        UpdateEncode();
    }
  }
  if (!Encode || !Encode->IsRunning()) return;
  Encode->AddTrackData(Stream.Memory(), int32_t(std::min<int64_t>(Size, Stream.Size())));
}

}  // namespace kz
