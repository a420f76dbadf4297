#include "text_message.h"

#include <string>

namespace tarnscsi::indi {
namespace {

// As long as INDI's own names may be (MAXINDINAME).
constexpr std::size_t kShownNameLength = 64;

std::size_t EntitySize(char c) {
    switch (c) {
        case '&': return sizeof("&amp;") - 1;
        case '\'': return sizeof("&apos;") - 1;
        case '"': return sizeof("&quot;") - 1;
        case '<': return sizeof("&lt;") - 1;
        case '>': return sizeof("&gt;") - 1;
        default: return 1;
    }
}

}  // namespace

std::size_t XmlSize(std::string_view text) {
    std::size_t size = 0;
    for (const char c : text) size += EntitySize(c);
    return size;
}

std::string TextMessageProblem(char* const texts[], char* const names[], int n) {
    for (int i = 0; i < n; ++i) {
        if (texts[i] == nullptr) continue;
        const std::size_t size = XmlSize(texts[i]);
        if (size > kMaxTextBytes) {
            return ShownName(names[i]) + " is " + std::to_string(size) +
                   " bytes long as INDI writes it; a text may be " + std::to_string(kMaxTextBytes) + " at most";
        }
    }
    return {};
}

std::string ShownName(const char* name) {
    if (name == nullptr) return "(no name)";
    const std::string_view whole(name);
    if (whole.size() <= kShownNameLength) return std::string(whole);
    return std::string(whole.substr(0, kShownNameLength)) + "...";
}

}  // namespace tarnscsi::indi
