#include "windows_file_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tarnscsi::tool {
namespace {

// The devices every Windows opens by these names, from any folder. COM0 and
// LPT0 are reserved on some versions.
constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
constexpr std::array<std::string_view, 2> kNumberedDevices = {"COM", "LPT"};
constexpr char kSeparators[] = "\\/";

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

// Windows reads a device name up to the first dot, with the spaces before
// that dot dropped ("nul .txt", "Com1.tar.gz").
bool IsDeviceName(std::string_view part) {
    std::string_view stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    const std::string name = Upper(stem);
    if (std::find(kDevices.begin(), kDevices.end(), name) != kDevices.end()) return true;
    constexpr std::size_t kNumberedLength = 4;  // "COM1"
    return name.size() == kNumberedLength && std::isdigit(static_cast<unsigned char>(name.back())) != 0 &&
           std::find(kNumberedDevices.begin(), kNumberedDevices.end(), std::string_view(name).substr(0, 3)) !=
               kNumberedDevices.end();
}

}  // namespace

std::string WindowsNameProblem(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of(kSeparators, start), path.size());
        const std::string_view part = std::string_view(path).substr(start, end - start);
        start = end + 1;
        // "." and ".." are the folder and its parent; an empty part lies
        // between two separators or after a drive's colon.
        if (part.empty() || part == "." || part == "..") continue;
        if (IsDeviceName(part)) {
            return "Windows keeps the name " + std::string(part) +
                   " for a device (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, CONIN$, CONOUT$, in any case and with "
                   "any extension, also as a folder); choose another name";
        }
        if (part.back() == '.' || part.back() == ' ') {
            return "Windows drops the " + std::string(part.back() == '.' ? "dot" : "space") + " at the end of '" +
                   std::string(part) + "' and would write another name; choose a name that ends otherwise";
        }
    }
    return {};
}

}  // namespace tarnscsi::tool
