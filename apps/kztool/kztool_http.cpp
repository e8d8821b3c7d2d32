// kztool http: one request through the library's HTTP client.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"

using namespace kz;
using namespace kzapp;

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

const TKzOption kOptions[] = {
    {"--user", "U", "user name (wins over one in the URL)"},
    {"--password", "P", "password (wins over one in the URL)"},
    {"--proxy", "HOST:PORT", "send the request through this HTTP proxy"},
    {"--proxy-user", "U", "user name for the proxy"},
    {"--proxy-password", "P", "password for the proxy"},
    {"--head", nullptr, "a HEAD request instead of GET"},
    {"--timeout", "CLASS", "short, medium (default), long or huge"},
    {"--max-bytes", "N", "stop after N bytes of the body"},
};
}  // namespace

static int RunHttp(TKzArgs& Args) {
  if (Args.Positional.size() != 1) {
    Args.Error = Args.Positional.empty() ? "no URL given" : "more than one URL given";
    return kzExitUsage;
  }
  const std::string url = Args.Positional[0];
  const bool head = Args.Has("--head");
  std::map<std::string, std::string> opt;
  for (const auto& [name, value] : Args.Values) opt[name.substr(2)] = value;
  TKzTimeOut timeOut = TKzTimeOut::kztMedium;
  if (opt.count("timeout")) {
    bool found = false;
    for (const TTimeOutName& t : kTimeOuts)
      if (opt["timeout"] == t.Name) timeOut = t.Value, found = true;
    if (!found) {
      Args.Error = "--timeout takes short, medium, long or huge";
      return kzExitUsage;
    }
  }
  double maxBytesValue = -1;
  if (!Args.Number("--max-bytes", maxBytesValue, 0, 1e15)) return kzExitUsage;
  const int64_t maxBytes = static_cast<int64_t>(maxBytesValue);

  // Credentials may be written in the URL; options win.
  std::string user, password;
  ExtractUserFromURL(url, user, password);
  if (opt.count("user")) user = opt["user"];
  if (opt.count("password")) password = opt["password"];
  std::string host, path;
  int port = 80;
  ParseURL2(DeleteUserFromURL(url), 80, host, path, port);
  if (host.empty()) {
    Args.Error = "the URL names no host";
    return kzExitUsage;
  }

  PInet h = InternetOpen("kztool", 0, opt.count("proxy") ? opt["proxy"].c_str() : nullptr, nullptr, 0);
  SetInetTimeOut(h, timeOut);
  if (opt.count("proxy-user"))
    InternetSetOption(h, INTERNET_OPTION_PROXY_USERNAME, opt["proxy-user"].c_str(), uint32_t(opt["proxy-user"].size()));
  if (opt.count("proxy-password"))
    InternetSetOption(h, INTERNET_OPTION_PROXY_PASSWORD, opt["proxy-password"].c_str(),
                      uint32_t(opt["proxy-password"].size()));
  int rc = kzExitFailed;
  uint32_t status = 0, index = 0;
  if (!InternetConnect(h, host.c_str(), static_cast<uint16_t>(port), user.empty() ? nullptr : user.c_str(),
                       user.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0)) {
    KzErr("kztool http: cannot connect to %s\n", GetHTTPHost(host, port).c_str());
  } else if (!HttpOpenRequest(h, head ? "HEAD" : "GET", path.c_str(), nullptr, nullptr, nullptr, 0, 0) ||
             !HttpSendRequest(h, nullptr, 0, nullptr, 0)) {
    KzErr("kztool http: the request could not be sent\n");
  } else if (!HttpQueryInfo(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, index)) {
    KzErr("kztool http: no reply\n");
  } else {
    KzErr("status: %u\n", status);
    std::vector<char> buf(65536);
    uint32_t n = 0;
    int64_t total = 0;
    bool readOk = true;
    while ((maxBytes < 0 || total < maxBytes) && KzStopSignal() == 0 && (readOk = InternetReadFile(h, buf.data(), uint32_t(buf.size()), n)) && n > 0) {
      const size_t take = maxBytes < 0 ? n : size_t(std::min<int64_t>(n, maxBytes - total));
      std::fwrite(buf.data(), 1, take, stdout);
      total += int64_t(take);
    }
    std::fflush(stdout);
    if (!readOk) KzErr("kztool http: the body broke off\n");
    rc = KzStopSignal() != 0 ? kzExitInterrupted : (status >= 200 && status < 300 && readOk) ? kzExitDone : kzExitFailed;
  }
  for (int k = 0; h && k < 4; ++k) InternetCloseHandle(h);
  return rc;
}

const TSubcommand kHttpCommand = {
    "http", "URL", "one request through the library's HTTP client: body to stdout, \"status: N\" to stderr", kOptions,
    RunHttp};

}  // namespace kztool
