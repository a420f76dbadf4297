// tarnscsi-tcmu-camera: the simulated camera behind the kernel's SCSI target
// stack. It serves the command ring of a target_core_user backstore with the
// simulator's own camera model (the bus the simulated ASPI manager drives,
// linked in, configured by TARNSCSI_SIM as there), so that a loopback target
// (tcm_loop) shows the camera as a real SCSI device with its /dev/sgN node.
//
//   tarnscsi-tcmu-camera DEVICE [READY_FILE]
//
// DEVICE is the backstore's configfs name (core/user_0/DEVICE). READY_FILE,
// when given, is created once the ring is mapped: the LUN may be linked then.
// Runs until SIGTERM or SIGINT.
//
// A faulty data phase on demand: TARNSCSI_SIM's short faults
// (fault=read:SKIP:COUNT:short) apply here as in the simulated manager, and
// SIGUSR1 makes the next READ(10) end so: half its data reach the initiator,
// with good status, and the kernel reports the residual. The other fault
// kinds belong to the manager and are not applied here.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include "camera_commands.h"
#include "core/backend.h"
#include "core/scsi_outcome.h"
#include "sim/sim_state.h"
#include "tcmu_ring.h"

namespace {

// Where the camera sits on the simulator's bus unless TARNSCSI_SIM moves it.
constexpr std::uint8_t kCameraAdapter = 0;
constexpr std::uint8_t kCameraTarget = 2;
constexpr int kPollMs = 200;

volatile std::sig_atomic_t stopping = 0;
volatile std::sig_atomic_t shortenRead = 0;

void Stop(int) { stopping = 1; }
void ShortenNextRead(int) { shortenRead = 1; }

// The ring does not say which way data move; the camera's command table
// does, for every command the camera knows. The kernel's own probes that
// carry data (INQUIRY of other pages, MODE SENSE, ...) all read.
std::uint8_t DirectionOf(std::uint8_t opcode, std::size_t length) {
    namespace camera = tarnscsi::camera;
    for (const camera::CommandSpec* command :
         {&camera::kIdentify, &camera::kWriteCoolingPage, &camera::kReadCoolingPage, &camera::kSetWindow,
          &camera::kStartScan, &camera::kGetWindow, &camera::kReadImage, &camera::kTestUnitReady}) {
        if (command->cdb[0] == opcode) return command->direction;
    }
    return length > 0 ? tarnscsi::aspi::SRB_DIR_IN : 0;
}

void Serve(RingCommand* ring, void*) {
    tarnscsi::manager::ScsiCommand command;
    command.adapter = kCameraAdapter;
    command.target = kCameraTarget;
    command.cdb = ring->cdb;
    command.cdbLength = static_cast<std::uint8_t>(ring->cdbLength);
    command.direction = DirectionOf(ring->cdb[0], ring->dataLength);
    command.buffer = ring->dataLength > 0 ? ring->data : nullptr;
    command.bufferLength = static_cast<std::uint32_t>(ring->dataLength);
    tarnscsi::sim::SimState& sim = tarnscsi::sim::TheSim();
    const bool cutShort = sim.hooks.faults.Next(ring->cdb[0]) == tarnscsi::manager::FaultKind::kShortTransfer;
    const tarnscsi::manager::ScsiOutcome outcome =
        cutShort ? tarnscsi::manager::ExecutedShort(sim.bus, command) : sim.bus.Execute(command);

    ring->status = outcome.targetStatus;
    ring->senseLength = std::min<std::size_t>(outcome.senseLength, sizeof ring->sense);
    std::copy_n(outcome.sense.begin(), ring->senseLength, ring->sense);
    ring->dataIn = command.direction == tarnscsi::aspi::SRB_DIR_IN ? outcome.transferred : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tarnscsi-tcmu-camera DEVICE [READY_FILE]\n");
        return 2;
    }
    TcmuRing ring{};
    char error[256];
    if (RingOpen(&ring, argv[1], error, sizeof error) != 0) {
        std::fprintf(stderr, "tarnscsi-tcmu-camera: %s\n", error);
        return 1;
    }
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);
    tarnscsi::sim::TheSim();  // the camera exists before the first command
    std::fprintf(stderr, "tarnscsi-tcmu-camera: serving %s on %s\n", argv[1], ring.node);
    if (argc == 3) std::ofstream(argv[2]) << ring.node << '\n';
    int status = 0;
    std::signal(SIGUSR1, ShortenNextRead);
    while (stopping == 0) {
        if (shortenRead != 0) {
            shortenRead = 0;
            tarnscsi::sim::TheSim().hooks.faults.Add(tarnscsi::camera::opcode::kRead10, 0, 1,
                                                     tarnscsi::manager::FaultKind::kShortTransfer);
            std::fprintf(stderr, "tarnscsi-tcmu-camera: the next READ(10) ends short\n");
        }
        if (RingServe(&ring, kPollMs, Serve, nullptr) < 0) {
            std::fprintf(stderr, "tarnscsi-tcmu-camera: %s went away\n", ring.node);
            status = 1;
            break;
        }
    }
    RingClose(&ring);
    return status;
}
