// Voicebanks shaped like the ones in the wild: each is loaded, a typed lyric
// must find the bank's alias, and a rewrite (what voice correction does: add
// an entry, write oto.ini) must keep the file's encoding and every old line
// byte for byte.
#include "voicebank/AliasResolver.h"
#include "voicebank/Voicebank.h"

#include "TestFolder.h"
#include "system/FileNames.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

using testing::Sjis;
using testing::TempFolder;
using testing::WriteBytes;

// The lines of `bytes` without a leading mark (any line ends).
std::vector<std::string> LinesOf(std::string bytes) {
    if (bytes.starts_with(kUtf8Bom)) bytes.erase(0, kUtf8Bom.size());
    return SplitLines(bytes);
}

struct Bank {
    std::string name;
    std::string otoBytes;       // as the bank ships it
    std::string yaml;           // character.yaml, empty for none
    std::string lyric;          // typed (UTF-8)
    std::string alias;          // the alias it must find (UTF-8, as decoded)
    std::string newEntry;       // added by voice correction (UTF-8)
    std::string newEntryBytes;  // how the rewritten file holds it
    bool bom = false;           // the rewritten file starts with the mark
};

class WildBankTest : public ::testing::TestWithParam<Bank> {};

TEST_P(WildBankTest, LyricFindsTheAliasAndARewriteKeepsTheEncodingAndOldLines) {
    const Bank& b = GetParam();
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini", b.otoBytes);
    if (!b.yaml.empty()) WriteBytes(folder.path() / "character.yaml", b.yaml);
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    ASSERT_GT(bank.OtoCount(), 0);
    EXPECT_EQ(bank.GetOto(b.lyric).Alias, b.alias);

    bank.AddOtoLine(b.newEntry);
    ASSERT_TRUE(bank.WriteOtoIni());
    const std::string written = ReadFileBytes(folder.path() / "oto.ini");
    EXPECT_EQ(written.starts_with(kUtf8Bom), b.bom);
    const std::vector<std::string> oldLines = LinesOf(b.otoBytes);
    const std::vector<std::string> newLines = LinesOf(written);
    for (const std::string& line : oldLines)
        EXPECT_NE(std::find(newLines.begin(), newLines.end(), line), newLines.end())
            << "lost: " << line;
    EXPECT_NE(std::find(newLines.begin(), newLines.end(), b.newEntryBytes), newLines.end());
    EXPECT_EQ(newLines.size(), oldLines.size() + 1);

    // Read again, the file gives the same aliases.
    Voicebank again;
    again.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(again.GetOto(b.lyric).Alias, b.alias);
    EXPECT_EQ(again.OtoCount(), bank.OtoCount());
}

INSTANTIATE_TEST_SUITE_P(
    Banks, WildBankTest,
    ::testing::Values(Bank{"ShiftJisCrLf",
                           Sjis("a.wav=あ,10,20,-30,40,5\r\n- か.wav=- か,1,2,3,4,5\r\n"), "",
                           "- か", "- か", "v.wav=き,1,2,3,4,5", Sjis("v.wav=き,1,2,3,4,5")},
                      Bank{"Utf8DeclaredByCharacterYaml",
                           "a.wav=あ,10,20,-30,40,5\nき.wav=き,1,2,3,4,5\n",
                           "\xEF\xBB\xBF"
                           "name: test\ntext_file_encoding: utf-8\n",
                           "き", "き", "v.wav=你,1,2,3,4,5", "v.wav=你,1,2,3,4,5"},
                      Bank{"Utf8WithBomLf",
                           "\xEF\xBB\xBF"
                           "a.wav=あ,10,20,-30,40,5\nka.wav=か,1,2,3,4,5\n",
                           "", "か", "か", "v.wav=き,1,2,3,4,5", "v.wav=き,1,2,3,4,5", true},
                      Bank{"CharsetUtf8", "#Charset:UTF-8\r\na.wav=あ,10,20,-30,40,5\r\n", "", "あ",
                           "あ", "v.wav=中,1,2,3,4,5", "v.wav=中,1,2,3,4,5"},
                      Bank{"Utf8WithoutAnyDeclaration", "a.wav=あ,10,20,-30,40,5\n", "", "あ", "あ",
                           "v.wav=い,1,2,3,4,5", "v.wav=い,1,2,3,4,5"},
                      // The wave dash typed (U+301C) is held by a Shift-JIS bank as 0x8160,
                      // which reads back as U+FF5E; the lyric still finds it.
                      Bank{"WaveDashInShiftJis", Sjis("a.wav=ー～,10,20,-30,40,5\r\n"), "", "ー〜",
                           "ー～", "v.wav=ー〜,1,2,3,4,5", "v.wav=\x81\x5B\x81\x60,1,2,3,4,5"}),
    [](const auto& param) { return param.param.name; });

TEST(WildBank, AnEntryAShiftJisOtoIniCannotHoldIsRefusedAndTheFileKept) {
    TempFolder folder;
    const std::string original = Sjis("a.wav=あ,10,20,-30,40,5\r\n");
    WriteBytes(folder.path() / "oto.ini", original);
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("v.wav=你,1,2,3,4,5");
    EXPECT_THROW((void)bank.WriteOtoIni(), UnencodableText);
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"), original);
}

// Found by fuzzing: an entry whose bytes are not valid in the file's
// encoding decodes to substitution characters (U+001A from Shift-JIS, U+FFFD
// from UTF-8). A rewrite keeps such a line's own bytes instead of writing the
// substitutes, or refusing the whole rewrite.
TEST(WildBank, AnEntryThatDoesNotDecodeIsRewrittenAsItsOwnBytes) {
    const std::pair<std::string, std::string> banks[] = {
        {"ka.wav=\x82\xFF\x81,0,0,0,40,10\r\n" + Sjis("b.wav=か,0,0,0,40,10\r\n"),
         Sjis("v.wav=き,1,2,3,4,5\r\n")},
        {std::string("\xEF\xBB\xBF") +
             "ka.wav=\x82\xA9\xFF,0,0,0,40,10\r\nb.wav=か,0,0,0,40,10\r\n",
         "v.wav=き,1,2,3,4,5\r\n"}};
    for (const auto& [original, added] : banks) {
        TempFolder folder;
        WriteBytes(folder.path() / "oto.ini", original);
        Voicebank bank;
        bank.LoadVoicebank(PathToUtf8(folder.path()));
        ASSERT_EQ(bank.OtoCount(), 2);
        EXPECT_EQ(bank.GetOto("か").FileName, "b.wav");
        EXPECT_EQ(bank.OtoIniText(), original);
        bank.AddOtoLine("v.wav=き,1,2,3,4,5");
        ASSERT_TRUE(bank.WriteOtoIni());
        const std::string written = ReadFileBytes(folder.path() / "oto.ini");
        EXPECT_EQ(written, original + added);
        // Removing the recording's entries drops the kept line with them.
        bank.RemoveOtoByPath(bank.FullPathFor("ka.wav"));
        EXPECT_EQ(bank.OtoIniText().find("ka.wav"), std::string::npos);
    }
}

TEST(WildBank, ANewOtoIniIsShiftJisUnlessAnEntryNeedsUtf8) {
    TempFolder folder;
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("v.wav=か,1,2,3,4,5");
    ASSERT_TRUE(bank.WriteOtoIni());
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"), Sjis("v.wav=か,1,2,3,4,5\r\n"));

    TempFolder other;
    bank.LoadVoicebank(PathToUtf8(other.path()));
    bank.AddOtoLine("v.wav=か,1,2,3,4,5");
    bank.AddOtoLine("w.wav=你,1,2,3,4,5");
    ASSERT_TRUE(bank.WriteOtoIni());
    EXPECT_EQ(ReadFileBytes(other.path() / "oto.ini"),
              "\xEF\xBB\xBF"
              "v.wav=か,1,2,3,4,5\r\nw.wav=你,1,2,3,4,5\r\n");
}

// A character.yaml that says shift_jis decides for a file whose bytes would
// also read as UTF-8; prefix.map follows it too.
TEST(WildBank, CharacterYamlDecidesForOtoIniAndPrefixMap) {
    TempFolder folder;
    WriteBytes(folder.path() / "character.yaml", "text_file_encoding: shift_jis\n");
    WriteBytes(folder.path() / "oto.ini", Sjis("a.wav=あ,0,0,0,0,0\r\n"));
    WriteBytes(folder.path() / "prefix.map", Sjis("C4\t\t↑\r\n"));
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(bank.OtoEncoding(), TextEncoding::ShiftJis);
    EXPECT_EQ(bank.PrefixTable()[60].Suffix, "↑");
    EXPECT_EQ(DeclaredTextEncoding(folder.path()), TextEncoding::ShiftJis);
    WriteBytes(folder.path() / "character.yaml",
               "\xEF\xBB\xBF"
               "text_file_encoding: utf-8 # comment\r\n");
    EXPECT_EQ(DeclaredTextEncoding(folder.path()), TextEncoding::Utf8);
}

}  // namespace
}  // namespace melodrift

namespace melodrift {
namespace {

using testing::Sjis;
using testing::TempFolder;
using testing::WriteBytes;

// A Windows-made bank unpacked on a case-sensitive file system: "OTO.INI"
// and "Prefix.Map" are read, and the rewrite goes to "OTO.INI" instead of a
// second "oto.ini" holding only the new entries.
TEST(BankFileNames, NamesInAnotherCaseAreFoundReadAndRewritten) {
    TempFolder folder;
    const std::string original = Sjis("A.wav=あ,10,20,-30,40,5\r\n");
    WriteBytes(folder.path() / "OTO.INI", original);
    WriteBytes(folder.path() / "Prefix.Map", Sjis("C4\t\t↑\r\n"));
    WriteBytes(folder.path() / "Character.YAML", "text_file_encoding: shift_jis\n");
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    ASSERT_EQ(bank.OtoCount(), 1);
    EXPECT_EQ(bank.GetOto("あ").FileName, "A.wav");
    EXPECT_EQ(bank.PrefixTable()[60].Suffix, "↑");
    bank.AddOtoLine("v.wav=い,1,2,3,4,5");
    ASSERT_TRUE(bank.WriteOtoIni());
    std::error_code ec;
    if (!std::filesystem::equivalent(folder.path() / "OTO.INI", folder.path() / "oto.ini", ec)) {
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "oto.ini"));  // no second file
    }
    EXPECT_EQ(ReadFileBytes(folder.path() / "OTO.INI"), original + Sjis("v.wav=い,1,2,3,4,5\r\n"));
}

// macOS gives Unicode names back decomposed: a voice folder stored as NFD
// ("か" + U+3099) is the folder the host file names composed ("が").
TEST(BankFileNames, AFolderStoredDecomposedIsFoundByItsComposedName) {
    TempFolder folder;
    const std::filesystem::path stored = folder.path() / Utf8Path("か\xE3\x82\x99声");  // NFD
    WriteBytes(stored / "oto.ini", Sjis("ga.wav=が,10,20,-30,40,5\r\n"));
    ASSERT_EQ(FoldedFileName("か\xE3\x82\x99声"), FoldedFileName("が声"));
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()) + "/" + "が声");  // NFC, as a host writes it
    ASSERT_EQ(bank.OtoCount(), 1);
    EXPECT_EQ(bank.GetOto("が").FileName, "ga.wav");
    bank.AddOtoLine("v.wav=ぎ,1,2,3,4,5");
    ASSERT_TRUE(bank.WriteOtoIni());
    EXPECT_EQ(ReadFileBytes(stored / "oto.ini"),
              Sjis("ga.wav=が,10,20,-30,40,5\r\nv.wav=ぎ,1,2,3,4,5\r\n"));
    std::error_code ec;
    if (!std::filesystem::equivalent(stored, folder.path() / Utf8Path("が声"), ec)) {
        EXPECT_FALSE(std::filesystem::exists(folder.path() / Utf8Path("が声")));
    }
}

TEST(BankFileNames, TheExactNameComesFirstAndTheChoiceIsStable) {
    TempFolder folder;
    WriteBytes(folder.path() / "Oto.ini", "b.wav=b,0,0,0,0,0\r\n");
    WriteBytes(folder.path() / "OTO.INI", "a.wav=a,0,0,0,0,0\r\n");
    std::error_code ec;
    if (std::filesystem::equivalent(folder.path() / "Oto.ini", folder.path() / "OTO.INI", ec))
        GTEST_SKIP() << "the file system ignores case";
    EXPECT_EQ(FindInFolder(folder.path(), "oto.ini"),
              folder.path() / "OTO.INI");  // the smallest name
    WriteBytes(folder.path() / "oto.ini", "c.wav=c,0,0,0,0,0\r\n");
    EXPECT_EQ(FindInFolder(folder.path(), "oto.ini"), folder.path() / "oto.ini");
    EXPECT_EQ(FindInFolder(folder.path(), "none.ini"), std::nullopt);
}

}  // namespace
}  // namespace melodrift
