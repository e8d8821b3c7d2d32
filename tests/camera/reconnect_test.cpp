// The camera tries a failed source again: video starts soon after the
// camera does, the reasons reach the application, an abort during the wait
// ends at once, and failures that will not pass end the stream.
#include <gtest/gtest.h>

#include "reconnect_rig.h"

using namespace kz;
using namespace kztest;
using namespace kzcamsim;

// A camera away mid-stream: reconnect_outage_test (20 s and 60 s outages).
TEST(Reconnect, VideoStartsSoonAfterACameraThatWasNotThereYet) {
  const uint16_t port = FreePort();
  TReconnectRig rig;
  rig.Play(StreamURL(port));
  PumpFor(3000);
  EXPECT_TRUE(rig.Cam.IsVideoPlaying());
  std::unique_ptr<TKzCamSim> sim = StartSim(port);
  ASSERT_TRUE(sim);
  const uint64_t back = KzMGetTickCount();
  ASSERT_TRUE(rig.WaitFrames(1, 20000));
  EXPECT_LE(static_cast<int64_t>(KzMGetTickCount() - back), kResumeMs);
  // Each attempt reported, counted from 1: the host refused the connection.
  ASSERT_GE(rig.Events.size(), 2u);
  for (size_t i = 0; i < rig.Events.size(); ++i) {
    EXPECT_EQ(rig.Events[i].first, i + 1);
    EXPECT_EQ(rig.Events[i].second.Kind, TKzSourceErrorKind::kzseRefused) << rig.Events[i].second.Text;
  }
  // The first frame ends the outage.
  EXPECT_TRUE(PumpUntil([&] { return !rig.Cam.IsReconnecting(); }, 2000));
  EXPECT_FALSE(rig.Cam.LastError().Failed());
  EXPECT_TRUE(rig.Ends.empty());
  EXPECT_LT(rig.Stop(), 1000);
  EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
  KzInetShutdown();
}

// The reasons themselves are checked end to end in fetchreasons_test; here:
// which failures are tried again, and what the end report carries.
TEST(Reconnect, PassingFailuresAreTriedAgainOthersEndTheStream) {
  TKzCamSim sim(TKzSimOptions{});
  ASSERT_TRUE(sim.Start());
  const uint16_t free = FreePort();
  struct {
    std::string URL;
    TKzSourceErrorKind Kind;
    bool Passing;
  } cases[] = {
      {StreamURL(free), TKzSourceErrorKind::kzseRefused, true},
      {"http://127.0.0.1:" + std::to_string(sim.Port()) + "/wrongpath.cgi", TKzSourceErrorKind::kzseHTTPStatus, false},
  };
  for (const auto& c : cases) {
    for (const bool autoReconnect : {false, true}) {
      std::vector<std::string> debug;  // outlive the camera, which reports into them
      TKzSourceError atEnd;
      TReconnectRig rig;
      rig.Cam.OnDebugDataRead = [&](TComponent*, int64_t, const std::string& Text) { debug.push_back(Text); };
      rig.Cam.OnEndVideoStream = [&](TComponent*, int32_t Status) {
        rig.Ends.push_back(Status);
        atEnd = rig.Cam.LastError();
      };
      rig.Cam.SetAutoReconnect(autoReconnect);
      rig.Play(c.URL);
      if (autoReconnect && c.Passing) {
        ASSERT_TRUE(rig.WaitEvents(1)) << c.URL;
        EXPECT_EQ(rig.Events[0].second.Kind, c.Kind) << c.URL;
        EXPECT_EQ(rig.Cam.LastError().Text, rig.Events[0].second.Text);
        EXPECT_TRUE(rig.Ends.empty()) << c.URL;
        continue;
      }
      ASSERT_TRUE(rig.WaitEnd()) << c.URL;
      EXPECT_EQ(rig.Ends, std::vector<int32_t>{1}) << c.URL;
      EXPECT_EQ(atEnd.Kind, c.Kind) << c.URL;
      EXPECT_TRUE(rig.Events.empty()) << c.URL;
      PumpUntil([&] { return !debug.empty(); }, 2000);
      EXPECT_NE(std::find(debug.begin(), debug.end(), atEnd.Text), debug.end()) << c.URL;
    }
  }
  KzInetShutdown();
}

namespace {
// A view that notes the outages its camera tells it of.
struct TOutageView : IKzCamViewConsumer {
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap&, bool, uint16_t, const TGUID&) override {}
  void ViewerReconnecting(TComponent*, uint32_t Attempt) override { Attempts.push_back(Attempt); }
  std::vector<uint32_t> Attempts;
};
}  // namespace

TEST(Reconnect, AbortDuringTheWaitEndsWithinASecond) {
  TReconnectRig rig;
  TOutageView view;
  rig.Cam.RegisterCamView(&view);
  rig.Play(StreamURL(FreePort()));
  ASSERT_TRUE(rig.WaitEvents(2));  // the second attempt is 2 s away
  EXPECT_TRUE(rig.Cam.IsVideoPlaying());
  EXPECT_EQ(view.Attempts, (std::vector<uint32_t>{1, 2}));  // views learn of each attempt too
  rig.Cam.UnRegisterCamView(&view);
  EXPECT_LT(rig.Stop(), 1000);
  EXPECT_EQ(rig.Ends, std::vector<int32_t>{0});
  // No attempt follows the abort.
  const size_t events = rig.Events.size();
  PumpFor(2500);
  EXPECT_EQ(rig.Events.size(), events);
  EXPECT_FALSE(rig.Cam.IsVideoPlaying());
}

TEST(Reconnect, CameraForTwoClientsServesTwoAndRefusesTheThird) {
  TKzCamSim sim({.Width = 160, .Height = 120, .MaxClients = 2, .Faults = {}});
  ASSERT_TRUE(sim.Start());
  TReconnectRig a, b, c;
  a.Play(sim.StreamURL());
  b.Play(sim.StreamURL());
  ASSERT_TRUE(a.WaitFrames(10));
  ASSERT_TRUE(b.WaitFrames(10));
  EXPECT_EQ(sim.Stats().Connections, 2u);
  c.Play(sim.StreamURL());
  ASSERT_TRUE(c.WaitEvents(1));
  EXPECT_EQ(c.Events[0].second.Kind, TKzSourceErrorKind::kzseHTTPStatus);
  EXPECT_EQ(c.Events[0].second.StatusCode, 503u);
  EXPECT_EQ(c.Probe.Frames(), 0);
  // The first two keep playing.
  const int64_t fa = a.Probe.Frames(), fb = b.Probe.Frames();
  EXPECT_TRUE(a.WaitFrames(fa + 10));
  EXPECT_TRUE(b.WaitFrames(fb + 10));
  KzInetShutdown();
}
