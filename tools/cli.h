// The command line: subcommands, their options and help, and the mapping of
// every outcome to an exit code (exit_codes.h).
#pragma once

namespace tarnscsi::tool {

int Run(int argc, char** argv);

}  // namespace tarnscsi::tool
