// SendASPI32Command of a test manager: the simulator's, except that for an
// execute request it finishes before returning it returns the opposite of
// what it leaves in SRB_Status: SS_ERR for a command that completed, SS_COMP
// for one that failed. A module that believes the return value instead of
// SRB_Status gets every command wrong. Pending requests return SS_PENDING
// as always.
#include "core/aspi_entry.h"
#include "sim/sim_state.h"

uint32_t ASPI_CALL SendASPI32Command(void* srb) {
    const bool execute = srb != nullptr && static_cast<const tarnscsi::aspi::SRB_ExecSCSICmd*>(srb)->SRB_Cmd ==
                                               tarnscsi::aspi::SC_EXEC_SCSI_CMD;
    const uint32_t returned = tarnscsi::sim::TheSim().manager.Send(srb);
    if (!execute || returned == tarnscsi::aspi::SS_PENDING) return returned;
    return returned == tarnscsi::aspi::SS_COMP ? tarnscsi::aspi::SS_ERR : tarnscsi::aspi::SS_COMP;
}
