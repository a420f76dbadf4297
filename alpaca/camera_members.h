// The members of the Alpaca camera device, by the lower-case names of their
// URLs: what a GET answers and what a PUT does, over one CameraDevice.
// ImageArray and ImageArrayVariant are served apart (image_encoding.h).
#pragma once

#include <functional>
#include <string>

#include "camera_device.h"
#include "reply.h"
#include "request_parameters.h"

namespace tarnscsi::alpaca {

// What the common members say about this server.
struct DriverText {
    std::string version;
};

enum class Verb { kGet, kPut };

using MemberHandler = std::function<Reply(CameraDevice&, const RequestParameters&)>;

// The handler for `member` and `verb`; null when there is none. `known` says
// whether the member exists for either verb (else the answer is 404).
MemberHandler FindMember(const std::string& member, Verb verb, const DriverText& driver, bool& known);

// The interface version this server implements.
inline constexpr int kInterfaceVersion = 4;

}  // namespace tarnscsi::alpaca
