// Automatic cutting on real sung recordings (tests/data/sung: four strings
// of syllables from a voicebank, with its hand-set oto.ini, where offset +
// preutterance is the vowel onset of a syllable), and the refusals that
// leave the cuts as they were.
#include "editor/Cutting.h"
#include "editor/Segments.h"
#include "editor/Session.h"
#include "text/CodePage.h"
#include "system/Files.h"
#include "text/Text.h"

#include "Recordings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>

namespace melodrift {
namespace {

using testing::ScriptedPrompts;

std::filesystem::path SungFolder() {
    const char* root = std::getenv("MELODRIFT_TEST_DATA");
    return Utf8Path(root ? root : "tests") / "data" / "sung";
}

// Syllable onsets per file name: offset + preutterance of every entry but
// the endings ("a -", "a R").
std::map<std::string, std::vector<double>> LabelledOnsets() {
    std::map<std::string, std::vector<double>> onsets;
    for (std::string line : SplitText(Cp932ToUtf8(ReadFileBytes(SungFolder() / "oto.ini")), "\n")) {
        const std::size_t eq = line.find('=');
        const std::vector<std::string> fields = SplitText(line.substr(eq + 1), ",");
        if (eq == std::string::npos || fields.size() != 6) continue;
        if (fields[0].ends_with(" -") || fields[0].ends_with(" R")) continue;
        onsets[line.substr(0, eq)].push_back(std::stod(fields[1]) + std::stod(fields[4]));
    }
    return onsets;
}

// Labelled onsets with a sung-segment start within 50 ms, one start each.
int OnsetsFound(const std::vector<double>& onsets, const EditorSession& s) {
    std::vector<bool> used(s.Segments.size(), false);
    int found = 0;
    for (double onset : onsets) {
        for (std::size_t k = 0; k < s.Segments.size(); ++k) {
            if (used[k] || IsRestLyric(s.Segments[k].Lyric) ||
                std::abs(s.Segments[k].StartMs - onset) > 50.0)
                continue;
            used[k] = true;
            ++found;
            break;
        }
    }
    return found;
}

int SungSegments(const EditorSession& s) {
    int sung = 0;
    for (const Segment& seg : s.Segments) sung += !IsRestLyric(seg.Lyric);
    return sung;
}

class SungRecordings : public ::testing::Test {
  protected:
    ScriptedPrompts prompts;
    void Load(EditorSession& s, const std::string& name) {
        ASSERT_EQ(
            s.LoadRecording(SungFolder() / Utf8Path(name), prompts, {}, LoadScope::SpectrumPeaks),
            LoadOutcome::Loaded);
    }
};

// The floors are what the cutting scores on these files (the measurement
// program reports the whole voicebank): with the lyrics all 22 labelled
// onsets, blind 19, and blind counts 3 segments off in all; a change that
// loses one fails here. In _ぎんぎぎぐぎげぎ the voicing check distrusts the
// pitch of the ぎ after ん for 300 ms of full-voiced singing; that ぎ is
// found only while such loud frames still count as singing.
TEST_F(SungRecordings, BothModesKeepTheirScoresOnTheLabelledRecordings) {
    const auto labels = LabelledOnsets();
    int guidedFound = 0, blindFound = 0, labelled = 0, blindMiscount = 0;
    for (const std::string name : {"_あんああいあうあ.wav", "_かんかかきかくか.wav",
                                   "_うRいRあR.wav", "_ぎんぎぎぐぎげぎ.wav"}) {
        EditorSession s;
        Load(s, name);
        const std::string line = name.substr(1, name.size() - 5);
        std::vector<std::string> syllables;
        for (const std::string& lyric : SplitLyricLine(line))
            if (lyric != "R") syllables.push_back(lyric);
        ASSERT_TRUE(s.AutoSegment(prompts, syllables)) << name;
        // One sung segment per lyric, labelled in order, rests between.
        std::vector<std::string> sung;
        for (const Segment& seg : s.Segments)
            if (!IsRestLyric(seg.Lyric)) sung.push_back(seg.Lyric);
        EXPECT_EQ(sung, syllables) << name;
        const auto found = labels.find(name);
        const std::vector<double> onsets =
            found == labels.end() ? std::vector<double>{} : found->second;
        labelled += static_cast<int>(onsets.size());
        guidedFound += OnsetsFound(onsets, s);

        prompts.answers = {true};  // discard the cuts
        ASSERT_TRUE(s.AutoSegment(prompts)) << name;
        blindFound += OnsetsFound(onsets, s);
        blindMiscount += std::abs(SungSegments(s) - static_cast<int>(syllables.size()));
        EXPECT_EQ(s.Segments.front().StartMs, 0.0);
        EXPECT_EQ(s.Segments.front().Lyric, "R");  // the silence before the singing
    }
    ASSERT_EQ(labelled, 22);
    EXPECT_GE(guidedFound, 22);
    EXPECT_GE(blindFound, 19);
    EXPECT_LE(blindMiscount, 3);  // sung segments more or fewer than syllables, summed
}

TEST_F(SungRecordings, LyricsThatCannotBePlacedChangeNothing) {
    EditorSession s;
    Load(s, "_かんかかきかくか.wav");
    s.AddCut("R", 1000.0);
    const std::vector<Segment> before = s.Segments;
    const auto same = [&] {
        ASSERT_EQ(s.Segments.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(s.Segments[i].StartMs, before[i].StartMs);
            EXPECT_EQ(s.Segments[i].Lyric, before[i].Lyric);
        }
    };
    // Far more lyrics than syllables: how many could not be placed is said,
    // none is placed, and the question about the cuts is never asked.
    const std::vector<std::string> many(40, "か");
    EXPECT_FALSE(s.AutoSegment(prompts, many));
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_NE(prompts.errors.back().find("置けない"), std::string::npos) << prompts.errors.back();
    EXPECT_EQ(s.LastAutoCut.result, EditorSession::AutoCutReport::Result::TooManyLyrics);
    EXPECT_GT(s.LastAutoCut.audible, 0);
    EXPECT_LT(s.LastAutoCut.audible, 40);
    EXPECT_TRUE(prompts.questions.empty());
    same();
    // Characters that are not lyrics, an empty lyric, only rests.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"か", "1"}, {"か", ""}, {"か", "、"}, {"R", "っ"}}) {
        EXPECT_FALSE(s.AutoSegment(prompts, bad));
        same();
    }
    EXPECT_EQ(prompts.errors.size(), 5u);
    // Declining the question keeps the cuts too.
    prompts.answers = {false};
    EXPECT_FALSE(s.AutoSegment(prompts, std::vector<std::string>{"か", "ん"}));
    EXPECT_EQ(prompts.questions.back(), kAutoSegmentQuestion);
    same();
}

TEST_F(SungRecordings, ARecordingWithoutSingingIsNotCut) {
    testing::TempFolder folder;
    // Breath-like noise: loud enough, but nothing voiced.
    std::vector<std::int16_t> noise(3 * 44100);
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 3000.0);
    for (auto& v : noise)
        v = static_cast<std::int16_t>(std::clamp(gauss(random), -32000.0, 32000.0));
    testing::WriteBytes(folder / "noise.wav", testing::WavBytes(noise));
    EditorSession s;
    ASSERT_EQ(s.LoadRecording(folder / "noise.wav", prompts, {}, LoadScope::SpectrumPeaks),
              LoadOutcome::Loaded);
    EXPECT_FALSE(s.AutoSegment(prompts, std::vector<std::string>{"あ"}));
    EXPECT_FALSE(s.AutoSegment(prompts));
    EXPECT_EQ(s.LastAutoCut.result, EditorSession::AutoCutReport::Result::NoSinging);
    EXPECT_EQ(s.Segments.size(), 1u);
    EXPECT_EQ(prompts.errors.size(), 2u);
}

// A legato phrase あいあいあ (no dip: the envelope glides to the next
// vowel at frames 150, 250, 350 and 450) with a loudness wobble inside the
// third syllable at frame 300, a stronger onset than the vowel changes.
// Five syllables fit either way; the lyrics' vowels tell which: cut at the
// wobble, one syllable would be sung on the wrong vowel.
TEST(CutWithLyrics, TheLyricsVowelsChooseBetweenOnsets) {
    constexpr int kFrames = 600;
    std::vector<EnvelopeColumn> envelope(kFrames);
    std::vector<std::int32_t> volume(kFrames, 10);
    std::vector<float> pitch(kFrames, 0.0f);
    std::minstd_rand random(7);
    std::uniform_real_distribution<double> wobble(-1.0, 1.0);
    for (int i = 0; i < kFrames; ++i) {
        const bool sung = i >= 50 && i < 550;
        // あ: energy low in the bands; い: high, with glides of 10 frames
        // (58 ms) between them. Silence: flat and quiet.
        double towardI = 0.0;
        for (int change : {150, 250, 350, 450})
            towardI +=
                (change % 200 == 150 ? 1.0 : -1.0) * std::clamp((i - change + 5) / 10.0, 0.0, 1.0);
        for (int k = 0; k < kEnvelopeBands; ++k) {
            const double centre = 5.0 + 11.0 * towardI;
            envelope[i][k] = sung ? static_cast<float>(60.0 - 2.0 * std::abs(k - centre)) : 5.0f;
        }
        // Unsteadiness, as in any voice, so that the change has a scale.
        for (float& band : envelope[i]) band += static_cast<float>(wobble(random)) * 4.0f;
        if (sung) {
            volume[i] = (i >= 290 && i < 300) ? 300 : 3000;
            pitch[i] = 220.0f;
        }
    }
    const CuttingInput input{envelope, volume, pitch, {}};
    const auto starts = [&](std::vector<SyllableSound> syllables) {
        std::vector<int> frames;
        for (const SungSpan& span : CutWithLyrics(input, syllables).spans)
            frames.push_back(static_cast<int>(std::lround(span.startFrame / 10.0)) * 10);
        return frames;
    };
    EXPECT_EQ(starts({{'a', true}, {'i', true}, {'a', true}, {'i', true}, {'a', true}}),
              (std::vector<int>{50, 150, 250, 350, 450}));
    // Without the vowels the wobble wins.
    EXPECT_NE(starts(std::vector<SyllableSound>(5)), (std::vector<int>{50, 150, 250, 350, 450}));
}

TEST(LyricLine, SplitsAsALyricRunWithoutFilling) {
    EXPECT_EQ(SplitLyricLine("きゃっとー"), (std::vector<std::string>{"きゃ", "R", "と", "ー"}));
    EXPECT_EQ(SplitLyricLine("ああいあう"),
              (std::vector<std::string>{"あ", "あ", "い", "あ", "う"}));
    EXPECT_EQ(SplitLyricLine("가 나　다"), (std::vector<std::string>{"가", "나", "다"}));
    EXPECT_TRUE(SplitLyricLine("").empty());
}

}  // namespace
}  // namespace melodrift
