// Whether a text is an IP address as URIs write one (RFC 3986, 3.2.2): an
// IPv4 address in dotted decimal, four parts of 0 to 255 without leading
// zeros, or an IPv6 address (without brackets or zone). The server judges
// Host headers and --listen by these rules alone, the same on every
// system: the system's own parsers differ, and Windows' takes "127.1",
// "0x7f.1" and "2130706433" for 127.0.0.1.
#pragma once

#include <string_view>

namespace tarnscsi::alpaca {

bool IsIpv4Literal(std::string_view text);
bool IsIpv6Literal(std::string_view text);

}  // namespace tarnscsi::alpaca
