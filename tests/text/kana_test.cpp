#include "text/Kana.h"

#include "text/CodePage.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

std::string Sjis(std::string_view utf8) { return Utf8ToCp932(utf8); }

// Unicode places each katakana 0x60 code points after its hiragana
// (U+3041 ぁ .. U+3093 ん ↔ U+30A1 ァ .. U+30F3 ン); checking the CP932 table
// against that, through ICU's converter, is independent of the byte mapping.
TEST(KanaScript, EveryCp932HiraganaMapsToTheKatakanaOfTheSameSound) {
    for (char16_t hiragana = u'\u3041'; hiragana <= u'\u3093'; ++hiragana) {
        const std::string hiraganaSjis = Utf16ToCp932(std::u16string(1, hiragana));
        const std::string katakanaSjis = Utf16ToCp932(std::u16string(1, static_cast<char16_t>(hiragana + 0x60)));
        ASSERT_EQ(hiraganaSjis.size(), 2u) << int(hiragana);
        EXPECT_TRUE(IsCp932Hiragana(hiraganaSjis));
        EXPECT_FALSE(IsCp932Hiragana(katakanaSjis));
        EXPECT_EQ(HiraganaToKatakana(hiraganaSjis), katakanaSjis) << int(hiragana);
        EXPECT_EQ(KatakanaToHiragana(katakanaSjis), hiraganaSjis) << int(hiragana);
    }
}

TEST(KanaScript, OtherCharactersPassUnchanged) {
    EXPECT_EQ(HiraganaToKatakana(Sjis("- かー↑ka")), Sjis("- カー↑ka"));
    EXPECT_EQ(KatakanaToHiragana(Sjis("* ヲッ゛7")), Sjis("* をっ゛7"));
    // ヴ, ヵ and ヶ have no hiragana in CP932.
    EXPECT_EQ(KatakanaToHiragana(Sjis("ヴヵヶ")), Sjis("ヴヵヶ"));
    EXPECT_EQ(HiraganaToKatakana(Sjis("ゝゞ")), Sjis("ヽヾ"));
    EXPECT_EQ(KatakanaToHiragana(Sjis("ヽヾ")), Sjis("ゝゞ"));
    // Half-width katakana and kanji stay as they are.
    EXPECT_EQ(KatakanaToHiragana(Sjis("ｶ漢")), Sjis("ｶ漢"));
}

TEST(KanaScript, TrailBytesThatLookLikeAsciiAreNotCharacters) {
    const std::string so = Sjis("ソ");  // 0x83 0x5C
    ASSERT_EQ(so, "\x83\x5C");
    EXPECT_FALSE(Cp932EndsWith(so, "\\"));
    EXPECT_TRUE(Cp932EndsWith("a\\", "\\"));
    EXPECT_EQ(Cp932Chars("a" + so + "b").size(), 3u);
    // A lone lead byte at the end is one broken character, not a read past the end.
    EXPECT_EQ(Cp932Chars("a\x82").size(), 2u);
    EXPECT_EQ(HiraganaToKatakana("\x82"), "\x82");
    EXPECT_TRUE(IsCp932CharBoundary(so, 2));
    EXPECT_FALSE(IsCp932CharBoundary(so, 1));
}

}  // namespace
}  // namespace melodrift
