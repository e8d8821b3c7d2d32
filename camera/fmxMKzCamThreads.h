// The threads a camera creates to bring video in: the Motion-JPEG reader
// over HTTP (streams and polled still images), the RTSP session thread, and
// the Motion-JPEG file player. The network threads can hand the whole stream
// to the FFmpeg engine instead of reading it themselves.
//
// None of them decodes JPEG data: they copy raw bytes into the camera's
// frame pipeline, whose decoder finds the frames between the markers FF D8
// and FF D9. Frames decoded by the engine go to the camera's CamDrawImage.
//
// Each thread is created suspended on the main thread, started by the
// camera, and frees itself when it ends; its end notification (the camera's
// ThreadDoneVideo) reads Result(). It reaches the main thread only through
// synchronised calls (progress, login prompts, index changes, file start)
// and posted debug texts.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/fmxMKzCamEngine.h"
#include "camera/fmxMKzCamStreamThread.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

class TKzCamera;

// Common base of the HTTP and RTSP fetch threads.
class TKzCamThreadWithFFMPEG : public TKzCamStreamThread {
public:
  // Creates the engine object when the factory offers FFmpeg, the camera's
  // UseFFMpeg is set and MayUseEngine. Main thread, never blocks.
  TKzCamThreadWithFFMPEG(TKzCamStreamKind Kind, std::string ThreadName, const TKzCamStreamParams& Params,
                         bool MayUseEngine);
  // Waits while the engine is still playing. The thread that frees it.
  ~TKzCamThreadWithFFMPEG() override;

  // Sets the abort flag (every network wait ends at its next check) and
  // aborts the engine. Any thread, never blocks.
  void Abort() override;
  // SleepMSec := round(1000 / Value). Any thread, never blocks.
  void SetFramePerSec(double Value) override;
  int32_t SleepMSec() const { return FSleepMSec.load(std::memory_order_acquire); }
  // Whether the engine plays the stream (tools, tests). Any thread.
  bool IsFFmpegRunning() const { return FIsFFmpegRunning.load(std::memory_order_acquire); }
  bool HasEngine() const { return ffMPEG != nullptr; }
  const std::string& URL() const { return FTURL; }

protected:
  // The thread start: the engine when there is one (and the own reader as a
  // fallback for Motion-JPEG), else the own reader. The owning worker.
  void DoExecute() override;
  // The thread's own reader. The owning worker.
  virtual void Run() = 0;
  void RunWithFFmpeg();

  // Synchronised calls: run on the main thread while this thread waits.
  // Exceptions thrown there are caught. The owning worker.
  void Progress();
  // Asks the camera for credentials (server or proxy); true when new ones
  // were given, and then UserName/Password (ProxyUserName/ProxyPassword) hold them.
  bool GetLogin(const std::string& Realm);
  bool GetProxyLogin(const std::string& Realm);
  // No more frames from the engine.
  void StopVideo();
  // Posts the debug text of one read (message 1034 to the camera).
  void Debug();

  bool Aborted() const { return AbortRequested() || Terminated(); }
  // Sets the run's result unless the owner aborted the thread (an aborted
  // stream keeps the success the owner gave it). The owning worker.
  void SetOwnResult(bool Value);
  // "host" or "host:port" of a manually set proxy; empty without one.
  std::string ProxyText() const;
  // Hands Count bytes to the camera's frame pipeline and holds back while
  // the pipeline has too much waiting (until abort). The owning worker.
  void CopyToPipeline(const void* Buffer, int64_t Count);
  // Sleeps Ms unless aborted first; false when aborted.
  bool Pause(uint32_t Ms);
  // Closes the request, connection and session levels of the record.
  void CloseHandles();

  std::atomic<bool> FIsFFmpegRunning{false};
  PInet hSession = nullptr, hRequest = nullptr, hConnect = nullptr;
  std::string FTAgent;
  std::string FTURL;
  std::string HostName;
  std::string CurFileName;
  TKzCamProgressEvent FTProgress;
  uint32_t BytesToRead = 0;
  uint32_t BytesRead = 0;
  uint16_t FHTTPPort = 0, FRTSPPort = 0;
  std::atomic<int32_t> FSleepMSec{40};
  TMemoryStream mData;
  bool FLoginResult = false;
  TKzCamera* KzCamera;
  std::unique_ptr<IKzCamFFmpegEngine> ffMPEG;
  std::string UserName, Password;
  std::string ProxyUserName, ProxyPassword;
  bool OnDebugDataRead = false;  // the camera has a debug handler

  // Camera settings taken when the thread is made (the thread reads no
  // camera field later).
  TKzTimeOut FMJPEGTimeOut = TKzTimeOut::kztMedium;
  TKzTimeOut FSearchRTSPTimeOut = TKzTimeOut::kztMedium;
  TKzMFProxyMode FProxyMode = TKzMFProxyMode::kzmNoProxy;
  std::string FProxyHost;
  int32_t FProxyPort = 0;
  bool FLoginPrompt = false;
  bool FVideoFormatMJPEG = true;
  TKzOnLoginFailedEvent FOnLoginFailed;
  TKzGetMediaStreamIndexEvent FOnGetVideoStreamIndex;
  TKzCamEngineSettings FEngineSettings;

private:
  std::atomic<bool> FAbortedByOwner{false};
  std::atomic<bool> FEngineFrames{true};  // the engine's frames are drawn
};

// Reads a Motion-JPEG stream over HTTP, or polls still images (in turn
// through VideoImagesURLs when CycleVideoImages is set).
class TKzCamHTTPGetThread : public TKzCamThreadWithFFMPEG {
public:
  // Main thread, never blocks.
  explicit TKzCamHTTPGetThread(const TKzCamStreamParams& Params);

  // Stops reporting index changes (main thread), then aborts. Never blocks.
  void Abort() override;
  // The next still image to poll. Any thread, never blocks.
  void SetVideoImageIndex(int32_t Value) override;
  int32_t VideoImageIndex() const override { return FVideoImageIndex.load(std::memory_order_acquire); }
  bool CycleVideoImages() const { return FCycleVideoImages; }

protected:
  void Run() override;

private:
  // After a body: the next request, a new connection at once (the stream
  // broke after it had started), or the end of the run (the reason is set).
  enum class TBodyEnd : uint8_t { kzbeNext, kzbeReconnect, kzbeStop };
  // Reads the body of the current reply (to Path) into the pipeline.
  TBodyEnd ReadBody(const std::string& Path);
  // Notes the reason of the run's end unless the thread was aborted.
  void Fail(const TKzSourceError& Error);
  // "host:port" for reasons; never credentials.
  std::string PeerText() const;
  TKzSourceError LoginError(uint32_t Status) const;
  // Why the reply to Path is no video by its content type; "" when it may be.
  std::string NotVideoReason(const std::string& Path) const;
  // No bytes for this long ends a connection: at least 3 frame intervals.
  uint64_t FrameTimeOutMs() const;
  void NoteData(uint64_t Now);
  // The request path of the next request (advancing the still-image index).
  std::string NextPath(const std::string& Path);
  void ChangeURLIndex();
  // Waits until the next read is due (SleepMSec after the previous one);
  // a read less than Early ms before it is due goes ahead.
  void PaceRead(uint64_t Early);
  // Answers a 401 or 407: true to reissue the request, false to end.
  bool AnswerLogin(bool Proxy, int32_t& AttemptsLeft);

  bool FCycleVideoImages;
  std::atomic<int32_t> FVideoImageIndex;
  const std::vector<std::string> VideoImagesURLs;  // a copy of the camera's list
  // Bad frames reported by the decoder in the current connection.
  int32_t FErrorCount = 0;
  uint64_t FLastErrorTick = 0;
  uint64_t FLastReadTick = 0;  // pacing mark
  uint64_t FLastDataTick = 0;  // last bytes of the body
  double FFrameIntervalMs = 0; // measured gap between bursts (frames)
};

// Runs an RTSP session on its own (OPTIONS, DESCRIBE, SETUP of the channels
// that have client ports, PLAY) and keeps it until aborted (TEARDOWN); the
// media themselves come through the FFmpeg engine.
class TKzCamRTSPChannelThread;
class TKzCamRTSPGetThread : public TKzCamThreadWithFFMPEG {
public:
  // Main thread, never blocks.
  explicit TKzCamRTSPGetThread(const TKzCamStreamParams& Params);
  ~TKzCamRTSPGetThread() override;
  // Also wakes the thread from the wait of a playing session. Any thread, never blocks.
  void Abort() override;

  // Client ports and channel indices; set on the main thread before the start.
  int32_t VideoClientPort = 0;
  int32_t AudioClientPort = 0;
  int32_t VideoChannel = 0;
  int32_t AudioChannel = 0;

protected:
  void Run() override;

private:
  bool StartChannel(int32_t Channel, TKzRTSPTypeMedia Media);
  void StopChannel(int32_t Channel);
  TKzCamRTSPChannelThread* VideoThread = nullptr;
};

// The thread of one playing RTSP channel. It holds the channel's record for
// a receiver of its media; on its own it only waits until it is stopped.
class TKzCamRTSPChannelThread : public TKzBaseThread {
public:
  // The session thread; created suspended.
  TKzCamRTSPChannelThread(TKzCamera* Camera, const TKzMChannelRTSP& AChannel);
  void Abort() override;

  TKzCamera* KzCamera;
  const TKzMChannelRTSP Channel;

protected:
  void DoExecute() override;
};

// Plays a video file (MP4, Matroska, AVI, anything FFmpeg reads) through the
// FFmpeg engine, once, at the file's own pace. Its end is the file's end:
// success when the engine read the file to its end.
class TKzCamFileGetThread : public TKzCamThreadWithFFMPEG {
public:
  // Main thread, never blocks.
  explicit TKzCamFileGetThread(const TKzCamStreamParams& Params);

protected:
  // Without the engine there is nothing to play the file with.
  void Run() override;
};

// Plays a Motion-JPEG file (concatenated JPEG frames, with or without
// multipart headers) through the camera's frame pipeline in file mode.
class TKzMJPEGMedia : public TKzCamStreamThread {
public:
  // Main thread, never blocks.
  explicit TKzMJPEGMedia(const TKzCamStreamParams& Params);
  ~TKzMJPEGMedia() override;
  // Any thread, never blocks.
  void Abort() override;
  void SetFramePerSec(double Value) override;
  double FramePerSec() const { return FFramePerSec.load(std::memory_order_acquire); }
  // The pause between two pieces of the file, ms: round(800 / FramePerSec).
  int32_t PauseMSec() const;

  const std::string Filename;

protected:
  void DoExecute() override;

private:
  void Play();
  // The pipeline decoded everything handed over in file mode.
  struct TEndState;
  std::shared_ptr<TEndState> FEnd;

  uint32_t BytesToRead = 0;
  TKzCamera* KzCamera;
  std::unique_ptr<TFileStream> FileStream;
  std::atomic<double> FFramePerSec{25.0};
  bool OnDebugDataRead = false;
};

// The size of the first complete JPEG frame from the stream's position: the
// first end marker FF D9, then the first start marker FF D8 before it. The
// stream is left at that start marker. False, with the position unchanged,
// when there is none (at most MaxScan bytes are looked at). The caller's thread.
bool KzMJPEGFirstFrameSize(TStream& Stream, int64_t& Size, int64_t MaxScan = 64 << 20);

}  // namespace kz
