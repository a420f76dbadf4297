#include "camera_members.h"

#include <map>
#include <utility>

#include <tarnscsi/camera.h>
#include <tarnscsi/units.h>

#include "image_encoding.h"

namespace tarnscsi::alpaca {
namespace {

using nlohmann::json;
using Params = RequestParameters;

constexpr int kSensorMonochrome = 0;
constexpr char kReadoutModeName[] = "Normal";

template <typename T>
Reply FromAnswer(Answer<T> answer) {
    if (auto* failure = std::get_if<Failure>(&answer)) return Reply::Error(std::move(*failure));
    return Reply::Of(json(std::get<T>(answer)));
}

Reply FromFailure(Failure failure) { return failure ? Reply::Error(std::move(failure)) : Reply::Done(); }

Reply NotImplemented(const std::string& what) {
    return Reply::Error({kNotImplemented, what + " is not implemented: the camera has no such thing"});
}

// A fixed value, given once the camera is connected.
MemberHandler Fixed(json value) {
    return [value = std::move(value)](CameraDevice& device, const Params&) {
        if (!device.Connected()) {
            return Reply::Error({kNotConnected, "the camera is not connected: set Connected to true first"});
        }
        return Reply::Of(value);
    };
}

MemberHandler Missing(const std::string& what) {
    return [what](CameraDevice&, const Params&) { return NotImplemented(what); };
}

// A PUT the camera does not have: its parameters are still read, so that a
// malformed request is told apart.
MemberHandler MissingPut(const std::string& what, std::function<void(const Params&)> read) {
    return [what, read = std::move(read)](CameraDevice&, const Params& params) {
        read(params);
        return NotImplemented(what);
    };
}

// From one snapshot, so that the values belong together.
json DeviceStateValue(const DeviceStatus& status) {
    json items = json::array();
    items.push_back({{"Name", "CameraState"}, {"Value", static_cast<int>(status.state)}});
    if (status.cooling) {
        items.push_back({{"Name", "CCDTemperature"}, {"Value", TenthsToCelsius(status.cooling->temperature)}});
        items.push_back({{"Name", "CoolerPower"}, {"Value", DriveToPercent(status.cooling->coolerDrive)}});
    }
    items.push_back({{"Name", "ImageReady"}, {"Value", status.imageReady}});
    if (status.percent) items.push_back({{"Name", "PercentCompleted"}, {"Value", *status.percent}});
    return items;
}

using Table = std::map<std::pair<std::string, Verb>, MemberHandler>;

void AddCommon(Table& t, const DriverText& driver) {
    t[{"connected", Verb::kGet}] = [](CameraDevice& d, const Params&) { return Reply::Of(d.Connected()); };
    t[{"connected", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(p.Bool("Connected") ? d.Connect() : d.Disconnect());
    };
    t[{"connect", Verb::kPut}] = [](CameraDevice& d, const Params&) { return FromFailure(d.Connect()); };
    t[{"disconnect", Verb::kPut}] = [](CameraDevice& d, const Params&) { return FromFailure(d.Disconnect()); };
    // Connect finishes before it answers.
    t[{"connecting", Verb::kGet}] = [](CameraDevice&, const Params&) { return Reply::Of(false); };
    t[{"description", Verb::kGet}] = [](CameraDevice&, const Params&) {
        return Reply::Of(std::string("Cooled SCSI camera ") + CameraModel() + " (768 x 512, monochrome)");
    };
    t[{"driverinfo", Verb::kGet}] = [driver](CameraDevice& d, const Params&) {
        std::string text = "tarnscsi-alpaca " + driver.version + ": the camera through the tarnscsi module";
        if (auto identity = d.Identity(); auto* id = std::get_if<CameraIdentity>(&identity)) {
            text += "; camera " + id->vendor + " " + id->product + " " + id->revision + " at adapter " +
                    std::to_string(id->adapter) + ", target " + std::to_string(id->target);
        }
        return Reply::Of(text);
    };
    t[{"driverversion", Verb::kGet}] = [driver](CameraDevice&, const Params&) { return Reply::Of(driver.version); };
    t[{"interfaceversion", Verb::kGet}] = [](CameraDevice&, const Params&) { return Reply::Of(kInterfaceVersion); };
    t[{"name", Verb::kGet}] = [](CameraDevice&, const Params&) { return Reply::Of(std::string(CameraModel())); };
    t[{"supportedactions", Verb::kGet}] = [](CameraDevice&, const Params&) { return Reply::Of(json::array()); };
    t[{"devicestate", Verb::kGet}] = [](CameraDevice& d, const Params&) {
        const DeviceStatus status = d.Status();
        if (!status.connected) return Reply::Error({kNotConnected, "the camera is not connected"});
        return Reply::Of(DeviceStateValue(status));
    };
    t[{"action", Verb::kPut}] = [](CameraDevice&, const Params& p) {
        const std::string action = p.Text("Action");
        p.Text("Parameters");
        return Reply::Error({kActionNotImplemented, "the action '" + action + "' is not implemented"});
    };
    for (const char* command : {"commandblind", "commandbool", "commandstring"}) {
        t[{command, Verb::kPut}] = MissingPut(command, [](const Params& p) {
            p.Text("Command");
            p.Text("Raw");
        });
    }
}

void AddGeometry(Table& t) {
    t[{"cameraxsize", Verb::kGet}] = Fixed(kSensorWidth);
    t[{"cameraysize", Verb::kGet}] = Fixed(kSensorHeight);
    t[{"maxbinx", Verb::kGet}] = Fixed(kMaxBinning);
    t[{"maxbiny", Verb::kGet}] = Fixed(kMaxBinning);
    t[{"canasymmetricbin", Verb::kGet}] = Fixed(false);
    t[{"pixelsizex", Verb::kGet}] = Fixed(kPixelSizeMicrons);
    t[{"pixelsizey", Verb::kGet}] = Fixed(kPixelSizeMicrons);
    t[{"maxadu", Verb::kGet}] = Fixed(kMaxPixelValue);
    t[{"sensortype", Verb::kGet}] = Fixed(kSensorMonochrome);
    t[{"readoutmodes", Verb::kGet}] = Fixed(json::array({kReadoutModeName}));
    t[{"readoutmode", Verb::kGet}] = Fixed(0);
    // The camera does not name its sensor: ASCOM's empty name for that.
    t[{"sensorname", Verb::kGet}] = Fixed(std::string());
    t[{"readoutmode", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        const auto mode = p.Integer("ReadoutMode");
        if (!d.Connected()) return Reply::Error({kNotConnected, "the camera is not connected"});
        if (mode != 0) {
            return Reply::Error(
                {kInvalidValue, "ReadoutMode " + std::to_string(mode) + ": the camera has mode 0 only"});
        }
        return Reply::Done();
    };
    t[{"exposuremin", Verb::kGet}] = Fixed(kMinExposureSeconds);
    t[{"exposuremax", Verb::kGet}] = Fixed(kMaxExposureSeconds);
    t[{"exposureresolution", Verb::kGet}] = Fixed(kExposureResolutionSeconds);
    t[{"hasshutter", Verb::kGet}] = Fixed(false);
    t[{"canabortexposure", Verb::kGet}] = Fixed(true);
    t[{"canstopexposure", Verb::kGet}] = Fixed(false);
    t[{"canfastreadout", Verb::kGet}] = Fixed(false);
    t[{"canpulseguide", Verb::kGet}] = Fixed(false);
    t[{"cangetcoolerpower", Verb::kGet}] = Fixed(true);
    t[{"cansetccdtemperature", Verb::kGet}] = Fixed(true);

    for (const char* axis : {"binx", "biny"}) {
        t[{axis, Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.Bin()); };
    }
    t[{"binx", Verb::kPut}] = [](CameraDevice& d, const Params& p) { return FromFailure(d.SetBin(p.Integer("BinX"))); };
    t[{"biny", Verb::kPut}] = [](CameraDevice& d, const Params& p) { return FromFailure(d.SetBin(p.Integer("BinY"))); };
    t[{"numx", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.NumX()); };
    t[{"numy", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.NumY()); };
    t[{"startx", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.StartX()); };
    t[{"starty", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.StartY()); };
    t[{"numx", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(d.SetNumX(p.Integer("NumX")));
    };
    t[{"numy", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(d.SetNumY(p.Integer("NumY")));
    };
    t[{"startx", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(d.SetStartX(p.Integer("StartX")));
    };
    t[{"starty", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(d.SetStartY(p.Integer("StartY")));
    };
}

void AddExposure(Table& t) {
    t[{"startexposure", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        const double duration = p.Number("Duration");
        const bool light = p.Bool("Light");
        return FromFailure(d.StartExposure(duration, light));
    };
    t[{"abortexposure", Verb::kPut}] = [](CameraDevice& d, const Params&) { return FromFailure(d.AbortExposure()); };
    t[{"stopexposure", Verb::kPut}] = Missing("StopExposure");
    t[{"camerastate", Verb::kGet}] = [](CameraDevice& d, const Params&) {
        auto state = d.State();
        if (auto* failure = std::get_if<Failure>(&state)) return Reply::Error(*failure);
        return Reply::Of(static_cast<int>(std::get<CameraState>(state)));
    };
    t[{"percentcompleted", Verb::kGet}] = [](CameraDevice& d, const Params&) {
        return FromAnswer(d.PercentCompleted());
    };
    t[{"imageready", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.ImageReady()); };
    t[{"lastexposureduration", Verb::kGet}] = [](CameraDevice& d, const Params&) {
        return FromAnswer(d.LastExposureDuration());
    };
    t[{"lastexposurestarttime", Verb::kGet}] = [](CameraDevice& d, const Params&) {
        return FromAnswer(d.LastExposureStartTime());
    };
}

void AddCooling(Table& t) {
    t[{"ccdtemperature", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.CcdTemperature()); };
    t[{"coolerpower", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.CoolerPower()); };
    t[{"cooleron", Verb::kGet}] = [](CameraDevice& d, const Params&) { return FromAnswer(d.CoolerOn()); };
    t[{"cooleron", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(d.SetCoolerOn(p.Bool("CoolerOn")));
    };
    t[{"setccdtemperature", Verb::kGet}] = [](CameraDevice& d, const Params&) {
        return FromAnswer(d.SetCcdTemperature());
    };
    t[{"setccdtemperature", Verb::kPut}] = [](CameraDevice& d, const Params& p) {
        return FromFailure(d.SetSetCcdTemperature(p.Number("SetCCDTemperature")));
    };
}

// What the camera does not have: gain, offset, guiding, fast readout,
// Bayer offsets, sub-exposures, a heat sink thermometer.
void AddMissing(Table& t) {
    for (const char* name : {"bayeroffsetx", "bayeroffsety", "electronsperadu", "fullwellcapacity", "gain", "gainmax",
                             "gainmin", "gains", "offset", "offsetmax", "offsetmin", "offsets", "fastreadout",
                             "heatsinktemperature", "ispulseguiding", "subexposureduration"}) {
        t[{name, Verb::kGet}] = Missing(name);
    }
    t[{"gain", Verb::kPut}] = MissingPut("Gain", [](const Params& p) { p.Integer("Gain"); });
    t[{"offset", Verb::kPut}] = MissingPut("Offset", [](const Params& p) { p.Integer("Offset"); });
    t[{"fastreadout", Verb::kPut}] = MissingPut("FastReadout", [](const Params& p) { p.Bool("FastReadout"); });
    t[{"subexposureduration", Verb::kPut}] =
        MissingPut("SubExposureDuration", [](const Params& p) { p.Number("SubExposureDuration"); });
    t[{"pulseguide", Verb::kPut}] = MissingPut("PulseGuide", [](const Params& p) {
        p.Integer("Direction");
        p.Integer("Duration");
    });
}

Table BuildTable(const DriverText& driver) {
    Table table;
    AddCommon(table, driver);
    AddGeometry(table);
    AddExposure(table);
    AddCooling(table);
    AddMissing(table);
    return table;
}

}  // namespace

MemberHandler FindMember(const std::string& member, Verb verb, const DriverText& driver, bool& known) {
    static const Table table = BuildTable(driver);
    known = table.contains({member, Verb::kGet}) || table.contains({member, Verb::kPut}) || member == "imagearray" ||
            member == "imagearrayvariant";
    const auto found = table.find({member, verb});
    return found == table.end() ? MemberHandler{} : found->second;
}

}  // namespace tarnscsi::alpaca
