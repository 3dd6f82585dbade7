#include "editor/History.h"

#include "Recordings.h"
#include "audio/PitchAnalyser.h"
#include "editor/EditState.h"
#include "editor/Segments.h"
#include "editor/Session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace melodrift {
namespace {

using testing::ScriptedPrompts;
using testing::WavBytes;
using testing::WriteBytes;

// Everything an edit may change and undo must give back: the segments with
// their lyrics, and every frame's pitch fields with the pitch in cents.
struct EditedState {
    std::vector<std::tuple<double, double, std::string>> segments;
    std::vector<float> f0, targetF0, confidence;
    std::vector<std::int32_t> pitchCents;
    friend bool operator==(const EditedState&, const EditedState&) = default;
};

EditedState StateOf(const EditorSession& s) {
    EditedState state;
    for (const Segment& seg : s.Segments)
        state.segments.emplace_back(seg.StartMs, seg.LengthMs, seg.Lyric);
    for (const AnalysisFrame& frame : s.Analyser->Frames) {
        state.f0.push_back(frame.F0);
        state.targetF0.push_back(frame.TargetF0);
    }
    state.confidence = s.Analyser->Confidence;
    state.pitchCents = s.PitchCents;
    return state;
}

// Two seconds that glide from 200 to 320 Hz: every pitch line changes frames.
std::vector<std::int16_t> Glide() {
    const std::size_t n = 2 * 44100;
    std::vector<std::int16_t> samples(n);
    double phase = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double f0 = 200.0 + 120.0 * static_cast<double>(i) / static_cast<double>(n);
        phase += 2.0 * std::numbers::pi * f0 / 44100.0;
        double v = 0.0;
        for (int h = 1; h <= 5; ++h) v += std::sin(h * phase) / h;
        samples[i] = static_cast<std::int16_t>(std::lround(v / 2.3 * 12000.0));
    }
    return samples;
}

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        wav = folder / "glide.wav";
        WriteBytes(wav, WavBytes(Glide()));
        ASSERT_EQ(s.LoadRecording(wav, prompts), LoadOutcome::Loaded);
        s.Scale = 1;
        s.VisibleFrames = 670;
    }
    // One edit as the window records it.
    void Edit(EditHistory& history, EditScope scope, const std::function<void()>& edit) {
        history.Begin(s, scope);
        edit();
        history.Commit(s);
    }

    testing::TempFolder folder;
    ScriptedPrompts prompts;
    EditorSession s;
    std::filesystem::path wav;
};

TEST_F(History, EveryKindOfEditIsUndoneAndRedoneExactly) {
    EditHistory history;
    const std::string ka = "か";
    const auto stateFile = folder / "saved.mlq";
    struct Done {
        const char* what;
        EditedState before, after;
    };
    std::vector<Done> done;
    const auto run = [&](const char* what, EditScope scope, const std::function<void()>& edit) {
        const EditedState before = StateOf(s);
        Edit(history, scope, edit);
        const EditedState after = StateOf(s);
        ASSERT_NE(before, after) << what << " changed nothing";
        done.push_back({what, before, after});
    };
    run("add cut", EditScope::Segments, [&] { s.AddCut("R", 400.0); });
    run("add cut", EditScope::Segments, [&] { s.AddCut("R", 900.0); });
    run("add cut", EditScope::Segments, [&] { s.AddCut("R", 1500.0); });
    run("move cut", EditScope::Segments, [&] { s.MoveCut(2, 1000.0); });
    run("lyric", EditScope::Segments, [&] { s.CommitLyric(1, "か"); });
    run("lyric run", EditScope::Segments, [&] { s.CommitLyricRun(1, 3, "さきゃた"); });
    run("remove cut", EditScope::Segments, [&] { s.RemoveCut(1600.0); });
    run("pitch line", EditScope::SegmentsAndPitch, [&] {
        s.ApplyPitchLine({50, 250}, {120, 230});
    });
    s.SaveEditStateTo(stateFile);
    run("pitch line", EditScope::SegmentsAndPitch, [&] {
        s.ApplyPitchLine({130, 200}, {200, 200});
    });
    // The glide holds no syllable onset to cut at: the cut is a typed lyric
    // run instead, which automatic cutting's undo step shares (EditScope::Segments).
    run("lyric run over all segments", EditScope::Segments, [&] {
        s.CommitLyricRun(0, static_cast<int>(s.Segments.size()) - 1, "あいうえおかきくけこ");
    });
    run("edit-state load", EditScope::SegmentsAndPitch,
        [&] { ASSERT_EQ(s.LoadEditStateFrom(stateFile, prompts), EditStateOutcome::Loaded); });
    ASSERT_EQ(history.StepCount(), done.size());

    for (auto it = done.rbegin(); it != done.rend(); ++it) {
        ASSERT_TRUE(history.Undo(s)) << it->what;
        EXPECT_TRUE(StateOf(s) == it->before) << "undo of " << it->what;
    }
    EXPECT_FALSE(history.CanUndo());
    EXPECT_FALSE(history.Undo(s));
    for (const Done& d : done) {
        ASSERT_TRUE(history.Redo(s)) << d.what;
        EXPECT_TRUE(StateOf(s) == d.after) << "redo of " << d.what;
    }
    EXPECT_FALSE(history.CanRedo());
}

TEST_F(History, StepsHoldOnlyWhatChanged) {
    EditHistory history;
    s.AddCut("R", 500.0);
    Edit(history, EditScope::Segments, [&] { s.CommitLyric(0, "R"); });  // the same lyric again
    EXPECT_EQ(history.StepCount(), 0u);
    // A short pitch line keeps a few dozen frames, not the analysis
    // (344 frames of 224 bytes).
    Edit(history, EditScope::SegmentsAndPitch, [&] { s.ApplyPitchLine({20, 240}, {40, 240}); });
    ASSERT_EQ(history.StepCount(), 1u);
    EXPECT_LT(history.StoredBytes(), 40u * 28u + 512u);
    // A moved cut keeps the two segments around it.
    const std::size_t before = history.StoredBytes();
    Edit(history, EditScope::Segments, [&] { s.MoveCut(1, 600.0); });
    EXPECT_LT(history.StoredBytes() - before, 4 * sizeof(Segment) + 512u);
}

TEST_F(History, TheOldestStepsGoFirstAndANewEditEndsTheRedoBranch) {
    EditHistory history(3);
    for (double t : {200.0, 400.0, 600.0, 800.0, 1000.0}) {
        Edit(history, EditScope::Segments, [&] { s.AddCut("R", t); });
    }
    EXPECT_EQ(history.StepCount(), 3u);
    int undone = 0;
    while (history.Undo(s)) ++undone;
    EXPECT_EQ(undone, 3);
    EXPECT_EQ(s.Segments.size(), 3u);  // the cuts at 200 and 400 stay
    ASSERT_TRUE(history.Redo(s));
    Edit(history, EditScope::Segments, [&] { s.CommitLyric(1, "か"); });
    EXPECT_FALSE(history.CanRedo());
    EXPECT_EQ(history.StepCount(), 2u);
}

TEST_F(History, UnsavedEditsFollowUndoBackToTheSavedState) {
    EditHistory history;
    EXPECT_FALSE(history.HasUnsavedEdits());
    Edit(history, EditScope::Segments, [&] { s.AddCut("R", 300.0); });
    EXPECT_TRUE(history.HasUnsavedEdits());
    history.MarkSaved();
    EXPECT_FALSE(history.HasUnsavedEdits());
    Edit(history, EditScope::Segments, [&] { s.AddCut("R", 700.0); });
    EXPECT_TRUE(history.HasUnsavedEdits());
    history.Undo(s);
    EXPECT_FALSE(history.HasUnsavedEdits());
    history.Undo(s);
    EXPECT_TRUE(history.HasUnsavedEdits());
    history.Redo(s);
    EXPECT_FALSE(history.HasUnsavedEdits());
    // A new edit from an undone state leaves the saved one unreachable.
    history.Undo(s);
    Edit(history, EditScope::Segments, [&] { s.AddCut("R", 900.0); });
    history.Undo(s);
    EXPECT_TRUE(history.HasUnsavedEdits());
}

TEST_F(History, AnotherRecordingClearsTheHistory) {
    EditHistory history;
    Edit(history, EditScope::Segments, [&] { s.AddCut("R", 300.0); });
    const auto other = folder / "short.wav";
    WriteBytes(other, WavBytes(testing::HarmonicTone(220.0, 44100)));
    Edit(history, EditScope::SegmentsAndPitch,
         [&] { ASSERT_EQ(s.LoadRecording(other, prompts), LoadOutcome::Loaded); });
    EXPECT_FALSE(history.CanUndo());
    EXPECT_FALSE(history.HasUnsavedEdits());
}

}  // namespace
}  // namespace melodrift
