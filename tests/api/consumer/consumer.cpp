// A program as someone outside the project writes it: the public headers and
// the library, nothing else. It connects, takes a small binned frame and
// checks that the C and C++ faces agree on the camera's rules.
#include <tarnscsi/camera.h>
#include <tarnscsi/tarnscsi.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main() {
    if (const std::string error = tarnscsi::UseManagerFromEnvironment(); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    tarnscsi::ConnectError error = tarnscsi::ConnectError::kNone;
    auto camera = tarnscsi::Camera::Open(error);
    if (!camera) {
        std::fprintf(stderr, "%s\n", tarnscsi::ConnectErrorText(error));
        return 1;
    }
    const tarnscsi::Frame frame{0, 0, 64, 64, tarnscsi::kBinned};
    if (!tarnscsi::FrameProblem(frame).empty() || !camera->Expose(tarnscsi::WindowFor(frame, 0))) return 1;
    for (int poll = 0; poll < 1000 && !camera->Ready(); ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::uint8_t> image(tarnscsi::ImageBytes(tarnscsi::WindowFor(frame, 0)));
    const auto result = camera->Download(image);
    if (!result) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    std::printf("%s\n", tarnscsi::DescribeWindow(result.window).c_str());
    return TARNSCSI_NO_READING < 0 ? 0 : 1;
}
