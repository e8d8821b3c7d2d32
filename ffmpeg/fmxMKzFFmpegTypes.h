// Vocabulary of the FFmpeg engine: states, the connection options a camera
// hands over, scaler filters, error codes and their texts.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/fmxMKzTrack.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

// Playback states of TKzMFFMPEG.
enum class TKzFFMState : uint8_t {
  kzffmsNone = 0,
  kzffmsInit = 1,
  kzffmsStarting = 2,
  kzffmsPlaying = 3,
  kzffmsStopping = 4,
  kzffmsError = 5,
};

enum class TKzRemuxState : uint8_t { kzrsIdle = 0, kzrsWaitingForKeyFrame = 1, kzrsActive = 2 };

// Scaler filters; the values are the FFmpeg scaler's own flags.
enum class TKzFFMpegFilter : uint32_t {
  kzffNone = 0,
  kzffFastBilinear = 1,
  kzffBilinear = 2,
  kzffBicubic = 4,
  kzffX = 8,
  kzffPoint = 16,
  kzffArea = 32,
  kzffBicublin = 64,
  kzffGauss = 128,
  kzffSinc = 256,
  kzffLaczos = 512,
  kzffSpline = 1024,
};

// Bits of TKzFFmpegOptions::RTSPTransport and ::RTSPFlags (the camera's sets
// use the same bit layout).
constexpr uint16_t kzRtspTCP = 1, kzRtspUDP = 2, kzRtspHTTP = 4, kzRtspUDPMulticast = 8;
constexpr uint16_t kzRtspPreferTCP = 1, kzRtspListen = 2, kzRtspFilterSrc = 4;

// The connection options, copied from the camera before playing.
struct TKzFFmpegOptions {
  bool ProxyManual = false;  // the camera's proxy mode is manual settings
  std::string ProxyHost;
  int32_t ProxyPort = 0;
  uint16_t RTSPTransport = kzRtspTCP | kzRtspUDP;
  uint16_t RTSPFlags = kzRtspPreferTCP;
  bool IsVideo = true, IsAudio = true;
  int32_t MaxDelay = 0;
  int32_t STimeout = 0;  // socket time-out in µs (FFmpeg's "timeout" of this line)
  int32_t UdpFifoBufferSize = 1000000;
  int32_t TimeOut = -1;  // −1: not set
  int32_t CountThreads = 0;
  int32_t RecvBufferSize = 65535;
  bool IsTcpNodelay = false;
  int32_t BitrateValue = 0, BitsValue = 0, PktSize = 0;
  bool IsOverrunNonfatal = true;
  int64_t ProbeSize = 5000000;
  std::vector<std::string> CustomProperties;  // name=value lines
  bool UseFFMpegProperty = true;               // false: no option is passed

  bool UseVideoScale = false;
  int32_t VideoWidth = 0, VideoHeight = 0;
  TKzFFMpegFilter VideoFilter = TKzFFMpegFilter::kzffBilinear;
  std::string VideoInputFormatName, AudioCodecName, VideoCodecName;
  bool FrameDrop = false, NoDelay = false;
  std::string UserName, UserPassword;
  uint16_t HTTPPort = 0, RTSPPort = 0;
  int32_t MaxCountFrame = 0;
};

using TKzFFmpegOptionList = std::vector<std::pair<std::string, std::string>>;

// The input options for FFmpeg, in the order they are set. Threads go to the
// decoders instead (KzFFmpegDecoderOptions). Network decides the protocol
// whitelist. Any thread.
TKzFFmpegOptionList KzFFmpegInputOptions(const TKzFFmpegOptions& Options, bool Network);
TKzFFmpegOptionList KzFFmpegDecoderOptions(const TKzFFmpegOptions& Options);
// URL with the options' credentials and port inserted where it has none.
std::string KzFFmpegMakeURL(const std::string& URL, const TKzFFmpegOptions& Options);
// Whether URL names an existing local file (a plain path or "file:").
bool KzFFmpegIsLocalFile(const std::string& URL);

// The text of error Code (1–36) with Args put in its "%s" places; "" for an
// unknown code.
std::string KzFFmpegErrorText(int32_t Code, const std::vector<std::string>& Args = {});
// FFmpeg's code for an HTTP/RTSP 401 reply.
int32_t KzFFmpegUnauthorized();
// Err after a stream that opened but gave no packet at all.
constexpr int32_t KzFFmpegNoPacket = static_cast<int32_t>(0xA0475542u);

}  // namespace kz
