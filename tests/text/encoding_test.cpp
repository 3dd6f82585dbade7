#include "text/Encoding.h"

#include "text/CodePage.h"
#include "text/ShiftJisConverter.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

// Windows' code page 932 maps these typed characters to the Shift-JIS codes
// of their look-alikes; each code reads back as the look-alike.
TEST(ShiftJisEncoding, BestFitCharactersGetWindowsCodes) {
    const struct {
        const char* typed;
        const char* bytes;
    } cases[] = {
        {"〜", "\x81\x60"}, {"−", "\x81\x7C"}, {"‖", "\x81\x61"}, {"—", "\x81\x5C"},
        {"¢", "\x81\x91"},  {"£", "\x81\x92"}, {"¬", "\x81\xCA"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> bytes = EncodeShiftJis(c.typed);
        ASSERT_TRUE(bytes) << c.typed;
        EXPECT_EQ(*bytes, c.bytes) << c.typed;
        EXPECT_FALSE(ShiftJisHoldsExactly(c.typed)) << c.typed;  // reads back as the look-alike
    }
    EXPECT_EQ(EncodeShiftJis("ー〜"), std::string("\x81\x5B\x81\x60"));
    EXPECT_TRUE(ShiftJisHoldsExactly("か↑ｶ漢"));
}

TEST(ShiftJisEncoding, ACharacterWithoutCodeIsRefusedAndNamed) {
    std::string refused;
    EXPECT_FALSE(EncodeShiftJis("か你好", &refused));
    EXPECT_EQ(refused, "你");
    EXPECT_FALSE(EncodeShiftJis("a𠀋", &refused));
    EXPECT_EQ(refused, "𠀋");
    try {
        (void)EncodeText("ka你", TextEncoding::ShiftJis);
        FAIL() << "no refusal";
    } catch (const UnencodableText& error) {
        EXPECT_EQ(error.Character(), "你");
        EXPECT_NE(std::string(error.what()).find("U+4F60"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("「你」"), std::string::npos);
    }
    // UTF-8 files hold everything; the marked form starts with the mark.
    EXPECT_EQ(EncodeText("你", TextEncoding::Utf8), "你");
    EXPECT_EQ(EncodeText("你", TextEncoding::Utf8WithBom), "\xEF\xBB\xBF你");
}

TEST(TextDecoding, MarksAreDroppedAndBrokenBytesShownAsReplacement) {
    EXPECT_EQ(DecodeText("\xEF\xBB\xBF"
                         "あ",
                         TextEncoding::Utf8WithBom),
              "あ");
    EXPECT_EQ(DecodeText("\x82\xA0", TextEncoding::ShiftJis), "あ");
    EXPECT_EQ(DecodeText("a\xFF", TextEncoding::Utf8), "a\xEF\xBF\xBD");
}

TEST(TextDecoding, ValidityTellsTheEncodingsApart) {
    EXPECT_TRUE(IsValidShiftJis(Utf8ToCp932("a.wav=あ,1,2,3,4,5")));
    EXPECT_FALSE(IsValidUtf8(Utf8ToCp932("a.wav=あ,1,2,3,4,5")));
    EXPECT_TRUE(IsValidUtf8("a.wav=あ,1,2,3,4,5"));
    EXPECT_FALSE(IsValidShiftJis("a.wav=あ,1,2,3,4,5"));  // E3 81 82 2C: 0x2C is no trail byte
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));                // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));            // a surrogate
    EXPECT_FALSE(IsValidShiftJis("\x82"));                // a lead byte without trail
}

// One converter kept over many lines gives what the one-off calls give,
// also after a broken line (its state is reset per line).
TEST(TextDecoding, AKeptConverterAgreesWithTheOneOffCalls) {
    ShiftJisConverter converter;
    const std::string lines[] = {Utf8ToCp932("a.wav=あ,1"), "\x82", "bad=\x82\xFF\x81",
                                 Utf8ToCp932("ソ\\か"),     "",     "eof\x1A\x7F"};
    for (const std::string& line : lines) {
        EXPECT_EQ(converter.IsValid(line), IsValidShiftJis(line)) << line;
        EXPECT_EQ(converter.Decode(line), DecodeText(line, TextEncoding::ShiftJis)) << line;
    }
    EXPECT_EQ(converter.Decode("eof\x1A\x7F"), "eof\x1A\x7F");
}

TEST(TextDecoding, EncodingNamesAsFilesDeclareThem) {
    EXPECT_EQ(EncodingFromName("UTF-8"), TextEncoding::Utf8);
    EXPECT_EQ(EncodingFromName(" utf8 "), TextEncoding::Utf8);
    EXPECT_EQ(EncodingFromName("\"shift_jis\""), TextEncoding::ShiftJis);
    EXPECT_EQ(EncodingFromName("Shift-JIS"), TextEncoding::ShiftJis);
    EXPECT_EQ(EncodingFromName("EUC-JP"), std::nullopt);
}

}  // namespace
}  // namespace melodrift
