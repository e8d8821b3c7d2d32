// The capture-device camera on the fake V4L2 devices: listing, mode choice,
// controls and movement, the command thread, the frame lock, device errors;
// then on a real vivid or v4l2loopback device when one is present.
#include <linux/videodev2.h>

#include <thread>

#include "camera/fmxMKzCamera.h"
#include "capture/fmxMKzV4L2Devices.h"
#include "capture/fmxMKzV4L2WebCamera.h"
#include "tests/capture/kzcapturetest.h"
#include "tests/kztestneed.h"

using namespace kz;
using namespace kztest;
using P = TKzWebCamProperty;
using D = TKzCamMovementEx;

namespace {

// A web camera on device Index of the fake, with its controls open.
struct TCamRig : TFakeV4L2Rig {
  TRecordingOwner Owner;
  TKzWebCam Cam{&Owner};
  explicit TCamRig(int Index = 0, std::function<void(TKzFakeV4L2&)> Prepare = nullptr) {
    if (Prepare) Prepare(Fake);
    Cam.FillVideoDeviceList();
    Cam.SetVideoDeviceIndex(Index);
    Cam.SetVideoDevice();
  }
  bool Done(const std::string& What) { return WaitUntil([&] { return Owner.Has(What); }); }
};

std::string ModeText(const TKzCamVideoMode& M) {
  return M.VideoFormat + " " + std::to_string(M.Width) + "x" + std::to_string(M.Height);
}

}  // namespace

TEST(CaptureWebCam, ListsCaptureNodesWithStableIdsAndModes) {
  TFakeV4L2Rig rig;
  TKzMVideoDeviceList list;
  KzV4L2FillDeviceList(list);
  ASSERT_EQ(list.GetVideoDeviceCount(), 2);  // the metadata and output nodes are left out
  EXPECT_EQ(list.GetVideoDeviceList(0)->DeviceId, "usb-KzMedia_PanTilt_Camera_0001-video-index0");
  // Without a by-id link: bus and card.
  EXPECT_EQ(list.GetVideoDeviceList(1)->DeviceId, "usb-KzMedia_Fixed_Camera_0002-video-index0");
  const TKzMVideoDevice* pan = list.GetVideoDeviceList(0);
  const TKzCamVideoMode yuyv720 = pan->GetVideoModeList(2);
  EXPECT_EQ(ModeText(yuyv720), "YUYV 1280x720");
  EXPECT_EQ(yuyv720.FrameRates, std::vector<double>({10}));
  EXPECT_EQ(pan->GetVideoModeList(0).FrameRates, std::vector<double>({30, 15, 10}));
  // A stepwise range: the library's sizes that fit, then the largest.
  std::vector<std::string> fixed;
  for (int i = 0; i < list.GetVideoDeviceList(1)->GetVideoModeCount(); ++i)
    fixed.push_back(ModeText(list.GetVideoDeviceList(1)->GetVideoModeList(i)));
  EXPECT_EQ(fixed, std::vector<std::string>({"YUYV 160x120", "YUYV 320x240", "YUYV 640x480", "YUYV 1024x768",
                                             "YUYV 1280x720", "YUYV 1280x960"}));

  // Replugged on another node, the device is found again by its identifier;
  // a device without a by-id link is known by bus and card.
  rig.Fake.Change("/dev/video1", [](TKzFakeV4L2Device& d) { d.Path = "/dev/video7", d.ById.clear(); });
  EXPECT_EQ(KzV4L2FindNode("usb-KzMedia_PanTilt_Camera_0001-video-index0"), "/dev/video0");
  EXPECT_EQ(KzV4L2FindNode("usb-0000:00:14.0-2:KzMedia Fixed Camera"), "/dev/video7");
}

TEST(CaptureWebCam, ChoosesModeBySizeThenRate) {
  TCamRig rig(0, [](TKzFakeV4L2& F) {
    F.Change("/dev/video0", [](TKzFakeV4L2Device& d) {
      d.Formats[0].Sizes.push_back({1900, 1280});
      d.Formats[0].Sizes.push_back({1920, 1080});
    });
  });
  struct TRow {
    TKzVideoResolution Resolution;
    double Fps;
    const char* Mode;
  } rows[] = {
      {TKzVideoResolution::kz640_480, 25, "YUYV 640x360"},   // inside 640x480, wider than 320x240
      {TKzVideoResolution::kz1280_720, 25, "MJPG 1280x720"},  // YUYV offers only 10 fps there
      {TKzVideoResolution::kz1280_720, 10, "YUYV 1280x720"},  // both reach 10: uncompressed first
      {TKzVideoResolution::kz160_120, 25, "YUYV 1280x720"},   // nothing fits: the mode stays
  };
  for (const TRow& r : rows) {
    rig.Cam.SetFramePerSec(r.Fps);
    rig.Cam.SetVideoResolutionOnStart(r.Resolution);
    EXPECT_EQ(ModeText(rig.Cam.GetCamCurrentVideoMode()), r.Mode) << r.Fps;
  }
  std::map<std::string, TKzVideoResolution> byIndex;
  for (int i = 0; i < rig.Cam.GetCamVideoModeCount(); ++i)
    byIndex[ModeText(rig.Cam.GetCamVideoMode(i))] = rig.Cam.GetVideoResolutionByIndex(i);
  EXPECT_EQ(byIndex["YUYV 1900x1280"], TKzVideoResolution::kz1900_1280);
  EXPECT_EQ(byIndex["YUYV 1920x1080"], TKzVideoResolution::kzDefault);
}

TEST(CaptureWebCam, ControlsThroughTheColourMapping) {
  TCamRig rig;
  const uint32_t all = rig.Cam.GetAvailableProperties();
  EXPECT_EQ(all, ((1u << KzWebCamPropertyCount) - 1) & ~(1u << int(P::kzwcpRoll)) & ~(1u << int(P::kzwcpColorEnable)));
  int32_t v = 1;
  EXPECT_FALSE(rig.Cam.GetPropertyValue(P::kzwcpRoll, v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(rig.Cam.SetPropertyValue(P::kzwcpColorEnable, 1));

  const struct {
    TKzColorControlProperty Color;
    uint32_t Cid;
  } map[] = {{TKzColorControlProperty::kzccpBrightness, V4L2_CID_BRIGHTNESS},
             {TKzColorControlProperty::kzccpSharpness, V4L2_CID_SHARPNESS}};
  for (const auto& m : map) {
    EXPECT_TRUE(rig.Cam.SetColorControlProperty(m.Color, 5));
    EXPECT_EQ(rig.Fake.ControlValue("/dev/video0", m.Cid), 5) << m.Cid;
    EXPECT_EQ(rig.Cam.GetColorControlProperty(m.Color), 5);
  }
  rig.Cam.ResetColorControlProperties();
  EXPECT_EQ(rig.Fake.ControlValue("/dev/video0", V4L2_CID_BRIGHTNESS), 128);
  EXPECT_TRUE(rig.Cam.SetPropertyAutoMode(P::kzwcpExposure, false));
  EXPECT_EQ(rig.Fake.ControlValue("/dev/video0", V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
  EXPECT_TRUE(rig.Cam.SetFocusDistance(100));
  EXPECT_EQ(rig.Cam.GetFocusDistance(), 100);

  // The fixed camera has brightness and contrast only: the rest is not set and reads 0.
  TKzWebCam fixed(&rig.Owner);
  fixed.SetVideoDeviceIndex(1);
  fixed.SetVideoDevice();
  EXPECT_FALSE(fixed.SetColorControlProperty(TKzColorControlProperty::kzccpSaturation, 5));
  EXPECT_EQ(fixed.GetColorControlProperty(TKzColorControlProperty::kzccpSaturation), 0);
  EXPECT_FALSE(fixed.SetFocusDistance(3));
  EXPECT_FALSE(fixed.Move(D::kzdLeft));  // no pan
  EXPECT_FALSE(fixed.CanMove(D::kzdLeft));

  const int32_t zoom = rig.Cam.ZoomPercent();
  rig.Cam.SetZoomPercent(0);
  rig.Cam.SetZoomPercent(10001);
  EXPECT_EQ(rig.Cam.ZoomPercent(), zoom);
}

TEST(CaptureWebCam, MovesPanAndTilt) {
  TCamRig rig;
  auto pan = [&] { return rig.Fake.ControlValue("/dev/video0", V4L2_CID_PAN_ABSOLUTE); };
  auto tilt = [&] { return rig.Fake.ControlValue("/dev/video0", V4L2_CID_TILT_ABSOLUTE); };
  struct TRow {
    bool FlipH, FlipV;
    D Direction;
    int32_t Pan, Tilt;  // after the move, from (0, 0)
  } rows[] = {
      {false, false, D::kzdLeft, -3600, 0},     {true, false, D::kzdLeft, 3600, 0},
      {false, false, D::kzdUp, 0, 3600},        {false, true, D::kzdUp, 0, -3600},
      {false, false, D::kzdDownRight, 3600, -3600}, {true, true, D::kzdUpLeft, 3600, -3600},
  };
  for (const TRow& r : rows) {
    ASSERT_TRUE(rig.Cam.Move(D::kzdHome));
    rig.Cam.SetFlipHorizontallyFlipVertically(r.FlipH, r.FlipV);
    EXPECT_TRUE(rig.Cam.Move(r.Direction));
    EXPECT_EQ(pan(), r.Pan) << int(r.Direction) << r.FlipH << r.FlipV;
    EXPECT_EQ(tilt(), r.Tilt) << int(r.Direction) << r.FlipH << r.FlipV;
  }
  rig.Cam.SetFlipHorizontallyFlipVertically(false, false);
  EXPECT_FALSE(rig.Cam.Move(D::kzdHPatrol));
  // Near the end the move clamps; then that direction cannot move any more.
  ASSERT_TRUE(rig.Cam.SetPropertyValue(P::kzwcpPan, 34000));
  EXPECT_TRUE(rig.Cam.CanMove(D::kzdRight));
  EXPECT_TRUE(rig.Cam.Move(D::kzdRight));
  EXPECT_EQ(pan(), 36000);
  EXPECT_FALSE(rig.Cam.CanMove(D::kzdRight));
  EXPECT_TRUE(rig.Cam.CanMove(D::kzdLeft));
  EXPECT_TRUE(rig.Cam.Move(D::kzdHome));
  EXPECT_EQ(pan(), 0);
}

TEST(CaptureWebCam, RelativePanTiltStepsAndResets) {
  TCamRig rig(0, [](TKzFakeV4L2& F) {
    F.Change("/dev/video0", [](TKzFakeV4L2Device& d) {
      for (TKzFakeV4L2Control& c : d.Controls) {
        if (c.Id == V4L2_CID_PAN_ABSOLUTE) c.Id = V4L2_CID_PAN_RELATIVE, c.Minimum = -3600, c.Maximum = 3600, c.Default = 0;
        if (c.Id == V4L2_CID_TILT_ABSOLUTE) c.Id = V4L2_CID_TILT_RELATIVE, c.Minimum = -3600, c.Maximum = 3600, c.Default = 0;
      }
    });
  });
  EXPECT_EQ(rig.Cam.GetAvailableProperties() & 3u, 0u);  // no position to read
  EXPECT_TRUE(rig.Cam.CanMove(D::kzdLeft));
  EXPECT_TRUE(rig.Cam.Move(D::kzdLeft));
  EXPECT_TRUE(rig.Cam.Move(D::kzdHome));
  std::vector<std::string> sets;
  for (const TKzFakeV4L2::TCall& c : rig.Fake.Calls())
    if (c.What.rfind("S_CTRL", 0) == 0) sets.push_back(c.What);
  EXPECT_EQ(sets, std::vector<std::string>({"S_CTRL " + std::to_string(V4L2_CID_PAN_RELATIVE) + "=-3600",
                                            "S_CTRL " + std::to_string(V4L2_CID_PAN_RESET) + "=1",
                                            "S_CTRL " + std::to_string(V4L2_CID_TILT_RESET) + "=1"}));
}

TEST(CaptureWebCam, StartsAndStopsOnItsCommandThread) {
  TCamRig rig;
  rig.Cam.SetVideoResolutionOnStart(TKzVideoResolution::kz320_240);
  rig.Cam.RunVideo();
  ASSERT_TRUE(WaitUntil([&] { return rig.Owner.FrameCount() >= 3; }));
  EXPECT_EQ(rig.Cam.DevicePath(), "/dev/video0");
  EXPECT_EQ(rig.Owner.LastFrame().Pixel(5, 5), 0xFF808080u);  // the fake's mid-grey YUYV
  rig.Cam.StopVideo();
  ASSERT_TRUE(rig.Done("done"));
  EXPECT_FALSE(rig.Cam.IsVideoPlaying());
  std::thread::id on, off;
  std::vector<std::string> what;
  for (const TKzFakeV4L2::TCall& c : rig.Fake.Calls()) {
    if (c.What == "STREAMON") on = c.Thread;
    if (c.What == "STREAMOFF") off = c.Thread;
    if (c.What.rfind("S_", 0) == 0 && c.What.rfind("S_CTRL", 0) != 0) what.push_back(c.What);
  }
  EXPECT_EQ(on, off);
  EXPECT_NE(on, std::this_thread::get_id());
  EXPECT_EQ(what, std::vector<std::string>({"S_FMT YUYV 320x240", "S_PARM 30"}));
  ASSERT_TRUE(WaitUntil([&] { return rig.Owner.Has("op2 done"); }));
  std::vector<std::string> events;
  for (const std::string& e : rig.Owner.Events())
    if (e.rfind("debug", 0) != 0) events.push_back(e);
  EXPECT_EQ(events, std::vector<std::string>({"op0 asked", "op0 done", "op1 asked", "begin", "op1 done", "started", "op2 asked", "done 0",
                                              "op2 done"}));
}

TEST(CaptureWebCam, DropsFramesWhileTheFrameLockIsHeld) {
  TCamRig rig;
  rig.Cam.RunVideo();
  ASSERT_TRUE(WaitUntil([&] { return rig.Owner.FrameCount() >= 1; }));
  rig.Cam.FrameLock().Enter();
  const int before = rig.Owner.FrameCount();
  const uint64_t dropped = rig.Cam.DroppedFrames();
  ASSERT_TRUE(WaitUntil([&] { return rig.Cam.DroppedFrames() >= dropped + 3; }));
  EXPECT_EQ(rig.Owner.FrameCount(), before);
  rig.Cam.FrameLock().Leave();
  EXPECT_TRUE(WaitUntil([&] { return rig.Owner.FrameCount() > before; }));
  rig.Cam.StopVideo();
  EXPECT_TRUE(rig.Done("done 0"));
}

TEST(CaptureWebCam, DeviceErrorsEndTheStream) {
  struct TRow {
    const char* Name;
    std::function<void(TKzFakeV4L2Device&)> Break;
    bool StopAfterFrames;  // the stream runs first, then is stopped by us
    const char* Done;
    const char* Debug;
    bool Frames;  // frames reached the owner
  } rows[] = {
      {"STREAMON fails", [](TKzFakeV4L2Device& d) { d.StreamOnError = -EIO; }, false, "done 1013", "did not start", false},
      {"STREAMOFF fails", [](TKzFakeV4L2Device& d) { d.StreamOffError = -EIO; }, true, "done 1014", "did not stop", true},
      {"unplugged", [](TKzFakeV4L2Device& d) { d.LoseAfterFrames = 3; }, false, "done 1013", "lost", true},
      {"stalled", [](TKzFakeV4L2Device& d) { d.Stall = true; }, false, "done 0", "", false},
      {"short frames", [](TKzFakeV4L2Device& d) { d.Frames[V4L2_PIX_FMT_YUYV].assign(1000, 0x80); }, false, "done 0",
       "short frame", false},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    TCamRig rig(0, [&](TKzFakeV4L2& F) { F.Change("/dev/video0", r.Break); });
    rig.Cam.RunVideo();
    if (r.StopAfterFrames) {
      ASSERT_TRUE(WaitUntil([&] { return rig.Owner.FrameCount() >= 1; }));
    }
    if (std::string(r.Done) == "done 0") {  // nothing ends by itself
      // The stop must get through a device that delivers nothing (usable).
      ASSERT_TRUE(WaitUntil([&] { return rig.Fake.FramesServed("/dev/video0") >= 2 || r.Debug[0] == 0; }));
      ASSERT_TRUE(WaitUntil([&] { return rig.Owner.Has("begin"); }));
      rig.Cam.StopVideo();
    }
    if (r.StopAfterFrames) rig.Cam.StopVideo();
    ASSERT_TRUE(rig.Done("done"));
    EXPECT_TRUE(rig.Owner.Has(r.Done));
    if (r.Debug[0]) {
      EXPECT_TRUE(WaitUntil([&] {
        for (const std::string& e : rig.Owner.Events())
          if (e.find(r.Debug) != std::string::npos) return true;
        return false;
      }));
    }
    EXPECT_EQ(rig.Owner.FrameCount() > 0, r.Frames);
    EXPECT_EQ(rig.Fake.OpenCount(), 1);  // only the controls' descriptor stays open
  }
}

TEST(CaptureWebCam, CameraDeviceKindStreamsFrames) {
  TFakeV4L2Rig rig;
  TKzCamera cam(nullptr);
  std::vector<std::string> ops;
  cam.OnDeviceOperation = [&](TComponent*, TKzDeviceOperation Op, bool Done) {
    ops.push_back(std::to_string(int(Op)) + (Done ? "+" : "-"));
  };
  int frames = 0, ended = -1;
  cam.OnGetImage = [&](TComponent*, TKzMBitmap&) { ++frames; };
  cam.OnEndVideoStream = [&](TComponent*, int32_t Status) { ended = Status; };
  cam.SetDeviceType(TKzDeviceType::kzdtWebCamera);
  cam.SetVideoDeviceIndex(1);
  cam.SetVideoResolution(TKzVideoResolution::kz640_480);
  cam.PlayVideoStream();
  ASSERT_TRUE(WaitUntil([&] { return frames >= 2; }));
  EXPECT_TRUE(cam.IsVideoPlaying());
  cam.Abort();
  ASSERT_TRUE(WaitUntil([&] { return ended >= 0 && !cam.IsVideoPlaying() && ops.size() >= 6; }));
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(ops, std::vector<std::string>({"0-", "0+", "1-", "1+", "2-", "2+"}));
}

// Real capture devices: vivid (every format it offers) and v4l2loopback fed
// by ffmpeg (its format cross-checked with v4l2-ctl). Their kernel modules
// cannot be loaded on every machine: without them the test says so and skips.
TEST(CaptureWebCam, RealDevices) {
  TKzMVideoDeviceList list;
  KzV4L2FillDeviceList(list);
  int vivid = -1, loopback = -1;
  for (int i = 0; i < list.GetVideoDeviceCount(); ++i) {
    const std::string& name = list.GetVideoDeviceList(i)->DeviceName;
    if (name.find("vivid") != std::string::npos) vivid = i;
    if (name.find("Dummy video device") != std::string::npos || name.find("Loopback") != std::string::npos) loopback = i;
  }
  if (vivid < 0 && loopback < 0)
    GTEST_SKIP() << "no vivid or v4l2loopback device: their kernel modules are not loaded on this machine";
  TTempDir dir;
  TPeer feeder;
  if (loopback >= 0) {
    const std::string node = KzV4L2FindNode(list.GetVideoDeviceList(loopback)->DeviceId);
    ASSERT_TRUE(feeder.Start({"ffmpeg", "-nostdin", "-v", "error", "-re", "-f", "lavfi", "-i", "testsrc2=size=640x480:rate=30",
                              "-pix_fmt", "yuyv422", "-f", "v4l2", node},
                             dir / "feeder.log"));
    ASSERT_TRUE(WaitUntil([&] { return RunOutput("v4l2-ctl -d " + node + " --get-fmt-video").find("YUYV") != std::string::npos; }));
    KzV4L2FillDeviceList(list);
  }
  TRecordingOwner owner;
  TKzWebCam cam(&owner);
  cam.FillVideoDeviceList();
  for (int device : {vivid, loopback}) {
    if (device < 0) continue;
    cam.SetVideoDeviceIndex(device);
    cam.SetVideoDevice();
    for (int i = 0; i < cam.GetCamVideoModeCount(); ++i) {
      if (i > 0 && cam.GetCamVideoMode(i).PixelFormat == cam.GetCamVideoMode(i - 1).PixelFormat) continue;
      SCOPED_TRACE(cam.GetVideoDeviceList(device) + " " + cam.GetCamVideoMode(i).VideoFormat);
      const int before = owner.FrameCount();
      cam.SetCamVideoMode(i);
      cam.RunVideo();
      EXPECT_TRUE(WaitUntil([&] { return owner.FrameCount() >= before + 2; }));
      cam.StopVideo();
      EXPECT_TRUE(WaitUntil([&] { return !cam.IsVideoPlaying(); }));
    }
  }
}
