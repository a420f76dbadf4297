// The test build of the SCSI generic manager runs on the fake bench.
#include "fake_manager/fake_bench.h"
#include "sg/sg_system.h"

namespace tarnscsi::sg {

SgSystem& LibrarySystem() { return tarnscsi::sg_fake::TheBench().system; }

}  // namespace tarnscsi::sg