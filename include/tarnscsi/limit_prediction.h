// Where a cooler at full drive will level off, foretold from its readings.
// A thermoelectric cooler pulling a sensor down at full drive follows an
// exponential approach to its limit, T(t) = limit + (T0 - limit) e^(-t/tau),
// so the limit shows in the curve long before the temperature stops
// falling. The prediction fits that curve to the readings taken since the
// drive went to full and calls it firm only when the fit matches the
// readings closely, covers enough of the curve, and the last fits agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnscsi {

class LimitPrediction {
public:
    // Fits that must agree, in a row, before the prediction is firm.
    static constexpr int kAgreeingFits = 3;
    // How far those fits may lie apart (tenths of a degree).
    static constexpr double kAgreementTenths = 3.0;
    // The fit must cover at least this share of its own time constant:
    // a shorter stretch of the curve is too straight to tell the limit.
    static constexpr double kLeastCoverage = 0.75;
    // Readings a fit needs at least, and the most it keeps (older ones are
    // thinned out, so a long approach costs no more).
    static constexpr std::size_t kLeastReadings = 6;
    static constexpr std::size_t kMostReadings = 240;
    // The fit's readings may stray from the curve by this much (root mean
    // square, tenths of a degree): more, and the curve is not this shape.
    static constexpr double kLargestScatterTenths = 3.0;

    // Forgets every reading: the drive left full, or the setpoint changed.
    void Clear();
    // A reading at `seconds` on any steady clock, in tenths of a degree.
    void Add(double seconds, std::int32_t temperature);

    // The predicted limit once firm (tenths of a degree), else nothing.
    std::optional<double> Firm() const { return firm; }
    // The latest fit's limit, firm or not.
    std::optional<double> Latest() const { return latest; }
    std::size_t Readings() const { return times.size(); }

private:
    struct Fit {
        double limit = 0;
        double tau = 0;
        double scatter = 0;  // root mean square of the residuals
    };
    std::optional<Fit> FitCurve() const;
    void Thin();

    std::vector<double> times;
    std::vector<double> temperatures;
    std::vector<double> agreeing;  // the last fits' limits, newest last
    std::optional<double> latest;
    std::optional<double> firm;
};

}  // namespace tarnscsi
