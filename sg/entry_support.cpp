// GetASPI32SupportInfo of the SCSI generic manager. Initiators ask for it
// when they start, so this is where the manager looks at the bus again:
// devices attached or permitted since the last call are found.
#include "manager/aspi_entry.h"
#include "sg/sg_state.h"

uint32_t ASPI_CALL GetASPI32SupportInfo(void) {
    sg::SgState& state = sg::TheSg();
    state.bus.Rescan();
    return state.manager.SupportInfo();
}
