// The HTTP client against a scripted loopback server: request texts on the
// wire, Digest counting, body framing, time limits, abort, the pool.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzMD5.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/inet/kzinettest.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {
const uint32_t kStatusLevel = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;

int64_t MsSince(Clock::time_point T) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - T).count();
}

// A record connected to the scripted server with one socket.
PInet Connect(uint16_t Port, TKzTimeOut Class = TKzTimeOut::kztMedium, const char* User = nullptr,
              const char* Password = nullptr) {
  PInet h = InternetOpen(nullptr, 0, nullptr, nullptr, 0);
  SetInetTimeOut(h, Class);
  h->cOPEN_CONNECT = 1;
  if (!InternetConnect(h, "127.0.0.1", Port, User, Password, INTERNET_SERVICE_HTTP, 0, 0)) {
    for (int k = 0; h && k < 3; ++k) InternetCloseHandle(h);
    return nullptr;
  }
  return h;
}

std::string Reply(const std::string& Body, const std::string& Extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(Body.size()) + "\r\nConnection: Keep-Alive\r\n" +
         Extra + "\r\n" + Body;
}

std::string Line(const std::string& Request, const std::string& Name) {
  const size_t p = Request.find(Name + ": ");
  if (p == std::string::npos) return {};
  return Request.substr(p, Request.find("\r\n", p) - p);
}
}  // namespace

TEST(InetOpen, ProxyText) {
  struct {
    const char* Proxy;
    const char* Host;
    uint16_t Port;
  } cases[] = {{"proxy.lan", "proxy.lan", 8080}, {"proxy.lan:3128", "proxy.lan", 3128},
               {"proxy.lan: 81 ", "proxy.lan", 81}, {"proxy.lan:http", "proxy.lan", 0}, {nullptr, "", 0}};
  for (const auto& c : cases) {
    PInet h = InternetOpen("agent", 0, c.Proxy, nullptr, 0);
    EXPECT_EQ(h->ProxyHost, c.Host);
    EXPECT_EQ(h->ProxyPort, c.Port);
    EXPECT_TRUE(InternetCloseHandle(h));
    EXPECT_EQ(h, nullptr);
  }
  PInet none = nullptr;
  EXPECT_FALSE(InternetCloseHandle(none));
}

TEST(InetRequest, TextOnTheWireIsByteExact) {
  TScriptedServer server([](const std::string&, TKzSocket c, int) { SendAll(c, Reply("ok")); });
  PInet h = Connect(server.Port());
  ASSERT_NE(h, nullptr);
  const TFetch f = Fetch(h, "/image.jpg?res=1");
  EXPECT_EQ(f.Body, "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string want = "GET /image.jpg?res=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                           "\r\n"
                           "User-Agent: KZMEDIA\r\n"
                           "Accept: */*;q=0.1\r\n"
                           "Accept-Encoding: identity\r\n"
                           "Accept-Language: ru-RU,ru;q=0.9,en;q=0.8\r\n"
                           "Accept-Charset: windows-1251,utf-8;q=0.7,*;q=0.7\r\n"
                           "Connection: Keep-Alive\r\n"
                           "Pragma: no-cache\r\n"
                           "Cache-Control: no-cache\r\n"
                           "Content-Length: 0\r\n"
                           "Content-Type: application/x-www-form-urlencoded\r\n"
                           "\r\n";
  EXPECT_EQ(server.Requests()[0], want);
  CloseAll(h);

  // Host line: lower case, port 80 left out, 8080 kept; a free record says close.
  struct {
    const char* Host;
    uint16_t Port;
    bool Used;
    const char* HostLine;
  } cases[] = {{"CAM.Local", 80, true, "Host: cam.local"},
               {"cam", 0, true, "Host: cam"},
               {"cam", 8080, false, "Host: cam:8080"}};
  for (const auto& c : cases) {
    PInet r = InternetOpen("Agent/1", 0, nullptr, nullptr, 0);
    r->ReceiverHost = c.Host;
    r->ReceiverPort = c.Port;
    r->Query = "POST";
    r->FileName = "/set";
    r->VersionProtocol = "HTTP/1.1";
    r->Params = "a=1&b=2";
    r->IsUsed = c.Used;
    const std::string text = CreateHeaderHTTP(r);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "POST /set HTTP/1.1");
    EXPECT_EQ(Line(text, "Host"), c.HostLine);
    EXPECT_EQ(Line(text, "Content-Length"), "Content-Length: 7");
    EXPECT_EQ(text.find("Connection: close\r\n") != std::string::npos, !c.Used);
    EXPECT_EQ(text.substr(text.size() - 11), "a=1&b=2\r\n\r\n");
    InternetCloseHandle(r);
  }
}

// Digest: one challenge, then ten requests on the kept-alive connection;
// nc counts in decimal and every response checks out.
TEST(InetAuth, DigestCountsRequestsAndSendsOpaque) {
  TScriptedServer server([](const std::string& req, TKzSocket c, int) {
    if (req.find("Authorization: Digest") == std::string::npos) {
      SendAll(c, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"n0nce\", "
                 "qop=\"auth,auth-int\", opaque=\"op4que\", algorithm=MD5\r\nContent-Length: 0\r\n\r\n");
    } else {
      SendAll(c, Reply("img"));
    }
  });
  PInet h = Connect(server.Port(), TKzTimeOut::kztMedium, "admin", "pa:ss");
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 10; ++i) {
    const TFetch f = Fetch(h, "/snap.jpg");
    ASSERT_EQ(f.Status, 200u) << i;
    EXPECT_EQ(f.Body, "img");
  }
  CloseAll(h);
  const auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 11u);  // the challenge, then ten answered requests
  EXPECT_EQ(server.Accepted(), 2);  // the 401 closes; the rest share one connection
  for (int i = 1; i <= 10; ++i) {
    const std::string line = Line(reqs[size_t(i)], "Authorization");
    char nc[16];
    std::snprintf(nc, sizeof nc, "%08d", i);
    EXPECT_NE(line.find(std::string(", nc=") + nc + ","), std::string::npos) << line;
    const size_t cb = line.find("cnonce=\"") + 8;
    const std::string cnonce = line.substr(cb, 32);
    const std::string ha1 = MD5Print(MD5String("admin:cam:pa:ss"));
    const std::string ha2 = MD5Print(MD5String("GET:/snap.jpg"));
    const std::string response = MD5Print(MD5String(ha1 + ":n0nce:" + nc + ":" + cnonce + ":auth:" + ha2));
    EXPECT_EQ(line, "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"n0nce\", uri=\"/snap.jpg\", "
                    "algorithm=MD5, response=\"" + response + "\", qop=auth, nc=" + nc + ", cnonce=\"" + cnonce +
                    "\", opaque=\"op4que\"");
  }
}

TEST(InetAuth, RefusedTwiceIsAReplyNotAFailure) {
  TScriptedServer server([](const std::string&, TKzSocket c, int) {
    SendAll(c, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\nContent-Length: 0\r\n\r\n");
  });
  PInet h = Connect(server.Port(), TKzTimeOut::kztMedium, "admin", "wrong");
  ASSERT_NE(h, nullptr);
  const TFetch f = Fetch(h, "/");
  EXPECT_TRUE(f.Ok);
  EXPECT_EQ(f.Status, 401u);
  const auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 2u);  // the client's own single retry
  EXPECT_EQ(Line(reqs[1], "Authorization"), "Authorization: Basic " + EncodeBase64("admin:wrong"));
  // New credentials from the caller: one more round.
  InternetSetOption(h, INTERNET_OPTION_PASSWORD, "right-and-long", 5);
  uint32_t status = 0, index = 0;
  EXPECT_TRUE(HttpSendRequest(h, nullptr, 0, nullptr, 0));
  EXPECT_TRUE(HttpQueryInfo(h, kStatusLevel, status, index));
  EXPECT_EQ(status, 401u);
  EXPECT_EQ(Line(server.Requests().back(), "Authorization"), "Authorization: Basic " + EncodeBase64("admin:right"));
  CloseAll(h);
}

// Chunked bodies: every split of the same reply gives the same data.
TEST(InetBody, DeChunkingAnySplit) {
  const std::string wire = "5\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\n\r\n\n\r\n0\r\n\r\n";
  const std::string want = "helloabcdefghijklmnopqrstuvwxyz\r\n\n";
  for (size_t piece = 1; piece <= wire.size(); ++piece) {
    TKzChunkState s;
    s.ResetChunks(true);
    std::string out;
    for (size_t i = 0; i < wire.size(); i += piece) {
      std::string part = wire.substr(i, piece);
      part.resize(KzDeChunk(s, reinterpret_cast<uint8_t*>(part.data()), part.size()));
      out += part;
    }
    EXPECT_EQ(out, want) << "pieces of " << piece;
    EXPECT_TRUE(s.ChunkEnded);
  }
  struct {
    const char* Wire;
    const char* Out;
    bool StillChunked;
  } bad[] = {{"zz\r\nrest", "zz\r\nrest", false},                // not a size line: left alone
             {"3;ext=1\r\nabc\r\n0\r\n\r\n", ";ext=1\r\nabc\r\n0\r\n\r\n", false},
             {"123456789\r\nx", "9\r\nx", false},                // more than 32 bits
             {"2\r\nab\r\n", "ab", true}};
  for (const auto& b : bad) {
    TKzChunkState s;
    s.ResetChunks(true);
    std::string d = b.Wire;
    d.resize(KzDeChunk(s, reinterpret_cast<uint8_t*>(d.data()), d.size()));
    EXPECT_EQ(d, b.Out) << b.Wire;
    EXPECT_EQ(s.Chunked, b.StillChunked) << b.Wire;
  }
}

// A chunked reply trickling in with size lines split across packets, a
// Content-Length reply that must end at once, and an HTTP/1.0 reply that
// ends by closing.
// InternetReadFile leaves zeros after the delivered bytes, also where
// de-chunking took size lines out; the stream reader's variant skips that.
TEST(InetBody, ReadBufferTailIsCleared) {
  TScriptedServer server([](const std::string&, TKzSocket c, int) {
    SendAll(c, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nwxyz\r\n3\r\nabc\r\n0\r\n\r\n");
  });
  for (const bool clearing : {true, false}) {
    PInet h = Connect(server.Port());
    ASSERT_NE(h, nullptr);
    uint32_t status = 0, index = 0, n = 0;
    ASSERT_TRUE(HttpOpenRequest(h, "GET", "/", nullptr, nullptr, nullptr, 0, 0));
    ASSERT_TRUE(HttpSendRequest(h, nullptr, 0, nullptr, 0));
    ASSERT_TRUE(HttpQueryInfo(h, kStatusLevel, status, index));
    std::string buf(64, 'Q');
    ASSERT_TRUE(clearing ? InternetReadFile(h, buf.data(), 64, n) : KzInetReadBody(h, buf.data(), 64, n));
    ASSERT_EQ(buf.substr(0, n), "wxyzabc");
    if (clearing) {
      EXPECT_EQ(buf.substr(n), std::string(64 - n, '\0'));
    }
    CloseAll(h);
  }
}

TEST(InetBody, FramingOnTheWire) {
  TScriptedServer server([](const std::string& req, TKzSocket c, int) {
    if (req.find("/chunked") != std::string::npos) {
      SendAll(c, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: Keep-Alive\r\n\r\n1");
      for (const char* piece : {"0\r", "\nABCDEFGHIJKLMNOP\r", "\n", "4\r\nwxyz\r\n0\r\n\r\n"}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SendAll(c, piece);
      }
    } else if (req.find("/old") != std::string::npos) {
      SendAll(c, "HTTP/1.0 200 OK\r\n\r\nold body");
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      TKzSocket s = c;
      PlatformCloseSocket(s);
    } else {
      SendAll(c, Reply("0123456789"));
    }
  });
  PInet h = Connect(server.Port(), TKzTimeOut::kztHuge);  // 4 s receive time-out
  ASSERT_NE(h, nullptr);
  TFetch f = Fetch(h, "/chunked", 7);
  EXPECT_TRUE(f.Ok);
  EXPECT_EQ(f.Body, "ABCDEFGHIJKLMNOPwxyz");
  const TKzSocket kept = h->Socket;
  EXPECT_NE(kept, KZ_INVALID_SOCKET);

  const auto t0 = Clock::now();
  f = Fetch(h, "/length", 4);
  EXPECT_EQ(f.Body, "0123456789");
  EXPECT_LT(MsSince(t0), 3000);  // no wait for more (that would take the 4 s receive time-out)
  EXPECT_EQ(h->Socket, kept);    // the same connection throughout

  f = Fetch(h, "/old");
  EXPECT_TRUE(f.Ok);
  EXPECT_EQ(f.Body, "old body");
  EXPECT_EQ(h->Socket, KZ_INVALID_SOCKET);  // closed after the body
  EXPECT_EQ(h->VersionProtocol, "HTTP/1.0");
  CloseAll(h);
}

// Data must be taken as soon as it arrives, not after a pause between
// receive attempts (made 10 s long here, so that a pause cannot hide).
TEST(InetBody, ArrivingDataIsReadAtOnce) {
  std::atomic<int64_t> sentAt{0};
  TScriptedServer server([&](const std::string&, TKzSocket c, int) {
    SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    sentAt = Clock::now().time_since_epoch().count();
    SendAll(c, "ab");
  });
  PInet h = Connect(server.Port());
  ASSERT_NE(h, nullptr);
  h->cKzINET_SLEEP_TIME = 10000;
  uint32_t status = 0, index = 0, n = 0;
  char buf[16];
  ASSERT_TRUE(HttpOpenRequest(h, "GET", "/", nullptr, nullptr, nullptr, 0, 0));
  ASSERT_TRUE(HttpSendRequest(h, nullptr, 0, nullptr, 0));
  ASSERT_TRUE(HttpQueryInfo(h, kStatusLevel, status, index));
  ASSERT_TRUE(InternetReadFile(h, buf, sizeof buf, n));
  const auto lag = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::now().time_since_epoch() - Clock::duration(sentAt.load()));
  EXPECT_EQ(n, 2u);
  EXPECT_LT(lag.count(), 5000);  // well inside the pause
  CloseAll(h);
}

TEST(InetWait, AbortEndsWaitsBeforeTheTimeOut) {
  TScriptedServer server([](const std::string&, TKzSocket, int) {});  // never answers
  PInet h = Connect(server.Port(), TKzTimeOut::kztHuge);
  ASSERT_NE(h, nullptr);
  h->cKzINET_WAIT_RECV = 30000;  // only the abort can end the wait early
  std::atomic<bool> flag{false};
  h->Abort = &flag;
  ASSERT_TRUE(HttpOpenRequest(h, "GET", "/", nullptr, nullptr, nullptr, 0, 0));
  ASSERT_TRUE(HttpSendRequest(h, nullptr, 0, nullptr, 0));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    flag = true;
  });
  const auto t0 = Clock::now();
  uint32_t status = 0, index = 0;
  EXPECT_FALSE(HttpQueryInfo(h, kStatusLevel, status, index));
  EXPECT_LT(MsSince(t0), 15000);
  stopper.join();
  EXPECT_FALSE(HttpSendRequest(h, nullptr, 0, nullptr, 0));  // refused once aborted
  CloseAll(h);

  // Without abort the same wait ends by the receive time-out.
  PInet s = Connect(server.Port(), TKzTimeOut::kztShort);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(HttpOpenRequest(s, "GET", "/", nullptr, nullptr, nullptr, 0, 0));
  ASSERT_TRUE(HttpSendRequest(s, nullptr, 0, nullptr, 0));
  const auto t1 = Clock::now();
  EXPECT_FALSE(HttpQueryInfo(s, kStatusLevel, status, index));
  EXPECT_EQ(KzInetLastError(s).Kind, TKzSourceErrorKind::kzseTimedOut);
  EXPECT_GE(MsSince(t1), 450);
  CloseAll(s);
}

TEST(InetPool, OneConnectionPerConnectReusedAndExpired) {
  TScriptedServer server([](const std::string&, TKzSocket c, int) { SendAll(c, Reply("x")); });
  KzInetShutdown();  // an empty pool to count in
  PInet a = InternetOpen(nullptr, 0, nullptr, nullptr, 0);
  ASSERT_TRUE(InternetConnect(a, "127.0.0.1", server.Port(), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  // A peer that answers at once gets one socket: a parallel one would only
  // be opened after a connect that hangs.
  EXPECT_EQ(Fetch(a, "/").Body, "x");
  EXPECT_EQ(server.Accepted(), 1);
  EXPECT_EQ(KzInetPoolCount(), 1u);
  EXPECT_EQ(GetAllowedNumberConnections(a), 8 - 1);
  CloseAll(a);

  // A second record takes the free connection instead of opening a new one.
  PInet b = InternetOpen(nullptr, 0, nullptr, nullptr, 0);
  ASSERT_TRUE(InternetConnect(b, "127.0.0.1", server.Port(), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  EXPECT_EQ(Fetch(b, "/").Body, "x");
  EXPECT_EQ(server.Accepted(), 1);
  CloseAll(b);
  EXPECT_EQ(KzInetPoolCount(), 1u);  // free now, not closed

  // Idle for more than ten seconds: the house-keeping closes them.
  {
    TKzVirtualClockScope clock(PlatformTickCount() + 5000);
    FreeTimeOutSocketList();
    EXPECT_EQ(KzInetPoolCount(), 1u);
    clock.Clock.Advance(5001);
    FreeTimeOutSocketList();
    EXPECT_EQ(KzInetPoolCount(), 0u);
  }
}

TEST(InetPool, TooManyConnectionsHalvesTheLimit) {
  TScriptedServer server([](const std::string&, TKzSocket c, int) {
    SendAll(c, "HTTP/1.1 503 Too many connections\r\nContent-Length: 4\r\n\r\nbusy");
  });
  PInet h = Connect(server.Port());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHostMaxConnectCount(h), 8);
  const TFetch f = Fetch(h, "/");
  EXPECT_FALSE(f.Ok);
  EXPECT_TRUE(h->IsServiceUnavailable);
  EXPECT_EQ(GetHostMaxConnectCount(h), 1);  // this record opened one at a time: max(1, 1 div 2)
  CloseAll(h);
}

TEST(InetClose, ThreeClosesFreeTheRecord) {
  TScriptedServer server([](const std::string&, TKzSocket c, int) { SendAll(c, Reply("x")); });
  PInet h = Connect(server.Port());
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(HttpOpenRequest(h, "GET", "/", nullptr, nullptr, nullptr, 0, 0));
  PInet copy = h;
  EXPECT_TRUE(InternetCloseHandle(copy));
  EXPECT_EQ(h->Socket, KZ_INVALID_SOCKET);  // a request never answered spoils the connection
  EXPECT_TRUE(InternetCloseHandle(copy));
  EXPECT_NE(copy, nullptr);
  EXPECT_TRUE(InternetCloseHandle(copy));
  EXPECT_EQ(copy, nullptr);
}

TEST(InetConnect, RefusedAndUnknownHostsFail) {
  const uint16_t port = FreePort();
  PInet h = InternetOpen(nullptr, 0, nullptr, nullptr, 0);
  EXPECT_EQ(InternetConnect(h, "127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(h->StepConnect, 1);
  EXPECT_EQ(KzInetLastError(h).Kind, TKzSourceErrorKind::kzseRefused);
  EXPECT_EQ(KzInetLastError(h).Text, "cannot reach 127.0.0.1:" + std::to_string(port) + ": connection refused");
  EXPECT_EQ(InternetConnect(h, "no-such-host.invalid", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(KzInetLastError(h).Kind, TKzSourceErrorKind::kzseNameNotFound);
  EXPECT_EQ(KzInetLastError(h).Text, "cannot resolve no-such-host.invalid: name not found");
  EXPECT_FALSE(CheckConnect("", "http://127.0.0.1:" + std::to_string(port) + "/", "", "", TKzTimeOut::kztShort, 0));
  InternetCloseHandle(h);
  EXPECT_EQ(h, nullptr);
}

TEST(InetClose, NoSocketOutlivesTheRecordsAndThePool) {
  KzInetShutdown();
  const size_t before = OpenFds();
  {
    TScriptedServer server([](const std::string& req, TKzSocket c, int) {
      SendAll(c, req.find("/close") != std::string::npos ? "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nx"
                                                          : Reply("y"));
    });
    for (const char* path : {"/keep", "/close", "/keep"}) {
      PInet h = InternetOpen(nullptr, 0, nullptr, nullptr, 0);
      ASSERT_TRUE(InternetConnect(h, "127.0.0.1", server.Port(), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
      Fetch(h, path);
      PInet spoiled = h;
      HttpOpenRequest(spoiled, "GET", path, nullptr, nullptr, nullptr, 0, 0);  // built, never sent
      CloseAll(h);
    }
    KzInetShutdown();
    EXPECT_EQ(KzInetPoolCount(), 0u);
  }
  EXPECT_EQ(OpenFds(), before);
}
