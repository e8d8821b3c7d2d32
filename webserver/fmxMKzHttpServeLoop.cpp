#include "webserver/fmxMKzHttpServeLoop.h"

#include <cstdio>

#include "foundation/fmxMKzType.h"
#include "webserver/fmxMKzHttpVideoServer.h"
#include "webserver/fmxMKzHttpWallPage.h"

namespace kz {

namespace {
constexpr const char* kBoundary = "kzmediaframe";
constexpr int kAcceptsPerRound = 64;
constexpr uint32_t kRoundMs = 100;

struct TStatusText {
  int Status;
  const char* Text;
};
const TStatusText kStatusTexts[] = {
    {200, "OK"},          {400, "Bad Request"},      {401, "Unauthorized"},     {404, "Not Found"},
    {405, "Method Not Allowed"}, {408, "Request Timeout"}, {431, "Request Header Fields Too Large"},
    {503, "Service Unavailable"},
};

const char* StatusText(int Status) {
  for (const TStatusText& t : kStatusTexts)
    if (t.Status == Status) return t.Text;
  return "Error";
}

std::string Head(int Status, const std::string& Type, size_t Length, const std::string& Extra, bool Close) {
  char line[96];
  std::snprintf(line, sizeof line, "HTTP/1.1 %d %s\r\n", Status, StatusText(Status));
  std::string h = line;
  h += "Content-Type: " + Type + "\r\nContent-Length: " + std::to_string(Length) +
       "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n" + Extra;
  if (Close) h += "Connection: close\r\n";
  return h + "\r\n";
}
}  // namespace

TKzHttpServeLoop::TKzHttpServeLoop(TKzHttpVideoServer& Server, TKzSocket Listening, int32_t MaxClients,
                                   uint32_t IdleTimeoutMs)
    : FServer(Server), FListening(Listening), FMaxClients(MaxClients), FIdleTimeoutMs(IdleTimeoutMs) {}

TKzHttpServeLoop::~TKzHttpServeLoop() {
  for (auto& c : FConnections) Leave(*c);
  FConnections.clear();
  PlatformCloseSocket(FListening);
}

void TKzHttpServeLoop::AddStats(TKzHttpServerStats& S) const {
  S.Connections += FAccepted.load();
  S.Requests += FRequests.load();
  S.Refused += FRefused.load();
  S.BadRequests += FBad.load();
  S.AuthRefused += FAuthRefused.load();
  S.Dropped += FDropped.load();
  S.FramesSent += FSent.load();
}

void TKzHttpServeLoop::Round() {
  if (!FListeningWatched) FListeningWatched = FPoll.Add(FListening, kListeningToken);
  // A connection is watched for room to write only while it has output; a
  // socket the set does not know yet (new, or a reused number) is added.
  for (auto& c : FConnections) {
    const uint64_t token = reinterpret_cast<uintptr_t>(c.get());
    if (!FPoll.Modify(c->Socket(), token, true, c->HasOutput())) FPoll.Add(c->Socket(), token, c->HasOutput());
  }
  FPoll.Wait(kRoundMs, FEvents);
  bool accept = false;
  FReady.clear();
  for (const TKzPollSet::TEvent& e : FEvents) {
    if (e.Token == kListeningToken) accept = true;
    else if (e.Token != TKzPollSet::WakeToken)
      FReady[e.Token] = static_cast<uint8_t>((e.Readable ? kReadable : 0) | (e.Writable ? kWritable : 0));
  }
  const uint64_t now = KzMGetTickCount();
  for (auto it = FConnections.begin(); it != FConnections.end();) {
    const auto ready = FReady.find(reinterpret_cast<uintptr_t>(it->get()));
    if (Serve(**it, ready == FReady.end() ? 0 : ready->second, now)) {
      ++it;
      continue;
    }
    FPoll.Remove((*it)->Socket());
    Leave(**it);
    it = FConnections.erase(it);
  }
  if (accept) Accept(now);
  FOpen.store(static_cast<int32_t>(FConnections.size()));
}

void TKzHttpServeLoop::Accept(uint64_t Now) {
  for (int k = 0; k < kAcceptsPerRound; ++k) {
    const TKzSocket s = PlatformAccept(FListening, 0);
    if (s == KZ_INVALID_SOCKET) return;
    ++FAccepted;
    // Too many connections that are not streams or snapshots (asking for
    // nothing yet, or taking a short reply): the oldest goes.
    int32_t waiting = 0;
    auto oldest = FConnections.end();
    for (auto it = FConnections.begin(); it != FConnections.end(); ++it) {
      const TKzHttpConnection::TState state = (*it)->State;
      if (state != TKzHttpConnection::TState::kzcsHead && state != TKzHttpConnection::TState::kzcsReply) continue;
      ++waiting;
      if (oldest == FConnections.end()) oldest = it;
    }
    if (waiting >= FMaxClients && oldest != FConnections.end()) {
      (*oldest)->Queue(Head(408, "text/plain", 0, {}, true));
      (*oldest)->Flush(Now);
      ++FDropped;
      FPoll.Remove((*oldest)->Socket());
      Leave(**oldest);
      FConnections.erase(oldest);
    }
    FConnections.push_back(std::make_unique<TKzHttpConnection>(s, Now));
  }
}

bool TKzHttpServeLoop::Serve(TKzHttpConnection& C, uint8_t Ready, uint64_t Now) {
  using TState = TKzHttpConnection::TState;
  // A hang-up or error shows as readable: the read tells.
  if (Ready & kReadable) {
    if (!C.Receive(KzHttpMaxRequestHead, Now)) return false;
    // What a stream client sends besides its request means nothing here.
    if (C.State == TState::kzcsStream) C.Input().clear();
  }
  for (int pipelined = 0; pipelined < 8; ++pipelined) {
    if (C.State == TState::kzcsHead && !C.Input().empty() && !HandleHead(C, Now)) return false;
    if ((C.State == TState::kzcsStream || C.State == TState::kzcsSnapshot) && !Feed(C, Now)) return false;
    if (C.HasOutput() && !C.Flush(Now)) return false;
    if (C.State != TState::kzcsReply || C.HasOutput()) break;
    // A reply went out whole: the connection ends or takes its next request.
    if (C.CloseWhenSent) return false;
    C.State = TState::kzcsHead;
    C.StateSince = Now;
  }
  const uint64_t idle = FIdleTimeoutMs;
  if (C.State == TState::kzcsHead && Now - C.StateSince > idle) {
    C.Queue(Head(408, "text/plain", 0, {}, true));
    C.Flush(Now);
    ++FDropped;
    return false;
  }
  if (C.HasOutput() && Now - C.LastProgress() > idle) {
    ++FDropped;  // takes nothing of what is sent
    return false;
  }
  if (C.State == TState::kzcsSnapshot && Now - C.StateSince > idle) {
    Leave(C);
    const std::string body = "No picture from this source yet.\n";
    C.Queue(Head(503, "text/plain", body.size(), "Retry-After: 2\r\n", true) + body);
    C.State = TState::kzcsReply;
    C.CloseWhenSent = true;
    C.Flush(Now);
  }
  return true;
}

bool TKzHttpServeLoop::HandleHead(TKzHttpConnection& C, uint64_t Now) {
  TKzHttpRequest r;
  size_t used = 0;
  const std::string& in = C.Input();
  switch (KzParseHttpRequest(in.data(), in.size(), r, used)) {
    case TKzHttpParse::kzhpIncomplete: return true;
    case TKzHttpParse::kzhpTooLarge:
      ++FBad;
      C.Input().clear();
      Reply(C, 431, "text/plain", "Request head too large.\n", false, {}, true);
      return true;
    case TKzHttpParse::kzhpBad:
      ++FBad;
      C.Input().clear();
      Reply(C, 400, "text/plain", "Malformed request.\n", false, {}, true);
      return true;
    case TKzHttpParse::kzhpDone: break;
  }
  ++FRequests;
  C.Input().erase(0, used);
  C.CloseWhenSent = !r.KeepAlive;
  Answer(C, r, Now);
  return true;
}

void TKzHttpServeLoop::Answer(TKzHttpConnection& C, const TKzHttpRequest& R, uint64_t Now) {
  const bool headOnly = R.Method == "HEAD";
  if (R.Method != "GET" && !headOnly) {
    ++FBad;
    Reply(C, 405, "text/plain", "Only GET and HEAD.\n", headOnly, "Allow: GET, HEAD\r\n", true);
    return;
  }
  std::string name;
  const TKzHttpRoute route = KzHttpRoute(R.Path, name);
  if (route == TKzHttpRoute::kzhrBadPath) {
    ++FBad;
    Reply(C, 400, "text/plain", "Bad path.\n", headOnly, {}, true);
    return;
  }
  bool stale = false;
  if (!FServer.Authenticator().Check(R, stale)) {
    ++FAuthRefused;
    Reply(C, 401, "text/plain", "Authentication required.\n", headOnly, FServer.Authenticator().Challenge(stale));
    return;
  }
  std::shared_ptr<TKzHttpSourceSlot> slot;
  switch (route) {
    case TKzHttpRoute::kzhrPage: Reply(C, 200, "text/html; charset=utf-8", KzHttpWallPage(), headOnly); return;
    case TKzHttpRoute::kzhrStatus: Reply(C, 200, "application/json", FServer.StatusJson(), headOnly); return;
    case TKzHttpRoute::kzhrVideo:
    case TKzHttpRoute::kzhrSnapshot: slot = FServer.FindSlot(name); break;
    default: break;
  }
  if (!slot) {
    Reply(C, 404, "text/plain", "Not found.\n", headOnly);
    return;
  }
  if (!headOnly && Serving() >= FMaxClients) {
    ++FRefused;
    Reply(C, 503, "text/plain", "Too many clients; try again later.\n", headOnly, "Retry-After: 2\r\n", true);
    return;
  }
  if (route == TKzHttpRoute::kzhrVideo)
    StartStream(C, std::move(slot), headOnly, Now);
  else
    StartSnapshot(C, std::move(slot), headOnly, Now);
}

void TKzHttpServeLoop::Reply(TKzHttpConnection& C, int Status, const std::string& Type, const std::string& Body,
                             bool HeadOnly, const std::string& Extra, bool Close) {
  C.CloseWhenSent = C.CloseWhenSent || Close;
  C.Queue(Head(Status, Type, Body.size(), Extra, C.CloseWhenSent) + (HeadOnly ? std::string() : Body));
  C.State = TKzHttpConnection::TState::kzcsReply;
}

void TKzHttpServeLoop::StartStream(TKzHttpConnection& C, std::shared_ptr<TKzHttpSourceSlot> Slot, bool HeadOnly,
                                   uint64_t Now) {
  C.CloseWhenSent = true;
  C.Queue(std::string("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=") + kBoundary +
          "\r\nCache-Control: no-store\r\nPragma: no-cache\r\nConnection: close\r\n\r\n");
  if (HeadOnly) {
    C.State = TKzHttpConnection::TState::kzcsReply;
    return;
  }
  C.State = TKzHttpConnection::TState::kzcsStream;
  C.StateSince = Now;
  C.LastNumber = 0;
  ++Slot->Streams;
  C.Slot = std::move(Slot);
  FServer.WakeEncoder();
}

void TKzHttpServeLoop::StartSnapshot(TKzHttpConnection& C, std::shared_ptr<TKzHttpSourceSlot> Slot, bool HeadOnly,
                                     uint64_t Now) {
  const TKzHttpJpegRef j = Slot->Jpeg();
  if (j && (HeadOnly || !Slot->HasNewFrame())) {
    // The newest frame is encoded already.
    ReplyPicture(C, j, HeadOnly);
    return;
  }
  // Waits for the encoding of the frame that waits (or of the first one).
  C.State = TKzHttpConnection::TState::kzcsSnapshot;
  C.StateSince = Now;
  C.LastNumber = j ? j->Number : 0;
  ++Slot->Waiting;
  C.Slot = std::move(Slot);
  FServer.WakeEncoder();
}

void TKzHttpServeLoop::ReplyPicture(TKzHttpConnection& C, const TKzHttpJpegRef& Jpeg, bool HeadOnly) {
  C.Queue(Head(200, "image/jpeg", Jpeg->Bytes.size(), {}, C.CloseWhenSent));
  if (!HeadOnly) C.Queue(Jpeg);
  C.State = TKzHttpConnection::TState::kzcsReply;
  ++FSent;
}

bool TKzHttpServeLoop::Feed(TKzHttpConnection& C, uint64_t) {
  if (C.Slot->Withdrawn.load()) return false;
  if (C.HasOutput()) return true;  // the newest encoding goes when this one is out
  const TKzHttpJpegRef j = C.Slot->Jpeg();
  if (!j || j->Number <= C.LastNumber) return true;
  C.LastNumber = j->Number;
  if (C.State == TKzHttpConnection::TState::kzcsSnapshot) {
    Leave(C);
    ReplyPicture(C, j, false);
    return true;
  }
  char part[128];
  std::snprintf(part, sizeof part, "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n", kBoundary,
                j->Bytes.size());
  C.Queue(part);
  C.Queue(j);
  C.Queue(std::string("\r\n"));
  ++FSent;
  return true;
}

void TKzHttpServeLoop::Leave(TKzHttpConnection& C) {
  if (!C.Slot) return;
  if (C.State == TKzHttpConnection::TState::kzcsStream) --C.Slot->Streams;
  if (C.State == TKzHttpConnection::TState::kzcsSnapshot) --C.Slot->Waiting;
  C.Slot.reset();
}

int32_t TKzHttpServeLoop::Serving() const {
  int32_t n = 0;
  for (const auto& c : FConnections)
    n += c->State == TKzHttpConnection::TState::kzcsStream || c->State == TKzHttpConnection::TState::kzcsSnapshot;
  return n;
}

}  // namespace kz
