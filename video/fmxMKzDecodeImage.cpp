#include "video/fmxMKzDecodeImage.h"

#include <algorithm>
#include <cmath>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "video/fmxMKzImageWrapper.h"
#include "video/fmxMKzJpegFrames.h"
#include "video/fmxMKzLibJpeg.h"

namespace kz {

namespace {
constexpr int64_t kMinPause = 11;
}  // namespace

TKzDecodeImage::TKzDecodeImage(TComponent* Owner, TKzConsumerLists& Consumers, const TGUID& GUID)
    : TKzPipelineThread("TKzDecodeImage"),
      FOwner(Owner),
      FPaint(new TKzDrawImage(Owner, GUID, Consumers)),
      FImg(std::make_unique<TKzImageWrapper>()) {}

TKzDecodeImage::~TKzDecodeImage() { KzMFreeThread(FPaint); }

void TKzDecodeImage::Run() {
  FPaint->Run();
  StartThread(this);
}

void TKzDecodeImage::CopyFrom(const TMemoryStream& Data, int64_t Size, bool BitmapMode, int32_t BPP, int32_t Width,
                              int32_t Height) {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    if (BitmapMode != FTmpBitmapMode) FTmp.SetSize(0);
    FTmpBitmapMode = BitmapMode;
    const int64_t n = std::min<int64_t>(Size, Data.Size());
    if (BitmapMode) {
      FTmpBPP = BPP;
      FTmpWidth = Width;
      FTmpHeight = Height;
      FTmp.SetSize(0);
    }
    if (n > 0) {
      FTmp.Seek(0, TSeekOrigin::soEnd);
      FTmp.Write(Data.Memory(), n);
    }
  }
  Event()->SetEvent();
}

int64_t TKzDecodeImage::BufferedBytes() {
  TKzSafeLock g(FAccessSection);
  return FData.Size();
}

int64_t TKzDecodeImage::PendingBytes() {
  std::lock_guard<TCriticalSection> g(FSection);
  return FTmp.Size();
}

void TKzDecodeImage::SetFramePerSec(double Value) {
  if (Value > 0) FFramePerSec.store(Value);
}

void TKzDecodeImage::SetFileMode(bool Value) {
  bool endNow = false;
  TNotifyEvent onEnd;
  {
    TKzSafeLock g(FAccessSection);
    onEnd = OnEndFileDecode;
    if (Value == FFileMode) return;
    if (Value) {
      FFileMode = true;
      FAllFileDataReceived = false;
    } else if (FData.Size() > 0 || PendingBytes() > 0) {
      FAllFileDataReceived = true;
    } else {
      FFileMode = false;
      endNow = true;
    }
  }
  if (endNow) {
    if (onEnd) onEnd(FOwner);
  } else {
    Event()->SetEvent();
  }
}

void TKzDecodeImage::SetOnEndFileDecode(TNotifyEvent Event) {
  TKzSafeLock g(FAccessSection);
  OnEndFileDecode = std::move(Event);
}

void TKzDecodeImage::DoClear() {
  {
    std::lock_guard<TCriticalSection> g(FSection);
    FTmp.SetSize(0);
  }
  {
    TKzSafeLock g(FAccessSection);
    FData.SetSize(0);
    FSearched = 0;
    FPaint->Clear();
    TKzMBitmap& b = FImg->GetBitmap();
    if (!b.IsEmpty()) std::fill(b.Data(), b.Data() + b.GetLength(), KzOpaqueBlack);
  }
}

uint32_t TKzDecodeImage::Pass() {
  TKzSafeLock access(FAccessSection);
  {
    std::lock_guard<TCriticalSection> g(FSection);
    if (FTmpBitmapMode) {
      FData.Swap(FTmp);
      FTmp.SetSize(0);
      FSearched = 0;
      FBitmapBPP = FTmpBPP;
      FBitmapWidth = FTmpWidth;
      FBitmapHeight = FTmpHeight;
    } else {
      if (FBitmapMode) {
        FData.SetSize(0);
        FSearched = 0;
      }
      if (FData.Size() == 0) {
        FData.Swap(FTmp);  // the usual case after a frame was taken: no copy
        FSearched = 0;
      } else {
        FData.Seek(0, TSeekOrigin::soEnd);
        FData.Write(FTmp.Memory(), FTmp.Size());
      }
      FTmp.SetSize(0);
    }
    FBitmapMode = FTmpBitmapMode;
    Event()->ResetEvent();
  }
  if (FFileMode) {
    DecodeAll();
    if (FAllFileDataReceived) {
      FAllFileDataReceived = false;
      FFileMode = false;
      if (OnEndFileDecode) OnEndFileDecode(FOwner);
    }
  } else if (FBitmapMode) {
    DecodeBitmap();
  } else {
    DecodeNewest();
  }
  TrimUnsearchable();
  return KzWaitForever;
}

// A stream that never completes a frame must not grow without bound.
void TKzDecodeImage::TrimUnsearchable() {
  const int64_t excess = FData.Size() - MaxDataBytes;
  if (excess <= 0 || FBitmapMode) return;
  FData.DeleteFront(excess);
  FSearched = std::max<int64_t>(0, FSearched - excess);
}

void TKzDecodeImage::DecodeNewest() {
  const int64_t size = FData.Size();
  TKzJpegSpan frame;
  // Only bytes that arrived since the last search can hold a new end marker.
  const bool found = KzFindNewestJpegFrame(FData.Memory(), size, FSearched, frame);
  FSearched = size;
  if (!found) return;
  PaceLive();
  if (Terminated() || Stopping()) return;
  LoadJPEGStream(frame.Begin, frame.End);
  const uint8_t* d = FData.Memory();
  int64_t keepFrom = frame.End;
  if (keepFrom + 1 < size && d[keepFrom] == 0xFF && d[keepFrom + 1] == 0xD9) keepFrom += 2;
  FData.DeleteFront(keepFrom);
  FSearched = FData.Size();
}

void TKzDecodeImage::DecodeAll() {
  int64_t pos = 0;
  TKzJpegSpan frame;
  // The start nearest each end: a truncated frame or garbage costs only itself.
  while (KzFindNextJpegFrame(FData.Memory(), FData.Size(), pos, frame)) {
    if (Terminated() || Stopping()) return;
    if (frame.Begin >= 0) {
      Pace();
      if (Terminated() || Stopping()) return;
      LoadJPEGStream(frame.Begin, frame.End);
    }
    pos = frame.End;
  }
  FData.DeleteFront(pos);
  FSearched = 0;
}

void TKzDecodeImage::DecodeBitmap() {
  if (FData.Size() == 0) return;
  const int64_t need = TKzMCustomBitmap::DIBRowBytes(FBitmapBPP, FBitmapWidth) * FBitmapHeight;
  if (FBitmapWidth <= 0 || FBitmapHeight <= 0 || (FBitmapBPP != 24 && FBitmapBPP != 32) || FData.Size() < need)
    return;  // a frame whose geometry does not match its bytes is dropped
  if (!FPaint->HasConsumers()) return;
  FImg->GetBitmap().AssignFromDIB(FBitmapBPP, FBitmapWidth, FBitmapHeight, FData.Memory(), true, false);
  if (OnFPS) OnFPS(FOwner);
  FPaint->AddToBufferSwap(FImg->GetBitmap(), 0);
  FData.SetSize(0);
}

bool TKzDecodeImage::NewestFrameFullSize(TKzMBitmap& Bitmap) {
  TMemoryStream frame;
  {
    std::lock_guard<std::mutex> g(FScaledLock);
    if (FScaledFrame.Size() == 0) return false;
    frame.Write(FScaledFrame.Memory(), FScaledFrame.Size());
  }
  frame.SetPosition(0);
  return ReadJpegStream(frame, Bitmap);
}

// Spaces frames by the frame interval; pauses shorter than 11 ms are skipped.
void TKzDecodeImage::Pace() {
  const double fps = FFramePerSec.load();
  const int64_t interval = fps > 0 ? static_cast<int64_t>(std::lround(1000.0 / fps)) : 0;
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  const int64_t pause = interval - (now - FUpdateTimeOld);
  if (pause >= kMinPause) SleepUnlessTerminated(static_cast<uint32_t>(pause));
  FUpdateTimeOld = static_cast<int64_t>(KzMGetTickCount());
}

// A live frame waits only when it comes before the previous one was due;
// frames are due an interval apart, so a stream at the wanted rate is shown
// as it comes, whatever the phase of its frames, and costs no sleep.
void TKzDecodeImage::PaceLive() {
  const double fps = FFramePerSec.load();
  const int64_t interval = fps > 0 ? static_cast<int64_t>(std::lround(1000.0 / fps)) : 0;
  const int64_t pause = FLiveDueMs - static_cast<int64_t>(KzMGetTickCount());
  if (pause >= kMinPause) SleepUnlessTerminated(static_cast<uint32_t>(pause));
  FLiveDueMs = std::max(FLiveDueMs + interval, static_cast<int64_t>(KzMGetTickCount()));
}

bool TKzDecodeImage::Announce(const uint8_t* Frame, size_t Size) {
  const TKzJpegIntegrity integrity = FJpegIntegrity.load();
  if (integrity != TKzJpegIntegrity::kzjiNone) {
    size_t walked = 0;
    if (!KzCheckJpegIntegrity(Frame, Size, walked, integrity)) return false;
  }
  if (!isStartVideo.exchange(true) && OnStartVideo) {
    try {
      Synchronize([this] { OnStartVideo(FOwner); });
    } catch (...) {
      // What the handler throws stays with it: the stream goes on.
    }
  }
  return true;
}

void TKzDecodeImage::Counted() {
  if (OnFPS) OnFPS(FOwner);
  FPaint->CountFrame();
}

void TKzDecodeImage::CountFrame(const uint8_t* Frame, size_t Size) {
  if (Announce(Frame, Size) && FPaint->HasConsumers()) Counted();
}

void TKzDecodeImage::LoadJPEGStream(int64_t Begin, int64_t End) {
  const int64_t length = End - Begin;
  if (!Announce(FData.Memory() + Begin, static_cast<size_t>(length))) return;
  if (!FPaint->HasConsumers()) return;
  const TKzDecodeSize want = FPaint->WantedDecodeSize();  // read once per frame: a change shows at the next one
  if (want.IsNone()) {
    Counted();  // every consumer takes the compressed stream
    return;
  }
  FImg->SetDecodeSize(want);
  FData.SetPosition(Begin);
  if (FImg->LoadFromStream(FData, length)) {
    FPaint->Consumers().ScaleCounts.Count(FImg->LastScaleDenom());
    {
      std::lock_guard<std::mutex> g(FScaledLock);
      FScaledFrame.SetSize(0);
      if (FImg->LastScaleDenom() != 1) FScaledFrame.Write(FData.Memory() + Begin, length);
    }
    if (OnFPS) OnFPS(FOwner);
    FPaint->AddToBufferSwap(FImg->GetBitmap(), 0);
  }
  if (FImg->IsImgError) {
    IsImgError = true;
    FImg->IsImgError = false;
  }
}

}  // namespace kz
