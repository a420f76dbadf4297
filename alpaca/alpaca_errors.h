// The error numbers of the Alpaca protocol, as its API reference lists them,
// and one device answer's outcome: a number and a message for a person.
#pragma once

#include <string>

namespace tarnscsi::alpaca {

inline constexpr int kNoError = 0;
inline constexpr int kNotImplemented = 0x400;
inline constexpr int kInvalidValue = 0x401;
inline constexpr int kValueNotSet = 0x402;
inline constexpr int kNotConnected = 0x407;
inline constexpr int kInvalidOperation = 0x40B;
inline constexpr int kActionNotImplemented = 0x40C;
// The camera itself failed: the message names the command and what the
// camera said.
inline constexpr int kCameraFailure = 0x500;

// What a member answers when it cannot give a value.
struct Failure {
    int number = kNoError;
    std::string message;
    explicit operator bool() const { return number != kNoError; }
};

}  // namespace tarnscsi::alpaca
