#include "camera/fmxMKzOnvifXML.h"

#include <cstring>

namespace kz {

namespace {
std::string Trim(const char* Text) {
  std::string s = Text ? Text : "";
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// The deepest element nesting of Doc, walked without recursion.
int Depth(const pugi::xml_document& Doc) {
  int depth = 0, deepest = 0;
  pugi::xml_node n = Doc.first_child();
  while (n) {
    if (n.type() == pugi::node_element && depth + 1 > deepest) deepest = depth + 1;
    if (n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
      if (n == Doc) return deepest;
    }
    if (n) n = n.next_sibling();
  }
  return deepest;
}
}  // namespace

bool KzOnvifLoadXML(const std::string& Text, pugi::xml_document& Doc, std::string& Error) {
  Doc.reset();
  if (Text.size() > KzOnvifMaxReply) {
    Error = "reply too large (" + std::to_string(Text.size()) + " bytes, at most " + std::to_string(KzOnvifMaxReply) + ")";
    return false;
  }
  // Nesting is counted on the bytes first, so that a deep reply is not built at all.
  int open = 0, deepest = 0;
  for (size_t i = 0; i + 1 < Text.size(); ++i) {
    if (Text[i] != '<') continue;
    const char c = Text[i + 1];
    if (c == '/') {
      --open;
    } else if (c != '?' && c != '!') {
      const size_t close = Text.find('>', i);
      if (close == std::string::npos) break;
      if (Text[close - 1] != '/' && ++open > deepest) deepest = open;
      i = close;
    }
  }
  if (deepest > KzOnvifMaxDepth + 1) {
    Error = "reply nested too deeply (more than " + std::to_string(KzOnvifMaxDepth) + " levels)";
    return false;
  }
  const pugi::xml_parse_result r = Doc.load_buffer(Text.data(), Text.size(), pugi::parse_default);
  if (!r) {
    Error = std::string("malformed XML: ") + r.description() + " at byte " + std::to_string(r.offset);
    return false;
  }
  if (Depth(Doc) > KzOnvifMaxDepth) {
    Error = "reply nested too deeply (more than " + std::to_string(KzOnvifMaxDepth) + " levels)";
    return false;
  }
  return true;
}

const char* KzXmlLocal(const char* Name) {
  const char* colon = std::strrchr(Name, ':');
  return colon ? colon + 1 : Name;
}

pugi::xml_node KzXmlChild(pugi::xml_node Node, const char* Local) {
  for (pugi::xml_node c = Node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && std::strcmp(KzXmlLocal(c.name()), Local) == 0) return c;
  return {};
}

pugi::xml_node KzXmlFind(pugi::xml_node Node, const char* Local) {
  pugi::xml_node n = Node.first_child();
  while (n) {
    if (n.type() == pugi::node_element && std::strcmp(KzXmlLocal(n.name()), Local) == 0) return n;
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && n != Node && !n.next_sibling()) n = n.parent();
    if (!n || n == Node) return {};
    n = n.next_sibling();
  }
  return {};
}

std::string KzXmlText(pugi::xml_node Node) { return Trim(Node.child_value()); }

std::string KzXmlChildText(pugi::xml_node Node, const char* Local) { return KzXmlText(KzXmlChild(Node, Local)); }

std::string KzXmlAttr(pugi::xml_node Node, const char* Local) {
  for (pugi::xml_attribute a = Node.first_attribute(); a; a = a.next_attribute())
    if (std::strcmp(KzXmlLocal(a.name()), Local) == 0) return a.value();
  return "";
}

std::string KzXmlEscape(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (char c : Text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace kz
