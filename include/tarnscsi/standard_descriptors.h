// Standard input, output and error closed when a program starts (">&-"):
// the next files it opened would take their numbers, and a FITS meant for
// standard output, or a trace meant for standard error, would be written
// into a lock file or a camera's device node. Every program calls this
// first thing in main, before it opens anything.
#pragma once

namespace tarnscsi {

struct ClosedStandardDescriptors {
    bool input = false;   // descriptor 0
    bool output = false;  // descriptor 1
    bool error = false;   // descriptor 2
};

// Opens /dev/null on each of descriptors 0 to 2 that is closed, and says
// which were: a program can then refuse what needed one of them (the tool's
// "-o -" with standard output closed). Does nothing on Windows.
ClosedStandardDescriptors OpenClosedStandardDescriptors();

}  // namespace tarnscsi
