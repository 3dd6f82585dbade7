// The harmonic and noise measures of the frames: harmonic amplitudes at the
// traced pitch or on a fixed 150 Hz comb, noise band levels or the noise
// flux between neighbouring spectra, their smoothing and normalisation.
#include "audio/PitchAnalyser.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace melodrift {

namespace {

constexpr std::size_t Index(int i) { return static_cast<std::size_t>(i); }

// The fixed comb's pitch [Hz].
constexpr float FixedCombF0 = 150.0f;

// Below this pitch [Hz] consecutive harmonics are at most one bin apart
// (one bin is 44100 / 2048 = 21.53 Hz).
constexpr float MinCombSpacingHz = 21.0f;

// Harmonics whose nearest bin reaches NearestBin(18000 Hz) = 836 measure 0.
const std::int32_t HarmonicBinLimit = NearestBin(18000.0);

}  // namespace

const std::array<NoiseBand, NoiseBandCount>& NoiseBands() {
    static const std::array<NoiseBand, NoiseBandCount> bands = [] {
        std::array<NoiseBand, NoiseBandCount> result{};
        double lowerHz = 50.0;
        for (auto& band : result) {
            const auto upperHz = static_cast<double>(lowerHz * 1.45L);
            band.First = NearestBin(lowerHz);
            band.Last = NearestBin(upperHz) - 1;
            lowerHz = upperHz;
        }
        return result;
    }();
    return bands;
}

namespace {

// Harmonic amplitudes at the frame's own F0: the three bins around each
// harmonic's nearest bin. Unvoiced: all 0, HarmonicTotal kept.
void MeasureHarmonicsOf(AnalysisFrame& f, const BinRow& s) {
    if (f.F0 == 0.0f) {
        f.Harmonic.fill(0.0f);
        return;
    }
    f.HarmonicTotal = 0.0f;
    for (int h = 1; h <= HarmonicCount; ++h) {
        const std::int32_t k = NearestBin(static_cast<double>(h) * f.F0);
        float amplitude = 0.0f;
        if (k > 0 && k < HarmonicBinLimit)
            amplitude = static_cast<float>(s[Index(k - 1)] + s[Index(k)] + s[Index(k + 1)]);
        f.Harmonic[Index(h - 1)] = amplitude;
        f.HarmonicTotal += amplitude;
    }
}

// A comb of teeth every 150 Hz, each the triangularly weighted peak of the
// spectrum within ±300 Hz: weight 1 at the tooth, falling towards 0 at the
// window's upper edge. The teeth and weights are the same for every frame.
struct CombTooth {
    int First = 0;                      // lowest bin of the window
    std::vector<long double> Weights;   // one per bin from First on
    std::vector<double> ApproxWeights;  // the same rounded to double
};

const std::array<CombTooth, HarmonicCount>& CombTeeth() {
    static const std::array<CombTooth, HarmonicCount> teeth = [] {
        constexpr double halfWidthHz = 300.0;
        std::array<CombTooth, HarmonicCount> result{};
        for (int h = 1; h <= HarmonicCount; ++h) {
            const double hz = static_cast<double>(h) * FixedCombF0;
            const int lo = std::max(0, NearestBin(hz - halfWidthHz));
            const int hi = std::min(SpectrumBins - 1, NearestBin(hz + halfWidthHz));
            const int c = NearestBin(hz);
            CombTooth& tooth = result[Index(h - 1)];
            tooth.First = lo;
            for (int k = lo; k <= hi; ++k) {
                tooth.Weights.push_back(1.0L -
                                        static_cast<long double>(std::abs(k - c)) / (hi - c));
                tooth.ApproxWeights.push_back(static_cast<double>(tooth.Weights.back()));
            }
        }
        return result;
    }();
    return teeth;
}

// The tooth's peak: the running maximum, from 0, of the extended products
// w_j s_j, stored as a single whenever it grows. Since rounding to single is
// monotonic, that ends as float(max_j w_j s_j) when the maximum is positive,
// else 0; so only the products that can be the maximum need the extended
// multiply. The double products p_j = double(w_j) s_j are within a factor
// 1 ± 2^-52 of the extended ones (two roundings of 2^-53), so a product with
// p_j < (1 - 2^-40) max p cannot be the largest and is skipped. Where that
// bound does not hold (products near the double's underflow range) every
// product is taken in extended precision.
float CombToothPeak(const CombTooth& tooth, const BinRow& s) {
    const double* bins = s.data() + tooth.First;
    const std::size_t n = tooth.Weights.size();
    // Four running maxima side by side (the maximum is exact in any order),
    // so that the comparisons do not wait on each other.
    std::array<double, 4> partial{};
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            partial[lane] = std::max(partial[lane], tooth.ApproxWeights[j + lane] * bins[j + lane]);
        }
    }
    for (; j < n; ++j) partial[0] = std::max(partial[0], tooth.ApproxWeights[j] * bins[j]);
    const double largest =
        std::max(std::max(partial[0], partial[1]), std::max(partial[2], partial[3]));
    float peak = 0.0f;  // the running maximum starts at 0
    if (!(largest > 1e-280)) {
        for (j = 0; j < n; ++j) {
            const long double value = tooth.Weights[j] * bins[j];
            if (value > peak) peak = static_cast<float>(value);
        }
        return peak;
    }
    const double threshold = largest * (1.0 - 0x1p-40);
    for (j = 0; j < n; ++j) {
        if (!(tooth.ApproxWeights[j] * bins[j] >= threshold)) continue;
        const long double value = tooth.Weights[j] * bins[j];
        if (value > peak) peak = static_cast<float>(value);
    }
    return peak;
}

// The comb's harmonics and their total; F0 is the caller's.
void MeasureFixedCombHarmonics(AnalysisFrame& f, const BinRow& s) {
    const auto& teeth = CombTeeth();
    for (std::size_t h = 0; h < teeth.size(); ++h) f.Harmonic[h] = CombToothPeak(teeth[h], s);
    f.HarmonicTotal = 0.0f;
    for (float amplitude : f.Harmonic) f.HarmonicTotal += amplitude;
}

void MeasureFixedCombOf(AnalysisFrame& f, const BinRow& s) {
    f.F0 = FixedCombF0;
    MeasureFixedCombHarmonics(f, s);
}

// Band energies of the spectrum with five bins removed around every
// harmonic below bin 1022, weighted down towards the high bands.
// Bands ordered from the widest down, for BandSums.
const std::array<int, NoiseBandCount>& BandsByWidth() {
    static const std::array<int, NoiseBandCount> order = [] {
        std::array<int, NoiseBandCount> result{};
        for (int b = 0; b < NoiseBandCount; ++b) result[Index(b)] = b;
        const auto& bands = NoiseBands();
        std::stable_sort(result.begin(), result.end(), [&bands](int x, int y) {
            return bands[Index(x)].Last - bands[Index(x)].First >
                   bands[Index(y)].Last - bands[Index(y)].First;
        });
        return result;
    }();
    return order;
}

// Sum of term(bin) over each noise band's bins, each kept in single
// precision and added in increasing bin order (sum = float(sum + term)).
// The sixteen sums advance side by side, one bin of every band still going
// per step, so that their independent addition chains overlap instead of
// running one after another; each sum's own order is unchanged.
template <typename Term>
std::array<float, NoiseBandCount> BandSums(Term term) {
    const auto& bands = NoiseBands();
    const auto& order = BandsByWidth();
    const auto width = [&bands](int band) {
        return bands[Index(band)].Last - bands[Index(band)].First + 1;
    };
    std::array<float, NoiseBandCount> sums{};
    const int widest = width(order[0]);
    for (int j = 0; j < widest; ++j) {
        for (int band : order) {
            if (j >= width(band)) break;
            float& sum = sums[Index(band)];
            sum = static_cast<float>(sum + term(Index(bands[Index(band)].First + j)));
        }
    }
    return sums;
}

void MeasureNoiseBandsOf(AnalysisFrame& f, const BinRow& s, BinRow& residual) {
    residual = s;
    if (f.F0 > 0.0f && f.F0 < MinCombSpacingHz) {
        // Harmonics less than a bin apart hit every bin from 2 to 1021, so
        // every bin is cleared; the loop below would get there only after up
        // to 22050 / F0 steps.
        residual.fill(0.0);
    } else if (f.F0 > 0.0f) {
        // (A negative F0 would never reach bin 1022; it removes nothing.)
        for (int h = 1;; ++h) {
            const int b = std::max(2, NearestBin(static_cast<double>(h) * f.F0));
            if (b >= SpectrumBins - 2) break;
            std::fill(residual.begin() + (b - 2), residual.begin() + (b + 3), 0.0);
        }
    }
    const auto sums = BandSums([&residual](std::size_t bin) { return residual[bin]; });
    for (int band = 0; band < NoiseBandCount; ++band) {
        const double weight = 0.2 * band;
        f.Noise[Index(band)] =
            static_cast<float>(0.003 * sums[Index(band)] / (weight * weight + 1.0));
    }
}

// Band sums of the spectrum's change against the mean of its two neighbours.
void MeasureNoiseFluxOf(AnalysisFrame& f, const BinRow& before, const BinRow& s,
                        const BinRow& after) {
    const auto sums = BandSums(
        [&](std::size_t bin) { return std::fabs(s[bin] - (before[bin] + after[bin]) / 2.0); });
    for (int band = 0; band < NoiseBandCount; ++band) {
        f.Noise[Index(band)] = static_cast<float>(0.002 * sums[Index(band)]);
    }
}

}  // namespace

void PitchAnalyser::MeasureHarmonics() {
    if (FrameCount <= 0) return;
    if (SpectraStored()) {
        for (int i = 0; i < FrameCount; ++i)
            MeasureHarmonicsOf(Frames[Index(i)], Spectrum[Index(i)]);
        return;
    }
    if (!samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        MeasureHarmonicsOf(Frames[Index(i)], scratch.Row(source, i));
    };
    RunFrameTask(task, {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount});
}

void PitchAnalyser::MeasureHarmonicsAndNoiseBands() {
    // Both measures of each frame from one recomputed row; they read F0 and
    // write disjoint fields, so this equals MeasureHarmonics then
    // MeasureNoiseBands.
    if (FrameCount <= 0 || !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        AnalysisFrame& f = Frames[Index(i)];
        const BinRow& row = scratch.Row(source, i);
        MeasureHarmonicsOf(f, row);
        f.Noise.fill(0.0f);
        if (i != 0 && i != FrameCount - 1) MeasureNoiseBandsOf(f, row, scratch.Residual);
    };
    RunFrameTask(task, {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount});
}

void PitchAnalyser::MeasureFixedComb() {
    if (SpectraStored()) {
        for (int i = 0; i < FrameCount; ++i)
            MeasureFixedCombOf(Frames[Index(i)], Spectrum[Index(i)]);
        return;
    }
    if (!samplesHeld_) {
        // Nothing to measure on: only the comb's pitch is set.
        for (int i = 0; i < FrameCount; ++i) Frames[Index(i)].F0 = FixedCombF0;
        return;
    }
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        MeasureFixedCombOf(Frames[Index(i)], scratch.Row(source, i));
    };
    RunFrameTask(task, {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount});
}

void PitchAnalyser::MeasureNoiseBands() {
    if (FrameCount <= 0) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        AnalysisFrame& f = Frames[Index(i)];
        f.Noise.fill(0.0f);
        if (i == 0 || i == FrameCount - 1) return;
        MeasureNoiseBandsOf(f, stored ? Spectrum[Index(i)] : scratch.Row(source, i),
                            scratch.Residual);
    };
    RunFrameTask(task, {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount});
}

void PitchAnalyser::MeasureNoiseFlux() {
    if (FrameCount <= 0) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        AnalysisFrame& f = Frames[Index(i)];
        f.Noise.fill(0.0f);
        if (i == 0 || i == FrameCount - 1) return;
        // Neighbours in array order. Recomputed rows: the scratch caches three,
        // so the later rows never evict the ones still in use here.
        if (stored) {
            MeasureNoiseFluxOf(f, Spectrum[Index(i - 1)], Spectrum[Index(i)],
                               Spectrum[Index(i + 1)]);
        } else {
            const BinRow& before = scratch.Row(source, i - 1);
            const BinRow& current = scratch.Row(source, i);
            const BinRow& after = scratch.Row(source, i + 1);
            MeasureNoiseFluxOf(f, before, current, after);
        }
    };
    RunFrameTask(task, {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount});
}

RowTask PitchAnalyser::FixedCombAndNoiseFluxTask(const SpectrumVisitor& visit) {
    return [this, visit](int i, const RowAccess& row) {
        AnalysisFrame& f = Frames[Index(i)];
        const BinRow& current = row(i);
        MeasureFixedCombHarmonics(f, current);
        f.Noise.fill(0.0f);
        if (i != 0 && i != FrameCount - 1) {
            const BinRow& before = row(i - 1);
            const BinRow& after = row(i + 1);
            MeasureNoiseFluxOf(f, before, current, after);
        }
        if (visit) visit(i, current);
    };
}

void PitchAnalyser::MeasureFixedCombAndNoiseFlux(const SpectrumVisitor& visit) {
    // The measures write disjoint fields (F0 and harmonics; noise) and read
    // only spectra, so one pass equals the two calls in either order.
    if (FrameCount <= 0) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) {
        MeasureFixedComb();
        return;
    }
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        const auto row = [&](int frame) -> const BinRow& {
            return stored ? Spectrum[Index(frame)] : scratch.Row(source, frame);
        };
        AnalysisFrame& f = Frames[Index(i)];
        const BinRow& current = row(i);
        MeasureFixedCombOf(f, current);
        f.Noise.fill(0.0f);
        if (i != 0 && i != FrameCount - 1) {
            const BinRow& before = row(i - 1);
            const BinRow& after = row(i + 1);
            MeasureNoiseFluxOf(f, before, current, after);
        }
        if (visit) visit(i, current);
    };
    // No progress of its own, but it ends early on a stop request.
    ProgressCounter stop({}, FrameCount, 0, Options.Stop);
    RunFrameTask(task,
                 {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount, .Progress = &stop});
}

void PitchAnalyser::SmoothNoiseBands() {
    // Centred moving average over w + 1 frames, w = Trunc(44100 / 50 /
    // HopSize * 0.5) + 1 (half a period of 50 Hz; 2 for the hop of 256, so
    // three frames), taken from the unsmoothed values. Frames too close to
    // either end keep their values.
    const int width =
        static_cast<int>(static_cast<long double>(AnalysisSampleRate) / 50 / HopSize * 0.5L) + 1;
    const int before = width / 2;
    const int after = (width + 1) / 2;
    const int span = before + after + 1;
    if (FrameCount < span) return;
    std::vector<float> original(Index(FrameCount));
    for (int band = 0; band < NoiseBandCount; ++band) {
        for (int i = 0; i < FrameCount; ++i)
            original[Index(i)] = Frames[Index(i)].Noise[Index(band)];
        for (int j = before; j <= FrameCount - 1 - after; ++j) {
            double sum = 0.0;
            for (int k = j - before; k <= j + after; ++k) sum += original[Index(k)];
            Frames[Index(j)].Noise[Index(band)] = static_cast<float>(sum / span);
        }
    }
}

void PitchAnalyser::Normalize() {
    float loudest = 0.0f;
    for (int i = 0; i < FrameCount; ++i)
        loudest = std::max(loudest, Frames[Index(i)].HarmonicTotal);
    if (loudest == 0.0f) return;
    const float gain = 30000.0f / loudest;
    for (int i = 0; i < FrameCount; ++i) {
        AnalysisFrame& f = Frames[Index(i)];
        f.HarmonicTotal = 0.0f;
        for (float& amplitude : f.Harmonic) {
            amplitude *= gain;
            f.HarmonicTotal += amplitude;
        }
        for (float& level : f.Noise) level *= gain;
    }
}

}  // namespace melodrift
