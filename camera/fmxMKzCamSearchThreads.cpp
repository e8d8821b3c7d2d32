// The search context, the vendor probes and the search thread.
#include "camera/fmxMKzCamSearch.h"
#include "foundation/fmxMKzType.h"

#include <algorithm>

#include "camera/fmxMKzCamFormats.h"
#include "camera/fmxMKzCamVendorTable.h"
#include "camera/fmxMKzCamVendors.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzInet.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
constexpr size_t kMaxProbeReply = 1048576;
constexpr uint32_t kAbortCheckMs = 1000;

// The vendor whose command-URL rule builds a chain's requests.
const TKzTableVendor* ChainVendor(TKzProbeChain Chain) {
  TKzIPCamAPIType type = TKzIPCamAPIType::kzcatFoscam_ver1;
  switch (Chain) {
    case TKzProbeChain::kzpcFoscam: type = TKzIPCamAPIType::kzcatFoscam_ver1; break;
    case TKzProbeChain::kzpcFoscamHD: type = TKzIPCamAPIType::kzcatFoscam_ver1_2; break;
    case TKzProbeChain::kzpcPanasonic: type = TKzIPCamAPIType::kzcatPanasonic; break;
    case TKzProbeChain::kzpcDLink: type = TKzIPCamAPIType::kzcatDLink; break;
    case TKzProbeChain::kzpcAxis: type = TKzIPCamAPIType::kzcatAxis; break;
    case TKzProbeChain::kzpcMobotix: type = TKzIPCamAPIType::kzcatMobotix; break;
  }
  for (const auto& [t, vendor] : KzBuiltinVendors())
    if (t == type) return dynamic_cast<const TKzTableVendor*>(vendor);
  return nullptr;
}

TKzCameraTypes AllTypes() {
  TKzCameraTypes all;
  for (unsigned t = 0; t < 16; ++t) all.Include(static_cast<TKzCameraType>(t));
  return all;
}

template <typename T>
TCamThread* Make(TKzCamera* Owner, TKzSearchContextPtr Context) {
  return new T(Owner, std::move(Context));
}

TCamThread* MakeOnvif(TKzCamera* Owner, TKzSearchContextPtr Context) {
  return Context->UseONVIF ? new TIsOnvifThread(Owner, std::move(Context)) : nullptr;
}
}  // namespace

// The probes of a search. A probe that identifies by other means than a
// vendor's command set (VendorProbe false) is added here as one more row.
// ONVIF answers for cameras outside the vendor families: it runs when
// kzctUnknown is asked for (as an empty set asks for every family).
const std::vector<TKzSearchProbe>& KzSearchProbes() {
  using T = TKzCameraType;
  static const std::vector<TKzSearchProbe> probes = {
      {T::kzctFoscam, true, &Make<TIsFoscamThread>},  {T::kzctPanasonic, true, &Make<TIsPanasonicThread>},
      {T::kzctDLink, true, &Make<TIsDLinkThread>},    {T::kzctAxis, true, &Make<TIsAxisThread>},
      {T::kzctMobotix, true, &Make<TIsMobotixThread>}, {T::kzctUnknown, false, &MakeOnvif},
  };
  return probes;
}

TCamThread* KzMakeProbe(TKzCameraType Type, TKzCamera* Owner, TKzSearchContextPtr Context) {
  for (const TKzSearchProbe& p : KzSearchProbes())
    if (p.VendorProbe && p.Type == Type) return p.Make(Owner, std::move(Context));
  return nullptr;
}

TKzSearchContextPtr KzMakeSearchContext(TKzCamera& Camera, const std::string& Host, uint16_t Port,
                                        TKzCameraTypes Types, TKzVideoFormat Format) {
  auto c = std::make_shared<TKzSearchContext>();
  // The vendor rules and the templates read the camera's address: lend it
  // the searched one while they do.
  const std::string ownHost = Camera.CameraHost();
  const uint16_t ownPort = Camera.CameraPort();
  if (!Host.empty()) {
    Camera.SetCameraHost(Host);
    Camera.SetCameraPort(Port);
  }
  c->Request = KzCamRequestSettings(Camera);
  c->Request.Vendor = nullptr;
  c->Host = Camera.CameraHost();
  c->Port = Camera.CameraPort();
  c->RTSPPort = Camera.RTSPPort();
  c->PlainBase = "http://" + KzVendorHost(Camera) + "/";
  c->SearchTimeOut = std::max<uint32_t>(Camera.CameraSearchTimeOut(), 100);
  c->RTSPTimeOut = Camera.SearchRTSPTimeOut();
  c->UseONVIF = Camera.UseONVIF();
  for (const TKzProbeStep& step : KzProbeSteps()) {
    std::string url;
    if (step.Rule == TKzProbeURLRule::kzpuPlain) {
      url = c->PlainBase + step.Command;
    } else if (step.Rule == TKzProbeURLRule::kzpuCommand) {
      if (const TKzTableVendor* v = ChainVendor(step.Chain)) url = v->CommandURL(Camera, step.Command, step.Query);
    }
    c->StepURLs.push_back(std::move(url));
  }
  const std::span<const TKzCamFormat> table =
      Format == TKzVideoFormat::kzvfMJPEG ? std::span<const TKzCamFormat>(CamAnyMJPEG) : std::span<const TKzCamFormat>(CamAnyH264);
  const bool every = Types.Empty() || Types.Contains(TKzCameraType::kzctUnknown);
  for (const TKzCamFormat& row : table)
    if (every || (Types.Bits() & row.Device.Bits()) != 0)
      c->Candidates.push_back({PrepareURL(Camera, row.URL), row.Model, row.Device});
  c->PoolSize = std::clamp<size_t>(std::min<size_t>(Camera.MaxCameraSearchThreadCount(),
                                                         static_cast<size_t>(std::max(glKzInetMaxConnect.load(), 1))), 1, 256);
  if (!Host.empty()) {
    Camera.SetCameraHost(ownHost);
    Camera.SetCameraPort(ownPort);
  }
  return c;
}

// ---- TKzBaseCamThread

TKzBaseCamThread::TKzBaseCamThread(TKzCamera* Owner, const char* Name) : TKzBaseThread(true, Name), FOwner(Owner) {}

void TKzBaseCamThread::Abort() {
  FTAbort.store(true, std::memory_order_release);
  TKzBaseThread::Abort();
}

void TKzBaseCamThread::TerminatedSet() {
  FTAbort.store(true, std::memory_order_release);
  TKzBaseThread::TerminatedSet();
}

// ---- Vendor probes

TCamThread::TCamThread(TKzCamera* Owner, TKzSearchContextPtr Context, const char* Name)
    : TKzBaseCamThread(Owner, Name), FContext(std::move(Context)), FIP(FContext->Host), FPort(FContext->Port) {}

TKzProbeOutcome TCamThread::Walk(TKzProbeChain Chain) {
  const TKzSearchContext& c = *FContext;
  auto settings = [&c] {
    TKzCamRequestSettings s = c.Request;
    s.Deadline = KzMGetTickCount() + c.SearchTimeOut;
    return s;
  };
  TKzProbeIO io;
  io.Aborted = [this] { return Aborted() || Application().Terminated(); };
  io.URL = [&c](size_t Row, int32_t Model) {
    if (KzProbeSteps()[Row].Rule == TKzProbeURLRule::kzpuDLinkSnapshot) {
      const std::string path = TKzDLinkAPI::SnapshotPath(Model);
      return path.empty() ? std::string() : c.PlainBase + path;
    }
    return c.StepURLs[Row];
  };
  io.Fetch = [this, &settings](const std::string& URL, std::string& Reply) {
    TKzCamReply reply;
    const bool ok = KzCamPerformGet(URL, settings(), FTAbort, kMaxProbeReply, reply);
    Reply = std::move(reply.Body);
    return ok;
  };
  io.CheckMJPEG = [this, &c, &settings](const std::string& URL) {
    return KzCamCheckMJPEG(URL, settings(), FTAbort, c.SearchTimeOut);
  };
  io.Grant = [this](TKzUserAccess Level) {
    if (FOwner) FOwner->DoRaiseUserAccess(Level);
  };
  const TKzProbeOutcome out = KzWalkProbeChain(Chain, io);
  if (out.Identified && Chain == TKzProbeChain::kzpcDLink && FOwner) FOwner->DoSetDLinkModelIndex(out.DLinkModelIndex);
  return out;
}

void TIsFoscamThread::DoExecute() {
  bool found = Walk(TKzProbeChain::kzpcFoscam).Identified;
  if (!found && !Aborted()) {
    found = Walk(TKzProbeChain::kzpcFoscamHD).Identified;
    if (found) FProtocolVersion.store(TKzProtocolVersion::kzpvVer1_2, std::memory_order_release);
  }
  FTResult.store(found && !Aborted(), std::memory_order_release);
}

void TIsOnvifThread::DoExecute() {
  const TKzSearchContext& c = *FContext;
  // A device that trickles its replies is given a few probe bounds for the
  // whole identification, not one per request.
  TKzCamRequestSettings s = c.Request;
  s.Deadline = KzMGetTickCount() + 4 * uint64_t{c.SearchTimeOut};
  const bool ok = KzOnvifIdentify(KzOnvifDeviceURL(FIP, FPort), s, FTAbort, FIdentity);
  FTResult.store(ok && FIdentity.Access != TKzUserAccess::uaNone && !Aborted(), std::memory_order_release);
}

void TIsOnvifThread::Report(TKzSearchOutcome& Outcome) const {
  Outcome.FromOnvif = Result();
  Outcome.Onvif = FIdentity;
}

// ---- TSearchCameraThread

TSearchCameraThread::TSearchCameraThread(TKzCamera* Owner, bool CreateSuspended, TKzCameraTypes ACameraTypes,
                                         TKzProtocolVersion AProtocolVersion, TKzVideoFormat AVideoFormat,
                                         TKzSearchContextPtr Context)
    : TKzBaseCamThread(Owner, "TSearchCamera"),
      VideoFormat(AVideoFormat),
      CameraTypes(ACameraTypes),
      ProtocolVersion(AProtocolVersion),
      FContext(std::move(Context)) {
  if (!CreateSuspended) StartThread(this);
}

TSearchCameraThread::~TSearchCameraThread() {
  // Children are released by the search itself; this covers a search that never ran.
  std::lock_guard<std::mutex> g(FChildLock);
  for (TKzBaseCamThread* t : FChildren) {
    t->Abort();
    t->WaitForEnd(INFINITE);
    delete t;
  }
}

void TSearchCameraThread::Abort() {
  TKzBaseCamThread::Abort();
  std::lock_guard<std::mutex> g(FChildLock);
  for (TKzBaseCamThread* t : FChildren) t->Abort();
}

bool TSearchCameraThread::Adopt(TKzBaseCamThread* Child) {
  std::lock_guard<std::mutex> g(FChildLock);
  if (Aborted()) {
    delete Child;
    return false;
  }
  FChildren.push_back(Child);
  StartThread(Child);
  return true;
}

void TSearchCameraThread::AwaitChild(TKzBaseCamThread* Child) {
  while (!Child->WaitForEnd(kAbortCheckMs)) {
  }
}

void TSearchCameraThread::Release(TKzBaseCamThread* Child) {
  Child->Abort();
  AwaitChild(Child);
  std::lock_guard<std::mutex> g(FChildLock);
  FChildren.erase(std::remove(FChildren.begin(), FChildren.end(), Child), FChildren.end());
  delete Child;
}

void TSearchCameraThread::DoExecute() {
  const TKzSearchContext& c = *FContext;
  if (FOwner) FOwner->DoSetUserAccess(TKzUserAccess::uaNone);
  // Does anything answer at all?
  TKzCameraTypes found;
  const bool answers =
      !c.Host.empty() && CheckConnect(c.Request.Agent, c.PlainBase, c.Request.UserName, c.Request.Password,
                                      c.Request.TimeOut, c.Port, &FTAbort);
  if (answers && !Aborted()) {
    const TKzCameraTypes wanted = CameraTypes.Empty() ? AllTypes() : CameraTypes;
    std::vector<std::pair<const TKzSearchProbe*, TCamThread*>> probes;
    for (const TKzSearchProbe& p : KzSearchProbes()) {
      if (!wanted.Contains(p.Type)) continue;
      TCamThread* t = p.Make(FOwner, FContext);
      if (!t) continue;
      if (!Adopt(t)) break;
      probes.emplace_back(&p, t);
    }
    for (auto& [p, t] : probes) AwaitChild(t);
    // Vendors in table order; then, when none matched, the other probes.
    for (auto& [p, t] : probes) {
      if (!p->VendorProbe || !t->Result()) continue;
      found.Include(p->Type);
      if (t->CarriesProtocolVersion()) {
        FOutcome.HasVersion = true;
        FOutcome.ProtocolVersion = t->GetProtocolVersion();
      }
    }
    if (found.Empty())
      for (auto& [p, t] : probes)
        if (!p->VendorProbe) t->Report(FOutcome);
    for (auto& [p, t] : probes) Release(t);
    if (found.Empty() && !FOutcome.FromOnvif && !Aborted()) {
      auto* table = new TIsCamDevicesThread(FOwner, FContext, wanted);
      if (Adopt(table)) {
        AwaitChild(table);
        if (table->Result() && !Aborted()) {
          FOutcome.FromTable = true;
          FOutcome.URL = table->URL;
          FOutcome.Models = table->Models;
          found = table->Devices;
        }
        Release(table);
      }
    }
  }
  FOutcome.Types = found;
  if (FOutcome.HasVersion) ProtocolVersion = FOutcome.ProtocolVersion;
  FTResult.store(FOutcome.Found() && !Aborted() && !Terminated(), std::memory_order_release);
}

}  // namespace kz
