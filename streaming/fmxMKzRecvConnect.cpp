#include "streaming/fmxMKzRecvConnect.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "foundation/Fmxmkzmediatypefuncs.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzCamReceiverThread.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "streaming/server/fmxMKzServerAuth.h"

namespace kz {

namespace {

constexpr uint32_t kStopCheckMs = 250;  // reads wake this often to see a stop
constexpr size_t kSpoolPiece = 65536;

uint64_t NowMs() { return KzMGetTickCount(); }

// A temporary file only this process's user may read (mode 0600): its
// descriptor, with its name in Name; -1 when none could be made.
int MakeTempFile(const std::string& Prefix, std::string& Name) {
  std::string pattern = KzMGetSysTempPath() + "/" + Prefix + "XXXXXX";
  const int fd = mkstemp(pattern.data());
  Name = fd >= 0 ? pattern : std::string();
  return fd;
}

}  // namespace

uint32_t KzPollInterval(uint8_t Code, int32_t IdleModeCounter) {
  if (IdleModeCounter >= KZ_IDLE_POLLS) return KZ_IDLE_POLL_MS;
  switch (Code) {
    case DATA_TYPE_VIDEO:
    case DATA_TYPE_AUDIO: return 100;
    case DATA_TYPE_USERDATA:
    case DATA_TYPE_CMD: return 500;
    default: return 1000;
  }
}

TRecvConnect::TRecvConnect(TKzReceiverThread* AOwner, uint8_t ADataType, const TGUID& GUIDFrom,
                           const std::string& AHost, uint16_t APort)
    : TKzBaseThread(true, "TRecvConnect"),
      DataType(ADataType),
      nGUIDFrom(GUIDFrom),
      Owner(AOwner),
      Host(AHost),
      Port(APort),
      FSerial(KzMNewConnectionSerial()) {}

TRecvConnect::~TRecvConnect() {
  StopThread();
  WaitForEnd(INFINITE);
  CloseSocket();
}

void TRecvConnect::StopThread() {
  Terminate();
  std::lock_guard<std::mutex> g(FSocketLock);
  if (FSocket != KZ_INVALID_SOCKET) PlatformShutdown(FSocket);
}

void TRecvConnect::CloseSocket() {
  std::lock_guard<std::mutex> g(FSocketLock);
  PlatformCloseSocket(FSocket);
  FSocket = KZ_INVALID_SOCKET;
}

void TRecvConnect::DoExecute() {
  const void* parent = Owner->Target().NotifyTarget();
  Status = 1;
  KzPostConnectionEvent(parent, KZ_MSG_CONNECTING, DataType, 0);
  KzPostConnectionEvent(parent, KZ_MSG_OPEN_CHANNEL, DataType, 0);
  int spool = -1, work = -1;
  if (DataType == DATA_TYPE_FILE && Owner->Settings().UseTempFiles) {
    spool = MakeTempFile("kzmedia_sd", FSpoolName);
    work = MakeTempFile("kzmedia_tmp", FWorkName);
  }
  FSpool = spool;
  const int64_t result = ReadDataFromChannel();
  FSpool = -1;
  for (int fd : {spool, work})
    if (fd >= 0) close(fd);
  for (const std::string& n : {FSpoolName, FWorkName})
    if (!n.empty()) unlink(n.c_str());
  EndChannel(result);
}

void TRecvConnect::EndChannel(int64_t Result) {
  const void* parent = Owner->Target().NotifyTarget();
  Status = 3;
  if (DataType == DATA_TYPE_VIDEO) Owner->Target().StopVideoOf(nGUIDFrom);
  if (Result >= 0 || Result == kStopped)
    KzPostConnectionEvent(parent, KZ_MSG_DISCONNECTED, DataType, static_cast<LPARAM>(ServerSessionKey));
  else
    KzErrorConnectedEvent(parent, DataType);
  KzPostConnectionEvent(parent, KZ_MSG_CLOSE_CHANNEL, DataType, 0);
  Owner->Target().DropKey(static_cast<int32_t>(DataType + 256 * FSerial));
  CloseSocket();
}

int64_t TRecvConnect::ReadDataFromChannel() {
  const TKzReceiverSettings& s = Owner->Settings();
  const bool proxy = s.Proxy.ProxyMode() == TKzMFProxyMode::kzmManualSettings;
  int32_t failures = 0;
  int64_t result = 0;
  bool first = true;
  while (!Terminated() && failures < std::max(s.RetryCount, 1)) {
    CloseSocket();
    ServerSessionKey = 0;  // pinned afresh on every connection
    FBatches = TKzBatchReader();
    FReader.Reset();
    std::string error;
    const auto [host, port] = KzRelayAddress(Host, Port, FAttempt++);  // the next relay of a list
    const TKzStreamTarget target{host, port, s.Protocol == TKzProtocol::kzpHTTP ? TKzProtocol::kzpHTTP : TKzProtocol::kzpTCP,
                                 proxy ? &s.Proxy : nullptr,
                                 static_cast<uint32_t>(std::max(s.ConnectionProperties.ConnectTimeout(), 1))};
    const TKzSocket sock = KzMConnectStream(target, this, error);
    if (sock == KZ_INVALID_SOCKET) {
      ++failures;
      result = kFailed;
      SleepUnlessTerminated(100);
      continue;
    }
    {
      std::lock_guard<std::mutex> g(FSocketLock);
      FSocket = sock;
    }
    if (Terminated()) break;
    if (!s.RelaySecret.empty() && !SendProof()) {
      ++failures;
      continue;
    }
    failures = 0;
    if (!first) {
      ++Reconnects;
      Owner->Target().DropKey(static_cast<int32_t>(DataType + 256 * FSerial));
      FSerial = KzMNewConnectionSerial();
    }
    first = false;
    IsStartRecv = true;
    do {
      result = CreateConnect();
    } while (result > 0 && !Terminated());
  }
  return Terminated() ? kStopped : result;
}

bool TRecvConnect::SendProof() {
  const std::vector<uint8_t> proof = KzMakeAuthPacket(Owner->Settings().GUIDMy, Owner->Settings().RelaySecret);
  return KzSendAll(FSocket, proof.data(), proof.size(), 0, this, 1000) == static_cast<int64_t>(proof.size());
}

bool TRecvConnect::SendSysCmd(bool Clear) {
  TKzChannelRequest r;
  r.Text = Clear ? KzChannelRequestText(TKzChannelRequestKind::kzcrClear, DataType) : KzPullRequestText(DataType);
  r.GUID = Owner->Settings().GUIDMy;
  r.SessionKey = ServerSessionKey;
  uint8_t b[TKzChannelRequest::WireSize];
  KzChannelRequestToBytes(r, b);
  ++Polls;
  TimeOld = NowMs();
  return KzSendAll(FSocket, b, sizeof b, 0, this, 1000) == static_cast<int64_t>(sizeof b);
}

int64_t TRecvConnect::ReadAnswer(TKzBatch& Batch) {
  const uint32_t timeout = GetTimeOut(Owner->Settings().ConnectionProperties, DataType);
  const uint64_t deadline = NowMs() + timeout;
  std::vector<uint8_t> buf(std::max<size_t>(Owner->Settings().BufferSize, 512));
  while (!FBatches.Next(Batch)) {
    if (Terminated()) return kStopped;
    if (NowMs() >= deadline) return kStale;
    const int64_t n = KzMRecvNonBlock(FSocket, buf.data(), static_cast<int64_t>(buf.size()), false,
                                      std::min<uint64_t>(kStopCheckMs, deadline - NowMs()), this);
    if (n < 0) return kFailed;
    if (n == 0 && PlatformPollRead(FSocket, 0) == 1) return kStale;  // the peer closed
    if (n > 0) FBatches.Feed(buf.data(), static_cast<size_t>(n));
  }
  if (!Batch.Valid) return kStale;
  if (ServerSessionKey == 0) {
    ServerSessionKey = Batch.Begin.SessionKey;
    if (DataType == DATA_TYPE_CMD) Owner->Target().CommandKeyPinned(ServerSessionKey);
  } else if (Batch.Begin.SessionKey != ServerSessionKey) {
    return kStale;  // the sender restarted
  }
  return 1;
}

int64_t TRecvConnect::CreateConnect() {
  IdleModeCounter = 0;
  for (;;) {
    if (Terminated()) return kStopped;
    const bool clear = IsClearData.exchange(false);
    if (!SendSysCmd(clear)) return kFailed;
    TKzBatch batch;
    const int64_t r = ReadAnswer(batch);
    if (r <= 0) return r;
    if (IsStartRecv) {
      IsStartRecv = false;
      Status = 2;
      KzPostConnectionEvent(Owner->Target().NotifyTarget(), KZ_MSG_CONNECTED, DataType, static_cast<LPARAM>(FSerial));
    }
    if (batch.Chunks.empty()) {
      WaitInterval();
    } else {
      IdleModeCounter = 0;
      HandBatch(batch);
    }
  }
}

void TRecvConnect::WaitInterval() {
  const int32_t idle = ++IdleModeCounter;
  const uint64_t due = TimeOld + std::max<uint32_t>(KzPollInterval(DataType, idle), 1);
  const uint64_t now = NowMs();
  if (due > now) SleepUnlessTerminated(static_cast<uint32_t>(due - now));
}

void TRecvConnect::HandBatch(const TKzBatch& Batch) {
  const int32_t key = static_cast<int32_t>(DataType + 256 * FSerial);
  auto take = [&](const uint8_t* Data, size_t Size) {
    FReader.Feed(Data, Size);
    while (FReader.Next(FPacket)) {
      if (FPacket.Header.DataType() != DataType) continue;  // a channel carries its own type only
      Owner->Deliver(key, FPacket, FSerial, ServerSessionKey);
    }
  };
  for (const TKzBatchChunk& c : Batch.Chunks) {
    if (FSpool < 0) {
      take(c.Packet.data(), c.Packet.size());
      continue;
    }
    // Files pass through the spool file in pieces, not as one block of memory.
    if (ftruncate(FSpool, 0) != 0 || pwrite(FSpool, c.Packet.data(), c.Packet.size(), 0) !=
                                         static_cast<ssize_t>(c.Packet.size())) {
      take(c.Packet.data(), c.Packet.size());
      continue;
    }
    std::vector<uint8_t> piece(kSpoolPiece);
    for (off_t at = 0; at < static_cast<off_t>(c.Packet.size());) {
      const ssize_t n = pread(FSpool, piece.data(), piece.size(), at);
      if (n <= 0) break;
      take(piece.data(), static_cast<size_t>(n));
      at += n;
    }
  }
}

}  // namespace kz
