#include "foundation/fmxMKzRedact.h"

#include <cctype>
#include <mutex>
#include <vector>

namespace kz {

namespace {
// Names whose value is a credential, and what separates name and value.
// A name is matched whole, in any letter case, without leading dashes
// ("--password=x" is found too).
struct TKzCredentialName {
  std::string_view Name;
  char Separator;
};
const TKzCredentialName kCredentialNames[] = {
    {"user", '='},          {"usr", '='},           {"username", '='},      {"user_name", '='},
    {"cam_user", '='},      {"cam_pwd", '='},
    {"login", '='},         {"loginuse", '='},      {"pwd", '='},           {"pass", '='},
    {"passwd", '='},        {"password", '='},      {"loginpas", '='},      {"auth", '='},
    {"authbasic", '='},     {"proxy-user", '='},    {"proxy-password", '='}, {"authorization", ':'},
    {"proxy-authorization", ':'},
};

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

bool EqualNoCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(A[i])) != std::tolower(static_cast<unsigned char>(B[i]))) return false;
  return true;
}

// Names added at run time (vendors' secret parameters).
std::mutex gAddedNamesLock;
std::vector<std::string>* gAddedNames = nullptr;  // guarded by gAddedNamesLock; never freed
const TKzCredentialName kAddedName{"", '='};

const TKzCredentialName* FindCredentialName(std::string_view Token) {
  while (!Token.empty() && Token.front() == '-') Token.remove_prefix(1);
  for (const TKzCredentialName& n : kCredentialNames)
    if (EqualNoCase(Token, n.Name)) return &n;
  std::lock_guard<std::mutex> g(gAddedNamesLock);
  if (gAddedNames)
    for (const std::string& n : *gAddedNames)
      if (EqualNoCase(Token, n)) return &kAddedName;
  return nullptr;
}

// Where the host part of a URL ends in running text.
bool EndsAuthority(char c) {
  return c == '/' || c == '?' || c == '#' || c == '\\' || c == '"' || c == '\'' || c == '<' || c == '>' ||
         std::isspace(static_cast<unsigned char>(c));
}

// Where an unquoted parameter value ends.
bool EndsValue(char c) {
  return c == '&' || c == ';' || c == '#' || c == ',' || c == '<' || c == '>' || c == ']' || c == ')' ||
         std::isspace(static_cast<unsigned char>(c));
}

// The end of the value that starts at From (after the separator).
size_t ValueEnd(std::string_view Text, size_t From, char Separator) {
  size_t k = From;
  if (Separator == ':') {  // a header: the rest of the line
    while (k < Text.size() && Text[k] != '\r' && Text[k] != '\n') ++k;
    return k;
  }
  if (k < Text.size() && (Text[k] == '"' || Text[k] == '\'')) {
    const size_t close = Text.find(Text[k], k + 1);
    return close == std::string_view::npos ? Text.size() : close + 1;
  }
  while (k < Text.size() && !EndsValue(Text[k])) ++k;
  return k;
}
}  // namespace

void KzAddSecretParameterName(std::string_view Name) {
  if (Name.empty() || FindCredentialName(Name)) return;
  std::lock_guard<std::mutex> g(gAddedNamesLock);
  if (!gAddedNames) gAddedNames = new std::vector<std::string>;
  gAddedNames->emplace_back(Name);
}

std::string KzRedactCredentials(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  size_t i = 0;
  while (i < Text.size()) {
    if (Text.compare(i, 3, "://") == 0) {
      out += "://";
      const size_t begin = i + 3;
      size_t end = begin, at = std::string_view::npos;
      for (; end < Text.size() && !EndsAuthority(Text[end]); ++end)
        if (Text[end] == '@') at = end;
      i = at == std::string_view::npos ? begin : at + 1;
      continue;
    }
    if (!IsNameChar(Text[i]) || (i > 0 && IsNameChar(Text[i - 1]))) {
      out += Text[i++];
      continue;
    }
    size_t j = i;
    while (j < Text.size() && IsNameChar(Text[j])) ++j;
    out.append(Text.substr(i, j - i));
    const TKzCredentialName* name = FindCredentialName(Text.substr(i, j - i));
    i = j;
    if (!name || j >= Text.size() || Text[j] != name->Separator) continue;
    out += name->Separator;
    size_t from = j + 1;
    if (name->Separator == ':')
      while (from < Text.size() && Text[from] == ' ') out += Text[from++];
    const size_t end = ValueEnd(Text, from, name->Separator);
    if (end > from) out.append(KzRedactedMarker);
    i = end;
  }
  return out;
}

}  // namespace kz
