#include "sender/fmxMKzSendStreamThread.h"

#include <algorithm>
#include <cstring>

#include "streaming/Fmxmkzsocket.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "video/fmxMKzChangeContainer.h"
#include "streaming/server/fmxMKzServerAuth.h"
#include "video/fmxMKzFrameContainer.h"

namespace kz {

namespace {

constexpr uint32_t kIdleMs = 1000;       // keep-alive period of an idle stream connection
constexpr size_t kMaxFiles = 64;         // files waiting on one channel
constexpr size_t kDiffTimeAt = 15;       // DiffTime of a framed picture
constexpr size_t kFilePieceFloor = 1024;

bool SameInfo(uint16_t DataType, const TKzInfo& A, const TKzInfo& B) {
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: return A.VideoInfo == B.VideoInfo;
    case DATA_TYPE_AUDIO: return A.AudioInfo == B.AudioInfo;
    default: return true;
  }
}

}  // namespace

TKzSendStreamThread::TKzSendStreamThread(IKzSendChannelOwner* AParent, const TKzChannelSettings& Settings)
    : TKzBaseThread(true, "TKzSendStream"),
      Parent(AParent),
      FSettings(Settings),
      Stream(Settings.DataType, Settings.QueueBound) {}

TKzSendStreamThread::~TKzSendStreamThread() {
  Terminate();
  WaitForEnd(INFINITE);
  Disconnect();
}

void TKzSendStreamThread::TerminatedSet() {
  TKzBaseThread::TerminatedSet();
  FWake.SetEvent();
  // A send blocked on a full connection ends now.
  std::lock_guard<TCriticalSection> g(CSSend);
  if (FSocket != KZ_INVALID_SOCKET) PlatformShutdown(FSocket);
}

TKzQueueAdd TKzSendStreamThread::CopyStream(const TKzInfo& AInfo, const uint8_t* Data, size_t Size,
                                            const TGUID& GUIDFrom, const TGUID& GUIDTo, const TGUID& GUIDGroup,
                                            bool& ClearedBuffer) {
  ClearedBuffer = false;
  TKzQueueAdd r;
  {
    std::lock_guard<TCriticalSection> g(CSCopyStream);
    if (FHaveInfo && !SameInfo(FSettings.DataType, Info, AInfo) && !Stream.Empty()) {
      Stream.Clear();
      ClearedBuffer = true;
    }
    Info = AInfo;
    FHaveInfo = true;
    if ((FSettings.DataType & DATA_TYPE_MASK) == DATA_TYPE_VIDEO && Size >= kDiffTimeAt + 8) {
      // Only the newest frame waits, so no frame follows it at a known distance.
      std::vector<uint8_t> frame(Data, Data + Size);
      if (KzIsChangeContainer(frame.data(), frame.size())) {
        // The CRC covers the bytes as they go out.
        std::memset(frame.data() + KZ_CHANGE_DIFFTIME_AT, 0, 8);
        KzChangeRefreshCrc(frame.data(), frame.size());
      } else {
        std::memset(frame.data() + kDiffTimeAt, 0, 8);
      }
      r = Stream.AddData(GUIDTo, GUIDFrom, GUIDGroup, frame.data(), frame.size());
    } else {
      r = Stream.AddData(GUIDTo, GUIDFrom, GUIDGroup, Data, Size);
    }
  }
  if (r != TKzQueueAdd::kzqaRefused) FWake.SetEvent();
  return r;
}

bool TKzSendStreamThread::AddFile(const TKzFileJob& Job) {
  {
    std::lock_guard<TCriticalSection> g(CSCopyStream);
    if (FFiles.size() >= kMaxFiles) return false;
    FFiles.push_back(Job);
  }
  FWake.SetEvent();
  return true;
}

void TKzSendStreamThread::TakeOver(TKzSendStreamThread& Ended) {
  // This channel is not started yet, so no one else takes its lock meanwhile.
  std::lock_guard<TCriticalSection> e(Ended.CSCopyStream);
  std::lock_guard<TCriticalSection> g(CSCopyStream);
  std::vector<uint8_t> left = Ended.Stream.Take();
  Stream.PutBack(left.data(), left.size());
  for (TKzFileJob& f : Ended.FFiles) FFiles.push_back(std::move(f));
  Ended.FFiles.clear();
  Info = Ended.Info;
  FHaveInfo = Ended.FHaveInfo;
  FIndexPart = Ended.FIndexPart;
}

bool TKzSendStreamThread::IsIdle() {
  std::lock_guard<TCriticalSection> g(CSCopyStream);
  return Stream.Empty() && FFiles.empty() && !FBusy;
}

size_t TKzSendStreamThread::QueuedBytes() {
  std::lock_guard<TCriticalSection> g(CSCopyStream);
  return Stream.Bytes();
}

bool TKzSendStreamThread::IsSendingFile() {
  std::lock_guard<TCriticalSection> g(CSCopyStream);
  return !FFiles.empty();
}

bool TKzSendStreamThread::ConnectTo() {
  const uint16_t code = FSettings.DataType & DATA_TYPE_MASK;
  TComponent* owner = Parent->ChannelComponent();
  KzPostConnectionEvent(owner, KZ_MSG_CONNECTING, code, 0);
  TKzSocket s = KZ_INVALID_SOCKET;
  if (FSettings.Protocol == TKzProtocol::kzpUDP) {
    FAddress = PlatformLookupIPv4(FSettings.ReceiverHost);
    if (FAddress != 0) s = PlatformSocketUDP();
  } else {
    std::string error;
    const auto [host, port] = KzRelayAddress(FSettings.ReceiverHost, FSettings.ReceiverPort, FAttempt++);
    TKzStreamTarget target{host, port, FSettings.Protocol, &FSettings.Proxy,
                           FSettings.ConnectTimeout};
    s = KzMConnectStream(target, this, error);
    if (s == KZ_INVALID_SOCKET && !Terminated()) KzPostMessageDebug(owner, code, "connect failed: " + error);
    if (s != KZ_INVALID_SOCKET) PlatformSetNoDelay(s, true);
  }
  if (s == KZ_INVALID_SOCKET) {
    if (!Terminated()) KzErrorConnectedEvent(owner, code);
    return false;
  }
  {
    std::lock_guard<TCriticalSection> g(CSSend);
    FSocket = s;
  }
  if (Terminated()) return false;
  if (!FSettings.RelaySecret.empty() && FSettings.Protocol != TKzProtocol::kzpUDP) {
    const std::vector<uint8_t> proof = KzMakeAuthPacket(FSettings.AuthGUID, FSettings.RelaySecret);
    if (KzSendAll(s, proof.data(), proof.size(), 0, this) != static_cast<int64_t>(proof.size())) return false;
  }
  KzPostConnectionEvent(owner, KZ_MSG_CONNECTED, code, static_cast<LPARAM>(s));
  return true;
}

void TKzSendStreamThread::Disconnect() {
  std::lock_guard<TCriticalSection> g(CSSend);
  if (FSocket == KZ_INVALID_SOCKET) return;
  if (FSettings.Protocol != TKzProtocol::kzpUDP) PlatformShutdown(FSocket);
  PlatformCloseSocket(FSocket);
}

bool TKzSendStreamThread::SendKeepAlive() {
  if (KzSendAll(FSocket, MARKER_NULL.data(), MARKER_NULL.size(), 0, this) >= 0) {
    if (Parent->ChannelDumping()) Parent->ChannelDump(MARKER_NULL.data(), MARKER_NULL.size());
    return true;
  }
  if (!Terminated()) KzErrorConnectedEvent(Parent->ChannelComponent(), FSettings.DataType & DATA_TYPE_MASK);
  return false;
}

TKzCompressionType TKzSendStreamThread::CompressionOf(const uint8_t* Data, size_t Size) const {
  if ((FSettings.DataType & DATA_TYPE_MASK) != DATA_TYPE_CMD) return FSettings.Compression;
  // The library's and the relay's own commands always travel as they are.
  TMemoryStream s;
  s.Write(Data, static_cast<int64_t>(Size));
  s.SetPosition(0);
  for (const TKzCmd& c : KzLoadCmdPayload(s))
    if (KzIsSystemCmd(c.Name)) return TKzCompressionType::kztcNone;
  return FSettings.Compression;
}

int64_t TKzSendStreamThread::SendPayload(const TKzPacketSpec& Spec, const uint8_t* Data, size_t Size,
                                         const TKzFileJob* File) {
  TKzSendStreamArgs a;
  a.Owner = Parent->ChannelComponent();
  a.Thread = this;
  a.SessionKey = Parent->ChannelSessionKey();
  a.Spec = Spec;
  a.SendParam = Parent->ChannelSendParam(FSettings.DataType);
  if (a.SendParam.BufferSize == 0) a.SendParam.BufferSize = static_cast<uint32_t>(KzMGetSendBufferSize(FSocket, 0));
  a.Socket = FSocket;
  a.Address = FAddress;
  a.Port = FSettings.ReceiverPort;
  a.DatagramPause = FSettings.Protocol == TKzProtocol::kzpUDP ? FSettings.TimeMSecBetweenSend : 0;
  TMemoryStream dump;
  if (Parent->ChannelDumping()) a.Dump = &dump;
  if (File) {
    a.OnPacketSent = [File](TComponent* Owner, TKzSessionKey, uint16_t, const TKzInfo& PacketInfo, TKzSocket,
                            const TGUID&, const TGUID&, const TGUID&) {
      auto p = std::make_shared<TKzFileProgress>();
      p->FileName = File->Info.FileName, p->FileGUID = File->Info.FileGUID;
      p->FileOffs = PacketInfo.FileInfo.FileOffs, p->TotalFileSize = PacketInfo.FileInfo.TotalFileSize;
      p->GUIDTo = File->GUIDTo, p->GUIDGroup = File->GUIDGroup;
      KzPostConnectionEvent(Owner, KZ_MSG_FILE_PROGRESS, 0, reinterpret_cast<LPARAM>(p.get()), p);
    };
  }
  TMemoryStream payload;
  payload.Write(Data, static_cast<int64_t>(Size));
  payload.SetPosition(0);
  const int64_t r = KzSendStream(a, payload, FIndexPart, &FWriter);
  if (dump.Size() > 0) Parent->ChannelDump(dump.Memory(), static_cast<size_t>(dump.Size()));
  if (r > 0) Parent->ChannelBytesSent(r);
  return r;
}

bool TKzSendStreamThread::SendRecords(std::vector<uint8_t>& Work) {
  size_t pos = 0;
  bool ok = true;
  TKzHeaderPack pack;
  const uint8_t* payload = nullptr;
  size_t size = 0, at = 0;
  TKzInfo info;
  {
    std::lock_guard<TCriticalSection> g(CSCopyStream);
    info = Info;
  }
  while (ok && !Terminated() && TKzSendQueue::NextRecord(Work, pos, pack, payload, size)) {
    TKzPacketSpec spec;
    spec.DataType = FSettings.DataType & DATA_TYPE_MASK;
    spec.Compression = CompressionOf(payload, size);
    spec.Protocol = FSettings.Protocol;
    spec.UseGUID = FSettings.UseGUID;
    spec.GUIDFrom = pack.GUIDFrom, spec.GUIDTo = pack.GUIDTo, spec.GUIDGroup = pack.GUIDGroup;
    spec.Info = info;
    ok = SendPayload(spec, payload, size, nullptr) >= 0;
    if (ok) {
      at = pos;
      if (spec.DataType == DATA_TYPE_VIDEO) Parent->ChannelVideoSent();
    }
  }
  std::lock_guard<TCriticalSection> g(CSCopyStream);
  Stream.PutBack(Work.data() + at, Work.size() - at);  // nothing when all went out
  FBusy = false;
  return ok;
}

bool TKzSendStreamThread::SendFilePart() {
  TKzFileJob job;
  {
    std::lock_guard<TCriticalSection> g(CSCopyStream);
    if (FFiles.empty()) return true;
    job = FFiles.front();
  }
  TComponent* owner = Parent->ChannelComponent();
  if (!FileStream || FileStream->FileName() != job.Info.FileName) {
    FileStream = std::make_unique<TFileStream>(job.Info.FileName, TFileMode::fmOpenRead);
    if (!FileStream->Valid()) {
      KzPostMessageDebug(owner, DATA_TYPE_FILE, "file not sent: " + job.Info.FileName);
      FileStream.reset();
      std::lock_guard<TCriticalSection> g(CSCopyStream);
      FFiles.pop_front();
      return true;
    }
  }
  const int64_t total = FileStream->Size();
  const TKzSendParam param = Parent->ChannelSendParam(FSettings.DataType);
  const size_t nameBytes = job.Info.FileName.size() * 2;
  // One piece fills about one packet, so every packet says where its bytes lie.
  const size_t piece = std::max<size_t>(kFilePieceFloor, param.BufferSize > nameBytes + 200
                                                             ? param.BufferSize - nameBytes - 200 : 0);
  std::vector<uint8_t> buf;
  int64_t offs = std::clamp<int64_t>(job.Info.FileOffs, 0, total);
  bool ok = true;
  while (ok && offs < total && !Terminated()) {
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(piece), total - offs);
    buf.resize(static_cast<size_t>(n));
    FileStream->Seek(offs, TSeekOrigin::soBeginning);
    if (FileStream->Read(buf.data(), n) != n) {
      KzPostMessageDebug(owner, DATA_TYPE_FILE, "file not read: " + job.Info.FileName);
      offs = total;  // given up: reported as sent so far
      break;
    }
    TKzPacketSpec spec;
    spec.DataType = DATA_TYPE_FILE;
    spec.Compression = FSettings.Compression;
    spec.Protocol = FSettings.Protocol;
    spec.UseGUID = FSettings.UseGUID;
    spec.GUIDFrom = job.GUIDFrom, spec.GUIDTo = job.GUIDTo, spec.GUIDGroup = job.GUIDGroup;
    spec.Info.MediaIndex = FSettings.MediaIndex;
    spec.Info.FileInfo = job.Info;
    spec.Info.FileInfo.FileName = job.Info.FileName.substr(job.Info.FileName.find_last_of('/') + 1);
    spec.FileStart = offs;
    spec.FileTotal = total;
    ok = SendPayload(spec, buf.data(), buf.size(), &job) >= 0;
    if (!ok) break;
    offs += n;
    std::lock_guard<TCriticalSection> g(CSCopyStream);
    FFiles.front().Info.FileOffs = offs;  // a later channel resumes here
  }
  if (!ok || offs < total) return ok;
  FileStream.reset();
  auto done = std::make_shared<TKzFileProgress>();
  done->FileName = job.Info.FileName, done->FileGUID = job.Info.FileGUID;
  done->FileOffs = done->TotalFileSize = total;
  done->GUIDTo = job.GUIDTo, done->GUIDGroup = job.GUIDGroup;
  KzPostConnectionEvent(owner, KZ_MSG_FILE_DONE, DATA_TYPE_FILE, reinterpret_cast<LPARAM>(done.get()), done);
  std::lock_guard<TCriticalSection> g(CSCopyStream);
  FFiles.pop_front();
  return true;
}

void TKzSendStreamThread::DoExecute() {
  Run();
  FEndTick.store(KzMGetTickCount(), std::memory_order_release);
}

void TKzSendStreamThread::Run() {
  const uint16_t code = FSettings.DataType & DATA_TYPE_MASK;
  if (!ConnectTo()) {
    FFailed.store(true, std::memory_order_release);
    return;
  }
  const bool datagrams = FSettings.Protocol == TKzProtocol::kzpUDP;
  bool ok = true;
  while (ok && !Terminated()) {
    bool pendingFile = false;
    {
      std::lock_guard<TCriticalSection> g(CSCopyStream);
      pendingFile = !FFiles.empty();
    }
    // Datagram channels wait a second too, only to notice termination; they never send a keep-alive.
    const bool woken = pendingFile || FWake.WaitFor(kIdleMs) == TWaitResult::wrSignaled;
    if (Terminated()) break;
    bool sent = false;
    if (code == DATA_TYPE_FILE) {
      ok = SendFilePart();
      sent = ok;
    } else {
      std::vector<uint8_t> work;
      {
        std::lock_guard<TCriticalSection> g(CSCopyStream);
        work = Stream.Take();
        FBusy = !work.empty();
      }
      if (!work.empty()) {
        ok = SendRecords(work);
        sent = true;
      } else if (!woken && !datagrams) {
        ok = SendKeepAlive();
      }
    }
    if (sent && FSettings.SendType == TKzMSendType::kzmvstOnlyCurrentData) break;
    if (!Parent->ChannelActive()) break;
  }
  if (!ok) FFailed.store(true, std::memory_order_release);
  Disconnect();
  KzPostConnectionEvent(Parent->ChannelComponent(), KZ_MSG_DISCONNECTED, code,
                        static_cast<LPARAM>(Parent->ChannelSessionKey()));
}

}  // namespace kz
