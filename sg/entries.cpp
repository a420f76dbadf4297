// The SCSI generic manager's exported functions: the two ASPI entry points
// and SgDiagnostics (sg_control.h).
#include <exception>

#include "manager/aspi_entry.h"
#include "sg/diagnostics.h"
#include "sg/sg_control.h"
#include "sg/sg_state.h"

// Initiators ask for the support word when they start, so this is where the
// manager looks at the bus again: devices attached or permitted since the
// last call are found.
uint32_t ASPI_CALL GetASPI32SupportInfo(void) {
    tarnscsi::sg::SgState& state = tarnscsi::sg::TheSg();
    state.bus.Rescan();
    return state.manager.SupportInfo();
}

uint32_t ASPI_CALL SendASPI32Command(void* srb) { return tarnscsi::sg::TheSg().manager.Send(srb); }

uint32_t SgDiagnostics(char* text, uint32_t capacity) {
    try {
        return tarnscsi::sg::CopyOut(tarnscsi::sg::JoinLines(tarnscsi::sg::TheSg().bus.Report()), text, capacity);
    } catch (const std::exception&) {
        return tarnscsi::sg::CopyOut({}, text, capacity);  // out of memory: an empty report
    }
}
