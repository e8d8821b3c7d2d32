// TKzEventRecorder records a video source the way surveillance needs it:
// short clips around motion, each starting PreRollSec before the motion was
// seen and ending PostRollSec after it stopped, and/or continuous segments
// of about SegmentSec cut at key frames, with the oldest recordings deleted
// when the folder passes MaxDiskMB or they pass MaxAgeHours. Compressed
// sources (Motion-JPEG over HTTP, H.264/H.265 through the FFmpeg engine) are
// stored as they arrive, without re-encoding; sources that only hand over
// decoded pictures are encoded as Motion-JPEG. Motion is found with the
// library's motion detector: on the stream's own JPEGs (decoded small and,
// while nothing moves, twice a second, each motion still timed by its
// own first frame; the source then decodes nothing for the recorder), else
// on the pictures the source hands its recorders. The files are written on
// the recorder's own thread, which takes what came in a few times a second
// rather than waking for every frame.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recorder/fmxMKzEventInput.h"
#include "recorder/fmxMKzEventMotion.h"
#include "recorder/fmxMKzEventSession.h"
#include "video/fmxMKzVideoSource.h"

namespace kz {

class TKzImageWrapper;

struct TKzEventRecorderStats {
  int64_t Packets = 0;         // packets taken from the source
  int64_t Dropped = 0;         // packets dropped because the writing thread fell behind
  int64_t MotionFrames = 0;    // pictures that showed motion
  int64_t MotionDecodes = 0;   // stream JPEGs decoded to watch motion
  size_t PreRollBytes = 0;     // memory the pre-roll holds now
  size_t PreRollPeakBytes = 0; // the most it held
  size_t QueuedBytes = 0;      // packets waiting for the writing thread
};

class TKzEventRecorder : public TComponent, public IKzCamRecorderConsumer, public IKzCamPacketConsumer {
public:
  // The writing thread holds back at most this much before dropping packets.
  static constexpr size_t MaxQueuedBytes = 32u << 20;
  // The writing thread takes the queue every WriteBatchMs, or as soon as
  // it holds WriteBatchBytes.
  static constexpr int64_t WriteBatchMs = 200;
  static constexpr size_t WriteBatchBytes = 2u << 20;

  // Main thread, never blocks.
  explicit TKzEventRecorder(TComponent* AOwner);
  // Stops recording (finishing the files) and leaves the source. Main thread; blocks while files finish.
  ~TKzEventRecorder() override;

  // Registers with the source (as a recorder and as a packet consumer). Main thread.
  TKzVideoSource* Source() const { return FSource; }
  void SetSource(TKzVideoSource* Value);

  // Starts or stops recording; settings are read when it starts. Starting
  // with an output folder that cannot be made leaves Active False and
  // raises OnError. Main thread; stopping blocks while files finish.
  bool Active() const { return FActive; }
  void SetActive(bool Value);

  // Settings (main thread; they apply from the next start).
  TKzEventRecordMode Mode = TKzEventRecordMode::kzermMotionClips;
  double PreRollSec = 5, PostRollSec = 10, SegmentSec = 600;
  int64_t MinRegionArea = 0;  // regions smaller than this many pixels are not motion
  std::string OutputFolder = ".";
  std::string FileNamePattern;  // {source} {kind} {date} {time}; empty: KzDefaultEventFileNamePattern
  std::string SourceName = "camera";
  int64_t MaxDiskMB = 0, MaxAgeHours = 0;  // 0: no limit
  size_t PreRollMaxBytes = 64u << 20;

  // Counters. Any thread, never blocks for long.
  TKzEventRecorderStats Stats() const;

  // Events, raised on the recorder's writing thread.
  std::function<void(TKzEventRecorder* Sender, const TKzEventFileInfo& Clip)> OnClipStarted;
  std::function<void(TKzEventRecorder* Sender, const std::string& FileName, int64_t StartMs, int64_t DurationMs,
                     const std::vector<TKzMotionEvent>& Regions)>
      OnClipFinished;
  std::function<void(TKzEventRecorder* Sender, const TKzEventFileInfo& Segment)> OnSegmentFinished;
  std::function<void(TKzEventRecorder* Sender, const std::string& FileName)> OnRetentionDeleted;
  std::function<void(TKzEventRecorder* Sender, const std::string& Text)> OnError;

  // From the source.
  void RecorderGetImage(TComponent* Sender, const TKzMBitmap& Bitmap, uint16_t VideoIndex,
                        const TGUID& GUIDFrom) override;
  TKzDecodeSize DecodeSizeRequest() const override;
  void PacketJpegFrame(TComponent* Sender, const TKzSharedBytes& Frame) override;
  void PacketVideo(TComponent* Sender, const TKzCompressedVideoPacket& Packet) override;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  struct TItem {
    TKzEventPacket Packet;  // no data: a motion report
    bool WatchMotion = false;  // a JPEG of the stream, decoded here for motion
    int64_t MotionMs = 0;
    TKzEventRect Bounds;
  };
  void Push(TItem Item);
  void Run();
  // One item on the writing thread; the frames that moved are counted in Moving.
  void Write(TItem& Item, int64_t& Moving);
  void Start();
  void Stop();
  TKzEventSettings SettingsNow() const;
  void Error(const std::string& Text);

  TKzVideoSource* FSource = nullptr;
  bool FActive = false;
  std::atomic<bool> FRunning{false};

  // Source side: the fetch thread hands frames in, the draw thread watches motion.
  std::mutex FInputLock;  // guards the packet maker and the encoder
  TKzEventPacketMaker FMaker;
  std::unique_ptr<TKzImageWrapper> FEncoder;
  std::atomic<bool> FPacketsSeen{false};
  std::atomic<bool> FJpegStream{false};  // motion is watched on the stream's own JPEGs
  std::unique_ptr<TKzJpegMotionWatcher> FJpegMotion;  // the writing thread's, new each start
  std::atomic<int64_t> FLastPacketMs{0};
  TKzEventMotionWatcher FWatcher;  // the draw thread's
  std::atomic<int64_t> FMinRegionArea{0};

  // Writing thread.
  mutable std::mutex FQueueLock;  // guards the queue and the counters
  std::condition_variable FQueueChanged;
  std::deque<TItem> FQueue;
  size_t FQueuedBytes = 0;
  bool FStopping = false;
  TKzEventRecorderStats FStats;
  std::unique_ptr<TKzEventSession> FSession;
  std::thread FThread;
};

}  // namespace kz
