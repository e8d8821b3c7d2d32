// Mobotix cameras.
#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendors.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
using G = TKzCamPropertyGroup;
using P = TKzCamProperty;
using M = TKzCamMethod;
using D = TKzCamMovementEx;

bool HasBrightness(const std::string& Reply) {
  int32_t v = 0;
  return KzMobotixBrightness(Reply, v);
}

TKzVendorTables MakeTables() {
  TKzVendorTables t;
  t.Dialect = {TKzReplyForm::kzrfLines, &KzVendorPathURL, &HasBrightness, &KzVendorAnyReply};
  t.Properties = {{G::kzcpImageSettings, TKzCamProperties{P::kzcp_Brightness}}};
  t.Methods = {{G::kzcpNone, TKzCamMethods{M::kzcm_Move, M::kzcm_VideoStream, M::kzcm_SnapShot}}};
  t.SingleProperties = {{P::kzcp_Brightness, "control/control", "set&section=imagecontrol&brightness="}};
  const std::string click = "control/click.cgi";
  t.Moves = {{D::kzdHome, click, "center"},
             {D::kzdHPatrol, click, "moveauto&h=10", "", "", click, "moveauto&h=0"},
             {D::kzdVPatrol, click, "moveauto&v=10", "", "", click, "moveauto&v=0"},
             {D::kzdLeft, click, "moverel&x=-20"},
             {D::kzdUp, click, "moverel&y=20"},
             {D::kzdRight, click, "moverel&x=20"},
             {D::kzdDown, click, "moverel&y=-20"},
             {D::kzdUpLeft, click, "moverel&x=-20&y=20"},
             {D::kzdUpRight, click, "moverel&x=20&y=20"},
             {D::kzdDownLeft, click, "moverel&x=-20&y=-20"},
             {D::kzdDownRight, click, "moverel&x=20&y=-20"}};
  t.Ranges = {{TKzColorControlProperty::kzccpBrightness, -10, 10, 0}};
  t.MoveTimer = true;
  return t;
}
}  // namespace

TKzMobotixAPI::TKzMobotixAPI() : TKzTableVendor(MakeTables()) {}

TKzCamGetFunc TKzMobotixAPI::GetGetFunc(TKzCamera&, TKzCamPropertyGroup Group) const {
  if (Group != G::kzcpImageSettings) return nullptr;
  return BrightnessGetter(
      [](TKzCamera& Cam) { return KzVendorPathURL(Cam, "control/control", "read&section=imagecontrol&brightness"); },
      [](const std::string& Reply, int32_t, int32_t& Value) { return KzMobotixBrightness(Reply, Value); });
}

std::string TKzMobotixAPI::GetMJpegURL(TKzCamera& Camera) const {
  return KzVendorPathURL(Camera, "cgi-bin/faststream.jpg", "fps=" + std::to_string(Camera.GetFramePerSecInt()));
}

}  // namespace kz
