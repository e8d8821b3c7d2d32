// The simulator's server: listeners, one picture source shared by every
// port, and one thread per connection.
#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzcamsim/kzcamsim_onvif.h"
#include "apps/kzcamsim/kzcamsim_vendor.h"

#include <array>
#include <cctype>
#include <cstring>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzInetReply.h"
#include "inet/fmxMKzMD5.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "video/fmxMKzImageWrapper.h"

using namespace kz;
using Clock = std::chrono::steady_clock;

namespace kzcamsim {

namespace {
constexpr size_t kMaxHead = 16384;
constexpr size_t kMaxBody = 1048576;
constexpr auto kIdleTimeOut = std::chrono::seconds(15);
constexpr uint32_t kSendTimeOutMs = 5000;
constexpr size_t kTickSlots = 4096;
constexpr size_t kLogSize = 4096;
constexpr size_t kNonces = 64;
const char* const kBoundary = "kzcamsimboundary";

std::string Hash(const std::string& S) { return MD5Print(MD5String(S)); }

// Bytes that look like anything but a JPEG marker, for the garbage fault.
std::string Garbage(uint32_t Seed, size_t Size) {
  std::string g = "--garbage--";
  uint32_t x = Seed * 2654435761u + 12345;
  while (g.size() < Size) {
    x = x * 1103515245u + 12345;
    g += static_cast<char>((x >> 16) % 255);  // never 0xFF
  }
  return g;
}

// A JPEG-framed block that no decoder accepts: the markers around garbage.
std::string Undecodable(const std::string& Jpeg, uint32_t Seed) {
  const size_t n = std::max<size_t>(Jpeg.size(), 64);
  return std::string("\xFF\xD8", 2) + Garbage(Seed, n - 4) + std::string("\xFF\xD9", 2);
}

std::string Hex(size_t N) {
  char b[32];
  std::snprintf(b, sizeof b, "%zx", N);
  return b;
}
}  // namespace

// ---- Requests

bool KzSimParseRequest(const std::string& Head, TKzSimRequest& Request) {
  Request = TKzSimRequest{};
  size_t eol = Head.find('\n');
  if (eol == std::string::npos) eol = Head.size();
  std::string line = Head.substr(0, eol);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t sp1 = line.find(' ');
  if (sp1 == std::string::npos || sp1 == 0) return false;
  const size_t sp2 = line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || sp2 == sp1 + 1) return false;
  Request.Method = line.substr(0, sp1);
  for (char c : Request.Method)
    if (c < 'A' || c > 'Z') return false;
  std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  Request.Version = KzTrim(line.substr(sp2 + 1));
  if (Request.Version.rfind("HTTP/", 0) != 0) return false;
  if (const size_t scheme = target.find("://"); scheme != std::string::npos && scheme < target.find('/')) {
    const size_t slash = target.find('/', scheme + 3);
    target = slash == std::string::npos ? "/" : target.substr(slash);
  }
  if (target.empty() || target[0] != '/') return false;
  const size_t q = target.find('?');
  Request.Path = target.substr(0, q);
  if (q != std::string::npos) Request.Query = target.substr(q + 1);
  const std::string headers = eol < Head.size() ? Head.substr(eol + 1) : std::string();
  Request.Authorization = KzHeaderValue(headers, "Authorization");
  Request.Host = KzHeaderValue(headers, "Host");
  if (const std::string length = KzTrim(KzHeaderValue(headers, "Content-Length")); !length.empty()) {
    Request.ContentLength = length.size() <= 12 && length.find_first_not_of("0123456789") == std::string::npos
                                ? std::stoll(length)
                                : -1;
  }
  const std::string connection = KzLowerCase(KzHeaderValue(headers, "Connection"));
  Request.KeepAlive = Request.Version == "HTTP/1.1" ? connection != "close" : connection == "keep-alive";
  return true;
}

std::map<std::string, std::string> KzSimAuthParams(const std::string& Value) {
  std::map<std::string, std::string> params;
  size_t i = Value.find_first_not_of(" \t");
  if (i == std::string::npos) return params;
  const size_t schemeEnd = std::min(Value.find_first_of(" \t", i), Value.size());
  params["scheme"] = KzLowerCase(Value.substr(i, schemeEnd - i));
  i = schemeEnd;
  for (int count = 0; i < Value.size() && count < 64; ++count) {
    i = Value.find_first_not_of(" \t,", i);
    if (i == std::string::npos) break;
    const size_t eq = Value.find_first_of("=,", i);
    if (eq == std::string::npos || Value[eq] == ',') {  // a bare word
      i = eq;
      continue;
    }
    const std::string name = KzLowerCase(KzTrim(Value.substr(i, eq - i)));
    std::string value;
    size_t j = Value.find_first_not_of(" \t", eq + 1);
    if (j != std::string::npos && Value[j] == '"') {
      for (++j; j < Value.size() && Value[j] != '"'; ++j) {
        if (Value[j] == '\\' && j + 1 < Value.size()) ++j;
        value += Value[j];
      }
      i = j + 1;
    } else {
      const size_t comma = j == std::string::npos ? Value.size() : std::min(Value.find(',', j), Value.size());
      if (j != std::string::npos) value = KzTrim(Value.substr(j, comma - j));
      i = comma;
    }
    params[name] = value;
  }
  return params;
}

bool KzSimCheckDigest(const std::map<std::string, std::string>& Params, const std::string& Method,
                      const std::string& UserName, const std::string& Password, const std::string& Realm) {
  auto get = [&Params](const char* Name) {
    const auto it = Params.find(Name);
    return it == Params.end() ? std::string() : it->second;
  };
  if (get("scheme") != "digest" || get("username") != UserName || get("realm") != Realm) return false;
  const std::string nonce = get("nonce"), cnonce = get("cnonce"), qop = get("qop"), nc = get("nc");
  std::string ha1 = Hash(UserName + ":" + Realm + ":" + Password);
  if (KzLowerCase(get("algorithm")) == "md5-sess") ha1 = Hash(ha1 + ":" + nonce + ":" + cnonce);
  const std::string ha2 = Hash(Method + ":" + get("uri"));
  const std::string want =
      qop.empty() ? Hash(ha1 + ":" + nonce + ":" + ha2) : Hash(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
  return KzLowerCase(get("response")) == want;
}

// ---- The server

struct TKzCamSim::TImpl {
  explicit TImpl(TKzSimOptions O) : Opt(std::move(O)), Faults(Opt.Faults) {}

  TKzSimOptions Opt;
  std::unique_ptr<TKzSimVendor> Vendor;  // the vendor mode, when one is set
  std::unique_ptr<TKzSimOnvif> Onvif;    // the ONVIF mode, when set
  std::vector<TKzSocket> Listeners;
  std::vector<uint16_t> Ports;
  std::atomic<bool> Stopping{false};
  bool Started = false;
  std::vector<std::thread> AcceptThreads;
  std::thread RenderThread;

  std::mutex FrameLock;  // guards Seq, Jpeg, Watchers
  std::condition_variable FrameCond;
  uint64_t Seq = 0;
  std::shared_ptr<const std::string> Jpeg;
  int32_t Watchers = 0;
  std::atomic<uint32_t> NextNumber{0};

  mutable std::mutex TickLock;  // guards Ticks
  std::array<std::pair<uint32_t, int64_t>, kTickSlots> Ticks{};

  struct TClient {
    std::thread Thread;
    std::atomic<bool> Done{false};
  };
  std::mutex ClientLock;  // guards Clients
  std::list<TClient> Clients;

  mutable std::mutex FaultLock;  // guards Faults
  TKzSimFaults Faults;

  std::mutex NonceLock;  // guards Nonces
  std::deque<std::string> Nonces;
  uint64_t NonceCount = 0;

  mutable std::mutex LogLock;  // guards Log
  std::deque<std::string> Log;

  mutable std::mutex CommandLock;  // guards CommandReplies, CommandLog
  std::map<std::string, TKzSimCommandReply> CommandReplies;
  std::deque<std::string> CommandLog;

  std::atomic<uint64_t> FramesRendered{0}, FramesSent{0}, BytesSent{0}, Connections{0}, Requests{0}, AuthRefused{0},
      StillImages{0};
  std::atomic<int32_t> Streaming{0};
  std::atomic<int32_t> Slots{0};  // streams admitted under MaxClients
  std::atomic<uint64_t> Refused{0};

  // Sleeps until T or until the server stops; false when it stopped.
  bool SleepUntil(Clock::time_point T) {
    while (!Stopping.load()) {
      const auto now = Clock::now();
      if (now >= T) return true;
      std::this_thread::sleep_for(std::min<Clock::duration>(T - now, std::chrono::milliseconds(50)));
    }
    return false;
  }

  // One picture as JPEG, numbered and remembered.
  std::string Render(TKzMBitmap& Bitmap, TKzImageWrapper& Encoder) {
    const uint32_t number = NextNumber.fetch_add(1);
    const int64_t wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    KzSimDrawFrame(Bitmap, Opt.Width, Opt.Height, number, wall, KzSimDiscNumber(Opt, number), Opt.DiscRadius);
    {
      std::lock_guard<std::mutex> g(TickLock);
      Ticks[number % kTickSlots] = {number, static_cast<int64_t>(KzMGetTickCount())};
    }
    TMemoryStream stream;
    Encoder.SaveToStream(stream, &Bitmap, Opt.Quality);
    ++FramesRendered;
    return std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
  }

  // Renders at the frame rate while anybody watches a stream.
  void RenderLoop() {
    TKzMBitmap bitmap;
    TKzImageWrapper encoder;
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(Opt.FramePerSec, 0.01)));
    Clock::time_point next;
    bool idle = true;
    while (!Stopping.load()) {
      {
        std::unique_lock<std::mutex> l(FrameLock);
        if (Watchers == 0) {
          FrameCond.wait_for(l, std::chrono::milliseconds(100));
          idle = true;
          continue;
        }
      }
      const auto now = Clock::now();
      if (idle || now > next + interval) next = now;  // start again after a pause
      idle = false;
      if (!SleepUntil(next)) break;
      next += interval;
      auto jpeg = std::make_shared<const std::string>(Render(bitmap, encoder));
      {
        std::lock_guard<std::mutex> g(FrameLock);
        Jpeg = std::move(jpeg);
        ++Seq;
      }
      FrameCond.notify_all();
    }
  }

  bool SendAll(TKzSocket S, const std::string& Data) {
    size_t off = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kSendTimeOutMs);
    while (off < Data.size()) {
      if (Stopping.load() || Clock::now() > deadline) return false;
      const int64_t r = PlatformSend(S, Data.data() + off, static_cast<int64_t>(Data.size() - off));
      if (r > 0) {
        off += static_cast<size_t>(r);
        continue;
      }
      if (r < 0 && PlatformSocketError() != TKzSocketError::kzseWouldBlock) return false;
      PlatformPollWrite(S, 100);
    }
    BytesSent += Data.size();
    return true;
  }

  void Note(const TKzSimRequest& R) {
    std::lock_guard<std::mutex> g(LogLock);
    Log.push_back(R.Method + " " + R.Path + (R.Query.empty() ? "" : "?" + R.Query));
    if (Log.size() > kLogSize) Log.pop_front();
  }

  // A request under /cmd/: logged, answered as set for its path (after its delay).
  std::string Command(const TKzSimRequest& R) {
    TKzSimCommandReply r;
    {
      std::lock_guard<std::mutex> g(CommandLock);
      if (auto it = CommandReplies.find(R.Path); it != CommandReplies.end()) r = it->second;
      CommandLog.push_back(R.Path + (R.Query.empty() ? "" : "?" + R.Query));
      if (CommandLog.size() > kLogSize) CommandLog.pop_front();
    }
    if (r.DelayMs > 0) SleepUntil(Clock::now() + std::chrono::milliseconds(r.DelayMs));
    const std::string status = std::to_string(r.Status) + (r.Status == 200 ? " OK" : " Status");
    return Reply(status, "", r.Body, R.KeepAlive, "text/plain");
  }

  std::string NewNonce() {
    std::lock_guard<std::mutex> g(NonceLock);
    std::string n = Hash(std::to_string(++NonceCount) + ":" + std::to_string(KzMGetTickCount()) + ":" +
                         std::to_string(reinterpret_cast<uintptr_t>(this)));
    Nonces.push_back(n);
    if (Nonces.size() > kNonces) Nonces.pop_front();
    return n;
  }

  bool KnownNonce(const std::string& N) {
    std::lock_guard<std::mutex> g(NonceLock);
    return std::find(Nonces.begin(), Nonces.end(), N) != Nonces.end();
  }

  bool Authorized(const TKzSimRequest& R) {
    switch (Opt.Auth) {
      case TKzSimAuth::kzsaNone:
        return true;
      case TKzSimAuth::kzsaBasic: {
        const auto p = KzSimAuthParams(R.Authorization);
        if (p.count("scheme") == 0 || p.at("scheme") != "basic") return false;
        const std::string token = KzTrim(R.Authorization.substr(R.Authorization.find_first_of(" \t") + 1));
        return DecodeBase64(token) == Opt.UserName + ":" + Opt.Password;
      }
      case TKzSimAuth::kzsaDigest: {
        const auto p = KzSimAuthParams(R.Authorization);
        const auto nonce = p.find("nonce");
        return nonce != p.end() && KnownNonce(nonce->second) &&
               KzSimCheckDigest(p, R.Method, Opt.UserName, Opt.Password, Opt.Realm);
      }
    }
    return false;
  }

  std::string Reply(const std::string& Status, const std::string& Extra, const std::string& Body, bool KeepAlive,
                    const std::string& Type = "text/html") {
    return "HTTP/1.1 " + Status + "\r\nServer: kzcamsim\r\nContent-Type: " + Type +
           "\r\nContent-Length: " + std::to_string(Body.size()) + "\r\nCache-Control: no-cache\r\n" + Extra +
           (KeepAlive ? "" : "Connection: close\r\n") + "\r\n" + Body;
  }

  std::string Challenge() {
    if (Opt.Auth == TKzSimAuth::kzsaBasic) return "WWW-Authenticate: Basic realm=\"" + Opt.Realm + "\"\r\n";
    return "WWW-Authenticate: Digest realm=\"" + Opt.Realm + "\", qop=\"auth\", nonce=\"" + NewNonce() +
           "\", algorithm=MD5\r\n";
  }

  TKzSimFaults CurrentFaults() const {
    std::lock_guard<std::mutex> g(FaultLock);
    return Faults;
  }

  // Sends the stream until the client goes, the server stops or a fault cuts it.
  void Stream(TKzSocket S) {
    std::string head = "HTTP/1.1 200 OK\r\nServer: kzcamsim\r\nContent-Type: multipart/x-mixed-replace; boundary=" +
                       std::string(kBoundary) + "\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n";
    head += Opt.Chunked ? "Transfer-Encoding: chunked\r\n" : "";
    head += "Connection: close\r\n\r\n";
    if (!SendAll(S, head)) return;
    uint64_t last;
    {
      std::lock_guard<std::mutex> g(FrameLock);
      ++Watchers;
      last = Seq;
    }
    FrameCond.notify_all();
    ++Streaming;
    int32_t sent = 0;
    bool stalled = false;
    while (!Stopping.load()) {
      std::shared_ptr<const std::string> jpeg;
      {
        std::unique_lock<std::mutex> l(FrameLock);
        FrameCond.wait_for(l, std::chrono::milliseconds(200), [&] { return Stopping.load() || Seq > last; });
        if (Seq <= last) continue;
        last = Seq;  // a client that fell behind gets the newest frame
        jpeg = Jpeg;
      }
      const TKzSimFaults f = CurrentFaults();
      if (f.StallAfterFrames > 0 && sent == f.StallAfterFrames && !stalled) {
        stalled = true;
        SleepUntil(Clock::now() + std::chrono::milliseconds(f.StallMs));
        continue;
      }
      const int32_t k = sent + 1;
      const bool cut = f.CloseAfterFrames > 0 && sent >= f.CloseAfterFrames;
      const bool truncate = f.TruncateEvery > 0 && k % f.TruncateEvery == 0;
      std::string part;
      if (f.GarbageEvery > 0 && k % f.GarbageEvery == 0) part += Garbage(static_cast<uint32_t>(k), 200 + k % 700);
      const std::string body = f.CorruptEvery > 0 && k % f.CorruptEvery == 0 ? Undecodable(*jpeg, k) : *jpeg;
      part += "--" + std::string(kBoundary) + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n";
      part.append(body, 0, truncate || cut ? body.size() / 2 : body.size());
      if (!cut) part += "\r\n";
      std::string wire;
      if (Opt.Chunked) {
        // A cut part announces its whole chunk and breaks off inside it.
        wire = Hex(cut ? part.size() * 2 : part.size()) + "\r\n" + part + (cut ? "" : "\r\n");
      } else {
        wire = std::move(part);
      }
      if (!SendAll(S, wire)) break;
      ++FramesSent;
      ++sent;
      if (cut) break;
    }
    --Streaming;
    {
      std::lock_guard<std::mutex> g(FrameLock);
      --Watchers;
    }
  }

  void Serve(TKzSocket S) {
    ++Connections;
    PlatformSetNoDelay(S, true);
    std::string data;
    TKzMBitmap bitmap;
    std::unique_ptr<TKzImageWrapper> encoder;
    auto idleUntil = Clock::now() + kIdleTimeOut;
    // Reads more of the request: 1 more, 0 nothing yet, -1 the connection is done.
    auto readMore = [&](size_t Limit) {
      if (Stopping.load() || data.size() > Limit || Clock::now() > idleUntil) return -1;
      const int ready = PlatformPollRead(S, 100);
      if (ready < 0) return -1;
      if (ready == 0) return 0;
      char buf[4096];
      const int64_t r = PlatformRecv(S, buf, sizeof buf);
      if (r == 0 || (r < 0 && PlatformSocketError() != TKzSocketError::kzseWouldBlock)) return -1;
      if (r > 0) data.append(buf, static_cast<size_t>(r));
      return 1;
    };
    while (!Stopping.load()) {
      size_t end = std::string::npos;
      bool gone = false;
      while (!gone && (end = data.find("\r\n\r\n")) == std::string::npos) gone = readMore(kMaxHead) < 0;
      if (gone) {
        PlatformCloseSocket(S);
        return;
      }
      const std::string head = data.substr(0, end + 4);
      data.erase(0, end + 4);
      ++Requests;
      TKzSimRequest req;
      if (!KzSimParseRequest(head, req)) {
        SendAll(S, Reply("400 Bad Request", "", "400 Bad Request", false));
        break;
      }
      if (req.ContentLength < 0 || req.ContentLength > static_cast<int64_t>(kMaxBody)) {
        SendAll(S, Reply("413 Payload Too Large", "", "413 Payload Too Large", false));
        break;
      }
      while (!gone && data.size() < static_cast<size_t>(req.ContentLength)) gone = readMore(kMaxBody) < 0;
      if (gone) break;
      req.Body = data.substr(0, static_cast<size_t>(req.ContentLength));
      data.erase(0, static_cast<size_t>(req.ContentLength));
      Note(req);
      // Addresses the ONVIF services hand out name the port the client reached.
      if (req.Host.find(':') == std::string::npos && !req.Host.empty())
        req.Host += ":" + std::to_string(PlatformSocketLocalPort(S));
      std::string reply;
      if (Onvif && req.Path.rfind("/onvif/", 0) == 0 && !Authorized(req)) {
        // --auth guards the services at the HTTP layer as well, as some cameras do.
        ++AuthRefused;
        reply = Reply("401 Unauthorized", Challenge(), "<html><body>401 Unauthorized</body></html>", req.KeepAlive);
      } else if (Onvif && req.Path.rfind("/onvif/", 0) == 0) {
        const TKzSimVendorAnswer a = Onvif->Handle(req, SelfURL(req, Opt.StreamPath), SelfURL(req, Opt.StillPath));
        reply = Reply(std::to_string(a.Status) + (a.Status == 200 ? " OK" : " Status"), a.Extra, a.Body,
                      req.KeepAlive, a.Type);
      } else if (Vendor) {
        const TKzSimVendorAnswer a = Vendor->Handle(req);
        if (a.Stream && !TakeStreamSlot()) {
          ++Refused;
          reply = Reply("503 Service Unavailable", "", "too many clients", false);
        } else if (a.Stream) {
          Stream(S);
          --Slots;
          break;
        } else if (a.Still) {
          if (!encoder) encoder = std::make_unique<TKzImageWrapper>();
          ++StillImages;
          reply = Reply("200 OK", "", Render(bitmap, *encoder), req.KeepAlive, "image/jpeg");
        } else {
          if (a.Status == 401) ++AuthRefused;
          reply = Reply(std::to_string(a.Status) + (a.Status == 200 ? " OK" : " Status"), a.Extra, a.Body,
                        req.KeepAlive, a.Type);
        }
      } else if (!Authorized(req)) {
        ++AuthRefused;
        reply = Reply("401 Unauthorized", Challenge(), "<html><body>401 Unauthorized</body></html>", req.KeepAlive);
      } else if (req.Path.rfind("/cmd/", 0) == 0) {
        reply = Command(req);
      } else if (req.Path == Opt.StreamPath && !TakeStreamSlot()) {
        ++Refused;
        reply = Reply("503 Service Unavailable", "", "too many clients", false);
      } else if (req.Path == Opt.StreamPath) {
        Stream(S);
        --Slots;
        break;
      } else if (req.Path == Opt.StillPath || req.Path.rfind("/still/", 0) == 0) {
        if (!encoder) encoder = std::make_unique<TKzImageWrapper>();
        ++StillImages;
        reply = Reply("200 OK", "", Render(bitmap, *encoder), req.KeepAlive, "image/jpeg");
      } else {
        reply = Reply("404 Not Found", "", "<html><body>404 Not Found</body></html>", req.KeepAlive);
      }
      if (req.Method == "HEAD") reply.erase(reply.find("\r\n\r\n") + 4);
      if (!SendAll(S, reply) || !req.KeepAlive) break;
      idleUntil = Clock::now() + kIdleTimeOut;
    }
    PlatformCloseSocket(S);
  }

  // "http://<the host the client named><Path>".
  std::string SelfURL(const TKzSimRequest& R, const std::string& Path) const {
    return "http://" + (R.Host.empty() ? Opt.BindAddress : R.Host) + Path;
  }

  // One of the MaxClients stream slots; false when all are taken.
  bool TakeStreamSlot() {
    if (++Slots <= Opt.MaxClients || Opt.MaxClients <= 0) return true;
    --Slots;
    return false;
  }

  void AcceptLoop(TKzSocket Listener) {
    while (!Stopping.load()) {
      TKzSocket s = PlatformAccept(Listener, 100);
      ReapClients(false);
      if (s == KZ_INVALID_SOCKET) continue;
      std::lock_guard<std::mutex> g(ClientLock);
      Clients.emplace_back();
      TClient& c = Clients.back();
      c.Thread = std::thread([this, s, &c] {
        Serve(s);
        c.Done.store(true);
      });
    }
  }

  // Joins the connection threads that ended (all of them when All).
  void ReapClients(bool All) {
    std::list<TClient> gone;
    {
      std::lock_guard<std::mutex> g(ClientLock);
      for (auto it = Clients.begin(); it != Clients.end();) {
        auto next = std::next(it);
        if (All || it->Done.load()) gone.splice(gone.end(), Clients, it);
        it = next;
      }
    }
    for (TClient& c : gone)
      if (c.Thread.joinable()) c.Thread.join();
  }
};

TKzCamSim::TKzCamSim(TKzSimOptions Options) : F(std::make_unique<TImpl>(std::move(Options))) {}

TKzCamSim::~TKzCamSim() { Stop(); }

const TKzSimOptions& TKzCamSim::Options() const { return F->Opt; }

bool TKzCamSim::Start(std::string* Error) {
  if (F->Started) return true;
  if (!F->Opt.Vendor.empty() && !F->Vendor) {
    F->Vendor = TKzSimVendor::Make(F->Opt, Error);
    if (!F->Vendor) return false;
  }
  F->Ports.clear();
  // 0.0.0.0 (every local address) is a valid address whose number is 0.
  const bool any = F->Opt.BindAddress == "0.0.0.0";
  const uint32_t address = any ? 0 : PlatformLookupIPv4(F->Opt.BindAddress);
  if (!any && address == 0) {
    if (Error) *Error = "cannot listen on " + F->Opt.BindAddress + ": not an address of this machine";
    return false;
  }
  for (int32_t i = 0; i < std::max(1, F->Opt.PortCount); ++i) {
    const uint16_t want = F->Opt.Port ? static_cast<uint16_t>(F->Opt.Port + i) : 0;
    TKzSocket l = PlatformListenTCP(address, want, 64);
    if (l == KZ_INVALID_SOCKET) {
      std::string why = std::strerror(PlatformSocketErrorCode());
      if (!why.empty()) why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
      if (Error) *Error = "cannot listen on " + F->Opt.BindAddress + ":" + std::to_string(want) + ": " + why;
      for (TKzSocket& s : F->Listeners) PlatformCloseSocket(s);
      F->Listeners.clear();
      F->Ports.clear();
      return false;
    }
    F->Listeners.push_back(l);
    F->Ports.push_back(PlatformSocketLocalPort(l));
  }
  if (F->Opt.Onvif) {
    if (!F->Onvif) F->Onvif = TKzSimOnvif::Make(F->Opt, Error);
    if (!F->Onvif || !F->Onvif->StartDiscovery(F->Opt.BindAddress, F->Ports, Error)) {
      for (TKzSocket& s : F->Listeners) PlatformCloseSocket(s);
      F->Listeners.clear();
      F->Ports.clear();
      return false;
    }
  }
  F->Started = true;
  F->Stopping = false;
  F->RenderThread = std::thread([this] { F->RenderLoop(); });
  for (TKzSocket l : F->Listeners) F->AcceptThreads.emplace_back([this, l] { F->AcceptLoop(l); });
  return true;
}

void TKzCamSim::Stop() {
  if (!F->Started) return;
  F->Stopping = true;
  F->FrameCond.notify_all();
  for (std::thread& t : F->AcceptThreads) t.join();
  F->AcceptThreads.clear();
  F->ReapClients(true);
  F->RenderThread.join();
  if (F->Onvif) F->Onvif->StopDiscovery();
  for (TKzSocket& s : F->Listeners) PlatformCloseSocket(s);
  F->Listeners.clear();
  F->Started = false;
}

uint16_t TKzCamSim::Port(int32_t Index) const {
  return Index >= 0 && Index < static_cast<int32_t>(F->Ports.size()) ? F->Ports[static_cast<size_t>(Index)] : 0;
}

std::string TKzCamSim::URL(const std::string& Path, int32_t Index) const {
  const std::string host = F->Opt.BindAddress == "0.0.0.0" ? "127.0.0.1" : F->Opt.BindAddress;
  return "http://" + host + ":" + std::to_string(Port(Index)) + Path;
}

void TKzCamSim::SetFaults(const TKzSimFaults& Faults) {
  std::lock_guard<std::mutex> g(F->FaultLock);
  F->Faults = Faults;
}

TKzSimStats TKzCamSim::Stats() const {
  TKzSimStats s;
  s.FramesRendered = F->FramesRendered.load();
  s.FramesSent = F->FramesSent.load();
  s.BytesSent = F->BytesSent.load();
  s.Connections = F->Connections.load();
  s.Requests = F->Requests.load();
  s.AuthRefused = F->AuthRefused.load();
  s.StillImages = F->StillImages.load();
  s.Streaming = F->Streaming.load();
  s.Refused = F->Refused.load();
  return s;
}

std::vector<std::string> TKzCamSim::Requests() const {
  std::lock_guard<std::mutex> g(F->LogLock);
  return std::vector<std::string>(F->Log.begin(), F->Log.end());
}

void TKzCamSim::SetCommandReply(const std::string& Path, const TKzSimCommandReply& Reply) {
  std::lock_guard<std::mutex> g(F->CommandLock);
  F->CommandReplies[Path] = Reply;
}

std::vector<std::string> TKzCamSim::Commands() const {
  std::lock_guard<std::mutex> g(F->CommandLock);
  return std::vector<std::string>(F->CommandLog.begin(), F->CommandLog.end());
}

void TKzCamSim::ClearCommands() {
  std::lock_guard<std::mutex> g(F->CommandLock);
  F->CommandLog.clear();
}

TKzSimVendor* TKzCamSim::Vendor() const { return F->Vendor.get(); }
TKzSimOnvif* TKzCamSim::Onvif() const { return F->Onvif.get(); }

int64_t TKzCamSim::FrameTick(uint32_t Number) const {
  std::lock_guard<std::mutex> g(F->TickLock);
  const auto& slot = F->Ticks[Number % kTickSlots];
  return slot.first == Number && slot.second != 0 ? slot.second : -1;
}

}  // namespace kzcamsim
