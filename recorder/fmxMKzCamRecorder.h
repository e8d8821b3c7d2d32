// TKzCamRecorder writes the pictures of one video source and the audio of
// one audio source into a media file through FFmpeg at a constant frame
// rate. It registers with its sources as a recorder consumer; the encoding
// runs on its own thread (TKzFFMpegEncode).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ffmpeg/fmxMKzFFmpegLists.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "recorder/fmxMKzFFMpegEncode.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

struct TKzVideoEncodingParameters {
  int32_t GroupOfPicturesSize = 12;
  int32_t MaxBFrameCount = -1;       // −1: the encoder's default
  int32_t ReferenceFrameCount = -1;  // −1: the encoder's default
};

class TKzCamRecorder : public TComponent, public IKzCamRecorderConsumer {
public:
  // Main thread, never blocks.
  explicit TKzCamRecorder(TComponent* AOwner);
  // Finishes the file and leaves the sources. Main thread; blocks while the file is finished.
  ~TKzCamRecorder() override;

  // Starts or stops recording. Starting without FFmpeg, or when the file
  // cannot be opened, leaves Active False. Main thread; stopping blocks
  // while the file is finished.
  bool Active();
  void SetActive(bool Value);
  // The encoder runs and writes (or is about to open its file). Any thread.
  bool IsRecording();
  void StopRecord() { SetActive(false); }
  // Drops the audio and picture waiting for the encoder. Any thread.
  void Reset();

  // Sources. Setting one leaves the old source and registers with the new
  // one; while recording the file is finished and the recording goes on in
  // the next file. Main thread.
  TKzMediaSource* VideoSource() const { return FVideoSource; }
  TKzMediaSource* AudioSource() const { return FAudioSource; }
  void SetVideoSource(TKzMediaSource* Value);
  void SetAudioSource(TKzMediaSource* Value);

  // Settings. A change while recording continues in the next file
  // (<stem>-1<ext>, -2, …). Main thread.
  const std::string& OutputFileName() const { return FOutputFileName; }
  void SetOutputFileName(const std::string& Value) { FOutputFileName = Value; }
  // The file being written (OutputFileName or one of its continuations). Any thread.
  std::string RecordingFileName();
  bool UseVideo() const { return FUseVideo; }
  void SetUseVideo(bool Value) { Change(FUseVideo, Value); }
  bool UseAudio() const { return FUseAudio; }
  void SetUseAudio(bool Value) { Change(FUseAudio, Value); }
  TKzVideoCodec VideoCodec() const { return FVideoCodec; }
  void SetVideoCodec(TKzVideoCodec Value) { Change(FVideoCodec, Value); }
  const std::string& VideoCodecName() const { return FVideoCodecName; }
  void SetVideoCodecName(const std::string& Value) { Change(FVideoCodecName, Value); }
  int32_t VideoBitrate() const { return FVideoBitrate; }
  void SetVideoBitrate(int32_t Value) { Change(FVideoBitrate, Value); }
  // Always even: odd values are lowered by one, negatives become 0.
  int32_t VideoWidth() const { return FVideoWidth; }
  int32_t VideoHeight() const { return FVideoHeight; }
  void SetVideoWidth(int32_t Value) { Change(FVideoWidth, Even(Value)); }
  void SetVideoHeight(int32_t Value) { Change(FVideoHeight, Even(Value)); }
  // A rate ≤ 0 raises EKzMediaError.
  int32_t VideoFramePerSec() const { return FVideoFramePerSec; }
  void SetVideoFramePerSec(int32_t Value);
  bool VideoAutoSize() const { return FVideoAutoSize; }
  void SetVideoAutoSize(bool Value) { FVideoAutoSize = Value; }
  TKzAudioCodec AudioCodec() const { return FAudioCodec; }
  void SetAudioCodec(TKzAudioCodec Value) { Change(FAudioCodec, Value); }
  const std::string& AudioCodecName() const { return FAudioCodecName; }
  void SetAudioCodecName(const std::string& Value) { Change(FAudioCodecName, Value); }
  TKzSampleFormat AudioSampleFormat() const { return FAudioSampleFormat; }
  void SetAudioSampleFormat(TKzSampleFormat Value) { Change(FAudioSampleFormat, Value); }
  int32_t AudioBitrate() const { return FAudioBitrate; }
  void SetAudioBitrate(int32_t Value) { Change(FAudioBitrate, Value); }
  int32_t AudioSampleRate() const { return FAudioSampleRate; }
  void SetAudioSampleRate(int32_t Value) { Change(FAudioSampleRate, Value); }
  int32_t AudioChannels() const { return FAudioChannels; }
  void SetAudioChannels(int32_t Value) { Change(FAudioChannels, Value); }
  TKzVideoEncodingParameters VideoEncodingParameters;  // read when recording starts
  // Which stream of a source to take: "" takes every sender.
  std::string SourceVideoGUID, SourceAudioGUID;
  uint16_t SourceVideoIndex = 0, SourceAudioIndex = 0;

  // Pauses appending; the paused time is cut out of the file. Raises
  // EKzMediaError when not recording. Main thread.
  bool Paused();
  void SetPaused(bool Value);

  // Progress of the current file. Any thread.
  TKzRecordStats Stats();

  // Raised once, when the first picture has been taken (the source's thread).
  std::function<void(TKzCamRecorder* Sender)> OnFirstFrame;
  // Each picture before it is encoded, at the recording's size (the source's thread).
  std::function<void(TKzCamRecorder* Sender, TKzMBitmap& Img)> OnGetImage;
  // Encoding and writing errors (the encoder's or the caller's thread).
  std::function<void(TKzCamRecorder* Sender, int32_t Code, const std::string& Text)> OnError;
  // A setting the encoder could not take and what it took instead.
  std::function<void(TKzCamRecorder* Sender, const std::string& Text)> OnNotice;

  // From the sources.
  void RecorderGetImage(TComponent* Sender, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                        const TGUID& GUIDFrom) override;
  void RecorderGetAudio(TComponent* Sender, TMemoryStream& Stream, int32_t Size, const TKzAudioInfo& Info,
                        uint32_t Duration, int64_t StartTime) override;

protected:
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  static int32_t Even(int32_t Value) { return Value < 0 ? 0 : Value & ~1; }
  template <typename T>
  void Change(T& Field, const T& Value) {
    if (Field == Value) return;
    Field = Value;
    if (FActive) UpdateEncode();
  }
  void InitMedia(const std::string& FileName);
  bool RunMedia();
  void DeinitMedia();
  // Finishes the file and continues in the next one. Under FLock.
  void UpdateEncode();
  void DoFirstFrame();
  void SetSource(TKzMediaSource*& Field, TKzMediaSource* Value, TKzMediaSource* Other);
  bool StartLocked(const std::string& FileName);
  std::string NextFileName();

  TKzCriticalSection FLock;  // guards the encoder, the sizes and the incoming audio format
  bool FActive = false;
  std::unique_ptr<TKzFFMpegEncode> Encode;
  TKzMediaSource* FVideoSource = nullptr;
  TKzMediaSource* FAudioSource = nullptr;
  std::string FOutputFileName, FRecordingFileName;
  int32_t FRestarts = 0;
  bool FUseVideo = true, FUseAudio = true;
  TKzVideoCodec FVideoCodec = TKzVideoCodec::kzvcDefault;
  std::string FVideoCodecName;
  int32_t FVideoBitrate = 800000;
  int32_t FVideoWidth = 720, FVideoHeight = 576;
  int32_t FVideoFramePerSec = 25;
  bool FVideoAutoSize = true;
  TKzAudioCodec FAudioCodec = TKzAudioCodec::kzacDefault;
  std::string FAudioCodecName;
  TKzSampleFormat FAudioSampleFormat = TKzSampleFormat::kzsfFloat;
  int32_t FAudioBitrate = 64000, FAudioSampleRate = 44100, FAudioChannels = 1;
  TKzMBitmap ResizeImg;
  std::atomic<bool> FIsFirstFrameReceived{false};
  // The incoming audio; the first block of a recording only sets it.
  TKzAudioInfo FInAudio{44100, TKzBitsPerSample::kzbps16, 1};
  bool FInAudioKnown = false;
};

}  // namespace kz
