// The programs as a user meets them: help, unknown options and exit codes
// the same everywhere; no credential in anything they print; a cut-off
// picture; a port that is taken; Ctrl-C with the summary.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"
#include "video/fmxMKzCamView.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
// Runs "Program Args" (a program of this build).
TToolRun RunProgram(const TTempDir& Dir, const std::string& Program, const std::string& Args, const std::string& Env = {}) {
  return RunTool(Dir, Env + " " + AppPath(Program) + " " + Args);
}

std::string SimpleJpeg(int W, int H) {
  TKzMBitmap picture;
  KzSimDrawFrame(picture, W, H, 1, 0);
  TKzImageWrapper encoder;
  TMemoryStream jpeg;
  encoder.SaveToStream(jpeg, &picture, 80);
  return std::string(reinterpret_cast<const char*>(jpeg.Memory()), static_cast<size_t>(jpeg.Size()));
}
}  // namespace

TEST(Programs, HelpUnknownOptionsAndExitCodesAreTheSameEverywhere) {
  TTempDir dir;
  struct TCase {
    std::string Program, Args;
    int Exit;
    bool OnStdout;  // where Text appears
    std::string Text;
  };
  std::vector<TCase> cases = {
      {"kztool", "", 2, false, "no command given"},
      {"kztool", "frobnicate", 2, false, "unknown command"},
      {"kztool", "--frobnicate", 2, false, "unknown option --frobnicate"},
      {"kztool", "help fetch", 0, true, "usage: kztool fetch"},
      {"kztool", "fetch http://127.0.0.1:1/x --seconds", 2, false, "missing value after --seconds"},
      {"kztool", "fetch http://127.0.0.1:1/x --frames many", 2, false, "--frames takes a number"},
      {"kztool", "decode " + (dir / "none.jpg"), 1, false, "none.jpg"},
      {"kztool", "hwl frobnicate a b", 2, false, "unknown action \"frobnicate\""},
      {"kztool", "send --camsim --to nowhere", 2, false, "--to takes HOST:PORT"},
      {"kzdemo", "--seconds -3", 2, false, "--seconds takes a number"},
      {"kzdemo", "extra", 2, false, "unexpected argument extra"},
      {"kzcamsim", "--port", 2, false, "missing value after --port"},
      {"kzcamsim", "--auth magic", 2, false, "--auth takes none, basic or digest"},
      {"kzviewer", "", 2, false, "no URL given"},
      {"kzviewer", "ftp://cam/x", 2, false, "neither an http:// or rtsp:// URL"},
  };
  // Every program and subcommand: both help forms, and an unknown option last.
  const std::vector<std::pair<std::string, std::string>> commands = {
      {"kztool", ""},           {"kztool", "http"},  {"kztool", "fetch"}, {"kztool", "decode"},
      {"kztool", "motion"},     {"kztool", "hwl"},   {"kzdemo", ""},      {"kzcamsim", ""},    {"kzviewer", ""}};
  for (const auto& [program, sub] : commands) {
    const std::string name = program + (sub.empty() ? "" : " " + sub);
    for (const char* help : {"-h", "--help"}) cases.push_back({program, sub + " " + help, 0, true, "usage: " + name});
    if (!sub.empty() || program != "kztool")
      cases.push_back({program, sub + " x --bogus", 2, false, name + ": unknown option --bogus"});
  }
  for (const TCase& c : cases) {
    const TToolRun r = RunProgram(dir, c.Program, c.Args);
    const std::string where = c.Program + " " + c.Args;
    EXPECT_EQ(r.Exit, c.Exit) << where << "\n" << r.Out << r.Err;
    EXPECT_NE((c.OnStdout ? r.Out : r.Err).find(c.Text), std::string::npos) << where << "\n" << r.Out << r.Err;
    if (c.Exit == 0) {
      EXPECT_EQ(r.Err, "") << where;
    }
    if (c.Exit == 2) {
      EXPECT_NE(r.Err.find("usage:"), std::string::npos) << where;
      EXPECT_EQ(r.Out, "") << where;
    }
  }
  const TToolRun headless = RunProgram(dir, "kzviewer", "http://127.0.0.1:1/x", "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER");
  EXPECT_EQ(headless.Exit, 1);
  EXPECT_NE(headless.Err.find("no desktop display"), std::string::npos) << headless.Err;
  const TToolRun noScreen = RunProgram(dir, "kztool", "capture --desktop --frames 1", "env DISPLAY=:4242");
  EXPECT_EQ(noScreen.Exit, 1);
  EXPECT_NE(noScreen.Err.find("cannot open the X display :4242"), std::string::npos) << noScreen.Err;
}

TEST(Programs, NoCredentialInAnythingTheyPrint) {
  SetMainThread();
  TKzSimOptions so;
  so.Width = 160;
  so.Height = 120;
  so.Auth = TKzSimAuth::kzsaDigest;
  so.Password = "p@ss:w/rd%9x";
  TKzCamSim sim(so);
  ASSERT_TRUE(sim.Start());
  const std::string wrong = "n0@pe:/%7";
  const std::string enc = KzEncodeURLComponent(so.Password), wrongEnc = KzEncodeURLComponent(wrong);
  const std::string host = "127.0.0.1:" + std::to_string(sim.Port());
  const std::string withUser = "http://admin:" + enc + "@" + host;
  TTempDir dir;
  struct {
    std::string Program, Args;
    int Exit;
  } cases[] = {
      // the percent-encoded password logs in
      {"kztool", "fetch " + withUser + "/video.mjpg --frames 3", 0},
      {"kztool", "fetch http://" + host + "/video.mjpg --user admin --password '" + so.Password + "' --frames 3", 0},
      {"kztool", "fetch 'http://admin:" + wrongEnc + "@" + host + "/video.mjpg' --seconds 3", 1},
      {"kztool", "fetch '" + withUser + "/missing.cgi?user=admin&pwd=" + enc + "' --seconds 3", 1},
      {"kztool", "http " + withUser + "/image.jpg --max-bytes 4", 0},
      {"kztool", "http http://" + host + "/image.jpg --user admin --password '" + wrong + "'", 1},
      {"kztool", "fetch " + withUser + "/video.mjpg --passwd='" + so.Password + "'", 2},
      {"kzdemo", "--url " + withUser + "/video.mjpg --seconds 1 --out " + (dir / "demo"), 0},
      {"kzdemo", "--url http://admin:" + enc + "@127.0.0.1:1/video.mjpg --seconds 1 --out " + (dir / "demo"), 1},
      {"kzcamsim", "--port 0 --auth basic --password '" + so.Password + "' --seconds 0.2", 0},
  };
  for (const auto& c : cases) {
    const TToolRun r = RunProgram(dir, c.Program, c.Args);
    EXPECT_EQ(r.Exit, c.Exit) << c.Args << "\n" << r.Out << r.Err;
    for (const std::string& secret : {so.Password, enc, wrong, wrongEnc})
      EXPECT_EQ((r.Out + r.Err).find(secret), std::string::npos) << c.Args << " printed " << secret << "\n"
                                                                 << r.Out << r.Err;
  }

  // The camera's own texts: debug texts and the reason of a failed stream.
  TKzCamera cam(nullptr);
  std::vector<std::string> texts;
  bool ended = false;
  cam.OnDebugDataRead = [&](TComponent*, int64_t, const std::string& Text) { texts.push_back(Text); };
  cam.OnEndVideoStream = [&](TComponent*, int32_t) { ended = true; };
  cam.SetDeviceType(TKzDeviceType::kzdtHTTP);
  cam.SetURL(withUser + "/missing.cgi?pwd=" + enc);
  cam.PlayVideoStream();
  ASSERT_TRUE(PumpUntil([&] { return ended; }, 20000));
  texts.push_back(cam.LastError().Text);
  // and the caption of a view showing it
  TForm form(nullptr);
  auto* view = new TKzCamView(&form);
  view->SetCaptionParts({TKzCameraCaptionPart::kzccpAddress, TKzCameraCaptionPart::kzccpTime});
  view->SetVideoSource(&cam);
  texts.push_back(view->GetCaptionText(0));
  EXPECT_EQ(texts.back().rfind("[http://" + host + "/missing.cgi?pwd=***] - ", 0), 0u) << texts.back();
  view->SetVideoSource(nullptr);
  for (const std::string& t : texts) EXPECT_EQ(t.find(enc), std::string::npos) << t;
  KzInetShutdown();
}

TEST(Programs, DecodeReportsACutOffPictureAndCreatesItsFolder) {
  TTempDir dir;
  const std::string jpeg = SimpleJpeg(320, 240);
  WriteFile(dir / "whole.jpg", jpeg);
  WriteFile(dir / "cut.jpg", jpeg.substr(0, jpeg.size() / 5));
  const std::string out = dir / "new/folder";
  struct {
    std::string Args;
    int Exit;
    std::string Out, Err;
  } cases[] = {
      {(dir / "whole.jpg") + " --out " + out, 0, "whole.jpg: 320x240", ""},
      {dir / "cut.jpg", 1, "", "cut off"},
      {(dir / "cut.jpg") + " --allow-partial", 0, "cut.jpg: 320x240", "cut off"},
  };
  for (const auto& c : cases) {
    const TToolRun r = RunProgram(dir, "kztool", "decode " + c.Args);
    EXPECT_EQ(r.Exit, c.Exit) << c.Args << "\n" << r.Err;
    EXPECT_NE(r.Out.find(c.Out), std::string::npos) << c.Args << "\n" << r.Out;
    EXPECT_NE(r.Err.find(c.Err), std::string::npos) << c.Args << "\n" << r.Err;
  }
  EXPECT_TRUE(std::filesystem::exists(out + "/whole.png"));
}

TEST(Programs, HwlPicturesAreCodedDescribedAndDecoded) {
  TTempDir dir;
  WriteFile(dir / "odd.jpg", SimpleJpeg(321, 241));
  const struct {
    std::string Args;
    int Exit;
    std::string Out, Err;
  } steps[] = {
      {"hwl encode " + (dir / "odd.jpg") + " " + (dir / "p.hwl") + " --quality 90", 0,
       "322x242 (padded from 321x241) colour depth 0", ""},
      {"hwl info " + (dir / "p.hwl"), 0, "322x242 bpp 24 depth 0 bits 7,7,7", ""},
      {"hwl decode " + (dir / "p.hwl") + " " + (dir / "p.png"), 0, "p.hwl: 322x242 colour", ""},
      {"decode " + (dir / "p.hwl"), 0, "p.hwl: 322x242", ""},
      {"hwl encode " + (dir / "odd.jpg") + " " + (dir / "g.hwl") + " --bits 9,1,1", 2, "", "--bits wants"},
      {"hwl info " + (dir / "odd.jpg"), 1, "", "not a valid HWL picture"},
  };
  for (const auto& c : steps) {
    const TToolRun r = RunProgram(dir, "kztool", c.Args);
    EXPECT_EQ(r.Exit, c.Exit) << c.Args << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Out.find(c.Out), std::string::npos) << c.Args << "\n" << r.Out;
    EXPECT_NE(r.Err.find(c.Err), std::string::npos) << c.Args << "\n" << r.Err;
  }
}

TEST(Programs, CamsimBindsAnyLocalAddressAndSaysWhyABindFails) {
  TTempDir dir;
  TKzSocket taken = PlatformListenTCP(Loopback(), 0, 1);
  ASSERT_NE(taken, KZ_INVALID_SOCKET);
  const std::string port = std::to_string(PlatformSocketLocalPort(taken));
  const TToolRun busy = RunProgram(dir, "kzcamsim", "--port " + port);
  PlatformCloseSocket(taken);
  EXPECT_EQ(busy.Exit, 1);
  EXPECT_NE(busy.Err.find("127.0.0.1:" + port + ": address already in use"), std::string::npos) << busy.Err;

  const TToolRun other = RunProgram(dir, "kzcamsim", "--bind 127.0.0.3 --port 0 --seconds 0.2");
  EXPECT_EQ(other.Exit, 0) << other.Err;
  EXPECT_NE(other.Out.find("streaming on http://127.0.0.3:"), std::string::npos) << other.Out;
  // Every address, inside a network namespace of its own so that nothing
  // outside can reach it.
  KZ_NEED(std::system("unshare -rn true >/dev/null 2>&1") == 0, "no user and network namespaces here");
  const TToolRun any = RunProgram(dir, "kzcamsim", "--bind 0.0.0.0 --port 0 --seconds 0.2", "unshare -rn");
  EXPECT_EQ(any.Exit, 0) << any.Err;
  EXPECT_NE(any.Out.find("streaming on http://127.0.0.1:"), std::string::npos) << any.Out;
}

TEST(Programs, StopSignalsEndWithTheSummary) {
  TKzCamSim sim({.Width = 160, .Height = 120, .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TTempDir dir;
  struct {
    std::vector<std::string> Argv;
    int Signal;
    int Exit;
    std::string Summary;  // on stdout
  } cases[] = {
      {{AppPath("kztool"), "fetch", sim.StreamURL(), "--seconds", "60"}, SIGINT, 130, "frames: "},
      {{AppPath("kzdemo"), "--url", sim.StreamURL(), "--seconds", "60", "--out", dir / "demo"}, SIGTERM, 130,
       "summary:"},
      {{AppPath("kzcamsim"), "--port", "0"}, SIGINT, 0, "streaming on"},
  };
  for (const auto& c : cases) {
    const std::string out = dir / "sig.out", err = dir / "sig.err";
    std::vector<char*> args;
    for (const std::string& a : c.Argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    // Signalled once it is under way: something printed, and a moment of frames.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadFile(out).empty() && ReadFile(err).find("fetch:") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, c.Signal);
    int status = 0;
    bool ended = false;
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << c.Argv[0] << " did not stop on the signal";
      continue;
    }
    EXPECT_TRUE(WIFEXITED(status)) << c.Argv[0];
    EXPECT_EQ(WEXITSTATUS(status), c.Exit) << c.Argv[0] << "\n" << ReadFile(err);
    EXPECT_NE(ReadFile(out).find(c.Summary), std::string::npos) << c.Argv[0] << "\n" << ReadFile(out);
  }
}
