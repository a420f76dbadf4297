// The driver's one device. libindidriver provides the INDI main loop and
// hands every client request to the devices that registered themselves on
// construction. Whatever ends the process (the end of its input, SIGTERM,
// SIGINT), the camera is released on the way out.
//
// indiserver starts the driver with no arguments; a person who runs it by
// hand with --help or --version gets an answer here (and the man page is
// made from it) instead of libindi's bare usage line. Everything else goes
// to libindi's own main, which this one stands in front of.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include <tarnscsi/standard_descriptors.h>

#include "signal_exit.h"
#include "tarnscsi_ccd.h"

namespace {

const std::unique_ptr<tarnscsi::indi::TarnscsiCcd> kDevice = std::make_unique<tarnscsi::indi::TarnscsiCcd>();

void StopDevice() { kDevice->StopForExit(); }

[[maybe_unused]] const bool kStopsInOrder = (tarnscsi::indi::StopInOrderOnSignals(StopDevice), true);

constexpr char kHelp[] =
    "Usage: indi_tarnscsi_ccd [-v]\n"
    "The INDI driver of the cooled SCSI camera (device \"" TARNSCSI_INDI_DEVICE_NAME
    "\").\n"
    "An INDI server starts it: indiserver indi_tarnscsi_ccd; KStars/Ekos does so\n"
    "itself for a local profile that names the camera. It speaks INDI on its\n"
    "standard input and output. For the simulated camera, switch Options >\n"
    "Simulation on before connecting.\n"
    "\n"
    "Options:\n"
    "  -v         more messages on standard error (repeat for more)\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

using MainFunction = int (*)(int, char**);

}  // namespace

int main(int argc, char** argv) {
    tarnscsi::OpenClosedStandardDescriptors();  // before anything is opened
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("indi_tarnscsi_ccd " TARNSCSI_VERSION);
        return 0;
    }
    // libindidriver's main, the next definition after this program's.
    auto* indiMain = reinterpret_cast<MainFunction>(dlsym(RTLD_NEXT, "main"));
    if (indiMain == nullptr) {
        std::fprintf(stderr, "indi_tarnscsi_ccd: libindidriver's main loop is missing: %s\n", dlerror());
        return 1;
    }
    return indiMain(argc, argv);
}
