#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "ffmpeg/fmxMKzFFmpegTypes.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {

using TValue = std::optional<std::string>;

std::string Flags(uint16_t Bits, std::initializer_list<const char*> Names) {
  std::string out;
  uint16_t bit = 1;
  for (const char* n : Names) {
    if (Bits & bit) out += (out.empty() ? "" : "+") + std::string(n);
    bit = uint16_t(bit << 1);
  }
  return out.empty() ? "none" : out;
}
std::string Num(int64_t V) { return std::to_string(V); }
std::string Bool(bool V) { return V ? "1" : "0"; }

// One row per input option, in the order they are set.
struct TKzOptionRow {
  const char* Name;
  TValue (*Value)(const TKzFFmpegOptions& O);
};
const TKzOptionRow KzInputOptionRows[] = {
    {"http_proxy",
     [](const TKzFFmpegOptions& O) -> TValue {
       if (!O.ProxyManual) return std::nullopt;
       if (O.ProxyHost.empty()) return "none";
       return "http://" + O.ProxyHost + (O.ProxyPort > 0 ? ":" + Num(O.ProxyPort) : "");
     }},
    {"rtsp_transport", [](const TKzFFmpegOptions& O) -> TValue {
       return Flags(O.RTSPTransport, {"tcp", "udp", "http", "udp_multicast"});
     }},
    {"rtsp_flags",
     [](const TKzFFmpegOptions& O) -> TValue { return Flags(O.RTSPFlags, {"prefer_tcp", "listen", "filter_src"}); }},
    {"allowed_media_types",
     [](const TKzFFmpegOptions& O) -> TValue {
       return O.IsVideo && O.IsAudio ? "video+audio" : O.IsVideo ? "video" : O.IsAudio ? "audio" : "none";
     }},
    {"max_delay", [](const TKzFFmpegOptions& O) -> TValue { return Num(O.MaxDelay); }},
    // This FFmpeg line names the socket time-out of RTSP "timeout" (µs); the
    // older "stimeout" is mapped to it.
    {"timeout", [](const TKzFFmpegOptions& O) -> TValue { return O.STimeout > 0 ? TValue(Num(O.STimeout)) : std::nullopt; }},
    {"buffer_size", [](const TKzFFmpegOptions& O) -> TValue { return Num(O.UdpFifoBufferSize); }},
    {"timeout", [](const TKzFFmpegOptions& O) -> TValue { return O.TimeOut != -1 ? TValue(Num(O.TimeOut)) : std::nullopt; }},
    {"recv_buffer_size", [](const TKzFFmpegOptions& O) -> TValue { return Num(O.RecvBufferSize); }},
    {"tcp_nodelay", [](const TKzFFmpegOptions& O) -> TValue { return Bool(O.IsTcpNodelay); }},
    {"bitrate", [](const TKzFFmpegOptions& O) -> TValue { return Num(O.BitrateValue); }},
    {"burst_bits", [](const TKzFFmpegOptions& O) -> TValue { return Num(O.BitsValue); }},
    {"pkt_size", [](const TKzFFmpegOptions& O) -> TValue { return O.PktSize > 0 ? TValue(Num(O.PktSize)) : std::nullopt; }},
    {"overrun_nonfatal", [](const TKzFFmpegOptions& O) -> TValue { return Bool(O.IsOverrunNonfatal); }},
    {"probesize", [](const TKzFFmpegOptions& O) -> TValue { return Num(std::max<int64_t>(32, O.ProbeSize)); }},
};

struct TKzErrorRow {
  int32_t Code;
  const char* Text;
};
const TKzErrorRow KzErrorTexts[] = {
    {1, "ffmpeg: Unable to open input file"},
    {2, "ffmpeg: Unable to find stream info"},
    {3, "ffmpeg: Unable to find video stream"},
    {4, "ffmpeg: Unable to open codec"},
    {5, "ffmpeg: Cannot initialize the conversion context"},
    {6, "ffmpeg: Cannot allocate an AVFrame structure"},
    {7, "ffmpeg: Codec not found"},
    {8, "ffmpeg: Could not allocate video codec context"},
    {9, "ffmpeg: Could not allocate raw picture buffer"},
    {10, "ffmpeg: Error encoding frame: %s"},
    {11, "ffmpeg: Error while decoding"},
    {12, "ffmpeg: Encoder does not support sample format"},
    {13, "ffmpeg: Could not get sample buffer size"},
    {14, "ffmpeg: Could not setup audio frame"},
    {15, "ffmpeg: Error while writing video frame: %s"},
    {16, "ffmpeg: Could not open \"%s\": %s"},
    {17, "ffmpeg: Error occurred when opening output file: %se"},
    {28, "ffmpeg: Error format context"},
    {29, "ffmpeg: Error writable data"},
    {30, "ffmpeg: Wrong codec type"},
    {31, "ffmpeg: Error on supplying video or audio frame to an encoder"},
    {32, "ffmpeg: Error on Supplying raw packet data to a decoder"},
    {33, "ffmpeg: Could not allocate video codec context for remuxing"},
    {34, "ffmpeg: Could not allocate stream for remuxing"},
    {35, "ffmpeg: Failed to copy codec parameters for remuxing"},
    {36, "ffmpeg: Error writing frame to a file"},
};

}  // namespace

TKzFFmpegOptionList KzFFmpegInputOptions(const TKzFFmpegOptions& Options, bool Network) {
  TKzFFmpegOptionList out;
  if (Options.UseFFMpegProperty) {
    for (const TKzOptionRow& row : KzInputOptionRows)
      if (TValue v = row.Value(Options)) out.emplace_back(row.Name, *v);
    for (const std::string& line : Options.CustomProperties) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos && eq > 0) out.emplace_back(KzTrim(line.substr(0, eq)), line.substr(eq + 1));
    }
  }
  // Set last so that no custom line widens what an input may open.
  out.emplace_back("protocol_whitelist", Network ? "rtsp,rtp,udp,tcp,http,https,tls,httpproxy" : "file");
  return out;
}

TKzFFmpegOptionList KzFFmpegDecoderOptions(const TKzFFmpegOptions& Options) {
  if (!Options.UseFFMpegProperty) return {};
  return {{"threads", Num(Options.CountThreads)}};
}

std::string KzFFmpegMakeURL(const std::string& URL, const TKzFFmpegOptions& Options) {
  std::string proto, host, port, user, pass, path;
  ParseURL(URL, proto, host, port, user, pass, path);
  if (proto.empty() || host.empty()) return URL;  // a file name
  std::string out = URL;
  if (user.empty() && !Options.UserName.empty()) out = AddUserToURL(out, Options.UserName + ":" + Options.UserPassword + "@");
  const uint16_t wanted = KzLowerCase(proto) == "rtsp" ? Options.RTSPPort : Options.HTTPPort;
  if (port.empty() && wanted != 0) {
    const size_t start = out.find("://") + 3;
    const size_t end = std::min(out.find('/', start), out.find('?', start));
    out.insert(end == std::string::npos ? out.size() : end, ":" + Num(wanted));
  }
  return out;
}

bool KzFFmpegIsLocalFile(const std::string& URL) {
  std::string path = URL;
  if (path.rfind("file:", 0) == 0) path = path.substr(5);
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string KzFFmpegErrorText(int32_t Code, const std::vector<std::string>& Args) {
  const auto row = std::find_if(std::begin(KzErrorTexts), std::end(KzErrorTexts),
                                [Code](const TKzErrorRow& R) { return R.Code == Code; });
  if (row == std::end(KzErrorTexts)) return {};
  std::string text = row->Text;
  size_t pos = 0;
  for (const std::string& a : Args) {
    pos = text.find("%s", pos);
    if (pos == std::string::npos) break;
    text.replace(pos, 2, a);
    pos += a.size();
  }
  return text;
}

}  // namespace kz
