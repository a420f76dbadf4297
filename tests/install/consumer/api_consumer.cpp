// Loads the manager named on the command line through the C++ API, finds
// the camera and reads the cooling.
#include <cstdio>

#include <tarnscsi/camera.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (const std::string error = tarnscsi::UseManager({tarnscsi::ManagerKind::kPath, argv[1]}); !error.empty()) {
        std::printf("UseManager failed: %s\n", error.c_str());
        return 1;
    }
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    if (!camera) {
        std::printf("Open failed: %s\n", tarnscsi::ConnectErrorText(error));
        return 1;
    }
    const tarnscsi::CoolingResult cooling = camera->ReadCooling();
    if (!cooling) {
        std::printf("No cooling reading: %s\n", cooling.command.Describe().c_str());
        return 1;
    }
    std::printf("Connected on adapter %d, target %d: %.1f C\n", camera->Adapter(), camera->Target(),
                tarnscsi::TenthsToCelsius(cooling.reading.temperature));
    return 0;
}
