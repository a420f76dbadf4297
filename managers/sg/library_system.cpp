// The installed manager runs on the real kernel.
#include "sg/sg_system.h"

namespace tarnscsi::sg {

SgSystem& LibrarySystem() { return RealSystem(); }

}  // namespace tarnscsi::sg