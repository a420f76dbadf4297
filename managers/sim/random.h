// Deterministic random numbers for the simulated images. Two kinds: a
// sequential generator for building a scene from its seed, and counter-based
// normal deviates for pixel noise, so that each pixel's noise depends only on
// a key and the pixel's place on the sensor, not on the window or the order
// pixels are made in.
#pragma once

#include <array>
#include <cstdint>

namespace tarnscsi::sim {

// The splitmix64 finaliser: a well-mixed 64-bit hash of `x`.
constexpr std::uint64_t Mix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A key combining two values, e.g. a seed and an exposure number.
constexpr std::uint64_t CombineKeys(std::uint64_t a, std::uint64_t b) { return Mix64(a ^ Mix64(b)); }

// A uniform deviate in (0, 1] from 32 random bits.
inline constexpr double kTwoTo32 = 4294967296.0;
constexpr double UnitFromBits(std::uint32_t bits) { return (bits + 1.0) / kTwoTo32; }

// Standard normal deviates, four from each counter under a key. Each is
// the normal quantile of one of 65536 equally likely levels picked by 16
// bits of the hash: exact in distribution to that resolution, with tails
// that end at about 4.3 sigma.
inline constexpr std::uint64_t kNormalsPerCount = 4;
using NormalQuad = std::array<float, kNormalsPerCount>;
NormalQuad CountedNormals(std::uint64_t key, std::uint64_t n);

// Sequential generator (splitmix64) for building scenes.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state(seed) {}
    std::uint64_t Next() { return Mix64(state++); }
    // Uniform in (0, 1].
    double Uniform() { return UnitFromBits(static_cast<std::uint32_t>(Next())); }
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }

private:
    std::uint64_t state;
};

}  // namespace tarnscsi::sim