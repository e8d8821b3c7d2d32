// The presentation queue of an FFmpeg player that plays video with audio:
// decoded pictures wait here and are shown at their time, following the
// audio clock, by a thread of their own.
#pragma once
#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

class TKzMFFMPEG;

class TKzFFmpegBitmapQueueThread : public TKzBaseThread {
public:
  // Created suspended by its owner, which starts, stops and frees it.
  explicit TKzFFmpegBitmapQueueThread(TKzMFFMPEG& Owner);
  ~TKzFFmpegBitmapQueueThread() override;
  // Queues Bitmap's picture with its time (seconds), taking its pixels over:
  // Bitmap comes back holding a shown picture's pixels (or empty), to be
  // refilled by the next one. The owner's thread.
  void AddBitmap(TKzMBitmap& Bitmap, double Pts);
  // Takes the oldest picture; false when none waits. Any thread.
  bool PopBitmap(TKzMBitmap& Bitmap, double& Pts);
  // From 10 queued pictures on the player waits before decoding more. Any thread.
  bool IsFull();
  bool IsEmpty();

protected:
  void DoExecute() override;
  void TerminatedSet() override;

private:
  struct TItem {
    TKzMBitmap Bitmap;
    double Pts;
  };
  TKzMFFMPEG& FOwner;
  std::mutex FBitmapsLock;  // guards FBitmaps
  std::deque<TItem> FBitmaps;
  std::vector<TKzMBitmap> FSpare;  // pixels of shown pictures, for the next ones; under FBitmapsLock
  // Keeps Bitmap's pixels for a later AddBitmap. Any thread.
  void Recycle(TKzMBitmap& Bitmap);
  std::atomic<bool> FPresenting{false};  // a popped picture is not shown yet
  TEvent FNewBitmapEvent{true, false};
};

}  // namespace kz
