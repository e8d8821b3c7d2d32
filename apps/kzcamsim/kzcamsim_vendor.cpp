// The engine of kzcamsim's vendor modes: walks the rows of
// kzcamsim_vendor_table.cpp, keeps the camera's state and answers.
#include "apps/kzcamsim/kzcamsim_vendor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>

#include "apps/kzcamsim/kzcamsim_vendor_table.h"
#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendors.h"
#include "inet/fmxMKzURLFuncs.h"

using namespace kz;

namespace kzcamsim {

namespace {
constexpr size_t kLogSize = 4096;
constexpr double kDegreesPerSecond = 40.0;
constexpr const char* kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

using TParams = std::vector<std::pair<std::string, std::string>>;

TParams ParseQuery(const std::string& Query) {
  TParams out;
  for (size_t b = 0; b <= Query.size();) {
    size_t e = Query.find('&', b);
    if (e == std::string::npos) e = Query.size();
    const std::string item = Query.substr(b, e - b);
    b = e + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    out.emplace_back(URLDecode(item.substr(0, eq)), eq == std::string::npos ? "" : URLDecode(item.substr(eq + 1)));
  }
  return out;
}

const std::string* Find(const TParams& P, const std::string& Name) {
  for (const auto& [k, v] : P)
    if (k == Name) return &v;
  return nullptr;
}

std::vector<std::string> Words(const std::string& S) {
  std::istringstream in(S);
  std::vector<std::string> w;
  for (std::string x; in >> x;) w.push_back(x);
  return w;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct TUser {
  std::string Name, Password;
  int32_t Level = 1;
};
}  // namespace

struct TKzSimVendor::TImpl {
  std::string Vendor, Model;
  std::string DLinkStream;    // the stream path of the D-Link model, "" for none
  std::string DLinkSnapshot;  // its snapshot path
  mutable std::mutex Lock;  // guards everything below
  std::map<std::string, std::string> State;
  std::vector<std::string> Sources;  // in the order settings came
  std::vector<TUser> Users;
  std::deque<std::string> Log;
  bool Led = false;
  double Pan = 0, Tilt = 0, Dx = 0, Dy = 0, Since = 0;

  bool FoscamStyle() const { return Vendor == "foscam"; }
  bool HD() const { return Vendor == "foscam-hd"; }

  // ---- Pan/tilt
  void Settle() {
    const double now = Now();
    Pan = std::clamp(Pan + Dx * kDegreesPerSecond * (now - Since), -180.0, 180.0);
    Tilt = std::clamp(Tilt + Dy * kDegreesPerSecond * (now - Since), -90.0, 90.0);
    Since = now;
  }
  void Act(const std::string& A, const TParams& P) {
    Settle();
    static const std::map<std::string, std::pair<int, int>> dirs = {
        {"left", {-1, 0}},    {"right", {1, 0}},     {"up", {0, 1}},          {"down", {0, -1}},
        {"upleft", {-1, 1}},  {"upright", {1, 1}},   {"downleft", {-1, -1}},  {"downright", {1, -1}},
        {"hpatrol", {1, 0}},  {"vpatrol", {0, 1}},   {"stop", {0, 0}}};
    if (auto it = dirs.find(A); it != dirs.end()) {
      Dx = it->second.first;
      Dy = it->second.second;
    } else if (A == "home") {
      Pan = Tilt = Dx = Dy = 0;
    } else if (A.rfind("nudge-", 0) == 0) {
      const auto d = dirs.at(A.substr(6));
      Pan += 5 * d.first;
      Tilt += 5 * d.second;
    } else if (A == "rel") {
      const std::string* x = Find(P, "x");
      const std::string* y = Find(P, "y");
      Pan += x ? static_cast<double>(KzStrToIntDef(*x, 0)) : 0;
      Tilt += y ? static_cast<double>(KzStrToIntDef(*y, 0)) : 0;
    } else if (A == "led1" || A == "led0") {
      Led = A == "led1";
    }
  }

  // ---- Replies in the vendor's form
  std::string Render(const std::string& Source) const {
    std::string out;
    for (const auto& [key, value] : State) {
      if (key.compare(0, Source.size() + 1, Source + ".") != 0) continue;
      const std::string k = key.substr(Source.size() + 1);
      if (FoscamStyle())
        out += "var " + k + "='" + value + "';\n";
      else if (HD())
        out += "<" + k + ">" + value + "</" + k + ">\n";
      else
        out += k + "=" + value + "\r\n";
    }
    if (FoscamStyle() && Source == "get_params")
      for (size_t i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i + 1);
        const TUser* u = i < Users.size() ? &Users[i] : nullptr;
        out += "var user" + n + "_name='" + (u ? u->Name : "") + "';\nvar user" + n + "_pwd='" +
               (u ? u->Password : "") + "';\nvar user" + n + "_pri=" + std::to_string(u ? u->Level - 1 : 0) + ";\n";
      }
    return out;
  }
  TKzSimVendorAnswer Result(int32_t Code, const std::string& More = "") const {
    return {200, "<CGI_Result>\n<result>" + std::to_string(Code) + "</result>\n" + More + "</CGI_Result>\n",
            "text/xml"};
  }
  TKzSimVendorAnswer Ok(const std::string& Body = "") const {
    if (HD()) return Result(0, Body);
    return {200, Body.empty() ? (FoscamStyle() ? "ok.\r\n" : "OK\r\n") : Body};
  }
  TKzSimVendorAnswer Refused(bool Unauthorized) const {
    if (HD()) return Result(Unauthorized ? -2 : -3);
    if (FoscamStyle()) return {401, "<html><body>401 Unauthorized</body></html>", "text/html"};
    return {401, "<html><body>401 Unauthorized</body></html>", "text/html",
            "WWW-Authenticate: Basic realm=\"kzcamsim-" + Vendor + "\"\r\n"};
  }
  TKzSimVendorAnswer Unknown() const {
    if (HD()) return Result(-1);
    return {404, "<html><body>404 Not Found</body></html>", "text/html"};
  }
  TKzSimVendorAnswer Bad(const std::string& Name) const {
    if (HD()) return Result(-1);
    return {400, "Error: unknown parameter " + Name + "\r\n"};
  }

  // ---- Requests
  // Whether this mode knows the request's path (several modes share a port).
  bool Serves(const TKzSimRequest& R) const {
    return Match(R.Path, ParseQuery(R.Query)) || (!DLinkStream.empty() && R.Path == DLinkStream) ||
           (!DLinkSnapshot.empty() && R.Path == DLinkSnapshot);
  }

  const TKzSimRow* Match(const std::string& Path, const TParams& P) const {
    for (const TKzSimRow& r : KzSimVendorRows()) {
      if (Vendor != r.Vendor || Path != r.Path) continue;
      const std::string cmd = r.Cmd;
      if (cmd.empty()) return &r;
      if (HD()) {
        const std::string* c = Find(P, "cmd");
        if (c && *c == cmd) return &r;
        continue;
      }
      const size_t eq = cmd.find('=');
      const std::string* v = Find(P, cmd.substr(0, eq));
      if (v && (eq == std::string::npos || *v == cmd.substr(eq + 1))) return &r;
    }
    return nullptr;
  }

  // Who asks: 0 when the credentials are wrong or missing.
  int32_t Level(const TKzSimRequest& R, const TParams& P, std::string& Who) const {
    std::string name, pwd;
    if (FoscamStyle() || HD()) {
      const bool cam = FoscamStyle() && Find(P, "cam_user");
      const std::string* u = Find(P, cam ? "cam_user" : HD() ? "usr" : "user");
      const std::string* p = Find(P, cam ? "cam_pwd" : "pwd");
      if (!u) return 0;
      name = *u;
      pwd = p ? *p : "";
    } else {
      const auto params = KzSimAuthParams(R.Authorization);
      if (params.count("scheme") == 0 || params.at("scheme") != "basic") return 0;
      const std::string pair = DecodeBase64(KzTrim(R.Authorization.substr(R.Authorization.find_first_of(" \t") + 1)));
      const size_t colon = pair.find(':');
      if (colon == std::string::npos) return 0;
      name = pair.substr(0, colon);
      pwd = pair.substr(colon + 1);
    }
    Who = name.empty() ? "-" : name;
    for (const TUser& u : Users)
      if (u.Name == name && u.Password == pwd) return u.Level;
    return 0;
  }

  bool IsCredential(const std::string& Name, const TParams& P) const {
    if (HD()) return Name == "cmd" || Name == "usr" || Name == "pwd";
    if (FoscamStyle()) {
      if (Find(P, "cam_user")) return Name == "cam_user" || Name == "cam_pwd";
      return Name == "user" || Name == "pwd";
    }
    return false;
  }

  // Stores the parameters of a set through the row's map; false (Bad) at an unknown one.
  bool Store(const TKzSimRow& Row, const TParams& P, std::string& Bad, bool Step) {
    std::map<std::string, std::string> map;
    std::string prefix;
    bool hasPrefix = false;
    for (const std::string& w : Words(Row.Keys)) {
      if (w[0] == '@') {
        prefix = w.substr(1);
        hasPrefix = true;
      } else {
        const size_t gt = w.find('>');
        map[w.substr(0, gt)] = w.substr(gt + 1);
      }
    }
    const std::string cmd = std::string(Row.Cmd).substr(0, std::string(Row.Cmd).find('='));
    std::vector<std::pair<std::string, std::string>> writes;
    for (const auto& [name, value] : P) {
      if (IsCredential(name, P) || (!HD() && name == cmd && value.empty())) continue;
      std::string key;
      if (auto it = map.find(name); it != map.end()) {
        if (it->second.empty()) continue;
        key = it->second;
      } else if (hasPrefix) {
        key = prefix + name;
      }
      if (key.empty() || State.count(key) == 0) {
        Bad = name;
        return false;
      }
      writes.emplace_back(key, value);
    }
    for (auto& [key, value] : writes) {
      if (!Step) {
        State[key] = value;
        continue;
      }
      const int64_t now = KzStrToIntDef(State[key], 0);
      State[key] = std::to_string(value == "5" ? 0 : value == "4" ? now - 1 : value == "6" ? now + 1 : now);
    }
    return true;
  }

  TKzSimVendorAnswer Users_(const TKzSimRow& Row, const TParams& P, int32_t Level, const std::string& Who);

  // A fixed page: the parts of Keys ("level:text|...") that Level reaches.
  TKzSimVendorAnswer Page(const TKzSimRow& Row, int32_t Level) const {
    std::string body;
    const std::string keys = Row.Keys;
    for (size_t b = 0; b < keys.size();) {
      size_t e = keys.find('|', b);
      if (e == std::string::npos) e = keys.size();
      const std::string part = keys.substr(b, e - b);
      b = e + 1;
      const size_t colon = part.find(':');
      if (colon != std::string::npos && KzStrToIntDef(part.substr(0, colon), 9) <= Level) body += part.substr(colon + 1);
    }
    const bool html = body.find("<html>") != std::string::npos;
    return {200, body, html ? "text/html" : "text/plain"};
  }

  TKzSimVendorAnswer Answer(const TKzSimRequest& R, std::string& Who, std::string& Verdict) {
    const TParams p = ParseQuery(R.Query);
    const TKzSimRow* row = Match(R.Path, p);
    if (row && row->Level == 0) {
      Verdict = "ok";
      return Page(*row, 0);
    }
    const int32_t level = Level(R, p, Who);
    if (level == 0) {
      Verdict = "unauthorized";
      return Refused(true);
    }
    if (!row && !DLinkSnapshot.empty() && R.Path == DLinkSnapshot) {
      Verdict = "ok";
      TKzSimVendorAnswer a;
      a.Still = true;
      return a;
    }
    if (!row && Vendor == "dlink" && !DLinkStream.empty() && R.Path == DLinkStream) {
      Verdict = "ok";
      TKzSimVendorAnswer a;
      a.Stream = true;
      return a;
    }
    if (!row) {
      Verdict = "unknown";
      return Unknown();
    }
    if (level < row->Level && row->Kind != TKzSimKind::kzskUserChange) {
      Verdict = "denied";
      return Refused(false);
    }
    Verdict = "ok";
    std::string bad;
    switch (row->Kind) {
      case TKzSimKind::kzskGet: return Ok(Render(*row->Keys ? row->Keys : row->Cmd));
      case TKzSimKind::kzskSet:
      case TKzSimKind::kzskStep:
        if (Store(*row, p, bad, row->Kind == TKzSimKind::kzskStep)) return Ok();
        Verdict = "bad";
        return Bad(bad);
      case TKzSimKind::kzskAction:
        if (const std::string k = row->Keys; !k.empty()) State[k.substr(0, k.find('='))] = k.substr(k.find('=') + 1);
        return Ok();
      case TKzSimKind::kzskParamValue: {
        const std::string* which = Find(p, "param");
        const std::string* value = Find(p, "value");
        if (!which && !value) return Ok();  // asks only whether the user may
        for (const std::string& w : Words(row->Keys))
          if (which && value && w.substr(0, w.find('>')) == *which) {
            State[w.substr(w.find('>') + 1)] = *value;
            return Ok();
          }
        Verdict = "bad";
        return Bad("param");
      }
      case TKzSimKind::kzskMove: {
        const std::string keys = row->Keys;
        if (keys[0] == '=') {
          Act(keys.substr(1), p);
          return Ok();
        }
        const std::string* v = Find(p, keys.substr(0, keys.find('|')));
        for (const std::string& w : Words(keys.substr(keys.find('|') + 1)))
          if (v && w.substr(0, w.find(':')) == *v) {
            Act(w.substr(w.find(':') + 1), p);
            return Ok();
          }
        Verdict = "bad";
        return Bad(keys.substr(0, keys.find('|')));
      }
      case TKzSimKind::kzskStream: {
        TKzSimVendorAnswer a;
        a.Stream = true;
        return a;
      }
      case TKzSimKind::kzskPage: return Page(*row, level);
      case TKzSimKind::kzskStill: {
        TKzSimVendorAnswer a;
        a.Still = true;
        return a;
      }
      case TKzSimKind::kzskDescribe:
        return Ok("<product>" + Model + "</product>\r\n<cameraname>" + State["isystem.CameraName"] +
                  "</cameraname>\r\n");
      default: return Users_(*row, p, level, Who);
    }
  }
};

TKzSimVendorAnswer TKzSimVendor::TImpl::Users_(const TKzSimRow& Row, const TParams& P, int32_t Level,
                                                const std::string& Who) {
  auto get = [&](const char* Name) {
    const std::string* v = Find(P, Name);
    return v ? *v : std::string();
  };
  auto find = [&](const std::string& Name) {
    return std::find_if(Users.begin(), Users.end(), [&](const TUser& u) { return u.Name == Name; });
  };
  auto foscamLevel = [](const std::string& Pri) { return static_cast<int32_t>(std::clamp<int64_t>(KzStrToIntDef(Pri, 0), 0, 2)) + 1; };
  switch (Row.Kind) {
    case TKzSimKind::kzskUsersSet: {
      std::vector<TUser> users;
      for (int n = 1; n <= 8; ++n) {
        const std::string s = std::to_string(n);
        if (const std::string name = get(("user" + s).c_str()); !name.empty())
          users.push_back({name, get(("pwd" + s).c_str()), foscamLevel(get(("pri" + s).c_str()))});
      }
      Users = std::move(users);
      return Ok();
    }
    case TKzSimKind::kzskUserAdd:
      if (get("usrName").empty() || find(get("usrName")) != Users.end()) return Result(-4);
      Users.push_back({get("usrName"), get("usrPwd"), foscamLevel(get("privilege"))});
      return Ok();
    case TKzSimKind::kzskUserDelete:
      if (auto it = find(get("usrName")); it != Users.end()) {
        Users.erase(it);
        return Ok();
      }
      return Result(-4);
    case TKzSimKind::kzskUserChange: {
      // Everybody may change their own name and password; administrators anybody's.
      auto it = find(get("usrName"));
      if (it == Users.end() || it->Password != get("oldPwd")) return Result(-4);
      if (Level < 3 && it->Name != Who) return Result(-3);
      it->Name = get("newUsrName");
      it->Password = get("newPwd");
      return Ok();
    }
    case TKzSimKind::kzskUserList: {
      std::string body = "<usrCnt>" + std::to_string(Users.size()) + "</usrCnt>\n";
      for (size_t i = 0; i < Users.size(); ++i)
        body += "<usr" + std::to_string(i + 1) + ">" + Users[i].Name + "+" + std::to_string(Users[i].Level - 1) +
                "</usr" + std::to_string(i + 1) + ">\n";
      return Ok(body);
    }
    case TKzSimKind::kzskUserPassword:
      if (auto it = find(get("usrName")); it != Users.end()) return Ok("<password>" + it->Password + "</password>\n");
      return Result(-4);
    case TKzSimKind::kzskAxisUsers: {
      const std::string action = get("action");
      auto level = [](const std::string& Groups) {
        return Groups.find("admin") != std::string::npos      ? 3
               : Groups.find("operator") != std::string::npos ? 2
                                                              : 1;
      };
      if (action == "get") {
        std::string admin, oper, viewer;
        for (const TUser& u : Users) {
          auto add = [&](std::string& L) { L += (L.empty() ? "" : ",") + u.Name; };
          if (u.Level >= 3) add(admin);
          if (u.Level >= 2) add(oper);
          add(viewer);
        }
        return Ok("admin=\"" + admin + "\"\r\noperator=\"" + oper + "\"\r\nptz=\"" + oper + "\"\r\nviewer=\"" +
                  viewer + "\"\r\n");
      }
      if (action == "add" && !get("user").empty() && find(get("user")) == Users.end()) {
        Users.push_back({get("user"), get("pwd"), level(get("sgrp"))});
        return Ok("Created account " + get("user") + ".\r\n");
      }
      if (auto it = find(get("user")); it != Users.end() && action == "remove") {
        Users.erase(it);
        return Ok("Removed account.\r\n");
      }
      if (auto it = find(get("user")); it != Users.end() && action == "update") {
        it->Password = get("pwd");
        it->Level = level(get("sgrp"));
        return Ok("Modified account.\r\n");
      }
      return Bad("action");
    }
    default: return Unknown();
  }
}

const std::vector<std::string>& KzSimVendorNames() {
  static const std::vector<std::string> names = {"foscam", "foscam-hd", "panasonic", "dlink", "axis", "mobotix"};
  return names;
}

TKzSimVendor::TKzSimVendor(std::vector<std::unique_ptr<TImpl>> Modes)
    : FModes(std::move(Modes)), F(FModes.front().get()) {}
TKzSimVendor::~TKzSimVendor() = default;

namespace {
std::vector<std::string> SplitModes(const std::string& Text) {
  std::vector<std::string> out;
  for (size_t b = 0; b <= Text.size();) {
    size_t e = Text.find(',', b);
    if (e == std::string::npos) e = Text.size();
    out.push_back(Text.substr(b, e - b));
    b = e + 1;
  }
  return out;
}
}  // namespace

std::unique_ptr<TKzSimVendor> TKzSimVendor::Make(const TKzSimOptions& Options, std::string* Error) {
  const auto& names = KzSimVendorNames();
  const std::vector<std::string> modes = SplitModes(Options.Vendor);
  std::vector<std::unique_ptr<TImpl>> impls;
  for (const std::string& vendor : modes) {
    if (std::find(names.begin(), names.end(), vendor) == names.end()) {
      if (Error) *Error = "unknown vendor '" + vendor + "' (foscam, foscam-hd, panasonic, dlink, axis, mobotix)";
      return nullptr;
    }
    auto impl = std::make_unique<TImpl>();
    impl->Vendor = vendor;
    impl->Model = Options.Model.empty() ? (vendor == "dlink" ? "DCS-930" : "") : Options.Model;
    impl->Since = Now();
    for (const TKzSimSetting& s : KzSimVendorSettings())
      if (vendor == s.Vendor) impl->State[std::string(s.Source) + "." + s.Key] = s.Value;
    if (impl->Vendor == "dlink") {
      impl->State["isystem.Model"] = impl->Model;
      impl->State["getparam.system.modelname"] = impl->Model;
      const int32_t index = KzDLinkModelIndex(impl->Model);
      const std::string p = TKzDLinkAPI::StreamPath(index);
      impl->DLinkStream = p.empty() ? "" : "/" + p.substr(0, p.find('?'));
      const std::string snap = TKzDLinkAPI::SnapshotPath(index);
      impl->DLinkSnapshot = snap.empty() ? "" : "/" + snap.substr(0, snap.find('?'));
    }
    for (int d = 0; d < 7; ++d) {
      if (impl->FoscamStyle())
        for (int n = 0; n < 3; ++n)
          impl->State["get_params.alarm_schedule_" + std::string(kDays[d]) + "_" + std::to_string(n)] = "0";
      if (impl->HD()) impl->State["getMotionDetectConfig.schedule" + std::to_string(d)] = "0";
    }
    // A level is spelled the vendor's way; with several modes, any mode's way.
    for (const std::string& u : Options.VendorUsers) {
      const size_t a = u.find(':'), b = u.rfind(':');
      int32_t level = 0;
      if (a != std::string::npos && b != a)
        for (const std::string& spelling : {vendor, std::string()})
          for (const TKzSimLevel& l : KzSimVendorLevels())
            if (level == 0 && u.substr(b + 1) == l.Name &&
                (spelling == l.Vendor ||
                 (spelling.empty() && std::find(modes.begin(), modes.end(), l.Vendor) != modes.end())))
              level = l.Level;
      if (level == 0) {
        if (Error) *Error = "--user takes NAME:PASSWORD:LEVEL with a level of the vendor (" + u.substr(b + 1) + ")";
        return nullptr;
      }
      impl->Users.push_back({u.substr(0, a), u.substr(a + 1, b - a - 1), level});
    }
    if (impl->Users.empty()) impl->Users.push_back({Options.UserName, Options.Password, 3});
    impls.push_back(std::move(impl));
  }
  return std::unique_ptr<TKzSimVendor>(new TKzSimVendor(std::move(impls)));
}

TKzSimVendorAnswer TKzSimVendor::Handle(const TKzSimRequest& Request) {
  TImpl* mode = F;
  for (const auto& m : FModes)
    if (m->Serves(Request)) {
      mode = m.get();
      break;
    }
  std::string who = "-", verdict;
  TKzSimVendorAnswer a;
  {
    std::lock_guard<std::mutex> g(mode->Lock);
    a = mode->Answer(Request, who, verdict);
  }
  std::lock_guard<std::mutex> g(F->Lock);
  F->Log.push_back(who + " " + verdict + " " + Request.Method + " " + Request.Path +
                   (Request.Query.empty() ? "" : "?" + Request.Query));
  if (F->Log.size() > kLogSize) F->Log.pop_front();
  return a;
}

std::vector<std::string> TKzSimVendor::Log() const {
  std::lock_guard<std::mutex> g(F->Lock);
  return {F->Log.begin(), F->Log.end()};
}

void TKzSimVendor::ClearLog() {
  std::lock_guard<std::mutex> g(F->Lock);
  F->Log.clear();
}

std::string TKzSimVendor::Value(const std::string& Key) const {
  std::lock_guard<std::mutex> g(F->Lock);
  F->Settle();
  if (Key == "pan") return std::to_string(static_cast<int>(std::lround(F->Pan)));
  if (Key == "tilt") return std::to_string(static_cast<int>(std::lround(F->Tilt)));
  if (Key == "led") return F->Led ? "1" : "0";
  for (const auto& m : FModes) {
    std::unique_lock<std::mutex> other(m->Lock, std::defer_lock);
    if (m.get() != F) other.lock();
    if (auto it = m->State.find(Key); it != m->State.end()) return it->second;
  }
  return "";
}

std::vector<std::string> TKzSimVendor::Users() const {
  std::lock_guard<std::mutex> g(F->Lock);
  std::vector<std::string> out;
  for (const TUser& u : F->Users) out.push_back(u.Name + ":" + u.Password + ":" + std::to_string(u.Level));
  return out;
}

std::string TKzSimVendor::StreamPath() const {
  for (const TKzSimRow& r : KzSimVendorRows())
    if (F->Vendor == r.Vendor && r.Kind == TKzSimKind::kzskStream && std::string(r.Cmd) != "snapPicture2")
      return r.Path;
  return F->DLinkStream;
}

}  // namespace kzcamsim
