// Command payloads: reading never goes past the input; commands read whole
// are written back and read again to the same commands.
#include <cstdint>

#include "streaming/Fmxmkzcmd.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TMemoryStream s;
  kzfuzz::Load(s, Data, Size);
  std::vector<TKzCmd> cmds = KzLoadCmdPayload(s);
  Check(s.Position() <= s.Size());
  while (!cmds.empty() && cmds.back().Name.empty()) cmds.pop_back();
  TMemoryStream again;
  KzSaveCmdPayload(cmds, again);
  again.SetPosition(0);
  const std::vector<TKzCmd> back = KzLoadCmdPayload(again);
  Check(back.size() == cmds.size() && again.Position() == again.Size());
  for (size_t i = 0; i < back.size(); ++i) {
    Check(back[i].Name == cmds[i].Name && back[i].Params.size() == cmds[i].Params.size());
    for (size_t k = 0; k < back[i].Params.size(); ++k)
      Check(back[i].Params[k].Name == cmds[i].Params[k].Name && back[i].Params[k].Value() == cmds[i].Params[k].Value() &&
            back[i].Params[k].ParamType == cmds[i].Params[k].ParamType);
  }
  return 0;
}
