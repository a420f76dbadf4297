#include "imaging/imaging_error.h"

#include <cerrno>
#include <cstring>

namespace tarnscsi::imaging {

std::string ErrnoText(int error) {
    // A closed pipe is the reader's doing: say so in plain words.
    if (error == EPIPE)
        return std::string("the program reading the output stopped before the end (") + std::strerror(error) + ")";
    return std::strerror(error);
}

}  // namespace tarnscsi::imaging
