#include "camera/fmxMKzOnvifSoap.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "camera/fmxMKzOnvifXML.h"
#include "inet/fmxMKzSHA1.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
constexpr const char* kNamespaces =
    " xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\"";
constexpr const char* kWsse = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr const char* kWsu = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr const char* kDigestType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
constexpr const char* kBase64Type =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0#Base64Binary";

// What each operation's body holds besides its element.
enum class TKzOnvifShape : uint8_t { Empty, Category, Stream, Token, Move, Stop };
struct TKzOnvifOpRow {
  TKzOnvifOp Op;
  const char* Prefix;  // tds, trt, tptz
  const char* Name;
  TKzOnvifShape Shape;
};
constexpr TKzOnvifOpRow kOps[] = {
    {TKzOnvifOp::GetSystemDateAndTime, "tds", "GetSystemDateAndTime", TKzOnvifShape::Empty},
    {TKzOnvifOp::GetDeviceInformation, "tds", "GetDeviceInformation", TKzOnvifShape::Empty},
    {TKzOnvifOp::GetCapabilities, "tds", "GetCapabilities", TKzOnvifShape::Category},
    {TKzOnvifOp::GetUsers, "tds", "GetUsers", TKzOnvifShape::Empty},
    {TKzOnvifOp::GetProfiles, "trt", "GetProfiles", TKzOnvifShape::Empty},
    {TKzOnvifOp::GetStreamUri, "trt", "GetStreamUri", TKzOnvifShape::Stream},
    {TKzOnvifOp::GetSnapshotUri, "trt", "GetSnapshotUri", TKzOnvifShape::Token},
    {TKzOnvifOp::ContinuousMove, "tptz", "ContinuousMove", TKzOnvifShape::Move},
    {TKzOnvifOp::Stop, "tptz", "Stop", TKzOnvifShape::Stop},
    {TKzOnvifOp::GotoHomePosition, "tptz", "GotoHomePosition", TKzOnvifShape::Token},
    {TKzOnvifOp::GetStatus, "tptz", "GetStatus", TKzOnvifShape::Token},
};

const TKzOnvifOpRow& RowOf(TKzOnvifOp Op) { return kOps[static_cast<size_t>(Op)]; }

std::string Speed(double V) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3g", V);
  return b;
}

std::string Element(const std::string& Name, const std::string& Inner) {
  return "<" + Name + ">" + Inner + "</" + Name + ">";
}

std::string BodyOf(const TKzOnvifOpRow& R, const TKzOnvifArgs& A) {
  const std::string p = R.Prefix;
  const std::string token = Element(p + ":ProfileToken", KzXmlEscape(A.ProfileToken));
  std::string inner;
  switch (R.Shape) {
    case TKzOnvifShape::Empty: break;
    case TKzOnvifShape::Category: inner = Element("tds:Category", "All"); break;
    case TKzOnvifShape::Stream:
      inner = Element("trt:StreamSetup", Element("tt:Stream", "RTP-Unicast") +
                                             Element("tt:Transport", Element("tt:Protocol", KzXmlEscape(A.Protocol)))) +
              token;
      break;
    case TKzOnvifShape::Token: inner = token; break;
    case TKzOnvifShape::Move:
      // The timeout stops the camera by itself when a Stop gets lost.
      inner = token + Element("tptz:Velocity", "<tt:PanTilt x=\"" + Speed(A.PanSpeed) + "\" y=\"" +
                                                   Speed(A.TiltSpeed) + "\"/>") +
              Element("tptz:Timeout", "PT1S");
      break;
    case TKzOnvifShape::Stop: inner = token + Element("tptz:PanTilt", "true") + Element("tptz:Zoom", "true"); break;
  }
  return inner.empty() ? "<" + p + ":" + R.Name + "/>" : Element(p + ":" + R.Name, inner);
}

std::string NewNonce() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string n(16, '\0');
  for (size_t i = 0; i < n.size(); i += 8) {
    const uint64_t v = engine();
    for (size_t k = 0; k < 8; ++k) n[i + k] = static_cast<char>(v >> (8 * k));
  }
  return n;
}

std::string SecurityHeader(const TKzOnvifAuth& Auth) {
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  const std::string nonce = NewNonce(), created = KzOnvifDateTime(now + Auth.ClockOffset);
  return std::string("<s:Header><wsse:Security s:mustUnderstand=\"1\" xmlns:wsse=\"") + kWsse + "\" xmlns:wsu=\"" +
         kWsu + "\"><wsse:UsernameToken>" + Element("wsse:Username", KzXmlEscape(Auth.UserName)) +
         "<wsse:Password Type=\"" + kDigestType + "\">" + KzOnvifPasswordDigest(nonce, created, Auth.Password) +
         "</wsse:Password><wsse:Nonce EncodingType=\"" + kBase64Type + "\">" + EncodeBase64(nonce) +
         "</wsse:Nonce>" + Element("wsu:Created", created) + "</wsse:UsernameToken></wsse:Security></s:Header>";
}
}  // namespace

std::string KzOnvifPasswordDigest(const std::string& Nonce, const std::string& Created, const std::string& Password) {
  return EncodeBase64(SHA1Bytes(SHA1String(Nonce + Created + Password)));
}

std::string KzOnvifDateTime(int64_t UTCSeconds) {
  const int64_t days = UTCSeconds >= 0 ? UTCSeconds / 86400 : (UTCSeconds - 86399) / 86400;
  const int64_t rest = UTCSeconds - days * 86400;
  // Civil date from days since 1970 (proleptic Gregorian).
  const int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097, doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9, y = yoe + era * 400 + (m <= 2);
  char b[128];
  std::snprintf(b, sizeof b, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return b;
}

const char* KzOnvifOpName(TKzOnvifOp Op) { return RowOf(Op).Name; }

std::string KzOnvifEnvelope(TKzOnvifOp Op, const TKzOnvifArgs& Args, const TKzOnvifAuth& Auth) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope") + kNamespaces + ">" +
         (Auth.UserName.empty() ? "" : SecurityHeader(Auth)) + "<s:Body>" + BodyOf(RowOf(Op), Args) +
         "</s:Body></s:Envelope>";
}

TKzCamRequest KzOnvifRequest(const std::string& ServiceURL, TKzOnvifOp Op, const TKzOnvifArgs& Args,
                             const TKzOnvifAuth& Auth) {
  return TKzCamRequest(ServiceURL, "POST", KzOnvifContentType, KzOnvifEnvelope(Op, Args, Auth));
}

bool KzOnvifCall(const TKzCamRequest& Request, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                 std::string& Body, TKzOnvifError& Error) {
  Error = {};
  Body.clear();
  TKzCamRequestSettings s = Settings;
  s.Vendor = nullptr;  // the caller reads the reply
  TKzCamReply reply;
  const bool ok = KzCamPerform(Request, s, Abort, KzOnvifMaxReply, reply);
  if (ok) {
    Body = std::move(reply.Body);
    return true;
  }
  if (reply.Overflow) {
    Error.Text = "reply too large (more than " + std::to_string(KzOnvifMaxReply) + " bytes)";
  } else if (!reply.Body.empty() && KzOnvifParseFault(reply.Body, Error.Fault)) {
    Error.IsFault = true;
    Error.Text = "SOAP Fault " + Error.Fault.Code + (Error.Fault.Subcode.empty() ? "" : "/" + Error.Fault.Subcode) +
                 (Error.Fault.Reason.empty() ? "" : ": " + Error.Fault.Reason);
  } else if (reply.Status == 401) {
    // Refused at the HTTP layer: the same verdict as the SOAP one.
    Error.IsFault = true;
    Error.Fault = {"Sender", "NotAuthorized", "HTTP 401"};
    Error.Text = "HTTP 401 Unauthorized";
  } else {
    Error.Text = reply.Status ? "HTTP status " + std::to_string(reply.Status) : "no reply";
  }
  return false;
}

}  // namespace kz
