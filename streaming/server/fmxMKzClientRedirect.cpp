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
  auto b = std::make_shared<std::vector<uint8_t>>(TKzSessionPack::WireSize);
  KzSessionPackToBytes(p, b->data());
  Out.push_back({std::move(b), 0, TKzSessionPack::WireSize});
}

TKzClientRedirect::TKzClientRedirect(IKzRedirectOwner* Owner, uint8_t DataType, const TGUID& GUIDTo,
                                     TKzSessionKey SessionKey, uint32_t MaxSize, bool File, const std::string& Folder,
                                     uint32_t MemoryMaxSize)
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
  if (FFile < 0) {  // buffered in memory after all, and limited as memory is
    FFileName.clear();
    FMaxSize = MemoryMaxSize;
  }
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
  return FFile >= 0 ? static_cast<size_t>(FFileSize - FFileRead) : FMemBytes;
}

void TKzClientRedirect::EmptyLocked() {
  const int64_t held = FFile >= 0 ? FFileSize - FFileRead : static_cast<int64_t>(FMemBytes);
  if (held > 0) FOwner->RedirectBook(-held, FFile >= 0);
  if (held > 0) FBytesDone += static_cast<uint64_t>(held);
  FRecords.clear();
  FMemBytes = 0;
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
  return Append(Pack, Data, Size, nullptr, Feeder, Cleared);
}

uint32_t TKzClientRedirect::AddData(const TKzHeaderPack& Pack, const TKzSharedBytes& Packet, TKzConnSerial Feeder,
                                    bool& Cleared) {
  return Append(Pack, Packet->data(), Packet->size(), &Packet, Feeder, Cleared);
}

uint32_t TKzClientRedirect::Append(const TKzHeaderPack& Pack, const uint8_t* Data, size_t Size,
                                   const TKzSharedBytes* Shared, TKzConnSerial Feeder, bool& Cleared) {
  Cleared = false;
  uint32_t error = 0;
  {
    std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
    const size_t size = FFile >= 0 ? static_cast<size_t>(FFileSize - FFileRead) : FMemBytes;
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
          FBytesIn += record;
        } else {
          FOwner->RedirectBook(-static_cast<int64_t>(record), true);
          error |= KZ_CLIENT_ERROR_REFUSED;
        }
      } else {
        TRecord& r = FRecords.emplace_back();
        std::copy(head, head + sizeof head, r.Head.begin());
        r.Packet = Shared ? *Shared : std::make_shared<const std::vector<uint8_t>>(Data, Data + Size);
        FMemBytes += record;
        FBytesIn += record;
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

void TKzClientRedirect::TakeFileBatch(TKzAnswerQueue& Out, int64_t& Len) {
  int64_t end = FFileRead;
  uint8_t head[TKzHeaderPack::WireSize];
  while (end < FFileSize && pread(FFile, head, sizeof head, end) == static_cast<ssize_t>(sizeof head)) {
    const int64_t next = end + static_cast<int64_t>(RecordSize(head));
    if (end > FFileRead && next - FFileRead > static_cast<int64_t>(KZ_REDIRECT_MAX_BATCH)) break;
    end = std::min(next, FFileSize);
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(end - FFileRead));
  if (!bytes->empty() && pread(FFile, bytes->data(), bytes->size(), FFileRead) != static_cast<ssize_t>(bytes->size()))
    bytes->clear();
  FOwner->RedirectBook(-(end - FFileRead), true);
  FFileRead = end;
  if (FFileRead >= FFileSize && ftruncate(FFile, 0) == 0) FFileRead = FFileSize = 0;
  if (bytes->empty()) return;
  Len += static_cast<int64_t>(bytes->size());
  const size_t n = bytes->size();
  Out.push_back({std::move(bytes), 0, n});
}

void TKzClientRedirect::TakeBatch(TKzAnswerQueue& Out, int64_t& Len) {
  if (FFile >= 0) {
    TakeFileBatch(Out, Len);
    return;
  }
  // The header packs go out of one block of their own, each packet from
  // the bytes the channels share.
  size_t count = 0, bytes = 0;
  for (const TRecord& r : FRecords) {
    const size_t next = bytes + r.Head.size() + r.Packet->size();
    if (count > 0 && next > KZ_REDIRECT_MAX_BATCH) break;
    bytes = next;
    ++count;
  }
  if (count == 0) return;
  auto heads = std::make_shared<std::vector<uint8_t>>(count * TKzHeaderPack::WireSize);
  for (size_t i = 0; i < count; ++i) {
    TRecord& r = FRecords[i];
    const size_t at = i * TKzHeaderPack::WireSize;
    std::copy(r.Head.begin(), r.Head.end(), heads->begin() + static_cast<std::ptrdiff_t>(at));
    Out.push_back({heads, at, TKzHeaderPack::WireSize});
    const size_t n = r.Packet->size();
    Out.push_back({std::move(r.Packet), 0, n});
  }
  FRecords.erase(FRecords.begin(), FRecords.begin() + static_cast<std::ptrdiff_t>(count));
  FMemBytes -= bytes;
  Len += static_cast<int64_t>(bytes);
  FOwner->RedirectBook(-static_cast<int64_t>(bytes), false);
}

void TKzClientRedirect::Answer(TKzAnswerQueue& Out) {
  FLastRequestMs = NowMs();
  TKzAnswerQueue batch;
  int64_t len = 0;
  {
    std::lock_guard<TCriticalSection> g(CriticalSectionBuffer);
    TakeBatch(batch, len);
  }
  if (batch.empty()) {
    KzAppendSessionPack(MARKER_SESSION_NODATA, ServerSessionKey, 0, Out);
    return;
  }
  ++FBatches;
  KzAppendSessionPack(MARKER_SESSION_BEGIN, ServerSessionKey, len, Out);
  for (TKzAnswerPiece& p : batch) Out.push_back(std::move(p));
  KzAppendSessionPack(MARKER_SESSION_END, ServerSessionKey, len, Out);
  // Handed to the connection: counted as gone for the reliable kinds.
  FBytesDone += static_cast<uint64_t>(len);
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
