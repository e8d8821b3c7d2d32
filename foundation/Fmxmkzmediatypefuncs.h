// Conversions between media kinds, their sets, the data type codes that
// travel in packet headers and the kinds' names; and the choice of the
// identifiers that accompany a packet header. All pure: any thread, never block.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/fmxMKzType.h"

namespace kz {

// Header flag bits of the data-type word: the header carries that identifier.
constexpr uint16_t DATA_FLAG_GUIDFROM = 0x0100;
constexpr uint16_t DATA_FLAG_GUIDTO = 0x0200;
constexpr uint16_t DATA_FLAG_GUIDGROUP = 0x0400;

// The data type code of a kind (video 1, audio 2, user data 4, command 8, file 16).
uint8_t ConvertToDataType(TKzMediaType MediaType);
// The kind of an exact code (after masking with 31); any other value gives kzmtVideo.
TKzMediaType ConvertToMediaType(int32_t Code);
// The kind named by a header's data-type word: 1 video, 2 audio, 8 command,
// 16 file, anything else user data.
TKzMediaType ConvertWordToMediaType(uint16_t DataTypeWord);
// A one-element set for an exact code (after masking with 31), else the empty set.
TKzMediaTypes ConvertToMediaTypes(int32_t Code);
// The first member in the order video, audio, command, user data, file; the
// empty set gives kzmtVideo.
TKzMediaType ConvertSetToMediaType(TKzMediaTypes Types);
std::string ConvertMediaTypeToStr(TKzMediaType MediaType);
// Member names joined by " / " in the order video, audio, command, user data, file.
std::string ConvertMediaTypesToStr(TKzMediaTypes Types);

// Picks the destination pair by the code in DataTypeWord (user data, command
// and file their own pair, everything else the video pair) into GUIDTo and
// GUIDGroup. With UseGUID it sets DATA_FLAG_GUIDFROM / _GUIDTO / _GUIDGROUP
// for each of GUIDFrom and the chosen pair that is not null. Returns 16 for
// every one of the three flags set in the word afterwards.
uint8_t GetGUIDs(uint16_t& DataTypeWord, bool UseGUID, const TGUID& GUIDFrom, const TGUID& VideoGUIDTo,
                 const TGUID& VideoGUIDGroup, const TGUID& UserDataGUIDTo, const TGUID& UserDataGUIDGroup,
                 const TGUID& FileGUIDTo, const TGUID& FileGUIDGroup, const TGUID& CmdGUIDTo,
                 const TGUID& CmdGUIDGroup, TGUID& GUIDTo, TGUID& GUIDGroup);

}  // namespace kz
