// kztool http: one request through the library's HTTP client.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "apps/kztool/kztool.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"

using namespace kz;

namespace kztool {

namespace {
struct TTimeOutName {
  const char* Name;
  TKzTimeOut Value;
};
const TTimeOutName kTimeOuts[] = {{"short", TKzTimeOut::kztShort},
                                  {"medium", TKzTimeOut::kztMedium},
                                  {"long", TKzTimeOut::kztLong},
                                  {"huge", TKzTimeOut::kztHuge}};

int Fail(const char* Text) {
  std::fprintf(stderr, "kztool http: %s\n", Text);
  return 2;
}
}  // namespace

int RunHttp(const std::vector<std::string>& Args) {
  std::string url;
  std::map<std::string, std::string> opt;
  bool head = false;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    if (a == "--head") {
      head = true;
    } else if (a.rfind("--", 0) == 0) {
      if (i + 1 >= Args.size()) return Fail(("missing value after " + a).c_str());
      opt[a.substr(2)] = Args[++i];
    } else if (url.empty()) {
      url = a;
    } else {
      return Fail("more than one URL");
    }
  }
  if (url.empty()) return Fail("no URL");
  for (const auto& [name, value] : opt) {
    static const char* known[] = {"user", "password", "proxy", "proxy-user", "proxy-password", "timeout", "max-bytes"};
    bool ok = false;
    for (const char* k : known) ok = ok || name == k;
    if (!ok) return Fail(("unknown option --" + name).c_str());
  }
  TKzTimeOut timeOut = TKzTimeOut::kztMedium;
  if (opt.count("timeout")) {
    bool found = false;
    for (const TTimeOutName& t : kTimeOuts)
      if (opt["timeout"] == t.Name) timeOut = t.Value, found = true;
    if (!found) return Fail("--timeout takes short, medium, long or huge");
  }
  const int64_t maxBytes = opt.count("max-bytes") ? KzStrToIntDef(opt["max-bytes"], -1) : -1;

  // Credentials may be written in the URL; options win.
  std::string user, password;
  ExtractUserFromURL(url, user, password);
  if (opt.count("user")) user = opt["user"];
  if (opt.count("password")) password = opt["password"];
  std::string host, path;
  int port = 80;
  ParseURL2(DeleteUserFromURL(url), 80, host, path, port);
  if (host.empty()) return Fail("the URL names no host");

  PInet h = InternetOpen("kztool", 0, opt.count("proxy") ? opt["proxy"].c_str() : nullptr, nullptr, 0);
  SetInetTimeOut(h, timeOut);
  if (opt.count("proxy-user"))
    InternetSetOption(h, INTERNET_OPTION_PROXY_USERNAME, opt["proxy-user"].c_str(), uint32_t(opt["proxy-user"].size()));
  if (opt.count("proxy-password"))
    InternetSetOption(h, INTERNET_OPTION_PROXY_PASSWORD, opt["proxy-password"].c_str(),
                      uint32_t(opt["proxy-password"].size()));
  int rc = 1;
  uint32_t status = 0, index = 0;
  if (!InternetConnect(h, host.c_str(), static_cast<uint16_t>(port), user.empty() ? nullptr : user.c_str(),
                       user.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0)) {
    std::fprintf(stderr, "kztool http: cannot connect to %s\n", GetHTTPHost(host, port).c_str());
  } else if (!HttpOpenRequest(h, head ? "HEAD" : "GET", path.c_str(), nullptr, nullptr, nullptr, 0, 0) ||
             !HttpSendRequest(h, nullptr, 0, nullptr, 0)) {
    std::fprintf(stderr, "kztool http: the request could not be sent\n");
  } else if (!HttpQueryInfo(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, index)) {
    std::fprintf(stderr, "kztool http: no reply\n");
  } else {
    std::fprintf(stderr, "status: %u\n", status);
    std::vector<char> buf(65536);
    uint32_t n = 0;
    int64_t total = 0;
    bool readOk = true;
    while ((maxBytes < 0 || total < maxBytes) && (readOk = InternetReadFile(h, buf.data(), uint32_t(buf.size()), n)) && n > 0) {
      const size_t take = maxBytes < 0 ? n : size_t(std::min<int64_t>(n, maxBytes - total));
      std::fwrite(buf.data(), 1, take, stdout);
      total += int64_t(take);
    }
    std::fflush(stdout);
    if (!readOk) std::fprintf(stderr, "kztool http: the body broke off\n");
    rc = (status >= 200 && status < 300 && readOk) ? 0 : 1;
  }
  for (int k = 0; h && k < 4; ++k) InternetCloseHandle(h);
  return rc;
}

}  // namespace kztool
