// Preparation: what each vendor's camera is read for after identification,
// and the values a vendor's camera is given where it reports none.
#include <vector>

#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzCamSearch.h"
#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"
#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzIPCameraAPI.h"

namespace kz {

namespace {
using G = TKzCamPropertyGroup;
using F = TKzCamField;
using API = TKzIPCamAPIType;

struct TKzPrepareRow {
  API Vendor;
  std::vector<G> Reads;                               // in this order; stops at an abort
  std::vector<std::pair<F, const char*>> Defaults;    // then stored under the command lock
  bool ClearUsers = false;
  std::vector<G> ReadsAfter = {};                     // after the defaults
};

// Wireless off and empty, as a camera without it reports.
#define KZ_NO_WIFI                                                                                           \
  {F::kzfWifiUsed, "0"}, {F::kzfWifiSSID, ""}, {F::kzfWifiKey1, ""}, {F::kzfWifiKey2, ""}, {F::kzfWifiKey3, ""}, \
      {F::kzfWifiKey4, ""}, {F::kzfWifiPSK, ""}
#define KZ_NO_ADSL {F::kzfADSLUsed, "0"}, {F::kzfADSLUser, ""}, {F::kzfADSLPassword, ""}
// Image settings of a camera that reports only some of them (ordinals of
// quality standard, focus automatic, 50 Hz).
#define KZ_PLAIN_IMAGE                                                                                    \
  {F::kzfQuality, "0"}, {F::kzfFocusType, "0"}, {F::kzfFocusDistance, "1"}, {F::kzfVideoMode, "0"}, \
      {F::kzfFlip, "0"}

const std::vector<TKzPrepareRow>& PrepareRows() {
  static const std::vector<TKzPrepareRow> rows = {
      {API::kzcatFoscam_ver1,
       {G::kzcpImageSettings, G::kzcpParameters, G::kzcpUsers, G::kzcpNetwork, G::kzcpDateTimeParameter,
        G::kzcpWirelessLan, G::kzcpADSL, G::kzcpMailService, G::kzcpFtpService, G::kzcpAlarmService, G::kzcpDecoder,
        G::kzcpPTZSettings},
       {}},
      {API::kzcatFoscam_ver1_2,
       {G::kzcpParameters, G::kzcpDecoder, G::kzcpImageSettings, G::kzcpUsers, G::kzcpNetwork,
        G::kzcpDateTimeParameter, G::kzcpWirelessLan, G::kzcpFtpService, G::kzcpMailService, G::kzcpAlarmService,
        G::kzcpPTZSettingsLed, G::kzcpPTZSettings},
       {KZ_NO_ADSL}},
      {API::kzcatPanasonic,
       {G::kzcpImageSettings},
       {{F::kzfAlias, "Panasonic Camera"}, KZ_NO_WIFI, {F::kzfResolution, "3"}, KZ_PLAIN_IMAGE, {F::kzfContrast, "4"},
        {F::kzfSaturation, "50"}, {F::kzfSharpness, "50"}, {F::kzfHue, "50"}},
       true},
      {API::kzcatDLink,
       {G::kzcpParameters},
       {KZ_NO_WIFI, {F::kzfResolution, "3"}, KZ_PLAIN_IMAGE, {F::kzfBrightness, "8"}, {F::kzfContrast, "4"},
        {F::kzfSaturation, "50"}, {F::kzfSharpness, "50"}, {F::kzfHue, "50"}},
       true},
      {API::kzcatAxis,
       {G::kzcpParameters, G::kzcpNetwork, G::kzcpDateTimeParameter, G::kzcpMailService, G::kzcpFtpService,
        G::kzcpPTZSettingsLed},
       {KZ_NO_WIFI, KZ_NO_ADSL, KZ_PLAIN_IMAGE, {F::kzfResolution, "0"}, {F::kzfBrightness, "8"}},
       false,
       {G::kzcpUsers}},
      {API::kzcatMobotix, {G::kzcpImageSettings}, {KZ_PLAIN_IMAGE, {F::kzfResolution, "0"}}},
  };
  return rows;
}
#undef KZ_NO_WIFI
#undef KZ_NO_ADSL
#undef KZ_PLAIN_IMAGE

// Axis cameras list their parameters through "param" or, for users who may
// only view, "view/param": the one that answers is remembered.
void PickAxisParamScript(TKzCamera& Camera) {
  static const char* const kScripts[] = {"param", "view/param"};
  const TKzIPCameraVendor* vendor = TKzIPCameraAPI::GetVendor(&Camera);
  const auto* axis = dynamic_cast<const TKzTableVendor*>(vendor);
  if (!axis) return;
  for (const char* script : kScripts) {
    std::string reply;
    if (Camera.ExecuteStr(axis->CommandURL(Camera, script, "action=list"), reply) && KzAxisParamsValid(reply)) {
      Camera.DoSetAxisParamScriptName(script);
      return;
    }
  }
}

bool ReadGroups(TKzCamera& Camera, const std::vector<G>& Groups, const std::atomic<bool>& Abort) {
  bool all = true;
  for (G g : Groups) {
    if (Abort.load(std::memory_order_acquire)) return false;
    all = TKzIPCameraAPI::GetFromCamera(Camera, g) && all;
  }
  return all;
}
}  // namespace

TPrepareThread::TPrepareThread(TKzCamera* Owner, bool CreateSuspended, TKzCameraTypes IPCameraTypes,
                               TKzProtocolVersion ProtocolVersion)
    : TKzBaseCamThread(Owner, "TPrepareThread"), FIPCameraTypes(IPCameraTypes), FProtocolVersion(ProtocolVersion) {
  if (!CreateSuspended) StartThread(this);
}

void TPrepareThread::DoExecute() {
  TKzCamera& cam = *FOwner;
  if (cam.UserAccess() == TKzUserAccess::uaNone) return;
  TKzIPCamAPIType api;
  if (!TKzIPCameraAPI::GetAPIType(&cam, api)) return;
  // Requests end with an abort; a reply read for several groups is asked for once.
  TKzCamRequestScope scope(FTAbort);
  for (const TKzPrepareRow& row : PrepareRows()) {
    if (row.Vendor != api) continue;
    if (api == API::kzcatAxis) PickAxisParamScript(cam);
    bool ok = ReadGroups(cam, row.Reads, FTAbort);
    if (Aborted()) return;
    cam.LockCommands();
    for (const auto& [field, value] : row.Defaults) KzCamFieldInit(cam, field, value);
    if (row.ClearUsers) cam.Users().Clear();
    cam.UnlockCommands();
    ok = ReadGroups(cam, row.ReadsAfter, FTAbort) && ok;
    FTResult.store(ok && !Aborted(), std::memory_order_release);
    return;
  }
}

}  // namespace kz
