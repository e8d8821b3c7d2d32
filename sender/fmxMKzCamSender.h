// The sender component: takes frames from video sources and audio blocks
// from audio sources (it registers with them as a consumer), encodes frames
// (JPEG, PNG, BMP or HWL in the frame container, scaled to VideoResolution),
// or only the areas that changed, per destination, for the Change
// encodings; frames are encoded on the sender's own thread), wraps audio blocks, and hands every payload - video, audio, user data,
// files, commands - to a channel per data type and media index. Push: each
// channel is a TKzSendStreamThread connected to ReceiverHost:ReceiverPort
// over TCP, UDP or HTTP. Pull: the sender listens on SenderPort and each
// receiver fetches what was queued for it.
//
// Properties are set on the main thread. The send calls may come from any
// thread (sources call them on their delivery threads); they copy what they
// take and never block on the network.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzMessages.h"
#include "sender/fmxMKzChangeEncoder.h"
#include "sender/fmxMKzSendStreamThread.h"
#include "sender/fmxMKzSenderEncodeThread.h"
#include "sender/fmxMKzSenderTypes.h"
#include "streaming/fmxMKzSenderListener.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TCustomKzSender : public TComponent {
public:
  explicit TCustomKzSender(TComponent* AOwner) : TComponent(AOwner) {}
  // Debug reports of every send (raw text); any thread.
  std::function<void(const std::string&)> F_DebugDataSend;
};

class TKzCamSender : public TCustomKzSender,
                     public IKzCamSenderConsumer,
                     public IKzSendChannelOwner,
                     public IProxyProperty,
                     private IKzChangeOutput {
public:
  // Main thread, never blocks.
  explicit TKzCamSender(TComponent* AOwner);
  // Main thread; stops every channel (waits for their threads).
  ~TKzCamSender() override;

  // ---- Published properties (main thread to set; any thread to read)
  bool Active() const { return FActive.load(std::memory_order_acquire); }
  // Main thread; deactivating waits (bounded) until queued commands are sent.
  void SetActive(bool Value);
  TKzProtocol Protocol() const { return FProtocol.load(); }
  void SetProtocol(TKzProtocol Value);
  TKzTCPConnectionType TCPConnectionType() const { return FTCPConnectionType.load(); }
  void SetTCPConnectionType(TKzTCPConnectionType Value);
  std::string ReceiverHost() const;
  void SetReceiverHost(const std::string& Value);
  uint16_t ReceiverPort() const { return FReceiverPort.load(); }
  void SetReceiverPort(uint16_t Value) { FReceiverPort = Value; }
  uint16_t SenderPort() const { return FSenderPort; }
  void SetSenderPort(uint16_t Value);
  // The port the pull listener listens on (SenderPort, or the one chosen for 0).
  uint16_t ListeningPort();
  uint32_t BufferSize() const { return FBufferSize.load(std::memory_order_acquire); }
  // Under kzpUDP lowered to at most 65,507.
  void SetBufferSize(uint32_t Value);
  TKzProxyProperty& ProxyProperty() { return FProxyProperty; }
  TKzConnectionProperties& ConnectionProperties() { return FConnectionProperties; }
  TKzCompressionOptions& CompressionOptions() { return FCompressionOptions; }
  TKzSendOptions& SendOptions() { return FSendOptions; }
  TKzMediaTypes SendMediaTypes() const { return TKzMediaTypes::FromBits(FSendMediaTypes.load()); }
  void SetSendMediaTypes(TKzMediaTypes Value) { FSendMediaTypes.store(Value.Bits()); }
  TKzEncodingType Encoding() const { return FEncoding.load(); }
  // Raises EKzMediaError for kzetMixFormat (whole mixed frames are not made).
  // A new encoding starts every destination with a whole frame.
  void SetEncoding(TKzEncodingType Value);
  int32_t CompressionQuality() const { return FCompressionQuality.load(); }
  void SetCompressionQuality(int32_t Value) { FCompressionQuality.store(std::clamp(Value, 1, 100)); }
  TKzVideoResolution VideoResolution() const { return FVideoResolution.load(); }
  void SetVideoResolution(TKzVideoResolution Value) { FVideoResolution.store(Value); }
  // Changed-area settings (the Change encodings). Any thread; the detector
  // settings reach every destination's detector at once.
  uint32_t FullFrameInterval() const { return FFullFrameInterval.load(); }
  void SetFullFrameInterval(uint32_t Value) { FFullFrameInterval.store(Value); }
  uint16_t FrameDifferenceInterval() const { return FFrameDifferenceInterval.load(); }
  void SetFrameDifferenceInterval(uint16_t Value) { FFrameDifferenceInterval.store(Value); }
  bool FilterBlur() const { return FFilterBlur.load(); }
  void SetFilterBlur(bool Value) { FFilterBlur.store(Value); }
  int32_t MinChangeAreaSize() const { return Detector().MinChangeAreaSize; }
  void SetMinChangeAreaSize(int32_t Value);
  int32_t MaxChangeAreaCount() const { return Detector().MaxChangeAreaCount; }
  void SetMaxChangeAreaCount(int32_t Value);
  TKzChangedAreaProcessingMode ChangedAreaProcessingMode() const { return Detector().ChangedAreaProcessingMode; }
  void SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Value);
  int32_t PixelColorThreshold() const { return Detector().PixelColorThreshold; }
  void SetPixelColorThreshold(int32_t Value);
  int32_t PixelColorThresholdR() const { return Detector().PixelColorThresholdR; }
  void SetPixelColorThresholdR(int32_t Value);
  int32_t PixelColorThresholdG() const { return Detector().PixelColorThresholdG; }
  void SetPixelColorThresholdG(int32_t Value);
  int32_t PixelColorThresholdB() const { return Detector().PixelColorThresholdB; }
  void SetPixelColorThresholdB(int32_t Value);
  TKzBoundsTestMode TestMode() const { return Detector().TestMode; }
  void SetTestMode(TKzBoundsTestMode Value);
  // The secret this sender proves GUIDFrom with to a relay that asks for proof (empty: none).
  std::string RelaySecret() const;
  void SetRelaySecret(const std::string& Value);
  bool UseGUID() const { return FUseGUID.load(); }
  void SetUseGUID(bool Value) { FUseGUID.store(Value); }
  // GUID texts (registry form; empty: the null GUID). Malformed text raises EKzConvertError.
  std::string GUIDFrom() const;
  void SetGUIDFrom(const std::string& Value);
  std::string GUIDTo() const;
  void SetGUIDTo(const std::string& Value);
  std::string GUIDGroup() const;
  void SetGUIDGroup(const std::string& Value);
  std::string SourceGUID() const;
  void SetSourceGUID(const std::string& Value);
  uint16_t SourceVideoIndex = 0;
  uint16_t SourceAudioIndex = 0;
  TKzVideoSource* VideoSource() const { return FVideoSource; }
  void SetVideoSource(TKzVideoSource* Value);
  TKzAudioSource* AudioSource() const { return FAudioSource; }
  void SetAudioSource(TKzAudioSource* Value);
  const TKzMediaSourceCollection& ExtraMediaSources() const { return FExtraMediaSources; }
  // Replaces the extra sources (unnamed items get "MediaSource" + number).
  void SetExtraMediaSources(const TKzMediaSourceCollection& Value);
  bool ShowCmd = false;
  bool UseDumpMemory() const { return FUseDumpMemory.load(); }
  void SetUseDumpMemory(bool Value) { FUseDumpMemory.store(Value); }
  bool UsePostDebug = false;
  // Pause after each datagram of a UDP channel (ms).
  uint32_t TimeMSecBetweenSend = 0;
  // Audio blocks keep the start time their source gave them.
  bool UseUserStartTime = true;
  // Bytes one push channel may hold queued (video holds one frame).
  size_t ChannelQueueBound = TKzSendQueue::DefaultBound;

  // ---- Events (main thread, except where the send call's thread is named)
  TKzSocketEvent OnConnected, OnConnecting, OnDisconnect, OnConnectError;
  TKzClientEvent OnSendClearBuffer;
  TKzCmdWriteEvent OnSendCmd, OnSentCmd;  // the calling thread
  TKzLostCommandEvent OnLostCommand;      // the calling thread
  TKzAudioEvent OnEncodeAudio;            // the source's thread
  TKzEncodeVideoEvent OnEncodeVideo;      // the source's thread
  TKzFileEvent OnSendingFile, OnSentFile;
  TKzSendDataEvent OnSendFileData;

  // ---- Sending (any thread; false when inactive, the type is not in
  // SendMediaTypes, or no channel took the payload)
  bool SendVideoStream(uint16_t MediaIndex, const TKzVideoInfo& VideoInfo, TMemoryStream& Stream, int64_t Time);
  bool SendAudioStream(uint16_t MediaIndex, const TKzAudioInfo& AudioInfo, int64_t Time, TMemoryStream& Stream);
  // Wraps one block of PCM (the stream's bytes from position 0) as "AUB" ... "AUE".
  bool SendAudioTrack(uint16_t MediaIndex, int64_t Time, const TKzAudioInfo& AudioInfo, TMemoryStream& Stream);
  bool SendUserData(TMemoryStream& Stream, const std::string& GUIDTo = "", const std::string& GUIDGroup = "",
                    uint16_t MediaIndex = 0);
  bool SendFile(const std::string& FileName, int64_t Offset = 0, const std::string& GUIDTo = "",
                const std::string& GUIDGroup = "", uint16_t MediaIndex = 0);
  bool IsSendingFile(uint16_t MediaIndex = 0);
  // Waits up to Ms until the file channel is idle. Any thread but the main one; blocks.
  bool WaitSendFileData(uint16_t MediaIndex = 0, uint32_t Ms = 60000);
  bool SendCmd(const TKzCmd& Cmd, const std::string& GUIDTo = "", const std::string& GUIDGroup = "",
               uint16_t MediaIndex = 0);
  // 0 allowed; 3 commands not in SendMediaTypes; 4 inactive; 5 while BeginCmd holds them.
  int32_t IsAllowedSendCmd();
  // Main thread or any thread, never block: commands between the two are
  // stacked and handed over, in order, by the last EndCmd.
  void BeginCmd();
  void EndCmd();
  // Waits until the command channel of the media index has sent everything
  // (at most the command time-out). Blocks.
  bool WaitForSendCmd(uint16_t MediaIndex = 0);
  // Something of that data type is queued or being sent on its push channel. Any thread.
  bool IsWaitData(uint16_t DataType, uint16_t MediaIndex = 0);
  bool IsWaitCmd(uint16_t MediaIndex = 0);
  bool IsWaitUser(uint16_t MediaIndex = 0);
  bool IsWaitFile(uint16_t MediaIndex = 0);

  // ---- Relay-server commands: each sends one command to the default
  // destination and waits until it has been sent. False when it could not be handed over.
  bool AddAllowedSender(const std::string& GUID);
  bool AddAllowedSenders(const std::vector<std::string>& GUIDs);
  bool ClearAllowedSenders(bool AllowAll);
  bool RemoveAllowedSender(const std::string& GUID);
  bool AddDefaultReceiver(const std::string& GUID);
  bool RemoveDefaultReceiver(const std::string& GUID);
  bool HelloToAllowedSenders();
  bool GoodbyeToAllowedSenders();
  bool HelloToDefaultReceivers();
  bool GoodbyeToDefaultReceivers();
  bool JoinGroup(const std::string& GroupGUID, bool Permanent, const std::string& Password = "",
                 const std::string& UserData = "", bool OnlyExistingGroup = false);
  bool LeaveGroup(const std::string& GroupGUID);
  bool GetGroupInfo(const std::string& GroupGUID);
  bool GetUsersFromGroup(const std::string& GroupGUID, bool OnlyOnline);
  bool GetAllGroups();
  bool GetAllUsers();
  bool GetAllOnlineUsers();
  bool RestartServer();
  bool ClearAudioBuffer();
  bool SendMediaAccessRequest(const std::string& GUIDTo, uint16_t DataType);
  bool SendMediaAccessCancelRequest(const std::string& GUIDTo, uint16_t DataType);
  bool GettingFile(const std::string& FileName, int64_t Offset, int64_t Size, const std::string& GUIDTo);
  bool FileReceived(const std::string& FileName, const std::string& GUIDTo, int64_t Size);
  // Answers an access request: the requester becomes (stops being) a default receiver.
  bool AllowMediaAccess(const std::string& GUIDTo, uint16_t DataType);
  bool CancelMediaAccess(const std::string& GUIDTo, uint16_t DataType);
  // Sends Cmd to GUIDTo on the command channel of its media index and waits
  // until it has been sent (posted by other threads; main thread).
  void KzAddVideoForMe(const TKzCmd& Cmd, const std::string& GUIDTo);
  void KzDelVideoForMe(const TKzCmd& Cmd, const std::string& GUIDTo);

  // ---- Flow control (any thread)
  void SpeedDown(uint16_t DataType);
  void SpeedUp(uint16_t DataType);
  void RestoreSpeed();
  TKzSendParam UpdateSendParam(uint16_t DataType);
  TKzModeSend ModeForSend(uint16_t DataType);
  // The next frame to every destination (or to one) goes out whole.
  void NeedSendFullFrame() { ImageInfoList.SetNeedSendFullFrame(); }
  void NeedSendFullFrameByGUID(const std::string& GUID) { ImageInfoList.SetNeedSendFullFrameByGUID(ConvertGUID(GUID)); }
  // The per-destination state of the Change encodings (tools, tests). Any thread.
  TKzImageInfoList& ImageInfos() { return ImageInfoList; }
  // Frames a video source handed over that were replaced by a newer one
  // before they were encoded. Any thread.
  uint64_t FramesSkipped();

  // ---- Other operations
  // New connections for everything (a new session). Main thread.
  void Reconnect();
  TKzSessionKey GetSessionKey() const;
  double GetFPS();
  // Frames sent (push: written to a connection; pull: handed to a receiver)
  // and packet bytes written by the push channels, since creation. Any thread.
  uint64_t FramesSent() const { return FFramesSent.load(); }
  uint64_t BytesSent() const { return FBytesSent.load(); }
  uint64_t GetStartTickCount() const { return FStartTickCount.load(); }
  int64_t GetTickCountSinceStart();
  int64_t GetDiffTickCountVideo();
  // The bytes sent while UseDumpMemory was set. Any thread.
  bool SaveDump(const std::string& FileName);
  void ClearDump();
  std::vector<uint8_t> DumpBytes();
  // Receivers connected to the pull listener now. Any thread.
  int32_t PullConnections();
  // What each pulled connection's video went through. Any thread.
  std::vector<TKzPullStats> PullStats();
  // Push channels alive now (tests, tools). Any thread.
  size_t ChannelCount();
  // Bytes waiting in the push queues of a data type. Any thread.
  size_t QueuedBytes(uint16_t DataType);
  uint16_t FindVideoIndex(TComponent* Source, uint16_t Default = 0);
  uint16_t FindAudioIndex(TComponent* Source, uint16_t Default = 0);
  void ClearLinksToVideoSource(TComponent* Source);
  void ClearLinksToAudioSource(TComponent* Source);

  // ---- IKzCamSenderConsumer
  void SenderGetImage(TComponent* Sender, TKzImageWrapper& Wrapper, uint16_t VideoIndex,
                      const TGUID& GUIDFrom) override;
  void SenderGetAudio(TComponent* Sender, TMemoryStream& Stream, int32_t Size, const TKzAudioInfo& Info,
                      uint32_t Duration, int64_t StartTime, const TGUID& GUIDFrom) override;
  int64_t SenderTimeSinceStart() override { return GetTickCountSinceStart(); }
  // Encodes one bitmap as a video payload and sends it, on the calling
  // thread (SenderGetImage hands frames to the encoding thread, which calls
  // this). Any thread; blocks while another frame is being encoded.
  bool SendImageEx(const TKzMCustomBitmap& Bitmap, uint16_t MediaIndex);

  // ---- IKzSendChannelOwner
  TComponent* ChannelComponent() override { return this; }
  TKzSendParam ChannelSendParam(uint16_t DataType) override;
  TKzSessionKey ChannelSessionKey() override { return FSessionKey.load(); }
  bool ChannelActive() override { return Active(); }
  void ChannelVideoSent() override;
  void ChannelBytesSent(int64_t Bytes) override { FBytesSent.fetch_add(static_cast<uint64_t>(Bytes)); }
  void ChannelDump(const uint8_t* Data, size_t Size) override;
  bool ChannelDumping() override { return UseDumpMemory(); }

  // ---- IProxyProperty
  void UpdateProxy() override;

protected:
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  // Shared: a send call keeps its channel alive while a deactivation drops it.
  using TChannelPtr = std::shared_ptr<TKzSendStreamThread>;
  void DoSetActive();
  void StopChannels();
  void RegisterHandlers();
  void GetGuids(const std::string& To, const std::string& Group, TGUID& From, TGUID& GTo, TGUID& GGroup);
  TChannelPtr GetSendStreamThreadByIndex(uint16_t DataType, uint16_t MediaIndex, bool Create);
  TKzChannelSettings ChannelSettings(uint16_t DataType, uint16_t MediaIndex);
  bool Allowed(uint16_t DataType) const;
  bool HandOver(uint16_t DataType, const TKzInfo& Info, const uint8_t* Data, size_t Size, const std::string& To,
                const std::string& Group);
  bool HandOverCmd(const TKzCmdInfo& Info);
  // Hands the stacked commands over in order; false when some were lost.
  bool CheckSendCmd(uint16_t MediaIndex);
  bool SendRelayCmd(TKzCmd& Cmd, const std::string& GUIDTo = "");
  bool EncodeFrame(const TKzMCustomBitmap& Bitmap, TMemoryStream& Out);
  // The Change encodings: the frame for the default destination.
  bool SendChangeFrame(const TKzMCustomBitmap& Frame, uint16_t MediaIndex);
  TKzChangeSettings ChangeSettings();
  TKzMotionDetectorValues Detector() const {
    std::lock_guard<std::mutex> g(FDetectorLock);
    return FDetector;
  }
  template <class T>
  void SetDetectorValue(T TKzMotionDetectorValues::*Field, T Value, void (TKzImageInfoList::*Apply)(T));
  // ---- IKzChangeOutput (the encoding thread)
  int64_t ChangeStartTime() override { return GetTickCountSinceStart(); }
  int64_t ChangeDiffTime() override { return GetDiffTickCountVideo(); }
  uint64_t ChangeNow() override { return KzMGetTickCount(); }
  void ChangeEncoded(std::vector<uint8_t>& Picture, uint16_t VideoIndex) override;
  bool ChangeSend(TKzImageInfo& Item, const std::vector<uint8_t>& Container, int64_t StartTime) override;
  void LinkSource(TComponent* Old, TComponent* New, bool Video);

  std::atomic<bool> FActive{false};
  std::atomic<TKzProtocol> FProtocol{TKzProtocol::kzpUDP};
  std::atomic<TKzTCPConnectionType> FTCPConnectionType{TKzTCPConnectionType::kztcpSenderToReceiver};
  std::atomic<uint16_t> FReceiverPort{7777};
  uint16_t FSenderPort = 0;
  std::atomic<uint32_t> FBufferSize{8192};
  TKzProxyProperty FProxyProperty;
  TKzConnectionProperties FConnectionProperties;
  TKzCompressionOptions FCompressionOptions;
  TKzSendOptions FSendOptions;
  std::atomic<uint8_t> FSendMediaTypes{0x1F};
  std::atomic<TKzEncodingType> FEncoding{TKzEncodingType::kzetJPEG};
  std::atomic<int32_t> FCompressionQuality{90};
  std::atomic<TKzVideoResolution> FVideoResolution{TKzVideoResolution::kzDefault};
  std::atomic<bool> FUseGUID{true};
  std::atomic<bool> FUseDumpMemory{false};
  mutable std::mutex FTextLock;  // guards the texts below
  std::string FReceiverHost, FGUIDFrom, FGUIDTo, FGUIDGroup, FSourceGUID;
  std::string FRelaySecret;
  TKzVideoSource* FVideoSource = nullptr;
  TKzAudioSource* FAudioSource = nullptr;
  TKzMediaSourceCollection FExtraMediaSources;
  mutable std::mutex FSourceLock;  // guards the source links read by delivery threads
  bool FRegistered = false;

  std::atomic<TKzSessionKey> FSessionKey{0};
  std::atomic<uint64_t> FStartTickCount{0};
  std::atomic<uint64_t> FLastTickCountVideo{0};
  TCriticalSection FChannelLock;  // guards FChannels and SenderListen
  std::array<std::vector<TChannelPtr>, 5> FChannels;
  std::atomic<uint64_t> FChannelsMade{0};  // push channels created since construction
  std::unique_ptr<TKzSenderListenerThread> SenderListen;
  std::mutex FParamLock;  // guards the speed settings
  std::array<TKzModeSend, 5> FModeForSend{};
  std::array<uint32_t, 5> FSleepForSend{}, FPacketForSend{};
  std::array<TKzSendParam, 5> FSendParams{};
  TCriticalSection FCriticalSectionCMD;  // guards CmdStack, IndexCMD
  std::atomic<int32_t> CmdLock{0};
  uint32_t IndexCMD = 0;
  std::vector<std::vector<TKzCmdInfo>> CmdStack;  // per media index
  std::mutex FCSSendImage;  // guards the encoders, the scaled frame and FChangeEncoder
  TKzMBitmap FScaled;
  std::atomic<uint32_t> FFullFrameInterval{25};
  std::atomic<uint16_t> FFrameDifferenceInterval{0};
  std::atomic<bool> FFilterBlur{false};
  mutable std::mutex FDetectorLock;  // guards FDetector
  TKzMotionDetectorValues FDetector;  // the published detector settings
  TKzImageInfoList ImageInfoList;
  TKzChangeEncoder FChangeEncoder{*this};
  std::mutex FEncodeThreadLock;  // guards FEncodeThread
  std::unique_ptr<TKzSenderEncodeThread> FEncodeThread;
  std::unique_ptr<TWavelet> FWavelet;
  std::atomic<uint64_t> FFramesSent{0}, FBytesSent{0};
  std::mutex FFPSLock;  // guards _FPS
  TKzFPS _FPS;
  std::mutex FDumpLock;  // guards DumpMemory
  TMemoryStream DumpMemory;
};

}  // namespace kz
