// How the imaging library reports a failure: an exception whose text says
// what failed and why (cfitsio's or libpng's words, and the system's reason).
#pragma once

#include <stdexcept>
#include <string>

namespace tarnscsi::imaging {

// A FITS file or PNG preview could not be made or written.
class ImagingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "strerror(errno)" for messages; a closed pipe explained.
std::string ErrnoText(int error);

}  // namespace tarnscsi::imaging
