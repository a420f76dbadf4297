// tarnscsi-kernel-probe: what the guest checks ask of the C++ camera API and
// of the module's transport, one command line each, with every failure
// printed the way the API describes it.
//
//   frames DIR       a full frame, a 2 x 2 binned frame and a subframe, their
//                    bytes as the camera sent them in DIR/{full,binned,sub}.raw
//   status           connects and reads the cooling
//   hold SECONDS     connects, says so, and keeps the camera that long
//   read A T         one READ(10) of 2048 bytes sent by the module's
//                    transport to adapter A, target T, as Download sends it
//
// The manager is the one the module finds (LD_LIBRARY_PATH), or the
// simulator named by TARNSCSI_SIMULATOR. Exit status 0 when everything
// asked for went well, 1 otherwise, 2 for a wrong command line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <tarnscsi/camera.h>

#include "camera/request_block.h"
#include "big_endian.h"
#include "transport/aspi_transport.h"

namespace {

// Ready is asked this often, for at most this long: the camera model
// answers at once here, and a real one within the exposure plus readout.
constexpr auto kReadyPoll = std::chrono::milliseconds(20);
constexpr auto kReadyLimit = std::chrono::seconds(30);

struct NamedFrame {
    const char* name;
    tarnscsi::ExposureSettings settings;
};

// Exposure time 0 ms: the image is the camera's test pattern or sky as it
// stands; what matters is that both roads give the same bytes.
const NamedFrame kFrames[] = {
    {"full", {0, 0, 0, tarnscsi::kSensorWidth, tarnscsi::kSensorHeight, 0, 0}},
    {"binned", {0, 0, 0, tarnscsi::kSensorWidth, tarnscsi::kSensorHeight, 1, 0}},
    {"sub", {0, 130, 70, 200, 120, 0, 0}},
};

std::unique_ptr<tarnscsi::Camera> Connect() {
    if (const std::string problem = tarnscsi::UseManagerFromEnvironment(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return nullptr;
    }
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    std::string detail;
    auto camera = tarnscsi::Camera::Open(error, detail);
    if (!camera) {
        std::printf("connect failed: %s%s%s (%s)\n", tarnscsi::ConnectErrorText(error), detail.empty() ? "" : ": ",
                    detail.c_str(), tarnscsi::ConnectAdvice(error));
    }
    return camera;
}

bool Failed(const char* what, const tarnscsi::CommandResult& result) {
    std::printf("%s failed: %s; %s\n", what, result.Describe().c_str(), result.Advice().c_str());
    return false;
}

bool TakeFrame(tarnscsi::Camera& camera, const NamedFrame& frame, const std::string& folder) {
    if (const tarnscsi::ExposeResult exposed = camera.Expose(frame.settings); !exposed) {
        return Failed(frame.name, exposed.command);
    }
    const auto until = std::chrono::steady_clock::now() + kReadyLimit;
    for (tarnscsi::ReadyResult ready = camera.Ready(); !ready; ready = camera.Ready()) {
        if (std::chrono::steady_clock::now() > until) return Failed(frame.name, ready.command);
        std::this_thread::sleep_for(kReadyPoll);
    }
    std::vector<std::uint8_t> image(tarnscsi::ImageBytes(frame.settings));
    const tarnscsi::DownloadResult result = camera.Download(image);
    if (!result) {
        std::printf("%s failed: %s\n", frame.name, result.message.c_str());
        return false;
    }
    image.resize(result.received);
    std::ofstream(folder + "/" + frame.name + ".raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    std::printf("%s: %d x %d, bin %d, %llu bytes\n", frame.name, result.window.width, result.window.height,
                result.window.binned != 0 ? 2 : 1, static_cast<unsigned long long>(image.size()));
    return true;
}

int Frames(const std::string& folder) {
    auto camera = Connect();
    if (!camera) return 1;
    bool good = true;
    for (const NamedFrame& frame : kFrames) good = TakeFrame(*camera, frame, folder) && good;
    return good ? 0 : 1;
}

int Status() {
    auto camera = Connect();
    if (!camera) return 1;
    std::printf("camera at adapter %d, target %d\n", camera->Adapter(), camera->Target());
    const tarnscsi::CoolingResult cooling = camera->ReadCooling();
    if (!cooling) return Failed("cooling", cooling.command) ? 0 : 1;
    std::printf("temperature %d, cooler drive %d\n", cooling.reading.temperature, cooling.reading.coolerDrive);
    return 0;
}

int Hold(int seconds) {
    auto camera = Connect();
    if (!camera) return 1;
    std::printf("holding the camera at adapter %d, target %d\n", camera->Adapter(), camera->Target());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}

int Read(int adapter, int target) {
    tarnscsi::AspiTransport transport;
    if (!transport.IsValid()) {
        std::printf("no manager: %s\n", tarnscsi::ConnectErrorText(transport.Error()));
        return 1;
    }
    (void)transport.GetSupportInfo();  // the manager looks at the bus here
    std::vector<std::uint8_t> data(tarnscsi::camera::kMaxReadLength);
    auto block = tarnscsi::camera::BuildRequest(tarnscsi::camera::kReadImage, data.data(),
                                                static_cast<std::uint32_t>(data.size()),
                                                static_cast<std::uint8_t>(adapter), static_cast<std::uint8_t>(target));
    tarnscsi::PutBE16(block.CDBByte + tarnscsi::camera::kReadLengthOffset, static_cast<std::uint32_t>(data.size()));
    const bool completed = transport.Execute(block);
    const tarnscsi::CommandResult& result = transport.LastResult();
    std::printf("%s%s%s\n", result.Describe().c_str(), completed ? "" : "; ", result.Advice().c_str());
    return completed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "frames") return Frames(args[1]);
    if (args.size() == 1 && args[0] == "status") return Status();
    if (args.size() == 2 && args[0] == "hold") return Hold(std::atoi(args[1].c_str()));
    if (args.size() == 3 && args[0] == "read") return Read(std::atoi(args[1].c_str()), std::atoi(args[2].c_str()));
    std::fprintf(stderr, "usage: tarnscsi-kernel-probe frames DIR | status | hold SECONDS | read ADAPTER TARGET\n");
    return 2;
}
