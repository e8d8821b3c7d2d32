// The camera's settings as named text values: every setting a vendor
// interface reads or writes is a TKzCamField, read as text from the camera
// component and stored back from text without sending anything. Vendor
// tables name fields, not code; kztool prints and takes them by name.
//
// Text forms: booleans "1"/"0", enumerations their ordinal, numbers in
// decimal. Main thread or the thread that holds the camera's command lock.
#pragma once
#include <cstdint>
#include <string>

namespace kz {

class TKzCamera;

enum class TKzCamField : uint8_t {
  kzfNone = 0,
  // device
  kzfID, kzfVersion, kzfAlias, kzfUPnP,
  // network
  kzfDynamicIP, kzfIPAddr, kzfSubnetMask, kzfGateway, kzfDNSServer, kzfHttpPort,
  // date and time (the parts are those of Sec1970, UTC)
  kzfSec1970, kzfTimeZone, kzfNTPEnabled, kzfNTPServer,
  kzfYear, kzfMonth, kzfDay, kzfHour, kzfMinute, kzfSecond, kzfDate, kzfTime,
  // wireless (the first configured network)
  kzfWifiUsed, kzfWifiSSID, kzfWifiNetType, kzfWifiEncryption, kzfWifiAuth, kzfWifiKeyFormat, kzfWifiDefKey,
  kzfWifiKey1, kzfWifiKey2, kzfWifiKey3, kzfWifiKey4,
  kzfWifiKey1Bits, kzfWifiKey2Bits, kzfWifiKey3Bits, kzfWifiKey4Bits, kzfWifiPSK,
  // ADSL
  kzfADSLUsed, kzfADSLUser, kzfADSLPassword,
  // mail
  kzfMailEnabled, kzfMailServer, kzfMailPort, kzfMailNeedAuth, kzfMailUser, kzfMailPassword, kzfMailTLS,
  kzfMailSender, kzfMailReceiver1, kzfMailReceiver2, kzfMailReceiver3, kzfMailReceiver4, kzfMailReceivers,
  kzfMailReportIP,
  // FTP (kzfFtpAddr: "ftp://server/folder")
  kzfFtpServer, kzfFtpPort, kzfFtpUser, kzfFtpPassword, kzfFtpFolder, kzfFtpMode, kzfFtpUploadEnabled,
  kzfFtpUploadInterval, kzfFtpAddr,
  // alarm (kzfAlarmArmed: motion detection or alarm input armed)
  kzfMotionEnabled, kzfMotionSensitivity, kzfAlarmInputEnabled, kzfAlarmTriggerLevel, kzfIOLinkage,
  kzfOutputLevel, kzfAlarmMail, kzfAlarmUploadEnabled, kzfAlarmUploadInterval, kzfAlarmRecord, kzfRecordSecs,
  kzfSchedulerEnabled, kzfSnapQuality, kzfSaveLocation, kzfTriggerInterval, kzfAlarmArmed,
  // decoder
  kzfBaudrate,
  // pan/tilt and LED
  kzfLedMode, kzfAutoLed, kzfCenterOnStart, kzfPatrolInterval, kzfPatrolType, kzfPatrolHoriz, kzfPatrolVert,
  kzfPatrolRate, kzfPatrolUpRate, kzfPatrolDownRate, kzfPatrolLeftRate, kzfPatrolRightRate,
  // image (kzfFlip: bit 0 vertical, bit 1 mirrored)
  kzfBrightness, kzfContrast, kzfHue, kzfSaturation, kzfSharpness, kzfVideoMode, kzfResolution, kzfFlip,
  kzfFlipVertical, kzfMirror, kzfBitrate, kzfFrameRate, kzfQuality, kzfFocusType, kzfFocusDistance,
  kzfCount
};

// "group.name" of Field ("network.ip"); "" for kzfNone.
const char* KzCamFieldName(TKzCamField Field);
// The field called Name; kzfNone when none is.
TKzCamField KzCamFieldByName(const std::string& Name);
// Whether the field holds a secret (passwords and keys).
bool KzCamFieldSecret(TKzCamField Field);
// The settings group a field belongs to (kzcpNone for none).
uint8_t KzCamFieldGroup(TKzCamField Field);

std::string KzCamFieldGet(TKzCamera& Camera, TKzCamField Field);
// Stores Value; a value that does not fit the field's type stores 0.
void KzCamFieldInit(TKzCamera& Camera, TKzCamField Field, const std::string& Value);

// Schedules and areas by index: schedule Row (0..23) of Day (1..7) and
// area cell Index (0..99, x * 10 + y).
std::string KzCamScheduleGet(TKzCamera& Camera, int Row, int Day);
void KzCamScheduleInit(TKzCamera& Camera, int Row, int Day, const std::string& Value);

}  // namespace kz
