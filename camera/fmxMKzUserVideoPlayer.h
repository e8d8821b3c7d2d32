// Device kzdtUserData: frames supplied by the application. A worker paces
// itself at the camera's frame rate; for every frame it asks the camera's
// OnNeedData, on the main thread, and hands what it gets to CamDrawImage.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamDevice.h"
#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

class TKzUserVideoThread;

class TKzUserVideoPlayer : public TKzCamDevice {
public:
  // Main thread, never blocks.
  explicit TKzUserVideoPlayer(TKzCamera& Camera);
  // Stops and waits for the worker. Main thread; blocks about a second at most.
  ~TKzUserVideoPlayer() override;

  // Starts the worker; a run that is still stopping is waited for first.
  // Without an OnNeedData handler the run ends at once with Status 1.
  // Main thread; blocks only while a previous run ends.
  void Run() override;
  // Main thread, never blocks.
  void Stop() override;
  bool IsRunning() const override { return FRunning; }
  bool IsStopping() const override { return FRunning && FStopping; }
  bool WaitStopped(uint32_t Interval) override;
  // Any thread, never blocks.
  void SetFramePerSec(double Value) override { FFramePerSec.store(Value, std::memory_order_release); }
  double FramePerSec() const { return FFramePerSec.load(std::memory_order_acquire); }

private:
  friend class TKzUserVideoThread;
  // Asks OnNeedData for the next frame. Main thread (the worker synchronises).
  uint32_t AskFrame(TKzMBitmap& Frame);
  // The worker's end notification. Main thread.
  void ThreadDone(TKzUserVideoThread* Thread);
  void DrawFrame(TKzMBitmap& Frame, double Time);

  TKzUserVideoThread* FThread = nullptr;  // owned; kept after its end until the next run
  // Main thread only.
  bool FRunning = false;
  bool FStopping = false;
  bool FClosing = false;
  bool FFirstFrame = false;
  std::atomic<double> FFramePerSec{25.0};
};

// The worker of one run.
class TKzUserVideoThread : public TKzBaseThread {
public:
  // Main thread; created suspended.
  explicit TKzUserVideoThread(TKzUserVideoPlayer& Player);
  // Any thread, never blocks: ends the pacing wait at once.
  void Abort() override;
  // Read by the end notification (main thread), after the run.
  bool Result() const { return FResult; }
  const std::string& Error() const { return FError; }

protected:
  void DoExecute() override;

private:
  // Waits until the tick count reaches Due (virtual clock included); false
  // when termination was requested meanwhile.
  bool SleepUntil(uint64_t Due);
  TKzUserVideoPlayer& FPlayer;
  TKzMBitmap FFrame;
  bool FResult = false;
  std::string FError;
};

}  // namespace kz
