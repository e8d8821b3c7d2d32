// The receiver component: takes what senders (or the relay) send - video,
// audio, user data, files and commands - over TCP, UDP or HTTP, pushed to
// its port or pulled from listed senders, and passes it through the
// multi-source chain to its views, re-sending senders, recorders, its
// audio output and the application's events.
//
// Settings are made on the main thread; changing the address settings of
// an active receiver restarts it. Events are raised on the main thread,
// except OnDataRead (reading thread), OnDecodeVideo and OnReceiveFileData
// (decode thread), OnDecodeAudio (fetch thread) and OnReceiveUserData while
// SynchonizedReceiveUserData is off (decode thread).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/fmxMKzAudioOutput.h"
#include "streaming/Fmxmkzcmd.h"
#include "streaming/fmxMKzCamReceiverEvents.h"
#include "streaming/fmxMKzCamReceiverThread.h"
#include "streaming/fmxMKzKeyList.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzAudioSink.h"
#include "video/fmxMKzChangeDecode.h"
#include "video/fmxMKzMotionDetectorProperties.h"
#include "video/fmxMKzMultiSourceOwner.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

class TKzMultiGetData;

enum class TKzMState : uint8_t { kzmsDisconnect = 0, kzmsConnecting = 1, kzmsConnect = 2, kzmsDisconnecting = 3 };

// A video source fed by the network, with the audio side every receiver has.
class TCustomKzReceiver : public TKzVideoSource {
public:
  explicit TCustomKzReceiver(TComponent* AOwner);
  ~TCustomKzReceiver() override;

  // Main thread. The output is told nothing; it is forgotten when freed.
  TCustomKzAudioOutput* AudioOutput() const;
  void SetAudioOutput(TCustomKzAudioOutput* Value);
  // Controls showing the audio level. Main thread; unregistering one that is
  // not registered raises EKzAssertionFailed.
  void RegisterAudioViewer(IKzAudioViewer* Viewer);
  void UnRegisterAudioViewer(IKzAudioViewer* Viewer);

  TKzDataReadEvent OnDataRead;
  std::function<void(TComponent* Sender, int64_t Value, const std::string& Text)> OnDebug;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Plays one block on the output and tells the viewers its level. Any thread.
  void OutputAudio(const TGUID& Source, uint16_t Index, const TKzAudioInfo& Info, int64_t StartTime,
                   uint32_t Duration, const uint8_t* Data, size_t Size);
  void ClearAudioOutput(const TGUID& Source);

  mutable std::mutex FAudioLock;  // guards FAudioOutput, FAudioViewers, FVolume, FMute
  TCustomKzAudioOutput* FAudioOutput = nullptr;
  std::vector<IKzAudioViewer*> FAudioViewers;
  int32_t FVolume = 100;
  bool FMute = false;
};

class TKzCamReceiver : public TCustomKzReceiver,
                       public TKzCamReceiverEvents,
                       public IKzMultiSourceOwner,
                       public IKzAudioSink,
                       public IKzReceiverTarget {
public:
  explicit TKzCamReceiver(TComponent* AOwner);
  ~TKzCamReceiver() override;

  // ---- Published properties (main thread)
  bool Active() const { return FActive; }
  void SetActive(bool Value);
  uint16_t Port() const { return FPort; }
  void SetPort(uint16_t Value);
  TKzProtocol Protocol() const { return FProtocol; }
  void SetProtocol(TKzProtocol Value);
  TKzTCPConnectionType TCPConnectionType() const { return FTCPConnectionType; }
  void SetTCPConnectionType(TKzTCPConnectionType Value);
  uint32_t BufferSize() const { return FBufferSize; }
  void SetBufferSize(uint32_t Value) { FBufferSize = Value; }
  int32_t RetryCount() const { return FRetryCount; }
  void SetRetryCount(int32_t Value) { FRetryCount = Value; }
  TKzReceiverConnectionProperties& ConnectionProperties() { return FConnectionProperties; }
  TKzProxyProperty& ProxyProperty() { return FProxyProperty; }
  void SetProxyProperty(const TKzProxyProperty& Value);
  const std::string& GUIDMy() const { return FGUIDMy; }
  void SetGUIDMy(const std::string& Value);
  // The secret proving GUIDMy to a relay that asks for proof (empty: none); takes effect at the next activation.
  const std::string& RelaySecret() const { return FRelaySecret; }
  void SetRelaySecret(const std::string& Value) { FRelaySecret = Value; }
  TKzSenderCollectionEx& Senders() { return FSenders; }
  TKzMediaTypes ReceiveMediaTypes() const { return FReceiveMediaTypes; }
  void SetReceiveMediaTypes(TKzMediaTypes Value);
  uint16_t BufferDuration() const { return FBufferDuration; }
  void SetBufferDuration(uint16_t Value) { FBufferDuration = Value; }
  uint16_t VideoLatency() const { return FVideoLatency; }
  void SetVideoLatency(uint16_t Value);
  uint16_t AudioLatency() const { return FAudioLatency; }
  void SetAudioLatency(uint16_t Value) { FAudioLatency = Value; }
  bool SmoothImage() const { return FSmoothImage; }
  void SetSmoothImage(bool Value);
  bool IgnoreCorruptedFrames() const { return FIgnoreCorruptedFrames; }
  void SetIgnoreCorruptedFrames(bool Value);
  TKzJpegIntegrity JpegIntegrity() const { return FJpegIntegrity; }
  void SetJpegIntegrity(TKzJpegIntegrity Value);
  bool SynchonizedReceiveUserData() const { return FSynchronizedUserData; }
  void SetSynchonizedReceiveUserData(bool Value) { FSynchronizedUserData = Value; }
  bool FilterSystemCmd() const { return FFilterSystemCmd; }
  void SetFilterSystemCmd(bool Value) { FFilterSystemCmd = Value; }
  bool UseTempFiles() const { return FUseTempFiles; }
  void SetUseTempFiles(bool Value) { FUseTempFiles = Value; }
  bool UseDumpMemory() const { return FUseDumpMemory; }
  void SetUseDumpMemory(bool Value) { FUseDumpMemory = Value; }
  TKzMultiMotionDetectorProperties& MotionDetectorProperties() { return FMotionDetectorProperties; }
  uint32_t Color() const { return FColor; }
  void SetColor(uint32_t Value);

  // ---- Operations (main thread)
  // What each sender's changed-area stream brought while active (whole and
  // area containers, areas, bytes), by sender GUID text; empty when inactive.
  std::map<std::string, TKzChangeStats> ChangeStats();
  void Restart();
  void Abort() override { SetActive(false); }
  // Drops what the chain holds of a sender's video.
  void StopVideo(const std::string& GUIDFrom);
  void AddSender(TKzMediaType MediaType, const std::string& GUIDFrom);
  void RemoveSender(TKzMediaType MediaType, const std::string& GUIDFrom);
  void CloseVideoChannel() { CloseChannel(DATA_TYPE_VIDEO); }
  void CloseAudioChannel() { CloseChannel(DATA_TYPE_AUDIO); }
  void CloseCmdChannel() { CloseChannel(DATA_TYPE_CMD); }
  void CloseFileChannel() { CloseChannel(DATA_TYPE_FILE); }
  void CloseUserChannel() { CloseChannel(DATA_TYPE_USERDATA); }
  // Pulled channels ask their senders to drop what they hold for them.
  void ClearSenderBuffers();
  int32_t GetMaxChannelCount() const;
  int32_t GetOpenChannelCount() const;
  TKzMediaType LastMediaType() const;
  TKzSessionKey GetSessionKey() const { return FSessionKey.load(); }
  double GetFPS();
  // Volume of the audio handed to AudioOutput, 0..100; muted: none.
  int32_t GetVolume() const;
  void SetVolume(int32_t Value);
  void SetMute(bool Value);
  TKzMState State() const { return FState.load(); }
  // The listening port in use (Port 0 picks a free one); 0 when not listening.
  uint16_t ListeningPort() const;
  // Per sender statistics. Any thread.
  std::vector<TKzKeyItem> SenderStatistics() const { return FKeyList.Items(); }
  // Received bytes copied while UseDumpMemory is on. Main thread.
  bool SaveDump(const std::string& FileName);
  void ClearDump();



  // ---- IKzMultiSourceOwner
  TComponent* OwnerComponent() override { return this; }
  TKzSessionKey SessionKey() override { return FSessionKey.load(); }
  TKzDecodeVideoEvent DecodeVideoHandler() override;
  TKzDataReadEvent UserDataHandler() override;
  TKzFileReadEvent ReceiveFileDataHandler() override;
  bool SynchronizedUserData() override { return FSynchronizedUserData; }
  bool HasReceivingFileHandler() override;
  bool HasReceivedFileHandler() override;
  bool HasRegionsHandler() override;
  std::shared_ptr<TKzMotionDetector> MotionStep(TKzMBitmap& Frame, const TGUID& GUIDFrom, uint16_t Index) override;
  void DoGetRegions(TKzMBitmap& AImg, uint16_t AVideoIndex, const TGUID& AGUIDFrom,
                    TKzMotionDetector& ARegionObject) override;
  IKzAudioSink* AudioSink() override { return this; }
  // ---- IKzAudioSink (the fetch thread)
  void AudioBlock(const TGUID& Source, uint16_t MediaIndex, const TKzAudioInfo& Info, int64_t StartTime,
                  uint32_t Duration, const uint8_t* Data, size_t Size) override;
  void RemoveAudioSource(const TGUID& Source, uint16_t MediaIndex) override;
  // ---- IKzReceiverTarget (network threads)
  const void* NotifyTarget() override { return this; }
  void HandOn(int32_t Key, const TKzHeaderPack& Header, std::span<const uint8_t> Record,
              std::span<const uint8_t> Payload, const TKzInfo& Info) override;
  bool FileBacklogged(int32_t Key, const TKzHeaderPack& Header, const TKzInfo& Info) override;
  void DropKey(int32_t Key) override;
  void DropKeyWhenDrained(int32_t Key) override;
  void SweepEndedKeys() override;
  void StopVideoOf(const TGUID& GUIDFrom) override;
  void CommandKeyPinned(TKzSessionKey Key) override { FSessionKey.store(Key); }
  void DataRead(TKzSessionKey Key, const TKzPacket& Packet, TKzConnSerial Conn) override;

protected:
  void LockConsumers() override;
  void UnlockConsumers() override;
  void Loaded() override;

private:
  void RegisterHandlers();
  void DoSetActive(bool Value);
  void CreateReceiverThread();
  void FreeReceiverThread();
  void RestartIfActive();
  void CloseChannel(uint8_t Code);
  void SendersChanged();
  TKzReceiverSettings MakeSettings() const;
  // Message handlers (main thread).
  void KzConnection(TMessage& Message);
  void KzMessageCommand(TMessage& Message);
  void KzMessageUserData(TMessage& Message);
  void KzMessageFileData(TMessage& Message);
  // Raises the events of one decoded command. Main thread.
  void DispatchCommand(const TKzCmd& Cmd, const TKzCmdMessage& Source);
  bool SystemCommand(const TKzCmd& Cmd, const TGUID& Source);

  bool FActive = false;
  uint16_t FPort = 7777;
  TKzProtocol FProtocol = TKzProtocol::kzpUDP;
  TKzTCPConnectionType FTCPConnectionType = TKzTCPConnectionType::kztcpSenderToReceiver;
  uint32_t FBufferSize = 8192;
  int32_t FRetryCount = 5;
  TKzReceiverConnectionProperties FConnectionProperties;
  TKzProxyProperty FProxyProperty;
  std::string FGUIDMy;
  std::string FRelaySecret;
  TKzSenderCollectionEx FSenders;
  TKzMediaTypes FReceiveMediaTypes = TKzMediaTypes::FromBits(31);
  uint16_t FBufferDuration = 1000, FVideoLatency = 1000, FAudioLatency = 1000;
  bool FSmoothImage = false, FIgnoreCorruptedFrames = false;
  TKzJpegIntegrity FJpegIntegrity = TKzJpegIntegrity::kzjiNone;
  std::atomic<bool> FSynchronizedUserData{true};
  bool FFilterSystemCmd = true;
  bool FUseTempFiles = true;
  std::atomic<bool> FUseDumpMemory{false};
  TKzMultiMotionDetectorProperties FMotionDetectorProperties;
  uint32_t FColor = 0;

  std::atomic<TKzSessionKey> FSessionKey{0};
  std::atomic<TKzMState> FState{TKzMState::kzmsDisconnect};
  TKzCriticalSection GDCriticalSection;  // guards GetDataThread for the network threads
  TKzMultiGetData* GetDataThread = nullptr;
  TKzReceiverThread* ReceiverThread = nullptr;
  TKzFPS _FPS;
  std::atomic<int32_t> FFrames{0};
  TKzKeyList FKeyList;
  std::mutex FEndedKeysLock;  // guards FEndedKeys
  std::vector<std::pair<int32_t, uint64_t>> FEndedKeys;  // key, when its connection ended
  std::mutex FDumpLock;  // guards DumpMemory
  TMemoryStream DumpMemory;
};

}  // namespace kz
