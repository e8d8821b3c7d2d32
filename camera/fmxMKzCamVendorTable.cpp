#include "camera/fmxMKzCamVendorTable.h"

#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

bool KzReplyHas(TKzReplyForm Form, const std::string& Text, const std::string& Key) {
  switch (Form) {
    case TKzReplyForm::kzrfVars: return URL_HasValue(Text, Key);
    case TKzReplyForm::kzrfXML: return XML_HasValue(Text, Key);
    case TKzReplyForm::kzrfLines: return LINE_HasValue(Text, Key);
    case TKzReplyForm::kzrfPairs: return PAIR_HasValue(Text, Key);
  }
  return false;
}

std::string KzReplyGet(TKzReplyForm Form, const std::string& Text, const std::string& Key) {
  switch (Form) {
    case TKzReplyForm::kzrfVars: return URL_GetValue(Text, Key);
    case TKzReplyForm::kzrfXML: return XML_GetValue(Text, Key);
    case TKzReplyForm::kzrfLines: return LINE_GetValue(Text, Key);
    case TKzReplyForm::kzrfPairs: return PAIR_GetValue(Text, Key);
  }
  return {};
}

std::string KzCodeToVendor(const TKzCodes* Codes, const std::string& Value) {
  if (Codes)
    for (const TKzCode& c : *Codes)
      if (Value == c.Ours) return c.Vendor;
  return Value;
}

std::string KzCodeFromVendor(const TKzCodes* Codes, const std::string& Value) {
  if (Codes)
    for (const TKzCode& c : *Codes)
      if (KzLowerCase(Value) == KzLowerCase(c.Vendor)) return c.Ours;
  return Value;
}

// ---- URL pieces

std::string KzVendorHost(const TKzCamera& Camera) { return GetHTTPHost(Camera.CameraHost(), Camera.CameraPort()); }

std::string KzVendorUserPart(const TKzCamera& Camera) {
  return KzMakeUserPart(Camera.UserName(), Camera.UserPassword());
}

std::string KzVendorPathURL(TKzCamera& Camera, const std::string& Command, const std::string& Query) {
  return "http://" + KzVendorUserPart(Camera) + KzVendorHost(Camera) + "/" + Command + (Query.empty() ? "" : "?" + Query);
}

std::string KzVendorQueryCredentials(const TKzCamera& Camera, const std::string& UserKey,
                                     const std::string& PasswordKey) {
  return KzQueryParam(UserKey, Camera.UserName()) + "&" + KzQueryParam(PasswordKey, Camera.UserPassword());
}

bool KzVendorAnyReply(const std::string&) { return true; }

std::string KzVendorRTSPURL(const TKzCamera& Camera, const std::string& Path) {
  std::string host = Camera.CameraHost();
  if (Camera.RTSPPort() != 0) host += ":" + std::to_string(Camera.RTSPPort());
  return "rtsp://" + KzVendorUserPart(Camera) + host + Path;
}

std::string KzQueryParam(const std::string& Name, const std::string& Value) {
  return Name + "=" + KzEncodeURLComponent(Value);
}

std::string KzJoinQuery(const std::string& A, const std::string& B) {
  if (A.empty()) return B;
  if (B.empty()) return A;
  return A + "&" + B;
}

// ---- Walking the tables

namespace {
bool Applies(TKzCamera& Camera, const TKzVendorValue& V) {
  if (V.When == TKzCamField::kzfNone) return true;
  return (KzCamFieldGet(Camera, V.When) == "1") == V.WhenSet;
}

std::string FieldText(TKzCamera& Camera, const TKzVendorValue& V) {
  if (V.Literal) return V.Literal;
  if (V.ScheduleRow >= 0) return KzCamScheduleGet(Camera, V.ScheduleRow, V.ScheduleDay);
  return KzCodeToVendor(V.Codes, KzCamFieldGet(Camera, V.Field));
}
}  // namespace

std::string KzVendorWriteQuery(TKzCamera& Camera, const TKzVendorRequest& Request) {
  std::string q = Request.Query;
  for (const TKzVendorValue& v : Request.Values)
    if (Applies(Camera, v)) q = KzJoinQuery(q, KzQueryParam(v.Key, FieldText(Camera, v)));
  return q;
}

void KzVendorStoreReply(TKzCamera& Camera, TKzReplyForm Form, const TKzVendorRequest& Request,
                        const std::string& Reply) {
  Camera.LockCommands();
  for (const TKzVendorValue& v : Request.Values) {
    std::string text;
    if (KzReplyHas(Form, Reply, v.Key))
      text = KzReplyGet(Form, Reply, v.Key);
    else if (v.Default)
      text = v.Default;
    else
      continue;
    if (v.ScheduleRow >= 0)
      KzCamScheduleInit(Camera, v.ScheduleRow, v.ScheduleDay, text);
    else
      KzCamFieldInit(Camera, v.Field, KzCodeFromVendor(v.Codes, text));
  }
  Camera.UnlockCommands();
}

bool KzVendorReadGroup(TKzCamera& Camera, const TKzVendorDialect& Dialect, const TKzVendorGroup& Group) {
  std::vector<std::string> replies;
  for (const TKzVendorRequest& r : Group.Reads) {
    std::string reply;
    if (!Camera.ExecuteStr(Dialect.URL(Camera, r.Command, r.Query), reply) || !Dialect.Valid(reply)) return false;
    replies.push_back(std::move(reply));
  }
  if (Group.ResetImage) {
    Camera.InitQuality(TKzQualityType::qtStandard);
    Camera.InitFocusType(TKzCamFocus::kzcfFocusAuto);
    Camera.InitFocusDistance(1);
    Camera.InitVideoResolution(TKzVideoResolution::kzDefault);
  }
  for (size_t i = 0; i < replies.size(); ++i) KzVendorStoreReply(Camera, Dialect.Form, Group.Reads[i], replies[i]);
  return true;
}

// ---- TKzTableVendor

const TKzVendorGroup* TKzTableVendor::FindGroup(TKzCamPropertyGroup Group) const {
  for (const TKzVendorGroup& g : FTables.Groups)
    if (g.Group == Group) return &g;
  return nullptr;
}

TKzCamProperties TKzTableVendor::GetAvailableProperties(TKzCamera&, TKzCamPropertyGroup Group) const {
  for (const auto& [g, set] : FTables.Properties)
    if (g == Group) return set;
  return {};
}

TKzCamMethods TKzTableVendor::GetAvailableMethods(TKzCamera&, TKzCamPropertyGroup Group) const {
  for (const auto& [g, set] : FTables.Methods)
    if (g == Group) return set;
  return {};
}

TKzCamGetFunc TKzTableVendor::GetGetFunc(TKzCamera&, TKzCamPropertyGroup Group) const {
  const TKzVendorGroup* g = FindGroup(Group);
  if (!g || g->Reads.empty()) return nullptr;
  return [this, g](TKzCamera& Camera, bool& Aborted) {
    Aborted = false;
    return KzVendorReadGroup(Camera, FTables.Dialect, *g);
  };
}

TKzCamSetURLFunc TKzTableVendor::GetSetURLFunc(TKzCamera&, TKzCamPropertyGroup Group) const {
  const TKzVendorGroup* g = FindGroup(Group);
  if (!g || g->Writes.empty()) return nullptr;
  return [this, g](TKzCamera& Camera, int32_t Index, std::string& URL) {
    URL.clear();
    if (Index < 0 || static_cast<size_t>(Index) >= g->Writes.size()) return;
    const TKzVendorRequest& w = g->Writes[static_cast<size_t>(Index)];
    URL = CommandURL(Camera, w.Command, KzVendorWriteQuery(Camera, w));
  };
}

bool TKzTableVendor::Fetch(TKzCamera& Camera, const std::string& URL, std::string& Reply) {
  return Camera.ExecuteStr(URL, Reply);
}

TKzCamGetFunc TKzTableVendor::BrightnessGetter(std::string (*URL)(TKzCamera& Camera),
                                               bool (*Parse)(const std::string& Reply, int32_t Current,
                                                             int32_t& Value)) {
  return [URL, Parse](TKzCamera& Cam, bool& Aborted) {
    Aborted = false;
    std::string reply;
    int32_t value = 0;
    if (!Fetch(Cam, URL(Cam), reply) || !Parse(reply, Cam.Brightness(), value)) return false;
    Cam.InitBrightness(value);
    return true;
  };
}

bool TKzTableVendor::CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                                std::string& Result) const {
  for (const TKzVendorMethod& m : FTables.Operations) {
    if (m.Method != Method) continue;
    const std::string query = m.WithParam ? m.Query + KzEncodeURLComponent(Param) : m.Query;
    std::string reply;
    if (!Fetch(Camera, CommandURL(Camera, m.Command, query), reply) || !FTables.Dialect.Accepted(reply))
      return false;
    if (m.Reply) Result = reply;
    return true;
  }
  return false;
}

std::string TKzTableVendor::SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) const {
  for (const TKzVendorProperty& p : FTables.SingleProperties) {
    if (p.Property != Prop) continue;
    const std::string code = KzCodeToVendor(p.Codes, Value);
    if (code.empty()) return "";
    return CommandURL(Camera, p.Command, p.Query + KzEncodeURLComponent(code) + p.Suffix);
  }
  return "";
}

bool TKzTableVendor::GetColorControlPropertyRange(TKzCamera&, TKzColorControlProperty Prop, int32_t& MinValue,
                                                  int32_t& MaxValue, int32_t& DefValue, int32_t& Step) const {
  for (const TKzVendorRange& r : FTables.Ranges) {
    if (r.Control != Prop) continue;
    MinValue = r.Min;
    MaxValue = r.Max;
    DefValue = r.Default;
    Step = 1;
    return true;
  }
  MinValue = MaxValue = DefValue = Step = 0;
  return false;
}

void TKzTableVendor::GetMoveURLs(TKzCamera& Camera, TKzCamMovementEx Direction, std::string& URL1,
                                 std::string& URL2) const {
  URL1.clear();
  URL2.clear();
  for (const TKzVendorMove& m : FTables.Moves) {
    if (m.Direction != Direction) continue;
    URL1 = CommandURL(Camera, m.Command, m.Query);
    if (!m.Command2.empty()) URL2 = CommandURL(Camera, m.Command2, m.Query2);
    return;
  }
}

std::string TKzTableVendor::GetStopURL(TKzCamera& Camera, TKzCamMovementEx Direction) const {
  for (const TKzVendorMove& m : FTables.Moves)
    if (m.Direction == Direction && !m.StopCommand.empty()) return CommandURL(Camera, m.StopCommand, m.StopQuery);
  return "";
}

bool TKzTableVendor::NeedsMoveTimer(TKzCamera&, TKzCamMovementEx Direction) const {
  return FTables.MoveTimer && Direction >= TKzCamMovementEx::kzdLeft;
}

bool TKzTableVendor::IsReplyAccepted(const std::string&, const std::string& Body) const {
  return FTables.Dialect.Accepted(Body);
}

}  // namespace kz
