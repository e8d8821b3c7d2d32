// ONVIF against kzcamsim's ONVIF mode in this process: identification and
// access levels per user, a wrong password, a clock an hour off, PTZ
// through the camera's movement, unicast discovery and its bounds, and
// replies no camera should send.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "apps/kzcamsim/kzcamsim_onvif.h"
#include "camera/fmxMKzOnvifAPI.h"
#include "camera/fmxMKzOnvifDiscovery.h"
#include "camera/fmxMKzOnvifXML.h"
#include "inet/fmxMKzSHA1.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "tests/camera/camera_rig.h"
#include "tests/camera/vendor_rig.h"

using namespace kz;
using namespace kzcamsim;
using namespace kztest;

namespace {
TKzSimOptions OnvifOptions(std::vector<std::string> Users, int64_t ClockOffset = 0,
                           TKzSimAuth Auth = TKzSimAuth::kzsaNone) {
  TKzSimOptions o = OnvifFakeOptions("", std::move(Users));
  o.Auth = Auth;
  o.UserName = "root";
  o.Password = "r00t&<x>";
  o.OnvifClockOffset = ClockOffset;
  o.RtspURL = "rtsp://127.0.0.1:8554/h264";
  return o;
}

const std::vector<std::string> kUsers = {"root:r00t&<x>:admin", "op:op:operator", "viewer:v:user"};

TKzOnvifIdentity Identify(const TKzCamSim& Sim, const std::string& User, const std::string& Password) {
  TKzCamRequestSettings s;
  s.UserName = User;
  s.Password = Password;
  std::atomic<bool> abort{false};
  TKzOnvifIdentity id;
  KzOnvifIdentify(KzOnvifDeviceURL("127.0.0.1", Sim.Port()), s, abort, id);
  return id;
}
}  // namespace

TEST(Onvif, SHA1MatchesRFC3174) {
  const struct {
    std::string Text;
    int Repeat;
    const char* Digest;
  } rows[] = {{"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
              {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
              {"a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
              {"0123456701234567012345670123456701234567012345670123456701234567", 10,
               "dea356a2cddd90c7a7ecedc5ebb563934f460452"}};
  for (const auto& r : rows) {
    TKzSHA1 sha;
    for (int i = 0; i < r.Repeat; ++i) sha.Update(r.Text.data(), r.Text.size());
    EXPECT_EQ(SHA1Print(sha.Final()), r.Digest) << r.Text;
  }
}

TEST(Onvif, IdentifiesAccessLevelsAndRefusals) {
  const struct {
    const char* User;
    const char* Password;
    int64_t ClockOffset;
    TKzUserAccess Access;
    bool LoginFailed;
    TKzSimAuth HttpAuth = TKzSimAuth::kzsaNone;  // the device also challenges at the HTTP layer
  } rows[] = {{"root", "r00t&<x>", 0, TKzUserAccess::uaAdmin, false},
              {"op", "op", 0, TKzUserAccess::uaOperator, false},
              {"viewer", "v", 0, TKzUserAccess::uaVisitor, false},
              {"root", "wrong", 0, TKzUserAccess::uaNone, true},
              {"root", "r00t&<x>", 3600, TKzUserAccess::uaAdmin, false},
              {"root", "r00t&<x>", -3600, TKzUserAccess::uaAdmin, false},
              {"root", "r00t&<x>", 0, TKzUserAccess::uaAdmin, false, TKzSimAuth::kzsaDigest}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.User) + " offset " + std::to_string(r.ClockOffset));
    TKzCamSim sim(OnvifOptions(kUsers, r.ClockOffset, r.HttpAuth));
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const TKzOnvifIdentity id = Identify(sim, r.User, r.Password);
    EXPECT_TRUE(id.IsOnvif);
    EXPECT_EQ(id.Access, r.Access) << id.Error;
    EXPECT_EQ(id.LoginFailed, r.LoginFailed);
    if (r.Access == TKzUserAccess::uaNone) continue;
    EXPECT_EQ(id.Info.Model, "kzcamsim");
    if (r.HttpAuth != TKzSimAuth::kzsaNone) {
      EXPECT_GT(sim.Stats().AuthRefused, 0u);
    }
    EXPECT_NEAR(static_cast<double>(id.Onvif.ClockOffset), static_cast<double>(r.ClockOffset), 5);
    ASSERT_EQ(id.Profiles.size(), 2u);
    EXPECT_EQ(id.Onvif.H264StreamURI, "rtsp://127.0.0.1:8554/h264");
    EXPECT_EQ(id.Onvif.MJPEGStreamURI, sim.StreamURL());
    EXPECT_EQ(id.Onvif.SnapshotURI, sim.StillURL());
  }
  // Nothing but digests travels: the password never appears in a request.
  const std::string envelope = KzOnvifEnvelope(TKzOnvifOp::GetUsers, {}, {"root", "r00t&<x>", 0});
  EXPECT_EQ(envelope.find("r00t"), std::string::npos);
  EXPECT_NE(envelope.find("#PasswordDigest"), std::string::npos);
}

TEST(Onvif, CameraIdentifiesAndMovesThroughPTZ) {
  TKzCamSim sim(OnvifOptions(kUsers, 3600));
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  TKzCamera cam(nullptr);
  cam.SetCameraHost("127.0.0.1");
  cam.SetCameraPort(sim.Port());
  cam.SetCommandMode(TKzSendMode::kzsmNoWait);
  std::vector<int32_t> done;
  cam.OnSearchComplete = [&](TComponent*, int32_t Status) { done.push_back(Status); };
  cam.SetUserName("op");
  cam.SetUserPassword("op");
  ASSERT_TRUE(cam.IdentifyOnvif());
  ASSERT_TRUE(PumpUntil([&] { return !done.empty(); }, 15000));
  EXPECT_EQ(done[0], 0);
  EXPECT_EQ(cam.UserAccess(), TKzUserAccess::uaOperator);
  EXPECT_EQ(TKzIPCameraAPI::GetH264URL(cam), "rtsp://127.0.0.1:8554/h264");
  ASSERT_TRUE(cam.IsControllableCamera());

  // Moving needs video playing: the camera's own Motion-JPEG profile.
  TKzSimFrameProbe probe(&sim);
  cam.RegisterCamView(&probe);
  cam.PlayVideoStream();
  ASSERT_TRUE(PumpUntil([&] { return probe.Frames() > 0; }, 15000));
  TKzSimOnvif& fake = *sim.Onvif();
  fake.ClearLog();
  ASSERT_TRUE(cam.Move(TKzCamMovementEx::kzdDownLeft));
  EXPECT_TRUE(PumpUntil([&] { return fake.Pan() < -0.3 && fake.Tilt() < -0.3; }, 10000));
  EXPECT_TRUE(fake.Moving());
  // Held for 1.5 s: renewed every 500 ms, not on every 100 ms tick.
  PumpFor(1500);
  EXPECT_TRUE(fake.Moving());
  cam.MoveStop(TKzCamMovementEx::kzdDownLeft);
  EXPECT_TRUE(PumpUntil([&] { return !fake.Moving() && !cam.AreCommandsLocked(); }, 10000));
  int moves = 0;
  for (const std::string& l : fake.Log()) moves += l == "op ok ContinuousMove";
  EXPECT_GE(moves, 2);
  EXPECT_LE(moves, 6);
  EXPECT_EQ(fake.Log().back(), "op ok Stop");
  ASSERT_TRUE(cam.Move(TKzCamMovementEx::kzdHome));
  EXPECT_TRUE(PumpUntil([&] { return fake.Pan() == 0 && fake.Tilt() == 0; }, 10000));
  cam.Abort();
  cam.WaitForVideoStream();
  cam.UnRegisterCamView(&probe);

  // UseONVIF off: the camera sends nothing ONVIF at all.
  fake.ClearLog();
  cam.SetUseONVIF(false);
  EXPECT_FALSE(cam.IdentifyOnvif());
  EXPECT_EQ(TKzIPCameraAPI::GetH264URL(cam), "");
  EXPECT_FALSE(cam.Move(TKzCamMovementEx::kzdLeft));
  EXPECT_TRUE(fake.Log().empty());
}

TEST(Onvif, UnicastDiscoveryAndItsBounds) {
  TKzSimOptions o = OnvifOptions(kUsers);
  o.PortCount = 3;
  TKzCamSim sim(o);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  TKzOnvifDiscoveryOptions d;
  d.Unicast = "127.0.0.1";
  d.Port = sim.Onvif()->DiscoveryPort();
  d.WindowMs = 500;
  std::atomic<bool> abort{false};
  std::vector<TKzOnvifDiscovered> found;
  ASSERT_TRUE(KzOnvifDiscover(d, abort, found, error)) << error;
  ASSERT_EQ(found.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(found[static_cast<size_t>(i)].Match.XAddrs.at(0), KzOnvifDeviceURL("127.0.0.1", sim.Port(i)));
    EXPECT_EQ(found[static_cast<size_t>(i)].Match.Name, "kzcamsim");
    EXPECT_FALSE(found[static_cast<size_t>(i)].ForeignXAddr);
  }

  // A hostile responder: 300 endpoints, repeats, garbage, a foreign XAddr.
  TKzSocket liar = PlatformBindUDP(PlatformLookupIPv4("127.0.0.1"), 0);
  ASSERT_NE(liar, KZ_INVALID_SOCKET);
  std::thread flood([&] {
    std::string buf(70000, '\0');
    uint32_t from = 0;
    uint16_t port = 0;
    if (PlatformPollRead(liar, 5000) <= 0 ||
        PlatformRecvFromAddr(liar, buf.data(), static_cast<int64_t>(buf.size()), from, port) <= 0)
      return;
    auto match = [](int K, const std::string& Host) {
      return "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body><x:ProbeMatches "
             "xmlns:x=\"urn:other\"><x:ProbeMatch><a:EndpointReference xmlns:a=\"urn:a\"><a:Address>urn:uuid:" +
             std::to_string(K) + "</a:Address></a:EndpointReference><x:XAddrs>http://" + Host +
             "/onvif/device_service</x:XAddrs></x:ProbeMatch></x:ProbeMatches></e:Body></e:Envelope>";
    };
    for (int k = 0; k < 300; ++k) {
      for (const std::string& m : {match(k, k == 0 ? "10.9.9.9" : "127.0.0.1"), match(k, "127.0.0.1"),
                                   std::string(k % 50 ? "<<<" : std::string(60000, '<'))})
        PlatformSendTo(liar, m.data(), static_cast<int64_t>(m.size()), from, port);
      // The kernel drops what the receiver's buffer cannot hold; the bound is the point here.
      if (k % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  d.Port = PlatformSocketLocalPort(liar);
  d.WindowMs = 1500;
  ASSERT_TRUE(KzOnvifDiscover(d, abort, found, error)) << error;
  flood.join();
  PlatformCloseSocket(liar);
  EXPECT_EQ(found.size(), 256u);
  EXPECT_TRUE(found.at(0).ForeignXAddr);
  EXPECT_FALSE(found.at(1).ForeignXAddr);
}

TEST(Onvif, HostileRepliesGiveClearErrors) {
  const std::string env = "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body>";
  const std::string end = "</s:Body></s:Envelope>";
  const std::string uri = "<r:GetStreamUriResponse xmlns:r=\"urn:elsewhere\"><r:MediaUri><q:Uri xmlns:q=\"urn:q\">"
                          "rtsp://cam/1</q:Uri></r:MediaUri></r:GetStreamUriResponse>";
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  const struct {
    std::string Text;
    bool Ok;
    const char* Error;  // or, with Ok, the URI read
  } rows[] = {
      {env + uri + end, true, "rtsp://cam/1"},  // unknown prefixes and namespaces: matched by local name
      {env + uri, false, "malformed XML"},
      {(env + uri + end).substr(0, 90), false, "malformed XML"},
      {"<x>" + std::string(10 << 20, 'a') + "</x>", false, "too large"},
      {env + deep, false, "nested too deeply"},
      {"<!DOCTYPE s [<!ENTITY e \"rtsp://evil\">]>" + env +
           "<GetStreamUriResponse><MediaUri><Uri>&e;</Uri></MediaUri></GetStreamUriResponse>" + end,
       true, "&e;"},  // no DTD, no entity expansion
      {env + "<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>ter:NotAuthorized</s:Value></s:Subcode>"
             "</s:Code><s:Reason><s:Text>no</s:Text></s:Reason></s:Fault>" + end,
       false, "SOAP Fault Sender/NotAuthorized"},
      {env + "<GetStreamUriResponse/>" + end, false, "without MediaUri"},
      {"", false, "malformed XML"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.Text.substr(0, 80));
    std::string got;
    TKzOnvifError e;
    EXPECT_EQ(KzOnvifParseMediaUri(r.Text, got, e), r.Ok) << e.Text;
    if (r.Ok) {
      EXPECT_EQ(got, r.Error);
    } else {
      EXPECT_NE(e.Text.find(r.Error), std::string::npos) << e.Text;
    }
    EXPECT_EQ(got.find("evil"), std::string::npos);
  }
}
