// Camera identification against kzcamsim in each vendor mode with users of
// each level, ONVIF beside the vendors, the model-table search, and hosts
// that do not behave.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzCamSearch.h"
#include "tests/camera/camera_rig.h"
#include "tests/camera/vendor_rig.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;
using T = TKzCameraType;
using A = TKzUserAccess;

namespace {
constexpr int kSearchBoundMs = 30000;

// A camera that searches and records the end.
struct TSearchRig {
  TSearchRig(uint16_t Port, const std::string& User = "", const std::string& Password = "") {
    Cam.SetCameraHost("127.0.0.1");
    Cam.SetCameraPort(Port);
    Cam.SetUserName(User);
    Cam.SetUserPassword(Password);
    Cam.OnSearchComplete = [this](TComponent*, int32_t Status) { Statuses.push_back(Status); };
    Cam.OnPrepared = [this](TComponent*, int32_t Status) { Prepared.push_back(Status); };
  }
  bool Search(TKzCameraTypes Types = {}, int BoundMs = kSearchBoundMs) {
    return Cam.SearchCamera(Types) && PumpUntil([this] { return !Statuses.empty(); }, BoundMs);
  }
  TKzCamera Cam{nullptr};
  std::vector<int32_t> Statuses, Prepared;
};

// A server that answers every request its way: a body of Size bytes ending
// in Tail, sent at once or one byte a second; or nothing at all (Mute).
class THostileServer {
public:
  enum class TMode { Mute, Huge, Trickle, Page };
  THostileServer(TMode Mode, std::string Body) : FMode(Mode), FBody(std::move(Body)) {
    FListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(FListen, 64);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &n);
    Port = ntohs(a.sin_port);
    FThread = std::thread([this] { Serve(); });
  }
  ~THostileServer() {
    FStop = true;
    FThread.join();
    for (std::thread& t : FClients) t.join();
    close(FListen);
  }
  uint16_t Port = 0;

private:
  void Serve() {
    while (!FStop) {
      pollfd p{FListen, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int s = accept(FListen, nullptr, nullptr);
      if (s >= 0) FClients.emplace_back([this, s] { Answer(s); });
    }
  }
  bool Send(int S, const char* Data, size_t Size) {
    return send(S, Data, Size, MSG_NOSIGNAL) == static_cast<ssize_t>(Size);
  }
  void Answer(int S) {
    char buf[4096];
    while (!FStop && recv(S, buf, sizeof buf, MSG_DONTWAIT) <= 0) usleep(10000);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(FMode == TMode::Huge ? (10u << 20) + FBody.size() : FBody.size()) +
                             "\r\nConnection: close\r\n\r\n";
    if (FMode == TMode::Mute) {
      while (!FStop) usleep(10000);
    } else if (FMode == TMode::Huge) {
      const std::string filler(65536, 'x');
      bool ok = Send(S, head.data(), head.size());
      for (int i = 0; ok && !FStop && i < 160; ++i) ok = Send(S, filler.data(), filler.size());
      if (ok) Send(S, FBody.data(), FBody.size());
    } else if (FMode == TMode::Trickle) {
      bool ok = Send(S, head.data(), head.size());
      for (size_t i = 0; ok && !FStop && i < FBody.size(); ++i) {
        ok = Send(S, &FBody[i], 1);
        for (int w = 0; w < 100 && !FStop; ++w) usleep(10000);
      }
    } else {
      Send(S, head.data(), head.size());
      Send(S, FBody.data(), FBody.size());
    }
    close(S);
  }
  TMode FMode;
  std::string FBody;
  int FListen = -1;
  std::atomic<bool> FStop{false};
  std::thread FThread;
  std::vector<std::thread> FClients;
};

// Every vendor's identification and level markers in one page.
const char* kAllMarkers =
    "var sys_ver='1';<title>IPCam Client</title><title>nphPanTiltControl</title>resolution=1 "
    "nphControlCamera?Direction=PanLeft product cameraname system.modelname=DCS-930 system.serialnumber=1 "
    "root.Properties.API=1 root.Image.I0=1 root.PTZ=1 admin=\"root\" moverel image/jpeg \xFF\xD8";

struct TLevelRow {
  const char* Vendor;
  const char* User;  // "name:password:level"
  const char* Model;
  TKzCameraTypes Types;
  TKzProtocolVersion Version;
  A Access;
  TKzCamField Field;  // read by preparation (kzfNone: none)
  const char* Value;
};
}  // namespace

// Each vendor mode with users of each level: the types, the protocol
// generation and the access level the probes find, and what preparation
// then reads into the camera.
TEST(Search, VendorModesAndLevels) {
  using P = TKzProtocolVersion;
  using F = TKzCamField;
  const std::vector<TLevelRow> rows = {
      {"foscam", "v:pv:0", "", {T::kzctFoscam}, P::kzpvVer1, A::uaVisitor, F::kzfNone, ""},
      {"foscam", "o:po:1", "", {T::kzctFoscam}, P::kzpvVer1, A::uaOperator, F::kzfNone, ""},
      {"foscam", "a:pa:2", "", {T::kzctFoscam}, P::kzpvVer1, A::uaAdmin, F::kzfIPAddr, "192.168.1.20"},
      {"foscam-hd", "v:pv:0", "", {T::kzctFoscam}, P::kzpvVer1_2, A::uaVisitor, F::kzfAlias, "kzcamsim"},
      {"foscam-hd", "a:pa:2", "", {T::kzctFoscam}, P::kzpvVer1_2, A::uaAdmin, F::kzfIPAddr, "192.168.1.30"},
      {"panasonic", "v:pv:3", "", {T::kzctPanasonic}, P::kzpvVer1, A::uaVisitor, F::kzfAlias, "Panasonic Camera"},
      {"panasonic", "o:po:2", "", {T::kzctPanasonic}, P::kzpvVer1, A::uaOperator, F::kzfSaturation, "50"},
      {"dlink", "v:pv:user", "", {T::kzctDLink}, P::kzpvVer1, A::uaVisitor, F::kzfBrightness, "8"},
      {"dlink", "a:pa:admin", "", {T::kzctDLink}, P::kzpvVer1, A::uaAdmin, F::kzfAlias, "kzcamsim"},
      {"dlink", "a:pa:admin", "DCS-9999", {T::kzctDLink}, P::kzpvVer1, A::uaPresent, F::kzfNone, ""},
      {"axis", "v:pv:viewer", "", {T::kzctAxis}, P::kzpvVer1, A::uaVisitor, F::kzfNone, ""},
      {"axis", "o:po:operator", "", {T::kzctAxis}, P::kzpvVer1, A::uaOperator, F::kzfNone, ""},
      {"axis", "a:pa:admin", "", {T::kzctAxis}, P::kzpvVer1, A::uaAdmin, F::kzfAlias, "AXIS 214 PTZ Network Camera"},
      {"mobotix", "o:po:user", "", {T::kzctMobotix}, P::kzpvVer1, A::uaOperator, F::kzfBrightness, "0"},
      // Without the pan/tilt list but with a stream: present, not identified.
      {"mobotix", "g:pg:guest", "", {}, P::kzpvVer1, A::uaPresent, F::kzfNone, ""},
  };
  for (const TLevelRow& r : rows) {
    SCOPED_TRACE(std::string(r.Vendor) + " " + r.User + " " + r.Model);
    TVendorRig fake(r.Vendor, {r.User}, r.Model);
    ASSERT_TRUE(fake.Started) << fake.Error;
    const std::string u = r.User;
    TSearchRig rig(fake.Sim.Port(), u.substr(0, u.find(':')), u.substr(u.find(':') + 1, u.rfind(':') - u.find(':') - 1));
    rig.Cam.DoSetProtocolVersion(r.Version == P::kzpvVer1 ? P::kzpvVer1_2 : P::kzpvVer1);  // must be overwritten
    rig.Cam.SetCameraSearchTimeOut(1000);
    ASSERT_TRUE(rig.Search());
    EXPECT_EQ(rig.Cam.IPCameraTypes().Bits(), r.Types.Bits());
    EXPECT_EQ(rig.Cam.UserAccess(), r.Access);
    EXPECT_EQ(rig.Statuses, std::vector<int32_t>{r.Types.Empty() ? 1 : 0});
    if (r.Types.Contains(T::kzctFoscam)) {
      EXPECT_EQ(rig.Cam.ProtocolVersion(), r.Version);
    }
    EXPECT_FALSE(rig.Cam.Searching());
    if (r.Field != F::kzfNone) {
      EXPECT_EQ(rig.Prepared.size(), 1u);
      EXPECT_EQ(KzCamFieldGet(rig.Cam, r.Field), r.Value);
    }
  }
}

// One port answering two vendors gets both types and Foscam's generation;
// an empty requested set runs all five probes.
TEST(Search, SeveralVendorsOnOnePort) {
  TVendorRig fake("foscam-hd,axis", {"a:pa:2"});
  ASSERT_TRUE(fake.Started) << fake.Error;
  TSearchRig rig(fake.Sim.Port(), "a", "pa");
  ASSERT_TRUE(rig.Search());
  EXPECT_EQ(rig.Cam.IPCameraTypes().Bits(), (TKzCameraTypes{T::kzctFoscam, T::kzctAxis}.Bits()));
  EXPECT_EQ(rig.Cam.ProtocolVersion(), TKzProtocolVersion::kzpvVer1_2);
  EXPECT_EQ(rig.Cam.UserAccess(), A::uaAdmin);
  std::string log;
  for (const std::string& l : fake.Fake().Log()) log += l + "\n";
  for (const char* probe : {"/get_status.cgi", "/nphPanTiltControl", "/eng/admin/st_device.cgi",
                            "/axis-cgi/view/param.cgi", "/control/click.cgi"})
    EXPECT_NE(log.find(probe), std::string::npos) << probe;
}

// ONVIF counts only when no vendor matched, and before the model table: an
// ONVIF-only fake is driven through ONVIF and plays its JPEG profile; a
// Foscam fake that also speaks ONVIF stays Foscam; a refused login is
// reported; with UseONVIF off not one ONVIF request is made.
TEST(Search, OnvifBesideTheVendors) {
  struct TRow {
    const char* Name;
    const char* Vendor;
    const char* Password;
    bool UseONVIF;
    TKzCameraTypes Types;
    A Access;
    int32_t Status;
    bool Onvif;  // the camera keeps an ONVIF device
    int LoginFailed;
  };
  const std::vector<TRow> rows = {
      {"onvif only", "", "po", true, {}, A::uaOperator, 0, true, 0},
      {"foscam with onvif", "foscam", "po", true, {T::kzctFoscam}, A::uaVisitor, 0, false, 0},
      {"wrong password", "", "bad", true, {}, A::uaNone, 1, false, 1},
      {"onvif off", "", "po", false, {}, A::uaNone, 1, false, 0},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    // Stream and picture where no model-table row looks: only ONVIF can find them.
    kzcamsim::TKzSimOptions o = OnvifFakeOptions(r.Vendor, {"o:po:operator"}, {"o:po:0"});
    o.StreamPath = "/kz/stream.mjpg";
    o.StillPath = "/kz/still.jpg";
    kzcamsim::TKzCamSim sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    TSearchRig rig(sim.Port(), "o", r.Password);
    int loginFailed = 0;
    rig.Cam.OnLoginFailed = [&](TComponent*, const std::string&) { ++loginFailed; };
    rig.Cam.SetUseONVIF(r.UseONVIF);
    rig.Cam.SetCameraSearchTimeOut(1000);
    ASSERT_TRUE(rig.Search());
    EXPECT_EQ(rig.Statuses, std::vector<int32_t>{r.Status});
    EXPECT_EQ(rig.Cam.IPCameraTypes().Bits(), r.Types.Bits()) << rig.Cam.URL();
    EXPECT_EQ(rig.Cam.UserAccess(), r.Access);
    EXPECT_EQ(!rig.Cam.Onvif().DeviceURL.empty(), r.Onvif);
    EXPECT_EQ(loginFailed, r.LoginFailed);
    if (!r.UseONVIF) {
      EXPECT_EQ(CountRequests(sim, "/onvif/"), 0);
    }
    if (!r.Onvif) continue;
    EXPECT_EQ(CountRequests(sim, "/videostream.cgi"), 0);  // no model-table search after ONVIF matched
    EXPECT_EQ(KzCamFieldGet(rig.Cam, TKzCamField::kzfID), "kzcamsim");
    EXPECT_TRUE(rig.Prepared.empty());
    kzcamsim::TKzSimFrameProbe probe(&sim);
    rig.Cam.RegisterCamView(&probe);
    rig.Cam.PlayVideoStream();
    EXPECT_TRUE(PumpUntil([&] { return probe.Frames() >= 3; }, 15000));
    rig.Cam.Abort();
    rig.Cam.WaitForVideoStream();
    rig.Cam.UnRegisterCamView(&probe);
  }
}

// Only kzctUnknown: no vendor probe, every Motion-JPEG table row tried with
// never more than the pool in flight; a table path that answers becomes the
// camera's URL (host and port cleared), the earliest such row winning.
TEST(Search, ModelTable) {
  kzcamsim::TKzCamSim empty(StreamPathOptions("/nothing-here.mjpg"));
  ASSERT_TRUE(empty.Start());
  TKzCamera cam(nullptr);
  cam.SetCameraHost("127.0.0.1");
  cam.SetCameraPort(empty.Port());
  cam.SetMaxCameraSearchThreadCount(4);
  auto context = KzMakeSearchContext(cam, "", 0, {T::kzctUnknown}, TKzVideoFormat::kzvfMJPEG);
  TIsCamDevicesThread pool(&cam, context, {T::kzctUnknown});
  StartThread(&pool);
  pool.WaitFor();
  EXPECT_FALSE(pool.Result());
  EXPECT_EQ(empty.Requests().size(), context->Candidates.size());
  EXPECT_EQ(context->Candidates.size(), CamAnyMJPEG.size());
  EXPECT_LE(pool.PeakInFlight(), size_t{4});
  EXPECT_GT(pool.PeakInFlight(), size_t{1});

  kzcamsim::TKzCamSim sim(StreamPathOptions("/videostream.cgi"));
  ASSERT_TRUE(sim.Start());
  TSearchRig rig(sim.Port());
  ASSERT_TRUE(rig.Search({T::kzctUnknown}));
  EXPECT_EQ(rig.Statuses, std::vector<int32_t>{0});
  // Several rows name this path; which of them is found first depends on
  // when each probe ends (the earliest row wins only among those found
  // finished at the same check).
  const std::string stream = "http://127.0.0.1:" + std::to_string(sim.Port()) + "/videostream.cgi";
  EXPECT_EQ(rig.Cam.URL().substr(0, stream.size()), stream) << rig.Cam.URL();
  EXPECT_EQ(rig.Cam.CameraHost(), "");
  EXPECT_EQ(rig.Cam.CameraPort(), 0);
  EXPECT_TRUE(rig.Cam.IPCameraTypes().Contains(T::kzctFoscam));  // one row of the path also names Vivotek
  EXPECT_TRUE(rig.Prepared.empty());
}

// The H.264 table: an RTSP server serving one of its paths is found.
TEST(Search, ModelTableRTSP) {
  TRtspServer server(false, "/live1.sdp", {TRtspMedia::H264});
  KZ_NEED(server.Why().empty(), server.Why());
  TSearchRig rig(1);
  rig.Cam.SetRTSPPort(server.Port);
  rig.Cam.SetVideoFormat(TKzVideoFormat::kzvfH264);
  rig.Cam.SetCameraSearchTimeOut(500);
  TKzCameraTypes devices;
  std::string url, models;
  ASSERT_TRUE(rig.Cam.IsCamDevices({T::kzctDLink}, devices, url, models));
  EXPECT_EQ(url, server.Url());  // row 59, the first D-Link row the server knows
  EXPECT_TRUE(devices.Contains(T::kzctDLink));
}

// Hosts that do not behave: nothing is identified, the search ends in
// bounded time; an abort ends it within a second and keeps what was found.
TEST(Search, UnreachableMuteHostileAndAbort) {
  using M = THostileServer::TMode;
  const std::string html401 = "<html><head><title>401 Unauthorized</title></head><body>401</body></html>";
  const TKzCameraTypes vendors{T::kzctFoscam, T::kzctPanasonic, T::kzctDLink, T::kzctAxis, T::kzctMobotix};
  struct TRow {
    const char* Name;
    M Mode;
    std::string Body;
  };
  const std::vector<TRow> rows = {{"mute", M::Mute, ""},
                                  {"10 MiB", M::Huge, kAllMarkers},
                                  {"trickle", M::Trickle, std::string(4, ' ') + kAllMarkers},
                                  {"401 page", M::Page, html401}};
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    THostileServer server(r.Mode, r.Body);
    TSearchRig rig(server.Port, "admin", "admin");
    rig.Cam.SetCameraSearchTimeOut(500);
    rig.Cam.SetSearchHTTPTimeOut(TKzTimeOut::kztShort);
    ASSERT_TRUE(rig.Search(vendors, 60000));
    EXPECT_TRUE(rig.Cam.IPCameraTypes().Empty());
    EXPECT_EQ(rig.Statuses, std::vector<int32_t>{1});
  }
  {
    SCOPED_TRACE("closed port");
    uint16_t closed = 0;
    { THostileServer gone(M::Mute, ""); closed = gone.Port; }
    TSearchRig rig(closed);
    ASSERT_TRUE(rig.Search());
    EXPECT_TRUE(rig.Cam.IPCameraTypes().Empty());
  }
  {
    SCOPED_TRACE("abort");
    // Every probe waits on a body that comes a byte a second.
    THostileServer slow(M::Trickle, kAllMarkers);
    TSearchRig rig(slow.Port, "a", "pa");
    rig.Cam.SetCameraSearchTimeOut(20000);
    ASSERT_TRUE(rig.Cam.SearchCamera({}));
    PumpFor(300);
    const uint64_t t0 = KzMGetTickCount();
    rig.Cam.Abort();
    ASSERT_TRUE(PumpUntil([&] { return !rig.Statuses.empty(); }, kStopBoundMs));
    EXPECT_LT(KzMGetTickCount() - t0, uint64_t(kStopBoundMs));
    EXPECT_EQ(rig.Statuses, std::vector<int32_t>{1});
    EXPECT_TRUE(rig.Prepared.empty());
  }
  {
    SCOPED_TRACE("a URL without a host");
    TKzCamera cam(nullptr);
    cam.SetURL("http://127.0.0.1:1/video.mjpg");
    std::vector<int32_t> statuses;
    cam.OnSearchComplete = [&](TComponent*, int32_t Status) { statuses.push_back(Status); };
    EXPECT_FALSE(cam.SearchCamera({}));
    EXPECT_EQ(statuses, std::vector<int32_t>{1});
  }
}
