// The words of a command line before the argument library sees them: the
// "help COMMAND" form, a first word that is no command, and negative
// non-numbers ("-inf") that would otherwise pass for unknown options.
#pragma once

#include <string>
#include <vector>

namespace tarnscsi::tool {

// "tarnscsi help expose" becomes "tarnscsi expose --help", "tarnscsi help"
// becomes "tarnscsi --help". args[0] is the program.
std::vector<std::string> RewriteHelpCommand(std::vector<std::string> args);

// "" when the first word that is neither an option nor --trace's value is
// one of `commands` (or there is none); else a message naming it.
std::string CheckCommandWords(const std::vector<std::string>& args, const std::vector<std::string>& commands);

}  // namespace tarnscsi::tool
