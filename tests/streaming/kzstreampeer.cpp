// The far end of the two-process socket tests:
//   kzstreampeer push tcp|udp|http PORT PROXYPORT FIRST COUNT
//       sends payloads FIRST.. (COUNT 0: for ever, reconnecting when a send fails)
//   kzstreampeer pullserve PORT
//       serves pulled connections, offering the payload set over and over
// Every mode ends by itself after a minute.
#include <cstdlib>
#include <cstring>

#include "streaming/fmxMKzSenderListener.h"
#include "tests/streaming/kzsockettestutil.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace {

const auto kLimit = std::chrono::seconds(60);

TKzProtocol ProtocolOf(const char* Name) {
  return !std::strcmp(Name, "udp") ? TKzProtocol::kzpUDP : !std::strcmp(Name, "http") ? TKzProtocol::kzpHTTP
                                                                                      : TKzProtocol::kzpTCP;
}

int Push(TKzProtocol Protocol, uint16_t Port, uint16_t ProxyPort, uint64_t First, uint64_t Count) {
  const TKzProxyProperty proxy = kztest::ProxyAt(ProxyPort);
  const auto end = Clock::now() + kLimit;
  TKzSocket s = KZ_INVALID_SOCKET;
  kztest::TIndexParts index{};
  for (uint64_t seq = First; (Count == 0 || seq < First + Count) && Clock::now() < end; ++seq) {
    if (s == KZ_INVALID_SOCKET) {
      std::string error;
      s = Protocol == TKzProtocol::kzpUDP ? PlatformSocketUDP()
                                          : KzMConnectStream({"127.0.0.1", Port, Protocol, &proxy, 3000}, nullptr, error);
      if (s == KZ_INVALID_SOCKET) {
        if (Count) return std::fprintf(stderr, "kzstreampeer: %s\n", error.c_str()), 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --seq;
        continue;
      }
    }
    if (kztest::PushOne(s, Protocol, Port, seq, index) < 0) {
      if (Count) return 1;
      PlatformCloseSocket(s);
    }
    if (Count == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (s != KZ_INVALID_SOCKET) PlatformShutdown(s);  // the receiver reads to the end
  PlatformCloseSocket(s);
  return 0;
}

int PullServe(uint16_t Port) {
  TKzPullSettings settings;
  settings.FGUIDFrom = kztest::SpecOf(0, TKzProtocol::kzpTCP).GUIDFrom;
  TKzSenderListenerThread listener(settings);
  if (!listener.Init(Port)) return 1;
  listener.Start();
  // The file payload is read from disk when it is sent.
  const std::string file = "/tmp/kzstreampeer-" + std::to_string(getpid()) + ".bin";
  const auto end = Clock::now() + kLimit;
  for (uint64_t seq = 0; Clock::now() < end; ++seq) {
    TMemoryStream s;
    kztest::PayloadStream(seq, s);
    TKzInfo info = kztest::SpecOf(seq, TKzProtocol::kzpTCP).Info;
    if (kztest::KindOf(seq).Type == DATA_TYPE_FILE) {
      TFileStream f(file, TFileMode::fmCreate);
      f.Write(s.Memory(), s.Size());
      info.FileInfo.FileName = file;
    }
    listener.SendStream(s, kztest::KindOf(seq).Type, info);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::remove(file.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "push" && argc == 7)
    return Push(ProtocolOf(argv[2]), static_cast<uint16_t>(std::atoi(argv[3])), static_cast<uint16_t>(std::atoi(argv[4])),
                std::strtoull(argv[5], nullptr, 10), std::strtoull(argv[6], nullptr, 10));
  if (mode == "pullserve" && argc == 3) return PullServe(static_cast<uint16_t>(std::atoi(argv[2])));
  std::fprintf(stderr, "usage: kzstreampeer push|pullserve ...\n");
  return 2;
}
