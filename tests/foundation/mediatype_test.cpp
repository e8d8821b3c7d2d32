// Media kinds and data type codes, their names, the identifiers chosen for a
// packet header, and CRC-32.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/Fmxmkzmediatypefuncs.h"

using namespace kz;
using MT = TKzMediaType;

TEST(MediaTypes, CodesAndKindsConvertBothWaysWithFlagBitsMasked) {
  struct Row {
    int32_t Code;
    MT Exact;        // ConvertToMediaType
    MT FromWord;     // ConvertWordToMediaType
    uint8_t SetBits; // ConvertToMediaTypes
  };
  // Command data comes before file data among the codes, after it among the ordinals.
  const Row rows[] = {
      {1, MT::kzmtVideo, MT::kzmtVideo, 1 << 0},
      {2, MT::kzmtAudio, MT::kzmtAudio, 1 << 1},
      {4, MT::kzmtUserData, MT::kzmtUserData, 1 << 2},
      {8, MT::kzmtCmdData, MT::kzmtCmdData, 1 << 4},
      {16, MT::kzmtFileData, MT::kzmtFileData, 1 << 3},
      {0x108, MT::kzmtCmdData, MT::kzmtCmdData, 1 << 4},  // header flags are not part of the code
      {0x1F02, MT::kzmtAudio, MT::kzmtAudio, 1 << 1},
      {0, MT::kzmtVideo, MT::kzmtUserData, 0},
      {3, MT::kzmtVideo, MT::kzmtUserData, 0},
      {32, MT::kzmtVideo, MT::kzmtUserData, 0},  // 32 & 31 == 0
      {-1, MT::kzmtVideo, MT::kzmtUserData, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Code);
    EXPECT_EQ(ConvertToMediaType(r.Code), r.Exact);
    EXPECT_EQ(ConvertWordToMediaType(static_cast<uint16_t>(r.Code)), r.FromWord);
    EXPECT_EQ(ConvertToMediaTypes(r.Code).Bits(), r.SetBits);
    if (r.SetBits) {
      EXPECT_EQ(ConvertToDataType(r.Exact), r.Code & 31);  // and back
    }
  }
}

TEST(MediaTypes, SetsResolveAndPrintInPriorityOrder) {
  EXPECT_EQ(ConvertMediaTypesToStr({MT::kzmtVideo, MT::kzmtFileData, MT::kzmtCmdData}), "Video / CmdData / FileData");
  EXPECT_EQ(ConvertMediaTypesToStr({MT::kzmtFileData, MT::kzmtUserData, MT::kzmtCmdData, MT::kzmtAudio}),
            "Audio / CmdData / UserData / FileData");
  EXPECT_EQ(ConvertMediaTypesToStr({}), "");
  EXPECT_EQ(ConvertMediaTypeToStr(MT::kzmtUserData), "UserData");
  EXPECT_EQ(ConvertSetToMediaType({}), MT::kzmtVideo);
  EXPECT_EQ(ConvertSetToMediaType({MT::kzmtFileData, MT::kzmtUserData}), MT::kzmtUserData);
  EXPECT_EQ(ConvertSetToMediaType({MT::kzmtFileData, MT::kzmtUserData, MT::kzmtCmdData}), MT::kzmtCmdData);
  EXPECT_EQ(ConvertSetToMediaType({MT::kzmtFileData}), MT::kzmtFileData);
}

TEST(MediaTypes, GetGUIDsPicksThePairOfTheDataTypeAndFlagsWhatIsSet) {
  const TGUID from = KzCreateGUID(), vTo = KzCreateGUID(), uGroup = KzCreateGUID(), fTo = KzCreateGUID(),
              cTo = KzCreateGUID(), cGroup = KzCreateGUID();
  const TGUID null{};
  struct Row {
    uint16_t Word;
    bool Use;
    uint16_t WordAfter;
    uint8_t Bytes;
    TGUID To, Group;
  };
  const Row rows[] = {
      {1, true, 0x301, 32, vTo, null},
      {2, true, 0x302, 32, vTo, null},
      {4, true, 0x504, 32, null, uGroup},
      {8, true, 0x708, 48, cTo, cGroup},
      {16, true, 0x310, 32, fTo, null},
      {8, false, 8, 0, cTo, cGroup},            // chosen, but not flagged
      {0x0408, false, 0x0408, 16, cTo, cGroup},  // flags already in the word count
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Word);
    uint16_t word = r.Word;
    TGUID to, group;
    EXPECT_EQ(GetGUIDs(word, r.Use, from, vTo, null, null, uGroup, fTo, null, cTo, cGroup, to, group), r.Bytes);
    EXPECT_EQ(word, r.WordAfter);
    EXPECT_EQ(to, r.To);
    EXPECT_EQ(group, r.Group);
  }
}

TEST(Crc32, MatchesTheIeeeCheckValues) {
  const std::pair<const char*, uint32_t> rows[] = {
      {"abc", 0x352441C2u}, {"123456789", 0xCBF43926u}, {"", 0u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
  for (auto [text, crc] : rows) EXPECT_EQ(Crc32(text, strlen(text)), crc) << text;
}
