#include "webserver/fmxMKzHttpSourceSlot.h"

#include "foundation/fmxMKzType.h"

namespace kz {

TKzHttpSourceSlot::TKzHttpSourceSlot(std::string Name, TKzVideoSource* Source, const TGUID& From,
                                     std::function<void()> OnFrame)
    : FName(std::move(Name)), FSource(Source), FFrom(From), FOnFrame(std::move(OnFrame)) {}

void TKzHttpSourceSlot::ViewerGetImageBMP(TComponent*, const TKzMBitmap& Bitmap, bool, uint16_t,
                                          const TGUID& GUIDFrom) {
  if (Bitmap.IsEmpty() || (!IsNull(FFrom) && FFrom != GUIDFrom)) return;
  {
    std::lock_guard<std::mutex> g(FFrameLock);
    FFrame.AssignKzMBitmap(Bitmap);
    const uint64_t n = FFramesIn.load(std::memory_order_relaxed);
    FTicks[n % kTicks] = KzMGetTickCount();
    FFramesIn.store(n + 1, std::memory_order_release);
  }
  FWidth.store(Bitmap.Width());
  FHeight.store(Bitmap.Height());
  FNewFrame.store(true, std::memory_order_release);
  // The encoder only cares while someone watches.
  if (FOnFrame && (Streams.load() > 0 || Waiting.load() > 0)) FOnFrame();
}

bool TKzHttpSourceSlot::TakeFrame(TKzMBitmap& Into) {
  std::lock_guard<std::mutex> g(FFrameLock);
  if (!FNewFrame.exchange(false, std::memory_order_acq_rel)) return false;
  Into.SwapPixels(FFrame);
  return true;
}

TKzHttpJpegRef TKzHttpSourceSlot::Jpeg() const {
  std::lock_guard<std::mutex> g(FJpegLock);
  return FJpeg;
}

void TKzHttpSourceSlot::SetJpeg(TKzHttpJpegRef Jpeg) {
  std::lock_guard<std::mutex> g(FJpegLock);
  FJpeg = std::move(Jpeg);
}

double TKzHttpSourceSlot::FrameRate() const {
  std::lock_guard<std::mutex> g(FFrameLock);
  const uint64_t n = FFramesIn.load(std::memory_order_acquire), now = KzMGetTickCount();
  int count = 0;
  for (uint64_t i = 0; i < n && i < kTicks; ++i)
    if (now - FTicks[(n - 1 - i) % kTicks] <= 2000) ++count;
  return count / 2.0;
}

}  // namespace kz
