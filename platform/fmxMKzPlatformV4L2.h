// Access to V4L2 capture devices behind a small ioctl-shaped interface, so
// that the capture code runs unchanged on the kernel and on a fake device
// that speaks the same structures and error codes (<linux/videodev2.h>).
// Every call returns 0 (or a descriptor, or a readiness mask) on success and
// a negative errno on failure; nothing throws.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

// One device node and the stable name it is known by.
struct TKzV4L2Node {
  std::string Path;  // /dev/videoN
  std::string ById;  // the name of its /dev/v4l/by-id link, empty when there is none
};

// Readiness bits of IKzV4L2::Poll.
constexpr int KzV4L2PollDevice = 1;  // a buffer can be dequeued (or the device reports an error)
constexpr int KzV4L2PollWake = 2;    // the wake descriptor was signalled

class IKzV4L2 {
public:
  virtual ~IKzV4L2() = default;
  // Opens a node for reading and writing, non-blocking. Any thread, never blocks.
  virtual int Open(const std::string& Path) = 0;
  virtual int Close(int Fd) = 0;
  // One ioctl of <linux/videodev2.h>; interrupted calls are repeated.
  // Any thread; never blocks (descriptors are non-blocking).
  virtual int Ioctl(int Fd, unsigned long Request, void* Arg) = 0;
  // Maps a buffer that VIDIOC_QUERYBUF described; nullptr on failure.
  virtual void* Mmap(int Fd, size_t Length, off_t Offset) = 0;
  virtual int Munmap(void* Addr, size_t Length) = 0;
  // Waits up to TimeoutMs for the device or the wake descriptor (an
  // eventfd, -1 for none); returns a mask of KzV4L2Poll* bits, 0 on time-out.
  // The calling worker; blocks up to TimeoutMs.
  virtual int Poll(int Fd, int WakeFd, int TimeoutMs) = 0;
  // The video nodes in name order with their by-id names. Any thread.
  virtual std::vector<TKzV4L2Node> Nodes() = 0;
};

// The backend in use: the kernel's unless a test installed another.
IKzV4L2& KzV4L2();
// Installs Backend (not owned; nullptr goes back to the kernel's). Call it
// while no device is open. Any thread.
void KzSetV4L2(IKzV4L2* Backend);

// poll(2) on a device descriptor and a wake descriptor, as IKzV4L2::Poll
// answers. The calling worker; blocks up to TimeoutMs.
int KzV4L2PollWithWake(int Fd, int WakeFd, int TimeoutMs);

// The text of a negative errno result ("Device or resource busy").
std::string KzV4L2ErrorText(int Result);
// A four-character code as text ("YUYV").
std::string KzFourCCText(uint32_t FourCC);

}  // namespace kz
