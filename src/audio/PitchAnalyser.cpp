#include "audio/PitchAnalyser.h"

#include <algorithm>
#include <cmath>

namespace melodrift {

namespace {

constexpr std::size_t Index(int i) {
    return static_cast<std::size_t>(i);
}

// The fixed comb's pitch [Hz].
constexpr float FixedCombF0 = 150.0f;

// Below this pitch [Hz] consecutive harmonics are at most one bin apart
// (one bin is 44100 / 2048 = 21.53 Hz).
constexpr float MinCombSpacingHz = 21.0f;

// Harmonics whose nearest bin reaches NearestBin(18000 Hz) = 836 measure 0.
const std::int32_t HarmonicBinLimit = NearestBin(18000.0);

// Track of one candidate chain while choosing the pitch.
struct PitchTrack {
    std::int32_t ChainLength = 0;  // frames in the chain
    float RankScore = 0.0f;        // sum, then mean, of 1 / (slot + 1)
    float StrengthScore = 0.0f;    // sum, then mean, of Strength
    float Ratio = 1.0f;            // last frame-to-frame frequency ratio
};

// Slots whose Strength is below this do not take part in tracking.
constexpr double TrackStrengthMin = 3.3;
// A continuation must lie within this frequency ratio of the prediction.
constexpr float TrackRatioMax = 1.1f;
// Chains this long or shorter never supply a pitch.
constexpr std::int32_t TrackChainMin = 5;
// Mean Strength a chain needs to voice its frames.
constexpr double TrackMeanStrengthMin = 4.0;
static_assert(TrackStrengthMin >= MinTracedStrength, "the tracker traces only candidates the voicing check measures");

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

PitchAnalyser::PitchAnalyser() {
    HannWindow();
    NoiseBands();
}

void PitchAnalyser::Clear() {
    FrameCount = 0;
    HeadFrame = -1;
    TailFrame = -1;
    Frames.clear();
    Spectrum.clear();
    Autocorr.clear();
    Confidence.clear();
    Candidates.clear();
    std::vector<std::int16_t>().swap(samples_);
    borrowedWave_ = nullptr;
    samplesHeld_ = false;
    rowScratch_.reset();
}

void PitchAnalyser::ReleaseSpectra() {
    BinRows().swap(Spectrum);
    BinRows().swap(Autocorr);
    std::vector<std::int16_t>().swap(samples_);
    borrowedWave_ = nullptr;
    samplesHeld_ = false;
    rowScratch_.reset();
}

void PitchAnalyser::InitFrame(int index) {
    if (index < 0 || index >= FrameCount) return;
    AnalysisFrame& f = Frames[Index(index)];
    f.SamplePos = 0;
    f.PrevFrame = -1;
    f.NextFrame = -1;
    f.F0 = 0.0f;
    f.HarmonicTotal = 0.0f;
    f.Harmonic.fill(0.0f);
    f.Noise.fill(0.0f);
    f.TargetF0 = 0.0f;
    f.EnvelopeScale = 1.0f;
    f.NoiseFloor = 0.2f;
    f.NoiseFloorLevel = 2000.0f;
    f.TiltExponent = 1.0f;
}

void PitchAnalyser::InterpolateFrame(int dest, int a, int b, float t) {
    const auto valid = [this](int i) { return i >= 0 && i < FrameCount; };
    if (!valid(dest) || !valid(a) || !valid(b)) return;
    AnalysisFrame& d = Frames[Index(dest)];
    const AnalysisFrame fa = Frames[Index(a)];
    const AnalysisFrame fb = Frames[Index(b)];
    const auto blend = [t](float x, float y) {
        return static_cast<float>(x + static_cast<long double>(t) * (static_cast<long double>(y) - x));
    };
    d.F0 = blend(fa.F0, fb.F0);
    if (d.F0 > 0.0f) {
        d.HarmonicTotal = blend(fa.HarmonicTotal, fb.HarmonicTotal);
        for (std::size_t h = 0; h < d.Harmonic.size(); ++h) d.Harmonic[h] = blend(fa.Harmonic[h], fb.Harmonic[h]);
    }
    for (std::size_t n = 0; n < d.Noise.size(); ++n) d.Noise[n] = blend(fa.Noise[n], fb.Noise[n]);
    d.TargetF0 = blend(fa.TargetF0, fb.TargetF0);
    d.EnvelopeScale = blend(fa.EnvelopeScale, fb.EnvelopeScale);
    d.NoiseFloor = blend(fa.NoiseFloor, fb.NoiseFloor);
    d.NoiseFloorLevel = blend(fa.NoiseFloorLevel, fb.NoiseFloorLevel);
    d.TiltExponent = blend(fa.TiltExponent, fb.TiltExponent);
}

int PitchAnalyser::AddFrame(std::int32_t position) {
    const auto append = [this](bool initialise) {
        Frames.push_back(AnalysisFrame{});
        ++FrameCount;
        if (initialise) InitFrame(FrameCount - 1);
        return FrameCount - 1;
    };

    if (HeadFrame < 0) {
        const int index = append(true);
        HeadFrame = index;
        TailFrame = index;
        return index;
    }

    if (position < 0) {
        // A new head before the first frame; then every position moves by
        // -position so that the head lands on sample 0.
        const int index = append(true);
        AnalysisFrame& f = Frames[Index(index)];
        f.SamplePos = position;
        f.NextFrame = HeadFrame;
        Frames[Index(HeadFrame)].PrevFrame = index;
        HeadFrame = index;
        for (auto& frame : Frames) frame.SamplePos -= position;
        return index;
    }

    // The time chain is in increasing SamplePos, so a position at or past the
    // tail ends the walk at the tail: start there and the frame placement of
    // a long recording stays linear instead of quadratic.
    int c = position >= Frames[Index(TailFrame)].SamplePos ? TailFrame : HeadFrame;
    while (Frames[Index(c)].NextFrame >= 0 && position > Frames[Index(c)].SamplePos) {
        c = Frames[Index(c)].NextFrame;
    }
    const std::int32_t cPos = Frames[Index(c)].SamplePos;
    if (position == cPos) return c;

    if (position > cPos) {
        // Past the tail.
        const int index = append(true);
        AnalysisFrame& f = Frames[Index(index)];
        f.SamplePos = position;
        f.PrevFrame = c;
        Frames[Index(c)].NextFrame = index;
        TailFrame = index;
        return index;
    }

    const int q = Frames[Index(c)].PrevFrame;
    if (q < 0) {
        // Before a head that is not at sample 0: a plain new head (the list
        // the analyser builds always has its head at 0, so this is only
        // reached by other callers).
        const int index = append(true);
        AnalysisFrame& f = Frames[Index(index)];
        f.SamplePos = position;
        f.NextFrame = c;
        Frames[Index(c)].PrevFrame = index;
        HeadFrame = index;
        return index;
    }

    // Between q and c: a zeroed frame, interpolated from its two neighbours.
    const int index = append(false);
    const std::int32_t qPos = Frames[Index(q)].SamplePos;
    const auto t = static_cast<float>(static_cast<long double>(position - qPos) / (cPos - qPos));
    Frames[Index(index)].SamplePos = position;
    InterpolateFrame(index, q, c, t);
    AnalysisFrame& f = Frames[Index(index)];
    f.PrevFrame = q;
    f.NextFrame = c;
    Frames[Index(q)].NextFrame = index;
    Frames[Index(c)].PrevFrame = index;
    return index;
}

bool PitchAnalyser::SpectraStored() const {
    return FrameCount > 0 && Spectrum.size() == Index(FrameCount);
}

PaddedSamples PitchAnalyser::HeldSamples() const {
    return borrowedWave_ != nullptr ? PaddedSamples(*borrowedWave_) : PaddedSamples(samples_);
}

SpectrumSource PitchAnalyser::Source(const PaddedSamples& samples) const {
    return SpectrumSource{&samples, HopSize};
}

void PitchAnalyser::SpectrumRow(int frame, BinRow& row) {
    if (frame < 0 || frame >= FrameCount) {
        row.fill(0.0);
    } else if (SpectraStored()) {
        row = Spectrum[Index(frame)];
    } else if (samplesHeld_) {
        if (!rowScratch_) rowScratch_ = std::make_unique<FrameScratch>();
        const PaddedSamples samples = HeldSamples();
        row = rowScratch_->Row(Source(samples), frame);
    } else {
        row.fill(0.0);
    }
}

void PitchAnalyser::ComputeSpectra(const WaveBuffer& wave) {
    if (wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) || wave.BitsPerSample() != 16) {
        return;
    }
    Clear();
    const auto sampleCount = static_cast<std::int64_t>(wave.SampleCount());

    // One frame every HopSize samples from 0 up to and including the last
    // multiple within the recording (N itself when N is a multiple), then one
    // on the last sample; N = 0 gives frames at -1 and 0, shifted to 0 and 1.
    Frames.reserve(static_cast<std::size_t>(sampleCount / HopSize + 2));
    for (std::int64_t b = 0; b <= sampleCount / HopSize; ++b) {
        AddFrame(static_cast<std::int32_t>(b * HopSize));
    }
    AddFrame(static_cast<std::int32_t>(sampleCount - 1));

    const auto n = Index(FrameCount);
    if (Options.KeepAutocorr) Autocorr.assign(n, BinRow{});
    Confidence.assign(n, 0.0f);
    Candidates.assign(n, CandidateSlots{});

    if (!Options.KeepSpectra && Options.BorrowWave) {
        // Rows are recomputed from the wave itself whenever a step needs them.
        borrowedWave_ = &wave;
        samplesHeld_ = true;
        return;
    }
    if (!Options.KeepSpectra) {
        // Rows are recomputed from this copy whenever a step needs them.
        // Channel 0, 16-bit little-endian, read straight from the buffer.
        const auto bytes = wave.SampleData();
        const std::size_t stride = wave.BlockAlign();
        const std::size_t count = stride >= 2 ? std::min(static_cast<std::size_t>(sampleCount), bytes.size() / stride) : 0;
        samples_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = bytes.data() + i * stride;
            samples_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        }
        samplesHeld_ = true;
        return;
    }
    // The window of frame i is positioned by its index, not its SamplePos:
    // recording samples i * HopSize - 1024 .. i * HopSize + 1023.
    Spectrum.assign(n, BinRow{});
    const PaddedSamples samples(wave);
    ProgressCounter progress(Options.Progress, 2 * FrameCount, 0, Options.Stop);
    RunSpectrumStep(samples, HopSize, Spectrum, FrameCount, Options.WorkerCount, &progress);
}

void PitchAnalyser::FindCandidates(double f1Hz, double f2Hz, const RowTask& alongside) {
    lags_ = LagLimits(f1Hz, f2Hz);
    const bool stored = SpectraStored();
    if (FrameCount <= 0 || (!stored && !samplesHeld_)) return;
    if (Options.KeepAutocorr && Autocorr.size() != Index(FrameCount)) Autocorr.assign(Index(FrameCount), BinRow{});
    if (!Options.KeepAutocorr) BinRows().swap(Autocorr);
    Confidence.assign(Index(FrameCount), 0.0f);
    Candidates.assign(Index(FrameCount), CandidateSlots{});
    // With stored spectra, computing them was the first half of the progress;
    // otherwise this step computes them too and is the whole of it.
    ProgressCounter progress(Options.Progress, stored ? 2 * FrameCount : FrameCount, stored ? FrameCount : 0,
                             Options.Stop);
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    RunCandidateStep(Spectrum, Autocorr, Candidates, Confidence, Frames, lags_, stored ? nullptr : &source,
                     FrameCount, Options.WorkerCount, &progress, &alongside);
}

void PitchAnalyser::TrackPitch() {
    const int n = FrameCount;
    if (n <= 0 || Candidates.size() < Index(n)) return;
    const auto usable = [](const PitchCandidate& c) {
        return c.Freq != 0.0f && !(c.Strength < TrackStrengthMin);
    };

    std::vector<std::array<std::int32_t, melodrift::CandidateCount>> trackOf(Index(n));
    for (auto& row : trackOf) row.fill(-1);
    std::vector<PitchTrack> tracks;

    for (int i = 0; i < n; ++i) {
        const CandidateSlots& list = Candidates[Index(i)];
        for (std::size_t j = 0; j < list.size() && usable(list[j]); ++j) {
            std::int32_t& id = trackOf[Index(i)][j];
            if (id < 0) {
                id = static_cast<std::int32_t>(tracks.size());
                tracks.push_back(PitchTrack{});
            }
            PitchTrack& track = tracks[Index(id)];
            track.ChainLength += 1;
            track.StrengthScore = static_cast<float>(track.StrengthScore + static_cast<double>(list[j].Strength));
            track.RankScore = static_cast<float>(track.RankScore + 1.0 / static_cast<double>(j + 1));
            if (i + 1 >= n) continue;
            // Follow the chain into the next frame: the first free slot within
            // the ratio limit of the predicted frequency. Slot 0 of this frame
            // is linked first, so stronger candidates claim continuations first.
            const float predicted = list[j].Freq * track.Ratio;
            const CandidateSlots& next = Candidates[Index(i + 1)];
            for (std::size_t k = 0; k < next.size() && usable(next[k]); ++k) {
                if (trackOf[Index(i + 1)][k] >= 0) continue;
                const float fk = next[k].Freq;
                const float distance = std::max(predicted, fk) / std::min(predicted, fk);
                if (distance < TrackRatioMax) {
                    trackOf[Index(i + 1)][k] = id;
                    track.Ratio = fk / list[j].Freq;
                    break;
                }
            }
        }
    }

    for (auto& track : tracks) {
        track.RankScore = track.RankScore / static_cast<float>(track.ChainLength);
        track.StrengthScore = track.StrengthScore / static_cast<float>(track.ChainLength);
    }

    for (int i = 0; i < n; ++i) {
        const CandidateSlots& list = Candidates[Index(i)];
        int chosen = -1;
        float best = 0.0f;
        for (std::size_t j = 0; j < list.size() && list[j].Freq != 0.0f; ++j) {
            const std::int32_t id = trackOf[Index(i)][j];
            if (id < 0) continue;
            const PitchTrack& track = tracks[Index(id)];
            if (track.ChainLength > TrackChainMin && track.RankScore > best) {
                best = track.RankScore;
                chosen = static_cast<int>(j);
            }
        }
        PrefetchAhead(Frames, Index(i));
        AnalysisFrame& frame = Frames[Index(i)];
        if (chosen >= 0 && !(tracks[Index(trackOf[Index(i)][Index(chosen)])].StrengthScore < TrackMeanStrengthMin)) {
            frame.F0 = list[Index(chosen)].Freq;
            Confidence[Index(i)] = list[Index(chosen)].Strength;
        } else {
            frame.F0 = 0.0f;
            Confidence[Index(i)] = 0.0f;
        }
    }

    BridgeGaps();
}

void PitchAnalyser::BridgeGaps() {
    // Two voiced frames at most 20 frames apart whose pitches are within a
    // factor 1.5 of each other: every frame between them (both ends included)
    // re-picks its strongest candidate within ±20 % of the straight line
    // joining the two pitches.
    constexpr int maxGap = 20;
    constexpr double maxRatio = 1.5;
    int anchor = 0;
    for (int i = 1; i < FrameCount; ++i) {
        PrefetchAhead(Frames, Index(i));
        const float anchorF0 = Frames[Index(anchor)].F0;
        const float currentF0 = Frames[Index(i)].F0;
        if (i - anchor > maxGap || anchorF0 == 0.0f) {
            anchor = i;
            continue;
        }
        if (currentF0 == 0.0f) continue;
        const float ratio = std::max(currentF0, anchorF0) / std::min(currentF0, anchorF0);
        if (ratio > maxRatio) continue;
        if (i - anchor >= 2) {
            for (int n = anchor; n <= i; ++n) {
                // The straight line between the two pitches, in extended
                // precision, stored as a single.
                const long double slope = (static_cast<long double>(currentF0) - anchorF0) / (i - anchor);
                const auto v = static_cast<float>(anchorF0 + slope * (n - anchor));
                RepickF0(n, MinTracedStrength, v / 1.2, v * 1.2);
            }
        }
        anchor = i;
    }
}

void PitchAnalyser::RepickF0(int frame, float minStrength, double f1Hz, double f2Hz) {
    if (frame < 0 || frame >= FrameCount || Candidates.size() < Index(FrameCount)) return;
    const double lo = std::min(f1Hz, f2Hz);
    const double hi = std::max(f1Hz, f2Hz);
    const CandidateSlots& list = Candidates[Index(frame)];
    int chosen = -1;
    for (std::size_t j = 0; j < list.size(); ++j) {
        const PitchCandidate& c = list[j];
        if (c.Freq < lo || c.Freq > hi || c.Strength < minStrength) continue;
        if (chosen < 0 || c.Strength > list[Index(chosen)].Strength) chosen = static_cast<int>(j);
    }
    AnalysisFrame& f = Frames[Index(frame)];
    if (chosen >= 0) {
        f.F0 = list[Index(chosen)].Freq;
        Confidence[Index(frame)] = list[Index(chosen)].Strength;
    } else {
        f.F0 = 0.0f;
        Confidence[Index(frame)] = 0.0f;
    }
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
        if (k > 0 && k < HarmonicBinLimit) amplitude = static_cast<float>(s[Index(k - 1)] + s[Index(k)] + s[Index(k + 1)]);
        f.Harmonic[Index(h - 1)] = amplitude;
        f.HarmonicTotal += amplitude;
    }
}

// A comb of teeth every 150 Hz, each the triangularly weighted peak of the
// spectrum within ±300 Hz: weight 1 at the tooth, falling towards 0 at the
// window's upper edge. The teeth and weights are the same for every frame.
struct CombTooth {
    int First = 0;                   // lowest bin of the window
    std::vector<long double> Weights;  // one per bin from First on
    std::vector<double> ApproxWeights; // the same rounded to double
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
                tooth.Weights.push_back(1.0L - static_cast<long double>(std::abs(k - c)) / (hi - c));
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
    const double largest = std::max(std::max(partial[0], partial[1]), std::max(partial[2], partial[3]));
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
            return bands[Index(x)].Last - bands[Index(x)].First > bands[Index(y)].Last - bands[Index(y)].First;
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
    const auto width = [&bands](int band) { return bands[Index(band)].Last - bands[Index(band)].First + 1; };
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
        f.Noise[Index(band)] = static_cast<float>(0.003 * sums[Index(band)] / (weight * weight + 1.0));
    }
}

// Band sums of the spectrum's change against the mean of its two neighbours.
void MeasureNoiseFluxOf(AnalysisFrame& f, const BinRow& before, const BinRow& s, const BinRow& after) {
    const auto sums = BandSums([&](std::size_t bin) { return std::fabs(s[bin] - (before[bin] + after[bin]) / 2.0); });
    for (int band = 0; band < NoiseBandCount; ++band) {
        f.Noise[Index(band)] = static_cast<float>(0.002 * sums[Index(band)]);
    }
}

}  // namespace

void PitchAnalyser::MeasureHarmonics() {
    if (FrameCount <= 0) return;
    if (SpectraStored()) {
        for (int i = 0; i < FrameCount; ++i) MeasureHarmonicsOf(Frames[Index(i)], Spectrum[Index(i)]);
        return;
    }
    if (!samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
        MeasureHarmonicsOf(Frames[Index(i)], scratch.Row(source, i));
    };
    RunFrameTask(task, FrameCount, Options.WorkerCount, nullptr);
}

void PitchAnalyser::MeasureHarmonicsAndNoiseBands() {
    // Both measures of each frame from one recomputed row; they read F0 and
    // write disjoint fields, so this equals MeasureHarmonics then
    // MeasureNoiseBands.
    if (FrameCount <= 0 || !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
        AnalysisFrame& f = Frames[Index(i)];
        const BinRow& row = scratch.Row(source, i);
        MeasureHarmonicsOf(f, row);
        f.Noise.fill(0.0f);
        if (i != 0 && i != FrameCount - 1) MeasureNoiseBandsOf(f, row, scratch.Residual);
    };
    RunFrameTask(task, FrameCount, Options.WorkerCount, nullptr);
}

void PitchAnalyser::MeasureFixedComb() {
    if (SpectraStored()) {
        for (int i = 0; i < FrameCount; ++i) MeasureFixedCombOf(Frames[Index(i)], Spectrum[Index(i)]);
        return;
    }
    if (!samplesHeld_) {
        // Nothing to measure on: only the comb's pitch is set.
        for (int i = 0; i < FrameCount; ++i) Frames[Index(i)].F0 = FixedCombF0;
        return;
    }
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
        MeasureFixedCombOf(Frames[Index(i)], scratch.Row(source, i));
    };
    RunFrameTask(task, FrameCount, Options.WorkerCount, nullptr);
}

void PitchAnalyser::MeasureNoiseBands() {
    if (FrameCount <= 0) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
        AnalysisFrame& f = Frames[Index(i)];
        f.Noise.fill(0.0f);
        if (i == 0 || i == FrameCount - 1) return;
        MeasureNoiseBandsOf(f, stored ? Spectrum[Index(i)] : scratch.Row(source, i), scratch.Residual);
    };
    RunFrameTask(task, FrameCount, Options.WorkerCount, nullptr);
}

void PitchAnalyser::MeasureNoiseFlux() {
    if (FrameCount <= 0) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
        AnalysisFrame& f = Frames[Index(i)];
        f.Noise.fill(0.0f);
        if (i == 0 || i == FrameCount - 1) return;
        // Neighbours in array order. Recomputed rows: the scratch caches three,
        // so the later rows never evict the ones still in use here.
        if (stored) {
            MeasureNoiseFluxOf(f, Spectrum[Index(i - 1)], Spectrum[Index(i)], Spectrum[Index(i + 1)]);
        } else {
            const BinRow& before = scratch.Row(source, i - 1);
            const BinRow& current = scratch.Row(source, i);
            const BinRow& after = scratch.Row(source, i + 1);
            MeasureNoiseFluxOf(f, before, current, after);
        }
    };
    RunFrameTask(task, FrameCount, Options.WorkerCount, nullptr);
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
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
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
    RunFrameTask(task, FrameCount, Options.WorkerCount, &stop);
}

void PitchAnalyser::VisitSpectra(const SpectrumVisitor& visit) {
    if (FrameCount <= 0 || !visit) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTaskWorker::Task task = [&](int i, FrameScratch& scratch) {
        visit(i, stored ? Spectrum[Index(i)] : scratch.Row(source, i));
    };
    RunFrameTask(task, FrameCount, Options.WorkerCount, nullptr);
}

void PitchAnalyser::SmoothNoiseBands() {
    // Centred moving average over w + 1 frames, w = Trunc(44100 / 50 /
    // HopSize * 0.5) + 1 (half a period of 50 Hz; 2 for the hop of 256, so
    // three frames), taken from the unsmoothed values. Frames too close to
    // either end keep their values.
    const int width = static_cast<int>(static_cast<long double>(AnalysisSampleRate) / 50 / HopSize * 0.5L) + 1;
    const int before = width / 2;
    const int after = (width + 1) / 2;
    const int span = before + after + 1;
    if (FrameCount < span) return;
    std::vector<float> original(Index(FrameCount));
    for (int band = 0; band < NoiseBandCount; ++band) {
        for (int i = 0; i < FrameCount; ++i) original[Index(i)] = Frames[Index(i)].Noise[Index(band)];
        for (int j = before; j <= FrameCount - 1 - after; ++j) {
            double sum = 0.0;
            for (int k = j - before; k <= j + after; ++k) sum += original[Index(k)];
            Frames[Index(j)].Noise[Index(band)] = static_cast<float>(sum / span);
        }
    }
}

void PitchAnalyser::Normalize() {
    float loudest = 0.0f;
    for (int i = 0; i < FrameCount; ++i) loudest = std::max(loudest, Frames[Index(i)].HarmonicTotal);
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

void PitchAnalyser::AnalyzePitch(const WaveBuffer& wave, const RowTask& alongside) {
    if (wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) || wave.BitsPerSample() != 16) {
        return;
    }
    ComputeSpectra(wave);
    TracePitch(alongside);
}

void PitchAnalyser::TracePitch(const RowTask& alongside) {
    FindCandidates(50.0, 882.0, alongside);
    if (StopRequested()) return;  // the caller drops this analysis
    TrackPitch();
}

void PitchAnalyser::Analyze(const WaveBuffer& wave) {
    if (wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) || wave.BitsPerSample() != 16) {
        return;
    }
    AnalyzePitch(wave);
    if (StopRequested()) return;
    if (SpectraStored()) {
        MeasureHarmonics();
        MeasureNoiseBands();
    } else {
        MeasureHarmonicsAndNoiseBands();
    }
    SmoothNoiseBands();
    Normalize();
}

}  // namespace melodrift
