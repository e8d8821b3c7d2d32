#include "streaming/fmxMKzSenderServer.h"

#include <algorithm>
#include <memory>

#include "platform/fmxMKzPlatformStream.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzSenderListener.h"

namespace kz {

namespace {

constexpr int64_t kRequest = static_cast<int64_t>(TKzChannelRequest::WireSize);
constexpr size_t kSendSlice = 256 * 1024;  // an answer goes out in slices of this

}  // namespace

TKzCamSenderServer::TKzCamSenderServer(TKzSenderListenerThread* Sender, const TKzPullSettings& Settings,
                                       TKzSocket AClientSocket, TKzConnSerial Serial)
    : TKzBaseThread(true, "TKzCamSenderSrv"),
      FSender(Sender),
      FSettings(Settings),
      FSerial(Serial),
      ClientSocket(AClientSocket),
      FQueue(Settings.VideoQueueBytes, Settings.QueueBytes) {}

TKzCamSenderServer::~TKzCamSenderServer() {
  Terminate();
  WaitForEnd(INFINITE);
  CloseSocket();
}

void TKzCamSenderServer::CloseSocket() {
  std::lock_guard<std::mutex> g(FSocketLock);
  if (ClientSocket != KZ_INVALID_SOCKET) PlatformShutdown(ClientSocket);
  PlatformCloseSocket(ClientSocket);
}

void TKzCamSenderServer::SocketItemReleased() {
  Terminate();
  std::lock_guard<std::mutex> g(FSocketLock);
  if (ClientSocket != KZ_INVALID_SOCKET) PlatformShutdown(ClientSocket);
}

uint16_t TKzCamSenderServer::DataType() {
  std::lock_guard<TCriticalSection> g(CriticalSection);
  return FDataType;
}

TKzPullOffer TKzCamSenderServer::Offer(uint16_t ADataType, const uint8_t* Data, size_t Size, const TKzInfo& Info,
                                       bool& Served) {
  std::lock_guard<TCriticalSection> g(CriticalSection);
  Served = FDataType != 0 && FDataType == (ADataType & DATA_TYPE_MASK);
  if (!Served) return TKzPullOffer::kzpoRefused;
  return FQueue.Offer(ADataType, Data, Size, Info);
}

TKzSessionKey TKzCamSenderServer::SenderKey() const {
  return FSettings.GetSessionKey ? FSettings.GetSessionKey() : 0;
}

void TKzCamSenderServer::ConnectEvent(uint16_t ADataType) {
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_CONNECTED, ADataType, static_cast<LPARAM>(FSerial));
}

void TKzCamSenderServer::ConnectError(uint16_t ADataType) { KzErrorConnectedEvent(FSettings.Parent, ADataType); }

void TKzCamSenderServer::DisconnectEvent() {
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_DISCONNECTED, DataType(), static_cast<LPARAM>(SessionKey));
}

void TKzCamSenderServer::SentFileEvent(const TKzFileInfo& FileInfo) {
  auto sent = std::make_shared<TKzFileSent>();
  sent->HeaderInfo = {SessionKey, FSerial, FSettings.FileGUIDTo, FSettings.FGUIDFrom, FSettings.FileGUIDGroup};
  sent->FileInfo = FileInfo;
  KzPostConnectionEvent(FSettings.Parent, KZ_MSG_FILE_SENT, 0, reinterpret_cast<LPARAM>(sent.get()), sent);
}

TKzPacketSpec TKzCamSenderServer::GetInfo(uint16_t ADataType, const TKzInfo& Info) const {
  TKzPacketSpec spec;
  spec.DataType = ADataType & DATA_TYPE_MASK;
  spec.Compression = FSettings.CompressionOptions.ForDataType(ADataType);
  spec.BufferSize = FSettings.BufferSize;
  spec.UseGUID = FSettings.UseGUID;
  spec.GUIDFrom = FSettings.FGUIDFrom;
  spec.Info = Info;
  switch (spec.DataType) {
    case DATA_TYPE_USERDATA: spec.GUIDTo = FSettings.UserDataGUIDTo, spec.GUIDGroup = FSettings.UserDataGUIDGroup; break;
    case DATA_TYPE_CMD: spec.GUIDTo = FSettings.CmdGUIDTo, spec.GUIDGroup = FSettings.CmdGUIDGroup; break;
    case DATA_TYPE_FILE: spec.GUIDTo = FSettings.FileGUIDTo, spec.GUIDGroup = FSettings.FileGUIDGroup; break;
    default: spec.GUIDTo = FSettings.FGUIDTo, spec.GUIDGroup = FSettings.FGUIDGroup; break;
  }
  return spec;
}

int64_t TKzCamSenderServer::ReadSysData(bool Blocking, TKzSessionKey& RequesterKey, std::string& Cmd, TGUID& GUID,
                                        uint32_t Timeout) {
  if (IsExit()) return -3;
  // Bytes read past the previous request come first.
  FRequest.Clear();
  FRequest.Swap(FPending);
  int64_t have = FRequest.Size();
  if (have < kRequest) {
    const int64_t got = KzMReadFromSocket(ClientSocket, FRequest, false, have, Timeout, true, kRequest, nullptr, this);
    if (got < 0) return IsExit() ? -3 : -1;
    have += got;
    FRequest.SetSize(have);
  }
  if (IsStartServer && have > 0) {
    IsStartServer = false;
    FRequest.SetPosition(0);
    if (KzMIsHttpRequest(ClientSocket, FRequest, Blocking, nullptr, Timeout)) {
      FRequest.DeleteFront(FRequest.Position());
      have = FRequest.Size();
      if (have < kRequest) {
        const int64_t got = KzMReadFromSocket(ClientSocket, FRequest, false, have, Timeout, true, kRequest, nullptr, this);
        have += std::max<int64_t>(got, 0);
        FRequest.SetSize(have);
      }
    }
  }
  if (IsExit()) return -3;
  if (have == 0) return 0;
  if (have < kRequest) return -2;
  if (have > kRequest) {
    FPending.Write(FRequest.Memory() + kRequest, have - kRequest);
    FPending.SetPosition(0);
  }
  const TKzChannelRequest r = KzChannelRequestFromBytes(FRequest.Memory());
  Cmd = r.Text;
  GUID = r.GUID;
  RequesterKey = r.SessionKey;
  return kRequest;
}

bool TKzCamSenderServer::ParserCmd(const std::string& Cmd, uint16_t& ADataType) {
  uint8_t code = 0;
  const TKzChannelRequestKind kind = KzChannelRequestKind(Cmd, code);
  if (kind == TKzChannelRequestKind::kzcrUnknown) return true;  // no answer, the connection stays
  bool first = false;
  {
    std::lock_guard<TCriticalSection> g(CriticalSection);
    first = FDataType == 0;
    FDataType = code;
    if (kind == TKzChannelRequestKind::kzcrClear) FQueue.Take(code);
  }
  ADataType = code;
  if (first) ConnectEvent(code);
  return SendData(kind == TKzChannelRequestKind::kzcrData ? code : 0) >= 0;
}

int64_t TKzCamSenderServer::SendData(uint16_t ADataType) {
  std::vector<TKzPullItem> items;
  if (ADataType != 0) {
    std::lock_guard<TCriticalSection> g(CriticalSection);
    items = FQueue.Take(ADataType);
  }
  std::vector<TKzQueuedPayload> payloads;
  std::vector<TKzFileInfo> files;
  for (TKzPullItem& item : items) {
    TKzPacketSpec spec = GetInfo(ADataType, item.Info);
    if (spec.DataType == DATA_TYPE_FILE) {
      // The file from its offset on, read now.
      TFileStream f(item.Info.FileInfo.FileName, TFileMode::fmOpenRead);
      const int64_t offs = item.Info.FileInfo.FileOffs;
      const int64_t size = f.Valid() ? std::min<int64_t>(f.Size() - offs, KZ_MAX_PAYLOAD) : -1;
      if (size < 0) {
        KzPostMessageDebug(FSettings.Parent, 0, "file not sent: " + item.Info.FileInfo.FileName);
        continue;
      }
      item.Data.resize(static_cast<size_t>(size));
      f.Seek(offs, TSeekOrigin::soBeginning);
      f.Read(item.Data.data(), size);
      spec.FileStart = offs;
      files.push_back(item.Info.FileInfo);
    } else if (spec.DataType == DATA_TYPE_VIDEO && FSettings.OnVideoFrame) {
      FSettings.OnVideoFrame();
    }
    payloads.push_back(TKzQueuedPayload{spec, item.Data.data(), item.Data.size()});
  }
  std::vector<uint8_t> answer;
  KzBuildChannelBatch(SenderKey(), payloads.data(), payloads.size(), FWriter, FIndexPart, answer);
  int64_t sent = 0;
  for (size_t at = 0; at < answer.size() && sent >= 0; at += kSendSlice) {
    const size_t n = std::min(kSendSlice, answer.size() - at);
    sent = KzSendAll(ClientSocket, answer.data() + at, n, 0, this) < 0 ? -1 : sent + static_cast<int64_t>(n);
  }
  if (sent < 0 && !IsExit()) ConnectError(ADataType);
  for (const TKzFileInfo& f : files) SentFileEvent(f);
  return sent;
}

int64_t TKzCamSenderServer::ReadDataFromChannel() {
  int64_t r = 0;
  while (!IsExit()) {
    const uint16_t type = DataType();
    const TKzConnectionProperties& p = FSettings.ConnectionProperties;
    std::string cmd;
    TGUID guid;
    r = ReadSysData(GetUseBlocking(p, type), SessionKey, cmd, guid, GetTimeOut(p, type));
    if (r <= 0) break;
    uint16_t t = 0;
    if (!ParserCmd(cmd, t)) {
      r = -1;
      break;
    }
  }
  return r;
}

void TKzCamSenderServer::DoExecute() {
  IsStartServer = true;
  ReadDataFromChannel();
  // The listener's lock is only tried, so that this end never holds it up.
  for (;;) {
    TKzSocketList* list = nullptr;
    if (FSender->TryLockSocketList(list)) {
      list->DeleteSocket(FSerial);
      FSender->UnlockSocketList();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  DisconnectEvent();
  CloseSocket();
}

}  // namespace kz
