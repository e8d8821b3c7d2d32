// The HTTP video server with a real camera (the synthetic one, played by a
// TKzCamera) and raw loopback clients: clear replies to bad requests, many
// clients at once with one that stops reading, and a flood of idle
// connections; and the server side of authentication.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzDigestAuth.h"
#include "inet/fmxMKzInetReply.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformPollSet.h"
#include "tests/camera/camera_rig.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "webserver/fmxMKzHttpVideoServer.h"

using namespace kz;
using namespace kztest;

namespace {

// A synthetic camera played by a TKzCamera and published as "cam1".
struct TServedCamera {
  explicit TServedCamera(int32_t MaxClients, uint32_t IdleMs = 10000) : Sim({.Width = 320, .Height = 240, .Faults = {}}) {
    EXPECT_TRUE(Sim.Start());
    Server.SetMaxClients(MaxClients);
    Server.SetIdleTimeoutMs(IdleMs);
    EXPECT_TRUE(Server.Publish("cam1", &Camera));
    Server.SetActive(true);
    EXPECT_TRUE(Server.Active()) << Server.LastError();
    Camera.SetURL(Sim.StreamURL());
    Camera.SetDeviceType(TKzDeviceType::kzdtHTTP);
    Camera.PlayVideoStream();
  }
  ~TServedCamera() {
    Server.SetActive(false);
    Server.Unpublish("cam1");
    Camera.Abort();
    PumpUntil([&] { return !Camera.IsVideoPlaying(); }, 5000);
  }
  kzcamsim::TKzCamSim Sim;
  TKzCamera Camera{nullptr};
  TKzHttpVideoServer Server{nullptr};
};

TKzSocket Connect(uint16_t Port, int ReceiveBuffer = 0) {
  TKzSocket s = PlatformSocketTCP();
  if (ReceiveBuffer > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
  if (PlatformConnect(s, Loopback(), Port) != 0) PlatformCloseSocket(s);
  return s;
}

// Sends Request and reads until the peer closes or Until appears (20 s at most).
std::string Exchange(uint16_t Port, const std::string& Request, const std::string& Until = {}) {
  TKzSocket s = Connect(Port);
  std::string reply;
  if (s == KZ_INVALID_SOCKET || !SendAll(s, Request)) return "(no connection)";
  char b[4096];
  for (int i = 0; i < 400 && (Until.empty() || reply.find(Until) == std::string::npos); ++i) {
    if (PlatformPollRead(s, 50) != 1) continue;
    const int64_t n = PlatformRecv(s, b, sizeof b);
    if (n <= 0) break;
    reply.append(b, static_cast<size_t>(n));
  }
  PlatformCloseSocket(s);
  return reply;
}

// Exchange on another thread while the main thread serves the camera.
std::string ExchangePumping(uint16_t Port, const std::string& Request) {
  std::string reply;
  std::atomic<bool> done{false};
  std::thread t([&] {
    reply = Exchange(Port, Request);
    done = true;
  });
  PumpUntil([&] { return done.load(); }, 60000);
  t.join();
  return reply;
}

std::string StatusLine(const std::string& Reply) { return Reply.substr(0, Reply.find("\r\n")); }

}  // namespace

TEST(HttpVideoServer, BadRequestsGetClearRepliesAndServingGoesOn) {
  TServedCamera c(8);
  const uint16_t port = c.Server.ListeningPort();
  const std::string big(9000, 'a');
  const struct {
    std::string Request;
    const char* Status;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET /status.json HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET /nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /video/nosuch.mjpg HTTP/1.0\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /video/../status.json HTTP/1.0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /snapshot/%2e%2e%2fcam1.jpg HTTP/1.0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET //etc/passwd HTTP/1.0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET http://x/ HTTP/1.0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},  // no Host
      {"GET / HTTP/1.0\n\n", "HTTP/1.1 400 Bad Request"},      // bare line feeds
      {"GET / HTTP/1.0\r\nX-Long: " + big + "\r\n\r\n", "HTTP/1.1 431 Request Header Fields Too Large"},
      {"GET /" + big + " HTTP/1.0\r\n\r\n", "HTTP/1.1 431 Request Header Fields Too Large"},
      {"POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 400 Bad Request"},
      {"DELETE / HTTP/1.0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
      {std::string("GET /\0 HTTP/1.0\r\n\r\n", 19), "HTTP/1.1 400 Bad Request"},
  };
  for (const auto& k : cases) {
    const std::string reply = Exchange(port, k.Request);
    EXPECT_EQ(StatusLine(reply), k.Status) << k.Request.substr(0, 60);
    EXPECT_NE(reply.find("Cache-Control: no-store"), std::string::npos) << k.Request.substr(0, 60);
  }
  // A kept-alive connection takes the next request.
  const std::string two = Exchange(port, "GET /status.json HTTP/1.1\r\nHost: x\r\n\r\nGET /x HTTP/1.1\r\nHost: x\r\n"
                                         "Connection: close\r\n\r\n");
  EXPECT_EQ(StatusLine(two), "HTTP/1.1 200 OK");
  EXPECT_NE(two.find("\"name\":\"cam1\""), std::string::npos) << two;
  EXPECT_NE(two.find("HTTP/1.1 404 Not Found"), std::string::npos) << two;
  // The server still serves: a snapshot decodes to the camera's size.
  const std::string shot = ExchangePumping(port, "GET /snapshot/cam1.jpg HTTP/1.0\r\n\r\n");
  ASSERT_EQ(StatusLine(shot), "HTTP/1.1 200 OK");
  TKzMBitmap picture;
  const std::string body = shot.substr(shot.find("\r\n\r\n") + 4);
  ASSERT_TRUE(KzCodecDecode(reinterpret_cast<const uint8_t*>(body.data()), body.size(), picture));
  EXPECT_EQ(picture.Width(), 320);
  EXPECT_GE(kzcamsim::KzSimReadStamp(picture), 0);
}

TEST(HttpVideoServer, FiftyClientsGetTheFramesWhileOneStopsReading) {
  TServedCamera c(64, 2000);
  const uint16_t port = c.Server.ListeningPort();
  constexpr int kClients = 50;
  // One client asks for the stream and never reads: it is dropped, the others go on.
  TKzSocket stalled = Connect(port, 4096);
  ASSERT_TRUE(SendAll(stalled, "GET /video/cam1.mjpg HTTP/1.0\r\n\r\n"));
  std::vector<TKzSocket> socks;
  for (int i = 0; i < kClients; ++i) {
    socks.push_back(Connect(port));
    ASSERT_TRUE(SendAll(socks.back(), "GET /video/cam1.mjpg HTTP/1.0\r\n\r\n"));
  }
  // Parts each client received, counted by their boundary lines.
  std::vector<std::atomic<int64_t>> parts(kClients);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<std::string> tails(kClients);
    TKzPollSet poll;
    for (int i = 0; i < kClients; ++i) poll.Add(socks[i], static_cast<uint64_t>(i));
    std::vector<TKzPollSet::TEvent> ready;
    char b[65536];
    while (!stop) {
      poll.Wait(50, ready);
      for (const TKzPollSet::TEvent& e : ready) {
        const size_t i = static_cast<size_t>(e.Token);
        const int64_t n = PlatformRecv(socks[i], b, sizeof b);
        if (n <= 0) continue;
        std::string& t = tails[i];
        t.append(b, static_cast<size_t>(n));
        for (size_t p = t.find("--kzmediaframe\r\n"); p != std::string::npos; p = t.find("--kzmediaframe\r\n", p + 1))
          ++parts[i];
        t.erase(0, t.size() > 15 ? t.size() - 15 : 0);
      }
    }
  });
  auto encoded = [&] { return c.Server.Stats().FramesEncoded; };
  ASSERT_TRUE(PumpUntil([&] { return encoded() >= 10; }, 30000));
  std::vector<int64_t> before(kClients);
  const uint64_t e0 = encoded();
  for (int i = 0; i < kClients; ++i) before[i] = parts[i];
  ASSERT_TRUE(PumpUntil([&] { return encoded() >= e0 + 100; }, 60000));
  // The source stops; what was encoded reaches every client.
  c.Camera.Abort();
  PumpUntil([&] { return !c.Camera.IsVideoPlaying(); }, 5000);
  const uint64_t e1 = encoded();
  int64_t lastSum = -1;
  for (int round = 0; round < 100; ++round) {
    int64_t sum = 0;
    for (int i = 0; i < kClients; ++i) sum += parts[i];
    if (sum == lastSum) break;
    lastSum = sum;
    PumpFor(200);
  }
  stop = true;
  reader.join();
  for (int i = 0; i < kClients; ++i)
    EXPECT_GE(double(parts[i] - before[i]), 0.95 * double(e1 - e0)) << "client " << i << " of " << e1 - e0 << " frames";
  EXPECT_TRUE(PumpUntil([&] { return c.Server.Stats().Dropped >= 1; }, 20000));  // the one that stopped reading
  for (TKzSocket& s : socks) PlatformCloseSocket(s);
  PlatformCloseSocket(stalled);
}

TEST(HttpVideoServer, AThousandIdleConnectionsDoNotLockTheServer) {
  // One process holds both ends: a thousand here and what the server keeps.
  rlimit r{};
  getrlimit(RLIMIT_NOFILE, &r);
  KZ_NEED(r.rlim_max >= 2500, "2,500 open descriptors");
  if (r.rlim_cur < 2500) {
    r.rlim_cur = 2500;
    setrlimit(RLIMIT_NOFILE, &r);
  }
  TServedCamera c(32);
  const uint16_t port = c.Server.ListeningPort();
  const size_t fds = OpenFds();
  std::vector<TKzSocket> idle;
  for (int i = 0; i < 1000; ++i) idle.push_back(Connect(port));
  for (TKzSocket s : idle) ASSERT_NE(s, KZ_INVALID_SOCKET);
  ASSERT_TRUE(PumpUntil([&] { return c.Server.Stats().Connections >= 1000; }, 30000));
  // Every idle one that was pushed out was told so; the server holds few.
  EXPECT_LE(c.Server.ClientCount(), 40);
  EXPECT_EQ(StatusLine(Exchange(port, "GET /status.json HTTP/1.0\r\n\r\n")), "HTTP/1.1 200 OK");
  int told = 0;
  char b[256];
  for (TKzSocket s : idle)
    if (PlatformPollRead(s, 0) == 1 && PlatformRecv(s, b, sizeof b) > 0 && std::string(b, 12) == "HTTP/1.1 408") ++told;
  EXPECT_GE(told, 900);
  for (TKzSocket& s : idle) PlatformCloseSocket(s);
  ASSERT_TRUE(PumpUntil([&] { return c.Server.ClientCount() == 0; }, 10000));
  EXPECT_LE(OpenFds(), fds + 2);
}

TEST(HttpVideoServer, AuthenticationAcceptsOnlyAnswersForThisRequest) {
  TKzHttpAuthenticator basic, digest;
  basic.Setup(TKzHttpAuthentication::kzhaBasic, {{"ann", "pw1"}, {"bob", "pw2"}}, "KzMedia");
  digest.Setup(TKzHttpAuthentication::kzhaDigest, {{"ann", "pw1"}}, "KzMedia");
  TKzChallenge c = KzParseChallenge(digest.Challenge(false));
  ASSERT_EQ(c.Scheme, "Digest");
  // A Digest answer as a client computes it, for Method and Uri.
  auto answer = [&](const std::string& User, const std::string& Password, const std::string& Uri,
                    const std::string& Nonce) {
    const std::string ha1 = KzDigestHA1(User, c.realm, Password, "MD5", Nonce, "c0ffee");
    return "Digest username=\"" + User + "\", realm=\"" + c.realm + "\", nonce=\"" + Nonce + "\", uri=\"" + Uri +
           "\", qop=auth, nc=00000001, cnonce=\"c0ffee\", response=\"" +
           KzDigestResponse(ha1, Nonce, "00000001", "c0ffee", "auth", "GET", Uri) + "\"";
  };
  const struct {
    TKzHttpAuthenticator* Auth;
    std::string Authorization;
    bool Accepted;
  } cases[] = {
      {&basic, "Basic " + EncodeBase64("bob:pw2"), true},
      {&basic, "Basic " + EncodeBase64("bob:pw1"), false},
      {&basic, "", false},
      {&digest, answer("ann", "pw1", "/video/cam1.mjpg", c.nonce), true},
      {&digest, answer("ann", "pw1", "/snapshot/cam1.jpg", c.nonce), false},  // for another path
      {&digest, answer("ann", "nope", "/video/cam1.mjpg", c.nonce), false},
      {&digest, answer("eve", "pw1", "/video/cam1.mjpg", c.nonce), false},
      {&digest, answer("ann", "pw1", "/video/cam1.mjpg", std::string(48, '0')), false},  // a nonce not given out
      {&digest, "Basic " + EncodeBase64("ann:pw1"), false},
  };
  for (const auto& k : cases) {
    TKzHttpRequest r;
    r.Method = "GET";
    r.Uri = r.Path = "/video/cam1.mjpg";
    r.Authorization = k.Authorization;
    bool stale = true;
    EXPECT_EQ(k.Auth->Check(r, stale), k.Accepted) << k.Authorization;
    EXPECT_FALSE(stale);
  }
}
