// One source published by the HTTP video server: a view consumer that keeps
// a copy of the source's newest frame, and the newest JPEG encoding of it
// that every client of the source shares. Frames wait here until the
// server's encoder wants them; one that is not wanted before the next
// arrives is replaced, so the source is never held up.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzConsumers.h"

namespace kz {

class TKzVideoSource;

// One encoded frame, shared by every client that sends it.
struct TKzHttpJpeg {
  uint64_t Number = 0;  // encodings of the source so far, from 1
  std::string Bytes;
  int32_t Width = 0, Height = 0;
};
using TKzHttpJpegRef = std::shared_ptr<const TKzHttpJpeg>;

class TKzHttpSourceSlot : public IKzCamViewConsumer {
public:
  // Frames from From only, or from every sender when From is null. OnFrame
  // runs on the delivering thread after a frame is stored while someone
  // watches; it must not block.
  TKzHttpSourceSlot(std::string Name, TKzVideoSource* Source, const TGUID& From, std::function<void()> OnFrame);

  const std::string& Name() const { return FName; }
  TKzVideoSource* Source() const { return FSource; }

  // Draw thread: copies the frame.
  void ViewerGetImageBMP(TComponent* Sender, const TKzMBitmap& Bitmap, bool Own, uint16_t VideoIndex,
                         const TGUID& GUIDFrom) override;

  // Whether a frame arrived that has not been taken yet. Any thread, never blocks.
  bool HasNewFrame() const { return FNewFrame.load(std::memory_order_acquire); }
  // Moves the waiting frame into Into (no copy); false when none waits. The encoder
  // thread; blocks only for a frame being stored.
  bool TakeFrame(TKzMBitmap& Into);
  // The newest encoding, null before the first. Any thread, never blocks long.
  TKzHttpJpegRef Jpeg() const;
  void SetJpeg(TKzHttpJpegRef Jpeg);

  // Frames received, and the rate over the last two seconds. Any thread.
  uint64_t FramesIn() const { return FFramesIn.load(std::memory_order_acquire); }
  double FrameRate() const;
  // The size of the last frame received. Any thread.
  int32_t Width() const { return FWidth.load(); }
  int32_t Height() const { return FHeight.load(); }

  // Clients streaming this source, and clients waiting for its next
  // encoding (snapshots). The server's thread changes them; any thread reads.
  std::atomic<int32_t> Streams{0};
  std::atomic<int32_t> Waiting{0};
  // Set when the source is withdrawn; its clients are let go. Any thread.
  std::atomic<bool> Withdrawn{false};
  // Tick count of the last encoding. The encoder thread.
  uint64_t LastEncodeTick = 0;

private:
  const std::string FName;
  TKzVideoSource* const FSource;
  const TGUID FFrom;
  const std::function<void()> FOnFrame;

  mutable std::mutex FFrameLock;  // guards FFrame and FTicks
  TKzMBitmap FFrame;
  static constexpr int kTicks = 128;
  uint64_t FTicks[kTicks] = {};  // arrival ticks, a ring
  std::atomic<bool> FNewFrame{false};
  std::atomic<uint64_t> FFramesIn{0};
  std::atomic<int32_t> FWidth{0}, FHeight{0};

  mutable std::mutex FJpegLock;  // guards FJpeg
  TKzHttpJpegRef FJpeg;
};

}  // namespace kz
