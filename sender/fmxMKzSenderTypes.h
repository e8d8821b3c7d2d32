// Vocabulary of the sender component: per data type send options and speed
// modes, the speed table, the command record, the extra media sources, the
// events, the notifications the sender posts itself, and the frame-size rule
// of VideoResolution.
//
// Plain values and pure functions: any thread, never block.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzTrack.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "streaming/Fmxmkzcmd.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

class TKzAudioSource;

// Whether a channel keeps sending (stream) or sends one payload and ends.
enum class TKzMSendType : uint8_t { kzmvstOnlyCurrentData = 0, kzmvstStream = 1 };
enum class TKzModeSend : uint8_t { kzmsSpeedDown = 0, kzmsSpeedUp = 1 };

class TKzSendOptions : public TPersistent {
public:
  void Assign(const TPersistent& Source) override;
  TKzMSendType Video = TKzMSendType::kzmvstStream;
  TKzMSendType Audio = TKzMSendType::kzmvstStream;
  TKzMSendType UserData = TKzMSendType::kzmvstStream;
  TKzMSendType Cmd = TKzMSendType::kzmvstStream;
  TKzMSendType FileData = TKzMSendType::kzmvstStream;
  // The entry of a data type code (stream for another code).
  TKzMSendType ForDataType(uint16_t DataType) const;
};

// One row of the speed table: what SpeedDown sets for a data type.
struct TKzSpeedRow {
  uint8_t DataType;
  uint32_t Sleep;       // ms after every send call
  uint32_t PacketSize;  // bytes
};
extern const std::array<TKzSpeedRow, 5> KzSpeedDownTable;
// The row of a data type code, null for another code.
const TKzSpeedRow* KzSpeedDownRow(uint16_t DataType);
// Index 0..4 of a data type code (video, audio, user data, command, file); -1 for another.
int KzDataTypeSlot(uint16_t DataType);
// The media kind of a data type code.
TKzMediaType KzMediaTypeOfCode(uint16_t DataType);

// A command waiting on the command stack of its media index.
struct TKzCmdInfo {
  uint32_t Index = 0;
  TKzCmd Cmd;
  TGUID GUIDFrom, GUIDTo, GUIDGroup;
};

// Whether a command of that name travels uncompressed whatever the options
// say: the library's own ("Kz_"), relay ("KzS_") and forwarded relay ("KzSU_") commands.
bool KzIsSystemCmd(const std::string& Name);

// IsAllowedSendCmd answers.
constexpr int32_t KZ_CMD_ALLOWED = 0;
constexpr int32_t KZ_CMD_NOT_IN_MEDIA_TYPES = 3;
constexpr int32_t KZ_CMD_INACTIVE = 4;
constexpr int32_t KZ_CMD_LOCKED = 5;

// Notifications the sender's threads post to it (besides 1025..1028, 1034, 1037).
constexpr uint32_t KZ_MSG_CLEAR_BUFFER = 1038;  // data type, media index
constexpr uint32_t KZ_MSG_FILE_PROGRESS = 1039; // 0, TKzFileProgress* (OnSendFileData)
constexpr uint32_t KZ_MSG_FILE_DONE = 1040;     // data type, TKzFileProgress* (OnSentFile)
constexpr uint32_t KZ_MSG_LOST_COMMAND = 1041;  // media index, TKzCmd* (OnLostCommand)

struct TKzFileProgress {
  std::string FileName;
  TGUID FileGUID;
  int64_t FileOffs = 0;  // of the bytes sent next
  int64_t TotalFileSize = 0;
  TGUID GUIDTo, GUIDGroup;
};

// ---- Events
using TKzSocketEvent = std::function<void(TComponent* Sender, uint16_t DataType, uint64_t Socket)>;
using TKzClientEvent = std::function<void(TComponent* Sender, uint16_t DataType, uint16_t MediaIndex)>;
using TKzCmdWriteEvent = std::function<void(TComponent* Sender, const TKzCmd& Cmd, const TGUID& GUIDTo,
                                            const TGUID& GUIDGroup)>;
using TKzLostCommandEvent = std::function<void(TComponent* Sender, const TKzCmd& Cmd)>;
// The encoded frame (a framed picture) before it is queued; may be replaced.
using TKzEncodeVideoEvent = std::function<void(TComponent* Sender, TMemoryStream& Stream, uint16_t MediaIndex,
                                               TKzEncodingType Encoding)>;
using TKzFileEvent = std::function<void(TComponent* Sender, const std::string& FileName, const TGUID& GUIDTo)>;
using TKzSendDataEvent = std::function<void(TComponent* Sender, const TKzFileProgress& Progress)>;

// ---- Extra media sources
struct TKzMediaSourceItem {
  std::string Name;  // "MediaSource" + number by default
  TKzVideoSource* VideoSource = nullptr;
  TKzAudioSource* AudioSource = nullptr;
  std::string SourceGUID;
  uint16_t SourceVideoIndex = 0;
  uint16_t SourceAudioIndex = 0;
};
using TKzMediaSourceCollection = std::vector<TKzMediaSourceItem>;

// ---- Frame size. The size a Width x Height frame is sent at when the
// wanted class is Resolution: unchanged for kzDefault or a frame of a
// smaller class; otherwise fitted into the class's size with the aspect kept
// (integer division), which may enlarge a frame of exactly that class.
void KzSenderFrameSize(int32_t Width, int32_t Height, TKzVideoResolution Resolution, int32_t& NewWidth,
                       int32_t& NewHeight);

}  // namespace kz
