// Connects to the camera and says where it was found, or why not.
#include <cstdio>
#include <string>

#include "api/camera.h"

int main() {
    std::string error;
    auto camera = tarnscsi::Camera::Open(error);
    if (!camera) {
        std::fprintf(stderr, "Connect failed: %s\n", error.c_str());
        return 1;
    }
    std::printf("Camera found on adapter %d, target %d.\n", camera->Adapter(), camera->Target());
    if (auto cooling = camera->ReadCooling()) {
        std::printf("Sensor temperature %.1f C, cooler drive %d of 255.\n", cooling->temperature / 10.0,
                    cooling->coolerDrive);
    }
    return 0;
}
