#include "camera/fmxMKzCamStreamThread.h"

#include "camera/fmxMKzCamFFmpegEngine.h"
#include "camera/fmxMKzCamThreads.h"
#include "camera/fmxMKzCamera.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "inet/fmxMKzURLFuncs.h"

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

TKzSourceError TKzCamStreamThread::Error() const {
  std::lock_guard<std::mutex> g(FErrorLock);
  return FError;
}

void TKzCamStreamThread::SetError(const TKzSourceError& Value) {
  std::lock_guard<std::mutex> g(FErrorLock);
  FError = Value;
}

void TKzCamStreamThread::SetError(TKzSourceErrorKind Kind, const std::string& Text) {
  TKzSourceError e;
  e.Kind = Kind;
  e.Text = Text;
  SetError(e);
}

namespace {
// The library's own fetch threads: the HTTP Motion-JPEG reader, the RTSP
// session thread and the Motion-JPEG file player, which hand their streams to
// the FFmpeg engine when it is loaded. Without it RTSP and HTTP devices use
// the built-in readers (the camera's start rules without FFmpeg).
class TKzBuiltInStreamFactory : public IKzCamStreamFactory {
public:
  TKzCamStreamThread* CreateStreamThread(TKzCamStreamKind Kind, const TKzCamStreamParams& Params) override {
    if (!Params.Camera) return nullptr;
    switch (Kind) {
      case TKzCamStreamKind::kzcskHTTP:
        return new TKzCamHTTPGetThread(Params);
      case TKzCamStreamKind::kzcskRTSP:
        return new TKzCamRTSPGetThread(Params);
      case TKzCamStreamKind::kzcskMJPEGFile:
        return new TKzMJPEGMedia(Params);
      case TKzCamStreamKind::kzcskMediaFile:
        return new TKzCamFileGetThread(Params);
    }
    return nullptr;
  }
  bool IsSupportedFFMPEG() override { return IsSupportedFFmpeg(); }
  // RTSP and the HTTP streams the built-in Motion-JPEG reader does not take.
  IKzCamFFmpegEngine* CreateFFmpegEngine(TKzCamera& Camera) override {
    const bool rtsp = KzLowerCase(Camera.URL()).rfind("rtsp://", 0) == 0;
    if (!rtsp && Camera.VideoFormat() == TKzVideoFormat::kzvfMJPEG) return nullptr;
    return new TKzCamFFmpegEngine(&Camera);
  }
  IKzCamFFmpegEngine* CreateFFmpegEngineFor(TKzCamera& Camera, TKzCamStreamKind Kind) override {
    if (Kind == TKzCamStreamKind::kzcskMediaFile) return new TKzCamFFmpegEngine(&Camera);
    return CreateFFmpegEngine(Camera);
  }
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
