#include "camera/fmxMKzOnvifAPI.h"

#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzOnvifSoap.h"

namespace kz {

namespace {
using M = TKzCamMovementEx;

// Pan and tilt velocity (in units of the default speed) of each direction.
struct TKzOnvifVelocity {
  M Movement;
  int8_t Pan, Tilt;
};
constexpr TKzOnvifVelocity kVelocities[] = {
    {M::kzdLeft, -1, 0},     {M::kzdRight, 1, 0},    {M::kzdUp, 0, 1},        {M::kzdDown, 0, -1},
    {M::kzdUpLeft, -1, 1},   {M::kzdUpRight, 1, 1},  {M::kzdDownLeft, -1, -1}, {M::kzdDownRight, 1, -1},
    {M::kzdHPatrol, 1, 0},   {M::kzdVPatrol, 0, 1},
};

TKzOnvifAuth AuthOf(const TKzCamera& Camera) {
  return {Camera.UserName(), Camera.UserPassword(), Camera.Onvif().ClockOffset};
}

TKzCamRequest PTZRequest(const TKzCamera& Camera, TKzOnvifOp Op, TKzOnvifArgs Args) {
  const TKzCamOnvif& o = Camera.Onvif();
  if (o.PTZURL.empty() || o.ProfileToken.empty()) return {};
  Args.ProfileToken = o.ProfileToken;
  return KzOnvifRequest(o.PTZURL, Op, Args, AuthOf(Camera));
}
}  // namespace

TKzCamMethods TKzOnvifAPI::GetAvailableMethods(TKzCamera& Camera, TKzCamPropertyGroup Group) const {
  if (Group != TKzCamPropertyGroup::kzcpNone) return {};
  TKzCamMethods m{TKzCamMethod::kzcm_VideoStream};
  if (!Camera.Onvif().SnapshotURI.empty()) m.Include(TKzCamMethod::kzcm_SnapShot);
  if (!Camera.Onvif().PTZURL.empty()) m.Include(TKzCamMethod::kzcm_Move);
  return m;
}

std::string TKzOnvifAPI::GetMJpegURL(TKzCamera& Camera) const {
  const TKzCamOnvif& o = Camera.Onvif();
  return o.MJPEGStreamURI.empty() ? o.H264StreamURI : o.MJPEGStreamURI;
}

std::string TKzOnvifAPI::GetH264URL(TKzCamera& Camera) const {
  const TKzCamOnvif& o = Camera.Onvif();
  return o.H264StreamURI.empty() ? o.MJPEGStreamURI : o.H264StreamURI;
}

void TKzOnvifAPI::GetMoveRequests(TKzCamera& Camera, TKzCamMovementEx Direction, TKzCamRequest& Request1,
                                  TKzCamRequest& Request2) const {
  Request2 = {};
  if (Direction == M::kzdHome) {
    Request1 = PTZRequest(Camera, TKzOnvifOp::GotoHomePosition, {});
    return;
  }
  Request1 = {};
  for (const TKzOnvifVelocity& v : kVelocities) {
    if (v.Movement != Direction) continue;
    TKzOnvifArgs a;
    a.PanSpeed = v.Pan * DefaultSpeed;
    a.TiltSpeed = v.Tilt * DefaultSpeed;
    Request1 = PTZRequest(Camera, TKzOnvifOp::ContinuousMove, a);
  }
}

TKzCamRequest TKzOnvifAPI::GetStopRequest(TKzCamera& Camera, TKzCamMovementEx Direction) const {
  if (Direction == M::kzdHome) return {};
  return PTZRequest(Camera, TKzOnvifOp::Stop, {});
}

bool TKzOnvifAPI::NeedsMoveTimer(TKzCamera&, TKzCamMovementEx Direction) const { return Direction >= M::kzdLeft; }

bool TKzOnvifAPI::IsReplyAccepted(const std::string&, const std::string& Body) const {
  TKzOnvifFault fault;
  return !KzOnvifParseFault(Body, fault);
}

bool TKzOnvifAPI::CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string&, std::string& Result) const {
  switch (Method) {
    case TKzCamMethod::kzcm_VideoStream: Result = GetH264URL(Camera); return !Result.empty();
    case TKzCamMethod::kzcm_SnapShot: Result = Camera.Onvif().SnapshotURI; return !Result.empty();
    default: return false;
  }
}

}  // namespace kz
