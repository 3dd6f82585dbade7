#include "editor/Segments.h"

#include "Recordings.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/History.h"
#include "editor/Session.h"
#include "editor/SurfaceMouse.h"
#include "editor/Timeline.h"
#include "text/CodePage.h"
#include "text/Encoding.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

using testing::HarmonicTone;
using testing::ScriptedPrompts;
using testing::WavBytes;
using testing::WriteBytes;

// A session of `ms` milliseconds of samples (ramp values, so that copies can
// be told apart) and frames every 256 samples, without any analysis run.
void FakeRecording(EditorSession& s, double ms) {
    const auto samples = static_cast<std::uint32_t>(ms * 44.1);
    *s.Wave = MakeMono16Wave(samples);
    for (std::uint32_t i = 0; i < samples; ++i)
        s.Wave->SetSample(i, 0, static_cast<std::int32_t>(i % 20000));
    const int frames = static_cast<int>(samples / 256 + 1);
    s.Analyser->FrameCount = frames;
    s.Analyser->Frames.assign(frames, AnalysisFrame{});
    s.Analyser->Confidence.assign(frames, 0.0f);
    s.Analyser->Candidates.assign(frames, CandidateSlots{});
    for (int i = 0; i < frames; ++i) s.Analyser->Frames[i].SamplePos = i * 256;
    s.SpectrumImage.assign(frames, SpectrumColumn{});
    s.PitchCents.assign(frames, 0);
    s.FrameVolume.assign(frames, 0);
    s.Segments.clear();
    s.AddCut("R", 0.0);
}

std::vector<double> Starts(const EditorSession& s) {
    std::vector<double> starts;
    for (const Segment& m : s.Segments) starts.push_back(m.StartMs);
    return starts;
}

TEST(SegmentList, SegmentAtCoversTheRecordingAndNothingElse) {
    EditorSession s;
    EXPECT_EQ(s.SegmentAt(0.0), -1);  // no segments
    FakeRecording(s, 1000.0);
    s.AddCut("R", 400.0);
    EXPECT_EQ(s.SegmentAt(-0.001), -1);
    EXPECT_EQ(s.SegmentAt(0.0), 0);
    EXPECT_EQ(s.SegmentAt(399.999), 0);
    EXPECT_EQ(s.SegmentAt(400.0), 1);
    EXPECT_EQ(s.SegmentAt(s.DurationMs() - 0.001), 1);
    EXPECT_EQ(s.SegmentAt(s.DurationMs()), -1);
    EXPECT_DOUBLE_EQ(s.Segments[1].LengthMs, s.DurationMs() - 400.0);
}

TEST(SegmentList, CutsCloserThanTheGapAreRefusedAndTheSplitSegmentKeepsItsLyric) {
    EditorSession s;
    FakeRecording(s, 1000.0);
    s.Segments[0].Lyric = "あ";
    s.AddCut("R", 300.0);
    ASSERT_EQ(Starts(s), (std::vector<double>{0.0, 300.0}));
    s.AddCut("R", 320.0);  // 20 ms after a cut
    s.AddCut("R", 280.0);  // 20 ms before one
    s.AddCut("R", 10.0);   // 10 ms after the start
    EXPECT_EQ(Starts(s), (std::vector<double>{0.0, 300.0}));
    s.Segments[1].Lyric = "い";
    s.AddCut("R", 331.0);
    ASSERT_EQ(Starts(s), (std::vector<double>{0.0, 300.0, 331.0}));
    EXPECT_EQ(s.Segments[1].Lyric, "い");
    EXPECT_EQ(s.Segments[2].Lyric, "R");
    EXPECT_DOUBLE_EQ(s.Segments[1].LengthMs, 31.0);
    // Outside the recording, or on a recording shorter than the gap: nothing.
    s.AddCut("R", -5.0);
    s.AddCut("R", s.DurationMs());
    EXPECT_EQ(s.Segments.size(), 3u);
    EditorSession tiny;
    FakeRecording(tiny, 29.0);
    EXPECT_TRUE(tiny.Segments.empty());
    // The first cut of an empty list always starts at 0.
    EditorSession first;
    FakeRecording(first, 500.0);
    first.Segments.clear();
    first.AddCut("R", 250.0);
    EXPECT_EQ(Starts(first), (std::vector<double>{0.0}));
}

TEST(SegmentList, DraggingACutStopsTheGapAwayFromItsNeighbours) {
    EditorSession s;
    FakeRecording(s, 1000.0);
    s.AddCut("R", 300.0);
    s.AddCut("R", 600.0);
    s.MoveCut(1, 10.0);
    EXPECT_EQ(s.Segments[1].StartMs, 30.0);
    s.MoveCut(1, 900.0);
    EXPECT_EQ(s.Segments[1].StartMs, 570.0);
    EXPECT_DOUBLE_EQ(s.Segments[0].LengthMs, 570.0);
    s.MoveCut(2, 5000.0);  // the last cut stops short of the recording's end
    EXPECT_DOUBLE_EQ(s.Segments[2].StartMs, s.DurationMs() - 30.0);
    EXPECT_TRUE(s.Modified);
    s.MoveCut(0, 100.0);  // the first segment's start is no cut
    s.MoveCut(3, 100.0);
    EXPECT_EQ(s.Segments[0].StartMs, 0.0);
}

TEST(SegmentList, RightDoubleClickRemovesTheCutOfTheSegmentUnderThePointer) {
    EditorSession s;
    EditHistory h;
    FakeRecording(s, 1000.0);
    s.Scale = 1;
    s.VisibleFrames = 670;
    for (double t : {200.0, 400.0, 600.0}) s.AddCut("R", t);
    const auto xOf = [&](double ms) { return static_cast<int>(MsToX(ms, s.Scale, s.FirstFrame)); };
    const PointerShape arrow = PointerShape::Arrow;
    // Inside the first segment: nothing.
    SurfaceMouseDown(s, h, MouseButton::Right, true, xOf(100.0), 100, arrow);
    EXPECT_EQ(s.Segments.size(), 4u);
    // A single right click inside segment 3 does nothing either.
    SurfaceMouseDown(s, h, MouseButton::Right, false, xOf(700.0), 100, arrow);
    EXPECT_EQ(s.Segments.size(), 4u);
    const auto act = SurfaceMouseDown(s, h, MouseButton::Right, true, xOf(700.0), 100, arrow);
    EXPECT_TRUE(act.redrawAll);
    EXPECT_EQ(Starts(s), (std::vector<double>{0.0, 200.0, 400.0}));
    EXPECT_DOUBLE_EQ(s.Segments[2].LengthMs, s.DurationMs() - 400.0);
    EXPECT_TRUE(s.Modified);
    // A left click in the cut area adds an "R" cut.
    SurfaceMouseDown(s, h, MouseButton::Left, false, xOf(700.0), 100, arrow);
    ASSERT_EQ(s.Segments.size(), 4u);
    EXPECT_NEAR(s.Segments[3].StartMs, 700.0, 23.3);  // within one pixel (256 samples)
}

TEST(LyricRuns, SmallKanaJoinTheirSyllableAndSmallTsuIsARest) {
    EXPECT_EQ(SplitLyricRun("きゃっとー", 4), (std::vector<std::string>{"きゃ", "R", "と", "ー"}));
    EXPECT_EQ(SplitLyricRun("きゃっとー", 6),
              (std::vector<std::string>{"きゃ", "R", "と", "ー", "R", "R"}));
    EXPECT_EQ(SplitLyricRun("ab", 1), (std::vector<std::string>{"a"}));
    EXPECT_EQ(SplitLyricRun("ッキョォ漢", 3), (std::vector<std::string>{"R", "キョォ", "漢"}));
    EXPECT_EQ(SplitLyricRun("", 2), (std::vector<std::string>{"R", "R"}));
    // A small kana at the very start has nothing to join and stands alone.
    EXPECT_EQ(SplitLyricRun("ゃあ", 2), (std::vector<std::string>{"ゃ", "あ"}));
}

TEST(LyricRuns, CommittedRunsAreStoredAsTyped) {
    EditorSession s;
    FakeRecording(s, 1000.0);
    for (double t : {200.0, 400.0, 600.0, 800.0}) s.AddCut("R", t);
    s.Segments[0].Lyric = "keep";
    s.CommitLyricRun(1, 4, "きゃっとー");
    EXPECT_EQ(s.Segments[0].Lyric, "keep");
    EXPECT_EQ(s.Segments[1].Lyric, "きゃ");
    EXPECT_EQ(s.Segments[2].Lyric, "R");
    EXPECT_EQ(s.Segments[3].Lyric, "と");
    EXPECT_EQ(s.Segments[4].Lyric, "ー");
    s.CommitLyricRun(3, 2, "x");  // a reversed run changes nothing
    s.CommitLyricRun(3, 9, "x");  // nor one past the end
    EXPECT_EQ(s.Segments[3].Lyric, "と");
}

TEST(SurfaceHelp, HitAreasAndTheirTextsInOrder) {
    EditorSession s;
    FakeRecording(s, 1000.0);
    s.Scale = 1;
    s.VisibleFrames = 670;
    s.AddCut("R", 500.0);
    const int cutX = static_cast<int>(MsToX(500.0, 1, 0));
    EXPECT_EQ(HitTest(s, cutX, 200).area, HitArea::PitchLane);  // the pitch lane wins over a cut
    EXPECT_EQ(HitTest(s, cutX + 2, 100).area, HitArea::Cut);
    EXPECT_EQ(HitTest(s, cutX + 2, 100).cut, 1);
    EXPECT_EQ(HitTest(s, cutX + 3, 100).area, HitArea::CutArea);
    EXPECT_EQ(HitTest(s, 10, 49).area, HitArea::VolumeLane);
    EXPECT_EQ(HitTest(s, 10, 50).area, HitArea::CutArea);
    EXPECT_EQ(HitTest(s, 10, 180).area, HitArea::CutArea);
    EXPECT_EQ(HitTest(s, 10, 181).area, HitArea::PitchLane);
    EXPECT_EQ(HitTest(s, 10, 307).area, HitArea::PitchLane);
    EXPECT_EQ(HitTest(s, 10, 310).area, HitArea::CutArea);
    EXPECT_EQ(HitTest(s, 10, 311).area, HitArea::LyricLane);
    EXPECT_EQ(HitTest(s, cutX, 180).area,
              HitArea::Cut);  // rows 180 and 308 are outside the pitch lane
    EXPECT_EQ(HitTest(s, cutX, 308).area, HitArea::Cut);
    EXPECT_EQ(HitTest(s, cutX, 320).area, HitArea::Cut);  // a cut wins over the lyric lane
    EXPECT_EQ(HitTest(s, cutX - 3, 10).area, HitArea::VolumeLane);
    s.PitchDrawEnabled = false;
    EXPECT_EQ(HitTest(s, 10, 200).area, HitArea::CutArea);
    EXPECT_EQ(HitTest(s, cutX - 2, 250).area,
              HitArea::Cut);  // without pitch drawing the cuts reach in
    s.PitchDrawEnabled = true;

    auto move = [&](int x, int y) { return SurfaceMouseMove(s, x, y, PointerShape::Arrow); };
    EXPECT_EQ(move(10, 200).statusText, "左ドラッグ=ピッチの補正");
    EXPECT_EQ(move(cutX, 100).statusText, "左ドラッグ=文字の幅を変更");
    EXPECT_EQ(s.HoverCut, 1);
    EXPECT_EQ(move(10, 20).statusText,
              "左ドラッグ=原音プレビュー\u3000右ドラッグ=ピッチ確認用プレビュー");
    EXPECT_EQ(s.SelFirst, 0);
    EXPECT_EQ(move(10, 310).statusText, "左クリック=歌詞を設定    右ドラッグ=歌詞を一括設定");
    EXPECT_EQ(s.SelFirst, -1);
    EXPECT_EQ(move(10, 100).statusText,
              "左クリック=区切り設定\u3000\u3000右ダブルクリック=区切り削除");
    EXPECT_EQ(move(10, 100).pointer, PointerShape::Arrow);
    EXPECT_EQ(move(10, 320).pointer, PointerShape::IBeam);
    // Past the recording's end there is no segment under the pointer.
    EXPECT_EQ(move(660, 320).statusText,
              "左クリック=区切り設定\u3000\u3000右ダブルクリック=区切り削除");
    // Of two cuts within reach the first is taken.
    s.MinCutGap = 1.0;
    s.AddCut("R", 505.0);  // one pixel right of the cut at 500 ms
    EXPECT_EQ(HitTest(s, cutX + 2, 100).cut, 1);
}

TEST(SurfaceMouse, DraggingACutThroughTheStateMachine) {
    EditorSession s;
    EditHistory h;
    FakeRecording(s, 1000.0);
    s.Scale = 1;
    s.VisibleFrames = 670;
    s.AddCut("R", 300.0);
    s.AddCut("R", 600.0);
    const int cutX = static_cast<int>(MsToX(600.0, 1, 0));
    SurfaceMouseMove(s, cutX + 1, 100, PointerShape::Arrow);
    ASSERT_EQ(s.HoverCut, 2);
    // A right click on a cut asks for its menu and starts nothing.
    EXPECT_EQ(SurfaceMouseDown(s, h, MouseButton::Right, false, cutX + 1, 100,
                               PointerShape::HorizontalResize)
                  .cutMenu,
              2);
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    SurfaceMouseDown(s, h, MouseButton::Left, false, cutX + 1, 100, PointerShape::HorizontalResize);
    EXPECT_EQ(s.Mouse, MouseMode::DragCut);
    SurfaceMouseMove(s, 0, 100, PointerShape::HorizontalResize);  // far left: stops at 330
    EXPECT_EQ(s.Segments[2].StartMs, 330.0);
    const auto up = SurfaceMouseUp(s, h, MouseButton::Left, 0, 100);
    EXPECT_TRUE(up.redrawAll);
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    EXPECT_TRUE(s.Modified);
    // The whole drag is one undo step.
    ASSERT_TRUE(h.Undo(s));
    EXPECT_EQ(s.Segments[2].StartMs, 600.0);
    EXPECT_FALSE(h.CanUndo());
    // Without frames the surface ignores the mouse.
    EditorSession empty;
    EXPECT_FALSE(SurfaceMouseDown(empty, h, MouseButton::Left, false, 10, 100, PointerShape::Arrow)
                     .redrawLyricLane);
    EXPECT_TRUE(empty.Segments.empty());
}

TEST(SurfaceMouse, LyricEditsOpenOverTheirSegmentsAndCommitOnExit) {
    EditorSession s;
    EditHistory h;
    FakeRecording(s, 1000.0);
    s.Scale = 1;
    s.VisibleFrames = 670;
    for (double t : {200.0, 400.0, 600.0, 800.0}) s.AddCut("R", t);
    const auto xOf = [&](double ms) { return static_cast<int>(MsToX(ms, s.Scale, s.FirstFrame)); };
    s.Modified = false;

    SurfaceMouseMove(s, xOf(450.0), 320, PointerShape::Arrow);
    auto act =
        SurfaceMouseDown(s, h, MouseButton::Left, false, xOf(450.0), 320, PointerShape::IBeam);
    EXPECT_EQ(act.openEditor, LyricEditor::LyricEdit);
    EXPECT_EQ(act.editTextUtf8, "R");
    EXPECT_EQ(act.editLeft, xOf(400.0));
    EXPECT_EQ(act.editWidth, xOf(600.0) - xOf(400.0));
    EXPECT_EQ(s.Mouse, MouseMode::EditLyric);
    EXPECT_TRUE(s.Modified);
    LyricEditExit(s, h, LyricEditor::LyricEdit, "か");
    EXPECT_EQ(s.Segments[2].Lyric, "か");
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    EXPECT_EQ(h.StepCount(), 1u);
    // A second exit of the now hidden edit commits nothing.
    LyricEditExit(s, h, LyricEditor::LyricEdit, "zzz");
    EXPECT_EQ(s.Segments[2].Lyric, "か");

    // Right drag over segments 1..4 (released over segment 1) opens the run edit.
    SurfaceMouseDown(s, h, MouseButton::Right, false, xOf(900.0), 320, PointerShape::IBeam);
    EXPECT_EQ(s.Mouse, MouseMode::SelectLyrics);
    SurfaceMouseMove(s, xOf(250.0), 320, PointerShape::IBeam);
    act = SurfaceMouseUp(s, h, MouseButton::Right, xOf(250.0), 320);
    EXPECT_EQ(act.openEditor, LyricEditor::LyricsEdit);
    EXPECT_EQ(s.SelFirst, 1);
    EXPECT_EQ(s.SelLast, 4);
    EXPECT_EQ(act.editTextUtf8, "RかRR");
    // A press on the surface closes the edit; its exit commits the run.
    act = SurfaceMouseDown(s, h, MouseButton::Left, false, 5, 100, PointerShape::IBeam);
    EXPECT_EQ(act.closeEditor, LyricEditor::LyricsEdit);
    LyricEditExit(s, h, LyricEditor::LyricsEdit, "きゃっとー");
    EXPECT_EQ(s.Segments[1].Lyric, "きゃ");
    EXPECT_EQ(s.Segments[2].Lyric, "R");
    EXPECT_EQ(s.Segments[4].Lyric, "ー");
    EXPECT_EQ(s.Segments.size(), 5u);  // the closing press added no cut

    // A character a Shift-JIS plug-in file cannot hold is refused where it
    // is typed, by name; the edit closes and the lyric stays. The wave dash
    // has a Shift-JIS code and is kept as typed.
    SurfaceMouseMove(s, xOf(450.0), 320, PointerShape::Arrow);
    act = SurfaceMouseDown(s, h, MouseButton::Left, false, xOf(450.0), 320, PointerShape::IBeam);
    ASSERT_EQ(s.Mouse, MouseMode::EditLyric);
    try {
        LyricEditExit(s, h, LyricEditor::LyricEdit, "你");
        ADD_FAILURE() << "no refusal";
    } catch (const UnencodableText& error) {
        EXPECT_EQ(error.Character(), "你");
        EXPECT_NE(std::string(error.what()).find("Shift-JIS"), std::string::npos);
    }
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    EXPECT_EQ(s.Segments[2].Lyric, "R");
    EXPECT_THROW(s.CommitLyricRun(1, 2, "a你"), UnencodableText);
    s.CommitLyric(2, "ー〜");
    EXPECT_EQ(s.Segments[2].Lyric, "ー〜");
}

TEST(Previews, RecordedPreviewCopiesTheSelectionUpToTheLastSample) {
    EditorSession s;
    FakeRecording(s, 1000.0);
    s.AddCut("R", 500.0);
    const std::string image = s.PlayRange(500.0, s.Segments[1].StartMs + s.Segments[1].LengthMs);
    WaveBuffer played;
    ASSERT_EQ(played.LoadFromBytes(image), WavLoadResult::Ok);
    EXPECT_EQ(played.SamplesPerSec(), 44100u);
    EXPECT_EQ(played.BitsPerSample(), 16);
    EXPECT_EQ(played.Channels(), 1);
    const std::uint32_t s0 = 22050;
    ASSERT_EQ(played.SampleCount(), s.Wave->SampleCount() - s0);
    EXPECT_EQ(played.GetSample(0, 0), s.Wave->GetSample(s0, 0));
    EXPECT_EQ(played.GetSample(played.SampleCount() - 1, 0),
              s.Wave->GetSample(s.Wave->SampleCount() - 1, 0));
    EXPECT_TRUE(s.PlayRange(600.0, 500.0).empty());
}

TEST(SurfaceMouse, VolumeLaneDragPlaysTheRunOfSegmentsInEitherDirection) {
    EditorSession s;
    EditHistory h;
    FakeRecording(s, 1000.0);
    s.Scale = 1;
    s.VisibleFrames = 670;
    for (double t : {200.0, 400.0, 600.0}) s.AddCut("R", t);
    const auto xOf = [&](double ms) { return static_cast<int>(MsToX(ms, s.Scale, s.FirstFrame)); };

    // Pressed over segment 3, dragged back to segment 1, released.
    auto act =
        SurfaceMouseDown(s, h, MouseButton::Left, false, xOf(700.0), 20, PointerShape::CrossHair);
    EXPECT_EQ(s.Mouse, MouseMode::Preview);
    EXPECT_EQ(s.SelFirst, 3);
    EXPECT_TRUE(act.drawVolumeLane);
    act = SurfaceMouseMove(s, xOf(250.0), 20, PointerShape::CrossHair);
    EXPECT_EQ(s.SelLast, 1);
    EXPECT_EQ(act.pointer, PointerShape::HorizontalResize);
    act = SurfaceMouseUp(s, h, MouseButton::Left, xOf(250.0), 20);
    ASSERT_EQ(act.preview, PreviewKind::Recording);
    WaveBuffer played;
    ASSERT_EQ(played.LoadFromBytes(s.PlayRange(act.previewFromMs, act.previewToMs)),
              WavLoadResult::Ok);
    // Segments 1..3: 200 ms (sample 8820) to the end of the recording.
    ASSERT_EQ(played.SampleCount(), s.Wave->SampleCount() - 8820u);
    EXPECT_EQ(played.GetSample(0, 0), s.Wave->GetSample(8820, 0));
    EXPECT_EQ(s.SelFirst, -1);
    EXPECT_EQ(s.SelLast, -1);
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    EXPECT_TRUE(act.drawVolumeLane);

    // Released past the recording's end: nothing plays, the mode still ends.
    SurfaceMouseDown(s, h, MouseButton::Left, false, xOf(100.0), 20, PointerShape::CrossHair);
    SurfaceMouseMove(s, xOf(1200.0), 20, PointerShape::HorizontalResize);
    act = SurfaceMouseUp(s, h, MouseButton::Left, xOf(1200.0), 20);
    EXPECT_EQ(act.preview, PreviewKind::None);
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
}

TEST(SurfaceMouse, PitchLaneDragRepicksTheFramesUnderTheLine) {
    EditorSession s;
    EditHistory h;
    FakeRecording(s, 1000.0);
    s.Scale = 1;
    s.VisibleFrames = 670;
    for (AnalysisFrame& f : s.Analyser->Frames) f.F0 = f.TargetF0 = 220.0f;
    s.BuildPitchCents();
    s.Modified = false;

    SurfaceMouseDown(s, h, MouseButton::Left, false, 40, 250, PointerShape::Hand);
    EXPECT_EQ(s.Mouse, MouseMode::DrawPitch);
    const auto move = SurfaceMouseMove(s, 20, 260, PointerShape::Hand);
    EXPECT_TRUE(move.xorLine);
    EXPECT_EQ(s.LineEnd, (PixelPoint{20, 260}));
    const auto up = SurfaceMouseUp(s, h, MouseButton::Left, 10, 260);
    EXPECT_TRUE(up.eraseXorLine);
    EXPECT_TRUE(up.rebuildPitchLane);
    EXPECT_EQ(s.Mouse, MouseMode::Idle);
    EXPECT_TRUE(s.Modified);
    // No frame has a candidate, so frames 10..40 (right to left) go unvoiced
    // and are filled from their voiced neighbours; the rest keep their pitch.
    for (int i = 0; i < s.FrameCount(); ++i) {
        const bool underLine = i >= 10 && i <= 40;
        EXPECT_EQ(s.Analyser->Frames[i].TargetF0, underLine ? 0.0f : 220.0f) << i;
        EXPECT_EQ(s.Analyser->Frames[i].F0, 150.0f) << i;
        EXPECT_EQ(s.PitchCents[i], 5700) << i;
    }
}

TEST(SegmentList, RemovingACutMovesTheHoveredSegmentBackByOne) {
    EditorSession s;
    FakeRecording(s, 1000.0);
    for (double t : {200.0, 400.0, 600.0}) s.AddCut("R", t);
    s.HoverSegment = 3;
    s.RemoveCut(500.0);  // cut 2 goes; segment 3 is now segment 2
    EXPECT_EQ(s.HoverSegment, 2);
    EXPECT_EQ(Starts(s), (std::vector<double>{0.0, 200.0, 600.0}));
    s.RemoveCut(100.0);  // the first segment's start stays, and so does the hover
    EXPECT_EQ(s.HoverSegment, 2);
}

class AnalysedSession : public ::testing::Test {
  protected:
    testing::TempFolder folder;
    ScriptedPrompts prompts;

    void Load(EditorSession& s, const std::vector<std::int16_t>& samples) {
        const auto path = folder / "tone.wav";
        WriteBytes(path, WavBytes(samples));
        ASSERT_EQ(s.LoadRecording(path, prompts), LoadOutcome::Loaded);
        s.Scale = 1;
        s.VisibleFrames = 670;
    }
};

TEST_F(AnalysedSession, ResynthesisedPreviewIsSilentOutsideTheSelection) {
    EditorSession s;
    Load(s, HarmonicTone(220.0, 44100));
    s.AddCut("R", 300.0);
    s.AddCut("R", 600.0);
    const std::string image = s.PlayResynthesised(300.0, 600.0);
    WaveBuffer played;
    ASSERT_EQ(played.LoadFromBytes(image), WavLoadResult::Ok);
    const std::int64_t s0 = static_cast<std::int64_t>(300.0 * 44.1);
    const std::int64_t s1 = static_cast<std::int64_t>(600.0 * 44.1);
    const std::int64_t base = (s0 / 256) * 256;
    ASSERT_EQ(played.SampleCount(), static_cast<std::uint32_t>((s1 / 256 + 1) * 256 - base));
    bool silentBefore = true;
    bool silentAfter = true;
    int loudInside = 0;
    for (std::int64_t i = 0; i < played.SampleCount(); ++i) {
        const int v = played.GetSample(static_cast<std::uint32_t>(i), 0);
        if (i < s0 - base)
            silentBefore = silentBefore && v == 0;
        else if (i > s1 - base)
            silentAfter = silentAfter && v == 0;
        else
            loudInside = std::max(loudInside, std::abs(v));
    }
    EXPECT_TRUE(silentBefore);
    EXPECT_TRUE(silentAfter);
    EXPECT_GT(loudInside, 1000);
}

TEST_F(AnalysedSession, PitchLinesAreDirectionFreeAndOneFrameLinesChangeNothing) {
    EditorSession a;
    EditorSession b;
    Load(a, HarmonicTone(220.0, 22050));
    Load(b, HarmonicTone(220.0, 22050));
    // Row for 5700 cents: 188 − 5700 / 50 = 74 → y = 180 + 74.
    a.ApplyPitchLine({10, 254}, {60, 254});
    b.ApplyPitchLine({60, 254}, {10, 254});
    for (int i = 0; i < a.FrameCount(); ++i) {
        EXPECT_EQ(a.Analyser->Frames[i].TargetF0, b.Analyser->Frames[i].TargetF0) << i;
        EXPECT_EQ(a.Analyser->Frames[i].F0, 150.0f);
    }
    EXPECT_EQ(a.PitchCents, b.PitchCents);
    EXPECT_NEAR(a.PitchCents[30], 5700, 15);

    // A line far above the tone finds no candidate: those frames go unvoiced.
    a.ApplyPitchLine({10, 190}, {40, 190});
    EXPECT_EQ(a.Analyser->Frames[20].TargetF0, 0.0f);
    EXPECT_NE(a.Analyser->Frames[50].TargetF0, 0.0f);

    const auto before = b.PitchCents;
    const float target = b.Analyser->Frames[5].TargetF0;
    b.ApplyPitchLine({5, 190}, {5, 300});
    EXPECT_EQ(b.PitchCents, before);
    EXPECT_EQ(b.Analyser->Frames[5].TargetF0, target);
}

TEST_F(AnalysedSession, AutomaticSegmentationAsksBeforeDiscardingCuts) {
    EditorSession s;
    // 40 frames or fewer: one segment whatever the sound.
    Load(s, HarmonicTone(220.0, 9000));
    ASSERT_LE(s.FrameCount(), 40);
    EXPECT_FALSE(s.AutoSegment(prompts));
    EXPECT_EQ(s.Segments.size(), 1u);

    // Tone bursts separated by silence get cut near the onsets.
    std::vector<std::int16_t> bursts(44100, 0);
    const auto tone = HarmonicTone(220.0, 8000);
    for (std::size_t start : {4000u, 20000u, 34000u})
        std::copy(tone.begin(), tone.end(), bursts.begin() + start);
    Load(s, bursts);
    s.AddCut("R", 500.0);
    prompts.answers = {false};
    EXPECT_FALSE(s.AutoSegment(prompts));
    EXPECT_EQ(prompts.questions.back(), "現在の区切り位置を破棄してもよろしいですか?");
    EXPECT_EQ(s.Segments.size(), 2u);
    prompts.answers = {true};
    EXPECT_TRUE(s.AutoSegment(prompts));
    ASSERT_GE(s.Segments.size(), 2u);
    EXPECT_EQ(s.Segments[0].StartMs, 0.0);
    for (std::size_t i = 1; i < s.Segments.size(); ++i) {
        EXPECT_GE(s.Segments[i].StartMs - s.Segments[i - 1].StartMs, s.MinCutGap);
    }
    // Some cut lies near the second burst's onset (20000 samples = 453.5 ms).
    bool nearOnset = false;
    for (const Segment& m : s.Segments) nearOnset = nearOnset || std::abs(m.StartMs - 453.5) < 40.0;
    EXPECT_TRUE(nearOnset);
}

TEST_F(AnalysedSession, AutomaticCutsFromThePeaksAloneMatchThoseFromTheImage) {
    std::vector<std::int16_t> bursts(2 * 44100, 0);
    const auto tone = HarmonicTone(200.0, 9000);
    for (std::size_t start : {3000u, 21000u, 40000u, 61000u})
        std::copy(tone.begin(), tone.end(), bursts.begin() + start);
    const auto path = folder / "bursts.wav";
    WriteBytes(path, WavBytes(bursts));
    EditorSession full;
    ASSERT_EQ(full.LoadRecording(path, prompts), LoadOutcome::Loaded);
    EditorSession peaks;
    ASSERT_EQ(peaks.LoadRecording(path, prompts, {}, LoadScope::SpectrumPeaks),
              LoadOutcome::Loaded);
    ASSERT_TRUE(peaks.SpectrumImage.empty());
    ASSERT_TRUE(full.AutoSegment(prompts));
    ASSERT_TRUE(peaks.AutoSegment(prompts));
    ASSERT_GE(full.Segments.size(), 4u);
    ASSERT_EQ(peaks.Segments.size(), full.Segments.size());
    for (std::size_t i = 0; i < full.Segments.size(); ++i) {
        EXPECT_EQ(peaks.Segments[i].StartMs, full.Segments[i].StartMs) << i;
    }
}

}  // namespace
}  // namespace melodrift
