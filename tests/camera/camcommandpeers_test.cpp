// kz-test-labels: peer
// Camera commands against Apache httpd with Digest and a CGI that logs what
// it is sent: two URLs in order, wrong credentials, refusals by status.
#include <gtest/gtest.h>

#include "inet/fmxMKzMD5.h"
#include "tests/camera/camera_rig.h"
#include "tests/camera/camera_testvendor.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;

TEST(CamCommandPeers, ApacheDigestCgiLogsCommandsInOrder) {
  TTempDir dir;
  std::filesystem::create_directories(dir / "www/cgi");
  WriteFile(dir / "cmd.log", "");
  WriteFile(dir / "www/cgi/cmd.cgi",
            "#!/bin/sh\necho \"${PATH_INFO#/}?$QUERY_STRING\" >> " + (dir / "cmd.log") +
                "\ncase \"$PATH_INFO\" in\n  /f403) echo 'Status: 403 Forbidden';;\n"
                "  /f500) echo 'Status: 500 Internal Server Error';;\nesac\n"
                "printf 'Content-Type: text/plain\\r\\n\\r\\nOK\\n'\n");
  WriteFile(dir / "htdigest", "alice:kzcmd:" + MD5Print(MD5String("alice:kzcmd:s3cret")) + "\n");
  std::system(("chmod -R a+rX " + dir.Path() + " && chmod 755 " + (dir / "www/cgi/cmd.cgi") + " && chmod a+w " +
               (dir / "cmd.log")).c_str());
  const std::string conf = "ScriptSock " + (dir / "cgid.sock") + "\n<Directory " + (dir / "www/cgi") +
                           ">\n  Options +ExecCGI\n  SetHandler cgi-script\n</Directory>\n"
                           "<Location /cgi>\n  AuthType Digest\n  AuthName \"kzcmd\"\n  AuthDigestProvider file\n"
                           "  AuthUserFile " + (dir / "htdigest") + "\n  Require valid-user\n</Location>\n";
  TApacheServer apache(dir, dir / "www", {"authz_core", "authz_user", "authn_core", "authn_file", "auth_digest", "cgid"},
                       conf);
  KZ_NEED(apache.Why().empty(), apache.Why());
  auto logged = [&] {
    std::vector<std::string> names;
    std::istringstream in(ReadFile(dir / "cmd.log"));
    for (std::string line; std::getline(in, line);) names.push_back(line.substr(0, line.find('?')));
    return names;
  };

  TTestVendor vendor;
  vendor.Prefix = "/cgi/cmd.cgi/";
  TTestVendorScope scope(vendor);
  for (TKzSendMode mode : {TKzSendMode::kzsmWait, TKzSendMode::kzsmNoWait}) {
    TKzCamera cam(nullptr);
    UseTestVendor(cam, "127.0.0.1", apache.Port, "alice", "s3cret", mode);
    std::vector<int32_t> moved;
    cam.OnMoved = [&](TComponent*, int32_t Status) { moved.push_back(Status); };
    auto run = [&](const std::string& A, const std::string& B) {
      const size_t n = moved.size();
      cam.MultiExecute2(vendor.URL(cam, A), B.empty() ? "" : vendor.URL(cam, B), TKzCamCommand::kzcmdNone,
                        &TKzCamera::ThreadDoneVideoProperty);
      EXPECT_TRUE(PumpUntil([&] { return moved.size() > n && !cam.AreCommandsLocked(); }, 15000)) << A;
    };
    WriteFile(dir / "cmd.log", "");
    run("first", "second");
    run("f403", "after403");
    run("f500", "");
    cam.SetUserPassword("wrong");
    run("denied", "");
    cam.SetUserPassword("s3cret");
    const size_t n = moved.size();
    cam.MultiExecute(apache.Url("/cgi/missing.cgi"), TKzCamCommand::kzcmdNone, &TKzCamera::ThreadDoneVideoProperty);
    EXPECT_TRUE(PumpUntil([&] { return moved.size() > n; }, 15000));
    EXPECT_EQ(moved, (std::vector<int32_t>{0, 1, 1, 1, 1}));
    EXPECT_EQ(logged(), (std::vector<std::string>{"first", "second", "f403", "f500"}));
  }
  KzInetShutdown();
}
