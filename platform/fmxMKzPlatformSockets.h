// Thin layer over the system's name resolution and sockets.
#pragma once
#include <cstdint>
#include <string>

namespace kz {

// IPv4 address of HostName in network byte order: a dotted address is taken
// as it is, a name goes to the system resolver (first IPv4 answer). 0 when
// the name does not resolve. Any thread; may block on the resolver.
uint32_t PlatformLookupIPv4(const std::string& HostName);
// Dotted text of a network-order IPv4 address.
std::string PlatformIPv4ToText(uint32_t Address);
// The machine's own IPv4 address as text: the first non-loopback interface
// that is up, else the resolver's answer for the host name, else "127.0.0.1".
std::string PlatformLocalHostAddress();

}  // namespace kz
