// Playing a URL (or a video file) through a TKzCamera for a while, as
// the programs do it: frames counted where a view receives them, progress
// reports, PNG pictures of the frames, and a summary. Shared by kztool fetch
// and kzdemo.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace kzcamsim {
class TKzCamSim;
}
namespace kz {
class TKzCamera;
struct TRect;
}

namespace kzapp {

struct TKzFetchProgress {
  double Seconds = 0;       // since the start
  int64_t Frames = 0;       // received by the view
  double FrameRate = 0;     // over the last second
  uint64_t Bytes = 0;       // read from the network
  int64_t LatencyMs = -1;   // the last frame's, when known
};

struct TKzFetchOptions {
  std::string URL;  // http://, rtsp:// or a video file (Motion-JPEG, or anything FFmpeg reads)
  std::string UserName, Password;
  double FramePerSec = 0;   // the camera's frame rate; 0: its default (25)
  int64_t MaxFrames = 0;    // stop after this many frames; 0: no limit
  double Seconds = 0;       // stop after this long; 0: no limit
  std::string OutDir;       // PNG pictures go here; empty: none
  int64_t SnapshotMs = 0;   // a picture every this many ms; 0: every frame
  bool PromptOnTerminal = false;  // ask for credentials on stdin when refused
  bool MarkMotion = false;        // outline the moving regions in the frames
  const kzcamsim::TKzCamSim* Sim = nullptr;  // the simulator being watched (latencies)
  int32_t ProgressMs = 1000;
  std::function<void(const TKzFetchProgress&)> OnProgress;  // main thread
  // Main thread: the camera before it starts (attach views here) and after
  // it has stopped (detach them); and every pass of the loop (~50 ms).
  std::function<void(kz::TKzCamera&)> OnStart;
  std::function<void(kz::TKzCamera&)> OnStop;
  std::function<void()> OnIdle;
  // Main thread, every pass: true ends the run early (the consumer gave up).
  std::function<bool()> StopWhen;
  // The size the counting view shows frames at; full by default.
  int32_t ViewWidth = 0, ViewHeight = 0;
};

struct TKzFetchResult {
  int64_t Frames = 0;
  double FrameRate = 0;  // between the first and the last frame
  double Seconds = 0;
  uint64_t Bytes = 0;
  double MeanLatencyMs = -1;
  int64_t MaxLatencyMs = -1;
  int64_t Skipped = 0;   // frames of the simulator that never arrived (from stamps)
  int32_t Pictures = 0;  // PNG files written
  int64_t MotionFrames = 0;  // frames in which something moved (with MarkMotion)
  bool Interrupted = false;  // a stop signal ended it (KzCatchStopSignals)
  bool LoginFailed = false;
  bool Ended = false;    // the stream ended by itself
  int32_t EndStatus = 0;
  std::string Error;     // why nothing could be played, or why the source failed
  int32_t Reconnects = 0;  // attempts after the source failed
  std::string DecodeScales;  // frames decoded at each scale, "1/1: 10, 1/4: 230"
};

// Why URL cannot be played, empty when it can: an http:// or rtsp:// URL
// (rtsp with the FFmpeg engine), a video file, a capture device
// "v4l2:DEVICE" (its number, node or identifier) or the screen "desktop:"
// (or "desktop:X,Y,W,H"). Any thread.
std::string KzSourceError(const std::string& URL);
// "X,Y,W,H" as a rectangle; false when it is not one.
bool KzParseDesktopRect(const std::string& Text, kz::TRect& Rect);
// Starts Camera on URL (checked with KzSourceError first). Main thread,
// never blocks.
void KzPlaySource(kz::TKzCamera& Camera, const std::string& URL);

// Runs the camera on the main thread until the frame count or the time is
// reached, the stream ends, or the credentials are refused. While the camera
// tries a failed source again, each attempt and its reason go to stderr;
// a source that failed (nothing played, or the stream ended with a reason)
// leaves its reason in Error. Main thread; blocks.
TKzFetchResult KzRunFetch(const TKzFetchOptions& Options);

}  // namespace kzapp
