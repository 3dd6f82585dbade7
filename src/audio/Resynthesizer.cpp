#include "audio/Resynthesizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace melodrift {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kClampLevel = 32000.0;  // output limit, a little below full scale

// Noise bands: the lowest starts at 50 Hz, each spans a ratio of 1.45.
constexpr double kLowestBandHz = 50.0;
constexpr double kBandRatio = 1.45;
constexpr double kNoiseAmplitude = 150.0;  // largest target amplitude of one pass
// Ten passes of one sample short of the table length: indices 0..44089 get
// ten overlapping contributions, the last ten get nine.
constexpr int kNoisePasses = 10;
constexpr int kNoisePassLength = Resynthesizer::NoiseTableLength - 1;

// Angular step per sample of a frequency [Hz]: HzToBin(f) / 2048 · 2π.
double StepOf(double hz) { return HzToBin(hz) / FftSize * kTwoPi; }

// Noise gain of one side: falls linearly from 1 as the harmonic part grows,
// reaching the floor at a harmonic total of NoiseFloorLevel.
double NoiseGain(const SynthParams& params, double harmonicTotal) {
    const double floor = params.NoiseFloor;
    if (!(params.NoiseFloorLevel > 0.0f)) return floor;  // no ramp: the floor alone
    return std::max(1.0 - (1.0 - floor) / params.NoiseFloorLevel * harmonicTotal, floor);
}

}  // namespace

LcgRandom& LcgRandom::Default() {
    static LcgRandom random(0);
    return random;
}

Resynthesizer::Resynthesizer() : Resynthesizer(LcgRandom::Default()) {}

Resynthesizer::Resynthesizer(LcgRandom& random)
    : noiseTables_(static_cast<std::size_t>(NoiseBandCount) * NoiseTableLength, 0.0f) {
    BuildNoiseTables(random);
}

std::span<const float> Resynthesizer::NoiseTable(int band) const {
    if (band < 0 || band >= NoiseBandCount) return {};
    return std::span<const float>(noiseTables_)
        .subspan(static_cast<std::size_t>(band) * NoiseTableLength, NoiseTableLength);
}

void Resynthesizer::BuildNoiseTables(LcgRandom& random) {
    noiseTables_.assign(static_cast<std::size_t>(NoiseBandCount) * NoiseTableLength, 0.0f);
    double lo = kLowestBandHz;
    for (int band = 0; band < NoiseBandCount; ++band) {
        const double hi = lo * kBandRatio;
        // One period of the lower edge: 882 samples for band 0.
        const auto segmentLength = static_cast<std::int32_t>(AnalysisSampleRate / lo);
        float* table = noiseTables_.data() + static_cast<std::size_t>(band) * NoiseTableLength;

        double targetStep = StepOf(lo + random.Next() * (hi - lo));
        double targetAmplitude = random.Next() * kNoiseAmplitude;
        double step = 0.0;
        double amplitude = 0.0;
        double stepIncrement = 0.0;
        double amplitudeIncrement = 0.0;
        double phase = 0.0;
        std::int32_t k = 0;
        for (int j = 0; j < kNoisePasses * kNoisePassLength; ++j) {
            if (k == 0) {
                step = targetStep;
                amplitude = targetAmplitude;
                targetStep = StepOf(lo + random.Next() * (hi - lo));
                targetAmplitude = random.Next() * kNoiseAmplitude;
                stepIncrement = (targetStep - step) / segmentLength;
                amplitudeIncrement = (targetAmplitude - amplitude) / segmentLength;
            }
            table[j % NoiseTableLength] +=
                static_cast<float>(std::trunc(std::sin(phase) * amplitude));
            phase += step;
            step += stepIncrement;
            amplitude += amplitudeIncrement;
            k = (k + 1) % segmentLength;
        }
        lo = hi;
    }
}

double Resynthesizer::EnvelopeAt(const AnalysisFrame& frame, double hz) {
    const double f0 = frame.F0;
    if (!(f0 > 0.0) || !(hz >= 0.0)) return 0.0;
    const double position = hz / f0;  // in harmonic numbers
    if (!(position < HarmonicCount)) return 0.0;
    const int b = static_cast<int>(position);
    if (b == 0) return position * frame.Harmonic[0];
    const double low = frame.Harmonic[static_cast<std::size_t>(b - 1)];  // harmonic b
    const double high = frame.Harmonic[static_cast<std::size_t>(b)];     // harmonic b + 1
    return low + (high - low) * (position - b);
}

void Resynthesizer::ReshapeFrame(AnalysisFrame& dest, const AnalysisFrame& source,
                                 const SynthParams& params) {
    dest.HarmonicTotal = 0.0f;
    if (dest.F0 > 0.0f && source.F0 > 0.0f) {
        for (int h = 1; h <= HarmonicCount; ++h) {
            const float hz = static_cast<float>(h * dest.F0);
            const double tilt = std::pow(hz / 1000.0, static_cast<double>(params.TiltExponent));
            const auto amplitude =
                static_cast<float>(tilt * EnvelopeAt(source, hz * params.EnvelopeScale));
            dest.Harmonic[static_cast<std::size_t>(h - 1)] = amplitude;
            dest.HarmonicTotal = static_cast<float>(dest.HarmonicTotal + amplitude);
        }
    } else {
        dest.Harmonic.fill(0.0f);
    }
    dest.Noise = source.Noise;
}

std::int32_t Resynthesizer::SynthSegment(WaveBuffer& wave, std::int32_t start, std::int32_t count,
                                         const AnalysisFrame& startFrame,
                                         const AnalysisFrame& endFrame,
                                         const SynthParams& startParams,
                                         const SynthParams& endParams) {
    if (count <= 0 || start < 0) return start;
    // Keep start + count within the 32-bit sample positions.
    count = static_cast<std::int32_t>(std::min<std::int64_t>(
        count, std::numeric_limits<std::int32_t>::max() - static_cast<std::int64_t>(start)));
    const auto end = static_cast<std::uint32_t>(start + count);
    if (end > wave.SampleCount()) wave.SetFrameCount(end);

    AnalysisFrame a{};
    a.F0 = startParams.F0;
    ReshapeFrame(a, startFrame, startParams);
    AnalysisFrame b{};
    b.F0 = endParams.F0;
    ReshapeFrame(b, endFrame, endParams);

    // Per-harmonic step and amplitude glide linearly over the segment.
    std::array<double, HarmonicCount> step{};
    std::array<double, HarmonicCount> stepIncrement{};
    std::array<double, HarmonicCount> amplitude{};
    std::array<double, HarmonicCount> amplitudeIncrement{};
    for (std::size_t i = 0; i < step.size(); ++i) {
        const double h = static_cast<double>(i + 1);
        const double startStep = kTwoPi * h * a.F0 / AnalysisSampleRate;
        const double endStep = kTwoPi * h * b.F0 / AnalysisSampleRate;
        step[i] = startStep;
        stepIncrement[i] = (endStep - startStep) / count;
        amplitude[i] = a.Harmonic[i];
        amplitudeIncrement[i] = (static_cast<double>(b.Harmonic[i]) - a.Harmonic[i]) / count;
    }

    std::array<std::size_t, HarmonicCount> audible{};
    std::size_t audibleCount = 0;
    for (std::size_t i = 0; i < amplitude.size(); ++i)
        if (amplitude[i] != 0.0 || amplitudeIncrement[i] != 0.0) audible[audibleCount++] = i;

    // Noise levels: attenuated as the harmonic part grows, down to the floor.
    const double gainA = NoiseGain(startParams, a.HarmonicTotal);
    const double gainB = NoiseGain(endParams, b.HarmonicTotal);
    std::array<double, NoiseBandCount> level{};
    std::array<double, NoiseBandCount> levelIncrement{};
    for (std::size_t band = 0; band < level.size(); ++band) {
        level[band] = gainA * a.Noise[band];
        levelIncrement[band] = (gainB * b.Noise[band] - level[band]) / count;
    }

    const bool voiced = a.F0 > 0.0f && b.F0 > 0.0f;
    const std::int64_t available = static_cast<std::int64_t>(wave.SampleCount()) - start;
    const std::int32_t toWrite =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(available, 0, count));
    for (std::int32_t n = 0; n < toWrite; ++n) {
        double v = 0.0;
        if (voiced) {
            // Harmonics silent over the whole segment add exactly 0: skip
            // their sine, but advance every phase.
            for (std::size_t k = 0; k < audibleCount; ++k) {
                const std::size_t i = audible[k];
                v += std::sin(phases_[i]) * amplitude[i];
            }
            for (std::size_t i = 0; i < phases_.size(); ++i) {
                phases_[i] += step[i];
                step[i] += stepIncrement[i];
                amplitude[i] += amplitudeIncrement[i];
            }
        }
        const float* noise = noiseTables_.data() + noisePos_;
        for (std::size_t band = 0; band < level.size(); ++band) {
            v += noise[band * NoiseTableLength] * level[band];
            level[band] += levelIncrement[band];
        }
        noisePos_ = (noisePos_ + 1) % NoiseTableLength;
        if (std::isnan(v)) v = 0.0;
        v = std::clamp(v, -kClampLevel, kClampLevel);
        wave.SetSample(static_cast<std::uint32_t>(start + n), 0, static_cast<std::int32_t>(v));
    }
    // Keep the running phases small so that sin stays exact over long sessions.
    for (double& phase : phases_) phase -= kTwoPi * std::floor(phase / kTwoPi);
    return start + toWrite;
}

}  // namespace melodrift
