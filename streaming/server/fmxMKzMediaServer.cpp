#include "streaming/server/fmxMKzMediaServer.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/server/fmxMKzMediaServerThread.h"

namespace kz {

namespace {

constexpr size_t kMaxDump = 64u << 20;
constexpr const char* kSpoolPrefix = "kzrelay-";

// Removes a spool folder and the channel files in it.
void RemoveFolder(const std::string& Path) {
  if (DIR* d = opendir(Path.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") unlink((Path + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(Path.c_str());
}

// Spool folders "kzrelay-<pid>-XXXXXX" of relays that are gone.
void RemoveStaleFolders(const std::string& Base) {
  DIR* d = opendir(Base.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(kSpoolPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::char_traits<char>::length(kSpoolPrefix), nullptr, 10);
    struct stat st {};
    const std::string path = Base + "/" + name;
    if (pid <= 0 || lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) stale.push_back(path);
  }
  closedir(d);
  for (const std::string& p : stale) RemoveFolder(p);
}

}  // namespace

TKzMediaServer::TKzMediaServer(TComponent* AOwner)
    : TComponent(AOwner), FBufferOptions(this) {
  FGUIDMy = StringToGUIDA("{00000000-0000-0000-0000-000000000001}");
  if (!IsDesigning()) RegisterHandlers();
}

TKzMediaServer::~TKzMediaServer() {
  SetHTTPActive(false);
  SetUDPActive(false);
  KzMessages().UnRegister2(this);
  FAlive->store(false);
  ReapChannels(true);
}

void TKzMediaServer::RegisterHandlers() {
  KzMessages().RegisterMessageHandler2(this, KzMessageRestartServer, [this](TMessage&) { Restart(); });
  auto notice = [this](TMessage& M) {
    const auto* info = reinterpret_cast<const TKzBufferInfo*>(M.LParam);
    const TKzLimitBufferEvent& e = M.Msg == KzMessageLimitBuffer ? OnLimitBuffer : OnNotLimitBuffer;
    if (info && e)
      e(this, info->nGUID, info->DataType, static_cast<int32_t>(info->BufferSize), static_cast<int32_t>(info->MaxSize),
        info->KindLimit);
  };
  KzMessages().RegisterMessageHandler2(this, KzMessageLimitBuffer, notice);
  KzMessages().RegisterMessageHandler2(this, KzMessageNotLimitBuffer, notice);
  KzMessages().RegisterMessageHandler2(this, KzMessageServerEvent, [](TMessage& M) {
    if (auto* proc = reinterpret_cast<std::function<void()>*>(M.LParam)) (*proc)();
  });
}

void TKzMediaServer::PostEvent(std::function<void()> Proc) {
  auto payload = std::make_shared<std::function<void()>>(std::move(Proc));
  KzMessages().PostMessage2(this, KzMessageServerEvent, 0, reinterpret_cast<LPARAM>(payload.get()), payload);
}

void TKzMediaServer::RedirectNotice(const TKzBufferInfo& Info, bool Limit) {
  auto payload = std::make_shared<TKzBufferInfo>(Info);
  KzMessages().PostMessage2(this, Limit ? KzMessageLimitBuffer : KzMessageNotLimitBuffer, 0,
                            reinterpret_cast<LPARAM>(payload.get()), payload);
}

void TKzMediaServer::RestartServer() { KzMessages().PostMessage2(this, KzMessageRestartServer, 0, 0); }

// ---- Properties

std::string TKzMediaServer::GUIDMy() const { return GUIDToStringA(GUIDMyValue()); }

TGUID TKzMediaServer::GUIDMyValue() const {
  std::lock_guard<std::mutex> g(FGUIDMyLock);
  return FGUIDMy;
}

void TKzMediaServer::SetGUIDMy(const std::string& Value) {
  const TGUID g = StringToGUIDA(Value);
  {
    std::lock_guard<std::mutex> l(FGUIDMyLock);
    if (g == FGUIDMy) return;
    FGUIDMy = g;
  }
  Restart();
}

void TKzMediaServer::SetMaxGroupCount(uint32_t Value) {
  FMaxGroupCount = Value;
  {
    auto lock = LockRegistry();
    ListGroups.MaxGUIDs = Value;
  }
  Restart();
}

void TKzMediaServer::SetHTTPPort(uint16_t Value) {
  if (Value == FHTTPPort) return;
  FHTTPPort = Value;
  if (HTTPActive()) {
    SetHTTPActive(false);
    SetHTTPActive(true);
  }
}

void TKzMediaServer::SetUDPPort(uint16_t Value) {
  if (Value == FUDPPort) return;
  FUDPPort = Value;
  if (UDPActive()) {
    SetUDPActive(false);
    SetUDPActive(true);
  }
}

void TKzMediaServer::SetOnConnectionCountChanged(TKzMSCountEvent Value) { FOnConnectionCountChanged = std::move(Value); }

void TKzMediaServer::SetOnPacketProcessing(std::function<void(TKzMediaServer*)> Value) {
  FOnPacketProcessing = std::move(Value);
  if (FHTTPThread) FHTTPThread->IsPacketProcessing = static_cast<bool>(FOnPacketProcessing);
}

void TKzMediaServer::PacketProcessing() {
  if (FOnPacketProcessing) FOnPacketProcessing(this);
}

// ---- Activation

void TKzMediaServer::SetHTTPActive(bool Value) {
  if (Value == HTTPActive() || (Value && IsDesigning())) return;
  if (Value) {
    StartListener(TKzProtocol::kzpHTTP);
  } else {
    StopListener(TKzProtocol::kzpHTTP);
  }
}

void TKzMediaServer::SetUDPActive(bool Value) {
  if (Value == UDPActive() || (Value && IsDesigning())) return;
  if (Value) {
    StartListener(TKzProtocol::kzpUDP);
  } else {
    StopListener(TKzProtocol::kzpUDP);
  }
}

void TKzMediaServer::StartListener(TKzProtocol Protocol) {
  const bool http = Protocol == TKzProtocol::kzpHTTP;
  const uint32_t key = http ? ++FSessionKey : 0;
  {
    auto lock = LockRegistry();
    ListGroups.MaxGUIDs = FMaxGroupCount;
    ListReceivers.MaxGUIDs = ListAllowedSenders.MaxGUIDs = FBounds.MaxUsers;
  }
  uint16_t port = http ? FHTTPPort : FUDPPort;
  if (port == 0) port = http ? FHTTPRebind : FUDPRebind;
  const TKzSocket s =
      TKzListenerThread::CreateListeningSocket(http ? TKzProtocol::kzpTCP : TKzProtocol::kzpUDP, 0, port);
  if (s == KZ_INVALID_SOCKET || (http && !PrepareSpoolFolder())) {
    TKzSocket closing = s;
    PlatformCloseSocket(closing);
    PostEvent([this, Protocol] {
      if (OnError) OnError(this, Protocol);
    });
    return;
  }
  auto* t = new TKzMediaServerThread(this, Protocol, s, key);
  (http ? FHTTPBound : FUDPBound) = PlatformSocketLocalPort(s);
  if (http) {
    t->IsPacketProcessing = static_cast<bool>(FOnPacketProcessing);
    std::shared_ptr<std::atomic<bool>> alive = FAlive;
    t->ConnectionCountChange = [this, alive](int32_t Count) {
      if (alive->load() && FOnConnectionCountChanged) FOnConnectionCountChanged(this, Count);
    };
    FHTTPThread = t;
  } else {
    FUDPThread = t;
  }
  StartThread(t);
  PostEvent([this, Protocol] {
    if (OnStart) OnStart(this, Protocol);
  });
}

void TKzMediaServer::StopListener(TKzProtocol Protocol) {
  const bool http = Protocol == TKzProtocol::kzpHTTP;
  TKzMediaServerThread*& ref = http ? FHTTPThread : FUDPThread;
  if (!ref) return;
  if (http) {
    FStopping = true;
    FinishClients();
  }
  ref->StopThread();
  delete ref;  // waits for the listener and its connections
  ref = nullptr;
  (http ? FHTTPBound : FUDPBound) = 0;
  if (http) {
    ReapChannels(true);
    RemoveSpoolFolder();
    FStopping = false;
  }
  PostEvent([this, Protocol] {
    if (OnStop) OnStop(this, Protocol);
  });
}

void TKzMediaServer::Restart() {
  const bool http = HTTPActive(), udp = UDPActive();
  // A port chosen by the system is kept, so that participants find the relay again.
  FHTTPRebind = FHTTPBound.load();
  FUDPRebind = FUDPBound.load();
  if (http) {
    SetHTTPActive(false);
    SetHTTPActive(true);
  }
  if (udp) {
    SetUDPActive(false);
    SetUDPActive(true);
  }
  FHTTPRebind = FUDPRebind = 0;
}

void TKzMediaServer::FinishClients() {
  {
    auto lock = LockRegistry();
    ListAllowedSenders.ForEach([this](const TGUID&, TKzMediaServerSenderItem& Item) {
      for (auto& slot : Item.ClientRedirect) StopChannelLocked(slot);
    });
    ListAllowedSenders.Clear();
    ListReceivers.Clear();
    ListGroups.Clear();
  }
  ReapChannels(true);
}

void TKzMediaServer::StopChannelLocked(std::shared_ptr<TKzClientRedirect>& Slot) {
  if (!Slot) return;
  Slot->Stop();
  if (Slot->Suspended()) StartThread(Slot.get());  // its body runs once to its end
  FRetired.push_back(std::move(Slot));
  Slot.reset();
}

void TKzMediaServer::ReapChannels(bool All) {
  std::vector<std::shared_ptr<TKzClientRedirect>> done;
  {
    auto lock = LockRegistry();
    for (auto it = FRetired.begin(); it != FRetired.end();) {
      if (All || (*it)->Finished()) {
        done.push_back(std::move(*it));
        it = FRetired.erase(it);
      } else {
        ++it;
      }
    }
  }
  done.clear();  // each waits for its thread; their end hooks take the registry lock
  if (All) {
    auto lock = LockRegistry();
    if (!FRetired.empty()) {
      lock.unlock();
      ReapChannels(true);
    }
  }
}

// ---- Bounds

bool TKzMediaServer::RedirectBook(int64_t Delta, bool File) {
  std::atomic<int64_t>& booked = File ? FBookedFile : FBookedMemory;
  std::atomic<bool>& hit = File ? FFileBoundHit : FMemoryBoundHit;
  const uint64_t bound = File ? FBounds.MaxFileBufferBytes : FBounds.MaxBufferedBytes;
  if (Delta <= 0) {
    booked.fetch_add(Delta);
    return true;
  }
  const int64_t now = booked.fetch_add(Delta) + Delta;
  if (bound != 0 && now > static_cast<int64_t>(bound)) {
    booked.fetch_sub(Delta);
    if (!hit.exchange(true)) BoundReached(File ? "file buffers full" : "memory buffers full", TGUID{});
    return false;
  }
  if (bound != 0 && now < static_cast<int64_t>(bound / 2)) hit = false;
  return true;
}

void TKzMediaServer::BoundReached(const std::string& What, const TGUID& User) {
  if (OnBoundReached) OnBoundReached(this, What, User);
}

void TKzMediaServer::Refuse(TKzServerConn*, const std::string& Why, const TGUID& Claimed) {
  if (OnRefused) OnRefused(this, Why, Claimed);
}

// ---- Spool folder

bool TKzMediaServer::PrepareSpoolFolder() {
  std::string base = FTempFolder;
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
  }
  mkdir(base.c_str(), 0700);  // the folder is made when missing
  RemoveStaleFolders(base);
  std::string templ = base + "/" + kSpoolPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(templ.data())) return false;
  std::lock_guard<std::mutex> g(FSpoolLock);
  FSpool = templ;
  return true;
}

void TKzMediaServer::RemoveSpoolFolder() {
  std::string path;
  {
    std::lock_guard<std::mutex> g(FSpoolLock);
    path.swap(FSpool);
  }
  if (!path.empty()) RemoveFolder(path);
}

std::string TKzMediaServer::SpoolFolder() const {
  std::lock_guard<std::mutex> g(FSpoolLock);
  return FSpool;
}

// ---- Dump

void TKzMediaServer::Dump(const uint8_t* Data, size_t Size) {
  std::lock_guard<std::mutex> g(FDumpLock);
  if (FDump.size() + Size <= kMaxDump) FDump.insert(FDump.end(), Data, Data + Size);
}

bool TKzMediaServer::SaveDump(const std::string& FileName) {
  std::lock_guard<std::mutex> g(FDumpLock);
  std::ofstream f(FileName, std::ios::binary);
  f.write(reinterpret_cast<const char*>(FDump.data()), static_cast<std::streamsize>(FDump.size()));
  return static_cast<bool>(f);
}

void TKzMediaServer::ClearDump() {
  std::lock_guard<std::mutex> g(FDumpLock);
  FDump.clear();
}

std::vector<uint8_t> TKzMediaServer::DumpMemory() {
  std::lock_guard<std::mutex> g(FDumpLock);
  return FDump;
}

// ---- Counts

std::vector<TKzChannelStat> TKzMediaServer::ChannelStats() {
  std::vector<TKzChannelStat> out;
  auto lock = LockRegistry();
  ListAllowedSenders.ForEach([&out](const TGUID& G, TKzMediaServerSenderItem& Item) {
    for (const auto& c : Item.ClientRedirect) {
      if (!c) continue;
      out.push_back({G, c->DataType(), c->BufferSize(), c->PacketsIn(), c->Batches(), c->Clears()});
    }
  });
  return out;
}

size_t TKzMediaServer::UserCount() {
  auto lock = LockRegistry();
  return ListAllowedSenders.CountItem();
}

size_t TKzMediaServer::GroupCount() {
  auto lock = LockRegistry();
  return ListGroups.CountItem();
}

}  // namespace kz
