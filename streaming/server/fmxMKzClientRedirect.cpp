#include "streaming/server/fmxMKzClientRedirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "streaming/Fmxmkzsocketutil.h"

namespace kz {

namespace {

uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// The length of the record (header pack and packet) whose pack is at Pack.
size_t RecordSize(const uint8_t* Pack) {
  return TKzHeaderPack::WireSize + static_cast<size_t>(KzHeaderPackFromBytes(Pack).LenPack);
}

}  // namespace

void KzAppendSessionPack(const TKzMarker& Marker, TKzSessionKey Key, int64_t Len, TKzAnswerQueue& Out) {
  TKzSessionPack p;
  p.MARKER = Marker;
  p.SessionKey = Key;
  p.DataLen = Len;
  std::vector<uint8_t>& b = Out.emplace_back(TKzSessionPack::WireSize);
  KzSessionPackToBytes(p, b.data());
}

TKzClientRedirect::TKzClientRedirect(IKzRedirectOwner* Owner, uint8_t DataType, const TGUID& GUIDTo,
                                     TKzSessionKey SessionKey, uint32_t MaxSize, bool File, const std::string& Folder)
    : TKzBaseThread(true, "TKzClientRedirect"),
      FOwner(Owner),
      FDataType(DataType),
      FGUIDTo(GUIDTo),
      ServerSessionKey(SessionKey),
      FMaxSize(MaxSize),
      FFileWanted(File),
      FLastRequestMs(NowMs()) {
  if (!File) return;
  const std::string base = Folder + "/" + GUIDToStringA(GUIDTo) + "." + std::to_string(DataType);
  // A channel of the same user and kind that is still going away may hold the plain name.
  for (int n = 0; n < 100 && FFile < 0; ++n) {
    FFileName = n == 0 ? base : base + "-" + std::to_string(n);
    FFile = open(FFileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (FFile < 0 && errno != EEXIST) break;
  }
  if (FFile < 0) FFileName.clear();  // buffered in memory after all
}

TKzClientRedirect::~TKzClientRedirect() {
  Stop();
  WaitForEnd(INFINITE);
  std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
  EmptyLocked();
  if (FFile >= 0) {
    close(FFile);
    unlink(FFileName.c_str());
  }
}

void TKzClientRedirect::TerminatedSet() {
  TKzBaseThread::TerminatedSet();
  FWake.SetEvent();
}

void TKzClientRedirect::Stop() {
  Terminate();
  FWake.SetEvent();
}

TKzConnSerial TKzClientRedirect::ClientConn() {
  std::lock_guard<TCriticalSection> g(CriticalSectionEvent);
  return FClientConn;
}

TKzClientRedirect::TAttach TKzClientRedirect::Attach(TKzConnSerial Conn, TKzSocket Socket, const std::string& ACmd) {
  std::lock_guard<TCriticalSection> g(CriticalSectionEvent);
  if (FClientConn != 0 && FClientConn != Conn) return TAttach::kzraOtherSocket;
  FClientConn = Conn;
  ClientSocket = Socket;
  Cmd = ACmd;
  SweepFeeders(NowMs());
  return TAttach::kzraAttached;
}

void TKzClientRedirect::TakeOver(TKzConnSerial Conn, TKzSocket Socket, const std::string& ACmd) {
  {
    std::lock_guard<TCriticalSection> g(CriticalSectionEvent);
    if (ClientSocket != KZ_INVALID_SOCKET && FClientConn != Conn) PlatformShutdown(ClientSocket);
    FClientConn = 0;
    ClientSocket = KZ_INVALID_SOCKET;
  }
  Attach(Conn, Socket, ACmd);
}

void TKzClientRedirect::ConnectionGone(TKzConnSerial Conn) {
  std::lock_guard<TCriticalSection> g(CriticalSectionEvent);
  Sockets.erase(std::remove_if(Sockets.begin(), Sockets.end(), [Conn](const auto& s) { return s.first == Conn; }),
                Sockets.end());
  SweepFeeders(NowMs());
  if (FClientConn == Conn) {
    ClientSocket = KZ_INVALID_SOCKET;
    FClientConn = 0;  // free for the user's next connection; the idle time still ends the channel
  }
}

void TKzClientRedirect::SweepFeeders(uint64_t Now) {
  // The last entry is never examined: it is the most recent feeder.
  if (Sockets.size() < 2) return;
  auto last = Sockets.end() - 1;
  Sockets.erase(std::remove_if(Sockets.begin(), last,
                               [Now](const auto& s) { return Now - s.second > KZ_REDIRECT_FEEDER_AGE_MS; }),
                last);
}

size_t TKzClientRedirect::BufferSize() {
  std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
  return FFile >= 0 ? static_cast<size_t>(FFileSize - FFileRead) : FData.size();
}

void TKzClientRedirect::EmptyLocked() {
  const int64_t held = FFile >= 0 ? FFileSize - FFileRead : static_cast<int64_t>(FData.size());
  if (held > 0) FOwner->RedirectBook(-held, FFile >= 0);
  FData.clear();
  FData.shrink_to_fit();
  if (FFile < 0) return;
  if (ftruncate(FFile, 0) == 0) {
    FFileSize = FFileRead = 0;
  } else {
    FFileRead = FFileSize;  // what is there stays unread
  }
}

void TKzClientRedirect::ClearBuffer() {
  std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
  EmptyLocked();
}

uint32_t TKzClientRedirect::AddData(const TKzHeaderPack& Pack, const uint8_t* Data, size_t Size, TKzConnSerial Feeder,
                                    bool& Cleared) {
  Cleared = false;
  uint32_t error = 0;
  {
    std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
    const size_t size = FFile >= 0 ? static_cast<size_t>(FFileSize - FFileRead) : FData.size();
    if (FMaxSize > 0) {
      if (size > FMaxSize / 2) {
        if (!(ClientError & KZ_CLIENT_ERROR_LIMIT_BUFFER))
          FOwner->RedirectNotice({FGUIDTo, FDataType, static_cast<uint32_t>(size), FMaxSize / 2,
                                  TKzKindLimit::kzmklWarrning}, true);
        ClientError |= KZ_CLIENT_ERROR_LIMIT_BUFFER;
      } else if (size <= FMaxSize / 4 && (ClientError & KZ_CLIENT_ERROR_LIMIT_BUFFER)) {
        FOwner->RedirectNotice({FGUIDTo, FDataType, static_cast<uint32_t>(size), FMaxSize / 4,
                                TKzKindLimit::kzmklWarrning}, false);
        ClientError &= ~KZ_CLIENT_ERROR_LIMIT_BUFFER;
      }
      if (size > FMaxSize) {
        EmptyLocked();
        ++FClears;
        Cleared = true;
        FOwner->RedirectNotice({FGUIDTo, FDataType, static_cast<uint32_t>(size), FMaxSize,
                                TKzKindLimit::kzmklClearBuffer}, true);
      }
    }
    const size_t record = TKzHeaderPack::WireSize + Size;
    if (!FOwner->RedirectBook(static_cast<int64_t>(record), FFile >= 0)) {
      error = ClientError | KZ_CLIENT_ERROR_REFUSED;
    } else {
      TKzHeaderPack pack = Pack;
      pack.LenPack = static_cast<int64_t>(Size);
      pack.GUIDTo = FGUIDTo;
      uint8_t head[TKzHeaderPack::WireSize];
      KzHeaderPackToBytes(pack, head);
      if (FFile >= 0) {
        const bool ok = pwrite(FFile, head, sizeof head, FFileSize) == static_cast<ssize_t>(sizeof head) &&
                        pwrite(FFile, Data, Size, FFileSize + static_cast<int64_t>(sizeof head)) ==
                            static_cast<ssize_t>(Size);
        if (ok) {
          FFileSize += static_cast<int64_t>(record);
        } else {
          FOwner->RedirectBook(-static_cast<int64_t>(record), true);
          error |= KZ_CLIENT_ERROR_REFUSED;
        }
      } else {
        FData.reserve(FData.size() + record);
        FData.insert(FData.end(), head, head + sizeof head);
        FData.insert(FData.end(), Data, Data + Size);
      }
      error |= ClientError;
      ++FPacketsIn;
    }
  }
  std::lock_guard<TCriticalSection> g(CriticalSectionEvent);
  const uint64_t now = NowMs();
  auto it = std::find_if(Sockets.begin(), Sockets.end(), [Feeder](const auto& s) { return s.first == Feeder; });
  if (it != Sockets.end()) {
    it->second = now;
  } else {
    Sockets.emplace_back(Feeder, now);
  }
  return error;
}

void TKzClientRedirect::TakeBatch(std::vector<uint8_t>& Out) {
  if (FFile >= 0) {
    int64_t end = FFileRead;
    uint8_t head[TKzHeaderPack::WireSize];
    while (end < FFileSize && pread(FFile, head, sizeof head, end) == static_cast<ssize_t>(sizeof head)) {
      const int64_t next = end + static_cast<int64_t>(RecordSize(head));
      if (end > FFileRead && next - FFileRead > static_cast<int64_t>(KZ_REDIRECT_MAX_BATCH)) break;
      end = std::min(next, FFileSize);
    }
    Out.resize(static_cast<size_t>(end - FFileRead));
    if (!Out.empty() && pread(FFile, Out.data(), Out.size(), FFileRead) != static_cast<ssize_t>(Out.size())) Out.clear();
    FOwner->RedirectBook(-(end - FFileRead), true);
    FFileRead = end;
    if (FFileRead >= FFileSize && ftruncate(FFile, 0) == 0) FFileRead = FFileSize = 0;
    return;
  }
  size_t end = 0;
  while (end + TKzHeaderPack::WireSize <= FData.size()) {
    const size_t next = end + RecordSize(FData.data() + end);
    if (end > 0 && next > KZ_REDIRECT_MAX_BATCH) break;
    end = std::min(next, FData.size());
  }
  if (end == FData.size()) {
    Out.swap(FData);
    FData.clear();
  } else {
    Out.assign(FData.begin(), FData.begin() + static_cast<std::ptrdiff_t>(end));
    FData.erase(FData.begin(), FData.begin() + static_cast<std::ptrdiff_t>(end));
  }
  FOwner->RedirectBook(-static_cast<int64_t>(Out.size()), false);
}

void TKzClientRedirect::Answer(TKzAnswerQueue& Out) {
  FLastRequestMs = NowMs();
  std::vector<uint8_t> batch;
  {
    std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
    TakeBatch(batch);
  }
  if (batch.empty()) {
    KzAppendSessionPack(MARKER_SESSION_NODATA, ServerSessionKey, 0, Out);
    return;
  }
  ++FBatches;
  const auto len = static_cast<int64_t>(batch.size());
  KzAppendSessionPack(MARKER_SESSION_BEGIN, ServerSessionKey, len, Out);
  Out.push_back(std::move(batch));
  KzAppendSessionPack(MARKER_SESSION_END, ServerSessionKey, len, Out);
}

void TKzClientRedirect::DoExecute() {
  while (!Terminated()) {
    const uint64_t idle = NowMs() - FLastRequestMs.load();
    if (idle >= KZ_REDIRECT_IDLE_MS) {
      FEndedByPeer = true;
      break;
    }
    FWake.WaitFor(static_cast<uint32_t>(KZ_REDIRECT_IDLE_MS - idle));
  }
  {
    std::lock_guard<TCriticalSection> g(CriticalSectionEvent);
    if (ClientSocket != KZ_INVALID_SOCKET) PlatformShutdown(ClientSocket);  // the relay's loop closes it
    ClientSocket = KZ_INVALID_SOCKET;
  }
  FOwner->RedirectEnded(this);
}

}  // namespace kz
