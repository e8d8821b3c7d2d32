// The handle operations of the HTTP client: records, request texts and
// authorisation lines, sending, proxy tunnels, replies and bodies.
#include "inet/fmxMKzInet.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "foundation/fmxMKzType.h"
#include "inet/fmxMKzDigestAuth.h"
#include "inet/fmxMKzMD5.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

const TKzTimeOutValues KzInetTimeOutClasses[4] = {
    // open, try read, add, connect ms, connect tries, recv ms, send ms, pause ms, read tries
    {6, 2, 1, 2000, 2, 500, 500, 50, 4},     // kztShort
    {4, 2, 1, 3000, 2, 1500, 1000, 300, 2},  // kztMedium
    {4, 8, 1, 3000, 2, 1500, 1500, 50, 5},   // kztLong
    {2, 12, 1, 8000, 4, 4000, 4000, 50, 10}, // kztHuge
};

namespace {
const char* const kAgentWord = "KZMEDIA";
constexpr size_t kMaxHeader = 65536;

std::string Str(const char* S) { return S ? std::string(S) : std::string(); }
std::string Hash(const std::string& S) { return MD5Print(MD5String(S)); }

uint16_t EffectivePort(const TInet& I, uint16_t Port) { return Port ? Port : I.DefaultPort; }

void ApplyChallenge(TKzMHeaderInfo& A, const TKzChallenge& C) {
  A.TypeAuth = C.Scheme == "Digest" ? TKzMTypeAuth::kzmtaDigest : TKzMTypeAuth::kzmtaBasic;
  if (C.nonce != A.nonce) A.nc = 0;
  A.realm = C.realm;
  A.nonce = C.nonce;
  A.qop = C.qop;
  A.algorithm = C.algorithm;
  A.opaque = C.opaque;
  A.realmRaw = C.realmRaw;
  A.nonceRaw = C.nonceRaw;
  A.qopRaw = C.qopRaw;
}

std::string Quoted(const std::string& Name, const std::string& Value) { return Name + "=\"" + Value + "\""; }

// "Authorization: ..." for the server, from the last challenge.
std::string ServerAuthLine(TInet& I) {
  TKzMHeaderInfo& A = I.AuthInfo;
  if (A.TypeAuth == TKzMTypeAuth::kzmtaBasic) return "Authorization: Basic " + EncodeBase64(A.UserName + ":" + A.Password);
  A.cnonce = Hash(GetLocalHostAddress() + ":" + std::to_string(std::time(nullptr)) + ":" + I.Session);
  A.nc += 1;
  char nc[16];
  std::snprintf(nc, sizeof nc, "%08d", A.nc % 100000000);
  const std::string ha1 = KzDigestHA1(A.UserName, A.realm, A.Password, A.algorithm, A.nonce, A.cnonce);
  const std::string response = KzDigestResponse(ha1, A.nonce, nc, A.cnonce, A.qop, I.Query, I.FileName);
  std::string line = "Authorization: Digest " + Quoted("username", A.UserName) + ", " + Quoted("realm", A.realm) +
                     ", " + Quoted("nonce", A.nonce) + ", " + Quoted("uri", I.FileName) +
                     ", algorithm=" + (A.algorithm.empty() ? std::string("MD5") : A.algorithm) + ", " +
                     Quoted("response", response);
  if (!A.qop.empty()) line += ", qop=" + A.qop;
  line += std::string(", nc=") + nc + ", " + Quoted("cnonce", A.cnonce);
  if (!A.opaque.empty()) line += ", " + Quoted("opaque", A.opaque);
  return line;
}

// "Proxy-Authorization: ..." for a request Method on Uri.
std::string ProxyAuthLine(TInet& I, const std::string& Method, const std::string& Uri) {
  TKzMHeaderInfo& P = I.ProxyInfo;
  // Basic: the credentials alone; proxies refuse the line with anything after them.
  if (P.TypeAuth == TKzMTypeAuth::kzmtaBasic) return "Proxy-Authorization: Basic " + EncodeBase64(P.UserName + ":" + P.Password);
  const std::string ha1 = KzDigestHA1(P.UserName, P.realm, P.Password, "", P.nonce, I.Session);
  const std::string response = KzDigestResponse(ha1, P.nonce, "00000001", I.Session, P.qop, Method, Uri);
  std::string line = "Proxy-Authorization: Digest " + Quoted("username", P.UserName) + ", realm=" + P.realmRaw +
                     ", nonce=" + P.nonceRaw + ", " + Quoted("uri", Uri) + ", " + Quoted("cnonce", I.Session) +
                     ", nc=00000001, " + Quoted("response", response);
  if (!P.opaque.empty()) line += ", " + Quoted("opaque", P.opaque);
  if (!P.qopRaw.empty()) line += ", qop=" + P.qopRaw;
  return line;
}

// Whether the body of the last reply has been delivered in full, so that the
// connection can carry another exchange.
bool BodyComplete(const TInet& I) {
  if (I.FBodyEnded || I.ChunkEnded) return true;
  return I.FHasContentLength && !I.Chunked && I.BytesRead >= I.ContentLength &&
         I.Buffer.Position() >= I.Buffer.Size();
}

// The reply step: read the header, parse it, close after a redirect or a 503.
bool ReplyStep(PInet I, uint32_t& Status, bool& ClosedEarly) {
  I->StepConnect = 4;
  ClosedEarly = false;
  Status = 0;
  if (I->Socket == KZ_INVALID_SOCKET) return false;
  if (!KzInetRecvHeader(I)) {
    ClosedEarly = I->Header.empty() && I->IsCloseSocket;
    return false;
  }
  const bool ok = KzInetParseReply(I, Status);
  if (!ok) KzInetCloseSocket(I);
  return ok;
}

enum class TKzTunnel { Open, Refused, Failed };
TKzTunnel OpenTunnel(PInet I);

// Reconnects (through a new tunnel when a proxy is set) and sends the
// request again.
bool Resend(PInet I) {
  KzInetCloseSocket(I);
  if (!KzInetSetConnection(I)) return false;
  if (!I->ProxyHost.empty() && !KzInetTunnelled(I) && OpenTunnel(I) != TKzTunnel::Open) return false;
  return KzInetSocketSend(I, I->req) > 0;
}

// Opens a CONNECT tunnel to the receiver through the proxy.
TKzTunnel OpenTunnel(PInet I) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (I->Socket == KZ_INVALID_SOCKET && !KzInetSetConnection(I)) return TKzTunnel::Failed;
    if (KzInetTunnelled(I)) return TKzTunnel::Open;
    const std::string target = I->ReceiverHost + ":" + std::to_string(EffectivePort(*I, I->ReceiverPort));
    std::string text = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (I->ProxyInfo.TypeAuth != TKzMTypeAuth::kzmttaUnknow && !I->ProxyInfo.UserName.empty())
      text += ProxyAuthLine(*I, "CONNECT", target) + "\r\n";
    text += "\r\n";
    if (KzInetSocketSend(I, text) <= 0 || !KzInetRecvHeader(I)) {
      KzInetCloseSocket(I);
      return TKzTunnel::Failed;
    }
    I->Buffer.Clear();
    uint32_t status = KzReplyStatus(I->Header, "HTTP/1.1");
    if (status == 0) status = KzReplyStatus(I->Header, "HTTP/1.0");
    if (status == 200) {
      KzInetSetTunnelled(I);
      I->ProxyInfo.TryCount = 0;
      SaveHostProperty(I);
      return TKzTunnel::Open;
    }
    KzInetCloseSocket(I);
    // Proxies refuse credentials with 407, some (tinyproxy) with 401.
    if (status != 407 && status != 401) return TKzTunnel::Failed;
    const TKzChallenge c = KzParseChallenge(I->Header);
    if (!c.Scheme.empty()) ApplyChallenge(I->ProxyInfo, c);
    I->ProxyInfo.TryCount += 1;
    SaveHostProperty(I);
    if (status == 407 && I->ProxyInfo.TryCount == 1 && !c.Scheme.empty() && !I->ProxyInfo.UserName.empty()) continue;
    I->FPendingStatus = status;
    return TKzTunnel::Refused;
  }
  return TKzTunnel::Failed;
}

// Reopens the exchange after the socket vanished under a body read.
bool ReopenForRead(PInet I) {
  for (int32_t a = 0; a < I->cOPEN_CONNECT + I->cADD_CONNECT && !KzInetAborted(I); ++a) {
    uint32_t status = 0;
    bool closedEarly = false;
    if (Resend(I) && ReplyStep(I, status, closedEarly) && status == 200) return true;
  }
  KzInetCloseSocket(I);
  return false;
}
}  // namespace

// ---- Records

void SetInetTimeOut(PInet I, TKzTimeOut Class) {
  if (!I) return;
  const size_t k = std::min<size_t>(static_cast<size_t>(Class), 3);
  static_cast<TKzTimeOutValues&>(*I) = KzInetTimeOutClasses[k];
  I->ConnectTimeOut = I->cKzINET_CONNECT_TIMEOUT;
  I->ConnectTry = static_cast<uint32_t>(I->cKzINET_CONNECT_TRY);
  I->WaitSend = I->cKzINET_WAIT_SEND;
  I->WaitRecv = I->cKzINET_WAIT_RECV;
}

PInet InternetOpen(const char* Agent, uint32_t, const char* Proxy, const char*, uint32_t) {
  KzInetStartUp();
  PInet I = new TInet();
  I->isKeepAlive = true;  // until a host says otherwise
  const std::string proxy = Str(Proxy);
  const size_t colon = proxy.find(':');
  if (!proxy.empty() && colon == std::string::npos) {
    I->ProxyHost = proxy;
    I->ProxyPort = 8080;
  } else if (!proxy.empty()) {
    I->ProxyHost = proxy.substr(0, colon);
    const int64_t port = KzStrToIntDef(proxy.substr(colon + 1, 99), 0);
    I->ProxyPort = static_cast<uint16_t>(port >= 0 && port <= 65535 ? port : 0);
  }
  I->Agent = Str(Agent);
  I->FileName.clear();
  SetInetTimeOut(I, TKzTimeOut::kztMedium);
  I->StepConnect = 1;
  I->IsUsed = true;
  I->Socket = KZ_INVALID_SOCKET;
  I->CurChannel = -1;
  I->ChannelRTSP.resize(1);
  I->Abort = &I->FAbortFlag;
  return I;
}

PInet InternetConnect(PInet I, const char* Host, uint16_t Port, const char* UserName, const char* Password,
                      uint32_t Service, uint32_t, uintptr_t) {
  if (!I || !Host) return nullptr;
  KzInetClearError(I);
  I->SockAddr = 0;
  I->ReceiverHost = I->OriginHost = Host;
  I->ReceiverPort = I->OriginPort = Port;
  I->OriginFileName = I->FileName;
  I->RedirectCount = 0;
  I->IsRedirect = false;
  I->IsLocation = false;
  I->IsUsed = true;
  I->Protocol = Service == INTERNET_SERVICE_HTTP ? TKzConnectProtocol::kzcpHTTP : TKzConnectProtocol::kzcpRTSP;
  I->VersionProtocol = Service == INTERNET_SERVICE_RTSP ? "RTSP/1.0" : "HTTP/1.1";
  if (UserName) {
    I->AuthInfo.UserName = UserName;
    I->isAuthorize = true;
  }
  if (Password) I->AuthInfo.Password = Password;
  I->Session = Hash(std::to_string(KzMGetTickCount()));
  I->StepConnect = 2;
  I->DefaultPort = GetDefaultPort(I->Protocol);
  I->ConnectCount = I->cOPEN_CONNECT;
  KzInetInheritAuth(I);
  SaveHostProperty(I);
  if (!KzInetSetConnection(I)) {
    I->StepConnect = 1;
    return nullptr;
  }
  return I;
}

// Splits "host:port" (port DefaultPort when absent or not a number).
static void GetSeparationHostPort(const std::string& Text, uint16_t DefaultPort, std::string& Host, uint16_t& Port) {
  const size_t colon = Text.rfind(':');
  if (colon == std::string::npos || Text.find(']') != std::string::npos) {
    Host = Text;
    Port = DefaultPort;
    return;
  }
  Host = Text.substr(0, colon);
  const int64_t p = KzStrToIntDef(Text.substr(colon + 1), -1);
  Port = static_cast<uint16_t>(p > 0 && p <= 65535 ? p : DefaultPort);
}

// Ends the reply level before a new request on the same record.
static void CloseReplyLevel(PInet I) {
  if (I->StepConnect == 4) {
    I->Buffer.Clear();
    if (I->IsCloseSocket || !BodyComplete(*I)) KzInetCloseSocket(I);
  } else if (I->StepConnect == 3) {
    KzInetCloseSocket(I);
    I->IsCloseSocket = true;
  }
  if (I->StepConnect > 2) I->StepConnect = 2;
}

PInet HttpOpenRequest(PInet I, const char* Verb, const char* Path, const char*, const char*, const char* const*,
                      uint32_t, uintptr_t) {
  if (!I) return nullptr;
  CloseReplyLevel(I);
  I->Buffer.Clear();
  I->BytesRead = 0;
  I->IsLocation = false;
  I->ResetChunks(false);
  I->FBodyEnded = false;
  I->FPendingStatus = 0;
  I->IsRedirect = false;
  I->RedirectCount = 0;
  I->FileName = Str(Path);
  if (I->FileName.empty()) I->FileName = "/";
  if (I->OriginFileName.empty()) I->OriginFileName = I->FileName;
  I->Query = Verb ? Verb : "GET";
  I->Params.clear();
  I->FExtraHeaders.clear();
  if (I->ReceiverHost.find(':') != std::string::npos && I->ReceiverHost.find('[') == std::string::npos) {
    std::string host;
    uint16_t port;
    GetSeparationHostPort(I->ReceiverHost, 80, host, port);
    I->ReceiverHost = host;
    I->ReceiverPort = port;
  }
  LoadHostProperty(I);
  I->req = CreateHeaderHTTP(I);
  I->StepConnect = 3;
  return I;
}

std::string CreateHeaderHTTP(PInet I) {
  if (!I) return {};
  std::string h;
  h.reserve(512);
  auto line = [&h](const std::string& L) { h += L + "\r\n"; };
  line(I->Query + " " + I->FileName + " " + I->VersionProtocol);
  line("Host: " + KzLowerCase(GetHTTPHost(I->ReceiverHost, I->ReceiverPort)));
  line("User-Agent: " + (I->Agent.empty() ? std::string(kAgentWord) : I->Agent));
  line("Accept: */*;q=0.1");
  line("Accept-Encoding: identity");
  line("Accept-Language: ru-RU,ru;q=0.9,en;q=0.8");
  line("Accept-Charset: windows-1251,utf-8;q=0.7,*;q=0.7");
  if (I->isKeepAlive) line("Connection: Keep-Alive");
  line("Pragma: no-cache");
  line("Cache-Control: no-cache");
  line("Content-Length: " + std::to_string(I->Params.size()));
  // The caller's own header lines, when given, name the body's type.
  if (I->FExtraHeaders.find("Content-Type:") == std::string::npos) line("Content-Type: application/x-www-form-urlencoded");
  h += I->FExtraHeaders;
  if (I->isAuthorize && !I->AuthInfo.UserName.empty() && I->AuthInfo.TypeAuth != TKzMTypeAuth::kzmttaUnknow) {
    line(ServerAuthLine(*I));
    if (!I->OriginHost.empty()) SaveHostProperty(I);  // the host keeps counting nonces
  }
  if (!I->IsUsed) line("Connection: close");
  // Form parameters travel as the last header line (as the cameras of this
  // library expect); a body of the caller's own type follows the head.
  if (I->FExtraHeaders.empty() && !I->Params.empty()) line(I->Params);
  h += "\r\n";
  if (!I->FExtraHeaders.empty()) h += I->Params;
  return h;
}

// ---- Waiting

bool KzInetAborted(PInet I) { return I && I->Abort && I->Abort->load(std::memory_order_acquire); }

bool KzInetPause(PInet I, uint32_t Ms) {
  const uint64_t end = KzMGetTickCount() + Ms;
  for (;;) {
    if (KzInetAborted(I)) return false;
    const uint64_t now = KzMGetTickCount();
    if (now >= end) return true;
    KzMWait(static_cast<uint32_t>(std::min<uint64_t>(end - now, 50)));
  }
}

// ---- Sending

int64_t KzInetSocketSend(PInet I, const std::string& Text) {
  if (!I) return -1;
  I->StepConnect = 3;
  I->ErrCode = -1;
  if (I->Socket == KZ_INVALID_SOCKET && !KzInetSetConnection(I)) return -1;
  uint64_t deadline = KzMGetTickCount() + static_cast<uint64_t>(std::max<int64_t>(I->WaitSend, 1));
  int32_t attempts = 0;
  size_t off = 0;
  while (off < Text.size()) {
    if (KzInetAborted(I)) return -1;
    const int64_t r = PlatformSend(I->Socket, Text.data() + off, static_cast<int64_t>(Text.size() - off));
    if (r > 0) {
      off += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && PlatformSocketError() != TKzSocketError::kzseWouldBlock) {
      // The connection broke: start again on a new one, a bounded number of times.
      if (++attempts >= I->cOPEN_CONNECT + I->cADD_CONNECT || !I->ProxyHost.empty()) return -1;
      KzInetCloseSocket(I);
      if (!KzInetSetConnection(I)) return -1;
      deadline = KzMGetTickCount() + static_cast<uint64_t>(std::max<int64_t>(I->WaitSend, 1));
      off = 0;
      continue;
    }
    const uint64_t now = KzMGetTickCount();
    if (now >= deadline) return -1;
    PlatformPollWrite(I->Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, std::max(I->cKzINET_SLEEP_TIME, 10))));
  }
  I->ErrCode = static_cast<int32_t>(off);
  KzInetTouch(I);
  return static_cast<int64_t>(off);
}

bool HttpSendRequest(PInet I, const char* Headers, uint32_t HeadersLength, const void* Optional,
                     uint32_t OptionalLength) {
  if (!I || KzInetAborted(I)) return false;
  KzInetClearError(I);
  if (I->StepConnect == 4) CloseReplyLevel(I);  // a reply left unread spoils its connection
  I->FPendingStatus = 0;
  if (Headers && HeadersLength > 0) {
    I->FExtraHeaders.assign(Headers, HeadersLength);
    if (I->FExtraHeaders.size() < 2 || I->FExtraHeaders.compare(I->FExtraHeaders.size() - 2, 2, "\r\n") != 0)
      I->FExtraHeaders += "\r\n";
  }
  if (Optional && OptionalLength > 0) I->Params.assign(static_cast<const char*>(Optional), OptionalLength);
  if ((Headers && HeadersLength > 0) || (Optional && OptionalLength > 0)) I->req = CreateHeaderHTTP(I);
  if (!I->ProxyHost.empty() && !KzInetTunnelled(I)) {
    switch (OpenTunnel(I)) {
      case TKzTunnel::Open:
        break;
      case TKzTunnel::Refused:
        return true;  // the proxy's refusal is the reply
      case TKzTunnel::Failed:
        return false;
    }
  }
  if (KzInetSocketSend(I, I->req) > 0) return true;
  if (!KzInetLastError(I).Failed() && !KzInetAborted(I))
    KzInetSetError(I, TKzSourceErrorKind::kzseStreamClosed, "cannot send the request to " + KzInetPeerText(I));
  return false;
}

// ---- Replies

bool KzInetRecvHeader(PInet I) {
  I->Header.clear();
  I->Buffer.Clear();
  if (I->Socket == KZ_INVALID_SOCKET) return false;
  std::string data;
  char buf[8192];
  const uint64_t deadline = KzMGetTickCount() + static_cast<uint64_t>(std::max<int64_t>(I->WaitRecv, 1));
  for (;;) {
    if (KzInetAborted(I)) return false;
    const int64_t r = PlatformRecv(I->Socket, buf, sizeof buf);
    if (r > 0) {
      data.append(buf, static_cast<size_t>(r));
      const size_t end = KzFindHeaderEnd(data);
      if (end != std::string::npos) {
        I->Header = data.substr(0, end);
        I->Buffer.Write(data.data() + end, static_cast<int64_t>(data.size() - end));
        I->Buffer.SetPosition(0);
        I->ErrCode = static_cast<int32_t>(r);
        KzInetTouch(I);
        return true;
      }
      if (data.size() > kMaxHeader) {
        KzInetSetError(I, TKzSourceErrorKind::kzseNotVideo, "not a video stream: no reply header from " + KzInetPeerText(I));
        return false;
      }
      continue;
    }
    if (r == 0) {  // the peer closed the connection
      I->IsCloseSocket = true;
      I->ErrCode = 0;
      KzInetSetError(I, TKzSourceErrorKind::kzseStreamClosed, KzInetPeerText(I) + " closed the connection without a reply");
      return false;
    }
    const TKzSocketError e = PlatformSocketError();
    if (e != TKzSocketError::kzseWouldBlock && e != TKzSocketError::kzseTimedOut) {
      I->ErrCode = -1;
      if (e == TKzSocketError::kzseClosed) I->IsCloseSocket = true;
      KzInetSetError(I, TKzSourceErrorKind::kzseStreamClosed,
                     "connection to " + KzInetPeerText(I) + " broken: " + KzConnectErrorText(PlatformSocketErrorCode()));
      return false;
    }
    const uint64_t now = KzMGetTickCount();
    if (now >= deadline) {
      KzInetSetError(I, TKzSourceErrorKind::kzseTimedOut,
                     "no reply from " + KzInetPeerText(I) + " within " + std::to_string(I->WaitRecv) + " ms");
      return false;
    }
    PlatformPollRead(I->Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, std::max(I->cKzINET_SLEEP_TIME, 10))));
  }
}

bool KzInetParseReply(PInet I, uint32_t& Status) {
  const std::string& h = I->Header;
  // 1. Version.
  I->IsCloseSocket = false;
  if (h.find("HTTP/1.1") != std::string::npos) {
    I->VersionProtocol = "HTTP/1.1";
    I->isKeepAlive = true;
  } else if (h.find("HTTP/1.0") != std::string::npos) {
    I->VersionProtocol = "HTTP/1.0";
    I->IsCloseSocket = true;
    I->isKeepAlive = KzUpperCase(h).find("CONNECTION: KEEP-ALIVE") != std::string::npos;
  } else if (h.find("HTTP/0.9") != std::string::npos) {
    I->VersionProtocol = "HTTP/0.9";
    I->isKeepAlive = false;
    I->IsCloseSocket = true;
  } else {
    I->isKeepAlive = true;
  }
  // 2. Status.
  Status = KzReplyStatus(h, I->VersionProtocol);
  I->FStatus = Status;
  // 3. Body framing (for every reply, so that its body can be read or skipped).
  bool hasLength = false;
  const int64_t length = KzStrToIntDef(KzHeaderValue(h, "Content-Length", &hasLength), -1);
  I->FHasContentLength = hasLength && length >= 0 && length <= 0xFFFFFFFFll;
  I->ContentLength = I->FHasContentLength ? static_cast<uint32_t>(length) : 0;
  I->ResetChunks(KzLowerCase(KzHeaderValue(h, "Transfer-Encoding")) == "chunked");
  I->BytesRead = 0;
  I->FBodyEnded = I->Query == "HEAD" || Status == 100 || Status == 304 ||
                  (I->FHasContentLength && I->ContentLength == 0 && !I->Chunked);
  if (Status == 200) I->isKeepAlive = h.find("Connection: Keep-Alive") != std::string::npos;
  // 4. A new location.
  bool hasLocation = false;
  const std::string location = KzHeaderValue(h, "Location", &hasLocation);
  if (hasLocation && !location.empty()) {
    std::string host, path;
    int port = 80;
    ParseURL2(location, 80, host, path, port);
    if (location.find("://") == std::string::npos) {  // relative to the current target
      host = I->ReceiverHost;
      port = EffectivePort(*I, I->ReceiverPort);
      path = location[0] == '/' ? location : "/" + location;
    }
    if (path.empty()) path = "/";
    const bool isCurrent = host == I->ReceiverHost && path == I->FileName && port == EffectivePort(*I, I->ReceiverPort);
    const bool isOrigin = host == I->OriginHost && path == I->OriginFileName && port == EffectivePort(*I, I->OriginPort);
    I->IsLocation = !isCurrent && !isOrigin;
    if (I->IsLocation) {
      I->ReceiverHost = host;
      I->FileName = path;
      I->ReceiverPort = static_cast<uint16_t>(port);
    }
  } else {
    I->IsLocation = false;
  }
  // 5. Flags.
  if (Status == 305) I->IsProxy = true;
  if (Status == 401) I->isAuthorize = true;
  if (KzPosI(h, "CONNECTION: CLOSE") != std::string::npos) I->IsCloseSocket = true;
  // 6. Host memory.
  SaveHostProperty(I);
  // 7. Too many connections: fewer in parallel from now on.
  I->IsServiceUnavailable = Status == 503;
  if (I->IsServiceUnavailable && h.find("many connections") != std::string::npos) DecreaseMaxConnect(I);
  // 8. Redirect.
  I->IsRedirect = (Status == 301 || Status == 302 || Status == 303 || Status == 307) && I->IsLocation;
  return !I->IsRedirect && !I->IsServiceUnavailable;
}

bool HttpQueryInfo(PInet I, uint32_t InfoLevel, uint32_t& Value, uint32_t& Index) {
  Value = 0;
  Index = 0;
  if (!I) return false;
  const bool number = InfoLevel == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER);
  if (I->FPendingStatus != 0) {  // a refusal already read while tunnelling
    I->StepConnect = 4;
    I->FStatus = I->FPendingStatus;
    I->FPendingStatus = 0;
    I->FBodyEnded = true;
    if (number) Value = I->FStatus;
    return true;
  }
  bool staleRetried = false;
  for (;;) {
    if (I->Socket == KZ_INVALID_SOCKET) return false;
    uint32_t status = 0;
    bool closedEarly = false;
    const bool ok = ReplyStep(I, status, closedEarly);
    // A kept-alive connection the server had closed meanwhile: once more on a new one.
    if (!ok && closedEarly && I->FSocketReused && !staleRetried) {
      staleRetried = true;
      if (!Resend(I)) return false;
      continue;
    }
    TKzChallenge challenge;
    if (status == 401 || status == 407) {
      challenge = KzParseChallenge(I->Header);
      if (!challenge.Scheme.empty()) ApplyChallenge(challenge.Proxy ? I->ProxyInfo : I->AuthInfo, challenge);
    }
    const bool hasRealm = !challenge.realm.empty();
    if (I->IsRedirect && !hasRealm) {
      if (I->RedirectCount >= 4) return false;
      I->IsRedirect = false;
      I->IsLocation = false;
      I->RedirectCount += 1;
      I->req = CreateHeaderHTTP(I);
      if (!Resend(I)) return false;
      continue;
    }
    if ((status == 401 || status == 407) && hasRealm) {
      TKzMHeaderInfo& info = status == 401 ? I->AuthInfo : I->ProxyInfo;
      info.TryCount += 1;
      SaveHostProperty(I);
      KzInetCloseSocket(I);
      if (info.TryCount == 1 && !info.UserName.empty()) {
        I->isAuthorize = true;
        I->req = CreateHeaderHTTP(I);
        if (!Resend(I)) return false;
        continue;
      }
      I->FBodyEnded = true;
      if (number) Value = status;
      return true;  // refused: the caller may ask for other credentials
    }
    if (ok) {
      if (status != 401) I->AuthInfo.TryCount = 0;
      if (status != 407) I->ProxyInfo.TryCount = 0;
      SaveHostProperty(I);
    }
    if (number) Value = status;
    return ok;
  }
}

// ---- Bodies

bool InternetReadFile(PInet I, void* Buffer, uint32_t Size, uint32_t& BytesRead) {
  const bool ok = KzInetReadBody(I, Buffer, Size, BytesRead);
  if (Buffer && Size > BytesRead) std::memset(static_cast<uint8_t*>(Buffer) + BytesRead, 0, Size - BytesRead);
  return ok;
}

bool KzInetReadBody(PInet I, void* Buffer, uint32_t Size, uint32_t& BytesRead) {
  BytesRead = 0;
  if (!I || !Buffer) return false;
  if (Size == 0) return true;
  uint8_t* out = static_cast<uint8_t*>(Buffer);
  int32_t reopened = 0;
  uint64_t deadline = KzMGetTickCount() + static_cast<uint64_t>(std::max<int64_t>(I->WaitRecv, 1));
  for (;;) {
    if (I->FBodyEnded || I->ChunkEnded) return true;
    // What a Content-Length still allows (chunked bodies end by their last chunk).
    uint32_t want = Size;
    if (I->FHasContentLength && !I->Chunked) {
      if (I->BytesRead >= I->ContentLength) {
        I->FBodyEnded = true;
        return true;
      }
      want = std::min(want, I->ContentLength - I->BytesRead);
    }
    int64_t n = 0;
    if (I->Buffer.Position() < I->Buffer.Size()) {
      n = I->Buffer.Read(out, want);
      if (I->Buffer.Position() >= I->Buffer.Size()) I->Buffer.Clear();
    } else {
      if (I->Socket == KZ_INVALID_SOCKET) return false;
      if (KzInetAborted(I)) return false;
      n = PlatformRecv(I->Socket, out, want);
      if (n == 0) {  // the server ended the reply by closing
        I->IsCloseSocket = true;
        I->FBodyEnded = true;
        I->ErrCode = 0;
        return true;
      }
      if (n < 0) {
        const TKzSocketError e = PlatformSocketError();
        I->ErrCode = -1;
        if (e == TKzSocketError::kzseNotSocket) {
          if (reopened++ >= I->cTRY_READ || !ReopenForRead(I)) return false;
          deadline = KzMGetTickCount() + static_cast<uint64_t>(std::max<int64_t>(I->WaitRecv, 1));
          continue;
        }
        if (e != TKzSocketError::kzseWouldBlock && e != TKzSocketError::kzseTimedOut) {
          I->IsCloseSocket = true;
          return false;
        }
        const uint64_t now = KzMGetTickCount();
        if (now >= deadline) return true;  // nothing within the receive time-out
        PlatformPollRead(I->Socket, static_cast<uint32_t>(std::min<uint64_t>(deadline - now, std::max(I->cKzINET_SLEEP_TIME, 10))));
        continue;
      }
      I->ErrCode = static_cast<int32_t>(n);
      KzInetTouch(I);
    }
    I->BytesRead += static_cast<uint32_t>(n);
    size_t delivered = static_cast<size_t>(n);
    if (I->Chunked) {
      delivered = KzDeChunk(*I, out, delivered);
      if (I->ChunkEnded) {
        I->FBodyEnded = true;
        I->Buffer.Clear();  // nothing of this reply follows the last chunk
      }
    }
    if (delivered > 0 || I->FBodyEnded) {
      BytesRead = static_cast<uint32_t>(delivered);
      return true;
    }
    // Only chunk framing arrived: read on for data.
  }
}

bool KzInetBodyEnded(PInet I) { return I && (I->FBodyEnded || I->ChunkEnded); }

bool KzInetBodyComplete(PInet I) {
  return I && (I->ChunkEnded || (I->FHasContentLength && !I->Chunked && I->BytesRead >= I->ContentLength));
}

bool KzInetDataWaiting(PInet I, uint32_t WaitMs) {
  if (!I) return false;
  if (I->Buffer.Position() < I->Buffer.Size()) return true;
  return I->Socket != KZ_INVALID_SOCKET && PlatformPollRead(I->Socket, WaitMs) == 1;
}

// ---- Options and closing

bool InternetSetOption(PInet I, uint32_t Option, const char* Value, uint32_t Length) {
  if (!I) return false;
  const std::string v = Value ? std::string(Value, strnlen(Value, Length)) : std::string();
  switch (Option) {
    case INTERNET_OPTION_USERNAME:
      I->AuthInfo.UserName = v;
      I->AuthInfo.TryCount = 0;
      I->isAuthorize = true;
      break;
    case INTERNET_OPTION_PASSWORD:
      I->AuthInfo.Password = v;
      I->AuthInfo.TryCount = 0;
      break;
    case INTERNET_OPTION_PROXY_USERNAME:
      I->ProxyInfo.UserName = v;
      I->ProxyInfo.TryCount = 0;
      break;
    case INTERNET_OPTION_PROXY_PASSWORD:
      I->ProxyInfo.Password = v;
      I->ProxyInfo.TryCount = 0;
      break;
    default:
      return false;
  }
  if (!I->OriginHost.empty()) SaveHostProperty(I);
  if (I->StepConnect >= 3)
    I->req = I->Protocol == TKzConnectProtocol::kzcpRTSP ? CreateHeaderRTSP(I) : CreateHeaderHTTP(I);
  return true;
}

bool InternetCloseHandle(PInet& Handle) {
  PInet I = Handle;
  if (!I) return false;
  switch (I->StepConnect) {
    case 4:
    case 3:
      CloseReplyLevel(I);
      return true;
    case 2:
      I->StepConnect = 1;
      return true;
    default:
      if (I->Socket != KZ_INVALID_SOCKET) KzInetReleaseSocket(I);
      I->StepConnect = 0;
      delete I;
      Handle = nullptr;
      return true;
  }
}

}  // namespace kz
