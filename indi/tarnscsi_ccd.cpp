// The device itself: its properties and options, the timer, the debug
// trace, and which frames and binnings the camera takes.
#include "tarnscsi_ccd.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <tarnscsi/bus.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/manager.h>
#include <tarnscsi/trace.h>
#include <tarnscsi/units.h>

#include "exposure_window.h"
#include "log_lines.h"
#include "number_message.h"
#include "switch_message.h"
#include "text_message.h"

namespace tarnscsi::indi {
namespace {

constexpr char kDeviceName[] = TARNSCSI_INDI_DEVICE_NAME;
constexpr int kBitsPerPixel = 16;
// The exposure time shown to the camera's millisecond.
constexpr char kExposureFormat[] = "%.3f";

}  // namespace

const char* SwitchedOn(ISState* states, char* names[], int n) {
    for (int i = 0; i < n; ++i) {
        if (states[i] == ISS_ON) return names[i];
    }
    return nullptr;
}

TarnscsiCcd::TarnscsiCcd() { setVersion(TARNSCSI_VERSION_MAJOR, TARNSCSI_VERSION_MINOR); }

TarnscsiCcd::~TarnscsiCcd() {
    // The trace sink refers to this device: it must not outlive it.
    if (isDebug()) SetTraceSink({});
}

const char* TarnscsiCcd::getDefaultName() { return kDeviceName; }

bool TarnscsiCcd::initProperties() {
    INDI::CCD::initProperties();

    // No shutter, no guide head: the camera exposes, and the exposure can be
    // abandoned (it has no abort command of its own).
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_BIN | CCD_CAN_SUBFRAME | CCD_HAS_COOLER);
    addCaptureFormat({"INDI_MONO", "Mono", kBitsPerPixel, true});
    // Off whatever a saved configuration says (FastExposureRefused).
    FastExposureToggleS[INDI_ENABLED].s = ISS_OFF;
    FastExposureToggleS[INDI_DISABLED].s = ISS_ON;

    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", kUnbinned, kBinned, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", kUnbinned, kBinned, 1, false);

    // The camera's own exposure limits: to the millisecond, up to what its
    // time field carries.
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", kMinExposureSeconds, kMaxExposureSeconds,
                             kExposureResolutionSeconds, false);
    if (INDI::PropertyNumber exposure = getNumber("CCD_EXPOSURE"); exposure.isValid() && exposure.size() > 0) {
        exposure[0].setFormat(kExposureFormat);
    }

    // The setpoints the camera is useful at.
    TemperatureN[0].min = TenthsToCelsius(kLowestSetpoint);
    TemperatureN[0].max = TenthsToCelsius(kHighestSetpoint);

    coolerPowerNp[0].fill("CCD_COOLER_VALUE", "Cooling Power (%)", "%.1f", 0, 100, 0, 0);
    coolerPowerNp.fill(getDeviceName(), "CCD_COOLER_POWER", "Cooling Power", MAIN_CONTROL_TAB, IP_RO, 60, IPS_IDLE);
    coolerSp[0].fill("COOLER_ON", "ON", ISS_OFF);
    coolerSp[1].fill("COOLER_OFF", "OFF", ISS_ON);
    coolerSp.fill(getDeviceName(), "CCD_COOLER", "Cooler", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    warmUpOnDisconnectSp[0].fill(kOn, "Enable", ISS_OFF);
    warmUpOnDisconnectSp[1].fill(kOff, "Disable", ISS_ON);
    warmUpOnDisconnectSp.fill(getDeviceName(), "WARM_UP_ON_DISCONNECT", "Warm up on disconnect", OPTIONS_TAB, IP_RW,
                              ISR_1OFMANY, 0, IPS_IDLE);
    readoutAllowanceNp[0].fill("SECONDS", "Seconds", "%.0f", kMinReadoutAllowanceSeconds, kMaxReadoutAllowanceSeconds,
                               1, kDefaultReadoutAllowanceSeconds);
    readoutAllowanceNp.fill(getDeviceName(), "READOUT_ALLOWANCE", "Readout allowance", OPTIONS_TAB, IP_RW, 0, IPS_IDLE);
    cameraInfoTp[kVendor].fill("VENDOR", "Vendor", "");
    cameraInfoTp[kProduct].fill("PRODUCT", "Product", "");
    cameraInfoTp[kRevision].fill("REVISION", "Revision", "");
    cameraInfoTp[kAdapter].fill("ADAPTER", "Host adapter", "");
    cameraInfoTp[kTarget].fill("TARGET", "SCSI target", "");
    cameraInfoTp[kManager].fill("MANAGER", "ASPI manager", "");
    cameraInfoTp.fill(getDeviceName(), "CAMERA_INFO", "Camera", INFO_TAB, IP_RO, 60, IPS_IDLE);

    addDebugControl();
    addSimulationControl();
    addConfigurationControl();
    // The options are there before connecting; their saved values with them.
    defineProperty(warmUpOnDisconnectSp);
    defineProperty(readoutAllowanceNp);
    loadConfig(true, warmUpOnDisconnectSp.getName());
    loadConfig(true, readoutAllowanceNp.getName());

    if (const char* step = std::getenv(kSecondsPerPollVariable); step != nullptr) {
        const double seconds = std::atof(step);
        if (std::isfinite(seconds) && seconds > 0) secondsPerPoll = seconds;
    }
    return true;
}

bool TarnscsiCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        // As INDI's own drivers do: the geometry goes to the properties the
        // base class has just defined.
        SetCCDParams(kSensorWidth, kSensorHeight, kBitsPerPixel, static_cast<float>(kPixelSizeMicrons),
                     static_cast<float>(kPixelSizeMicrons));
        // The chip and its properties start from the whole sensor again.
        nextFrame.reset();
        refusedFrame.reset();
        refusedBinning.reset();
        defineProperty(coolerPowerNp);
        defineProperty(coolerSp);
        defineProperty(cameraInfoTp);
    } else {
        deleteProperty(coolerPowerNp.getName());
        deleteProperty(coolerSp.getName());
        deleteProperty(cameraInfoTp.getName());
    }
    return true;
}

INDI::PropertySwitch TarnscsiCcd::SwitchNamed(const char* name) {
    // Ours even while not defined (the cooler's, before connecting).
    if (coolerSp.isNameMatch(name)) return coolerSp;
    if (warmUpOnDisconnectSp.isNameMatch(name)) return warmUpOnDisconnectSp;
    return getSwitch(name);
}

bool TarnscsiCcd::SwitchMessageAccepted(const char* name, ISState* states, char* names[], int n) {
    INDI::PropertySwitch property = SwitchNamed(name);
    if (!property.isValid()) return true;  // not this device's: INDI says so
    std::vector<SwitchElement> elements;
    for (const auto& element : property) elements.push_back({element.getName(), element.getState() == ISS_ON});
    const std::string problem = SwitchMessageProblem(elements, property.getRule(), states, names, n);
    if (problem.empty()) return true;
    Report(INDI::Logger::DBG_ERROR, std::string(property.getLabel()) + " (" + name + ") unchanged: " + problem + ".");
    property.setState(IPS_ALERT);
    property.apply();
    return false;
}

bool TarnscsiCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        if (!SwitchMessageAccepted(name, states, names, n)) return true;
        if (coolerSp.isNameMatch(name)) return CoolerSwitch(states, names, n);
        if (std::strcmp(name, "SIMULATION") == 0) return SimulationSwitch(states, names, n);
        if (std::strcmp(name, FastExposureToggleSP.name) == 0 && FastExposureRefused(states, names, n)) return true;
        if (std::strcmp(name, "CONNECTION") == 0 && DisconnectRequested(states, names, n)) return true;
        if (warmUpOnDisconnectSp.isNameMatch(name)) {
            warmUpOnDisconnectSp.update(states, names, n);
            warmUpOnDisconnectSp.setState(IPS_OK);
            warmUpOnDisconnectSp.apply();
            saveConfig(true, warmUpOnDisconnectSp.getName());
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

// INDI's fast exposure starts the next exposure from the thread that is
// still writing the image before it, before that image's frame is read: the
// two would share the camera and the chip's frame. Each exposure starts when
// a client asks for it instead.
bool TarnscsiCcd::FastExposureRefused(ISState* states, char* names[], int n) {
    const char* chosen = SwitchedOn(states, names, n);
    if (chosen == nullptr || std::strcmp(chosen, FastExposureToggleS[INDI_ENABLED].name) != 0) return false;
    Report(INDI::Logger::DBG_ERROR,
           "Fast exposure unchanged: this driver starts each exposure when a client asks for it, not while the image "
           "before it is still being written; Ekos's sequences work without it.");
    FastExposureToggleSP.s = IPS_ALERT;
    IDSetSwitch(&FastExposureToggleSP, nullptr);
    return true;
}

bool TarnscsiCcd::NumberMessageAccepted(const char* name, double values[], char* names[], int n) {
    // The readout allowance is ours; every other number property the base
    // class keeps.
    INDI::PropertyNumber property = readoutAllowanceNp.isNameMatch(name) ? readoutAllowanceNp : getNumber(name);
    if (!property.isValid()) return true;  // not this device's: INDI says so
    // Pixels and binning factors: INDI makes integers of them.
    const bool whole = property.isNameMatch("CCD_FRAME") || property.isNameMatch("CCD_BINNING");
    std::string problem = NumberMessageProblem(values, names, n, whole);
    // INDI's own range check of these reports the refused value rounded, and
    // the ramp's then shows the property OK.
    if (problem.empty() &&
        (property.isNameMatch(readoutAllowanceNp.getName()) || property.isNameMatch(TemperatureRampNP.getName()))) {
        for (int i = 0; i < n && problem.empty(); ++i) {
            if (const auto* element = property.findWidgetByName(names[i]); element != nullptr) {
                problem = NumberRangeProblem(names[i], values[i], element->getMin(), element->getMax());
            }
        }
    }
    if (!problem.empty()) {
        Report(INDI::Logger::DBG_ERROR,
               std::string(property.getLabel()) + " (" + property.getName() + ") unchanged: " + problem + ".");
        property.setState(IPS_ALERT);
        property.apply();
        return false;
    }
    // The camera's own limits, before INDI's check, which would show the
    // value rounded. A bias frame's time is INDI's shortest, whatever is sent.
    if (property.isNameMatch("CCD_EXPOSURE") && PrimaryCCD.getFrameType() != INDI::CCDChip::BIAS_FRAME) {
        problem = ExposureTimeProblem(values[0]);
        if (!problem.empty()) problem = "Exposure refused: " + problem + ".";
    } else if (property.isNameMatch(TemperatureNP.name)) {
        problem = SetpointProblem(values[0]);
        if (!problem.empty()) problem = "Setpoint refused: " + problem + ".";
    }
    if (problem.empty()) return true;
    Report(INDI::Logger::DBG_ERROR, problem);
    property.setState(IPS_ALERT);
    property.apply();
    return false;
}

bool TarnscsiCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (dev == nullptr || std::strcmp(dev, getDeviceName()) != 0 || n < 1) {
        return INDI::CCD::ISNewNumber(dev, name, values, names, n);
    }
    const bool handled = NewNumbers(name, values, names, n);
    NoteRefusedFrame(name, values, names, n);
    return handled;
}

bool TarnscsiCcd::NewNumbers(const char* name, double values[], char* names[], int n) {
    if (!NumberMessageAccepted(name, values, names, n)) return true;
    if (readoutAllowanceNp.isNameMatch(name)) {
        readoutAllowanceNp.update(values, names, n);
        readoutAllowanceNp.setState(IPS_OK);
        readoutAllowanceNp.apply();
        saveConfig(true, readoutAllowanceNp.getName());
        return true;
    }
    // What INDI takes (a setpoint the camera takes) is what the cooler
    // switch returns to.
    if (std::strcmp(name, TemperatureNP.name) == 0) cooler.SetpointAsked(CelsiusToTenths(values[0]));
    return INDI::CCD::ISNewNumber(getDeviceName(), name, values, names, n);
}

// libindi writes every text it takes back to the clients, and a message
// longer than 64 KiB makes its output corrupt the heap (text_message.h):
// such a text never reaches it.
bool TarnscsiCcd::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        if (const std::string problem = TextMessageProblem(texts, names, n); !problem.empty()) {
            INDI::PropertyText property = getText(name);
            const std::string label = property.isValid() ? property.getLabel() : "Text";
            Report(INDI::Logger::DBG_ERROR, label + " (" + ShownName(name) + ") unchanged: " + problem + ".");
            if (property.isValid()) {
                property.setState(IPS_ALERT);
                property.apply();
            }
            return true;
        }
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

bool TarnscsiCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    warmUpOnDisconnectSp.save(fp);
    readoutAllowanceNp.save(fp);
    return true;
}

void TarnscsiCcd::TimerHit() {
    timerId = -1;
    // Not isConnected(): it is false while a warm-up delays the disconnect.
    if (!camera) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::uint32_t next = getCurrentPollingPeriod();
    if (session && session->Active()) {
        next = std::min(next, PollExposure(now));
    }
    if (now >= nextCoolingRead) {
        nextCoolingRead = now + std::chrono::milliseconds(getPollingPeriod());
        ReadCooling();
        // The warm-up before a disconnect may have ended the connection.
        if (!camera) return;
    }
    timerId = SetTimer(next);
}

void TarnscsiCcd::debugTriggered(bool enable) {
    INDI::CCD::debugTriggered(enable);
    // Commands run on the driver's own thread (the timer and the client's
    // requests), where INDI's logger may be called.
    if (enable) {
        SetTraceSink([this](const std::string& line) { Report(INDI::Logger::DBG_DEBUG, line); });
    } else {
        SetTraceSink({});
    }
}

void TarnscsiCcd::Report(INDI::Logger::VerbosityLevel level, const std::string& text) {
    for (const std::string& line : LogLines(text)) DEBUGF(level, "%s", line.c_str());
}

ChipFrame TarnscsiCcd::ChipNow() const {
    return {PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(),
            PrimaryCCD.getSubH(), PrimaryCCD.getBinX(), PrimaryCCD.getBinY()};
}

ChipFrame TarnscsiCcd::RequestedFrame() const { return nextFrame ? *nextFrame : ChipNow(); }

void TarnscsiCcd::ShowNumbers(const char* name, const std::vector<std::pair<const char*, int>>& values) {
    INDI::PropertyNumber property = getNumber(name);
    if (!property.isValid()) return;
    bool changed = false;
    for (const auto& [element, value] : values) {
        if (auto* widget = property.findWidgetByName(element); widget != nullptr && widget->getValue() != value) {
            widget->setValue(value);
            changed = true;
        }
    }
    if (changed) property.apply();
}

// INDI builds an image's FITS from the chip's frame and binning, on a thread
// of its own, after the exposure: a change applied to the chip at once could
// be mixed into an image taken with the frame before. So the chip keeps the
// frame of the last exposure started; the properties show what the client
// asked for, and the next exposure takes it (StartExposure).
void TarnscsiCcd::KeepForNextExposure(const ChipFrame& frame, const char* what) {
    nextFrame = frame;
    // INDI's frame reset changes both through here and shows neither itself.
    ShowNumbers("CCD_FRAME", {{"X", frame.x}, {"Y", frame.y}, {"WIDTH", frame.width}, {"HEIGHT", frame.height}});
    ShowNumbers("CCD_BINNING", {{"HOR_BIN", frame.binX}, {"VER_BIN", frame.binY}});
    if (session && session->Active() && frame != ChipNow()) {
        Report(INDI::Logger::DBG_SESSION, std::string(what) + " changed during the exposure: the next exposure takes " +
                                              DescribeChipFrame(frame) + "; the one under way keeps " +
                                              DescribeChipFrame(ChipNow()) + ".");
    }
}

void TarnscsiCcd::ApplyNextFrame() {
    if (!nextFrame) return;
    PrimaryCCD.setFrame(nextFrame->x, nextFrame->y, nextFrame->width, nextFrame->height);
    PrimaryCCD.setBin(nextFrame->binX, nextFrame->binY);
    nextFrame.reset();
}

void TarnscsiCcd::NoteRefusedFrame(const char* name, const double values[], char* const names[], int n) {
    const bool frame = std::strcmp(name, "CCD_FRAME") == 0;
    if (!frame && std::strcmp(name, "CCD_BINNING") != 0) return;
    // Whoever refused it (the checks here, UpdateCCDFrame, INDI's own)
    // left the property Alert; an accepted one is OK.
    const INDI::PropertyNumber property = getNumber(name);
    if (!property.isValid() || property.getState() != IPS_ALERT) return;
    std::string asked;
    for (int i = 0; i < n; ++i) {
        if (i > 0) asked += ' ';
        asked += ShownName(names[i]) + "=" + NumberAsGiven(values[i]);
    }
    (frame ? refusedFrame : refusedBinning) = asked;
}

std::string TarnscsiCcd::RefusedFrameProblem() const {
    const auto refused = [](const char* what, const std::string& asked) {
        return std::string("the last ") + what + " asked for (" + asked + ") was refused, and no other " + what +
               " is exposed in its place; set one the camera takes (or reset the frame), then expose again";
    };
    if (refusedFrame) return refused("frame", *refusedFrame);
    if (refusedBinning) return refused("binning", *refusedBinning);
    return {};
}

bool TarnscsiCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    ChipFrame frame = RequestedFrame();
    frame.x = x;
    frame.y = y;
    frame.width = w;
    frame.height = h;
    if (const auto problem = ChipFrameProblem(frame); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Frame refused: " + problem + ".");
        return false;
    }
    refusedFrame.reset();
    KeepForNextExposure(frame, "Frame");
    return true;
}

bool TarnscsiCcd::UpdateCCDBin(int hor, int ver) {
    if (const auto problem = BinningProblem(hor, ver); !problem.empty()) {
        Report(INDI::Logger::DBG_ERROR, "Binning refused: " + problem + ".");
        return false;
    }
    ChipFrame frame = RequestedFrame();
    frame.binX = hor;
    frame.binY = ver;
    refusedBinning.reset();
    KeepForNextExposure(frame, "Binning");
    return true;
}

}  // namespace tarnscsi::indi
