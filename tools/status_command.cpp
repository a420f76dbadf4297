#include "status_command.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "api/camera.h"
#include "camera_session.h"
#include "exit_codes.h"
#include "units.h"

namespace tarnscsi::tool {

namespace {

constexpr int kJsonIndent = 2;
constexpr double kPercentRounding = 10.0;  // one decimal

struct Status {
    bool connected = false;
    std::string error;
    int adapter = 0;
    int target = 0;
    std::optional<CoolingReading> cooling;
};

Status Query() {
    Status status;
    auto camera = Camera::Open(status.error);
    if (!camera) return status;
    status.connected = true;
    status.adapter = camera->Adapter();
    status.target = camera->Target();
    status.cooling = camera->ReadCooling();
    if (!status.cooling) status.error = "the camera did not report its temperature";
    return status;
}

void PrintJson(const Status& status) {
    nlohmann::json out;
    out["connected"] = status.connected;
    if (status.connected) {
        out["adapter"] = status.adapter;
        out["target"] = status.target;
    }
    if (status.cooling) {
        out["temperature_c"] = TenthsToCelsius(status.cooling->temperature);
        out["cooler_drive_percent"] =
            std::round(CoolerDrivePercent(status.cooling->coolerDrive) * kPercentRounding) / kPercentRounding;
        out["cooler_drive_raw"] = status.cooling->coolerDrive;
    } else if (status.connected) {
        out["temperature_c"] = nullptr;
        out["cooler_drive_percent"] = nullptr;
        out["cooler_drive_raw"] = nullptr;
    }
    if (!status.error.empty()) out["error"] = status.error;
    std::printf("%s\n", out.dump(kJsonIndent).c_str());
}

void PrintText(const Status& status) {
    if (!status.connected) {
        std::fprintf(stderr, "tarnscsi: error: %s\n", ConnectFailureText(status.error).c_str());
        return;
    }
    std::printf("Camera:             adapter %d, target %d\n", status.adapter, status.target);
    if (!status.cooling) {
        std::fprintf(stderr, "tarnscsi: error: %s\n", status.error.c_str());
        return;
    }
    std::printf("Sensor temperature: %s C\n",
                Fixed(TenthsToCelsius(status.cooling->temperature), kTemperatureDecimals).c_str());
    std::printf("Cooler drive:       %s %% (%d of %d)\n",
                Fixed(CoolerDrivePercent(status.cooling->coolerDrive), 0).c_str(), status.cooling->coolerDrive,
                static_cast<int>(kFullCoolerDrive));
}

}  // namespace

int RunStatus(bool json) {
    const Status status = Query();
    if (json) {
        PrintJson(status);
    } else {
        PrintText(status);
    }
    return status.connected && status.cooling ? kExitOk : kExitFailure;
}

}  // namespace tarnscsi::tool
