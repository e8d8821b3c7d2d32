#include "foundation/fmxMKzMessages.h"

#include <atomic>

#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

TMessagingSystem::TMessagingSystem() : TKzBaseThread(true, "TMessagingSystem") {
  CreateEvent(true, false);
  StartThread(this);
}

TMessagingSystem::~TMessagingSystem() { Shutdown(); }

void TMessagingSystem::Shutdown() {
  {
    std::lock_guard<std::mutex> g(FLock);
    if (FStopped) return;
    FStopped = true;
  }
  Terminate();
  Event()->SetEvent();
  WaitFor();  // on the main thread this keeps the synchronisation queue moving
  std::deque<TMessagingObject> dropped;
  {
    std::lock_guard<std::mutex> g(FLock);
    dropped.swap(FQueue);
    FWindows.clear();
    FRegistrations.clear();
  }
}

void TMessagingSystem::TerminatedSet() {
  TKzBaseThread::TerminatedSet();
  if (Event()) Event()->SetEvent();
}

bool TMessagingSystem::RegisterMessageHandler(TKzTarget Target, uint32_t Msg, TKzMessageHandler Handler) {
  std::lock_guard<std::mutex> g(FLock);
  if (!FRegistrations.count(Target)) FRegistrations[Target] = ++FLastRegistration;
  FWindows[Target].push_back(TKzDictItem{Msg, std::move(Handler)});
  return true;
}

void TMessagingSystem::UnRegister(TKzTarget Target) {
  std::lock_guard<std::mutex> g(FLock);
  FWindows.erase(Target);
  FRegistrations.erase(Target);
  // What is still queued for it goes too: a new target at the same address must not get it.
  std::erase_if(FQueue, [Target](const TMessagingObject& M) { return M.Target == Target; });
}

bool TMessagingSystem::IsRegistered(TKzTarget Target) {
  std::lock_guard<std::mutex> g(FLock);
  return FWindows.count(Target) != 0;
}

bool TMessagingSystem::PostMessage(TKzTarget Target, uint32_t Msg, WPARAM WParam, LPARAM LParam,
                                   std::shared_ptr<void> Payload) {
  {
    std::lock_guard<std::mutex> g(FLock);
    if (FStopped) return true;  // after unload nothing is delivered
    const auto r = FRegistrations.find(Target);
    FQueue.push_back(TMessagingObject{Target, Msg, WParam, LParam, 0, std::move(Payload),
                                      r == FRegistrations.end() ? 0 : r->second});
  }
  Event()->SetEvent();
  return true;
}

size_t TMessagingSystem::QueuedCount() {
  std::lock_guard<std::mutex> g(FLock);
  return FQueue.size();
}

void TMessagingSystem::HandleMessage(TKzTarget Target, TMessage& Message, uint64_t Registration) {
  TKzMessageHandler handler;
  {
    std::lock_guard<std::mutex> g(FLock);
    auto w = FWindows.find(Target);
    if (w == FWindows.end()) return;
    if (Registration != 0 && FRegistrations[Target] != Registration) return;  // posted to the one before
    for (const TKzDictItem& item : w->second) {
      if (item.Msg == Message.Msg) {
        handler = item.Handler;  // the first registration wins
        break;
      }
    }
  }
  if (handler) handler(Message);
}

void TMessagingSystem::DoExecute() {
  for (;;) {
    Event()->WaitFor(INFINITE);
    if (Terminated()) return;
    std::deque<TMessagingObject> batch;
    {
      std::lock_guard<std::mutex> g(FLock);
      Event()->ResetEvent();
      batch.swap(FQueue);
    }
    if (Terminated()) return;
    if (batch.empty()) continue;
    Synchronize([this, &batch] {
      for (TMessagingObject& m : batch) {
        if (Terminated()) return;
        TMessage msg{m.Msg, m.WParam, m.LParam, 0};
        HandleMessage(m.Target, msg, m.Registration);
      }
    });
  }
}

namespace {
std::atomic<TMessagingSystem*> gPump{nullptr};
std::mutex gPumpLock;  // guards creation and shutdown of gPump

// Stops the global pump when static objects are torn down.
struct TPumpAtExit {
  ~TPumpAtExit() { KzMessagesShutdown(); }
} gPumpAtExit;
}  // namespace

TMessagingSystem& KzMessages() {
  TMessagingSystem* p = gPump.load(std::memory_order_acquire);
  if (p) return *p;
  std::lock_guard<std::mutex> g(gPumpLock);
  p = gPump.load(std::memory_order_acquire);
  if (!p) {
    p = new TMessagingSystem;
    gPump.store(p, std::memory_order_release);
  }
  return *p;
}

void KzMessagesShutdown() {
  // The object stays (stopped) so that late callers during static teardown
  // find a pump that quietly drops what they post.
  TMessagingSystem* p = gPump.load(std::memory_order_acquire);
  if (p) p->Shutdown();
}

std::string KzMessageText(const TMessage& Message) {
  if (Message.LParam == 0) return "";
  return *reinterpret_cast<const std::string*>(Message.LParam);
}

}  // namespace kz
