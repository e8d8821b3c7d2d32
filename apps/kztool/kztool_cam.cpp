// kztool cam and kztool ptz: a camera's settings, device operations, stream
// URLs and pan/tilt moves through the library's vendor interfaces.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"
#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzRedact.h"
#include "inet/fmxMKzURLFuncs.h"

using namespace kz;
using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--vendor", "V", "foscam, foscam-hd, panasonic, dlink, axis, mobotix, trendnet or onvif"},
    {"--user", "U", "user name"},
    {"--password", "P", "password"},
    {"--access", "LEVEL", "the user's level: admin (default), operator or visitor"},
    {"--model", "NAME", "the camera's model (D-Link: picks the stream path)"},
    {"--show-secrets", nullptr, "print passwords and keys instead of ***"},
    {"--for", "MS", "ptz: move this long before the stop (default 500)"},
};

using G = TKzCamPropertyGroup;
struct TGroupName {
  const char* Name;
  G Group;
};
const TGroupName kGroups[] = {{"datetime", G::kzcpDateTimeParameter}, {"network", G::kzcpNetwork},
                              {"wifi", G::kzcpWirelessLan},           {"adsl", G::kzcpADSL},
                              {"mail", G::kzcpMailService},           {"ftp", G::kzcpFtpService},
                              {"alarm", G::kzcpAlarmService},         {"decoder", G::kzcpDecoder},
                              {"ptz", G::kzcpPTZSettings},            {"led", G::kzcpPTZSettingsLed},
                              {"device", G::kzcpParameters},          {"image", G::kzcpImageSettings},
                              {"users", G::kzcpUsers}};

struct TVendorName {
  const char* Name;
  TKzCameraType Type;
  bool HD;
};
const TVendorName kVendors[] = {{"foscam", TKzCameraType::kzctFoscam, false},
                                {"foscam-hd", TKzCameraType::kzctFoscam, true},
                                {"panasonic", TKzCameraType::kzctPanasonic, false},
                                {"dlink", TKzCameraType::kzctDLink, false},
                                {"axis", TKzCameraType::kzctAxis, false},
                                {"mobotix", TKzCameraType::kzctMobotix, false},
                                {"trendnet", TKzCameraType::kzctTrendnet, false}};

struct TMethodName {
  const char* Name;
  TKzCamMethod Method;
};
const TMethodName kMethods[] = {{"reboot", TKzCamMethod::kzcm_dmRebootDevice}, {"log", TKzCamMethod::kzcm_dmLog},
                                {"backup", TKzCamMethod::kzcm_dmBackup},       {"led-on", TKzCamMethod::kzcm_LedOn},
                                {"led-off", TKzCamMethod::kzcm_LedOff},        {"wifi-scan", TKzCamMethod::kzcm_wlScan}};

struct TMoveName {
  const char* Name;
  TKzCamMovementEx Move;
};
const TMoveName kMoves[] = {
    {"home", TKzCamMovementEx::kzdHome},         {"hpatrol", TKzCamMovementEx::kzdHPatrol},
    {"vpatrol", TKzCamMovementEx::kzdVPatrol},   {"left", TKzCamMovementEx::kzdLeft},
    {"up", TKzCamMovementEx::kzdUp},             {"right", TKzCamMovementEx::kzdRight},
    {"down", TKzCamMovementEx::kzdDown},         {"upleft", TKzCamMovementEx::kzdUpLeft},
    {"upright", TKzCamMovementEx::kzdUpRight},   {"downleft", TKzCamMovementEx::kzdDownLeft},
    {"downright", TKzCamMovementEx::kzdDownRight}};

// Image settings are written one property at a time.
struct TImageProperty {
  TKzCamField Field;
  TKzCamProperty Property;
};
const TImageProperty kImage[] = {{TKzCamField::kzfBrightness, TKzCamProperty::kzcp_Brightness},
                                 {TKzCamField::kzfContrast, TKzCamProperty::kzcp_Contrast},
                                 {TKzCamField::kzfHue, TKzCamProperty::kzcp_Hue},
                                 {TKzCamField::kzfSaturation, TKzCamProperty::kzcp_Saturation},
                                 {TKzCamField::kzfSharpness, TKzCamProperty::kzcp_Sharpness},
                                 {TKzCamField::kzfVideoMode, TKzCamProperty::kzcp_VideoMode},
                                 {TKzCamField::kzfResolution, TKzCamProperty::kzcp_VideoResolution},
                                 {TKzCamField::kzfAlias, TKzCamProperty::kzcp_dmAlias}};

// An ONVIF camera: what its identification finds decides the access level.
bool SetupOnvif(TKzArgs& Args, TKzCamera& Cam, const std::string& Host, uint16_t Port) {
  Cam.SetCameraHost(Host);
  Cam.SetCameraPort(Port);
  Cam.SetUserName(Args.Get("--user"));
  Cam.SetUserPassword(Args.Get("--password"));
  Cam.SetCommandMode(TKzSendMode::kzsmWait);
  std::atomic<bool> abort{false};
  TKzOnvifIdentity id;
  if (!KzOnvifIdentify(KzOnvifDeviceURL(Host, Port), KzCamRequestSettings(Cam), abort, id) ||
      id.Access == TKzUserAccess::uaNone) {
    Args.Error = "no ONVIF device at " + Args.Positional[0] + (id.Error.empty() ? "" : ": " + id.Error);
    return false;
  }
  Cam.DoSetOnvif(id.Onvif);
  Cam.DoSetUserAccess(id.Access);
  return true;
}

// Reads HOST[:PORT] and the options into Cam; false with Args.Error set.
bool Setup(TKzArgs& Args, TKzCamera& Cam) {
  const std::string hostPort = Args.Positional[0];
  std::string host, path;
  int port = 80;
  ParseURL2("http://" + hostPort, 80, host, path, port);
  if (host.empty() || port <= 0 || port > 65535) {
    Args.Error = "HOST[:PORT] expected, not " + hostPort;
    return false;
  }
  const std::string vendor = Args.Get("--vendor");
  if (vendor == "onvif") return SetupOnvif(Args, Cam, host, static_cast<uint16_t>(port));
  const TVendorName* v = nullptr;
  for (const TVendorName& n : kVendors)
    if (vendor == n.Name) v = &n;
  if (!v) {
    Args.Error = "--vendor takes foscam, foscam-hd, panasonic, dlink, axis, mobotix, trendnet or onvif";
    return false;
  }
  const std::string access = Args.Get("--access", "admin");
  if (access != "admin" && access != "operator" && access != "visitor") {
    Args.Error = "--access takes admin, operator or visitor";
    return false;
  }
  Cam.SetCameraHost(host);
  Cam.SetCameraPort(static_cast<uint16_t>(port));
  Cam.SetUserName(Args.Get("--user"));
  Cam.SetUserPassword(Args.Get("--password"));
  Cam.SetIPCameraTypes(TKzCameraTypes{v->Type});
  Cam.DoSetProtocolVersion(v->HD ? TKzProtocolVersion::kzpvVer1_2 : TKzProtocolVersion::kzpvVer1);
  Cam.DoSetUserAccess(access == "admin"      ? TKzUserAccess::uaAdmin
                      : access == "operator" ? TKzUserAccess::uaOperator
                                             : TKzUserAccess::uaVisitor);
  Cam.DoSetDLinkModelIndex(KzDLinkModelIndex(Args.Get("--model", "DCS-930")));
  Cam.SetCommandMode(TKzSendMode::kzsmWait);
  return true;
}

std::string Shown(const TKzArgs& Args, TKzCamField Field, const std::string& Value) {
  return KzCamFieldSecret(Field) && !Args.Has("--show-secrets") ? std::string(KzRedactedMarker) : Value;
}

// The fields a vendor reads for Group (all fields of the group when its tables do not say).
std::vector<TKzCamField> FieldsOf(TKzCamera& Cam, G Group) {
  std::vector<TKzCamField> out;
  const auto* vendor = dynamic_cast<const TKzTableVendor*>(TKzIPCameraAPI::GetVendor(&Cam));
  if (const TKzVendorGroup* g = vendor ? vendor->FindGroup(Group) : nullptr)
    for (const TKzVendorRequest& r : g->Reads)
      for (const TKzVendorValue& v : r.Values)
        if (v.Field != TKzCamField::kzfNone && std::find(out.begin(), out.end(), v.Field) == out.end())
          out.push_back(v.Field);
  if (out.empty())
    for (uint8_t f = 1; f < static_cast<uint8_t>(TKzCamField::kzfCount); ++f)
      if (KzCamFieldGroup(static_cast<TKzCamField>(f)) == static_cast<uint8_t>(Group))
        out.push_back(static_cast<TKzCamField>(f));
  return out;
}

int Get(TKzArgs& Args, TKzCamera& Cam, const std::string& Which) {
  bool any = false, failed = false;
  for (const TGroupName& g : kGroups) {
    if (Which != "all" && Which != g.Name) continue;
    any = true;
    if (Which == "all" && !TKzIPCameraAPI::GetGetFunc(Cam, g.Group)) continue;
    if (!TKzIPCameraAPI::GetFromCamera(Cam, g.Group)) {
      KzErr("get %s: refused or failed\n", g.Name);
      failed = true;
      continue;
    }
    if (g.Group == G::kzcpUsers) {
      static const char* const levels[] = {"none", "present", "visitor", "operator", "admin"};
      for (int32_t i = 0; i < Cam.Users().Count(); ++i)
        KzOut("users.%d=%s %s\n", i + 1, Cam.Users()[i].UserName.c_str(),
              levels[static_cast<size_t>(Cam.Users()[i].Access)]);
      continue;
    }
    for (TKzCamField f : FieldsOf(Cam, g.Group))
      KzOut("%s=%s\n", KzCamFieldName(f), Shown(Args, f, KzCamFieldGet(Cam, f)).c_str());
  }
  if (!any) {
    Args.Error = "unknown group " + Which;
    return kzExitUsage;
  }
  return failed ? kzExitFailed : kzExitDone;
}

int Set(TKzArgs& Args, TKzCamera& Cam) {
  const std::string which = Args.Positional[2];
  const TGroupName* group = nullptr;
  for (const TGroupName& g : kGroups)
    if (which == g.Name) group = &g;
  if (!group || Args.Positional.size() < 4) {
    Args.Error = group ? "set GROUP field=value... needs a value" : "unknown group " + which;
    return kzExitUsage;
  }
  // The group is read first, so that the write keeps what is not given.
  if (TKzIPCameraAPI::GetGetFunc(Cam, group->Group)) TKzIPCameraAPI::GetFromCamera(Cam, group->Group);
  std::vector<TKzCamField> given;
  for (size_t i = 3; i < Args.Positional.size(); ++i) {
    const std::string& a = Args.Positional[i];
    const size_t eq = a.find('=');
    const TKzCamField f = eq == std::string::npos ? TKzCamField::kzfNone : KzCamFieldByName(a.substr(0, eq));
    if (f == TKzCamField::kzfNone) {
      Args.Error = "field=value expected, not " + a.substr(0, eq);
      return kzExitUsage;
    }
    KzCamFieldInit(Cam, f, a.substr(eq + 1));
    given.push_back(f);
  }
  bool ok = true, sent = false;
  for (TKzCamField f : given)
    for (const TImageProperty& p : kImage)
      if (p.Field == f) {
        const std::string url = TKzIPCameraAPI::SetPropURL(Cam, p.Property, KzCamFieldGet(Cam, f));
        ok = ok && !url.empty() && Cam.ExecuteURL(url);
        sent = true;
      }
  if (!sent) {
    for (int32_t n = 0;; ++n) {
      const std::string url = TKzIPCameraAPI::SetToCameraURL(Cam, group->Group, n);
      if (url.empty()) break;
      ok = ok && Cam.Parameters().Update(url, group->Group);
      sent = true;
    }
  }
  ok = ok && sent;
  KzOut("set %s: %s\n", which.c_str(), ok ? "ok" : sent ? "refused or failed" : "not supported");
  return ok ? kzExitDone : kzExitFailed;
}

int Call(TKzArgs& Args, TKzCamera& Cam) {
  const std::string which = Args.Positional.size() > 2 ? Args.Positional[2] : "";
  for (const TMethodName& m : kMethods) {
    if (which != m.Name) continue;
    std::string result;
    const bool ok = TKzIPCameraAPI::CallMethod(Cam, m.Method, "", result);
    if (!result.empty()) KzOut("%s\n", KzRedactCredentials(result).c_str());
    KzOut("call %s: %s\n", m.Name, ok ? "ok" : "refused or failed");
    return ok ? kzExitDone : kzExitFailed;
  }
  Args.Error = "call takes reboot, log, backup, led-on, led-off or wifi-scan";
  return kzExitUsage;
}

// Sends Request and prints its outcome (redacted); the vendor judges the reply.
bool Send(TKzCamera& Cam, const TKzCamRequest& Request) {
  std::string reply;
  const TKzIPCameraVendor* vendor = TKzIPCameraAPI::GetVendor(&Cam);
  const bool ok = Cam.ExecuteStr(Request, reply) && (!vendor || vendor->IsReplyAccepted(Request.URL, reply));
  KzOut("%s %s: %s\n", Request.Method.c_str(), KzRedactCredentials(Request.URL).c_str(), ok ? "ok" : "failed");
  return ok;
}
}  // namespace

static int RunCam(TKzArgs& Args) {
  if (Args.Positional.size() < 2) {
    Args.Error = "HOST[:PORT] and get, set, call or streams expected";
    return kzExitUsage;
  }
  TKzCamera cam(nullptr);
  if (!Setup(Args, cam)) return kzExitUsage;
  const std::string action = Args.Positional[1];
  if (action == "get" && Args.Positional.size() == 3) return Get(Args, cam, Args.Positional[2]);
  if (action == "set" && Args.Positional.size() >= 3) return Set(Args, cam);
  if (action == "call") return Call(Args, cam);
  if (action == "streams" && Args.Positional.size() == 2) {
    const std::string mjpeg = TKzIPCameraAPI::GetMJpegURL(cam), h264 = TKzIPCameraAPI::GetH264URL(cam);
    KzOut("mjpeg=%s\nh264=%s\n", KzRedactCredentials(mjpeg).c_str(), KzRedactCredentials(h264).c_str());
    return mjpeg.empty() && h264.empty() ? kzExitFailed : kzExitDone;
  }
  Args.Error = "get GROUP|all, set GROUP field=value..., call METHOD or streams expected";
  return kzExitUsage;
}

static int RunPtz(TKzArgs& Args) {
  if (Args.Positional.size() != 2) {
    Args.Error = "HOST[:PORT] and a direction expected";
    return kzExitUsage;
  }
  TKzCamera cam(nullptr);
  if (!Setup(Args, cam)) return kzExitUsage;
  double ms = 500;
  if (!Args.Number("--for", ms, 0, 600000)) return kzExitUsage;
  const std::string which = Args.Positional[1];
  if (which == "stop") {
    const TKzCamRequest stop = TKzIPCameraAPI::GetStopRequest(cam, TKzCamMovementEx::kzdLeft);
    return !stop.Empty() && Send(cam, stop) ? kzExitDone : kzExitFailed;
  }
  for (const TMoveName& m : kMoves) {
    if (which != m.Name) continue;
    TKzCamRequest a, b;
    TKzIPCameraAPI::GetMoveRequests(cam, m.Move, a, b);
    if (a.Empty()) {
      KzOut("%s: not supported\n", m.Name);
      return kzExitFailed;
    }
    bool ok = Send(cam, a) && (b.Empty() || Send(cam, b));
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int64_t>(ms)));
    const TKzCamRequest stop = TKzIPCameraAPI::GetStopRequest(cam, m.Move);
    if (!stop.Empty()) ok = Send(cam, stop) && ok;
    return ok ? kzExitDone : kzExitFailed;
  }
  Args.Error = "unknown direction " + which;
  return kzExitUsage;
}

const TSubcommand kCamCommand = {"cam", "HOST[:PORT] get GROUP|all | set GROUP field=value... | call METHOD | streams",
                                 "a camera's settings, device operations and stream URLs through its vendor's commands",
                                 kOptions, &RunCam};
const TSubcommand kPtzCommand = {"ptz", "HOST[:PORT] DIRECTION",
                                 "moves a pan/tilt camera (left ... downright, home, hpatrol, vpatrol) for --for ms, "
                                 "then stops it; stop stops it",
                                 kOptions, &RunPtz};

}  // namespace kztool
