// Settings objects that a camera owns and publishes: the FFmpeg engine's
// connection settings and the GStreamer playback settings.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/fmxMKzCameraTypes.h"
#include "platform/fmxMKzPlatformComponent.h"

namespace kz {

enum class TKzRTSPFlag : uint8_t { kzfPreferTCP = 0, kzfListen = 1, kzfFilterSrc = 2 };
using TKzRTSPFlags = TKzSmallSet<TKzRTSPFlag>;
enum class TKzRTSPTransportItem : uint8_t { kzpeTCP = 0, kzpeUDP = 1, kzpeHTTP = 2, kzpeUDPMulticast = 3 };
using TKzRTSPTransport = TKzSmallSet<TKzRTSPTransportItem>;
enum class TKzVideoFilter : uint8_t {
  kzffNone = 0,
  kzffFastBilinear,
  kzffBilinear,
  kzffBicubic,
  kzffX,
  kzffPoint,
  kzffArea,
  kzffBicublin,
  kzffGauss,
  kzffSinc,
  kzffLaczos,
  kzffSpline,
};

// Writing the output of FFmpeg playback to a file as it arrives.
struct TKzRemuxing {
  bool Active = false;
  std::string FileName;
  bool operator==(const TKzRemuxing&) const = default;
};

// FFmpeg connection settings of a camera. Every change of a value calls
// OnChanged, except inside BeginUpdate/EndUpdate, where the last EndUpdate
// calls it once if anything changed. Main thread.
class TKzFFMpegProperty : public TPersistent {
public:
  TKzFFMpegProperty() = default;
  void Assign(const TPersistent& Source) override;

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();

#define KZ_FFMPEG_PROPERTY(Type, Name, Default)       \
  const Type& Name() const { return F##Name; }          \
  void Set##Name(const Type& Value) { Set(F##Name, Value); } \
                                                        \
private:                                                \
  Type F##Name = Default;                               \
                                                        \
public:
  KZ_FFMPEG_PROPERTY(bool, UseFFMpeg, true)
  KZ_FFMPEG_PROPERTY(int32_t, Threads, 0)
  KZ_FFMPEG_PROPERTY(bool, Video, true)
  KZ_FFMPEG_PROPERTY(bool, Audio, true)
  KZ_FFMPEG_PROPERTY(int32_t, MaxDelay, 0)
  KZ_FFMPEG_PROPERTY(int32_t, STimeout, 0)
  KZ_FFMPEG_PROPERTY(int32_t, RecvBufferSize, 65535)
  KZ_FFMPEG_PROPERTY(bool, TcpNodelay, false)
  KZ_FFMPEG_PROPERTY(int32_t, UdpFifoBufferSize, 1000000)
  KZ_FFMPEG_PROPERTY(TKzRTSPFlags, RTSPFlags, {TKzRTSPFlag::kzfPreferTCP})
  KZ_FFMPEG_PROPERTY(bool, OverrunNonfatal, true)
  KZ_FFMPEG_PROPERTY(bool, UseVideoScale, false)
  KZ_FFMPEG_PROPERTY(TKzRTSPTransport, RTSPTransport,
                     (TKzRTSPTransport{TKzRTSPTransportItem::kzpeTCP, TKzRTSPTransportItem::kzpeUDP}))
  KZ_FFMPEG_PROPERTY(int32_t, TimeOut, -1)
  KZ_FFMPEG_PROPERTY(int32_t, VideoWidth, 0)
  KZ_FFMPEG_PROPERTY(int32_t, VideoHeight, 0)
  KZ_FFMPEG_PROPERTY(TKzVideoFilter, VideoFilter, TKzVideoFilter::kzffBilinear)
  KZ_FFMPEG_PROPERTY(int64_t, ProbeSize, 5000000)
  KZ_FFMPEG_PROPERTY(bool, FrameDrop, false)
  KZ_FFMPEG_PROPERTY(bool, NoDelay, false)
  KZ_FFMPEG_PROPERTY(std::vector<std::string>, CustomProperties, {})
  KZ_FFMPEG_PROPERTY(bool, UseFFMpegProperty, true)
  KZ_FFMPEG_PROPERTY(std::string, DecodeAudioCodecName, "")
  KZ_FFMPEG_PROPERTY(std::string, DecodeVideoCodecName, "")
  KZ_FFMPEG_PROPERTY(std::string, VideoInputFormat, "")
  KZ_FFMPEG_PROPERTY(TKzRemuxing, Remuxing, {})
#undef KZ_FFMPEG_PROPERTY

  // Told after a value changed (the camera restarts a playing stream).
  std::function<void()> OnChanged;

private:
  template <typename T>
  void Set(T& Field, const T& Value) {
    if (Field == Value) return;
    Field = Value;
    Changed();
  }
  void Changed();
  int FUpdateCount = 0;
  bool FChangedInUpdate = false;
};

// GStreamer playback settings of a camera.
class TKzGStreamerProperty : public TPersistent {
public:
  void Assign(const TPersistent& Source) override;
  // Play RTSP and HTTP devices through GStreamer when FFmpeg is not used.
  bool UseGStreamer() const { return FUseGStreamer; }
  void SetUseGStreamer(bool Value) { FUseGStreamer = Value; }
  // A launch string that replaces the built-in pipeline; empty = built-in.
  const std::string& LaunchString() const { return FLaunchString; }
  void SetLaunchString(const std::string& Value) { FLaunchString = Value; }

private:
  bool FUseGStreamer = false;
  std::string FLaunchString;
};

}  // namespace kz
