// The changed-area container as bytes, its difference pictures, and the
// rebuilding rules a receiver applies to untrusted streams.
#include <gtest/gtest.h>

#include <random>

#include "video/fmxMKzChangeDecode.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;

namespace {

TKzMBitmap Noise(int W, int H, uint32_t Seed) {
  TKzMBitmap b;
  b.SetSize(W, H);
  std::mt19937 r(Seed);
  for (int64_t i = 0; i < b.GetLength(); ++i) b.Data()[i] = 0xFF000000u | (r() & 0xFFFFFFu);
  return b;
}

// One record per area: PNG pictures of Source's pixels (F = 0) or of
// their difference against Base.
struct TArea {
  int X, Y, W, H;
  uint16_t F;
};
std::vector<uint8_t> Container(const TKzMBitmap& Source, const TKzMBitmap* Base, uint8_t N,
                               const std::vector<TArea>& Areas) {
  std::vector<uint8_t> out;
  KzChangeBegin(out, Source.Width(), Source.Height(), 1000, 40, N);
  for (const TArea& a : Areas) {
    TKzMBitmap pic;
    if (a.F == 0)
      KzCopyArea(Source, a.X, a.Y, a.W, a.H, pic);
    else
      KzMakeDifferencePicture(Source, *Base, a.X, a.Y, a.W, a.H, pic);
    TMemoryStream s;
    EXPECT_TRUE(KzCodecEncodePNG(pic, s));
    const size_t at = KzChangeBeginRecord(out, a.X, a.Y, a.W, a.H, TKzAreaFormat::kzafPNG, a.F);
    out.insert(out.end(), s.Memory(), s.Memory() + s.Size());
    KzChangeEndRecord(out, at);
  }
  KzChangeFinish(out);
  return out;
}

bool Same(const TKzMCustomBitmap& A, const TKzMCustomBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() && std::equal(A.Data(), A.Data() + A.GetLength(), B.Data());
}

struct TRig {
  TKzVideoDataItem Item{nullptr, 0};
  TKzChangeDecoder Decoder;
  int Shown = 0;
  int Feed(const std::vector<uint8_t>& Bytes) {
    Item.Data.Seek(0, TSeekOrigin::soEnd);
    Item.Data.Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    return Decoder.Decode(Item, [&](TKzVideoDataItem&, const TKzChangeHeader&) { ++Shown; });
  }
};

}  // namespace

// Restoring a difference gives the new pixel or one less (the halving), never more.
TEST(ChangeContainer, DifferenceRestoreLosesAtMostTheHalvedBit) {
  const TKzMBitmap frame = Noise(40, 30, 1);
  const TKzMBitmap base = Noise(40, 30, 2);
  TKzMBitmap diff, back(base);
  KzMakeDifferencePicture(frame, base, 0, 0, 40, 30, diff);
  KzAddDifferencePicture(back, 0, 0, 40, 30, diff);
  for (int64_t i = 0; i < frame.GetLength() * 4; ++i) {
    const int n = reinterpret_cast<const uint8_t*>(frame.Data())[i], r = reinterpret_cast<const uint8_t*>(back.Data())[i];
    ASSERT_TRUE(i % 4 == 3 ? r == 255 : (r == n || r == n - 1)) << i;
  }
}

TEST(ChangeContainer, ScanSkipsGarbageAndFalseStartsAndSplitFeedsMatchWholeFeeds) {
  const TKzMBitmap a = Noise(32, 24, 3), b = Noise(32, 24, 4);
  std::vector<uint8_t> stream = {'x', 'D', 'M', 'I', 'B', 'y'};
  // A false start whose length its frame cannot need, one that is too
  // short, and one without its end marker.
  std::vector<uint8_t> huge = {'D', 'M', 'I', 'B', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 32, 0, 24, 0};
  std::vector<uint8_t> tiny = {'D', 'M', 'I', 'B', 0, 0, 0, 0, 5, 0, 0, 0, 32, 0, 24, 0};
  std::vector<uint8_t> noEnd = Container(a, nullptr, 1, {{0, 0, 32, 24, 0}});
  noEnd[noEnd.size() - 1] = 'X';
  for (const auto* part : {&huge, &tiny, &noEnd}) stream.insert(stream.end(), part->begin(), part->end());
  const std::vector<uint8_t> whole = Container(a, nullptr, 1, {{0, 0, 32, 24, 0}});
  const std::vector<uint8_t> areas = Container(b, nullptr, 1, {{4, 4, 10, 8, 0}, {20, 10, 12, 14, 0}});
  stream.insert(stream.end(), whole.begin(), whole.end());
  stream.insert(stream.end(), areas.begin(), areas.end());

  TRig once;
  EXPECT_EQ(once.Feed(stream), 2);
  EXPECT_EQ(once.Shown, 2);
  EXPECT_EQ(once.Item.Data.Size(), 0);
  TKzMBitmap expect(a);
  KzPasteAreaPicture(expect, 4, 4, 10, 8, [&] { TKzMBitmap p; KzCopyArea(b, 4, 4, 10, 8, p); return p; }());
  KzPasteAreaPicture(expect, 20, 10, 12, 14, [&] { TKzMBitmap p; KzCopyArea(b, 20, 10, 12, 14, p); return p; }());
  EXPECT_TRUE(Same(*once.Item.LastImg, expect));

  for (size_t step : {1u, 7u, 333u}) {
    TRig split;
    for (size_t at = 0; at < stream.size(); at += step)
      split.Feed(std::vector<uint8_t>(stream.begin() + at, stream.begin() + std::min(stream.size(), at + step)));
    EXPECT_EQ(split.Shown, 2) << step;
    EXPECT_TRUE(Same(*split.Item.LastImg, expect)) << step;
  }
}

TEST(ChangeContainer, JoinersFrameNumbersDifferenceChainsAndBadRecords) {
  const TKzMBitmap f0 = Noise(32, 24, 5), f1 = Noise(32, 24, 6), f2 = Noise(32, 24, 7);
  const std::vector<uint8_t> whole = Container(f0, nullptr, 1, {{0, 0, 32, 24, 0}});
  const std::vector<uint8_t> d1 = Container(f1, &f0, 1, {{0, 0, 16, 12, 1}});
  TKzMBitmap base1(f0);
  {
    TKzMBitmap p;
    KzMakeDifferencePicture(f1, f0, 0, 0, 16, 12, p);
    KzAddDifferencePicture(base1, 0, 0, 16, 12, p);
  }
  const std::vector<uint8_t> d2 = Container(f2, &base1, 1, {{8, 8, 10, 10, 2}});
  const std::vector<uint8_t> jump = Container(f2, &base1, 1, {{8, 8, 10, 10, 3}});
  const std::vector<uint8_t> otherChain = Container(f2, &base1, 9, {{8, 8, 10, 10, 2}});
  const std::vector<uint8_t> areasOnly = Container(f1, nullptr, 1, {{2, 2, 8, 8, 0}});
  std::vector<uint8_t> tooWide = Container(f1, nullptr, 1, {{0, 0, 8, 8, 0}});
  tooWide[KZ_CHANGE_HEAD + 4] = 33;  // W beyond the frame
  struct TRow {
    const char* Name;
    std::vector<const std::vector<uint8_t>*> Feed;
    bool Ignore;
    int Shown;
  } rows[] = {
      {"a joiner draws nothing before a whole frame", {&areasOnly, &d1, &whole, &areasOnly}, false, 2},
      {"a difference chain in order is drawn", {&whole, &d1, &d2}, false, 3},
      {"a difference index that jumps by 2 is not drawn", {&whole, &d1, &jump, &d2}, false, 2},
      {"a difference of another whole frame's chain is not drawn", {&whole, &otherChain}, false, 1},
      {"a record wider than the frame marks it corrupted", {&whole, &tooWide}, false, 1},
      {"IgnoreCorruptedFrames shows every frame", {&areasOnly, &whole, &d1, &jump}, true, 4},
  };
  for (const TRow& row : rows) {
    TRig rig;
    rig.Decoder.IgnoreCorruptedFrames = row.Ignore;
    for (const auto* c : row.Feed) rig.Feed(*c);
    EXPECT_EQ(rig.Shown, row.Shown) << row.Name;
  }
  // The chain rebuilt in order equals the sender's own rebuild.
  TRig chain;
  for (const auto* c : {&whole, &d1}) chain.Feed(*c);
  EXPECT_TRUE(Same(*chain.Item.LastImg, base1));
}
