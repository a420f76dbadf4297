#include <tarnscsi/limit_prediction.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarnscsi {

namespace {

// Time constants the fit considers (seconds): from a small cold plate to a
// large sensor package; a longer one cannot be told from a straight line
// within any wait a person accepts.
constexpr double kShortestTau = 1.0;
constexpr double kLongestTau = 7200.0;
constexpr int kTauSteps = 96;
constexpr int kRefineSteps = 40;

struct LineFit {
    double limit = 0;      // the curve's end: its value where e^(-t/tau) is 0
    double amplitude = 0;  // how far above the limit it starts
    double squares = std::numeric_limits<double>::infinity();
};

// For a fixed tau the curve is a straight line in x = e^(-t/tau): least
// squares gives the limit and amplitude at once.
LineFit FitForTau(const std::vector<double>& times, const std::vector<double>& temperatures, double tau) {
    const std::size_t n = times.size();
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = std::exp(-(times[i] - times.front()) / tau);
        sx += x;
        sy += temperatures[i];
        sxx += x * x;
        sxy += x * temperatures[i];
    }
    LineFit fit;
    const double count = static_cast<double>(n);
    const double spread = count * sxx - sx * sx;
    if (!(spread > 0)) return fit;
    fit.amplitude = (count * sxy - sx * sy) / spread;
    fit.limit = (sy - fit.amplitude * sx) / count;
    double squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = std::exp(-(times[i] - times.front()) / tau);
        const double residual = temperatures[i] - (fit.limit + fit.amplitude * x);
        squares += residual * residual;
    }
    fit.squares = squares;
    return fit;
}

}  // namespace

void LimitPrediction::Clear() {
    times.clear();
    temperatures.clear();
    agreeing.clear();
    latest.reset();
    firm.reset();
}

void LimitPrediction::Thin() {
    // Every other reading goes, the newest stays: the curve keeps its shape.
    std::size_t kept = 0;
    const std::size_t last = times.size() - 1;
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (i % 2 == last % 2) {
            times[kept] = times[i];
            temperatures[kept] = temperatures[i];
            ++kept;
        }
    }
    times.resize(kept);
    temperatures.resize(kept);
}

std::optional<LimitPrediction::Fit> LimitPrediction::FitCurve() const {
    const double logShortest = std::log(kShortestTau);
    const double logStep = (std::log(kLongestTau) - logShortest) / kTauSteps;
    int best = -1;
    double bestSquares = std::numeric_limits<double>::infinity();
    for (int step = 0; step <= kTauSteps; ++step) {
        const LineFit fit = FitForTau(times, temperatures, std::exp(logShortest + step * logStep));
        if (fit.squares < bestSquares) {
            bestSquares = fit.squares;
            best = step;
        }
    }
    if (best < 0) return std::nullopt;
    // Golden-section search between the best grid point's neighbours.
    constexpr double kGolden = 0.6180339887498949;
    double low = logShortest + std::max(best - 1, 0) * logStep;
    double high = logShortest + std::min(best + 1, kTauSteps) * logStep;
    for (int i = 0; i < kRefineSteps; ++i) {
        const double a = high - kGolden * (high - low);
        const double b = low + kGolden * (high - low);
        if (FitForTau(times, temperatures, std::exp(a)).squares < FitForTau(times, temperatures, std::exp(b)).squares) {
            high = b;
        } else {
            low = a;
        }
    }
    const double tau = std::exp((low + high) / 2);
    const LineFit line = FitForTau(times, temperatures, tau);
    if (!std::isfinite(line.squares)) return std::nullopt;
    Fit fit;
    fit.limit = line.limit;
    fit.tau = tau;
    fit.scatter = std::sqrt(line.squares / static_cast<double>(times.size()));
    // A curve that rises, or hardly bends, says nothing about a limit below.
    if (!(line.amplitude > 0)) return std::nullopt;
    return fit;
}

void LimitPrediction::Add(double seconds, std::int32_t temperature) {
    if (!std::isfinite(seconds) || (!times.empty() && seconds <= times.back())) return;
    times.push_back(seconds);
    temperatures.push_back(temperature);
    if (times.size() > kMostReadings) Thin();
    if (times.size() < kLeastReadings) return;

    const std::optional<Fit> fit = FitCurve();
    const double covered = times.back() - times.front();
    const bool usable = fit && fit->scatter <= kLargestScatterTenths && covered >= kLeastCoverage * fit->tau;
    latest = fit ? std::optional<double>(fit->limit) : std::nullopt;
    if (!usable) {
        agreeing.clear();
        firm.reset();
        return;
    }
    agreeing.push_back(fit->limit);
    if (agreeing.size() > static_cast<std::size_t>(kAgreeingFits)) agreeing.erase(agreeing.begin());
    const auto [lowest, highest] = std::minmax_element(agreeing.begin(), agreeing.end());
    const bool agree =
        agreeing.size() == static_cast<std::size_t>(kAgreeingFits) && *highest - *lowest <= kAgreementTenths;
    firm = agree ? std::optional<double>(fit->limit) : std::nullopt;
}

}  // namespace tarnscsi
