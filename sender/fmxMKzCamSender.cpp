// The sender's life cycle: properties, activation and sessions, channels,
// flow control, timing, the dump and the notifications of its threads.
#include "sender/fmxMKzCamSender.h"

#include <algorithm>

#include "audio/fmxMKzAudioSource.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {

constexpr uint32_t kChannelRetryMs = 300;  // an ended channel is not reopened sooner

}  // namespace

TKzCamSender::TKzCamSender(TComponent* AOwner) : TCustomKzSender(AOwner), FProxyProperty(this) {
  KzInitFPS(_FPS);
  RestoreSpeed();
  if (!IsDesigning()) RegisterHandlers();
}

TKzCamSender::~TKzCamSender() {
  Destroying();
  FActive.store(false);
  {
    std::unique_ptr<TKzSenderEncodeThread> encoder;
    {
      std::lock_guard<std::mutex> g(FEncodeThreadLock);
      encoder.swap(FEncodeThread);
    }
    encoder.reset();  // waits for the frame being encoded
  }
  StopChannels();
  SetVideoSource(nullptr);
  SetAudioSource(nullptr);
  SetExtraMediaSources({});
  if (FRegistered) KzMessages().UnRegister2(this);
}

void TKzCamSender::RegisterHandlers() {
  auto socketEvent = [this](TKzSocketEvent TKzCamSender::*Event) {
    return [this, Event](TMessage& m) {
      if ((this->*Event) && !IsDestroying()) (this->*Event)(this, static_cast<uint16_t>(m.WParam),
                                                            static_cast<uint64_t>(m.LParam));
    };
  };
  TMessagingSystem& pump = KzMessages();
  pump.RegisterMessageHandler2(this, KZ_MSG_CONNECTED, socketEvent(&TKzCamSender::OnConnected));
  pump.RegisterMessageHandler2(this, KZ_MSG_DISCONNECTED, socketEvent(&TKzCamSender::OnDisconnect));
  pump.RegisterMessageHandler2(this, KZ_MSG_CONNECTION_ERROR, socketEvent(&TKzCamSender::OnConnectError));
  pump.RegisterMessageHandler2(this, KZ_MSG_CONNECTING, socketEvent(&TKzCamSender::OnConnecting));
  pump.RegisterMessageHandler2(this, KZ_MSG_CLEAR_BUFFER, [this](TMessage& m) {
    if (OnSendClearBuffer && !IsDestroying())
      OnSendClearBuffer(this, static_cast<uint16_t>(m.WParam), static_cast<uint16_t>(m.LParam));
  });
  pump.RegisterMessageHandler2(this, KZ_MSG_FILE_PROGRESS, [this](TMessage& m) {
    if (OnSendFileData && !IsDestroying()) OnSendFileData(this, *reinterpret_cast<TKzFileProgress*>(m.LParam));
  });
  pump.RegisterMessageHandler2(this, KZ_MSG_FILE_DONE, [this](TMessage& m) {
    const auto* p = reinterpret_cast<TKzFileProgress*>(m.LParam);
    if (OnSentFile && !IsDestroying()) OnSentFile(this, p->FileName, p->GUIDTo);
  });
  pump.RegisterMessageHandler2(this, KZ_MSG_DEBUG, [this](TMessage& m) {
    if (UsePostDebug && F_DebugDataSend && !IsDestroying()) F_DebugDataSend(KzMessageText(m));
  });
  FRegistered = true;
}

// ---- Properties

void TKzCamSender::SetActive(bool Value) {
  if (Value == Active()) return;
  if (!Value) {
    size_t indexes = 0;
    {
      std::lock_guard<TCriticalSection> g(FChannelLock);
      indexes = FChannels[static_cast<size_t>(KzDataTypeSlot(DATA_TYPE_CMD))].size();
    }
    for (size_t i = 0; i < indexes; ++i) WaitForSendCmd(static_cast<uint16_t>(i));
  }
  FActive.store(Value, std::memory_order_release);
  if (!IsLoading()) DoSetActive();
}

void TKzCamSender::Loaded() {
  TCustomKzSender::Loaded();
  DoSetActive();
}

void TKzCamSender::SetProtocol(TKzProtocol Value) {
  FProtocol = Value;
  if (Value == TKzProtocol::kzpUDP)
    FBufferSize.store(std::min<uint32_t>(FBufferSize.load(), static_cast<uint32_t>(KZ_MAX_DATAGRAM)));
  RestoreSpeed();
  if (Active()) DoSetActive();
}

void TKzCamSender::SetBufferSize(uint32_t Value) {
  if (FProtocol.load() == TKzProtocol::kzpUDP) Value = std::min<uint32_t>(Value, static_cast<uint32_t>(KZ_MAX_DATAGRAM));
  FBufferSize.store(Value);
  RestoreSpeed();
  if (Active()) DoSetActive();
}

void TKzCamSender::SetTCPConnectionType(TKzTCPConnectionType Value) {
  FTCPConnectionType = Value;
  if (Active()) DoSetActive();
}

void TKzCamSender::SetSenderPort(uint16_t Value) {
  FSenderPort = Value;
  if (Active()) DoSetActive();
}

void TKzCamSender::UpdateProxy() {
  if (Active()) DoSetActive();
}

void TKzCamSender::SetEncoding(TKzEncodingType Value) {
  if (Value == TKzEncodingType::kzetMixFormat || static_cast<uint8_t>(Value) > 9)
    throw EKzMediaError("encoding " + std::to_string(static_cast<int>(Value)) +
                        " is not available: whole frames of the mixed format are not made by this sender");
  if (FEncoding.exchange(Value) != Value) ImageInfoList.SetNeedSendFullFrame();
}

#define KZ_SENDER_TEXT(Name)                                        \
  std::string TKzCamSender::Name() const {                           \
    std::lock_guard<std::mutex> g(FTextLock);                         \
    return F##Name;                                                   \
  }
KZ_SENDER_TEXT(ReceiverHost)
KZ_SENDER_TEXT(GUIDFrom)
KZ_SENDER_TEXT(GUIDTo)
KZ_SENDER_TEXT(GUIDGroup)
KZ_SENDER_TEXT(SourceGUID)
KZ_SENDER_TEXT(RelaySecret)
#undef KZ_SENDER_TEXT

void TKzCamSender::SetRelaySecret(const std::string& Value) {
  std::lock_guard<std::mutex> g(FTextLock);
  FRelaySecret = Value;
}

void TKzCamSender::SetReceiverHost(const std::string& Value) {
  std::lock_guard<std::mutex> g(FTextLock);
  FReceiverHost = Value;
}

// A GUID text is checked when it is set, so that a send never meets a bad one.
#define KZ_SENDER_GUID_SETTER(Name)                       \
  void TKzCamSender::Set##Name(const std::string& Value) { \
    (void)ConvertGUID(Value);                               \
    std::lock_guard<std::mutex> g(FTextLock);               \
    F##Name = Value;                                        \
  }
KZ_SENDER_GUID_SETTER(GUIDFrom)
KZ_SENDER_GUID_SETTER(GUIDTo)
KZ_SENDER_GUID_SETTER(GUIDGroup)
KZ_SENDER_GUID_SETTER(SourceGUID)
#undef KZ_SENDER_GUID_SETTER

// ---- Sources

void TKzCamSender::LinkSource(TComponent* Old, TComponent* New, bool Video) {
  if (Old == New) return;
  if (Old && !Old->IsDestroying()) {
    if (Video)
      static_cast<TKzVideoSource*>(Old)->UnRegisterCamSender(this);
    else
      static_cast<TKzAudioSource*>(Old)->UnRegisterCamSender(this);
    Old->RemoveFreeNotification(this);
  }
  if (New) {
    New->FreeNotification(this);
    if (Video)
      static_cast<TKzVideoSource*>(New)->RegisterCamSender(this);
    else
      static_cast<TKzAudioSource*>(New)->RegisterCamSender(this);
  }
}

void TKzCamSender::SetVideoSource(TKzVideoSource* Value) {
  TKzVideoSource* old = FVideoSource;
  {
    std::lock_guard<std::mutex> g(FSourceLock);
    FVideoSource = Value;
  }
  LinkSource(old, Value, true);
}

void TKzCamSender::SetAudioSource(TKzAudioSource* Value) {
  TKzAudioSource* old = FAudioSource;
  {
    std::lock_guard<std::mutex> g(FSourceLock);
    FAudioSource = Value;
  }
  LinkSource(old, Value, false);
}

void TKzCamSender::SetExtraMediaSources(const TKzMediaSourceCollection& Value) {
  TKzMediaSourceCollection old;
  {
    std::lock_guard<std::mutex> g(FSourceLock);
    old.swap(FExtraMediaSources);
  }
  for (TKzMediaSourceItem& i : old) {
    LinkSource(i.VideoSource, nullptr, true);
    LinkSource(i.AudioSource, nullptr, false);
  }
  TKzMediaSourceCollection items = Value;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].Name.empty()) items[i].Name = "MediaSource" + std::to_string(i + 1);
    LinkSource(nullptr, items[i].VideoSource, true);
    LinkSource(nullptr, items[i].AudioSource, false);
  }
  std::lock_guard<std::mutex> g(FSourceLock);
  FExtraMediaSources = std::move(items);
}

void TKzCamSender::ClearLinksToVideoSource(TComponent* Source) {
  std::lock_guard<std::mutex> g(FSourceLock);
  if (FVideoSource == Source) FVideoSource = nullptr;
  for (TKzMediaSourceItem& i : FExtraMediaSources)
    if (i.VideoSource == Source) i.VideoSource = nullptr;
}

void TKzCamSender::ClearLinksToAudioSource(TComponent* Source) {
  std::lock_guard<std::mutex> g(FSourceLock);
  if (static_cast<TComponent*>(FAudioSource) == Source) FAudioSource = nullptr;
  for (TKzMediaSourceItem& i : FExtraMediaSources)
    if (static_cast<TComponent*>(i.AudioSource) == Source) i.AudioSource = nullptr;
}

void TKzCamSender::Notification(TComponent* AComponent, TOperation Operation) {
  TCustomKzSender::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  ClearLinksToVideoSource(AComponent);
  ClearLinksToAudioSource(AComponent);
}

uint16_t TKzCamSender::FindVideoIndex(TComponent* Source, uint16_t Default) {
  std::lock_guard<std::mutex> g(FSourceLock);
  if (Source && FVideoSource == Source) return SourceVideoIndex;
  for (const TKzMediaSourceItem& i : FExtraMediaSources)
    if (Source && i.VideoSource == Source) return i.SourceVideoIndex;
  return Default;
}

uint16_t TKzCamSender::FindAudioIndex(TComponent* Source, uint16_t Default) {
  std::lock_guard<std::mutex> g(FSourceLock);
  if (Source && static_cast<TComponent*>(FAudioSource) == Source) return SourceAudioIndex;
  for (const TKzMediaSourceItem& i : FExtraMediaSources)
    if (Source && static_cast<TComponent*>(i.AudioSource) == Source) return i.SourceAudioIndex;
  return Default;
}

// ---- Activation

void TKzCamSender::StopChannels() {
  std::array<std::vector<TChannelPtr>, 5> channels;
  std::unique_ptr<TKzSenderListenerThread> listener;
  {
    std::lock_guard<TCriticalSection> g(FChannelLock);
    channels.swap(FChannels);
    listener.swap(SenderListen);
  }
  for (auto& list : channels)
    for (TChannelPtr& c : list)
      if (c) c->Terminate();
  if (listener) listener->Terminate();
  channels = {};  // each waits for its thread
  listener.reset();
}

void TKzCamSender::DoSetActive() {
  if (IsDesigning()) return;
  const bool active = Active();
  if (active) FSessionKey.fetch_add(1);
  StopChannels();
  FStartTickCount.store(0);
  RestoreSpeed();
  ImageInfoList.SetNeedSendFullFrame();
  if (!active || FTCPConnectionType.load() != TKzTCPConnectionType::kztcpReceiverToSender) return;
  TKzPullSettings s;
  s.Parent = this;
  s.UseGUID = UseGUID();
  GetGuids("", "", s.FGUIDFrom, s.FGUIDTo, s.FGUIDGroup);
  s.UserDataGUIDTo = s.CmdGUIDTo = s.FileGUIDTo = s.FGUIDTo;
  s.UserDataGUIDGroup = s.CmdGUIDGroup = s.FileGUIDGroup = s.FGUIDGroup;
  s.CompressionOptions.Assign(FCompressionOptions);
  s.BufferSize = BufferSize() ? BufferSize() : 65536;
  s.ConnectionProperties.Assign(FConnectionProperties);
  s.GetSessionKey = [this] { return FSessionKey.load(); };
  s.OnVideoFrame = [this] { ChannelVideoSent(); };
  auto listener = std::make_unique<TKzSenderListenerThread>(s);
  if (!listener->Init(FSenderPort)) {
    KzPostMessageDebug(this, FSenderPort, "cannot listen on port " + std::to_string(FSenderPort));
    KzErrorConnectedEvent(this, 0);
    return;
  }
  listener->Start();
  std::lock_guard<TCriticalSection> g(FChannelLock);
  SenderListen = std::move(listener);
}

void TKzCamSender::Reconnect() {
  if (Active()) DoSetActive();
}

uint16_t TKzCamSender::ListeningPort() {
  std::lock_guard<TCriticalSection> g(FChannelLock);
  return SenderListen ? SenderListen->Port() : 0;
}

int32_t TKzCamSender::PullConnections() {
  std::lock_guard<TCriticalSection> g(FChannelLock);
  return SenderListen ? SenderListen->ConnectionCount() : 0;
}

std::vector<TKzPullStats> TKzCamSender::PullStats() {
  std::lock_guard<TCriticalSection> g(FChannelLock);
  return SenderListen ? SenderListen->Stats() : std::vector<TKzPullStats>{};
}

TKzSessionKey TKzCamSender::GetSessionKey() const { return Active() ? FSessionKey.load() : 0; }

// ---- Channels

void TKzCamSender::GetGuids(const std::string& To, const std::string& Group, TGUID& From, TGUID& GTo,
                            TGUID& GGroup) {
  std::lock_guard<std::mutex> g(FTextLock);
  From = ConvertGUID(FGUIDFrom);
  GTo = ConvertGUID(To.empty() ? FGUIDTo : To);
  GGroup = ConvertGUID(Group.empty() ? FGUIDGroup : Group);
}

TKzChannelSettings TKzCamSender::ChannelSettings(uint16_t DataType, uint16_t MediaIndex) {
  TKzChannelSettings s;
  s.DataType = DataType;
  s.MediaIndex = MediaIndex;
  s.ReceiverHost = ReceiverHost();
  s.ReceiverPort = FReceiverPort.load();
  s.Protocol = FProtocol.load();
  s.Proxy.Assign(FProxyProperty);
  const int32_t t = GetConnectTimeOut(FConnectionProperties);
  s.ConnectTimeout = static_cast<uint32_t>(t > 0 ? t : std::max(FConnectionProperties.ConnectTimeout(), 1));
  s.SendType = FSendOptions.ForDataType(DataType);
  s.UseGUID = UseGUID();
  s.Compression = FCompressionOptions.ForDataType(DataType);
  s.TimeMSecBetweenSend = TimeMSecBetweenSend;
  s.QueueBound = ChannelQueueBound;
  s.RelaySecret = RelaySecret();
  if (!s.RelaySecret.empty()) s.AuthGUID = ConvertGUID(GUIDFrom());
  return s;
}

TKzCamSender::TChannelPtr TKzCamSender::GetSendStreamThreadByIndex(uint16_t DataType, uint16_t MediaIndex, bool Create) {
  const int slot = KzDataTypeSlot(DataType);
  if (slot < 0) return nullptr;
  std::lock_guard<TCriticalSection> g(FChannelLock);
  std::vector<TChannelPtr>& list = FChannels[static_cast<size_t>(slot)];
  if (list.size() <= MediaIndex) {
    if (!Create) return nullptr;
    list.resize(MediaIndex + 1u);
  }
  TChannelPtr& c = list[MediaIndex];
  if (!Create || !Active()) return c;
  // An ended channel hands what it could not send to the next one; a
  // failed one is not reopened for every payload.
  if (c && c->Finished() && (!c->Failed() || KzMGetTickCount() >= c->EndTick() + kChannelRetryMs)) {
    FChannelsMade.fetch_add(1);
    auto next = std::make_shared<TKzSendStreamThread>(this, ChannelSettings(DataType, MediaIndex));
    next->TakeOver(*c);
    c = std::move(next);
    c->Start();
  } else if (!c) {
    FChannelsMade.fetch_add(1);
    c = std::make_shared<TKzSendStreamThread>(this, ChannelSettings(DataType, MediaIndex));
    c->Start();
  }
  return c;
}

size_t TKzCamSender::ChannelCount() {
  std::lock_guard<TCriticalSection> g(FChannelLock);
  size_t n = 0;
  for (auto& list : FChannels)
    for (TChannelPtr& c : list) n += c && !c->Finished();
  return n;
}

size_t TKzCamSender::QueuedBytes(uint16_t DataType) {
  const int slot = KzDataTypeSlot(DataType);
  if (slot < 0) return 0;
  std::lock_guard<TCriticalSection> g(FChannelLock);
  size_t n = 0;
  for (TChannelPtr& c : FChannels[static_cast<size_t>(slot)])
    if (c) n += c->QueuedBytes();
  return n;
}

// ---- Flow control

void TKzCamSender::SpeedDown(uint16_t DataType) {
  const TKzSpeedRow* row = KzSpeedDownRow(DataType);
  if (!row) return;
  const size_t i = static_cast<size_t>(KzDataTypeSlot(DataType));
  std::lock_guard<std::mutex> g(FParamLock);
  FModeForSend[i] = TKzModeSend::kzmsSpeedDown;
  FSleepForSend[i] = row->Sleep;
  FPacketForSend[i] = row->PacketSize;
}

void TKzCamSender::SpeedUp(uint16_t DataType) {
  const int slot = KzDataTypeSlot(DataType);
  if (slot < 0) return;
  std::lock_guard<std::mutex> g(FParamLock);
  FModeForSend[static_cast<size_t>(slot)] = TKzModeSend::kzmsSpeedUp;
  FSleepForSend[static_cast<size_t>(slot)] = 0;
  FPacketForSend[static_cast<size_t>(slot)] = BufferSize();
}

void TKzCamSender::RestoreSpeed() {
  for (const TKzSpeedRow& r : KzSpeedDownTable) {
    SpeedUp(r.DataType);
    UpdateSendParam(r.DataType);
  }
}

TKzSendParam TKzCamSender::UpdateSendParam(uint16_t DataType) {
  const int slot = KzDataTypeSlot(DataType);
  if (slot < 0) return {};
  std::lock_guard<std::mutex> g(FParamLock);
  TKzSendParam& p = FSendParams[static_cast<size_t>(slot)];
  p.BufferSize = FPacketForSend[static_cast<size_t>(slot)];
  p.Interval = FSleepForSend[static_cast<size_t>(slot)];
  return p;
}

TKzModeSend TKzCamSender::ModeForSend(uint16_t DataType) {
  const int slot = KzDataTypeSlot(DataType);
  std::lock_guard<std::mutex> g(FParamLock);
  return slot < 0 ? TKzModeSend::kzmsSpeedUp : FModeForSend[static_cast<size_t>(slot)];
}

TKzSendParam TKzCamSender::ChannelSendParam(uint16_t DataType) {
  const int slot = KzDataTypeSlot(DataType);
  std::lock_guard<std::mutex> g(FParamLock);
  return slot < 0 ? TKzSendParam{} : FSendParams[static_cast<size_t>(slot)];
}

// ---- Timing, frame rate, dump

int64_t TKzCamSender::GetTickCountSinceStart() {
  const uint64_t now = KzMGetTickCount();
  uint64_t start = FStartTickCount.load();
  // The first call after activation starts the clock; so does a tick counter that went back.
  if (start == 0 || now < start) {
    FStartTickCount.compare_exchange_strong(start, now);
    start = FStartTickCount.load();
  }
  return static_cast<int64_t>(now >= start ? now - start : 0);
}

int64_t TKzCamSender::GetDiffTickCountVideo() {
  const uint64_t now = KzMGetTickCount();
  const uint64_t last = FLastTickCountVideo.exchange(now);
  return last != 0 && now >= last && now - last <= 2000 ? static_cast<int64_t>(now - last) : 0;
}

void TKzCamSender::ChannelVideoSent() {
  FFramesSent.fetch_add(1);
  std::lock_guard<std::mutex> g(FFPSLock);
  KzRecalcFPS(1, _FPS);
}

double TKzCamSender::GetFPS() {
  std::lock_guard<std::mutex> g(FFPSLock);
  return KzRecalcFPS(0, _FPS);
}

void TKzCamSender::ChannelDump(const uint8_t* Data, size_t Size) {
  std::lock_guard<std::mutex> g(FDumpLock);
  DumpMemory.Seek(0, TSeekOrigin::soEnd);
  DumpMemory.Write(Data, static_cast<int64_t>(Size));
}

bool TKzCamSender::SaveDump(const std::string& FileName) {
  std::lock_guard<std::mutex> g(FDumpLock);
  TFileStream f(FileName, TFileMode::fmCreate);
  return f.Valid() && f.Write(DumpMemory.Memory(), DumpMemory.Size()) == DumpMemory.Size();
}

void TKzCamSender::ClearDump() {
  std::lock_guard<std::mutex> g(FDumpLock);
  DumpMemory.Clear();
}

std::vector<uint8_t> TKzCamSender::DumpBytes() {
  std::lock_guard<std::mutex> g(FDumpLock);
  return std::vector<uint8_t>(DumpMemory.Memory(), DumpMemory.Memory() + DumpMemory.Size());
}

}  // namespace kz
