// The INDI camera driver: one INDI::CCD device over the module's C++ camera
// API. Exposures never block the event loop: StartExposure programs the
// window and starts the camera, the timer watches the clock and then asks
// the camera whether it is ready, and only then is the image downloaded into
// the primary chip's buffer and handed to INDI as FITS. The same timer reads
// the cooling and runs the cooler switch's warm-up. SIMULATION chooses the
// simulated camera; CAMERA_INFO shows what the camera says it is. With
// INDI's DEBUG on, every command the camera is sent goes to the driver's
// debug log.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <indiccd.h>
#include <indipropertynumber.h>
#include <indipropertyswitch.h>
#include <indipropertytext.h>

#include <tarnscsi/camera.h>
#include <tarnscsi/cooler_control.h>
#include <tarnscsi/exposure_session.h>

#include "exposure_window.h"

namespace tarnscsi::indi {

// For tests and demonstrations on the simulated camera, whose time need not
// be real time: each poll of the cooling counts as this many seconds for
// the cooler's rules (warm-up ramp, setpoint out of reach) instead of the
// real time that passed. Unset: real time.
inline constexpr char kSecondsPerPollVariable[] = "TARNSCSI_INDI_SECONDS_PER_POLL";

// The elements of INDI's on/off switches.
inline constexpr char kOn[] = "ENABLE";
inline constexpr char kOff[] = "DISABLE";
// Elements of the camera information, in the order they are shown.
enum CameraInfoElement { kVendor, kProduct, kRevision, kAdapter, kTarget, kManager };

// The element of a switch vector a client turned on, or null.
const char* SwitchedOn(ISState* states, char* names[], int n);

class TarnscsiCcd : public INDI::CCD {
public:
    TarnscsiCcd();
    ~TarnscsiCcd() override;

    const char* getDefaultName() override;
    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

    // The process is about to end: the camera is released now, without a
    // warm-up (the cooler keeps its setpoint, as on any disconnect).
    void StopForExit();

protected:
    bool Connect() override;
    bool Disconnect() override;
    void TimerHit() override;
    void debugTriggered(bool enable) override;

    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;

    int SetTemperature(double temperature) override;

    // INDI's keywords, the camera model, the setpoint and the subframe
    // origin the camera was sent.
    void addFITSKeywords(INDI::CCDChip* targetChip) override;
    bool saveConfigItems(FILE* fp) override;

private:
    // Exposure (tarnscsi_ccd_exposure.cpp). Returns the milliseconds until
    // the exposure next needs looking at.
    std::uint32_t PollExposure(std::chrono::steady_clock::time_point now);
    void FailExposure(const std::string& why);

    // Logs `text` at `level`, as several lines when INDI would cut it.
    void Report(INDI::Logger::VerbosityLevel level, const std::string& text);

    // Every switch message for this device is checked whole first
    // (switch_message.h): false, with the property turned Alert and left as
    // it was, when it is malformed.
    bool SwitchMessageAccepted(const char* name, ISState* states, char* names[], int n);
    INDI::PropertySwitch SwitchNamed(const char* name);
    // Every number message for this device is checked first: false, with
    // the property turned Alert and left as it was, when a value is not a
    // number (or not a whole one for pixels and binning), or lies outside
    // the camera's limits or the property's range. Refused values are shown
    // as given.
    bool NumberMessageAccepted(const char* name, double values[], char* names[], int n);
    bool NewNumbers(const char* name, double values[], char* names[], int n);
    // True when the message would turn INDI's fast exposure on: refused.
    bool FastExposureRefused(ISState* states, char* names[], int n);

    // Frame and binning (tarnscsi_ccd.cpp). The chip holds the frame of the
    // last exposure started, which INDI builds its image from; a client's
    // change waits in nextFrame, shown in the properties, until the next
    // exposure starts.
    ChipFrame ChipNow() const;
    ChipFrame RequestedFrame() const;
    void KeepForNextExposure(const ChipFrame& frame, const char* what);
    void ApplyNextFrame();
    // A frame or binning message that was refused (by this driver or by
    // INDI: the property is left Alert) is kept until one is accepted; the
    // exposures asked for meanwhile fail (RefusedFrameProblem), so that no
    // client is given the frame before instead of the one it asked for.
    void NoteRefusedFrame(const char* name, const double values[], char* const names[], int n);
    std::string RefusedFrameProblem() const;
    void ShowNumbers(const char* name, const std::vector<std::pair<const char*, int>>& values);

    // Connecting (tarnscsi_ccd.cpp): the manager the SIMULATION switch
    // chooses, what the camera says it is, why connecting failed.
    bool ChooseManager();
    void ReportConnectFailure(ConnectError error, const std::string& detail);
    void FillCameraInfo();
    bool SimulationSwitch(ISState* states, char* names[], int n);
    // Disconnect with the warm-up first, when the option asks for it.
    bool DisconnectRequested(ISState* states, char* names[], int n);
    void FinishDeferredDisconnect();

    // Cooling (tarnscsi_ccd_cooling.cpp). StoreCooling keeps a reading in
    // the properties without telling the clients and says whether it changed
    // them; ReadCooling reads the camera and reports.
    bool StoreCooling(const CoolingReading& reading);
    void ReadCooling();
    bool WithinTemperatureThreshold(double target);
    // The cooler switch: off warms up, on returns to the last setpoint.
    bool CoolerSwitch(ISState* states, char* names[], int n);
    void StartWarmUp();
    void ApplyCoolerStep(const CoolerStep& step);
    void ShowCoolerSwitch(bool on, IPState state);
    // The sensor must be warmed up before the camera is let go.
    bool SensorCold() const;
    // Seconds on the cooler rules' clock (see kSecondsPerPollVariable).
    double CoolerNow() const;

    std::unique_ptr<tarnscsi::Camera> camera;
    int timerId = -1;

    // The exposure under way, over the connected camera.
    std::optional<ExposureSession> session;
    std::uint32_t expectedBytes = 0;
    // The window of the exposure the image comes from; written under
    // ccdBufferLock, as INDI may still be writing the previous image's FITS.
    ExposureSettings sentWindow;
    // The setpoint the cooler held when it started (SET-TEMP); the same lock.
    std::optional<std::int32_t> exposureSetpoint;
    // The frame and binning a client asked for since the last exposure
    // started.
    std::optional<ChipFrame> nextFrame;
    // The last frame and binning messages refused, as the client sent them
    // ("X=101 Y=51 WIDTH=400 HEIGHT=300"), until one of each is accepted.
    std::optional<std::string> refusedFrame;
    std::optional<std::string> refusedBinning;

    bool coolingUnreadable = false;
    IPState temperatureStateBeforeOutage = IPS_IDLE;
    std::chrono::steady_clock::time_point nextCoolingRead{};

    CoolerControl cooler;
    CoolingReading lastReading;
    std::chrono::steady_clock::time_point coolerClockStart{};
    double secondsPerPoll = 0.0;  // 0: real time
    std::uint64_t coolingPolls = 0;
    bool disconnectAfterWarmUp = false;

    // Which manager this run of the driver has used: it holds for the process.
    bool simulatorLoaded = false;
    bool installedManagerUsed = false;

    INDI::PropertyNumber coolerPowerNp{1};
    INDI::PropertySwitch coolerSp{2};
    INDI::PropertySwitch warmUpOnDisconnectSp{2};
    INDI::PropertyNumber readoutAllowanceNp{1};
    INDI::PropertyText cameraInfoTp{6};
};

}  // namespace tarnscsi::indi
