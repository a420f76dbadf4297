// tarnscsi: the camera from the command line.
#include <cstdio>

#include "cli.h"

int main(int argc, char** argv) {
    // Each line reaches a log at once, in order with the errors on stderr.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    return tarnscsi::tool::Run(argc, argv);
}
