// What the camera needs of the threads that fetch its video (HTTP and RTSP
// streams, Motion-JPEG files), and the one place where they are made.
//
// A fetch thread is created suspended, frees itself when it ends, and its
// end notification (OnTerminate, on the main thread) is the camera's
// ThreadDoneVideo, which reads Result() and clears the camera's reference.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "camera/fmxMKzCameraTypes.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

class TKzCamera;
class IKzCamFFmpegEngine;

enum class TKzCamStreamKind : uint8_t {
  kzcskHTTP = 0,       // Motion-JPEG over HTTP, or polled still images
  kzcskRTSP = 1,       // an RTSP session
  kzcskMJPEGFile = 2,  // a Motion-JPEG file played from disk
  kzcskMediaFile = 3,  // any other video file, played through the FFmpeg engine
};

// Whether a thread of Kind plays a file (its end is the file's end, never an outage).
inline bool KzIsFileStreamKind(TKzCamStreamKind Kind) {
  return Kind == TKzCamStreamKind::kzcskMJPEGFile || Kind == TKzCamStreamKind::kzcskMediaFile;
}

// Whether the file at Path needs the FFmpeg engine: it can be read, is not
// empty, and its first bytes (after blank space) are neither a JPEG start
// marker FF D8 nor a multipart boundary "--" (Motion-JPEG, which the
// built-in reader plays; it also reports unreadable and empty files). The
// content decides, not the name. The caller's thread; reads a few bytes.
bool KzFileNeedsEngine(const std::string& Path);

// Everything the camera hands a fetch thread when it creates one.
struct TKzCamStreamParams {
  TKzCamera* Camera = nullptr;
  std::string Agent;
  std::string URL;  // without credentials
  uint16_t Port = 0;
  uint16_t RTSPPort = 0;
  std::string UserName;
  std::string Password;
  TKzCamProgressEvent OnProgress;
  double FramePerSec = 25.0;
  // HTTP only: poll VideoImagesURLs in turn from VideoImageIndex on.
  bool CycleVideoImages = false;
  int32_t VideoImageIndex = 0;
  std::vector<std::string> VideoImagesURLs;
  // File only (URL holds it too).
  std::string FileName;
  // The camera has an OnDebugDataRead handler: post a debug text (message
  // 1034 to the camera) for every read.
  bool DebugDataRead = false;
};

// Base of the camera's fetch threads.
class TKzCamStreamThread : public TKzBaseThread {
public:
  // Creating thread; created suspended, frees itself when it ends.
  TKzCamStreamThread(TKzCamStreamKind Kind, std::string ThreadName);
  ~TKzCamStreamThread() override;

  TKzCamStreamKind Kind() const { return FKind; }

  // Requests the end: the terminate flag and the abort flag. Any thread, never blocks.
  void Abort() override;
  bool AbortRequested() const { return FTAbort.load(std::memory_order_acquire); }
  // Whether the run succeeded; the camera sets it for an abort, so that an
  // aborted stream ends with Status 0. Any thread, never blocks.
  bool Result() const { return FTResult.load(std::memory_order_acquire); }
  void SetResult(bool Value) { FTResult.store(Value, std::memory_order_release); }
  // Why the run failed (kind kzseNone when it did not, or was aborted). Set
  // by the thread at the point of failure; the camera reads it in the end
  // notification. Any thread, never blocks.
  TKzSourceError Error() const;
  void SetError(const TKzSourceError& Value);
  void SetError(TKzSourceErrorKind Kind, const std::string& Text);

  // A new frame rate (the pause between reads). Any thread, never blocks.
  virtual void SetFramePerSec(double Value) { (void)Value; }
  // HTTP: the next still image to poll. Main thread.
  virtual void SetVideoImageIndex(int32_t Value) { (void)Value; }
  virtual int32_t VideoImageIndex() const { return 0; }

  // HTTP: the thread moved to another still image; runs on the main thread
  // (the thread synchronises for it), read and written only there.
  std::function<void(TKzCamStreamThread* Sender)> OnChangeURLIndex;

protected:
  std::atomic<bool> FTAbort{false};
  std::atomic<bool> FTResult{false};

private:
  TKzCamStreamKind FKind;
  mutable std::mutex FErrorLock;  // guards FError
  TKzSourceError FError;
};

// Where the camera gets its fetch threads and learns which playback engines
// this build has. The built-in factory makes the library's own threads;
// programs and tests may install another one.
class IKzCamStreamFactory {
public:
  virtual ~IKzCamStreamFactory() = default;
  // A new suspended fetch thread, or nullptr when this build cannot fetch
  // that kind (the start is then ignored). Main thread, never blocks.
  virtual TKzCamStreamThread* CreateStreamThread(TKzCamStreamKind Kind, const TKzCamStreamParams& Params) = 0;
  // Whether the FFmpeg engine, GStreamer, can be used. Any thread, never block.
  virtual bool IsSupportedFFMPEG() = 0;
  virtual bool IsSupportedGStreamer() = 0;
  // A new FFmpeg engine object for a fetch thread of Camera (owned by the
  // caller), or nullptr when this build has none. Main thread, never blocks.
  virtual IKzCamFFmpegEngine* CreateFFmpegEngine(TKzCamera& Camera) {
    (void)Camera;
    return nullptr;
  }
  // The same for a thread of Kind; a factory that tells the kinds apart
  // overrides it. Main thread, never blocks.
  virtual IKzCamFFmpegEngine* CreateFFmpegEngineFor(TKzCamera& Camera, TKzCamStreamKind Kind) {
    (void)Kind;
    return CreateFFmpegEngine(Camera);
  }
};

// The factory in use. Main thread, never blocks.
IKzCamStreamFactory& KzCamStreamFactory();
// Installs a factory (nullptr: the built-in one); returns the previous one,
// nullptr when that was the built-in one. The caller keeps ownership.
// Main thread, never blocks.
IKzCamStreamFactory* KzSetCamStreamFactory(IKzCamStreamFactory* Factory);

}  // namespace kz
