// What a frame pipeline needs from the components that consume its frames:
// views, senders and recorders register with a video source and are called
// on the pipeline's draw thread. The components themselves live elsewhere
// and implement these interfaces; sources never own them.
#pragma once
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/fmxMKzDecodeSize.h"
#include "video/fmxMKzMjpegSplitter.h"

namespace kz {

class TComponent;
class TKzImageWrapper;

// A view (shows frames).
class IKzCamViewConsumer {
public:
  virtual ~IKzCamViewConsumer() = default;
  // Draw thread; must copy what it needs and return quickly. Own is true for
  // a single source, false for frames of a multi-source receiver.
  virtual void ViewerGetImageBMP(TComponent* Sender, const TKzMBitmap& Bitmap, bool Own, uint16_t VideoIndex,
                                 const TGUID& GUIDFrom) = 0;
  // Views in full-screen mode are skipped by the draw thread. Any thread.
  virtual bool IsFullScreenMode() const { return false; }
  // The largest frame size the view will show (its video rectangle in
  // device pixels); full size unless the view says otherwise. Any thread,
  // never blocks.
  virtual TKzDecodeSize DecodeSizeRequest() const { return TKzDecodeSize::Full(); }
  // Main thread.
  virtual void ViewerBeginVideoStream(TComponent* Sender) { (void)Sender; }
  virtual void ViewerDoneVideoStream(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }
  // The source failed and its camera tries again (attempt Attempt of this
  // outage); the stream goes on for the consumers and its next frame ends
  // the outage. Main thread.
  virtual void ViewerReconnecting(TComponent* Sender, uint32_t Attempt) {
    (void)Sender;
    (void)Attempt;
  }
  // Forgets the last frame; Notify fires the view's own notification.
  virtual void ClearLastFrame(bool Notify) { (void)Notify; }
  // The camera began / finished contacting its device. Main thread.
  virtual void ViewerSearchCamera(TComponent* Sender) { (void)Sender; }
  virtual void ViewerDoneSearchCamera(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }
  // A control (movement) command began / completed. Main thread.
  virtual void HookBeginControl(TComponent* Sender) { (void)Sender; }
  virtual void ViewerDoneControl(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }
  // Ticks of the search animation (the source's timer) and of the wait
  // animation. Main thread.
  virtual void ViewerSearchAnimationTimer() {}
  virtual void ViewerWaitAnimationTimer(TComponent* Sender) { (void)Sender; }
  // Whether the view can paint now. Main thread.
  virtual bool ViewerHandleAllocated() { return true; }
};

// A sender (encodes and sends frames).
class IKzCamSenderConsumer {
public:
  virtual ~IKzCamSenderConsumer() = default;
  // Draw thread; copies what it needs.
  virtual void SenderGetImage(TComponent* Sender, TKzImageWrapper& Wrapper, uint16_t VideoIndex,
                              const TGUID& GUIDFrom) = 0;
  // Senders re-encode what they get: full size unless one says otherwise.
  // Any thread, never blocks.
  virtual TKzDecodeSize DecodeSizeRequest() const { return TKzDecodeSize::Full(); }
  // A block of PCM audio from an audio source (a microphone): the stream's
  // bytes from position 0, Size long, Duration ms, StartTime the sender's own
  // time since its start (SenderTimeSinceStart). The source's delivery
  // thread; copies what it needs.
  virtual void SenderGetAudio(TComponent* Sender, TMemoryStream& Stream, int32_t Size, const TKzAudioInfo& Info,
                              uint32_t Duration, int64_t StartTime, const TGUID& GUIDFrom) {
    (void)Sender, (void)Stream, (void)Size, (void)Info, (void)Duration, (void)StartTime, (void)GUIDFrom;
  }
  // Milliseconds since the sender started; audio blocks are stamped with it. Any thread.
  virtual int64_t SenderTimeSinceStart() { return static_cast<int64_t>(KzMGetTickCountSinceStart()); }
  // Main thread.
  virtual void SenderBeginVideoStream(TComponent* Sender) { (void)Sender; }
  virtual void SenderDoneVideoStream(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }
  // A control (movement) command of the source completed. Main thread.
  // The camera began / finished contacting its device. Main thread.
  virtual void SenderSearchCamera(TComponent* Sender) { (void)Sender; }
  virtual void SenderDoneSearchCamera(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }
  virtual void SenderDoneControl(TComponent* Sender, int32_t Status) {
    (void)Sender;
    (void)Status;
  }
};

// A recorder (queues frames for its encoder).
class IKzCamRecorderConsumer {
public:
  virtual ~IKzCamRecorderConsumer() = default;
  // Draw thread; copies what it needs.
  virtual void RecorderGetImage(TComponent* Sender, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                                const TGUID& GUIDFrom) = 0;
  // Recorders keep the source's size unless one says otherwise. Any
  // thread, never blocks.
  virtual TKzDecodeSize DecodeSizeRequest() const { return TKzDecodeSize::Full(); }
  // A block of PCM audio from an audio source, stamped with the library's
  // time since start (ms). The source's delivery thread; copies what it needs.
  virtual void RecorderGetAudio(TComponent* Sender, TMemoryStream& Stream, int32_t Size, const TKzAudioInfo& Info,
                                uint32_t Duration, int64_t StartTime) {
    (void)Sender, (void)Stream, (void)Size, (void)Info, (void)Duration, (void)StartTime;
  }
};

// One compressed video packet as a source received it (before decoding):
// codec by FFmpeg's codec number, times in TimeBase units (NoTime when
// unknown). Pointers stay valid only during the call.
struct TKzCompressedVideoPacket {
  static constexpr int64_t NoTime = INT64_MIN;
  int32_t CodecId = 0;
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  bool Key = false;
  int64_t Pts = NoTime, Dts = NoTime;
  int32_t TimeBaseNum = 1, TimeBaseDen = 1000;
  int32_t Width = 0, Height = 0;
  const uint8_t* Extra = nullptr;  // the codec's set-up bytes (H.264 SPS/PPS)
  size_t ExtraSize = 0;
};

// A consumer of the compressed stream itself (stores it without decoding).
class IKzCamPacketConsumer {
public:
  virtual ~IKzCamPacketConsumer() = default;
  // Bytes of a Motion-JPEG stream as they arrive; frames may be split
  // across calls. The fetch thread; copies what it needs, returns quickly.
  virtual void PacketStreamBytes(TComponent* Sender, const uint8_t* Data, size_t Size) {
    (void)Sender, (void)Data, (void)Size;
  }
  // One whole JPEG frame of a Motion-JPEG stream (FF D8 .. FF D9), cut once
  // by the source for all its consumers; keep the reference rather than
  // copying. The fetch thread; returns quickly.
  virtual void PacketJpegFrame(TComponent* Sender, const TKzSharedBytes& Frame) { (void)Sender, (void)Frame; }
  // One packet of the video stream an engine demuxed. The engine's thread;
  // copies what it needs, returns quickly.
  virtual void PacketVideo(TComponent* Sender, const TKzCompressedVideoPacket& Packet) = 0;
};

// An audio consumer (plays, sends or records a source's sound).
class IKzCamAudioConsumer {
public:
  virtual ~IKzCamAudioConsumer() = default;
  // One block of interleaved PCM, Size bytes at Data, in the format Info
  // gives (unsigned 8-bit or signed 16-bit little-endian, one or two
  // channels). Copies what it keeps. The source's decoding thread; must
  // return quickly.
  virtual void CamAudioBlock(TComponent* Sender, const TKzAudioInfo& Info, const uint8_t* Data, size_t Size) = 0;
};

// The consumer lists of a source. The source changes them only while it
// holds its draw thread's display lock (and ShapeLock inside it); the draw
// thread reads them under the display lock, a decoder asking for the
// wanted size under ShapeLock.
struct TKzConsumerLists {
  std::vector<IKzCamViewConsumer*> CamViews;
  std::vector<IKzCamSenderConsumer*> CamSenders;
  std::vector<IKzCamRecorderConsumer*> CamRecorders;
  std::vector<IKzCamPacketConsumer*> CamPackets;  // read under ShapeLock
  bool Empty() const { return CamViews.empty() && CamSenders.empty() && CamRecorders.empty(); }
  // Whether packet consumers are registered; hands them a whole frame.
  // The fetch thread; blocks only for a list change.
  bool HasPacketConsumers() const;
  void DeliverJpegFrame(TComponent* Sender, const TKzSharedBytes& Frame) const;

  // Held only for a change of the lists or one walk over their requests.
  mutable std::mutex ShapeLock;
  // Decode at the size the consumers show (off: always full size).
  std::atomic<bool> DecodeToViewSize{true};
  // Frames the source's decoder produced at each scale.
  TKzDecodeScaleCounts ScaleCounts;

  // The size frames should be decoded at: the largest any consumer asked for
  // (views in full-screen mode do not count; they get no frames), full when
  // any consumer wants full size, when there is none, or when
  // DecodeToViewSize is off. Any thread; blocks only for a list change.
  TKzDecodeSize WantedDecodeSize() const;
};

}  // namespace kz
