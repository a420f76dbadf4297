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

}  // namespace tarnscsi::indi
