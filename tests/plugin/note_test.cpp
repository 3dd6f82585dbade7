#include "plugin/Note.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace melodrift {
namespace {

constexpr double kStep120 = 125.0 * 5.0 / 120.0;  // ms per 5 ticks at 120 bpm

// Two notes at 120 bpm, linked as the list links them.
struct Pair {
    Note first;
    Note second;
    Pair(double firstTicks, double secondTicks) {
        first.Tempo = second.Tempo = 120.0;
        first.Length = firstTicks;
        second.Length = secondTicks;
        first.Next = &second;
        second.Prev = &first;
    }
    void Update() {
        first.UpdateGeometry();
        second.UpdateGeometry();
    }
};

std::vector<std::string> Lines(Note& note) {
    std::vector<std::string> lines;
    note.WriteTo(lines);
    return lines;
}

TEST(NoteTiming, TicksAndMillisecondsAtTheNotesTempo) {
    Note note;
    note.Tempo = 120.0;
    EXPECT_DOUBLE_EQ(note.TicksToMs(480), 500.0);
    EXPECT_DOUBLE_EQ(note.TicksToMs(5), 5.2083333333333333);
    EXPECT_DOUBLE_EQ(note.MsToTicks(500), 480.0);
    note.Tempo = 0.0;
    EXPECT_THROW(note.TicksToMs(480), std::domain_error);
    note.Tempo = -120.0;
    EXPECT_THROW(note.MsToTicks(1), std::domain_error);
}

TEST(NoteTiming, VelocityFactor) {
    Note note;
    EXPECT_DOUBLE_EQ(note.VelocityFactor(), 1.0);
    note.SetVelocity(0);
    EXPECT_DOUBLE_EQ(note.VelocityFactor(), 2.0);
    note.SetVelocity(200);
    EXPECT_DOUBLE_EQ(note.VelocityFactor(), 0.5);
    // The effective values scale by it; the stored ones are what the setter
    // was given divided by it.
    note.SetEffectivePreUtterance(50);
    EXPECT_DOUBLE_EQ(note.PreUtterance(), 100.0);
}

TEST(NoteTiming, LoneQuarterNoteHasA98PointGrid) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.UpdateGeometry();
    ASSERT_EQ(note.PitchPoints.size(), 98u);
    EXPECT_DOUBLE_EQ(note.PitchPoints[97].TimeMs, 97 * kStep120);
    EXPECT_EQ(note.PitchPoints[50].Value, 0.0);
    EXPECT_EQ(note.PitchBend.EndMs, 500.0);
    EXPECT_EQ(note.PitchBend.StartLimitMs, -10000.0);
}

TEST(NoteTiming, GridResizeKeepsExistingPoints) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 20;  // ceiling(20 / 5) + 2 = 6 points
    note.UpdateGeometry();
    ASSERT_EQ(note.PitchPoints.size(), 6u);
    note.PitchPoints[5].Value = 33;
    note.Length = 21;  // 21 / 5 has a fraction: 4 + 3 = 7
    note.ResizePitchGrid();
    ASSERT_EQ(note.PitchPoints.size(), 7u);
    EXPECT_EQ(note.PitchPoints[5].Value, 33);
    EXPECT_EQ(note.PitchPoints[6].Value, 0);
    EXPECT_DOUBLE_EQ(note.PitchPoints[6].TimeMs, 6 * kStep120);
}

TEST(NoteTiming, LeadInLongerThanHalfThePreviousNoteIsScaled) {
    Pair pair(96, 480);  // the first note is 100 ms long: half is 50
    pair.second.SetEffectivePreUtterance(100);
    pair.second.SetEffectiveVoiceOverlap(20);
    pair.second.SetEffectiveStartPoint(10);
    pair.Update();
    EXPECT_DOUBLE_EQ(pair.second.EffectivePreUtterance(), 62.5);
    EXPECT_DOUBLE_EQ(pair.second.EffectiveVoiceOverlap(), 12.5);
    EXPECT_DOUBLE_EQ(pair.second.EffectiveStartPoint(), 10 + 37.5);
    EXPECT_DOUBLE_EQ(pair.second.PreUtterance(), 100.0);  // what the file gets
    EXPECT_EQ(pair.second.StartTick, 96.0);
    EXPECT_DOUBLE_EQ(pair.second.StartMs, 100.0);
    EXPECT_DOUBLE_EQ(pair.second.PitchBend.StartLimitMs, -100.0);
}

TEST(NoteTiming, LeadInOfExactlyHalfThePreviousNoteIsKept) {
    Pair pair(96, 480);
    pair.second.SetEffectivePreUtterance(70);
    pair.second.SetEffectiveVoiceOverlap(20);
    pair.Update();
    EXPECT_EQ(pair.second.EffectivePreUtterance(), 70.0);
    EXPECT_EQ(pair.second.EffectiveVoiceOverlap(), 20.0);
    EXPECT_EQ(pair.second.EffectiveStartPoint(), 0.0);
}

TEST(NoteTiming, SettersIgnoreTinyChanges) {
    Note note;
    note.Tempo = 120.0;
    note.SetEffectivePreUtterance(0.01);
    EXPECT_EQ(note.PreUtterance(), 0.0);
    note.SetEffectiveVoiceOverlap(-0.01);
    EXPECT_EQ(note.VoiceOverlap(), 0.0);
    note.SetEffectivePreUtterance(0.0101);
    EXPECT_EQ(note.PreUtterance(), 0.0101);

    note.SetEffectiveStartPoint(0.0009);
    EXPECT_EQ(note.StartPoint(), 0.0);
    note.SetEffectiveStartPoint(0.001);
    EXPECT_EQ(note.StartPoint(), 0.001);
}

TEST(NoteTiming, SetValueStaysUnclippedUntilTheNextGeometryUpdate) {
    Pair pair(96, 480);
    pair.Update();
    pair.second.SetEffectivePreUtterance(100);
    EXPECT_EQ(pair.second.EffectivePreUtterance(), 100.0);
    pair.second.UpdateGeometry();
    EXPECT_EQ(pair.second.EffectivePreUtterance(), 50.0);
}

TEST(NoteTiming, SoundingSpanEndsWhereTheNextSungNoteTakesOver) {
    Pair pair(480, 480);
    pair.first.SetEffectivePreUtterance(30);
    pair.second.SetEffectivePreUtterance(60);
    pair.second.SetEffectiveVoiceOverlap(20);
    pair.Update();
    EXPECT_DOUBLE_EQ(pair.first.SoundingSpan(), 500 + 30 - 60 + 20);
    pair.second.Lyric = "R";
    EXPECT_DOUBLE_EQ(pair.first.SoundingSpan(), 530.0);
    pair.second.Lyric = "r";
    EXPECT_DOUBLE_EQ(pair.first.SoundingSpan(), 530.0);
}

TEST(NoteTiming, NextPreutteranceBeyondTheWholeNoteStillLeavesTwoGridPoints) {
    Pair pair(10, 480);
    pair.second.SetEffectivePreUtterance(1000);
    pair.first.UpdateGeometry();
    EXPECT_EQ(pair.first.PitchPoints.size(), 2u);
}

TEST(NotePitch, PitchAtInterpolatesAndCrossesIntoNeighbours) {
    Pair pair(480, 480);
    pair.first.NoteNum = 62;
    pair.second.NoteNum = 60;
    pair.Update();
    for (std::size_t i = 0; i < pair.first.PitchPoints.size(); ++i)
        pair.first.PitchPoints[i].Value = double(i);
    for (auto& point : pair.second.PitchPoints) point.Value = 7;

    EXPECT_NEAR(pair.first.PitchAt(400), 76.8, 1e-9);  // 400 ms = 76.8 grid steps
    // 100 ms before the second note is 400 ms into the first, two semitones up.
    EXPECT_NEAR(pair.second.PitchAt(-100), 76.8 + 200, 1e-9);
    // Beyond the first note's grid (97 steps, 505.2 ms): the second note's
    // pitch, two semitones down.
    EXPECT_DOUBLE_EQ(pair.first.PitchAt(600), 7 - 200);
    // No previous note, or the only neighbour excluded: no pitch.
    EXPECT_EQ(pair.first.PitchAt(-0.001), Note::NoValue);
    EXPECT_EQ(pair.second.PitchAt(-100, &pair.first), Note::NoValue);
    // The last grid point is reached exactly.
    EXPECT_DOUBLE_EQ(pair.first.PitchAt(97 * kStep120), 97);
}

TEST(NotePitch, OldPitchesSpanTheNoteBody) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 482;  // 96.4 steps: 96 + 2 = 98 points
    note.UpdateGeometry();
    for (auto& point : note.PitchPoints) point.Value = 50;
    note.BuildOldPitches();
    ASSERT_EQ(note.OldPitches.size(), 98u);
    EXPECT_EQ(note.OldPitches.front().TimeMs, 0.0);
    EXPECT_DOUBLE_EQ(note.OldPitches.back().TimeMs, note.TicksToMs(482));
    EXPECT_DOUBLE_EQ(note.OldPitches[40].Value, 50.0);

    note.Length = 480;  // 96 steps exactly: 97 points
    note.BuildOldPitches();
    EXPECT_EQ(note.OldPitches.size(), 97u);
    note.Length = 0;
    note.BuildOldPitches();
    EXPECT_EQ(note.OldPitches.size(), 2u);
}

TEST(NotePitch, OldPitchesAreStraightAcrossTheNextNotesCrossfade) {
    Pair pair(480, 480);
    // The next note's overlap lies before its start point: from 430 to 450 ms
    // the pitch runs straight between the values at those two times.
    pair.second.SetEffectivePreUtterance(50);
    pair.second.SetEffectiveVoiceOverlap(-20);
    pair.Update();
    auto& grid = pair.first.PitchPoints;
    for (std::size_t i = 0; i < grid.size(); ++i) grid[i].Value = i % 2 == 0 ? 0.0 : 100.0;
    pair.first.BuildOldPitches();
    const double from = pair.first.PitchAt(430);
    const double to = pair.first.PitchAt(450);
    int inside = 0;
    for (const PitchPoint& point : pair.first.OldPitches) {
        if (point.TimeMs > 430 && point.TimeMs < 450) {
            ++inside;
            EXPECT_NEAR(point.Value, from + (to - from) / 20 * (point.TimeMs - 430), 1e-9);
        } else {
            EXPECT_DOUBLE_EQ(point.Value, pair.first.PitchAt(point.TimeMs));
        }
    }
    EXPECT_EQ(inside, 4);  // 432.3, 437.5, 442.7, 447.9 ms
}

TEST(NotePitch, OldPrePitchesRunFromTheSampleStartToTheNoteStart) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.SetEffectivePreUtterance(40);
    note.SetEffectiveStartPoint(10);
    note.UpdateGeometry();
    note.BuildOldPrePitches();
    ASSERT_EQ(note.OldPrePitches.size(), 10u);  // trunc((50 + 2.5) / 5)
    EXPECT_DOUBLE_EQ(note.OldPrePitches.front().TimeMs, -50.0);
    EXPECT_DOUBLE_EQ(note.OldPrePitches.back().TimeMs, 0.0);

    Note bare;
    bare.Tempo = 120.0;
    bare.UpdateGeometry();
    EXPECT_EQ(bare.OldPrePitches.size(), 2u);
}

TEST(NoteEnvelope, PositionsFromOffsets) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.UpdateGeometry();
    const double expected[7] = {0, 0, 5, 465, 500, 5, 500};
    for (int i = 0; i < 7; ++i)
        EXPECT_DOUBLE_EQ(note.Envelope[i].Position, expected[i]) << "point " << i;
}

TEST(NoteEnvelope, SetEnvelopePointMovesAndRederivesOffsets) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.UpdateGeometry();
    const auto before = note.Envelope;
    note.SetEnvelopePoint(2, Note::kKeepVolume, Note::kKeepTime);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(note.Envelope[i].Offset, before[i].Offset);
        EXPECT_EQ(note.Envelope[i].Volume, before[i].Volume);
        EXPECT_EQ(note.Envelope[i].Position, before[i].Position);
    }

    note.SetEnvelopePoint(2, Note::kKeepVolume, 20);
    EXPECT_EQ(note.Envelope[2].Position, 20.0);
    EXPECT_EQ(note.Envelope[2].Offset, 20.0);
    EXPECT_EQ(note.Envelope[5].Offset, 5.0 - 20.0);
    EXPECT_EQ(note.Envelope[2].Volume, 100);
    EXPECT_DOUBLE_EQ(note.Envelope[6].Offset, 500.0);

    note.SetEnvelopePoint(3, -5, Note::kKeepTime);
    EXPECT_EQ(note.Envelope[3].Volume, 0);
    note.SetEnvelopePoint(3, 70000, Note::kKeepTime);
    EXPECT_EQ(note.Envelope[3].Volume, 65535);
    note.SetEnvelopePoint(7, 10, 10);  // no such point: nothing happens
    note.SetEnvelopePoint(-1, 10, 10);
    EXPECT_EQ(note.Envelope[3].Volume, 65535);
}

TEST(NoteEnvelope, MovingPointZeroMovesTheSampleStart) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.SetEffectivePreUtterance(30);
    note.SetEffectiveVoiceOverlap(5);
    note.UpdateGeometry();
    note.SetEnvelopePoint(0, Note::kKeepVolume, 10);
    EXPECT_DOUBLE_EQ(note.EffectivePreUtterance(), 20.0);
    EXPECT_DOUBLE_EQ(note.EffectiveStartPoint(), 10.0);
    EXPECT_DOUBLE_EQ(note.EffectiveVoiceOverlap(), -5.0);
    EXPECT_DOUBLE_EQ(note.Envelope[2].Position, -5.0);
    EXPECT_DOUBLE_EQ(note.Envelope[6].Offset, 520.0);  // span 500 + 20
}

TEST(NoteEnvelope, MovingPointSixSetsTheNextNotesOverlap) {
    Pair pair(480, 480);
    pair.second.SetEffectivePreUtterance(60);
    pair.second.SetEffectiveVoiceOverlap(20);
    pair.Update();
    ASSERT_DOUBLE_EQ(pair.first.SoundingSpan(), 460.0);
    pair.first.SetEnvelopePoint(6, Note::kKeepVolume, 480);
    EXPECT_DOUBLE_EQ(pair.second.EffectiveVoiceOverlap(), 40.0);
    EXPECT_DOUBLE_EQ(pair.first.SoundingSpan(), 480.0);
    EXPECT_DOUBLE_EQ(pair.first.Envelope[6].Offset, 480.0);

    pair.second.Lyric = "R";  // a rest does not move
    pair.first.SetEnvelopePoint(6, Note::kKeepVolume, 300);
    EXPECT_DOUBLE_EQ(pair.second.EffectiveVoiceOverlap(), 40.0);
}

TEST(NotePortamento, ExpectedEndValues) {
    Pair pair(480, 480);
    pair.first.NoteNum = 64;
    pair.second.NoteNum = 60;
    pair.second.SetEffectivePreUtterance(30);
    pair.Update();
    Portamento& p = pair.second.PitchBend;
    p.AddPoint(BendShape::Straight, false, -50, 123);
    p.AddPoint(BendShape::Straight, false, 0, 45);
    p.AddPoint(BendShape::Straight, false, 100, 67);
    EXPECT_EQ(pair.second.ExpectedEndValue(0), 400.0);  // starts on the previous key
    EXPECT_EQ(pair.second.ExpectedEndValue(1), 45.0);
    EXPECT_EQ(pair.second.ExpectedEndValue(2), 0.0);  // the last point ends on this key
    EXPECT_EQ(pair.second.ExpectedEndValue(3), 0.0);
    EXPECT_EQ(pair.second.ExpectedEndValue(-1), 0.0);

    pair.first.Lyric = "R";
    EXPECT_EQ(pair.second.ExpectedEndValue(0), 123.0);  // −50 lies before −30
    pair.second.Prev = nullptr;
    p.Clear();
    p.AddPoint(BendShape::Straight, false, -30, 123);
    p.AddPoint(BendShape::Straight, false, 0, 0);
    EXPECT_EQ(pair.second.ExpectedEndValue(0), 0.0);  // −30 is not before −30
}

TEST(NoteWriter, ModeTwoWithoutPortamentoWritesTheEightValueLines) {
    Note note;
    note.Section = "#INSERT";
    note.Tempo = 120.0;
    note.Length = 1000.5;
    note.NoteNum = 61;
    note.Lyric = "\x82\xA0";
    note.SetEffectiveStartPoint(12.34567);
    note.UpdateGeometry();
    EXPECT_EQ(Lines(note),
              (std::vector<std::string>{"[#INSERT]", "Length=1000.5", "NoteNum=61",
                                        "Lyric=\x82\xA0", "PreUtterance=0", "VoiceOverlap=0",
                                        "Intensity=100", "Moduration=0", "StartPoint=12.346"}));
}

TEST(NoteWriter, ModeOneWithTwoZeroPoints) {
    Note note;
    note.Section = "#INSERT";
    note.Tempo = 120.0;
    note.Length = 0;
    note.PitchMode = PitchEncoding::Mode1;
    note.UpdateGeometry();
    ASSERT_EQ(note.PitchPoints.size(), 2u);
    EXPECT_EQ(Lines(note), (std::vector<std::string>{
                               "[#INSERT]", "Length=0", "NoteNum=0", "Lyric=", "PreUtterance=0",
                               "VoiceOverlap=0", "Intensity=100", "Moduration=0", "StartPoint=0",
                               "Pitches=0,0", "Piches=0,0", "$OldPitches=AA#1#",
                               "$OldPrePitches=AA#1#", "$OldPiches= ", "PBStart=0"}));
    note.WritePitch = false;
    EXPECT_EQ(Lines(note).size(), 9u);
}

TEST(NoteWriter, PitchValuesAreRoundedTowardZeroAfterAddingAHalf) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 0;
    note.PitchMode = PitchEncoding::Mode1;
    note.UpdateGeometry();
    note.PitchPoints[0].Value = -10.7;
    note.PitchPoints[1].Value = 2.5;
    const auto lines = Lines(note);
    EXPECT_EQ(lines[9], "Pitches=-10,3");
    EXPECT_EQ(lines[10], "Piches=-10,3");
}

TEST(NoteWriter, PitchValuesBeyondTheHostsRangeAreClampedAndCounted) {
    // Mode1: 12-bit values, −2048..2047 cents.
    Note note;
    note.Tempo = 120.0;
    note.Length = 0;
    note.PitchMode = PitchEncoding::Mode1;
    note.UpdateGeometry();
    note.PitchPoints[0].Value = 3143.0;
    note.PitchPoints[1].Value = 1500.0;
    EXPECT_EQ(Lines(note)[9], "Pitches=2047,1500");
    EXPECT_EQ(note.ClampedValues, 1);
    // The history keeps the 12-bit value too: 2047 is "f/", never the
    // wrapped 3143 − 4096 = −953.
    EXPECT_EQ(Lines(note)[11].substr(0, 15), "$OldPitches=f/#");
    note.PitchPoints[1].Value = -2600.0;
    EXPECT_EQ(Lines(note)[9], "Pitches=2047,-2048");
    EXPECT_EQ(note.ClampedValues, 2);
    note.PitchPoints[0].Value = 2047.0;
    note.PitchPoints[1].Value = 0.0;
    EXPECT_EQ(Lines(note)[9], "Pitches=2047,0");
    EXPECT_EQ(note.ClampedValues, 0);

    // Mode2: PBS and PBY within ±204.7.
    Note bent;
    bent.Tempo = 120.0;
    bent.Length = 480;
    bent.PitchMode = PitchEncoding::Mode2;
    bent.UpdateGeometry();
    bent.PitchBend.AddPoint(BendShape::Straight, false, -50, 3143);
    bent.PitchBend.AddPoint(BendShape::Straight, false, 0, -2500);
    bent.PitchBend.AddPoint(BendShape::Straight, false, 100, 2047);
    bent.PitchBend.AddPoint(BendShape::Straight, false, 200, 0);
    std::vector<std::string> lines = Lines(bent);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PBS=-50;204.7"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PBY=-204.7,204.7,0.0"), lines.end());
    EXPECT_EQ(bent.ClampedValues, 2);
}

TEST(NoteWriter, EnvelopeLineOnlyWhenChanged) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.UpdateGeometry();
    EXPECT_EQ(Lines(note).size(), 9u);  // defaults: no envelope line

    note.Envelope[4].Volume = 50;
    EXPECT_EQ(Lines(note).back(), "Envelope=0,5,35,0,100,100,50,%,0");
    note.Envelope[4].Volume = 0;

    note.Envelope[2].Offset = 5.6;  // 0.6 ms: not a change
    EXPECT_EQ(Lines(note).size(), 9u);
    note.Envelope[2].Offset = 6.0;
    EXPECT_EQ(Lines(note).back(), "Envelope=0,6,35,0,100,100,0,%,0");
    note.Envelope[2].Offset = 5.5;
    note.Envelope[1].Offset = -1.0;
    EXPECT_EQ(Lines(note).back(), "Envelope=-1,6,35,0,100,100,0,%,0");  // 5.5 → "6"

    note.Envelope[5].Enabled = true;
    note.Envelope[5].Offset = 12.4;
    note.Envelope[5].Volume = 80;
    EXPECT_EQ(Lines(note).back(), "Envelope=-1,6,35,0,100,100,0,%,0,12,80");

    note.WriteEnvelope = false;
    note.WriteFlagsP0 = true;
    EXPECT_EQ(Lines(note).back(), "Flags=P0");
}

TEST(NoteWriter, ValuesWithoutAFiniteFormFailAndAppendNothing) {
    Note note;
    note.Tempo = 120.0;
    note.Length = 480;
    note.UpdateGeometry();
    std::vector<std::string> lines{"kept"};
    note.Tempo = 0.0;
    EXPECT_THROW(note.WriteTo(lines), std::domain_error);
    note.Tempo = 120.0;
    note.Length = std::numeric_limits<double>::infinity();
    EXPECT_THROW(note.WriteTo(lines), std::domain_error);
    note.Length = 480;
    note.PitchMode = PitchEncoding::Mode1;
    note.PitchPoints[3].Value = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(note.WriteTo(lines), std::domain_error);
    note.PitchPoints[3].Value = 1e300;  // no integer form
    EXPECT_THROW(note.WriteTo(lines), std::domain_error);
    note.PitchMode = PitchEncoding::Mode2;
    note.SetEffectiveStartPoint(1e300);
    EXPECT_THROW(note.WriteTo(lines), std::domain_error);
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});
}

}  // namespace
}  // namespace melodrift
