#include "text/CodePage.h"
#include "text/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace melodrift {
namespace {

using Items = std::vector<std::string>;

TEST(SplitText, KeepsEmptyPiecesAtEitherEndAndBetween) {
    EXPECT_EQ(SplitText("a,,b", ","), (Items{"a", "", "b"}));
    EXPECT_EQ(SplitText("a=b,c", "=,"), (Items{"a", "b", "c"}));
    EXPECT_EQ(SplitText("a,", ","), (Items{"a", ""}));
    EXPECT_EQ(SplitText(",a", ","), (Items{"", "a"}));
    EXPECT_EQ(SplitText("abc", ","), (Items{"abc"}));
}

TEST(SplitText, EmptyTextOrDelimitersGiveNoItemsAndClearTheList) {
    Items list{"old"};
    SplitText("", ",", list);
    EXPECT_TRUE(list.empty());
    list = {"old"};
    SplitText("a,b", "", list);
    EXPECT_TRUE(list.empty());
}

TEST(SplitText, NeverCutsADoubleByteCharacter) {
    // "ソ" is 0x83 0x5C in CP932: its trail byte is the ASCII backslash, but
    // no delimiter below 0x40 can be a trail byte.
    const std::string line = "\x83\x5C=\x83\x5C,x";
    EXPECT_EQ(SplitText(line, "=,"), (Items{"\x83\x5C", "\x83\x5C", "x"}));
}

TEST(ParseFloatOr, ReadsTrimmedNumbersAndFallsBackOtherwise) {
    EXPECT_DOUBLE_EQ(ParseFloatOr("  12.5\t", 0), 12.5);
    EXPECT_DOUBLE_EQ(ParseFloatOr("abc", 7), 7);
    EXPECT_DOUBLE_EQ(ParseFloatOr("", 7), 7);
    EXPECT_DOUBLE_EQ(ParseFloatOr("-", 7), 7);
    EXPECT_DOUBLE_EQ(ParseFloatOr("1e", 7), 7);
    EXPECT_DOUBLE_EQ(ParseFloatOr("1,5", 7), 7);
    EXPECT_DOUBLE_EQ(ParseFloatOr(".5", 0), 0.5);
    EXPECT_DOUBLE_EQ(ParseFloatOr("5.", 0), 5.0);
    EXPECT_DOUBLE_EQ(ParseFloatOr("+1.5E+2", 0), 150.0);
    EXPECT_DOUBLE_EQ(ParseFloatOr("-2e-1", 0), -0.2);
}

TEST(ParseFloatOr, APointWithoutDigitsIsAConversionError) {
    EXPECT_THROW(ParseFloatOr(".", 0), ConversionError);
    EXPECT_THROW(ParseFloatOr("-.", 0), ConversionError);
}

TEST(ParseDouble, RejectsWhatIsNotANumber) {
    EXPECT_DOUBLE_EQ(ParseDouble(" 140 "), 140.0);
    EXPECT_THROW(ParseDouble("fast"), ConversionError);
    EXPECT_THROW(ParseDouble(""), ConversionError);
    EXPECT_THROW(ParseDouble("1.2.3"), ConversionError);
}

TEST(ParseInt32, ReadsSignedDecimalsWithinRange) {
    EXPECT_EQ(ParseInt32("-42"), -42);
    EXPECT_EQ(ParseInt32(" +7 "), 7);
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    EXPECT_THROW(ParseInt32("2147483648"), ConversionError);
    EXPECT_THROW(ParseInt32("1.5"), ConversionError);
    EXPECT_THROW(ParseInt32(""), ConversionError);
    EXPECT_THROW(ParseInt32("-"), ConversionError);
}

TEST(Blend, IsLinearBetweenTheEnds) {
    EXPECT_DOUBLE_EQ(Blend(10, 20, 0.25), 12.5);
    EXPECT_DOUBLE_EQ(Blend(10, 20, 0), 10);
    EXPECT_DOUBLE_EQ(Blend(10, 20, 1), 20);
}

TEST(SortByKey, ShortArraysKeepTheInputOrderOfEqualKeys) {
    KeyedValues pairs;
    const double keys[] = {3, 1, 2, 1, 3, 0, 2, 1, 3, 1, 2};
    for (int i = 0; i < 11; ++i) pairs.push_back({keys[i], i});
    SortByKey(pairs);
    const int expected[] = {5, 1, 3, 7, 9, 2, 6, 10, 0, 4, 8};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(pairs[static_cast<std::size_t>(i)].Index, expected[i]) << i;
}

TEST(SortByKey, LongArraysComeOutAscendingWithEveryIndexOnce) {
    std::mt19937 random(1234);
    for (int size : {0, 1, 2, 12, 13, 100, 5000}) {
        KeyedValues pairs;
        for (int i = 0; i < size; ++i) pairs.push_back({static_cast<double>(random() % 50), i});
        SortByKey(pairs);
        ASSERT_TRUE(
            std::is_sorted(pairs.begin(), pairs.end(),
                           [](const KeyedValue& a, const KeyedValue& b) { return a.Key < b.Key; }));
        std::vector<int> seen(static_cast<std::size_t>(size), 0);
        for (const auto& p : pairs) ++seen[static_cast<std::size_t>(p.Index)];
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
    }
}

TEST(SortByKey, PartitionsAsTheMedianOfThreeQuicksortDoes) {
    // 12 pairs: one partition step runs. Pivot = median(5, key[5]=0, 1) = 1.
    // Worked by hand: the equal keys 1 (indices 1, 6, 11) end in the order
    // 11, 6, 1 after the swaps, and the insertion sort keeps that order.
    const double keys[] = {5, 1, 4, 2, 3, 0, 1, 6, 2, 7, 8, 1};
    KeyedValues pairs;
    for (int i = 0; i < 12; ++i) pairs.push_back({keys[i], i});
    SortByKey(pairs);
    std::vector<int> ones;
    for (const auto& p : pairs)
        if (p.Key == 1) ones.push_back(p.Index);
    EXPECT_EQ(ones, (std::vector<int>{11, 6, 1}));
}

TEST(CodePage, RoundTripsJapaneseThroughCp932) {
    // 0x8160 is the Windows mapping of the wave dash: U+FF5E, not U+301C.
    const std::string utf8 = "あ・ソ～①";
    const std::string cp932 = Utf8ToCp932(utf8);
    EXPECT_EQ(cp932, "\x82\xA0\x81\x45\x83\x5C\x81\x60\x87\x40");
    EXPECT_EQ(Cp932ToUtf8(cp932), utf8);
}

TEST(CodePage, InvalidBytesAndUnmappableCharactersDoNotThrow) {
    EXPECT_NO_THROW(Cp932ToUtf8("\x82"));
    EXPECT_NO_THROW(Cp932ToUtf8("\xFF\xFF\x80"));
    EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x8E\xB5"
                          "b"),
              "a?b");
}

// Broken input gives the same text with ICU and with Windows' code page
// 932: one U+FFFD for a lead byte without a trail byte, one for an
// unassigned double-byte code (both bytes), one "?" for a character outside
// CP932 (a surrogate pair too), one U+FFFD per maximal subpart of a broken
// UTF-8 sequence.
TEST(CodePage, BrokenInputBecomesTheSameReplacementsOnEverySystem) {
    const std::string r = "\xEF\xBF\xBD";               // U+FFFD
    EXPECT_EQ(Cp932ToUtf8("a\x82 b"), "a" + r + " b");  // 0x20 is no trail byte
    EXPECT_EQ(Cp932ToUtf8("a\x82"), "a" + r);           // cut off at the end
    EXPECT_EQ(Cp932ToUtf8("\x85\x40x"), r + "x");       // row 0x85 is unassigned
    EXPECT_EQ(Cp932ToUtf8("\x82\xA0\xEF\x40\x82\xA2"), "あ" + r + "い");
    EXPECT_FALSE(Cp932ToUtf16Exact("\x85\x40"));
    EXPECT_EQ(Cp932ToUtf16Exact("\x81\x45"), std::u16string(u"\u30FB"));  // ・ is a character
    EXPECT_EQ(Utf16ToCp932(u"a\U0001F3B5\u00E9b"), "a??b");
    EXPECT_EQ(Utf16ToCp932(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
    EXPECT_FALSE(Utf16ToCp932Exact(u"\u301C"));  // best fit only through EncodeShiftJis
    EXPECT_EQ(Utf8ToUtf16("a\xE3\x81"
                          "b"),
              u"a\uFFFD"
              u"b");                                                // one for the cut sequence
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate: each byte
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x8E"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x8E\xB5"), u"\U0001F3B5");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"x"), r + "x");
}

// Code page 932 maps every byte below 0x80 to the same code point, also
// the DOS end-of-file mark 0x1A, 0x1C and DEL (which IBM's table, ICU's
// "windows-31j", swaps).
TEST(CodePage, BytesBelow0x80AreTheirOwnCodePoints) {
    std::string ascii;
    for (int byte = 0; byte < 0x80; ++byte) ascii += static_cast<char>(byte);
    EXPECT_EQ(Cp932ToUtf8(ascii), ascii);
    EXPECT_EQ(Utf8ToCp932(ascii), ascii);
    EXPECT_EQ(Cp932ToUtf16Exact("a\x1A\x1C\x7F"), std::u16string(u"a\u001A\u001C\u007F"));
    EXPECT_EQ(Utf16ToCp932Exact(u"\u001A\u001C\u007F\u3042"), std::string("\x1A\x1C\x7F\x82\xA0"));
    EXPECT_EQ(Cp932ToUtf8("\x81\x7F"
                          "A"),
              "\xEF\xBF\xBD\x7F"
              "A");  // 0x7F ends a lead byte's sequence
}

TEST(EscapeControlCharacters, ShowsControlBytesAndKeepsEverythingElse) {
    EXPECT_EQ(EscapeControlCharacters("120.00"), "120.00");
    EXPECT_EQ(EscapeControlCharacters("\x1b[31mred\x07\r\n\t\x7f"),
              "\\x1b[31mred\\x07\\x0d\\x0a\\x09\\x7f");
    EXPECT_EQ(EscapeControlCharacters(std::string("a\0b", 3)), "a\\x00b");
    // UTF-8 text and CP932 bytes stay; the UTF-8 form of CSI (U+009B) does not.
    EXPECT_EQ(EscapeControlCharacters("音源\x82\xA0"), "音源\x82\xA0");
    EXPECT_EQ(EscapeControlCharacters("\xC2\x9B"
                                      "2J"),
              "\\xc2\\x9b"
              "2J");
    EXPECT_EQ(EscapeControlCharacters("\xC2\xA9"), "\xC2\xA9");  // ©
    // A second pass finds nothing more to escape.
    const std::string once = EscapeControlCharacters("\x1b]0;title\x07");
    EXPECT_EQ(EscapeControlCharacters(once), once);
}

}  // namespace
}  // namespace melodrift
