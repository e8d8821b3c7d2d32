// kzcamsim: a synthetic network camera. It serves Motion-JPEG over HTTP
// (multipart/x-mixed-replace, plain or chunked) showing a moving object, a
// frame counter and a clock, still images, Basic or Digest authentication,
// and fault modes for tests: connections cut mid-frame, garbage between
// frames, truncated or undecodable frames, and stalls; and a command
// endpoint (/cmd/...) that logs what it is sent and answers as told.
//
// The server runs in the calling process (tests, the demo, benchmarks) or
// as the kzcamsim program. Several listening ports may share one picture
// source, so that many "cameras" cost one encoder.
//
// Every frame carries a machine-readable stamp (its number) in a strip at
// the bottom, so that a receiver can tell which frames it got and how late.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzConsumers.h"

namespace kzcamsim {

enum class TKzSimAuth : uint8_t { kzsaNone = 0, kzsaBasic = 1, kzsaDigest = 2 };

// Faults of a stream connection. k-th counts the frames of that connection from 1.
struct TKzSimFaults {
  int32_t CloseAfterFrames = 0;  // after this many frames, half of the next one, then the connection closes
  int32_t GarbageEvery = 0;      // garbage bytes before every k-th frame
  int32_t TruncateEvery = 0;     // only the first half of every k-th frame is sent
  int32_t CorruptEvery = 0;      // every k-th frame is a JPEG that cannot be decoded
  int32_t StallAfterFrames = 0;  // once per connection, after this many frames...
  int32_t StallMs = 0;           // ...nothing is sent for this long
};

struct TKzSimOptions {
  uint16_t Port = 0;       // first port; 0: ports chosen by the system
  int32_t PortCount = 1;   // listening ports (consecutive when Port is given)
  std::string BindAddress = "127.0.0.1";  // any local address; "0.0.0.0" for all of them
  int32_t Width = 640;
  int32_t Height = 480;
  double FramePerSec = 25.0;
  int32_t Quality = 80;
  TKzSimAuth Auth = TKzSimAuth::kzsaNone;
  std::string UserName = "admin";
  std::string Password = "admin";
  std::string Realm = "kzcamsim";
  bool Chunked = false;
  int32_t MaxClients = 0;  // streams served at once; more are refused with 503 (0: no limit)
  std::string StreamPath = "/video.mjpg";  // Motion-JPEG (the query is ignored)
  std::string StillPath = "/image.jpg";    // one picture; every path under /still/ too
  TKzSimFaults Faults;
  // A camera maker's command interface (kzcamsim_vendor.h): "" for none,
  // else "foscam", "foscam-hd", "panasonic", "dlink", "axis", "mobotix".
  std::string Vendor = {};
  std::string Model = {};                     // the model the camera names (D-Link)
  std::vector<std::string> VendorUsers = {};  // "name:password:level"; none: UserName/Password as administrator
  // Frames [first, last) in which the disc moves; outside them it stands
  // where it was in the last moving frame. Empty: it moves in every frame.
  std::vector<std::pair<uint32_t, uint32_t>> MotionFrames = {};
  int32_t DiscRadius = 0;  // 0: a tenth of the shorter side
  // ONVIF (kzcamsim_onvif.h), alone or beside a vendor mode.
  bool Onvif = false;
  std::string RtspURL = {};                 // the H.264 profile's stream URI
  int64_t OnvifClockOffset = 0;             // the device clock minus the real one, seconds
  uint16_t DiscoveryPort = 3702;            // WS-Discovery (0: a free one)
  std::vector<std::string> OnvifUsers = {};  // "name:password:level" (admin, operator, user)
};

class TKzSimVendor;
class TKzSimOnvif;

// How the command endpoint answers a path under /cmd/ (by default 200 "OK" at once).
struct TKzSimCommandReply {
  int32_t Status = 200;
  int32_t DelayMs = 0;  // before the reply is sent (the server's stop ends it)
  std::string Body = "OK";
};

struct TKzSimStats {
  uint64_t FramesRendered = 0;
  uint64_t FramesSent = 0;  // parts started, over all connections
  uint64_t BytesSent = 0;
  uint64_t Connections = 0;
  uint64_t Requests = 0;
  uint64_t AuthRefused = 0;  // 401 replies
  uint64_t StillImages = 0;
  uint64_t Refused = 0;      // 503 replies to streams beyond MaxClients
  int32_t Streaming = 0;  // stream connections open now
};

class TKzCamSim {
public:
  explicit TKzCamSim(TKzSimOptions Options);
  // Stops the server.
  ~TKzCamSim();
  TKzCamSim(const TKzCamSim&) = delete;
  TKzCamSim& operator=(const TKzCamSim&) = delete;

  // Binds the ports and starts serving; false when a port cannot be bound,
  // with Error saying which address and port and why ("... address already
  // in use"). Any thread, never blocks for long.
  bool Start(std::string* Error = nullptr);
  // Closes every connection and waits for the server's threads (well under
  // a second). Any thread but the server's.
  void Stop();

  const TKzSimOptions& Options() const;
  uint16_t Port(int32_t Index = 0) const;
  // "http://<bind address>:<port><Path>" (127.0.0.1 for 0.0.0.0).
  std::string URL(const std::string& Path, int32_t Index = 0) const;
  std::string StreamURL(int32_t Index = 0) const { return URL(Options().StreamPath, Index); }
  std::string StillURL(int32_t Index = 0) const { return URL(Options().StillPath, Index); }
  // Changes the faults of stream connections from their next frame on. Any thread.
  void SetFaults(const TKzSimFaults& Faults);

  TKzSimStats Stats() const;
  // "METHOD target" of every request so far (the last 4096). Any thread.
  std::vector<std::string> Requests() const;
  // The command endpoint: every authorised request under /cmd/ is logged as
  // "path?query" and answered as set for its path. Any thread.
  void SetCommandReply(const std::string& Path, const TKzSimCommandReply& Reply);
  std::vector<std::string> Commands() const;
  void ClearCommands();
  // Tick count (KzMGetTickCount) at which frame Number was drawn; -1 when it
  // is no longer remembered (the last 4096 frames are). Any thread.
  int64_t FrameTick(uint32_t Number) const;
  // The vendor mode's state, users and request log; null without one.
  TKzSimVendor* Vendor() const;
  // The ONVIF mode's services; null without it.
  TKzSimOnvif* Onvif() const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> F;
};

// ---- Pictures

// Draws frame Number of a Width x Height picture into Bitmap: background,
// moving object, the counter, the wall-clock time WallMs (ms since the epoch)
// and the stamp. Any thread.
// DiscNumber places the disc (-1: where frame Number puts it); DiscRadius 0
// is a tenth of the shorter side.
void KzSimDrawFrame(kz::TKzMCustomBitmap& Bitmap, int32_t Width, int32_t Height, uint32_t Number, int64_t WallMs,
                    int64_t DiscNumber = -1, int32_t DiscRadius = 0);
// Where the disc of frame Number stands under the motion windows of Options.
uint32_t KzSimDiscNumber(const TKzSimOptions& Options, uint32_t Number);
// The number stamped into a picture drawn by KzSimDrawFrame (after JPEG
// coding too), or -1 when it carries no stamp. Any thread.
int64_t KzSimReadStamp(const kz::TKzMCustomBitmap& Bitmap);
// Draws Text (digits, ':', '.', '#', '-', ' ') with the built-in 5x7 font,
// each dot Scale pixels, white on a black box, top-left at (X, Y). Any thread.
void KzSimDrawText(kz::TKzMCustomBitmap& Bitmap, int32_t X, int32_t Y, int32_t Scale, const std::string& Text);

// ---- Watching what a camera delivers

// A view that counts the frames a camera hands it, with their arrival
// ticks and stamps, the latency against a simulator in the same process, and
// optionally a few frames kept for the caller (for snapshots).
class TKzSimFrameProbe : public kz::IKzCamViewConsumer {
public:
  // Sim: the simulator whose frames arrive (for latencies), or null.
  // KeepFrames: frames kept for TakeFrame; newer ones are dropped while full.
  explicit TKzSimFrameProbe(const TKzCamSim* Sim = nullptr, size_t KeepFrames = 0);

  // Draw thread of the camera.
  void ViewerGetImageBMP(kz::TComponent* Sender, const kz::TKzMBitmap& Bitmap, bool Own, uint16_t VideoIndex,
                         const kz::TGUID& GUIDFrom) override;

  // Any thread, never block.
  int64_t Frames() const;
  // Frames per second between the first and the last frame; 0 before two.
  double FrameRate() const;
  // Frames per second over the frames that arrived from FromMs after the first on.
  double FrameRateAfter(int64_t FromMs) const;
  // Arrival ticks (KzMGetTickCount) of every frame, and the stamps read from
  // them (-1 for a frame without one). At most 1,000,000 are kept.
  std::vector<int64_t> Ticks() const;
  std::vector<int64_t> Stamps() const;
  // Milliseconds from drawing to arrival: the last, the mean and the largest
  // (0 while unknown).
  int64_t LastLatency() const;
  double MeanLatency() const;
  int64_t MaxLatency() const;
  // The oldest kept frame and its arrival number (from 1); false when none waits.
  bool TakeFrame(kz::TKzMBitmap& Frame, int64_t& Number);
  // Keeps the next frame that arrives (even when KeepFrames is 0). Any thread.
  void KeepNext();
  // The size the probe says it shows frames at (full by default, so that
  // stamps read back). Any thread.
  void SetDecodeSizeRequest(kz::TKzDecodeSize Value);
  kz::TKzDecodeSize DecodeSizeRequest() const override;

private:
  const TKzCamSim* FSim;
  const size_t FKeep;
  mutable std::mutex FLock;  // guards everything below
  std::vector<int64_t> FTicks, FStamps;
  int64_t FLatencyLast = 0, FLatencyMax = 0, FLatencyCount = 0;
  double FLatencySum = 0;
  bool FKeepNext = false;
  kz::TKzDecodeSize FDecodeSize;
  std::deque<std::pair<int64_t, kz::TKzMBitmap>> FKept;
};

// ---- Requests (exposed for the fuzz target and the tests)

struct TKzSimRequest {
  std::string Method, Path, Query, Version;
  std::string Authorization;  // the header's value, "" when absent
  bool KeepAlive = true;      // false for HTTP/1.0 without keep-alive, or "Connection: close"
  std::string Host;           // the Host header
  int64_t ContentLength = 0;  // -1 when the header is not a number
  std::string Body;           // read by the server after the head
};
// Parses a request head (request line and header lines, up to the empty
// line). False when the request line is not "METHOD SP target SP HTTP/x.y".
bool KzSimParseRequest(const std::string& Head, TKzSimRequest& Request);
// The name=value parameters after the scheme word of an Authorization value
// (names lower-cased, quotes removed); "scheme" holds the scheme word.
std::map<std::string, std::string> KzSimAuthParams(const std::string& Value);
// Whether the Authorization parameters answer a Digest challenge for
// Method: user, realm and the RFC 2617 response (with or without qop). The
// caller checks that the nonce is one it gave out.
bool KzSimCheckDigest(const std::map<std::string, std::string>& Params, const std::string& Method,
                      const std::string& UserName, const std::string& Password, const std::string& Realm);

}  // namespace kzcamsim
