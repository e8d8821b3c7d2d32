// Helpers shared by the tests: temporary directories, third-party servers
// started on free loopback ports (Apache httpd, a GStreamer RTSP server that
// logs the requests it sees), the programs of this build, and a scripted
// loopback server for the cases no real server produces on demand (split
// chunk lines, silence).
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
#include <type_traits>
#include <vector>

#include "inet/fmxMKzMD5.h"
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

// A file's bytes as text, or as another container of bytes (ReadFile<std::vector<uint8_t>>).
template <class TBytes = std::string>
inline TBytes ReadFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(f), {});
}
template <class TBytes = std::string>
inline void WriteFile(const std::string& Path, const std::type_identity_t<TBytes>& Data) {
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

// Descriptors this process holds open.
inline size_t OpenFds() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A temporary directory readable by the servers' unprivileged users.
class TTempDir {
public:
  TTempDir() {
    char tmpl[] = "/tmp/kztest.XXXXXX";
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
  pid_t Pid() const { return FPid; }
  // Sends Sig to the program's group.
  void Signal(int Sig) {
    if (FPid > 0) kill(-FPid, Sig);
  }
  // Kills the program at once (SIGKILL to its group), as a crash would.
  void Kill() {
    if (FPid <= 0) return;
    kill(-FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
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
    } else if (kz::PlatformSocketError() != kz::TKzSocketError::kzseWouldBlock ||
               kz::PlatformPollWrite(S, 1000) != 1) {
      return false;  // the peer has gone, or the buffer stayed full for a second
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
  std::atomic<int> FAccepted{0};
  std::vector<TClient> FClients;  // server thread only
  std::mutex FLock;               // guards FRequests
  std::vector<std::string> FRequests;
};

// A program of this build (apps/<Name>), found next to the test's directory.
inline std::string AppPath(const std::string& Name) {
  char self[4096] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return {};
  return std::filesystem::path(self).parent_path().parent_path().string() + "/apps/" + Name;
}

// What a command line run through the shell printed and how it ended.
struct TToolRun {
  int Exit = -1;
  std::string Out, Err;
};
// Runs Command with stdin empty, its output kept in files of Dir.
inline TToolRun RunTool(const TTempDir& Dir, const std::string& Command) {
  TToolRun r;
  const int st = std::system((Command + " >" + (Dir / "run.out") + " 2>" + (Dir / "run.err") + " </dev/null").c_str());
  r.Exit = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.Out = ReadFile(Dir / "run.out");
  r.Err = ReadFile(Dir / "run.err");
  return r;
}

// Runs a shell command; its standard output, and its exit status in Status.
inline std::string RunOutput(const std::string& Cmd, int* Status = nullptr) {
  std::string out;
  FILE* p = popen(Cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = pclose(p);
  if (Status) *Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// Apache httpd on a free loopback port with the event MPM, the given
// modules (by short name, e.g. "auth_digest"), DocumentRoot Root and Conf
// appended to its configuration. Stopped with the object.
class TApacheServer {
public:
  // Port 0: a free one.
  TApacheServer(const TTempDir& Dir, const std::string& Root, const std::vector<std::string>& Modules,
                const std::string& Conf, uint16_t APort = 0) {
    if (!HaveProgram("apache2")) {
      FWhy = "apache2 is not installed";
      return;
    }
    Port = APort ? APort : FreePort();
    const std::string d = Dir.Path();
    std::string conf = "ServerRoot /usr/lib/apache2\nServerName 127.0.0.1\n"
                       "LoadModule mpm_event_module modules/mod_mpm_event.so\n";
    for (const std::string& m : Modules) conf += "LoadModule " + m + "_module modules/mod_" + m + ".so\n";
    conf += "Listen 127.0.0.1:" + std::to_string(Port) + "\nPidFile " + d + "/httpd.pid\nDefaultRuntimeDir " + d +
            "\nErrorLog " + d + "/error.log\nUser nobody\nGroup nogroup\nDocumentRoot " + Root +
            "\nKeepAlive On\nMaxKeepAliveRequests 0\nKeepAliveTimeout 30\n"
            "<Directory " + Root + ">\n  Require all granted\n</Directory>\n" + Conf;
    WriteFile(Dir / "httpd.conf", conf);
    if (!FPeer.Start({"apache2", "-f", Dir / "httpd.conf", "-DFOREGROUND"}, Dir / "apache.log") ||
        !FPeer.WaitListening(Port, 10000))
      FWhy = "apache2 did not start: " + ReadFile(Dir / "apache.log") + ReadFile(Dir / "error.log");
  }
  // Empty when the server runs.
  const std::string& Why() const { return FWhy; }
  std::string Url(const std::string& Path) const { return "http://127.0.0.1:" + std::to_string(Port) + Path; }
  uint16_t Port = 0;

private:
  TPeer FPeer;
  std::string FWhy;
};

// A site where alice with Password may read www/basic/x.txt ("basic ok")
// under Basic (realm kzbasic, htpasswd) and www/digest/x.txt ("digest ok")
// under Digest (realm kzdigest; htdigest holds both realms). Everything is
// made readable, the directory writable for the servers' own files.
inline void MakeAuthSite(const TTempDir& D, const std::string& Password) {
  std::filesystem::create_directories(D / "www/basic");
  std::filesystem::create_directories(D / "www/digest");
  WriteFile(D / "www/basic/x.txt", "basic ok\n");
  WriteFile(D / "www/digest/x.txt", "digest ok\n");
  std::string digest;  // user:realm:MD5(user:realm:password)
  for (const std::string realm : {"kzdigest", "kzbasic"})
    digest += "alice:" + realm + ":" + kz::MD5Print(kz::MD5String("alice:" + realm + ":" + Password)) + "\n";
  WriteFile(D / "htdigest", digest);
  std::system(("htpasswd -bc " + (D / "htpasswd") + " alice '" + Password + "' >/dev/null 2>&1").c_str());
  std::system(("chmod -R a+rX " + D.Path() + " && chmod a+w " + D.Path()).c_str());
}

// Apache settings that protect that site, and the modules they need.
inline std::string ApacheAuthConf(const std::string& D) {
  return "<Location /basic>\n  AuthType Basic\n  AuthName \"kzbasic\"\n  AuthUserFile " + D +
         "/htpasswd\n  Require valid-user\n</Location>\n"
         "<Location /digest>\n  AuthType Digest\n  AuthName \"kzdigest\"\n  AuthDigestProvider file\n"
         "  AuthUserFile " + D + "/htdigest\n  Require valid-user\n</Location>\n";
}
inline std::vector<std::string> ApacheAuthModules() {
  return {"authz_core", "authz_user", "authn_core", "authn_file", "auth_basic", "auth_digest"};
}

// What a TRtspServer serves: Motion-JPEG video with PCMU audio, or H.264 /
// H.265 video of 640×480 at 25 fps (a flat colour R 0x30 G 0x80 B 0xC0
// unless Moving), one media shared by all clients.
enum class TRtspMedia { MJPEG, H264, H265 };
struct TRtspServerSetup {
  TRtspMedia Media = TRtspMedia::MJPEG;
  bool Digest = false;  // Digest instead of Basic when Auth
  bool Moving = false;  // a moving test picture instead of the flat colour
  int Width = 640, Height = 480;
};

// A GStreamer RTSP server at Mount (credentials user/pass when Auth). Every
// request it receives is written to its log as "request METHOD".
class TRtspServer {
public:
  explicit TRtspServer(bool Auth, const std::string& Mount = "/test", const TRtspServerSetup& Setup = {})
      : FMount(Mount) {
    if (access("/usr/bin/python3", X_OK) != 0) {
      FWhy = "/usr/bin/python3 is missing";
      return;
    }
    if (std::system("/usr/bin/python3 -c \"import gi; gi.require_version('GstRtspServer', '1.0'); "
                    "from gi.repository import GstRtspServer\" >/dev/null 2>&1") != 0) {
      FWhy = "the GStreamer RTSP server bindings are missing";
      return;
    }
    WriteFile(FDir / "server.py", Script());
    Port = FreePort();
    static const char* const media[] = {"mjpeg", "h264", "h265"};
    FArgv = {"/usr/bin/python3", FDir / "server.py", std::to_string(Port), Mount, media[int(Setup.Media)],
             !Auth ? "none" : Setup.Digest ? "digest" : "basic", Setup.Moving ? "ball" : "solid-color",
             std::to_string(Setup.Width) + "x" + std::to_string(Setup.Height)};
    Restart();
  }
  // Starts the server again on the same port (after Kill). False when it did not come up.
  bool Restart() {
    if (!FPeer.Start(FArgv, FDir / "server.log") || !FPeer.WaitListening(Port, 15000)) {
      FWhy = "the RTSP server did not start: " + ReadFile(FDir / "server.log");
      return false;
    }
    FWhy.clear();
    return true;
  }
  // Kills the server at once, as a crash would.
  void Kill() { FPeer.Kill(); }
  // Freezes and thaws the server (SIGSTOP / SIGCONT): a stalled peer.
  void Pause(bool Stop) { FPeer.Signal(Stop ? SIGSTOP : SIGCONT); }
  const std::string& Why() const { return FWhy; }
  std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(Port) + FMount; }
  // The methods of the requests seen so far, in order.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(FDir / "server.log"));
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("request ", 0) == 0) out.push_back(line.substr(8));
    return out;
  }
  uint16_t Port = 0;

private:
  static const char* Script() {
    return R"PY(import sys, gi
gi.require_version('Gst', '1.0')
gi.require_version('GstRtspServer', '1.0')
from gi.repository import Gst, GstRtspServer, GLib
Gst.init(None)
from gi.repository import GstRtsp
port, mount, media, auth, pattern, size = sys.argv[1:7]
width, height = size.split('x')
server = GstRtspServer.RTSPServer()
server.set_address('127.0.0.1')
server.set_service(port)
f = GstRtspServer.RTSPMediaFactory()
src = ('videotestsrc is-live=1 pattern=%s foreground-color=0xff3080c0 ! '
       'video/x-raw,format=I420,width=%s,height=%s,framerate=25/1 ! ' % (pattern, width, height))
if media == 'h264':
    f.set_launch('( ' + src + 'x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25 ! '
                 'rtph264pay name=pay0 pt=96 config-interval=1 )')
elif media == 'h265':
    f.set_launch('( ' + src + 'x265enc tune=zerolatency speed-preset=ultrafast key-int-max=25 ! h265parse ! '
                 'rtph265pay name=pay0 pt=96 config-interval=1 )')
else:
    f.set_launch('( videotestsrc is-live=1 ! video/x-raw,format=I420,width=160,height=120,framerate=10/1 ! jpegenc ! rtpjpegpay name=pay0 pt=26 '
                 'audiotestsrc is-live=1 ! audioconvert ! audioresample ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! rtppcmupay name=pay1 )')
f.set_shared(True)
if auth != 'none':
    a = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string('media.factory.role', 'user')
    if auth == 'digest':
        a.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        a.add_digest('user', 'pass', token)
    else:
        a.add_basic(GstRtspServer.RTSPAuth.make_basic('user', 'pass'), token)
    server.set_auth(a)
    perms = GstRtspServer.RTSPPermissions()
    perms.add_role_from_structure(Gst.Structure.new_from_string('user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true'))
    f.set_permissions(perms)
def on_client(server, client):
    for m in ('options', 'describe', 'setup', 'play', 'pause', 'teardown', 'get-parameter', 'set-parameter'):
        client.connect(m + '-request', lambda c, ctx, m=m: print('request', m.upper(), flush=True))
server.connect('client-connected', on_client)
server.get_mount_points().add_factory(mount, f)
server.attach(None)
print('ready', flush=True)
GLib.MainLoop().run()
)PY";
  }
  std::string FMount;
  TTempDir FDir;
  TPeer FPeer;
  std::vector<std::string> FArgv;
  std::string FWhy;
};

}  // namespace kztest
