#include "capture/fmxMKzCustomWebCam.h"

#include <algorithm>

#include "capture/fmxMKzCaptureFrame.h"

namespace kz {

namespace {
const char* const kPropertyNames[KzWebCamPropertyCount] = {
    "Pan",        "Tilt",     "Roll",       "Zoom",      "Exposure",     "Iris",
    "Focus",      "Brightness", "Contrast", "Hue",       "Saturation",   "Sharpness",
    "Gamma",      "ColorEnable", "WhiteBalance", "BacklightCompensation", "Gain"};

struct TKzColorMapping {
  TKzColorControlProperty Color;
  TKzWebCamProperty Property;
};
const TKzColorMapping kColorMap[] = {
    {TKzColorControlProperty::kzccpBrightness, TKzWebCamProperty::kzwcpBrightness},
    {TKzColorControlProperty::kzccpContrast, TKzWebCamProperty::kzwcpContrast},
    {TKzColorControlProperty::kzccpSaturation, TKzWebCamProperty::kzwcpSaturation},
    {TKzColorControlProperty::kzccpHue, TKzWebCamProperty::kzwcpHue},
    {TKzColorControlProperty::kzccpSharpness, TKzWebCamProperty::kzwcpSharpness},
};

// (pan, tilt) steps of the directions; patrols have none.
struct TKzMoveStep {
  TKzCamMovementEx Direction;
  int Pan, Tilt;
};
const TKzMoveStep kMoveSteps[] = {
    {TKzCamMovementEx::kzdLeft, -1, 0},      {TKzCamMovementEx::kzdUp, 0, 1},
    {TKzCamMovementEx::kzdRight, 1, 0},      {TKzCamMovementEx::kzdDown, 0, -1},
    {TKzCamMovementEx::kzdUpLeft, -1, 1},    {TKzCamMovementEx::kzdUpRight, 1, 1},
    {TKzCamMovementEx::kzdDownLeft, -1, -1}, {TKzCamMovementEx::kzdDownRight, 1, -1},
};

bool Uncompressed(const TKzCamVideoMode& M) {
  const TKzCaptureFormat* f = KzCaptureFormat(M.PixelFormat);
  return !f || f->Kind != TKzCaptureFrameKind::kzcfkJpeg;
}
}  // namespace

TKzWebCamPropertyGroup KzWebCamPropertyGroup(TKzWebCamProperty P) {
  const int i = static_cast<int>(P);
  if (i <= 6) return TKzWebCamPropertyGroup::kzwcpgCameraControl;
  if (i < KzWebCamPropertyCount) return TKzWebCamPropertyGroup::kzwcpgVideoProcAmp;
  return TKzWebCamPropertyGroup::kzwcpgUnknown;
}

const char* KzWebCamPropertyName(TKzWebCamProperty P) {
  const int i = static_cast<int>(P);
  return i < KzWebCamPropertyCount ? kPropertyNames[i] : "";
}

TKzWebCamProperty KzColorControlToWebCamProperty(TKzColorControlProperty C) {
  for (const TKzColorMapping& m : kColorMap)
    if (m.Color == C) return m.Property;
  return TKzWebCamProperty::kzwcpBrightness;
}

TKzCustomWebCam::TKzCustomWebCam(IKzCaptureOwner* Owner, std::string ThreadName)
    : TKzCustomBase(Owner, std::move(ThreadName)) {}

// ---- Devices

int32_t TKzCustomWebCam::GetVideoDeviceCount() const { return VideoDevices().GetVideoDeviceCount(); }

std::string TKzCustomWebCam::GetVideoDeviceList(int32_t Index) const {
  if (Index < 0 || Index >= GetVideoDeviceCount()) return {};
  return VideoDevices().GetVideoDeviceList(Index)->DeviceName;
}

std::string TKzCustomWebCam::GetVideoDeviceIdList(int32_t Index) const {
  if (Index < 0 || Index >= GetVideoDeviceCount()) return {};
  return VideoDevices().GetVideoDeviceList(Index)->DeviceId;
}

bool TKzCustomWebCam::SetVideoDeviceIndex(int32_t Index) {
  if (Index >= GetVideoDeviceCount()) return false;
  DestroyVideoDevice();
  std::lock_guard<std::mutex> l(FModeLock);
  FDeviceIndex = Index;
  FModes.clear();
  FModeIndex = -1;
  FDeviceId.clear();
  if (Index < 0) return true;
  const TKzMVideoDevice* d = VideoDevices().GetVideoDeviceList(Index);
  FDeviceId = d->DeviceId;
  for (int i = 0; i < d->GetVideoModeCount(); ++i) FModes.push_back(d->GetVideoModeList(i));
  if (!FModes.empty()) FModeIndex = 0;
  return true;
}

// ---- Modes

int32_t TKzCustomWebCam::GetCamVideoModeCount() const {
  std::lock_guard<std::mutex> l(FModeLock);
  return static_cast<int32_t>(FModes.size());
}

TKzCamVideoMode TKzCustomWebCam::GetCamVideoMode(int32_t Index) const {
  std::lock_guard<std::mutex> l(FModeLock);
  return Index >= 0 && Index < static_cast<int32_t>(FModes.size()) ? FModes[Index] : TKzCamVideoMode{};
}

int32_t TKzCustomWebCam::GetCamVideoModeIndex() const {
  std::lock_guard<std::mutex> l(FModeLock);
  return FModeIndex;
}

TKzCamVideoMode TKzCustomWebCam::GetCamCurrentVideoMode() const { return GetCamVideoMode(GetCamVideoModeIndex()); }

bool TKzCustomWebCam::SetCamVideoMode(int32_t Index) {
  std::lock_guard<std::mutex> l(FModeLock);
  if (Index < 0 || Index >= static_cast<int32_t>(FModes.size())) return false;
  FModeIndex = Index;
  FVideoWidth = FModes[Index].Width;
  FVideoHeight = FModes[Index].Height;
  return true;
}

void TKzCustomWebCam::SetVideoResolutionOnStart(TKzVideoResolution Resolution) {
  if (FDeviceIndex < 0 || FChoosingMode) return;
  int32_t W = 0, H = 0;
  GetSizeFromResolution(Resolution, W, H);
  if (W == 0 || H == 0) return;
  FChoosingMode = true;
  int32_t best = -1, bestW = 0, bestH = 0;
  {
    std::lock_guard<std::mutex> l(FModeLock);
    for (size_t i = 0; i < FModes.size(); ++i) {
      const TKzCamVideoMode& m = FModes[i];
      if (m.Width <= W && m.Height <= H && m.Width > bestW && m.Height > bestH)
        best = static_cast<int32_t>(i), bestW = m.Width, bestH = m.Height;
    }
    // Of that size, the format whose rate reaches the wanted one; then the
    // uncompressed one; then the faster.
    const double fps = FramePerSec();
    auto better = [fps](const TKzCamVideoMode& a, const TKzCamVideoMode& b) {
      const bool ra = a.FrameRate + 1e-6 >= fps, rb = b.FrameRate + 1e-6 >= fps;
      if (ra != rb) return ra;
      if (!ra && a.FrameRate != b.FrameRate) return a.FrameRate > b.FrameRate;
      if (Uncompressed(a) != Uncompressed(b)) return Uncompressed(a);
      return a.FrameRate > b.FrameRate;
    };
    for (size_t i = 0; best >= 0 && i < FModes.size(); ++i)
      if (FModes[i].Width == bestW && FModes[i].Height == bestH && better(FModes[i], FModes[best]))
        best = static_cast<int32_t>(i);
  }
  if (best >= 0 && best != GetCamVideoModeIndex()) SetCamVideoMode(best);
  FChoosingMode = false;
}

int32_t TKzCustomWebCam::GetIndexByVideoResolutionOnStart(TKzVideoResolution Resolution) const {
  int32_t W = 0, H = 0;
  GetSizeFromResolution(Resolution, W, H);
  if (FDeviceIndex < 0 || FDeviceIndex >= GetVideoDeviceCount() || W == 0) return -1;
  return VideoDevices().GetVideoDeviceList(FDeviceIndex)->FindMostAppropriateVideoMode(W, H);
}

TKzVideoResolution TKzCustomWebCam::GetVideoResolutionByIndex(int32_t Index) const {
  const TKzCamVideoMode m = GetCamVideoMode(Index);
  for (uint8_t r = 1; r <= static_cast<uint8_t>(TKzVideoResolution::kz1900_1280); ++r) {
    int32_t W = 0, H = 0;
    GetSizeFromResolution(static_cast<TKzVideoResolution>(r), W, H);
    if (m.Width == W && m.Height == H) return static_cast<TKzVideoResolution>(r);
  }
  return TKzVideoResolution::kzDefault;
}

void TKzCustomWebCam::SetFramePerSec(double Fps) {
  FFramePerSec.store(Fps > 0 ? Fps : 0.0001, std::memory_order_release);
}

std::string TKzCustomWebCam::GetVideoProperty() const {
  const TKzCamVideoMode m = GetCamCurrentVideoMode();
  if (m.Width <= 0) return {};
  return m.VideoFormat + " " + std::to_string(m.Width) + "x" + std::to_string(m.Height);
}

// ---- Properties

bool TKzCustomWebCam::Available(TKzWebCamProperty P) {
  TKzWebCamPropertyRange r;
  return PropertyRange(P, r);
}

uint32_t TKzCustomWebCam::GetAvailableProperties() {
  uint32_t mask = 0;
  for (int i = 0; i < KzWebCamPropertyCount; ++i)
    if (Available(static_cast<TKzWebCamProperty>(i))) mask |= 1u << i;
  return mask;
}

bool TKzCustomWebCam::GetPropertyValue(TKzWebCamProperty P, int32_t& Value) {
  Value = 0;
  return ReadProperty(P, Value);
}

bool TKzCustomWebCam::SetPropertyValue(TKzWebCamProperty P, int32_t Value) {
  TKzWebCamPropertyRange r;
  if (!PropertyRange(P, r)) return false;
  return WriteProperty(P, std::clamp(Value, r.Min, r.Max));
}

bool TKzCustomWebCam::GetPropertyAutoMode(TKzWebCamProperty P, bool& Auto) {
  Auto = false;
  return ReadAuto(P, Auto);
}

bool TKzCustomWebCam::SetPropertyAutoMode(TKzWebCamProperty P, bool Auto) { return WriteAuto(P, Auto); }

bool TKzCustomWebCam::GetPropertyRange(TKzWebCamProperty P, int32_t& Min, int32_t& Max, int32_t& Step,
                                       int32_t& Default) {
  TKzWebCamPropertyRange r;
  const bool ok = PropertyRange(P, r);
  Min = r.Min, Max = r.Max, Step = r.Step, Default = r.Default;
  return ok;
}

int32_t TKzCustomWebCam::GetPropertyDefaultValue(TKzWebCamProperty P) {
  TKzWebCamPropertyRange r;
  return PropertyRange(P, r) ? r.Default : 0;
}

bool TKzCustomWebCam::SetColorControlProperty(TKzColorControlProperty C, int32_t Value) {
  const TKzWebCamProperty p = KzColorControlToWebCamProperty(C);
  return Available(p) && SetPropertyValue(p, Value);
}

int32_t TKzCustomWebCam::GetColorControlProperty(TKzColorControlProperty C) {
  int32_t v = 0;
  return GetPropertyValue(KzColorControlToWebCamProperty(C), v) ? v : 0;
}

void TKzCustomWebCam::ResetColorControlProperties() {
  for (const TKzColorMapping& m : kColorMap) {
    TKzWebCamPropertyRange r;
    if (PropertyRange(m.Property, r)) WriteProperty(m.Property, r.Default);
  }
}

bool TKzCustomWebCam::SetFocusDistance(int32_t Distance) {
  return Available(TKzWebCamProperty::kzwcpFocus) && SetPropertyValue(TKzWebCamProperty::kzwcpFocus, Distance);
}

int32_t TKzCustomWebCam::GetFocusDistance() {
  int32_t v = 0;
  return GetPropertyValue(TKzWebCamProperty::kzwcpFocus, v) ? v : 0;
}

// ---- Movement

bool TKzCustomWebCam::MoveSteps(TKzCamMovementEx Direction, int& Pan, int& Tilt) const {
  for (const TKzMoveStep& s : kMoveSteps)
    if (s.Direction == Direction) {
      // A flipped picture turns the directions round, so that "left" stays
      // left as the viewer sees it.
      Pan = GetFlipHorizontally() ? -s.Pan : s.Pan;
      Tilt = GetFlipVertically() ? -s.Tilt : s.Tilt;
      return true;
    }
  return false;
}

bool TKzCustomWebCam::AxisCanMove(TKzWebCamProperty P, int Sign) {
  if (Sign == 0) return true;
  TKzWebCamPropertyRange r;
  int32_t v = 0;
  if (PropertyRange(P, r) && ReadProperty(P, v)) return Sign > 0 ? v < r.Max : v > r.Min;
  return CanStepAxis(P);
}

bool TKzCustomWebCam::MoveAxis(TKzWebCamProperty P, int Sign) {
  if (Sign == 0) return true;
  TKzWebCamPropertyRange r;
  int32_t v = 0;
  if (PropertyRange(P, r) && ReadProperty(P, v)) {
    const int64_t to = std::clamp<int64_t>(int64_t(v) + int64_t(Sign) * std::max(1, r.Step), r.Min, r.Max);
    return to == v || WriteProperty(P, static_cast<int32_t>(to));
  }
  return CanStepAxis(P) && StepAxis(P, Sign);
}

bool TKzCustomWebCam::CanMove(TKzCamMovementEx Direction) {
  if (Direction == TKzCamMovementEx::kzdHome)
    return Available(TKzWebCamProperty::kzwcpPan) || Available(TKzWebCamProperty::kzwcpTilt) ||
           CanStepAxis(TKzWebCamProperty::kzwcpPan) || CanStepAxis(TKzWebCamProperty::kzwcpTilt);
  int pan = 0, tilt = 0;
  if (!MoveSteps(Direction, pan, tilt)) return false;
  return AxisCanMove(TKzWebCamProperty::kzwcpPan, pan) && AxisCanMove(TKzWebCamProperty::kzwcpTilt, tilt);
}

bool TKzCustomWebCam::Move(TKzCamMovementEx Direction) {
  using P = TKzWebCamProperty;
  if (Direction == TKzCamMovementEx::kzdHome) {
    bool done = false;
    for (P p : {P::kzwcpPan, P::kzwcpTilt}) {
      TKzWebCamPropertyRange r;
      if (PropertyRange(p, r))
        done |= WriteProperty(p, r.Default);
      else
        done |= ResetAxis(p);
    }
    return done;
  }
  int pan = 0, tilt = 0;
  if (!MoveSteps(Direction, pan, tilt)) return false;
  auto usable = [this](P p, int Sign) { return Sign == 0 || Available(p) || CanStepAxis(p); };
  if (!usable(P::kzwcpPan, pan) || !usable(P::kzwcpTilt, tilt)) return false;
  const bool a = MoveAxis(P::kzwcpPan, pan);
  const bool b = MoveAxis(P::kzwcpTilt, tilt);
  return a && b;
}

}  // namespace kz
