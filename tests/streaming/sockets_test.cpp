// kz-test-labels: peer slow
// Sockets and connection threads on loopback: push over TCP, UDP and HTTP
// and pull over TCP and HTTP between two processes, directly and through
// tinyproxy; faults on the way; a far end stopped mid-stream; the packets on
// the wire as tshark sees them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzListenerThread.h"
#include "streaming/fmxMKzSenderListener.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzchaosproxy.h"
#include "tests/streaming/kzsockettestutil.h"

using namespace kz;
using namespace kztest;

namespace {

constexpr int kWaitMs = 10000;

// Notifications posted to one component, by number.
struct TEvents {
  std::map<uint32_t, std::vector<TMessage>> Got;
  TEvents() {
    for (uint32_t m : {KZ_MSG_CONNECTED, KZ_MSG_DISCONNECTED, KZ_MSG_CONNECTING})
      KzMessages().RegisterMessageHandler2(this, m, [this, m](TMessage& x) { Got[m].push_back(x); });
  }
  ~TEvents() { KzMessages().UnRegister2(this); }
  size_t Count(uint32_t Msg) { return Got[Msg].size(); }
};

// Ends a receiver and spoils its memory (kept, not freed), so that a call into it crashes.
struct TSpoil {
  void operator()(TRecordingReceiver* R) const {
    static auto* kept = new std::vector<void*>;  // never destroyed: still reachable when the leak check runs
    R->~TRecordingReceiver();
    std::memset(static_cast<void*>(R), 0xA5, sizeof *R);
    kept->push_back(R);
  }
};

// A receiver listening for Protocol on a free loopback port.
struct TPushEnd {
  TEvents Events;
  std::atomic<int> Connected{-1};  // the connection count last told
  std::unique_ptr<TRecordingReceiver, TSpoil> Receiver;
  std::unique_ptr<TKzListenerThread> Listener;
  uint16_t Port = 0;
  explicit TPushEnd(TKzProtocol Protocol, uint32_t TimeoutMs = 3000) : Receiver(new TRecordingReceiver) {
    Receiver->hReceiver = TKzListenerThread::CreateListeningSocket(Protocol, Loopback(), 0);
    Port = PlatformSocketLocalPort(Receiver->hReceiver);
    TKzReceiverConnectionProperties props;
    const auto t = static_cast<int32_t>(TimeoutMs);
    props.SetVideoTimeout(t), props.SetAudioTimeout(t), props.SetDataTimeout(t), props.SetCmdTimeout(t);
    props.SetFileTimeout(t);
    Receiver->Parent = &Events;
    Receiver->ConnectionCountChange = [this](int32_t n) { Connected = n; };
    Listener = std::make_unique<TKzListenerThread>(Receiver.get(), Receiver->hReceiver, Protocol, &Events, props, props);
    StartThread(Listener.get());
  }
  ~TPushEnd() { Listener.reset(); }
};

bool AllOf(TRecord& R, uint64_t Count, int Ms = 20000) {
  return R.WaitFor(Ms, [&](const std::vector<int64_t>& s) { return std::set<int64_t>(s.begin(), s.end()).size() >= Count; });
}

// Two payloads of every data type at least, whichever numbers they are.
bool EveryTypeTwice(TRecord& R, int Ms = 20000) {
  return R.WaitFor(Ms, [](const std::vector<int64_t>& s) {
    std::map<uint8_t, int> perType;
    for (int64_t q : s) q >= 0 && ++perType[KindOf(q).Type];
    return perType.size() == 5 && std::all_of(perType.begin(), perType.end(), [](auto& e) { return e.second >= 2; });
  });
}

// Every payload read was intact and none came twice.
bool Clean(TRecord& R) {
  const std::vector<int64_t> seqs = R.Seqs();
  return std::set<int64_t>(seqs.begin(), seqs.end()).size() == seqs.size() && std::count(seqs.begin(), seqs.end(), -1) == 0;
}

std::string Peer() { return KZ_STREAMPEER; }

// tinyproxy on a free port that tunnels to To. The port is picked once
// the far end listens, so that the two cannot be given the same one.
struct TProxy {
  TTempDir Dir;
  TPeer Process;
  uint16_t Port = 0;
  bool Start(uint16_t To) {
    Port = FreePort();
    WriteFile(Dir / "tp.conf", "Port " + std::to_string(Port) + "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\n"
              "MaxClients 20\nUser nobody\nGroup nogroup\nLogLevel Critical\nConnectPort " + std::to_string(To) + "\n");
    return Process.Start({"tinyproxy", "-d", "-c", Dir / "tp.conf"}, Dir / "tp.out") && Process.WaitListening(Port, 10000);
  }
};

// The packets of payload Seq as a sender cuts them (datagrams no larger than IPv4 carries).
std::vector<std::vector<uint8_t>> PacketsOf(uint64_t Seq, TKzProtocol Protocol, TIndexParts& Index) {
  TKzPacketSpec spec = SpecOf(Seq, Protocol);
  spec.BufferSize = std::min<uint32_t>(spec.BufferSize, KZ_MAX_DATAGRAM);
  const std::vector<uint8_t> p = Payload(Seq);
  std::vector<std::vector<uint8_t>> packets;
  TKzPacketWriter().Write(spec, p.data(), p.size(), Index[spec.DataType], [&](const uint8_t* D, size_t N) {
    packets.emplace_back(D, D + N);
    return true;
  });
  return packets;
}

}  // namespace

TEST(ConnectionProperties, TimeOutsAndBlockingByLowBits) {
  TKzConnectionProperties p;
  p.SetAudioTimeout(0);  // never "no limit"
  const struct { uint16_t Word; uint32_t Timeout; bool Blocking; } rows[] = {{0, 15000, true},     {1, 3000, false},    {0x8001, 3000, false}, {2, 15000, false}, {4, 10000, false},
              {8, 15000, true},     {0x9010, 10000, true}, {3, 15000, true},  {0x20, 15000, true}};
  for (const auto& r : rows) {
    EXPECT_EQ(GetTimeOut(p, r.Word), r.Timeout) << r.Word;
    EXPECT_EQ(GetUseBlocking(p, r.Word), r.Blocking) << r.Word;
  }
}

TEST(SocketList, TheTenThousandthItemEvictsTheOldestAndEndsItsConnection) {
  struct TOwner : IKzSocketItemOwner { int Released = 0; void SocketItemReleased() override { ++Released; } } owner;
  TKzSocketList list;
  for (TKzConnSerial s = 1; s <= 10000; ++s) list.AddSocket(s, KZ_INVALID_SOCKET)->Owner = s == 1 ? &owner : nullptr;
  EXPECT_EQ(list.Count(), TKzSocketList::MaxItems);
  EXPECT_EQ(list.GetSocket(1), nullptr);
  EXPECT_EQ(owner.Released, 1);
}

// Fillers alone reach no reader; a peer that never sends a packet is dropped
// after the idle time with 1026; the listener stops within a second.
TEST(Listener, FillersIdleEndAndStop) {
  TPushEnd end(TKzProtocol::kzpTCP);
  TKzSocket c = KzMConnectTimed(Loopback(), end.Port, 3000);
  ASSERT_TRUE(SendAll(c, "CON_NULLCON_NULL"));
  ASSERT_TRUE(PumpUntil([&] { return end.Connected == 1; }, kWaitMs));
  // The idle time of a connection whose data type is unknown is 15 s.
  ASSERT_TRUE(PumpUntil([&] { return end.Events.Count(KZ_MSG_DISCONNECTED) == 1; }, 25000));
  EXPECT_EQ(end.Receiver->Reads, 0);
  EXPECT_EQ(end.Events.Count(KZ_MSG_CONNECTING), 1u);
  EXPECT_TRUE(PumpUntil([&] { return end.Connected == 0; }, kWaitMs));
  PlatformCloseSocket(c);
  end.Listener->Terminate();
  EXPECT_TRUE(end.Listener->WaitForEnd(1500));
}

// Packet processing queued for the main thread finds the receiver gone and
// calls nothing (a call into the spoilt receiver would crash).
TEST(Listener, PacketProcessingOfAGoneReceiverIsSkipped) {
  TPushEnd end(TKzProtocol::kzpTCP);
  end.Receiver->IsPacketProcessing = true;
  TKzSocket c = KzMConnectTimed(Loopback(), end.Port, 3000);
  TIndexParts index{};
  ASSERT_GT(PushOne(c, TKzProtocol::kzpTCP, 0, 2, index), 0);
  ASSERT_TRUE(AllOf(end.Receiver->Record, 1));
  PlatformCloseSocket(c);
  end.Listener.reset();
  end.Receiver.reset();
  while (CheckSynchronize()) continue;
}

// What the far end sends right after the proxy's reply to CONNECT, in the
// same segment, is the start of the stream.
TEST(StreamConnect, BytesAfterTheProxyReplyAreKept) {
  TScriptedServer proxy([](const std::string&, TKzSocket C, int) {
    SendAll(C, "HTTP/1.1 200 Connection established\r\n\r\nhmSNfirst");
  });
  const TKzProxyProperty via = ProxyAt(proxy.Port());
  std::string error;
  TKzSocket s = KzMConnectStream({"far.invalid", 9, TKzProtocol::kzpTCP, &via, 3000}, nullptr, error);
  ASSERT_NE(s, KZ_INVALID_SOCKET) << error;
  uint8_t buf[64] = {};
  EXPECT_EQ(KzMRecvNonBlock(s, buf, sizeof buf, false, 3000), 9);
  EXPECT_STREQ(reinterpret_cast<const char*>(buf), "hmSNfirst");
  PlatformCloseSocket(s);
}

// The pull side's requests: a POST preamble first is skipped, the first
// request posts 1025, an empty queue answers "hmSN", what was queued comes
// as one batch, fewer than 25 bytes end the connection.
TEST(PullServer, RequestsAndAnswers) {
  TEvents events;
  TKzPullSettings settings;
  settings.Parent = &events;
  TKzSenderListenerThread listener(settings);
  ASSERT_TRUE(listener.Init(0, Loopback()));
  StartThread(&listener);
  TKzSocket c = KzMConnectTimed(Loopback(), listener.Port(), 3000);
  ASSERT_TRUE(KzMSendHttpPreamble(c, "sender.invalid"));
  TKzBatchReader reader;
  TKzBatch batch;
  ASSERT_TRUE(SendRequest(c, "ADGET") && ReadAnswer(c, reader, batch));
  EXPECT_EQ(batch.Begin.MARKER, MARKER_SESSION_NODATA);
  ASSERT_TRUE(PumpUntil([&] { return events.Count(KZ_MSG_CONNECTED) == 1; }, kWaitMs));
  EXPECT_EQ(events.Got[KZ_MSG_CONNECTED][0].WParam, DATA_TYPE_AUDIO);
  for (uint64_t seq : {2, 8}) {  // two audio blocks queued before the next request
    TMemoryStream s;
    const int64_t size = PayloadStream(seq, s).Size();
    EXPECT_EQ(listener.SendStream(s, DATA_TYPE_AUDIO, TKzInfo{}), size);
  }
  ASSERT_TRUE(SendRequest(c, "ADGET") && ReadAnswer(c, reader, batch));
  ASSERT_TRUE(batch.Valid);
  ASSERT_EQ(batch.Chunks.size(), 2u);
  ASSERT_TRUE(SendRequest(c, "CLRAD") && ReadAnswer(c, reader, batch));
  EXPECT_EQ(batch.Begin.MARKER, MARKER_SESSION_NODATA);
  // Video: what the connection was offered and sent is counted.
  ASSERT_TRUE(SendRequest(c, "VDGET") && ReadAnswer(c, reader, batch));
  for (uint64_t seq : {3, 9}) {
    TMemoryStream s;
    listener.SendStream(PayloadStream(seq, s), DATA_TYPE_VIDEO, TKzInfo{});
  }
  ASSERT_TRUE(SendRequest(c, "VDGET") && ReadAnswer(c, reader, batch));
  const std::vector<TKzPullStats> stats = listener.Stats();
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(batch.Chunks.size(), 2u);
  EXPECT_EQ(stats[0].Offered, 2u);
  EXPECT_EQ(stats[0].Sent, 2u);
  ASSERT_TRUE(SendAll(c, "VDGET"));  // 5 bytes, then silence
  PlatformShutdown(c);
  ASSERT_TRUE(PumpUntil([&] { return events.Count(KZ_MSG_DISCONNECTED) == 1 && listener.ConnectionCount() == 0; }, kWaitMs));
  PlatformCloseSocket(c);
  listener.Terminate();
  EXPECT_TRUE(listener.WaitForEnd(1500));
}

// Every kind of packet between two processes, each way of connecting.
TEST(TwoProcesses, CarryEveryKindOfPacket) {
  KZ_NEED(HaveProgram("tinyproxy"), "tinyproxy is not installed");
  const struct { const char* Name; TKzProtocol Protocol; bool Pull, Proxy; } rows[] = {{"tcp", TKzProtocol::kzpTCP, false, false},  {"udp", TKzProtocol::kzpUDP, false, false},
              {"http", TKzProtocol::kzpHTTP, false, false}, {"tcp", TKzProtocol::kzpTCP, false, true},
              {"tcp", TKzProtocol::kzpTCP, true, false},    {"http", TKzProtocol::kzpHTTP, true, false},
              {"http", TKzProtocol::kzpHTTP, true, true}};
  const uint64_t kCount = 2 * PayloadKinds().size();
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.Name) + (r.Pull ? " pull" : " push") + (r.Proxy ? " via tinyproxy" : ""));
    TTempDir dir;
    TProxy proxy;
    if (!r.Pull) {
      TPushEnd end(r.Protocol);
      ASSERT_TRUE(!r.Proxy || proxy.Start(end.Port));
      // Datagrams may be lost: the peer sends until stopped, and enough must come.
      const bool udp = r.Protocol == TKzProtocol::kzpUDP;
      TPeer peer;
      ASSERT_TRUE(peer.Start({Peer(), "push", r.Name, std::to_string(end.Port), std::to_string(r.Proxy ? proxy.Port : 0),
                              "0", udp ? "0" : std::to_string(kCount)}, dir / "peer.out"));
      EXPECT_TRUE(udp ? EveryTypeTwice(end.Receiver->Record) : AllOf(end.Receiver->Record, kCount)) << ReadFile(dir / "peer.out");
      EXPECT_TRUE(Clean(end.Receiver->Record));
      continue;
    }
    const uint16_t port = FreePort();
    TPeer peer;
    ASSERT_TRUE(peer.Start({Peer(), "pullserve", std::to_string(port)}, dir / "peer.out"));
    ASSERT_TRUE(peer.WaitListening(port, 10000));
    ASSERT_TRUE(!r.Proxy || proxy.Start(port));
    const TKzProxyProperty via = ProxyAt(proxy.Port);
    TRecord record;
    std::atomic<bool> stop{false};
    std::vector<std::thread> pulls;
    for (uint8_t type : {1, 2, 4, 8, 16})
      pulls.emplace_back([&, type] { PullFrom(port, &via, r.Protocol, type, record, stop); });
    const bool all = EveryTypeTwice(record);
    stop = true;
    for (auto& t : pulls) t.join();
    EXPECT_TRUE(all) << ReadFile(dir / "peer.out");
    EXPECT_TRUE(Clean(record));
  }
}

// A sender's stream through the chaos proxy, one fault 200,000 bytes in
// (inside the first, large packet): every payload that arrives is intact,
// none twice, and the payloads sent after the fault arrive.
TEST(Chaos, FaultsBetweenSenderAndReceiver) {
  constexpr size_t kFaultAt = 200000;
  const uint64_t kCount = 3 * PayloadKinds().size();
  for (TChaosFault fault : {TChaosFault::OneByteWrites, TChaosFault::CutMidPacket, TChaosFault::Garbage,
                            TChaosFault::Stall, TChaosFault::Reset}) {
    SCOPED_TRACE(static_cast<int>(fault));
    TPushEnd end(TKzProtocol::kzpTCP);
    TChaosProxy proxy(end.Port, fault, kFaultAt);
    const bool cuts = fault == TChaosFault::CutMidPacket || fault == TChaosFault::Reset;
    TKzSocket s = KzMConnectTimed(Loopback(), proxy.Port, 3000);
    TIndexParts index{};
    for (uint64_t seq = 0; seq < kCount; ++seq) {
      std::vector<uint8_t> bytes;
      for (const auto& p : PacketsOf(seq, TKzProtocol::kzpTCP, index)) bytes.insert(bytes.end(), p.begin(), p.end());
      const int64_t sent = KzSendAll(s, bytes.data(), bytes.size());
      if (seq > 0 || !cuts) {
        ASSERT_GT(sent, -1);  // a cut may fail the send that runs into it
      }
      if (seq == 0 && cuts) {  // the rest of payload 0 is lost; the sender connects again
        ASSERT_TRUE(PumpUntil([&] { return proxy.Struck(); }, kWaitMs));
        PlatformCloseSocket(s);
        s = KzMConnectTimed(Loopback(), proxy.Port, 3000);
      }
    }
    EXPECT_TRUE(AllOf(end.Receiver->Record, cuts ? kCount - 1 : kCount));
    EXPECT_TRUE(proxy.Struck());
    if (fault == TChaosFault::Garbage) {
      // The marker lands inside payload 0, whose bytes carry no checksum on
      // the wire: that one may arrive damaged; none arrives twice.
      std::vector<int64_t> intact = end.Receiver->Record.Seqs();
      std::erase(intact, int64_t{-1});
      EXPECT_LE(end.Receiver->Record.Bad(), 1);
      EXPECT_EQ(std::set<int64_t>(intact.begin(), intact.end()).size(), intact.size());
    } else {
      EXPECT_TRUE(Clean(end.Receiver->Record));
    }
    PlatformShutdown(s);
    PlatformCloseSocket(s);
  }
}

// Datagrams of a payload that spans several lost, repeated or overtaken on
// the way: that payload is dropped or read once, never spliced with another
// or read twice, and the payloads after it arrive.
TEST(Chaos, DatagramsLostRepeatedOrOvertaken) {
  enum class TFault { Lose, Repeat, Overtake };
  // At: the datagram, counted from the first: 1 is inside payload 0, 8 is payload 2 whole.
  const struct { TFault Fault; size_t At; } rows[] = {
      {TFault::Lose, 1}, {TFault::Repeat, 1}, {TFault::Overtake, 1}, {TFault::Repeat, 8}};
  for (const auto& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.Fault) * 10 + static_cast<int>(r.At));
    TPushEnd end(TKzProtocol::kzpUDP);
    TKzSocket s = PlatformSocketUDP();
    auto send = [&](const std::vector<uint8_t>& D) {
      PlatformSendTo(s, D.data(), static_cast<int64_t>(D.size()), Loopback(), end.Port);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    TIndexParts index{};
    size_t at = 0;
    // Until six payloads after the faulty ones came (datagrams may also be lost by themselves).
    for (uint64_t seq = 0; seq < 600 && !end.Receiver->Record.WaitFor(5, [](const std::vector<int64_t>& got) {
           return std::count_if(got.begin(), got.end(), [](int64_t q) { return q > 2; }) >= 6;
         }); ++seq) {
      const auto packets = PacketsOf(seq, TKzProtocol::kzpUDP, index);
      for (size_t i = 0; i < packets.size(); ++i, ++at) {
        if (at == r.At && r.Fault == TFault::Overtake && i + 1 < packets.size()) send(packets[i + 1]);
        if (at != r.At || r.Fault != TFault::Lose) send(packets[i]);
        if (at == r.At && r.Fault == TFault::Repeat) send(packets[i]);
        if (at == r.At && r.Fault == TFault::Overtake && i + 1 < packets.size()) ++i, ++at;
      }
    }
    EXPECT_TRUE(Clean(end.Receiver->Record));
    PlatformCloseSocket(s);
  }
}

// A sender stopped mid-stream is noticed within the receiver's time-out,
// everything of its connection is freed, and once it goes on its new
// connection is served. (A connection that ends mid-packet: the chaos rows.)
TEST(TwoProcesses, PeerStoppedIsNoticedFreedAndServedAgain) {
  TTempDir dir;
  TPeer peer;
  TPushEnd end(TKzProtocol::kzpTCP, 1500);
  ASSERT_TRUE(peer.Start({Peer(), "push", "tcp", std::to_string(end.Port), "0", "0", "0"}, dir / "peer.out"));
  ASSERT_TRUE(AllOf(end.Receiver->Record, 6));
  peer.Signal(SIGSTOP);
  EXPECT_TRUE(PumpUntil([&] {
    return end.Listener->ConnectedCount() == 0 && end.Receiver->Items() == 0 && end.Events.Count(KZ_MSG_DISCONNECTED) > 0;
  }, kWaitMs));
  const size_t before = end.Receiver->Record.Seqs().size();
  peer.Signal(SIGCONT);
  EXPECT_TRUE(end.Receiver->Record.WaitFor(20000, [&](const std::vector<int64_t>& s) { return s.size() >= before + 6; }));
  EXPECT_TRUE(Clean(end.Receiver->Record));
}

// On the wire: no datagram longer than 65,507 bytes (and the long payloads
// do fill them), and an HTTP connection starting with its POST request.
TEST(TwoProcesses, TsharkSeesDatagramSizesAndThePostHeader) {
  KZ_NEED(HaveProgram("tshark"), "tshark is not installed");
  TTempDir dir;
  TPushEnd udp(TKzProtocol::kzpUDP), http(TKzProtocol::kzpHTTP);
  const std::string pcap = dir / "lo.pcap";
  TPeer capture;
  ASSERT_TRUE(capture.Start({"tshark", "-i", "lo", "-w", pcap, "-f",
                             "udp port " + std::to_string(udp.Port) + " or tcp port " + std::to_string(http.Port)},
                            dir / "tshark.out"));
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(dir / "tshark.out").find("Capture started") != std::string::npos; }, 30000))
      << ReadFile(dir / "tshark.out");
  for (TPushEnd* end : {&udp, &http}) {  // datagrams may be lost: that peer sends until stopped
    TPeer peer;
    ASSERT_TRUE(peer.Start({Peer(), "push", end == &udp ? "udp" : "http", std::to_string(end->Port), "0", "0",
                            end == &udp ? "0" : "6"}, dir / "peer.out"));
    EXPECT_TRUE(AllOf(end->Receiver->Record, 6)) << ReadFile(dir / "peer.out");
  }
  // The HTTP request, sent after every datagram, is there once tshark wrote what it caught.
  EXPECT_TRUE(PumpUntil([&] {
    const std::string wire = ReadFile(pcap);
    return wire.find("POST ") != std::string::npos && wire.find("Host: 127.0.0.1") != std::string::npos;
  }, kWaitMs));
  capture.Stop();
  const std::string sizes = dir / "sizes.txt";
  ASSERT_EQ(std::system(("tshark -r " + pcap + " -T fields -e udp.length -Y udp > " + sizes + " 2>/dev/null").c_str()), 0);
  std::istringstream lengths(ReadFile(sizes));
  std::vector<int64_t> payloads;
  for (int64_t n; lengths >> n;) payloads.push_back(n - 8);  // less the UDP header
  EXPECT_GT(payloads.size(), 6u);
  EXPECT_EQ(*std::max_element(payloads.begin(), payloads.end()), KZ_MAX_DATAGRAM);
}
