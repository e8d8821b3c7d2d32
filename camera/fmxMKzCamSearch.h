// The threads that find out what answers at a camera's address: the vendor
// probes (the rows of fmxMKzCamProbes walked against the camera), the
// ONVIF probe beside them (its findings go into the outcome only), the
// model-table search with its pool of URL checks, the search thread that
// runs them, and the preparation that reads the identified camera's settings.
//
// Every thread works on a copy of what it needs from the camera
// (TKzSearchContext, made on the main thread) and writes into the camera
// only through setters that are safe from any thread (DoRaiseUserAccess,
// DoSetDLinkModelIndex); the search's outcome is stored by the camera on
// the main thread when the search thread ends. Preparation writes the
// settings it reads under the camera's command lock.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/fmxMKzCamCommands.h"
#include "camera/fmxMKzCamProbes.h"
#include "camera/fmxMKzCameraTypes.h"
#include "camera/fmxMKzOnvifClient.h"
#include "foundation/fmxMKzTypesThreads.h"

namespace kz {

class TKzCamera;

// One URL of the model table, made for the camera.
struct TKzSearchCandidate {
  std::string URL;
  std::string Models;
  TKzCameraTypes Devices;
};

// What the search needs from the camera, copied on the main thread.
struct TKzSearchContext {
  TKzCamRequestSettings Request;  // agent, credentials, proxy; the SearchHTTPTimeOut class
  std::string Host;
  uint16_t Port = 0;
  uint16_t RTSPPort = 0;
  std::vector<std::string> StepURLs;  // per probe row; "" where made later
  std::string PlainBase;              // "http://host[:port]/"
  uint32_t SearchTimeOut = 3000;      // ms, one probe request or stream check
  TKzTimeOut RTSPTimeOut = TKzTimeOut::kztMedium;
  std::vector<TKzSearchCandidate> Candidates;  // the model table's rows in table order
  size_t PoolSize = 1;
  bool UseONVIF = true;  // the camera's UseONVIF: without it no ONVIF request is made
};
using TKzSearchContextPtr = std::shared_ptr<const TKzSearchContext>;

// The context of a search of Host:Port (the camera's own address when Host
// is empty) with the model-table candidates of Types in Format's table.
// Main thread.
TKzSearchContextPtr KzMakeSearchContext(TKzCamera& Camera, const std::string& Host, uint16_t Port,
                                        TKzCameraTypes Types, TKzVideoFormat Format);

// Base of the search's threads. Abort ends any step within about a second.
class TKzBaseCamThread : public TKzBaseThread {
public:
  TKzBaseCamThread(TKzCamera* Owner, const char* Name);
  // Any thread, never blocks.
  void Abort() override;
  bool Aborted() const { return FTAbort.load(std::memory_order_acquire); }
  // The outcome; valid once the thread has ended. Any thread.
  bool Result() const { return FTResult.load(std::memory_order_acquire); }
  TKzCamera* Owner() const { return FOwner; }

protected:
  void TerminatedSet() override;
  TKzCamera* FOwner;
  std::atomic<bool> FTAbort{false};
  std::atomic<bool> FTResult{false};
};

// What a search found.
struct TKzSearchOutcome {
  TKzCameraTypes Types;
  bool HasVersion = false;
  TKzProtocolVersion ProtocolVersion = TKzProtocolVersion::kzpvVer1;
  bool FromTable = false;  // URL and Models come from the model table
  std::string URL, Models;
  // No vendor claimed the camera and it answered as an ONVIF device that
  // took the credentials: Onvif holds what it told (information, profiles,
  // stream URIs, the access granted). Onvif.LoginFailed may be set without it.
  bool FromOnvif = false;
  TKzOnvifIdentity Onvif;
  bool Found() const { return !Types.Empty() || FromOnvif; }
};

// Base of the vendor probes: walks probe chains against the context's address.
class TCamThread : public TKzBaseCamThread {
public:
  TCamThread(TKzCamera* Owner, TKzSearchContextPtr Context, const char* Name);
  // The protocol generation found. Any thread, once ended.
  virtual TKzProtocolVersion GetProtocolVersion() const { return TKzProtocolVersion::kzpvVer1; }
  // Whether GetProtocolVersion tells the camera's generation when the probe matched.
  virtual bool CarriesProtocolVersion() const { return false; }
  // What a probe that is no vendor's tells the outcome when no vendor
  // matched (whether or not it matched itself). Any thread, once ended.
  virtual void Report(TKzSearchOutcome&) const {}

protected:
  TKzProbeOutcome Walk(TKzProbeChain Chain);
  TKzSearchContextPtr FContext;
  std::string FIP;
  uint16_t FPort;
};

// A probe of one chain.
class TKzChainProbeThread : public TCamThread {
public:
  TKzChainProbeThread(TKzCamera* Owner, TKzSearchContextPtr Context, TKzProbeChain Chain, const char* Name)
      : TCamThread(Owner, std::move(Context), Name), FChain(Chain) {}

protected:
  void DoExecute() override { FTResult.store(Walk(FChain).Identified && !Aborted(), std::memory_order_release); }
  const TKzProbeChain FChain;
};

// Foscam: the older CGI set first, "CGIProxy.fcgi" when that did not answer.
class TIsFoscamThread : public TCamThread {
public:
  TIsFoscamThread(TKzCamera* Owner, TKzSearchContextPtr Context)
      : TCamThread(Owner, std::move(Context), "TIsFoscamThread") {}
  TKzProtocolVersion GetProtocolVersion() const override { return FProtocolVersion.load(std::memory_order_acquire); }
  bool CarriesProtocolVersion() const override { return true; }

protected:
  void DoExecute() override;
  std::atomic<TKzProtocolVersion> FProtocolVersion{TKzProtocolVersion::kzpvVer1};
};

class TIsPanasonicThread : public TKzChainProbeThread {
public:
  TIsPanasonicThread(TKzCamera* Owner, TKzSearchContextPtr Context)
      : TKzChainProbeThread(Owner, std::move(Context), TKzProbeChain::kzpcPanasonic, "TIsPanasonicThread") {}
};
class TIsDLinkThread : public TKzChainProbeThread {
public:
  TIsDLinkThread(TKzCamera* Owner, TKzSearchContextPtr Context)
      : TKzChainProbeThread(Owner, std::move(Context), TKzProbeChain::kzpcDLink, "TIsDLinkThread") {}
};
class TIsAxisThread : public TKzChainProbeThread {
public:
  TIsAxisThread(TKzCamera* Owner, TKzSearchContextPtr Context)
      : TKzChainProbeThread(Owner, std::move(Context), TKzProbeChain::kzpcAxis, "TIsAxisThread") {}
};
class TIsMobotixThread : public TKzChainProbeThread {
public:
  TIsMobotixThread(TKzCamera* Owner, TKzSearchContextPtr Context)
      : TKzChainProbeThread(Owner, std::move(Context), TKzProbeChain::kzpcMobotix, "TIsMobotixThread") {}
};

// ONVIF: the device service at the address identified with the camera's
// credentials (information, profiles, stream URIs, access level). Matches
// when the device answers as ONVIF and grants at least device information.
class TIsOnvifThread : public TCamThread {
public:
  TIsOnvifThread(TKzCamera* Owner, TKzSearchContextPtr Context)
      : TCamThread(Owner, std::move(Context), "TIsOnvifThread") {}
  void Report(TKzSearchOutcome& Outcome) const override;

protected:
  void DoExecute() override;
  TKzOnvifIdentity FIdentity;  // written by the thread, read once it has ended
};

// The probes a search runs. Vendor probes start when their Type is asked
// for; a probe with VendorProbe false runs beside them (when its Type is
// asked for) but counts only when no vendor probe matched, before the
// model-table search. One row here adds a probe to every search; Make may
// answer null when the camera's settings rule the probe out.
struct TKzSearchProbe {
  TKzCameraType Type;
  bool VendorProbe;
  TCamThread* (*Make)(TKzCamera* Owner, TKzSearchContextPtr Context);
};
const std::vector<TKzSearchProbe>& KzSearchProbes();
// The probe of one vendor family alone (null for a family without one). Any thread.
TCamThread* KzMakeProbe(TKzCameraType Type, TKzCamera* Owner, TKzSearchContextPtr Context);

// Checks one model-table URL: Motion-JPEG for "http://", RTSP for "rtsp://".
class TIsCamDeviceThread : public TKzBaseCamThread {
public:
  TIsCamDeviceThread(TKzCamera* Owner, TKzSearchContextPtr Context, size_t Candidate, TEvent* Done);
  size_t Candidate() const { return FCandidate; }
  // The verdict is in (Result); the thread is about to end. Any thread.
  bool Checked() const { return FChecked.load(std::memory_order_acquire); }

protected:
  void DoExecute() override;
  TKzSearchContextPtr FContext;
  size_t FCandidate;
  std::atomic<bool> FChecked{false};
  TEvent* FDone;  // set when the check ends (the pool's wake-up)
};

// The model-table search: the candidates of the requested families checked
// by a pool of at most PoolSize threads; the earliest row that answers wins.
class TIsCamDevicesThread : public TKzBaseCamThread {
public:
  TIsCamDevicesThread(TKzCamera* Owner, TKzSearchContextPtr Context, TKzCameraTypes CameraTypes);
  ~TIsCamDevicesThread() override;
  void Abort() override;
  // The outcome; valid once ended (Result true).
  std::string URL, Models;
  TKzCameraTypes Devices;
  // The most checks that were in flight at once (tests, tools).
  size_t PeakInFlight() const { return FPeak; }

protected:
  void DoExecute() override;

private:
  void Reap(size_t Slot);
  TKzSearchContextPtr FContext;
  const TKzCameraTypes CameraTypes;
  std::mutex FPoolLock;  // guards IsCamDeviceThread against Abort
  std::vector<TIsCamDeviceThread*> IsCamDeviceThread;
  TEvent FDone{false, false};
  size_t FPeak = 0;
  size_t FWinner = SIZE_MAX;
};

// The whole search of one address. The camera reads Outcome in its end
// notification and stores it, then prepares.
class TSearchCameraThread : public TKzBaseCamThread {
public:
  TSearchCameraThread(TKzCamera* Owner, bool CreateSuspended, TKzCameraTypes CameraTypes,
                      TKzProtocolVersion ProtocolVersion, TKzVideoFormat VideoFormat, TKzSearchContextPtr Context);
  ~TSearchCameraThread() override;
  void Abort() override;
  const TKzSearchOutcome& Outcome() const { return FOutcome; }

  const TKzVideoFormat VideoFormat;
  const TKzCameraTypes CameraTypes;
  TKzProtocolVersion ProtocolVersion;

protected:
  void DoExecute() override;

private:
  // Starts Child and keeps it for Abort; false (Child freed) once aborted.
  bool Adopt(TKzBaseCamThread* Child);
  void Release(TKzBaseCamThread* Child);
  // Waits for Child's end, in steps of at most a second between abort checks.
  void AwaitChild(TKzBaseCamThread* Child);
  TKzSearchContextPtr FContext;
  std::mutex FChildLock;  // guards FChildren against Abort
  std::vector<TKzBaseCamThread*> FChildren;
  TKzSearchOutcome FOutcome;
};

// Reads the identified camera's settings through its vendor interface;
// Result tells that every read answered.
class TPrepareThread : public TKzBaseCamThread {
public:
  TPrepareThread(TKzCamera* Owner, bool CreateSuspended, TKzCameraTypes IPCameraTypes,
                 TKzProtocolVersion ProtocolVersion);

protected:
  void DoExecute() override;
  const TKzCameraTypes FIPCameraTypes;
  const TKzProtocolVersion FProtocolVersion;
};

}  // namespace kz
