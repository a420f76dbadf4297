// SendASPI32Command of the SCSI generic manager.
#include "manager/aspi_entry.h"
#include "sg/sg_state.h"

uint32_t ASPI_CALL SendASPI32Command(void* srb) { return sg::TheSg().manager.Send(srb); }
