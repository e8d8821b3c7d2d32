// kzdemo --relay: the synthetic camera's video goes through two senders to
// a kzrelay daemon the demo starts, and on to two receivers that joined
// different groups; each sender addresses one group. The summary shows what
// each receiver got and the relay's own count per channel.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappoptions.h"
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzdemo/kzdemo_relay.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/fmxMKzCamReceiver.h"

using namespace kz;
using namespace kzapp;

namespace {

const char* kGroups[2] = {"{6A000001-0000-4000-8000-000000000001}", "{6A000002-0000-4000-8000-000000000002}"};
const char* kSenders[2] = {"{5E000001-0000-4000-8000-000000000001}", "{5E000002-0000-4000-8000-000000000002}"};
const char* kReceivers[2] = {"{4C000001-0000-4000-8000-000000000001}", "{4C000002-0000-4000-8000-000000000002}"};

struct TFrameCount : IKzCamViewConsumer {
  std::atomic<int64_t> Frames{0};
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override { ++Frames; }
};

// kzrelay on Port, its log lines in a pipe.
struct TRelayChild {
  pid_t Pid = -1;
  int Log = -1;
  bool Start(uint16_t Port) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string path = (self.parent_path() / "kzrelay").string();
    const std::string port = std::to_string(Port);
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("--http-port"), const_cast<char*>(port.c_str()),
                    nullptr};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    const int rc = posix_spawn(&Pid, path.c_str(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    Log = fds[0];
    return rc == 0;
  }
  // Stops it and returns what it logged.
  std::string Stop() {
    std::string out;
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      char buf[4096];
      for (ssize_t n; (n = read(Log, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
      waitpid(Pid, nullptr, 0);
      Pid = -1;
    }
    if (Log >= 0) close(Log), Log = -1;
    return out;
  }
  ~TRelayChild() { Stop(); }
};

uint16_t FreePort() {
  TKzSocket s = PlatformListenTCP(PlatformLookupIPv4("127.0.0.1"), 0, 1);
  const uint16_t port = PlatformSocketLocalPort(s);
  PlatformCloseSocket(s);
  return port;
}

}  // namespace

int KzDemoRelay(double Seconds) {
  KzOut("KzMedia demo: camera -> 2 senders -> kzrelay -> 2 receivers in different groups\n");
  kzcamsim::TKzSimOptions so;
  so.Width = 640;
  so.Height = 480;
  so.FramePerSec = 25;
  kzcamsim::TKzCamSim sim(so);
  std::string error;
  if (!sim.Start(&error)) {
    KzErr("kzdemo: the synthetic camera did not start: %s\n", error.c_str());
    return kzExitFailed;
  }
  const uint16_t port = FreePort();
  TRelayChild relay;
  if (!relay.Start(port)) {
    KzErr("kzdemo: kzrelay did not start\n");
    return kzExitFailed;
  }
  KzOut("relay: kzrelay on port %u\n", port);
  PumpUntil([] { return false; }, 300);  // it binds

  TKzCamera camera(nullptr);
  std::unique_ptr<TKzCamSender> senders[2], joiners[2];
  std::unique_ptr<TKzCamReceiver> receivers[2];
  TFrameCount counts[2];
  for (int i = 0; i < 2; ++i) {
    // Each receiver's application joins its group with a sender of its own identity.
    joiners[i] = std::make_unique<TKzCamSender>(nullptr);
    joiners[i]->SetProtocol(TKzProtocol::kzpHTTP);
    joiners[i]->SetReceiverHost("127.0.0.1");
    joiners[i]->SetReceiverPort(port);
    joiners[i]->SetGUIDFrom(kReceivers[i]);
    joiners[i]->SetSendMediaTypes({TKzMediaType::kzmtCmdData});
    joiners[i]->SetActive(true);
    receivers[i] = std::make_unique<TKzCamReceiver>(nullptr);
    receivers[i]->SetProtocol(TKzProtocol::kzpHTTP);
    receivers[i]->SetTCPConnectionType(TKzTCPConnectionType::kztcpReceiverToSender);
    receivers[i]->SetGUIDMy(kReceivers[i]);
    receivers[i]->SetReceiveMediaTypes({TKzMediaType::kzmtVideo, TKzMediaType::kzmtCmdData});
    auto& item = receivers[i]->Senders().Add();
    item.SetSenderHost("127.0.0.1");
    item.SetSenderPort(port);
    receivers[i]->RegisterCamView(&counts[i]);
    receivers[i]->SetActive(true);
  }
  PumpUntil([] { return false; }, 300);  // the receivers' channels open: a group member needs its record
  for (int i = 0; i < 2; ++i) joiners[i]->JoinGroup(kGroups[i], false);
  for (int i = 0; i < 2; ++i) {
    senders[i] = std::make_unique<TKzCamSender>(nullptr);
    senders[i]->SetProtocol(TKzProtocol::kzpHTTP);
    senders[i]->SetReceiverHost("127.0.0.1");
    senders[i]->SetReceiverPort(port);
    senders[i]->SetGUIDFrom(kSenders[i]);
    senders[i]->SetGUIDGroup(kGroups[i]);
    senders[i]->SetSendMediaTypes({TKzMediaType::kzmtVideo});
    senders[i]->SetVideoSource(&camera);
    senders[i]->SetActive(true);
  }
  camera.SetURL(sim.StreamURL());
  camera.PlayVideoStream();
  const uint64_t end = KzMGetTickCount() + static_cast<uint64_t>(Seconds * 1000);
  while (KzStopSignal() == 0 && KzMGetTickCount() < end) {
    PumpUntil([] { return KzStopSignal() != 0; }, 500);
    KzOut("  group 1 receiver %5lld frames   group 2 receiver %5lld frames\n",
          static_cast<long long>(counts[0].Frames.load()), static_cast<long long>(counts[1].Frames.load()));
  }
  camera.Abort();
  const std::string log = relay.Stop();
  for (int i = 0; i < 2; ++i) {
    senders[i]->SetActive(false);
    senders[i]->SetVideoSource(nullptr);
    receivers[i]->SetActive(false);
    receivers[i]->UnRegisterCamView(&counts[i]);
    joiners[i]->SetActive(false);
  }
  sim.Stop();
  KzOut("summary:\n");
  for (int i = 0; i < 2; ++i)
    KzOut("  receiver in group %d  %lld frames from its group's sender\n", i + 1,
          static_cast<long long>(counts[i].Frames.load()));
  KzOut("  relay channels (packets in, batches out, buffer clears):\n");
  size_t at = 0;
  for (size_t nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
    const std::string line = log.substr(at, nl - at);
    if (line.rfind("kzrelay: channel {", 0) == 0) KzOut("    %s\n", line.c_str() + 9);
  }
  const bool ok = counts[0].Frames > 0 && counts[1].Frames > 0;
  if (KzStopSignal()) {
    KzOut("demo: interrupted\n");
    return kzExitInterrupted;
  }
  KzOut(ok ? "demo: OK\n" : "demo: FAILED: a receiver got no video through the relay\n");
  return ok ? kzExitDone : kzExitFailed;
}
