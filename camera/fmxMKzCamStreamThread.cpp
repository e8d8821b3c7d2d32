#include "camera/fmxMKzCamStreamThread.h"

namespace kz {

TKzCamStreamThread::TKzCamStreamThread(TKzCamStreamKind Kind, std::string ThreadName)
    : TKzBaseThread(true, std::move(ThreadName)), FKind(Kind) {
  SetFreeOnTerminate(true);
}

TKzCamStreamThread::~TKzCamStreamThread() = default;

void TKzCamStreamThread::Abort() {
  TKzBaseThread::Abort();
  FTAbort.store(true, std::memory_order_release);
}

namespace {
// The library's own fetch threads. The HTTP, RTSP and Motion-JPEG file
// readers and the FFmpeg and GStreamer bindings plug in here; until a kind
// is available its start is ignored, as for a camera without a URL.
class TKzBuiltInStreamFactory : public IKzCamStreamFactory {
public:
  TKzCamStreamThread* CreateStreamThread(TKzCamStreamKind, const TKzCamStreamParams&) override { return nullptr; }
  bool IsSupportedFFMPEG() override { return false; }
  bool IsSupportedGStreamer() override { return false; }
};

TKzBuiltInStreamFactory gBuiltIn;
IKzCamStreamFactory* gFactory = nullptr;  // main thread only
}  // namespace

IKzCamStreamFactory& KzCamStreamFactory() { return gFactory ? *gFactory : gBuiltIn; }

IKzCamStreamFactory* KzSetCamStreamFactory(IKzCamStreamFactory* Factory) {
  IKzCamStreamFactory* old = gFactory;
  gFactory = Factory;
  return old;
}

}  // namespace kz
