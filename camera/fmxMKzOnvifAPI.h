// The ONVIF row of the vendor table: stream URLs from the profiles the
// camera's ONVIF identification found, pan/tilt through PTZ
// ContinuousMove (with a 1 s timeout, renewed every 500 ms while held),
// Stop and GotoHomePosition, sent as SOAP POSTs by the command thread.
#pragma once
#include "camera/fmxMKzIPCameraAPI.h"

namespace kz {

class TKzOnvifAPI : public TKzIPCameraVendor {
public:
  static constexpr double DefaultSpeed = 0.5;
  static constexpr uint32_t RepeatMs = 500;

  TKzCamMethods GetAvailableMethods(TKzCamera& Camera, TKzCamPropertyGroup Group) const override;
  // The JPEG profile's stream URI (the H.264 one when there is none).
  std::string GetMJpegURL(TKzCamera& Camera) const override;
  // The H.264 profile's stream URI (the JPEG one when there is none).
  std::string GetH264URL(TKzCamera& Camera) const override;
  void GetMoveRequests(TKzCamera& Camera, TKzCamMovementEx Direction, TKzCamRequest& Request1,
                       TKzCamRequest& Request2) const override;
  TKzCamRequest GetStopRequest(TKzCamera& Camera, TKzCamMovementEx Direction) const override;
  bool NeedsMoveTimer(TKzCamera& Camera, TKzCamMovementEx Direction) const override;
  uint32_t MoveRepeatMs(TKzCamera&) const override { return RepeatMs; }
  // A 2xx reply that carries a SOAP Fault is a refusal.
  bool IsReplyAccepted(const std::string& URL, const std::string& Body) const override;
  // Blocks on the network.
  bool CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                  std::string& Result) const override;
};

}  // namespace kz
