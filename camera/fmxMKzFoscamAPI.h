// Foscam cameras: the older CGI command set ("<command>.cgi?...&user=&pwd=",
// replies of "var name=value;" lines) and the newer one behind
// "cgi-bin/CGIProxy.fcgi?cmd=...&usr=&pwd=" (replies in "<CGI_Result>"
// documents whose <result> tells success).
#pragma once
#include "camera/fmxMKzCamVendorTable.h"

namespace kz {

class TKzFoscamAPI_Ver1 : public TKzTableVendor {
public:
  TKzFoscamAPI_Ver1();
  TKzCamGetFunc GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  TKzCamSetURLFunc GetSetURLFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  bool CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                  std::string& Result) const override;
  std::string GetMJpegURL(TKzCamera& Camera) const override;
  std::string GetH264URL(TKzCamera& Camera) const override;
  bool ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) const override;
  // The "set_users" URL for the camera's users (without user Skip, -1: none).
  std::string UsersURL(TKzCamera& Camera, int32_t Skip) const;
};

class TKzFoscamAPI_Ver1_2 : public TKzTableVendor {
public:
  TKzFoscamAPI_Ver1_2();
  TKzCamGetFunc GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  bool CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                  std::string& Result) const override;
  std::string SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) const override;
  // Blocks on the network (the camera is switched to the stream first).
  std::string GetMJpegURL(TKzCamera& Camera) const override;
  std::string GetH264URL(TKzCamera& Camera) const override;
  bool ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) const override;

private:
  // Writes the camera's stream parameters to the main (Main) or sub stream.
  bool WriteStreamParams(TKzCamera& Camera, bool Main) const;
  bool Run(TKzCamera& Camera, const std::string& Command, const std::string& Query, std::string* Reply = nullptr) const;
};

// The upgrade of a camera's firmware from a local file cannot be sent as a
// URL parameter: the vendors answer it as unsupported, with this debug text.
inline constexpr const char* KzFirmwareUpgradeUnsupported =
    "firmware upgrade: a camera cannot read a local file named in a URL; upload it through the camera's own page";

}  // namespace kz
