// One 640x480 25 fps JPEG stream from one sender to 60 receivers, three
// ways in the same run, all on loopback with a nats-server of our own:
//  - three kzrelay processes joined through NATS, the sender on the first,
//    20 receivers on each (40 of them one NATS hop away);
//  - the same 60 receivers on one kzrelay;
//  - the anchor: a raw NATS fan-out of the same packet bytes, a libnats
//    publisher and 60 libnats subscribers through the same nats-server.
// The receivers run in a second process (this program with --readers).
// Each frame carries the time it was sent (steady clock, shared by the
// processes), so every receiver measures its latency.
//
// Reported: the slowest receiver's frames per second; CPU per receiver of
// the fanning side, the relays and nats-server (ours) against nats-server
// (anchor), with the sending and receiving programs counted apart; p50/p99
// latency of the receivers behind the NATS hop, of the same receivers on
// one relay, and the difference (the hop's cost). --stages runs the three
// relays alone with a NATS client on the group's subject between them and
// prints the hop stage by stage.
// A relay answers every poll, so its CPU follows how often receivers ask:
// latency is measured with readers asking again 2 ms after an empty answer,
// CPU per receiver with readers that poll as the library's receiver does
// (KzPollInterval after an empty answer, at once after a batch); the CPU
// of the 2 ms readers is printed too, and frame rates are theirs (a paced
// reader has up to one poll interval of frames still waiting when the
// window ends).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "bench/kzstreamfleet.h"

#if __has_include(<nats/nats.h>)
#include <nats/nats.h>

#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzsocketutil.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzPacketWriter.h"
#include "streaming/fmxMKzRecvConnect.h"
#include "streaming/fmxMKzStreamConnect.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindowS = 5;
constexpr int kFps = 25;
constexpr int kReaders = 60;
constexpr char kStamp[8] = {'K', 'Z', 'S', 'T', 'A', 'M', 'P', ':'};
const char* kGroup = "{6B000000-0000-4000-8000-000000000002}";
const char* kSubject = "bench.video";

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

TGUID ReaderGUID(int I) { return StringToGUIDA("{7D" + std::to_string(100000 + I) + "-0000-4000-8000-000000000002}"); }

uint16_t FreePort() {
  TKzSocket s = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t p = PlatformSocketLocalPort(s);
  PlatformCloseSocket(s);
  return p;
}

TKzSocket ConnectRetry(uint16_t Port) {
  for (int i = 0; i < 400; ++i) {
    TKzSocket s = KzMConnectTimed(PlatformLookupIPv4("127.0.0.1"), Port, 1000);
    if (s != KZ_INVALID_SOCKET) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return KZ_INVALID_SOCKET;
}

// The send time stamped into a frame's bytes; -1 when there is none.
int64_t StampOf(const uint8_t* Data, size_t Size) {
  const uint8_t* at = static_cast<const uint8_t*>(memmem(Data, Size, kStamp, sizeof kStamp));
  if (!at || at + sizeof kStamp + 8 > Data + Size) return -1;
  int64_t t;
  std::memcpy(&t, at + sizeof kStamp, 8);
  return t;
}

std::vector<uint8_t> Packet(uint16_t DataType, const TGUID& From, const TGUID& Group, const uint8_t* Data, size_t Size) {
  TKzPacketSpec spec;
  spec.DataType = DataType;
  spec.BufferSize = 1 << 20;
  spec.GUIDFrom = From;
  spec.GUIDGroup = Group;
  std::vector<uint8_t> out;
  uint16_t index = 0;
  TKzPacketWriter w;
  w.Write(spec, Data, Size, index, [&out](const uint8_t* D, size_t N) {
    out.insert(out.end(), D, D + N);
    return true;
  });
  return out;
}

struct TCounts {
  std::atomic<int64_t> Frames{0};
  std::mutex Lock;
  std::vector<std::pair<int64_t, int64_t>> Seen;  // send stamp, arrival (us)
  void Got(int64_t Stamp) {
    ++Frames;
    if (Stamp < 0) return;
    std::lock_guard<std::mutex> g(Lock);
    Seen.emplace_back(Stamp, NowUs());
  }
};

// Pulls video from a relay as reader I (Paced: as the library's receiver).
void RelayReader(TKzSocket S, int I, bool Paced, const std::atomic<bool>& Stop, TCounts& C) {
  TKzBatchReader batches;
  std::vector<uint8_t> buf(1 << 18);
  int32_t idle = 0;
  while (!Stop) {
    const auto asked = Clock::now();
    uint8_t r[TKzChannelRequest::WireSize];
    KzChannelRequestToBytes({"VDGET", ReaderGUID(I), 0}, r);
    if (KzSendAll(S, r, sizeof r) < 0) return;
    TKzBatch batch;
    while (!batches.Next(batch)) {
      const int64_t n = KzMRecvNonBlock(S, buf.data(), static_cast<int64_t>(buf.size()), false, 2000);
      if (n <= 0 || Stop) return;
      batches.Feed(buf.data(), static_cast<size_t>(n));
    }
    for (const auto& c : batch.Chunks) C.Got(StampOf(c.Packet.data(), c.Packet.size()));
    idle = batch.Chunks.empty() ? idle + 1 : 0;
    if (idle && Paced)
      std::this_thread::sleep_until(asked + std::chrono::milliseconds(KzPollInterval(DATA_TYPE_VIDEO, idle)));
    else if (idle)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::pair<double, double> Percentiles(std::vector<int64_t> V) {
  if (V.empty()) return {-1, -1};
  std::sort(V.begin(), V.end());
  return {V[V.size() / 2] / 1000.0, V[std::min(V.size() - 1, V.size() * 99 / 100)] / 1000.0};
}

// A NATS client on Subject (the relays' group subject): when each frame
// passed the nats-server, as a relay's subscription sees it.
struct TTap {
  natsConnection* Conn = nullptr;
  natsSubscription* Sub = nullptr;
  TCounts Counts;
  bool Start(const std::string& Url, const std::string& Subject) {
    if (natsConnection_ConnectTo(&Conn, Url.c_str()) != NATS_OK) return false;
    natsConnection_Subscribe(
        &Sub, Conn, Subject.c_str(),
        [](natsConnection*, natsSubscription*, natsMsg* M, void* C) {
          static_cast<TCounts*>(C)->Got(StampOf(reinterpret_cast<const uint8_t*>(natsMsg_GetData(M)),
                                                static_cast<size_t>(natsMsg_GetDataLength(M))));
          natsMsg_Destroy(M);
        },
        &Counts);
    return natsConnection_Flush(Conn) == NATS_OK;
  }
  ~TTap() {
    natsSubscription_Destroy(Sub);
    natsConnection_Destroy(Conn);
  }
};

// "p50 p99" in ms of the given microsecond spans.
void PrintPercentiles(std::vector<int64_t> V) {
  const auto [p50, p99] = Percentiles(std::move(V));
  std::printf("%.3f %.3f\n", p50, p99);
}

// --readers relay|paced PORT,PORT,... [NATS-URL SUBJECT] | nats URL: 60
// readers (reader I on port I mod the list; relay ones join the group
// first), "ready", the window, then each one's frame count and, per port,
// "p50 p99" in ms from the send. With a tap on SUBJECT, each port's line is
// followed by "p50 p99" from the tap to its readers, and the last line is
// that of the send to the tap.
int Readers(const std::string& Kind, const std::string& Where, const std::string& TapUrl,
            const std::string& TapSubject) {
  std::vector<TCounts> counts(kReaders);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  std::vector<TKzSocket> socks;
  std::vector<natsConnection*> conns;
  std::vector<natsSubscription*> subs;
  std::vector<uint16_t> ports;
  std::unique_ptr<TTap> tap;
  const bool relay = Kind != "nats";
  if (!TapUrl.empty()) {
    tap = std::make_unique<TTap>();
    if (!tap->Start(TapUrl, TapSubject)) return 1;
  }
  if (relay) {
    for (size_t at = 0; at < Where.size();) {
      const size_t comma = std::min(Where.find(',', at), Where.size());
      ports.push_back(static_cast<uint16_t>(std::atoi(Where.substr(at, comma - at).c_str())));
      at = comma + 1;
    }
    for (int i = 0; i < kReaders; ++i) {
      socks.push_back(ConnectRetry(ports[static_cast<size_t>(i) % ports.size()]));
      TKzCmd c;
      c.Name = "KzS_GROUP_JOIN";
      c.AddParam("GUIDGroup").SetString(kGroup);
      TMemoryStream payload;
      KzSaveCmdPayload({c}, payload);
      const auto join = Packet(DATA_TYPE_CMD, ReaderGUID(i), TGUID{}, payload.Memory(), static_cast<size_t>(payload.Size()));
      KzSendAll(socks.back(), join.data(), join.size());
    }
    for (int i = 0; i < kReaders; ++i)
      threads.emplace_back([&, i] {
        RelayReader(socks[static_cast<size_t>(i)], i, Kind == "paced", stop, counts[static_cast<size_t>(i)]);
      });
  } else {
    ports.push_back(0);
    for (int i = 0; i < kReaders; ++i) {
      natsConnection* nc = nullptr;
      natsSubscription* sub = nullptr;
      if (natsConnection_ConnectTo(&nc, Where.c_str()) != NATS_OK) return 1;
      natsConnection_Subscribe(
          &sub, nc, kSubject,
          [](natsConnection*, natsSubscription*, natsMsg* M, void* C) {
            static_cast<TCounts*>(C)->Got(StampOf(reinterpret_cast<const uint8_t*>(natsMsg_GetData(M)),
                                                  static_cast<size_t>(natsMsg_GetDataLength(M))));
            natsMsg_Destroy(M);
          },
          &counts[static_cast<size_t>(i)]);
      natsConnection_Flush(nc);
      conns.push_back(nc);
      subs.push_back(sub);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(relay ? 1500 : 200));  // channels and subjects open
  auto clear = [](TCounts& C) {
    C.Frames = 0;
    std::lock_guard<std::mutex> g(C.Lock);
    C.Seen.clear();
  };
  for (TCounts& c : counts) clear(c);
  if (tap) clear(tap->Counts);
  std::printf("ready\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::duration<double>(kWindowS));
  stop = true;
  for (TKzSocket& s : socks) PlatformShutdown(s);
  for (std::thread& t : threads) t.join();
  for (TKzSocket& s : socks) PlatformCloseSocket(s);
  for (natsSubscription* s : subs) natsSubscription_Destroy(s);
  for (natsConnection* c : conns) natsConnection_Destroy(c);
  std::map<int64_t, int64_t> tapped;  // send stamp -> arrival at the tap
  if (tap) {
    std::lock_guard<std::mutex> g(tap->Counts.Lock);
    for (const auto& [stamp, at] : tap->Counts.Seen) tapped[stamp] = at;
  }
  for (TCounts& c : counts) std::printf("%lld\n", static_cast<long long>(c.Frames.load()));
  for (size_t p = 0; p < ports.size(); ++p) {
    std::vector<int64_t> sent, fromTap;
    for (size_t i = p; i < counts.size(); i += ports.size())
      for (const auto& [stamp, at] : counts[i].Seen) {
        sent.push_back(at - stamp);
        if (auto t = tapped.find(stamp); t != tapped.end()) fromTap.push_back(at - t->second);
      }
    PrintPercentiles(sent);
    if (tap) PrintPercentiles(fromTap);
  }
  if (tap) {
    std::vector<int64_t> toTap;
    for (const auto& [stamp, at] : tapped) toTap.push_back(at - stamp);
    PrintPercentiles(toTap);
  }
  return 0;
}

// CPU seconds over the window. The fanning side is what stands between the
// sending program and the receiving one: the relays and nats-server (ours),
// nats-server (the anchor). The sending side (this process: our sender or
// the libnats publisher) and the receiving side (the readers' process: the
// 60 relay readers or the 60 libnats subscribers) are counted apart.
struct TResult {
  double Cpu = -1;        // the fanning side
  double NatsCpu = -1;    // of which nats-server
  double SendCpu = -1;    // the sending side
  double ReaderCpu = -1;  // the receiving side
  double MinFps = -1;     // the slowest receiver
  std::vector<std::pair<double, double>> Latency;  // per port (or the one subject): p50, p99 ms
  std::vector<std::pair<double, double>> FromTap;  // stages: per port, from the tap on
  std::pair<double, double> ToTap{-1, -1};         // stages: from the send to the tap
  std::string Load;                                // the load average when the window began
};

std::string LoadAverage() {
  std::ifstream f("/proc/loadavg");
  double a = 0, b = 0, c = 0;
  f >> a >> b >> c;
  char out[48];
  std::snprintf(out, sizeof out, "load %.2f %.2f %.2f", a, b, c);
  return out;
}

// Starts the readers, runs Send for the window, collects.
template <typename TSend, typename TCpu>
TResult Run(const std::string& Kind, const std::string& Where, size_t Groups, TSend Send, TCpu Cpu,
            const kzbench::TChild& Nats, const std::vector<std::string>& Tap = {}) {
  kzbench::TChild readers;
  std::vector<std::string> argv = {"/proc/self/exe", "--readers", Kind, Where};
  argv.insert(argv.end(), Tap.begin(), Tap.end());
  if (!readers.Start(argv, true)) return {};
  char line[64] = {};
  if (!std::fgets(line, sizeof line, readers.Out) || std::strncmp(line, "ready", 5) != 0) return {};
  TResult r;
  r.Load = LoadAverage();
  const double cpu0 = Cpu(), readerCpu0 = readers.Cpu(), natsCpu0 = Nats.Cpu(), sendCpu0 = kzbench::CpuSeconds();
  const auto start = Clock::now();
  int i = 0;
  for (auto next = start; next < start + std::chrono::duration<double>(kWindowS); ++i) {
    Send(i);
    next += std::chrono::milliseconds(1000 / kFps);
    std::this_thread::sleep_until(next);
  }
  r.Cpu = Cpu() - cpu0;
  r.ReaderCpu = readers.Cpu() - readerCpu0;
  r.NatsCpu = Nats.Cpu() - natsCpu0;
  r.SendCpu = kzbench::CpuSeconds() - sendCpu0;
  std::vector<long long> counts;
  long long v = 0;
  while (static_cast<int>(counts.size()) < kReaders && std::fscanf(readers.Out, "%lld", &v) == 1) counts.push_back(v);
  auto percentiles = [&readers] {
    std::pair<double, double> p{-1, -1};
    return std::fscanf(readers.Out, "%lf %lf", &p.first, &p.second) == 2 ? p : std::make_pair(-1.0, -1.0);
  };
  for (size_t g = 0; g < Groups; ++g) {
    r.Latency.push_back(percentiles());
    if (!Tap.empty()) r.FromTap.push_back(percentiles());
  }
  if (!Tap.empty()) r.ToTap = percentiles();
  std::fclose(readers.Out);
  readers.Out = nullptr;
  waitpid(readers.Pid, nullptr, 0);
  readers.Pid = -1;
  if (static_cast<int>(counts.size()) == kReaders)
    r.MinFps = std::min(double(*std::min_element(counts.begin(), counts.end())) / kWindowS, double(kFps));
  return r;
}

std::string GUIDHex(const TGUID& G) {
  uint8_t b[16];
  GUIDToBytes(G, b);
  std::string out;
  for (uint8_t c : b) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
  return out;
}

std::vector<uint8_t> StampedJpeg(const std::vector<uint8_t>& Jpeg) {
  std::vector<uint8_t> out = Jpeg;
  const int64_t now = NowUs();
  out.insert(out.end(), kStamp, kStamp + sizeof kStamp);
  out.insert(out.end(), reinterpret_cast<const uint8_t*>(&now), reinterpret_cast<const uint8_t*>(&now) + 8);
  return out;
}

std::vector<uint8_t> MakeJpeg() {
  TKzMBitmap b(640, 480);
  for (int32_t r = 0; r < 480; ++r)
    for (int32_t c = 0; c < 640; ++c)
      b.ScanLine(r)[c] = 0xFF000000u | (c & 255) << 16 | ((r * 255 / 480) & 255) << 8 | (((c / 32 + r / 32) % 2) ? 190 : 50);
  TMemoryStream s;
  KzCodecEncodeJPEG(b, s, 80);
  return {s.Memory(), s.Memory() + s.Size()};
}

// Ours: Relays kzrelay processes (joined through NATS when more than one).
// Stages: the 2 ms readers with a tap on the group's subject.
TResult RunRelays(const std::vector<uint8_t>& Jpeg, int Relays, bool Paced, const std::string& NatsUrl,
                  kzbench::TChild& Nats, bool Stages = false) {
  const std::string cluster = "bench" + std::to_string(getpid());
  std::vector<std::unique_ptr<kzbench::TChild>> relays;
  std::string ports;
  std::vector<uint16_t> list;
  for (int i = 0; i < Relays; ++i) {
    const uint16_t port = FreePort();
    std::vector<std::string> argv = {kzbench::AppPath("kzrelay"), "--http-port", std::to_string(port)};
    if (Relays > 1) argv.insert(argv.end(), {"--nats", NatsUrl, "--cluster-name", cluster});
    relays.push_back(std::make_unique<kzbench::TChild>());
    if (!relays.back()->Start(argv, false)) return {};
    TKzSocket probe = ConnectRetry(port);
    PlatformCloseSocket(probe);
    ports += (i ? "," : "") + std::to_string(port);
    list.push_back(port);
  }
  TKzCamSender sender(nullptr);
  sender.SetProtocol(TKzProtocol::kzpHTTP);
  sender.SetReceiverHost("127.0.0.1");
  sender.SetReceiverPort(list[0]);
  sender.SetBufferSize(65536);
  sender.SetGUIDFrom("{5F000000-0000-4000-8000-000000000002}");
  sender.SetGUIDGroup(kGroup);
  sender.SetActive(true);
  auto send = [&](int) {
    const std::vector<uint8_t> j = StampedJpeg(Jpeg);
    std::vector<uint8_t> frame;
    KzAppendFramedImage(frame, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), j.data(), static_cast<uint32_t>(j.size()),
                        sender.GetTickCountSinceStart(), 1000 / kFps);
    TMemoryStream s;
    s.Write(frame.data(), static_cast<int64_t>(frame.size()));
    sender.SendVideoStream(0, TKzVideoInfo{}, s, 0);
  };
  auto cpu = [&] {
    double c = Relays > 1 ? Nats.Cpu() : 0;
    for (auto& r : relays) c += r->Cpu();
    return c;
  };
  std::vector<std::string> tap;
  if (Stages) tap = {NatsUrl, "kz." + cluster + ".1.g." + GUIDHex(StringToGUIDA(kGroup))};
  TResult r = Run(Paced ? "paced" : "relay", ports, list.size(), send, cpu, Nats, tap);
  sender.SetActive(false);
  for (auto& rl : relays) rl->Stop();
  return r;
}

// The anchor: a libnats publisher of the same packet bytes.
TResult RunRawNats(const std::vector<uint8_t>& Jpeg, const std::string& NatsUrl, kzbench::TChild& Nats) {
  natsConnection* nc = nullptr;
  if (natsConnection_ConnectTo(&nc, NatsUrl.c_str()) != NATS_OK) return {};
  const TGUID from = StringToGUIDA("{5F000000-0000-4000-8000-000000000002}"), group = StringToGUIDA(kGroup);
  auto send = [&](int) {
    const std::vector<uint8_t> j = StampedJpeg(Jpeg);
    std::vector<uint8_t> frame;
    KzAppendFramedImage(frame, *KzFindFrameFormat(TKzEncodingType::kzetJPEG), j.data(), static_cast<uint32_t>(j.size()),
                        0, 1000 / kFps);
    const std::vector<uint8_t> p = Packet(DATA_TYPE_VIDEO, from, group, frame.data(), frame.size());
    natsConnection_Publish(nc, kSubject, p.data(), static_cast<int>(p.size()));
    natsConnection_Flush(nc);
  };
  auto cpu = [&] { return Nats.Cpu(); };
  TResult r = Run("nats", NatsUrl, 1, send, cpu, Nats);
  natsConnection_Destroy(nc);
  return r;
}

// The diagnostic run: where the time of the NATS hop goes, p50/p99 per stage.
int PrintStages(const TResult& R) {
  if (R.Latency.size() != 3 || R.FromTap.size() != 3) return 1;
  auto row = [](const char* Stage, std::pair<double, double> P) {
    std::printf("  %-58s p50 %6.2f  p99 %6.2f ms\n", Stage, P.first, P.second);
  };
  std::printf("NATS hop by stage, 60 readers asking again 2 ms after an empty answer (%s):\n", R.Load.c_str());
  row("send -> readers on the sender's relay", R.Latency[0]);
  row("send -> relay A read, published, through nats-server -> tap", R.ToTap);
  row("tap -> readers on relay B (callback, channel, poll, write)", R.FromTap[1]);
  row("tap -> readers on relay C", R.FromTap[2]);
  row("send -> readers on relay B", R.Latency[1]);
  row("send -> readers on relay C", R.Latency[2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 6) && std::string(argv[1]) == "--readers")
    return Readers(argv[2], argv[3], argc == 6 ? argv[4] : "", argc == 6 ? argv[5] : "");
  SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  const char* server = "/usr/sbin/nats-server";
  if (access(server, X_OK) != 0) {
    kzbench::MissingAnchor("nats_relays", "nats-server is not installed");
    return kzbench::Finish();
  }
  const std::string dir = "/tmp/kz-nats-bench-" + std::to_string(getpid());
  const uint16_t natsPort = FreePort();
  const std::string url = "nats://127.0.0.1:" + std::to_string(natsPort);
  kzbench::TChild nats;
  if (!nats.Start({server, "-a", "127.0.0.1", "-p", std::to_string(natsPort), "-js", "-sd", dir}, false)) return 1;
  TKzSocket probe = ConnectRetry(natsPort);
  PlatformCloseSocket(probe);
  const std::vector<uint8_t> jpeg = MakeJpeg();
  if (argc == 2 && std::string(argv[1]) == "--stages") {
    const int status = PrintStages(RunRelays(jpeg, 3, false, url, nats, true));
    nats.Stop();
    std::filesystem::remove_all(dir);
    KzMessagesShutdown();
    return status;
  }
  const TResult three = RunRelays(jpeg, 3, false, url, nats);
  const TResult one = RunRelays(jpeg, 1, false, url, nats);
  const TResult threePaced = RunRelays(jpeg, 3, true, url, nats);
  const TResult onePaced = RunRelays(jpeg, 1, true, url, nats);
  const TResult raw = RunRawNats(jpeg, url, nats);
  nats.Stop();
  std::filesystem::remove_all(dir);
  auto lat = [](const TResult& R, size_t I) { return I < R.Latency.size() ? R.Latency[I] : std::make_pair(-1.0, -1.0); };
  // Behind the hop: the receivers on the second and third relay.
  const double hop50 = std::max(lat(three, 1).first, lat(three, 2).first);
  const double hop99 = std::max(lat(three, 1).second, lat(three, 2).second);
  auto perReceiver = [](const TResult& R) { return R.Cpu * 1000 / kWindowS / kReaders; };
  auto perReceiverOf = [](double Cpu) { return Cpu * 1000 / kWindowS / kReaders; };
  auto allSides = [](const TResult& R) { return (R.Cpu + R.SendCpu + R.ReaderCpu) * 1000 / kWindowS / kReaders; };
  std::printf("%d receivers over 3 relays: slowest %5.1f fps, %6.2f CPU ms/s per receiver (%.2f polling every 2 ms), "
              "latency p50/p99 %.2f/%.2f ms on the sender's relay, %.2f/%.2f ms behind NATS\n",
              kReaders, three.MinFps, perReceiver(threePaced), perReceiver(three), lat(three, 0).first,
              lat(three, 0).second, hop50, hop99);
  std::printf("%d receivers on 1 relay:    slowest %5.1f fps, %6.2f CPU ms/s per receiver (%.2f polling every 2 ms), "
              "latency p50/p99 %.2f/%.2f ms\n",
              kReaders, one.MinFps, perReceiver(onePaced), perReceiver(one), lat(one, 0).first, lat(one, 0).second);
  std::printf("raw NATS fan-out:           slowest %5.1f fps, %6.2f CPU ms/s per receiver, latency p50/p99 %.2f/%.2f ms\n",
              raw.MinFps, perReceiver(raw), lat(raw, 0).first, lat(raw, 0).second);
  std::printf("added by the NATS hop: p50 %+.2f ms, p99 %+.2f ms against one relay; p50 %+.2f ms, p99 %+.2f ms "
              "against the sender's relay in the same window\n",
              hop50 - lat(one, 0).first, hop99 - lat(one, 0).second, hop50 - lat(three, 0).first,
              hop99 - lat(three, 0).second);
  std::printf("CPU ms/s per receiver, same %.0f s window, receivers as the library's (paced):\n"
              "  counted, the fanning side: 3 kzrelay + nats-server %.2f (nats-server %.2f) | 1 kzrelay %.2f | "
              "anchor nats-server %.2f\n"
              "  apart, the sending side (sender | publisher): %.2f | %.2f | %.2f; receiving side (relay readers | "
              "libnats subscribers): %.2f | %.2f | %.2f\n"
              "  all processes: %.2f | %.2f | %.2f\n",
              kWindowS, perReceiver(threePaced), perReceiverOf(threePaced.NatsCpu), perReceiver(onePaced), perReceiver(raw),
              perReceiverOf(threePaced.SendCpu), perReceiverOf(onePaced.SendCpu), perReceiverOf(raw.SendCpu),
              perReceiverOf(threePaced.ReaderCpu), perReceiverOf(onePaced.ReaderCpu), perReceiverOf(raw.ReaderCpu),
              allSides(threePaced), allSides(onePaced), allSides(raw));
  std::printf("load average at the windows: %s | %s | %s | %s | %s\n", three.Load.c_str(), one.Load.c_str(),
              threePaced.Load.c_str(), onePaced.Load.c_str(), raw.Load.c_str());
  kzbench::Ours("nats_relays_60/slowest", three.MinFps, "fps", true);
  kzbench::Ours("nats_relays_60/cpu_per_receiver", perReceiver(threePaced), "CPU ms/s");
  kzbench::Ours("nats_relays_60/cpu_per_receiver_all", allSides(threePaced), "CPU ms/s");
  kzbench::Ours("nats_relays_60/hop_p50", hop50, "ms");
  kzbench::Ours("nats_relays_60/hop_p99", hop99, "ms");
  kzbench::Ours("one_relay_60/cpu_per_receiver", perReceiver(onePaced), "CPU ms/s");
  kzbench::Ours("one_relay_60/slowest", one.MinFps, "fps", true);
  if (raw.MinFps < 0 || raw.Cpu < 0) {
    kzbench::MissingAnchor("nats_relays_60", "the raw NATS fan-out did not run");
  } else {
    kzbench::Anchor("nats_relays_60/slowest", raw.MinFps);
    kzbench::Anchor("nats_relays_60/cpu_per_receiver", perReceiver(raw));
    kzbench::Anchor("nats_relays_60/cpu_per_receiver_all", allSides(raw));
    kzbench::Anchor("nats_relays_60/hop_p50", std::max(lat(raw, 0).first, 0.001));
    kzbench::Anchor("nats_relays_60/hop_p99", std::max(lat(raw, 0).second, 0.001));
    kzbench::Anchor("one_relay_60/cpu_per_receiver", perReceiver(raw));
    kzbench::Anchor("one_relay_60/slowest", raw.MinFps);
  }
  KzMessagesShutdown();
  return kzbench::Finish();
}

#else

int main() {
  kzbench::MissingAnchor("nats_relays", "built without libnats (libnats-dev)");
  return kzbench::Finish();
}

#endif
