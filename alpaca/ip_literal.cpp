#include "ip_literal.h"

#include <cstddef>

namespace tarnscsi::alpaca {
namespace {

constexpr std::size_t kIpv4Parts = 4;
constexpr int kLargestOctet = 255;
constexpr int kDecimalBase = 10;
constexpr std::size_t kMostHexDigits = 4;
// Groups of 16 bits in an IPv6 address; an IPv4 address at its end stands for two.
constexpr std::size_t kIpv6Groups = 8;
constexpr std::size_t kGroupsOfIpv4 = 2;
constexpr std::string_view kElided = "::";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// One part of dotted decimal: "0" to "255", no leading zero.
bool IsOctet(std::string_view part) {
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (const char c : part) {
        if (!IsDigit(c)) return false;
        value = value * kDecimalBase + (c - '0');
    }
    return value <= kLargestOctet;
}

// Groups of one to four hex digits separated by single colons, the last of
// which may be an IPv4 address when `ipv4AtEnd`; how many groups of 16
// bits they make, or -1 when they are no such thing. "" makes none.
int GroupCount(std::string_view text, bool ipv4AtEnd) {
    if (text.empty()) return 0;
    int groups = 0;
    for (;;) {
        const std::size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && ipv4AtEnd && group.find('.') != std::string_view::npos) {
            return IsIpv4Literal(group) ? groups + static_cast<int>(kGroupsOfIpv4) : -1;
        }
        if (group.empty() || group.size() > kMostHexDigits) return -1;
        for (const char c : group) {
            if (!IsHexDigit(c)) return -1;
        }
        ++groups;
        if (colon == std::string_view::npos) return groups;
        text.remove_prefix(colon + 1);
    }
}

}  // namespace

bool IsIpv4Literal(std::string_view text) {
    for (std::size_t part = 0; part < kIpv4Parts; ++part) {
        const std::size_t dot = text.find('.');
        const bool last = part + 1 == kIpv4Parts;
        if (last != (dot == std::string_view::npos) || !IsOctet(text.substr(0, dot))) return false;
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    return true;
}

bool IsIpv6Literal(std::string_view text) {
    const std::size_t elided = text.find(kElided);
    if (elided == std::string_view::npos) {
        return GroupCount(text, true) == static_cast<int>(kIpv6Groups);
    }
    const std::string_view before = text.substr(0, elided);
    const std::string_view after = text.substr(elided + kElided.size());
    if (after.find(kElided) != std::string_view::npos) return false;
    const int left = GroupCount(before, false);
    const int right = GroupCount(after, true);
    // "::" stands for at least one group.
    return left >= 0 && right >= 0 && left + right < static_cast<int>(kIpv6Groups);
}

}  // namespace tarnscsi::alpaca
