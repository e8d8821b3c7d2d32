// XML of ONVIF services: loading a reply within bounds (size, nesting),
// finding elements by local name (cameras use different namespace
// prefixes for the same namespaces) and escaping text for requests.
// All functions: any thread, never block.
#pragma once
#include <cstddef>
#include <string>

#include <pugixml.hpp>

namespace kz {

constexpr size_t KzOnvifMaxReply = 1048576;  // bytes of one reply
constexpr int KzOnvifMaxDepth = 64;          // element nesting

// Parses Text with pugixml's default rules (no DTD, no entity expansion
// beyond the predefined ones). False with Error for a reply over the size
// bound, one that is not well-formed, or one nested deeper than the bound.
bool KzOnvifLoadXML(const std::string& Text, pugi::xml_document& Doc, std::string& Error);
// The name without its prefix.
const char* KzXmlLocal(const char* Name);
// The first child element (of Node) whose local name is Local.
pugi::xml_node KzXmlChild(pugi::xml_node Node, const char* Local);
// The first element below Node (document order) whose local name is Local.
pugi::xml_node KzXmlFind(pugi::xml_node Node, const char* Local);
// The text of the child element Local ("" without one), trimmed.
std::string KzXmlChildText(pugi::xml_node Node, const char* Local);
// The text of Node, trimmed.
std::string KzXmlText(pugi::xml_node Node);
// The value of the attribute whose local name is Local ("" without one).
std::string KzXmlAttr(pugi::xml_node Node, const char* Local);
// Text with &, <, >, " and ' escaped.
std::string KzXmlEscape(const std::string& Text);

}  // namespace kz
