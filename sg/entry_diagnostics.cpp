// SgDiagnostics of the SCSI generic manager (sg_control.h).
#include <exception>

#include "sg/diagnostics.h"
#include "sg/sg_control.h"
#include "sg/sg_state.h"

uint32_t SgDiagnostics(char* text, uint32_t capacity) {
    try {
        return sg::CopyOut(sg::JoinLines(sg::TheSg().bus.Report()), text, capacity);
    } catch (const std::exception&) {
        return sg::CopyOut({}, text, capacity);  // out of memory: an empty report
    }
}
