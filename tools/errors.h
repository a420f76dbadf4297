// The three ways a command ends early. Each maps to one exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnscsi::tool {

// The command line asks for something impossible; raised before the camera
// or any file is touched.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The camera or a file operation failed.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ctrl-C (or SIGTERM) arrived while the command waited.
class Interrupted : public std::runtime_error {
public:
    Interrupted() : std::runtime_error("interrupted") {}
};

}  // namespace tarnscsi::tool
