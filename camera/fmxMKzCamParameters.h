// The settings of a network camera as the camera component keeps them: one
// object per settings group (network, Wi-Fi, date and time, mail, FTP,
// alarm, pan/tilt, decoder), all reachable from TKzCameraParameters, the
// camera's Parameters.
//
// A setter that changes a value applies its group: the vendor interface
// turns the group's values into command URLs and the camera sends them one
// after the other. A setter given the value already stored sends nothing
// and reports OnSetProperty with Status 1. Init... operations store values
// read from the camera without sending anything.
//
// Everything here runs on the main thread and never blocks, unless a
// comment says otherwise (the camera's command mode kzsmWait makes applying
// a group wait for its commands, running main-thread work meanwhile).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "camera/fmxMKzCamParamTypes.h"
#include "camera/fmxMKzCameraTypes.h"
#include "platform/fmxMKzPlatformComponent.h"

namespace kz {

class TKzCamera;
class TKzCameraParameters;

// Base of the settings groups. Parent is the owner: the camera, the
// parameters object or an enclosing group.
class TKzBaseProperty : public TPersistent {
public:
  explicit TKzBaseProperty(TKzBaseProperty* AParent = nullptr, TKzCamera* ACamera = nullptr)
      : FParent(AParent), FCamera(ACamera) {}
  TKzBaseProperty(const TKzBaseProperty&) = delete;
  TKzBaseProperty& operator=(const TKzBaseProperty&) = delete;

  virtual TKzCamPropertyGroup GetIPCamPropertyGroup() const = 0;
  TKzBaseProperty* Parent() const { return FParent; }
  // Walks the parents up to the camera; null for a free-standing group.
  TKzCamera* GetCamera() const;

  // Sends the group's values to the camera; false when nothing was sent
  // (OnSetProperty then reports Status 1).
  bool ApplyProperties();
  // Reads the group's values from the camera. Blocks on the network (vendor).
  bool GetProperties();
  // A device operation of the camera's vendor.
  bool CallMethod(TKzCamMethod Method, const std::string& Param = "");
  bool CallMethodRes(TKzCamMethod Method, const std::string& Param, std::string& Result);
  TKzCamProperties GetAvailableCamProperties() const;
  TKzCamMethods GetAvailableCamMethods() const;
  TKzCamProperties GetAccessibleCamProperties() const;
  TKzCamMethods GetAccessibleCamMethods() const;

protected:
  // Applies Group (the own one for kzcpNone).
  bool DoApplyProperties(TKzCamPropertyGroup Group);
  // Reports a change that sent nothing.
  void EndApplyProperties(bool Ok) const;
  // The setter rule: store and apply a new value, report an equal one.
  template <typename T>
  void SetValue(T& Field, const T& Value, TKzCamPropertyGroup Group = TKzCamPropertyGroup::kzcpNone) {
    if (Field == Value) {
      EndApplyProperties(false);
      return;
    }
    Field = Value;
    DoApplyProperties(Group);
  }

private:
  TKzBaseProperty* FParent;
  TKzCamera* FCamera;
};

// Base of the items of the groups' collections (wireless networks, WEP
// keys, mail receivers, users). Owner is the group the collection belongs to.
class TKzBaseItem {
public:
  explicit TKzBaseItem(TKzBaseProperty* AOwner = nullptr) : FOwner(AOwner) {}
  virtual ~TKzBaseItem() = default;
  TKzBaseProperty* Owner() const { return FOwner; }
  void SetOwner(TKzBaseProperty* Value) { FOwner = Value; }
  // Applies the owner's group; false when there is no owner or nothing was sent.
  bool ApplyProperties() { return FOwner && FOwner->ApplyProperties(); }
  // Reports the end of an application that sent nothing (Ok false) or succeeded.
  void EndApplyProperties(bool Ok) const;

private:
  TKzBaseProperty* FOwner;
};

// A field Name of Type with its default, its getter Name(), its setter
// SetName (the setter rule, applying Group or the own group for kzcpNone)
// and InitName (store only).
#define KZ_CAM_FIELD_DECLARE(Type, Name, Default, Group)                        \
public:                                                                         \
  const Type& Name() const { return F##Name; }                                  \
  void Set##Name(const Type& Value) { SetValue(F##Name, Value, TKzCamPropertyGroup::Group); } \
  void Init##Name(const Type& Value) { F##Name = Value; }                       \
                                                                                \
private:                                                                        \
  Type F##Name = Default;
#define KZ_CAM_FIELD_COPY(Type, Name, Default, Group) F##Name = s.F##Name;

// A settings group class with the fields of the list Fields.
#define KZ_CAM_GROUP(Class, OwnGroup, Fields)                                               \
  class Class : public TKzBaseProperty {                                                    \
  public:                                                                                   \
    using TKzBaseProperty::TKzBaseProperty;                                                 \
    TKzCamPropertyGroup GetIPCamPropertyGroup() const override { return TKzCamPropertyGroup::OwnGroup; } \
    void Assign(const TPersistent& Source) override {                                       \
      if (const auto* p = dynamic_cast<const Class*>(&Source)) {                           \
        const Class& s = *p;                                                                \
        Fields(KZ_CAM_FIELD_COPY)                                                           \
      }                                                                                     \
    }                                                                                       \
    Fields(KZ_CAM_FIELD_DECLARE)                                                            \
  };

#define KZ_NETWORK_FIELDS(X)                  \
  X(bool, DynamicIP, false, kzcpNone)         \
  X(std::string, IPAddr, "", kzcpNone)        \
  X(std::string, SubnetMask, "", kzcpNone)    \
  X(std::string, Gateway, "", kzcpNone)       \
  X(std::string, DNSServer, "", kzcpNone)     \
  X(std::string, HttpPort, "", kzcpNone)
KZ_CAM_GROUP(TKzCamNetworkProperties, kzcpNetwork, KZ_NETWORK_FIELDS)

// FNowCamera and FNowCurr are date-times (days since 1899-12-30 with the
// time as the fraction).
#define KZ_DATETIME_FIELDS(X)                 \
  X(uint32_t, Sec1970, 0, kzcpNone)           \
  X(bool, SyncWithPC, false, kzcpNone)        \
  X(double, NowCamera, 0.0, kzcpNone)         \
  X(double, NowCurr, 0.0, kzcpNone)           \
  X(int32_t, TimeZone, 0, kzcpNone)           \
  X(bool, NTPEnabled, false, kzcpNone)        \
  X(std::string, NTPServer, "", kzcpNone)
KZ_CAM_GROUP(TKzDateTimeParameter, kzcpDateTimeParameter, KZ_DATETIME_FIELDS)

#define KZ_ADSL_FIELDS(X)                     \
  X(bool, IsUsed, false, kzcpNone)            \
  X(std::string, User, "", kzcpNone)          \
  X(std::string, Password, "", kzcpNone)
KZ_CAM_GROUP(TKzADSL, kzcpADSL, KZ_ADSL_FIELDS)

#define KZ_MAILAUTH_FIELDS(X)                                   \
  X(bool, NeedAuthentication, false, kzcpNone)                  \
  X(std::string, SMTPUser, "", kzcpNone)                        \
  X(std::string, SMTPPassword, "", kzcpNone)                    \
  X(TKzMailTLS, SMTPTLS, TKzMailTLS::kztlsNone, kzcpNone)
KZ_CAM_GROUP(TKzMailAuthentication, kzcpMailService, KZ_MAILAUTH_FIELDS)

#define KZ_FTP_FIELDS(X)                                        \
  X(std::string, Server, "", kzcpNone)                          \
  X(std::string, Port, "", kzcpNone)                            \
  X(std::string, User, "", kzcpNone)                            \
  X(std::string, Password, "", kzcpNone)                        \
  X(std::string, UploadFolder, "", kzcpNone)                    \
  X(TKzFtpMode, Mode, TKzFtpMode::ftpmPORT, kzcpNone)           \
  X(bool, UploadImageEnabled, false, kzcpNone)                  \
  X(int32_t, UploadInterval, 0, kzcpNone)
KZ_CAM_GROUP(TKzFtpService, kzcpFtpService, KZ_FTP_FIELDS)

#define KZ_DECODER_FIELDS(X) X(int32_t, Bitrate, 0, kzcpNone)
KZ_CAM_GROUP(TKzDecoder, kzcpDecoder, KZ_DECODER_FIELDS)

// The LED fields apply the LED group of their own.
#define KZ_PTZ_FIELDS(X)                                               \
  X(TKzLedMode, LedMode, TKzLedMode::lmOn, kzcpPTZSettingsLed)         \
  X(bool, AutoLed, false, kzcpPTZSettingsLed)                          \
  X(bool, CenterOnStart, false, kzcpNone)                              \
  X(int32_t, AutoPatrolInterval, 0, kzcpNone)                          \
  X(TKzPatrolType, AutoPatrolType, TKzPatrolType::ptNone, kzcpNone)    \
  X(int32_t, PatrolHoriz, 0, kzcpNone)                                 \
  X(int32_t, PatrolVert, 0, kzcpNone)                                  \
  X(int32_t, PatrolRate, 0, kzcpNone)                                  \
  X(int32_t, PatrolUpRate, 0, kzcpNone)                                \
  X(int32_t, PatrolDownRate, 0, kzcpNone)                              \
  X(int32_t, PatrolLeftRate, 0, kzcpNone)                              \
  X(int32_t, PatrolRightRate, 0, kzcpNone)
KZ_CAM_GROUP(TKzPTZSettingsBase, kzcpPTZSettings, KZ_PTZ_FIELDS)

class TKzPTZSettings : public TKzPTZSettingsBase {
public:
  using TKzPTZSettingsBase::TKzPTZSettingsBase;
  // Stores the movement settings read from the camera.
  void InitMovement(bool CenterOnStart, int32_t AutoPatrolInterval, TKzPatrolType AutoPatrolType,
                    int32_t PatrolHoriz, int32_t PatrolVert, int32_t PatrolRate, int32_t PatrolUpRate,
                    int32_t PatrolDownRate, int32_t PatrolLeftRate, int32_t PatrolRightRate);
};

#define KZ_ALARM_FIELDS(X)                                                           \
  X(bool, MotionDetectEnabled, false, kzcpNone)                                      \
  X(int32_t, MotionDetectSensitivity, 0, kzcpNone)                                   \
  X(bool, AlarmInputEnabled, false, kzcpNone)                                        \
  X(TKzAlarmLevel, AlarmTriggerLevel, TKzAlarmLevel::kzalLow, kzcpNone)              \
  X(bool, IOLinkage, false, kzcpNone)                                                \
  X(TKzAlarmLevel, OutputLevel, TKzAlarmLevel::kzalLow, kzcpNone)                    \
  X(bool, SendMail, false, kzcpNone)                                                 \
  X(bool, UploadImageEnabled, false, kzcpNone)                                       \
  X(int32_t, UploadImageInterval, 0, kzcpNone)                                       \
  X(bool, Ring, false, kzcpNone)                                                     \
  X(bool, AlarmRecord, false, kzcpNone)                                              \
  X(int32_t, RecordSecs, 0, kzcpNone)                                                \
  X(bool, SchedulerEnabled, false, kzcpNone)                                         \
  X(TKzSnapPicQuality, SchedulerSnapPicQuality, TKzSnapPicQuality::kzmpqLow, kzcpNone) \
  X(TKzSaveLocation, SchedulerSaveLocation, TKzSaveLocation::kzmslSDcard, kzcpNone)  \
  X(int32_t, AlarmTriggerInterval, 0, kzcpNone)
KZ_CAM_GROUP(TKzAlarmServiceBase, kzcpAlarmService, KZ_ALARM_FIELDS)

// The alarm group with its weekly schedule (24 rows by 7 days) and its
// detection area (10 by 10).
class TKzAlarmService : public TKzAlarmServiceBase {
public:
  using TKzAlarmServiceBase::TKzAlarmServiceBase;
  void Assign(const TPersistent& Source) override;
  // Row is taken modulo 24; days 1..7 (others read 0).
  int32_t GetScheduler(int32_t Row, int32_t Day) const;
  void InitScheduler(int32_t Row, int32_t Day, int32_t Value);
  // 0 <= X, Y < 10, else 0.
  int32_t GetArea(int32_t X, int32_t Y) const;
  void InitArea(int32_t X, int32_t Y, int32_t Value);
  // Some schedule entry is not 0.
  bool IsSchedulerSet() const;

private:
  std::array<std::array<int32_t, 7>, 24> FSchedulerData{};
  std::array<std::array<int32_t, 10>, 10> FAreaData{};
};

// ---- Wi-Fi

struct TKzWEPKey {
  std::string Key;
  TKzWEPKeyBits KeyBits = TKzWEPKeyBits::kzeb64bits;
  bool operator==(const TKzWEPKey&) const = default;
};

struct TKzWEP {
  TKzWEPAuthentication Authentication = TKzWEPAuthentication::kzaeOpenSystem;
  TKzWEPKeyFormat KeyFormat = TKzWEPKeyFormat::kzefHex;
  int32_t DefaultTXKey = 0;
  std::vector<TKzWEPKey> Keys;
  bool operator==(const TKzWEP&) const = default;
};

struct TKzWPA {
  std::string ShareKey;
  bool operator==(const TKzWPA&) const = default;
};

// One wireless network (configured or found by a scan).
class TKzWirelessNetworkItem : public TKzBaseItem {
public:
  using TKzBaseItem::TKzBaseItem;
  std::string SSID;
  TKzEncryption Encryption = TKzEncryption::kzetNone;
  TKzNetworkType NetworkType = TKzNetworkType::kzntInfra;
  TKzWEP WEP;
  TKzWPA WPA;
  std::string Mac;
  int32_t Quality = 0;
};

#define KZ_WIRELESS_FIELDS(X)                      \
  X(bool, IsUsed, false, kzcpNone)                 \
  X(int32_t, CurrentConnectionIndex, -1, kzcpNone)
KZ_CAM_GROUP(TKzWirelessLanBase, kzcpWirelessLan, KZ_WIRELESS_FIELDS)

class TKzWirelessLan : public TKzWirelessLanBase {
public:
  using TKzWirelessLanBase::TKzWirelessLanBase;
  void Assign(const TPersistent& Source) override;
  std::vector<TKzWirelessNetworkItem>& Networks() { return FNetworks; }
  const std::vector<TKzWirelessNetworkItem>& Networks() const { return FNetworks; }
  // Appends a network owned by this group.
  TKzWirelessNetworkItem& AddNetwork();

private:
  std::vector<TKzWirelessNetworkItem> FNetworks;
};

// ---- Mail

#define KZ_MAIL_FIELDS(X)                            \
  X(std::string, Sender, "", kzcpNone)               \
  X(std::string, SMTPServer, "", kzcpNone)           \
  X(std::string, SMTPPort, "", kzcpNone)             \
  X(bool, ReportInternetIPbyMail, false, kzcpNone)
KZ_CAM_GROUP(TKzMailServiceBase, kzcpMailService, KZ_MAIL_FIELDS)

class TKzMailService : public TKzMailServiceBase {
public:
  explicit TKzMailService(TKzBaseProperty* AParent = nullptr) : TKzMailServiceBase(AParent), FAuthentication(this) {}
  void Assign(const TPersistent& Source) override;
  // Receivers' addresses; changing them applies nothing until ApplyProperties.
  std::vector<std::string>& Receivers() { return FReceivers; }
  const std::vector<std::string>& Receivers() const { return FReceivers; }
  TKzMailAuthentication& Authentication() { return FAuthentication; }
  const TKzMailAuthentication& Authentication() const { return FAuthentication; }

private:
  std::vector<std::string> FReceivers;
  TKzMailAuthentication FAuthentication;
};

// ---- The camera's parameters

#define KZ_PARAMETERS_FIELDS(X)                  \
  X(std::string, ID, "", kzcpNone)               \
  X(std::string, Version, "", kzcpNone)          \
  X(std::string, Alias, "", kzcpNone)            \
  X(bool, UPnPtoMapPort, false, kzcpNone)        \
  X(bool, AutoUpdateAlias, false, kzcpNone)
KZ_CAM_GROUP(TKzCameraParametersBase, kzcpParameters, KZ_PARAMETERS_FIELDS)

class TKzCameraParameters : public TKzCameraParametersBase {
public:
  explicit TKzCameraParameters(TKzCamera* ACamera);
  void Assign(const TPersistent& Source) override;

  TKzCamNetworkProperties& Network() { return FNetwork; }
  TKzDateTimeParameter& DateTimeParameter() { return FDateTimeParameter; }
  TKzWirelessLan& WirelessLan() { return FWirelessLan; }
  TKzADSL& ADSL() { return FADSL; }
  TKzMailService& MailService() { return FMailService; }
  TKzFtpService& FtpService() { return FFtpService; }
  TKzAlarmService& AlarmService() { return FAlarmService; }
  TKzPTZSettings& PTZSettings() { return FPTZSettings; }
  TKzDecoder& Decoder() { return FDecoder; }

  // The camera's device kind, vendor families and user access (the vendor
  // interface reads them here).
  TKzDeviceType GetDeviceType() const;
  TKzCameraTypes CameraTypes() const;
  TKzUserAccess UserAccess() const;
  // The video bit rate the vendor sets (image settings).
  int32_t Bitrate() const { return FBitrate; }
  void InitBitrate(int32_t Value) { FBitrate = Value; }

  // Sends URL for Group through the camera (its SetProperty).
  bool Update(const std::string& URL, TKzCamPropertyGroup Group);

  // Device operations (the vendor's methods). UpgradeDeviceFirmware takes
  // the firmware file; Backup and Log return the camera's reply in Result.
  // Block on the network.
  bool UpgradeDeviceFirmware(const std::string& FileName);
  bool Backup(std::string& Result);
  bool Restore(const std::string& FileName);
  bool RestoreFactorySettings();
  bool RebootDevice();
  bool Log(std::string& Result);

private:
  TKzCamNetworkProperties FNetwork{this};
  TKzDateTimeParameter FDateTimeParameter{this};
  TKzWirelessLan FWirelessLan{this};
  TKzADSL FADSL{this};
  TKzMailService FMailService{this};
  TKzFtpService FFtpService{this};
  TKzAlarmService FAlarmService{this};
  TKzPTZSettings FPTZSettings{this};
  TKzDecoder FDecoder{this};
  int32_t FBitrate = 0;
};

}  // namespace kz
