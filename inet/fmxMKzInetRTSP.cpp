// RTSP requests on the client's connections, and the probes that check
// whether a URL answers.
#include <algorithm>

#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
constexpr size_t kMaxRtspBody = 1 << 20;

std::string UserAgentLine(const TInet& I) { return "User-Agent: " + (I.Agent.empty() ? std::string("KZMEDIA") : I.Agent); }

TKzMChannelRTSP* CurrentChannel(TInet& I) {
  if (I.CurChannel < 0 || I.CurChannel >= static_cast<int32_t>(I.ChannelRTSP.size())) return nullptr;
  return &I.ChannelRTSP[static_cast<size_t>(I.CurChannel)];
}

// Reads Length body bytes after an RTSP reply header (Buffer first).
bool ReadRtspBody(PInet I, size_t Length, std::string& Body) {
  Body.clear();
  const int64_t avail = I->Buffer.Size() - I->Buffer.Position();
  if (avail > 0) {
    Body.resize(std::min<size_t>(Length, static_cast<size_t>(avail)));
    I->Buffer.Read(Body.data(), static_cast<int64_t>(Body.size()));
  }
  const uint64_t deadline = KzMGetTickCount() + static_cast<uint64_t>(std::max<int64_t>(I->WaitRecv, 1));
  char buf[8192];
  while (Body.size() < Length) {
    if (KzInetAborted(I)) return false;
    const int64_t r = PlatformRecv(I->Socket, buf, static_cast<int64_t>(std::min(sizeof buf, Length - Body.size())));
    if (r > 0) {
      Body.append(buf, static_cast<size_t>(r));
      continue;
    }
    if (r == 0) return false;
    const TKzSocketError e = PlatformSocketError();
    if (e != TKzSocketError::kzseWouldBlock && e != TKzSocketError::kzseTimedOut) return false;
    const uint64_t now = KzMGetTickCount();
    if (now >= deadline) return false;
    PlatformPollRead(I->Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, std::max(I->cKzINET_SLEEP_TIME, 10))));
  }
  return true;
}

void TakeSdpChannels(TInet& I, const std::string& Sdp) {
  I.ChannelCount = 0;
  for (const TKzSdpMedia& m : KzScanSdp(Sdp)) {
    if (I.ChannelCount >= static_cast<int32_t>(I.ChannelRTSP.size()))
      I.ChannelRTSP.resize(std::max<size_t>(1, I.ChannelRTSP.size() * 2));
    TKzMChannelRTSP& c = I.ChannelRTSP[static_cast<size_t>(I.ChannelCount++)];
    c = TKzMChannelRTSP{};
    c.TypeMedia = m.TypeMedia;
    c.Control = m.Control;
  }
}

// A record for a probe of URL under a time-out class, with the target's
// host, path and port (the URL's own port wins over Port, then Default).
PInet OpenProbe(const std::string& Agent, const std::string& URL, uint16_t Port, uint16_t Default,
                TKzTimeOut TimeOut, std::string& Host, std::string& Path, uint16_t& OutPort,
                std::atomic<bool>* Abort) {
  int port = 0;
  ParseURL2(URL, Port ? Port : Default, Host, Path, port);
  OutPort = static_cast<uint16_t>(port);
  PInet h = InternetOpen(Agent.c_str(), 0, nullptr, nullptr, 0);
  SetInetTimeOut(h, TimeOut);
  if (h && Abort) h->Abort = Abort;
  return h;
}

void CloseAll(PInet& I) {
  for (int k = 0; I && k < 4; ++k) InternetCloseHandle(I);
}

bool Terminating() { return Application().Terminated(); }
}  // namespace

PInet RtspInternetConnect(PInet I, const std::string& Host, uint16_t Port, const std::string& Path,
                          const std::string& UserName, const std::string& Password) {
  if (!I) return nullptr;
  std::string url = "rtsp://";
  if (!Password.empty()) url.append(KzMakeUserPart(UserName, Password));
  url.append(Host);
  if (Port) url.append(":").append(std::to_string(Port));
  I->URL = url.append(Path);
  return InternetConnect(I, Host.c_str(), Port, UserName.c_str(), Password.c_str(), INTERNET_SERVICE_RTSP, 0, 0);
}

std::string CreateHeaderRTSP(PInet I) {
  if (!I) return {};
  const std::string& m = I->Query;
  std::string uri;
  if (m == "SETUP") {
    const TKzMChannelRTSP* c = CurrentChannel(*I);
    const std::string control = c ? c->Control : std::string();
    if (control.compare(0, 7, "rtsp://") == 0)
      uri = control;
    else if (I->ContentBase.empty())
      uri = I->URL + (control.empty() ? "" : "/" + control);
    else
      uri = I->ContentBase + control;
  } else if (m == "DESCRIBE" || I->ContentBase.empty()) {
    uri = I->URL;
  } else {
    uri = I->ContentBase;
  }
  std::string h = m + " " + uri + " " + I->VersionProtocol + "\r\n";
  h += "CSeq: " + std::to_string(++I->CSeq) + "\r\n";
  if (m == "DESCRIBE") h += "Accept: application/sdp\r\n";
  if (m == "SETUP") {
    const TKzMChannelRTSP* c = CurrentChannel(*I);
    const int32_t p = c ? c->ClientPort : 0;
    h += "Transport: RTP/AVP;unicast;client_port=" + std::to_string(p) + "-" + std::to_string(p + 1) + "\r\n";
  }
  if (m == "PLAY" || m == "TEARDOWN") {
    h += "Session: " + I->SessionNum + "\r\n";
    h += "Range: npt=0.000-\r\n";
    if (m == "PLAY") I->FileName = uri;
  }
  h += UserAgentLine(*I) + "\r\n\r\n";
  return h;
}

PInet RtspOpenRequest(PInet I, const std::string& Method) {
  if (!I) return nullptr;
  if (I->StepConnect == 3) {  // the last request was never answered: its connection is unusable
    KzInetCloseSocket(I);
    I->StepConnect = 2;
  }
  I->Buffer.Clear();
  I->FBodyEnded = false;
  I->Query = Method;
  I->req = CreateHeaderRTSP(I);
  I->StepConnect = 3;
  return I;
}

bool RtspSendRequest(PInet I) {
  if (!I || KzInetAborted(I)) return false;
  return KzInetSocketSend(I, I->req) > 0;
}

bool RtspQueryInfo(PInet I, uint32_t& Status) {
  Status = 0;
  if (!I) return false;
  I->StepConnect = 4;
  I->FBodyEnded = false;
  if (I->Socket == KZ_INVALID_SOCKET || !KzInetRecvHeader(I)) return false;
  Status = KzReplyStatus(I->Header, I->VersionProtocol);
  I->FStatus = Status;
  const int64_t length = KzStrToIntDef(KzHeaderValue(I->Header, "Content-Length"), 0);
  std::string body;
  if (length > 0 && (static_cast<size_t>(length) > kMaxRtspBody || !ReadRtspBody(I, static_cast<size_t>(length), body)))
    return false;
  I->Header += body;
  I->Buffer.Clear();
  I->FBodyEnded = true;
  const std::string base = KzHeaderValue(I->Header, "Content-Base");
  if (!base.empty()) I->ContentBase = base;
  if (Status == 200 && I->Query == "DESCRIBE") TakeSdpChannels(*I, body);
  if (Status == 200 && I->Query == "SETUP") {
    const std::string session = KzHeaderValue(I->Header, "Session");
    I->SessionNum = KzTrim(session.substr(0, session.find(';')));
    if (TKzMChannelRTSP* c = CurrentChannel(*I)) {
      c->Transport = KzHeaderValue(I->Header, "Transport");
      const size_t p = c->Transport.find("server_port=");
      if (p != std::string::npos) c->ServerPort = static_cast<int32_t>(KzStrToIntDef(
                                      c->Transport.substr(p + 12, c->Transport.find_first_of("-;", p + 12) - p - 12), 0));
    }
  }
  if (KzPosI(I->Header, "CONNECTION: CLOSE") != std::string::npos) I->IsCloseSocket = true;
  return true;
}

bool SendRTSPCmd(PInet I, const std::string& Method) {
  if (!I) return false;
  uint32_t status = 0;
  const bool ok = RtspOpenRequest(I, Method) && RtspSendRequest(I) && RtspQueryInfo(I, status);
  // An abort while the answer was on its way keeps the connection: servers
  // that stop a disconnected client's media would end the session before the
  // TEARDOWN that follows an abort, sent on a new connection, could reach it.
  // Nothing but that TEARDOWN is asked after an abort, and only its status
  // (whichever answer comes first) matters.
  if (!ok && KzInetAborted(I) && I->StepConnect == 4) I->FBodyEnded = true;
  PInet h = I;
  InternetCloseHandle(h);  // back to the connection level
  return ok && (status == 200 || status == 401);
}

// ---- Probes

static bool ProbeHTTP(const std::string& Agent, const std::string& URL, const std::string& UserName,
                      const std::string& Password, TKzTimeOut TimeOut, uint16_t Port, const char* Verb,
                      bool RetryWithCredentials, uint32_t& Status, std::atomic<bool>* Abort = nullptr) {
  Status = 0;
  if (Terminating()) return false;
  std::string host, path;
  uint16_t port = 80;
  PInet h = OpenProbe(Agent, URL, Port, 80, TimeOut, host, path, port, Abort);
  bool ok = false;
  uint32_t index = 0;
  const uint32_t level = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
  if (InternetConnect(h, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0) && !Terminating() &&
      HttpOpenRequest(h, Verb, path.c_str(), nullptr, nullptr, nullptr, 0, 0) &&
      HttpSendRequest(h, nullptr, 0, nullptr, 0) && !Terminating()) {
    ok = HttpQueryInfo(h, level, Status, index);
    if (ok && RetryWithCredentials && (Status == 401 || Status == 407) && !Terminating()) {
      const std::string user = UserName.substr(0, 128), password = Password.substr(0, 128);
      const bool proxy = Status == 407;
      InternetSetOption(h, proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME, user.c_str(),
                        static_cast<uint32_t>(user.size()));
      InternetSetOption(h, proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD, password.c_str(),
                        static_cast<uint32_t>(password.size()));
      ok = HttpSendRequest(h, nullptr, 0, nullptr, 0) && HttpQueryInfo(h, level, Status, index);
    }
  }
  CloseAll(h);
  return ok;
}

bool CheckHTTP_URL(const std::string& Agent, const std::string& URL, const std::string& UserName,
                   const std::string& Password, TKzTimeOut TimeOut, uint16_t Port) {
  uint32_t status = 0;
  return ProbeHTTP(Agent, URL, UserName, Password, TimeOut, Port, "GET", true, status) && status == 200;
}

bool CheckConnect(const std::string& Agent, const std::string& URL, const std::string& UserName,
                  const std::string& Password, TKzTimeOut TimeOut, uint16_t Port, std::atomic<bool>* Abort) {
  uint32_t status = 0;
  return ProbeHTTP(Agent, URL, UserName, Password, TimeOut, Port, "HEAD", false, status, Abort);
}

bool CheckRTSP_URL(const std::string& Agent, const std::string& URL, const std::string& UserName,
                   const std::string& Password, TKzTimeOut TimeOut, uint16_t Port, std::atomic<bool>* Abort) {
  if (Terminating()) return false;
  std::string host, path;
  uint16_t port = 554;
  PInet h = OpenProbe(Agent, URL, Port, 554, TimeOut, host, path, port, Abort);
  bool ok = false;
  if (RtspInternetConnect(h, host, port, path, UserName, Password) && !Terminating()) {
    SendRTSPCmd(h, "OPTIONS");
    ok = !Terminating() && SendRTSPCmd(h, "DESCRIBE");
  }
  CloseAll(h);
  return ok;
}

}  // namespace kz
