#include "audio/Parallel.h"
#include "audio/PitchAnalyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace melodrift {
namespace {

// A mono 44100 Hz 16-bit wave of `count` samples from f(sample index).
template <typename F>
WaveBuffer MakeWave(std::uint32_t count, F f) {
    WaveBuffer wave = MakeMono16Wave(count);
    for (std::uint32_t i = 0; i < count; ++i) wave.SetSample(i, 0, f(i));
    return wave;
}

// Eight harmonics of `f0Hz` with amplitudes falling as 1/h.
WaveBuffer HarmonicTone(std::uint32_t count, double f0Hz, double amplitude = 6000.0) {
    return MakeWave(count, [=](std::uint32_t i) {
        double v = 0.0;
        for (int h = 1; h <= 8; ++h)
            v += amplitude / h * std::sin(2.0 * std::numbers::pi * h * f0Hz * i / 44100.0);
        return static_cast<std::int32_t>(std::lround(v));
    });
}

// Positions of the frames in time order, following the links from HeadFrame.
std::vector<std::int32_t> PositionsInTimeOrder(const PitchAnalyser& a) {
    std::vector<std::int32_t> positions;
    for (int i = a.HeadFrame; i >= 0; i = a.Frames[static_cast<std::size_t>(i)].NextFrame) {
        positions.push_back(a.Frames[static_cast<std::size_t>(i)].SamplePos);
        if (positions.size() > a.Frames.size()) break;  // a cycle would be a fault
    }
    return positions;
}

// An analyser with `count` frames and empty candidate lists, ready for
// hand-written candidates.
PitchAnalyser FramesOnly(int count) {
    PitchAnalyser a;
    for (int i = 0; i < count; ++i) a.AddFrame(i * 256);
    a.Candidates.assign(static_cast<std::size_t>(count), CandidateSlots{});
    a.Confidence.assign(static_cast<std::size_t>(count), 0.0f);
    return a;
}

// ---------------------------------------------------------------- lag limits

TEST(LagLimits, FiftyTo882HzGiveLags49To881) {
    const LagRange r = LagLimits(50.0, 882.0);
    EXPECT_EQ(r.MinLag, 49);
    EXPECT_EQ(r.MaxLag, 881);
    const LagRange swapped = LagLimits(882.0, 50.0);
    EXPECT_EQ(swapped.MinLag, 49);
    EXPECT_EQ(swapped.MaxLag, 881);
}

TEST(LagLimits, DegenerateFrequenciesStayInsideTheRows) {
    const LagRange zero = LagLimits(0.0, 0.0);  // infinite lag
    EXPECT_GE(zero.MinLag, 0);
    EXPECT_LE(zero.MaxLag, 1023);
    const LagRange huge = LagLimits(1.0, 1e9);
    EXPECT_EQ(huge.MinLag, 0);
    EXPECT_EQ(huge.MaxLag, 1023);
}

// ---------------------------------------------------------------- frame list

TEST(FramePlacement, ThousandSamplesGiveFiveFramesEndingOnTheLastSample) {
    PitchAnalyser a;
    a.ComputeSpectra(MakeMono16Wave(1000));
    ASSERT_EQ(a.FrameCount, 5);
    EXPECT_EQ(PositionsInTimeOrder(a), (std::vector<std::int32_t>{0, 256, 512, 768, 999}));
    EXPECT_EQ(a.HeadFrame, 0);
    EXPECT_EQ(a.TailFrame, 4);
    EXPECT_EQ(a.Spectrum.size(), 5u);
    EXPECT_EQ(a.Candidates.size(), 5u);
    EXPECT_EQ(a.Confidence.size(), 5u);
    // Appended frames are initialised.
    EXPECT_EQ(a.Frames[4].EnvelopeScale, 1.0f);
    EXPECT_EQ(a.Frames[4].NoiseFloor, 0.2f);
    EXPECT_EQ(a.Frames[4].NoiseFloorLevel, 2000.0f);
    EXPECT_EQ(a.Frames[4].TiltExponent, 1.0f);
    EXPECT_EQ(a.Frames[0].PrevFrame, -1);
    EXPECT_EQ(a.Frames[4].NextFrame, -1);
}

TEST(FramePlacement, TwoHundredFiftySevenSamplesReuseTheFrameAt256) {
    PitchAnalyser a;
    a.ComputeSpectra(MakeMono16Wave(257));
    ASSERT_EQ(a.FrameCount, 2);
    EXPECT_EQ(PositionsInTimeOrder(a), (std::vector<std::int32_t>{0, 256}));
}

TEST(FramePlacement, MultipleOf256InsertsTheLastSampleBeforeThePastTheEndFrame) {
    PitchAnalyser a;
    a.ComputeSpectra(MakeMono16Wave(512));
    ASSERT_EQ(a.FrameCount, 4);
    // Array order 0, 256, 512, 511; time order 0, 256, 511, 512.
    EXPECT_EQ(a.Frames[3].SamplePos, 511);
    EXPECT_EQ(a.Frames[2].SamplePos, 512);
    EXPECT_EQ(PositionsInTimeOrder(a), (std::vector<std::int32_t>{0, 256, 511, 512}));
    EXPECT_EQ(a.Frames[3].PrevFrame, 1);
    EXPECT_EQ(a.Frames[3].NextFrame, 2);
    EXPECT_EQ(a.Frames[2].PrevFrame, 3);
    EXPECT_EQ(a.TailFrame, 2);
    // Interpolated between two initialised frames, so it carries their values.
    EXPECT_EQ(a.Frames[3].EnvelopeScale, 1.0f);
    EXPECT_EQ(a.Frames[3].NoiseFloorLevel, 2000.0f);
}

TEST(FramePlacement, EmptyRecordingGivesTwoFramesAfterShiftingTheNewHead) {
    PitchAnalyser a;
    a.ComputeSpectra(MakeMono16Wave(0));
    ASSERT_EQ(a.FrameCount, 2);
    EXPECT_EQ(a.HeadFrame, 1);
    EXPECT_EQ(a.TailFrame, 0);
    EXPECT_EQ(a.Frames[1].SamplePos, 0);
    EXPECT_EQ(a.Frames[0].SamplePos, 1);
    EXPECT_EQ(PositionsInTimeOrder(a), (std::vector<std::int32_t>{0, 1}));
}

TEST(FramePlacement, WavesOtherThan44100Hz16BitLeaveThePreviousAnalysis) {
    PitchAnalyser a;
    a.Analyze(HarmonicTone(3000, 200.0));
    const int before = a.FrameCount;
    ASSERT_GT(before, 0);
    WaveBuffer eightBit = MakeMono16Wave(5000);
    eightBit.ConvertBits(8);
    a.Analyze(eightBit);
    EXPECT_EQ(a.FrameCount, before);
    WaveBuffer slow = MakeMono16Wave(5000);
    slow.ConvertSampleRate(22050);
    a.Analyze(slow);
    EXPECT_EQ(a.FrameCount, before);
    EXPECT_EQ(a.Spectrum.size(), static_cast<std::size_t>(before));
}

TEST(FramePlacement, OnlyTheFirstChannelOfAStereoRecordingIsAnalysed) {
    const std::uint32_t count = 12000;
    const WaveBuffer mono = HarmonicTone(count, 180.0);
    WaveBuffer stereo = MakeMono16Wave(count);
    stereo.ConvertChannels(2);
    std::mt19937 random(5);
    std::uniform_int_distribution<int> noise(-20000, 20000);
    for (std::uint32_t i = 0; i < count; ++i) {
        stereo.SetSample(i, 0, mono.GetSample(i, 0));
        stereo.SetSample(i, 1, noise(random));
    }
    for (bool keep : {true, false}) {
        PitchAnalyser fromMono;
        fromMono.Options.KeepSpectra = keep;
        fromMono.Analyze(mono);
        PitchAnalyser fromStereo;
        fromStereo.Options.KeepSpectra = keep;
        fromStereo.Analyze(stereo);
        ASSERT_EQ(fromStereo.FrameCount, fromMono.FrameCount);
        EXPECT_EQ(0, std::memcmp(fromStereo.Frames.data(), fromMono.Frames.data(),
                                 fromMono.Frames.size() * sizeof(AnalysisFrame)))
            << "keep " << keep;
        EXPECT_GT(fromStereo.Frames[20].F0, 0.0f);
    }
}

TEST(FrameList, InterpolateBlendsFieldsAndKeepsHarmonicsWhenUnvoiced) {
    PitchAnalyser a;
    for (int i = 0; i < 3; ++i) a.AddFrame(i * 256);
    a.Frames[0].F0 = 100.0f;
    a.Frames[1].F0 = 200.0f;
    a.Frames[0].Harmonic[0] = 10.0f;
    a.Frames[1].Harmonic[0] = 20.0f;
    a.Frames[0].Noise[3] = 4.0f;
    a.Frames[1].Noise[3] = 8.0f;
    a.Frames[0].TargetF0 = 100.0f;
    a.Frames[1].TargetF0 = 300.0f;
    a.InterpolateFrame(2, 0, 1, 0.25f);
    EXPECT_FLOAT_EQ(a.Frames[2].F0, 125.0f);
    EXPECT_FLOAT_EQ(a.Frames[2].Harmonic[0], 12.5f);
    EXPECT_FLOAT_EQ(a.Frames[2].Noise[3], 5.0f);
    EXPECT_FLOAT_EQ(a.Frames[2].TargetF0, 150.0f);
    EXPECT_EQ(a.Frames[2].SamplePos, 512);  // position and links untouched
    EXPECT_EQ(a.Frames[2].PrevFrame, 1);

    // Unvoiced result: harmonics keep what they held.
    a.Frames[2].Harmonic[0] = 77.0f;
    a.Frames[1].F0 = 0.0f;
    a.Frames[0].F0 = 0.0f;
    a.InterpolateFrame(2, 0, 1, 0.5f);
    EXPECT_EQ(a.Frames[2].F0, 0.0f);
    EXPECT_EQ(a.Frames[2].Harmonic[0], 77.0f);
    EXPECT_FLOAT_EQ(a.Frames[2].Noise[3], 6.0f);
}

TEST(FrameList, InitFrameIgnoresIndicesOutsideTheList) {
    PitchAnalyser a;
    a.AddFrame(0);
    a.Frames[0].F0 = 5.0f;
    a.InitFrame(1);
    a.InitFrame(-1);
    EXPECT_EQ(a.Frames[0].F0, 5.0f);
    a.InitFrame(0);
    EXPECT_EQ(a.Frames[0].F0, 0.0f);
}

// ---------------------------------------------------------------- candidates

TEST(PitchCandidates, SilenceGivesNoCandidatesAndNoPitch) {
    PitchAnalyser a;
    a.Analyze(MakeMono16Wave(44100 / 4));
    ASSERT_GT(a.FrameCount, 0);
    for (int i = 0; i < a.FrameCount; ++i) {
        const auto s = static_cast<std::size_t>(i);
        for (const auto& c : a.Candidates[s]) {
            EXPECT_EQ(c.Freq, 0.0f);
            EXPECT_EQ(c.Strength, 0.0f);
        }
        EXPECT_EQ(a.Frames[s].F0, 0.0f);
        EXPECT_EQ(a.Confidence[s], 0.0f);
    }
}

TEST(PitchCandidates, ListsAreStrongestFirstInsideTheLagRange) {
    PitchAnalyser a;
    a.Options.KeepAutocorr = true;
    a.ComputeSpectra(HarmonicTone(8000, 220.0));
    a.FindCandidates(50.0, 882.0);
    EXPECT_EQ(a.Lags().MinLag, 49);
    EXPECT_EQ(a.Lags().MaxLag, 881);
    for (int i = 0; i < a.FrameCount; ++i) {
        const auto s = static_cast<std::size_t>(i);
        const CandidateSlots& list = a.Candidates[s];
        bool empty = false;
        for (std::size_t j = 0; j < list.size(); ++j) {
            if (list[j].Freq == 0.0f) {
                empty = true;
                continue;
            }
            EXPECT_FALSE(empty) << "filled slot after an empty one";
            EXPECT_GT(list[j].Strength, 0.0f);
            EXPECT_GT(list[j].Freq, 44100.0f / 880.0f);
            EXPECT_LT(list[j].Freq, 44100.0f / 50.0f);
            if (j > 0) {
                EXPECT_LE(list[j].Strength, list[j - 1].Strength);
            }
        }
        EXPECT_EQ(a.Frames[s].F0, list[0].Freq);
        EXPECT_EQ(a.Confidence[s], list[0].Strength);
        // Lags outside 49..881 are zero.
        EXPECT_EQ(a.Autocorr[s][48], 0.0);
        EXPECT_EQ(a.Autocorr[s][882], 0.0);
    }
}

// The candidate lists against the rule written out plainly on the kept
// autocorrelation rows: every strict local maximum at lags MinLag + 2 ..
// MaxLag - 2 with strength float(log10(A + 1e-7)) > 0, ordered strongest
// first with ties in increasing lag, the first ten kept; frequencies from
// the centroid in extended precision. Voiced, noisy and near-silent frames
// exercise the skipped logarithms, the two-lags-at-a-time peak test and the
// late frequencies.
TEST(PitchCandidates, ListsFollowThePlainRuleOnEveryFrame) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    const WaveBuffer wave = MakeWave(44100, [&](std::uint32_t i) {
        const double t = i / 44100.0;
        const double level =
            i < 15000 ? 3000.0
                      : (i < 30000 ? 40.0 : 0.5);  // voiced, then faint, then almost silent
        double v = noise(random) * level * 0.3;
        for (int h = 1; h <= 6; ++h)
            v += level / h * std::sin(2.0 * std::numbers::pi * h * (180.0 + 40.0 * t) * t);
        return static_cast<std::int32_t>(std::lround(v));
    });
    PitchAnalyser a;
    a.Options.KeepAutocorr = true;
    a.ComputeSpectra(wave);
    a.FindCandidates(50.0, 882.0);
    const LagRange lags = a.Lags();
    int compared = 0;
    for (int i = 0; i < a.FrameCount; ++i) {
        const BinRow& row = a.Autocorr[static_cast<std::size_t>(i)];
        struct Peak {
            float strength;
            int lag;
        };
        std::vector<Peak> peaks;
        for (int m = lags.MinLag + 2; m <= lags.MaxLag - 2; ++m) {
            const auto k = static_cast<std::size_t>(m);
            if (!(row[k] > row[k - 1] && row[k] > row[k + 1])) continue;
            const auto strength = static_cast<float>(std::log10(row[k] + 1e-7));
            if (strength > 0.0f) peaks.push_back({strength, m});
        }
        std::stable_sort(peaks.begin(), peaks.end(),
                         [](const Peak& x, const Peak& y) { return x.strength > y.strength; });
        CandidateSlots expected{};
        for (std::size_t c = 0; c < peaks.size() && c < expected.size(); ++c) {
            const int m = peaks[c].lag;
            const auto k = static_cast<std::size_t>(m);
            const long double top = row[k], before = row[k - 1], after = row[k + 1];
            const long double lag = before < after
                                        ? (m * (top - before) + (m + 1) * (after - before)) /
                                              ((top - before) + (after - before))
                                        : (m * (top - after) + (m - 1) * (before - after)) /
                                              ((top - after) + (before - after));
            expected[c] = {static_cast<float>(BinToHz(LagToBin(static_cast<double>(lag)))),
                           peaks[c].strength};
        }
        const CandidateSlots& listed = a.Candidates[static_cast<std::size_t>(i)];
        for (std::size_t c = 0; c < expected.size(); ++c) {
            ASSERT_EQ(listed[c].Freq, expected[c].Freq) << "frame " << i << " slot " << c;
            ASSERT_EQ(listed[c].Strength, expected[c].Strength) << "frame " << i << " slot " << c;
        }
        compared += peaks.size() > 10 ? 1 : 0;
    }
    EXPECT_GT(compared, 20);  // frames where the list overflowed and the pruning mattered
}

// The candidate step's autocorrelation, checked against the circular
// autocorrelation r(m) of the windowed frame computed in the time domain.
// With X the frame's DFT, S = |X| / 512 and P = S^2 laid out symmetric
// around 1024 (centre P0' = max P[0..46]), bin m of the transform is
//   A(m) = (-1)^m (P0' + (2048 r(m) - X_0^2 - (-1)^m X_1024^2) / 512^2),
// and the row holds A(m)^2 * 2^-22.
TEST(PitchCandidates, AutocorrelationRowMatchesTheTimeDomain) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 500.0);
    std::vector<std::int16_t> mono(6000);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        const double v =
            8000.0 * std::sin(2.0 * std::numbers::pi * 190.0 * static_cast<double>(i) / 44100.0) +
            3000.0 * std::sin(2.0 * std::numbers::pi * 380.0 * static_cast<double>(i) / 44100.0) +
            noise(random);
        mono[i] = static_cast<std::int16_t>(std::lround(v));
    }
    const PaddedSamples samples(mono);
    const int frame = 9;  // window over recording samples 1280 .. 3327
    FftWorkspace fft;
    BinRow spectrum;
    FrameSpectrum(samples, frame, 256, fft, spectrum);
    BinRow autocorr;
    CandidateSlots candidates;
    FrameCandidates(spectrum, LagLimits(50.0, 882.0), fft, autocorr, candidates);

    std::vector<long double> x(2048);
    std::vector<double> scratch(2048);
    samples.Read(frame * 256, scratch);
    for (std::size_t j = 0; j < x.size(); ++j) x[j] = scratch[j] * HannWindow()[j];
    long double x0 = 0.0L;
    long double xNyquist = 0.0L;
    for (std::size_t j = 0; j < x.size(); ++j) {
        x0 += x[j];
        xNyquist += (j % 2 == 0 ? 1 : -1) * x[j];
    }
    float centre = 0.0f;
    for (int k = 0; k <= 46; ++k)
        centre = std::max(centre, static_cast<float>(spectrum[static_cast<std::size_t>(k)] *
                                                     spectrum[static_cast<std::size_t>(k)]));

    double largest = 0.0;
    for (double v : autocorr) largest = std::max(largest, v);
    ASSERT_GT(largest, 0.0);
    for (int m = 0; m < 1024; ++m) {
        const auto row = static_cast<std::size_t>(m);
        if (m < 49 || m > 881) {
            EXPECT_EQ(autocorr[row], 0.0) << m;
            continue;
        }
        long double r = 0.0L;
        for (std::size_t j = 0; j < x.size(); ++j) r += x[j] * x[(j + row) % x.size()];
        const long double sign = m % 2 == 0 ? 1.0L : -1.0L;
        const long double a =
            centre + (2048.0L * r - x0 * x0 - sign * xNyquist * xNyquist) / 262144.0L;
        const auto expected = static_cast<double>(a * a / 4194304.0L);
        ASSERT_NEAR(autocorr[row], expected, 1e-9 * largest) << "lag " << m;
    }
    // The strongest candidate is the tone's period, 44100 / 190 = 232 samples.
    EXPECT_NEAR(candidates[0].Freq, 190.0f, 2.0f);
}

// The autocorrelation peak sits at the period of the tone: 44100 / 220 is
// about 200.45 samples, and the centroid refinement gets within a few cents.
class TonePitch : public ::testing::TestWithParam<double> {};

TEST_P(TonePitch, HarmonicToneTracksWithinFiveCents) {
    const double f0 = GetParam();
    PitchAnalyser a;
    a.Analyze(HarmonicTone(44100, f0));
    ASSERT_GT(a.FrameCount, 100);
    int voiced = 0;
    // Frames whose window lies wholly inside the tone.
    for (int i = 5; i < a.FrameCount - 5; ++i) {
        const float pitch = a.Frames[static_cast<std::size_t>(i)].F0;
        ASSERT_GT(pitch, 0.0f) << "frame " << i;
        EXPECT_NEAR(HzToCents(pitch), HzToCents(f0), 5.0) << "frame " << i;
        EXPECT_GE(a.Confidence[static_cast<std::size_t>(i)], 4.0f);
        ++voiced;
    }
    EXPECT_GT(voiced, 150);
}

INSTANTIATE_TEST_SUITE_P(Pitches, TonePitch, ::testing::Values(110.0, 220.0, 330.0, 523.25));

// ---------------------------------------------------------------- tracking

TEST(PitchTracking, ChainsOfFiveFramesOrFewerNeverVoice) {
    PitchAnalyser a = FramesOnly(20);
    for (int i = 2; i <= 6; ++i)
        a.Candidates[static_cast<std::size_t>(i)][0] = {200.0f, 6.0f};  // 5 frames
    for (int i = 10; i <= 15; ++i)
        a.Candidates[static_cast<std::size_t>(i)][0] = {300.0f, 6.0f};  // 6 frames
    a.TrackPitch();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 0.0f) << i;
    for (int i = 10; i <= 15; ++i) {
        EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 300.0f) << i;
        EXPECT_EQ(a.Confidence[static_cast<std::size_t>(i)], 6.0f);
    }
    for (int i = 16; i < 20; ++i) EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 0.0f) << i;
}

TEST(PitchTracking, WeakChainsAndSlotsBelowTheStrengthLimitDoNotVoice) {
    PitchAnalyser a = FramesOnly(30);
    // Mean strength 3.9 < 4.0 over ten frames.
    for (int i = 0; i < 10; ++i) a.Candidates[static_cast<std::size_t>(i)][0] = {200.0f, 3.9f};
    // Strength 3.2 < 3.3: no chain at all.
    for (int i = 12; i < 22; ++i) a.Candidates[static_cast<std::size_t>(i)][0] = {200.0f, 3.2f};
    a.TrackPitch();
    for (int i = 0; i < 30; ++i) EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 0.0f) << i;
}

TEST(PitchTracking, FollowsAGlideAndPrefersTheChainThatRanksFirst) {
    PitchAnalyser a = FramesOnly(12);
    for (int i = 0; i < 12; ++i) {
        auto& list = a.Candidates[static_cast<std::size_t>(i)];
        // A glide of 5 % per frame (inside the 1.1 ratio) in slot 0 and an
        // octave-below chain in slot 1.
        const float glide = static_cast<float>(200.0 * std::pow(1.05, i));
        list[0] = {glide, 6.0f};
        list[1] = {glide / 2.0f, 5.0f};
    }
    // In the middle frame the two swap slots: the glide's chain still ranks
    // higher on average and keeps the frame.
    std::swap(a.Candidates[6][0], a.Candidates[6][1]);
    a.TrackPitch();
    for (int i = 0; i < 12; ++i) {
        EXPECT_FLOAT_EQ(a.Frames[static_cast<std::size_t>(i)].F0,
                        static_cast<float>(200.0 * std::pow(1.05, i)))
            << i;
    }
}

TEST(PitchTracking, AJumpBeyondTheRatioLimitBreaksTheChain) {
    PitchAnalyser a = FramesOnly(10);
    // Frames 0..4 at 200 Hz, frames 5..9 at 240 Hz (ratio 1.2): two chains of
    // five, neither long enough.
    for (int i = 0; i < 10; ++i)
        a.Candidates[static_cast<std::size_t>(i)][0] = {i < 5 ? 200.0f : 240.0f, 6.0f};
    a.TrackPitch();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 0.0f) << i;
}

// ---------------------------------------------------------------- re-picking

TEST(RepickF0, ChoosesTheStrongestInsideTheWindowOrUnvoices) {
    PitchAnalyser a = FramesOnly(1);
    auto& list = a.Candidates[0];
    list[0] = {400.0f, 7.0f};
    list[1] = {210.0f, 3.0f};
    list[2] = {190.0f, 3.0f};
    list[3] = {205.0f, 2.5f};
    a.RepickF0(0, 2.0f, 250.0, 150.0);  // either order
    EXPECT_EQ(a.Frames[0].F0, 210.0f);  // equal strengths: the earlier slot
    EXPECT_EQ(a.Confidence[0], 3.0f);
    a.RepickF0(0, 2.0f, 200.0, 220.0);
    EXPECT_EQ(a.Frames[0].F0, 210.0f);
    a.RepickF0(0, 2.0f, 200.0, 209.0);
    EXPECT_EQ(a.Frames[0].F0, 205.0f);
    EXPECT_EQ(a.Confidence[0], 2.5f);
    a.RepickF0(0, 2.6f, 200.0, 209.0);  // too weak
    EXPECT_EQ(a.Frames[0].F0, 0.0f);
    EXPECT_EQ(a.Confidence[0], 0.0f);
    a.RepickF0(0, 2.0f, 500.0, 600.0);  // nothing there
    EXPECT_EQ(a.Frames[0].F0, 0.0f);
}

// ---------------------------------------------------------------- bridging

TEST(BridgeGaps, RepicksAlongTheLineBetweenTwoVoicedFrames) {
    PitchAnalyser a = FramesOnly(12);
    a.Frames[0].F0 = 200.0f;
    a.Frames[10].F0 = 300.0f;
    for (int i = 0; i <= 10; ++i) {
        // A strong octave error and a weak candidate on the line.
        const float line = 200.0f + 10.0f * static_cast<float>(i);
        a.Candidates[static_cast<std::size_t>(i)][0] = {line * 2.0f, 8.0f};
        a.Candidates[static_cast<std::size_t>(i)][1] = {line * 1.1f, 2.5f};
    }
    // Frame 5 (line 250 Hz): two candidates inside 208..300 Hz, the stronger wins.
    a.Candidates[5][1] = {260.0f, 2.5f};
    a.Candidates[5][2] = {290.0f, 3.0f};
    a.BridgeGaps();
    for (int i = 0; i <= 10; ++i) {
        const float line = 200.0f + 10.0f * static_cast<float>(i);
        const float expected = i == 5 ? 290.0f : line * 1.1f;
        EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, expected) << i;
    }
    EXPECT_EQ(a.Frames[11].F0, 0.0f);
}

TEST(BridgeGaps, FramesTwentyOneApartAreNotBridged) {
    PitchAnalyser a = FramesOnly(30);
    a.Frames[0].F0 = 200.0f;
    a.Frames[21].F0 = 200.0f;
    for (int i = 0; i < 30; ++i) a.Candidates[static_cast<std::size_t>(i)][0] = {200.0f, 3.0f};
    a.BridgeGaps();
    for (int i = 1; i < 21; ++i) EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 0.0f) << i;

    // Twenty apart is bridged.
    PitchAnalyser b = FramesOnly(30);
    b.Frames[0].F0 = 200.0f;
    b.Frames[20].F0 = 200.0f;
    for (int i = 0; i < 30; ++i) b.Candidates[static_cast<std::size_t>(i)][0] = {200.0f, 3.0f};
    b.BridgeGaps();
    for (int i = 0; i <= 20; ++i) EXPECT_EQ(b.Frames[static_cast<std::size_t>(i)].F0, 200.0f) << i;
}

TEST(BridgeGaps, APitchJumpAboveOneAndAHalfKeepsTheEarlierAnchor) {
    PitchAnalyser a = FramesOnly(12);
    a.Frames[0].F0 = 200.0f;
    a.Frames[4].F0 = 400.0f;  // ratio 2 to the anchor: skipped, anchor stays at 0
    a.Frames[8].F0 = 200.0f;  // bridged with frame 0, across frame 4
    for (int i = 0; i <= 8; ++i) a.Candidates[static_cast<std::size_t>(i)][0] = {200.0f, 3.0f};
    a.Candidates[4][1] = {400.0f, 9.0f};
    a.BridgeGaps();
    for (int i = 0; i <= 8; ++i) EXPECT_EQ(a.Frames[static_cast<std::size_t>(i)].F0, 200.0f) << i;
}

TEST(BridgeGaps, AdjacentVoicedFramesAreLeftAlone) {
    PitchAnalyser a = FramesOnly(3);
    a.Frames[0].F0 = 200.0f;
    a.Frames[1].F0 = 210.0f;
    a.Frames[2].F0 = 220.0f;  // no candidates at all: a re-pick would unvoice
    a.BridgeGaps();
    EXPECT_EQ(a.Frames[0].F0, 200.0f);
    EXPECT_EQ(a.Frames[1].F0, 210.0f);
    EXPECT_EQ(a.Frames[2].F0, 220.0f);
}

// ---------------------------------------------------------------- threads

// Tone with a glide and noise, so that every array has varied content.
WaveBuffer VariedRecording(std::uint32_t count) {
    std::mt19937 random(99);
    std::normal_distribution<double> noise(0.0, 300.0);
    double phase = 0.0;
    return MakeWave(count, [&](std::uint32_t i) {
        const double f0 = 150.0 + 100.0 * i / count;
        phase += 2.0 * std::numbers::pi * f0 / 44100.0;
        double v = noise(random);
        for (int h = 1; h <= 6; ++h) v += 5000.0 / h * std::sin(h * phase);
        return static_cast<std::int32_t>(std::lround(v));
    });
}

template <typename T>
bool SameBits(const std::vector<T>& x, const std::vector<T>& y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0);
}

void ExpectIdenticalAnalyses(const PitchAnalyser& one, const PitchAnalyser& two) {
    ASSERT_EQ(one.FrameCount, two.FrameCount);
    EXPECT_TRUE(SameBits(one.Spectrum, two.Spectrum));
    EXPECT_TRUE(SameBits(one.Autocorr, two.Autocorr));
    EXPECT_TRUE(SameBits(one.Candidates, two.Candidates));
    EXPECT_TRUE(SameBits(one.Confidence, two.Confidence));
    EXPECT_TRUE(SameBits(one.Frames, two.Frames));
}

TEST(AnalysisThreads, OneWorkerAndTheTwoWaySplitGiveIdenticalBits) {
    const WaveBuffer wave = VariedRecording(30001);
    PitchAnalyser one;
    one.Options.WorkerCount = 1;
    one.Options.KeepAutocorr = true;
    one.Analyze(wave);
    PitchAnalyser two;
    two.Options.WorkerCount = 2;
    two.Options.KeepAutocorr = true;
    two.Analyze(wave);
    ASSERT_GT(one.FrameCount, 100);
    ExpectIdenticalAnalyses(one, two);
    // The recording is voiced, so this compares real pitch data.
    int voiced = 0;
    for (const auto& f : two.Frames) voiced += f.F0 > 0.0f ? 1 : 0;
    EXPECT_GT(voiced, 50);
}

TEST(AnalysisThreads, ASingleFrameGivesTheSameBitsWithOneOrTwoWorkers) {
    // One sample gives one frame (the final AddFrame(0) finds frame 0).
    const WaveBuffer wave = MakeWave(1, [](std::uint32_t) { return 20000; });
    PitchAnalyser one;
    one.Options.WorkerCount = 1;
    one.Options.KeepAutocorr = true;
    one.Analyze(wave);
    PitchAnalyser two;
    two.Options.KeepAutocorr = true;
    two.Analyze(wave);
    ASSERT_EQ(two.FrameCount, 1);
    // The lone sample sits at the window's centre (weight 1): bin 0 holds 20000 / 512.
    EXPECT_NEAR(two.Spectrum[0][0], 20000.0 / 512.0, 1e-9);
    ExpectIdenticalAnalyses(one, two);
}

TEST(TwoHalves, SplitsAtTheMiddleJoinsInOrderAndAThrowStopsTheOtherHalf) {
    const auto range = [](std::size_t first, std::size_t end) {
        return std::to_string(first) + "-" + std::to_string(end);
    };
    const auto join = [](const std::string& a, const std::string& b) { return a + "," + b; };
    EXPECT_EQ(InTwoHalves(5, 6, range, join), "0-5");  // below the threshold: one part
    EXPECT_EQ(InTwoHalves(5, 5, range, join), "0-2,2-5");
    // Either half throwing: the other is asked to stop, both end, and the
    // exception reaches the caller.
    for (const std::size_t throwing : {std::size_t{0}, std::size_t{2}}) {
        std::atomic<bool> otherStopped{false};
        const auto part = [&](std::size_t first, std::size_t, std::stop_token stop) {
            if (first == throwing) throw std::runtime_error("half failed");
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!stop.stop_requested() && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::yield();
            otherStopped = stop.stop_requested();
        };
        EXPECT_THROW(InTwoHalves(4, 2, part), std::runtime_error) << "half at " << throwing;
        EXPECT_TRUE(otherStopped) << "half at " << throwing;
    }
}

TEST(AnalysisThreads, DroppingTheAutocorrRowsChangesNoResult) {
    const WaveBuffer wave = VariedRecording(20000);
    PitchAnalyser kept;
    kept.Options.KeepAutocorr = true;
    kept.Analyze(wave);
    PitchAnalyser dropped;
    dropped.Analyze(wave);
    EXPECT_TRUE(dropped.Autocorr.empty());
    EXPECT_TRUE(SameBits(kept.Candidates, dropped.Candidates));
    EXPECT_TRUE(SameBits(kept.Frames, dropped.Frames));
    EXPECT_TRUE(SameBits(kept.Spectrum, dropped.Spectrum));
}

TEST(AnalysisThreads, ProgressCountsEveryFrameOfBothStepsInOrder) {
    std::vector<std::pair<int, int>> calls;
    PitchAnalyser a;
    a.Options.Progress = [&calls](int done, int total) { calls.emplace_back(done, total); };
    a.Analyze(VariedRecording(100000));
    ASSERT_FALSE(calls.empty());
    for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_GT(calls[i].first, calls[i - 1].first);
    EXPECT_EQ(calls.back().first, 2 * a.FrameCount);
    EXPECT_EQ(calls.back().second, 2 * a.FrameCount);
}

// Without kept spectra every row is recomputed where it is needed; nothing
// that anyone reads may differ, including what the editor measures after the
// analysis.
TEST(AnalysisThreads, RecomputedSpectraGiveTheSameResultsAsKeptOnes) {
    const WaveBuffer wave = VariedRecording(25000);
    PitchAnalyser kept;
    kept.Analyze(wave);
    for (int workers : {1, 2}) {
        PitchAnalyser lean;
        lean.Options.KeepSpectra = false;
        lean.Options.WorkerCount = workers;
        lean.Analyze(wave);
        EXPECT_TRUE(lean.Spectrum.empty());
        ASSERT_EQ(lean.FrameCount, kept.FrameCount);
        EXPECT_TRUE(SameBits(lean.Candidates, kept.Candidates));
        EXPECT_TRUE(SameBits(lean.Confidence, kept.Confidence));
        EXPECT_TRUE(SameBits(lean.Frames, kept.Frames)) << workers << " workers";
        BinRow row;
        for (int i = 0; i < lean.FrameCount; ++i) {
            lean.SpectrumRow(i, row);
            ASSERT_EQ(row, kept.Spectrum[static_cast<std::size_t>(i)]) << i;
        }
    }

    // The editor's follow-up measures.
    PitchAnalyser lean;
    lean.Options.KeepSpectra = false;
    lean.Analyze(wave);
    PitchAnalyser keptAgain;
    keptAgain.Analyze(wave);
    keptAgain.MeasureFixedComb();
    keptAgain.MeasureNoiseFlux();
    lean.MeasureFixedComb();
    lean.MeasureNoiseFlux();
    EXPECT_TRUE(SameBits(lean.Frames, keptAgain.Frames));
    float flux = 0.0f;
    for (const auto& f : lean.Frames) flux += f.Noise[8];
    EXPECT_GT(flux, 0.0f);  // the noisy recording really has spectral change

    // The fused pass, in both modes, with every row handed out once.
    for (bool keep : {true, false}) {
        PitchAnalyser fused;
        fused.Options.KeepSpectra = keep;
        fused.Analyze(wave);
        std::vector<BinRow> visited(static_cast<std::size_t>(fused.FrameCount));
        std::vector<int> visits(static_cast<std::size_t>(fused.FrameCount), 0);
        fused.MeasureFixedCombAndNoiseFlux([&](int i, const BinRow& row) {
            visited[static_cast<std::size_t>(i)] = row;
            ++visits[static_cast<std::size_t>(i)];
        });
        EXPECT_TRUE(SameBits(fused.Frames, keptAgain.Frames)) << "keep " << keep;
        EXPECT_EQ(visits, std::vector<int>(visits.size(), 1));
        EXPECT_TRUE(SameBits(visited, kept.Spectrum));
    }

    lean.ReleaseSpectra();
    int visitsAfterRelease = 0;
    lean.VisitSpectra([&](int, const BinRow&) { ++visitsAfterRelease; });
    EXPECT_EQ(visitsAfterRelease, 0);
    BinRow row;
    row.fill(1.0);
    lean.SpectrumRow(3, row);
    EXPECT_EQ(row, BinRow{});
}

TEST(AnalysisThreads, RecomputedSpectraOfAnEmptyRecordingAreSilent) {
    PitchAnalyser lean;
    lean.Options.KeepSpectra = false;
    lean.Analyze(MakeMono16Wave(0));
    ASSERT_EQ(lean.FrameCount, 2);
    BinRow row;
    row.fill(1.0);
    lean.SpectrumRow(1, row);
    EXPECT_EQ(row, BinRow{});
    EXPECT_EQ(lean.Frames[0].F0, 0.0f);
}

TEST(AnalysisThreads, ProgressWithoutKeptSpectraEndsAtTheFrameCount) {
    int lastDone = 0;
    int lastTotal = 0;
    PitchAnalyser a;
    a.Options.KeepSpectra = false;
    a.Options.Progress = [&](int done, int total) {
        EXPECT_GT(done, lastDone);
        lastDone = done;
        lastTotal = total;
    };
    a.Analyze(VariedRecording(60000));
    EXPECT_EQ(lastDone, a.FrameCount);
    EXPECT_EQ(lastTotal, a.FrameCount);
}

}  // namespace
}  // namespace melodrift
