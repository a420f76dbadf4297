// The INDI camera driver: one INDI::CCD device over the module's C++ camera
// API. Exposures never block the event loop: StartExposure programs the
// window and starts the camera, the timer watches the clock and then asks
// the camera whether it is ready, and only then is the image downloaded into
// the primary chip's buffer and handed to INDI as FITS. The same timer reads
// the cooling. With INDI's DEBUG on, every command the camera is sent goes
// to the driver's debug log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <indiccd.h>
#include <indipropertynumber.h>

#include <tarnscsi/camera.h>

#include "exposure_clock.h"

namespace tarnscsi::indi {

class TarnscsiCcd : public INDI::CCD {
public:
    TarnscsiCcd();
    ~TarnscsiCcd() override;

    const char* getDefaultName() override;
    bool initProperties() override;
    bool updateProperties() override;

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

    // INDI's keywords, and the subframe origin the camera was sent.
    void addFITSKeywords(INDI::CCDChip* targetChip) override;

private:
    // Exposure (tarnscsi_ccd_exposure.cpp). Returns the milliseconds until
    // the exposure next needs looking at.
    std::uint32_t PollExposure(ExposureClock::Clock::time_point now);
    void FinishExposure();
    void FailExposure(const std::string& why);

    // Logs `text` at `level`, as several lines when INDI would cut it.
    void Report(INDI::Logger::VerbosityLevel level, const std::string& text);

    // Cooling (tarnscsi_ccd_cooling.cpp). StoreCooling keeps a reading in
    // the properties without telling the clients and says whether it changed
    // them; ReadCooling reads the camera and reports.
    bool StoreCooling(const CoolingReading& reading);
    void ReadCooling();
    bool WithinTemperatureThreshold(double target);

    std::unique_ptr<tarnscsi::Camera> camera;
    int timerId = -1;

    bool exposing = false;
    ExposureClock exposureClock;
    std::uint32_t expectedBytes = 0;
    // The window of the exposure the image comes from; written under
    // ccdBufferLock, as INDI may still be writing the previous image's FITS.
    ExposureSettings sentWindow;
    // SCAN as the camera ended it for the running exposure.
    CommandResult scanResult;
    // An abandoned exposure may keep the camera busy until then.
    ExposureClock::Clock::time_point abandonedBusyUntil{};

    bool coolingUnreadable = false;
    IPState temperatureStateBeforeOutage = IPS_IDLE;
    ExposureClock::Clock::time_point nextCoolingRead{};

    INDI::PropertyNumber coolerPowerNp{1};
};

}  // namespace tarnscsi::indi
