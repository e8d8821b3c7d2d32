#include "camera/fmxMKzIPCameraAPI.h"

#include <array>

#include "camera/fmxMKzCamVendorTable.h"
#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzRedact.h"

namespace kz {

namespace {
std::array<const TKzIPCameraVendor*, KzIPCamAPITypeCount>& Vendors() {
  static std::array<const TKzIPCameraVendor*, KzIPCamAPITypeCount> table = [] {
    std::array<const TKzIPCameraVendor*, KzIPCamAPITypeCount> t{};
    for (const auto& [type, vendor] : KzBuiltinVendors()) {
      t[static_cast<size_t>(type)] = vendor;
      for (const std::string& name : vendor->SecretParameters()) KzAddSecretParameterName(name);
    }
    return t;
  }();
  return table;
}

const TKzIPCameraVendor kUnsupported;

// The vendor of Camera, or the base that answers "unsupported".
const TKzIPCameraVendor& VendorOf(const TKzCamera& Camera) {
  const TKzIPCameraVendor* v = TKzIPCameraAPI::GetVendor(&Camera);
  return v ? *v : kUnsupported;
}

// Which vendor families select which row, first match wins. FromParameters:
// the parameters' family set decides, else the camera's own.
struct TKzAPIChoice {
  TKzCameraType Family;
  bool FromParameters;
  TKzIPCamAPIType Type;
};
constexpr TKzAPIChoice kChoices[] = {
    {TKzCameraType::kzctPanasonic, false, TKzIPCamAPIType::kzcatPanasonic},
    {TKzCameraType::kzctDLink, false, TKzIPCamAPIType::kzcatDLink},
    {TKzCameraType::kzctAxis, true, TKzIPCamAPIType::kzcatAxis},
    {TKzCameraType::kzctTrendnet, true, TKzIPCamAPIType::kzcatTrendnet},
    {TKzCameraType::kzctMobotix, true, TKzIPCamAPIType::kzcatMobotix},
};

using P = TKzCamProperty;
// Image settings a user below the operator level may not change.
constexpr TKzCamProperties kImageRange = TKzCamProperties::Range(P::kzcp_FlipHorizontally, P::kzcp_Contrast);
}  // namespace

const TKzIPCameraVendor* TKzIPCameraAPI::RegisterVendor(TKzIPCamAPIType Type, const TKzIPCameraVendor* Vendor) {
  const TKzIPCameraVendor* old = Vendors()[static_cast<size_t>(Type)];
  Vendors()[static_cast<size_t>(Type)] = Vendor;
  if (Vendor)
    for (const std::string& name : Vendor->SecretParameters()) KzAddSecretParameterName(name);
  return old;
}

bool TKzIPCameraAPI::GetAPIType(const TKzCamera* Camera, TKzIPCamAPIType& APIType) {
  if (!Camera || Camera->DeviceType() != TKzDeviceType::kzdtIPCamera || Camera->AreCommandsLocked()) return false;
  const TKzCameraTypes own = Camera->IPCameraTypes();
  const TKzCameraTypes params = const_cast<TKzCamera*>(Camera)->Parameters().CameraTypes();
  if (params.Contains(TKzCameraType::kzctFoscam)) {
    APIType = Camera->ProtocolVersion() == TKzProtocolVersion::kzpvVer1 ? TKzIPCamAPIType::kzcatFoscam_ver1
                                                                       : TKzIPCamAPIType::kzcatFoscam_ver1_2;
    return true;
  }
  for (const TKzAPIChoice& c : kChoices) {
    if ((c.FromParameters ? params : own).Contains(c.Family)) {
      APIType = c.Type;
      return true;
    }
  }
  // ONVIF only for a camera no vendor family claims.
  if (Camera->UseONVIF() && !Camera->Onvif().DeviceURL.empty()) {
    APIType = TKzIPCamAPIType::kzcatONVIF;
    return true;
  }
  return false;
}

const TKzIPCameraVendor* TKzIPCameraAPI::GetVendor(const TKzCamera* Camera) {
  TKzIPCamAPIType type{};
  return GetAPIType(Camera, type) ? Vendors()[static_cast<size_t>(type)] : nullptr;
}

TKzCamProperties TKzIPCameraAPI::GetAvailableProperties(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  return VendorOf(Camera).GetAvailableProperties(Camera, Group);
}

TKzCamMethods TKzIPCameraAPI::GetAvailableMethods(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  return VendorOf(Camera).GetAvailableMethods(Camera, Group);
}

TKzCamMethods TKzIPCameraAPI::GetAccessibleMethods(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  const TKzCamMethods available = GetAvailableMethods(Camera, Group);
  TKzCamMethods keep;
  switch (Camera.UserAccess()) {
    case TKzUserAccess::uaOperator:
      keep.Include(TKzCamMethod::kzcm_Move);
      [[fallthrough]];
    case TKzUserAccess::uaVisitor:
      keep.Include(TKzCamMethod::kzcm_VideoStream);
      keep.Include(TKzCamMethod::kzcm_SnapShot);
      for (unsigned i = 0; i < 16; ++i)
        if (!available.Contains(static_cast<TKzCamMethod>(i))) keep.Exclude(static_cast<TKzCamMethod>(i));
      return keep;
    default:
      return available;
  }
}

TKzCamProperties TKzIPCameraAPI::GetAccessibleProperties(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  const TKzCamProperties available = GetAvailableProperties(Camera, Group);
  const TKzUserAccess access = Camera.Parameters().UserAccess();
  using G = TKzCamPropertyGroup;
  using A = TKzUserAccess;
  if (Group == G::kzcpNone || Group == G::kzcpUsers) {
    switch (access) {
      case A::uaNone: return {};
      case A::uaAdmin: return available;
      case A::uaOperator: return available - TKzCamProperties{P::kzcp_Users};
      case A::uaVisitor: return available - TKzCamProperties{P::kzcp_Users, P::kzcp_Switch};
      case A::uaPresent: return available - TKzCamProperties{P::kzcp_Users, P::kzcp_Switch} - kImageRange;
    }
    return {};
  }
  if (Group == G::kzcpParameters) {
    if (access == A::uaNone) return {};
    return access == A::uaAdmin ? available : available - TKzCamProperties{P::kzcp_dmUPnPtoMapPort};
  }
  return access == A::uaAdmin ? available : TKzCamProperties{};
}

TKzCamGetFunc TKzIPCameraAPI::GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  return VendorOf(Camera).GetGetFunc(Camera, Group);
}

TKzCamSetURLFunc TKzIPCameraAPI::GetSetURLFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  return VendorOf(Camera).GetSetURLFunc(Camera, Group);
}

bool TKzIPCameraAPI::GetFromCamera(TKzCamera& Camera, TKzCamPropertyGroup Group) {
  const TKzCamGetFunc get = GetGetFunc(Camera, Group);
  bool aborted = false;
  return get && get(Camera, aborted);
}

std::string TKzIPCameraAPI::SetToCameraURL(TKzCamera& Camera, TKzCamPropertyGroup Group, int32_t Index) {
  std::string url;
  if (const TKzCamSetURLFunc set = GetSetURLFunc(Camera, Group)) set(Camera, Index, url);
  return url;
}

bool TKzIPCameraAPI::CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                                std::string& Result) {
  Result.clear();
  return VendorOf(Camera).CallMethod(Camera, Method, Param, Result);
}

std::string TKzIPCameraAPI::SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) {
  return VendorOf(Camera).SetPropURL(Camera, Prop, Value);
}

std::string TKzIPCameraAPI::GetMJpegURL(TKzCamera& Camera) { return VendorOf(Camera).GetMJpegURL(Camera); }
std::string TKzIPCameraAPI::GetH264URL(TKzCamera& Camera) { return VendorOf(Camera).GetH264URL(Camera); }

bool TKzIPCameraAPI::GetColorControlPropertyRange(TKzCamera& Camera, TKzColorControlProperty Prop,
                                                  int32_t& MinValue, int32_t& MaxValue, int32_t& DefValue,
                                                  int32_t& Step) {
  MinValue = MaxValue = DefValue = Step = 0;
  return VendorOf(Camera).GetColorControlPropertyRange(Camera, Prop, MinValue, MaxValue, DefValue, Step);
}

void TKzIPCameraAPI::GetMoveURLs(TKzCamera& Camera, TKzCamMovementEx Direction, std::string& URL1,
                                 std::string& URL2) {
  URL1.clear();
  URL2.clear();
  VendorOf(Camera).GetMoveURLs(Camera, Direction, URL1, URL2);
}

std::string TKzIPCameraAPI::GetStopURL(TKzCamera& Camera, TKzCamMovementEx Direction) {
  return VendorOf(Camera).GetStopURL(Camera, Direction);
}

void TKzIPCameraAPI::GetMoveRequests(TKzCamera& Camera, TKzCamMovementEx Direction, TKzCamRequest& Request1,
                                     TKzCamRequest& Request2) {
  Request1 = Request2 = {};
  VendorOf(Camera).GetMoveRequests(Camera, Direction, Request1, Request2);
}

TKzCamRequest TKzIPCameraAPI::GetStopRequest(TKzCamera& Camera, TKzCamMovementEx Direction) {
  return VendorOf(Camera).GetStopRequest(Camera, Direction);
}

bool TKzIPCameraAPI::NeedsMoveTimer(TKzCamera& Camera, TKzCamMovementEx Direction) {
  return VendorOf(Camera).NeedsMoveTimer(Camera, Direction);
}

uint32_t TKzIPCameraAPI::MoveRepeatMs(TKzCamera& Camera) { return VendorOf(Camera).MoveRepeatMs(Camera); }

bool TKzIPCameraAPI::ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) {
  return VendorOf(Camera).ChangeUsers(Camera, Operation, Index);
}

}  // namespace kz
