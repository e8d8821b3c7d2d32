// kz-test-labels: peer
// The receiver against the reference codec's packets: every transport and
// topology with every kind of data, compressed or not, with and without
// sender GUIDs; the sender filter; pulled channels' session keys, polling,
// retries and notifications; system commands; deactivation; kztool receive.
#include <gtest/gtest.h>

#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzreceivertestutil.h"
#include "video/Fmxmkzwavelet.h"

using namespace kz;
using namespace kztest;

namespace {

enum class TKind { Jpeg, Png, Bmp, Hwl, Audio, Cmd, User, File };
const char* const kNames[] = {"jpeg", "png", "bmp", "hwl", "audio", "cmd", "user", "file"};
const uint8_t kCodes[] = {1, 1, 1, 1, DATA_TYPE_AUDIO, DATA_TYPE_CMD, DATA_TYPE_USERDATA, DATA_TYPE_FILE};
const char* const kInfo[] = {" enc=0", " enc=6", " enc=4", " enc=2", " rate=8000 bits=1 ch=1", "", "", " name=../up.bin offs=0"};

// One cell of the matrix: what is sent and what must be delivered.
struct TCell {
  TKind Kind;
  bool Compressed, UseGUID;
  int Seed;
  TGUID From;
  TBytes Payload;      // as the sender hands it over
  TKzMBitmap Picture;  // video: the pixels to be shown
  TBytes Samples;      // audio: the samples to be played

  std::string Name() const {
    return std::string(kNames[int(Kind)]) + (Compressed ? " compressed" : "") + (UseGUID ? " guid" : "");
  }
  // CaseKind "packet" (pushed) or "batch" (a pulled answer under Key).
  std::string Line(const std::string& CaseKind, const std::string& Proto, TKzSessionKey Key = 3) const {
    const bool blocks = Kind == TKind::Audio || Kind == TKind::File;
    return CaseKind + " type=" + std::to_string(kCodes[int(Kind)]) + " proto=" + Proto + " key=" + std::to_string(Key) +
           " comp=" + (Compressed ? (blocks ? "parts" : "fully") : "none") + " useguid=" + (UseGUID ? "1" : "0") +
           " from=" + GuidHex(From) + " payload=" + ToHex(Payload) + kInfo[int(Kind)];
  }
};

TBytes CmdPayload(const TKzCmd& C) {
  TMemoryStream s;
  KzSaveCmdPayload({C}, s);
  return TBytes(s.Memory(), s.Memory() + s.Size());
}

TBytes GroupCmdPayload(const std::string& Name, const std::string& Group) {
  TKzCmd c;
  c.Name = Name;
  c.AddParam("GUIDGroup").SetString(Group);
  return CmdPayload(c);
}

TCell MakeCell(TKind Kind, bool Compressed, bool UseGUID, int Seed) {
  TCell c{Kind, Compressed, UseGUID, Seed, UseGUID ? KzCreateGUID() : TGUID{}, {}, {}, {}};
  const TKzEncodingType enc[] = {TKzEncodingType::kzetJPEG, TKzEncodingType::kzetPNG, TKzEncodingType::kzetBMP};
  if (Kind <= TKind::Bmp) {
    const TBytes picture = EncodePicture(PatternBitmap(Seed), enc[int(Kind)]);
    c.Picture = DecodePicture(picture);
    c.Payload = FramedPicture(picture, enc[int(Kind)], 1000 + Seed);
  } else if (Kind == TKind::Hwl) {
    TWavelet coder, local;
    coder.SetSourceImage(PatternBitmap(Seed, 64, 48));
    coder.SetDefault();
    TMemoryStream s;
    EXPECT_TRUE(coder.WriteHWLToStream(s));
    const TBytes hwl(s.Memory(), s.Memory() + s.Size());
    s.SetPosition(0);
    EXPECT_TRUE(local.ReadHWLFromStream(s));
    c.Picture.SetSize(64, 48);  // shown at the source's size as a local decode shows it
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) c.Picture.ScanLine(y)[x] = local.BitmapHWL().Pixel(x, y);
    c.Payload = FramedPicture(hwl, TKzEncodingType::kzetHWL, 1000 + Seed);
  } else if (Kind == TKind::Audio) {
    for (int i = 0; i < 1600; ++i) c.Samples.push_back(static_cast<uint8_t>(i * Seed / 3));
    KzAppendAudioFrame(c.Payload, c.Samples.data(), 1600, 5000 + Seed, 100);
  } else if (Kind == TKind::Cmd) {
    TKzCmd cmd;
    cmd.Name = "Move";
    cmd.AddParam("Seed").SetInteger(Seed);
    c.Payload = CmdPayload(cmd);
  } else {
    c.Payload = TestBytes("", (Kind == TKind::File ? "20000," : "3000,") + std::to_string(Seed));
  }
  return c;
}

std::vector<TCell> Matrix() {
  std::vector<TCell> cells;
  int seed = 1;
  for (int k = 0; k <= int(TKind::File); ++k)
    for (bool comp : {false, true})
      for (bool guid : {false, true}) cells.push_back(MakeCell(TKind(k), comp, guid, seed++));
  return cells;
}

// What the probe holds of a cell's kind: frames, blocks, commands, items, file bytes.
size_t Held(TReceiverProbe& P, TKind Kind) {
  switch (Kind) {
    case TKind::Audio: return P.Count(P.Audio);
    case TKind::Cmd: return P.Count(P.Commands);
    case TKind::User: return P.Count(P.UserData);
    case TKind::File: return P.FileBytes().size();
    default: return P.Count(P.Shown);
  }
}

// Waits for the cell's delivery (Before: what was held before it was sent)
// and checks it is exactly what was sent.
void ExpectDelivered(TReceiverProbe& P, const TCell& C, size_t Before) {
  const size_t want = Before + (C.Kind == TKind::File ? C.Payload.size() : 1);
  ASSERT_TRUE(PumpUntil([&] { return Held(P, C.Kind) >= want; }, 15000)) << C.Name();
  const TBytes file = P.FileBytes();
  std::lock_guard<std::mutex> g(P.Lock);
  switch (C.Kind) {
    case TKind::Audio:
      EXPECT_EQ(P.Audio.back(), std::make_pair(C.From, C.Samples)) << C.Name();
      EXPECT_EQ(P.AudioStarts.back(), 5000 + C.Seed) << C.Name();
      break;
    case TKind::Cmd:
      EXPECT_EQ(P.Commands.back().first, C.From) << C.Name();
      EXPECT_EQ(P.Commands.back().second.Name, "Move") << C.Name();
      EXPECT_EQ(P.Commands.back().second.GetAsIntegerSafe("Seed", -1), C.Seed) << C.Name();
      break;
    case TKind::User: EXPECT_EQ(P.UserData.back(), C.Payload) << C.Name(); break;
    case TKind::File:
      EXPECT_EQ(TBytes(file.end() - static_cast<std::ptrdiff_t>(C.Payload.size()), file.end()), C.Payload) << C.Name();
      EXPECT_EQ(P.Files.back().Name, "up.bin") << C.Name() << ": the name loses its directory";
      break;
    default:
      EXPECT_TRUE(SamePixels(P.Shown.back().second, C.Picture)) << C.Name();
      EXPECT_EQ(P.Shown.back().first, C.From) << C.Name();
  }
}

void PullFrom(TReceiverProbe& P, uint16_t Port) {
  auto& item = P.Receiver.Senders().Add();
  item.SetSenderHost("127.0.0.1");
  item.SetSenderPort(Port);
}

}  // namespace

// Each cell on a connection of its own (or as datagrams).
TEST(ReceiverMatrix, PushedPacketsOfEveryKindAreDeliveredAsSent) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const std::vector<TCell> cells = Matrix();
  for (auto [proto, name] : {std::pair{TKzProtocol::kzpTCP, "tcp"}, {TKzProtocol::kzpHTTP, "http"},
                             {TKzProtocol::kzpUDP, "udp"}}) {
    SCOPED_TRACE(name);
    std::vector<std::string> lines;
    for (const TCell& c : cells) lines.push_back(c.Line("packet", proto == TKzProtocol::kzpUDP ? "udp" : "tcp"));
    const auto encoded = RefEncode(lines);
    ASSERT_EQ(encoded.size(), cells.size());
    TReceiverProbe probe(proto);
    const uint16_t port = probe.Start();
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t before = Held(probe, cells[i].Kind);
      ASSERT_TRUE(PushBytes(port, proto, encoded[i])) << cells[i].Name();
      ExpectDelivered(probe, cells[i], before);
    }
  }
}

// One channel per data type asks the sender for batches.
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
    PullFrom(probe, sender.Port);
    probe.Receiver.SetActive(true);
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t before = Held(probe, cells[i].Kind);
      sender.Queue(kCodes[int(cells[i].Kind)], encoded[i][0]);
      ExpectDelivered(probe, cells[i], before);
    }
    EXPECT_EQ(probe.Receiver.GetSessionKey(), 3u) << "the key pinned on the command channel";
  }
}

TEST(ReceiverFilter, AcceptsByItemGUIDListedGUIDOrDefault) {
  const TGUID a{1, 0, 0, {}}, b{2, 0, 0, {}}, c{3, 0, 0, {}};
  using E = TKzSenderFilter::TEntry;
  auto named = [](TGUID G) { return E{G, "", 0, {}, {true, true, true, true, true}}; };
  auto audio = [](std::vector<TGUID> L, bool Default) {  // an item without GUID listing audio senders
    E e;
    e.Lists[1] = std::move(L);
    e.Defaults[1] = Default;
    return e;
  };
  const struct {
    const char* Name;
    std::vector<E> Items;
    uint8_t Code;
    TGUID From;
    bool Accepted;
  } cases[] = {
      {"no items: everything", {}, DATA_TYPE_AUDIO, c, true},
      {"the item's own GUID", {named(a)}, DATA_TYPE_VIDEO, a, true},
      {"another item's GUID", {named(a)}, DATA_TYPE_VIDEO, b, false},
      {"listed for the type", {audio({b}, true)}, DATA_TYPE_AUDIO, b, true},
      {"not listed for the type", {audio({b}, true)}, DATA_TYPE_AUDIO, c, false},
      {"the list of another type", {audio({b}, true)}, DATA_TYPE_VIDEO, c, true},
      {"empty entry in the list", {audio({TGUID{}}, false)}, DATA_TYPE_AUDIO, c, true},
      {"empty list, default off", {audio({}, false)}, DATA_TYPE_AUDIO, a, false},
      {"empty list, default on", {audio({}, true)}, DATA_TYPE_AUDIO, a, true},
      {"one of two items", {named(a), audio({}, false)}, DATA_TYPE_AUDIO, a, true},
  };
  for (const auto& t : cases) EXPECT_EQ(TKzSenderFilter{t.Items}.Accepts(t.Code, t.From), t.Accepted) << t.Name;
}

// The filter, the accepted types and FilterSystemCmd on a live receiver.
TEST(ReceiverFilter, RejectedDataIsDroppedAndSystemCommandsAreFilteredOrNot) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell blocked = MakeCell(TKind::User, false, true, 40), allowed = MakeCell(TKind::User, false, true, 41);
  const TCell video = MakeCell(TKind::Png, false, true, 41);
  const auto enc = RefEncode({blocked.Line("packet", "tcp"), allowed.Line("packet", "tcp"), video.Line("packet", "tcp"),
                              "packet type=8 payload=" + ToHex(GroupCmdPayload("KzS_GROUP_JOIN", "g1")),
                              "packet type=8 payload=" + ToHex(GroupCmdPayload("Plain", "g2"))});
  TReceiverProbe probe;
  auto& item = probe.Receiver.Senders().Add();
  item.SetDefaultAcceptAll(TKzMediaType::kzmtUserData, false);
  item.UserDataSenders().AddGUID(GUIDToStringA(allowed.From));
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtUserData, TKzMediaType::kzmtCmdData});
  const uint16_t port = probe.Start();
  for (int i : {2, 0, 1, 3, 4}) ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[i]));  // each read to its end
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.UserData) >= 1 && probe.Count(probe.Commands) >= 1; }, 20000));
  probe.Receiver.AddSender(TKzMediaType::kzmtUserData, GUIDToStringA(blocked.From));
  probe.Receiver.SetFilterSystemCmd(false);
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[0]));
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[3]));
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.UserData) >= 2 && probe.Count(probe.Commands) >= 2; }, 20000));
  std::lock_guard<std::mutex> g(probe.Lock);
  EXPECT_EQ(probe.UserData, (std::vector<TBytes>{allowed.Payload, blocked.Payload}));
  EXPECT_TRUE(probe.Shown.empty()) << "video is not among the accepted types";
  EXPECT_EQ(probe.Joins, (std::vector<std::string>{"join g1", "join g1"}));
  EXPECT_EQ(probe.Commands[0].second.Name, "Plain");
  EXPECT_EQ(probe.Commands[1].second.Name, "KzS_GROUP_JOIN") << "unfiltered, the application gets it too";
}

TEST(ReceiverPull, OnlyAcceptedTypesGetAChannel) {
  TFakePullSender sender;
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo});
  probe.Receiver.SetActive(true);
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 0) << "no senders: no channel";
  PullFrom(probe, sender.Port);  // restarts the receiver with the sender
  ASSERT_TRUE(PumpUntil([&] { return sender.RequestCount("VDGET") >= 3; }));
  EXPECT_EQ(sender.Connections(), 1);
  EXPECT_EQ(probe.Receiver.GetMaxChannelCount(), 1);
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 1);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo, TKzMediaType::kzmtCmdData});
  ASSERT_TRUE(PumpUntil([&] { return sender.RequestCount("CDGET") >= 1; }));
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 2);
  EXPECT_EQ(sender.RequestCount("VDGET") + sender.RequestCount("CDGET"), sender.Requests().size());
}

TEST(ReceiverPull, ANewSessionKeyReconnectsAndDeliversTheNewSession) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell first = MakeCell(TKind::Png, false, true, 50), second = MakeCell(TKind::Png, false, true, 51);
  const auto enc = RefEncode({first.Line("batch", "tcp", 3), second.Line("batch", "tcp", 4)});
  TFakePullSender sender;
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo});
  PullFrom(probe, sender.Port);
  probe.Receiver.SetActive(true);
  sender.Queue(DATA_TYPE_VIDEO, enc[0][0]);
  ExpectDelivered(probe, first, 0);
  sender.Key = 4;  // the sender restarted
  ASSERT_TRUE(PumpUntil([&] { return sender.Connections() >= 2; })) << "key 3 then 4 on one connection reconnects";
  sender.Queue(DATA_TYPE_VIDEO, enc[1][0]);
  ExpectDelivered(probe, second, 1);
  for (const auto& r : sender.Requests())  // the key pinned on their connection, 0 before the first answer
    EXPECT_TRUE(r.Key == 0 || r.Key == (r.Connection == 1 ? 3u : 4u)) << r.Connection << " " << r.Key;
}

TEST(ReceiverPull, FailedConnectsEndTheChannelWithAnErrorAndItsClose) {
  const uint16_t closedPort = FreePort();  // nothing listens there
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtAudio});
  probe.Receiver.SetRetryCount(3);
  PullFrom(probe, closedPort);
  probe.Receiver.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return probe.NoticeCount(1030, DATA_TYPE_AUDIO) == 1; }));
  EXPECT_EQ(probe.NoticeCount(KZ_MSG_CONNECTION_ERROR, DATA_TYPE_AUDIO), 1u);
  EXPECT_EQ(probe.NoticeCount(KZ_MSG_CONNECTED, DATA_TYPE_AUDIO), 0u);
  EXPECT_EQ(probe.Receiver.GetOpenChannelCount(), 0);
}

TEST(ReceiverPull, PollingSlowsAfterAHundredEmptyAnswersAndDataResetsIt) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell cell = MakeCell(TKind::Png, false, false, 60);
  const auto enc = RefEncode({cell.Line("batch", "tcp", 3)});
  TFakePullSender sender;
  TReceiverProbe probe(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender);
  probe.Receiver.SetReceiveMediaTypes({TKzMediaType::kzmtVideo});
  PullFrom(probe, sender.Port);
  probe.Receiver.SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return sender.RequestCount("VDGET") >= 103; }, 30000));
  const auto r = sender.Requests();
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(r[102].At - r[101].At).count(), 900)
      << "idle: once a second";
  sender.Queue(DATA_TYPE_VIDEO, enc[0][0]);
  ExpectDelivered(probe, cell, 0);
  // Data reset the count: polls come 100 ms apart again (idle, twenty would take twenty seconds).
  const size_t after = sender.RequestCount("VDGET");
  EXPECT_TRUE(PumpUntil([&] { return sender.RequestCount("VDGET") >= after + 20; }, 15000));
}

TEST(ReceiverLifecycle, DeactivationEndsEveryThreadAndFreesEverySocket) {
  TFakePullSender sender;
  TReceiverProbe pull(TKzProtocol::kzpTCP, TKzTCPConnectionType::kztcpReceiverToSender), push;
  PullFrom(pull, sender.Port);
  pull.Receiver.SetActive(true);
  const uint16_t port = push.Start();
  std::string error;
  TKzSocket peer = KzMConnectStream({"127.0.0.1", port, TKzProtocol::kzpTCP, nullptr, 3000}, nullptr, error);
  ASSERT_TRUE(PumpUntil([&] { return sender.OpenConnections() == 5; }));
  const auto start = std::chrono::steady_clock::now();
  pull.Receiver.SetActive(false);
  push.Receiver.SetActive(false);
  EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(PumpUntil([&] { return sender.OpenConnections() == 0; })) << "the pulled channels' sockets are closed";
  uint8_t b;
  EXPECT_TRUE(PlatformPollRead(peer, 3000) == 1 && PlatformRecv(peer, &b, 1) == 0) << "the pushed connection is closed";
  PlatformCloseSocket(peer);
  TKzSocket again = PlatformListenTCP(0, port, 1);
  EXPECT_NE(again, KZ_INVALID_SOCKET) << "the listening port is free again";
  PlatformCloseSocket(again);
}

TEST(ReceiverTool, PrintsPerSenderAndWritesSnapshotsAndFilesIntoItsFolder) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell frame = MakeCell(TKind::Png, false, true, 70), file = MakeCell(TKind::File, false, true, 70);
  const auto enc = RefEncode({frame.Line("packet", "tcp"), file.Line("packet", "tcp")});
  TTempDir dir;
  const std::string port = std::to_string(FreePort());
  int status = -1;
  std::thread tool([&] {
    status = std::system((AppPath("kztool") + " receive --listen " + port + " --seconds 6 --out " + (dir / "out") +
                          " > " + (dir / "run.out") + " 2>&1").c_str());
  });
  bool sent = false;
  for (int i = 0; i < 100 && !sent; ++i)  // until the tool listens
    sent = (std::this_thread::sleep_for(std::chrono::milliseconds(50)), PushBytes(uint16_t(std::stoi(port)), TKzProtocol::kzpTCP, enc[0]));
  EXPECT_TRUE(sent && PushBytes(uint16_t(std::stoi(port)), TKzProtocol::kzpTCP, enc[1]));
  tool.join();
  const std::string out = ReadFile(dir / "run.out");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("sender " + GUIDToStringA(frame.From) + ": frames 1 "), std::string::npos) << out;
  EXPECT_NE(out.find("files 1"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(dir / "out/up.bin"), std::string(file.Payload.begin(), file.Payload.end())) << "inside the folder";
  const std::string png = ReadFile(dir / "out/sender1.png");
  EXPECT_TRUE(!png.empty() && SamePixels(DecodePicture(TBytes(png.begin(), png.end())), frame.Picture)) << out;
}

TEST(ReceiverAudio, VolumeScalesWhatReachesTheOutput) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const TCell cell = MakeCell(TKind::Audio, false, false, 80);  // 16-bit samples
  const auto enc = RefEncode({cell.Line("packet", "tcp")});
  TReceiverProbe probe;
  const uint16_t port = probe.Start();
  probe.Receiver.SetVolume(50);
  ASSERT_TRUE(PushBytes(port, TKzProtocol::kzpTCP, enc[0]));
  ASSERT_TRUE(PumpUntil([&] { return probe.Count(probe.Audio) == 1; }));
  std::lock_guard<std::mutex> g(probe.Lock);
  const TBytes& got = probe.Audio[0].second;
  ASSERT_EQ(got.size(), cell.Samples.size());
  for (size_t i = 0; i + 1 < got.size(); i += 2)
    ASSERT_EQ(int16_t(got[i] | got[i + 1] << 8), int16_t(cell.Samples[i] | cell.Samples[i + 1] << 8) / 2) << i;
}
