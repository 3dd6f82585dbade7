#include "editor/VoiceSource.h"

#include "audio/Frames.h"
#include "audio/FrequencyTable.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "voicebank/Voicebank.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;


std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

// Answers every question with `yes` and counts them.
class ScriptedPrompts : public SilentPrompts {
public:
    explicit ScriptedPrompts(bool yes) : yes_(yes) {}
    bool AskYesNo(std::string_view text) override {
        questions.emplace_back(text);
        return yes_;
    }
    std::vector<std::string> questions;

private:
    bool yes_;
};

// A session holding a silent recording of `durationMs` written to `wavePath`,
// with one analysis frame every 256 samples at the given pitch [Hz] (the
// last value repeats) and loudness, and the given segments.
void SetUpRecording(EditorSession& session, const fs::path& wavePath, double durationMs,
                    const std::vector<float>& f0Hz, const std::vector<std::int32_t>& volume) {
    const auto samples = static_cast<std::uint32_t>(durationMs * kSamplesPerMs);
    *session.Wave = MakeMono16Wave(samples);
    WriteFileAtomically(wavePath, session.Wave->SaveToBytes());
    const int frames = static_cast<int>(samples / kHopSamples) + 1;
    PitchAnalyser& analyser = *session.Analyser;
    analyser.Frames.assign(static_cast<std::size_t>(frames), AnalysisFrame{});
    analyser.Confidence.assign(static_cast<std::size_t>(frames), 0.0f);
    analyser.FrameCount = frames;
    session.FrameVolume.assign(static_cast<std::size_t>(frames), 0);
    for (int i = 0; i < frames; ++i) {
        const auto k = static_cast<std::size_t>(i);
        analyser.Frames[k].SamplePos = std::min<std::int32_t>(i * kHopSamples, static_cast<std::int32_t>(samples) - 1);
        analyser.Frames[k].TargetF0 = f0Hz.empty() ? 0.0f : f0Hz[std::min(k, f0Hz.size() - 1)];
        if (!volume.empty()) session.FrameVolume[k] = volume[std::min(k, volume.size() - 1)];
    }
    session.WaveFileName = wavePath;
    session.BuildPitchCents();
}

void SetSegments(EditorSession& session, const std::vector<std::pair<double, std::string>>& cuts) {
    session.Segments.clear();
    for (const auto& [startMs, lyric] : cuts) session.Segments.push_back(Segment{startMs, 0.0, lyric});
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
    void ResetLyrics() { SetSegments(session, {{0.0, "R"}, {200.0, std::string("か")}, {500.0, std::string("き")}}); }

    TempFolder folder;
    fs::path wave;
    EditorSession session;
    Voicebank voicebank;
};

TEST_F(VoiceEntries, ThreeSegmentsGiveTheWorkedOtoLines) {
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session), (std::vector<std::string>{"R0", std::string("か"), std::string("き")}));
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
    EXPECT_EQ(Aliases(session), (std::vector<std::string>{"R0", std::string("か"), std::string("き")}));
    EXPECT_EQ(ReadLines(folder.path() / "oto.ini").size(), 3u);
}

TEST_F(VoiceEntries, AnAliasTakenByAnotherRecordingGetsANumber) {
    const std::string other = Sjis("other.wav=か,10,20,-30,40,5");
    WriteFileAtomically(folder.path() / "oto.ini", JoinLinesCrLf({other}));
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session), (std::vector<std::string>{"R0", std::string("か1"), std::string("き")}));
    const std::vector<std::string> lines = ReadLines(folder.path() / "oto.ini");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], other);  // the other recording's entry stays, first
    EXPECT_EQ(lines[2], Sjis("voice.wav=か1,140,100,-396,60,20"));
}

TEST_F(VoiceEntries, RestsCountFromZeroAndRepeatedLyricsCountOn) {
    SetSegments(session, {{0.0, "R"}, {200.0, std::string("か")}, {400.0, "R"}, {600.0, std::string("か")}});
    WriteVoiceEntries(session, voicebank);
    EXPECT_EQ(Aliases(session), (std::vector<std::string>{"R0", std::string("か"), "R1", std::string("か1")}));
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
    EXPECT_EQ(Aliases(session), (std::vector<std::string>{"R", std::string("か"), std::string("き")}));
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

TEST(RecordingFitsOtoIni, SeparatorsAndCharactersShiftJisLacksAreRefused) {
    EXPECT_TRUE(RecordingFitsOtoIni(fs::path("take") / "voice.wav"));
    EXPECT_TRUE(RecordingFitsOtoIni(fs::path("take") / Utf8Path("か行.wav")));
    EXPECT_FALSE(RecordingFitsOtoIni(fs::path("take") / "a,b.wav"));
    EXPECT_FALSE(RecordingFitsOtoIni(fs::path("take") / "a=b.wav"));
    EXPECT_FALSE(RecordingFitsOtoIni(fs::path("take") / Utf8Path("café.wav")));
    EXPECT_FALSE(RecordingFitsOtoIni(Utf8Path("café") / "voice.wav"));
    // A separator in a folder name does no harm: only the file name goes
    // into the lines.
    EXPECT_TRUE(RecordingFitsOtoIni(fs::path("a,b") / "voice.wav"));
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
    ScriptedPrompts prompts(true);
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
}

TEST_F(FrequencyTableFile, AnExistingTableIsReplacedOnlyOnYes) {
    const fs::path table = folder.path() / "voice_wav.frq";
    WriteFileAtomically(table, "old");
    ScriptedPrompts no(false);
    EXPECT_FALSE(WriteFrequencyTable(session, no));
    EXPECT_EQ(no.questions, (std::vector<std::string>{"周波数表を上書きしますか?"}));
    EXPECT_EQ(ReadFileBytes(table), "old");
    ScriptedPrompts yes(true);
    EXPECT_TRUE(WriteFrequencyTable(session, yes));
    EXPECT_EQ(ReadFileBytes(table).substr(0, 8), "FREQ0003");
}

TEST_F(FrequencyTableFile, NothingIsWrittenWithoutTheRecordingOrFrames) {
    ScriptedPrompts prompts(true);
    fs::remove(wave);
    EXPECT_FALSE(WriteFrequencyTable(session, prompts));
    EXPECT_FALSE(fs::exists(folder.path() / "voice_wav.frq"));
    EditorSession empty;
    EXPECT_FALSE(WriteFrequencyTable(empty, prompts));
}

}  // namespace
}  // namespace melodrift
