// Packet format behaviour the byte-for-byte comparison with the reference
// codec does not reach: reading any split of a stream, what readers drop,
// pulled batches, commands cut short, marker searches, and sending through
// real loopback sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "streaming/Fmxmkzcmd.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzStreamMarkers.h"
#include "tests/streaming/kzpackettestutil.h"

using namespace kz;
using namespace kztest;

namespace {

using TBytes = std::vector<uint8_t>;

TKzPacketSpec Spec(uint16_t Type, TKzCompressionType Comp, uint32_t BufferSize = 8192,
                   TKzProtocol Proto = TKzProtocol::kzpTCP) {
  TKzPacketSpec s;
  s.DataType = Type;
  s.Compression = Comp;
  s.BufferSize = BufferSize;
  s.Protocol = Proto;
  s.GUIDFrom = KzCreateGUID();
  s.Info.AudioInfo = {16000, TKzBitsPerSample::kzbps16, 1};
  s.Info.FileInfo.FileName = "clip.bin";
  return s;
}

// The packets of one payload, all in one buffer (stream) or one each (datagrams).
std::vector<TBytes> Packets(const TKzPacketSpec& S, const TBytes& Payload, uint16_t& Part) {
  TKzPacketWriter writer;
  std::vector<TBytes> out;
  writer.Write(S, Payload.data(), Payload.size(), Part, [&](const uint8_t* P, size_t N) {
    out.emplace_back(P, P + N);
    return true;
  });
  return out;
}

void Append(TBytes& To, const TBytes& Bytes) { To.insert(To.end(), Bytes.begin(), Bytes.end()); }
void Append(TBytes& To, const std::string& Text) { To.insert(To.end(), Text.begin(), Text.end()); }

TBytes Stream(const TKzPacketSpec& S, const TBytes& Payload) {
  uint16_t part = 0;
  TBytes out;
  for (const TBytes& p : Packets(S, Payload, part)) Append(out, p);
  return out;
}

std::vector<TKzPacket> ReadAll(TKzPacketReader& Reader) {
  std::vector<TKzPacket> out;
  for (TKzPacket p; Reader.Next(p);) out.push_back(std::move(p));
  return out;
}

std::string Describe(const std::vector<TKzPacket>& Packets) {
  std::string s;
  for (const TKzPacket& p : Packets) s += DescribePacket(p) + "\n";
  return s;
}

// Reads Bytes fed in pieces cut at the given offsets, taking the packets
// after each piece into one packet read into again and again, as the
// receiver does (its payload buffers go round through the reader).
std::string ReadSplit(const TBytes& Bytes, const std::vector<size_t>& Cuts) {
  TKzPacketReader reader;
  TKzPacket slot;
  std::vector<TKzPacket> got;
  size_t from = 0;
  for (size_t cut : Cuts) {
    reader.Feed(Bytes.data() + from, cut - from);
    from = cut;
    while (reader.Next(slot)) got.push_back(slot);
  }
  reader.Feed(Bytes.data() + from, Bytes.size() - from);
  while (reader.Next(slot)) got.push_back(slot);
  return Describe(got);
}

TEST(PacketReader, AnySplitOfAStreamGivesTheSamePackets) {
  const TBytes video = TestBytes("900,3", ""), audio = TestBytes("", "700,5"), file = TestBytes("1500,7", "");
  TBytes stream;
  Append(stream, "POST http://host HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  Append(stream, "CON_NULLCON_NULL");
  Append(stream, Stream(Spec(DATA_TYPE_VIDEO, TKzCompressionType::kztcNone, 300), video));
  Append(stream, Stream(Spec(DATA_TYPE_AUDIO, TKzCompressionType::kztcParts, 200), audio));
  Append(stream, "CON_NULL");
  Append(stream, Stream(Spec(DATA_TYPE_FILE, TKzCompressionType::kztcFully), file));
  Append(stream, Stream(Spec(DATA_TYPE_CMD, TKzCompressionType::kztcParts), {}));

  TKzPacketReader whole;
  whole.Feed(stream.data(), stream.size());
  const std::vector<TKzPacket> packets = ReadAll(whole);
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0].Payload, video);
  EXPECT_EQ(packets[1].Payload, audio);
  EXPECT_EQ(packets[2].Payload, file);
  EXPECT_TRUE(packets[3].Payload.empty());
  EXPECT_EQ(whole.Dropped(), 0u);
  const std::string expected = Describe(packets);

  std::vector<size_t> everyByte;
  for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(ReadSplit(stream, everyByte), expected);
  for (size_t cut = 1; cut < stream.size(); ++cut) ASSERT_EQ(ReadSplit(stream, {cut}), expected) << "cut at " << cut;
}

TEST(PacketReader, DropsWhatItCannotTrustAndReadsOn) {
  const TBytes after = TestBytes("64,1", "");
  const TBytes next = Stream(Spec(DATA_TYPE_USERDATA, TKzCompressionType::kztcNone), after);
  TKzDeflater deflater(9);
  auto header = [](uint16_t Type, TKzCompressionType Comp, int64_t LenPack) {
    TBytes h(100);
    h.resize(static_cast<size_t>(FillHeader(h.data(), 100, Type, Comp, 0, LenPack, {}, {}, {}, {}, 0, false,
                                            TKzProtocol::kzpTCP)));
    return h;
  };
  TBytes bomb, overLength;  // 4 MB of zeros in a few kilobytes; 30,000 zeros, within any bound but the packet's
  KzDeflate(TBytes(4 << 20).data(), 4 << 20, 9, bomb);
  KzDeflate(TBytes(30000).data(), 30000, 9, overLength);
  const TBytes data100 = TestBytes("100,9", "");
  struct TRow {
    const char* Name;
    std::function<TBytes()> Bytes;
    std::vector<size_t> Sizes;  // payload sizes read, the trailing user-data packet included
    uint64_t Dropped;
  };
  const TRow rows[] = {
      {"misplaced block end skipped",
       [&] {
         TBytes b = header(DATA_TYPE_VIDEO, TKzCompressionType::kztcParts, 100);
         Append(b, std::string("mcBD\x05\x00" "12345XXXX", 15));
         KzAppendBlock(b, data100.data(), 100, deflater);
         return b;
       },
       {100, 64}, 1},
      {"block inflating past the packet's length dropped",
       [&] {
         TBytes b = header(DATA_TYPE_VIDEO, TKzCompressionType::kztcParts, 100);
         Append(b, "mcBD");
         b.push_back(static_cast<uint8_t>(overLength.size()));
         b.push_back(static_cast<uint8_t>(overLength.size() >> 8));
         Append(b, overLength);
         Append(b, "mcED");
         KzAppendBlock(b, data100.data(), 100, deflater);
         return b;
       },
       {100, 64}, 1},
      {"whole payload inflating past its bound dropped",
       [&] {
         TBytes b = header(DATA_TYPE_VIDEO, TKzCompressionType::kztcFully, static_cast<int64_t>(bomb.size()));
         Append(b, bomb);
         return b;
       },
       {64}, 1},
      {"packet cut short by the next header",
       [&] {
         TBytes b = header(DATA_TYPE_AUDIO, TKzCompressionType::kztcParts, 5000);
         KzAppendBlock(b, data100.data(), 100, deflater);
         return b;
       },
       {64}, 1},
      {"unknown data type", [&] { return header(DATA_TYPE_VIDEO | 3, TKzCompressionType::kztcNone, 0); }, {64}, 1},
      {"length over the limit", [&] { return header(DATA_TYPE_VIDEO, TKzCompressionType::kztcNone, KZ_MAX_PAYLOAD + 1); },
       {64}, 1},
  };
  for (const TRow& row : rows) {
    TBytes bytes = row.Bytes();
    Append(bytes, next);
    TKzPacketReader reader;
    reader.Feed(bytes.data(), bytes.size());
    std::vector<size_t> sizes;
    for (const TKzPacket& p : ReadAll(reader)) sizes.push_back(p.Payload.size());
    EXPECT_EQ(sizes, row.Sizes) << row.Name;
    EXPECT_EQ(reader.Dropped(), row.Dropped) << row.Name;
  }
}

TEST(PacketReader, FilePayloadsAreHandedOnInParts) {
  const TBytes file = TestBytes("", "2600000,4");  // 2.6 MB: two whole parts and a rest
  for (TKzCompressionType comp : {TKzCompressionType::kztcNone, TKzCompressionType::kztcParts}) {
    TKzPacketSpec s = Spec(DATA_TYPE_FILE, comp, 65536);
    s.FileStart = 5000;
    const TBytes wire = Stream(s, file);
    TKzPacketReader reader;
    TKzPacket slot;  // read into again and again; its first buffer is one of an earlier packet
    slot.Payload.assign(100, 0xAB);
    std::vector<TKzPacket> parts;
    for (size_t at = 0; at < wire.size(); at += 100000) {
      reader.Feed(wire.data() + at, std::min<size_t>(100000, wire.size() - at));
      while (reader.Next(slot)) parts.push_back(slot);
    }
    TBytes joined;
    ASSERT_EQ(parts.size(), 3u);
    for (const TKzPacket& p : parts) {
      EXPECT_EQ(p.PartOffset, static_cast<int64_t>(joined.size()));
      EXPECT_EQ(p.Header.Info.FileInfo.FileOffs, 5000 + p.PartOffset);
      EXPECT_EQ(p.Last, &p == &parts.back());
      Append(joined, p.Payload);
    }
    EXPECT_EQ(joined, file);
    EXPECT_LE(parts[0].Payload.size(), static_cast<size_t>(KZ_FILE_PART + (comp == TKzCompressionType::kztcNone ? 0 : KZ_MAX_BLOCK_DATA)));
  }
}

TEST(BatchReader, AnswersReadWholeAtAnySplit) {
  TBytes payload = TestBytes("300,5", "");
  std::memcpy(payload.data() + 40, "hmHTxxxxhmSExxxxhmSB", 20);  // markers inside the data
  TKzPacketSpec s = Spec(DATA_TYPE_VIDEO, TKzCompressionType::kztcNone);
  const TKzQueuedPayload queued{s, payload.data(), payload.size()};
  TKzPacketWriter writer;
  uint16_t part = 0;
  TBytes answers;
  KzBuildChannelAnswer({"CLRAD", {}, 0}, 7, &queued, writer, part, answers);
  KzBuildChannelAnswer({"VDGET", {}, 0}, 7, &queued, writer, part, answers);
  KzBuildChannelAnswer({"ADGET", {}, 0}, 7, &queued, writer, part, answers);  // nothing of that type queued
  const size_t validEnd = answers.size();
  KzBuildChannelAnswer({"VDGET", {}, 0}, 7, &queued, writer, part, answers);
  answers[answers.size() - 12] ^= 1;  // the end pack's key disagrees

  auto read = [&](size_t Cut) {
    TKzBatchReader reader;
    reader.Feed(answers.data(), Cut);
    reader.Feed(answers.data() + Cut, answers.size() - Cut);
    std::string s;
    for (TKzBatch b; reader.Next(b);) {
      s += DescribeSessionPack(b.Begin) + (b.Valid ? " valid\n" : " invalid\n");
      for (const TKzBatchChunk& c : b.Chunks) s += DescribeHeaderPack(c.HeaderPack) + "\n" + DescribeStream(c.Packet);
    }
    return s;
  };
  const std::string whole = read(answers.size());
  TKzPacket expected;
  expected.Header.DataTypeWord = DATA_TYPE_VIDEO | DATA_FLAG_GUIDFROM;
  expected.Header.GUIDFrom = s.GUIDFrom;
  expected.Header.IndexPart = 0;
  expected.Payload = payload;
  const int64_t t = static_cast<int64_t>(validEnd) - 16 * 4 - 60;
  EXPECT_EQ(whole, "spack marker=hmSN key=7 len=0 valid\n"
                   "spack marker=hmSB key=7 len=" + std::to_string(t + 60) + " valid\n" +
                   DescribeHeaderPack({HEADER_MARKER_TCP, t, {}, s.GUIDFrom, {}}) + "\n" + DescribePacket(expected) +
                   "\nspack marker=hmSN key=7 len=0 valid\n"
                   "spack marker=hmSB key=7 len=" + std::to_string(t + 60) + " invalid\n");
  for (size_t cut = 0; cut < answers.size(); ++cut) ASSERT_EQ(read(cut), whole) << "cut at " << cut;
}

TEST(Commands, CutsGiveAnEmptyNameAndWrongSizesTheFallback) {
  TKzCmd cmd;
  cmd.Name = "Kz_Test";
  cmd.AddParam("s").SetString("text");
  cmd.AddParam("i").SetInteger(-1234567890123);
  cmd.AddParam("o").SetBoolean(true);
  TMemoryStream one;
  cmd.SaveToStream(one);
  for (int64_t cut = 0; cut <= one.Size(); ++cut) {
    TMemoryStream part;
    part.Write(one.Memory(), cut);
    part.SetPosition(0);
    TKzCmd got;
    EXPECT_EQ(got.LoadFromStream(part), cut == one.Size());
    EXPECT_EQ(got.Name, cut == one.Size() ? "Kz_Test" : "") << "cut at " << cut;
    if (cut == one.Size()) {
      EXPECT_EQ(got.GetAsIntegerSafe("i", 0), -1234567890123);
      EXPECT_EQ(got.GetAsIntegerSafe("s", 99), 99) << "a value of the wrong size reads as the fallback";
      EXPECT_FALSE(got.GetAsBooleanSafe("i", false));
    }
  }
}

TEST(Markers, SearchesFindMarkersAcrossWindowsAndRemovalKeepsTheTail) {
  TMemoryStream s;
  s.SetSize(KZ_MARKER_WINDOW + 100);
  std::memset(s.Memory(), 'x', static_cast<size_t>(s.Size()));
  std::memcpy(s.Memory() + KZ_MARKER_WINDOW - 2, "hmHU", 4);  // across the first window's end
  std::memcpy(s.Memory() + KZ_MARKER_WINDOW + 50, "mdBDhmHT", 8);
  TKzProtocol proto = TKzProtocol::kzpHTTP;
  EXPECT_EQ(SearchMarkerProtocol(0, s, proto), KZ_MARKER_WINDOW - 2);
  EXPECT_EQ(proto, TKzProtocol::kzpUDP);
  EXPECT_EQ(s.Position(), KZ_MARKER_WINDOW + 2);
  EXPECT_EQ(SearchMarkerSingle(KZ_MARKER_WINDOW, s, HEADER_MARKER_TCP), KZ_MARKER_WINDOW + 54);
  EXPECT_EQ(SearchMarkerSingle(KZ_MARKER_WINDOW + 55, s, HEADER_MARKER_TCP), -1);
  EXPECT_EQ(s.Position(), s.Size());
  int64_t pos = 0, next = 0;
  ASSERT_TRUE(GetMarkerOffs(s, pos, next, true));
  EXPECT_EQ(pos, KZ_MARKER_WINDOW + 50);
  EXPECT_EQ(next, s.Size());
  EXPECT_TRUE(IsMarkerAt(s, pos, MARKER));

  const std::string name = KzMGetTempFileName("kzremove");
  TFileStream f(name, TFileMode::fmCreate);
  const TBytes data = TestBytes("", "3000,1");
  f.Write(data.data(), static_cast<int64_t>(data.size()));
  KzMRemoveFromBeginning(f, 1000);
  TBytes rest(2000);
  f.SetPosition(0);
  ASSERT_EQ(f.Size(), 2000);
  f.Read(rest.data(), 2000);
  EXPECT_EQ(rest, TBytes(data.begin() + 1000, data.end()));
  std::remove(name.c_str());
}

TEST(HttpPreamble, RecognisedSkippedOrRefused) {
  struct TRow {
    std::string Text;
    TKzHttpPreamble Result;
  };
  const TRow rows[] = {
      {"POST http://h HTTP/1.1\r\nHost: h\r\n\r\nmdBD", TKzHttpPreamble::kzhpFound},
      {"CONNECT h:80\r\n\r\n", TKzHttpPreamble::kzhpFound},
      {"GET / HTTP/1.1\r\nHost: h\r\n", TKzHttpPreamble::kzhpIncomplete},
      {"CON", TKzHttpPreamble::kzhpIncomplete},
      {"CON_NULLmdBD", TKzHttpPreamble::kzhpNone},
      {"GET " + std::string(KZ_HTTP_PREAMBLE_MAX, 'a'), TKzHttpPreamble::kzhpTooLong},
  };
  for (const TRow& row : rows) {
    size_t end = 0;
    EXPECT_EQ(KzMatchHttpPreamble(reinterpret_cast<const uint8_t*>(row.Text.data()), row.Text.size(), end), row.Result)
        << row.Text.substr(0, 40);
    if (row.Result == TKzHttpPreamble::kzhpFound) {
      EXPECT_EQ(row.Text.substr(end - 4, 4), "\r\n\r\n");
    }
  }
  EXPECT_EQ(KzProxyPreamble("relay.invalid", 8080, "Basic a2E6cA=="),
            "CONNECT relay.invalid:8080 HTTP/1.1\r\nHost: relay.invalid:8080\r\n"
            "Proxy-Authorization: Basic a2E6cA==\r\n\r\n");
}

// A connected pair of stream sockets on loopback.
struct TLoopback {
  TKzSocket Listener = PlatformListenTCP(htonl(0x7F000001), 0, 1);
  TKzSocket Client = PlatformSocketTCP();
  TKzSocket Server = KZ_INVALID_SOCKET;
  TLoopback() {
    PlatformConnect(Client, htonl(0x7F000001), PlatformSocketLocalPort(Listener));
    Server = PlatformAccept(Listener, 5000);
  }
  ~TLoopback() {
    PlatformCloseSocket(Client);
    PlatformCloseSocket(Server);
    PlatformCloseSocket(Listener);
  }
  // Reads from Server into Reader until a packet is there (bounded).
  bool ReadPacket(TKzPacketReader& Reader, TKzPacket& Packet) {
    uint8_t buf[65536];
    for (int i = 0; i < 1000 && !Reader.Next(Packet); ++i) {
      if (PlatformPollRead(Server, 100) != 1) continue;
      const int64_t n = PlatformRecv(Server, buf, sizeof buf);
      if (n <= 0) return false;
      Reader.Feed(buf, static_cast<size_t>(n));
      if (Reader.Next(Packet)) return true;
    }
    return false;
  }
};

TEST(KzSendStream, SendsThroughLoopbackSocketsAndReportsFailure) {
  const TBytes payload = TestBytes("300000,11", "");
  TMemoryStream stream, dump;
  stream.Write(payload.data(), static_cast<int64_t>(payload.size()));
  stream.SetPosition(0);
  TLoopback tcp;
  ASSERT_NE(tcp.Server, KZ_INVALID_SOCKET);
  TKzSendStreamArgs args;
  args.Spec = Spec(DATA_TYPE_VIDEO, TKzCompressionType::kztcParts);
  args.SendParam.BufferSize = 65536;
  args.Socket = tcp.Client;
  args.Dump = &dump;
  uint16_t part = 0;
  int64_t sent = -1;
  std::thread sender([&] { sent = KzSendStream(args, stream, part); });
  TKzPacketReader reader;
  TKzPacket got;
  const bool read = tcp.ReadPacket(reader, got);
  sender.join();
  ASSERT_TRUE(read);
  EXPECT_EQ(got.Payload, payload);
  EXPECT_EQ(sent, dump.Size());
  EXPECT_LT(sent, static_cast<int64_t>(payload.size())) << "blocks compress";

  TKzSocket udp = PlatformBindUDP(htonl(0x7F000001), 0);
  args.Spec.Protocol = TKzProtocol::kzpUDP;
  args.Spec.Compression = TKzCompressionType::kztcNone;
  args.SendParam.BufferSize = 1200;
  args.Socket = PlatformBindUDP(0, 0);
  args.Address = htonl(0x7F000001);
  args.Port = PlatformSocketLocalPort(udp);
  args.Dump = nullptr;
  TMemoryStream small;
  small.Write(payload.data(), 5000);
  small.SetPosition(0);
  EXPECT_GT(KzSendStream(args, small, part), 5000);
  TBytes joined;
  TKzInflater inflater;
  uint8_t buf[2048];
  while (joined.size() < 5000 && PlatformPollRead(udp, 2000) == 1) {
    TKzPacket p;
    const int64_t n = PlatformRecvFrom(udp, buf, sizeof buf);
    ASSERT_TRUE(n > 0 && KzReadDatagram(buf, static_cast<size_t>(n), p, inflater));
    Append(joined, p.Payload);
  }
  EXPECT_EQ(joined, TBytes(payload.begin(), payload.begin() + 5000));
  PlatformCloseSocket(udp);
  PlatformCloseSocket(args.Socket);

  // An HTTP preamble whose blank line comes in a later read is skipped.
  const std::string post = "POST http://h HTTP/1.1\r\nContent-Length: 0\r\n";
  TMemoryStream received;
  received.Write(post.data(), static_cast<int64_t>(post.size()));
  ASSERT_EQ(KzSendAll(tcp.Client, reinterpret_cast<const uint8_t*>("\r\nmdBD"), 6), 6);
  ASSERT_TRUE(KzMIsHttpRequest(tcp.Server, received, false, nullptr, 5000));
  EXPECT_EQ(received.Position(), static_cast<int64_t>(post.size()) + 2);

  args.Spec.Protocol = TKzProtocol::kzpTCP;
  args.SendParam.BufferSize = 8192;
  args.Socket = tcp.Client;
  PlatformCloseSocket(tcp.Server);  // the peer is gone: some send fails
  stream.SetPosition(0);
  EXPECT_EQ(KzSendStream(args, stream, part), -1);
}

}  // namespace
