// Our INDI driver as indiserver runs it, XML in on its standard input and
// out on its standard output, and a client's steps over those pipes: define
// the properties, connect the device, take an exposure and wait for its
// image. All the cadence benchmark needs of INDI, without a server or
// INDI's client library.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace tarnscsi::bench {

class IndiDriverPipe {
public:
    IndiDriverPipe() = default;
    // Closes the driver's input, which ends it, and waits for it.
    ~IndiDriverPipe();
    IndiDriverPipe(const IndiDriverPipe&) = delete;
    IndiDriverPipe& operator=(const IndiDriverPipe&) = delete;

    // Starts the driver program in this process's environment.
    bool Start(const std::string& driver, std::string& error);
    // Asks for the properties, connects `device` and waits until its image
    // property is defined.
    bool ConnectDevice(const std::string& device, std::string& error);
    // Exposes the primary chip for `seconds` and waits for the image.
    bool Expose(double seconds, std::string& error);

private:
    bool Send(const std::string& xml);
    // Reads the driver's output until `text` has come (true) or `limit`
    // has passed; what came up to and including it is consumed, and what
    // came before it goes to `before` when given.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit, std::string* before = nullptr);

    pid_t pid = -1;
    int toDriver = -1;
    int fromDriver = -1;
    std::string device;
    std::string pending;  // read and not yet consumed
};

}  // namespace tarnscsi::bench
