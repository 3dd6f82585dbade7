#include "audio/Resynthesizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "audio/Frames.h"
#include "audio/WaveBuffer.h"

namespace melodrift {
namespace {

// Built once: the tables take a noticeable time under the sanitizers.
const Resynthesizer& SharedSynth() {
    static LcgRandom random(0);
    static const Resynthesizer synth(random);
    return synth;
}

SynthParams Params(float f0Hz) {
    SynthParams params;
    InitSynthParams(params);
    params.F0 = f0Hz;
    params.TiltExponent = 0.0f;  // (f / 1000)^0 = 1: harmonics exactly as the envelope
    return params;
}

// A source frame whose envelope holds only harmonic 1, so a render at the
// frame's own pitch is one sine of `amplitude`.
AnalysisFrame SingleHarmonic(float f0Hz, float amplitude) {
    AnalysisFrame frame{};
    frame.F0 = f0Hz;
    frame.Harmonic[0] = amplitude;
    return frame;
}

std::vector<std::int16_t> Samples(const WaveBuffer& wave, std::uint32_t from, std::uint32_t count) {
    std::vector<std::int16_t> values;
    for (std::uint32_t i = from; i < from + count; ++i) values.push_back(wave.GetSample(i, 0));
    return values;
}

TEST(NoiseRandom, FollowsTheLinearCongruentialSequenceFromSeedZero) {
    LcgRandom random(0);
    EXPECT_EQ(random.Next(), 1.0 / 4294967296.0);          // 0 · 134775813 + 1
    EXPECT_EQ(random.Next(), 134775814.0 / 4294967296.0);  // 1 · 134775813 + 1
    LcgRandom wrapped(0xFFFFFFFFu);  // (2^32 − 1) · 134775813 + 1 ≡ −134775812 (mod 2^32)
    EXPECT_EQ(wrapped.Next(), (4294967296.0 - 134775812.0) / 4294967296.0);
}

TEST(NoiseTables, DrawTwoTargetsPerSegmentAndRepeatOnlyFromTheSameSeed) {
    // Per band: two initial targets plus two per segment of Trunc(44100 / lo)
    // samples over the 440990 samples of the ten passes.
    LcgRandom expected(0);
    double lo = 50.0;
    for (int band = 0; band < NoiseBandCount; ++band) {
        const auto segment = static_cast<int>(44100.0 / lo);
        const int segments = (440990 + segment - 1) / segment;
        for (int draw = 0; draw < 2 + 2 * segments; ++draw) expected.Next();
        lo *= 1.45;
    }
    LcgRandom random(0);
    const Resynthesizer first(random);
    EXPECT_EQ(random.Seed(), expected.Seed());

    const Resynthesizer continued(random);       // continues the sequence: other noise
    const Resynthesizer& again = SharedSynth();  // built from a fresh seed 0
    for (int band = 0; band < NoiseBandCount; ++band) {
        EXPECT_TRUE(std::ranges::equal(first.NoiseTable(band), again.NoiseTable(band))) << band;
        EXPECT_FALSE(std::ranges::equal(first.NoiseTable(band), continued.NoiseTable(band)))
            << band;
    }
    EXPECT_TRUE(first.NoiseTable(-1).empty());
    EXPECT_TRUE(first.NoiseTable(16).empty());
}

TEST(NoiseTables, EachBandIsAnIntegerNoiseWithinItsFrequencyRange) {
    const Resynthesizer& synth = SharedSynth();
    double lo = 50.0;
    for (int band = 0; band < NoiseBandCount; ++band) {
        const double hi = lo * 1.45;
        const auto table = synth.NoiseTable(band);
        ASSERT_EQ(table.size(), 44100u);
        int crossings = 0;
        int lastSign = 0;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const float v = table[i];
            ASSERT_EQ(v, std::trunc(v)) << "band " << band << " index " << i;
            // Ten truncated contributions of at most 150 each (nine at the end).
            ASSERT_LE(std::fabs(v), i < 44090 ? 1500.0f : 1350.0f);
            const int sign = (v > 0) - (v < 0);
            if (sign != 0) {
                if (lastSign != 0 && sign != lastSign) ++crossings;
                lastSign = sign;
            }
        }
        // A one-second loop: half the sign changes is the mean frequency [Hz].
        EXPECT_GE(crossings / 2.0, lo) << "band " << band;
        EXPECT_LE(crossings / 2.0, hi) << "band " << band;
        lo = hi;
    }
}

TEST(SpectralEnvelope, ReadsHarmonicsAsALineFromZeroThenBetweenNeighbours) {
    AnalysisFrame frame{};
    frame.F0 = 200.0f;
    for (int h = 1; h <= 30; ++h) frame.Harmonic[static_cast<std::size_t>(h - 1)] = 10.0f * h;
    EXPECT_DOUBLE_EQ(Resynthesizer::EnvelopeAt(frame, 100.0), 5.0);  // 0.5 · F0: half of harmonic 1
    EXPECT_DOUBLE_EQ(Resynthesizer::EnvelopeAt(frame, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(Resynthesizer::EnvelopeAt(frame, 200.0), 10.0);
    EXPECT_DOUBLE_EQ(Resynthesizer::EnvelopeAt(frame, 500.0), 25.0);  // between harmonics 2 and 3
    EXPECT_DOUBLE_EQ(Resynthesizer::EnvelopeAt(frame, 5990.0), 299.5);
    EXPECT_EQ(Resynthesizer::EnvelopeAt(frame, 6000.0), 0.0);  // 30 · F0 and above
    EXPECT_EQ(Resynthesizer::EnvelopeAt(frame, 9000.0), 0.0);
    EXPECT_EQ(Resynthesizer::EnvelopeAt(frame, -300.0), 0.0);  // no envelope below 0 Hz
    frame.F0 = 0.0f;
    EXPECT_EQ(Resynthesizer::EnvelopeAt(frame, 100.0), 0.0);
}

TEST(FrameReshaping, HarmonicsFollowTheEnvelopeAtTheNewPitchWithTilt) {
    AnalysisFrame source{};
    source.F0 = 100.0f;
    source.Harmonic.fill(10.0f);  // flat envelope up to 3000 Hz
    source.Noise[3] = 7.0f;
    SynthParams params;
    InitSynthParams(params);  // tilt 1: amplitude · f / 1000 Hz
    params.F0 = 200.0f;

    AnalysisFrame dest{};
    dest.F0 = params.F0;
    Resynthesizer::ReshapeFrame(dest, source, params);
    // Harmonic h at 200·h Hz: 10 · 0.2·h below 3000 Hz, 0 from there on.
    for (int h = 1; h <= 30; ++h)
        EXPECT_FLOAT_EQ(dest.Harmonic[static_cast<std::size_t>(h - 1)], h < 15 ? 2.0f * h : 0.0f)
            << h;
    EXPECT_FLOAT_EQ(dest.HarmonicTotal, 210.0f);  // 2 · (1 + … + 14)
    EXPECT_EQ(dest.Noise[3], 7.0f);

    // EnvelopeScale 0.5 reads the envelope at half the frequency.
    params.EnvelopeScale = 0.5f;
    Resynthesizer::ReshapeFrame(dest, source, params);
    EXPECT_FLOAT_EQ(dest.Harmonic[28], 58.0f);  // h = 29: 10 · 5.8
    EXPECT_EQ(dest.Harmonic[29], 0.0f);         // h = 30 reads at 3000 Hz

    // An unvoiced source: silent harmonics, noise still copied.
    source.F0 = 0.0f;
    Resynthesizer::ReshapeFrame(dest, source, params);
    EXPECT_EQ(dest.HarmonicTotal, 0.0f);
    EXPECT_TRUE(std::ranges::all_of(dest.Harmonic, [](float a) { return a == 0.0f; }));
    EXPECT_EQ(dest.Noise[3], 7.0f);
}

TEST(SegmentSynthesis, EmptySegmentsWriteNothingAndLongOnesLengthenTheWave) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(10);
    const AnalysisFrame frame = SingleHarmonic(200.0f, 1000.0f);
    const SynthParams params = Params(200.0f);
    EXPECT_EQ(synth.SynthSegment(wave, 4, 0, frame, frame, params, params), 4);
    EXPECT_EQ(synth.SynthSegment(wave, 4, -3, frame, frame, params, params), 4);
    EXPECT_EQ(wave.SampleCount(), 10u);
    EXPECT_EQ(Samples(wave, 0, 10), std::vector<std::int16_t>(10, 0));
    EXPECT_EQ(synth.NoisePos(), 0);

    EXPECT_EQ(synth.SynthSegment(wave, 5, 20, frame, frame, params, params), 25);
    EXPECT_EQ(wave.SampleCount(), 25u);
    EXPECT_EQ(Samples(wave, 0, 5), std::vector<std::int16_t>(5, 0));  // before start: untouched
    EXPECT_EQ(synth.NoisePos(), 20);
}

TEST(SegmentSynthesis, ConsecutiveSegmentsContinueThePhaseOfASine) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(0);
    const float f0Hz = 220.0f;
    const AnalysisFrame frame = SingleHarmonic(f0Hz, 10000.0f);  // no noise levels
    const SynthParams params = Params(f0Hz);
    std::int32_t position = synth.SynthSegment(wave, 0, 300, frame, frame, params, params);
    ASSERT_EQ(position, 300);
    position = synth.SynthSegment(wave, position, 257, frame, frame, params, params);
    ASSERT_EQ(position, 557);
    for (std::uint32_t n = 0; n < 557; ++n) {
        const double expected =
            std::trunc(10000.0 * std::sin(2 * std::numbers::pi * f0Hz * n / 44100.0));
        ASSERT_NEAR(wave.GetSample(n, 0), expected, 1.0) << "sample " << n;
    }
    // Silent harmonics keep running too: harmonic h stays at h times the
    // phase of harmonic 1, ready to sound in a later segment.
    const auto& phases = synth.Phases();
    for (std::size_t i = 1; i < phases.size(); ++i) {
        const double drift =
            std::remainder(phases[i] - (i + 1.0) * phases[0], 2 * std::numbers::pi);
        EXPECT_NEAR(drift, 0.0, 1e-6) << "harmonic " << i + 1;
    }
}

TEST(SegmentSynthesis, PitchAndAmplitudeGlideLinearlyFromTheStartFrameToTheEndFrame) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(0);
    // Harmonic 1 only on both sides: 200 Hz at 1000 gliding to 400 Hz at
    // 3000 (each envelope is 0 from its second harmonic on).
    const AnalysisFrame startFrame = SingleHarmonic(200.0f, 1000.0f);
    const AnalysisFrame endFrame = SingleHarmonic(400.0f, 3000.0f);
    const int count = 600;
    ASSERT_EQ(
        synth.SynthSegment(wave, 0, count, startFrame, endFrame, Params(200.0f), Params(400.0f)),
        count);
    // Step w(n) = wA + n·d with d = (wB − wA) / count, so the phase before
    // sample n is n·wA + d·n(n − 1)/2; the amplitude is 1000 + 2000·n / count.
    const double wA = 2 * std::numbers::pi * 200.0 / 44100.0;
    const double wB = 2 * std::numbers::pi * 400.0 / 44100.0;
    const double d = (wB - wA) / count;
    for (int n = 0; n < count; ++n) {
        const double phase = n * wA + d * n * (n - 1) / 2.0;
        const double amplitude = 1000.0 + 2000.0 * n / count;
        ASSERT_NEAR(wave.GetSample(static_cast<std::uint32_t>(n), 0),
                    std::trunc(std::sin(phase) * amplitude), 1.0)
            << "sample " << n;
    }
}

TEST(SegmentSynthesis, NoiseLevelGlidesFromTheStartSidesGainToTheEndSides) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(0);
    AnalysisFrame frame = SingleHarmonic(100.0f, 1000.0f);  // harmonic total 1000 at 100 Hz
    frame.Noise[0] = 2.0f;
    const auto table = synth.NoiseTable(0);

    // Voiced start: gain max(1 − 0.8 / 2000 · 1000, 0.2) = 0.6. Unvoiced end:
    // no harmonic part, full gain. (One unvoiced side also silences the
    // harmonics, so only the noise sounds.)
    SynthParams voiced = Params(100.0f);
    voiced.NoiseFloor = 0.2f;
    voiced.NoiseFloorLevel = 2000.0f;
    ASSERT_EQ(synth.SynthSegment(wave, 0, 400, frame, frame, voiced, Params(0.0f)), 400);
    for (std::uint32_t n = 0; n < 400; ++n) {
        const double level = 0.6 * 2.0 + (2.0 - 0.6 * 2.0) * n / 400.0;
        ASSERT_NEAR(wave.GetSample(n, 0), std::trunc(table[n] * level), 1.0) << "sample " << n;
    }

    // Reversed: the end side's own settings give its gain,
    // max(1 − 0.5 / 1000 · 1000, 0.5) = 0.5.
    SynthParams endVoiced = Params(100.0f);
    endVoiced.NoiseFloor = 0.5f;
    endVoiced.NoiseFloorLevel = 1000.0f;
    ASSERT_EQ(synth.SynthSegment(wave, 400, 400, frame, frame, Params(0.0f), endVoiced), 800);
    for (std::uint32_t n = 0; n < 400; ++n) {
        const double level = 2.0 + (0.5 * 2.0 - 2.0) * n / 400.0;
        ASSERT_NEAR(wave.GetSample(400 + n, 0), std::trunc(table[400 + n] * level), 1.0)
            << "sample " << 400 + n;
    }
}

TEST(SegmentSynthesis, AnUnvoicedSideRendersNoiseOnly) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(0);
    const AnalysisFrame loud = SingleHarmonic(200.0f, 20000.0f);
    // Either side unvoiced: no harmonics, and with no noise levels, silence.
    synth.SynthSegment(wave, 0, 200, loud, loud, Params(0.0f), Params(200.0f));
    synth.SynthSegment(wave, 200, 200, loud, loud, Params(200.0f), Params(0.0f));
    EXPECT_EQ(Samples(wave, 0, 400), std::vector<std::int16_t>(400, 0));
    EXPECT_TRUE(std::ranges::all_of(synth.Phases(), [](double phase) { return phase == 0.0; }));
    EXPECT_EQ(synth.NoisePos(), 400);

    // With noise levels: the bands' tables at the running read position, at
    // full gain (no harmonic part to attenuate them).
    AnalysisFrame noisy = loud;
    for (int band = 0; band < NoiseBandCount; ++band)
        noisy.Noise[static_cast<std::size_t>(band)] = 0.5f + band;
    const std::int32_t end =
        synth.SynthSegment(wave, 400, 300, noisy, noisy, Params(0.0f), Params(0.0f));
    ASSERT_EQ(end, 700);
    for (std::uint32_t n = 400; n < 700; ++n) {
        double v = 0.0;
        for (int band = 0; band < NoiseBandCount; ++band)
            v += synth.NoiseTable(band)[n] * (0.5 + band);
        ASSERT_NEAR(wave.GetSample(n, 0), std::trunc(v), 1.0) << "sample " << n;
    }
}

TEST(SegmentSynthesis, TheNoisePositionLoopsOverTheOneSecondTables) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(0);
    AnalysisFrame noisy{};
    noisy.Noise[0] = 1.0f;
    synth.SynthSegment(wave, 0, 44100 + 5, noisy, noisy, Params(0.0f), Params(0.0f));
    EXPECT_EQ(synth.NoisePos(), 5);
    const auto table = synth.NoiseTable(0);
    for (std::uint32_t n = 0; n < 5; ++n) EXPECT_EQ(wave.GetSample(44100 + n, 0), table[n]);
}

TEST(SegmentSynthesis, OutputIsClampedToPlusMinus32000) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    WaveBuffer wave = MakeMono16Wave(0);
    AnalysisFrame loud = SingleHarmonic(100.0f, 1.0e6f);
    loud.Noise.fill(1000.0f);
    synth.SynthSegment(wave, 0, 2000, loud, loud, Params(100.0f), Params(100.0f));
    const auto samples = Samples(wave, 0, 2000);
    EXPECT_EQ(*std::ranges::max_element(samples), 32000);
    EXPECT_EQ(*std::ranges::min_element(samples), -32000);
}

TEST(SegmentSynthesis, NoiseIsAttenuatedToTheFloorAsTheHarmonicPartGrows) {
    // The same noise rendered three times from identical tables: voiced with
    // noise, voiced without noise, and unvoiced with noise (full gain). The
    // first minus the second is the attenuated noise; with a harmonic total of
    // 9000, three times NoiseFloorLevel, the gain is down to NoiseFloor.
    AnalysisFrame noisy = SingleHarmonic(100.0f, 9000.0f);
    noisy.Noise.fill(2.0f);
    AnalysisFrame quiet = noisy;
    quiet.Noise.fill(0.0f);
    SynthParams voiced = Params(100.0f);
    voiced.NoiseFloor = 0.25f;
    voiced.NoiseFloorLevel = 3000.0f;

    LcgRandom r1(0);
    Resynthesizer withNoise(r1);
    LcgRandom r2(0);
    Resynthesizer harmonicOnly(r2);
    LcgRandom r3(0);
    Resynthesizer noiseOnly(r3);
    WaveBuffer a = MakeMono16Wave(0);
    WaveBuffer b = MakeMono16Wave(0);
    WaveBuffer c = MakeMono16Wave(0);
    withNoise.SynthSegment(a, 0, 500, noisy, noisy, voiced, voiced);
    harmonicOnly.SynthSegment(b, 0, 500, quiet, quiet, voiced, voiced);
    SynthParams unvoiced = voiced;
    unvoiced.F0 = 0.0f;
    noiseOnly.SynthSegment(c, 0, 500, noisy, noisy, unvoiced, unvoiced);
    for (std::uint32_t n = 0; n < 500; ++n) {
        const double noisePart = a.GetSample(n, 0) - b.GetSample(n, 0);
        ASSERT_NEAR(noisePart, 0.25 * c.GetSample(n, 0), 2.0) << "sample " << n;
    }
}

}  // namespace
}  // namespace melodrift
