#include "command_words.h"

#include <algorithm>
#include <cctype>

namespace tarnscsi::tool {

namespace {

constexpr char kHelpWord[] = "help";
constexpr char kHelpOption[] = "--help";
constexpr char kTraceOption[] = "--trace";

bool IsOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

// "-inf", "-nan", "-Infinity": a value a user meant as a number.
bool IsNegativeNonNumber(const std::string& word) {
    std::string lower;
    for (char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "-inf" || lower == "-infinity" || lower == "-nan";
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

}  // namespace

std::vector<std::string> RewriteHelpCommand(std::vector<std::string> args) {
    const auto help = std::find_if(args.begin() + 1, args.end(), [](const std::string& w) { return !IsOption(w); });
    if (help == args.end() || *help != kHelpWord) return args;
    const auto next = args.erase(help);
    args.insert(next == args.end() ? next : next + 1, kHelpOption);
    return args;
}

std::string CheckCommandWords(const std::vector<std::string>& args, const std::vector<std::string>& commands) {
    const auto isCommand = [&commands](const std::string& word) {
        return std::find(commands.begin(), commands.end(), word) != commands.end();
    };
    for (const std::string& word : args) {
        if (IsNegativeNonNumber(word)) return "'" + word + "' is not a plain decimal number";
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (IsOption(word)) {
            // "--trace FILE": the word after it is its value unless it is a command.
            if (word == kTraceOption && i + 1 < args.size() && !IsOption(args[i + 1]) && !isCommand(args[i + 1])) ++i;
            continue;
        }
        if (isCommand(word)) return {};
        return "unknown command '" + word + "' (commands: " + Joined(commands) + ")";
    }
    return {};
}

}  // namespace tarnscsi::tool
