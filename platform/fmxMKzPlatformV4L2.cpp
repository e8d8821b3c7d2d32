#include "platform/fmxMKzPlatformV4L2.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

namespace kz {

int KzV4L2PollWithWake(int Fd, int WakeFd, int TimeoutMs) {
  pollfd fds[2] = {{Fd, POLLIN | POLLPRI, 0}, {WakeFd, POLLIN, 0}};
  const int n = ::poll(fds, WakeFd >= 0 ? 2 : 1, TimeoutMs);
  if (n < 0) return errno == EINTR ? 0 : -errno;
  int mask = 0;
  if (fds[0].revents) mask |= KzV4L2PollDevice;
  if (WakeFd >= 0 && fds[1].revents) mask |= KzV4L2PollWake;
  return mask;
}

namespace {

class TKzKernelV4L2 : public IKzV4L2 {
public:
  int Open(const std::string& Path) override {
    const int fd = ::open(Path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }
  int Close(int Fd) override { return ::close(Fd) == 0 ? 0 : -errno; }
  int Ioctl(int Fd, unsigned long Request, void* Arg) override {
    int r;
    do r = ::ioctl(Fd, Request, Arg);
    while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : r;
  }
  void* Mmap(int Fd, size_t Length, off_t Offset) override {
    void* p = ::mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_SHARED, Fd, Offset);
    return p == MAP_FAILED ? nullptr : p;
  }
  int Munmap(void* Addr, size_t Length) override { return ::munmap(Addr, Length) == 0 ? 0 : -errno; }
  int Poll(int Fd, int WakeFd, int TimeoutMs) override { return KzV4L2PollWithWake(Fd, WakeFd, TimeoutMs); }
  std::vector<TKzV4L2Node> Nodes() override {
    namespace fs = std::filesystem;
    std::vector<TKzV4L2Node> nodes;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/dev", ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("video", 0) == 0 && name.size() > 5) nodes.push_back({e.path().string(), ""});
    }
    // videoN in numeric order.
    std::sort(nodes.begin(), nodes.end(), [](const TKzV4L2Node& a, const TKzV4L2Node& b) {
      return std::atoi(a.Path.c_str() + 10) < std::atoi(b.Path.c_str() + 10);
    });
    for (const fs::directory_entry& e : fs::directory_iterator("/dev/v4l/by-id", ec)) {
      const fs::path target = fs::canonical(e.path(), ec);
      if (ec) continue;
      for (TKzV4L2Node& n : nodes)
        if (n.Path == target.string() && n.ById.empty()) n.ById = e.path().filename().string();
    }
    return nodes;
  }
};

TKzKernelV4L2& KernelBackend() {
  static TKzKernelV4L2 k;
  return k;
}

std::atomic<IKzV4L2*> gBackend{nullptr};

}  // namespace

IKzV4L2& KzV4L2() {
  IKzV4L2* b = gBackend.load(std::memory_order_acquire);
  return b ? *b : KernelBackend();
}

void KzSetV4L2(IKzV4L2* Backend) { gBackend.store(Backend, std::memory_order_release); }

std::string KzV4L2ErrorText(int Result) { return std::strerror(Result < 0 ? -Result : Result); }

std::string KzFourCCText(uint32_t FourCC) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((FourCC >> (8 * i)) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace kz
