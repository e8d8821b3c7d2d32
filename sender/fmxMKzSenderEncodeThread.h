// The sender's encoding thread: video sources hand frames over on their
// draw threads (a copy, nothing more) and this thread encodes them. Only
// the newest frame of each media index waits: a slow encoder skips frames
// and never holds up the source.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

class TKzSenderEncodeThread : public TKzBaseThread {
public:
  // Encodes one frame of a media index (the sender's SendImageEx). Called on this thread.
  using TEncodeFrame = std::function<void(const TKzMCustomBitmap& Frame, uint16_t MediaIndex)>;

  // Creating thread, never blocks; Start it.
  explicit TKzSenderEncodeThread(TEncodeFrame Encode);
  // Stops the thread and waits for the frame being encoded. Owner's thread.
  ~TKzSenderEncodeThread() override;

  // Takes a copy of Frame as the newest of its media index (replacing one
  // not yet encoded). Any thread, never blocks for long.
  void Post(const TKzMCustomBitmap& Frame, uint16_t MediaIndex);
  // A frame waits or is being encoded. Any thread.
  bool Busy();
  // Frames replaced before they were encoded. Any thread.
  uint64_t Skipped() const { return FSkipped.load(); }

protected:
  void DoExecute() override;
  void TerminatedSet() override;

private:
  struct TSlot {
    TKzMBitmap Frame;
    bool Waiting = false;
  };

  TEncodeFrame FEncode;
  TEvent FWake{false, false};
  std::mutex FLock;  // guards FSlots, FBusy
  std::vector<TSlot> FSlots;  // by media index
  bool FBusy = false;
  std::atomic<uint64_t> FSkipped{0};
};

}  // namespace kz
