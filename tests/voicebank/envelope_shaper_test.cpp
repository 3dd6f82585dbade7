#include "voicebank/EnvelopeShaper.h"

#include "NoteFixture.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

using testing::NoteListFixture;

class EnvelopeShaping : public ::testing::Test {
  protected:
    // The parameters the insertion uses.
    EnvelopeShaper InsertShaper() {
        EnvelopeShaper shaper;
        shaper.Notes = &list.notes();
        shaper.JoinWidth = 50;
        shaper.AttackGain = 1.0;
        shaper.AttackOffset = 0;
        return shaper;
    }
    void SetTiming(int slot, double preMs, double overlapMs) {
        list[slot].SetEffectivePreUtterance(preMs);
        list[slot].SetEffectiveVoiceOverlap(overlapMs);
    }
    // A crossfade into `slot` as the alias passes lay it down.
    void Join(int slot) {
        const double overlapMs = list[slot].EffectiveVoiceOverlap();
        list[slot].Envelope[1].Offset = overlapMs;
        list[slot - 1].Envelope[4].Offset = overlapMs;
        list[slot - 1].Envelope[4].Volume = 100;
    }
    void UpdatePositions() {
        for (int i = 1; i <= list.notes().Count(); ++i) list[i].UpdateEnvelopePositions();
    }
    static double Pos(const Note& note, int k) { return note.Envelope[k].Position; }
    NoteListFixture list;
};

TEST_F(EnvelopeShaping, AFreeNoteReachesFullVolumeBeforeItsOnset) {
    list.Add({{"か", 1000}});
    SetTiming(1, 60, 0);
    UpdatePositions();
    list[1].Intensity = 80;
    InsertShaper().ShapeEnvelopes();
    const Note& note = list[1];
    EXPECT_DOUBLE_EQ(Pos(note, 2), 60.0);  // the onset
    EXPECT_DOUBLE_EQ(Pos(note, 1), 10.0);  // 50 ms before it
    EXPECT_DOUBLE_EQ(note.Envelope[4].Offset, 35.0);
    EXPECT_DOUBLE_EQ(Pos(note, 5), 110.0);  // 50 ms after it
    // Point 3 two thirds of the way from point 5 to point 4 (1060 − 35).
    EXPECT_DOUBLE_EQ(Pos(note, 3), 110.0 + (1025.0 - 110.0) * 2.0 / 3.0);
    EXPECT_TRUE(note.Envelope[5].Enabled);
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(note.Envelope[k].Volume, 100) << k;
    EXPECT_EQ(note.Intensity, 100);
}

TEST_F(EnvelopeShaping, AShortNoteKeepsItsFadeOutFiveMsAfterTheOnset) {
    list.Add({{"か", 30}});
    SetTiming(1, 30, 0);
    UpdatePositions();
    InsertShaper().ShapeEnvelopes();
    // Span 60 < 30 + 40: the fade-out shrinks so point 4 sits at 30 + 5.
    EXPECT_DOUBLE_EQ(list[1].Envelope[4].Offset, 25.0);
    EXPECT_DOUBLE_EQ(Pos(list[1], 4), 35.0);
}

TEST_F(EnvelopeShaping, ACrossfadePastTheOnsetSpreadsTheBodyAfterIt) {
    list.Add({{"か", 500}, {"あ", 500}});
    SetTiming(2, 50, 100);
    Join(2);
    UpdatePositions();
    InsertShaper().ShapeEnvelopes();
    const Note& note = list[2];
    // Crossfade end 100, fade-out start 550 − 35 = 515: point 5 halfway,
    // point 2 and point 3 halfway on either side of it.
    EXPECT_DOUBLE_EQ(Pos(note, 1), 100.0);
    EXPECT_DOUBLE_EQ(Pos(note, 5), 307.5);
    EXPECT_DOUBLE_EQ(Pos(note, 2), 203.75);
    EXPECT_DOUBLE_EQ(Pos(note, 3), 411.25);
    EXPECT_DOUBLE_EQ(Pos(note, 4), 515.0);
    // The previous note keeps its crossfade: no end fade of 35 ms.
    EXPECT_DOUBLE_EQ(list[1].Envelope[4].Offset, 100.0);
}

TEST_F(EnvelopeShaping, ACrossfadeBeforeTheOnsetGetsAnAccentAtIt) {
    list.Add({{"か", 500}, {"さ", 500}});
    SetTiming(2, 150, 40);
    Join(2);
    UpdatePositions();
    InsertShaper().ShapeEnvelopes();
    const Note& note = list[2];
    EXPECT_DOUBLE_EQ(Pos(note, 1), 40.0);
    EXPECT_DOUBLE_EQ(Pos(note, 5), 150.0);  // the onset
    EXPECT_DOUBLE_EQ(Pos(note, 2), 100.0);  // 50 ms before it
    EXPECT_DOUBLE_EQ(Pos(note, 3), 200.0);  // 50 ms after it
    EXPECT_DOUBLE_EQ(Pos(note, 4), 615.0);
    EXPECT_EQ(note.Envelope[5].Volume, 100);
}

TEST_F(EnvelopeShaping, TheBuiltInParametersAccentTheOnset) {
    list.Add({{"か", 500}, {"さ", 500}});
    SetTiming(2, 150, 40);
    Join(2);
    UpdatePositions();
    EnvelopeShaper shaper;  // 20 ms, ×1.3, −20 ms
    shaper.Notes = &list.notes();
    shaper.ShapeEnvelopes();
    EXPECT_DOUBLE_EQ(Pos(list[2], 5), 130.0);
    EXPECT_EQ(list[2].Envelope[5].Volume, 130);
    EXPECT_DOUBLE_EQ(Pos(list[2], 2), 110.0);
    EXPECT_DOUBLE_EQ(Pos(list[2], 3), 150.0);
}

TEST_F(EnvelopeShaping, RestsAreLeftAlone) {
    list.Add({{"R", 300}, {"か", 300}});
    UpdatePositions();
    const auto before = list[1].Envelope;
    list[1].Intensity = 70;
    InsertShaper().ShapeEnvelopes();
    for (int k = 0; k < Note::kEnvelopePoints; ++k) {
        EXPECT_EQ(list[1].Envelope[k].Offset, before[k].Offset) << k;
        EXPECT_EQ(list[1].Envelope[k].Volume, before[k].Volume) << k;
        EXPECT_EQ(list[1].Envelope[k].Enabled, before[k].Enabled) << k;
    }
    EXPECT_EQ(list[1].Intensity, 70);
    EXPECT_TRUE(list[2].Envelope[5].Enabled);
}

TEST(EnvelopeShapingEmpty, NoNotesChangeNothing) {
    EnvelopeShaper shaper;
    EXPECT_NO_THROW(shaper.ShapeEnvelopes());
    EXPECT_NO_THROW(shaper.ApplyLoudness(1, 1, 10, 0));
    NoteListFixture list;
    shaper.Notes = &list.notes();
    EXPECT_NO_THROW(shaper.ShapeEnvelopes());
}

class Loudness : public EnvelopeShaping {
  protected:
    void SetUp() override {
        // Points at 10, 20, 30 (point 5), 100 (point 3) and 200 ms (point 4)
        // of a 250 ms note at the start of the recording; a rest after it.
        list.Add({{"か", 250}, {"R", 250}});
        auto& env = list[1].Envelope;
        env[1] = {10, 100, true, 0};
        env[2] = {10, 100, true, 0};
        env[5] = {10, 100, true, 0};
        env[4] = {50, 100, true, 0};
        env[3] = {100, 100, true, 0};
        list[2].Envelope[2].Volume = 101;
        UpdatePositions();
        shaper = InsertShaper();
    }
    EnvelopeShaper shaper;
};

TEST_F(Loudness, SilenceAtBothFramesScalesToAFifth) {
    shaper.ApplyLoudness(0.2, 0.2, 100, 0);
    const auto& env = list[1].Envelope;
    EXPECT_EQ(env[1].Volume, 20);
    EXPECT_EQ(env[2].Volume, 20);
    EXPECT_EQ(env[5].Volume, 20);
    EXPECT_EQ(env[3].Volume, 100);  // exactly at the later frame: not this pair
    EXPECT_EQ(env[4].Volume, 100);
    shaper.ApplyLoudness(0.5, 0.5, 200, 100);
    EXPECT_EQ(env[3].Volume, 50);  // scaled once, by the next pair
    EXPECT_EQ(env[4].Volume, 100);
    EXPECT_EQ(env[1].Volume, 20);
}

TEST_F(Loudness, TheGainIsInterpolatedBetweenTheFrames) {
    // 0.2 at 0 ms, 1.8 at 40 ms: 0.6 at 10, 1.0 at 20, 1.4 at 30.
    shaper.ApplyLoudness(1.8, 0.2, 40, 0);
    const auto& env = list[1].Envelope;
    EXPECT_EQ(env[1].Volume, 60);
    EXPECT_EQ(env[2].Volume, 100);
    EXPECT_EQ(env[5].Volume, 140);
}

TEST_F(Loudness, TimesInEitherOrderGiveTheSameResult) {
    shaper.ApplyLoudness(0.2, 1.8, 0, 40);  // earlier pair passed first
    EXPECT_EQ(list[1].Envelope[1].Volume, 60);
    EXPECT_EQ(list[1].Envelope[5].Volume, 140);
    shaper.ApplyLoudness(5, 5, 20, 20);  // one moment: nothing
    EXPECT_EQ(list[1].Envelope[1].Volume, 60);
}

TEST_F(Loudness, RestsAreScaledTooAndVolumesStayInRange) {
    // The rest's point 2 lies at 250 + 5 ms on the recording.
    shaper.ApplyLoudness(0.5, 0.5, 300, 250);
    EXPECT_EQ(list[2].Envelope[2].Volume, 51);  // 50.5, half up
    shaper.ApplyLoudness(-3, -3, 300, 250);
    EXPECT_EQ(list[2].Envelope[2].Volume, 0);
    list[1].Envelope[1].Volume = 60000;
    shaper.ApplyLoudness(10, 10, 15, 5);
    EXPECT_EQ(list[1].Envelope[1].Volume, 65535);
}

TEST_F(Loudness, ACurveScalesEachPointAsTheIntervalByIntervalCallsDo) {
    // Frame times every 5.8 ms with varying gains, one repeated; points
    // spread over the note (the last ones past the last frame time) and a
    // rest after it.
    std::vector<double> timesMs;
    std::vector<double> gains;
    for (int i = 0; i < 40; ++i) {
        timesMs.push_back(3.0 + i * 5.8);
        gains.push_back(0.2 + 0.05 * (i % 9));
    }
    timesMs[10] = timesMs[9];  // a repeated time: an empty interval
    const auto place = [](NoteListFixture& target) {
        auto& env = target[1].Envelope;
        env[1] = {2, 1000, true, 0};
        env[2] = {3.0 + 5.8 * 4, 1000, true, 0};
        env[5] = {47.3, 1000, true, 0};
        env[3] = {130.01, 1000, true, 0};
        env[4] = {10, 1000, true, 0};
        target[2].Envelope[2].Volume = 777;
        for (int slot = 1; slot <= target.notes().Count(); ++slot)
            target[slot].UpdateEnvelopePositions();
    };
    NoteListFixture stepwise;
    stepwise.Add({{"か", 250}, {"R", 250}});
    place(stepwise);
    NoteListFixture curve;
    curve.Add({{"か", 250}, {"R", 250}});
    place(curve);

    EnvelopeShaper one;
    one.Notes = &stepwise.notes();
    for (std::size_t i = 0; i + 1 < timesMs.size(); ++i)
        one.ApplyLoudness(gains[i + 1], gains[i], timesMs[i + 1], timesMs[i]);
    EnvelopeShaper all;
    all.Notes = &curve.notes();
    all.ApplyLoudnessCurve(timesMs, gains);

    int changed = 0;
    for (int slot = 1; slot <= 2; ++slot) {
        for (int k = 0; k < 7; ++k) {
            EXPECT_EQ(curve[slot].Envelope[k].Volume, stepwise[slot].Envelope[k].Volume)
                << slot << " " << k;
            changed += stepwise[slot].Envelope[k].Volume != 1000 &&
                               stepwise[slot].Envelope[k].Volume != 777
                           ? 1
                           : 0;
        }
    }
    EXPECT_GE(changed, 3);
}

}  // namespace
}  // namespace melodrift
