// The library-wide message pump: worker threads post small messages
// addressed to a component; a pump thread hands them, in batches and in
// posting order, to the main thread, which calls the handler the component
// registered for that message number.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

// Message parameters are pointer-sized: a pointer travels in LParam.
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using TKzTarget = uintptr_t;  // a component's identity: its address

struct TMessage {
  uint32_t Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  intptr_t Result = 0;
};

using TKzMessageHandler = std::function<void(TMessage&)>;

constexpr uint32_t WM_TIMER = 275;
constexpr uint32_t WM_USER = 1024;
constexpr uint32_t KZ_MSG_CONNECTION_ERROR = 1027;
constexpr uint32_t KZ_MSG_DEBUG = 1034;

// One posted message. Payload keeps whatever LParam points at alive until
// the message has been handled or dropped.
struct TMessagingObject {
  TKzTarget Target = 0;
  uint32_t Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  intptr_t Result = 0;
  std::shared_ptr<void> Payload;
  uint64_t Registration = 0;  // the target's registration it was posted to (0: none yet)
  void Assign(const TMessagingObject& Source) { *this = Source; }
};

inline TKzTarget KzTargetOf(const void* Object) { return reinterpret_cast<TKzTarget>(Object); }

class TMessagingSystem : public TKzBaseThread {
public:
  // Creates and starts the pump thread. Any thread.
  TMessagingSystem();
  // Stops the pump; queued messages are freed without dispatch. Main thread; blocks briefly.
  ~TMessagingSystem() override;

  // All of these: any thread, never block on the main thread.
  bool RegisterMessageHandler(TKzTarget Target, uint32_t Msg, TKzMessageHandler Handler);
  bool RegisterMessageHandler2(const void* Target, uint32_t Msg, TKzMessageHandler Handler) {
    return RegisterMessageHandler(KzTargetOf(Target), Msg, std::move(Handler));
  }
  // Deletes the target with all its handlers.
  void UnRegister(TKzTarget Target);
  void UnRegister2(const void* Target) { UnRegister(KzTargetOf(Target)); }
  bool IsRegistered(TKzTarget Target);

  bool PostMessage(TKzTarget Target, uint32_t Msg, WPARAM WParam, LPARAM LParam,
                   std::shared_ptr<void> Payload = nullptr);
  bool PostMessage2(const void* Target, uint32_t Msg, WPARAM WParam, LPARAM LParam,
                    std::shared_ptr<void> Payload = nullptr) {
    return PostMessage(KzTargetOf(Target), Msg, WParam, LParam, std::move(Payload));
  }

  // Looks the handler up and calls it; unknown targets or numbers are
  // ignored. Main thread (the pump calls it there).
  void HandleMessage(TKzTarget Target, TMessage& Message, uint64_t Registration = 0);

  // Stops the pump thread and drops what is queued; later posts are dropped
  // too. Main thread; blocks until the pump thread has ended.
  void Shutdown();
  size_t QueuedCount();

protected:
  void DoExecute() override;
  void TerminatedSet() override;

private:
  struct TKzDictItem {
    uint32_t Msg;
    TKzMessageHandler Handler;
  };
  using TKzDict = std::vector<TKzDictItem>;

  std::mutex FLock;  // guards FWindows, FQueue, FStopped
  std::unordered_map<TKzTarget, TKzDict> FWindows;
  // Each registration of a target is numbered: a message posted to a target
  // that went (and whose address a new one took) is not handed to the new one.
  std::unordered_map<TKzTarget, uint64_t> FRegistrations;
  uint64_t FLastRegistration = 0;
  std::deque<TMessagingObject> FQueue;
  bool FStopped = false;
};

// The process-wide pump: started on first use, stopped by
// KzMessagesShutdown or at process exit. Any thread.
TMessagingSystem& KzMessages();
void KzMessagesShutdown();

// The text that a 1034 message carries in LParam ("" when none). Main thread,
// inside the handler.
std::string KzMessageText(const TMessage& Message);

}  // namespace kz
