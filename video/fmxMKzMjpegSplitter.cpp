#include "video/fmxMKzMjpegSplitter.h"

#include "video/fmxMKzJpegFrames.h"

namespace kz {

std::vector<uint8_t> TKzFrameBytesPool::Take() {
  std::lock_guard<std::mutex> g(FFree->Lock);
  if (FFree->Buffers.empty()) return {};
  std::vector<uint8_t> b = std::move(FFree->Buffers.back());
  FFree->Buffers.pop_back();
  return b;
}

TKzSharedBytes TKzFrameBytesPool::Share(std::vector<uint8_t>&& Bytes) {
  auto back = [Free = std::weak_ptr<TFree>(FFree)](const std::vector<uint8_t>* Shared) {
    std::unique_ptr<std::vector<uint8_t>> bytes(const_cast<std::vector<uint8_t>*>(Shared));
    const std::shared_ptr<TFree> free = Free.lock();
    if (!free || bytes->capacity() > MaxKeptBytes) return;
    bytes->clear();
    std::lock_guard<std::mutex> g(free->Lock);
    if (free->Buffers.size() < MaxKept) free->Buffers.push_back(std::move(*bytes));
  };
  return TKzSharedBytes(new std::vector<uint8_t>(std::move(Bytes)), std::move(back));
}

size_t TKzMjpegSplitter::Cut(const uint8_t* D, size_t Size, size_t From, int64_t& Start,
                             std::vector<TKzSharedBytes>& Frames) {
  const int64_t size = static_cast<int64_t>(Size);
  int64_t used = 0, search = static_cast<int64_t>(From);
  for (;;) {
    const int64_t eoi = KzFindJpegEnd(D, search, size, Start);
    if (eoi < 0) return static_cast<size_t>(used);
    if (Start >= 0) {
      const size_t n = static_cast<size_t>(eoi + 2 - Start);
      std::vector<uint8_t> frame = FPool.Take();
      // Room to spare: frames vary in size, and a buffer that comes back
      // should fit the next one without a new allocation.
      if (frame.capacity() < n) frame.reserve(n + n / 4);
      frame.assign(D + Start, D + eoi + 2);
      Frames.push_back(FPool.Share(std::move(frame)));
    }
    used = search = eoi + 2;
    Start = -1;
  }
}

void TKzMjpegSplitter::Keep(const uint8_t* D, size_t Size, int64_t LastStart) {
  const int64_t soi = LastStart < 0 ? -1 : KzFindMarkerForward(D, 0, LastStart + 2, 0xD8);
  if (soi >= 0) {
    FPending.assign(D + soi, D + Size);
    FLastStart = LastStart - soi;
  } else {
    FPending.assign(Size > 0 && D[Size - 1] == 0xFF ? 1 : 0, 0xFF);  // may begin a marker
    FLastStart = -1;
  }
  if (FPending.size() > MaxPendingBytes) Clear();
}

void TKzMjpegSplitter::Add(const uint8_t* Data, size_t Size, std::vector<TKzSharedBytes>& Frames) {
  if (!Data || Size == 0) return;
  if (!FPending.empty()) {
    // Bytes kept from earlier pieces were searched already: the frame they
    // begin ends at the first end marker that finishes in this piece.
    const size_t searched = FPending.size() - 1;
    size_t through = Size;
    if (FPending.back() == 0xFF && Data[0] == 0xD9) {
      through = 1;
    } else if (const int64_t eoi = KzFindMarkerForward(Data, 0, static_cast<int64_t>(Size), 0xD9); eoi >= 0) {
      through = static_cast<size_t>(eoi) + 2;
    }
    FPending.insert(FPending.end(), Data, Data + through);
    int64_t start = FLastStart;
    const size_t used = Cut(FPending.data(), FPending.size(), searched, start, Frames);
    if (used == 0) {
      if (FPending.size() > 1 && FPending[1] == 0xD8) {
        FLastStart = start;  // the frame goes on growing where it is
        if (FPending.size() > MaxPendingBytes) Clear();
      } else {
        std::vector<uint8_t> bytes;  // only a byte FF was kept: keep what may begin a frame
        bytes.swap(FPending);
        Keep(bytes.data(), bytes.size(), start);
      }
      return;
    }
    // Its frame ended in this piece.
    Data += through;
    Size -= through;
    FPending.clear();
    FLastStart = -1;
  }
  // The usual case: whole frames are cut straight from the piece.
  int64_t start = -1;
  const size_t used = Cut(Data, Size, 0, start, Frames);
  Keep(Data + used, Size - used, start < 0 ? -1 : start - static_cast<int64_t>(used));
}

}  // namespace kz
