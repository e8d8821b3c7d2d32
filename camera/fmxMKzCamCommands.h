// Camera commands: one HTTP GET (with the one credential resend after a 401
// or 407) performed for a camera, the command thread that sends the one or
// two URLs of a movement or an image setting, and the property thread that
// sends one URL of a settings group.
//
// A command succeeds when its reply has a 2xx status (after the resend, the
// resent request's status decides) and the vendor accepts its body; any
// other status, no reply or an abort is a failure. A URL that is empty or
// holds a space or a control character is refused before any request.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "camera/fmxMKzCamParamTypes.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "inet/fmxMKzInet.h"

namespace kz {

class TKzCamera;
class TKzIPCameraVendor;

// The movement state of a camera, per single movement (index 1..6:
// HPatrol, VPatrol, Left, Up, Right, Down; 0 is unused).
struct TKzCamMoveFlags {
  std::array<bool, 7> FIsCamMoving{};            // moving (as far as the camera knows)
  std::array<bool, 7> FIsCamMoveCmdExecuting{};  // its move command runs
  std::array<bool, 7> FIsCameraStop{};           // stopped by the timer's end
  std::array<bool, 7> FIsNeedCameraStop{};       // a stop waits for the move command
};

// What a request of a camera needs, copied from the camera on the main
// thread so that workers never read the camera.
struct TKzCamRequestSettings {
  std::string Agent;
  std::string UserName, Password;  // used unless the URL carries its own
  uint16_t Port = 0;               // when the URL names none (0: 80)
  std::string Proxy;               // "host:port" of a manual proxy, or ""
  std::string ProxyUser, ProxyPassword;
  TKzTimeOut TimeOut = TKzTimeOut::kztMedium;
  const TKzIPCameraVendor* Vendor = nullptr;  // judges 2xx replies; null accepts them
  uint64_t Deadline = 0;  // tick by which a body still arriving is given up (0: none)
};
// The settings of Camera's requests now. Main thread.
TKzCamRequestSettings KzCamRequestSettings(const TKzCamera& Camera);

// One request of a camera: a GET of URL unless a method and a body are given.
struct TKzCamRequest {
  std::string URL;
  std::string Method = "GET";
  std::string ContentType;  // of Body ("" with no body)
  std::string Body;
  TKzCamRequest() = default;
  TKzCamRequest(std::string AURL) : URL(std::move(AURL)) {}  // NOLINT: a URL is a GET request
  TKzCamRequest(std::string AURL, std::string AMethod, std::string AContentType, std::string ABody)
      : URL(std::move(AURL)), Method(std::move(AMethod)), ContentType(std::move(AContentType)), Body(std::move(ABody)) {}
  bool Empty() const { return URL.empty(); }
};

struct TKzCamReply {
  uint32_t Status = 0;    // 0: no reply
  std::string Body;       // up to the limit
  bool Overflow = false;  // the body was longer than the limit
};

// Within a scope on the calling thread, the camera's synchronous text
// requests (ExecuteStr) end once Abort is set, and a URL asked for again is
// answered from its first reply (so several settings groups read from one
// reply cost one request). Scopes nest; the innermost counts. The thread
// that makes it, for its lifetime.
class TKzCamRequestScope {
public:
  explicit TKzCamRequestScope(std::atomic<bool>& Abort);
  ~TKzCamRequestScope();
  TKzCamRequestScope(const TKzCamRequestScope&) = delete;
  TKzCamRequestScope& operator=(const TKzCamRequestScope&) = delete;
  // The calling thread's innermost scope, or null.
  static TKzCamRequestScope* Current();

  std::atomic<bool>& Abort;
  std::map<std::string, std::string> Replies;

private:
  TKzCamRequestScope* FOuter;
};

// Whether URL may be sent: not empty, no space or control character. Any thread.
bool KzIsSendableURL(const std::string& URL);

// One request; the body is read up to MaxBody bytes (of a refusal too, when
// the request had a body: SOAP services explain refusals there). True when
// the reply was a 2xx one, its body within MaxBody and accepted by the
// vendor. Ends within about a second of Abort being set. Any thread but the
// main one; blocks on the network within the time-out class.
bool KzCamPerform(const TKzCamRequest& Request, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                  size_t MaxBody, TKzCamReply& Reply);
// KzCamPerform of a GET of URL.
bool KzCamPerformGet(const std::string& URL, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                     size_t MaxBody, TKzCamReply& Reply);

// Whether URL answers with Motion-JPEG or a JPEG picture (KzIsMJPEGReply
// on the first read of up to 1 MiB): one GET, sent again with the
// credentials after a 401 (the proxy's after a 407); after a 504 the call
// waits a second before it returns. WaitRecv (ms, 0: the class's) bounds
// the wait for the reply. Ends within about a second of Abort being set.
// Any thread but the main one; blocks on the network.
bool KzCamCheckMJPEG(const std::string& URL, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                     uint32_t WaitRecv = 0);

// The thread of one command: URL, then URL2 when the first succeeded. It
// frees itself after its end notification (OnTerminate, on the main
// thread), in which the camera reads its result and forgets it.
class TKzCamCommandThread : public TKzBaseThread {
public:
  static constexpr size_t MaxReplyBody = 65536;

  // Main thread, never blocks. The thread starts suspended.
  TKzCamCommandThread(TKzCamera* Camera, const TKzCamRequestSettings& Settings, TKzCamRequest Request,
                      TKzCamRequest Request2, TKzCamCommand CMD);
  // Ends a running request within about a second. Any thread, never blocks.
  void Abort() override;
  // Success of the command; valid once the thread has ended. Any thread.
  bool Result() const { return FTResult.load(std::memory_order_acquire); }
  TKzCamCommand Command() const { return FCMD; }
  TKzCamera* Camera() const { return FKzCamera; }
  const std::string& URL() const { return FRequest.URL; }

protected:
  void DoExecute() override;
  void TerminatedSet() override;
  // Performs one request; a failure is posted as a debug text. The owning worker.
  bool ExecuteOne(const TKzCamRequest& Request);

  std::atomic<bool> FTAbort{false};
  std::atomic<bool> FTResult{false};
  TKzCamRequest FRequest, FRequest2;
  TKzCamRequestSettings FSettings;
  TKzCamCommand FCMD;
  TKzCamera* FKzCamera;
};

// The thread that sends one URL of a settings group.
class TSetPropertyThread : public TKzCamCommandThread {
public:
  TSetPropertyThread(TKzCamera* Owner, const TKzCamRequestSettings& Settings, const std::string& URL,
                     TKzCamPropertyGroup Group)
      : TKzCamCommandThread(Owner, Settings, URL, TKzCamRequest(), TKzCamCommand::kzcmdNone), CameraProperty(Group) {}
  const TKzCamPropertyGroup CameraProperty;
  const std::string& CMDURL() const { return FRequest.URL; }
};

}  // namespace kz
