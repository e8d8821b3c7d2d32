// Vocabulary of camera settings and commands: the settings groups, the
// properties a vendor may offer (a 100-member enumeration and its 13-byte
// set), the commands a camera sends, the vendor interface kinds and the
// enumerations of the settings groups' fields.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "video/fmxMKzCamControlTypes.h"
#include "video/fmxMKzCamViewSource.h"

namespace kz {

enum class TKzCamPropertyGroup : uint8_t {
  kzcpNone = 0,
  kzcpAll,
  kzcpDateTimeParameter,
  kzcpNetwork,
  kzcpWirelessLan,
  kzcpADSL,
  kzcpMailService,
  kzcpFtpService,
  kzcpAlarmService,
  kzcpDecoder,
  kzcpPTZSettings,
  kzcpPTZSettingsLed,
  kzcpParameters,
  kzcpImageSettings,
  kzcpUsers,
};

// What a camera command does (the end notifications tell movements from
// image settings by it).
enum class TKzCamCommand : uint8_t {
  kzcmdNone = 0,
  kzcmdMoveLeft,
  kzcmdMoveRight,
  kzcmdMoveUp,
  kzcmdMoveDown,
  kzcmdMoveLeftUp,
  kzcmdMoveLeftDown,
  kzcmdMoveRightUp,
  kzcmdMoveRightDown,
  kzcmdMoveHPatrol,
  kzcmdMoveVPatrol,
  kzcmdFlipHorizontallyFlipVertically,
  kzcmdVideoResolution,
  kzcmdVideoMode,
  kzcmdBrightness,
  kzcmdContrast,
  kzcmdHue,
  kzcmdSaturation,
  kzcmdSharpness,
  kzcmdBitrate,
  kzcmdFrameRate,
  kzcmdSubVideoFormat,
  kzcmdFocusType,
  kzcmdFocusDist,
};

// Settings a vendor may offer. Each group has a heading member followed by
// one member per setting the camera itself holds, in the group's field
// order; values the library keeps for its own use (the PC's clock, the
// choice to sync with it, scan results, the selected network, automatic
// alias updates) have none. The image settings have no heading.
enum class TKzCamProperty : uint8_t {
  kzcp_Switch = 0,
  // date and time
  kzcp_DateTimeParameter,
  kzcp_dtpSec1970,
  kzcp_dtpNowCamera,
  kzcp_dtpTimeZone,
  kzcp_dtpNTPEnabled,
  kzcp_dtpNTPServer,
  // network
  kzcp_Network,
  kzcp_netDynamicIP,
  kzcp_netIPAddr,
  kzcp_netSubnetMask,
  kzcp_netGateway,
  kzcp_netDNSServer,
  kzcp_netHttpPort,
  // wireless LAN (the network item, its WPA key, its WEP settings and keys)
  kzcp_WirelessLan,
  kzcp_wlIsUsed,
  kzcp_wlSSID,
  kzcp_wlEncryption,
  kzcp_wlNetworkType,
  kzcp_wlShareKey,
  kzcp_wlAuthentication,
  kzcp_wlKeyFormat,
  kzcp_wlDefaultTXKey,
  kzcp_wlKey,
  kzcp_wlKeyBits,
  // ADSL
  kzcp_ADSL,
  kzcp_adslIsUsed,
  kzcp_adslUser,
  kzcp_adslPassword,
  // mail
  kzcp_MailService,
  kzcp_msSender,
  kzcp_msReceiver,
  kzcp_msSMTPServer,
  kzcp_msSMTPPort,
  kzcp_msNeedAuthentication,
  kzcp_msSMTPUser,
  kzcp_msSMTPPassword,
  kzcp_TLS,
  kzcp_msReportInternetIPbyMail,
  // FTP
  kzcp_FtpService,
  kzcp_fsServer,
  kzcp_fsPort,
  kzcp_fsUser,
  kzcp_fsPassword,
  kzcp_fsUploadFolder,
  kzcp_fsMode,
  kzcp_fsUploadImageEnabled,
  kzcp_fsUploadInterval,
  // alarm
  kzcp_AlarmService,
  kzcp_asMotionDetectEnabled,
  kzcp_asMotionDetectSensitivity,
  kzcp_asAlarmInputEnabled,
  kzcp_asAlarmTriggerLevel,
  kzcp_asIOLinkage,
  kzcp_asOutputLevel,
  kzcp_asSendMail,
  kzcp_asUploadImageEnabled,
  kzcp_asUploadImageInterval,
  kzcp_asRing,
  kzcp_asAlarmRecord,
  kzcp_asRecordSecs,
  kzcp_asSchedulerEnabled,
  kzcp_asSchedulerSnapPicQuality,
  kzcp_asSchedulerSaveLocation,
  kzcp_asAlarmTriggerInterval,
  // decoder
  kzcp_Decoder,
  kzcp_dBaudrate,
  // pan/tilt settings and LED
  kzcp_PTZSettings,
  kzcp_ptzsLedMode,
  kzcp_ptzsAutoLed,
  kzcp_ptzsCenterOnStart,
  kzcp_ptzsAutoPatrolInterval,
  kzcp_ptzsAutoPatrolType,
  kzcp_ptzsPatrolHoriz,
  kzcp_ptzsPatrolVert,
  kzcp_ptzsPatrolRate,
  kzcp_ptzsPatrolUpRate,
  kzcp_ptzsPatrolDownRate,
  kzcp_ptzsPatrolLeftRate,
  kzcp_ptzsPatrolRightRate,
  // device
  kzcp_Parameters,
  kzcp_dmID,
  kzcp_dmVersion,
  kzcp_dmAlias,
  kzcp_dmUPnPtoMapPort,
  // image
  kzcp_FlipHorizontally,
  kzcp_FlipVertically,
  kzcp_VideoResolution,
  kzcp_VideoMode,
  kzcp_Brightness,
  kzcp_Contrast,
  kzcp_Hue,
  kzcp_Saturation,
  kzcp_Sharpness,
  kzcp_Bitrate,
  kzcp_FrameRate,
  kzcp_SubVideoFormat,
  kzcp_FocusType,
  kzcp_FocusDist,
  // users
  kzcp_Users,
};
inline constexpr unsigned KzCamPropertyCount = static_cast<unsigned>(TKzCamProperty::kzcp_Users) + 1;

// A set of properties: bit n % 8 of byte n / 8 stands for ordinal n (13 bytes).
class TKzCamProperties {
public:
  constexpr TKzCamProperties() = default;
  constexpr TKzCamProperties(std::initializer_list<TKzCamProperty> Items) {
    for (TKzCamProperty p : Items) Include(p);
  }
  // First .. Last, both included.
  static constexpr TKzCamProperties Range(TKzCamProperty First, TKzCamProperty Last) {
    TKzCamProperties s;
    for (unsigned i = static_cast<unsigned>(First); i <= static_cast<unsigned>(Last); ++i)
      s.Include(static_cast<TKzCamProperty>(i));
    return s;
  }
  constexpr void Include(TKzCamProperty P) { FBytes[Byte(P)] = static_cast<uint8_t>(FBytes[Byte(P)] | Bit(P)); }
  constexpr void Exclude(TKzCamProperty P) { FBytes[Byte(P)] = static_cast<uint8_t>(FBytes[Byte(P)] & ~Bit(P)); }
  constexpr bool Contains(TKzCamProperty P) const { return (FBytes[Byte(P)] & Bit(P)) != 0; }
  constexpr bool Empty() const {
    for (uint8_t b : FBytes)
      if (b) return false;
    return true;
  }
  constexpr TKzCamProperties operator+(const TKzCamProperties& O) const {
    TKzCamProperties s = *this;
    for (size_t i = 0; i < s.FBytes.size(); ++i) s.FBytes[i] = static_cast<uint8_t>(s.FBytes[i] | O.FBytes[i]);
    return s;
  }
  constexpr TKzCamProperties operator-(const TKzCamProperties& O) const {
    TKzCamProperties s = *this;
    for (size_t i = 0; i < s.FBytes.size(); ++i) s.FBytes[i] = static_cast<uint8_t>(s.FBytes[i] & ~O.FBytes[i]);
    return s;
  }
  constexpr bool operator==(const TKzCamProperties&) const = default;
  const std::array<uint8_t, 13>& Bytes() const { return FBytes; }

private:
  static constexpr size_t Byte(TKzCamProperty P) { return static_cast<size_t>(P) / 8; }
  static constexpr uint8_t Bit(TKzCamProperty P) { return static_cast<uint8_t>(1u << (static_cast<unsigned>(P) % 8)); }
  std::array<uint8_t, 13> FBytes{};
};

// The vendor interface that serves a camera.
enum class TKzIPCamAPIType : uint8_t {
  kzcatFoscam_ver1 = 0,
  kzcatFoscam_ver1_2,
  kzcatPanasonic,
  kzcatDLink,
  kzcatAxis,
  kzcatTrendnet,
  kzcatMobotix,
  kzcatONVIF,
};
inline constexpr size_t KzIPCamAPITypeCount = 8;

enum class TKzCollectionItemOperation : uint8_t { kzcioAdd = 0, kzcioDelete = 1, kzcioModify = 2 };

// ---- Enumerations of the settings groups' fields
enum class TKzEncryption : uint8_t {
  kzetNone = 0,
  kzetWEP,
  kzetWPA_Personal_TKIP,
  kzetWPA_Personal_AES,
  kzetWPA2_Personal_AES,
  kzetWPA2_Personal_TKIP,
};
enum class TKzNetworkType : uint8_t { kzntInfra = 0, kzntAdhoc = 1 };
enum class TKzWEPAuthentication : uint8_t { kzaeOpenSystem = 0, kzaeShareKey = 1 };
enum class TKzWEPKeyFormat : uint8_t { kzefHex = 0, kzefAscii = 1 };
enum class TKzWEPKeyBits : uint8_t { kzeb64bits = 0, kzeb128bits = 1 };
enum class TKzMailTLS : uint8_t { kztlsNone = 0, kztlsTLS = 1, kztlsStartTLS = 2 };
enum class TKzFtpMode : uint8_t { ftpmPORT = 0, ftpmPASV = 1 };
enum class TKzAlarmLevel : uint8_t { kzalLow = 0, kzalHigh = 1 };
enum class TKzSnapPicQuality : uint8_t { kzmpqLow = 0, kzmpqNormal = 1, kzmpqHigh = 2 };
enum class TKzSaveLocation : uint8_t { kzmslSDcard = 0, kzmslNotUse = 1, kzmslFTP = 2 };
enum class TKzLedMode : uint8_t { lmOn = 0, lmBlink = 1, lmOff = 2 };
enum class TKzPatrolType : uint8_t { ptNone = 0, ptHorizontal = 1, ptVertical = 2, ptBoth = 3 };

}  // namespace kz
