// The sender against the independent Python decoder (refpeer.py over
// refcodec.py) as its receiver: every kind of payload arrives byte for byte
// over TCP, UDP and HTTP, pushed and pulled; keep-alives and a receiver that
// dies and comes back; a stalled pulled receiver.
// kz-test-labels: peer slow
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "audio/fmxMKzAudioSource.h"
#include "sender/fmxMKzCamSender.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzsockettestutil.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;

namespace {

bool HavePython() { return std::system("python3 -c 'import zlib' >/dev/null 2>&1") == 0; }

// refpeer.py in its own process, with the file it reports into.
struct TRefPeer {
  kztest::TTempDir Dir;
  kztest::TPeer Peer;
  std::string Out = Dir / "out.txt";
  bool Start(const std::vector<std::string>& Args) {
    std::vector<std::string> argv = {"python3", KZ_REFPEER};
    argv.insert(argv.end(), Args.begin(), Args.end());
    argv.push_back(Out);
    return Peer.Start(argv, Dir / "log.txt") && kz::PumpUntil([&] { return std::filesystem::exists(Out); }, 10000);
  }
  std::vector<std::string> Lines() {
    std::istringstream in(kztest::ReadFile(Out));
    std::vector<std::string> l;
    for (std::string s; std::getline(in, s);) l.push_back(s);
    return l;
  }
  // Packet lines ("packet type=..."), or those of one type.
  std::vector<std::string> Packets(const std::string& Type = "") {
    std::vector<std::string> p;
    for (const std::string& l : Lines())
      if (l.rfind("packet type=" + Type, 0) == 0) p.push_back(l);
    return p;
  }
  bool WaitPackets(size_t N, int Ms = 20000) {
    return kz::PumpUntil([&] { return Packets().size() >= N; }, Ms);
  }
  // A count from the "conn" lines: Key=... summed.
  int64_t ConnSum(const std::string& Key) {
    int64_t n = 0;
    for (const std::string& l : Lines())
      if (l.rfind("conn ", 0) == 0 && l.find(Key + "=") != std::string::npos)
        n += std::stoll(l.substr(l.find(Key + "=") + Key.size() + 1));
    return n;
  }
};

// What the decoder prints for a payload: its type, size and CRC.
std::string Key(const std::string& Type, const uint8_t* Data, size_t Size) {
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", Crc32(Data, Size));
  return Type + " size=" + std::to_string(Size) + " crc=" + crc;
}
std::string KeyOf(const std::string& Line) {
  const std::string type = Line.substr(12, Line.find(' ', 12) - 12);
  return type + Line.substr(Line.find(" size="));
}
std::string Field(const std::string& Line, const std::string& Name) {
  const size_t at = Line.find(" " + Name + "=");
  if (at == std::string::npos) return "";
  const size_t from = at + Name.size() + 2;
  return Line.substr(from, Line.find(' ', from) - from);
}

// A picture with edges, gradients and some noise, different per Seed.
TKzMBitmap TestFrame(int32_t W, int32_t H, uint32_t Seed) {
  TKzMBitmap b(W, H);
  uint32_t x = Seed * 2654435761u + 1;
  for (int32_t r = 0; r < H; ++r)
    for (int32_t c = 0; c < W; ++c) {
      x = x * 1664525u + 1013904223u;
      const uint32_t n = (x >> 28) & 7;
      const uint32_t red = (c * 255 / W + n) & 255, green = (r * 255 / H + Seed * 40) & 255;
      const uint32_t blue = ((c / 16 + r / 16 + Seed) % 2) ? 200 : 40;
      b.ScanLine(r)[c] = 0xFF000000u | (red << 16) | (green << 8) | blue;
    }
  return b;
}

class TVideoFeed : public TKzVideoSource {
public:
  TVideoFeed() : TKzVideoSource(nullptr) {}
  void Abort() override {}
};

// A sender wired to a video and an audio source, recording what it encodes.
struct TSenderRig {
  TKzCamSender Sender{nullptr};
  TVideoFeed Video;
  TKzAudioSource Audio{nullptr};
  std::vector<std::string> Expected;  // keys of every payload handed over
  std::mutex Lock;
  bool Pushed = true;  // a push queue holds the newest frame only: no DiffTime

  TSenderRig() {
    Sender.SetGUIDFrom("{11111111-2222-3333-4444-555555555555}");
    Sender.SetVideoSource(&Video);
    Sender.SetAudioSource(&Audio);
    Sender.SourceVideoIndex = 1;
    Sender.OnEncodeVideo = [this](TComponent*, TMemoryStream& S, uint16_t, TKzEncodingType) {
      std::vector<uint8_t> b(S.Memory(), S.Memory() + S.Size());
      if (Pushed) std::fill(b.begin() + 15, b.begin() + 23, 0);
      Add(Key("video", b.data(), b.size()));
    };
    Sender.OnEncodeAudio = [this](void*, TMemoryStream& S, int32_t& Size, uint16_t, int64_t& Start,
                                  uint32_t& Duration, int32_t&, TKzBitsPerSample&, int32_t&) {
      std::vector<uint8_t> frame;
      KzAppendAudioFrame(frame, S.Memory(), static_cast<uint32_t>(Size), Start, Duration);
      Add(Key("audio", frame.data(), frame.size()));
    };
  }
  ~TSenderRig() { Sender.SetActive(false); }
  void Add(const std::string& K) {
    std::lock_guard<std::mutex> g(Lock);
    Expected.push_back(K);
  }
  bool WaitIdle(uint16_t Type, uint16_t Index = 0) {
    return kz::PumpUntil([&] { return !Sender.IsWaitData(Type, Index); }, 10000);
  }
  // One frame through the consumer interface, as a camera's draw thread hands it.
  void Frame(uint32_t Seed, bool Wait) {
    TKzImageWrapper w;
    w.GetBitmap().Assign(TestFrame(320, 240, Seed));
    Sender.SenderGetImage(&Video, w, 0, TGUID{});
    if (Wait) WaitIdle(DATA_TYPE_VIDEO, 1);
  }
  void Tone(int Block, bool Wait) {
    TMemoryStream s;
    for (int i = 0; i < 320; ++i) {
      const int16_t v = static_cast<int16_t>(8000 * std::sin((Block * 320 + i) * 0.1));
      s.Write(&v, 2);
    }
    Audio.OutputSound(s, 640, TGUID{}, 1, TKzBitsPerSample::kzbps16, 8000);
    if (Wait) WaitIdle(DATA_TYPE_AUDIO);
  }
  void Cmd(const TKzCmd& C, bool Wait) {
    TMemoryStream s;
    KzSaveCmdPayload({C}, s);
    ASSERT_TRUE(Sender.SendCmd(C));
    Add(Key("cmd", s.Memory(), static_cast<size_t>(s.Size())));
    if (Wait) WaitIdle(DATA_TYPE_CMD);
  }
  void User(const std::string& Text, const std::string& To, bool Wait) {
    TMemoryStream s;
    s.Write(Text.data(), static_cast<int64_t>(Text.size()));
    ASSERT_TRUE(Sender.SendUserData(s, To));
    Add(Key("user", reinterpret_cast<const uint8_t*>(Text.data()), Text.size()));
    if (Wait) WaitIdle(DATA_TYPE_USERDATA);
  }
  // Sends every kind once or twice (each after the previous one went, so
  // nothing is merged or replaced) and returns the packets a file adds.
  void SendAll(bool Wait) {
    for (uint32_t f = 0; f < 2; ++f) Frame(f, Wait);
    for (int a = 0; a < 2; ++a) Tone(a, Wait);
    TKzCmd big;
    big.Name = "Hello";
    big.AddParam("Text").SetString(std::string(3000, 'a'));
    Cmd(big, Wait);
    TKzCmd join;
    join.Name = "KzS_GROUP_JOIN";
    join.AddParam("GUIDGroup").SetString(std::string(3000, 'g'));
    Cmd(join, Wait);
    User(std::string(5000, 'u'), "", Wait);
    User("second item", "{00000000-0000-0000-0000-000000000009}", Wait);
  }
};

// The file pieces of the packet lines, checked against the file: each
// piece's bytes where its header says they lie; returns the bytes covered.
int64_t CheckFilePieces(const std::vector<std::string>& Lines, const std::string& File, int64_t& Total) {
  const std::string bytes = kztest::ReadFile(File);
  int64_t covered = 0;
  for (const std::string& l : Lines) {
    const int64_t offs = std::stoll(Field(l, "offs")), size = std::stoll(Field(l, "size"));
    Total = std::stoll(Field(l, "total"));
    EXPECT_EQ(KeyOf(l), Key("file", reinterpret_cast<const uint8_t*>(bytes.data()) + offs, size)) << l;
    covered += size;
  }
  return covered;
}

std::string MakeFile(const kztest::TTempDir& Dir, size_t Size) {
  std::string b(Size, 0);
  uint32_t x = 7;
  for (char& c : b) x = x * 1103515245u + 12345u, c = static_cast<char>(x >> 24);
  kztest::WriteFile(Dir / "clip.bin", b);
  return Dir / "clip.bin";
}

std::multiset<std::string> Keys(const std::vector<std::string>& Lines, const std::string& Skip) {
  std::multiset<std::string> k;
  for (const std::string& l : Lines)
    if (l.rfind("packet type=" + Skip, 0) != 0) k.insert(KeyOf(l));
  return k;
}

TEST(SenderPeer, PushDeliversEveryKindByteForByte) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  for (const char* proto : {"tcp", "udp", "http"}) {
    SCOPED_TRACE(proto);
    const uint16_t port = kztest::FreePort();
    TRefPeer peer;
    ASSERT_TRUE(peer.Start({"push", proto, std::to_string(port)}));
    TSenderRig rig;
    TKzCamSender& s = rig.Sender;
    const bool udp = std::string(proto) == "udp";
    s.SetProtocol(udp ? TKzProtocol::kzpUDP : std::string(proto) == "http" ? TKzProtocol::kzpHTTP
                                                                            : TKzProtocol::kzpTCP);
    s.SetBufferSize(udp ? 65507 : 8192);
    s.TimeMSecBetweenSend = udp ? 1 : 0;
    s.SetReceiverHost("127.0.0.1");
    s.SetReceiverPort(port);
    s.CompressionOptions().Cmd = TKzCompressionType::kztcFully;
    s.CompressionOptions().UserData = TKzCompressionType::kztcParts;
    s.SetActive(true);
    rig.SendAll(true);
    const std::string file = MakeFile(peer.Dir, 100000);
    ASSERT_TRUE(s.SendFile(file, 0));
    ASSERT_TRUE(s.WaitSendFileData(0, 20000));
    ASSERT_TRUE(s.SendFile(file, 70001));  // from an offset on
    ASSERT_TRUE(s.WaitSendFileData(0, 20000));
    ASSERT_TRUE(peer.WaitPackets(rig.Expected.size() + 2));
    peer.WaitPackets(1000, 1000);  // any stragglers

    EXPECT_EQ(Keys(peer.Packets(), "file"), std::multiset<std::string>(rig.Expected.begin(), rig.Expected.end()));
    for (const std::string& l : peer.Packets("video")) EXPECT_EQ(Field(l, "media"), "1") << l;
    for (const std::string& l : peer.Packets("cmd")) {
      const bool system = KeyOf(l).find("size=3") != std::string::npos && l.find("comp=none") != std::string::npos;
      EXPECT_TRUE(system || l.find("comp=fully") != std::string::npos) << "a big user command compresses: " << l;
    }
    int64_t total = 0;
    EXPECT_EQ(CheckFilePieces(peer.Packets("file"), file, total), 100000 + (100000 - 70001));
    EXPECT_EQ(total, 100000);
  }
}

TEST(SenderPeer, PullDeliversEveryKindByteForByte) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  for (const char* proto : {"tcp", "http"}) {
    SCOPED_TRACE(proto);
    TSenderRig rig;
    TKzCamSender& s = rig.Sender;
    s.SetProtocol(TKzProtocol::kzpTCP);
    s.SetTCPConnectionType(TKzTCPConnectionType::kztcpReceiverToSender);
    rig.Pushed = false;
    std::atomic<int> connected{0};
    s.OnConnected = [&](TComponent*, uint16_t, uint64_t) { ++connected; };
    s.SetActive(true);
    ASSERT_NE(s.ListeningPort(), 0);
    TRefPeer peer;
    ASSERT_TRUE(peer.Start({"pull", proto, std::to_string(s.ListeningPort()), "1,2,4,8,16"}));
    ASSERT_TRUE(kz::PumpUntil([&] { return connected == 5; }, 10000)) << "every data type asked once";
    rig.SendAll(false);
    const std::string file = MakeFile(peer.Dir, 50000);
    ASSERT_TRUE(s.SendFile(file, 1000));
    ASSERT_TRUE(peer.WaitPackets(rig.Expected.size() + 1));
    EXPECT_EQ(Keys(peer.Packets(), "file"), std::multiset<std::string>(rig.Expected.begin(), rig.Expected.end()));
    int64_t total = 0;
    EXPECT_EQ(CheckFilePieces(peer.Packets("file"), file, total), 49000);
    EXPECT_EQ(total, 50000);
  }
}

// An idle stream connection carries keep-alives (an idle datagram channel
// nothing); the keep-alive finds the receiver gone, and what is queued
// meanwhile reaches it once it is back.
TEST(SenderPeer, KeepAliveAndResendAfterTheReceiverComesBack) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const uint16_t port = kztest::FreePort(), udpPort = kztest::FreePort();
  auto first = std::make_unique<TRefPeer>();
  TRefPeer udp;
  ASSERT_TRUE(first->Start({"push", "tcp", std::to_string(port)}));
  ASSERT_TRUE(udp.Start({"push", "udp", std::to_string(udpPort)}));
  TSenderRig rig, udpRig;
  TKzCamSender& s = rig.Sender;
  for (auto [r, proto, to] : {std::tuple{&rig, TKzProtocol::kzpTCP, port}, {&udpRig, TKzProtocol::kzpUDP, udpPort}}) {
    r->Sender.SetProtocol(proto);
    r->Sender.SetReceiverHost("127.0.0.1");
    r->Sender.SetReceiverPort(to);
    r->Sender.SetActive(true);
    r->User("before", "", true);
  }
  ASSERT_TRUE(first->WaitPackets(1));
  // Three keep-alives on the idle stream connection mean two seconds of idling.
  ASSERT_TRUE(kz::PumpUntil([&] { return first->ConnSum("nulls") >= 3; }, 15000));
  EXPECT_EQ(first->Packets().size(), 1u);
  EXPECT_EQ(udp.ConnSum("datagrams"), 1) << "an idle datagram channel sends nothing";
  first->Peer.Kill();
  // The idle channel's keep-alive finds the receiver gone and the channel ends.
  ASSERT_TRUE(kz::PumpUntil([&] { return s.ChannelCount() == 0; }, 10000));
  // Queued now: no channel can connect, so it waits for the receiver.
  rig.User("queued while away", "{00000000-0000-0000-0000-00000000000A}", false);
  TRefPeer second;
  ASSERT_TRUE(second.Start({"push", "tcp", std::to_string(port)}));
  const std::string queued = "queued while away";
  const std::string want = Key("user", reinterpret_cast<const uint8_t*>(queued.data()), queued.size());
  auto arrived = [&] {
    for (const std::string& l : second.Packets())
      if (KeyOf(l) == want) return true;
    return false;
  };
  // Later payloads open the next channel, which takes the queued item along.
  for (int i = 0; i < 40 && !arrived(); ++i) {
    rig.User("after", "{00000000-0000-0000-0000-00000000000B}", false);
    kz::PumpUntil(arrived, 500);
  }
  EXPECT_TRUE(arrived()) << "the item queued while the receiver was away reaches it when it is back";
}

TEST(SenderPeer, StalledPullReceiverHoldsNothingBack) {
  TKzCamSender s(nullptr);
  s.SetProtocol(TKzProtocol::kzpTCP);
  s.SetTCPConnectionType(TKzTCPConnectionType::kztcpReceiverToSender);
  s.SetActive(true);
  const uint16_t port = s.ListeningPort();
  ASSERT_NE(port, 0);
  // The stalled receiver asks for video again and again and never reads an answer.
  std::string error;
  TKzSocket stalled = KzMConnectStream({"127.0.0.1", port, TKzProtocol::kzpTCP, nullptr, 3000}, nullptr, error);
  ASSERT_NE(stalled, KZ_INVALID_SOCKET) << error;
  std::atomic<bool> stop{false};
  std::thread asker([&] {
    uint8_t r[TKzChannelRequest::WireSize];
    KzChannelRequestToBytes({"VDGET", {}, 0}, r);
    while (!stop) {
      PlatformPollWrite(stalled, 10);
      KzSendAll(stalled, r, sizeof r, 0, nullptr, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  // The other receiver reads everything (each frame counts as a payload not of its own set).
  kztest::TRecord got;
  std::thread reader([&] { kztest::PullFrom(port, nullptr, TKzProtocol::kzpTCP, DATA_TYPE_VIDEO, got, stop); });
  ASSERT_TRUE(kz::PumpUntil([&] { return s.PullConnections() == 2; }, 10000));
  // One frame of noise (about 300 KB as JPEG), sent 250 times: kept for a
  // stalled receiver without a bound that would be some 75 MB. Under the
  // sanitizers a quarter of that, which their slowed-down reader keeps up with.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  const int32_t w = 320, h = 240;
  const int64_t slack = 8;  // their own bookkeeping grows with every allocation
#else
  const int32_t w = 640, h = 480;
  const int64_t slack = 4;
#endif
  TKzMBitmap noise(w, h);
  uint32_t x = 1;
  for (int32_t r = 0; r < h; ++r)
    for (int32_t c = 0; c < w; ++c) noise.ScanLine(r)[c] = 0xFF000000u | ((x = x * 1664525u + 1013904223u) >> 8);
  TMemoryStream jpeg;
  ASSERT_TRUE(KzCodecEncodeJPEG(noise, jpeg, 90));
  std::vector<uint8_t> frame;
  KzAppendFramedImage(frame, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), jpeg.Memory(),
                      static_cast<uint32_t>(jpeg.Size()), 0, 40);
  const int64_t before = kztest::ResidentBytes();
  int64_t peak = before;
  int sent = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (auto next = std::chrono::steady_clock::now(); next < end; next += std::chrono::milliseconds(40), ++sent) {
    TMemoryStream payload;
    payload.Write(frame.data(), static_cast<int64_t>(frame.size()));
    s.SendVideoStream(0, TKzVideoInfo{}, payload, 0);
    peak = std::max(peak, kztest::ResidentBytes());
    std::this_thread::sleep_until(next);
  }
  kz::PumpUntil([&] { return got.Bad() >= sent - 2; }, 5000);
  stop = true;
  reader.join();
  asker.join();
  PlatformCloseSocket(stalled);
  EXPECT_GE(got.Bad(), sent * 9 / 10) << "frames that reached the reading receiver, of " << sent;
#ifndef __SANITIZE_ADDRESS__  // its quarantine keeps every freed frame resident
  EXPECT_LT(peak - before, slack * static_cast<int64_t>(TKzPullQueue::DefaultVideoBytes))
      << "the stalled connection's queue stays within its bound";
#endif
}

}  // namespace
