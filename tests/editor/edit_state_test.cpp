#include "editor/EditState.h"

#include "Recordings.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "text/CodePage.h"
#include "text/Ini.h"
#include "text/Text.h"

#include <gtest/gtest.h>

namespace melodrift {
namespace {

using testing::HarmonicTone;
using testing::ScriptedPrompts;
using testing::WavBytes;
using testing::WriteBytes;

TEST(StoredPitch, CentsOfTheFileAndBack) {
    EXPECT_EQ(StoredPitchCents(440.0f), 6900);
    EXPECT_EQ(StoredPitchCents(220.0f), 5700);
    EXPECT_EQ(StoredPitchCents(0.0f), 0);
    EXPECT_EQ(StoredPitchCents(-3.0f), 0);
    // The whole part, toward zero: 6000.9 cents is stored as 6000.
    EXPECT_EQ(StoredPitchCents(static_cast<float>(CentsToHz(6000.9))), 6000);
    EXPECT_EQ(StoredPitchHz(6900), 440.0f);
    EXPECT_EQ(StoredPitchHz(0), 0.0f);
    EXPECT_EQ(StoredPitchHz(-100), 0.0f);
    EXPECT_EQ(StoredPitchHz(2000000000), 0.0f);  // beyond any single-precision pitch
    // Every stored value comes back as itself.
    for (std::int64_t v = 3000; v <= 9000; ++v) ASSERT_EQ(StoredPitchCents(StoredPitchHz(v)), v);
}

TEST(StoredPitch, TwoHundredFiftyFramesMakeThreeKeys) {
    std::vector<AnalysisFrame> frames(250);
    for (auto& f : frames) f.TargetF0 = 440.0f;
    frames[0].TargetF0 = 0.0f;
    const auto keys = PitchKeyValues(frames);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(SplitText(keys[0], ",").size(), 100u);
    EXPECT_EQ(SplitText(keys[1], ",").size(), 100u);
    EXPECT_EQ(SplitText(keys[2], ",").size(), 50u);
    EXPECT_EQ(keys[0].substr(0, 10), "0,6900,690");
    EXPECT_EQ(keys[2].back(), '0');
    EXPECT_EQ(keys[2].find(' '), std::string::npos);
    EXPECT_TRUE(PitchKeyValues({}).empty());
}

class EditStateFile : public ::testing::Test {
  protected:
    testing::TempFolder folder;
    ScriptedPrompts prompts;
    std::filesystem::path wavePath;

    void SetUp() override {
        wavePath = folder / "voice.wav";
        WriteBytes(wavePath, WavBytes(HarmonicTone(220.0, 250 * 256 - 300)));
    }

    // A loaded session cut at 200 and 400.5 ms with lyrics, frame 3 at 440 Hz.
    void Prepare(EditorSession& s) {
        ASSERT_EQ(s.LoadRecording(wavePath, prompts), LoadOutcome::Loaded);
        s.AddCut("R", 200.0);
        s.AddCut("R", 400.5);
        s.Segments[1].Lyric = "か";
        s.Segments[2].Lyric = "ソ";  // 83 5C in the file: a trail byte that is a backslash
        s.Analyser->Frames[3].TargetF0 = 440.0f;
        s.Analyser->Frames[4].TargetF0 = 0.0f;
    }

    std::string WriteState(const std::string& name, const std::string& text) {
        WriteBytes(folder / name, text);
        return name;
    }

    std::string Header(const std::string& version = "2.00",
                       const std::string& count = "MojiCount=1\r\n") {
        return "[Melodrift]\r\nMelodrift=1\r\nVersion=" + version +
               "\r\nWaveFile=" + PathToCp932(wavePath) + "\r\n" + count;
    }
};

TEST_F(EditStateFile, SavedFileHasTheWindowsProfileLayout) {
    EditorSession s;
    Prepare(s);
    ASSERT_EQ(s.FrameCount(), 250);
    const auto path = folder / "state.mlq";
    s.SaveEditStateTo(path);
    EXPECT_FALSE(s.Modified);
    const std::string bytes = ReadFileBytes(path);
    const std::string head =
        "[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\nWaveFile=" + PathToCp932(wavePath) +
        "\r\nMojiCount=3\r\n";
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    EXPECT_NE(bytes.find("[0]\r\nTime=0\r\nLength=200\r\nLyric=R\r\n"), std::string::npos)
        << bytes.substr(0, 300);
    EXPECT_NE(bytes.find("[1]\r\nTime=200\r\nLength=200.5\r\nLyric=\x82\xA9\r\n"),
              std::string::npos);
    EXPECT_NE(bytes.find("[2]\r\nTime=400.5\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Lyric=\x83\x5C\r\n"), std::string::npos);
    const IniFile ini = IniFile::Parse(bytes);
    const auto p0 = SplitText(ini.Read("Pitchs", "Pitchs0", ""), ",");
    ASSERT_EQ(p0.size(), 100u);
    EXPECT_EQ(p0[3], "6900");
    EXPECT_EQ(p0[4], "0");
    EXPECT_EQ(SplitText(ini.Read("Pitchs", "Pitchs1", ""), ",").size(), 100u);
    EXPECT_EQ(SplitText(ini.Read("Pitchs", "Pitchs2", ""), ",").size(), 50u);
    EXPECT_FALSE(ini.Get("Pitchs", "Pitchs3").has_value());
}

TEST_F(EditStateFile, SavingOverAnOlderFileKeepsWhatItDoesNotWrite) {
    const auto path = folder / "old.mlq";
    WriteBytes(path,
               "[Foreign]\r\nkeep=me\r\n[Melodrift]\r\nMojiCount=9\r\n[8]\r\nTime=5000\r\n"
               "[Pitchs]\r\nPitchs7=1,2,3\r\n");
    EditorSession s;
    Prepare(s);
    s.SaveEditStateTo(path);
    const IniFile ini = IniFile::Parse(ReadFileBytes(path));
    EXPECT_EQ(ini.Get("Foreign", "keep"), "me");
    EXPECT_EQ(ini.Get("Melodrift", "MojiCount"), "3");
    EXPECT_EQ(ini.Get("8", "Time"), "5000");
    EXPECT_EQ(ini.Get("Pitchs", "Pitchs7"), "1,2,3");
    // Loading reads only SegmentCount segments and only the recording's frames.
    EditorSession t;
    ASSERT_EQ(t.LoadEditStateFrom(path, prompts), EditStateOutcome::Loaded);
    EXPECT_EQ(t.Segments.size(), 3u);
}

TEST_F(EditStateFile, LoadRestoresSegmentsLyricsAndPitch) {
    EditorSession s;
    Prepare(s);
    const auto path = folder / "state.mlq";
    s.SaveEditStateTo(path);

    EditorSession t;
    ASSERT_EQ(t.LoadEditStateFrom(path, prompts), EditStateOutcome::Loaded);
    EXPECT_TRUE(prompts.informs.empty());
    EXPECT_FALSE(t.Modified);
    EXPECT_EQ(t.WaveFileName, wavePath);
    ASSERT_EQ(t.Segments.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(t.Segments[i].StartMs, s.Segments[i].StartMs);
        EXPECT_EQ(t.Segments[i].LengthMs, s.Segments[i].LengthMs);
        EXPECT_EQ(t.Segments[i].Lyric, s.Segments[i].Lyric);
    }
    EXPECT_EQ(t.Analyser->Frames[3].TargetF0, 440.0f);
    EXPECT_EQ(t.Analyser->Frames[4].TargetF0, 0.0f);
    EXPECT_EQ(t.PitchCents[3], 6900);
    // Saving the loaded state again writes the same pitch keys.
    const auto again = folder / "again.mlq";
    t.SaveEditStateTo(again);
    const IniFile a = IniFile::Parse(ReadFileBytes(path));
    const IniFile b = IniFile::Parse(ReadFileBytes(again));
    for (const char* key : {"Pitchs0", "Pitchs1", "Pitchs2"})
        EXPECT_EQ(a.Get("Pitchs", key), b.Get("Pitchs", key)) << key;
}

TEST_F(EditStateFile, RefusedFilesChangeNothing) {
    EditorSession s;
    Prepare(s);
    s.Modified = true;
    const auto segmentsBefore = s.Segments.size();
    struct Case {
        std::string text;
        std::string message;
        EditStateOutcome outcome;
    };
    const Case cases[] = {
        {"[Melodrift]\r\nVersion=2.00\r\n", "メロドリフトの編集ファイルではありません",
         EditStateOutcome::NotEditState},
        {Header("2.0"), "対応していないバージョンのファイルです", EditStateOutcome::WrongVersion},
        {"[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\nWaveFile=" +
             PathToCp932(folder / "gone.wav") + "\r\nMojiCount=1\r\n",
         "Waveファイルが存在しません", EditStateOutcome::NoWaveFile},
        {Header("2.00", ""), "歌詞データがありません", EditStateOutcome::NoSegments},
        {Header("2.00", "MojiCount=abc\r\n"), "歌詞データがありません",
         EditStateOutcome::NoSegments},
        {Header("2.00", "MojiCount=0\r\n"), "歌詞データがありません", EditStateOutcome::NoSegments},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        prompts.informs.clear();
        const auto name = WriteState("bad" + std::to_string(n++) + ".mlq", c.text);
        EXPECT_EQ(s.LoadEditStateFrom(folder / name, prompts), c.outcome);
        ASSERT_EQ(prompts.informs.size(), 1u);
        EXPECT_EQ(prompts.informs[0], c.message);
        EXPECT_EQ(s.Segments.size(), segmentsBefore);
        EXPECT_EQ(s.Analyser->Frames[3].TargetF0, 440.0f);
        EXPECT_TRUE(s.Modified);
    }
}

TEST_F(EditStateFile, ARejectedRecordingLeavesTheSessionAsItWas) {
    EditorSession s;
    Prepare(s);
    const auto eightBit = folder / "eight.wav";
    WriteBytes(eightBit, WavBytes(HarmonicTone(220.0, 4000), 1, 44100, 8));
    WriteState("eight.mlq",
               "[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\nWaveFile=" + PathToCp932(eightBit) +
                   "\r\nMojiCount=2\r\n[0]\r\nTime=0\r\n[1]\r\nTime=50\r\n");
    EXPECT_EQ(s.LoadEditStateFrom(folder / "eight.mlq", prompts),
              EditStateOutcome::RecordingRejected);
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_EQ(prompts.errors[0],
              "対応していないフォーマットです。\nこのファイルは 44100 Hz・8 "
              "ビット・モノラルです。44100 Hz・16 ビットの WAVE ファイルが必要です。");
    EXPECT_EQ(s.WaveFileName, wavePath);
    EXPECT_EQ(s.Segments.size(), 3u);
    EXPECT_EQ(s.Segments[1].Lyric, "か");
}

TEST_F(EditStateFile, AHandEditedFirstStartIsMovedToTheStartOfTheRecording) {
    // Out of order and starting late: 500 (b), 120 (a), 800 (c).
    const std::string name =
        WriteState("late.mlq", Header("2.00", "MojiCount=3\r\n") +
                                   "[0]\r\nTime=500\r\nLyric=b\r\n[1]\r\nTime=120\r\n"
                                   "Lyric=a\r\n[2]\r\nTime=800\r\nLyric=c\r\n");
    EditorSession s;
    ASSERT_EQ(s.LoadEditStateFrom(folder / name, prompts), EditStateOutcome::Loaded);
    ASSERT_EQ(s.Segments.size(), 3u);
    EXPECT_EQ(s.Segments[0].StartMs, 0.0);
    EXPECT_EQ(s.Segments[0].Lyric, "a");
    EXPECT_EQ(s.Segments[0].LengthMs, 500.0);
    EXPECT_EQ(s.Segments[1].StartMs, 500.0);
    EXPECT_EQ(s.Segments[2].StartMs, 800.0);
}

TEST_F(EditStateFile, APathShiftJisCannotHoldIsSavedInUtf8AndReadBack) {
    EXPECT_TRUE(EditStateCanHoldPath(wavePath));
    const auto cafe = folder.path() / Utf8Path("café 你");
    EXPECT_TRUE(EditStateCanHoldPath(cafe / "voice.wav"));
#ifndef _WIN32
    EXPECT_FALSE(
        EditStateCanHoldPath(folder.path() / std::string("\xE9t\xE9.wav")));  // Latin-1 bytes
#endif
    std::filesystem::create_directories(cafe);
    std::filesystem::copy_file(wavePath, cafe / "voice.wav");
    EditorSession s;
    ASSERT_EQ(s.LoadRecording(cafe / "voice.wav", prompts), LoadOutcome::Loaded);
    s.AddCut("R", 200.0);
    ASSERT_FALSE(s.Segments.empty());
    s.Segments[0].Lyric = "〜";  // Shift-JIS would read it back as another character
    const auto path = folder / "state.mlq";
    s.SaveEditStateTo(path);
    const std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF[Melodrift]\r\n"));
    EXPECT_NE(bytes.find("WaveFile=" + PathToUtf8(cafe / "voice.wav") + "\r\n"), std::string::npos);

    EditorSession loaded;
    ASSERT_EQ(loaded.LoadEditStateFrom(path, prompts), EditStateOutcome::Loaded);
    EXPECT_EQ(loaded.WaveFileName, cafe / "voice.wav");
    EXPECT_EQ(loaded.Segments[0].Lyric, "〜");
}

TEST_F(EditStateFile, AnOlderFileNamingTheRecordingRelativeToItselfStillLoads) {
    const std::string name = WriteState("relative.mlq",
                                        "[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\n"
                                        "WaveFile=voice.wav\r\nMojiCount=1\r\n");
    EditorSession s;
    ASSERT_EQ(s.LoadEditStateFrom(folder / name, prompts), EditStateOutcome::Loaded);
    EXPECT_TRUE(s.WaveFileName.is_absolute());
    EXPECT_EQ(s.WaveFileName, wavePath);
}

TEST_F(EditStateFile, GarbageNumbersFallBackToTheirDefaults) {
    const std::string text = Header("2.00", "MojiCount=4\r\n") +
                             "[0]\r\nTime=abc\r\nLength=zz\r\n"
                             "[1]\r\nTime = 300 \r\nLyric=\x82\xA9\r\n"
                             "[2]\r\nTime=1e999\r\nLength=-.\r\nLyric=x\r\n"
                             "[3]\r\nTime=150\r\n"
                             "[Pitchs]\r\nPitchs0=6900,zz,0,-5, 6900 ,1e3\r\n";
    WriteState("garbage.mlq", text);
    EditorSession s;
    ASSERT_EQ(s.LoadEditStateFrom(folder / "garbage.mlq", prompts), EditStateOutcome::Loaded);
    // Starts: 0 (not a number), 300, 0 (not finite), 150 — put back in time
    // order, the second 0 moved one cut distance on.
    ASSERT_EQ(s.Segments.size(), 4u);
    EXPECT_EQ(s.Segments[0].StartMs, 0.0);
    EXPECT_EQ(s.Segments[1].StartMs, 30.0);
    EXPECT_EQ(s.Segments[1].Lyric, "x");
    EXPECT_EQ(s.Segments[2].StartMs, 150.0);
    EXPECT_EQ(s.Segments[2].Lyric, "R");  // no Lyric key
    EXPECT_EQ(s.Segments[3].StartMs, 300.0);
    EXPECT_EQ(s.Segments[3].Lyric, "か");
    EXPECT_DOUBLE_EQ(s.Segments[3].LengthMs, s.DurationMs() - 300.0);
    const auto& f = s.Analyser->Frames;
    EXPECT_EQ(f[0].TargetF0, 440.0f);
    EXPECT_EQ(f[1].TargetF0, 0.0f);
    EXPECT_EQ(f[2].TargetF0, 0.0f);
    EXPECT_EQ(f[3].TargetF0, 0.0f);
    EXPECT_EQ(f[4].TargetF0, 440.0f);  // blanks around a number are tolerated
    EXPECT_EQ(f[5].TargetF0, 0.0f);    // "1e3" is no whole number
    EXPECT_NE(f[6].TargetF0, 0.0f);    // not stored: the fresh analysis stays
}

// Out of order, lengths of 0 and less, an overlap, two starts at one time,
// one past the end of the 1444 ms recording: mended so that every segment
// is at least a cut distance long, and the message says what was mended.
TEST_F(EditStateFile, AHandEditedStateIsMendedAndSaysWhat) {
    WriteState("edited.mlq", Header("2.00", "MojiCount=7\r\n") +
                                 "[0]\r\nTime=500\r\nLength=-20\r\nLyric=b\r\n"
                                 "[1]\r\nTime=100\r\nLength=0\r\nLyric=a\r\n"
                                 "[2]\r\nTime=500\r\nLength=100\r\nLyric=c\r\n"
                                 "[3]\r\nTime=520\r\nLength=800\r\nLyric=d\r\n"
                                 "[4]\r\nTime=5000\r\nLength=100\r\nLyric=e\r\n"
                                 "[5]\r\nTime=1400\r\nLength=3600\r\nLyric=f\r\n");
    EditorSession s;
    ASSERT_EQ(s.LoadEditStateFrom(folder / "edited.mlq", prompts), EditStateOutcome::Loaded);
    const std::pair<double, std::string> expected[] = {
        {0.0, "a"}, {500.0, "b"}, {530.0, "c"}, {560.0, "d"}, {1400.0, "f"}};
    ASSERT_EQ(s.Segments.size(), std::size(expected));
    for (std::size_t i = 0; i < s.Segments.size(); ++i) {
        EXPECT_EQ(s.Segments[i].StartMs, expected[i].first) << i;
        EXPECT_EQ(s.Segments[i].Lyric, expected[i].second) << i;
        EXPECT_GE(s.Segments[i].LengthMs, s.MinCutGap) << i;
    }
    EXPECT_TRUE(s.Modified);
    ASSERT_EQ(prompts.informs.size(), 1u);
    const std::string& told = prompts.informs[0];
    for (const char* line :
         {"時刻の順に並んでいない区間を並べ直しました", "最初の区間を録音の先頭から始めました",
          "範囲外の区間 1 個", "長さが 0 以下の区間 2 個", "重なっていた区間 1 個",
          "すき間があった区間 1 個", "区切り 2 個を後ろにずらしました",
          "録音の終わりを越えていた最後の区間",
          "録音に収まらない区間 1 個を削除しました（歌詞: e）",
          "MojiCount が示す区間のうち 1 個がファイルにない"})
        EXPECT_NE(told.find(line), std::string::npos) << line << "\n" << told;
    // Saved, the mended state reads back without a word.
    s.SaveEditStateTo(folder / "mended.mlq");
    prompts.informs.clear();
    EditorSession again;
    ASSERT_EQ(again.LoadEditStateFrom(folder / "mended.mlq", prompts), EditStateOutcome::Loaded);
    EXPECT_TRUE(prompts.informs.empty()) << prompts.informs[0];
    EXPECT_EQ(again.Segments.size(), s.Segments.size());
}

TEST_F(EditStateFile, AHugeSegmentCountIsCutToWhatTheRecordingCanHold) {
    WriteState("huge.mlq",
               Header("2.00", "MojiCount=2000000000\r\n") + "[0]\r\nTime=0\r\n[1]\r\nTime=100\r\n");
    EditorSession s;
    ASSERT_EQ(s.LoadEditStateFrom(folder / "huge.mlq", prompts), EditStateOutcome::Loaded);
    EXPECT_LE(s.Segments.size(), static_cast<std::size_t>(s.DurationMs() / 30.0) + 1);
    EXPECT_GE(s.Segments.size(), 2u);

    // A file larger than any edit state is refused before it is read.
    std::filesystem::resize_file(folder / "huge.mlq", kMaxEditStateBytes + 1);
    prompts.informs.clear();
    EditorSession refused;
    EXPECT_EQ(refused.LoadEditStateFrom(folder / "huge.mlq", prompts), EditStateOutcome::TooLarge);
    ASSERT_EQ(prompts.informs.size(), 1u);
    EXPECT_NE(prompts.informs[0].find("編集ファイルが大きすぎるため、読み込めません（8 MB。"),
              std::string::npos)
        << prompts.informs[0];
    EXPECT_FALSE(refused.HasRecording());
}

TEST_F(EditStateFile, ButtonsAskWhatTheyMust) {
    EditorSession s;
    // Nothing loaded: saving has nothing to save; loading asks no question.
    EXPECT_FALSE(s.SaveEditState(prompts));
    ASSERT_EQ(prompts.informs.size(), 1u);
    EXPECT_EQ(prompts.informs[0], "保存するデータがありません");
    EXPECT_EQ(s.LoadEditState(prompts), EditStateOutcome::Cancelled);  // dialog cancelled
    EXPECT_TRUE(prompts.questions.empty());

    Prepare(s);
    const auto path = folder / "voice.mlq";
    prompts.files = {path};
    ASSERT_TRUE(s.SaveEditState(prompts));
    EXPECT_EQ(prompts.lastSuggested, path);  // preset from the recording's name
    EXPECT_TRUE(std::filesystem::exists(path));

    // Saving over it asks; No writes nothing.
    s.Segments[1].Lyric = "changed";
    s.Modified = true;
    prompts.files = {path};
    prompts.answers = {false};
    EXPECT_FALSE(s.SaveEditState(prompts));
    EXPECT_EQ(prompts.questions.back(), "上書きしますか?");
    EXPECT_TRUE(s.Modified);
    EXPECT_EQ(IniFile::Parse(ReadFileBytes(path)).Get("1", "Lyric"), "\x82\xA9");

    // Loading over a loaded recording asks first; No keeps everything.
    prompts.answers = {false};
    EXPECT_EQ(s.LoadEditState(prompts), EditStateOutcome::Cancelled);
    EXPECT_EQ(prompts.questions.back(), "現在の編集状態を破棄してもよろしいですか?");
    EXPECT_EQ(s.Segments[1].Lyric, "changed");
    prompts.answers = {true};
    prompts.files = {path};
    EXPECT_EQ(s.LoadEditState(prompts), EditStateOutcome::Loaded);
    EXPECT_EQ(s.Segments[1].Lyric, "か");
    EXPECT_FALSE(s.Modified);
}

}  // namespace
}  // namespace melodrift
