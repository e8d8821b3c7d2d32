#include "apps/common/kzappoptions.h"

#include <cstdlib>

#include "apps/common/kzappconsole.h"

namespace kzapp {

std::string TKzArgs::Get(const std::string& Name, const std::string& Default) const {
  const auto it = Values.find(Name);
  return it == Values.end() ? Default : it->second;
}

bool TKzArgs::Number(const std::string& Name, double& Out, double Min, double Max) {
  const auto it = Values.find(Name);
  if (it == Values.end()) return true;
  char* end = nullptr;
  const double v = std::strtod(it->second.c_str(), &end);
  if (it->second.empty() || *end != '\0' || !(v >= Min && v <= Max)) {
    if (Error.empty()) Error = Name + " takes a number from " + KzFormat("%g", Min) + " to " + KzFormat("%g", Max);
    return false;
  }
  Out = v;
  return true;
}

TKzArgs KzParseArgs(const std::vector<std::string>& Args, std::span<const TKzOption> Options) {
  TKzArgs r;
  bool optionsEnded = false;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      r.Positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      r.Help = true;
      continue;
    }
    const size_t eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const TKzOption* option = nullptr;
    for (const TKzOption& o : Options)
      if (name == o.Name) option = &o;
    if (!option) {
      if (r.Error.empty()) r.Error = "unknown option " + name;
      continue;
    }
    if (!option->Value) {
      if (eq != std::string::npos && r.Error.empty()) r.Error = name + " takes no value";
      r.Values[name].clear();
    } else if (eq != std::string::npos) {
      r.Values[name] = a.substr(eq + 1);
      r.Repeated[name].push_back(r.Values[name]);
    } else if (i + 1 < Args.size()) {
      r.Values[name] = Args[++i];
      r.Repeated[name].push_back(r.Values[name]);
    } else if (r.Error.empty()) {
      r.Error = "missing value after " + name;
    }
  }
  return r;
}

std::string KzUsageText(const std::string& Program, const std::string& Synopsis, std::span<const TKzOption> Options,
                        const std::string& Footer) {
  std::string text = "usage: " + Program + " " + Synopsis + "\n";
  for (const TKzOption& o : Options) {
    std::string left = std::string(o.Name) + (o.Value ? std::string(" ") + o.Value : std::string());
    if (left.size() < 20) left.resize(20, ' ');
    text += "  " + left + " " + o.Help + "\n";
  }
  text += "  -h, --help             this text\n";
  return text + Footer;
}

int KzArgsOutcome(const TKzArgs& Args, const std::string& Program, const std::string& Usage) {
  if (Args.Help) {
    KzOut("%s", Usage.c_str());
    return kzExitDone;
  }
  if (!Args.Error.empty()) {
    KzErr("%s: %s\n%s", Program.c_str(), Args.Error.c_str(), Usage.c_str());
    return kzExitUsage;
  }
  return -1;
}

}  // namespace kzapp
