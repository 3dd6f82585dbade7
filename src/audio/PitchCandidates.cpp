#include "audio/PitchCandidates.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace melodrift {

LagRange LagLimits(double f1Hz, double f2Hz) {
    const double lo = std::min(f1Hz, f2Hz);
    const double hi = std::max(f1Hz, f2Hz);
    // LagToBin(HzToBin(f)) is 44100 / f: the lag in samples of frequency f.
    // Truncation of the extended quotient: 44100 / 882 computes as a hair
    // below 50 and truncates to 49, 44100 / 50 to 881.
    const auto lagOf = [](double hz) -> long double {
        const double bin = HzToBin(hz);
        return std::trunc(static_cast<long double>(FftSize) / bin);
    };
    LagRange range;
    const long double minLag = lagOf(hi);
    const long double maxLag = lagOf(lo);
    // Non-positive or huge frequencies give infinite or out-of-range lags:
    // clamp before converting (NaN compares false and ends at the bound).
    range.MinLag =
        minLag > 0.0L ? (minLag < SpectrumBins ? static_cast<int>(minLag) : SpectrumBins - 1) : 0;
    range.MaxLag = maxLag < SpectrumBins - 1 ? (maxLag > 0.0L ? static_cast<int>(maxLag) : 0)
                                             : SpectrumBins - 1;
    return range;
}

namespace {

// The strongest peaks seen so far, strongest first: their strengths and
// lags. A new peak goes in from the last slot towards slot 0, each weaker
// entry moving one place down (the last one falls off). Equal strengths keep
// the earlier (shorter-lag) entry first; since free slots hold strength 0,
// nothing with strength <= 0 is ever taken in. The frequencies are worked
// out only for the peaks that stay, at the end.
struct StrongestPeaks {
    std::array<float, CandidateCount> strength{};
    std::array<int, CandidateCount> lag{};

    float Weakest() const { return strength[CandidateCount - 1]; }

    void Insert(int m, float s) {
        std::size_t slot = CandidateCount;
        while (slot > 0 && s > strength[slot - 1]) {
            if (slot < CandidateCount) {
                strength[slot] = strength[slot - 1];
                lag[slot] = lag[slot - 1];
            }
            --slot;
        }
        if (slot < CandidateCount) {
            strength[slot] = s;
            lag[slot] = m;
        }
    }
};

// Frequency of the autocorrelation peak at lag m: the centroid of the peak
// and its higher neighbour, both measured above the lower neighbour
// (extended precision: differences of close values), as 44100 / lag.
float PeakFrequency(const BinRow& autocorr, int m) {
    const long double a = autocorr[static_cast<std::size_t>(m)];
    const long double before = autocorr[static_cast<std::size_t>(m - 1)];
    const long double after = autocorr[static_cast<std::size_t>(m + 1)];
    long double lag;
    if (before < after) {
        lag = (m * (a - before) + (m + 1) * (after - before)) / ((a - before) + (after - before));
    } else {
        lag = (m * (a - after) + (m - 1) * (before - after)) / ((a - after) + (before - after));
    }
    return static_cast<float>(BinToHz(LagToBin(static_cast<double>(lag))));
}

}  // namespace

void FrameCandidates(const BinRow& spectrum, LagRange lags, FftWorkspace& fft, BinRow& autocorr,
                     CandidateSlots& candidates) {
    constexpr std::size_t centre = FftSize / 2;
    double* input = fft.Input();
    for (std::size_t k = 0; k < SpectrumBins; ++k) {
        const double power = spectrum[k] * spectrum[k];
        input[centre + k] = power;
        input[centre - k] = power;
    }
    input[0] = 0.0;
    // The running maximum is kept in single precision.
    float lowPeak = 0.0f;
    for (std::size_t k = 0; k <= CentrePowerLastBin; ++k) {
        const double power = spectrum[k] * spectrum[k];
        if (power > lowPeak) lowPeak = static_cast<float>(power);
    }
    input[centre] = lowPeak;
    fft.Execute();
    // Bin m of the transform: (re, im) = (cosine sum, minus the sine sum);
    // only the squared magnitude is used.
    const double* out = fft.Output();

    const int minLag = std::max(lags.MinLag, 0);
    const int maxLag = std::min(lags.MaxLag, SpectrumBins - 1);
    std::fill(autocorr.begin(), autocorr.end(), 0.0);
    constexpr double scale = 1.0 / 4194304.0;  // 2^-22
    for (int m = minLag; m <= maxLag; ++m) {
        const double re = out[static_cast<std::size_t>(2 * m)];
        const double im = out[static_cast<std::size_t>(2 * m + 1)];
        autocorr[static_cast<std::size_t>(m)] = (re * re + im * im) * scale;
    }

    // A peak can enter the list only with a strength above the weakest kept
    // one, w (0 while slots are free). Peaks with x = A[m] + 1e-7 below
    // 10^w (1 - 1e-9) have log10(x) below w by at least 4e-10, far more
    // than the few ulp that log10 and exp may be off, so their single
    // strength is at most w: they are passed over without taking the log.
    // w only grows, so a limit from an earlier w is lower and still safe to
    // pass over by; it is brought up to date only when a peak reaches it.
    StrongestPeaks strongest;
    float weakest = strongest.Weakest();
    // The limit, 10^w (1 - 1e-9) or anything below it, from exp(w ln 10)
    // (cheaper than pow): rounding w ln 10 and exp's own error keep it within
    // 1e-13 relative of 10^w for |w| < 300, so the factor 1 - 2e-9 puts it
    // below 10^w (1 - 1e-9).
    const auto logLimit = [](float strength) {
        constexpr double ln10 = 2.302585092994045684;
        return std::exp(static_cast<double>(strength) * ln10) * (1.0 - 2e-9);
    };
    double limit = logLimit(weakest);
    bool limitStale = false;
    // Peaks right next to the ends of the range are not trusted: m runs over
    // MinLag + 2 .. MaxLag - 2. The strict local maxima are listed first
    // without branches (the test compares the doubles themselves; widening
    // them would not change any comparison), then taken in increasing lag.
    std::array<int, SpectrumBins> peakLags;
    std::size_t peakCount = 0;
    const int lastLag = maxLag - 2;
    int m = minLag + 2;
#if defined(__SSE2__) || defined(_M_X64)
    // Two lags per step on SSE2 (every x86-64 processor): the same ordered
    // comparisons, as lane masks.
    for (; m + 1 <= lastLag; m += 2) {
        const double* at = autocorr.data() + m;
        const __m128d a = _mm_loadu_pd(at);
        const __m128d above = _mm_and_pd(_mm_cmpgt_pd(a, _mm_loadu_pd(at - 1)),
                                         _mm_cmpgt_pd(a, _mm_loadu_pd(at + 1)));
        const int mask = _mm_movemask_pd(above);
        peakLags[peakCount] = m;
        peakCount += static_cast<std::size_t>(mask & 1);
        peakLags[peakCount] = m + 1;
        peakCount += static_cast<std::size_t>((mask >> 1) & 1);
    }
#endif
    for (; m <= lastLag; ++m) {
        const double a = autocorr[static_cast<std::size_t>(m)];
        peakLags[peakCount] = m;
        peakCount += static_cast<std::size_t>(
            static_cast<int>(a > autocorr[static_cast<std::size_t>(m - 1)]) &
            static_cast<int>(a > autocorr[static_cast<std::size_t>(m + 1)]));
    }
    for (std::size_t p = 0; p < peakCount; ++p) {
        const int lag = peakLags[p];
        const double peak = autocorr[static_cast<std::size_t>(lag)];
        if (peak + 1e-7 < limit) continue;
        if (limitStale) {
            limit = logLimit(weakest);
            limitStale = false;
            if (peak + 1e-7 < limit) continue;
        }
        // Log of the peak first: a peak at or below 1 can never be inserted.
        const auto strength = static_cast<float>(std::log10(peak + 1e-7));
        if (!(strength > strongest.Weakest())) continue;
        strongest.Insert(lag, strength);
        if (strongest.Weakest() != weakest) {
            weakest = strongest.Weakest();
            limitStale = true;
        }
    }
    candidates.fill(PitchCandidate{});
    for (std::size_t c = 0; c < CandidateCount && strongest.strength[c] > 0.0f; ++c)
        candidates[c] =
            PitchCandidate{PeakFrequency(autocorr, strongest.lag[c]), strongest.strength[c]};
}

}  // namespace melodrift
