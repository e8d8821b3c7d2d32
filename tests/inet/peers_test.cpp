// kz-test-labels: peer slow
// The HTTP client against real servers started on loopback: Apache httpd
// (Basic, Digest, keep-alive, redirects), tinyproxy (CONNECT, with and
// without proxy authentication), and lighttpd beside Apache for a password
// that travels percent-encoded in the URL.
#include <gtest/gtest.h>

#include <memory>

#include "tests/kztestneed.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"
#include "tests/inet/kzinettest.h"

using namespace kz;
using namespace kztest;

namespace {
const char* const kPassword = "p@ss:w/rd%9";  // every character that needs encoding in a URL

PInet Open(const char* Proxy = nullptr, TKzTimeOut Class = TKzTimeOut::kztMedium) {
  PInet h = InternetOpen("kz-tests", 0, Proxy, nullptr, 0);
  SetInetTimeOut(h, Class);
  return h;
}

std::string Url(uint16_t Port, const std::string& Path) { return "http://127.0.0.1:" + std::to_string(Port) + Path; }

// The files every server offers: a small text, 1 MB of bytes, protected copies.
void MakeSite(const TTempDir& D, std::string& Big) {
  std::filesystem::create_directories(D / "www");
  WriteFile(D / "www/small.txt", "small file\n");
  Big.resize(1 << 20);
  for (size_t i = 0; i < Big.size(); ++i) Big[i] = char((i * 2654435761u) >> 13);
  WriteFile(D / "www/big.bin", Big);
  MakeAuthSite(D, kPassword);
}
}  // namespace

// ---------------------------------------------------------------- Apache

class Apache : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Dir = std::make_unique<TTempDir>();
    MakeSite(*Dir, Big);
    const std::string d = Dir->Path();
    std::string conf = ApacheAuthConf(d);
    // Two chains: four redirects, and five. The port is known only once the
    // server is made, so the chains are relative to it.
    for (int i = 1; i <= 4; ++i)
      conf += "Redirect 302 /r" + std::to_string(i) + " BASE" + (i < 4 ? "/r" + std::to_string(i + 1) : "/small.txt") + "\n";
    for (int i = 1; i <= 5; ++i)
      conf += "Redirect 302 /s" + std::to_string(i) + " BASE" + (i < 5 ? "/s" + std::to_string(i + 1) : "/small.txt") + "\n";
    Port = FreePort();
    const std::string base = "http://127.0.0.1:" + std::to_string(Port);
    for (size_t p = conf.find("BASE"); p != std::string::npos; p = conf.find("BASE", p)) conf.replace(p, 4, base);
    std::vector<std::string> modules = ApacheAuthModules();
    modules.push_back("alias");
    Server = std::make_unique<TApacheServer>(*Dir, d + "/www", modules, conf, Port);
    if (!Server->Why().empty()) Server.reset();
  }
  static void TearDownTestSuite() {
    Server.reset();
    Dir.reset();
    KzInetShutdown();
  }
  void SetUp() override {
    KZ_NEED(Server, "apache2 could not be started here");
  }
  PInet Connect(const char* User = nullptr, const char* Password = nullptr) {
    PInet h = Open();
    if (!InternetConnect(h, "127.0.0.1", Port, User, Password, INTERNET_SERVICE_HTTP, 0, 0)) CloseAll(h);
    return h;
  }
  static std::unique_ptr<TTempDir> Dir;
  static std::unique_ptr<TApacheServer> Server;
  static uint16_t Port;
  static std::string Big;
};
std::unique_ptr<TTempDir> Apache::Dir;
std::unique_ptr<TApacheServer> Apache::Server;
uint16_t Apache::Port = 0;
std::string Apache::Big;

TEST_F(Apache, KeepAliveCarriesManyRequestsOnOneConnection) {
  PInet h = Connect();
  ASSERT_NE(h, nullptr);
  const TKzSocket first = h->Socket;
  for (int i = 0; i < 20; ++i) {
    const TFetch f = Fetch(h, i % 5 == 4 ? "/big.bin" : "/small.txt");
    ASSERT_TRUE(f.Ok) << i;
    ASSERT_EQ(f.Status, 200u);
    if (i % 5 == 4) {
      EXPECT_TRUE(f.Body == Big) << "1 MB body differs, " << f.Body.size() << " bytes";
    } else {
      EXPECT_EQ(f.Body, "small file\n");
    }
    EXPECT_EQ(h->Socket, first) << "reconnected at request " << i;
  }
  CloseAll(h);
}

TEST_F(Apache, FollowsAtMostFourRedirects) {
  PInet h = Connect();
  ASSERT_NE(h, nullptr);
  TFetch f = Fetch(h, "/r1");
  EXPECT_EQ(f.Status, 200u);
  EXPECT_EQ(f.Body, "small file\n");
  CloseAll(h);
  h = Connect();
  ASSERT_NE(h, nullptr);
  f = Fetch(h, "/s1");
  EXPECT_FALSE(f.Ok);
  EXPECT_EQ(h->RedirectCount, 4);
  CloseAll(h);
}

TEST_F(Apache, Probes) {
  EXPECT_TRUE(CheckHTTP_URL("", Url(Port, "/small.txt"), "", "", TKzTimeOut::kztShort, 0));
  EXPECT_TRUE(CheckHTTP_URL("", Url(Port, "/digest/x.txt"), "alice", kPassword, TKzTimeOut::kztShort, 0));
  EXPECT_FALSE(CheckHTTP_URL("", Url(Port, "/basic/x.txt"), "alice", "nope", TKzTimeOut::kztShort, 0));
  EXPECT_FALSE(CheckHTTP_URL("", Url(Port, "/missing"), "", "", TKzTimeOut::kztShort, 0));
  EXPECT_TRUE(CheckHTTP_URL("", "http://127.0.0.1/small.txt", "", "", TKzTimeOut::kztShort, Port));
  EXPECT_TRUE(CheckConnect("", Url(Port, "/missing"), "", "", TKzTimeOut::kztShort, 0));
}

TEST_F(Apache, KztoolHttp) {
  const std::string tool = AppPath("kztool");
  ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool;
  struct {
    std::string Args;
    int Exit;
    std::string Body;
    std::string Status;
  } cases[] = {
      {Url(Port, "/small.txt"), 0, "small file\n", "status: 200"},
      {Url(Port, "/basic/x.txt") + " --user alice --password '" + kPassword + "'", 0, "basic ok\n", "status: 200"},
      {Url(Port, "/small.txt") + " --head", 0, "", "status: 200"},
      {Url(Port, "/missing"), 1, "", "status: 404"},
      {Url(FreePort(), "/"), 1, "", "cannot connect"},
  };
  for (const auto& c : cases) {
    const TToolRun r = RunTool(*Dir, tool + " http " + c.Args);
    EXPECT_EQ(r.Exit, c.Exit) << c.Args;
    if (!c.Body.empty()) {
      EXPECT_EQ(r.Out, c.Body) << c.Args;
    }
    EXPECT_NE(r.Err.find(c.Status), std::string::npos) << c.Args << ": " << r.Err;
    EXPECT_EQ((r.Out + r.Err).find(kPassword), std::string::npos);  // credentials never printed
  }
}

// kztool http with the password percent-encoded in the URL logs in to
// Apache (Basic and Digest) and to lighttpd (Digest).
TEST_F(Apache, EncodedPasswordInTheURLLogsIn) {
  KZ_NEED(HaveProgram("lighttpd"), "lighttpd is not installed");
  const TTempDir& dir = *Dir;
  const uint16_t lport = FreePort();
  WriteFile(dir / "lighttpd.conf",
            "server.document-root = \"" + (dir / "www") + "\"\nserver.port = " + std::to_string(lport) +
                "\nserver.bind = \"127.0.0.1\"\nserver.username = \"nobody\"\nserver.groupname = \"nogroup\"\n"
                "server.errorlog = \"" + (dir / "lighttpd.err") + "\"\n"
                "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
                "auth.backend = \"htdigest\"\nauth.backend.htdigest.userfile = \"" + (dir / "htdigest") + "\"\n"
                "auth.require = ( \"/digest/\" => ( \"method\" => \"digest\", \"realm\" => \"kzdigest\", "
                "\"require\" => \"valid-user\" ) )\n");
  TPeer lighttpd;
  ASSERT_TRUE(lighttpd.Start({"lighttpd", "-D", "-f", dir / "lighttpd.conf"}, dir / "lighttpd.log"));
  ASSERT_TRUE(lighttpd.WaitListening(lport, 10000)) << ReadFile(dir / "lighttpd.log");
  for (const auto& [port, path, body] : {std::tuple{Port, "/basic/x.txt", "basic ok\n"},
                                         {Port, "/digest/x.txt", "digest ok\n"}, {lport, "/digest/x.txt", "digest ok\n"}}) {
    const TToolRun r = RunTool(dir, AppPath("kztool") + " http 'http://alice:" + KzEncodeURLComponent(kPassword) +
                                        "@127.0.0.1:" + std::to_string(port) + path + "'");
    EXPECT_EQ(r.Exit, 0) << port << path << "\n" << r.Err;
    EXPECT_EQ(r.Out, body) << port << path;
  }
}

// ---------------------------------------------------------------- tinyproxy

TEST_F(Apache, ThroughTinyproxyWithConnect) {
  KZ_NEED(HaveProgram("tinyproxy"), "tinyproxy is not installed");
  struct {
    const char* Auth;        // BasicAuth line of the proxy, or none
    const char* ProxyUser;
    const char* ProxyPassword;
    uint32_t Status;
  } cases[] = {{"", nullptr, nullptr, 200},
               {"BasicAuth kzproxy pr0xy\n", "kzproxy", "pr0xy", 200},
               {"BasicAuth kzproxy pr0xy\n", nullptr, nullptr, 407}};
  for (const auto& c : cases) {
    const uint16_t port = FreePort();
    WriteFile(*Dir / "tinyproxy.conf", "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 30\n"
                                       "Allow 127.0.0.1\nMaxClients 20\nUser nobody\nGroup nogroup\n"
                                       "LogFile \"" + (*Dir / "tinyproxy.log") + "\"\nLogLevel Info\n" + c.Auth);
    RunOutput("touch " + (*Dir / "tinyproxy.log") + " && chmod a+rw " + (*Dir / "tinyproxy.log"));
    TPeer proxy;
    ASSERT_TRUE(proxy.Start({"tinyproxy", "-d", "-c", *Dir / "tinyproxy.conf"}, *Dir / "tinyproxy.out"));
    ASSERT_TRUE(proxy.WaitListening(port, 10000)) << ReadFile(*Dir / "tinyproxy.out");
    const std::string proxyText = "127.0.0.1:" + std::to_string(port);
    PInet h = Open(proxyText.c_str());
    if (c.ProxyUser) {
      InternetSetOption(h, INTERNET_OPTION_PROXY_USERNAME, c.ProxyUser, 64);
      InternetSetOption(h, INTERNET_OPTION_PROXY_PASSWORD, c.ProxyPassword, 64);
    }
    ASSERT_TRUE(InternetConnect(h, "127.0.0.1", Port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    for (int i = 0; i < 3; ++i) {  // later requests go through the same tunnel
      const TFetch f = Fetch(h, "/small.txt");
      EXPECT_EQ(f.Status, c.Status) << c.Auth << " request " << i << "\n" << ReadFile(*Dir / "tinyproxy.log");
      if (c.Status == 200) {
        EXPECT_EQ(f.Body, "small file\n");
      }
    }
    CloseAll(h);
    KzInetShutdown();  // no pooled tunnels into the next proxy's run
  }
}
