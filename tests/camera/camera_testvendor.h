// A scripted vendor for the camera command tests: every command is a GET of
// /cmd/<name>?<parameters>&user=..&pwd=.. at the camera's host and port, so
// that kzcamsim's command endpoint logs it by name.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzIPCameraAPI.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kztest {

class TTestVendor : public kz::TKzIPCameraVendor {
public:
  bool MoveTimer = false;  // moves repeat while held
  mutable std::vector<std::pair<kz::TKzCollectionItemOperation, int32_t>> UserChanges;

  static const char* Name(kz::TKzCamMovementEx M) {
    static const char* const names[] = {"home",  "hpatrol", "vpatrol",  "left",     "up",       "right",
                                        "down",  "upleft",  "upright",  "downleft", "downright"};
    return names[static_cast<size_t>(M)];
  }
  // A command URL of Camera; Query without the credentials.
  std::string URL(const kz::TKzCamera& Camera, const std::string& Name, const std::string& Query = "") const {
    return "http://" + kz::GetHTTPHost(Camera.CameraHost(), Camera.CameraPort()) + "/cmd/" + Name + "?" +
           (Query.empty() ? "" : Query + "&") + "user=" + kz::KzEncodeURLComponent(Camera.UserName()) +
           "&pwd=" + kz::KzEncodeURLComponent(Camera.UserPassword()) + "&token=t0k3n";
  }

  kz::TKzCamMethods GetAvailableMethods(kz::TKzCamera&, kz::TKzCamPropertyGroup) const override {
    return {kz::TKzCamMethod::kzcm_Move, kz::TKzCamMethod::kzcm_VideoStream};
  }
  kz::TKzCamSetURLFunc GetSetURLFunc(kz::TKzCamera&, kz::TKzCamPropertyGroup Group) const override {
    return [this, Group](kz::TKzCamera& Camera, int32_t Index, std::string& Out) {
      Out = Index == 0 ? URL(Camera, "group" + std::to_string(static_cast<int>(Group))) : "";
    };
  }
  std::string SetPropURL(kz::TKzCamera& Camera, kz::TKzCamProperty Prop, const std::string& Value) const override {
    return URL(Camera, "set", "prop=" + std::to_string(static_cast<int>(Prop)) + "&value=" + Value);
  }
  void GetMoveURLs(kz::TKzCamera& Camera, kz::TKzCamMovementEx M, std::string& URL1,
                   std::string& URL2) const override {
    URL1 = URL(Camera, Name(M));
    URL2.clear();
  }
  std::string GetStopURL(kz::TKzCamera& Camera, kz::TKzCamMovementEx M) const override {
    return URL(Camera, std::string("stop") + Name(M));
  }
  bool NeedsMoveTimer(kz::TKzCamera&, kz::TKzCamMovementEx M) const override {
    return MoveTimer && M >= kz::TKzCamMovementEx::kzdLeft;
  }
  bool ChangeUsers(kz::TKzCamera&, kz::TKzCollectionItemOperation Op, int32_t Index) const override {
    UserChanges.emplace_back(Op, Index);
    return true;
  }
  // A camera that answers 200 may still refuse.
  bool IsReplyAccepted(const std::string&, const std::string& Body) const override {
    return Body.find("refused") == std::string::npos;
  }
  std::vector<std::string> SecretParameters() const override { return {"token"}; }
};

// Installs a vendor as the Panasonic row while alive; cameras select it with
// IPCameraTypes {kzctPanasonic}.
class TTestVendorScope {
public:
  explicit TTestVendorScope(const kz::TKzIPCameraVendor& Vendor)
      : FOld(kz::TKzIPCameraAPI::RegisterVendor(kz::TKzIPCamAPIType::kzcatPanasonic, &Vendor)) {}
  ~TTestVendorScope() { kz::TKzIPCameraAPI::RegisterVendor(kz::TKzIPCamAPIType::kzcatPanasonic, FOld); }
  TTestVendorScope(const TTestVendorScope&) = delete;
  TTestVendorScope& operator=(const TTestVendorScope&) = delete;

private:
  const kz::TKzIPCameraVendor* FOld;
};

// Points Camera at Host:Port as a camera of the test vendor.
inline void UseTestVendor(kz::TKzCamera& Camera, const std::string& Host, uint16_t Port, const std::string& User,
                          const std::string& Password, kz::TKzSendMode Mode) {
  Camera.SetCameraHost(Host);
  Camera.SetCameraPort(Port);
  Camera.SetUserName(User);
  Camera.SetUserPassword(Password);
  Camera.SetIPCameraTypes(kz::TKzCameraTypes{kz::TKzCameraType::kzctPanasonic});
  Camera.SetCommandMode(Mode);
}

}  // namespace kztest
