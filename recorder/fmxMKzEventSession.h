// The event recorder's work on one stream of packets, without threads or
// clocks of its own: motion clips (pre-roll, clip, post-roll) and
// continuous segments cut at key frames, each written without re-encoding,
// retention of the output folder, and one error that stops it all. Times
// come from the packets, so a test can run hours of stream in moments.
// Not locked: the recorder's writing thread (or a test) drives it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "recorder/fmxMKzClipMachine.h"
#include "recorder/fmxMKzEventRetention.h"
#include "recorder/fmxMKzEventTypes.h"
#include "recorder/fmxMKzPacketFileWriter.h"
#include "recorder/fmxMKzPreRollRing.h"

namespace kz {

struct TKzEventSettings {
  TKzEventRecordMode Mode = TKzEventRecordMode::kzermMotionClips;
  int64_t PreRollMs = 5000, PostRollMs = 10000, SegmentMs = 600000;
  std::string OutputFolder = ".";
  std::string FileNamePattern;  // empty: KzDefaultEventFileNamePattern
  std::string SourceName = "camera";
  int64_t MaxDiskMB = 0, MaxAgeHours = 0;  // 0: no limit
  size_t PreRollMaxBytes = 64u << 20;
};

// A clip or segment, started or finished.
struct TKzEventFileInfo {
  std::string FileName;
  int64_t StartMs = 0, DurationMs = 0;  // the recorder's clock; the duration ends at the last frame
  int64_t WallStartMs = 0;              // the first frame's time, ms since the epoch
  int64_t Frames = 0, Bytes = 0;
  std::vector<TKzMotionEvent> Events;   // times on the recorder's clock
};

class TKzEventSession {
public:
  static constexpr int64_t RetentionIntervalMs = 60000;

  explicit TKzEventSession(const TKzEventSettings& Settings);
  ~TKzEventSession();

  // One packet of the stream, in order.
  void AddPacket(const TKzEventPacket& Packet);
  // A frame at TimeMs showed motion inside Bounds.
  void AddMotion(int64_t TimeMs, const TKzEventRect& Bounds);
  // Finishes every open file (the stream ended or recording stops).
  void Finish();

  // Wall time = the recorder's clock + this (ms); for file names and ages.
  void SetWallOffsetMs(int64_t Value) { FWallOffsetMs = Value; }
  // Runs retention now; false when it has no limits.
  bool SweepNow();

  // Stopped by an error (nothing more is written).
  bool Failed() const { return FFailed; }
  const TKzPreRollRing& Ring() const { return FRing; }
  const TKzEventSettings& Settings() const { return FSettings; }
  int64_t PacketsTaken() const { return FPacketsTaken; }
  // The files being written now.
  std::set<std::string> BusyFiles() const;

  std::function<void(const TKzEventFileInfo& Clip)> OnClipStarted, OnClipFinished, OnSegmentFinished;
  std::function<void(const std::string& FileName)> OnRetentionDeleted;
  std::function<void(const std::string& Text)> OnError;

private:
  bool Clips() const { return FSettings.Mode != TKzEventRecordMode::kzermContinuous; }
  bool Segments() const { return FSettings.Mode != TKzEventRecordMode::kzermMotionClips; }
  bool OpenFile(TKzPacketFileWriter& Writer, const char* Kind, const TKzEventPacket& First);
  bool WriteTo(TKzPacketFileWriter& Writer, const TKzEventPacket& Packet);
  void ClipPacket(const TKzEventPacket& Packet);
  void SegmentPacket(const TKzEventPacket& Packet);
  void FinishClip();
  void FinishSegment();
  TKzEventFileInfo InfoOf(const TKzPacketFileWriter& Writer, std::vector<TKzMotionEvent> Events) const;
  void Fail(const std::string& Text);
  void MaybeSweep(int64_t NowMs);

  TKzEventSettings FSettings;
  TKzPreRollRing FRing;
  TKzClipMachine FClip;
  TKzPacketFileWriter FClipWriter, FSegmentWriter;
  std::vector<TKzMotionEvent> FSegmentEvents;  // motion since the open segment began
  int64_t FWallOffsetMs = 0;
  int64_t FNextSweepMs = INT64_MIN;
  int64_t FPacketsTaken = 0;
  bool FFailed = false, FSeenKey = false;
};

}  // namespace kz
