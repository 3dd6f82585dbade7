#include "voicebank/Voicebank.h"

#include "Golden.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace melodrift {
namespace {

using testing::Sjis;
using testing::Snapshot;
using testing::TempFolder;
using testing::WriteBytes;

std::string Sep() {
    return std::string(1, static_cast<char>(std::filesystem::path::preferred_separator));
}

// Every lookup behaviour holds for the index and for the plain scan alike.
class OtoLookupTest : public ::testing::TestWithParam<OtoLookup> {};

INSTANTIATE_TEST_SUITE_P(BothLookups, OtoLookupTest,
                         ::testing::Values(OtoLookup::Indexed, OtoLookup::LinearScan),
                         [](const auto& param) {
                             return std::string(param.param == OtoLookup::Indexed ? "Indexed"
                                                                                  : "LinearScan");
                         });

TEST_P(OtoLookupTest, AnEntryWithoutAliasIsFoundByItsFileNameAndTakesThatName) {
    Voicebank bank(GetParam());
    bank.AddOtoLine("a.wav=,10,20,-30,40,5");
    ASSERT_EQ(bank.OtoCount(), 1);
    EXPECT_EQ(bank.OtoList()[0].Alias, "");
    EXPECT_EQ(bank.FindOtoIndex("a"), 0);
    EXPECT_EQ(bank.OtoList()[0].Alias, "a");
    const OtoEntry found = bank.GetOto("a");
    EXPECT_EQ(found.FileName, "a.wav");
    EXPECT_DOUBLE_EQ(found.Offset, 10);
    EXPECT_DOUBLE_EQ(found.Consonant, 20);
    EXPECT_DOUBLE_EQ(found.Cutoff, -30);
    EXPECT_DOUBLE_EQ(found.PreUtterance, 40);
    EXPECT_DOUBLE_EQ(found.Overlap, 5);
    EXPECT_EQ(bank.FindOtoIndex("b"), -1);
    EXPECT_EQ(bank.GetOto("b").FileName, "");
}

TEST_P(OtoLookupTest, AnAliasTheFileHoldsIsNeverReplacedByALookupByFileName) {
    Voicebank bank(GetParam());
    bank.AddOtoLine(std::string("a.wav=あ,0,0,0,0,0"));
    EXPECT_EQ(bank.FindOtoIndex("a"), 0);
    EXPECT_EQ(bank.OtoList()[0].Alias, std::string("あ"));
    EXPECT_EQ(bank.FindOtoIndex(std::string("あ")), 0);
}

TEST_P(OtoLookupTest, RandomEditsAnswerLikeAPlainScanOfTheTable) {
    // The reference: a linear scan written here, independent of the class.
    std::mt19937 random(12345);
    Voicebank bank(GetParam());
    std::vector<OtoEntry> model;
    auto stem = [](const std::string& file) { return file.substr(0, file.rfind('.')); };
    for (int step = 0; step < 3000; ++step) {
        const int action = static_cast<int>(random() % 10);
        const std::string name = "s" + std::to_string(random() % 40);
        if (action < 4) {
            const std::string alias =
                (random() % 3 == 0) ? "" : "s" + std::to_string(random() % 40);
            const std::string line =
                name + ".wav=" + alias + "," + std::to_string(step) + ",0,0,0,0";
            bank.AddOtoLine(line);
            OtoEntry entry;
            entry.FileName = name + ".wav";
            entry.Alias = alias;
            entry.FullPath = Sep() + entry.FileName;
            model.push_back(entry);
        } else if (action < 5) {
            const std::string path = Sep() + name + ".wav";
            bank.RemoveOtoByPath(path);
            std::erase_if(model, [&](const OtoEntry& g) { return g.FullPath == path; });
        } else {
            int expected = -1;
            for (std::size_t i = 0; i < model.size() && expected < 0; ++i)
                if (model[i].Alias == name) expected = static_cast<int>(i);
            for (std::size_t i = 0; i < model.size() && expected < 0; ++i) {
                if (stem(model[i].FileName) == name) {
                    expected = static_cast<int>(i);
                    if (model[i].Alias.empty()) model[i].Alias = name;
                }
            }
            ASSERT_EQ(bank.FindOtoIndex(name), expected) << "step " << step;
        }
        ASSERT_EQ(bank.OtoCount(), static_cast<int>(model.size()));
    }
    for (std::size_t i = 0; i < model.size(); ++i)
        EXPECT_EQ(bank.OtoList()[i].Alias, model[i].Alias);
}

TEST(OtoLine, LinesWithoutExactlySevenFieldsAreSkipped) {
    Voicebank bank;
    bank.AddOtoLine("a.wav=a,b,0,0,0,0,0");  // alias with a comma
    bank.AddOtoLine("a.wav=a,0,0,0,0");      // six fields
    bank.AddOtoLine("a.wav=a=b,0,0,0,0,0");  // alias with a further "="
    bank.AddOtoLine("");
    bank.AddOtoLine("; comment");
    EXPECT_EQ(bank.OtoCount(), 0);
}

TEST(OtoLine, NumbersThatDoNotParseCountAsZero) {
    Voicebank bank;
    bank.AddOtoLine("x.wav=ka,1.5,abc,0,2,3");
    ASSERT_EQ(bank.OtoCount(), 1);
    EXPECT_DOUBLE_EQ(bank.OtoList()[0].Offset, 1.5);
    EXPECT_DOUBLE_EQ(bank.OtoList()[0].Consonant, 0);
    EXPECT_DOUBLE_EQ(bank.OtoList()[0].PreUtterance, 2);
    // A lone point passes the number check without a digit and a huge
    // exponent overflows: neither may stop a load or reach the file as inf.
    bank.AddOtoLine("y.wav=ki, . ,1e999,-1e999, 12.5 ,-");
    ASSERT_EQ(bank.OtoCount(), 2);
    const OtoEntry& y = bank.OtoList()[1];
    EXPECT_EQ(y.Offset, 0);
    EXPECT_EQ(y.Consonant, 0);
    EXPECT_EQ(y.Cutoff, 0);
    EXPECT_EQ(y.PreUtterance, 12.5);
    EXPECT_EQ(y.Overlap, 0);
}

TEST(OtoLine, FullPathJoinsTheVoiceFolderAndTheFileName) {
    Voicebank bank;
    TempFolder folder;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine(std::string("声/か.wav=か,0,0,0,0,0"));
    EXPECT_EQ(bank.OtoList()[0].FullPath,
              PathToUtf8(folder.path()) + Sep() + std::string("声/か.wav"));
    EXPECT_EQ(bank.FullPathFor(std::string("声/か.wav")), bank.OtoList()[0].FullPath);
}

TEST(FileStem, DropsTheExtensionAfterTheLastDelimiterOnly) {
    EXPECT_EQ(FileStem("a.wav"), "a");
    EXPECT_EQ(FileStem("a.b.wav"), "a.b");
    EXPECT_EQ(FileStem("dir.x/a"), "dir.x/a");
    EXPECT_EQ(FileStem("noext"), "noext");
    // ソ ends in the byte 0x5C ("\"), which is not a delimiter inside it.
    EXPECT_EQ(FileStem(std::string("a.ソ")), "a");
}

TEST(NoteNames, ReadTheKeyAndOneDigitOctave) {
    EXPECT_EQ(NoteNameToNumber("C"), 0);
    EXPECT_EQ(NoteNameToNumber(""), 0);
    EXPECT_EQ(NoteNameToNumber("C4"), 60);
    EXPECT_EQ(NoteNameToNumber("C#4"), 61);
    EXPECT_EQ(NoteNameToNumber("A4"), 69);
    EXPECT_EQ(NoteNameToNumber("C1"), 24);
    EXPECT_EQ(NoteNameToNumber("B7"), 107);
    EXPECT_EQ(NoteNameToNumber("G#5"), 80);
    EXPECT_EQ(NoteNameToNumber("Db4"), 62);  // flats are not read
    EXPECT_EQ(NoteNameToNumber("a4"), 60);   // lower case adds nothing
    EXPECT_EQ(NoteNameToNumber("CX"), 0);    // octave −1
    EXPECT_EQ(NoteNameToNumber("C10"), 12);  // only the last digit is the octave
}

class PrefixMap : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBytes(folder.path() / "oto.ini",
                   Sjis("ka.wav=か,0,0,0,0,0\r\nka_up.wav=か↑,0,0,0,0,0\r\n"));
        WriteBytes(folder.path() / "prefix.map",
                   Sjis("C4\t\t↑\r\nD4\tp_\t_s\r\nB0\tlow\t\r\nC8\thigh\t\r\nE4\r\nD4\tq_\r\n"));
        bank.LoadVoicebank(PathToUtf8(folder.path()));
    }
    TempFolder folder;
    Voicebank bank;
};

TEST_F(PrefixMap, ALookupTriesTheDecoratedAliasFirst) {
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 60).Alias, std::string("か↑"));
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 61).Alias, std::string("か"));
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("き"), 60).Alias, "");
    EXPECT_EQ(bank.StripPrefixSuffix(std::string("か↑"), 60), std::string("か"));
    EXPECT_EQ(bank.StripPrefixSuffix(std::string("か"), 60),
              std::string("か"));  // no suffix: unchanged
}

TEST_F(PrefixMap, WithoutTheDecoratedEntryTheBareAliasIsFound) {
    bank.RemoveOtoByPath(bank.OtoList()[1].FullPath);
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 60).FileName, "ka.wav");
}

TEST_F(PrefixMap, RowsOutsideC1ToB7AndShortLinesStayEmpty) {
    for (int n = 0; n < kPrefixRows; ++n) {
        const PrefixRow& row = bank.PrefixTable()[n];
        if (n == 60) {
            EXPECT_EQ(row.Prefix, "");
            EXPECT_EQ(row.Suffix, std::string("↑"));
        } else if (n == 62) {
            // A later line overwrites the prefix; the suffix only with a third field.
            EXPECT_EQ(row.Prefix, "q_");
            EXPECT_EQ(row.Suffix, "_s");
        } else {
            EXPECT_TRUE(row.Prefix.empty() && row.Suffix.empty()) << n;
        }
    }
    EXPECT_EQ(bank.StripPrefixSuffix("q_x_s", 62), "x");
    EXPECT_EQ(bank.StripPrefixSuffix("q__s", 62), "");
    EXPECT_EQ(bank.StripPrefixSuffix("q_s", 62), "");  // prefix and suffix overlap
    EXPECT_EQ(bank.StripPrefixSuffix(std::string("か↑"), 200), std::string("か↑"));
    EXPECT_EQ(bank.StripPrefixSuffix(std::string("か↑"), -1), std::string("か↑"));
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 200).Alias, std::string("か"));
}

TEST(PrefixMapSuffix, ATrailByteIsNotASuffixCharacter) {
    TempFolder folder;
    WriteBytes(folder.path() / "prefix.map", "C4\t\t\\\r\n");
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(bank.StripPrefixSuffix(std::string("ソ"), 60), std::string("ソ"));
    EXPECT_EQ(bank.StripPrefixSuffix("a\\", 60), "a");
}

TEST(Subbanks, ATonesRangeChoosesThePrefixAndSuffixInsteadOfThePrefixMap) {
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini",
               Sjis("ka_l.wav=か_L,0,0,0,0,0\r\nka_h.wav=か_H,0,0,0,0,0\r\n"));
    WriteBytes(folder.path() / "prefix.map", "C4\t\t_X\r\n");
    // As OpenUtau writes it (a mark, LF), with a flow list and quotes of both kinds.
    WriteBytes(
        folder.path() / "character.yaml",
        "\xEF\xBB\xBFname: test\nsubbanks:\n- color: \"\"\n  prefix: \"\"\n  suffix: _L\n  "
        "tone_ranges:\n"
        "  - C1-B3\n- color: ''\n  prefix: ''\n  suffix: '_H'  # high\n  tone_ranges: [C4-B7, C2]\n"
        "voice: someone\n");
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 59).Alias, std::string("か_L"));   // B3
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 60).Alias, std::string("か_H"));   // C4
    EXPECT_EQ(bank.GetOtoWithPrefix(std::string("か"), 107).Alias, std::string("か_H"));  // B7
    EXPECT_EQ(bank.PrefixTable()[36].Suffix, "_L");  // C2: the first subbank that has it
    EXPECT_EQ(bank.PrefixTable()[23].Suffix, "");    // below C1: never mapped
    EXPECT_EQ(bank.StripPrefixSuffix(std::string("か_H"), 72), std::string("か"));

    // No subbanks (an empty list): the prefix map stands.
    WriteBytes(folder.path() / "character.yaml", "subbanks: []\n");
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(bank.PrefixTable()[60].Suffix, "_X");
}

TEST(WriteOtoIni, ANewFileMatchesItsReference) {
    // The voice source's first oto.ini: CP932, whole ms rounded half up, CR LF.
    TempFolder folder;
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("か.wav=か,0,119.6,-80.2,59.5,20");
    bank.AddOtoLine("d.wav=d,12.5,12.4,-12.5,-12.6,0.49999");
    ASSERT_TRUE(bank.WriteOtoIni());
    EXPECT_TRUE(testing::MatchesGolden("new_oto.ini", ReadFileBytes(folder.path() / "oto.ini")));
}

TEST(WriteOtoIni, WholeNumbersRoundedHalfUpWithCrLf) {
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini", "b.wav=b,0,100,-300,60,20\r\n");
    WriteBytes(folder.path() / "sub" / "oto.ini", "c.wav=c,1,2,3,4,5\r\n");
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    ASSERT_EQ(bank.OtoCount(), 2);
    bank.AddOtoLine("a.wav=a,0,119.6,-80.2,59.5,20");
    bank.AddOtoLine("d.wav=d,12.5,12.4,-12.5,-12.6,0.49999");
    ASSERT_TRUE(bank.WriteOtoIni());
    // Subfolder entries stay in their own file; the voice folder's file
    // holds its own entries and the added ones.
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"),
              "b.wav=b,0,100,-300,60,20\r\n"
              "a.wav=a,0,120,-80,60,20\r\n"
              "d.wav=d,13,12,-12,-13,0\r\n");
    EXPECT_EQ(ReadFileBytes(folder.path() / "sub" / "oto.ini"), "c.wav=c,1,2,3,4,5\r\n");
}

TEST(WriteOtoIni, LinesThatAreNotEntriesAreWrittenBackUnchanged) {
    TempFolder folder;
    // A note, an alias holding a comma (eight fields) and a six-field line:
    // none is an entry, all are the user's and must survive a rewrite.
    WriteBytes(folder.path() / "oto.ini", Sjis("; 録音 2026\r\nb.wav=b,0,100,-300,60,20\r\n"
                                               "c.wav=c,d,0,0,0,0,0\r\n\r\ne.wav=e,0,0,0,0\r\n"));
    WriteBytes(folder.path() / "sub" / "oto.ini", "# sub note\r\n");
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    ASSERT_EQ(bank.OtoCount(), 1);
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    ASSERT_TRUE(bank.WriteOtoIni());
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"),
              Sjis("b.wav=b,0,100,-300,60,20\r\na.wav=a,0,0,0,0,0\r\n; 録音 2026\r\n"
                   "c.wav=c,d,0,0,0,0,0\r\ne.wav=e,0,0,0,0\r\n"));
    bank.ClearVoicebank();
    EXPECT_EQ(bank.OtoIniText(), "");
}

TEST(WriteOtoIni, NothingIsWrittenWithoutAVoiceFolder) {
    TempFolder folder;
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()) + Sep() + "missing");
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    EXPECT_FALSE(bank.WriteOtoIni());
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
    Voicebank empty;
    empty.AddOtoLine("a.wav=a,0,0,0,0,0");
    EXPECT_FALSE(empty.WriteOtoIni());
}

TEST(WriteOtoIni, AFailedReplaceLeavesTheOldFileWhole) {
    TempFolder folder;
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    // A non-empty folder where oto.ini belongs cannot be replaced.
    WriteBytes(folder.path() / "oto.ini" / "keep.txt", "keep");
    EXPECT_ANY_THROW((void)bank.WriteOtoIni());
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini" / "keep.txt"), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1)
        << "temporary file left";
}

TEST(WriteOtoIni, AnOtoIniThatCannotBeReplacedKeepsItsBytes) {
#ifdef __linux__
    TempFolder folder;
    const std::string original = Sjis("a.wav=あ,1.25,2,3,4,5\r\n; the user's comment\r\n");
    WriteBytes(folder.path() / "oto.ini", original);
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("b.wav=b,0,0,0,0,0");
    // Make the old file impossible to replace: immutable (needs a file system
    // and rights that allow it), else a read-only folder (not for root).
    const std::string file = (folder.path() / "oto.ini").string();
    bool locked = std::system(("chattr +i '" + file + "' 2>/dev/null").c_str()) == 0;
    bool readOnlyFolder = false;
    if (!locked && ::geteuid() != 0) {
        std::filesystem::permissions(
            folder.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        readOnlyFolder = locked = true;
    }
    if (!locked) GTEST_SKIP() << "no way to lock a file here";
    EXPECT_ANY_THROW((void)bank.WriteOtoIni());
    if (readOnlyFolder)
        std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all);
    else
        (void)std::system(("chattr -i '" + file + "'").c_str());
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1)
        << "temporary file left";
#else
    GTEST_SKIP() << "locking a file is tested on Linux";
#endif
}

TEST(WriteOtoIni, AnOtoIniThatCouldNotBeReadIsNeverReplaced) {
    // The voice folder's oto.ini is there, but the load cannot read it: its
    // entries are not in the table, so writing the table would lose them.
#ifdef _WIN32
    GTEST_SKIP() << "no unreadable regular file, pipe or symbolic link to make on Windows";
#else
    TempFolder folder;
    const auto otoIni = folder.path() / "oto.ini";
#ifdef __linux__
    std::filesystem::create_symlink("/proc/self/mem",
                                    otoIni);  // a regular file whose read fails, also for root
#else
    ASSERT_EQ(::mkfifo(otoIni.c_str(), 0600), 0);
#endif
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(bank.OtoCount(), 0);
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    EXPECT_THROW((void)bank.WriteOtoIni(), std::system_error);
    EXPECT_TRUE(std::filesystem::is_symlink(otoIni) || std::filesystem::is_fifo(otoIni));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1)
        << "file written";

    // A pipe in its place is not read either.
    std::filesystem::remove(otoIni);
    ASSERT_EQ(::mkfifo(otoIni.c_str(), 0600), 0);
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    EXPECT_THROW((void)bank.WriteOtoIni(), std::system_error);
    EXPECT_TRUE(std::filesystem::is_fifo(otoIni));

    // A link to nothing is no oto.ini: a new one is written.
    std::filesystem::remove(otoIni);
    std::filesystem::create_symlink(folder.path() / "gone", otoIni);
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    ASSERT_TRUE(bank.WriteOtoIni());
    EXPECT_EQ(ReadFileBytes(otoIni), "a.wav=a,0,0,0,0,0\r\n");
#endif
}

TEST(LoadVoicebank, OwnEntriesComeBeforeSubfolderEntriesAndAllShareTheRootPath) {
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini", Sjis("a.wav=あ,1,2,3,4,5\r\n"));
    WriteBytes(folder.path() / "C4" / "oto.ini",
               Sjis("ka.wav=か↑,0,0,0,0,0\nki.wav=き↑,0,0,0,0,0"));
    WriteBytes(folder.path() / "C4" / "deep" / "oto.ini", Sjis("ku.wav=く↑,0,0,0,0,0\r"));
    WriteBytes(folder.path() / ".hidden" / "oto.ini", "h.wav=h,0,0,0,0,0\r\n");
    Voicebank bank;
    int ticks = 0;
    bank.SetProgress([&] { ++ticks; });
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    ASSERT_EQ(bank.OtoCount(), 5);
    EXPECT_EQ(bank.OtoList()[0].Alias, std::string("あ"));
    EXPECT_EQ(bank.VoiceRoot(), PathToUtf8(folder.path()));
    // Within C4, its own file comes before its subfolder.
    std::vector<std::string> order;
    for (const OtoEntry& g : bank.OtoList()) order.push_back(g.FileName);
    auto at = [&](const std::string& name) {
        return std::find(order.begin(), order.end(), name) - order.begin();
    };
    EXPECT_LT(at("ka.wav"), at("ki.wav"));
    EXPECT_LT(at("ki.wav"), at("ku.wav"));
    EXPECT_EQ(bank.GetOto("h").FullPath, PathToUtf8(folder.path()) + Sep() + "h.wav");
    // One tick per listed entry: 3 at the root (oto.ini, C4, .hidden), 2 in
    // C4 (oto.ini, deep), 1 in deep, 1 in .hidden.
    EXPECT_EQ(ticks, 7);

    bank.LoadVoicebank(PathToUtf8(folder.path()) + Sep() + "nothing-here");
    EXPECT_EQ(bank.OtoCount(), 0);
    EXPECT_TRUE(bank.IsEmpty());
}

TEST(LoadVoicebank, DamagedFilesLoadWhatTheyCanAndWriteNothing) {
    TempFolder folder;
    const auto& root = folder.path();
    std::string damaged("nul.wav=n\0l,0,0,0,0,0\r\n", 24);
    damaged += std::string("bad.wav=\x82\xFF\x81,1,0,0,0,0\r\n");  // invalid Shift-JIS
    damaged += std::string(60000, 'x') + "\r\n";                   // long lines, within the limit
    damaged += "long.wav=" + std::string(60000, 'y') + ",2,0,0,0,0\r\n";
    damaged += "\x82";  // a broken last character
    WriteBytes(root / "oto.ini", std::string_view(damaged.data(), damaged.size()));
    WriteBytes(root / "bom" / "oto.ini",
               "\xEF\xBB\xBF"
               "u.wav=\xE3\x81\x86,0,0,0,0,0\r\n");  // UTF-8 with BOM
    WriteBytes(root / "bom" / "prefix.map",
               "\xEF\xBB\xBF"
               "B7\tx\r\n");
    // UTF-8 with a character CP932 lacks (한): kept as bytes, not turned into "?".
    WriteBytes(root / "bom2" / "oto.ini",
               "\xEF\xBB\xBF"
               "k.wav=\xED\x95\x9C,0,0,0,0,0\r\n");
    std::filesystem::create_directories(root / "dironly" / "oto.ini");  // a folder named oto.ini
    const auto before = Snapshot(root);

    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(Snapshot(root), before);
    ASSERT_EQ(bank.OtoCount(), 5);
    EXPECT_EQ(bank.GetOto("\xED\x95\x9C").FileName, "k.wav");
    EXPECT_EQ(bank.OtoList()[0].Alias, std::string("n\0l", 3));
    EXPECT_EQ(bank.OtoList()[1].Alias, Cp932ToUtf8("\x82\xFF\x81"));  // shown as U+FFFD
    EXPECT_EQ(bank.OtoList()[2].Alias.size(), 60000u);
    EXPECT_EQ(bank.GetOto(std::string("う")).FileName, "u.wav");

    // The prefix map of a subfolder is not the voicebank's; read directly,
    // its BOM must not turn B7 into another key.
    bank.LoadPrefixMap(PathToUtf8(folder.path()) + Sep() + "bom");
    EXPECT_EQ(bank.PrefixTable()[107].Prefix, "x");
}

TEST(LoadVoicebank, ALineLongerThanAnyHostWritesRefusesTheLoadByName) {
    TempFolder folder;
    const auto& root = folder.path();
    WriteBytes(root / "oto.ini", "a.wav=a,0,0,0,0,0\r\n");
    const std::string huge = "b.wav=" + std::string(kMaxLineBytes, 'b') + ",0,0,0,0,0\r\n";
    WriteBytes(root / "sub" / "oto.ini", "c.wav=c,0,0,0,0,0\r\n" + huge);
    const auto before = Snapshot(root);
    Voicebank bank;
    try {
        bank.LoadVoicebank(PathToUtf8(root));
        ADD_FAILURE() << "no error";
    } catch (const LineTooLong& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(PathToUtf8(root / "sub" / "oto.ini") +
                               ": line 2 is longer than 65536 bytes"),
                  std::string::npos)
            << message;
    }
    // Nothing half-loaded stays, and nothing can be written from it.
    EXPECT_EQ(bank.OtoCount(), 0);
    EXPECT_FALSE(bank.WriteOtoIni());
    EXPECT_EQ(Snapshot(root), before);

    WriteBytes(root / "prefix.map", "C4\t" + std::string(kMaxLineBytes + 1, 'p') + "\r\n");
    std::filesystem::remove_all(root / "sub");
    EXPECT_THROW(bank.LoadVoicebank(PathToUtf8(root)), LineTooLong);

    // More lines than any bank's oto.ini files hold, CR LF counted once, are
    // refused by name before the table grows for them.
    std::filesystem::remove(root / "prefix.map");
    std::string crLf;
    for (std::size_t i = 0; i <= kMaxOtoLines; ++i) crLf += "\r\n";
    WriteBytes(root / "oto.ini", crLf);
    try {
        bank.LoadVoicebank(PathToUtf8(root));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("more than 250000 lines"), std::string::npos)
            << error.what();
    }
    WriteBytes(root / "oto.ini", crLf.substr(2));
    EXPECT_NO_THROW(bank.LoadVoicebank(PathToUtf8(root)));
}

TEST(LoadVoicebank, AFolderNamedOtoIniIsNamedWhenTheTableIsWritten) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path() / "oto.ini");
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    bank.AddOtoLine("a.wav=a,0,0,0,0,0");
    try {
        (void)bank.WriteOtoIni();
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::is_a_directory);
        EXPECT_NE(std::string(error.what()).find("oto.ini"), std::string::npos) << error.what();
    }
}

TEST(LoadVoicebank, LinkLoopsAndPipesDoNotHangTheWalk) {
#ifdef _WIN32
    GTEST_SKIP() << "no pipes in folders on Windows; symbolic links: Windows makes them only with "
                    "a privilege, and MinGW's std::filesystem makes none";
#else
    TempFolder folder;
    const auto& root = folder.path();
    WriteBytes(root / "a" / "oto.ini", "a.wav=a,0,0,0,0,0\r\n");
    std::filesystem::create_directory_symlink(root, root / "a" / "up");  // loop to the root
    std::filesystem::create_directory_symlink(root / "a", root / "a" / "self");
    std::filesystem::create_symlink(root / "gone", root / "dangling");
    ASSERT_EQ(::mkfifo((root / "oto.ini").c_str(), 0600), 0);  // would block a read
#ifdef __linux__
    // A regular file whose read fails, also for root.
    std::filesystem::create_directories(root / "a" / "sub");
    std::filesystem::create_symlink("/proc/self/mem", root / "a" / "sub" / "oto.ini");
#endif
    const auto before = Snapshot(root);

    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(bank.OtoCount(), 1);
    EXPECT_EQ(Snapshot(root), before);
#endif
}

TEST(LoadVoicebank, UnreadableFilesAndFoldersAreSkipped) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits: Windows has access control lists instead";
#else
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini", "a.wav=a,0,0,0,0,0\r\n");
    WriteBytes(folder.path() / "locked" / "oto.ini", "b.wav=b,0,0,0,0,0\r\n");
    WriteBytes(folder.path() / "sealed" / "oto.ini", "c.wav=c,0,0,0,0,0\r\n");
    std::filesystem::permissions(folder.path() / "locked", std::filesystem::perms::none);
    std::filesystem::permissions(folder.path() / "sealed" / "oto.ini",
                                 std::filesystem::perms::none);
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder.path()));
    std::filesystem::permissions(folder.path() / "locked", std::filesystem::perms::owner_all);
    EXPECT_EQ(bank.OtoCount(), 1);
#endif
}

TEST(VoicebankLink, ClearEmptiesAndLoadReadsTheFolder) {
    TempFolder folder;
    WriteBytes(folder.path() / "oto.ini", "a.wav=a,0,0,0,0,0\r\n");
    WriteBytes(folder.path() / "prefix.map", "C4\tp\r\n");
    Voicebank bank;
    VoicebankLink& link = bank;
    EXPECT_TRUE(link.IsEmpty());
    link.Load(PathToUtf8(folder.path()));
    EXPECT_FALSE(link.IsEmpty());
    link.Clear();
    EXPECT_TRUE(link.IsEmpty());
    EXPECT_EQ(bank.VoiceRoot(), "");
    EXPECT_EQ(bank.PrefixTable()[60].Prefix, "");
}

}  // namespace
}  // namespace melodrift
