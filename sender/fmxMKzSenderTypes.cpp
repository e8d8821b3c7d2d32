#include "sender/fmxMKzSenderTypes.h"

namespace kz {

void TKzSendOptions::Assign(const TPersistent& Source) {
  if (auto* s = dynamic_cast<const TKzSendOptions*>(&Source)) {
    Video = s->Video, Audio = s->Audio, UserData = s->UserData, Cmd = s->Cmd, FileData = s->FileData;
    return;
  }
  TPersistent::Assign(Source);
}

TKzMSendType TKzSendOptions::ForDataType(uint16_t DataType) const {
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: return Video;
    case DATA_TYPE_AUDIO: return Audio;
    case DATA_TYPE_USERDATA: return UserData;
    case DATA_TYPE_CMD: return Cmd;
    case DATA_TYPE_FILE: return FileData;
    default: return TKzMSendType::kzmvstStream;
  }
}

const std::array<TKzSpeedRow, 5> KzSpeedDownTable = {{
    {DATA_TYPE_VIDEO, 100, 16384},
    {DATA_TYPE_AUDIO, 200, 8192},
    {DATA_TYPE_USERDATA, 1000, 8192},
    {DATA_TYPE_CMD, 500, 8192},
    {DATA_TYPE_FILE, 1000, 8192},
}};

const TKzSpeedRow* KzSpeedDownRow(uint16_t DataType) {
  for (const TKzSpeedRow& r : KzSpeedDownTable)
    if (r.DataType == (DataType & DATA_TYPE_MASK)) return &r;
  return nullptr;
}

int KzDataTypeSlot(uint16_t DataType) {
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: return 0;
    case DATA_TYPE_AUDIO: return 1;
    case DATA_TYPE_USERDATA: return 2;
    case DATA_TYPE_CMD: return 3;
    case DATA_TYPE_FILE: return 4;
    default: return -1;
  }
}

TKzMediaType KzMediaTypeOfCode(uint16_t DataType) {
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_AUDIO: return TKzMediaType::kzmtAudio;
    case DATA_TYPE_USERDATA: return TKzMediaType::kzmtUserData;
    case DATA_TYPE_CMD: return TKzMediaType::kzmtCmdData;
    case DATA_TYPE_FILE: return TKzMediaType::kzmtFileData;
    default: return TKzMediaType::kzmtVideo;
  }
}

bool KzIsSystemCmd(const std::string& Name) {
  return Name.rfind("Kz_", 0) == 0 || Name.rfind("KzS_", 0) == 0 || Name.rfind("KzSU_", 0) == 0;
}

void KzSenderFrameSize(int32_t Width, int32_t Height, TKzVideoResolution Resolution, int32_t& NewWidth,
                       int32_t& NewHeight) {
  NewWidth = Width, NewHeight = Height;
  if (Resolution == TKzVideoResolution::kzDefault || Width <= 0 || Height <= 0) return;
  if (GetOptimalVideoResolution(static_cast<float>(Width), static_cast<float>(Height)) < Resolution) return;
  int32_t tw = 0, th = 0;
  GetSizeFromResolution(Resolution, tw, th);
  // height / TH < width / TW, compared without division.
  if (static_cast<int64_t>(Height) * tw < static_cast<int64_t>(Width) * th) {
    NewWidth = tw;
    NewHeight = static_cast<int32_t>(static_cast<int64_t>(Height) * tw / Width);
  } else {
    NewWidth = static_cast<int32_t>(static_cast<int64_t>(Width) * th / Height);
    NewHeight = th;
  }
  NewWidth = std::max(NewWidth, 1), NewHeight = std::max(NewHeight, 1);
}

}  // namespace kz
