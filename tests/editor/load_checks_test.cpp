#include "editor/LoadChecks.h"

#include "Recordings.h"
#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "editor/EditState.h"
#include "editor/PreviewJob.h"
#include "editor/Session.h"

#include <gtest/gtest.h>

#include <atomic>

namespace melodrift {
namespace {

using testing::HarmonicTone;
using testing::ScriptedPrompts;
using testing::WavBytes;
using testing::WriteBytes;

TEST(LoadChecks, TheRecordingsOutcomeIsKnownBeforeTheAnalysis) {
    testing::TempFolder folder;
    EXPECT_EQ(CheckRecording(folder / "none.wav"), RecordingCheck::Missing);
    EXPECT_EQ(CheckRecording(folder.path()), RecordingCheck::Missing);  // a folder
    WriteBytes(folder / "odd.wav", "RIFF\x04\0\0\0WAVE");
    EXPECT_EQ(CheckRecording(folder / "odd.wav"), RecordingCheck::Unsupported);
    WriteBytes(folder / "22k.wav", WavBytes(HarmonicTone(220.0, 22050, 12000.0, 22050), 1, 22050));
    std::string refusal;
    EXPECT_EQ(CheckRecording(folder / "22k.wav", &refusal), RecordingCheck::Unsupported);
    EXPECT_EQ(refusal,
              "対応していないフォーマットです。\nこのファイルは 22050 Hz・16 "
              "ビット・モノラルです。44100 Hz・16 ビットの WAVE ファイルが必要です。");
    WriteBytes(folder / "8bit.wav", WavBytes(HarmonicTone(220.0, 44100), 1, 44100, 8));
    EXPECT_EQ(CheckRecording(folder / "8bit.wav"), RecordingCheck::Unsupported);
    WriteBytes(folder / "ten.wav",
               WavBytes(HarmonicTone(220.0, 441000)));  // exactly 10 s: no question
    EXPECT_EQ(CheckRecording(folder / "ten.wav"), RecordingCheck::Ready);
    WriteBytes(folder / "long.wav", WavBytes(HarmonicTone(220.0, 441001)));
    EXPECT_EQ(CheckRecording(folder / "long.wav"), RecordingCheck::Long);
}

TEST(LoadChecks, AnEditStateNamesItsRecordingOnlyWhenItExists) {
    testing::TempFolder folder;
    const auto wav = folder / "take.wav";
    WriteBytes(wav, WavBytes(HarmonicTone(220.0, 44100)));
    EditorSession s;
    ScriptedPrompts prompts;
    ASSERT_EQ(s.LoadRecording(wav, prompts), LoadOutcome::Loaded);
    s.SaveEditStateTo(folder / "take.mlq");
    EXPECT_EQ(StoredRecordingOf(folder / "take.mlq"), wav);
    std::filesystem::remove(wav);
    EXPECT_EQ(StoredRecordingOf(folder / "take.mlq"), std::nullopt);
    WriteBytes(folder / "other.mlq",
               "[Melodrift]\r\nMelodrift=0\r\nWaveFile=" + wav.string() + "\r\n");
    EXPECT_EQ(StoredRecordingOf(folder / "other.mlq"), std::nullopt);
}

TEST(StoppingALoad, AStopDuringTheAnalysisLeavesTheSessionAsItWas) {
    testing::TempFolder folder;
    const auto first = folder / "first.wav";
    const auto second = folder / "second.wav";
    WriteBytes(first, WavBytes(HarmonicTone(220.0, 44100)));
    WriteBytes(second, WavBytes(HarmonicTone(330.0, 5 * 44100)));
    EditorSession s;
    ScriptedPrompts prompts;
    ASSERT_EQ(s.LoadRecording(first, prompts), LoadOutcome::Loaded);
    s.Segments[0].Lyric = "a";
    const int frames = s.FrameCount();
    std::atomic<bool> stop{false};
    s.Analyser->Options.Stop = &stop;
    // The first progress report of the analysis asks it to stop.
    int reports = 0;
    const LoadOutcome outcome =
        s.LoadRecording(second, prompts, [&](std::string_view stage, double) {
            if (stage == "analyse" && ++reports == 2) stop = true;
        });
    EXPECT_EQ(outcome, LoadOutcome::Declined);
    EXPECT_GE(reports, 2);
    EXPECT_EQ(s.WaveFileName, first);
    EXPECT_EQ(s.FrameCount(), frames);
    EXPECT_EQ(s.Segments.size(), 1u);
    EXPECT_EQ(s.Segments[0].Lyric, "a");
    EXPECT_TRUE(prompts.errors.empty());
    // Without the request the same load goes through.
    stop = false;
    EXPECT_EQ(s.LoadRecording(second, prompts), LoadOutcome::Loaded);
    EXPECT_GT(s.FrameCount(), frames);
}

TEST(ResynthesisJobs, TheSplitPreviewEqualsTheWholeOneAndStopsOnRequest) {
    testing::TempFolder folder;
    const auto wav = folder / "take.wav";
    WriteBytes(wav, WavBytes(HarmonicTone(220.0, 44100)));
    // Two sessions over the same recording: one plays the preview in one
    // call, the other prepares it and renders it on a copy of its resynthesiser.
    EditorSession whole;
    EditorSession s;
    ScriptedPrompts prompts;
    ASSERT_EQ(whole.LoadRecording(wav, prompts), LoadOutcome::Loaded);
    ASSERT_EQ(s.LoadRecording(wav, prompts), LoadOutcome::Loaded);
    // The same noise tables for both.
    LcgRandom first(7);
    LcgRandom second(7);
    whole.Resynth = std::make_unique<Resynthesizer>(first);
    s.Resynth = std::make_unique<Resynthesizer>(second);
    const Resynthesizer fresh = *s.Resynth;
    const auto job = PrepareResynthesis(s, 100.0, 600.0);
    ASSERT_TRUE(job.has_value());
    Resynthesizer copy = fresh;
    const std::string split = RenderResynthesis(*job, copy);
    EXPECT_TRUE(split == whole.PlayResynthesised(100.0, 600.0));
    EXPECT_GT(split.size(), 44u + 2u * 22000u);
    std::atomic<bool> stop{true};
    Resynthesizer other = fresh;
    EXPECT_TRUE(RenderResynthesis(*job, other, &stop).empty());
    EXPECT_FALSE(PrepareResynthesis(s, 600.0, 100.0).has_value());
}

}  // namespace
}  // namespace melodrift
