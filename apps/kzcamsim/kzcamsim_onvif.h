// kzcamsim's ONVIF mode: device, media and PTZ services (SOAP 1.2 over
// HTTP POST under /onvif/), a WS-Discovery responder, UsernameToken
// checks with a clock window, users at the default access policy's
// levels, an H.264 and a JPEG profile, a pan/tilt position that moves
// under ContinuousMove until Stop or its timeout, SOAP Faults, and a
// request log.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "apps/kzcamsim/kzcamsim_vendor.h"

namespace kzcamsim {

class TKzSimOnvif {
public:
  // Null when an --onvif-user entry is malformed (Error says why).
  static std::unique_ptr<TKzSimOnvif> Make(const TKzSimOptions& Options, std::string* Error = nullptr);
  ~TKzSimOnvif();

  // One request under /onvif/. StreamURL, StillURL: the simulator's own
  // Motion-JPEG stream and picture. Any server thread.
  TKzSimVendorAnswer Handle(const TKzSimRequest& Request, const std::string& StreamURL, const std::string& StillURL);
  // Answers probes for the device services at Address:Ports (multicast
  // when the interface allows it, unicast always). Any thread.
  bool StartDiscovery(const std::string& Address, const std::vector<uint16_t>& Ports, std::string* Error);
  void StopDiscovery();
  // The port the responder listens on (0 before StartDiscovery).
  uint16_t DiscoveryPort() const;

  // "user verdict Operation" per request (the last 4096); verdicts: ok,
  // unauthorized, fault. Any thread.
  std::vector<std::string> Log() const;
  void ClearLog();
  // The pan/tilt position now (-1..1) and whether it is moving. Any thread.
  double Pan() const;
  double Tilt() const;
  bool Moving() const;

  struct TImpl;

private:
  explicit TKzSimOnvif(std::unique_ptr<TImpl> Impl);
  std::unique_ptr<TImpl> F;
};

}  // namespace kzcamsim
