#include "editor/Insertion.h"

#include "audio/Frames.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/Session.h"
#include "plugin/Note.h"
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "voicebank/Voicebank.h"

#include <gtest/gtest.h>

#include "PluginSections.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;
using testing::ReadSections;
using testing::ScriptedPrompts;
using testing::Section;
using testing::TempFolder;

std::string Sjis(const char* utf8) { return Utf8ToCp932(utf8); }

std::vector<int> Volumes(const std::string& envelope) {
    // P1,P2,P3,V1,V2,V3,V4,%,P4[,P5,V5]
    std::vector<std::string> fields;
    std::string field;
    for (char c : envelope + ",") {
        if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    return {std::stoi(fields.at(3)), std::stoi(fields.at(4)), std::stoi(fields.at(5)),
            std::stoi(fields.at(6))};
}

// A session with a loaded plug-in file (tempo 120) and a silent recording
// whose frames carry the pitch `centsAt(frame)`; everything in a temp folder.
class InsertFixture : public ::testing::Test {
  protected:
    void LoadPluginFile(const std::string& voiceDirCp932, const std::string& tempo = "120.00") {
        pluginFile = folder.path() / "plugin.tmp";
        original = JoinLinesCrLf({"[#SETTING]", "Tempo=" + tempo, "VoiceDir=" + voiceDirCp932,
                                  "[#0000]", "Length=480", "Lyric=R", "NoteNum=60"});
        WriteFileAtomically(pluginFile, original);
        session.Notes = std::make_unique<NoteList>(&voicebank);
        ScriptedPrompts quiet = ScriptedPrompts::Answering(false);
        ASSERT_EQ(session.Notes->LoadFromPluginFile(pluginFile, quiet), 2);
    }

    template <typename CentsAt>
    void LoadRecording(double durationMs, CentsAt centsAt, std::int32_t volume = 0) {
        wave = folder.path() / Utf8Path(waveName);
        const auto samples = static_cast<std::uint32_t>(durationMs * kSamplesPerMs);
        *session.Wave = MakeMono16Wave(samples);
        WriteFileAtomically(wave, session.Wave->SaveToBytes());
        const int frames = static_cast<int>(samples / HopSize) + 1;
        PitchAnalyser& analyser = *session.Analyser;
        analyser.Frames.assign(static_cast<std::size_t>(frames), AnalysisFrame{});
        analyser.Confidence.assign(static_cast<std::size_t>(frames), 0.0f);
        analyser.FrameCount = frames;
        for (int i = 0; i < frames; ++i) {
            auto& frame = analyser.Frames[static_cast<std::size_t>(i)];
            frame.SamplePos =
                std::min<std::int32_t>(i * HopSize, static_cast<std::int32_t>(samples) - 1);
            frame.TargetF0 = static_cast<float>(CentsToHz(centsAt(i)));
        }
        session.FrameVolume.assign(static_cast<std::size_t>(frames), volume);
        session.WaveFileName = wave;
        session.BuildPitchCents();
    }

    void SetSegments(const std::vector<std::pair<double, std::string>>& cuts) {
        session.Segments.clear();
        for (const auto& [startMs, lyric] : cuts)
            session.Segments.push_back(Segment{startMs, 0.0, lyric});
        session.RecalcLengths();
    }

    std::vector<Section> Inserted() {
        std::vector<Section> notes;
        for (Section& s : ReadSections(pluginFile))
            if (s.Name == "#INSERT") notes.push_back(std::move(s));
        return notes;
    }

    TempFolder folder;
    fs::path pluginFile;
    fs::path wave;
    std::string waveName = "voice.wav";
    std::string original;
    Voicebank voicebank;
    EditorSession session;
    ScriptedPrompts prompts = ScriptedPrompts::Answering(false);  // No once the answers run out
};

// Frames of the three segments at 0, 500 and 1250 ms sit at keys 60, 62, 64.
double ThreeKeys(int frame) {
    const double ms = frame * HopSize / kSamplesPerMs;
    return ms < 500.0 ? 6000.0 : ms < 1250.0 ? 6200.0 : 6400.0;
}

TEST(EstimateKey, CountsNotesAndTheLowestWinsATie) {
    const std::vector<std::int32_t> cents{6010, 6040, 6060, 6140};
    // Frames 0..3: from 0 ms to the time of frame 3.
    const Segment segment{0.0, 3 * 256 / 44.1, "a"};
    EXPECT_EQ(EstimateKey(cents, segment), 60);
}

TEST(EstimateKey, UnvoicedFramesAndPitchesOffTheKeyboardAreNotCounted) {
    EXPECT_EQ(EstimateKey(std::vector<std::int32_t>{0, 0, 0}, Segment{0.0, 10.0, "a"}), 0);
    EXPECT_EQ(EstimateKey(std::vector<std::int32_t>{}, Segment{0.0, 10.0, "a"}), 0);
    // 20000 and −300 cents have no note number; the one 6900 decides.
    EXPECT_EQ(EstimateKey(std::vector<std::int32_t>{20000, 20000, -300, 6900},
                          Segment{0.0, 3 * 256 / 44.1, "a"}),
              69);
}

TEST(EstimateKey, OnlyTheSegmentsFramesCount) {
    std::vector<std::int32_t> cents(100, 6000);
    for (std::size_t i = 50; i < 100; ++i) cents[i] = 7200;
    // Frames 60..80 (each frame i at i × 5.805 ms).
    EXPECT_EQ(EstimateKey(cents, Segment{60 * 256 / 44.1, 20 * 256 / 44.1, "a"}), 72);
    EXPECT_EQ(EstimateKey(cents, Segment{0.0, 40 * 256 / 44.1, "a"}), 60);
}

TEST(PitchCentsAt, InterpolatesBetweenFramesAndIsZeroOutside) {
    const std::vector<std::int32_t> cents{6000, 6100, 6200, 6300};
    const std::int64_t samples = 3 * 256 + 1;  // the last frame sits on the last sample
    const double frameMs = 256 / 44.1;
    EXPECT_EQ(PitchCentsAt(cents, samples, 0.0), 6000);
    EXPECT_EQ(PitchCentsAt(cents, samples, frameMs * 0.5), 6050);
    EXPECT_EQ(PitchCentsAt(cents, samples, frameMs * 1.25), 6125);
    EXPECT_EQ(PitchCentsAt(cents, samples, -0.1), 0);
    EXPECT_EQ(PitchCentsAt(cents, samples, samples / 44.1 + 0.1), 0);
}

TEST(PitchCentsAt, TheEndOfTheRecordingHoldsTheLastFrame) {
    // 1000 samples give frames at 0, 256, 512, 768; the recording runs to
    // 1000 / 44.1 ms, past the last frame, where the nearest frame would be
    // frame 4 (none).
    const std::vector<std::int32_t> cents{6000, 6100, 6200, 6300};
    EXPECT_EQ(PitchCentsAt(cents, 1000, 1000 / 44.1), 6300);
    EXPECT_EQ(PitchCentsAt(cents, 1000, 900 / 44.1), 6300);
    EXPECT_EQ(PitchCentsAt(std::vector<std::int32_t>{}, 1000, 5.0), 0);
}

TEST(LoudnessGain, RunsFromSilenceToLoudInWholePercent) {
    EXPECT_DOUBLE_EQ(LoudnessGain(0), 0.2);
    EXPECT_DOUBLE_EQ(LoudnessGain(23000), 1.8);
    EXPECT_DOUBLE_EQ(LoudnessGain(22999), 1.79);  // 159 whole percent above 20
}

TEST_F(InsertFixture, SegmentsBecomeNotesWithTheirLengthsInTicks) {
    LoadPluginFile("");
    LoadRecording(2000.0, ThreeKeys);
    SetSegments({{0.0, "R"}, {500.0, "a"}, {1250.0, "b"}});
    const InsertSummary summary = Insert(session, voicebank, prompts);
    EXPECT_EQ(summary.Notes, 3);
    EXPECT_EQ(summary.Replaced, 1);            // the selected [#0000]
    EXPECT_EQ(summary.TicksPastSelection, 0);  // no [#NEXT] was sent
    const std::vector<Section> notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].Get("Length"), "480");
    EXPECT_EQ(notes[1].Get("Length"), "720");
    EXPECT_EQ(notes[2].Get("Length"), "720");
    EXPECT_EQ(notes[0].Get("Lyric"), "R");
    EXPECT_EQ(notes[1].Get("Lyric"), "a");
    EXPECT_EQ(notes[2].Get("Lyric"), "b");
    // Tempo 120 was read, so no settings section is written back; the
    // selected note is deleted before the new ones.
    EXPECT_EQ(ReadSections(pluginFile).size(), 4u);
    EXPECT_EQ(ReadSections(pluginFile).front().Name, "#DELETE");
    EXPECT_EQ(session.Notes->Count(), 3);
    // The edit state was not modified: nothing was asked.
    EXPECT_TRUE(prompts.questions.empty());
}

TEST_F(InsertFixture, LyricsWithoutAnAliasAreListedOnce) {
    // Romaji typed into a kana bank: "ka" has no entry, "か" has one. (A
    // sample named ka.wav would be found by "ka", as the hosts find it.)
    folder.Write("bank/oto.ini", Sjis("_ka.wav=か,20,90,-300,70,20\r\n"));
    LoadPluginFile(PathToCp932(folder.path() / "bank"));
    LoadRecording(2000.0, ThreeKeys);
    SetSegments({{0.0, "ka"}, {500.0, "か"}, {1000.0, "ka"}, {1250.0, "R"}});
    const InsertSummary summary = Insert(session, voicebank, prompts);
    EXPECT_EQ(summary.LyricsWithoutAlias, std::vector<std::string>{"ka"});
    EXPECT_NE(SummaryText(summary).find("エイリアスがない歌詞: ka"), std::string::npos);
    EXPECT_NE(SummaryTextEnglish(summary).find("no alias in the voicebank for: ka"),
              std::string::npos);
}

TEST_F(InsertFixture, KeysAndPitchAreWrittenOnlyWithTheirBoxes) {
    LoadPluginFile("");
    LoadRecording(2000.0, ThreeKeys);
    SetSegments({{0.0, "a"}, {500.0, "b"}, {1250.0, "c"}});
    Insert(session, voicebank, prompts);
    std::vector<Section> notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].Get("NoteNum"), "60");
    EXPECT_EQ(notes[1].Get("NoteNum"), "62");
    EXPECT_EQ(notes[2].Get("NoteNum"), "64");

    // Both boxes off: every key stays 60 and no pitch is written, not even in Mode1.
    WriteFileAtomically(pluginFile, original);
    session.KeyEnabled = false;
    session.PitchEnabled = false;
    session.PitchMode = PitchEncoding::Mode1;
    Insert(session, voicebank, prompts);
    notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    for (const Section& note : notes) {
        EXPECT_EQ(note.Get("NoteNum"), "60");
        EXPECT_FALSE(note.Has("Pitches"));
    }
}

TEST_F(InsertFixture, PitchPointsFollowTheTraceRelativeToTheKey) {
    LoadPluginFile("");
    LoadRecording(1500.0, [](int) { return 6230.0; });
    SetSegments({{0.0, "a"}, {500.0, "b"}});
    session.PitchMode = PitchEncoding::Mode1;
    Insert(session, voicebank, prompts);
    Note* note = session.Notes->GetNote(2);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->NoteNum, 62);
    const double sampleStart =
        note->StartMs - note->EffectivePreUtterance() - note->EffectiveStartPoint();
    int inside = 0;
    for (const PitchPoint& point : note->PitchPoints) {
        const double t = sampleStart + point.TimeMs;
        if (t >= 0.0 && t <= 1500.0) {
            EXPECT_EQ(point.Value, 30.0) << "at " << t << " ms";
            ++inside;
        } else {
            EXPECT_EQ(point.Value, 0.0) << "outside the recording at " << t << " ms";
        }
    }
    EXPECT_GT(inside, 100);
}

TEST_F(InsertFixture, Mode1WritesThePitchListOnEveryNote) {
    LoadPluginFile("");
    LoadRecording(2000.0, ThreeKeys);
    SetSegments({{0.0, "R"}, {500.0, "a"}, {1250.0, "b"}});
    session.PitchMode = PitchEncoding::Mode1;
    Insert(session, voicebank, prompts);
    const std::vector<Section> notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    for (const Section& note : notes) {
        EXPECT_TRUE(note.Has("Pitches")) << note.Get("Lyric").value_or("");
        EXPECT_TRUE(note.Has("PBStart"));
        EXPECT_FALSE(note.Has("PBS"));
    }
}

TEST_F(InsertFixture, TheEnvelopeFollowsTheLoudnessOnlyWithTheVolumeBox) {
    LoadPluginFile("");
    // Silence everywhere: gain 0.2, so full volume (100) becomes 20.
    LoadRecording(2000.0, ThreeKeys, 0);
    SetSegments({{0.0, "a"}, {500.0, "b"}, {1250.0, "c"}});
    Insert(session, voicebank, prompts);
    std::vector<Section> notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    ASSERT_TRUE(notes[1].Has("Envelope"));
    EXPECT_EQ(Volumes(*notes[1].Get("Envelope")), (std::vector<int>{20, 20, 20, 20}));

    WriteFileAtomically(pluginFile, original);
    session.VolumeEnabled = false;
    Insert(session, voicebank, prompts);
    notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    for (const Section& note : notes) {
        if (note.Has("Envelope")) {
            EXPECT_NE(Volumes(*note.Get("Envelope"))[1], 20);
        }
    }
}

TEST_F(InsertFixture, VoiceCorrectionIgnoresTheBoxesAndUsesTheNewEntries) {
    LoadPluginFile("");
    LoadRecording(900.0, [](int frame) { return frame < 40 ? 6000.0 : 6500.0; });
    SetSegments({{0.0, "R"}, {200.0, std::string("か")}, {500.0, std::string("き")}});
    session.CorrectionMode = true;
    session.KeyEnabled = false;
    session.PitchEnabled = false;
    session.VolumeEnabled = true;
    session.PitchMode = PitchEncoding::Mode1;
    Insert(session, voicebank, prompts);

    const std::vector<Section> notes = Inserted();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].Get("Lyric"), "R0");
    EXPECT_EQ(notes[1].Get("Lyric"), Sjis("か"));
    EXPECT_EQ(notes[2].Get("Lyric"), Sjis("き"));
    for (const Section& note : notes) {
        EXPECT_EQ(note.Get("Intensity"), "80");
        EXPECT_EQ(note.Lines.back(), (std::pair<std::string, std::string>{"Flags", "P0"}));
        EXPECT_TRUE(note.Has("Pitches"));  // the pitch box is ignored
    }
    EXPECT_EQ(notes[0].Get("NoteNum"), "60");  // the key box is ignored too
    EXPECT_EQ(notes[2].Get("NoteNum"), "65");
    // Each note takes its entry's pre-utterance and overlap; the envelope
    // crosses over the note's own overlap and the next note's.
    EXPECT_EQ(notes[1].Get("PreUtterance"), "60");
    EXPECT_EQ(notes[1].Get("VoiceOverlap"), "20");
    const Note* ka = session.Notes->GetNote(2);
    ASSERT_NE(ka, nullptr);
    EXPECT_EQ(ka->Envelope[2].Offset, 20.0);
    EXPECT_EQ(ka->Envelope[3].Offset, 20.0);
    // No loudness: every volume stays at its default (never 20 from silence).
    for (int k = 1; k <= 5; ++k) EXPECT_NE(ka->Envelope[static_cast<std::size_t>(k)].Volume, 20);
    // The voice source beside the recording, and the request to switch to it.
    EXPECT_TRUE(fs::exists(folder.path() / "oto.ini"));
    EXPECT_TRUE(fs::exists(folder.path() / "voice_wav.frq"));
    EXPECT_EQ(
        prompts.informs,
        (std::vector<std::string>{"音源を作成しました。原音ファイルセットを切り替えてください。"}));
}

TEST_F(InsertFixture, NoSwitchRequestWhenTheProjectAlreadyUsesTheRecordingsFolder) {
    LoadPluginFile(PathToCp932(folder.path()) + static_cast<char>(fs::path::preferred_separator));
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, std::string("か")}});
    session.CorrectionMode = true;
    Insert(session, voicebank, prompts);
    EXPECT_TRUE(prompts.informs.empty());
}

TEST_F(InsertFixture, AModifiedStateIsOfferedForSavingBeforeTheAliasesAreSet) {
    LoadPluginFile("");
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, "R"}, {200.0, std::string("か")}});
    session.CorrectionMode = true;
    session.Modified = true;
    prompts.answers = {true};
    prompts.files = {folder.path() / "state.mlq"};
    Insert(session, voicebank, prompts);
    ASSERT_FALSE(prompts.questions.empty());
    EXPECT_EQ(prompts.questions.front(), "編集状態を保存しますか?");
    const std::string state = ReadFileBytes(folder.path() / "state.mlq");
    EXPECT_NE(state.find("Lyric=R\r\n"), std::string::npos);
    EXPECT_EQ(state.find("R0"), std::string::npos);
    EXPECT_EQ(Inserted().size(), 2u);
}

TEST_F(InsertFixture, AFailedWriteLeavesTheFileAndTheSessionAsTheyWere) {
    LoadPluginFile("");
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, "R"}, {200.0, std::string("か")}});
    session.CorrectionMode = true;
    // The folder's oto.ini cannot be replaced: a folder with something in it
    // stands in its place.
    fs::create_directories(folder.path() / "oto.ini" / "x");
    EXPECT_ANY_THROW(Insert(session, voicebank, prompts));
    EXPECT_EQ(ReadFileBytes(pluginFile), original);
    EXPECT_FALSE(fs::exists(folder.path() / "voice_wav.frq"));  // no file of the three was written
    EXPECT_EQ(session.Notes->Count(), 0);
    ASSERT_EQ(session.Segments.size(), 2u);
    EXPECT_EQ(session.Segments[0].Lyric, "R");  // not its alias R0

    // With the obstacle gone, a second Insert makes exactly the two notes.
    fs::remove_all(folder.path() / "oto.ini");
    Insert(session, voicebank, prompts);
    const std::vector<Section> notes = Inserted();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Get("Lyric"), "R0");
}

// Fails every write step for which `fail(step, count of that step so far)`
// is true, while it lives.
class FailingSteps {
  public:
    explicit FailingSteps(std::function<bool(FileStep, int)> fail) : fail_(std::move(fail)) {
        SetFileFaultHook([this](FileStep step) { return fail_(step, ++counts_[step]); });
    }
    ~FailingSteps() { SetFileFaultHook({}); }

  private:
    std::function<bool(FileStep, int)> fail_;
    std::map<FileStep, int> counts_;
};

TEST_F(InsertFixture, AnUnwritablePluginFileLeavesOtoIniAndTheTableByteIdentical) {
    LoadPluginFile("");
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, "R"}, {200.0, std::string("か")}});
    session.CorrectionMode = true;
    // Another recording's entry and an older table of this one.
    const std::string oto = "other.wav=" + Sjis("あ") + ",0,100,-300,60,20\r\n";
    const std::string table = "FREQ0003 an older table";
    folder.Write("oto.ini", oto);
    folder.Write("voice_wav.frq", table);
    prompts.answers = {true};  // replace the table
    {
        // The plug-in file is the third file replaced.
        FailingSteps fault(
            [](FileStep step, int count) { return step == FileStep::Rename && count == 3; });
        EXPECT_THROW(Insert(session, voicebank, prompts), std::system_error);
    }
    EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"), oto);
    EXPECT_EQ(ReadFileBytes(folder.path() / "voice_wav.frq"), table);
    EXPECT_EQ(ReadFileBytes(pluginFile), original);
    EXPECT_EQ(session.Notes->Count(), 0);
    EXPECT_EQ(session.Segments[0].Lyric, "R");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"oto.ini", "plugin.tmp", "voice.wav", "voice_wav.frq"}));
}

TEST_F(InsertFixture, AFailureAtAnyStepOfTheVoiceCorrectionWritesLeavesAllThreeFilesOldOrNew) {
    LoadPluginFile("");
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, "R"}, {200.0, std::string("か")}});
    session.CorrectionMode = true;
    const std::string oto = "other.wav=a,0,100,-300,60,20\r\n";
    const auto files = [&] {
        std::string all;
        for (const char* name : {"oto.ini", "voice_wav.frq", "plugin.tmp"}) {
            const fs::path path = folder.path() / name;
            all += (fs::exists(path) ? ReadFileBytes(path) : std::string("<none>")) + "|";
        }
        return all;
    };
    int failures = 0;
    for (int n = 1; n < 60; ++n) {
        folder.Write("oto.ini", oto);
        folder.Write("plugin.tmp", original);
        std::error_code ec;
        fs::remove(folder.path() / "voice_wav.frq", ec);
        const std::string before = files();
        int steps = 0;
        FileStep failed = FileStep::Create;
        {
            FailingSteps fault([&](FileStep step, int) {
                if (++steps == n) failed = step;
                return steps == n;
            });
            try {
                Insert(session, voicebank, prompts);
            } catch (const std::system_error&) {
                ++failures;
                EXPECT_EQ(files(), before) << "failing step " << n;
                continue;
            }
        }
        // The first run that got through wrote all three files. Removing an
        // old version after the last rename is no longer part of the commit
        // (its record stays and the next run removes what is left).
        EXPECT_TRUE(steps < n || failed == FileStep::Remove) << n;
        EXPECT_NE(ReadFileBytes(folder.path() / "oto.ini"), oto);
        EXPECT_TRUE(fs::exists(folder.path() / "voice_wav.frq"));
        EXPECT_EQ(Inserted().size(), 2u);
        break;
    }
    EXPECT_GE(failures, 15);  // six steps per file and three renames at the least
}

TEST_F(InsertFixture, WithoutAPluginFileInsertIsAnError) {
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, "a"}});
    EXPECT_THROW(Insert(session, voicebank, prompts), std::runtime_error);
    session.Notes = std::make_unique<NoteList>(&voicebank);
    EXPECT_THROW(Insert(session, voicebank, prompts), std::runtime_error);
}

TEST_F(InsertFixture, WithoutARecordingNoNoteIsAdded) {
    LoadPluginFile("");
    Insert(session, voicebank, prompts);
    EXPECT_TRUE(Inserted().empty());
    EXPECT_EQ(session.Notes->Count(), 0);
}

TEST_F(InsertFixture, WithoutARecordingVoiceCorrectionAnnouncesNoVoiceSource) {
    // The project's voicebank is another folder, but no source was made.
    LoadPluginFile(PathToCp932(folder.path() / "bank"));
    session.CorrectionMode = true;
    Insert(session, voicebank, prompts);
    EXPECT_TRUE(Inserted().empty());
    EXPECT_TRUE(prompts.informs.empty());
    EXPECT_FALSE(fs::exists(folder.path() / "oto.ini"));

    // A recording that has gone from the disk since it was loaded makes no
    // source either.
    WriteFileAtomically(pluginFile, original);
    LoadRecording(900.0, [](int) { return 6000.0; });
    SetSegments({{0.0, std::string("か")}});
    fs::remove(wave);
    Insert(session, voicebank, prompts);
    EXPECT_EQ(Inserted().size(), 1u);
    EXPECT_TRUE(prompts.informs.empty());
    EXPECT_FALSE(fs::exists(folder.path() / "oto.ini"));
}

// A note's Mode2 values [cents], PBS first.
std::vector<double> BendValues(const Section& note) {
    std::vector<double> values;
    if (!note.Has("PBS")) return values;
    const std::string pbs = *note.Get("PBS");
    values.push_back(std::stod(pbs.substr(pbs.find(';') + 1)) * 10.0);
    std::stringstream list(*note.Get("PBY"));
    std::string item;
    while (std::getline(list, item, ',')) values.push_back(std::stod(item) * 10.0);
    return values;
}

TEST_F(InsertFixture, TheVoicingCheckChangesOnlyTheFramesItRejects) {
    LoadPluginFile("");
    // Frames 100..107 (about 580..626 ms, inside "a") chirp 29 semitones up.
    LoadRecording(1500.0, [](int frame) { return frame >= 100 && frame < 108 ? 8900.0 : 6000.0; });
    SetSegments({{0.0, "R"}, {300.0, "a"}, {900.0, "b"}});
    session.PitchRejected.assign(static_cast<std::size_t>(session.FrameCount()), 0);
    for (std::size_t i = 100; i < 108; ++i) session.PitchRejected[i] = 1;

    // Off: byte for byte what Insert writes without any check, chirp included.
    session.VoicingCheck = false;
    session.BuildPitchCents();
    Insert(session, voicebank, prompts);
    const std::string off = ReadFileBytes(pluginFile);
    std::vector<double> bends = BendValues(Inserted().at(1));
    ASSERT_FALSE(bends.empty());
    EXPECT_GT(*std::max_element(bends.begin(), bends.end()), 2000.0);
    WriteFileAtomically(pluginFile, original);
    const std::vector<std::uint8_t> rejected = session.PitchRejected;
    session.PitchRejected.clear();
    session.BuildPitchCents();
    Insert(session, voicebank, prompts);
    EXPECT_EQ(ReadFileBytes(pluginFile), off);

    // On: the chirp is bridged from the frames around it.
    WriteFileAtomically(pluginFile, original);
    session.PitchRejected = rejected;
    session.VoicingCheck = true;
    session.BuildPitchCents();
    Insert(session, voicebank, prompts);
    bends = BendValues(Inserted().at(1));
    ASSERT_FALSE(bends.empty());
    for (double value : bends) EXPECT_NEAR(value, 0.0, 1.0);

    // The edit state's pitch follows the check the same way.
    session.SaveEditStateTo(folder.path() / "on.mlq");
    session.VoicingCheck = false;
    session.SaveEditStateTo(folder.path() / "off.mlq");
    const std::string pitchOn = ReadFileBytes(folder.path() / "on.mlq");
    const std::string pitchOff = ReadFileBytes(folder.path() / "off.mlq");
    EXPECT_EQ(pitchOn.find(",8900,"), std::string::npos);
    EXPECT_NE(pitchOff.find(",8900,"), std::string::npos);
}

TEST(WholeTickStarts, ALongTakeNeverDriftsAtAnyTempo) {
    // 1,500 segments of uneven lengths, 100..400 ms with fractions.
    std::vector<Segment> segments;
    double startMs = 0.0;
    for (int i = 0; i < 1500; ++i) {
        const double lengthMs = 100.0 + 37.123 * (i % 7) + 13.77 * (i % 11) + 0.31 * (i % 3);
        segments.push_back(Segment{startMs, lengthMs, "a"});
        startMs += lengthMs;
    }
    for (double tempo : {120.0, 97.3}) {
        NoteList notes(nullptr);
        notes.Tempo = tempo;
        const std::vector<std::int64_t> ticks = WholeTickStarts(notes, segments);
        ASSERT_EQ(ticks.size(), segments.size() + 1);
        EXPECT_EQ(ticks.front(), 0);
        for (std::size_t i = 0; i < segments.size(); ++i) {
            EXPECT_LE(std::fabs(ticks[i] - segments[i].StartMs * tempo / 125.0), 0.5)
                << tempo << " / " << i;
            EXPECT_GT(ticks[i + 1], ticks[i]);
        }
        EXPECT_LE(std::fabs(ticks.back() - startMs * tempo / 125.0), 0.5) << tempo;
    }
}

TEST_F(InsertFixture, EveryLengthIsWholeAndTheLastNoteEndsWithTheRecording) {
    for (const char* tempo : {"120.00", "97.3"}) {
        LoadPluginFile("", tempo);
        LoadRecording(60000.0, [](int frame) { return 6000.0 + frame % 50; });
        std::vector<std::pair<double, std::string>> cuts;
        for (double ms = 0.0; ms < 59800.0; ms += 123.457 + std::fmod(ms, 97.0))
            cuts.emplace_back(ms, "a");
        SetSegments(cuts);
        Insert(session, voicebank, prompts);
        const std::vector<Section> notes = Inserted();
        ASSERT_EQ(notes.size(), cuts.size());
        double endTicks = 0.0;
        for (const Section& note : notes) {
            const double length = std::stod(*note.Get("Length"));
            ASSERT_EQ(length, std::floor(length)) << tempo;
            endTicks += length;
        }
        const double bpm = std::stod(tempo);
        EXPECT_LE(std::fabs(endTicks - 60000.0 * bpm / 125.0), 0.5) << tempo;
        // The pitch grid follows the written timing: each note starts where
        // the lengths before it end.
        const Note* last = session.Notes->GetNote(static_cast<int>(cuts.size()));
        ASSERT_NE(last, nullptr);
        EXPECT_NEAR(last->StartMs,
                    (endTicks - std::stod(*notes.back().Get("Length"))) * 125.0 / bpm, 1e-6);
    }
}

TEST_F(InsertFixture, ARecordingNameOtoIniCannotHoldIsRefusedBeforeAnythingIsWritten) {
    for (const char* name : {"a,b.wav", "a=b.wav"}) {
        LoadPluginFile("");
        waveName = name;
        LoadRecording(900.0, [](int) { return 6000.0; });
        SetSegments({{0.0, "R"}, {200.0, std::string("か")}});
        const std::string oto = JoinLinesCrLf({Sjis("other.wav=か,0,100,-300,60,20")});
        WriteFileAtomically(folder.path() / "oto.ini", oto);
        const fs::path table = folder.path() / (fs::path(name).stem().string() + "_wav.frq");
        WriteFileAtomically(table, "old table");
        session.CorrectionMode = true;
        session.Modified = true;
        try {
            Insert(session, voicebank, prompts);
            ADD_FAILURE() << name << " was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("音源を作成できません"), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(ReadFileBytes(pluginFile), original);
        EXPECT_EQ(ReadFileBytes(folder.path() / "oto.ini"), oto);
        EXPECT_EQ(ReadFileBytes(table), "old table");
        EXPECT_TRUE(prompts.questions.empty());  // not even the edit state was offered
        EXPECT_TRUE(prompts.informs.empty());
        EXPECT_EQ(session.Segments[1].Lyric, std::string("か"));
    }
}

// BuildPortamento on notes laid out by hand.
class PortamentoFixture : public InsertFixture {
  protected:
    Note* Add(double lengthTicks, const std::string& lyric, int noteNum) {
        NoteList& notes = *session.Notes;
        const int slot = notes.InsertNote(1e9);
        Note* note = notes.GetNote(slot);
        note->Tempo = 120.0;
        note->Length = lengthTicks;
        note->Lyric = lyric;
        note->NoteNum = noteNum;
        notes.Relink();
        notes.RebuildPitchGrids();
        return note;
    }
    void Finish() {
        session.Notes->Relink();
        session.Notes->RebuildPitchGrids();
    }
};

TEST_F(PortamentoFixture, ShortNotesAndRestsGetNone) {
    LoadPluginFile("");
    Note* shortNote = Add(8.0, "a", 60);  // ceil(8 / 5) + 2 = 4 grid points
    Note* rest = Add(480.0, "R", 60);
    Finish();
    ASSERT_LT(shortNote->PitchPoints.size(), 5u);
    for (PitchPoint& p : rest->PitchPoints) p.Value = 50.0;
    BuildPortamento(*session.Notes);
    EXPECT_EQ(shortNote->PitchBend.Count(), 0);
    EXPECT_EQ(rest->PitchBend.Count(), 0);
}

TEST_F(PortamentoFixture, ASamplingRangeUnder15MsGivesOnePointAtTheEnd) {
    LoadPluginFile("");
    Note* note = Add(12.0, "a", 60);  // 12.5 ms, ceil(12 / 5) + 2 = 5 grid points
    Finish();
    ASSERT_EQ(note->PitchPoints.size(), 5u);
    BuildPortamento(*session.Notes);
    ASSERT_EQ(note->PitchBend.Count(), 1);
    EXPECT_DOUBLE_EQ(note->PitchBend.Point(0).Time, 12.5);
    EXPECT_EQ(note->PitchBend.Point(0).Value, 0.0);
}

TEST_F(PortamentoFixture, TheCurveStartsOnThePreviousKeyAndEndsOnItsOwn) {
    LoadPluginFile("");
    Note* first = Add(480.0, "a", 62);
    Note* second = Add(480.0, "b", 60);
    Finish();
    // The second note's traced pitch: a straight rise from −100 to +100 cents.
    const std::size_t n = second->PitchPoints.size();
    for (std::size_t i = 0; i < n; ++i)
        second->PitchPoints[i].Value =
            -100.0 + 200.0 * static_cast<double>(i) / static_cast<double>(n - 1);
    BuildPortamento(*session.Notes);
    const Portamento& curve = second->PitchBend;
    ASSERT_GE(curve.Count(), 2);
    ASSERT_LE(curve.Count(), 50);
    // After the sung note at key 62 the curve starts 200 cents up, at the
    // start of the crossfade (no overlap here: the note's start).
    EXPECT_EQ(curve.Point(0).Value, 200.0);
    EXPECT_DOUBLE_EQ(curve.Point(0).Time, 0.0);
    // It ends on its own key at the note's end.
    EXPECT_EQ(curve.Point(curve.Count() - 1).Value, 0.0);
    EXPECT_DOUBLE_EQ(curve.Point(curve.Count() - 1).Time, 500.0);
    for (const PortamentoPoint& point : curve.Points()) EXPECT_EQ(point.Shape, BendShape::Straight);
    // The first note, flat at 0, keeps its ends on its own key.
    ASSERT_GE(first->PitchBend.Count(), 2);
    EXPECT_EQ(first->PitchBend.Point(0).Value, 0.0);
}

}  // namespace
}  // namespace melodrift
