// A camera pointed at kzcamsim playing one vendor, in command wait mode.
#pragma once
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzcamsim/kzcamsim_vendor.h"
#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzIPCameraAPI.h"

namespace kztest {

inline kzcamsim::TKzSimOptions VendorOptions(const std::string& Vendor, std::vector<std::string> Users,
                                             const std::string& Model = "") {
  kzcamsim::TKzSimOptions o;
  o.Vendor = Vendor;
  o.Model = Model;
  o.VendorUsers = std::move(Users);
  o.Width = 160;
  o.Height = 120;
  o.FramePerSec = 10;
  return o;
}

// Vendor's fake (none when "") that also answers ONVIF for OnvifUsers
// ("name:password:level"), its discovery responder on a free port.
inline kzcamsim::TKzSimOptions OnvifFakeOptions(const std::string& Vendor, std::vector<std::string> OnvifUsers,
                                                std::vector<std::string> VendorUsers = {}) {
  kzcamsim::TKzSimOptions o = VendorOptions(Vendor, std::move(VendorUsers));
  o.Onvif = true;
  o.DiscoveryPort = 0;
  o.OnvifUsers = std::move(OnvifUsers);
  return o;
}

// A plain fake that streams at StreamPath only (its still picture elsewhere).
inline kzcamsim::TKzSimOptions StreamPathOptions(const std::string& StreamPath) {
  kzcamsim::TKzSimOptions o = VendorOptions("", {});
  o.StreamPath = StreamPath;
  o.StillPath = "/nothing-here.jpg";
  return o;
}

struct TVendorRig {
  TVendorRig(const std::string& Vendor, std::vector<std::string> Users, const std::string& Model = "")
      : Sim(VendorOptions(Vendor, std::move(Users), Model)) {
    Started = Sim.Start(&Error);
    Cam.SetCameraHost("127.0.0.1");
    Cam.SetCameraPort(Sim.Port());
    Cam.SetCommandMode(kz::TKzSendMode::kzsmWait);
    using T = kz::TKzCameraType;
    const T type = Vendor.rfind("foscam", 0) == 0 ? T::kzctFoscam
                   : Vendor == "panasonic"        ? T::kzctPanasonic
                   : Vendor == "dlink"            ? T::kzctDLink
                   : Vendor == "axis"             ? T::kzctAxis
                                                  : T::kzctMobotix;
    Cam.SetIPCameraTypes(kz::TKzCameraTypes{type});
    Cam.DoSetProtocolVersion(Vendor == "foscam-hd" ? kz::TKzProtocolVersion::kzpvVer1_2
                                                   : kz::TKzProtocolVersion::kzpvVer1);
  }
  void As(const std::string& User, const std::string& Password, kz::TKzUserAccess Access) {
    Cam.SetUserName(User);
    Cam.SetUserPassword(Password);
    Cam.DoSetUserAccess(Access);
  }
  kzcamsim::TKzSimVendor& Fake() { return *Sim.Vendor(); }
  // The targets the fake logged since the last call, without user and verdict.
  std::vector<std::string> Targets(bool OnlyOk = true) {
    std::vector<std::string> out;
    for (const std::string& l : Fake().Log()) {
      const size_t a = l.find(' '), b = l.find(' ', a + 1);
      if (!OnlyOk || l.compare(a + 1, b - a - 1, "ok") == 0) out.push_back(l.substr(l.find(' ', b + 1) + 1));
    }
    Fake().ClearLog();
    return out;
  }

  kzcamsim::TKzCamSim Sim;
  kz::TKzCamera Cam{nullptr};
  bool Started = false;
  std::string Error;
};

}  // namespace kztest
