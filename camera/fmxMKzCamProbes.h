// The identification probes of the camera vendors as one table: each row
// is a request (or a second look at the reply before it), the marker texts
// its reply must hold and the access level the camera grants when it does.
// One routine walks the rows of a vendor; the requests themselves are left
// to the caller, so the walk and the reply classifiers run without a
// network (tests, fuzzing).
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "camera/fmxMKzCameraTypes.h"

namespace kz {

// The probe chains: Foscam's two generations are two chains of one probe.
enum class TKzProbeChain : uint8_t {
  kzpcFoscam,    // older CGI set (protocol kzpvVer1)
  kzpcFoscamHD,  // "CGIProxy.fcgi" (protocol kzpvVer1_2)
  kzpcPanasonic,
  kzpcDLink,
  kzpcAxis,
  kzpcMobotix,
};

enum class TKzProbeRole : uint8_t {
  kzprIdentify,  // identifies the camera; a second row of the role is the "or else"
  kzprLevel,     // raises the level once identified; the first failure ends the raising
  kzprPresent,   // when nothing identified: grants its level, the camera stays unidentified
};

// How the URL of a row is made.
enum class TKzProbeURLRule : uint8_t {
  kzpuCommand,        // the vendor's command-URL rule with Command and Query
  kzpuPlain,          // "http://" + host + "/" + Command, without credentials
  kzpuDLinkSnapshot,  // "http://" + host + "/" + the snapshot path of the model found
  kzpuSameReply,      // no request: the reply of the row that identified the camera
};

enum class TKzProbeMatch : uint8_t {
  kzpmAll,              // the lower-case reply holds every marker
  kzpmAny,              // it holds one of them
  kzpmNotStartingHtml,  // it does not start with "<html>"
  kzpmNoHtml,           // it holds no "<html>"
  kzpmMJPEG,            // the URL answers with Motion-JPEG (a stream check, not a reply)
};

struct TKzProbeStep {
  TKzProbeChain Chain;
  TKzProbeRole Role;
  TKzProbeURLRule Rule;
  const char* Command;
  const char* Query;
  TKzProbeMatch Match;
  const char* Marker1;
  const char* Marker2;
  TKzUserAccess Level;
  bool NeedsModel = false;  // D-Link: only for a model on the lists
};

// Every row, chains in the order above. Any thread.
std::span<const TKzProbeStep> KzProbeSteps();

// Whether Reply passes Step (not for kzpmMJPEG). Any text, any length. Any thread.
bool KzProbeReplyMatches(const TKzProbeStep& Step, const std::string& Reply);
// The D-Link model list (1..6) of the model a reply names, from
// "<product>" or else "system.modelname"; 0 for none. Any thread.
int32_t KzProbeDLinkModelIndex(const std::string& Reply);

// What a walk needs from outside. Fetch: a GET whose reply (2xx, within the
// bound) is given in Reply; CheckMJPEG: the Motion-JPEG check of a URL;
// URL: the URL of a row (with the D-Link model list found so far).
struct TKzProbeIO {
  std::function<bool(const std::string& URL, std::string& Reply)> Fetch;
  std::function<bool(const std::string& URL)> CheckMJPEG;
  std::function<std::string(size_t Row, int32_t DLinkModel)> URL;
  std::function<bool()> Aborted;
  // A level the camera granted (levels only rise).
  std::function<void(TKzUserAccess)> Grant;
};

struct TKzProbeOutcome {
  bool Identified = false;
  TKzUserAccess Level = TKzUserAccess::uaNone;
  int32_t DLinkModelIndex = 0;
};

// Walks the rows of Chain. The caller's thread; blocks in IO's calls.
TKzProbeOutcome KzWalkProbeChain(TKzProbeChain Chain, const TKzProbeIO& IO);

}  // namespace kz
