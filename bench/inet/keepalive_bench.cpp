// Keep-alive GETs per second from a local Apache httpd, ours against curl
// and ab in the same run (a small file and 1 MB), and the time to the first
// body byte with the connection pool cold and warm.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "bench/kzbench.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "tests/inet/kzinettest.h"

using namespace kz;
using namespace kztest;
using Clock = std::chrono::steady_clock;

namespace {
std::unique_ptr<TTempDir> gDir;
std::unique_ptr<TPeer> gApache;
uint16_t gPort = 0;
std::map<std::string, double> gPerRequestUs;  // name -> microseconds per request

std::string Url(const std::string& Path) { return "http://127.0.0.1:" + std::to_string(gPort) + Path; }

bool StartApache() {
  gDir = std::make_unique<TTempDir>();
  std::string big(1 << 20, 'x');
  WriteFile(*gDir / "small.txt", "small file\n");
  WriteFile(*gDir / "big.bin", big);
  gPort = FreePort();
  const std::string d = gDir->Path();
  WriteFile(*gDir / "httpd.conf",
            "ServerRoot /usr/lib/apache2\nServerName 127.0.0.1\n"
            "LoadModule mpm_event_module modules/mod_mpm_event.so\n"
            "LoadModule authz_core_module modules/mod_authz_core.so\n"
            "Listen 127.0.0.1:" + std::to_string(gPort) + "\nPidFile " + d + "/httpd.pid\nDefaultRuntimeDir " + d +
            "\nErrorLog " + d + "/error.log\nUser nobody\nGroup nogroup\nDocumentRoot " + d +
            "\nKeepAlive On\nMaxKeepAliveRequests 0\nKeepAliveTimeout 60\n<Directory " + d +
            ">\n  Require all granted\n</Directory>\n");
  std::system(("chmod -R a+rX " + d).c_str());
  gApache = std::make_unique<TPeer>();
  return gApache->Start({"apache2", "-f", *gDir / "httpd.conf", "-DFOREGROUND"}, *gDir / "apache.log") &&
         gApache->WaitListening(gPort, 10000);
}

// The table printed at the end is the result: the per-iteration times above
// it mix single requests (ours) with batches (curl, ab).
void Record(benchmark::State&, const std::string& Name, double Seconds, int64_t Requests) {
  gPerRequestUs[Name] = Seconds * 1e6 / double(Requests);
}

// ---- Ours: one record, one kept-alive connection, Requests GETs.
void Ours(benchmark::State& State, const std::string& Path, const std::string& Name) {
  PInet h = InternetOpen("kz-bench", 0, nullptr, nullptr, 0);
  h->cOPEN_CONNECT = 1;
  if (!InternetConnect(h, "127.0.0.1", gPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)) {
    State.SkipWithError("no connection");
    return;
  }
  std::vector<char> buf(1 << 16);
  double seconds = 0;
  int64_t requests = 0;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    uint32_t status = 0, index = 0, n = 0;
    size_t total = 0;
    HttpOpenRequest(h, "GET", Path.c_str(), nullptr, nullptr, nullptr, 0, 0);
    HttpSendRequest(h, nullptr, 0, nullptr, 0);
    HttpQueryInfo(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, index);
    while (InternetReadFile(h, buf.data(), uint32_t(buf.size()), n) && n > 0) total += n;
    PInet r = h;
    InternetCloseHandle(r);
    if (status != 200 || total == 0) State.SkipWithError("bad reply");
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    State.SetIterationTime(s);
    seconds += s;
    ++requests;
  }
  Record(State, Name, seconds, requests);
  for (int k = 0; h && k < 3; ++k) InternetCloseHandle(h);
}

// ---- curl: one process fetching Batch URLs over one kept-alive connection.
void Curl(benchmark::State& State, const std::string& Path, const std::string& Name, int Batch) {
  std::string cmd = "curl -s -o /dev/null";
  for (int i = 0; i < Batch; ++i) cmd += " -o /dev/null " + Url(Path);
  double seconds = 0;
  int64_t requests = 0;
  for (auto _ : State) {
    const auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) State.SkipWithError("curl failed");
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    State.SetIterationTime(s / Batch);
    seconds += s;
    requests += Batch;
  }
  Record(State, Name, seconds, requests);
}

// ---- ab: keep-alive, one client; its own requests-per-second figure.
void Ab(benchmark::State& State, const std::string& Path, const std::string& Name, int Count) {
  double seconds = 0;
  int64_t requests = 0;
  for (auto _ : State) {
    const std::string out = *gDir / "ab.out";
    const auto t0 = Clock::now();
    if (std::system(("ab -q -k -c 1 -n " + std::to_string(Count) + " " + Url(Path) + " >" + out + " 2>&1").c_str()) != 0)
      State.SkipWithError("ab failed");
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    const std::string text = ReadFile(out);
    const size_t p = text.find("Time taken for tests:");
    const double taken = p == std::string::npos ? s : std::stod(text.substr(p + 21));
    State.SetIterationTime(taken / Count);
    seconds += taken;
    requests += Count;
  }
  Record(State, Name, seconds, requests);
}

// ---- Time to the first body byte: a new record each time, pool cold or warm.
void FirstByte(benchmark::State& State, bool Warm, const std::string& Name) {
  double seconds = 0;
  int64_t requests = 0;
  char b[1];
  for (auto _ : State) {
    if (!Warm) KzInetShutdown();  // no pooled connection, no host memory, no cached name
    const auto t0 = Clock::now();
    PInet h = InternetOpen("kz-bench", 0, nullptr, nullptr, 0);
    h->cOPEN_CONNECT = Warm ? 1 : h->cOPEN_CONNECT;
    uint32_t status = 0, index = 0, n = 0;
    if (InternetConnect(h, "localhost", gPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)) {
      HttpOpenRequest(h, "GET", "/small.txt", nullptr, nullptr, nullptr, 0, 0);
      HttpSendRequest(h, nullptr, 0, nullptr, 0);
      HttpQueryInfo(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, index);
      InternetReadFile(h, b, 1, n);
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (n != 1) State.SkipWithError("no first byte");
    State.SetIterationTime(s);
    seconds += s;
    ++requests;
    // Finish the body so that the connection goes back to the pool clean.
    while (InternetReadFile(h, b, 1, n) && n > 0) {
    }
    for (int k = 0; h && k < 4; ++k) InternetCloseHandle(h);
  }
  Record(State, Name, seconds, requests);
}

void CurlFirstByte(benchmark::State& State, const std::string& Name) {
  double seconds = 0;
  int64_t requests = 0;
  for (auto _ : State) {
    const std::string out = *gDir / "curl.ttfb";
    std::system(("curl -s -o /dev/null -w '%{time_starttransfer}' " + Url("/small.txt") + " >" + out).c_str());
    const double s = std::stod(ReadFile(out));
    State.SetIterationTime(s);
    seconds += s;
    ++requests;
  }
  Record(State, Name, seconds, requests);
}
}  // namespace

int main(int argc, char** argv) {
  SetMainThread();
  if (!HaveProgram("apache2") || !StartApache()) {
    std::fprintf(stderr, "keepalive_bench: apache2 could not be started\n");
    return 1;
  }
  const bool haveCurl = HaveProgram("curl"), haveAb = HaveProgram("ab");
  if (!haveCurl) kzbench::MissingAnchor("keepalive", "curl is not installed");
  if (!haveAb) kzbench::MissingAnchor("keepalive", "ab (apache2-utils) is not installed");
  for (const auto& [path, tag, iters, batch] :
       {std::tuple<const char*, const char*, int, int>{"/small.txt", "small", 3000, 300},
        std::tuple<const char*, const char*, int, int>{"/big.bin", "1MB", 200, 50}}) {
    const std::string p = path, t = tag;
    benchmark::RegisterBenchmark(("keepalive_get/" + t + "/ours").c_str(), [p, t](benchmark::State& s) { Ours(s, p, t + "/ours"); })
        ->UseManualTime()->Iterations(iters)->Unit(benchmark::kMicrosecond);
    if (haveCurl)
      benchmark::RegisterBenchmark(("keepalive_get/" + t + "/curl").c_str(),
                                   [p, t, batch](benchmark::State& s) { Curl(s, p, t + "/curl", batch); })
          ->UseManualTime()->Iterations(iters / batch)->Unit(benchmark::kMicrosecond);
    if (haveAb)
      benchmark::RegisterBenchmark(("keepalive_get/" + t + "/ab").c_str(),
                                   [p, t, iters](benchmark::State& s) { Ab(s, p, t + "/ab", iters); })
          ->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("first_byte/cold/ours", [](benchmark::State& s) { FirstByte(s, false, "ttfb/cold/ours"); })
      ->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("first_byte/warm/ours", [](benchmark::State& s) { FirstByte(s, true, "ttfb/warm/ours"); })
      ->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);
  if (haveCurl)
    benchmark::RegisterBenchmark("first_byte/cold/curl", [](benchmark::State& s) { CurlFirstByte(s, "ttfb/cold/curl"); })
        ->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::printf("\n%-22s %14s %14s\n", "case", "us/request", "requests/s");
  for (const auto& [name, us] : gPerRequestUs) std::printf("%-22s %14.1f %14.0f\n", name.c_str(), us, 1e6 / us);
  auto ratio = [](const std::string& a, const std::string& b) {
    if (gPerRequestUs.count(a) && gPerRequestUs.count(b))
      kzbench::Cost("keepalive_get/" + a + "_vs_" + b.substr(b.rfind('/') + 1), gPerRequestUs[a], gPerRequestUs[b],
                    "us/request");
  };
  for (const char* t : {"small", "1MB"}) {
    ratio(std::string(t) + "/ours", std::string(t) + "/curl");
    ratio(std::string(t) + "/ours", std::string(t) + "/ab");
  }
  ratio("ttfb/cold/ours", "ttfb/cold/curl");
  if (gPerRequestUs.count("ttfb/warm/ours") && gPerRequestUs.count("ttfb/cold/ours"))
    std::printf("first byte, warm over cold connection: %.2f\n", gPerRequestUs["ttfb/warm/ours"] / gPerRequestUs["ttfb/cold/ours"]);
  KzInetShutdown();
  gApache.reset();
  return kzbench::Finish();
}
