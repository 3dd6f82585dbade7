#include "editor/Session.h"

#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

TEST(EditorSessionState, StartsEmptyWithTheControlsDefaults) {
    const EditorSession s;
    EXPECT_EQ(s.FrameCount(), 0);
    EXPECT_EQ(s.SampleCount(), 0);
    EXPECT_FALSE(s.HasRecording());
    EXPECT_TRUE(s.Segments.empty());
    EXPECT_EQ(s.Resynth, nullptr);
    EXPECT_TRUE(s.KeyEnabled && s.PitchEnabled && s.VolumeEnabled);
    EXPECT_FALSE(s.CorrectionMode);
    EXPECT_EQ(s.PitchMode, PitchEncoding::Mode2);
    EXPECT_EQ(s.Scale, 3);
    EXPECT_EQ(s.MinCutGap, 30.0);
    EXPECT_EQ(s.MinStrength, 2.0f);
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    EXPECT_EQ(s.HoverSegment, -1);
    EXPECT_EQ(s.SelFirst, -1);
    EXPECT_EQ(s.CursorX, -1);
    EXPECT_FALSE(s.Modified);
    EXPECT_EQ(s.CorrectionPreUtterance, 60.0);
    EXPECT_EQ(s.CorrectionOverlap, 20.0);
    EXPECT_EQ(s.CorrectionConsonant, 100.0);
}

TEST(EditorSessionState, DurationIsTheSampleCountOver44Point1) {
    EditorSession s;
    *s.Wave = MakeMono16Wave(44100);
    EXPECT_EQ(s.SampleCount(), 44100);
    EXPECT_DOUBLE_EQ(s.DurationMs(), 1000.0);
}

TEST(CorrectionParameters, EachEditIsClampedAgainstTheOtherParameterAsItStands) {
    EditorSession s;
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::PreUtterance, "150"),
              100);  // pre-utterance ≤ consonant 100
    EXPECT_EQ(s.CorrectionPreUtterance, 100.0);
    s.CorrectionPreUtterance = 60.0;
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::Overlap, "80"),
              60);  // overlap ≤ pre-utterance 60
    EXPECT_EQ(s.CorrectionOverlap, 60.0);
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::Consonant, "30"),
              60);  // consonant ≥ pre-utterance 60
    EXPECT_EQ(s.CorrectionConsonant, 60.0);
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::Overlap, "abc"), 0);
    EXPECT_EQ(s.CorrectionOverlap, 0.0);
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::PreUtterance, "-7"), 0);
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::PreUtterance, " 12 "), 12);
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::Consonant, "99999999999"),
              12);  // not a 32-bit number: 0, then raised
    // Each check reads the other value rounded half up: 59.5 → 60.
    s.CorrectionPreUtterance = 59.5;
    EXPECT_EQ(s.CommitCorrectionTiming(CorrectionTiming::Overlap, "61"), 60);
    // The three are not compared with each other again afterwards.
    s.CorrectionConsonant = 100.0;
    s.CorrectionPreUtterance = 90.0;
    s.CommitCorrectionTiming(CorrectionTiming::Consonant, "95");
    EXPECT_EQ(s.CorrectionConsonant, 95.0);
    EXPECT_EQ(s.CorrectionPreUtterance, 90.0);
}

TEST(ZoomControl, ScaleIsClampedToOneThroughEight) {
    EditorSession s;
    s.SetScale(1);
    EXPECT_EQ(s.Scale, 1);
    s.SetScale(12);
    EXPECT_EQ(s.Scale, 8);
    s.SetScale(0);
    EXPECT_EQ(s.Scale, 1);
    s.SetScale(-5);
    EXPECT_EQ(s.Scale, 1);
}

}  // namespace
}  // namespace melodrift
