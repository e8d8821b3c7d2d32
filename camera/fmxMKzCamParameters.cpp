#include "camera/fmxMKzCamParameters.h"

#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzIPCameraAPI.h"

namespace kz {

// ---- TKzBaseProperty

TKzCamera* TKzBaseProperty::GetCamera() const {
  for (const TKzBaseProperty* p = this; p; p = p->FParent)
    if (p->FCamera) return p->FCamera;
  return nullptr;
}

bool TKzBaseProperty::ApplyProperties() { return DoApplyProperties(TKzCamPropertyGroup::kzcpNone); }

bool TKzBaseProperty::DoApplyProperties(TKzCamPropertyGroup Group) {
  TKzCamera* cam = GetCamera();
  if (!cam) return false;
  if (Group == TKzCamPropertyGroup::kzcpNone) Group = GetIPCamPropertyGroup();
  bool sent = false;
  if (cam->Parameters().GetDeviceType() == TKzDeviceType::kzdtIPCamera && !cam->AreCommandsLocked()) {
    for (int32_t n = 0;; ++n) {
      const std::string url = TKzIPCameraAPI::SetToCameraURL(*cam, Group, n);
      if (url.empty()) break;
      const bool ok = cam->Parameters().Update(url, Group);
      sent = sent || ok;
      if (!ok) break;
    }
  }
  if (!sent) cam->EndApplyProperties(false);
  return sent;
}

void TKzBaseProperty::EndApplyProperties(bool Ok) const {
  if (TKzCamera* cam = GetCamera()) cam->EndApplyProperties(Ok);
}

bool TKzBaseProperty::GetProperties() {
  TKzCamera* cam = GetCamera();
  return cam && cam->DeviceType() == TKzDeviceType::kzdtIPCamera &&
         TKzIPCameraAPI::GetFromCamera(*cam, GetIPCamPropertyGroup());
}

bool TKzBaseProperty::CallMethod(TKzCamMethod Method, const std::string& Param) {
  std::string result;
  return CallMethodRes(Method, Param, result);
}

bool TKzBaseProperty::CallMethodRes(TKzCamMethod Method, const std::string& Param, std::string& Result) {
  Result.clear();
  TKzCamera* cam = GetCamera();
  return cam && TKzIPCameraAPI::CallMethod(*cam, Method, Param, Result);
}

TKzCamProperties TKzBaseProperty::GetAvailableCamProperties() const {
  TKzCamera* cam = GetCamera();
  return cam ? TKzIPCameraAPI::GetAvailableProperties(*cam, GetIPCamPropertyGroup()) : TKzCamProperties{};
}

TKzCamMethods TKzBaseProperty::GetAvailableCamMethods() const {
  TKzCamera* cam = GetCamera();
  return cam ? TKzIPCameraAPI::GetAvailableMethods(*cam, GetIPCamPropertyGroup()) : TKzCamMethods{};
}

TKzCamProperties TKzBaseProperty::GetAccessibleCamProperties() const {
  TKzCamera* cam = GetCamera();
  return cam ? TKzIPCameraAPI::GetAccessibleProperties(*cam, GetIPCamPropertyGroup()) : TKzCamProperties{};
}

TKzCamMethods TKzBaseProperty::GetAccessibleCamMethods() const {
  TKzCamera* cam = GetCamera();
  return cam ? TKzIPCameraAPI::GetAccessibleMethods(*cam, GetIPCamPropertyGroup()) : TKzCamMethods{};
}

void TKzBaseItem::EndApplyProperties(bool Ok) const {
  if (TKzCamera* cam = FOwner ? FOwner->GetCamera() : nullptr) cam->EndApplyProperties(Ok);
}

// ---- Groups with more than their fields

void TKzPTZSettings::InitMovement(bool CenterOnStart, int32_t AutoPatrolInterval, TKzPatrolType AutoPatrolType,
                                  int32_t PatrolHoriz, int32_t PatrolVert, int32_t PatrolRate, int32_t PatrolUpRate,
                                  int32_t PatrolDownRate, int32_t PatrolLeftRate, int32_t PatrolRightRate) {
  InitCenterOnStart(CenterOnStart);
  InitAutoPatrolInterval(AutoPatrolInterval);
  InitAutoPatrolType(AutoPatrolType);
  InitPatrolHoriz(PatrolHoriz);
  InitPatrolVert(PatrolVert);
  InitPatrolRate(PatrolRate);
  InitPatrolUpRate(PatrolUpRate);
  InitPatrolDownRate(PatrolDownRate);
  InitPatrolLeftRate(PatrolLeftRate);
  InitPatrolRightRate(PatrolRightRate);
}

void TKzAlarmService::Assign(const TPersistent& Source) {
  TKzAlarmServiceBase::Assign(Source);
  if (const auto* s = dynamic_cast<const TKzAlarmService*>(&Source)) {
    FSchedulerData = s->FSchedulerData;
    FAreaData = s->FAreaData;
  }
}

int32_t TKzAlarmService::GetScheduler(int32_t Row, int32_t Day) const {
  if (Day < 1 || Day > 7) return 0;
  const int32_t row = ((Row % 24) + 24) % 24;
  return FSchedulerData[static_cast<size_t>(row)][static_cast<size_t>(Day - 1)];
}

void TKzAlarmService::InitScheduler(int32_t Row, int32_t Day, int32_t Value) {
  if (Day < 1 || Day > 7) return;
  const int32_t row = ((Row % 24) + 24) % 24;
  FSchedulerData[static_cast<size_t>(row)][static_cast<size_t>(Day - 1)] = Value;
}

int32_t TKzAlarmService::GetArea(int32_t X, int32_t Y) const {
  if (X < 0 || X >= 10 || Y < 0 || Y >= 10) return 0;
  return FAreaData[static_cast<size_t>(X)][static_cast<size_t>(Y)];
}

void TKzAlarmService::InitArea(int32_t X, int32_t Y, int32_t Value) {
  if (X < 0 || X >= 10 || Y < 0 || Y >= 10) return;
  FAreaData[static_cast<size_t>(X)][static_cast<size_t>(Y)] = Value;
}

bool TKzAlarmService::IsSchedulerSet() const {
  for (const auto& row : FSchedulerData)
    for (int32_t v : row)
      if (v != 0) return true;
  return false;
}

void TKzWirelessLan::Assign(const TPersistent& Source) {
  TKzWirelessLanBase::Assign(Source);
  if (const auto* s = dynamic_cast<const TKzWirelessLan*>(&Source)) {
    FNetworks = s->FNetworks;
    for (TKzWirelessNetworkItem& n : FNetworks) n.SetOwner(this);
  }
}

TKzWirelessNetworkItem& TKzWirelessLan::AddNetwork() { return FNetworks.emplace_back(this); }

void TKzMailService::Assign(const TPersistent& Source) {
  TKzMailServiceBase::Assign(Source);
  if (const auto* s = dynamic_cast<const TKzMailService*>(&Source)) {
    FReceivers = s->FReceivers;
    FAuthentication.Assign(s->FAuthentication);
  }
}

// ---- TKzCameraParameters

TKzCameraParameters::TKzCameraParameters(TKzCamera* ACamera) : TKzCameraParametersBase(nullptr, ACamera) {}

void TKzCameraParameters::Assign(const TPersistent& Source) {
  TKzCameraParametersBase::Assign(Source);
  const auto* s = dynamic_cast<const TKzCameraParameters*>(&Source);
  if (!s) return;
  FNetwork.Assign(s->FNetwork);
  FDateTimeParameter.Assign(s->FDateTimeParameter);
  FWirelessLan.Assign(s->FWirelessLan);
  FADSL.Assign(s->FADSL);
  FMailService.Assign(s->FMailService);
  FFtpService.Assign(s->FFtpService);
  FAlarmService.Assign(s->FAlarmService);
  FPTZSettings.Assign(s->FPTZSettings);
  FDecoder.Assign(s->FDecoder);
  FBitrate = s->FBitrate;
}

TKzDeviceType TKzCameraParameters::GetDeviceType() const {
  TKzCamera* cam = GetCamera();
  return cam ? cam->DeviceType() : TKzDeviceType::kzdtIPCamera;
}

TKzCameraTypes TKzCameraParameters::CameraTypes() const {
  TKzCamera* cam = GetCamera();
  return cam ? cam->IPCameraTypes() : TKzCameraTypes{};
}

TKzUserAccess TKzCameraParameters::UserAccess() const {
  TKzCamera* cam = GetCamera();
  return cam ? cam->UserAccess() : TKzUserAccess::uaNone;
}

bool TKzCameraParameters::Update(const std::string& URL, TKzCamPropertyGroup Group) {
  TKzCamera* cam = GetCamera();
  return cam && cam->SetProperty(Group, URL);
}

bool TKzCameraParameters::UpgradeDeviceFirmware(const std::string& FileName) {
  return CallMethod(TKzCamMethod::kzcm_dmUpgradeDeviceFirmware, FileName);
}
bool TKzCameraParameters::Backup(std::string& Result) {
  return CallMethodRes(TKzCamMethod::kzcm_dmBackup, "", Result);
}
bool TKzCameraParameters::Restore(const std::string& FileName) {
  return CallMethod(TKzCamMethod::kzcm_dmRestore, FileName);
}
bool TKzCameraParameters::RestoreFactorySettings() { return CallMethod(TKzCamMethod::kzcm_dmRestoreFactorySettings); }
bool TKzCameraParameters::RebootDevice() { return CallMethod(TKzCamMethod::kzcm_dmRebootDevice); }
bool TKzCameraParameters::Log(std::string& Result) { return CallMethodRes(TKzCamMethod::kzcm_dmLog, "", Result); }

}  // namespace kz
