#include "foundation/Fmxmkzmediatypefuncs.h"

namespace kz {

namespace {
struct TKzMediaKindRow {
  TKzMediaType MediaType;
  uint8_t Code;
  const char* Name;
};

// In priority order: the order in which sets are resolved and named.
constexpr TKzMediaKindRow kMediaKinds[] = {
    {TKzMediaType::kzmtVideo, DATA_TYPE_VIDEO, "Video"},
    {TKzMediaType::kzmtAudio, DATA_TYPE_AUDIO, "Audio"},
    {TKzMediaType::kzmtCmdData, DATA_TYPE_CMD, "CmdData"},
    {TKzMediaType::kzmtUserData, DATA_TYPE_USERDATA, "UserData"},
    {TKzMediaType::kzmtFileData, DATA_TYPE_FILE, "FileData"},
};

const TKzMediaKindRow* RowOfType(TKzMediaType MediaType) {
  for (const TKzMediaKindRow& r : kMediaKinds)
    if (r.MediaType == MediaType) return &r;
  return nullptr;
}

const TKzMediaKindRow* RowOfCode(int32_t Code) {
  const int32_t c = Code & DATA_TYPE_MASK;
  for (const TKzMediaKindRow& r : kMediaKinds)
    if (r.Code == c) return &r;
  return nullptr;
}
}  // namespace

uint8_t ConvertToDataType(TKzMediaType MediaType) {
  const TKzMediaKindRow* r = RowOfType(MediaType);
  return r ? r->Code : DATA_TYPE_VIDEO;
}

TKzMediaType ConvertToMediaType(int32_t Code) {
  const TKzMediaKindRow* r = RowOfCode(Code);
  return r ? r->MediaType : TKzMediaType::kzmtVideo;
}

TKzMediaType ConvertWordToMediaType(uint16_t DataTypeWord) {
  const TKzMediaKindRow* r = RowOfCode(DataTypeWord);
  return r ? r->MediaType : TKzMediaType::kzmtUserData;
}

TKzMediaTypes ConvertToMediaTypes(int32_t Code) {
  const TKzMediaKindRow* r = RowOfCode(Code);
  return r ? TKzMediaTypes{r->MediaType} : TKzMediaTypes{};
}

TKzMediaType ConvertSetToMediaType(TKzMediaTypes Types) {
  for (const TKzMediaKindRow& r : kMediaKinds)
    if (Types.Contains(r.MediaType)) return r.MediaType;
  return TKzMediaType::kzmtVideo;
}

std::string ConvertMediaTypeToStr(TKzMediaType MediaType) {
  const TKzMediaKindRow* r = RowOfType(MediaType);
  return r ? r->Name : "";
}

std::string ConvertMediaTypesToStr(TKzMediaTypes Types) {
  std::string s;
  for (const TKzMediaKindRow& r : kMediaKinds) {
    if (!Types.Contains(r.MediaType)) continue;
    if (!s.empty()) s += " / ";
    s += r.Name;
  }
  return s;
}

uint8_t GetGUIDs(uint16_t& DataTypeWord, bool UseGUID, const TGUID& GUIDFrom, const TGUID& VideoGUIDTo,
                 const TGUID& VideoGUIDGroup, const TGUID& UserDataGUIDTo, const TGUID& UserDataGUIDGroup,
                 const TGUID& FileGUIDTo, const TGUID& FileGUIDGroup, const TGUID& CmdGUIDTo,
                 const TGUID& CmdGUIDGroup, TGUID& GUIDTo, TGUID& GUIDGroup) {
  switch (DataTypeWord & DATA_TYPE_MASK) {
    case DATA_TYPE_USERDATA:
      GUIDTo = UserDataGUIDTo;
      GUIDGroup = UserDataGUIDGroup;
      break;
    case DATA_TYPE_CMD:
      GUIDTo = CmdGUIDTo;
      GUIDGroup = CmdGUIDGroup;
      break;
    case DATA_TYPE_FILE:
      GUIDTo = FileGUIDTo;
      GUIDGroup = FileGUIDGroup;
      break;
    default:
      GUIDTo = VideoGUIDTo;
      GUIDGroup = VideoGUIDGroup;
      break;
  }
  if (UseGUID) {
    if (!IsNull(GUIDFrom)) DataTypeWord |= DATA_FLAG_GUIDFROM;
    if (!IsNull(GUIDTo)) DataTypeWord |= DATA_FLAG_GUIDTO;
    if (!IsNull(GUIDGroup)) DataTypeWord |= DATA_FLAG_GUIDGROUP;
  }
  uint8_t bytes = 0;
  for (uint16_t flag : {DATA_FLAG_GUIDFROM, DATA_FLAG_GUIDTO, DATA_FLAG_GUIDGROUP})
    if (DataTypeWord & flag) bytes += 16;
  return bytes;
}

}  // namespace kz
