#include "foundation/fmxMKzVideoDevices.h"

#include "foundation/fmxMKzErrors.h"

namespace kz {

TKzMVideoDevice::TKzMVideoDevice(std::string Name, std::string Id)
    : DeviceName(std::move(Name)), DeviceId(std::move(Id)) {
  DeviceCurVideoMode.Width = -1;
  DeviceCurVideoMode.Height = -1;
  DeviceCurVideoMode.ColorModel = TKzColorModel::kzcmOther;
}

TKzCamVideoMode TKzMVideoDevice::GetVideoModeList(int i) const {
  if (i < 0 || i >= GetVideoModeCount()) throw EKzMediaError("Video mode index out of range");
  return FVideoModeList[static_cast<size_t>(i)];
}

int TKzMVideoDevice::FindMostAppropriateVideoMode(int32_t Width, int32_t Height) const {
  const int64_t want = static_cast<int64_t>(Width) * Height;
  auto areaDiff = [want](const TKzCamVideoMode& m) {
    const int64_t d = static_cast<int64_t>(m.Width) * m.Height - want;
    return d < 0 ? -d : d;
  };
  int fitting = -1, overall = -1;
  int64_t fittingDiff = 0, overallDiff = 0;
  for (int i = 0; i < GetVideoModeCount(); ++i) {
    const TKzCamVideoMode& m = FVideoModeList[static_cast<size_t>(i)];
    if (m.Width == Width && m.Height == Height) return i;
    const int64_t d = areaDiff(m);
    if (m.Width <= Width && m.Height <= Height && (fitting < 0 || d < fittingDiff)) {
      fitting = i;
      fittingDiff = d;
    }
    if (overall < 0 || d < overallDiff) {
      overall = i;
      overallDiff = d;
    }
  }
  return fitting >= 0 ? fitting : overall;
}

TKzMVideoDevice* TKzMVideoDeviceList::FindVideoDevice(const std::string& Name, const std::string& Id) const {
  for (const auto& d : FVideoDeviceList)
    if (d->DeviceName == Name && d->DeviceId == Id) return d.get();
  return nullptr;
}

TKzMVideoDevice* TKzMVideoDeviceList::AddVideoDevice(const std::string& Name, const std::string& Id) {
  if (TKzMVideoDevice* d = FindVideoDevice(Name, Id)) return d;
  FVideoDeviceList.push_back(std::make_unique<TKzMVideoDevice>(Name, Id));
  return FVideoDeviceList.back().get();
}

TKzMVideoDevice* TKzMVideoDeviceList::GetVideoDeviceList(int i) const {
  if (i < 0 || i >= GetVideoDeviceCount()) return nullptr;
  return FVideoDeviceList[static_cast<size_t>(i)].get();
}

TKzMVideoDeviceList& VideoDevices() {
  static TKzMVideoDeviceList list;
  return list;
}

}  // namespace kz
