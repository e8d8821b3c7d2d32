#include "apps/kzcamsim/kzcamsim_onvif.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "camera/fmxMKzOnvifDiscovery.h"
#include "camera/fmxMKzOnvifSoap.h"
#include "camera/fmxMKzOnvifXML.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformSockets.h"

namespace kzcamsim {

using namespace kz;

namespace {
constexpr size_t kLogSize = 4096;
constexpr int64_t kClockWindow = 300;  // seconds a token's Created may be off the device's clock
constexpr double kDefaultTimeout = 5;  // seconds of a ContinuousMove without its own

// ONVIF's access classes and the default policy's levels.
enum TKzClass : uint8_t { PreAuth, ReadSystem, ReadMedia, Actuate, ReadSecret };
enum TKzLevel : uint8_t { Anonymous, User, Operator, Administrator };
bool Grants(TKzLevel L, TKzClass C) {
  switch (C) {
    case PreAuth: return true;
    case ReadSystem:
    case ReadMedia: return L >= User;
    case Actuate: return L >= Operator;
    case ReadSecret: return L >= Administrator;
  }
  return false;
}
const char* const kLevelNames[] = {"Anonymous", "User", "Operator", "Administrator"};

struct TKzSimUser {
  std::string Name, Password;
  TKzLevel Level;
};

constexpr const char* kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\" xmlns:tt=\"http://www.onvif.org/ver10/schema\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\"><env:Body>";
constexpr const char* kEnvelopeEnd = "</env:Body></env:Envelope>";

std::string E(const std::string& Name, const std::string& Inner) { return "<" + Name + ">" + Inner + "</" + Name + ">"; }

TKzSimVendorAnswer Soap(int32_t Status, const std::string& Body) {
  TKzSimVendorAnswer a;
  a.Status = Status;
  a.Type = KzOnvifContentType;
  a.Body = kEnvelopeStart + Body + kEnvelopeEnd;
  return a;
}

TKzSimVendorAnswer Fault(int32_t Status, const char* Code, const char* Sub1, const char* Sub2, const char* Reason) {
  std::string sub = E("env:Value", Sub2 ? std::string(Sub2) : "");
  std::string code = E("env:Value", std::string("env:") + Code) +
                     E("env:Subcode", E("env:Value", Sub1) + (Sub2 ? E("env:Subcode", sub) : ""));
  return Soap(Status, E("env:Fault", E("env:Code", code) +
                                         E("env:Reason", "<env:Text xml:lang=\"en\">" + std::string(Reason) + "</env:Text>")));
}

int64_t NowUTC() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Seconds of an xs:duration like "PT1S", "PT0.5S", "PT1M2S"; Default when unreadable.
double Duration(const std::string& S, double Default) {
  if (S.rfind("PT", 0) != 0) return Default;
  double total = 0, value = 0;
  bool any = false;
  for (size_t i = 2; i < S.size();) {
    char* end = nullptr;
    value = std::strtod(S.c_str() + i, &end);
    const size_t used = static_cast<size_t>(end - (S.c_str() + i));
    if (used == 0 || i + used >= S.size()) return Default;
    i += used;
    const char unit = S[i++];
    total += unit == 'H' ? value * 3600 : unit == 'M' ? value * 60 : unit == 'S' ? value : 0;
    any = true;
  }
  return any && total >= 0 && total < 86400 ? total : Default;
}

// Seconds since 1970 of "YYYY-MM-DDThh:mm:ss[.fff]Z"; -1 when unreadable.
int64_t ParseCreated(const std::string& S) {
  int y, mo, d, h, mi, s;
  if (std::sscanf(S.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return -1;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || y < 1970) return -1;
  const int64_t yy = y - (mo <= 2);
  const int64_t era = yy / 400, yoe = yy - era * 400;
  const int64_t doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  return days * 86400 + h * 3600 + mi * 60 + s;
}
}  // namespace

struct TKzSimOnvif::TImpl {
  TKzSimOptions Opt;
  std::vector<TKzSimUser> Users;

  mutable std::mutex LogLock;  // guards Log
  std::deque<std::string> Log;

  mutable std::mutex PTZLock;  // guards the pan/tilt state
  double PanAt = 0, TiltAt = 0;  // position at MoveStart
  double VPan = 0, VTilt = 0;    // units per second while moving
  std::chrono::steady_clock::time_point MoveStart, MoveEnd;

  TKzSocket Udp = KZ_INVALID_SOCKET;
  uint16_t UdpPort = 0;
  std::atomic<bool> Stopping{false};
  std::thread Responder;

  void Note(const std::string& User, const char* Verdict, const std::string& Op) {
    std::lock_guard<std::mutex> g(LogLock);
    Log.push_back((User.empty() ? "-" : User) + " " + Verdict + " " + Op);
    if (Log.size() > kLogSize) Log.pop_front();
  }

  // The position now (under PTZLock).
  void Position(double& Pan, double& Tilt, bool& Moving) const {
    const auto now = std::chrono::steady_clock::now();
    const auto until = std::min(now, MoveEnd);
    const double t = until > MoveStart ? std::chrono::duration<double>(until - MoveStart).count() : 0;
    Pan = std::clamp(PanAt + VPan * t, -1.0, 1.0);
    Tilt = std::clamp(TiltAt + VTilt * t, -1.0, 1.0);
    Moving = now < MoveEnd && (VPan != 0 || VTilt != 0);
  }

  void Move(double VP, double VT, double Seconds) {
    std::lock_guard<std::mutex> g(PTZLock);
    bool moving;
    Position(PanAt, TiltAt, moving);
    VPan = VP;
    VTilt = VT;
    MoveStart = std::chrono::steady_clock::now();
    MoveEnd = MoveStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(Seconds));
  }

  // The user a UsernameToken names, when its digest and Created check out;
  // Anonymous level with an empty name without a token; false when refused.
  bool Authenticate(pugi::xml_node Envelope, TKzSimUser& Who) {
    Who = {"", "", Anonymous};
    pugi::xml_node token = KzXmlFind(KzXmlChild(Envelope, "Header"), "UsernameToken");
    if (!token) return true;
    const std::string name = KzXmlChildText(token, "Username");
    pugi::xml_node pw = KzXmlChild(token, "Password");
    const std::string nonce = DecodeBase64(KzXmlChildText(token, "Nonce")), created = KzXmlChildText(token, "Created");
    Who.Name = name;
    const auto user = std::find_if(Users.begin(), Users.end(), [&](const TKzSimUser& u) { return u.Name == name; });
    if (user == Users.end()) return false;
    const bool digest = KzXmlAttr(pw, "Type").find("PasswordDigest") != std::string::npos;
    if (!digest) return false;  // this camera takes no clear-text passwords
    const int64_t when = ParseCreated(created);
    if (when < 0 || std::llabs(when - (NowUTC() + Opt.OnvifClockOffset)) > kClockWindow) return false;
    if (KzOnvifPasswordDigest(nonce, created, user->Password) != KzXmlText(pw)) return false;
    Who = *user;
    return true;
  }

  std::string Base(const TKzSimRequest& R) const { return "http://" + (R.Host.empty() ? "127.0.0.1" : R.Host); }

  std::string ProfileXML(const char* Token, const char* Name, const char* Encoding) const {
    const std::string w = std::to_string(Opt.Width), h = std::to_string(Opt.Height);
    return std::string("<trt:Profiles token=\"") + Token + "\" fixed=\"true\">" + E("tt:Name", Name) +
           "<tt:VideoSourceConfiguration token=\"vsc\">" + E("tt:Name", "video source") + E("tt:UseCount", "2") +
           E("tt:SourceToken", "vs") + "<tt:Bounds x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h +
           "\"/></tt:VideoSourceConfiguration><tt:VideoEncoderConfiguration token=\"vec_" + Token + "\">" +
           E("tt:Name", Name) + E("tt:UseCount", "1") + E("tt:Encoding", Encoding) +
           E("tt:Resolution", E("tt:Width", w) + E("tt:Height", h)) + E("tt:Quality", "5") +
           E("tt:RateControl", E("tt:FrameRateLimit", std::to_string(static_cast<int>(Opt.FramePerSec))) +
                                   E("tt:EncodingInterval", "1") + E("tt:BitrateLimit", "2048")) +
           E("tt:SessionTimeout", "PT60S") + "</tt:VideoEncoderConfiguration>" +
           "<tt:PTZConfiguration token=\"ptz\">" + E("tt:Name", "ptz") + E("tt:UseCount", "2") +
           E("tt:NodeToken", "ptznode") +
           E("tt:DefaultContinuousPanTiltVelocitySpace",
             "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace") +
           E("tt:DefaultPTZTimeout", "PT5S") + "</tt:PTZConfiguration></trt:Profiles>";
  }

  TKzSimVendorAnswer Answer(const std::string& Op, pugi::xml_node Content, const TKzSimRequest& R,
                            const std::string& StreamURL, const std::string& StillURL) {
    const std::string base = Base(R);
    const std::string token = KzXmlChildText(Content, "ProfileToken");
    const bool needsToken = Op == "GetStreamUri" || Op == "GetSnapshotUri" || Op == "ContinuousMove" ||
                            Op == "Stop" || Op == "GotoHomePosition" || Op == "GetStatus" || Op == "GetProfile";
    if (needsToken && token != "profile_h264" && token != "profile_jpeg")
      return Fault(400, "Sender", "ter:InvalidArgVal", "ter:NoProfile", "no such profile");
    if (Op == "GetSystemDateAndTime") {
      const std::string t = KzOnvifDateTime(NowUTC() + Opt.OnvifClockOffset);
      auto n = [&](size_t At, size_t Len) { return std::to_string(std::stoi(t.substr(At, Len))); };
      return Soap(200, E("tds:GetSystemDateAndTimeResponse",
                         E("tds:SystemDateAndTime",
                           E("tt:DateTimeType", "Manual") + E("tt:DaylightSavings", "false") +
                               E("tt:TimeZone", E("tt:TZ", "UTC0")) +
                               E("tt:UTCDateTime", E("tt:Time", E("tt:Hour", n(11, 2)) + E("tt:Minute", n(14, 2)) +
                                                                    E("tt:Second", n(17, 2))) +
                                                       E("tt:Date", E("tt:Year", n(0, 4)) + E("tt:Month", n(5, 2)) +
                                                                    E("tt:Day", n(8, 2)))))));
    }
    if (Op == "GetDeviceInformation")
      return Soap(200, E("tds:GetDeviceInformationResponse",
                         E("tds:Manufacturer", "KzMedia") + E("tds:Model", "kzcamsim") +
                             E("tds:FirmwareVersion", "1.0") + E("tds:SerialNumber", "KZ-" + R.Host) +
                             E("tds:HardwareId", "kzcamsim")));
    if (Op == "GetHostname")
      return Soap(200, E("tds:GetHostnameResponse", E("tds:HostnameInformation", E("tt:FromDHCP", "false") +
                                                                                     E("tt:Name", "kzcamsim"))));
    if (Op == "GetCapabilities")
      return Soap(200, E("tds:GetCapabilitiesResponse",
                         E("tds:Capabilities",
                           E("tt:Device", E("tt:XAddr", base + "/onvif/device_service")) +
                               E("tt:Media", E("tt:XAddr", base + "/onvif/media_service") +
                                                 E("tt:StreamingCapabilities",
                                                   E("tt:RTPMulticast", "false") + E("tt:RTP_TCP", "true") +
                                                       E("tt:RTP_RTSP_TCP", "true"))) +
                               E("tt:PTZ", E("tt:XAddr", base + "/onvif/ptz_service")))));
    if (Op == "GetServices") {
      auto service = [&](const char* Ns, const char* Path) {
        return E("tds:Service", E("tds:Namespace", Ns) + E("tds:XAddr", base + Path) +
                                    E("tds:Version", E("tt:Major", "2") + E("tt:Minor", "0")));
      };
      return Soap(200, E("tds:GetServicesResponse",
                         service("http://www.onvif.org/ver10/device/wsdl", "/onvif/device_service") +
                             service("http://www.onvif.org/ver10/media/wsdl", "/onvif/media_service") +
                             service("http://www.onvif.org/ver20/ptz/wsdl", "/onvif/ptz_service")));
    }
    if (Op == "GetUsers") {
      std::string list;
      for (const TKzSimUser& u : Users)
        list += E("tds:User", E("tt:Username", KzXmlEscape(u.Name)) + E("tt:UserLevel", kLevelNames[u.Level]));
      return Soap(200, E("tds:GetUsersResponse", list));
    }
    if (Op == "GetProfiles")
      return Soap(200, E("trt:GetProfilesResponse", ProfileXML("profile_h264", "H264", "H264") +
                                                        ProfileXML("profile_jpeg", "JPEG", "JPEG")));
    if (Op == "GetProfile") {
      const bool h264 = token == "profile_h264";
      std::string p = h264 ? ProfileXML("profile_h264", "H264", "H264") : ProfileXML("profile_jpeg", "JPEG", "JPEG");
      p.replace(0, std::strlen("<trt:Profiles"), "<trt:Profile");
      p.replace(p.size() - std::strlen("</trt:Profiles>"), std::string::npos, "</trt:Profile>");
      return Soap(200, E("trt:GetProfileResponse", p));
    }
    if (Op == "GetStreamUri" || Op == "GetSnapshotUri") {
      std::string uri = Op == "GetSnapshotUri" ? StillURL
                        : token == "profile_h264" ? (Opt.RtspURL.empty() ? "rtsp://" + R.Host + "/h264" : Opt.RtspURL)
                                                  : StreamURL;
      return Soap(200, E("trt:" + Op + "Response",
                         E("trt:MediaUri", E("tt:Uri", KzXmlEscape(uri)) + E("tt:InvalidAfterConnect", "false") +
                                               E("tt:InvalidAfterReboot", "false") + E("tt:Timeout", "PT0S"))));
    }
    if (Op == "ContinuousMove") {
      pugi::xml_node pt = KzXmlChild(KzXmlChild(Content, "Velocity"), "PanTilt");
      const double x = std::atof(KzXmlAttr(pt, "x").c_str()), y = std::atof(KzXmlAttr(pt, "y").c_str());
      if (!pt || !(std::fabs(x) <= 1) || !(std::fabs(y) <= 1))
        return Fault(400, "Sender", "ter:InvalidArgVal", "ter:InvalidVelocity", "velocity out of range");
      Move(x, y, Duration(KzXmlChildText(Content, "Timeout"), kDefaultTimeout));
      return Soap(200, "<tptz:ContinuousMoveResponse/>");
    }
    if (Op == "Stop") {
      Move(0, 0, 0);
      return Soap(200, "<tptz:StopResponse/>");
    }
    if (Op == "GotoHomePosition") {
      std::lock_guard<std::mutex> g(PTZLock);
      PanAt = TiltAt = VPan = VTilt = 0;
      MoveEnd = MoveStart = std::chrono::steady_clock::now();
      return Soap(200, "<tptz:GotoHomePositionResponse/>");
    }
    if (Op == "GetStatus") {
      double pan, tilt;
      bool moving;
      {
        std::lock_guard<std::mutex> g(PTZLock);
        Position(pan, tilt, moving);
      }
      return Soap(200, E("tptz:GetStatusResponse",
                         E("tptz:PTZStatus", E("tt:Position", "<tt:PanTilt x=\"" + std::to_string(pan) + "\" y=\"" +
                                                                  std::to_string(tilt) + "\"/><tt:Zoom x=\"0\"/>") +
                                                 E("tt:MoveStatus", E("tt:PanTilt", moving ? "MOVING" : "IDLE") +
                                                                        E("tt:Zoom", "IDLE")) +
                                                 E("tt:UtcTime", KzOnvifDateTime(NowUTC() + Opt.OnvifClockOffset)))));
    }
    return Fault(400, "Receiver", "ter:ActionNotSupported", nullptr, "the operation is not supported");
  }

  void Respond() {
    std::string buffer(65536, '\0');
    while (!Stopping.load()) {
      if (PlatformPollRead(Udp, 100) <= 0) continue;
      uint32_t from = 0;
      uint16_t port = 0;
      const int64_t n = PlatformRecvFromAddr(Udp, buffer.data(), static_cast<int64_t>(buffer.size()), from, port);
      if (n <= 0) continue;
      pugi::xml_document doc;
      std::string error;
      if (!KzOnvifLoadXML(buffer.substr(0, static_cast<size_t>(n)), doc, error)) continue;
      pugi::xml_node env = doc.document_element();
      pugi::xml_node probe = KzXmlChild(KzXmlChild(env, "Body"), "Probe");
      if (!probe) continue;
      const std::string types = KzXmlChildText(probe, "Types");
      if (!types.empty() && types.find("NetworkVideoTransmitter") == std::string::npos &&
          types.find("Device") == std::string::npos)
        continue;
      const std::string relates = KzXmlChildText(KzXmlChild(env, "Header"), "MessageID");
      for (const std::string& m : Matches(relates)) PlatformSendTo(Udp, m.data(), static_cast<int64_t>(m.size()), from, port);
    }
  }

  std::string Address;
  std::vector<uint16_t> Ports;

  std::vector<std::string> Matches(const std::string& RelatesTo) const {
    std::vector<std::string> out;
    for (uint16_t p : Ports) {
      char uuid[64];
      std::snprintf(uuid, sizeof uuid, "urn:uuid:6b7a6d73-0000-4000-8000-%06x%06x", static_cast<unsigned>(getpid() & 0xFFFFFF),
                    static_cast<unsigned>(p));
      const std::string xaddr = "http://" + Address + ":" + std::to_string(p) + "/onvif/device_service";
      out.push_back(
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope"
          " xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\""
          " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
          " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
          " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\" xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
          "<SOAP-ENV:Header><wsa:MessageID>" + std::string(uuid) + "-" + std::to_string(out.size()) +
          "</wsa:MessageID><wsa:RelatesTo>" + KzXmlEscape(RelatesTo) +
          "</wsa:RelatesTo><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>"
          "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action></SOAP-ENV:Header>"
          "<SOAP-ENV:Body><d:ProbeMatches><d:ProbeMatch><wsa:EndpointReference><wsa:Address>" + uuid +
          "</wsa:Address></wsa:EndpointReference><d:Types>dn:NetworkVideoTransmitter tds:Device</d:Types>"
          "<d:Scopes>onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/Profile/Streaming"
          " onvif://www.onvif.org/name/kzcamsim onvif://www.onvif.org/hardware/kzcamsim"
          " onvif://www.onvif.org/location/port" + std::to_string(p) + "</d:Scopes><d:XAddrs>" + xaddr +
          "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches></SOAP-ENV:Body>"
          "</SOAP-ENV:Envelope>");
    }
    return out;
  }
};

std::unique_ptr<TKzSimOnvif> TKzSimOnvif::Make(const TKzSimOptions& Options, std::string* Error) {
  auto impl = std::make_unique<TImpl>();
  impl->Opt = Options;
  for (const std::string& entry : Options.OnvifUsers) {
    const size_t a = entry.find(':'), b = entry.rfind(':');
    const std::string level = b == std::string::npos ? "" : KzLowerCase(entry.substr(b + 1));
    const TKzLevel l = level == "admin" || level == "administrator" ? Administrator
                       : level == "operator"                       ? Operator
                       : level == "user"                           ? User
                                                                   : Anonymous;
    if (a == std::string::npos || a == b || l == Anonymous) {
      if (Error) *Error = "--onvif-user takes NAME:PASSWORD:LEVEL (admin, operator or user), not " + entry;
      return nullptr;
    }
    impl->Users.push_back({entry.substr(0, a), entry.substr(a + 1, b - a - 1), l});
  }
  if (impl->Users.empty()) impl->Users.push_back({Options.UserName, Options.Password, Administrator});
  impl->MoveStart = impl->MoveEnd = std::chrono::steady_clock::now();
  return std::unique_ptr<TKzSimOnvif>(new TKzSimOnvif(std::move(impl)));
}

TKzSimOnvif::TKzSimOnvif(std::unique_ptr<TImpl> Impl) : F(std::move(Impl)) {}

TKzSimOnvif::~TKzSimOnvif() { StopDiscovery(); }

TKzSimVendorAnswer TKzSimOnvif::Handle(const TKzSimRequest& R, const std::string& StreamURL,
                                       const std::string& StillURL) {
  if (R.Method != "POST") return Fault(405, "Sender", "ter:InvalidArgVal", nullptr, "SOAP requests are POSTs");
  pugi::xml_document doc;
  std::string error;
  if (!KzOnvifLoadXML(R.Body, doc, error)) {
    F->Note("", "fault", "?");
    return Fault(400, "Sender", "ter:WellFormed", nullptr, error.c_str());
  }
  pugi::xml_node env = doc.document_element();
  pugi::xml_node content = KzXmlChild(env, "Body").first_child();
  while (content && content.type() != pugi::node_element) content = content.next_sibling();
  if (!content) {
    F->Note("", "fault", "?");
    return Fault(400, "Sender", "ter:WellFormed", nullptr, "no operation in the body");
  }
  const std::string op = KzXmlLocal(content.name());
  static const struct {
    const char* Op;
    TKzClass Class;
  } kClasses[] = {{"GetSystemDateAndTime", PreAuth}, {"GetCapabilities", PreAuth}, {"GetServices", PreAuth},
                  {"GetHostname", PreAuth},          {"GetDeviceInformation", ReadSystem}, {"GetUsers", ReadSecret},
                  {"GetProfiles", ReadMedia},        {"GetProfile", ReadMedia},  {"GetStreamUri", ReadMedia},
                  {"GetSnapshotUri", ReadMedia},     {"GetStatus", ReadMedia},   {"ContinuousMove", Actuate},
                  {"Stop", Actuate},                 {"GotoHomePosition", Actuate}};
  TKzClass cls = ReadSecret;  // an operation this camera does not know needs the most
  for (const auto& c : kClasses)
    if (op == c.Op) cls = c.Class;
  TKzSimUser who;
  const bool authentic = F->Authenticate(env, who);
  if (!authentic || !Grants(who.Level, cls)) {
    F->Note(who.Name, "unauthorized", op);
    return Fault(400, "Sender", "ter:NotAuthorized", nullptr, "Sender not Authorized");
  }
  TKzSimVendorAnswer a = F->Answer(op, content, R, StreamURL, StillURL);
  F->Note(who.Name, a.Status == 200 ? "ok" : "fault", op);
  return a;
}

bool TKzSimOnvif::StartDiscovery(const std::string& Address, const std::vector<uint16_t>& Ports, std::string* Error) {
  StopDiscovery();
  F->Address = Address == "0.0.0.0" ? PlatformLocalHostAddress() : Address;
  F->Ports = Ports;
  TKzSocket s = PlatformSocketUDP();
  if (s == KZ_INVALID_SOCKET || PlatformBind(s, 0, F->Opt.DiscoveryPort) < 0) {
    if (s != KZ_INVALID_SOCKET) PlatformCloseSocket(s);
    if (Error) *Error = "cannot bind the discovery port " + std::to_string(F->Opt.DiscoveryPort);
    return false;
  }
  // Multicast where the interface allows it; unicast probes are answered either way.
  const uint32_t iface = Address == "0.0.0.0" ? 0 : PlatformLookupIPv4(Address);
  const uint32_t group = PlatformLookupIPv4(KzOnvifDiscoveryGroup);
  if (PlatformJoinMulticast(s, group, iface) < 0) PlatformJoinMulticast(s, group, 0);
  F->Udp = s;
  F->UdpPort = PlatformSocketLocalPort(s);
  F->Stopping = false;
  F->Responder = std::thread([this] { F->Respond(); });
  return true;
}

void TKzSimOnvif::StopDiscovery() {
  F->Stopping = true;
  if (F->Responder.joinable()) F->Responder.join();
  if (F->Udp != KZ_INVALID_SOCKET) PlatformCloseSocket(F->Udp);
  F->UdpPort = 0;
}

uint16_t TKzSimOnvif::DiscoveryPort() const { return F->UdpPort; }

std::vector<std::string> TKzSimOnvif::Log() const {
  std::lock_guard<std::mutex> g(F->LogLock);
  return {F->Log.begin(), F->Log.end()};
}

void TKzSimOnvif::ClearLog() {
  std::lock_guard<std::mutex> g(F->LogLock);
  F->Log.clear();
}

double TKzSimOnvif::Pan() const {
  std::lock_guard<std::mutex> g(F->PTZLock);
  double p, t;
  bool m;
  F->Position(p, t, m);
  return p;
}

double TKzSimOnvif::Tilt() const {
  std::lock_guard<std::mutex> g(F->PTZLock);
  double p, t;
  bool m;
  F->Position(p, t, m);
  return t;
}

bool TKzSimOnvif::Moving() const {
  std::lock_guard<std::mutex> g(F->PTZLock);
  double p, t;
  bool m;
  F->Position(p, t, m);
  return m;
}

}  // namespace kzcamsim
