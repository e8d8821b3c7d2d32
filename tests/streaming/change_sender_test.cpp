// The sender's changed-area encoding: when it sends what, the frame numbers
// and difference indexes it writes, that its references follow only what
// was handed over, and that a receiver rebuilds exactly its RealSendBt -
// in process for every Change encoding, through a real receiver over TCP
// and UDP on loopback, and by the independent Python reader (refchange.py)
// from the captured stream.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "foundation/fmxMKzByteOrder.h"
#include "sender/fmxMKzCamSender.h"
#include "tests/kztestneed.h"
#include "tests/streaming/kzreceivertestutil.h"
#include "video/fmxMKzChangeDecode.h"

using namespace kz;

namespace {

// A still background with a moving disc, as a camera watching a scene.
TKzMBitmap Scene(int W, int H, int Step, int Radius = 12) {
  TKzMBitmap b;
  b.SetSize(W, H);
  const int cx = 20 + (Step * 7) % (W - 40), cy = H / 2 + static_cast<int>(std::lround((H / 4) * std::sin(Step * 0.3)));
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= Radius * Radius;
      b.ScanLine(y)[x] = disc ? 0xFFE03020u : 0xFF000000u | ((x * 255 / W) << 16) | ((y * 255 / H) << 8) | 0x60;
    }
  return b;
}

TKzMBitmap Noise(int W, int H, uint32_t Seed) {
  TKzMBitmap b;
  b.SetSize(W, H);
  for (int64_t i = 0; i < b.GetLength(); ++i) b.Data()[i] = 0xFF000000u | ((Seed + i) * 2654435761u >> 8);
  return b;
}

bool Same(const TKzMCustomBitmap& A, const TKzMCustomBitmap& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() && std::equal(A.Data(), A.Data() + A.GetLength(), B.Data());
}

// The channel and clock the encoder sees; every container handed over is
// kept and rebuilt at once as a receiver would.
struct TOut : IKzChangeOutput {
  uint64_t Now = 1000000;
  bool Take = true;
  std::vector<std::vector<uint8_t>> Sent;
  TKzVideoDataItem Shown{nullptr, 0};
  TKzChangeDecoder Decoder;
  int64_t ChangeStartTime() override { return 5; }
  int64_t ChangeDiffTime() override { return 40; }
  uint64_t ChangeNow() override { return Now; }
  bool ChangeSend(TKzImageInfo&, const std::vector<uint8_t>& C, int64_t) override {
    if (!Take) return false;
    Sent.push_back(C);
    Shown.Data.Seek(0, TSeekOrigin::soEnd);
    Shown.Data.Write(C.data(), static_cast<int64_t>(C.size()));
    Decoder.Decode(Shown, nullptr);
    return true;
  }
};

struct TEnc {
  TOut Out;
  TKzChangeEncoder Encoder{Out};
  TKzImageInfoList List;
  TKzImageInfoPtr Item = List.GetImageInfo(TGUID{}, 0);
  TKzChangeSettings S;
  // Sends one frame; what went out.
  TKzChangeSent Send(const TKzMCustomBitmap& Frame) {
    Out.Now += 40;
    EXPECT_TRUE(Encoder.SendImageEx(Frame, *Item, S));
    return Encoder.LastSent();
  }
  const std::vector<uint8_t>& Last() const { return Out.Sent.back(); }
  // Difference indexes of the last container's records.
  std::vector<uint16_t> Fs() const {
    std::vector<uint16_t> f;
    size_t at = KZ_CHANGE_HEAD;
    TKzAreaRecord r;
    while (KzNextAreaRecord(Last().data(), Last().size(), at, r)) f.push_back(r.F);
    return f;
  }
};

}  // namespace

TEST(ChangeSender, WholeFramesComeFirstWhenDueAndWhenCheaper) {
  TEnc e;
  ASSERT_EQ(e.Send(Scene(320, 240, 0)), TKzChangeSent::kzcsWhole);
  const std::vector<uint8_t>& first = e.Last();
  EXPECT_EQ(first[32], 1) << "frame number 0 + 1";
  TKzAreaRecord r;
  size_t at = KZ_CHANGE_HEAD;
  ASSERT_TRUE(KzNextAreaRecord(first.data(), first.size(), at, r));
  EXPECT_EQ(std::make_tuple(r.X, r.Y, r.W, r.H, r.F, r.Format), std::make_tuple(0, 0, 320, 240, 0, 1));
  EXPECT_FALSE(KzNextAreaRecord(first.data(), first.size(), at, r));

  EXPECT_EQ(e.Send(Scene(320, 240, 0)), TKzChangeSent::kzcsNothing) << "an identical frame sends nothing";
  EXPECT_EQ(e.Out.Sent.size(), 1u);
  ASSERT_EQ(e.Send(Scene(320, 240, 1)), TKzChangeSent::kzcsAreas);
  EXPECT_EQ(e.Last()[32], 1) << "areas carry the number of their whole frame";
  EXPECT_LT(e.Last().size(), first.size() / 3);

  struct TRow {
    const char* Name;
    std::function<void(TEnc&)> Cause;
    bool Resized = false;
  } rows[] = {
      {"a picture unlike the last costs more as areas", [](TEnc&) {}},
      {"after 5 s without frames", [](TEnc& x) { x.Out.Now += 5001; }},
      {"on SetNeedSendFullFrame", [](TEnc& x) { x.List.SetNeedSendFullFrame(); }},
      {"on SetNeedSendFullFrameByGUID", [](TEnc& x) { x.List.SetNeedSendFullFrameByGUID(TGUID{}); }},
      {"on a new frame size", [](TEnc&) {}, true},
  };
  int step = 2;
  for (const TRow& row : rows) {
    ASSERT_EQ(e.Send(Scene(320, 240, step++)), TKzChangeSent::kzcsAreas) << row.Name;
    row.Cause(e);
    const bool noise = std::string(row.Name).find("unlike") != std::string::npos;
    const TKzMBitmap next = noise ? Noise(320, 240, 9) : row.Resized ? Scene(300, 200, step) : Scene(320, 240, step);
    EXPECT_EQ(e.Send(next), TKzChangeSent::kzcsWhole) << row.Name;
    if (noise || row.Resized) e.Send(Scene(320, 240, ++step));
    ++step;
  }
  // FullFrameInterval 25: the 25th frame sent after a whole frame is whole.
  e.List.SetNeedSendFullFrame();
  ASSERT_EQ(e.Send(Scene(320, 240, 100)), TKzChangeSent::kzcsWhole);
  int sent = 1;
  while (e.Send(Scene(320, 240, 100 + sent)) == TKzChangeSent::kzcsAreas) ++sent;
  EXPECT_EQ(sent, 25);
}

TEST(ChangeSender, DifferenceIndexesCountUpToTheIntervalAndRefusedContainersChangeNothing) {
  TEnc e;
  e.S.FrameDifferenceInterval = 3;
  ASSERT_EQ(e.Send(Scene(320, 240, 0)), TKzChangeSent::kzcsWhole);
  ASSERT_EQ(e.Send(Scene(320, 240, 1)), TKzChangeSent::kzcsAreas);
  for (uint16_t f : e.Fs()) EXPECT_EQ(f, 1);
  ASSERT_EQ(e.Send(Scene(320, 240, 2)), TKzChangeSent::kzcsAreas);
  for (uint16_t f : e.Fs()) EXPECT_EQ(f, 2);
  EXPECT_EQ(e.Send(Scene(320, 240, 3)), TKzChangeSent::kzcsWhole) << "the 3rd frame after the whole one";

  // A container the channel does not take leaves every reference as it was.
  const TKzMBitmap old = e.Item->OldSendBt, real = e.Item->RealSendBt;
  e.Out.Take = false;
  EXPECT_EQ(e.Send(Scene(320, 240, 4)), TKzChangeSent::kzcsNotTaken);
  EXPECT_TRUE(Same(e.Item->OldSendBt, old));
  EXPECT_TRUE(Same(e.Item->RealSendBt, real));
  e.Out.Take = true;
  ASSERT_EQ(e.Send(Scene(320, 240, 4)), TKzChangeSent::kzcsAreas);
  for (uint16_t f : e.Fs()) EXPECT_EQ(f, 1) << "the index counts containers handed over";
  EXPECT_TRUE(Same(*e.Out.Shown.LastImg, e.Item->RealSendBt));
}

TEST(ChangeSender, ReceiversRebuildExactlyTheSendersPictureForEveryEncoding) {
  for (TKzEncodingType enc : {TKzEncodingType::kzetJPEGChange, TKzEncodingType::kzetPNGChange,
                              TKzEncodingType::kzetBMPChange, TKzEncodingType::kzetMixFormatChange,
                              TKzEncodingType::kzetHWLChange})
    for (uint16_t interval : {0, 4})
      for (bool blur : {false, true}) {
        TEnc e;
        e.S.Encoding = enc;
        e.S.FrameDifferenceInterval = interval;
        e.S.FilterBlur = blur;
        int areas = 0;
        for (int i = 0; i < 12; ++i) {
          areas += e.Send(Scene(160, 120, i)) == TKzChangeSent::kzcsAreas;
          ASSERT_TRUE(Same(*e.Out.Shown.LastImg, e.Item->RealSendBt))
              << "encoding " << int(enc) << " interval " << interval << " blur " << blur << " frame " << i;
        }
        EXPECT_GE(areas, 6) << int(enc);
      }
}

TEST(ChangeSender, DestinationsInTheSameStateShareOneEncodingAndRefusalsSplitThem) {
  // Per destination: what its receiver rebuilt; destination 2 refuses frame 5.
  struct TFan : IKzChangeOutput {
    uint64_t Now = 1000000;
    int Frame = 0;
    std::map<const TKzImageInfo*, TKzVideoDataItem> Shown;
    TKzChangeDecoder Decoder;
    int64_t ChangeStartTime() override { return 0; }
    int64_t ChangeDiffTime() override { return 40; }
    uint64_t ChangeNow() override { return Now; }
    bool ChangeSend(TKzImageInfo& I, const std::vector<uint8_t>& C, int64_t) override {
      if (I.VideoIndex == 2 && Frame == 5) return false;
      TKzVideoDataItem& item = Shown.try_emplace(&I, nullptr, 0).first->second;
      item.Data.Seek(0, TSeekOrigin::soEnd);
      item.Data.Write(C.data(), static_cast<int64_t>(C.size()));
      Decoder.Decode(item, nullptr);
      return true;
    }
  } out;
  TKzChangeEncoder enc(out);
  TKzImageInfoList list;
  std::vector<TKzImageInfoPtr> owned;
  std::vector<TKzImageInfo*> items;
  for (uint16_t i = 0; i < 4; ++i) items.push_back((owned.emplace_back(list.GetImageInfo(TGUID{}, i))).get());
  TKzChangeSettings s;
  s.FrameDifferenceInterval = 6;
  std::vector<int32_t> encodings;
  for (; out.Frame < 14; ++out.Frame) {
    out.Now += 40;
    encodings.push_back(enc.SendImageExShared(Scene(160, 120, out.Frame), items, s));
    for (TKzImageInfo* i : items)
      ASSERT_TRUE(Same(*out.Shown.at(i).LastImg, i->RealSendBt)) << "destination " << i->VideoIndex << " frame "
                                                                   << out.Frame;
  }
  // New destinations share their first whole frame; the refusal splits
  // destination 2 off until the others' next whole frame (the 6th after the
  // last) takes it along again.
  EXPECT_EQ(encodings, (std::vector<int32_t>{1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1}));
}

namespace {

double Psnr(const TKzMCustomBitmap& A, const TKzMCustomBitmap& B) {
  double se = 0;
  const auto* a = reinterpret_cast<const uint8_t*>(A.Data());
  const auto* b = reinterpret_cast<const uint8_t*>(B.Data());
  for (int64_t i = 0; i < A.GetLength() * 4; ++i)
    if (i % 4 != 3) se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * 3 * double(A.GetLength()) / se);
}

}  // namespace

TEST(ChangeSender, SixtySecondsOfTheCameraSceneDoNotDriftFromWholeFrames) {
  TEnc e;
  e.S.Quality = 90;
  TKzMBitmap frame, whole;
  double worst = 99, sum = 0;
  constexpr int kFrames = 60 * 25;
  for (int n = 0; n < kFrames; ++n) {
    kzcamsim::KzSimDrawFrame(frame, 320, 240, static_cast<uint32_t>(n), 1700000000000LL + n * 40);
    e.Send(frame);
    TMemoryStream jpeg;
    ASSERT_TRUE(KzCodecEncodeJPEG(frame, jpeg, 90));
    ASSERT_TRUE(KzCodecDecodeJPEG(jpeg.Memory(), static_cast<size_t>(jpeg.Size()), whole));
    worst = std::min(worst, Psnr(*e.Out.Shown.LastImg, frame) - Psnr(whole, frame));
    sum += Psnr(*e.Out.Shown.LastImg, frame) - Psnr(whole, frame);
  }
  // Edges of moving objects coded inside small areas fall a little below
  // the whole frame's quality now and then; nothing accumulates.
  EXPECT_GT(sum / kFrames, -0.5) << "dB below the same frame sent whole, on average";
  EXPECT_GT(worst, -2.0) << "dB below the same frame sent whole, worst frame";
}

namespace {

// The RGB pixels of a bitmap, as PPM files hold them.
std::vector<uint8_t> Rgb(const TKzMCustomBitmap& B) {
  std::vector<uint8_t> out;
  for (int64_t i = 0; i < B.GetLength(); ++i)
    for (int shift : {16, 8, 0}) out.push_back(static_cast<uint8_t>(B.Data()[i] >> shift));
  return out;
}

std::vector<uint8_t> PpmRgb(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, max = 0;
  f >> magic >> w >> h >> max;
  f.get();
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
  f.read(reinterpret_cast<char*>(px.data()), static_cast<std::streamsize>(px.size()));
  return f ? px : std::vector<uint8_t>{};
}

// The captured stream rebuilt by the Python reader: every frame it shows
// equals ours (PNG and BMP exactly, JPEG within 1).
void CompareWithReference(const std::vector<uint8_t>& Stream, const std::vector<TKzMBitmap>& Ours, bool Exact) {
  const std::string dir = testing::TempDir() + "kzrefchange";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/stream.bin", std::ios::binary).write(reinterpret_cast<const char*>(Stream.data()),
                                                             static_cast<std::streamsize>(Stream.size()));
  const std::string cmd = "python3 '" KZ_REFCHANGE "' '" + dir + "/stream.bin' '" + dir + "' > '" + dir + "/log.txt'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  for (size_t i = 0; i < Ours.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%04zu.ppm", i);
    const std::vector<uint8_t> ref = PpmRgb(dir + name), ours = Rgb(Ours[i]);
    ASSERT_EQ(ref.size(), ours.size()) << "frame " << i;
    int worst = 0;
    for (size_t k = 0; k < ref.size(); ++k) worst = std::max(worst, std::abs(int(ref[k]) - int(ours[k])));
    EXPECT_LE(worst, Exact ? 0 : 1) << "frame " << i;
  }
}

// A sender pushing to a real receiver on loopback; after each frame the
// receiver must come to show the sender's RealSendBt.
void PushAndCompare(TKzProtocol Protocol, TKzEncodingType Encoding, uint16_t Interval) {
  kztest::TReceiverProbe probe(Protocol);
  const uint16_t port = probe.Start();
  TKzCamSender s(nullptr);
  s.SetProtocol(Protocol);
  s.SetReceiverHost("127.0.0.1");
  s.SetReceiverPort(port);
  s.SetEncoding(Encoding);
  s.SetFrameDifferenceInterval(Interval);
  s.SetUseDumpMemory(Protocol == TKzProtocol::kzpTCP);
  s.SetActive(true);
  const TKzImageInfoPtr item = s.ImageInfos().GetImageInfo(TGUID{}, 0);
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(s.SendImageEx(Scene(160, 120, i), 0));
    item->Lock();
    const TKzMBitmap expect = item->RealSendBt;
    item->Unlock();
    const bool shown = kztest::PumpUntil([&] {
      std::lock_guard<std::mutex> g(probe.Lock);
      return !probe.Shown.empty() && Same(probe.Shown.back().second, expect);
    });
    ASSERT_TRUE(shown) << "protocol " << int(Protocol) << " encoding " << int(Encoding) << " frame " << i;
  }
  s.SetActive(false);
  if (Protocol != TKzProtocol::kzpTCP || Encoding == TKzEncodingType::kzetHWLChange) return;
  KZ_NEED(kztest::HavePython() && std::system("djpeg -version </dev/null >/dev/null 2>&1 && convert -version >/dev/null") == 0,
          "python3, djpeg or ImageMagick is missing");
  std::vector<TKzMBitmap> shown;
  {
    std::lock_guard<std::mutex> g(probe.Lock);
    for (auto& [from, b] : probe.Shown) shown.push_back(b);
  }
  CompareWithReference(s.DumpBytes(), shown, Encoding == TKzEncodingType::kzetPNGChange ||
                                                 Encoding == TKzEncodingType::kzetBMPChange);
}

}  // namespace

TEST(ChangeSender, PushedOverTcpAndUdpTheReceiverShowsRealSendBt) {
  for (TKzProtocol p : {TKzProtocol::kzpTCP, TKzProtocol::kzpUDP})
    for (TKzEncodingType e : {TKzEncodingType::kzetJPEGChange, TKzEncodingType::kzetPNGChange,
                              TKzEncodingType::kzetBMPChange, TKzEncodingType::kzetMixFormatChange,
                              TKzEncodingType::kzetHWLChange})
      PushAndCompare(p, e, e == TKzEncodingType::kzetJPEGChange ? 3 : 0);
}
