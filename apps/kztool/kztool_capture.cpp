// kztool devices: the capture devices with their modes and controls.
// kztool capture: frames from a capture device (its mode, controls and
// pan/tilt set first) or from the screen, through a camera, as kztool fetch
// plays a URL.
#include <cstdio>
#include <memory>
#include <string>

#include "apps/common/kzappconsole.h"
#include "apps/common/kzappfetch.h"
#include "apps/kztool/kztool.h"
#include "camera/fmxMKzCamCaptureDevice.h"
#include "camera/fmxMKzCamera.h"
#include "capture/fmxMKzV4L2Devices.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformV4L2Fake.h"

using namespace kzapp;
using namespace kz;

namespace kztool {

namespace {

const TKzOption kDevicesOptions[] = {
    {"--fake", nullptr, "list the built-in fake devices instead of the machine's (demonstrations, tests)"},
};

const TKzOption kCaptureOptions[] = {
    {"--device", "N|PATH", "capture device: its number in kztool devices, its node or its identifier (default 0)"},
    {"--size", "WxH", "the device's mode of this size (default: the device's first)"},
    {"--fps", "F", "frame rate (default 25)"},
    {"--format", "F", "the mode's pixel format: YUYV, MJPG, NV12, YU12, RGB3 … (default: the best at that size)"},
    {"--set", "NAME=V[,…]", "set device controls first (names as kztool devices prints them)"},
    {"--move", "DIR", "move pan/tilt one step first: left, right, up, down, upleft, upright, downleft, downright, home"},
    {"--frames", "N", "stop after N frames (default 10)"},
    {"--seconds", "S", "give up after S seconds (default 30)"},
    {"--out", "DIR", "write every frame as DIR/frame-NNNNNN.png (DIR is created)"},
    {"--desktop", nullptr, "capture the screen instead of a device"},
    {"--rect", "X,Y,W,H", "with --desktop: only this rectangle"},
    {"--window", "ID", "with --desktop: only this X window (as xwininfo prints its id)"},
    {"--zoom", "P", "with --desktop: scale the frames to P percent (1..10000)"},
    {"--fake", nullptr, "use the built-in fake devices instead of the machine's"},
};

// The fake devices, installed while a command runs with --fake.
struct TFakeDevices {
  std::unique_ptr<TKzFakeV4L2> Fake;
  explicit TFakeDevices(bool On) {
    if (!On) return;
    Fake = std::make_unique<TKzFakeV4L2>();
    for (TKzFakeV4L2Device d : {KzFakePanTiltWebCam(), KzFakeFixedWebCam(), KzFakeMetadataNode(), KzFakeOutputNode()})
      Fake->Add(std::move(d));
    KzSetV4L2(Fake.get());
  }
  ~TFakeDevices() {
    if (Fake) KzSetV4L2(nullptr);
  }
};

// A capture object's reports, unheard (the listing only reads properties).
class TQuietOwner : public IKzCaptureOwner {
public:
  bool BeforeCamDrawImageFromWebCam() override { return false; }
  void CamDrawImage(TKzMBitmap&, double) override {}
  void AfterCamDrawImageFromWebCam() override {}
  void StartVideoStream() override {}
  void StartedVideoStream() override {}
  void DoneVideoStream(int32_t) override {}
  void ClearLastFrame() override {}
  void DeviceOperation(TKzDeviceOperation, bool) override {}
  void CaptureDebug(const std::string&) override {}
};

int RunDevices(TKzArgs& Args) {
  if (!Args.Positional.empty()) {
    Args.Error = "devices takes no arguments";
    return kzExitUsage;
  }
  TFakeDevices fake(Args.Has("--fake"));
  TQuietOwner owner;
  TKzWebCam cam(&owner);
  cam.FillVideoDeviceList();
  if (cam.GetVideoDeviceCount() == 0) KzOut("no capture devices\n");
  for (int32_t i = 0; i < cam.GetVideoDeviceCount(); ++i) {
    cam.SetVideoDeviceIndex(i);
    cam.SetVideoDevice();
    KzOut("%d: %s\n   id: %s\n   node: %s\n   modes:\n", i, cam.GetVideoDeviceList(i).c_str(),
          cam.GetVideoDeviceIdList(i).c_str(), KzV4L2FindNode(cam.GetVideoDeviceIdList(i)).c_str());
    for (int32_t m = 0; m < cam.GetCamVideoModeCount(); ++m) {
      const TKzCamVideoMode mode = cam.GetCamVideoMode(m);
      std::string rates;
      for (double r : mode.FrameRates) rates += KzFormat(rates.empty() ? "%g" : ", %g", r);
      KzOut("     %-4s %5dx%-5d %s fps\n", mode.VideoFormat.c_str(), mode.Width, mode.Height, rates.c_str());
    }
    KzOut("   controls:\n");
    for (int p = 0; p < KzWebCamPropertyCount; ++p) {
      const auto prop = static_cast<TKzWebCamProperty>(p);
      int32_t min = 0, max = 0, step = 0, def = 0, value = 0;
      if (!cam.GetPropertyRange(prop, min, max, step, def)) continue;
      const bool known = cam.GetPropertyValue(prop, value);
      bool automatic = false;
      const bool hasAuto = cam.GetPropertyAutoMode(prop, automatic);
      KzOut("     %-22s %d..%d step %d default %d value %s%s\n", KzWebCamPropertyName(prop), min, max, step, def,
            known ? std::to_string(value).c_str() : "?", hasAuto ? (automatic ? " (auto)" : " (manual)") : "");
    }
  }
  return kzExitDone;
}

struct TMoveName {
  const char* Name;
  TKzCamMovementEx Direction;
};
const TMoveName kMoves[] = {
    {"home", TKzCamMovementEx::kzdHome},           {"left", TKzCamMovementEx::kzdLeft},
    {"right", TKzCamMovementEx::kzdRight},         {"up", TKzCamMovementEx::kzdUp},
    {"down", TKzCamMovementEx::kzdDown},           {"upleft", TKzCamMovementEx::kzdUpLeft},
    {"upright", TKzCamMovementEx::kzdUpRight},     {"downleft", TKzCamMovementEx::kzdDownLeft},
    {"downright", TKzCamMovementEx::kzdDownRight},
};

// Mode, controls and movement of the capture device, before it starts.
// False with Error when the device cannot do what was asked.
bool PrepareDevice(TKzWebCam& Cam, int32_t Index, const TKzArgs& Args, std::string& Error) {
  Cam.FillVideoDeviceList();
  Cam.SetVideoDeviceIndex(Index);
  if (!Cam.SetVideoDevice()) {
    Error = "the device cannot be opened";
    return false;
  }
  int w = 0, h = 0;
  const std::string size = Args.Get("--size"), format = Args.Get("--format");
  if (!size.empty() && std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2) {
    Error = "--size takes WxH";
    return false;
  }
  int32_t best = -1;
  for (int32_t m = 0; m < Cam.GetCamVideoModeCount(); ++m) {
    const TKzCamVideoMode mode = Cam.GetCamVideoMode(m);
    const bool sizeOk = size.empty() || (mode.Width == w && mode.Height == h);
    const bool formatOk = format.empty() || KzLowerCase(mode.VideoFormat) == KzLowerCase(format);
    if (sizeOk && formatOk && (best < 0 || mode.FrameRate > Cam.GetCamVideoMode(best).FrameRate)) best = m;
  }
  if (best < 0) {
    Error = "the device has no mode " + (format.empty() ? std::string() : format + " ") + size;
    return false;
  }
  Cam.SetCamVideoMode(best);
  std::string sets = Args.Get("--set");
  for (size_t start = 0; start < sets.size();) {
    const size_t end = std::min(sets.find(',', start), sets.size());
    const std::string item = sets.substr(start, end - start);
    start = end + 1;
    const size_t eq = item.find('=');
    int p = 0;
    while (p < KzWebCamPropertyCount &&
           KzLowerCase(KzWebCamPropertyName(static_cast<TKzWebCamProperty>(p))) != KzLowerCase(item.substr(0, eq)))
      ++p;
    if (eq == std::string::npos || p == KzWebCamPropertyCount ||
        !Cam.SetPropertyValue(static_cast<TKzWebCamProperty>(p), std::atoi(item.c_str() + eq + 1))) {
      Error = "the control setting \"" + item + "\" was refused";
      return false;
    }
  }
  if (Args.Has("--move")) {
    const std::string dir = KzLowerCase(Args.Get("--move"));
    const TMoveName* m = nullptr;
    for (const TMoveName& n : kMoves)
      if (dir == n.Name) m = &n;
    if (!m || !Cam.Move(m->Direction)) {
      Error = "the device cannot move " + dir;
      return false;
    }
  }
  return true;
}

int RunCapture(TKzArgs& Args) {
  if (!Args.Positional.empty()) {
    Args.Error = "capture takes options only";
    return kzExitUsage;
  }
  TFakeDevices fake(Args.Has("--fake"));
  const bool desktop = Args.Has("--desktop");
  double frames = 10, zoom = 100, fps = 25, seconds = 30;
  if (!Args.Number("--frames", frames, 1, 1e12) || !Args.Number("--zoom", zoom, 1, 10000) ||
      !Args.Number("--seconds", seconds, 0.001, 1e9) ||
      !Args.Number("--fps", fps, 0.01, 1000))
    return kzExitUsage;
  TKzFetchOptions o;
  o.MaxFrames = static_cast<int64_t>(frames);
  o.FramePerSec = fps;
  o.Seconds = seconds;
  o.OutDir = Args.Get("--out");
  std::string error;
  TRect rect;
  if (desktop) {
    o.URL = "desktop:";
    if (Args.Has("--rect") && !KzParseDesktopRect(Args.Get("--rect"), rect)) {
      Args.Error = "--rect takes X,Y,W,H";
      return kzExitUsage;
    }
    o.OnStart = [&](TKzCamera& Camera) {
      if (Args.Has("--rect")) Camera.SetDesktopMode(TKzDesktopMode::kzdmRect), Camera.SetDesktopRect(rect);
      if (Args.Has("--window"))
        Camera.SetDesktopMode(TKzDesktopMode::kzdmWindow),
            Camera.SetDesktopWindow(std::stoull(Args.Get("--window"), nullptr, 0));
      Camera.SetDesktopZoomPercent(static_cast<int32_t>(zoom));
    };
  } else {
    o.URL = "v4l2:" + Args.Get("--device", "0");
    o.OnStart = [&](TKzCamera& Camera) {
      KzV4L2FillDeviceList(VideoDevices());
      const int32_t index = KzV4L2FindDeviceIndex(VideoDevices(), o.URL.substr(5));
      Camera.SetDeviceType(TKzDeviceType::kzdtWebCamera);
      Camera.SetVideoDeviceIndex(index);
      auto* device = dynamic_cast<TKzCamWebCamDevice*>(Camera.WebCam());
      if (index < 0 || !device || !PrepareDevice(device->WebCam(), index, Args, error)) Camera.SetVideoDeviceIndex(-1);
    };
  }
  o.OnProgress = [](const TKzFetchProgress& p) {
    KzErr("capture: %5.1f s  frames %6lld  %5.1f fps\n", p.Seconds, static_cast<long long>(p.Frames), p.FrameRate);
  };
  const TKzFetchResult r = KzRunFetch(o);
  if (!error.empty()) {
    KzErr("kztool capture: %s\n", error.c_str());
    return kzExitFailed;
  }
  if (!r.Error.empty()) KzErr("kztool capture: %s\n", r.Error.c_str());
  if (!r.Error.empty() && !r.Interrupted) return kzExitFailed;
  KzOut("frames: %lld fps: %.1f\n", static_cast<long long>(r.Frames), r.FrameRate);
  if (r.Interrupted) return kzExitInterrupted;
  return r.Frames >= o.MaxFrames ? kzExitDone : kzExitFailed;
}

}  // namespace

const TSubcommand kDevicesCommand = {
    "devices", "", "lists the capture devices: identifiers, nodes, modes with their rates, controls with their ranges",
    kDevicesOptions, RunDevices};

const TSubcommand kCaptureCommand = {
    "capture", "",
    "takes N frames from a capture device (mode, controls and pan/tilt set first) or, with --desktop, from the "
    "screen; \"frames: N fps: X.X\" to stdout",
    kCaptureOptions, RunCapture};

}  // namespace kztool
