// Vocabulary of the camera component: device kinds, stream formats, vendor
// families, settings enumerations and the camera's event types.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/fmxMKzSmallSet.h"
#include "foundation/fmxMKzSourceError.h"
#include "video/fmxMKzCamControlTypes.h"
#include "video/fmxMKzCamViewSource.h"
#include "video/fmxMKzVideoEvents.h"

namespace kz {

enum class TKzVideoFormat : uint8_t {
  kzvfMJPEG = 0,
  kzvfH264 = 1,
  kzvfAVI_H264 = 2,
  kzvfMP4_H264 = 3,
  kzvfAVI_MPEG = 4,
  kzvfMP4_MPEG = 5,
};

enum class TKzCameraType : uint8_t {
  kzctFoscam = 0,
  kzctPanasonic,
  kzctAviosys,
  kzctSmartec,
  kzctACTi,
  kzctArcVision,
  kzctAxis,
  kzctDLink,
  kzctBeward,
  kzctGenius,
  kzctPlanet,
  kzctSamsung,
  kzctTrendnet,
  kzctVivotek,
  kzctMobotix,
  kzctUnknown,  // 15
};

// The vendor families a camera belongs to (16 bits).
using TKzCameraTypes = TKzSmallSet<TKzCameraType>;

enum class TKzSendMode : uint8_t { kzsmWait = 0, kzsmNoWait = 1 };
enum class TKzUserAccess : uint8_t { uaNone = 0, uaPresent = 1, uaVisitor = 2, uaOperator = 3, uaAdmin = 4 };
enum class TKzQualityType : uint8_t { qtStandard = 0, qtFavorMotion = 1, qtFavorClarity = 2 };
enum class TKzCamFocus : uint8_t { kzcfFocusAuto = 0, kzcfFocusNear = 1, kzcfFocusFar = 2 };
enum class TKzVideoMode : uint8_t { vm50HZ = 0, vm60HZ = 1, vmOutdoor = 2 };
enum class TKzProtocolVersion : uint8_t { kzpvVer1 = 0, kzpvVer1_2 = 1 };

// ---- Events (Sender is the camera)
using TKzDeviceOperationEvent = std::function<void(TComponent* Sender, TKzDeviceOperation Operation, bool Done)>;
using TKzCamProgressEvent = std::function<void(TComponent* Sender, uint32_t BytesRead)>;
using TKzCamDownloadEvent = std::function<void(TComponent* Sender, uint32_t Size, uint32_t BytesRead)>;
using TKzDataReadDebugEvent = std::function<void(TComponent* Sender, int64_t TotalSize, const std::string& Text)>;
using TKzOnLoginEvent = std::function<void(TComponent* Sender, const std::string& ARealm, std::string& AUserName,
                                           std::string& APassword, bool& Proceed)>;
using TKzOnLoginFailedEvent = std::function<void(TComponent* Sender, const std::string& AURL)>;
using TKzGetMediaStreamIndexEvent = std::function<void(TComponent* Sender, int32_t StreamCount, int32_t& StreamIndex)>;
// The camera lost its source and tries again: Attempt counts from 1 for
// each outage, Reason says why the last try failed.
using TKzCamReconnectEvent =
    std::function<void(TComponent* Sender, uint32_t Attempt, const TKzSourceError& Reason)>;
using TKzMGStreamerLogEvent = std::function<void(TComponent* Sender, const std::string& strLog)>;

// Frames supplied by the application (device kzdtUserData). The handler
// fills Buffer with the next frame (its size and pixels) and returns the
// number of frames it supplied: 0 when it has none this time (nothing is
// drawn), 1 for a frame, or KzUserDataEnd when the stream is over.
constexpr uint32_t KzUserDataEnd = 0xFFFFFFFFu;
using TKzGNeedData = std::function<uint32_t(TComponent* Sender, TKzMBitmap* Buffer)>;

}  // namespace kz
