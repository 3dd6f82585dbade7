// Resynthesis from analysis frames: 30 harmonics whose frequencies follow a
// chosen pitch and whose amplitudes follow the frame's spectral envelope,
// plus 16 band-limited looping noise sources scaled by the frame's noise
// levels. Rendering goes frame pair by frame pair; the harmonic phases and the
// noise read position carry over from one pair to the next, so consecutive
// segments join without clicks.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/Frames.h"
#include "audio/WaveBuffer.h"

namespace melodrift {

// Uniform numbers in [0, 1) from a 32-bit linear congruential generator:
// seed = seed · 134775813 + 1 (mod 2^32), value = seed / 2^32.
class LcgRandom {
  public:
    explicit LcgRandom(std::uint32_t seed = 0) : seed_(seed) {}

    double Next() {
        seed_ = seed_ * 134775813U + 1U;
        return seed_ * (1.0 / 4294967296.0);
    }

    std::uint32_t Seed() const { return seed_; }

    // The program's one generator, seeded 0 at start and never reseeded, so
    // every resynthesiser created in a run continues its sequence and gets
    // different noise. Used from the window thread only.
    static LcgRandom& Default();

  private:
    std::uint32_t seed_;
};

class Resynthesizer {
  public:
    static constexpr int NoiseTableLength = 44100;  // [samples] one second at 44100 Hz

    // Noise tables drawn from LcgRandom::Default().
    Resynthesizer();
    // Noise tables drawn from `random` (tests build their own generator).
    explicit Resynthesizer(LcgRandom& random);

    // Refills the 16 noise tables. Band b covers lo = 50 · 1.45^b Hz to
    // hi = 1.45 · lo: a sine whose frequency and amplitude glide to new
    // random targets once per period of lo, summed in ten overlapping passes
    // around the one-second loop.
    void BuildNoiseTables(LcgRandom& random);

    std::span<const float> NoiseTable(int band) const;
    // Running phase of harmonics 1..30 (index h − 1), radians in [0, 2π).
    const std::array<double, HarmonicCount>& Phases() const { return phases_; }
    // Read position shared by all noise tables, 0..44099.
    std::int32_t NoisePos() const { return noisePos_; }

    // Harmonic amplitudes of `dest` for pitch dest.F0 (already set to
    // params.F0) from the spectral envelope of `source`, tilted by
    // (f / 1000 Hz)^TiltExponent; noise levels copied from `source`. Silent
    // harmonics when either pitch is 0.
    static void ReshapeFrame(AnalysisFrame& dest, const AnalysisFrame& source,
                             const SynthParams& params);

    // The frame's harmonic amplitudes read as a spectral envelope sampled at
    // multiples of frame.F0, at `hz`: a line from 0 at 0 Hz to Harmonic 1,
    // linear between neighbouring harmonics, 0 from 30 · F0 on (and for an
    // unvoiced frame or a negative frequency).
    static double EnvelopeAt(const AnalysisFrame& frame, double hz);

    // Renders `count` samples into channel 0 of `wave` (mono, 16 bits,
    // 44100 Hz) from sample `start` on, gliding from `startFrame` with
    // `startParams` to `endFrame` with `endParams`; the wave is lengthened
    // with silence when needed. Samples are clamped to ±32000. Returns start
    // plus the number of samples written (start itself when count ≤ 0 or
    // start < 0).
    std::int32_t SynthSegment(WaveBuffer& wave, std::int32_t start, std::int32_t count,
                              const AnalysisFrame& startFrame, const AnalysisFrame& endFrame,
                              const SynthParams& startParams, const SynthParams& endParams);

  private:
    std::vector<float> noiseTables_;  // band-major: 16 × 44100
    std::array<double, HarmonicCount> phases_{};
    std::int32_t noisePos_ = 0;
};

}  // namespace melodrift
