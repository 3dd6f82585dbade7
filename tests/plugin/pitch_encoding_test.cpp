#include "plugin/PitchEncoding.h"

#include <gtest/gtest.h>

#include <string>

#include "text/Text.h"

namespace melodrift {
namespace {

const std::string kPrefix = "$OldPitches=";

std::string Encode(const std::string& list) { return EncodePitchList(kPrefix + list, kPrefix); }

TEST(SixBitChar, IsTheBase64Alphabet) {
    EXPECT_EQ(SixBitChar(0), 'A');
    EXPECT_EQ(SixBitChar(25), 'Z');
    EXPECT_EQ(SixBitChar(26), 'a');
    EXPECT_EQ(SixBitChar(51), 'z');
    EXPECT_EQ(SixBitChar(52), '0');
    EXPECT_EQ(SixBitChar(61), '9');
    EXPECT_EQ(SixBitChar(62), '+');
    EXPECT_EQ(SixBitChar(63), '/');
}

TEST(EncodePitchList, SingleValuesAreTwelveBitTwosComplement) {
    EXPECT_EQ(Encode("0"), kPrefix + "AA");
    EXPECT_EQ(Encode("100"), kPrefix + "Bk");
    EXPECT_EQ(Encode("-1"), kPrefix + "//");
    EXPECT_EQ(Encode("2047"), kPrefix + "f/");
    EXPECT_EQ(Encode("-2048"), kPrefix + "gA");
    EXPECT_EQ(Encode("4096"), kPrefix + "AA");  // wraps modulo 4096
}

TEST(EncodePitchList, RunsOfEqualCodesGetARepeatMarker) {
    EXPECT_EQ(Encode("0,0,0,5"), kPrefix + "AA#2#AF");
    EXPECT_EQ(Encode("7,7"), kPrefix + "AH#1#");
    EXPECT_EQ(Encode("1,2,1"), kPrefix + "ABACAB");
    EXPECT_EQ(Encode("3,3"), kPrefix + "AD#1#");  // a run at the very end is closed too
    EXPECT_EQ(Encode("5,5,6,6,6"), kPrefix + "AF#1#AG#2#");
    // Runs are found on the codes: 1 and 4097 share one.
    EXPECT_EQ(Encode("1,4097,-4095"), kPrefix + "AB#2#");
}

TEST(EncodePitchList, EmptyAndSingleLists) {
    EXPECT_EQ(Encode(""), kPrefix);
    EXPECT_EQ(EncodePitchList("$OldPrePitches=-3", "$OldPrePitches="), "$OldPrePitches=/9");
}

TEST(EncodePitchList, ItemsThatAreNotIntegersThrow) {
    EXPECT_THROW(Encode("1,,2"), ConversionError);
    EXPECT_THROW(Encode("1,"), ConversionError);
    EXPECT_THROW(Encode("-"), ConversionError);
    EXPECT_THROW(Encode("1.5"), ConversionError);
    EXPECT_THROW(Encode("99999999999"), ConversionError);  // beyond 32 bits
}

TEST(EncodePitchList, ListsLongerThan9999CharactersAreEncodedWhole) {
    // 2000 alternating values, 11999 characters: no value may be lost.
    std::string list;
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        list += (i == 0 ? "" : ",") + std::string("1000,-1000");
        expected += "PowY";  // 1000 = 15·64 + 40; −1000 ≡ 3096 = 48·64 + 24
    }
    ASSERT_GT(list.size(), 9999u);
    EXPECT_EQ(Encode(list), kPrefix + expected);

    std::string zeros = "0";
    for (int i = 1; i < 3000; ++i) zeros += ",0";
    EXPECT_EQ(Encode(zeros), kPrefix + "AA#2999#");
}

}  // namespace
}  // namespace melodrift
