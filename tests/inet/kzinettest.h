// Helpers of the internet tests: temporary directories, third-party servers
// started on free loopback ports, and a scripted loopback server for the
// cases no real server produces on demand (split chunk lines, silence).
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformSockets.h"

extern char** environ;

namespace kztest {

inline uint32_t Loopback() { return kz::PlatformLookupIPv4("127.0.0.1"); }

// A port nobody listens on right now.
inline uint16_t FreePort() {
  kz::TKzSocket s = kz::PlatformListenTCP(Loopback(), 0, 1);
  const uint16_t p = kz::PlatformSocketLocalPort(s);
  kz::PlatformCloseSocket(s);
  return p;
}

// Whether something listens on 127.0.0.1:Port, read from the kernel's table
// so that servers taking a single client are not disturbed.
inline bool Listening(uint16_t Port) {
  char want[32];
  std::snprintf(want, sizeof want, ":%04X ", Port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream f(table);
    std::string line;
    while (std::getline(f, line)) {
      std::istringstream in(line);
      std::string slot, local, remote, state;
      in >> slot >> local >> remote >> state;
      if (state == "0A" && (local + " ").find(want) != std::string::npos) return true;
    }
  }
  return false;
}

inline std::string ReadFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
inline void WriteFile(const std::string& Path, const std::string& Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

// A temporary directory readable by the servers' unprivileged users.
class TTempDir {
public:
  TTempDir() {
    char tmpl[] = "/tmp/kzinet.XXXXXX";
    FPath = mkdtemp(tmpl);
    std::filesystem::permissions(FPath, std::filesystem::perms(0755));
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }

private:
  std::string FPath;
};

// A program run in its own process group, stopped (group-wide) at the end.
class TPeer {
public:
  TPeer() = default;
  ~TPeer() { Stop(); }
  // Starts Argv; output goes to LogFile. False when the program cannot start.
  bool Start(const std::vector<std::string>& Argv, const std::string& LogFile) {
    std::vector<char*> args;
    for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawnattr_t at;
    posix_spawnattr_init(&at);
    posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&at, 0);
    const int rc = posix_spawnp(&FPid, args[0], &fa, &at, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&at);
    if (rc != 0) FPid = -1;
    return FPid > 0;
  }
  // Waits up to Ms for the port to listen; false when the program died first.
  bool WaitListening(uint16_t Port, int Ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (std::chrono::steady_clock::now() < end) {
      if (Listening(Port)) return true;
      if (!Alive()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  bool Alive() {
    if (FPid <= 0) return false;
    int st = 0;
    if (waitpid(FPid, &st, WNOHANG) == FPid) {
      FPid = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (FPid <= 0) return;
    kill(-FPid, SIGTERM);
    for (int i = 0; i < 40; ++i) {  // up to 2 s, then by force
      int st = 0;
      if (waitpid(FPid, &st, WNOHANG) == FPid) {
        kill(-FPid, SIGKILL);  // helpers it left behind
        FPid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

private:
  pid_t FPid = -1;
};

inline bool HaveProgram(const std::string& Name) {
  return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
}

// Sends all of Text on a blocking-enough loopback socket (test side).
inline bool SendAll(kz::TKzSocket S, const std::string& Text) {
  size_t off = 0;
  while (off < Text.size()) {
    const int64_t r = kz::PlatformSend(S, Text.data() + off, int64_t(Text.size() - off));
    if (r > 0) {
      off += size_t(r);
    } else if (kz::PlatformPollWrite(S, 1000) != 1) {
      return false;
    }
  }
  return true;
}

// A loopback server that hands every complete request to a script. The
// script answers on the connection (it may pause between pieces).
class TScriptedServer {
public:
  using TScript = std::function<void(const std::string& Request, kz::TKzSocket Client, int Index)>;
  explicit TScriptedServer(TScript Script) : FScript(std::move(Script)) {
    FListener = kz::PlatformListenTCP(Loopback(), 0, 16);
    FPort = kz::PlatformSocketLocalPort(FListener);
    FThread = std::thread([this] { Run(); });
  }
  ~TScriptedServer() {
    FStop = true;
    FThread.join();
    for (auto& c : FClients) kz::PlatformCloseSocket(c.Socket);
    kz::PlatformCloseSocket(FListener);
  }
  uint16_t Port() const { return FPort; }
  int Accepted() const { return FAccepted.load(); }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> g(FLock);
    return FRequests;
  }
  // Closes every client connection (from the script's thread or any other).
  void CloseClients() { FCloseAll = true; }

private:
  struct TClient {
    kz::TKzSocket Socket;
    std::string Data;
  };
  void Run() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // bound of any test
    while (!FStop && std::chrono::steady_clock::now() < end) {
      kz::TKzSocket c = kz::PlatformAccept(FListener, 5);
      if (c != kz::KZ_INVALID_SOCKET) {
        FClients.push_back({c, {}});
        ++FAccepted;
      }
      if (FCloseAll.exchange(false))
        for (auto& cl : FClients) kz::PlatformCloseSocket(cl.Socket);
      for (auto& cl : FClients) {
        if (cl.Socket == kz::KZ_INVALID_SOCKET) continue;
        char buf[4096];
        const int64_t r = kz::PlatformRecv(cl.Socket, buf, sizeof buf);
        if (r == 0 || (r < 0 && kz::PlatformSocketError() != kz::TKzSocketError::kzseWouldBlock)) {
          kz::PlatformCloseSocket(cl.Socket);
          continue;
        }
        if (r > 0) cl.Data.append(buf, size_t(r));
        const size_t end = cl.Data.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        const std::string req = cl.Data.substr(0, end + 4);
        cl.Data.erase(0, end + 4);
        int index;
        {
          std::lock_guard<std::mutex> g(FLock);
          FRequests.push_back(req);
          index = int(FRequests.size()) - 1;
        }
        FScript(req, cl.Socket, index);
      }
    }
  }
  TScript FScript;
  kz::TKzSocket FListener;
  uint16_t FPort = 0;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FCloseAll{false};
  std::atomic<int> FAccepted{0};
  std::vector<TClient> FClients;  // server thread only
  std::mutex FLock;               // guards FRequests
  std::vector<std::string> FRequests;
};

// One GET through the handle interface: status and body; false on failure.
struct TFetch {
  bool Ok = false;
  uint32_t Status = 0;
  std::string Body;
};
inline TFetch Fetch(kz::PInet H, const std::string& Path, uint32_t ReadSize = 65536, const char* Verb = "GET") {
  TFetch f;
  uint32_t index = 0;
  if (!kz::HttpOpenRequest(H, Verb, Path.c_str(), nullptr, nullptr, nullptr, 0, 0) ||
      !kz::HttpSendRequest(H, nullptr, 0, nullptr, 0) ||
      !kz::HttpQueryInfo(H, kz::HTTP_QUERY_STATUS_CODE | kz::HTTP_QUERY_FLAG_NUMBER, f.Status, index))
    return f;
  std::vector<char> buf(ReadSize);
  uint32_t n = 0;
  bool ok;
  while ((ok = kz::InternetReadFile(H, buf.data(), ReadSize, n)) && n > 0) f.Body.append(buf.data(), n);
  f.Ok = ok;
  kz::InternetCloseHandle(H);  // the request level
  return f;
}

}  // namespace kztest
