// What the multi-source pipeline needs from the component that owns it (the
// network receiver): its identity as sender of events and target of
// messages, its session key, its handlers for decoded pictures, user data
// and files, motion detection per source and its audio playback. The
// receiver implements this interface; the pipeline never owns it.
//
// Messages the pipeline posts to OwnerComponent() through the library's
// message pump (LParam points at the record, which the message keeps alive):
//   1031 command data: TKzCmdMessage (the raw chunk: a count byte and the
//        serialised commands, for the receiver to split and parse);
//   1035 user data: TKzUserDataMessage;
//   1036 file data: TKzFileMessage, WParam 0 when a file starts arriving,
//        1 when its last byte has arrived;
//   1034 debug text (KzPostMessageDebug): a kind of data it cannot decode.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzVideoEvents.h"

namespace kz {

class IKzAudioSink;

constexpr uint32_t KZ_MSG_COMMAND = 1031;
constexpr uint32_t KZ_MSG_USER_DATA = 1035;
constexpr uint32_t KZ_MSG_FILE_DATA = 1036;
constexpr uintptr_t KZ_FILE_RECEIVING = 0;
constexpr uintptr_t KZ_FILE_RECEIVED = 1;

// The picture bytes of one frame before decoding: the handler may replace
// them and change the picture kind.
using TKzDecodeVideoEvent = std::function<void(TComponent* Sender, TMemoryStream& AStream, TKzImageType& ImageType)>;
using TKzDataReadEvent =
    std::function<void(TComponent* Sender, TKzSessionKey SessionKey, TMemoryStream& AData, int32_t ASocket,
                       const TGUID& AGUIDFrom, const TGUID& AGUIDTo, const TGUID& AGUIDGroup, uint16_t AMediaIndex)>;
using TKzFileReadEvent =
    std::function<void(TComponent* Sender, TKzSessionKey SessionKey, const std::string& FileName, int64_t FileOffs,
                       int64_t TotalFileSize, TMemoryStream& AData, int32_t ASocket, const TGUID& AGUIDFrom,
                       const TGUID& AGUIDTo, const TGUID& AGUIDGroup, uint16_t AMediaIndex)>;

// Message 1031.
struct TKzCmdMessage {
  TKzSessionKey SessionKey = 0;  // the receiver's key when the chunk arrived
  int32_t ClientHandle = 0;
  TKzHeaderPack Header;
  uint16_t MediaIndex = 0;
  std::vector<uint8_t> Data;
};

// Message 1035.
struct TKzUserDataMessage {
  TKzSessionKey SessionKey = 0;
  std::vector<uint8_t> Data;
  int32_t ClientHandle = 0;
  TKzHeaderPack Header;
  uint16_t MediaIndex = 0;
};

// Message 1036.
struct TKzFileMessage {
  TKzSessionKey SessionKey = 0;
  int32_t ClientHandle = 0;
  std::string FileName;
  int64_t TotalFileSize = 0;
  TKzHeaderPack Header;
};

class IKzMultiSourceOwner {
public:
  virtual ~IKzMultiSourceOwner() = default;

  // The component: Sender of every event, target of every message. Any thread.
  virtual TComponent* OwnerComponent() = 0;
  // The receiver's current session key. Any thread, never blocks.
  virtual TKzSessionKey SessionKey() = 0;

  // Copies of the handlers (empty when unassigned); taken on the decode
  // thread and called there.
  virtual TKzDecodeVideoEvent DecodeVideoHandler() { return {}; }
  virtual TKzDataReadEvent UserDataHandler() { return {}; }
  virtual TKzFileReadEvent ReceiveFileDataHandler() { return {}; }
  // User data goes through message 1035 (true) or straight to the handler
  // on the decode thread (false). Decode thread.
  virtual bool SynchronizedUserData() { return true; }
  // Whether 1036 is wanted when a file starts and when it is complete. Decode thread.
  virtual bool HasReceivingFileHandler() { return false; }
  virtual bool HasReceivedFileHandler() { return false; }

  // Motion detection. Any thread: whether anybody wants regions. Draw
  // thread: the detector step for one frame of a source (it decides per source whether
  // to detect; null: nothing to report). Main thread: the regions found,
  // with the frame they were found in.
  virtual bool HasRegionsHandler() { return false; }
  virtual std::shared_ptr<TKzMotionDetector> MotionStep(TKzMBitmap& Frame, const TGUID& GUIDFrom,
                                                        uint16_t VideoIndex) {
    (void)Frame;
    (void)GUIDFrom;
    (void)VideoIndex;
    return nullptr;
  }
  virtual void DoGetRegions(TKzMBitmap& AImg, uint16_t AVideoIndex, const TGUID& AGUIDFrom,
                            TKzMotionDetector& ARegionObject) {
    (void)AImg;
    (void)AVideoIndex;
    (void)AGUIDFrom;
    (void)ARegionObject;
  }

  // The audio playback, or null when audio is not played. Fetch thread.
  virtual IKzAudioSink* AudioSink() { return nullptr; }
};

}  // namespace kz
