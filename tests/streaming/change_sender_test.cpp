// The sender's changed-area encoding: when it sends what, the frame numbers
// and difference indexes it writes, that its references follow only what
// was handed over, and that a receiver rebuilds exactly its RealSendBt -
// in process for every Change encoding, through a real receiver over TCP
// and UDP on loopback, and by the independent Python reader (refchange.py)
// from the captured stream.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <thread>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "foundation/fmxMKzByteOrder.h"
#include "sender/fmxMKzCamSender.h"
#include "tests/kztestneed.h"
#include "tests/streaming/kzchaosproxy.h"
#include "tests/streaming/kzreceivertestutil.h"
#include "tests/video/kzimagetestutil.h"
#include "video/fmxMKzChangeDecode.h"

using namespace kz;
using kztest::SamePixels;

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
    Rebuild(Shown, C);
    return true;
  }
  void Rebuild(TKzVideoDataItem& Item, const std::vector<uint8_t>& C) {
    Item.Data.Seek(0, TSeekOrigin::soEnd);
    Item.Data.Write(C.data(), static_cast<int64_t>(C.size()));
    Decoder.Decode(Item, nullptr);
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
  const std::vector<uint8_t> first = e.Last();  // a copy: Sent grows
  TKzAreaRecord r;
  size_t at = KZ_CHANGE_HEAD;
  ASSERT_TRUE(KzNextAreaRecord(first.data(), first.size(), at, r));
  EXPECT_EQ(std::make_tuple(r.X, r.Y, r.W, r.H, r.F, r.Format), std::make_tuple(0, 0, 320, 240, 0, 1));
  EXPECT_FALSE(KzNextAreaRecord(first.data(), first.size(), at, r));

  EXPECT_EQ(e.Send(Scene(320, 240, 0)), TKzChangeSent::kzcsNothing) << "an identical frame sends nothing";
  EXPECT_EQ(e.Out.Sent.size(), 1u);
  ASSERT_EQ(e.Send(Scene(320, 240, 1)), TKzChangeSent::kzcsAreas);
  EXPECT_EQ(e.Last()[32], 1) << "areas carry the number of their whole frame (0 + 1)";
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
  const TKzMBitmap old = *e.Item->OldSendBt, real = *e.Item->RealSendBt;
  e.Out.Take = false;
  EXPECT_EQ(e.Send(Scene(320, 240, 4)), TKzChangeSent::kzcsNotTaken);
  EXPECT_TRUE(SamePixels(*e.Item->OldSendBt, old));
  EXPECT_TRUE(SamePixels(*e.Item->RealSendBt, real));
  e.Out.Take = true;
  ASSERT_EQ(e.Send(Scene(320, 240, 4)), TKzChangeSent::kzcsAreas);
  for (uint16_t f : e.Fs()) EXPECT_EQ(f, 1) << "the index counts containers handed over";
  EXPECT_TRUE(SamePixels(*e.Out.Shown.LastImg, *e.Item->RealSendBt));
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
          ASSERT_TRUE(SamePixels(*e.Out.Shown.LastImg, *e.Item->RealSendBt))
              << "encoding " << int(enc) << " interval " << interval << " blur " << blur << " frame " << i;
        }
        EXPECT_GE(areas, 6) << int(enc);
      }
}

TEST(ChangeSender, DestinationsInTheSameStateShareOneEncodingAndRefusalsSplitThem) {
  // Per destination: what its receiver rebuilt; destination 2 refuses frame 5.
  struct TFan : TOut {
    int Frame = 0;
    std::map<const TKzImageInfo*, TKzVideoDataItem> Rebuilt;
    bool ChangeSend(TKzImageInfo& I, const std::vector<uint8_t>& C, int64_t) override {
      if (I.VideoIndex == 2 && Frame == 5) return false;
      Rebuild(Rebuilt.try_emplace(&I, nullptr, 0).first->second, C);
      return true;
    }
  } out;
  TKzChangeEncoder enc(out);
  TKzImageInfoList list;
  std::vector<TKzImageInfoPtr> owned;
  std::vector<TKzImageInfo*> items;
  for (uint16_t i = 0; i < 4; ++i) items.push_back((owned.emplace_back(list.GetImageInfo(TGUID{}, i))).get());
  TKzChangeSettings s;
  s.FrameDifferenceInterval = 8;
  std::vector<int32_t> encodings;
  for (; out.Frame < 14; ++out.Frame) {
    out.Now += 40;
    encodings.push_back(enc.SendImageExShared(Scene(160, 120, out.Frame), items, s));
    for (TKzImageInfo* i : items)
      ASSERT_TRUE(SamePixels(*out.Rebuilt.at(i).LastImg, *i->RealSendBt)) << "destination " << i->VideoIndex << " frame "
                                                                   << out.Frame;
  }
  // New destinations share their first whole frame; the refusal splits
  // destination 2 off until the others' next whole frame (the 8th after the
  // last) takes it along again. Those together hold one copy of the references.
  EXPECT_EQ(encodings, (std::vector<int32_t>{1, 1, 1, 1, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1}));
  for (TKzImageInfo* i : items) EXPECT_TRUE(i->OldSendBt.SharedWith(items[0]->OldSendBt) && i->RealSendBt.SharedWith(items[0]->RealSendBt));
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
  // The disc's rim, falling apart into single pixels when it moves by one,
  // must not stay behind until the next whole frame.
  EXPECT_GT(sum / kFrames, -0.1) << "dB below the same frame sent whole, on average";
  EXPECT_GT(worst, -1.0) << "dB below the same frame sent whole, worst frame";
}

namespace {

// The captured stream rebuilt by the Python reader: every frame it shows
// equals ours (PNG and BMP exactly, JPEG within 1).
void CompareWithReference(const std::vector<uint8_t>& Stream, const std::vector<TKzMBitmap>& Ours, bool Exact) {
  KZ_NEED(kztest::HavePython() && std::system("djpeg -version </dev/null >/dev/null 2>&1 && convert -version >/dev/null") == 0,
          "python3, djpeg or ImageMagick is missing");
  kztest::TTempDir dir;
  kztest::WriteFile<std::vector<uint8_t>>(dir / "stream.bin", Stream);
  const std::string cmd = "python3 '" KZ_REFCHANGE "' '" + (dir / "stream.bin") + "' '" + dir.Path() + "' > '" + (dir / "log.txt") + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  for (size_t i = 0; i < Ours.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%04zu.ppm", i);
    TKzMBitmap ref;
    ASSERT_TRUE(kztest::ReadPNM(dir / name, ref)) << "frame " << i;
    ASSERT_EQ(std::make_pair(ref.Width(), ref.Height()), std::make_pair(Ours[i].Width(), Ours[i].Height())) << i;
    int worst = 0;
    for (int64_t k = 0; k < ref.GetLength(); ++k)
      for (int shift : {16, 8, 0})
        worst = std::max(worst, std::abs(int(ref.Data()[k] >> shift & 255) - int(Ours[i].Data()[k] >> shift & 255)));
    EXPECT_LE(worst, Exact ? 0 : 1) << "frame " << i;
  }
}

uint64_t Digest(const TKzMCustomBitmap& B) {
  uint64_t d = 1469598103934665603ull;
  for (int64_t i = 0; i < B.GetLength(); ++i) d = (d ^ B.Data()[i]) * 1099511628211ull;
  return d;
}

// The sender's RealSendBt after each frame against the pictures a receiver showed.
struct TRun {
  std::vector<uint64_t> Had, Shown;
  int Replaced = 0;        // frames that replaced one waiting in the sender's queue
  bool Recovered = false;  // the receiver ends on the sender's last picture
  int Wrong() const {      // pictures shown the sender never had
    return static_cast<int>(std::count_if(Shown.begin(), Shown.end(),
                                          [&](uint64_t d) { return !std::count(Had.begin(), Had.end(), d); }));
  }
};

// Waits until Probe shows the sender's last picture (a backlog drains
// slowly under the sanitizers), then takes what it showed.
void Collect(kztest::TReceiverProbe& Probe, TRun& Run) {
  Run.Recovered = kztest::PumpUntil([&] {
    std::lock_guard<std::mutex> g(Probe.Lock);
    return !Probe.Shown.empty() && Digest(Probe.Shown.back().second) == Run.Had.back();
  }, 60000);
  std::lock_guard<std::mutex> g(Probe.Lock);
  for (auto& [from, b] : Probe.Shown) Run.Shown.push_back(Digest(b));
}

// Frames of the scene (Width wide) pushed through Port (Probe's own, or a
// lossy way to it), each waited for up to WaitMs; Dump, if given, gets the
// bytes sent. Held, if given, is a proxy holding the way: while it holds,
// frames go on (not counted in Frames) until 3 have replaced one waiting in
// the sender's queue, then it is released.
TRun PushThrough(kztest::TReceiverProbe& Probe, TKzProtocol Protocol, uint16_t Port, TKzEncodingType Encoding,
                 uint16_t Interval, int Frames, std::vector<uint8_t>* Dump = nullptr, int Width = 160,
                 int WaitMs = 1000, kztest::TChaosProxy* Held = nullptr) {
  TKzCamSender s(nullptr);
  s.SetProtocol(Protocol);
  s.SetReceiverHost("127.0.0.1");
  s.SetReceiverPort(Port);
  s.SetEncoding(Encoding);
  s.SetFrameDifferenceInterval(Interval);
  s.SetUseDumpMemory(Dump != nullptr);
  s.SetActive(true);
  const TKzImageInfoPtr item = s.ImageInfos().GetImageInfo(TGUID{}, 0);
  TRun r;
  for (int i = 0, left = Frames; left > 0; ++i) {
    const size_t before = Probe.Count(Probe.Shown);
    const bool holding = Held && Held->Struck() && !Held->Released();
    const bool waiting = holding && s.QueuedBytes(DATA_TYPE_VIDEO) > 0;
    EXPECT_TRUE(s.SendImageEx(Scene(Width, Width * 3 / 4, i, Width * 3 / 40), 0));
    item->Lock();
    r.Had.push_back(Digest(*item->RealSendBt));
    item->Unlock();
    r.Replaced += waiting;
    if (holding && (r.Replaced == 3 || i > 3000)) Held->Release();
    left -= !holding;
    // The first frame is always waited for: the channel stands before the rest go.
    const int wait = i == 0 ? std::max(WaitMs, 10000) : WaitMs;
    if (wait > 0) kztest::PumpUntil([&] { return Probe.Count(Probe.Shown) > before; }, wait);
  }
  Collect(Probe, r);
  s.SetActive(false);
  if (Dump) *Dump = s.DumpBytes();
  return r;
}

}  // namespace

// A real receiver on loopback shows the sender's RealSendBt after every
// frame, in order; the independent reader rebuilds the same from the bytes.
TEST(ChangeSender, PushedOverTcpAndUdpTheReceiverShowsRealSendBt) {
  for (TKzProtocol p : {TKzProtocol::kzpTCP, TKzProtocol::kzpUDP})
    for (TKzEncodingType e : {TKzEncodingType::kzetJPEGChange, TKzEncodingType::kzetPNGChange,
                              TKzEncodingType::kzetBMPChange, TKzEncodingType::kzetMixFormatChange,
                              TKzEncodingType::kzetHWLChange}) {
      SCOPED_TRACE(testing::Message() << "protocol " << int(p) << " encoding " << int(e));
      kztest::TReceiverProbe probe(p);
      const uint16_t port = probe.Start();
      std::vector<uint8_t> dump;
      const TRun r = PushThrough(probe, p, port, e, e == TKzEncodingType::kzetJPEGChange ? 3 : 0, 10, &dump);
      EXPECT_EQ(r.Shown, r.Had);
      if (p != TKzProtocol::kzpTCP || e == TKzEncodingType::kzetHWLChange) continue;
      std::vector<TKzMBitmap> shown;
      for (auto& [from, b] : probe.Shown) shown.push_back(b);
      CompareWithReference(dump, shown, e == TKzEncodingType::kzetPNGChange || e == TKzEncodingType::kzetBMPChange);
    }
}

// A receiver slower than the sender: while it takes nothing the channel's
// queue fills and newer frames replace what waits there; the frame after a
// replaced one goes whole, so no picture shown lacks areas.
TEST(ChangeSender, ASlowReceiverNeverShowsStaleAreas) {
  kztest::TReceiverProbe probe(TKzProtocol::kzpTCP);
  const uint16_t port = probe.Start();
  kztest::TChaosProxy proxy(port, kztest::TChaosFault::Hold, 1500000, DATA_TYPE_VIDEO);  // after the first frame
  const TRun r = PushThrough(probe, TKzProtocol::kzpTCP, proxy.Port, TKzEncodingType::kzetBMPChange, 0, 40,
                             nullptr, 640, 0, &proxy);
  ASSERT_TRUE(proxy.Struck());
  ASSERT_EQ(r.Replaced, 3) << "the receiver never fell behind";
  EXPECT_TRUE(r.Recovered);
  EXPECT_EQ(r.Wrong(), 0) << "of " << r.Shown.size() << " pictures shown";
}

namespace {

// Forwards the datagrams sent to Port on to To (loopback), dropping the
// video-sized ones whose number, counting those only, is in Drop.
class TUdpDropper {
public:
  TUdpDropper(uint16_t To, std::vector<int> Drop) : FDrop(std::move(Drop)) {
    FIn = socket(AF_INET, SOCK_DGRAM, 0), FOut = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET, a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(FIn, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(FIn, reinterpret_cast<sockaddr*>(&a), &n);
    Port = ntohs(a.sin_port);
    a.sin_port = htons(To);
    FTo = a;
    FThread = std::thread([this] {
      std::vector<char> buf(70000);
      for (int big = 0; !FStop;) {
        pollfd p{FIn, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t got = recv(FIn, buf.data(), buf.size(), 0);
        if (got <= 0) continue;
        if (got > 300 && std::count(FDrop.begin(), FDrop.end(), big++)) {
          ++Dropped;
          continue;
        }
        sendto(FOut, buf.data(), static_cast<size_t>(got), 0, reinterpret_cast<sockaddr*>(&FTo), sizeof FTo);
      }
    });
  }
  ~TUdpDropper() {
    FStop = true;
    FThread.join();
    close(FIn), close(FOut);
  }
  uint16_t Port = 0;
  std::atomic<int> Dropped{0};

private:
  std::vector<int> FDrop;
  int FIn = -1, FOut = -1;
  sockaddr_in FTo{};
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace

// Containers lost on the way: with difference pictures the receiver freezes
// until the next whole frame (no wrong picture), or with
// IgnoreCorruptedFrames keeps showing; with pictures only (F = 0) stale
// areas last until the next whole frame at most. It always catches up.
TEST(ChangeSender, LostContainersFreezeOrStaleUntilTheNextWholeFrame) {
  struct TRow {
    TKzProtocol Protocol;
    uint16_t Interval;
    bool Ignore;
  };
  for (const TRow& row : {TRow{TKzProtocol::kzpUDP, 3, false}, TRow{TKzProtocol::kzpUDP, 3, true},
                          TRow{TKzProtocol::kzpUDP, 0, false}, TRow{TKzProtocol::kzpTCP, 3, false},
                          TRow{TKzProtocol::kzpTCP, 0, false}}) {
    SCOPED_TRACE(testing::Message() << "protocol " << int(row.Protocol) << " interval " << row.Interval
                                    << " ignore " << row.Ignore);
    kztest::TReceiverProbe probe(row.Protocol);
    probe.Receiver.SetIgnoreCorruptedFrames(row.Ignore);
    const uint16_t port = probe.Start();
    int lost = 1;
    TRun r;
    const TKzEncodingType jpeg = TKzEncodingType::kzetJPEGChange;
    if (row.Protocol == TKzProtocol::kzpUDP) {
      TUdpDropper dropper(port, {8, 19, 30});
      r = PushThrough(probe, row.Protocol, dropper.Port, jpeg, row.Interval, 60);
      lost = dropper.Dropped;
    } else {
      kztest::TChaosProxy proxy(port, kztest::TChaosFault::CutMidPacket, 20000, DATA_TYPE_VIDEO);
      r = PushThrough(probe, row.Protocol, proxy.Port, jpeg, row.Interval, 60);
    }
    ASSERT_GT(lost, 0);
    EXPECT_TRUE(r.Recovered);
    if (row.Ignore)
      EXPECT_GE(int(r.Shown.size()), 60 - lost) << "every container that arrived is shown";
    else
      EXPECT_LE(r.Wrong(), row.Interval > 0 ? 0 : 25 * lost) << "of " << r.Shown.size() << " pictures shown";
  }
}

// The sender in another process (kzchangepeer, which prints the digest of
// its RealSendBt after each frame): every picture the receiver shows is the
// sender's RealSendBt after some frame, pixel for pixel, and it ends on the
// last one.
TEST(ChangeSender, FromAnotherProcessTheReceiverShowsRealSendBt) {
  struct TRow {
    const char* Proto;
    const char* Encoding;
    const char* Interval;
  };
  for (const TRow& row : {TRow{"tcp", "png", "0"}, TRow{"tcp", "bmp", "4"}, TRow{"udp", "png", "4"},
                          TRow{"udp", "bmp", "0"}}) {
    SCOPED_TRACE(testing::Message() << row.Proto << " " << row.Encoding << " interval " << row.Interval);
    kztest::TReceiverProbe probe(std::string(row.Proto) == "udp" ? TKzProtocol::kzpUDP : TKzProtocol::kzpTCP);
    const uint16_t port = probe.Start();
    kztest::TTempDir dir;
    kztest::TPeer peer;
    constexpr int kFrames = 40;
    ASSERT_TRUE(peer.Start({KZ_CHANGEPEER, row.Proto, std::to_string(port), row.Encoding, row.Interval,
                            std::to_string(kFrames)},
                           dir / "peer.out"));
    ASSERT_TRUE(kztest::PumpUntil([&] { return !peer.Alive(); }, 60000));
    TRun r;
    std::ifstream log(dir / "peer.out");
    for (unsigned long long n = 0, d = 0; log >> n >> d;) r.Had.push_back(d);
    ASSERT_EQ(int(r.Had.size()), kFrames);
    Collect(probe, r);
    EXPECT_TRUE(r.Recovered);
    EXPECT_EQ(r.Wrong(), 0) << "of " << r.Shown.size() << " pictures shown";
  }
}
