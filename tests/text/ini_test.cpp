#include "text/Ini.h"

#include <gtest/gtest.h>

#include <string>

namespace melodrift {
namespace {

TEST(IniReading, AcceptsBlanksAroundTheEqualsSignAndAnyLineEnd) {
    const IniFile ini = IniFile::Parse("[A]\r\nx = 1\ny=2\rz\t=\t3  \r\n[B]\nx=4");
    EXPECT_EQ(ini.Get("A", "x"), "1");
    EXPECT_EQ(ini.Get("A", "y"), "2");
    EXPECT_EQ(ini.Get("A", "z"), "3");
    EXPECT_EQ(ini.Get("B", "x"), "4");
    EXPECT_FALSE(ini.Get("B", "y").has_value());
    EXPECT_FALSE(ini.Get("C", "x").has_value());
    EXPECT_EQ(ini.Read("B", "y", "dflt"), "dflt");
}

TEST(IniReading, NamesIgnoreAsciiCase) {
    const IniFile ini = IniFile::Parse("[Melodrift]\nMojiCount=3\n");
    EXPECT_EQ(ini.Get("MELODRIFT", "mojicount"), "3");
    EXPECT_TRUE(ini.HasSection("melodrift"));
    EXPECT_FALSE(ini.HasSection("Pitchs"));
}

TEST(IniReading, KeepsShiftJisValuesAsBytes) {
    // 「ソ」 is 83 5C and 「表」 95 5C: trail bytes that are ASCII backslashes.
    const std::string lyric = "\x83\x5C\x95\x5C";
    const IniFile ini = IniFile::Parse("[0]\r\nLyric=" + lyric + "\r\n");
    EXPECT_EQ(ini.Get("0", "Lyric"), lyric);
}

TEST(IniWriting, WritesKeyEqualsValueWithCrLfAndNoBlanks) {
    IniFile ini;
    ini.Write("Melodrift", "Melodrift", "1");
    ini.Write("Melodrift", "Version", "2.00");
    ini.Write("0", "Time", "0");
    const std::string bytes = ini.ToBytes();
    EXPECT_NE(bytes.find("[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\n"), std::string::npos)
        << bytes;
    EXPECT_NE(bytes.find("[0]\r\nTime=0\r\n"), std::string::npos) << bytes;
    EXPECT_LT(bytes.find("[Melodrift]"), bytes.find("[0]"));
    // No bare LF anywhere.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(bytes[i - 1], '\r');
        }
    }
}

TEST(IniWriting, UpdatesInPlaceKeepingForeignSectionsAndOrder) {
    IniFile ini =
        IniFile::Parse("[Other]\nkeep=yes\n[Melodrift]\nVersion = 1.00\nExtra=x\n[Tail]\nz=9\n");
    ini.Write("Melodrift", "Version", "2.00");
    ini.Write("Melodrift", "MojiCount", "2");
    ini.Write("New", "a", "b");
    const std::string bytes = ini.ToBytes();
    const IniFile again = IniFile::Parse(bytes);
    EXPECT_EQ(again.Get("Other", "keep"), "yes");
    EXPECT_EQ(again.Get("Melodrift", "Version"), "2.00");
    EXPECT_EQ(again.Get("Melodrift", "Extra"), "x");
    EXPECT_EQ(again.Get("Melodrift", "MojiCount"), "2");
    EXPECT_EQ(again.Get("Tail", "z"), "9");
    EXPECT_EQ(again.Get("New", "a"), "b");
    // Sections keep the file's order, new ones follow; a new key closes its section.
    EXPECT_LT(bytes.find("[Other]"), bytes.find("[Melodrift]"));
    EXPECT_LT(bytes.find("[Melodrift]"), bytes.find("[Tail]"));
    EXPECT_LT(bytes.find("[Tail]"), bytes.find("[New]"));
    EXPECT_LT(bytes.find("Version=2.00"), bytes.find("Extra=x"));
    EXPECT_LT(bytes.find("Extra=x"), bytes.find("MojiCount=2"));
    EXPECT_LT(bytes.find("MojiCount=2"), bytes.find("[Tail]"));
}

TEST(IniWriting, ALineBreakInAValueCannotStartANewEntry) {
    IniFile ini;
    ini.Write("S", "k", "a\r\n[Evil]\nx=1");
    const IniFile again = IniFile::Parse(ini.ToBytes());
    EXPECT_FALSE(again.HasSection("Evil"));
    EXPECT_EQ(again.Get("S", "k"), "a  [Evil] x=1");
}

}  // namespace
}  // namespace melodrift
