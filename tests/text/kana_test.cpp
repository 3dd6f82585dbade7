#include "text/Kana.h"

#include "text/CodePage.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

// Every hiragana that CP932 holds, found through ICU's CP932 table (two-byte
// codes 0x829F..0x82F1), swaps to the katakana of the same sound in that
// table (0x8340..0x8393 without 0x837F): the swap on text agrees with the
// hosts' encoding kana for kana.
TEST(KanaScript, EveryCp932HiraganaMapsToTheKatakanaOfTheSameSound) {
    int checked = 0;
    for (int trail = 0x9F; trail <= 0xF1; ++trail) {
        const std::string hiragana = Cp932ToUtf8(std::string{'\x82', static_cast<char>(trail)});
        const int katakanaTrail = 0x40 + (trail - 0x9F) + (0x40 + (trail - 0x9F) >= 0x7F ? 1 : 0);
        const std::string katakana =
            Cp932ToUtf8(std::string{'\x83', static_cast<char>(katakanaTrail)});
        EXPECT_TRUE(IsHiragana(hiragana)) << trail;
        EXPECT_FALSE(IsHiragana(katakana)) << trail;
        EXPECT_EQ(HiraganaToKatakana(hiragana), katakana) << trail;
        EXPECT_EQ(KatakanaToHiragana(katakana), hiragana) << trail;
        ++checked;
    }
    EXPECT_EQ(checked, 83);
}

TEST(KanaScript, OtherCharactersPassUnchanged) {
    EXPECT_EQ(HiraganaToKatakana("- かー↑ka"), "- カー↑ka");
    EXPECT_EQ(KatakanaToHiragana("* ヲッ゛7"), "* をっ゛7");
    // ヴ, ヵ and ヶ have no hiragana in CP932.
    EXPECT_EQ(KatakanaToHiragana("ヴヵヶ"), "ヴヵヶ");
    EXPECT_EQ(HiraganaToKatakana("ゝゞ"), "ヽヾ");
    EXPECT_EQ(KatakanaToHiragana("ヽヾ"), "ゝゞ");
    // Half-width katakana, kanji and characters beyond CP932 stay as they are.
    EXPECT_EQ(KatakanaToHiragana("ｶ漢你"), "ｶ漢你");
    EXPECT_EQ(HiraganaToKatakana("ゔゕ𠀋"), "ゔゕ𠀋");
}

TEST(KanaText, CharactersAreWholeCodePointsAndBrokenBytesStayInside) {
    EXPECT_EQ(Utf8Chars("aソ𠀋b").size(), 4u);
    EXPECT_EQ(Utf8Chars("aソ𠀋b")[2], "𠀋");
    // A cut-off character at the end and a stray continuation byte are one
    // byte each, never a read past the end.
    EXPECT_EQ(Utf8Chars("a\xE3\x81").size(), 3u);
    EXPECT_EQ(Utf8Chars("\x81"
                        "a")
                  .size(),
              2u);
    EXPECT_EQ(HiraganaToKatakana("\xE3\x81"), "\xE3\x81");
    EXPECT_FALSE(IsHiragana("\xE3\x81"));
    EXPECT_FALSE(IsHiragana("あい"));
}

TEST(KanaText, ShiftJisWidthCountsTheBytesAShiftJisFileGives) {
    for (const char* text : {"a", "か", "ｶ", "ka↑", "漢字ｱ", "- きゃ"})
        EXPECT_EQ(ShiftJisWidth(text), Utf8ToCp932(text).size()) << text;
}

}  // namespace
}  // namespace melodrift
