// The local sources that make their own frames (capture devices, the
// desktop): the owner they report to, their common state and the frame loop
// of the sources that produce frames on a timer.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "video/fmxMKzCamControlTypes.h"

namespace kz {

// What a local source needs of the component it feeds (the camera).
class IKzCaptureOwner {
public:
  virtual ~IKzCaptureOwner() = default;
  // The frame hand-off, on the source's frame thread: Before answers whether
  // the owner takes a frame now; CamDrawImage copies it; After closes.
  virtual bool BeforeCamDrawImageFromWebCam() = 0;
  virtual void CamDrawImage(TKzMBitmap& Bitmap, double Time) = 0;
  virtual void AfterCamDrawImageFromWebCam() = 0;
  // Main thread (the source queues them): the stream is about to begin
  // (OnVideoStart and the consumers' begin), frames flow (OnStartVideoStream),
  // the stream ended with Status (0, 1 or a device error such as 1013).
  virtual void StartVideoStream() = 0;
  virtual void StartedVideoStream() = 0;
  virtual void DoneVideoStream(int32_t Status) = 0;
  virtual void ClearLastFrame() = 0;
  virtual void DeviceOperation(TKzDeviceOperation Operation, bool Done) = 0;
  // A debug text. Any thread, never blocks.
  virtual void CaptureDebug(const std::string& Text) = 0;
  // Why the stream ends with Status 1, told on the frame thread just before
  // that end is queued.
  virtual void CaptureFailed(const std::string& Reason) { CaptureDebug(Reason); }
};

class TKzCustomBase : public TKzBaseThread {
public:
  // The thread is created suspended; a subclass starts it (Launch) at the
  // end of its constructor and stops it (Shutdown) in its destructor.
  // Main thread, never blocks.
  TKzCustomBase(IKzCaptureOwner* Owner, std::string ThreadName);
  ~TKzCustomBase() override;

  // Starts frames (begin events first). Main thread, never blocks.
  virtual void PlayVideoStream();
  // Stops frames; the end is reported with Status 0. Main thread, never blocks.
  virtual void Stop();
  // Any thread, never blocks.
  virtual bool IsVideoPlaying() const { return FRunning.load(std::memory_order_acquire); }
  bool IsStopping() const { return FStopping.load(std::memory_order_acquire); }
  // The pause between frames: max(1, round(1000 / Fps)) ms. Any thread, never blocks.
  virtual void SetFramePerSec(double Fps);
  uint32_t FrameInterval() const { return FFrameInterval.load(std::memory_order_acquire); }

  // Settings (main thread; read by the frame thread).
  int32_t Brightness() const { return FBrightness; }
  void SetBrightness(int32_t Value) { FBrightness = Value; }
  int32_t Contrast() const { return FContrast; }
  void SetContrast(int32_t Value) { FContrast = Value; }
  int32_t ZoomPercent() const { return FZoomPercent.load(std::memory_order_acquire); }
  // 1..10000; anything else is ignored.
  void SetZoomPercent(int32_t Value);
  // The size of the frames now made. Any thread.
  int32_t VideoWidth() const { return FVideoWidth.load(std::memory_order_acquire); }
  int32_t VideoHeight() const { return FVideoHeight.load(std::memory_order_acquire); }
  void SetFlipHorizontally(bool Value);
  void SetFlipVertically(bool Value);
  void SetFlipHorizontallyFlipVertically(bool H, bool V);
  bool GetFlipHorizontally() const { return (FFlip.load(std::memory_order_acquire) & 1) != 0; }
  bool GetFlipVertically() const { return (FFlip.load(std::memory_order_acquire) & 2) != 0; }

protected:
  void Launch();
  // Stops the thread and waits for it; safe to call twice. Main thread.
  void Shutdown();
  // The frame loop; subclasses with a loop of their own override it.
  void DoExecute() override;
  // One frame (frame thread); false ends the stream with Status 1, Error saying why.
  virtual bool NextFrame(std::string& Error) {
    (void)Error;
    return true;
  }
  // The stream stopped: release what NextFrame opened (frame thread).
  virtual void StreamClosed() {}
  // Hands Bitmap to the owner when it takes frames now. Frame thread.
  void DeliverFrame(TKzMBitmap& Bitmap);
  // Runs Proc on the main thread later, unless this object is gone by then.
  // Any thread, never blocks.
  void PostToMain(std::function<void()> Proc);
  void Wake();

  IKzCaptureOwner* FOwner;
  TKzMBitmap FBitmap;  // the work bitmap of the frame thread
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FStopping{false};
  std::atomic<bool> FPlaying{false};  // frames flow
  std::atomic<int32_t> FVideoWidth{160}, FVideoHeight{120};
  uint64_t FStart = 0;  // tick of the stream's start (frame times)

private:
  void EndStream(int32_t Status);

  std::shared_ptr<std::atomic<bool>> FAlive;  // cleared by Shutdown; queued work checks it
  int32_t FBrightness = 96;
  int32_t FContrast = 4;
  std::atomic<int32_t> FZoomPercent{100};
  std::atomic<uint32_t> FFrameInterval{1000};
  std::atomic<uint8_t> FFlip{0};  // bit 0 horizontal, bit 1 vertical
  bool FShutdown = false;

  friend class TKzCustomWebCam;
};

}  // namespace kz
