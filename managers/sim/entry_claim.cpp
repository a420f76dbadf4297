// The simulator's claim exports (aspi/aspi_claim.h).
#include <string>

#include "core/aspi_entry.h"
#include "core/holder_text.h"
#include "sim/sim_state.h"

uint32_t ASPI_CALL AspiClaimTarget(uint8_t adapter, uint8_t target, char* holder, uint32_t capacity) {
    tarnscsi::sim::SimState& sim = tarnscsi::sim::TheSim();
    std::string who;
    if (!sim.claims.Claim(adapter, target, who)) {
        tarnscsi::manager::CopyHolder(who, holder, capacity);
        return tarnscsi::aspi::kAspiClaimHeld;
    }
    try {
        sim.bus.CameraClaimed(adapter, target);
    } catch (...) {
        // Out of memory: no claim is kept that nothing would give back.
        sim.claims.Release(adapter, target);
        throw;
    }
    return tarnscsi::aspi::kAspiClaimed;
}

void ASPI_CALL AspiReleaseTarget(uint8_t adapter, uint8_t target) {
    tarnscsi::sim::SimState& sim = tarnscsi::sim::TheSim();
    try {
        sim.bus.CameraReleased(adapter, target);
    } catch (...) {
        // Out of memory: the cooler's state is not kept for the next
        // program, but the claim is given back all the same.
    }
    sim.claims.Release(adapter, target);
}
