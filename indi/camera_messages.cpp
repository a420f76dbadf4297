#include "camera_messages.h"

namespace tarnscsi::indi {
namespace {

std::string WithAdvice(std::string text, const std::string& advice) {
    if (!advice.empty()) text += "; " + advice;
    return text;
}

}  // namespace

std::string Explained(const CommandResult& result) { return WithAdvice(result.Describe(), result.Advice()); }

std::string ConnectFailure(ConnectError error, const std::string& detail) {
    std::string text = ConnectErrorText(error);
    if (!detail.empty()) text += " (" + detail + ")";
    return WithAdvice(text, ConnectAdvice(error));
}

std::string ImageFailure(const std::string& what, const CommandResult& scan) {
    if (scan.Ok()) return what;
    return what + " (the exposure did not start: " + scan.Describe() + ")";
}

std::string DownloadFailure(const DownloadResult& download, const CommandResult& scan) {
    // A window too large for the buffer is no command's failure: no advice.
    const bool commandFailed =
        download.status != DownloadStatus::kOk && download.status != DownloadStatus::kBufferTooSmall;
    return WithAdvice(ImageFailure("download failed: " + download.message, scan),
                      commandFailed ? download.command.Advice() : std::string());
}

}  // namespace tarnscsi::indi
