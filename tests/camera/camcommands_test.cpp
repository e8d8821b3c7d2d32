// Camera settings, commands and pan/tilt movement against kzcamsim's
// command endpoint through a scripted vendor: the property ranges, the
// setter rule, users, refusals, results and their notifications, aborts,
// the movement flags and the repeat timer, and credential redaction.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "camera/fmxMKzCamControl.h"
#include "platform/fmxMKzPlatformClock.h"
#include "tests/camera/camera_rig.h"
#include "tests/camera/camera_testvendor.h"
#include "video/fmxMKzCamView.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

namespace {
using P = TKzCamProperty;
using G = TKzCamPropertyGroup;
using M = TKzCamMovementEx;

// A camera of the test vendor on a kzcamsim, with what it reported.
struct TCmdRig {
  explicit TCmdRig(TKzSimAuth Auth = TKzSimAuth::kzsaDigest, TKzSendMode Mode = TKzSendMode::kzsmNoWait,
                   const std::string& Password = "admin")
      : Sim(Options(Auth, Password)), Scope(Vendor) {
    EXPECT_TRUE(Sim.Start());
    Cam = std::make_unique<TKzCamera>(nullptr);
    UseTestVendor(*Cam, "127.0.0.1", Sim.Port(), "admin", Password, Mode);
    Cam->OnMoved = [this](TComponent*, int32_t Status) { Moved.push_back(Status); };
    Cam->OnSetProperty = [this](TComponent*, int32_t Status) { SetProperty.push_back(Status); };
  }
  ~TCmdRig() {
    Cam.reset();
    Sim.Stop();
    KzInetShutdown();
  }
  static TKzSimOptions Options(TKzSimAuth Auth, const std::string& Password) {
    TKzSimOptions o;
    o.Auth = Auth;
    o.Password = Password;
    o.Width = 160;
    o.Height = 120;
    return o;
  }
  // The command names logged so far ("left", "stopup", ...).
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const std::string& c : Sim.Commands()) out.push_back(c.substr(5, c.find('?') - 5));
    return out;
  }
  bool WaitMoved(size_t N) { return PumpUntil([&] { return Moved.size() >= N; }, 15000); }

  TKzCamSim Sim;
  TTestVendor Vendor;
  TTestVendorScope Scope;
  std::unique_ptr<TKzCamera> Cam;
  std::vector<int32_t> Moved, SetProperty;
};
}  // namespace

// A range selects its first and last member and everything between, nothing more:
// a whole group, a group's head, a group's tail.
TEST(CamProperties, RangesSelectTheirGroupsMembers) {
  struct {
    P First, Last;
    std::vector<P> Members;
  } cases[] = {
      {P::kzcp_ADSL, P::kzcp_adslPassword, {P::kzcp_ADSL, P::kzcp_adslIsUsed, P::kzcp_adslUser, P::kzcp_adslPassword}},
      {P::kzcp_FtpService, P::kzcp_fsMode,
       {P::kzcp_FtpService, P::kzcp_fsServer, P::kzcp_fsPort, P::kzcp_fsUser, P::kzcp_fsPassword,
        P::kzcp_fsUploadFolder, P::kzcp_fsMode}},
      {P::kzcp_ptzsPatrolRate, P::kzcp_ptzsPatrolRightRate,
       {P::kzcp_ptzsPatrolRate, P::kzcp_ptzsPatrolUpRate, P::kzcp_ptzsPatrolDownRate, P::kzcp_ptzsPatrolLeftRate,
        P::kzcp_ptzsPatrolRightRate}},
  };
  for (const auto& c : cases) {
    TKzCamProperties expected;
    for (P p : c.Members) expected.Include(p);
    EXPECT_TRUE(TKzCamProperties::Range(c.First, c.Last) == expected) << static_cast<int>(c.First);
  }
}

// Equal values send nothing and report 1; a change sends the group's URL
// and reports 0; the schedule and area read their bounds; users reach the
// vendor with operation and index, also after Users was assigned.
TEST(CamCommands, SettingsAndUsersReachTheVendor) {
  TCmdRig rig(TKzSimAuth::kzsaBasic, TKzSendMode::kzsmWait);
  TKzCameraParameters& params = rig.Cam->Parameters();
  params.Network().SetIPAddr("");  // unchanged
  EXPECT_EQ(rig.SetProperty, (std::vector<int32_t>{1}));
  EXPECT_TRUE(rig.Sim.Commands().empty());
  params.PTZSettings().SetLedMode(TKzLedMode::lmOff);
  EXPECT_EQ(rig.Names(), (std::vector<std::string>{"group" + std::to_string(int(G::kzcpPTZSettingsLed))}));
  EXPECT_EQ(rig.SetProperty, (std::vector<int32_t>{1, 0}));

  TKzAlarmService& alarm = params.AlarmService();
  EXPECT_FALSE(alarm.IsSchedulerSet());
  alarm.InitScheduler(1, 3, 7);
  alarm.InitArea(9, 0, 5);
  EXPECT_EQ(alarm.GetScheduler(25, 3), 7);
  EXPECT_EQ(alarm.GetScheduler(1, 8), 0);
  EXPECT_EQ(alarm.GetArea(9, 0), 5);
  EXPECT_EQ(alarm.GetArea(10, 0), 0);
  EXPECT_TRUE(alarm.IsSchedulerSet());

  using O = TKzCollectionItemOperation;
  rig.Cam->AddUser("bob", "pw", TKzUserAccess::uaOperator);
  rig.Cam->ModifyUser(0, "bob", TKzUserAccess::uaAdmin, "pw2");
  TKzCamUserCollection other;
  other.OnAppend = [](int32_t) { ADD_FAILURE() << "the assigned collection's own hook"; };
  other.InitUsers(std::vector<TKzCamUser>(2));
  rig.Cam->SetUsers(other);
  rig.Cam->AddUser("eve", "x", TKzUserAccess::uaVisitor);
  rig.Cam->Users().Delete(1);
  EXPECT_EQ(rig.Vendor.UserChanges,
            (std::vector<std::pair<O, int32_t>>{{O::kzcioAdd, 0}, {O::kzcioModify, 0}, {O::kzcioAdd, 2}, {O::kzcioDelete, 1}}));
  EXPECT_EQ(rig.Cam->Users()[0].OldAccess, TKzUserAccess::uaNone);
  EXPECT_EQ(rig.Cam->Users().Count(), 2);
}

// Nothing is sent while locked, for other device kinds, without a URL or
// with one that holds a space or a control character.
TEST(CamCommands, RefusedCommandsSendNothing) {
  TCmdRig rig(TKzSimAuth::kzsaNone);
  const std::string url = rig.Vendor.URL(*rig.Cam, "x");
  rig.Cam->LockCommands();
  EXPECT_FALSE(rig.Cam->MultiExecute(url, TKzCamCommand::kzcmdNone));
  EXPECT_FALSE(rig.Cam->MoveLeft());
  rig.Cam->UnlockCommands();
  for (const std::string& bad : {std::string(), url + " x", url + "\r\nX-Evil: 1", url + std::string(1, '\0')})
    EXPECT_FALSE(rig.Cam->MultiExecute(bad, TKzCamCommand::kzcmdNone));
  EXPECT_FALSE(rig.Cam->AreCommandsLocked());
  rig.Cam->SetDeviceType(TKzDeviceType::kzdtRTSP);
  EXPECT_FALSE(rig.Cam->MultiExecute(url, TKzCamCommand::kzcmdNone));
  EXPECT_FALSE(rig.Cam->MoveUp());
  EXPECT_FALSE(rig.Cam->IsControllableCamera());
  PumpFor(200);
  EXPECT_TRUE(rig.Sim.Commands().empty());
  EXPECT_TRUE(rig.Moved.empty());
}

// Two URLs go in order; 2xx succeeds, 403/404/500, a refusal in a 200 body
// and wrong credentials fail with Status 1 through OnMoved, the panel and
// the views; in both modes, under Basic and Digest.
TEST(CamCommands, ResultsReachEveryListener) {
  struct TPanel : TKzCamControl {
    using TKzCamControl::TKzCamControl;
    std::vector<int32_t> Done;
    void DoneControl(TComponent*, int32_t Status) override { Done.push_back(Status); }
  };
  struct TView : IKzCamViewConsumer {
    std::vector<int32_t> Done;
    void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override {}
    void ViewerDoneControl(TComponent*, int32_t Status) override { Done.push_back(Status); }
  };
  for (TKzSimAuth auth : {TKzSimAuth::kzsaBasic, TKzSimAuth::kzsaDigest}) {
    for (TKzSendMode mode : {TKzSendMode::kzsmWait, TKzSendMode::kzsmNoWait}) {
      TCmdRig rig(auth, mode);
      TPanel panel(nullptr);
      TView view;
      rig.Cam->SetCameraControl(&panel);
      rig.Cam->RegisterCamView(&view);
      for (auto [path, status, body] : {std::tuple{"/cmd/f403", 403, "no"}, {"/cmd/f404", 404, "no"},
                                        {"/cmd/f500", 500, "no"}, {"/cmd/refuse", 200, "refused"}})
        rig.Sim.SetCommandReply(path, {status, 0, body});
      struct {
        std::string A, B;
        int32_t Status;
      } cases[] = {{"ok1", "ok2", 0}, {"f403", "", 1}, {"f404", "", 1}, {"f500", "", 1}, {"refuse", "", 1}, {"f500", "ok3", 1}};
      std::vector<int32_t> expected;
      for (const auto& c : cases) {
        const std::string b = c.B.empty() ? "" : rig.Vendor.URL(*rig.Cam, c.B);
        const bool sent = rig.Cam->MultiExecute2(rig.Vendor.URL(*rig.Cam, c.A), b, TKzCamCommand::kzcmdBrightness,
                                                 &TKzCamera::ThreadDoneVideoProperty);
        EXPECT_EQ(sent, mode == TKzSendMode::kzsmNoWait || c.Status == 0) << c.A;
        expected.push_back(c.Status);
        ASSERT_TRUE(rig.WaitMoved(expected.size())) << c.A;
        PumpUntil([&] { return !rig.Cam->AreCommandsLocked(); }, 5000);
      }
      EXPECT_EQ(rig.Moved, expected);
      EXPECT_EQ(panel.Done, expected);
      EXPECT_EQ(view.Done, expected);
      EXPECT_EQ(rig.Names(), (std::vector<std::string>{"ok1", "ok2", "f403", "f404", "f500", "refuse", "f500"}));
      // Wrong credentials: refused after the one resend, nothing reaches the endpoint.
      rig.Cam->SetUserPassword("wrong");
      const uint64_t refusedBefore = rig.Sim.Stats().AuthRefused;
      rig.Cam->MultiExecute(rig.Vendor.URL(*rig.Cam, "nope"), TKzCamCommand::kzcmdNone,
                            &TKzCamera::ThreadDoneVideoProperty);
      ASSERT_TRUE(rig.WaitMoved(expected.size() + 1));
      EXPECT_EQ(rig.Moved.back(), 1);
      EXPECT_GE(rig.Sim.Stats().AuthRefused - refusedBefore, 2u);
      EXPECT_LE(rig.Sim.Stats().AuthRefused - refusedBefore, 4u);
      EXPECT_EQ(rig.Sim.Commands().size(), 7u);
      rig.Cam->UnRegisterCamView(&view);
      rig.Cam->SetCameraControl(nullptr);
    }
  }
}

// Abort ends a stalled command (Status 1); destroying a camera with a
// stalled command running is clean.
TEST(CamCommands, AbortAndDestroyEndStalledCommands) {
  TCmdRig rig(TKzSimAuth::kzsaDigest);
  rig.Sim.SetCommandReply("/cmd/stall", {200, 30000, "OK"});
  ASSERT_TRUE(rig.Cam->MultiExecute(rig.Vendor.URL(*rig.Cam, "stall"), TKzCamCommand::kzcmdNone,
                                    &TKzCamera::ThreadDoneVideoProperty));
  ASSERT_TRUE(PumpUntil([&] { return rig.Sim.Commands().size() == 1; }, 10000));
  const int64_t t0 = KzMGetTickCount();
  rig.Cam->Abort();
  ASSERT_TRUE(rig.WaitMoved(1));
  EXPECT_LT(KzMGetTickCount() - t0, kStopBoundMs);
  EXPECT_EQ(rig.Moved, (std::vector<int32_t>{1}));

  ASSERT_TRUE(rig.Cam->MoveLeft());
  rig.Sim.SetCommandReply("/cmd/left", {200, 30000, "OK"});
  ASSERT_TRUE(rig.Cam->MoveRight() == false);  // one command at a time
  ASSERT_TRUE(PumpUntil([&] { return rig.Sim.Commands().size() == 2; }, 10000));
  const int64_t t1 = KzMGetTickCount();
  rig.Cam.reset();
  EXPECT_LT(KzMGetTickCount() - t1, kStopBoundMs);
  EXPECT_EQ(rig.Moved.size(), 1u);
}

// The movement rules: one command at a time, the stop deferred behind the
// move (sent after a success, dropped after a failure), the flipped image,
// the diagonal's two flags and the timer resending it.
TEST(CamMovement, FlagsDeferredStopsFlipAndTimer) {
  TCmdRig rig(TKzSimAuth::kzsaDigest);
  rig.Sim.SetCommandReply("/cmd/left", {200, 300, "OK"});
  EXPECT_TRUE(rig.Cam->MoveLeft());
  EXPECT_FALSE(rig.Cam->MoveLeft());
  ASSERT_TRUE(rig.WaitMoved(1));

  rig.Sim.SetCommandReply("/cmd/up", {200, 300, "OK"});
  EXPECT_TRUE(rig.Cam->MoveUp());
  EXPECT_TRUE(rig.Cam->MoveUpStop());  // deferred
  ASSERT_TRUE(rig.WaitMoved(3));
  rig.Sim.SetCommandReply("/cmd/up", {500, 300, "no"});
  EXPECT_TRUE(rig.Cam->MoveUp());
  EXPECT_TRUE(rig.Cam->MoveUpStop());
  ASSERT_TRUE(rig.WaitMoved(4));
  PumpFor(300);
  EXPECT_EQ(rig.Names(), (std::vector<std::string>{"left", "up", "stopup", "up"}));
  EXPECT_EQ(rig.Moved, (std::vector<int32_t>{0, 0, 0, 1}));
  EXPECT_FALSE(rig.Cam->MoveFlags().FIsCamMoving[4]);

  rig.Sim.ClearCommands();
  rig.Cam->SetFlipVertically(true);
  ASSERT_TRUE(rig.WaitMoved(5));
  EXPECT_TRUE(rig.Cam->MoveUp());
  ASSERT_TRUE(rig.WaitMoved(6));
  EXPECT_TRUE(rig.Cam->MoveLeftUp());
  ASSERT_TRUE(rig.WaitMoved(7));
  EXPECT_EQ(rig.Names(), (std::vector<std::string>{"set", "down", "downleft"}));
  rig.Cam->SetFlipVertically(false);
  ASSERT_TRUE(rig.WaitMoved(8));

  // The timer resends the held diagonal every 100 ms of the (virtual) clock.
  TKzVirtualClockScope vclock;
  rig.Vendor.MoveTimer = true;
  rig.Sim.ClearCommands();
  ASSERT_TRUE(rig.Cam->MoveLeftUp());
  const auto& f = rig.Cam->MoveFlags();
  EXPECT_TRUE(f.FIsCamMoving[3] && f.FIsCamMoving[4]);
  ASSERT_TRUE(rig.WaitMoved(9));
  for (size_t n = 2; n <= 3; ++n) {
    vclock.Clock.Advance(100);
    ASSERT_TRUE(rig.WaitMoved(8 + n)) << n;
  }
  EXPECT_TRUE(rig.Cam->MoveUpStop());
  ASSERT_TRUE(rig.WaitMoved(12));
  EXPECT_FALSE(rig.Cam->IsMoveTimerEnabled());
  vclock.Clock.Advance(500);
  PumpFor(200);
  EXPECT_EQ(rig.Names(), (std::vector<std::string>{"upleft", "upleft", "upleft", "stopup"}));
}

// A view with an arrow key held moves the camera until the key is released,
// then stops it once.
TEST(CamMovement, ViewKeyHeldMovesUntilReleased) {
  TCmdRig rig(TKzSimAuth::kzsaDigest);
  rig.Cam->SetURL(rig.Sim.StreamURL());
  rig.Cam->PlayVideoStream();
  ASSERT_TRUE(PumpUntil([&] { return rig.Cam->IsVideoPlaying(); }, 10000));
  TForm form(nullptr);
  form.SetSize(200, 200);
  auto* view = new TKzCamView(&form);
  view->SetParent(&form);
  view->SetBounds(0, 0, 200, 200);
  form.Show();
  view->SetVideoSource(rig.Cam.get());
  view->SetCamMoveMode(TKzCamMoveMode::vcmmDrag);
  uint16_t key = vk::Left;
  char32_t ch = 0;
  view->KeyDown(key, ch, 0);
  ASSERT_TRUE(PumpUntil([&] { return rig.Sim.Commands().size() >= 3; }, 15000)) << ::testing::PrintToString(rig.Names());
  key = vk::Left;
  view->KeyUp(key, ch, 0);
  ASSERT_TRUE(PumpUntil([&] { return !rig.Names().empty() && rig.Names().back() == "stopleft"; }, 15000));
  PumpFor(300);
  const std::vector<std::string> names = rig.Names();
  EXPECT_EQ(std::count(names.begin(), names.end(), "stopleft"), 1);
  EXPECT_EQ(names.back(), "stopleft");
  EXPECT_GE(std::count(names.begin(), names.end(), "left"), 3);
  delete view;
  rig.Cam->Abort();
  rig.Cam->WaitForVideo();
}

// With the password s3cr#t@x the debug texts of failed commands carry
// neither it, the vendor's secret parameter nor another credential value.
TEST(CamCommands, CredentialsStayOutOfTexts) {
  const std::string password = "s3cr#t@x";
  TCmdRig rig(TKzSimAuth::kzsaDigest, TKzSendMode::kzsmNoWait, password);
  std::vector<std::string> texts;
  rig.Cam->OnDebugDataRead = [&](TComponent*, int64_t, const std::string& Text) { texts.push_back(Text); };
  rig.Sim.SetCommandReply("/cmd/right", {500, 0, "no"});
  ASSERT_TRUE(rig.Cam->MoveRight());
  ASSERT_TRUE(rig.WaitMoved(1));
  rig.Cam->SetUserPassword("wrong");
  ASSERT_TRUE(rig.Cam->MoveLeft());
  ASSERT_TRUE(rig.WaitMoved(2));
  EXPECT_EQ(rig.Moved, (std::vector<int32_t>{1, 1}));
  ASSERT_TRUE(PumpUntil([&] { return texts.size() >= 2; }, 5000));
  for (const std::string& t : texts) {
    for (const std::string& secret : {password, KzEncodeURLComponent(password), std::string("t0k3n"),
                                      std::string("wrong")})
      EXPECT_EQ(t.find(secret), std::string::npos) << t;
    EXPECT_NE(t.find("/cmd/"), std::string::npos) << t;
  }
}
