// One sender to one receiver on loopback, TCP push, 1 MB payloads, the
// receiver reading every packet back: MB/s and CPU time per MB (both ends,
// getrusage), against iperf3 (its server and client started here, same
// window, CPU of both from getrusage of the children). Then the same with
// 50 connections at once (fan-out), against iperf3 -P 50.
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "bench/kzbench.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/Fmxmkzsenderthread.h"
#include "streaming/fmxMKzListenerThread.h"
#include "streaming/fmxMKzStreamConnect.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindowS = 3;
constexpr size_t kPayload = 1 << 20;

// Reads every packet and counts the payload bytes.
class TCountingReceiver : public TKzReceiverCustomThread {
public:
  TCountingReceiver() : TKzReceiverCustomThread(true) {}
  std::atomic<uint64_t> Bytes{0};
  bool DoRead(TMemoryStream& S, TKzConnSerial Conn, TKzSocket Socket, uint16_t& DataType, uint32_t&, TKzProtocol,
              TKzHeaderPack&) override {
    TKzSocketItem* item;
    {
      std::lock_guard<TCriticalSection> g(FSocketListCS);
      item = FSocketList.GetSocket(Conn);
      if (!item) item = FSocketList.AddSocket(Conn, Socket);
    }
    // Only this connection's thread uses its item.
    item->Reader().Feed(S.Memory() + S.Position(), static_cast<size_t>(S.Size() - S.Position()));
    S.Seek(0, TSeekOrigin::soEnd);
    TKzPacket p;
    while (item->Reader().Next(p)) {
      DataType = p.Header.DataType();
      Bytes += p.Payload.size();
    }
    return true;
  }
};

struct TSide {
  double MBps = 0, CpuMsPerMB = 0;
};

TSide Ours(int Connections) {
  TCountingReceiver receiver;
  const uint32_t lo = PlatformLookupIPv4("127.0.0.1");
  receiver.hReceiver = TKzListenerThread::CreateListeningSocket(TKzProtocol::kzpTCP, lo, 0);
  const uint16_t port = PlatformSocketLocalPort(receiver.hReceiver);
  TKzReceiverConnectionProperties props;
  auto listener = std::make_unique<TKzListenerThread>(&receiver, receiver.hReceiver, TKzProtocol::kzpTCP, nullptr,
                                                      props, props);
  StartThread(listener.get());
  std::vector<TKzSocket> sockets;
  for (int i = 0; i < Connections; ++i) sockets.push_back(KzMConnectTimed(lo, port, 3000));
  std::vector<uint8_t> payload(kPayload);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  TKzSendStreamArgs a;
  a.Spec.DataType = DATA_TYPE_VIDEO;
  a.Spec.UseGUID = false;
  a.SendParam.BufferSize = 256 * 1024;
  uint16_t index = 0;
  TMemoryStream s;
  s.Write(payload.data(), static_cast<int64_t>(payload.size()));
  auto sendOne = [&](size_t i) {
    a.Socket = sockets[i % sockets.size()];
    s.SetPosition(0);
    return KzSendStream(a, s, index) > 0;
  };
  for (int i = 0; i < 2 * Connections; ++i) sendOne(static_cast<size_t>(i));  // warm-up
  while (receiver.Bytes < 2ull * Connections * kPayload) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const uint64_t startBytes = receiver.Bytes;
  const double cpu0 = kzbench::CpuSeconds(RUSAGE_SELF);
  const auto t0 = Clock::now();
  size_t sent = 0;
  while (std::chrono::duration<double>(Clock::now() - t0).count() < kWindowS && sendOne(sent)) ++sent;
  while (receiver.Bytes < startBytes + sent * kPayload &&
         std::chrono::duration<double>(Clock::now() - t0).count() < 10 * kWindowS)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double mb = double(receiver.Bytes - startBytes) / 1e6;
  const double cpu = kzbench::CpuSeconds(RUSAGE_SELF) - cpu0;
  for (TKzSocket& x : sockets) PlatformShutdown(x), PlatformCloseSocket(x);
  listener.reset();
  return {mb / wall, cpu * 1000 / mb};
}

// iperf3's server and client on a free port for the same window.
bool Iperf(int Connections, TSide& Side, std::string& Why) {
  const std::string json = "/tmp/kz-sockets-bench-" + std::to_string(getpid()) + ".json";
  const uint16_t port = [] {
    TKzSocket s = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
    const uint16_t p = PlatformSocketLocalPort(s);
    PlatformCloseSocket(s);
    return p;
  }();
  const std::string p = std::to_string(port);
  const std::string cmd = "iperf3 -s -B 127.0.0.1 -p " + p + " -1 >/dev/null 2>&1 & sleep 0.5; iperf3 -c 127.0.0.1 -p " +
                          p + " -P " + std::to_string(Connections) + " -l 1M -t " + std::to_string(int(kWindowS)) +
                          " -J > " + json + "; rc=$?; wait; exit $rc";
  const double cpu0 = kzbench::CpuSeconds(RUSAGE_CHILDREN);
  if (std::system(cmd.c_str()) != 0) return Why = "iperf3 did not run (is it installed?)", false;
  const double cpu = kzbench::CpuSeconds(RUSAGE_CHILDREN) - cpu0;
  std::ifstream f(json);
  const std::string text((std::istreambuf_iterator<char>(f)), {});
  std::remove(json.c_str());
  const size_t at = text.find("\"sum_received\"");
  const size_t bps = text.find("\"bits_per_second\"", at);
  const size_t secs = text.find("\"seconds\"", at);
  if (at == std::string::npos || bps == std::string::npos || secs == std::string::npos)
    return Why = "iperf3 gave no result", false;
  const double rate = std::stod(text.substr(text.find(':', bps) + 1)) / 8e6;
  const double seconds = std::stod(text.substr(text.find(':', secs) + 1));
  Side = {rate, cpu * 1000 / (rate * seconds)};
  return true;
}

void Compare(const std::string& Name, int Connections) {
  const TSide ours = Ours(Connections);
  TSide anchor;
  std::string why;
  std::printf("%-22s ours %8.1f MB/s %6.3f CPU ms/MB", Name.c_str(), ours.MBps, ours.CpuMsPerMB);
  if (!Iperf(Connections, anchor, why)) {
    std::printf("\n");
    kzbench::MissingAnchor(Name + " MB/s", why);
    return;
  }
  std::printf("   iperf3 %8.1f MB/s %6.3f CPU ms/MB\n", anchor.MBps, anchor.CpuMsPerMB);
  kzbench::Rate(Name + " MB/s", ours.MBps, anchor.MBps, "MB/s");
  kzbench::Cost(Name + " CPU per MB", ours.CpuMsPerMB, anchor.CpuMsPerMB, "ms");
}

}  // namespace

int main() {
  SetMainThread();
  signal(SIGPIPE, SIG_IGN);
  Compare("tcp push 1 conn", 1);
  Compare("tcp push 50 conns", 50);
  KzMessagesShutdown();
  return kzbench::Finish();
}
