#include "editor/Loading.h"

#include "Recordings.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/LaneLayout.h"
#include "editor/LoadingPicture.h"
#include "editor/Session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>

namespace melodrift {
namespace {

using testing::HarmonicTone;
using testing::ScriptedPrompts;
using testing::WavBytes;
using testing::WriteBytes;

std::vector<AnalysisFrame> FramesWithCents(const std::vector<double>& cents) {
    std::vector<AnalysisFrame> frames(cents.size());
    for (std::size_t i = 0; i < cents.size(); ++i) {
        frames[i].TargetF0 = static_cast<float>(CentsToHz(cents[i]));
        frames[i].SamplePos = static_cast<std::int32_t>(i * 256);
    }
    return frames;
}

TEST(PitchCents, FillsAGapBetweenVoicedFramesInEqualIntegerSteps) {
    const auto cents = BuildPitchCents(FramesWithCents({6000, 0, 0, 0, 0, 6100}));
    EXPECT_EQ(cents, (std::vector<std::int32_t>{6000, 6020, 6040, 6060, 6080, 6100}));
}

TEST(PitchCents, LeadingAndTrailingUnvoicedRunsRepeatTheNearestVoicedValue) {
    std::vector<double> input(50, 0.0);
    input[40] = 6000;
    input[41] = 6050;
    input[42] = 6150;
    const auto cents = BuildPitchCents(FramesWithCents(input));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(cents[i], 6000) << i;
    EXPECT_EQ(cents[41], 6050);
    for (int i = 42; i < 50; ++i) EXPECT_EQ(cents[i], 6150) << i;
}

TEST(PitchCents, RoundsHalfUpAndGivesZerosWithoutVoicedFrames) {
    std::vector<AnalysisFrame> frames(3);
    frames[0].TargetF0 = 440.0f;                                 // 6900 exactly
    frames[1].TargetF0 = static_cast<float>(CentsToHz(6000.6));  // rounds up
    frames[2].TargetF0 = static_cast<float>(CentsToHz(6000.4));  // rounds down
    EXPECT_EQ(BuildPitchCents(frames), (std::vector<std::int32_t>{6900, 6001, 6000}));
    EXPECT_EQ(BuildPitchCents(std::vector<AnalysisFrame>(4)), (std::vector<std::int32_t>(4, 0)));
    EXPECT_TRUE(BuildPitchCents({}).empty());
    // A falling gap truncates toward zero: 6100 → 6000 over 3 steps.
    EXPECT_EQ(BuildPitchCents(FramesWithCents({6100, 0, 0, 6000})),
              (std::vector<std::int32_t>{6100, 6067, 6034, 6000}));
}

TEST(PeakNormalisation, ScalesChannelZeroToNinetyPercentWithFloor) {
    WaveBuffer wave = MakeMono16Wave(3);
    wave.SetSample(0, 0, 1000);
    wave.SetSample(1, 0, -1000);
    wave.SetSample(2, 0, 10);
    NormalisePeak(wave, 0.9);
    const float factor = static_cast<float>(0.9L * 32767.0L / 1000.0L);
    EXPECT_EQ(wave.GetSample(0, 0), static_cast<int>(std::floor(1000.0L * factor)));
    EXPECT_EQ(wave.GetSample(1, 0), static_cast<int>(std::floor(-1000.0L * factor)));
    EXPECT_EQ(wave.GetSample(0, 0), 29490);
    EXPECT_EQ(wave.GetSample(1, 0), -29491);
    EXPECT_EQ(wave.GetSample(2, 0), 294);
}

TEST(PeakNormalisation, LeavesDigitalSilenceAndEmptyWavesAlone) {
    WaveBuffer wave = MakeMono16Wave(2);
    wave.SetSample(0, 0, 9);
    wave.SetSample(1, 0, -9);
    NormalisePeak(wave, 0.9);
    EXPECT_EQ(wave.GetSample(0, 0), 9);
    EXPECT_EQ(wave.GetSample(1, 0), -9);
    WaveBuffer empty;
    NormalisePeak(empty, 0.9);
    EXPECT_EQ(empty.SampleCount(), 0u);
}

TEST(FrameVolume, FirstFrameTakesHalfAWindowAndTheDivisorIsAlways256) {
    WaveBuffer wave = MakeMono16Wave(1000);
    for (std::uint32_t i = 0; i < 1000; ++i) wave.SetSample(i, 0, i % 2 == 0 ? 1000 : -1000);
    std::vector<AnalysisFrame> frames(5);
    const int positions[5] = {0, 256, 512, 768, 999};
    for (int i = 0; i < 5; ++i) frames[i].SamplePos = positions[i];
    const auto volume = ComputeFrameVolume(wave, frames);
    // Frame 0: 128 samples → sqrt(128 · 10^6 / 256) = 707.1.
    EXPECT_EQ(volume[0], 707);
    EXPECT_EQ(volume[1], 1000);
    EXPECT_EQ(volume[2], 1000);
    // Frame 3: samples 640 .. 870 (231 of them); the last frame the rest (129).
    EXPECT_EQ(volume[3], static_cast<int>(std::sqrt(231.0 * 1e6 / 256.0)));
    EXPECT_EQ(volume[4], static_cast<int>(std::sqrt(129.0 * 1e6 / 256.0)));
}

TEST(SpectrumImage, RowsRunFromTheHighestBandDownToBinsZeroAndOne) {
    BinRow spectrum{};
    spectrum[0] = 800.0;
    spectrum[1] = 800.0;  // (800 + 800) / 2 = 800 → 0 dB at the bottom row
    spectrum[254] = 8.0;
    spectrum[255] = 8.0;  // 8 / 800 → −40 dB at the top row
    const SpectrumColumn column = SpectrumColumnOf(spectrum);
    EXPECT_NEAR(column[127], 0.0f, 1e-5f);
    EXPECT_NEAR(column[0], -40.0f, 1e-4f);
    EXPECT_NEAR(column[64], 20.0 * std::log10(1e-8 / 800.0), 1e-3);  // silence
}

// The image's dB of a pair sum written out from its definition, in
// extended precision.
float ReferenceDb(float sum) {
    const long double v = static_cast<long double>(sum) / 2.0L + 0.00000001L;
    return static_cast<float>(20.0L * std::log10(v / 800.0L));
}

TEST(SpectrumImage, EveryPairSumGivesTheExtendedEvaluationsSingle) {
    // Pair sums are singles from 0 up to about 3e5 (a full-scale sine gives
    // bins near 2^16). Every single within a few thousand ulp of the 0 dB
    // point (v = 800, where the result's ulp is smallest), and every 4099th
    // single of the whole non-negative range, each as the bottom row of a
    // column, against the extended evaluation.
    std::vector<float> sums;
    float near = std::nextafter(1600.0f - 1e-8f, 0.0f);
    for (int n = 0; n < 4000; ++n) near = std::nextafter(near, 0.0f);
    for (int n = 0; n < 8000; ++n, near = std::nextafter(near, 1e9f)) sums.push_back(near);
    for (std::uint32_t bits = 0; bits < 0x49000000u; bits += 4099u) {
        float value;
        std::memcpy(&value, &bits, sizeof value);
        sums.push_back(value);
    }
    // 128 sums per column: bins 2k hold them, bins 2k + 1 zero ((sum + 0)
    // rounds to the same single); row r shows k = 127 - r.
    for (std::size_t first = 0; first < sums.size(); first += 128) {
        BinRow spectrum{};
        const std::size_t count = std::min<std::size_t>(128, sums.size() - first);
        for (std::size_t k = 0; k < count; ++k) spectrum[2 * k] = sums[first + k];
        const SpectrumColumn column = SpectrumColumnOf(spectrum);
        for (std::size_t k = 0; k < count; ++k) {
            ASSERT_EQ(column[127 - k], ReferenceDb(sums[first + k])) << sums[first + k];
        }
    }
}

TEST(SpectrumImage, ColumnPeakIsTheLargestValueOfTheWholeColumn) {
    // Random columns over many decades, columns with equal and nearly equal
    // bands, silent and constant ones.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> exponent(-12.0, 5.0);
    for (int n = 0; n < 3000; ++n) {
        BinRow spectrum{};
        const int kind = n % 5;
        for (std::size_t k = 0; k < spectrum.size(); ++k) {
            if (kind == 0) spectrum[k] = std::pow(10.0, exponent(random));
            if (kind == 1) spectrum[k] = 1e-9 * (k % 7);
            if (kind == 2) spectrum[k] = 1234.5;
            if (kind == 3) spectrum[k] = 800.0 + (k % 3) * 1e-10;
        }
        const SpectrumColumn column = SpectrumColumnOf(spectrum);
        ASSERT_EQ(SpectrumColumnPeak(spectrum), *std::max_element(column.begin(), column.end()))
            << n;
    }
}

TEST(PeakNormalisation, EverySixteenBitSampleScalesAsTheExtendedProduct) {
    // Every 16-bit value, under peaks from the quietest that is scaled (10)
    // to full scale, against floor(sample * factor) in extended precision.
    for (int peak : {10, 11, 333, 4097, 20000, 32767, 32768}) {
        WaveBuffer wave = MakeMono16Wave(65536 + 1);
        for (int v = -32768; v <= 32767; ++v) {
            const int clipped = std::clamp(v, -peak, std::min(peak, 32767));
            wave.SetSample(static_cast<std::uint32_t>(v + 32768), 0, clipped);
        }
        wave.SetSample(65536, 0, peak == 32768 ? -32768 : peak);
        const WaveBuffer before = wave;
        NormalisePeak(wave, 0.9);
        const auto factor = static_cast<float>(0.9L * 32767.0L / peak);
        for (std::uint32_t i = 0; i <= 65536; ++i) {
            const long double scaled = static_cast<long double>(before.GetSample(i, 0)) * factor;
            const auto expected =
                static_cast<std::int16_t>(static_cast<std::int32_t>(std::floor(scaled)));
            ASSERT_EQ(wave.GetSample(i, 0), expected)
                << "peak " << peak << " sample " << before.GetSample(i, 0);
        }
    }
}

// A long recording is scaled in two halves at once; the peak lies in the
// second half, and in stereo channel 1 is left as it was.
TEST(PeakNormalisation, LongRecordingsScaleInBothHalvesAndOnlyChannelZero) {
    for (const std::uint16_t channels : {1, 2}) {
        WaveBuffer wave = MakeMono16Wave(10);
        if (channels == 2) wave.ConvertChannels(2);
        const std::uint32_t count = 1'500'000;
        wave.SetFrameCount(count);
        std::uint32_t state = 5;
        for (std::uint32_t i = 0; i < count; ++i) {
            state = state * 1664525u + 1013904223u;
            wave.SetSample(i, 0, static_cast<std::int16_t>(state >> 16) / 4);
            if (channels == 2) wave.SetSample(i, 1, static_cast<std::int16_t>(state));
        }
        wave.SetSample(1'200'000, 0, -12345);  // the peak, in the second half
        const WaveBuffer before = wave;
        const std::vector<std::uint16_t> table = PeakScaleTable(before, 0.9);
        NormalisePeak(wave, 0.9);
        // The loudness of the samples as scaled, known before the scaling.
        std::vector<AnalysisFrame> frames(count / 256 + 1);
        for (std::size_t i = 0; i < frames.size(); ++i)
            frames[i].SamplePos = static_cast<std::int32_t>(i * 256);
        EXPECT_EQ(ComputeFrameVolume(before, frames, table), ComputeFrameVolume(wave, frames));
        EXPECT_NE(ComputeFrameVolume(before, frames), ComputeFrameVolume(wave, frames));
        const auto factor = static_cast<float>(0.9L * 32767.0L / 12345.0L);
        for (std::uint32_t i = 0; i < count; ++i) {
            const long double scaled = static_cast<long double>(before.GetSample(i, 0)) * factor;
            ASSERT_EQ(wave.GetSample(i, 0),
                      static_cast<std::int16_t>(static_cast<std::int32_t>(std::floor(scaled))))
                << i;
            if (channels == 2) {
                ASSERT_EQ(wave.GetSample(i, 1), before.GetSample(i, 1)) << i;
            }
        }
        EXPECT_EQ(wave.GetSample(1'200'000, 0), -29491);
    }
}

class RecordingLoad : public ::testing::Test {
  protected:
    testing::TempFolder folder;
    ScriptedPrompts prompts;
    EditorSession session;

    std::filesystem::path Write(const std::string& name, const std::string& bytes) {
        const auto path = folder / name;
        WriteBytes(path, bytes);
        return path;
    }
    std::filesystem::path Tone(const std::string& name, std::size_t samples, double f0Hz = 220.0) {
        return Write(name, WavBytes(HarmonicTone(f0Hz, samples)));
    }
};

TEST_F(RecordingLoad, LoadsOneRestSegmentOverTheWholeRecording) {
    const auto path = Tone("voice.wav", 44100);
    ASSERT_EQ(session.LoadRecording(path, prompts), LoadOutcome::Loaded);
    EXPECT_TRUE(prompts.errors.empty());
    EXPECT_EQ(session.WaveFileName, path);
    EXPECT_EQ(session.Caption, "voice.wav");
    ASSERT_EQ(session.Segments.size(), 1u);
    EXPECT_EQ(session.Segments[0].StartMs, 0.0);
    EXPECT_DOUBLE_EQ(session.Segments[0].LengthMs, 44100 / 44.1);
    EXPECT_EQ(session.Segments[0].Lyric, "R");
    EXPECT_TRUE(session.Modified);
    EXPECT_EQ(session.HoverSegment, -1);
    // Frames every 256 samples (0 .. 172) plus one on the last sample.
    ASSERT_EQ(session.FrameCount(), 174);
    EXPECT_EQ(session.PitchCents.size(), 174u);
    EXPECT_EQ(session.FrameVolume.size(), 174u);
    EXPECT_EQ(session.SpectrumImage.size(), 174u);
    EXPECT_TRUE(session.Analyser->Spectrum.empty());
    EXPECT_NE(session.Resynth, nullptr);
    EXPECT_EQ(session.EditSaveFileName, folder / "voice.mlq");
    EXPECT_EQ(session.EditOpenFileName, folder / "voice.mlq");
    EXPECT_EQ(session.OpenWaveFileName, path);
    // The traced pitch lives on in TargetF0; F0 is the fixed comb's 150 Hz.
    for (const AnalysisFrame& frame : session.Analyser->Frames) EXPECT_EQ(frame.F0, 150.0f);
    EXPECT_NEAR(session.PitchCents[87], 5700, 15);
    EXPECT_NEAR(session.Analyser->Frames[87].TargetF0, 220.0f, 2.0f);
    // The peak is normalised to 0.9 of full scale.
    int peak = 0;
    for (std::uint32_t i = 0; i < session.Wave->SampleCount(); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(session.Wave->GetSample(i, 0))));
    }
    EXPECT_NEAR(peak, 29490, 1);
    EXPECT_GT(session.FrameVolume[87], 5000);
}

TEST_F(RecordingLoad, NarrowerScopesMeasureTheSamePitchLoudnessAndPeaks) {
    // Tone bursts between pauses, so that pitch, loudness and the image's
    // peaks all vary.
    std::vector<std::int16_t> take(3 * 44100, 0);
    for (std::size_t start : {5000u, 40000u, 90000u}) {
        const auto tone = HarmonicTone(180.0 + start / 1000.0, 20000);
        std::copy(tone.begin(), tone.end(), take.begin() + static_cast<std::ptrdiff_t>(start));
    }
    const auto path = Write("take.wav", WavBytes(take));
    ASSERT_EQ(session.LoadRecording(path, prompts, {}, LoadScope::Everything), LoadOutcome::Loaded);
    std::vector<float> imagePeaks;
    for (const SpectrumColumn& column : session.SpectrumImage) {
        imagePeaks.push_back(*std::max_element(column.begin(), column.end()));
    }
    EXPECT_EQ(session.SpectrumPeaks, imagePeaks);

    for (LoadScope scope : {LoadScope::SpectrumPeaks, LoadScope::PitchOnly}) {
        EditorSession lean;
        ASSERT_EQ(lean.LoadRecording(path, prompts, {}, scope), LoadOutcome::Loaded);
        ASSERT_EQ(lean.FrameCount(), session.FrameCount());
        for (int i = 0; i < lean.FrameCount(); ++i) {
            const auto k = static_cast<std::size_t>(i);
            ASSERT_EQ(lean.Analyser->Frames[k].TargetF0, session.Analyser->Frames[k].TargetF0) << i;
            ASSERT_EQ(lean.Analyser->Frames[k].F0, 150.0f);
            ASSERT_EQ(lean.Analyser->Confidence[k], session.Analyser->Confidence[k]) << i;
            ASSERT_EQ(lean.Analyser->Candidates[k][0].Freq, session.Analyser->Candidates[k][0].Freq)
                << i;
            // The preview's measures are not taken.
            ASSERT_EQ(lean.Analyser->Frames[k].HarmonicTotal, 0.0f);
        }
        EXPECT_EQ(lean.FrameVolume, session.FrameVolume);
        EXPECT_EQ(lean.PitchCents, session.PitchCents);
        EXPECT_TRUE(lean.SpectrumImage.empty());
        EXPECT_EQ(lean.Resynth, nullptr);
        EXPECT_TRUE(lean.PlayResynthesised(0.0, 500.0).empty());
        if (scope == LoadScope::SpectrumPeaks) {
            EXPECT_EQ(lean.SpectrumPeaks, imagePeaks);
        } else {
            EXPECT_TRUE(lean.SpectrumPeaks.empty());
        }
    }
}

TEST_F(RecordingLoad, ARecordingShorterThanTheCutGapStillHasItsRestSegment) {
    // 10 ms: no cut fits, but the recording is still one "R" segment.
    ASSERT_EQ(session.LoadRecording(Tone("short.wav", 441), prompts), LoadOutcome::Loaded);
    ASSERT_EQ(session.Segments.size(), 1u);
    EXPECT_EQ(session.Segments[0].StartMs, 0.0);
    EXPECT_DOUBLE_EQ(session.Segments[0].LengthMs, 10.0);
    EXPECT_EQ(session.Segments[0].Lyric, "R");
}

TEST_F(RecordingLoad, RejectedFilesLeaveTheEarlierRecordingUntouched) {
    const auto good = Tone("good.wav", 8000);
    ASSERT_EQ(session.LoadRecording(good, prompts), LoadOutcome::Loaded);
    session.AddCut("R", 100.0);
    session.Segments[0].Lyric = "a";
    session.Modified = false;
    const auto segmentsBefore = session.Segments.size();
    const auto framesBefore = session.FrameCount();

    const auto tone = HarmonicTone(220.0, 8000);
    const std::string unsupported = "対応していないフォーマットです。\n";
    const std::string unreadable = "録音ファイルを読み込めません。\n";
    std::string floating = WavBytes(tone);
    floating[20] = 3;  // format tag 3: floating point
    std::string noData = WavBytes(tone).substr(0, 36) + "LIST";
    testing::PutLe(noData, 4, 4);
    noData += "INFO";
    // Each refusal says what was found and what is needed.
    const std::pair<std::filesystem::path, std::string> rejected[] = {
        {Write("eight.wav", WavBytes(tone, 1, 44100, 8)),
         unsupported +
             "このファイルは 44100 Hz・8 ビット・モノラルです。44100 Hz・16 ビットの WAVE "
             "ファイルが必要です。"},
        {Write("slow.wav", WavBytes(HarmonicTone(220.0, 8000, 12000.0, 22050), 2, 22050, 16)),
         unsupported +
             "このファイルは 22050 Hz・16 ビット・ステレオです。44100 Hz・16 ビットの WAVE "
             "ファイルが必要です。"},
        {Write("text.wav", "this is not a RIFF WAVE file at all"),
         unsupported + "WAVE ファイルではありません。"},
        {Write("float.wav", floating),
         unsupported + "整数 PCM ではない WAVE ファイルです（形式番号 3: "
                       "浮動小数点）。非圧縮の整数 PCM（44100 Hz・16 ビット）が必要です。"},
        {Write("cut.wav", WavBytes(tone).substr(0, 30)),
         unreadable + "ファイルが途中で切れています（30 バイトで終わっていますが、ヘッダーによれば"
                      "少なくとも 36 バイトあるはずです）。"},
        {Write("short.wav", WavBytes(tone).substr(0, 1044)),
         unreadable +
             "ファイルが途中で切れています（1044 バイトで終わっていますが、ヘッダーによれば"
             "少なくとも 16044 バイトあるはずです）。"},
        {Write("nodata.wav", noData),
         unreadable + "音声データ（data チャンク）がありません（ファイルの終わり 48 "
                      "バイトまで探しました）。"},
        {Write("empty.wav", WavBytes({})), unreadable + "音声データが空です（サンプル数 0）。"},
    };
    for (const auto& [path, message] : rejected) {
        SCOPED_TRACE(path.filename().string());
        prompts.errors.clear();
        EXPECT_EQ(session.LoadRecording(path, prompts), LoadOutcome::Unsupported);
        ASSERT_EQ(prompts.errors.size(), 1u);
        EXPECT_EQ(prompts.errors[0], message);
        EXPECT_EQ(session.WaveFileName, good);
        EXPECT_EQ(session.Segments.size(), segmentsBefore);
        EXPECT_EQ(session.Segments[0].Lyric, "a");
        EXPECT_EQ(session.FrameCount(), framesBefore);
        EXPECT_EQ(session.Wave->SampleCount(), 8000u);
        EXPECT_FALSE(session.Modified);
    }
    EXPECT_EQ(session.LoadRecording(folder / "missing.wav", prompts), LoadOutcome::NoFile);
    EXPECT_EQ(session.WaveFileName, good);
}

TEST_F(RecordingLoad, TenSecondsLoadWithoutAQuestionAndLongerAsks) {
    const auto exact = Write("ten.wav", WavBytes(std::vector<std::int16_t>(441000, 0)));
    EXPECT_EQ(session.LoadRecording(exact, prompts), LoadOutcome::Loaded);
    EXPECT_TRUE(prompts.questions.empty());

    const auto longer = Write("longer.wav", WavBytes(std::vector<std::int16_t>(441441, 0)));
    prompts.answers = {false};
    EXPECT_EQ(session.LoadRecording(longer, prompts), LoadOutcome::Declined);
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], "音声が長いため分析に長時間かかります。続けますか？");
    EXPECT_EQ(session.WaveFileName, exact);
    EXPECT_EQ(session.Wave->SampleCount(), 441000u);

    prompts.answers = {true};
    EXPECT_EQ(session.LoadRecording(longer, prompts), LoadOutcome::Loaded);
    EXPECT_EQ(session.WaveFileName, longer);
}

TEST_F(RecordingLoad, DecliningATenMinuteRecordingChangesNothing) {
    const auto good = Tone("good.wav", 4000);
    ASSERT_EQ(session.LoadRecording(good, prompts), LoadOutcome::Loaded);
    // 210 Hz repeats every 210 samples: one period tiled over ten minutes.
    const auto period = HarmonicTone(210.0, 210);
    std::vector<std::int16_t> tenMinutes(600 * 44100);
    for (std::size_t i = 0; i < tenMinutes.size(); ++i) tenMinutes[i] = period[i % 210];
    const auto huge = Write("huge.wav", WavBytes(tenMinutes));
    prompts.answers = {false};
    EXPECT_EQ(session.LoadRecording(huge, prompts), LoadOutcome::Declined);
    EXPECT_EQ(prompts.log().beeps, 1);
    EXPECT_EQ(session.WaveFileName, good);
    EXPECT_EQ(session.Wave->SampleCount(), 4000u);
    EXPECT_EQ(session.Segments.size(), 1u);
}

TEST_F(RecordingLoad, StereoShowsAndAnalysesTheFirstChannel) {
    const auto left = HarmonicTone(220.0, 22050);
    std::vector<std::int16_t> interleaved;
    for (std::size_t i = 0; i < left.size(); ++i) {
        interleaved.push_back(left[i]);
        interleaved.push_back(0);  // silent right channel
    }
    const auto path = Write("stereo.wav", WavBytes(interleaved, 2));
    ASSERT_EQ(session.LoadRecording(path, prompts), LoadOutcome::Loaded);
    EXPECT_GT(session.FrameVolume[40], 5000);
    EXPECT_NEAR(session.PitchCents[40], 5700, 15);
}

TEST_F(RecordingLoad, ProgressRunsFromZeroToOne) {
    const auto path = Tone("p.wav", 8000);
    std::vector<double> fractions;
    session.LoadRecording(path, prompts,
                          [&](std::string_view, double f) { fractions.push_back(f); });
    ASSERT_GE(fractions.size(), 3u);
    EXPECT_EQ(fractions.front(), 0.0);
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
}

TEST_F(RecordingLoad, AnOverFourMegabyteTakeShowsItsLoudnessWhileItIsRead) {
    // 49 s: two pieces of samples. The load is stopped once both are read.
    const auto path = Tone("read.wav", 49 * 44100);
    std::atomic<bool> stop{false};
    session.Analyser->Options.Stop = &stop;
    std::vector<LoadingPicture::Shown> seen;
    std::vector<RgbaImage> drawn;
    LoadingPicture picture(669, 2.0f, [&] {
        LoadingPicture::Shown shown;
        drawn.push_back(picture.Draw(669, 335, 46.0f, &shown));
        seen.push_back(shown);
        if (seen.size() == 2) stop = true;
    });
    prompts.answers.push_back(true);
    EXPECT_EQ(session.LoadRecording(path, prompts, {}, LoadScope::Everything, &picture),
              LoadOutcome::Declined);
    ASSERT_EQ(seen.size(), 2u);
    // The first piece's frames show, in the columns the whole take will have.
    EXPECT_TRUE(seen[0].loudness);
    EXPECT_FALSE(seen[0].wholeLoudness);
    const int frames = 49 * 44100 / 256 + 2;
    const Zoom fit = ZoomToFit(frames, 669);
    const int columns = (frames + fit.frames - 1) / fit.frames;
    EXPECT_EQ(seen[0].columns, columns);
    EXPECT_EQ(seen[1].columns, columns);
    // The first piece ends at frame 8192 (4 MB), in column 8192 / 13 = 630.
    ASSERT_EQ(fit.frames, 13);
    const int bottom = kLanes.Volume.Bottom() - 1;
    EXPECT_NE(drawn[0].At(0, bottom), kBlack);
    EXPECT_NE(drawn[0].At(629, bottom), kBlack);
    EXPECT_EQ(drawn[0].At(640, bottom), kBlack);  // not read yet
    EXPECT_NE(drawn[1].At(640, bottom), kBlack);
    EXPECT_EQ(session.FrameCount(), 0);  // stopped: nothing taken over
}

}  // namespace
}  // namespace melodrift
