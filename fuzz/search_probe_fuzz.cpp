// The identification probes' reply classifiers on any text: every row's
// markers, the D-Link model taken from a description or a parameter list,
// and a whole probe walk fed the text as every reply.
#include <cstdint>
#include <string>

#include "camera/fmxMKzCamProbes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  for (const kz::TKzProbeStep& step : kz::KzProbeSteps()) (void)kz::KzProbeReplyMatches(step, text);
  const int32_t model = kz::KzProbeDLinkModelIndex(text);
  if (model < 0 || model > 6) __builtin_trap();
  kz::TKzProbeIO io;
  io.Fetch = [&text](const std::string&, std::string& Reply) {
    Reply = text;
    return true;
  };
  io.CheckMJPEG = [&text](const std::string&) { return !text.empty(); };
  io.URL = [](size_t, int32_t) { return std::string("http://127.0.0.1/"); };
  io.Aborted = [] { return false; };
  for (auto chain : {kz::TKzProbeChain::kzpcFoscam, kz::TKzProbeChain::kzpcFoscamHD, kz::TKzProbeChain::kzpcPanasonic,
                     kz::TKzProbeChain::kzpcDLink, kz::TKzProbeChain::kzpcAxis, kz::TKzProbeChain::kzpcMobotix}) {
    const kz::TKzProbeOutcome out = kz::KzWalkProbeChain(chain, io);
    // Levels come only with identification, except a present stream.
    if (!out.Identified && out.Level > kz::TKzUserAccess::uaPresent) __builtin_trap();
  }
  return 0;
}
