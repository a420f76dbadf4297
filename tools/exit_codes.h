// The exit codes scripts can rely on; listed in every --help footer.
#pragma once

namespace tarnscsi::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;        // the camera or a file operation failed
inline constexpr int kExitUsage = 2;          // bad command line; nothing was done
inline constexpr int kExitTraceLost = 3;      // the command succeeded, but its trace could not be written
inline constexpr int kExitInterrupted = 130;  // Ctrl-C: 128 + SIGINT

inline constexpr char kExitCodeHelp[] =
    "Exit codes: 0 success, 1 camera or file failure, 2 usage error (nothing was done),\n"
    "3 success, but the command trace (--trace, TARNSCSI_TRACE) could not be written,\n"
    "130 interrupted (Ctrl-C, or SIGTERM, SIGHUP, SIGQUIT).";

}  // namespace tarnscsi::tool
