#include "camera/fmxMKzCamFormats.h"

namespace kz {

namespace {
using C = TKzCameraType;
constexpr TKzCameraTypes F(std::initializer_list<TKzCameraType> Families) { return TKzCameraTypes(Families); }

// Rows whose model was not recorded when the path was collected.
constexpr const char* kUnknown = "Unknown";
constexpr const char* kMJPEG = "MJPEG";
constexpr const char* kFFMPEG = "FFMPEG";
constexpr const char* kVLC = "VLC";
}  // namespace

const std::array<TKzCamFormat, KzCamAnyMJPEGCount> CamAnyMJPEG = {{
    {F({C::kzctTrendnet}), "TV-IP501W, TV-IP422W", kMJPEG, "http://IPADDRESS/cgi/mjpg/mjpg.cgi"},  // 0
    {F({C::kzctTrendnet}), kUnknown, kMJPEG, "http://IPADDRESS/goform/video2"},
    {F({C::kzctTrendnet}), kUnknown, kMJPEG, "http://IPADDRESS/view2.cgi"},
    {F({C::kzctPanasonic}), "BL-C111A", kMJPEG, "http://IPADDRESS/image.jpg?type=motion"},
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/nphContinuousServerPush"},
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/camera"},  // 5
    {F({C::kzctPanasonic}), kUnknown, kMJPEG,
     "http://IPADDRESS/cgi-bin/jpeg?connect=start&vmdinfo=none&UID=9&ch=[CHANNEL]"},
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/nphMotionJpeg"},
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/nphMotionJpeg?[WIDTH]x[HEIGHT]"},
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/mjpeg"},
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/mjpeg?stream=[CHANNEL]"},  // 10
    {F({C::kzctPanasonic}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/mjpeg?session_id=[CHANNEL]"},
    {F({C::kzctPanasonic, C::kzctAxis}),
     "1_Generic, WV-SW598, WV-SW558, WV-SW396, WV-SF346, WV-SF284, wv-sc385, WV-SC384, WV-NS954, WV-NS202A, "
     "WV-NS202, wv-np244, VP104, SW316, Other",
     kMJPEG, "http://IPADDRESS/nphMotionJpeg?[WIDTH]x[HEIGHT]"},
    {F({C::kzctAxis}), "AXIS M1114", kMJPEG,
     "http://IPADDRESS/axis-cgi/mjpg/video.cgi?VideoFormat=mjpeg&resolution=[WIDTH]x[HEIGHT]&camera=[CHANNEL]&"
     "compression=25"},
    {F({C::kzctAxis}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/halfsize.jpg?camera=[CHANNEL]"},
    {F({C::kzctAxis}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/fullsize.jpg?camera=[CHANNEL]"},  // 15
    {F({C::kzctAxis}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/hugesize.jpg?camera=[CHANNEL]"},
    {F({C::kzctAxis}), kUnknown, kMJPEG, "http://IPADDRESS/axis-cgi/mjpg/video.cgi"},
    {F({C::kzctPlanet}), kUnknown, kMJPEG, "http://IPADDRESS/img/mjpeg.jpg"},
    {F({C::kzctPlanet}), kUnknown, kMJPEG, "http://IPADDRESS/snapshot.cgi"},
    {F({C::kzctPlanet}), kUnknown, kMJPEG, "http://IPADDRESS/img/mjpeg.cgi"},  // 20
    {F({C::kzctPlanet}), kUnknown, kMJPEG, "http://IPADDRESS/mjpg/video.mjpg"},
    {F({C::kzctPlanet}), kUnknown, kMJPEG, "http://IPADDRESS/mjpg/video.cgi"},
    {F({C::kzctPlanet}), kUnknown, kMJPEG, "http://IPADDRESS/mjpg/1/video.mjpg"},
    {F({C::kzctDLink}), kUnknown, kMJPEG, "http://IPADDRESS/ipcam/stream.cgi"},
    {F({C::kzctDLink}), kUnknown, kMJPEG, "http://IPADDRESS/mjpeg.cgi"},  // 25
    {F({C::kzctDLink}), kUnknown, kMJPEG, "http://IPADDRESS/video/mjpg.cgi"},
    {F({C::kzctArcVision}), kUnknown, kMJPEG, "http://IPADDRESS/image?res=half"},
    {F({C::kzctACTi, C::kzctDLink}), kUnknown, kMJPEG,
     "http://IPADDRESS/mjpeg.cgi?user=[USERNAME]&password=[PASSWORD]&channel=[CHANNEL]"},
    {F({C::kzctACTi}), kUnknown, kMJPEG,
     "http://IPADDRESS/cgi-bin/cmd/system?GET_STREAM&USER=[USERNAME]&PWD=[PASSWORD]"},
    {F({C::kzctFoscam}), "FI8904W", kMJPEG, "http://IPADDRESS/user/videostream.cgi"},  // 30
    {F({C::kzctFoscam, C::kzctArcVision}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/net_jpeg.cgi?CH=[CHANNEL]"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/getimage?camera=[CHANNEL]"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/videostream.cgi?usr=[USERNAME]&pwd=[PASSWORD]"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/CGIStream.cgi?cmd=GetMJStream"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/videostream.cgi?user=[USERNAME]&pwd=[PASSWORD]"},  // 35
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/videostream.cgi?&user=[USERNAME]&pwd=[PASSWORD]"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/cgi/mjpg/mjpeg.cgi"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG,
     "http://IPADDRESS/videostream.cgi?user=[USERNAME]&password=[PASSWORD]"},
    {F({C::kzctFoscam}), kUnknown, kMJPEG, "http://IPADDRESS/videostream.cgi"},
    {F({C::kzctGenius}), kUnknown, kMJPEG, "http://IPADDRESS/video.cgi"},  // 40
    {F({C::kzctAviosys}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/Stream?Video"},
    {F({C::kzctAviosys}), kUnknown, kMJPEG, "http://IPADDRESS/GetData.cgi?CH=[CHANNEL]"},
    {F({C::kzctAviosys}), kUnknown, kMJPEG, "http://IPADDRESS/GetData.cgi?camera=[CHANNEL]"},
    {F({C::kzctAviosys}), kUnknown, kMJPEG, "http://IPADDRESS/ipcam/mjpeg.cgi"},
    {F({C::kzctFoscam, C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/videostream.cgi"},  // 45
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/GetData.cgi"},
    {F({C::kzctAxis, C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/axis-cgi/mjpg/video.cgi?camera=[CHANNEL]"},
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/video2.mjpg"},
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/video.jpg"},
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/video.mjpg"},  // 50
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/video[CHANNEL].mjpg"},
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/video.jpg?cam=[CHANNEL]"},
    {F({C::kzctVivotek}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/viewer/video.jpg"},
    {F({C::kzctAviosys, C::kzctSamsung}), kUnknown, kMJPEG,
     "http://IPADDRESS/GetData.cgi?CH=[CHANNEL]&Codec=jpeg&Size=[WIDTH]x[HEIGHT]"},
    {F({C::kzctFoscam, C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/?camid=[CHANNEL]"},  // 55
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/?action=stream"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/"},
    {F({C::kzctPanasonic, C::kzctSamsung, C::kzctTrendnet}), kUnknown, kMJPEG, "http://IPADDRESS/img/video.mjpeg"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG,
     "http://IPADDRESS/?&AUDIO=YES&CHOPIMAGE=YES&STREAM=YES&WANTIMAGE=[CHANNEL].JPG&SENDEMPTYIMAGES=NO"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG,  // 60
     "http://IPADDRESS/cgi-bin/fwstream.cgi?ServerId=0&AppKey=0x00009152&PortId=0&CameraId=[CHANNEL]&PauseTime=0&"
     "FwCgiVer=0x0001"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/cgi-bin/video.cgi?msubmenu=mjpg"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/mjpeg?res=full&x0=0&y0=0&x1=100%&y1=100%&2&doublescan=0"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/public/video.cgi?ch=[CHANNEL]"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/video?profile=[CHANNEL]"},
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/videofeed"},  // 65
    {F({C::kzctSamsung}), kUnknown, kMJPEG, "http://IPADDRESS/video?submenu=mjpg"},
    {F({C::kzctUnknown}), "Other", kMJPEG, "http://IPADDRESS/webcapture.jpg?command=snap&channel=[CHANNEL]"},  // 67
}};

const std::array<TKzCamFormat, KzCamAnyH264Count> CamAnyH264 = {{
    {F({C::kzctTrendnet}), "IP312WN", kFFMPEG, "rtsp://IPADDRESS/cam/realmonitor"},  // 0
    {F({C::kzctTrendnet}), kUnknown, kVLC, "rtsp://IPADDRESS/cam/realmonitor?channel=[CHANNEL]&authbasic=[AUTH]"},
    {F({C::kzctTrendnet}), kUnknown, kVLC, "rtsp://IPADDRESS/[CHANNEL]/1:1/main"},
    {F({C::kzctTrendnet}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/Streaming/Channels/2"},
    {F({C::kzctTrendnet}), kUnknown, kVLC, "rtsp://IPADDRESS/PSIA/Streaming/channels/1?videoCodecType=MPEG4"},
    {F({C::kzctTrendnet}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/Streaming/Channels/1"},  // 5
    {F({C::kzctTrendnet}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/OVProfile00"},
    {F({C::kzctPanasonic}), kUnknown, kVLC, "rtsp://IPADDRESS/nphMpeg4/g726-640x48"},
    {F({C::kzctPanasonic, C::kzctTrendnet}), kUnknown, kVLC, "rtsp://IPADDRESS/cam/realmonitor?channel=[CHANNEL]"},
    {F({C::kzctPanasonic}), kUnknown, kVLC, "rtsp://IPADDRESS/MediaInput/mpeg4"},
    {F({C::kzctPanasonic}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/ONVIF/MediaInput"},  // 10
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/ipcam_h264.sdp"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/media/media.amp"},
    {F({C::kzctPlanet}), kUnknown, kFFMPEG, "http://IPADDRESS/h264"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/img/media.sav"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/video"},  // 15
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/v2"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/h264/ch1/sub/"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/jpeg"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/ipcam.sdp"},
    {F({C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/cam[CHANNEL]/h264"},  // 20
    {F({C::kzctPlanet}), kUnknown, kFFMPEG, "http://IPADDRESS/jpeg"},
    {F({C::kzctACTi, C::kzctPlanet}), kUnknown, kVLC, "rtsp://IPADDRESS/h264"},
    {F({C::kzctACTi}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/onvif-stream1"},
    {F({C::kzctACTi}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/stream1"},
    {F({C::kzctBeward}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/av0_0"},  // 25
    {F({C::kzctBeward}), kUnknown, kVLC, "rtsp://IPADDRESS/live/h264"},
    {F({C::kzctGenius}), kUnknown, kVLC, "rtsp://IPADDRESS/avn=2"},
    {F({C::kzctVivotek}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/live4.sdp"},
    {F({C::kzctVivotek}), kUnknown, kVLC, "rtsp://IPADDRESS/[USERNAME]/stream0"},
    {F({C::kzctBeward, C::kzctVivotek}), kUnknown, kVLC, "rtsp://IPADDRESS/live/ch00_0"},  // 30
    {F({C::kzctPanasonic, C::kzctSamsung}), kUnknown, kVLC, "rtsp://IPADDRESS/MediaInput/h264"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/profile[CHANNEL]/media.smp"},
    {F({C::kzctSamsung}), kUnknown, kVLC, "http://IPADDRESS/video/cam[CHANNEL]/2.0?audio=0&stream=0"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/mjpegunicast"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/h264unicast"},  // 35
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/MPEG4/media.smp"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/H264/media.smp"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/onvif/profile2/media.smp"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/MJPEG/media.smp"},
    {F({C::kzctSamsung}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/onvif/profile1/media.smp"},  // 40
    {F({C::kzctSamsung}), kUnknown, kVLC, "rtsp://IPADDRESS/mpeg4unicast"},
    {F({C::kzctAviosys, C::kzctAxis}), kUnknown, kVLC, "rtsp://IPADDRESS/mpeg4"},
    {F({C::kzctAxis}), "M1114", kFFMPEG,
     "rtsp://IPADDRESS/axis-media/media.amp?videocodec=h264&resolution=[WIDTH]%C3%97[HEIGHT]&streamprofile=Quality&"
     "tcp&compression=0"},
    {F({C::kzctAxis}), kUnknown, kFFMPEG, "http://IPADDRESS/stream.asf"},
    {F({C::kzctAxis}), kUnknown, kVLC, "rtsp://IPADDRESS/axis-media/media.amp?videocodec=h264"},  // 45
    {F({C::kzctAxis}), kUnknown, kVLC, "rtsp://IPADDRESS/mpeg4cif"},
    {F({C::kzctAxis}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/onvif-media/media.amp"},
    {F({C::kzctAxis}), kUnknown, kVLC, "rtsp://IPADDRESS/axis-media/media.amp"},
    {F({C::kzctAxis}), kUnknown, kVLC, "rtsp://IPADDRESS/mpeg4/media.amp"},
    {F({C::kzctDLink}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/live2.sdp"},  // 50
    {F({C::kzctDLink}), kUnknown, kVLC, "rtsp://IPADDRESS/HighResolutionVideo"},
    {F({C::kzctDLink}), kUnknown, kVLC, "rtsp://IPADDRESS/play2.sdp"},
    {F({C::kzctDLink}), kUnknown, kVLC, "rtsp://IPADDRESS/play3.sdp"},
    {F({C::kzctDLink}), kUnknown, kVLC, "http://IPADDRESS/cgi-bin/view.cgi?chn=[CHANNEL]&u=[USERNAME]&p=[PASSWORD]"},
    {F({C::kzctDLink}), kUnknown, kVLC, "rtsp://IPADDRESS/play1.sdp"},  // 55
    {F({C::kzctDLink}), kUnknown, kVLC, "rtsp://IPADDRESS/live3.sdp"},
    {F({C::kzctSmartec, C::kzctACTi, C::kzctSamsung}), kUnknown, kVLC, "rtsp://IPADDRESS/"},
    {F({C::kzctFoscam, C::kzctTrendnet}), kUnknown, kVLC, "rtsp://IPADDRESS/cam1/mpeg4"},
    {F({C::kzctFoscam, C::kzctDLink}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/live1.sdp"},
    {F({C::kzctFoscam}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/cam1/onvif-h264"},  // 60
    {F({C::kzctFoscam, C::kzctDLink}), kUnknown, kVLC, "rtsp://IPADDRESS/live.sdp"},
    {F({C::kzctFoscam, C::kzctPlanet}), kUnknown, kVLC, "http://IPADDRESS/cgi-bin/net_video.cgi?channel=[CHANNEL]"},
    {F({C::kzctFoscam, C::kzctTrendnet}), kUnknown, kVLC, "rtsp://IPADDRESS/ch0_0.h264"},
    {F({C::kzctFoscam}), kUnknown, kVLC, "http://IPADDRESS/iphone/11?[USERNAME]:[PASSWORD]"},
    {F({C::kzctFoscam}), kUnknown, kVLC, "http://IPADDRESS/img/video.asf"},  // 65
    {F({C::kzctFoscam}), kUnknown, kVLC, "rtsp://IPADDRESS/video.mp4"},
    {F({C::kzctFoscam}), kUnknown, kFFMPEG, "http://IPADDRESS/videostream.cgi"},
    {F({C::kzctFoscam}), kUnknown, kFFMPEG, "http://IPADDRESS/videostream.asf?usr=[USERNAME]&pwd=[PASSWORD]"},
    {F({C::kzctFoscam}), kUnknown, kVLC, "rtsp://IPADDRESS/11"},
    {F({C::kzctFoscam}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/videoMain"},  // 70
    {F({C::kzctFoscam}), kUnknown, kFFMPEG, "http://IPADDRESS/videostream.asf"},
    {F({C::kzctFoscam}), kUnknown, kFFMPEG, "http://IPADDRESS/videostream.asf?user=[USERNAME]&pwd=[PASSWORD]"},
    {F({C::kzctDLink}), kUnknown, kFFMPEG, "rtsp://IPADDRESS/live/profile.0"},
    {F({C::kzctUnknown}), "IP-Buddy", kFFMPEG,
     "rtsp://IPADDRESS/user=[USERNAME]_password=[PASSWORD]_channel=0_stream=0.sdp?real_stream"},  // 74
}};

}  // namespace kz
