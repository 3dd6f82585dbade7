#include "editor/Voicing.h"

#include "Recordings.h"
#include "audio/PitchAnalyser.h"
#include "editor/LaneLayout.h"
#include "editor/Loading.h"
#include "editor/Session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace melodrift {
namespace {

using testing::ScriptedPrompts;
using testing::WavBytes;
using testing::WriteBytes;

constexpr double kBinHz = 44100.0 / 2048.0;

// A magnitude spectrum of harmonics 1..n of f0 (amplitude 1/h at the nearest
// bin, half of it in the two bins beside it) over a floor of `floor`.
BinRow HarmonicRow(double f0Hz, int harmonics, double floor = 1e-3) {
    BinRow row{};
    row.fill(floor);
    for (int h = 1; h <= harmonics; ++h) {
        const int bin = static_cast<int>(std::lround(h * f0Hz / kBinHz));
        if (bin + 1 >= SpectrumBins) break;
        row[static_cast<std::size_t>(bin)] = 1.0 / h;
        row[static_cast<std::size_t>(bin - 1)] = 0.5 / h;
        row[static_cast<std::size_t>(bin + 1)] = 0.5 / h;
    }
    return row;
}

// Noise-like magnitudes (a fixed pseudo-random sequence) between fromHz and
// toHz, nearly nothing elsewhere.
BinRow NoiseRow(double fromHz, double toHz) {
    BinRow row{};
    std::uint32_t state = 12345;
    for (int k = 0; k < SpectrumBins; ++k) {
        state = state * 1664525u + 1013904223u;
        const double u = (state >> 8) / 16777216.0;
        const double hz = k * kBinHz;
        row[static_cast<std::size_t>(k)] = hz >= fromHz && hz <= toHz ? 0.05 + u : 1e-4;
    }
    return row;
}

TEST(VoicingEvidence, HarmonicsStandOutOnlyAtTheirOwnPitch) {
    const BinRow vowel = HarmonicRow(200.0, 40);
    const VoicingEvidence right = MeasureVoicingEvidence(vowel, 200.0f);
    EXPECT_GT(right.HarmonicContrastDb, 20.0f);
    EXPECT_LT(right.HighBandExcessDb, -10.0f);
    const float limitDb = VoicingOptions{}.MinHarmonicContrastDb;
    // An octave up puts the "troughs" on real harmonics (3, 5, 7, ... against
    // 2, 4, 6, ...: about 2.5 dB with these amplitudes).
    EXPECT_LT(MeasureVoicingEvidence(vowel, 400.0f).HarmonicContrastDb, limitDb);
    // Noise has no harmonics at any pitch.
    const BinRow noise = NoiseRow(300.0, 4000.0);
    for (float f0 : {150.0f, 550.0f})
        EXPECT_LT(MeasureVoicingEvidence(noise, f0).HarmonicContrastDb, limitDb) << f0;
    // A fricative's energy lies above 3 kHz.
    EXPECT_GT(MeasureVoicingEvidence(NoiseRow(4000.0, 9000.0), 550.0f).HighBandExcessDb, 10.0f);
    // Unvoiced frames carry no evidence; pitches too low for the window to
    // resolve their harmonics always pass the contrast test.
    EXPECT_EQ(MeasureVoicingEvidence(vowel, 0.0f).HarmonicContrastDb, 0.0f);
    EXPECT_GT(MeasureVoicingEvidence(noise, 60.0f).HarmonicContrastDb, limitDb);
}

// Frames at the given pitches (0 = unvoiced), confident and harmonic unless
// told otherwise.
struct Track {
    std::vector<AnalysisFrame> frames;
    std::vector<float> confidence;
    std::vector<VoicingEvidence> evidence;
    void Add(int count, double cents, float strength = 9.0f, float contrastDb = 20.0f,
             float highDb = -20.0f) {
        for (int i = 0; i < count; ++i) {
            AnalysisFrame frame;
            frame.TargetF0 = cents > 0 ? static_cast<float>(CentsToHz(cents)) : 0.0f;
            frames.push_back(frame);
            confidence.push_back(cents > 0 ? strength : 0.0f);
            evidence.push_back(VoicingEvidence{contrastDb, highDb});
        }
    }
    std::vector<std::uint8_t> Check() const { return CheckVoicing(frames, confidence, evidence); }
};

int CountRejected(const std::vector<std::uint8_t>& rejected, int first, int last) {
    int count = 0;
    for (int i = first; i <= last; ++i) count += rejected[static_cast<std::size_t>(i)];
    return count;
}

// The contrast as the plain formula gives it: the nearest bin of each
// frequency by lround(hz / bin width), every bin read through a bounds check.
double PlainContrastRatio(const BinRow& row, float f0Hz) {
    const auto power = [&row](int bin) {
        if (bin < 0 || bin >= SpectrumBins) return 0.0;
        return row[static_cast<std::size_t>(bin)] * row[static_cast<std::size_t>(bin)];
    };
    const auto binOf = [](double hz) { return static_cast<int>(std::lround(hz / kBinHz)); };
    const double f0 = f0Hz;
    double peaks = 0.0;
    double troughs = 0.0;
    for (int h = 1; h <= 40 && (h + 0.5) * f0 < 4000.0; ++h) {
        const int bin = binOf(h * f0);
        peaks += std::max({power(bin - 1), power(bin), power(bin + 1)});
        troughs += power(binOf((h + 0.5) * f0));
    }
    return (peaks + 1e-12) / (troughs + 1e-12);
}

// The contrast rounds each harmonic to its bin without a division; on
// pitches whose harmonics or midpoints fall a few ulp either side of a
// half bin, and on a sweep of ordinary pitches, it reads the same bins as the
// plain formula (the row is different in every bin, so one wrong bin shows).
TEST(VoicingEvidence, HarmonicBinsAreThoseOfThePlainFormula) {
    const BinRow row = NoiseRow(0.0, 22050.0);
    std::vector<float> pitches;
    for (float f0 = 70.0f; f0 < 900.0f; f0 += 0.37f) pitches.push_back(f0);
    for (int h = 1; h <= 40; ++h) {
        for (int k = 4; k < 190; ++k) {
            for (const double multiple : {static_cast<double>(h), h + 0.5}) {
                const auto edge = static_cast<float>((k + 0.5) * kBinHz / multiple);
                if (!(edge >= 70.0f && edge < 900.0f)) continue;
                float below = edge;
                float above = edge;
                for (int step = 0; step < 4; ++step) {
                    below = std::nextafter(below, 0.0f);
                    above = std::nextafter(above, 1000.0f);
                    pitches.push_back(below);
                    pitches.push_back(above);
                }
                pitches.push_back(edge);
            }
        }
    }
    for (const float f0 : pitches)
        ASSERT_EQ(HarmonicContrastRatio(row, f0), PlainContrastRatio(row, f0)) << f0;
    EXPECT_GT(pitches.size(), 50000u);
}

// The load measures every candidate while the spectrum is at hand and picks
// the traced one afterwards: the same evidence as measuring at the traced
// pitch directly.
TEST(VoicingEvidence, PickedFromTheCandidatesAsIfMeasuredAtTheTracedPitch) {
    const BinRow vowel = HarmonicRow(210.0, 30);
    CandidateSlots candidates{};
    const float freqs[] = {210.0f, 105.0f, 420.0f, 551.3f};
    for (std::size_t c = 0; c < std::size(freqs); ++c)
        candidates[c] = {freqs[c], 9.0f - static_cast<float>(c)};
    const CandidateEvidence measured = MeasureCandidateEvidence(vowel, candidates);
    for (float f0 : freqs) {
        const VoicingEvidence direct = MeasureVoicingEvidence(vowel, f0);
        const VoicingEvidence picked = EvidenceAtTracedPitch(measured, candidates, f0);
        EXPECT_EQ(picked.HarmonicContrastDb, direct.HarmonicContrastDb) << f0;
        EXPECT_EQ(picked.HighBandExcessDb, direct.HighBandExcessDb) << f0;
    }
    // Unvoiced: no evidence; a pitch that is no candidate: the contrast test passes.
    EXPECT_EQ(EvidenceAtTracedPitch(measured, candidates, 0.0f).HarmonicContrastDb, 0.0f);
    EXPECT_GT(EvidenceAtTracedPitch(measured, candidates, 333.0f).HarmonicContrastDb, 50.0f);
}

TEST(CheckVoicing, EachFrameNeedsConfidenceHarmonicsAndEnergyBelowTheHighBand) {
    Track t;
    t.Add(30, 6000.0);                    // 0..29 a sung vowel
    t.Add(3, 6000.0, 3.0f);               // 30..32 weak candidates
    t.Add(3, 6000.0, 9.0f, 2.0f);         // 33..35 noise-like spectrum
    t.Add(3, 6000.0, 9.0f, 20.0f, 6.0f);  // 36..38 fricative energy
    t.Add(30, 6000.0);                    // 39..68 the vowel goes on
    t.Add(5, 0.0);                        // 69..73 unvoiced
    const std::vector<std::uint8_t> rejected = t.Check();
    ASSERT_EQ(rejected.size(), t.frames.size());
    EXPECT_EQ(CountRejected(rejected, 0, 29), 0);
    EXPECT_EQ(CountRejected(rejected, 30, 38), 9);
    EXPECT_EQ(CountRejected(rejected, 39, 68), 0);
    // An unvoiced frame is never marked: there is no pitch to reject.
    EXPECT_EQ(CountRejected(rejected, 69, 73), 0);
}

TEST(CheckVoicing, ShortRunsFarFromTheStablePitchAroundThemAreRejected) {
    Track t;
    t.Add(30, 6000.0);  // 0..29 stable
    t.Add(4, 0.0);      // 30..33 a consonant
    t.Add(8, 8900.0);   // 34..41 a chirp 29 semitones up, in consonant noise
    t.Add(30, 6200.0);  // 42..71 the next vowel
    t.Add(10, 0.0);     // 72..81
    t.Add(8, 6300.0);   // 82..89 a short run close to the vowel before it
    t.Add(60, 0.0);     // 90..149 a long rest
    t.Add(3, 7000.0);   // 150..152 a lone blip, nothing stable near it
    t.Add(60, 0.0);     // 153..212
    t.Add(10, 7000.0);  // 213..222 a lone short note, long enough to keep
    const std::vector<std::uint8_t> rejected = t.Check();
    EXPECT_EQ(CountRejected(rejected, 34, 41), 8);
    EXPECT_EQ(CountRejected(rejected, 0, 29) + CountRejected(rejected, 42, 71), 0);
    EXPECT_EQ(CountRejected(rejected, 82, 89), 0);
    EXPECT_EQ(CountRejected(rejected, 150, 152), 3);
    EXPECT_EQ(CountRejected(rejected, 213, 222), 0);
}

TEST(CheckVoicing, AJumpInsideAVoicedRunSplitsIt) {
    Track t;
    t.Add(40, 5500.0);  // 0..39 stable
    t.Add(6, 6900.0);   // 40..45 an octave-and-more slip, still "voiced"
    t.Add(40, 5500.0);  // 46..85
    const std::vector<std::uint8_t> rejected = t.Check();
    EXPECT_EQ(CountRejected(rejected, 40, 45), 6);
    EXPECT_EQ(CountRejected(rejected, 0, 39) + CountRejected(rejected, 46, 85), 0);
}

// 300 ms of a 200 Hz vowel, 150 ms of loud band-limited noise (a fricative
// with a fixed seed), 300 ms of the vowel again.
std::vector<std::int16_t> VowelNoiseVowel() {
    std::vector<std::int16_t> samples;
    auto vowel = [&](int count) {
        for (int i = 0; i < count; ++i) {
            double v = 0.0;
            for (int h = 1; h <= 12; ++h)
                v += std::sin(2.0 * std::numbers::pi * 200.0 * h * i / 44100.0) / h;
            samples.push_back(static_cast<std::int16_t>(std::lround(v * 5000.0)));
        }
    };
    vowel(13230);
    std::uint32_t state = 99;
    double y1 = 0.0;
    double y2 = 0.0;
    for (int i = 0; i < 6615; ++i) {
        state = state * 1664525u + 1013904223u;
        const double x = (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
        // A resonance near 2.5 kHz keeps the noise in the range where the
        // tracker finds chains of candidates.
        const double y = x + 1.6 * y1 - 0.81 * y2;
        y2 = y1;
        y1 = y;
        samples.push_back(static_cast<std::int16_t>(std::clamp(y * 2500.0, -32000.0, 32000.0)));
    }
    vowel(13230);
    return samples;
}

class VoicingInSession : public ::testing::Test {
  protected:
    void SetUp() override {
        wave = folder.path() / "voice.wav";
        WriteBytes(wave, WavBytes(VowelNoiseVowel()));
    }
    testing::TempFolder folder;
    std::filesystem::path wave;
    ScriptedPrompts prompts;
};

TEST_F(VoicingInSession, TheCheckedPitchStaysOnTheVowelsAndTheRawAnalysisIsKept) {
    EditorSession checked;
    ASSERT_EQ(checked.LoadRecording(wave, prompts), LoadOutcome::Loaded);
    EditorSession raw;
    raw.VoicingCheck = false;
    ASSERT_EQ(raw.LoadRecording(wave, prompts), LoadOutcome::Loaded);

    // The analysis is the same whatever the check says.
    ASSERT_EQ(checked.FrameCount(), raw.FrameCount());
    for (int i = 0; i < raw.FrameCount(); ++i)
        ASSERT_EQ(checked.Analyser->Frames[static_cast<std::size_t>(i)].TargetF0,
                  raw.Analyser->Frames[static_cast<std::size_t>(i)].TargetF0);
    // Off, the pitch is the traced one, every voiced frame kept.
    EXPECT_EQ(raw.PitchCents, BuildPitchCents(raw.Analyser->Frames));
    EXPECT_TRUE(raw.RejectedPitchFrames().empty());

    // The tracker voices part of the noise far from the vowel: the chirp the
    // check is for.
    const double vowelCents = 1200.0 * std::log2(200.0 / 220.0) + 5700.0;
    int chirps = 0;
    for (int i = 0; i < raw.FrameCount(); ++i)
        chirps += std::fabs(raw.PitchCents[static_cast<std::size_t>(i)] - vowelCents) > 300.0;
    EXPECT_GT(chirps, 3);

    // On, every frame of the recording sits within 300 cents of the vowel
    // (200 Hz = 5535 cents), the noise included; the vowels keep their pitch.
    for (int i = 0; i < checked.FrameCount(); ++i)
        EXPECT_NEAR(checked.PitchCents[static_cast<std::size_t>(i)], vowelCents, 300.0) << i;
    for (int i = 10; i < 40; ++i)
        EXPECT_EQ(checked.PitchRejected[static_cast<std::size_t>(i)], 0) << i;
    // Turning the check off afterwards gives the traced pitch back.
    checked.VoicingCheck = false;
    checked.BuildPitchCents();
    EXPECT_EQ(checked.PitchCents, raw.PitchCents);
}

TEST_F(VoicingInSession, ADrawnPitchLineIsTrustedWhateverTheCheckSaid) {
    EditorSession s;
    ASSERT_EQ(s.LoadRecording(wave, prompts), LoadOutcome::Loaded);
    std::fill(s.PitchRejected.begin(), s.PitchRejected.end(), 1);
    s.BuildPitchCents();
    EXPECT_EQ(s.PitchCents[20], 0);  // nothing trusted: no pitch at all
    // A line along the vowel's 200 Hz (row = 188 − cents / 50) over frames 10..40.
    const int row =
        kLanes.Pitch.Top + 188 -
        static_cast<int>(std::lround((1200.0 * std::log2(200.0 / 220.0) + 5700.0) / 50.0));
    s.ApplyPitchLine(PixelPoint{10 * s.Scale, row}, PixelPoint{40 * s.Scale, row});
    for (int i = 12; i < 38; ++i) EXPECT_EQ(s.PitchRejected[static_cast<std::size_t>(i)], 0) << i;
    EXPECT_NEAR(s.PitchCents[20], 5535, 30);  // 200 Hz
}

}  // namespace
}  // namespace melodrift
