// TKzMFFMPEG plays a network stream (RTSP, HTTP) or a media file through the
// FFmpeg libraries: every decoded picture goes to the owner as a BGRA
// bitmap, decoded audio as 8- or 16-bit PCM, and the compressed packets can
// be copied unchanged into a file while it plays (remuxing).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ffmpeg/fmxMKzFFmpegEncodeTypes.h"
#include "ffmpeg/fmxMKzFFmpegTypes.h"
#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzSourceError.h"
#include "video/fmxMKzDecodeSize.h"

struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVRational;
struct AVStream;
struct SwrContext;
struct SwsContext;

namespace kz {

class TKzFFmpegBitmapQueueThread;
struct TKzFFmpegEncodeState;

// Audio clock, seconds.
struct TKzMAudioTimerInfo {
  double PtsStart = 0, Pts = 0, PtsNext = 0, TimerStart = 0, Timer = 0, PlaybackTimerStart = 0, PlaybackTimer = 0;
  // Whether a frame has come, and whether the output has told its position:
  // both start at 0, which cannot mean "not yet".
  bool Started = false, PlaybackStarted = false;
};
// Video clock, seconds.
struct TKzMVideoTimerInfo {
  double Pts = 0, LastPts = 0, VideoClock = 0, Timer = 0, LastTime = 0, LastDelay = 0;
};

class TKzMFFMPEG {
public:
  // Owner is handed to the events as their Sender. Any thread.
  explicit TKzMFFMPEG(void* Owner = nullptr);
  // Not while PlayVideo runs. The owning thread.
  ~TKzMFFMPEG();
  TKzMFFMPEG(const TKzMFFMPEG&) = delete;
  TKzMFFMPEG& operator=(const TKzMFFMPEG&) = delete;

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  // Plays URL until it ends, fails, is aborted or OnNewImage returns false;
  // does nothing without FFmpeg or when not idle. The calling thread; blocks.
  void PlayVideo(const std::string& URL);
  // Ends PlayVideo within about a second (a blocked open or read included).
  // Any thread, never blocks.
  void Abort();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  bool IsStart() const { return State() == TKzFFMState::kzffmsStarting; }
  bool IsPlaying() const { return State() == TKzFFMState::kzffmsPlaying; }
  TKzFFMState State() const { return FState.load(std::memory_order_acquire); }
  void* GetOwner() const { return FOwner; }
  // The last FFmpeg result, or the error code (1–36) of a reported failure.
  // Read by the owner after PlayVideo returns.
  int32_t Err() const { return FErr.load(std::memory_order_acquire); }
  void SetErr(int32_t Value) { FErr.store(Value, std::memory_order_release); }
  // The last result FFmpeg itself gave for opening or reading (0 when none),
  // kept when Err is replaced by an error code.
  int32_t FFmpegResult() const { return FFFmpegResult.load(std::memory_order_acquire); }
  // Why the last PlayVideo ended, in the words every video source uses.
  TKzSourceError SourceError() const;
  // Sets the custom name=value option lines. Before PlayVideo.
  void SetCustomProperties(const std::vector<std::string>& List) { Options.CustomProperties = List; }

  // Starts (Active) or stops writing to FileName at the next video key frame.
  // Any thread.
  void ChangeRemuxing(bool Active, const std::string& FileName);
  // Finishes the remux file. The playing thread (or with nothing playing).
  void DoneRemuxing();
  TKzRemuxState RemuxState();

  // Pacing, shared with the presentation queue. The playing thread or the queue's.
  // The wait in seconds before the picture of time Pts is due.
  double ComputeVideoFrameDelay(double Pts);
  // Applies the drop rule to Wait; true when the picture is to be dropped.
  bool ShouldDropFrame(double& Wait, bool First);

  // Settings, before PlayVideo.
  TKzFFmpegOptions Options;
  bool Remuxing = false;       // guarded by Lock once playing
  std::string RemuxFileName;   // guarded by Lock once playing

  // Events; Sender is the owner (the engine object for OnGetAudio and for
  // OnNewImage raised by the presentation queue). They run on the playing
  // thread or the queue's.
  std::function<void(void* Sender, TKzFFMState State)> OnChangeState;
  std::function<void(void* Sender, int32_t ErrorCode, const std::string& Text)> OnError;
  std::function<void(void* Sender)> OnStopped, OnAborted, OnStartPlay;
  // Img may come back holding other pixels (a consumer that took them over):
  // the engine refills it at its own size.
  std::function<bool(void* Sender, TKzMBitmap& Img, double Time)> OnNewImage;
  // Asked once per decoded picture: the size pictures are wanted at (full:
  // the stream's). Unless UseVideoScale sets a size, the scaler goes
  // straight to the smallest size with the stream's aspect that covers it,
  // and the picture records its source size.
  std::function<TKzDecodeSize()> OnGetPictureSize;
  std::function<void(void* Sender, int64_t& Position)> OnGetAudioPlayPositon;
  std::function<void(void* Sender, const std::string& ARealm, std::string& AUserName, std::string& APassword,
                     bool& Proceed)>
      OnLogin;
  std::function<void(void* Sender, const std::string& AURL)> OnLoginFailed;
  std::function<void(void* Sender, int32_t StreamCount, int32_t& StreamIndex)> OnGetVideoStreamIndex,
      OnGetAudioStreamIndex;
  TKzAudioEvent OnGetAudio;
  // Each packet of the video stream as read, before it is decoded, with the
  // stream's codec parameters and time base. The playing thread.
  std::function<void(const AVPacket& Packet, const AVCodecParameters& Codec, const AVRational& TimeBase)> OnVideoPacket;

  // Encoding half: pictures and audio into a file. One thread encodes at a
  // time; each call takes the object's lock.
  TKzFFmpegEncodeSettings EncodeSettings;  // before VideoEncodeFile
  // Opens FileName (its extension chooses the container, "mpeg" when none
  // does) with the streams and encoders of EncodeSettings and writes the
  // header. False after a failure reported through OnError.
  bool VideoEncodeFile(const std::string& FileName);
  // One step: the picture of time VideoPts (in frame periods), taken from
  // OnNextVideoFrame (black when it gives none), then audio frames while the
  // audio lags the next picture's time and a whole frame can be had from
  // OnNextAudioFragment. False once writing has failed.
  bool EncodeVideoFrameAndAudio(int64_t VideoPts);
  // Every whole audio frame that OnNextAudioFragment can supply (audio-only
  // files fed at their own pace). False once writing has failed.
  bool EncodeAvailableAudio();
  // Flushes the audio remainder and both encoders, writes the trailer and
  // closes the file. Nothing when no file is open.
  void VideoEncodeDeinit();
  // The incoming audio changes format before any of it was queued (the
  // resampler is set up again). False when it cannot be converted.
  bool ChangeIncomingAudio(const TKzAudioInfo& Info);
  bool IsEncoding();
  bool HasVideoStream();
  bool HasAudioStream();
  int32_t GetOutputVideoWidth();
  int32_t GetOutputVideoHeight();
  int32_t GetOutputAudioSampleRate();
  TKzFFmpegEncodeStats EncodeStats();
  // The picture converted (and scaled) into Frame. Inside OnNextVideoFrame.
  bool PictureToEncoderFrame(const TKzMBitmap& Picture, AVFrame* Frame);
  // Bytes the audio supply may hand over at once.
  int32_t AudioFragmentCapacity();
  // Fills Frame with the next picture (PictureToEncoderFrame); false: none yet.
  std::function<bool(AVFrame* Frame)> OnNextVideoFrame;
  // Copies up to Samples sample frames of the incoming format into Buffer
  // (AudioFragmentCapacity bytes) and answers how many it gave: all asked
  // for, or with Flush what is left; 0 when fewer are there.
  std::function<void(uint8_t* Buffer, int32_t& Samples, bool Flush)> OnNextAudioFragment;
  // A setting the encoder could not take and what it took instead (once per file).
  std::function<void(void* Sender, const std::string& Text)> OnEncodeNotice;

  // Statistics.
  int64_t DecCurTime() const { return FDecCurTime.load(); }
  int32_t FrameDropCount() const { return FFrameDropCount; }
  // Frame delays (ms) of the last MaxCountFrame pictures, oldest first.
  std::vector<int32_t> FrameDelays();

private:
  friend class TKzFFmpegBitmapQueueThread;
  static int InterruptCallback(void* Self);
  void NoteResult(int32_t Result) {
    SetErr(Result);
    FFFmpegResult.store(Result, std::memory_order_release);
  }
  void SetState(TKzFFMState Value);
  void ShowError(int32_t Code, const std::vector<std::string>& Args = {});
  bool PerformOpenFile(const std::string& URL);
  bool InitDecode(const std::string& URL);
  AVCodecContext* OpenDecoder(int Index, const std::string& Name, int MediaType);
  bool PrepareAudioConversion();
  void DoneDecode();
  // One packet read (false at the end or on an error), its video decoded
  // and each picture handed to Present, the packet remuxed and released.
  bool ReadPacket();
  bool DecodeVideoPacket(bool (TKzMFFMPEG::*Present)());
  bool FinishPacket(bool GoOn);
  bool ReadAndProcessVideoFrame();
  bool ReadAndProcessVideoFrame_WithSound();
  int SendPacket(AVCodecContext* Ctx);
  bool ShowVideoFrame();
  bool QueueVideoFrame();
  void DrainDecoders();
  bool FrameToPicture();
  bool InitOutputPictureForDecode();
  void UpdateVideoClock();
  void DeliverAudioFrame();
  void UpdateAudioClock();
  // The stream time (seconds) of the sound leaving the output now, once this
  // stream's sound is playing there; false before that, when the output
  // stopped moving since the last ask (the sound ended or ran dry) or without
  // a position. Asks the output itself, so any thread.
  bool AudioPlayedClock(double& Seconds);
  bool SleepUnlessAborted(int Ms);
  void NoteFrameDelay(double Wait);
  // Encoding (fmxMKzFFmpegEncode*.cpp).
  void ReportEncodeError(int32_t Code, const std::vector<std::string>& Args = {}, const std::string& Detail = {});
  bool OpenVideoEncoder(AVFormatContext* Out);
  bool OpenAudioEncoder(AVFormatContext* Out);
  bool OpenResampler();
  bool OpenEncodedFile(const std::string& FileName);
  bool SendAndWrite(AVCodecContext* Ctx, AVStream* Stream, AVFrame* Frame);
  bool EncodeVideoStep(int64_t VideoPts);
  bool PullAudio(int32_t Wanted, bool Flush);
  bool EncodeAudioFrame(bool Flush);
  void FreeEncoder();
  std::unique_ptr<TKzFFmpegEncodeState> FEnc;
  // Remuxing (fmxMKzFFmpegRemux.cpp).
  void BeginRemuxing();
  bool InitRemuxing();
  bool RemuxPacket();
  void ClearRemuxData();

  void* FOwner;
  std::atomic<TKzFFMState> FState{TKzFFMState::kzffmsInit};
  bool FActiveNoDelay = false;
  std::recursive_mutex FLock;  // remuxing state and the frame-delay statistics
  std::vector<int32_t> FFrameDelays;
  int32_t CountFrame = 0;
  TKzMBitmap img;
  AVFormatContext* FFormatContext = nullptr;
  AVCodecContext* FVideoCodec = nullptr;
  AVCodecContext* FAudioCodec = nullptr;
  AVPacket* FPacket = nullptr;
  SwrContext* FAudioConvert = nullptr;
  int FVideoStreamIndex = -1, FAudioStreamIndex = -1;
  AVStream* FVideoStream = nullptr;
  AVStream* FAudioStream = nullptr;
  AVFrame* FFrame = nullptr;
  SwsContext* FScaler = nullptr;
  int FInWidth = 0, FInHeight = 0, FInFormat = -1, FOutWidth = 0, FOutHeight = 0;
  void OutputSizeFor(int& Width, int& Height);
  bool IsDecodeStart = false;
  bool FDecVideoWithAudio = false;
  bool FDecConvertAudio = false;
  std::vector<uint8_t> FAudioBuffer;
  TKzMAudioTimerInfo FAudioTimerInfo;
  TKzMVideoTimerInfo FVideoTimerInfo;
  std::unique_ptr<TKzFFmpegBitmapQueueThread> FFrameQueue;
  std::atomic<int32_t> FAudioTimerCorrection{0};  // ms the wall clock runs ahead of the audio played
  // Where this stream's first sound lies on the output: its time and the
  // output's position then (−1 before any sound), and the position last
  // seen. Under FAudioClockLock.
  struct TKzAudioClockOrigin {
    double Pts = 0;
    int64_t Position = -1;
    int32_t SampleRate = 0;
    int64_t LastSeen = -1;
  };
  std::mutex FAudioClockLock;
  TKzAudioClockOrigin FAudioClockOrigin;
  // Remuxing, under FLock.
  AVFormatContext* RemuxFormatContext = nullptr;
  std::vector<int> RemuxStreams;  // input stream → output stream, −1 none
  std::vector<int64_t> RemuxStartPts, RemuxStartDts;
  TKzRemuxState FRemuxState = TKzRemuxState::kzrsIdle;
  bool FRemuxWriteError = false;
  std::atomic<int32_t> FErr{0};
  std::atomic<int32_t> FFFmpegResult{0};
  bool FNetwork = false;       // the input is not a local file
  bool FStalled = false;       // the stall watch ended a read
  bool FEndedByAbort = false;  // the last PlayVideo ended because of Abort
  std::string FErrorText;      // of the last reported error
  std::atomic<int64_t> FDecCurTime{0};
  int32_t FFrameDropCount = 0;
  std::atomic<bool> FTerminated{false};
  std::atomic<int64_t> FLastActivity{0};  // µs of the last packet, for the stall watch
  std::mutex FSleepLock;
  std::condition_variable FSleepWake;
  // Input audio description.
  int InAudioSampleFormat = -1, FInAudioSampleFormatConverted = -1;
  int32_t InAudioSampleRate = 0, InAudioChannels = 0, InAudioChannelsConverted = 0;
  TKzBitsPerSample InAudioBitsPerSample = TKzBitsPerSample::kzbps16;
};

// FFmpeg's result code for an end of input.
int32_t KzFFmpegEndOfFile();

}  // namespace kz
