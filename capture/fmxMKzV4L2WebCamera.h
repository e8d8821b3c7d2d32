// The capture-device camera on V4L2. Three threads meet here: the caller
// (main thread) posts start and stop commands; the object's own command
// thread opens, starts and stops the device; a streaming thread waits in
// poll(2) for frames (and on a wake descriptor, so a stop takes effect at
// once), converts each under the frame lock and hands it to the owner. A
// frame that meets a held frame lock is dropped. Device errors end the
// stream: 1013 when it cannot start or is lost while streaming (ENODEV),
// 1014 when it cannot stop.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/fmxMKzCaptureFrame.h"
#include "capture/fmxMKzCustomWebCam.h"
#include "platform/fmxMKzPlatformThread.h"

namespace kz {

constexpr int32_t KzWebCamErrorStart = 1013;
constexpr int32_t KzWebCamErrorStop = 1014;

class TKzV4L2StreamThread;

class TKzWebCam : public TKzCustomWebCam {
public:
  // Starts the command thread. Main thread, never blocks.
  explicit TKzWebCam(IKzCaptureOwner* Owner);
  // Stops the stream and the threads, closes the device. Main thread;
  // blocks about a second at most.
  ~TKzWebCam() override;

  void FillVideoDeviceList() override;
  // Opens the selected device's controls. Main thread, never blocks.
  bool SetVideoDevice() override;
  void DestroyVideoDevice() override;
  // Queue a start or a stop for the command thread. Main thread, never block.
  void RunVideo() override;
  void StopVideo() override;
  // Running from RunVideo until the stop is reported. Any thread.
  bool IsVideoPlaying() const override { return FRunning.load(std::memory_order_acquire) || IsStopping(); }

  // The device's node while it streams. Any thread.
  std::string DevicePath() const;
  // Frames dropped because the frame lock was held. Any thread.
  uint64_t DroppedFrames() const { return FDropped.load(std::memory_order_acquire); }
  // The lock that frame conversion takes without waiting. Any thread.
  TCriticalSection& FrameLock() { return FFrameLock; }

  // The device work, on the command thread.
  void PlayVideoStream() override;
  void Stop() override;

protected:
  void DoExecute() override;  // the command loop
  bool PropertyRange(TKzWebCamProperty P, TKzWebCamPropertyRange& Range) override;
  bool ReadProperty(TKzWebCamProperty P, int32_t& Value) override;
  bool WriteProperty(TKzWebCamProperty P, int32_t Value) override;
  bool ReadAuto(TKzWebCamProperty P, bool& Auto) override;
  bool WriteAuto(TKzWebCamProperty P, bool Auto) override;
  bool CanStepAxis(TKzWebCamProperty P) override;
  bool StepAxis(TKzWebCamProperty P, int Sign) override;
  bool ResetAxis(TKzWebCamProperty P) override;

private:
  friend class TKzV4L2StreamThread;
  struct TBuffer {
    void* Addr = nullptr;
    size_t Length = 0;
  };
  // Opens the device in the chosen mode with mapped, queued buffers;
  // false with Error. Command thread.
  bool OpenStream(const std::string& Id, std::string& Error);
  void CloseStream();
  // The streaming thread's loop.
  void StreamLoop(TKzV4L2StreamThread& Thread);
  void HandleFrame(uint32_t Index, uint32_t BytesUsed);
  // The stream ends with Status; the command thread stops it. Any thread.
  void EndWithError(int32_t Status, const std::string& Text);
  void SetCommand(TKzWebCamInternalCommand Command);
  bool QueryControl(uint32_t Id, TKzWebCamPropertyRange& Range);
  bool SetControl(uint32_t Id, int32_t Value);

  std::mutex FCommandLock;  // guards FCommand and FEndStatus
  TKzWebCamInternalCommand FCommand = TKzWebCamInternalCommand::kzwcicNone;
  int32_t FEndStatus = 0;   // the first error of the current stream

  TCriticalSection FFrameLock;  // frame conversion against stop
  int FControlFd = -1;          // main thread: the selected device's controls
  // Command thread (the streaming thread reads them while it runs):
  int FFd = -1;
  int FWakeFd = -1;
  std::vector<TBuffer> FBuffers;
  uint32_t FPixelFormat = 0, FBytesPerLine = 0;
  int32_t FWidth = 0, FHeight = 0;
  TKzV4L2StreamThread* FStream = nullptr;
  mutable std::mutex FPathLock;
  std::string FPath;
  // Streaming thread:
  TKzCaptureScratch FScratch;
  std::string FLastFrameError;
  std::atomic<uint64_t> FDropped{0};
};

class TKzV4L2StreamThread : public TKzBaseThread {
public:
  explicit TKzV4L2StreamThread(TKzWebCam& Cam) : TKzBaseThread(true, "TKzV4L2Stream"), FCam(Cam) {}

protected:
  void DoExecute() override { FCam.StreamLoop(*this); }

private:
  TKzWebCam& FCam;
};

}  // namespace kz
