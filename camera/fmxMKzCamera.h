// The camera component: a video source that obtains frames from a network
// camera (Motion-JPEG over HTTP, H.264 over RTSP), an RTSP or HTTP URL, a
// Motion-JPEG or other video file, a local capture device, the desktop or
// the application itself, and hands every frame through its frame pipeline
// to the registered views, senders and recorders.
//
// Everything here runs on the main thread unless its comment says otherwise.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "camera/fmxMKzCamDevice.h"
#include "camera/fmxMKzCamFormats.h"
#include "camera/fmxMKzCamCommands.h"
#include "camera/fmxMKzOnvifClient.h"
#include "camera/fmxMKzCamUsers.h"
#include "camera/fmxMKzCamSettings.h"
#include "camera/fmxMKzCamStreamThread.h"
#include "camera/fmxMKzCameraTypes.h"
#include "foundation/fmxMKzBitmapFilters.h"
#include "video/fmxMKzMotionDetectorProperties.h"
#include "foundation/fmxMKzMessages.h"
#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "video/Fmxmkzgraphicfuncs.h"
#include "video/fmxMKzGetData.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzMotionDetectorProperties.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

class TKzCamControl;
class TForm;

class TKzCamSound;

class TKzCamera : public TKzVideoSource, public IProxyProperty, public IKzCamViewSource {
public:
  // Message numbers the camera handles (target: the camera).
  static constexpr uint32_t MsgDebugText = KZ_MSG_DEBUG;  // 1034, from fetch threads
  static constexpr uint32_t MsgDeviceEnded = 1040;        // a device object could not start

  // Creates the frame pipeline (not started) and, unless designing,
  // registers the message handlers. Main thread, never blocks.
  explicit TKzCamera(TComponent* AOwner);
  // Stops every thread and device and waits for them. Main thread; blocks
  // about a second per running activity at most.
  ~TKzCamera() override;

  // ---- Start and stop
  // Starts video for the current DeviceType; ignored while designing or while
  // video is already being fetched. Main thread; blocks only with
  // WaitThread set (until the stream ends) or while an aborted stream ends.
  void PlayVideoStream();
  // Plays a video file once: Motion-JPEG through the built-in reader, any
  // other content (MP4, Matroska, AVI, ...) through FFmpeg when it is there;
  // the end comes through OnEndVideoFile. Main thread, never blocks.
  void PlayVideoFile(const std::string& FileName);
  // Stops whatever the current device is doing; the end is reported later
  // through OnEndVideoStream/OnEndVideoFile. Main thread, never blocks for long.
  void Abort() override;
  // Empties the frame pipeline and clears the views' last frames. Main
  // thread; blocks (running main-thread work) while a pass finishes.
  void ClearVideo();

  // Main thread, never block.
  bool IsVideoPlaying() const override;
  bool IsStreamPlaying() const;
  bool IsFilePlaying() const override;

  // Wait, running main-thread work, until the named activity has ended.
  // Main thread; block.
  void WaitForVideo();
  void WaitForVideoStream();
  void WaitForVideoFile();
  void WaitForExecuteCmd();
  void WaitForSearch();

  // ---- Identification (fmxMKzCameraSearch)
  // Starts the search of what answers at CameraHost:CameraPort: the vendor
  // probes of Types (empty: all), then, when none matched, the model-table
  // search; then preparation. OnSearchComplete reports the end (Status 0:
  // found). False when a search runs already, the device is not an IP
  // camera or there is neither a host nor a URL. Main thread, never blocks.
  bool SearchCamera(TKzCameraTypes Types);
  // The vendor probes and the model-table search of Types at Host:Port,
  // without preparation; the vendor families found. Main thread (running
  // main-thread work) or any other; blocks for the search.
  TKzCameraTypes SearchCameraToIP(TKzCameraTypes Types, const std::string& Host, TKzProtocolVersion& Version,
                                  uint16_t Port);
  // One vendor probe at Host:Port. Without Wait: started (the result comes
  // through UserAccess and the types of a later search); with Wait: its
  // outcome, blocking (main-thread work runs meanwhile).
  bool IsFoscam(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version);
  bool IsPanasonic(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version);
  bool IsDLink(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version);
  bool IsAxis(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version);
  bool IsMobotix(const std::string& Host, uint16_t Port, bool Wait, TKzProtocolVersion& Version);
  // The model-table search alone: the first table URL of Types that
  // answers, with its families and model names. Blocks.
  bool IsCamDevices(TKzCameraTypes Types, TKzCameraTypes& Devices, std::string& URL, std::string& Models);
  // Reads the camera's settings through its vendor interface (IPCameraTypes,
  // ProtocolVersion); OnPrepared reports the end. False when nothing can be
  // read (no host, access uaNone, a preparation runs). Main thread, never blocks.
  bool Prepare();
  // Waits for every search, probe and preparation thread. Main thread; blocks.
  void WaitStopCamera();

  // Switches the device kind (stopping and waiting for running video first).
  // Main thread; blocks while running video ends.
  void InitDevice(TKzDeviceType ADeviceType, TKzVideoFormat AVideoFormat);

  // ---- Reconnecting
  // When the source of a playing stream fails for a reason that may pass
  // (refused, timed out, name not found, stream closed, a busy server), the
  // camera tries again after 1 s, then after twice as long each time up to
  // ReconnectDelayMax ms, until Abort; OnReconnecting reports each attempt
  // and LastError the reason. The first frame after an outage ends it. While
  // the last cause was a refused or dropped connection (the host is up, its
  // camera service is not), a connect probe twice a second ends the wait as
  // soon as the service answers. Without AutoReconnect the stream ends with Status 1.
  bool AutoReconnect() const { return FAutoReconnect; }
  void SetAutoReconnect(bool Value) { FAutoReconnect = Value; }
  uint32_t ReconnectDelayMax() const { return FReconnectDelayMax; }
  void SetReconnectDelayMax(uint32_t Value) { FReconnectDelayMax = Value < 1000 ? 1000 : Value; }
  // The camera has lost its source and waits for, or makes, another attempt.
  // Main thread, never blocks.
  bool IsReconnecting() const { return FReconnectAttempt > 0; }
  // Attempts in the current outage, 0 outside one.
  uint32_t ReconnectAttempt() const { return FReconnectAttempt; }
  // Whether a failure of this kind is worth another attempt. Any thread.
  static bool IsPassingFailure(const TKzSourceError& Error);

  // ---- Frames
  // Hands one decoded frame to the pipeline and counts it. Called on the
  // thread that decoded it; never blocks for long.
  void CamDrawImage(TKzMBitmap& Bitmap, double Time);
  // The same, taking the frame's pixels over instead of copying them: Bitmap
  // comes back holding an earlier frame's pixels, or empty, to be refilled
  // by the next frame (decoders that overwrite one bitmap per frame).
  void CamDrawImageSwap(TKzMBitmap& Bitmap, double Time);
  // Whether anybody wants frames. Any thread, never blocks.
  bool CanOutputFrames();
  // The size the next frame should be decoded (or scaled) at, from what the
  // consumers ask (DecodeToViewSize); full without a pipeline. Any thread;
  // blocks only for a change of the consumer lists.
  TKzDecodeSize WantedDecodeSize();
  // Around every frame of a local capture device, on its frame thread:
  // Before answers whether the camera takes a frame now (not while it
  // aborts); After closes the hand-off. Never block.
  bool BeforeCamDrawImageFromWebCam();
  void AfterCamDrawImageFromWebCam();
  // Copy of the frame last drawn (and its time); empty while designing.
  // A JPEG frame decoded smaller for the views comes at the source's size.
  // Any thread; blocks briefly (decoding that frame again).
  TKzMBitmap GetCurrentImage();
  TKzMBitmap GetCurrentImageEx(double& Time);
  // The same as the library's image wrapper; nullptr while designing.
  std::unique_ptr<TKzImageWrapper> GetSnapShot();
  std::unique_ptr<TKzImageWrapper> GetSnapShotEx(double& Time);
  // Frames counted in the last window of just over a second. Any thread.
  double GetFPS();
  // Counts one frame (handed to capture objects as their per-frame hook). Any thread.
  void HookGetFPS(TComponent* Sender);
  uint32_t GetFrameIndex() override;
  int64_t GetLastFrameTickCount() override;

  // ---- Sound
  // Audio consumers get the sound of sources that carry it (streams and
  // files played through FFmpeg, with the FFMpegProperty's Audio set). Sound
  // is decoded only for a stream that starts, or opens again, while a
  // consumer is registered. Main thread; block (running main-thread work)
  // while a block is delivered. Unregistering an unknown consumer raises
  // EKzAssertionFailed.
  void RegisterCamAudio(IKzCamAudioConsumer* Consumer);
  void UnRegisterCamAudio(IKzCamAudioConsumer* Consumer);
  // Any thread, never blocks.
  bool HasAudioConsumers() const { return FAudioCount.load(std::memory_order_acquire) > 0; }
  // Hands one decoded block to every audio consumer. The decoding thread.
  void CamAudioBlock(const TKzAudioInfo& Info, const uint8_t* Data, size_t Size);
  // The camera's sound source (TKzCamSound::SetCamera calls this), also an
  // audio consumer. Main thread; waits for a block being delivered.
  void SetCamSound(TKzCamSound* Sound);
  // Frames the sound source's output has played, -1 without one. The decoding thread.
  int64_t CamSoundPosition();
  // A stream with sound is about to open. The fetch thread.
  void CamAudioStreamStart();

  // ---- Pan/tilt movement (fmxMKzCamMovement). Main thread; never block
  // except in command mode kzsmWait, where a command is waited for while
  // main-thread work runs. Each returns whether a command was sent (in wait
  // mode: whether it succeeded).
  TKzCamMethods GetAccessibleCamMethods() const override;
  bool Move(TKzCamMovementEx Movement);
  bool MoveStop(TKzCamMovementEx Movement);
  // Video plays and moving is accessible (and, for a capture device, the device can).
  bool CanMove(TKzCamMovementEx Movement);
  bool MoveLeft() override { return Move(TKzCamMovementEx::kzdLeft); }
  bool MoveRight() override { return Move(TKzCamMovementEx::kzdRight); }
  bool MoveUp() override { return Move(TKzCamMovementEx::kzdUp); }
  bool MoveDown() override { return Move(TKzCamMovementEx::kzdDown); }
  bool MoveLeftUp() override { return Move(TKzCamMovementEx::kzdUpLeft); }
  bool MoveLeftDown() override { return Move(TKzCamMovementEx::kzdDownLeft); }
  bool MoveRightUp() override { return Move(TKzCamMovementEx::kzdUpRight); }
  bool MoveRightDown() override { return Move(TKzCamMovementEx::kzdDownRight); }
  bool MoveCenter() override { return Move(TKzCamMovementEx::kzdHome); }
  bool MoveHPatrol() { return Move(TKzCamMovementEx::kzdHPatrol); }
  bool MoveVPatrol() { return Move(TKzCamMovementEx::kzdVPatrol); }
  bool MoveLeftStop() override { return MoveStop(TKzCamMovementEx::kzdLeft); }
  bool MoveRightStop() override { return MoveStop(TKzCamMovementEx::kzdRight); }
  bool MoveUpStop() override { return MoveStop(TKzCamMovementEx::kzdUp); }
  bool MoveDownStop() override { return MoveStop(TKzCamMovementEx::kzdDown); }
  bool MoveHPatrolStop() { return MoveStop(TKzCamMovementEx::kzdHPatrol); }
  bool MoveVPatrolStop() { return MoveStop(TKzCamMovementEx::kzdVPatrol); }
  // The movement flags (tests, panels).
  const TKzCamMoveFlags& MoveFlags() const { return FMove; }
  bool IsMoveTimerEnabled() const { return FTimerMove && FTimerMove->Enabled(); }

  // ---- Settings and commands (fmxMKzCameraCommands). Main thread; never
  // block except in command mode kzsmWait and where said.
  TKzCameraParameters& Parameters() { return *FParameters; }
  TKzCamUserCollection& Users() { return *FUsers; }
  // Copies Value's users and keeps this camera's notifications on them.
  void SetUsers(const TKzCamUserCollection& Value);
  int32_t MaxUsers() const { return FMaxUsers; }
  void SetMaxUsers(int32_t Value) { FMaxUsers = Value; }
  void AddUser(const std::string& Name, const std::string& Password, TKzUserAccess Access);
  void ModifyUser(int32_t Index, const std::string& Name, TKzUserAccess Access, const std::string& Password);
  // Reads the users from the camera. Blocks on the network.
  bool RefreshUsers();
  // Nesting; while locked no command is sent.
  // Any thread (preparation locks from its worker).
  void LockCommands() { FCommandLockCount.fetch_add(1, std::memory_order_acq_rel); }
  void UnlockCommands() {
    int32_t n = FCommandLockCount.load(std::memory_order_acquire);
    while (n > 0 && !FCommandLockCount.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
    }
  }
  // One command (URL, then URL2 when it succeeded) on the command thread;
  // Done is its end notification (ThreadExecuteDone when null). False when
  // commands are locked, the device is not an IP camera or a URL is not
  // sendable; in wait mode the command's success.
  using TKzCamThreadDone = void (TKzCamera::*)(TThread* Sender);
  bool MultiExecute(const std::string& URL, TKzCamCommand CMD, TKzCamThreadDone Done = nullptr);
  bool MultiExecute2(const std::string& URL1, const std::string& URL2, TKzCamCommand CMD,
                     TKzCamThreadDone Done = nullptr);
  bool MultiExecuteVideoProperty(const std::string& URL, TKzCamCommand CMD);
  // MultiExecute2 of requests that need not be GETs.
  bool MultiExecuteRequests(const TKzCamRequest& Request1, const TKzCamRequest& Request2, TKzCamCommand CMD,
                            TKzCamThreadDone Done = nullptr);
  // Synchronous GETs with the camera's settings. Block on the network
  // (not for the main thread). ExecuteStr and GetFileHTTP keep up to 1 MiB
  // of the reply (more: false); DownloadFile writes the reply to FileName,
  // with OnDownload as it arrives and OnDownloaded at the end.
  bool ExecuteURL(const std::string& URL);
  bool ExecuteStr(const std::string& URL, std::string& Text);
  // The request form: method, content type and body besides the URL.
  bool ExecuteStr(const TKzCamRequest& Request, std::string& Text);
  bool EncodeAndExecuteStr(const std::string& URL, std::string& Text);
  bool GetFileHTTP(const std::string& URL, std::string& Data);
  bool DownloadFile(const std::string& URL, const std::string& FileName);
  // Sends one URL of Group on the property thread; OnSetProperty reports the end.
  bool SetProperty(TKzCamPropertyGroup Group, const std::string& URL);
  // Fires OnSetProperty with 0 (Ok) or 1.
  void EndApplyProperties(bool Ok);
  // A device operation of the vendor (IP cameras only). Blocks on the network.
  bool CallIPCameraMethod(TKzCamMethod Method, const std::string& Param);
  bool SwitchLEDOn() { return CallIPCameraMethod(TKzCamMethod::kzcm_LedOn, ""); }
  bool SwitchLEDOff() { return CallIPCameraMethod(TKzCamMethod::kzcm_LedOff, ""); }
  // Image settings: sent to an IP camera (the value is stored once the
  // command started) or to the device's colour control.
  void SetBrightness(int32_t Value);
  void SetContrast(int32_t Value);
  void SetHue(int32_t Value);
  void SetSaturation(int32_t Value);
  void SetSharpness(int32_t Value);
  void SetVideoResolution(TKzVideoResolution Value) override;
  void SetVideoMode(TKzVideoMode Value);
  void SetQuality(TKzQualityType Value);
  void SetFocusType(TKzCamFocus Value);
  void SetFocusDistance(int32_t Value);
  void SetBitrate(int32_t Value);
  void SetFlipHorizontally(bool Value);
  void SetFlipVertically(bool Value);
  bool ResetImageSetting() { return CallIPCameraMethod(TKzCamMethod::kzcm_ResetImageSettings, ""); }
  // End notifications of commands: movements and image settings, other
  // commands, image settings, property threads.
  void ThreadCallMoveDone(TThread* Sender);
  void ThreadExecuteDone(TThread* Sender);
  void ThreadDoneVideoProperty(TThread* Sender);
  void ThreadDoneSetProperty(TThread* Sender);

  // ---- Login
  // Credentials for Realm: OnLogin decides when assigned, else the login
  // form. Main thread; blocks while the form is shown.
  void DoGetLogin(TComponent* Sender, const std::string& Realm, std::string& AUserName, std::string& APassword,
                  bool& Proceed);
  // The modal login form; true on OK (the fields are then copied back).
  // Main thread; blocks while it is shown.
  bool ShowLoginDialog(const std::string& Realm, std::string& AUserName, std::string& APassword);

  // Posts a message to this camera through the library's message pump. Any thread, never blocks.
  void DoPostMessage(uint32_t Msg, WPARAM Param1, LPARAM Param2);

  // CameraHost/CameraPort, or the host/port written in URL when empty/0.
  std::string GetExtractCameraHost() const;
  uint16_t GetExtractCameraPort() const;

  // ---- Stream URL candidates (the template tables of fmxMKzCamFormats)
  // Appends the prepared URL (PrepareURL) of every row 0..HighIndex of Table
  // whose vendor families meet Types; every row when Types is empty. Equal
  // URLs from different rows each get an entry. Any thread, never blocks.
  void FillCamURLs(std::vector<std::string>& List, std::span<const TKzCamFormat> Table, int32_t HighIndex,
                   TKzCameraTypes Types) const;
  // Fills List with the candidates of Format's table (CamAnyMJPEG for
  // kzvfMJPEG, else CamAnyH264) and probes them in order: RTSP URLs with
  // CheckRTSP_URL, the others with CheckConnectMJPEG. Returns the first that
  // answers, "" when none does. Not the main thread: blocks on the network,
  // up to several seconds per candidate.
  std::string CheckURLs(std::vector<std::string>& List, TKzCameraTypes Types, TKzVideoFormat Format);
  // Whether URL answers with Motion-JPEG or a JPEG picture: one GET (sent
  // again with the camera's or the proxy's credentials after a 401 or 407)
  // and one read. The connection uses the MJPEGTimeOut class; with
  // UseTimeOut, TimeOut (ms) bounds the wait for the reply instead. False at
  // once while commands are locked or an abort runs. The caller's thread;
  // blocks on the network (not on the main thread).
  bool CheckConnectMJPEG(const std::string& URL, uint32_t TimeOut, bool UseTimeOut = false);
  // Commands are locked (LockCommands). Any thread, never blocks.
  bool AreCommandsLocked() const { return FCommandLockCount.load(std::memory_order_acquire) > 0; }

  // ---- The frame pipeline
  // Prepares the pipeline for a start; starts it once. Main thread.
  void InitGetDataThread();
  void StartGetDataThread();
  TKzGetData* GetDataThread() const { return FGetDataThread; }

  // Re-applies the proxy settings (the proxy object calls it).
  void UpdateProxy() override;

  // ---- End notifications (main thread)
  // The end notification of a fetch thread.
  void ThreadDoneVideo(TThread* Sender);
  // An HTTP thread moved to another still image.
  void ChangeIndexURL(TKzCamStreamThread* Sender);
  // Reports from device objects.
  void DeviceVideoStart(TKzCamDevice& Device);
  void DeviceStartVideoStream(TKzCamDevice& Device);
  void DeviceEndVideoStream(TKzCamDevice& Device, int32_t Status);
  // The device could not start: a debug text, then the end with Status 1, both posted.
  void DeviceFailed(TKzCamDevice& Device, const std::string& Text);

  // ---- Published properties
  const std::string& Agent() const { return FAgent; }
  void SetAgent(const std::string& Value) { FAgent = Value; }
  const std::string& URL() const override { return FURL; }
  void SetURL(const std::string& Value) { FURL = Value; }
  const std::string& Filename() const { return FFileName; }
  void SetFilename(const std::string& Value);
  uint16_t Latency() const { return FLatency.load(std::memory_order_acquire); }
  void SetLatency(uint16_t Value);
  bool SmoothImage() const { return FSmoothImage; }
  void SetSmoothImage(bool Value);
  const std::string& SourceFileName() const override { return FSourceFileName; }
  void SetSourceFileName(const std::string& Value);
  const std::string& CameraHost() const override { return FCameraHost; }
  void SetCameraHost(const std::string& Value) { FCameraHost = Value; }
  uint16_t CameraPort() const override { return FCameraPort; }
  void SetCameraPort(uint16_t Value) { FCameraPort = Value; }
  uint16_t RTSPPort() const { return FRTSPPort; }
  void SetRTSPPort(uint16_t Value) { FRTSPPort = Value; }
  uint16_t CameraChannel() const { return FCameraChannel; }
  void SetCameraChannel(uint16_t Value) { FCameraChannel = Value; }
  uint16_t CameraSearchTimeOut() const { return FCameraSearchTimeOut; }
  void SetCameraSearchTimeOut(uint16_t Value) { FCameraSearchTimeOut = Value; }
  uint16_t MaxCameraSearchThreadCount() const { return FMaxCameraSearchThreadCount; }
  void SetMaxCameraSearchThreadCount(uint16_t Value) { FMaxCameraSearchThreadCount = Value; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& Value) { FUserName = Value; }
  const std::string& UserPassword() const { return FUserPassword; }
  void SetUserPassword(const std::string& Value) { FUserPassword = Value; }
  TKzSendMode CommandMode() const { return FCommandMode; }
  void SetCommandMode(TKzSendMode Value) { FCommandMode = Value; }
  TKzCamControl* CameraControl() const { return FCameraControl; }
  void SetCameraControl(TKzCamControl* Value);
  TKzDeviceType DeviceType() const override { return FDeviceType; }
  void SetDeviceType(TKzDeviceType Value);
  TKzVideoFormat VideoFormat() const { return FVideoFormat; }
  void SetVideoFormat(TKzVideoFormat Value) { FVideoFormat = Value; }
  TKzVideoFormat SubVideoFormat() const { return FSubVideoFormat; }
  void SetSubVideoFormat(TKzVideoFormat Value) { FSubVideoFormat = Value; }
  TKzDesktopMode DesktopMode() const { return FDesktopMode; }
  void SetDesktopMode(TKzDesktopMode Value) { FDesktopMode = Value; }
  int32_t DesktopZoomPercent() const { return FDesktopZoomPercent; }
  void SetDesktopZoomPercent(int32_t Value) { FDesktopZoomPercent = Value; }
  // The screen rectangle of kzdmRect; the form or the X window of kzdmWindow
  // (the window wins when both are set). Read when desktop capture starts.
  const TRect& DesktopRect() const { return FDesktopRect; }
  void SetDesktopRect(const TRect& Value) { FDesktopRect = Value; }
  TForm* DesktopForm() const { return FDesktopForm; }
  void SetDesktopForm(TForm* Value);
  uint64_t DesktopWindow() const { return FDesktopWindow; }
  void SetDesktopWindow(uint64_t Value) { FDesktopWindow = Value; }
  TKzRotation Rotation() const { return FRotation; }
  void SetRotation(TKzRotation Value);
  bool CycleVideoImages() const { return FCycleVideoImages; }
  void SetCycleVideoImages(bool Value) { FCycleVideoImages = Value; }
  const std::vector<std::string>& VideoImagesURLs() const { return FVideoImagesURLs; }
  void SetVideoImagesURLs(const std::vector<std::string>& Value) { FVideoImagesURLs = Value; }
  int32_t VideoImageIndex() const { return FVideoImageIndex; }
  // Clamped to the positions of VideoImagesURLs (0 for an empty list).
  void SetVideoImageIndex(int32_t Value);
  bool ToFile() const { return FToFile; }
  void SetToFile(bool Value);
  TKzJpegIntegrity JpegIntegrity() const { return FJpegIntegrity; }
  void SetJpegIntegrity(TKzJpegIntegrity Value);
  // Stores max(Value, 0.0001) and hands the rate to the decoder, devices and threads.
  void SetFramePerSec(double Value) override;
  TKzGStreamerProperty& GStreamerProperty() { return FGStreamerProperty; }
  TKzProxyProperty& ProxyProperty() { return FProxyProperty; }
  TKzFFMpegProperty& FFMpegProperty() { return FFFMpegProperty; }
  // Motion detection of the output frames; regions go to OnGetRegions.
  TKzGlobalMotionDetectorProperties& MotionDetectorProperties() { return FMotionDetectorProperties; }
  TKzTimeOut SearchHTTPTimeOut() const { return FSearchHTTPTimeOut; }
  void SetSearchHTTPTimeOut(TKzTimeOut Value) { FSearchHTTPTimeOut = Value; }
  TKzTimeOut SearchRTSPTimeOut() const { return FSearchRTSPTimeOut; }
  void SetSearchRTSPTimeOut(TKzTimeOut Value) { FSearchRTSPTimeOut = Value; }
  TKzTimeOut MJPEGTimeOut() const { return FMJPEGTimeOut; }
  void SetMJPEGTimeOut(TKzTimeOut Value) { FMJPEGTimeOut = Value; }
  bool LoginPrompt() const { return FLoginPrompt; }
  void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
  TKzMLanguage Language() const { return FLanguage; }
  void SetLanguage(TKzMLanguage Value) { FLanguage = Value; }
  // The name the camera calls itself, shown in view captions.
  const std::string& Alias() const override { return FAlias; }
  void SetAlias(const std::string& Value) { FAlias = Value; }
  // The Motion-JPEG file given to the last PlayVideoFile.
  const std::string& PlayingFileName() const override { return FPlayingFileName; }

  // ---- Other state
  // Start operations block until the fetch thread has ended.
  bool WaitThread() const { return FWaitThread; }
  void SetWaitThread(bool Value) { FWaitThread = Value; }
  TKzCameraTypes IPCameraTypes() const { return FIPCameraTypes; }
  void SetIPCameraTypes(TKzCameraTypes Value) { FIPCameraTypes = Value; }
  // Moving is accessible.
  bool IsControllableCamera() const;
  // Any thread (the search writes them from its probes).
  TKzUserAccess UserAccess() const { return FUserAccess.load(std::memory_order_acquire); }
  bool Searching() const override { return FSearching; }
  TKzProtocolVersion ProtocolVersion() const { return FProtocolVersion.load(std::memory_order_acquire); }
  int32_t VideoDeviceIndex() const { return FVideoDeviceIndex; }
  void SetVideoDeviceIndex(int32_t Value) { FVideoDeviceIndex = Value; }
  // Success of the last fetch thread that ended.
  bool LastResult() const { return FResult; }
  int32_t LastStatus() const { return FLastStatus; }
  // Why the last activity failed, or why the camera is reconnecting (kind
  // kzseNone after a success or an abort). Main thread.
  const TKzSourceError& LastError() const { return FLastError; }
  // Image settings of the camera itself.
  TKzQualityType Quality() const { return FQuality; }
  TKzCamFocus FocusType() const { return FFocusType; }
  int32_t FocusDistance() const { return FFocusDistance; }
  TKzVideoMode VideoMode() const { return FVideoMode; }
  int32_t Brightness() const { return FBrightness; }
  int32_t Contrast() const { return FContrast; }
  int32_t Hue() const { return FHue; }
  int32_t Saturation() const { return FSaturation; }
  int32_t Sharpness() const { return FSharpness; }
  int32_t Flip() const { return FFlip; }
  // Values read from the camera by the vendor interfaces and the camera
  // search: stored without sending anything.
  void InitBrightness(int32_t Value) { FBrightness = Value; }
  void InitContrast(int32_t Value) { FContrast = Value; }
  void InitHue(int32_t Value) { FHue = Value; }
  void InitSaturation(int32_t Value) { FSaturation = Value; }
  void InitSharpness(int32_t Value) { FSharpness = Value; }
  void InitVideoMode(TKzVideoMode Value) { FVideoMode = Value; }
  void InitQuality(TKzQualityType Value) { FQuality = Value; }
  void InitFocusType(TKzCamFocus Value) { FFocusType = Value; }
  void InitFocusDistance(int32_t Value) { FFocusDistance = Value; }
  void InitFlip(int32_t Value) { FFlip = Value; }
  void InitVideoResolution(TKzVideoResolution Value) { TKzVideoSource::SetVideoResolution(Value); }
  // Setters the search's probes write through. Any thread, never block.
  void DoSetUserAccess(TKzUserAccess Value) { FUserAccess.store(Value, std::memory_order_release); }
  // Raises the access level to Value unless it is higher already.
  void DoRaiseUserAccess(TKzUserAccess Value);
  void DoSetProtocolVersion(TKzProtocolVersion Value) { FProtocolVersion.store(Value, std::memory_order_release); }
  int32_t DLinkModelIndex() const { return FDLinkModelIndex.load(std::memory_order_acquire); }
  void DoSetDLinkModelIndex(int32_t Value) { FDLinkModelIndex.store(Value, std::memory_order_release); }
  // ONVIF: whether the camera may be driven through ONVIF when no vendor
  // family claims it (default true), and what it knows of its ONVIF device.
  bool UseONVIF() const { return FUseONVIF; }
  void SetUseONVIF(bool Value) { FUseONVIF = Value; }
  const TKzCamOnvif& Onvif() const { return FOnvif; }
  void DoSetOnvif(const TKzCamOnvif& Value) { FOnvif = Value; }
  // Identifies the ONVIF device at CameraHost:CameraPort on a worker
  // thread: its end sets Onvif() and UserAccess, calls OnLoginFailed when
  // the credentials were refused and OnSearchComplete with 0 or 1. False
  // when it cannot start (UseONVIF off, no host, one running). Main thread.
  bool IdentifyOnvif();
  const std::string& AxisParamScriptName() const { return FAxisParamScriptName; }
  void DoSetAxisParamScriptName(const std::string& Value) { FAxisParamScriptName = Value; }

  // The device objects and fetch threads of the current activity (tests,
  // tools); null when none exists. Main thread.
  TKzCamDevice* UserThread() const { return FUserThread.get(); }
  TKzCamDevice* WebCam() const { return FWebCam.get(); }
  TKzCamDevice* Desktop() const { return FDesktop.get(); }
  TKzCamStreamThread* ThreadHTTP() const { return FThreadHTTP; }
  TKzCamStreamThread* ThreadRTSP() const { return FThreadRTSP; }
  TKzCamStreamThread* ThreadMJPEG() const { return MJPEG; }

  // ---- Events (main thread unless said otherwise)
  TNotifyEvent OnVideoStart;
  // Every output frame, on the main thread; a main thread that falls behind
  // sees the newest frame, not a backlog. Handed to the pipeline at each start.
  TKzImageEvent OnGetImage;
  TKzImageEventEx OnGetImageEx;
  TKzGetRegionsEvent OnGetRegions;
  // For device objects that announce new frames themselves.
  TKzImageEvent OnNewImage;
  TKzCamProgressEvent OnProgress;
  TKzCamDownloadEvent OnDownload;
  TKzCamDoneEvent OnCommandStart;
  TNotifyEvent OnStartVideoStream;
  TNotifyEvent OnStartVideoFile;
  TKzCamDoneEvent OnEndVideoStream;
  TKzCamDoneEvent OnEndVideoFile;
  TKzCamDoneEvent OnDownloaded;
  TKzCamDoneEvent OnMoved;
  TKzCamDoneEvent OnSearchComplete;
  TKzCamDoneEvent OnPrepared;
  TKzCamDoneEvent OnSetProperty;
  TKzGNeedData OnNeedData;
  TKzMGStreamerLogEvent OnGStreamerLog;
  TKzOnLoginEvent OnLogin;
  // Called on the fetch thread.
  TKzOnLoginFailedEvent OnLoginFailed;
  TKzGetMediaStreamIndexEvent OnGetVideoStreamIndex;
  TKzDataReadDebugEvent OnDebugDataRead;
  // What a local capture device is doing (requested, then Done).
  TKzDeviceOperationEvent OnDeviceOperation;
  // The source failed and the camera tries again (see AutoReconnect).
  TKzCamReconnectEvent OnReconnecting;
  // The movement-done handler of the control panel (set by the panel).
  TKzCamDoneEvent CtrlDoneControlEvent;

protected:
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void LockConsumers() override;
  void UnlockConsumers() override;
  // The stream URL of the camera's model from its vendor interface; empty
  // when the vendor is not known. Main thread.
  virtual std::string GetVendorStreamURL(bool H264);
  // Movement timer tick (100 ms): resends the held movement.
  virtual void DoTimerMove();

  // State of the command, vendor and search parts of the camera.
  std::atomic<int32_t> FCommandLockCount{0};
  std::atomic<int32_t> FDLinkModelIndex{0};
  std::string FAxisParamScriptName;
  int32_t FMaxUsers = 0;
  uint32_t LastUpdate = 0;
  // Auxiliary threads (commands, vendor detection, search, preparation,
  // property setting); each frees itself and clears its reference in its
  // end notification. The camera aborts them and waits for them.
  TKzBaseThread* FThreadExecute = nullptr;
  TKzBaseThread* IsFoscamThread = nullptr;
  TKzBaseThread* IsPanasonicThread = nullptr;
  TKzBaseThread* IsDLinkThread = nullptr;
  TKzBaseThread* IsAxisThread = nullptr;
  TKzBaseThread* IsMobotixThread = nullptr;
  TKzBaseThread* IsCamDevicesThread = nullptr;
  TKzBaseThread* SearchCameraThread = nullptr;
  TKzBaseThread* PrepareThread = nullptr;
  TKzBaseThread* SetPropertyThread = nullptr;
  TKzBaseThread* FOnvifThread = nullptr;  // ONVIF identification

private:
  // A device object exists for Device's kind and nothing else is running.
  bool IsDeviceAlone(const TKzCamDevice* Device) const;
  // Again: a reconnect attempt, which the consumers do not see as a new start.
  void StartStreamThread(bool Again = false);
  // Reconnecting (fmxMKzCameraReconnect): whether Thread's end begins or
  // continues an outage (the attempt is then scheduled); the back-off tick;
  // the end of the wait by an abort.
  bool BeginOutage(TKzCamStreamThread& Thread, TKzSourceError Error);
  void ReconnectTick();
  bool ProbeSource(bool Start);
  void CloseProbe();
  // Ends an outage; true when the camera was waiting between two attempts.
  bool CancelReconnect();
  void RunDevice(TKzCamDevice* Device);
  void DestroyDevices();
  void AbortAuxThreads();
  // Search (fmxMKzCameraSearch): end notifications of the search and the
  // preparation, the search animation, one probe started on its own.
  void ThreadDoneSearch(TThread* Sender);
  void ThreadDonePrepare(TThread* Sender);
  void SearchAnimationTick();
  void EndSearch(int32_t Status);
  bool RunProbe(TKzBaseThread*& Ref, TKzCameraType Type, const std::string& Host, uint16_t Port, bool Wait,
                TKzProtocolVersion& Version);
  void HandleDebugText(TMessage& Message);
  void HandleDeviceEnded(TMessage& Message);
  void RestartForSettings();
  // Movement (fmxMKzCamMovement).
  bool InitMovement(TKzCamMovementEx Movement, bool Command);
  bool MoveIPCamera(TKzCamMovementEx Movement);
  bool StopIPCamera(TKzCamMovementEx Movement);
  void EnableTimerMove();
  void DisableTimerMove();
  // Commands (fmxMKzCameraCommands).
  struct TKzCommandOutcome {
    bool Ended = false;
    bool Result = false;
  };
  bool WaitCommand(const TKzCommandOutcome& Outcome);
  void NotifyCommandDone(int32_t Status);
  bool ChangeImageSetting(TKzCamProperty Property, TKzCamCommand CMD, int32_t Value,
                          const TKzColorControlProperty* Color);
  TKzCamDevice* ActiveDevice() const;
  void HookUser(TKzCollectionItemOperation Operation, int32_t Index);
  void AttachUserHooks();
  TKzDrawImage* Paint() const;
  void SnapshotAtSourceSize(TKzMBitmap& Image);
  void DrawImage(TKzMBitmap& Bitmap, double Time, bool Swap);

  TKzCamControl* FCameraControl = nullptr;
  std::unique_ptr<TKzCamDevice> FUserThread;  // kzdtUserData
  std::unique_ptr<TKzCamDevice> FWebCam;      // kzdtWebCamera
  std::unique_ptr<TKzCamDevice> FDesktop;     // kzdtDesktop
  std::unique_ptr<TKzCamDevice> FPlayer;      // kzdtFile
  std::unique_ptr<TKzCamDevice> FGST;         // GStreamer playback
  std::string FAgent;
  std::string FURL;
  TKzCameraTypes FIPCameraTypes;
  TKzCamOnvif FOnvif;
  bool FUseONVIF = true;
  uint64_t FLastMoveTick = 0;  // when the last move command was sent
  std::string FFileName;
  std::string FSourceFileName;
  std::string FPlayingFileName;
  std::string FAlias;
  std::string FCameraHost;
  uint16_t FCameraPort = 0;
  uint16_t FRTSPPort = 0;
  uint16_t FCameraChannel = 1;
  uint16_t FCameraSearchTimeOut = 3000;
  uint16_t FMaxCameraSearchThreadCount = 40;
  std::string FUserName;
  std::string FUserPassword;
  std::atomic<TKzUserAccess> FUserAccess{TKzUserAccess::uaNone};
  bool FWaitThread = false;
  bool FToFile = false;
  TKzQualityType FQuality = TKzQualityType::qtStandard;
  TKzCamFocus FFocusType = TKzCamFocus::kzcfFocusAuto;
  int32_t FFocusDistance = 1;
  TKzVideoMode FVideoMode = TKzVideoMode::vm50HZ;
  int32_t FBrightness = 96;
  TKzJpegIntegrity FJpegIntegrity = TKzJpegIntegrity::kzjiNone;
  int32_t FContrast = 4;
  int32_t FHue = 50;
  int32_t FSaturation = 50;
  int32_t FSharpness = 50;
  int32_t FFlip = 0;
  bool FCycleVideoImages = false;
  int32_t FVideoImageIndex = 0;
  std::vector<std::string> FVideoImagesURLs;
  bool FSearching = false;
  bool FSearchAborted = false;  // Abort ran while the search or its preparation did
  TKzDeviceType FDeviceType = TKzDeviceType::kzdtIPCamera;
  TKzVideoFormat FVideoFormat = TKzVideoFormat::kzvfMJPEG;
  TKzVideoFormat FSubVideoFormat = TKzVideoFormat::kzvfMJPEG;
  std::unique_ptr<TKzCameraParameters> FParameters;
  std::unique_ptr<TKzCamUserCollection> FUsers;
  TKzCamMoveFlags FMove;
  std::atomic<uint16_t> FLatency{0};
  bool FSmoothImage = false;
  std::atomic<TKzProtocolVersion> FProtocolVersion{TKzProtocolVersion::kzpvVer1};
  std::unique_ptr<TTimer> FTimerMove;              // 100 ms, movement
  std::unique_ptr<TTimer> FTimerSearchAnimation;  // 250 ms, search animation
  TKzSendMode FCommandMode = TKzSendMode::kzsmWait;
  TKzDesktopMode FDesktopMode = TKzDesktopMode::kzdmFull;
  int32_t FDesktopZoomPercent = 100;
  TRect FDesktopRect;
  TForm* FDesktopForm = nullptr;
  uint64_t FDesktopWindow = 0;
  TKzRotation FRotation = TKzRotation::kzrNone;
  TKzGStreamerProperty FGStreamerProperty;
  TKzProxyProperty FProxyProperty;
  TKzFFMpegProperty FFFMpegProperty;
  TKzGlobalMotionDetectorProperties FMotionDetectorProperties{this};
  int32_t FVideoDeviceIndex = -1;
  // Fetch threads: self-freeing; their end notification clears these.
  TKzCamStreamThread* MJPEG = nullptr;
  TKzCamStreamThread* FThreadHTTP = nullptr;
  TKzCamStreamThread* FThreadRTSP = nullptr;
  bool FResult = false;
  TKzTimeOut FSearchHTTPTimeOut = TKzTimeOut::kztMedium;
  TKzTimeOut FSearchRTSPTimeOut = TKzTimeOut::kztMedium;
  TKzTimeOut FMJPEGTimeOut = TKzTimeOut::kztMedium;
  bool FLoginPrompt = false;
  TKzMLanguage FLanguage = TKzMLanguage::kzmlEnglish;
  int32_t FLastStatus = 0;
  TKzSourceError FLastError;
  bool FAutoReconnect = true;
  uint32_t FReconnectDelayMax = 30000;
  bool FStopRequested = false;       // Abort was asked for: no reconnecting
  uint32_t FReconnectAttempt = 0;    // attempts in the current outage
  bool FReconnectWaiting = false;    // between two attempts (no fetch thread)
  bool FReconnectEnding = false;     // an abort ended the wait; its end report is posted
  uint64_t FReconnectDue = 0;        // tick of the next attempt
  uint64_t FNextProbe = 0;           // tick of the next connect probe
  bool FProbing = false;             // probe the source during the wait
  int FProbeSocket = -1;             // a probe connect under way
  uint32_t FFrameIndexAtStart = 0;   // frame index when the fetch thread started
  std::string FSourceHost;           // host and port the stream comes from
  uint16_t FSourcePort = 0;
  std::unique_ptr<TTimer> FTimerReconnect;  // 250 ms while an outage lasts
  TCriticalSection FFPSSection;  // guards _FPS
  TKzFPS _FPS;
  TKzGetData* FGetDataThread = nullptr;  // the frame pipeline, owned
  TKzCriticalSection FAudioSection;  // guards FCamAudio and FCamSound
  TKzCamSound* FCamSound = nullptr;
  std::vector<IKzCamAudioConsumer*> FCamAudio;
  std::atomic<int> FAudioCount{0};
  bool FRegistered = false;                    // message handlers registered
};

// A template of the URL tables made into a URL for Camera: IPADDRESS becomes
// the host (with ":" and RTSPPort for "rtsp://" templates, else CameraPort,
// when not 0); [WIDTH] and [HEIGHT] the size of VideoResolution (with
// kzDefault the size clauses "?[WIDTH]x[HEIGHT]", "&Size=[WIDTH]x[HEIGHT]"
// and "&resolution=[WIDTH]%C3%97[HEIGHT]" are removed instead); [CHANNEL],
// [FPS], [USERNAME], [PASSWORD] their values. Placeholders are matched
// ignoring letter case; replaced text is never searched again. Any thread.
std::string PrepareURL(const TKzCamera& Camera, const std::string& Template);

// Whether the first bytes of a reply look like Motion-JPEG or a JPEG
// picture: not when their text (up to the first zero byte, any letter case)
// says "404 not found" or "404 file not found"; yes when it names
// "image/jpeg", or when the bytes hold FF D8 or FF D9. Any thread.
bool KzIsMJPEGReply(const uint8_t* Data, size_t Size);

}  // namespace kz
