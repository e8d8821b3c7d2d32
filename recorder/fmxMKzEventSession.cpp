#include "recorder/fmxMKzEventSession.h"

#include <ctime>

#include "recorder/fmxMKzEventFiles.h"

namespace kz {

TKzEventSession::TKzEventSession(const TKzEventSettings& Settings)
    : FSettings(Settings), FRing(Settings.PreRollMs, Settings.PreRollMaxBytes) {
  FClip.SetPostRollMs(Settings.PostRollMs);
}

TKzEventSession::~TKzEventSession() { Finish(); }

std::set<std::string> TKzEventSession::BusyFiles() const {
  std::set<std::string> busy;
  for (const TKzPacketFileWriter* w : {&FClipWriter, &FSegmentWriter})
    if (w->IsOpen()) busy.insert(w->FileName());
  return busy;
}

void TKzEventSession::Fail(const std::string& Text) {
  if (FFailed) return;
  FFailed = true;
  // What reached the disk stays a playable file.
  FClipWriter.Close();
  FSegmentWriter.Close();
  FClip.Stop();
  if (OnError) OnError(Text);
}

bool TKzEventSession::OpenFile(TKzPacketFileWriter& Writer, const char* Kind, const TKzEventPacket& First) {
  const std::string name =
      KzEventFileName(FSettings.FileNamePattern, FSettings.SourceName, Kind, First.Dts + FWallOffsetMs);
  const std::string path = KzUniqueFilePath(FSettings.OutputFolder, name);
  if (!First.Stream || !Writer.Open(path, *First.Stream, First.Dts)) {
    Fail(Writer.Error().empty() ? "no stream description for " + path : Writer.Error());
    return false;
  }
  return true;
}

bool TKzEventSession::WriteTo(TKzPacketFileWriter& Writer, const TKzEventPacket& Packet) {
  if (Writer.Write(Packet)) return true;
  Fail(Writer.Error());
  return false;
}

TKzEventFileInfo TKzEventSession::InfoOf(const TKzPacketFileWriter& Writer, std::vector<TKzMotionEvent> Events) const {
  TKzEventFileInfo info;
  info.FileName = Writer.FileName();
  info.StartMs = Writer.StartMs();
  info.DurationMs = Writer.LastMs() - Writer.StartMs();
  info.WallStartMs = Writer.StartMs() + FWallOffsetMs;
  info.Frames = Writer.Packets();
  info.Bytes = Writer.Bytes();
  info.Events = std::move(Events);
  return info;
}

void TKzEventSession::AddMotion(int64_t TimeMs, const TKzEventRect& Bounds) {
  if (FFailed) return;
  if (Clips()) FClip.Motion(TimeMs, Bounds);
  if (Segments() && FSegmentWriter.IsOpen()) KzNoteMotionEvent(FSegmentEvents, TimeMs, Bounds);
}

void TKzEventSession::AddPacket(const TKzEventPacket& Packet) {
  if (FFailed || !Packet.Data) return;
  if (!FSeenKey && !Packet.Key) return;  // a file can only begin on a key frame
  FSeenKey = true;
  ++FPacketsTaken;
  if (Clips()) {
    ClipPacket(Packet);
    FRing.Add(Packet);
  }
  if (Segments() && !FFailed) SegmentPacket(Packet);
  if (!FFailed) MaybeSweep(Packet.Dts);
}

void TKzEventSession::ClipPacket(const TKzEventPacket& Packet) {
  switch (FClip.Step(Packet.Dts)) {
    case TKzClipStep::kzcsIdle:
      return;
    case TKzClipStep::kzcsFinish:
      FinishClip();
      return;
    case TKzClipStep::kzcsContinue:
      if (FClipWriter.IsOpen()) WriteTo(FClipWriter, Packet);
      return;
    case TKzClipStep::kzcsStart: {
      const TKzEventPacket& first = FRing.Empty() ? Packet : FRing.Packets().front();
      if (!OpenFile(FClipWriter, "clip", first)) return;
      for (const TKzEventPacket& p : FRing.Packets())
        if (!WriteTo(FClipWriter, p)) return;
      if (!WriteTo(FClipWriter, Packet)) return;
      if (OnClipStarted) OnClipStarted(InfoOf(FClipWriter, FClip.Events()));
      return;
    }
  }
}

void TKzEventSession::FinishClip() {
  if (!FClipWriter.IsOpen()) return;
  const TKzEventFileInfo info = InfoOf(FClipWriter, FClip.Events());
  FClipWriter.Close();
  if (OnClipFinished) OnClipFinished(info);
}

void TKzEventSession::SegmentPacket(const TKzEventPacket& Packet) {
  if (FSegmentWriter.IsOpen() && Packet.Key && Packet.Dts - FSegmentWriter.StartMs() >= FSettings.SegmentMs)
    FinishSegment();
  if (!FSegmentWriter.IsOpen() && !OpenFile(FSegmentWriter, "segment", Packet)) return;
  WriteTo(FSegmentWriter, Packet);
}

void TKzEventSession::FinishSegment() {
  if (!FSegmentWriter.IsOpen()) return;
  const int64_t start = FSegmentWriter.StartMs(), last = FSegmentWriter.LastMs();
  TKzEventFileInfo info = InfoOf(FSegmentWriter, KzMotionEventsWithin(FSegmentEvents, start, last));
  FSegmentWriter.Close();
  // Motion still going on at the cut continues in the next segment's list.
  std::vector<TKzMotionEvent> open;
  for (const TKzMotionEvent& e : FSegmentEvents)
    if (e.EndMs > last) open.push_back(e);
  FSegmentEvents = std::move(open);
  if (!info.Events.empty() && !KzWriteEventsSideFile(info.FileName, start, info.Events)) {
    Fail("cannot write " + KzEventsSideFileName(info.FileName));
    return;
  }
  if (OnSegmentFinished) OnSegmentFinished(info);
  SweepNow();
}

void TKzEventSession::Finish() {
  FClip.Stop();
  FinishClip();
  FinishSegment();
}

void TKzEventSession::MaybeSweep(int64_t NowMs) {
  if (FNextSweepMs == INT64_MIN) FNextSweepMs = NowMs + RetentionIntervalMs;
  if (NowMs < FNextSweepMs) return;
  FNextSweepMs = NowMs + RetentionIntervalMs;
  SweepNow();
}

bool TKzEventSession::SweepNow() {
  if (FSettings.MaxDiskMB <= 0 && FSettings.MaxAgeHours <= 0) return false;
  TKzRetentionLimits limits;
  limits.MaxBytes = FSettings.MaxDiskMB * 1024 * 1024;
  limits.MaxAgeSec = FSettings.MaxAgeHours * 3600;
  KzRetentionSweep(FSettings.OutputFolder, limits, BusyFiles(), static_cast<int64_t>(std::time(nullptr)),
                   [this](const std::string& Path) {
                     if (OnRetentionDeleted) OnRetentionDeleted(Path);
                   });
  return true;
}

}  // namespace kz
