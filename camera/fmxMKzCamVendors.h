// The vendor interfaces of Panasonic, D-Link, Axis and Mobotix cameras,
// and the RTSP-only Trendnet row (Foscam: fmxMKzFoscamAPI.h).
#pragma once
#include "camera/fmxMKzCamVendorTable.h"

namespace kz {

// Panasonic: "http://[user@]host/<command>?..." with name=value pair replies.
class TKzPanasonicAPI : public TKzTableVendor {
public:
  TKzPanasonicAPI();
  TKzCamGetFunc GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  std::string SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) const override;
  std::string GetMJpegURL(TKzCamera& Camera) const override;
  std::string GetH264URL(TKzCamera& Camera) const override;
  void GetMoveURLs(TKzCamera& Camera, TKzCamMovementEx Direction, std::string& URL1,
                   std::string& URL2) const override;
};

// D-Link: paths by model list (DLinkModelIndex), name=value line replies.
class TKzDLinkAPI : public TKzTableVendor {
public:
  TKzDLinkAPI();
  std::string GetMJpegURL(TKzCamera& Camera) const override;
  std::string GetH264URL(TKzCamera& Camera) const override;
  // The snapshot path of a model list; "" for none.
  static std::string SnapshotPath(int32_t ModelIndex);
  static std::string StreamPath(int32_t ModelIndex);
};

// Axis: "axis-cgi" scripts, parameter lists and "pwdgrp" user groups.
class TKzAxisAPI : public TKzTableVendor {
public:
  TKzAxisAPI();
  TKzCamGetFunc GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  std::string GetMJpegURL(TKzCamera& Camera) const override;
  std::string GetH264URL(TKzCamera& Camera) const override;
  bool ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index) const override;
};

// Mobotix: "control/control" and "control/click.cgi".
class TKzMobotixAPI : public TKzTableVendor {
public:
  TKzMobotixAPI();
  TKzCamGetFunc GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  std::string GetMJpegURL(TKzCamera& Camera) const override;
};

// Trendnet: only the RTSP URL of the camera's channel.
class TKzTrendnetAPI : public TKzIPCameraVendor {
public:
  std::string GetH264URL(TKzCamera& Camera) const override;
};

}  // namespace kz
