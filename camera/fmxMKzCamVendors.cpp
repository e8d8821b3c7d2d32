// The built-in vendor rows of the vendor table.
#include "camera/fmxMKzCamVendors.h"

#include "camera/fmxMKzFoscamAPI.h"
#include "camera/fmxMKzOnvifAPI.h"

namespace kz {

std::vector<std::pair<TKzIPCamAPIType, const TKzIPCameraVendor*>> KzBuiltinVendors() {
  static const TKzFoscamAPI_Ver1 foscam;
  static const TKzFoscamAPI_Ver1_2 foscamHD;
  static const TKzPanasonicAPI panasonic;
  static const TKzDLinkAPI dlink;
  static const TKzAxisAPI axis;
  static const TKzTrendnetAPI trendnet;
  static const TKzMobotixAPI mobotix;
  static const TKzOnvifAPI onvif;
  using T = TKzIPCamAPIType;
  return {{T::kzcatFoscam_ver1, &foscam}, {T::kzcatFoscam_ver1_2, &foscamHD}, {T::kzcatPanasonic, &panasonic},
          {T::kzcatDLink, &dlink},          {T::kzcatAxis, &axis},              {T::kzcatTrendnet, &trendnet},
          {T::kzcatMobotix, &mobotix},
          {T::kzcatONVIF, &onvif}};
}

}  // namespace kz
