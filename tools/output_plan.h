// Every file an expose run will write, checked before the first exposure:
// no two outputs (FITS or preview, of any frame) are the same file, however
// the names are spelt, and each can be written.
#pragma once

#include "options.h"

namespace tarnscsi::tool {

// Throws UsageError naming the clash or the path that cannot be written,
// Interrupted on Ctrl-C. Removes the stale temporary files of dead runs in
// each output folder on the way.
void CheckOutputs(const ExposeRequest& request);

}  // namespace tarnscsi::tool
