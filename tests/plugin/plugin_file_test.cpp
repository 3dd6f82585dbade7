#include "plugin/NoteList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Golden.h"
#include "TestSupport.h"
#include "system/Files.h"
#include "text/Text.h"

namespace melodrift {
namespace {

using testing::FakeVoicebank;
using testing::MatchesGolden;
using testing::RecordingPrompts;
using testing::TempFolder;

const std::string kA = "\x82\xA0";              // あ
const std::string kKa = "\x82\xA9";             // か
const std::string kOnGen = "\x89\xB9\x8C\xB9";  // 音源

// A plug-in file as UTAU writes it: version first, CR LF, Shift-JIS bytes.
const std::string kUtauFile =
    "[#VERSION]\r\nUST Version1.2\r\n"
    "[#SETTING]\r\nTempo=140.00\r\nTracks=1\r\nProjectName=" +
    kOnGen +
    "\r\n"
    "VoiceDir=C:\\voice\\" +
    kOnGen +
    "=2\r\nCacheDir=C:\\cache\r\nMode2=True\r\n"
    "[#PREV]\r\nLength=480\r\nLyric=" +
    kKa +
    "\r\nNoteNum=60\r\nPreUtterance=\r\n"
    "[#0000]\r\nLength=240\r\nLyric=" +
    kA +
    "\r\nNoteNum=62\r\nPBS=-40;0\r\n"
    "[#0001]\r\nLength=480\r\nLyric=R\r\nNoteNum=60\r\n"
    "[#NEXT]\r\nLength=480\r\nLyric=" +
    kA + "\r\nNoteNum=60\r\n";

// As OpenUtau writes it: LF, no version section.
const std::string kOpenUtauFile =
    "[#SETTING]\nTempo=95.5\nTracks=1\nVoiceDir=/home/u/voice\nCacheDir=/tmp/c\n"
    "[#PREV]\nLength=480\nLyric=a\nNoteNum=60\n"
    "[#0000]\nLength=480\nLyric=a\nNoteNum=60\n";

std::string NoteText(const std::string& length, const std::string& lyric) {
    return "[#INSERT]\r\nLength=" + length + "\r\nNoteNum=0\r\nLyric=" + lyric +
           "\r\nPreUtterance=0\r\nVoiceOverlap=0\r\nIntensity=100\r\nModuration=0\r\nStartPoint="
           "0\r\n";
}

class PluginFileTest : public ::testing::Test {
  protected:
    std::filesystem::path Write(const std::string& bytes) {
        return folder.Write("plugin.tmp", bytes);
    }
    int Load(const std::string& bytes) { return notes.LoadFromPluginFile(Write(bytes), prompts); }

    TempFolder folder;
    RecordingPrompts prompts;
    FakeVoicebank voicebank;
    NoteList notes{&voicebank};
};

TEST_F(PluginFileTest, CreationEmptiesTheVoicebank) {
    EXPECT_EQ(voicebank.clears, 1);
    EXPECT_EQ(notes.Tempo, 120.0);
    EXPECT_EQ(notes.LoadedTempo, 0.0);
    EXPECT_EQ(notes.SlotCount(), 0);
}

TEST_F(PluginFileTest, AMissingFileWarnsAndLeavesNoSlots) {
    EXPECT_EQ(notes.LoadFromPluginFile(folder.path() / "absent.tmp", prompts), 0);
    EXPECT_EQ(notes.LoadFromPluginFile({}, prompts), 0);
    EXPECT_EQ(notes.LoadFromPluginFile(folder.path(), prompts), 0);  // a folder is no file
    EXPECT_EQ(prompts.warnings, (std::vector<std::string>(3, "データがありません。")));
    EXPECT_EQ(notes.SlotCount(), 0);
    EXPECT_THROW(notes.InsertNote(0), std::runtime_error);
    EXPECT_THROW(notes.SaveToPluginFile(), std::runtime_error);
    EXPECT_EQ(notes.GetNote(1), nullptr);
}

TEST_F(PluginFileTest, UtauFileLoadsItsSettingsAfterTheVersionSection) {
    EXPECT_EQ(Load(kUtauFile), 2);
    // C:\voice\音源=2 does not exist here: said, without the "?" advice.
    EXPECT_EQ(prompts.warnings, std::vector<std::string>{std::string(kVoiceFolderMissingMessage) +
                                                         "C:\\voice\\音源=2"});
    EXPECT_TRUE(notes.VoiceFolderMissing);
    EXPECT_EQ(notes.Tempo, 140.0);
    EXPECT_EQ(notes.LoadedTempo, 140.0);
    // Multi-byte folder names and further "=" signs survive whole.
    EXPECT_EQ(notes.VoiceDir, "C:\\voice\\音源=2");  // decoded from CP932
    EXPECT_EQ(notes.Encoding, TextEncoding::ShiftJis);
    EXPECT_EQ(voicebank.loads, std::vector<std::string>{notes.VoiceDir});
    // Of the host's notes only the selected ones' lyrics and lengths are
    // read; they are no notes of the list.
    ASSERT_EQ(notes.SentNotes.size(), 2u);
    EXPECT_EQ(notes.SentNotes[0].Section, "#0000");
    EXPECT_EQ(notes.SentNotes[0].Lyric, "あ");
    EXPECT_EQ(notes.SentNotes[1].Lyric, "R");
    EXPECT_EQ(notes.SelectionTicks(), 720.0);
    EXPECT_TRUE(notes.HasNextNote);
    EXPECT_EQ(notes.Count(), 0);
    EXPECT_EQ(notes.SlotCount(), 2);
    EXPECT_EQ(notes.GetNote(0), nullptr);
    EXPECT_EQ(notes.GetNote(1), nullptr);
}

TEST_F(PluginFileTest, OpenUtauFileLoads) {
    EXPECT_EQ(Load(kOpenUtauFile), 2);
    EXPECT_EQ(notes.Tempo, 95.5);
    EXPECT_EQ(notes.VoiceDir, "/home/u/voice");
    EXPECT_EQ(notes.MsToTicks(1000), 1000 * 95.5 / 125);
    EXPECT_EQ(notes.SentNotes.size(), 1u);
    EXPECT_FALSE(notes.HasNextNote);
    // Some locales write the tempo with a decimal comma.
    EXPECT_EQ(Load("[#SETTING]\nTempo=120,5\n"), 2);
    EXPECT_EQ(notes.Tempo, 120.5);
}

TEST_F(PluginFileTest, AVoiceFolderThatDoesNotExistIsNamedWithTheHostsLostCharacters) {
    // OpenUtau writes a Shift-JIS plug-in file: "é" of "José" became "?".
    EXPECT_EQ(Load("[#SETTING]\nVoiceDir=" + PathToUtf8(folder.path()) + "/Jos?/bank\n"), 2);
    EXPECT_TRUE(notes.VoiceFolderMissing);
    ASSERT_EQ(prompts.warnings.size(), 1u);
    EXPECT_EQ(prompts.warnings[0], std::string(kVoiceFolderMissingMessage) +
                                       PathToUtf8(folder.path()) + "/Jos?/bank\n" +
                                       std::string(kHostLostCharactersMessage));
    EXPECT_NE(prompts.warnings[0].find("encoding=utf-8"), std::string::npos);
    // A folder that exists, and no VoiceDir at all, are not warned about.
    prompts.warnings.clear();
    EXPECT_EQ(Load("[#SETTING]\nVoiceDir=" + PathToUtf8(folder.path()) + "\n"), 2);
    EXPECT_EQ(Load("[#SETTING]\nTempo=120\n"), 2);
    EXPECT_TRUE(prompts.warnings.empty());
    EXPECT_FALSE(notes.VoiceFolderMissing);
}

TEST_F(PluginFileTest, ByteOrderMarkIsSkipped) {
    EXPECT_EQ(Load("\xEF\xBB\xBF" + kOpenUtauFile), 2);
    EXPECT_EQ(notes.Tempo, 95.5);
}

TEST_F(PluginFileTest, SaveWithThreeInsertedNotesGivesExactBytes) {
    ASSERT_EQ(Load(kUtauFile), 2);
    EXPECT_EQ(notes.InsertNote(0), 1);
    EXPECT_EQ(notes.InsertNote(notes.MsToTicks(500)), 2);
    EXPECT_EQ(notes.InsertNote(notes.MsToTicks(1250)), 3);
    notes.GetNote(2)->Lyric = "か";
    notes.GetNote(2)->Length = 1000.5;
    notes.GetNote(3)->Lyric = "R";
    notes.Relink();
    EXPECT_EQ(notes.GetNote(3)->StartTick, 1480.5);
    notes.SaveToPluginFile();
    // Tempo 140 was read and kept: no settings section; one [#DELETE] per
    // selected note, then the new notes.
    const std::string reply = ReadFileBytes(notes.Path());
    EXPECT_TRUE(MatchesGolden("reply_replacing_two_notes.tmp", reply));
    // Keeping the selection: the same without the deletions.
    notes.ReplaceSelection = false;
    notes.SaveToPluginFile();
    EXPECT_EQ(ReadFileBytes(notes.Path()),
              reply.substr(std::string("[#DELETE]\r\n[#DELETE]\r\n").size()));

    // What was written loads again.
    NoteList again;
    EXPECT_EQ(again.LoadFromPluginFile(notes.Path(), prompts), 2);
}

TEST_F(PluginFileTest, WholeFileWithModeOneAndModeTwoNotes) {
    ASSERT_EQ(Load("[#SETTING]\r\nTempo=120\r\n"), 2);
    notes.InsertNote(0);
    notes.InsertNote(1000);
    Note& mode1 = *notes.GetNote(1);
    Note& mode2 = *notes.GetNote(2);
    mode1.NoteNum = 60;
    mode1.Length = 20;
    mode1.PitchMode = PitchEncoding::Mode1;
    mode2.NoteNum = 62;
    mode2.Length = 1000.5;
    mode2.Lyric = "か";
    mode2.Intensity = 80;
    mode2.WriteFlagsP0 = true;
    notes.Relink();
    mode2.SetEffectiveStartPoint(12.34567);
    mode2.Envelope[4].Volume = 50;
    mode2.PitchBend.AddPoint(BendShape::Straight, false, -40, 0);
    mode2.PitchBend.AddPoint(BendShape::Straight, false, 0, -200);
    mode2.PitchBend.AddPoint(BendShape::SCurve, false, 100, -200);
    notes.RebuildPitchGrids();
    ASSERT_EQ(mode1.PitchPoints.size(), 6u);  // ceiling(20 / 5) + 2
    const double cents[6] = {0, 10.4, -10.7, 25.6, 100, 0};
    for (int i = 0; i < 6; ++i) mode1.PitchPoints[i].Value = cents[i];
    notes.SaveToPluginFile();

    // CR LF, a final line break; Mode1 lines for the first note, Mode2 for the second.
    EXPECT_TRUE(MatchesGolden("mode1_and_mode2_notes.tmp", ReadFileBytes(notes.Path())));
}

TEST_F(PluginFileTest, NoSettingsSectionComesBackWithTempo120) {
    ASSERT_EQ(Load("[#PREV]\r\nTempo=140\r\nLength=480\r\n"), 2);
    EXPECT_EQ(notes.Tempo, 120.0);
    EXPECT_EQ(notes.LoadedTempo, 0.0);
    EXPECT_TRUE(voicebank.loads.empty());
    notes.SaveToPluginFile();
    EXPECT_EQ(ReadFileBytes(notes.Path()), "[#SETTING]\r\nTempo=120\r\n");
}

TEST_F(PluginFileTest, ChangedTempoIsWrittenFirst) {
    ASSERT_EQ(Load("[#SETTING]\nTempo=140\n"), 2);
    notes.Tempo = 62.5;
    notes.InsertNote(0);
    const auto lines = notes.BuildPluginFileLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[#SETTING]");
    EXPECT_EQ(lines[1], "Tempo=62.5");
    EXPECT_EQ(lines[2], "[#INSERT]");
    // A note never writes a tempo line of its own.
    for (std::size_t i = 2; i < lines.size(); ++i)
        EXPECT_NE(lines[i].rfind("Tempo=", 0), 0u) << lines[i];
}

TEST_F(PluginFileTest, VoiceDirGivenTwiceLoadsTheVoicebankOnce) {
    ASSERT_EQ(Load("[#SETTING]\nVoiceDir=C:\\first\nVoiceDir=C:\\second\n"), 2);
    EXPECT_EQ(notes.VoiceDir, "C:\\second");
    EXPECT_EQ(voicebank.loads, std::vector<std::string>{"C:\\first"});
}

TEST_F(PluginFileTest, WithoutAVoicebankVoiceDirIsStillRead) {
    NoteList bare;
    EXPECT_EQ(bare.LoadFromPluginFile(Write("[#SETTING]\r\nVoiceDir=D:\\v\r\n"), prompts), 2);
    EXPECT_EQ(bare.VoiceDir, "D:\\v");
}

TEST_F(PluginFileTest, ReadSettingSectionResults) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(notes.ReadSettingSection(Lines{}, 0), -1);
    EXPECT_EQ(notes.ReadSettingSection(Lines{"[#VERSION]", "[#SETTING]"}, 0), -1);
    EXPECT_EQ(notes.ReadSettingSection(Lines{"[#SETTING] "}, 0), -1);
    EXPECT_EQ(notes.ReadSettingSection(Lines{"[#SETTING]"}, 5), -1);
    EXPECT_EQ(notes.ReadSettingSection(Lines{"[#SETTING]", "Tempo=150"}, 0), -2);
    EXPECT_EQ(notes.Tempo, 150.0);
    // Lines without "=", other keys and other cases are skipped; "[#" ends it.
    EXPECT_EQ(notes.ReadSettingSection(Lines{"x", "[#SETTING]", "no equals sign", "", "tempo=99",
                                             "Tempo =98", "=", "Tempo= 130 ", "[#PREV]"},
                                       1),
              8);
    EXPECT_EQ(notes.Tempo, 130.0);
    EXPECT_EQ(notes.LoadedTempo, 130.0);
}

TEST_F(PluginFileTest, NonNumericTempoFailsTheLoad) {
    const std::string original = "[#SETTING]\r\nTempo=fast\r\n";
    EXPECT_THROW(Load(original), ConversionError);
    EXPECT_FALSE(notes.IsLoaded());
    EXPECT_THROW(notes.SaveToPluginFile(), std::runtime_error);
    EXPECT_EQ(ReadFileBytes(folder.path() / "plugin.tmp"), original);
    EXPECT_THROW(Load("[#SETTING]\r\nTempo=\r\n"), ConversionError);
}

TEST_F(PluginFileTest, EmptyFileLoadsWithDefaults) {
    EXPECT_EQ(Load(""), 2);
    EXPECT_EQ(notes.Tempo, 120.0);
    EXPECT_EQ(notes.VoiceDir, "");
}

TEST_F(PluginFileTest, TenMegabytesOfGarbageLoadWithDefaults) {
    std::string garbage(10 * 1024 * 1024, '\0');
    std::uint32_t state = 12345;
    for (char& byte : garbage) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    EXPECT_EQ(Load(garbage), 2);
    EXPECT_EQ(notes.Tempo, 120.0);
    // Inside a settings section a megabyte of it is skipped line by line;
    // more is refused by name before it is kept.
    EXPECT_EQ(Load("[#SETTING]\r\n" + garbage.substr(0, 1000 * 1000)), 2);
    EXPECT_EQ(notes.Tempo, 120.0);
    try {
        Load("[#SETTING]\r\n" + garbage);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what())
                      .find("plugin.tmp: the [#SETTING] section is larger than 1 MB"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(notes.IsLoaded());
}

TEST_F(PluginFileTest, ALineLongerThanAnyHostWritesIsRefusedOnlyWhereItIsRead) {
    const std::string huge(kMaxLineBytes + 1, 'v');
    try {
        Load("[#SETTING]\r\nTempo=120\r\nVoiceDir=" + huge + "\r\n");
        ADD_FAILURE() << "no error";
    } catch (const LineTooLong& error) {
        EXPECT_NE(std::string(error.what()).find("plugin.tmp: line 3 is longer than 65536 bytes"),
                  std::string::npos);
    }
    EXPECT_FALSE(notes.IsLoaded());
    // Past the settings such a line only loses the selection, which then stays.
    EXPECT_EQ(Load("[#SETTING]\r\nTempo=150\r\n[#0000]\r\nLyric=" + huge + "\r\n"), 2);
    EXPECT_EQ(notes.Tempo, 150.0);
    EXPECT_TRUE(notes.SentNotes.empty());
    // A line of exactly the limit is still a line.
    EXPECT_EQ(
        Load("[#SETTING]\r\nVoiceDir=" + std::string(kMaxLineBytes - 9, 'd') + "\r\nTempo=90\r\n"),
        2);
    EXPECT_EQ(notes.VoiceDir.size(), kMaxLineBytes - 9);
    EXPECT_EQ(notes.Tempo, 90.0);
}

TEST_F(PluginFileTest, InvalidShiftJisBytesAreShownAsReplacementCharacters) {
    ASSERT_EQ(Load("[#SETTING]\r\nTempo=120\r\nVoiceDir=C:\\\x82\xFF\r\n"), 2);
    EXPECT_EQ(notes.VoiceDir.substr(0, 3), "C:\\");
    EXPECT_NE(notes.VoiceDir, "C:\\\x82\xFF");
    EXPECT_TRUE(IsValidUtf8(notes.VoiceDir));
}

// OpenUtau writes the file in UTF-8 with a mark for a plug-in that asks for
// it; a Chinese voice folder and lyric come through and go back unchanged.
TEST_F(PluginFileTest, AUtf8FileWithAMarkIsReadAndAnsweredInUtf8WithAMark) {
    const std::string file =
        "\xEF\xBB\xBF[#SETTING]\nTempo=120\nVoiceDir=/home/u/音源/中文声库\n"
        "[#0000]\nLength=480\nLyric=你\n";
    ASSERT_EQ(Load(file), 2);
    EXPECT_EQ(notes.Encoding, TextEncoding::Utf8WithBom);
    EXPECT_EQ(notes.VoiceDir, "/home/u/音源/中文声库");
    EXPECT_EQ(voicebank.loads, std::vector<std::string>{"/home/u/音源/中文声库"});
    notes.InsertNote(0);
    notes.GetNote(1)->Lyric = "你〜";
    notes.SaveToPluginFile();
    EXPECT_EQ(ReadFileBytes(notes.Path()), "\xEF\xBB\xBF[#DELETE]\r\n" + NoteText("480", "你〜"));
}

TEST_F(PluginFileTest, AShiftJisFileGetsBestFitCodesAndRefusesWhatItCannotHold) {
    const std::string file = "[#SETTING]\r\nTempo=120\r\n";
    ASSERT_EQ(Load(file), 2);
    notes.InsertNote(0);
    notes.GetNote(1)->Lyric = "ー〜";  // the wave dash many input methods type
    notes.SaveToPluginFile();
    EXPECT_EQ(ReadFileBytes(notes.Path()), NoteText("480", "\x81\x5B\x81\x60"));

    ASSERT_EQ(Load(file), 2);
    notes.InsertNote(0);
    notes.GetNote(1)->Lyric = "你";
    try {
        notes.SaveToPluginFile();
        FAIL() << "a lyric Shift-JIS cannot hold was written";
    } catch (const UnencodableText& error) {
        EXPECT_EQ(error.Character(), "你");
    }
    EXPECT_EQ(ReadFileBytes(notes.Path()), file);  // nothing written, no "?"
}

// UTAU writes the header in the system's code page: a path whose bytes are
// UTF-8 is taken as UTF-8 when only that reading names a folder.
TEST_F(PluginFileTest, AVoiceDirThatIsOnlyAFolderAsUtf8IsReadAsUtf8) {
    const std::filesystem::path voice = folder.path() / Utf8Path("音源声");
    std::filesystem::create_directories(voice);
    ASSERT_EQ(Load("[#SETTING]\r\nTempo=120\r\nVoiceDir=" + PathToUtf8(voice) + "\r\n"), 2);
    EXPECT_EQ(notes.VoiceDir, PathToUtf8(voice));
    // A CP932 path keeps its CP932 reading.
    ASSERT_EQ(Load("[#SETTING]\r\nTempo=120\r\nVoiceDir=C:\\" + kOnGen + "\r\n"), 2);
    EXPECT_EQ(notes.VoiceDir, "C:\\音源");
}

TEST_F(PluginFileTest, InsertionPlacesNotesByPosition) {
    ASSERT_EQ(Load("[#SETTING]\r\nTempo=120\r\n"), 2);
    EXPECT_EQ(notes.InsertNote(100), 1);  // an empty list: slot 1 whatever the position
    EXPECT_EQ(notes.GetNote(1)->Tempo, 120.0);
    EXPECT_EQ(notes.GetNote(1)->Section, "#INSERT");
    EXPECT_EQ(notes.GetNote(1)->Lyric, "あ");
    EXPECT_EQ(notes.InsertNote(480), 2);
    EXPECT_EQ(notes.InsertNote(5000), 3);  // beyond the end: clamped, last
    for (int i = 1; i <= 3; ++i) notes.GetNote(i)->Lyric = std::to_string(i);

    // 600 lies inside the second note (480..960): the new note follows it.
    notes.GetNote(2)->Tempo = 150.0;
    EXPECT_EQ(notes.InsertNote(600), 3);
    EXPECT_EQ(notes.Count(), 4);
    EXPECT_EQ(notes.SlotCount(), 6);
    EXPECT_EQ(notes.GetNote(3)->Tempo, 150.0);  // the tempo of the note it follows
    EXPECT_EQ(notes.GetNote(4)->Lyric, "3");
    EXPECT_EQ(notes.GetNote(5), nullptr);  // the next-context slot
    EXPECT_EQ(notes.GetNote(6), nullptr);

    // Contiguous starts and neighbour links.
    EXPECT_EQ(notes.GetNote(4)->StartTick, 3 * 480.0);
    EXPECT_EQ(notes.GetNote(1)->Prev, nullptr);
    EXPECT_EQ(notes.GetNote(2)->Next, notes.GetNote(3));
    EXPECT_EQ(notes.GetNote(4)->Prev, notes.GetNote(3));
    EXPECT_EQ(notes.GetNote(4)->Next, nullptr);
}

TEST_F(PluginFileTest, ZeroTempoIsAnErrorAndNothingIsWritten) {
    const std::string original = "[#SETTING]\r\nTempo=0\r\n";
    ASSERT_EQ(Load(original), 2);
    EXPECT_THROW(notes.InsertNote(0), std::domain_error);
    EXPECT_EQ(notes.Count(), 0);
    EXPECT_EQ(notes.SlotCount(), 2);
    notes.SaveToPluginFile();  // nothing to write but an empty note list
    EXPECT_EQ(ReadFileBytes(notes.Path()), "");

    ASSERT_EQ(Load("[#SETTING]\r\nTempo=120\r\n"), 2);
    notes.InsertNote(0);
    notes.Tempo = 0;
    EXPECT_THROW(notes.SaveToPluginFile(), std::domain_error);
    notes.Tempo = 120;
    notes.GetNote(1)->Tempo = 0;
    EXPECT_THROW(notes.SaveToPluginFile(), std::domain_error);
    EXPECT_EQ(ReadFileBytes(notes.Path()), "[#SETTING]\r\nTempo=120\r\n");
}

TEST_F(PluginFileTest, ReloadingStartsAfresh) {
    ASSERT_EQ(Load("[#SETTING]\r\nTempo=140\r\n"), 2);
    notes.InsertNote(0);
    ASSERT_EQ(Load("[#PREV]\r\n"), 2);
    EXPECT_EQ(notes.Count(), 0);
    EXPECT_EQ(notes.SlotCount(), 2);
    EXPECT_EQ(notes.Tempo, 120.0);
}

}  // namespace
}  // namespace melodrift

namespace melodrift {
namespace {

using testing::FakeVoicebank;
using testing::MatchesGolden;
using testing::RecordingPrompts;
using testing::TempFolder;

// UTAU writes "%VOICE%<name>" for a bank in its own voice folder: the
// folder beside the "plugins" folder that holds this plug-in's folder.
TEST(HostFolders, VoiceIsTheFolderBesideThePluginsFolder) {
    TempFolder host;
    std::filesystem::create_directories(host.path() / "voice" / "uta");
    std::filesystem::create_directories(host.path() / "plugins" / "melodrift");
    const auto exe = host.path() / "plugins" / "melodrift" / "melodrift.exe";
    EXPECT_EQ(HostVoiceFolderOf(exe), host.path() / "voice");
    EXPECT_EQ(HostVoiceFolderOf(host.path() / "PLUGINS" / "melodrift" / "m"),
              host.path() / "voice");
    EXPECT_EQ(HostVoiceFolderOf(host.path() / "voice" / "plugins" / "x" / "m"),
              std::nullopt);  // no voice there
    EXPECT_EQ(HostVoiceFolderOf(host.path() / "bin" / "melodrift"), std::nullopt);

    EXPECT_EQ(ExpandVoiceDir("%VOICE%uta\\sub", host.path() / "voice"),
              PathToUtf8(host.path() / "voice" / "uta" / "sub"));
    EXPECT_EQ(ExpandVoiceDir("C:\\voice\\uta", std::nullopt), "C:\\voice\\uta");
    EXPECT_EQ(ExpandVoiceDir("%VOICE%uta", std::nullopt), std::nullopt);
    EXPECT_EQ(ExpandVoiceDir("%DATA%uta", host.path()), std::nullopt);

    RecordingPrompts prompts;
    FakeVoicebank voicebank;
    NoteList notes(&voicebank);
    notes.HostVoiceFolder = host.path() / "voice";
    const auto file =
        host.Write("plugin.tmp", "[#SETTING]\r\nTempo=120\r\nVoiceDir=%VOICE%uta\r\n");
    ASSERT_EQ(notes.LoadFromPluginFile(file, prompts), 2);
    EXPECT_EQ(notes.VoiceDir, PathToUtf8(host.path() / "voice" / "uta"));
    EXPECT_EQ(voicebank.loads, std::vector<std::string>{notes.VoiceDir});
    EXPECT_TRUE(prompts.warnings.empty());

    // Run from elsewhere, the folder is named in the warning and nothing loads.
    NoteList elsewhere(&voicebank);
    elsewhere.HostVoiceFolder.reset();
    ASSERT_EQ(elsewhere.LoadFromPluginFile(file, prompts), 2);
    ASSERT_EQ(prompts.warnings.size(), 1u);
    EXPECT_NE(prompts.warnings[0].find("%VOICE%"), std::string::npos);
    EXPECT_TRUE(voicebank.loads.empty());  // emptied by the new list, nothing loaded since
}

}  // namespace
}  // namespace melodrift
