// WS-Discovery of ONVIF video transmitters: a Probe for
// dn:NetworkVideoTransmitter sent to 239.255.255.250:3702 (time-to-live 1)
// on every IPv4 interface that is up and multicast-capable, or on one, or
// by unicast to one address; the ProbeMatches that come back within the
// window are collected, one per endpoint address.
//
// Answers are untrusted: their count (responders), size (one datagram of
// at most 64 KiB) and the time spent (the window) are bounded, and an
// answer whose service addresses name another host than the one it came
// from is kept but marked.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "camera/fmxMKzOnvifReplies.h"

namespace kz {

struct TKzOnvifDiscoveryOptions {
  uint32_t WindowMs = 2000;
  std::string Interface;  // the address of the one interface to probe on ("" all)
  std::string Unicast;    // probe only this host ("" multicast)
  uint16_t Port = 3702;   // where the probe goes
  size_t MaxResponders = 256;
};

struct TKzOnvifDiscovered {
  TKzOnvifProbeMatch Match;
  std::string From;           // the address the answer came from
  bool ForeignXAddr = false;  // a service address names another host than From
};

constexpr const char* KzOnvifDiscoveryGroup = "239.255.255.250";
constexpr size_t KzOnvifMaxDatagram = 65536;

// The Probe envelope with MessageID ("urn:uuid:..."). Any thread.
std::string KzOnvifProbeMessage(const std::string& MessageID);
// Whether XAddr's host is Address (a dotted IPv4 text). Any thread.
bool KzOnvifXAddrOnHost(const std::string& XAddr, const std::string& Address);
// Probes and collects for the window. False with Error when no probe
// could be sent; an empty Found after the window is not an error. Blocks
// for the window (not the main thread); ends within ~100 ms of Abort.
bool KzOnvifDiscover(const TKzOnvifDiscoveryOptions& Options, std::atomic<bool>& Abort,
                     std::vector<TKzOnvifDiscovered>& Found, std::string& Error);

}  // namespace kz
