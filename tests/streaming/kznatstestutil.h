// A nats-server of the test's own on a free loopback port (never the system
// service), with JetStream in a private folder; killed when it goes.
#pragma once
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "tests/streaming/kzrelaytestutil.h"

namespace kztest {

inline const char* NatsServerPath() { return "/usr/sbin/nats-server"; }
inline bool HaveNatsServer() { return access(NatsServerPath(), X_OK) == 0; }

struct TNatsServer {
  uint16_t Port = 0;
  TTempDir Dir;
  TPeer Peer;
  std::vector<std::string> Extra;  // a cluster node's arguments
  // MaxPayload 0: the server's default.
  explicit TNatsServer(uint32_t MaxPayload = 0) {
    if (MaxPayload) std::ofstream(Dir / "server.conf") << "max_payload: " << MaxPayload << "\n";
    Port = FreePort();
    Start(MaxPayload != 0);
  }
  // Node Name of the cluster whose nodes listen for routes on RoutePorts (this one on Route).
  TNatsServer(const std::string& Name, uint16_t Route, const std::vector<uint16_t>& RoutePorts) {
    Port = FreePort();
    std::string routes;
    for (uint16_t p : RoutePorts)
      if (p != Route) routes += (routes.empty() ? "" : ",") + std::string("nats://127.0.0.1:") + std::to_string(p);
    Extra = {"--server_name", Name, "--cluster_name", "kztest", "--cluster",
             "nats://127.0.0.1:" + std::to_string(Route), "--routes", routes};
    Start(false);
  }
  void Start(bool WithConf = true) {
    const std::string port = std::to_string(Port), store = Dir / "js", conf = Dir / "server.conf";
    std::vector<std::string> args = {NatsServerPath(), "-a", "127.0.0.1", "-p", port, "-js", "-sd", store};
    args.insert(args.end(), Extra.begin(), Extra.end());
    if (WithConf && std::filesystem::exists(conf)) args.insert(args.end(), {"-c", conf});
    EXPECT_TRUE(Peer.Start(args, "/dev/null"));
    EXPECT_TRUE(Peer.WaitListening(Port, 10000)) << "nats-server did not start";
  }
  void Kill() { Peer.Kill(); }
  std::string Url() const { return "nats://127.0.0.1:" + std::to_string(Port); }
  ~TNatsServer() { Peer.Kill(); }
};

// A kzrelay process joined to the cluster through Nats.
struct TNatsRelayProcess : TRelayProcess {
  TNatsRelayProcess(const TNatsServer& Nats, const std::string& Cluster)
      : TRelayProcess(FreePort(), {"--nats", Nats.Url(), "--cluster-name", Cluster}, true) {}
};

}  // namespace kztest
