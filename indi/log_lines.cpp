#include "log_lines.h"

#include <algorithm>
#include <string_view>

namespace tarnscsi::indi {
namespace {

// Where to end a line of at most `room` characters of `text` (longer than
// `room`): just after the last pause that leaves something on the line.
std::size_t BreakAt(const std::string& text, std::size_t room) {
    for (const char* pause : {"; ", ", ", " "}) {
        const std::string_view mark(pause);
        if (room < mark.size()) continue;
        // The mark must end within the line.
        const std::size_t found = text.rfind(mark, room - mark.size());
        if (found != std::string::npos && found > 0) return found + mark.size();
    }
    return room;
}

}  // namespace

std::vector<std::string> LogLines(const std::string& text, std::size_t limit) {
    const std::size_t mark = std::char_traits<char>::length(kContinuation);
    // A limit that leaves no room after the mark would never finish.
    limit = std::max(limit, mark + 1);
    std::vector<std::string> lines;
    std::string rest = text;
    std::size_t room = limit;
    while (rest.size() > room) {
        const std::size_t end = BreakAt(rest, room);
        std::string line = rest.substr(0, end);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(lines.empty() ? line : kContinuation + line);
        rest.erase(0, std::min(rest.size(), rest.find_first_not_of(' ', end)));
        room = limit - mark;
    }
    if (!rest.empty() || lines.empty()) lines.push_back(lines.empty() ? rest : kContinuation + rest);
    return lines;
}

}  // namespace tarnscsi::indi
