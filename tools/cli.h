// The command line: subcommands, their options and help, and the mapping of
// every outcome to an exit code (exit_codes.h).
#pragma once

#include <tarnscsi/standard_descriptors.h>

namespace tarnscsi::tool {

// `closed`: the standard descriptors the program found closed at its start
// (now /dev/null); what needs one of them is refused.
int Run(int argc, char** argv, ClosedStandardDescriptors closed = {});

}  // namespace tarnscsi::tool
