// A V4L2 backend with devices made of data, for the programs' tests and
// demonstrations on machines without a camera. It answers the ioctls the
// library uses with the kernel's structures and error codes (EINVAL at the
// end of an enumeration or for an unknown control, EBUSY for a format change
// while buffers exist, EAGAIN when no frame is due, ENODEV once a device is
// "unplugged"), maps its buffers, and paces frames with a timer descriptor,
// so that poll(2) works on its descriptors as on the kernel's.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fmxMKzPlatformV4L2.h"

namespace kz {

struct TKzFakeV4L2Format {
  uint32_t PixelFormat = 0;
  std::string Description;
  bool Compressed = false;
  std::vector<std::pair<uint32_t, uint32_t>> Sizes;  // discrete sizes
  // A stepwise range instead of Sizes when StepW > 0.
  uint32_t MinW = 0, MaxW = 0, StepW = 0, MinH = 0, MaxH = 0, StepH = 0;
  std::vector<uint32_t> Rates;  // frames per second, each offered at every size
  uint32_t SlowAbove = 0;       // sizes of more pixels offer only the lowest rate (0: none)
};

struct TKzFakeV4L2Control {
  uint32_t Id = 0;
  std::string Name;
  uint32_t Type = 1;  // V4L2_CTRL_TYPE_*
  int32_t Minimum = 0, Maximum = 0, Step = 1, Default = 0;
  int32_t Value = 0;
};

struct TKzFakeV4L2Device {
  std::string Path, ById, Card, BusInfo;
  uint32_t DeviceCaps = 0;  // V4L2_CAP_*
  std::vector<TKzFakeV4L2Format> Formats;
  std::vector<TKzFakeV4L2Control> Controls;
  // The bytes of every frame, by pixel format; served as they are, so bytes
  // shorter than the frame make short frames. A format without bytes serves
  // mid-grey of the frame's size (Motion-JPEG: a small grey picture).
  std::map<uint32_t, std::vector<uint8_t>> Frames;
  // Failures to inject (negative errno; 0 = none).
  int StreamOnError = 0;
  int StreamOffError = 0;
  int64_t LoseAfterFrames = -1;  // unplugged (ENODEV) after this many frames
  bool Stall = false;            // streams, but never delivers a frame
};

class TKzFakeV4L2 : public IKzV4L2 {
public:
  // One call that changes the device, as recorded.
  struct TCall {
    std::string Path;
    std::string What;  // "open", "close", "S_FMT YUYV 640x360", "S_PARM 30", "STREAMON", "STREAMOFF", "S_CTRL id=value"
    std::thread::id Thread;
  };

  TKzFakeV4L2();
  ~TKzFakeV4L2() override;
  // Adds a device (before it is opened). Any thread.
  void Add(TKzFakeV4L2Device Device);
  // Runs Change on the device under the fake's lock. Any thread.
  void Change(const std::string& Path, const std::function<void(TKzFakeV4L2Device&)>& Change);
  std::vector<TCall> Calls() const;
  int32_t ControlValue(const std::string& Path, uint32_t Id) const;
  int64_t FramesServed(const std::string& Path) const;
  int OpenCount() const;

  int Open(const std::string& Path) override;
  int Close(int Fd) override;
  int Ioctl(int Fd, unsigned long Request, void* Arg) override;
  void* Mmap(int Fd, size_t Length, off_t Offset) override;
  int Munmap(void* Addr, size_t Length) override;
  int Poll(int Fd, int WakeFd, int TimeoutMs) override;
  std::vector<TKzV4L2Node> Nodes() override;

private:
  struct TOpen;
  TKzFakeV4L2Device* FindDevice(const std::string& Path);
  const TKzFakeV4L2Device* FindDevice(const std::string& Path) const;
  void Record(const std::string& Path, std::string What);
  int DoIoctl(TOpen& O, TKzFakeV4L2Device& D, unsigned long Request, void* Arg);
  int Enumerate(TKzFakeV4L2Device& D, unsigned long Request, void* Arg);
  int Control(TKzFakeV4L2Device& D, unsigned long Request, void* Arg);
  int Stream(TOpen& O, TKzFakeV4L2Device& D, unsigned long Request, void* Arg);
  int Buffers(TOpen& O, TKzFakeV4L2Device& D, unsigned long Request, void* Arg);

  mutable std::mutex FLock;  // guards everything below
  std::vector<TKzFakeV4L2Device> FDevices;
  std::map<int, std::unique_ptr<TOpen>> FOpen;
  std::vector<TCall> FCalls;
  std::map<std::string, int64_t> FServed;
};

// The devices of the demonstrations and tests: a pan/tilt webcam with every
// control and format (/dev/video0), a fixed webcam with a stepwise range
// (/dev/video1), and the same webcam's metadata node (/dev/video2) and an
// output node (/dev/video3).
TKzFakeV4L2Device KzFakePanTiltWebCam();
TKzFakeV4L2Device KzFakeFixedWebCam();
TKzFakeV4L2Device KzFakeMetadataNode();
TKzFakeV4L2Device KzFakeOutputNode();

}  // namespace kz
