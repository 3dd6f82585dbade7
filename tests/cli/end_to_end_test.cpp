// The command line end to end: a generated recording of three sung tones, a
// generated Shift-JIS voicebank and a plug-in file in a temp folder; the
// test runs `segment` and `insert` and reads the plug-in file back section
// by section.
#include "cli/Cli.h"
#include "cli/Progress.h"

#include "system/Files.h"
#include "text/CodePage.h"
#include "text/NumberFormat.h"

#include <gtest/gtest.h>

#include "PluginSections.h"
#include "TempFolder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;
using testing::ApplyReplyAsOpenUtau;
using testing::InsertedSections;
using testing::ReadSections;
using testing::Section;
using testing::TempFolder;

std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

void PutLe(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A RIFF WAVE file of 16-bit mono samples at `rate` Hz.
std::string WaveBytes(const std::vector<std::int16_t>& samples, std::uint32_t rate = 44100,
                      int bits = 16) {
    const auto bytesPerSample = static_cast<std::uint32_t>(bits / 8);
    const auto dataSize = static_cast<std::uint32_t>(samples.size()) * bytesPerSample;
    std::string bytes = "RIFF";
    PutLe(bytes, 36 + dataSize, 4);
    bytes += "WAVEfmt ";
    PutLe(bytes, 16, 4);
    PutLe(bytes, 1, 2);  // PCM
    PutLe(bytes, 1, 2);  // mono
    PutLe(bytes, rate, 4);
    PutLe(bytes, rate * bytesPerSample, 4);
    PutLe(bytes, bytesPerSample, 2);
    PutLe(bytes, static_cast<std::uint32_t>(bits), 2);
    bytes += "data";
    PutLe(bytes, dataSize, 4);
    for (std::int16_t s : samples) {
        if (bits == 16)
            PutLe(bytes, static_cast<std::uint16_t>(s), 2);
        else
            bytes += static_cast<char>((s >> 8) + 128);
    }
    return bytes;
}

// Silence 0–300 ms, then 400 ms each of harmonic tones at A3 (220 Hz, note
// 57), B3 (note 59) and C4 (note 60), then 200 ms of silence: 1700 ms.
std::vector<std::int16_t> ThreeTones() {
    const double keys[] = {57.0, 59.0, 60.0};
    std::vector<std::int16_t> samples(74970, 0);
    double phase = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double ms = static_cast<double>(i) / 44.1;
        if (ms < 300.0 || ms >= 1500.0) continue;
        const int tone = static_cast<int>((ms - 300.0) / 400.0);
        const double hz = 220.0 * std::pow(2.0, (keys[tone] - 57.0) / 12.0);
        phase += 2.0 * std::numbers::pi * hz / 44100.0;
        double value = 0.0;
        for (int h = 1; h <= 6; ++h) value += std::sin(h * phase) / h;
        samples[i] = static_cast<std::int16_t>(6000.0 * value);
    }
    return samples;
}

// Analysis frames of ThreeTones: one at every multiple of 256 samples (0 to
// 74752, 293 frames) and one more on the last sample, 74969.
constexpr std::size_t kFrames = 294;

struct CliRun {
    int code = 0;
    std::string out;
    std::string err;
};

CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.code = RunCli(args, CliStreams{out, err, false});
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::vector<double> Numbers(const std::string& list) {
    std::vector<double> values;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) values.push_back(std::stod(item));
    return values;
}

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        recordingDir = folder.path() / "take";
        voiceDir = folder.path() / "bank";
        fs::create_directories(recordingDir);
        fs::create_directories(voiceDir);
        wave = recordingDir / "voice.wav";
        WriteFileAtomically(wave, WaveBytes(ThreeTones()));
        // A CV voicebank with a word-initial form of か; the samples need not
        // exist for Insert.
        WriteFileAtomically(
            voiceDir / "oto.ini",
            JoinLinesCrLf({Sjis("ka.wav=か,20,90,-300,70,20"), Sjis("ka.wav=- か,10,90,-300,50,0"),
                           Sjis("ki.wav=き,20,90,-300,70,20"),
                           Sjis("ku.wav=く,20,90,-300,70,20")}));
        pluginFile = folder.path() / "plugin.tmp";
        pluginText = JoinLinesCrLf({"[#SETTING]", "Tempo=120.00",
                                    "VoiceDir=" + PathToCp932(voiceDir), "[#PREV]", "Length=480",
                                    "Lyric=R", "NoteNum=60", "[#NEXT]", "Length=480", "Lyric=R"});
        WriteFileAtomically(pluginFile, pluginText);
        state = folder.path() / "state.mlq";
    }

    CliRun Segment(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"segment", PathToUtf8(wave),    "-o",       PathToUtf8(state),
                                      "--cuts",  "300,700,1100,1500", "--lyrics", "R,か,き,く,R"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Cli(args);
    }

    CliRun Insert(const std::vector<std::string>& extra) {
        std::vector<std::string> args{"insert", PathToUtf8(pluginFile), "--state",
                                      PathToUtf8(state)};
        args.insert(args.end(), extra.begin(), extra.end());
        return Cli(args);
    }

    TempFolder folder;
    fs::path recordingDir;
    fs::path voiceDir;
    fs::path wave;
    fs::path pluginFile;
    std::string pluginText;
    fs::path state;
};

void ExpectLengths(const std::vector<Section>& notes) {
    // 300, 400, 400, 400 and 200 ms at tempo 120: ms × 120 / 125 ticks.
    const double expected[] = {288.0, 384.0, 384.0, 384.0, 192.0};
    ASSERT_EQ(notes.size(), 5u);
    for (std::size_t i = 0; i < notes.size(); ++i)
        EXPECT_NEAR(std::stod(*notes[i].Get("Length")), expected[i], 1e-6);
}

void ExpectKeys(const std::vector<Section>& notes) {
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[1].Get("NoteNum"), "57");
    EXPECT_EQ(notes[2].Get("NoteNum"), "59");
    EXPECT_EQ(notes[3].Get("NoteNum"), "60");
}

// Mode1: the middle of every sung note follows the tone, which sits exactly
// on the note's key.
void ExpectFlatPitchLists(const std::vector<Section>& notes) {
    for (std::size_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(notes[i].Has("Pitches")) << i;
        const std::vector<double> values = Numbers(*notes[i].Get("Pitches"));
        ASSERT_GT(values.size(), 40u);
        const std::size_t middle = values.size() / 2;
        for (std::size_t k = middle - 10; k <= middle + 10; ++k)
            EXPECT_NEAR(values[k], 0.0, 15.0) << i << "/" << k;
    }
}

TEST_F(CommandLine, TraceModeMode2) {
    ASSERT_EQ(Segment().code, 0);
    const CliRun run = Insert({});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Section> notes = InsertedSections(pluginFile);
    ExpectLengths(notes);
    ExpectKeys(notes);
    // Aliases from the voicebank: the word-initial form after the rest.
    EXPECT_EQ(notes[0].Get("Lyric"), "R");
    EXPECT_EQ(notes[1].Get("Lyric"), Sjis("- か"));
    EXPECT_EQ(notes[2].Get("Lyric"), Sjis("き"));
    EXPECT_EQ(notes[3].Get("Lyric"), Sjis("く"));
    EXPECT_EQ(notes[4].Get("Lyric"), "R");
    for (std::size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(notes[i].Get("Intensity"), "100");
        EXPECT_TRUE(notes[i].Has("PBS")) << i;
        EXPECT_TRUE(notes[i].Has("PBW")) << i;
        EXPECT_TRUE(notes[i].Has("Envelope")) << i;
        EXPECT_FALSE(notes[i].Has("Pitches"));
        EXPECT_FALSE(notes[i].Has("Flags"));
    }
    EXPECT_FALSE(notes[0].Has("PBS"));
    // Nothing of the voice source is made in trace mode.
    EXPECT_FALSE(fs::exists(recordingDir / "oto.ini"));
    EXPECT_FALSE(fs::exists(recordingDir / "voice_wav.frq"));
    // The host's own sections are not written back.
    EXPECT_EQ(ReadFileBytes(pluginFile).find("[#PREV]"), std::string::npos);
}

TEST_F(CommandLine, TheReplyReplacesTheSelectionOrKeepsItAfterTheNewNotes) {
    // Two selected notes (720 ticks) before a next note; the new notes take
    // 1632 ticks.
    const std::vector<std::string> selected{Sjis("あ"), "R"};
    pluginText =
        JoinLinesCrLf({"[#SETTING]", "Tempo=120.00", "VoiceDir=" + PathToCp932(voiceDir), "[#PREV]",
                       "Length=480", "Lyric=R", "[#0007]", "Length=480", "Lyric=" + selected[0],
                       "[#0008]", "Length=240", "Lyric=R", "[#NEXT]", "Length=480", "Lyric=R"});
    ASSERT_EQ(Segment().code, 0);
    const std::vector<std::string> phrase{"R", Sjis("- か"), Sjis("き"), Sjis("く"), "R"};
    for (const bool keep : {false, true}) {
        WriteFileAtomically(pluginFile, pluginText);
        const CliRun run = Insert(keep ? std::vector<std::string>{"--keep-selection"}
                                       : std::vector<std::string>{});
        ASSERT_EQ(run.code, 0) << run.err;
        std::vector<std::string> song = phrase;
        if (keep) song.insert(song.end(), selected.begin(), selected.end());
        EXPECT_EQ(ApplyReplyAsOpenUtau(selected, ReadSections(pluginFile)), song) << keep;
        EXPECT_EQ(run.err.find("replace the 2 selected notes") != std::string::npos, !keep)
            << run.err;
        // Kept notes follow the new ones: everything new lies past the selection's end.
        EXPECT_NE(run.err.find(keep ? "run 1632 ticks past" : "run 912 ticks past"),
                  std::string::npos)
            << run.err;
    }
}

TEST_F(CommandLine, AVoiceFolderThatDoesNotExistStopsInsertUnlessAllowed) {
    ASSERT_EQ(Segment().code, 0);
    // OpenUtau wrote "?" for a character Shift-JIS lacks.
    pluginText = JoinLinesCrLf(
        {"[#SETTING]", "Tempo=120.00", "VoiceDir=" + PathToCp932(folder.path()) + "/Jos?/bank"});
    WriteFileAtomically(pluginFile, pluginText);
    CliRun run = Insert({});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("Jos?/bank\" named in the plug-in file does not exist"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("encoding=utf-8"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(pluginFile), pluginText);
    run = Insert({"--allow-missing-voicebank"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(InsertedSections(pluginFile).at(1).Get("Lyric"), Sjis("か"));  // as typed
}

// A correction Insert killed between its renames leaves the table new and
// the oto.ini and plug-in file old. The next command that touches the
// recording's folder, even one that only reads, finishes that commit first
// and says so; nothing of it is left behind.
TEST_F(CommandLine, ACommitKilledMidwayIsFinishedByTheNextCommandThere) {
    ASSERT_EQ(Segment().code, 0);
    int renames = 0;
    SetFileFaultHook([&renames](FileStep step) {
        if (step == FileStep::Rename && ++renames == 2) throw SimulatedProcessDeath{};
        return false;
    });
    EXPECT_THROW(Insert({"--correction"}), SimulatedProcessDeath);
    SetFileFaultHook({});
    ASSERT_TRUE(fs::exists(recordingDir / "voice_wav.frq"));
    ASSERT_FALSE(fs::exists(recordingDir / "oto.ini"));
    ASSERT_EQ(ReadFileBytes(pluginFile), pluginText);

    const CliRun run =
        Cli({"analyze", PathToUtf8(wave), "-o", PathToUtf8(folder.path() / "frames.csv")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("前回途中で終わった書き込みを完了しました"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(PathToUtf8(pluginFile)), std::string::npos) << run.err;
    EXPECT_EQ(SplitLines(ReadFileBytes(recordingDir / "oto.ini")).size(), 5u);
    EXPECT_EQ(InsertedSections(pluginFile).size(), 5u);
    for (const fs::path& where : {folder.path(), recordingDir})
        for (const auto& entry : fs::directory_iterator(where))
            EXPECT_EQ(PathToUtf8(entry.path().filename()).rfind(".melodrift-", 0),
                      std::string::npos)
                << entry.path();
}

TEST_F(CommandLine, TraceModeMode1) {
    ASSERT_EQ(Segment().code, 0);
    const CliRun run = Insert({"--pitch-mode", "1"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Section> notes = InsertedSections(pluginFile);
    ExpectLengths(notes);
    ExpectKeys(notes);
    ExpectFlatPitchLists(notes);
    for (const Section& note : notes) EXPECT_FALSE(note.Has("PBS"));
}

TEST_F(CommandLine, VoiceCorrectionModeMode2) {
    ASSERT_EQ(Segment().code, 0);
    const CliRun run = Insert({"--correction"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Section> notes = InsertedSections(pluginFile);
    ExpectLengths(notes);
    ExpectKeys(notes);
    const std::vector<std::string> aliases{"R0", Sjis("か"), Sjis("き"), Sjis("く"), "R1"};
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].Get("Lyric"), aliases[i]);
        EXPECT_EQ(notes[i].Get("Intensity"), "80");
        EXPECT_EQ(notes[i].Get("Flags"), "P0");
    }
    // The rests are sung from the recording too, so they carry a curve.
    EXPECT_TRUE(notes[0].Has("PBS"));
    EXPECT_EQ(notes[2].Get("PreUtterance"), "60");
    EXPECT_EQ(notes[2].Get("VoiceOverlap"), "20");

    const std::vector<std::string> oto = SplitLines(ReadFileBytes(recordingDir / "oto.ini"));
    ASSERT_EQ(oto.size(), 5u);
    EXPECT_EQ(oto[2].rfind(Sjis("voice.wav=き,"), 0), 0u);
    const auto frq = fs::file_size(recordingDir / "voice_wav.frq");
    EXPECT_EQ((frq - 40) % 16, 0u);
    EXPECT_EQ((frq - 40) / 16, kFrames);  // one item per frame
    // The project uses another voicebank: the user is told to switch.
    EXPECT_NE(run.err.find("音源を作成しました。"), std::string::npos);
}

TEST_F(CommandLine, VoiceCorrectionModeMode1) {
    ASSERT_EQ(Segment().code, 0);
    const CliRun run = Insert(
        {"--correction", "--pitch-mode", "1", "--no-key", "--no-pitch", "--cr-overlap", "0"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<Section> notes = InsertedSections(pluginFile);
    ExpectLengths(notes);
    ExpectKeys(notes);  // estimated whatever --no-key says
    ExpectFlatPitchLists(notes);
    for (const Section& note : notes) EXPECT_EQ(note.Get("VoiceOverlap"), "0");

    // A second run replaces the recording's entries; an existing table is
    // kept unless --overwrite-frq.
    WriteFileAtomically(recordingDir / "voice_wav.frq", "old");
    WriteFileAtomically(pluginFile, pluginText);
    ASSERT_EQ(Insert({"--correction"}).code, 0);
    EXPECT_EQ(SplitLines(ReadFileBytes(recordingDir / "oto.ini")).size(), 5u);
    EXPECT_EQ(ReadFileBytes(recordingDir / "voice_wav.frq"), "old");
    ASSERT_EQ(Insert({"--correction", "--overwrite-frq"}).code, 0);
    EXPECT_EQ(ReadFileBytes(recordingDir / "voice_wav.frq").substr(0, 8), "FREQ0003");
}

TEST_F(CommandLine, CorrectionParametersAreClampedAsTheEditsClampThem) {
    ASSERT_EQ(Segment().code, 0);
    // Overlap above the pre-utterance is cut to it.
    ASSERT_EQ(Insert({"--correction", "--cr-pre", "40", "--cr-overlap", "90"}).code, 0);
    const std::vector<Section> notes = InsertedSections(pluginFile);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[2].Get("PreUtterance"), "40");
    EXPECT_EQ(notes[2].Get("VoiceOverlap"), "40");
}

TEST_F(CommandLine, SegmentWritesTheEditStateAndRefusesToOverwrite) {
    const CliRun first = Segment();
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string saved = ReadFileBytes(state);
    EXPECT_NE(saved.find("MojiCount=5"), std::string::npos);
    EXPECT_NE(saved.find(Sjis("Lyric=き")), std::string::npos);

    const CliRun again = Segment();
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("--force"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(state), saved);
    EXPECT_EQ(Segment({"--force"}).code, 0);
}

TEST_F(CommandLine, MoreLyricsThanSegmentsIsAnError) {
    const CliRun run = Cli({"segment", PathToUtf8(wave), "-o", PathToUtf8(state), "--cuts", "300",
                            "--lyrics", "a,b,c"});
    EXPECT_EQ(run.code, 1);
    EXPECT_FALSE(fs::exists(state));
}

TEST_F(CommandLine, AMissingRecordingIsAFailure) {
    const CliRun run =
        Cli({"segment", PathToUtf8(folder.path() / "none.wav"), "-o", PathToUtf8(state)});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("none.wav"), std::string::npos);
    EXPECT_FALSE(fs::exists(state));
}

TEST_F(CommandLine, ARejectedRecordingIsAFailure) {
    const fs::path eightBit = folder.path() / "eight.wav";
    WriteFileAtomically(eightBit, WaveBytes(std::vector<std::int16_t>(44100, 0), 44100, 8));
    const CliRun run = Cli({"analyze", PathToUtf8(eightBit)});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("対応していないフォーマットです。"), std::string::npos);
    EXPECT_TRUE(run.out.empty());
}

TEST_F(CommandLine, AnUnwritableOtoIniLeavesThePluginFileUntouched) {
    ASSERT_EQ(Segment().code, 0);
    fs::create_directories(recordingDir / "oto.ini" / "blocked");
    const CliRun run = Insert({"--correction"});
    EXPECT_EQ(run.code, 1);
    // The folder in the file's place is named as one.
    EXPECT_NE(run.err.find("oto.ini: Is a directory"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(pluginFile), pluginText);
    EXPECT_FALSE(fs::exists(recordingDir / "voice_wav.frq"));  // all three files or none
}

TEST_F(CommandLine, ALinkedPrivatePluginFileStaysALinkAndPrivate) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links: Windows makes them only with a privilege, and MinGW's "
                    "std::filesystem makes none; POSIX permission bits";
#else
    ASSERT_EQ(Segment().code, 0);
    const fs::path stored = folder.path() / "projects" / "song.tmp";
    fs::create_directories(stored.parent_path());
    fs::rename(pluginFile, stored);
    fs::create_symlink(fs::path("projects") / "song.tmp", pluginFile);
    fs::permissions(stored, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    ASSERT_EQ(Insert({}).code, 0);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(pluginFile)));
    EXPECT_EQ(InsertedSections(stored).size(), 5u);
    EXPECT_EQ(fs::status(stored).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(CommandLine, ValuesEchoedFromFilesReachTheTerminalEscaped) {
    ASSERT_EQ(Segment().code, 0);
    WriteFileAtomically(pluginFile, "[#SETTING]\r\nTempo=1\x1b[31m\x1b]0;owned\x07x\r\n");
    const CliRun run = Insert({});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("'1\\x1b[31m\\x1b]0;owned\\x07x' is not a valid floating point value"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.err.find('\x07'), std::string::npos);
    // Arguments refused by the parser are echoed escaped too.
    const CliRun bad = Cli({"analyze", PathToUtf8(wave), "--format", "\x1b[2Jxml"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err.find('\x1b'), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("\\x1b[2Jxml"), std::string::npos) << bad.err;
}

TEST_F(CommandLine, ALineLongerThanAnyHostWritesIsRefusedByName) {
    ASSERT_EQ(Segment().code, 0);
    const std::string longLine = JoinLinesCrLf(
        {"[#SETTING]", "Tempo=120.00", "VoiceDir=" + std::string(kMaxLineBytes + 1, 'v')});
    WriteFileAtomically(pluginFile, longLine);
    const CliRun run = Insert({});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("plugin.tmp: line 3 is longer than 65536 bytes"), std::string::npos)
        << run.err.substr(0, 300);
    EXPECT_LT(run.err.size(), 1000u);
    EXPECT_EQ(ReadFileBytes(pluginFile), longLine);
}

TEST_F(CommandLine, AnUnwritablePluginFileIsAFailureAndStaysUntouched) {
    ASSERT_EQ(Segment().code, 0);
    // A file that can be read but never replaced, whoever runs the test:
    // nothing can be created in /proc.
#ifdef _WIN32
    GTEST_SKIP() << "/proc is Linux's; Wine lets a program replace even a read-only file";
#endif
    const fs::path readOnly = "/proc/version";
    if (!fs::exists(readOnly)) GTEST_SKIP() << "no read-only file system to write to";
    const std::string before = ReadFileBytes(readOnly);
    const CliRun run = Cli({"insert", PathToUtf8(readOnly), "--state", PathToUtf8(state)});
    EXPECT_EQ(run.code, 1);
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(ReadFileBytes(readOnly), before);
}

TEST_F(CommandLine, AMissingPluginFileOrStateIsAFailure) {
    ASSERT_EQ(Segment().code, 0);
    EXPECT_EQ(
        Cli({"insert", PathToUtf8(folder.path() / "none.tmp"), "--state", PathToUtf8(state)}).code,
        1);
    EXPECT_EQ(
        Cli({"insert", PathToUtf8(pluginFile), "--state", PathToUtf8(folder.path() / "none.mlq")})
            .code,
        1);
    EXPECT_EQ(ReadFileBytes(pluginFile), pluginText);
}

TEST_F(CommandLine, BadArgumentsExitWithTwo) {
    EXPECT_EQ(Cli({}).code, 2);
    EXPECT_EQ(Cli({"nonsense"}).code, 2);
    EXPECT_EQ(Cli({"segment", PathToUtf8(wave)}).code, 2);  // -o is required
    EXPECT_EQ(Cli({"analyze", PathToUtf8(wave), "--format", "xml"}).code, 2);
    EXPECT_EQ(Cli({"insert", PathToUtf8(pluginFile), "--state", "x.mlq", "--pitch-mode", "3"}).code,
              2);
    EXPECT_EQ(Cli({"insert", PathToUtf8(pluginFile), "--state", "x.mlq", "--cr-pre", "abc"}).code,
              2);
    EXPECT_EQ(ReadFileBytes(pluginFile), pluginText);
}

TEST_F(CommandLine, EverySubcommandHasHelp) {
    for (const char* command : {"analyze", "segment", "insert", "frq", "preview"}) {
        const CliRun run = Cli({command, "--help"});
        EXPECT_EQ(run.code, 0) << command;
        EXPECT_NE(run.out.find("--"), std::string::npos) << command;
    }
    EXPECT_NE(Cli({"insert", "--help"}).out.find("OpenUtau reads only Mode2"), std::string::npos);
}

// A device named as the output is written to, not replaced.
TEST_F(CommandLine, ListingsAndPreviewsGoToADeviceNamedAsTheOutput) {
    const fs::path null = "/dev/null";
    std::error_code ec;
    if (!fs::is_character_file(null, ec)) GTEST_SKIP() << "no /dev/null here";
    const CliRun analyze = Cli({"analyze", PathToUtf8(wave), "-o", PathToUtf8(null)});
    EXPECT_EQ(analyze.code, 0) << analyze.err;
    const CliRun preview =
        Cli({"preview", PathToUtf8(wave), "--from", "0", "--to", "300", "-o", PathToUtf8(null)});
    EXPECT_EQ(preview.code, 0) << preview.err;
    EXPECT_TRUE(fs::is_character_file(null, ec));
}

// A full disk behind standard output or a named device fails the command
// with the system's reason; it never reports success.
TEST_F(CommandLine, AnOutputThatCannotBeWrittenIsAFailure) {
    const fs::path full = "/dev/full";
    std::error_code ec;
    if (!fs::is_character_file(full, ec))
        GTEST_SKIP() << "no /dev/full (a device always full) here";
    const auto toFull = [&](const std::vector<std::string>& args) {
        std::ofstream out(full, std::ios::binary);
        std::ostringstream err;
        CliRun run;
        run.code = RunCli(args, CliStreams{out, err, false});
        run.err = err.str();
        return run;
    };
    for (const CliRun& run : {toFull({"analyze", PathToUtf8(wave)}),
                              toFull({"analyze", PathToUtf8(wave), "--format", "json"}),
                              toFull({"segment", "--help"})}) {
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    }
    const CliRun named = Cli({"analyze", PathToUtf8(wave), "-o", PathToUtf8(full)});
    EXPECT_EQ(named.code, 1);
    EXPECT_NE(named.err.find("/dev/full\": No space left on device"), std::string::npos)
        << named.err;
}

TEST_F(CommandLine, AnalyzeListsEveryFrame) {
    const CliRun run = Cli({"analyze", PathToUtf8(wave)});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> lines = SplitLines(run.out);
    ASSERT_EQ(lines.size(), 1u + kFrames);
    EXPECT_EQ(lines[0],
              "frame,time_ms,sample_pos,f0_hz,confidence,loudness,pitch_cents,checked_cents");
    EXPECT_EQ(lines[1].rfind("0,0.000,0,", 0), 0u);
    // Frame 100 (580.5 ms) lies in the A3 tone: 220 Hz, 5700 cents.
    std::stringstream row(lines[101]);
    std::vector<std::string> fields;
    std::string field;
    while (std::getline(row, field, ',')) fields.push_back(field);
    ASSERT_EQ(fields.size(), 8u);
    EXPECT_EQ(fields[1], "580.499");  // 25600 / 44.1
    EXPECT_EQ(fields[2], "25600");
    EXPECT_NEAR(std::stod(fields[3]), 220.0, 2.0);
    EXPECT_GT(std::stoi(fields[5]), 1000);
    EXPECT_NEAR(std::stoi(fields[6]), 5700, 15);
    // A steady tone passes the voicing check: the checked pitch is the traced one.
    EXPECT_EQ(fields[7], fields[6]);
    EXPECT_EQ(lines.back().rfind("293,1699.977,74969,", 0),
              0u);  // the last frame, on the last sample

    const fs::path json = folder.path() / "frames.json";
    ASSERT_EQ(Cli({"analyze", PathToUtf8(wave), "--format", "json", "-o", PathToUtf8(json)}).code,
              0);
    const std::string text = ReadFileBytes(json);
    EXPECT_NE(text.find("\"frame_count\": 294"), std::string::npos);
    EXPECT_NE(text.find("\"sample_pos\": 25600"), std::string::npos);

    // Every row: the time rounded as FormatFixed rounds it, and the same
    // numbers in the JSON listing (an unvoiced frame's empty pitch is null).
    std::size_t at = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::stringstream line(lines[i]);
        std::vector<std::string> values;
        while (std::getline(line, field, ',')) values.push_back(field);
        if (lines[i].back() == ',') values.push_back("");
        ASSERT_EQ(values.size(), 8u) << lines[i];
        ASSERT_EQ(values[1], FormatFixed(std::stoi(values[2]) / 44.1, 3)) << lines[i];
        const std::string expected =
            "{\"frame\": " + values[0] + ", \"time_ms\": " + values[1] +
            ", \"sample_pos\": " + values[2] +
            ", \"f0_hz\": " + (values[3].empty() ? "null" : values[3]) +
            ", \"confidence\": " + values[4] + ", \"loudness\": " + values[5] +
            ", \"pitch_cents\": " + values[6] + ", \"checked_cents\": " + values[7] + "}";
        at = text.find(expected, at);
        ASSERT_NE(at, std::string::npos) << expected;
    }
}

// A listing of over 20,000 frames is formatted in two halves at once: the
// rows run on without a gap or a repeat, and the JSON listing is exactly the
// CSV rows in its own form, joined as one list.
TEST_F(CommandLine, ALongListingIsOneUnbrokenRunOfRows) {
    const std::vector<std::int16_t> tones = ThreeTones();
    std::vector<std::int16_t> samples;
    for (int repeat = 0; repeat < 72; ++repeat)
        samples.insert(samples.end(), tones.begin(), tones.end());
    const fs::path longWave = recordingDir / "long.wav";
    WriteFileAtomically(longWave, WaveBytes(samples));
    const CliRun csv = Cli({"analyze", PathToUtf8(longWave)});
    ASSERT_EQ(csv.code, 0) << csv.err;
    const std::vector<std::string> lines = SplitLines(csv.out);
    const std::size_t frames =
        samples.size() / 256 + 2;  // every 256 samples from 0, and the last sample
    ASSERT_GT(frames, 20000u);
    ASSERT_EQ(lines.size(), 1u + frames);
    std::string objects;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].rfind(std::to_string(i - 1) + ",", 0), 0u) << lines[i];
        std::stringstream line(lines[i]);
        std::vector<std::string> values;
        std::string field;
        while (std::getline(line, field, ',')) values.push_back(field);
        if (lines[i].back() == ',') values.push_back("");
        ASSERT_EQ(values.size(), 8u) << lines[i];
        objects += (i == 1 ? "\n    " : ",\n    ");
        objects += "{\"frame\": " + values[0] + ", \"time_ms\": " + values[1] +
                   ", \"sample_pos\": " + values[2] +
                   ", \"f0_hz\": " + (values[3].empty() ? "null" : values[3]) +
                   ", \"confidence\": " + values[4] + ", \"loudness\": " + values[5] +
                   ", \"pitch_cents\": " + values[6] + ", \"checked_cents\": " + values[7] + "}";
    }
    const CliRun json = Cli({"analyze", PathToUtf8(longWave), "--format", "json"});
    ASSERT_EQ(json.code, 0) << json.err;
    const std::string head = "\"frame_count\": " + std::to_string(frames) + ",\n  \"frames\": [";
    const std::size_t at = json.out.find(head);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(json.out.substr(at + head.size()), objects + "\n  ]\n}\n");
}

TEST_F(CommandLine, FrqWritesBesideTheRecordingAndRefusesToOverwrite) {
    ASSERT_EQ(Cli({"frq", PathToUtf8(wave)}).code, 0);
    const fs::path table = recordingDir / "voice_wav.frq";
    EXPECT_EQ(fs::file_size(table), 40u + 16u * kFrames);
    WriteFileAtomically(table, "old");
    EXPECT_EQ(Cli({"frq", PathToUtf8(wave)}).code, 1);
    EXPECT_EQ(ReadFileBytes(table), "old");
    EXPECT_EQ(Cli({"frq", PathToUtf8(wave), "--force"}).code, 0);
    EXPECT_EQ(fs::file_size(table), 40u + 16u * kFrames);
}

TEST_F(CommandLine, PreviewWritesTheChosenStretch) {
    const fs::path out = folder.path() / "preview.wav";
    ASSERT_EQ(
        Cli({"preview", PathToUtf8(wave), "--from", "300", "--to", "700", "-o", PathToUtf8(out)})
            .code,
        0);
    // trunc(700 × 44.1) − trunc(300 × 44.1) + 1 samples of 2 bytes after the 44-byte header.
    EXPECT_EQ(fs::file_size(out), 44u + 2u * (30870u - 13230u + 1u));
    const fs::path resynth = folder.path() / "resynth.wav";
    ASSERT_EQ(Segment().code, 0);
    const CliRun run = Cli({"preview", PathToUtf8(wave), "--from", "300", "--to", "700",
                            "--resynth", "--state", PathToUtf8(state), "-o", PathToUtf8(resynth)});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(resynth).substr(0, 4), "RIFF");
    EXPECT_EQ(Cli({"preview", PathToUtf8(wave), "--from", "5000", "--to", "6000", "-o",
                   PathToUtf8(folder.path() / "none.wav")})
                  .code,
              1);
}

// Runs with another working folder and restores the old one.
class WorkingFolder {
  public:
    explicit WorkingFolder(const fs::path& folder) : old_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~WorkingFolder() {
        std::error_code ec;
        fs::current_path(old_, ec);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    fs::path old_;
};

TEST_F(CommandLine, RelativePathsAreStoredAbsoluteAndCorrectionWorksFromAnotherFolder) {
    // The recording's folder already gives か to another recording.
    WriteFileAtomically(recordingDir / "oto.ini",
                        JoinLinesCrLf({Sjis("other.wav=か,0,100,-300,60,20")}));
    {
        WorkingFolder here(recordingDir);
        const CliRun run = Cli({"segment", "voice.wav", "-o", "state.mlq", "--cuts",
                                "300,700,1100,1500", "--lyrics", "R,か,き,く,R"});
        ASSERT_EQ(run.code, 0) << run.err;
    }
    const fs::path relativeState = recordingDir / "state.mlq";
    ASSERT_TRUE(fs::exists(relativeState));
    EXPECT_NE(ReadFileBytes(relativeState).find("WaveFile=" + PathToCp932(wave) + "\r\n"),
              std::string::npos);

    fs::create_directories(folder.path() / "elsewhere");
    WorkingFolder elsewhere(folder.path() / "elsewhere");
    const CliRun run =
        Cli({"insert", PathToUtf8(pluginFile), "--state", "../take/state.mlq", "--correction"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("音源を作成しました。"), std::string::npos);
    const std::string oto = ReadFileBytes(recordingDir / "oto.ini");
    EXPECT_NE(oto.find(Sjis("other.wav=か,")), std::string::npos);
    EXPECT_NE(oto.find(Sjis("voice.wav=か1,")), std::string::npos);
    EXPECT_NE(oto.find(Sjis("voice.wav=き,")), std::string::npos);
    const std::vector<Section> notes = InsertedSections(pluginFile);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[1].Get("Lyric"), Sjis("か1"));
    EXPECT_NE(notes[1].Get("PreUtterance"), "0");
}

// The edit state falls back to UTF-8 with a mark for a path Shift-JIS cannot
// hold (never "?"); a lyric Shift-JIS cannot hold is refused by name.
TEST_F(CommandLine, APathShiftJisCannotHoldIsSavedInUtf8NotWithQuestionMarks) {
    const fs::path cafe = folder.path() / Utf8Path("café");
    fs::create_directories(cafe);
    fs::copy_file(wave, cafe / "voice.wav");
    const CliRun run = Cli({"segment", PathToUtf8(cafe / "voice.wav"), "-o", PathToUtf8(state)});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::string bytes = ReadFileBytes(state);
    EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
    EXPECT_NE(bytes.find("WaveFile=" + PathToUtf8(cafe / "voice.wav") + "\r\n"), std::string::npos);

    // Any Unicode lyric: the edit state then goes to UTF-8 with its mark.
    const fs::path other = folder.path() / "b.mlq";
    const CliRun lyrics = Cli({"segment", PathToUtf8(wave), "-o", PathToUtf8(other), "--cuts",
                               "300", "--lyrics", "你,가"});
    ASSERT_EQ(lyrics.code, 0) << lyrics.err;
    const std::string unicode = ReadFileBytes(other);
    EXPECT_TRUE(unicode.starts_with("\xEF\xBB\xBF"));
    EXPECT_NE(unicode.find("Lyric=你\r\n"), std::string::npos);
    EXPECT_NE(unicode.find("Lyric=가\r\n"), std::string::npos);
}

TEST_F(CommandLine, AutomaticCuttingRefusesBadLyricsAndWritesNothing) {
    for (const std::vector<std::string>& lyricArgs : {std::vector<std::string>{"--lyrics-line", ""},
                                                      {"--lyrics-line", "か1き"},
                                                      {"--lyrics", "か,,き"},
                                                      {"--lyrics-line", std::string(40 * 3, 'x')},
                                                      {"--lyrics", "か", "--lyrics-line", "か"}}) {
        std::vector<std::string> args{"segment", PathToUtf8(wave), "-o", PathToUtf8(state),
                                      "--auto"};
        args.insert(args.end(), lyricArgs.begin(), lyricArgs.end());
        const CliRun run = Cli(args);
        EXPECT_EQ(run.code, 1) << lyricArgs[1] << run.err;
        EXPECT_FALSE(fs::exists(state)) << lyricArgs[1];
    }
}

TEST_F(CommandLine, AnUnusableTempoIsReportedBeforeTheStateIsRead) {
    for (const char* tempo : {"0", "-120"}) {
        const std::string text =
            JoinLinesCrLf({"[#SETTING]", std::string("Tempo=") + tempo,
                           "VoiceDir=" + PathToCp932(voiceDir), "[#PREV]", "Length=480"});
        WriteFileAtomically(pluginFile, text);
        // The state does not exist: the tempo is what is reported.
        const CliRun run = Insert({});
        EXPECT_EQ(run.code, 1) << tempo;
        EXPECT_NE(run.err.find("tempo"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("no edit state"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFileBytes(pluginFile), text);
    }
    // A tempo so slow that a 300 ms segment is under half a tick would make a
    // note of length 0: refused, nothing written.
    ASSERT_EQ(Segment().code, 0);
    const std::string slow = JoinLinesCrLf(
        {"[#SETTING]", "Tempo=0.1", "VoiceDir=" + PathToCp932(voiceDir), "[#PREV]", "Length=480"});
    WriteFileAtomically(pluginFile, slow);
    const CliRun run = Insert({});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("長さ 0 の音符"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(pluginFile), slow);
}

// Replaces the stored pitch of frames first..last (all in the first key).
void StorePitch(const fs::path& state, int first, int last, int cents) {
    std::vector<std::string> lines = SplitLines(ReadFileBytes(state));
    for (std::string& line : lines) {
        if (!line.starts_with("Pitchs0=")) continue;
        std::vector<std::string> items;
        std::stringstream stream(line.substr(8));
        std::string item;
        while (std::getline(stream, item, ',')) items.push_back(item);
        for (int i = first; i <= last; ++i)
            items.at(static_cast<std::size_t>(i)) = std::to_string(cents);
        line = "Pitchs0=";
        for (std::size_t i = 0; i < items.size(); ++i) line += (i > 0 ? "," : "") + items[i];
    }
    WriteFileAtomically(state, JoinLinesCrLf(lines));
}

TEST_F(CommandLine, ValuesBeyondTheHostsRangeAreClampedAndCounted) {
    ASSERT_EQ(Segment().code, 0);
    // Frames 70..79 (about 406..459 ms, inside the A3 note) drawn 33 semitones up.
    StorePitch(state, 70, 79, 9000);
    const CliRun run = Insert({});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("clamped"), std::string::npos) << run.err;
    bool reachedTheLimit = false;
    for (const Section& note : InsertedSections(pluginFile)) {
        if (!note.Has("PBY")) continue;
        for (double value : Numbers(*note.Get("PBY"))) {
            EXPECT_LE(std::fabs(value), 204.7);
            reachedTheLimit = reachedTheLimit || value == 204.7;
        }
    }
    EXPECT_TRUE(reachedTheLimit);

    // Mode1: the pitch list stays within the 12-bit range.
    WriteFileAtomically(pluginFile, pluginText);
    const CliRun mode1 = Insert({"--pitch-mode", "1"});
    ASSERT_EQ(mode1.code, 0) << mode1.err;
    EXPECT_NE(mode1.err.find("clamped"), std::string::npos);
    const std::vector<Section> notes = InsertedSections(pluginFile);
    const std::vector<double> values = Numbers(*notes.at(1).Get("Pitches"));
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 2047.0);

    // Without such values the summary says nothing of clamping.
    ASSERT_EQ(Segment({"--force"}).code, 0);
    WriteFileAtomically(pluginFile, pluginText);
    const CliRun plain = Insert({});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(plain.err.find("clamped"), std::string::npos);
}

TEST_F(CommandLine, RawPitchIsAcceptedAndEveryLengthIsWhole) {
    ASSERT_EQ(Segment({"--raw-pitch"}).code, 0);
    const CliRun run = Insert({"--raw-pitch"});
    ASSERT_EQ(run.code, 0) << run.err;
    for (const Section& note : InsertedSections(pluginFile)) {
        const double length = std::stod(*note.Get("Length"));
        EXPECT_EQ(length, std::floor(length));
    }
}

TEST(ProgressBar, DrawsOnlyWhenEnabledAndAfterItsDelay) {
    std::ostringstream shown;
    {
        ProgressBar bar(shown, true, std::chrono::milliseconds(0));
        bar.Update("analyse", 0.5);
        bar.Update("images", 1.5);  // clamped to the whole
    }
    EXPECT_NE(shown.str().find("50% analyse"), std::string::npos);
    EXPECT_NE(shown.str().find("100% images"), std::string::npos);
    EXPECT_EQ(shown.str().back(), '\n');  // the line is ended when the bar goes

    std::ostringstream off;
    ProgressBar disabled(off, false, std::chrono::milliseconds(0));
    disabled.Update("analyse", 0.5);
    ProgressBar quick(off, true, std::chrono::hours(1));
    quick.Update("analyse", 0.5);
    quick.Finish();
    EXPECT_TRUE(off.str().empty());
}

}  // namespace
}  // namespace melodrift
