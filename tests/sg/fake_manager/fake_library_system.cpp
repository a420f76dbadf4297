// The test build of the SCSI generic manager runs on the fake bench.
#include "fake_manager/fake_bench.h"
#include "sg/sg_system.h"

namespace sg {

SgSystem& LibrarySystem() { return sg_fake::TheBench().system; }

}  // namespace sg
