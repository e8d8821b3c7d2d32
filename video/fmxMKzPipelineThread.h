// The worker of every frame-pipeline stage: it sleeps on its auto-reset
// event, runs one pass per wake-up (or when the wait its last pass asked
// for runs out), and idles while Clear empties its buffers.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

class TKzPipelineThread : public TKzBaseThread {
public:
  static constexpr uint32_t KzWaitForever = 0xFFFFFFFFu;

  // Created suspended, with its wake-up event. Owner's thread.
  explicit TKzPipelineThread(std::string ThreadName);

  // Empties the stage's buffers (DoClear) while its body idles. Owner's
  // thread (the main thread enters the pass locks with SafeEnter).
  void Clear();
  // Requests termination and wakes the thread. Any thread, never blocks.
  void Abort() override;
  // Clear, then Abort. Owner's thread.
  void StopThread() override;

protected:
  void DoExecute() final;
  // One pass. Returns how long the next wait may last: KzWaitForever until
  // woken, 0 for another pass at once. The stage's thread.
  virtual uint32_t Pass() = 0;
  // Empties the buffers. Called by Clear.
  virtual void DoClear() = 0;
  // After the last pass, on the stage's thread.
  virtual void PassesEnded() {}
  // True while Clear runs; long passes stop early.
  bool Stopping() const { return FStopping.load(); }

private:
  std::atomic<bool> FStopping{false};
};

}  // namespace kz
