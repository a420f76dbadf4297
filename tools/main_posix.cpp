// tarnscsi: the camera from the command line.
#include <csignal>
#include <cstdio>

#include <tarnscsi/standard_descriptors.h>

#include "cli.h"

int main(int argc, char** argv) {
    // Before anything is opened: a closed stdout must not become the next file.
    const tarnscsi::ClosedStandardDescriptors closed = tarnscsi::OpenClosedStandardDescriptors();
    // Each line reaches a log at once, in order with the errors on stderr.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    // A reader that closes the pipe early (| head) makes writes fail with
    // EPIPE, reported with exit code 1, rather than killing the tool.
    std::signal(SIGPIPE, SIG_IGN);
    return tarnscsi::tool::Run(argc, argv, closed);
}
