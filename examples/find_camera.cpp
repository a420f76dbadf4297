// Connects to the camera and says where it was found, or why not and what to
// try. Built against the public headers alone, as any program would be.
#include <cstdio>

#include <tarnscsi/camera.h>

int main() {
    if (const std::string error = tarnscsi::UseManagerFromEnvironment(); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    if (!camera) {
        std::fprintf(stderr, "Connect failed: %s (%s)\n", tarnscsi::ConnectErrorText(error),
                     tarnscsi::ConnectAdvice(error));
        return 1;
    }
    std::printf("Camera found on adapter %d, target %d.\n", camera->Adapter(), camera->Target());
    if (const tarnscsi::CoolingResult cooling = camera->ReadCooling()) {
        std::printf("Sensor temperature %.1f C, cooler drive %.0f %%.\n",
                    tarnscsi::TenthsToCelsius(cooling.reading.temperature),
                    tarnscsi::DriveToPercent(cooling.reading.coolerDrive));
    } else {
        std::printf("No cooling reading: %s\n", cooling.command.Describe().c_str());
    }
    return 0;
}
