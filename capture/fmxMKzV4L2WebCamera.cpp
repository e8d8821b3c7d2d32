#include "capture/fmxMKzV4L2WebCamera.h"

#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "capture/fmxMKzV4L2Devices.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformV4L2.h"

namespace kz {

namespace {
constexpr uint32_t kBufferCount = 4;
constexpr int kPollMs = 500;
constexpr int kMaxFailedDequeues = 50;  // in a row, before the device counts as lost

// The offered rate nearest at or above Fps, else the highest.
double RateFor(const TKzCamVideoMode& Mode, double Fps) {
  double best = 0;
  for (double r : Mode.FrameRates)
    if (r + 1e-6 >= Fps && (best == 0 || r < best)) best = r;
  return best > 0 ? best : Mode.FrameRate;
}
}  // namespace

TKzWebCam::TKzWebCam(IKzCaptureOwner* Owner) : TKzCustomWebCam(Owner, "TKzWebCam") {
  FOwner->DeviceOperation(TKzDeviceOperation::kzdoInit, false);
  Launch();
  FOwner->DeviceOperation(TKzDeviceOperation::kzdoInit, true);
}

TKzWebCam::~TKzWebCam() {
  Shutdown();  // the command loop stops a running stream on its way out
  DestroyVideoDevice();
}

void TKzWebCam::FillVideoDeviceList() { KzV4L2FillDeviceList(VideoDevices()); }

bool TKzWebCam::SetVideoDevice() {
  DestroyVideoDevice();
  if (FDeviceId.empty()) return false;
  const std::string path = KzV4L2FindNode(FDeviceId);
  if (path.empty()) return false;
  const int fd = KzV4L2().Open(path);
  if (fd < 0) return false;
  FControlFd = fd;
  return true;
}

void TKzWebCam::DestroyVideoDevice() {
  if (FControlFd >= 0) KzV4L2().Close(FControlFd);
  FControlFd = -1;
}

std::string TKzWebCam::DevicePath() const {
  std::lock_guard<std::mutex> l(FPathLock);
  return FPath;
}

// ---- Commands

void TKzWebCam::SetCommand(TKzWebCamInternalCommand Command) {
  {
    std::lock_guard<std::mutex> l(FCommandLock);
    FCommand = Command;
  }
  Wake();
}

void TKzWebCam::RunVideo() {
  if (FRunning) return;
  FOwner->DeviceOperation(TKzDeviceOperation::kzdoOpen, false);
  FRunning = true;
  SetCommand(TKzWebCamInternalCommand::kzwcicStart);
}

void TKzWebCam::StopVideo() {
  if (!FRunning) return;
  FOwner->DeviceOperation(TKzDeviceOperation::kzdoClose, false);
  SetCommand(TKzWebCamInternalCommand::kzwcicStop);
}

void TKzWebCam::DoExecute() {
  while (!Terminated()) {
    Event()->WaitFor(1000);
    if (Terminated()) break;
    // The command is taken under its lock and carried out after it, so that
    // the main thread never waits for device work.
    TKzWebCamInternalCommand command;
    {
      std::lock_guard<std::mutex> l(FCommandLock);
      command = FCommand;
      FCommand = TKzWebCamInternalCommand::kzwcicNone;
    }
    if (command == TKzWebCamInternalCommand::kzwcicStart) {
      PlayVideoStream();
      PostToMain([this] { FOwner->DeviceOperation(TKzDeviceOperation::kzdoOpen, true); });
    } else if (command == TKzWebCamInternalCommand::kzwcicStop) {
      Stop();
      PostToMain([this] { FOwner->DeviceOperation(TKzDeviceOperation::kzdoClose, true); });
    }
  }
  if (FFd >= 0) Stop();
}

void TKzWebCam::PlayVideoStream() {
  if (FFd >= 0) return;
  {
    std::lock_guard<std::mutex> l(FCommandLock);
    FEndStatus = 0;
  }
  std::string id;
  {
    std::lock_guard<std::mutex> l(FModeLock);
    id = FDeviceId;
  }
  if (id.empty()) {
    FOwner->CaptureDebug("Capture device: no device is selected");
    FRunning = false;
    PostToMain([this] {
      FOwner->ClearLastFrame();
      FOwner->DoneVideoStream(1);
    });
    return;
  }
  PostToMain([this] { FOwner->StartVideoStream(); });
  FStart = KzMGetTickCount();
  FPlaying = false;
  std::string error;
  if (!OpenStream(id, error)) {
    FOwner->CaptureDebug("Capture device: " + error);
    CloseStream();
    FRunning = false;
    PostToMain([this] { FOwner->DoneVideoStream(KzWebCamErrorStart); });
    return;
  }
  FStream = new TKzV4L2StreamThread(*this);
  StartThread(FStream);
}

void TKzWebCam::Stop() {
  if (IsStopping()) return;
  FFrameLock.Enter();
  FStopping = true;
  FFrameLock.Leave();
  int32_t status = 0;
  if (FStream) {
    uint64_t one = 1;
    (void)!::write(FWakeFd, &one, sizeof one);
    FStream->Abort();
    FStream->WaitFor();
    delete FStream;
    FStream = nullptr;
  }
  if (FFd >= 0) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int r = KzV4L2().Ioctl(FFd, VIDIOC_STREAMOFF, &type); r < 0) {
      FOwner->CaptureDebug("Capture device: the stream did not stop: " + KzV4L2ErrorText(r));
      status = KzWebCamErrorStop;
    }
  }
  CloseStream();
  {
    std::lock_guard<std::mutex> l(FCommandLock);
    if (FEndStatus) status = FEndStatus;  // the error that ended the stream comes first
    FEndStatus = 0;
  }
  FRunning = false;
  FPlaying = false;
  PostToMain([this, status] {
    FStopping = false;
    FOwner->DoneVideoStream(status);
  });
}

void TKzWebCam::EndWithError(int32_t Status, const std::string& Text) {
  FOwner->CaptureDebug("Capture device: " + Text);
  {
    std::lock_guard<std::mutex> l(FCommandLock);
    if (!FEndStatus) FEndStatus = Status;
    FCommand = TKzWebCamInternalCommand::kzwcicStop;
  }
  Wake();
}

// ---- The device

bool TKzWebCam::OpenStream(const std::string& Id, std::string& Error) {
  IKzV4L2& v = KzV4L2();
  const std::string path = KzV4L2FindNode(Id);
  if (path.empty()) {
    Error = "the device " + Id + " is not connected";
    return false;
  }
  const TKzCamVideoMode mode = GetCamCurrentVideoMode();
  if (mode.Width <= 0) {
    Error = "the device offers no video mode";
    return false;
  }
  FFd = v.Open(path);
  if (FFd < 0) {
    Error = "cannot open " + path + ": " + KzV4L2ErrorText(FFd);
    return false;
  }
  {
    std::lock_guard<std::mutex> l(FPathLock);
    FPath = path;
  }
  // The format is set before any buffer exists.
  v4l2_format f{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  f.fmt.pix.width = static_cast<uint32_t>(mode.Width);
  f.fmt.pix.height = static_cast<uint32_t>(mode.Height);
  f.fmt.pix.pixelformat = mode.PixelFormat;
  f.fmt.pix.field = V4L2_FIELD_NONE;
  if (const int r = v.Ioctl(FFd, VIDIOC_S_FMT, &f); r < 0) {
    Error = "the format " + mode.VideoFormat + " was refused: " + KzV4L2ErrorText(r);
    return false;
  }
  FPixelFormat = f.fmt.pix.pixelformat;
  FWidth = static_cast<int32_t>(f.fmt.pix.width);
  FHeight = static_cast<int32_t>(f.fmt.pix.height);
  FBytesPerLine = f.fmt.pix.bytesperline;
  FVideoWidth = FWidth;
  FVideoHeight = FHeight;
  if (const double rate = RateFor(mode, FramePerSec()); rate > 0) {
    v4l2_streamparm p{};
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    p.parm.capture.timeperframe = {1000, static_cast<uint32_t>(std::lround(rate * 1000))};
    v.Ioctl(FFd, VIDIOC_S_PARM, &p);  // a device without rate control keeps its own
  }
  v4l2_requestbuffers rb{};
  rb.count = kBufferCount;
  rb.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  rb.memory = V4L2_MEMORY_MMAP;
  if (const int r = v.Ioctl(FFd, VIDIOC_REQBUFS, &rb); r < 0 || rb.count == 0) {
    Error = "no capture buffers: " + KzV4L2ErrorText(r < 0 ? r : -ENOMEM);
    return false;
  }
  for (uint32_t i = 0; i < rb.count; ++i) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = i;
    if (const int r = v.Ioctl(FFd, VIDIOC_QUERYBUF, &b); r < 0) {
      Error = "buffer " + std::to_string(i) + ": " + KzV4L2ErrorText(r);
      return false;
    }
    void* addr = v.Mmap(FFd, b.length, b.m.offset);
    if (!addr) {
      Error = "buffer " + std::to_string(i) + " cannot be mapped";
      return false;
    }
    FBuffers.push_back({addr, b.length});
    if (const int r = v.Ioctl(FFd, VIDIOC_QBUF, &b); r < 0) {
      Error = "buffer " + std::to_string(i) + " cannot be queued: " + KzV4L2ErrorText(r);
      return false;
    }
  }
  FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FWakeFd < 0) {
    Error = "no wake descriptor";
    return false;
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (const int r = v.Ioctl(FFd, VIDIOC_STREAMON, &type); r < 0) {
    Error = "the stream did not start: " + KzV4L2ErrorText(r);
    return false;
  }
  return true;
}

void TKzWebCam::CloseStream() {
  IKzV4L2& v = KzV4L2();
  for (const TBuffer& b : FBuffers) v.Munmap(b.Addr, b.Length);
  FBuffers.clear();
  if (FFd >= 0) {
    v4l2_requestbuffers rb{};
    rb.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    rb.memory = V4L2_MEMORY_MMAP;
    v.Ioctl(FFd, VIDIOC_REQBUFS, &rb);  // count 0 frees them
    v.Close(FFd);
  }
  FFd = -1;
  if (FWakeFd >= 0) ::close(FWakeFd);
  FWakeFd = -1;
  std::lock_guard<std::mutex> l(FPathLock);
  FPath.clear();
}

void TKzWebCam::StreamLoop(TKzV4L2StreamThread& Thread) {
  IKzV4L2& v = KzV4L2();
  int failed = 0;
  while (!Thread.Terminated()) {
    const int ready = v.Poll(FFd, FWakeFd, kPollMs);
    if (Thread.Terminated() || (ready > 0 && (ready & KzV4L2PollWake))) break;
    if (ready <= 0) continue;  // a stalled device: keep waiting until stopped
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    const int r = v.Ioctl(FFd, VIDIOC_DQBUF, &b);
    if (r == -EAGAIN) continue;
    if (r == -ENODEV || (r < 0 && ++failed >= kMaxFailedDequeues)) {
      EndWithError(KzWebCamErrorStart, "the device was lost while streaming: " + KzV4L2ErrorText(r));
      return;
    }
    if (r < 0) continue;
    failed = 0;
    if (b.index < FBuffers.size()) HandleFrame(b.index, std::min<uint32_t>(b.bytesused, FBuffers[b.index].Length));
    v.Ioctl(FFd, VIDIOC_QBUF, &b);
  }
}

void TKzWebCam::HandleFrame(uint32_t Index, uint32_t BytesUsed) {
  if (IsStopping() || !FFrameLock.TryEnter()) {
    FDropped.fetch_add(1, std::memory_order_acq_rel);
    return;
  }
  TKzCaptureFrame frame;
  frame.PixelFormat = FPixelFormat;
  frame.Width = FWidth;
  frame.Height = FHeight;
  frame.BytesPerLine = FBytesPerLine;
  frame.Data = static_cast<const uint8_t*>(FBuffers[Index].Addr);
  frame.BytesUsed = BytesUsed;
  std::string error;
  if (KzConvertCaptureFrame(frame, GetFlipHorizontally(), GetFlipVertically(), FBitmap, FScratch, error)) {
    FLastFrameError.clear();
    DeliverFrame(FBitmap);
  } else if (error != FLastFrameError) {
    FLastFrameError = error;  // told once per kind of bad frame
    FOwner->CaptureDebug("Capture device: frame dropped: " + error);
  }
  FFrameLock.Leave();
}

// ---- Controls

bool TKzWebCam::QueryControl(uint32_t Id, TKzWebCamPropertyRange& Range) {
  if (FControlFd < 0 || Id == 0) return false;
  v4l2_queryctrl q{};
  q.id = Id;
  if (KzV4L2().Ioctl(FControlFd, VIDIOC_QUERYCTRL, &q) < 0 || (q.flags & V4L2_CTRL_FLAG_DISABLED)) return false;
  Range.Min = q.minimum, Range.Max = q.maximum, Range.Step = std::max(1, q.step), Range.Default = q.default_value;
  return true;
}

bool TKzWebCam::SetControl(uint32_t Id, int32_t Value) {
  if (FControlFd < 0 || Id == 0) return false;
  v4l2_control c{Id, Value};
  return KzV4L2().Ioctl(FControlFd, VIDIOC_S_CTRL, &c) == 0;
}

bool TKzWebCam::PropertyRange(TKzWebCamProperty P, TKzWebCamPropertyRange& Range) {
  const TKzV4L2PropertyControls& c = KzV4L2Controls(P);
  if (!QueryControl(c.Value, Range)) return false;
  TKzWebCamPropertyRange a;
  Range.HasAuto = QueryControl(c.Auto, a);
  return true;
}

bool TKzWebCam::ReadProperty(TKzWebCamProperty P, int32_t& Value) {
  const uint32_t id = KzV4L2Controls(P).Value;
  if (FControlFd < 0 || id == 0) return false;
  v4l2_control c{id, 0};
  if (KzV4L2().Ioctl(FControlFd, VIDIOC_G_CTRL, &c) < 0) return false;
  Value = c.value;
  return true;
}

bool TKzWebCam::WriteProperty(TKzWebCamProperty P, int32_t Value) { return SetControl(KzV4L2Controls(P).Value, Value); }

bool TKzWebCam::ReadAuto(TKzWebCamProperty P, bool& Auto) {
  const TKzV4L2PropertyControls& ctl = KzV4L2Controls(P);
  if (FControlFd < 0 || ctl.Auto == 0) return false;
  v4l2_control c{ctl.Auto, 0};
  if (KzV4L2().Ioctl(FControlFd, VIDIOC_G_CTRL, &c) < 0) return false;
  Auto = c.value != ctl.AutoOff;
  return true;
}

bool TKzWebCam::WriteAuto(TKzWebCamProperty P, bool Auto) {
  const TKzV4L2PropertyControls& c = KzV4L2Controls(P);
  return SetControl(c.Auto, Auto ? c.AutoOn : c.AutoOff);
}

bool TKzWebCam::CanStepAxis(TKzWebCamProperty P) {
  TKzWebCamPropertyRange r;
  return QueryControl(KzV4L2Controls(P).Relative, r);
}

bool TKzWebCam::StepAxis(TKzWebCamProperty P, int Sign) {
  TKzWebCamPropertyRange r;
  const uint32_t id = KzV4L2Controls(P).Relative;
  return QueryControl(id, r) && SetControl(id, Sign * r.Step);
}

bool TKzWebCam::ResetAxis(TKzWebCamProperty P) {
  TKzWebCamPropertyRange r;
  const uint32_t id = KzV4L2Controls(P).Reset;
  return QueryControl(id, r) && SetControl(id, 1);
}

}  // namespace kz
