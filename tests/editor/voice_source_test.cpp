#include "editor/VoiceSource.h"

#include "audio/Frames.h"
#include "audio/FrequencyTable.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "text/Encoding.h"
#include "voicebank/Voicebank.h"

#include <gtest/gtest.h>

#include "ScriptedPrompts.h"
#include "TempFolder.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedPrompts;
using testing::TempFolder;

std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

// A session holding a silent recording of `durationMs` written to `wavePath`,
// with one analysis frame every 256 samples at the given pitch [Hz] (the
// last value repeats) and loudness, and the given segments.
void SetUpRecording(EditorSession& session, const fs::path& wavePath, double durationMs,
                    const std::vector<float>& f0Hz, const std::vector<std::int32_t>& volume) {
    const auto samples = static_cast<std::uint32_t>(durationMs * kSamplesPerMs);
    *session.Wave = MakeMono16Wave(samples);
    WriteFileAtomically(wavePath, session.Wave->SaveToBytes());
    const int frames = static_cast<int>(samples / HopSize) + 1;
    PitchAnalyser& analyser = *session.Analyser;
    analyser.Frames.assign(static_cast<std::size_t>(frames), AnalysisFrame{});
    analyser.Confidence.assign(static_cast<std::size_t>(frames), 0.0f);
    analyser.FrameCount = frames;
    session.FrameVolume.assign(static_cast<std::size_t>(frames), 0);
    for (int i = 0; i < frames; ++i) {
        const auto k = static_cast<std::size_t>(i);
        analyser.Frames[k].SamplePos =
            std::min<std::int32_t>(i * HopSize, static_cast<std::int32_t>(samples) - 1);
        analyser.Frames[k].TargetF0 = f0Hz.empty() ? 0.0f : f0Hz[std::min(k, f0Hz.size() - 1)];
        if (!volume.empty()) session.FrameVolume[k] = volume[std::min(k, volume.size() - 1)];
    }
    session.WaveFileName = wavePath;
    session.BuildPitchCents();
}

void SetSegments(EditorSession& session, const std::vector<std::pair<double, std::string>>& cuts) {
    session.Segments.clear();
    for (const auto& [startMs, lyric] : cuts)
        session.Segments.push_back(Segment{startMs, 0.0, lyric});
    session.RecalcLengths();
}

std::vector<std::string> ReadLines(const fs::path& path) { return SplitLines(ReadFileBytes(path)); }

std::vector<std::string> Aliases(const EditorSession& session) {
    std::vector<std::string> aliases;
    for (const Segment& segment : session.Segments) aliases.push_back(segment.Lyric);
    return aliases;
}

// Segments R / か / き at 0, 200 and 500 ms of a 900 ms recording.
class VoiceEntries : public ::testing::Test {
  protected:
    void SetUp() override {
        wave = folder.path() / "voice.wav";
        SetUpRecording(session, wave, 900.0, {220.0f}, {1000});
        ResetLyrics();
    }
    void ResetLyrics() {
        SetSegments(session, {{0.0, "R"}, {200.0, std::string("か")}, {500.0, std::string("き")}});
    }

    TempFolder folder;
    fs::path wave;
    EditorSession session;
    Voicebank voicebank;
};

TEST_F(VoiceEntries, ThreeSegmentsGiveTheWorkedOtoLines) {
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session),
              (std::vector<std::string>{"R0", std::string("か"), std::string("き")}));
    const std::vector<std::string> expected{
        "voice.wav=R0,0,67,-236,0,0",
        Sjis("voice.wav=か,140,100,-396,60,20"),
        Sjis("voice.wav=き,440,100,-460,60,20"),
    };
    EXPECT_EQ(ReadLines(folder.path() / "oto.ini"), expected);
    // The file is CR LF throughout.
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"), JoinLinesCrLf(expected));
}

TEST_F(VoiceEntries, ASecondRunReplacesTheRecordingsOwnEntries) {
    WriteVoiceEntries(session, voicebank);
    ResetLyrics();  // the next Insert starts from the typed lyrics again
    Voicebank fresh;
    WriteVoiceEntries(session, fresh);
    EXPECT_EQ(Aliases(session),
              (std::vector<std::string>{"R0", std::string("か"), std::string("き")}));
    EXPECT_EQ(ReadLines(folder.path() / "oto.ini").size(), 3u);
}

TEST_F(VoiceEntries, AnAliasTakenByAnotherRecordingGetsANumber) {
    const std::string other = Sjis("other.wav=か,10,20,-30,40,5");
    WriteFileAtomically(folder.path() / "oto.ini", JoinLinesCrLf({other}));
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session),
              (std::vector<std::string>{"R0", std::string("か1"), std::string("き")}));
    const std::vector<std::string> lines = ReadLines(folder.path() / "oto.ini");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], other);  // the other recording's entry stays, first
    EXPECT_EQ(lines[2], Sjis("voice.wav=か1,140,100,-396,60,20"));
}

TEST_F(VoiceEntries, RestsCountFromZeroAndRepeatedLyricsCountOn) {
    SetSegments(session,
                {{0.0, "R"}, {200.0, std::string("か")}, {400.0, "R"}, {600.0, std::string("か")}});
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session),
              (std::vector<std::string>{"R0", std::string("か"), "R1", std::string("か1")}));
}

TEST_F(VoiceEntries, NoOverlapParameterGivesNoOverlapAnywhere) {
    session.CorrectionOverlap = 0.0;
    WriteVoiceEntries(session, voicebank);
    voicebank.LoadVoicebank(PathToUtf8(folder.path()));
    ASSERT_EQ(voicebank.OtoCount(), 3);
    for (const OtoEntry& entry : voicebank.OtoList()) EXPECT_EQ(entry.Overlap, 0.0) << entry.Alias;
}

TEST_F(VoiceEntries, NoPreUtteranceWithAnOverlapLeftOverStaysFinite) {
    // The overlap was entered while the pre-utterance was larger; the ratio
    // overlap / pre-utterance then has no value.
    session.CorrectionPreUtterance = 0.0;
    session.CorrectionOverlap = 20.0;
    WriteVoiceEntries(session, voicebank);
    const std::vector<std::string> lines = ReadLines(folder.path() / "oto.ini");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], Sjis("voice.wav=か,200,100,-376,0,0"));
}

TEST_F(VoiceEntries, SeparatorsInALyricCannotBreakTheOtoLine) {
    SetSegments(session, {{0.0, "R"}, {200.0, "a,b"}, {500.0, "c=d"}});
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session), (std::vector<std::string>{"R0", "a_b", "c_d"}));
    voicebank.LoadVoicebank(PathToUtf8(folder.path()));
    EXPECT_EQ(voicebank.OtoCount(), 3);
}

TEST_F(VoiceEntries, AMissingRecordingWritesNothing) {
    fs::remove(wave);
    WriteVoiceEntries(session, voicebank);
    EXPECT_FALSE(fs::exists(folder.path() / "oto.ini"));
    EXPECT_EQ(Aliases(session),
              (std::vector<std::string>{"R", std::string("か"), std::string("き")}));
}

TEST_F(VoiceEntries, MadeMeansWrittenAndReadBack) {
    EXPECT_TRUE(WriteVoiceEntries(session, voicebank));
    EXPECT_TRUE(VoiceEntriesReadBack(folder.path(), "voice.wav", Aliases(session)));
    // An alias the file does not hold, or another recording's name, is not there.
    EXPECT_FALSE(VoiceEntriesReadBack(folder.path(), "voice.wav", {std::string("け")}));
    EXPECT_FALSE(VoiceEntriesReadBack(folder.path(), "other.wav", {std::string("か")}));
    EXPECT_FALSE(VoiceEntriesReadBack(folder.path() / "none", "voice.wav", {}));
    // A folder that is gone gets no entries and makes no source.
    ResetLyrics();
    session.WaveFileName = folder.path() / "gone" / "voice.wav";
    EXPECT_FALSE(WriteVoiceEntries(session, voicebank));
}

// The hand-set oto.ini of a real voicebank, cut down (tests/data/dorodoro):
// Shift-JIS, LF line ends, values with decimals ("617.46", "450.0"),
// comment and blank lines between the recordings' entries.
std::string RealOtoIni() {
    const char* data = std::getenv("MELODRIFT_TEST_DATA");
    EXPECT_NE(data, nullptr) << "MELODRIFT_TEST_DATA names the tests folder (ctest sets it)";
    return data != nullptr ? ReadFileBytes(Utf8Path(data) / "data" / "dorodoro" / "oto.ini")
                           : std::string();
}

TEST_F(VoiceEntries, InARealBanksOtoIniOnlyTheRecordingsOwnLinesChange) {
    const std::string recording = std::string("_あんああいあうあ.wav");
    const std::string before = RealOtoIni();
    ASSERT_NE(before.find("617.46,450.0,-700.0,300.0,100.0\n"), std::string::npos);
    WriteFileAtomically(folder.path() / "oto.ini", before);
    wave = folder.path() / Utf8Path(recording);
    SetUpRecording(session, wave, 900.0, {220.0f}, {1000});
    ResetLyrics();
    ASSERT_TRUE(WriteVoiceEntries(session, voicebank));

    // before = head + the recording's nine lines + tail; after = head + its
    // three new lines (LF, like the file) + tail, byte for byte.
    const std::string own = Sjis((recording + "=").c_str());
    const std::size_t first = before.find("\n" + own) + 1;
    const std::size_t last = before.rfind("\n" + own) + 1;
    const std::string head = before.substr(0, first);
    const std::string tail = before.substr(before.find('\n', last) + 1);
    const std::string after = ReadFileBytes(folder.path() / "oto.ini");
    ASSERT_TRUE(after.starts_with(head));
    ASSERT_TRUE(after.ends_with(tail));
    EXPECT_EQ(after.substr(head.size(), after.size() - head.size() - tail.size()),
              own + "R0,0,67,-236,0,0\n" + own + Sjis("か,140,100,-396,60,20\n") + own +
                  Sjis("き,440,100,-460,60,20\n"));

    // A recording without entries adds its lines after the last one.
    wave = folder.path() / "voice.wav";
    SetUpRecording(session, wave, 900.0, {220.0f}, {1000});
    ResetLyrics();
    ASSERT_TRUE(WriteVoiceEntries(session, voicebank));
    const std::string added = ReadFileBytes(folder.path() / "oto.ini");
    ASSERT_TRUE(added.starts_with(after));
    EXPECT_EQ(added.substr(after.size()), "voice.wav=R1,0,67,-236,0,0\n" +
                                              Sjis("voice.wav=か1,140,100,-396,60,20\n") +
                                              Sjis("voice.wav=き1,440,100,-460,60,20\n"));
}

TEST_F(VoiceEntries, ANewOtoIniIsReadBackInTheUtf8ItWasWrittenIn) {
    // 가 and ゔ have no Shift-JIS form: the new file is UTF-8 with a mark,
    // also in place of an empty one.
    for (const bool emptyFileThere : {false, true}) {
        if (emptyFileThere) WriteFileAtomically(folder.path() / "oto.ini", "");
        SetSegments(session, {{0.0, "R"}, {200.0, std::string("가")}, {500.0, std::string("ゔ")}});
        ASSERT_TRUE(WriteVoiceEntries(session, voicebank));
        EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"),
                  std::string(kUtf8Bom) +
                      JoinLinesCrLf({"voice.wav=R0,0,67,-236,0,0",
                                     std::string("voice.wav=가,140,100,-396,60,20"),
                                     std::string("voice.wav=ゔ,440,100,-460,60,20")}));
        EXPECT_TRUE(VoiceEntriesReadBack(folder.path(), "voice.wav", Aliases(session)));
    }
}

TEST_F(VoiceEntries, ADecomposedFileNameIsWrittenComposed) {
    // "がぎ.wav" as macOS names it: か + U+3099, き + U+3099.
    const std::string decomposed = "\xE3\x81\x8B\xE3\x82\x99\xE3\x81\x8D\xE3\x82\x99.wav";
    const std::string composed = std::string("がぎ.wav");
    // An earlier entry in the composed form is the recording's own.
    WriteFileAtomically(
        folder.path() / "oto.ini",
        JoinLinesCrLf({Sjis("がぎ.wav=が,1,2,-3,4,5"), Sjis("other.wav=き,1,2,-3,4,5")}));
    wave = folder.path() / Utf8Path(decomposed);
    SetUpRecording(session, wave, 900.0, {220.0f}, {1000});
    ResetLyrics();
    EXPECT_TRUE(RecordingFitsOtoIni(wave));
    ASSERT_TRUE(WriteVoiceEntries(session, voicebank));
    EXPECT_EQ(Aliases(session),
              (std::vector<std::string>{"R0", std::string("か"), std::string("き1")}));
    EXPECT_EQ(ReadLines(folder.path() / "oto.ini"),
              (std::vector<std::string>{
                  Sjis("がぎ.wav=R0,0,67,-236,0,0"), Sjis("がぎ.wav=か,140,100,-396,60,20"),
                  Sjis("がぎ.wav=き1,440,100,-460,60,20"), Sjis("other.wav=き,1,2,-3,4,5")}));
    EXPECT_TRUE(VoiceEntriesReadBack(folder.path(), composed, Aliases(session)));
}

TEST(RecordingFitsOtoIni, TheFileNameMustFitTheFoldersOwnOtoIni) {
    TempFolder folder;
    const fs::path none = folder.path() / "none";      // no oto.ini: a new one takes any name
    const fs::path shiftJis = folder.path() / "sjis";  // a Shift-JIS oto.ini
    const fs::path utf8 =
        folder.path() / Utf8Path("café");  // a UTF-8 oto.ini, in a folder Shift-JIS lacks
    fs::create_directories(none);
    folder.Write("sjis/oto.ini", Sjis("a.wav=か,1,2,-3,4,5\r\n"));
    folder.Write(PathToUtf8(fs::path("café") / "oto.ini"),
                 std::string(kUtf8Bom) + "a.wav=가,1,2,-3,4,5\r\n");
    for (const fs::path& dir : {none, shiftJis, utf8}) {
        EXPECT_TRUE(RecordingFitsOtoIni(dir / "voice.wav")) << dir;
        EXPECT_TRUE(RecordingFitsOtoIni(dir / Utf8Path("か行.wav"))) << dir;
        // Separators split a line in any encoding.
        EXPECT_FALSE(RecordingFitsOtoIni(dir / "a,b.wav")) << dir;
        EXPECT_FALSE(RecordingFitsOtoIni(dir / "a=b.wav")) << dir;
    }
    EXPECT_TRUE(RecordingFitsOtoIni(none / Utf8Path("녹음.wav")));
    EXPECT_TRUE(RecordingFitsOtoIni(utf8 / Utf8Path("录音.wav")));
    EXPECT_FALSE(RecordingFitsOtoIni(shiftJis / Utf8Path("café.wav")));
    EXPECT_FALSE(
        RecordingFitsOtoIni(shiftJis / Utf8Path("〜.wav")));  // only a look-alike comes back
    // A separator in a folder name does no harm: only the file name goes
    // into the lines.
    EXPECT_TRUE(RecordingFitsOtoIni(fs::path("a,b") / "voice.wav"));
    // The refusal names the character and the encoding.
    const std::string refusal = RecordingNameRefusal("café.wav");
    EXPECT_NE(refusal.find(std::string("「é」")), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("Shift-JIS"), std::string::npos) << refusal;
}

TEST(FrequencyTablePath, ReplacesTheExtensionWhateverItsCase) {
    EXPECT_EQ(FrequencyTablePath(fs::path("dir") / "voice.WAV"), fs::path("dir") / "voice_wav.frq");
    EXPECT_EQ(FrequencyTablePath(fs::path("voice.wav")), fs::path("voice_wav.frq"));
    EXPECT_EQ(FrequencyTablePath(fs::path("take.2.wav")), fs::path("take.2_wav.frq"));
}

class FrequencyTableFile : public ::testing::Test {
  protected:
    void SetUp() override {
        wave = folder.path() / "voice.WAV";
        // Frames 0 and 1 unvoiced, then 440 Hz.
        SetUpRecording(session, wave, 100.0, {0.0f, 0.0f, 440.0f}, {0, 500, 12000});
    }
    TempFolder folder;
    fs::path wave;
    EditorSession session;
};

TEST_F(FrequencyTableFile, HoldsOneItemPerFrameWithTheUnvoicedFill) {
    ScriptedPrompts prompts = ScriptedPrompts::Answering(true);
    ASSERT_TRUE(WriteFrequencyTable(session, prompts));
    EXPECT_TRUE(prompts.questions.empty());
    const std::string bytes = ReadFileBytes(folder.path() / "voice_wav.frq");
    const auto frames = static_cast<std::size_t>(session.FrameCount());
    ASSERT_EQ(bytes.size(), 40 + 16 * frames);
    EXPECT_EQ(bytes.substr(0, 8), "FREQ0003");
    auto item = [&](std::size_t i, std::size_t field) {
        double value = 0.0;
        std::memcpy(&value, bytes.data() + 40 + 16 * i + 8 * field, 8);
        return value;
    };
    EXPECT_EQ(item(0, 0), 55.0);
    EXPECT_EQ(item(1, 0), 55.0);
    EXPECT_EQ(item(2, 0), 440.0);
    EXPECT_EQ(item(frames - 1, 0), 440.0);
    EXPECT_EQ(item(0, 1), 0.0);
    EXPECT_EQ(item(1, 1), 500.0);
    EXPECT_EQ(item(2, 1), 12000.0);

    // A frame the voicing check rejects is written unvoiced; with the check
    // off (the raw pitch) it keeps its traced pitch.
    session.PitchRejected.assign(frames, 0);
    session.PitchRejected[3] = 1;
    FrequencyTable table;
    FillFrequencyTable(session, table);
    EXPECT_EQ(table.Items[2].Freq, 440.0);
    EXPECT_EQ(table.Items[3].Freq, 55.0);
    session.VoicingCheck = false;
    FillFrequencyTable(session, table);
    EXPECT_EQ(table.Items[3].Freq, 440.0);
}

TEST_F(FrequencyTableFile, AnExistingTableIsReplacedOnlyOnYes) {
    const fs::path table = folder.path() / "voice_wav.frq";
    WriteFileAtomically(table, "old");
    ScriptedPrompts no = ScriptedPrompts::Answering(false);
    EXPECT_FALSE(WriteFrequencyTable(session, no));
    EXPECT_EQ(no.questions, (std::vector<std::string>{"周波数表を上書きしますか?"}));
    EXPECT_EQ(ReadFileBytes(table), "old");
    ScriptedPrompts yes = ScriptedPrompts::Answering(true);
    EXPECT_TRUE(WriteFrequencyTable(session, yes));
    EXPECT_EQ(ReadFileBytes(table).substr(0, 8), "FREQ0003");
}

TEST_F(FrequencyTableFile, NothingIsWrittenWithoutTheRecordingOrFrames) {
    ScriptedPrompts prompts = ScriptedPrompts::Answering(true);
    fs::remove(wave);
    EXPECT_FALSE(WriteFrequencyTable(session, prompts));
    EXPECT_FALSE(fs::exists(folder.path() / "voice_wav.frq"));
    EditorSession empty;
    EXPECT_FALSE(WriteFrequencyTable(empty, prompts));
}

}  // namespace
}  // namespace melodrift
