// The SCSI generic manager's exported functions: the two ASPI entry points,
// the claim entry points (aspi/aspi_claim.h), SgDiagnostics,
// SgDeviceRecords and SgSettingsProblem (sg/sg_exports.h).
#include <cstdlib>
#include <exception>
#include <string>

#include "core/aspi_entry.h"
#include "core/holder_text.h"
#include "sg/diagnostics.h"
#include "sg/sg_exports.h"
#include "sg/sg_state.h"
#include "sg/time_limit.h"

// Initiators ask for the support word when they start, so this is where the
// manager looks at the bus again: devices attached or permitted since the
// last call are found.
uint32_t ASPI_CALL GetASPI32SupportInfo(void) {
    tarnscsi::sg::SgState& state = tarnscsi::sg::TheSg();
    state.bus.Rescan();
    return state.manager.SupportInfo();
}

uint32_t ASPI_CALL SendASPI32Command(void* srb) { return tarnscsi::sg::TheSg().manager.Send(srb); }

uint32_t ASPI_CALL AspiClaimTarget(uint8_t adapter, uint8_t target, char* holder, uint32_t capacity) {
    try {
        std::string who;
        if (tarnscsi::sg::TheSg().bus.Claim(adapter, target, who)) return tarnscsi::aspi::kAspiClaimed;
        tarnscsi::manager::CopyHolder(who, holder, capacity);
        return tarnscsi::aspi::kAspiClaimHeld;
    } catch (const std::exception&) {
        // Out of memory: the target is not taken from anyone, so nothing is
        // gained by refusing it.
        return tarnscsi::aspi::kAspiClaimed;
    }
}

void ASPI_CALL AspiReleaseTarget(uint8_t adapter, uint8_t target) {
    tarnscsi::sg::TheSg().bus.Release(adapter, target);
}

uint32_t SgDiagnostics(char* text, uint32_t capacity) {
    try {
        return tarnscsi::sg::CopyOut(tarnscsi::sg::JoinLines(tarnscsi::sg::TheSg().bus.Report()), text, capacity);
    } catch (const std::exception&) {
        return tarnscsi::sg::CopyOut({}, text, capacity);  // out of memory: an empty report
    }
}

uint32_t SgDeviceRecords(SgDeviceRecord* records, uint32_t capacity) {
    try {
        return tarnscsi::sg::CopyRecords(tarnscsi::sg::TheSg().bus.Devices(), records, capacity);
    } catch (const std::exception&) {
        return 0;  // out of memory: no records
    }
}

uint32_t SgSettingsProblem(char* text, uint32_t capacity) {
    // Read afresh, as the manager's state reads it when it is made: a
    // program may ask before it connects.
    try {
        const tarnscsi::sg::TimeLimit limit =
            tarnscsi::sg::CommandTimeLimit(std::getenv(tarnscsi::sg::kTimeLimitVariable));
        return tarnscsi::sg::CopyOut(limit.ignored ? limit.note : std::string(), text, capacity);
    } catch (const std::exception&) {
        return tarnscsi::sg::CopyOut({}, text, capacity);
    }
}
