#include "audio/Frames.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace melodrift {

void InitSynthParams(SynthParams& params) { params = SynthParams{}; }

const std::array<double, FftSize>& HannWindow() {
    // A function-local static is initialised exactly once, even when two
    // worker threads reach it together; afterwards it is only read.
    static const std::array<double, FftSize> window = [] {
        std::array<double, FftSize> w{};
        for (int i = 0; i < FftSize; ++i) {
            const long double phase = 2.0L * std::numbers::pi_v<long double> * i / FftSize;
            w[static_cast<std::size_t>(i)] = static_cast<double>(0.5L - 0.5L * std::cos(phase));
        }
        return w;
    }();
    return window;
}

void ApplyWindow(std::span<double> a) {
    const auto& window = HannWindow();
    const std::size_t n = a.size() < window.size() ? a.size() : window.size();
    for (std::size_t i = 0; i < n; ++i) a[i] *= window[i];
}

double HzToBin(double hz) {
    return static_cast<double>(static_cast<long double>(hz) / AnalysisSampleRate * FftSize);
}

double BinToHz(double bin) {
    return static_cast<double>(static_cast<long double>(bin) * AnalysisSampleRate / FftSize);
}

double LagToBin(double lagSamples) {
    return static_cast<double>(static_cast<long double>(FftSize) / lagSamples);
}

std::int32_t NearestBin(double hz) {
    // The per-harmonic loops call this a few hundred times per frame, so a
    // double evaluation answers where it provably agrees: it is within
    // 3 · 2^-53 · |x| (three roundings) of the extended x = hz · 2048 / 44100
    // + 0.5, less than 4e-7 below 2^30, so when it lies more than 1e-6 from
    // any integer both truncate to the same one.
    const double approx = hz * (static_cast<double>(FftSize) / AnalysisSampleRate) + 0.5;
    if (approx > 0.0 && approx < 0x1p30) {
        const auto whole = static_cast<std::int32_t>(approx);
        const double fraction = approx - whole;
        if (fraction > 1e-6 && fraction < 1.0 - 1e-6) return whole;
    }
    // Truncation toward zero of the extended value: negative frequencies give
    // a bin near 0 or below it; callers clamp.
    const long double bin =
        std::trunc(static_cast<long double>(hz) / AnalysisSampleRate * FftSize + 0.5L);
    // Out-of-range (and NaN) frequencies saturate instead of overflowing.
    using Limits = std::numeric_limits<std::int32_t>;
    if (std::isnan(bin)) return 0;
    if (bin <= Limits::min()) return Limits::min();
    if (bin >= Limits::max()) return Limits::max();
    return static_cast<std::int32_t>(bin);
}

double HzToCents(double hz) {
    if (!(hz > 0.0)) return 0.0;
    return static_cast<double>(1200.0L * std::log2(static_cast<long double>(hz) / 220.0L) +
                               5700.0L);
}

double CentsToHz(double cents) {
    if (!(cents > 0.0)) return 0.0;
    return static_cast<double>(220.0L *
                               std::exp2((static_cast<long double>(cents) - 5700.0L) / 1200.0L));
}

}  // namespace melodrift
