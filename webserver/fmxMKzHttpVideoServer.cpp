#include "webserver/fmxMKzHttpVideoServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "platform/fmxMKzPlatformSockets.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzVideoSource.h"
#include "webserver/fmxMKzHttpServeLoop.h"

namespace kz {

// A worker that runs one round of its owner's work until it is stopped.
class TKzHttpWorkerThread : public TKzBaseThread {
public:
  TKzHttpWorkerThread(std::string Name, std::function<void()> RoundWork, std::function<void()> WakeWork)
      : TKzBaseThread(true, std::move(Name)), FRound(std::move(RoundWork)), FWake(std::move(WakeWork)) {}
  ~TKzHttpWorkerThread() override { Stop(); }
  // Ends the rounds and waits for the thread. Owner's thread; blocks one round at most.
  void Stop() {
    Terminate();
    FWake();
    if (Started()) WaitForEnd(5000);
  }

protected:
  void DoExecute() override {
    SetName();
    while (!Terminated()) FRound();
  }

private:
  std::function<void()> FRound, FWake;
};

TKzHttpVideoServer::TKzHttpVideoServer(TComponent* AOwner) : TComponent(AOwner) {}

TKzHttpVideoServer::~TKzHttpVideoServer() {
  Destroying();
  Stop();
  for (const std::string& name : Published()) Unpublish(name);
}

void TKzHttpVideoServer::SetActive(bool Value) {
  if (Value == FActive) return;
  if (Value)
    Start();
  else
    Stop();
}

void TKzHttpVideoServer::Start() {
  FLastError.clear();
  const uint32_t address = PlatformLookupIPv4(FBindAddress);
  if (address == 0 && FBindAddress != "0.0.0.0") {
    FLastError = "cannot bind to \"" + FBindAddress + "\": not an IPv4 address";
    return;
  }
  const TKzSocket s = PlatformListenTCP(address, FPort, 128);
  if (s == KZ_INVALID_SOCKET) {
    FLastError = "cannot listen on " + FBindAddress + ":" + std::to_string(FPort) + " (error " +
                 std::to_string(PlatformSocketErrorCode()) + ")";
    return;
  }
  PlatformSetNonBlocking(s, true);
  FListeningPort.store(PlatformSocketLocalPort(s));
  FAuthenticator.Setup(FAuthentication, FUsers, FRealm);
  FLoop = std::make_unique<TKzHttpServeLoop>(*this, s, FMaxClients, FIdleTimeoutMs);
  FServeThread = std::make_unique<TKzHttpWorkerThread>("KzHttpServe", [this] {
    FLoop->Round();
    FClientCount.store(FLoop->Connections());
  }, [this] { FLoop->Wake(); });
  FEncodeThread = std::make_unique<TKzHttpWorkerThread>("KzHttpEncode", [this] { EncodeRound(); }, [this] {
    WakeEncoder();
  });
  FServeThread->Start();
  FEncodeThread->Start();
  FActive = true;
}

void TKzHttpVideoServer::Stop() {
  if (FServeThread) FServeThread->Stop();
  if (FEncodeThread) FEncodeThread->Stop();
  FServeThread.reset();
  FEncodeThread.reset();
  FLoop.reset();  // closes every connection
  FClientCount.store(0);
  FListeningPort.store(0);
  FActive = false;
}

bool TKzHttpVideoServer::Publish(const std::string& Name, TKzVideoSource* Source, const TGUID& From) {
  if (!Source || !KzHttpValidSourceName(Name)) {
    FLastError = "cannot publish \"" + Name + "\": a source and a name of letters, digits, '-' and '_' are needed";
    return false;
  }
  if (FindSlot(Name)) {
    FLastError = "cannot publish \"" + Name + "\": the name is taken";
    return false;
  }
  auto slot = std::make_shared<TKzHttpSourceSlot>(Name, Source, From, [this] { WakeEncoder(); });
  {
    std::lock_guard<std::mutex> g(FSlotsLock);
    FSlots.push_back(slot);
  }
  Source->FreeNotification(this);
  Source->RegisterCamView(slot.get());
  return true;
}

void TKzHttpVideoServer::Unpublish(const std::string& Name) { RemoveSlot(Name, true); }

void TKzHttpVideoServer::RemoveSlot(const std::string& Name, bool Unregister) {
  std::shared_ptr<TKzHttpSourceSlot> slot;
  {
    std::lock_guard<std::mutex> g(FSlotsLock);
    auto it = std::find_if(FSlots.begin(), FSlots.end(), [&](const auto& s) { return s->Name() == Name; });
    if (it == FSlots.end()) return;
    slot = *it;
    FSlots.erase(it);
  }
  slot->Withdrawn.store(true);
  TKzVideoSource* source = slot->Source();
  if (Unregister) {
    source->UnRegisterCamView(slot.get());
    bool stillUsed;
    {
      std::lock_guard<std::mutex> g(FSlotsLock);
      stillUsed = std::any_of(FSlots.begin(), FSlots.end(), [&](const auto& s) { return s->Source() == source; });
    }
    if (!stillUsed) source->RemoveFreeNotification(this);
  }
  if (FLoop) FLoop->Wake();
}

void TKzHttpVideoServer::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  // A published source is being freed: it has emptied its lists already.
  for (const auto& slot : Slots())
    if (slot->Source() == AComponent) RemoveSlot(slot->Name(), false);
}

std::vector<std::string> TKzHttpVideoServer::Published() const {
  std::vector<std::string> names;
  for (const auto& s : Slots()) names.push_back(s->Name());
  return names;
}

std::shared_ptr<TKzHttpSourceSlot> TKzHttpVideoServer::FindSlot(const std::string& Name) const {
  std::lock_guard<std::mutex> g(FSlotsLock);
  for (const auto& s : FSlots)
    if (s->Name() == Name) return s;
  return nullptr;
}

std::vector<std::shared_ptr<TKzHttpSourceSlot>> TKzHttpVideoServer::Slots() const {
  std::lock_guard<std::mutex> g(FSlotsLock);
  return FSlots;
}

std::string TKzHttpVideoServer::PageURL() const {
  const uint16_t port = FListeningPort.load();
  if (port == 0) return {};
  return "http://" + (FBindAddress == "0.0.0.0" ? std::string("127.0.0.1") : FBindAddress) + ":" +
         std::to_string(port) + "/";
}

TKzHttpServerStats TKzHttpVideoServer::Stats() const {
  TKzHttpServerStats s;
  // Stats may be read while the server stops on the main thread only, so
  // the loop cannot go away under this call.
  if (FLoop) FLoop->AddStats(s);
  s.FramesEncoded = FFramesEncoded.load();
  return s;
}

std::string TKzHttpVideoServer::StatusJson() const {
  // Names are letters, digits, '-' and '_' only: nothing to escape.
  std::string json = "{\"sources\":[";
  bool first = true;
  for (const auto& s : Slots()) {
    const TKzHttpJpegRef j = s->Jpeg();
    char item[256];
    std::snprintf(item, sizeof item,
                  "%s{\"name\":\"%s\",\"width\":%d,\"height\":%d,\"fps\":%.1f,\"frames\":%llu,\"encoded\":%llu,"
                  "\"clients\":%d}",
                  first ? "" : ",", s->Name().c_str(), s->Width(), s->Height(), s->FrameRate(),
                  static_cast<unsigned long long>(s->FramesIn()),
                  static_cast<unsigned long long>(j ? j->Number : 0), s->Streams.load());
    json += item;
    first = false;
  }
  return json + "],\"clients\":" + std::to_string(FClientCount.load()) +
         ",\"maxClients\":" + std::to_string(FMaxClients) + "}";
}

void TKzHttpVideoServer::WakeEncoder() {
  {
    std::lock_guard<std::mutex> g(FEncodeLock);
    FEncodeWanted = true;
  }
  FEncodeWake.notify_one();
}

void TKzHttpVideoServer::EncodeRound() {
  uint64_t waitMs = 1000;
  {
    std::unique_lock<std::mutex> g(FEncodeLock);
    FEncodeWake.wait_for(g, std::chrono::milliseconds(waitMs), [this] { return FEncodeWanted; });
    FEncodeWanted = false;
  }
  TKzMBitmap frame;
  bool encoded = false;
  // Frames that came too soon wait for their turn; the wait ends at the
  // earliest turn (a wake for a newer frame changes nothing).
  for (;;) {
    const uint64_t interval = static_cast<uint64_t>(1000.0 / MaxFrameRate());
    uint64_t nextDue = UINT64_MAX;
    for (const auto& slot : Slots()) {
      if ((slot->Streams.load() == 0 && slot->Waiting.load() == 0) || !slot->HasNewFrame()) continue;
      const uint64_t now = KzMGetTickCount(), due = slot->LastEncodeTick + interval;
      if (slot->LastEncodeTick != 0 && now < due) {
        nextDue = std::min(nextDue, due);
        continue;
      }
      encoded |= EncodeSlot(*slot, frame);
    }
    if (encoded && FLoop) FLoop->Wake();
    encoded = false;
    if (nextDue == UINT64_MAX || FEncodeThread->Terminated()) return;
    const uint64_t now = KzMGetTickCount();
    if (nextDue > now) {
      std::unique_lock<std::mutex> g(FEncodeLock);
      FEncodeWake.wait_for(g, std::chrono::milliseconds(nextDue - now), [this] { return FEncodeThread->Terminated(); });
    }
  }
}

bool TKzHttpVideoServer::EncodeSlot(TKzHttpSourceSlot& Slot, TKzMBitmap& Frame) {
  if (!Slot.TakeFrame(Frame)) return false;
  Slot.LastEncodeTick = KzMGetTickCount();
  TMemoryStream stream;
  if (!KzCodecEncodeJPEG(Frame, stream, Quality())) return false;
  auto jpeg = std::make_shared<TKzHttpJpeg>();
  const TKzHttpJpegRef last = Slot.Jpeg();
  jpeg->Number = (last ? last->Number : 0) + 1;
  jpeg->Bytes.assign(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
  jpeg->Width = Frame.Width();
  jpeg->Height = Frame.Height();
  Slot.SetJpeg(std::move(jpeg));
  ++FFramesEncoded;
  return true;
}

}  // namespace kz
