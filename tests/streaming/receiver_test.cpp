// The receiver component against the reference codec's packets: every
// transport and topology with every kind of data, compressed or not, with
// and without sender GUIDs; the sender filter; the pulled channels'
// session keys, polling, retries and notifications; system commands.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include "tests/kztestneed.h"
#include "tests/streaming/kzreceivertestutil.h"

using namespace kz;
using namespace kztest;

namespace {

enum class TKindCase { Jpeg, Png, Bmp, Audio, Cmd, User, File };
constexpr TKindCase kKinds[] = {TKindCase::Jpeg, TKindCase::Png,  TKindCase::Bmp, TKindCase::Audio,
                                TKindCase::Cmd,  TKindCase::User, TKindCase::File};

// One cell of the matrix: what is sent, as the reference codec's case line,
// and what the receiver must deliver.
struct TCell {
  TKindCase Kind;
  bool Compressed, UseGUID;
  int Seed;
  std::string GUIDHex;  // of the sender (all zero without GUIDs)
  TBytes Payload;       // as the sender hands it over
  TKzMBitmap Picture;   // video: the pixels to be shown
  TBytes Samples;       // audio: the samples to be played
  TKzCmd Cmd;

  uint8_t Code() const {
    switch (Kind) {
      case TKindCase::Audio: return DATA_TYPE_AUDIO;
      case TKindCase::Cmd: return DATA_TYPE_CMD;
      case TKindCase::User: return DATA_TYPE_USERDATA;
      case TKindCase::File: return DATA_TYPE_FILE;
      default: return DATA_TYPE_VIDEO;
    }
  }
  std::string Name() const {
    static const char* kNames[] = {"jpeg", "png", "bmp", "audio", "cmd", "user", "file"};
    return std::string(kNames[static_cast<int>(Kind)]) + (Compressed ? " compressed" : "") +
           (UseGUID ? " guid" : "");
  }
  // The case line; Kind "packet" for pushing, "batch" (with its session key) for pulling.
  std::string Line(const std::string& CaseKind, const std::string& Proto, TKzSessionKey Key = 3) const {
    const bool parts = Kind == TKindCase::Audio || Kind == TKindCase::File;
    std::string l = CaseKind + " type=" + std::to_string(Code()) + " proto=" + Proto + " key=" + std::to_string(Key) +
                    " comp=" + (Compressed ? (parts ? "parts" : "fully") : "none") +
                    " useguid=" + (UseGUID ? "1" : "0") + " from=" + GUIDHex + " payload=" + ToHex(Payload);
    if (Kind == TKindCase::Jpeg) l += " enc=0";
    if (Kind == TKindCase::Png) l += " enc=6";
    if (Kind == TKindCase::Bmp) l += " enc=4";
    if (Kind == TKindCase::Audio) l += " rate=8000 bits=1 ch=1";
    if (Kind == TKindCase::File) l += " name=" + std::string("../up.bin") + " fguid=" + GUIDHex + " offs=0";
    return l;
  }
};

TCell MakeCell(TKindCase Kind, bool Compressed, bool UseGUID, int Seed) {
  TCell c{Kind, Compressed, UseGUID, Seed, std::string(32, '0'), {}, {}, {}, {}};
  if (UseGUID) {
    char g[33];
    std::snprintf(g, sizeof g, "%08x0000400080000000000000%02x", 0xA1B20000u + Seed, Seed & 255);
    c.GUIDHex = g;
  }
  switch (Kind) {
    case TKindCase::Jpeg:
    case TKindCase::Png:
    case TKindCase::Bmp: {
      const auto enc = Kind == TKindCase::Jpeg  ? TKzEncodingType::kzetJPEG
                       : Kind == TKindCase::Png ? TKzEncodingType::kzetPNG
                                                : TKzEncodingType::kzetBMP;
      const TBytes picture = EncodePicture(PatternBitmap(Seed), enc);
      c.Picture = DecodePicture(picture);
      c.Payload = FramedPicture(picture, enc, 1000 + Seed);
      break;
    }
    case TKindCase::Audio:
      for (int i = 0; i < 1600; ++i) c.Samples.push_back(static_cast<uint8_t>(i * Seed / 3));
      c.Payload = FramedAudio(c.Samples, 5000 + Seed, 100);
      break;
    case TKindCase::Cmd: {
      c.Cmd.Name = "Move";
      c.Cmd.AddParam("Seed").SetInteger(Seed);
      c.Cmd.AddParam("Text").SetString("cell " + std::to_string(Seed));
      TMemoryStream s;
      KzSaveCmdPayload({c.Cmd}, s);
      c.Payload.assign(s.Memory(), s.Memory() + s.Size());
      break;
    }
    case TKindCase::User: c.Payload = TestBytes("", "3000," + std::to_string(Seed)); break;
    case TKindCase::File: c.Payload = TestBytes("", "20000," + std::to_string(Seed)); break;
  }
  return c;
}

std::vector<TCell> Matrix() {
  std::vector<TCell> cells;
  int seed = 1;
  for (TKindCase k : kKinds)
    for (bool comp : {false, true})
      for (bool guid : {false, true}) cells.push_back(MakeCell(k, comp, guid, seed++));
  return cells;
}

TGUID GuidOf(const TCell& C) {
  const TBytes b = FromHex(C.GUIDHex);
  return GUIDFromBytes(b.data());
}

// How much of a cell's kind the probe holds: frames, blocks, commands,
// user data items, file bytes.
size_t Held(TReceiverProbe& P, const TCell& C) {
  switch (C.Kind) {
    case TKindCase::Audio: return P.AudioBlocks();
    case TKindCase::Cmd: return P.Count(P.Commands);
    case TKindCase::User: return P.Count(P.UserData);
    case TKindCase::File: return P.FileBytes().size();
    default: return P.Frames();
  }
}

// Waits for the cell's delivery (Before: what was held before it was sent)
// and checks it is exactly what was sent.
void ExpectDelivered(TReceiverProbe& P, const TCell& C, size_t Before) {
  const size_t want = Before + (C.Kind == TKindCase::File ? C.Payload.size() : 1);
  ASSERT_TRUE(PumpUntil([&] { return Held(P, C) >= want; }, 15000)) << C.Name();
  std::lock_guard<std::mutex> g(P.Lock);
  switch (C.Kind) {
    case TKindCase::Audio: {
      std::lock_guard<std::mutex> a(P.Output.Lock);
      const auto& b = P.Output.Blocks.back();
      EXPECT_EQ(b.Samples, C.Samples) << C.Name();
      EXPECT_EQ(b.Start, 5000 + C.Seed) << C.Name();
      EXPECT_EQ(b.Rate, 8000) << C.Name();
      EXPECT_EQ(b.From, GuidOf(C)) << C.Name();
      break;
    }
    case TKindCase::Cmd: {
      const TKzCmd& got = P.Commands.back();
      EXPECT_EQ(got.Name, C.Cmd.Name) << C.Name();
      EXPECT_EQ(got.GetAsIntegerSafe("Seed", -1), C.Seed) << C.Name();
      EXPECT_EQ(got.GetAsStringSafe("Text"), C.Cmd.GetAsStringSafe("Text")) << C.Name();
      EXPECT_EQ(P.CommandSources.back(), GuidOf(C)) << C.Name();
      break;
    }
    case TKindCase::User: EXPECT_EQ(P.UserData.back(), C.Payload) << C.Name(); break;
    case TKindCase::File: {
      TBytes got;
      for (const auto& f : P.FileChunks) {
        if (f.Offset == 0 && f.Name == "up.bin") got.clear();
        got.insert(got.end(), f.Data.begin(), f.Data.end());
      }
      EXPECT_EQ(got, C.Payload) << C.Name();
      EXPECT_EQ(P.FileChunks.back().Name, "up.bin") << C.Name() << ": the name loses its directory";
      break;
    }
    default: {
      std::lock_guard<std::mutex> v(P.View.Lock);
      EXPECT_TRUE(SamePixels(P.View.Shown.back().Frame, C.Picture)) << C.Name();
      EXPECT_EQ(P.View.Shown.back().From, GuidOf(C)) << C.Name();
    }
  }
}

}  // namespace

// ---- Pushed: TCP, HTTP and UDP, each cell on a connection (or datagrams) of its own.
TEST(ReceiverMatrix, PushedPacketsOfEveryKindAreDeliveredAsSent) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const std::vector<TCell> cells = Matrix();
  for (auto [proto, name] : {std::pair{TKzProtocol::kzpTCP, "tcp"}, std::pair{TKzProtocol::kzpHTTP, "http"},
                             std::pair{TKzProtocol::kzpUDP, "udp"}}) {
    SCOPED_TRACE(name);
    std::vector<std::string> lines;
    for (const TCell& c : cells) lines.push_back(c.Line("packet", proto == TKzProtocol::kzpUDP ? "udp" : "tcp"));
    const auto encoded = RefEncode(lines);
    ASSERT_EQ(encoded.size(), cells.size());
    TReceiverProbe probe(proto);
    const uint16_t port = probe.Start();
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t before = Held(probe, cells[i]);
      ASSERT_TRUE(PushBytes(port, proto, encoded[i])) << cells[i].Name();
      ExpectDelivered(probe, cells[i], before);
    }
  }
}

// ---- Pulled: one channel per data type asks the sender for batches.
TEST(ReceiverMatrix, PulledBatchesOfEveryKindAreDeliveredAsSent) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const std::vector<TCell> cells = Matrix();
  std::vector<std::string> lines;
  for (const TCell& c : cells) lines.push_back(c.Line("batch", "tcp"));
  const auto encoded = RefEncode(lines);
  ASSERT_EQ(encoded.size(), cells.size());
  for (bool http : {false, true}) {
    SCOPED_TRACE(http ? "http" : "tcp");
    TFakePullSender sender(http);
    TReceiverProbe probe(http ? TKzProtocol::kzpHTTP : TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
    auto& item = probe.Receiver.Senders().Add();
    item.SetSenderHost("127.0.0.1");
    item.SetSenderPort(sender.Port);
    probe.Receiver.SetActive(true);
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t before = Held(probe, cells[i]);
      sender.Queue(cells[i].Code(), encoded[i][0]);
      ExpectDelivered(probe, cells[i], before);
    }
    EXPECT_EQ(probe.Receiver.GetSessionKey(), 3u) << "the key pinned on the command channel";
  }
}
