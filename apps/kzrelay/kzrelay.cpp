// kzrelay: the relay server as a daemon. Senders push to its HTTP (TCP)
// and UDP ports; receivers pull what is addressed to them from the HTTP
// port. One line per connection change, channel, buffer limit, refusal and
// bound goes to stderr, with nobody's GUID or secret in full. SIGTERM or
// SIGINT stop it (within a second) after a summary of the open channels;
// SIGHUP reads the access file again. --web serves the senders' video to
// browsers (kzrelay_web.h).
#include <signal.h>

#include <atomic>
#include <cstdio>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappoptions.h"
#include "apps/kzrelay/kzrelay_web.h"
#include "foundation/fmxMKzMessages.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/server/fmxMKzMediaServer.h"
#ifdef KZ_HAVE_NATS
#include "streaming/server/fmxMKzNatsLink.h"
#endif

using namespace kzapp;

namespace {

const TKzOption kOptions[] = {
    {"--http-port", "P", "TCP port senders push to and receivers pull from (default 8080; 0 picks one)"},
    {"--udp-port", "Q", "UDP port senders push datagrams to (default: none)"},
    {"--temp", "DIR", "folder for file-buffered channels (default: the system's temporary folder)"},
    {"--max-groups", "N", "most groups at once (default 0: no limit)"},
    {"--cmd-options", "LIST", "server commands honoured, e.g. UseSystemCmd,CmdAllUsers,CmdAllGroups,CmdAllOnline,CmdResetServer"},
    {"--auth", "FILE", "participants allowed, one \"GUID secret group...\" a line; each must prove itself"},
    {"--guid", "GUID", "the relay's own GUID"},
    {"--max-users", "N", "most users (default 10000)"},
    {"--max-buffer-mb", "MB", "most memory buffered for all channels together (default 512)"},
    {"--video-buffer-kb", "KB", "video held for one receiver between its requests (default 4096)"},
    {"--nats", "URL[,URL...]", "join the other relays of the cluster through these NATS servers"},
    {"--cluster-name", "NAME", "the relays' cluster on NATS (default kz)"},
    {"--nats-creds", "FILE", "NATS user credentials"},
    {"--web", "PORT", "every sender's video to browsers on 127.0.0.1:PORT (/video/GUID.mjpg, /snapshot/GUID.jpg, /)"},
};

std::atomic<bool> gReload{false};
void OnHangUp(int) { gReload = true; }

const char* KindName(uint8_t Code) {
  switch (Code) {
    case 1: return "video";
    case 2: return "audio";
    case 4: return "user data";
    case 8: return "commands";
    case 16: return "files";
    default: return "?";
  }
}

const char* MediaName(kz::TKzMediaType T) {
  switch (T) {
    case kz::TKzMediaType::kzmtVideo: return "video";
    case kz::TKzMediaType::kzmtAudio: return "audio";
    case kz::TKzMediaType::kzmtUserData: return "user data";
    case kz::TKzMediaType::kzmtCmdData: return "commands";
    case kz::TKzMediaType::kzmtFileData: return "files";
  }
  return "?";
}

std::string Short(const std::string& GUIDText) { return GUIDText.substr(0, 9) + "...}"; }

bool LoadAuth(kz::TKzServerAuth& Auth, const std::string& File) {
  std::string error;
  if (!Auth.LoadFile(File, error)) {
    KzErr("kzrelay: access file: %s\n", error.c_str());
    return false;
  }
  KzErr("kzrelay: access file: %zu participants\n", Auth.Count());
  return true;
}

void Wire(kz::TKzMediaServer& S) {
  S.OnStart = [](kz::TKzMediaServer* R, kz::TKzProtocol P) {
    if (P == kz::TKzProtocol::kzpUDP)
      KzErr("kzrelay: listening on UDP port %u\n", R->UDPBoundPort());
    else
      KzErr("kzrelay: listening on HTTP port %u (session %u)\n", R->HTTPBoundPort(), R->SessionKey());
  };
  S.OnError = [](kz::TKzMediaServer*, kz::TKzProtocol P) {
    KzErr("kzrelay: cannot listen on the %s port\n", P == kz::TKzProtocol::kzpUDP ? "UDP" : "HTTP");
  };
  S.SetOnConnectionCountChanged([](kz::TKzMediaServer*, int32_t N) { KzErr("kzrelay: connections: %d\n", N); });
  S.OnUserConnect = [](kz::TKzMediaServer*, const std::string& User, kz::TKzMediaType T) {
    KzErr("kzrelay: channel open: %s %s\n", Short(User).c_str(), MediaName(T));
  };
  S.OnUserDisconnect = [](kz::TKzMediaServer*, const std::string& User, kz::TKzMediaType T) {
    KzErr("kzrelay: channel closed: %s %s\n", Short(User).c_str(), MediaName(T));
  };
  auto limit = [](bool Limit) {
    return [Limit](kz::TKzMediaServer*, const kz::TGUID& To, uint16_t Type, int32_t Size, int32_t Max,
                   kz::TKzKindLimit Kind) {
      KzErr("kzrelay: buffer %s: %s %s %d bytes (mark %d)\n",
            !Limit ? "back to normal" : Kind == kz::TKzKindLimit::kzmklClearBuffer ? "cleared" : "over half",
            kz::KzShortGUID(To).c_str(), KindName(static_cast<uint8_t>(Type)), Size, Max);
    };
  };
  S.OnLimitBuffer = limit(true);
  S.OnNotLimitBuffer = limit(false);
  S.OnRefused = [](kz::TKzMediaServer*, const std::string& Why, const kz::TGUID& Claimed) {
    KzErr("kzrelay: refused: %s%s%s\n", Why.c_str(), kz::IsNull(Claimed) ? "" : " ",
          kz::IsNull(Claimed) ? "" : kz::KzShortGUID(Claimed).c_str());
  };
  S.OnBoundReached = [](kz::TKzMediaServer*, const std::string& What, const kz::TGUID& User) {
    KzErr("kzrelay: bound reached: %s%s%s\n", What.c_str(), kz::IsNull(User) ? "" : " ",
          kz::IsNull(User) ? "" : kz::KzShortGUID(User).c_str());
  };
}

void Summary(kz::TKzMediaServer& S) {
  for (const kz::TKzChannelStat& c : S.ChannelStats())
    KzErr("kzrelay: channel %s %s: %llu packets in, %llu batches out, %llu clears, %zu bytes held\n",
          kz::KzShortGUID(c.User).c_str(), KindName(c.DataType), static_cast<unsigned long long>(c.PacketsIn),
          static_cast<unsigned long long>(c.Batches), static_cast<unsigned long long>(c.Clears), c.Buffered);
}

// The NATS link when asked for (--nats), set on the relay.
bool StartNats(kz::TKzMediaServer& S, const TKzArgs& Args, std::shared_ptr<kz::IKzRelayLink>& Link) {
#ifdef KZ_HAVE_NATS
  kz::TKzNatsLinkOptions o;
  if (!kz::KzSplitNatsServers(Args.Get("--nats"), o.Servers)) {
    KzErr("kzrelay: --nats: a comma-separated list of NATS URLs\n");
    return false;
  }
  if (Args.Has("--cluster-name")) o.Cluster = Args.Get("--cluster-name");
  o.CredsFile = Args.Get("--nats-creds");
  auto nats = std::make_shared<kz::TKzNatsLink>(&S, o);
  nats->OnLog = [](const std::string& Line) { KzErr("kzrelay: %s\n", Line.c_str()); };
  std::string error;
  if (!nats->Start(error)) {
    KzErr("kzrelay: %s\n", error.c_str());
    return false;
  }
  S.SetRelayLink(nats);
  Link = nats;
  return true;
#else
  (void)S, (void)Args, (void)Link;
  KzErr("kzrelay: built without NATS (libnats was not found)\n");
  return false;
#endif
}

}  // namespace

int Run(int argc, char** argv) {
  const std::string usage = KzUsageText("kzrelay", "--http-port P [--udp-port Q] [OPTIONS]", kOptions);
  TKzArgs args = KzParseArgs(std::vector<std::string>(argv + 1, argv + argc), kOptions);
  if (const int rc = KzArgsOutcome(args, "kzrelay", usage); rc >= 0) return rc;
  double http = 8080, udp = -1, groups = 0, users = 10000, bufferMb = 512, web = -1, videoKb = 4096;
  if (args.Has("--udp-port")) udp = 0;
  kz::TKzCmdOptions options;
  if (args.Number("--http-port", http, 0, 65535) && args.Number("--udp-port", udp, 0, 65535) &&
      args.Number("--max-groups", groups, 0, 1e9) && args.Number("--max-users", users, 1, 1e7) &&
      args.Number("--max-buffer-mb", bufferMb, 1, 1e6) && args.Number("--web", web, 0, 65535) &&
      args.Number("--video-buffer-kb", videoKb, 64, 1 << 20) &&
      !kz::KzParseCmdOptions(args.Get("--cmd-options"), options))
    args.Error = "--cmd-options: unknown option in \"" + args.Get("--cmd-options") + "\"";
  // The watcher inside kzrelay has no secret of its own to prove itself with.
  if (args.Error.empty() && web >= 0 && args.Has("--auth")) args.Error = "--web cannot be combined with --auth";
  if (!args.Error.empty()) return KzArgsOutcome(args, "kzrelay", usage);

  kz::TKzMediaServer server(nullptr);
  try {
    if (args.Has("--guid")) server.SetGUIDMy(args.Get("--guid"));
  } catch (const std::exception&) {
    args.Error = "--guid: not a GUID";
    return KzArgsOutcome(args, "kzrelay", usage);
  }
  std::shared_ptr<kz::TKzServerAuth> auth;
  if (args.Has("--auth")) {
    auth = std::make_shared<kz::TKzServerAuth>();
    if (!LoadAuth(*auth, args.Get("--auth"))) return kzExitFailed;
    server.SetAuth(auth);
  }
  server.SetCmdOptions(options);
  server.SetTempFolder(args.Get("--temp"));
  server.Bounds().MaxUsers = static_cast<uint32_t>(users);
  server.Bounds().MaxBufferedBytes = static_cast<uint64_t>(bufferMb) << 20;
  // The component's 800 KB is emptied whole as soon as a receiver's 100 ms
  // pause between requests holds a few 1080p frames (about 400 KB each at
  // high quality); the daemon holds 4 MB per video channel by default. A
  // receiver that stops asking keeps at most this until its channel ends.
  server.BufferOptions().SetVideoBufferSize(static_cast<uint32_t>(videoKb) * 1024);
  server.SetMaxGroupCount(static_cast<uint32_t>(groups));
  server.SetHTTPPort(static_cast<uint16_t>(http));
  if (udp >= 0) server.SetUDPPort(static_cast<uint16_t>(udp));
  Wire(server);
  KzCatchStopSignals();
  struct sigaction sa {};
  sa.sa_handler = OnHangUp;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGHUP, &sa, nullptr);

  std::shared_ptr<kz::IKzRelayLink> link;
  if (args.Has("--nats") && !StartNats(server, args, link)) return kzExitFailed;

  server.SetHTTPActive(true);
  if (udp >= 0) server.SetUDPActive(true);
  if (!server.HTTPActive() || (udp >= 0 && !server.UDPActive())) {
    kz::PumpUntil([] { return false; }, 100);  // the error line
    return kzExitFailed;
  }
  TKzRelayWeb webOut(server);
  if (web >= 0) {
    std::string error;
    if (!webOut.Start(static_cast<uint16_t>(web), error)) {
      KzErr("kzrelay: web: %s\n", error.c_str());
      return kzExitFailed;
    }
    KzErr("kzrelay: web page %s\n", webOut.PageURL().c_str());
  }
  while (KzStopSignal() == 0) {
    kz::PumpUntil([] { return KzStopSignal() != 0 || gReload.load(); }, 100);
    webOut.Publish();
    if (gReload.exchange(false)) {
      if (auth) {
        LoadAuth(*auth, args.Get("--auth"));
      } else {
        KzErr("kzrelay: no access file to read again\n");
      }
    }
  }
  Summary(server);
  server.SetRelayLink(nullptr);
  link.reset();  // closes the NATS connection
  webOut.Stop();
  server.SetUDPActive(false);
  server.SetHTTPActive(false);
  kz::PumpUntil([] { return false; }, 20);
  KzErr("kzrelay: stopped\n");
  return kzExitInterrupted;
}

int main(int argc, char** argv) {
  kz::SetMainThread();
  const int rc = Run(argc, argv);
  kz::KzMessagesShutdown();
  return rc;
}
