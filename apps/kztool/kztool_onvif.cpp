// kztool onvif: ONVIF cameras on the network (WS-Discovery) and what one
// of them offers (device information, profiles, stream URIs).
#include <atomic>
#include <string>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "camera/fmxMKzOnvifClient.h"
#include "camera/fmxMKzOnvifDiscovery.h"
#include "foundation/fmxMKzRedact.h"
#include "inet/fmxMKzURLFuncs.h"

using namespace kz;
using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--timeout", "MS", "discover: how long answers are collected (default 2000)"},
    {"--iface", "ADDR", "discover: probe on the interface with this address only"},
    {"--unicast", "HOST", "discover: send the probe to this host only"},
    {"--port", "P", "discover: the port probes go to (default 3702)"},
    {"--user", "U", "info: user name"},
    {"--password", "P", "info: password"},
};

int Discover(TKzArgs& Args) {
  TKzOnvifDiscoveryOptions o;
  double timeout = o.WindowMs, port = o.Port;
  if (!Args.Number("--timeout", timeout, 1, 600000) || !Args.Number("--port", port, 1, 65535)) return kzExitUsage;
  o.WindowMs = static_cast<uint32_t>(timeout);
  o.Port = static_cast<uint16_t>(port);
  o.Interface = Args.Get("--iface");
  o.Unicast = Args.Get("--unicast");
  std::atomic<bool> abort{false};
  std::vector<TKzOnvifDiscovered> found;
  std::string error;
  if (!KzOnvifDiscover(o, abort, found, error)) {
    KzErr("kztool onvif: %s\n", error.c_str());
    return kzExitFailed;
  }
  for (const TKzOnvifDiscovered& d : found) {
    std::string xaddrs;
    for (const std::string& x : d.Match.XAddrs) xaddrs += (xaddrs.empty() ? "" : " ") + x;
    KzOut("%s from=%s xaddrs=%s name=%s hardware=%s location=%s%s\n", d.Match.Endpoint.c_str(), d.From.c_str(),
          xaddrs.c_str(), d.Match.Name.c_str(), d.Match.Hardware.c_str(), d.Match.Location.c_str(),
          d.ForeignXAddr ? " (address names another host)" : "");
  }
  KzOut("%zu device(s)\n", found.size());
  return kzExitDone;
}

int Info(TKzArgs& Args) {
  if (Args.Positional.size() != 2) {
    Args.Error = "info takes HOST[:PORT]";
    return kzExitUsage;
  }
  std::string host, path;
  int port = 80;
  ParseURL2("http://" + Args.Positional[1], 80, host, path, port);
  if (host.empty() || port <= 0 || port > 65535) {
    Args.Error = "HOST[:PORT] expected, not " + Args.Positional[1];
    return kzExitUsage;
  }
  TKzCamRequestSettings s;
  s.UserName = Args.Get("--user");
  s.Password = Args.Get("--password");
  std::atomic<bool> abort{false};
  TKzOnvifIdentity id;
  const bool ok = KzOnvifIdentify(KzOnvifDeviceURL(host, static_cast<uint16_t>(port)), s, abort, id);
  if (!id.IsOnvif) {
    KzErr("kztool onvif: no ONVIF device at %s: %s\n", Args.Positional[1].c_str(), id.Error.c_str());
    return kzExitFailed;
  }
  if (!ok || id.Access == TKzUserAccess::uaNone) {
    KzErr("kztool onvif: %s%s\n", id.LoginFailed ? "login refused: " : "", id.Error.c_str());
    return kzExitFailed;
  }
  static const char* const levels[] = {"none", "present", "visitor", "operator", "admin"};
  const TKzOnvifDeviceInfo& i = id.Info;
  KzOut("manufacturer=%s\nmodel=%s\nfirmware=%s\nserial=%s\nhardware=%s\naccess=%s\nclock_offset=%lld\n",
        i.Manufacturer.c_str(), i.Model.c_str(), i.FirmwareVersion.c_str(), i.SerialNumber.c_str(),
        i.HardwareId.c_str(), levels[static_cast<size_t>(id.Access)], static_cast<long long>(id.Onvif.ClockOffset));
  KzOut("media=%s\nptz=%s\n", id.Onvif.MediaURL.c_str(), id.Onvif.PTZURL.c_str());
  for (size_t k = 0; k < id.Profiles.size(); ++k) {
    const TKzOnvifProfile& p = id.Profiles[k];
    KzOut("profile %s name=%s encoding=%s size=%dx%d ptz=%s uri=%s\n", p.Token.c_str(), p.Name.c_str(),
          p.Encoding.c_str(), p.Width, p.Height, p.HasPTZ ? "yes" : "no",
          KzRedactCredentials(k < id.StreamURIs.size() ? id.StreamURIs[k] : "").c_str());
  }
  if (!id.Onvif.SnapshotURI.empty()) KzOut("snapshot=%s\n", KzRedactCredentials(id.Onvif.SnapshotURI).c_str());
  return kzExitDone;
}
}  // namespace

static int RunOnvif(TKzArgs& Args) {
  const std::string action = Args.Positional.empty() ? "" : Args.Positional[0];
  if (action == "discover" && Args.Positional.size() == 1) return Discover(Args);
  if (action == "info") return Info(Args);
  Args.Error = "discover or info HOST[:PORT] expected";
  return kzExitUsage;
}

const TSubcommand kOnvifCommand = {"onvif", "discover | info HOST[:PORT]",
                                   "ONVIF cameras: WS-Discovery, and a device's information, profiles and stream URIs",
                                   kOptions, &RunOnvif};

}  // namespace kztool
