// Playing a Motion-JPEG file through the camera's frame pipeline.
#include <algorithm>
#include <cmath>
#include <vector>

#include "camera/fmxMKzCamThreads.h"
#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzJpegFrames.h"

namespace kz {

bool KzMJPEGFirstFrameSize(TStream& Stream, int64_t& Size, int64_t MaxScan) {
  Size = 0;
  const int64_t start = Stream.Position();
  constexpr int64_t kBlock = 65536;
  std::vector<uint8_t> data;
  int64_t end = -1;
  while (end < 0 && static_cast<int64_t>(data.size()) < MaxScan) {
    const size_t old = data.size();
    data.resize(old + static_cast<size_t>(std::min(kBlock, MaxScan - static_cast<int64_t>(old))));
    const int64_t got = Stream.Read(data.data() + old, static_cast<int64_t>(data.size() - old));
    data.resize(old + static_cast<size_t>(std::max<int64_t>(got, 0)));
    if (got <= 0) break;
    // A pair split across two blocks starts at the last byte of the previous one.
    end = KzFindMarkerForward(data.data(), old > 0 ? static_cast<int64_t>(old) - 1 : 0,
                              static_cast<int64_t>(data.size()), 0xD9);
  }
  const int64_t begin = end < 0 ? -1 : KzFindMarkerForward(data.data(), 0, end, 0xD8);
  if (begin < 0) {
    Stream.SetPosition(start);
    return false;
  }
  Size = end + 2 - begin;
  Stream.SetPosition(start + begin);
  return true;
}

bool KzFileNeedsEngine(const std::string& Path) {
  TFileStream file(Path, TFileMode::fmOpenRead);
  if (!file.Valid()) return false;
  uint8_t head[64];
  const int64_t got = file.Read(head, sizeof head);
  int64_t i = 0;
  while (i < got && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) ++i;
  if (i + 1 >= got) return false;  // empty or blank: nothing FFmpeg would find either
  const bool jpeg = head[i] == 0xFF && head[i + 1] == 0xD8;
  const bool multipart = head[i] == '-' && head[i + 1] == '-';
  return !jpeg && !multipart;
}

struct TKzMJPEGMedia::TEndState {
  TEvent Event{true, false};
  std::atomic<bool> Done{false};
};

TKzMJPEGMedia::TKzMJPEGMedia(const TKzCamStreamParams& Params)
    : TKzCamStreamThread(TKzCamStreamKind::kzcskMJPEGFile, "TKzMJPEGMedia"),
      Filename(Params.FileName),
      FEnd(std::make_shared<TEndState>()),
      KzCamera(Params.Camera),
      OnDebugDataRead(Params.DebugDataRead) {
  SetFramePerSec(Params.FramePerSec);
}

TKzMJPEGMedia::~TKzMJPEGMedia() = default;

void TKzMJPEGMedia::Abort() {
  TKzCamStreamThread::Abort();
  FEnd->Event.SetEvent();
}

void TKzMJPEGMedia::SetFramePerSec(double Value) {
  FFramePerSec.store(Value > 0.0001 ? Value : 0.0001, std::memory_order_release);
}

int32_t TKzMJPEGMedia::PauseMSec() const {
  return static_cast<int32_t>(std::min(std::lround(800.0 / FramePerSec()), 1000000L));
}

void TKzMJPEGMedia::DoExecute() {
  try {
    FileStream = std::make_unique<TFileStream>(Filename, TFileMode::fmOpenRead);
    if (KzCamera && FileStream->Valid()) {
      Play();
    } else if (!AbortRequested()) {
      SetResult(false);
      SetError(TKzSourceErrorKind::kzseEmptyFile, "cannot read " + Filename);
    }
    FileStream.reset();
    // The file is handed over; the stream ends when the pipeline has decoded all of it.
    while (Result() && !AbortRequested() && !Application().Terminated() && !FEnd->Done.load())
      FEnd->Event.WaitFor(500);
    if (KzCamera && KzCamera->GetDataThread()) KzCamera->GetDataThread()->Decode().SetOnEndFileDecode(nullptr);
  } catch (...) {
    if (!AbortRequested()) SetResult(false);
  }
}

void TKzMJPEGMedia::Play() {
  try {
    Synchronize([this] {
      if (KzCamera->OnStartVideoFile && !KzCamera->IsDestroying()) KzCamera->OnStartVideoFile(KzCamera);
    });
  } catch (...) {
  }
  FileStream->SetPosition(0);
  TKzGetData* pipeline = KzCamera->GetDataThread();
  int64_t frameSize = 0;
  if (!pipeline || !KzMJPEGFirstFrameSize(*FileStream, frameSize)) {
    if (!AbortRequested()) {
      SetResult(false);
      if (FileStream->Size() == 0)
        SetError(TKzSourceErrorKind::kzseEmptyFile, Filename + " is empty");
      else
        SetError(TKzSourceErrorKind::kzseNotVideo, "not a video: no JPEG picture in " + Filename);
    }
    return;
  }
  std::shared_ptr<TEndState> end = FEnd;
  pipeline->Decode().SetOnEndFileDecode([end](TComponent*) {
    end->Done.store(true);
    end->Event.SetEvent();
  });
  pipeline->SetFileMode(true);
  FileStream->SetPosition(0);
  try {
    Synchronize([this] {
      if (KzCamera->IsDestroying()) return;
      KzCamera->StartGetDataThread();
      KzCamera->ResetAbort();
    });
  } catch (...) {
  }
  int64_t total = 0;
  const int64_t size = FileStream->Size();
  while (FileStream->Position() < size && !AbortRequested() && !Terminated()) {
    const int64_t before = FileStream->Position();
    const int64_t piece = std::min(frameSize, size - before);
    pipeline->CopyFrom(*FileStream, piece);
    if (FileStream->Position() == before) break;  // the pipeline takes nothing more
    BytesToRead = static_cast<uint32_t>(piece);
    total += piece;
    if (OnDebugDataRead) KzPostMessageDebug(KzCamera, total, Filename);
    // The decoder paces the frames; the file is not read further ahead than
    // the pipeline's limit.
    while (!AbortRequested() && !Terminated() && (pipeline->PendingBytes() > TKzGetData::MaxPendingBytes ||
                                                  pipeline->Decode().PendingBytes() > TKzDecodeImage::MaxPendingBytes))
      SleepUnlessTerminated(2);
    SleepUnlessTerminated(static_cast<uint32_t>(PauseMSec()));
  }
  pipeline->SetFileMode(false);
  SetResult(!AbortRequested() || Result());
}

// ---- TKzCamFileGetThread

TKzCamFileGetThread::TKzCamFileGetThread(const TKzCamStreamParams& Params)
    : TKzCamThreadWithFFMPEG(TKzCamStreamKind::kzcskMediaFile, "TKzCamFileGet", Params, true) {}

void TKzCamFileGetThread::Run() {
  SetError(TKzSourceErrorKind::kzseOther, "no FFmpeg to play " + FTURL);
  SetOwnResult(false);
}

}  // namespace kz
