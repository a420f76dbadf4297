#include "sg/linux_address.h"

#include <charconv>

namespace tarnscsi::sg {
namespace {

constexpr char kSeparator = ':';
constexpr int kDecimal = 10;

// Reads one number up to the next separator (or the end, for the last one).
template <typename Number>
bool ReadField(std::string_view& text, Number& value, bool last) {
    const std::size_t end = last ? text.size() : text.find(kSeparator);
    if (end == 0 || end == std::string_view::npos) {
        return false;
    }
    const auto [next, error] = std::from_chars(text.data(), text.data() + end, value, kDecimal);
    if (error != std::errc{} || next != text.data() + end) {
        return false;
    }
    text.remove_prefix(last ? end : end + 1);
    return true;
}

}  // namespace

std::optional<LinuxAddress> ParseLinuxAddress(std::string_view text) {
    LinuxAddress address;
    if (ReadField(text, address.host, false) && ReadField(text, address.channel, false) &&
        ReadField(text, address.target, false) && ReadField(text, address.lun, true) && text.empty()) {
        return address;
    }
    return std::nullopt;
}

std::string ToString(const LinuxAddress& address) {
    return std::to_string(address.host) + kSeparator + std::to_string(address.channel) + kSeparator +
           std::to_string(address.target) + kSeparator + std::to_string(address.lun);
}

}  // namespace tarnscsi::sg