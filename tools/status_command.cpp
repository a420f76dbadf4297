#include "status_command.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include <tarnscsi/camera.h>
#include <tarnscsi/units.h>

#include "camera_session.h"
#include "exit_codes.h"
#include "json_events.h"
#include "number_format.h"

namespace tarnscsi::tool {

namespace {

constexpr double kPercentRounding = 10.0;  // one decimal

struct Status {
    ConnectError connectError = ConnectError::kNone;
    std::string connectDetail;  // who holds the camera, ...
    bool connected = false;
    int adapter = 0;
    int target = 0;
    std::optional<CoolingReading> cooling;
    CommandResult coolingCommand;  // the MODE SENSE that failed
};

Status Query() {
    Status status;
    WarnAboutManagerSettings();
    auto camera = Camera::Open(status.connectError, status.connectDetail);
    if (!camera) return status;
    status.connected = true;
    status.adapter = camera->Adapter();
    status.target = camera->Target();
    const CoolingResult read = camera->ReadCooling();
    if (read) {
        status.cooling = read.reading;
    } else {
        status.coolingCommand = read.command;
    }
    return status;
}

// What went wrong, in one line; "" when nothing did.
std::string ErrorText(const Status& status) {
    if (!status.connected) {
        std::string text = ConnectErrorText(status.connectError);
        if (!status.connectDetail.empty()) text += ": " + status.connectDetail;
        return text;
    }
    if (!status.cooling) return "the camera did not report its temperature: " + status.coolingCommand.Describe();
    return {};
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
            std::round(DriveToPercent(status.cooling->coolerDrive) * kPercentRounding) / kPercentRounding;
        out["cooler_drive_raw"] = status.cooling->coolerDrive;
    } else if (status.connected) {
        out["temperature_c"] = nullptr;
        out["cooler_drive_percent"] = nullptr;
        out["cooler_drive_raw"] = nullptr;
    }
    if (const std::string error = ErrorText(status); !error.empty()) out["error"] = error;
    std::printf("%s\n", JsonText(out, kJsonIndent).c_str());
}

void PrintText(const Status& status) {
    if (!status.connected) {
        std::fprintf(stderr, "tarnscsi: error: %s\n",
                     ConnectFailureText(status.connectError, status.connectDetail).c_str());
        return;
    }
    std::printf("Camera:             adapter %d, target %d\n", status.adapter, status.target);
    if (!status.cooling) {
        std::fprintf(stderr, "tarnscsi: error: %s\n",
                     CommandFailure("the camera did not report its temperature", status.coolingCommand).c_str());
        return;
    }
    std::printf("Sensor temperature: %s C\n",
                Fixed(TenthsToCelsius(status.cooling->temperature), kTemperatureDecimals).c_str());
    std::printf("Cooler drive:       %s %% (%d of %d)\n", Fixed(DriveToPercent(status.cooling->coolerDrive), 0).c_str(),
                status.cooling->coolerDrive, kFullCoolerDrive);
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
