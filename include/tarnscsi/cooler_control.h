// The cooler as every program runs it, on the cooling rules
// (<tarnscsi/cooling.h>): the setpoints the camera is useful at, the cooler
// switch, a warm-up when it is turned off (the setpoint rises gently until
// the sensor sits at ambient, then the cooler idles), the last setpoint to
// return to when it is turned on again, a setpoint the cooler cannot reach
// (told as soon as its limit is foretold), and the warm-up a program owes
// the sensor before it lets the camera go. Pure logic over readings and
// times in seconds: the program reads the camera, polls this, and writes
// the setpoint it is told.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <tarnscsi/cooling.h>

namespace tarnscsi {

// The setpoints the camera is useful at (tenths of a degree): no cooler of
// its kind holds a sensor colder than -100 C, and kIdleSetpoint (+50 C)
// already idles it.
inline constexpr std::int32_t kLowestSetpoint = -1000;
inline constexpr std::int32_t kHighestSetpoint = kIdleSetpoint;

// "" when `celsius` lies in that range, else why not (NaN fails too).
std::string SetpointProblem(double celsius);

enum class CoolerEvent {
    kNone,
    kReached,     // the setpoint is reached (told once per setpoint)
    kOutOfReach,  // the setpoint cannot be reached (told once per setpoint)
    kWarmedUp,    // the warm-up is done: the cooler idles
    kWasIdle,     // the warm-up found the cooler idle at ambient already: nothing to warm
};

struct CoolerStep {
    std::optional<std::int32_t> write;  // a setpoint to send now (tenths of a degree)
    CoolerEvent event = CoolerEvent::kNone;
};

// One camera's cooler: a program keeps one per camera (a fresh one for
// another camera) for as long as it may connect to it again.
class CoolerControl {
public:
    // After connecting: the camera cannot tell its setpoint, only whether
    // its cooler works. The setpoint asked for before is kept.
    void Connected(const CoolingReading& reading);

    // A client asked for this setpoint: the one to return to when the
    // cooler is turned on, whether it is written now, in a program's own
    // ramp, or only once the cooler is on. Kept across warm-ups and
    // connections.
    void SetpointAsked(std::int32_t setpoint) { asked = setpoint; }
    // The setpoint last asked for; nothing until one was.
    std::optional<std::int32_t> AskedSetpoint() const { return asked; }

    // A setpoint was written (a client's, or a step of a program's own
    // ramp): the cooler is on and this is watched from `now`.
    void SetpointWritten(std::int32_t setpoint, std::int32_t tolerance = SetpointWatch::kDefaultTolerance);

    // Cooler off: the warm-up starts from `reading` at `degreesPerMinute`;
    // the setpoint asked for stays to return to.
    void StartWarmUp(const CoolingReading& reading, double degreesPerMinute, double now);

    // Called with each reading.
    CoolerStep Poll(const CoolingReading& reading, double now);

    bool On() const { return on; }
    bool WarmingUp() const { return warmUp.has_value(); }
    // The setpoint the cooler holds when on, if one was written.
    std::optional<std::int32_t> ActiveSetpoint() const;
    // The setpoint cannot be reached: why, in the words every program uses;
    // "" while it can (or no setpoint is watched).
    const std::string& OutOfReach() const { return outOfReach; }
    // Where the sensor levels off when the setpoint is out of reach (tenths
    // of a degree); nothing while it can be reached.
    std::optional<std::int32_t> OutOfReachLimit() const;

    // Whether a program must warm the sensor up before it lets the camera
    // go: the cooler is on, or working, or a warm-up is under way.
    bool WarmUpBeforeDisconnect(const CoolingReading& reading) const;

private:
    bool on = false;
    std::optional<std::int32_t> asked;
    std::optional<SetpointWatch> watch;
    bool toldReached = false;
    std::string outOfReach;
    std::optional<WarmUp> warmUp;
    double warmUpStart = 0.0;
};

}  // namespace tarnscsi
