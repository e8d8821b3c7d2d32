// Server commands read from a command payload: never past the input, a
// kind that matches the name, and no more GUIDs or user data than the
// command holds.
#include <cstdint>

#include "kzfuzz.h"
#include "streaming/server/fmxMKzServerCmd.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TMemoryStream s;
  kzfuzz::Load(s, Data, Size);
  for (const TKzCmd& cmd : KzLoadCmdPayload(s)) {
    const TKzServerCmdRequest r = KzParseServerCmd(cmd);
    const bool server = cmd.Name.rfind("KzS_", 0) == 0, forwarded = cmd.Name.rfind("KzSU_", 0) == 0;
    Check((r.Kind == TKzServerCmdKind::kzscNotServer) == (!server && !forwarded));
    Check((r.Kind == TKzServerCmdKind::kzscForwarded) == forwarded);
    Check(r.Users.size() <= cmd.Params.size() && r.UserData.size() <= cmd.Params.size() && r.UserData.size() <= 99);
    if (r.Valid)
      for (const TGUID& g : r.Users) Check(!IsNull(g));
  }
  Check(s.Position() <= s.Size());
  return 0;
}
