// TKzHttpVideoServer: any video source of the library in a browser. Each
// published source (a camera, a receiver, a capture device) is served as a
// Motion-JPEG stream "/video/NAME.mjpg" and a snapshot "/snapshot/NAME.jpg";
// "/" is a page showing all of them as a wall, "/status.json" their sizes,
// rates and clients.
//
// A frame is encoded once however many clients watch it, and only while
// someone watches; each client is sent the newest encoding when it has
// taken the previous one, so a slow client skips frames and never holds up
// the source or the other clients. One thread serves every connection, a
// second one encodes.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "webserver/fmxMKzHttpAuth.h"
#include "webserver/fmxMKzHttpSourceSlot.h"

namespace kz {

class TKzVideoSource;
class TKzHttpServeLoop;
class TKzHttpWorkerThread;

// Counters of a running server.
struct TKzHttpServerStats {
  uint64_t Connections = 0;   // accepted
  uint64_t Requests = 0;      // complete request heads
  uint64_t Refused = 0;       // 503 replies: MaxClients were being served
  uint64_t BadRequests = 0;   // 400, 405 and 431 replies
  uint64_t AuthRefused = 0;   // 401 replies
  uint64_t Dropped = 0;       // connections closed for idling or not reading
  uint64_t FramesSent = 0;    // stream parts and snapshots
  uint64_t FramesEncoded = 0;
};

class TKzHttpVideoServer : public TComponent {
public:
  // Main thread, never blocks.
  explicit TKzHttpVideoServer(TComponent* AOwner);
  // Stops serving and unpublishes everything. Main thread; blocks up to about a second.
  ~TKzHttpVideoServer() override;

  // Starts (binds BindAddress:Port, starts the threads) or stops serving.
  // Starting fails when the address cannot be bound: Active stays false and
  // LastError says why. Main thread; stopping blocks up to about a second.
  bool Active() const { return FActive; }
  void SetActive(bool Value);
  const std::string& LastError() const { return FLastError; }

  // Port 0 lets the system pick one; ListeningPort tells which. Default 0.
  // The settings below take effect at the next start unless said otherwise.
  uint16_t Port() const { return FPort; }
  void SetPort(uint16_t Value) { FPort = Value; }
  uint16_t ListeningPort() const { return FListeningPort.load(); }
  // Dotted IPv4 address; default "127.0.0.1" (loopback only).
  const std::string& BindAddress() const { return FBindAddress; }
  void SetBindAddress(const std::string& Value) { FBindAddress = Value; }
  TKzHttpAuthentication Authentication() const { return FAuthentication; }
  void SetAuthentication(TKzHttpAuthentication Value) { FAuthentication = Value; }
  const std::vector<TKzHttpUser>& Users() const { return FUsers; }
  void SetUsers(const std::vector<TKzHttpUser>& Value) { FUsers = Value; }
  const std::string& Realm() const { return FRealm; }
  void SetRealm(const std::string& Value) { FRealm = Value; }
  // Requests served at once (streams included); more are answered 503. Default 32.
  int32_t MaxClients() const { return FMaxClients; }
  void SetMaxClients(int32_t Value) { FMaxClients = Value < 1 ? 1 : Value; }
  // JPEG quality 1..100, default 80. Takes effect at the next frame.
  int32_t Quality() const { return FQuality.load(); }
  void SetQuality(int32_t Value) { FQuality.store(Value < 1 ? 1 : Value > 100 ? 100 : Value); }
  // Encodings per second and source at most, default 25. Takes effect at the next frame.
  double MaxFrameRate() const { return FMaxFrameRate.load(); }
  void SetMaxFrameRate(double Value) { FMaxFrameRate.store(Value < 0.1 ? 0.1 : Value); }
  // A connection that sends no complete request, or takes nothing of what
  // is sent to it, for this long is closed. Default 10000 ms.
  uint32_t IdleTimeoutMs() const { return FIdleTimeoutMs; }
  void SetIdleTimeoutMs(uint32_t Value) { FIdleTimeoutMs = Value < 100 ? 100 : Value; }

  // Publishes Source under Name (letters, digits, "-", "_"; at most 64),
  // frames from sender From only when it is given (a receiver's senders).
  // False, with LastError, for a bad or taken name. Works while active.
  // Main thread; blocks while the source delivers a frame.
  bool Publish(const std::string& Name, TKzVideoSource* Source, const TGUID& From = {});
  // Withdraws Name; its clients are disconnected. Main thread.
  void Unpublish(const std::string& Name);
  std::vector<std::string> Published() const;

  // "http://ADDRESS:PORT/" while active ("127.0.0.1" for "0.0.0.0"). Any thread.
  std::string PageURL() const;
  TKzHttpServerStats Stats() const;
  // Connections open now. Any thread.
  int32_t ClientCount() const { return FClientCount.load(); }

  // The server's thread: what the loop needs.
  std::shared_ptr<TKzHttpSourceSlot> FindSlot(const std::string& Name) const;
  std::vector<std::shared_ptr<TKzHttpSourceSlot>> Slots() const;
  std::string StatusJson() const;
  const TKzHttpAuthenticator& Authenticator() const { return FAuthenticator; }
  // Asks the encoder to look at the sources again. Any thread, never blocks.
  void WakeEncoder();

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  friend class TKzHttpServeLoop;
  void Start();
  void Stop();
  void EncodeRound();
  bool EncodeSlot(TKzHttpSourceSlot& Slot, TKzMBitmap& Frame);
  void RemoveSlot(const std::string& Name, bool Unregister);

  bool FActive = false;
  std::string FLastError;
  uint16_t FPort = 0;
  std::atomic<uint16_t> FListeningPort{0};
  std::string FBindAddress = "127.0.0.1";
  TKzHttpAuthentication FAuthentication = TKzHttpAuthentication::kzhaNone;
  std::vector<TKzHttpUser> FUsers;
  std::string FRealm = "KzMedia";
  int32_t FMaxClients = 32;
  std::atomic<int32_t> FQuality{80};
  std::atomic<double> FMaxFrameRate{25.0};
  uint32_t FIdleTimeoutMs = 10000;
  TKzHttpAuthenticator FAuthenticator;

  mutable std::mutex FSlotsLock;  // guards FSlots
  std::vector<std::shared_ptr<TKzHttpSourceSlot>> FSlots;

  std::unique_ptr<TKzHttpServeLoop> FLoop;
  std::unique_ptr<TKzHttpWorkerThread> FServeThread, FEncodeThread;
  std::mutex FEncodeLock;  // guards FEncodeWanted
  std::condition_variable FEncodeWake;
  bool FEncodeWanted = false;
  std::atomic<uint64_t> FFramesEncoded{0};
  std::atomic<int32_t> FClientCount{0};
};

}  // namespace kz
