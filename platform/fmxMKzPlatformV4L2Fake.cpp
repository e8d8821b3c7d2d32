#include "platform/fmxMKzPlatformV4L2Fake.h"

#include <linux/videodev2.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kz {

namespace {
constexpr size_t kBufferAlign = 1 << 24;  // mmap offsets: buffer i at i * 16 MiB
constexpr uint32_t kMaxBuffers = 8;

// What a Motion-JPEG format serves without frame bytes: a 16 x 16 mid-grey
// picture without Huffman tables, as many cameras send their frames.
const uint8_t kGreyJpeg[] = {
    0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x10, 0x0B, 0x0C, 0x0E, 0x0C, 0x0A, 0x10, 0x0E, 0x0D, 0x0E, 0x12,
    0x11, 0x10, 0x13, 0x18, 0x28, 0x1A, 0x18, 0x16, 0x16, 0x18, 0x31, 0x23, 0x25, 0x1D, 0x28, 0x3A, 0x33, 0x3D,
    0x3C, 0x39, 0x33, 0x38, 0x37, 0x40, 0x48, 0x5C, 0x4E, 0x40, 0x44, 0x57, 0x45, 0x37, 0x38, 0x50, 0x6D, 0x51,
    0x57, 0x5F, 0x62, 0x67, 0x68, 0x67, 0x3E, 0x4D, 0x71, 0x79, 0x70, 0x64, 0x78, 0x5C, 0x65, 0x67, 0x63, 0xFF,
    0xDB, 0x00, 0x43, 0x01, 0x11, 0x12, 0x12, 0x18, 0x15, 0x18, 0x2F, 0x1A, 0x1A, 0x2F, 0x63, 0x42, 0x38, 0x42,
    0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63,
    0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63,
    0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0xFF, 0xC0, 0x00, 0x11,
    0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xDA, 0x00,
    0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00, 0x28, 0xA2, 0x8A, 0x00, 0xFF, 0xD9
};

void CopyText(uint8_t* Dest, size_t Size, const std::string& Text) {
  std::memset(Dest, 0, Size);
  std::memcpy(Dest, Text.data(), std::min(Size - 1, Text.size()));
}

uint32_t FrameBytes(uint32_t Fourcc, uint32_t W, uint32_t H, uint32_t* BytesPerLine) {
  struct TLayout {
    uint32_t Fourcc;
    uint32_t LineNum, LineDen;    // bytes per line = W * LineNum / LineDen
    uint32_t ImageNum, ImageDen;  // image = W * H * ImageNum / ImageDen
  };
  static const TLayout kLayouts[] = {
      {V4L2_PIX_FMT_YUYV, 2, 1, 2, 1},   {V4L2_PIX_FMT_UYVY, 2, 1, 2, 1},   {V4L2_PIX_FMT_YVYU, 2, 1, 2, 1},
      {V4L2_PIX_FMT_NV12, 1, 1, 3, 2},   {V4L2_PIX_FMT_YUV420, 1, 1, 3, 2}, {V4L2_PIX_FMT_YVU420, 1, 1, 3, 2},
      {V4L2_PIX_FMT_RGB24, 3, 1, 3, 1},  {V4L2_PIX_FMT_BGR24, 3, 1, 3, 1},  {V4L2_PIX_FMT_XRGB32, 4, 1, 4, 1},
      {V4L2_PIX_FMT_XBGR32, 4, 1, 4, 1}, {V4L2_PIX_FMT_MJPEG, 0, 1, 2, 1},
  };
  for (const TLayout& l : kLayouts)
    if (l.Fourcc == Fourcc) {
      *BytesPerLine = W * l.LineNum / l.LineDen;
      return static_cast<uint32_t>(uint64_t(W) * H * l.ImageNum / l.ImageDen);
    }
  *BytesPerLine = W * 2;
  return W * H * 2;
}
}  // namespace

struct TKzFakeV4L2::TOpen {
  std::string Path;
  int TimerFd = -1;  // the descriptor handed out: readable when a frame is due
  uint32_t Fourcc = 0, Width = 0, Height = 0, BytesPerLine = 0, SizeImage = 0;
  uint32_t Rate = 0;
  bool Streaming = false;
  struct TBuffer {
    std::vector<uint8_t> Bytes;
    bool Queued = false;
    bool Mapped = false;
  };
  std::vector<TBuffer> Buffers;
  uint32_t Sequence = 0;
};

TKzFakeV4L2::TKzFakeV4L2() = default;

TKzFakeV4L2::~TKzFakeV4L2() {
  for (auto& [fd, o] : FOpen) ::close(o->TimerFd);
}

void TKzFakeV4L2::Add(TKzFakeV4L2Device Device) {
  std::lock_guard<std::mutex> l(FLock);
  FDevices.push_back(std::move(Device));
}

void TKzFakeV4L2::Change(const std::string& Path, const std::function<void(TKzFakeV4L2Device&)>& Change) {
  std::lock_guard<std::mutex> l(FLock);
  if (TKzFakeV4L2Device* d = FindDevice(Path)) Change(*d);
}

std::vector<TKzFakeV4L2::TCall> TKzFakeV4L2::Calls() const {
  std::lock_guard<std::mutex> l(FLock);
  return FCalls;
}

int32_t TKzFakeV4L2::ControlValue(const std::string& Path, uint32_t Id) const {
  std::lock_guard<std::mutex> l(FLock);
  if (const TKzFakeV4L2Device* d = FindDevice(Path))
    for (const TKzFakeV4L2Control& c : d->Controls)
      if (c.Id == Id) return c.Value;
  return 0;
}

int64_t TKzFakeV4L2::FramesServed(const std::string& Path) const {
  std::lock_guard<std::mutex> l(FLock);
  auto it = FServed.find(Path);
  return it == FServed.end() ? 0 : it->second;
}

int TKzFakeV4L2::OpenCount() const {
  std::lock_guard<std::mutex> l(FLock);
  return static_cast<int>(FOpen.size());
}

TKzFakeV4L2Device* TKzFakeV4L2::FindDevice(const std::string& Path) {
  for (TKzFakeV4L2Device& d : FDevices)
    if (d.Path == Path) return &d;
  return nullptr;
}

const TKzFakeV4L2Device* TKzFakeV4L2::FindDevice(const std::string& Path) const {
  for (const TKzFakeV4L2Device& d : FDevices)
    if (d.Path == Path) return &d;
  return nullptr;
}

void TKzFakeV4L2::Record(const std::string& Path, std::string What) {
  FCalls.push_back({Path, std::move(What), std::this_thread::get_id()});
}

std::vector<TKzV4L2Node> TKzFakeV4L2::Nodes() {
  std::lock_guard<std::mutex> l(FLock);
  std::vector<TKzV4L2Node> nodes;
  for (const TKzFakeV4L2Device& d : FDevices) nodes.push_back({d.Path, d.ById});
  return nodes;
}

int TKzFakeV4L2::Open(const std::string& Path) {
  std::lock_guard<std::mutex> l(FLock);
  TKzFakeV4L2Device* d = FindDevice(Path);
  if (!d) return -ENOENT;
  const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) return -errno;
  auto o = std::make_unique<TOpen>();
  o->Path = Path;
  o->TimerFd = fd;
  if (!d->Formats.empty()) {
    const TKzFakeV4L2Format& f = d->Formats.front();
    o->Fourcc = f.PixelFormat;
    o->Width = f.StepW ? f.MaxW : f.Sizes.empty() ? 0 : f.Sizes.front().first;
    o->Height = f.StepW ? f.MaxH : f.Sizes.empty() ? 0 : f.Sizes.front().second;
    o->SizeImage = FrameBytes(o->Fourcc, o->Width, o->Height, &o->BytesPerLine);
    o->Rate = f.Rates.empty() ? 30 : f.Rates.front();
  }
  FOpen[fd] = std::move(o);
  Record(Path, "open");
  return fd;
}

int TKzFakeV4L2::Close(int Fd) {
  std::lock_guard<std::mutex> l(FLock);
  auto it = FOpen.find(Fd);
  if (it == FOpen.end()) return -EBADF;
  Record(it->second->Path, "close");
  ::close(Fd);
  FOpen.erase(it);
  return 0;
}

int TKzFakeV4L2::Poll(int Fd, int WakeFd, int TimeoutMs) { return KzV4L2PollWithWake(Fd, WakeFd, TimeoutMs); }

void* TKzFakeV4L2::Mmap(int Fd, size_t Length, off_t Offset) {
  std::lock_guard<std::mutex> l(FLock);
  auto it = FOpen.find(Fd);
  if (it == FOpen.end() || Offset < 0 || Offset % kBufferAlign != 0) return nullptr;
  const size_t i = static_cast<size_t>(Offset) / kBufferAlign;
  if (i >= it->second->Buffers.size() || Length > it->second->Buffers[i].Bytes.size()) return nullptr;
  it->second->Buffers[i].Mapped = true;
  return it->second->Buffers[i].Bytes.data();
}

int TKzFakeV4L2::Munmap(void* Addr, size_t) {
  std::lock_guard<std::mutex> l(FLock);
  for (auto& [fd, o] : FOpen)
    for (TOpen::TBuffer& b : o->Buffers)
      if (b.Bytes.data() == Addr) b.Mapped = false;
  return 0;  // buffers of a closed descriptor are already gone
}

int TKzFakeV4L2::Ioctl(int Fd, unsigned long Request, void* Arg) {
  std::lock_guard<std::mutex> l(FLock);
  auto it = FOpen.find(Fd);
  if (it == FOpen.end()) return -EBADF;
  TKzFakeV4L2Device* d = FindDevice(it->second->Path);
  if (!d) return -ENODEV;
  return DoIoctl(*it->second, *d, Request, Arg);
}

int TKzFakeV4L2::DoIoctl(TOpen& O, TKzFakeV4L2Device& D, unsigned long Request, void* Arg) {
  const bool capture = (D.DeviceCaps & V4L2_CAP_VIDEO_CAPTURE) != 0;
  switch (Request) {
    case VIDIOC_QUERYCAP: {
      auto* c = static_cast<v4l2_capability*>(Arg);
      std::memset(c, 0, sizeof *c);
      CopyText(c->driver, sizeof c->driver, "kzfake");
      CopyText(c->card, sizeof c->card, D.Card);
      CopyText(c->bus_info, sizeof c->bus_info, D.BusInfo);
      c->version = 0x060100;
      c->device_caps = D.DeviceCaps;
      c->capabilities = D.DeviceCaps | V4L2_CAP_DEVICE_CAPS;
      return 0;
    }
    case VIDIOC_ENUM_FMT:
    case VIDIOC_ENUM_FRAMESIZES:
    case VIDIOC_ENUM_FRAMEINTERVALS:
      return capture ? Enumerate(D, Request, Arg) : -EINVAL;
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT: {
      auto* f = static_cast<v4l2_format*>(Arg);
      if (!capture || f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
      if (Request == VIDIOC_S_FMT) {
        if (!O.Buffers.empty()) return -EBUSY;
        // Like a driver: an unknown format becomes the first, a size the nearest offered.
        const TKzFakeV4L2Format* fmt = &D.Formats.front();
        for (const TKzFakeV4L2Format& c : D.Formats)
          if (c.PixelFormat == f->fmt.pix.pixelformat) fmt = &c;
        uint32_t w = f->fmt.pix.width, h = f->fmt.pix.height;
        if (fmt->StepW) {
          w = std::clamp(w, fmt->MinW, fmt->MaxW);
          h = std::clamp(h, fmt->MinH, fmt->MaxH);
        } else {
          int64_t best = -1;
          for (auto [sw, sh] : fmt->Sizes) {
            const int64_t dist = std::llabs(int64_t(sw) - w) + std::llabs(int64_t(sh) - h);
            if (best < 0 || dist < best) best = dist, O.Width = sw, O.Height = sh;
          }
          w = O.Width, h = O.Height;
        }
        O.Fourcc = fmt->PixelFormat, O.Width = w, O.Height = h;
        O.SizeImage = FrameBytes(O.Fourcc, w, h, &O.BytesPerLine);
        Record(O.Path, "S_FMT " + KzFourCCText(O.Fourcc) + " " + std::to_string(w) + "x" + std::to_string(h));
      }
      std::memset(&f->fmt.pix, 0, sizeof f->fmt.pix);
      f->fmt.pix.width = O.Width;
      f->fmt.pix.height = O.Height;
      f->fmt.pix.pixelformat = O.Fourcc;
      f->fmt.pix.field = V4L2_FIELD_NONE;
      f->fmt.pix.bytesperline = O.BytesPerLine;
      f->fmt.pix.sizeimage = O.SizeImage;
      f->fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
      return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
      auto* p = static_cast<v4l2_streamparm*>(Arg);
      if (!capture || p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
      if (Request == VIDIOC_S_PARM && p->parm.capture.timeperframe.numerator > 0) {
        const double want =
            double(p->parm.capture.timeperframe.denominator) / p->parm.capture.timeperframe.numerator;
        for (const TKzFakeV4L2Format& f : D.Formats)
          if (f.PixelFormat == O.Fourcc && !f.Rates.empty()) {
            uint32_t best = f.Rates.front();
            for (uint32_t r : f.Rates)
              if (std::abs(r - want) < std::abs(best - want)) best = r;
            O.Rate = best;
          }
        Record(O.Path, "S_PARM " + std::to_string(O.Rate));
      }
      std::memset(&p->parm, 0, sizeof p->parm);
      p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
      p->parm.capture.timeperframe = {1, O.Rate};
      return 0;
    }
    case VIDIOC_QUERYCTRL:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
      return Control(D, Request, Arg);
    case VIDIOC_REQBUFS:
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
      return capture ? Buffers(O, D, Request, Arg) : -EINVAL;
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
      return capture ? Stream(O, D, Request, Arg) : -EINVAL;
    default:
      return -ENOTTY;
  }
}

int TKzFakeV4L2::Enumerate(TKzFakeV4L2Device& D, unsigned long Request, void* Arg) {
  auto findFormat = [&D](uint32_t Fourcc) -> const TKzFakeV4L2Format* {
    for (const TKzFakeV4L2Format& f : D.Formats)
      if (f.PixelFormat == Fourcc) return &f;
    return nullptr;
  };
  if (Request == VIDIOC_ENUM_FMT) {
    auto* e = static_cast<v4l2_fmtdesc*>(Arg);
    if (e->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || e->index >= D.Formats.size()) return -EINVAL;
    const TKzFakeV4L2Format& f = D.Formats[e->index];
    e->flags = f.Compressed ? V4L2_FMT_FLAG_COMPRESSED : 0;
    e->pixelformat = f.PixelFormat;
    CopyText(e->description, sizeof e->description, f.Description);
    return 0;
  }
  if (Request == VIDIOC_ENUM_FRAMESIZES) {
    auto* e = static_cast<v4l2_frmsizeenum*>(Arg);
    const TKzFakeV4L2Format* f = findFormat(e->pixel_format);
    if (!f) return -EINVAL;
    if (f->StepW) {
      if (e->index > 0) return -EINVAL;
      e->type = V4L2_FRMSIZE_TYPE_STEPWISE;
      e->stepwise = {f->MinW, f->MaxW, f->StepW, f->MinH, f->MaxH, f->StepH};
      return 0;
    }
    if (e->index >= f->Sizes.size()) return -EINVAL;
    e->type = V4L2_FRMSIZE_TYPE_DISCRETE;
    e->discrete = {f->Sizes[e->index].first, f->Sizes[e->index].second};
    return 0;
  }
  auto* e = static_cast<v4l2_frmivalenum*>(Arg);
  const TKzFakeV4L2Format* f = findFormat(e->pixel_format);
  if (!f || f->Rates.empty()) return -EINVAL;
  const bool slow = f->SlowAbove && uint64_t(e->width) * e->height > f->SlowAbove;
  if (e->index >= (slow ? 1 : f->Rates.size())) return -EINVAL;
  e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
  e->discrete = {1, slow ? *std::min_element(f->Rates.begin(), f->Rates.end()) : f->Rates[e->index]};
  return 0;
}

int TKzFakeV4L2::Control(TKzFakeV4L2Device& D, unsigned long Request, void* Arg) {
  const uint32_t id = Request == VIDIOC_QUERYCTRL ? static_cast<v4l2_queryctrl*>(Arg)->id
                                                  : static_cast<v4l2_control*>(Arg)->id;
  auto it = std::find_if(D.Controls.begin(), D.Controls.end(), [id](const TKzFakeV4L2Control& c) { return c.Id == id; });
  if (it == D.Controls.end()) return -EINVAL;
  if (Request == VIDIOC_QUERYCTRL) {
    auto* q = static_cast<v4l2_queryctrl*>(Arg);
    std::memset(q, 0, sizeof *q);
    q->id = it->Id;
    q->type = it->Type;
    CopyText(q->name, sizeof q->name, it->Name);
    q->minimum = it->Minimum, q->maximum = it->Maximum, q->step = it->Step, q->default_value = it->Default;
    if (it->Type == V4L2_CTRL_TYPE_BUTTON) q->flags = V4L2_CTRL_FLAG_WRITE_ONLY;
    return 0;
  }
  auto* c = static_cast<v4l2_control*>(Arg);
  if (Request == VIDIOC_G_CTRL) {
    if (it->Type == V4L2_CTRL_TYPE_BUTTON) return -EACCES;
    c->value = it->Value;
    return 0;
  }
  if (it->Type != V4L2_CTRL_TYPE_BUTTON && (c->value < it->Minimum || c->value > it->Maximum)) return -ERANGE;
  Record(D.Path, "S_CTRL " + std::to_string(id) + "=" + std::to_string(c->value));
  // The reset buttons and relative moves act on the absolute position.
  auto adjust = [&D](uint32_t Target, bool Reset, int32_t By) {
    for (TKzFakeV4L2Control& t : D.Controls)
      if (t.Id == Target) t.Value = Reset ? t.Default : std::clamp(t.Value + By, t.Minimum, t.Maximum);
  };
  switch (id) {
    case V4L2_CID_PAN_RESET: adjust(V4L2_CID_PAN_ABSOLUTE, true, 0); break;
    case V4L2_CID_TILT_RESET: adjust(V4L2_CID_TILT_ABSOLUTE, true, 0); break;
    case V4L2_CID_PAN_RELATIVE: adjust(V4L2_CID_PAN_ABSOLUTE, false, c->value); break;
    case V4L2_CID_TILT_RELATIVE: adjust(V4L2_CID_TILT_ABSOLUTE, false, c->value); break;
    default: break;
  }
  it->Value = c->value;
  return 0;
}

int TKzFakeV4L2::Buffers(TOpen& O, TKzFakeV4L2Device& D, unsigned long Request, void* Arg) {
  if (Request == VIDIOC_REQBUFS) {
    auto* r = static_cast<v4l2_requestbuffers*>(Arg);
    if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (O.Streaming) return -EBUSY;
    for (const TOpen::TBuffer& b : O.Buffers)
      if (b.Mapped) return -EBUSY;
    O.Buffers.clear();
    r->count = std::min(r->count, kMaxBuffers);
    O.Buffers.resize(r->count);
    for (TOpen::TBuffer& b : O.Buffers) b.Bytes.assign(O.SizeImage, 0);
    return 0;
  }
  auto* b = static_cast<v4l2_buffer*>(Arg);
  if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
  if (Request == VIDIOC_QUERYBUF || Request == VIDIOC_QBUF) {
    if (b->index >= O.Buffers.size()) return -EINVAL;
    if (Request == VIDIOC_QBUF) {
      if (O.Buffers[b->index].Queued) return -EINVAL;
      O.Buffers[b->index].Queued = true;
    }
    b->length = static_cast<uint32_t>(O.Buffers[b->index].Bytes.size());
    b->m.offset = static_cast<uint32_t>(b->index * kBufferAlign);
    b->memory = V4L2_MEMORY_MMAP;
    return 0;
  }
  // DQBUF
  if (!O.Streaming) return -EINVAL;
  int64_t& served = FServed[O.Path];
  if (D.LoseAfterFrames >= 0 && served >= D.LoseAfterFrames) return -ENODEV;
  uint64_t due = 0;
  if (::read(O.TimerFd, &due, sizeof due) != sizeof due || due == 0) return -EAGAIN;
  auto it = std::find_if(O.Buffers.begin(), O.Buffers.end(), [](const TOpen::TBuffer& x) { return x.Queued; });
  if (it == O.Buffers.end()) return -EAGAIN;
  it->Queued = false;
  auto frame = D.Frames.find(O.Fourcc);
  uint32_t used = O.SizeImage;
  if (frame != D.Frames.end()) {
    used = static_cast<uint32_t>(std::min(frame->second.size(), it->Bytes.size()));
    std::memcpy(it->Bytes.data(), frame->second.data(), used);
  } else if (O.Fourcc == V4L2_PIX_FMT_MJPEG) {
    used = static_cast<uint32_t>(std::min(sizeof kGreyJpeg, it->Bytes.size()));
    std::memcpy(it->Bytes.data(), kGreyJpeg, used);
  } else {
    std::fill(it->Bytes.begin(), it->Bytes.end(), 0x80);
  }
  std::memset(b, 0, sizeof *b);
  b->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  b->memory = V4L2_MEMORY_MMAP;
  b->index = static_cast<uint32_t>(it - O.Buffers.begin());
  b->bytesused = used;
  b->length = static_cast<uint32_t>(it->Bytes.size());
  b->sequence = O.Sequence++;
  b->field = V4L2_FIELD_NONE;
  b->m.offset = static_cast<uint32_t>(b->index * kBufferAlign);
  ++served;
  return 0;
}

int TKzFakeV4L2::Stream(TOpen& O, TKzFakeV4L2Device& D, unsigned long Request, void* Arg) {
  if (*static_cast<int*>(Arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
  const bool on = Request == VIDIOC_STREAMON;
  Record(O.Path, on ? "STREAMON" : "STREAMOFF");
  if (on && D.StreamOnError) return D.StreamOnError;
  if (!on && D.StreamOffError) return D.StreamOffError;
  if (on && O.Buffers.empty()) return -EINVAL;
  O.Streaming = on;
  itimerspec t{};
  if (on && !D.Stall) {
    const long ns = 1000000000L / std::max<uint32_t>(1, O.Rate);
    t.it_interval = {ns / 1000000000L, ns % 1000000000L};
    t.it_value = t.it_interval;
  }
  ::timerfd_settime(O.TimerFd, 0, &t, nullptr);
  if (!on)
    for (TOpen::TBuffer& b : O.Buffers) b.Queued = false;
  return 0;
}

// ---- The devices

namespace {
TKzFakeV4L2Control Ctrl(uint32_t Id, const char* Name, int32_t Min, int32_t Max, int32_t Step, int32_t Def,
                        uint32_t Type = V4L2_CTRL_TYPE_INTEGER) {
  return {Id, Name, Type, Min, Max, Step, Def, Def};
}
}  // namespace

TKzFakeV4L2Device KzFakePanTiltWebCam() {
  TKzFakeV4L2Device d;
  d.Path = "/dev/video0";
  d.ById = "usb-KzMedia_PanTilt_Camera_0001-video-index0";
  d.Card = "KzMedia PanTilt Camera";
  d.BusInfo = "usb-0000:00:14.0-1";
  d.DeviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  const std::vector<std::pair<uint32_t, uint32_t>> sizes = {{320, 240}, {640, 360}, {1280, 720}};
  d.Formats = {
      {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", false, sizes, 0, 0, 0, 0, 0, 0, {30, 15, 10}, 640 * 480},
      {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", true, sizes, 0, 0, 0, 0, 0, 0, {30, 15}},
      {V4L2_PIX_FMT_UYVY, "UYVY 4:2:2", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
      {V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
      {V4L2_PIX_FMT_YUV420, "Planar YUV 4:2:0", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
      {V4L2_PIX_FMT_YVU420, "Planar YVU 4:2:0", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
      {V4L2_PIX_FMT_RGB24, "24-bit RGB 8-8-8", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
      {V4L2_PIX_FMT_BGR24, "24-bit BGR 8-8-8", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
      {V4L2_PIX_FMT_XRGB32, "32-bit XRGB 8-8-8-8", false, {{320, 240}}, 0, 0, 0, 0, 0, 0, {30}},
  };
  d.Controls = {
      Ctrl(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128),
      Ctrl(V4L2_CID_CONTRAST, "Contrast", 0, 255, 1, 32),
      Ctrl(V4L2_CID_SATURATION, "Saturation", 0, 100, 1, 64),
      Ctrl(V4L2_CID_HUE, "Hue", -180, 180, 1, 0),
      Ctrl(V4L2_CID_SHARPNESS, "Sharpness", 0, 7, 1, 3),
      Ctrl(V4L2_CID_GAMMA, "Gamma", 100, 500, 1, 300),
      Ctrl(V4L2_CID_GAIN, "Gain", 0, 100, 1, 0),
      Ctrl(V4L2_CID_BACKLIGHT_COMPENSATION, "Backlight Compensation", 0, 2, 1, 1),
      Ctrl(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", 0, 1, 1, 1, V4L2_CTRL_TYPE_BOOLEAN),
      Ctrl(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800, 6500, 10, 4600),
      Ctrl(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", 0, 3, 1, 3, V4L2_CTRL_TYPE_MENU),
      Ctrl(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute", 3, 2047, 1, 250),
      Ctrl(V4L2_CID_FOCUS_AUTO, "Focus, Automatic Continuous", 0, 1, 1, 1, V4L2_CTRL_TYPE_BOOLEAN),
      Ctrl(V4L2_CID_FOCUS_ABSOLUTE, "Focus, Absolute", 0, 250, 5, 0),
      Ctrl(V4L2_CID_IRIS_ABSOLUTE, "Iris, Absolute", 0, 10, 1, 2),
      Ctrl(V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 100, 500, 1, 100),
      Ctrl(V4L2_CID_PAN_ABSOLUTE, "Pan, Absolute", -36000, 36000, 3600, 0),
      Ctrl(V4L2_CID_TILT_ABSOLUTE, "Tilt, Absolute", -18000, 18000, 3600, 0),
      Ctrl(V4L2_CID_PAN_RESET, "Pan, Reset", 0, 0, 0, 0, V4L2_CTRL_TYPE_BUTTON),
      Ctrl(V4L2_CID_TILT_RESET, "Tilt, Reset", 0, 0, 0, 0, V4L2_CTRL_TYPE_BUTTON),
  };
  return d;
}

TKzFakeV4L2Device KzFakeFixedWebCam() {
  TKzFakeV4L2Device d;
  d.Path = "/dev/video1";
  d.ById = "usb-KzMedia_Fixed_Camera_0002-video-index0";
  d.Card = "KzMedia Fixed Camera";
  d.BusInfo = "usb-0000:00:14.0-2";
  d.DeviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  TKzFakeV4L2Format f{V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", false, {}, 160, 1280, 16, 120, 960, 8, {30, 5}};
  d.Formats = {f};
  d.Controls = {Ctrl(V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0), Ctrl(V4L2_CID_CONTRAST, "Contrast", 0, 64, 1, 32)};
  return d;
}

TKzFakeV4L2Device KzFakeMetadataNode() {
  TKzFakeV4L2Device d;
  d.Path = "/dev/video2";
  d.ById = "usb-KzMedia_PanTilt_Camera_0001-video-index1";
  d.Card = "KzMedia PanTilt Camera";
  d.BusInfo = "usb-0000:00:14.0-1";
  d.DeviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
  return d;
}

TKzFakeV4L2Device KzFakeOutputNode() {
  TKzFakeV4L2Device d;
  d.Path = "/dev/video3";
  d.Card = "KzMedia Output";
  d.BusInfo = "platform:kzfake-output";
  d.DeviceCaps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
  return d;
}

}  // namespace kz
