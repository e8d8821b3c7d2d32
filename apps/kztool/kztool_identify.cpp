// kztool identify: what camera answers at an address (vendor families or
// ONVIF, protocol generation, the user's access level, a model-table URL)
// and its name, model and firmware (after preparation, or as an ONVIF
// device tells them, with its profiles and stream URIs); with --scan, every
// address of a range, a bounded number at a time.
#include <arpa/inet.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/kzappconsole.h"
#include "apps/kztool/kztool.h"
#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzCamSearch.h"
#include "camera/fmxMKzCamera.h"
#include "foundation/fmxMKzRedact.h"
#include "platform/fmxMKzPlatformMainThread.h"

using namespace kz;
using namespace kzapp;

namespace kztool {

namespace {
const TKzOption kOptions[] = {
    {"--user", "U", "user name"},
    {"--password", "P", "password"},
    {"--types", "LIST", "foscam,panasonic,dlink,axis,mobotix (default: all) or unknown (ONVIF and the model table only)"},
    {"--no-onvif", nullptr, "send no ONVIF request"},
    {"--format", "F", "mjpeg (default) or h264: the model table searched"},
    {"--no-prepare", nullptr, "identify only; do not read the camera's settings"},
    {"--scan", "CIDR", "identify every address of a range (at most 1024 addresses)"},
    {"--ports", "LIST", "scan: the ports tried at each address (default 80)"},
    {"--parallel", "N", "scan: addresses identified at once (default 32)"},
    {"--send-credentials", nullptr, "scan: send --user and --password to every address of the range"},
};

constexpr size_t kMaxScan = 1024;

struct TTypeName {
  const char* Name;
  TKzCameraType Type;
};
const TTypeName kTypeNames[] = {{"foscam", TKzCameraType::kzctFoscam},       {"panasonic", TKzCameraType::kzctPanasonic},
                                {"dlink", TKzCameraType::kzctDLink},         {"axis", TKzCameraType::kzctAxis},
                                {"mobotix", TKzCameraType::kzctMobotix},     {"unknown", TKzCameraType::kzctUnknown},
                                {"aviosys", TKzCameraType::kzctAviosys},     {"smartec", TKzCameraType::kzctSmartec},
                                {"acti", TKzCameraType::kzctACTi},           {"arcvision", TKzCameraType::kzctArcVision},
                                {"beward", TKzCameraType::kzctBeward},       {"genius", TKzCameraType::kzctGenius},
                                {"planet", TKzCameraType::kzctPlanet},       {"samsung", TKzCameraType::kzctSamsung},
                                {"trendnet", TKzCameraType::kzctTrendnet},   {"vivotek", TKzCameraType::kzctVivotek}};
const char* const kAccessNames[] = {"none", "present", "visitor", "operator", "admin"};

std::vector<std::string> Split(const std::string& Text) {
  std::vector<std::string> out;
  for (size_t b = 0; b <= Text.size();) {
    size_t e = Text.find(',', b);
    if (e == std::string::npos) e = Text.size();
    if (e > b) out.push_back(Text.substr(b, e - b));
    b = e + 1;
  }
  return out;
}

// The vendor families found; "onvif" for a camera no family claimed that
// answered as an ONVIF device (whether or not it took the credentials).
std::string TypesText(const TKzSearchOutcome& Outcome) {
  std::string out;
  for (const TTypeName& t : kTypeNames)
    if (Outcome.Types.Contains(t.Type)) out += (out.empty() ? "" : ",") + std::string(t.Name);
  if (out.empty() && Outcome.Onvif.IsOnvif) out = "onvif";
  return out.empty() ? "-" : out;
}

// The stream an ONVIF camera is played from: its JPEG profile's for Motion-JPEG, else its H.264 one's.
std::string OnvifStream(const TKzSearchOutcome& Outcome, TKzVideoFormat Format) {
  const TKzCamOnvif& o = Outcome.Onvif.Onvif;
  const bool mjpeg = Format == TKzVideoFormat::kzvfMJPEG;
  const std::string& first = mjpeg ? o.MJPEGStreamURI : o.H264StreamURI;
  return first.empty() ? (mjpeg ? o.H264StreamURI : o.MJPEGStreamURI) : first;
}

// One address being identified: its camera and search.
struct TJob {
  TJob(std::string AHost, uint16_t APort) : Host(std::move(AHost)), Port(APort) {}
  std::string Host;
  uint16_t Port = 0;
  std::unique_ptr<TKzCamera> Cam;
  std::unique_ptr<TSearchCameraThread> Search;
  bool Done = false;
  TKzSearchOutcome Outcome;
  TKzUserAccess Access = TKzUserAccess::uaNone;
};

struct TSettings {
  std::string User, Password;
  TKzCameraTypes Types;
  TKzVideoFormat Format = TKzVideoFormat::kzvfMJPEG;
  bool Scan = false;
  bool UseONVIF = true;
};

void StartJob(TJob& J, const TSettings& S) {
  J.Cam = std::make_unique<TKzCamera>(nullptr);
  TKzCamera& cam = *J.Cam;
  cam.SetCameraHost(J.Host);
  cam.SetCameraPort(J.Port);
  cam.SetUserName(S.User);
  cam.SetUserPassword(S.Password);
  cam.SetVideoFormat(S.Format);
  cam.SetUseONVIF(S.UseONVIF);
  if (S.Scan) {
    cam.SetSearchHTTPTimeOut(TKzTimeOut::kztShort);
    cam.SetCameraSearchTimeOut(2000);
  }
  J.Search = std::make_unique<TSearchCameraThread>(&cam, true, S.Types, cam.ProtocolVersion(), S.Format,
                                                   KzMakeSearchContext(cam, "", 0, S.Types, S.Format));
  StartThread(J.Search.get());
}

// Takes the outcome of a finished search; true when it ended.
bool Reap(TJob& J) {
  if (J.Done || !J.Search || !J.Search->Finished()) return J.Done;
  J.Search->WaitFor();
  J.Outcome = J.Search->Outcome();
  // An ONVIF device's level is the search's finding; the camera takes it only when it runs the search itself.
  J.Access = J.Outcome.FromOnvif ? J.Outcome.Onvif.Access : J.Cam->UserAccess();
  J.Search.reset();
  J.Done = true;
  return true;
}

bool ParseHostPort(const std::string& Text, std::string& Host, uint16_t& Port) {
  const size_t colon = Text.rfind(':');
  Host = Text.substr(0, colon);
  Port = 80;
  if (colon != std::string::npos) {
    const long p = std::strtol(Text.c_str() + colon + 1, nullptr, 10);
    if (p <= 0 || p > 65535) return false;
    Port = static_cast<uint16_t>(p);
  }
  return !Host.empty();
}

// The host addresses of a range: at most kMaxScan, no multicast or broadcast.
bool ScanAddresses(const std::string& CIDR, std::vector<std::string>& Out, std::string& Error) {
  const size_t slash = CIDR.find('/');
  in_addr base{};
  const long bits = slash == std::string::npos ? 32 : std::strtol(CIDR.c_str() + slash + 1, nullptr, 10);
  if (inet_pton(AF_INET, CIDR.substr(0, slash).c_str(), &base) != 1 || bits < 0 || bits > 32) {
    Error = "--scan takes an IPv4 range such as 192.168.1.0/24";
    return false;
  }
  const uint64_t count = uint64_t{1} << (32 - bits);
  if (count > kMaxScan) {
    Error = "--scan covers at most 1024 addresses (/22 or narrower)";
    return false;
  }
  const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  const uint32_t first = ntohl(base.s_addr) & mask;
  if ((first >> 28) == 0xE || first == 0xFFFFFFFFu || ((first | ~mask) == 0xFFFFFFFFu)) {
    Error = "--scan does not take multicast or broadcast addresses";
    return false;
  }
  // Without the network and broadcast addresses of ranges that have them.
  const uint64_t from = count > 2 ? 1 : 0, to = count > 2 ? count - 1 : count;
  for (uint64_t i = from; i < to; ++i) {
    in_addr a{htonl(first + static_cast<uint32_t>(i))};
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    Out.push_back(text);
  }
  return true;
}

void PrintOnvif(const TKzSearchOutcome& R, TKzVideoFormat Format) {
  const TKzOnvifIdentity& id = R.Onvif;
  KzOut("onvif: %s\nmanufacturer: %s\nmodel: %s\nfirmware: %s\n", id.Onvif.DeviceURL.c_str(),
        id.Info.Manufacturer.c_str(), id.Info.Model.c_str(), id.Info.FirmwareVersion.c_str());
  for (size_t k = 0; k < id.Profiles.size(); ++k) {
    const TKzOnvifProfile& p = id.Profiles[k];
    KzOut("profile: %s %s %dx%d %s\n", p.Token.c_str(), p.Encoding.empty() ? "-" : p.Encoding.c_str(), p.Width,
          p.Height, KzRedactCredentials(k < id.StreamURIs.size() ? id.StreamURIs[k] : "").c_str());
  }
  KzOut("stream: %s\n", KzRedactCredentials(OnvifStream(R, Format)).c_str());
}

int Identify(const std::string& Host, uint16_t Port, const TSettings& S, bool Prepare) {
  TJob job(Host, Port);
  StartJob(job, S);
  const uint64_t t0 = KzMGetTickCount();
  while (!Reap(job)) {
    if (KzStopSignal() != 0) job.Search->Abort();
    PumpUntil([&] { return job.Search->Finished(); }, 1000);
    if (!job.Search->Finished())
      KzErr("identify: probing %s:%u, %llu s, access %s\n", Host.c_str(), Port,
            static_cast<unsigned long long>((KzMGetTickCount() - t0) / 1000),
            kAccessNames[static_cast<int>(job.Cam->UserAccess())]);
  }
  TKzCamera& cam = *job.Cam;
  const TKzSearchOutcome& r = job.Outcome;
  KzOut("address: %s:%u\ntypes: %s\n", Host.c_str(), Port, TypesText(r).c_str());
  if (r.HasVersion) KzOut("protocol: %s\n", r.ProtocolVersion == TKzProtocolVersion::kzpvVer1_2 ? "ver1.2" : "ver1");
  KzOut("access: %s\n", kAccessNames[static_cast<int>(job.Access)]);
  if (r.FromTable) KzOut("url: %s\nmodels: %s\n", KzRedactCredentials(r.URL).c_str(), r.Models.c_str());
  if (r.Onvif.LoginFailed) KzOut("onvif: the device refused the credentials (%s)\n", r.Onvif.Error.c_str());
  if (r.FromOnvif) PrintOnvif(r, S.Format);
  if (!r.Found()) return kzExitFailed;
  if (Prepare && !r.Types.Empty() && !r.FromTable) {
    cam.SetIPCameraTypes(r.Types);
    if (r.HasVersion) cam.DoSetProtocolVersion(r.ProtocolVersion);
    bool prepared = false;
    cam.OnPrepared = [&](TComponent*, int32_t) { prepared = true; };
    if (cam.Prepare()) {
      while (!PumpUntil([&] { return prepared; }, 1000))
        if (KzStopSignal() != 0) cam.Abort();
      KzOut("alias: %s\nmodel: %s\nfirmware: %s\n", KzCamFieldGet(cam, TKzCamField::kzfAlias).c_str(),
            KzCamFieldGet(cam, TKzCamField::kzfID).c_str(), KzCamFieldGet(cam, TKzCamField::kzfVersion).c_str());
    }
  }
  return kzExitDone;
}

int Scan(const std::vector<std::string>& Addresses, const std::vector<uint16_t>& Ports, size_t Parallel,
         const TSettings& S) {
  std::vector<TJob> jobs;
  for (const std::string& a : Addresses)
    for (uint16_t p : Ports) jobs.emplace_back(a, p);
  size_t next = 0, running = 0, done = 0;
  uint64_t report = KzMGetTickCount() + 1000;
  while (done < jobs.size()) {
    while (running < Parallel && next < jobs.size()) {
      StartJob(jobs[next++], S);
      ++running;
    }
    PumpUntil([&] { return std::any_of(jobs.begin(), jobs.end(), [](const TJob& j) { return j.Search && j.Search->Finished(); }); }, 100);
    for (TJob& j : jobs)
      if (j.Search && Reap(j)) {
        j.Cam.reset();
        --running;
        ++done;
      }
    if (KzStopSignal() != 0)
      for (TJob& j : jobs)
        if (j.Search) j.Search->Abort();
    if (KzMGetTickCount() >= report) {
      report += 1000;
      const auto found = std::count_if(jobs.begin(), jobs.end(), [](const TJob& j) { return j.Outcome.Found(); });
      KzErr("scan: %zu of %zu done, %zu running, %ld found\n", done, jobs.size(), running, static_cast<long>(found));
    }
  }
  int found = 0;
  KzOut("%-21s %-28s %-8s %-9s %s\n", "ADDRESS", "TYPES", "PROTOCOL", "ACCESS", "URL");
  for (const TJob& j : jobs) {
    // An ONVIF device that refused the credentials is listed too (access none).
    if (!j.Outcome.Found() && !j.Outcome.Onvif.IsOnvif) continue;
    ++found;
    const TKzSearchOutcome& r = j.Outcome;
    const std::string url = r.FromTable ? r.URL : r.FromOnvif ? OnvifStream(r, S.Format) : "";
    KzOut("%-21s %-28s %-8s %-9s %s\n", (j.Host + ":" + std::to_string(j.Port)).c_str(), TypesText(r).c_str(),
          !r.HasVersion ? "-" : r.ProtocolVersion == TKzProtocolVersion::kzpvVer1_2 ? "ver1.2" : "ver1",
          kAccessNames[static_cast<int>(j.Access)], url.empty() ? "-" : KzRedactCredentials(url).c_str());
  }
  return found > 0 ? kzExitDone : kzExitFailed;
}

int Run(TKzArgs& Args) {
  TSettings s;
  s.User = Args.Get("--user");
  s.Password = Args.Get("--password");
  for (const std::string& name : Split(Args.Get("--types"))) {
    const auto t = std::find_if(std::begin(kTypeNames), std::end(kTypeNames), [&](const TTypeName& n) { return name == n.Name; });
    if (t == std::end(kTypeNames)) {
      Args.Error = "unknown camera type " + name;
      return kzExitUsage;
    }
    s.Types.Include(t->Type);
  }
  const std::string format = Args.Get("--format", "mjpeg");
  if (format != "mjpeg" && format != "h264") {
    Args.Error = "--format takes mjpeg or h264";
    return kzExitUsage;
  }
  s.Format = format == "h264" ? TKzVideoFormat::kzvfH264 : TKzVideoFormat::kzvfMJPEG;
  s.UseONVIF = !Args.Has("--no-onvif");
  if (!Args.Has("--scan")) {
    std::string host;
    uint16_t port = 80;
    if (Args.Positional.size() != 1 || !ParseHostPort(Args.Positional[0], host, port)) {
      Args.Error = "give one HOST[:PORT] (or --scan CIDR)";
      return kzExitUsage;
    }
    return Identify(host, port, s, !Args.Has("--no-prepare"));
  }
  std::vector<std::string> addresses;
  if (!Args.Positional.empty()) {
    Args.Error = "--scan takes no HOST";
    return kzExitUsage;
  }
  if (!ScanAddresses(Args.Get("--scan"), addresses, Args.Error)) return kzExitUsage;
  std::vector<uint16_t> ports;
  for (const std::string& p : Split(Args.Get("--ports", "80"))) {
    const long v = std::strtol(p.c_str(), nullptr, 10);
    if (v <= 0 || v > 65535) {
      Args.Error = "--ports takes port numbers separated by commas";
      return kzExitUsage;
    }
    ports.push_back(static_cast<uint16_t>(v));
  }
  double parallel = 32;
  if (!Args.Number("--parallel", parallel, 1, 256)) return kzExitUsage;
  if (addresses.size() * ports.size() > kMaxScan * 4) {
    Args.Error = "--scan with --ports: at most 4096 address and port pairs";
    return kzExitUsage;
  }
  // Foscam's older CGI set puts the credentials into every probe's query:
  // they go to the whole range only when asked for.
  s.Scan = true;
  if (!Args.Has("--send-credentials")) s.User = s.Password = "";
  return Scan(addresses, ports, static_cast<size_t>(parallel), s);
}
}  // namespace

const TSubcommand kIdentifyCommand = {
    "identify", "HOST[:PORT]",
    "identify the camera at an address (exit 0 found, 1 nothing found); --scan: every address of a range",
    kOptions, &Run};

}  // namespace kztool
