// Audio accumulator and audio block record.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/fmxMKzErrors.h"
#include "foundation/fmxMKzTrack.h"

using namespace kz;

TEST(Track, ChannelsStayAlignedThroughAddAssignAndExtract) {
  TKzMTrack track(2);
  const uint8_t left[] = {1, 2, 3, 4, 5, 6}, right[] = {11, 12, 13, 14, 15, 16};
  track.AddAllDataFromBuffers({left, right}, 4);
  TKzAudioStreamArray more;
  more[0] = std::make_unique<TMemoryStream>();
  more[0]->Write(left + 4, 2);  // position at the end: AddAllData rewinds
  more[1] = std::make_unique<TMemoryStream>();
  more[1]->Write(right + 4, 1);  // shorter than the count: padded with silence
  track.AddAllData(more, 2);
  ASSERT_EQ(track.DataSize, 6);

  TKzMTrack copy(1);
  copy.Assign(track);
  EXPECT_EQ(copy.DataSize, 6);
  EXPECT_EQ(0, memcmp(copy.Data[1]->Memory(), right, 5));
  EXPECT_EQ(copy.Data[1]->Memory()[5], 0);

  uint8_t outL[8] = {}, outR[8] = {};
  EXPECT_FALSE(track.ExtractDataToBuffers({outL, outR}, 7));
  EXPECT_TRUE(track.ExtractDataToBuffers({outL, outR}, 3));
  EXPECT_EQ(0, memcmp(outL, left, 3));
  EXPECT_EQ(0, memcmp(outR, right, 3));
  EXPECT_EQ(track.DataSize, 3);
  EXPECT_EQ(0, memcmp(track.Data[0]->Memory(), left + 3, 3));

  track.Add(copy);
  EXPECT_EQ(track.DataSize, 9);
  EXPECT_EQ(0, memcmp(track.Data[0]->Memory() + 3, left, 6));

  TKzMTrack mono(1);
  mono.AddData(*more[0], 0);
  mono.ExtractData(outL, 1, 0);
  EXPECT_EQ(outL[0], 5);
  EXPECT_THROW(mono.ExtractData(outL, 2, 0), EKzAssertionFailed);
  EXPECT_THROW(mono.AddData(*more[0], 1), EKzAssertionFailed);  // channel never created
  EXPECT_THROW(TKzMTrack(9), EKzMediaError);
}

TEST(Track, BlockAssignCopiesFromTheSourcePosition) {
  TKzTrackData a, b;
  a.AudioInfo = {48000, TKzBitsPerSample::kzbps16, 2};
  a.Data.Write("xxabcd", 6);
  a.Data.SetPosition(2);
  a.SizeData = 4;
  b.Assign(a);
  EXPECT_EQ(b.AudioInfo, a.AudioInfo);
  ASSERT_EQ(b.Data.Size(), 4);
  EXPECT_EQ(0, memcmp(b.Data.Memory(), "abcd", 4));
}
