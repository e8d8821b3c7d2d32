#include "camera/fmxMKzOnvifReplies.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "camera/fmxMKzOnvifXML.h"

namespace kz {

namespace {
constexpr size_t kMaxProfiles = 64;
constexpr size_t kMaxMatches = 64;
constexpr size_t kMaxWords = 64;

std::string StripPrefix(const std::string& S) {
  const size_t colon = S.rfind(':');
  return colon == std::string::npos ? S : S.substr(colon + 1);
}

void ReadFault(pugi::xml_node Fault, TKzOnvifFault& F) {
  // SOAP 1.2: Code/Value, Code/Subcode/Value (nested), Reason/Text;
  // SOAP 1.1: faultcode, faultstring.
  if (pugi::xml_node code = KzXmlChild(Fault, "Code")) {
    F.Code = StripPrefix(KzXmlChildText(code, "Value"));
    pugi::xml_node sub = KzXmlChild(code, "Subcode");
    for (int depth = 0; sub && depth < KzOnvifMaxDepth; ++depth) {
      F.Subcode = StripPrefix(KzXmlChildText(sub, "Value"));
      sub = KzXmlChild(sub, "Subcode");
    }
    F.Reason = KzXmlChildText(KzXmlChild(Fault, "Reason"), "Text");
  } else {
    F.Code = StripPrefix(KzXmlChildText(Fault, "faultcode"));
    F.Reason = KzXmlChildText(Fault, "faultstring");
  }
}

// Loads Text and finds the body's first element; a Fault fails with it.
bool OpenBody(const std::string& Text, pugi::xml_document& Doc, pugi::xml_node& Content, TKzOnvifError& Error) {
  Error = {};
  if (!KzOnvifLoadXML(Text, Doc, Error.Text)) return false;
  pugi::xml_node env = Doc.document_element();
  if (!env || std::strcmp(KzXmlLocal(env.name()), "Envelope") != 0) {
    Error.Text = "not a SOAP envelope";
    return false;
  }
  pugi::xml_node body = KzXmlChild(env, "Body");
  if (!body) {
    Error.Text = "SOAP envelope without a body";
    return false;
  }
  Content = body.first_child();
  while (Content && Content.type() != pugi::node_element) Content = Content.next_sibling();
  if (Content && std::strcmp(KzXmlLocal(Content.name()), "Fault") == 0) {
    Error.IsFault = true;
    ReadFault(Content, Error.Fault);
    Error.Text = "SOAP Fault " + Error.Fault.Code + (Error.Fault.Subcode.empty() ? "" : "/" + Error.Fault.Subcode) +
                 (Error.Fault.Reason.empty() ? "" : ": " + Error.Fault.Reason);
    return false;
  }
  return true;
}

bool Missing(TKzOnvifError& Error, const char* What) {
  Error.Text = std::string("reply without ") + What;
  return false;
}

int32_t Int(const std::string& S) {
  const long v = std::strtol(S.c_str(), nullptr, 10);
  return v < 0 || v > 1000000 ? 0 : static_cast<int32_t>(v);
}

double Real(const std::string& S) {
  char* end = nullptr;
  const double v = std::strtod(S.c_str(), &end);
  return end == S.c_str() || !(v > -1e9 && v < 1e9) ? 0 : v;
}

// The words of a space-separated list (at most kMaxWords).
std::vector<std::string> Words(const std::string& S) {
  std::vector<std::string> out;
  std::istringstream in(S);
  std::string w;
  while (in >> w && out.size() < kMaxWords) out.push_back(w);
  return out;
}

std::string PercentDecode(const std::string& S) {
  std::string out;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '%' && i + 2 < S.size() && std::isxdigit(static_cast<unsigned char>(S[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(S[i + 2]))) {
      out += static_cast<char>(std::strtol(S.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += S[i];
    }
  }
  return out;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t Y, int64_t M, int64_t D) {
  Y -= M <= 2;
  const int64_t era = (Y >= 0 ? Y : Y - 399) / 400;
  const int64_t yoe = Y - era * 400;
  const int64_t doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
}  // namespace

bool TKzOnvifError::NotAuthorized() const {
  if (!IsFault) return false;
  for (const char* s : {"NotAuthorized", "FailedAuthentication", "InvalidSecurityToken", "InvalidSecurity"})
    if (Fault.Subcode == s || Fault.Code == s) return true;
  return false;
}

bool KzOnvifParseFault(const std::string& Text, TKzOnvifFault& Fault) {
  pugi::xml_document doc;
  pugi::xml_node content;
  TKzOnvifError e;
  if (OpenBody(Text, doc, content, e) || !e.IsFault) return false;
  Fault = e.Fault;
  return true;
}

bool KzOnvifParseSystemDateAndTime(const std::string& Text, int64_t& UTCSeconds, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  pugi::xml_node utc = KzXmlFind(content, "UTCDateTime");
  if (!utc) return Missing(Error, "UTCDateTime");
  pugi::xml_node date = KzXmlChild(utc, "Date"), time = KzXmlChild(utc, "Time");
  const int32_t y = Int(KzXmlChildText(date, "Year")), mo = Int(KzXmlChildText(date, "Month")),
                d = Int(KzXmlChildText(date, "Day"));
  const int32_t h = Int(KzXmlChildText(time, "Hour")), mi = Int(KzXmlChildText(time, "Minute")),
                s = Int(KzXmlChildText(time, "Second"));
  if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
    return Missing(Error, "a valid UTC date and time");
  UTCSeconds = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

bool KzOnvifParseDeviceInformation(const std::string& Text, TKzOnvifDeviceInfo& Info, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  if (!content || std::strcmp(KzXmlLocal(content.name()), "GetDeviceInformationResponse") != 0)
    return Missing(Error, "GetDeviceInformationResponse");
  Info = {KzXmlChildText(content, "Manufacturer"), KzXmlChildText(content, "Model"),
          KzXmlChildText(content, "FirmwareVersion"), KzXmlChildText(content, "SerialNumber"),
          KzXmlChildText(content, "HardwareId")};
  return true;
}

bool KzOnvifParseCapabilities(const std::string& Text, TKzOnvifServices& Services, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  pugi::xml_node caps = KzXmlFind(content, "Capabilities");
  if (!caps) return Missing(Error, "Capabilities");
  Services = {KzXmlChildText(KzXmlChild(caps, "Device"), "XAddr"), KzXmlChildText(KzXmlChild(caps, "Media"), "XAddr"),
              KzXmlChildText(KzXmlChild(caps, "PTZ"), "XAddr")};
  return true;
}

bool KzOnvifParseUsers(const std::string& Text, std::vector<TKzOnvifUser>& Users, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  if (!content || std::strcmp(KzXmlLocal(content.name()), "GetUsersResponse") != 0)
    return Missing(Error, "GetUsersResponse");
  Users.clear();
  for (pugi::xml_node u = content.first_child(); u && Users.size() < kMaxProfiles; u = u.next_sibling())
    if (std::strcmp(KzXmlLocal(u.name()), "User") == 0)
      Users.push_back({KzXmlChildText(u, "Username"), KzXmlChildText(u, "UserLevel")});
  return true;
}

bool KzOnvifParseProfiles(const std::string& Text, std::vector<TKzOnvifProfile>& Profiles, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  if (!content || std::strcmp(KzXmlLocal(content.name()), "GetProfilesResponse") != 0)
    return Missing(Error, "GetProfilesResponse");
  Profiles.clear();
  for (pugi::xml_node p = content.first_child(); p && Profiles.size() < kMaxProfiles; p = p.next_sibling()) {
    if (std::strcmp(KzXmlLocal(p.name()), "Profiles") != 0) continue;
    TKzOnvifProfile profile;
    profile.Token = KzXmlAttr(p, "token");
    if (profile.Token.empty()) continue;
    profile.Name = KzXmlChildText(p, "Name");
    if (pugi::xml_node enc = KzXmlChild(p, "VideoEncoderConfiguration")) {
      profile.Encoding = KzXmlChildText(enc, "Encoding");
      pugi::xml_node res = KzXmlChild(enc, "Resolution");
      profile.Width = Int(KzXmlChildText(res, "Width"));
      profile.Height = Int(KzXmlChildText(res, "Height"));
    }
    profile.HasPTZ = static_cast<bool>(KzXmlChild(p, "PTZConfiguration"));
    Profiles.push_back(std::move(profile));
  }
  return true;
}

bool KzOnvifParseMediaUri(const std::string& Text, std::string& Uri, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  pugi::xml_node media = KzXmlChild(content, "MediaUri");
  Uri = KzXmlChildText(media, "Uri");
  if (Uri.empty()) return Missing(Error, "MediaUri/Uri");
  return true;
}

bool KzOnvifParsePTZStatus(const std::string& Text, TKzOnvifPTZStatus& Status, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  pugi::xml_node st = KzXmlFind(content, "PTZStatus");
  if (!st) return Missing(Error, "PTZStatus");
  pugi::xml_node pos = KzXmlChild(st, "Position");
  pugi::xml_node pt = KzXmlChild(pos, "PanTilt");
  Status.Pan = Real(KzXmlAttr(pt, "x"));
  Status.Tilt = Real(KzXmlAttr(pt, "y"));
  Status.Zoom = Real(KzXmlAttr(KzXmlChild(pos, "Zoom"), "x"));
  Status.PanTiltMove = KzXmlChildText(KzXmlChild(st, "MoveStatus"), "PanTilt");
  return true;
}

bool KzOnvifParseEmpty(const std::string& Text, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  return OpenBody(Text, doc, content, Error);
}

bool KzOnvifParseProbeMatches(const std::string& Text, std::vector<TKzOnvifProbeMatch>& Matches,
                              std::string& RelatesTo, TKzOnvifError& Error) {
  pugi::xml_document doc;
  pugi::xml_node content;
  if (!OpenBody(Text, doc, content, Error)) return false;
  if (!content || std::strcmp(KzXmlLocal(content.name()), "ProbeMatches") != 0) return Missing(Error, "ProbeMatches");
  RelatesTo = KzXmlChildText(KzXmlChild(doc.document_element(), "Header"), "RelatesTo");
  Matches.clear();
  for (pugi::xml_node m = content.first_child(); m && Matches.size() < kMaxMatches; m = m.next_sibling()) {
    if (std::strcmp(KzXmlLocal(m.name()), "ProbeMatch") != 0) continue;
    TKzOnvifProbeMatch match;
    match.Endpoint = KzXmlChildText(KzXmlChild(m, "EndpointReference"), "Address");
    match.XAddrs = Words(KzXmlChildText(m, "XAddrs"));
    match.Types = Words(KzXmlChildText(m, "Types"));
    match.Scopes = Words(KzXmlChildText(m, "Scopes"));
    if (match.Endpoint.empty()) continue;
    for (const std::string& s : match.Scopes) {
      static const struct {
        const char* Prefix;
        std::string TKzOnvifProbeMatch::*Field;
      } kScopes[] = {{"onvif://www.onvif.org/name/", &TKzOnvifProbeMatch::Name},
                     {"onvif://www.onvif.org/hardware/", &TKzOnvifProbeMatch::Hardware},
                     {"onvif://www.onvif.org/location/", &TKzOnvifProbeMatch::Location}};
      for (const auto& k : kScopes)
        if (s.rfind(k.Prefix, 0) == 0 && (match.*k.Field).empty())
          match.*k.Field = PercentDecode(s.substr(std::strlen(k.Prefix)));
    }
    Matches.push_back(std::move(match));
  }
  return true;
}

}  // namespace kz
