// A stop request ends the analysis' frame steps early.
#include "audio/PitchAnalyser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>

namespace melodrift {
namespace {

WaveBuffer Tone(std::uint32_t count) {
    WaveBuffer wave = MakeMono16Wave(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        wave.SetSample(i, 0,
                       static_cast<std::int32_t>(
                           6000.0 * std::sin(2.0 * std::numbers::pi * 220.0 * i / 44100.0)));
    }
    return wave;
}

int FramesWithCandidates(const PitchAnalyser& an) {
    int n = 0;
    for (const CandidateSlots& slots : an.Candidates) n += slots[0].Freq != 0.0f ? 1 : 0;
    return n;
}

TEST(AnalysisStop, AStopRequestEndsTheFrameStepsAndAnalyzeReturnsEarly) {
    // 8 s: 1379 frames, two workers of about 690; progress comes every 256.
    const WaveBuffer wave = Tone(8 * 44100);
    for (bool keepSpectra : {true, false}) {
        PitchAnalyser whole;
        whole.Options.KeepSpectra = keepSpectra;
        whole.Analyze(wave);
        ASSERT_GT(FramesWithCandidates(whole), whole.FrameCount / 2);

        // Stopped from the progress of the first frames: both workers end
        // at their next frame, far from the end.
        std::atomic<bool> stop{false};
        PitchAnalyser stopped;
        stopped.Options.KeepSpectra = keepSpectra;
        stopped.Options.Stop = &stop;
        stopped.Options.Progress = [&stop](int, int) { stop = true; };
        stopped.Analyze(wave);
        EXPECT_TRUE(stopped.StopRequested());
        EXPECT_LT(FramesWithCandidates(stopped), whole.FrameCount / 2) << keepSpectra;

        // An unset request changes nothing.
        if (keepSpectra) continue;
        std::atomic<bool> never{false};
        PitchAnalyser free;
        free.Options.KeepSpectra = keepSpectra;
        free.Options.Stop = &never;
        free.Analyze(wave);
        ASSERT_EQ(free.FrameCount, whole.FrameCount);
        for (int i = 0; i < whole.FrameCount; ++i) {
            ASSERT_EQ(free.Frames[i].F0, whole.Frames[i].F0) << i;
            ASSERT_EQ(free.Frames[i].Harmonic, whole.Frames[i].Harmonic) << i;
        }
    }
}

}  // namespace
}  // namespace melodrift
