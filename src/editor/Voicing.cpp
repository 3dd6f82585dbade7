#include "editor/Voicing.h"

#include "audio/PitchAnalyser.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace melodrift {

namespace {

constexpr double kBinHz = 44100.0 / 2048.0;
// Harmonics are measured below this frequency; above it a vibrato smears
// them into each other.
constexpr double kContrastTopHz = 4000.0;
constexpr int kMaxHarmonics = 40;
constexpr double kMinResolvedSpacingBins = 3.2;  // f0 about 69 Hz
constexpr float kUnresolvedContrastDb = 99.0f;
// Band edges of the high-band test [Hz].
constexpr double kLowBandFromHz = 65.0;
constexpr double kLowBandToHz = 1500.0;
constexpr double kHighBandFromHz = 3000.0;
constexpr double kHighBandToHz = 11000.0;
// Keeps the logarithms finite in digital silence.
constexpr double kTinyPower = 1e-12;
// A stable neighbour's pitch is the median of its frames nearest the run.
constexpr int kNeighbourFrames = 10;

int BinOf(double hz) { return static_cast<int>(std::lround(hz / kBinHz)); }

// BinOf without the division and the library call, for the harmonic loop.
// hz · (1 / kBinHz) is within 3 · 2^-53 relative of the correctly rounded
// quotient, under 4e-10 absolute for quotients below 2^20, so both round to
// the same integer unless the fraction lies within 1e-9 of one half; those
// (and anything negative, huge or not a number) take the exact path.
int NearBinOf(double hz) {
    constexpr double inverseBinHz = 1.0 / kBinHz;
    const double q = hz * inverseBinHz;
    if (!(q >= 0.0 && q < 1048576.0)) return BinOf(hz);
    const int whole = static_cast<int>(q);
    const double fraction = q - whole;  // exact
    if (std::fabs(fraction - 0.5) < 1e-9) return BinOf(hz);
    return whole + (fraction > 0.5 ? 1 : 0);
}

double Power(const BinRow& spectrum, int bin) {
    if (bin < 0 || bin >= SpectrumBins) return 0.0;
    return spectrum[static_cast<std::size_t>(bin)] * spectrum[static_cast<std::size_t>(bin)];
}

double BandPower(const BinRow& spectrum, double fromHz, double toHz) {
    const int first = std::max(0, BinOf(fromHz));
    const int last = std::min(SpectrumBins - 1, BinOf(toHz));
    double sum = 0.0;
    for (int k = first; k <= last; ++k) sum += Power(spectrum, k);
    return sum;
}

double Cents(float hz) { return 1200.0 * std::log2(static_cast<double>(hz) / 220.0) + 5700.0; }

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A run of trusted voiced frames without large pitch steps.
struct Run {
    int first = 0;
    int last = 0;  // inclusive
    double medianCents = 0.0;
    int Length() const { return last - first + 1; }
};

}  // namespace

double HarmonicContrastRatio(const BinRow& spectrum, float f0Hz) {
    if (!(f0Hz > 0.0f) || !std::isfinite(f0Hz)) return 0.0;
    const double f0 = f0Hz;
    // Harmonics closer than this [bins] are not resolved by the 2048-point
    // Hann window (its main lobe spans ±2 bins); the contrast says nothing
    // there and is left at its passing value.
    if (f0 / kBinHz < kMinResolvedSpacingBins) return std::numeric_limits<double>::infinity();
    // Peak: the strongest of the three bins around harmonic h; trough: the
    // bin nearest the midpoint h + 1/2, where a steady harmonic tone's window
    // lobes have decayed. White noise gives a contrast of about 2.6 dB (the
    // largest of three bins against one).
    double peaks = 0.0;
    double troughs = 0.0;
    // Every bin read lies inside the row: h f0 is at least 3.2 bins, so the
    // peak bin is at least 3, and (h + 1/2) f0 < 4000 Hz keeps every bin
    // at or below 187.
    const auto power = [&spectrum](int bin) {
        const double magnitude = spectrum[static_cast<std::size_t>(bin)];
        return magnitude * magnitude;
    };
    for (int h = 1; h <= kMaxHarmonics && (h + 0.5) * f0 < kContrastTopHz; ++h) {
        const int peakBin = NearBinOf(h * f0);
        peaks += std::max({power(peakBin - 1), power(peakBin), power(peakBin + 1)});
        troughs += power(NearBinOf((h + 0.5) * f0));
    }
    return (peaks + kTinyPower) / (troughs + kTinyPower);
}

float ContrastDb(double ratio) {
    if (ratio == 0.0) return 0.0f;
    if (std::isinf(ratio)) return kUnresolvedContrastDb;
    return static_cast<float>(10.0 * std::log10(ratio));
}

float HarmonicContrastDb(const BinRow& spectrum, float f0Hz) {
    return ContrastDb(HarmonicContrastRatio(spectrum, f0Hz));
}

float HighBandExcessDb(const BinRow& spectrum) {
    const double low = BandPower(spectrum, kLowBandFromHz, kLowBandToHz);
    const double high = BandPower(spectrum, kHighBandFromHz, kHighBandToHz);
    return static_cast<float>(10.0 * std::log10((high + kTinyPower) / (low + kTinyPower)));
}

VoicingEvidence MeasureVoicingEvidence(const BinRow& spectrum, float f0Hz) {
    VoicingEvidence evidence;
    if (!(f0Hz > 0.0f) || !std::isfinite(f0Hz)) return evidence;
    evidence.HarmonicContrastDb = HarmonicContrastDb(spectrum, f0Hz);
    evidence.HighBandExcessDb = HighBandExcessDb(spectrum);
    return evidence;
}

CandidateEvidence MeasureCandidateEvidence(const BinRow& spectrum,
                                           const CandidateSlots& candidates) {
    CandidateEvidence evidence;
    // Slots are strongest first: a frame whose first slot cannot be traced
    // stays unvoiced, and its evidence is never read.
    if (!(candidates[0].Strength >= MinTracedStrength)) return evidence;
    for (std::size_t c = 0; c < candidates.size() && candidates[c].Strength >= MinTracedStrength;
         ++c)
        evidence.HarmonicContrastRatio[c] = HarmonicContrastRatio(spectrum, candidates[c].Freq);
    evidence.HighBandExcessDb = HighBandExcessDb(spectrum);
    return evidence;
}

VoicingEvidence EvidenceAtTracedPitch(const CandidateEvidence& measured,
                                      const CandidateSlots& candidates, float f0Hz) {
    VoicingEvidence evidence;
    if (!(f0Hz > 0.0f) || !std::isfinite(f0Hz)) return evidence;
    evidence.HighBandExcessDb = measured.HighBandExcessDb;
    // The tracker takes its pitch from the frame's own candidates, so one of
    // them matches exactly; a pitch from anywhere else has no contrast
    // measured and passes this test (the others still apply).
    evidence.HarmonicContrastDb = kUnresolvedContrastDb;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        if (candidates[c].Freq == f0Hz) {
            evidence.HarmonicContrastDb = ContrastDb(measured.HarmonicContrastRatio[c]);
            break;
        }
    }
    return evidence;
}

std::vector<std::uint8_t> CheckVoicing(std::span<const AnalysisFrame> frames,
                                       std::span<const float> confidence,
                                       std::span<const VoicingEvidence> evidence,
                                       const VoicingOptions& options) {
    const int n = static_cast<int>(frames.size());
    std::vector<std::uint8_t> rejected(frames.size(), 0);
    auto voiced = [&](int i) {
        const float f0 = frames[static_cast<std::size_t>(i)].TargetF0;
        return f0 > 0.0f && std::isfinite(f0);
    };

    // 1–3: each frame on its own.
    for (int i = 0; i < n; ++i) {
        PrefetchAhead(frames, static_cast<std::size_t>(i));
        if (!voiced(i)) continue;
        const auto k = static_cast<std::size_t>(i);
        bool reject = false;
        if (k < evidence.size()) {
            reject = evidence[k].HarmonicContrastDb < options.MinHarmonicContrastDb ||
                     evidence[k].HighBandExcessDb > options.MaxHighBandExcessDb;
        }
        if (k < confidence.size() && static_cast<double>(confidence[k]) < options.MinConfidence)
            reject = true;
        rejected[k] = reject ? 1 : 0;
    }

    // 4: runs of the frames kept so far, split at unvoiced frames and at
    // pitch steps larger than RunBreakCents.
    std::vector<Run> runs;
    std::vector<double> cents(frames.size(), 0.0);
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        PrefetchAhead(frames, k);
        const bool kept = voiced(i) && rejected[k] == 0;
        if (!kept) continue;
        cents[k] = Cents(frames[k].TargetF0);
        const bool continues = !runs.empty() && runs.back().last == i - 1 &&
                               std::fabs(cents[k] - cents[k - 1]) <= options.RunBreakCents;
        if (continues) {
            runs.back().last = i;
        } else {
            runs.push_back(Run{i, i, 0.0});
        }
    }
    for (Run& run : runs)
        run.medianCents =
            Median(std::vector<double>(cents.begin() + run.first, cents.begin() + run.last + 1));

    // The pitch of a stable run at its end nearest to frame `towards`.
    auto edgeCents = [&](const Run& run, bool atEnd) {
        const int count = std::min(run.Length(), kNeighbourFrames);
        const int from = atEnd ? run.last - count + 1 : run.first;
        return Median(std::vector<double>(cents.begin() + from, cents.begin() + from + count));
    };

    const int runCount = static_cast<int>(runs.size());
    for (int r = 0; r < runCount; ++r) {
        const Run& run = runs[static_cast<std::size_t>(r)];
        if (run.Length() >= options.MaxShortRun) continue;
        bool nearStable = false;
        bool hasStable = false;
        for (int q = r - 1; q >= 0; --q) {
            const Run& other = runs[static_cast<std::size_t>(q)];
            if (run.first - other.last > options.NeighbourReachFrames) break;
            if (other.Length() < options.MaxShortRun) continue;
            hasStable = true;
            nearStable = nearStable || std::fabs(edgeCents(other, true) - run.medianCents) <=
                                           options.MaxJumpCents;
            break;
        }
        for (int q = r + 1; q < runCount; ++q) {
            const Run& other = runs[static_cast<std::size_t>(q)];
            if (other.first - run.last > options.NeighbourReachFrames) break;
            if (other.Length() < options.MaxShortRun) continue;
            hasStable = true;
            nearStable = nearStable || std::fabs(edgeCents(other, false) - run.medianCents) <=
                                           options.MaxJumpCents;
            break;
        }
        const bool reject = hasStable ? !nearStable : run.Length() < options.MinLoneRun;
        if (reject)
            for (int i = run.first; i <= run.last; ++i) rejected[static_cast<std::size_t>(i)] = 1;
    }
    return rejected;
}

}  // namespace melodrift
