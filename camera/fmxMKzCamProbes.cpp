#include "camera/fmxMKzCamProbes.h"

#include <algorithm>
#include <cctype>

#include "camera/fmxMKzCamVendorReplies.h"

namespace kz {

namespace {
using C = TKzProbeChain;
using R = TKzProbeRole;
using U = TKzProbeURLRule;
using M = TKzProbeMatch;
using A = TKzUserAccess;

const TKzProbeStep kSteps[] = {
    // Foscam, older CGI set
    {C::kzpcFoscam, R::kzprIdentify, U::kzpuCommand, "get_status", "", M::kzpmAll, "sys_ver=", nullptr, A::uaPresent},
    {C::kzpcFoscam, R::kzprLevel, U::kzpuCommand, "get_camera_params", "", M::kzpmNotStartingHtml, nullptr, nullptr,
     A::uaVisitor},
    {C::kzpcFoscam, R::kzprLevel, U::kzpuCommand, "camera_control", "", M::kzpmNotStartingHtml, nullptr, nullptr,
     A::uaOperator},
    {C::kzpcFoscam, R::kzprLevel, U::kzpuCommand, "get_params", "", M::kzpmNotStartingHtml, nullptr, nullptr,
     A::uaAdmin},
    // Foscam, CGIProxy.fcgi: the root page names the web client
    {C::kzpcFoscamHD, R::kzprIdentify, U::kzpuPlain, "", "", M::kzpmAny, "<title>ipcam client</title>",
     "<title>foscam</title>", A::uaPresent},
    {C::kzpcFoscamHD, R::kzprLevel, U::kzpuCommand, "getDevInfo", "", M::kzpmAll, "devname", nullptr, A::uaVisitor},
    {C::kzpcFoscamHD, R::kzprLevel, U::kzpuCommand, "getPTZSpeed", "", M::kzpmAll, "speed", nullptr, A::uaOperator},
    {C::kzpcFoscamHD, R::kzprLevel, U::kzpuCommand, "getIOAlarmConfig", "", M::kzpmAll, "alarmlevel", nullptr,
     A::uaAdmin},
    // Panasonic: one reply decides all three
    {C::kzpcPanasonic, R::kzprIdentify, U::kzpuCommand, "nphPanTiltControl", "Mode=Disp", M::kzpmAny,
     "<title>nphpantiltcontrol</title>", "nphcontrolcamera", A::uaPresent},
    {C::kzpcPanasonic, R::kzprLevel, U::kzpuSameReply, "", "", M::kzpmAll, "resolution=", nullptr, A::uaVisitor},
    {C::kzpcPanasonic, R::kzprLevel, U::kzpuSameReply, "", "", M::kzpmAll, "nphcontrolcamera?direction", "panleft",
     A::uaOperator},
    // D-Link
    {C::kzpcDLink, R::kzprIdentify, U::kzpuPlain, "eng/admin/st_device.cgi", "", M::kzpmAll, "product",
     "cameraname", A::uaPresent},
    {C::kzpcDLink, R::kzprIdentify, U::kzpuPlain, "cgi-bin/admin/getparam.cgi", "", M::kzpmAll, "system.modelname",
     "system.serialnumber", A::uaPresent},
    {C::kzpcDLink, R::kzprLevel, U::kzpuDLinkSnapshot, "", "", M::kzpmNoHtml, nullptr, nullptr, A::uaVisitor, true},
    {C::kzpcDLink, R::kzprLevel, U::kzpuPlain, "eng/admin/adv_lan.cgi", "", M::kzpmAll, "<cameraname>",
     "</cameraname>", A::uaOperator, true},
    {C::kzpcDLink, R::kzprLevel, U::kzpuPlain, "eng/admin/tools_admin.cgi", "", M::kzpmAll, "<cameraname>",
     "</cameraname>", A::uaAdmin, true},
    // Axis: the parameter list visible to the user tells the level
    {C::kzpcAxis, R::kzprIdentify, U::kzpuCommand, "view/param", "action=list", M::kzpmAll, "properties.", nullptr,
     A::uaPresent},
    {C::kzpcAxis, R::kzprIdentify, U::kzpuCommand, "param", "action=list", M::kzpmAll, "properties.", nullptr,
     A::uaPresent},
    {C::kzpcAxis, R::kzprLevel, U::kzpuSameReply, "", "", M::kzpmAll, "image.", nullptr, A::uaVisitor},
    {C::kzpcAxis, R::kzprLevel, U::kzpuSameReply, "", "", M::kzpmAll, "root.ptz", nullptr, A::uaOperator},
    {C::kzpcAxis, R::kzprLevel, U::kzpuCommand, "pwdgrp", "action=get", M::kzpmAll, "admin=\"", nullptr, A::uaAdmin},
    // Mobotix: the pan/tilt control list, or at least a stream
    {C::kzpcMobotix, R::kzprIdentify, U::kzpuCommand, "control/click.cgi", "list", M::kzpmAll, "moverel", nullptr,
     A::uaOperator},
    {C::kzpcMobotix, R::kzprPresent, U::kzpuCommand, "cgi-bin/faststream.jpg", "", M::kzpmMJPEG, nullptr, nullptr,
     A::uaPresent},
};

std::string Lower(const std::string& S) {
  std::string out(S);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool Holds(const std::string& Text, const char* Marker) { return Marker && Text.find(Marker) != std::string::npos; }

std::string Trim(const std::string& S) {
  const size_t b = S.find_first_not_of(" \t\r\n\"'");
  if (b == std::string::npos) return {};
  return S.substr(b, S.find_last_not_of(" \t\r\n\"'") - b + 1);
}
}  // namespace

std::span<const TKzProbeStep> KzProbeSteps() { return kSteps; }

bool KzProbeReplyMatches(const TKzProbeStep& Step, const std::string& Reply) {
  const std::string text = Lower(Reply);
  switch (Step.Match) {
    case M::kzpmAll:
      return Holds(text, Step.Marker1) && (!Step.Marker2 || Holds(text, Step.Marker2));
    case M::kzpmAny:
      return Holds(text, Step.Marker1) || Holds(text, Step.Marker2);
    case M::kzpmNotStartingHtml:
      return text.compare(0, 6, "<html>") != 0;
    case M::kzpmNoHtml:
      return !Holds(text, "<html>");
    case M::kzpmMJPEG:
      return false;
  }
  return false;
}

int32_t KzProbeDLinkModelIndex(const std::string& Reply) {
  std::string model = KzDLinkProduct(Reply);
  if (model.empty()) {
    const std::string text = Lower(Reply);
    const size_t key = text.find("system.modelname");
    if (key == std::string::npos) return 0;
    const size_t eq = text.find('=', key);
    const size_t eol = text.find_first_of("\r\n", key);
    if (eq == std::string::npos || (eol != std::string::npos && eq > eol)) return 0;
    model = Trim(Reply.substr(eq + 1, eol == std::string::npos ? std::string::npos : eol - eq - 1));
  }
  std::transform(model.begin(), model.end(), model.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return KzDLinkModelIndex(Trim(model));
}

TKzProbeOutcome KzWalkProbeChain(TKzProbeChain Chain, const TKzProbeIO& IO) {
  TKzProbeOutcome out;
  std::string identifiedReply;
  bool raising = true;
  auto grant = [&](TKzUserAccess Level) {
    if (Level <= out.Level) return;
    out.Level = Level;
    if (IO.Grant) IO.Grant(Level);
  };
  for (size_t row = 0; row < std::size(kSteps); ++row) {
    const TKzProbeStep& step = kSteps[row];
    if (step.Chain != Chain) continue;
    if (IO.Aborted()) break;
    const bool wanted = step.Role == R::kzprIdentify   ? !out.Identified
                        : step.Role == R::kzprPresent ? !out.Identified
                                                       : out.Identified && raising &&
                                                             (!step.NeedsModel || out.DLinkModelIndex != 0);
    if (!wanted) continue;
    bool passed = false;
    std::string reply;
    if (step.Match == M::kzpmMJPEG) {
      passed = IO.CheckMJPEG(IO.URL(row, out.DLinkModelIndex));
    } else if (step.Rule == U::kzpuSameReply) {
      passed = KzProbeReplyMatches(step, identifiedReply);
    } else {
      passed = IO.Fetch(IO.URL(row, out.DLinkModelIndex), reply) && !IO.Aborted() && KzProbeReplyMatches(step, reply);
    }
    if (IO.Aborted()) break;
    switch (step.Role) {
      case R::kzprIdentify:
        if (!passed) break;
        out.Identified = true;
        if (Chain == C::kzpcDLink) out.DLinkModelIndex = KzProbeDLinkModelIndex(reply);
        identifiedReply = std::move(reply);
        grant(step.Level);
        break;
      case R::kzprPresent:
        if (passed) grant(step.Level);
        break;
      case R::kzprLevel:
        if (passed)
          grant(step.Level);
        else
          raising = false;
        break;
    }
  }
  return out;
}

}  // namespace kz
