#include "ffmpeg/fmxMKzFFmpegQueue.h"

#include <cmath>

#include "ffmpeg/fmxMKzFFmpeg.h"

namespace kz {

namespace {
constexpr size_t KzQueueFull = 10;
}

TKzFFmpegBitmapQueueThread::TKzFFmpegBitmapQueueThread(TKzMFFMPEG& Owner)
    : TKzBaseThread(true, "TKzFFmpegBitmapQueue"), FOwner(Owner) {}

TKzFFmpegBitmapQueueThread::~TKzFFmpegBitmapQueueThread() {
  Terminate();
  WaitForEnd(INFINITE);
}

void TKzFFmpegBitmapQueueThread::AddBitmap(TKzMBitmap& Bitmap, double Pts) {
  {
    std::lock_guard<std::mutex> g(FBitmapsLock);
    FBitmaps.push_back({TKzMBitmap(), Pts});
    TKzMBitmap& queued = FBitmaps.back().Bitmap;
    if (!FSpare.empty()) {
      queued.SwapPixels(FSpare.back());
      FSpare.pop_back();
    }
    queued.SwapPixels(Bitmap);  // Bitmap gets the spare pixels
  }
  FNewBitmapEvent.SetEvent();
}

void TKzFFmpegBitmapQueueThread::Recycle(TKzMBitmap& Bitmap) {
  if (Bitmap.IsEmpty()) return;
  std::lock_guard<std::mutex> g(FBitmapsLock);
  if (FSpare.size() > KzQueueFull) return;
  FSpare.emplace_back();
  FSpare.back().SwapPixels(Bitmap);
}

bool TKzFFmpegBitmapQueueThread::PopBitmap(TKzMBitmap& Bitmap, double& Pts) {
  std::lock_guard<std::mutex> g(FBitmapsLock);
  if (FBitmaps.empty()) return false;
  FPresenting = true;
  std::swap(Bitmap, FBitmaps.front().Bitmap);
  Pts = FBitmaps.front().Pts;
  FBitmaps.pop_front();
  return true;
}

bool TKzFFmpegBitmapQueueThread::IsFull() {
  std::lock_guard<std::mutex> g(FBitmapsLock);
  return FBitmaps.size() >= KzQueueFull;
}

bool TKzFFmpegBitmapQueueThread::IsEmpty() {
  std::lock_guard<std::mutex> g(FBitmapsLock);
  return FBitmaps.empty() && !FPresenting;
}

void TKzFFmpegBitmapQueueThread::TerminatedSet() {
  TKzBaseThread::TerminatedSet();
  FNewBitmapEvent.SetEvent();  // a stop wakes the wait
}

void TKzFFmpegBitmapQueueThread::DoExecute() {
  // Pictures are shown on time or not at all: on a busy machine others wait
  // first (best effort). At five nice steps the wake-ups still came 50-60 ms
  // late under a load of 20 on two cores; at ten they keep time.
  TThread::RaisePriority(10);
  bool first = true;
  TKzMBitmap picture;
  double pts = 0;
  while (!Terminated()) {
    FPresenting = false;
    if (!PopBitmap(picture, pts)) {
      FNewBitmapEvent.WaitFor(INFINITE);
      FNewBitmapEvent.ResetEvent();
      if (!Terminated()) {
        std::lock_guard<std::mutex> g(FBitmapsLock);
        if (!FBitmaps.empty()) FNewBitmapEvent.SetEvent();  // added between the pop and the reset
      }
      continue;
    }
    double wait = FOwner.ComputeVideoFrameDelay(pts);
    const bool drop = FOwner.ShouldDropFrame(wait, first);
    first = false;
    if (!drop) {
      // Sleeps overshoot rather than undershoot: wake at the whole
      // millisecond before the due time, never after it.
      const long waitMs = long(std::floor(wait * 1000));
      if (waitMs > 1 && !SleepUnlessTerminated(uint32_t(waitMs))) break;
      if (FOwner.OnNewImage) FOwner.OnNewImage(&FOwner, picture, pts);
    }
    Recycle(picture);
  }
  FPresenting = false;
}

}  // namespace kz
