// A nats-server of the test's own on a free loopback port (never the system
// service), with JetStream in a private folder; killed when it goes.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"

namespace kztest {

inline const char* NatsServerPath() { return "/usr/sbin/nats-server"; }
inline bool HaveNatsServer() { return access(NatsServerPath(), X_OK) == 0; }

struct TNatsServer {
  pid_t Pid = -1;
  uint16_t Port = 0;
  std::string Dir;
  // MaxPayload 0: the server's default.
  explicit TNatsServer(uint32_t MaxPayload = 0) {
    char tmpl[] = "/tmp/kznats-XXXXXX";
    Dir = mkdtemp(tmpl);
    if (MaxPayload) std::ofstream(Dir + "/server.conf") << "max_payload: " << MaxPayload << "\n";
    Port = FreePort();
    Start(MaxPayload != 0);
  }
  void Start(bool WithConf = true) {
    const std::string port = std::to_string(Port), store = Dir + "/js", conf = Dir + "/server.conf";
    std::vector<std::string> args = {NatsServerPath(), "-a", "127.0.0.1", "-p", port, "-js", "-sd", store};
    if (WithConf && std::filesystem::exists(conf)) args.insert(args.end(), {"-c", conf});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    EXPECT_EQ(posix_spawn(&Pid, NatsServerPath(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Listening(Port) && std::chrono::steady_clock::now() < end) usleep(20000);  // polls a state
    EXPECT_TRUE(Listening(Port)) << "nats-server did not start";
  }
  void Kill() {
    if (Pid <= 0) return;
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
    Pid = -1;
  }
  std::string Url() const { return "nats://127.0.0.1:" + std::to_string(Port); }
  ~TNatsServer() {
    Kill();
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};

// A kzrelay process on Port joined to the cluster through Nats; SIGKILL when it goes.
struct TNatsRelayProcess {
  pid_t Pid = -1;
  uint16_t Port = FreePort();
  TNatsRelayProcess(const TNatsServer& Nats, const std::string& Cluster) {
    const std::string path =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "apps" / "kzrelay").string();
    std::vector<std::string> args = {path, "--http-port", std::to_string(Port), "--nats", Nats.Url(), "--cluster-name",
                                     Cluster};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    EXPECT_EQ(posix_spawn(&Pid, path.c_str(), &fa, nullptr, argv.data(), environ), 0) << path;
    posix_spawn_file_actions_destroy(&fa);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Listening(Port) && std::chrono::steady_clock::now() < end) usleep(20000);  // polls a state
    EXPECT_TRUE(Listening(Port)) << "kzrelay did not start";
  }
  void Kill() {
    if (Pid <= 0) return;
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
    Pid = -1;
  }
  ~TNatsRelayProcess() { Kill(); }
};

}  // namespace kztest
