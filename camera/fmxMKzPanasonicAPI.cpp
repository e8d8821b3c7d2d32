// Panasonic cameras.
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


bool HasData(const std::string& Reply) { return PAIR_HasValue(Reply, "Data"); }

// The settings page an administrator writes ("1") or a user ("0").
std::string Kind(const TKzCamera& Camera) { return Camera.UserAccess() == TKzUserAccess::uaAdmin ? "1" : "0"; }

// Relative steps: 0 back to the middle, 1 down, 2 up.
const TKzCodes kStep = {{"5", "0"}, {"4", "1"}, {"6", "2"}};

std::string Resolution(const TKzCamera& Camera) {
  switch (Camera.VideoResolution()) {
    case TKzVideoResolution::kzDefault: return "";
    case TKzVideoResolution::kz160_120: return "192x144";
    case TKzVideoResolution::kz320_240: return "320x240";
    default: return "640x480";
  }
}
std::string Quality(const TKzCamera& Camera) {
  return Camera.Quality() == TKzQualityType::qtFavorMotion    ? "Motion"
         : Camera.Quality() == TKzQualityType::qtFavorClarity ? "Clarity"
                                                              : "Standard";
}

TKzVendorTables MakeTables() {
  TKzVendorTables t;
  t.Dialect = {TKzReplyForm::kzrfPairs, &KzVendorPathURL, &HasData, &KzVendorAnyReply};
  using R = TKzCamProperties;
  t.Properties = {{G::kzcpImageSettings, R{P::kzcp_VideoResolution, P::kzcp_Brightness, P::kzcp_FocusType,
                                           P::kzcp_FocusDist}}};
  t.Methods = {{G::kzcpNone, TKzCamMethods{M::kzcm_Move, M::kzcm_VideoStream, M::kzcm_SnapShot}},
               {G::kzcpParameters, TKzCamMethods{M::kzcm_dmRebootDevice}}};
  t.SingleProperties = {{P::kzcp_dmAlias, "nphManipulateCamera", "PAGE=NameTime&HeadingName="}};
  t.Operations = {{M::kzcm_dmRebootDevice, "nphRestart", "PAGE=Restart&Restart=OK"}};
  t.Ranges = {{TKzColorControlProperty::kzccpBrightness, -4, 4, 0}};
  t.MoveTimer = true;
  return t;
}
}  // namespace

TKzPanasonicAPI::TKzPanasonicAPI() : TKzTableVendor(MakeTables()) {}

TKzCamGetFunc TKzPanasonicAPI::GetGetFunc(TKzCamera&, TKzCamPropertyGroup Group) const {
  if (Group != G::kzcpImageSettings) return nullptr;
  return BrightnessGetter([](TKzCamera& Cam) { return KzVendorPathURL(Cam, "Get", "Func=Bright&Kind=" + Kind(Cam)); },
                          [](const std::string& Reply, int32_t Current, int32_t& Value) {
                            Value = KzPanasonicData(Reply, Current);
                            return HasData(Reply);
                          });
}

std::string TKzPanasonicAPI::SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) const {
  const std::string kind = "Kind=" + Kind(Camera);
  const std::string step = KzCodeToVendor(&kStep, Value);
  switch (Prop) {
    case P::kzcp_Brightness:
      return step == Value ? "" : KzVendorPathURL(Camera, "Set", "Func=Bright&" + kind + "&Data=" + step + "&Save=OK");
    case P::kzcp_FocusType:
      return step == Value ? "" : KzVendorPathURL(Camera, "Set", "Func=Focus&" + kind + "&FocusMode=" + step);
    case P::kzcp_FocusDist:
      return Value == "1" || Value == "2" ? KzVendorPathURL(Camera, "Set", "Func=Focus&" + kind + "&Dist=" + Value) : "";
    default: return TKzTableVendor::SetPropURL(Camera, Prop, Value);
  }
}

std::string TKzPanasonicAPI::GetMJpegURL(TKzCamera& Camera) const {
  const std::string res = Resolution(Camera);
  return KzVendorPathURL(Camera, "nphMotionJpeg", KzJoinQuery(res.empty() ? "" : "Resolution=" + res, "Quality=" + Quality(Camera)));
}

std::string TKzPanasonicAPI::GetH264URL(TKzCamera& Camera) const {
  return KzVendorRTSPURL(Camera, "/ONVIF/MediaInput");
}

void TKzPanasonicAPI::GetMoveURLs(TKzCamera& Camera, TKzCamMovementEx Direction, std::string& URL1,
                                  std::string& URL2) const {
  static const char* const names[] = {"HomePosition", "PanScan", "TiltScan", "PanLeft", "TiltUp", "PanRight",
                                      "TiltDown"};
  auto url = [&](const char* Dir) {
    const std::string res = Resolution(Camera);
    return KzVendorPathURL(Camera, "nphControlCamera",
                      std::string("Direction=") + Dir + "&Resolution=" + (res.empty() ? "320x240" : res) +
                          "&Quality=" + Quality(Camera) + "&RPeriod=0&Size=STD&PresetOperation=Move");
  };
  URL1.clear();
  URL2.clear();
  switch (Direction) {
    case D::kzdUpLeft: URL1 = url("PanLeft"), URL2 = url("TiltUp"); break;
    case D::kzdUpRight: URL1 = url("PanRight"), URL2 = url("TiltUp"); break;
    case D::kzdDownLeft: URL1 = url("PanLeft"), URL2 = url("TiltDown"); break;
    case D::kzdDownRight: URL1 = url("PanRight"), URL2 = url("TiltDown"); break;
    default: URL1 = url(names[static_cast<size_t>(Direction)]); break;
  }
}

}  // namespace kz
