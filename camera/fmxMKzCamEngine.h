// The hand-over of a whole stream to a playback engine that opens, demuxes
// and decodes it itself (the FFmpeg engine), instead of the fetch thread's
// own reader. The engine arrives through the fetch-thread factory
// (IKzCamStreamFactory::CreateFFmpegEngine); a build without it has none and
// the fetch threads read the stream themselves.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "camera/fmxMKzCamSettings.h"
#include "camera/fmxMKzCameraTypes.h"
#include "ffmpeg/fmxMKzFFmpegTypes.h"  // TKzFFMState
#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzDecodeSize.h"

namespace kz {

// The result code of a stream that ended normally (FFmpeg's AVERROR_EOF):
// the fetch thread opens it again at once.
constexpr int32_t KzFFmpegEOF = static_cast<int32_t>(0xDFB9B0BBu);

// Everything an engine is told before it plays.
struct TKzCamEngineSettings {
  TKzFFMpegProperty FFMpeg;  // a copy of the camera's settings
  std::string UserName, Password;
  uint16_t HTTPPort = 0, RTSPPort = 0;
  TKzMFProxyMode ProxyMode = TKzMFProxyMode::kzmNoProxy;
  std::string ProxyHost;
  int32_t ProxyPort = 0;
  std::string ProxyUserName, ProxyPassword;
  int32_t FramePerSec = 25;  // rounded, at least 1
};

// One engine object per fetch thread. Handlers are set before PlayVideo and
// run on the engine's own threads.
class IKzCamFFmpegEngine {
public:
  virtual ~IKzCamFFmpegEngine() = default;
  // The fetch thread, before PlayVideo. Never blocks.
  virtual void AssignSettings(const TKzCamEngineSettings& Settings) = 0;
  // Plays URL until the stream ends, fails or is aborted, and leaves a result
  // code (0 for an abort, KzFFmpegEOF for a normal end). The fetch thread; blocks.
  virtual void PlayVideo(const std::string& URL) = 0;
  virtual int32_t ResultCode() const = 0;
  virtual void SetResultCode(int32_t Code) = 0;
  // Ends PlayVideo within about a second. Any thread, never blocks.
  virtual void Abort() = 0;
  // Starts or stops writing the stream to FileName as it arrives. Any thread.
  virtual void ChangeRemuxing(bool Active, const std::string& FileName) = 0;
  // Why the last PlayVideo ended (nothing after an abort or a file's end).
  // The fetch thread, after PlayVideo.
  virtual TKzSourceError SourceError() const { return {}; }

  // A decoded frame; return false to stop playback.
  std::function<bool(TKzMBitmap& Bitmap, double Time)> OnNewImage;
  // Asked once per decoded frame: the size frames are wanted at (full: the
  // stream's). Engines that scale anyway scale straight to it.
  std::function<TKzDecodeSize()> OnGetPictureSize;
  std::function<void(TKzFFMState State)> OnStateChange;
  std::function<void(int32_t Code, const std::string& Text)> OnError;
  // Credentials refused: the handler asks for new ones (Proceed: retry).
  std::function<void(const std::string& Realm, std::string& UserName, std::string& Password, bool& Proceed)> OnLogin;
  std::function<void(const std::string& URL)> OnLoginFailed;
  std::function<void(int32_t StreamCount, int32_t& StreamIndex)> OnGetVideoStreamIndex;
  // Each compressed packet of the video stream, before decoding.
  std::function<void(const TKzCompressedVideoPacket& Packet)> OnVideoPacket;
  // Decoded sound as 8/16-bit PCM of at most two channels. Sound is decoded
  // only when this is set as PlayVideo begins.
  std::function<void(const TKzAudioInfo& Info, const uint8_t* Data, size_t Size)> OnGetAudio;
  // Frames of the sound played so far (-1: unknown), so that pictures
  // follow the sound actually played.
  std::function<void(int64_t& Position)> OnGetAudioPlayPositon;
};

}  // namespace kz
