#include "audio/PitchAnalyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace melodrift {
namespace {

// An analyser with `count` frames whose spectra are all `fill`.
PitchAnalyser WithSpectra(int count, double fill) {
    PitchAnalyser a;
    for (int i = 0; i < count; ++i) a.AddFrame(i * 256);
    BinRow row;
    row.fill(fill);
    a.Spectrum.assign(static_cast<std::size_t>(count), row);
    return a;
}

TEST(NoiseBandEdges, FirstAndLastBandAndNoGaps) {
    const auto& bands = NoiseBands();
    EXPECT_EQ(bands[0].First, 2);
    EXPECT_EQ(bands[0].Last, 2);
    EXPECT_EQ(bands[15].First, 611);
    EXPECT_EQ(bands[15].Last, 886);
    for (std::size_t b = 1; b < bands.size(); ++b)
        EXPECT_EQ(bands[b].First, bands[b - 1].Last + 1) << b;
}

TEST(MeasureHarmonics, SumsThreeBinsPerHarmonicBelow18kHz) {
    PitchAnalyser a = WithSpectra(2, 1.0);
    a.Frames[0].F0 = 800.0f;  // harmonic 23 is 18400 Hz, bin 855: beyond the limit
    a.Frames[1].F0 = 0.0f;
    a.Frames[1].HarmonicTotal = 42.0f;
    a.Frames[1].Harmonic.fill(5.0f);
    a.MeasureHarmonics();
    for (int h = 1; h <= 30; ++h) {
        const bool below = NearestBin(800.0 * h) < 836;
        EXPECT_EQ(a.Frames[0].Harmonic[static_cast<std::size_t>(h - 1)], below ? 3.0f : 0.0f) << h;
    }
    EXPECT_TRUE(NearestBin(800.0 * 22) < 836 && NearestBin(800.0 * 23) >= 836);
    EXPECT_EQ(a.Frames[0].HarmonicTotal, 22 * 3.0f);
    // Unvoiced: harmonics cleared, total kept.
    for (float h : a.Frames[1].Harmonic) EXPECT_EQ(h, 0.0f);
    EXPECT_EQ(a.Frames[1].HarmonicTotal, 42.0f);
}

TEST(MeasureHarmonics, ReadsTheSpectrumAroundEachHarmonic) {
    PitchAnalyser a = WithSpectra(1, 0.0);
    a.Frames[0].F0 = 150.0f;  // harmonic 1 at bin 7, harmonic 2 at bin 14
    a.Spectrum[0][6] = 1.0;
    a.Spectrum[0][7] = 2.0;
    a.Spectrum[0][8] = 4.0;
    a.Spectrum[0][14] = 8.0;
    a.MeasureHarmonics();
    EXPECT_EQ(a.Frames[0].Harmonic[0], 7.0f);
    EXPECT_EQ(a.Frames[0].Harmonic[1], 8.0f);
    EXPECT_EQ(a.Frames[0].Harmonic[2], 0.0f);
    EXPECT_EQ(a.Frames[0].HarmonicTotal, 15.0f);
}

TEST(MeasureFixedComb, TriangularWeightAroundTeethEvery150Hz) {
    PitchAnalyser a = WithSpectra(2, 0.0);
    a.Frames[1].F0 = 0.0f;  // unvoiced frames get the comb too
    // Bin 14 is tooth 2 (300 Hz); teeth 1 (bin 7) and 3 (bin 21) see it 7
    // bins away in windows whose upper edge is 14 bins from the tooth:
    // weight 1 - 7/14 = 0.5. Tooth 4 (bin 28) sees it at its lower edge, 14
    // bins away: weight 0.
    a.Spectrum[0][14] = 10.0;
    a.MeasureFixedComb();
    EXPECT_EQ(a.Frames[0].F0, 150.0f);
    EXPECT_EQ(a.Frames[1].F0, 150.0f);
    EXPECT_EQ(a.Frames[0].Harmonic[0], 5.0f);
    EXPECT_EQ(a.Frames[0].Harmonic[1], 10.0f);
    EXPECT_EQ(a.Frames[0].Harmonic[2], 5.0f);
    for (std::size_t h = 3; h < 30; ++h) EXPECT_EQ(a.Frames[0].Harmonic[h], 0.0f) << h;
    EXPECT_EQ(a.Frames[0].HarmonicTotal, 20.0f);
    EXPECT_EQ(a.Frames[1].HarmonicTotal, 0.0f);
}

TEST(MeasureNoiseBands, BandSumsScaledAndZeroAtBothEnds) {
    PitchAnalyser a = WithSpectra(4, 1.0);
    a.Frames[1].F0 = 0.0f;
    a.Frames[2].F0 = 150.0f;  // harmonics at bins 7, 14, 21, ... cleared ±2
    for (auto& f : a.Frames) f.Noise.fill(9.0f);
    a.MeasureNoiseBands();
    const auto& bands = NoiseBands();
    for (int b = 0; b < 16; ++b) {
        const auto band = static_cast<std::size_t>(b);
        const double divisor = (0.2 * b) * (0.2 * b) + 1.0;
        const int bins = bands[band].Last - bands[band].First + 1;
        EXPECT_FLOAT_EQ(a.Frames[1].Noise[band], static_cast<float>(0.003 * bins / divisor)) << b;
        EXPECT_EQ(a.Frames[0].Noise[band], 0.0f);
        EXPECT_EQ(a.Frames[3].Noise[band], 0.0f);
    }
    // Band 0 is bin 2 alone: untouched by the harmonic at bin 7 (clears 5..9).
    EXPECT_FLOAT_EQ(a.Frames[2].Noise[0], 0.003f);
    // Band 1 is bins 3..4; band 2 bins 5..6, cleared by the harmonic at bin 7.
    EXPECT_EQ(bands[2].First, 5);
    EXPECT_EQ(bands[2].Last, 6);
    EXPECT_EQ(a.Frames[2].Noise[2], 0.0f);
}

TEST(MeasureNoiseBands, PitchesBelowOneBinClearEveryBinAndNegativeOnesNone) {
    PitchAnalyser a = WithSpectra(5, 1.0);
    a.Frames[1].F0 = 0.5f;     // harmonics every 0.02 bins: all bins cleared
    a.Frames[2].F0 = 21.0f;    // just below one bin apart: likewise
    a.Frames[3].F0 = -100.0f;  // never reaches the top bin: nothing cleared
    a.MeasureNoiseBands();
    for (float n : a.Frames[1].Noise) EXPECT_EQ(n, 0.0f);
    for (float n : a.Frames[2].Noise) EXPECT_EQ(n, 0.0f);
    EXPECT_FLOAT_EQ(a.Frames[3].Noise[0], 0.003f);
    // 22 Hz is more than a bin apart: harmonics at bins 1, 2, 3, 4, 5, ...
    // still touch every bin, by the loop itself.
    a.Frames[2].F0 = 22.0f;
    a.MeasureNoiseBands();
    for (float n : a.Frames[2].Noise) EXPECT_EQ(n, 0.0f);
}

TEST(MeasureNoiseFlux, ChangeAgainstTheNeighboursMeanAndZeroAtBothEnds) {
    PitchAnalyser a = WithSpectra(5, 3.0);
    a.Spectrum[2][2] = 5.0;  // band 0 of frame 2 differs by 2 from its neighbours
    a.MeasureNoiseFlux();
    EXPECT_FLOAT_EQ(a.Frames[2].Noise[0], 0.002f * 2.0f);
    // Frames 1 and 3 see half the difference in their neighbour's mean.
    EXPECT_FLOAT_EQ(a.Frames[1].Noise[0], 0.002f * 1.0f);
    EXPECT_FLOAT_EQ(a.Frames[3].Noise[0], 0.002f * 1.0f);
    for (int b = 1; b < 16; ++b) EXPECT_EQ(a.Frames[2].Noise[static_cast<std::size_t>(b)], 0.0f);
    for (float n : a.Frames[0].Noise) EXPECT_EQ(n, 0.0f);
    for (float n : a.Frames[4].Noise) EXPECT_EQ(n, 0.0f);
}

TEST(SmoothNoiseBands, ThreeFrameCentredMeanKeepsTheEnds) {
    PitchAnalyser a = WithSpectra(6, 0.0);
    for (int i = 0; i < 6; ++i)
        a.Frames[static_cast<std::size_t>(i)].Noise[4] = i == 3 ? 3.0f : 0.0f;
    a.Frames[0].Noise[4] = 6.0f;
    a.SmoothNoiseBands();
    EXPECT_EQ(a.Frames[0].Noise[4], 6.0f);  // ends keep their values
    EXPECT_EQ(a.Frames[1].Noise[4], 2.0f);  // (6 + 0 + 0) / 3 from unsmoothed values
    EXPECT_EQ(a.Frames[2].Noise[4], 1.0f);
    EXPECT_EQ(a.Frames[3].Noise[4], 1.0f);
    EXPECT_EQ(a.Frames[4].Noise[4], 1.0f);
    EXPECT_EQ(a.Frames[5].Noise[4], 0.0f);
}

TEST(Normalize, LoudestFrameTotalsThirtyThousand) {
    PitchAnalyser a = WithSpectra(3, 0.0);
    a.Frames[0].Harmonic[0] = 100.0f;
    a.Frames[0].Harmonic[1] = 50.0f;
    a.Frames[0].HarmonicTotal = 150.0f;
    a.Frames[1].Harmonic[0] = 30.0f;
    a.Frames[1].HarmonicTotal = 30.0f;
    a.Frames[1].Noise[5] = 3.0f;
    a.Normalize();
    EXPECT_FLOAT_EQ(a.Frames[0].HarmonicTotal, 30000.0f);
    EXPECT_FLOAT_EQ(a.Frames[0].Harmonic[0], 20000.0f);
    EXPECT_FLOAT_EQ(a.Frames[0].Harmonic[1], 10000.0f);
    EXPECT_FLOAT_EQ(a.Frames[1].HarmonicTotal, 6000.0f);
    EXPECT_FLOAT_EQ(a.Frames[1].Noise[5], 600.0f);
    EXPECT_EQ(a.Frames[2].HarmonicTotal, 0.0f);
}

TEST(Normalize, AllZeroTotalsChangeNothing) {
    PitchAnalyser a = WithSpectra(2, 0.0);
    a.Frames[0].Noise[0] = 7.0f;
    a.Normalize();
    EXPECT_EQ(a.Frames[0].Noise[0], 7.0f);
    EXPECT_EQ(a.Frames[0].HarmonicTotal, 0.0f);
}

TEST(AnalyzeMeasures, ToneAnalysisIsNormalisedWithSilentEndFrames) {
    WaveBuffer wave = MakeMono16Wave(22050);
    for (std::uint32_t i = 0; i < 22050; ++i) {
        double v = 0.0;
        for (int h = 1; h <= 5; ++h)
            v += 4000.0 / h * std::sin(2.0 * std::numbers::pi * 200.0 * h * i / 44100.0);
        wave.SetSample(i, 0, static_cast<std::int32_t>(std::lround(v)));
    }
    PitchAnalyser a;
    a.Analyze(wave);
    ASSERT_GT(a.FrameCount, 10);
    float loudest = 0.0f;
    for (const auto& f : a.Frames) loudest = std::max(loudest, f.HarmonicTotal);
    EXPECT_NEAR(loudest, 30000.0f, 0.05f);
    for (float n : a.Frames.front().Noise) EXPECT_EQ(n, 0.0f);
    for (float n : a.Frames.back().Noise) EXPECT_EQ(n, 0.0f);
    // The fundamental dominates a voiced frame's harmonics, as in the tone.
    const AnalysisFrame& mid = a.Frames[static_cast<std::size_t>(a.FrameCount / 2)];
    ASSERT_GT(mid.F0, 0.0f);
    EXPECT_GT(mid.Harmonic[0], mid.Harmonic[1]);
    EXPECT_GT(mid.Harmonic[1], mid.Harmonic[4]);
}

// The comb's peak as the running maximum of extended products, stored as a
// single whenever it grows: the measure written out from its definition.
float ReferenceCombPeak(const BinRow& s, int h) {
    const double hz = h * 150.0;
    const int lo = std::max(0, NearestBin(hz - 300.0));
    const int hi = std::min(SpectrumBins - 1, NearestBin(hz + 300.0));
    const int c = NearestBin(hz);
    float peak = 0.0f;
    for (int k = lo; k <= hi; ++k) {
        const long double weight = 1.0L - static_cast<long double>(std::abs(k - c)) / (hi - c);
        const long double value = weight * s[static_cast<std::size_t>(k)];
        if (value > peak) peak = static_cast<float>(value);
    }
    return peak;
}

TEST(MeasureFixedComb, PeaksMatchTheExtendedRunningMaximumOnNearTies) {
    // Spectra built so that several products of a tooth come within a few
    // ulp of each other (s_k = A / w_k), plus plain random ones, tiny ones
    // near the double's underflow, and silence.
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    PitchAnalyser a;
    const int count = 400;
    for (int i = 0; i < count; ++i) a.AddFrame(i * 256);
    a.Spectrum.assign(static_cast<std::size_t>(count), BinRow{});
    for (int i = 0; i < count; ++i) {
        BinRow& s = a.Spectrum[static_cast<std::size_t>(i)];
        const int kind = i % 4;
        for (std::size_t k = 0; k < s.size(); ++k) {
            if (kind == 0) s[k] = unit(random) * 1000.0;
            if (kind == 2) s[k] = unit(random) * 1e-300;
        }
        if (kind == 1) {
            // Near ties: every bin of tooth 3 (450 Hz, bins 7..35 around 21)
            // holds A / w, nudged by a few ulp.
            for (int k = 8; k <= 34; ++k) {
                const double w = 1.0 - std::abs(k - 21) / 14.0;
                double v = 700.0 / w;
                for (int n = static_cast<int>(unit(random) * 4); n > 0; --n)
                    v = std::nextafter(v, 0.0);
                s[static_cast<std::size_t>(k)] = v;
            }
        }
    }
    a.MeasureFixedComb();
    for (int i = 0; i < count; ++i) {
        for (int h = 1; h <= HarmonicCount; ++h) {
            ASSERT_EQ(
                a.Frames[static_cast<std::size_t>(i)].Harmonic[static_cast<std::size_t>(h - 1)],
                ReferenceCombPeak(a.Spectrum[static_cast<std::size_t>(i)], h))
                << "frame " << i << " harmonic " << h;
        }
    }
}

// A voiced take with pauses: tone bursts gliding in pitch, noise throughout.
WaveBuffer GlidingTake(std::uint32_t count) {
    WaveBuffer wave = MakeMono16Wave(count);
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 300.0);
    double phase = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const double t = i / 44100.0;
        phase += 2.0 * std::numbers::pi * (200.0 + 80.0 * std::sin(t * 3.0)) / 44100.0;
        double v = noise(random);
        if (std::fmod(t, 0.5) < 0.35) {
            for (int h = 1; h <= 6; ++h) v += 6000.0 / h * std::sin(h * phase);
        }
        wave.SetSample(i, 0, static_cast<std::int32_t>(std::lround(v)));
    }
    return wave;
}

TEST(AnalyzePitch, MeasuresAlongsideTheCandidatesEqualTheSeparatePasses) {
    // The editor's one pass (pitch, then the comb and the flux on the same
    // rows) against the two passes it replaces: Analyze, then
    // MeasureFixedCombAndNoiseFlux over recomputed rows. Every field the
    // editor keeps, and every row handed out, bit for bit, for one and two
    // workers, rows recomputed from a copy or read from the wave itself.
    const WaveBuffer wave = GlidingTake(44100 * 3 + 77);
    for (int workers : {1, 2}) {
        for (bool borrow : {false, true}) {
            PitchAnalyser separate;
            separate.Options.WorkerCount = workers;
            separate.Options.KeepSpectra = false;
            separate.Analyze(wave);
            std::vector<float> tracked;
            for (const AnalysisFrame& f : separate.Frames) tracked.push_back(f.F0);
            std::vector<double> separateRows(static_cast<std::size_t>(separate.FrameCount) * 3);
            separate.MeasureFixedCombAndNoiseFlux([&](int frame, const BinRow& row) {
                const auto i = static_cast<std::size_t>(frame) * 3;
                separateRows[i] = row[3];
                separateRows[i + 1] = row[400];
                separateRows[i + 2] = row[1023];
            });

            PitchAnalyser joined;
            joined.Options.WorkerCount = workers;
            joined.Options.KeepSpectra = false;
            joined.Options.BorrowWave = borrow;
            std::vector<double> joinedRows(separateRows.size());
            joined.AnalyzePitch(wave,
                                joined.FixedCombAndNoiseFluxTask([&](int frame, const BinRow& row) {
                                    const auto i = static_cast<std::size_t>(frame) * 3;
                                    joinedRows[i] = row[3];
                                    joinedRows[i + 1] = row[400];
                                    joinedRows[i + 2] = row[1023];
                                }));

            ASSERT_EQ(joined.FrameCount, separate.FrameCount);
            EXPECT_EQ(joinedRows, separateRows);
            EXPECT_EQ(joined.Confidence, separate.Confidence);
            int voiced = 0;
            for (int i = 0; i < joined.FrameCount; ++i) {
                const AnalysisFrame& j = joined.Frames[static_cast<std::size_t>(i)];
                const AnalysisFrame& s = separate.Frames[static_cast<std::size_t>(i)];
                // Analyze's pitch survives in the candidates and confidence;
                // the comb pass set F0 to 150 Hz on the separate side.
                EXPECT_EQ(s.F0, 150.0f);
                ASSERT_EQ(j.F0, tracked[static_cast<std::size_t>(i)]) << "frame " << i;
                voiced += j.F0 > 0.0f ? 1 : 0;
                ASSERT_EQ(j.Harmonic, s.Harmonic) << "frame " << i;
                ASSERT_EQ(j.HarmonicTotal, s.HarmonicTotal) << "frame " << i;
                ASSERT_EQ(j.Noise, s.Noise) << "frame " << i;
                for (int k = 0; k < CandidateCount; ++k) {
                    ASSERT_EQ(
                        joined.Candidates[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)]
                            .Freq,
                        separate
                            .Candidates[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)]
                            .Freq);
                }
            }
            EXPECT_GT(voiced, joined.FrameCount / 2);
        }
    }
}

}  // namespace
}  // namespace melodrift
