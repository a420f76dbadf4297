// The one walk over the bus, for the connection's search for the camera and
// for the bus scan alike: adapters outside, targets 0..7 inside, both
// ascending, logical unit 0 only. Each target is asked its device type;
// a device there (aspi.h's reading of the answer) of a type the walk is
// after is claimed, where the manager offers claims, and sent an INQUIRY.
// A target another program holds is sent nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "camera_commands.h"
#include "transport/aspi_transport.h"

namespace tarnscsi {

// Which devices are asked, and how.
struct WalkPlan {
    // Only targets whose device-type byte is this, whatever the request's
    // status (the search for the camera); when empty, every device the
    // manager says is there (aspi.h's reading of status and qualifier).
    std::optional<std::uint8_t> onlyType;
    // The INQUIRY each is sent, and where its answer goes: the command's
    // data length, cleared before each, so that a short answer is never
    // read together with an earlier one.
    const camera::CommandSpec* inquiry = nullptr;
    std::uint8_t* answer = nullptr;
};

// A device the walk asked.
struct WalkedTarget {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t type = 0;      // peripheral device type
    std::uint8_t typeByte = 0;  // the device-type byte as the manager answered it
    AspiTransport::Claim claim = AspiTransport::Claim::kUnsupported;
    std::string holder;     // for kHeld: who holds it ("NAME, PID N"); no INQUIRY went to it
    bool answered = false;  // the INQUIRY completed; its answer is in the plan's buffer
};

// What the caller makes of a device: go on (its claim is given back), or
// keep it claimed and end the walk.
enum class WalkStep { kNext, kKeepAndStop };

// A device's claim, given back when this goes out of scope however that
// happens (a visitor that throws, out of memory, too), unless kept.
class HeldClaim {
public:
    HeldClaim(AspiTransport& claimedThrough, const WalkedTarget& device)
        : transport(claimedThrough),
          adapter(device.adapter),
          target(device.target),
          held(device.claim == AspiTransport::Claim::kClaimed) {}
    ~HeldClaim() {
        try {
            if (held) transport.ReleaseTarget(adapter, target);
        } catch (...) {
            // The manager's release is foreign code; nothing more can be done.
        }
    }
    HeldClaim(const HeldClaim&) = delete;
    HeldClaim& operator=(const HeldClaim&) = delete;

    void Keep() { held = false; }

private:
    AspiTransport& transport;
    const std::uint8_t adapter;
    const std::uint8_t target;
    bool held;
};

// The device type request to one target, and for a device the plan is after
// the claim and the INQUIRY; nothing when there is no such device.
std::optional<WalkedTarget> ProbeTarget(AspiTransport& transport, const WalkPlan& plan, std::uint8_t adapter,
                                        std::uint8_t target);

// Walks every adapter the manager's support word counts (none when its
// status is not SS_COMP), handing each device asked to `visit`, which
// returns a WalkStep; the transport's LastResult() is then that device's
// INQUIRY. Returns the support word.
template <typename Visit>
tarnscsi::aspi::DWORD WalkBus(AspiTransport& transport, const WalkPlan& plan, Visit&& visit) {
    const tarnscsi::aspi::DWORD support = transport.GetSupportInfo();
    if (tarnscsi::aspi::SupportStatus(support) != tarnscsi::aspi::SS_COMP) return support;
    const unsigned adapters = tarnscsi::aspi::SupportAdapterCount(support);
    for (unsigned adapter = 0; adapter < adapters; ++adapter) {
        for (int target = 0; target < tarnscsi::aspi::kTargetsPerAdapter; ++target) {
            const auto a = static_cast<std::uint8_t>(adapter);
            const auto t = static_cast<std::uint8_t>(target);
            const std::optional<WalkedTarget> device = ProbeTarget(transport, plan, a, t);
            if (!device) continue;
            HeldClaim claim(transport, *device);
            if (visit(*device) == WalkStep::kKeepAndStop) {
                claim.Keep();
                return support;
            }
        }
    }
    return support;
}

}  // namespace tarnscsi
