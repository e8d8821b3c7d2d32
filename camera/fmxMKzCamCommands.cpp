#include "camera/fmxMKzCamCommands.h"

#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzIPCameraAPI.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformMainThread.h"

#include <vector>

namespace kz {

namespace {
constexpr uint32_t kStatusLevel = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
constexpr uint32_t kKeepConnection = 0x400000;
constexpr uint32_t kReadSize = 16384;

bool IsSuccess(uint32_t Status) { return Status >= 200 && Status < 300; }

// Closes the three levels of a handle on every way out.
struct TKzInetCloser {
  PInet& H;
  ~TKzInetCloser() {
    for (int k = 0; H && k < 4; ++k) InternetCloseHandle(H);
  }
};

void SetCredentials(PInet H, uint32_t UserOption, uint32_t PasswordOption, const std::string& User,
                    const std::string& Password) {
  InternetSetOption(H, UserOption, User.c_str(), static_cast<uint32_t>(User.size()));
  InternetSetOption(H, PasswordOption, Password.c_str(), static_cast<uint32_t>(Password.size()));
}

// Reads the body into Reply up to MaxBody bytes (Overflow past it), giving
// up at Deadline (a body that trickles in is not waited for without end).
bool ReadBody(PInet H, std::atomic<bool>& Abort, uint64_t Deadline, size_t MaxBody, TKzCamReply& Reply) {
  char buffer[kReadSize];
  while (!Abort.load(std::memory_order_acquire)) {
    if (Deadline != 0 && KzMGetTickCount() >= Deadline) return false;
    uint32_t n = 0;
    if (!KzInetReadBody(H, buffer, kReadSize, n)) return false;
    if (n == 0) return true;
    if (Reply.Body.size() + n > MaxBody) {
      Reply.Overflow = true;
      return true;
    }
    Reply.Body.append(buffer, n);
  }
  return false;
}
}  // namespace

TKzCamRequestSettings KzCamRequestSettings(const TKzCamera& Camera) {
  TKzCamRequestSettings s;
  s.Agent = Camera.Agent();
  s.UserName = Camera.UserName();
  s.Password = Camera.UserPassword();
  s.Port = Camera.CameraPort();
  auto& proxy = const_cast<TKzCamera&>(Camera).ProxyProperty();
  if (proxy.ProxyMode() == TKzMFProxyMode::kzmManualSettings) {
    s.Proxy = proxy.Host();
    if (proxy.Port() != 0) s.Proxy.append(":").append(std::to_string(proxy.Port()));
    s.ProxyUser = proxy.Username();
    s.ProxyPassword = proxy.Password();
  }
  s.TimeOut = Camera.SearchHTTPTimeOut();
  s.Vendor = TKzIPCameraAPI::GetVendor(&Camera);
  return s;
}

bool KzIsSendableURL(const std::string& URL) {
  if (URL.empty()) return false;
  for (unsigned char c : URL)
    if (c <= 0x20 || c == 0x7F) return false;
  return true;
}

bool KzCamPerformGet(const std::string& URL, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                     size_t MaxBody, TKzCamReply& Reply) {
  return KzCamPerform(TKzCamRequest(URL), Settings, Abort, MaxBody, Reply);
}

bool KzCamPerform(const TKzCamRequest& Request, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                  size_t MaxBody, TKzCamReply& Reply) {
  Reply = {};
  const std::string& URL = Request.URL;
  if (!KzIsSendableURL(URL) || Abort.load(std::memory_order_acquire)) return false;
  std::string host, path, user, password;
  int port = 0;
  ParseURL2(URL, Settings.Port ? Settings.Port : 80, host, path, port);
  if (host.empty()) return false;
  ExtractUserFromURL(URL, user, password);
  if (user.empty()) {
    user = Settings.UserName;
    password = Settings.Password;
  }
  PInet h = InternetOpen(Settings.Agent.empty() ? nullptr : Settings.Agent.c_str(), 0,
                         Settings.Proxy.empty() ? nullptr : Settings.Proxy.c_str(), nullptr, 0);
  if (!h) return false;
  TKzInetCloser closer{h};
  h->Abort = &Abort;
  SetInetTimeOut(h, Settings.TimeOut);
  if (!InternetConnect(h, host.c_str(), static_cast<uint16_t>(port), user.c_str(), password.c_str(),
                       INTERNET_SERVICE_HTTP, 0, 0) ||
      !HttpOpenRequest(h, Request.Method.c_str(), path.c_str(), nullptr, nullptr, nullptr, kKeepConnection, 0))
    return false;
  const std::string headers = Request.ContentType.empty() ? "" : "Content-Type: " + Request.ContentType + "\r\n";
  uint32_t index = 0;
  auto send = [&] {
    return !Abort.load(std::memory_order_acquire) &&
           HttpSendRequest(h, headers.empty() ? nullptr : headers.c_str(), static_cast<uint32_t>(headers.size()),
                           Request.Body.empty() ? nullptr : Request.Body.data(),
                           static_cast<uint32_t>(Request.Body.size())) &&
           HttpQueryInfo(h, kStatusLevel, Reply.Status, index);
  };
  if (!send()) {
    Reply.Status = 0;
    return false;
  }
  if (Reply.Status == 401 || Reply.Status == 407) {
    if (Reply.Status == 401)
      SetCredentials(h, INTERNET_OPTION_USERNAME, INTERNET_OPTION_PASSWORD, user, password);
    else
      SetCredentials(h, INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD, Settings.ProxyUser,
                     Settings.ProxyPassword);
    if (!send()) {
      Reply.Status = 0;
      return false;
    }
  }
  if (!IsSuccess(Reply.Status)) {
    if (!Request.Body.empty()) ReadBody(h, Abort, Settings.Deadline, MaxBody, Reply);  // a SOAP Fault
    return false;
  }
  if (!ReadBody(h, Abort, Settings.Deadline, MaxBody, Reply) || Reply.Overflow) return false;
  return !Settings.Vendor || Settings.Vendor->IsReplyAccepted(URL, Reply.Body);
}

bool KzCamCheckMJPEG(const std::string& URL, const TKzCamRequestSettings& Settings, std::atomic<bool>& Abort,
                     uint32_t WaitRecv) {
  constexpr uint32_t kProbeRead = 1048576;
  auto stop = [&Abort] { return Abort.load(std::memory_order_acquire) || Application().Terminated(); };
  std::string host, path;
  int port = 0;
  ParseURL2(URL, Settings.Port, host, path, port);
  if (URL.empty() || host.empty() || stop()) return false;
  PInet h = InternetOpen(Settings.Agent.empty() ? nullptr : Settings.Agent.c_str(), 0,
                         Settings.Proxy.empty() ? nullptr : Settings.Proxy.c_str(), nullptr, 0);
  if (!h) return false;
  TKzInetCloser closer{h};
  h->Abort = &Abort;
  SetInetTimeOut(h, Settings.TimeOut);
  if (WaitRecv > 0) h->WaitRecv = WaitRecv;
  uint32_t status = 0, index = 0;
  auto send = [&] {
    return !stop() && HttpSendRequest(h, nullptr, 0, nullptr, 0) && HttpQueryInfo(h, kStatusLevel, status, index);
  };
  if (!InternetConnect(h, host.c_str(), static_cast<uint16_t>(port), Settings.UserName.c_str(),
                       Settings.Password.c_str(), INTERNET_SERVICE_HTTP, 0, 0) ||
      !HttpOpenRequest(h, "GET", path.c_str(), nullptr, nullptr, nullptr, 0x4400000, 0) || !send())
    return false;
  const uint32_t first = status;
  bool ok = true;
  if (first == 401 || first == 407 || first == 504) {
    if (first == 401)
      SetCredentials(h, INTERNET_OPTION_USERNAME, INTERNET_OPTION_PASSWORD, Settings.UserName, Settings.Password);
    else if (first == 407)
      SetCredentials(h, INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD, Settings.ProxyUser,
                     Settings.ProxyPassword);
    ok = send();
  }
  bool result = false;
  if (ok && !stop()) {
    std::vector<uint8_t> buffer(kProbeRead);
    uint32_t n = 0;
    if (KzInetReadBody(h, buffer.data(), kProbeRead, n) && n > 0) result = KzIsMJPEGReply(buffer.data(), n);
  }
  if (first == 504)
    for (int i = 0; i < 10 && !stop(); ++i) KzMWait(100);
  return result;
}

// ---- TKzCamRequestScope

namespace {
thread_local TKzCamRequestScope* tlScope = nullptr;
}

TKzCamRequestScope::TKzCamRequestScope(std::atomic<bool>& AAbort) : Abort(AAbort), FOuter(tlScope) { tlScope = this; }
TKzCamRequestScope::~TKzCamRequestScope() { tlScope = FOuter; }
TKzCamRequestScope* TKzCamRequestScope::Current() { return tlScope; }

// ---- TKzCamCommandThread

TKzCamCommandThread::TKzCamCommandThread(TKzCamera* Camera, const TKzCamRequestSettings& Settings,
                                         TKzCamRequest Request, TKzCamRequest Request2, TKzCamCommand CMD)
    : TKzBaseThread(true, "TKzCamCommandThread"),
      FRequest(std::move(Request)),
      FRequest2(std::move(Request2)),
      FSettings(Settings),
      FCMD(CMD),
      FKzCamera(Camera) {
  SetFreeOnTerminate(true);
}

void TKzCamCommandThread::Abort() {
  FTAbort.store(true, std::memory_order_release);
  TKzBaseThread::Abort();
}

void TKzCamCommandThread::TerminatedSet() {
  FTAbort.store(true, std::memory_order_release);
  TKzBaseThread::TerminatedSet();
}

bool TKzCamCommandThread::ExecuteOne(const TKzCamRequest& Request) {
  TKzCamReply reply;
  const bool ok = KzCamPerform(Request, FSettings, FTAbort, MaxReplyBody, reply);
  const std::string& URL = Request.URL;
  // Failures only: a debug text per command would cost more than the command.
  if (!ok)
    KzPostMessageDebug(FKzCamera, reply.Status,
                       "command failed: " + URL + (reply.Status ? ": status " + std::to_string(reply.Status) : ": no reply"));
  return ok;
}

void TKzCamCommandThread::DoExecute() {
  bool ok = ExecuteOne(FRequest);
  if (ok && !FRequest2.Empty()) ok = ExecuteOne(FRequest2);
  FTResult.store(ok && !FTAbort.load(std::memory_order_acquire), std::memory_order_release);
}

}  // namespace kz
