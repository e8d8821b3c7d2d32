#include "capture/fmxMKzV4L2Devices.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "capture/fmxMKzCaptureFrame.h"
#include "platform/fmxMKzPlatformV4L2.h"

namespace kz {

namespace {

using P = TKzWebCamProperty;

// Roll and colour enable have no V4L2 control: they read as unavailable.
const TKzV4L2PropertyControls kControls[KzWebCamPropertyCount] = {
    {P::kzwcpPan, V4L2_CID_PAN_ABSOLUTE, 0, 0, 0, V4L2_CID_PAN_RELATIVE, V4L2_CID_PAN_RESET},
    {P::kzwcpTilt, V4L2_CID_TILT_ABSOLUTE, 0, 0, 0, V4L2_CID_TILT_RELATIVE, V4L2_CID_TILT_RESET},
    {P::kzwcpRoll, 0, 0, 0, 0, 0, 0},
    {P::kzwcpZoom, V4L2_CID_ZOOM_ABSOLUTE, 0, 0, 0, 0, 0},
    {P::kzwcpExposure, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY,
     V4L2_EXPOSURE_MANUAL, 0, 0},
    {P::kzwcpIris, V4L2_CID_IRIS_ABSOLUTE, 0, 0, 0, 0, 0},
    {P::kzwcpFocus, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, 1, 0, 0, 0},
    {P::kzwcpBrightness, V4L2_CID_BRIGHTNESS, 0, 0, 0, 0, 0},
    {P::kzwcpContrast, V4L2_CID_CONTRAST, 0, 0, 0, 0, 0},
    {P::kzwcpHue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO, 1, 0, 0, 0},
    {P::kzwcpSaturation, V4L2_CID_SATURATION, 0, 0, 0, 0, 0},
    {P::kzwcpSharpness, V4L2_CID_SHARPNESS, 0, 0, 0, 0, 0},
    {P::kzwcpGamma, V4L2_CID_GAMMA, 0, 0, 0, 0, 0},
    {P::kzwcpColorEnable, 0, 0, 0, 0, 0, 0},
    {P::kzwcpWhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, 1, 0, 0, 0},
    {P::kzwcpBacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0, 0, 0, 0, 0},
    {P::kzwcpGain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, 1, 0, 0, 0},
};

// A descriptor closed at the end of the scope.
struct TKzV4L2Fd {
  int Fd;
  explicit TKzV4L2Fd(const std::string& Path) : Fd(KzV4L2().Open(Path)) {}
  ~TKzV4L2Fd() {
    if (Fd >= 0) KzV4L2().Close(Fd);
  }
};

std::string Text(const uint8_t* Bytes, size_t Size) {
  return std::string(reinterpret_cast<const char*>(Bytes), strnlen(reinterpret_cast<const char*>(Bytes), Size));
}

// A capture node's name and identifier; false for any other node.
bool DescribeNode(int Fd, const TKzV4L2Node& Node, std::string& Name, std::string& Id) {
  v4l2_capability cap{};
  if (KzV4L2().Ioctl(Fd, VIDIOC_QUERYCAP, &cap) < 0) return false;
  const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return false;
  Name = Text(cap.card, sizeof cap.card);
  Id = !Node.ById.empty() ? Node.ById : Text(cap.bus_info, sizeof cap.bus_info) + ":" + Name;
  return true;
}

// The sizes of one format: discrete ones as listed; for a range, the
// library's resolution sizes that fit, then the largest.
std::vector<std::pair<uint32_t, uint32_t>> FrameSizes(int Fd, uint32_t Fourcc) {
  std::vector<std::pair<uint32_t, uint32_t>> sizes;
  for (uint32_t i = 0; i < 256; ++i) {
    v4l2_frmsizeenum e{};
    e.index = i;
    e.pixel_format = Fourcc;
    if (KzV4L2().Ioctl(Fd, VIDIOC_ENUM_FRAMESIZES, &e) < 0) break;
    if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      sizes.emplace_back(e.discrete.width, e.discrete.height);
      continue;
    }
    const v4l2_frmsize_stepwise& s = e.stepwise;
    for (uint8_t r = 1; r <= static_cast<uint8_t>(TKzVideoResolution::kz1900_1280); ++r) {
      int32_t w = 0, h = 0;
      GetSizeFromResolution(static_cast<TKzVideoResolution>(r), w, h);
      const uint32_t sw = std::max<uint32_t>(1, s.step_width), sh = std::max<uint32_t>(1, s.step_height);
      if (uint32_t(w) >= s.min_width && uint32_t(w) <= s.max_width && uint32_t(h) >= s.min_height &&
          uint32_t(h) <= s.max_height && (w - s.min_width) % sw == 0 && (h - s.min_height) % sh == 0)
        sizes.emplace_back(w, h);
    }
    if (sizes.empty() || sizes.back() != std::make_pair(s.max_width, s.max_height))
      sizes.emplace_back(s.max_width, s.max_height);
    break;
  }
  return sizes;
}

// The rates offered at one size, highest first.
std::vector<double> FrameRates(int Fd, uint32_t Fourcc, uint32_t W, uint32_t H) {
  std::vector<double> rates;
  for (uint32_t i = 0; i < 64; ++i) {
    v4l2_frmivalenum e{};
    e.index = i;
    e.pixel_format = Fourcc;
    e.width = W;
    e.height = H;
    if (KzV4L2().Ioctl(Fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) < 0) break;
    auto rate = [](const v4l2_fract& f) { return f.numerator ? double(f.denominator) / f.numerator : 0.0; };
    if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      rates.push_back(rate(e.discrete));
      continue;
    }
    rates.push_back(rate(e.stepwise.min));  // the shortest interval is the highest rate
    rates.push_back(rate(e.stepwise.max));
    break;
  }
  std::sort(rates.begin(), rates.end(), std::greater<double>());
  rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
  return rates;
}

void AddModes(int Fd, TKzMVideoDevice& Device) {
  for (uint32_t i = 0; i < 64; ++i) {
    v4l2_fmtdesc f{};
    f.index = i;
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (KzV4L2().Ioctl(Fd, VIDIOC_ENUM_FMT, &f) < 0) break;
    const TKzCaptureFormat* known = KzCaptureFormat(f.pixelformat);
    if (!known) continue;  // frames we could not convert
    for (auto [w, h] : FrameSizes(Fd, f.pixelformat)) {
      TKzCamVideoMode m;
      m.Index = Device.GetVideoModeCount();
      m.Width = static_cast<int32_t>(w);
      m.Height = static_cast<int32_t>(h);
      m.PixelFormat = f.pixelformat;
      m.VideoFormat = known->Name;
      m.FrameRates = FrameRates(Fd, f.pixelformat, w, h);
      m.FrameRate = m.FrameRates.empty() ? 0 : m.FrameRates.front();
      switch (known->Kind) {
        case TKzCaptureFrameKind::kzcfkRgb:
          m.ColorModel = TKzColorModel::kzcmRGB;
          m.ColorDepth = static_cast<uint8_t>(known->BytesPerPixel * 8);
          break;
        case TKzCaptureFrameKind::kzcfkYuv:
          m.ColorModel = TKzColorModel::kzcmYV;
          m.ColorDepth = 16;
          break;
        default: m.ColorModel = TKzColorModel::kzcmOther; break;
      }
      Device.AddVideoMode(m);
    }
  }
}

}  // namespace

const TKzV4L2PropertyControls& KzV4L2Controls(TKzWebCamProperty P) { return kControls[static_cast<size_t>(P)]; }

void KzV4L2FillDeviceList(TKzMVideoDeviceList& List) {
  List.Clear();
  for (const TKzV4L2Node& node : KzV4L2().Nodes()) {
    TKzV4L2Fd fd(node.Path);
    std::string name, id;
    if (fd.Fd < 0 || !DescribeNode(fd.Fd, node, name, id)) continue;
    if (TKzMVideoDevice* d = List.AddVideoDevice(name, id); d && d->GetVideoModeCount() == 0) AddModes(fd.Fd, *d);
  }
}

int32_t KzV4L2FindDeviceIndex(const TKzMVideoDeviceList& List, const std::string& Device) {
  if (!Device.empty() && Device.find_first_not_of("0123456789") == std::string::npos) {
    const long n = std::strtol(Device.c_str(), nullptr, 10);
    return n < List.GetVideoDeviceCount() ? static_cast<int32_t>(n) : -1;
  }
  std::string id = Device;
  for (const TKzV4L2Node& node : KzV4L2().Nodes()) {
    TKzV4L2Fd fd(node.Path);
    std::string name;
    if (node.Path == Device && fd.Fd >= 0) DescribeNode(fd.Fd, node, name, id);
  }
  for (int32_t i = 0; i < List.GetVideoDeviceCount(); ++i)
    if (List.GetVideoDeviceList(i)->DeviceId == id) return i;
  return -1;
}

std::string KzV4L2FindNode(const std::string& Id) {
  for (const TKzV4L2Node& node : KzV4L2().Nodes()) {
    TKzV4L2Fd fd(node.Path);
    std::string name, id;
    if (fd.Fd >= 0 && DescribeNode(fd.Fd, node, name, id) && id == Id) return node.Path;
  }
  return {};
}

}  // namespace kz
