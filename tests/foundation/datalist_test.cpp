// Data list: where chunks go, how video is trimmed, what a format change
// does, and how entries are found.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "tests/foundation/kzlisttest.h"
#include "foundation/fmxMKzDataList.h"

using namespace kz;
using kztest::Header;

namespace {
constexpr int64_t MiB = 1 << 20;

// Bytes counting up from Start, so that each byte tells where it came from.
std::vector<uint8_t> Pattern(int64_t Count, uint32_t Start) {
  std::vector<uint8_t> v(static_cast<size_t>(Count));
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>((Start + i) * 2654435761u >> 24);
  return v;
}

TKzInfo Video(TKzEncodingType E, uint16_t Index = 0) {
  TKzInfo i;
  i.MediaIndex = Index;
  i.VideoInfo.Encoding = E;
  return i;
}
}  // namespace

TEST(DataList, VideoKeepsTheNewestEightMiBOtherDataGrows) {
  struct Row {
    uint8_t Type;
    int64_t Old, Add, Expected;
  };
  const Row rows[] = {
      {DATA_TYPE_VIDEO, 6 * MiB, 3 * MiB, 8 * MiB},  // the oldest MiB goes
      {DATA_TYPE_VIDEO, 6 * MiB, 9 * MiB, 9 * MiB},  // a chunk above the limit stays whole
      {DATA_TYPE_VIDEO, 6 * MiB, 2 * MiB, 8 * MiB},  // exactly at the limit: nothing goes
      {DATA_TYPE_USERDATA, 6 * MiB, 3 * MiB, 9 * MiB},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Add + r.Type);
    TKzDataItem entry(0x100 + r.Type, Header(KzCreateGUID()));
    const auto a = Pattern(r.Old, 0), b = Pattern(r.Add, static_cast<uint32_t>(r.Old));
    entry.AddDataBuffer(a.data(), r.Old, TKzInfo{});
    TKzBaseDataItem* item = entry.AddDataBuffer(b.data(), r.Add, TKzInfo{});
    ASSERT_EQ(item->Data.Size(), r.Expected);
    // The bytes are the tail of old + new, in order.
    std::vector<uint8_t> all(a);
    all.insert(all.end(), b.begin(), b.end());
    EXPECT_EQ(0, memcmp(item->Data.Memory(), all.data() + all.size() - r.Expected, r.Expected));
  }
}

TEST(DataList, StreamCountAndPositionRules) {
  TKzDataItem entry(DATA_TYPE_CMD, TKzHeaderPack{});
  TMemoryStream s;
  const auto bytes = Pattern(100, 7);
  s.Write(bytes.data(), 100);
  s.SetPosition(40);
  TKzBaseDataItem* item = entry.AddDataStream(s, 10, TKzInfo{});  // from the position
  EXPECT_EQ(0, memcmp(item->Data.Memory(), bytes.data() + 40, 10));
  entry.AddDataStream(s, 0, TKzInfo{});  // 0: the whole stream from its start
  EXPECT_EQ(0, memcmp(item->Data.Memory() + 10, bytes.data(), 100));
  entry.AddDataStream(s, 61, TKzInfo{});  // more than is there: nothing
  EXPECT_EQ(item->Data.Size(), 110);
  EXPECT_EQ(s.Position(), 40);  // the source is never moved
}

TEST(DataList, FormatChangeEmptiesTheItemFirst) {
  TKzDataItem audio(DATA_TYPE_AUDIO, TKzHeaderPack{});
  TKzInfo info;
  info.AudioInfo = {8000, TKzBitsPerSample::kzbps16, 1};
  const auto a = Pattern(500, 0), b = Pattern(300, 1000);
  audio.AddDataBuffer(a.data(), 500, info);
  audio.AddDataBuffer(a.data(), 500, info);
  info.AudioInfo.SamplesPerSec = 16000;
  auto* item = static_cast<TKzAudioDataItem*>(audio.AddDataBuffer(b.data(), 300, info));
  EXPECT_EQ(item->Data.Size(), 300);
  EXPECT_EQ(0, memcmp(item->Data.Memory(), b.data(), 300));
  EXPECT_EQ(item->AudioInfo, info.AudioInfo);

  TKzDataItem video(DATA_TYPE_VIDEO, TKzHeaderPack{});
  auto* v = static_cast<TKzVideoDataItem*>(video.AddDataBuffer(a.data(), 500, Video(TKzEncodingType::kzetJPEG)));
  v->GetLastImg().SetSize(4, 4);
  v->IsFirstChangedImg = true;
  v->NumFrame = 3;
  video.AddDataBuffer(b.data(), 300, Video(TKzEncodingType::kzetJPEGChange));
  EXPECT_EQ(v->Data.Size(), 300);
  EXPECT_EQ(v->LastImg, nullptr);
  EXPECT_EQ(v->NumFrame, 0);
  EXPECT_TRUE(v->IsFirstChangedImg);
  // Media indexes are separate streams; other data types always use index 0.
  video.AddDataBuffer(b.data(), 300, Video(TKzEncodingType::kzetJPEGChange, 2));
  EXPECT_EQ(video.List.size(), 2u);
  TKzDataItem user(DATA_TYPE_USERDATA, TKzHeaderPack{});
  TKzInfo indexed;
  indexed.MediaIndex = 5;
  EXPECT_EQ(user.AddDataBuffer(a.data(), 10, indexed)->MediaIndex, 0);
  // An unknown data type creates no media item.
  TKzDataItem odd(3, TKzHeaderPack{});
  EXPECT_EQ(odd.AddDataBuffer(a.data(), 10, TKzInfo{}), nullptr);
}

TEST(DataList, EntriesAreFoundBySourceAndKeyAndForwardedWhole) {
  TKzDataList list;
  const TGUID g1 = KzCreateGUID(), g2 = KzCreateGUID();
  const auto bytes = Pattern(64, 0);
  const int32_t video1 = 0x100 + DATA_TYPE_VIDEO, user1 = 0x100 + DATA_TYPE_USERDATA;
  list.AddBufGUID(Header(g1), bytes.data(), video1, 10, Video(TKzEncodingType::kzetPNG, 1));
  list.AddBufGUID(Header(g1), bytes.data(), user1, 20, TKzInfo{});
  list.AddBufGUID(Header(g2), bytes.data(), video1, 30, Video(TKzEncodingType::kzetPNG));
  list.AddBufGUID(Header(g1), bytes.data(), video1, 5, Video(TKzEncodingType::kzetPNG, 1));
  EXPECT_EQ(list.AddBufGUID(Header(g1), nullptr, video1, 5, TKzInfo{}), nullptr);
  EXPECT_EQ(list.AddBufGUID(Header(g1), bytes.data(), video1, 0, TKzInfo{}), nullptr);
  TMemoryStream empty;
  EXPECT_EQ(list.AddDataGUID(Header(g2), empty, user1, 0, TKzInfo{}), nullptr);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.GetGUID(Header(g1), video1)->List[0]->Data.Size(), 15);
  EXPECT_EQ(list.GetGUID(Header(g1), 0), list.List[0].get());  // key 0: any key of the source
  EXPECT_EQ(list.GetGUID(Header(g2), user1), nullptr);
  // AddGUID never searches.
  list.AddGUID2(Header(g1), bytes.data(), video1, 1, TKzInfo{});
  EXPECT_EQ(list.Count(), 4);

  // Forwarding keeps bytes, media index and description.
  TKzDataList out;
  const TKzBaseDataItem& src = *list.GetGUID(Header(g1), video1)->List[0];
  auto* fwd = static_cast<TKzVideoDataItem*>(out.AddDataGUIDByItem(Header(g2), video1, src));
  EXPECT_EQ(fwd->MediaIndex, 1);
  EXPECT_EQ(fwd->VideoInfo.Encoding, TKzEncodingType::kzetPNG);
  EXPECT_EQ(fwd->Data.Size(), 15);

  list.ClearData(Header(g1), video1);
  EXPECT_TRUE(list.List[0]->List.empty());
  list.DeleteKey(user1);
  list.DeleteGUID(Header(g2), 0);
  list.ClearKey(0);
  ASSERT_EQ(list.Count(), 2);  // the emptied first entry and the AddGUID2 one
  EXPECT_EQ(list.List[1]->List[0]->Data.Size(), 1);
}
