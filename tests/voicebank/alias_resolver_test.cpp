#include "voicebank/AliasResolver.h"

#include "NoteFixture.h"

#include <gtest/gtest.h>

#include <set>

namespace melodrift {
namespace {

using testing::NoteListFixture;
using testing::Sjis;
using testing::TempFolder;
using testing::WriteBytes;

// A bank of the given oto.ini lines (UTF-8 text).
void AddLines(Voicebank& bank, std::initializer_list<const char*> lines) {
    for (const char* line : lines) bank.AddOtoLine(line);
}

class AliasPasses : public ::testing::Test {
  protected:
    void Run() {
        AliasResolver resolver(bank);
        resolver.Notes = &list.notes();
        resolver.Execute();
    }
    Voicebank bank;
    NoteListFixture list;
};

TEST(AliasHelpers, TheVowelTableHoldsEachCharacterOnce) {
    Voicebank bank;
    AliasResolver resolver(bank);
    const auto& table = resolver.VowelTable();
    ASSERT_EQ(table.size(), 181u);
    std::set<std::string> seen;
    for (const VowelRow& row : table) EXPECT_TRUE(seen.insert(row.Kana).second) << row.Kana;
    EXPECT_EQ(table.front().Kana, std::string("ぁ"));
    EXPECT_EQ(table.front().Vowel, "a");
    EXPECT_EQ(table.back().Kana, "M");
    EXPECT_EQ(table.back().Vowel, "n");
}

TEST(AliasHelpers, KanaOnlyAndVowelOf) {
    Voicebank bank;
    AliasResolver r(bank);
    EXPECT_EQ(r.VowelOf(std::string("かー")), "a");
    EXPECT_EQ(r.VowelOf("kan"), "n");
    EXPECT_EQ(r.VowelOf(std::string("a か")), "a");
    EXPECT_EQ(r.VowelOf("R"), "");
    EXPECT_EQ(r.VowelOf(std::string("きっ")), "i");
    EXPECT_EQ(r.VowelOf(std::string("B_お")), "o");
    EXPECT_EQ(r.KanaOnly("a "), "");
    EXPECT_EQ(r.KanaOnly(std::string("- か↑2")), std::string("か"));
    EXPECT_EQ(r.KanaOnly(std::string("* きゃっー゛漢")), std::string("きゃっー゛"));
    EXPECT_TRUE(AliasResolver::HasVowelHead(std::string("a か")));
    EXPECT_TRUE(AliasResolver::HasVowelHead(std::string("B_あ")));
    EXPECT_FALSE(AliasResolver::HasVowelHead(std::string("- か")));
    EXPECT_FALSE(AliasResolver::HasVowelHead("a"));
}

TEST(AliasHelpers, SwapKanaScriptAndReplacements) {
    Voicebank bank;
    AliasResolver r(bank);
    EXPECT_EQ(r.SwapKanaScript(std::string("- か")), std::string("- カ"));
    EXPECT_EQ(r.SwapKanaScript(std::string("ヲ")), std::string("を"));
    EXPECT_EQ(r.SwapKanaScript("a"), "");  // one byte of kana form
    EXPECT_EQ(r.SwapKanaScript("- "), "");
    EXPECT_EQ(r.SwapKanaScript("ka"), "ka");  // no kana: unchanged
    // At most 255 bytes, never half a character: 200 letters and 27 kana.
    std::string longLyric(200, 'x');
    for (int i = 0; i < 40; ++i) longLyric += "か";
    EXPECT_EQ(r.SwapKanaScript(std::string(longLyric)),
              std::string(longLyric.substr(0, 200 + 27 * 3)));
    EXPECT_EQ(r.ApplyKanaReplacement(std::string("をぢを")), std::string("おぢお"));
    EXPECT_EQ(r.ApplyKanaReplacement(std::string("づ")), std::string("ず"));
    EXPECT_EQ(r.ApplyKanaReplacement(std::string("か")), std::string("か"));
}

TEST_F(AliasPasses, ConnectedFormsWinInAVowelConsonantBank) {
    AddLines(bank, {"ka.wav=- か,0,0,0,30,10", "ka2.wav=か,0,0,0,40,10", "sa.wav=a さ,0,0,0,60,20",
                    "sa2.wav=さ,0,0,0,70,20"});
    list.Add({{"か"}, {"さ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "- か");
    EXPECT_EQ(list.LyricUtf8(2), "a さ");
}

TEST_F(AliasPasses, WithoutTheWordInitialFormThePlainFormWins) {
    AddLines(bank, {"ka2.wav=か,0,0,0,40,10", "sa.wav=a さ,0,0,0,60,20"});
    list.Add({{"か"}, {"さ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "か");
    EXPECT_EQ(list.LyricUtf8(2), "a さ");
}

TEST_F(AliasPasses, AConsonantVowelBankKeepsThePlainLyrics) {
    AddLines(bank, {"ka.wav=か,0,0,0,40,10", "sa.wav=さ,0,0,0,40,10", "a.wav=あ,0,0,0,40,10"});
    list.Add({{"か"}, {"さ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "か");
    EXPECT_EQ(list.LyricUtf8(2), "さ");
}

TEST_F(AliasPasses, WordInitialAndWildcardFormsComeBeforeThePlainForm) {
    AddLines(bank, {"ka.wav=か,0,0,0,40,10", "sa.wav=さ,0,0,0,40,10", "a.wav=あ,0,0,0,40,10",
                    "ka-.wav=- か,0,0,0,40,10", "sa*.wav=* さ,0,0,0,40,10"});
    list.Add({{"か"}, {"さ"}, {"あ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "- か");  // "- か" before "か"
    EXPECT_EQ(list.LyricUtf8(2),
              "* さ");  // after a sung note "* " comes before "- " and the plain form
    EXPECT_EQ(list.LyricUtf8(3), "あ");
}

TEST_F(AliasPasses, TheWildcardFormIsNeverTriedForAFirstNoteOrAfterARest) {
    AddLines(bank, {"ka*.wav=* か,0,0,0,40,10", "ka.wav=か,0,0,0,40,10", "su*.wav=* す,0,0,0,40,10",
                    "su.wav=す,0,0,0,40,10"});
    list.Add({{"か"}, {"R"}, {"す"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "か");
    EXPECT_EQ(list.LyricUtf8(2), "R");
    EXPECT_EQ(list.LyricUtf8(3), "す");
}

TEST_F(AliasPasses, AfterASungNoteTheConnectedFormComesBeforeTheWildcard) {
    AddLines(bank, {"ka.wav=か,0,0,0,40,10", "su-.wav=- す,0,0,0,40,10", "su*.wav=* す,0,0,0,40,10",
                    "asu.wav=a す,0,0,0,40,10"});
    list.Add({{"か"}, {"す"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(2), "a す");
}

TEST_F(AliasPasses, KanaReplacementAndTheOtherScriptAreFallbacks) {
    AddLines(bank, {"o.wav=お,0,0,0,40,10", "wo.wav=を,0,0,0,45,10", "ka.wav=か,0,0,0,40,10"});
    list.Add({{"を"}, {"R"}, {"ヲ"}, {"R"}, {"ヂ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "を");  // the bank has を itself
    EXPECT_EQ(list.LyricUtf8(3), "を");  // stage 3: the other script
    EXPECT_EQ(list.LyricUtf8(5), "ヂ");  // nothing matches: kept
    EXPECT_EQ(list[5].EffectivePreUtterance(), 0.0);
    EXPECT_EQ(list[5].EffectiveVoiceOverlap(), 0.0);
    EXPECT_EQ(list[5].EffectiveStartPoint(), 0.0);
}

TEST_F(AliasPasses, WoWithoutItsSampleBecomesO) {
    AddLines(bank, {"o.wav=お,0,0,0,40,10"});
    list.Add({{"を"}, {"R"}, {"ヲ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "お");  // stage 2: を>お
    EXPECT_EQ(list.LyricUtf8(3), "お");  // stage 4: ヲ → を → お
    EXPECT_DOUBLE_EQ(list[1].EffectivePreUtterance(), 40.0);
}

TEST_F(AliasPasses, ATypedDashRestBecomesARestWithZeroTiming) {
    AddLines(bank, {"ka.wav=か,0,0,0,40,10"});
    list.Add({{"か"}, {"- R"}, {"か"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(2), "R");
    EXPECT_EQ(list[2].EffectivePreUtterance(), 0.0);
    EXPECT_EQ(list[2].EffectiveVoiceOverlap(), 0.0);
    EXPECT_EQ(list[2].EffectiveStartPoint(), 0.0);
    EXPECT_EQ(list[2].PitchBend.Count(), 0);  // rests get no portamento
}

TEST_F(AliasPasses, APrefixMapAliasIsUsedButTheLyricStaysUndecorated) {
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini",
               Sjis("ka.wav=か,0,0,0,40,10\r\nkaup.wav=か↑,0,0,0,90,30\r\n"));
    WriteBytes(folder.path() / "prefix.map", Sjis("C4\t\t↑\r\n"));
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    list.Add({{"か", 250, 60}, {"R"}, {"か", 250, 61}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "か");
    EXPECT_DOUBLE_EQ(list[1].EffectivePreUtterance(), 90.0);
    EXPECT_DOUBLE_EQ(list[3].EffectivePreUtterance(), 40.0);
}

TEST_F(AliasPasses, AVowelAfterTheSameVowelIsAContinuation) {
    AddLines(bank, {"ka.wav=か,0,0,0,40,10", "a.wav=あ,12,37,0,30,5"});
    list.Add({{"か", 250, 60, 90}, {"あ"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(2), "あ");  // mark removed
    EXPECT_DOUBLE_EQ(list[2].EffectivePreUtterance(), 50.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveVoiceOverlap(), 100.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveStartPoint(), 37.0);  // the consonant of あ
    EXPECT_EQ(list[2].Intensity, 86);                       // 90 × 95 % = 85.5, half up
    // The crossfade joins the envelopes: the continuation fades in over its
    // overlap while the previous note fades out over the same time.
    EXPECT_DOUBLE_EQ(list[2].Envelope[1].Offset, 100.0);
    EXPECT_EQ(list[2].Envelope[1].Volume, 100);
    EXPECT_DOUBLE_EQ(list[1].Envelope[4].Offset, 100.0);
    EXPECT_EQ(list[1].Envelope[4].Volume, 100);
}

TEST_F(AliasPasses, AnotherVowelIsNoContinuation) {
    AddLines(bank, {"ki.wav=き,0,0,0,40,10", "a.wav=あ,12,37,0,30,5"});
    list.Add({{"き", 250, 60, 77}, {"あ"}});
    Run();
    EXPECT_DOUBLE_EQ(list[2].EffectivePreUtterance(), 30.0);
    EXPECT_EQ(list[2].Intensity, 100);
}

TEST_F(AliasPasses, APreutteranceLongerThanTheRoomIsShortened) {
    AddLines(bank, {"ka.wav=か,0,0,0,0,0", "sa.wav=さ,0,0,0,120,40"});
    list.Add({{"か", 100}, {"さ"}});
    Run();
    // Room 75 % of 100 ms: 75; overlap 40 × 75 / 120 + 0.5 → 25; 75 − 25 is
    // not above half of 100 ms.
    EXPECT_DOUBLE_EQ(list[2].EffectivePreUtterance(), 75.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveStartPoint(), 45.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveVoiceOverlap(), 25.0);
}

TEST_F(AliasPasses, TooLittleOverlapIsRaisedToTheLimit) {
    AddLines(bank, {"ka.wav=か,0,0,0,0,0", "sa.wav=さ,0,0,0,70,10"});
    list.Add({{"か", 100}, {"さ"}});
    Run();
    EXPECT_DOUBLE_EQ(list[2].EffectivePreUtterance(), 70.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveStartPoint(), 0.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveVoiceOverlap(), 20.0);  // 70 − 20 = the limit 50
}

TEST_F(AliasPasses, RestsBeforeANoteAddToItsRoom) {
    AddLines(bank, {"ka.wav=か,0,0,0,0,0", "sa.wav=さ,0,0,0,300,40"});
    list.Add({{"か", 200}, {"R", 100}, {"さ"}});
    Run();
    // Room 100 + 75 % of 200 = 250; overlap 40 × 250 / 300 + 0.5 → 33; the
    // limit is half the rest: 250 − 33 > 50, so the overlap becomes 200.
    EXPECT_DOUBLE_EQ(list[3].EffectivePreUtterance(), 250.0);
    EXPECT_DOUBLE_EQ(list[3].EffectiveStartPoint(), 50.0);
    EXPECT_DOUBLE_EQ(list[3].EffectiveVoiceOverlap(), 200.0);
}

TEST_F(AliasPasses, TheVelocityFactorScalesTheEntryTiming) {
    AddLines(bank, {"ka.wav=か,0,0,0,0,0", "sa.wav=さ,0,0,0,60,20"});
    list.Add({{"か", 1000}, {"さ"}});
    list[2].SetVelocity(200);  // factor 0.5
    Run();
    EXPECT_DOUBLE_EQ(list[2].EffectivePreUtterance(), 30.0);
    EXPECT_DOUBLE_EQ(list[2].EffectiveVoiceOverlap(), 10.0);
}

TEST_F(AliasPasses, EnvelopeWidthsAreKeptInsideShortNotes) {
    AddLines(bank, {"ka.wav=か,0,0,0,0,0"});
    list.Add({{"か", 50}, {"R"}, {"か", 50}, {"R"}});
    // Note 1: point 4 unused. Span 50: point 3 bound 50 − 15 = 35, then point
    // 2 bound (50 − 35) − 10 = 5.
    list[1].Envelope[2].Offset = 30;
    // Note 3: point 4 in use (10 ms). Span 50 − 10 = 40: point 2 bound 25,
    // then point 3 bound (40 − 25) − 10 = 5; point 5 bound (15 − 5) − 5 = 5.
    list[3].Envelope[2].Offset = 30;
    list[3].Envelope[4].Offset = 10;
    list[3].Envelope[4].Volume = 100;
    list[3].Envelope[5].Enabled = true;
    list[3].Envelope[5].Offset = 20;
    Run();
    EXPECT_DOUBLE_EQ(list[1].Envelope[3].Offset, 35.0);
    EXPECT_DOUBLE_EQ(list[1].Envelope[2].Offset, 5.0);
    EXPECT_DOUBLE_EQ(list[3].Envelope[2].Offset, 25.0);
    EXPECT_DOUBLE_EQ(list[3].Envelope[3].Offset, 5.0);
    EXPECT_DOUBLE_EQ(list[3].Envelope[4].Offset, 10.0);
    EXPECT_DOUBLE_EQ(list[3].Envelope[5].Offset, 5.0);
    // Positions follow the new widths: point 4 at span − 10, point 3 5 ms before.
    EXPECT_DOUBLE_EQ(list[3].Envelope[3].Position, 35.0);
}

TEST_F(AliasPasses, EverySungNoteGetsTheDefaultPortamento) {
    AddLines(bank, {"ka.wav=か,0,0,0,40,10"});
    list.Add({{"か"}, {"R"}, {"くぁwせdrftgyふじこlp"}});
    Run();
    for (int slot : {1, 3}) {
        const Portamento& portamento = list[slot].PitchBend;
        ASSERT_EQ(portamento.Count(), 2) << slot;
        EXPECT_DOUBLE_EQ(portamento.Point(0).Time, -25.0);
        EXPECT_DOUBLE_EQ(portamento.Point(1).Time, 25.0);
        EXPECT_DOUBLE_EQ(portamento.Point(0).Value, 0.0);
        EXPECT_DOUBLE_EQ(portamento.Point(1).Value, 0.0);
        EXPECT_EQ(portamento.Point(1).Shape, BendShape::SCurve);
    }
}

TEST_F(AliasPasses, ALyricWithoutKanaDoesNotMatchABareHeadAlias) {
    // "- " alone is an alias here; a lyric "-" must not resolve to it.
    AddLines(bank, {"dash.wav=- ,0,0,0,40,10"});
    list.Add({{"*"}});
    Run();
    EXPECT_EQ(list.LyricUtf8(1), "*");
    EXPECT_EQ(list[1].EffectivePreUtterance(), 0.0);
}

TEST(AliasResolver, NothingHappensWithoutNotes) {
    Voicebank bank;
    AliasResolver resolver(bank);
    EXPECT_NO_THROW(resolver.Execute());
}

}  // namespace
}  // namespace melodrift
