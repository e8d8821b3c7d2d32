#include "streaming/fmxMKzCamReceiver.h"

#include <algorithm>
#include <cstdlib>

#include "foundation/Fmxmkzmediatypefuncs.h"
#include "foundation/fmxMKzMessages.h"
#include "video/fmxMKzMultiGetData.h"

namespace kz {

namespace {

// 128 + the peak of a block (0..128): what audio viewers show.
uint16_t AudioLevel(const TKzAudioInfo& Info, const uint8_t* Data, size_t Size) {
  int peak = 0;
  if (Info.BitsPerSample == TKzBitsPerSample::kzbps16) {
    for (size_t i = 0; i + 1 < Size; i += 2)
      peak = std::max(peak, std::abs(static_cast<int>(static_cast<int16_t>(Data[i] | (Data[i + 1] << 8)))));
    peak = peak * 128 / 32768;
  } else {
    for (size_t i = 0; i < Size; ++i) peak = std::max(peak, std::abs(static_cast<int>(Data[i]) - 128));
  }
  return static_cast<uint16_t>(128 + std::min(peak, 128));
}

// Scales PCM samples in place to Percent of their amplitude.
void ScaleVolume(const TKzAudioInfo& Info, uint8_t* Data, size_t Size, int32_t Percent) {
  if (Info.BitsPerSample == TKzBitsPerSample::kzbps16) {
    for (size_t i = 0; i + 1 < Size; i += 2) {
      const int v = static_cast<int16_t>(Data[i] | (Data[i + 1] << 8)) * Percent / 100;
      Data[i] = static_cast<uint8_t>(v & 255);
      Data[i + 1] = static_cast<uint8_t>((v >> 8) & 255);
    }
  } else {
    for (size_t i = 0; i < Size; ++i) Data[i] = static_cast<uint8_t>(128 + (Data[i] - 128) * Percent / 100);
  }
}

}  // namespace

// ---- TCustomKzReceiver

TCustomKzReceiver::TCustomKzReceiver(TComponent* AOwner) : TKzVideoSource(AOwner) {}

TCustomKzReceiver::~TCustomKzReceiver() = default;

TCustomKzAudioOutput* TCustomKzReceiver::AudioOutput() const {
  std::lock_guard<std::mutex> g(FAudioLock);
  return FAudioOutput;
}

void TCustomKzReceiver::SetAudioOutput(TCustomKzAudioOutput* Value) {
  TCustomKzAudioOutput* old = AudioOutput();
  if (old == Value) return;
  if (old) RemoveFreeNotification(old);
  {
    std::lock_guard<std::mutex> g(FAudioLock);
    FAudioOutput = Value;
  }
  if (Value) FreeNotification(Value);
}

void TCustomKzReceiver::Notification(TComponent* AComponent, TOperation Operation) {
  TKzVideoSource::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  std::lock_guard<std::mutex> g(FAudioLock);
  if (AComponent == FAudioOutput) FAudioOutput = nullptr;
}

void TCustomKzReceiver::RegisterAudioViewer(IKzAudioViewer* Viewer) {
  std::lock_guard<std::mutex> g(FAudioLock);
  FAudioViewers.push_back(Viewer);
}

void TCustomKzReceiver::UnRegisterAudioViewer(IKzAudioViewer* Viewer) {
  bool found = false;
  {
    std::lock_guard<std::mutex> g(FAudioLock);
    auto it = std::find(FAudioViewers.begin(), FAudioViewers.end(), Viewer);
    found = it != FAudioViewers.end();
    if (found) FAudioViewers.erase(it);
  }
  KzAssert(found);
}

void TCustomKzReceiver::OutputAudio(const TGUID& Source, uint16_t Index, const TKzAudioInfo& Info, int64_t StartTime,
                                    uint32_t Duration, const uint8_t* Data, size_t Size) {
  // The lock is held while the block is played: the output cannot go meanwhile.
  std::lock_guard<std::mutex> g(FAudioLock);
  if (!FAudioViewers.empty()) {
    const uint16_t level = FMute ? 128 : AudioLevel(Info, Data, Size);
    for (IKzAudioViewer* v : FAudioViewers)
      if (!v->ViewerDestroying()) v->ViewerSetAudioLevel(this, level);
  }
  if (!FAudioOutput || FMute) return;
  TMemoryStream s;
  s.Write(Data, static_cast<int64_t>(Size));
  s.SetPosition(0);
  if (FVolume < 100) ScaleVolume(Info, s.Memory(), Size, FVolume);
  FAudioOutput->PlayAudio(s, static_cast<int32_t>(Size), Source, Index, true, Info.Channels, Info.BitsPerSample,
                          Info.SamplesPerSec, StartTime, Duration);
}

void TCustomKzReceiver::ClearAudioOutput(const TGUID& Source) {
  std::lock_guard<std::mutex> g(FAudioLock);
  if (FAudioOutput) FAudioOutput->ClearBuffer(Source);
}

// ---- TKzCamReceiver: life cycle

TKzCamReceiver::TKzCamReceiver(TComponent* AOwner) : TCustomKzReceiver(AOwner), FMotionDetectorProperties(this) {
  KzInitFPS(_FPS);
  auto changed = [this](TKzSenderItemEx&) { SendersChanged(); };
  FSenders.HookAppendItem = changed;
  FSenders.HookModifyItem = changed;
  FSenders.HookRemoveItem = changed;
  if (!IsDesigning()) RegisterHandlers();
}

TKzCamReceiver::~TKzCamReceiver() {
  Destroying();
  FSenders.HookAppendItem = FSenders.HookModifyItem = FSenders.HookRemoveItem = nullptr;
  DoSetActive(false);
  KzMessages().UnRegister2(this);
}

void TKzCamReceiver::Loaded() {
  if (FActive) DoSetActive(true);
}

void TKzCamReceiver::SetActive(bool Value) {
  if (Value == FActive) return;
  FActive = Value;
  if (IsLoading()) return;
  DoSetActive(Value);
}

void TKzCamReceiver::DoSetActive(bool Value) {
  if (Value) {
    if (!IsDesigning() && !ReceiverThread) CreateReceiverThread();
    return;
  }
  if (!ReceiverThread && !GetDataThread) return;
  FState = TKzMState::kzmsDisconnecting;
  FreeReceiverThread();
  FState = TKzMState::kzmsDisconnect;
}

TKzReceiverSettings TKzCamReceiver::MakeSettings() const {
  TKzReceiverSettings s;
  s.Protocol = FProtocol;
  s.Port = FPort;
  s.TCPConnectionType = FTCPConnectionType;
  s.GUIDMy = StringToGUIDA(FGUIDMy);
  s.RelaySecret = FRelaySecret;
  s.BufferSize = FBufferSize;
  s.RetryCount = FRetryCount;
  s.ReceiveMediaTypes = FReceiveMediaTypes;
  s.ConnectionProperties.Assign(FConnectionProperties);
  s.Proxy.Assign(FProxyProperty);
  s.UseTempFiles = FUseTempFiles;
  s.Senders = FSenders.Snapshot();
  return s;
}

void TKzCamReceiver::CreateReceiverThread() {
  FSessionKey = 0;
  FKeyList.Clear();
  auto* chain = new TKzMultiGetData(*this, FConsumers);
  chain->Paint().SetVideoLatency(FVideoLatency);
  chain->Paint().SetSmoothImage(FSmoothImage);
  chain->Paint().SetOnGetImage(OnGetImage);
  chain->Decode().SetJpegIntegrity(FJpegIntegrity);
  chain->Decode().SetIgnoreCorruptedFrames(FIgnoreCorruptedFrames);
  chain->Decode().SetColor(FColor);
  chain->Decode().OnFPS = [this](TComponent*) {
    std::lock_guard<std::mutex> g(FAudioLock);
    KzRecalcFPS(1, _FPS);
  };
  chain->Decode().OnStartVideo = [this](TComponent*) { CallBeginVideoStream(); };
  {
    TKzSafeLock g(GDCriticalSection);
    GetDataThread = chain;
  }
  chain->Run();
  FState = TKzMState::kzmsConnecting;
  ReceiverThread = new TKzReceiverThread(*this, MakeSettings());
  ReceiverThread->Run();
}

void TKzCamReceiver::FreeReceiverThread() {
  delete ReceiverThread;  // ends the listener, the connections and the channels
  ReceiverThread = nullptr;
  TKzMultiGetData* chain = nullptr;
  {
    TKzSafeLock g(GDCriticalSection);
    std::swap(chain, GetDataThread);
  }
  const bool hadVideo = chain && chain->Decode().isStartVideo.load();
  if (chain) KzMFreeThread(chain);
  if (hadVideo && !IsDestroying()) CallDoneVideoStream(0);
}

void TKzCamReceiver::Restart() {
  if (!FActive) return;
  DoSetActive(false);
  DoSetActive(true);
}

void TKzCamReceiver::RestartIfActive() {
  if (FActive && !IsLoading()) Restart();
}

void TKzCamReceiver::LockConsumers() {
  if (GetDataThread)
    GetDataThread->Paint().LockDisplay();
  else
    TKzVideoSource::LockConsumers();
}

void TKzCamReceiver::UnlockConsumers() {
  if (GetDataThread)
    GetDataThread->Paint().UnlockDisplay();
  else
    TKzVideoSource::UnlockConsumers();
}

// ---- Properties

void TKzCamReceiver::SetPort(uint16_t Value) {
  if (Value == FPort) return;
  FPort = Value;
  RestartIfActive();
}

void TKzCamReceiver::SetProtocol(TKzProtocol Value) {
  if (Value == FProtocol) return;
  FProtocol = Value;
  RestartIfActive();
}

void TKzCamReceiver::SetTCPConnectionType(TKzTCPConnectionType Value) {
  if (Value == FTCPConnectionType) return;
  FTCPConnectionType = Value;
  RestartIfActive();
}

void TKzCamReceiver::SetProxyProperty(const TKzProxyProperty& Value) {
  FProxyProperty.Assign(Value);
  RestartIfActive();
}

void TKzCamReceiver::SetGUIDMy(const std::string& Value) {
  const std::string text = Value.empty() ? std::string() : GUIDToStringA(StringToGUIDA(Value));
  if (text == FGUIDMy) return;
  FGUIDMy = text;
  RestartIfActive();
}

void TKzCamReceiver::SetReceiveMediaTypes(TKzMediaTypes Value) {
  FReceiveMediaTypes = Value;
  if (ReceiverThread) ReceiverThread->SetReceiveMediaTypes(Value);
}

void TKzCamReceiver::SendersChanged() {
  if (!ReceiverThread) return;
  if (FTCPConnectionType == TKzTCPConnectionType::kztcpReceiverToSender)
    RestartIfActive();
  else
    ReceiverThread->SetSenders(FSenders.Snapshot());
}

void TKzCamReceiver::SetVideoLatency(uint16_t Value) {
  FVideoLatency = Value;
  if (GetDataThread) GetDataThread->Paint().SetVideoLatency(Value);
}

void TKzCamReceiver::SetSmoothImage(bool Value) {
  FSmoothImage = Value;
  if (GetDataThread) GetDataThread->Paint().SetSmoothImage(Value);
}

void TKzCamReceiver::SetIgnoreCorruptedFrames(bool Value) {
  FIgnoreCorruptedFrames = Value;
  if (GetDataThread) GetDataThread->Decode().SetIgnoreCorruptedFrames(Value);
}

void TKzCamReceiver::SetJpegIntegrity(TKzJpegIntegrity Value) {
  FJpegIntegrity = Value;
  if (GetDataThread) GetDataThread->Decode().SetJpegIntegrity(Value);
}

void TKzCamReceiver::SetColor(uint32_t Value) {
  FColor = Value;
  if (GetDataThread) GetDataThread->Decode().SetColor(Value);
}

// ---- Operations

std::map<std::string, TKzChangeStats> TKzCamReceiver::ChangeStats() {
  return GetDataThread ? GetDataThread->Decode().ChangeStats() : std::map<std::string, TKzChangeStats>{};
}

void TKzCamReceiver::StopVideo(const std::string& GUIDFrom) { StopVideoOf(StringToGUIDA(GUIDFrom)); }

void TKzCamReceiver::AddSender(TKzMediaType MediaType, const std::string& GUIDFrom) {
  if (FSenders.Count() == 0) FSenders.Add();
  FSenders.Items(0).SendersOf(MediaType).AddGUID(GUIDFrom);
}

void TKzCamReceiver::RemoveSender(TKzMediaType MediaType, const std::string& GUIDFrom) {
  for (size_t i = 0; i < FSenders.Count(); ++i) FSenders.Items(i).SendersOf(MediaType).DeleteGUID(GUIDFrom);
}

void TKzCamReceiver::CloseChannel(uint8_t Code) {
  if (ReceiverThread) ReceiverThread->CloseChannels(Code);
}

void TKzCamReceiver::ClearSenderBuffers() {
  if (ReceiverThread) ReceiverThread->ClearSenderBuffers();
}

int32_t TKzCamReceiver::GetMaxChannelCount() const {
  if (FTCPConnectionType == TKzTCPConnectionType::kztcpSenderToReceiver) return 1;
  return static_cast<int32_t>(__builtin_popcount(FReceiveMediaTypes.Bits()));
}

int32_t TKzCamReceiver::GetOpenChannelCount() const {
  if (!ReceiverThread) return 0;
  if (FTCPConnectionType == TKzTCPConnectionType::kztcpSenderToReceiver) return 1;
  int32_t n = 0;
  for (uint8_t code : {DATA_TYPE_VIDEO, DATA_TYPE_AUDIO, DATA_TYPE_USERDATA, DATA_TYPE_FILE, DATA_TYPE_CMD})
    if (FReceiveMediaTypes.Contains(ConvertToMediaType(code)) && ReceiverThread->OpenChannels(code) > 0) ++n;
  return n;
}

TKzMediaType TKzCamReceiver::LastMediaType() const {
  for (TKzMediaType t : {TKzMediaType::kzmtCmdData, TKzMediaType::kzmtFileData, TKzMediaType::kzmtUserData,
                         TKzMediaType::kzmtAudio, TKzMediaType::kzmtVideo})
    if (FReceiveMediaTypes.Contains(t)) return t;
  return TKzMediaType::kzmtVideo;
}

uint16_t TKzCamReceiver::ListeningPort() const { return ReceiverThread ? ReceiverThread->ListeningPort() : 0; }

double TKzCamReceiver::GetFPS() {
  std::lock_guard<std::mutex> g(FAudioLock);
  return KzRecalcFPS(0, _FPS);
}

int32_t TKzCamReceiver::GetVolume() const {
  std::lock_guard<std::mutex> g(FAudioLock);
  return FVolume;
}

void TKzCamReceiver::SetVolume(int32_t Value) {
  std::lock_guard<std::mutex> g(FAudioLock);
  FVolume = std::clamp(Value, 0, 100);
}

void TKzCamReceiver::SetMute(bool Value) {
  std::lock_guard<std::mutex> g(FAudioLock);
  FMute = Value;
}

bool TKzCamReceiver::SaveDump(const std::string& FileName) {
  std::lock_guard<std::mutex> g(FDumpLock);
  TFileStream f(FileName, TFileMode::fmCreate);
  if (!f.Valid()) return false;
  return f.Write(DumpMemory.Memory(), DumpMemory.Size()) == DumpMemory.Size();
}

void TKzCamReceiver::ClearDump() {
  std::lock_guard<std::mutex> g(FDumpLock);
  DumpMemory.Clear();
}

// ---- What the chain asks for

TKzDecodeVideoEvent TKzCamReceiver::DecodeVideoHandler() { return OnDecodeVideo; }
TKzDataReadEvent TKzCamReceiver::UserDataHandler() { return OnReceiveUserData; }
TKzFileReadEvent TKzCamReceiver::ReceiveFileDataHandler() { return OnReceiveFileData; }
bool TKzCamReceiver::HasReceivingFileHandler() { return static_cast<bool>(OnReceivingFile); }
bool TKzCamReceiver::HasReceivedFileHandler() { return static_cast<bool>(OnReceivedFile); }
bool TKzCamReceiver::HasRegionsHandler() { return static_cast<bool>(OnGetRegions); }

std::shared_ptr<TKzMotionDetector> TKzCamReceiver::MotionStep(TKzMBitmap& Frame, const TGUID& GUIDFrom, uint16_t) {
  TKzMotionDetector* d = FMotionDetectorProperties.DetectMotion(GUIDFrom, Frame);
  // The properties own the detector; the pointer only travels with the frame.
  return d ? std::shared_ptr<TKzMotionDetector>(d, [](TKzMotionDetector*) {}) : nullptr;
}

void TKzCamReceiver::DoGetRegions(TKzMBitmap& AImg, uint16_t AVideoIndex, const TGUID& AGUIDFrom,
                                  TKzMotionDetector& ARegionObject) {
  if (OnGetRegions) OnGetRegions(this, AImg, AVideoIndex, AGUIDFrom, ARegionObject);
}

void TKzCamReceiver::AudioBlock(const TGUID& Source, uint16_t MediaIndex, const TKzAudioInfo& Info, int64_t StartTime,
                                uint32_t Duration, const uint8_t* Data, size_t Size) {
  if (OnDecodeAudio) {
    TMemoryStream s;
    s.Write(Data, static_cast<int64_t>(Size));
    s.SetPosition(0);
    int32_t size = static_cast<int32_t>(Size), rate = Info.SamplesPerSec, channels = Info.Channels;
    TKzBitsPerSample bits = Info.BitsPerSample;
    OnDecodeAudio(this, s, size, MediaIndex, StartTime, Duration, rate, bits, channels);
    const TKzAudioInfo info{rate, bits, channels};
    const size_t n = static_cast<size_t>(std::clamp<int64_t>(size, 0, s.Size()));
    OutputAudio(Source, MediaIndex, info, StartTime, Duration, s.Memory(), n);
    return;
  }
  OutputAudio(Source, MediaIndex, Info, StartTime, Duration, Data, Size);
}

void TKzCamReceiver::RemoveAudioSource(const TGUID& Source, uint16_t MediaIndex) {
  std::lock_guard<std::mutex> g(FAudioLock);
  if (FAudioOutput) FAudioOutput->DeleteGUID(Source, MediaIndex);
}

// ---- What the network threads hand over

void TKzCamReceiver::HandOn(int32_t Key, const TKzHeaderPack& Header, std::span<const uint8_t> Record,
                            std::span<const uint8_t> Payload, const TKzInfo& Info) {
  const uint8_t code = static_cast<uint8_t>(Key & DATA_TYPE_MASK);
  FKeyList.Count(Key, Header.GUIDFrom, static_cast<size_t>(ConvertToMediaType(code)), Record.size() + Payload.size(),
                 KzMGetTickCount());
  TKzSafeLock g(GDCriticalSection);
  if (GetDataThread) GetDataThread->CopyFromBuffer(Key, Header, Record, Payload, Info);
}

bool TKzCamReceiver::FileBacklogged(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info) {
  TKzSafeLock g(GDCriticalSection);
  return GetDataThread && GetDataThread->IsFileBufferTooLarge(Key, Header, Info);
}

void TKzCamReceiver::DropKey(int32_t Key) {
  FKeyList.DeleteKey(Key);
  TKzSafeLock g(GDCriticalSection);
  if (GetDataThread) GetDataThread->DeleteKey(Key);
}

void TKzCamReceiver::DropKeyWhenDrained(int32_t Key) {
  std::lock_guard<std::mutex> g(FEndedKeysLock);
  FEndedKeys.emplace_back(Key, KzMGetTickCount());
}

void TKzCamReceiver::SweepEndedKeys() {
  // What a gone connection sent is still shown and written out; only then
  // does its state (last picture, decoder, buffers) go. A chain that never
  // gets there lets it go after a minute.
  constexpr uint64_t kLongestMs = 60000;
  std::vector<std::pair<int32_t, uint64_t>> ended;
  {
    std::lock_guard<std::mutex> g(FEndedKeysLock);
    ended.swap(FEndedKeys);
  }
  const uint64_t now = KzMGetTickCount();
  std::vector<std::pair<int32_t, uint64_t>> keep;
  for (const auto& [key, at] : ended) {
    bool drained = true;
    {
      TKzSafeLock g(GDCriticalSection);
      drained = !GetDataThread || GetDataThread->KeyDrained(key);
    }
    if (drained || now - at > kLongestMs)
      DropKey(key);
    else
      keep.emplace_back(key, at);
  }
  std::lock_guard<std::mutex> g(FEndedKeysLock);
  FEndedKeys.insert(FEndedKeys.end(), keep.begin(), keep.end());
}

void TKzCamReceiver::StopVideoOf(const TGUID& GUIDFrom) {
  std::vector<int32_t> keys;
  for (const TKzKeyItem& i : FKeyList.Items())
    if (i.nGUIDFrom == GUIDFrom && (i.Key & DATA_TYPE_MASK) == DATA_TYPE_VIDEO) keys.push_back(i.Key);
  TKzSafeLock g(GDCriticalSection);
  if (!GetDataThread) return;
  for (int32_t k : keys) GetDataThread->DeleteKey(k);
}

void TKzCamReceiver::DataRead(TKzSessionKey Key, const TKzPacket& Packet, TKzConnSerial Conn) {
  if (FUseDumpMemory) {
    std::lock_guard<std::mutex> g(FDumpLock);
    DumpMemory.Write(Packet.Payload.data(), static_cast<int64_t>(Packet.Payload.size()));
    KzPostMessageDebug(this, static_cast<int64_t>(Packet.Payload.size()),
                       "read " + ConvertMediaTypeToStr(ConvertToMediaType(Packet.Header.DataType())));
  }
  if (!OnDataRead) return;
  TMemoryStream s;
  s.Write(Packet.Payload.data(), static_cast<int64_t>(Packet.Payload.size()));
  s.SetPosition(0);
  OnDataRead(this, Key, s, static_cast<int32_t>(Conn), Packet.Header.GUIDFrom, Packet.Header.GUIDTo,
             Packet.Header.GUIDGroup, Packet.Header.Info.MediaIndex);
}

}  // namespace kz
