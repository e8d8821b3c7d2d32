#include "video/fmxMKzPipelineThread.h"

namespace kz {

TKzPipelineThread::TKzPipelineThread(std::string ThreadName) : TKzBaseThread(true, std::move(ThreadName)) {
  CreateEvent(false, false);
}

void TKzPipelineThread::Clear() {
  FStopping = true;
  DoClear();
  FStopping = false;
}

void TKzPipelineThread::Abort() {
  TKzBaseThread::Abort();
  Event()->SetEvent();
}

void TKzPipelineThread::StopThread() {
  Clear();
  Abort();
}

void TKzPipelineThread::DoExecute() {
  uint32_t wait = KzWaitForever;
  while (!Terminated()) {
    if (wait > 0) {
      const TWaitResult r = Event()->WaitFor(wait);
      if (r != TWaitResult::wrSignaled && r != TWaitResult::wrTimeout) break;
    }
    if (Terminated()) break;
    if (FStopping) {
      SleepUnlessTerminated(50);
      wait = 0;  // what was handed in meanwhile gets its pass
      continue;
    }
    wait = Pass();
  }
  PassesEnded();
}

}  // namespace kz
