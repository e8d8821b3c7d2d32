// The receiver component against the reference codec's packets: every
// transport and topology with every kind of data, compressed or not, with
// and without sender GUIDs; the sender filter; the pulled channels'
// session keys, polling, retries and notifications; system commands.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzreceivertestutil.h"
#include "video/Fmxmkzwavelet.h"

using namespace kz;
using namespace kztest;

namespace {

enum class TKindCase { Jpeg, Png, Bmp, Hwl, Audio, Cmd, User, File };
constexpr TKindCase kKinds[] = {TKindCase::Jpeg, TKindCase::Png, TKindCase::Bmp,  TKindCase::Hwl,
                                TKindCase::Audio, TKindCase::Cmd, TKindCase::User, TKindCase::File};

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
    static const char* kNames[] = {"jpeg", "png", "bmp", "hwl", "audio", "cmd", "user", "file"};
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
    if (Kind == TKindCase::Hwl) l += " enc=2";
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
    case TKindCase::Hwl: {
      TWavelet coder, local;
      coder.SetSourceImage(PatternBitmap(Seed, 64, 48));
      coder.SetDefault();
      TMemoryStream s;
      EXPECT_TRUE(coder.WriteHWLToStream(s));
      const TBytes hwl(s.Memory(), s.Memory() + s.Size());
      s.SetPosition(0);
      EXPECT_TRUE(local.ReadHWLFromStream(s));
      // Shown at the source's size as a local decode shows it.
      c.Picture.SetSize(64, 48);
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) c.Picture.ScanLine(y)[x] = local.BitmapHWL().Pixel(x, y);
      c.Payload = FramedPicture(hwl, TKzEncodingType::kzetHWL, 1000 + Seed);
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

// ---- The sender filter
TEST(ReceiverFilter, AcceptsByItemGUIDListedGUIDOrDefault) {
  const TGUID a{1, 0, 0, {}}, b{2, 0, 0, {}}, c{3, 0, 0, {}};
  using E = TKzSenderFilter::TEntry;
  auto named = [](TGUID G) {
    E e;
    e.GUIDFrom = G;
    return e;
  };
  auto listing = [](size_t Kind, std::vector<TGUID> L, bool Default = true) {
    E e;
    e.Lists[Kind] = std::move(L);
    e.Defaults[Kind] = Default;
    return e;
  };
  constexpr size_t kAudio = 1;
  struct TCase {
    const char* Name;
    std::vector<E> Items;
    uint8_t Code;
    TGUID From;
    bool Accepted;
  } cases[] = {
      {"no items: everything", {}, DATA_TYPE_AUDIO, c, true},
      {"the item's own GUID", {named(a)}, DATA_TYPE_VIDEO, a, true},
      {"another item's GUID", {named(a)}, DATA_TYPE_VIDEO, b, false},
      {"listed for the type", {listing(kAudio, {b})}, DATA_TYPE_AUDIO, b, true},
      {"not listed for the type", {listing(kAudio, {b})}, DATA_TYPE_AUDIO, c, false},
      {"the list of another type", {listing(kAudio, {b})}, DATA_TYPE_VIDEO, c, true},
      {"empty entry in the list", {listing(kAudio, {TGUID{}})}, DATA_TYPE_AUDIO, c, true},
      {"empty list, default off", {listing(kAudio, {}, false)}, DATA_TYPE_AUDIO, a, false},
      {"empty list, default on", {listing(kAudio, {}, true)}, DATA_TYPE_AUDIO, a, true},
      {"one of two items", {named(a), listing(kAudio, {}, false)}, DATA_TYPE_AUDIO, a, true},
  };
  for (const TCase& t : cases) {
    TKzSenderFilter f;
    f.Items = t.Items;
    EXPECT_EQ(f.Accepts(t.Code, t.From), t.Accepted) << t.Name;
  }
}

TEST(ReceiverFilter, RejectedSendersAndDataTypesDeliverNothing) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell blocked = MakeCell(TKindCase::User, false, true, 40), allowed = MakeCell(TKindCase::User, false, true, 41);
  const TCell video = MakeCell(TKindCase::Png, false, true, 41);
  const auto enc = RefEncode({blocked.Line("packet", "tcp"), allowed.Line("packet", "tcp"), video.Line("packet", "tcp")});
  TReceiverProbe probe;
  auto& item = probe.Receiver.Senders().Add();
  item.SetDefaultAcceptAll(TKzMediaType::kzmtUserData, false);
  item.UserDataSenders().AddGUID(GUIDToStringA(GuidOf(allowed)));
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtUserData});
  const uint16_t port = probe.Start();
  // Connections are read to their end before PushBytes returns, in order.
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[2]));
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[0]));
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[1]));
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.UserData) >= 1; }));
  probe.Receiver.AddSender(TKzMediaType::kzmtUserData, GUIDToStringA(GuidOf(blocked)));
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[0]));
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.UserData) >= 2; }));
  std::lock_guard<std::mutex> g(probe.Lock);
  EXPECT_EQ(probe.UserData, (std::vector<TBytes>{allowed.Payload, blocked.Payload}));
  EXPECT_EQ(probe.Frames(), 0u) << "video is not among the accepted types";
}

// ---- System commands
TEST(ReceiverCommands, SystemCommandsRaiseTheirEventsAndReachTheApplicationOnlyUnfiltered) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  auto cmdLine = [](const std::string& Name, const std::string& Group) {
    TKzCmd c;
    c.Name = Name;
    c.AddParam("GUIDGroup").SetString(Group);
    TMemoryStream s;
    KzSaveCmdPayload({c}, s);
    return "packet type=8 payload=" + ToHex(TBytes(s.Memory(), s.Memory() + s.Size()));
  };
  const auto enc = RefEncode({cmdLine("KzS_GROUP_JOIN", "g1"), cmdLine("Plain", "g2"), cmdLine("KzS_GROUP_JOIN", "g3")});
  TReceiverProbe probe;
  const uint16_t port = probe.Start();
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[0]));
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[1]));
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.Commands) >= 1; }));
  probe.Receiver.SetFilterSystemCmd(false);
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[2]));
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.Commands) >= 2; }));
  std::lock_guard<std::mutex> g(probe.Lock);
  EXPECT_EQ(probe.SystemEvents, (std::vector<std::string>{"join g1", "join g3"}));
  ASSERT_EQ(probe.Commands.size(), 2u);
  EXPECT_EQ(probe.Commands[0].Name, "Plain");
  EXPECT_EQ(probe.Commands[1].Name, "KzS_GROUP_JOIN") << "unfiltered, the system command reaches the application too";
}

// ---- Pulled channels
namespace {

TKzSenderItemEx& PullFrom(TReceiverProbe& P, const TFakePullSender& S) {
  auto& item = P.Receiver.Senders().Add();
  item.SetSenderHost("127.0.0.1");
  item.SetSenderPort(S.Port);
  return item;
}

}  // namespace

TEST(ReceiverPull, OnlyAcceptedTypesGetAChannel) {
  TFakePullSender sender;
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  EXPECT_EQ(probe.Receiver.GetMaxChannelCount(), 5);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo});
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 0) << "inactive";
  probe.Receiver.SetActive(true);
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 0) << "no senders: no channel";
  PullFrom(probe, sender);  // restarts the receiver with the sender
  ASSERT_TRUE(PumpUntil([&] { return sender.RequestCount("VDGET") >= 3; }));
  EXPECT_EQ(sender.Connections(), 1);
  EXPECT_EQ(probe.Receiver.GetMaxChannelCount(), 1);
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 1);
  EXPECT_EQ(probe.Receiver.LastMediaType(), TKzMediaType::kzmtVideo);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo, TKzMediaType::kzmtCmdData});
  ASSERT_TRUE(PumpUntil([&] { return sender.RequestCount("CDGET") >= 1; }));
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 2);
  for (const auto& r : sender.Requests()) EXPECT_TRUE(r.Text == "VDGET" || r.Text == "CDGET") << r.Text;
}

TEST(ReceiverPull, ANewSessionKeyReconnectsAndDeliversTheNewSession) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell first = MakeCell(TKindCase::Png, false, true, 50), second = MakeCell(TKindCase::Png, false, true, 51);
  const auto enc = RefEncode({first.Line("batch", "tcp", 3), second.Line("batch", "tcp", 4)});
  TFakePullSender sender;
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo});
  PullFrom(probe, sender);
  probe.Receiver.SetActive(true);
  sender.Queue(DATA_TYPE_VIDEO, enc[0][0]);
  ExpectDelivered(probe, first, 0);
  sender.Key = 4;  // the sender restarted
  ASSERT_TRUE(PumpUntil([&] { return sender.Connections() >= 2; })) << "key 3 then 4 on one connection reconnects";
  sender.Queue(DATA_TYPE_VIDEO, enc[1][0]);
  ExpectDelivered(probe, second, 1);
  // Each connection's requests carry the key pinned on it (0 before the first answer).
  for (const auto& r : sender.Requests())
    EXPECT_TRUE(r.Key == 0 || r.Key == (r.Connection == 1 ? 3u : 4u)) << r.Connection << " " << r.Key;
}

TEST(ReceiverPull, FailedConnectsEndTheChannelWithAnErrorAndItsClose) {
  TKzSocket taken = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t closedPort = PlatformSocketLocalPort(taken);
  PlatformCloseSocket(taken);  // nothing listens there now
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtAudio});
  probe.Receiver.SetRetryCount(3);
  auto& item = probe.Receiver.Senders().Add();
  item.SetSenderHost("127.0.0.1");
  item.SetSenderPort(closedPort);
  probe.Receiver.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return probe.NoticeCount(1030, DATA_TYPE_AUDIO) == 1; }));
  EXPECT_EQ(probe.NoticeCount(KZ_MSG_CONNECTION_ERROR, DATA_TYPE_AUDIO), 1u);
  EXPECT_EQ(probe.NoticeCount(KZ_MSG_CONNECTED, DATA_TYPE_AUDIO), 0u);
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 0);
}

TEST(ReceiverPull, PollingSlowsAfterAHundredEmptyAnswersAndDataResetsIt) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell cell = MakeCell(TKindCase::Png, false, false, 60);
  const auto enc = RefEncode({cell.Line("batch", "tcp", 3)});
  TFakePullSender sender;
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo});
  PullFrom(probe, sender);
  probe.Receiver.SetActive(true);
  auto gapAfter = [&](size_t N) {  // ms between request N and N + 1
    EXPECT_TRUE(PumpUntil([&] { return sender.RequestCount("VDGET") >= N + 1; }, 30000));
    const auto r = sender.Requests();
    return std::chrono::duration_cast<std::chrono::milliseconds>(r[N].At - r[N - 1].At).count();
  };
  EXPECT_GE(gapAfter(102), 900) << "idle: once a second";
  sender.Queue(DATA_TYPE_VIDEO, enc[0][0]);
  ExpectDelivered(probe, cell, 0);
  const size_t after = sender.RequestCount("VDGET");
  // Data reset the count: polls come 100 ms apart again (idle, twenty
  // would take twenty seconds).
  EXPECT_TRUE(PumpUntil([&] { return sender.RequestCount("VDGET") >= after + 20; }, 15000));
}

TEST(ReceiverLifecycle, DeactivationEndsEveryThreadAndFreesEverySocket) {
  TFakePullSender sender;
  TReceiverProbe pull(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  PullFrom(pull, sender);
  pull.Receiver.SetActive(true);
  TReceiverProbe push;
  const uint16_t port = push.Start();
  std::string error;
  TKzSocket peer = KzMConnectStream({"127.0.0.1", port, TKzProtocol::kzpTCP, nullptr, 3000}, nullptr, error);
  ASSERT_NE(peer, KZ_INVALID_SOCKET);
  ASSERT_TRUE(PumpUntil([&] { return sender.OpenConnections() == 5; }));
  const auto start = std::chrono::steady_clock::now();
  pull.Receiver.SetActive(false);
  push.Receiver.SetActive(false);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LE(ms, 2000);
  EXPECT_EQ(pull.Receiver.GetOpenChannelCount(), 0);
  EXPECT_TRUE(PumpUntil([&] { return sender.OpenConnections() == 0; })) << "the pulled channels' sockets are closed";
  EXPECT_EQ(PlatformPollRead(peer, 3000), 1);
  uint8_t b;
  EXPECT_EQ(PlatformRecv(peer, &b, 1), 0) << "the pushed connection is closed";
  PlatformCloseSocket(peer);
  TKzSocket again = PlatformListenTCP(0, port, 1);
  EXPECT_NE(again, KZ_INVALID_SOCKET) << "the listening port is free again";
  PlatformCloseSocket(again);
}

// ---- kztool receive
TEST(ReceiverTool, PrintsPerSenderAndWritesSnapshotsAndFilesIntoItsFolder) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell frame = MakeCell(TKindCase::Png, false, true, 70), file = MakeCell(TKindCase::File, false, true, 70);
  const auto enc = RefEncode({frame.Line("packet", "tcp"), file.Line("packet", "tcp")});
  TTempDir dir;
  TKzSocket probe = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t port = PlatformSocketLocalPort(probe);
  PlatformCloseSocket(probe);
  std::atomic<int> exitCode{-1};
  std::thread tool([&] {
    const std::string cmd = AppPath("kztool") + " receive --listen " + std::to_string(port) + " --seconds 6 --out " +
                            (dir / "out") + " > " + (dir / "run.out") + " 2>&1";
    exitCode = WEXITSTATUS(std::system(cmd.c_str()));
  });
  bool sent = false;
  for (int i = 0; i < 100 && !sent; ++i) {  // until the tool listens
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sent = PushBytes(port, TKzProtocol::kzpTCP, enc[0]);
  }
  EXPECT_TRUE(sent);
  EXPECT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[1]));
  tool.join();
  const std::string out = ReadFile(dir / "run.out");
  EXPECT_EQ(exitCode.load(), 0) << out;
  EXPECT_NE(out.find("sender " + GUIDToStringA(GuidOf(frame)) + ": frames 1 "), std::string::npos) << out;
  EXPECT_NE(out.find("files 1"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(dir / "out/up.bin"), std::string(file.Payload.begin(), file.Payload.end()))
      << "\"../up.bin\" lands inside the folder";
  const std::string png = ReadFile(dir / "out/sender1.png");
  ASSERT_FALSE(png.empty()) << out;
  EXPECT_TRUE(SamePixels(DecodePicture(TBytes(png.begin(), png.end())), frame.Picture));
}
