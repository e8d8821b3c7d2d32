// The capture-device list that the local capture component fills and
// components publish: devices, their video modes, and the best-mode choice.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

enum class TKzColorModel : uint8_t { kzcmARGB = 0, kzcmRGB = 1, kzcmYV = 2, kzcmOther = 3 };

struct TKzCamVideoMode {
  int32_t Index = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t ColorDepth = 0;
  TKzColorModel ColorModel = TKzColorModel::kzcmARGB;
  std::string VideoFormat;
  TGUID majortype;
  TGUID subtype;
  TGUID formattype;
  uint32_t PixelFormat = 0;         // the capture format's four-character code
  double FrameRate = 0;             // the highest rate offered
  std::vector<double> FrameRates;   // every rate offered, highest first
};

class TKzMVideoDevice {
public:
  TKzMVideoDevice(std::string Name, std::string Id);
  std::string DeviceName;
  std::string DeviceId;
  TKzCamVideoMode DeviceCurVideoMode;

  void AddVideoMode(const TKzCamVideoMode& Mode) { FVideoModeList.push_back(Mode); }
  int GetVideoModeCount() const { return static_cast<int>(FVideoModeList.size()); }
  // A copy of mode i; out of range raises EKzMediaError.
  TKzCamVideoMode GetVideoModeList(int i) const;
  // Exact size, else the fitting mode nearest in area, else the nearest in
  // area overall (first wins on ties); -1 without modes.
  int FindMostAppropriateVideoMode(int32_t Width, int32_t Height) const;

private:
  std::vector<TKzCamVideoMode> FVideoModeList;
};

// Not thread-safe: filled and read on the main thread.
class TKzMVideoDeviceList {
public:
  // Adds a device unless one with the same name and id exists; returns it.
  TKzMVideoDevice* AddVideoDevice(const std::string& Name, const std::string& Id);
  TKzMVideoDevice* FindVideoDevice(const std::string& Name, const std::string& Id) const;
  int GetVideoDeviceCount() const { return static_cast<int>(FVideoDeviceList.size()); }
  TKzMVideoDevice* GetVideoDeviceList(int i) const;
  void Clear() { FVideoDeviceList.clear(); }

private:
  std::vector<std::unique_ptr<TKzMVideoDevice>> FVideoDeviceList;
};

// The process-wide list.
TKzMVideoDeviceList& VideoDevices();

}  // namespace kz
